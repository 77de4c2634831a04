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

} // namespace

CPrintLoopThread::CPrintLoopThread(IPrintLoopOwner* pOwner, CJobList* pJobList,
                                   CSpoolerSetup* pSetup)
    : m_pOwner(pOwner), m_pJobList(pJobList), m_pSetup(pSetup),
      m_hWake(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

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
    if (GetHandle() && WaitForSingleObject(GetHandle(), kStopWaitMs) == WAIT_OBJECT_0)
        return TRUE;

    // Then abandon a worker that is still inside the output: from here on it
    // touches nothing, and the job keeps the copies not completely sent.
    CLock gate(m_csGate);
    if (!m_bStoppedForGood.exchange(true) && m_pCurrentJob) {
        CLock lock(m_pCurrentJob->m_Lock);
        m_pCurrentJob->m_strStatus.Empty();
        m_pCurrentJob->m_bBusy = FALSE;
        m_pCurrentJob->m_nCopies = m_nJobCopies - m_nCopiesDone;
        m_pCurrentJob = nullptr;
    }
    return GetHandle() ? FALSE : TRUE;
}

BOOL CPrintLoopThread::InitInstance() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    RunLoop();
    // Only a worker that has left every output gets here.
    CoUninitialize();
    return FALSE;
}

bool CPrintLoopThread::WaitForWork() {
    for (;;) {
        if (IsStoppedForGood() || m_bStopRequested)
            return false;
        if (m_bRunning && m_pJobList->GetCount() > 0)
            return true;
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
        while (m_bRunning && k < n) {
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
            m_pJobList->RecordCopiesLeft(pJob, n - m_nCopiesDone);
        }

        {
            CLock gate(m_csGate);
            if (IsStoppedForGood())
                return;
            const int done = m_nCopiesDone;
            m_pCurrentJob = nullptr;
            if (done >= n) {
                // Every copy went out (or there were none to send).
                m_pJobList->RemoveJob(pJob);
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
    {
        CLock lock(pJob->m_Lock);
        nTotal = pJob->m_nCopies;
        strPath = pJob->m_strPath;
        strName = pJob->m_strName;
    }

    // One consistent state of the settings for the whole copy.
    CSpoolerSetup setup(*m_pSetup);
    std::unique_ptr<CPrinter> printer(MakePrinter(&setup));
    if (!printer)
        return FALSE;

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

    if (!printer->Open(&setup, strName))
        return FALSE;

    std::vector<char> buffer(kChunkSize);
    unsigned long long sent = 0;
    BOOL ok = TRUE;
    for (;;) {
        const size_t c = fread(buffer.data(), 1, buffer.size(), file.get());
        if (c == 0) {
            // A read error leaves the document short: it must not count.
            if (ferror(file.get()))
                ok = FALSE;
            break;
        }
        if (m_bStopRequested) {
            // The program is closing in the middle of the document: it is
            // neither ended nor handed on, so no part of it is printed.
            printer.release();
            return FALSE;
        }
        const int taken = printer->Send_Data(buffer.data(), static_cast<int>(c));
        if (taken != static_cast<int>(c)) {
            ok = FALSE;
            break;
        }
        sent += c;
        if (!ReportProgress(pJob, nCopy, nTotal, Percentage(sent, size))) {
            printer.release();
            return FALSE;
        }
    }

    const BOOL closed = printer->Close();
    if (IsStoppedForGood()) {
        printer.release();
        return FALSE;
    }
    return ok && closed;
}

bool CPrintLoopThread::ReportProgress(CQueuedJob* pJob, int nCopy, int nTotal, int nPercent) {
    CLock gate(m_csGate);
    if (IsStoppedForGood())
        return false;
    CLock lock(pJob->m_Lock);
    pJob->m_strStatus.Format("Spooling %d of %d   %d%%", nCopy, nTotal, nPercent);
    InvalidateJobList();
    return true;
}

void CPrintLoopThread::InvalidateJobList() {
    if (HWND hList = m_pOwner->GetJobListBox())
        InvalidateRect(hList, nullptr, FALSE);
}
