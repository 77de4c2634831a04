#include "printloop/PrintLoopThread.h"

#include "framework/Exceptions.h"
#include "framework/MessageBox.h"
#include "history/HistoryTexts.h"
#include "printers/PipeFactory.h"
#include "printloop/CopySender.h"
#include "printloop/PrinterWait.h"

#include <objbase.h>

#include <memory>

namespace {
// What the user is shown when a copy fails, and what the history keeps.
const char kFailedText[] = "Print Job Failed";
const char kNotRecordedReason[] = "Copy sent but not recorded";
const char kNotRecordedText[] =
    "Morvane could not record in the registry that a copy was sent, so it stopped before "
    "sending another. Press Start to go on. If Morvane closes before the record is made, that "
    "copy may be sent again at the next start.";
// Waits before each new try of a record that failed.
const DWORD kRecordRetryMs[] = {250, 1000, 2000};

// The history's result for a run whose every copy went out: "Printed", with
// the queue's word for an error one of them met there ("Printed (spooler
// reports: paper out)").
std::string PrintedResult(const CString& strQueueWord) {
    if (strQueueWord.IsEmpty())
        return ResultPrinted();
    return ResultPrinted() + " (" + AnsiToUtf8(strQueueWord) + ")";
}
} // namespace

// The printer wait's view of the loop, for one job.
class CPrintLoopThread::WaitHost : public IPrinterWaitHost {
public:
    WaitHost(CPrintLoopThread& loop, CQueuedJob* pJob) : m_loop(loop), m_pJob(pJob) {}
    bool ReadSettings(CSpoolerSetup& setup) override {
        CLock gate(m_loop.m_csGate);
        if (m_loop.IsStoppedForGood())
            return false;
        setup = *m_loop.m_pSetup;
        return true;
    }
    CPrinter* MakePrinter(CSpoolerSetup* pSetup) override { return m_loop.MakePrinter(pSetup); }
    bool ShowPaused(const CString& strWord) override {
        if (strWord.IsEmpty())
            return m_loop.SetStatusText(m_pJob, strWord);
        if (!m_loop.SetStatusText(m_pJob, "Waiting for printer: " + strWord))
            return false;
        CLock gate(m_loop.m_csGate);
        if (!m_loop.IsStoppedForGood())
            m_loop.SetActivity(
                WorkerActivity::Make(WorkerActivity::Kind::Waiting, m_pJob->GetName(), strWord));
        return true;
    }
    bool StopAsked() override { return !m_loop.m_bRunning || m_loop.m_bStopRequested; }
    void Pause(DWORD dwMs) override { WaitForSingleObject(m_loop.m_hWake.get(), dwMs); }
    ULONGLONG Now() override { return GetTickCount64(); }

private:
    CPrintLoopThread& m_loop;
    CQueuedJob* m_pJob;
};

// The copy sender's view of the loop, for one copy.
class CPrintLoopThread::CopyProgress : public ICopyProgress {
public:
    CopyProgress(CPrintLoopThread& loop, CQueuedJob* pJob, int nCopy, int nTotal)
        : m_loop(loop), m_pJob(pJob), m_nCopy(nCopy), m_nTotal(nTotal) {}
    // The program is closing in the middle of the document.
    bool MayContinue() override { return !m_loop.m_bStopRequested; }
    bool Progress(int nPercent) override {
        CLock gate(m_loop.m_csGate);
        if (m_loop.IsStoppedForGood())
            return false;
        m_loop.m_watcher.NextStep();
        m_loop.m_bWaitTextShown = false;
        CLock lock(m_pJob->m_Lock);
        m_pJob->m_strStatus.Format("Spooling %d of %d   %d%%", m_nCopy, m_nTotal, nPercent);
        m_loop.InvalidateJobList();
        return true;
    }

private:
    CPrintLoopThread& m_loop;
    CQueuedJob* m_pJob;
    int m_nCopy, m_nTotal;
};

