#include "framework/Wnd.h"

#include <shellapi.h>

#include <vector>

HWND CWnd::Detach() {
    HWND h = m_hWnd;
    m_hWnd = nullptr;
    return h;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::SetWindowText(const char* pszText) {
    ::SetWindowTextA(m_hWnd, pszText ? pszText : "");
}

CString CWnd::GetWindowText() const {
    const int n = ::GetWindowTextLengthA(m_hWnd);
    std::vector<char> buf(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
    ::GetWindowTextA(m_hWnd, buf.data(), static_cast<int>(buf.size()));
    return CString(buf.data());
}

BOOL CWnd::EnableWindow(BOOL bEnable) {
    return ::EnableWindow(m_hWnd, bEnable);
}

BOOL CWnd::IsWindowEnabled() const {
    return ::IsWindowEnabled(m_hWnd);
}

BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}

void CWnd::Invalidate(BOOL bErase) {
    ::InvalidateRect(m_hWnd, nullptr, bErase);
}

void CWnd::GetClientRect(LPRECT lpRect) const {
    ::GetClientRect(m_hWnd, lpRect);
}

HWND CWnd::GetDlgItem(int nID) const {
    return ::GetDlgItem(m_hWnd, nID);
}

HMENU CWnd::GetSystemMenu(BOOL bRevert) const {
    return ::GetSystemMenu(m_hWnd, bRevert);
}

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(hIcon)));
}

void CWnd::DragAcceptFiles(BOOL bAccept) {
    ::DragAcceptFiles(m_hWnd, bAccept);
}

BOOL CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) {
    return FALSE;
}

BOOL CWnd::OnMessageMap(UINT, WPARAM, LPARAM, LRESULT&) {
    return FALSE;
}

LRESULT CWnd::Default() {
    m_bCallDefault = TRUE;
    return 0;
}
