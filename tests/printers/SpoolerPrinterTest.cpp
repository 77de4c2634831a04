// The spooler printer: its state machine against a stand-in spooler, and
// end to end through Wine's real spooler into a CUPS raw queue whose socket
// backend points at a loopback listener that stores what it gets.
#include "framework/MessageBox.h"
#include "printers/SpoolerApi.h"
#include "printers/SpoolerPrinter.h"
#include "printloop/PrintLoopThread.h"
#include "support/RegistryFixture.h"
#include "support/RandomBytes.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"
#include "support/WorkerTestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// A stand-in spooler: records every call and fails the step it is told to.
// With blockWrite set, WritePrinter waits until AbortPrinter is called (as
// the spooler's own write gives up on a document another thread aborted)
// and then fails.
struct FakeSpooler {
    static inline std::mutex mutex;
    static inline std::vector<std::string> calls;
    static inline std::atomic<bool> blockWrite{false}, inWrite{false}, aborted{false};
    static inline std::atomic<int> closes{0}, closesDuringWrite{0};
    // Still lists an aborted job as live (as Wine's spooler does).
    static inline bool keepAbortedJob = false;
    static void Log(const std::string& s) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(s);
    }
    static std::vector<std::string> Calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    static inline std::string failStep;
    static inline std::string docName, dataType;
    static inline std::vector<DWORD> writeSizes; // what each write takes; 0 = all
    static inline std::string written;

    static BOOL WINAPI Open(LPSTR name, LPHANDLE ph, LPPRINTER_DEFAULTSA) {
        Log(std::string("OpenPrinter ") + name);
        if (failStep == "OpenPrinter")
            return FALSE;
        *ph = reinterpret_cast<HANDLE>(0x1234);
        return TRUE;
    }
    static DWORD WINAPI StartDoc(HANDLE, DWORD level, LPBYTE info) {
        Log("StartDocPrinter");
        auto* di = reinterpret_cast<DOC_INFO_1A*>(info);
        docName = di->pDocName;
        dataType = di->pDatatype;
        EXPECT_EQ(level, 1u);
        EXPECT_EQ(di->pOutputFile, nullptr);
        return failStep == "StartDocPrinter" ? 0 : 7;
    }
    static BOOL WINAPI StartPage(HANDLE) {
        Log("StartPagePrinter");
        return failStep != "StartPagePrinter";
    }
    static BOOL WINAPI Write(HANDLE, LPVOID p, DWORD cb, LPDWORD pcb) {
        Log("WritePrinter " + std::to_string(cb));
        if (failStep == "WritePrinter")
            return FALSE;
        if (blockWrite) {
            inWrite = true;
            WaitFor([] { return aborted.load(); }, 20000);
            inWrite = false;
            return FALSE;
        }
        DWORD take = cb;
        if (!writeSizes.empty()) {
            take = std::min(cb, writeSizes.front());
            writeSizes.erase(writeSizes.begin());
        }
        written.append(static_cast<char*>(p), take);
        *pcb = take;
        return TRUE;
    }
    static BOOL WINAPI EndPage(HANDLE) {
        Log("EndPagePrinter");
        return failStep != "EndPagePrinter";
    }
    static BOOL WINAPI EndDoc(HANDLE) {
        Log("EndDocPrinter");
        return failStep != "EndDocPrinter";
    }
    static BOOL WINAPI Close(HANDLE) {
        Log("ClosePrinter");
        ++closes;
        if (inWrite)
            ++closesDuringWrite;
        return TRUE;
    }
    static BOOL WINAPI Abort(HANDLE) {
        Log("AbortPrinter");
        aborted = true;
        return TRUE;
    }
    // The job's status in the spooler's record, or gone from it.
    static inline std::atomic<DWORD> jobStatus{JOB_STATUS_PRINTED};
    static inline std::atomic<bool> jobGone{false};
    static BOOL WINAPI GetJob(HANDLE, DWORD id, DWORD level, LPBYTE p, DWORD cb, LPDWORD pcb) {
        EXPECT_EQ(id, 7u);
        EXPECT_EQ(level, 1u);
        *pcb = sizeof(JOB_INFO_1A);
        if ((aborted && !keepAbortedJob) || jobGone) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (cb < sizeof(JOB_INFO_1A)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        *reinterpret_cast<JOB_INFO_1A*>(p) = JOB_INFO_1A();
        reinterpret_cast<JOB_INFO_1A*>(p)->Status = jobStatus;
        return TRUE;
    }
    // The printer's record: its status and attributes now, or a refusal.
    static inline std::atomic<DWORD> printerStatus{0}, printerAttributes{0};
    static inline std::atomic<bool> refusePrinterInfo{false};
    static BOOL WINAPI GetPrinter(HANDLE, DWORD level, LPBYTE p, DWORD cb, LPDWORD pcb) {
        Log("GetPrinter " + std::to_string(level));
        *pcb = sizeof(PRINTER_INFO_2A);
        if (refusePrinterInfo) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (cb < sizeof(PRINTER_INFO_2A)) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        auto* info = reinterpret_cast<PRINTER_INFO_2A*>(p);
        *info = PRINTER_INFO_2A();
        info->Status = printerStatus;
        info->Attributes = printerAttributes;
        return TRUE;
    }
    static constexpr SpoolerApi api = {Open,   StartDoc, StartPage, Write,  EndPage,
                                       EndDoc, Close,    Abort,     GetJob, GetPrinter};
};

class SpoolerStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        FakeSpooler::calls.clear();
        FakeSpooler::failStep.clear();
        FakeSpooler::writeSizes.clear();
        FakeSpooler::written.clear();
        FakeSpooler::blockWrite = false;
        FakeSpooler::keepAbortedJob = false;
        FakeSpooler::aborted = false;
        FakeSpooler::closes = 0;
        FakeSpooler::closesDuringWrite = 0;
        FakeSpooler::printerStatus = 0;
        FakeSpooler::printerAttributes = 0;
        FakeSpooler::refusePrinterInfo = false;
        FakeSpooler::jobStatus = JOB_STATUS_PRINTED;
        FakeSpooler::jobGone = false;
        SetSpoolerApi(&FakeSpooler::api);
        setup.m_strSpoolerName = "Label Printer";
    }
    void TearDown() override { SetSpoolerApi(nullptr); }
    CSpoolerSetup setup;
};

using Calls = std::vector<std::string>;

TEST_F(SpoolerStateTest, OpenStartsARawDocumentOfOnePage) {
    CSpooler_Printer p;
    ASSERT_TRUE(p.Open(&setup, "label.zpl"));
    EXPECT_EQ(p.GetState(), 3);
    EXPECT_EQ(FakeSpooler::docName, "label.zpl");
    EXPECT_EQ(FakeSpooler::dataType, "RAW");
    EXPECT_TRUE(p.Close());
    EXPECT_EQ(FakeSpooler::calls,
              (Calls{"OpenPrinter Label Printer", "StartDocPrinter", "StartPagePrinter",
                     "EndPagePrinter", "EndDocPrinter", "ClosePrinter"}));
    // A second Close makes no spooler call.
    FakeSpooler::calls.clear();
    EXPECT_TRUE(p.Close());
    EXPECT_TRUE(FakeSpooler::calls.empty());
}

