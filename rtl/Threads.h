#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace harvolin
{

// Scheduling priority of a thread, best effort: on Linux each maps to a nice value (Idle 19, Lowest 10,
// BelowNormal 5, Normal 0, AboveNormal -5, Highest -10, TimeCritical -20). Without the privilege to raise
// priority, requests above the current one are refused and the thread runs on at the priority it has;
// lowering always succeeds but may not be undone.
enum class TThreadPriority
{
    Idle,
    Lowest,
    BelowNormal,
    Normal,
    AboveNormal,
    Highest,
    TimeCritical
};

// A thread running one body. The constructor returns once the thread runs, with its name and priority set
// and Id() known. No exception leaves the thread: one thrown by the body ends it and is recorded (Failed(),
// FailureMessage()). The destructor joins; when the body itself destroys its TThread, the thread is detached
// instead and ends on its own (it then must not touch what the body's owner has freed).
// Raises EOSError when the thread cannot be created.
class TThread
{
public:
    // The name is cut to the 15 characters the kernel keeps.
    explicit TThread(std::function<void()> body, TThreadPriority priority = TThreadPriority::Normal,
                     std::string name = {});
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    ~TThread();

    // Waits for the body to end. Idempotent, and safe from several threads at once. Raises EOSError (EDEADLK)
    // when called on the thread itself, where it could only deadlock.
    void Join();
    [[nodiscard]] bool Joinable() const;

    // Kernel thread id, as CurrentThreadId() reports it on the thread.
    [[nodiscard]] std::uint32_t Id() const noexcept;
    [[nodiscard]] const std::string& Name() const noexcept;

    // Returns whether the change was granted; false also when the thread has ended. Callable from any thread.
    bool SetPriority(TThreadPriority priority);

    // Whether the body ended with an exception, and its what() ("unknown exception" for other types).
    // Settled once the body has ended (after Join()).
    [[nodiscard]] bool Failed() const;
    [[nodiscard]] std::string FailureMessage() const;
private:
    struct TState;

    std::shared_ptr<TState> FState;   // shared with the thread, which may outlive a self-destroyed TThread
    std::mutex FJoinLock;             // serialises Join(); guards FThread
    std::thread FThread;
    std::thread::id FThreadId;          // fixed at creation, so a self-join is recognised without a race
    std::atomic<bool> FJoined{false};   // read without FJoinLock, which a joiner holds while it waits
};

// Manual reset: Set() releases every waiter and the event stays set until Reset(); a waiter that was waiting
// when Set() was called is released even if Reset() follows at once. Auto reset: Set() releases exactly one
// waiter, or the next thread to wait, and the event resets as it does; Sets before that coalesce into one.
enum class TEventMode
{
    ManualReset,
    AutoReset
};

class TEvent
{
public:
    explicit TEvent(TEventMode mode, bool initiallySet = false);
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    void Set();
    void Reset();
    // Blocks without time limit.
    void Wait();
    // Returns false when the time ran out before the event was set (a negative time tests without waiting).
    [[nodiscard]] bool WaitFor(std::chrono::milliseconds timeout);
    // Whether it is set, seen without the mutex. Only for an owner that outlives every Set(), as a lock's
    // signals do, to skip a wait it does not need: a waiter that may destroy the event once released must
    // wait, because Set() still touches the event after the flag shows.
    [[nodiscard]] bool IsSet() const noexcept { return FSet.load(std::memory_order_acquire); }
private:
    bool WaitUntil(std::chrono::steady_clock::time_point deadline, bool limited);

    const TEventMode FMode;
    std::mutex FLock;
    std::condition_variable FChanged;
    // Changed under FLock; read without it by IsSet() and by Set(), which returns at once for a set event:
    // nobody sleeps on one, and a second set of an auto-reset event releases no more than the first.
    std::atomic<bool> FSet;
    std::uint64_t FSetCount = 0;   // guarded by FLock; manual reset: a change releases the waiters
};

// The count of a semaphore with a ceiling, apart from its lock and its waiting: each semaphore keeps one
// under its own lock. Raises std::invalid_argument for a maximum below 1 or an initial count outside
// 0..maximum, naming the owner (a string literal).
class TSemaphoreCount
{
public:
    TSemaphoreCount(const char* owner, std::int32_t initialCount, std::int32_t maximumCount);

    // Adds count and wakes as many of waiters (on the owner's lock, which the caller holds), or refuses the
    // whole release and returns false when it would pass the maximum (the release is then lost and the count
    // stays). Raises std::invalid_argument for a count below 1.
    [[nodiscard]] bool Release(std::int32_t count, std::condition_variable& waiters);
    // Adds as much of count as fits; the rest is lost.
    void AddUpToMaximum(std::uint64_t count) noexcept;
    [[nodiscard]] bool Available() const noexcept { return FCount > 0; }
    // Takes one when there is one.
    [[nodiscard]] bool TryTake() noexcept;
private:
    const char* FOwner;
    const std::int32_t FMaximum;
    std::int32_t FCount;
};

// Counting semaphore with a ceiling. Raises std::invalid_argument for a maximum below 1 or an initial count
// outside 0..maximum.
class TSemaphore
{
public:
    TSemaphore(std::int32_t initialCount, std::int32_t maximumCount);
    TSemaphore(const TSemaphore&) = delete;
    TSemaphore& operator=(const TSemaphore&) = delete;

    // Adds count, or refuses the whole release and returns false when it would pass the maximum (the release
    // is then lost and the count stays). Raises std::invalid_argument for a count below 1.
    bool Release(std::int32_t count = 1);
    // Blocks without time limit.
    void Acquire();
    [[nodiscard]] bool TryAcquireFor(std::chrono::milliseconds timeout);
    [[nodiscard]] bool TryAcquire();
private:
    std::mutex FLock;
    std::condition_variable FReleased;
    TSemaphoreCount FCount;   // guarded by FLock
};

// Re-entrant lock: the thread that holds it may enter again and leaves once per entry. Only the holder may
// leave. Logic code holds it through TCriticalSectionGuard, never by bare Enter/Leave pairs.
class TCriticalSection
{
public:
    TCriticalSection() = default;
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;

    void Enter() { FMutex.lock(); }
    [[nodiscard]] bool TryEnter() { return FMutex.try_lock(); }
    void Leave() { FMutex.unlock(); }
private:
    std::recursive_mutex FMutex;
};

// Holds a critical section for its scope, also while an exception unwinds.
class TCriticalSectionGuard
{
public:
    [[nodiscard]] explicit TCriticalSectionGuard(TCriticalSection& section) : FSection(section)
    {
        FSection.Enter();
    }
    TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
    TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;
    ~TCriticalSectionGuard() { FSection.Leave(); }
private:
    TCriticalSection& FSection;
};

// A negative time sleeps not at all.
void SleepMs(std::int32_t ms);
void YieldThread();
// Kernel ids: the thread's (gettid) and the process's.
[[nodiscard]] std::uint32_t CurrentThreadId();
[[nodiscard]] std::uint32_t CurrentProcessId();

// When a wait of timeout from now ends on the monotonic clock; now for a negative time. Nothing when the wait
// has no practical limit: adding it to the clock would overflow, so the caller waits without a deadline.
[[nodiscard]] std::optional<std::chrono::steady_clock::time_point>
DeadlineAfter(std::chrono::milliseconds timeout);

}   // namespace harvolin
