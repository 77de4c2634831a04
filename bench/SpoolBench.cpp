// Measuring tool for the bench scripts (not a test).
//
//   SpoolBench spool PRINTER FILE [COPIES]
//       Sends FILE through the worker and the spooler printer to the
//       Windows printer PRINTER; prints the seconds it took.
//   SpoolBench queue-scale JOBS
//       Saves a queue of JOBS jobs, loads it back, and reports the time of
//       each and the memory the loaded queue takes.
//   SpoolBench null JOBS COPIES FLUSH
//       Sends JOBS jobs of COPIES copies of a 4 KiB file to the null printer;
//       prints the seconds and copies a second. FLUSH 0 leaves the store's
//       flushes out, to measure what they cost.
//   SpoolBench idle-cpu SECONDS
//       Reports the worker's processor time while stopped, while running
//       on an empty queue and while it waits to try a failed copy again,
//       next to a thread that polls a flag without pause.
#include "framework/MessageBox.h"
#include "printloop/PrintLoopThread.h"
#include "settings/ProgramKey.h"

#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

class NoWindow : public IPrintLoopOwner {
public:
    HWND GetJobListBox() override { return nullptr; }
    void RequestRefreshJobList() override {}
    void NotifyWorkerStopped() override {}
    HWND GetMessageBoxOwner() override { return nullptr; }
};

double Seconds() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

double ThreadCpuSeconds(HANDLE h) {
    FILETIME a, b, k, u;
    if (!GetThreadTimes(h, &a, &b, &k, &u))
        return -1;
    auto v = [](FILETIME t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return v(k) + v(u);
}

// Runs a worker over the list until it is empty or the worker stops, and
// empties what is left; the seconds it took, and in left the jobs it left.
double SpoolQueue(CJobList& list, CSpoolerSetup& setup, bool bIdlePriority, int& left) {
    NoWindow owner;
    CPrintLoopThread loop(&owner, &list, &setup);
    loop.CreateThread(CREATE_SUSPENDED);
    if (bIdlePriority)
        loop.SetThreadPriority(THREAD_PRIORITY_IDLE);
    loop.ResumeThread();
    const double t0 = Seconds();
    loop.SetRunning(TRUE);
    while (list.GetCount() > 0 && loop.IsRunning())
        Sleep(1);
    const double t = Seconds() - t0;
    left = list.GetCount();
    loop.StopForGood();
    while (list.GetCount())
        list.RemoveAt(0);
    return t;
}

int Spool(const char* printer, const char* file, int copies) {
    SetMessageBoxHandler([](HWND, const char* text, const char*, UINT) {
        fprintf(stderr, "box: %s\n", text);
        return IDOK;
    });
    CSpoolerSetup setup;
    setup.m_nSpoolerType = SPOOLER_WINDOWS;
    setup.m_strSpoolerName = printer;
    CJobList list;
    while (list.GetCount())
        list.RemoveAt(0);
    list.Add(CQueuedJob("bench", file, copies));
    int left = 0;
    const double t = SpoolQueue(list, setup, true, left);
    printf("%.3f\n", t);
    return left == 0 ? 0 : 1;
}

// The store's registry with its flushes left out.
class NoFlushRegistry : public CQueueRegistry {
public:
    using CQueueRegistry::CQueueRegistry;
    bool Flush(Place) override { return true; }
};

int NullCopies(int jobs, int copies, bool flush) {
    char tmp[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, tmp);
    const std::string file = std::string(tmp) + "morvane-bench-null.prn";
    FILE* f = fopen(file.c_str(), "wb");
    if (!f)
        return 1;
    for (int i = 0; i < 4096; ++i)
        fputc(i & 0xFF, f);
    fclose(f);
    CSpoolerSetup setup;
    setup.m_nSpoolerType = SPOOLER_NULL;
    std::unique_ptr<CQueueRegistry> reg;
    if (!flush)
        reg.reset(new NoFlushRegistry(CString(kProgramKeyPath) + "\\Job_List"));
    CJobList list(std::move(reg));
    while (list.GetCount())
        list.RemoveAt(0);
    for (int i = 0; i < jobs; ++i)
        list.Add(CQueuedJob("bench", file.c_str(), copies));
    int left = 0;
    const double t = SpoolQueue(list, setup, false, left);
    DeleteFileA(file.c_str());
    printf("%d jobs of %d copies, flush %s: %.3f s (%.0f copies/s)\n", jobs, copies,
           flush ? "on" : "off", t, jobs * copies / t);
    return left == 0 ? 0 : 1;
}

std::atomic<bool> g_stopPolling{false};

DWORD WINAPI PollWithoutPause(void*) {
    while (!g_stopPolling.load())
        ;
    return 0;
}

// An output that is never there: every copy fails at Open.
class AbsentPrinter : public CNull_Printer {
public:
    BOOL Open(CSpoolerSetup*, CString) override { return FALSE; }
    CString GetFailureText() override { return "No connection"; }
};

class RetryingLoop : public CPrintLoopThread {
public:
    using CPrintLoopThread::CPrintLoopThread;

protected:
    CPrinter* MakePrinter(CSpoolerSetup*) override { return new AbsentPrinter; }
};

int IdleCpu(double seconds) {
    CSpoolerSetup setup;
    CJobList list;
    while (list.GetCount())
        list.RemoveAt(0);
    NoWindow owner;
    CPrintLoopThread loop(&owner, &list, &setup);
    loop.CreateThread(CREATE_SUSPENDED);
    loop.SetThreadPriority(THREAD_PRIORITY_IDLE);
    loop.ResumeThread();
    const DWORD ms = static_cast<DWORD>(seconds * 1000);

    double c0 = ThreadCpuSeconds(loop.GetHandle());
    Sleep(ms);
    double c1 = ThreadCpuSeconds(loop.GetHandle());
    printf("worker stopped:            %.1f ms of processor time per second\n",
           (c1 - c0) * 1000 / seconds);
    loop.SetRunning(TRUE);
    c0 = ThreadCpuSeconds(loop.GetHandle());
    Sleep(ms);
    c1 = ThreadCpuSeconds(loop.GetHandle());
    printf("worker waiting, no jobs:   %.1f ms of processor time per second\n",
           (c1 - c0) * 1000 / seconds);
    loop.StopForGood();

    // Retrying: a job whose printer is never there, the worker between tries
    // (a try every 5, 10, 20, then 30 s; the row counts down each second).
    char file[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, file);
    strcat(file, "morvane-idle-retry.prn");
    if (FILE* f = fopen(file, "wb")) {
        fputs("job", f);
        fclose(f);
    }
    list.Add(CQueuedJob("retry.prn", file, 1));
    {
        RetryingLoop retrying(&owner, &list, &setup);
        retrying.SetFailurePolicy(true, 30);
        retrying.CreateThread(CREATE_SUSPENDED);
        retrying.SetThreadPriority(THREAD_PRIORITY_IDLE);
        retrying.ResumeThread();
        retrying.SetRunning(TRUE);
        c0 = ThreadCpuSeconds(retrying.GetHandle());
        Sleep(ms);
        c1 = ThreadCpuSeconds(retrying.GetHandle());
        printf("worker retrying a copy:    %.1f ms of processor time per second\n",
               (c1 - c0) * 1000 / seconds);
        retrying.StopForGood();
    }
    while (list.GetCount())
        list.RemoveAt(0);
    DeleteFileA(file);

    // Reference: a thread that polls a flag without pause at idle priority.
    g_stopPolling = false;
    HANDLE h = CreateThread(nullptr, 0, PollWithoutPause, nullptr, CREATE_SUSPENDED, nullptr);
    SetThreadPriority(h, THREAD_PRIORITY_IDLE);
    ResumeThread(h);
    c0 = ThreadCpuSeconds(h);
    Sleep(ms);
    c1 = ThreadCpuSeconds(h);
    g_stopPolling = true;
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
    printf("reference, polling thread: %.1f ms of processor time per second\n",
           (c1 - c0) * 1000 / seconds);
    return 0;
}

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof(pmc);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc),
                         sizeof(pmc));
    return pmc.PagefileUsage;
}

