// The pipe component's transports driven directly: TCP against loopback
// listeners on free ports, USB against files and the test prefix's devices.
// Every fault must end in a negative result within its time-out.
#include "PipeTestSupport.h"
#include "framework/UniqueHandle.h"
#include "pipe/TcpTransport.h"
#include "pipe/UsbTransport.h"
#include "support/LoopbackListener.h"
#include "support/RandomBytes.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"
#include "support/UsbPrinterDevices.h"
#include "support/FakeUsbDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

PipeTimeouts Short() {
    PipeTimeouts t;
    t.dwConnectMs = 2000;
    t.dwSendMs = 500;
    t.dwCloseMs = 2000;
    return t;
}

// Sends bytes in chunks of nChunk; the first failure, or S_OK.
HRESULT SendAll(CTransport& t, const std::vector<char>& bytes, size_t nChunk) {
    for (size_t at = 0; at < bytes.size(); at += nChunk) {
        const size_t n = std::min(nChunk, bytes.size() - at);
        const HRESULT hr =
            t.Write(reinterpret_cast<const BYTE*>(bytes.data() + at), static_cast<DWORD>(n));
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

TEST(TcpTransport, EveryByteArrivesInOrderAndTheConnectionEndsCleanly) {
    LoopbackListener listener;
    ASSERT_TRUE(listener.ok());
    const auto bytes = RandomBytes((3 << 20) + 777, 11);
    std::unique_ptr<CTransport> t;
    ASSERT_EQ(CTcpTransport::Connect("127.0.0.1", listener.port(), Short(), t), S_OK);
    ASSERT_EQ(SendAll(*t, bytes, 16384), S_OK);
    // A chunk far larger than the socket's buffers goes out whole too.
    const auto big = RandomBytes(8 << 20, 12);
    ASSERT_EQ(t->Write(reinterpret_cast<const BYTE*>(big.data()), static_cast<DWORD>(big.size())),
              S_OK);
    EXPECT_EQ(t->Write(nullptr, 0), S_OK);
    ASSERT_EQ(t->Finish(), S_OK);
    ASSERT_TRUE(listener.WaitForConnections(1));
    const std::string got = listener.Connections()[0];
    ASSERT_EQ(got.size(), bytes.size() + big.size());
    EXPECT_TRUE(got.compare(0, bytes.size(), bytes.data(), bytes.size()) == 0);
    EXPECT_TRUE(got.compare(bytes.size(), big.size(), big.data(), big.size()) == 0);
    // Finished: nothing more goes out.
    EXPECT_LT(t->Write(reinterpret_cast<const BYTE*>(bytes.data()), 10), 0);
    EXPECT_LT(t->Finish(), 0);
}

TEST(TcpTransport, AddressesThatNameNoPrinterAreRefused) {
    std::unique_ptr<CTransport> t;
    for (const char* address : {"0.0.0.0", "", "300.1.1.1", "printer", "1.2.3", "127.0.0.1 "})
        EXPECT_EQ(CTcpTransport::Connect(address, 9100, Short(), t), E_INVALIDARG) << address;
    EXPECT_EQ(CTcpTransport::Connect(nullptr, 9100, Short(), t), E_INVALIDARG);
    for (int port : {0, -1, 65536})
        EXPECT_EQ(CTcpTransport::Connect("127.0.0.1", port, Short(), t), E_INVALIDARG) << port;
    EXPECT_EQ(t, nullptr);
}

TEST(TcpTransport, NothingListeningFailsTheConnect) {
    std::unique_ptr<CTransport> t;
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_LT(CTcpTransport::Connect("127.0.0.1", UnusedLoopbackPort(), Short(), t), 0);
    EXPECT_EQ(t, nullptr);
    EXPECT_LT(GetTickCount64() - t0, 3000u);
}

// A loopback port whose listener never accepts and whose accept queue is
// full, so that one more connect gets no answer at all (its first packet is
// dropped) until the connect time-out ends it. Filled by connects of its
// own until one of them hangs; ok() false when that never happens.
class FullBacklog {
public:
    FullBacklog() : m_bWinsock(StartWinsock()) {
        m_addr.sin_family = AF_INET;
        m_addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_listen.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        int cb = sizeof(m_addr);
        const bool listening = m_listen && bind(m_listen.get(), Addr(), sizeof(m_addr)) == 0 &&
                               getsockname(m_listen.get(), Addr(), &cb) == 0 &&
                               listen(m_listen.get(), 1) == 0;
        for (int i = 0; listening && i < 16 && !m_full; ++i)
            m_full = OneMoreConnectHangs();
    }
    ~FullBacklog() {
        m_fillers.clear();
        m_listen.reset();
        if (m_bWinsock)
            WSACleanup();
    }

    bool ok() const { return m_full; }
    u_short port() const { return ntohs(m_addr.sin_port); }

private:
    static bool StartWinsock() {
        WSADATA wsa;
        return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
    }
    sockaddr* Addr() { return reinterpret_cast<sockaddr*>(&m_addr); }
    // A non-blocking connect that is still unanswered after 300 ms.
    bool OneMoreConnectHangs() {
        m_fillers.emplace_back(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        const SOCKET s = m_fillers.back().get();
        u_long nonBlocking = 1;
        if (s == INVALID_SOCKET || ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
            connect(s, Addr(), sizeof(m_addr)) == 0)
            return false;
        fd_set writeSet;
        FD_ZERO(&writeSet);
        FD_SET(s, &writeSet);
        timeval tv = {0, 300000};
        return select(0, nullptr, &writeSet, nullptr, &tv) == 0;
    }

    const bool m_bWinsock;
    sockaddr_in m_addr = {};
    UniqueSocket m_listen;
    std::vector<UniqueSocket> m_fillers;
    bool m_full = false;
};

// A printer that never answers the connect: the configured connect time
// ends it, well before the system's own (tens of seconds), and no sooner.
TEST(TcpTransport, ConnectThatGetsNoAnswerFailsAfterTheConnectTime) {
    FullBacklog port;
    ASSERT_TRUE(port.ok()) << "no loopback connect could be made to hang";
    PipeTimeouts timeouts = Short();
    timeouts.dwConnectMs = 400;
    std::unique_ptr<CTransport> t;
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_EQ(CTcpTransport::Connect("127.0.0.1", port.port(), timeouts, t),
              HRESULT_FROM_WIN32(WSAETIMEDOUT));
    const ULONGLONG ms = GetTickCount64() - t0;
    EXPECT_EQ(t, nullptr);
    EXPECT_GE(ms, 350u);
    EXPECT_LT(ms, 3000u);
}

TEST(TcpTransport, PrinterThatHangsUpEarlyFailsTheDocument) {
    LoopbackListener listener(0, LoopbackListener::Mode::CloseAfter, 16384);
    ASSERT_TRUE(listener.ok());
    std::unique_ptr<CTransport> t;
    ASSERT_EQ(CTcpTransport::Connect("127.0.0.1", listener.port(), Short(), t), S_OK);
    const auto first = RandomBytes(16384, 13);
    ASSERT_EQ(t->Write(reinterpret_cast<const BYTE*>(first.data()), 16384), S_OK);
    ASSERT_TRUE(listener.WaitForConnections(1));
    // The rest can no longer arrive: either a write or the end must say so.
    HRESULT hr = S_OK;
    for (int i = 0; i < 64 && SUCCEEDED(hr); ++i)
        hr = t->Write(reinterpret_cast<const BYTE*>(first.data()), 16384);
    const HRESULT hrFinish = t->Finish();
    EXPECT_TRUE(FAILED(hr) || FAILED(hrFinish));
    EXPECT_LT(hrFinish, 0);
}

TEST(TcpTransport, HangUpRightAfterTheLastChunkStillFailsTheEnd) {
    // The printer took the bytes it read and closed before the sender said
    // it was done: the end reports it rather than passing silently.
    LoopbackListener listener(0, LoopbackListener::Mode::CloseAfter, 1000);
    ASSERT_TRUE(listener.ok());
    std::unique_ptr<CTransport> t;
    ASSERT_EQ(CTcpTransport::Connect("127.0.0.1", listener.port(), Short(), t), S_OK);
    const auto bytes = RandomBytes(1000, 14);
    ASSERT_EQ(t->Write(reinterpret_cast<const BYTE*>(bytes.data()), 1000), S_OK);
    ASSERT_TRUE(listener.WaitForConnections(1));
    Sleep(100);
    EXPECT_LT(t->Finish(), 0);
}

TEST(TcpTransport, PrinterThatNeverReadsFailsWithinTheSendTime) {
    LoopbackListener listener(0, LoopbackListener::Mode::NeverRead);
    ASSERT_TRUE(listener.ok());
    std::unique_ptr<CTransport> t;
    ASSERT_EQ(CTcpTransport::Connect("127.0.0.1", listener.port(), Short(), t), S_OK);
    const auto chunk = RandomBytes(16384, 15);
    HRESULT hr = S_OK;
    int sent = 0;
    const ULONGLONG t0 = GetTickCount64();
    // Buffers on both sides hold a few MiB at most.
    for (; sent < 4096 && SUCCEEDED(hr); ++sent)
        hr = t->Write(reinterpret_cast<const BYTE*>(chunk.data()), 16384);
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(WSAETIMEDOUT));
    EXPECT_LT(sent, 4096);
    EXPECT_LT(GetTickCount64() - t0, 20000u);
    // Broken for good: the next write fails at once, and so does the end.
    const ULONGLONG t1 = GetTickCount64();
    EXPECT_EQ(t->Write(reinterpret_cast<const BYTE*>(chunk.data()), 1), hr);
    EXPECT_EQ(t->Finish(), hr);
    // At once, not after the close time (with room for a loaded machine).
    EXPECT_LT(GetTickCount64() - t1, 1500u);
}

TEST(TcpTransport, PrinterThatStaysOpenAfterTheEndIsGivenTheCloseTime) {
    // Everything was handed over and the end was sent; a printer still busy
    // with the document must not make it count as failed (it would be sent
    // again).
    LoopbackListener listener(0, LoopbackListener::Mode::NeverRead);
    ASSERT_TRUE(listener.ok());
    PipeTimeouts timeouts = Short();
    timeouts.dwCloseMs = 300;
    std::unique_ptr<CTransport> t;
    ASSERT_EQ(CTcpTransport::Connect("127.0.0.1", listener.port(), timeouts, t), S_OK);
    ASSERT_EQ(t->Write(reinterpret_cast<const BYTE*>("abc"), 3), S_OK);
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_EQ(t->Finish(), S_OK);
    EXPECT_GE(GetTickCount64() - t0, 250u);
}

TEST(TcpTransport, AbortDropsTheConnection) {
    LoopbackListener listener;
    ASSERT_TRUE(listener.ok());
    std::unique_ptr<CTransport> t;
    ASSERT_EQ(CTcpTransport::Connect("127.0.0.1", listener.port(), Short(), t), S_OK);
    ASSERT_EQ(t->Write(reinterpret_cast<const BYTE*>("abc"), 3), S_OK);
    t->Abort();
    EXPECT_EQ(t->Write(reinterpret_cast<const BYTE*>("d"), 1), E_ABORT);
    EXPECT_EQ(t->Finish(), E_ABORT);
    ASSERT_TRUE(listener.WaitForConnections(1));
}

// Only a finished document may end in order: a printer takes an orderly
// end for the end of the document and prints what it got.
TEST(TcpTransport, OnlyAFinishedDocumentEndsInOrder) {
    LoopbackListener listener;
    ASSERT_TRUE(listener.ok());
    const auto bytes = RandomBytes(100000, 18);
    for (int how = 0; how < 3; ++how) {
        SCOPED_TRACE(how == 0 ? "finished" : how == 1 ? "aborted" : "destroyed unfinished");
        std::unique_ptr<CTransport> t;
        ASSERT_EQ(CTcpTransport::Connect("127.0.0.1", listener.port(), Short(), t), S_OK);
        ASSERT_EQ(SendAll(*t, bytes, 16384), S_OK);
        if (how == 0)
            EXPECT_EQ(t->Finish(), S_OK);
        else if (how == 1)
            t->Abort();
        t.reset();
        ASSERT_TRUE(listener.WaitForConnections(static_cast<size_t>(how) + 1));
    }
    const auto ends = listener.Ends();
    EXPECT_EQ(ends[0], LoopbackListener::End::Orderly);
    EXPECT_TRUE(listener.Connections()[0] == std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(ends[1], LoopbackListener::End::Reset);
    EXPECT_EQ(ends[2], LoopbackListener::End::Reset);
}

// Writes until one blocks (the other side takes nothing), on a thread of
// its own; the test then cancels from its own thread.
struct BlockedWriter {
    explicit BlockedWriter(CTransport& t)
        : m_thread([this, &t] {
              const auto chunk = RandomBytes(16384, 19);
              HRESULT hr = S_OK;
              for (int i = 0; i < 100000 && SUCCEEDED(hr); ++i) {
                  hr = t.Write(reinterpret_cast<const BYTE*>(chunk.data()), 16384);
                  ++writes;
              }
              result = hr;
              done = true;
          }) {}
    ~BlockedWriter() { m_thread.join(); }
    // No write has come back for a while.
    bool Blocked() {
        int last = writes;
        for (int i = 0; i < 50; ++i) {
            Sleep(20);
            if (done || writes != last)
                return false;
        }
        return true;
    }
    std::atomic<int> writes{0};
    std::atomic<bool> done{false};
    std::atomic<HRESULT> result{S_OK};
    std::thread m_thread;
};

TEST(TcpTransport, CancelFromAnotherThreadCutsABlockedSend) {
    LoopbackListener listener(0, LoopbackListener::Mode::NeverRead);
    ASSERT_TRUE(listener.ok());
    PipeTimeouts timeouts = Short();
    timeouts.dwSendMs = 20000;
    std::unique_ptr<CTransport> t;
    ASSERT_EQ(CTcpTransport::Connect("127.0.0.1", listener.port(), timeouts, t), S_OK);
    {
        BlockedWriter writer(*t);
        ASSERT_TRUE(WaitFor([&] { return writer.Blocked(); }, 15000));
        const ULONGLONG t0 = GetTickCount64();
        t->Cancel();
        EXPECT_TRUE(WaitFor([&] { return writer.done.load(); }, 1500));
        EXPECT_LT(GetTickCount64() - t0, 1500u);
        EXPECT_LT(writer.result.load(), 0);
    }
    EXPECT_LT(t->Write(reinterpret_cast<const BYTE*>("x"), 1), 0);
    EXPECT_LT(t->Finish(), 0);
    t.reset();
    EXPECT_EQ(listener.ReadHeld(0), LoopbackListener::End::Reset);
}

TEST(UsbTransport, WritesEveryByteToTheGivenPath) {
    TempFile file("morvane-usb-port.bin", "");
    const auto bytes = RandomBytes((1 << 20) + 5, 16);
    std::unique_ptr<CTransport> t;
    ASSERT_EQ(CUsbTransport::OpenPath(file.path(), Short(), t), S_OK);
    ASSERT_EQ(SendAll(*t, bytes, 16384), S_OK);
    ASSERT_EQ(t->Finish(), S_OK);
    EXPECT_TRUE(ReadFileBytes(file.path()) == std::string(bytes.begin(), bytes.end()));
    EXPECT_LT(t->Write(reinterpret_cast<const BYTE*>("x"), 1), 0);
}

TEST(UsbTransport, MissingPathFailsAndCreatesNothing) {
    const std::string path = TempPath("morvane-usb-missing.bin");
    DeleteFileA(path.c_str());
    std::unique_ptr<CTransport> t;
    EXPECT_LT(CUsbTransport::OpenPath(path, Short(), t), 0);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(CUsbTransport::OpenPath("", Short(), t), E_INVALIDARG);
}

TEST(UsbTransport, FindsThePrinterBySerialNumber) {
    UsbPrinterDevices devices;
    const std::string a = devices.Add("USB\\VID_0A5F&PID_0001\\ABC123", "Port_#0001.Hub_#0004");
    const std::string b = devices.Add("USB\\VID_04B8&PID_0202\\X12Y", "Printer A");
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(FindUsbPrinterPath("ABC123"), a);
    EXPECT_EQ(FindUsbPrinterPath("x12y"), b);
    EXPECT_EQ(FindUsbPrinterPath("ABC12"), "");
    EXPECT_EQ(FindUsbPrinterPath(""), "");

    std::unique_ptr<CTransport> t;
    EXPECT_EQ(CUsbTransport::OpenBySerialNumber("NOSUCH", Short(), t),
              HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(CUsbTransport::OpenBySerialNumber("", Short(), t), E_INVALIDARG);
    // Found, but nothing stands behind the test prefix's device: the open
    // fails for that reason, not for a missing printer.
    const HRESULT hr = CUsbTransport::OpenBySerialNumber("ABC123", Short(), t);
    EXPECT_LT(hr, 0);
    EXPECT_NE(hr, HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
}

TEST(UsbTransport, DeviceThatStopsTakingDataFailsWithinTheSendTime) {
    // A named pipe whose server never reads stands in for a printer that
    // stopped taking data.
    const char name[] = "\\\\.\\pipe\\morvane-usb-stalled";
    HANDLE server = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                     4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    std::unique_ptr<CTransport> t;
    ASSERT_EQ(CUsbTransport::OpenPath(name, Short(), t), S_OK);
    const auto chunk = RandomBytes(16384, 17);
    HRESULT hr = S_OK;
    int sent = 0;
    const ULONGLONG t0 = GetTickCount64();
    for (; sent < 64 && SUCCEEDED(hr); ++sent)
        hr = t->Write(reinterpret_cast<const BYTE*>(chunk.data()), 16384);
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_TIMEOUT));
    EXPECT_LT(GetTickCount64() - t0, 10000u);
    EXPECT_EQ(t->Finish(), hr);
    CloseHandle(server);
}

TEST(UsbTransport, CancelFromAnotherThreadCutsABlockedWrite) {
    const char name[] = "\\\\.\\pipe\\morvane-usb-cancelled";
    HANDLE server = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                     4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    PipeTimeouts timeouts = Short();
    timeouts.dwSendMs = 20000;
    std::unique_ptr<CTransport> t;
    ASSERT_EQ(CUsbTransport::OpenPath(name, timeouts, t), S_OK);
    {
        BlockedWriter writer(*t);
        ASSERT_TRUE(WaitFor([&] { return writer.Blocked(); }, 15000));
        const ULONGLONG t0 = GetTickCount64();
        t->Cancel();
        EXPECT_TRUE(WaitFor([&] { return writer.done.load(); }, 1500));
        EXPECT_LT(GetTickCount64() - t0, 1500u);
        EXPECT_LT(writer.result.load(), 0);
    }
    EXPECT_LT(t->Finish(), 0);
    t.reset();
    CloseHandle(server);
}

// A device that stops taking data is asked its status byte: paper out waits
// up to the paused limit, and a printer that reads again meanwhile gets
// every byte; one that fails the question fails after the send time as ever.
TEST(UsbTransport, StalledWriteWaitsWhileThePrinterSaysPaused) {
    const struct {
        int status;
        bool reads; // the printer reads again once it has been asked
        HRESULT hr;
        ULONGLONG minMs, maxMs;
        const wchar_t* last;
    } rows[] = {
        {FakeUsbDevice::kRefuse, false, HRESULT_FROM_WIN32(ERROR_TIMEOUT), 400, 2000, L""},
        {0x38, false, HRESULT_FROM_WIN32(ERROR_TIMEOUT), 2400, 6000, L"Paper out"},
        {0x08, true, S_OK, 0, 6000, L"Printing"},
    };
    FakeUsbDevice fake;
    const auto bytes = RandomBytes(8 * 16384, 21);
    int n = 0;
    for (const auto& row : rows) {
        const std::string name = "\\\\.\\pipe\\morvane-usb-paused-" + std::to_string(n++);
        HANDLE server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND,
                                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
        fake.SetStatus(row.status);
        const int asked = fake.Questions();
        PipeTimeouts timeouts = Short();
        timeouts.dwPausedMs = 2500;
        CLastPrinterStatus last;
        std::unique_ptr<CTransport> t;
        ASSERT_EQ(CUsbTransport::OpenPath(name, timeouts, t, &last), S_OK);
        std::string got;
        std::thread reader([&] {
            if (!row.reads || !WaitFor([&] { return fake.Questions() > asked; }, 5000))
                return;
            char buffer[4096];
            DWORD cb = 0;
            while (ReadFile(server, buffer, sizeof(buffer), &cb, nullptr) && cb > 0)
                got.append(buffer, cb);
        });
        const ULONGLONG t0 = GetTickCount64();
        const HRESULT hr = SendAll(*t, bytes, 16384);
        const ULONGLONG took = GetTickCount64() - t0;
        EXPECT_EQ(hr, row.hr) << row.status;
        EXPECT_GE(took, row.minMs) << row.status;
        EXPECT_LT(took, row.maxMs) << row.status;
        EXPECT_EQ(last.Get().text, row.last) << row.status;
        EXPECT_EQ(SUCCEEDED(t->Finish()), SUCCEEDED(row.hr));
        t.reset();
        reader.join();
        if (row.reads) {
            EXPECT_TRUE(got == std::string(bytes.begin(), bytes.end()));
        }
        CloseHandle(server);
    }
}

} // namespace
