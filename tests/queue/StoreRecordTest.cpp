// The stored forms as bytes and names, without the registry.
#include "queue/StoreRecord.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace QueueRecord;

TEST(StoreRecord, OnlyCanonicalSlotNamesBelowTheLimitAreSlots) {
    const struct {
        const char* name;
        bool slot;
        unsigned long long value;
    } cases[] = {
        {"Q1", true, 1},
        {"Q42", true, 42},
        {"Q999999999999", true, 999999999999ULL},
        {"Q1000000000000", false, 0},
        {"Q18446744073709551615", false, 0},
        {"Q99999999999999999999999", false, 0},
        {"Q0", false, 0},
        {"Q01", false, 0},
        {"Q", false, 0},
        {"Q-1", false, 0},
        {"Q1a", false, 0},
        {"q1", false, 0},
        {"QueueStore", false, 0},
        {"Job0_Name", false, 0},
    };
    for (const auto& c : cases) {
        unsigned long long v = 7;
        EXPECT_EQ(ParseSlotName(c.name, &v), c.slot) << c.name;
        if (c.slot) {
            EXPECT_EQ(v, c.value) << c.name;
            EXPECT_EQ(SlotName(v), c.name);
        }
    }
}

TEST(StoreRecord, ARecordReadsBackAsWrittenAndAnyDamageIsNoRecord) {
    Record rec;
    rec.key = LLONG_MIN;
    rec.copies = 0x7FFFFFFF;
    rec.name = "label.zpl";
    rec.path = "C:\\jobs\\label.zpl";
    const std::vector<BYTE> good = Encode(rec);
    Record back;
    ASSERT_TRUE(Decode(good.data(), good.size(), &back));
    EXPECT_EQ(back.key, rec.key);
    EXPECT_EQ(back.copies, rec.copies);
    EXPECT_EQ(back.name, rec.name);
    EXPECT_EQ(back.path, rec.path);

    const struct {
        const char* what;
        size_t at; // byte changed, or the new size when cut
        BYTE value;
        bool cut;
    } damage[] = {
        {"another format", 0, 2, false},
        {"a name longer than the bytes", 16, 200, false},
        {"a path length beyond 32 bits' worth", 23, 0xFF, false},
        {"a zero inside the name", 24, 0, false},
        {"cut inside the header", 10, 0, true},
        {"cut inside the path", good.size() - 1, 0, true},
    };
    for (const auto& d : damage) {
        std::vector<BYTE> bytes = good;
        if (d.cut)
            bytes.resize(d.at);
        else
            bytes[d.at] = d.value;
        EXPECT_FALSE(Decode(bytes.data(), bytes.size(), &back)) << d.what;
    }
    std::vector<BYTE> longer = good;
    longer.push_back('x');
    EXPECT_FALSE(Decode(longer.data(), longer.size(), &back)) << "a byte too many";
}

TEST(StoreRecord, AnIndexReadsBackAndOnlyWhenItsKeysRise) {
    Index index;
    index.print = 0x0123456789ABCDEFULL;
    index.nextSlot = 9;
    index.jobs = {{3, -5}, {1, 0}, {8, LLONG_MAX}};
    const std::vector<BYTE> bytes = EncodeIndex(index);
    Index back;
    ASSERT_TRUE(DecodeIndex(bytes.data(), bytes.size(), &back));
    EXPECT_EQ(back.print, index.print);
    EXPECT_EQ(back.nextSlot, 9u);
    EXPECT_EQ(back.jobs, index.jobs);

    const struct {
        const char* what;
        std::vector<std::pair<unsigned long long, long long>> jobs;
        unsigned long long nextSlot;
    } bad[] = {
        {"equal keys", {{1, 4}, {2, 4}}, 3},
        {"falling keys", {{1, 4}, {2, 3}}, 3},
        {"slot 0", {{0, 4}}, 3},
        {"a slot beyond the limit", {{kSlotLimit, 4}}, 3},
        {"next slot beyond the limit", {{1, 4}}, kSlotLimit + 1},
        {"next slot not above a slot", {{1, 4}, {3, 5}}, 3},
    };
    for (const auto& b : bad) {
        Index i;
        i.jobs = b.jobs;
        i.nextSlot = b.nextSlot;
        const std::vector<BYTE> v = EncodeIndex(i);
        EXPECT_FALSE(DecodeIndex(v.data(), v.size(), &back)) << b.what;
    }
    EXPECT_FALSE(DecodeIndex(bytes.data(), bytes.size() - 1, &back)) << "cut short";
}

Record Job(unsigned long long slot, long long key, size_t nameSize) {
    Record rec;
    rec.slot = slot;
    rec.key = key;
    rec.copies = 2;
    rec.name = std::string(nameSize, 'n');
    rec.path = "C:\\labels\\a.prn";
    return rec;
}

