// CMorvaneApp: the application object. Its constructor creates the display
// lock; InitInstance runs the main window as a modal dialog and returns
// FALSE, so the program ends when the window closes.
// Threads: the main thread only.
#pragma once

#include "framework/WinApp.h"

class CMorvaneApp : public CWinApp {
public:
    CMorvaneApp();
    BOOL InitInstance() override;
};

extern CMorvaneApp theApp;
