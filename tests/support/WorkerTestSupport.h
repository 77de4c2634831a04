// For tests that run the worker without a window: an owner that only
// counts what the worker tells it, and the head job's fields read under the
// queue's locks (list, then job).
#pragma once

#include "framework/Sync.h"
#include "printloop/PrintLoopOwner.h"
#include "queue/JobList.h"

#include <atomic>
#include <string>

class CountingOwner : public IPrintLoopOwner {
public:
    HWND GetJobListBox() override { return nullptr; }
    void RequestRefreshJobList() override { ++refreshes; }
    void NotifyWorkerStopped() override { ++stops; }
    HWND GetMessageBoxOwner() override { return nullptr; }
    std::atomic<int> refreshes{0}, stops{0};
};

// The head job's status text, or "<none>" for an empty queue.
inline std::string HeadStatus(CJobList& list) {
    CLock lock(list.GetListLock());
    if (list.GetCount() == 0)
        return "<none>";
    CQueuedJob* pJob = list.GetAt(0);
    CLock jobLock(pJob->m_Lock);
    return pJob->m_strStatus.GetString();
}

// The head job's copies, or -1 for an empty queue.
inline int HeadCopies(CJobList& list) {
    CLock lock(list.GetListLock());
    if (list.GetCount() == 0)
        return -1;
    CQueuedJob* pJob = list.GetAt(0);
    CLock jobLock(pJob->m_Lock);
    return pJob->m_nCopies;
}
