#include "app/MorvaneDlg.h"

#include "intake/PathCheck.h"
#include "intake/WatchedFolder.h"

#include "app/AboutDlg.h"
#include "app/DisplayLock.h"
#include "app/HistoryDlg.h"
#include "app/resource.h"
#include "framework/CodePage.h"
#include "framework/DC.h"
#include "framework/DataExchange.h"
#include "framework/Dpi.h"
#include "framework/Exceptions.h"
#include "framework/FileDialog.h"
#include "framework/MessageBox.h"
#include "framework/Sync.h"
#include "history/HistoryTexts.h"
#include "printloop/PrintLoopThread.h"
#include "settings/SetupDlg.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>
#include <vector>

namespace {

// How long closing waits for the watched folder's threads, each: a call
// on a share that went away must not keep the window from closing.
constexpr DWORD kCloseWaitMs = 2000;

// The job's name for a dropped path: the text after the last backslash, or
// after the last colon when there is none, or the whole path.
CString NameFromDroppedPath(const CString& strPath) {
    int cut = strPath.ReverseFind('\\');
    if (cut < 0)
        cut = strPath.ReverseFind(':');
    return cut < 0 ? strPath : strPath.Mid(cut + 1);
}

// A worker that StopForGood abandoned inside the output still returns from
// that call before its thread ends, and reads its own object on the way:
// the object is kept on purpose, never deleted (the process ends soon
// after).
void KeepAbandonedWorker(CPrintLoopThread*) {}

void AppendMenuItem(HMENU hMenu, UINT nID, UINT nStringID) {
    CString text;
    text.LoadString(nStringID);
    if (text.IsEmpty())
        return;
    AppendMenuA(hMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(hMenu, MF_STRING, nID, text);
}
} // namespace

BEGIN_MESSAGE_MAP(CMorvaneDlg, CDialog)
ON_MESSAGE(WM_SYSCOMMAND, OnSysCommand)
ON_MESSAGE(WM_PAINT, OnPaint)
ON_MESSAGE(WM_QUERYDRAGICON, OnQueryDragIcon)
ON_BN_CLICKED(IDOK, OnOK)
ON_BN_CLICKED(IDC_ADD_JOB, OnAddJob)
ON_BN_CLICKED(IDC_REMOVE_JOB, OnRemoveJob)
ON_LBN_SELCHANGE(IDC_JOB_LIST, OnSelChangeJobList)
ON_BN_CLICKED(IDC_START_STOP, OnStartStop)
ON_EN_CHANGE(IDC_COPIES, OnChangeCopies)
ON_MESSAGE(WM_DROPFILES, OnDropFiles)
ON_BN_CLICKED(IDC_SETUP, OnSetup)
ON_MESSAGE(WM_ENDSESSION, OnEndSession)
ON_MESSAGE(WM_REFRESH_JOB_LIST, OnRefreshJobListMsg)
ON_MESSAGE(WM_REPAINT_JOB_LIST, OnRepaintJobListMsg)
ON_MESSAGE(WM_WORKER_STOPPED, OnWorkerStoppedMsg)
ON_MESSAGE(WM_TIMER, OnTimer)
ON_MESSAGE(WM_HISTORY_FAILED, OnHistoryFailedMsg)
ON_MESSAGE(WM_DESTROY, OnDestroy)
ON_MESSAGE(WM_COPYDATA, OnCopyData)
ON_MESSAGE(WM_SHOW_QUEUE_MESSAGE, OnShowQueueMessage)
ON_MESSAGE(CFolderWatcher::kMsgFile, OnWatchedFile)
ON_MESSAGE(CFolderWatcher::kMsgState, OnWatchState)
ON_MESSAGE(CDoneFiles::kMsgStuck, OnDoneFilesStuck)
ON_MESSAGE(WM_TRAY_ICON, OnTrayIcon)
ON_MESSAGE(WM_WORKER_ACTIVITY, OnWorkerActivityMsg)
ON_MESSAGE(WM_RETRY_NEWS, OnRetryNewsMsg)
ON_MESSAGE(WM_HIDE_AT_START, OnHideAtStart)
ON_MESSAGE(CJobQueueListBox::kMsgJobKey, OnJobKey)
ON_MESSAGE(CTrayIcon::TaskbarCreatedMessage(), OnTaskbarCreated)
END_MESSAGE_MAP()

CMorvaneDlg::CMorvaneDlg(CWnd* pParent) : CDialog(IDD_MORVANE_DIALOG, pParent) {
    InitDisplayLock();
    LoadIcons(GetSystemDpi());
    m_Setup.Load();
    m_FailureSetup.Load();
    m_JobListBox.SetJobList(&m_JobList);
}

void CMorvaneDlg::LoadIcons(UINT dpi) {
    HINSTANCE hInst = GetModuleHandleA(nullptr);
    const auto load = [&](int cx, int cy) {
        return static_cast<HICON>(LoadImageA(hInst, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                             GetSystemMetricForDpi(cx, dpi),
                                             GetSystemMetricForDpi(cy, dpi), LR_DEFAULTCOLOR));
    };
    HICON hBig = load(SM_CXICON, SM_CYICON);
    HICON hSmall = load(SM_CXSMICON, SM_CYSMICON);
    for (HICON h : {hBig, hSmall}) {
        if (h)
            m_loadedIcons.push_back(h);
    }
    // Without a sized image, the system's own choice (shared, never destroyed).
    if (!hBig)
        hBig = LoadIconA(hInst, MAKEINTRESOURCEA(IDR_MAINFRAME));
    m_hIcon = hBig;
    m_hSmallIcon = hSmall ? hSmall : hBig;
}

void CMorvaneDlg::OnDpiChanged(UINT dpi, const RECT& suggested) {
    CDialog::OnDpiChanged(dpi, suggested);
    m_JobListBox.SetDpi(dpi);
    if (m_nRowHeightAt96 > 0 && m_JobListBox.GetSafeHwnd())
        m_JobListBox.SendMessage(LB_SETITEMHEIGHT, 0, ScaleToDpi(m_nRowHeightAt96, dpi));
    LoadIcons(dpi);
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hSmallIcon, FALSE);
    m_JobListBox.Invalidate(TRUE);
}

