// CUSBPrinterInfo: one USB printer as the device set-up interface lists it,
// a name (the device's location information) and a serial number (cut out
// of its device interface path, upper-cased). A small value-like record;
// the process-wide list (USBPrinterList.h) owns the records it holds, and
// callers may also make records of their own on the stack.
#pragma once

#include "framework/String.h"

class CUSBPrinterInfo {
public:
    CUSBPrinterInfo(CString strName, CString strSerialNumber);
    virtual ~CUSBPrinterInfo();

    virtual CString GetName() const;
    virtual CString GetSerialNumber() const;
    // "name (serial)".
    virtual CString GetDisplayName() const;

protected:
    CString m_strName;
    CString m_strSerialNumber;
};

// The serial number inside a device interface path such as
// \\?\usb#vid_0a5f&pid_0001#abc123#{28d78fad-...}: the segment between the
// last two "#", upper-cased. A path without "#" gives the empty text; a path
// with exactly one gives the text before it.
CString SerialNumberFromDevicePath(const CString& strDevicePath);