CPrintLoopThread::CPrintLoopThread(IPrintLoopOwner* pOwner, CJobList* pJobList,
                                   CSpoolerSetup* pSetup)
    : m_pOwner(pOwner), m_pJobList(pJobList), m_pSetup(pSetup),
      m_hWake(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {
    // Without its event the worker could not wait for work.
    if (!m_hWake)
        AfxThrowMemoryException();
}

CPrintLoopThread::~CPrintLoopThread() = default;

void CPrintLoopThread::SetRunning(BOOL bRunning) {
    m_bRunning = bRunning ? TRUE : FALSE;
    SetEvent(m_hWake.get());
}

void CPrintLoopThread::NotifyQueueChanged() {
    SetEvent(m_hWake.get());
}

void CPrintLoopThread::SetFailurePolicy(bool bRetry, DWORD dwRetryMinutes) {
    m_dwRetryMinutes = dwRetryMinutes;
    m_bRetry = bRetry;
}

WorkerActivity CPrintLoopThread::GetActivity() const {
    CLock lock(m_csActivity);
    return m_activity;
}

void CPrintLoopThread::SetActivity(const WorkerActivity& activity) {
    {
        CLock lock(m_csActivity);
        if (m_activity == activity)
            return;
        m_activity = activity;
    }
    m_pOwner->NotifyActivityChanged();
}

void CPrintLoopThread::SetPageCountPeriods(DWORD dwPollMs, DWORD dwLimitMs) {
    m_pPageCounter =
        std::make_unique<CPageCounter>(static_cast<IPagesCountedSink&>(*this), dwPollMs, dwLimitMs);
}

BOOL CPrintLoopThread::StopForGood() {
    // Page counts still awaited are dropped: none reaches the owner from now;
    // nor does the fate of a document still followed in a queue.
    m_pPageCounter->End();
    m_follower.End();
    // First ask: a worker between copies, or one that is ending a document
    // (handing it to the printer), settles the job itself, counting that
    // copy, and ends; one in the middle of a document drops it unended.
    m_bStopRequested = true;
    m_bRunning = FALSE;
    SetEvent(m_hWake.get());
    {
        // Entries still waiting for their documents go out as they are; from
        // here on none waits (m_bStopRequested).
        CLock gate(m_csGate);
        if (!IsStoppedForGood())
            FlushFollowedRuns();
    }
    const HANDLE hWorker = GetHandle();
    if (hWorker && WaitForSingleObject(hWorker, kStopWaitMs) != WAIT_OBJECT_0) {
        // Then give up on a worker still inside the output: from here on it
        // touches nothing, and the job keeps the copies not completely sent.
        CLock gate(m_csGate);
        GiveUp();
    }
    // One deadline from here: the watcher aborts the printer the worker may
    // be blocked in (the document is dropped, never ended, and the blocked
    // call returns) and ends; the worker and the watcher are waited for
    // together, however slow the abort.
    m_watcher.End(true);
    HANDLE handles[2];
    DWORD n = 0;
    if (hWorker)
        handles[n++] = hWorker;
    if (HANDLE hWatcher = m_watcher.Handle())
        handles[n++] = hWatcher;
    if (n == 0)
        return TRUE;
    return WaitForMultipleObjects(n, handles, TRUE, kGiveUpWaitMs) < WAIT_OBJECT_0 + n ? TRUE
                                                                                       : FALSE;
}

void CPrintLoopThread::GiveUp() {
    if (m_bStoppedForGood.exchange(true) || !m_pCurrentJob)
        return;
    CLock lock(m_pCurrentJob->m_Lock);
    m_pCurrentJob->m_strStatus.Empty();
    m_pCurrentJob->m_bBusy = FALSE;
    m_pCurrentJob->m_nCopies = m_nJobCopies - m_nCopiesDone;
    m_pCurrentJob = nullptr;
}

BOOL CPrintLoopThread::InitInstance() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        // Each copy's component made from one class object (PipeFactory.h).
        CPipeFactoryScope pipeFactory;
        m_watcher.Start();
        RunLoop();
        // Only a worker that has left every output gets here.
        m_watcher.End(false);
    }
    CoUninitialize();
    return FALSE;
}

void CPrintLoopThread::OnWaitText(const CString& strText, unsigned nStep) {
    CString strStatus = "Waiting for printer: ";
    strStatus += strText;
    CLock gate(m_csGate);
    // Given up on, between jobs, at another copy, or data moved since.
    if (IsStoppedForGood() || !m_pCurrentJob || m_watcher.Step() != nStep)
        return;
    m_bWaitTextShown = true;
    SetActivity(
        WorkerActivity::Make(WorkerActivity::Kind::Waiting, m_pCurrentJob->GetName(), strText));
    CLock jobLock(m_pCurrentJob->m_Lock);
    m_pCurrentJob->m_strStatus = strStatus;
    InvalidateJobList();
}

