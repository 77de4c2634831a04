#include "pipe/StallClock.h"

#include <algorithm>
#include <utility>

CStallClock::CStallClock(DWORD dwSendMs, DWORD dwPausedMs, DWORD dwFirstAskMs, Clock now)
    : m_dwSendMs(dwSendMs), m_dwPausedMs(std::max(dwPausedMs, dwSendMs)),
      m_dwFirstAskMs(dwFirstAskMs), m_now(std::move(now)) {
    Restart();
}

void CStallClock::Restart() {
    const ULONGLONG now = Now();
    m_lastProgress = now;
    m_sendFrom = now;
    m_nextAsk = now + m_dwFirstAskMs;
    m_bPaused = false;
}

bool CStallClock::AskDue() const {
    return Now() >= m_nextAsk;
}

DWORD CStallClock::QuestionMs(DWORD dwTryMs) const {
    return m_bPaused ? dwTryMs : std::min(dwTryMs, Remaining() / 2);
}

void CStallClock::EndPause(ULONGLONG now) {
    if (m_bPaused)
        m_sendFrom = now;
    m_bPaused = false;
}

void CStallClock::Record(Answer answer) {
    const ULONGLONG now = Now();
    switch (answer) {
    case Answer::Paused:
        m_bPaused = true;
        break;
    case Answer::NotPaused:
        EndPause(now);
        break;
    case Answer::None:
        // A lost question says nothing about the paper.
        break;
    }
    m_nextAsk = now + kAskEveryMs;
}

DWORD CStallClock::Remaining() const {
    const ULONGLONG deadline = m_bPaused ? m_lastProgress + m_dwPausedMs : m_sendFrom + m_dwSendMs;
    const ULONGLONG now = Now();
    return now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, MAXDWORD));
}
