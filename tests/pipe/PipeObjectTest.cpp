// The pipe component's object and its reading of the configuration
// document, without COM registration (the object is made directly).
#include "PipeTestSupport.h"
#include "pipe/Pipe.h"
#include "pipe/PipeModule.h"
#include "pipe/PipeSettings.h"
#include "support/LoopbackListener.h"
#include "support/RandomBytes.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace {

const wchar_t kWorkedExample[] =
    L"<?xml version=\"1.0\"?><VizudoRuduvav><IP-Settings><IP-Address "
    L"t=\"s\">192.168.1.20</IP-Address><Port t=\"i4\">9100</Port><USB t=\"b\">0</USB>"
    L"<Comms_Method t=\"s\">TCP</Comms_Method><USBPort t=\"s\"></USBPort></IP-Settings>"
    L"</VizudoRuduvav>";

TEST(PipeSettings, ReadsTheNetworkPrintersDocument) {
    PipeSettings s;
    const PipeTimeouts defaults;
    ASSERT_EQ(ReadPipeSettings(kWorkedExample, defaults, s), S_OK);
    EXPECT_EQ(s.method, PipeSettings::Method::Tcp);
    EXPECT_EQ(s.strAddress, "192.168.1.20");
    EXPECT_EQ(s.nPort, 9100);
    EXPECT_EQ(s.timeouts.dwConnectMs, 10000u);
    EXPECT_EQ(s.timeouts.dwSendMs, 30000u);
    EXPECT_EQ(s.timeouts.dwCloseMs, 10000u);
}

TEST(PipeSettings, ReadsTheUsbPrintersDocument) {
    PipeSettings s;
    ASSERT_EQ(ReadPipeSettings(UsbDocument(L"", L"ABC123").c_str(), PipeTimeouts(), s), S_OK);
    EXPECT_EQ(s.method, PipeSettings::Method::Usb);
    EXPECT_EQ(s.strUsbSerial, "ABC123");
    EXPECT_EQ(s.strUsbPort, "");
    // A bare spooler port name is no path: the serial number decides.
    ASSERT_EQ(ReadPipeSettings(UsbDocument(L"USB001", L"ABC123").c_str(), PipeTimeouts(), s), S_OK);
    EXPECT_EQ(s.strUsbPort, "");
    EXPECT_EQ(s.strUsbSerial, "ABC123");
    EXPECT_EQ(ReadPipeSettings(UsbDocument(L"USB001", L"").c_str(), PipeTimeouts(), s),
              E_INVALIDARG);
    ASSERT_EQ(ReadPipeSettings(UsbDocument(L"\\\\.\\USB001", L"").c_str(), PipeTimeouts(), s),
              S_OK);
    EXPECT_EQ(s.strUsbPort, "\\\\.\\USB001");
    // Non-ASCII path text arrives as UTF-8.
    ASSERT_EQ(ReadPipeSettings(UsbDocument(L"C:\\dr\u00fcck.bin", L"").c_str(), PipeTimeouts(), s),
              S_OK);
    EXPECT_EQ(s.strUsbPort, "C:\\dr\xc3\xbc"
                            "ck.bin");
}

TEST(PipeSettings, OptionalTimeoutsOverrideTheDefaults) {
    PipeSettings s;
    PipeTimeouts defaults;
    defaults.dwSendMs = 1234;
    ASSERT_EQ(ReadPipeSettings(TcpDocument(9100, L"<ConnectTimeoutMs t=\"i4\">50</ConnectTimeoutMs>"
                                                 L"<CloseTimeoutMs>70</CloseTimeoutMs>"
                                                 L"<SendTimeoutMs t=\"i4\">0</SendTimeoutMs>")
                                   .c_str(),
                               defaults, s),
              S_OK);
    EXPECT_EQ(s.timeouts.dwConnectMs, 50u);
    EXPECT_EQ(s.timeouts.dwCloseMs, 70u);
    EXPECT_EQ(s.timeouts.dwSendMs, 1234u); // 0 is no time: ignored
}

