#include "printloop/RetryRule.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

// One spell of failures: the time of each, and what the rule answers
// (0 for "stop trying").
struct Step {
    ULONGLONG atMs;
    DWORD waitMs;
};

struct Case {
    const char* what;
    DWORD minutes;
    std::vector<Step> steps;
};

TEST(RetryRule, WaitsGrowToThirtySecondsAndTheTryingEndsAfterTheLimit) {
    const Case cases[] = {
        {"the waits grow, then stay at 30 s",
         1,
         {{1000, 5000}, {6000, 10000}, {16000, 20000}, {36000, 30000}, {40000, 30000}}},
        {"the limit counts from the first failure, not the last",
         1,
         {{0, 5000}, {59999, 10000}, {60000, 0}}},
        {"after the end a failure starts a new spell",
         1,
         {{0, 5000}, {61000, 0}, {62000, 5000}, {63000, 10000}}},
        {"a long limit", 1440, {{0, 5000}, {1440ull * 60000 - 1, 10000}, {1440ull * 60000, 0}}},
    };
    for (const Case& c : cases) {
        CRetryRule rule(c.minutes);
        for (const Step& s : c.steps) {
            const std::optional<DWORD> wait = rule.Failed(s.atMs);
            EXPECT_EQ(wait.value_or(0), s.waitMs) << c.what << " at " << s.atMs;
        }
    }
}

TEST(RetryRule, ACopyThatGoesThroughEndsTheSpell) {
    CRetryRule rule(1);
    EXPECT_EQ(rule.Failed(0), std::optional<DWORD>(5000));
    EXPECT_EQ(rule.Failed(5000), std::optional<DWORD>(10000));
    rule.Succeeded();
    EXPECT_EQ(rule.Failures(), 0);
    // Long after the first spell began: a new spell, a new limit.
    EXPECT_EQ(rule.Failed(120000), std::optional<DWORD>(5000));
}

TEST(RetryRule, TheRowRoundsTheSecondsUp) {
    EXPECT_STREQ(RetryingText(25000, "Printer not answering"),
                 "Retrying in 25 s: Printer not answering");
    EXPECT_STREQ(RetryingText(24001, "x"), "Retrying in 25 s: x");
    EXPECT_STREQ(RetryingText(1, "x"), "Retrying in 1 s: x");
}

} // namespace
