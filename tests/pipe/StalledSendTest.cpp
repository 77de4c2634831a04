// A network printer that stops reading in the middle of a copy, through the
// pipe component's object: a listener on loopback that pauses reading
// stands in for the printer's data port, the test agent (SnmpAgent) for
// its state. Short document values (SendTimeoutMs, SnmpPort, PausedLimitMs)
// keep every case to seconds.
#include "FakeAgent.h"
#include "PipeTestSupport.h"
#include "SilentAgent.h"
#include "SnmpAgentFixture.h"
#include "pipe/Pipe.h"
#include "support/LoopbackListener.h"
#include "support/RandomBytes.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

const DWORD kSendMs = 2000;
const size_t kDocument = 8 * 1024 * 1024;
// The listener stops reading after this much of the copy.
const size_t kReadFirst = 256 * 1024;

std::string Pattern(size_t n) {
    const std::vector<char> bytes = RandomBytes(n, 2463534242u);
    return std::string(bytes.begin(), bytes.end());
}

// How often a wait asks again.
const DWORD kPollMs = 20;

std::wstring Element(const wchar_t* name, DWORD value) {
    return std::wstring(L"<") + name + L" t=\"i4\">" + std::to_wstring(value) + L"</" + name + L">";
}

// One copy through one object, written from a thread of its own in the
// chunks the worker uses, so the test can watch and cut it.
class Copy {
public:
    Copy(u_short nPrinterPort, const std::wstring& extra) {
        CPipe::Create(IID_IPipe, reinterpret_cast<void**>(&m_pipe));
        if (!m_pipe)
            return;
        m_pipe->QueryInterface(IID_IPrinterStatus, reinterpret_cast<void**>(&m_status));
        IPipeConfig* config = nullptr;
        m_pipe->QueryInterface(IID_IPipeConfig, reinterpret_cast<void**>(&config));
        if (!config)
            return;
        m_doc = TcpDocument(nPrinterPort, extra);
        Bstr doc(m_doc);
        m_hrConfigure = config->Configure(doc);
        config->Release();
    }
    ~Copy() {
        if (m_writer.joinable())
            m_writer.join();
        if (m_status)
            m_status->Release();
        if (m_pipe)
            m_pipe->Release();
    }
    Copy(const Copy&) = delete;
    Copy& operator=(const Copy&) = delete;

    HRESULT Configured() const { return m_hrConfigure; }

    void Start(const std::string& bytes) {
        m_t0 = GetTickCount64();
        m_writer = std::thread([this, &bytes] {
            HRESULT hr = S_OK;
            for (size_t at = 0; at < bytes.size() && SUCCEEDED(hr); at += 16384) {
                const size_t n = std::min<size_t>(16384, bytes.size() - at);
                hr = m_pipe->WriteData(reinterpret_cast<const BYTE*>(bytes.data() + at),
                                       static_cast<LONG>(n));
            }
            // As the worker does: a copy that did not get through is
            // aborted, never ended.
            if (SUCCEEDED(hr))
                hr = m_pipe->Finish(0);
            else
                m_pipe->Abort();
            m_ms = GetTickCount64() - m_t0;
            m_hr = hr;
            m_bDone = true;
        });
    }
    bool Done() const { return m_bDone; }
    bool WaitDone(DWORD ms) {
        return WaitFor([&] { return m_bDone.load(); }, ms, kPollMs);
    }
    HRESULT Result() const { return m_hr; }
    // From Start to the end of the copy.
    ULONGLONG Ms() const { return m_ms; }
    IPipe* Pipe() const { return m_pipe; }

    // The question before a copy, as the worker asks it.
    LONG AskFirst() {
        LONG lCode = -1;
        BSTR text = nullptr;
        Bstr doc(m_doc);
        m_status->CheckStatus(doc, &lCode, &text);
        SysFreeString(text);
        return lCode;
    }

    std::pair<LONG, std::wstring> LastStatus() {
        LONG lCode = -1;
        BSTR text = nullptr;
        m_status->GetLastStatus(&lCode, &text);
        std::wstring s = text ? text : L"";
        SysFreeString(text);
        return {lCode, s};
    }

private:
    std::wstring m_doc;
    IPipe* m_pipe = nullptr;
    IPrinterStatus* m_status = nullptr;
    HRESULT m_hrConfigure = E_FAIL;
    std::thread m_writer;
    ULONGLONG m_t0 = 0;
    std::atomic<bool> m_bDone{false};
    std::atomic<HRESULT> m_hr{E_PENDING};
    std::atomic<ULONGLONG> m_ms{0};
};

