#include "rtl/PeriodicTimer.h"
#include "rtl/Diagnostics.h"
#include "tests/support/TestThreads.h"
#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;
using TClock = TTickSchedule::TClock;

constexpr std::chrono::milliseconds kPatience = 5s;
constexpr std::chrono::milliseconds kQuietWindow = 30ms;

class PeriodicTimerTest : public ::testing::Test
{
protected:
    const TClock::time_point FStart = TClock::now();
};

TEST_F(PeriodicTimerTest, DeadlinesStayWholePeriodsFromTheStartWhateverTheWakeUps)
{
    TTickSchedule schedule(FStart, 10ms);
    EXPECT_EQ(schedule.NextDeadline(), FStart + 10ms);
    // Each wake comes late by a different amount; none of it carries over to the next deadline.
    const std::chrono::microseconds lateness[] = {3us, 2500us, 0us, 9999us};
    for (int k = 1; k <= 4; ++k)
    {
        EXPECT_EQ(schedule.TakeTick(FStart + k * 10ms + lateness[k - 1]), 0u);
        EXPECT_EQ(schedule.NextDeadline(), FStart + (k + 1) * 10ms) << "after tick " << k;
    }
}

TEST_F(PeriodicTimerTest, LateWakeLeavesTheMissedTicksDueBackToBack)
{
    TTickSchedule schedule(FStart, 10ms);
    const TClock::time_point wake = FStart + 55ms;
    int delivered = 0;
    while (schedule.NextDeadline() <= wake)
    {
        EXPECT_EQ(schedule.TakeTick(wake), 0u);
        ++delivered;
    }
    EXPECT_EQ(delivered, 5);
    EXPECT_EQ(schedule.NextDeadline(), FStart + 60ms);
}

TEST_F(PeriodicTimerTest, StallOfMoreThanASecondSkipsTheBacklogAndRestartsFromTheWake)
{
    TTickSchedule schedule(FStart, 10ms);
    schedule.TakeTick(FStart + 10ms);
    const TClock::time_point wake = FStart + 2505ms;
    // 250 ticks were due by the wake; one was taken before and one is delivered now.
    EXPECT_EQ(schedule.TakeTick(wake), 248u);
    EXPECT_EQ(schedule.NextDeadline(), wake + 10ms);
}

TEST_F(PeriodicTimerTest, LatenessOfExactlyTheStallLimitIsStillCaughtUp)
{
    TTickSchedule schedule(FStart, 10ms);
    EXPECT_EQ(schedule.TakeTick(FStart + 10ms + TTickSchedule::kStallLimit), 0u);
    EXPECT_EQ(schedule.NextDeadline(), FStart + 20ms);
}

TEST_F(PeriodicTimerTest, TicksOwedAfterABusySpellAreTakenWholeAndLeaveTheDeadlinesInPlace)
{
    TTickSchedule schedule(FStart, 10ms);
    EXPECT_EQ(schedule.TakeDue(FStart + 9ms), 0u);
    EXPECT_EQ(schedule.TakeDue(FStart + 55ms), 5u);
    EXPECT_EQ(schedule.NextDeadline(), FStart + 60ms);
    EXPECT_EQ(schedule.TakeDue(FStart + 59999us), 0u);
    // Far past the stall limit: a busy spell owes every tick, and the deadlines keep their places.
    EXPECT_EQ(schedule.TakeDue(FStart + 3004ms), 295u);
    EXPECT_EQ(schedule.NextDeadline(), FStart + 3010ms);
    EXPECT_EQ(schedule.TakeTick(FStart + 3010ms + 700us), 0u);
    EXPECT_EQ(schedule.NextDeadline(), FStart + 3020ms);
}

TEST_F(PeriodicTimerTest, BadInputIsRefusedAndTheStoppedTimerStaysStopped)
{
    TPeriodicTimer timer;
    bool called = false;
    EXPECT_THROW(timer.Start(0, [&] { called = true; }), std::invalid_argument);
    EXPECT_THROW(timer.Start(-10, [&] { called = true; }), std::invalid_argument);
    EXPECT_THROW(timer.Start(10, nullptr), std::invalid_argument);
    EXPECT_FALSE(timer.Running());
    timer.Stop();
    EXPECT_FALSE(called);
}

class PeriodicTimerConcurrencyTest : public PeriodicTimerTest
{
protected:
    // Counts calls and sets FReached once the count reaches FTarget.
    std::function<void()> CountingCallback(std::atomic<int>& calls, int target, TEvent& reached)
    {
        return [&calls, target, &reached]
        {
            if (++calls == target)
                reached.Set();
        };
    }
};

