#include "rtl/Threads.h"
#include "rtl/Diagnostics.h"
#include "rtl/Exceptions.h"
#include <atomic>
#include <cerrno>
#include <gtest/gtest.h>
#include <latch>
#include <memory>
#include <pthread.h>
#include <stdexcept>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

// Bound of every wait that should succeed; reaching it fails the test instead of hanging it.
constexpr std::chrono::milliseconds kPatience = 5s;
// Window in which a wrongly released waiter would show itself; a correct build never waits in vain.
constexpr std::chrono::milliseconds kQuietWindow = 20ms;

int NiceOfThread(std::uint32_t threadId)
{
    return getpriority(PRIO_PROCESS, static_cast<id_t>(threadId));
}

class ThreadsTest : public ::testing::Test
{
protected:
    // Whether another thread can enter the section right now (leaving it again if so).
    static bool OtherThreadCanEnter(TCriticalSection& section)
    {
        bool entered = false;
        std::thread other(
            [&]
            {
                entered = section.TryEnter();
                if (entered)
                    section.Leave();
            });
        other.join();
        return entered;
    }
};

TEST_F(ThreadsTest, AutoResetEventSetBeforeAnyWaitReleasesOnlyTheNextWait)
{
    TEvent event(TEventMode::AutoReset);
    event.Set();
    event.Set();
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_FALSE(event.WaitFor(0ms));
}

TEST_F(ThreadsTest, ManualResetEventStaysSetUntilReset)
{
    TEvent event(TEventMode::ManualReset, true);
    EXPECT_TRUE(event.WaitFor(0ms));
    EXPECT_TRUE(event.WaitFor(0ms));
    event.Reset();
    EXPECT_FALSE(event.WaitFor(kQuietWindow));
}

TEST_F(ThreadsTest, WaitsWithoutPracticalLimitDoNotOverflowTheClock)
{
    TEvent event(TEventMode::AutoReset, true);
    TSemaphore semaphore(1, 1);
    EXPECT_TRUE(event.WaitFor(std::chrono::milliseconds::max()));
    EXPECT_TRUE(semaphore.TryAcquireFor(std::chrono::milliseconds::max()));
    EXPECT_FALSE(event.WaitFor(std::chrono::milliseconds::min()));
    EXPECT_FALSE(semaphore.TryAcquireFor(std::chrono::milliseconds::min()));
}

TEST_F(ThreadsTest, SemaphoreRefusesAWholeReleaseBeyondItsMaximum)
{
    TSemaphore semaphore(1, 3);
    EXPECT_FALSE(semaphore.Release(3));
    EXPECT_TRUE(semaphore.Release(2));
    EXPECT_FALSE(semaphore.Release());
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(semaphore.TryAcquire()) << "acquire " << i;
    EXPECT_FALSE(semaphore.TryAcquire());
    EXPECT_FALSE(semaphore.TryAcquireFor(kQuietWindow));
}

TEST_F(ThreadsTest, SemaphoreRejectsImpossibleCountsAndKeepsItsCount)
{
    EXPECT_THROW(TSemaphore(0, 0), std::invalid_argument);
    EXPECT_THROW(TSemaphore(-1, 5), std::invalid_argument);
    EXPECT_THROW(TSemaphore(6, 5), std::invalid_argument);
    TSemaphore semaphore(1, 5);
    EXPECT_THROW(semaphore.Release(0), std::invalid_argument);
    EXPECT_THROW(semaphore.Release(-3), std::invalid_argument);
    EXPECT_TRUE(semaphore.TryAcquire());
    EXPECT_FALSE(semaphore.TryAcquire());
}

TEST_F(ThreadsTest, ThreadWithoutBodyIsRefused)
{
    EXPECT_THROW(TThread thread{std::function<void()>{}}, std::invalid_argument);
}

class ThreadsConcurrencyTest : public ThreadsTest
{
};

TEST_F(ThreadsConcurrencyTest, ThreadRunsItsBodyUnderItsKernelIdAndCutName)
{
    std::uint32_t idInside = 0;
    char nameInside[16] = {};
    TThread thread(
        [&]
        {
            idInside = CurrentThreadId();
            pthread_getname_np(pthread_self(), nameInside, sizeof nameInside);
        },
        TThreadPriority::Normal, "clock generator 10 ms");
    std::uint32_t id = thread.Id();
    thread.Join();
    EXPECT_EQ(idInside, id);
    EXPECT_NE(id, CurrentThreadId());
    EXPECT_STREQ(nameInside, "clock generator");
    EXPECT_EQ(thread.Name(), "clock generator 10 ms");
}

TEST_F(ThreadsConcurrencyTest, ExceptionOfTheBodyIsRecordedNotLost)
{
    TThread failing([] { throw std::runtime_error("device gone"); });
    TThread strange([] { throw 42; });
    TThread fine([] {});
    failing.Join();
    strange.Join();
    fine.Join();
    EXPECT_TRUE(failing.Failed());
    EXPECT_EQ(failing.FailureMessage(), "device gone");
    EXPECT_TRUE(strange.Failed());
    EXPECT_EQ(strange.FailureMessage(), "unknown exception");
    EXPECT_FALSE(fine.Failed());
}