// The printer reads on: the copy ends well, as one whole copy, in order,
// ended in order.
void ResumeAndExpectOneWholeCopy(LoopbackListener& printer, Copy& copy, const std::string& bytes,
                                 DWORD ms = 30000) {
    printer.Resume();
    ASSERT_TRUE(copy.WaitDone(ms));
    EXPECT_EQ(copy.Result(), S_OK);
    ASSERT_TRUE(printer.WaitForConnections(1));
    const auto got = printer.Connections();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].size(), bytes.size());
    EXPECT_TRUE(got[0] == bytes);
    EXPECT_EQ(printer.Ends()[0], LoopbackListener::End::Orderly);
}

class StalledSend : public SnmpAgent {
protected:
    // The document values of every case: the agent's port unless given.
    std::wstring Extra(DWORD pausedLimitMs, int snmpPort = 0, DWORD snmpTimeoutMs = 300) {
        return Element(L"SendTimeoutMs", kSendMs) +
               Element(L"SnmpPort", static_cast<DWORD>(snmpPort ? snmpPort : m_nPort)) +
               Element(L"SnmpTimeoutMs", snmpTimeoutMs) + Element(L"PausedLimitMs", pausedLimitMs);
    }
};

// The printer stops reading with its cover open for longer than the send
// time, then is closed and reads again: the copy waits, reports the reason
// meanwhile, and completes once, whole.
TEST_F(StalledSend, PausedPrinterKeepsTheCopyWaitingUntilItReadsAgain) {
    LoopbackListener printer(0, LoopbackListener::Mode::PauseAfter, kReadFirst);
    ASSERT_TRUE(printer.ok());
    SetState("doorOpen");
    const std::string bytes = Pattern(kDocument);
    Copy copy(printer.port(), Extra(60000));
    ASSERT_EQ(copy.Configured(), S_OK);
    copy.Start(bytes);

    ASSERT_TRUE(WaitFor([&] { return printer.Paused(); }, 10000, kPollMs));
    ASSERT_TRUE(WaitFor([&] { return copy.LastStatus().second == L"Cover open"; }, 10000, kPollMs));
    EXPECT_EQ(copy.LastStatus().first, PRINTER_STATUS_PAUSED);
    // Well past the send time without progress, the copy still waits.
    const ULONGLONG stalled = GetTickCount64();
    EXPECT_FALSE(WaitFor([&] { return copy.Done(); }, 3 * kSendMs, kPollMs));
    EXPECT_GE(GetTickCount64() - stalled, 3 * kSendMs - 100);
    EXPECT_EQ(copy.LastStatus().second, L"Cover open");

    SetState("idle");
    ResumeAndExpectOneWholeCopy(printer, copy, bytes);
    // Data moved again after the question.
    EXPECT_EQ(copy.LastStatus().first, PRINTER_STATUS_PRINTING);
}

