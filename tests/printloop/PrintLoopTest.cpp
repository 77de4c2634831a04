// The worker without any window: the outcomes of a pass, progress texts,
// Start/Stop, waiting for work and stopping for good, against a recording
// output that can fail on demand.
#include "framework/Exceptions.h"
#include "framework/MessageBox.h"
#include "printloop/PrintLoopThread.h"
#include "support/RegistryFixture.h"
#include "support/RandomBytes.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"
#include "support/WorkerTestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Closing the window ends the worker within 5 s, whatever the output does;
// the rest is scheduling slack for a loaded machine.
constexpr ULONGLONG kCloseLimitMs = 5000 + 1000;

// What the output saw and how it should misbehave. Copies count from 1 in
// the order the worker opens them.
struct Output {
    std::mutex m;
    std::vector<std::string> calls;    // "open", "send 16384", "close", "abort"
    std::vector<std::string> statuses; // the head job's text at each send and close
    std::vector<std::string> asking;   // the head job's text at each question and open
    std::vector<std::string> documents;
    int opened = 0;
    int sends = 0;
    int failOpenOnCopy = 0;
    int failSendNumber = 0; // counts every send of the run, from 1
    int failCloseOnCopy = 0;
    int failOpensUpTo = 0; // every open numbered up to this fails
    std::string failText;  // what the printer says of its failures
    // The worker's clock when the test runs it (fakeClock): each wait moves
    // it on at once, unless frozen (then a wait lasts until something wakes
    // the worker). openTimes: the clock at each open.
    std::atomic<bool> fakeClock{false}, frozen{false};
    std::atomic<ULONGLONG> now{0};
    std::vector<ULONGLONG> openTimes;
    // What the printer says before each copy, in turn (the last one
    // repeats); empty: it cannot be asked.
    std::vector<std::pair<PrinterState, std::string>> states;
    int asked = 0;
    std::function<void(int asked)> onAsk;
    std::function<void(int send)> onSend;
    std::function<void(int copy)> onClose;
    std::function<void()> onAbort;
    // Threads that called Abort (the worker's or the window's).
    std::vector<DWORD> abortThreads;
    // What the open printer says it waits for (GetWaitText), and the
    // threads that asked.
    std::string waitText;
    std::vector<DWORD> waitTextThreads;
    // The printer's page counter, raised by one at each close; without
    // bCounter the output has none.
    bool bCounter = false;
    std::atomic<uint64_t> pageCounter{0};

    void Log(const std::string& s) {
        std::lock_guard<std::mutex> lock(m);
        calls.push_back(s);
    }
    std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(m);
        return calls;
    }
};

class FakePrinter : public CPrinter {
public:
    FakePrinter(Output& out, CJobList& list) : m_out(out), m_list(list) {}
    BOOL Open(CSpoolerSetup*, CString) override {
        m_out.Log("open");
        std::lock_guard<std::mutex> lock(m_out.m);
        m_out.asking.push_back(HeadStatus(m_list));
        m_copy = ++m_out.opened;
        m_out.openTimes.push_back(m_out.now);
        return m_copy != m_out.failOpenOnCopy && m_copy > m_out.failOpensUpTo;
    }
    CString GetFailureText() override { return m_out.failText.c_str(); }
    int Send_Data(const void* p, int n) override {
        m_out.Log("send " + std::to_string(n));
        int number;
        {
            std::lock_guard<std::mutex> lock(m_out.m);
            number = ++m_out.sends;
            m_out.statuses.push_back(HeadStatus(m_list));
        }
        if (m_out.onSend)
            m_out.onSend(number);
        if (number == m_out.failSendNumber || m_bAborted)
            return -1;
        m_doc.append(static_cast<const char*>(p), static_cast<size_t>(n));
        return n;
    }
    PrinterState QueryState(CSpoolerSetup*, CString& strText) override {
        int number;
        PrinterState state;
        {
            std::lock_guard<std::mutex> lock(m_out.m);
            m_out.asking.push_back(HeadStatus(m_list));
            if (m_out.states.empty())
                return PrinterState::Unknown;
            const size_t i = std::min(static_cast<size_t>(m_out.asked), m_out.states.size() - 1);
            number = ++m_out.asked;
            strText = m_out.states[i].second.c_str();
            state = m_out.states[i].first;
        }
        if (m_out.onAsk)
            m_out.onAsk(number);
        return state;
    }
    CString GetWaitText() override {
        std::lock_guard<std::mutex> lock(m_out.m);
        m_out.waitTextThreads.push_back(GetCurrentThreadId());
        return CString(m_out.waitText.c_str());
    }
    std::unique_ptr<IPageCountSource> MakePageCountSource(CSpoolerSetup*) override {
        struct Source : IPageCountSource {
            explicit Source(Output& o) : out(o) {}
            bool Read(uint64_t& nPages, bool& bIdle) override {
                nPages = out.pageCounter;
                bIdle = true;
                return true;
            }
            Output& out;
        };
        return m_out.bCounter ? std::make_unique<Source>(m_out) : nullptr;
    }
    BOOL Close() override {
        if (m_out.onClose)
            m_out.onClose(m_copy);
        ++m_out.pageCounter;
        m_out.Log("close");
        std::lock_guard<std::mutex> lock(m_out.m);
        m_out.statuses.push_back(HeadStatus(m_list));
        m_out.documents.push_back(m_doc);
        return m_copy != m_out.failCloseOnCopy;
    }
    BOOL Abort() override {
        m_bAborted = true;
        m_out.Log("abort");
        {
            std::lock_guard<std::mutex> lock(m_out.m);
            m_out.abortThreads.push_back(GetCurrentThreadId());
        }
        if (m_out.onAbort)
            m_out.onAbort();
        return TRUE;
    }

private:
    Output& m_out;
    CJobList& m_list;
    std::string m_doc;
    int m_copy = 0;
    std::atomic<bool> m_bAborted{false};
};