TEST_F(SpoolerStateTest, FailedOpenUndoesExactlyWhatSucceeded) {
    struct Case {
        const char* step;
        Calls expected;
    };
    const Case cases[] = {
        {"OpenPrinter", {"OpenPrinter Label Printer"}},
        {"StartDocPrinter", {"OpenPrinter Label Printer", "StartDocPrinter", "ClosePrinter"}},
        {"StartPagePrinter",
         {"OpenPrinter Label Printer", "StartDocPrinter", "StartPagePrinter", "EndDocPrinter",
          "ClosePrinter"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        FakeSpooler::calls.clear();
        FakeSpooler::failStep = c.step;
        {
            CSpooler_Printer p;
            EXPECT_FALSE(p.Open(&setup, "job"));
            EXPECT_EQ(p.GetState(), 0);
        }
        EXPECT_EQ(FakeSpooler::calls, c.expected);
    }
}

// A document nobody finished must not print: deleting the object in the
// middle of one drops it.
TEST_F(SpoolerStateTest, ReopenEndsTheFirstDocumentAndDeleteDropsTheSecond) {
    {
        CSpooler_Printer p;
        ASSERT_TRUE(p.Open(&setup, "one"));
        ASSERT_EQ(p.GetState(), 3); // document and page started
        ASSERT_TRUE(p.Open(&setup, "two"));
        // The whole sequence: page, document and printer of the first are
        // ended, in that order, before anything of the second starts.
        EXPECT_EQ(FakeSpooler::Calls(),
                  (Calls{"OpenPrinter Label Printer", "StartDocPrinter", "StartPagePrinter",
                         "EndPagePrinter", "EndDocPrinter", "ClosePrinter",
                         "OpenPrinter Label Printer", "StartDocPrinter", "StartPagePrinter"}));
        EXPECT_EQ(FakeSpooler::docName, "two");
        EXPECT_EQ(p.GetState(), 3);
        FakeSpooler::calls.clear();
    } // deleted without Close
    EXPECT_EQ(FakeSpooler::Calls(), (Calls{"AbortPrinter", "ClosePrinter"}));
    FakeSpooler::calls.clear();
    { CSpooler_Printer untouched; }
    EXPECT_TRUE(FakeSpooler::calls.empty());
}

TEST_F(SpoolerStateTest, AbortDropsTheDocumentFromAnyState) {
    {
        CSpooler_Printer p;
        EXPECT_TRUE(p.Abort()); // nothing open
        EXPECT_TRUE(FakeSpooler::Calls().empty());
        EXPECT_FALSE(p.Open(&setup, "after abort"));
    }
    CSpooler_Printer p;
    ASSERT_TRUE(p.Open(&setup, "job"));
    char chunk[100] = {};
    ASSERT_EQ(p.Send_Data(chunk, 100), 100);
    FakeSpooler::calls.clear();
    EXPECT_TRUE(p.Abort());
    EXPECT_EQ(FakeSpooler::Calls(), (Calls{"AbortPrinter", "ClosePrinter"}));
    EXPECT_EQ(p.GetState(), 0);
    // Aborted for good: nothing more reaches the spooler.
    EXPECT_TRUE(p.Abort());
    EXPECT_EQ(p.Send_Data(chunk, 100), -1);
    EXPECT_FALSE(p.Close());
    EXPECT_EQ(FakeSpooler::Calls(), (Calls{"AbortPrinter", "ClosePrinter"}));

    // Only the printer open, no document yet: nothing to abort.
    FakeSpooler::calls.clear();
    FakeSpooler::failStep = "StartDocPrinter";
    CSpooler_Printer q;
    EXPECT_FALSE(q.Open(&setup, "job"));
    EXPECT_TRUE(q.Abort());
    EXPECT_EQ(FakeSpooler::Calls(),
              (Calls{"OpenPrinter Label Printer", "StartDocPrinter", "ClosePrinter"}));
}

// A spooler that keeps the job after AbortPrinter would hand it on when the
// handle is closed: the handle is left open, and Abort says it failed.
TEST_F(SpoolerStateTest, JobTheSpoolerKeepsIsNeverHandedOn) {
    FakeSpooler::keepAbortedJob = true;
    {
        CSpooler_Printer p;
        ASSERT_TRUE(p.Open(&setup, "job"));
        FakeSpooler::calls.clear();
        EXPECT_FALSE(p.Abort());
        EXPECT_FALSE(p.Abort());
        EXPECT_FALSE(p.Close());
    }
    {
        CSpooler_Printer p;
        ASSERT_TRUE(p.Open(&setup, "deleted"));
    }
    EXPECT_EQ(FakeSpooler::Calls(), (Calls{"AbortPrinter", "OpenPrinter Label Printer",
                                           "StartDocPrinter", "StartPagePrinter", "AbortPrinter"}));
}

// The window's thread aborts while the worker is blocked in WritePrinter:
// the write comes back, the document is dropped, and the handle is closed
// once, never under the running write.
TEST_F(SpoolerStateTest, AbortFromAnotherThreadEndsABlockedWrite) {
    CSpooler_Printer p;
    ASSERT_TRUE(p.Open(&setup, "job"));
    FakeSpooler::blockWrite = true;
    std::atomic<int> result{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        char chunk[16384] = {};
        result = p.Send_Data(chunk, 16384);
        done = true;
    });
    const bool blocked = WaitFor([] { return FakeSpooler::inWrite.load(); }, 5000);
    const ULONGLONG t0 = GetTickCount64();
    const BOOL aborted = p.Abort();
    const bool returned = WaitFor([&] { return done.load(); }, 1500);
    const ULONGLONG ms = GetTickCount64() - t0;
    FakeSpooler::aborted = true; // lets a stuck write go in any case
    worker.join();
    ASSERT_TRUE(blocked);
    EXPECT_TRUE(aborted);
    EXPECT_TRUE(returned);
    EXPECT_LT(ms, 1500u);
    EXPECT_EQ(result.load(), -1);
    EXPECT_EQ(FakeSpooler::closes.load(), 1);
    EXPECT_EQ(FakeSpooler::closesDuringWrite.load(), 0);
    const auto calls = FakeSpooler::Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "EndDocPrinter"), 0);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "EndPagePrinter"), 0);
    EXPECT_FALSE(p.Close());
    EXPECT_EQ(FakeSpooler::closes.load(), 1);
}

