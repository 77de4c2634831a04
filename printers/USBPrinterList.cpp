#include "printers/USBPrinterList.h"

#include "framework/UniqueHandle.h"

#include <windows.h>
#include <setupapi.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {
// {28D78FAD-5A12-11D1-AE5B-0000F803A8C2}
const GUID kUSBPrintInterface = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

const DWORD kLocationBufferSize = 2048;

CPtrArray* g_pUSBPrinterList = nullptr;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// The device path of one interface, or false when its detail cannot be read.
bool ReadDevicePath(HDEVINFO hSet, SP_DEVICE_INTERFACE_DATA& iface, SP_DEVINFO_DATA& device,
                    CString& strPath) {
    DWORD cbRequired = 0;
    SetupDiGetDeviceInterfaceDetailA(hSet, &iface, nullptr, 0, &cbRequired, nullptr);
    // A size that cannot even hold the record's fixed part would make the
    // second call write past the buffer: leave such an interface out.
    if (cbRequired < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return false;
    std::unique_ptr<void, FreeDeleter> buffer(std::calloc(1, cbRequired + 1));
    if (!buffer)
        return false;
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.get());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    device.cbSize = sizeof(SP_DEVINFO_DATA);
    if (!SetupDiGetDeviceInterfaceDetailA(hSet, &iface, detail, cbRequired, nullptr, &device))
        return false;
    // The extra zero byte above keeps the path terminated whatever came back.
    strPath = detail->DevicePath;
    return true;
}

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

    UniqueDevInfo hSet(SetupDiGetClassDevsA(&kUSBPrintInterface, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!hSet)
        return pList;

    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA iface = {};
        iface.cbSize = sizeof(iface);
        if (!SetupDiEnumDeviceInterfaces(hSet.get(), nullptr, &kUSBPrintInterface, index, &iface))
            break;
        SP_DEVINFO_DATA device = {};
        CString strPath;
        if (!ReadDevicePath(hSet.get(), iface, device, strPath))
            continue;
        CString strName;
        if (!ReadLocation(hSet.get(), device, strName))
            continue;
        pList->Add(new CUSBPrinterInfo(strName, SerialNumberFromDevicePath(strPath)));
    }
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
