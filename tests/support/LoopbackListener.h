// A printer's raw port on loopback inside a test: a background thread
// accepts connections one after another and keeps each one's bytes. Every
// wait is bounded; the destructor stops the thread and closes everything.
//
// Modes: ReadAll reads each connection until the sender closes it;
// CloseAfter reads that many bytes, then closes the connection; NeverRead
// accepts and never reads (with a small receive buffer, so a sender soon
// has to wait); PauseAfter reads like ReadAll until that many bytes of a
// connection came, then stops reading (with the same small buffer) until
// Resume is called; StallAfter does the same with the system's own
// buffers, so the sender still has most of a large document to write when
// reading goes on. Link ws2_32.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackListener {
public:
    enum class Mode { ReadAll, CloseAfter, NeverRead, PauseAfter, StallAfter };
    enum class End { Open, Orderly, Reset, Ours };

    // Port 0 takes any free port (see port()). The address is one of the
    // loopback range (127.0.0.1 unless given, in host order).
    explicit LoopbackListener(u_short nPort = 0, Mode mode = Mode::ReadAll, size_t nCloseAfter = 0,
                              u_long nAddress = INADDR_LOOPBACK)
        : m_mode(mode == Mode::StallAfter ? Mode::PauseAfter : mode), m_nCloseAfter(nCloseAfter) {
        WSADATA wsa;
        m_bWinsock = WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
        m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (m_listen == INVALID_SOCKET)
            return;
        // A fixed port may still have connections in TIME_WAIT from an
        // earlier test.
        BOOL reuse = TRUE;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                   sizeof(reuse));
        if (mode == Mode::NeverRead || mode == Mode::PauseAfter) {
            int cb = 4096;
            setsockopt(m_listen, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&cb),
                       sizeof(cb));
        }
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(nAddress);
        addr.sin_port = htons(nPort);
        // A fixed port may be held for a while by another test run on this
        // machine: wait for it, within bounds.
        bool bound = bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
        for (int i = 0; !bound && nPort != 0 && i < 300; ++i) {
            Sleep(100);
            bound = bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
        }
        if (!bound || listen(m_listen, 8) != 0) {
            closesocket(m_listen);
            m_listen = INVALID_SOCKET;
            return;
        }
        int cb = sizeof(addr);
        getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &cb);
        m_nPort = ntohs(addr.sin_port);
        m_thread = std::thread([this] { Run(); });
    }

    ~LoopbackListener() {
        m_bStop = true;
        if (m_thread.joinable())
            m_thread.join();
        for (SOCKET s : m_held)
            closesocket(s);
        if (m_listen != INVALID_SOCKET)
            closesocket(m_listen);
        if (m_bWinsock)
            WSACleanup();
    }

    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    bool ok() const { return m_listen != INVALID_SOCKET; }
    u_short port() const { return m_nPort; }

    // Waits at most ms until n connections have ended (ReadAll, CloseAfter)
    // or have been accepted (NeverRead).
    bool WaitForConnections(size_t n, DWORD ms = 30000) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms),
                             [&] { return m_connections.size() >= n; });
    }

    std::vector<std::string> Connections() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_connections;
    }

    size_t Count() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_connections.size();
    }

    // How each connection ended, in the order of Connections().
    std::vector<End> Ends() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ends;
    }

    // Bytes received so far over every connection, finished or not.
    size_t Received() const { return m_nReceived.load(); }

    // PauseAfter: whether reading has stopped; Resume reads on to the end.
    bool Paused() const { return m_bPaused.load(); }
    void Resume() { m_bResumed = true; }

    // NeverRead: reads held connection i on the caller's thread until it
    // ends or ms pass, and says how it ended (Open on time-out).
    End ReadHeld(size_t i, DWORD ms = 10000) {
        SOCKET s;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (i >= m_held.size())
                return End::Open;
            s = m_held[i];
        }
        std::vector<char> buffer(1 << 16);
        const ULONGLONG deadline = GetTickCount64() + ms;
        while (GetTickCount64() < deadline) {
            if (!WaitReadable(s, 50))
                continue;
            const int n = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0);
            if (n > 0) {
                m_nReceived += static_cast<size_t>(n);
                continue;
            }
            return Classify(s, n);
        }
        return End::Open;
    }

private:
    // recv returned n <= 0: how the sender ended the connection. Wine
    // reports a connection the sender reset as an ordinary end of stream
    // (recv returns 0), so a one-byte answer tells the two apart: it fails
    // on a reset connection and goes out on one closed in order.
    static End Classify(SOCKET s, int n) {
        if (n < 0) {
            const int nError = WSAGetLastError();
            return nError == WSAECONNRESET || nError == WSAECONNABORTED ? End::Reset : End::Open;
        }
        return send(s, "", 1, 0) == 1 ? End::Orderly : End::Reset;
    }

    static bool WaitReadable(SOCKET s, DWORD ms) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv = {static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
        return select(0, &set, nullptr, nullptr, &tv) > 0;
    }

    void Run() {
        while (!m_bStop) {
            if (!WaitReadable(m_listen, 50))
                continue;
            SOCKET s = accept(m_listen, nullptr, nullptr);
            if (s == INVALID_SOCKET)
                continue;
            if (m_mode == Mode::NeverRead) {
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_held.push_back(s);
                }
                Done(std::string(), End::Open);
                continue;
            }
            End end = End::Open;
            std::string bytes = Read(s, end);
            closesocket(s);
            Done(std::move(bytes), end);
        }
    }

    // Reads until the sender closes (or, in CloseAfter mode, until enough
    // bytes came), for at most two minutes without data.
    std::string Read(SOCKET s, End& end) {
        std::string bytes;
        std::vector<char> buffer(1 << 16);
        ULONGLONG idleSince = GetTickCount64();
        while (!m_bStop && GetTickCount64() - idleSince < 120000) {
            if (m_mode == Mode::CloseAfter && bytes.size() >= m_nCloseAfter) {
                end = End::Ours;
                break;
            }
            if (m_mode == Mode::PauseAfter && bytes.size() >= m_nCloseAfter && !m_bResumed) {
                m_bPaused = true;
                Sleep(20);
                idleSince = GetTickCount64();
                continue;
            }
            m_bPaused = false;
            if (!WaitReadable(s, 50))
                continue;
            size_t want = buffer.size();
            if (m_mode == Mode::CloseAfter ||
                (m_mode == Mode::PauseAfter && !m_bResumed && bytes.size() < m_nCloseAfter))
                want = std::min(want, m_nCloseAfter - bytes.size());
            const int n = recv(s, buffer.data(), static_cast<int>(want), 0);
            if (n <= 0) {
                end = Classify(s, n);
                break;
            }
            bytes.append(buffer.data(), static_cast<size_t>(n));
            m_nReceived += static_cast<size_t>(n);
            idleSince = GetTickCount64();
        }
        return bytes;
    }

    void Done(std::string bytes, End end) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_connections.push_back(std::move(bytes));
            m_ends.push_back(end);
        }
        m_cv.notify_all();
    }

    Mode m_mode;
    size_t m_nCloseAfter;
    bool m_bWinsock = false;
    SOCKET m_listen = INVALID_SOCKET;
    u_short m_nPort = 0;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bPaused{false};
    std::atomic<bool> m_bResumed{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    // Under m_mutex:
    std::vector<SOCKET> m_held; // NeverRead: open until the end
    std::vector<std::string> m_connections;
    std::vector<End> m_ends;
    std::atomic<size_t> m_nReceived{0};
};
