// USB printer device interfaces made in the test prefix, for the code that
// enumerates GUID_DEVINTERFACE_USBPRINT: each device is registered with an
// optional location information text, gets one interface of that class and
// is marked linked, so it is listed as present. The destructor removes what
// it made; the constructor removes what an earlier run left behind.
// Tests using this share the device set: give them RESOURCE_LOCK usbdevices.
// Link setupapi and advapi32.
#pragma once

#include <windows.h>
#include <setupapi.h>

#include <string>
#include <vector>

inline const GUID kUsbPrintInterfaceClass = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

class UsbPrinterDevices {
public:
    // Every instance id a test may use, so leftovers can be removed.
    static std::vector<std::string> KnownIds() {
        return {"USB\\VID_0A5F&PID_0001\\ABC123", "USB\\VID_04B8&PID_0202\\X12Y",
                "USB\\VID_03F0&PID_0517\\NOLOC9", "USB\\VID_03F0&PID_0518\\EMPTY7",
                "USB\\VID_0A5F&PID_0002\\ABC123", "USB\\VID_1111&PID_0001\\LONGLOC",
                "USB\\VID_2222&PID_0001\\LATE1"};
    }

    UsbPrinterDevices() {
        for (const std::string& id : KnownIds())
            Remove(id);
    }
    ~UsbPrinterDevices() {
        for (const std::string& id : m_ids)
            Remove(id);
    }
    UsbPrinterDevices(const UsbPrinterDevices&) = delete;
    UsbPrinterDevices& operator=(const UsbPrinterDevices&) = delete;

    // Null location: the device has no location information at all.
    // Returns the interface's device path, empty on failure.
    std::string Add(const std::string& id, const char* pszLocation) {
        HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
        if (set == INVALID_HANDLE_VALUE)
            return std::string();
        std::string path;
        SP_DEVINFO_DATA dev = {};
        dev.cbSize = sizeof(dev);
        // The printer device set-up class.
        const GUID printerClass = {
            0x4d36e979, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
        if (SetupDiCreateDeviceInfoA(set, id.c_str(), &printerClass, "Test printer", nullptr, 0,
                                     &dev) &&
            SetupDiRegisterDeviceInfo(set, &dev, 0, nullptr, nullptr, nullptr)) {
            m_ids.push_back(id);
            bool ok = true;
            if (pszLocation)
                ok = SetupDiSetDeviceRegistryPropertyA(set, &dev, SPDRP_LOCATION_INFORMATION,
                                                       reinterpret_cast<const BYTE*>(pszLocation),
                                                       static_cast<DWORD>(strlen(pszLocation) + 1));
            SP_DEVICE_INTERFACE_DATA iface = {};
            iface.cbSize = sizeof(iface);
            if (ok && SetupDiCreateDeviceInterfaceA(set, &dev, &kUsbPrintInterfaceClass, nullptr, 0,
                                                    &iface)) {
                path = InterfacePath(set, iface);
                if (!path.empty() && !SetLinked(path))
                    path.clear();
            }
        }
        SetupDiDestroyDeviceInfoList(set);
        return path;
    }

    // The device paths as setupapi lists the present interfaces, in order.
    static std::vector<std::string> PresentPaths() {
        std::vector<std::string> paths;
        HDEVINFO set = SetupDiGetClassDevsA(&kUsbPrintInterfaceClass, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE)
            return paths;
        SP_DEVICE_INTERFACE_DATA iface = {};
        iface.cbSize = sizeof(iface);
        for (DWORD i = 0;
             SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbPrintInterfaceClass, i, &iface); ++i)
            paths.push_back(InterfacePath(set, iface));
        SetupDiDestroyDeviceInfoList(set);
        return paths;
    }

private:
    static std::string InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& iface) {
        DWORD cb = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &cb, nullptr);
        if (cb < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
            return std::string();
        std::vector<char> buffer(cb + 1, '\0');
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, cb, nullptr, nullptr))
            return std::string();
        return detail->DevicePath;
    }

    static std::string ClassKey() {
        return "System\\CurrentControlSet\\Control\\DeviceClasses\\"
               "{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
    }

    // \\?\usb#...#{guid} is kept under the class key as ##?#usb#...#{guid}.
    static std::string InterfaceKey(const std::string& path) {
        return ClassKey() + "\\##?#" + path.substr(4);
    }

    static bool SetLinked(const std::string& path) {
        HKEY h = nullptr;
        const std::string key = InterfaceKey(path) + "\\#\\Control";
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &h, nullptr) != ERROR_SUCCESS)
            return false;
        const DWORD one = 1;
        const bool ok =
            RegSetValueExA(h, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                           sizeof(one)) == ERROR_SUCCESS;
        RegCloseKey(h);
        return ok;
    }

    // Removes the device and every interface key of the class that belongs
    // to it.
    static void Remove(const std::string& id) {
        HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
        if (set != INVALID_HANDLE_VALUE) {
            SP_DEVINFO_DATA dev = {};
            dev.cbSize = sizeof(dev);
            if (SetupDiOpenDeviceInfoA(set, id.c_str(), nullptr, 0, &dev))
                SetupDiRemoveDevice(set, &dev);
            SetupDiDestroyDeviceInfoList(set);
        }
        // ##?#USB#VID_..#SERIAL# : the instance id with "#" for "\".
        std::string prefix = "##?#" + id + "#";
        for (char& c : prefix)
            if (c == '\\')
                c = '#';
        HKEY h = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ClassKey().c_str(), 0, KEY_ALL_ACCESS, &h) !=
            ERROR_SUCCESS)
            return;
        std::vector<std::string> doomed;
        char name[512];
        for (DWORD i = 0;; ++i) {
            DWORD cch = sizeof(name);
            if (RegEnumKeyExA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            if (_strnicmp(name, prefix.c_str(), prefix.size()) == 0)
                doomed.push_back(name);
        }
        for (const std::string& key : doomed)
            RegDeleteTreeA(h, key.c_str());
        RegCloseKey(h);
    }

    std::vector<std::string> m_ids;
};
