// CPrintLoopThread: the one worker. While running it takes the job at the
// head of the queue, sends the job's file once per copy to a fresh printer
// made from a copy of the settings, writes the progress into the job and
// removes the job when every copy has been sent. A copy that fails stops the
// worker and shows "Print Job Failed"; the job stays at the head with the
// copies not yet sent, the failed one included. A job that leaves with every
// copy sent, and a copy that fails, each give the owner one history entry.
// With retry on (SetFailurePolicy), a copy the output failed is sent again
// whole after the retry rule's wait (RetryRule.h), the row counting down,
// until the rule gives up; only then the failure stops the worker as above.
// A job whose own file cannot be read is held instead (CQueuedJob) and the
// worker goes on with the next. A copy counts only once it got through
// whole, so a retried copy counts once.
// It composes parts with headers of their own: the wait before a copy
// (PrinterWait.h), the sending of one copy (CopySender.h), the status
// watcher with the active-printer slot (StatusWatcher.h), the printer's
// own page count per job run (PageCounter.h) and the following of copies
// an output handed on to a queue of its own (DocumentFollower.h): a run's
// "Printed" history entry waits for them (up to the send limit) and names
// the first error the queue reported ("Printed (spooler reports: paper
// out)"), and with retry on a copy waits while one of them is in error. This class holds
// the job loop: taking a job, counting and settling its copies, Start, Stop
// and closing.
//
// Threads: the window calls SetRunning, NotifyQueueChanged and StopForGood;
// the loop runs on the worker's thread and the watcher on its own. The
// worker waits on an event, never spins.
// Ownership: the worker owns nothing it points to; the owner keeps the
// queue, the settings and itself alive until StopForGood has returned.
//
// Lock rules (the one statement of them; the queue, the jobs, the display
// lock and the printers refer here):
//  - The gate (m_csGate) guards everything the worker and the watcher touch
//    of the window's objects: the queue, the jobs in it, the settings and
//    every call into the owner (IPrintLoopOwner). They touch them only
//    inside the gate and only while the worker has not been given up on
//    (IsStoppedForGood); StopForGood gives the worker up inside the gate.
//    So once StopForGood has returned nothing of the window's is touched
//    again. The gate is never held across a call into a printer, a wait for
//    an event or a message box, so waiting for it is short.
//  - The queue's lock (CJobList::GetListLock) guards the list and its
//    store; a job's lock (CQueuedJob::m_Lock) guards its copies, busy flag
//    and status text. The window's thread takes them without the gate.
//  - The settings (CSpoolerSetup) guard themselves with a lock of their
//    own, taken last and with nothing taken inside it.
//  - The display lock (g_csDisplay, DisplayLock.h) serialises rebuilds of
//    the job list box's rows on the window's thread and is held while the
//    queue is read for them, so it comes before the queue's lock; the
//    worker and the watcher never take it.
//  - The active-printer slot (CStatusWatcher's own lock) is innermost:
//    nothing is taken inside it, and it is never taken inside the gate.
//    CPrinter::Abort is called under it, from the watcher's thread, while
//    the worker may be inside Open, Send_Data or Close of that printer, or
//    between them; the worker clears the slot before deleting the printer.
//  - The history's append lock (CJobHistory) is innermost as well: the
//    owner's RecordHistory, called inside the gate, only queues the entry
//    under it and posts; the file is written on the history's own thread
//    under its file lock (and its tell lock around the failure handler),
//    which the worker never takes.
//  - The folder watcher's lock (CFolderWatcher::m_Lock) and the done files'
//    lock (CDoneFiles::m_Lock) are innermost: the owner's NotifyJobDone,
//    called inside the gate, records the file in the done files' journal
//    under the latter and returns; the watcher's lock is taken only by the
//    window's thread and the watcher's own.
//  - No file is read, written or moved inside the gate: copies are read and
//    sent outside it, history lines and done files go to threads of their
//    own. Inside it are only the registry's writes of the queue's store (a
//    copy's record, flushed) and of the done files' journal.
//  - The activity's lock (m_csActivity) is innermost: the worker changes
//    the activity under it, inside the gate; any thread reads it.
//  - The page counter's lock is innermost like the slot's; its sink lock is
//    held while the page counter's thread calls in (OnPagesCounted), which
//    takes the gate: so CPageCounter::End is never called inside the gate.
//  - The document follower's state lock is innermost (InError may be asked
//    inside the gate); its sink lock is held while its thread calls in
//    (OnDocumentFollowed), which takes the gate: so CDocumentFollower::End
//    is never called inside the gate.
//  Order: the gate (worker, watcher) or the display lock (window), then the
//  queue's lock, then one job's lock, then the settings' lock. No thread
//  waits for the queue's lock while holding a job's lock, and no code holds
//  two jobs' locks at once.
#pragma once

#include "framework/Sync.h"
#include "framework/UniqueHandle.h"
#include "framework/WinThread.h"
#include "printers/Printer.h"
#include "printers/SilenceRule.h"
#include "printloop/CopySender.h"
#include "printloop/DocumentFollower.h"
#include "printloop/PageCounter.h"
#include "printloop/PrintLoopOwner.h"
#include "printloop/RetryRule.h"
#include "printloop/StatusWatcher.h"
#include "queue/JobList.h"
#include "settings/SpoolerSetup.h"

