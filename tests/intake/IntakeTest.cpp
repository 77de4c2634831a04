// The intake's pure parts as tables (the command line, the hand-over's
// bytes, the naming of moves, the filter, the start's plan) and the done
// files' way to "Printed" cut after every step, on real files.
#include "intake/CommandLine.h"
#include "intake/DoneFiles.h"
#include "intake/PathCheck.h"
#include "intake/WatchedFolder.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct ParseRow {
    std::vector<std::wstring> args;
    bool ok;
    int copies;
    bool start;
    size_t files;
};

TEST(CommandLineTest, ParsesSwitchesAndCountsAndRefusesTheRest) {
    const ParseRow rows[] = {
        {{L"a.prn"}, true, 0, false, 1},
        {{L"/COPIES:3", L"/Start", L"a", L"b"}, true, 3, true, 2},
        {{L"/copies:0100", L"a"}, true, 100, false, 1}, // decimal, not octal
        {{L"/copies:100000", L"a"}, true, 100000, false, 1},
        {{L"/copies:100001", L"a"}, false, 0, false, 0},
        {{L"/copies:1e3", L"a"}, false, 0, false, 0},
        {{L"/copies:0", L"a"}, false, 0, false, 0},
        {{L"/copies:-1", L"a"}, false, 0, false, 0},
        {{L"/copies: 5", L"a"}, false, 0, false, 0},
        {{L"/copies:", L"a"}, false, 0, false, 0},
        {{L"/copies:0000005", L"a"}, false, 0, false, 0},
        {{L"/copies:99999999999999999999999", L"a"}, false, 0, false, 0},
        {{L"/copies:2"}, false, 0, false, 0}, // a count without a file
        {{L"a", L""}, false, 0, false, 0},    // an empty argument
        {{L"/bogus", L"a"}, false, 0, false, 0},
    };
    for (const ParseRow& row : rows) {
        CQueueRequest request;
        std::wstring error;
        const bool ok = ParseCommandLine(row.args, request, error);
        const std::string what = ToUtf8(row.args[0]) + " ...";
        EXPECT_EQ(ok, row.ok) << what;
        EXPECT_EQ(error.empty(), row.ok) << what;
        if (!ok)
            continue;
        EXPECT_EQ(request.nCopies, row.copies) << what;
        EXPECT_EQ(request.bStart, row.start) << what;
        EXPECT_EQ(request.files.size(), row.files) << what;
    }
}

