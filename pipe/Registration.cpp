#include "pipe/Registration.h"

#include "framework/UniqueHandle.h"
#include "printers/PipeInterfaces.h"

#include <olectl.h>

#include <string>

namespace {

std::wstring ClassKeyPath() {
    wchar_t clsid[64] = L"";
    StringFromGUID2(CLSID_MorvanePipe, clsid, 64);
    return std::wstring(L"CLSID\\") + clsid;
}

bool SetString(HKEY hKey, const wchar_t* pszName, const std::wstring& value) {
    const DWORD cb = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          cb) == ERROR_SUCCESS;
}

bool CreateKey(HKEY hParent, const std::wstring& path, UniqueHKey& key) {
    return RegCreateKeyExW(hParent, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                           nullptr) == ERROR_SUCCESS;
}

} // namespace

HRESULT RegisterPipeServer(HMODULE hModule) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(hModule, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0)
            return SELFREG_E_CLASS;
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }

    UniqueHKey classKey, serverKey;
    if (!CreateKey(HKEY_CLASSES_ROOT, ClassKeyPath(), classKey) ||
        !SetString(classKey.get(), nullptr, L"Morvane Pipe") ||
        !CreateKey(classKey.get(), L"InprocServer32", serverKey) ||
        !SetString(serverKey.get(), nullptr, path) ||
        !SetString(serverKey.get(), L"ThreadingModel", L"Both")) {
        UnregisterPipeServer();
        return SELFREG_E_CLASS;
    }
    return S_OK;
}

HRESULT UnregisterPipeServer() {
    const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKeyPath().c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
        return SELFREG_E_CLASS;
    return S_OK;
}