TEST_F(ThreadsConcurrencyTest, ExceptionOfTheBodyIsReportedNamingTheThread)
{
    TDiagnosticCapture capture;
    TThread failing([] { throw std::runtime_error("device gone"); }, TThreadPriority::Normal, "player");
    failing.Join();
    EXPECT_EQ(capture.Delivered(),
              (std::vector<TDiagnostic>{{"thread 'player'", "thread body", "device gone"}}));
}

TEST_F(ThreadsConcurrencyTest, JoinFromTheThreadItselfRaisesInsteadOfDeadlocking)
{
    TEvent constructed(TEventMode::ManualReset);
    std::unique_ptr<TThread> thread;
    int errorCode = 0;
    thread = std::make_unique<TThread>(
        [&]
        {
            constructed.Wait();
            try
            {
                thread->Join();
            }
            catch (const EOSError& e)
            {
                errorCode = e.ErrorCode();
            }
        });
    constructed.Set();
    thread->Join();
    EXPECT_EQ(errorCode, EDEADLK);
}

TEST_F(ThreadsConcurrencyTest, JoinWaitsForTheBodyAndIsIdempotentAcrossThreads)
{
    TEvent finish(TEventMode::ManualReset);
    std::atomic<bool> bodyDone{false};
    TThread thread(
        [&]
        {
            ASSERT_TRUE(finish.WaitFor(kPatience));
            bodyDone = true;
        });
    EXPECT_TRUE(thread.Joinable());
    std::atomic<bool> otherSawDone{false};
    std::thread otherJoiner(
        [&]
        {
            thread.Join();
            otherSawDone = bodyDone.load();
        });
    finish.Set();
    thread.Join();
    EXPECT_TRUE(bodyDone);
    otherJoiner.join();
    EXPECT_TRUE(otherSawDone);
    EXPECT_FALSE(thread.Joinable());
    thread.Join();
}

TEST_F(ThreadsConcurrencyTest, BodyMayDestroyItsOwnThreadObject)
{
    TEvent constructed(TEventMode::ManualReset);
    TEvent destroyed(TEventMode::ManualReset);
    std::unique_ptr<TThread> thread;
    thread = std::make_unique<TThread>(
        [&]
        {
            constructed.Wait();
            thread.reset();
            destroyed.Set();
        });
    constructed.Set();
    EXPECT_TRUE(destroyed.WaitFor(kPatience));
}

TEST_F(ThreadsConcurrencyTest, LoweredPriorityTakesEffectInsideTheThread)
{
    int niceInside = 0;
    TThread thread([&] { niceInside = NiceOfThread(CurrentThreadId()); }, TThreadPriority::Idle);
    thread.Join();
    EXPECT_EQ(niceInside, 19);
}

TEST_F(ThreadsConcurrencyTest, RefusedPriorityLeavesTheThreadRunningAsBefore)
{
    TEvent measuredBefore(TEventMode::AutoReset);
    TEvent changed(TEventMode::AutoReset);
    int niceBefore = 0;
    int niceAfter = 0;
    TThread thread(
        [&]
        {
            niceBefore = NiceOfThread(CurrentThreadId());
            measuredBefore.Set();
            ASSERT_TRUE(changed.WaitFor(kPatience));
            niceAfter = NiceOfThread(CurrentThreadId());
        },
        TThreadPriority::Lowest);
    ASSERT_TRUE(measuredBefore.WaitFor(kPatience));
    // Granted only with the privilege to raise priority; either way the thread goes on.
    bool granted = thread.SetPriority(TThreadPriority::TimeCritical);
    changed.Set();
    thread.Join();
    EXPECT_FALSE(thread.Failed());
    EXPECT_EQ(niceAfter, granted ? -20 : niceBefore);
}

TEST_F(ThreadsConcurrencyTest, PriorityOfAnEndedThreadIsRefused)
{
    TThread thread([] {});
    thread.Join();
    EXPECT_FALSE(thread.SetPriority(TThreadPriority::Lowest));
}

TEST_F(ThreadsConcurrencyTest, AutoResetEventReleasesExactlyOneWaiterPerSet)
{
    constexpr int kWaiters = 4;
    TEvent event(TEventMode::AutoReset);
    TSemaphore passed(0, kWaiters);
    std::atomic<int> released{0};
    std::vector<std::unique_ptr<TThread>> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.push_back(std::make_unique<TThread>(
            [&]
            {
                event.Wait();
                ++released;
                passed.Release();
            }));
    for (int i = 1; i <= kWaiters; ++i)
    {
        event.Set();
        ASSERT_TRUE(passed.TryAcquireFor(kPatience)) << "set " << i;
        EXPECT_FALSE(passed.TryAcquireFor(kQuietWindow)) << "set " << i << " released a second waiter";
        EXPECT_EQ(released, i);
    }
    EXPECT_FALSE(event.WaitFor(0ms));
}

