#include "queue/JobList.h"

#include "framework/Exceptions.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace {
const char kSection[] = "Job_List";
const char kStateEntry[] = "QueueStore";
const char kIndexEntry[] = "QueueIndex";

// The journal record: format, key, copies, name length, path length, then
// the name and the path bytes. All numbers little-endian.
const unsigned kRecordFormat = 1;
const size_t kRecordHeader = 4 + 8 + 4 + 4 + 4;

CString EntryName(int nIndex, const char* pszSuffix) {
    CString name;
    name.Format("Job%d%s", nIndex, pszSuffix);
    return name;
}

CString SlotName(unsigned long long slot) {
    char buf[24];
    char* p = buf + sizeof(buf);
    *--p = '\0';
    do {
        *--p = static_cast<char>('0' + slot % 10);
        slot /= 10;
    } while (slot);
    *--p = 'Q';
    return CString(p);
}

// The slot number a journal value's name carries; false for any other name.
bool ParseSlotName(const char* name, unsigned long long* pSlot) {
    if (name[0] != 'Q' || name[1] < '0' || name[1] > '9')
        return false;
    unsigned long long v = 0;
    for (const char* p = name + 1; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        const unsigned d = static_cast<unsigned>(*p - '0');
        if (v > (ULLONG_MAX - d) / 10)
            return false;
        v = v * 10 + d;
    }
    *pSlot = v;
    return true;
}

void PutLE(std::vector<BYTE>& out, unsigned long long v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<BYTE>(v >> (8 * i)));
}

unsigned long long GetLE(const BYTE* p, int bytes) {
    unsigned long long v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

// A fingerprint of the indexed form (names, paths, copies, in order), so a
// start can tell that nothing changed it since this program wrote it.
class CFingerprint {
public:
    void Add(const CString& name, const CString& path, DWORD copies) {
        Bytes(name.GetString(), static_cast<size_t>(name.GetLength()) + 1);
        Bytes(path.GetString(), static_cast<size_t>(path.GetLength()) + 1);
        const BYTE c[4] = {static_cast<BYTE>(copies), static_cast<BYTE>(copies >> 8),
                           static_cast<BYTE>(copies >> 16), static_cast<BYTE>(copies >> 24)};
        Bytes(c, 4);
        ++m_nJobs;
    }
    unsigned long long Value() const { return m_h ^ m_nJobs; }

private:
    void Bytes(const void* p, size_t n) {
        const BYTE* b = static_cast<const BYTE*>(p);
        for (size_t i = 0; i < n; ++i)
            m_h = (m_h ^ b[i]) * 0x100000001B3ull;
    }
    unsigned long long m_h = 0xCBF29CE484222325ull;
    unsigned long long m_nJobs = 0;
};

// "QueueIndex": format, fingerprint of the indexed form, next slot, job
// count, then each job's slot and key in queue order.
const size_t kIndexHeader = 4 + 8 + 8 + 4;
const size_t kIndexEntrySize = 8 + 8;

struct Record {
    unsigned long long slot = 0;
    long long key = 0;
    int copies = 0;
    CString name;
    CString path;
};

std::vector<BYTE> EncodeRecord(long long key, int copies, const CString& name,
                               const CString& path) {
    std::vector<BYTE> out;
    const size_t cbName = static_cast<size_t>(name.GetLength());
    const size_t cbPath = static_cast<size_t>(path.GetLength());
    out.reserve(kRecordHeader + cbName + cbPath);
    PutLE(out, kRecordFormat, 4);
    PutLE(out, static_cast<unsigned long long>(key), 8);
    PutLE(out, static_cast<unsigned>(copies), 4);
    PutLE(out, cbName, 4);
    PutLE(out, cbPath, 4);
    out.insert(out.end(), name.GetString(), name.GetString() + cbName);
    out.insert(out.end(), path.GetString(), path.GetString() + cbPath);
    return out;
}

// A record of another format, of the wrong size or with a zero inside a
// text is no record: it is skipped, never half read.
bool DecodeRecord(const BYTE* p, DWORD cb, Record* pRec) {
    if (cb < kRecordHeader || GetLE(p, 4) != kRecordFormat)
        return false;
    const unsigned long long cbName = GetLE(p + 16, 4);
    const unsigned long long cbPath = GetLE(p + 20, 4);
    if (kRecordHeader + cbName + cbPath != cb)
        return false;
    const char* name = reinterpret_cast<const char*>(p + kRecordHeader);
    const char* path = name + cbName;
    if (memchr(name, 0, static_cast<size_t>(cbName + cbPath)))
        return false;
    pRec->key = static_cast<long long>(GetLE(p + 4, 8));
    pRec->copies = static_cast<int>(static_cast<unsigned>(GetLE(p + 12, 4)));
    pRec->name = CString(std::string(name, static_cast<size_t>(cbName)).c_str());
    pRec->path = CString(std::string(path, static_cast<size_t>(cbPath)).c_str());
    return true;
}

CQueuedJob* NewCopy(const CQueuedJob& job) {
    CQueuedJob* p = new (std::nothrow) CQueuedJob(job);
    if (!p)
        AfxThrowMemoryException();
    return p;
}

BOOL IsBusy(CQueuedJob* pJob) {
    CLock lock(pJob->m_Lock);
    return pJob->m_bBusy;
}

// Only to read the key path the lists' store has, without making a list.
class CJobListKeyPath : public CRegistrySettings {
public:
    BOOL Save() override { return FALSE; }
    BOOL Load() override { return FALSE; }
};

// More identities than the counter has: past this many draws a copy keeps
// the identity it has (only a queue longer than the cycle gets there).
const int kMaxIdentityDraws = 36610;
} // namespace

