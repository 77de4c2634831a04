// CStoreOwner: the claim of one queue store by one job list. The claim is a
// named mutex whose name holds the user's identity (SID) and the store's key
// path, so one user's queue at one place has at most one owner on the
// machine, whatever session or process it runs in; other users and other
// places are not held up. The machine-wide store is every user's who may
// write it: its list takes a second claim named by the key path alone, in
// the global namespace, so two accounts never both own it. The claim lasts
// as long as the object: the name
// exists while its handle is open, and the system closes the handle when the
// process ends, also when it is killed.
//
// Within a process a named mutex may be opened again freely, so ownership is
// decided by creation alone: whoever creates the name owns the store, anyone
// who finds it already there (in this process or another) does not.
// Threads: any; the object is not shared.
#pragma once

#include "framework/String.h"
#include "framework/UniqueHandle.h"

#include <windows.h>

class CStoreOwner {
public:
    enum class Scope { User, Machine };
    // Claims the store at that key path (as GetKeyPath gives it); Machine
    // when the list writes the machine-wide key. strSid: the user's identity
    // (empty: this process's user).
    explicit CStoreOwner(const CString& strKeyPath, Scope scope = Scope::User,
                         const CString& strSid = CString());
    CStoreOwner(const CStoreOwner&) = delete;
    CStoreOwner& operator=(const CStoreOwner&) = delete;

    bool Owns() const { return m_bOwns; }

    // Whether some list (in any process of this user, or of any user for
    // the machine's store) holds the store now.
    static bool IsClaimed(const CString& strKeyPath, Scope scope = Scope::User);
    // The mutex's name without its namespace: "Tolvar.Morvane.Queue.<SID>.<hash>".
    static CString ClaimName(const CString& strKeyPath, const CString& strSid = CString());
    // The machine-wide store's: "Tolvar.Morvane.Queue.Machine.<hash>".
    static CString MachineClaimName(const CString& strKeyPath);

private:
    using Mutex = UniqueHandle<HANDLE, CloseHandle>;
    static Mutex Claim(const CString& name, bool bGlobalOnly);

    Mutex m_hMutex, m_hMachineMutex;
    bool m_bOwns = false;
};
