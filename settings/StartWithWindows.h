// "Start with Windows": the value Morvane under the user's Run key, which
// starts the program in the notification area with Start pressed. The
// setting is the value itself: there is no copy of it anywhere else, so
// the uninstaller's removal of the value turns it off as well.
// Threads: plain functions; any thread.
#pragma once

#include <windows.h>

#include <string>

// The key and the value, under HKEY_CURRENT_USER.
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunValue[] = L"Morvane";

// What the value holds for the program at strExePath: the quoted full path
// and "/minimized /start".
std::wstring RunCommandFor(const std::wstring& strExePath);
// The full path of this process's program.
std::wstring ThisProgramPath();

// Whether the value is there.
bool IsStartWithWindows();
// Writes the value for strExePath (on) or removes it (off); false when the
// registry refused. Removing a value that is not there succeeds.
bool SetStartWithWindows(bool bOn, const std::wstring& strExePath);
