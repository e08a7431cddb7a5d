#include "media/ReferenceClock.h"
#include "rtl/Diagnostics.h"
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

// Long enough never to run out on a loaded machine; a wait that should succeed returns far earlier.
constexpr auto kPatience = 5s;
// Only for the final "nothing more" checks.
constexpr auto kNoMore = 50ms;

constexpr REFERENCE_TIME kStart = 1'000'000;
constexpr REFERENCE_TIME kPeriod = 10'000;

// A time the test steps by hand; stepping tells the clock, as a renderer would.
class TSteppedSource
{
public:
    REFERENCE_TIME Now() const { return FNow.load(); }
    void Set(REFERENCE_TIME time) { FNow.store(time); }
    void Step(TReferenceClock& clock, REFERENCE_TIME time)
    {
        FNow.store(time);
        clock.TimeAdvanced();
    }
private:
    std::atomic<REFERENCE_TIME> FNow{0};
};

class ReferenceClockTest : public ::testing::Test
{
protected:
    TSteppedSource FSource;   // declared first: it outlives the clock and its thread
    TRefPtr<TReferenceClock> FClock =
        MakeComObject<TReferenceClock, TReferenceClock>([this] { return FSource.Now(); });

    // Steps the source to time and returns once every advise due by then has fired: a one-shot advise at
    // that time is the witness, and its Unadvise (S_FALSE once it has fired) waits for the clock's lock,
    // which the thread holds for the whole pass that fired it.
    void StepAndSettle(REFERENCE_TIME time)
    {
        TEvent witness(TEventMode::ManualReset);
        std::uintptr_t cookie = 0;
        ASSERT_EQ(FClock->AdviseTime(time, 0, &witness, &cookie), S_OK);
        FSource.Step(*FClock, time);
        ASSERT_TRUE(witness.WaitFor(kPatience));
        ASSERT_EQ(FClock->Unadvise(cookie), S_FALSE);
    }

    // Takes exactly count releases that are there, or will be once the thread has caught up.
    static void ExpectReleases(TSemaphore& semaphore, int count)
    {
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(semaphore.TryAcquireFor(kPatience)) << "release " << i + 1 << " of " << count;
        EXPECT_FALSE(semaphore.TryAcquire()) << "more than " << count << " releases";
    }
};

