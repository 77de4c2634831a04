// The window's side of the watched folder (intake/WatchedFolder.h): its
// dialog, the files the watcher queues, the files of "Queued" that no job
// names at start and the done files' records. Everything here runs on the
// window's thread, except NotifyJobDone, which the worker calls.
#include "intake/CommandLine.h"
#include "app/MorvaneDlg.h"
#include "app/resource.h"
#include "intake/PathCheck.h"
#include "printloop/PrintLoopThread.h"

#include <shlobj.h>

namespace {

std::wstring ItemText(HWND hDlg, int id) {
    const int n = GetWindowTextLengthW(GetDlgItem(hDlg, id));
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    GetDlgItemTextW(hDlg, id, text.data(), n + 1);
    text.resize(static_cast<size_t>(n));
    return text;
}

void EnableFields(HWND hDlg) {
    const BOOL on = IsDlgButtonChecked(hDlg, IDC_WF_ENABLE) == BST_CHECKED;
    for (int id : {IDC_WF_FOLDER, IDC_WF_BROWSE, IDC_WF_COPIES, IDC_WF_PRINTED, IDC_WF_DELETE})
        EnableWindow(GetDlgItem(hDlg, id), on);
}

void Browse(HWND hDlg) {
    wchar_t name[MAX_PATH] = L"";
    BROWSEINFOW bi{};
    bi.hwndOwner = hDlg;
    bi.pszDisplayName = name;
    bi.lpszTitle = L"The folder to watch:";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    LPITEMIDLIST pidl = SHBrowseForFolderW(&bi);
    if (!pidl)
        return;
    wchar_t path[MAX_PATH] = L"";
    if (SHGetPathFromIDListW(pidl, path))
        SetDlgItemTextW(hDlg, IDC_WF_FOLDER, path);
    CoTaskMemFree(pidl);
}

// Checks the fields; false (with a message, focus on the field) when one
// is wrong. A folder that is off may be anything.
bool Accept(HWND hDlg, CWatchedFolderSetup& setup) {
    CWatchedFolderSetup s = setup;
    s.m_bEnabled = IsDlgButtonChecked(hDlg, IDC_WF_ENABLE) == BST_CHECKED;
    s.m_strFolder = ItemText(hDlg, IDC_WF_FOLDER);
    s.m_bDeleteWhenDone = IsDlgButtonChecked(hDlg, IDC_WF_DELETE) == BST_CHECKED;
    BOOL bNumber = FALSE;
    const UINT copies = GetDlgItemInt(hDlg, IDC_WF_COPIES, &bNumber, FALSE);
    const wchar_t* problem = nullptr;
    int field = 0;
    if (!bNumber || copies < 1 || copies > static_cast<UINT>(CWatchedFolderSetup::kMaxCopies)) {
        problem = L"Copies must be a number from 1 to 100000.";
        field = IDC_WF_COPIES;
    } else if (s.m_bEnabled) {
        // Kept and compared in one form: absolute, long names, no trailing
        // separator, so that the same folder typed another way is the same.
        const std::wstring canonical = WatchedFolder::Canonical(s.m_strFolder);
        const DWORD a = canonical.empty()
                            ? INVALID_FILE_ATTRIBUTES
                            : GetFileAttributesW(PathCheck::Reachable(canonical).c_str());
        CString narrow;
        if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
            problem = L"Choose a folder that exists.";
            field = IDC_WF_FOLDER;
        } else if (!PathCheck::ToCodePage(canonical, GetACP(), narrow)) {
            // Stored with "?" it would name another folder, or none.
            problem = L"The folder's name has characters that Morvane cannot keep. Choose a "
                      L"folder whose name fits the system's code page.";
            field = IDC_WF_FOLDER;
        } else {
            s.m_strFolder = canonical;
        }
    }
    if (problem) {
        MessageBoxW(hDlg, problem, L"Watched Folder", MB_OK | MB_ICONEXCLAMATION);
        SetFocus(GetDlgItem(hDlg, field));
        return false;
    }
    s.m_nCopies = static_cast<int>(copies);
    setup = s;
    return true;
}

