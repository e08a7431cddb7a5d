#pragma once
#include "rtl/Guid.h"
#include "rtl/RefCount.h"
#include "rtl/Threads.h"
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

namespace harvolin
{

// A scoped hold on a lock, released with its last reference (also while an exception unwinds).
// Implementations acquire in their constructor and release in their destructor; hold them as
// TRefPtr<IOWLockSection> in a local variable for the duration of the operation.
class IOWLockSection
{
public:
    static constexpr TGUID kIID = MakeGuid("{01621A5C-9936-4BEB-BF6F-5D6754E65786}");

    virtual ~IOWLockSection() = default;
    virtual void AddRef() const noexcept = 0;
    virtual void Release() const noexcept = 0;
};

// The four lock operations and the two section factories shared by the global lock and the group locks.
// Every operation may be called from any thread; Acquire* block without time limit.
class IOWBaseLockObject
{
public:
    static constexpr TGUID kIID = MakeGuid("{581C5EAF-32C2-49FB-9FA4-BED8AEC22B87}");

    virtual ~IOWBaseLockObject() = default;
    virtual void AddRef() const noexcept = 0;
    virtual void Release() const noexcept = 0;

    virtual void AcquireRead() = 0;
    virtual void AcquireWrite() = 0;
    virtual void ReleaseRead() = 0;
    virtual void ReleaseWrite() = 0;
    [[nodiscard]] virtual TRefPtr<IOWLockSection> GetReadLockSection() = 0;
    [[nodiscard]] virtual TRefPtr<IOWLockSection> GetWriteLockSection() = 0;
};

// Per-thread read-recursion counters of one synchronizer: 16 buckets of singly linked nodes, keyed by the
// kernel thread id. A node is only ever pushed at a bucket head and never unlinked while the counter lives;
// a freed node is recycled by the next thread of its bucket that needs one. RecursionCount is touched only
// by the node's owning thread; ThreadID and Active are read by other threads walking the bucket.
class TOWThreadLocalCounter
{
public:
    struct TNode
    {
        TNode* Next = nullptr;   // fixed before the node is published, never changed afterwards
        std::atomic<std::uint32_t> ThreadID{0};
        std::atomic<std::int32_t> Active{0};   // kActive while a thread owns the node
        std::int32_t RecursionCount = 0;       // owning thread only
        bool HoldsShare = false;   // owning thread only: the thread's reads count in the lock word
    };

    static constexpr std::int32_t kActive = 2147483647;
    static constexpr std::size_t kBucketCount = 16;

    TOWThreadLocalCounter() = default;
    TOWThreadLocalCounter(const TOWThreadLocalCounter&) = delete;
    TOWThreadLocalCounter& operator=(const TOWThreadLocalCounter&) = delete;
    ~TOWThreadLocalCounter();

    // The calling thread's node, claimed or made when it has none. Never fails short of memory exhaustion.
    [[nodiscard]] TNode* Open();
    // Frees the node for reuse; it stays linked. Only its owning thread may call this.
    static void Delete(TNode* node);

    [[nodiscard]] static std::size_t BucketOf(std::uint32_t threadId) noexcept
    {
        return (threadId ^ (threadId >> 8)) & 15u;
    }
    // The node the thread owns, without claiming one; null when it owns none (its nodes are all free).
    [[nodiscard]] const TNode* Find(std::uint32_t threadId) const;
    // Nodes linked in the bucket, free or not (for tests: nodes are recycled, never added needlessly).
    [[nodiscard]] std::size_t NodeCount(std::size_t bucket) const;
private:
    [[nodiscard]] TNode* Recycle(std::size_t bucket, std::uint32_t threadId);

