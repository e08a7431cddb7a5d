#pragma once
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace harvolin
{

// Counting, re-entrant, exclusive lock whose holds are counted rather than owned: a hold taken by one thread
// may be given back by another. Group locks need this, because regrouping takes a new lock on behalf of the
// threads that hold or wait for the old one, and each such thread later gives that hold back itself.
//
// Contract:
// - Acquire() takes one hold. It returns at once when the lock is free (the caller becomes the owner) or when
//   the caller is the owner (the count grows); otherwise it blocks without time limit until the count is 0.
// - Release() gives back one hold, from any thread. The owner stays the thread that took the first hold until
//   the count is 0 again; a thread that releases a hold taken for it never becomes the owner by doing so.
// - Release() without any hold is a programming error: it raises std::logic_error and changes nothing.
// - Destroying the lock while a hold remains is the owner's affair (nothing is freed under a waiter because
//   waiters keep the lock object alive through their references).
// Thread-safe; never holds its internal mutex while the caller runs.
class TCountingLock
{
public:
    TCountingLock() = default;
    TCountingLock(const TCountingLock&) = delete;
    TCountingLock& operator=(const TCountingLock&) = delete;

    void Acquire();
    // Like Acquire() but never blocks; returns whether the hold was taken.
    [[nodiscard]] bool TryAcquire();
    void Release();

    // Snapshots for diagnostics and tests: exact only while nobody else acquires or releases.
    [[nodiscard]] std::int32_t HoldCount() const;
    // Kernel id of the owner, 0 while the lock is free.
    [[nodiscard]] std::uint32_t OwnerThreadId() const;
private:
    [[nodiscard]] bool CanEnter(std::uint32_t threadId) const { return FCount == 0 || FOwner == threadId; }
    void Enter(std::uint32_t threadId);

    mutable std::mutex FLock;
    std::condition_variable FFreed;
    std::int32_t FCount = 0;    // guarded by FLock
    std::uint32_t FOwner = 0;   // guarded by FLock; 0 exactly when FCount is 0
};

}   // namespace harvolin