CJobList::CJobList() {
    m_pOwner.reset(new CStoreOwner(GetKeyPath(kSection)));
    m_pKeep.reset(new CKeepOpen(*this, kSection, HKEY_LOCAL_MACHINE));
    Load();
    if (!KeptKeyTakesWrites()) {
        // The queue moved to the per-user key: keep that one open instead.
        m_pKeep.reset();
        m_pKeep.reset(new CKeepOpen(*this, kSection, HKEY_LOCAL_MACHINE));
    }
}

CJobList::~CJobList() {
    if (m_bSaveOnDestroy && OwnsStore())
        Save();
    CLock lock(m_ListLock);
    for (int i = 0; i < m_Jobs.GetSize(); ++i) {
        if (auto* pJob = JobAt(i))
            pJob->Release();
    }
    m_Jobs.RemoveAll();
}

BOOL CJobList::Save() {
    if (!OwnsStore())
        return FALSE;
    CLock lock(m_ListLock);
    CKeepOpen keep(*this, kSection, HKEY_LOCAL_MACHINE);
    BOOL ok = TRUE;
    CFingerprint print;
    const int n = m_Jobs.GetSize();
    for (int i = 0; i < n; ++i) {
        auto* pJob = JobAt(i);
        CString name, path;
        int nCopies = 0;
        if (pJob) {
            name = pJob->m_strName;
            path = pJob->m_strPath;
            // The copies still to send, as the journal has them: for a job
            // the worker is in, m_nCopies still counts the copies sent.
            nCopies = pJob->m_nStoreCopies;
        }
        ok &= WriteString(kSection, EntryName(i, "_Name"), name, HKEY_LOCAL_MACHINE);
        ok &= WriteString(kSection, EntryName(i, "_Path"), path, HKEY_LOCAL_MACHINE);
        ok &= WriteDWORD(kSection, EntryName(i, "_Copies"), static_cast<DWORD>(nCopies),
                         HKEY_LOCAL_MACHINE);
        print.Add(name, path, static_cast<DWORD>(nCopies));
    }
    // The end entry: empty name and empty path.
    ok &= WriteString(kSection, EntryName(n, "_Name"), "", HKEY_LOCAL_MACHINE);
    ok &= WriteString(kSection, EntryName(n, "_Path"), "", HKEY_LOCAL_MACHINE);
    ok &= WriteDWORD(kSection, EntryName(n, "_Copies"), 0, HKEY_LOCAL_MACHINE);
    // Only an indexed form written whole may become the truth; until then
    // the journal stays it.
    if (!ok)
        return FALSE;
    // Where each job's record is, for a start that finds the indexed form
    // as written here: it then need not read the journal back.
    if (!WriteIndex(print.Value()))
        return FALSE;
    if (!WriteDWORD(kSection, kStateEntry, kClosedInOrder, HKEY_LOCAL_MACHINE))
        return FALSE;
    m_bLive = false;
    return TRUE;
}