class TestLoop : public CPrintLoopThread {
public:
    TestLoop(CountingOwner* owner, CJobList* list, CSpoolerSetup* setup, Output* out)
        : CPrintLoopThread(owner, list, setup), m_out(out), m_list(list) {}

protected:
    CPrinter* MakePrinter(CSpoolerSetup* setup) override {
        if (!m_out)
            return CPrintLoopThread::MakePrinter(setup);
        return new FakePrinter(*m_out, *m_list);
    }
    ULONGLONG Now() override {
        return m_out && m_out->fakeClock ? m_out->now.load() : GetTickCount64();
    }
    void WaitForWake(DWORD dwMs) override {
        if (!m_out || !m_out->fakeClock || m_out->frozen)
            return CPrintLoopThread::WaitForWake(dwMs);
        m_out->now += dwMs;
        CPrintLoopThread::WaitForWake(0);
    }

private:
    Output* m_out;
    CJobList* m_list;
};

class PrintLoopTest : public WorkerTest<TestLoop> {
protected:
    void StartWorker(Output* out) { StartLoop(THREAD_PRIORITY_IDLE, out); }
    void Queue(const char* name, const char* path, int copies) {
        list->Add(CQueuedJob(name, path, copies));
        if (loop)
            loop->NotifyQueueChanged();
    }
    // The worker has settled: stopped with an idle head, or emptied the queue.
    bool Settled() {
        CLock lock(list->GetListLock());
        if (list->GetCount() == 0)
            return true;
        CQueuedJob* head = list->GetAt(0);
        CLock jobLock(head->m_Lock);
        return !loop->IsRunning() && !head->m_bBusy;
    }
};

TEST_F(PrintLoopTest, EveryCopyArrivesWholeAndTheJobLeaves) {
    const auto bytes = RandomBytes(40000, 1);
    TempFile file("morvane-loop-a.bin", bytes);
    Output out;
    Queue("a", file.path(), 3);
    Queue("b", file.path(), 1);
    StartWorker(&out);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }));
    EXPECT_TRUE(loop->IsRunning());
    ASSERT_EQ(out.documents.size(), 4u);
    for (const auto& doc : out.documents)
        EXPECT_TRUE(doc == std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(owner.refreshes.load(), 2);
    EXPECT_EQ(BoxCount(), 0);

    // Copy 2 of job a: chunks of 16384, 16384 and 7232 bytes; the text is
    // written after each chunk went out.
    const std::vector<std::string> copy2(out.statuses.begin() + 4, out.statuses.begin() + 8);
    EXPECT_EQ(copy2, (std::vector<std::string>{"Spooling 1 of 3   100%", "Spooling 2 of 3   40%",
                                               "Spooling 2 of 3   81%", "Spooling 2 of 3   100%"}));
    EXPECT_EQ(out.Calls()[1], "send 16384");
    EXPECT_EQ(out.Calls()[3], "send 7232");
}

TEST_F(PrintLoopTest, EmptyFileOpensAndClosesWithoutText) {
    TempFile file("morvane-loop-empty.bin", "");
    Output out;
    Queue("empty", file.path(), 2);
    StartWorker(&out);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }));
    EXPECT_EQ(out.Calls(), (std::vector<std::string>{"open", "close", "open", "close"}));
    EXPECT_EQ(out.statuses, (std::vector<std::string>{"", ""}));
}

// A count of 0 or less (a damaged store) is no job done: it is held, never
// sent, never dropped, and the worker goes on with the next job.
TEST_F(PrintLoopTest, ZeroCopiesAreHeldWithoutOutput) {
    TempFile file("morvane-loop-zero.bin", RandomBytes(10, 2));
    Output out;
    Queue("none", file.path(), 0);
    Queue("negative", file.path(), -3);
    Queue("one", file.path(), 1);
    StartWorker(&out);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 2; }));
    EXPECT_EQ(out.Calls(), (std::vector<std::string>{"open", "send 10", "close"}));
    EXPECT_STREQ(list->GetAt(0)->GetStatus(), "Held: copies out of range");
    EXPECT_STREQ(list->GetAt(1)->GetStatus(), "Held: copies out of range");
    EXPECT_EQ(BoxCount(), 0);
    EXPECT_TRUE(loop->IsRunning());
}

// A registry that refuses flushes while the count lasts, or every write of
// the journal's marker (the journal never goes live).
class RefusingRegistry : public CQueueRegistry {
public:
    RefusingRegistry(std::atomic<int>& flushes, bool bMarker)
        : CQueueRegistry(CJobList::StoreKeyPath()), m_flushes(flushes), m_bMarker(bMarker) {}
    bool Flush(Place place) override {
        return m_flushes.fetch_sub(1) <= 0 && CQueueRegistry::Flush(place);
    }
    bool Write(Place place, const char* name, DWORD type, const void* p, DWORD cb) override {
        return !(m_bMarker && strcmp(name, "QueueStore") == 0) &&
               CQueueRegistry::Write(place, name, type, p, cb);
    }

private:
    std::atomic<int>& m_flushes;
    const bool m_bMarker;
};

