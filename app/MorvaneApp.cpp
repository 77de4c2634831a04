#include "app/MorvaneApp.h"

#include "intake/CommandLine.h"
#include "app/DisplayLock.h"
#include "app/MorvaneDlg.h"

#include <commctrl.h>

CMorvaneApp theApp;

namespace {

// How long a second start looks for the running window: long enough for a
// first start to load a long queue and show its window, or for a closing
// one to save its queue and let the store go.
const DWORD kHandOverWaitMs = 15000;

void ShowMessage(const CQueueRequest& request, const std::wstring& text) {
    if (!request.bQuiet)
        MessageBoxW(nullptr, text.c_str(), L"Tolvar Morvane", MB_OK | MB_ICONEXCLAMATION);
}

} // namespace

CMorvaneApp::CMorvaneApp() : CWinApp(nullptr) {
    InitDisplayLock();
}

BOOL CMorvaneApp::InitInstance() {
    InitCommonControls();
    // The setup dialog's address field is one of the internet controls.
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&icc);
    CWinApp::InitInstance();
    AfxEnableControlContainer();
    SetRegistryKey("Local AppWizard-Generated Applications");

    CQueueRequest request;
    std::wstring error;
    if (!ParseCommandLine(ProcessArguments(), request, error)) {
        ShowMessage(request, UsageText(error));
        m_nExitCode = kExitBadArguments;
        return FALSE;
    }
    std::wstring badFile;
    if (!ResolveFiles(request, badFile)) {
        ShowMessage(request, L"The file cannot be found, so nothing was queued:\n" + badFile);
        m_nExitCode = kExitBadFile;
        return FALSE;
    }

    // One program owns the queue: a second start hands its command line to
    // the window of the first and ends.
    for (;;) {
        const int nHandedOver = HandOverRequest(request, kHandOverWaitMs);
        if (nHandedOver >= 0) {
            if (nHandedOver == kExitNotTaken)
                ShowMessage(request, L"Morvane is running but did not take the files. Nothing "
                                     L"was queued.");
            m_nExitCode = nHandedOver;
            return FALSE;
        }
        CMorvaneDlg dlg;
        // Another start claimed the store between the look and the claim:
        // this window only read the queue and stores nothing; hand over.
        if (!dlg.GetJobList().OwnsStore())
            continue;
        dlg.SetStartupRequest(&request);
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
        m_nExitCode = dlg.GetStartupResult();
        // Leaving the scope destroys the window's objects: the worker is
        // stopped for good, then the queue is saved and released.
        return FALSE;
    }
}

int CMorvaneApp::ExitInstance() {
    return m_nExitCode;
}
