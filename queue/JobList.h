// CJobList: the queue, in order (index 0 is the next job the worker takes),
// saved to the registry section "Job_List" when destroyed and loaded when
// constructed.
//
// Ownership: the list owns its jobs. Add and InsertAt store a copy of the
// caller's job; jobs leave through RemoveAt (or a helper built on it) or the
// destructor, both of which dispose of them with Release().
// Threads: every change and every walk of the array holds the list's lock.
// Lock order is list, then job: RemoveAt takes the job's lock inside the
// list's. No thread may wait for the list's lock while it holds a job's
// lock. The lock is re-entrant, so a caller may hold it (GetListLock) across
// several calls, for example to check an index before it uses it.
#pragma once

#include "framework/PtrArray.h"
#include "framework/Sync.h"
#include "queue/QueuedJob.h"
#include "settings/RegistrySettings.h"

class CJobList : public CRegistrySettings {
public:
    CJobList();
    ~CJobList() override;
    CJobList(const CJobList&) = delete;
    CJobList& operator=(const CJobList&) = delete;

    BOOL Save() override;
    BOOL Load() override;

    void Add(const CQueuedJob& job);
    // nIndex from 0 to GetCount(); anything else raises the invalid-argument
    // exception and changes nothing.
    void InsertAt(const CQueuedJob& job, int nIndex);
    void RemoveAt(int nIndex);
    CQueuedJob* FindByID(const CString& strID);
    int GetCount();
    CQueuedJob* GetAt(int nIndex);

    // For the worker: marks the head job busy and returns it, or null when
    // the queue is empty. A busy job is never removed or changed by the
    // window, so the pointer stays valid until the worker removes the job.
    CQueuedJob* TakeHead();
    // Removes the given job wherever it stands now; FALSE when it is gone.
    BOOL RemoveJob(CQueuedJob* pJob);
    // For the window: act on a row only when the index is still valid and
    // its job is idle; FALSE (and nothing changed) otherwise.
    BOOL RemoveIdleAt(int nIndex);
    BOOL SetCopiesIdleAt(int nIndex, int nCopies);

    CCriticalSection& GetListLock() { return m_ListLock; }

private:
    // The widest hole in foreign stored data that Load steps over.
    static constexpr int kMaxHole = 64;
    // The index of the next stored entry behind a missing one at nIndex, or
    // -1 when nIndex holds the end entry or nothing follows within kMaxHole.
    int NextStoredIndex(int nIndex);

    CPtrArray m_Jobs;
    CCriticalSection m_ListLock;
};