// The worker with the stand-in spooler: a copy whose write fails is
// aborted, never ended (ending it would print the part that got through).
TEST_F(SpoolerStateTest, WorkerAbortsACopyWhoseWriteFails) {
    DeleteProgramKey();
    SetMessageBoxHandler([](HWND, const char*, const char*, UINT) { return IDOK; });
    TempFile file("morvane-spooler-fail.bin", RandomBytes(40000, 25));
    setup.m_nSpoolerType = SPOOLER_WINDOWS;
    FakeSpooler::failStep = "WritePrinter";
    CJobList list;
    list.Add(CQueuedJob("x.prn", file.path(), 2));
    CountingOwner owner;
    {
        CPrintLoopThread loop(&owner, &list, &setup);
        ASSERT_TRUE(loop.CreateThread());
        loop.SetRunning(TRUE);
        EXPECT_TRUE(WaitFor([&] { return !loop.IsRunning(); }, 10000));
        EXPECT_TRUE(loop.StopForGood());
    }
    SetMessageBoxHandler(nullptr);
    EXPECT_EQ(FakeSpooler::Calls(),
              (Calls{"OpenPrinter Label Printer", "GetPrinter 2", "ClosePrinter",
                     "OpenPrinter Label Printer", "StartDocPrinter", "StartPagePrinter",
                     "WritePrinter 16384", "AbortPrinter", "ClosePrinter"}));
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.GetAt(0)->m_nCopies, 2);
    DeleteProgramKey();
}

TEST_F(SpoolerStateTest, ShortWritesAreCompletedAndStallsFail) {
    CSpooler_Printer p;
    ASSERT_TRUE(p.Open(&setup, "job"));
    const auto data = RandomBytes(16384, 11);
    FakeSpooler::writeSizes = {1000, 1, 5000};
    EXPECT_EQ(p.Send_Data(data.data(), 16384), 16384);
    EXPECT_TRUE(FakeSpooler::written == std::string(data.begin(), data.end()));

    FakeSpooler::writeSizes = {10, 0}; // the spooler stops taking data
    EXPECT_EQ(p.Send_Data(data.data(), 100), -1);
    FakeSpooler::failStep = "WritePrinter";
    EXPECT_EQ(p.Send_Data(data.data(), 100), -1);
    FakeSpooler::failStep.clear();
    EXPECT_EQ(p.Send_Data(data.data(), 0), 0);
}

TEST_F(SpoolerStateTest, DocumentThatCannotBeEndedIsReported) {
    CSpooler_Printer p;
    ASSERT_TRUE(p.Open(&setup, "job"));
    FakeSpooler::failStep = "EndDocPrinter";
    EXPECT_FALSE(p.Close());
    EXPECT_EQ(p.GetState(), 0);
    EXPECT_EQ(FakeSpooler::calls.back(), "ClosePrinter");
}