// No copy starts while the record of the one before is not known to be on
// disk: a record that fails is tried again; one that never gets there
// stops the queue with a message, the job keeping the copies not sent.
TEST_F(PrintLoopTest, NoCopyStartsBeforeTheLastOneIsOnRecord) {
    TempFile file("morvane-loop-record.bin", RandomBytes(1000, 12));
    const struct {
        const char* name;
        int flushRefusals;
        bool bMarker;
        size_t documents;
        int keeps; // copies left in the queue, 0: the job is gone
    } rows[] = {
        {"two flushes refused, then on disk", 2, false, 3, 0},
        {"never on disk", 1 << 20, false, 1, 2},
        {"the journal never goes live", 0, true, 1, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(StartOver());
        list.reset();
        std::atomic<int> refusals{0};
        list =
            std::make_unique<CJobList>(std::make_unique<RefusingRegistry>(refusals, row.bMarker));
        Output out;
        out.fakeClock = true; // the waits between tries take no time
        Queue("labels", file.path(), 3);
        refusals = row.flushRefusals;
        StartWorker(&out);
        loop->SetRunning(TRUE);
        ASSERT_TRUE(WaitFor([&] { return Settled(); }, 15000));
        EXPECT_EQ(out.documents.size(), row.documents);
        if (row.keeps) {
            EXPECT_EQ(HeadCopies(), row.keeps);
            EXPECT_FALSE(loop->IsRunning());
            ASSERT_EQ(Boxes().size(), 1u);
            EXPECT_NE(Boxes()[0].find("could not record"), std::string::npos);
            EXPECT_EQ(owner.Results().back(), "Failed: Copy sent but not recorded");
        } else {
            EXPECT_EQ(list->GetCount(), 0);
            EXPECT_EQ(BoxCount(), 0);
        }
        ASSERT_TRUE(loop->StopForGood());
        loop.reset();
        refusals = 0;
        list.reset();
        list = std::make_unique<CJobList>();
    }
}

// A failed copy is not counted as printed: the job keeps it and every copy
// behind it, the worker stops and says so once.
TEST_F(PrintLoopTest, FailedCopiesStayInTheQueue) {
    const auto bytes = RandomBytes(40000, 3);
    TempFile file("morvane-loop-fail.bin", bytes);

    struct Case {
        const char* what;
        int copies;
        std::function<void(Output&)> arm;
        int keeps;
    };
    const Case cases[] = {
        {"open of copy 2 fails", 3, [](Output& o) { o.failOpenOnCopy = 2; }, 2},
        {"single copy cannot open", 1, [](Output& o) { o.failOpenOnCopy = 1; }, 1},
        {"second chunk refused", 3, [](Output& o) { o.failSendNumber = 2; }, 3},
        {"document cannot be ended", 2, [](Output& o) { o.failCloseOnCopy = 2; }, 1},
        {"out of memory in the middle of copy 2", 3,
         [](Output& o) {
             o.onSend = [](int send) {
                 if (send == 4)
                     AfxThrowMemoryException();
             };
         },
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Output out;
        c.arm(out);
        Queue("job", file.path(), c.copies);
        Queue("behind", file.path(), 1);
        StartWorker(&out);
        loop->SetRunning(TRUE);
        ASSERT_TRUE(WaitFor([&] { return BoxCount() == 1 && Settled(); }));
        EXPECT_EQ(HeadCopies(), c.keeps);
        EXPECT_EQ(list->GetCount(), 2);
        EXPECT_STREQ(list->GetAt(0)->GetStatus(), "");
        EXPECT_FALSE(loop->IsRunning());
        EXPECT_EQ(owner.stops.load(), 1);
        EXPECT_EQ(Boxes()[0], "Print Job Failed");
        ASSERT_TRUE(StartOver());
    }
}

TEST_F(PrintLoopTest, RefusedChunkEndsTheCopyAtOnce) {
    TempFile file("morvane-loop-refused.bin", RandomBytes(40000, 4));
    Output out;
    out.failSendNumber = 1;
    Queue("job", file.path(), 1);
    StartWorker(&out);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return BoxCount() == 1 && Settled(); }));
    // No further chunk after the refused one, and the document is dropped,
    // never ended (ending it would print the part that got through).
    EXPECT_EQ(out.Calls(), (std::vector<std::string>{"open", "send 16384", "abort"}));
    EXPECT_EQ(HeadCopies(), 1);
}

TEST_F(PrintLoopTest, MissingFileFailsWithoutOpeningTheOutput) {
    Output out;
    Queue("gone", "C:\\no\\such\\file.prn", 3);
    StartWorker(&out);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return BoxCount() == 1 && Settled(); }));
    EXPECT_TRUE(out.Calls().empty());
    EXPECT_EQ(HeadCopies(), 3);
}

