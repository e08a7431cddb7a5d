#include "rtl/CountingLock.h"
#include "rtl/Threads.h"
#include <stdexcept>
#include <string>

namespace harvolin
{

void TCountingLock::Acquire()
{
    const std::uint32_t me = CurrentThreadId();
    std::unique_lock lock(FLock);
    FFreed.wait(lock, [&] { return CanEnter(me); });
    Enter(me);
}

bool TCountingLock::TryAcquire()
{
    const std::uint32_t me = CurrentThreadId();
    std::lock_guard lock(FLock);
    if (!CanEnter(me))
        return false;
    Enter(me);
    return true;
}

void TCountingLock::Release()
{
    {
        std::lock_guard lock(FLock);
        if (FCount == 0)
            throw std::logic_error("counting lock: Release without a hold (thread " +
                                   std::to_string(CurrentThreadId()) + ")");
        if (--FCount > 0)
            return;
        FOwner = 0;
    }
    // All waiters: each re-checks, the first to run becomes the owner, the others wait again.
    FFreed.notify_all();
}

std::int32_t TCountingLock::HoldCount() const
{
    std::lock_guard lock(FLock);
    return FCount;
}

std::uint32_t TCountingLock::OwnerThreadId() const
{
    std::lock_guard lock(FLock);
    return FOwner;
}

void TCountingLock::Enter(std::uint32_t threadId)
{
    FOwner = threadId;
    ++FCount;
}

}   // namespace harvolin
