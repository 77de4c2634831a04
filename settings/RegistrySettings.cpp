#include "settings/RegistrySettings.h"

#include "framework/UniqueHandle.h"
#include "settings/ProgramKey.h"

#include <atomic>
#include <vector>

namespace {

std::atomic<CRegistrySettings::OpenKeyHook> g_machineOpenHook{nullptr};

// Opens (creating when missing) the key at path under the root.
UniqueHKey CreateKey(HKEY hRoot, const CString& path, REGSAM access) {
    UniqueHKey key;
    if (hRoot == HKEY_LOCAL_MACHINE) {
        if (const auto hook = g_machineOpenHook.load()) {
            if (hook(path, access) != ERROR_SUCCESS)
                return key;
        }
    }
    const LONG rc = RegCreateKeyExA(hRoot, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                    access | kMorvaneRegistryView, nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS)
        key.release();
    return key;
}

// The key at path under the current user's root, only when it exists.
UniqueHKey OpenUserKey(const CString& path, REGSAM access) {
    UniqueHKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, access | kMorvaneRegistryView, key.put()) !=
        ERROR_SUCCESS)
        key.release();
    return key;
}

// The key that serves a section of the machine-wide root: the per-user one
// when it exists, else the machine one; a write the machine key refuses
// goes to a per-user key made for it. Other roots are taken as given.
UniqueHKey OpenKey(HKEY hRoot, const CString& path, REGSAM access) {
    if (hRoot != HKEY_LOCAL_MACHINE)
        return CreateKey(hRoot, path, access);
    if (UniqueHKey user = OpenUserKey(path, access))
        return user;
    if (UniqueHKey machine = CreateKey(HKEY_LOCAL_MACHINE, path, access))
        return machine;
    if (!(access & KEY_SET_VALUE))
        return {};
    return CreateKey(HKEY_CURRENT_USER, path, access);
}

} // namespace

CRegistrySettings::CKeepOpen::CKeepOpen(CRegistrySettings& owner, LPCSTR lpszSection, HKEY hRoot)
    : m_owner(owner) {
    const CString path = owner.GetKeyPath(lpszSection);
    if (owner.m_keptKey && owner.m_hKeptRoot == hRoot &&
        path.CompareNoCase(owner.m_strKeptPath) == 0)
        return;
    REGSAM access = KEY_QUERY_VALUE | KEY_SET_VALUE;
    UniqueHKey key = hRoot == HKEY_LOCAL_MACHINE ? OpenUserKey(path, access) : UniqueHKey();
    if (!key)
        key = CreateKey(hRoot, path, access);
    if (!key) {
        // No right to write: reads still go through the kept key, and each
        // write finds its own key (the per-user one where that is all there is).
        access = KEY_QUERY_VALUE;
        key = OpenKey(hRoot, path, access);
    }
    if (!key)
        return;
    owner.m_hKeptRoot = hRoot;
    owner.m_strKeptPath = path;
    owner.m_keptAccess = access;
    owner.m_keptKey = std::move(key);
    m_bOwns = true;
}

CRegistrySettings::CKeepOpen::~CKeepOpen() {
    if (!m_bOwns)
        return;
    m_owner.m_keptKey.reset();
    m_owner.m_hKeptRoot = nullptr;
    m_owner.m_strKeptPath.Empty();
    m_owner.m_keptAccess = 0;
}

HKEY CRegistrySettings::KeyFor(HKEY hRoot, LPCSTR lpszSection, REGSAM access, UniqueHKey& owned) {
    const CString path = GetKeyPath(lpszSection);
    if (m_keptKey && hRoot == m_hKeptRoot && (m_keptAccess & access) == access &&
        path.CompareNoCase(m_strKeptPath) == 0)
        return m_keptKey.get();
    owned = OpenKey(hRoot, path, access);
    return owned.get();
}

void CRegistrySettings::SetMachineOpenHook(OpenKeyHook hook) {
    g_machineOpenHook = hook;
}

LONG CRegistrySettings::AskMachineOpenHook(LPCSTR lpszPath, REGSAM access) {
    const auto hook = g_machineOpenHook.load();
    return hook ? hook(lpszPath, access) : ERROR_SUCCESS;
}

CString CRegistrySettings::GetKeyPath(LPCSTR lpszSection) {
    CString appKey;
    appKey.LoadString(IDS_APP_KEY);
    CString path = CString(kProgramKeyRoot) + appKey;
    if (lpszSection && *lpszSection)
        path += CString("\\") + lpszSection;
    return path;
}

CString CRegistrySettings::ReadString(LPCSTR lpszSection, LPCSTR lpszEntry, LPCSTR lpszDefault,
                                      HKEY hRoot) {
    const CString fallback(lpszDefault);
    UniqueHKey owned;
    const HKEY key = KeyFor(hRoot, lpszSection, KEY_QUERY_VALUE, owned);
    if (!key)
        return fallback;

    // Most values fit a small buffer; a longer one says its size and is read
    // again into a buffer of that size (asked again while it keeps growing).
    DWORD cb = 256;
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::vector<char> buf(static_cast<size_t>(cb) + 1, '\0');
        DWORD got = cb;
        const LONG rc = RegQueryValueExA(key, lpszEntry, nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(buf.data()), &got);
        if (rc == ERROR_MORE_DATA) {
            cb = got > cb ? got : cb * 2;
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
    UniqueHKey owned;
    const HKEY key = KeyFor(hRoot, lpszSection, KEY_SET_VALUE, owned);
    if (!key)
        return FALSE;
    const char* text = lpszValue ? lpszValue : "";
    const DWORD cb = static_cast<DWORD>(lstrlenA(text) + 1);
    return RegSetValueExA(key, lpszEntry, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), cb) ==
           ERROR_SUCCESS;
}

