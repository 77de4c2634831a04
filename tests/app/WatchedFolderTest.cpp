// The watched folder, end to end: Morvane.exe runs on a display with a
// folder to watch, the test writes files into it as another program would
// and reads the queue's store and the folder's subfolders. Needs DISPLAY.
#include "ProgramUnderTest.h"
#include "intake/WatchedFolder.h"
#include "queue/JobList.h"
#include "settings/SpoolerSetup.h"
#include "support/RegistryFixture.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <set>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace program_under_test;

const int IDC_START_STOP = 1008;
const int IDM_WATCHED_FOLDER = 2032;
const DWORD kSettleMs = 400;
const DWORD kPollMs = 50;

struct Job {
    std::wstring path;
    int copies;
};

// The queue as the store holds it now (read only while the program owns it).
std::vector<Job> StoredJobs() {
    CJobList list;
    std::vector<Job> jobs;
    for (int i = 0; i < list.GetCount(); ++i) {
        CQueuedJob* j = list.GetAt(i);
        jobs.push_back({WatchedFolder::FromAnsi(j->GetPath()), j->m_nCopies});
    }
    return jobs;
}

std::vector<std::wstring> Names(const std::wstring& folder) {
    std::vector<std::wstring> names;
    for (const std::wstring& f : WatchedFolder::FilesOf(folder))
        names.push_back(f.substr(f.find_last_of(L'\\') + 1));
    return names;
}

std::string Read(const std::wstring& path) {
    return ReadFileBytes(ToUtf8(path));
}

void Put(const std::wstring& path, const std::string& bytes) {
    ASSERT_TRUE(WriteFileBytes(ToUtf8(path), bytes));
}

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring n = fd.cFileName;
            if (n == L"." || n == L"..")
                continue;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(dir + L"\\" + n);
            else
                DeleteFileW((dir + L"\\" + n).c_str());
        } while (FindNextFileW(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryW(dir.c_str());
}

// A watched folder with Morvane watching it (null printer).
class WatchedFolderTest : public RegistryTest {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "DISPLAY must name a display";
        CSpoolerSetup setup;
        setup.m_nSpoolerType = SPOOLER_NULL;
        setup.Save();
        m_dir = ToWide(TempPath("morvane-watched"));
        RemoveTree(m_dir);
        ASSERT_TRUE(CreateDirectoryW(m_dir.c_str(), nullptr));
        m_queued = m_dir + L"\\Queued";
        m_printed = m_dir + L"\\Printed";
        Configure(false);
    }
    void TearDown() override {
        Stop();
        RemoveTree(m_dir);
    }
    void Configure(bool bDelete, int copies = 1) {
        CWatchedFolderSetup watch;
        watch.m_bEnabled = true;
        watch.m_strFolder = m_dir;
        watch.m_nCopies = copies;
        watch.m_bDeleteWhenDone = bDelete;
        ASSERT_TRUE(watch.Save());
        const DWORD settle = kSettleMs;
        SetRawValue("WatchedFolder", "SettleMs", REG_DWORD, &settle, sizeof(settle));
    }
    void StartProgram() {
        const std::wstring exe = ToWide(ProgramPath());
        std::wstring cmd = L"\"" + exe + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        ASSERT_TRUE(CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &si, &m_pi));
        ASSERT_TRUE(WaitFor([&] { return (m_hWnd = MainWindow()) != nullptr; }, 30000, kPollMs))
            << "the program's window did not appear";
    }
    HWND MainWindow() const {
        HWND h = nullptr;
        while ((h = FindWindowExA(nullptr, h, "#32770", nullptr)) != nullptr) {
            char title[256] = "";
            GetWindowTextA(h, title, sizeof(title));
            DWORD pid = 0;
            GetWindowThreadProcessId(h, &pid);
            if (pid == m_pi.dwProcessId && std::string(title).rfind("Tolvar Morvane - ", 0) == 0)
                return h;
        }
        return nullptr;
    }
    std::string Caption() const {
        char title[256] = "";
        GetWindowTextA(m_hWnd, title, sizeof(title));
        return title;
    }
    void Stop() {
        if (!m_pi.hProcess)
            return;
        if (IsWindow(m_hWnd))
            PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(m_hWnd, IDOK)));
        if (WaitForSingleObject(m_pi.hProcess, 30000) != WAIT_OBJECT_0)
            TerminateProcess(m_pi.hProcess, 99);
        CloseHandle(m_pi.hProcess);
        CloseHandle(m_pi.hThread);
        m_pi = {};
    }
    void PressStart() {
        PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_START_STOP, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(m_hWnd, IDC_START_STOP)));
    }
    bool WaitJobs(size_t n, DWORD ms = 20000) {
        return WaitFor([&] { return StoredJobs().size() == n; }, ms, 200);
    }
    std::wstring In(const std::wstring& name) const { return m_dir + L"\\" + name; }
    // "Watched Folder..." opened and closed with OK, settings unchanged.
    void PressOkInTheDialog() {
        PostMessageA(m_hWnd, WM_SYSCOMMAND, IDM_WATCHED_FOLDER, 0);
        HWND dlg = nullptr;
        ASSERT_TRUE(WaitFor(
            [&] {
                dlg = FindWindowA("#32770", "Watched Folder");
                return dlg != nullptr && IsWindowVisible(dlg);
            },
            10000, 5));
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(dlg); }, 10000, 5));
    }

    std::wstring m_dir, m_queued, m_printed;
    PROCESS_INFORMATION m_pi{};
    HWND m_hWnd = nullptr;
};

