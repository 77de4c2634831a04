#include "app/JobQueueListBox.h"

#include "framework/DC.h"
#include "framework/Dpi.h"
#include "framework/Sync.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdio>

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

// The four columns of a row at the DPI: a status longer than its column
// ("Waiting for printer: Paper out") takes room from the path, so the user
// reads all of it; copies and status move left together, with their lines.
JobRowLayout LayRow(HDC hDC, const RECT& rc, const CString& strStatus, UINT dpi) {
    LONG shift = 0;
    if (!strStatus.IsEmpty()) {
        SIZE size{};
        GetTextExtentPoint32A(hDC, strStatus, strStatus.GetLength(), &size);
        shift = StatusShift(size.cx, rc, dpi);
    }
    return LayoutJobRow(rc, shift, dpi);
}

// Whether the text, drawn as the row draws it, is wider than its column.
bool CutOff(HDC hDC, const CString& text, const RECT& column) {
    SIZE size{};
    GetTextExtentPoint32A(hDC, text, text.GetLength(), &size);
    return size.cx > column.right - column.left;
}
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

CString CJobQueueListBox::CutOffTextAt(POINT pt) {
    const LRESULT hit = SendMessage(LB_ITEMFROMPOINT, 0,
                                    MAKELPARAM(static_cast<WORD>(pt.x), static_cast<WORD>(pt.y)));
    if (HIWORD(hit))
        return CString();
    const int nRow = LOWORD(hit);
    RECT rc{};
    if (SendMessage(LB_GETITEMRECT, static_cast<WPARAM>(nRow), reinterpret_cast<LPARAM>(&rc)) ==
        LB_ERR)
        return CString();
    CString name, path, status;
    int copies = 0;
    if (!ReadRow(nRow, &name, &path, &copies, &status))
        return CString();
    HDC hDC = ::GetDC(m_hWnd);
    if (!hDC)
        return CString();
    HGDIOBJ hOld = SelectObject(hDC, reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)));
    const JobRowLayout lay = LayRow(hDC, rc, status, m_uDpi);
    CString text;
    if (PtInRect(&lay.name, pt) && CutOff(hDC, name, lay.name))
        text = name;
    else if (PtInRect(&lay.path, pt) && CutOff(hDC, path, lay.path))
        text = path;
    SelectObject(hDC, hOld);
    ::ReleaseDC(m_hWnd, hDC);
    return text;
}

WPARAM CJobQueueListBox::KeyAction(UINT vk, bool bCtrl) {
    switch (vk) {
    case VK_DELETE:
        return bCtrl ? 0 : kRemove;
    case VK_INSERT:
        return bCtrl ? 0 : kAdd;
    case VK_RETURN:
    case VK_F2:
        return bCtrl ? 0 : kEditCopies;
    case VK_UP:
        return bCtrl ? kMoveUp : 0;
    case VK_DOWN:
        return bCtrl ? kMoveDown : 0;
    default:
        return 0;
    }
}

CString CJobQueueListBox::RowText(const CString& strName, int nCopies, const CString& strStatus) {
    char copies[48];
    std::snprintf(copies, sizeof(copies), nCopies == 1 ? ", %d copy" : ", %d copies", nCopies);
    CString text = strName + copies;
    if (!strStatus.IsEmpty())
        text += ", " + strStatus;
    return text;
}

void CJobQueueListBox::Bind() {
    if (!m_hWnd || m_pfnControlProc)
        return;
    SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_pfnControlProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListProc)));
}

void CJobQueueListBox::AddToolTip(HWND hTip) {
    if (!m_hWnd || !hTip)
        return;
    m_hTip = hTip;
    // The list itself gets the tooltip's questions (WM_NOTIFY).
    TOOLINFOA ti{};
    ti.cbSize = sizeof(ti);
    ti.uFlags = TTF_IDISHWND;
    ti.hwnd = m_hWnd;
    ti.uId = reinterpret_cast<UINT_PTR>(m_hWnd);
    ti.lpszText = LPSTR_TEXTCALLBACKA;
    ::SendMessageA(hTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&ti));
    // Long paths show whole, on one line as wide as the screen allows.
    ::SendMessageA(hTip, TTM_SETMAXTIPWIDTH, 0, GetSystemMetrics(SM_CXSCREEN));
}

bool CJobQueueListBox::ReadRow(int nRow, CString* pName, CString* pPath, int* pCopies,
                               CString* pStatus) {
    if (!m_pJobList || nRow < 0 || nRow >= GetCount())
        return false;
    const CString* pID = GetRowID(GetItemData(nRow));
    if (!pID || pID->IsEmpty())
        return false;
    CLock list(m_pJobList->GetListLock());
    CQueuedJob* pJob = m_pJobList->FindByID(*pID);
    if (!pJob)
        return false;
    CLock lock(pJob->m_Lock);
    *pName = pJob->m_strName;
    *pPath = pJob->m_strPath;
    *pCopies = pJob->m_nCopies;
    *pStatus = pJob->m_strStatus;
    return true;
}

