#pragma once
#include "pins/OWLockGroups.h"
#include "rtl/PeriodicTimer.h"
#include "rtl/Threads.h"
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace harvolin
{

class TSLClockGen;
class TSLClockGenThread;

// A registered callback: what a generator keeps as its ClockItem. Owned by its clock generator; valid until
// UnregisterClock().
class TSLClockGenItem
{
public:
    TSLClockGenItem(TSLClockGen& owner, std::function<void()> callback)
        : FOwner(owner), FCallback(std::move(callback))
    {
    }
    TSLClockGenItem(const TSLClockGenItem&) = delete;
    TSLClockGenItem& operator=(const TSLClockGenItem&) = delete;

    [[nodiscard]] TSLClockGen& Owner() const noexcept { return FOwner; }
private:
    friend class TSLClockGen;

    TSLClockGen& FOwner;
    const std::function<void()> FCallback;
    TOWObject* FLock = nullptr;   // the client's lock, joined with the clock generator's
    bool FActive = true;          // guarded by the clock generator's group lock: cleared when unregistered
};

// The pace of every generator with one period: a worker thread at the highest priority that runs the
// registered callbacks, one after another in registration order, once per tick. A tick is one count of the
// worker's paced semaphore: each deadline of the period gives one, and so does each Wake() of the worker.
// The worker sleeps to each absolute deadline itself, so that a tick wakes one thread rather than a timer
// thread that would then wake the worker; ticks that fall due while a tick runs late are run back to back
// afterwards, up to kMaxPendingTicks. The clock generator's lock is joined with each client's lock, so a
// tick excludes property changes and block production of its clients elsewhere.
// Made and destroyed by RegisterClock()/UnregisterClock() only: after its last client left, it ends itself
// on its own thread at the next tick.
class TSLClockGen final : public TOWObject
{
public:
    static constexpr std::int32_t kMaxPendingTicks = 10000;

    explicit TSLClockGen(std::int32_t periodMs);
    ~TSLClockGen() override;

    [[nodiscard]] std::int32_t Period() const noexcept { return FPeriod; }
    [[nodiscard]] std::size_t ClientCount();
    // Deadlines fallen due, run or still pending, and ticks the worker ran, over the clock generator's life.
    [[nodiscard]] std::uint64_t TicksCounted() const { return FTickSemaphore.TicksDue(); }
    [[nodiscard]] std::uint64_t TicksRun() const noexcept { return FTicksRun.load(); }

    // Stops the deadlines and ends the worker, leaving the clock generator in place: for the end of the
    // process, when clients that never left still hold their registrations. Not from the worker thread.
    void Halt();
private:
    friend class TSLClockGenThread;
    friend TSLClockGenItem* RegisterClock(std::int32_t, TOWObject&, std::function<void()>);
    friend bool UnregisterClock(TSLClockGenItem*, TOWObject&);

    TSLClockGenItem* AddClient(TOWObject& lock, std::function<void()> callback);
    // True when Clients became empty.
    bool RemoveClient(TSLClockGenItem* item, TOWObject& lock);
    void StartTimer();
    // One tick on the worker thread, with GlobalLock held for reading. True when the clock generator has no
    // client left and is to end itself.
    bool RunTick();

    const std::int32_t FPeriod;
    // The worker's ticks: the deadlines and the releases of Wake(). Outlives the worker's use of it: the
    // worker looks at its termination flag before each Acquire(), and the clock generator sets it first.
    TPacedSemaphore FTickSemaphore{0, kMaxPendingTicks};
    std::vector<std::shared_ptr<TSLClockGenItem>> FClients;   // guarded by the group lock
    std::vector<std::shared_ptr<TSLClockGenItem>> FTick;      // worker thread only: the clients of a tick
    std::int32_t FBusyCount = 0;                              // guarded by the group lock
    std::atomic<std::uint64_t> FTicksRun{0};
    TSLClockGenThread* FThread;   // owned until the clock generator ends; then the thread frees itself
};

// Registers callback to be called every periodMs on the worker thread of that period's clock generator,
// which is made when it is the first; lock (the generator's own lock) joins the clock generator's lock
// group. Takes GlobalLock for writing. Raises std::invalid_argument for a period below 1 ms or an empty
// callback, and EOSError when a thread cannot be made; nothing is registered then.
TSLClockGenItem* RegisterClock(std::int32_t periodMs, TOWObject& lock, std::function<void()> callback);
// Removes the registration (null: nothing); the callback is not called again once this returns, except by a
// tick of the calling thread itself that is still running it. Takes GlobalLock for writing, so it waits for
// a tick in progress on another thread. True when no clock generator is left.
bool UnregisterClock(TSLClockGenItem* item, TOWObject& lock);

// The clock generators alive in the registry, and the one of a period (null when none).
[[nodiscard]] std::size_t ClockGenCount();
[[nodiscard]] TSLClockGen* FindClockGen(std::int32_t periodMs);
// Worker threads alive: incremented when one is made, decremented when it has ended.
[[nodiscard]] std::int32_t LiveClockThreads() noexcept;
// Exceptions raised by callbacks, caught per client so that the others keep their pace.
[[nodiscard]] std::uint64_t ClockCallbackFailures() noexcept;

// A worker that runs its callback once per release of TickSemaphore(), at the highest priority; the owner
// hands the semaphore to a periodic time source. The destructor returns once the callback and the loop have
// ended; it must not be called from the callback.
class TSLClockThread
{
public:
    static constexpr std::int32_t kMaxPendingTicks = 300000;

    explicit TSLClockThread(std::function<void(TSLClockThread&)> callback);
    TSLClockThread(const TSLClockThread&) = delete;
    TSLClockThread& operator=(const TSLClockThread&) = delete;
    ~TSLClockThread();

    [[nodiscard]] TSemaphore& TickSemaphore() noexcept { return FTickSemaphore; }
    // Exceptions raised by the callback; the thread goes on.
    [[nodiscard]] std::uint64_t CallbackFailures() const noexcept { return FCallbackFailures.load(); }
private:
    TSemaphore FTickSemaphore{0, kMaxPendingTicks};
    TEvent FDoneEvent{TEventMode::AutoReset};
    std::atomic<bool> FTerminated{false};
    std::atomic<std::uint64_t> FCallbackFailures{0};
    const std::function<void(TSLClockThread&)> FCallback;
    std::unique_ptr<TThread> FThread;
};

}   // namespace harvolin
