#include "framework/Dialog.h"

#include "framework/DataExchange.h"
#include "framework/Dpi.h"
#include "framework/Exceptions.h"
#include "framework/MessageBox.h"
#include "framework/WinApp.h"

#include <algorithm>
#include <exception>
#include <new>

namespace {
// Messages whose result is the dialog procedure's return value itself.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
    case WM_CHARTOITEM:
    case WM_COMPAREITEM:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_VKEYTOITEM:
        return true;
    default:
        return false;
    }
}

// Both the framework's and the language's out-of-memory exceptions.
bool IsOutOfMemory(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const CMemoryException&) {
        return true;
    } catch (const std::bad_alloc&) {
        return true;
    } catch (...) {
        return false;
    }
}

// Tells the user about an exception a handler let out; the dialog goes on.
// Nothing leaves this, not even a box that could not be shown: no exception
// may cross the dialog procedure.
void ReportFailure(HWND hWnd, const std::exception_ptr& failure) noexcept {
    try {
        ShowMessageBox(hWnd,
                       IsOutOfMemory(failure) ? "Out of memory."
                                              : "An unsupported operation was attempted.",
                       MB_OK | MB_ICONSTOP);
    } catch (...) {
    }
}
} // namespace

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

INT_PTR CDialog::DoModal() {
    HWND hOwner = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : AfxGetMainWndHandle();
    if (hOwner && !IsWindow(hOwner))
        hOwner = nullptr;
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_nIDTemplate), hOwner,
                           &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(int nResult) {
    ::EndDialog(m_hWnd, nResult);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    const BOOL bOldLockout = m_bLockoutNotify;
    m_bLockoutNotify = bSaveAndValidate || m_bInitializing;
    BOOL bOK = TRUE;
    try {
        DoDataExchange(&dx);
    } catch (const CUserException&) {
        // The user has been told; the field in error has the focus.
        bOK = FALSE;
    } catch (...) {
        m_bLockoutNotify = bOldLockout;
        throw;
    }
    m_bLockoutNotify = bOldLockout;
    return bOK;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

void CDialog::ScaleContents(UINT from, UINT to) {
    const auto scale = [&](LONG v) {
        return static_cast<LONG>(MulDiv(v, static_cast<int>(to), static_cast<int>(from)));
    };
    HFONT hFont = nullptr;
    LOGFONTA lf{};
    // The dialog keeps its template's font (the system frees it with the
    // window); the controls get one of their own at the new size.
    HFONT hOld = m_hScaledFont;
    if (!hOld)
        hOld = reinterpret_cast<HFONT>(::SendMessageA(m_hWnd, WM_GETFONT, 0, 0));
    if (hOld && GetObjectA(hOld, sizeof(lf), &lf) == sizeof(lf)) {
        lf.lfHeight = scale(lf.lfHeight);
        lf.lfWidth = scale(lf.lfWidth);
        hFont = CreateFontIndirectA(&lf);
    }
    for (HWND hChild = ::GetWindow(m_hWnd, GW_CHILD); hChild;
         hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
        RECT r{};
        ::GetWindowRect(hChild, &r);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
        MoveWindow(hChild, scale(r.left), scale(r.top), scale(r.right) - scale(r.left),
                   scale(r.bottom) - scale(r.top), FALSE);
        if (hFont)
            ::SendMessageA(hChild, WM_SETFONT, reinterpret_cast<WPARAM>(hFont), FALSE);
    }
    if (hFont) {
        if (m_hScaledFont)
            DeleteObject(m_hScaledFont);
        m_hScaledFont = hFont;
    }
    InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CDialog::OnDpiChanged(UINT dpi, const RECT& suggested) {
    if (m_uDpi && dpi && dpi != m_uDpi && !SystemScalesDialogs())
        ScaleContents(m_uDpi, dpi);
    if (dpi)
        m_uDpi = dpi;
    SetWindowPos(m_hWnd, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::BindControl(CWnd& control, HWND hWndCtrl) {
    control.Attach(hWndCtrl);
    if (std::find(m_boundControls.begin(), m_boundControls.end(), &control) ==
        m_boundControls.end())
        m_boundControls.push_back(&control);
}

BOOL CDialog::OnMessageMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) {
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    if (message == WM_DRAWITEM || message == WM_MEASUREITEM || message == WM_DELETEITEM) {
        // Owner-drawing messages name the control in their record.
        HWND hCtrl = nullptr;
        if (message == WM_DRAWITEM)
            hCtrl = reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->hwndItem;
        else if (message == WM_DELETEITEM)
            hCtrl = reinterpret_cast<DELETEITEMSTRUCT*>(lParam)->hwndItem;
        else
            hCtrl =
                GetDlgItem(static_cast<int>(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->CtlID));
        for (CWnd* pCtrl : m_boundControls) {
            if (pCtrl->m_hWnd && pCtrl->m_hWnd == hCtrl)
                return pCtrl->OnChildNotify(message, wParam, lParam, &lResult);
        }
    }
    return FALSE;
}

void CDialog::OnWindowGone() {
    if (AfxGetMainWndHandle() == m_hWnd)
        AfxSetMainWndHandle(nullptr);
    for (CWnd* pCtrl : m_boundControls)
        pCtrl->Detach();
    m_boundControls.clear();
    m_hWnd = nullptr;
    if (m_hScaledFont) {
        DeleteObject(m_hScaledFont);
        m_hScaledFont = nullptr;
    }
}

INT_PTR CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        if (CWinApp* pApp = AfxGetApp(); pApp && pApp->m_pMainWnd == this)
            AfxSetMainWndHandle(m_hWnd);
        m_uDpi = GetWindowDpi(m_hWnd);
        m_bInitializing = TRUE;
        struct Done {
            BOOL& b;
            ~Done() { b = FALSE; }
        } done{m_bInitializing};
        return OnInitDialog();
    }
    if (message == WM_DPICHANGED) {
        if (const auto* pSuggested = reinterpret_cast<const RECT*>(lParam))
            OnDpiChanged(HIWORD(wParam), *pSuggested);
        return FALSE;
    }
    // A control's notification (lParam names the control) about a change
    // the data exchange is making right now.
    if (message == WM_COMMAND && lParam != 0 && m_bLockoutNotify)
        return TRUE;
    LRESULT lResult = 0;
    m_bCallDefault = FALSE;
    const BOOL bHandled = OnMessageMap(message, wParam, lParam, lResult);
    if (message == WM_NCDESTROY)
        OnWindowGone();
    if (!bHandled || m_bCallDefault)
        return FALSE;
    if (ReturnsResultDirectly(message))
        return static_cast<INT_PTR>(lResult);
    // The owner-drawing messages' senders read no result, and a list box
    // sends one a row at every rebuild: setting the window's value costs a
    // call to the window manager each, so it is set only where it is read,
    // and only when it changes.
    if (message == WM_DRAWITEM || message == WM_MEASUREITEM || message == WM_DELETEITEM)
        return TRUE;
    if (GetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT) != lResult)
        SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, lResult);
    return TRUE;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* pDlg;
    if (message == WM_INITDIALOG) {
        pDlg = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(pDlg));
        pDlg->m_hWnd = hWnd;
    } else {
        pDlg = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hWnd, DWLP_USER));
    }
    if (!pDlg)
        return FALSE;
    try {
        return pDlg->HandleMessage(message, wParam, lParam);
    } catch (...) {
        ReportFailure(hWnd, std::current_exception());
    }
    // The window's last message failed: the object lets go of it all the same.
    if (message == WM_NCDESTROY)
        pDlg->OnWindowGone();
    return FALSE;
}
