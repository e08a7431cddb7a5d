#pragma once
#include "buffers/SLSimpleDataBuffer.h"
#include "pins/OWOperations.h"
#include "pins/OWPins.h"
#include "pins/SLStreamTypes.h"
#include "rtl/Threads.h"
#include <cstdint>
#include <deque>
#include <memory>

namespace harvolin
{

// Received blocks of one input, by reference, from which blocks of any size are taken out whole. Push (the
// delivering thread) and Pop (the thread producing output) may run at once: the queue has its own lock, a
// leaf that is never held while anything else is taken.
class TSLBufferQueue
{
public:
    TSLBufferQueue() = default;
    TSLBufferQueue(const TSLBufferQueue&) = delete;
    TSLBufferQueue& operator=(const TSLBufferQueue&) = delete;

    // Keeps the buffer (no samples are copied).
    void Push(TRefPtr<TSLRealBuffer> buffer);
    // Fills target (its size is the number of samples wanted) with the oldest samples queued and takes them
    // out; false, changing nothing, while fewer are queued.
    bool Pop(TSLRealBuffer& target);
    void Clear();
    // The next count samples when the oldest buffer holds them all in one run, else null: a reader that
    // takes them there, then Skip(count), saves the copy of a Pop. The pointer is valid until Skip, Pop or
    // Clear; only the thread that takes samples out may use it.
    [[nodiscard]] const double* Peek(std::uint32_t count);
    // Takes out count samples that Peek(count) returned.
    void Skip(std::uint32_t count);
    // Samples queued and not taken yet; samples taken from the oldest buffer; buffers held.
    [[nodiscard]] std::uint32_t Count();
    [[nodiscard]] std::uint32_t Offset();
    [[nodiscard]] std::size_t BufferCount();
private:
    TCriticalSection FLock;
    std::deque<TRefPtr<TSLRealBuffer>> FItems;   // guarded by FLock, oldest first
    std::uint32_t FCount = 0;                    // guarded by FLock
    std::uint32_t FOffset = 0;                   // guarded by FLock
};

// The interface of a queued input, which its owner also calls directly.
class ISLQueuedRealSink : public IOWInterface
{
public:
    static constexpr TGUID kIID = MakeGuid("{AEE73535-9267-4CB2-ABF7-905245E0EB46}");

    // The source's block size and rate, from its start; marks the input started.
    virtual void SetInputFormat(std::int32_t bufferSize, double sampleRate) = 0;
    // Empties the queue and marks the input not started.
    virtual void Reset() = 0;
    virtual void Push(TRefPtr<TSLRealBuffer> buffer) = 0;
    [[nodiscard]] virtual bool GetStarted() = 0;
    // A whole input block for one output block is queued (always, while no block size is computed).
    [[nodiscard]] virtual bool IsReady() = 0;
    [[nodiscard]] virtual double GetSampleRate() = 0;
    [[nodiscard]] virtual std::uint32_t GetBufferSize() = 0;
    // The input samples that make an output block of outputBlockSize at outputRate: rounded half to even;
    // 0 (nothing computed) for a rate that is not positive.
    virtual std::uint32_t ComputeBlockSize(std::int32_t outputBlockSize, float outputRate) = 0;
};

// A real input with a queue: the owner pushes every block that arrives and takes out blocks of the size it
// needs, all inputs in step, resampled by nearest neighbour when the input block differs. The format
// fields are written by the owner under its lock (deliveries write-lock the pin while its handler runs).
class TSLOWQueuedRealSinkPin final : public TSLOWRealSinkPin, public ISLQueuedRealSink
{
public:
    TSLOWQueuedRealSinkPin(TComponent* owner, TSLOperationHandler onOperation);
    ~TSLOWQueuedRealSinkPin() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    [[nodiscard]] IOWInterface* QueryInterface(const TGUID& iid) override;

    void SetInputFormat(std::int32_t bufferSize, double sampleRate) override;
    void Reset() override;
    void Push(TRefPtr<TSLRealBuffer> buffer) override;
    [[nodiscard]] bool GetStarted() override { return FStarted; }
    [[nodiscard]] bool IsReady() override;
    [[nodiscard]] double GetSampleRate() override { return FInputSampleRate; }
    [[nodiscard]] std::uint32_t GetBufferSize() override { return FInputBufferSize; }
    std::uint32_t ComputeBlockSize(std::int32_t outputBlockSize, float outputRate) override;

    // Fills buffer with the next block; leaves it as it was while no block size is computed or too few
    // samples are queued. True when it was filled.
    bool GetBlock(TSLRealBuffer& buffer);

    [[nodiscard]] std::uint32_t BlockSize() const noexcept { return FBlockSize; }
    [[nodiscard]] TSLBufferQueue& Queue() noexcept { return FQueue; }
    [[nodiscard]] bool HasData() const noexcept { return FHasData; }
    void SetHasData(bool value) noexcept { FHasData = value; }
private:
    std::uint32_t FBlockSize = 0;
    TSLBufferQueue FQueue;
    std::uint32_t FInputBufferSize = 0;
    bool FStarted = false;
    double FInputSampleRate = 0.0;
    bool FHasData = false;
};

// A framework object used only for its lock.
class TOWExposedObject final : public TOWObject
{
};

// A first-in first-out list of operations under the lock of a holder: a given pin (the audio output's
// input), or a lock holder of its own.
class TSLOperationList
{
public:
    explicit TSLOperationList(TOWObject* lockHolder = nullptr);
    TSLOperationList(const TSLOperationList&) = delete;
    TSLOperationList& operator=(const TSLOperationList&) = delete;

    // Appends operation; with replace, only it remains. Returns the count.
    std::size_t Add(TRefPtr<TOWNotifyOperation> operation, bool replace);
    [[nodiscard]] std::size_t Count();
    // The oldest operation, taken out; null when empty.
    [[nodiscard]] TRefPtr<TOWNotifyOperation> Pop();
    void Clear();
private:
    std::unique_ptr<TOWExposedObject> FOwnHolder;
    TOWObject& FLockHolder;
    std::deque<TRefPtr<TOWNotifyOperation>> FOperations;   // guarded by the holder's lock
};

}   // namespace harvolin
