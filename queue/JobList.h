// CJobList: the queue, in order (index 0 is the next job the worker takes),
// kept in the registry section "Job_List" as it changes, and loaded when
// constructed.
//
// Ownership: the list owns its jobs. Add and InsertAt store a copy of the
// caller's job; jobs leave through RemoveAt (or a helper built on it) or the
// destructor, both of which dispose of them with Release().
// Identities: no two jobs in the list carry the same identity text. A copy
// whose identity a queued job already has draws fresh ones until it is
// unique (the identity counter wraps, and loading a long queue uses many).
// Threads: every change and every walk of the array holds the list's lock.
// Lock order is list, then job: RemoveAt takes the job's lock inside the
// list's. No thread may wait for the list's lock while it holds a job's
// lock. The lock is re-entrant, so a caller may hold it (GetListLock) across
// several calls, for example to check an index before it uses it. The
// stored record of a change is written under the list's lock (one or two
// registry writes, never one per queued job, except the rare renumbering
// below); no job lock is held while the registry is written.
//
// The store. Two forms live side by side in "Job_List":
//  - The live journal, the truth while the program runs: one REG_BINARY
//    value "Q<slot>" per job, written with one registry call so a reader
//    finds a job whole or as it was. The record holds a format number, an
//    ordering key, the copies left, the name and the path. Adding or
//    inserting a job writes its record, removing it deletes the value, a
//    change of copies rewrites it: each change costs one write, whatever the
//    length of the queue. Keys leave gaps (kKeyGap) so an insert between
//    two jobs takes a key between theirs; when a gap runs out the list
//    renumbers, tail first onto keys above every old one, so a reader cut
//    short anywhere still finds the old order.
//  - The indexed form Job<i>_Name, Job<i>_Path, Job<i>_Copies ending at an
//    entry with empty name and path, written whole by Save at an orderly
//    close, so an older version of the program installed again finds the
//    queue. It is rewritten in place, so it is only trusted when whole.
// One owner per store: a list claims its store (CStoreOwner) before it
// loads and holds the claim for its life. A list made while another list,
// in this process or another, holds the store is a reader: it loads the
// queue as it is stored and then keeps its changes in memory only; every
// write to the store is refused (Save, the journal, the load's own
// bookkeeping) and its destructor stores nothing. So a probe (a test, a
// tool) may look at a store that a running program changes, and a second
// program started on the same store can never overwrite the first's jobs.
// The value "QueueStore" (REG_DWORD) says which form holds: Save writes it
// as kClosedInOrder as its very last write; the first change after that
// (Load does it) writes kJournalLive. On start: kJournalLive means the
// program ended without Save (a crash, a kill, a power cut), and the
// journal is the queue. Anything else (kClosedInOrder, or no value: a queue
// kept by an older version) means the indexed form is the queue, since an
// older program may have changed it since; Load then brings the journal in
// line with it, rewriting only records that differ, and marks the journal
// live. A cut anywhere in that leaves the marker as it was, so the next
// start takes the indexed form again.
// Reading the journal back means enumerating every value of the key, which
// costs about as much as loading the indexed form. So Save also writes, just
// before the marker, "QueueIndex" (REG_BINARY): a fingerprint of the indexed
// form it wrote and each job's slot and key. A start that finds the indexed
// form with that fingerprint (nothing changed it since) takes the slots from
// there and reads no record; any other start reads the journal back.
// The index is only written while every journal write has succeeded.
#pragma once

#include "framework/PtrArray.h"
#include "framework/Sync.h"
#include "queue/QueuedJob.h"
#include "queue/StoreOwner.h"
#include "settings/RegistrySettings.h"

#include <memory>
#include <string>
#include <unordered_set>

class CJobList : public CRegistrySettings {
public:
    CJobList();
    ~CJobList() override;
    CJobList(const CJobList&) = delete;
    CJobList& operator=(const CJobList&) = delete;

    // Writes the indexed form and then marks the store closed in order.
    BOOL Save() override;
    BOOL Load() override;

    // Whether this list holds the store (see One owner per store above).
    bool OwnsStore() const { return m_pOwner && m_pOwner->Owns(); }
    // A reader's writes are refused here, before they reach the registry.
    BOOL WriteString(LPCSTR lpszSection, LPCSTR lpszEntry, LPCSTR lpszValue, HKEY hRoot) override;
    BOOL WriteDWORD(LPCSTR lpszSection, LPCSTR lpszEntry, DWORD dwValue, HKEY hRoot) override;
    BOOL WriteBinary(LPCSTR lpszSection, LPCSTR lpszEntry, const void* pData, DWORD cb,
                     HKEY hRoot) override;
    BOOL DeleteValue(LPCSTR lpszSection, LPCSTR lpszEntry, HKEY hRoot) override;
    // The key path of the store the list claims, for a second start looking
    // for the owner.
    static CString StoreKeyPath();

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

