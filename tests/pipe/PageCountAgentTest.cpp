// The printer's own page counter through the component's
// IPrinterPageCounter, and the page count of job runs, against the test
// agent (scripts/snmp_agent.sh) on its own port: the test raises the
// counter and sets the printer's state as a printer would while printing.
#include "PipeTestSupport.h"
#include "SnmpAgentFixture.h"
#include "pipe/Pipe.h"
#include "printers/PipePrinter.h"
#include "printloop/PageCounter.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace {

CComPtr<IPrinterPageCounter> NewCounter() {
    CComPtr<IPrinterPageCounter> p;
    CPipe::Create(IID_IPrinterPageCounter, p.PutVoid());
    return p;
}

std::wstring AgentDocument(int nSnmpPort) {
    return TcpDocument(UnusedLoopbackPort(), L"<SnmpPort t=\"i4\">" + std::to_wstring(nSnmpPort) +
                                                 L"</SnmpPort><SnmpTimeoutMs t=\"i4\">500"
                                                 L"</SnmpTimeoutMs>");
}

class PagesSink : public IPagesCountedSink {
public:
    void OnPagesCounted(unsigned long nToken, std::optional<unsigned long> pages) override {
        std::lock_guard<std::mutex> lock(m);
        counted.emplace_back(nToken, pages);
    }
    std::vector<std::pair<unsigned long, std::optional<unsigned long>>> Counted() {
        std::lock_guard<std::mutex> lock(m);
        return counted;
    }

private:
    std::mutex m;
    std::vector<std::pair<unsigned long, std::optional<unsigned long>>> counted;
};

// The component's source, counting the questions asked through it.
class CountingSource : public IPageCountSource {
public:
    CountingSource(std::wstring doc, std::atomic<int>& reads)
        : m_source(NewCounter(), std::move(doc)), m_reads(reads) {}
    bool Read(uint64_t& nPages, bool& bIdle) override {
        const bool b = m_source.Read(nPages, bIdle);
        ++m_reads;
        return b;
    }

private:
    CPipePageCountSource m_source;
    std::atomic<int>& m_reads;
};

class PageCountAgent : public SnmpAgent {
protected:
    std::unique_ptr<IPageCountSource> Source() {
        return std::make_unique<CountingSource>(AgentDocument(m_nPort), reads);
    }
    std::atomic<int> reads{0};
};

TEST_F(PageCountAgent, TheCounterAndTheIdleStateComeInOneAnswer) {
    const struct {
        const char* pszState;
        HRESULT hr;
        ULONGLONG pages;
        BOOL idle;
    } cases[] = {
        {"idle pages=1234", S_OK, 1234, TRUE},
        {"printing pages=1240", S_OK, 1240, FALSE},
        {"warmup pages=7", S_OK, 7, FALSE},
        {"noPaper pages=7", S_OK, 7, FALSE}, // idle, but the device is down
        {"lowPaper pages=8", S_OK, 8, TRUE}, // a warning: done all the same
        {"idle pages=4294967295", S_OK, 4294967295ull, TRUE},
        {"index2 idle pages=9", S_OK, 9, TRUE},
        {"idle", S_FALSE, 0, FALSE}, // no counter
        {"noprinter pages=5", S_FALSE, 0, FALSE},
        {"absent", S_FALSE, 0, FALSE},
        {"idle pages=12 unit=7", S_OK, 12, TRUE},    // impressions
        {"idle pages=12 unit=8", S_OK, 12, TRUE},    // sheets
        {"idle pages=12 unit=6", S_FALSE, 0, FALSE}, // lines: no pages
        {"idle pages=12 unit=3", S_FALSE, 0, FALSE}, // ten-thousandths of inches
    };
    CComPtr<IPrinterPageCounter> counter = NewCounter();
    ASSERT_TRUE(counter);
    Bstr doc(AgentDocument(m_nPort));
    for (const auto& c : cases) {
        SetState(c.pszState);
        ULONGLONG pages = 99;
        BOOL idle = 99;
        EXPECT_EQ(counter->ReadPageCounter(doc, &pages, &idle), c.hr) << c.pszState;
        EXPECT_EQ(pages, c.pages) << c.pszState;
        EXPECT_EQ(idle, c.idle) << c.pszState;
    }
    ULONGLONG pages;
    BOOL idle;
    EXPECT_EQ(counter->ReadPageCounter(doc, nullptr, &idle), E_POINTER);
    EXPECT_EQ(counter->ReadPageCounter(doc, &pages, nullptr), E_POINTER);
    Bstr usb(UsbDocument(L"", L"SN1"));
    EXPECT_EQ(counter->ReadPageCounter(usb, &pages, &idle),
              HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
}

// The three cases of the rule against the real agent: a job alone gets the
// difference; two jobs back to back get no value; a printer that stays
// printing gets none, nor does one that was printing at the start.
TEST_F(PageCountAgent, JobRunsAreCountedOnlyWhenCertain) {
    PagesSink sink;
    CPageCounter pageCounter(sink, 150, 1500);

    // Alone: printing after the data, idle a few questions later.
    SetState("idle pages=100");
    const unsigned long alone = pageCounter.JobStarting(Source());
    SetState("printing pages=102");
    reads = 0;
    pageCounter.JobEnded(alone, true);
    // The printer goes on printing for a few questions.
    ASSERT_TRUE(WaitFor([&] { return reads >= 3; }, 5000));
    SetState("idle pages=104");
    ASSERT_TRUE(WaitFor([&] { return sink.Counted().size() == 1; }, 5000));
    EXPECT_EQ(sink.Counted()[0], std::make_pair(alone, std::optional<unsigned long>(4)));

    // Back to back: the second job begins before the first's end was read.
    const unsigned long first = pageCounter.JobStarting(Source());
    SetState("printing pages=106");
    pageCounter.JobEnded(first, true);
    const unsigned long second = pageCounter.JobStarting(Source());
    SetState("printing pages=107");
    pageCounter.JobEnded(second, true);
    SetState("idle pages=107");
    ASSERT_TRUE(WaitFor([&] { return sink.Counted().size() == 3; }, 5000));
    EXPECT_EQ(sink.Counted()[1], std::make_pair(first, std::optional<unsigned long>()));
    EXPECT_EQ(sink.Counted()[2], std::make_pair(second, std::optional<unsigned long>()));

    // Still printing at the limit.
    const unsigned long stuck = pageCounter.JobStarting(Source());
    SetState("printing pages=110");
    const ULONGLONG t0 = GetTickCount64();
    pageCounter.JobEnded(stuck, true);
    ASSERT_TRUE(WaitFor([&] { return sink.Counted().size() == 4; }, 5000));
    EXPECT_GE(GetTickCount64() - t0, 1500u);
    EXPECT_EQ(sink.Counted()[3], std::make_pair(stuck, std::optional<unsigned long>()));

    // Printing someone else's job at the start.
    const unsigned long busy = pageCounter.JobStarting(Source());
    pageCounter.JobEnded(busy, true);
    ASSERT_TRUE(WaitFor([&] { return sink.Counted().size() == 5; }, 5000));
    EXPECT_EQ(sink.Counted()[4], std::make_pair(busy, std::optional<unsigned long>()));
}

} // namespace
