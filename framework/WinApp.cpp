#include "framework/WinApp.h"

#include "framework/MessageBox.h"

namespace {
CWinApp* g_pApp = nullptr;
}

CWinApp::CWinApp(const char* pszAppName) {
    g_pApp = this;
    if (pszAppName && *pszAppName)
        AfxSetAppName(pszAppName);
}

CWinApp::~CWinApp() {
    if (g_pApp == this)
        g_pApp = nullptr;
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

int AfxWinMain(HINSTANCE hInstance) {
    CWinApp* pApp = AfxGetApp();
    if (!pApp)
        return -1;
    pApp->m_hInstance = hInstance;
    int nResult;
    try {
        if (!pApp->InitInstance())
            nResult = pApp->ExitInstance();
        else
            nResult = pApp->Run();
    } catch (...) {
        nResult = -1;
    }
    AfxSetMainWndHandle(nullptr);
    return nResult;
}
