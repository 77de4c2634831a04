// The printer's state through the pipe component's IPrinterStatus: the
// mapping of the three objects to a state, against the test agent started
// by the ctest fixture (scripts/snmp_agent.sh; MORVANE_SNMP_DIR names its
// folder, with the state file and the port it answers on), and against
// fake agents on loopback that stay silent, answer late or send stray
// datagrams.
#include "FakeAgent.h"
#include "PipeTestSupport.h"
#include "SnmpAgentFixture.h"
#include "pipe/Pipe.h"
#include "printers/SilenceRule.h"
#include "pipe/PrinterStatus.h"
#include "support/LoopbackListener.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

namespace {

using namespace fake_agent;

// The object through the interface under test, made directly.
struct StatusRef {
    IPrinterStatus* p = nullptr;
    StatusRef() { CPipe::Create(IID_IPrinterStatus, reinterpret_cast<void**>(&p)); }
    ~StatusRef() {
        if (p)
            p->Release();
    }
    StatusRef(const StatusRef&) = delete;
    StatusRef& operator=(const StatusRef&) = delete;
};

struct Answer {
    HRESULT hr = E_FAIL;
    LONG lCode = -1;
    std::wstring text;
    ULONGLONG ms = 0;
};

Answer Check(IPrinterStatus* p, const std::wstring& xml) {
    Answer a;
    Bstr doc(xml);
    BSTR text = nullptr;
    const ULONGLONG t0 = GetTickCount64();
    a.hr = p->CheckStatus(doc, &a.lCode, &text);
    a.ms = GetTickCount64() - t0;
    if (text)
        a.text = text;
    SysFreeString(text);
    return a;
}

Answer Last(IPrinterStatus* p) {
    Answer a;
    BSTR text = nullptr;
    a.hr = p->GetLastStatus(&a.lCode, &text);
    if (text)
        a.text = text;
    SysFreeString(text);
    return a;
}

// A document for the printer at 127.0.0.1 whose data port nothing listens
// on, with its SNMP agent on snmpPort.
std::wstring StatusDocument(int snmpPort, DWORD timeoutMs = 1000, const wchar_t* community = L"") {
    std::wstring extra = L"<SnmpPort t=\"i4\">" + std::to_wstring(snmpPort) +
                         L"</SnmpPort><SnmpTimeoutMs t=\"i4\">" + std::to_wstring(timeoutMs) +
                         L"</SnmpTimeoutMs>";
    if (*community)
        extra += std::wstring(L"<SnmpCommunity t=\"s\">") + community + L"</SnmpCommunity>";
    return TcpDocument(UnusedLoopbackPort(), extra);
}

PrinterStatusReading Reading(int64_t device, int64_t printer, Bytes errors) {
    PrinterStatusReading r;
    r.bAnswered = true;
    r.bHasDeviceStatus = device != 0;
    r.nDeviceStatus = device;
    r.bHasPrinterStatus = printer != 0;
    r.nPrinterStatus = printer;
    r.errorState = std::move(errors);
    return r;
}

// The error state with one bit set.
Bytes Bit(int n) {
    Bytes b(2, 0);
    b[n / 8] |= static_cast<uint8_t>(0x80 >> (n % 8));
    return b;
}

TEST(PrinterStatusMapping, EachStoppingConditionPausesWithItsReason) {
    const struct {
        int nBit;
        const wchar_t* pszText;
    } cases[] = {{1, L"Paper out"},         {13, L"Paper out"},
                 {4, L"Cover open"},        {5, L"Jammed"},
                 {6, L"Offline"},           {8, L"Paper tray missing"},
                 {12, L"Output tray full"}, {9, L"Output tray missing"},
                 {3, L"Toner out"},         {10, L"Supplies missing"},
                 {7, L"Service requested"}};
    for (const auto& c : cases) {
        // A device that is down, or says nothing of itself; even while the
        // printer says it prints or warms up.
        for (int64_t printer : {3, 4, 5}) {
            const PrinterStatus s =
                MapPrinterStatus(Reading(printer == 4 ? 0 : 5, printer, Bit(c.nBit)));
            EXPECT_EQ(s.code, PRINTER_STATUS_PAUSED) << c.nBit;
            EXPECT_EQ(s.text, c.pszText) << c.nBit;
        }
    }
    // The more important reason wins, whatever the bit order: every pair
    // of the ranked list.
    const int ranked[] = {1, 4, 5, 6, 8, 12, 9, 3, 10, 7};
    for (size_t i = 0; i < 10; ++i) {
        for (size_t j = i + 1; j < 10; ++j) {
            Bytes both = Bit(ranked[i]);
            const Bytes other = Bit(ranked[j]);
            both[0] |= other[0];
            both[1] |= other[1];
            EXPECT_EQ(MapPrinterStatus(Reading(5, 3, both)).text,
                      MapPrinterStatus(Reading(0, 3, Bit(ranked[i]))).text)
                << ranked[i] << " and " << ranked[j];
        }
    }
}

TEST(PrinterStatusMapping, TheDeviceStatusDecidesWhenItAnswers) {
    // lowPaper, lowToner, outputNearFull, overduePreventMaint and bits past
    // the last known one.
    const Bytes warnings = {0xa0, 0x12, 0xff, 0xff};
    // Device: 0 absent, 2 running, 3 warning, 4 testing, 5 down.
    const struct {
        int64_t device, printer;
        Bytes errors;
        LONG lCode;
        const wchar_t* pszText;
    } rows[] = {
        {3, 4, Bit(7), PRINTER_STATUS_PRINTING, L"Printing"}, // service requested
        {2, 3, Bit(13), PRINTER_STATUS_READY, L"Ready"},      // one tray of several empty
        {5, 5, {}, PRINTER_STATUS_WARMING_UP, L"Warming up"},
        {5, 1, Bit(1), PRINTER_STATUS_PAUSED, L"Paper out"},
        {0, 3, Bit(1), PRINTER_STATUS_PAUSED, L"Paper out"},
        {4, 3, Bit(4), PRINTER_STATUS_READY, L"Ready"},
        {5, 4, {}, PRINTER_STATUS_PAUSED, L"Offline"},
        {5, 1, {0, 0}, PRINTER_STATUS_PAUSED, L"Offline"},
        {3, 4, warnings, PRINTER_STATUS_PRINTING, L"Printing"},
        {0, 3, warnings, PRINTER_STATUS_READY, L"Ready"},
        {0, 3, {0x08}, PRINTER_STATUS_PAUSED, L"Cover open"}, // one byte: the second's bits clear
        {2, 5, {}, PRINTER_STATUS_WARMING_UP, L"Warming up"},
        {0, 0, {}, PRINTER_STATUS_READY, L"Ready"},
        {2, 1, {}, PRINTER_STATUS_READY, L"Ready"},
        {2, 99, {}, PRINTER_STATUS_READY, L"Ready"},
        {2, -1, {}, PRINTER_STATUS_READY, L"Ready"},
    };
    for (const auto& r : rows) {
        const PrinterStatus s = MapPrinterStatus(Reading(r.device, r.printer, r.errors));
        EXPECT_EQ(s.code, r.lCode) << r.device << " " << r.printer;
        EXPECT_EQ(s.text, r.pszText) << r.device << " " << r.printer;
    }
    PrinterStatusReading silent;
    EXPECT_EQ(MapPrinterStatus(silent).code, PRINTER_STATUS_NOT_ANSWERING);
    EXPECT_EQ(MapPrinterStatus(silent).text, L"Not answering");
}

TEST(PrinterStatusMapping, ReadsTheAnswerByIdentifierAndType) {
    SnmpResponse r;
    r.varBinds.resize(4);
    // Out of order, one of the wrong type, one the agent lacks, one extra.
    r.varBinds[0].oid = kErrorState;
    r.varBinds[0].value.kind = SnmpValue::Kind::OctetString;
    r.varBinds[0].value.bytes = {0x04};
    r.varBinds[1].oid = kPrinterStatus;
    r.varBinds[1].value.kind = SnmpValue::Kind::OctetString;
    r.varBinds[1].value.bytes = {0x05};
    r.varBinds[2].oid = kDeviceStatus;
    r.varBinds[2].value.kind = SnmpValue::Kind::NoSuchInstance;
    r.varBinds[3].oid = {1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 5, 2};
    r.varBinds[3].value.kind = SnmpValue::Kind::Integer;
    r.varBinds[3].value.nInteger = 5;
    const PrinterStatusReading reading = ReadPrinterStatusResponse(r);
    EXPECT_TRUE(reading.bAnswered);
    EXPECT_FALSE(reading.bHasDeviceStatus);
    EXPECT_FALSE(reading.bHasPrinterStatus);
    EXPECT_EQ(reading.errorState, Bytes{0x04});
    EXPECT_EQ(MapPrinterStatus(reading).text, L"Jammed");
}

TEST(PrinterStatusDocument, ReadsTheTargetFromTheProgramsDocument) {
    SnmpTarget t;
    ASSERT_EQ(ReadSnmpTarget(ProgramTcpDocument(9100, L"", L"192.168.1.20").c_str(), t), S_OK);
    EXPECT_EQ(t.strAddress, "192.168.1.20");
    EXPECT_EQ(t.nPort, 161);
    EXPECT_EQ(t.strCommunity, "public");
    EXPECT_EQ(t.dwTimeoutMs, 1000u);
    ASSERT_EQ(ReadSnmpTarget(TcpDocument(9100, L"<SnmpPort>16161</SnmpPort><SnmpTimeoutMs "
                                               L"t=\"i4\">250</SnmpTimeoutMs><SnmpCommunity "
                                               L"t=\"s\">lab</SnmpCommunity>")
                                 .c_str(),
                             t),
              S_OK);
    EXPECT_EQ(t.nPort, 16161);
    EXPECT_EQ(t.dwTimeoutMs, 250u);
    EXPECT_EQ(t.strCommunity, "lab");
    // Values out of range keep the defaults.
    ASSERT_EQ(ReadSnmpTarget(TcpDocument(9100, L"<SnmpPort>70000</SnmpPort><SnmpTimeoutMs "
                                               L"t=\"i4\">0</SnmpTimeoutMs>")
                                 .c_str(),
                             t),
              S_OK);
    EXPECT_EQ(t.nPort, 161);
    EXPECT_EQ(t.dwTimeoutMs, 1000u);

    EXPECT_EQ(ReadSnmpTarget(UsbDocument(L"", L"ABC").c_str(), t),
              HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(ReadSnmpTarget(L"<x/>", t), E_INVALIDARG);
    EXPECT_EQ(ReadSnmpTarget(nullptr, t), E_INVALIDARG);
}

TEST(PrinterStatusObject, IsReachedFromTheOtherInterfacesAndChecksItsArguments) {
    IPipe* pipe = nullptr;
    ASSERT_EQ(CPipe::Create(IID_IPipe, reinterpret_cast<void**>(&pipe)), S_OK);
    IPrinterStatus* status = nullptr;
    ASSERT_EQ(pipe->QueryInterface(IID_IPrinterStatus, reinterpret_cast<void**>(&status)), S_OK);
    IUnknown* back = nullptr;
    ASSERT_EQ(status->QueryInterface(IID_IPipeConfig, reinterpret_cast<void**>(&back)), S_OK);
    back->Release();

    const Answer none = Last(status);
    EXPECT_EQ(none.hr, S_OK);
    EXPECT_EQ(none.lCode, PRINTER_STATUS_NOT_ANSWERING);
    EXPECT_EQ(none.text, L"");

    LONG lCode = 0;
    BSTR text = nullptr;
    Bstr doc(TcpDocument(9100));
    EXPECT_EQ(status->CheckStatus(doc, nullptr, &text), E_POINTER);
    EXPECT_EQ(status->CheckStatus(doc, &lCode, nullptr), E_POINTER);
    EXPECT_EQ(status->GetLastStatus(nullptr, &text), E_POINTER);
    EXPECT_EQ(status->CheckStatus(nullptr, &lCode, &text), E_INVALIDARG);
    EXPECT_EQ(lCode, PRINTER_STATUS_NOT_ANSWERING);
    EXPECT_EQ(text, nullptr);
    // A USB printer is asked through its device: none is attached.
    Bstr usb(UsbDocument(L"", L"ABC"));
    EXPECT_EQ(status->CheckStatus(usb, &lCode, &text),
              HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(text, nullptr);
    status->Release();
    pipe->Release();
}

TEST(PrinterStatusQuery, SilentAgentIsAskedTwiceThenNotAnswering) {
    FakeAgent agent([](const Request&, int) { return std::vector<Bytes>(); });
    ASSERT_NE(agent.port(), 0);
    StatusRef status;
    const Answer a = Check(status.p, StatusDocument(agent.port(), 400));
    EXPECT_EQ(a.hr, S_OK);
    EXPECT_EQ(a.lCode, PRINTER_STATUS_NOT_ANSWERING);
    EXPECT_EQ(a.text, L"Not answering");
    EXPECT_EQ(agent.requests(), 2); // the request and one retry
    EXPECT_GE(a.ms, 750u);          // both waited out (timer granularity)
    EXPECT_LT(a.ms, 800u + 1500u);  // and no more, with room for a loaded machine
    printf("[ measure  ] silent agent, 2 x 400 ms: not answering after %llu ms\n", a.ms);
    EXPECT_EQ(Last(status.p).text, L"Not answering");
}

TEST(PrinterStatusQuery, StrayDatagramsAreDroppedUntilTheAnswer) {
    FakeAgent agent([](const Request& r, int) {
        Request other = r;
        ++other.nId;
        Bytes huge(65507, 0x30);
        return std::vector<Bytes>{
            Bytes{0x30, 0x84, 0xff, 0xff, 0xff, 0xff}, // hostile length
            huge,                                      // a whole datagram of junk
            PrinterAnswer(other, {0x08, 0x00}),        // another request
            PrinterAnswer(r, {0x08, 0x00}, "other"),   // another community
            PrinterAnswer(r, {0x08, 0x00}, "public", SnmpVersion::V1),
            PrinterAnswer(r, {0x00, 0x04}), // the answer: inputTrayEmpty
        };
    });
    StatusRef status;
    const Answer a = Check(status.p, StatusDocument(agent.port(), 2000));
    EXPECT_EQ(a.hr, S_OK);
    EXPECT_EQ(a.lCode, PRINTER_STATUS_PAUSED);
    EXPECT_EQ(a.text, L"Paper out");
    EXPECT_EQ(agent.requests(), 2); // the printer's row, then its state
    EXPECT_LT(a.ms, 1500u);
}

TEST(PrinterStatusQuery, AnAnswerToTheRetryCounts) {
    FakeAgent agent([](const Request& r, int n) {
        return n == 1 ? std::vector<Bytes>() : std::vector<Bytes>{PrinterAnswer(r, {0x40})};
    });
    StatusRef status;
    const Answer a = Check(status.p, StatusDocument(agent.port(), 300));
    EXPECT_EQ(a.lCode, PRINTER_STATUS_PAUSED);
    EXPECT_EQ(a.text, L"Paper out");
    EXPECT_EQ(agent.requests(), 3); // the row's question twice, then the state
    EXPECT_GE(a.ms, 250u);
}

// A printer that never answers is asked three times for the run, then not
// for a while: four jobs, each asking through an object of its own as the
// worker does. One that answered once and then loses its questions is the
// same: three misses in a row, then silent.
TEST(PrinterStatusQuery, AnAgentThatStopsAnsweringIsAskedThreeTimes) {
    const struct {
        bool bAnswersFirst;
        LONG lFirstCode;
        int nRequests;
    } rows[] = {
        {false, PRINTER_STATUS_NOT_ANSWERING, 3 * 2}, // three questions and their retries
        {true, PRINTER_STATUS_READY, 2 + 3 * 2},      // row and state; then three states twice
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bAnswersFirst);
        std::atomic<bool> bAnswered{false};
        FakeAgent agent([&](const Request& r, int) {
            if (!row.bAnswersFirst || (r.pduTag == kGet && bAnswered.exchange(true)))
                return std::vector<Bytes>();
            return std::vector<Bytes>{PrinterAnswer(r, {0, 0})};
        });
        const std::wstring doc = StatusDocument(agent.port(), 300);
        const int nJobs = row.bAnswersFirst ? 5 : 4;
        ULONGLONG last = 0;
        for (int i = 0; i < nJobs; ++i) {
            StatusRef status;
            const Answer a = Check(status.p, doc);
            EXPECT_EQ(a.lCode, i ? PRINTER_STATUS_NOT_ANSWERING : row.lFirstCode);
            last = a.ms;
        }
        EXPECT_EQ(agent.requests(), row.nRequests);
        EXPECT_LT(last, 100u);
    }
}

// The rule on its own clock: what each step leaves it saying.
TEST(SilenceRule, SeveralMissesInARowMakeAPrinterSilentForAWhile) {
    constexpr ULONGLONG kMin = 60 * 1000;
    struct Step {
        ULONGLONG at;
        char what; // 'a' answered, 'm' missed
        bool silent, lately;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } rows[] = {
        {"never answers", {{0, 'm', false, false}, {1, 'm', false, false}, {2, 'm', true, false}}},
        {"one lost after a quiet spell",
         {{0, 'a', false, true}, {6 * kMin, 'm', false, false}, {6 * kMin + 1, 'a', false, true}}},
        {"an answer between misses starts the count again",
         {{0, 'm', false, false},
          {1, 'm', false, false},
          {2, 'a', false, true},
          {3, 'm', false, true},
          {4, 'm', false, true}}},
        {"silent for five minutes, then asked; one miss is enough again",
         {{0, 'm', false, false},
          {0, 'm', false, false},
          {0, 'm', true, false},
          {5 * kMin - 1, '-', true, false},
          {5 * kMin, '-', false, false},
          {5 * kMin, 'm', true, false},
          {5 * kMin + 1, 'a', false, true}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CSilenceRule rule;
        for (const Step& step : row.steps) {
            if (step.what == 'a')
                rule.Answered(step.at);
            else if (step.what == 'm')
                rule.Missed(step.at);
            EXPECT_EQ(rule.Silent(step.at), step.silent) << step.at;
            EXPECT_EQ(rule.AnsweredLately(step.at), step.lately) << step.at;
        }
    }
    // Before a copy: a printer not heard from lately rests after each miss,
    // one that answered lately is asked at once, a silent one not at all.
    constexpr ULONGLONG kRest = CSilenceRule::kRestAfterMissMs;
    const struct {
        const char* name;
        std::vector<std::pair<ULONGLONG, char>> steps; // 'a', 'm' or '-' (ask only)
        std::vector<bool> ask;
    } askRows[] = {
        {"new printer", {{0, '-'}}, {true}},
        {"rests after a miss",
         {{0, 'm'}, {kRest - 1, '-'}, {kRest, '-'}, {kRest, 'm'}, {2 * kRest, 'm'}},
         {false, false, true, false, false}},
        {"answered lately", {{0, 'a'}, {1, 'm'}, {2, 'm'}}, {true, true, true}},
        {"silent for five minutes, then asked",
         {{0, 'm'}, {0, 'm'}, {0, 'm'}, {5 * kMin - 1, '-'}, {5 * kMin, '-'}},
         {false, false, false, false, true}},
    };
    for (const auto& row : askRows) {
        SCOPED_TRACE(row.name);
        CSilenceRule rule;
        for (size_t i = 0; i < row.steps.size(); ++i) {
            const auto [at, what] = row.steps[i];
            if (what == 'a')
                rule.Answered(at);
            else if (what == 'm')
                rule.Missed(at);
            EXPECT_EQ(rule.AskBeforeCopy(at), row.ask[i]) << at;
        }
    }
}

TEST(PrinterStatusQuery, NothingOnThePortIsNotAnsweringWithinTwoTimeOuts) {
    const u_short port = UnusedLoopbackPort();
    StatusRef status;
    const Answer a = Check(status.p, StatusDocument(port, 1000));
    EXPECT_EQ(a.hr, S_OK);
    EXPECT_EQ(a.lCode, PRINTER_STATUS_NOT_ANSWERING);
    EXPECT_LT(a.ms, 2000u + 1500u);
    printf("[ measure  ] no agent on the port, 2 x 1000 ms: not answering after %llu ms\n", a.ms);
}

TEST(PrinterStatusQuery, GetLastStatusAnswersWhileWriteDataIsBlocked) {
    LoopbackListener printer(0, LoopbackListener::Mode::NeverRead);
    ASSERT_TRUE(printer.ok());
    FakeAgent agent([](const Request& r, int) {
        return std::vector<Bytes>{PrinterAnswer(r, {0x00, 0x00, 0x00})};
    });
    IPipe* pipe = nullptr;
    ASSERT_EQ(CPipe::Create(IID_IPipe, reinterpret_cast<void**>(&pipe)), S_OK);
    IPipeConfig* config = nullptr;
    IPrinterStatus* status = nullptr;
    ASSERT_EQ(pipe->QueryInterface(IID_IPipeConfig, reinterpret_cast<void**>(&config)), S_OK);
    ASSERT_EQ(pipe->QueryInterface(IID_IPrinterStatus, reinterpret_cast<void**>(&status)), S_OK);
    Bstr doc(TcpDocument(printer.port(), L"<SendTimeoutMs t=\"i4\">4000</SendTimeoutMs>"));
    ASSERT_EQ(config->Configure(doc), S_OK);
    config->Release();
    EXPECT_EQ(Check(status, StatusDocument(agent.port())).text, L"Ready");

    std::atomic<bool> bInside{false}, bDone{false};
    std::thread writer([&] {
        std::vector<BYTE> chunk(32 * 1024 * 1024);
        bInside = true;
        pipe->WriteData(chunk.data(), static_cast<LONG>(chunk.size()));
        bDone = true;
    });
    // Once the writer is inside (it stays there up to the send time),
    // both calls answer at once.
    WaitFor([&] { return bInside.load(); }, 5000, 10);
    Sleep(200);
    ASSERT_FALSE(bDone);
    const ULONGLONG t0 = GetTickCount64();
    const Answer last = Last(status);
    const Answer fresh = Check(status, StatusDocument(agent.port()));
    EXPECT_LT(GetTickCount64() - t0, 1500u);
    EXPECT_FALSE(bDone);
    EXPECT_EQ(last.text, L"Ready");
    EXPECT_EQ(fresh.lCode, PRINTER_STATUS_READY);
    writer.join();
    status->Release();
    pipe->Release();
}

TEST_F(SnmpAgent, EachPrinterStateMapsToItsCodeAndText) {
    const struct {
        const char* pszState;
        LONG lCode;
        const wchar_t* pszText;
    } cases[] = {
        {"idle", PRINTER_STATUS_READY, L"Ready"},
        {"printing", PRINTER_STATUS_PRINTING, L"Printing"},
        {"warmup", PRINTER_STATUS_WARMING_UP, L"Warming up"},
        {"noPaper", PRINTER_STATUS_PAUSED, L"Paper out"},
        {"inputTrayEmpty down printing", PRINTER_STATUS_PAUSED, L"Paper out"},
        {"inputTrayEmpty printing", PRINTER_STATUS_PRINTING, L"Printing"}, // a tray of several
        {"doorOpen,lowToner", PRINTER_STATUS_PAUSED, L"Cover open"},
        {"jammed,noToner,down", PRINTER_STATUS_PAUSED, L"Jammed"},
        {"offline", PRINTER_STATUS_PAUSED, L"Offline"},
        {"inputTrayMissing", PRINTER_STATUS_PAUSED, L"Paper tray missing"},
        {"outputFull,outputTrayMissing", PRINTER_STATUS_PAUSED, L"Output tray full"},
        {"outputTrayMissing", PRINTER_STATUS_PAUSED, L"Output tray missing"},
        {"noToner", PRINTER_STATUS_PAUSED, L"Toner out"},
        {"markerSupplyMissing", PRINTER_STATUS_PAUSED, L"Supplies missing"},
        {"serviceRequested,down", PRINTER_STATUS_PAUSED, L"Service requested"},
        {"serviceRequested", PRINTER_STATUS_READY, L"Ready"},
        {"down", PRINTER_STATUS_PAUSED, L"Offline"},
        {"lowPaper,lowToner,outputNearFull,overduePreventMaint printing", PRINTER_STATUS_PRINTING,
         L"Printing"},
        {"unknown", PRINTER_STATUS_READY, L"Ready"},
        // The printer is device 2, device 1 is down: the printer's row counts.
        {"index2 printing", PRINTER_STATUS_PRINTING, L"Printing"},
        {"index2 doorOpen", PRINTER_STATUS_PAUSED, L"Cover open"},
        // No printer row: no printer answers there.
        {"noprinter", PRINTER_STATUS_NOT_ANSWERING, L"Not answering"},
        {"absent", PRINTER_STATUS_NOT_ANSWERING, L"Not answering"},
        {"idle", PRINTER_STATUS_READY, L"Ready"}, // back at index 1
    };
    StatusRef status;
    for (const auto& c : cases) {
        SetState(c.pszState);
        const Answer a = Check(status.p, StatusDocument(m_nPort));
        EXPECT_EQ(a.hr, S_OK) << c.pszState;
        EXPECT_EQ(a.lCode, c.lCode) << c.pszState;
        EXPECT_EQ(a.text, c.pszText) << c.pszState;
        const Answer last = Last(status.p);
        EXPECT_EQ(last.lCode, c.lCode) << c.pszState;
        EXPECT_EQ(last.text, c.pszText) << c.pszState;
    }
}

TEST_F(SnmpAgent, FollowsTheStateChangedMidTestWithoutConfigure) {
    // One object, never configured; its data port has nothing listening.
    StatusRef status;
    const std::wstring doc = StatusDocument(m_nPort);
    SetState("printing");
    EXPECT_EQ(Check(status.p, doc).text, L"Printing");
    SetState("doorOpen");
    EXPECT_EQ(Check(status.p, doc).text, L"Cover open");
    EXPECT_EQ(Last(status.p).text, L"Cover open");
    SetState("noPaper,doorOpen");
    EXPECT_EQ(Check(status.p, doc).text, L"Paper out");
    SetState("idle");
    const Answer a = Check(status.p, doc);
    EXPECT_EQ(a.lCode, PRINTER_STATUS_READY);

    // The time one answered query takes.
    ULONGLONG total = 0, worst = 0;
    for (int i = 0; i < 20; ++i) {
        const Answer b = Check(status.p, doc);
        ASSERT_EQ(b.lCode, PRINTER_STATUS_READY);
        total += b.ms;
        worst = std::max(worst, b.ms);
    }
    printf("[ measure  ] answering agent: CheckStatus %llu ms on average, %llu ms at most\n",
           total / 20, worst);
    EXPECT_LT(worst, 1000u);
}

TEST_F(SnmpAgent, AnotherCommunityGetsNoAnswer) {
    StatusRef status;
    const Answer a = Check(status.p, StatusDocument(m_nPort, 300, L"private"));
    EXPECT_EQ(a.lCode, PRINTER_STATUS_NOT_ANSWERING);
    EXPECT_GE(a.ms, 550u);
    EXPECT_LT(a.ms, 600u + 1500u);
}

} // namespace
