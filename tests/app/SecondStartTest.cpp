// Morvane.exe started while it already runs: the second process hands its
// command line to the window of the first and ends; the first queues the
// files. The fixture runs the first program on a display (null printer
// unless a test chooses another) and starts second processes with
// arguments, as another program would. Needs DISPLAY (and, for the test
// that prints, the services of scripts/services.sh).
#include "ProgramUnderTest.h"
#include "queue/JobList.h"
#include "settings/SpoolerSetup.h"
#include "support/RandomBytes.h"
#include "support/RegistryFixture.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace program_under_test;

const int IDC_JOB_LIST = 1005;
const int IDC_START_STOP = 1008;
const int IDC_COPIES = 1010;
const DWORD kPollMs = 20;
// A second start that finds the window ends this quickly.
const DWORD kSecondStartMs = 1000;

// One started program.
struct Process {
    PROCESS_INFORMATION pi{};
    ~Process() {
        if (pi.hProcess) {
            if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(pi.hProcess, 99);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
    // The exit code, or -1 when it did not end in time.
    int Wait(DWORD ms) {
        if (WaitForSingleObject(pi.hProcess, ms) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        return static_cast<int>(code);
    }
};

bool Start(Process& p, const std::vector<std::wstring>& args, const std::wstring& cwd = L"") {
    const std::wstring exe = ToWide(ProgramPath());
    std::wstring cmd = L"\"" + exe + L"\"";
    for (const std::wstring& a : args)
        cmd += L" \"" + a + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    return CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          cwd.empty() ? nullptr : cwd.c_str(), &si, &p.pi) != 0;
}

using Job = std::tuple<std::string, std::string, int>; // name, path, copies

// The program's ANSI text as UTF-8, as the test writes names.
std::string Utf8(const char* ansi) {
    std::wstring w;
    NarrowToWide(ansi, -1, CP_ACP, w);
    return ToUtf8(w);
}

// The queue as the store holds it now; the list made here only reads it
// while the program owns it.
std::vector<Job> StoredJobs() {
    CJobList list;
    std::vector<Job> jobs;
    for (int i = 0; i < list.GetCount(); ++i) {
        CQueuedJob* j = list.GetAt(i);
        jobs.emplace_back(Utf8(j->GetName()), Utf8(j->GetPath()), j->m_nCopies);
    }
    return jobs;
}

std::wstring W(const std::string& s) {
    return ToWide(s);
}

class SecondStartTest : public RegistryTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(Env("DISPLAY").empty()) << "DISPLAY must name a display";
        CSpoolerSetup setup;
        setup.m_nSpoolerType = SPOOLER_NULL;
        setup.Save();
        m_dir = TempPath("morvane-second");
        CreateDirectoryW(W(m_dir).c_str(), nullptr);
    }
    void TearDown() override {
        m_first.reset();
        for (const std::string& f : m_files)
            DeleteFileW(W(f).c_str());
        RemoveDirectoryW(W(m_dir).c_str());
    }
    // A file in the test's folder with some bytes in it.
    std::string File(const std::string& name) {
        const std::string path = m_dir + "\\" + name;
        EXPECT_TRUE(WriteFileBytes(path, "data of " + name));
        m_files.push_back(path);
        return path;
    }
    // The first program, with its window shown.
    void StartFirst(const std::vector<std::wstring>& args = {}) {
        m_first = std::make_unique<Process>();
        ASSERT_TRUE(Start(*m_first, args));
        ASSERT_TRUE(WaitFor([&] { return (m_hWnd = MainWindow()) != nullptr; }, 30000, kPollMs))
            << "the program's window did not appear";
    }
    HWND MainWindow() const { return FindWindowA("#32770", m_caption.c_str()); }
    // The message box the program shows, its text, and OK pressed on it.
    std::string TakeMessage() {
        HWND box = nullptr;
        if (!WaitFor([&] { return (box = FindWindowA("#32770", "Tolvar Morvane")) != nullptr; },
                     10000, kPollMs))
            return "<no message>";
        const std::string text = Text(GetDlgItem(box, 0xFFFF));
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        WaitFor([&] { return !IsWindow(box); }, 10000, kPollMs);
        return text;
    }
    int RowCount() {
        DWORD_PTR n = 0;
        SendMessageTimeoutA(GetDlgItem(m_hWnd, IDC_JOB_LIST), LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG,
                            2000, &n);
        return static_cast<int>(n);
    }
    std::string Text(HWND h) {
        char buf[512] = "";
        DWORD_PTR r = 0;
        SendMessageTimeoutA(h, WM_GETTEXT, sizeof(buf), reinterpret_cast<LPARAM>(buf),
                            SMTO_ABORTIFHUNG, 2000, &r);
        return buf;
    }
    // Starts a second program and waits for its exit code.
    int Second(const std::vector<std::wstring>& args, DWORD ms = 15000,
               const std::wstring& cwd = L"") {
        Process p;
        if (!Start(p, args, cwd))
            return -2;
        return p.Wait(ms);
    }
    void CloseFirst() {
        PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(m_hWnd, IDOK)));
        EXPECT_EQ(m_first->Wait(30000), 0);
    }

    std::string m_dir;
    std::vector<std::string> m_files;
    std::unique_ptr<Process> m_first;
    HWND m_hWnd = nullptr;
    std::string m_caption = "Tolvar Morvane - Null";
};

