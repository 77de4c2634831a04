// Runs a test's script inside a modal dialog, from a message the dialog
// posted to itself in OnInitDialog. A script that does not end the dialog
// has it cancelled, so no test is left waiting on a window. Everything runs
// on the dialog's thread.
#pragma once

#include <windows.h>

#include <functional>

template <typename Dlg> void RunDialogScript(Dlg& dlg, const std::function<void(Dlg&)>& script) {
    // Shown now (the system shows a dialog only once its queue is idle), so
    // a hidden window afterwards means the script ended the dialog.
    ShowWindow(dlg.GetSafeHwnd(), SW_SHOW);
    if (script)
        script(dlg);
    if (dlg.GetSafeHwnd() && IsWindowVisible(dlg.GetSafeHwnd()))
        dlg.EndDialog(IDCANCEL);
}

// The dialog class Base as a test runs it: m_script runs once the window is
// up, given the test's own class Derived. Derived may keep a message map of
// its own on top of this one.
template <typename Derived, typename Base> class ScriptedDialog : public Base {
public:
    static constexpr UINT WM_RUN_SCRIPT = WM_APP + 0x200;
    using Base::Base;
    std::function<void(Derived&)> m_script;

    BOOL OnInitDialog() override {
        const BOOL bResult = Base::OnInitDialog();
        this->PostMessage(WM_RUN_SCRIPT);
        return bResult;
    }

protected:
    BOOL OnMessageMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override {
        if (message != WM_RUN_SCRIPT)
            return Base::OnMessageMap(message, wParam, lParam, lResult);
        RunDialogScript(static_cast<Derived&>(*this), m_script);
        lResult = 0;
        return TRUE;
    }
};