TEST_F(PeriodicTimerConcurrencyTest, CallbackRunsOnTheTimerThreadUntilStopped)
{
    TPeriodicTimer timer;
    std::atomic<int> calls{0};
    std::atomic<bool> stopped{false};
    std::atomic<bool> calledAfterStop{false};
    std::atomic<bool> calledOnTestThread{false};
    const std::uint32_t testThread = CurrentThreadId();
    TEvent reached(TEventMode::ManualReset);
    timer.Start(2,
                [&]
                {
                    calledAfterStop = calledAfterStop || stopped;
                    calledOnTestThread = calledOnTestThread || CurrentThreadId() == testThread;
                    if (++calls == 5)
                        reached.Set();
                });
    EXPECT_TRUE(timer.Running());
    ASSERT_TRUE(reached.WaitFor(kPatience));
    timer.Stop();
    stopped = true;
    EXPECT_FALSE(timer.Running());
    TEvent never(TEventMode::ManualReset);
    EXPECT_FALSE(never.WaitFor(kQuietWindow));
    EXPECT_FALSE(calledAfterStop);
    EXPECT_FALSE(calledOnTestThread);
    EXPECT_GE(calls, 5);
}

TEST_F(PeriodicTimerConcurrencyTest, StopFromInsideTheCallbackReturnsAtOnceAndEndsTheCalls)
{
    std::atomic<int> calls{0};
    std::atomic<bool> runningAfterStop{true};
    TEvent stopReturned(TEventMode::ManualReset);
    {
        TPeriodicTimer timer;
        timer.Start(1,
                    [&]
                    {
                        if (++calls == 3)
                        {
                            timer.Stop();
                            runningAfterStop = timer.Running();
                            stopReturned.Set();
                        }
                    });
        ASSERT_TRUE(stopReturned.WaitFor(kPatience));
        EXPECT_FALSE(timer.Running());
    }
    // The destructor has joined the timer thread, so the count is final.
    EXPECT_EQ(calls, 3);
    EXPECT_FALSE(runningAfterStop);
}

TEST_F(PeriodicTimerConcurrencyTest, StopReturnsOnlyAfterTheBlockedCallbackHasReturned)
{
    TPeriodicTimer timer;
    TEvent entered(TEventMode::ManualReset);
    TEvent release(TEventMode::ManualReset);
    TEvent stopReturned(TEventMode::ManualReset);
    std::atomic<bool> inside{false};
    std::atomic<bool> insideWhenStopReturned{true};
    timer.Start(1,
                [&]
                {
                    inside = true;
                    entered.Set();
                    EXPECT_TRUE(release.WaitFor(kPatience));
                    inside = false;
                });
    ASSERT_TRUE(entered.WaitFor(kPatience));
    TThread stopper(
        [&]
        {
            timer.Stop();
            insideWhenStopReturned = inside.load();
            stopReturned.Set();
        });
    EXPECT_FALSE(stopReturned.WaitFor(kQuietWindow));
    release.Set();
    ASSERT_TRUE(stopReturned.WaitFor(kPatience));
    EXPECT_FALSE(insideWhenStopReturned);
}

TEST_F(PeriodicTimerConcurrencyTest, CallbackNeverRunsConcurrentlyWithItself)
{
    TPeriodicTimer timer;
    std::atomic<bool> inside{false};
    std::atomic<bool> overlapped{false};
    std::atomic<int> calls{0};
    TEvent reached(TEventMode::ManualReset);
    TEvent never(TEventMode::ManualReset);
    timer.Start(1,
                [&]
                {
                    if (inside.exchange(true))
                        overlapped = true;
                    // Every tenth call overruns several periods, so that deadlines pile up behind it.
                    if (calls % 10 == 0)
                        (void)never.WaitFor(5ms);
                    inside = false;
                    if (++calls == 100)
                        reached.Set();
                });
    ASSERT_TRUE(reached.WaitFor(kPatience));
    timer.Stop();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(timer.SkippedTicks(), 0u);
}

TEST_F(PeriodicTimerConcurrencyTest, ThrowingCallbackIsCountedAndTheTimerTicksOn)
{
    TDiagnosticCapture capture;
    TPeriodicTimer timer;
    std::atomic<int> calls{0};
    TEvent reached(TEventMode::ManualReset);
    timer.Start(1,
                [&]
                {
                    if (++calls == 5)
                        reached.Set();
                    throw std::runtime_error("callback failed");
                });
    ASSERT_TRUE(reached.WaitFor(kPatience));
    EXPECT_TRUE(timer.Running());
    timer.Stop();
    EXPECT_EQ(timer.CallbackFailures(), static_cast<std::uint64_t>(calls.load()));
    // Every failure is reported as well; the repeats within the second are held back, not lost.
    EXPECT_EQ(capture.Count("periodic timer"), timer.CallbackFailures());
    const std::vector<TDiagnostic> delivered = capture.Delivered();
    ASSERT_FALSE(delivered.empty());
    EXPECT_EQ(delivered[0].Action, "timer callback");
    EXPECT_EQ(delivered[0].Message, "callback failed");
}

