// The stall clock on a clock of the test's own: which limit applies after
// each verdict, without sockets or an agent.
#include "pipe/StallClock.h"
#include "pipe/TcpTransport.h"

#include <gtest/gtest.h>

namespace {

const DWORD kSend = 2000, kPaused = 60000, kFirstAsk = 1000;

struct StallClockTest : testing::Test {
    ULONGLONG now = 100000;
    CStallClock clock{kSend, kPaused, kFirstAsk, [this] { return now; }};
};

TEST_F(StallClockTest, EndOfAPauseStartsTheSendLimitAgain) {
    EXPECT_FALSE(clock.AskDue());
    EXPECT_EQ(clock.Remaining(), kSend);
    now += kFirstAsk;
    ASSERT_TRUE(clock.AskDue());
    // Not paused: both tries of a question end by the send limit.
    EXPECT_EQ(clock.QuestionMs(1000), (kSend - kFirstAsk) / 2);
    clock.Record(CStallClock::Answer::Paused);
    EXPECT_FALSE(clock.AskDue());
    EXPECT_EQ(clock.QuestionMs(1000), 1000u);
    now += 10 * kSend;
    EXPECT_EQ(clock.Remaining(), kPaused - kFirstAsk - 10 * kSend);
    // The printer says it prints again, long after the send limit.
    clock.Record(CStallClock::Answer::NotPaused);
    EXPECT_EQ(clock.Remaining(), kSend);
    now += kSend;
    EXPECT_EQ(clock.Remaining(), 0u);
    // Progress starts everything again.
    clock.Restart();
    EXPECT_EQ(clock.Remaining(), kSend);
    EXPECT_FALSE(clock.AskDue());
}

// A printer that stops answering says nothing of its paper: only its own
// word ends a pause (or the paused limit).
TEST_F(StallClockTest, UnansweredQuestionsNeverEndAPause) {
    using A = CStallClock::Answer;
    // Rows: the answers after a first "paused", and whether the pause stands.
    const struct {
        std::vector<A> answers;
        bool bPaused;
    } rows[] = {
        {{A::None, A::None, A::None}, true},
        {{A::None, A::None, A::None, A::None, A::None, A::None, A::None, A::None}, true},
        {{A::None, A::None, A::Paused, A::None, A::None, A::None}, true},
        {{A::None, A::NotPaused}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.answers.size());
        clock.Restart();
        now += kFirstAsk;
        clock.Record(A::Paused);
        for (A a : row.answers) {
            now += CStallClock::kAskEveryMs;
            ASSERT_TRUE(clock.AskDue());
            clock.Record(a);
        }
        EXPECT_EQ(clock.Paused(), row.bPaused);
        // Long past the send limit: only a standing pause keeps waiting;
        // an ended one has the send limit from that moment.
        EXPECT_EQ(clock.Remaining(),
                  row.bPaused ? kPaused - kFirstAsk - row.answers.size() * CStallClock::kAskEveryMs
                              : kSend);
    }
}

// The end of a copy past the close time: only a printer that is ready, or
// one that never answers, lets the copy count.
TEST(CloseVerdictTest, OnlyAReadyOrAnAlwaysSilentPrinterCountsTheCopy) {
    const struct {
        LONG lCode;
        bool bAnswers;
        CloseVerdict verdict;
    } rows[] = {
        {PRINTER_STATUS_READY, true, CloseVerdict::Counted},
        {PRINTER_STATUS_PRINTING, true, CloseVerdict::Wait},
        {PRINTER_STATUS_PAUSED, true, CloseVerdict::Wait},
        {PRINTER_STATUS_WARMING_UP, true, CloseVerdict::Wait},
        {PRINTER_STATUS_NOT_ANSWERING, true, CloseVerdict::Wait},
        {PRINTER_STATUS_NOT_ANSWERING, false, CloseVerdict::Counted},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.lCode);
        EXPECT_EQ(CloseVerdictFor(row.lCode, row.bAnswers), row.verdict);
    }
    // The system's counts: bytes sent again are not new bytes.
    EXPECT_TRUE(AllAcknowledged(1000, 0, 0, 1000));
    EXPECT_FALSE(AllAcknowledged(1000, 0, 10, 1000));
    EXPECT_FALSE(AllAcknowledged(1200, 300, 0, 1000));
    EXPECT_FALSE(AllAcknowledged(100, 300, 0, 0));
}

} // namespace
