// The history's store on a folder of its own in the temporary folder: what
// reaches the file, rotation, a file that ends in a record cut short, and a
// folder that cannot be written.
#include "history/JobHistory.h"
#include "history/HistoryTexts.h"

#include "support/TempFiles.h"
#include "support/WaitFor.h"

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

// Only a record of ours cut short goes; any other end is kept and the next
// entry starts on a line of its own.
TEST_F(JobHistoryTest, ARecordOfOursCutShortIsDroppedAnyOtherEndIsKept) {
    const std::string whole = HistoryFileHeader() + EncodeCsvRecord(EntryFields(Entry(1)));
    std::string record2 = EncodeCsvRecord(EntryFields(Entry(2)));
    record2.resize(record2.size() - 2);
    std::string edited = "\"2026-12-07T10:00:05\",\"hand \"edited\"\r\n";
    for (int i = 0; i < 50; ++i)
        edited += EncodeCsvRecord(EntryFields(Entry(10)));
    const struct {
        std::string tail, kept;
    } cases[] = {
        {"\"2026-12-07T10:00:02\",\"job \"\"2", ""},
        {record2, record2 + "\r\n"},
        {"\"t\",\"n\",\"p\",\"2\"", "\"t\",\"n\",\"p\",\"2\"\r\n"},
        {"\r", "\r\n"},
        {edited + record2, edited + record2 + "\r\n"},
    };
    for (const auto& c : cases) {
        CreateDirectoryW(Folder().c_str(), nullptr);
        ASSERT_TRUE(WriteFileBytes(File(), whole + c.tail));
        CJobHistory history(Folder());
        history.Record(Entry(3));
        history.Close();
        EXPECT_EQ(ReadFileBytes(File()), whole + c.kept + EncodeCsvRecord(EntryFields(Entry(3))))
            << c.tail.substr(0, 40);
    }
}

TEST_F(JobHistoryTest, AFileMovedAwayIsLeftAloneAndTheNextEntryStartsANewOne) {
    // The writer keeps the file open between entries: each move comes
    // while it holds the moved file.
    CJobHistory history(Folder());
    history.Record(Entry(1));
    ASSERT_TRUE(WaitFor([&] { return DecodeHistory(ReadFileBytes(File())).size() == 1; }));
    const std::string moved = m_folder + "\\archived.csv";
    ASSERT_TRUE(MoveFileW(ToWide(File()).c_str(), ToWide(moved).c_str()));
    const std::string archived = ReadFileBytes(moved);
    history.Record(Entry(2));
    const std::string fresh = HistoryFileHeader() + EncodeCsvRecord(EntryFields(Entry(2)));
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(File()) == fresh; }));
    // Moved again, and another file put in its place: the next entry goes
    // into the file the path names now.
    const std::string moved2 = m_folder + "\\archived2.csv";
    ASSERT_TRUE(MoveFileW(ToWide(File()).c_str(), ToWide(moved2).c_str()));
    const std::string other = HistoryFileHeader() + EncodeCsvRecord(EntryFields(Entry(7)));
    ASSERT_TRUE(WriteFileBytes(File(), other));
    history.Record(Entry(3));
    history.Close();
    EXPECT_EQ(ReadFileBytes(moved), archived);
    EXPECT_EQ(ReadFileBytes(moved2), fresh);
    EXPECT_EQ(ReadFileBytes(File()), other + EncodeCsvRecord(EntryFields(Entry(3))));
    DeleteFileW(ToWide(moved).c_str());
    DeleteFileW(ToWide(moved2).c_str());
}

TEST_F(JobHistoryTest, TwoStoresOnOneFolderAppendWithoutOverwritingEachOther) {
    CJobHistory one(Folder()), two(Folder());
    for (int i = 0; i < 6; ++i) {
        (i % 2 ? two : one).Record(Entry(i));
        ASSERT_TRUE(WaitFor([&] {
            return DecodeHistory(ReadFileBytes(File())).size() == size_t(i + 1);
        })) << i;
    }
    one.Close();
    two.Close();
    EXPECT_EQ(Names(DecodeHistory(ReadFileBytes(File()))), (std::vector<int>{0, 1, 2, 3, 4, 5}));
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

TEST_F(JobHistoryTest, APrintedLineIsWrittenAtOnceAndItsPageCountFollowsWithItsRunId) {
    CHistoryEntry counted = Entry(1), uncounted = Entry(2);
    counted.pageToken = 7;
    uncounted.pageToken = 8;
    CJobHistory history(Folder());
    history.Record(counted);
    history.Record(uncounted);
    history.Record(Entry(4));
    // In the file before any count comes: a kill now loses nothing.
    EXPECT_TRUE(WaitFor([&] { return DecodeHistory(ReadFileBytes(File())).size() == 3; }));
    history.SetPages(8, std::nullopt);
    history.SetPages(7, 12);
    history.SetPages(7, 99); // a token answers once
    history.SetPages(5, 3);  // no entry waits for it
    history.Close();
    const auto records = DecodeCsv(ReadFileBytes(File()));
    ASSERT_EQ(records.size(), 5u); // the header, three jobs, one page line
    for (const auto& r : records)
        ASSERT_EQ(r.size(), 9u);
    EXPECT_NE(records[1][8], "");
    EXPECT_NE(records[1][8], records[2][8]);
    EXPECT_EQ(records[3][8], "");
    EXPECT_EQ(records[4][8], records[1][8]);
    EXPECT_EQ(records[4][6], "Pages counted");
    EXPECT_EQ(records[4][7], "12");
    size_t nSeen = 0;
    for (const auto& shown : {DecodeHistory(ReadFileBytes(File())), history.ReadAll(nSeen)}) {
        ASSERT_EQ(Names(shown), (std::vector<int>{1, 2, 4}));
        EXPECT_EQ(shown[0].pages, "12");
        EXPECT_EQ(shown[0].result, "Printed");
        EXPECT_EQ(shown[1].pages, "");
    }
}

// The owner's failure handler throws, then hangs: the writer neither ends
// the program nor holds up Close beyond its bound.
TEST_F(JobHistoryTest, AFailureHandlerThatThrowsOrHangsCostsNeitherTheProgramNorTheClose) {
    TempFile blocker("morvane history blocker", "x");
    const std::wstring folder = ToWide(std::string(blocker.path()) + "\\sub");
    {
        CJobHistory history(folder);
        history.SetFailureHandler([](const std::string&) { throw std::runtime_error("owner"); });
        history.Record(Entry(1));
        history.Close();
        size_t nSeen = 0;
        EXPECT_EQ(Names(history.ReadAll(nSeen)), (std::vector<int>{1}));
    }
    auto release = std::make_shared<HANDLE>(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    DWORD nClose = 0;
    {
        CJobHistory history(folder);
        history.SetFailureHandler(
            [release](const std::string&) { WaitForSingleObject(*release, 8000); });
        history.Record(Entry(2));
        Sleep(200);
        const DWORD nStart = GetTickCount();
        history.Close();
        nClose = GetTickCount() - nStart;
    }
    EXPECT_LT(nClose, 4000u);
    SetEvent(*release);
    Sleep(200);
    CloseHandle(*release);
}

} // namespace
