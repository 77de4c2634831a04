// The history file's records: what a spreadsheet and the history window
// read back, and what a record cut short leaves.
#include "history/HistoryCsv.h"
#include "history/HistoryTexts.h"

#include <gtest/gtest.h>

namespace {

TEST(HistoryCsv, RecordsRoundTripWithQuotesCommasLineEndsAndUtf8) {
    const struct {
        std::vector<std::string> fields;
        std::string encoded;
    } cases[] = {
        {{"plain", "two"}, "\"plain\",\"two\"\r\n"},
        {{"say \"hi\"", ""}, "\"say \"\"hi\"\"\",\"\"\r\n"},
        {{"a,b", ",", "\""}, "\"a,b\",\",\",\"\"\"\"\r\n"},
        {{"line\r\nnext", "lf\nonly", "cr\r"}, "\"line\r\nnext\",\"lf\nonly\",\"cr\r\"\r\n"},
        {{"\xC3\x89tiquette \xE2\x82\xAC", "\xE6\x97\xA5\xE6\x9C\xAC"},
         "\"\xC3\x89tiquette \xE2\x82\xAC\",\"\xE6\x97\xA5\xE6\x9C\xAC\"\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeCsvRecord(c.fields), c.encoded);
        const auto records = DecodeCsv(c.encoded + c.encoded);
        ASSERT_EQ(records.size(), 2u) << c.encoded;
        EXPECT_EQ(records[0], c.fields);
        EXPECT_EQ(records[1], c.fields);
    }
}

// Names others choose (anyone who can write to a watched folder) never
// reach a spreadsheet as a formula, and read back unchanged.
TEST(HistoryCsv, FormulaLikeTextsAreWrittenQuotedAndReadBackAsTheyWere) {
    const struct {
        std::string text, written;
    } rows[] = {
        {"=1+2.prn", "'=1+2.prn"},
        {"+cmd.prn", "'+cmd.prn"},
        {"-x", "'-x"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tx", "'\tx"},
        {"\rx", "'\rx"},
        {"'=kept", "''=kept"},
        {"'", "''"},
        {"plain=.prn", "plain=.prn"},
        {"", ""},
    };
    for (const auto& row : rows) {
        CHistoryEntry e;
        e.name = row.text;
        e.path = "C:\\in\\" + row.text;
        e.output = row.text;
        const std::vector<std::string> fields = EntryFields(e);
        EXPECT_EQ(fields[1], row.written);
        EXPECT_EQ(fields[5], row.written);
        const auto records = DecodeCsv(EncodeCsvRecord(fields));
        CHistoryEntry back;
        ASSERT_TRUE(EntryFromFields(records.at(0), back));
        EXPECT_EQ(back.name, row.text);
        EXPECT_EQ(back.path, e.path);
        EXPECT_EQ(back.output, row.text);
    }
}

TEST(HistoryCsv, ARecordCutShortIsLeftOutAndWholeLengthEndsBeforeIt) {
    const std::string whole = "\xEF\xBB\xBF\"a\",\"b\"\r\n\"c\",\"d\"\n";
    const struct {
        std::string tail;
        size_t records;
    } cases[] = {
        {"", 2},
        {"\"e\",\"f", 2},         // cut inside a quoted field
        {"\"e\",\"f\"", 2},       // cut before the line end
        {"\"e\",\"line\r\nx", 2}, // cut after a line end inside quotes
        {"\"e\",\"f\"\r", 2},     // cut between CR and LF
        {"\"e\",\"f\"\r\n", 3},
    };
    for (const auto& c : cases) {
        const std::string text = whole + c.tail;
        const auto records = DecodeCsv(text);
        EXPECT_EQ(records.size(), c.records) << c.tail;
        EXPECT_EQ(records.at(0), (std::vector<std::string>{"a", "b"}));
        EXPECT_EQ(CsvWholeLength(text), c.records == 3 ? text.size() : whole.size()) << c.tail;
    }
}

TEST(HistoryCsv, EntriesSkipTheHeaderAndRecordsThatAreNoEntry) {
    CHistoryEntry entry;
    entry.time = "2026-12-07T10:11:12";
    entry.name = "label \"A\", 4711";
    entry.path = "C:\\spool\\\xC3\xA9t\xC3\xA9.zpl";
    entry.copiesAsked = 3;
    entry.copiesSent = 2;
    entry.output = "127.0.0.1";
    entry.result = ResultFailed("Print Job Failed");
    const std::string good = EncodeCsvRecord(EntryFields(entry));
    const std::string text = HistoryFileHeader() + good + "\"2026-12-07T10:11:12\",\"short\"\r\n" +
                             EncodeCsvRecord({"t", "n", "p", "x", "1", "o", "r", ""}) + good +
                             "\"2026-12-07T10:11:13\",\"torn";
    const auto entries = DecodeHistory(text);
    ASSERT_EQ(entries.size(), 2u);
    for (const auto& e : entries) {
        EXPECT_EQ(EntryFields(e), EntryFields(entry));
    }
    EXPECT_EQ(ResultRemoved(1), "Removed: 1 copy left");
    EXPECT_EQ(ResultRemoved(3), "Removed: 3 copies left");
}

TEST(HistoryCsv, OnlyOneRecordOfOursCutShortIsCutAnyOtherEndGetsALineEnd) {
    CHistoryEntry e;
    e.time = "2026-12-07T10:02:05";
    e.name = "a\r\n\"2026-12-07T10:02:06\",";
    const std::string record = EncodeCsvRecord(EntryFields(e));
    const std::string open = record.substr(0, record.size() - 2);
    std::string good;
    for (int i = 0; i < 200; ++i)
        good += record;
    const std::string header = HistoryFileHeader();
    const std::string stray = "\"2026-12-07T10:02:05\",\"a \"stray\" quote\"\r\n";
    const struct {
        std::string kept, rest;
        bool bFileStart;
        std::string lineEnd;
    } cases[] = {
        {"", "", true, ""},                                      // an empty file
        {header, "", true, ""},                                  // only the header
        {header.substr(0, header.size() - 2), "", true, "\r\n"}, // the header, no line end
        {good, open.substr(0, 11), false, ""},                   // cut in the time stamp
        {good, open.substr(0, 30), false, ""},                   // cut in a field with a line end
        {"\xEF\xBB\xBF", open.substr(0, 22), true, ""}, // only a torn one, cut after a comma
        {good, open, false, "\r\n"},                    // whole, no line end
        {good, open + "\r", false, "\n"},               // whole, no LF
        {good + stray + good, open, false, "\r\n"},     // a stray quote earlier
        {stray + good, "\"2026", false, ""},            // torn, after a stray quote
        {good, "\"a\",\"b\"", false, "\r\n"},           // not ours
        {good, "no quotes at all", false, "\r\n"},
        {good, "\"2026-12-07T10:02:05\",x", false, "\r\n"},
        {"", "\"2026-12-07T10:02:05\",\"a", false, "\r\n"}, // its line start unseen
    };
    for (const auto& c : cases) {
        const CTailRepair repair = RepairTornTail(c.kept + c.rest, c.bFileStart);
        const size_t keep = c.lineEnd.empty() ? c.kept.size() : c.kept.size() + c.rest.size();
        EXPECT_EQ(repair.keep, keep) << c.rest;
        EXPECT_EQ(repair.lineEnd, c.lineEnd) << c.rest;
    }
}

// A page line folds into its job's line; one whose job is not there is
// shown on its own; a line of the older form, with no run id, still reads.
TEST(HistoryCsv, APageLineFoldsIntoItsJobByRunIdAndOlderLinesStillRead) {
    CHistoryEntry job;
    job.time = "2026-12-07T10:11:12";
    job.name = "job";
    job.copiesAsked = job.copiesSent = 1;
    job.result = ResultPrinted();
    CHistoryEntry counted = job, other = job, pages = job, orphan = job;
    counted.run = "A-1";
    other.run = "A-2";
    pages.run = "A-1";
    pages.copiesAsked = pages.copiesSent = 0;
    pages.result = ResultPagesCounted();
    pages.pages = "12";
    orphan = pages;
    orphan.run = "B-1";
    std::vector<std::string> older = EntryFields(job);
    older.pop_back();
    const std::string text =
        HistoryFileHeader() + EncodeCsvRecord(older) + EncodeCsvRecord(EntryFields(counted)) +
        EncodeCsvRecord(EntryFields(other)) + EncodeCsvRecord(EntryFields(orphan)) +
        EncodeCsvRecord(EntryFields(pages));
    EXPECT_EQ(DecodeHistoryLines(text).size(), 5u);
    const auto entries = DecodeHistory(text);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].run, "");
    EXPECT_EQ(entries[1].run, "A-1");
    EXPECT_EQ(entries[1].pages, "12");
    EXPECT_EQ(entries[1].result, ResultPrinted());
    EXPECT_EQ(entries[2].pages, "");
    EXPECT_EQ(entries[3].run, "B-1");
    EXPECT_EQ(entries[3].result, ResultPagesCounted());
}

} // namespace
