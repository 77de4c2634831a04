// CWinApp: the application object. The program defines exactly one, as a
// global; the framework's entry point (AfxWinMain, called by WinMain) runs
// its InitInstance and, when that returns TRUE, its Run; the process ends
// with the result.
//
// Threads: the main thread only. The object lives for the whole process.
#pragma once

#include "framework/Wnd.h"

#include <windows.h>

class CWinApp {
public:
    explicit CWinApp(const char* pszAppName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int Run() { return ExitInstance(); }
    virtual int ExitInstance() { return 0; }
    // The key under which the framework's profile functions would store
    // settings; the program stores nothing there.
    void SetRegistryKey(const char* pszRegistryKey) { m_strRegistryKey = pszRegistryKey; }

    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;
    CString m_strRegistryKey;
};

CWinApp* AfxGetApp();
// Dialogs may host ActiveX controls; nothing to prepare in this framework.
inline void AfxEnableControlContainer() {}
// The framework's entry: runs the application object.
int AfxWinMain(HINSTANCE hInstance);