BOOL CJobList::Load() {
    CLock lock(m_ListLock);
    CKeepOpen keep(*this, kSection, HKEY_LOCAL_MACHINE);
    // Read from the machine key by a user who may not write it: the queue
    // moves to a per-user key, which gets every record.
    const bool moving = !KeptKeyTakesWrites();
    if (ReadDWORD(kSection, kStateEntry, 0, HKEY_LOCAL_MACHINE) == kJournalLive) {
        LoadJournal();
        if (!moving) {
            m_bLive = true;
            return TRUE;
        }
        for (int i = 0; i < m_Jobs.GetSize(); ++i)
            WriteRecord(JobAt(i));
        MarkLive();
        return TRUE;
    }
    const unsigned long long print = LoadIndexed();
    if (!moving && TakeIndex(print)) {
        MarkLive();
        return TRUE;
    }
    SyncJournal(moving);
    return TRUE;
}

BOOL CJobList::WriteIndex(unsigned long long nPrint) {
    // A journal that missed a write is not in line: the next start reads it
    // back and mends it.
    if (m_bJournalDirty)
        return DeleteValue(kSection, kIndexEntry, HKEY_LOCAL_MACHINE);
    const int n = m_Jobs.GetSize();
    std::vector<BYTE> out;
    out.reserve(kIndexHeader + kIndexEntrySize * static_cast<size_t>(n));
    PutLE(out, kRecordFormat, 4);
    PutLE(out, nPrint, 8);
    PutLE(out, m_nNextSlot, 8);
    PutLE(out, static_cast<unsigned>(n), 4);
    for (int i = 0; i < n; ++i) {
        auto* pJob = JobAt(i);
        PutLE(out, pJob ? pJob->m_nStoreSlot : 0, 8);
        PutLE(out, pJob ? static_cast<unsigned long long>(pJob->m_nStoreKey) : 0, 8);
    }
    return WriteBinary(kSection, kIndexEntry, out.data(), static_cast<DWORD>(out.size()),
                       HKEY_LOCAL_MACHINE);
}

bool CJobList::TakeIndex(unsigned long long nPrint) {
    std::vector<BYTE> in;
    if (!ReadBinary(kSection, kIndexEntry, in, HKEY_LOCAL_MACHINE) || in.size() < kIndexHeader)
        return false;
    const int n = m_Jobs.GetSize();
    if (GetLE(in.data(), 4) != kRecordFormat || GetLE(in.data() + 4, 8) != nPrint ||
        GetLE(in.data() + 20, 4) != static_cast<unsigned>(n) ||
        in.size() != kIndexHeader + kIndexEntrySize * static_cast<size_t>(n))
        return false;
    const BYTE* p = in.data() + kIndexHeader;
    long long prev = LLONG_MIN;
    for (int i = 0; i < n; ++i, p += kIndexEntrySize) {
        const long long key = static_cast<long long>(GetLE(p + 8, 8));
        if (i > 0 && key <= prev)
            return false;
        prev = key;
    }
    p = in.data() + kIndexHeader;
    for (int i = 0; i < n; ++i, p += kIndexEntrySize) {
        auto* pJob = JobAt(i);
        pJob->m_nStoreSlot = GetLE(p, 8);
        pJob->m_nStoreKey = static_cast<long long>(GetLE(p + 8, 8));
        pJob->m_bStored = true;
    }
    m_nNextSlot = GetLE(in.data() + 12, 8);
    return true;
}

