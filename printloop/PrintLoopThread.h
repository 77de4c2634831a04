// CPrintLoopThread: the one worker. While running it takes the job at the
// head of the queue, sends the job's file once per copy to a fresh printer
// made from a copy of the settings, writes the progress into the job and
// removes the job when every copy has been sent. A copy that fails stops the
// worker and shows "Print Job Failed"; the job stays at the head with the
// copies not yet sent, the failed one included.
//
// Threads: the window calls SetRunning, NotifyQueueChanged and StopForGood;
// everything else runs on the worker. The worker waits on an event, never
// spins. It touches jobs, the queue and the owner only inside m_csGate, and
// only while StopForGood has not been called; it never holds the gate (or
// any lock) across a call into the output or a message box, so
// StopForGood's wait for the gate is short.
// Everything the worker reads of the window's objects (the queue's count,
// the job's fields, the settings) is read under the gate after checking that
// the worker was not given up on, so once StopForGood has returned nothing
// of the window's is touched again.
// A copy that does not get through whole is aborted (CPrinter::Abort),
// never closed: closing hands the part that got through to the printer.
// Lock order: gate, then the list's lock, then a job's lock; the settings'
// own lock is taken last and with nothing taken inside it. The printer
// lock (m_csPrinter) stands apart: it guards only m_pActivePrinter, is
// never held while waiting for the gate or a job lock (nor taken while
// holding them), and StopForGood holds it across the printer's Abort so
// that the worker cannot delete the printer under that call; the worker
// clears m_pActivePrinter under it before deleting the printer.
// The status watcher: a second thread of the loop's own, started by the
// worker and ended by the worker on its way out, by StopForGood and by the
// destructor (each waits for it, within kWatcherWaitMs). While a copy is in
// progress the worker may be blocked inside Send_Data for a long time (a
// network printer that stopped for a reason it reports, such as an open
// cover); every kWatchMs the watcher asks the active printer for its wait
// text (CPrinter::GetWaitText, which never blocks) under m_csPrinter alone,
// lets go of it, and then, under the gate and the job's lock and only while
// the worker was not given up on and the same copy is still in progress
// writes "Waiting for printer: <text>" into the job's row, unless progress
// was reported since it asked. The worker's next progress report
// overwrites it. The watcher never holds m_csPrinter
// and the gate at once.
// Ownership: the worker owns nothing it points to; the owner keeps the
// queue, settings and itself alive until StopForGood has returned.
#pragma once

#include "framework/Sync.h"
#include "framework/UniqueHandle.h"
#include "framework/WinThread.h"
#include "printers/Printer.h"
#include "printloop/PrintLoopOwner.h"
#include "queue/JobList.h"
#include "settings/SpoolerSetup.h"

#include <atomic>

class CPrintLoopThread : public CWinThread {
public:
    static constexpr int kChunkSize = 16384;
    // How long StopForGood waits for a worker that is inside the output.
    static constexpr DWORD kStopWaitMs = 3000;
    // How long StopForGood then waits for a worker whose printer it aborted.
    static constexpr DWORD kAbortWaitMs = 2000;

    // How often the watcher looks at a copy in progress, and how long each
    // stop waits for the watcher to end.
    static constexpr DWORD kWatchMs = 1000;
    static constexpr DWORD kWatcherWaitMs = 2000;

    CPrintLoopThread(IPrintLoopOwner* pOwner, CJobList* pJobList, CSpoolerSetup* pSetup);
    // Ends the watcher (bounded); the worker must have ended or been given
    // up on for good.
    ~CPrintLoopThread() override;

