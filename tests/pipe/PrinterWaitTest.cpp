// The worker waits for a network printer that says it cannot print: the
// real component asks a real SNMP agent on 127.0.0.1:161 (started by the
// test fixture, answering from a state file this test rewrites) and the
// printer's data port is a listener on 127.0.0.1:9100.
#include "framework/MessageBox.h"
#include "printloop/PrintLoopThread.h"
#include "support/LoopbackListener.h"
#include "support/RegistryFixture.h"
#include "support/RandomBytes.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"
#include "support/WorkerTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

const u_short kPrinterPort = 9100;

std::string AgentDir() {
    const char* p = getenv("MORVANE_SNMP161_DIR");
    return p ? p : "";
}

// What the agent reports from now on ("noPaper", "doorOpen", "idle"...).
void SetPrinterState(const std::string& words) {
    std::ofstream(AgentDir() + "/printer_state.new") << words << "\n";
    const std::string from = AgentDir() + "/printer_state.new";
    const std::string to = AgentDir() + "/printer_state";
    MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
}

class PrinterWaitTest : public WorkerTest<CPrintLoopThread> {
protected:
    void SetUp() override {
        WorkerTest::SetUp();
        std::string port;
        std::ifstream(AgentDir() + "/port") >> port;
        if (port != "161")
            FAIL()
                << "no test agent on udp 127.0.0.1:161 (MORVANE_SNMP161_DIR; is port 161 taken?)";
        SetPrinterState("idle");
        setup.m_nSpoolerType = SPOOLER_IP;
        setup.m_dwIPAddress = 0x7F000001;
    }
    void TearDown() override {
        WorkerTest::TearDown();
        SetPrinterState("idle");
    }
    void StartWorker() { StartLoop(THREAD_PRIORITY_NORMAL); }
};

TEST_F(PrinterWaitTest, PaperOutHoldsTheCopyUntilThePrinterIsReadyThenSendsItOnce) {
    const auto bytes = RandomBytes(300000, 161);
    TempFile file("morvane-wait-paper.bin", bytes);
    LoopbackListener printer(kPrinterPort);
    ASSERT_TRUE(printer.ok());
    SetPrinterState("noPaper,lowToner");
    list->Add(CQueuedJob("labels", file.path(), 1));
    StartWorker();
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return HeadStatus() == "Waiting for printer: Paper out"; }));
    // Asked again meanwhile; still nothing sent.
    WaitFor([] { return false; }, 2 * CPrintLoopThread::kPrinterPollMs + 500);
    EXPECT_EQ(HeadStatus(), "Waiting for printer: Paper out");
    EXPECT_TRUE(printer.Connections().empty());

    SetPrinterState("idle,lowPaper");
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }, 20000));
    ASSERT_TRUE(printer.WaitForConnections(1));
    const auto got = printer.Connections();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0] == std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(BoxCount(), 0);
}

TEST_F(PrinterWaitTest, StopWhileWaitingSendsNothingAndKeepsTheCopies) {
    TempFile file("morvane-wait-stop.bin", RandomBytes(50000, 162));
    LoopbackListener printer(kPrinterPort);
    ASSERT_TRUE(printer.ok());
    SetPrinterState("doorOpen");
    list->Add(CQueuedJob("labels", file.path(), 3));
    StartWorker();
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return HeadStatus() == "Waiting for printer: Cover open"; }));
    loop->SetRunning(FALSE);
    ASSERT_TRUE(WaitFor([&] { return HeadStatus().empty(); }, 5000));
    EXPECT_EQ(HeadCopies(), 3);
    EXPECT_TRUE(printer.Connections().empty());
    EXPECT_EQ(BoxCount(), 0);
    EXPECT_EQ(owner.stops.load(), 0);
}

// An agent with no printer table (its device 1, down, is something else):
// the copies go out as to a printer that does not answer.
TEST_F(PrinterWaitTest, AgentWithoutAPrinterTableGetsTheCopies) {
    const auto bytes = RandomBytes(30000, 164);
    TempFile file("morvane-wait-noprinter.bin", bytes);
    LoopbackListener printer(kPrinterPort);
    ASSERT_TRUE(printer.ok());
    SetPrinterState("noprinter");
    list->Add(CQueuedJob("labels", file.path(), 2));
    StartWorker();
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }, 20000));
    ASSERT_TRUE(printer.WaitForConnections(2));
    for (const std::string& got : printer.Connections())
        EXPECT_TRUE(got == std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(BoxCount(), 0);
}

// How long the question adds to a copy: against a printer whose agent
// answers, and against one with no agent at all (127.0.0.2: nothing
// answers SNMP there), where it is asked once for the job.
TEST_F(PrinterWaitTest, QuestionCostsLittleAndASilentPrinterIsAskedOncePerJob) {
    TempFile file("morvane-wait-time.bin", RandomBytes(20000, 163));
    auto timeJob = [&](u_long address, int copies) -> ULONGLONG {
        LoopbackListener printer(kPrinterPort, LoopbackListener::Mode::ReadAll, 0, address);
        EXPECT_TRUE(printer.ok());
        setup.m_dwIPAddress = address;
        list->Add(CQueuedJob("timed", file.path(), copies));
        const ULONGLONG start = GetTickCount64();
        loop->SetRunning(TRUE);
        EXPECT_TRUE(WaitFor([&] { return list->GetCount() == 0; }, 30000));
        const ULONGLONG took = GetTickCount64() - start;
        EXPECT_TRUE(printer.WaitForConnections(static_cast<size_t>(copies)));
        EXPECT_EQ(printer.Connections().size(), static_cast<size_t>(copies));
        return took;
    };
    StartWorker();
    const ULONGLONG answering = timeJob(0x7F000001, 3);
    const ULONGLONG silent = timeJob(0x7F000002, 3);
    printf("[ measure ] 3 copies: %llu ms with an agent that answers, %llu ms with none\n",
           answering, silent);
    // One question of about two time-outs for the whole job, not per copy.
    EXPECT_LT(silent, answering + 4500);
    EXPECT_EQ(BoxCount(), 0);
}

// The whole path of the page count: the worker, the network printer's
// counter through the registered component and the agent on udp 161.
TEST_F(PrinterWaitTest, AJobAlonesPagesAreThePrintersCountedDifference) {
    TempFile file("morvane-wait-pages.bin", RandomBytes(20000, 165));
    LoopbackListener printer(kPrinterPort);
    ASSERT_TRUE(printer.ok());
    // Idle at the start: the count can be certain.
    SetPrinterState("idle pages=100");
    list->Add(CQueuedJob("labels", file.path(), 2));
    StartWorker();
    loop->SetPageCountPeriods(200, 20000);
    loop->SetRunning(TRUE);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }, 20000));
    SetPrinterState("printing pages=102");
    WaitFor([] { return false; }, 600); // a few questions while it prints
    EXPECT_TRUE(owner.Counted().empty());
    SetPrinterState("idle pages=104");
    ASSERT_TRUE(WaitFor([&] { return !owner.Counted().empty(); }, 10000));
    using Counted = std::vector<std::pair<unsigned long, std::optional<unsigned long>>>;
    EXPECT_EQ(owner.Counted(), (Counted{{1, 4u}}));
    EXPECT_TRUE(printer.WaitForConnections(2));
}

} // namespace
