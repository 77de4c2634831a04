#include "printloop/PrintLoopThread.h"

#include "framework/MessageBox.h"

#include <objbase.h>

#include <cstdio>
#include <memory>
#include <new>
#include <vector>

namespace {

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using UniqueStream = std::unique_ptr<FILE, FileCloser>;

int Percentage(unsigned long long sent, unsigned long long size) {
    if (size == 0)
        return 100;
    const double pct = static_cast<double>(sent) * 100.0 / static_cast<double>(size);
    // A file that grew while it was read must not show more than all of it.
    return pct >= 100.0 ? 100 : static_cast<int>(pct);
}

// Every copy that does not get through whole (a failure, Stop, the program
// closing in the middle of the document) ends here: the document is
// aborted, and the printer object is then released without Close, because
// closing would hand the part that got through to the printer (the copy is
// sent again whole later). Returns the copy's result, FALSE.
BOOL LeaveDocumentUnended(CPrinter& printer) {
    printer.Abort();
    return FALSE;
}

} // namespace

CPrintLoopThread::CPrintLoopThread(IPrintLoopOwner* pOwner, CJobList* pJobList,
                                   CSpoolerSetup* pSetup)
    : m_pOwner(pOwner), m_pJobList(pJobList), m_pSetup(pSetup),
      m_hWake(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      m_hWatcherStop(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

CPrintLoopThread::~CPrintLoopThread() {
    StopWatcher();
}

void CPrintLoopThread::SetRunning(BOOL bRunning) {
    m_bRunning = bRunning ? TRUE : FALSE;
    SetEvent(m_hWake.get());
}

void CPrintLoopThread::NotifyQueueChanged() {
    SetEvent(m_hWake.get());
}

BOOL CPrintLoopThread::StopForGood() {
    // First ask: a worker between copies, or one that is ending a document
    // (handing it to the printer), settles the job itself, counting that
    // copy, and ends; one in the middle of a document drops it unended.
    m_bStopRequested = true;
    m_bRunning = FALSE;
    SetEvent(m_hWake.get());
    SetEvent(m_hWatcherStop.get());
    if (GetHandle() && WaitForSingleObject(GetHandle(), kStopWaitMs) == WAIT_OBJECT_0)
        return StopWatcher() ? TRUE : FALSE;

    // Then abandon a worker that is still inside the output: from here on it
    // touches nothing, and the job keeps the copies not completely sent.
    {
        CLock gate(m_csGate);
        if (!m_bStoppedForGood.exchange(true) && m_pCurrentJob) {
            CLock lock(m_pCurrentJob->m_Lock);
            m_pCurrentJob->m_strStatus.Empty();
            m_pCurrentJob->m_bBusy = FALSE;
            m_pCurrentJob->m_nCopies = m_nJobCopies - m_nCopiesDone;
            m_pCurrentJob = nullptr;
        }
    }
    if (!GetHandle())
        return StopWatcher() ? TRUE : FALSE;

    // And cut the output it is blocked in: the document is dropped, never
    // ended, and the blocked call returns. The lock keeps the worker from
    // deleting the printer during the call.
    {
        CLock lock(m_csPrinter);
        if (m_pActivePrinter)
            m_pActivePrinter->Abort();
    }
    const bool bWatcherEnded = StopWatcher();
    return WaitForSingleObject(GetHandle(), kAbortWaitMs) == WAIT_OBJECT_0 && bWatcherEnded ? TRUE
                                                                                            : FALSE;
}

void CPrintLoopThread::SetActivePrinter(CPrinter* pPrinter) {
    CLock lock(m_csPrinter);
    m_pActivePrinter = pPrinter;
    ++m_nOutputStep;
}

BOOL CPrintLoopThread::InitInstance() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    StartWatcher();
    RunLoop();
    // Only a worker that has left every output gets here.
    StopWatcher();
    CoUninitialize();
    return FALSE;
}

void CPrintLoopThread::StartWatcher() {
    CLock lock(m_csWatcher);
    if (m_hWatcher || !m_hWatcherStop)
        return;
    // Without a watcher the row only misses the printer's word.
    m_hWatcher.reset(::CreateThread(nullptr, 0, WatcherEntry, this, 0, nullptr));
}

bool CPrintLoopThread::StopWatcher() {
    if (m_hWatcherStop)
        SetEvent(m_hWatcherStop.get());
    HANDLE h;
    {
        CLock lock(m_csWatcher);
        h = m_hWatcher.get();
    }
    return !h || WaitForSingleObject(h, kWatcherWaitMs) == WAIT_OBJECT_0;
}

DWORD WINAPI CPrintLoopThread::WatcherEntry(void* pParam) {
    // The active printer may be a COM object of the worker's
    // multithreaded apartment.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        static_cast<CPrintLoopThread*>(pParam)->Watch();
    } catch (...) {
        // Out of memory while making a text: the row just shows less.
    }
    CoUninitialize();
    return 0;
}

