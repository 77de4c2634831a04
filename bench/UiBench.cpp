// Measuring tool for bench/ui_long_queue.sh (not a test).
//
//   UiBench long-queue EXE JOBS SECONDS
//       Presets a queue of JOBS jobs (the first one long, the others small)
//       on the null printer, starts EXE and reports, one figure a line:
//         - the time from process start until the window shows all rows and
//           has nothing left to paint;
//         - the program's memory with the queue loaded;
//         - the longest time the list box took to paint again after the
//           tool invalidated it, while the worker spooled the long job and
//           while it finished small jobs (each one rebuilds the rows), over
//           SECONDS seconds in all. A paint comes only when the window's
//           thread has no posted message left, so this also shows a backlog
//           that clicks would wait behind;
//         - the time from pressing Stop until the button says "Start";
//         - the time from Close until the process ended (the queue is saved
//           on the way out), and the jobs it saved.
//       Leaves no program key behind.
//
// For bench/kill_test.sh, which starts and kills Morvane.exe itself:
//   UiBench kill-preset NAME PATH COPIES [NAME PATH COPIES...]
//       Stores the network printer 127.0.0.1 and this queue, as a program
//       closed in order leaves them.
//   UiBench press-start TIMEOUT
//       Waits for the window, then presses Start once the rows are shown.
//   UiBench wait-empty TIMEOUT
//       Waits until the window shows no row, then presses Close and waits
//       until the window is gone; status 1 on time-out.
//   UiBench queue-left
//       Prints the jobs in the store as a start would load them (name and
//       copies a line), without changing the store.
//
// For bench/setup_caption.sh:
//   UiBench setup-caption ROUNDS
//       With the program's window open, ROUNDS times: presses Setup, picks
//       whichever of "Use IP Address" and "Null Printer" the caption does
//       not name, presses OK and
//       waits until the window's caption changes; OK is pressed once the
//       dialog is shown. Prints one line a round:
//       "ok UNIX_MS CAPTION_MS OPEN_MS TEXT": the wall-clock moment OK was
//       pressed (to match against the X server's view of the caption), the
//       time until the window's own text changed, and the time the dialog
//       took from Setup until it was shown.
//
// For scripts/screenshots.sh, which starts Morvane.exe and takes the
// pictures itself:
//   UiBench shot-preset OUTPUT NAME PATH COPIES [NAME PATH COPIES...]
//       Stores the output ("ip" for the network printer 127.0.0.1, any other
//       word names a printer installed in Windows) and this queue.
//   UiBench shot-select ROW TIMEOUT
//       Waits for the window with its rows, selects row ROW (from 0) as a
//       click does, and waits until the window has nothing left to paint.
//   UiBench shot-setup TIMEOUT
//       Presses Setup and waits until the dialog is shown and painted.
//   UiBench shot-close TIMEOUT
//       Cancels the setup dialog when it is open, stops the worker when it
//       runs, presses Close and waits until the window is gone; then leaves
//       no program key behind.
#include "queue/JobList.h"
#include "settings/SpoolerSetup.h"

#include <psapi.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const int IDC_JOB_LIST = 1005;
const int IDC_START_STOP = 1008;
const int IDC_USE_IP = 1015;
const int IDC_USE_NULL = 1016;
const int IDC_SETUP = 1017;
const DWORD kStallMs = 200;

double Seconds() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

void DeleteProgramKey() {
    HKEY h = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &h) ==
        ERROR_SUCCESS) {
        RegDeleteTreeA(h, "Tolvar");
        RegCloseKey(h);
    }
}

bool MakeFile(const std::string& path, LONGLONG size) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER at;
    at.QuadPart = size;
    const bool ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    return ok;
}

// The list box's row count, and how long it took to answer (-1: no answer
// within the time-out).
int RowCount(HWND hList, double* pSeconds = nullptr, DWORD timeoutMs = 10000) {
    DWORD_PTR n = 0;
    const double t0 = Seconds();
    const LRESULT ok = SendMessageTimeoutA(hList, LB_GETCOUNT, 0, 0, SMTO_NORMAL, timeoutMs, &n);
    if (pSeconds)
        *pSeconds = Seconds() - t0;
    return ok ? static_cast<int>(n) : -1;
}

