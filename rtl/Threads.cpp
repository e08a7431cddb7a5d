#include "rtl/Threads.h"
#include "rtl/Diagnostics.h"
#include "rtl/Exceptions.h"
#include <algorithm>
#include <cerrno>
#include <optional>
#include <pthread.h>
#include <stdexcept>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace harvolin
{

namespace
{

// The kernel keeps 15 characters and a terminator; a longer name would be refused whole.
constexpr std::size_t kMaxThreadNameLength = 15;

int NiceValue(TThreadPriority priority)
{
    switch (priority)
    {
    case TThreadPriority::Idle:
        return 19;
    case TThreadPriority::Lowest:
        return 10;
    case TThreadPriority::BelowNormal:
        return 5;
    case TThreadPriority::Normal:
        return 0;
    case TThreadPriority::AboveNormal:
        return -5;
    case TThreadPriority::Highest:
        return -10;
    case TThreadPriority::TimeCritical:
        return -20;
    }
    return 0;
}

bool SetNice(std::uint32_t threadId, TThreadPriority priority)
{
    return setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), NiceValue(priority)) == 0;
}

}   // namespace

std::optional<std::chrono::steady_clock::time_point> DeadlineAfter(std::chrono::milliseconds timeout)
{
    auto now = std::chrono::steady_clock::now();
    if (timeout < std::chrono::milliseconds::zero())
        return now;
    if (timeout > std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::time_point::max() - now))
        return std::nullopt;
    return now + timeout;
}

struct TThread::TState
{
    std::function<void()> Body;   // touched only by the thread once it runs
    std::string Name;
    TThreadPriority Priority;

    std::mutex Lock;
    std::condition_variable StartedChanged;
    bool Started = false;         // guarded by Lock
    bool Ended = false;           // guarded by Lock; once set the kernel id may be reused
    std::uint32_t Id = 0;         // set before Started, constant afterwards
    bool Failed = false;          // guarded by Lock
    std::string FailureMessage;   // guarded by Lock

    static void Entry(const std::shared_ptr<TState>& state);
    void RecordFailure(std::string message);
    // Inside the catch block: the body's failure to the diagnostics sink, as nobody may ever join to read it.
    void ReportBodyFailure() const noexcept;
};

void TThread::TState::Entry(const std::shared_ptr<TState>& state)
{
    {
        std::lock_guard lock(state->Lock);
        state->Id = CurrentThreadId();
        // Both are best effort: a thread without its name or priority still does its work.
        pthread_setname_np(pthread_self(), state->Name.substr(0, kMaxThreadNameLength).c_str());
        SetNice(state->Id, state->Priority);
        state->Started = true;
    }
    state->StartedChanged.notify_all();

    try
    {
        state->Body();
    }
    catch (const std::exception& e)
    {
        state->RecordFailure(e.what());
        state->ReportBodyFailure();
    }
    catch (...)
    {
        state->RecordFailure("unknown exception");
        state->ReportBodyFailure();
    }
    // The body's captures go here, on the thread, while everything they refer to is still alive for it.
    state->Body = nullptr;

    std::lock_guard lock(state->Lock);
    state->Ended = true;
}

void TThread::TState::ReportBodyFailure() const noexcept
{
    ReportCurrentException([this] { return Name.empty() ? std::string("thread") : "thread '" + Name + "'"; },
                           [] { return "thread body"; });
}

void TThread::TState::RecordFailure(std::string message)
{
    std::lock_guard lock(Lock);
    Failed = true;
    FailureMessage = std::move(message);
}

TThread::TThread(std::function<void()> body, TThreadPriority priority, std::string name)
    : FState(std::make_shared<TState>())
{
    if (!body)
        throw std::invalid_argument("thread '" + name + "': no body to run");
    FState->Body = std::move(body);
    FState->Name = std::move(name);
    FState->Priority = priority;
    try
    {
        FThread = std::thread(&TState::Entry, FState);
    }
    catch (const std::system_error& e)
    {
        throw EOSError(e.code().value(), "thread '" + FState->Name + "': cannot create");
    }
    FThreadId = FThread.get_id();

    std::unique_lock lock(FState->Lock);
    FState->StartedChanged.wait(lock, [this] { return FState->Started; });
}

TThread::~TThread()
{
    if (std::this_thread::get_id() == FThreadId)
    {
        // Joining would wait for this very call to return; the shared state keeps the thread's data alive.
        if (FThread.joinable())
            FThread.detach();
        return;
    }
    Join();
}

void TThread::Join()
{
    if (std::this_thread::get_id() == FThreadId)
        throw EOSError(EDEADLK, "thread '" + FState->Name + "': cannot join itself");
    std::lock_guard lock(FJoinLock);
    if (FThread.joinable())
        FThread.join();
    FJoined.store(true, std::memory_order_release);
}

bool TThread::Joinable() const
{
    return !FJoined.load(std::memory_order_acquire);
}

std::uint32_t TThread::Id() const noexcept
{
    return FState->Id;
}

const std::string& TThread::Name() const noexcept
{
    return FState->Name;
}

bool TThread::SetPriority(TThreadPriority priority)
{
    // Under the lock the thread cannot end, so its kernel id cannot pass to another thread meanwhile.
    std::lock_guard lock(FState->Lock);
    if (FState->Ended)
        return false;
    return SetNice(FState->Id, priority);
}

