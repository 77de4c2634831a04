// CHistoryDlg: the job history window. A report-style list of every entry
// of the history, newest first, one column per field; a virtual list, so
// only the rows in view are asked for their text and a long history opens
// at once. It follows entries recorded while it is open, keeps the user's
// selection on its entries when new ones come in above, and can be resized.
// "Queue Again" (the default button: Enter) hands the selected entries'
// files, with their copies asked, to the queue; a file that no longer
// exists is named in one message instead, and so is a failed entry whose
// job is still in the queue (it would print every copy twice). Escape
// closes.
// Times show in the user's own date and time format (the file keeps ISO
// 8601). A click on a column's header sorts the rows by that column, a
// second click the other way round; entries that come in meanwhile take
// their places in that order, the selection staying on its entries.
//
// Ownership: the window reads the history and never changes it; the history
// outlives the window. Threads: the window's thread, and a reader thread
// started when the window opens: it reads the files (two full ones take a
// while), hands the entries over in a slot shared with the window and posts
// WM_HISTORY_READ, so the window answers meanwhile. A window closed first
// only clears the slot's window: the reader keeps what it uses alive and
// posts nothing. The history tells the window of new entries by a posted
// message; page lines among them are folded into their jobs' rows.
#pragma once

#include "framework/Dialog.h"
#include "history/JobHistory.h"
#include "queue/QueuedJob.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CHistoryDlg : public CDialog {
public:
    // Posted by the history after each entry.
    static constexpr UINT WM_HISTORY_ADDED = WM_APP + 0x110;
    // Posted by the reader thread when the files are read.
    static constexpr UINT WM_HISTORY_READ = WM_APP + 0x111;
    using QueueAgainFn = std::function<void(const std::vector<CQueuedJob>&)>;

    // Whether a job of the queue still prints the file.
    using StillQueuedFn = std::function<bool(const std::wstring& path)>;

    CHistoryDlg(CJobHistory& history, QueueAgainFn queueAgain, CWnd* pParent = nullptr);
    void SetStillQueued(StillQueuedFn stillQueued) { m_stillQueued = std::move(stillQueued); }

    // The entries shown, newest first (row 0 is the newest).
    int GetRowCount() const { return static_cast<int>(m_entries.size()); }
    const CHistoryEntry& EntryAtRow(int nRow) const;
    // A cell's text as the list shows it.
    std::wstring CellText(int nRow, int nColumn) const;
    // An entry's ISO 8601 time in the user's date and time format; the
    // text as stored when it is no such time.
    static std::wstring TimeText(const std::string& iso);
    // Sorts the rows by a column (ascending or not); -1: newest first.
    void SortBy(int nColumn, bool bAscending);

    BOOL OnInitDialog() override;
    // "Queue Again".
    void OnOK() override;

protected:
    LRESULT OnNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnHistoryAdded(WPARAM wParam, LPARAM lParam);
    LRESULT OnHistoryRead(WPARAM wParam, LPARAM lParam);
    LRESULT OnSize(WPARAM wParam, LPARAM lParam);
    LRESULT OnGetMinMaxInfo(WPARAM wParam, LPARAM lParam);
    LRESULT OnDestroy(WPARAM wParam, LPARAM lParam);
    // The columns, the controls' places and the smallest window follow the
    // new DPI before the window takes the suggested size.
    void OnDpiChanged(UINT dpi, const RECT& suggested) override;

    DECLARE_MESSAGE_MAP()

private:
    HWND List() const;
    std::vector<int> SelectedRows() const;
    void Layout(int cx, int cy);
    // Adds what the history recorded since m_nSeen; the rows added on top.
    int AddRecent();
    // The index in m_entries of the entry a row shows.
    size_t EntryIndex(int nRow) const;
    // Puts m_order in the order of m_nSortColumn (nothing when unsorted).
    void Sort();

    // What the reader thread hands over, under its lock.
    struct ReadSlot {
        std::mutex lock;
        HWND hWnd = nullptr; // null once the window is gone
        std::vector<CHistoryEntry> entries;
        size_t nSeen = 0;
    };

    CJobHistory& m_history;
    QueueAgainFn m_queueAgain;
    StillQueuedFn m_stillQueued;
    // Oldest first, as read; the list shows them the other way round.
    std::vector<CHistoryEntry> m_entries;
    // While sorted by a column: the entries' indexes in row order.
    int m_nSortColumn = -1;
    bool m_bAscending = true;
    std::vector<size_t> m_order;
    size_t m_nSeen = 0;
    // Until the reader is done, the history's messages wait for it.
    std::shared_ptr<ReadSlot> m_read;
    bool m_bRead = false;
    // The client size the template gave, where the controls stood in it,
    // and the smallest window (half the first).
    SIZE m_initialClient{};
    SIZE m_minWindow{};
    RECT m_listRect{}, m_okRect{}, m_cancelRect{};
    // The DPI the sizes above and the columns' widths are at.
    UINT m_uDpi = 96;
    std::wstring m_cell;
};