TEST(PipeSettings, MethodFallsBackToTheUsbFlag) {
    const std::wstring head = L"<?xml version=\"1.0\"?><R><IP-Settings>";
    const std::wstring tail = L"</IP-Settings></R>";
    PipeSettings s;
    ASSERT_EQ(
        ReadPipeSettings(
            (head + L"<USB t=\"b\">1</USB><USBPrinterSN t=\"s\">Z9</USBPrinterSN>" + tail).c_str(),
            PipeTimeouts(), s),
        S_OK);
    EXPECT_EQ(s.method, PipeSettings::Method::Usb);
    ASSERT_EQ(ReadPipeSettings((head +
                                L"<USB t=\"b\">0</USB><IP-Address>10.0.0.2</IP-Address><Port "
                                L"t=\"u4\">9101</Port>" +
                                tail)
                                   .c_str(),
                               PipeTimeouts(), s),
              S_OK);
    EXPECT_EQ(s.method, PipeSettings::Method::Tcp);
    EXPECT_EQ(s.nPort, 9101);
    ASSERT_EQ(ReadPipeSettings((head +
                                L"<Comms_Method>tcp</Comms_Method><IP-Address>10.0.0.2</"
                                L"IP-Address><Port>9102</Port>" +
                                tail)
                                   .c_str(),
                               PipeTimeouts(), s),
              S_OK);
    EXPECT_EQ(s.nPort, 9102);
}

TEST(PipeSettings, DocumentsThatCannotDriveAPrinterAreRefused) {
    const std::wstring head = L"<?xml version=\"1.0\"?><R><IP-Settings>";
    const std::wstring tail = L"</IP-Settings></R>";
    const std::wstring bad[] = {
        L"",
        L"not xml",
        L"<?xml version=\"1.0\"?><R><Other><Port>1</Port></Other></R>",
        head + tail, // no method at all
        head + L"<Comms_Method>Serial</Comms_Method>" + tail,
        head + L"<Comms_Method>TCP</Comms_Method><Port>9100</Port>" + tail,
        head + L"<Comms_Method>TCP</Comms_Method><IP-Address>1.2.3.4</IP-Address>" + tail,
        head + L"<Comms_Method>TCP</Comms_Method><IP-Address>1.2.3.4</IP-Address><Port>91x</Port>" +
            tail,
        head +
            L"<Comms_Method>TCP</Comms_Method><IP-Address>1.2.3.4</IP-Address><Port>70000</Port>" +
            tail,
        head + L"<Comms_Method>USB</Comms_Method><USBPort t=\"s\"></USBPort>" + tail,
        TcpDocument(9100).substr(0, 60),
    };
    for (const std::wstring& doc : bad) {
        PipeSettings s;
        EXPECT_EQ(ReadPipeSettings(doc.c_str(), PipeTimeouts(), s), E_INVALIDARG)
            << std::string(doc.begin(), doc.end());
    }
    PipeSettings s;
    EXPECT_EQ(ReadPipeSettings(nullptr, PipeTimeouts(), s), E_INVALIDARG);
}

// One object, released at the end of the test.
struct PipeRef {
    PipeRef() { EXPECT_EQ(CPipe::Create(IID_IPipe, reinterpret_cast<void**>(&p)), S_OK); }
    ~PipeRef() {
        if (p)
            p->Release();
    }
    HRESULT Configure(const std::wstring& doc) {
        IPipeConfig* c = nullptr;
        HRESULT hr = p->QueryInterface(IID_IPipeConfig, reinterpret_cast<void**>(&c));
        if (FAILED(hr))
            return hr;
        hr = c->Configure(Bstr(doc));
        c->Release();
        return hr;
    }
    IPipe* p = nullptr;
};

TEST(PipeObject, OneDocumentFromConfigureToFinish) {
    LoopbackListener listener;
    ASSERT_TRUE(listener.ok());
    const auto bytes = RandomBytes(100000, 21);
    {
        PipeRef pipe;
        EXPECT_EQ(pipe.p->WriteData(reinterpret_cast<const BYTE*>(bytes.data()), 10), E_UNEXPECTED);
        EXPECT_EQ(pipe.p->Finish(0), E_UNEXPECTED);
        ASSERT_EQ(pipe.Configure(TcpDocument(listener.port())), S_OK);
        EXPECT_EQ(pipe.Configure(TcpDocument(listener.port())), E_UNEXPECTED);
        for (size_t at = 0; at < bytes.size(); at += 16384) {
            const LONG n = static_cast<LONG>(std::min<size_t>(16384, bytes.size() - at));
            ASSERT_EQ(pipe.p->WriteData(reinterpret_cast<const BYTE*>(bytes.data() + at), n), S_OK);
        }
        EXPECT_EQ(pipe.p->WriteData(nullptr, 0), S_OK);
        EXPECT_EQ(pipe.p->WriteData(nullptr, 5), E_POINTER);
        EXPECT_EQ(pipe.p->WriteData(reinterpret_cast<const BYTE*>(bytes.data()), -1), E_INVALIDARG);
        ULONGLONG written = 0;
        EXPECT_EQ(pipe.p->GetBytesWritten(&written), S_OK);
        EXPECT_EQ(written, bytes.size());
        EXPECT_EQ(pipe.p->GetBytesWritten(nullptr), E_POINTER);
        EXPECT_EQ(pipe.p->Finish(1), E_INVALIDARG);
        EXPECT_EQ(pipe.p->Finish(0), S_OK);
        EXPECT_EQ(pipe.p->Finish(0), E_UNEXPECTED);
        EXPECT_EQ(pipe.p->WriteData(reinterpret_cast<const BYTE*>(bytes.data()), 1), E_UNEXPECTED);
    }
    ASSERT_TRUE(listener.WaitForConnections(1));
    EXPECT_TRUE(listener.Connections()[0] == std::string(bytes.begin(), bytes.end()));
}

