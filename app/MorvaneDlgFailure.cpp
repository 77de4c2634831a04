// The window's side of unattended work: the "When a Copy Fails" dialog
// (the retry policy and "Start with Windows"), and the notification area
// icon with its tip, balloons and menu. Everything here runs on the
// window's thread, except NotifyActivityChanged and NotifyRetry, which the
// worker calls and which only post.
#include "app/MorvaneDlg.h"
#include "app/resource.h"
#include "printloop/PrintLoopThread.h"
#include "settings/StartWithWindows.h"

namespace {

struct FailureDialogData {
    CFailureSetup* pSetup;
    bool* pStartup;
};

void EnableMinutes(HWND hDlg) {
    EnableWindow(GetDlgItem(hDlg, IDC_OF_MINUTES),
                 IsDlgButtonChecked(hDlg, IDC_OF_RETRY) == BST_CHECKED);
}

// Checks the minutes; false (with a message, focus on the field) when wrong.
bool AcceptFailure(HWND hDlg, const FailureDialogData& data) {
    BOOL bNumber = FALSE;
    const UINT minutes = GetDlgItemInt(hDlg, IDC_OF_MINUTES, &bNumber, FALSE);
    const bool bRetry = IsDlgButtonChecked(hDlg, IDC_OF_RETRY) == BST_CHECKED;
    if (bRetry && (!bNumber || minutes < CFailureSetup::kMinRetryMinutes ||
                   minutes > CFailureSetup::kMaxRetryMinutes)) {
        MessageBoxW(hDlg, L"Minutes must be a number from 1 to 1440.", L"When a Copy Fails",
                    MB_OK | MB_ICONEXCLAMATION);
        SetFocus(GetDlgItem(hDlg, IDC_OF_MINUTES));
        return false;
    }
    data.pSetup->m_bRetry = bRetry;
    if (bNumber && minutes >= CFailureSetup::kMinRetryMinutes &&
        minutes <= CFailureSetup::kMaxRetryMinutes)
        data.pSetup->m_dwRetryMinutes = minutes;
    *data.pStartup = IsDlgButtonChecked(hDlg, IDC_OF_STARTUP) == BST_CHECKED;
    return true;
}

INT_PTR CALLBACK FailureProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* pData = reinterpret_cast<FailureDialogData*>(GetWindowLongPtrW(hDlg, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG:
        pData = reinterpret_cast<FailureDialogData*>(lParam);
        SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
        CheckDlgButton(hDlg, IDC_OF_RETRY, pData->pSetup->m_bRetry ? BST_CHECKED : BST_UNCHECKED);
        SetDlgItemInt(hDlg, IDC_OF_MINUTES, pData->pSetup->m_dwRetryMinutes, FALSE);
        CheckDlgButton(hDlg, IDC_OF_STARTUP, *pData->pStartup ? BST_CHECKED : BST_UNCHECKED);
        EnableMinutes(hDlg);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_OF_RETRY:
            EnableMinutes(hDlg);
            return TRUE;
        case IDOK:
            if (AcceptFailure(hDlg, *pData))
                EndDialog(hDlg, IDOK);
            return TRUE;
        case IDCANCEL:
            EndDialog(hDlg, IDCANCEL);
            return TRUE;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

} // namespace

INT_PTR CMorvaneDlg::RunFailureDialog(CFailureSetup& setup, bool& bStartup) {
    FailureDialogData data{&setup, &bStartup};
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ON_FAILURE), m_hWnd,
                           FailureProc, reinterpret_cast<LPARAM>(&data));
}

void CMorvaneDlg::OnFailurePolicy() {
    CFailureSetup setup = m_FailureSetup;
    bool bStartup = IsStartWithWindows();
    const bool bWasStartup = bStartup;
    if (RunFailureDialog(setup, bStartup) != IDOK)
        return;
    m_FailureSetup = setup;
    m_FailureSetup.Save();
    if (m_pPrintLoop)
        m_pPrintLoop->SetFailurePolicy(m_FailureSetup.m_bRetry, m_FailureSetup.m_dwRetryMinutes);
    if (bStartup != bWasStartup && !SetStartWithWindows(bStartup, ThisProgramPath()))
        MessageBoxW(m_hWnd, L"Windows did not let Morvane change its start with Windows.",
                    L"When a Copy Fails", MB_OK | MB_ICONEXCLAMATION);
}

std::unique_ptr<CTrayIcon> CMorvaneDlg::CreateTrayIcon() {
    return std::make_unique<CTrayIcon>(m_hWnd, WM_TRAY_ICON, m_hSmallIcon);
}

void CMorvaneDlg::StartTray() {
    try {
        m_pTray = CreateTrayIcon();
    } catch (...) {
        m_pTray.reset();
    }
    if (!m_pTray)
        return;
    m_pTray->Add();
    UpdateTray();
}