// Invalidates the list box and waits until it has painted; the seconds it
// took, or -1 after ten seconds.
double PaintRoundTrip(HWND hList) {
    const double t0 = Seconds();
    InvalidateRect(hList, nullptr, FALSE);
    RECT r;
    while (GetUpdateRect(hList, &r, FALSE)) {
        if (Seconds() - t0 > 10)
            return -1;
        Sleep(1);
    }
    return Seconds() - t0;
}

std::string ButtonText(HWND hDlg, int nID) {
    char buf[64] = "";
    DWORD_PTR r = 0;
    SendMessageTimeoutA(GetDlgItem(hDlg, nID), WM_GETTEXT, sizeof(buf),
                        reinterpret_cast<LPARAM>(buf), SMTO_NORMAL, 10000, &r);
    return buf;
}

void Press(HWND hDlg, int nID) {
    PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(nID, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hDlg, nID)));
}

void PrintMemory(HANDLE hProcess, const char* when) {
    PROCESS_MEMORY_COUNTERS_EX pmc{};
    pmc.cb = sizeof(pmc);
    if (!GetProcessMemoryInfo(hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc),
                              sizeof(pmc))) {
        printf("memory %s: unavailable (%lu)\n", when, GetLastError());
        return;
    }
    // Wine reports no private bytes for another process: the working set
    // is the figure that counts here.
    printf("memory %s: working set %.1f MB, peak working set %.1f MB, private %.1f MB\n", when,
           pmc.WorkingSetSize / 1048576.0, pmc.PeakWorkingSetSize / 1048576.0,
           pmc.PrivateUsage / 1048576.0);
}

struct Stalls {
    double worst = 0;
    int over = 0;
    int probes = 0;
    void Add(double s) {
        ++probes;
        if (s > worst)
            worst = s;
        if (s * 1000 > kStallMs)
            ++over;
    }
};

int LongQueue(const char* exe, int jobs, double seconds) {
    char tmp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, tmp);
    const std::string longFile = std::string(tmp) + "morvane-bench-long.prn";
    const std::string smallFile = std::string(tmp) + "morvane-bench-small.prn";
    // The null printer takes 16 KB every 2 ms or so: the long job keeps the
    // worker busy for a few seconds, a small one for one pass.
    if (!MakeFile(longFile, 32LL << 20) || !MakeFile(smallFile, 4096)) {
        fprintf(stderr, "cannot write the job files in %s\n", tmp);
        return 1;
    }

    DeleteProgramKey();
    {
        CSpoolerSetup setup;
        setup.m_nSpoolerType = SPOOLER_NULL;
        setup.Save();
        CJobList list;
        list.Add(CQueuedJob("long.prn", longFile.c_str(), 1));
        for (int i = 1; i < jobs; ++i) {
            CString name;
            name.Format("small-%05d.prn", i);
            list.Add(CQueuedJob(name, smallFile.c_str(), 1));
        }
    }

    STARTUPINFOA si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::string cmd = std::string("\"") + exe + "\"";
    const double tStart = Seconds();
    if (!CreateProcessA(exe, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "cannot start %s (%lu)\n", exe, GetLastError());
        DeleteProgramKey();
        return 1;
    }

    int rc = 0;
    HWND hDlg = nullptr, hList = nullptr;
    while (Seconds() - tStart < 120) {
        hDlg = FindWindowA("#32770", "Tolvar Morvane - Null");
        hList = hDlg ? GetDlgItem(hDlg, IDC_JOB_LIST) : nullptr;
        if (hList && RowCount(hList) == jobs) {
            RECT r;
            if (!GetUpdateRect(hList, &r, FALSE) && !GetUpdateRect(hDlg, &r, FALSE))
                break;
        }
        Sleep(5);
    }
    const double tShown = Seconds() - tStart;
    if (!hList || RowCount(hList) != jobs) {
        printf("window with %d rows: not shown within 120 s\n", jobs);
        rc = 1;
    } else {
        printf("window shown with its rows: %.3f s (%d rows)\n", tShown, jobs);
        PrintMemory(pi.hProcess, "with the queue loaded");

        // Spooling: make the list box paint again every 10 ms.
        Stalls longJob, smallJobs;
        Press(hDlg, IDC_START_STOP);
        const double t0 = Seconds();
        int rows = jobs;
        double tLongDone = -1;
        while (Seconds() - t0 < seconds) {
            const double rtt = PaintRoundTrip(hList);
            const int n = RowCount(hList);
            if (n < 0 || rtt < 0) {
                printf("the list box did not %s within 10 s\n", n < 0 ? "answer" : "paint");
                rc = 1;
                break;
            }
            if (n == jobs) {
                longJob.Add(rtt);
            } else {
                if (tLongDone < 0)
                    tLongDone = Seconds() - t0;
                smallJobs.Add(rtt);
            }
            rows = n;
            Sleep(10);
        }
        const double tStop = Seconds();
        Press(hDlg, IDC_START_STOP);
        while (ButtonText(hDlg, IDC_START_STOP) != "&Start" && Seconds() - tStop < 120)
            Sleep(5);
        printf("stop takes effect: %.3f s\n", Seconds() - tStop);
        printf("longest paint while spooling the long job: %.0f ms (%d of %d probes over %lu "
               "ms)\n",
               longJob.worst * 1000, longJob.over, longJob.probes, kStallMs);
        printf("longest paint while finishing small jobs: %.0f ms (%d of %d probes over %lu "
               "ms)\n",
               smallJobs.worst * 1000, smallJobs.over, smallJobs.probes, kStallMs);
        if (tLongDone >= 0 && seconds > tLongDone)
            printf("small jobs gone from the rows: %d in %.1f s (%.1f jobs/s)\n", jobs - rows - 1,
                   seconds - tLongDone, (jobs - rows - 1) / (seconds - tLongDone));
        PrintMemory(pi.hProcess, "after spooling");

        const double tClose = Seconds();
        Press(hDlg, IDOK);
        if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) {
            printf("the program did not end within 120 s of Close\n");
            rc = 1;
        } else {
            const double tEnd = Seconds() - tClose;
            CJobList saved(nullptr, CJobList::Access::ReadOnly);
            const int n = saved.GetCount();
            printf("close and save: %.3f s (%d jobs saved, %d rows shown)\n", tEnd, n, rows);
        }
    }
    if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT)
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    DeleteProgramKey();
    DeleteFileA(longFile.c_str());
    DeleteFileA(smallFile.c_str());
    return rc;
}

