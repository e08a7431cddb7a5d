#include "pins/OWStdTypes.h"
#include "rtl/Rounding.h"
#include <cmath>
#include <utility>

namespace harvolin
{

namespace
{

// A peer's stream interface for valueType, or null; a null target has none.
IOWSignalStream* StreamOf(TOWPin* target, const TGUID& valueType)
{
    return target != nullptr ? QueryPinInterface<IOWSignalStream>(*target, valueType) : nullptr;
}

bool SameValue(float a, float b) noexcept
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

}   // namespace

bool OWClockInterfaceHandler(TOWPin* sender, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                             const TRefPtr<TOWNotifyOperation>& operation)
{
    (void)sender;
    IOWSignalStream* clock = StreamOf(target, kOWClockType);
    return clock != nullptr && clock->NotifyStream(typeGuid, operation, flags);
}

void RegisterStandardTypes(TOWTypeRegistry& registry)
{
    registry.RegisterTypeName(kOWIntegerSingleType, "Integer single");
    registry.RegisterTypeName(kOWFloatSingleType, "Float single");
    registry.RegisterTypeName(kOWRealSingleType, "Real single");
    registry.RegisterTypeName(kOWRealComplexSingleType, "Real Complex single");
    registry.RegisterTypeName(kOWBooleanSingleType, "Boolean single");
    registry.RegisterTypeName(kOWCharacterSingleType, "Character single");
    registry.RegisterTypeName(kOWStringSingleType, "Sting");
    registry.RegisterTypeHandler(kOWClockType, OWClockInterfaceHandler);
}

// --- TOWClockSinkPin ---------------------------------------------------------------------------------------

TOWClockSinkPin::TOWClockSinkPin(TComponent* owner, std::int32_t tag, TOWClockHandler onClock)
    : TOWSinkPin(owner), FOnClock(std::move(onClock))
{
    SetTag(tag);
}

TOWClockSinkPin::~TOWClockSinkPin()
{
    // A tick may still arrive until the pin has left its source.
    BeforeDestruction();
}

IOWInterface* TOWClockSinkPin::QueryInterface(const TGUID& iid)
{
    if (iid == IOWClock::kIID)
        return static_cast<IOWClock*>(this);
    return TOWSinkPin::QueryInterface(iid);
}

void TOWClockSinkPin::Clock()
{
    if (FOnClock)
        FOnClock(this);
}

// --- TOWBoolSinkPin ----------------------------------------------------------------------------------------

TOWBoolSinkPin::TOWBoolSinkPin(TComponent* owner, std::int32_t tag, TOWBoolValueHandler onValue)
    : TOWSinkPin(owner), FOnValue(std::move(onValue))
{
    SetTag(tag);
}

TOWBoolSinkPin::~TOWBoolSinkPin()
{
    BeforeDestruction();
}

IOWInterface* TOWBoolSinkPin::QueryInterface(const TGUID& iid)
{
    if (iid == kOWBooleanSingleType)
        return static_cast<IOWSignalStream*>(this);
    return TOWSinkPin::QueryInterface(iid);
}

bool TOWBoolSinkPin::NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                  std::uint32_t flags)
{
    return StreamOperation(typeGuid, operation, flags);
}

bool TOWBoolSinkPin::StreamOperation(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                     std::uint32_t flags)
{
    (void)typeGuid;
    (void)flags;
    if (auto supplied = RefCast<TOWSuppliedBoolOperation>(operation))
    {
        const bool value = supplied->Value();
        FValue.store(value, std::memory_order_release);
        if (FOnValue)
            FOnValue(this, value);
    }
    return false;
}

// --- TOWBoolStatePin ---------------------------------------------------------------------------------------

TOWBoolStatePin::TOWBoolStatePin(TComponent* owner, std::int32_t tag, TOWBoolValueHandler onValue)
    : TOWStatePin(owner), FOnValue(std::move(onValue))
{
    SetTag(tag);
    AddTypeHandler(kOWBooleanSingleType, TOWPinHandler::Of<&TOWBoolStatePin::DeliverTo>(this));
}

TOWBoolStatePin::~TOWBoolStatePin()
{
    BeforeDestruction();
}

IOWInterface* TOWBoolStatePin::QueryInterface(const TGUID& iid)
{
    if (iid == kOWBooleanSingleType)
        return static_cast<IOWSignalStream*>(this);
    return TOWStatePin::QueryInterface(iid);
}

bool TOWBoolStatePin::NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                   std::uint32_t flags)
{
    (void)typeGuid;
    (void)flags;
    return Receive(operation);
}