CMorvaneDlg::~CMorvaneDlg() {
    // Stopped at WM_DESTROY already when the window existed; the worker goes
    // first in any case: nothing below may wait for a lock it holds, and it
    // calls into the watcher when a job is done.
    StopPrintLoop();
    // A watcher stuck in a call on a share that went away is left to the
    // process's end rather than waited for.
    if (m_pWatcher) {
        m_pWatcher->Done().Stop(kCloseWaitMs);
        if (!m_pWatcher->Stop(kCloseWaitMs))
            (void)m_pWatcher.release();
    }
    m_pWatcher.reset();
    for (HICON h : m_loadedIcons)
        DestroyIcon(h);
    // Members then go in reverse order: buttons, settings (not saved), the
    // queue (saves, then releases its jobs), the list box.
}

void CMorvaneDlg::StopPrintLoop() {
    if (!m_pPrintLoop)
        return;
    if (m_pPrintLoop->StopForGood())
        delete m_pPrintLoop;
    else
        KeepAbandonedWorker(m_pPrintLoop);
    m_pPrintLoop = nullptr;
}

void CMorvaneDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_JOB_LIST, m_JobListBox);
    DDX_Control(pDX, IDC_REMOVE_JOB, m_RemoveButton);
    DDX_Control(pDX, IDC_START_STOP, m_StartStopButton);
    DDX_Text(pDX, IDC_COPIES, m_nCopies);
    DDV_MinMaxInt(pDX, m_nCopies, kMinCopies, kMaxCopies);
}