    std::array<std::atomic<TNode*>, kBucketCount> FBuckets{};
};

// Multi-reader, exclusive-writer lock. Reads nest per thread, writes nest per thread, a writer may read and a
// reader may upgrade to writer (it gives its reader share back while it waits, so the lock can be lost to
// another writer meanwhile). Writers are preferred: a writer blocks new outer readers before it competes,
// while nested reads of a thread that already reads never wait. Waits have no time limit.
// EndWrite from a thread that is not the writer is a programming error (assertion).
// A thread may end its reads and its write in either order.
class TOWMultiReadExclusiveWriteSynchronizer : public TRefCounted
{
public:
    static constexpr std::int32_t kFree = 65535;

    TOWMultiReadExclusiveWriteSynchronizer();

    void BeginRead();
    void EndRead();
    void BeginWrite();
    void EndWrite();

    // Snapshots for diagnostics and tests.
    [[nodiscard]] std::int32_t Sentinel() const noexcept { return FSentinel.load(std::memory_order_acquire); }
    [[nodiscard]] std::uint32_t WriterID() const noexcept
    {
        return FWriterID.load(std::memory_order_acquire);
    }
    // False while a writer wants or holds the lock (new outer readers wait).
    [[nodiscard]] bool ReadersMayEnter() { return FReadSignal.IsSet(); }
    // The calling thread's read nesting (0 when it holds no read lock).
    [[nodiscard]] std::int32_t ThreadReadCount() const;
    [[nodiscard]] const TOWThreadLocalCounter& ThreadCounters() const noexcept { return FThreadCounters; }
private:
    // 65535 free; 1..65534 that many readers; 0 a writer; other negatives: writers wait (see the algorithms).
    std::atomic<std::int32_t> FSentinel{kFree};
    TEvent FReadSignal{TEventMode::ManualReset, true};   // cleared while a writer wants or holds the lock
    TEvent FWriteSignal{TEventMode::AutoReset, false};   // releases one waiting writer
    std::uint32_t FWriteRecursionCount = 0;              // touched only by the writer thread
    TOWThreadLocalCounter FThreadCounters;
    std::atomic<std::uint32_t> FWriterID{0};
};

// The process-wide lock of the pin graph, also reachable as IOWBaseLockObject: Acquire*/Release* map to
// Begin*/End*, the section factories give global sections.
class TOWGlobalLockObject final : public TOWMultiReadExclusiveWriteSynchronizer, public IOWBaseLockObject
{
public:
    TOWGlobalLockObject() = default;

    void AddRef() const noexcept override { TRefCounted::AddRef(); }
    void Release() const noexcept override { TRefCounted::Release(); }

    void AcquireRead() override { BeginRead(); }
    void AcquireWrite() override { BeginWrite(); }
    void ReleaseRead() override { EndRead(); }
    void ReleaseWrite() override { EndWrite(); }
    [[nodiscard]] TRefPtr<IOWLockSection> GetReadLockSection() override;
    [[nodiscard]] TRefPtr<IOWLockSection> GetWriteLockSection() override;
};

// The one global lock. Made on first use (thread-safe), so that it exists before any framework object of a
// static initialiser needs it; it goes at exit after every static made after its first use, and anything that
// still holds a TRefPtr to it keeps it alive until that reference goes.
[[nodiscard]] TOWGlobalLockObject& GlobalLock();

// Holds GlobalLock for reading / writing.
class TOWGlobalReadLockSection final : public TRefCounted, public IOWLockSection
{
public:
    TOWGlobalReadLockSection();
    ~TOWGlobalReadLockSection() override;
    void AddRef() const noexcept override { TRefCounted::AddRef(); }
    void Release() const noexcept override { TRefCounted::Release(); }
};

class TOWGlobalWriteLockSection final : public TRefCounted, public IOWLockSection
{
public:
    TOWGlobalWriteLockSection();
    ~TOWGlobalWriteLockSection() override;
    void AddRef() const noexcept override { TRefCounted::AddRef(); }
    void Release() const noexcept override { TRefCounted::Release(); }
};

}   // namespace harvolin
