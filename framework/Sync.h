// Thin owners for Win32 critical sections. CCriticalSection is neither
// copyable nor movable; CLock holds one for the span of a scope.
// CSmallLock is a re-entrant lock for objects there are thousands of (one a
// job): a few bytes, no kernel object, no debug record and nothing to free.
#pragma once

#include <windows.h>

#include <atomic>

class CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&m_cs); }
    ~CCriticalSection() { DeleteCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Lock() { EnterCriticalSection(&m_cs); }
    void Unlock() { LeaveCriticalSection(&m_cs); }
    CRITICAL_SECTION* Get() { return &m_cs; }

private:
    CRITICAL_SECTION m_cs;
};

// Re-entrant like a critical section: the owner may take it again, and
// each Lock needs its Unlock on the same thread. Neither copyable nor
// movable.
class CSmallLock {
public:
    CSmallLock() = default;
    CSmallLock(const CSmallLock&) = delete;
    CSmallLock& operator=(const CSmallLock&) = delete;

    void Lock() {
        if (Reentered())
            return;
        if (!TryAcquireSRWLockExclusive(&m_srw)) {
            m_waiters.fetch_add(1);
            AcquireSRWLockExclusive(&m_srw);
            m_waiters.fetch_sub(1);
        }
        Owned();
    }
    bool TryLock() {
        if (Reentered())
            return true;
        if (!TryAcquireSRWLockExclusive(&m_srw))
            return false;
        Owned();
        return true;
    }
    void Unlock() {
        if (--m_depth)
            return;
        m_owner.store(0, std::memory_order_relaxed);
        ReleaseSRWLockExclusive(&m_srw);
    }
    // Threads blocked in Lock now: for a test that waits until one is.
    int Waiters() const { return m_waiters.load(); }

private:
    // Only the owner can find its own id here: every other thread reads 0
    // or another thread's.
    bool Reentered() {
        if (m_owner.load(std::memory_order_relaxed) != GetCurrentThreadId())
            return false;
        ++m_depth;
        return true;
    }
    void Owned() {
        m_owner.store(GetCurrentThreadId(), std::memory_order_relaxed);
        m_depth = 1;
    }

    SRWLOCK m_srw = SRWLOCK_INIT;
    std::atomic<DWORD> m_owner{0};
    DWORD m_depth = 0;
    std::atomic<int> m_waiters{0};
};

// Scoped hold of a lock: a CCriticalSection, a raw critical section or a
// CSmallLock.
class CLock {
public:
    explicit CLock(CRITICAL_SECTION& cs) : m_pcs(&cs) { EnterCriticalSection(m_pcs); }
    explicit CLock(CCriticalSection& cs) : CLock(*cs.Get()) {}
    explicit CLock(CSmallLock& lock) : m_pSmall(&lock) { m_pSmall->Lock(); }
    ~CLock() {
        if (m_pSmall)
            m_pSmall->Unlock();
        else
            LeaveCriticalSection(m_pcs);
    }
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

private:
    CRITICAL_SECTION* m_pcs = nullptr;
    CSmallLock* m_pSmall = nullptr;
};
