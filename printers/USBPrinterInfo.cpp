#include "printers/USBPrinterInfo.h"

CUSBPrinterInfo::CUSBPrinterInfo(CString strName, CString strSerialNumber)
    : m_strName(strName), m_strSerialNumber(strSerialNumber) {}

CUSBPrinterInfo::~CUSBPrinterInfo() = default;

CString CUSBPrinterInfo::GetName() const {
    return m_strName;
}

CString CUSBPrinterInfo::GetSerialNumber() const {
    return m_strSerialNumber;
}

CString CUSBPrinterInfo::GetDisplayName() const {
    CString text;
    text.Format("%s (%s)", m_strName.GetString(), m_strSerialNumber.GetString());
    return text;
}

CString SerialNumberFromDevicePath(const CString& strDevicePath) {
    const int last = strDevicePath.ReverseFind('#');
    if (last < 0)
        return CString();
    const CString head = strDevicePath.Left(last);
    const int previous = head.ReverseFind('#');
    CString serial = previous < 0 ? head : head.Mid(previous + 1);
    serial.MakeUpper();
    return serial;
}
