// The ordering keys of the queue's journal records, as plain numbers: where
// a new job's key goes, and which keys of its neighbours change, in which
// order, when there is no room for it. Keys rise strictly in queue order;
// every record is written with one call, so the plans keep that order among
// the records already stored after each single write: a cut between two
// writes leaves the queue in order.
// Pure functions over the keys of the stored jobs in queue order: no
// registry, no jobs, any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace KeyPlanner {

// Room between the keys of neighbours at the end of the queue.
constexpr long long kKeyGap = 1LL << 16;
// The least room a local renumbering leaves between neighbours.
constexpr unsigned long long kMinSpacing = kKeyGap / 64;

// One write of a plan: the job at index (among the stored jobs, in queue
// order) gets key.
struct Step {
    size_t index;
    long long key;
};

// The key for a job between a neighbour before and one behind it (null
// where there is none): the middle of the room, a gap beyond the last or
// before the first, 0 for a queue of one. None when there is no room.
std::optional<long long> KeyBetween(const long long* pPrev, const long long* pNext);

// keys: every stored job's key in queue order, the new job's at nNew (its
// value is not looked at). The keys of a window of neighbours around the
// new job, spread over the room around the window: the jobs whose key falls
// head first, then those whose key rises tail first, and the new job's key
// (set, not written: its record comes after). Empty when only a renumbering
// of the whole queue makes room.
std::vector<Step> PlanAround(const std::vector<long long>& keys, size_t nNew);

// New keys for every job, kKeyGap apart, beyond every old key where the
// range allows: above them tail first, below them head first. nNew: the new
// job (its key is not looked at), or -1 for none. Only where the keys span
// nearly the whole range (foreign data) is the stored order not kept
// through a cut.
std::vector<Step> PlanWhole(const std::vector<long long>& keys, int nNew);

} // namespace KeyPlanner