BOOL CMorvaneDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    if (HMENU hSysMenu = GetSystemMenu(FALSE)) {
        AppendMenuItem(hSysMenu, IDM_ABOUTBOX, IDS_ABOUTBOX);
        AppendMenuItem(hSysMenu, IDM_SETUP_SPOOLER, IDS_SETUP_SPOOLER);
        AppendMenuItem(hSysMenu, IDM_JOB_HISTORY, IDS_JOB_HISTORY);
        AppendMenuItem(hSysMenu, IDM_WATCHED_FOLDER, IDS_WATCHED_FOLDER);
        AppendMenuItem(hSysMenu, IDM_ON_FAILURE, IDS_ON_FAILURE);
    }
    // Icons, columns and rows at the DPI of the monitor the window is on;
    // the dialog's font and controls are already at it.
    const UINT dpi = GetWindowDpi(m_hWnd);
    if (dpi != GetSystemDpi())
        LoadIcons(dpi);
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hSmallIcon, FALSE);
    m_JobListBox.SetDpi(dpi);
    if (m_JobListBox.GetSafeHwnd()) {
        const LRESULT height = m_JobListBox.SendMessage(LB_GETITEMHEIGHT, 0, 0);
        if (height > 0 && height != LB_ERR)
            m_nRowHeightAt96 = MulDiv(static_cast<int>(height), kDesignDpi, static_cast<int>(dpi));
    }

    // The Start/Stop button carries the icon style but never an image; where
    // the system would then draw an empty face, let it show its text.
    HWND hStartStop = m_StartStopButton.GetSafeHwnd();
    if (hStartStop && !::SendMessageA(hStartStop, BM_GETIMAGE, IMAGE_ICON, 0)) {
        const LONG style = GetWindowLongA(hStartStop, GWL_STYLE);
        SetWindowLongA(hStartStop, GWL_STYLE, style & ~BS_ICON);
        InvalidateRect(hStartStop, nullptr, TRUE);
    }

    m_JobListBox.Bind();
    CreateToolTips();

    m_nCopies = 1;
    UpdateTitle();
    RefreshJobList();
    UpdateData(FALSE);

    // The history comes before the worker, which records into it; without
    // one (no memory or thread for it) the window prints all the same.
    try {
        m_pHistory = CreateHistory();
    } catch (...) {
        m_pHistory.reset();
    }
    if (m_pHistory) {
        m_pHistory->SetFailureHandler([this](const std::string& reason) {
            {
                std::lock_guard<std::mutex> lock(m_historyFailureLock);
                m_strHistoryFailure = reason;
            }
            PostMessage(WM_HISTORY_FAILED);
        });
    }

    // Made before the worker, which calls it from its thread.
    m_pWatcher = std::make_unique<CFolderWatcher>(m_hWnd);
    try {
        m_pPrintLoop = CreatePrintLoop();
    } catch (const CException&) {
        // Out of memory or events: the window works without a worker.
        m_pPrintLoop = nullptr;
    }
    if (!m_pPrintLoop) {
        // Start does nothing.
    } else if (m_pPrintLoop->CreateThread(CREATE_SUSPENDED)) {
        m_pPrintLoop->SetFailurePolicy(m_FailureSetup.m_bRetry, m_FailureSetup.m_dwRetryMinutes);
        m_pPrintLoop->SetThreadPriority(THREAD_PRIORITY_IDLE);
        m_pPrintLoop->ResumeThread();
    } else {
        delete m_pPrintLoop;
        m_pPrintLoop = nullptr;
    }

    DragAcceptFiles(TRUE);
    // Files that waited in the watched folder came before this start's
    // command line.
    if (m_JobList.OwnsStore()) {
        StartDoneFiles();
        CWatchedFolderSetup watch;
        watch.Load();
        StartWatching(watch);
    }
    StartTray();
    InitCommandLine();
    return TRUE;
}

void CMorvaneDlg::UpdateTitle() {
    const CSpoolerSetup setup(m_Setup);
    CString title = "Tolvar Morvane - " + OutputCaptionName(setup);
    if (m_bWatchLost)
        title += " - watched folder unreachable";
    if (m_nStuckFiles == 1)
        title += " - 1 printed file could not be moved";
    else if (m_nStuckFiles > 1)
        title += " - " + CString(std::to_string(m_nStuckFiles).c_str()) +
                 " printed files could not be moved";
    SetWindowText(title);
}

