// The history's store on a folder of its own in the temporary folder: what
// reaches the file, rotation, a file that ends in a record cut short, and a
// folder that cannot be written.
#include "history/JobHistory.h"

#include "support/TempFiles.h"

#include <gtest/gtest.h>

namespace {

CHistoryEntry Entry(int n) {
    CHistoryEntry e;
    e.time = "2026-12-07T10:00:" + std::string(n < 10 ? "0" : "") + std::to_string(n % 60);
    e.name = "job " + std::to_string(n);
    e.path = "C:\\spool\\job " + std::to_string(n) + ".prn";
    e.copiesAsked = n;
    e.copiesSent = n;
    e.output = "Null";
    e.result = ResultPrinted();
    return e;
}

class JobHistoryTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    void Clean() {
        DeleteFileW(ToWide(File()).c_str());
        DeleteFileW(ToWide(OldFile()).c_str());
        RemoveDirectoryW(ToWide(m_folder).c_str());
    }
    std::string File() const { return m_folder + "\\history.csv"; }
    std::string OldFile() const { return m_folder + "\\history.1.csv"; }
    std::wstring Folder() const { return ToWide(m_folder); }
    std::vector<int> Names(const std::vector<CHistoryEntry>& entries) {
        std::vector<int> ns;
        for (const auto& e : entries)
            ns.push_back(e.copiesAsked);
        return ns;
    }

    std::string m_folder = TempPath("morvane history test");
};

TEST_F(JobHistoryTest, EntriesReachTheFileWithHeaderAndRotationKeepsBothFilesReadable) {
    const size_t nRecord = EncodeCsvRecord(EntryFields(Entry(10))).size();
    {
        // Room for the header and three records.
        CJobHistory history(Folder(), HistoryFileHeader().size() + 3 * nRecord);
        for (int i = 10; i < 17; ++i)
            history.Record(Entry(i));
        history.Close();
        size_t nSeen = 0;
        const auto all = history.ReadAll(nSeen);
        EXPECT_EQ(nSeen, 7u);
        // Seven entries: one file of three before the last file of one.
        EXPECT_EQ(Names(all), (std::vector<int>{13, 14, 15, 16}));
        // With no window listening, entries in the file are not kept in memory.
        size_t nFromStart = 0;
        EXPECT_TRUE(history.EntriesSince(nFromStart).empty());
        EXPECT_EQ(nFromStart, 7u);
    }
    const std::string current = ReadFileBytes(File());
    const std::string old = ReadFileBytes(OldFile());
    EXPECT_EQ(current.rfind(HistoryFileHeader(), 0), 0u);
    EXPECT_EQ(old.rfind(HistoryFileHeader(), 0), 0u);
    EXPECT_EQ(Names(DecodeHistory(old)), (std::vector<int>{13, 14, 15}));
    EXPECT_EQ(Names(DecodeHistory(current)), (std::vector<int>{16}));
    EXPECT_EQ(DecodeHistory(current).at(0).path, "C:\\spool\\job 16.prn");
}

TEST_F(JobHistoryTest, ARecordCutShortIsDroppedAndTheNextEntryStartsOnItsOwnLine) {
    const std::string whole = HistoryFileHeader() + EncodeCsvRecord(EntryFields(Entry(1)));
    const std::string tails[] = {"\"2026-12-07T10:00:02\",\"job \"\"2", "\"t\",\"n\",\"p\",\"2\"",
                                 "\r"};
    for (const std::string& tail : tails) {
        CreateDirectoryW(Folder().c_str(), nullptr);
        ASSERT_TRUE(WriteFileBytes(File(), whole + tail));
        CJobHistory history(Folder());
        size_t nSeen = 0;
        EXPECT_EQ(Names(history.ReadAll(nSeen)), (std::vector<int>{1})) << tail;
        history.Record(Entry(3));
        history.Close();
        EXPECT_EQ(ReadFileBytes(File()), whole + EncodeCsvRecord(EntryFields(Entry(3)))) << tail;
    }
}

TEST_F(JobHistoryTest, AFolderThatCannotBeMadeIsToldOnceAndRecordDoesNotWait) {
    TempFile blocker("morvane history blocker", "a file where the folder would be");
    CJobHistory history(ToWide(std::string(blocker.path()) + "\\sub"));
    std::vector<std::string> told;
    history.SetFailureHandler([&](const std::string& reason) { told.push_back(reason); });
    for (int i = 0; i < 3; ++i)
        history.Record(Entry(i));
    history.Close();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].find("morvane history blocker"), std::string::npos) << told[0];
    // The run's entries are still there to be shown, once.
    size_t nSeen = 0;
    EXPECT_EQ(Names(history.ReadAll(nSeen)), (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(history.EntriesSince(nSeen).empty());
}

TEST_F(JobHistoryTest, AFileThatCannotBeMovedAsideIsToldOnceAndKeepsItsEntries) {
    CreateDirectoryW(Folder().c_str(), nullptr);
    ASSERT_TRUE(WriteFileBytes(OldFile(), HistoryFileHeader()));
    // Another program holds the old file without letting it be replaced.
    HANDLE hOld = CreateFileW(ToWide(OldFile()).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(hOld, INVALID_HANDLE_VALUE);
    std::vector<std::string> told;
    {
        CJobHistory history(Folder(), HistoryFileHeader().size() + 10);
        history.SetFailureHandler([&](const std::string& reason) { told.push_back(reason); });
        for (int i = 1; i <= 3; ++i)
            history.Record(Entry(i));
        history.Close();
    }
    CloseHandle(hOld);
    EXPECT_EQ(told.size(), 1u);
    EXPECT_EQ(Names(DecodeHistory(ReadFileBytes(File()))), (std::vector<int>{1, 2, 3}));
}

TEST_F(JobHistoryTest, AnEntryWaitingForItsPageCountIsWrittenOnceWholeWhenItComes) {
    CHistoryEntry counted = Entry(1), uncounted = Entry(2), unclaimed = Entry(3);
    counted.pageToken = 7;
    uncounted.pageToken = 8;
    unclaimed.pageToken = 9;
    CJobHistory history(Folder());
    for (const auto* e : {&counted, &uncounted, &unclaimed})
        history.Record(*e);
    history.Record(Entry(4));
    history.SetPages(8, std::nullopt);
    history.SetPages(7, 12);
    history.SetPages(7, 99); // a token answers once
    history.SetPages(5, 3);  // no entry waits for it
    history.Close();
    const auto written = DecodeHistory(ReadFileBytes(File()));
    // In the order the counts came; the one still waiting at the close is
    // written then, with the field empty.
    ASSERT_EQ(Names(written), (std::vector<int>{4, 2, 1, 3}));
    EXPECT_EQ(written[1].pages, "");
    EXPECT_EQ(written[2].pages, "12");
    EXPECT_EQ(written[3].pages, "");
}

} // namespace
