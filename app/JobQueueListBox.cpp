#include "app/JobQueueListBox.h"

#include "framework/DC.h"
#include "framework/Sync.h"

#include <algorithm>

namespace {
const COLORREF kRowLine = RGB(200, 200, 200);
const COLORREF kColumnLine = RGB(128, 128, 128);

// Name and path meet at fixed x positions; copies and status keep fixed
// widths at the right-hand edge.
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
    const LONG L = rc.left, T = rc.top, R = rc.right, B = rc.bottom;
    // A status longer than its column ("Waiting for printer: Paper out")
    // takes room from the path, so the user reads all of it; copies and
    // status move left together, with their lines.
    LONG shift = 0;
    if (!strStatus.IsEmpty()) {
        SIZE size{};
        GetTextExtentPoint32A(lpDIS->hDC, strStatus, strStatus.GetLength(), &size);
        if (size.cx + 2 > kStatusRoom)
            shift = std::min<LONG>(
                size.cx + 2 - kStatusRoom,
                std::max<LONG>(0, R - kPathRightFromEdge - kPathLeft - kPathKeptForStatus));
    }
    RECT rcName{L + 1, T + 1, kNameRight, B - 1};
    const LONG right = R - shift; // where copies and status are measured from
    RECT rcPath{kPathLeft, T + 1, right - kPathRightFromEdge, B - 1};
    RECT rcCopies{right - kCopiesLeftFromEdge, T + 1, right - kCopiesRightFromEdge, B - 1};
    RECT rcStatus{right - kStatusLeftFromEdge, T + 1, R - 1, B - 1};

    if (lpDIS->itemState & ODS_SELECTED) {
        dc.SetTextColor(GetSysColor(COLOR_HIGHLIGHTTEXT));
        dc.SetBkColor(GetSysColor(COLOR_HIGHLIGHT));
        dc.FillSolidRect(rc, GetSysColor(COLOR_HIGHLIGHT));
    } else {
        dc.FillSolidRect(rc, crOldBk);
    }

    // File names may hold "&": shown as typed, never as a mnemonic.
    const UINT fmt = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
    dc.DrawText(strName, rcName, fmt);
    dc.DrawText(strPath, rcPath, fmt);
    dc.DrawText(strCopies, rcCopies, fmt | DT_RIGHT);
    dc.DrawText(strStatus, rcStatus, fmt);

    dc.FillSolidRect(RECT{L, B - 1, R, B}, kRowLine);
    dc.FillSolidRect(RECT{kNamePathGap, T - 1, kNamePathGap + 1, B}, kColumnLine);
    dc.FillSolidRect(
        RECT{right - kPathCopiesGapFromEdge, T - 1, right - kPathCopiesGapFromEdge + 1, B},
        kColumnLine);
    dc.FillSolidRect(
        RECT{right - kCopiesStatusGapFromEdge, T - 1, right - kCopiesStatusGapFromEdge + 1, B},
        kColumnLine);

    dc.SetTextColor(crOldText);
    dc.SetBkColor(crOldBk);
    dc.Detach();
}
