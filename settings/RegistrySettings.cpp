#include "settings/RegistrySettings.h"

#include "app/resource.h"
#include "framework/UniqueHandle.h"

#include <vector>

namespace {

// Opens (creating when missing) the key at path under the root.
UniqueHKey OpenKey(HKEY hRoot, const CString& path, REGSAM access) {
    UniqueHKey key;
    const LONG rc = RegCreateKeyExA(hRoot, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    access | kMorvaneRegistryView, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS)
        key.release();
    return key;
}

// The number that text spells in decimal (blanks around it allowed), or the
// fallback when it spells none or one that does not fit in 32 bits.
DWORD ParseDecimal(const CString& text, DWORD fallback) {
    const char* p = text;
    while (*p == ' ')
        ++p;
    if (*p < '0' || *p > '9')
        return fallback;
    unsigned long long v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + static_cast<unsigned>(*p - '0');
        if (v > 0xFFFFFFFFull)
            return fallback;
    }
    while (*p == ' ')
        ++p;
    return *p ? fallback : static_cast<DWORD>(v);
}

} // namespace

CString CRegistrySettings::GetKeyPath(LPCSTR lpszSection) {
    CString appKey;
    appKey.LoadString(IDS_APP_KEY);
    CString path = CString("SOFTWARE\\Tolvar\\") + appKey;
    if (lpszSection && *lpszSection)
        path += CString("\\") + lpszSection;
    return path;
}

CString CRegistrySettings::ReadString(LPCSTR lpszSection, LPCSTR lpszEntry, LPCSTR lpszDefault,
                                      HKEY hRoot) {
    const CString fallback(lpszDefault);
    UniqueHKey key = OpenKey(hRoot, GetKeyPath(lpszSection), KEY_QUERY_VALUE);
    if (!key)
        return fallback;

    // Size the buffer from the stored value; it may grow between the two
    // calls, so ask again while it does.
    DWORD cb = 0;
    if (RegQueryValueExA(key.get(), lpszEntry, nullptr, nullptr, nullptr, &cb) != ERROR_SUCCESS)
        return fallback;
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::vector<char> buf(static_cast<size_t>(cb) + 1, '\0');
        DWORD got = cb;
        const LONG rc = RegQueryValueExA(key.get(), lpszEntry, nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(buf.data()), &got);
        if (rc == ERROR_MORE_DATA) {
            cb = got;
            continue;
        }
        if (rc != ERROR_SUCCESS)
            return fallback;
        // Never trust the data to carry its own zero: stop at the returned size.
        const size_t n = got < cb ? got : cb;
        buf[n] = '\0';
        return CString(buf.data());
    }
    return fallback;
}

BOOL CRegistrySettings::WriteString(LPCSTR lpszSection, LPCSTR lpszEntry, LPCSTR lpszValue,
                                    HKEY hRoot) {
    UniqueHKey key = OpenKey(hRoot, GetKeyPath(lpszSection), KEY_SET_VALUE);
    if (!key)
        return FALSE;
    const char* text = lpszValue ? lpszValue : "";
    const DWORD cb = static_cast<DWORD>(lstrlenA(text) + 1);
    return RegSetValueExA(key.get(), lpszEntry, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          cb) == ERROR_SUCCESS;
}

DWORD CRegistrySettings::ReadDWORD(LPCSTR lpszSection, LPCSTR lpszEntry, DWORD dwDefault,
                                   HKEY hRoot) {
    UniqueHKey key = OpenKey(hRoot, GetKeyPath(lpszSection), KEY_QUERY_VALUE);
    if (!key)
        return dwDefault;
    BYTE bytes[4] = {0, 0, 0, 0};
    DWORD cb = sizeof(bytes);
    DWORD type = REG_NONE;
    const LONG rc = RegQueryValueExA(key.get(), lpszEntry, nullptr, &type, bytes, &cb);
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        // A number someone stored as text: its bytes are no number. Take
        // the text when it is a plain decimal number, else the default.
        key.reset();
        return ParseDecimal(ReadString(lpszSection, lpszEntry, "", hRoot), dwDefault);
    }
    if (rc != ERROR_SUCCESS)
        return dwDefault;
    return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
           static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

BOOL CRegistrySettings::WriteDWORD(LPCSTR lpszSection, LPCSTR lpszEntry, DWORD dwValue,
                                   HKEY hRoot) {
    UniqueHKey key = OpenKey(hRoot, GetKeyPath(lpszSection), KEY_SET_VALUE);
    if (!key)
        return FALSE;
    return RegSetValueExA(key.get(), lpszEntry, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&dwValue),
                          sizeof(dwValue)) == ERROR_SUCCESS;
}

BOOL CRegistrySettings::ValueExists(LPCSTR lpszSection, LPCSTR lpszEntry, HKEY hRoot) {
    UniqueHKey key = OpenKey(hRoot, GetKeyPath(lpszSection), KEY_QUERY_VALUE);
    if (!key)
        return FALSE;
    return RegQueryValueExA(key.get(), lpszEntry, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}
