// The one walk over the attached USB printers' device interfaces (class
// GUID_DEVINTERFACE_USBPRINT, present ones only), in the order the device
// set-up interface enumerates them. Used by USB discovery (the printer
// list) and by the pipe component's USB transport; built into the small
// library morvane_usbprinters that both link (with setupapi).
// Threads: any; every walk opens and destroys its own device set, and
// shares nothing with another.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <functional>

// Calls visit once per interface whose device path could be read, with the
// walk's device set, the device the interface belongs to and the path
// (valid during the call only); an interface whose detail cannot be read
// is left out. The walk stops early when visit returns false. Nothing is
// visited when no device set can be made.
using UsbPrinterInterfaceVisitor =
    std::function<bool(HDEVINFO hSet, SP_DEVINFO_DATA& device, const char* pszDevicePath)>;
void ForEachUsbPrinterInterface(const UsbPrinterInterfaceVisitor& visit);
