// CDialog: a modal dialog made from a dialog template in the program's
// resources. One static dialog procedure binds the window to its object at
// WM_INITDIALOG and hands every later message to the object's message map;
// no exception leaves it. WM_DPICHANGED goes to OnDpiChanged. Owner-drawing messages of controls
// bound with DDX_Control go to the control's object (OnChildNotify).
//
// Ownership: the object outlives its window; controls bound by DDX_Control
// are detached when the window goes. Threads: the dialog's thread only.
#pragma once

#include "framework/MessageMap.h"
#include "framework/Wnd.h"

#include <vector>

class CDataExchange;

class CDialog : public CWnd {
public:
    // With no parent the dialog is owned by the application's main window.
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override = default;

    // Runs the dialog until it ends; its result, or -1 when it could not be
    // created (no template, no display).
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);

    // TRUE: controls to members, validating (a failed validation has told
    // the user and leaves FALSE); FALSE: members to controls, whose change
    // notifications reach the message map once the dialog is set up.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    // The window went to a monitor of another DPI (WM_DPICHANGED): where
    // the system does not scale dialogs itself, scales the controls' places
    // and the font; then moves the window to the rectangle the system
    // suggests. A dialog with pixel sizes of its own scales them first,
    // then calls this.
    virtual void OnDpiChanged(UINT dpi, const RECT& suggested);

    // Called by DDX_Control: the object now stands for the control.
    void BindControl(CWnd& control, HWND hWndCtrl);

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    BOOL OnMessageMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnWindowGone();

    std::vector<CWnd*> m_boundControls;
    // The controls' notifications about changes UpdateData makes are not
    // handed to the message map while it reads the controls, nor while it
    // writes them during WM_INITDIALOG (the first values are no one's
    // edit). Once the dialog is up, a control that UpdateData writes tells
    // the dialog as an edit by the user would, so the handler checks a
    // value the code put in.
    BOOL m_bLockoutNotify = FALSE;
    // Inside OnInitDialog.
    BOOL m_bInitializing = FALSE;
    // The DPI the controls are laid out at, and the font made for a DPI
    // the dialog scaled itself to (owned; the template's font otherwise).
    UINT m_uDpi = 0;
    HFONT m_hScaledFont = nullptr;
    void ScaleContents(UINT from, UINT to);
};
