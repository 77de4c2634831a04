#include "queue/StoreOwner.h"

#include <sddl.h>

#include <string>

namespace {

// The global namespace reaches every session of the user; where it is not
// available (a restricted session), the session's own namespace is second
// best.
const char* const kNamespaces[] = {"Global\\", "Local\\"};

CString UserSid() {
    CString sid = "nouser";
    HANDLE hToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &hToken))
        return sid;
    DWORD cb = 0;
    GetTokenInformation(hToken, TokenUser, nullptr, 0, &cb);
    if (cb) {
        std::string buf(cb, '\0');
        if (GetTokenInformation(hToken, TokenUser, buf.data(), cb, &cb)) {
            const auto* pUser = reinterpret_cast<const TOKEN_USER*>(buf.data());
            char* pszSid = nullptr;
            if (ConvertSidToStringSidA(pUser->User.Sid, &pszSid)) {
                sid = pszSid;
                LocalFree(pszSid);
            }
        }
    }
    CloseHandle(hToken);
    return sid;
}

// Key paths are compared without case, as the registry does.
unsigned long long PathHash(const CString& path) {
    unsigned long long h = 0xCBF29CE484222325ull;
    for (const char* p = path; *p; ++p) {
        char c = *p;
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
    }
    return h;
}

} // namespace

CString CStoreOwner::ClaimName(const CString& strKeyPath, const CString& strSid) {
    CString name;
    name.Format("Tolvar.Morvane.Queue.%s.%016llX",
                (strSid.IsEmpty() ? UserSid() : strSid).GetString(), PathHash(strKeyPath));
    return name;
}

CString CStoreOwner::MachineClaimName(const CString& strKeyPath) {
    CString name;
    name.Format("Tolvar.Morvane.Queue.Machine.%016llX", PathHash(strKeyPath));
    return name;
}

CStoreOwner::Mutex CStoreOwner::Claim(const CString& name, bool bGlobalOnly) {
    for (const char* ns : kNamespaces) {
        SetLastError(ERROR_SUCCESS);
        Mutex h(CreateMutexA(nullptr, FALSE, CString(ns) + name));
        const DWORD err = GetLastError();
        if (h && err != ERROR_ALREADY_EXISTS)
            return h;
        // Held already, or held by someone whose mutex we may not open:
        // either way not ours, and not to be claimed in another namespace.
        // The machine's store is claimed across sessions or not at all.
        if (h || err == ERROR_ACCESS_DENIED || bGlobalOnly)
            return Mutex();
    }
    return Mutex();
}

CStoreOwner::CStoreOwner(const CString& strKeyPath, Scope scope, const CString& strSid) {
    m_hMutex = Claim(ClaimName(strKeyPath, strSid), false);
    if (m_hMutex && scope == Scope::Machine)
        m_hMachineMutex = Claim(MachineClaimName(strKeyPath), true);
    m_bOwns = m_hMutex && (scope == Scope::User || m_hMachineMutex);
}

bool CStoreOwner::IsClaimed(const CString& strKeyPath, Scope scope) {
    const auto held = [](const CString& name, bool bGlobalOnly) {
        for (const char* ns : kNamespaces) {
            HANDLE h = OpenMutexA(SYNCHRONIZE, FALSE, CString(ns) + name);
            if (h) {
                CloseHandle(h);
                return true;
            }
            if (GetLastError() == ERROR_ACCESS_DENIED)
                return true;
            if (bGlobalOnly)
                return false;
        }
        return false;
    };
    return held(ClaimName(strKeyPath), false) ||
           (scope == Scope::Machine && held(MachineClaimName(strKeyPath), true));
}