TEST(SpoolerPrinterState, PausedOfflineAndDeviceConditionsHoldTheCopy) {
    const struct {
        DWORD status, attributes, jobs;
        PrinterState state;
        const char* text;
    } rows[] = {
        {0, 0, 0, PrinterState::Unknown, ""}, // nothing despooled, nothing known
        {0, 0, 2, PrinterState::Ready, "Ready"},
        {PRINTER_STATUS_PRINTING | PRINTER_STATUS_BUSY, 0, 1, PrinterState::Ready, "Printing"},
        {PRINTER_STATUS_WARMING_UP, 0, 0, PrinterState::Ready, "Ready"},
        {PRINTER_STATUS_PAUSED, 0, 0, PrinterState::Paused, "Paused"},
        {PRINTER_STATUS_PAUSED | PRINTER_STATUS_PAPER_OUT, 0, 3, PrinterState::Paused, "Paused"},
        {0, PRINTER_ATTRIBUTE_WORK_OFFLINE, 0, PrinterState::Paused, "Offline"},
        {PRINTER_STATUS_PAPER_OUT | PRINTER_STATUS_ERROR, 0, 1, PrinterState::Paused, "Paper out"},
        {PRINTER_STATUS_PAPER_JAM, 0, 1, PrinterState::Paused, "Jammed"},
        {PRINTER_STATUS_DOOR_OPEN | PRINTER_STATUS_OFFLINE, 0, 1, PrinterState::Paused,
         "Cover open"},
        {PRINTER_STATUS_OFFLINE, 0, 1, PrinterState::Paused, "Offline"},
        {PRINTER_STATUS_USER_INTERVENTION, 0, 1, PrinterState::Paused, "Needs attention"},
        {PRINTER_STATUS_NOT_AVAILABLE, 0, 0, PrinterState::Paused, "Not available"},
        {PRINTER_STATUS_ERROR, 0, 1, PrinterState::Paused, "Printer error"},
    };
    for (const auto& row : rows) {
        CString text = "stale";
        EXPECT_EQ(SpoolerPrinterState(row.status, row.attributes, row.jobs, text), row.state)
            << std::hex << row.status;
        EXPECT_STREQ(text, row.text) << std::hex << row.status;
    }
}

// The wait before a copy through the spooler's record of the printer:
// paused, then ready, the copy goes once; never ready, Stop leaves the job
// whole with nothing sent; a record that cannot be read sends the copy.
TEST_F(SpoolerStateTest, WorkerWaitsForAPausedPrinter) {
    DeleteProgramKey();
    const auto bytes = RandomBytes(40000, 27);
    TempFile file("morvane-spooler-wait.bin", bytes);
    setup.m_nSpoolerType = SPOOLER_WINDOWS;
    CJobList list;
    CountingOwner owner;
    auto headStatus = [&] { return HeadStatus(list); };
    {
        FakeSpooler::printerStatus = PRINTER_STATUS_PAUSED;
        list.Add(CQueuedJob("x.prn", file.path(), 1));
        CPrintLoopThread loop(&owner, &list, &setup);
        loop.SetPrinterPollMs(100);
        ASSERT_TRUE(loop.CreateThread());
        loop.SetRunning(TRUE);
        ASSERT_TRUE(WaitFor([&] { return headStatus() == "Waiting for printer: Paused"; }));
        FakeSpooler::printerAttributes = PRINTER_ATTRIBUTE_WORK_OFFLINE;
        FakeSpooler::printerStatus = 0;
        ASSERT_TRUE(WaitFor([&] { return headStatus() == "Waiting for printer: Offline"; }));
        EXPECT_TRUE(FakeSpooler::written.empty());
        FakeSpooler::printerAttributes = 0;
        ASSERT_TRUE(WaitFor([&] { return list.GetCount() == 0; }, 10000));
        EXPECT_TRUE(FakeSpooler::written == std::string(bytes.begin(), bytes.end()));

        FakeSpooler::written.clear();
        FakeSpooler::printerStatus = PRINTER_STATUS_PAPER_JAM;
        list.Add(CQueuedJob("y.prn", file.path(), 2));
        loop.NotifyQueueChanged();
        ASSERT_TRUE(WaitFor([&] { return headStatus() == "Waiting for printer: Jammed"; }));
        loop.SetRunning(FALSE);
        ASSERT_TRUE(WaitFor([&] { return headStatus().empty(); }, 5000));
        EXPECT_EQ(HeadCopies(list), 2);
        EXPECT_TRUE(FakeSpooler::written.empty());

        FakeSpooler::refusePrinterInfo = true;
        loop.SetRunning(TRUE);
        ASSERT_TRUE(WaitFor([&] { return list.GetCount() == 0; }, 10000));
        EXPECT_EQ(FakeSpooler::written.size(), 2 * bytes.size());
        EXPECT_TRUE(loop.StopForGood());
    }
    EXPECT_EQ(owner.stops.load(), 0);
    DeleteProgramKey();
}