// Files that cannot be read whole fail the copy and keep the job: a folder,
// a file another program holds open without sharing, a file that is gone.
TEST_F(PrintLoopTest, UnreadableFilesFailAndKeepTheJob) {
    TempFile locked("morvane-loop-locked.bin", RandomBytes(1000, 12));
    HANDLE hold = CreateFileA(locked.path(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hold, INVALID_HANDLE_VALUE);
    const std::string folder = TempPath("morvane-loop-folder");
    CreateDirectoryA(folder.c_str(), nullptr);

    for (const std::string& path :
         {std::string(locked.path()), folder, TempPath("morvane-loop-vanished.bin")}) {
        SCOPED_TRACE(path);
        Output out;
        Queue("job", path.c_str(), 2);
        StartWorker(&out);
        loop->SetRunning(TRUE);
        ASSERT_TRUE(WaitFor([&] { return BoxCount() == 1 && Settled(); }));
        EXPECT_EQ(HeadCopies(), 2);
        EXPECT_TRUE(out.documents.empty());
        ASSERT_TRUE(StartOver());
    }
    CloseHandle(hold);
    RemoveDirectoryA(folder.c_str());
}

TEST_F(PrintLoopTest, StopTakesEffectBetweenCopies) {
    const auto bytes = RandomBytes(40000, 5);
    TempFile file("morvane-loop-stop.bin", bytes);
    Output out;
    // Stop is pressed while the second copy is on its way.
    out.onSend = [&](int send) {
        if (send == 5)
            loop->SetRunning(FALSE);
    };
    Queue("job", file.path(), 3);
    StartWorker(&out);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return Settled(); }));
    ASSERT_EQ(out.documents.size(), 2u);
    EXPECT_TRUE(out.documents[1] == std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(HeadCopies(), 1);
    EXPECT_STREQ(list->GetAt(0)->GetStatus(), "");
    EXPECT_EQ(BoxCount(), 0);
    EXPECT_EQ(owner.stops.load(), 0);

    // Start again: the remaining copy goes out and the job leaves.
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }));
    EXPECT_EQ(out.documents.size(), 3u);
}

TEST_F(PrintLoopTest, WaitingWorkerTakesANewJobAtOnce) {
    TempFile file("morvane-loop-wait.bin", RandomBytes(100, 6));
    Output out;
    StartWorker(&out);
    loop->SetRunning(TRUE);
    Sleep(100);
    Queue("late", file.path(), 1);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }, 5000));
    Queue("later", file.path(), 2);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }, 5000));
    EXPECT_EQ(out.documents.size(), 3u);
    EXPECT_TRUE(loop->IsRunning());
}

TEST_F(PrintLoopTest, StoppedWorkerLeavesTheQueueAlone) {
    TempFile file("morvane-loop-idle.bin", RandomBytes(100, 7));
    Output out;
    Queue("job", file.path(), 1);
    StartWorker(&out);
    Sleep(200);
    EXPECT_TRUE(out.Calls().empty());
    EXPECT_EQ(HeadCopies(), 1);
    EXPECT_FALSE(list->GetAt(0)->m_bBusy);
}

// Closing the program while the output hangs: the stop aborts the document
// from a thread other than the worker's, and returns within the promised
// time whether the output lets the worker go at once, late (a slow spooler
// abort) or not at all; the document in progress is never ended, nothing
// else is sent, and the job keeps the copies not completely sent.
TEST_F(PrintLoopTest, StopForGoodWhileTheOutputIsBlocked) {
    TempFile file("morvane-loop-blocked.bin", RandomBytes(40000, 8));
    struct Case {
        const char* what;
        DWORD abortMs; // how long Abort takes before it lets the send go
        bool letsGo;
        BOOL ended; // what StopForGood says
    };
    const Case cases[] = {
        {"abort ends the blocked send", 0, true, TRUE},
        {"output stays blocked", 0, false, FALSE},
        {"abort takes 4 s, then ends the send", 4000, true, FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Output out;
        HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::atomic<bool> blocked{false};
        out.onSend = [&](int send) {
            if (send == 5) { // second chunk of the second copy
                blocked = true;
                WaitForSingleObject(release, 20000);
            }
        };
        if (c.letsGo)
            out.onAbort = [&] {
                Sleep(c.abortMs);
                SetEvent(release);
            };
        Queue("job", file.path(), 3);
        StartWorker(&out);
        loop->SetRunning(TRUE);
        ASSERT_TRUE(WaitFor([&] { return blocked.load(); }));

        const ULONGLONG t0 = GetTickCount64();
        EXPECT_EQ(loop->StopForGood(), c.ended);
        EXPECT_LT(GetTickCount64() - t0, kCloseLimitMs);
        EXPECT_EQ(HeadCopies(), 2);
        EXPECT_FALSE(list->GetAt(0)->m_bBusy);
        EXPECT_STREQ(list->GetAt(0)->GetStatus(), "");
        EXPECT_TRUE(WaitFor([&] {
            std::lock_guard<std::mutex> lock(out.m);
            return !out.abortThreads.empty();
        }));
        {
            std::lock_guard<std::mutex> lock(out.m);
            ASSERT_FALSE(out.abortThreads.empty());
            EXPECT_NE(out.abortThreads[0], loop->GetThreadId());
        }
        SetEvent(release);
        EXPECT_TRUE(
            WaitFor([&] { return WaitForSingleObject(loop->GetHandle(), 0) == WAIT_OBJECT_0; }));
        // After the blocked chunk only aborts (the stop's, then the
        // worker's own, which changes nothing): no chunk, no close.
        const auto calls = out.Calls();
        ASSERT_GE(calls.size(), 2u);
        EXPECT_EQ(calls[calls.size() - std::count(calls.begin(), calls.end(), "abort") - 1],
                  "send 16384");
        EXPECT_EQ(calls.back(), "abort");
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "close"), 1);
        EXPECT_EQ(HeadCopies(), 2);
        CloseHandle(release);
        loop.reset();
        list->RemoveAt(0);
    }
}

// Closing while a document is being handed over: the worker is given the
// time to finish, and the copy that got through is counted.
TEST_F(PrintLoopTest, StopForGoodWaitsForADocumentBeingEnded) {
    TempFile file("morvane-loop-handover.bin", RandomBytes(40000, 13));
    Output out;
    std::atomic<bool> ending{false};
    out.onClose = [&](int copy) {
        if (copy == 2) {
            ending = true;
            // Still ending the document when the stop comes.
            WaitFor([&] { return loop->IsStopRequested() != FALSE; });
        }
    };
    Queue("job", file.path(), 3);
    StartWorker(&out);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return ending.load(); }));
    EXPECT_TRUE(loop->StopForGood());
    EXPECT_EQ(out.documents.size(), 2u);
    EXPECT_EQ(HeadCopies(), 1);
    EXPECT_FALSE(list->GetAt(0)->m_bBusy);
    EXPECT_EQ(BoxCount(), 0);
}