unsigned long long CJobList::LoadIndexed() {
    CFingerprint print;
    // The list ends at the end entry that Save writes: name and path both
    // empty. A job whose name alone is empty is kept, and so are the jobs
    // behind it.
    for (int i = 0;; ++i) {
        const CString name = ReadString(kSection, EntryName(i, "_Name"), "", HKEY_LOCAL_MACHINE);
        const CString path = ReadString(kSection, EntryName(i, "_Path"), "", HKEY_LOCAL_MACHINE);
        if (name.IsEmpty() && path.IsEmpty()) {
            // A hole left by someone else's hands (the entry is missing, not
            // empty) must not hide the jobs stored behind it.
            const int next = NextStoredIndex(i);
            if (next < 0)
                break;
            i = next - 1;
            continue;
        }
        const DWORD copies = ReadDWORD(kSection, EntryName(i, "_Copies"), 0, HKEY_LOCAL_MACHINE);
        Place(CQueuedJob(name, path, static_cast<int>(copies)), m_Jobs.GetSize());
        print.Add(name, path, copies);
    }
    return print.Value();
}

namespace {
std::vector<Record> ReadJournal(CRegistrySettings& store, unsigned long long* pNextSlot) {
    std::vector<Record> recs;
    unsigned long long maxSlot = 0;
    store.EnumValues(kSection, HKEY_LOCAL_MACHINE,
                     [&](const char* name, DWORD type, const BYTE* data, DWORD cb) {
                         unsigned long long slot;
                         if (!ParseSlotName(name, &slot))
                             return;
                         // Any value of that name holds its slot, record or not.
                         maxSlot = std::max(maxSlot, slot);
                         Record rec;
                         if (type != REG_BINARY || !DecodeRecord(data, cb, &rec))
                             return;
                         rec.slot = slot;
                         recs.push_back(std::move(rec));
                     });
    std::sort(recs.begin(), recs.end(), [](const Record& a, const Record& b) {
        return a.key != b.key ? a.key < b.key : a.slot < b.slot;
    });
    *pNextSlot = maxSlot == ULLONG_MAX ? maxSlot : maxSlot + 1;
    return recs;
}
} // namespace

void CJobList::LoadJournal() {
    const std::vector<Record> recs = ReadJournal(*this, &m_nNextSlot);
    for (const Record& rec : recs) {
        CQueuedJob* pJob = Place(CQueuedJob(rec.name, rec.path, rec.copies), m_Jobs.GetSize());
        pJob->m_nStoreSlot = rec.slot;
        pJob->m_nStoreKey = rec.key;
        pJob->m_bStored = true;
    }
}

void CJobList::SyncJournal(bool bFresh) {
    std::vector<Record> recs = ReadJournal(*this, &m_nNextSlot);
    // A journal in a key that is left behind counts for nothing but its
    // slot numbers.
    if (bFresh)
        recs.clear();
    m_bJournalDirty = false;
    const int n = m_Jobs.GetSize();
    // Position by position: a record that already says what the indexed
    // form says stays; any other is rewritten in its slot. Until the
    // marker below is written the indexed form is the truth, so a cut here
    // costs nothing.
    bool ordered = true;
    for (int i = 0; i < n; ++i) {
        auto* pJob = JobAt(i);
        const size_t at = static_cast<size_t>(i);
        bool same = false;
        if (at < recs.size()) {
            const Record& rec = recs[at];
            pJob->m_nStoreSlot = rec.slot;
            pJob->m_nStoreKey = rec.key;
            pJob->m_bStored = true;
            same = rec.copies == pJob->m_nStoreCopies && rec.name == pJob->m_strName &&
                   rec.path == pJob->m_strPath;
        } else {
            pJob->m_nStoreSlot = m_nNextSlot++;
            pJob->m_nStoreKey = i > 0 ? JobAt(i - 1)->m_nStoreKey + kKeyGap : 0;
        }
        if (i > 0 && pJob->m_nStoreKey <= JobAt(i - 1)->m_nStoreKey)
            ordered = false;
        if (!same)
            WriteRecord(pJob);
    }
    for (size_t i = static_cast<size_t>(n); i < recs.size(); ++i)
        if (!DeleteValue(kSection, SlotName(recs[i].slot), HKEY_LOCAL_MACHINE))
            m_bJournalDirty = true;
    if (!ordered)
        Renumber(-1);
    MarkLive();
}