TEST(PipeObject, InterfacesShareOneIdentityAndKeepTheModuleAlive) {
    ASSERT_TRUE(PipeModuleCanUnload());
    PipeRef pipe;
    EXPECT_FALSE(PipeModuleCanUnload());
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    IPipeConfig* c = nullptr;
    ASSERT_EQ(pipe.p->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a)), S_OK);
    ASSERT_EQ(pipe.p->QueryInterface(IID_IPipeConfig, reinterpret_cast<void**>(&c)), S_OK);
    ASSERT_EQ(c->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b)), S_OK);
    EXPECT_EQ(a, b);
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(pipe.p->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    a->Release();
    b->Release();
    c->Release();
    pipe.p->Release();
    pipe.p = nullptr;
    EXPECT_TRUE(PipeModuleCanUnload());
}

TEST(PipeObject, ConfigureFailsWhenThePrinterCannotBeReached) {
    PipeRef pipe;
    EXPECT_LT(pipe.Configure(TcpDocument(UnusedLoopbackPort())), 0);
    EXPECT_EQ(pipe.p->WriteData(reinterpret_cast<const BYTE*>("x"), 1), E_UNEXPECTED);
    PipeRef unset;
    EXPECT_EQ(unset.Configure(TcpDocument(9100, L"", L"0.0.0.0")), E_INVALIDARG);
    PipeRef garbage;
    EXPECT_EQ(garbage.Configure(L"<?xml version=\"1.0\"?><x>"), E_INVALIDARG);
    PipeRef nothing;
    EXPECT_EQ(nothing.Configure(L""), E_INVALIDARG);
}

TEST(PipeObject, AFailedChunkFailsEveryLaterCallAtOnce) {
    LoopbackListener listener(0, LoopbackListener::Mode::NeverRead);
    ASSERT_TRUE(listener.ok());
    PipeRef pipe;
    ASSERT_EQ(pipe.Configure(TcpDocument(listener.port(),
                                         L"<SendTimeoutMs t=\"i4\">300</SendTimeoutMs>"
                                         L"<CloseTimeoutMs t=\"i4\">3000</CloseTimeoutMs>")),
              S_OK);
    const auto chunk = RandomBytes(16384, 22);
    HRESULT hr = S_OK;
    for (int i = 0; i < 4096 && SUCCEEDED(hr); ++i)
        hr = pipe.p->WriteData(reinterpret_cast<const BYTE*>(chunk.data()), 16384);
    ASSERT_LT(hr, 0);
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_EQ(pipe.p->WriteData(reinterpret_cast<const BYTE*>(chunk.data()), 16384), hr);
    EXPECT_EQ(pipe.p->Finish(0), hr);
    // At once, not after the close time (with room for a loaded machine).
    EXPECT_LT(GetTickCount64() - t0, 1500u);
}