DWORD CRegistrySettings::ReadDWORD(LPCSTR lpszSection, LPCSTR lpszEntry, DWORD dwDefault,
                                   HKEY hRoot) {
    UniqueHKey owned;
    const HKEY key = KeyFor(hRoot, lpszSection, KEY_QUERY_VALUE, owned);
    if (!key)
        return dwDefault;
    BYTE bytes[4] = {0, 0, 0, 0};
    DWORD cb = sizeof(bytes);
    DWORD type = REG_NONE;
    const LONG rc = RegQueryValueExA(key, lpszEntry, nullptr, &type, bytes, &cb);
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        // A number someone stored as text: its bytes are no number. Take
        // the text when it is a plain decimal number, else the default.
        return ParseDecimal(ReadString(lpszSection, lpszEntry, "", hRoot), dwDefault);
    }
    if (rc != ERROR_SUCCESS)
        return dwDefault;
    return static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
           static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
}

BOOL CRegistrySettings::WriteDWORD(LPCSTR lpszSection, LPCSTR lpszEntry, DWORD dwValue,
                                   HKEY hRoot) {
    UniqueHKey owned;
    const HKEY key = KeyFor(hRoot, lpszSection, KEY_SET_VALUE, owned);
    if (!key)
        return FALSE;
    return RegSetValueExA(key, lpszEntry, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue),
                          sizeof(dwValue)) == ERROR_SUCCESS;
}

BOOL CRegistrySettings::ValueExists(LPCSTR lpszSection, LPCSTR lpszEntry, HKEY hRoot) {
    UniqueHKey owned;
    const HKEY key = KeyFor(hRoot, lpszSection, KEY_QUERY_VALUE, owned);
    if (!key)
        return FALSE;
    return RegQueryValueExA(key, lpszEntry, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

BOOL CRegistrySettings::WriteBinary(LPCSTR lpszSection, LPCSTR lpszEntry, const void* pData,
                                    DWORD cb, HKEY hRoot) {
    UniqueHKey owned;
    const HKEY key = KeyFor(hRoot, lpszSection, KEY_SET_VALUE, owned);
    if (!key)
        return FALSE;
    return RegSetValueExA(key, lpszEntry, 0, REG_BINARY, static_cast<const BYTE*>(pData), cb) ==
           ERROR_SUCCESS;
}

BOOL CRegistrySettings::DeleteValue(LPCSTR lpszSection, LPCSTR lpszEntry, HKEY hRoot) {
    UniqueHKey owned;
    const HKEY key = KeyFor(hRoot, lpszSection, KEY_SET_VALUE, owned);
    if (!key)
        return FALSE;
    const LONG rc = RegDeleteValueA(key, lpszEntry);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

BOOL CRegistrySettings::Flush(LPCSTR lpszSection, HKEY hRoot) {
    UniqueHKey owned;
    const HKEY key = KeyFor(hRoot, lpszSection, KEY_SET_VALUE, owned);
    return key && RegFlushKey(key) == ERROR_SUCCESS;
}

BOOL CRegistrySettings::ReadBinary(LPCSTR lpszSection, LPCSTR lpszEntry, std::vector<BYTE>& out,
                                   HKEY hRoot) {
    out.clear();
    UniqueHKey owned;
    const HKEY key = KeyFor(hRoot, lpszSection, KEY_QUERY_VALUE, owned);
    if (!key)
        return FALSE;
    // Asked again while the value keeps growing between the two calls.
    for (int attempt = 0; attempt < 8; ++attempt) {
        DWORD type = REG_NONE, cb = 0;
        if (RegQueryValueExA(key, lpszEntry, nullptr, &type, nullptr, &cb) != ERROR_SUCCESS ||
            type != REG_BINARY)
            return FALSE;
        out.resize(cb);
        DWORD got = cb;
        const LONG rc = RegQueryValueExA(key, lpszEntry, nullptr, &type, out.data(), &got);
        if (rc == ERROR_MORE_DATA)
            continue;
        if (rc != ERROR_SUCCESS || type != REG_BINARY) {
            out.clear();
            return FALSE;
        }
        out.resize(got);
        return TRUE;
    }
    out.clear();
    return FALSE;
}

DWORD ParseDecimal(const char* pszText, DWORD dwFallback) {
    const char* p = pszText;
    while (*p == ' ')
        ++p;
    if (*p < '0' || *p > '9')
        return dwFallback;
    unsigned long long v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + static_cast<unsigned>(*p - '0');
        if (v > 0xFFFFFFFFull)
            return dwFallback;
    }
    while (*p == ' ')
        ++p;
    return *p ? dwFallback : static_cast<DWORD>(v);
}