int CJobList::NextStoredIndex(int nIndex) {
    // Where the entry at nIndex exists it is the end entry.
    if (ValueExists(kSection, EntryName(nIndex, "_Name"), HKEY_LOCAL_MACHINE) ||
        ValueExists(kSection, EntryName(nIndex, "_Path"), HKEY_LOCAL_MACHINE))
        return -1;
    for (int i = nIndex + 1; i <= nIndex + kMaxHole; ++i) {
        if (ValueExists(kSection, EntryName(i, "_Name"), HKEY_LOCAL_MACHINE) ||
            ValueExists(kSection, EntryName(i, "_Path"), HKEY_LOCAL_MACHINE))
            return i;
    }
    return -1;
}

CQueuedJob* CJobList::Place(const CQueuedJob& job, int nIndex) {
    CQueuedJob* pCopy = NewCopy(job);
    try {
        for (int draws = 0; draws < kMaxIdentityDraws && m_IDs.count(pCopy->m_strID.GetString());
             ++draws)
            pCopy->m_strID = pCopy->NewID();
        pCopy->m_nStoreCopies = pCopy->m_nCopies;
        m_Jobs.InsertAt(nIndex, pCopy);
    } catch (...) {
        pCopy->Release();
        throw;
    }
    try {
        m_IDs.insert(pCopy->m_strID.GetString());
    } catch (...) {
        // Without room for the identity the job is still queued; only the
        // check for a repeated identity misses it.
    }
    return pCopy;
}

BOOL CJobList::WriteRecord(CQueuedJob* pJob) {
    pJob->m_bStored = true;
    const std::vector<BYTE> bytes =
        EncodeRecord(pJob->m_nStoreKey, pJob->m_nStoreCopies, pJob->m_strName, pJob->m_strPath);
    if (WriteBinary(kSection, SlotName(pJob->m_nStoreSlot), bytes.data(),
                    static_cast<DWORD>(bytes.size()), HKEY_LOCAL_MACHINE))
        return TRUE;
    m_bJournalDirty = true;
    return FALSE;
}

void CJobList::DeleteRecord(CQueuedJob* pJob) {
    if (!pJob->m_bStored)
        return;
    if (DeleteValue(kSection, SlotName(pJob->m_nStoreSlot), HKEY_LOCAL_MACHINE))
        pJob->m_bStored = false;
    else
        m_bJournalDirty = true;
}

void CJobList::MarkLive() {
    if (m_bLive)
        return;
    if (WriteDWORD(kSection, kStateEntry, kJournalLive, HKEY_LOCAL_MACHINE))
        m_bLive = true;
}

void CJobList::AssignKey(int nIndex) {
    const int n = m_Jobs.GetSize();
    auto keyAt = [this](int i) { return JobAt(i)->m_nStoreKey; };
    auto* pJob = JobAt(nIndex);
    const bool hasPrev = nIndex > 0;
    const bool hasNext = nIndex + 1 < n;
    if (!hasPrev && !hasNext) {
        pJob->m_nStoreKey = 0;
        return;
    }
    if (hasPrev && !hasNext) {
        const long long prev = keyAt(nIndex - 1);
        if (prev <= LLONG_MAX - kKeyGap) {
            pJob->m_nStoreKey = prev + kKeyGap;
            return;
        }
    } else if (!hasPrev) {
        const long long next = keyAt(nIndex + 1);
        if (next >= LLONG_MIN + kKeyGap) {
            pJob->m_nStoreKey = next - kKeyGap;
            return;
        }
    } else {
        const long long prev = keyAt(nIndex - 1), next = keyAt(nIndex + 1);
        if (next > prev &&
            static_cast<unsigned long long>(next) - static_cast<unsigned long long>(prev) >= 2) {
            pJob->m_nStoreKey = prev + (next - prev) / 2;
            return;
        }
    }
    Renumber(nIndex);
}

