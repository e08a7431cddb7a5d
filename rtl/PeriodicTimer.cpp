#include "rtl/PeriodicTimer.h"
#include "rtl/Diagnostics.h"
#include <stdexcept>
#include <string>

namespace harvolin
{

TTickSchedule::TTickSchedule(TClock::time_point start, std::chrono::milliseconds period) noexcept
    : FStart(start), FPeriod(period)
{
}

TTickSchedule::TClock::time_point TTickSchedule::NextDeadline() const noexcept
{
    // Multiplied from the start rather than added up, so that no rounding accumulates.
    return FStart + (FTaken + 1) * FPeriod;
}

std::uint64_t TTickSchedule::TakeTick(TClock::time_point now) noexcept
{
    if (now - NextDeadline() <= kStallLimit)
    {
        ++FTaken;
        return 0;
    }
    // Replaying a long backlog would only flood the callback; one tick now stands for all the missed ones.
    std::int64_t due = (now - FStart) / FPeriod;
    std::uint64_t skipped = static_cast<std::uint64_t>(due - FTaken - 1);
    FStart = now;
    FTaken = 0;
    return skipped;
}

std::uint64_t TTickSchedule::TakeDue(TClock::time_point now) noexcept
{
    if (now < NextDeadline())
        return 0;
    std::int64_t due = (now - FStart) / FPeriod - FTaken;
    FTaken += due;
    return static_cast<std::uint64_t>(due);
}

TPacedSemaphore::TPacedSemaphore(std::int32_t initialCount, std::int32_t maximumCount)
    : FCount("paced semaphore", initialCount, maximumCount)
{
}

void TPacedSemaphore::Pace(std::int32_t periodMs)
{
    if (periodMs < 1)
        throw std::invalid_argument("paced semaphore: period " + std::to_string(periodMs) +
                                    " ms is not positive");
    std::lock_guard lock(FLock);
    const TClock::time_point now = TClock::now();
    if (FSchedule)
        CountDueTicks(now, false);
    FSchedule.emplace(now, std::chrono::milliseconds(periodMs));
    ++FPaceGeneration;
    // Under the lock, as in Release(): a woken waiter may destroy the semaphore once it has its count.
    FChanged.notify_all();
}

void TPacedSemaphore::StopPacing()
{
    std::lock_guard lock(FLock);
    if (!FSchedule)
        return;
    CountDueTicks(TClock::now(), false);
    FSchedule.reset();
    ++FPaceGeneration;
    FChanged.notify_all();
}

bool TPacedSemaphore::Release(std::int32_t count)
{
    // Notifying under the lock: a woken waiter may destroy the semaphore as soon as it has its count.
    std::lock_guard lock(FLock);
    return FCount.Release(count, FChanged);
}

void TPacedSemaphore::Acquire()
{
    std::unique_lock lock(FLock);
    bool slept = false;
    for (;;)
    {
        if (FSchedule)
            CountDueTicks(TClock::now(), slept);
        if (FCount.TryTake())
            return;
        const std::uint64_t generation = FPaceGeneration;
        auto changed = [&] { return FCount.Available() || FPaceGeneration != generation; };
        if (!FSchedule)
            FChanged.wait(lock, changed);
        else
            // The kernel wakes this thread at the deadline itself: the one wake-up a tick costs.
            (void)FChanged.wait_until(lock, FSchedule->NextDeadline(), changed);
        // After a new pace, lateness against the old deadline says nothing.
        slept = FPaceGeneration == generation;
    }
}

std::uint64_t TPacedSemaphore::TicksDue() const
{
    std::lock_guard lock(FLock);
    if (!FSchedule)
        return FTicksDue;
    // On a copy: what an observer sees must not take ticks from the waiter.
    TTickSchedule schedule = *FSchedule;
    return FTicksDue + schedule.TakeDue(TClock::now());
}

std::uint64_t TPacedSemaphore::SkippedTicks() const
{
    std::lock_guard lock(FLock);
    return FSkippedTicks;
}

void TPacedSemaphore::CountDueTicks(TClock::time_point now, bool slept)
{
    std::uint64_t due = 0;
    if (slept && now - FSchedule->NextDeadline() > TTickSchedule::kStallLimit)
    {
        FSkippedTicks += FSchedule->TakeTick(now);
        due = 1;
    }
    else
    {
        due = FSchedule->TakeDue(now);
    }
    FTicksDue += due;
    FCount.AddUpToMaximum(due);
}

TPeriodicTimer::~TPeriodicTimer()
{
    // From inside the callback the join below raises and the program ends: better than running on freed
    // state.
    std::lock_guard control(FControlLock);
    StopThread();
}

bool TPeriodicTimer::OnTimerThread() const
{
    return std::this_thread::get_id() == FTimerThread;
}

void TPeriodicTimer::Start(std::int32_t periodMs, std::function<void()> callback)
{
    if (periodMs < 1)
        throw std::invalid_argument("periodic timer: period " + std::to_string(periodMs) +
                                    " ms is not positive");
    if (!callback)
        throw std::invalid_argument("periodic timer: no callback to call");

    {
        std::lock_guard lock(FLock);
        if (OnTimerThread())
        {
            // Taking FControlLock here could deadlock with a Stop() that holds it while joining this thread.
            if (FShutdown)
                return;
            FPeriod = std::chrono::milliseconds(periodMs);
            FPendingCallback = std::move(callback);
            ++FGeneration;
            FStopping = false;
            FActive = true;
            return;
        }
    }

    std::lock_guard control(FControlLock);
    StopThread();
    {
        std::lock_guard lock(FLock);
        FPeriod = std::chrono::milliseconds(periodMs);
        FPendingCallback = std::move(callback);
        ++FGeneration;
        FStopping = false;
        FShutdown = false;
        FActive = true;
    }
    try
    {
        FThread = std::make_unique<TThread>([this] { Run(); }, TThreadPriority::Highest, "periodic timer");
    }
    catch (...)
    {
        std::lock_guard lock(FLock);
        FActive = false;
        FPendingCallback = nullptr;
        throw;
    }
}

void TPeriodicTimer::Stop()
{
    {
        std::lock_guard lock(FLock);
        if (OnTimerThread())
        {
            FStopping = true;
            FActive = false;
            return;
        }
    }
    std::lock_guard control(FControlLock);
    StopThread();
}

bool TPeriodicTimer::Running() const
{
    std::lock_guard lock(FLock);
    return FActive;
}

void TPeriodicTimer::StopThread()
{
    {
        std::lock_guard lock(FLock);
        FStopping = true;
        FShutdown = true;
        FActive = false;
        FWake.notify_all();
    }
    // Without FLock: the callback in progress may call Start(), Stop() or Running() before it returns.
    if (FThread)
        FThread->Join();
    FThread.reset();
    std::lock_guard lock(FLock);
    FShutdown = false;
}

void TPeriodicTimer::Run()
{
    using TClock = TTickSchedule::TClock;
    std::unique_lock lock(FLock);
    FTimerThread = std::this_thread::get_id();
    std::uint64_t generation = FGeneration;
    std::function<void()> callback = std::move(FPendingCallback);
    TTickSchedule schedule(TClock::now(), FPeriod);
    while (!FStopping)
    {
        if (generation != FGeneration)
        {
            // A Start() from the callback: the call that made it has returned, so its callback may go now.
            generation = FGeneration;
            callback = std::move(FPendingCallback);
            schedule = TTickSchedule(TClock::now(), FPeriod);
            continue;
        }
        if (FWake.wait_until(lock, schedule.NextDeadline(),
                             [&] { return FStopping || generation != FGeneration; }))
            continue;

        FSkippedTicks.fetch_add(schedule.TakeTick(TClock::now()), std::memory_order_relaxed);
        lock.unlock();
        try
        {
            callback();
        }
        catch (...)
        {
            FCallbackFailures.fetch_add(1, std::memory_order_relaxed);
            ReportCurrentException("periodic timer", "timer callback");
        }
        lock.lock();
    }
    FTimerThread = {};
    lock.unlock();
    // The callback's captures go on this thread, before the joiner returns.
    callback = nullptr;
}

}   // namespace harvolin
