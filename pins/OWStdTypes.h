#pragma once
#include "pins/OWOperations.h"
#include "pins/OWPins.h"
#include "pins/OWTypeRegistry.h"
#include "rtl/Guid.h"
#include "rtl/RefCount.h"
#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>

namespace harvolin
{

class TComponent;

// The interface of a clock input: one tick, no payload. Answered by TOWClockSinkPin for kIID. Sources
// carrying the clock (signal source pins) list kIID in their pin type with their own handler, which calls
// Clock() for every delivered TOWClockOperation. Not to be confused with kOWClockType, whose registry
// handler queries a different identifier that no pin of the program answers.
class IOWClock : public IOWInterface
{
public:
    static constexpr TGUID kIID = MakeGuid("{48CDAF9F-00C7-4B45-999D-4EE25353A952}");

    virtual void Clock() = 0;
};

// The owners' handlers of the typed pins below: the pin that calls is passed as sender. They are plain
// members without a lock of their own, so assign them before the pin is linked (the constructor takes the
// main one); replacing one while another thread can deliver to the pin is a data race.
using TOWClockHandler = std::function<void(TOWPin* sender)>;
using TOWBoolValueHandler = std::function<void(TOWPin* sender, bool value)>;
using TOWFloatValueHandler = std::function<void(TOWPin* sender, float value)>;
// Replaces a state pin's delivery to one peer: called with the sending pin and the arguments of DeliverTo;
// its result is the delivery's.
using TOWDeliveryHandler =
    std::function<bool(TOWPin* sender, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                       const TRefPtr<TOWNotifyOperation>& operation)>;

// The default handler of the clock type: hands the operation to the target's interface of the clock type's
// own identifier (an IOWSignalStream shape); false when the target has none.
bool OWClockInterfaceHandler(TOWPin* sender, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                             const TRefPtr<TOWNotifyOperation>& operation);

// A clock input. Its pin type is empty, so it accepts any source; it ticks through IOWClock, which the
// source's own clock handler calls. OnClock runs on the delivering thread with GlobalLock held for reading,
// the source's group lock and this pin's group lock held (a source locks each sink while delivering).
class TOWClockSinkPin final : public TOWSinkPin, public IOWClock
{
public:
    TOWClockSinkPin(TComponent* owner, std::int32_t tag, TOWClockHandler onClock);
    ~TOWClockSinkPin() override;

    [[nodiscard]] IOWInterface* QueryInterface(const TGUID& iid) override;
    // Calls OnClock with this pin as sender, when assigned.
    void Clock() override;

    void SetOnClock(TOWClockHandler handler) { FOnClock = std::move(handler); }
private:
    TOWClockHandler FOnClock;
};

// A Boolean input: answers "Boolean single" (kOWBooleanSingleType) with a stream interface that leads to
// StreamOperation. Its pin type is empty, so it accepts any source, and it may join a Boolean state pin's
// group as well. Only supplied Boolean values count; everything else (connection notices, other values,
// start and stop) leaves Value as it was.
//
// Threads: fed by a source, StreamOperation runs with GlobalLock read, the source's and this pin's group
// locks held; fed as a state group member, only the sending peer is locked, so two senders can reach this
// pin at once: Value is atomic for that, and OnValue must be safe to run concurrently with itself.
class TOWBoolSinkPin : public TOWSinkPin, public IOWSignalStream
{
public:
    TOWBoolSinkPin(TComponent* owner, std::int32_t tag, TOWBoolValueHandler onValue);
    ~TOWBoolSinkPin() override;

    [[nodiscard]] IOWInterface* QueryInterface(const TGUID& iid) override;
    bool NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                      std::uint32_t flags) override;

    // The last value received; false until the first one.
    [[nodiscard]] bool Value() const noexcept { return FValue.load(std::memory_order_acquire); }
    void SetOnValue(TOWBoolValueHandler handler) { FOnValue = std::move(handler); }
protected:
    // Stores a supplied Boolean and calls OnValue with (this pin, the value); ignores the rest. Always
    // false: the value is taken, but the delivery order of the source has no use for it.
    virtual bool StreamOperation(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                 std::uint32_t flags);
private:
    TOWBoolValueHandler FOnValue;
    std::atomic<bool> FValue{false};
};

// A Boolean state pin: its peers share one Boolean. Its pin type is "Boolean single" with DeliverTo as the
// handler; it answers "Boolean single" with a stream interface that leads to Receive.
//
// Threads: a state group delivery write-locks only the sending pin, so DeliverTo runs under the lock of
// this pin's group while Receive (and OnValue) run under the sender's, possibly on two threads at once.
// Value is atomic for that; OnValue must tolerate concurrent calls when several peers send.
class TOWBoolStatePin : public TOWStatePin, public IOWSignalStream
{
public:
    TOWBoolStatePin(TComponent* owner, std::int32_t tag, TOWBoolValueHandler onValue);
    ~TOWBoolStatePin() override;

