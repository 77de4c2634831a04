#include "settings/SetupUSBList.h"

#include "printers/USBPrinterList.h"

std::vector<CString> SetupListUSBPrinters() {
    std::vector<CString> names;
    CPtrArray* pList = GetUSBPrinterList();
    for (int i = 0; pList && i < pList->GetSize(); ++i) {
        if (auto* pInfo = static_cast<CUSBPrinterInfo*>(pList->GetAt(i)))
            names.push_back(pInfo->GetDisplayName());
    }
    return names;
}

BOOL SetupFindUSBPrinter(const CString& strDisplayName, CString& strName, CString& strSerial) {
    CUSBPrinterInfo* pInfo = FindUSBPrinter(strDisplayName);
    if (!pInfo)
        return FALSE;
    strName = pInfo->GetName();
    strSerial = pInfo->GetSerialNumber();
    return TRUE;
}

CString SetupUSBDisplayName(const CString& strName, const CString& strSerial) {
    return CUSBPrinterInfo(strName, strSerial).GetDisplayName();
}