TEST_F(ReferenceClockTest, GetTimeFollowsTheSourceButNeverGoesBackwards)
{
    REFERENCE_TIME time = 0;
    FSource.Set(5'000);
    ASSERT_EQ(FClock->GetTime(&time), S_OK);
    EXPECT_EQ(time, 5'000);
    FSource.Set(4'000);
    ASSERT_EQ(FClock->GetTime(&time), S_OK);
    EXPECT_EQ(time, 5'000);
    FSource.Set(4'500);   // still behind the highest time returned, not only the last source value
    ASSERT_EQ(FClock->GetTime(&time), S_OK);
    EXPECT_EQ(time, 5'000);
    FSource.Set(7'500);
    ASSERT_EQ(FClock->GetTime(&time), S_OK);
    EXPECT_EQ(time, 7'500);
}

TEST_F(ReferenceClockTest, RefusesNullPointersAndBadArgumentsWithoutACookie)
{
    TSemaphore semaphore(0, 10);
    TEvent event(TEventMode::AutoReset);
    std::uintptr_t cookie = 99;

    EXPECT_EQ(FClock->GetTime(nullptr), E_POINTER);
    EXPECT_EQ(FClock->AdvisePeriodic(kStart, kPeriod, &semaphore, nullptr), E_POINTER);
    EXPECT_EQ(FClock->AdviseTime(kStart, 0, &event, nullptr), E_POINTER);

    EXPECT_EQ(FClock->AdvisePeriodic(kStart, 0, &semaphore, &cookie), E_INVALIDARG);
    EXPECT_EQ(cookie, 0u);
    cookie = 99;
    EXPECT_EQ(FClock->AdvisePeriodic(kStart, -kPeriod, &semaphore, &cookie), E_INVALIDARG);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(FClock->AdvisePeriodic(kStart, kPeriod, nullptr, &cookie), E_INVALIDARG);
    EXPECT_EQ(FClock->AdviseTime(kStart, 0, nullptr, &cookie), E_INVALIDARG);
    EXPECT_EQ(FClock->AdviseTime(std::numeric_limits<REFERENCE_TIME>::max(), 1, &event, &cookie),
              E_INVALIDARG);
    EXPECT_EQ(cookie, 0u);
}

TEST_F(ReferenceClockTest, UnknownCookieIsSFalse)
{
    EXPECT_EQ(FClock->Unadvise(0), S_FALSE);
    EXPECT_EQ(FClock->Unadvise(12345), S_FALSE);
}

TEST_F(ReferenceClockTest, GetTimeFailsWhenTheSourceThrows)
{
    auto clock = MakeComObject<TReferenceClock, IReferenceClock>(
        []() -> REFERENCE_TIME { throw std::runtime_error("device gone"); });
    REFERENCE_TIME time = 0;
    EXPECT_EQ(clock->GetTime(&time), E_FAIL);
}

// Everything below runs the advise thread.
class ReferenceClockConcurrencyTest : public ReferenceClockTest
{
};

TEST_F(ReferenceClockConcurrencyTest, PeriodicAdviseReleasesOncePerPeriodReachedFromTheStart)
{
    TSemaphore semaphore(0, 1000);
    std::uintptr_t cookie = 0;
    ASSERT_EQ(FClock->AdvisePeriodic(kStart, kPeriod, &semaphore, &cookie), S_OK);

    StepAndSettle(kStart - 1);
    ExpectReleases(semaphore, 0);
    StepAndSettle(kStart);
    ExpectReleases(semaphore, 1);
    StepAndSettle(kStart + kPeriod - 1);
    ExpectReleases(semaphore, 0);
    StepAndSettle(kStart + kPeriod);
    ExpectReleases(semaphore, 1);
    // Three periods at once: k = 5 releases in all once the source stands at start + 4 x period.
    StepAndSettle(kStart + 4 * kPeriod + kPeriod / 2);
    ExpectReleases(semaphore, 3);

    FSource.Step(*FClock, kStart + 5 * kPeriod - 1);
    EXPECT_FALSE(semaphore.TryAcquireFor(kNoMore));
}

TEST_F(ReferenceClockConcurrencyTest, ReleasesBeforeWaitingWhenTheStartHasPassed)
{
    FSource.Set(kStart + kPeriod / 2);
    TSemaphore semaphore(0, 1000);
    std::uintptr_t cookie = 0;
    ASSERT_EQ(FClock->AdvisePeriodic(kStart, kPeriod, &semaphore, &cookie), S_OK);
    ExpectReleases(semaphore, 1);
}

TEST_F(ReferenceClockConcurrencyTest, AJumpReleasesAtMostTheCapAndKeepsTheSchedule)
{
    TSemaphore semaphore(0, 1000);
    std::uintptr_t cookie = 0;
    ASSERT_EQ(FClock->AdvisePeriodic(kStart, kPeriod, &semaphore, &cookie), S_OK);

    StepAndSettle(kStart + 25 * kPeriod + 1);
    ExpectReleases(semaphore, TReferenceClock::kMaxCatchUpReleases);
    StepAndSettle(kStart + 26 * kPeriod - 1);
    ExpectReleases(semaphore, 0);
    StepAndSettle(kStart + 26 * kPeriod);
    ExpectReleases(semaphore, 1);
}

TEST_F(ReferenceClockConcurrencyTest, ARefusedReleaseIsLostAndTheAdviseGoesOn)
{
    TSemaphore semaphore(0, 1);
    std::uintptr_t cookie = 0;
    ASSERT_EQ(FClock->AdvisePeriodic(kStart, kPeriod, &semaphore, &cookie), S_OK);

    StepAndSettle(kStart + 2 * kPeriod);
    ExpectReleases(semaphore, 1);
    StepAndSettle(kStart + 3 * kPeriod);
    ExpectReleases(semaphore, 1);
}

TEST_F(ReferenceClockConcurrencyTest, UnadviseStopsTheReleasesOfThatCookieOnly)
{
    TSemaphore stopped(0, 1000);
    TSemaphore running(0, 1000);
    std::uintptr_t stoppedCookie = 0;
    std::uintptr_t runningCookie = 0;
    ASSERT_EQ(FClock->AdvisePeriodic(kStart, kPeriod, &stopped, &stoppedCookie), S_OK);
    ASSERT_EQ(FClock->AdvisePeriodic(kStart, kPeriod, &running, &runningCookie), S_OK);
    StepAndSettle(kStart);
    ExpectReleases(stopped, 1);
    ExpectReleases(running, 1);

    EXPECT_EQ(FClock->Unadvise(stoppedCookie), S_OK);
    EXPECT_EQ(FClock->Unadvise(stoppedCookie), S_FALSE);
    StepAndSettle(kStart + 3 * kPeriod);
    ExpectReleases(running, 3);
    EXPECT_FALSE(stopped.TryAcquireFor(kNoMore));
}

TEST_F(ReferenceClockConcurrencyTest, AdviseTimeSetsTheEventOnceAtBasePlusStreamTime)
{
    TEvent event(TEventMode::AutoReset);
    std::uintptr_t cookie = 0;
    ASSERT_EQ(FClock->AdviseTime(kStart, 500, &event, &cookie), S_OK);

    StepAndSettle(kStart + 499);
    EXPECT_FALSE(event.WaitFor(-1ms));
    FSource.Step(*FClock, kStart + 500);
    ASSERT_TRUE(event.WaitFor(kPatience));
    // Fired and set under the clock's lock in one pass: the advise is gone by the time the event is seen.
    EXPECT_EQ(FClock->Unadvise(cookie), S_FALSE);
    StepAndSettle(kStart + 10 * kPeriod);
    EXPECT_FALSE(event.WaitFor(kNoMore));
}

TEST_F(ReferenceClockConcurrencyTest, CookiesAreNeverZeroNorReused)
{
    TSemaphore semaphore(0, 1000);
    std::uintptr_t first = 0;
    std::uintptr_t second = 0;
    std::uintptr_t third = 0;
    ASSERT_EQ(FClock->AdvisePeriodic(kStart, kPeriod, &semaphore, &first), S_OK);
    ASSERT_EQ(FClock->AdvisePeriodic(kStart, kPeriod, &semaphore, &second), S_OK);
    ASSERT_EQ(FClock->Unadvise(second), S_OK);
    ASSERT_EQ(FClock->AdvisePeriodic(kStart, kPeriod, &semaphore, &third), S_OK);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, first);
    EXPECT_NE(third, first);
    EXPECT_NE(third, second);
}

TEST_F(ReferenceClockConcurrencyTest, DestructorJoinsTheThreadWhileAdvisesAreActive)
{
    TSemaphore semaphore(0, 1000);
    TEvent event(TEventMode::ManualReset);
    std::uintptr_t cookie = 0;
    ASSERT_EQ(FClock->AdvisePeriodic(kStart, kPeriod, &semaphore, &cookie), S_OK);
    ASSERT_EQ(FClock->AdviseTime(kStart + 100 * kPeriod, 0, &event, &cookie), S_OK);
    StepAndSettle(kStart);
    ExpectReleases(semaphore, 1);

    FClock = nullptr;   // the last reference: the destructor stops and joins the thread
    FSource.Set(kStart + 200 * kPeriod);
    EXPECT_FALSE(semaphore.TryAcquireFor(kNoMore));
    EXPECT_FALSE(event.WaitFor(-1ms));
}

TEST_F(ReferenceClockConcurrencyTest, SourceFailuresOnTheAdviseThreadAreReported)
{
    Diagnostics().Reset();   // an earlier identical report would hold this one back
    std::atomic<bool> failing{true};
    TEvent reported(TEventMode::ManualReset);
    const auto previous = SetDiagnosticHandler(
        [&](const TDiagnostic& diagnostic)
        {
            if (diagnostic.Object == "reference clock")
                reported.Set();
        });
    {
        auto clock = MakeComObject<TReferenceClock, TReferenceClock>(
            [&]() -> REFERENCE_TIME
            {
                if (failing.load())
                    throw std::runtime_error("device gone");
                return kStart;
            });
        TEvent event(TEventMode::ManualReset);
        std::uintptr_t cookie = 0;
        ASSERT_EQ(clock->AdviseTime(kStart, 0, &event, &cookie), S_OK);
        EXPECT_TRUE(reported.WaitFor(kPatience));

        // Once the source answers again the clock goes on.
        failing.store(false);
        clock->TimeAdvanced();
        EXPECT_TRUE(event.WaitFor(kPatience));
    }
    SetDiagnosticHandler(previous);
}

TEST_F(ReferenceClockConcurrencyTest, DefaultSourceReleasesAFiveMillisecondPeriodRepeatedly)
{
    auto clock = MakeComObject<TReferenceClock, IReferenceClock>();
    TSemaphore semaphore(0, 1000);
    REFERENCE_TIME now = 0;
    ASSERT_EQ(clock->GetTime(&now), S_OK);
    std::uintptr_t cookie = 0;
    ASSERT_EQ(clock->AdvisePeriodic(now + 5'000, 5'000, &semaphore, &cookie), S_OK);
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(semaphore.TryAcquireFor(2s)) << "release " << i + 1;
    EXPECT_EQ(clock->Unadvise(cookie), S_OK);
}

}   // namespace
}   // namespace harvolin
