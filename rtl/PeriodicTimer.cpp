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