void FillQueue(CJobList& list, int jobs) {
    for (int i = 0; i < jobs; ++i) {
        CString name, path;
        name.Format("label-%05d.zpl", i);
        path.Format("C:\\Production\\Labels\\Batch %03d\\label-%05d.zpl", i / 100, i);
        list.Add(CQueuedJob(name, path, 1 + i % 5));
    }
}

// A list that can end as a process that dies does: without its save.
class CrashingList : public CJobList {
public:
    void Crash() { ForgetWithoutSaving(); }
};

int QueueScale(int jobs) {
    double tSave;
    {
        CJobList list;
        while (list.GetCount())
            list.RemoveAt(0);
        FillQueue(list, jobs);
        const double t0 = Seconds();
        list.Save();
        tSave = Seconds() - t0;
        // Leaving the scope saves the same queue again, so it stays stored.
    }
    const SIZE_T before = PrivateBytes();
    const double t0 = Seconds();
    CrashingList list;
    const double tLoad = Seconds() - t0;
    const int loaded = list.GetCount();
    const double bytes = static_cast<double>(PrivateBytes() - before);
    printf("jobs:                 %d (loaded %d)\n", jobs, loaded);
    printf("save at close:        %.3f s\n", tSave);
    printf("load at start:        %.3f s\n", tLoad);
    printf("memory of the queue:  %.1f KiB (%.0f bytes a job)\n", bytes / 1024.0,
           bytes / (loaded ? loaded : 1));
    // One change, then the process dies: the next start reads the journal.
    list.RemoveAt(list.GetCount() - 1);
    list.Crash();
    double tCrash;
    int afterCrash;
    {
        const double t1 = Seconds();
        CJobList again;
        tCrash = Seconds() - t1;
        afterCrash = again.GetCount();
        while (again.GetCount())
            again.RemoveAt(0);
    }
    printf("load after a crash:   %.3f s (%d jobs)\n", tCrash, afterCrash);
    return loaded == jobs && afterCrash == jobs - 1 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && strcmp(argv[1], "spool") == 0)
        return Spool(argv[2], argv[3], argc >= 5 ? atoi(argv[4]) : 1);
    if (argc >= 3 && strcmp(argv[1], "queue-scale") == 0)
        return QueueScale(atoi(argv[2]));
    if (argc >= 5 && strcmp(argv[1], "null") == 0)
        return NullCopies(atoi(argv[2]), atoi(argv[3]), atoi(argv[4]) != 0);
    if (argc >= 3 && strcmp(argv[1], "idle-cpu") == 0)
        return IdleCpu(atof(argv[2]));
    fprintf(stderr,
            "usage: SpoolBench spool PRINTER FILE [COPIES] | queue-scale JOBS | null JOBS COPIES "
            "FLUSH | idle-cpu SECONDS\n");
    return 2;
}
