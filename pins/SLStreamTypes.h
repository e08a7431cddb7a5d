#pragma once
#include "buffers/SLSimpleDataBuffer.h"
#include "pins/OWOperations.h"
#include "pins/OWPins.h"
#include "rtl/Guid.h"
#include "rtl/RefCount.h"
#include <cstdint>
#include <functional>

namespace harvolin
{

// The life of a block, from a generator's SendData to a sink's handler (all on the producing thread, which
// holds GlobalLock for reading and its component's group lock already, as the generators' clock tick does):
//  1. TSLOWSourcePin::SendData wraps the buffer in a TOWSuppliedBufferOperation; the buffer itself is shared,
//     never copied. A failure on the way is reported to the diagnostics sink and the block is dropped.
//  2. TSLOWSourcePin::Notify -> TOWSourcePin::NotifySink (OWPins.cpp): takes the source's own section
//     (GlobalLock for reading, then the source's group lock, re-entrant) and walks a copy of the delivery
//     records in their adaptive order; each record names the type negotiated at connection and its handler.
//  3. For each sink still connected: the sink's section (GlobalLock for reading, then the sink's group lock;
//     the same lock object when the chain is one group), then the record's handler. For the stream types
//     that is the registry's default handler (OWTypeRegistry.cpp, a shared lock only to look it up), which
//     is OWStreamHandler below.
//  4. OWStreamHandler asks the sink for IOWSignalStream and calls NotifyStream -> StreamOperation, which the
//     typed sink pins hand to their component's handler (TSLOperationHandler): the converter queues the
//     buffer under its queue's own lock.
//  5. Back in NotifySink: a failing handler is reported and the next sink still gets the block; the
//     records are re-weighted, and TSLOWSourcePin::Notify remembers starts and stops for late sinks.

// The stream data types; every one is delivered by the stream handler.
inline constexpr TGUID kSLRealStreamType = MakeGuid("{58041272-EF20-4696-87E6-9EE46ABFBD89}");      // doubles
inline constexpr TGUID kSLIntegerStreamType = MakeGuid("{473B965F-AB43-4493-B9E3-BEE9CF0803D4}");   // int32
inline constexpr TGUID kSLComplexStreamType = MakeGuid("{BD797143-D7C6-4033-B686-9ABA658346CF}");
inline constexpr TGUID kSLBlockStreamType = MakeGuid("{BD807B57-05AE-44E0-A99F-3D9BAD83395E}");   // bytes
inline constexpr TGUID kSLByteStreamType = MakeGuid("{DB6DD866-611D-4DC4-B46F-459CF8F02ECD}");    // bytes
// In the pin type of every signal pin; nothing answers it and it has no handler, so it never decides a link.
inline constexpr TGUID kSLSignalPinMark = MakeGuid("{949B7FD0-421F-4F1B-B8D2-87969D3E66E0}");

// The default handler of the stream types: hands the operation to the target's IOWSignalStream. Refuses
// connection notices and targets without the interface (false).
bool OWStreamHandler(TOWPin* sender, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                     const TRefPtr<TOWNotifyOperation>& operation);
// Registers the stream handler for the stream types; repeating it changes nothing. The signal pins call it
// as they are made, so that a pin never exists before its types can be delivered.
void RegisterStreamTypes();

// A block of data: every recipient shares the one buffer (a recipient that keeps the data keeps a handle on
// the same storage).
class TOWSuppliedBufferOperation final : public TOWSuppliedOperation, public TOWRecycledStorage
{
public:
    explicit TOWSuppliedBufferOperation(TRefPtr<TSLGenericBuffer> buffer) noexcept
        : FBuffer(std::move(buffer))
    {
    }
    [[nodiscard]] const TRefPtr<TSLGenericBuffer>& Buffer() const noexcept { return FBuffer; }
private:
    const TRefPtr<TSLGenericBuffer> FBuffer;
};

// The stream starts with blocks of BufferSize samples at SampleRate; Rate is blocks per second (the sample
// rate itself when BufferSize is not positive).
class TOWStartSampleRateOperation : public TOWStartRateOperation
{
public:
    TOWStartSampleRateOperation(std::int32_t bufferSize, double sampleRate) noexcept
        : TOWStartRateOperation(static_cast<float>(bufferSize > 0 ? sampleRate / bufferSize : sampleRate)),
          FBufferSize(bufferSize), FSampleRate(sampleRate)
    {
    }
    [[nodiscard]] std::int32_t BufferSize() const noexcept { return FBufferSize; }
    [[nodiscard]] double SampleRate() const noexcept { return FSampleRate; }
private:
    const std::int32_t FBufferSize;
    const double FSampleRate;
};

// Tells a master pump to begin requesting data.
class TOWStartPumpOperation final : public TOWNotifyOperation
{
};

// Playback pauses / resumes.
class TOWSLPauseOperation final : public TOWNotifyOperation
{
};

class TOWSLResumeOperation final : public TOWNotifyOperation
{
};

// Asked downstream by a producer before it makes a block on its own clock: a consumer whose queue is full
// refuses, and the producer skips the tick instead of making a block that would wait (or be dropped).
// Skipping keeps the producer at its consumer's pace without holding the chain's lock while it waits.
// Recipients run one after another on the asking thread during its Notify, which reads the answer once
// Notify has returned, so the flag needs no lock. A chain without a consumer that answers never refuses.
class TOWRoomQueryOperation final : public TOWNotifyOperation, public TOWRecycledStorage
{
public:
    void Refuse() noexcept { FRefused = true; }
    [[nodiscard]] bool Refused() const noexcept { return FRefused; }
private:
    bool FRefused = false;
};

// The owner's handler of stream operations that reach a pin: called with the pin, the type, the flags and
// the operation; its result is the delivery's. Runs on the delivering thread with GlobalLock held for
// reading and the pin's group lock held. Assign it before the pin is linked.
using TSLOperationHandler = std::function<bool(TOWPin* pin, const TGUID& typeGuid, std::uint32_t flags,
                                               const TRefPtr<TOWNotifyOperation>& operation)>;

// An output of sample blocks. It keeps the last start operation it sent and replays it to a sink that
// connects while the stream runs; a sink that leaves (also when the source disconnects or goes) is sent a
// stop first; clock sinks linked to it tick once per clock operation (every supplied block is one).
class TSLOWSourcePin : public TOWSourcePin, public IOWSignalStream
{
public:
    explicit TSLOWSourcePin(TComponent* owner);
    ~TSLOWSourcePin() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    [[nodiscard]] IOWInterface* QueryInterface(const TGUID& iid) override;
    bool NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                      std::uint32_t flags) override;

