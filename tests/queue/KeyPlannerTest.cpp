// The key plans, write by write: after every write a cut may end the run,
// so the records already stored must stay in queue order at each step, and
// the new job must end between its neighbours.
#include "queue/KeyPlanner.h"

#include <gtest/gtest.h>

#include <climits>
#include <numeric>
#include <string>
#include <vector>

using namespace KeyPlanner;

namespace {

constexpr long long kMin = LLONG_MIN, kMax = LLONG_MAX;

// Runs the plan over the keys (the new job's unset) and says what went
// wrong, or nothing. bKeepsOrder: the order of the stored records must hold
// after each write, not only at the end.
std::string Check(std::vector<long long> keys, int nNew, const std::vector<Step>& steps,
                  bool bKeepsOrder) {
    auto ordered = [&](bool withNew) {
        bool first = true;
        long long prev = 0;
        for (size_t i = 0; i < keys.size(); ++i) {
            if (!withNew && static_cast<int>(i) == nNew)
                continue;
            if (!first && keys[i] <= prev)
                return false;
            prev = keys[i];
            first = false;
        }
        return true;
    };
    std::vector<int> written(keys.size(), 0);
    for (size_t n = 0; n < steps.size(); ++n) {
        if (steps[n].index >= keys.size())
            return "step " + std::to_string(n) + " names no job";
        if (++written[steps[n].index] > 1)
            return "job " + std::to_string(steps[n].index) + " written twice";
        keys[steps[n].index] = steps[n].key;
        if (bKeepsOrder && static_cast<int>(steps[n].index) != nNew && !ordered(false))
            return "stored order broken after step " + std::to_string(n);
    }
    if (nNew >= 0 && !written[static_cast<size_t>(nNew)])
        return "the new job got no key";
    return ordered(true) ? "" : "not in order at the end";
}

TEST(KeyPlannerTest, KeyBetweenTakesTheMiddleOrAGapAndSaysWhenThereIsNoRoom) {
    const long long a = 10, b = 11, c = 14, lo = kMin + 3, hi = kMax - 3, far = kMin + 1;
    EXPECT_EQ(KeyBetween(nullptr, nullptr), 0);
    EXPECT_EQ(KeyBetween(&a, nullptr), 10 + kKeyGap);
    EXPECT_EQ(KeyBetween(nullptr, &a), 10 - kKeyGap);
    EXPECT_EQ(KeyBetween(&a, &c), 12);
    EXPECT_EQ(KeyBetween(&a, &b), std::nullopt);
    EXPECT_EQ(KeyBetween(&b, &a), std::nullopt);
    EXPECT_EQ(KeyBetween(&hi, nullptr), std::nullopt);
    EXPECT_EQ(KeyBetween(nullptr, &lo), std::nullopt);
    // The widest room, wider than LLONG_MAX, still gives its middle.
    EXPECT_EQ(KeyBetween(&far, &hi), -2);
}

TEST(KeyPlannerTest, EveryPlanKeepsTheStoredOrderAtEachWrite) {
    std::vector<long long> dense(40);
    std::iota(dense.begin(), dense.end(), 1000); // no room anywhere
    struct Case {
        const char* name;
        std::vector<long long> keys;
        int nNew;
        bool bAround; // a window does; otherwise the whole queue moves
    } cases[] = {
        {"middle, neighbours one apart", {0, 1 << 16, 0, (1 << 16) + 1, 3 << 16, 4 << 16}, 2, true},
        {"middle, a crowded stretch",
         {0, 100, 101, 102, 0, 103, 104, 105, 1LL << 40, 1LL << 41},
         4,
         true},
        {"head, at the bottom of the range", {0, kMin + 5, kMin + 6, 0, 1 << 20}, 0, true},
        {"tail, at the top of the range", {0, 1 << 16, kMax - 6, kMax - 5, 0}, 4, true},
        {"nowhere room: all move", dense, 20, false},
        {"keys over the whole range", {kMin, 0, kMax}, 1, false},
    };
    for (Case& c : cases) {
        std::vector<Step> steps = PlanAround(c.keys, static_cast<size_t>(c.nNew));
        EXPECT_EQ(!steps.empty(), c.bAround) << c.name;
        if (steps.empty())
            steps = PlanWhole(c.keys, c.nNew);
        // Keys spread over the whole range leave no room beyond them: only
        // the end is in order.
        const bool bKeeps = c.keys.front() != kMin;
        EXPECT_EQ(Check(c.keys, c.nNew, steps, bKeeps), "") << c.name;
    }
}

TEST(KeyPlannerTest, ARenumberingWithoutANewJobPutsForeignKeysInOrder) {
    const std::vector<std::vector<long long>> foreign = {
        {5, 5, 5}, {9, 3, 7, 1}, {kMax, kMax, kMax}, {kMin, kMin}, {kMin, kMax, 0}};
    for (const auto& keys : foreign)
        EXPECT_EQ(Check(keys, -1, PlanWhole(keys, -1), false), "") << keys.size();
}

} // namespace