void CMorvaneDlg::RefreshJobList() {
    CLock display(g_csDisplay);
    m_JobListBox.SetRedraw(FALSE);
    // Identity and name of each job (the name is the row's string).
    std::vector<std::pair<CString, CString>> rows;
    {
        CLock list(m_JobList.GetListLock());
        const int n = m_JobList.GetCount();
        rows.reserve(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            CQueuedJob* pJob = m_JobList.GetAt(i);
            if (!pJob) {
                rows.emplace_back();
                continue;
            }
            CLock lock(pJob->m_Lock);
            rows.emplace_back(pJob->m_strID, pJob->m_strName);
        }
    }
    m_JobListBox.ResetRows();
    for (const auto& [id, name] : rows)
        m_JobListBox.AddJobRow(id, name);
    m_JobListBox.SetRedraw(TRUE);
    m_JobListBox.Invalidate(TRUE);
}

int CMorvaneDlg::RowOfJob(const CString& strID) {
    if (strID.IsEmpty())
        return -1;
    const int nRows = m_JobListBox.GetCount();
    for (int i = 0; i < nRows; ++i) {
        const CString* pID = m_JobListBox.GetRowID(m_JobListBox.GetItemData(i));
        if (pID && *pID == strID)
            return i;
    }
    return -1;
}

void CMorvaneDlg::SelectJobRow(const CString& strID) {
    m_JobListBox.SetCurSel(RowOfJob(strID));
}

int CMorvaneDlg::QueueIndexOfRow(int nRow) {
    if (nRow < 0)
        return -1;
    const CString* pID = m_JobListBox.GetRowID(m_JobListBox.GetItemData(nRow));
    return pID ? m_JobList.IndexOfID(*pID) : -1;
}

HWND CMorvaneDlg::GetJobListBox() {
    return m_JobListBox.GetSafeHwnd();
}

void CMorvaneDlg::RequestRefreshJobList() {
    if (m_bRefreshRequested.exchange(true))
        return;
    if (!PostMessage(WM_REFRESH_JOB_LIST))
        m_bRefreshRequested = false;
}

void CMorvaneDlg::RequestRepaintJobList() {
    if (m_bRepaintRequested.exchange(true))
        return;
    if (!PostMessage(WM_REPAINT_JOB_LIST))
        m_bRepaintRequested = false;
}

void CMorvaneDlg::NotifyWorkerStopped() {
    PostMessage(WM_WORKER_STOPPED);
}

HWND CMorvaneDlg::GetMessageBoxOwner() {
    return m_hWnd;
}

void CMorvaneDlg::RecordHistory(const CHistoryEntry& entry) {
    if (m_pHistory)
        m_pHistory->Record(entry);
}

void CMorvaneDlg::OnJobPagesCounted(unsigned long nToken, std::optional<unsigned long> pages) {
    if (m_pHistory)
        m_pHistory->SetPages(nToken, pages);
}

std::unique_ptr<CJobHistory> CMorvaneDlg::CreateHistory() {
    const char* pszSwitch = getenv("MORVANE_HISTORY");
    if (pszSwitch && CString(pszSwitch).CompareNoCase("off") == 0)
        return nullptr;
    return std::make_unique<CJobHistory>(CJobHistory::DefaultFolder());
}

LRESULT CMorvaneDlg::OnHistoryFailedMsg(WPARAM, LPARAM) {
    std::string reason;
    {
        std::lock_guard<std::mutex> lock(m_historyFailureLock);
        reason.swap(m_strHistoryFailure);
    }
    // The writer tells only its first failure; printing goes on.
    if (!reason.empty()) {
        const CString text = "The job history cannot be written. Printing goes on; the jobs "
                             "that could not be written are shown in Job History until "
                             "Morvane closes, but are not kept.\n\n" +
                             Utf8ToAnsi(reason);
        ShowMessageBox(m_hWnd, text, MB_OK | MB_ICONWARNING);
    }
    return 0;
}

INT_PTR CMorvaneDlg::RunHistoryDialog() {
    if (!m_pHistory)
        return IDCANCEL;
    CHistoryDlg dlg(
        *m_pHistory, [this](const std::vector<CQueuedJob>& jobs) { QueueAgain(jobs); }, this);
    dlg.SetStillQueued([this](const std::wstring& path) { return HoldsJobFor(path); });
    return dlg.DoModal();
}

bool CMorvaneDlg::HoldsJobFor(const std::wstring& path) {
    CLock lock(m_JobList.GetListLock());
    for (int i = 0; i < m_JobList.GetCount(); ++i) {
        const CString strPath = m_JobList.GetAt(i)->GetPath();
        std::wstring jobPath;
        if (NarrowToWide(strPath, -1, CP_ACP, jobPath) && WatchedFolder::SamePath(jobPath, path))
            return true;
    }
    return false;
}

