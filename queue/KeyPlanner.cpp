#include "queue/KeyPlanner.h"

#include <algorithm>
#include <climits>

namespace KeyPlanner {

std::optional<long long> KeyBetween(const long long* pPrev, const long long* pNext) {
    if (!pPrev && !pNext)
        return 0;
    if (pPrev && !pNext) {
        if (*pPrev <= LLONG_MAX - kKeyGap)
            return *pPrev + kKeyGap;
        return std::nullopt;
    }
    if (!pPrev) {
        if (*pNext >= LLONG_MIN + kKeyGap)
            return *pNext - kKeyGap;
        return std::nullopt;
    }
    const long long prev = *pPrev, next = *pNext;
    // In unsigned arithmetic: the distance may exceed LLONG_MAX.
    const unsigned long long room =
        static_cast<unsigned long long>(next) - static_cast<unsigned long long>(prev);
    if (next > prev && room >= 2)
        return static_cast<long long>(static_cast<unsigned long long>(prev) + room / 2);
    return std::nullopt;
}

std::vector<Step> PlanAround(const std::vector<long long>& keys, size_t nNew) {
    const long long n = static_cast<long long>(keys.size());
    const long long at = static_cast<long long>(nNew);
    if (at >= n || n < 3)
        return {};
    auto keyAt = [&](long long i) { return keys[static_cast<size_t>(i)]; };
    // A window [lo, hi) around the new job that grows until the keys of the
    // jobs just outside it leave every job inside kMinSpacing; a window that
    // reaches an end of the queue has room beyond it.
    for (long long half = 2;; half *= 2) {
        const long long lo = std::max(0LL, at - half);
        const long long hi = std::min(n, at + half + 1);
        if (lo == 0 && hi == n)
            return {};
        const long long m = hi - lo; // the new job included
        unsigned long long first, step;
        if (lo > 0 && hi < n) {
            const unsigned long long a = static_cast<unsigned long long>(keyAt(lo - 1));
            const unsigned long long b = static_cast<unsigned long long>(keyAt(hi));
            if (keyAt(hi) <= keyAt(lo - 1))
                return {};
            step = (b - a) / static_cast<unsigned long long>(m + 1);
            if (step < kMinSpacing)
                continue;
            first = a + step;
        } else if (hi == n) {
            // At the tail: upwards from the job before the window.
            const long long a = keyAt(lo - 1);
            step = kKeyGap;
            if (a > LLONG_MAX - (m + 1) * kKeyGap)
                continue;
            first = static_cast<unsigned long long>(a) + step;
        } else {
            // At the head: downwards from the job behind the window.
            const long long b = keyAt(hi);
            step = kKeyGap;
            if (b < LLONG_MIN + (m + 1) * kKeyGap)
                continue;
            first = static_cast<unsigned long long>(b) - static_cast<unsigned long long>(m) * step;
        }
        // Keys in unsigned arithmetic, taken back within the signed range.
        auto newKey = [&](long long i) {
            return static_cast<long long>(first + static_cast<unsigned long long>(i - lo) * step);
        };
        std::vector<Step> steps;
        for (long long i = lo; i < hi; ++i)
            if (i != at && newKey(i) < keyAt(i))
                steps.push_back({static_cast<size_t>(i), newKey(i)});
        for (long long i = hi - 1; i >= lo; --i)
            if (i != at && newKey(i) > keyAt(i))
                steps.push_back({static_cast<size_t>(i), newKey(i)});
        steps.push_back({nNew, newKey(at)});
        return steps;
    }
}

std::vector<Step> PlanWhole(const std::vector<long long>& keys, int nNew) {
    long long lo = LLONG_MAX, hi = LLONG_MIN;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (static_cast<int>(i) == nNew)
            continue;
        lo = std::min(lo, keys[i]);
        hi = std::max(hi, keys[i]);
    }
    if (lo > hi)
        lo = hi = 0;
    const long long n = static_cast<long long>(keys.size());
    const long long span = (n + 1) * kKeyGap;
    std::vector<Step> steps;
    steps.reserve(keys.size());
    if (hi <= LLONG_MAX - span) {
        for (long long i = n - 1; i >= 0; --i)
            steps.push_back({static_cast<size_t>(i), hi + (i + 1) * kKeyGap});
    } else if (lo >= LLONG_MIN + span) {
        for (long long i = 0; i < n; ++i)
            steps.push_back({static_cast<size_t>(i), lo - (n - i) * kKeyGap});
    } else {
        for (long long i = 0; i < n; ++i)
            steps.push_back({static_cast<size_t>(i), (i - n / 2) * kKeyGap});
    }
    return steps;
}

} // namespace KeyPlanner