CSilenceRule& CPrintLoopThread::SilenceOf(const CString& strOutput) {
    if (m_strAskedOutput != strOutput) {
        m_strAskedOutput = strOutput;
        m_silence = CSilenceRule();
    }
    return m_silence;
}

void CPrintLoopThread::BeginPageCount(bool bSilent) {
    CSpoolerSetup setup;
    {
        CLock gate(m_csGate);
        if (IsStoppedForGood() || m_bStopRequested)
            return;
        setup = *m_pSetup;
    }
    // Outside the gate: the printer may take a couple of seconds to answer.
    std::unique_ptr<IPageCountSource> pSource;
    if (!bSilent) {
        if (std::unique_ptr<CPrinter> printer{MakePrinter(&setup)})
            pSource = printer->MakePageCountSource(&setup);
    }
    const bool bSource = pSource != nullptr;
    const unsigned long nToken = m_pPageCounter->JobStarting(std::move(pSource));
    CLock gate(m_csGate);
    m_nPageToken = nToken;
    m_bPageSource = bSource;
}

void CPrintLoopThread::OnPagesCounted(unsigned long nToken, std::optional<unsigned long> pages) {
    CLock gate(m_csGate);
    if (!IsStoppedForGood())
        m_pOwner->OnJobPagesCounted(nToken, pages);
}

bool CPrintLoopThread::WaitForWork() {
    for (;;) {
        {
            // The queue belongs to the window: asked only under the gate,
            // and only while the worker has not been given up on.
            CLock gate(m_csGate);
            if (IsStoppedForGood() || m_bStopRequested)
                return false;
            if (m_bRunning && m_pJobList->HasReadyJob())
                return true;
            SetActivity(WorkerActivity());
        }
        WaitForSingleObject(m_hWake.get(), INFINITE);
    }
}