// A window of the test's own that has the foreground while the second
// start runs.
struct OtherWindow {
    HWND h = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                             nullptr, nullptr, nullptr, nullptr);
    ~OtherWindow() { DestroyWindow(h); }
};

void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

TEST_F(SecondStartTest, ASecondStartEndsAtOnceAndBringsTheFirstWindowForward) {
    StartFirst();
    OtherWindow other;
    SetForegroundWindow(other.h);
    ASSERT_TRUE(WaitFor(
        [&] {
            Pump();
            return GetForegroundWindow() == other.h;
        },
        5000, kPollMs));

    const ULONGLONG t0 = GetTickCount64();
    Process second;
    ASSERT_TRUE(Start(second, {}));
    const int code = second.Wait(10000);
    const ULONGLONG took = GetTickCount64() - t0;
    EXPECT_EQ(code, 0);
    printf("the second start ended after %llu ms\n", took);
    EXPECT_LE(took, kSecondStartMs) << "the second start took " << took << " ms to end";
    EXPECT_TRUE(WaitFor(
        [&] {
            Pump();
            return GetForegroundWindow() == m_hWnd;
        },
        5000, kPollMs))
        << "the first window did not come forward";
    // Still one window, and the first program runs on.
    EXPECT_EQ(MainWindow(), m_hWnd);
    EXPECT_EQ(FindWindowExA(nullptr, m_hWnd, "#32770", m_caption.c_str()), nullptr);
    EXPECT_EQ(WaitForSingleObject(m_first->pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

// Second starts against a running window, one after another; each row
// adds its jobs at the end or, for any fault, nothing at all.
TEST_F(SecondStartTest, AHandedOverCommandLineQueuesEveryFileOrNone) {
    const std::string a = File("a.prn"), b = File("b.prn");
    const std::wstring named = L"label caf\u00E9 \u00C5 r\u00E9sum\u00E9.prn";
    const std::string accented = File(ToUtf8(named));
    const std::string missing = m_dir + "\\missing.prn";
    // A path beyond MAX_PATH: folders of 100 characters each.
    std::wstring deep = L"\\\\?\\" + W(m_dir);
    for (int i = 0; i < 3; ++i) {
        deep += L"\\" + std::wstring(100, static_cast<wchar_t>(L'k' + i));
        CreateDirectoryW(deep.c_str(), nullptr);
    }
    const std::wstring longFile = deep + L"\\long.prn";
    {
        HANDLE h =
            CreateFileW(longFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
    }
    const std::string longPath = ToUtf8(longFile);

    struct Row {
        const char* what;
        std::vector<std::wstring> args;
        int code;
        std::vector<Job> added;
        const char* message; // a text the message must hold; null: none shown
        const char* copiesField = nullptr;
        std::wstring cwd = L"";
    };
    const Row rows[] = {
        {"two files with their copies",
         {L"/copies:3", W(a), W(b)},
         0,
         {{"a.prn", a, 3}, {"b.prn", b, 3}},
         nullptr},
        {"the window's count", {W(b)}, 0, {{"b.prn", b, 7}}, nullptr, "7"},
        {"a path relative to the caller's folder",
         {L"a.prn"},
         0,
         {{"a.prn", a, 7}},
         nullptr,
         nullptr,
         W(m_dir)},
        {"spaces and accents",
         {L"/copies:2", W(accented)},
         0,
         {{ToUtf8(named), accented, 2}},
         nullptr},
        {"a path longer than MAX_PATH",
         {L"/COPIES:1", longFile},
         0,
         {{"long.prn", longPath, 1}},
         nullptr},
        {"a missing file among good ones", {L"/quiet", W(a), W(missing), W(b)}, 3, {}, nullptr},
        {"a missing file, not quiet", {W(a), W(missing)}, 3, {}, "missing.prn"},
        {"a folder", {L"/quiet", W(m_dir)}, 3, {}, nullptr},
        {"no copies", {L"/quiet", L"/copies:0", W(a)}, 2, {}, nullptr},
        {"too many copies", {L"/quiet", L"/copies:100001", W(a)}, 2, {}, nullptr},
        {"copies not a number", {L"/quiet", L"/copies:x", W(a)}, 2, {}, nullptr},
        {"an unknown switch", {L"/bogus", W(a)}, 2, {}, "Usage"},
        {"nothing but the window brought forward", {}, 0, {}, nullptr},
    };
    StartFirst();
    std::vector<Job> expected;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.copiesField) {
            DWORD_PTR r = 0;
            SendMessageTimeoutA(GetDlgItem(m_hWnd, IDC_COPIES), WM_SETTEXT, 0,
                                reinterpret_cast<LPARAM>(row.copiesField), SMTO_ABORTIFHUNG, 2000,
                                &r);
        }
        Process p;
        ASSERT_TRUE(Start(p, row.args, row.cwd));
        if (row.message) {
            EXPECT_NE(TakeMessage().find(row.message), std::string::npos);
        }
        EXPECT_EQ(p.Wait(15000), row.code);
        // The store shows the jobs as soon as the second start has ended.
        expected.insert(expected.end(), row.added.begin(), row.added.end());
        EXPECT_EQ(StoredJobs(), expected);
        EXPECT_TRUE(WaitFor([&] { return RowCount() == static_cast<int>(expected.size()); }, 5000,
                            kPollMs));
    }
    // The path beyond MAX_PATH reaches the program's file functions.
    EXPECT_EQ(std::get<1>(expected[5]).substr(0, 4), "\\\\?\\");
    EXPECT_EQ(FindWindowA("#32770", "Tolvar Morvane"), nullptr) << "a message too many";
    // Every queued path opens: the null printer takes the whole queue.
    PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_START_STOP, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(m_hWnd, IDC_START_STOP)));
    EXPECT_TRUE(WaitFor([&] { return RowCount() == 0; }, 30000, kPollMs))
        << "a queued path could not be sent";
    CloseFirst();
    DeleteFileW(longFile.c_str());
    for (int i = 0; i < 3; ++i) {
        RemoveDirectoryW(deep.c_str());
        deep.resize(deep.rfind(L'\\'));
    }
}