// A writer that takes longer than the settle time in all: the file is
// queued once, whole, only after the last piece.
TEST_F(WatchedFolderTest, AFileIsQueuedOnceAfterItsLastPiece) {
    struct Row {
        const char* what;
        std::wstring name;
        int pieces;
        bool bKeepOpen; // one handle for every piece, held after the last
    };
    const std::vector<Row> rows = {
        {"pieces appended, the file closed between them", L"slow.prn", 6, false},
        {"one open handle, held past the settle time", L"held.prn", 4, true},
        {"an empty file", L"empty.prn", 0, false},
    };
    StartProgram();
    size_t queued = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::wstring path = In(row.name);
        // The writer lets others read and even rename the file: only the
        // share mode that denies writers sees that it still writes.
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                               nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        if (!row.bKeepOpen)
            CloseHandle(h);
        std::string whole;
        for (int i = 0; i < row.pieces; ++i) {
            Sleep(kSettleMs / 2);
            const std::string piece = "piece " + std::to_string(i) + ";";
            whole += piece;
            HANDLE hw = row.bKeepOpen ? h
                                      : CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                                    nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(hw, INVALID_HANDLE_VALUE);
            DWORD written = 0;
            WriteFile(hw, piece.data(), static_cast<DWORD>(piece.size()), &written, nullptr);
            if (!row.bKeepOpen)
                CloseHandle(hw);
            EXPECT_EQ(StoredJobs().size(), queued) << "queued before piece " << i + 1;
        }
        if (row.bKeepOpen) {
            Sleep(kSettleMs * 3);
            EXPECT_EQ(StoredJobs().size(), queued) << "queued while its writer held it open";
            CloseHandle(h);
        }
        ASSERT_TRUE(WaitJobs(++queued)) << "not queued";
        const std::vector<Job> jobs = StoredJobs();
        EXPECT_EQ(jobs.back().path, m_queued + L"\\" + row.name);
        EXPECT_EQ(Read(jobs.back().path), whole);
        EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    }
    Sleep(kSettleMs * 3);
    EXPECT_EQ(StoredJobs().size(), rows.size()) << "a file was queued twice";
}

