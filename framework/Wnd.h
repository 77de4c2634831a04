// CWnd: a thin typed owner of a window handle in the framework's manner.
// The object does not own the window: Attach/Detach bind and unbind the
// handle, and the window is destroyed by whoever created it (for dialog
// controls, the dialog). Message handling lives in the message map of each
// window class (framework/MessageMap.h); CWnd's own map handles nothing.
//
// Threads: a CWnd belongs to the thread that created its window. Only
// Invalidate and PostMessage may be called from other threads.
#pragma once

#include "framework/String.h"

#include <windows.h>

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd() = default;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return GetSafeHwnd(); }

    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    HWND Detach();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;

    void SetWindowText(const char* pszText);
    CString GetWindowText() const;
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsIconic() const;
    void Invalidate(BOOL bErase = TRUE);
    void GetClientRect(LPRECT lpRect) const;
    HWND GetDlgItem(int nID) const;
    HMENU GetSystemMenu(BOOL bRevert) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    void DragAcceptFiles(BOOL bAccept = TRUE);

    // A message sent by this window to its parent (owner drawing) and handed
    // back to the control's object; TRUE when the object handled it.
    virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    HWND m_hWnd = nullptr;

protected:
    // The message map's entry point; each map falls back to its base class.
    virtual BOOL OnMessageMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
    // Inside a message handler: let the system's default handling run.
    LRESULT Default();
    BOOL m_bCallDefault = FALSE;
};
