#include "printers/USBPrinterList.h"

#include "framework/UniqueHandle.h"
#include "printers/USBPrinterInterfaces.h"
#include "printers/UsbPrinterIo.h"

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

// How long the device may take to give its ID.
const DWORD kDeviceIdWaitMs = 1000;

// The maker and model the device's 1284 ID names ("Acme L-200"), or empty
// when the device cannot be opened or gives none.
CString NameFromDeviceId(const char* pszDevicePath) {
    UniqueFile device(CreateFileA(pszDevicePath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    if (!device)
        return CString();
    return CString(DeviceIdName(ReadDeviceId(device.get(), kDeviceIdWaitMs)).c_str());
}
} // namespace

CPtrArray* EnumerateUSBPrinters() {
    auto* pList = new CPtrArray;
    g_pUSBPrinterList = pList;
    ForEachUsbPrinterInterface(
        [pList](HDEVINFO hSet, SP_DEVINFO_DATA& device, const char* pszDevicePath) {
            CString strName;
            if (!ReadLocation(hSet, device, strName))
                return true;
            // A device without a location says who it is by its ID.
            if (strName.IsEmpty())
                strName = NameFromDeviceId(pszDevicePath);
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
