// The window's side of the command line (intake/CommandLine.h): the request of
// the process that started it, and the requests other processes hand over
// with WM_COPYDATA. Everything runs on the window's thread.
#include "intake/CommandLine.h"
#include "intake/PathCheck.h"
#include "intake/WindowTag.h"
#include "app/MorvaneDlg.h"
#include "framework/MessageBox.h"
#include "printloop/PrintLoopThread.h"

namespace {

// The job's name for a path, as a drop names it: the text after the last
// backslash.
CString NameOfPath(const CString& strPath) {
    const int cut = strPath.ReverseFind('\\');
    return cut < 0 ? strPath : strPath.Mid(cut + 1);
}

} // namespace

void CMorvaneDlg::SetStartupRequest(const CQueueRequest* pRequest) {
    m_pStartupRequest = pRequest;
}

void CMorvaneDlg::InitCommandLine() {
    // Marks this window as the queue's owner for a second start to find.
    if (m_JobList.OwnsStore())
        WindowTag::Mark(m_hWnd, CJobList::StoreKeyPath());
    if (m_pStartupRequest) {
        m_bStartHidden = m_pStartupRequest->bMinimized;
        if (m_bStartHidden)
            PostMessage(WM_HIDE_AT_START);
        m_nStartupResult = QueueRequest(*m_pStartupRequest);
        m_pStartupRequest = nullptr;
        AfterRequest(m_nStartupResult);
    }
}

int CMorvaneDlg::QueueRequest(const CQueueRequest& request) {
    m_bPendingStart = false;
    // Every file is checked before the first is queued: all or nothing.
    std::vector<CString> paths;
    for (const std::wstring& file : request.files) {
        const PathCheck::Result checked = PathCheck::Check(file);
        int nCode = kExitQueued;
        if (checked.verdict == PathCheck::Verdict::Missing ||
            checked.verdict == PathCheck::Verdict::Folder)
            nCode = kExitBadFile;
        else if (checked.verdict == PathCheck::Verdict::Unnamable)
            nCode = kExitUnnamable;
        const std::wstring text = PathCheck::RefusalText(checked.verdict, file);
        if (nCode != kExitQueued) {
            if (!request.bQuiet) {
                m_QueueMessages.push_back(text);
                PostMessage(WM_SHOW_QUEUE_MESSAGE);
            }
            return nCode;
        }
        paths.push_back(checked.strPath);
    }
    // The checks may have taken long (a share): a request whose sender has
    // been told "not taken" meanwhile must not be queued behind its back.
    if (request.nAcceptUntil && GetTickCount64() > request.nAcceptUntil)
        return kExitNotTaken;
    const int nCopies = request.nCopies > 0 ? request.nCopies : m_nCopies;
    for (const CString& path : paths)
        m_JobList.Add(CQueuedJob(NameOfPath(path), path, nCopies));
    m_bPendingStart = request.bStart;
    return kExitQueued;
}

void CMorvaneDlg::AfterRequest(int nResult) {
    if (nResult == kExitQueued) {
        RefreshJobList();
        if (m_pPrintLoop)
            m_pPrintLoop->NotifyQueueChanged();
        // "Presses Start": a window already started stays started.
        if (m_bPendingStart && !m_bStarted)
            OnStartStop();
    }
    m_bPendingStart = false;
    // The startup request of a window that starts hidden brings nothing forward.
    if (m_bStartHidden) {
        m_bStartHidden = false;
        return;
    }
    if (!IsWindowVisible(m_hWnd))
        ShowWindow(m_hWnd, SW_SHOW);
    if (IsIconic())
        ShowWindow(m_hWnd, SW_RESTORE);
    SetForegroundWindow(m_hWnd);
}

LRESULT CMorvaneDlg::OnCopyData(WPARAM, LPARAM lParam) {
    const auto* pCds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (!pCds || pCds->dwData != kCopyDataTag)
        return 0;
    // The data is the sender's until this handler answers: it is read
    // whole into the request before anything else.
    CQueueRequest request;
    if (!DecodeRequest(pCds->lpData, pCds->cbData, request))
        return 1 + kExitBadArguments;
    if (request.nAcceptUntil && GetTickCount64() > request.nAcceptUntil)
        return 1 + kExitNotTaken;
    const int nResult = QueueRequest(request);
    // The jobs are stored: the sender may go now, while the rows (which
    // take long for a long queue) are rebuilt.
    ReplyMessage(1 + nResult);
    AfterRequest(nResult);
    return 1 + nResult;
}

LRESULT CMorvaneDlg::OnShowQueueMessage(WPARAM, LPARAM) {
    // One box at a time: a box's own message loop dispatches the next
    // request's message, which then only waits here for the open box.
    if (m_bShowingQueueMessage)
        return 0;
    m_bShowingQueueMessage = true;
    while (!m_QueueMessages.empty()) {
        std::wstring text = m_QueueMessages.front();
        m_QueueMessages.pop_front();
        // What piled up meanwhile is told in the same box, as a count.
        const size_t nMore = m_QueueMessages.size();
        if (nMore > 0) {
            text += L"\n\n" + std::to_wstring(nMore) +
                    (nMore == 1 ? L" more file was" : L" more files were") + L" not queued.";
            m_QueueMessages.clear();
        }
        ShowMessageBoxW(m_hWnd, text.c_str(), L"Tolvar Morvane", MB_OK | MB_ICONEXCLAMATION);
    }
    m_bShowingQueueMessage = false;
    return 0;
}