void CMorvaneDlg::QueueAgain(const std::vector<CQueuedJob>& jobs) {
    // The history checked each path (intake/PathCheck.h) before it came here.
    for (const CQueuedJob& job : jobs)
        m_JobList.Add(job);
    if (jobs.empty())
        return;
    RefreshForWorker();
    if (m_pPrintLoop)
        m_pPrintLoop->NotifyQueueChanged();
}

bool CMorvaneDlg::WaitsForTimer(bool& bTimer, ULONGLONG nLast, UINT_PTR nID) {
    if (bTimer)
        return true;
    const ULONGLONG since = GetTickCount64() - nLast;
    if (since >= kWorkerRefreshIntervalMs)
        return false;
    const UINT wait = static_cast<UINT>(kWorkerRefreshIntervalMs - since);
    bTimer = ::SetTimer(m_hWnd, nID, wait, nullptr) != 0;
    return bTimer;
}

LRESULT CMorvaneDlg::OnRefreshJobListMsg(WPARAM, LPARAM) {
    // While a timer's rebuild is due the request stays set: the worker
    // posts nothing more until that rebuild.
    if (WaitsForTimer(m_bRefreshTimer, m_nLastWorkerRefresh, kRefreshTimerID))
        return 0;
    // Cleared first: a job finishing during the rebuild asks again.
    m_bRefreshRequested = false;
    RefreshForWorker();
    return 0;
}

LRESULT CMorvaneDlg::OnRepaintJobListMsg(WPARAM, LPARAM) {
    if (WaitsForTimer(m_bRepaintTimer, m_nLastWorkerRepaint, kRepaintTimerID))
        return 0;
    RepaintForWorker();
    return 0;
}

void CMorvaneDlg::RepaintForWorker() {
    // Cleared first: a change after this point asks again, and the paint
    // that follows reads the texts as they are then.
    m_bRepaintRequested = false;
    m_nLastWorkerRepaint = GetTickCount64();
    if (HWND hList = m_JobListBox.GetSafeHwnd())
        ::InvalidateRect(hList, nullptr, FALSE);
}

LRESULT CMorvaneDlg::OnTimer(WPARAM wParam, LPARAM) {
    if (wParam == kRepaintTimerID) {
        ::KillTimer(m_hWnd, kRepaintTimerID);
        m_bRepaintTimer = false;
        RepaintForWorker();
        return 0;
    }
    if (wParam == kActivityTimerID) {
        ::KillTimer(m_hWnd, kActivityTimerID);
        m_bActivityTimer = false;
        ShowActivity();
        return 0;
    }
    if (wParam != kRefreshTimerID)
        return 0;
    ::KillTimer(m_hWnd, kRefreshTimerID);
    m_bRefreshTimer = false;
    m_bRefreshRequested = false;
    RefreshForWorker();
    return 0;
}

void CMorvaneDlg::RefreshForWorker() {
    m_nLastWorkerRefresh = GetTickCount64();
    // The rebuild drops the selection: keep the user's row if its job is
    // still queued, and its copies field and "-" button as they were.
    const int nRow = m_JobListBox.GetCurSel();
    CString selectedID;
    if (nRow >= 0) {
        if (const CString* pID = m_JobListBox.GetRowID(m_JobListBox.GetItemData(nRow)))
            selectedID = *pID;
    }
    RefreshJobList();
    if (!selectedID.IsEmpty())
        SelectJobRow(selectedID);
}

LRESULT CMorvaneDlg::OnWorkerStoppedMsg(WPARAM, LPARAM) {
    // Started again since the worker stopped itself: that start stands.
    if (m_pPrintLoop && m_pPrintLoop->IsRunning())
        return 0;
    m_bStarted = FALSE;
    m_bAttention = true;
    m_StartStopButton.SetWindowText("&Start");
    UpdateTray();
    return 0;
}

