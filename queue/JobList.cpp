#include "queue/JobList.h"

#include "settings/RegistrySettings.h"

#include "framework/Exceptions.h"

#include <functional>
#include <new>
#include <string_view>

namespace {
const char kSection[] = "Job_List";

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

// An identity as the list keeps it: its text's hash. Two identities that
// share one only cost a fresh draw, or a look along the list.
size_t IdKey(const CString& strID) {
    return std::hash<std::string_view>()(
        std::string_view(strID.GetString(), static_cast<size_t>(strID.GetLength())));
}

// More identities than the counter has: past this many draws a copy keeps
// the identity it has (only a queue longer than the cycle gets there).
const int kMaxIdentityDraws = 36610;
} // namespace

CJobList::CJobList() : CJobList(nullptr) {}

CJobList::CJobList(std::unique_ptr<CQueueRegistry> pRegistry, Access access) {
    if (!pRegistry)
        pRegistry.reset(new CQueueRegistry(StoreKeyPath()));
    if (access == Access::ReadWrite) {
        const auto scope = CQueueStore::WritesMachineKey(*pRegistry) ? CStoreOwner::Scope::Machine
                                                                     : CStoreOwner::Scope::User;
        m_pOwner.reset(new CStoreOwner(StoreKeyPath(), scope));
        if (!m_pOwner->Owns())
            access = Access::ReadOnly;
    }
    m_pStore.reset(new CQueueStore(std::move(pRegistry), access == Access::ReadOnly));
    if (access == Access::ReadOnly)
        m_bSaveOnDestroy = false;
    Load();
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
    return m_pStore->Close(*this);
}

BOOL CJobList::Load() {
    CLock lock(m_ListLock);
    m_pStore->Open(
        [this](const CString& name, const CString& path, int copies) {
            CQueuedJob* pJob = Place(CQueuedJob(name, path, copies), m_Jobs.GetSize());
            // Shown held from the start, not only once the worker passes it.
            if (pJob && !CQueuedJob::CopiesInRange(copies))
                HoldOutOfRange(pJob);
            return pJob;
        },
        *this);
    return TRUE;
}

CQueuedJob* CJobList::Place(const CQueuedJob& job, int nIndex) {
    CQueuedJob* pCopy = NewCopy(job);
    try {
        for (int draws = 0; draws < kMaxIdentityDraws && m_IDs.count(IdKey(pCopy->m_strID));
             ++draws)
            pCopy->m_strID = pCopy->NewID();
        m_Jobs.InsertAt(nIndex, pCopy);
    } catch (...) {
        pCopy->Release();
        throw;
    }
    try {
        m_IDs.insert(IdKey(pCopy->m_strID));
    } catch (...) {
        // Without room for the identity the job is still queued; only the
        // check for a repeated identity misses it.
    }
    return pCopy;
}

void CJobList::Add(const CQueuedJob& job) {
    CLock lock(m_ListLock);
    InsertAt(job, m_Jobs.GetSize());
}

void CJobList::InsertAt(const CQueuedJob& job, int nIndex) {
    CLock lock(m_ListLock);
    if (nIndex < 0 || nIndex > m_Jobs.GetSize())
        AfxThrowInvalidArgException();
    Place(job, nIndex);
    m_pStore->Inserted(*this, nIndex);
}

void CJobList::RemoveAt(int nIndex) {
    CQueuedJob* pJob;
    {
        CLock lock(m_ListLock);
        if (nIndex < 0 || nIndex >= m_Jobs.GetSize())
            AfxThrowInvalidArgException();
        pJob = JobAt(nIndex);
        if (pJob)
            pJob->m_Lock.Lock();
        m_Jobs.RemoveAt(nIndex);
        if (pJob)
            pJob->m_Lock.Unlock();
        if (pJob) {
            const auto it = m_IDs.find(IdKey(pJob->m_strID));
            if (it != m_IDs.end())
                m_IDs.erase(it);
            m_pStore->Removed(pJob);
        }
    }
    if (pJob)
        pJob->Release();
}

int CJobList::IndexOfID(const CString& strID) {
    CLock lock(m_ListLock);
    if (strID.IsEmpty() || !m_IDs.count(IdKey(strID)))
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

CQueuedJob* CJobList::FirstReady(bool bTake) {
    CLock lock(m_ListLock);
    for (int i = 0; i < m_Jobs.GetSize(); ++i) {
        auto* pJob = JobAt(i);
        if (!pJob)
            continue;
        CLock jobLock(pJob->m_Lock);
        if (!CQueuedJob::CopiesInRange(pJob->m_nCopies))
            HoldOutOfRange(pJob);
        if (pJob->m_bHeld)
            continue;
        if (bTake)
            pJob->m_bBusy = TRUE;
        return pJob;
    }
    return nullptr;
}

CQueuedJob* CJobList::TakeHead() {
    return FirstReady(true);
}

bool CJobList::HasReadyJob() {
    return FirstReady(false) != nullptr;
}

void CJobList::ReleaseHolds() {
    CLock lock(m_ListLock);
    for (int i = 0; i < m_Jobs.GetSize(); ++i) {
        auto* pJob = JobAt(i);
        if (!pJob)
            continue;
        CLock jobLock(pJob->m_Lock);
        // A count out of range stays held until it is corrected.
        if (!pJob->m_bHeld || !CQueuedJob::CopiesInRange(pJob->m_nCopies))
            continue;
        pJob->m_bHeld = false;
        pJob->m_strStatus.Empty();
    }
}

void CJobList::HoldOutOfRange(CQueuedJob* pJob) {
    pJob->m_bHeld = true;
    pJob->m_strStatus = kCopiesOutOfRange;
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

bool CJobList::RecordCopiesLeft(CQueuedJob* pJob, int nCopiesLeft) {
    CLock lock(m_ListLock);
    return !pJob || m_pStore->CopiesSent(pJob, nCopiesLeft);
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

int CJobList::MoveIdle(int nIndex, int nStep) {
    CLock lock(m_ListLock);
    const int nTo = nIndex + nStep;
    if ((nStep != -1 && nStep != 1) || nIndex < 0 || nIndex >= m_Jobs.GetSize() || nTo < 0 ||
        nTo >= m_Jobs.GetSize())
        return -1;
    // The worker marks a job busy only under the list's lock, so neither
    // job can be taken between this check and the move.
    CQueuedJob* pJob = JobAt(nIndex);
    CQueuedJob* pOther = JobAt(nTo);
    if (!pJob || !pOther || IsBusy(pJob) || IsBusy(pOther))
        return -1;
    m_Jobs.SetAt(nTo, pJob);
    m_Jobs.SetAt(nIndex, pOther);
    m_pStore->Moved(*this, nTo);
    return nTo;
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
        if (!CQueuedJob::CopiesInRange(nCopies)) {
            HoldOutOfRange(pJob);
        } else if (pJob->m_bHeld) {
            pJob->m_bHeld = false;
            pJob->m_strStatus.Empty();
        }
    }
    m_pStore->SetCopies(pJob, nCopies);
    return TRUE;
}

CStoreOwner::Scope CJobList::StoreScope() {
    CQueueRegistry registry(StoreKeyPath());
    return CQueueStore::WritesMachineKey(registry) ? CStoreOwner::Scope::Machine
                                                   : CStoreOwner::Scope::User;
}

CString CJobList::StoreKeyPath() {
    CJobListKeyPath path;
    return path.GetKeyPath(kSection);
}