// The pause ends with a printer that reports "printing" before it reads
// again, and a question of the pause gets no answer: neither ends the copy,
// since the send limit starts again when a pause ends and one lost
// question leaves a pause standing. Each copy completes once, whole.
TEST_F(StalledSend, EndOfAPauseAndALostQuestionKeepTheCopy) {
    using namespace fake_agent;
    std::atomic<bool> bReady{false};
    std::atomic<int> nLostQuestion{0}, nQuestions{0};
    int32_t nLastId = -1; // the agent's thread only
    // Paper out until bReady; the question numbered nLostQuestion is lost.
    FakeAgent fake([&](const Request& r, int) {
        if (r.pduTag == kGet && r.nId != nLastId) {
            nLastId = r.nId;
            ++nQuestions;
        }
        if (r.pduTag == kGet && nQuestions == nLostQuestion)
            return std::vector<Bytes>();
        return std::vector<Bytes>{PrinterAnswer(r, bReady ? Bytes{0, 0} : Bytes{0x40, 0})};
    });
    const std::string bytes = Pattern(kDocument);
    for (const bool bLost : {false, true}) {
        SCOPED_TRACE(bLost ? "a lost question" : "printing before reading");
        // Longer than the listener's 4 s of "printing" before it reads.
        const DWORD sendMs = bLost ? kSendMs : 6000;
        LoopbackListener printer(0, LoopbackListener::Mode::PauseAfter, kReadFirst);
        ASSERT_TRUE(printer.ok());
        bReady = false;
        nQuestions = 0;
        nLostQuestion = bLost ? 2 : 0;
        SetState("noPaper");
        Copy copy(printer.port(), Element(L"SendTimeoutMs", sendMs) +
                                      Element(L"SnmpPort", bLost ? fake.port() : m_nPort) +
                                      Element(L"SnmpTimeoutMs", 300) +
                                      Element(L"PausedLimitMs", 60000));
        ASSERT_EQ(copy.Configured(), S_OK);
        copy.Start(bytes);
        ASSERT_TRUE(WaitFor([&] { return copy.LastStatus().second == L"Paper out"; }, 10000));
        if (bLost) {
            // The question after the lost one finds the printer still out of paper.
            ASSERT_TRUE(WaitFor([&] { return nQuestions.load() > 2; }, 20000, kPollMs));
            EXPECT_FALSE(copy.Done());
            EXPECT_EQ(copy.LastStatus().second, L"Paper out");
            bReady = true;
        } else {
            // Paused for longer than the send limit, then "printing".
            EXPECT_FALSE(WaitFor([&] { return copy.Done(); }, sendMs + 1000, kPollMs));
            SetState("printing");
            ASSERT_TRUE(
                WaitFor([&] { return copy.LastStatus().second == L"Printing"; }, 10000, kPollMs));
            EXPECT_FALSE(WaitFor([&] { return copy.Done(); }, 4000, kPollMs));
        }
        ResumeAndExpectOneWholeCopy(printer, copy, bytes);
    }
}

// The printer pauses with the document's tail still in our sending buffers:
// the end of the copy waits past the close time while it says paused, and
// completes whole once it is ready and reads again.
TEST_F(StalledSend, EndOfACopyWaitsForAPausedPrinter) {
    const DWORD closeMs = 1000;
    LoopbackListener printer(0, LoopbackListener::Mode::PauseAfter, kReadFirst);
    ASSERT_TRUE(printer.ok());
    SetState("noPaper");
    const std::string bytes = Pattern(kReadFirst + 8192);
    Copy copy(printer.port(), Extra(60000) + Element(L"CloseTimeoutMs", closeMs));
    ASSERT_EQ(copy.Configured(), S_OK);
    copy.Start(bytes);
    ASSERT_TRUE(WaitFor([&] { return printer.Paused(); }, 10000, kPollMs));
    EXPECT_FALSE(WaitFor([&] { return copy.Done(); }, closeMs + 4000, kPollMs));
    EXPECT_EQ(copy.LastStatus().second, L"Paper out");

    SetState("idle");
    ResumeAndExpectOneWholeCopy(printer, copy, bytes);
}

// The printer stops reading with most of a large document still to write
// (the system's own buffers, as a real printer has), for longer than the
// first question comes, then reads on: one whole copy, in order. Rows: a
// printer that answers no questions, with the send limit as shipped; one
// out of paper for longer than the send limit, then printing.
TEST_F(StalledSend, AStallWithMostOfTheDocumentStillToWriteKeepsTheCopy) {
    const struct {
        const char* what;
        const char* pausedState; // null: no agent answers
        DWORD sendMs;            // 0: as shipped (30 s)
        DWORD stallMs;
    } rows[] = {
        {"no answer, 10 s", nullptr, 0, 10000},
        {"paper out, then printing", "noPaper", kSendMs, 3 * kSendMs},
    };
    const std::string bytes = Pattern(kDocument);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        LoopbackListener printer(0, LoopbackListener::Mode::StallAfter, 1024 * 1024);
        ASSERT_TRUE(printer.ok());
        SetState("idle");
        std::wstring extra;
        if (row.sendMs)
            extra += Element(L"SendTimeoutMs", row.sendMs);
        if (row.pausedState)
            extra += Element(L"SnmpPort", static_cast<DWORD>(m_nPort)) +
                     Element(L"SnmpTimeoutMs", 300) + Element(L"PausedLimitMs", 60000);
        Copy copy(printer.port(), extra);
        ASSERT_EQ(copy.Configured(), S_OK);
        copy.Start(bytes);
        ASSERT_TRUE(WaitFor([&] { return printer.Paused(); }, 10000, kPollMs));
        if (row.pausedState)
            SetState(row.pausedState);
        EXPECT_FALSE(WaitFor([&] { return copy.Done(); }, row.stallMs, kPollMs));
        if (row.pausedState) {
            EXPECT_EQ(copy.LastStatus().second, L"Paper out");
            SetState("printing");
            ASSERT_TRUE(
                WaitFor([&] { return copy.LastStatus().second == L"Printing"; }, 10000, kPollMs));
        }
        ResumeAndExpectOneWholeCopy(printer, copy, bytes, 60000);
    }
    SetState("idle");
}

