#pragma once
#include "pins/OWPinList.h"
#include "pins/OWPins.h"
#include "pins/SLStreamTypes.h"
#include "pins/OWTypeRegistry.h"
#include "rtl/Component.h"
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

namespace harvolin
{

// Stream types of the tests, delivered by the framework's stream handler.
inline constexpr TGUID kTestTypeA = MakeGuid("{6A1E0C3B-2F4D-4E5A-8B7C-9D0E1F2A3B4C}");
inline constexpr TGUID kTestTypeB = MakeGuid("{7B2F1D4C-3A5E-4F6B-9C8D-0E1F2A3B4C5D}");
inline constexpr TGUID kTestTypeC = MakeGuid("{8C3A2E5D-4B6F-4A7C-8D9E-1F2A3B4C5D6E}");
// The value type of the test state pins; its handler is the pins' own.
inline constexpr TGUID kTestValueType = MakeGuid("{9D4B3F6E-5C7A-4B8D-9E0F-2A3B4C5D6E7F}");

inline void RegisterTestTypes()
{
    for (const TGUID& type : {kTestTypeA, kTestTypeB, kTestTypeC})
        RegisterTypeHandler(type, OWStreamHandler);
}

// A root component (a form) that tests own.
class TTestForm final : public TComponent
{
public:
    explicit TTestForm(TComponent* owner) : TComponent(owner, TComponentKind::ckForm) {}
    static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TTestForm", &TComponent::StaticClassInfo(), {});
        return info;
    }
    const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

// What a pin received through its stream interface.
struct TTestDelivery
{
    TGUID TypeGuid;
    std::uint32_t Flags = 0;
    TRefPtr<TOWNotifyOperation> Operation;
};

// The stream interface of a test pin: records every delivery and answers with Handled (or OnReceive).
// Deliveries happen under the pin's group lock, so the record needs no lock of its own as long as the test
// reads it from a thread that takes that lock or after the senders have finished.
template <class TBase>
class TTestStreamPin : public TBase, public IOWSignalStream
{
public:
    TTestStreamPin(TComponent* owner, std::initializer_list<TGUID> types) : TBase(owner)
    {
        for (const TGUID& type : types)
            this->AddType(type);
    }
    ~TTestStreamPin() override { this->BeforeDestruction(); }

    IOWInterface* QueryInterface(const TGUID& iid) override
    {
        if (iid == IOWSignalStream::kIID || this->PinType().Find(iid) != nullptr ||
            std::find(Extra.begin(), Extra.end(), iid) != Extra.end())
            return static_cast<IOWSignalStream*>(this);
        return TBase::QueryInterface(iid);
    }

    bool NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                      std::uint32_t flags) override
    {
        Received.push_back({typeGuid, flags, operation});
        ReceivedCount.fetch_add(1, std::memory_order_relaxed);
        return OnReceive ? OnReceive(operation, flags) : Handled;
    }

    // Types answered without being in the pin's own type list.
    std::vector<TGUID> Extra;
    std::vector<TTestDelivery> Received;
    std::atomic<std::int32_t> ReceivedCount{0};
    bool Handled = false;
    std::function<bool(const TRefPtr<TOWNotifyOperation>&, std::uint32_t)> OnReceive;
};

using TTestSourcePin = TTestStreamPin<TOWSourcePin>;
using TTestSinkPin = TTestStreamPin<TOWSinkPin>;

// A state pin with an integer value, shaped like the framework's typed state pins: its own handler answers a
// connection notice with its current value, and passes every other operation on to the target.
class TTestStatePin final : public TOWStatePin, public IOWSignalStream
{
public:
    TTestStatePin(TComponent* owner, std::int32_t value) : TOWStatePin(owner), FValue(value)
    {
        AddTypeHandler(kTestValueType, TOWPinHandler::Of<&TTestStatePin::Send>(this));
    }
    ~TTestStatePin() override { BeforeDestruction(); }

    IOWInterface* QueryInterface(const TGUID& iid) override
    {
        if (iid == kTestValueType || iid == IOWSignalStream::kIID)
            return static_cast<IOWSignalStream*>(this);
        return TOWStatePin::QueryInterface(iid);
    }

    bool NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                      std::uint32_t flags) override
    {
        (void)typeGuid;
        Flags.push_back(flags);
        if (auto supplied = RefCast<TOWSuppliedIntegerOperation>(operation))
        {
            FValue = supplied->Value();
            return true;
        }
        return false;
    }

    std::int32_t Value() const { return FValue; }
    // Takes a value and hands it to the group. Group deliveries hold only the sender's lock: tests that send
    // from several threads put the group's pins into one lock group, which this section then holds.
    void SetValue(std::int32_t value)
    {
        const TOWWriteLockSection self(*this);
        FValue = value;
        NotifyPeers(MakeRef<TOWSuppliedIntegerOperation>(value), 0, nullptr);
    }

    // Flags of every delivery received.
    std::vector<std::uint32_t> Flags;
    // Runs inside every delivery, after it was recorded.
private:
    bool Send(TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
              const TRefPtr<TOWNotifyOperation>& operation)
    {
        auto* stream = QueryPinInterface<IOWSignalStream>(*target, typeGuid);
        if (stream == nullptr)
            return false;
        if ((flags & kOWConnectionNotice) != 0)
            return stream->NotifyStream(typeGuid, MakeRef<TOWSuppliedIntegerOperation>(FValue), flags);
        return stream->NotifyStream(typeGuid, operation, flags);
    }

    std::int32_t FValue;
};

}   // namespace harvolin
