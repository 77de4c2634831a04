// CStallClock: the clock of a transfer that makes no progress (a write the
// printer takes nothing of, or the wait for the printer's close). It says
// when to ask the printer's state, how long one question may take, and how
// long the transfer may still wait; it makes no question and touches no
// socket itself.
//
// Rules:
// - Restart (progress): nothing is known of a pause; both limits count from
//   now. The first question is due after the first-ask time, the next ones
//   kAskEveryMs after the last answer.
// - Not paused: the transfer may wait the send limit from the later of the
//   last progress and the moment the last paused verdict ended. A question
//   asked then must end by that limit (QuestionMs).
// - Paused (the printer said paused or warming up): the transfer may wait
//   the paused limit (never less than the send limit) from the last
//   progress; a question may take its whole time.
// - Verdicts: an answer "paused" makes the clock paused; any other answer
//   ends the pause; a question without an answer never ends it (only the
//   paused limit does). When a pause ends, the send limit starts again
//   from that moment.
//
// Times are milliseconds of the injected clock (GetTickCount64 unless
// given). Threads: one at a time; the object shares nothing.
#pragma once

#include <windows.h>

#include <functional>

class CStallClock {
public:
    using Clock = std::function<ULONGLONG()>;
    enum class Answer { Paused, NotPaused, None };

    static constexpr DWORD kAskEveryMs = 5000;

    // Starts as Restart does.
    CStallClock(DWORD dwSendMs, DWORD dwPausedMs, DWORD dwFirstAskMs, Clock now = Clock());

    // Data moved: no pause known, both limits from now.
    void Restart();
    // A question is due.
    bool AskDue() const;
    // How long one try of a question may take, at most dwTryMs: the whole
    // of it while paused, else so that two tries end by the send limit
    // (0: too late to ask).
    DWORD QuestionMs(DWORD dwTryMs) const;
    // The outcome of a question; the next one is due kAskEveryMs from now.
    void Record(Answer answer);
    bool Paused() const { return m_bPaused; }
    // Milliseconds the transfer may still wait; 0 when its limit has passed.
    DWORD Remaining() const;

private:
    ULONGLONG Now() const { return m_now ? m_now() : GetTickCount64(); }
    void EndPause(ULONGLONG now);

    DWORD m_dwSendMs;
    DWORD m_dwPausedMs;
    DWORD m_dwFirstAskMs;
    Clock m_now;
    ULONGLONG m_lastProgress = 0;
    ULONGLONG m_sendFrom = 0; // the send limit counts from here
    ULONGLONG m_nextAsk = 0;
    bool m_bPaused = false;
};
