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
#pragma once

#include "framework/String.h"
#include "framework/UniqueHandle.h"

#include <windows.h>

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

    // Whether the value is stored at all (of any type, empty or not).
    BOOL ValueExists(LPCSTR lpszSection, LPCSTR lpszEntry, HKEY hRoot);

protected:
    // Keeps one section's key open while it lives, so a Save or Load of many
    // values opens the key once instead of once a value. The accessors use
    // it for that section and root, and open their own key for any other.
    // One at a time per object, on the thread that saves or loads.
    class CKeepOpen {
    public:
        CKeepOpen(CRegistrySettings& owner, LPCSTR lpszSection, HKEY hRoot);
        ~CKeepOpen();
        CKeepOpen(const CKeepOpen&) = delete;
        CKeepOpen& operator=(const CKeepOpen&) = delete;

    private:
        CRegistrySettings& m_owner;
    };

private:
    // The key for one accessor call: the kept one when it serves, else one
    // opened into owned (closed by the caller's owned going away).
    HKEY KeyFor(HKEY hRoot, LPCSTR lpszSection, REGSAM access, UniqueHKey& owned);

    HKEY m_hKeptRoot = nullptr;
    CString m_strKeptPath;
    REGSAM m_keptAccess = 0;
    UniqueHKey m_keptKey;
};

// The access mask that every key of the program is opened with, added to
// the rights the call needs: the shared 32-bit view.
constexpr REGSAM kMorvaneRegistryView = KEY_WOW64_32KEY;