TEST(SpoolerJobFate, ErrorStatesAreReportedAndTheEndIsPrintedOrGone) {
    using Fate = IHandedDocument::Fate;
    const struct {
        bool listed;
        DWORD status;
        Fate fate;
        const char* word;
    } rows[] = {
        {false, 0, Fate::Done, ""}, // gone without an error
        {true, 0, Fate::Pending, ""},
        {true, JOB_STATUS_SPOOLING | JOB_STATUS_PRINTING, Fate::Pending, ""},
        {true, JOB_STATUS_PRINTED, Fate::Done, ""},
        {true, JOB_STATUS_COMPLETE, Fate::Done, ""},
        {true, JOB_STATUS_RETAINED, Fate::Done, ""},
        {true, JOB_STATUS_ERROR | JOB_STATUS_PAPEROUT, Fate::Error, "spooler reports: paper out"},
        {true, JOB_STATUS_OFFLINE | JOB_STATUS_PRINTED, Fate::Error, "spooler reports: offline"},
        {true, JOB_STATUS_USER_INTERVENTION, Fate::Error, "spooler reports: needs attention"},
        {true, JOB_STATUS_BLOCKED_DEVQ, Fate::Error, "spooler reports: blocked"},
        {true, JOB_STATUS_ERROR, Fate::Error, "spooler reports: error"},
    };
    for (const auto& row : rows) {
        CString word = "stale";
        EXPECT_EQ(SpoolerJobFate(row.listed, row.status, word), row.fate) << std::hex << row.status;
        EXPECT_STREQ(word, row.word) << std::hex << row.status;
    }
}

// A copy the spooler took is followed there: its error reaches the history
// line, and with retry on the next copy waits until the job leaves the
// error state. The job is never cancelled or sent again.
TEST_F(SpoolerStateTest, JobInErrorIsReportedAndHoldsTheNextCopyWithRetry) {
    DeleteProgramKey();
    const auto bytes = RandomBytes(20000, 29);
    TempFile file("morvane-spooler-follow.bin", bytes);
    setup.m_nSpoolerType = SPOOLER_WINDOWS;
    CJobList list;
    CountingOwner owner;
    {
        FakeSpooler::jobStatus = JOB_STATUS_PRINTING | JOB_STATUS_PAPEROUT;
        list.Add(CQueuedJob("one.prn", file.path(), 1));
        CPrintLoopThread loop(&owner, &list, &setup);
        loop.SetFailurePolicy(true, 30);
        ASSERT_TRUE(loop.CreateThread());
        loop.SetRunning(TRUE);
        using Results = std::vector<std::string>;
        ASSERT_TRUE(WaitFor([&] { return !owner.Results().empty(); }, 10000));
        EXPECT_EQ(owner.Results(), (Results{"Printed (spooler reports: paper out)"}));

        list.Add(CQueuedJob("two.prn", file.path(), 1));
        loop.NotifyQueueChanged();
        ASSERT_TRUE(WaitFor(
            [&] { return HeadStatus(list) == "Waiting for printer: spooler reports: paper out"; }));
        EXPECT_EQ(FakeSpooler::written.size(), bytes.size());
        FakeSpooler::jobStatus = JOB_STATUS_PRINTED;
        ASSERT_TRUE(WaitFor([&] { return owner.Results().size() == 2; }, 10000));
        EXPECT_EQ(owner.Results().back(), "Printed");
        EXPECT_EQ(FakeSpooler::written.size(), 2 * bytes.size());
        EXPECT_TRUE(loop.StopForGood());
    }
    for (const std::string& call : FakeSpooler::Calls())
        EXPECT_EQ(call.find("AbortPrinter"), std::string::npos);
    DeleteProgramKey();
}

