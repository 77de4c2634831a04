#include "settings/StartWithWindows.h"

#include "framework/UniqueHandle.h"

#include <vector>

std::wstring RunCommandFor(const std::wstring& strExePath) {
    return L"\"" + strExePath + L"\" /minimized /start";
}

std::wstring ThisProgramPath() {
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return std::wstring();
        if (n < path.size())
            return std::wstring(path.data(), n);
        path.resize(path.size() * 2);
    }
}

bool IsStartWithWindows() {
    UniqueHKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    return RegQueryValueExW(key.get(), kRunValue, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

bool SetStartWithWindows(bool bOn, const std::wstring& strExePath) {
    UniqueHKey key;
    if (!bOn) {
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
            return true; // no key, so no value
        const LONG r = RegDeleteValueW(key.get(), kRunValue);
        return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND;
    }
    if (strExePath.empty())
        return false;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring command = RunCommandFor(strExePath);
    return RegSetValueExW(
               key.get(), kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
               static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}
