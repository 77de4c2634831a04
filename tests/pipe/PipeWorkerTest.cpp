// The whole way of a job to a network or USB printer: the worker, the pipe
// printers and the registered component (MorvanePipe.dll), with a listener
// on 127.0.0.1:9100 standing in for the printer.
#include "framework/MessageBox.h"
#include "pipe/Pipe.h"
#include "printers/PipePrinter.h"
#include "printloop/PrintLoopThread.h"
#include "support/LoopbackListener.h"
#include "support/PipeServer.h"
#include "support/RegistryFixture.h"
#include "support/StandInComponent.h"
#include "support/FakeUsbDevice.h"
#include "support/RandomBytes.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"
#include "support/WorkerTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

const u_short kPrinterPort = 9100;
const char kFailed[] = "Print Job Failed";
const char kChunkFailed[] = "CIP_Pipe_Printer::Send_Data failed";

// A stand-in component registered in this process (the worker shares the
// test's multithreaded apartment): takes every chunk, and refuses the
// configuration or the end on demand.
std::atomic<HRESULT> g_configureResult{S_OK};
std::atomic<HRESULT> g_finishResult{S_OK};
std::atomic<int> g_livePipes{0};
std::atomic<int> g_finishCalls{0};

class CountedPipe final : public StandInPipe {
public:
    CountedPipe() { ++g_livePipes; }
    HRESULT STDMETHODCALLTYPE Configure(BSTR) override { return g_configureResult; }
    HRESULT STDMETHODCALLTYPE GetBytesWritten(ULONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WriteData(const BYTE*, LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Abort() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Finish(LONG) override {
        ++g_finishCalls;
        return g_finishResult;
    }

private:
    ~CountedPipe() override { --g_livePipes; }
};

HRESULT MakeCountedPipe(IUnknown** pp) {
    *pp = static_cast<IPipe*>(new CountedPipe);
    return S_OK;
}

// The real component behind a wrapper that refuses one chunk (counted from
// 1 over the process): a write that fails in the middle of an otherwise
// healthy connection.
std::atomic<int> g_refuseWrite{0};
std::atomic<int> g_writes{0};

class RefusingPipe final : public StandInPipe {
public:
    explicit RefusingPipe(IPipe* pReal) : m_pReal(pReal) {}
    HRESULT STDMETHODCALLTYPE Configure(BSTR bstrXml) override {
        IPipeConfig* pConfig = nullptr;
        HRESULT hr = m_pReal->QueryInterface(IID_IPipeConfig, reinterpret_cast<void**>(&pConfig));
        if (FAILED(hr))
            return hr;
        hr = pConfig->Configure(bstrXml);
        pConfig->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetBytesWritten(ULONGLONG* p) override {
        return m_pReal->GetBytesWritten(p);
    }
    HRESULT STDMETHODCALLTYPE WriteData(const BYTE* p, LONG cb) override {
        if (++g_writes == g_refuseWrite)
            return E_FAIL;
        return m_pReal->WriteData(p, cb);
    }
    HRESULT STDMETHODCALLTYPE Abort() override { return m_pReal->Abort(); }
    HRESULT STDMETHODCALLTYPE Finish(LONG l) override { return m_pReal->Finish(l); }

private:
    ~RefusingPipe() override { m_pReal->Release(); }
    IPipe* m_pReal;
};

HRESULT MakeRefusingPipe(IUnknown** pp) {
    IPipe* pReal = nullptr;
    const HRESULT hr = CPipe::Create(IID_IPipe, reinterpret_cast<void**>(&pReal));
    if (FAILED(hr))
        return hr;
    *pp = static_cast<IPipe*>(new RefusingPipe(pReal));
    return S_OK;
}

class PipeWorkerTest : public WorkerTest<CPrintLoopThread> {
protected:
    void SetUp() override {
        WorkerTest::SetUp();
        ASSERT_TRUE(apartment.ok());
        ASSERT_TRUE(server.ok()) << "the pipe component is not registered";
        setup.m_nSpoolerType = SPOOLER_IP;
        setup.m_dwIPAddress = 0x7F000001; // 127.0.0.1
    }

    void Run(const char* path, int copies) {
        list->Add(CQueuedJob("job", path, copies));
        StartLoop(THREAD_PRIORITY_IDLE);
        loop->SetRunning(TRUE);
    }
    // Stopped after a failure, with the head job idle again.
    bool FailedAndSettled() {
        const auto b = Boxes();
        if (b.empty() || b.back() != kFailed || loop->IsRunning())
            return false;
        CLock lock(list->GetListLock());
        if (list->GetCount() == 0)
            return true;
        CQueuedJob* head = list->GetAt(0);
        CLock jobLock(head->m_Lock);
        return !head->m_bBusy;
    }
    ComApartment apartment;
    PipeServerModule server;
};

TEST_F(PipeWorkerTest, TwoCopiesReachTheNetworkPrinterByteIdentical) {
    LoopbackListener listener(kPrinterPort);
    ASSERT_TRUE(listener.ok()) << "port 9100 is taken";
    const auto bytes = RandomBytes((1 << 20) + 999, 41);
    TempFile file("morvane-pipe-worker.bin", bytes);
    Run(file.path(), 2);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }, 60000));
    ASSERT_TRUE(listener.WaitForConnections(2));
    const auto got = listener.Connections();
    ASSERT_EQ(got.size(), 2u);
    for (const std::string& doc : got) {
        ASSERT_EQ(doc.size(), bytes.size());
        EXPECT_TRUE(doc == std::string(bytes.begin(), bytes.end()));
    }
    // A finished document ends in order.
    EXPECT_EQ(listener.Ends(),
              (std::vector<LoopbackListener::End>(2, LoopbackListener::End::Orderly)));
    EXPECT_TRUE(Boxes().empty());
    EXPECT_TRUE(loop->IsRunning());
}

