// CRegistrySettings: base of the objects that keep themselves in the
// registry, under SOFTWARE\Tolvar\<string 102>\<section> of the root given.
//
// Every accessor opens the key, reads or writes one value and closes the key
// again; no handle outlives a call and the accessors keep no state, so they
// may be called from any thread. Failures never raise: a read that fails
// gives its default, a write that fails returns FALSE.
//
// Keys are opened in the 32-bit registry view, so the 32-bit and the 64-bit
// build of the program share one queue and one set of settings.
//
// Where the data lives: a caller names HKEY_LOCAL_MACHINE, the machine-wide
// place an administrator's installation fills. A standard user may not write
// there, so each section is resolved on its own: when the section's key
// exists under HKEY_CURRENT_USER (same path) it serves both reads and
// writes; otherwise reads come from the machine key, and a write the machine
// key refuses creates the per-user key and goes there. From then on that
// user's program reads the section from the per-user key.
#pragma once

#include "framework/String.h"
#include "framework/UniqueHandle.h"

#include <windows.h>

#include <cstring>
#include <vector>

class CRegistrySettings {
public:
    virtual ~CRegistrySettings() = default;

    virtual BOOL Save() = 0;
    virtual BOOL Load() = 0;

    // "SOFTWARE\Tolvar\<string 102>", then "\<section>" when a section is given.
    virtual CString GetKeyPath(LPCSTR lpszSection);
    // The stored text up to its first zero, whatever its length; the default
    // (empty when null) when it cannot be read.
    virtual CString ReadString(LPCSTR lpszSection, LPCSTR lpszEntry, LPCSTR lpszDefault,
                               HKEY hRoot);
    virtual BOOL WriteString(LPCSTR lpszSection, LPCSTR lpszEntry, LPCSTR lpszValue, HKEY hRoot);
    // A stored value of 4 bytes or fewer, little-endian (missing upper bytes
    // read as 0); the default when it cannot be read or is longer.
    virtual DWORD ReadDWORD(LPCSTR lpszSection, LPCSTR lpszEntry, DWORD dwDefault, HKEY hRoot);
    virtual BOOL WriteDWORD(LPCSTR lpszSection, LPCSTR lpszEntry, DWORD dwValue, HKEY hRoot);

    // Stores the bytes as one REG_BINARY value: one registry write, so a
    // reader sees all of them or the value as it was.
    virtual BOOL WriteBinary(LPCSTR lpszSection, LPCSTR lpszEntry, const void* pData, DWORD cb,
                             HKEY hRoot);
    // The bytes of a REG_BINARY value; FALSE (out emptied) when it is
    // missing, of another type or cannot be read.
    BOOL ReadBinary(LPCSTR lpszSection, LPCSTR lpszEntry, std::vector<BYTE>& out, HKEY hRoot);
    // Removes the value; TRUE also when it was not there.
    virtual BOOL DeleteValue(LPCSTR lpszSection, LPCSTR lpszEntry, HKEY hRoot);

    // Puts what was written to the section's key on disk before it returns.
    virtual BOOL Flush(LPCSTR lpszSection, HKEY hRoot);

    // Whether the value is stored at all (of any type, empty or not).
    BOOL ValueExists(LPCSTR lpszSection, LPCSTR lpszEntry, HKEY hRoot);

    // Test seam: asked before the program opens a key under
    // HKEY_LOCAL_MACHINE; an answer other than ERROR_SUCCESS refuses the open
    // as the system would for a user without the right. Process-wide; null
    // (the default) lets every open through.
    using OpenKeyHook = LONG (*)(LPCSTR lpszPath, REGSAM access);
    static void SetMachineOpenHook(OpenKeyHook hook);
    // What the hook answers for an open of that path (ERROR_SUCCESS without
    // one), for code that opens machine keys of its own.
    static LONG AskMachineOpenHook(LPCSTR lpszPath, REGSAM access);

protected:
    // Keeps one section's key open while it lives, so a Save or Load of many
    // values opens the key once instead of once a value. The accessors use
    // it for that section and root, and open their own key for any other.
    // One at a time per object, on the thread that saves or loads; one made
    // while the same section is already kept does nothing, so an object may
    // keep its section open for its whole life (the accessors then read the
    // kept key from any thread, as it does not change).
    class CKeepOpen {
    public:
        CKeepOpen(CRegistrySettings& owner, LPCSTR lpszSection, HKEY hRoot);
        ~CKeepOpen();
        CKeepOpen(const CKeepOpen&) = delete;
        CKeepOpen& operator=(const CKeepOpen&) = delete;

    private:
        CRegistrySettings& m_owner;
        bool m_bOwns = false;
    };

    // Whether a kept key is open and takes writes. FALSE while one is kept
    // for reading only: the section is read from the machine key and each
    // write goes to a per-user key that may not hold the rest yet.
    BOOL KeptKeyTakesWrites() const { return m_keptKey && (m_keptAccess & KEY_SET_VALUE); }

    // The open key for the section (kept or opened into owned), or null.
    HKEY KeyFor(HKEY hRoot, LPCSTR lpszSection, REGSAM access, UniqueHKey& owned);

private:
    HKEY m_hKeptRoot = nullptr;
    CString m_strKeptPath;
    REGSAM m_keptAccess = 0;
    UniqueHKey m_keptKey;
};

// The access mask that every key of the program is opened with, added to
// the rights the call needs: the shared 32-bit view.
constexpr REGSAM kMorvaneRegistryView = KEY_WOW64_32KEY;

// Calls visit(name, type, data, size) for every value of an open key, in
// the registry's order; false when the walk stopped short (what was visited
// stands). A name with a zero inside is passed over: as a C string it names
// another value.
template <typename Visit> bool EnumRegistryValues(HKEY key, Visit visit) {
    DWORD maxName = 0, maxData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    std::vector<char> name(static_cast<size_t>(maxName) + 2);
    std::vector<BYTE> data(static_cast<size_t>(maxData) + 2);
    for (DWORD i = 0;; ++i) {
        DWORD cchName = static_cast<DWORD>(name.size());
        DWORD cbData = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LONG rc =
            RegEnumValueA(key, i, name.data(), &cchName, nullptr, &type, data.data(), &cbData);
        if (rc == ERROR_NO_MORE_ITEMS)
            return true;
        if (rc == ERROR_MORE_DATA) {
            // The key grew while it was read: larger buffers, same index.
            name.resize(name.size() * 2 + 256);
            data.resize(cbData > data.size() ? cbData : data.size() * 2);
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS)
            return false;
        if (strnlen(name.data(), cchName) != cchName)
            continue;
        visit(static_cast<const char*>(name.data()), type, static_cast<const BYTE*>(data.data()),
              cbData);
    }
}

// The number a text spells in decimal (blanks around it allowed), or the
// fallback when it spells none or one that does not fit in 32 bits.
DWORD ParseDecimal(const char* pszText, DWORD dwFallback);