// Files dropped at once are each queued once, in the order they arrived;
// a sub-folder and its files, and hidden system files, are left alone.
TEST_F(WatchedFolderTest, ManyFilesDroppedAtOnceAreQueuedOnceInArrivalOrder) {
    const int kFiles = 200;
    Configure(false, 3);
    StartProgram();
    const std::wstring sub = In(L"sub");
    ASSERT_TRUE(CreateDirectoryW(sub.c_str(), nullptr));
    Put(sub + L"\\inside.prn", "not for the queue");
    // The shell's own hidden system file is no print job either.
    Put(In(L"desktop.ini"), "[.ShellClassInfo]");
    ASSERT_TRUE(SetFileAttributesW(In(L"desktop.ini").c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    // Names whose sorted order is not the order they are written in.
    std::vector<std::wstring> names;
    for (int i = 0; i < kFiles; ++i)
        names.push_back(std::to_wstring((i * 7919) % 100003) + L".prn");
    for (const std::wstring& n : names)
        Put(In(n), "x");
    ASSERT_TRUE(WaitJobs(kFiles, 180000)) << StoredJobs().size() << " of " << kFiles << " queued";
    const std::vector<Job> jobs = StoredJobs();
    for (int i = 0; i < kFiles; ++i) {
        ASSERT_EQ(jobs[i].path, m_queued + L"\\" + names[i]) << "at " << i;
        EXPECT_EQ(jobs[i].copies, 3);
    }
    EXPECT_EQ(Names(m_queued).size(), static_cast<size_t>(kFiles));
    EXPECT_EQ(Names(sub), std::vector<std::wstring>{L"inside.prn"});
    // Nothing left to queue, and the shell's file stayed where it was.
    EXPECT_TRUE(Names(m_dir).empty());
    EXPECT_NE(GetFileAttributesW(In(L"desktop.ini").c_str()), INVALID_FILE_ATTRIBUTES);
}

// OK in "Watched Folder..." while a burst is being queued: the watch
// starts again and looks at "Queued", and no file is queued twice.
TEST_F(WatchedFolderTest, OkWhileABurstIsQueuedQueuesEachFileOnce) {
    const size_t kFiles = 300;
    StartProgram();
    for (size_t i = 0; i < kFiles; ++i)
        Put(In(L"b" + std::to_wstring(i) + L".prn"), "b");
    ASSERT_TRUE(WaitFor([&] { return !StoredJobs().empty(); }, 20000, 20));
    PressOkInTheDialog();
    PressOkInTheDialog();
    ASSERT_TRUE(WaitFor([&] { return StoredJobs().size() >= kFiles; }, 60000, 200))
        << StoredJobs().size();
    Sleep(kSettleMs * 3);
    std::set<std::wstring> paths;
    for (const Job& j : StoredJobs())
        paths.insert(j.path);
    EXPECT_EQ(StoredJobs().size(), kFiles);
    EXPECT_EQ(paths.size(), kFiles);
}

// After its last copy the file goes to "Printed" or is deleted; a name
// taken there, or in "Queued", gets a numbered suffix.
TEST_F(WatchedFolderTest, ADoneFileIsMovedOrDeletedAndClashesGetASuffix) {
    struct Row {
        const char* what;
        bool bDelete;
        std::vector<std::wstring> printedAfter;
    };
    const std::vector<Row> rows = {
        {"moved to Printed, beside an older a.prn",
         false,
         {L"a (2) (2).prn", L"a (2).prn", L"a.prn"}},
        {"deleted, the older a.prn left alone", true, {L"a.prn"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RemoveTree(m_queued);
        RemoveTree(m_printed);
        ASSERT_TRUE(CreateDirectoryW(m_printed.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(m_queued.c_str(), nullptr));
        Put(m_printed + L"\\a.prn", "printed before");
        // Left by a crash after its move: queued at start, and its name
        // is taken in "Queued" when the new a.prn comes.
        Put(m_queued + L"\\a.prn", "queued before");
        Configure(row.bDelete);
        StartProgram();
        ASSERT_TRUE(WaitJobs(1)) << "the file in Queued was not queued";
        Put(In(L"a.prn"), "the new one");
        ASSERT_TRUE(WaitJobs(2));
        EXPECT_EQ(StoredJobs().back().path, m_queued + L"\\a (2).prn");
        EXPECT_EQ(Read(m_queued + L"\\a (2).prn"), "the new one");
        EXPECT_EQ(Read(m_queued + L"\\a.prn"), "queued before");
        PressStart();
        ASSERT_TRUE(WaitJobs(0)) << "the jobs were not sent";
        ASSERT_TRUE(WaitFor([&] { return Names(m_queued).empty(); }, 5000, kPollMs));
        EXPECT_EQ(Read(m_printed + L"\\a.prn"), "printed before");
        std::vector<std::wstring> printed = Names(m_printed);
        std::sort(printed.begin(), printed.end());
        EXPECT_EQ(printed, row.printedAfter);
        Stop();
    }
}

// A file that cannot go when its job is done (read-only, "delete when
// done") is not queued again at the next start; the caption says so until
// it can go, at the next change in the folder.
TEST_F(WatchedFolderTest, ADoneFileThatCannotGoIsNotQueuedAgain) {
    Configure(true);
    StartProgram();
    Put(In(L"ro.prn"), "r");
    ASSERT_TRUE(SetFileAttributesW(In(L"ro.prn").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WaitJobs(1));
    PressStart();
    ASSERT_TRUE(WaitJobs(0)) << "the job was not sent";
    EXPECT_TRUE(WaitFor([&] { return Caption().find("could not be moved") != std::string::npos; },
                        10000, kPollMs))
        << Caption();
    Stop();
    EXPECT_EQ(Names(m_queued), std::vector<std::wstring>{L"ro.prn"});

    StartProgram();
    EXPECT_TRUE(WaitFor([&] { return Caption().find("could not be moved") != std::string::npos; },
                        10000, kPollMs))
        << Caption();
    Sleep(kSettleMs * 3);
    EXPECT_EQ(StoredJobs().size(), 0u) << "queued again";
    ASSERT_TRUE(SetFileAttributesW((m_queued + L"\\ro.prn").c_str(), FILE_ATTRIBUTE_NORMAL));
    Put(In(L"next.prn"), "n");
    EXPECT_TRUE(WaitFor([&] { return Names(m_queued) == std::vector<std::wstring>{L"next.prn"}; },
                        10000, kPollMs));
    EXPECT_TRUE(WaitFor([&] { return Caption() == "Tolvar Morvane - Null"; }, 10000, kPollMs))
        << Caption();
}

// At start every file that waits is queued once: one that arrived while
// the program was not running, and one left in "Queued" with no job; one
// whose job is stored is not queued again, also at the next start.
TEST_F(WatchedFolderTest, WaitingFilesAreQueuedOnceAtStart) {
    ASSERT_TRUE(CreateDirectoryW(m_queued.c_str(), nullptr));
    Put(m_queued + L"\\stored.prn", "s");
    Put(m_queued + L"\\orphan.prn", "o");
    Put(In(L"arrived.prn"), "a");
    {
        CJobList list;
        CString path;
        path = ToUtf8(m_queued + L"\\stored.prn").c_str();
        list.Add(CQueuedJob("stored.prn", path, 2));
    }
    Configure(false, 3);
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start == 0 ? "first start" : "second start");
        StartProgram();
        ASSERT_TRUE(WaitJobs(3));
        Sleep(kSettleMs * 3);
        std::vector<std::wstring> paths;
        std::vector<int> copies;
        for (const Job& j : StoredJobs()) {
            paths.push_back(j.path);
            copies.push_back(j.copies);
        }
        // The folder's copies, for the file left in "Queued" too.
        EXPECT_EQ(copies, (std::vector<int>{2, 3, 3}));
        const std::vector<std::wstring> expected = {
            m_queued + L"\\stored.prn", m_queued + L"\\orphan.prn", m_queued + L"\\arrived.prn"};
        EXPECT_EQ(paths, expected);
        Stop();
    }
}

// A folder that goes away is reported in the caption, never as a job, and
// watched again when it is back: what arrived meanwhile is queued.
TEST_F(WatchedFolderTest, AFolderThatGoesAwayIsReportedAndWatchedAgain) {
    StartProgram();
    const std::wstring away = m_dir + L"-away";
    RemoveTree(away);
    // The program may have the folder open for a look just then (Wine's
    // listing of a folder does not share it for a rename): tried again.
    ASSERT_TRUE(
        WaitFor([&] { return MoveFileW(m_dir.c_str(), away.c_str()) != FALSE; }, 5000, kPollMs));
    EXPECT_TRUE(
        WaitFor([&] { return Caption().find("unreachable") != std::string::npos; }, 10000, kPollMs))
        << Caption();
    Put(away + L"\\meanwhile.prn", "m");
    EXPECT_EQ(StoredJobs().size(), 0u);
    ASSERT_TRUE(
        WaitFor([&] { return MoveFileW(away.c_str(), m_dir.c_str()) != FALSE; }, 5000, kPollMs));
    EXPECT_TRUE(WaitFor([&] { return Caption() == "Tolvar Morvane - Null"; }, 10000, kPollMs))
        << Caption();
    ASSERT_TRUE(WaitJobs(1));
    EXPECT_EQ(StoredJobs()[0].path, m_queued + L"\\meanwhile.prn");
}

// The start's scan of "Queued" and the live scan share one filter: the
// hidden and system files the shell keeps there are never print jobs.
TEST(WatchedFolderScan, HiddenAndSystemFilesAreNoJobs) {
    const std::wstring dir = ToWide(TempPath("morvane-scan"));
    RemoveTree(dir);
    ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((dir + L"\\sub").c_str(), nullptr));
    const struct {
        const wchar_t* name;
        DWORD attributes;
    } files[] = {{L"job.prn", FILE_ATTRIBUTE_NORMAL},
                 {L"desktop.ini", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
                 {L"thumbs.db", FILE_ATTRIBUTE_HIDDEN},
                 {L"system.dat", FILE_ATTRIBUTE_SYSTEM}};
    for (const auto& f : files) {
        const std::wstring path = dir + L"\\" + f.name;
        Put(path, "x");
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), f.attributes));
        const DWORD shell = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        ASSERT_EQ(GetFileAttributesW(path.c_str()) & shell, f.attributes & shell) << ToUtf8(path);
    }
    EXPECT_EQ(Names(dir), (std::vector<std::wstring>{L"job.prn"}));
    RemoveTree(dir);
}

TEST(WatchedFolderSetupTest, IsOffByDefault) {
    DeleteProgramKey();
    CWatchedFolderSetup setup;
    setup.Load();
    EXPECT_FALSE(setup.m_bEnabled);
    EXPECT_EQ(setup.m_nCopies, 1);
    EXPECT_FALSE(setup.m_bDeleteWhenDone);
}

// The system menu's "Watched Folder..." stores what OK accepts; a wrong
// field keeps the dialog open with a message and stores nothing.
TEST_F(WatchedFolderTest, TheDialogStoresWhatItAccepts) {
    const int IDC_WF_ENABLE = 1111, IDC_WF_FOLDER = 1112, IDC_WF_COPIES = 1114,
              IDC_WF_DELETE = 1116;
    const std::wstring other = m_dir + L"\\other";
    ASSERT_TRUE(CreateDirectoryW(other.c_str(), nullptr));
    struct Row {
        const char* what;
        bool bEnable;
        std::wstring folder;
        const char* copies;
        bool bAccepted;
        std::wstring stored; // empty: as typed
    };
    // The same folder typed another way is kept in one form; a name the
    // code page cannot hold is refused rather than kept with "?".
    std::wstring typed = other + L"\\";
    std::replace(typed.begin(), typed.end(), L'\\', L'/');
    const std::wstring odd = m_dir + L"\\odd \u4E2D";
    ASSERT_TRUE(CreateDirectoryW(odd.c_str(), nullptr));
    std::vector<Row> rows = {
        {"another folder, 5 copies, delete when done", true, other, "5", true, L""},
        {"the same folder typed another way", true, typed, "4", true, other},
        {"copies out of range", true, other, "0", false, L""},
        {"a folder that does not exist", true, other + L"\\missing", "2", false, L""},
        {"off, the folder kept as typed", false, other + L"\\missing", "2", true, L""},
    };
    if (GetACP() != CP_UTF8)
        rows.insert(rows.end() - 1, {"a name outside the code page", true, odd, "2", false, L""});
    StartProgram();
    const DWORD pid = m_pi.dwProcessId;
    auto find = [pid](const char* title) {
        HWND h = nullptr;
        while ((h = FindWindowExA(nullptr, h, "#32770", title)) != nullptr) {
            DWORD p = 0;
            GetWindowThreadProcessId(h, &p);
            if (p == pid && IsWindowVisible(h))
                return h;
        }
        return static_cast<HWND>(nullptr);
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Configure(false);
        PostMessageA(m_hWnd, WM_SYSCOMMAND, IDM_WATCHED_FOLDER, 0);
        HWND dlg = nullptr;
        ASSERT_TRUE(
            WaitFor([&] { return (dlg = find("Watched Folder")) != nullptr; }, 10000, kPollMs));
        EXPECT_EQ(SendMessageW(GetDlgItem(dlg, IDC_WF_ENABLE), BM_GETCHECK, 0, 0), BST_CHECKED);
        SendMessageW(GetDlgItem(dlg, IDC_WF_ENABLE), BM_SETCHECK,
                     row.bEnable ? BST_CHECKED : BST_UNCHECKED, 0);
        SendMessageW(GetDlgItem(dlg, IDC_WF_FOLDER), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(row.folder.c_str()));
        SendMessageA(GetDlgItem(dlg, IDC_WF_COPIES), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(row.copies));
        SendMessageW(GetDlgItem(dlg, IDC_WF_DELETE), BM_CLICK, 0, 0);
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dlg, IDOK)));
        if (!row.bAccepted) {
            HWND box = nullptr;
            ASSERT_TRUE(WaitFor(
                [&] { return (box = FindWindowA("#32770", "Watched Folder")) != dlg && box; },
                10000, kPollMs))
                << "no message";
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }, 10000, kPollMs));
            EXPECT_TRUE(IsWindow(dlg)) << "the dialog closed on a wrong field";
            PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(dlg); }, 10000, kPollMs));
        CWatchedFolderSetup stored;
        stored.Load();
        if (row.bAccepted) {
            EXPECT_EQ(stored.m_bEnabled, row.bEnable);
            EXPECT_EQ(stored.m_strFolder, row.stored.empty() ? row.folder : row.stored);
            EXPECT_EQ(stored.m_nCopies, atoi(row.copies));
            EXPECT_TRUE(stored.m_bDeleteWhenDone);
        } else {
            EXPECT_EQ(stored.m_strFolder, m_dir);
            EXPECT_FALSE(stored.m_bDeleteWhenDone);
        }
    }
    // The last row turned watching off: a new file stays where it is.
    Put(In(L"left.prn"), "l");
    Sleep(kSettleMs * 3);
    EXPECT_EQ(StoredJobs().size(), 0u);
    EXPECT_EQ(Names(m_dir), std::vector<std::wstring>{L"left.prn"});
}

} // namespace