// A name that the program's ANSI strings cannot hold is refused, not
// queued as another name.
TEST_F(SecondStartTest, ANameOutsideTheCodePageIsRefused) {
    if (GetACP() == CP_UTF8) {
        GTEST_SKIP() << "every name fits this code page";
    }
    const std::string odd = File(ToUtf8(L"label \u0950\u4E2D.prn"));
    StartFirst();
    Process p;
    ASSERT_TRUE(Start(p, {W(odd)}));
    EXPECT_NE(TakeMessage().find("cannot keep"), std::string::npos);
    EXPECT_EQ(p.Wait(15000), 5);
    EXPECT_TRUE(StoredJobs().empty());
}

// The whole documents the raw print queue's port received so far.
std::vector<std::string> Received(const std::string& dir) {
    std::vector<std::string> docs;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\job-*.bin").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return docs;
    do
        docs.push_back(ReadFileBytes(dir + "\\" + fd.cFileName));
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return docs;
}

TEST_F(SecondStartTest, StartSendsTheHandedOverFiles) {
    const std::string queue = Env("MORVANE_CUPS_QUEUE"), capture = Env("MORVANE_CAPTURE_DIR");
    ASSERT_FALSE(queue.empty() || capture.empty())
        << "start the services with scripts/services.sh (MORVANE_CUPS_QUEUE, MORVANE_CAPTURE_DIR)";
    const std::string captureDir = "Z:" + capture;
    {
        CSpoolerSetup setup;
        setup.m_nSpoolerType = SPOOLER_WINDOWS;
        setup.m_strSpoolerName = queue.c_str();
        setup.Save();
    }
    m_caption = "Tolvar Morvane - " + queue;
    const unsigned seed = GetTickCount() ^ GetCurrentProcessId();
    std::string payload[2];
    std::vector<std::wstring> args = {L"/start", L"/copies:2"};
    for (int i = 0; i < 2; ++i) {
        const std::vector<char> bytes = RandomBytes(50000, seed + i);
        payload[i].assign(bytes.begin(), bytes.end());
        const std::string f = m_dir + "\\send" + std::to_string(i) + ".prn";
        ASSERT_TRUE(WriteFileBytes(f, payload[i]));
        m_files.push_back(f);
        args.push_back(W(f));
    }
    StartFirst();
    EXPECT_EQ(Second(args), 0);
    EXPECT_TRUE(WaitFor([&] { return RowCount() == 0; }, 120000, kPollMs)) << "not sent";
    EXPECT_EQ(Text(GetDlgItem(m_hWnd, IDC_START_STOP)), "S&top");
    int copies[2] = {0, 0};
    EXPECT_TRUE(WaitFor(
        [&] {
            copies[0] = copies[1] = 0;
            for (const std::string& doc : Received(captureDir))
                for (int i = 0; i < 2; ++i)
                    copies[i] += doc == payload[i];
            return copies[0] + copies[1] >= 4;
        },
        120000, 100));
    EXPECT_EQ(copies[0], 2);
    EXPECT_EQ(copies[1], 2);
    CloseFirst();
}