// Closing in the middle of a document: it is aborted, never ended, and the
// job keeps it.
TEST_F(PrintLoopTest, StopForGoodDropsADocumentInTheMiddle) {
    TempFile file("morvane-loop-middle.bin", RandomBytes(40000, 14));
    Output out;
    std::atomic<bool> sending{false};
    out.onSend = [&](int send) {
        if (send == 5) { // second chunk of the second copy
            sending = true;
            // Still sending when the stop comes.
            WaitFor([&] { return loop->IsStopRequested() != FALSE; });
        }
    };
    Queue("job", file.path(), 3);
    StartWorker(&out);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return sending.load(); }));
    EXPECT_TRUE(loop->StopForGood());
    const auto calls = out.Calls();
    EXPECT_EQ(calls[calls.size() - 2], "send 16384");
    EXPECT_EQ(calls.back(), "abort");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "close"), 1);
    EXPECT_EQ(HeadCopies(), 2);
    EXPECT_STREQ(list->GetAt(0)->GetStatus(), "");
    EXPECT_EQ(BoxCount(), 0);
}

TEST_F(PrintLoopTest, StopForGoodEndsAnIdleWorkerAtOnce) {
    StartWorker(nullptr);
    loop->SetRunning(TRUE);
    Sleep(50);
    EXPECT_TRUE(loop->StopForGood());
    // A second call is harmless.
    EXPECT_TRUE(loop->StopForGood());
}

// Stop or closing while the printer is asked before the second copy: the
// answer "go" sends nothing, and the job keeps both copies not yet sent.
TEST_F(PrintLoopTest, StopDuringTheQuestionBeforeACopySendsNothing) {
    TempFile file("morvane-loop-question.bin", RandomBytes(40000, 15));
    for (const bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "closing" : "Stop");
        Output out;
        std::thread window;
        out.states = {{PrinterState::Ready, "Ready"}};
        out.onAsk = [&](int asked) {
            if (asked != 2)
                return;
            if (!closing) {
                loop->SetRunning(FALSE);
                return;
            }
            window = std::thread([&] { loop->StopForGood(); });
            WaitFor([&] { return loop->IsStopRequested() != FALSE; });
        };
        Queue("job", file.path(), 3);
        StartWorker(&out);
        loop->SetRunning(TRUE);
        const bool settled = WaitFor([&] { return out.asked >= 2 && Settled(); });
        if (window.joinable())
            window.join();
        ASSERT_TRUE(settled);
        const auto calls = out.Calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "open"), 1);
        EXPECT_EQ(out.documents.size(), 1u);
        EXPECT_EQ(HeadCopies(), 2);
        EXPECT_EQ(BoxCount(), 0);
        ASSERT_TRUE(StartOver());
    }
}

// A failed copy: the worker asks the window for the box's owner. The window
// object must outlive that call, so closing does not return while the
// worker is inside it.
TEST_F(PrintLoopTest, StopForGoodDoesNotReturnWhileTheWorkerAsksForTheBoxOwner) {
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> inside{false};
    owner.onBoxOwner = [&] {
        inside = true;
        WaitForSingleObject(release, 20000);
        inside = false;
    };
    Output out;
    Queue("gone", "C:\\no\\such\\file.prn", 1);
    StartWorker(&out);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return inside.load(); }));
    std::atomic<bool> returned{false}, insideAtReturn{false};
    std::thread window([&] {
        loop->StopForGood();
        insideAtReturn = inside.load();
        returned = true;
    });
    const bool returnedWhileInside = WaitFor([&] { return returned.load(); }, kCloseLimitMs);
    SetEvent(release);
    window.join();
    EXPECT_FALSE(returnedWhileInside);
    EXPECT_FALSE(insideAtReturn.load());
    EXPECT_EQ(HeadCopies(), 1);
    CloseHandle(release);
}

// A copy that stalled while it was being ended leaves "Waiting for
// printer" in the row; the next copy's question, connection and progress
// never show it.
TEST_F(PrintLoopTest, NextCopyNeverShowsTheLastCopysWaitText) {
    TempFile file("morvane-loop-stale.bin", RandomBytes(40000, 16));
    Output out;
    out.onClose = [&](int copy) {
        if (copy != 1)
            return;
        {
            std::lock_guard<std::mutex> lock(out.m);
            out.waitText = "Cover open";
        }
        WaitFor([&] { return HeadStatus() == "Waiting for printer: Cover open"; },
                CPrintLoopThread::kWatchMs * 5);
        std::lock_guard<std::mutex> lock(out.m);
        out.waitText.clear();
    };
    Queue("job", file.path(), 2);
    StartWorker(&out);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }));
    std::lock_guard<std::mutex> lock(out.m);
    // Copy 1: three sends, then its close, which saw the wait text.
    ASSERT_EQ(out.statuses.size(), 8u);
    ASSERT_EQ(out.statuses[3], "Waiting for printer: Cover open");
    for (size_t i = 4; i < out.statuses.size(); ++i)
        EXPECT_EQ(out.statuses[i].find("Waiting"), std::string::npos) << out.statuses[i];
    // The question and the open of copy 2.
    ASSERT_EQ(out.asking.size(), 4u);
    for (size_t i = 2; i < out.asking.size(); ++i)
        EXPECT_EQ(out.asking[i].find("Waiting"), std::string::npos) << out.asking[i];
}

