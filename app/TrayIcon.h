// CTrayIcon: the program's icon in the notification area, version 4, with
// a tooltip that names what the worker does and balloons about failures.
// TrayTip and TrayBalloon say what it shows; CTrayIcon only hands that to
// the shell (Shell_NotifyIconW, or a test's function in its place).
//
// Threads: the window's only; the worker's news reach it as posted messages.
// Ownership: the window owns the icon and removes it before it goes; the
// shell forgets it when Explorer restarts, and Add after "TaskbarCreated"
// puts it back with the tip it had.
#pragma once

#include "printloop/PrintLoopOwner.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

// What the window knows beside the worker's activity.
enum class TrayMode {
    Stopped,   // the user stopped the queue (or never started it)
    Running,   // started
    Attention, // stopped by a failure, until the next Start
};

// The tooltip: "Morvane: idle", "Morvane: printing NAME, copy 2 of 3"...;
// at most 127 characters.
std::wstring TrayTip(TrayMode mode, const WorkerActivity& activity);

struct TrayBalloonText {
    std::wstring title, text;
    bool bWarning = true;
};
// The balloon for a retry spell's news; nRetryMinutes is the time allowed.
TrayBalloonText TrayBalloon(RetryNews news, const CString& strReason, DWORD nRetryMinutes);

using NotifyIconFunction = BOOL(WINAPI*)(DWORD dwMessage, PNOTIFYICONDATAW pData);

class CTrayIcon {
public:
    static constexpr UINT kIconID = 1;

    // uCallback: the message the shell sends hWnd about clicks.
    CTrayIcon(HWND hWnd, UINT uCallback, HICON hIcon,
              NotifyIconFunction pfnNotify = Shell_NotifyIconW);
    ~CTrayIcon();
    CTrayIcon(const CTrayIcon&) = delete;
    CTrayIcon& operator=(const CTrayIcon&) = delete;

    // Puts the icon in the area (again, after Explorer restarted); false
    // when the shell refused (no notification area yet).
    bool Add();
    void Remove();
    bool IsAdded() const { return m_bAdded; }
    // A new tip; the shell hears of it only when it changed.
    void SetTip(const std::wstring& strTip);
    const std::wstring& GetTip() const { return m_strTip; }
    void ShowBalloon(const TrayBalloonText& balloon);

    // The registered "TaskbarCreated" message.
    static UINT TaskbarCreatedMessage();

private:
    NOTIFYICONDATAW Data(UINT uFlags) const;

    HWND m_hWnd;
    UINT m_uCallback;
    HICON m_hIcon;
    NotifyIconFunction m_pfnNotify;
    std::wstring m_strTip;
    bool m_bAdded = false;
};
