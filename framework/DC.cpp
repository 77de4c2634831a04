#include "framework/DC.h"

BOOL CDC::Attach(HDC hDC) {
    if (!hDC)
        return FALSE;
    m_hDC = hDC;
    return TRUE;
}

HDC CDC::Detach() {
    HDC h = m_hDC;
    m_hDC = nullptr;
    return h;
}

void CDC::FillSolidRect(const RECT& rc, COLORREF cr) {
    const COLORREF old = ::SetBkColor(m_hDC, cr);
    ::ExtTextOutA(m_hDC, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, old);
}

int CDC::DrawText(const char* pszText, RECT& rc, UINT nFormat) {
    return ::DrawTextA(m_hDC, pszText ? pszText : "", -1, &rc, nFormat);
}