const char kIpTitle[] = "Tolvar Morvane - 127.0.0.1";

// Stores SETUP and the jobs given as NAME PATH COPIES triples, over an
// empty program key.
int Preset(CSpoolerSetup& setup, int argc, char** argv) {
    DeleteProgramKey();
    if (!setup.Save())
        return 1;
    CJobList list;
    for (int i = 0; i + 2 < argc; i += 3)
        list.Add(CQueuedJob(argv[i], argv[i + 1], atoi(argv[i + 2])));
    return list.Save() ? 0 : 1;
}

int KillPreset(int argc, char** argv) {
    CSpoolerSetup setup;
    setup.m_nSpoolerType = SPOOLER_IP;
    setup.m_dwIPAddress = 0x7F000001;
    return Preset(setup, argc, argv);
}

int ShotPreset(const char* output, int argc, char** argv) {
    CSpoolerSetup setup;
    if (strcmp(output, "ip") == 0) {
        setup.m_nSpoolerType = SPOOLER_IP;
        setup.m_dwIPAddress = 0x7F000001;
    } else {
        setup.m_nSpoolerType = SPOOLER_WINDOWS;
        setup.m_strSpoolerName = output;
    }
    return Preset(setup, argc, argv);
}

int PressStart(double timeout, const char* title) {
    const double t0 = Seconds();
    while (Seconds() - t0 < timeout) {
        HWND hDlg = FindWindowA("#32770", title);
        HWND hList = hDlg ? GetDlgItem(hDlg, IDC_JOB_LIST) : nullptr;
        if (hList && RowCount(hList, nullptr, 2000) >= 0 &&
            ButtonText(hDlg, IDC_START_STOP) == "&Start") {
            Press(hDlg, IDC_START_STOP);
            return 0;
        }
        Sleep(20);
    }
    fprintf(stderr, "no window to press Start in\n");
    return 1;
}

int WaitEmpty(double timeout, const char* title) {
    const double t0 = Seconds();
    while (Seconds() - t0 < timeout) {
        HWND hDlg = FindWindowA("#32770", title);
        HWND hList = hDlg ? GetDlgItem(hDlg, IDC_JOB_LIST) : nullptr;
        if (hList && RowCount(hList, nullptr, 2000) == 0) {
            Press(hDlg, IDOK);
            while (IsWindow(hDlg) && Seconds() - t0 < timeout)
                Sleep(20);
            return IsWindow(hDlg) ? 1 : 0;
        }
        Sleep(50);
    }
    fprintf(stderr, "the queue did not empty within %.0f s\n", timeout);
    return 1;
}

