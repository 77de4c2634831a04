// Morvane.exe started while it already runs: the second process hands its
// command line to the window of the first and ends; the first queues the
// files. The fixture runs the first program on a display (null printer
// unless a test chooses another) and starts second processes with
// arguments, as another program would. Needs DISPLAY (and, for the test
// that prints, the services of scripts/services.sh).
#include "queue/JobList.h"
#include "settings/SpoolerSetup.h"
#include "support/RandomBytes.h"
#include "support/RegistryFixture.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#ifndef MORVANE_EXE
#error "MORVANE_EXE names the program under test"
#endif

namespace {

const int IDC_JOB_LIST = 1005;
const int IDC_START_STOP = 1008;
const int IDC_COPIES = 1010;
const DWORD kPollMs = 20;
// A second start that finds the window ends this quickly.
const DWORD kSecondStartMs = 1000;

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::wstring ProgramPath() {
    std::string p = Env("MORVANE_EXE_UNDER_TEST");
    if (p.empty())
        p = MORVANE_EXE;
    if (p[0] == '/') {
        p = "Z:" + p;
        for (char& c : p)
            if (c == '/')
                c = '\\';
    }
    return ToWide(p);
}

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
    const std::wstring exe = ProgramPath();
    std::wstring cmd = L"\"" + exe + L"\"";
    for (const std::wstring& a : args)
        cmd += L" \"" + a + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    return CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          cwd.empty() ? nullptr : cwd.c_str(), &si, &p.pi) != 0;
}

using Job = std::tuple<std::string, std::string, int>; // name, path, copies

// The queue as the store holds it now; the list made here only reads it
// while the program owns it.
std::vector<Job> StoredJobs() {
    CJobList list;
    std::vector<Job> jobs;
    for (int i = 0; i < list.GetCount(); ++i) {
        CQueuedJob* j = list.GetAt(i);
        jobs.emplace_back(j->GetName().GetString(), j->GetPath().GetString(), j->m_nCopies);
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
    static HWND MainWindow() { return FindWindowA("#32770", "Tolvar Morvane - Null"); }
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
    EXPECT_EQ(FindWindowExA(nullptr, m_hWnd, "#32770", "Tolvar Morvane - Null"), nullptr);
    EXPECT_EQ(WaitForSingleObject(m_first->pi.hProcess, 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

} // namespace
