#include "printers/USBPrinterInterfaces.h"

#include "framework/UniqueHandle.h"

#include <vector>

namespace {
// {28D78FAD-5A12-11D1-AE5B-0000F803A8C2}
const GUID kUSBPrintInterface = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

// The device path of one interface (and its device), or false when its
// detail cannot be read.
bool ReadDevicePath(HDEVINFO hSet, SP_DEVICE_INTERFACE_DATA& iface, SP_DEVINFO_DATA& device,
                    std::vector<char>& buffer) {
    DWORD cbRequired = 0;
    SetupDiGetDeviceInterfaceDetailA(hSet, &iface, nullptr, 0, &cbRequired, nullptr);
    // A size that cannot even hold the record's fixed part would make the
    // second call write past the buffer: leave such an interface out.
    if (cbRequired < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return false;
    // One zero byte more than asked keeps the path terminated whatever
    // comes back.
    buffer.assign(cbRequired + 1, '\0');
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    device = SP_DEVINFO_DATA();
    device.cbSize = sizeof(SP_DEVINFO_DATA);
    return SetupDiGetDeviceInterfaceDetailA(hSet, &iface, detail, cbRequired, nullptr, &device) !=
           FALSE;
}
} // namespace

void ForEachUsbPrinterInterface(const UsbPrinterInterfaceVisitor& visit) {
    UniqueDevInfo hSet(SetupDiGetClassDevsA(&kUSBPrintInterface, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!hSet)
        return;
    std::vector<char> buffer;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA iface = {};
        iface.cbSize = sizeof(iface);
        if (!SetupDiEnumDeviceInterfaces(hSet.get(), nullptr, &kUSBPrintInterface, index, &iface))
            break;
        SP_DEVINFO_DATA device;
        if (!ReadDevicePath(hSet.get(), iface, device, buffer))
            continue;
        const auto* detail =
            reinterpret_cast<const SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        if (!visit(hSet.get(), device, detail->DevicePath))
            break;
    }
}