INT_PTR CALLBACK WatchedFolderProc(HWND hDlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* pSetup = reinterpret_cast<CWatchedFolderSetup*>(GetWindowLongPtrW(hDlg, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG:
        pSetup = reinterpret_cast<CWatchedFolderSetup*>(lParam);
        SetWindowLongPtrW(hDlg, DWLP_USER, lParam);
        CheckDlgButton(hDlg, IDC_WF_ENABLE, pSetup->m_bEnabled ? BST_CHECKED : BST_UNCHECKED);
        SetDlgItemTextW(hDlg, IDC_WF_FOLDER, pSetup->m_strFolder.c_str());
        SetDlgItemInt(hDlg, IDC_WF_COPIES, static_cast<UINT>(pSetup->m_nCopies), FALSE);
        CheckRadioButton(hDlg, IDC_WF_PRINTED, IDC_WF_DELETE,
                         pSetup->m_bDeleteWhenDone ? IDC_WF_DELETE : IDC_WF_PRINTED);
        EnableFields(hDlg);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_WF_ENABLE:
            EnableFields(hDlg);
            return TRUE;
        case IDC_WF_BROWSE:
            Browse(hDlg);
            return TRUE;
        case IDOK:
            if (Accept(hDlg, *pSetup))
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

CWatchedFolderSetup CMorvaneDlg::GetWatchedFolderSetup() const {
    if (m_pWatcher)
        return m_pWatcher->GetSetup();
    CWatchedFolderSetup setup;
    setup.Load();
    return setup;
}

void CMorvaneDlg::StartDoneFiles() {
    if (!m_pWatcher)
        return;
    CDoneFiles& done = m_pWatcher->Done();
    done.Load();
    // A job whose file is recorded as done ended before a crash took the
    // rest of its way: it is dropped, not printed again.
    // Nothing recorded (the usual start): the queue is not walked.
    std::vector<std::wstring> jobPaths;
    std::vector<size_t> drop;
    if (done.StuckCount() > 0) {
        CLock list(m_JobList.GetListLock());
        for (int i = 0; i < m_JobList.GetCount(); ++i) {
            CQueuedJob* pJob = m_JobList.GetAt(i);
            jobPaths.push_back(pJob ? WatchedFolder::FromAnsi(pJob->GetPath()) : std::wstring());
        }
        drop = WatchedFolder::PlanStart(jobPaths, {}, [&done](const std::wstring& p) {
                   return !p.empty() && done.IsTaken(p);
               }).jobsToDrop;
        // From the back, so the indices ahead stay where they were.
        for (auto it = drop.rbegin(); it != drop.rend(); ++it)
            m_JobList.RemoveIdleAt(static_cast<int>(*it));
    }
    if (!drop.empty())
        RefreshJobList();
    done.Start();
}

void CMorvaneDlg::StartWatching(const CWatchedFolderSetup& setup) {
    if (!m_pWatcher)
        return;
    m_pWatcher->Stop();
    // Files the watcher moved into "Queued" before it stopped are queued
    // first, in their order, so that the look at "Queued" below finds them
    // named and does not queue them a second time.
    OnWatchedFile(0, 0);
    if (m_bWatchLost) {
        m_bWatchLost = false;
        UpdateTitle();
    }
    if (setup.m_bEnabled && !setup.m_strFolder.empty()) {
        // A crash between a file's move into "Queued" and its stored job
        // left a file that no job names: it is queued now, and only it.
        // A file recorded as done is not: its way ends in "Printed".
        std::vector<std::wstring> jobPaths;
        {
            CLock list(m_JobList.GetListLock());
            for (int i = 0; i < m_JobList.GetCount(); ++i) {
                if (CQueuedJob* pJob = m_JobList.GetAt(i))
                    jobPaths.push_back(WatchedFolder::FromAnsi(pJob->GetPath()));
            }
        }
        CDoneFiles& done = m_pWatcher->Done();
        const WatchedFolder::StartPlan plan =
            WatchedFolder::PlanStart(jobPaths,
                                     WatchedFolder::FilesOf(WatchedFolder::SubFolder(
                                         setup.m_strFolder, WatchedFolder::kQueued)),
                                     [&done](const std::wstring& p) { return done.IsTaken(p); });
        for (const std::wstring& file : plan.toQueue)
            QueueWatchedFile(file, setup.m_nCopies);
    }
    m_pWatcher->Configure(setup);
}

void CMorvaneDlg::QueueWatchedFile(const std::wstring& path, int nCopies) {
    CQueueRequest request;
    request.files.push_back(path);
    request.nCopies = nCopies;
    // A file that cannot be queued (a name outside the ANSI code page) is
    // named in a message: it waits in "Queued" and is queued at the next
    // start once renamed.
    request.bQuiet = false;
    if (QueueRequest(request) != kExitQueued)
        return;
    // Many files may arrive at once: the rows follow at the worker's pace.
    RequestRefreshJobList();
    if (m_pPrintLoop)
        m_pPrintLoop->NotifyQueueChanged();
}

LRESULT CMorvaneDlg::OnWatchedFile(WPARAM, LPARAM) {
    if (!m_pWatcher)
        return 0;
    const int nCopies = GetWatchedFolderSetup().m_nCopies;
    for (const std::wstring& path : m_pWatcher->TakeArrived())
        QueueWatchedFile(path, nCopies);
    return 0;
}

LRESULT CMorvaneDlg::OnDoneFilesStuck(WPARAM wParam, LPARAM lParam) {
    // Told once a file, where the notification area is; the caption keeps
    // the count while any is left.
    if (lParam > 0 && m_pTray) {
        TrayBalloonText balloon;
        balloon.title = L"Printed file not moved";
        balloon.text = L"A file of the watched folder was printed but could not be moved out of "
                       L"\"Queued\". It will not be printed again; Morvane keeps trying to move "
                       L"it.";
        m_pTray->ShowBalloon(balloon);
    }
    const size_t nStuck = static_cast<size_t>(wParam);
    if (nStuck == m_nStuckFiles)
        return 0;
    m_nStuckFiles = nStuck;
    UpdateTitle();
    return 0;
}

LRESULT CMorvaneDlg::OnWatchState(WPARAM wParam, LPARAM) {
    const bool bLost = wParam == 0;
    if (bLost == m_bWatchLost)
        return 0;
    m_bWatchLost = bLost;
    UpdateTitle();
    return 0;
}

void CMorvaneDlg::NotifyJobDone(const CString& strPath) {
    // On the worker's thread, before the job's record goes: the file is
    // recorded as done; the window is not touched, no file is moved here.
    if (m_pWatcher)
        m_pWatcher->JobDone(WatchedFolder::FromAnsi(strPath));
}

INT_PTR CMorvaneDlg::RunWatchedFolderDialog(CWatchedFolderSetup& setup) {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_WATCHED_FOLDER), m_hWnd,
                           WatchedFolderProc, reinterpret_cast<LPARAM>(&setup));
}

void CMorvaneDlg::OnWatchedFolder() {
    CWatchedFolderSetup setup = GetWatchedFolderSetup();
    if (RunWatchedFolderDialog(setup) != IDOK)
        return;
    setup.Save();
    if (m_JobList.OwnsStore())
        StartWatching(setup);
}
