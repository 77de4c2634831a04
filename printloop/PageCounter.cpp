#include "printloop/PageCounter.h"

#include <objbase.h>

#include <algorithm>
#include <deque>
#include <new>

void CPageCountRule::Interrupt(std::vector<PageCountResult>& results) {
    for (const auto& run : m_runs)
        results.push_back({run.first, std::nullopt});
    m_runs.clear();
}

unsigned long CPageCountRule::Begin(std::shared_ptr<IPageCountSource> pSource, bool bHasStart,
                                    bool bStartIdle, uint64_t nStart,
                                    std::vector<PageCountResult>& results) {
    // Another job of ours is about to be sent: no earlier run can tell its
    // pages from this one's any more, nor this one from theirs.
    const bool bOursPending = !m_runs.empty();
    for (const auto& run : m_runs)
        results.push_back({run.first, std::nullopt});
    m_runs.clear();
    const unsigned long nToken = m_nNextToken++;
    if (m_nNextToken == 0)
        m_nNextToken = 1;
    Run& run = m_runs[nToken];
    run.pSource = std::move(pSource);
    run.bHasStart = bHasStart && bStartIdle && !bOursPending && run.pSource;
    run.nStart = nStart;
    return nToken;
}

void CPageCountRule::End(unsigned long nToken, bool bAllSent, ULONGLONG now,
                         std::vector<PageCountResult>& results) {
    const auto it = m_runs.find(nToken);
    if (it == m_runs.end() || it->second.bWaiting)
        return;
    if (!bAllSent || !it->second.bHasStart) {
        results.push_back({nToken, std::nullopt});
        m_runs.erase(it);
        return;
    }
    // Not asked at once: a printer that has just taken the data may not
    // have started printing yet.
    it->second.bWaiting = true;
    it->second.due = now + m_dwPollMs;
    it->second.deadline = now + m_dwLimitMs;
}

bool CPageCountRule::Due(ULONGLONG now, unsigned long& nToken,
                         std::shared_ptr<IPageCountSource>& pSource) {
    for (auto& entry : m_runs) {
        Run& run = entry.second;
        if (run.bWaiting && !run.bAsking && run.due <= now) {
            run.bAsking = true;
            nToken = entry.first;
            pSource = run.pSource;
            return true;
        }
    }
    return false;
}

void CPageCountRule::Answer(unsigned long nToken, bool bAnswered, uint64_t nPages, bool bIdle,
                            ULONGLONG now, std::vector<PageCountResult>& results) {
    const auto it = m_runs.find(nToken);
    if (it == m_runs.end() || !it->second.bAsking)
        return; // spoilt by a later job meanwhile: its result went already
    Run& run = it->second;
    run.bAsking = false;
    const bool bFirst = !run.bAskedOnce;
    run.bAskedOnce = true;
    const bool bNotBegun = bAnswered && bIdle && nPages == run.nStart && bFirst;
    if (bAnswered && (!bIdle || bNotBegun) && now < run.deadline) {
        run.due = std::min(now + m_dwPollMs, run.deadline);
        return;
    }
    PageCountResult result{nToken, std::nullopt};
    // A counter that went backwards was reset: no value. A difference too
    // big for the result is no count either.
    if (bAnswered && bIdle && nPages >= run.nStart && nPages - run.nStart <= 0xffffffffu)
        result.pages = static_cast<unsigned long>(nPages - run.nStart);
    results.push_back(result);
    m_runs.erase(it);
}

DWORD CPageCountRule::WaitMs(ULONGLONG now) const {
    DWORD ms = INFINITE;
    for (const auto& entry : m_runs) {
        const Run& run = entry.second;
        if (!run.bWaiting || run.bAsking)
            continue;
        const ULONGLONG left = run.due > now ? run.due - now : 0;
        ms = static_cast<DWORD>(std::min<ULONGLONG>({left, ms, INFINITE - 1}));
    }
    return ms;
}

struct CPageCounter::Shared {
    Shared(DWORD dwPollMs, DWORD dwLimitMs) : rule(dwPollMs, dwLimitMs) {}
    CCriticalSection cs;
    // Under cs:
    CPageCountRule rule;
    std::deque<PageCountResult> results; // not yet handed to the sink
    bool bEnded = false;
    bool bThread = false; // a thread was started
    UniqueHandleNull hWake{CreateEventA(nullptr, FALSE, FALSE, nullptr)};
    CCriticalSection csSink;
    IPagesCountedSink* pSink = nullptr; // under csSink; null after End
};

CPageCounter::CPageCounter(IPagesCountedSink& sink, DWORD dwPollMs, DWORD dwLimitMs)
    : m_pShared(std::make_shared<Shared>(dwPollMs, dwLimitMs)) {
    m_pShared->pSink = &sink;
}

