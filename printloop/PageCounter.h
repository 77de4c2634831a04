// The printer's own page count for each job run: the rule (CPageCountRule)
// and the thread that applies it off the worker's path (CPageCounter).
//
// The rule: the printer's counter is read just before a job's first copy
// (the start) and, after the job's last copy, the printer is asked every
// poll period (2 s) for up to the limit (2 minutes) until it says idle; the
// counter of that idle answer is the end. An idle answer to the first
// question whose counter has not moved is not yet an end (the printer may
// not have begun): it is asked again. The pages are end minus start, and
// there is no value (never a guess) when:
//  - the printer was not idle at the start, or an earlier run of ours was
//    still waiting for its end (the counter may still move for pages that
//    are not this run's);
//  - another job of ours began before the end was read (its first copy is
//    about to go out, so the printer may count its pages too); a reading in
//    progress when that happens counts for nothing either;
//  - the printer was not idle by the limit, or did not answer, or has no
//    counter (at the start or at the end);
//  - the counter went backwards (a reset, or a counter that wrapped);
//  - not every copy of the run was sent (a failed copy, a stop);
//  - the output has no counter to read (USB, the spooler, the null sink).
// Each run gets a token (never 0) when it begins, and every token gets its
// result exactly once, unless the program closes first.
//
// Threads: CPageCountRule is plain data, used under CPageCounter's lock;
// its clock is the "now" its callers pass (milliseconds, any origin), so a
// test drives it without waiting. CPageCounter: JobStarting and JobEnded
// come from the worker; the counter's own thread (started at the first job)
// asks the printer and hands the results to the sink. Its lock (m_pShared->
// cs) is innermost: nothing is taken inside it, and it is never held
// across a question to the printer or a call to the sink. The sink is
// called on the counter's thread holding only the sink lock
// (m_pShared->csSink), so the sink may take the worker's gate; End takes
// the sink lock, so it must not be called inside the gate.
// Ownership: the thread shares its state with the object (shared_ptr), so
// End never waits for a question to the printer in progress: that question
// ends on its own (within a few seconds) and its answer is dropped.
#pragma once

#include "framework/Sync.h"
#include "framework/UniqueHandle.h"
#include "printers/PageCountSource.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

// The result for one job run: the pages, or no value.
struct PageCountResult {
    unsigned long nToken = 0;
    std::optional<unsigned long> pages;
};

class CPageCountRule {
public:
    CPageCountRule(DWORD dwPollMs, DWORD dwLimitMs)
        : m_dwPollMs(dwPollMs), m_dwLimitMs(dwLimitMs) {}

    // A job of ours begins that is measured by no run: every run still
    // measured ends without a value (into results).
    void Interrupt(std::vector<PageCountResult>& results);
    // A job run begins; bHasStart false when the start could not be read
    // (or pSource is null), bStartIdle what the printer said with it. Every
    // run still measured ends without a value (into results). Returns the
    // run's token.
    unsigned long Begin(std::shared_ptr<IPageCountSource> pSource, bool bHasStart, bool bStartIdle,
                        uint64_t nStart, std::vector<PageCountResult>& results);
    // The run's last copy went out (bAllSent), or the run ended otherwise.
    void End(unsigned long nToken, bool bAllSent, ULONGLONG now,
             std::vector<PageCountResult>& results);
    // A run whose printer is due to be asked at now: true with its token
    // and its source; the run is not due again until its Answer.
    bool Due(ULONGLONG now, unsigned long& nToken, std::shared_ptr<IPageCountSource>& pSource);
    // What the printer answered for run nToken, asked at Due; a run that
    // ended meanwhile ignores it.
    void Answer(unsigned long nToken, bool bAnswered, uint64_t nPages, bool bIdle, ULONGLONG now,
                std::vector<PageCountResult>& results);
    // Milliseconds until the next question is due (0: now), INFINITE when
    // no run waits.
    DWORD WaitMs(ULONGLONG now) const;

private:
    struct Run {
        std::shared_ptr<IPageCountSource> pSource;
        bool bHasStart = false;
        uint64_t nStart = 0;
        bool bWaiting = false;   // the last copy went out; asking for idle
        bool bAsking = false;    // handed out by Due, no Answer yet
        bool bAskedOnce = false; // an answer came after the last copy
        ULONGLONG due = 0, deadline = 0;
    };

    const DWORD m_dwPollMs, m_dwLimitMs;
    unsigned long m_nNextToken = 1;
    std::map<unsigned long, Run> m_runs;
};

class IPagesCountedSink {
public:
    virtual ~IPagesCountedSink() = default;
    // On the page counter's thread, holding only the sink lock: the result
    // for the job run nToken.
    virtual void OnPagesCounted(unsigned long nToken, std::optional<unsigned long> pages) = 0;
};

class CPageCounter {
public:
    static constexpr DWORD kPollMs = 2000;
    static constexpr DWORD kLimitMs = 2 * 60 * 1000;

    explicit CPageCounter(IPagesCountedSink& sink, DWORD dwPollMs = kPollMs,
                          DWORD dwLimitMs = kLimitMs);
    // End(), and lets the thread finish on its own.
    ~CPageCounter();
    CPageCounter(const CPageCounter&) = delete;
    CPageCounter& operator=(const CPageCounter&) = delete;

    // Worker, just before a job run's first copy: reads the start through
    // pSource, which may take a couple of seconds, and returns the run's
    // token. A null pSource (no counter) begins no run: the runs still
    // measured end without a value, and it returns 0 (no run, no result),
    // as it does when memory ran out. So a stream of jobs to an output
    // without a counter costs the counter's thread nothing.
    unsigned long JobStarting(std::unique_ptr<IPageCountSource> pSource) noexcept;
    // Worker, when the run ends: bAllSent when every copy it was to send
    // went out. Never waits for the printer.
    void JobEnded(unsigned long nToken, bool bAllSent) noexcept;
    // No sink call after this returns; runs still measured get no result.
    // Any thread but the sink's, never inside the worker's gate.
    void End();

private:
    struct Shared;
    static DWORD WINAPI Entry(void* pParam);
    static void Run(const std::shared_ptr<Shared>& pShared);
    // Under the lock: queues results and wakes (or starts) the thread.
    void Post(std::vector<PageCountResult>& results);
    void EnsureThread();

    std::shared_ptr<Shared> m_pShared;
};