void CPrintLoopThread::RunLoop() {
    while (WaitForWork()) {
        CQueuedJob* pJob;
        int n;
        CString strOutput;
        {
            CLock gate(m_csGate);
            if (IsStoppedForGood())
                return;
            pJob = m_pJobList->TakeHead();
            if (!pJob)
                continue;
            {
                CLock lock(pJob->m_Lock);
                n = pJob->m_nCopies;
            }
            m_pCurrentJob = pJob;
            ++m_nRun;
            m_strJobOutput = OutputCaptionName(CSpoolerSetup(*m_pSetup));
            strOutput = m_strJobOutput;
            m_nJobCopies = n;
            m_nCopiesDone = 0;
            m_bWaitTextShown = false;
            m_nPageToken = 0;
            m_bPageSource = false;
        }

        int nSent = 0;
        bool bFailed = false;
        // The words for the failure that ends the run (bFailed), or for the
        // job's own file when the job is held (bHeld).
        CString strFailure;
        bool bHeld = false;
        // A copy went out but its record did not reach the disk: the queue
        // stops after this job.
        bool bNotRecorded = false;
        bool bFirstTry = true;
        // A printer that did not answer is not asked again for this job, nor
        // while the rule takes it for silent or lets it rest after a miss.
        CSilenceRule& silence = SilenceOf(strOutput);
        bool bAskPrinter = silence.AskBeforeCopy(GetTickCount64());
        try {
            WaitHost host(*this, pJob);
            while (m_bRunning && nSent < n) {
                if (m_bRetry && !HoldWhileAHandedCopyFails(pJob))
                    break;
                if (bAskPrinter) {
                    const PrinterWait wait = WaitForPrinter(host, m_dwPrinterPollMs, silence);
                    if (wait == PrinterWait::Stopped)
                        break;
                    bAskPrinter = wait != PrinterWait::Silent;
                }
                if (bFirstTry)
                    BeginPageCount(!bAskPrinter);
                bFirstTry = false;
                const CopyOutcome outcome = SendOneCopy(pJob, nSent + 1);
                const bool bSent = outcome.result == CopyResult::Sent;
                bool bRecorded = true;
                {
                    CLock gate(m_csGate);
                    if (IsStoppedForGood())
                        return;
                    EndCopy(pJob);
                    if (bSent) {
                        m_nCopiesDone = ++nSent;
                        // The store follows at once: a crash now must not
                        // send this copy again.
                        bRecorded = m_pJobList->RecordCopiesLeft(pJob, n - nSent);
                        if (m_retry) {
                            m_retry.reset();
                            m_pOwner->NotifyRetry(RetryNews::Back, CString());
                        }
                    }
                }
                // No copy starts before the last one is on record.
                if (bSent && !bRecorded && !RecordAgain(pJob, n - nSent)) {
                    bNotRecorded = true;
                    break;
                }
                if (bSent)
                    continue;
                // A copy dropped because the program is closing is no failure.
                if (m_bStopRequested || outcome.result == CopyResult::Dropped)
                    break;
                strFailure = outcome.strReason;
                if (!m_bRetry) {
                    bFailed = true;
                    break;
                }
                // The job's own file is no printer's fault: held, and the
                // worker goes on with the next job.
                if (outcome.result == CopyResult::FileUnreadable) {
                    bHeld = true;
                    break;
                }
                bool bGivenUp = false;
                if (!RetryAfter(pJob, n, nSent, strFailure, bGivenUp)) {
                    bFailed = bGivenUp;
                    break;
                }
            }
        } catch (...) {
            // Out of memory (or any other exception) inside a copy: that copy
            // failed like any other, and the job must not stay busy.
            bFailed = !m_bStopRequested;
            strFailure.Empty();
        }

        // What the failure box needs of the window is taken under the gate,
        // while the window is known to be there.
        HWND hBoxOwner = nullptr;
        {
            CLock gate(m_csGate);
            if (IsStoppedForGood())
                return;
            const int done = m_nCopiesDone;
            m_pCurrentJob = nullptr;
            if (bNotRecorded && done < n) {
                bFailed = true;
                strFailure = kNotRecordedReason;
            }
            if (bFailed)
                RecordHistory(pJob, n, done,
                              (m_bRetry || bNotRecorded) && !strFailure.IsEmpty() ? strFailure
                                                                                  : kFailedText);
            if (bHeld)
                RecordHistory(pJob, n, done, strFailure + ", held");
            if (done >= n) {
                // Every copy went out (or there were none to send).
                if (!bFailed)
                    RecordHistory(pJob, n, done, CString(), m_bPageSource ? m_nPageToken : 0);
                // The owner records the file as done before the job's record
                // goes: a crash between the two must not print it again.
                m_pOwner->NotifyJobDone(pJob->GetPath());
                m_pJobList->RemoveJob(pJob);
                m_pOwner->RequestRefreshJobList();
            } else {
                // Stopped, failed or held: the job stays where it is, idle,
                // with the copies that did not get through.
                {
                    CLock lock(pJob->m_Lock);
                    pJob->m_strStatus.Empty();
                    if (bHeld) {
                        pJob->m_strStatus = "Held: ";
                        pJob->m_strStatus += strFailure;
                    }
                    pJob->m_bHeld = bHeld;
                    pJob->m_bBusy = FALSE;
                    pJob->m_nCopies = n - done;
                }
                InvalidateJobList();
            }
            const auto followed = m_followed.find(m_nRun);
            if (followed != m_followed.end() && !followed->second.entry)
                m_followed.erase(followed);
            if (m_nPageToken) {
                m_pPageCounter->JobEnded(m_nPageToken, done >= n && !bFailed);
                m_nPageToken = 0;
            }
            SetActivity(WorkerActivity());
            if (!m_bRunning || bFailed)
                m_retry.reset();
            if (bFailed || bNotRecorded) {
                m_bRunning = FALSE;
                m_pOwner->NotifyWorkerStopped();
                hBoxOwner = m_pOwner->GetMessageBoxOwner();
            }
        }
        // A window that is closing gets no box; the job keeps its copies.
        if ((bFailed || bNotRecorded) && !m_bStopRequested)
            ShowMessageBox(hBoxOwner, bNotRecorded ? kNotRecordedText : kFailedText, MB_OK);
    }
}

bool CPrintLoopThread::RecordAgain(CQueuedJob* pJob, int nCopiesLeft) {
    for (const DWORD dwWaitMs : kRecordRetryMs) {
        // On the retry waits' clock (Now, WaitForWake).
        const ULONGLONG until = Now() + dwWaitMs;
        for (ULONGLONG now = Now(); now < until && !m_bStopRequested; now = Now())
            WaitForWake(static_cast<DWORD>(until - now));
        CLock gate(m_csGate);
        if (IsStoppedForGood())
            return false;
        if (m_pJobList->RecordCopiesLeft(pJob, nCopiesLeft))
            return true;
    }
    return false;
}