    // Start (TRUE) or Stop (FALSE). Stop takes effect between copies.
    void SetRunning(BOOL bRunning);
    BOOL IsRunning() const { return m_bRunning.load(); }
    // A job was queued: a waiting worker looks at the queue at once.
    void NotifyQueueChanged();
    // Ends the worker for good, within a bounded time even when the output
    // is blocked. Afterwards the worker sends no further byte and touches no
    // job, queue or window; the job in progress keeps the copies not yet
    // completely sent (a document in the middle of being sent is aborted,
    // never ended; one being ended when the stop comes is waited for, up to
    // kStopWaitMs, and counts when it got through). A worker still inside
    // the output after kStopWaitMs is abandoned and its printer aborted from
    // this thread, which makes the blocked call return; the thread is then
    // given up to kAbortWaitMs more to end. Returns TRUE when the thread has
    // ended, FALSE when it has not (it then only returns from that call and
    // ends, and the object must stay). Call from the window's thread.
    BOOL StopForGood();
    // Whether StopForGood has been called.
    BOOL IsStopRequested() const { return m_bStopRequested.load(); }

    BOOL InitInstance() override;

    // Sends one copy (nCopy counts from 1); nonzero when the whole document
    // reached the output and was ended.
    virtual BOOL SpoolJob(CQueuedJob* pJob, int nCopy);

    // How often a paused printer is asked again before a copy.
    static constexpr DWORD kPrinterPollMs = 2000;
    void SetPrinterPollMs(DWORD dwMs) { m_dwPrinterPollMs = dwMs; }

protected:
    // The printer for one copy; tests stand in for the outputs here.
    virtual CPrinter* MakePrinter(CSpoolerSetup* pSetup) { return Create_Printer(pSetup); }

private:
    enum class Settle { Remove, Keep };
    enum class PrinterWait { Go, Silent, Stopped };

    void RunLoop();
    bool WaitForWork();
    // Before a copy: asks the printer for its state and, while it says it
    // is paused (paper out, cover open...), shows "Waiting for printer: "
    // and its word in the job's row and asks again every m_dwPrinterPollMs.
    // Go: send; Silent: send, the printer did not answer; Stopped: Stop or
    // closing came first, nothing was sent.
    PrinterWait WaitForPrinter(CQueuedJob* pJob);
    // Sets the job's status text; false when the worker was stopped for good.
    bool SetStatusText(CQueuedJob* pJob, const CString& strText);
    // Writes the progress text; false when the worker was stopped for good.
    bool ReportProgress(CQueuedJob* pJob, int nCopy, int nTotal, int nPercent);
    bool IsStoppedForGood() const { return m_bStoppedForGood.load(); }
    void InvalidateJobList();
    // The printer the worker is using, for StopForGood to abort (null
    // clears it).
    void SetActivePrinter(CPrinter* pPrinter);
    // The status watcher (see above). StopWatcher asks it to end and waits
    // at most kWatcherWaitMs; true when it has ended (or never started).
    void StartWatcher();
    bool StopWatcher();
    static DWORD WINAPI WatcherEntry(void* pParam);
    void Watch();

    std::atomic<BOOL> m_bRunning{FALSE};
    // Asked to end for good (the worker settles and ends by itself) ...
    std::atomic<bool> m_bStopRequested{false};
    // ... and given up on: the worker may no longer touch anything.
    std::atomic<bool> m_bStoppedForGood{false};
    CQueuedJob* m_pCurrentJob = nullptr;
    IPrintLoopOwner* m_pOwner;
    CJobList* m_pJobList;
    CSpoolerSetup* m_pSetup;

    DWORD m_dwPrinterPollMs = kPrinterPollMs;
    UniqueHandleNull m_hWake;
    CCriticalSection m_csGate;
    // Under m_csGate: the copies the current job had and those fully sent.
    int m_nJobCopies = 0;
    int m_nCopiesDone = 0;

    CCriticalSection m_csPrinter;
    // Under m_csPrinter: the printer of the copy in progress, if any.
    CPrinter* m_pActivePrinter = nullptr;
    // Changed whenever the active printer changes and whenever progress is
    // reported, so the watcher drops a wait text that data moving (or a
    // later copy) has made stale since it asked.
    std::atomic<unsigned> m_nOutputStep{0};

    // Manual reset, set once for good: the watcher ends.
    UniqueHandleNull m_hWatcherStop;
    CCriticalSection m_csWatcher;
    // Under m_csWatcher: the watcher thread; closed only by the destructor.
    UniqueHandleNull m_hWatcher;
};
