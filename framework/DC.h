// CDC: a device context the object does not own. Attach binds one (such as
// the context of an owner-draw record), Detach gives it back; nothing is
// released. Threads: the thread that got the context.
#pragma once

#include <windows.h>

class CDC {
public:
    CDC() = default;
    ~CDC() = default;
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    BOOL Attach(HDC hDC);
    HDC Detach();
    HDC GetSafeHdc() const { return m_hDC; }

    COLORREF GetTextColor() const { return ::GetTextColor(m_hDC); }
    COLORREF GetBkColor() const { return ::GetBkColor(m_hDC); }
    COLORREF SetTextColor(COLORREF cr) { return ::SetTextColor(m_hDC, cr); }
    COLORREF SetBkColor(COLORREF cr) { return ::SetBkColor(m_hDC, cr); }
    // Fills the rectangle with one colour; the background colour is kept.
    void FillSolidRect(const RECT& rc, COLORREF cr);
    int DrawText(const char* pszText, RECT& rc, UINT nFormat);
    void DrawIcon(int x, int y, HICON hIcon) { ::DrawIcon(m_hDC, x, y, hIcon); }

    HDC m_hDC = nullptr;
};
