#include "printers/USBPrinterList.h"

#include "printers/USBPrinterInterfaces.h"

#include <cstring>

namespace {
const DWORD kLocationBufferSize = 2048;

CPtrArray* g_pUSBPrinterList = nullptr;

bool ReadLocation(HDEVINFO hSet, SP_DEVINFO_DATA& device, CString& strName) {
    char buffer[kLocationBufferSize];
    buffer[0] = '\0';
    if (!SetupDiGetDeviceRegistryPropertyA(hSet, &device, SPDRP_LOCATION_INFORMATION, nullptr,
                                           reinterpret_cast<BYTE*>(buffer), sizeof(buffer),
                                           nullptr))
        return false;
    strName = CString(buffer, static_cast<int>(strnlen(buffer, sizeof(buffer))));
    return true;
}
} // namespace

CPtrArray* EnumerateUSBPrinters() {
    auto* pList = new CPtrArray;
    g_pUSBPrinterList = pList;
    ForEachUsbPrinterInterface(
        [pList](HDEVINFO hSet, SP_DEVINFO_DATA& device, const char* pszDevicePath) {
            CString strName;
            if (ReadLocation(hSet, device, strName))
                pList->Add(new CUSBPrinterInfo(strName, SerialNumberFromDevicePath(pszDevicePath)));
            return true;
        });
    return pList;
}

CPtrArray* GetUSBPrinterList() {
    if (!g_pUSBPrinterList)
        EnumerateUSBPrinters();
    return g_pUSBPrinterList;
}

CUSBPrinterInfo* FindUSBPrinter(const char* pszDisplayName) {
    CPtrArray* pList = GetUSBPrinterList();
    const CString wanted(pszDisplayName);
    for (int i = 0; i < pList->GetSize(); ++i) {
        auto* pInfo = static_cast<CUSBPrinterInfo*>(pList->GetAt(i));
        if (pInfo && pInfo->GetDisplayName() == wanted)
            return pInfo;
    }
    return nullptr;
}

void ResetUSBPrinterListForTesting() {
    CPtrArray* pList = g_pUSBPrinterList;
    g_pUSBPrinterList = nullptr;
    if (!pList)
        return;
    for (int i = 0; i < pList->GetSize(); ++i)
        delete static_cast<CUSBPrinterInfo*>(pList->GetAt(i));
    delete pList;
}