void CMorvaneDlg::UpdateTray() {
    if (!m_pTray)
        return;
    const TrayMode mode = m_bAttention ? TrayMode::Attention
                          : m_bStarted ? TrayMode::Running
                                       : TrayMode::Stopped;
    const WorkerActivity activity = m_pPrintLoop ? m_pPrintLoop->GetActivity() : WorkerActivity();
    m_pTray->SetTip(TrayTip(mode, activity));
}

void CMorvaneDlg::NotifyActivityChanged() {
    if (!m_bActivityPosted.exchange(true))
        PostMessage(WM_WORKER_ACTIVITY);
}

void CMorvaneDlg::NotifyRetry(RetryNews news, const CString& strReason) {
    {
        std::lock_guard<std::mutex> lock(m_newsLock);
        m_News.emplace_back(news, strReason);
    }
    PostMessage(WM_RETRY_NEWS);
}

LRESULT CMorvaneDlg::OnWorkerActivityMsg(WPARAM, LPARAM) {
    // As the rebuilds: at most one a kWorkerRefreshIntervalMs, the flag
    // staying set while a timer's turn is due.
    if (WaitsForTimer(m_bActivityTimer, m_nLastActivityShown, kActivityTimerID))
        return 0;
    ShowActivity();
    return 0;
}

void CMorvaneDlg::ShowActivity() {
    // Cleared before the activity is read: a change from now on posts again.
    m_bActivityPosted = false;
    m_nLastActivityShown = GetTickCount64();
    UpdateTray();
}

LRESULT CMorvaneDlg::OnRetryNewsMsg(WPARAM, LPARAM) {
    std::deque<std::pair<RetryNews, CString>> news;
    {
        std::lock_guard<std::mutex> lock(m_newsLock);
        news.swap(m_News);
    }
    for (const auto& [what, reason] : news) {
        if (m_pTray)
            m_pTray->ShowBalloon(TrayBalloon(what, reason, m_FailureSetup.m_dwRetryMinutes));
    }
    return 0;
}

LRESULT CMorvaneDlg::OnTaskbarCreated(WPARAM, LPARAM) {
    // Explorer started again: the icon is put back, with its tip.
    if (m_pTray)
        m_pTray->Add();
    return 0;
}

LRESULT CMorvaneDlg::OnHideAtStart(WPARAM, LPARAM) {
    // Only into an icon the user can click; without one, the taskbar.
    if (m_pTray && m_pTray->IsAdded())
        ShowWindow(m_hWnd, SW_HIDE);
    else
        ShowWindow(m_hWnd, SW_MINIMIZE);
    return 0;
}

void CMorvaneDlg::ShowFromTray() {
    ShowWindow(m_hWnd, SW_SHOW);
    if (IsIconic())
        ShowWindow(m_hWnd, SW_RESTORE);
    SetForegroundWindow(m_hWnd);
}

void CMorvaneDlg::TrayMenu(POINT pt) {
    HMENU hMenu = CreatePopupMenu();
    if (!hMenu)
        return;
    AppendMenuW(hMenu, MF_STRING, IDM_TRAY_OPEN, L"&Open");
    AppendMenuW(hMenu, MF_STRING | (m_pPrintLoop ? 0 : MF_GRAYED), IDM_TRAY_START_STOP,
                m_bStarted ? L"&Stop" : L"&Start");
    AppendMenuW(hMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(hMenu, MF_STRING, IDM_TRAY_EXIT, L"E&xit");
    SetMenuDefaultItem(hMenu, IDM_TRAY_OPEN, FALSE);
    // The menu goes when the user clicks elsewhere only if the window is
    // the foreground one.
    SetForegroundWindow(m_hWnd);
    const UINT nCmd = static_cast<UINT>(TrackPopupMenu(
        hMenu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, pt.x, pt.y, 0, m_hWnd, nullptr));
    DestroyMenu(hMenu);
    switch (nCmd) {
    case IDM_TRAY_OPEN:
        ShowFromTray();
        break;
    case IDM_TRAY_START_STOP:
        OnStartStop();
        break;
    case IDM_TRAY_EXIT:
        PostMessage(WM_SYSCOMMAND, SC_CLOSE);
        break;
    default:
        break;
    }
}

LRESULT CMorvaneDlg::OnTrayIcon(WPARAM wParam, LPARAM lParam) {
    // Version 4: the event in the low word of lParam, the point in wParam.
    switch (LOWORD(lParam)) {
    case NIN_SELECT:
    case NIN_KEYSELECT:
        ShowFromTray();
        break;
    case WM_CONTEXTMENU: {
        POINT pt{static_cast<short>(LOWORD(wParam)), static_cast<short>(HIWORD(wParam))};
        if (pt.x == 0 && pt.y == 0)
            GetCursorPos(&pt);
        TrayMenu(pt);
        break;
    }
    default:
        break;
    }
    return 0;
}