bool TThread::Failed() const
{
    std::lock_guard lock(FState->Lock);
    return FState->Failed;
}

std::string TThread::FailureMessage() const
{
    std::lock_guard lock(FState->Lock);
    return FState->FailureMessage;
}

TEvent::TEvent(TEventMode mode, bool initiallySet) : FMode(mode), FSet(initiallySet) {}

void TEvent::Set()
{
    // Set already: nobody sleeps on it (a waiter of a set event does not wait), so there is nobody to wake,
    // and a second set of an auto-reset event releases no more than the first would.
    if (FSet.load(std::memory_order_acquire))
        return;
    std::lock_guard lock(FLock);
    FSet = true;
    if (FMode == TEventMode::ManualReset)
    {
        ++FSetCount;
        FChanged.notify_all();
    }
    else
    {
        FChanged.notify_one();
    }
}

void TEvent::Reset()
{
    std::lock_guard lock(FLock);
    FSet = false;
}

void TEvent::Wait()
{
    WaitUntil({}, false);
}

bool TEvent::WaitFor(std::chrono::milliseconds timeout)
{
    std::optional<std::chrono::steady_clock::time_point> deadline = DeadlineAfter(timeout);
    return WaitUntil(deadline.value_or(std::chrono::steady_clock::time_point{}), deadline.has_value());
}

bool TEvent::WaitUntil(std::chrono::steady_clock::time_point deadline, bool limited)
{
    // Always under the mutex, even when the event shows set: Set() still broadcasts after the flag shows,
    // and a waiter that was released may destroy the event as soon as this returns.
    std::unique_lock lock(FLock);
    std::uint64_t setCountAtEntry = FSetCount;
    bool manual = FMode == TEventMode::ManualReset;
    // Manual reset: a Set() since entry releases this waiter even when a Reset() came before it woke.
    auto released = [&] { return FSet || (manual && FSetCount != setCountAtEntry); };
    if (!limited)
        FChanged.wait(lock, released);
    else if (!FChanged.wait_until(lock, deadline, released))
        return false;
    if (FMode == TEventMode::AutoReset)
        FSet = false;
    return true;
}

TSemaphoreCount::TSemaphoreCount(const char* owner, std::int32_t initialCount, std::int32_t maximumCount)
    : FOwner(owner), FMaximum(maximumCount), FCount(initialCount)
{
    if (maximumCount < 1 || initialCount < 0 || initialCount > maximumCount)
        throw std::invalid_argument(std::string(owner) + ": initial count " + std::to_string(initialCount) +
                                    " and maximum " + std::to_string(maximumCount) +
                                    " do not satisfy 0 <= initial <= maximum, 1 <= maximum");
}

bool TSemaphoreCount::Release(std::int32_t count, std::condition_variable& waiters)
{
    if (count < 1)
        throw std::invalid_argument(std::string(FOwner) + ": cannot release " + std::to_string(count));
    // In 64 bits: count may be as large as the type allows.
    if (static_cast<std::int64_t>(FCount) + count > FMaximum)
        return false;
    FCount += count;
    if (count == 1)
        waiters.notify_one();
    else
        waiters.notify_all();
    return true;
}

void TSemaphoreCount::AddUpToMaximum(std::uint64_t count) noexcept
{
    const auto room = static_cast<std::uint64_t>(FMaximum - FCount);
    FCount += static_cast<std::int32_t>(std::min(count, room));
}

bool TSemaphoreCount::TryTake() noexcept
{
    if (FCount == 0)
        return false;
    --FCount;
    return true;
}

TSemaphore::TSemaphore(std::int32_t initialCount, std::int32_t maximumCount)
    : FCount("semaphore", initialCount, maximumCount)
{
}

bool TSemaphore::Release(std::int32_t count)
{
    // Notifying under the lock: a woken waiter may destroy the semaphore as soon as it has its count.
    std::lock_guard lock(FLock);
    return FCount.Release(count, FReleased);
}

void TSemaphore::Acquire()
{
    std::unique_lock lock(FLock);
    FReleased.wait(lock, [this] { return FCount.Available(); });
    (void)FCount.TryTake();
}

bool TSemaphore::TryAcquireFor(std::chrono::milliseconds timeout)
{
    std::optional<std::chrono::steady_clock::time_point> deadline = DeadlineAfter(timeout);
    if (!deadline)
    {
        Acquire();
        return true;
    }
    std::unique_lock lock(FLock);
    if (!FReleased.wait_until(lock, *deadline, [this] { return FCount.Available(); }))
        return false;
    (void)FCount.TryTake();
    return true;
}

bool TSemaphore::TryAcquire()
{
    std::lock_guard lock(FLock);
    return FCount.TryTake();
}

void SleepMs(std::int32_t ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void YieldThread()
{
    std::this_thread::yield();
}

std::uint32_t CurrentThreadId()
{
    // Cached: the lock algorithms ask for it several times per section, and each ask is a system call.
    thread_local const auto id = static_cast<std::uint32_t>(gettid());
    return id;
}

std::uint32_t CurrentProcessId()
{
    return static_cast<std::uint32_t>(getpid());
}

}   // namespace harvolin