// A copy stalled inside the output (a paused network printer): the row
// shows the printer's word while the worker is blocked, and the progress
// text again once data moves.
TEST_F(PrintLoopTest, StalledCopyShowsWhatThePrinterWaitsFor) {
    TempFile file("morvane-loop-stalled.bin", RandomBytes(5 * 16384, 12));
    Output out;
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> blocked{false};
    out.onSend = [&](int send) {
        if (send == 3) {
            {
                std::lock_guard<std::mutex> lock(out.m);
                out.waitText = "Cover open";
            }
            blocked = true;
            WaitForSingleObject(release, 20000);
            std::lock_guard<std::mutex> lock(out.m);
            out.waitText.clear();
        }
    };
    Queue("job", file.path(), 1);
    StartWorker(&out);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return blocked.load(); }));
    EXPECT_TRUE(WaitFor([&] { return HeadStatus() == "Waiting for printer: Cover open"; },
                        CPrintLoopThread::kWatchMs * 5));
    SetEvent(release);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }));
    CloseHandle(release);
    std::lock_guard<std::mutex> lock(out.m);
    // The row at each send and the close: progress before the stall and
    // after it, the stall's text only while it lasted.
    ASSERT_EQ(out.statuses.size(), 6u);
    EXPECT_EQ(out.statuses[3], "Spooling 1 of 1   60%");
    EXPECT_EQ(out.statuses[5], "Spooling 1 of 1   100%");
    EXPECT_EQ(out.documents.size(), 1u);
    // Asked from a thread other than the worker's, which was blocked.
    EXPECT_FALSE(out.waitTextThreads.empty());
}

// Closing the program during such a stall ends the worker and the status
// watcher within the stop's bounds, and leaves the row empty.
TEST_F(PrintLoopTest, StopForGoodDuringAStallEndsTheWatcherToo) {
    TempFile file("morvane-loop-stalled-stop.bin", RandomBytes(5 * 16384, 13));
    Output out;
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> blocked{false};
    out.waitText = "Paper out";
    out.onSend = [&](int send) {
        if (send == 2) {
            blocked = true;
            WaitForSingleObject(release, 20000);
        }
    };
    out.onAbort = [&] { SetEvent(release); };
    Queue("job", file.path(), 2);
    StartWorker(&out);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return blocked.load(); }));
    // Not ASSERT: the stop below must still release the blocked output.
    EXPECT_TRUE(WaitFor([&] { return HeadStatus() == "Waiting for printer: Paper out"; },
                        CPrintLoopThread::kWatchMs * 5));
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_TRUE(loop->StopForGood());
    EXPECT_LT(GetTickCount64() - t0, kCloseLimitMs);
    EXPECT_EQ(HeadStatus(), "");
    EXPECT_EQ(HeadCopies(), 2);
    // Nobody asks the printer any more.
    size_t asked;
    {
        std::lock_guard<std::mutex> lock(out.m);
        asked = out.waitTextThreads.size();
    }
    EXPECT_FALSE(WaitFor(
        [&] {
            std::lock_guard<std::mutex> lock(out.m);
            return out.waitTextThreads.size() != asked;
        },
        CPrintLoopThread::kWatchMs * 2));
    CloseHandle(release);
}

TEST_F(PrintLoopTest, NullOutputTakesTheWholeQueue) {
    TempFile file("morvane-loop-null.bin", RandomBytes(70000, 9));
    setup.m_nSpoolerType = 7; // unknown types discard too
    Queue("a", file.path(), 2);
    StartWorker(nullptr);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }));
    EXPECT_EQ(BoxCount(), 0);
}

// A worker given up on must not be inside anything of the window's when
// StopForGood returns: the window destroys the queue and the settings right
// after. Here the worker is held inside the queue (the list's lock is taken
// by this thread) when the window closes.
TEST_F(PrintLoopTest, StopForGoodDoesNotReturnWhileTheWorkerIsInsideTheQueue) {
    Output out;
    StartWorker(&out);
    loop->SetRunning(TRUE);
    CRITICAL_SECTION& listLock = *list->GetListLock().Get();
    EnterCriticalSection(&listLock);
    list->Add(CQueuedJob("held", "C:\\nowhere.prn", 1));
    loop->NotifyQueueChanged();
    // Wine counts every entry attempt: one more than ours means the worker
    // is waiting for the list.
    bool waiting = WaitFor([&] { return listLock.LockCount >= 1; });
    std::atomic<bool> returned{false};
    std::thread window([&] {
        loop->StopForGood();
        returned = true;
    });
    // Longer than StopForGood waits before it gives the worker up.
    const bool returnedWhileInside =
        WaitFor([&] { return returned.load(); }, CPrintLoopThread::kStopWaitMs + 2000);
    LeaveCriticalSection(&listLock);
    window.join();
    EXPECT_TRUE(waiting);
    EXPECT_FALSE(returnedWhileInside);
    // Nothing was sent for the job, and it is idle with its copy.
    WaitForSingleObject(loop->GetHandle(), 10000);
    EXPECT_TRUE(out.Calls().empty());
    EXPECT_EQ(HeadCopies(), 1);
    loop.reset();
}