TEST_F(PeriodicTimerConcurrencyTest, StartOnARunningTimerReplacesTheCallback)
{
    TPeriodicTimer timer;
    std::atomic<int> oldCalls{0};
    std::atomic<int> newCalls{0};
    TEvent oldReached(TEventMode::ManualReset);
    TEvent newReached(TEventMode::ManualReset);
    timer.Start(1, CountingCallback(oldCalls, 2, oldReached));
    ASSERT_TRUE(oldReached.WaitFor(kPatience));
    timer.Start(2, CountingCallback(newCalls, 3, newReached));
    const int oldCallsAtRestart = oldCalls;
    ASSERT_TRUE(newReached.WaitFor(kPatience));
    timer.Stop();
    EXPECT_EQ(oldCalls, oldCallsAtRestart);
}

TEST_F(PeriodicTimerConcurrencyTest, StartFromInsideTheCallbackHandsOverAfterTheCallReturns)
{
    std::atomic<int> oldCalls{0};
    std::atomic<int> newCalls{0};
    std::atomic<bool> newCalledDuringOld{false};
    std::atomic<bool> oldRunning{false};
    TEvent newReached(TEventMode::ManualReset);
    {
        TPeriodicTimer timer;
        auto newCallback = [&]
        {
            newCalledDuringOld = newCalledDuringOld || oldRunning;
            if (++newCalls == 3)
                newReached.Set();
        };
        timer.Start(1,
                    [&]
                    {
                        oldRunning = true;
                        ++oldCalls;
                        timer.Start(1, newCallback);
                        oldRunning = false;
                    });
        ASSERT_TRUE(newReached.WaitFor(kPatience));
        EXPECT_TRUE(timer.Running());
    }
    EXPECT_EQ(oldCalls, 1);
    EXPECT_FALSE(newCalledDuringOld);
}

TEST_F(PeriodicTimerConcurrencyTest, BadPeriodLeavesTheRunningTimerAsItWas)
{
    TPeriodicTimer timer;
    std::atomic<int> calls{0};
    TEvent first(TEventMode::ManualReset);
    TEvent later(TEventMode::ManualReset);
    timer.Start(1,
                [&]
                {
                    int n = ++calls;
                    if (n == 1)
                        first.Set();
                    if (n == 4)
                        later.Set();
                });
    ASSERT_TRUE(first.WaitFor(kPatience));
    bool replacementCalled = false;
    EXPECT_THROW(timer.Start(0, [&] { replacementCalled = true; }), std::invalid_argument);
    EXPECT_TRUE(timer.Running());
    EXPECT_TRUE(later.WaitFor(kPatience));
    timer.Stop();
    EXPECT_FALSE(replacementCalled);
}

TEST_F(PeriodicTimerConcurrencyTest, StopUnderWayWinsOverARestartFromInsideTheCallback)
{
    TPeriodicTimer timer;
    TEvent entered(TEventMode::ManualReset);
    TEvent release(TEventMode::ManualReset);
    std::atomic<bool> replacementCalled{false};
    timer.Start(1,
                [&]
                {
                    entered.Set();
                    EXPECT_TRUE(release.WaitFor(kPatience));
                    timer.Start(1, [&] { replacementCalled = true; });
                });
    ASSERT_TRUE(entered.WaitFor(kPatience));
    TThread stopper([&] { timer.Stop(); });
    // Running() turns false as soon as the Stop() has taken effect, before it waits for the callback.
    const auto deadline = TClock::now() + kPatience;
    while (timer.Running() && TClock::now() < deadline)
        YieldThread();
    ASSERT_FALSE(timer.Running());
    release.Set();
    stopper.Join();
    EXPECT_FALSE(timer.Running());
    EXPECT_FALSE(replacementCalled);
}

TEST_F(PeriodicTimerConcurrencyTest, StallOfMoreThanASecondSkipsTheBacklog)
{
    TPeriodicTimer timer;
    std::atomic<int> calls{0};
    TEvent resumed(TEventMode::ManualReset);
    TEvent never(TEventMode::ManualReset);
    timer.Start(1,
                [&]
                {
                    // The first call stands for a machine that stopped for 1.2 s.
                    if (++calls == 1)
                        (void)never.WaitFor(1200ms);
                    else
                        resumed.Set();
                });
    ASSERT_TRUE(resumed.WaitFor(kPatience));
    timer.Stop();
    // About 1200 ticks fell due during the stall; all but the one delivered after it are skipped.
    EXPECT_GE(timer.SkippedTicks(), 1000u);
}