CPageCounter::~CPageCounter() {
    End();
}

void CPageCounter::End() {
    {
        CLock lock(m_pShared->cs);
        m_pShared->bEnded = true;
        m_pShared->results.clear();
        if (m_pShared->hWake)
            SetEvent(m_pShared->hWake.get());
    }
    // Waits only for a sink call in progress.
    CLock sinkLock(m_pShared->csSink);
    m_pShared->pSink = nullptr;
}

unsigned long CPageCounter::JobStarting(std::unique_ptr<IPageCountSource> pSource) noexcept {
    // Out of memory here costs the count, never the job.
    try {
        if (!pSource) {
            std::vector<PageCountResult> results;
            CLock lock(m_pShared->cs);
            m_pShared->rule.Interrupt(results);
            Post(results);
            return 0;
        }
        uint64_t nStart = 0;
        bool bIdle = false;
        const bool bHasStart = pSource && pSource->Read(nStart, bIdle);
        std::shared_ptr<IPageCountSource> pShared(std::move(pSource));
        std::vector<PageCountResult> results;
        results.reserve(4);
        CLock lock(m_pShared->cs);
        const unsigned long nToken =
            m_pShared->rule.Begin(pShared, bHasStart, bIdle, nStart, results);
        Post(results);
        return nToken;
    } catch (...) {
        return 0;
    }
}

void CPageCounter::JobEnded(unsigned long nToken, bool bAllSent) noexcept {
    try {
        std::vector<PageCountResult> results;
        results.reserve(1);
        CLock lock(m_pShared->cs);
        m_pShared->rule.End(nToken, bAllSent, GetTickCount64(), results);
        Post(results);
    } catch (...) {
    }
}

void CPageCounter::Post(std::vector<PageCountResult>& results) {
    if (m_pShared->bEnded)
        return;
    // Nothing to hand on and no run to ask about: the thread (if any) has
    // nothing new to do, and a run of small jobs to a printer that counts
    // nothing costs no wake-up per job.
    if (results.empty() && m_pShared->rule.WaitMs(GetTickCount64()) == INFINITE)
        return;
    m_pShared->results.insert(m_pShared->results.end(), results.begin(), results.end());
    EnsureThread();
    if (m_pShared->hWake)
        SetEvent(m_pShared->hWake.get());
}

void CPageCounter::EnsureThread() {
    if (m_pShared->bThread || !m_pShared->hWake)
        return;
    auto* pParam = new (std::nothrow) std::shared_ptr<Shared>(m_pShared);
    if (!pParam)
        return;
    HANDLE h = CreateThread(nullptr, 0, Entry, pParam, 0, nullptr);
    if (!h) {
        delete pParam;
        return; // no thread: the runs get no result (no value shown)
    }
    CloseHandle(h);
    m_pShared->bThread = true;
}

DWORD WINAPI CPageCounter::Entry(void* pParam) {
    std::unique_ptr<std::shared_ptr<Shared>> pShared(static_cast<std::shared_ptr<Shared>*>(pParam));
    // The component is used directly, without a proxy.
    const HRESULT hrCom = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Run(*pShared);
    if (SUCCEEDED(hrCom))
        CoUninitialize();
    return 0;
}

void CPageCounter::Run(const std::shared_ptr<Shared>& pShared) {
    Shared& s = *pShared;
    for (;;) {
        std::deque<PageCountResult> results;
        unsigned long nToken = 0;
        std::shared_ptr<IPageCountSource> pSource;
        bool bDue = false;
        DWORD dwWait = INFINITE;
        {
            CLock lock(s.cs);
            if (s.bEnded)
                return;
            results.swap(s.results);
            const ULONGLONG now = GetTickCount64();
            bDue = s.rule.Due(now, nToken, pSource);
            dwWait = s.rule.WaitMs(now);
        }
        if (!results.empty()) {
            CLock sinkLock(s.csSink);
            for (const PageCountResult& r : results) {
                if (s.pSink)
                    s.pSink->OnPagesCounted(r.nToken, r.pages);
            }
        }
        if (bDue) {
            uint64_t nPages = 0;
            bool bIdle = false;
            const bool bAnswered = pSource && pSource->Read(nPages, bIdle);
            pSource.reset();
            std::vector<PageCountResult> answered;
            CLock lock(s.cs);
            s.rule.Answer(nToken, bAnswered, nPages, bIdle, GetTickCount64(), answered);
            if (!s.bEnded)
                s.results.insert(s.results.end(), answered.begin(), answered.end());
            continue;
        }
        if (results.empty())
            WaitForSingleObject(s.hWake.get(), dwWait);
    }
}