TEST(PipeObject, UsbPortPathWinsOverTheSerialNumber) {
    TempFile file("morvane-pipe-usbport.bin", "");
    const auto bytes = RandomBytes(50000, 23);
    PipeRef pipe;
    ASSERT_EQ(pipe.Configure(UsbDocument(Widen(file.path()), L"NOSUCHSERIAL")), S_OK);
    ASSERT_EQ(pipe.p->WriteData(reinterpret_cast<const BYTE*>(bytes.data()), 30000), S_OK);
    ASSERT_EQ(pipe.p->WriteData(reinterpret_cast<const BYTE*>(bytes.data() + 30000), 20000), S_OK);
    ASSERT_EQ(pipe.p->Finish(0), S_OK);
    EXPECT_TRUE(ReadFileBytes(file.path()) == std::string(bytes.begin(), bytes.end()));

    PipeRef missing;
    EXPECT_EQ(missing.Configure(UsbDocument(L"", L"NOSUCHSERIAL")),
              HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
}

TEST(PipeObject, AbortEndsWithoutTheOrderlyClose) {
    LoopbackListener listener;
    ASSERT_TRUE(listener.ok());
    PipeRef pipe;
    EXPECT_EQ(pipe.p->Abort(), S_OK); // nothing open yet
    PipeRef second;
    ASSERT_EQ(second.Configure(TcpDocument(listener.port())), S_OK);
    ASSERT_EQ(second.p->WriteData(reinterpret_cast<const BYTE*>("abc"), 3), S_OK);
    EXPECT_EQ(second.p->Abort(), S_OK);
    EXPECT_LT(second.p->WriteData(reinterpret_cast<const BYTE*>("d"), 1), 0);
    EXPECT_LT(second.p->Finish(0), 0);
    EXPECT_EQ(second.p->Abort(), S_OK);
    ASSERT_TRUE(listener.WaitForConnections(1));
    EXPECT_EQ(listener.Ends()[0], LoopbackListener::End::Reset);
}

// The window's thread aborts while the worker's thread is blocked in
// WriteData on a printer that takes nothing: both return within a second.
TEST(PipeObject, AbortFromAnotherThreadCutsABlockedWrite) {
    LoopbackListener listener(0, LoopbackListener::Mode::NeverRead);
    ASSERT_TRUE(listener.ok());
    PipeRef pipe;
    ASSERT_EQ(pipe.Configure(
                  TcpDocument(listener.port(), L"<SendTimeoutMs t=\"i4\">20000</SendTimeoutMs>")),
              S_OK);
    std::atomic<int> writes{0};
    std::atomic<bool> done{false};
    std::atomic<HRESULT> result{S_OK};
    std::thread writer([&] {
        const auto chunk = RandomBytes(16384, 24);
        HRESULT hr = S_OK;
        for (int i = 0; i < 100000 && SUCCEEDED(hr); ++i) {
            hr = pipe.p->WriteData(reinterpret_cast<const BYTE*>(chunk.data()), 16384);
            ++writes;
        }
        result = hr;
        done = true;
    });
    // Blocked: no write has come back for a second.
    const bool blocked = WaitFor(
        [&] {
            const int last = writes;
            for (int i = 0; i < 50; ++i) {
                Sleep(20);
                if (done || writes != last)
                    return false;
            }
            return true;
        },
        15000);
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_EQ(pipe.p->Abort(), S_OK);
    const ULONGLONG abortMs = GetTickCount64() - t0;
    EXPECT_TRUE(WaitFor([&] { return done.load(); }, 1500));
    const ULONGLONG writeMs = GetTickCount64() - t0;
    writer.join();
    ASSERT_TRUE(blocked);
    EXPECT_LT(abortMs, 1000u);
    EXPECT_LT(writeMs, 1500u);
    EXPECT_LT(result.load(), 0);
    EXPECT_LT(pipe.p->WriteData(reinterpret_cast<const BYTE*>("x"), 1), 0);
    EXPECT_LT(pipe.p->Finish(0), 0);
    EXPECT_EQ(listener.ReadHeld(0), LoopbackListener::End::Reset);
}

// A process killed in the middle of a document (what kill -9 does to the
// program under Wine) must not leave the printer an orderly end.
TEST(PipeObject, ProcessKilledMidDocumentResetsTheConnection) {
    LoopbackListener listener;
    ASSERT_TRUE(listener.ok());
    char exe[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string helper(exe);
    helper = helper.substr(0, helper.find_last_of("\\/") + 1) + "pipe_kill_helper.exe";
    std::string command = "\"" + helper + "\" " + std::to_string(listener.port());
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(helper.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi))
        << helper;
    const bool sending = WaitFor([&] { return listener.Received() >= 50000; }, 20000);
    TerminateProcess(pi.hProcess, 9);
    // Bounded, with room for a machine busy with a build.
    const DWORD ended = WaitForSingleObject(pi.hProcess, 20000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_TRUE(sending);
    ASSERT_EQ(ended, WAIT_OBJECT_0) << "the helper did not end";
    ASSERT_TRUE(listener.WaitForConnections(1, 20000));
    EXPECT_EQ(listener.Ends()[0], LoopbackListener::End::Reset);
    EXPECT_LT(listener.Connections()[0].size(), 200000u);
}

} // namespace