LRESULT CMorvaneDlg::OnSysCommand(WPARAM wParam, LPARAM) {
    const UINT nID = static_cast<UINT>(wParam);
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
        return 0;
    }
    if (nID == IDM_SETUP_SPOOLER) {
        OnSetup();
        return 0;
    }
    if ((nID & 0xFFF0) == IDM_JOB_HISTORY) {
        RunHistoryDialog();
        return 0;
    }
    if ((nID & 0xFFF0) == IDM_WATCHED_FOLDER) {
        OnWatchedFolder();
        return 0;
    }
    if ((nID & 0xFFF0) == IDM_ON_FAILURE) {
        OnFailurePolicy();
        return 0;
    }
    // Minimized into the notification area, while the icon is there.
    if ((nID & 0xFFF0) == SC_MINIMIZE && m_pTray && m_pTray->IsAdded()) {
        ShowWindow(m_hWnd, SW_HIDE);
        return 0;
    }
    return Default();
}

LRESULT CMorvaneDlg::OnPaint(WPARAM, LPARAM) {
    if (!IsIconic())
        return Default();
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(m_hWnd, &ps);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0);
    RECT rect;
    GetClientRect(&rect);
    const UINT dpi = GetWindowDpi(m_hWnd);
    const int x = (rect.right - rect.left - GetSystemMetricForDpi(SM_CXICON, dpi) + 1) / 2;
    const int y = (rect.bottom - rect.top - GetSystemMetricForDpi(SM_CYICON, dpi) + 1) / 2;
    DrawIcon(hdc, x, y, m_hIcon);
    EndPaint(m_hWnd, &ps);
    return 0;
}

LRESULT CMorvaneDlg::OnQueryDragIcon(WPARAM, LPARAM) {
    return reinterpret_cast<LRESULT>(m_hIcon);
}

LRESULT CMorvaneDlg::OnDropFiles(WPARAM wParam, LPARAM) {
    HDROP hDrop = reinterpret_cast<HDROP>(wParam);
    const UINT nCount = DragQueryFileW(hDrop, 0xFFFFFFFF, nullptr, 0);
    int nQueued = 0;
    for (UINT i = 0; i < nCount; ++i) {
        const UINT nLength = DragQueryFileW(hDrop, i, nullptr, 0);
        std::wstring file(nLength + 1, L'\0');
        file.resize(DragQueryFileW(hDrop, i, file.data(), nLength + 1));
        // The one check of every way in. A drop is not examined further: an
        // item that is no readable file (a folder) becomes a job and its
        // copy fails in the worker. But a name the queue cannot keep would
        // be stored with "?" in it: that is told (one box for the drop).
        const PathCheck::Result checked = PathCheck::Check(file);
        if (checked.strPath.IsEmpty()) {
            m_QueueMessages.push_back(PathCheck::RefusalText(PathCheck::Verdict::Unnamable, file));
            continue;
        }
        const CString& path = checked.strPath;
        m_JobList.Add(CQueuedJob(NameFromDroppedPath(path), path, m_nCopies));
        ++nQueued;
    }
    DragFinish(hDrop);
    if (!m_QueueMessages.empty())
        PostMessage(WM_SHOW_QUEUE_MESSAGE);
    if (nQueued == 0)
        return 0;
    RefreshJobList();
    if (m_pPrintLoop)
        m_pPrintLoop->NotifyQueueChanged();
    return 0;
}

LRESULT CMorvaneDlg::OnDestroy(WPARAM, LPARAM) {
    // The worker calls into the window (its list box, its messages, the
    // owner of its boxes): it is stopped while the handles are still valid.
    StopPrintLoop();
    m_pTray.reset();
    // The worker records no more: what is queued for the history is written.
    if (m_pHistory)
        m_pHistory->Close();
    return Default();
}

LRESULT CMorvaneDlg::OnEndSession(WPARAM wParam, LPARAM) {
    // Windows is ending the session: the process will be ended without the
    // window's orderly destruction, so keep the queue now, and the history's
    // last lines: the worker records no more, so what is queued is written.
    if (wParam) {
        StopPrintLoop();
        m_JobList.Save();
        if (m_pHistory)
            m_pHistory->Close();
    }
    return 0;
}

