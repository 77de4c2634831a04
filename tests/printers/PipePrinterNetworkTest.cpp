// The pipe printers with the registered component (MorvanePipe.dll) against
// a listener on 127.0.0.1:9100, as the worker drives them per copy:
// Create_Printer, Open, Send_Data per 16384-byte chunk, Close, delete.
#include "framework/MessageBox.h"
#include "printers/PipePrinter.h"
#include "support/LoopbackListener.h"
#include "support/PipeServer.h"
#include "support/RandomBytes.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <olectl.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

const u_short kPrinterPort = 9100;

class PipePrinterNetworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(apartment.ok());
        ASSERT_TRUE(server.ok()) << "the pipe component is not registered";
        SetMessageBoxHandler([this](HWND, const char* text, const char*, UINT) {
            boxes.push_back(text);
            return IDOK;
        });
        setup.m_nSpoolerType = SPOOLER_IP;
        setup.m_dwIPAddress = 0x7F000001; // 127.0.0.1
    }
    void TearDown() override { SetMessageBoxHandler(nullptr); }

    struct Copy {
        BOOL opened = FALSE;
        int refusedAt = -1; // chunk index of the first -1
        BOOL closed = FALSE;
    };

    // One copy as the worker sends it: stops at the first refused chunk,
    // closes whenever Open succeeded.
    Copy SendCopy(const std::vector<char>& bytes) {
        Copy c;
        std::unique_ptr<CPrinter> p(Create_Printer(&setup));
        if (!p)
            return c;
        c.opened = p->Open(&setup, "job");
        if (!c.opened)
            return c;
        for (size_t at = 0, i = 0; at < bytes.size(); at += 16384, ++i) {
            const int n = static_cast<int>(std::min<size_t>(16384, bytes.size() - at));
            if (p->Send_Data(bytes.data() + at, n) != n) {
                c.refusedAt = static_cast<int>(i);
                break;
            }
        }
        c.closed = p->Close();
        return c;
    }

    ComApartment apartment;
    PipeServerModule server;
    CSpoolerSetup setup;
    std::vector<std::string> boxes;
};

TEST_F(PipePrinterNetworkTest, RegisteredInProcessForEveryApartment) {
    EXPECT_EQ(PipeServerRegistryValue(L"ThreadingModel"), L"Both");
    const std::wstring path = PipeServerRegistryValue(nullptr);
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    // Made directly in this multithreaded apartment and in a single-threaded
    // one: no proxy is needed for the custom interfaces.
    IPipe* p = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_MorvanePipe, nullptr, CLSCTX_ALL, IID_IPipe,
                               reinterpret_cast<void**>(&p)),
              S_OK);
    IPipeConfig* c = nullptr;
    EXPECT_EQ(p->QueryInterface(IID_IPipeConfig, reinterpret_cast<void**>(&c)), S_OK);
    c->Release();
    p->Release();
    HRESULT hrSta = E_FAIL;
    std::thread([&] {
        ComApartment sta(COINIT_APARTMENTTHREADED);
        IPipe* q = nullptr;
        hrSta = CoCreateInstance(CLSID_MorvanePipe, nullptr, CLSCTX_ALL, IID_IPipe,
                                 reinterpret_cast<void**>(&q));
        if (q)
            q->Release();
    }).join();
    EXPECT_EQ(hrSta, S_OK);
}

TEST_F(PipePrinterNetworkTest, ClassObjectRules) {
    using GetClassObjectFn = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    using CanUnloadFn = HRESULT(WINAPI*)();
    auto getClassObject = server.Export<GetClassObjectFn>("DllGetClassObject");
    auto canUnload = server.Export<CanUnloadFn>("DllCanUnloadNow");
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_NE(canUnload, nullptr);
    void* pv = nullptr;
    EXPECT_EQ(getClassObject(IID_IPipe, IID_IClassFactory, &pv), CLASS_E_CLASSNOTAVAILABLE);
    IClassFactory* f = nullptr;
    ASSERT_EQ(getClassObject(CLSID_MorvanePipe, IID_IClassFactory, reinterpret_cast<void**>(&f)),
              S_OK);
    EXPECT_EQ(f->CreateInstance(reinterpret_cast<IUnknown*>(f), IID_IUnknown, &pv),
              CLASS_E_NOAGGREGATION);
    IPipe* p = nullptr;
    ASSERT_EQ(f->CreateInstance(nullptr, IID_IPipe, reinterpret_cast<void**>(&p)), S_OK);
    f->Release();
    EXPECT_EQ(canUnload(), S_FALSE);
    p->Release();
    EXPECT_EQ(canUnload(), S_OK);
}

