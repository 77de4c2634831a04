// CQueueStore: the queue as the registry keeps it. The list calls it for
// every change, under the list's lock; it owns everything about the stored
// forms: slots, ordering keys, the marker, the index, the old per-job form
// and the move to a per-user key. Its bookkeeping is keyed by job; it never
// changes a job. Not thread-safe: the list's lock guards it.
//
// Two forms live side by side in "Job_List":
//  - The journal, the truth while the program runs: one REG_BINARY value
//    "Q<slot>" a job (see StoreRecord.h), written with one call so a reader
//    finds a job whole or as it was. Adding a job writes its record,
//    removing it deletes the value, a change of copies rewrites it. Keys
//    leave gaps so an insert between two jobs takes a key between theirs;
//    where a gap has run out a window of neighbours gets keys spread over
//    the room around it, written in an order that keeps the stored order
//    at every write.
//  - The old form Job<i>_Name, Job<i>_Path, Job<i>_Copies ending at an entry
//    with empty name and path, written whole at an orderly close, so an
//    older version of the program installed again finds the queue.
// "QueueStore" (REG_DWORD) says which holds: kClosedInOrder, written last
// by the orderly close, or kJournalLive, written before the first change
// after it once the journal is in line. "QueueIndex" (REG_BINARY), written
// at the close just before the marker when the journal is in line, holds
// the fingerprint of the old form written and each job's slot and key.
// The close deletes it first, so a close cut short leaves none. After the
// marker the close writes a snapshot of the whole queue in a few values of
// the subkey "Snapshot" (StoreSnapshot.h), with the time the queue's key
// was last written and its shape: a start that finds the key unwritten
// since reads the queue from there. The time moves in clock ticks; a
// foreign write within the tick of the close is seen only when it changes
// the key's shape (adds or removes a value, or lengthens the longest).
// The old form has a file of its own (OldForm.h), so do the ordering keys
// (KeyPlanner.h); the choice of source at the start is one table
// (ChooseStart).
// At the start:
//  - kJournalLive: the program ended without its close. The journal is the
//    queue, unless an index is there and the old form no longer has its
//    fingerprint: an older version rewrote it since, and the old form wins.
//  - Anything else: the old form is the queue. A snapshot that holds (the
//    key unwritten since) gives it in a few calls; else with an index that
//    matches it the slots come from there and no record is read; else the
//    journal is brought in line with the old form (only records that differ
//    are written) before the marker says kJournalLive; an index whose
//    fingerprint differs gets the old form's own first.
// A job with empty name and empty path is never stored: the old form would
// read it as its end. A read that fails at the start is never made
// permanent: no record is deleted for it, and the close then writes
// neither form nor marker.
// A write or delete that fails is tried again at the next change and at
// the close; until the journal is in line no marker makes it the truth.
// A standard user may not write the machine key: the queue then lives in a
// per-user key, which counts only once its marker is there (the move
// writes it last); without one the machine key is read and the move starts
// over.
// The record of a copy sent, and the deletion of a finished job's record,
// reach the disk (RegFlushKey) before CopiesSent returns, which says whether
// they did: the worker starts no copy before they have.
#pragma once

#include "queue/KeyPlanner.h"
#include "queue/OldForm.h"
#include "queue/QueueRegistry.h"
#include "queue/QueuedJob.h"
#include "queue/StoreRecord.h"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

class CQueueStore {
public:
    // The list's jobs in queue order, as the store sees them.
    class IOrder {
    public:
        virtual int Count() = 0;
        virtual CQueuedJob* At(int nIndex) = 0;

    protected:
        ~IOrder() = default;
    };
    // Appends a job loaded from the store and returns it.
    using Place = std::function<CQueuedJob*(const CString& name, const CString& path, int copies)>;

    static constexpr DWORD kClosedInOrder = 1;
    static constexpr DWORD kJournalLive = 2;
    static constexpr long long kKeyGap = KeyPlanner::kKeyGap;

    // bReadOnly: the store reads and never writes (a probe of the store).
    CQueueStore(std::unique_ptr<CQueueRegistry> pRegistry, bool bReadOnly);
    CQueueStore(const CQueueStore&) = delete;
    CQueueStore& operator=(const CQueueStore&) = delete;

    // Reads the queue, calling place for each job in order, and gets the
    // journal ready for changes.
    void Open(const Place& place, IOrder& order);
    // Whether a list that may write would write the machine-wide key: no
    // per-user queue was made, and the machine key takes writes.
    static bool WritesMachineKey(CQueueRegistry& reg);
    // The job at nIndex is new in the list.
    void Inserted(IOrder& order, int nIndex);
    // The job at nIndex has moved there from elsewhere in the list: it
    // takes a key between its new neighbours' (others move when there is
    // no room) and its record is written again.
    void Moved(IOrder& order, int nIndex);
    // The job has left the list (it may be released right after).
    void Removed(const CQueuedJob* pJob);
    // The window set the job's copies.
    void SetCopies(const CQueuedJob* pJob, int nCopies);
    // The worker sent a copy: the copies left, on disk (RegFlushKey) before
    // this returns. 0 deletes the record: a finished job never comes back.
    // False when that is not known to be on disk where the next start reads
    // it (a write, delete or flush failed, or the journal is not live); the
    // same call again tries every step again.
    bool CopiesSent(const CQueuedJob* pJob, int nCopiesLeft);
    // The copies the job's record says are left.
    int StoredCopies(const CQueuedJob* pJob) const;
    // The orderly close: the old form, the index, then the marker. FALSE
    // when the old form is not the truth after it.
    BOOL Close(IOrder& order);

private:
    struct Entry {
        unsigned long long slot = 0;
        long long key = 0;
        int copies = 0;
        // A record may be stored at the slot.
        bool stored = false;
        // The stored record says what this entry says.
        bool inLine = false;
        // Empty name and empty path: never stored (the old form would read
        // it as its end).
        bool storable = true;
    };
    using Place_ = CQueueRegistry::Place;