TEST(PacedSemaphoreTest, BadCountsAndPeriodsAreRefused)
{
    EXPECT_THROW(TPacedSemaphore(0, 0), std::invalid_argument);
    EXPECT_THROW(TPacedSemaphore(2, 1), std::invalid_argument);
    TPacedSemaphore semaphore(0, 2);
    EXPECT_THROW(semaphore.Pace(0), std::invalid_argument);
    EXPECT_THROW((void)semaphore.Release(0), std::invalid_argument);
    EXPECT_TRUE(semaphore.Release(2));
    EXPECT_FALSE(semaphore.Release());
    EXPECT_EQ(semaphore.TicksDue(), 0u);
}

// Acquires on a thread of its own, so that a wait that should end and does not fails the test instead of
// hanging it.
class TAcquirer
{
public:
    TAcquirer(TPacedSemaphore& semaphore, int count)
        : FSemaphore(semaphore), FThread(
                                     [this, count]
                                     {
                                         for (int i = 0; i < count; ++i)
                                         {
                                             FSemaphore.Acquire();
                                             ++Taken;
                                         }
                                         Done.Set();
                                     })
    {
    }
    TAcquirer(const TAcquirer&) = delete;
    TAcquirer& operator=(const TAcquirer&) = delete;
    ~TAcquirer()
    {
        // A test that failed may leave the thread waiting: enough releases end it before the join.
        while (!Done.WaitFor(0ms))
            (void)FSemaphore.Release();
    }

    std::atomic<int> Taken{0};
    TEvent Done{TEventMode::ManualReset};
private:
    TPacedSemaphore& FSemaphore;
    TThread FThread;
};

class PacedSemaphoreConcurrencyTest : public ::testing::Test
{
protected:
    static constexpr std::int32_t kHourMs = 3600 * 1000;
    TPacedSemaphore FSemaphore{0, 1000};
};

TEST_F(PacedSemaphoreConcurrencyTest, DeadlinesAloneReleaseTheWaiter)
{
    FSemaphore.Pace(1);
    TAcquirer acquirer(FSemaphore, 5);
    ASSERT_TRUE(acquirer.Done.WaitFor(kPatience));
    EXPECT_GE(FSemaphore.TicksDue(), 5u);
    EXPECT_EQ(FSemaphore.SkippedTicks(), 0u);
}

TEST_F(PacedSemaphoreConcurrencyTest, AReleaseWakesAWaiterAsleepForAFarDeadlineAtOnce)
{
    FSemaphore.Pace(kHourMs);
    TAcquirer acquirer(FSemaphore, 1);
    EXPECT_FALSE(acquirer.Done.WaitFor(kQuietWindow));
    ASSERT_TRUE(FSemaphore.Release());
    ASSERT_TRUE(acquirer.Done.WaitFor(kPatience));
    EXPECT_EQ(FSemaphore.TicksDue(), 0u);
}

TEST_F(PacedSemaphoreConcurrencyTest, ANewPeriodReachesAWaiterAsleepForTheOldDeadline)
{
    FSemaphore.Pace(kHourMs);
    TAcquirer acquirer(FSemaphore, 3);
    EXPECT_FALSE(acquirer.Done.WaitFor(kQuietWindow));
    EXPECT_EQ(acquirer.Taken, 0);
    FSemaphore.Pace(1);
    ASSERT_TRUE(acquirer.Done.WaitFor(kPatience));
    EXPECT_GE(FSemaphore.TicksDue(), 3u);
}

TEST_F(PacedSemaphoreConcurrencyTest, TicksDueWhileNobodyWaitsAreKeptUpToTheMaximum)
{
    TPacedSemaphore semaphore(0, 3);
    semaphore.Pace(1);
    ASSERT_TRUE(Eventually([&] { return semaphore.TicksDue() >= 10; }));
    // Stopping counts what fell due: three are kept, the rest are lost as a full semaphore loses releases.
    semaphore.StopPacing();
    const std::uint64_t dueAtStop = semaphore.TicksDue();
    TAcquirer acquirer(semaphore, 4);
    ASSERT_TRUE(Eventually([&] { return acquirer.Taken == 3; }));
    EXPECT_FALSE(acquirer.Done.WaitFor(kQuietWindow));
    EXPECT_EQ(acquirer.Taken, 3);
    // No deadline after the stop: the waiter waits for a release alone.
    EXPECT_EQ(semaphore.TicksDue(), dueAtStop);
    ASSERT_TRUE(semaphore.Release());
    EXPECT_TRUE(acquirer.Done.WaitFor(kPatience));
}

}   // namespace
}   // namespace harvolin
