// Dialog data exchange: moves values between a dialog's members and its
// controls, in one direction per pass, and validates them on the way in.
// A failed check tells the user with the framework's standard message, puts
// the focus on the field and ends the pass (CUserException, caught by
// UpdateData). Runs on the dialog's thread.
#pragma once

#include "framework/Dialog.h"
#include "framework/Exceptions.h"
#include "framework/String.h"

#include <windows.h>

// Ends a data exchange pass after the user has been told what is wrong.
class CUserException : public CException {
public:
    const char* what() const noexcept override { return "invalid entry"; }
};

class CDataExchange {
public:
    CDataExchange(CDialog* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    // The control's window; a missing control ends the pass.
    HWND PrepareCtrl(int nIDC);
    HWND PrepareEditCtrl(int nIDC);
    // Puts the focus on the last control prepared and ends the pass.
    [[noreturn]] void Fail();

    BOOL m_bSaveAndValidate;
    CDialog* m_pDlgWnd;

private:
    HWND m_hWndLastControl = nullptr;
    BOOL m_bEditLastControl = FALSE;
};

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
// Decimal integer; text that is not one shows "Please enter an integer.".
void DDX_Text(CDataExchange* pDX, int nIDC, int& value);
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
// The radio button nIDC starts a group: value is the index of the checked
// button in the group, -1 for none.
void DDX_Radio(CDataExchange* pDX, int nIDC, int& value);
// Combo box text: writing selects the first item that begins with it
// (ignoring case) and keeps the selection when none does; reading gives the
// selected item's text, empty with no selection.
void DDX_CBString(CDataExchange* pDX, int nIDC, CString& value);
// IP address control; the first octet in the most significant byte.
void DDX_IPAddress(CDataExchange* pDX, int nIDC, DWORD& value);
// On the way in: a value outside minVal..maxVal shows "Please enter an
// integer between <min> and <max>." and fails.
void DDV_MinMaxInt(CDataExchange* pDX, int value, int minVal, int maxVal);
