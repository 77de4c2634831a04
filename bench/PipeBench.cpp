// Throughput of one job through the IP pipe printer (and the registered
// pipe component) to a loopback listener on 127.0.0.1:9100, as a ratio
// against a plain socket sender of the same file to the same listener, and
// the process's memory while the printer sends. Run by pipe_throughput.sh.
// Usage: pipe_bench.exe [MiB] [rounds]
#include "printers/PipePrinter.h"

#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

const int kChunk = 16384;
const u_short kPort = 9100;

// Accepts connections one at a time and discards their bytes, counting them.
class DiscardListener {
public:
    DiscardListener() {
        m_listen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        BOOL reuse = TRUE;
        setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                   sizeof(reuse));
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(kPort);
        m_ok = bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
               listen(m_listen, 4) == 0;
        if (m_ok)
            m_thread = std::thread([this] { Run(); });
    }
    ~DiscardListener() {
        m_stop = true;
        closesocket(m_listen);
        if (m_thread.joinable())
            m_thread.join();
    }
    bool ok() const { return m_ok; }
    unsigned long long Received() const { return m_received.load(); }

private:
    void Run() {
        std::vector<char> buffer(1 << 18);
        while (!m_stop) {
            SOCKET s = accept(m_listen, nullptr, nullptr);
            if (s == INVALID_SOCKET)
                return;
            for (;;) {
                const int n = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0);
                if (n <= 0)
                    break;
                m_received += static_cast<unsigned long long>(n);
            }
            closesocket(s);
        }
    }

    SOCKET m_listen = INVALID_SOCKET;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    std::atomic<unsigned long long> m_received{0};
    std::thread m_thread;
};

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

LARGE_INTEGER Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t;
}

// The process's committed private memory (Wine reports it as the pagefile
// usage; its private usage field stays 0), and its working set.
SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    return pmc.PagefileUsage;
}

SIZE_T WorkingSet() {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof(pmc));
    return pmc.WorkingSetSize;
}

// The reference: one blocking socket, the file in 16384-byte reads, every
// byte sent, the sending side shut down and the listener's close awaited.
bool SendPlain(const std::string& path, unsigned long long& bytes) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(kPort);
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    std::vector<char> buffer(kChunk);
    bytes = 0;
    while (ok) {
        const size_t n = fread(buffer.data(), 1, buffer.size(), f);
        if (n == 0)
            break;
        for (size_t at = 0; ok && at < n;) {
            const int sent = send(s, buffer.data() + at, static_cast<int>(n - at), 0);
            ok = sent > 0;
            if (ok)
                at += static_cast<size_t>(sent);
        }
        bytes += n;
    }
    shutdown(s, SD_SEND);
    char c;
    while (ok && recv(s, &c, 1, 0) > 0) {
    }
    closesocket(s);
    fclose(f);
    return ok;
}

struct PrinterRun {
    bool ok = false;
    SIZE_T privateAtStart = 0; // after the first chunk
    SIZE_T privatePeak = 0;
    SIZE_T privateAtEnd = 0; // after the last chunk, before Close
    SIZE_T workingAtStart = 0;
    SIZE_T workingAtEnd = 0;
};

