#include "gen/SLClockGen.h"
#include "pins/OWPins.h"
#include "rtl/Diagnostics.h"
#include "rtl/Threads.h"
#include "tests/support/TestThreads.h"
#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace harvolin
{
namespace
{

// Every test here runs real clock threads.
class SLClockGenConcurrencyTest : public ::testing::Test
{
protected:
    void SetUp() override { FThreadsBefore = LiveClockThreads(); }
    void TearDown() override
    {
        // Every clock generator of the test has ended itself.
        EXPECT_TRUE(Eventually([&] { return LiveClockThreads() == FThreadsBefore; }));
    }

    // A client: counts its ticks under its own lock, as a generator does.
    struct TClient
    {
        TOWObject Lock;
        std::atomic<int> Ticks{0};
        TSLClockGenItem* Item = nullptr;

        void Register(std::int32_t periodMs)
        {
            Item = RegisterClock(periodMs, Lock, [this] { Ticks.fetch_add(1); });
        }
        void Unregister() { UnregisterClock(std::exchange(Item, nullptr), Lock); }
    };

    std::int32_t FThreadsBefore = 0;
};

TEST_F(SLClockGenConcurrencyTest, ClientsOfOnePeriodShareAClockGeneratorAndOthersGetTheirOwn)
{
    TClient a, b, c;
    a.Register(10);
    b.Register(10);
    c.Register(20);
    EXPECT_EQ(&a.Item->Owner(), &b.Item->Owner());
    EXPECT_NE(&a.Item->Owner(), &c.Item->Owner());
    EXPECT_EQ(FindClockGen(10), &a.Item->Owner());
    EXPECT_EQ(FindClockGen(10)->ClientCount(), 2u);
    // The clock generator's lock joins its clients' locks.
    EXPECT_EQ(a.Lock.LockObject()->GetInstance(), b.Lock.LockObject()->GetInstance());
    EXPECT_TRUE(
        Eventually([&] { return a.Ticks.load() >= 2 && b.Ticks.load() >= 2 && c.Ticks.load() >= 1; }));
    a.Unregister();
    EXPECT_NE(a.Lock.LockObject()->GetInstance(), b.Lock.LockObject()->GetInstance());
    b.Unregister();
    c.Unregister();
    EXPECT_EQ(FindClockGen(10), nullptr);
    EXPECT_EQ(FindClockGen(20), nullptr);
}

TEST_F(SLClockGenConcurrencyTest, TheLastClientLeavingRemovesTheClockGeneratorAtOnce)
{
    TClient a;
    a.Register(5);
    TSLClockGen* first = FindClockGen(5);
    ASSERT_NE(first, nullptr);
    a.Unregister();
    EXPECT_EQ(FindClockGen(5), nullptr);
    const int ticks = a.Ticks.load();
    // A new registration makes a fresh clock generator; the old one ends on its own thread.
    TClient b;
    b.Register(5);
    EXPECT_TRUE(Eventually([&] { return b.Ticks.load() >= 1; }));
    EXPECT_EQ(a.Ticks.load(), ticks);
    b.Unregister();
}

TEST_F(SLClockGenConcurrencyTest, AClockOfALongPeriodEndsAtOnceWhenItsLastClientLeaves)
{
    // An hour to the first deadline: only the wake-up of the unregistration can end the worker in time.
    TClient a;
    a.Register(3600 * 1000);
    ASSERT_EQ(LiveClockThreads(), FThreadsBefore + 1);
    a.Unregister();
    EXPECT_TRUE(Eventually([&] { return LiveClockThreads() == FThreadsBefore; }));
    EXPECT_EQ(a.Ticks.load(), 0);
    // The same period again starts a fresh clock from its own start.
    TClient b;
    b.Register(3600 * 1000);
    EXPECT_EQ(FindClockGen(3600 * 1000)->TicksCounted(), 0u);
    b.Unregister();
}

TEST_F(SLClockGenConcurrencyTest, ATickLongerThanThePeriodIsCaughtUpBackToBack)
{
    TOWObject lock;
    TEvent release(TEventMode::ManualReset);
    std::atomic<int> ticks{0};
    TSLClockGenItem* item = RegisterClock(1, lock,
                                          [&]
                                          {
                                              if (ticks.fetch_add(1) == 0)
                                                  release.Wait();
                                          });
    TSLClockGen& gen = item->Owner();
    // While the first tick blocks, the timer goes on counting.
    ASSERT_TRUE(Eventually([&] { return gen.TicksCounted() >= 6; }));
    EXPECT_EQ(ticks.load(), 1);
    release.Set();
    // Every tick counted meanwhile runs.
    EXPECT_TRUE(Eventually([&] { return ticks.load() >= 6; }));
    UnregisterClock(item, lock);
}

TEST_F(SLClockGenConcurrencyTest, AFailingClientIsCountedAndTheOthersKeepTheirPace)
{
    TDiagnosticCapture capture;
    TOWObject failingLock;
    const std::uint64_t failuresBefore = ClockCallbackFailures();
    TSLClockGenItem* failing =
        RegisterClock(2, failingLock, [] { throw std::runtime_error("client failed"); });
    TClient healthy;
    healthy.Register(2);
    EXPECT_TRUE(Eventually(
        [&] { return healthy.Ticks.load() >= 3 && ClockCallbackFailures() >= failuresBefore + 3; }));
    UnregisterClock(failing, failingLock);
    healthy.Unregister();
    // Each failure counted is reported too, under the generator's period.
    EXPECT_EQ(capture.Count("clock 2 ms"), ClockCallbackFailures() - failuresBefore);
    const std::vector<TDiagnostic> delivered = capture.Delivered();
    ASSERT_FALSE(delivered.empty());
    EXPECT_EQ(delivered[0].Object, "clock 2 ms");
    EXPECT_EQ(delivered[0].Action, "clock callback");
    EXPECT_EQ(delivered[0].Message, "client failed");
}

TEST_F(SLClockGenConcurrencyTest, AClientMayUnregisterFromItsOwnCallback)
{
    TOWObject lock;
    std::atomic<int> ticks{0};
    TSLClockGenItem* item = nullptr;
    TEvent done(TEventMode::ManualReset);
    TClient other;
    other.Register(3);
    {
        TOWGlobalWriteLockSection global;   // item is set before the first tick can run
        item = RegisterClock(3, lock,
                             [&]
                             {
                                 ticks.fetch_add(1);
                                 UnregisterClock(item, lock);
                                 done.Set();
                             });
    }
    ASSERT_TRUE(done.WaitFor(kPatience));
    // The other client keeps ticking; the one that left is never called again.
    const int after = other.Ticks.load();
    EXPECT_TRUE(Eventually([&] { return other.Ticks.load() >= after + 2; }));
    EXPECT_EQ(ticks.load(), 1);
    other.Unregister();
}

TEST_F(SLClockGenConcurrencyTest, RegistrationRefusesABadPeriodOrCallback)
{
    TOWObject lock;
    EXPECT_THROW((void)RegisterClock(0, lock, [] {}), std::invalid_argument);
    EXPECT_THROW((void)RegisterClock(10, lock, {}), std::invalid_argument);
    EXPECT_EQ(FindClockGen(0), nullptr);
    EXPECT_EQ(FindClockGen(10), nullptr);
    EXPECT_TRUE(UnregisterClock(nullptr, lock));
    EXPECT_EQ(ClockGenCount(), 0u);
}

TEST_F(SLClockGenConcurrencyTest, AClockThreadRunsOncePerReleaseAndEndsAfterItsCallback)
{
    std::atomic<int> calls{0};
    TEvent inCallback(TEventMode::ManualReset);
    TEvent leave(TEventMode::ManualReset);
    std::atomic<bool> callbackEnded{false};
    auto thread = std::make_unique<TSLClockThread>(
        [&](TSLClockThread&)
        {
            if (calls.fetch_add(1) == 2)
            {
                inCallback.Set();
                leave.Wait();
                callbackEnded.store(true);
            }
        });
    ASSERT_TRUE(thread->TickSemaphore().Release(3));
    ASSERT_TRUE(inCallback.WaitFor(kPatience));
    EXPECT_EQ(calls.load(), 3);
    // Released from another thread while the destructor waits for the callback.
    THoldingThread releaser([] {}, [&] { leave.Set(); });
    releaser.Leave();
    thread.reset();
    EXPECT_TRUE(callbackEnded.load());
    EXPECT_EQ(calls.load(), 3);
}

TEST_F(SLClockGenConcurrencyTest, AClockThreadCountsAndReportsACallbackThatThrows)
{
    TDiagnosticCapture capture;
    TSLClockThread thread([](TSLClockThread&) { throw std::runtime_error("tick lost"); });
    ASSERT_TRUE(thread.TickSemaphore().Release(3));
    // The count goes up before the report, so once three are reported three are counted.
    ASSERT_TRUE(Eventually([&] { return capture.Count("clock thread") == 3; }));
    EXPECT_EQ(thread.CallbackFailures(), 3u);
    const std::vector<TDiagnostic> delivered = capture.Delivered();
    ASSERT_FALSE(delivered.empty());
    EXPECT_EQ(delivered[0].Action, "clock callback");
    EXPECT_EQ(delivered[0].Message, "tick lost");
}

}   // namespace
}   // namespace harvolin