TEST(PrinterFactory, TypesMapToOutputs) {
    CSpoolerSetup s;
    for (int type : {0, 4, -1, 7}) {
        s.m_nSpoolerType = type;
        CPrinter* p = Create_Printer(&s);
        EXPECT_NE(dynamic_cast<CNull_Printer*>(p), nullptr) << type;
        delete p;
    }
    s.m_nSpoolerType = SPOOLER_WINDOWS;
    CPrinter* p = Create_Printer(&s);
    EXPECT_NE(dynamic_cast<CSpooler_Printer*>(p), nullptr);
    delete p;
}

TEST(NullPrinter, TakesEverything) {
    CNull_Printer p;
    EXPECT_TRUE(p.Close());
    EXPECT_TRUE(p.Open(nullptr, "x"));
    char buf[16384] = {};
    EXPECT_EQ(p.Send_Data(buf, 16384), 16384);
    EXPECT_EQ(p.Send_Data(buf, 0), 0);
    EXPECT_TRUE(p.Close());
}

// ---- End to end through the real spooler ----

std::string Env(const char* name) {
    const char* v = getenv(name);
    return v ? v : "";
}

std::vector<std::string> CapturedJobs(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(("Z:" + dir + "/job-*.bin").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadAll(const std::string& path) {
    std::string out;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    fclose(f);
    return out;
}

class SpoolerEndToEnd : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        queue = Env("MORVANE_CUPS_QUEUE");
        capture = Env("MORVANE_CAPTURE_DIR");
        ASSERT_FALSE(queue.empty() || capture.empty())
            << "needs the print scheduler and its loopback printer: run scripts/test.sh, or "
               "scripts/services.sh start DIR and source DIR/env";
        SetMessageBoxHandler([this](HWND, const char* text, const char*, UINT) {
            boxes.push_back(text);
            return IDOK;
        });
    }
    void TearDown() override {
        SetMessageBoxHandler(nullptr);
        RegistryTest::TearDown();
    }
    // Runs the queue through a worker until it is empty or the worker stops.
    void Spool(CJobList& list, CSpoolerSetup& setup) {
        CountingOwner owner;
        CPrintLoopThread loop(&owner, &list, &setup);
        ASSERT_TRUE(loop.CreateThread(CREATE_SUSPENDED));
        loop.SetThreadPriority(THREAD_PRIORITY_IDLE);
        loop.ResumeThread();
        loop.SetRunning(TRUE);
        EXPECT_TRUE(WaitFor([&] { return list.GetCount() == 0 || !loop.IsRunning(); }, 120000));
        EXPECT_TRUE(loop.StopForGood());
    }
    std::string queue, capture;
    std::vector<std::string> boxes;
};

TEST_F(SpoolerEndToEnd, EveryCopyArrivesByteForByte) {
    const auto big = RandomBytes(1536 * 1024 + 17, 21);
    const auto small = RandomBytes(40000, 22);
    TempFile bigFile("morvane-e2e-big.prn", big);
    TempFile smallFile("morvane-e2e-small.prn", small);
    TempFile emptyFile("morvane-e2e-empty.prn", "");
    const size_t before = CapturedJobs(capture).size();

    CSpoolerSetup setup;
    setup.m_nSpoolerType = SPOOLER_WINDOWS;
    setup.m_strSpoolerName = queue.c_str();
    CJobList list;
    list.Add(CQueuedJob("big.prn", bigFile.path(), 3));
    list.Add(CQueuedJob("empty.prn", emptyFile.path(), 1));
    list.Add(CQueuedJob("small.prn", smallFile.path(), 1));
    Spool(list, setup);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(list.GetCount(), 0);
    // The empty document has no bytes for the printer: the scheduler sends
    // nothing for it, so four documents arrive, in queue order.

    ASSERT_TRUE(WaitFor([&] { return CapturedJobs(capture).size() >= before + 4; }, 60000));
    const auto jobs = CapturedJobs(capture);
    ASSERT_EQ(jobs.size(), before + 4);
    const std::string bigText(big.begin(), big.end()), smallText(small.begin(), small.end());
    for (size_t i = before; i < before + 3; ++i)
        EXPECT_TRUE(ReadAll("Z:" + capture + "/" + jobs[i]) == bigText) << jobs[i];
    EXPECT_TRUE(ReadAll("Z:" + capture + "/" + jobs[before + 3]) == smallText);
}

