#include "pins/OWOperations.h"
#include <atomic>

namespace harvolin
{
namespace
{

// relaxed: the serial only has to be unique; it orders nothing else.
std::atomic<std::uint32_t> GSerialCounter{0};

}   // namespace

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
