#pragma once
#include "rtl/Threads.h"
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace harvolin
{

// The deadlines of a periodic timer: tick k (from 1) is due at start + k x period, so lateness of one tick
// never shifts the next. A wake-up later than kStallLimit after the due tick counts as a stall: that tick is
// delivered, the ticks missed meanwhile are skipped and counted, and the schedule starts again from the wake.
// A plain value; the timer keeps one on its own thread.
class TTickSchedule
{
public:
    using TClock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kStallLimit{1};

    TTickSchedule(TClock::time_point start, std::chrono::milliseconds period) noexcept;

    [[nodiscard]] TClock::time_point NextDeadline() const noexcept;
    // Consumes the due tick at `now` (not before NextDeadline()) and returns how many ticks a stall skipped.
    // After a late wake that is no stall, NextDeadline() may already be past: those ticks follow back to
    // back.
    std::uint64_t TakeTick(TClock::time_point now) noexcept;
    // Consumes every tick due at `now`, however late, and returns how many: no stall rule, for ticks that
    // fell due while nobody was waiting for them, and that are owed whole.
    std::uint64_t TakeDue(TClock::time_point now) noexcept;
private:
    TClock::time_point FStart;
    std::chrono::milliseconds FPeriod;
    std::int64_t FTaken = 0;   // ticks delivered or skipped since FStart
};

// A counting semaphore that a period also releases: while paced, its count rises by one at every deadline
// start + k x period of the monotonic clock, as if a timer released it then. No timer thread does: the thread
// waiting in Acquire() sleeps to the next deadline itself, so a tick costs the one wake-up of the thread that
// takes it, where a timer thread releasing a semaphore costs two. Release() adds to the count from any
// thread, as a plain semaphore's does: each deadline and each release is one acquisition.
// Deadlines that pass while no thread waits (the acquirer busy with earlier ones) are counted at the next
// Acquire() and taken back to back, up to the maximum count; beyond it they are lost, as releases of a full
// semaphore are. A waiter that wakes more than TTickSchedule::kStallLimit after the deadline it slept for
// (the machine stopped, not the acquirer) takes one tick for the whole backlog; the rest are skipped and
// counted in SkippedTicks(), and the deadlines start again from the wake.
// Every member may be called from any thread. Raises std::invalid_argument for a maximum below 1 or an
// initial count outside 0..maximum.
class TPacedSemaphore
{
public:
    using TClock = TTickSchedule::TClock;

    TPacedSemaphore(std::int32_t initialCount, std::int32_t maximumCount);
    TPacedSemaphore(const TPacedSemaphore&) = delete;
    TPacedSemaphore& operator=(const TPacedSemaphore&) = delete;

    // Starts the deadlines, the first one period from now; when paced already, the deadlines that fell due
    // are counted and the new period takes over, also for a thread asleep for an old deadline. Raises
    // std::invalid_argument for a period below 1 ms, leaving the pace as it was.
    void Pace(std::int32_t periodMs);
    // Counts the deadlines that fell due and ends the pace; a waiter then waits for releases alone.
    void StopPacing();
    // Adds count, or refuses the whole release and returns false when the count would pass the maximum.
    // Raises std::invalid_argument for a count below 1.
    bool Release(std::int32_t count = 1);
    // Blocks without time limit until a deadline or a release gives a count to take.
    void Acquire();

    // Deadlines fallen due over the semaphore's life, also those no waiter has counted yet; skipped ticks
    // are not among them.
    [[nodiscard]] std::uint64_t TicksDue() const;
    [[nodiscard]] std::uint64_t SkippedTicks() const;
private:
    // Caller holds FLock and is paced. slept: the caller woke from a wait for the current schedule's
    // next deadline, so lateness past the stall limit is the machine's.
    void CountDueTicks(TClock::time_point now, bool slept);

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    TSemaphoreCount FCount;                   // guarded by FLock
    std::optional<TTickSchedule> FSchedule;   // guarded by FLock: empty while not paced
    std::uint64_t FPaceGeneration = 0;        // guarded by FLock: bumped by Pace() and StopPacing()
    std::uint64_t FTicksDue = 0;              // guarded by FLock: deadlines counted so far
    std::uint64_t FSkippedTicks = 0;          // guarded by FLock
};

// Calls a callback every period on a thread of its own (highest priority, best effort), on absolute deadlines
// of the monotonic clock. The callback never runs concurrently with itself; deadlines it makes late are
// delivered back to back, except after a stall (see TTickSchedule). An exception from the callback is counted
// in CallbackFailures() and the timer ticks on.
// Start(), Stop() and Running() may be called from any thread, the callback included. The timer must not be
// destroyed from inside its own callback.
class TPeriodicTimer
{
public:
    TPeriodicTimer() = default;
    TPeriodicTimer(const TPeriodicTimer&) = delete;
    TPeriodicTimer& operator=(const TPeriodicTimer&) = delete;
    ~TPeriodicTimer();

    // The first call comes one period after the start. On a running timer, restarts it with the new period
    // and callback; from another thread it returns once the old callback has returned and will not be called
    // again, from inside the callback at once (the new one takes over when the current call returns).
    // Raises std::invalid_argument for a period below 1 ms or an empty callback, leaving the timer as it was,
    // and EOSError when the thread cannot be created, leaving it stopped. A Stop() under way on another
    // thread wins over a Start() from inside the callback, which is then ignored.
    void Start(std::int32_t periodMs, std::function<void()> callback);
    // From another thread: returns once the callback is not running and will not be called again. From inside
    // the callback: returns at once; the thread ends when the callback returns and is joined by the next
    // Start() or Stop() from another thread, or by the destructor.
    void Stop();
    [[nodiscard]] bool Running() const;

    // Totals over the timer's life.
    [[nodiscard]] std::uint64_t SkippedTicks() const noexcept
    {
        return FSkippedTicks.load(std::memory_order_relaxed);
    }
    [[nodiscard]] std::uint64_t CallbackFailures() const noexcept
    {
        return FCallbackFailures.load(std::memory_order_relaxed);
    }
private:
    bool OnTimerThread() const;   // caller holds FLock
    void StopThread();            // caller holds FControlLock, not FLock
    void Run();

    std::mutex FControlLock;   // serialises Start() and Stop() from other threads; guards FThread
    std::unique_ptr<TThread> FThread;

    mutable std::mutex FLock;   // order: FControlLock, then FLock; never held while the callback runs
    std::condition_variable FWake;
    bool FActive = false;            // guarded by FLock: started and not stopped
    bool FStopping = false;          // guarded by FLock: the thread ends at its next look
    bool FShutdown = false;          // guarded by FLock: a Stop() from another thread is joining the thread
    std::uint64_t FGeneration = 0;   // guarded by FLock: bumped by each Start(), which the thread then adopts
    std::chrono::milliseconds FPeriod{0};     // guarded by FLock: the period of the latest Start()
    std::function<void()> FPendingCallback;   // guarded by FLock: the callback of the latest Start()
    std::thread::id FTimerThread;             // guarded by FLock: the thread running Run()

    std::atomic<std::uint64_t> FSkippedTicks{0};
    std::atomic<std::uint64_t> FCallbackFailures{0};
};

}   // namespace harvolin
