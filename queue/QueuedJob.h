// CQueuedJob: one file in the queue, with its display name, the copies still
// to print, the worker's progress text and a fixed identity text.
//
// Ownership: jobs are disposed of with Release() only, which waits until no
// other thread is inside the job's lock and then deletes the job.
// A held job (m_bHeld) is one whose own file could not be read while the
// worker retries failures: the worker passes it by, and its status text
// says why ("Held: file missing"), until Start or a change of its copies.
// It is kept in memory only: after a restart it is tried again. A job whose
// copies lie outside 1 to kMaxCopies (a stored count that is missing,
// damaged or foreign) is held too ("Held: copies out of range"): never sent
// and never dropped; Start does not release it, a corrected count does.
// Threads: m_Lock guards m_strStatus, m_nCopies, m_bBusy and m_bHeld between the user
// interface thread and the worker; name, path and identity never change once
// the job is in the list. The worker touches a queued job only inside its
// gate; the order of every lock: the lock rules in printloop/PrintLoopThread.h.
#pragma once

#include "framework/String.h"
#include "framework/Sync.h"

#include <windows.h>

class CQueuedJob {
public:
    CQueuedJob(const CString& strName, const CString& strPath, int nCopies = 1);
    CQueuedJob(const CQueuedJob& other);
    CQueuedJob& operator=(const CQueuedJob&) = delete;

    virtual ~CQueuedJob();
    // Waits for the job's lock once more, then deletes the job.
    virtual void Release();
    virtual void Init();
    // The next identity text "QueuedJob ID<n>"; n runs 1..36609, then 0, 1...
    virtual CString NewID();

    // Copies every field but the lock, identity included. Takes no lock.
    void CopyFrom(const CQueuedJob& other);

    CString GetName() const { return m_strName; }
    CString GetPath() const { return m_strPath; }
    CString GetStatus() const { return m_strStatus; }
    CString GetID() const { return m_strID; }

    static constexpr int kMaxCopies = 100000;
    static bool CopiesInRange(int n) { return n >= 1 && n <= kMaxCopies; }

    CSmallLock m_Lock;
    CString m_strName;
    CString m_strPath;
    CString m_strStatus;
    CString m_strID;
    int m_nCopies = 1;
    BOOL m_bBusy = FALSE;
    bool m_bHeld = false;
};
