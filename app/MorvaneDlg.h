// CMorvaneDlg: the program's one window, a modal dialog that shows the job
// queue and lets the user add, remove and re-count jobs, start and stop the
// worker and open the setup dialog.
//
// Ownership: the window owns the queue, the output settings, the list box
// and the worker for the whole run. The worker is stopped for good when the
// window receives WM_DESTROY, while its handles are still valid (and by the
// destructor, for a window that never came up), before anything it points
// to goes; then the queue saves itself and releases its jobs. The job
// history is made before the worker and closed (what is queued for it
// written) right after the worker has stopped for good.
// Threads: every handler runs on the window's thread. The worker reaches the
// window only through IPrintLoopOwner, whose calls post messages (or
// invalidate) and never wait for this thread (see the lock rules in
// printloop/PrintLoopThread.h). Another process reaches it only through
// WM_COPYDATA (a command line handed over, intake/CommandLine.h): the handler
// copies the request, queues on this thread and answers before it rebuilds
// the rows; a window whose list owns the queue carries the store's window
// tag so that a second start finds it. The watched folder's thread
// (intake/WatchedFolder.h) only queues files in its own queue and posts to
// the window, which takes them and queues them on its own thread;
// NotifyJobDone, on the worker's thread, only records a done file (the done
// files' thread moves it) and touches no window. The watcher is made before the worker starts
// and goes after the worker has stopped. Commands that act on a row
// find the row's job in the queue under the list's lock and do nothing when
// it is gone.
// Keys: the job list sends the keys that act on its selected job
// (CJobQueueListBox::kMsgJobKey): Delete and Insert do what "-" and "+" do,
// Enter and F2 go to "Copies:" (and Enter there back to the list), Ctrl+Up and Ctrl+Down move the
// job in the queue (CJobList::MoveIdle, the store kept in line). Tooltips: one tooltip control,
// owned by the window, for the buttons and the list's cut-off names and paths. The notification
// area (app/TrayIcon.h): the icon is added when the window comes up and again when Explorer
// restarts; its tip follows the worker's activity, which the worker announces by a posted message
// (at most one in the queue), and its balloons the worker's retry news, which wait in m_News (under
// m_newsLock) for the message that shows them. Minimizing hides the window there while the icon is
// shown.
#pragma once

#include "app/JobQueueListBox.h"
#include "app/TrayIcon.h"
#include "intake/WatchedFolder.h"
#include "framework/Button.h"
#include "framework/Dialog.h"
#include "history/JobHistory.h"
#include "printloop/PrintLoopOwner.h"
#include "queue/JobList.h"
#include "settings/FailureSetup.h"
#include "settings/SpoolerSetup.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CPrintLoopThread;
struct CQueueRequest;

class CMorvaneDlg : public CDialog, public IPrintLoopOwner {
public:
    // Posted by the worker: rebuild the rows; the worker stopped itself.
    static constexpr UINT WM_REFRESH_JOB_LIST = WM_APP + 0x100;
    static constexpr UINT WM_WORKER_STOPPED = WM_APP + 0x101;
    // Posted to itself: show the next message about a command line.
    static constexpr UINT WM_SHOW_QUEUE_MESSAGE = WM_APP + 0x102;
    // Posted by the history's writer: it could not write an entry.
    static constexpr UINT WM_HISTORY_FAILED = WM_APP + 0x103;
    // From the notification area icon; from the worker: its activity
    // changed, news of a retry spell; posted to itself: hide at start.
    static constexpr UINT WM_TRAY_ICON = WM_APP + 0x104;
    static constexpr UINT WM_WORKER_ACTIVITY = WM_APP + 0x105;
    static constexpr UINT WM_RETRY_NEWS = WM_APP + 0x106;
    static constexpr UINT WM_HIDE_AT_START = WM_APP + 0x107;
    static constexpr UINT WM_REPAINT_JOB_LIST = WM_APP + 0x108;
    // The worker's rebuild requests are served at most this often; the
    // ones in between wait for a timer.
    static constexpr DWORD kWorkerRefreshIntervalMs = 100;
    static constexpr UINT_PTR kRefreshTimerID = 1;
    static constexpr UINT_PTR kActivityTimerID = 2;
    static constexpr UINT_PTR kRepaintTimerID = 3;
    static constexpr int kMinCopies = 1;
    static constexpr int kMaxCopies = 100000;