    [[nodiscard]] IOWInterface* QueryInterface(const TGUID& iid) override;
    bool NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                      std::uint32_t flags) override;

    // The shared value: the last one received or sent through this pin; false at first.
    [[nodiscard]] bool Value() const noexcept { return FValue.load(std::memory_order_acquire); }
    void SetOnValue(TOWBoolValueHandler handler) { FOnValue = std::move(handler); }
    // When assigned, replaces steps after the interface check of DeliverTo for every peer.
    void SetDeliveryOverride(TOWDeliveryHandler handler) { FDeliveryOverride = std::move(handler); }
protected:
    // The pin's own handler for "Boolean single": sends operation from this pin to one peer. A supplied
    // Boolean first becomes this pin's Value, so the sender keeps in step with what it sends. A connection
    // notice is answered with the current Value; anything else passes on as it is. False for a target
    // without "Boolean single", otherwise the override's result when there is one, else false.
    virtual bool DeliverTo(TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                           const TRefPtr<TOWNotifyOperation>& operation);
    // What a peer delivers: a supplied Boolean becomes Value, then OnValue gets (this pin, that value).
    // Always false.
    virtual bool Receive(const TRefPtr<TOWNotifyOperation>& operation);
private:
    TOWDeliveryHandler FDeliveryOverride;
    TOWBoolValueHandler FOnValue;
    std::atomic<bool> FValue{false};
};

// A number state pin: its peers share one float. Its pin type is "Float single" then "Integer single", both
// with DeliverTo as the handler; it answers both with a stream interface that leads to Receive. A peer that
// takes floats gets floats even when it takes integers too; an integer-only peer gets the nearest integer,
// halves to even (2.5 -> 2, 3.5 -> 4) whatever the thread's rounding mode, saturating at the int32 ends, NaN
// as 0 (RoundHalfEvenTo).
//
// Threads: as for TOWBoolStatePin. SetValue may be called from any thread that may notify; the compare and
// the store are one atomic step, so of two threads setting the same new value only one notifies.
class TOWFloatIntStatePin : public TOWStatePin, public IOWSignalStream
{
public:
    TOWFloatIntStatePin(TComponent* owner, std::int32_t tag, TOWFloatValueHandler onValue);
    ~TOWFloatIntStatePin() override;

    [[nodiscard]] IOWInterface* QueryInterface(const TGUID& iid) override;
    bool NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                      std::uint32_t flags) override;

    // The shared value: the last one set or received; 0 at first.
    [[nodiscard]] float Value() const noexcept { return FValue.load(std::memory_order_acquire); }
    // Takes value and, when it differs from Value, asks the group to hand it out (a supplied multicast
    // through Notify). The same value, NaN after NaN included, sends nothing: an owner that pushes every
    // value it receives back into the pin does not echo it. Takes GlobalLock for reading and this pin's
    // group lock while the peers receive.
    void SetValue(float value);
    void SetOnValue(TOWFloatValueHandler handler) { FOnValue = std::move(handler); }
    // When assigned, replace the delivery to peers that take floats / integers-only.
    void SetFloatOverride(TOWDeliveryHandler handler) { FFloatOverride = std::move(handler); }
    void SetIntegerOverride(TOWDeliveryHandler handler) { FIntegerOverride = std::move(handler); }
protected:
    // The pin's own handler for both types: sends operation from this pin to one peer, as a float when the
    // peer takes floats, else as an integer. A connection notice and a supplied multicast become a supplied
    // value of Value; anything else passes on as it is. The result is the peer's answer, false for a
    // connection notice and for a peer taking neither type; with an override, the override's.
    virtual bool DeliverTo(TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                           const TRefPtr<TOWNotifyOperation>& operation);
    // What a peer delivers: a supplied float or integer becomes Value, then OnValue gets (this pin, that
    // value). Always false.
    virtual bool Receive(const TRefPtr<TOWNotifyOperation>& operation);
private:
    // One of the two delivery paths of DeliverTo; stream is the peer's interface for valueType.
    bool DeliverAs(IOWSignalStream& stream, const TGUID& valueType, const TOWDeliveryHandler& replacement,
                   TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                   const TRefPtr<TOWNotifyOperation>& operation);

    TOWDeliveryHandler FFloatOverride;
    TOWDeliveryHandler FIntegerOverride;
    TOWFloatValueHandler FOnValue;
    std::atomic<float> FValue{0.0f};
};

}   // namespace harvolin
