// The page count rule on its own clock (no threads, no sockets), and the
// worker handing each job run's count to its owner through a stand-in
// printer whose counter the copies raise.
#include "printloop/PageCounter.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

constexpr DWORD kPoll = 2000, kLimit = 120000;

class NoSource : public IPageCountSource {
public:
    bool Read(uint64_t&, bool&) override { return false; }
};

// One answer of the printer after the job's last copy, asked at `at` ms
// after the end.
struct Ask {
    ULONGLONG at;
    bool answered;
    uint64_t pages;
    bool idle;
};

// Printing answers every poll period from `from` to `to`, both included.
std::vector<Ask> Printing(ULONGLONG from, ULONGLONG to, uint64_t pages) {
    std::vector<Ask> asks;
    for (ULONGLONG t = from; t <= to; t += kPoll)
        asks.push_back({t, true, pages, false});
    return asks;
}

std::vector<Ask> Then(std::vector<Ask> asks, Ask last) {
    asks.push_back(last);
    return asks;
}

enum Start { None, Idle, Busy };

struct Case {
    const char* name;
    bool source;  // the output has a counter to read
    Start start0; // the start's reading
    uint64_t start;
    bool allSent;
    std::vector<Ask> asks;
    std::optional<unsigned long> pages;
};

TEST(PageCountRule, EachRunGetsTheDifferenceOrNoValueOnce) {
    const Case cases[] = {
        {"alone, idle at the first question", true, Idle, 100, true, {{2000, true, 103, true}}, 3},
        {"printing, then idle", true, Idle, 100, true,
         Then(Printing(2000, 8000, 104), {10000, true, 110, true}), 10},
        {"nothing printed: asked again once",
         true,
         Idle,
         7,
         true,
         {{2000, true, 7, true}, {4000, true, 7, true}},
         0u},
        {"idle but not yet begun at the first question",
         true,
         Idle,
         7,
         true,
         {{2000, true, 7, true}, {4000, true, 9, false}, {6000, true, 10, true}},
         3},
        {"busy at the start", true, Busy, 100, true, {}, std::nullopt},
        {"idle at the limit itself", true, Idle, 0, true,
         Then(Printing(2000, 118000, 1), {120000, true, 5, true}), 5},
        {"still printing at the limit", true, Idle, 0, true, Printing(2000, 120000, 3),
         std::nullopt},
        {"counter went backwards", true, Idle, 500, true, {{2000, true, 2, true}}, std::nullopt},
        {"no answer at the end", true, Idle, 10, true, {{2000, false, 0, false}}, std::nullopt},
        {"no answer after printing", true, Idle, 10, true,
         Then(Printing(2000, 4000, 11), {6000, false, 0, false}), std::nullopt},
        {"no start", true, None, 0, true, {}, std::nullopt},
        {"a copy failed", true, Idle, 10, false, {}, std::nullopt},
        {"no counter (USB, spooler)", false, Idle, 10, true, {}, std::nullopt},
        {"difference beyond 32 bits",
         true,
         Idle,
         0,
         true,
         {{2000, true, 0x100000000ull, true}},
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CPageCountRule rule(kPoll, kLimit);
        std::vector<PageCountResult> results;
        const ULONGLONG t0 = 50000;
        const unsigned long token =
            rule.Begin(c.source ? std::make_shared<NoSource>() : nullptr, c.start0 != None,
                       c.start0 == Idle, c.start, results);
        EXPECT_NE(token, 0u);
        rule.End(token, c.allSent, t0, results);
        unsigned long asked;
        std::shared_ptr<IPageCountSource> source;
        for (const Ask& a : c.asks) {
            ASSERT_TRUE(results.empty()) << "at " << a.at;
            // Never asked before its time.
            EXPECT_EQ(rule.WaitMs(t0 + a.at - 1), 1u);
            EXPECT_FALSE(rule.Due(t0 + a.at - 1, asked, source));
            ASSERT_TRUE(rule.Due(t0 + a.at, asked, source));
            EXPECT_EQ(asked, token);
            EXPECT_EQ(rule.WaitMs(t0 + a.at), INFINITE); // one question at a time
            rule.Answer(token, a.answered, a.pages, a.idle, t0 + a.at, results);
        }
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].nToken, token);
        EXPECT_EQ(results[0].pages, c.pages);
        EXPECT_EQ(rule.WaitMs(t0 + 1000000), INFINITE);
        EXPECT_FALSE(rule.Due(t0 + 1000000, asked, source));
    }
}

// Another job of ours began before the end was read: no value for the
// earlier run, also when the begin comes while its question is out, nor for
// the later one (the printer may still count the earlier one's pages); a run
// begun once nothing of ours is pending is counted again.
TEST(PageCountRule, RunsThatOverlapGetNoValue) {
    for (const bool bDuringQuestion : {false, true}) {
        SCOPED_TRACE(bDuringQuestion ? "during a question" : "between questions");
        CPageCountRule rule(kPoll, kLimit);
        std::vector<PageCountResult> results;
        const auto source = std::make_shared<NoSource>();
        const unsigned long a = rule.Begin(source, true, true, 10, results);
        rule.End(a, true, 0, results);
        unsigned long asked;
        std::shared_ptr<IPageCountSource> out;
        ASSERT_TRUE(rule.Due(kPoll, asked, out));
        if (!bDuringQuestion)
            rule.Answer(a, true, 11, false, kPoll, results);
        const unsigned long b = rule.Begin(source, true, true, 12, results);
        EXPECT_NE(a, b);
        ASSERT_EQ(results.size(), 1u);
        EXPECT_EQ(results[0].nToken, a);
        EXPECT_EQ(results[0].pages, std::nullopt);
        // The answer to the earlier question comes late: it counts for nothing.
        rule.Answer(a, true, 12, true, kPoll + 10, results);
        rule.End(b, true, 3000, results);
        ASSERT_EQ(results.size(), 2u);
        EXPECT_EQ(results[1].nToken, b);
        EXPECT_EQ(results[1].pages, std::nullopt);
        EXPECT_FALSE(rule.Due(3000 + kPoll, asked, out));

        const unsigned long c = rule.Begin(source, true, true, 15, results);
        rule.End(c, true, 4000, results);
        ASSERT_TRUE(rule.Due(4000 + kPoll, asked, out));
        rule.Answer(c, true, 17, true, 4000 + kPoll, results);
        ASSERT_EQ(results.size(), 3u);
        EXPECT_EQ(results[2].pages, 2u);
    }
}

} // namespace
