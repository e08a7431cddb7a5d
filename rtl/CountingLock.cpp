#include "rtl/CountingLock.h"
#include "rtl/Threads.h"
#include <stdexcept>
#include <string>

namespace harvolin
{

namespace
{

constexpr std::uint64_t kCountMask = 0xFFFFFFFFu;

constexpr std::uint64_t State(std::uint32_t owner, std::uint32_t count) noexcept
{
    return (static_cast<std::uint64_t>(owner) << 32) | count;
}

}   // namespace

bool TCountingLock::TryEnter(std::uint32_t threadId) noexcept
{
    std::uint64_t state = FState.load();
    for (;;)
    {
        const auto count = static_cast<std::uint32_t>(state & kCountMask);
        if (count != 0 && static_cast<std::uint32_t>(state >> 32) != threadId)
            return false;
        if (FState.compare_exchange_weak(state, State(threadId, count + 1)))
            return true;
    }
}

void TCountingLock::Acquire()
{
    const std::uint32_t me = CurrentThreadId();
    if (TryEnter(me))
        return;
    std::unique_lock lock(FLock);
    FWaiters.fetch_add(1);
    FFreed.wait(lock, [&] { return TryEnter(me); });
    FWaiters.fetch_sub(1);
}

bool TCountingLock::TryAcquire()
{
    return TryEnter(CurrentThreadId());
}

void TCountingLock::Release()
{
    std::uint64_t state = FState.load();
    std::uint64_t next = 0;
    do
    {
        const auto count = static_cast<std::uint32_t>(state & kCountMask);
        if (count == 0)
            throw std::logic_error("counting lock: Release without a hold (thread " +
                                   std::to_string(CurrentThreadId()) + ")");
        next = count == 1 ? 0 : state - 1;
    } while (!FState.compare_exchange_weak(state, next));
    if (next != 0 || FWaiters.load() == 0)
        return;
    // A waiter between its last look at the word and its sleep holds FLock: taking it here means the
    // broadcast cannot fall into that gap. All waiters: each re-checks, the first to run becomes the owner.
    {
        std::lock_guard lock(FLock);
    }
    FFreed.notify_all();
}

std::int32_t TCountingLock::HoldCount() const
{
    return static_cast<std::int32_t>(FState.load() & kCountMask);
}

std::uint32_t TCountingLock::OwnerThreadId() const
{
    return static_cast<std::uint32_t>(FState.load() >> 32);
}

}   // namespace harvolin
