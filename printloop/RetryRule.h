// CRetryRule: when a failed copy is tried again, and when the trying ends.
//
// A spell of failures starts at the first failed copy and ends when a copy
// goes through. Within a spell the waits grow: 5 s, 10 s, 20 s, then 30 s
// between tries. Once the time since the spell's first failure has passed
// the limit, a failure ends the trying (the queue stops, as without retry).
// The clock is the caller's (GetTickCount64 in the worker), so the rule is
// pure. Threads: one (the worker's), no locks.
#pragma once

#include "framework/String.h"

#include <windows.h>

#include <optional>

class CRetryRule {
public:
    static constexpr DWORD kWaitsMs[] = {5000, 10000, 20000, 30000};

    explicit CRetryRule(DWORD dwRetryMinutes) : m_limitMs(ULONGLONG{dwRetryMinutes} * 60000) {}

    // A copy failed at now: how long to wait before trying it again, or no
    // value when the limit has passed (the spell is over either way then).
    std::optional<DWORD> Failed(ULONGLONG now);
    // A copy went through: the next failure starts a new spell.
    void Succeeded() { m_nFailures = 0; }
    // Failures in the current spell.
    int Failures() const { return m_nFailures; }

private:
    ULONGLONG m_limitMs;
    ULONGLONG m_firstFailure = 0;
    int m_nFailures = 0;
};

// A waiting job's row: "Retrying in 25 s: " and the reason; the seconds are
// rounded up, so the row never reads 0 while it still waits.
CString RetryingText(DWORD dwLeftMs, const CString& strReason);