TEST_F(ThreadsConcurrencyTest, AWaiterReleasedByASetMayDestroyTheEventAtOnce)
{
    // The waiter comes after the set, knowing of it only through the event: nothing else orders the
    // setter's last touch of the event before its destruction. The thread sanitizer's build checks it.
    for (const TEventMode mode : {TEventMode::ManualReset, TEventMode::AutoReset})
    {
        auto event = std::make_unique<TEvent>(mode);
        std::atomic<bool> setReturned{false};
        TThread setter(
            [&]
            {
                event->Set();
                setReturned.store(true, std::memory_order_relaxed);
            });
        while (!setReturned.load(std::memory_order_relaxed))
            std::this_thread::yield();
        EXPECT_TRUE(event->WaitFor(kPatience));
        event.reset();
        setter.Join();
    }
}

TEST_F(ThreadsConcurrencyTest, ManualResetEventReleasesEveryWaiter)
{
    constexpr int kWaiters = 4;
    TEvent event(TEventMode::ManualReset);
    TSemaphore passed(0, kWaiters);
    std::latch ready(kWaiters + 1);
    std::vector<std::unique_ptr<TThread>> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.push_back(std::make_unique<TThread>(
            [&]
            {
                ready.arrive_and_wait();
                event.Wait();
                passed.Release();
            }));
    ready.arrive_and_wait();
    event.Set();
    for (int i = 0; i < kWaiters; ++i)
        ASSERT_TRUE(passed.TryAcquireFor(kPatience)) << "waiter " << i;
    EXPECT_TRUE(event.WaitFor(0ms));
}

TEST_F(ThreadsConcurrencyTest, SemaphoreAcquireWaitsForARelease)
{
    TSemaphore semaphore(0, 1);
    TEvent acquired(TEventMode::ManualReset);
    TThread waiter(
        [&]
        {
            semaphore.Acquire();
            acquired.Set();
        });
    EXPECT_FALSE(acquired.WaitFor(kQuietWindow));
    EXPECT_TRUE(semaphore.Release());
    EXPECT_TRUE(acquired.WaitFor(kPatience));
}

TEST_F(ThreadsConcurrencyTest, ReleaseOfSeveralWakesAsManyWaiters)
{
    constexpr int kWaiters = 3;
    TSemaphore semaphore(0, kWaiters);
    TSemaphore passed(0, kWaiters);
    std::vector<std::unique_ptr<TThread>> waiters;
    for (int i = 0; i < kWaiters; ++i)
        waiters.push_back(std::make_unique<TThread>(
            [&]
            {
                // Without a time limit: a waiter that is never woken must not find the count on a timeout.
                semaphore.Acquire();
                passed.Release();
            }));
    EXPECT_TRUE(semaphore.Release(kWaiters));
    int passedCount = 0;
    while (passedCount < kWaiters && passed.TryAcquireFor(kPatience))
        ++passedCount;
    EXPECT_EQ(passedCount, kWaiters);
    // Lets waiters left behind by a failure end, so that the test fails instead of hanging.
    for (int i = passedCount; i < kWaiters; ++i)
        (void)semaphore.Release();
}

TEST_F(ThreadsConcurrencyTest, CriticalSectionIsHeldUntilTheLastOfNestedLeaves)
{
    TCriticalSection section;
    section.Enter();
    EXPECT_TRUE(section.TryEnter());
    section.Leave();
    section.Enter();
    EXPECT_FALSE(OtherThreadCanEnter(section));
    section.Leave();
    EXPECT_FALSE(OtherThreadCanEnter(section));
    section.Leave();
    EXPECT_TRUE(OtherThreadCanEnter(section));
}

TEST_F(ThreadsConcurrencyTest, CriticalSectionExcludesOtherThreads)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    TCriticalSection section;
    long total = 0;   // guarded by section
    std::latch start(kThreads);
    std::vector<std::unique_ptr<TThread>> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.push_back(std::make_unique<TThread>(
            [&]
            {
                start.arrive_and_wait();
                for (int r = 0; r < kRounds; ++r)
                {
                    TCriticalSectionGuard guard(section);
                    TCriticalSectionGuard nested(section);
                    total = total + 1;
                }
            }));
    for (auto& thread : threads)
        thread->Join();
    EXPECT_EQ(total, long{kThreads} * kRounds);
}

TEST_F(ThreadsConcurrencyTest, GuardLeavesTheSectionWhileAnExceptionUnwinds)
{
    TCriticalSection section;
    EXPECT_THROW(
        {
            TCriticalSectionGuard guard(section);
            throw std::runtime_error("unwinding");
        },
        std::runtime_error);
    EXPECT_TRUE(OtherThreadCanEnter(section));
}

}   // namespace
}   // namespace harvolin
