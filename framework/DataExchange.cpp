#include "framework/DataExchange.h"

#include "framework/MessageBox.h"

#include <commctrl.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace {
CString ReadWindowText(HWND hWnd) {
    const int n = GetWindowTextLengthA(hWnd);
    std::vector<char> buf(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
    GetWindowTextA(hWnd, buf.data(), static_cast<int>(buf.size()));
    return CString(buf.data());
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A whole decimal number, optionally signed, with blanks around it only.
bool ParseInt(const char* psz, int& value) {
    while (IsBlank(*psz))
        ++psz;
    if (*psz == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    const long l = strtol(psz, &end, 10);
    if (end == psz || errno == ERANGE || l < INT_MIN || l > INT_MAX)
        return false;
    while (IsBlank(*end))
        ++end;
    if (*end != '\0')
        return false;
    value = static_cast<int>(l);
    return true;
}
} // namespace

HWND CDataExchange::PrepareCtrl(int nIDC) {
    HWND hWndCtrl = m_pDlgWnd->GetDlgItem(nIDC);
    if (!hWndCtrl)
        throw CUserException();
    m_hWndLastControl = hWndCtrl;
    m_bEditLastControl = FALSE;
    return hWndCtrl;
}

HWND CDataExchange::PrepareEditCtrl(int nIDC) {
    HWND hWndCtrl = PrepareCtrl(nIDC);
    m_bEditLastControl = TRUE;
    return hWndCtrl;
}

void CDataExchange::Fail() {
    if (m_bSaveAndValidate && m_hWndLastControl) {
        SetFocus(m_hWndLastControl);
        if (m_bEditLastControl)
            SendMessageA(m_hWndLastControl, EM_SETSEL, 0, -1);
    }
    throw CUserException();
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.m_hWnd)
        return;
    HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
    pDX->m_pDlgWnd->BindControl(rControl, hWndCtrl);
}

void DDX_Text(CDataExchange* pDX, int nIDC, int& value) {
    HWND hWndCtrl = pDX->PrepareEditCtrl(nIDC);
    if (!pDX->m_bSaveAndValidate) {
        CString text;
        text.Format("%d", value);
        SetWindowTextA(hWndCtrl, text);
        return;
    }
    int parsed = 0;
    if (!ParseInt(ReadWindowText(hWndCtrl), parsed)) {
        AfxMessageBox("Please enter an integer.", MB_ICONEXCLAMATION);
        pDX->Fail();
    }
    value = parsed;
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value) {
    HWND hWndCtrl = pDX->PrepareEditCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        value = ReadWindowText(hWndCtrl);
    else
        SetWindowTextA(hWndCtrl, value);
}

void DDX_Radio(CDataExchange* pDX, int nIDC, int& value) {
    HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate)
        value = -1;
    // The group runs from nIDC to the next control that starts a group.
    int iButton = 0;
    do {
        const LRESULT code = SendMessageA(hWndCtrl, WM_GETDLGCODE, 0, 0);
        if (code & DLGC_RADIOBUTTON) {
            if (pDX->m_bSaveAndValidate) {
                if (SendMessageA(hWndCtrl, BM_GETCHECK, 0, 0) == BST_CHECKED)
                    value = iButton;
            } else {
                SendMessageA(hWndCtrl, BM_SETCHECK, iButton == value ? BST_CHECKED : BST_UNCHECKED,
                             0);
            }
            ++iButton;
        }
        hWndCtrl = GetWindow(hWndCtrl, GW_HWNDNEXT);
    } while (hWndCtrl && !(GetWindowLongA(hWndCtrl, GWL_STYLE) & WS_GROUP));
}

void DDX_CBString(CDataExchange* pDX, int nIDC, CString& value) {
    HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
    const bool bDropList = (GetWindowLongA(hWndCtrl, GWL_STYLE) & 0x3) == CBS_DROPDOWNLIST;
    if (!pDX->m_bSaveAndValidate) {
        if (SendMessageA(hWndCtrl, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                         reinterpret_cast<LPARAM>(value.GetString())) == CB_ERR &&
            !bDropList)
            SetWindowTextA(hWndCtrl, value);
        return;
    }
    if (!bDropList) {
        value = ReadWindowText(hWndCtrl);
        return;
    }
    const LRESULT sel = SendMessageA(hWndCtrl, CB_GETCURSEL, 0, 0);
    if (sel == CB_ERR) {
        value.Empty();
        return;
    }
    const LRESULT len = SendMessageA(hWndCtrl, CB_GETLBTEXTLEN, static_cast<WPARAM>(sel), 0);
    if (len == CB_ERR) {
        value.Empty();
        return;
    }
    std::vector<char> buf(static_cast<size_t>(len) + 1, '\0');
    SendMessageA(hWndCtrl, CB_GETLBTEXT, static_cast<WPARAM>(sel),
                 reinterpret_cast<LPARAM>(buf.data()));
    value = buf.data();
}

void DDX_IPAddress(CDataExchange* pDX, int nIDC, DWORD& value) {
    HWND hWndCtrl = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate) {
        DWORD dw = 0;
        SendMessageA(hWndCtrl, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&dw));
        value = dw;
    } else {
        SendMessageA(hWndCtrl, IPM_SETADDRESS, 0, static_cast<LPARAM>(value));
    }
}

void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal) {
    if (!pDX->m_bSaveAndValidate || (value >= minVal && value <= maxVal))
        return;
    CString text;
    text.Format("Please enter an integer between %d and %d.", minVal, maxVal);
    AfxMessageBox(text, MB_ICONEXCLAMATION);
    pDX->Fail();
}