// Many starts at once, with the program running or not: exactly one window
// owns the queue, every start but the owner ends with 0, and every file is
// queued once.
TEST_F(SecondStartTest, ManyStartsAtOnceEachQueueTheirFileOnce) {
    const struct {
        int starts;
        bool running;
    } rows[] = {{40, true}, {12, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.starts) +
                     (row.running ? " into a running window" : " with none running"));
        DeleteProgramKey();
        {
            CSpoolerSetup setup;
            setup.m_nSpoolerType = SPOOLER_NULL;
            setup.Save();
        }
        std::vector<std::string> files;
        for (int i = 0; i < row.starts; ++i)
            files.push_back(File("many" + std::to_string(i) + ".prn"));
        if (row.running)
            StartFirst();
        std::vector<Process> starts(static_cast<size_t>(row.starts));
        for (int i = 0; i < row.starts; ++i)
            ASSERT_TRUE(Start(starts[i], {L"/quiet", W(files[i])}));
        if (!row.running) {
            ASSERT_TRUE(
                WaitFor([&] { return (m_hWnd = MainWindow()) != nullptr; }, 30000, kPollMs));
            DWORD pid = 0;
            GetWindowThreadProcessId(m_hWnd, &pid);
            for (Process& p : starts) {
                if (p.pi.dwProcessId == pid) {
                    m_first = std::make_unique<Process>();
                    std::swap(m_first->pi, p.pi);
                }
            }
            ASSERT_TRUE(m_first) << "the window is no start's";
        }
        for (int i = 0; i < row.starts; ++i) {
            if (starts[i].pi.hProcess) {
                EXPECT_EQ(starts[i].Wait(120000), 0) << "start " << i;
            }
        }
        std::vector<std::string> paths;
        for (const Job& job : StoredJobs())
            paths.push_back(std::get<1>(job));
        std::sort(paths.begin(), paths.end());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(paths, files);
        EXPECT_TRUE(WaitFor([&] { return RowCount() == row.starts; }, 10000, kPollMs));
        EXPECT_EQ(FindWindowExA(nullptr, m_hWnd, "#32770", m_caption.c_str()), nullptr)
            << "a second window";
        CloseFirst();
        m_first.reset();
    }
}

// Without a running program the first start is the owner: its window opens
// with the files queued; a second one then hands its files over.
TEST_F(SecondStartTest, AFirstStartQueuesItsOwnCommandLine) {
    const std::string a = File("first.prn"), b = File("second.prn");
    StartFirst({L"/copies:4", W(a)});
    // The window shows its caption a moment before it queues.
    const std::vector<Job> first = {{"first.prn", a, 4}};
    EXPECT_TRUE(WaitFor([&] { return StoredJobs() == first; }, 5000, kPollMs));
    EXPECT_EQ(Second({W(b)}), 0);
    EXPECT_EQ(StoredJobs(), (std::vector<Job>{{"first.prn", a, 4}, {"second.prn", b, 1}}));
    CloseFirst();
    EXPECT_EQ(StoredJobs().size(), 2u) << "the queue was not kept at close";
}

} // namespace