// A printer that says it is paused gets nothing until it says otherwise; the
// row says why. Stop ends the wait with nothing sent or counted. One that
// does not answer is asked once for the job and served as ever.
TEST_F(PrintLoopTest, PausedPrinterIsWaitedForAndSilentOneAskedOnce) {
    const auto bytes = RandomBytes(40000, 9);
    TempFile file("morvane-loop-paused.bin", bytes);
    {
        SCOPED_TRACE("paused, then ready");
        Output out;
        out.states = {{PrinterState::Paused, "Paper out"},
                      {PrinterState::Paused, "Paper out"},
                      {PrinterState::Ready, "Ready"}};
        Queue("labels", file.path(), 2);
        StartWorker(&out);
        loop->SetPrinterPollMs(50);
        loop->SetRunning(TRUE);
        ASSERT_TRUE(WaitFor([&] { return HeadStatus() == "Waiting for printer: Paper out"; }));
        EXPECT_TRUE(out.Calls().empty());
        ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }));
        EXPECT_EQ(out.documents.size(), 2u);
        EXPECT_EQ(out.asked, 4); // twice paused, then once before each copy
        EXPECT_EQ(BoxCount(), 0);
        ASSERT_TRUE(loop->StopForGood());
        loop.reset();
    }
    {
        SCOPED_TRACE("Stop while waiting");
        Output out;
        out.states = {{PrinterState::Paused, "Cover open"}};
        Queue("labels", file.path(), 3);
        StartWorker(&out);
        loop->SetRunning(TRUE);
        ASSERT_TRUE(WaitFor([&] { return HeadStatus() == "Waiting for printer: Cover open"; }));
        loop->SetRunning(FALSE);
        ASSERT_TRUE(WaitFor([&] { return Settled(); }));
        EXPECT_TRUE(out.Calls().empty());
        EXPECT_EQ(HeadCopies(), 3);
        EXPECT_EQ(HeadStatus(), "");
        EXPECT_EQ(BoxCount(), 0);
        EXPECT_EQ(owner.stops.load(), 0);
        // Closing while waiting is as quick.
        loop->SetRunning(TRUE);
        ASSERT_TRUE(WaitFor([&] { return HeadStatus() == "Waiting for printer: Cover open"; }));
        const ULONGLONG start = GetTickCount64();
        EXPECT_TRUE(loop->StopForGood());
        EXPECT_LT(GetTickCount64() - start, 1000u);
        EXPECT_EQ(HeadCopies(), 3);
        EXPECT_TRUE(out.Calls().empty());
        loop.reset();
        list->RemoveAt(0);
    }
    {
        // A question or two lost in a pause is no sign of paper: the wait
        // goes on; three in a row send the copy.
        const struct {
            const char* name;
            int lost;
            int asked; // in all, the question before the second copy included
        } rows[] = {{"two lost in a pause", 2, 5}, {"three lost in a pause", 3, 4}};
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            Output out;
            out.states = {{PrinterState::Paused, "Paper out"}};
            for (int i = 0; i < row.lost; ++i)
                out.states.push_back({PrinterState::NotAnswering, ""});
            out.states.push_back({PrinterState::Ready, "Ready"});
            Queue("labels", file.path(), 2);
            StartWorker(&out);
            loop->SetPrinterPollMs(50);
            loop->SetRunning(TRUE);
            ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }));
            EXPECT_EQ(out.documents.size(), 2u);
            EXPECT_EQ(out.asked, row.asked);
            ASSERT_TRUE(loop->StopForGood());
            loop.reset();
        }
    }
    {
        SCOPED_TRACE("not answering");
        Output out;
        out.states = {{PrinterState::NotAnswering, ""}};
        Queue("labels", file.path(), 3);
        StartWorker(&out);
        loop->SetRunning(TRUE);
        ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }));
        EXPECT_EQ(out.documents.size(), 3u);
        EXPECT_EQ(out.asked, 1);
    }
}

} // namespace