    explicit CMorvaneDlg(CWnd* pParent = nullptr);
    ~CMorvaneDlg() override;

    // Rebuilds the rows from the queue; afterwards no row is selected.
    void RefreshJobList();
    // "Tolvar Morvane - " and the output the settings name.
    void UpdateTitle();

    // IPrintLoopOwner, called on the worker's thread.
    HWND GetJobListBox() override;
    void RequestRefreshJobList() override;
    void RequestRepaintJobList() override;
    void NotifyWorkerStopped() override;
    HWND GetMessageBoxOwner() override;
    void RecordHistory(const CHistoryEntry& entry) override;
    void OnJobPagesCounted(unsigned long nToken, std::optional<unsigned long> pages) override;
    void NotifyActivityChanged() override;
    void NotifyRetry(RetryNews news, const CString& strReason) override;

    // Puts the jobs at the end of the queue (from the history window).
    void QueueAgain(const std::vector<CQueuedJob>& jobs);
    // A job of the queue prints the file (the same path, any case).
    bool HoldsJobFor(const std::wstring& path);
    // The job history; null when the program runs without one.
    CJobHistory* GetHistory() { return m_pHistory.get(); }
    void NotifyJobDone(const CString& strPath) override;

    CJobList& GetJobList() { return m_JobList; }
    CSpoolerSetup& GetSetup() { return m_Setup; }
    CJobQueueListBox& GetJobListBoxObject() { return m_JobListBox; }
    CPrintLoopThread* GetPrintLoop() { return m_pPrintLoop; }
    // The window's tooltip control; null before it comes up or without one.
    HWND GetToolTip() const { return m_hToolTip; }
    int GetCurrentCopies() const { return m_nCopies; }

    // The command line (app/CommandLine.h). The request of the process's
    // own command line, applied once the window is shown; the pointer must
    // stay valid until then. Its result is the process's exit code.
    void SetStartupRequest(const CQueueRequest* pRequest);
    int GetStartupResult() const { return m_nStartupResult; }
    // Checks every file, then queues them all or none; an exit code. A bad
    // file is reported (unless quiet) by a message shown later. A request
    // whose time to be taken (nAcceptUntil) has passed once the files are
    // checked queues nothing (kExitNotTaken).
    int QueueRequest(const CQueueRequest& request);

    // The watched folder (intake/WatchedFolder.h): its settings as stored, and
    // whether the folder is unreachable now.
    CWatchedFolderSetup GetWatchedFolderSetup() const;
    // What a failed copy does, as stored.
    const CFailureSetup& GetFailureSetup() const { return m_FailureSetup; }
    // The notification area icon; null when there is none.
    CTrayIcon* GetTrayIcon() { return m_pTray.get(); }
    bool IsWatchedFolderLost() const { return m_bWatchLost; }
    CFolderWatcher* GetWatcher() { return m_pWatcher.get(); }
    // Done files of the watched folder that could not be moved or deleted.
    size_t GetStuckFileCount() const { return m_nStuckFiles; }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // "Close"; Enter in "Copies:" with a job selected takes the count and
    // goes back to the job list instead.
    void OnOK() override;