    // Delivers, then keeps a start operation as LastStart and drops it on a stop.
    bool Notify(const TRefPtr<TOWNotifyOperation>& operation) override;
    void AddSink(TOWSinkPin* sink) override;
    void RemoveSink(TOWSinkPin* sink, bool remember) override;
    void Disconnect() override;

    // Sends buffer as a supplied operation; never raises (false when the delivery failed).
    bool SendData(TRefPtr<TSLGenericBuffer> buffer) noexcept;
    bool SendStop();
    // Delivers a start that passes through from upstream without taking the place of LastStart: an owner
    // that announces its own stream (the converter's start-wave) keeps that one for late sinks, which must
    // learn the stream they will be fed, not the start of one of its inputs.
    bool ForwardStart(const TRefPtr<TOWStartOperation>& operation);
    // The start operation the stream runs with, or null.
    [[nodiscard]] TRefPtr<TOWNotifyOperation> LastStart();
protected:
    // The own handler of the clock type: ticks a target with the clock interface for each clock operation.
    virtual bool ClockHandler(TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                              const TRefPtr<TOWNotifyOperation>& operation);
    // Operations that sinks send upstream; none is handled here.
    virtual bool StreamOperation(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                 std::uint32_t flags);
    // Rebuilds the pin type: clock, the signal mark, then what a subclass adds.
    void ResetTypes();
private:
    TRefPtr<TOWNotifyOperation> FLastStart;   // guarded by the pin's group lock
};

// An input of sample blocks.
class TSLOWSinkPin : public TOWSinkPin, public IOWSignalStream
{
public:
    explicit TSLOWSinkPin(TComponent* owner);
    ~TSLOWSinkPin() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    [[nodiscard]] IOWInterface* QueryInterface(const TGUID& iid) override;
    bool NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                      std::uint32_t flags) override;

    // Asks the source for one block on behalf of pump; the result is the source's handler's.
    bool RequestData(TOWClaimant pump);
protected:
    // Operations from the source; none is handled here.
    virtual bool StreamOperation(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                 std::uint32_t flags);
};

// The real-valued output: operations from its sinks go to OnOperation.
class TSLOWRealSourcePin : public TSLOWSourcePin
{
public:
    TSLOWRealSourcePin(TComponent* owner, TSLOperationHandler onOperation);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    [[nodiscard]] IOWInterface* QueryInterface(const TGUID& iid) override;
    void SetOnOperation(TSLOperationHandler handler) { FOnOperation = std::move(handler); }
protected:
    bool StreamOperation(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                         std::uint32_t flags) override;
private:
    TSLOperationHandler FOnOperation;
};

// The generator's output: a real output that also answers "Float single", so that it may join a number
// state pin's group. Float peers are offered no conversion of the blocks.
class TSLOWComboRealSourcePin final : public TSLOWRealSourcePin
{
public:
    TSLOWComboRealSourcePin(TComponent* owner, TSLOperationHandler onOperation);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    [[nodiscard]] IOWInterface* QueryInterface(const TGUID& iid) override;
};

// The real-valued input: operations from the source go to OnOperation.
class TSLOWRealSinkPin : public TSLOWSinkPin
{
public:
    TSLOWRealSinkPin(TComponent* owner, TSLOperationHandler onOperation);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    [[nodiscard]] IOWInterface* QueryInterface(const TGUID& iid) override;
    void SetOnOperation(TSLOperationHandler handler) { FOnOperation = std::move(handler); }
protected:
    bool StreamOperation(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                         std::uint32_t flags) override;
private:
    TSLOperationHandler FOnOperation;
};

}   // namespace harvolin
