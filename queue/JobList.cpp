#include "queue/JobList.h"

#include "framework/Exceptions.h"

#include <new>

namespace {
const char kSection[] = "Job_List";

CString EntryName(int nIndex, const char* pszSuffix) {
    CString name;
    name.Format("Job%d%s", nIndex, pszSuffix);
    return name;
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
} // namespace

CJobList::CJobList() {
    Load();
}

CJobList::~CJobList() {
    Save();
    CLock lock(m_ListLock);
    for (int i = 0; i < m_Jobs.GetSize(); ++i) {
        if (auto* pJob = static_cast<CQueuedJob*>(m_Jobs.GetAt(i)))
            pJob->Release();
    }
    m_Jobs.RemoveAll();
}

BOOL CJobList::Save() {
    CLock lock(m_ListLock);
    CKeepOpen keep(*this, kSection, HKEY_LOCAL_MACHINE);
    const int n = m_Jobs.GetSize();
    for (int i = 0; i < n; ++i) {
        auto* pJob = static_cast<CQueuedJob*>(m_Jobs.GetAt(i));
        CString name, path;
        int nCopies = 0;
        if (pJob) {
            CLock jobLock(pJob->m_Lock);
            name = pJob->m_strName;
            path = pJob->m_strPath;
            nCopies = pJob->m_nCopies;
        }
        WriteString(kSection, EntryName(i, "_Name"), name, HKEY_LOCAL_MACHINE);
        WriteString(kSection, EntryName(i, "_Path"), path, HKEY_LOCAL_MACHINE);
        WriteDWORD(kSection, EntryName(i, "_Copies"), static_cast<DWORD>(nCopies),
                   HKEY_LOCAL_MACHINE);
    }
    // The end entry: empty name and empty path.
    WriteString(kSection, EntryName(n, "_Name"), "", HKEY_LOCAL_MACHINE);
    WriteString(kSection, EntryName(n, "_Path"), "", HKEY_LOCAL_MACHINE);
    WriteDWORD(kSection, EntryName(n, "_Copies"), 0, HKEY_LOCAL_MACHINE);
    return TRUE;
}

BOOL CJobList::Load() {
    CKeepOpen keep(*this, kSection, HKEY_LOCAL_MACHINE);
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
        const CQueuedJob job(name, path, static_cast<int>(copies));
        Add(job);
    }
    return TRUE;
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

void CJobList::Add(const CQueuedJob& job) {
    CLock lock(m_ListLock);
    InsertAt(job, m_Jobs.GetSize());
}

void CJobList::InsertAt(const CQueuedJob& job, int nIndex) {
    CLock lock(m_ListLock);
    if (nIndex < 0 || nIndex > m_Jobs.GetSize())
        AfxThrowInvalidArgException();
    CQueuedJob* pCopy = NewCopy(job);
    try {
        m_Jobs.InsertAt(nIndex, pCopy);
    } catch (...) {
        pCopy->Release();
        throw;
    }
}

void CJobList::RemoveAt(int nIndex) {
    CQueuedJob* pJob;
    {
        CLock lock(m_ListLock);
        if (nIndex < 0 || nIndex >= m_Jobs.GetSize())
            AfxThrowInvalidArgException();
        pJob = static_cast<CQueuedJob*>(m_Jobs.GetAt(nIndex));
        if (pJob)
            EnterCriticalSection(&pJob->m_Lock);
        m_Jobs.RemoveAt(nIndex);
        if (pJob)
            LeaveCriticalSection(&pJob->m_Lock);
    }
    if (pJob)
        pJob->Release();
}

CQueuedJob* CJobList::FindByID(const CString& strID) {
    CLock lock(m_ListLock);
    for (int i = 0; i < m_Jobs.GetSize(); ++i) {
        auto* pJob = static_cast<CQueuedJob*>(m_Jobs.GetAt(i));
        if (pJob && pJob->m_strID == strID)
            return pJob;
    }
    return nullptr;
}

int CJobList::GetCount() {
    CLock lock(m_ListLock);
    return m_Jobs.GetSize();
}

CQueuedJob* CJobList::GetAt(int nIndex) {
    CLock lock(m_ListLock);
    return static_cast<CQueuedJob*>(m_Jobs.GetAt(nIndex));
}

CQueuedJob* CJobList::TakeHead() {
    CLock lock(m_ListLock);
    if (m_Jobs.GetSize() == 0)
        return nullptr;
    auto* pJob = static_cast<CQueuedJob*>(m_Jobs.GetAt(0));
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

BOOL CJobList::RemoveIdleAt(int nIndex) {
    CLock lock(m_ListLock);
    if (nIndex < 0 || nIndex >= m_Jobs.GetSize())
        return FALSE;
    auto* pJob = static_cast<CQueuedJob*>(m_Jobs.GetAt(nIndex));
    if (pJob && IsBusy(pJob))
        return FALSE;
    RemoveAt(nIndex);
    return TRUE;
}

BOOL CJobList::SetCopiesIdleAt(int nIndex, int nCopies) {
    CLock lock(m_ListLock);
    if (nIndex < 0 || nIndex >= m_Jobs.GetSize())
        return FALSE;
    auto* pJob = static_cast<CQueuedJob*>(m_Jobs.GetAt(nIndex));
    if (!pJob)
        return FALSE;
    CLock jobLock(pJob->m_Lock);
    if (pJob->m_bBusy)
        return FALSE;
    pJob->m_nCopies = nCopies;
    return TRUE;
}