TEST_F(PipePrinterNetworkTest, TwoCopiesArriveByteIdentical) {
    LoopbackListener listener(kPrinterPort);
    ASSERT_TRUE(listener.ok()) << "port 9100 is taken";
    const auto bytes = RandomBytes((1 << 20) + 4321, 31);
    for (int copy = 0; copy < 2; ++copy) {
        const Copy c = SendCopy(bytes);
        EXPECT_TRUE(c.opened);
        EXPECT_EQ(c.refusedAt, -1);
        EXPECT_TRUE(c.closed);
    }
    ASSERT_TRUE(listener.WaitForConnections(2));
    const auto got = listener.Connections();
    ASSERT_EQ(got.size(), 2u);
    for (const std::string& doc : got) {
        ASSERT_EQ(doc.size(), bytes.size());
        EXPECT_TRUE(doc == std::string(bytes.begin(), bytes.end()));
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PipePrinterNetworkTest, NothingListeningFailsOpen) {
    const ULONGLONG t0 = GetTickCount64();
    const Copy c = SendCopy(RandomBytes(100, 32));
    EXPECT_FALSE(c.opened);
    EXPECT_LT(GetTickCount64() - t0, 5000u);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PipePrinterNetworkTest, PrinterHangingUpAfterTheFirstChunkFailsTheCopy) {
    LoopbackListener listener(kPrinterPort, LoopbackListener::Mode::CloseAfter, 16384);
    ASSERT_TRUE(listener.ok());
    const Copy c = SendCopy(RandomBytes(4 << 20, 33));
    EXPECT_TRUE(c.opened);
    EXPECT_TRUE(c.refusedAt >= 1 || !c.closed);
    EXPECT_LE(boxes.size(), 1u);
}

TEST_F(PipePrinterNetworkTest, PrinterThatNeverReadsFailsTheCopyWithinTheSendTime) {
    ASSERT_TRUE(server.SetDefaultTimeouts(0, 500, 500));
    LoopbackListener listener(kPrinterPort, LoopbackListener::Mode::NeverRead);
    ASSERT_TRUE(listener.ok());
    const ULONGLONG t0 = GetTickCount64();
    const Copy c = SendCopy(RandomBytes(64 << 20, 34));
    EXPECT_TRUE(c.opened);
    EXPECT_GE(c.refusedAt, 0);
    EXPECT_FALSE(c.closed);
    EXPECT_EQ(boxes, (std::vector<std::string>{"CIP_Pipe_Printer::Send_Data failed"}));
    EXPECT_LT(GetTickCount64() - t0, 20000u);
}

TEST_F(PipePrinterNetworkTest, UsbPrinterWritesToTheExplicitPort) {
    TempFile file("morvane-usb-printer.bin", "");
    const auto bytes = RandomBytes(300000, 35);
    setup.m_nSpoolerType = SPOOLER_USB;
    setup.m_strUSBPort = file.path();
    setup.m_strUSBPrinterName = "Desk";
    setup.m_strUSBPrinterSN = "NOT-ATTACHED";
    const Copy c = SendCopy(bytes);
    EXPECT_TRUE(c.opened);
    EXPECT_EQ(c.refusedAt, -1);
    EXPECT_TRUE(c.closed);
    EXPECT_TRUE(ReadFileBytes(file.path()) == std::string(bytes.begin(), bytes.end()));

    // No explicit port and no such printer attached: Open fails.
    setup.m_strUSBPort = "";
    EXPECT_FALSE(SendCopy(bytes).opened);
}

TEST_F(PipePrinterNetworkTest, UnregisteredComponentFailsOpenAtOnce) {
    using RegisterFn = HRESULT(WINAPI*)();
    auto unregister = server.Export<RegisterFn>("DllUnregisterServer");
    auto reregister = server.Export<RegisterFn>("DllRegisterServer");
    ASSERT_NE(unregister, nullptr);
    ASSERT_NE(reregister, nullptr);
    ASSERT_EQ(unregister(), S_OK);
    EXPECT_EQ(PipeServerRegistryValue(nullptr), L"");
    {
        CIP_Pipe_Printer p;
        EXPECT_FALSE(p.Open(&setup, "job"));
        EXPECT_EQ(p.GetPipe(), nullptr);
        char chunk[8] = {};
        EXPECT_EQ(p.Send_Data(chunk, 8), 8);
        EXPECT_TRUE(p.Close());
    }
    EXPECT_EQ(unregister(), S_OK); // already gone: still fine
    ASSERT_EQ(reregister(), S_OK);
    EXPECT_EQ(PipeServerRegistryValue(L"ThreadingModel"), L"Both");
    EXPECT_TRUE(boxes.empty());
}

} // namespace
