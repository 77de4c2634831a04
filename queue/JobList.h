// CJobList: the queue, in order (index 0 is the next job the worker takes),
// kept in the registry section "Job_List" as it changes, and loaded when
// constructed. Its key path is the settings' (StoreKeyPath); the list
// reads and writes the section only through its store.
//
// Ownership: the list owns its jobs. Add and InsertAt store a copy of the
// caller's job; jobs leave through RemoveAt (or a helper built on it) or the
// destructor, both of which dispose of them with Release().
// Identities: no two jobs in the list carry the same identity text. A copy
// whose identity a queued job already has draws fresh ones until it is
// unique (the identity counter wraps, and loading a long queue uses many).
// Threads: every change and every walk of the array holds the list's lock.
// RemoveAt takes the job's lock inside the list's; the worker calls the list
// only inside its gate. The order of every lock: the lock rules in
// printloop/PrintLoopThread.h. The lock is re-entrant, so a caller may hold
// it (GetListLock) across several calls, for example to check an index
// before it uses it.
// The store: CQueueStore keeps the queue in the registry section
// "Job_List" (its header says how); the list calls it for every change,
// under the list's lock, and no job lock is held while the registry is
// written. One list keeps a store at a time; a read-only list (a probe in a
// test or a tool) reads it and writes nothing.
// One owner per store: a read-write list claims its store (CStoreOwner)
// before it loads and holds the claim for its life. A list made while
// another list, in this process or another, holds the store is a reader,
// like a list made ReadOnly: it loads the queue as it is stored, keeps its
// changes in memory only and writes nothing. So a probe (a test, a tool)
// may look at a store that a running program changes, and a second program
// started on the same store can never overwrite the first's jobs.
#pragma once

#include "framework/PtrArray.h"
#include "framework/Sync.h"
#include "queue/QueueRegistry.h"
#include "queue/QueueStore.h"
#include "queue/QueuedJob.h"
#include "queue/StoreOwner.h"

#include <memory>
#include <string>
#include <unordered_set>

class CJobList : private CQueueStore::IOrder {
public:
    enum class Access { ReadWrite, ReadOnly };

    CJobList();
    // pRegistry: the registry the store goes through (null: the real one).
    explicit CJobList(std::unique_ptr<CQueueRegistry> pRegistry, Access access = Access::ReadWrite);
    virtual ~CJobList();
    CJobList(const CJobList&) = delete;
    CJobList& operator=(const CJobList&) = delete;

    // The orderly close: writes the old form and then marks the store closed
    // in order (a read-only list writes nothing).
    BOOL Save();
    // Reads the queue from the store; the constructor does, once.
    BOOL Load();

    // Whether this list holds the store (see One owner per store above).
    bool OwnsStore() const { return m_pOwner && m_pOwner->Owns(); }
    // The key path of the store the list claims, for a second start looking
    // for the owner.
    static CString StoreKeyPath();
    // Whose claim the store at StoreKeyPath takes: the machine's when this
    // user's list would write the machine-wide key.
    static CStoreOwner::Scope StoreScope();

    void Add(const CQueuedJob& job);
    // nIndex from 0 to GetCount(); anything else raises the invalid-argument
    // exception and changes nothing.
    void InsertAt(const CQueuedJob& job, int nIndex);
    void RemoveAt(int nIndex);
    CQueuedJob* FindByID(const CString& strID);
    // The index of the job with this identity text, or -1 (none, or empty
    // text). The index holds only while the caller keeps the list's lock
    // (GetListLock) from this call until it has used it.
    int IndexOfID(const CString& strID);
    int GetCount();
    CQueuedJob* GetAt(int nIndex);

    // For the worker: marks the first job that is not held busy and returns
    // it, or null when there is none. A job whose copies are out of range is
    // held on the way (CQueuedJob), never taken. A busy job is never removed or
    // changed by the window, so the pointer stays valid until the worker
    // removes the job.
    CQueuedJob* TakeHead();
    // Whether TakeHead would find a job.
    bool HasReadyJob();
    // Start: every held job may be tried again; its text goes. Not one whose
    // copies are out of range: only a corrected count releases that.
    void ReleaseHolds();
    // Removes the given job wherever it stands now; FALSE when it is gone.
    BOOL RemoveJob(CQueuedJob* pJob);
    // For the worker, after each copy sent: stores the copies still to send,
    // so a restart after a crash sends no copy twice; on disk when this
    // returns, so no power cut either. The job's m_nCopies
    // (which the progress text reads) is left alone. Call it with the list's
    // lock free or held, never with the job's lock held. False when the
    // record is not known to be on disk (call again to retry).
    bool RecordCopiesLeft(CQueuedJob* pJob, int nCopiesLeft);
    // For the window: act on a row only when the index is still valid and
    // its job is idle; FALSE (and nothing changed) otherwise.
    BOOL RemoveIdleAt(int nIndex);
    // Moves the job at nIndex one place up (nStep -1) or down (+1), kept
    // in the store; the new index, or -1 (and nothing changed) when either
    // end is out of range or either of the two jobs that change places is
    // busy: a job being sent stays where it is and none moves above it.
    int MoveIdle(int nIndex, int nStep);
    // Also releases a held job's hold.
    BOOL SetCopiesIdleAt(int nIndex, int nCopies);

    CCriticalSection& GetListLock() { return m_ListLock; }

protected:
    // As a process that dies would: the destructor then releases the jobs
    // and stores nothing more.
    void ForgetWithoutSaving() { m_bSaveOnDestroy = false; }

    static constexpr char kCopiesOutOfRange[] = "Held: copies out of range";

private:
    // Under the job's lock.
    static void HoldOutOfRange(CQueuedJob* pJob);
    // The job at nIndex (out of range: the invalid-argument exception).
    // Call with the list's lock held.
    CQueuedJob* JobAt(int nIndex) { return static_cast<CQueuedJob*>(m_Jobs.GetAt(nIndex)); }
    int Count() override { return m_Jobs.GetSize(); }
    CQueuedJob* At(int nIndex) override { return JobAt(nIndex); }

    // The first job that is not held, marked busy when bTake; null when none.
    CQueuedJob* FirstReady(bool bTake);
    // Puts a copy of job at nIndex and registers its identity; the store
    // is not told.
    CQueuedJob* Place(const CQueuedJob& job, int nIndex);

    // The claim on the store, made before anything is read (read-write
    // lists only).
    std::unique_ptr<CStoreOwner> m_pOwner;
    CPtrArray m_Jobs;
    CCriticalSection m_ListLock;
    // The identities of the queued jobs, by their hashes (a multiset: only
    // a queue longer than the identity cycle holds one twice, and two may
    // share a hash). A hash is a fraction of a text's memory per job.
    std::unordered_multiset<size_t> m_IDs;
    std::unique_ptr<CQueueStore> m_pStore;
    bool m_bSaveOnDestroy = true;
};
