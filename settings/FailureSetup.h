// CFailureSetup: what the worker does when a copy cannot be sent, kept in
// the section "OnFailure" beside "SpoolerSetup". Retry 0 (the default)
// stops the queue and shows the failure, as always; 1 tries the copy again
// until RetryMinutes have passed since the first failure.
// Threads: an object is used by one thread at a time; the registry rules are
// CRegistrySettings'.
#pragma once

#include "settings/RegistrySettings.h"

class CFailureSetup : public CRegistrySettings {
public:
    static constexpr DWORD kDefaultRetryMinutes = 30;
    static constexpr DWORD kMinRetryMinutes = 1;
    static constexpr DWORD kMaxRetryMinutes = 1440;

    CFailureSetup() = default;
    // The values only; the registry bookkeeping stays each object's own.
    CFailureSetup(const CFailureSetup& other) : CRegistrySettings() { *this = other; }
    CFailureSetup& operator=(const CFailureSetup& other) {
        m_bRetry = other.m_bRetry;
        m_dwRetryMinutes = other.m_dwRetryMinutes;
        return *this;
    }

    BOOL Save() override;
    // Missing values give the defaults; RetryMinutes is kept within its
    // range, and any Retry other than 1 reads as off.
    BOOL Load() override;

    bool m_bRetry = false;
    DWORD m_dwRetryMinutes = kDefaultRetryMinutes;
};
