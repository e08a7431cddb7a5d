#include "pins/OWOperations.h"
#include <atomic>
#include <new>
#include <utility>

namespace harvolin
{
namespace
{

// relaxed: the serial only has to be unique; it orders nothing else.
std::atomic<std::uint32_t> GSerialCounter{0};

// The spare blocks of a thread. Plain data, so that it stays readable while the thread's other objects are
// destroyed at its end; TSpareRelease frees the blocks and closes the store, after which blocks go straight
// back to the heap.
struct TSpareStore
{
    static constexpr std::size_t kSlots = 4;
    void* Blocks[kSlots];
    std::size_t Sizes[kSlots];
    bool Closed;
};
thread_local TSpareStore GSpares{};

struct TSpareRelease
{
    ~TSpareRelease()
    {
        GSpares.Closed = true;
        for (void*& block : GSpares.Blocks)
            ::operator delete(std::exchange(block, nullptr));
    }
};
thread_local TSpareRelease GSpareRelease;

}   // namespace

void* TakeOperationStorage(std::size_t size)
{
    for (std::size_t i = 0; i < TSpareStore::kSlots; ++i)
        if (GSpares.Blocks[i] != nullptr && GSpares.Sizes[i] == size)
            return std::exchange(GSpares.Blocks[i], nullptr);
    (void)&GSpareRelease;   // registers the store's release at the thread's end
    return ::operator new(size);
}

void GiveOperationStorage(void* storage, std::size_t size) noexcept
{
    if (!GSpares.Closed)
    {
        (void)&GSpareRelease;   // a thread that only frees keeps blocks too, and must free them at its end
        for (std::size_t i = 0; i < TSpareStore::kSlots; ++i)
            if (GSpares.Blocks[i] == nullptr)
            {
                GSpares.Blocks[i] = storage;
                GSpares.Sizes[i] = size;
                return;
            }
    }
    ::operator delete(storage);
}

TOWNotifyOperation::TOWNotifyOperation() noexcept
    : FSerialNumber(GSerialCounter.fetch_add(1, std::memory_order_relaxed) + 1)
{
}

bool TOWPumpRequestOperation::TryClaim(TOWClaimant claimant, std::int32_t pumpPriority) noexcept
{
    if (FClaimLevel == kClaimed && FPumpPriority >= pumpPriority)
        return false;
    FClaimant = claimant;
    FPumpPriority = pumpPriority;
    FClaimLevel = kClaimed;
    return true;
}

}   // namespace harvolin