int QueueLeft() {
    // A look at the store that writes nothing.
    CJobList list(nullptr, CJobList::Access::ReadOnly);
    for (int i = 0; i < list.GetCount(); ++i)
        printf("%s %d\n", list.GetAt(i)->GetName().GetString(), list.GetAt(i)->m_nCopies);
    return 0;
}

long long UnixMillis() {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    return static_cast<long long>(t.QuadPart / 10000ULL) - 11644473600000LL;
}

std::string WindowText(HWND h) {
    char buf[256] = "";
    GetWindowTextA(h, buf, sizeof(buf));
    return buf;
}

template <typename Pred> bool WaitFor(Pred done, double timeout) {
    const double t0 = Seconds();
    while (!done()) {
        if (Seconds() - t0 > timeout)
            return false;
        Sleep(1);
    }
    return true;
}

int SetupCaption(int rounds) {
    HWND hMain = nullptr;
    if (!WaitFor(
            [&] {
                return (hMain = FindWindowA("#32770", nullptr)) != nullptr &&
                       WindowText(hMain).rfind("Tolvar Morvane", 0) == 0;
            },
            60)) {
        fprintf(stderr, "no program window\n");
        return 1;
    }
    for (int i = 0; i < rounds; ++i) {
        const double tSetup = Seconds();
        Press(hMain, IDC_SETUP);
        // The dialog's window exists before its lists are filled; it is
        // shown once they are, when a user could first click. A message
        // sent to it may be answered earlier, from inside the filling.
        HWND hSetup = nullptr;
        if (!WaitFor(
                [&] {
                    return (hSetup = FindWindowA("#32770", "setup")) != nullptr &&
                           IsWindowVisible(hSetup);
                },
                60)) {
            fprintf(stderr, "no setup dialog\n");
            return 1;
        }
        const double openMs = (Seconds() - tSetup) * 1000.0;
        // The other output than the caption names, so the caption changes.
        const std::string before = WindowText(hMain);
        const bool bNull = before.size() >= 4 && before.compare(before.size() - 4, 4, "Null") == 0;
        Press(hSetup, bNull ? IDC_USE_IP : IDC_USE_NULL);
        const long long tUnix = UnixMillis();
        const double t0 = Seconds();
        Press(hSetup, IDOK);
        if (!WaitFor([&] { return WindowText(hMain) != before; }, 10)) {
            printf("ok %lld - %.1f %s\n", tUnix, openMs, before.c_str());
        } else {
            printf("ok %lld %.1f %.1f %s\n", tUnix, (Seconds() - t0) * 1000.0, openMs,
                   WindowText(hMain).c_str());
        }
        fflush(stdout);
        WaitFor([&] { return !IsWindow(hSetup); }, 10);
    }
    Press(hMain, IDOK);
    return 0;
}

HWND MainWindow() {
    HWND h = nullptr;
    while ((h = FindWindowExA(nullptr, h, "#32770", nullptr)) != nullptr)
        if (WindowText(h).rfind("Tolvar Morvane", 0) == 0)
            return h;
    return nullptr;
}