// A scheduler that turns the document away: the copy is not printed, so it
// must not count as printed.
TEST_F(SpoolerEndToEnd, RejectedDocumentFailsTheCopy) {
    const std::string rejecting = Env("MORVANE_CUPS_REJECT_QUEUE");
    ASSERT_FALSE(rejecting.empty());
    TempFile file("morvane-e2e-rejected.prn", RandomBytes(5000, 24));
    CSpoolerSetup setup;
    setup.m_nSpoolerType = SPOOLER_WINDOWS;
    setup.m_strSpoolerName = rejecting.c_str();
    CJobList list;
    list.Add(CQueuedJob("x.prn", file.path(), 3));
    Spool(list, setup);
    ASSERT_EQ(boxes.size(), 1u);
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.GetAt(0)->m_nCopies, 3);
}

// A copy that does not get through leaves nothing at the printer: the
// aborted document is never handed on, the full one behind it arrives
// alone.
TEST_F(SpoolerEndToEnd, AbortedDocumentNeverReachesThePrinter) {
    const auto part = RandomBytes(3 * 16384, 26);
    const auto whole = RandomBytes(20000, 27);
    const size_t before = CapturedJobs(capture).size();
    CSpoolerSetup setup;
    setup.m_nSpoolerType = SPOOLER_WINDOWS;
    setup.m_strSpoolerName = queue.c_str();
    {
        CSpooler_Printer p;
        ASSERT_TRUE(p.Open(&setup, "aborted.prn"));
        for (size_t at = 0; at < part.size(); at += 16384)
            ASSERT_EQ(p.Send_Data(part.data() + at, 16384), 16384);
        // Wine's spooler keeps the job after AbortPrinter (Abort then says
        // FALSE and keeps the handle); either way nothing may arrive.
        p.Abort();
    }
    {
        CSpooler_Printer p;
        ASSERT_TRUE(p.Open(&setup, "deleted.prn"));
        ASSERT_EQ(p.Send_Data(part.data(), 16384), 16384);
    } // deleted in the middle of the document
    {
        CSpooler_Printer p;
        ASSERT_TRUE(p.Open(&setup, "whole.prn"));
        ASSERT_EQ(p.Send_Data(whole.data(), static_cast<int>(whole.size())),
                  static_cast<int>(whole.size()));
        ASSERT_TRUE(p.Close());
    }
    ASSERT_TRUE(WaitFor([&] { return CapturedJobs(capture).size() >= before + 1; }, 60000));
    // Documents reach the printer in order: anything from the two dropped
    // ones would have come before the whole one.
    const auto jobs = CapturedJobs(capture);
    ASSERT_EQ(jobs.size(), before + 1);
    EXPECT_TRUE(ReadAll("Z:" + capture + "/" + jobs[before]) ==
                std::string(whole.begin(), whole.end()));
}

TEST_F(SpoolerEndToEnd, UnknownPrinterFailsTheCopy) {
    TempFile file("morvane-e2e-unknown.prn", RandomBytes(100, 23));
    CSpoolerSetup setup;
    setup.m_nSpoolerType = SPOOLER_WINDOWS;
    setup.m_strSpoolerName = "none";
    CJobList list;
    list.Add(CQueuedJob("x.prn", file.path(), 2));
    Spool(list, setup);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Print Job Failed");
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.GetAt(0)->m_nCopies, 2);
}

} // namespace