// The snapshot's head and parts: read back whole, and every way a head and
// parts that do not belong together (or are damaged) are no snapshot.
TEST(StoreRecord, ASnapshotReadsBackOnlyWithTheHeadsOwnParts) {
    // The size of one job in a part (slot, length, record) for a name of
    // length 0, so that a job can be made to fill a part to the byte.
    const size_t nBase = 12 + Encode(Job(1, 0, 0)).size();
    struct Row {
        const char* what;
        std::vector<Record> jobs;
        std::function<void(Snapshot& head, std::vector<std::vector<BYTE>>& parts, size_t& nJobs)>
            harm;
        bool ok;
        size_t nParts;
    };
    const auto none = [](Snapshot&, std::vector<std::vector<BYTE>>&, size_t&) {};
    const Row rows[] = {
        {"three jobs", {Job(1, -4, 3), Job(7, 0, 1), Job(2, 9, 0)}, none, true, 1},
        {"no job", {}, none, true, 1},
        {"a part filled to the byte", {Job(1, 0, kSnapshotPart - nBase)}, none, true, 1},
        {"one byte more takes a second part",
         {Job(1, 0, kSnapshotPart - nBase + 1)},
         none,
         true,
         2},
        {"a byte of a part damaged",
         {Job(1, 0, 3)},
         [](Snapshot&, std::vector<std::vector<BYTE>>& p, size_t&) { p[0].back() ^= 1; },
         false,
         1},
        {"a part of another close",
         {Job(1, 0, kSnapshotPart - nBase + 1)},
         [nBase](Snapshot&, std::vector<std::vector<BYTE>>& p, size_t&) {
             p[1] = EncodeSnapshotParts(std::vector<Record>{Job(1, 0, kSnapshotPart - nBase + 1)},
                                        8)[1];
         },
         false,
         2},
        {"a head of another close",
         {Job(1, 0, 3)},
         [](Snapshot& h, std::vector<std::vector<BYTE>>&, size_t&) { ++h.generation; },
         false,
         1},
        {"a part left over",
         {Job(1, 0, 3)},
         [](Snapshot&, std::vector<std::vector<BYTE>>& p, size_t&) {
             p.push_back(EncodeSnapshotParts(std::vector<Record>{Job(2, 0, 3)}, 7)[0]);
         },
         false,
         1},
        {"fewer jobs than the parts hold",
         {Job(1, 0, 3), Job(2, 1, 3)},
         [](Snapshot&, std::vector<std::vector<BYTE>>&, size_t& n) { --n; },
         false,
         1},
        {"more jobs than the parts hold",
         {Job(1, 0, 3)},
         [](Snapshot&, std::vector<std::vector<BYTE>>&, size_t& n) { ++n; },
         false,
         1},
        {"next slot not above a slot",
         {Job(1, 0, 3), Job(9, 1, 3)},
         [](Snapshot& h, std::vector<std::vector<BYTE>>&, size_t&) { h.nextSlot = 9; },
         false,
         1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Snapshot snap;
        snap.lastWrite = 0x1122334455667788ULL;
        snap.shape = 0x99AABBCCDDEEFF00ULL;
        snap.generation = 7;
        snap.nextSlot = 10;
        snap.jobs = row.jobs;
        std::vector<std::vector<BYTE>> parts = EncodeSnapshotParts(row.jobs, snap.generation);
        EXPECT_EQ(parts.size(), row.nParts);
        const std::vector<BYTE> headBytes = EncodeSnapshotHead(snap, parts.size());
        Snapshot head;
        size_t nJobs = 0, nParts = 0;
        ASSERT_TRUE(DecodeSnapshotHead(headBytes.data(), headBytes.size(), &head, &nJobs, &nParts));
        EXPECT_EQ(head.lastWrite, snap.lastWrite);
        EXPECT_EQ(head.shape, snap.shape);
        EXPECT_EQ(nJobs, row.jobs.size());
        EXPECT_EQ(nParts, parts.size());
        row.harm(head, parts, nJobs);
        const bool ok = DecodeSnapshotParts(parts, nJobs, &head);
        EXPECT_EQ(ok, row.ok);
        if (!ok || !row.ok)
            continue;
        ASSERT_EQ(head.jobs.size(), row.jobs.size());
        for (size_t i = 0; i < row.jobs.size(); ++i) {
            EXPECT_EQ(head.jobs[i].slot, row.jobs[i].slot);
            EXPECT_EQ(head.jobs[i].key, row.jobs[i].key);
            EXPECT_EQ(head.jobs[i].name, row.jobs[i].name);
        }
    }
}

} // namespace
