// CJobQueueListBox: the owner-drawn list of queued jobs, one row per job in
// queue order, four columns (name, path, copies, status). A row stores only
// its job's identity text (a copy owned by the list box, valid until the
// next rebuild, so a row whose job was released meanwhile stays readable);
// every paint looks the job up and reads its current fields.
//
// What a screen reader reads: the control keeps strings (LBS_HASSTRINGS),
// each row's the job's name (so typing a name's first letters finds it),
// and once the control is bound (Bind) LB_GETTEXT and LB_GETTEXTLEN answer
// with the row's whole text, read from its job at the time of asking:
// name, copies and status (RowText).
// Keys (after Bind): the control tells its parent of the keys that act on
// the selected job by sending it kMsgJobKey with one of kRemove to kMoveDown; Enter is taken
// from the dialog manager so that it does not press the default button.
// Tooltips: CutOffTextAt gives the name or path under a point when its
// column cuts it off; the bound control hands its mouse messages to the
// tooltip itself.
// Bind replaces the control's window procedure and keeps the object in its
// user data: a list rebuilt for the worker every 100 ms sends itself two
// messages a row, and a subclass that looks itself up in the window's
// properties costs a call to the system's server for each of them.
//
// Threads: the window's thread only (rows are rebuilt there, under the
// display lock, and painted there). DrawItem holds the list's lock and then
// the job's lock (the queue's order) only while it finds the job and copies
// its fields, never while drawing.
#pragma once

#include "framework/ListBox.h"
#include "framework/String.h"
#include "queue/JobList.h"

#include <commctrl.h>

#include <memory>
#include <vector>

// Where a row's parts go: the four columns' text rectangles and the x of
// the three lines between them. The lengths are laid out at 96 DPI and
// scaled to the list box's DPI; shift (pixels at that DPI) moves copies and
// status left, with their lines, for a status longer than its column.
struct JobRowLayout {
    RECT name, path, copies, status;
    LONG namePathLine, pathCopiesLine, copiesStatusLine;
};
JobRowLayout LayoutJobRow(const RECT& row, LONG shift, UINT dpi);
// How far a status this wide (pixels at the DPI) moves copies and status
// left in a row this wide: as far as it needs, keeping some of the path.
LONG StatusShift(LONG statusWidth, const RECT& row, UINT dpi);

class CJobQueueListBox : public CListBox {
public:
    static constexpr const char* kClassName = "CJobQueueListBox";
    // Sent to the parent: wParam one of the actions below; the result is not looked at.
    static constexpr UINT kMsgJobKey = WM_APP + 0x120;
    static constexpr WPARAM kRemove = 1, kAdd = 2, kEditCopies = 3, kMoveUp = 4, kMoveDown = 5;
    // The action of a key pressed in the list, or 0 for none.
    static WPARAM KeyAction(UINT vk, bool bCtrl);
    // The text a screen reader reads for a row.
    static CString RowText(const CString& strName, int nCopies, const CString& strStatus);

    CJobQueueListBox() = default;
    ~CJobQueueListBox() override = default;

    void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;
    // The queue the rows show; not owned. Set once.
    virtual void SetJobList(CJobList* pJobList);

    // Binds the attached control: its text messages and keys (see above).
    // Call once, after Attach; the binding goes with the window.
    void Bind();
    // The whole name or path under pt (client coordinates) when its column
    // cuts it off; empty otherwise.
    CString CutOffTextAt(POINT pt);
    // Makes the list a tool of hTip (owned by the window) that shows
    // CutOffTextAt of the pointer. After Bind.
    void AddToolTip(HWND hTip);

    // Empties the control and forgets the rows' identity texts.
    void ResetRows();
    // Appends a row for the job with this identity text; its index.
    int AddJobRow(const CString& strID, const CString& strName = CString());
    // The identity text a row stands for, or null (no such row, not ours).
    const CString* GetRowID(DWORD_PTR itemData) const;

    // The DPI the rows are drawn at (the monitor's); the window tells it
    // at start and when it moves to a monitor of another DPI.
    void SetDpi(UINT dpi) { m_uDpi = dpi; }
    UINT GetDpi() const { return m_uDpi; }

    CJobList* m_pJobList = nullptr;

private:
    static LRESULT CALLBACK ListProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnListMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // The row's job's fields, copied under its lock; false when the row or
    // its job is gone.
    bool ReadRow(int nRow, CString* pName, CString* pPath, int* pCopies, CString* pStatus);

    UINT m_uDpi = 96;
    std::vector<std::unique_ptr<CString>> m_rowIDs;
    HWND m_hTip = nullptr;
    WNDPROC m_pfnControlProc = nullptr;
    // The row text LB_GETTEXTLEN measured last, which the next LB_GETTEXT
    // of that row copies.
    int m_nMeasuredRow = -1;
    CString m_strMeasured;
    // The text the tooltip shows, and the row and column it is for.
    CString m_strTip;
    LPARAM m_nTipAt = -1;
};
