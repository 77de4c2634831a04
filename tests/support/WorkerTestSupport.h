// For tests that run the worker without a window: an owner that only
// counts what the worker tells it, the head job's fields read under the
// queue's locks (list, then job), and a fixture that owns the queue, the
// settings and the worker. Threads: the fixture's members belong to the
// test's thread, except the message boxes, which the worker adds to under
// boxMutex.
#pragma once

#include "framework/MessageBox.h"
#include "framework/Sync.h"
#include "printloop/PrintLoopOwner.h"
#include "queue/JobList.h"
#include "settings/SpoolerSetup.h"
#include "support/RegistryFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class CountingOwner : public IPrintLoopOwner {
public:
    HWND GetJobListBox() override { return nullptr; }
    void RequestRefreshJobList() override { ++refreshes; }
    void NotifyWorkerStopped() override { ++stops; }
    HWND GetMessageBoxOwner() override {
        if (onBoxOwner)
            onBoxOwner();
        return nullptr;
    }
    void RecordHistory(const CHistoryEntry& entry) override {
        std::lock_guard<std::mutex> lock(pagesMutex);
        results.push_back(entry.result);
    }
    void NotifyRetry(RetryNews n, const CString& reason) override {
        static const char* const names[] = {"failing", "back", "given up"};
        std::lock_guard<std::mutex> lock(pagesMutex);
        news.push_back(std::string(names[static_cast<int>(n)]) + ": " + reason.GetString());
    }
    // The history's results and the retry news, in order.
    std::vector<std::string> Results() {
        std::lock_guard<std::mutex> lock(pagesMutex);
        return results;
    }
    std::vector<std::string> News() {
        std::lock_guard<std::mutex> lock(pagesMutex);
        return news;
    }
    void OnJobPagesCounted(unsigned long nToken, std::optional<unsigned long> pages) override {
        std::lock_guard<std::mutex> lock(pagesMutex);
        counted.emplace_back(nToken, pages);
    }
    std::vector<std::pair<unsigned long, std::optional<unsigned long>>> Counted() {
        std::lock_guard<std::mutex> lock(pagesMutex);
        return counted;
    }
    std::atomic<int> refreshes{0}, stops{0};
    // Runs on the worker's thread when it asks for the boxes' owner.
    std::function<void()> onBoxOwner;

private:
    std::mutex pagesMutex;
    std::vector<std::pair<unsigned long, std::optional<unsigned long>>> counted;
    std::vector<std::string> results, news;
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

// A clean program key, an empty queue, settings to fill in and, once the
// test made it, a worker of type Loop; the worker's message boxes are
// answered at once and kept (every one must be a plain OK box). TearDown
// stops the worker for good, which must come back within its bound, before
// the queue goes.
template <typename Loop> class WorkerTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        list = std::make_unique<CJobList>();
        SetMessageBoxHandler([this](HWND, const char* text, const char*, UINT type) {
            EXPECT_EQ(type, static_cast<UINT>(MB_OK));
            std::lock_guard<std::mutex> lock(boxMutex);
            boxes.push_back(text);
            return IDOK;
        });
    }
    void TearDown() override {
        if (loop) {
            EXPECT_TRUE(loop->StopForGood());
        }
        loop.reset();
        list.reset();
        SetMessageBoxHandler(nullptr);
        RegistryTest::TearDown();
    }
    // Makes the worker with these arguments after the owner, the queue and
    // the settings, and starts its thread.
    template <typename... Extra> void StartLoop(int nPriority, Extra... extra) {
        loop = std::make_unique<Loop>(&owner, list.get(), &setup, extra...);
        ASSERT_TRUE(loop->CreateThread(CREATE_SUSPENDED));
        loop->SetThreadPriority(nPriority);
        loop->ResumeThread();
    }
    // Between the cases of one test: the worker stopped for good and gone,
    // the queue, the boxes and the owner's counts empty again. False when
    // the worker did not stop within its bound.
    bool StartOver() {
        if (loop && !loop->StopForGood())
            return false;
        loop.reset();
        while (list->GetCount())
            list->RemoveAt(0);
        ClearBoxes();
        owner.refreshes = 0;
        owner.stops = 0;
        owner.onBoxOwner = nullptr;
        return true;
    }
    std::vector<std::string> Boxes() {
        std::lock_guard<std::mutex> lock(boxMutex);
        return boxes;
    }
    int BoxCount() { return static_cast<int>(Boxes().size()); }
    void ClearBoxes() {
        std::lock_guard<std::mutex> lock(boxMutex);
        boxes.clear();
    }
    std::string HeadStatus() { return ::HeadStatus(*list); }
    int HeadCopies() { return ::HeadCopies(*list); }

    CountingOwner owner;
    CSpoolerSetup setup;
    std::unique_ptr<CJobList> list;
    std::unique_ptr<Loop> loop;

private:
    std::mutex boxMutex;
    std::vector<std::string> boxes;
};