void CJobList::Renumber(int nNew) {
    // Every job gets a new key kKeyGap apart. The stored order must hold at
    // every write: above every old key the tail is written first, below
    // every old key the head first. The job at nNew is not stored yet.
    const int n = m_Jobs.GetSize();
    long long lo = LLONG_MAX, hi = LLONG_MIN;
    for (int i = 0; i < n; ++i) {
        if (i == nNew)
            continue;
        lo = std::min(lo, JobAt(i)->m_nStoreKey);
        hi = std::max(hi, JobAt(i)->m_nStoreKey);
    }
    if (lo > hi)
        lo = hi = 0;
    const long long span = static_cast<long long>(n + 1) * kKeyGap;
    if (hi <= LLONG_MAX - span) {
        for (int i = n - 1; i >= 0; --i) {
            JobAt(i)->m_nStoreKey = hi + static_cast<long long>(i + 1) * kKeyGap;
            WriteRecord(JobAt(i));
        }
    } else if (lo >= LLONG_MIN + span) {
        for (int i = 0; i < n; ++i) {
            JobAt(i)->m_nStoreKey = lo - static_cast<long long>(n - i) * kKeyGap;
            WriteRecord(JobAt(i));
        }
    } else {
        // Unreachable in practice (keys would have to span the whole range).
        for (int i = 0; i < n; ++i) {
            JobAt(i)->m_nStoreKey = static_cast<long long>(i) * kKeyGap;
            WriteRecord(JobAt(i));
        }
    }
}

void CJobList::Add(const CQueuedJob& job) {
    CLock lock(m_ListLock);
    InsertAt(job, m_Jobs.GetSize());
}

void CJobList::InsertAt(const CQueuedJob& job, int nIndex) {
    CLock lock(m_ListLock);
    if (nIndex < 0 || nIndex > m_Jobs.GetSize())
        AfxThrowInvalidArgException();
    CQueuedJob* pJob = Place(job, nIndex);
    pJob->m_nStoreSlot = m_nNextSlot < ULLONG_MAX ? m_nNextSlot++ : m_nNextSlot;
    MarkLive();
    AssignKey(nIndex);
    WriteRecord(pJob);
}

void CJobList::RemoveAt(int nIndex) {
    CQueuedJob* pJob;
    {
        CLock lock(m_ListLock);
        if (nIndex < 0 || nIndex >= m_Jobs.GetSize())
            AfxThrowInvalidArgException();
        pJob = JobAt(nIndex);
        if (pJob)
            EnterCriticalSection(&pJob->m_Lock);
        m_Jobs.RemoveAt(nIndex);
        if (pJob)
            LeaveCriticalSection(&pJob->m_Lock);
        if (pJob) {
            const auto it = m_IDs.find(pJob->m_strID.GetString());
            if (it != m_IDs.end())
                m_IDs.erase(it);
            MarkLive();
            DeleteRecord(pJob);
        }
    }
    if (pJob)
        pJob->Release();
}

int CJobList::IndexOfID(const CString& strID) {
    CLock lock(m_ListLock);
    if (strID.IsEmpty() || !m_IDs.count(strID.GetString()))
        return -1;
    for (int i = 0; i < m_Jobs.GetSize(); ++i) {
        auto* pJob = JobAt(i);
        if (pJob && pJob->m_strID == strID)
            return i;
    }
    return -1;
}