// The document's tail sits unread in our buffers when the copy ends, and
// the question at the close time goes unanswered (the printer's agent is
// restarting). A printer that answered lately has lost a question, not
// gone away: the copy is not counted, waits while the printer says paused,
// and counts once the printer has read every byte and closed.
TEST_F(StalledSend, ATailStillUnreadIsNotCountedWhenAQuestionIsLost) {
    using namespace fake_agent;
    std::atomic<int> phase{0}; // 0 idle, 1 silent, 2 paper out
    FakeAgent fake([&](const Request& r, int) {
        if (phase == 1)
            return std::vector<Bytes>();
        return std::vector<Bytes>{PrinterAnswer(r, phase == 2 ? Bytes{0x40, 0} : Bytes{0, 0})};
    });
    const DWORD closeMs = 1000;
    const std::string bytes = Pattern(4 * 1024 * 1024);
    LoopbackListener printer(0, LoopbackListener::Mode::StallAfter, bytes.size() - 64 * 1024);
    ASSERT_TRUE(printer.ok());
    Copy copy(printer.port(), Extra(60000, fake.port()) + Element(L"CloseTimeoutMs", closeMs));
    ASSERT_EQ(copy.Configured(), S_OK);
    ASSERT_EQ(copy.AskFirst(), PRINTER_STATUS_READY);
    copy.Start(bytes);
    ASSERT_TRUE(WaitFor([&] { return printer.Paused(); }, 10000, kPollMs));
    phase = 1;
    EXPECT_FALSE(WaitFor([&] { return copy.Done(); }, closeMs + 3000, kPollMs));
    phase = 2;
    ASSERT_TRUE(WaitFor([&] { return copy.LastStatus().second == L"Paper out"; }, 10000, kPollMs));
    EXPECT_FALSE(copy.Done());

    phase = 0;
    ResumeAndExpectOneWholeCopy(printer, copy, bytes);
}

// Warming up counts as paused; Abort from another thread still cuts the
// wait at once, also in the middle of a slow question (the agent answers
// once, then takes each question and stays silent, 5 s a try), and the
// printer sees a reset.
TEST_F(StalledSend, AbortCutsTheWaitForAPausedPrinter) {
    using namespace fake_agent;
    std::atomic<bool> bAnswered{false};
    FakeAgent fake([&](const Request& r, int) {
        if (r.pduTag == kGet && bAnswered.exchange(true))
            return std::vector<Bytes>();
        return std::vector<Bytes>{PrinterAnswer(r, {0, 0}, "public", SnmpVersion::V2c, 2, 5)};
    });
    LoopbackListener printer(0, LoopbackListener::Mode::PauseAfter, kReadFirst);
    ASSERT_TRUE(printer.ok());
    const std::string bytes = Pattern(kDocument);
    Copy copy(printer.port(), Extra(60000, fake.port(), 5000));
    ASSERT_EQ(copy.Configured(), S_OK);
    copy.Start(bytes);
    ASSERT_TRUE(WaitFor([&] { return copy.LastStatus().second == L"Warming up"; }, 10000, kPollMs));
    // The row's question and the first state's are answered; the next one is not.
    ASSERT_TRUE(WaitFor([&] { return fake.requests() >= 3; }, 10000, kPollMs));
    EXPECT_FALSE(WaitFor([&] { return copy.Done(); }, 500, kPollMs));

    const ULONGLONG t0 = GetTickCount64();
    EXPECT_EQ(copy.Pipe()->Abort(), S_OK);
    ASSERT_TRUE(copy.WaitDone(15000));
    EXPECT_LT(GetTickCount64() - t0, 1000u);
    EXPECT_TRUE(FAILED(copy.Result()));
    printer.Resume();
    ASSERT_TRUE(printer.WaitForConnections(1));
    EXPECT_EQ(printer.Ends()[0], LoopbackListener::End::Reset);
}

