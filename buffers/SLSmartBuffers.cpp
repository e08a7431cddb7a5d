#include "buffers/SLSmartBuffers.h"

#include "kernels/SLVecKernels.h"
#include "rtl/Exceptions.h"

#include <atomic>
#include <cassert>
#include <cstring>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
// A pooled block is poisoned while it waits on its free list, so that a use after release is caught by the
// address sanitizer as it would be for heap memory.
#define HARVOLIN_POISON(block, size) ASAN_POISON_MEMORY_REGION(block, size)
#define HARVOLIN_UNPOISON(block, size) ASAN_UNPOISON_MEMORY_REGION(block, size)
#else
#define HARVOLIN_POISON(block, size) ((void)(block), (void)(size))
#define HARVOLIN_UNPOISON(block, size) ((void)(block), (void)(size))
#endif

namespace harvolin
{
namespace
{

// Set once the process-wide manager is gone (static destruction). Plain static storage outlives every
// object, so blocks released by objects destroyed later still find their way back to the heap.
std::atomic<bool> GManagerGone{false};

class TProcessManager final : public TSLSmartBufferManager
{
public:
    ~TProcessManager() { GManagerGone.store(true, std::memory_order_release); }
};

std::uint32_t CheckedBlockSize(std::uint64_t size)
{
    if (size > kSLMaxBlockSize)
        throw ERangeError(Format("smart buffer: cannot allocate %u bytes: more than the largest block of %u",
                                 {static_cast<unsigned long long>(size), kSLMaxBlockSize}));
    return static_cast<std::uint32_t>(size);
}

}   // namespace

std::uint32_t RoundUpSize(std::uint32_t size) noexcept
{
    for (std::uint32_t shift = 2; shift <= 30; ++shift)
    {
        const std::uint32_t block = 1u << shift;
        if (block >= size)
            return block;
    }
    return kSLMaxBlockSize;
}

TSLSmartBufferList::~TSLSmartBufferList()
{
    for (void* block : FFree)
    {
        HARVOLIN_UNPOISON(block, FBlockSize);
        AlignedFree(block);
    }
}

void* TSLSmartBufferList::Take(bool& heapAllocated)
{
    heapAllocated = false;
    if (FFree.empty())
    {
        void* block = AlignedAlloc(static_cast<std::int32_t>(FBlockSize));
        heapAllocated = block != nullptr;
        return block;
    }
    void* block = FFree.back();
    FFree.pop_back();
    HARVOLIN_UNPOISON(block, FBlockSize);
    return block;
}

void TSLSmartBufferList::Give(void* block) noexcept
{
    try
    {
        FFree.push_back(block);
        HARVOLIN_POISON(block, FBlockSize);
    }
    catch (...)
    {
        // No room to remember it: the heap gets it back instead of the pool losing it.
        AlignedFree(block);
    }
}

TSLSmartBufferManager::~TSLSmartBufferManager()
{
    const TCriticalSectionGuard guard(FLock);
    FLists.clear();
}

TSLSmartBufferList* TSLSmartBufferManager::FindList(std::uint32_t size) noexcept
{
    for (const auto& list : FLists)
        if (list->BlockSize() == size)
            return list.get();
    return nullptr;
}

void* TSLSmartBufferManager::Get(std::uint32_t size)
{
    if (size == 0)
        return nullptr;
    (void)CheckedBlockSize(size);
    const TCriticalSectionGuard guard(FLock);
    TSLSmartBufferList* list = FindList(size);
    if (list == nullptr)
    {
        FLists.push_back(std::make_unique<TSLSmartBufferList>(size));
        list = FLists.back().get();
    }
    bool heapAllocated = false;
    void* block = list->Take(heapAllocated);
    if (heapAllocated)
        ++FHeapAllocations;
    if (block != nullptr)
        ++FBlocksInUse;
    return block;
}

void TSLSmartBufferManager::Put(void* block, std::uint32_t size) noexcept
{
    if (block == nullptr)
        return;
    const TCriticalSectionGuard guard(FLock);
    TSLSmartBufferList* list = FindList(size);
    // Every size handed out has its list; a block under any other size was never ours.
    assert(list != nullptr);
    if (list == nullptr)
    {
        AlignedFree(block);
        return;
    }
    list->Give(block);
    --FBlocksInUse;
}

std::size_t TSLSmartBufferManager::SizeListCount()
{
    const TCriticalSectionGuard guard(FLock);
    return FLists.size();
}

std::size_t TSLSmartBufferManager::FreeBlockCount(std::uint32_t size)
{
    const TCriticalSectionGuard guard(FLock);
    const TSLSmartBufferList* list = FindList(size);
    return list == nullptr ? 0 : list->FreeCount();
}

std::int64_t TSLSmartBufferManager::BlocksInUse()
{
    const TCriticalSectionGuard guard(FLock);
    return FBlocksInUse;
}

std::uint64_t TSLSmartBufferManager::HeapAllocations()
{
    const TCriticalSectionGuard guard(FLock);
    return FHeapAllocations;
}

TSLSmartBufferManager& SmartBufferManager()
{
    static TProcessManager manager;
    return manager;
}

namespace
{

// Made while the program starts, so that it is destroyed after the objects made later that may still hold
// blocks; a use during another unit's start-up makes it earlier, on demand.
[[maybe_unused]] TSLSmartBufferManager& GManagerAtStart = SmartBufferManager();

}   // namespace

void* SmartBufferGet(std::uint32_t size)
{
    if (GManagerGone.load(std::memory_order_acquire))
        return size == 0 ? nullptr : AlignedAlloc(static_cast<std::int32_t>(CheckedBlockSize(size)));
    return SmartBufferManager().Get(size);
}

void SmartBufferPut(void* block, std::uint32_t size) noexcept
{
    if (GManagerGone.load(std::memory_order_acquire))
    {
        AlignedFree(block);
        return;
    }
    SmartBufferManager().Put(block, size);
}

void* TSLSmartBuffer::operator new(std::size_t size)
{
    void* block = SmartBufferGet(CheckedBlockSize(size));
    if (block == nullptr)
        throw std::bad_alloc();
    std::memset(block, 0, size);
    return block;
}

void TSLSmartBuffer::operator delete(void* block, std::size_t size) noexcept
{
    SmartBufferPut(block, static_cast<std::uint32_t>(size));
}

void TSLSmartBuffer::AddHolder(bool owner)
{
    const TCriticalSectionGuard guard(FLock);
    if (owner)
        ++FOwnerCount;
    ++FHolderCount;
}

void TSLSmartBuffer::ReleaseHolder(bool owner)
{
    bool last = false;
    {
        const TCriticalSectionGuard guard(FLock);
        if (owner && FOwnerCount > 0)
            --FOwnerCount;
        if (FHolderCount > 0)
            last = --FHolderCount == 0;
    }
    // Decided from the count read under the lock: only the releaser that took it to 0 gets here, and no
    // holder is left that could lock the block again.
    if (last)
        delete this;
}

void TSLSmartBuffer::ReleaseOwner()
{
    const TCriticalSectionGuard guard(FLock);
    if (FOwnerCount > 0)
        --FOwnerCount;
}

bool TSLSmartBuffer::IsExclusive()
{
    const TCriticalSectionGuard guard(FLock);
    return FOwnerCount < 2;
}

TSLSmartBuffer* TSLSmartBuffer::CloneStorage(bool)
{
    return new TSLSmartBuffer();
}

std::int32_t TSLSmartBuffer::OwnerCount()
{
    const TCriticalSectionGuard guard(FLock);
    return FOwnerCount;
}

std::int32_t TSLSmartBuffer::HolderCount()
{
    const TCriticalSectionGuard guard(FLock);
    return FHolderCount;
}

TSLSmartMemoryBuffer::TSLSmartMemoryBuffer(std::uint64_t size)
    : FAllocatedSize(RoundUpSize(CheckedBlockSize(size)))
{
    FData = static_cast<std::uint8_t*>(SmartBufferGet(FAllocatedSize));
    if (FData == nullptr)
        throw std::bad_alloc();
}

TSLSmartMemoryBuffer::~TSLSmartMemoryBuffer()
{
    SmartBufferPut(FData, FAllocatedSize);
    FData = nullptr;
}

TSLSmartBuffer* TSLSmartMemoryBuffer::CloneStorage(bool preserve)
{
    auto* clone = new TSLSmartMemoryBuffer(FAllocatedSize);
    if (preserve)
        std::memcpy(clone->FData, FData, FAllocatedSize);
    return clone;
}

}   // namespace harvolin
