// The stored forms as bytes and names, without the registry.
#include "queue/StoreRecord.h"

#include <gtest/gtest.h>

#include <climits>

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

} // namespace
