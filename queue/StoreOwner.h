// CStoreOwner: the claim of one queue store by one job list. The claim is a
// named mutex whose name holds the user's identity (SID) and the store's key
// path, so one user's queue at one place has at most one owner on the
// machine, whatever session or process it runs in; other users and other
// places are not held up. The claim lasts as long as the object: the name
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
    // Claims the store at that key path (as GetKeyPath gives it).
    explicit CStoreOwner(const CString& strKeyPath);
    CStoreOwner(const CStoreOwner&) = delete;
    CStoreOwner& operator=(const CStoreOwner&) = delete;

    bool Owns() const { return m_hMutex.valid(); }

    // Whether some list (in any process of this user) holds the store now.
    static bool IsClaimed(const CString& strKeyPath);
    // The mutex's name without its namespace: "Tolvar.Morvane.Queue.<SID>.<hash>".
    static CString ClaimName(const CString& strKeyPath);

private:
    UniqueHandle<HANDLE, CloseHandle> m_hMutex;
};