void CPrintLoopThread::Watch() {
    while (WaitForSingleObject(m_hWatcherStop.get(), kWatchMs) == WAIT_TIMEOUT) {
        CString strText;
        unsigned nStep;
        {
            CLock lock(m_csPrinter);
            if (!m_pActivePrinter)
                continue;
            nStep = m_nOutputStep;
            strText = m_pActivePrinter->GetWaitText();
        }
        if (strText.IsEmpty())
            continue;
        CString strStatus = "Waiting for printer: ";
        strStatus += strText;
        CLock gate(m_csGate);
        // Given up on, between jobs, at another copy, or data moved since.
        if (IsStoppedForGood() || !m_pCurrentJob || m_nOutputStep != nStep)
            continue;
        CLock jobLock(m_pCurrentJob->m_Lock);
        m_pCurrentJob->m_strStatus = strStatus;
        InvalidateJobList();
    }
}

bool CPrintLoopThread::WaitForWork() {
    for (;;) {
        {
            // The queue belongs to the window: asked only under the gate,
            // and only while the worker has not been given up on.
            CLock gate(m_csGate);
            if (IsStoppedForGood() || m_bStopRequested)
                return false;
            if (m_bRunning && m_pJobList->GetCount() > 0)
                return true;
        }
        WaitForSingleObject(m_hWake.get(), INFINITE);
    }
}

void CPrintLoopThread::RunLoop() {
    while (WaitForWork()) {
        CQueuedJob* pJob;
        int n;
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
            m_nJobCopies = n;
            m_nCopiesDone = 0;
        }

        int k = 0;
        BOOL bFailed = FALSE;
        // A printer that did not answer once is not asked again for this job.
        bool bAskPrinter = true;
        try {
            while (m_bRunning && k < n) {
                if (bAskPrinter) {
                    const PrinterWait wait = WaitForPrinter(pJob);
                    if (wait == PrinterWait::Stopped)
                        break;
                    bAskPrinter = wait != PrinterWait::Silent;
                }
                ++k;
                if (!SpoolJob(pJob, k)) {
                    // A copy dropped because the program is closing is no failure.
                    bFailed = !m_bStopRequested;
                    break;
                }
                CLock gate(m_csGate);
                if (IsStoppedForGood())
                    return;
                ++m_nCopiesDone;
                // The store follows at once: a crash now must not send
                // this copy again.
                m_pJobList->RecordCopiesLeft(pJob, n - m_nCopiesDone);
            }
        } catch (...) {
            // Out of memory (or any other exception) inside a copy: that copy
            // failed like any other, and the job must not stay busy.
            bFailed = !m_bStopRequested;
        }

        {
            CLock gate(m_csGate);
            if (IsStoppedForGood())
                return;
            const int done = m_nCopiesDone;
            m_pCurrentJob = nullptr;
            if (done >= n) {
                // Every copy went out (or there were none to send).
                const CString strDonePath = pJob->GetPath();
                m_pJobList->RemoveJob(pJob);
                m_pOwner->NotifyJobDone(strDonePath);
                m_pOwner->RequestRefreshJobList();
            } else {
                // Stopped or failed: the job stays at the head, idle, with
                // the copies that did not get through.
                {
                    CLock lock(pJob->m_Lock);
                    pJob->m_strStatus.Empty();
                    pJob->m_bBusy = FALSE;
                    pJob->m_nCopies = n - done;
                }
                InvalidateJobList();
            }
            if (bFailed) {
                m_bRunning = FALSE;
                m_pOwner->NotifyWorkerStopped();
            }
        }
        if (bFailed)
            ShowMessageBox(m_pOwner->GetMessageBoxOwner(), "Print Job Failed", MB_OK);
    }
}