    // For the worker: marks the head job busy and returns it, or null when
    // the queue is empty. A busy job is never removed or changed by the
    // window, so the pointer stays valid until the worker removes the job.
    CQueuedJob* TakeHead();
    // Removes the given job wherever it stands now; FALSE when it is gone.
    BOOL RemoveJob(CQueuedJob* pJob);
    // For the worker, after each copy sent: stores the copies still to send,
    // so a restart after a crash sends no copy twice. The job's m_nCopies
    // (which the progress text reads) is left alone. Call it with the list's
    // lock free or held, never with the job's lock held.
    void RecordCopiesLeft(CQueuedJob* pJob, int nCopiesLeft);
    // For the window: act on a row only when the index is still valid and
    // its job is idle; FALSE (and nothing changed) otherwise.
    BOOL RemoveIdleAt(int nIndex);
    BOOL SetCopiesIdleAt(int nIndex, int nCopies);

    CCriticalSection& GetListLock() { return m_ListLock; }

    static constexpr DWORD kClosedInOrder = 1;
    static constexpr DWORD kJournalLive = 2;
    // Room between the keys of neighbours at the end of the queue: about 16
    // inserts at one place before a renumbering. Keys only grow at the tail
    // (2^47 appends before a 64-bit key runs out).
    static constexpr long long kKeyGap = 1LL << 16;

protected:
    // As a process that dies would: the destructor then releases the jobs
    // and stores nothing more.
    void ForgetWithoutSaving() { m_bSaveOnDestroy = false; }

private:
    // The job at nIndex (out of range: the invalid-argument exception).
    // Call with the list's lock held.
    CQueuedJob* JobAt(int nIndex) { return static_cast<CQueuedJob*>(m_Jobs.GetAt(nIndex)); }

    // The widest hole in foreign stored data that Load steps over.
    static constexpr int kMaxHole = 64;
    // The index of the next stored entry behind a missing one at nIndex, or
    // -1 when nIndex holds the end entry or nothing follows within kMaxHole.
    int NextStoredIndex(int nIndex);

    // Loads the indexed form; returns its fingerprint.
    unsigned long long LoadIndexed();
    // At an orderly close, after the indexed form: where each job's record
    // is, with the fingerprint of the indexed form written.
    BOOL WriteIndex(unsigned long long nPrint);
    // Takes each loaded job's slot and key from that index when the indexed
    // form still has the fingerprint it had; false (nothing taken) otherwise.
    bool TakeIndex(unsigned long long nPrint);
    // Loads the journal's valid records in key order.
    void LoadJournal();
    // Brings the journal in line with the jobs loaded from the indexed form;
    // bFresh: as if it were empty (it is written where none is yet).
    void SyncJournal(bool bFresh);

    // Puts a copy of job at nIndex with the given store bookkeeping and
    // registers its identity; no registry write.
    CQueuedJob* Place(const CQueuedJob& job, int nIndex);
    // Writes the job's record (one registry write).
    BOOL WriteRecord(CQueuedJob* pJob);
    // Deletes the job's record, if one may be stored (one registry write).
    void DeleteRecord(CQueuedJob* pJob);
    // Makes sure the store is marked live before a journal write.
    void MarkLive();
    // Gives the job at nIndex (already in the array) a key between its
    // neighbours', renumbering when there is no room.
    void AssignKey(int nIndex);
    // New keys for every job; the job at nNew (-1: none) is not stored yet.
    void Renumber(int nNew);

    // The claim on the store, made before anything is read.
    std::unique_ptr<CStoreOwner> m_pOwner;
    // The section's key, open for the list's life: a change costs one
    // registry call.
    std::unique_ptr<CKeepOpen> m_pKeep;
    CPtrArray m_Jobs;
    CCriticalSection m_ListLock;
    // The identities of the queued jobs (a multiset: only a queue longer than
    // the identity cycle holds one twice).
    std::unordered_multiset<std::string> m_IDs;
    unsigned long long m_nNextSlot = 1;
    bool m_bLive = false;
    // A journal write failed: the journal may not match the queue.
    bool m_bJournalDirty = false;
    bool m_bSaveOnDestroy = true;
};