void CMorvaneDlg::OnAddJob() {
    CFileDialog dlg(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, nullptr,
                    nullptr);
    if (dlg.DoModal() != IDOK)
        return;
    const CString strPath = dlg.GetPathName();
    const CString strName = dlg.GetFileTitle();

    const int nOldCopies = m_nCopies;
    if (!UpdateData(TRUE))
        m_nCopies = nOldCopies;
    const CQueuedJob job(strName, strPath, m_nCopies);

    // The new job is selected by its identity: the worker may remove the
    // head before the rows are rebuilt, and then every row moves up.
    CString addedID;
    {
        CLock list(m_JobList.GetListLock());
        const int nSelected = QueueIndexOfRow(m_JobListBox.GetCurSel());
        const int nIndex = nSelected >= 0 ? nSelected + 1 : m_JobList.GetCount();
        m_JobList.InsertAt(job, nIndex);
        if (CQueuedJob* pAdded = m_JobList.GetAt(nIndex))
            addedID = pAdded->m_strID;
    }
    if (m_pPrintLoop)
        m_pPrintLoop->NotifyQueueChanged();
    RefreshJobList();
    SelectJobRow(addedID);
}

void CMorvaneDlg::OnRemoveJob() {
    const int nRow = m_JobListBox.GetCurSel();
    if (nRow < 0)
        return;
    // The selection moves to the job that followed the removed one, found
    // by identity after the rebuild (the worker may have removed the head
    // meanwhile, which moves every row).
    CString nextID;
    {
        CLock list(m_JobList.GetListLock());
        const int nIndex = QueueIndexOfRow(nRow);
        if (nIndex < 0)
            return;
        if (nIndex + 1 < m_JobList.GetCount()) {
            if (CQueuedJob* pNext = m_JobList.GetAt(nIndex + 1))
                nextID = pNext->m_strID;
        }
        CHistoryEntry entry;
        CString strPath;
        if (CQueuedJob* pJob = m_JobList.GetAt(nIndex)) {
            CLock lock(pJob->m_Lock);
            entry.name = AnsiToUtf8(pJob->m_strName);
            entry.path = AnsiToUtf8(pJob->m_strPath);
            entry.copiesAsked = pJob->m_nCopies;
            strPath = pJob->m_strPath;
        }
        // A file of the watched folder must not come back at the next
        // start: it is recorded as done before its job's record goes.
        const std::wstring file = WatchedFolder::FromAnsi(strPath);
        const bool bWatched = m_pWatcher && !strPath.IsEmpty() && m_pWatcher->JobRemoved(file);
        if (!m_JobList.RemoveIdleAt(nIndex)) {
            if (bWatched)
                m_pWatcher->Done().Forget(file);
            return;
        }
        entry.time = LocalTimeStamp();
        entry.output = AnsiToUtf8(OutputCaptionName(CSpoolerSetup(m_Setup)));
        entry.result = ResultRemoved(entry.copiesAsked);
        RecordHistory(entry);
    }
    RefreshJobList();
    SelectJobRow(nextID);
    OnSelChangeJobList();
}

LRESULT CMorvaneDlg::OnJobKey(WPARAM wParam, LPARAM) {
    switch (wParam) {
    case CJobQueueListBox::kRemove:
        OnRemoveJob();
        break;
    case CJobQueueListBox::kAdd:
        OnAddJob();
        break;
    case CJobQueueListBox::kEditCopies:
        // The field shows the selected job's copies; its text is selected
        // so that typing replaces it.
        if (m_JobListBox.GetCurSel() >= 0)
            SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(IDC_COPIES)), TRUE);
        break;
    case CJobQueueListBox::kMoveUp:
        MoveSelectedJob(-1);
        break;
    case CJobQueueListBox::kMoveDown:
        MoveSelectedJob(1);
        break;
    }
    return 0;
}

void CMorvaneDlg::OnOK() {
    HWND hCopies = GetDlgItem(IDC_COPIES);
    if (hCopies && ::GetFocus() == hCopies && m_JobListBox.GetCurSel() >= 0) {
        // The count is the job's already (it changes as it is typed).
        if (UpdateData(TRUE))
            SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_JobListBox.GetSafeHwnd()), TRUE);
        return;
    }
    CDialog::OnOK();
}