bool CPrintLoopThread::RetryAfter(CQueuedJob* pJob, int nCopies, int nSent,
                                  const CString& strReason, bool& bGivenUp) {
    bGivenUp = false;
    const bool bFirst = !m_retry;
    if (bFirst)
        m_retry.emplace(m_dwRetryMinutes.load());
    const std::optional<DWORD> wait = m_retry->Failed(Now());
    {
        CLock gate(m_csGate);
        if (IsStoppedForGood())
            return false;
        if (!wait) {
            // The time ran out: the failure ends the run, as without retry.
            m_pOwner->NotifyRetry(RetryNews::GivenUp, strReason);
            bGivenUp = true;
            return false;
        }
        RecordHistory(pJob, nCopies, nSent, strReason + ", retrying");
        if (bFirst)
            m_pOwner->NotifyRetry(RetryNews::Failing, strReason);
        SetActivity(
            WorkerActivity::Make(WorkerActivity::Kind::Retrying, pJob->GetName(), strReason));
    }
    return WaitToRetry(pJob, *wait, strReason);
}

bool CPrintLoopThread::WaitToRetry(CQueuedJob* pJob, DWORD dwWaitMs, const CString& strReason) {
    const ULONGLONG until = Now() + dwWaitMs;
    for (;;) {
        if (!m_bRunning || m_bStopRequested)
            return false;
        const ULONGLONG now = Now();
        if (now >= until)
            return true;
        const DWORD left = static_cast<DWORD>(until - now);
        if (!SetStatusText(pJob, RetryingText(left, strReason)))
            return false;
        // Woken at each whole second left, so the row counts down.
        const DWORD slice = left % 1000 ? left % 1000 : 1000;
        WaitForWake(slice);
    }
}

CopyOutcome CPrintLoopThread::SendOneCopy(CQueuedJob* pJob, int nCopy) {
    int nTotal;
    CString strPath, strName;
    // One consistent state of the settings for the whole copy.
    CSpoolerSetup setup;
    {
        // The job and the settings belong to the window: read under the
        // gate, and not at all once the worker has been given up on (the
        // window may have destroyed them by then).
        CLock gate(m_csGate);
        if (IsStoppedForGood())
            return CopyOutcome{CopyResult::Dropped, CString()};
        {
            CLock lock(pJob->m_Lock);
            nTotal = pJob->m_nCopies;
            strPath = pJob->m_strPath;
            strName = pJob->m_strName;
        }
        setup = *m_pSetup;
        m_strJobOutput = OutputCaptionName(setup);
        SetActivity(WorkerActivity::Make(WorkerActivity::Kind::Printing, strName, CString(), nCopy,
                                         nTotal));
    }
    std::unique_ptr<CPrinter> printer(MakePrinter(&setup));
    if (!printer)
        return CopyOutcome{CopyResult::PrinterFailed, "Out of memory"};
    // With retry on, a failure is told by the row, the history and the
    // notification area, never by a box that stops the worker.
    printer->SetQuiet(m_bRetry);
    // Reachable by StopForGood's abort until it is deleted; cleared first,
    // since this goes before the printer.
    struct Active {
        CStatusWatcher& watcher;
        ~Active() { watcher.SetActive(nullptr); }
    } active{m_watcher};
    m_watcher.SetActive(printer.get());

    CopyProgress progress(*this, pJob, nCopy, nTotal);
    CopyOutcome outcome = SendCopy(*printer, setup, strPath, strName, progress);
    // A copy ended after the worker was given up on is no longer counted
    // here: the job already kept it.
    if (outcome.result == CopyResult::Sent && IsStoppedForGood())
        outcome.result = CopyResult::Dropped;
    if (outcome.result == CopyResult::Sent)
        FollowHandedDocument(*printer);
    return outcome;
}

void CPrintLoopThread::FollowHandedDocument(CPrinter& printer) {
    std::unique_ptr<IHandedDocument> pDoc = printer.TakeHandedDocument();
    if (!pDoc)
        return;
    unsigned long nRun;
    {
        CLock gate(m_csGate);
        if (IsStoppedForGood() || m_bStopRequested)
            return;
        nRun = m_nRun;
        // Counted first: the follower may report it before Follow returns.
        ++m_followed[nRun].nHanded;
    }
    if (m_follower.Follow(std::move(pDoc), nRun))
        return;
    CLock gate(m_csGate);
    const auto it = m_followed.find(nRun);
    if (it != m_followed.end())
        --it->second.nHanded;
}

