#pragma once
#include "rtl/Threads.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace harvolin
{

// Largest block the pool hands out; larger requests are refused, never served with a smaller area.
inline constexpr std::uint32_t kSLMaxBlockSize = 1u << 30;

// The pool's block size for a request: the first power of two from 4 to 2^30 that is not below size, and
// 2^30 for anything above (callers refuse such requests before they get here).
[[nodiscard]] std::uint32_t RoundUpSize(std::uint32_t size) noexcept;

// The free blocks of exactly one size, last in first out so that the block handed out is the one most
// recently used (still warm in the cache). No lock of its own: only its manager touches it, under its lock.
class TSLSmartBufferList
{
public:
    explicit TSLSmartBufferList(std::uint32_t blockSize) noexcept : FBlockSize(blockSize) {}
    TSLSmartBufferList(const TSLSmartBufferList&) = delete;
    TSLSmartBufferList& operator=(const TSLSmartBufferList&) = delete;
    // Returns every free block to the heap; blocks still handed out are not this list's any more.
    ~TSLSmartBufferList();

    [[nodiscard]] std::uint32_t BlockSize() const noexcept { return FBlockSize; }
    [[nodiscard]] std::size_t FreeCount() const noexcept { return FFree.size(); }

    // The last block put back, or a new 32-byte aligned one from the heap (then heapAllocated is set);
    // null when the heap refuses.
    [[nodiscard]] void* Take(bool& heapAllocated);
    void Give(void* block) noexcept;
private:
    const std::uint32_t FBlockSize;
    std::vector<void*> FFree;
};

// The pool of storage memory and storage objects, keyed by exact block size. One process-wide instance
// serves the buffers (SmartBufferManager()); tests may make their own. Get and Put may be called from any
// thread; both hold the manager's lock only for a list search and a push or pop.
class TSLSmartBufferManager
{
public:
    TSLSmartBufferManager() = default;
    TSLSmartBufferManager(const TSLSmartBufferManager&) = delete;
    TSLSmartBufferManager& operator=(const TSLSmartBufferManager&) = delete;
    // Frees every pooled block. Blocks still handed out are neither an error nor freed here; BlocksInUse()
    // tells how many there are.
    ~TSLSmartBufferManager();

    // A 32-byte aligned block of exactly size bytes: null for size 0 (no size list is made) or when the heap
    // refuses. Raises ERangeError for a size above kSLMaxBlockSize.
    [[nodiscard]] void* Get(std::uint32_t size);
    // Takes back a block from Get under the size it was got with; null is ignored.
    void Put(void* block, std::uint32_t size) noexcept;

    // Snapshots for tests, leak checks and the benchmark.
    [[nodiscard]] std::size_t SizeListCount();
    [[nodiscard]] std::size_t FreeBlockCount(std::uint32_t size);
    // Blocks handed out by Get and not yet put back.
    [[nodiscard]] std::int64_t BlocksInUse();
    // Blocks the pool has taken from the heap since it was made; steady once the pool is warm.
    [[nodiscard]] std::uint64_t HeapAllocations();
private:
    TSLSmartBufferList* FindList(std::uint32_t size) noexcept;   // caller holds FLock

    TCriticalSection FLock;
    std::vector<std::unique_ptr<TSLSmartBufferList>> FLists;   // guarded by FLock, in order of creation
    std::int64_t FBlocksInUse = 0;                             // guarded by FLock
    std::uint64_t FHeapAllocations = 0;                        // guarded by FLock
};

// The process-wide pool. Made as the program starts (or on an earlier first use) and freed at exit; blocks
// put back after that go straight to the heap.
[[nodiscard]] TSLSmartBufferManager& SmartBufferManager();
// Get and Put on the process-wide pool.
[[nodiscard]] void* SmartBufferGet(std::uint32_t size);
void SmartBufferPut(void* block, std::uint32_t size) noexcept;

// A storage block shared by buffer handles: counts its holders (handles that reference it) and, among
// them, its owners (handles that take part in copy-on-write). The counts change only under the block's own
// lock, so handles on different threads may share it; the ReleaseHolder that brings the holder count from 1
// to 0 frees the block, and exactly one caller can see that transition. The instances themselves come
// from the process-wide pool, so a steady stream of blocks allocates nothing once the pool is warm.
// Made by new with both counts 0; the first handle adds itself. Never deleted by anything but
// ReleaseHolder.
class TSLSmartBuffer
{
public:
    TSLSmartBuffer() = default;
    TSLSmartBuffer(const TSLSmartBuffer&) = delete;
    TSLSmartBuffer& operator=(const TSLSmartBuffer&) = delete;

    // Instance memory from the pool, zero-filled before construction. Raises std::bad_alloc when the heap
    // refuses.
    static void* operator new(std::size_t size);
    static void operator delete(void* block, std::size_t size) noexcept;

    virtual void AddHolder(bool owner);
    // May free the block: the caller must not touch it afterwards. Never takes a count below 0.
    virtual void ReleaseHolder(bool owner);
    // The caller stays a holder but no longer counts for copy-on-write.
    virtual void ReleaseOwner();
    // Fewer than two owners: a writer that owns the block may write in place.
    [[nodiscard]] virtual bool IsExclusive();
    // A new block of the same kind with both counts 0; memory blocks copy their whole area when preserve
    // is set. Raises std::bad_alloc when no memory can be had.
    [[nodiscard]] virtual TSLSmartBuffer* CloneStorage(bool preserve);

    // Snapshots, for tests and diagnostics.
    [[nodiscard]] std::int32_t OwnerCount();
    [[nodiscard]] std::int32_t HolderCount();
protected:
    // Frees only through ReleaseHolder.
    virtual ~TSLSmartBuffer() = default;

    // Guards the counts; descendants guard their own shared fields with it too.
    TCriticalSection FLock;
private:
    std::int32_t FOwnerCount = 0;    // guarded by FLock
    std::int32_t FHolderCount = 0;   // guarded by FLock
};

// A storage block with a 32-byte aligned memory area from the pool, whose size is a power of two.
class TSLSmartMemoryBuffer : public TSLSmartBuffer
{
public:
    // An area of RoundUpSize(size) bytes. Raises ERangeError for a size above kSLMaxBlockSize (nothing is
    // made) and std::bad_alloc when the heap refuses the area.
    explicit TSLSmartMemoryBuffer(std::uint64_t size);

    [[nodiscard]] TSLSmartBuffer* CloneStorage(bool preserve) override;

    [[nodiscard]] std::uint8_t* Data() const noexcept { return FData; }
    [[nodiscard]] std::uint32_t AllocatedSize() const noexcept { return FAllocatedSize; }
protected:
    ~TSLSmartMemoryBuffer() override;
private:
    std::uint8_t* FData = nullptr;
    std::uint32_t FAllocatedSize = 0;
};

}   // namespace harvolin