void CMorvaneDlg::MoveSelectedJob(int nStep) {
    CString movedID;
    {
        CLock list(m_JobList.GetListLock());
        const int nIndex = QueueIndexOfRow(m_JobListBox.GetCurSel());
        if (nIndex < 0 || m_JobList.MoveIdle(nIndex, nStep) < 0)
            return;
        movedID = m_JobList.GetAt(nIndex + nStep)->m_strID;
    }
    if (m_pPrintLoop)
        m_pPrintLoop->NotifyQueueChanged();
    RefreshJobList();
    SelectJobRow(movedID);
}

void CMorvaneDlg::CreateToolTips() {
    m_hToolTip = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr,
                                 WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                 CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    if (!m_hToolTip)
        return;
    static const struct {
        int nID;
        const char* pszTip;
    } kTips[] = {
        {IDC_START_STOP, "Start or stop sending the queue to the printer"},
        {IDC_ADD_JOB, "Add a file to the queue behind the selected job (Insert)"},
        {IDC_REMOVE_JOB, "Remove the selected job from the queue (Delete)"},
        {IDC_SETUP, "Choose the printer the queue is sent to"},
    };
    for (const auto& tip : kTips) {
        TOOLINFOA ti{};
        ti.cbSize = sizeof(ti);
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        ti.hwnd = m_hWnd;
        ti.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(tip.nID));
        ti.lpszText = const_cast<char*>(tip.pszTip);
        ::SendMessageA(m_hToolTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    }
    m_JobListBox.AddToolTip(m_hToolTip);
}

void CMorvaneDlg::OnSelChangeJobList() {
    const int nRow = m_JobListBox.GetCurSel();
    if (nRow < 0) {
        m_RemoveButton.EnableWindow(FALSE);
    } else {
        m_RemoveButton.EnableWindow(TRUE);
        CLock list(m_JobList.GetListLock());
        const int nIndex = QueueIndexOfRow(nRow);
        if (CQueuedJob* pJob = nIndex >= 0 ? m_JobList.GetAt(nIndex) : nullptr) {
            CLock lock(pJob->m_Lock);
            m_nCopies = pJob->m_nCopies;
        }
    }
    // The field's change handler checks the count written here, as a typed
    // one: a stored count out of range is shown with the range message.
    UpdateData(FALSE);
}

void CMorvaneDlg::OnChangeCopies() {
    const int nOldCopies = m_nCopies;
    if (!UpdateData(TRUE)) {
        m_nCopies = nOldCopies;
        return;
    }
    const int nRow = m_JobListBox.GetCurSel();
    if (nRow < 0)
        return;
    BOOL bChanged;
    {
        CLock list(m_JobList.GetListLock());
        const int nIndex = QueueIndexOfRow(nRow);
        bChanged = nIndex >= 0 && m_JobList.SetCopiesIdleAt(nIndex, m_nCopies);
    }
    if (bChanged) {
        m_JobListBox.Invalidate(TRUE);
        // A held job is released by the change.
        if (m_pPrintLoop)
            m_pPrintLoop->NotifyQueueChanged();
    }
}

void CMorvaneDlg::OnStartStop() {
    if (!m_pPrintLoop)
        return;
    // The click means what the button said: the worker may have stopped
    // itself after a failure a moment ago, and a "Stop" click must not
    // start it again.
    m_bStarted = !m_bStarted;
    if (m_bStarted) {
        // Start tries held jobs again, and ends the attention a failure asked for.
        m_JobList.ReleaseHolds();
        m_JobListBox.Invalidate(TRUE);
        m_bAttention = false;
    }
    m_pPrintLoop->SetRunning(m_bStarted);
    m_StartStopButton.SetWindowText(m_bStarted ? "S&top" : "&Start");
    UpdateTray();
}

CPrintLoopThread* CMorvaneDlg::CreatePrintLoop() {
    return new CPrintLoopThread(this, &m_JobList, &m_Setup);
}

INT_PTR CMorvaneDlg::RunSetupDialog() {
    CSetupDlg dlg(nullptr);
    dlg.Bind(&m_Setup);
    return dlg.DoModal();
}

void CMorvaneDlg::OnSetup() {
    if (RunSetupDialog() != IDOK)
        return;
    m_Setup.Save();
    UpdateTitle();
}