BOOL CPrintLoopThread::SpoolJob(CQueuedJob* pJob, int nCopy) {
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
            return FALSE;
        {
            CLock lock(pJob->m_Lock);
            nTotal = pJob->m_nCopies;
            strPath = pJob->m_strPath;
            strName = pJob->m_strName;
        }
        setup = *m_pSetup;
    }
    std::unique_ptr<CPrinter> printer(MakePrinter(&setup));
    if (!printer)
        return FALSE;
    // Reachable by StopForGood until it is deleted; cleared first, since
    // this goes before the printer.
    struct Active {
        CPrintLoopThread* pThis;
        ~Active() { pThis->SetActivePrinter(nullptr); }
    } active{this};
    SetActivePrinter(printer.get());

    UniqueStream file(fopen(strPath, "rb"));
    if (!file)
        return FALSE;
    if (_fseeki64(file.get(), 0, SEEK_END) != 0)
        return FALSE;
    const long long end = _ftelli64(file.get());
    if (end < 0)
        return FALSE;
    const unsigned long long size = static_cast<unsigned long long>(end);
    rewind(file.get());

    // From Open on, a copy that does not get through whole is left unended.
    if (!printer->Open(&setup, strName))
        return LeaveDocumentUnended(*printer);

    std::vector<char> buffer(kChunkSize);
    unsigned long long sent = 0;
    for (;;) {
        const size_t c = fread(buffer.data(), 1, buffer.size(), file.get());
        if (c == 0) {
            // A read error leaves the document short.
            if (ferror(file.get()))
                return LeaveDocumentUnended(*printer);
            break;
        }
        // The program is closing in the middle of the document.
        if (m_bStopRequested)
            return LeaveDocumentUnended(*printer);
        const int taken = printer->Send_Data(buffer.data(), static_cast<int>(c));
        if (taken != static_cast<int>(c))
            return LeaveDocumentUnended(*printer);
        sent += c;
        if (!ReportProgress(pJob, nCopy, nTotal, Percentage(sent, size)))
            return LeaveDocumentUnended(*printer);
    }

    // Every byte was handed over: only now is the document ended.
    const BOOL closed = printer->Close();
    if (IsStoppedForGood())
        return FALSE;
    return closed;
}

CPrintLoopThread::PrinterWait CPrintLoopThread::WaitForPrinter(CQueuedJob* pJob) {
    bool bShown = false;
    for (;;) {
        CSpoolerSetup setup;
        {
            CLock gate(m_csGate);
            if (IsStoppedForGood())
                return PrinterWait::Stopped;
            setup = *m_pSetup;
        }
        CString strText;
        PrinterState state = PrinterState::Unknown;
        {
            std::unique_ptr<CPrinter> printer(MakePrinter(&setup));
            if (printer)
                state = printer->QueryState(&setup, strText);
        }
        if (state != PrinterState::Paused) {
            if (bShown)
                SetStatusText(pJob, CString());
            return state == PrinterState::NotAnswering ? PrinterWait::Silent : PrinterWait::Go;
        }
        // Paused: nothing is sent yet; the row says why, and the printer is
        // asked again after a while. Stop and closing end the wait.
        CString strStatus = "Waiting for printer: ";
        strStatus += strText;
        if (!SetStatusText(pJob, strStatus))
            return PrinterWait::Stopped;
        bShown = true;
        const ULONGLONG deadline = GetTickCount64() + m_dwPrinterPollMs;
        for (;;) {
            if (!m_bRunning || m_bStopRequested)
                return PrinterWait::Stopped;
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline)
                break;
            WaitForSingleObject(m_hWake.get(), static_cast<DWORD>(deadline - now));
        }
    }
}

bool CPrintLoopThread::SetStatusText(CQueuedJob* pJob, const CString& strText) {
    CLock gate(m_csGate);
    if (IsStoppedForGood())
        return false;
    CLock lock(pJob->m_Lock);
    pJob->m_strStatus = strText;
    InvalidateJobList();
    return true;
}

bool CPrintLoopThread::ReportProgress(CQueuedJob* pJob, int nCopy, int nTotal, int nPercent) {
    CLock gate(m_csGate);
    if (IsStoppedForGood())
        return false;
    ++m_nOutputStep;
    CLock lock(pJob->m_Lock);
    pJob->m_strStatus.Format("Spooling %d of %d   %d%%", nCopy, nTotal, nPercent);
    InvalidateJobList();
    return true;
}

void CPrintLoopThread::InvalidateJobList() {
    if (HWND hList = m_pOwner->GetJobListBox())
        InvalidateRect(hList, nullptr, FALSE);
}
