// Waiting in tests: a condition asked again and again until it holds or a
// deadline passes. Runs on the caller's thread; the condition may read
// other threads' state only through atomics or locks of its own.
#pragma once

#include <windows.h>

#include <functional>

// Asks cond every pollMs for at most ms; true as soon as it holds.
inline bool WaitFor(const std::function<bool()>& cond, DWORD ms = 10000, DWORD pollMs = 5) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    while (!cond()) {
        if (GetTickCount64() > deadline)
            return false;
        Sleep(pollMs);
    }
    return true;
}