// Nothing left to paint in the window or in any of its controls.
bool Painted(HWND hWnd) {
    RECT r;
    if (GetUpdateRect(hWnd, &r, FALSE))
        return false;
    for (HWND h = GetWindow(hWnd, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
        if (GetUpdateRect(h, &r, FALSE))
            return false;
    return true;
}

int ShotSelect(int row, double timeout) {
    HWND hMain = nullptr, hList = nullptr;
    if (!WaitFor(
            [&] {
                hMain = MainWindow();
                hList = hMain ? GetDlgItem(hMain, IDC_JOB_LIST) : nullptr;
                return hList && RowCount(hList, nullptr, 2000) > row && IsWindowVisible(hMain);
            },
            timeout)) {
        fprintf(stderr, "no window with %d rows\n", row + 1);
        return 1;
    }
    DWORD_PTR r = 0;
    SendMessageTimeoutA(hList, LB_SETCURSEL, row, 0, SMTO_NORMAL, 10000, &r);
    // A click notifies the window, which then shows the row's copies.
    PostMessageA(hMain, WM_COMMAND, MAKEWPARAM(IDC_JOB_LIST, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(hList));
    Sleep(50);
    if (!WaitFor([&] { return Painted(hMain); }, timeout)) {
        fprintf(stderr, "the window did not finish painting\n");
        return 1;
    }
    return 0;
}

int ShotSetup(double timeout) {
    HWND hMain = nullptr;
    if (!WaitFor([&] { return (hMain = MainWindow()) != nullptr && IsWindowVisible(hMain); },
                 timeout)) {
        fprintf(stderr, "no program window\n");
        return 1;
    }
    Press(hMain, IDC_SETUP);
    HWND hSetup = nullptr;
    if (!WaitFor(
            [&] {
                return (hSetup = FindWindowA("#32770", "setup")) != nullptr &&
                       IsWindowVisible(hSetup) && Painted(hSetup) && Painted(hMain);
            },
            timeout)) {
        fprintf(stderr, "no setup dialog\n");
        return 1;
    }
    return 0;
}

int ShotClose(double timeout) {
    HWND hMain = MainWindow();
    if (!hMain) {
        fprintf(stderr, "no program window\n");
        return 1;
    }
    if (HWND hSetup = FindWindowA("#32770", "setup")) {
        Press(hSetup, IDCANCEL);
        WaitFor([&] { return !IsWindow(hSetup); }, timeout);
    }
    if (ButtonText(hMain, IDC_START_STOP) != "&Start") {
        Press(hMain, IDC_START_STOP);
        WaitFor([&] { return ButtonText(hMain, IDC_START_STOP) == "&Start"; }, timeout);
    }
    Press(hMain, IDOK);
    const bool gone = WaitFor([&] { return !IsWindow(hMain); }, timeout);
    DeleteProgramKey();
    if (!gone)
        fprintf(stderr, "the window did not close within %.0f s\n", timeout);
    return gone ? 0 : 1;
}

// Picks an item of the program window's system menu (for screenshots of
// the dialogs it opens).
int SysCommand(UINT nID) {
    HWND hMain = nullptr;
    if (!WaitFor(
            [&] {
                return (hMain = FindWindowA("#32770", nullptr)) != nullptr &&
                       WindowText(hMain).rfind("Tolvar Morvane", 0) == 0;
            },
            60)) {
        fprintf(stderr, "no program window\n");
        return 1;
    }
    PostMessageA(hMain, WM_SYSCOMMAND, nID, 0);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && strcmp(argv[1], "long-queue") == 0)
        return LongQueue(argv[2], atoi(argv[3]), atof(argv[4]));
    if (argc >= 2 && strcmp(argv[1], "kill-preset") == 0)
        return KillPreset(argc - 2, argv + 2);
    if (argc >= 3 && strcmp(argv[1], "press-start") == 0)
        return PressStart(atof(argv[2]), argc >= 4 ? argv[3] : kIpTitle);
    if (argc >= 3 && strcmp(argv[1], "wait-empty") == 0)
        return WaitEmpty(atof(argv[2]), argc >= 4 ? argv[3] : kIpTitle);
    if (argc >= 2 && strcmp(argv[1], "queue-left") == 0)
        return QueueLeft();
    if (argc >= 3 && strcmp(argv[1], "setup-caption") == 0)
        return SetupCaption(atoi(argv[2]));
    if (argc >= 3 && strcmp(argv[1], "shot-preset") == 0)
        return ShotPreset(argv[2], argc - 3, argv + 3);
    if (argc >= 4 && strcmp(argv[1], "shot-select") == 0)
        return ShotSelect(atoi(argv[2]), atof(argv[3]));
    if (argc >= 3 && strcmp(argv[1], "shot-setup") == 0)
        return ShotSetup(atof(argv[2]));
    if (argc >= 3 && strcmp(argv[1], "shot-close") == 0)
        return ShotClose(atof(argv[2]));
    if (argc >= 3 && strcmp(argv[1], "sys-command") == 0)
        return SysCommand(static_cast<UINT>(atoi(argv[2])));
    fprintf(stderr, "usage: UiBench long-queue EXE JOBS SECONDS | kill-preset NAME PATH COPIES... "
                    "| press-start TIMEOUT [TITLE] | wait-empty TIMEOUT [TITLE] | queue-left "
                    "| setup-caption ROUNDS | shot-preset OUTPUT NAME PATH COPIES... "
                    "| shot-select ROW TIMEOUT | shot-setup TIMEOUT | shot-close TIMEOUT "
                    "| sys-command ID\n");
    return 2;
}
