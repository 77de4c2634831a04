#include "app/JobQueueListBox.h"

#include "framework/DC.h"
#include "framework/Dpi.h"
#include "framework/Sync.h"

#include <algorithm>

namespace {
const COLORREF kRowLine = RGB(200, 200, 200);
const COLORREF kColumnLine = RGB(128, 128, 128);

// Lengths at 96 DPI. Name and path meet at fixed x positions; copies and
// status keep fixed widths at the right-hand edge.
const int kNameRight = 73;
const int kNamePathGap = 75;
const int kPathLeft = 77;
// Distances from the row's right-hand edge.
const int kPathRightFromEdge = 153;
const int kPathCopiesGapFromEdge = 151;
const int kCopiesLeftFromEdge = 149;
const int kCopiesRightFromEdge = 123;
const int kCopiesStatusGapFromEdge = 121;
const int kStatusLeftFromEdge = 119;
// The status column's own width, and the least of the path a long status
// leaves visible.
const int kStatusRoom = 118;
const int kPathKeptForStatus = 40;
} // namespace

JobRowLayout LayoutJobRow(const RECT& row, LONG shift, UINT dpi) {
    const auto px = [dpi](int nAt96) { return static_cast<LONG>(ScaleToDpi(nAt96, dpi)); };
    const LONG L = row.left, T = row.top, R = row.right, B = row.bottom;
    const LONG right = R - shift; // where copies and status are measured from
    JobRowLayout out{};
    out.name = RECT{L + 1, T + 1, px(kNameRight), B - 1};
    out.path = RECT{px(kPathLeft), T + 1, right - px(kPathRightFromEdge), B - 1};
    out.copies =
        RECT{right - px(kCopiesLeftFromEdge), T + 1, right - px(kCopiesRightFromEdge), B - 1};
    out.status = RECT{right - px(kStatusLeftFromEdge), T + 1, R - 1, B - 1};
    out.namePathLine = px(kNamePathGap);
    out.pathCopiesLine = right - px(kPathCopiesGapFromEdge);
    out.copiesStatusLine = right - px(kCopiesStatusGapFromEdge);
    return out;
}

LONG StatusShift(LONG statusWidth, const RECT& row, UINT dpi) {
    const LONG room = ScaleToDpi(kStatusRoom, dpi);
    if (statusWidth + 2 <= room)
        return 0;
    const LONG pathRoom = row.right - ScaleToDpi(kPathRightFromEdge, dpi) -
                          ScaleToDpi(kPathLeft, dpi) - ScaleToDpi(kPathKeptForStatus, dpi);
    return std::min<LONG>(statusWidth + 2 - room, std::max<LONG>(0, pathRoom));
}

void CJobQueueListBox::SetJobList(CJobList* pJobList) {
    m_pJobList = pJobList;
}

void CJobQueueListBox::ResetRows() {
    ResetContent();
    m_rowIDs.clear();
}

int CJobQueueListBox::AddJobRow(const CString& strID) {
    m_rowIDs.push_back(std::make_unique<CString>(strID));
    return AddString(reinterpret_cast<const char*>(m_rowIDs.back().get()));
}

const CString* CJobQueueListBox::GetRowID(DWORD_PTR itemData) const {
    if (!itemData)
        return nullptr;
    for (const auto& p : m_rowIDs) {
        if (reinterpret_cast<DWORD_PTR>(p.get()) == itemData)
            return p.get();
    }
    return nullptr;
}

void CJobQueueListBox::DrawItem(LPDRAWITEMSTRUCT lpDIS) {
    if (!m_pJobList || !lpDIS || lpDIS->itemID == static_cast<UINT>(-1))
        return;
    const CString* pID = GetRowID(lpDIS->itemData);
    if (!pID || pID->IsEmpty())
        return;
    // The job is looked up and its fields copied without letting go of the
    // list in between: the worker may remove and release the job as soon as
    // the list is free (lock order: list, then job).
    CString strName, strPath, strStatus, strCopies;
    {
        CLock list(m_pJobList->GetListLock());
        CQueuedJob* pJob = m_pJobList->FindByID(*pID);
        if (!pJob)
            return;
        CLock lock(pJob->m_Lock);
        strName = pJob->m_strName;
        strPath = pJob->m_strPath;
        strStatus = pJob->m_strStatus;
        strCopies.Format("%d", pJob->m_nCopies);
    }

    CDC dc;
    if (!dc.Attach(lpDIS->hDC))
        return;
    const COLORREF crOldText = dc.GetTextColor();
    const COLORREF crOldBk = dc.GetBkColor();

    const RECT rc = lpDIS->rcItem;
    // A status longer than its column ("Waiting for printer: Paper out")
    // takes room from the path, so the user reads all of it; copies and
    // status move left together, with their lines.
    LONG shift = 0;
    if (!strStatus.IsEmpty()) {
        SIZE size{};
        GetTextExtentPoint32A(lpDIS->hDC, strStatus, strStatus.GetLength(), &size);
        shift = StatusShift(size.cx, rc, m_uDpi);
    }
    JobRowLayout row = LayoutJobRow(rc, shift, m_uDpi);

    if (lpDIS->itemState & ODS_SELECTED) {
        dc.SetTextColor(GetSysColor(COLOR_HIGHLIGHTTEXT));
        dc.SetBkColor(GetSysColor(COLOR_HIGHLIGHT));
        dc.FillSolidRect(rc, GetSysColor(COLOR_HIGHLIGHT));
    } else {
        dc.FillSolidRect(rc, crOldBk);
    }

    // File names may hold "&": shown as typed, never as a mnemonic.
    const UINT fmt = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
    dc.DrawText(strName, row.name, fmt);
    dc.DrawText(strPath, row.path, fmt);
    dc.DrawText(strCopies, row.copies, fmt | DT_RIGHT);
    dc.DrawText(strStatus, row.status, fmt);

    // The grid's lines stay one pixel wide at every DPI.
    const LONG T = rc.top, B = rc.bottom;
    dc.FillSolidRect(RECT{rc.left, B - 1, rc.right, B}, kRowLine);
    for (const LONG x : {row.namePathLine, row.pathCopiesLine, row.copiesStatusLine})
        dc.FillSolidRect(RECT{x, T - 1, x + 1, B}, kColumnLine);

    dc.SetTextColor(crOldText);
    dc.SetBkColor(crOldBk);
    dc.Detach();
}