// A printer that takes nothing fails the copy in bounded time, as ever,
// when its state gives no reason to wait: it says it is ready, it does not
// answer, or it stayed paused past the paused limit. Prints what the
// question adds to the time a stalled copy takes to fail.
TEST_F(StalledSend, StalledPrinterWithoutAPauseFailsInBoundedTime) {
    SilentAgent silent;
    ASSERT_NE(silent.port(), 0);
    const int silentPort = silent.port();
    struct Case {
        const char* what;
        const char* state;
        int snmpPort; // 0: the agent's
        DWORD pausedLimitMs;
        LONG lastCode;
        ULONGLONG atLeastMs, atMostMs;
    };
    const Case cases[] = {
        {"ready", "idle", 0, 60000, PRINTER_STATUS_READY, kSendMs, kSendMs + 1500},
        {"printing", "printing", 0, 60000, PRINTER_STATUS_PRINTING, kSendMs, kSendMs + 1500},
        {"not answering", "doorOpen", silentPort, 60000, PRINTER_STATUS_NOT_ANSWERING, kSendMs,
         kSendMs + 1500},
        {"paused too long", "noPaper", 0, 5000, PRINTER_STATUS_PAUSED, 5000, 5000 + 1500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackListener printer(0, LoopbackListener::Mode::PauseAfter, kReadFirst);
        ASSERT_TRUE(printer.ok());
        SetState(c.state);
        const std::string bytes = Pattern(kDocument);
        Copy copy(printer.port(), Extra(c.pausedLimitMs, c.snmpPort));
        ASSERT_EQ(copy.Configured(), S_OK);
        copy.Start(bytes);
        ASSERT_TRUE(WaitFor([&] { return printer.Paused(); }, 10000, kPollMs));
        ASSERT_TRUE(copy.WaitDone(c.atMostMs + 10000));
        EXPECT_EQ(copy.Result(), HRESULT_FROM_WIN32(WSAETIMEDOUT));
        // Measured from the start of the copy, which stalls soon after.
        EXPECT_GE(copy.Ms() + 50, c.atLeastMs);
        EXPECT_LT(copy.Ms(), c.atMostMs);
        EXPECT_EQ(copy.LastStatus().first, c.lastCode);
        printf("[ measure  ] stalled copy, printer %s: failed after %llu ms (send time %lu ms)\n",
               c.what, copy.Ms(), kSendMs);
        printer.Resume();
        ASSERT_TRUE(printer.WaitForConnections(1));
        EXPECT_LT(printer.Connections()[0].size(), bytes.size());
        EXPECT_EQ(printer.Ends()[0], LoopbackListener::End::Reset);
    }
}

// What the question adds to the time a stalled copy takes to fail, with
// the default SNMP time-out: an agent that answers "ready", one that takes
// the question and never answers, and a port where nothing listens.
TEST_F(StalledSend, WhatTheQuestionAddsToAStalledCopy) {
    SilentAgent silent;
    ASSERT_NE(silent.port(), 0);
    const struct {
        const char* what;
        int snmpPort;
    } cases[] = {{"answering", 0}, {"silent", silent.port()}, {"closed", UnusedLoopbackPort()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackListener printer(0, LoopbackListener::Mode::PauseAfter, kReadFirst);
        ASSERT_TRUE(printer.ok());
        SetState("idle");
        Copy copy(printer.port(), Extra(60000, c.snmpPort, 1000));
        ASSERT_EQ(copy.Configured(), S_OK);
        const std::string bytes = Pattern(kDocument);
        copy.Start(bytes);
        ASSERT_TRUE(copy.WaitDone(20000));
        EXPECT_EQ(copy.Result(), HRESULT_FROM_WIN32(WSAETIMEDOUT));
        // The question ends by the send time.
        EXPECT_LT(copy.Ms(), kSendMs + 1500);
        printf("[ measure  ] stalled copy, SNMP time-out 1000 ms, agent %s: failed after %llu ms "
               "(send time %lu ms)\n",
               c.what, copy.Ms(), kSendMs);
        printer.Resume();
        printer.WaitForConnections(1);
    }
}

} // namespace
