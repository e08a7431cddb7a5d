#include "rtl/CountingLock.h"
#include "rtl/Threads.h"
#include "tests/support/TestThreads.h"
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

class CountingLockTest : public ::testing::Test
{
protected:
    // Runs the action on a thread of its own and waits for it, so that it is done by another thread.
    template <class F>
    static void OnOtherThread(F action)
    {
        std::thread other(action);
        other.join();
    }

    bool OtherThreadCanAcquire()
    {
        bool acquired = false;
        OnOtherThread(
            [&]
            {
                acquired = FLock.TryAcquire();
                if (acquired)
                    FLock.Release();
            });
        return acquired;
    }

    TCountingLock FLock;
};

TEST_F(CountingLockTest, OwnerReentersAndLeavesOncePerHold)
{
    FLock.Acquire();
    FLock.Acquire();
    EXPECT_EQ(FLock.HoldCount(), 2);
    EXPECT_EQ(FLock.OwnerThreadId(), CurrentThreadId());
    FLock.Release();
    EXPECT_EQ(FLock.OwnerThreadId(), CurrentThreadId());
    FLock.Release();
    EXPECT_EQ(FLock.HoldCount(), 0);
    EXPECT_EQ(FLock.OwnerThreadId(), 0u);
}

TEST_F(CountingLockTest, ReleaseWithoutAHoldRaisesAndChangesNothing)
{
    EXPECT_THROW(FLock.Release(), std::logic_error);
    EXPECT_EQ(FLock.HoldCount(), 0);
    EXPECT_TRUE(FLock.TryAcquire());
    EXPECT_EQ(FLock.HoldCount(), 1);
    FLock.Release();
}

class CountingLockConcurrencyTest : public CountingLockTest
{
};

TEST_F(CountingLockConcurrencyTest, OtherThreadCannotEnterWhileAHoldRemains)
{
    FLock.Acquire();
    EXPECT_FALSE(OtherThreadCanAcquire());
    FLock.Release();
    EXPECT_TRUE(OtherThreadCanAcquire());
}

TEST_F(CountingLockConcurrencyTest, HoldTakenByOneThreadIsReleasedByAnother)
{
    FLock.Acquire();
    OnOtherThread([&] { FLock.Release(); });
    EXPECT_EQ(FLock.HoldCount(), 0);
    EXPECT_TRUE(OtherThreadCanAcquire());
}

TEST_F(CountingLockConcurrencyTest, ReleasingAHoldTakenForAnotherThreadDoesNotMakeTheReleaserOwner)
{
    FLock.Acquire();
    FLock.Acquire();
    OnOtherThread(
        [&]
        {
            FLock.Release();
            // Still the first thread's lock: this thread must not slip in on the remaining hold.
            EXPECT_FALSE(FLock.TryAcquire());
        });
    EXPECT_EQ(FLock.OwnerThreadId(), CurrentThreadId());
    FLock.Release();
}

TEST_F(CountingLockConcurrencyTest, WaiterEntersOnlyWhenTheLastHoldIsReleasedByAnotherThread)
{
    FLock.Acquire();
    FLock.Acquire();
    TEvent entered(TEventMode::ManualReset);
    std::atomic<std::uint32_t> waiterId{0};
    std::thread waiter(
        [&]
        {
            waiterId = CurrentThreadId();
            FLock.Acquire();
            entered.Set();
        });
    OnOtherThread([&] { FLock.Release(); });
    EXPECT_FALSE(entered.WaitFor(kQuietWindow));
    OnOtherThread([&] { FLock.Release(); });
    EXPECT_TRUE(entered.WaitFor(kPatience));
    waiter.join();
    EXPECT_EQ(FLock.OwnerThreadId(), waiterId.load());
    EXPECT_EQ(FLock.HoldCount(), 1);
    FLock.Release();
}

TEST_F(CountingLockConcurrencyTest, ThreadsTakingTurnsLoseNoHoldAndNoWakeUp)
{
    // Every hand-over between a releaser and a waiter, many times over: a waiter that missed its wake-up
    // would sleep for good and the run would not finish; two threads inside at once would lose increments.
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    std::int64_t inside = 0;   // guarded by FLock
    std::atomic<int> finished{0};
    TEvent allDone(TEventMode::ManualReset);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(
            [&]
            {
                while (!go.load())
                    YieldThread();
                for (int i = 0; i < kRounds; ++i)
                {
                    FLock.Acquire();
                    FLock.Acquire();   // a nested hold on the fast path
                    ++inside;
                    FLock.Release();
                    FLock.Release();
                }
                if (finished.fetch_add(1) + 1 == kThreads)
                    allDone.Set();
            });
    go = true;
    const bool done = allDone.WaitFor(kPatience * 10);
    EXPECT_TRUE(done);
    if (!done)
        std::abort();   // threads stuck in Acquire cannot be joined
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(inside, static_cast<std::int64_t>(kThreads) * kRounds);
    EXPECT_EQ(FLock.HoldCount(), 0);
    EXPECT_EQ(FLock.OwnerThreadId(), 0u);
}

}   // namespace
}   // namespace harvolin