    // The one worker, not yet started; tests stand in a worker of their own.
    virtual CPrintLoopThread* CreatePrintLoop();
    // The setup dialog, run on the window's settings; IDOK when they changed.
    virtual INT_PTR RunSetupDialog();
    // The history, made when the window comes up: the user's own folder,
    // or none when MORVANE_HISTORY is "off" (a bench's comparison); tests
    // give it a folder of their own.
    virtual std::unique_ptr<CJobHistory> CreateHistory();
    // The history window, run modally over this one.
    virtual INT_PTR RunHistoryDialog();
    // The notification area icon; tests hand the shell's calls to a
    // recorder of their own.
    virtual std::unique_ptr<CTrayIcon> CreateTrayIcon();
    // The "When a Copy Fails" dialog on these settings (and "Start with
    // Windows" on bStartup); IDOK when the user accepted.
    virtual INT_PTR RunFailureDialog(CFailureSetup& setup, bool& bStartup);
    // The "Watched Folder" dialog on these settings; IDOK when accepted.
    virtual INT_PTR RunWatchedFolderDialog(CWatchedFolderSetup& setup);
    // Stops the worker for good and lets it go; safe to call twice.
    void StopPrintLoop();

    LRESULT OnSysCommand(WPARAM wParam, LPARAM lParam);
    LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
    LRESULT OnQueryDragIcon(WPARAM wParam, LPARAM lParam);
    LRESULT OnDropFiles(WPARAM wParam, LPARAM lParam);
    LRESULT OnEndSession(WPARAM wParam, LPARAM lParam);
    LRESULT OnDestroy(WPARAM wParam, LPARAM lParam);
    LRESULT OnRefreshJobListMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnRepaintJobListMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnWorkerStoppedMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnTimer(WPARAM wParam, LPARAM lParam);
    LRESULT OnHistoryFailedMsg(WPARAM wParam, LPARAM lParam);
    void OnAddJob();
    void OnRemoveJob();
    void OnSelChangeJobList();
    void OnStartStop();
    void OnChangeCopies();
    void OnSetup();
    LRESULT OnCopyData(WPARAM wParam, LPARAM lParam);
    LRESULT OnShowQueueMessage(WPARAM wParam, LPARAM lParam);
    LRESULT OnWatchedFile(WPARAM wParam, LPARAM lParam);
    LRESULT OnWatchState(WPARAM wParam, LPARAM lParam);
    LRESULT OnDoneFilesStuck(WPARAM wParam, LPARAM lParam);
    void OnWatchedFolder();
    void OnFailurePolicy();
    LRESULT OnTrayIcon(WPARAM wParam, LPARAM lParam);
    LRESULT OnTaskbarCreated(WPARAM wParam, LPARAM lParam);
    LRESULT OnWorkerActivityMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnRetryNewsMsg(WPARAM wParam, LPARAM lParam);
    LRESULT OnHideAtStart(WPARAM wParam, LPARAM lParam);
    LRESULT OnJobKey(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    // At the end of OnInitDialog: tags the window as the queue's owner and
    // applies the startup request.
    void InitCommandLine();
    // Reads the done files' records, drops the jobs they name (ended before
    // a crash) and starts moving the files. Before the first StartWatching.
    void StartDoneFiles();
    // Queues again the files of "Queued" that no job names, then watches
    // the folder the settings name (none when off).
    void StartWatching(const CWatchedFolderSetup& setup);
    // Queues one file of the watched folder at the end, with the folder's
    // copies (the settings being started, for the files found at start).
    void QueueWatchedFile(const std::wstring& path, int nCopies);
    // After a request: rows, worker, Start, and the window brought forward
    // (unless it starts hidden).
    void AfterRequest(int nResult);
    // The notification area: the icon made and added, its tip brought up
    // to date, the window shown again, and the icon's menu.
    void StartTray();
    void UpdateTray();
    void ShowFromTray();
    void TrayMenu(POINT pt);

    // The queue index of the job the row stands for, or -1 when the row or
    // its job is gone. Call with the list's lock held.
    int QueueIndexOfRow(int nRow);
    // The row that stands for the job with this identity, or -1.
    int RowOfJob(const CString& strID);
    // Selects that row (none when the job has no row).
    void SelectJobRow(const CString& strID);
    // Moves the selected job one place (nStep -1 up, +1 down), the row
    // staying selected on it; nothing when it or its neighbour is busy.
    void MoveSelectedJob(int nStep);
    // The tooltips of the buttons and the job list's rows.
    void CreateToolTips();
    // Rebuilds the rows for the worker, keeping the user's selected job.
    void RefreshForWorker();

    // The worker asks for a rebuild after every finished job. A long queue
    // of short jobs would otherwise keep the window's thread rebuilding all
    // the time (posted requests are served before clicks and painting), and
    // fill its message queue. So at most one request is in the queue (the
    // flag is set by the worker, cleared here), and rebuilds for the worker
    // come at most every kWorkerRefreshIntervalMs; a request in between
    // waits for a timer, whose message comes after input and painting.
    std::atomic<bool> m_bRefreshRequested{false};
    ULONGLONG m_nLastWorkerRefresh = 0;
    bool m_bRefreshTimer = false;
    // Whether a worker's request waits for a timer: one is set already, or
    // the last was served (at nLast) less than kWorkerRefreshIntervalMs ago
    // and one is set now for the rest.
    bool WaitsForTimer(bool& bTimer, ULONGLONG nLast, UINT_PTR nID);
    // The worker's repaints of the rows (progress texts) follow the same
    // rule: one request posted at a time, at most one repaint every
    // kWorkerRefreshIntervalMs, the last change always painted.
    std::atomic<bool> m_bRepaintRequested{false};
    ULONGLONG m_nLastWorkerRepaint = 0;
    bool m_bRepaintTimer = false;
    void RepaintForWorker();

    // The window's icons at its DPI (big, small), and every pair loaded
    // since: the notification area may still show an earlier one, so they
    // are destroyed with the window object.
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    std::vector<HICON> m_loadedIcons;
    void LoadIcons(UINT dpi);
    // The job list's row height at 96 DPI, as the list box chose it at its
    // font's size; the rows keep it scaled to the window's DPI.
    int m_nRowHeightAt96 = 0;
    void OnDpiChanged(UINT dpi, const RECT& suggested) override;
    CJobQueueListBox m_JobListBox;
    CJobList m_JobList;
    CSpoolerSetup m_Setup;
    CPrintLoopThread* m_pPrintLoop = nullptr;
    // The writer's first failure, told to the user once.
    std::mutex m_historyFailureLock;
    std::string m_strHistoryFailure;
    // Made before the worker and closed after it has stopped for good.
    std::unique_ptr<CJobHistory> m_pHistory;
    HWND m_hToolTip = nullptr;
    CButton m_RemoveButton;
    CButton m_StartStopButton;
    int m_nCopies = 0;
    // What the Start/Stop button last asked for; the worker's own flag may
    // have been cleared by a failure the window has not heard of yet.
    BOOL m_bStarted = FALSE;

    const CQueueRequest* m_pStartupRequest = nullptr;
    int m_nStartupResult = 0;
    bool m_bPendingStart = false;
    // Messages about bad files waiting to be shown, oldest first.
    std::deque<std::wstring> m_QueueMessages;
    // A message about a bad file is on the screen.
    bool m_bShowingQueueMessage = false;

    // Made in OnInitDialog, stopped before the worker goes.
    std::unique_ptr<CFolderWatcher> m_pWatcher;
    bool m_bWatchLost = false;
    size_t m_nStuckFiles = 0;

    CFailureSetup m_FailureSetup;
    std::unique_ptr<CTrayIcon> m_pTray;
    // Stopped by a failure, until the next Start.
    bool m_bAttention = false;
    // The startup request asked for the window to start hidden.
    bool m_bStartHidden = false;
    // Set by the worker when it posts WM_WORKER_ACTIVITY, cleared when the
    // tray shows the activity; shown at most every kWorkerRefreshIntervalMs,
    // a change in between waiting for a timer (as the rebuilds do).
    std::atomic<bool> m_bActivityPosted{false};
    ULONGLONG m_nLastActivityShown = 0;
    bool m_bActivityTimer = false;
    void ShowActivity();
    std::mutex m_newsLock;
    std::deque<std::pair<RetryNews, CString>> m_News; // under m_newsLock
};