// A chunk refused in the middle of a healthy connection: the copy is
// aborted, so the printer sees a reset, never the orderly end that would
// make it print the part it got.
TEST_F(PipeWorkerTest, RefusedChunkResetsTheConnection) {
    LoopbackListener listener(kPrinterPort);
    ASSERT_TRUE(listener.ok()) << "port 9100 is taken";
    StandInRegistration standIn(MakeRefusingPipe);
    ASSERT_TRUE(standIn.ok());
    g_writes = 0;
    g_refuseWrite = 3;
    TempFile file("morvane-pipe-worker-refused.bin", RandomBytes(200000, 45));
    Run(file.path(), 2);
    const bool failed = WaitFor([&] { return FailedAndSettled(); }, 30000);
    g_refuseWrite = 0;
    ASSERT_TRUE(failed);
    EXPECT_EQ(HeadCopies(), 2);
    ASSERT_TRUE(listener.WaitForConnections(1));
    EXPECT_EQ(listener.Ends()[0], LoopbackListener::End::Reset);
    EXPECT_EQ(listener.Connections()[0].size(), 2u * 16384u);
}

// Closing the program while the printer takes nothing: the stop aborts the
// blocked send from the window's thread, the worker ends, and the printer
// sees a reset.
TEST_F(PipeWorkerTest, StopForGoodWhileThePrinterDoesNotReadResetsTheConnection) {
    ASSERT_TRUE(server.SetDefaultTimeouts(2000, 30000, 2000));
    LoopbackListener listener(kPrinterPort, LoopbackListener::Mode::NeverRead);
    ASSERT_TRUE(listener.ok()) << "port 9100 is taken";
    TempFile file("morvane-pipe-worker-stop.bin", RandomBytes(16 << 20, 46));
    Run(file.path(), 1);
    ASSERT_TRUE(listener.WaitForConnections(1));
    // Blocked in the send: the progress text stays put for a second.
    auto status = [&] {
        CLock lock(list->GetListLock());
        CQueuedJob* head = list->GetAt(0);
        CLock jobLock(head->m_Lock);
        return std::string(head->m_strStatus.GetString());
    };
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::string before = status();
            for (int i = 0; i < 50; ++i) {
                Sleep(20);
                if (status() != before)
                    return false;
            }
            return true;
        },
        20000));
    const ULONGLONG t0 = GetTickCount64();
    const BOOL ended = loop->StopForGood();
    EXPECT_LT(GetTickCount64() - t0, CPrintLoopThread::kStopWaitMs + 2500u);
    EXPECT_TRUE(ended);
    if (ended)
        loop.reset();
    else
        loop.release(); // still inside the output: the object must stay
    EXPECT_EQ(HeadCopies(), 1);
    EXPECT_EQ(listener.ReadHeld(0), LoopbackListener::End::Reset);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PipeWorkerTest, PrinterFaultsFailTheCopyAndKeepTheJob) {
    ASSERT_TRUE(server.SetDefaultTimeouts(2000, 500, 500));
    const auto bytes = RandomBytes(16 << 20, 42);
    TempFile file("morvane-pipe-worker-fault.bin", bytes);
    struct Case {
        const char* what;
        bool listen;
        LoopbackListener::Mode mode;
    };
    const Case cases[] = {
        {"nothing listening", false, LoopbackListener::Mode::ReadAll},
        {"hangs up after the first chunk", true, LoopbackListener::Mode::CloseAfter},
        {"never reads", true, LoopbackListener::Mode::NeverRead},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<LoopbackListener> listener;
        if (c.listen) {
            listener = std::make_unique<LoopbackListener>(kPrinterPort, c.mode, 16384);
            ASSERT_TRUE(listener->ok());
        }
        Run(file.path(), 2);
        ASSERT_TRUE(WaitFor([&] { return FailedAndSettled(); }, 60000));
        EXPECT_EQ(list->GetCount(), 1);
        EXPECT_EQ(HeadCopies(), 2);
        const auto b = Boxes();
        // At most one chunk message for the copy, then the worker's own.
        EXPECT_LE(std::count(b.begin(), b.end(), std::string(kChunkFailed)), 1);
        EXPECT_EQ(std::count(b.begin(), b.end(), std::string(kFailed)), 1);
        EXPECT_EQ(owner.stops.load(), 1);
        ASSERT_TRUE(StartOver());
    }
}