void CPrintLoopThread::OnDocumentFollowed(unsigned long nRun, const CString& strWord) {
    CLock gate(m_csGate);
    const auto it = m_followed.find(nRun);
    if (IsStoppedForGood() || it == m_followed.end())
        return;
    FollowedRun& run = it->second;
    ++run.nFollowed;
    if (!strWord.IsEmpty() && run.strWord.IsEmpty()) {
        run.strWord = strWord;
        // The job still in progress shows it until its next progress.
        if (nRun == m_nRun && m_pCurrentJob) {
            m_bWaitTextShown = false;
            const CString strText = strWord.Left(1).MakeUpper() + strWord.Mid(1);
            CLock lock(m_pCurrentJob->m_Lock);
            m_pCurrentJob->m_strStatus = strText;
            InvalidateJobList();
        }
    }
    if (!run.entry || (run.nFollowed < run.nHanded && run.strWord.IsEmpty()))
        return;
    CHistoryEntry entry = *run.entry;
    entry.result = PrintedResult(run.strWord);
    m_followed.erase(it);
    m_pOwner->RecordHistory(entry);
}

void CPrintLoopThread::RecordPrinted(const CHistoryEntry& entry) {
    const auto it = m_followed.find(m_nRun);
    if (it == m_followed.end()) {
        m_pOwner->RecordHistory(entry);
        return;
    }
    FollowedRun& run = it->second;
    if (run.nFollowed < run.nHanded && run.strWord.IsEmpty() && !m_bStopRequested) {
        run.entry = entry;
        return;
    }
    CHistoryEntry out = entry;
    out.result = PrintedResult(run.strWord);
    m_followed.erase(it);
    m_pOwner->RecordHistory(out);
}

void CPrintLoopThread::FlushFollowedRuns() {
    for (auto& item : m_followed) {
        FollowedRun& run = item.second;
        if (!run.entry)
            continue;
        run.entry->result = PrintedResult(run.strWord);
        m_pOwner->RecordHistory(*run.entry);
    }
    m_followed.clear();
}

bool CPrintLoopThread::HoldWhileAHandedCopyFails(CQueuedJob* pJob) {
    CString strShown;
    for (;;) {
        CString strWord;
        if (!m_follower.InError(strWord))
            break;
        if (!m_bRunning || m_bStopRequested)
            return false;
        if (strWord != strShown && !SetStatusText(pJob, "Waiting for printer: " + strWord))
            return false;
        strShown = strWord;
        WaitForSingleObject(m_hWake.get(), CDocumentFollower::kAskEveryMs);
    }
    return strShown.IsEmpty() || SetStatusText(pJob, CString());
}

void CPrintLoopThread::EndCopy(CQueuedJob* pJob) {
    // A wait text the watcher asked for during this copy is stale from now.
    m_watcher.NextStep();
    if (!m_bWaitTextShown)
        return;
    m_bWaitTextShown = false;
    CLock lock(pJob->m_Lock);
    pJob->m_strStatus.Empty();
    InvalidateJobList();
}

bool CPrintLoopThread::SetStatusText(CQueuedJob* pJob, const CString& strText) {
    CLock gate(m_csGate);
    if (IsStoppedForGood())
        return false;
    m_bWaitTextShown = false;
    CLock lock(pJob->m_Lock);
    pJob->m_strStatus = strText;
    InvalidateJobList();
    return true;
}

void CPrintLoopThread::RecordHistory(CQueuedJob* pJob, int nAsked, int nSent,
                                     const CString& strFailure, unsigned long nPageToken) {
    // Out of memory here costs the entry, never the job or the worker.
    try {
        CHistoryEntry entry;
        entry.time = LocalTimeStamp();
        {
            CLock lock(pJob->m_Lock);
            entry.name = AnsiToUtf8(pJob->m_strName);
            entry.path = AnsiToUtf8(pJob->m_strPath);
        }
        entry.copiesAsked = nAsked;
        entry.copiesSent = nSent;
        entry.output = AnsiToUtf8(m_strJobOutput);
        entry.result = strFailure.IsEmpty() ? ResultPrinted() : ResultFailed(strFailure);
        entry.pageToken = nPageToken;
        if (strFailure.IsEmpty())
            RecordPrinted(entry);
        else
            m_pOwner->RecordHistory(entry);
    } catch (...) {
    }
}

void CPrintLoopThread::InvalidateJobList() {
    m_pOwner->RequestRepaintJobList();
}
