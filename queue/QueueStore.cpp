#include "queue/QueueStore.h"

#include "queue/KeyPlanner.h"
#include "queue/OldForm.h"
#include "queue/StoreSnapshot.h"

#include <algorithm>
#include <climits>

using namespace QueueRecord;

namespace {
const char kStateEntry[] = "QueueStore";
const char kIndexEntry[] = "QueueIndex";
bool Storable(const std::string& name, const std::string& path) {
    return !name.empty() || !path.empty();
}
std::string Lower(const char* name) {
    std::string s(name);
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

} // namespace

CQueueStore::CQueueStore(std::unique_ptr<CQueueRegistry> pRegistry, bool bReadOnly)
    : m_pReg(std::move(pRegistry)), m_bReadOnly(bReadOnly) {}

DWORD CQueueStore::ReadNumber(Place_ where, const char* name, DWORD dwDefault) {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    const auto got = Get(where, name, &type, &data);
    return OldForm::StoredNumber(got, type, data, dwDefault);
}

CQueueRegistry::Got CQueueStore::Get(Place_ where, const char* name, DWORD* pType,
                                     std::vector<BYTE>* pData) {
    if (!m_pWalked)
        return m_pReg->Read(where, name, pType, pData);
    const auto it = m_pWalked->find(Lower(name));
    if (it == m_pWalked->end()) {
        pData->clear();
        return CQueueRegistry::Got::Missing;
    }
    *pType = it->second.first;
    *pData = it->second.second;
    return CQueueRegistry::Got::Value;
}

bool CQueueStore::ReadOldForm(Place_ where, std::vector<OldForm::Job>* pJobs,
                              unsigned long long* pPrint) {
    const bool ok =
        OldForm::Read([&](const char* name, DWORD* pType,
                          std::vector<BYTE>* pData) { return Get(where, name, pType, pData); },
                      pJobs, pPrint);
    if (!ok)
        m_bReadFailed = true;
    return ok;
}

bool CQueueStore::ReadJournal(Place_ where, std::vector<Record>* pRecs, Walked* pOld) {
    unsigned long long maxSlot = 0;
    const bool ok =
        m_pReg->Enum(where, [&](const char* name, DWORD type, const BYTE* data, DWORD cb) {
            if (pOld && (name[0] == 'J' || name[0] == 'j')) {
                // The old form's values, met on the way.
                (*pOld)[Lower(name)] = {type, std::vector<BYTE>(data, data + cb)};
                return;
            }
            unsigned long long slot;
            if (!ParseSlotName(name, &slot))
                return;
            maxSlot = std::max(maxSlot, slot);
            Record rec;
            if (type != REG_BINARY || !Decode(data, cb, &rec)) {
                // Any value of that name holds its slot, record or not.
                m_Held.insert(slot);
                return;
            }
            rec.slot = slot;
            pRecs->push_back(std::move(rec));
        });
    std::sort(pRecs->begin(), pRecs->end(), [](const Record& a, const Record& b) {
        return a.key != b.key ? a.key < b.key : a.slot < b.slot;
    });
    m_nNextSlot = std::max(m_nNextSlot, maxSlot + 1);
    return ok;
}

bool CQueueStore::ReadIndex(Place_ where, Index* pIndex) {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    return m_pReg->Read(where, kIndexEntry, &type, &data) == CQueueRegistry::Got::Value &&
           type == REG_BINARY && DecodeIndex(data.data(), data.size(), pIndex);
}

CQueueStore::Entry& CQueueStore::Add(const CQueuedJob* pJob, int copies, const std::string& name,
                                     const std::string& path) {
    Entry& e = m_Entries[pJob];
    e = Entry();
    e.copies = copies;
    e.storable = Storable(name, path);
    return e;
}

namespace {
// A per-user queue counts once its marker is there (the move writes it last).
bool UserQueueMade(CQueueRegistry& reg) {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    return reg.Read(CQueueRegistry::Place::User, kStateEntry, &type, &data) ==
           CQueueRegistry::Got::Value;
}
} // namespace

bool CQueueStore::WritesMachineKey(CQueueRegistry& reg) {
    return !UserQueueMade(reg) && reg.Writable(Place_::Machine);
}

CQueueStore::StartChoice CQueueStore::ChooseStart(bool bJournalLive, bool bHasIndex,
                                                  bool bPrintMatches, bool bIndexFits,
                                                  bool bMoving) {
    // marker  index  old form has   moving  the queue is
    //                the index's
    //                fingerprint
    // live    none   -              any     the journal
    // live    yes    yes (or        any     the journal
    //                unreadable)
    // live    yes    no             no      the old form, in line; index stale
    // live    yes    no             yes     the old form, in line
    // closed  yes    yes, and as    no      the old form, slots from the index
    //                many jobs
    // closed  yes    no             no      the old form, in line; index stale
    // closed  other cases                   the old form, in line
    if (bJournalLive && (!bHasIndex || bPrintMatches))
        return {StartSource::Journal, false};
    if (!bJournalLive && !bMoving && bHasIndex && bPrintMatches && bIndexFits)
        return {StartSource::OldFormIndexed, false};
    return {StartSource::OldFormInLine, bHasIndex && !bPrintMatches && !bMoving};
}

void CQueueStore::Open(const Place& place, IOrder& order) {
    // Where the queue is.
    const bool userDone = UserQueueMade(*m_pReg);
    bool moving = false;
    if (userDone) {
        m_Read = m_Write = Place_::User;
    } else if (m_bReadOnly || m_pReg->Writable(Place_::Machine)) {
        m_Read = m_Write = Place_::Machine;
    } else {
        // A user who may not write the machine key: the queue moves to a
        // per-user key, which gets every record and then its marker.
        m_Read = Place_::Machine;
        m_Write = Place_::User;
        moving = true;
    }

    m_bReadFailed = false;
    const DWORD marker = ReadNumber(m_Read, kStateEntry, 0);
    if (!moving && marker == kClosedInOrder && OpenSnapshot(place)) {
        m_State = State::Known;
        if (!m_bReadOnly)
            EnsureLive();
        return;
    }
    const bool journalLive = marker == kJournalLive;
    std::vector<Record> recs;
    std::vector<OldForm::Job> old;
    unsigned long long print = 0;
    Index index;
    const bool hasIndex = ReadIndex(m_Read, &index);
    // Whether the old form still has our last close's fingerprint; a live
    // journal is read first, and the old form from the values its walk met.
    bool printMatches = false;
    if (journalLive) {
        Walked walked;
        if (!ReadJournal(m_Read, &recs, hasIndex ? &walked : nullptr))
            m_bReadFailed = true;
        if (hasIndex) {
            // A failed read of the old form counts only when it wins.
            const bool failedBefore = m_bReadFailed;
            m_pWalked = &walked;
            const bool ok = ReadOldForm(m_Read, &old, &print) && !failedBefore;
            m_pWalked = nullptr;
            printMatches = !ok || print == index.print;
            if (printMatches)
                m_bReadFailed = failedBefore;
        }
    } else {
        ReadOldForm(m_Read, &old, &print);
        printMatches = hasIndex && print == index.print;
    }
    const StartChoice choice = ChooseStart(journalLive, hasIndex, printMatches,
                                           hasIndex && index.jobs.size() == old.size(), moving);
    bool known = false, live = false;
    if (choice.source == StartSource::Journal) {
        for (const Record& rec : recs) {
            if (!Storable(rec.name, rec.path)) {
                // Read as the end of the old form, it would hide every job
                // behind it: dropped.
                m_DeleteLater.insert(rec.slot);
                continue;
            }
            CQueuedJob* pJob = place(rec.name.c_str(), rec.path.c_str(), rec.copies);
            Entry& e = Add(pJob, rec.copies, rec.name, rec.path);
            e.slot = rec.slot;
            e.key = rec.key;
            e.stored = true;
            e.inLine = !moving;
            if (moving)
                m_Unwritten.insert(pJob);
        }
        // Keys must rise strictly for the order to be kept; equal keys
        // (foreign data) are put right by a renumbering.
        for (int i = 1; i < order.Count(); ++i) {
            if (m_Entries[order.At(i)].key <= m_Entries[order.At(i - 1)].key) {
                if (!m_bReadOnly)
                    Renumber(order);
                break;
            }
        }
        known = !moving;
        live = !moving;
    } else {
        for (const OldForm::Job& job : old) {
            CQueuedJob* pJob =
                place(job.name.c_str(), job.path.c_str(), static_cast<int>(job.copies));
            Add(pJob, static_cast<int>(job.copies), job.name, job.path);
        }
        if (choice.source == StartSource::OldFormIndexed) {
            // Nothing changed the old form since our close: the journal is
            // as the index says.
            for (int i = 0; i < order.Count(); ++i) {
                Entry& e = m_Entries[order.At(i)];
                e.slot = index.jobs[static_cast<size_t>(i)].first;
                e.key = index.jobs[static_cast<size_t>(i)].second;
                e.stored = e.inLine = true;
            }
            m_nNextSlot = index.nextSlot;
            known = true;
        } else {
            known = BringInLine(order, recs, journalLive);
            // The index of our last close no longer says what the old form
            // holds: once the journal is live, a start after a crash must
            // still tell whether anyone rewrote the old form since.
            if (choice.bIndexStale)
                m_staleIndexPrint = print;
        }
    }
    m_State = m_bReadFailed ? (live ? State::PartialLive : State::Partial)
              : live        ? State::Live
              : known       ? State::Known
                            : State::Unsurveyed;
    if (m_bReadOnly)
        return;
    EnsureLive();
}

bool CQueueStore::BringInLine(IOrder& order, const std::vector<Record>& recs, bool bJournalRead) {
    // Position by position, a record that already says what the old form
    // says stays; any other is written in its slot. Until the marker is
    // written the old form is the truth, so a cut here costs nothing.
    std::vector<Record> target;
    bool surveyed = false;
    if (bJournalRead && m_Write == m_Read) {
        target = recs;
        surveyed = !m_bReadFailed;
    } else {
        surveyed = ReadJournal(m_Write, &target);
    }
    const int n = order.Count();
    size_t at = 0;
    for (int i = 0; i < n; ++i) {
        const CQueuedJob* pJob = order.At(i);
        Entry& e = m_Entries[pJob];
        if (!e.storable)
            continue;
        if (at < target.size()) {
            const Record& rec = target[at++];
            e.slot = rec.slot;
            e.key = rec.key;
            e.stored = true;
            e.inLine = rec.copies == e.copies && rec.name == pJob->m_strName.GetString() &&
                       rec.path == pJob->m_strPath.GetString();
        } else {
            e.slot = NewSlot();
        }
        if (!e.inLine)
            m_Unwritten.insert(pJob);
    }
    for (; at < target.size(); ++at)
        m_DeleteLater.insert(target[at].slot);
    // New slots take keys behind the last; any order the records had not
    // is put right.
    long long prev = LLONG_MIN;
    bool ordered = true;
    for (int i = 0; i < n; ++i) {
        Entry& e = m_Entries[order.At(i)];
        if (!e.storable)
            continue;
        if (!e.stored) {
            if (prev == LLONG_MIN)
                e.key = 0;
            else if (prev <= LLONG_MAX - kKeyGap)
                e.key = prev + kKeyGap;
            else
                ordered = false;
        }
        if (prev != LLONG_MIN && e.key <= prev)
            ordered = false;
        prev = e.key;
    }
    if (!ordered && !m_bReadOnly)
        Renumber(order);
    return surveyed;
}

bool CQueueStore::OpenSnapshot(const Place& place) {
    Snapshot snap;
    if (!StoreSnapshot::Read(*m_pReg, m_Read, &snap))
        return false;
    for (Record& rec : snap.jobs) {
        CQueuedJob* pJob = place(rec.name.c_str(), rec.path.c_str(), rec.copies);
        Entry& e = Add(pJob, rec.copies, rec.name, rec.path);
        e.slot = rec.slot;
        e.key = rec.key;
        e.stored = e.inLine = true;
        // Freed as the jobs are placed: their texts reuse the memory.
        std::string().swap(rec.name);
        std::string().swap(rec.path);
    }
    m_nNextSlot = snap.nextSlot;
    return true;
}

bool CQueueStore::Survey() {
    std::vector<Record> recs;
    if (!ReadJournal(m_Write, &recs))
        return false;
    std::set<unsigned long long> owned;
    for (const auto& it : m_Entries)
        if (it.second.stored)
            owned.insert(it.second.slot);
    for (const Record& rec : recs)
        if (!owned.count(rec.slot))
            m_DeleteLater.insert(rec.slot);
    m_State = State::Known;
    return true;
}

void CQueueStore::EnsureLive() {
    if (m_bReadOnly)
        return;
    for (auto it = m_DeleteLater.begin(); it != m_DeleteLater.end();) {
        if (m_pReg->Delete(m_Write, SlotName(*it).c_str()))
            it = m_DeleteLater.erase(it);
        else
            ++it;
    }
    // WriteRecord keeps m_Unwritten: walk a copy.
    const std::vector<const CQueuedJob*> unwritten(m_Unwritten.begin(), m_Unwritten.end());
    for (const CQueuedJob* pJob : unwritten) {
        const auto e = m_Entries.find(pJob);
        if (e == m_Entries.end())
            m_Unwritten.erase(pJob);
        else
            WriteRecord(pJob, e->second);
    }
    if (m_State != State::Unsurveyed && m_State != State::Known)
        return;
    // The journal becomes the truth only once it holds the queue and
    // nothing else.
    if (m_State == State::Unsurveyed && !Survey())
        return;
    if (!m_DeleteLater.empty()) {
        for (auto it = m_DeleteLater.begin(); it != m_DeleteLater.end();) {
            if (m_pReg->Delete(m_Write, SlotName(*it).c_str()))
                it = m_DeleteLater.erase(it);
            else
                ++it;
        }
    }
    if (Pending())
        return;
    if (m_staleIndexPrint) {
        Index index;
        index.print = *m_staleIndexPrint;
        index.nextSlot = m_nNextSlot;
        const std::vector<BYTE> bytes = EncodeIndex(index);
        if (!m_pReg->Write(m_Write, kIndexEntry, REG_BINARY, bytes.data(),
                           static_cast<DWORD>(bytes.size())))
            return;
        m_staleIndexPrint.reset();
    }
    if (m_pReg->Write(m_Write, kStateEntry, REG_DWORD, &kJournalLive, sizeof(kJournalLive)))
        m_State = State::Live;
}

bool CQueueStore::WriteRecord(const CQueuedJob* pJob, Entry& e) {
    if (!e.storable)
        return true;
    Record rec;
    rec.key = e.key;
    rec.copies = e.copies;
    rec.name = pJob->m_strName.GetString();
    rec.path = pJob->m_strPath.GetString();
    const std::vector<BYTE> bytes = Encode(rec);
    e.stored = true;
    e.inLine = m_pReg->Write(m_Write, SlotName(e.slot).c_str(), REG_BINARY, bytes.data(),
                             static_cast<DWORD>(bytes.size()));
    if (e.inLine)
        m_Unwritten.erase(pJob);
    else
        m_Unwritten.insert(pJob);
    return e.inLine;
}

bool CQueueStore::DeleteSlot(unsigned long long slot) {
    if (m_pReg->Delete(m_Write, SlotName(slot).c_str())) {
        m_DeleteLater.erase(slot);
        return true;
    }
    m_DeleteLater.insert(slot);
    return false;
}

bool CQueueStore::SlotFree(unsigned long long slot) {
    if (m_Held.count(slot) || m_DeleteLater.count(slot))
        return false;
    if (!Knows()) {
        // Some values were never read: only a slot seen empty is free.
        DWORD type;
        std::vector<BYTE> data;
        if (m_pReg->Read(m_Write, SlotName(slot).c_str(), &type, &data) !=
            CQueueRegistry::Got::Missing)
            return false;
    }
    return true;
}

unsigned long long CQueueStore::NewSlot() {
    while (m_nNextSlot < kSlotLimit) {
        const unsigned long long slot = m_nNextSlot++;
        if (SlotFree(slot))
            return slot;
    }
    // Slots ran out (foreign data took the last ones): the lowest free one.
    std::vector<unsigned long long> used;
    used.reserve(m_Entries.size());
    for (const auto& it : m_Entries)
        if (it.second.stored)
            used.push_back(it.second.slot);
    std::sort(used.begin(), used.end());
    unsigned long long slot = 1;
    for (const unsigned long long u : used) {
        if (u > slot)
            break;
        if (u == slot)
            ++slot;
    }
    // The stored bookkeeping is only a lower bound; step over what else
    // holds a slot.
    while (slot + 1 < kSlotLimit &&
           (!SlotFree(slot) || std::binary_search(used.begin(), used.end(), slot)))
        ++slot;
    return slot;
}

void CQueueStore::Inserted(IOrder& order, int nIndex) {
    if (m_bReadOnly) {
        CQueuedJob* pJob = order.At(nIndex);
        Add(pJob, pJob->m_nCopies, pJob->m_strName.GetString(), pJob->m_strPath.GetString());
        return;
    }
    CQueuedJob* pJob = order.At(nIndex);
    Entry& e = Add(pJob, pJob->m_nCopies, pJob->m_strName.GetString(), pJob->m_strPath.GetString());
    EnsureLive();
    if (!e.storable)
        return;
    e.slot = NewSlot();
    AssignKey(order, nIndex);
    WriteRecord(pJob, m_Entries[pJob]);
}

void CQueueStore::Moved(IOrder& order, int nIndex) {
    const CQueuedJob* pJob = order.At(nIndex);
    const auto it = m_Entries.find(pJob);
    if (it == m_Entries.end() || !it->second.storable)
        return;
    if (m_bReadOnly)
        return;
    EnsureLive();
    AssignKey(order, nIndex);
    WriteRecord(pJob, m_Entries[pJob]);
}

void CQueueStore::Removed(const CQueuedJob* pJob) {
    const auto it = m_Entries.find(pJob);
    if (it == m_Entries.end())
        return;
    const Entry e = it->second;
    m_Entries.erase(it);
    m_Unwritten.erase(pJob);
    if (m_bReadOnly)
        return;
    EnsureLive();
    if (e.stored)
        DeleteSlot(e.slot);
}

void CQueueStore::SetCopies(const CQueuedJob* pJob, int nCopies) {
    const auto it = m_Entries.find(pJob);
    if (it == m_Entries.end() || it->second.copies == nCopies)
        return;
    it->second.copies = nCopies;
    if (m_bReadOnly)
        return;
    EnsureLive();
    WriteRecord(pJob, it->second);
}

bool CQueueStore::CopiesSent(const CQueuedJob* pJob, int nCopiesLeft) {
    const auto it = m_Entries.find(pJob);
    if (it == m_Entries.end())
        return true;
    Entry& e = it->second;
    e.copies = nCopiesLeft;
    // A store that keeps nothing for the job promises nothing.
    if (m_bReadOnly || !e.storable)
        return true;
    // Called again with the same count when the last call failed: every
    // step is tried again.
    EnsureLive();
    bool bDone;
    if (nCopiesLeft <= 0) {
        // Finished: its record goes now, so no restart brings it back,
        // whenever the job leaves the list.
        m_Unwritten.erase(pJob);
        if (e.stored && DeleteSlot(e.slot))
            e.stored = false;
        e.inLine = true;
        bDone = !e.stored;
    } else {
        bDone = WriteRecord(pJob, e);
    }
    // On disk before the next copy starts: a power cut must not send it
    // again, nor bring back a finished job. Only a live journal is where the
    // next start looks.
    const bool bFlushed = m_pReg->Flush(m_Write);
    return bDone && bFlushed && (m_State == State::Live || m_State == State::PartialLive);
}

int CQueueStore::StoredCopies(const CQueuedJob* pJob) const {
    const auto it = m_Entries.find(pJob);
    return it == m_Entries.end() ? 0 : it->second.copies;
}

BOOL CQueueStore::Close(IOrder& order) {
    if (m_bReadOnly)
        return TRUE;
    // A store not read whole is left as it was found.
    if (m_State == State::Partial || m_State == State::PartialLive)
        return FALSE;
    EnsureLive();
    // First the index goes: a close cut short leaves none, and a start
    // then takes the journal (marker still live) or this old form.
    if (!m_pReg->Delete(m_Write, kIndexEntry))
        return FALSE;
    Index index;
    std::vector<Record> snapshot;
    std::vector<OldForm::Job> old;
    for (int i = 0; i < order.Count(); ++i) {
        const CQueuedJob* pJob = order.At(i);
        const auto it = m_Entries.find(pJob);
        if (it == m_Entries.end() || !it->second.storable)
            continue;
        Record rec;
        rec.slot = it->second.slot;
        rec.key = it->second.key;
        // The copies still to send, as the journal has them: for a job the
        // worker is in, the job's own count still holds the copies sent.
        rec.copies = it->second.copies;
        rec.name = pJob->m_strName.GetString();
        rec.path = pJob->m_strPath.GetString();
        old.push_back({rec.name, rec.path, static_cast<DWORD>(rec.copies)});
        index.jobs.emplace_back(rec.slot, rec.key);
        snapshot.push_back(std::move(rec));
    }
    unsigned long long print = 0;
    const bool ok = OldForm::Write(*m_pReg, m_Write, old, &print);
    // Only an old form written whole may become the truth; until then the
    // journal stays it.
    if (!ok)
        return FALSE;
    // Where each job's record is, for a start that finds this old form: it
    // then reads no record. Only while the journal is in line.
    bool indexed = false;
    if (Knows() && !Pending()) {
        // Every value of the key is known: the next start's slots follow
        // the highest job's, however high a foreign value pushed them (a
        // slot such a value still holds is stepped over when it comes).
        unsigned long long top = 0;
        for (const auto& entry : m_Entries)
            if (entry.second.stored)
                top = std::max(top, entry.second.slot);
        m_nNextSlot = top + 1;
        index.print = print;
        index.nextSlot = m_nNextSlot;
        const std::vector<BYTE> bytes = EncodeIndex(index);
        indexed = m_pReg->Write(m_Write, kIndexEntry, REG_BINARY, bytes.data(),
                                static_cast<DWORD>(bytes.size()));
    }
    if (!m_pReg->Write(m_Write, kStateEntry, REG_DWORD, &kClosedInOrder, sizeof(kClosedInOrder)))
        return FALSE;
    // The old form is the truth again.
    if (m_State == State::Live)
        m_State = State::Known;
    // The whole queue in a few values, for a start that finds the key as
    // it is now.
    if (indexed)
        StoreSnapshot::Write(*m_pReg, m_Write, snapshot, m_nNextSlot);
    return TRUE;
}

void CQueueStore::AssignKey(IOrder& order, int nIndex) {
    // Neighbours that are stored: an unstorable job has no key.
    auto storedAt = [&](int i) -> Entry* {
        Entry& e = m_Entries[order.At(i)];
        return e.storable ? &e : nullptr;
    };
    Entry* prevE = nullptr;
    Entry* nextE = nullptr;
    for (int i = nIndex - 1; i >= 0 && !prevE; --i)
        prevE = storedAt(i);
    for (int i = nIndex + 1; i < order.Count() && !nextE; ++i)
        nextE = storedAt(i);
    Entry& e = m_Entries[order.At(nIndex)];
    if (const auto key =
            KeyPlanner::KeyBetween(prevE ? &prevE->key : nullptr, nextE ? &nextE->key : nullptr)) {
        e.key = *key;
        return;
    }
    // No room between the neighbours: others move, a window of them or all.
    std::vector<const CQueuedJob*> jobs;
    std::vector<long long> keys;
    size_t at = 0;
    StoredKeys(order, nIndex, &jobs, &keys, &at);
    std::vector<KeyPlanner::Step> steps = KeyPlanner::PlanAround(keys, at);
    if (steps.empty())
        steps = KeyPlanner::PlanWhole(keys, static_cast<int>(at));
    ApplyKeys(jobs, steps, jobs[at]);
}

void CQueueStore::Renumber(IOrder& order) {
    std::vector<const CQueuedJob*> jobs;
    std::vector<long long> keys;
    StoredKeys(order, -1, &jobs, &keys, nullptr);
    ApplyKeys(jobs, KeyPlanner::PlanWhole(keys, -1), nullptr);
}

void CQueueStore::StoredKeys(IOrder& order, int nNew, std::vector<const CQueuedJob*>* pJobs,
                             std::vector<long long>* pKeys, size_t* pAt) {
    for (int i = 0; i < order.Count(); ++i) {
        const CQueuedJob* pJob = order.At(i);
        const Entry& e = m_Entries[pJob];
        if (!e.storable)
            continue;
        if (i == nNew && pAt)
            *pAt = pJobs->size();
        pJobs->push_back(pJob);
        pKeys->push_back(e.key);
    }
}

void CQueueStore::ApplyKeys(const std::vector<const CQueuedJob*>& jobs,
                            const std::vector<KeyPlanner::Step>& steps, const CQueuedJob* pNew) {
    for (const KeyPlanner::Step& step : steps) {
        const CQueuedJob* pJob = jobs[step.index];
        Entry& e = m_Entries[pJob];
        e.key = step.key;
        // The new job's record is written after its key is set.
        if (pJob != pNew)
            WriteRecord(pJob, e);
    }
}
