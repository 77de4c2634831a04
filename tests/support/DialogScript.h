// Runs a test's script inside a modal dialog, from a message the dialog
// posted to itself in OnInitDialog. A script that does not end the dialog
// has it cancelled, so no test is left waiting on a window.
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
