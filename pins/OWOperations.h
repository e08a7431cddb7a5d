#pragma once
#include "rtl/Guid.h"
#include "rtl/RefCount.h"
#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <typeinfo>

namespace harvolin
{

class TOWNotifyOperation;

// What a recipient receives: it calls GetOperation() and tests the class of the result (Is<T>, RefCast<T>)
// to learn what happens. Any thread may call it; the object is immutable apart from the pump request.
class IOWNotifyOperation
{
public:
    static constexpr TGUID kIID = MakeGuid("{AC2714E1-1E70-4C60-ABBB-EA27737CEE74}");

    virtual ~IOWNotifyOperation() = default;
    virtual void AddRef() const noexcept = 0;
    virtual void Release() const noexcept = 0;

    [[nodiscard]] virtual TOWNotifyOperation* GetOperation() noexcept = 0;
};

// Base of every notification operation; a plain one is the operation of a connection notice.
// Made with MakeRef() by the sender, which holds the first reference; every delivery passes the same object,
// and it goes with its last reference (the sender's or one a recipient kept), also while an exception
// unwinds. Descendants in other units derive from the classes below that are not final.
class TOWNotifyOperation : public TRefCounted, public IOWNotifyOperation
{
public:
    // Draws the serial number: the first operation of the process gets 1.
    TOWNotifyOperation() noexcept;

    void AddRef() const noexcept override { TRefCounted::AddRef(); }
    void Release() const noexcept override { TRefCounted::Release(); }
    [[nodiscard]] TOWNotifyOperation* GetOperation() noexcept override { return this; }

    // Unique among the last 2^32 operations of the process only: the counter wraps (to 0, then 1, ...), so
    // compare serials for equality, not for order across a long run.
    [[nodiscard]] std::uint32_t SerialNumber() const noexcept { return FSerialNumber; }
private:
    const std::uint32_t FSerialNumber;
};

// The answer of a class test depends on the operation's dynamic class alone, and a chain sees few classes:
// each test remembers its answer for the last classes it met, keyed by their type_info, and walks the class
// tree (dynamic_cast) only for a class it has not met. A slot is one word, the type_info's address with the
// answer in its low bit (a type_info is aligned to a pointer), so a reader on any thread sees a whole pair
// or another pair, never a torn one; relaxed, because the answer for a class never changes.
// The address of the operation's dynamic class's type_info. Outside the template on purpose: inside it, GCC
// 12 resolves typeid of the non-dependent operand to its static class.
[[nodiscard]] inline std::uintptr_t OperationClassKey(const TOWNotifyOperation& operation) noexcept
{
    return reinterpret_cast<std::uintptr_t>(&typeid(operation));
}

template <class T>
class TOWClassTest
{
public:
    [[nodiscard]] static bool Of(const TOWNotifyOperation& operation) noexcept
    {
        const std::uintptr_t key = OperationClassKey(operation);
        std::atomic<std::uintptr_t>& slot = FSlots[(key >> 4) % kSlots];
        const std::uintptr_t seen = slot.load(std::memory_order_relaxed);
        if ((seen & ~std::uintptr_t{1}) == key)
            return (seen & 1) != 0;
        // Through a pointer variable: the compiler would flag the null check of dynamic_cast on a reference's
        // address.
        const TOWNotifyOperation* object = &operation;
        const bool is = dynamic_cast<const T*>(object) != nullptr;
        slot.store(key | (is ? 1u : 0u), std::memory_order_relaxed);
        return is;
    }
private:
    static_assert(alignof(std::type_info) >= 2, "the answer lives in the type_info address's low bit");
    static constexpr std::size_t kSlots = 8;
    static inline std::atomic<std::uintptr_t> FSlots[kSlots]{};
};

// Class test with inheritance: true when the operation is a T or one of its descendants.
template <class T>
[[nodiscard]] bool Is(const TOWNotifyOperation& operation) noexcept
{
    return TOWClassTest<T>::Of(operation);
}

// RefCast for operations: the remembered class test, then a plain static cast (an operation class derives
// from TOWNotifyOperation once and not virtually, which the static cast checks as it compiles). Chosen over
// the general RefCast for every operation class.
template <class T>
requires std::derived_from<T, TOWNotifyOperation>
[[nodiscard]] TRefPtr<T> RefCast(const TRefPtr<TOWNotifyOperation>& p) noexcept
{
    return p && Is<T>(*p) ? TRefPtr<T>(static_cast<T*>(p.Get())) : TRefPtr<T>();
}

// Storage for operations that a stream makes per block (the supplied blocks, the room queries): a thread
// keeps the storage of the last few such operations it freed and gives it to its next one of the same size,
// so that a steady stream allocates none. Any thread; a block freed on another thread than the one that made
// it is simply kept by that thread. Sizes in bytes, as operator new and the sized operator delete pass them.
[[nodiscard]] void* TakeOperationStorage(std::size_t size);
void GiveOperationStorage(void* storage, std::size_t size) noexcept;

// The storage operators of a per-block operation class: derive the final class from it as well.
class TOWRecycledStorage
{
public:
    static void* operator new(std::size_t size) { return TakeOperationStorage(size); }
    static void operator delete(void* storage, std::size_t size) noexcept
    {
        GiveOperationStorage(storage, size);
    }
};

// A clock tick; no payload.
class TOWClockOperation : public TOWNotifyOperation
{
};

// Data has been supplied; every supply is also a clock tick.
class TOWSuppliedOperation : public TOWClockOperation
{
};

// Asks every state peer to hand out its current value.
class TOWSuppliedMulticastOperation final : public TOWSuppliedOperation
{
};

class TOWSuppliedSingleOperation final : public TOWSuppliedOperation
{
public:
    explicit TOWSuppliedSingleOperation(float value) noexcept : FValue(value) {}
    [[nodiscard]] float Value() const noexcept { return FValue; }
private:
    const float FValue;
};

class TOWSuppliedBoolOperation final : public TOWSuppliedOperation
{
public:
    explicit TOWSuppliedBoolOperation(bool value) noexcept : FValue(value) {}
    [[nodiscard]] bool Value() const noexcept { return FValue; }
private:
    const bool FValue;
};

class TOWSuppliedIntegerOperation final : public TOWSuppliedOperation
{
public:
    explicit TOWSuppliedIntegerOperation(std::int32_t value) noexcept : FValue(value) {}
    [[nodiscard]] std::int32_t Value() const noexcept { return FValue; }
private:
    const std::int32_t FValue;
};

// Claimants are components, named here only by address: the framework compares them for identity ("is the
// claimant still me?") and hands them back, and never dereferences one. Not owned; the component outlives
// the operations that name it.
using TOWClaimant = const void*;

// Sent upstream by the component that drives the chain, to ask its source for one block of data.
class TOWMasterPumpOperation final : public TOWNotifyOperation
{
public:
    explicit TOWMasterPumpOperation(TOWClaimant pump) noexcept : FClaimant(pump) {}
    [[nodiscard]] TOWClaimant Claimant() const noexcept { return FClaimant; }
private:
    const TOWClaimant FClaimant;
};

// Sent downstream by a source that can clock itself; a recipient able to drive the chain claims it. The
// recipients run one after another on the sender's thread during its Notify, and the sender reads the result
// once Notify has returned, so the fields need no lock.
class TOWPumpRequestOperation final : public TOWNotifyOperation
{
public:
    static constexpr std::uint8_t kRequested = 2;   // claim level of a request nobody has claimed yet
    static constexpr std::uint8_t kClaimed = 3;