TEST_F(PipeWorkerTest, UsbPrinterOnAnExplicitPortGetsTheJob) {
    TempFile port("morvane-pipe-worker-usb.bin", "");
    const auto bytes = RandomBytes(200000, 43);
    TempFile file("morvane-pipe-worker-usbjob.bin", bytes);
    setup.m_nSpoolerType = SPOOLER_USB;
    setup.m_strUSBPort = port.path();
    setup.m_strUSBPrinterSN = "NOT-ATTACHED";
    Run(file.path(), 1);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }, 30000));
    EXPECT_TRUE(ReadFileBytes(port.path()) == std::string(bytes.begin(), bytes.end()));
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(PipeWorkerTest, RefusedConfigurationOrEndFailsTheCopyAndReleasesTheComponent) {
    StandInRegistration standIn(MakeCountedPipe);
    ASSERT_TRUE(standIn.ok());
    TempFile file("morvane-pipe-worker-standin.bin", RandomBytes(50000, 44));
    struct Case {
        const char* what;
        HRESULT configure;
        HRESULT finish;
        int finishCalls;
    };
    const Case cases[] = {
        {"Configure refused", E_FAIL, S_OK, 0},
        {"Finish refused", S_OK, E_FAIL, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_configureResult = c.configure;
        g_finishResult = c.finish;
        g_finishCalls = 0;
        Run(file.path(), 2);
        ASSERT_TRUE(WaitFor([&] { return FailedAndSettled(); }, 30000));
        EXPECT_EQ(HeadCopies(), 2);
        EXPECT_EQ(Boxes(), (std::vector<std::string>{kFailed}));
        // The printer object is gone, and with it the component, without a
        // second Finish.
        EXPECT_TRUE(WaitFor([] { return g_livePipes.load() == 0; }, 5000));
        EXPECT_EQ(g_finishCalls.load(), c.finishCalls);
        ASSERT_TRUE(StartOver());
    }
    g_configureResult = S_OK;
    g_finishResult = S_OK;
}

// A component without the printer state interface (an older one): the
// printer has no wait text, at any point of a copy, and the copy goes
// through as ever; the real component with a printer that reads has none
// either.
TEST_F(PipeWorkerTest, WaitTextIsEmptyWithoutAStallOrAStateInterface) {
    StandInRegistration standIn(MakeCountedPipe);
    ASSERT_TRUE(standIn.ok());
    g_configureResult = S_OK;
    g_finishResult = S_OK;
    {
        CIP_Pipe_Printer printer;
        EXPECT_TRUE(printer.GetWaitText().IsEmpty());
        ASSERT_TRUE(printer.Open(&setup, "job"));
        EXPECT_TRUE(printer.GetWaitText().IsEmpty());
        const char chunk[100] = {};
        EXPECT_EQ(printer.Send_Data(chunk, sizeof(chunk)), 100);
        EXPECT_TRUE(printer.GetWaitText().IsEmpty());
        EXPECT_TRUE(printer.Close());
        EXPECT_TRUE(printer.GetWaitText().IsEmpty());
    }
    // The worker with it: the job goes through.
    TempFile file("morvane-pipe-worker-nostate.bin", RandomBytes(50000, 45));
    Run(file.path(), 1);
    EXPECT_TRUE(WaitFor([&] { return list->GetCount() == 0; }, 30000));
    EXPECT_TRUE(Boxes().empty());
    ASSERT_TRUE(loop->StopForGood());
    loop.reset();

    LoopbackListener listener(kPrinterPort);
    ASSERT_TRUE(listener.ok()) << "port 9100 is taken";
    CIP_Pipe_Printer printer;
    ASSERT_TRUE(printer.Open(&setup, "job"));
    const auto bytes = RandomBytes(200000, 46);
    EXPECT_EQ(printer.Send_Data(bytes.data(), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
    EXPECT_TRUE(printer.GetWaitText().IsEmpty());
    EXPECT_TRUE(printer.Close());
    EXPECT_TRUE(printer.GetWaitText().IsEmpty());
}

// The wait before a copy for a USB printer, through the component's code in
// this process (so its device calls reach the stand-in device) and a file
// as the printer's port: paper out holds the copy until the byte says
// ready; a printer that never gets ready is left by
// Stop with nothing sent; one that fails the question gets the copies.
TEST_F(PipeWorkerTest, UsbPrinterIsWaitedForByItsStatusByte) {
    StandInRegistration component(
        [](IUnknown** pp) { return CPipe::Create(IID_IUnknown, reinterpret_cast<void**>(pp)); });
    ASSERT_TRUE(component.ok());
    FakeUsbDevice device;
    const auto bytes = RandomBytes(40000, 47);
    const std::string job(bytes.begin(), bytes.end());
    TempFile file("morvane-pipe-worker-usbwait.bin", bytes);
    TempFile port("morvane-pipe-worker-usbwait-port.bin", "");
    setup.m_nSpoolerType = SPOOLER_USB;
    setup.m_strUSBPort = port.path();
    auto start = [&](int copies) {
        list->Add(CQueuedJob("job", file.path(), copies));
        StartLoop(THREAD_PRIORITY_IDLE);
        loop->SetPrinterPollMs(100);
        loop->SetRunning(TRUE);
    };

    // Paused, then ready: the copy goes (a port file is written from its
    // start by each copy).
    device.SetStatus(0x38);
    start(1);
    ASSERT_TRUE(WaitFor([&] { return HeadStatus() == "Waiting for printer: Paper out"; }));
    const int asked = device.Questions();
    ASSERT_TRUE(WaitFor([&] { return device.Questions() > asked; }));
    EXPECT_EQ(ReadFileBytes(port.path()), "");
    device.SetStatus(0x18);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }, 20000));
    EXPECT_TRUE(ReadFileBytes(port.path()) == job);

    // Never ready: Stop leaves the job whole and the port untouched.
    ASSERT_TRUE(StartOver());
    WriteFileBytes(port.path(), "");
    device.SetStatus(0x08);
    start(3);
    ASSERT_TRUE(WaitFor([&] { return HeadStatus() == "Waiting for printer: Offline"; }));
    loop->SetRunning(FALSE);
    ASSERT_TRUE(WaitFor([&] { return HeadStatus().empty(); }, 5000));
    EXPECT_EQ(HeadCopies(), 3);
    EXPECT_EQ(ReadFileBytes(port.path()), "");

    // No answer: sent as before there were questions.
    ASSERT_TRUE(StartOver());
    WriteFileBytes(port.path(), "");
    device.SetStatus(FakeUsbDevice::kRefuse);
    start(1);
    ASSERT_TRUE(WaitFor([&] { return list->GetCount() == 0; }, 20000));
    EXPECT_TRUE(ReadFileBytes(port.path()) == job);
    EXPECT_TRUE(Boxes().empty());
}

} // namespace
