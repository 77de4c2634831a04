#include "queue/QueuedJob.h"

#include <atomic>

namespace {
// Process-wide identity counter; only NewID touches it.
std::atomic<int> g_nLastID{0};
const int kLastIDBeforeWrap = 36608; // 0x8F00: the highest value that is still increased
} // namespace

CQueuedJob::CQueuedJob(const CString& strName, const CString& strPath, int nCopies) {
    Init();
    m_strName = strName;
    m_strPath = strPath;
    m_nCopies = nCopies;
}

CQueuedJob::CQueuedJob(const CQueuedJob& other) {
    Init();
    CopyFrom(other);
}

CQueuedJob::~CQueuedJob() = default;

void CQueuedJob::Release() {
    m_Lock.Lock();
    m_Lock.Unlock();
    delete this;
}

void CQueuedJob::Init() {
    m_strName.Empty();
    m_strPath.Empty();
    m_strStatus.Empty();
    m_strID = NewID();
    m_nCopies = 1;
    m_bBusy = FALSE;
}

CString CQueuedJob::NewID() {
    int current = g_nLastID.load();
    int next;
    do {
        next = current <= kLastIDBeforeWrap ? current + 1 : 0;
    } while (!g_nLastID.compare_exchange_weak(current, next));
    CString id;
    id.Format("QueuedJob ID%d", next);
    return id;
}

void CQueuedJob::CopyFrom(const CQueuedJob& other) {
    m_strName = other.m_strName;
    m_strPath = other.m_strPath;
    m_strStatus = other.m_strStatus;
    m_bBusy = other.m_bBusy;
    m_bHeld = other.m_bHeld;
    m_strID = other.m_strID;
    m_nCopies = other.m_nCopies;
}
