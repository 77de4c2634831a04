// CSilenceRule: when a printer that is asked for its state is taken for one
// that does not answer, so that it is not asked again for a while (each
// unanswered question costs the copy about two time-outs).
//
// A question can be lost on the way (a datagram, an agent restarting), so
// one unanswered question proves nothing: the printer is taken for silent
// only after kMissesInRow unanswered questions in a row, and then for
// kSilentForMs from the last of them. When that time is over it is asked
// again; one more unanswered question makes it silent again at once, as it
// has not answered since. Any answer ends all of that.
// Before a copy, a printer that has not answered lately is not asked for
// kRestAfterMissMs after a question it missed: the copy after a miss goes
// out unasked anyway, and asking before each of a burst of small jobs
// would cost each of them a wait until the misses add up. The misses are
// still counted one question at a time; they are only spread out.
//
// Threads: plain data; the caller guards it. The clock is the "now" the
// caller passes (milliseconds, any origin), so a test drives it without
// waiting.
#pragma once

#include <windows.h>

class CSilenceRule {
public:
    static constexpr int kMissesInRow = 3;
    static constexpr ULONGLONG kSilentForMs = 5 * 60 * 1000;
    static constexpr ULONGLONG kRestAfterMissMs = 5000;

    void Answered(ULONGLONG now) {
        m_bAnswered = true;
        m_lastAnswer = now;
        m_nMisses = 0;
        m_bSilent = false;
    }
    void Missed(ULONGLONG now) {
        if (m_nMisses < kMissesInRow)
            ++m_nMisses;
        m_lastMiss = now;
        if (m_nMisses >= kMissesInRow) {
            m_bSilent = true;
            m_silentSince = now;
        }
    }
    // Taken for a printer that does not answer: not to be asked now.
    bool Silent(ULONGLONG now) const { return m_bSilent && now - m_silentSince < kSilentForMs; }
    // Answered within kSilentForMs: a question it misses now was lost, the
    // printer has not gone away.
    bool AnsweredLately(ULONGLONG now) const {
        return m_bAnswered && now - m_lastAnswer < kSilentForMs;
    }
    // Whether to ask the printer before a copy (see above; a wait in a
    // pause asks on its own clock).
    bool AskBeforeCopy(ULONGLONG now) const {
        if (Silent(now))
            return false;
        return m_nMisses == 0 || AnsweredLately(now) || now - m_lastMiss >= kRestAfterMissMs;
    }

private:
    int m_nMisses = 0;
    bool m_bSilent = false;
    ULONGLONG m_silentSince = 0;
    ULONGLONG m_lastMiss = 0;
    bool m_bAnswered = false;
    ULONGLONG m_lastAnswer = 0;
};
