// CButton: a push, check or radio button control; a typed handle only.
// Threads: the control's thread only.
#pragma once

#include "framework/Wnd.h"

class CButton : public CWnd {
public:
    int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
    void SetCheck(int nCheck) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(nCheck)); }
    UINT GetButtonStyle() const {
        return static_cast<UINT>(GetWindowLongA(m_hWnd, GWL_STYLE)) & 0xFFFF;
    }
    void SetButtonStyle(UINT nStyle, BOOL bRedraw = TRUE) {
        SendMessage(BM_SETSTYLE, nStyle, bRedraw);
    }
};
