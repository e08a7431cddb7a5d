#pragma once
#include <atomic>
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
// Thread-safe; never holds its internal mutex while the caller runs. A free lock, a nested hold and a release
// that wakes nobody touch only the state word: the mutex and the condition variable serve threads that wait,
// and a release broadcasts only when one does.
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
    // One hold for threadId by a compare-and-swap on the state word; false when another thread owns the lock.
    [[nodiscard]] bool TryEnter(std::uint32_t threadId) noexcept;

    // The owner in the high 32 bits, the count in the low 32; the owner is 0 exactly when the count is 0.
    // Sequentially consistent with FWaiters: a releaser that frees the word and then reads no waiter knows
    // that any waiter still to come will find the word free before it sleeps.
    std::atomic<std::uint64_t> FState{0};
    std::atomic<std::int32_t> FWaiters{0};   // threads inside Acquire's slow path
    mutable std::mutex FLock;                // orders a waiter's last look at FState before its sleep
    std::condition_variable FFreed;
};

}   // namespace harvolin