// The worker counts each job run's pages between its first copy and the
// printer's idle answer after its last, and hands them to its owner once per
// run; a failed run and two runs back to back get no value, and an output
// without a counter begins no run at all.
TEST_F(PrintLoopTest, EachJobRunsPagesReachTheOwnerOnce) {
    TempFile file("morvane-loop-pages.bin", RandomBytes(1000, 7));
    using Counted = std::vector<std::pair<unsigned long, std::optional<unsigned long>>>;
    struct Row {
        const char* name;
        bool bCounter;
        std::vector<int> copies; // one job each, queued together
        int failCloseOnCopy;
        Counted expected; // tokens from 1 in this worker
    };
    const Row rows[] = {
        {"alone", true, {3}, 0, {{1, 3u}}},
        {"back to back", true, {2, 1}, 0, {{1, std::nullopt}, {2, std::nullopt}}},
        {"a failed copy", true, {2}, 2, {{1, std::nullopt}}},
        {"no counter: no run, nothing to hand on", false, {2}, 0, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        ASSERT_TRUE(StartOver());
        CountingOwner fresh;
        Output out;
        out.bCounter = r.bCounter;
        out.failCloseOnCopy = r.failCloseOnCopy;
        out.pageCounter = 1000;
        for (int copies : r.copies)
            Queue("pages", file.path(), copies);
        loop = std::make_unique<TestLoop>(&fresh, list.get(), &setup, &out);
        loop->SetPageCountPeriods(300, 3000);
        ASSERT_TRUE(loop->CreateThread(0));
        loop->SetRunning(TRUE);
        ASSERT_TRUE(
            WaitFor([&] { return fresh.Counted().size() >= r.expected.size() && Settled(); }));
        EXPECT_TRUE(loop->StopForGood());
        EXPECT_EQ(fresh.Counted(), r.expected);
        loop.reset();
        ClearBoxes();
    }
}

// With retry on, a copy the output failed is sent again whole after waits
// of 5, 10, 20, then 30 s, on the worker's clock; each try is a line of the
// history, and the owner hears of the spell once when it starts and once
// when it ends. Nothing is counted twice and no box stops the queue.
TEST_F(PrintLoopTest, RetriedCopiesArriveOnceAfterGrowingWaits) {
    const auto bytes = RandomBytes(40000, 40);
    TempFile file("morvane-loop-retry.bin", bytes);
    const std::string whole(bytes.begin(), bytes.end());
    struct Row {
        const char* what;
        int copies;
        DWORD minutes;
        std::function<void(Output&)> arm;
        std::vector<ULONGLONG> opens; // the clock at each open, in seconds
        int documents;                // documents ended (each must be whole)
        std::vector<std::string> results, news;
        int boxes, keeps; // keeps: the job's copies left, -1 gone
    };
    const std::string retrying = "Failed: Printer not answering, retrying";
    const Row rows[] = {
        {"three opens fail, then the printer is back",
         2,
         30,
         [](Output& o) { o.failOpensUpTo = 3; },
         {0, 5, 15, 35, 35},
         2,
         {retrying, retrying, retrying, "Printed"},
         {"failing: Printer not answering", "back: "},
         0,
         -1},
        {"a chunk of copy 2 refused once: copy 1 is not sent again",
         3,
         30,
         [](Output& o) { o.failSendNumber = 5; },
         {0, 0, 5, 5},
         3,
         {retrying, "Printed"},
         {"failing: Printer not answering", "back: "},
         0,
         -1},
        {"never back: given up once a minute has passed",
         2,
         1,
         [](Output& o) { o.failOpensUpTo = 1000; },
         {0, 5, 15, 35, 65},
         0,
         {retrying, retrying, retrying, retrying, "Failed: Printer not answering"},
         {"failing: Printer not answering", "given up: Printer not answering"},
         1,
         2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ASSERT_TRUE(StartOver());
        CountingOwner fresh;
        Output out;
        out.failText = "Printer not answering";
        out.fakeClock = true;
        r.arm(out);
        Queue("job", file.path(), r.copies);
        loop = std::make_unique<TestLoop>(&fresh, list.get(), &setup, &out);
        loop->SetFailurePolicy(true, r.minutes);
        ASSERT_TRUE(loop->CreateThread(0));
        loop->SetRunning(TRUE);
        ASSERT_TRUE(
            WaitFor([&] { return fresh.Results().size() == r.results.size() && Settled(); }));
        EXPECT_TRUE(loop->StopForGood());
        std::vector<ULONGLONG> opens;
        for (ULONGLONG t : out.openTimes)
            opens.push_back(t / 1000);
        EXPECT_EQ(opens, r.opens);
        ASSERT_EQ(static_cast<int>(out.documents.size()), r.documents);
        for (const auto& doc : out.documents)
            EXPECT_TRUE(doc == whole);
        EXPECT_EQ(fresh.Results(), r.results);
        EXPECT_EQ(fresh.News(), r.news);
        EXPECT_EQ(BoxCount(), r.boxes);
        EXPECT_EQ(HeadCopies(), r.keeps);
        loop.reset();
    }
}

// While it waits to try again the row counts down, and Stop ends the wait
// at once: the job stays with its copies, idle, and nothing more is sent.
TEST_F(PrintLoopTest, StopEndsARetryWaitAtOnce) {
    TempFile file("morvane-loop-retry-stop.bin", RandomBytes(1000, 41));
    Output out;
    out.failOpensUpTo = 1000;
    out.failText = "No connection";
    out.fakeClock = true;
    out.frozen = true;
    Queue("job", file.path(), 2);
    StartWorker(&out);
    loop->SetFailurePolicy(true, 30);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return HeadStatus() == "Retrying in 5 s: No connection"; }));
    EXPECT_EQ(loop->GetActivity().kind, WorkerActivity::Kind::Retrying);
    loop->SetRunning(FALSE);
    ASSERT_TRUE(WaitFor([&] { return Settled(); }, 2000));
    EXPECT_EQ(HeadStatus(), "");
    EXPECT_EQ(HeadCopies(), 2);
    EXPECT_EQ(out.opened, 1);
    EXPECT_EQ(BoxCount(), 0);
}

// A job whose own file cannot be read is held, not retried: the worker
// goes on with the next job and keeps running; Start tries it again.
TEST_F(PrintLoopTest, UnreadableFileIsHeldWhileTheNextJobPrints) {
    const auto bytes = RandomBytes(1000, 42);
    TempFile good("morvane-loop-held-good.bin", bytes);
    const std::string missing = TempPath("morvane-loop-held-missing.bin");
    DeleteFileA(missing.c_str());
    Output out;
    Queue("missing", missing.c_str(), 2);
    Queue("good", good.path(), 1);
    StartWorker(&out);
    loop->SetFailurePolicy(true, 30);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 1 && out.documents.size() == 1; }));
    EXPECT_EQ(HeadStatus(), "Held: file missing");
    EXPECT_EQ(HeadCopies(), 2);
    EXPECT_TRUE(loop->IsRunning());
    EXPECT_EQ(owner.Results(), (std::vector<std::string>{"Failed: file missing, held", "Printed"}));

    // The file is back, and Start tries the job again.
    TempFile back("morvane-loop-held-missing.bin", bytes);
    list->ReleaseHolds();
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }));
    EXPECT_EQ(out.documents.size(), 3u);
    EXPECT_EQ(BoxCount(), 0);
}
