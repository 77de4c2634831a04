// The small lock must behave as the critical section it replaces: the owner
// takes it again without blocking itself, and another thread gets it only
// after the owner's last Unlock.
#include "framework/Sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

bool TryFromAnotherThread(CSmallLock& lock) {
    bool got = false;
    std::thread([&] {
        got = lock.TryLock();
        if (got)
            lock.Unlock();
    }).join();
    return got;
}

TEST(SmallLockTest, IsReentrantAndHeldUntilTheLastUnlock) {
    CSmallLock lock;
    lock.Lock();
    {
        CLock again(lock);
        EXPECT_TRUE(lock.TryLock());
        lock.Unlock();
    }
    EXPECT_FALSE(TryFromAnotherThread(lock)) << "released by an inner Unlock";
    lock.Unlock();
    EXPECT_TRUE(TryFromAnotherThread(lock));
}

TEST(SmallLockTest, AWaiterIsCountedAndGetsTheLock) {
    CSmallLock lock;
    lock.Lock();
    std::atomic<bool> got{false};
    std::thread waiter([&] {
        CLock hold(lock);
        got = true;
    });
    const DWORD until = GetTickCount() + 10000;
    while (lock.Waiters() < 1 && GetTickCount() < until)
        Sleep(1);
    EXPECT_EQ(lock.Waiters(), 1);
    EXPECT_FALSE(got.load());
    lock.Unlock();
    waiter.join();
    EXPECT_TRUE(got.load());
    EXPECT_EQ(lock.Waiters(), 0);
}

} // namespace