LRESULT CALLBACK CJobQueueListBox::ListProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CJobQueueListBox*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (!self || !self->m_pfnControlProc)
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    const WNDPROC pfnControl = self->m_pfnControlProc;
    if (msg == WM_NCDESTROY) {
        // The control's own procedure again, for its last message.
        SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pfnControl));
        SetWindowLongPtrA(hWnd, GWLP_USERDATA, 0);
        self->m_pfnControlProc = nullptr;
        return CallWindowProcA(pfnControl, hWnd, msg, wParam, lParam);
    }
    return self->OnListMessage(hWnd, msg, wParam, lParam);
}

LRESULT CJobQueueListBox::OnListMessage(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const WNDPROC pfnControl = m_pfnControlProc;
    CJobQueueListBox* self = this;
    try {
        if (m_hTip && ((msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST) || msg == WM_NCMOUSEMOVE)) {
            const DWORD dwPos = GetMessagePos();
            MSG m{hWnd,
                  msg,
                  wParam,
                  lParam,
                  static_cast<DWORD>(GetMessageTime()),
                  {GET_X_LPARAM(dwPos), GET_Y_LPARAM(dwPos)}};
            ::SendMessageA(m_hTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&m));
        }
        switch (msg) {
        case LB_GETTEXT:
        case LB_GETTEXTLEN: {
            // The worker may change the status between a client's
            // LB_GETTEXTLEN and its LB_GETTEXT (the system sizes the buffer
            // of a call from another process that way): the text measured
            // is the one copied, so it always fits.
            const int nRow = static_cast<int>(wParam);
            CString text;
            if (msg == LB_GETTEXT && nRow == self->m_nMeasuredRow) {
                text = self->m_strMeasured;
            } else {
                CString name, path, status;
                int copies = 0;
                if (!self->ReadRow(nRow, &name, &path, &copies, &status))
                    break;
                text = RowText(name, copies, status);
            }
            if (msg == LB_GETTEXTLEN) {
                self->m_nMeasuredRow = nRow;
                self->m_strMeasured = text;
                return text.GetLength();
            }
            self->m_nMeasuredRow = -1;
            if (!lParam)
                return LB_ERR;
            memcpy(reinterpret_cast<char*>(lParam), text.GetString(),
                   static_cast<size_t>(text.GetLength()) + 1);
            return text.GetLength();
        }
        case WM_GETDLGCODE: {
            // Enter acts on a selected job instead of pressing "Close".
            LRESULT code = CallWindowProcA(pfnControl, hWnd, msg, wParam, lParam);
            const MSG* pMsg = reinterpret_cast<const MSG*>(lParam);
            if (pMsg && pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN &&
                self->GetCurSel() >= 0)
                code |= DLGC_WANTMESSAGE;
            return code;
        }
        case WM_KEYDOWN:
            if (const WPARAM action =
                    KeyAction(static_cast<UINT>(wParam), GetKeyState(VK_CONTROL) < 0)) {
                ::SendMessageA(::GetParent(hWnd), kMsgJobKey, action, 0);
                return 0;
            }
            break;
        case WM_MOUSEMOVE:
            // Another row or column: the tip goes, and the next one asks
            // for its text afresh.
            if (self->m_hTip) {
                const LPARAM at = self->SendMessage(LB_ITEMFROMPOINT, 0, lParam) * 2 +
                                  (GET_X_LPARAM(lParam) >= kPathLeft ? 1 : 0);
                if (at != self->m_nTipAt) {
                    self->m_nTipAt = at;
                    ::SendMessageA(self->m_hTip, TTM_POP, 0, 0);
                }
            }
            break;
        case WM_NOTIFY: {
            auto* pInfo = reinterpret_cast<NMTTDISPINFOA*>(lParam);
            if (pInfo && pInfo->hdr.hwndFrom == self->m_hTip &&
                pInfo->hdr.code == TTN_GETDISPINFOA) {
                POINT pt{};
                GetCursorPos(&pt);
                ScreenToClient(hWnd, &pt);
                self->m_strTip = self->CutOffTextAt(pt);
                pInfo->lpszText = const_cast<char*>(self->m_strTip.GetString());
                return 0;
            }
            break;
        }
        }
    } catch (...) {
        // No exception leaves a window procedure: the message gets the
        // control's own handling.
    }
    return CallWindowProcA(pfnControl, hWnd, msg, wParam, lParam);
}

void CJobQueueListBox::SetJobList(CJobList* pJobList) {
    m_pJobList = pJobList;
}

void CJobQueueListBox::ResetRows() {
    m_nMeasuredRow = -1;
    ResetContent();
    m_rowIDs.clear();
}

int CJobQueueListBox::AddJobRow(const CString& strID, const CString& strName) {
    m_rowIDs.push_back(std::make_unique<CString>(strID));
    const auto data = reinterpret_cast<DWORD_PTR>(m_rowIDs.back().get());
    // A control that keeps strings keeps the name; one that does not keeps
    // the value given as its string, the identity itself.
    const int nRow = AddString(GetWindowLongA(m_hWnd, GWL_STYLE) & LBS_HASSTRINGS
                                   ? strName.GetString()
                                   : reinterpret_cast<const char*>(data));
    if (nRow >= 0)
        SendMessage(LB_SETITEMDATA, static_cast<WPARAM>(nRow), static_cast<LPARAM>(data));
    return nRow;
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
    JobRowLayout row = LayRow(lpDIS->hDC, rc, strStatus, m_uDpi);

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
