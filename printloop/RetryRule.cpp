#include "printloop/RetryRule.h"

#include <iterator>

std::optional<DWORD> CRetryRule::Failed(ULONGLONG now) {
    if (m_nFailures == 0)
        m_firstFailure = now;
    const ULONGLONG since = now >= m_firstFailure ? now - m_firstFailure : 0;
    if (since >= m_limitMs) {
        m_nFailures = 0;
        return std::nullopt;
    }
    const int last = static_cast<int>(std::size(kWaitsMs)) - 1;
    const DWORD wait = kWaitsMs[m_nFailures < last ? m_nFailures : last];
    ++m_nFailures;
    return wait;
}

CString RetryingText(DWORD dwLeftMs, const CString& strReason) {
    CString strText;
    strText.Format("Retrying in %lu s: ", static_cast<unsigned long>((dwLeftMs + 999) / 1000));
    strText += strReason;
    return strText;
}