// As the worker sends one copy.
PrinterRun SendThroughPrinter(const std::string& path) {
    PrinterRun r;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return r;
    CSpoolerSetup setup;
    setup.m_nSpoolerType = SPOOLER_IP;
    setup.m_dwIPAddress = 0x7F000001;
    CPrinter* p = Create_Printer(&setup);
    bool ok = p && p->Open(&setup, "bench");
    std::vector<char> buffer(kChunk);
    unsigned long long chunks = 0;
    while (ok) {
        const size_t n = fread(buffer.data(), 1, buffer.size(), f);
        if (n == 0)
            break;
        ok = p->Send_Data(buffer.data(), static_cast<int>(n)) == static_cast<int>(n);
        if (++chunks == 1) {
            r.privateAtStart = PrivateBytes();
            r.workingAtStart = WorkingSet();
        }
        if (chunks % 256 == 0)
            r.privatePeak = std::max(r.privatePeak, PrivateBytes());
    }
    r.privateAtEnd = PrivateBytes();
    r.workingAtEnd = WorkingSet();
    r.privatePeak = std::max(r.privatePeak, r.privateAtEnd);
    if (p)
        ok = p->Close() && ok;
    delete p;
    fclose(f);
    r.ok = ok;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    const unsigned long long mib = argc > 1 ? strtoull(argv[1], nullptr, 10) : 256;
    const int rounds = argc > 2 ? atoi(argv[2]) : 3;
    const unsigned long long size = mib << 20;

    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DiscardListener listener;
    if (!listener.ok()) {
        printf("cannot listen on 127.0.0.1:%u\n", kPort);
        return 1;
    }

    char dir[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, dir);
    const std::string path = std::string(dir) + "morvane-pipe-bench.bin";
    {
        FILE* f = fopen(path.c_str(), "wb");
        if (!f) {
            printf("cannot write %s\n", path.c_str());
            return 1;
        }
        std::mt19937 rng(7);
        std::vector<unsigned> block(1 << 18);
        for (unsigned long long left = size; left > 0;) {
            for (auto& v : block)
                v = rng();
            const size_t n =
                static_cast<size_t>(std::min<unsigned long long>(left, block.size() * 4));
            fwrite(block.data(), 1, n, f);
            left -= n;
        }
        fclose(f);
    }

    double bestPlain = 1e300, bestPipe = 1e300;
    PrinterRun memory;
    bool ok = true;
    for (int i = 0; i < rounds && ok; ++i) {
        unsigned long long bytes = 0;
        const unsigned long long before = listener.Received();
        LARGE_INTEGER t0 = Now();
        ok = SendPlain(path, bytes);
        LARGE_INTEGER t1 = Now();
        bestPlain = std::min(bestPlain, Seconds(t0, t1));
        const unsigned long long plainGot = listener.Received() - before;

        const unsigned long long before2 = listener.Received();
        t0 = Now();
        const PrinterRun r = SendThroughPrinter(path);
        t1 = Now();
        bestPipe = std::min(bestPipe, Seconds(t0, t1));
        // Let the listener count the tail of the last connection.
        for (int w = 0; w < 100 && listener.Received() - before2 < size; ++w)
            Sleep(10);
        const unsigned long long pipeGot = listener.Received() - before2;
        ok = ok && r.ok && plainGot == size && pipeGot == size;
        if (i == 0)
            memory = r;
        else
            memory.privatePeak = std::max(memory.privatePeak, r.privatePeak);
        if (!ok)
            printf("round %d failed: plain %llu bytes, pipe %llu bytes, pipe ok %d\n", i + 1,
                   plainGot, pipeGot, r.ok);
    }
    DeleteFileA(path.c_str());
    if (!ok)
        return 1;

    const double mb = static_cast<double>(size) / (1 << 20);
    printf("job: %llu MiB in chunks of %d bytes, best of %d rounds\n", mib, kChunk, rounds);
    printf("plain socket sender:  %8.1f MiB/s\n", mb / bestPlain);
    printf("IP pipe printer:      %8.1f MiB/s\n", mb / bestPipe);
    printf("ratio (pipe / plain): %8.2f\n", bestPlain / bestPipe);
    const double kib = 1024.0;
    printf("private bytes while sending (first round): after first chunk %.0f KiB, after last "
           "chunk %.0f KiB, growth %+.0f KiB; peak over all rounds %.0f KiB\n",
           memory.privateAtStart / kib, memory.privateAtEnd / kib,
           (static_cast<double>(memory.privateAtEnd) - static_cast<double>(memory.privateAtStart)) /
               kib,
           memory.privatePeak / kib);
    printf("working set while sending (first round): after first chunk %.0f KiB, after last "
           "chunk %.0f KiB, growth %+.0f KiB\n",
           memory.workingAtStart / kib, memory.workingAtEnd / kib,
           (static_cast<double>(memory.workingAtEnd) - static_cast<double>(memory.workingAtStart)) /
               kib);
    CoUninitialize();
    WSACleanup();
    return 0;
}
