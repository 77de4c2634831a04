// CMorvaneApp: the application object. Its constructor creates the display
// lock; InitInstance reads the command line (app/CommandLine.h), hands it to
// the running window when another start owns the queue, or else runs the
// main window as a modal dialog, and returns FALSE, so the program ends
// when the window closes. The exit code is the command line's.
// Threads: the main thread only.
#pragma once

#include "framework/WinApp.h"

class CMorvaneApp : public CWinApp {
public:
    CMorvaneApp();
    BOOL InitInstance() override;
    int ExitInstance() override;

private:
    int m_nExitCode = 0;
};

extern CMorvaneApp theApp;