#include <atomic>
#include <map>
#include <memory>
#include <optional>

class CPrintLoopThread : public CWinThread,
                         private IWaitTextSink,
                         private IPagesCountedSink,
                         private IDocumentFateSink {
public:
    // How long StopForGood waits for a worker to settle by itself (one that
    // is ending a document gets this long to finish it) ...
    static constexpr DWORD kStopWaitMs = 3000;
    // ... and then, once it has given the worker up and had its printer
    // aborted, for the worker and the watcher together.
    static constexpr DWORD kGiveUpWaitMs = 1500;
    // What closing promises, whatever the output does.
    static constexpr DWORD kCloseWithinMs = 5000;
    static_assert(kStopWaitMs + kGiveUpWaitMs < kCloseWithinMs, "closing takes too long");

    // How often the watcher looks at a copy in progress.
    static constexpr DWORD kWatchMs = CStatusWatcher::kWatchMs;
    // How often a paused printer is asked again before a copy.
    static constexpr DWORD kPrinterPollMs = 2000;
    // A printer that left several state questions in a row unanswered is
    // not asked again (before a copy, or for its page counter) for a while,
    // across jobs (CSilenceRule, the same rule as the component's).

    // Raises the out-of-memory exception when its events cannot be made.
    CPrintLoopThread(IPrintLoopOwner* pOwner, CJobList* pJobList, CSpoolerSetup* pSetup);
    // Ends the watcher and waits for it. Only once StopForGood has returned
    // TRUE, or when the thread was never started: an abandoned worker's
    // object must stay.
    ~CPrintLoopThread() override;

    // Start (TRUE) or Stop (FALSE). Stop takes effect between copies, and
    // before a copy whose printer is being asked.
    void SetRunning(BOOL bRunning);
    BOOL IsRunning() const { return m_bRunning.load(); }
    // A job was queued: a waiting worker looks at the queue at once.
    void NotifyQueueChanged();
    // Ends the worker for good, within kCloseWithinMs even when the output
    // is blocked. Afterwards the worker sends no further byte and touches no
    // job, queue or window; the job in progress keeps the copies not yet
    // completely sent (a document in the middle of being sent is aborted,
    // never ended; one being ended when the stop comes is waited for, up to
    // kStopWaitMs, and counts when it got through). A worker still inside
    // the output then is given up on, its printer aborted on the watcher's
    // thread (which makes the blocked call return), and the worker and the
    // watcher are waited for together for kGiveUpWaitMs. Returns TRUE when
    // both have ended, FALSE when not (the worker then only returns from the
    // output and ends, and the object must stay). Call from the window's
    // thread.
    BOOL StopForGood();
    // Whether StopForGood has been called.
    BOOL IsStopRequested() const { return m_bStopRequested.load(); }
    // What a failed copy does from the next failure on: stop (bRetry
    // false) or retry for dwRetryMinutes. Any thread.
    void SetFailurePolicy(bool bRetry, DWORD dwRetryMinutes);
    // What the worker is doing now. Any thread.
    WorkerActivity GetActivity() const;

    BOOL InitInstance() override;

    void SetPrinterPollMs(DWORD dwMs) { m_dwPrinterPollMs = dwMs; }
    // The page count's periods (tests shorten them); before the worker
    // takes its first job.
    void SetPageCountPeriods(DWORD dwPollMs, DWORD dwLimitMs);

protected:
    // The printer for one copy; tests stand in for the outputs here.
    virtual CPrinter* MakePrinter(CSpoolerSetup* pSetup) { return Create_Printer(pSetup); }
    // The retry waits' clock and wait (also the waits between tries of a
    // copy's record); tests run them on a clock of their own.
    virtual ULONGLONG Now() { return GetTickCount64(); }
    // Up to dwMs, less when Start, Stop, closing or a queued job wake the worker.
    virtual void WaitForWake(DWORD dwMs) { WaitForSingleObject(m_hWake.get(), dwMs); }

private:
    class WaitHost;
    class CopyProgress;

    void RunLoop();
    bool WaitForWork();
    // Sends copy nCopy (from 1) of the job.
    CopyOutcome SendOneCopy(CQueuedJob* pJob, int nCopy);
    // After a failed copy with retry on: whether to try again (after the
    // wait, done here); false when the rule gave up (bGivenUp) or Stop or
    // closing ended the wait.
    // A copy's record failed: tries it again a few times, a while apart;
    // false when it never reached the disk (or the worker was given up on).
    bool RecordAgain(CQueuedJob* pJob, int nCopiesLeft);
    bool RetryAfter(CQueuedJob* pJob, int nCopies, int nSent, const CString& strReason,
                    bool& bGivenUp);
    // Counts the row down to the next try; false when Stop or closing came.
    bool WaitToRetry(CQueuedJob* pJob, DWORD dwWaitMs, const CString& strReason);
    // Under the gate: what the worker does now; the owner hears of a change.
    void SetActivity(const WorkerActivity& activity);
    // Under the gate, after every copy: a wait text shown for it goes.
    void EndCopy(CQueuedJob* pJob);
    // Under the gate: the worker is given up on; the job in progress keeps
    // the copies not completely sent.
    void GiveUp();
    // Sets the job's status text; false when the worker was stopped for good.
    bool SetStatusText(CQueuedJob* pJob, const CString& strText);
    bool IsStoppedForGood() const { return m_bStoppedForGood.load(); }
    void InvalidateJobList();
    // Under the gate: the history's entry for the job in progress, which
    // left the queue with every copy sent or had a copy fail.
    // nPageToken: the run's page token when the printer's count may follow.
    // strFailure: the failure's words, or empty when every copy went out.
    void RecordHistory(CQueuedJob* pJob, int nAsked, int nSent, const CString& strFailure,
                       unsigned long nPageToken = 0);
    // IWaitTextSink: the watcher's text goes into the row of the copy it was
    // asked for, unless progress or another copy came since.
    void OnWaitText(const CString& strText, unsigned nStep) override;
    // Before a run's first copy: reads the printer's counter (outside the
    // gate) and sets m_nPageToken; a printer known to be silent gets no
    // source (the run still begins, so no earlier run counts its pages).
    void BeginPageCount(bool bSilent);
    // Worker thread only: the answers and misses of the output (another
    // output starts afresh).
    CSilenceRule& SilenceOf(const CString& strOutput);
    // IPagesCountedSink: handed to the owner inside the gate.
    void OnPagesCounted(unsigned long nToken, std::optional<unsigned long> pages) override;
    // After a copy sent: follows the document its output handed on to a
    // queue of its own (the spooler's), if any, for the run in progress.
    void FollowHandedDocument(CPrinter& printer);
    // IDocumentFateSink: counts the run's document as followed; an error
    // shows in the job's row, and a held history entry goes out once its
    // documents are all followed (or one reported an error).
    void OnDocumentFollowed(unsigned long nRun, const CString& strWord) override;
    // With retry on, before a copy: holds it while a document handed on
    // earlier is in an error state; false when Stop or closing came.
    bool HoldWhileAHandedCopyFails(CQueuedJob* pJob);
    // Under the gate: the history entry of a run whose every copy went out,
    // now or, while its documents are still followed, once they are.
    void RecordPrinted(const CHistoryEntry& entry);
    // Under the gate: held entries go out as they are (closing).
    void FlushFollowedRuns();

    std::atomic<BOOL> m_bRunning{FALSE};
    std::atomic<bool> m_bRetry{false};
    std::atomic<DWORD> m_dwRetryMinutes{30};
    // Asked to end for good (the worker settles and ends by itself) ...
    std::atomic<bool> m_bStopRequested{false};
    // ... and given up on: the worker may no longer touch anything.
    std::atomic<bool> m_bStoppedForGood{false};
    IPrintLoopOwner* m_pOwner;
    CJobList* m_pJobList;
    CSpoolerSetup* m_pSetup;

    DWORD m_dwPrinterPollMs = kPrinterPollMs;
    UniqueHandleNull m_hWake;
    CCriticalSection m_csGate;
    // Under m_csGate: the job in progress, the copies it had and those fully
    // sent, and whether its row shows the watcher's wait text.
    CQueuedJob* m_pCurrentJob = nullptr;
    int m_nJobCopies = 0;
    int m_nCopiesDone = 0;
    // The output the job's last copy went to, as the caption names it.
    CString m_strJobOutput;
    bool m_bWaitTextShown = false;
    // Under m_csGate: the page count token of the job run in progress (see
    // IPrintLoopOwner::OnJobPagesCounted), from its first copy until the end
    // of the run; 0 before its first copy.
    unsigned long m_nPageToken = 0;
    // Under m_csGate: whether the run's output can count pages at all (a
    // network printer); only then does its history entry wait for a count.
    bool m_bPageSource = false;

    // Worker thread only: the spell of failures in progress, if any.
    std::optional<CRetryRule> m_retry;

    mutable CCriticalSection m_csActivity;
    WorkerActivity m_activity; // under m_csActivity

    // Worker thread only: the output last asked, and its answers.
    CString m_strAskedOutput;
    CSilenceRule m_silence;

    // Under m_csGate: the job run in progress (or last), counting from 1,
    // and what is known of the documents each run handed on to a queue:
    // how many were handed and followed, the queue's first error word, and
    // the run's history entry while it waits for them.
    unsigned long m_nRun = 0;
    struct FollowedRun {
        int nHanded = 0;
        int nFollowed = 0;
        CString strWord;
        std::optional<CHistoryEntry> entry;
    };
    std::map<unsigned long, FollowedRun> m_followed;

    CStatusWatcher m_watcher{*this};
    std::unique_ptr<CPageCounter> m_pPageCounter =
        std::make_unique<CPageCounter>(static_cast<IPagesCountedSink&>(*this));
    // Last, so it ends (and calls in no more) before the rest goes.
    CDocumentFollower m_follower{static_cast<IDocumentFateSink&>(*this)};
};
