#include "app/MorvaneApp.h"

#include "app/DisplayLock.h"
#include "app/MorvaneDlg.h"

#include <commctrl.h>

CMorvaneApp theApp;

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

    {
        CMorvaneDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
        // Leaving the scope destroys the window's objects: the worker is
        // stopped for good, then the queue is saved and released.
    }
    return FALSE;
}
