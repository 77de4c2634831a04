// Every message box the program shows goes through ShowMessageBox, so a
// test can install a handler and no test ever waits on a box.
//
// Threads: boxes may be shown from any thread. Install or remove a handler
// only while no other thread can show a box (before workers start).
#pragma once

#include <windows.h>

#include <functional>

using MessageBoxHandler =
    std::function<int(HWND hOwner, const char* pszText, const char* pszCaption, UINT nType)>;

// Installs a handler (an empty one restores the real box); returns the previous.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// A box owned by hOwner, captioned with the application's name; waits until
// the user dismisses it and returns the button pressed.
int ShowMessageBox(HWND hOwner, const char* pszText, UINT nType = MB_OK);

// A box with text in UTF-16 and a caption of the caller's; a handler gets
// both in UTF-8.
int ShowMessageBoxW(HWND hOwner, const wchar_t* pszText, const wchar_t* pszCaption, UINT nType);

// The framework's form: the owner is the application's main window.
int AfxMessageBox(const char* pszText, UINT nType = MB_OK, UINT nIDHelp = 0);

// The application's name (the program's file name without extension unless
// set) and main window, as the application object publishes them. Any thread
// may ask for the name; the pointer stays valid until the name is set again,
// which the application does once, before any other thread runs.
const char* AfxGetAppName();
void AfxSetAppName(const char* pszName);
HWND AfxGetMainWndHandle();
void AfxSetMainWndHandle(HWND hWnd);
