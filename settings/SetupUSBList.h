// The USB printers the setup dialog offers, taken from the process-wide USB
// printer list. Threads: the user interface thread only.
#pragma once

#include "framework/String.h"

#include <vector>

// The display texts of the listed printers, in list order.
std::vector<CString> SetupListUSBPrinters();
// The name and serial number of the printer shown with exactly this text;
// FALSE (and nothing written) when no listed printer has it.
BOOL SetupFindUSBPrinter(const CString& strDisplayName, CString& strName, CString& strSerial);
// The text a printer with this name and serial number is shown with.
CString SetupUSBDisplayName(const CString& strName, const CString& strSerial);
