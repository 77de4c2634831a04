// Thin owners for Win32 critical sections. CCriticalSection is neither
// copyable nor movable; CLock holds one for the span of a scope.
// CSmallLock is a re-entrant lock for objects there are thousands of (one a
// job): a few bytes, no kernel object, no debug record and nothing to free.
// CSlimMutex and CSlimCondition are a mutex and a condition without a
// kernel object either: taking, waking and waiting go to the system only
// when a thread must block, so a hand-over per job costs no round trip.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>

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

// Not re-entrant; for std::lock_guard and std::unique_lock.
class CSlimMutex {
public:
    CSlimMutex() = default;
    CSlimMutex(const CSlimMutex&) = delete;
    CSlimMutex& operator=(const CSlimMutex&) = delete;

    void lock() { AcquireSRWLockExclusive(&m_srw); }
    bool try_lock() { return TryAcquireSRWLockExclusive(&m_srw) != 0; }
    void unlock() { ReleaseSRWLockExclusive(&m_srw); }
    SRWLOCK* native_handle() { return &m_srw; }

private:
    SRWLOCK m_srw = SRWLOCK_INIT;
};

// Waits with a CSlimMutex held by a std::unique_lock; the predicate is
// checked under it, so a wake-up that finds nothing changed waits again.
class CSlimCondition {
public:
    CSlimCondition() = default;
    CSlimCondition(const CSlimCondition&) = delete;
    CSlimCondition& operator=(const CSlimCondition&) = delete;

    void notify_one() { WakeConditionVariable(&m_cv); }
    void notify_all() { WakeAllConditionVariable(&m_cv); }
    template <class Pred> void wait(std::unique_lock<CSlimMutex>& lock, Pred pred) {
        while (!pred())
            SleepConditionVariableSRW(&m_cv, lock.mutex()->native_handle(), INFINITE, 0);
    }
    // False when dwMs ran out with the predicate still false.
    template <class Pred> bool wait_for(std::unique_lock<CSlimMutex>& lock, DWORD dwMs, Pred pred) {
        const ULONGLONG until = GetTickCount64() + dwMs;
        while (!pred()) {
            const ULONGLONG now = GetTickCount64();
            if (now >= until)
                return false;
            SleepConditionVariableSRW(&m_cv, lock.mutex()->native_handle(),
                                      static_cast<DWORD>(until - now), 0);
        }
        return true;
    }

private:
    CONDITION_VARIABLE m_cv = CONDITION_VARIABLE_INIT;
};
