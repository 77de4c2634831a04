#include "settings/FailureSetup.h"

#include <algorithm>

namespace {
const char kSection[] = "OnFailure";
} // namespace

BOOL CFailureSetup::Save() {
    CKeepOpen keep(*this, kSection, HKEY_LOCAL_MACHINE);
    BOOL ok = WriteDWORD(kSection, "Retry", m_bRetry ? 1 : 0, HKEY_LOCAL_MACHINE);
    ok &= WriteDWORD(kSection, "RetryMinutes",
                     std::clamp(m_dwRetryMinutes, kMinRetryMinutes, kMaxRetryMinutes),
                     HKEY_LOCAL_MACHINE);
    return ok;
}

BOOL CFailureSetup::Load() {
    CKeepOpen keep(*this, kSection, HKEY_LOCAL_MACHINE);
    m_bRetry = ReadDWORD(kSection, "Retry", 0, HKEY_LOCAL_MACHINE) == 1;
    m_dwRetryMinutes =
        std::clamp(ReadDWORD(kSection, "RetryMinutes", kDefaultRetryMinutes, HKEY_LOCAL_MACHINE),
                   kMinRetryMinutes, kMaxRetryMinutes);
    return TRUE;
}