TEST(CommandLineTest, AHandOverIsReadBackWholeOrNotAtAll) {
    CQueueRequest request;
    request.nCopies = 7;
    request.bStart = true;
    request.nAcceptUntil = 0x0123456789ABCDEFull;
    request.files = {L"C:\\a.prn", std::wstring(L"D:\\\x00e9\x4e2d.zpl")};
    const std::vector<BYTE> bytes = EncodeRequest(request);
    CQueueRequest back;
    ASSERT_TRUE(DecodeRequest(bytes.data(), bytes.size(), back));
    EXPECT_EQ(back.nCopies, 7);
    EXPECT_TRUE(back.bStart);
    EXPECT_FALSE(back.bQuiet);
    EXPECT_EQ(back.nAcceptUntil, request.nAcceptUntil);
    EXPECT_EQ(back.files, request.files);

    // Cut anywhere, or with a byte more: refused, and nothing half read.
    for (size_t cb = 0; cb < bytes.size(); ++cb) {
        EXPECT_FALSE(DecodeRequest(bytes.data(), cb, back)) << cb;
        EXPECT_TRUE(back.files.empty()) << cb;
    }
    std::vector<BYTE> longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(DecodeRequest(longer.data(), longer.size(), back));
    EXPECT_FALSE(DecodeRequest(nullptr, 100, back));

    // Hostile headers: a count past the bytes, a name of no or huge
    // length, a NUL inside a name, copies out of range.
    auto patched = [&](size_t at, std::vector<BYTE> with) {
        std::vector<BYTE> b = bytes;
        std::copy(with.begin(), with.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        return DecodeRequest(b.data(), b.size(), back);
    };
    EXPECT_FALSE(patched(16, {0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_FALSE(patched(20, {0, 0, 0, 0}));
    EXPECT_FALSE(patched(20, {0xFF, 0xFF, 0xFF, 0x7F}));
    EXPECT_FALSE(patched(24, {0, 0}));
    EXPECT_FALSE(patched(0, {0xA1, 0x86, 0x01, 0x00})); // 100001 copies
}

TEST(WatchedFolderNaming, AMoveTakesTheFirstFreeNumberedName) {
    struct Row {
        const wchar_t* name;
        std::set<std::wstring> there;    // files in the target
        std::set<std::wstring> recorded; // done records
        const wchar_t* expected;
    } rows[] = {
        {L"a.prn", {}, {}, L"C:\\T\\a.prn"},
        {L"a.prn", {L"C:\\T\\a.prn"}, {}, L"C:\\T\\a (2).prn"},
        {L"a.prn", {L"C:\\T\\a.prn", L"C:\\T\\a (2).prn"}, {}, L"C:\\T\\a (3).prn"},
        {L"a.prn", {}, {L"C:\\T\\a.prn"}, L"C:\\T\\a (2).prn"},
        {L"a.b.prn", {L"C:\\T\\a.b.prn"}, {}, L"C:\\T\\a.b (2).prn"},
        {L"noext", {L"C:\\T\\noext"}, {}, L"C:\\T\\noext (2)"},
        {L".hidden", {L"C:\\T\\.hidden"}, {}, L"C:\\T\\.hidden (2)"},
    };
    for (const Row& row : rows) {
        const std::wstring got = WatchedFolder::MoveUniqueWith(
            row.name, L"C:\\T\\", [&](const std::wstring& p) { return row.recorded.count(p) > 0; },
            [&](const std::wstring& target) -> DWORD {
                return row.there.count(target) ? ERROR_FILE_EXISTS : ERROR_SUCCESS;
            });
        EXPECT_EQ(got, row.expected) << ToUtf8(row.name);
    }
    // Any other failure ends the search: no name is tried after it.
    int tries = 0;
    EXPECT_EQ(WatchedFolder::MoveUniqueWith(L"a", L"T", nullptr,
                                            [&](const std::wstring&) -> DWORD {
                                                ++tries;
                                                return ERROR_ACCESS_DENIED;
                                            }),
              L"");
    EXPECT_EQ(tries, 1);
}

TEST(WatchedFolderFilter, OnlyFilesThatCanBePrintJobs) {
    const struct {
        DWORD attributes;
        const wchar_t* name;
        bool job;
    } rows[] = {
        {FILE_ATTRIBUTE_NORMAL, L"label.zpl", true},
        {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, L"x.prn", true},
        {FILE_ATTRIBUTE_DIRECTORY, L"Queued", false},
        {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, L"desktop.ini", false},
        {FILE_ATTRIBUTE_HIDDEN, L"thumbs.db", false},
        {FILE_ATTRIBUTE_NORMAL, L"report.prn.tmp", false},
        {FILE_ATTRIBUTE_NORMAL, L"REPORT.TMP", false},
        {FILE_ATTRIBUTE_NORMAL, L"upload.part", false},
        {FILE_ATTRIBUTE_NORMAL, L"report.prn~", false},
        {FILE_ATTRIBUTE_NORMAL, L"tmp.prn", true},
        {FILE_ATTRIBUTE_NORMAL, L"", false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(WatchedFolder::IsJobEntry(row.attributes, row.name), row.job) << ToUtf8(row.name);
}

TEST(WatchedFolderFolder, IsKeptAbsoluteAndInOneForm) {
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    std::wstring here = cwd;
    if (here.back() == L'\\')
        here.pop_back();
    EXPECT_EQ(WatchedFolder::Canonical(L"C:/hot/"), L"C:\\hot");
    EXPECT_EQ(WatchedFolder::Canonical(L"C:\\hot\\..\\hot\\\\"), L"C:\\hot");
    EXPECT_EQ(WatchedFolder::Canonical(L"hot"), here + L"\\hot");
    EXPECT_EQ(WatchedFolder::Canonical(L"C:\\"), L"C:\\");
    EXPECT_EQ(WatchedFolder::Canonical(L""), L"");
}

// The settle rule against a clock of the test's own: each step is one look
// at the folder at a time, with what it lists.
TEST(WatchedFolderSettle, AFileIsReadyOnceItRestedForTheSettleTime) {
    const DWORD kSettle = 1000;
    auto at = [](ULONGLONG t) {
        FILETIME ft;
        ft.dwLowDateTime = static_cast<DWORD>(t);
        ft.dwHighDateTime = 0;
        return ft;
    };
    const struct Step {
        ULONGLONG now;
        std::vector<CSettleTracker::Entry> listing;
        std::vector<std::wstring> ready;
        DWORD due;
        const wchar_t* taken; // moved away after the look
    } steps[] = {
        // b was written before a: it arrived first.
        {0, {{L"a", 1, at(20)}, {L"b", 5, at(10)}}, {}, kSettle, nullptr},
        // a grows: its rest starts again; b rests on.
        {600, {{L"a", 2, at(30)}, {L"b", 5, at(10)}}, {}, 400, nullptr},
        {1000, {{L"a", 2, at(30)}, {L"b", 5, at(10)}}, {L"b"}, 600, L"b"},
        // Only its last write changed: not rested.
        {1500, {{L"a", 2, at(40)}}, {}, kSettle, nullptr},
        // Rested, but it could not be taken (held open): looked at again
        // after another settle time, and still first in line.
        {2500, {{L"a", 2, at(40)}, {L"c", 1, at(50)}}, {L"a"}, kSettle, nullptr},
        {3500, {{L"a", 2, at(40)}, {L"c", 1, at(50)}}, {L"a", L"c"}, kSettle, L"a"},
        // Gone from the folder: forgotten, nothing waits.
        {3600, {}, {}, INFINITE, nullptr},
        // A file of the same name later is new again.
        {4000, {{L"c", 1, at(50)}}, {}, kSettle, nullptr},
    };
    CSettleTracker tracker;
    for (const Step& step : steps) {
        SCOPED_TRACE("at " + std::to_string(step.now));
        EXPECT_EQ(tracker.Look(step.listing, step.now, kSettle), step.ready);
        if (step.taken)
            tracker.Taken(step.taken);
        EXPECT_EQ(tracker.NextDue(step.now, kSettle), step.due);
    }
}

// The start: jobs whose file is recorded as done are dropped; the files of
// "Queued" that no job names and no record holds are queued. Paths compare
// without regard to case or to the long-path prefix.
TEST(WatchedFolderStart, PlansWhatEachCrashLeft) {
    const std::wstring q = L"C:\\hot\\Queued\\";
    const std::wstring longName(300, L'x');
    const struct {
        std::vector<std::wstring> jobs, queued, done;
        std::vector<std::wstring> toQueue;
        std::vector<size_t> drop;
    } rows[] = {
        // Moved into "Queued", no job stored yet: queued once.
        {{}, {q + L"a.prn"}, {}, {q + L"a.prn"}, {}},
        // Stored: nothing new.
        {{q + L"A.PRN"}, {q + L"a.prn"}, {}, {}, {}},
        // Recorded as done, the job not yet deleted: dropped.
        {{q + L"a.prn", q + L"b.prn"}, {q + L"a.prn", q + L"b.prn"}, {q + L"a.prn"}, {}, {0}},
        // Recorded, the job deleted: the file is not queued again.
        {{}, {q + L"a.prn"}, {q + L"a.prn"}, {}, {}},
        // Moved to "Printed", the record not yet forgotten: nothing.
        {{}, {}, {q + L"a.prn"}, {}, {}},
        // A long path stored with the prefix is the same file.
        {{L"\\\\?\\" + q + longName}, {q + longName}, {}, {}, {}},
    };
    int nRow = 0;
    for (const auto& row : rows) {
        const auto plan =
            WatchedFolder::PlanStart(row.jobs, row.queued, [&](const std::wstring& p) {
                for (const std::wstring& d : row.done) {
                    if (WatchedFolder::SamePath(d, p))
                        return true;
                }
                return false;
            });
        EXPECT_EQ(plan.toQueue, row.toQueue) << "row " << nRow;
        EXPECT_EQ(plan.jobsToDrop, row.drop) << "row " << nRow;
        ++nRow;
    }
}

class MemoryJournal : public IDoneJournal {
public:
    explicit MemoryJournal(std::vector<BYTE>* pData) : m_pData(pData) {}
    bool Load(std::vector<BYTE>& data) override {
        data = *m_pData;
        return true;
    }
    bool Save(const std::vector<BYTE>& data) override {
        *m_pData = data;
        return true;
    }

private:
    std::vector<BYTE>* m_pData;
};

class DoneFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = ToWide(TempPath("morvane-done"));
        Clean();
        CreateDirectoryW(m_dir.c_str(), nullptr);
        CreateDirectoryW(Queued().c_str(), nullptr);
    }
    void TearDown() override { Clean(); }
    void Clean() {
        for (const std::wstring& sub : {Queued(), Printed()}) {
            for (const std::wstring& f : WatchedFolder::FilesOf(sub)) {
                SetFileAttributesW(f.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(f.c_str());
            }
            RemoveDirectoryW(sub.c_str());
        }
        RemoveDirectoryW(m_dir.c_str());
    }
    std::wstring Queued() const { return m_dir + L"\\Queued"; }
    std::wstring Printed() const { return m_dir + L"\\Printed"; }
    std::unique_ptr<CDoneFiles> Restart() {
        auto done =
            std::make_unique<CDoneFiles>(std::make_unique<MemoryJournal>(&m_journal), nullptr);
        done->Load();
        return done;
    }

    std::wstring m_dir;
    std::vector<BYTE> m_journal;
};

// The way from the last copy to "Printed", cut after every step: whatever
// the cut leaves, the next start prints nothing again and the file ends in
// "Printed" once.
TEST_F(DoneFilesTest, ACutAfterAnyStepNeitherReprintsNorLosesTheFile) {
    for (int cut = 0; cut <= 3; ++cut) {
        SCOPED_TRACE("cut after step " + std::to_string(cut));
        m_journal.clear();
        const std::wstring file = Queued() + L"\\job.prn";
        ASSERT_TRUE(WriteFileBytes(ToUtf8(file), "job"));
        std::vector<std::wstring> jobs = {file};
        {
            std::unique_ptr<CDoneFiles> done = Restart();
            if (cut >= 1) { // 1: recorded
                ASSERT_TRUE(done->Finish(file, Printed()));
            }
            if (cut >= 2) // 2: the job's record deleted
                jobs.clear();
            if (cut >= 3) { // 3: moved, the record still there
                ASSERT_FALSE(WatchedFolder::MoveUnique(file, Printed()).empty());
            }
        } // the process ends here

        std::unique_ptr<CDoneFiles> done = Restart();
        const auto plan =
            WatchedFolder::PlanStart(jobs, WatchedFolder::FilesOf(Queued()),
                                     [&](const std::wstring& p) { return done->IsTaken(p); });
        done->Settle();
        const size_t printedAgain = plan.toQueue.size() + jobs.size() - plan.jobsToDrop.size();
        if (cut == 0) {
            // Before the record: the job is still there, to be printed.
            EXPECT_EQ(printedAgain, 1u);
            EXPECT_EQ(WatchedFolder::FilesOf(Printed()).size(), 0u);
            DeleteFileW(file.c_str());
            continue;
        }
        EXPECT_EQ(printedAgain, 0u);
        EXPECT_EQ(WatchedFolder::FilesOf(Queued()).size(), 0u);
        EXPECT_EQ(WatchedFolder::FilesOf(Printed()),
                  (std::vector<std::wstring>{Printed() + L"\\job.prn"}));
        EXPECT_EQ(done->StuckCount(), 0u);
        EXPECT_TRUE(m_journal.empty());
        DeleteFileW((Printed() + L"\\job.prn").c_str());
    }
}

TEST(DoneFilesJournal, IsReadBackWholeOrNotAtAll) {
    const std::vector<DoneFile> files = {{L"C:\\q\\a.prn", L"C:\\q\\Printed", false},
                                         {L"C:\\q\\b.prn", L"", true}};
    const std::vector<BYTE> bytes = CDoneFiles::Encode(files);
    std::vector<DoneFile> back;
    ASSERT_TRUE(CDoneFiles::Decode(bytes.data(), bytes.size(), back));
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].path, L"C:\\q\\b.prn");
    EXPECT_TRUE(back[1].bTold);
    for (size_t cb = 0; cb < bytes.size(); ++cb)
        EXPECT_FALSE(CDoneFiles::Decode(bytes.data(), cb, back)) << cb;
    std::vector<BYTE> huge = bytes;
    huge[4] = huge[5] = huge[6] = 0xFF;
    EXPECT_FALSE(CDoneFiles::Decode(huge.data(), huge.size(), back));
    EXPECT_TRUE(back.empty());
}

// A path of more than MAX_PATH characters: checked, moved and listed in
// the form that reaches it, and matched against its stored form.
TEST(IntakeLongPaths, ALongPathIsCheckedMovedAndMatched) {
    const std::wstring root = ToWide(TempPath("morvane-long"));
    const std::wstring deep =
        root + L"\\" + std::wstring(120, L'd') + L"\\" + std::wstring(120, L'e');
    const std::wstring queued = deep + L"\\Queued";
    for (const std::wstring& d : {root, root + L"\\" + std::wstring(120, L'd'), deep})
        CreateDirectoryW(PathCheck::Reachable(d).c_str(), nullptr);
    const std::wstring file = deep + L"\\label.zpl";
    ASSERT_GT(file.size(), static_cast<size_t>(MAX_PATH));
    HANDLE h = CreateFileW(PathCheck::Reachable(file).c_str(), GENERIC_WRITE, 0, nullptr,
                           CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);

    const PathCheck::Result checked = PathCheck::Check(file);
    EXPECT_EQ(checked.verdict, PathCheck::Verdict::Ok);
    EXPECT_EQ(std::string(checked.strPath.GetString()).rfind("\\\\?\\", 0), 0u);

    const std::wstring moved = WatchedFolder::MoveUnique(file, queued);
    ASSERT_EQ(moved, queued + L"\\label.zpl");
    const std::vector<std::wstring> listed = WatchedFolder::FilesOf(queued);
    ASSERT_EQ(listed.size(), 1u);
    const std::wstring stored = L"\\\\?\\" + moved;
    EXPECT_TRUE(WatchedFolder::PlanStart({stored}, listed, nullptr).toQueue.empty());
    EXPECT_TRUE(WatchedFolder::IsIn(stored, queued));
    EXPECT_EQ(PathCheck::Check(deep).verdict, PathCheck::Verdict::Folder);
    EXPECT_EQ(PathCheck::Check(deep + L"\\none.prn").verdict, PathCheck::Verdict::Missing);

    DeleteFileW(PathCheck::Reachable(moved).c_str());
    for (const std::wstring& d : {queued, deep, root + L"\\" + std::wstring(120, L'd'), root})
        RemoveDirectoryW(PathCheck::Reachable(d).c_str());
}

// A burst larger than a window's message queue takes: the files wait in
// the watcher's own queue, in order, behind one message.
TEST(WatchedFolderHandOver, ABurstWaitsBehindOneMessage) {
    HWND hWnd =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(hWnd, nullptr);
    std::vector<BYTE> journal;
    {
        CFolderWatcher watcher(hWnd, std::make_unique<MemoryJournal>(&journal));
        const int kFiles = 12000; // past the 10,000 messages a queue holds
        for (int i = 0; i < kFiles; ++i)
            watcher.Deliver(L"C:\\hot\\Queued\\f" + std::to_wstring(i) + L".prn");
        auto posted = [&] {
            int n = 0;
            MSG msg;
            while (PeekMessageW(&msg, hWnd, CFolderWatcher::kMsgFile, CFolderWatcher::kMsgFile,
                                PM_REMOVE))
                ++n;
            return n;
        };
        EXPECT_EQ(posted(), 1);
        const std::vector<std::wstring> files = watcher.TakeArrived();
        ASSERT_EQ(files.size(), static_cast<size_t>(kFiles));
        for (int i = 0; i < kFiles; i += 997)
            EXPECT_EQ(files[i], L"C:\\hot\\Queued\\f" + std::to_wstring(i) + L".prn");
        EXPECT_TRUE(watcher.TakeArrived().empty());
        watcher.Deliver(L"C:\\hot\\Queued\\late.prn");
        EXPECT_EQ(posted(), 1);
    }
    DestroyWindow(hWnd);
}

} // namespace