    // The choice of source at the start, a table over what was found (see
    // ChooseStart).
    enum class StartSource { Journal, OldFormIndexed, OldFormInLine };
    struct StartChoice {
        StartSource source;
        // The index must be written again before the journal goes live.
        bool bIndexStale;
    };
    static StartChoice ChooseStart(bool bJournalLive, bool bHasIndex, bool bPrintMatches,
                                   bool bIndexFits, bool bMoving);
    // Gives every job of the old form a record that says what it says,
    // reusing the target's records position by position; false when the
    // target was not walked whole.
    bool BringInLine(IOrder& order, const std::vector<QueueRecord::Record>& recs,
                     bool bJournalRead);

    // Reading.
    DWORD ReadNumber(Place_ where, const char* name, DWORD dwDefault);
    // The old form (OldForm.h); false when a read failed (what was read
    // stands).
    bool ReadOldForm(Place_ where, std::vector<OldForm::Job>* pJobs, unsigned long long* pPrint);
    // The journal's records in key order; false when the walk failed.
    // The old form's values by lower-case name, as a walk of the key met them.
    using Walked = std::unordered_map<std::string, std::pair<DWORD, std::vector<BYTE>>>;
    // pOld: also keeps the old form's values there.
    bool ReadJournal(Place_ where, std::vector<QueueRecord::Record>* pRecs, Walked* pOld = nullptr);
    // A value from the registry, or from m_pWalked while it is set.
    CQueueRegistry::Got Get(Place_ where, const char* name, DWORD* pType, std::vector<BYTE>* pData);
    bool ReadIndex(Place_ where, QueueRecord::Index* pIndex);
    // Loads the snapshot of the last close (StoreSnapshot.h) when the key
    // has not been written since; false (nothing loaded) otherwise.
    bool OpenSnapshot(const Place& place);

    // Writing.
    Entry& Add(const CQueuedJob* pJob, int copies, const std::string& name,
               const std::string& path);
    bool WriteRecord(const CQueuedJob* pJob, Entry& e);
    bool DeleteSlot(unsigned long long slot);
    // Retries what failed; then, when the journal is in line, marks it live.
    void EnsureLive();
    // Finds every record in the target the entries do not own.
    bool Survey();
    unsigned long long NewSlot();
    bool SlotFree(unsigned long long slot);
    // Gives the job at nIndex a key between its neighbours', moving others
    // when there is no room (KeyPlanner).
    void AssignKey(IOrder& order, int nIndex);
    // New keys for every job (foreign keys that do not rise).
    void Renumber(IOrder& order);
    // The stored jobs and their keys in queue order; *pAt: where the job
    // at nNew is among them.
    void StoredKeys(IOrder& order, int nNew, std::vector<const CQueuedJob*>* pJobs,
                    std::vector<long long>* pKeys, size_t* pAt);
    // Sets the keys a plan gives, writing each record but pNew's in turn.
    void ApplyKeys(const std::vector<const CQueuedJob*>& jobs,
                   const std::vector<KeyPlanner::Step>& steps, const CQueuedJob* pNew);
    bool Pending() const { return !m_Unwritten.empty() || !m_DeleteLater.empty(); }

    std::unique_ptr<CQueueRegistry> m_pReg;
    const bool m_bReadOnly;
    // Where the queue is read from and where it is written.
    Place_ m_Read = Place_::Machine;
    Place_ m_Write = Place_::Machine;
    std::unordered_map<const CQueuedJob*, Entry> m_Entries;
    // Jobs whose record is not in line.
    std::set<const CQueuedJob*> m_Unwritten;
    // Slots whose record must go (a delete failed, or a record no job owns).
    std::set<unsigned long long> m_DeleteLater;
    // Slots held by values that are no record.
    std::set<unsigned long long> m_Held;
    unsigned long long m_nNextSlot = 1;
    // What the store knows of the key it writes, and what its marker says.
    enum class State {
        // A read at the start failed: nothing read is made permanent, no
        // record is deleted for it and the close writes neither form nor
        // marker. The journal is the truth only if its marker said so
        // before (PartialLive): then a copy's record counts.
        Partial,
        PartialLive,
        // Read whole, but not every value of the written key is known: it
        // is surveyed before the journal may become the truth.
        Unsurveyed,
        // Every value is known (records owned or to delete); the old form
        // is the truth until EnsureLive writes the marker.
        Known,
        // The marker says the journal is the queue.
        Live,
    };
    State m_State = State::Unsurveyed;
    bool Knows() const { return m_State == State::Known || m_State == State::Live; }
    // While Open reads: a read failed.
    bool m_bReadFailed = false;
    const Walked* m_pWalked = nullptr;
    // The index must be written again, with this fingerprint of the old
    // form, before the journal is marked live.
    std::optional<unsigned long long> m_staleIndexPrint;
};