bool TOWBoolStatePin::DeliverTo(TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                                const TRefPtr<TOWNotifyOperation>& operation)
{
    if (auto supplied = RefCast<TOWSuppliedBoolOperation>(operation))
        FValue.store(supplied->Value(), std::memory_order_release);
    IOWSignalStream* stream = StreamOf(target, kOWBooleanSingleType);
    if (stream == nullptr)
        return false;
    if (FDeliveryOverride)
        return FDeliveryOverride(this, target, typeGuid, flags, operation);
    if ((flags & kOWConnectionNotice) != 0)
        stream->NotifyStream(kOWBooleanSingleType, MakeRef<TOWSuppliedBoolOperation>(Value()), flags);
    else if (operation != nullptr)
        stream->NotifyStream(kOWBooleanSingleType, operation, flags);
    return false;
}

bool TOWBoolStatePin::Receive(const TRefPtr<TOWNotifyOperation>& operation)
{
    if (auto supplied = RefCast<TOWSuppliedBoolOperation>(operation))
    {
        const bool value = supplied->Value();
        FValue.store(value, std::memory_order_release);
        if (FOnValue)
            FOnValue(this, value);
    }
    return false;
}

// --- TOWFloatIntStatePin -----------------------------------------------------------------------------------

TOWFloatIntStatePin::TOWFloatIntStatePin(TComponent* owner, std::int32_t tag, TOWFloatValueHandler onValue)
    : TOWStatePin(owner), FOnValue(std::move(onValue))
{
    SetTag(tag);
    AddTypeHandler(kOWFloatSingleType, TOWPinHandler::Of<&TOWFloatIntStatePin::DeliverTo>(this));
    AddTypeHandler(kOWIntegerSingleType, TOWPinHandler::Of<&TOWFloatIntStatePin::DeliverTo>(this));
}

TOWFloatIntStatePin::~TOWFloatIntStatePin()
{
    BeforeDestruction();
}

IOWInterface* TOWFloatIntStatePin::QueryInterface(const TGUID& iid)
{
    if (iid == kOWFloatSingleType || iid == kOWIntegerSingleType)
        return static_cast<IOWSignalStream*>(this);
    return TOWStatePin::QueryInterface(iid);
}

bool TOWFloatIntStatePin::NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                       std::uint32_t flags)
{
    (void)typeGuid;
    (void)flags;
    return Receive(operation);
}

void TOWFloatIntStatePin::SetValue(float value)
{
    float held = FValue.load(std::memory_order_acquire);
    do
    {
        if (SameValue(held, value))
            return;
    } while (
        !FValue.compare_exchange_weak(held, value, std::memory_order_acq_rel, std::memory_order_acquire));
    Notify(MakeRef<TOWSuppliedMulticastOperation>());
}

bool TOWFloatIntStatePin::DeliverTo(TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                                    const TRefPtr<TOWNotifyOperation>& operation)
{
    // typeGuid is the last entry of the pin type that the peer shares, so "Integer single" for a peer taking
    // both; the peer's interfaces decide instead, so that such a peer gets the float.
    if (IOWSignalStream* stream = StreamOf(target, kOWFloatSingleType))
        return DeliverAs(*stream, kOWFloatSingleType, FFloatOverride, target, typeGuid, flags, operation);
    if (IOWSignalStream* stream = StreamOf(target, kOWIntegerSingleType))
        return DeliverAs(*stream, kOWIntegerSingleType, FIntegerOverride, target, typeGuid, flags, operation);
    return false;
}

bool TOWFloatIntStatePin::DeliverAs(IOWSignalStream& stream, const TGUID& valueType,
                                    const TOWDeliveryHandler& replacement, TOWPin* target,
                                    const TGUID& typeGuid, std::uint32_t flags,
                                    const TRefPtr<TOWNotifyOperation>& operation)
{
    if (replacement)
        return replacement(this, target, typeGuid, flags, operation);
    const bool notice = (flags & kOWConnectionNotice) != 0;
    if (notice || RefCast<TOWSuppliedMulticastOperation>(operation) != nullptr)
    {
        // Value is read once: another thread may change it meanwhile, and one delivery carries one value.
        const float value = Value();
        TRefPtr<TOWNotifyOperation> supplied;
        if (valueType == kOWFloatSingleType)
            supplied = MakeRef<TOWSuppliedSingleOperation>(value);
        else
            supplied = MakeRef<TOWSuppliedIntegerOperation>(RoundHalfEvenTo<std::int32_t>(value));
        const bool result = stream.NotifyStream(valueType, supplied, flags);
        return notice ? false : result;
    }
    if (operation == nullptr)
        return false;
    return stream.NotifyStream(valueType, operation, flags);
}

bool TOWFloatIntStatePin::Receive(const TRefPtr<TOWNotifyOperation>& operation)
{
    float value = 0.0f;
    if (auto single = RefCast<TOWSuppliedSingleOperation>(operation))
        value = single->Value();
    else if (auto integer = RefCast<TOWSuppliedIntegerOperation>(operation))
        value = static_cast<float>(integer->Value());
    else
        return false;
    FValue.store(value, std::memory_order_release);
    if (FOnValue)
        FOnValue(this, value);
    return false;
}

}   // namespace harvolin
