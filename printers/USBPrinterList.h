// The process-wide list of attached USB printers (device interface class
// GUID_DEVINTERFACE_USBPRINT), as CUSBPrinterInfo records in the order the
// device set-up interface enumerates them. A record's name is the device's
// location information or, where that is empty, the maker and model of the
// device's IEEE 1284 ID (read once per enumeration, UsbPrinterIo.h).
//
// The list is built on first use and then kept, with its records, until the
// process ends: printers attached later are seen only after a restart. It
// owns its records; callers never delete them.
// Threads: the user interface thread only; no locks.
#pragma once

#include "framework/PtrArray.h"
#include "printers/USBPrinterInfo.h"

// The list (never null); enumerates on the first call only.
CPtrArray* GetUSBPrinterList();
// The first record whose display name equals the text exactly (case
// sensitive), or null. Enumerates first if the list does not exist yet.
CUSBPrinterInfo* FindUSBPrinter(const char* pszDisplayName);
// Creates and fills the list. Reached only through the two above.
CPtrArray* EnumerateUSBPrinters();

// Tests only: drops the list and its records, so the next use enumerates
// again. The program never calls it.
void ResetUSBPrinterListForTesting();
