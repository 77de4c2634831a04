// Many small network copies in a row through the component's object, as an
// unattended queue sends them: the printer's state is asked before each
// copy and watched while it goes, every other copy's question goes to a
// port where nothing listens (as to a printer that answers no questions),
// the page counter's thread asks there all the time, now and then a copy
// is stopped in the middle, and every copy that was not stopped must
// arrive once, whole. A crash of the process (or of Wine's server under
// it) fails the run.
// MORVANE_SOAK_COPIES sets the number of copies (the bench runs thousands).
#include "FakeAgent.h"
#include "PipeTestSupport.h"
#include "SilentAgent.h"
#include "pipe/Pipe.h"
#include "support/LoopbackListener.h"
#include "support/RandomBytes.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

int SoakCopies() {
    const char* psz = getenv("MORVANE_SOAK_COPIES");
    const int n = psz ? atoi(psz) : 0;
    return n > 0 ? n : 300;
}

// A loopback UDP port where nothing listens: a question there is refused
// (or lost) at once.
int ClosedUdpPort() {
    SilentAgent bound;
    return bound.port();
}

template <typename T> T* Query(IUnknown* p, REFIID iid) {
    T* q = nullptr;
    p->QueryInterface(iid, reinterpret_cast<void**>(&q));
    return q;
}

} // namespace

TEST(SmallJobsSoak, EveryCopyArrivesOnceWholeWithQuestionsAndStops) {
    using namespace fake_agent;
    // A printer that says "printing" to every question.
    FakeAgent agent([](const Request& r, int) {
        return std::vector<Bytes>{PrinterAnswer(r, {0, 0}, "public", SnmpVersion::V2c, 2, 4)};
    });
    ASSERT_NE(agent.port(), 0);
    LoopbackListener printer;
    ASSERT_TRUE(printer.ok());
    const int nClosedPort = ClosedUdpPort();
    ASSERT_NE(nClosedPort, 0);
    auto document = [&](int nSnmpPort, int nTimeoutMs) {
        return TcpDocument(printer.port(), L"<SnmpPort t=\"i4\">" + std::to_wstring(nSnmpPort) +
                                               L"</SnmpPort><SnmpTimeoutMs t=\"i4\">" +
                                               std::to_wstring(nTimeoutMs) + L"</SnmpTimeoutMs>");
    };
    const std::wstring answered = document(agent.port(), 200);
    const std::wstring unanswered = document(nClosedPort, 50);
    // The page counter's thread, asking the silent printer all along.
    std::atomic<bool> bSoakDone{false};
    std::thread counter([&] {
        IPrinterPageCounter* pCounter = nullptr;
        CPipe::Create(IID_IPrinterPageCounter, reinterpret_cast<void**>(&pCounter));
        if (!pCounter)
            return;
        Bstr xml(unanswered);
        while (!bSoakDone) {
            ULONGLONG pages = 0;
            BOOL idle = FALSE;
            pCounter->ReadPageCounter(xml, &pages, &idle);
        }
        pCounter->Release();
    });
    // Also when an assertion below ends the test early.
    struct Joiner {
        std::atomic<bool>& bEnd;
        std::thread& t;
        ~Joiner() {
            bEnd = true;
            if (t.joinable())
                t.join();
        }
    } joiner{bSoakDone, counter};
    const std::vector<char> small = RandomBytes(2048, 88172645u);
    const int nCopies = SoakCopies();
    int nStopped = 0;
    for (int i = 0; i < nCopies; ++i) {
        IPipe* pipe = nullptr;
        ASSERT_EQ(CPipe::Create(IID_IPipe, reinterpret_cast<void**>(&pipe)), S_OK);
        IPrinterStatus* status = Query<IPrinterStatus>(pipe, IID_IPrinterStatus);
        IPipeConfig* config = Query<IPipeConfig>(pipe, IID_IPipeConfig);
        ASSERT_TRUE(status && config);
        Bstr xml(i % 2 ? unanswered : answered);
        // The question before the copy, as the worker asks it.
        LONG lCode = 0;
        BSTR text = nullptr;
        status->CheckStatus(xml, &lCode, &text);
        SysFreeString(text);
        ASSERT_EQ(config->Configure(xml), S_OK) << "copy " << i;
        config->Release();
        // The row's watcher reads the last state while the copy goes.
        std::atomic<bool> bDone{false};
        std::thread watcher([&] {
            while (!bDone) {
                LONG l = 0;
                BSTR t = nullptr;
                status->GetLastStatus(&l, &t);
                SysFreeString(t);
                Sleep(1);
            }
        });
        // Every seventh copy is stopped after its first chunk, from another
        // thread, as Stop and closing do.
        const bool bStop = i % 7 == 3;
        HRESULT hr = pipe->WriteData(reinterpret_cast<const BYTE*>(small.data()), 1024);
        if (bStop) {
            std::thread stopper([&] { pipe->Abort(); });
            stopper.join();
            ++nStopped;
        }
        if (SUCCEEDED(hr))
            hr = pipe->WriteData(reinterpret_cast<const BYTE*>(small.data()) + 1024, 1024);
        if (SUCCEEDED(hr))
            hr = pipe->Finish(0);
        bDone = true;
        watcher.join();
        if (!bStop)
            EXPECT_EQ(hr, S_OK) << "copy " << i;
        else
            EXPECT_TRUE(FAILED(hr)) << "copy " << i;
        status->Release();
        pipe->Release();
    }
    bSoakDone = true;
    counter.join();
    ASSERT_TRUE(printer.WaitForConnections(static_cast<size_t>(nCopies), 30000));
    const std::string whole(small.begin(), small.end());
    int nWhole = 0;
    for (const std::string& c : printer.Connections())
        nWhole += c == whole ? 1 : 0;
    EXPECT_EQ(nWhole, nCopies - nStopped);
    std::printf("soak: %d copies, %d stopped, %d arrived whole\n", nCopies, nStopped, nWhole);
}
