// CJobQueueListBox: the owner-drawn list of queued jobs, one row per job in
// queue order, four columns (name, path, copies, status). A row stores only
// its job's identity text (a copy owned by the list box, valid until the
// next rebuild, so a row whose job was released meanwhile stays readable);
// every paint looks the job up and reads its current fields.
//
// Threads: the window's thread only (rows are rebuilt there, under the
// display lock, and painted there). DrawItem holds the list's lock and then
// the job's lock (the queue's order) only while it finds the job and copies
// its fields, never while drawing.
#pragma once

#include "framework/ListBox.h"
#include "framework/String.h"
#include "queue/JobList.h"

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

    CJobQueueListBox() = default;
    ~CJobQueueListBox() override = default;

    void DrawItem(LPDRAWITEMSTRUCT lpDrawItemStruct) override;
    // The queue the rows show; not owned. Set once.
    virtual void SetJobList(CJobList* pJobList);

    // Empties the control and forgets the rows' identity texts.
    void ResetRows();
    // Appends a row for the job with this identity text; its index.
    int AddJobRow(const CString& strID);
    // The identity text a row stands for, or null (no such row, not ours).
    const CString* GetRowID(DWORD_PTR itemData) const;

    // The DPI the rows are drawn at (the monitor's); the window tells it
    // at start and when it moves to a monitor of another DPI.
    void SetDpi(UINT dpi) { m_uDpi = dpi; }
    UINT GetDpi() const { return m_uDpi; }

    CJobList* m_pJobList = nullptr;

private:
    UINT m_uDpi = 96;
    std::vector<std::unique_ptr<CString>> m_rowIDs;
};