    TOWPumpRequestOperation(TOWClaimant claimant, float blockRate, std::int32_t pumpPriority,
                            std::uint8_t claimLevel) noexcept
        : FClaimant(claimant), FClaimLevel(claimLevel), FPumpPriority(pumpPriority), FBlockRate(blockRate)
    {
    }

    [[nodiscard]] TOWClaimant Claimant() const noexcept { return FClaimant; }
    [[nodiscard]] std::uint8_t ClaimLevel() const noexcept { return FClaimLevel; }
    [[nodiscard]] std::int32_t PumpPriority() const noexcept { return FPumpPriority; }
    // Blocks per second.
    [[nodiscard]] float BlockRate() const noexcept { return FBlockRate; }

    // The recipient claims the pump unless someone already holds the claim with a priority not lower than
    // pumpPriority; an equal priority leaves the earlier claim standing. True when the claim was taken.
    bool TryClaim(TOWClaimant claimant, std::int32_t pumpPriority) noexcept;
private:
    TOWClaimant FClaimant;
    std::uint8_t FClaimLevel;
    std::int32_t FPumpPriority;
    const float FBlockRate;
};

// The stream starts.
class TOWStartOperation : public TOWNotifyOperation
{
};

class TOWStartRateOperation : public TOWStartOperation
{
public:
    explicit TOWStartRateOperation(float rate) noexcept : FRate(rate) {}
    [[nodiscard]] float Rate() const noexcept { return FRate; }
private:
    const float FRate;
};

// The stream stops.
class TOWStopOperation final : public TOWNotifyOperation
{
};

}   // namespace harvolin