CQueuedJob* CJobList::FindByID(const CString& strID) {
    CLock lock(m_ListLock);
    const int nIndex = IndexOfID(strID);
    return nIndex < 0 ? nullptr : JobAt(nIndex);
}

int CJobList::GetCount() {
    CLock lock(m_ListLock);
    return m_Jobs.GetSize();
}

CQueuedJob* CJobList::GetAt(int nIndex) {
    CLock lock(m_ListLock);
    return JobAt(nIndex);
}

CQueuedJob* CJobList::TakeHead() {
    CLock lock(m_ListLock);
    if (m_Jobs.GetSize() == 0)
        return nullptr;
    auto* pJob = JobAt(0);
    if (!pJob)
        return nullptr;
    CLock jobLock(pJob->m_Lock);
    pJob->m_bBusy = TRUE;
    return pJob;
}

BOOL CJobList::RemoveJob(CQueuedJob* pJob) {
    CLock lock(m_ListLock);
    for (int i = 0; i < m_Jobs.GetSize(); ++i) {
        if (m_Jobs.GetAt(i) == pJob) {
            RemoveAt(i);
            return TRUE;
        }
    }
    return FALSE;
}

void CJobList::RecordCopiesLeft(CQueuedJob* pJob, int nCopiesLeft) {
    CLock lock(m_ListLock);
    if (!pJob || pJob->m_nStoreCopies == nCopiesLeft)
        return;
    pJob->m_nStoreCopies = nCopiesLeft;
    MarkLive();
    // A job with nothing left to send is finished: its record goes now, so
    // no restart can bring it back, whenever the worker removes it.
    if (nCopiesLeft <= 0)
        DeleteRecord(pJob);
    else
        WriteRecord(pJob);
}

BOOL CJobList::RemoveIdleAt(int nIndex) {
    CLock lock(m_ListLock);
    if (nIndex < 0 || nIndex >= m_Jobs.GetSize())
        return FALSE;
    auto* pJob = JobAt(nIndex);
    if (pJob && IsBusy(pJob))
        return FALSE;
    RemoveAt(nIndex);
    return TRUE;
}

BOOL CJobList::SetCopiesIdleAt(int nIndex, int nCopies) {
    CLock lock(m_ListLock);
    if (nIndex < 0 || nIndex >= m_Jobs.GetSize())
        return FALSE;
    auto* pJob = JobAt(nIndex);
    if (!pJob)
        return FALSE;
    {
        CLock jobLock(pJob->m_Lock);
        if (pJob->m_bBusy)
            return FALSE;
        pJob->m_nCopies = nCopies;
    }
    if (pJob->m_nStoreCopies != nCopies) {
        pJob->m_nStoreCopies = nCopies;
        MarkLive();
        WriteRecord(pJob);
    }
    return TRUE;
}

CString CJobList::StoreKeyPath() {
    CJobListKeyPath path;
    return path.GetKeyPath(kSection);
}

BOOL CJobList::WriteString(LPCSTR lpszSection, LPCSTR lpszEntry, LPCSTR lpszValue, HKEY hRoot) {
    return OwnsStore() && CRegistrySettings::WriteString(lpszSection, lpszEntry, lpszValue, hRoot);
}

BOOL CJobList::WriteDWORD(LPCSTR lpszSection, LPCSTR lpszEntry, DWORD dwValue, HKEY hRoot) {
    return OwnsStore() && CRegistrySettings::WriteDWORD(lpszSection, lpszEntry, dwValue, hRoot);
}

BOOL CJobList::WriteBinary(LPCSTR lpszSection, LPCSTR lpszEntry, const void* pData, DWORD cb,
                           HKEY hRoot) {
    return OwnsStore() && CRegistrySettings::WriteBinary(lpszSection, lpszEntry, pData, cb, hRoot);
}

BOOL CJobList::DeleteValue(LPCSTR lpszSection, LPCSTR lpszEntry, HKEY hRoot) {
    return OwnsStore() && CRegistrySettings::DeleteValue(lpszSection, lpszEntry, hRoot);
}
