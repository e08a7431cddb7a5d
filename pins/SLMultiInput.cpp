#include "pins/SLMultiInput.h"
#include "rtl/Rounding.h"
#include <algorithm>
#include <cmath>
#include <cstring>

namespace harvolin
{

// --- TSLBufferQueue ----------------------------------------------------------------------------------------

void TSLBufferQueue::Push(TRefPtr<TSLRealBuffer> buffer)
{
    if (!buffer)
        return;
    const std::uint32_t size = buffer->GetSize();
    TCriticalSectionGuard guard(FLock);
    FItems.push_back(std::move(buffer));
    FCount += size;
}

bool TSLBufferQueue::Pop(TSLRealBuffer& target)
{
    const std::uint32_t wanted = target.GetSize();
    TCriticalSectionGuard guard(FLock);
    if (FCount < wanted)
        return false;
    double* out = wanted > 0 ? target.GetWrite() : nullptr;
    std::uint32_t remaining = wanted;
    std::uint32_t written = 0;
    while (remaining > 0)
    {
        TSLRealBuffer& oldest = *FItems.front();
        const std::uint32_t available = oldest.GetSize() - FOffset;
        const std::uint32_t taken = std::min(remaining, available);
        std::memcpy(out + written, oldest.GetRead() + FOffset, taken * sizeof(double));
        written += taken;
        remaining -= taken;
        if (taken < available)
            FOffset += taken;
        else
        {
            // The buffer is used up: its storage goes back to the pool with the last handle.
            FItems.pop_front();
            FOffset = 0;
        }
    }
    FCount -= wanted;
    return true;
}

const double* TSLBufferQueue::Peek(std::uint32_t count)
{
    TCriticalSectionGuard guard(FLock);
    if (count == 0 || FItems.empty() || FItems.front()->GetSize() - FOffset < count)
        return nullptr;
    return FItems.front()->GetRead() + FOffset;
}

void TSLBufferQueue::Skip(std::uint32_t count)
{
    TCriticalSectionGuard guard(FLock);
    if (FItems.empty() || FItems.front()->GetSize() - FOffset < count)
        return;
    FOffset += count;
    FCount -= count;
    if (FOffset == FItems.front()->GetSize())
    {
        FItems.pop_front();
        FOffset = 0;
    }
}

void TSLBufferQueue::Clear()
{
    TCriticalSectionGuard guard(FLock);
    FItems.clear();
    FCount = 0;
    FOffset = 0;
}

std::uint32_t TSLBufferQueue::Count()
{
    TCriticalSectionGuard guard(FLock);
    return FCount;
}

std::uint32_t TSLBufferQueue::Offset()
{
    TCriticalSectionGuard guard(FLock);
    return FOffset;
}

std::size_t TSLBufferQueue::BufferCount()
{
    TCriticalSectionGuard guard(FLock);
    return FItems.size();
}

// --- TSLOWQueuedRealSinkPin --------------------------------------------------------------------------------

TSLOWQueuedRealSinkPin::TSLOWQueuedRealSinkPin(TComponent* owner, TSLOperationHandler onOperation)
    : TSLOWRealSinkPin(owner, std::move(onOperation))
{
}

TSLOWQueuedRealSinkPin::~TSLOWQueuedRealSinkPin()
{
    // Disconnected while the queue is still there: the source's last stop may still arrive.
    BeforeDestruction();
}

const TClassInfo& TSLOWQueuedRealSinkPin::StaticClassInfo()
{
    static const TClassInfo info("TSLOWQueuedRealSinkPin", &TSLOWRealSinkPin::StaticClassInfo(), {});
    return info;
}

IOWInterface* TSLOWQueuedRealSinkPin::QueryInterface(const TGUID& iid)
{
    if (iid == ISLQueuedRealSink::kIID)
        return static_cast<ISLQueuedRealSink*>(this);
    return TSLOWRealSinkPin::QueryInterface(iid);
}

void TSLOWQueuedRealSinkPin::SetInputFormat(std::int32_t bufferSize, double sampleRate)
{
    FInputBufferSize = static_cast<std::uint32_t>(std::max(bufferSize, 0));
    FInputSampleRate = sampleRate;
    FStarted = true;
}

void TSLOWQueuedRealSinkPin::Reset()
{
    FQueue.Clear();
    FStarted = false;
}

void TSLOWQueuedRealSinkPin::Push(TRefPtr<TSLRealBuffer> buffer)
{
    FQueue.Push(std::move(buffer));
}

bool TSLOWQueuedRealSinkPin::IsReady()
{
    return FQueue.Count() >= FBlockSize;
}

std::uint32_t TSLOWQueuedRealSinkPin::ComputeBlockSize(std::int32_t outputBlockSize, float outputRate)
{
    const double size = RoundHalfEven(static_cast<double>(outputBlockSize) * FInputSampleRate / outputRate);
    // A rate that is not positive (not announced yet) gives no block size rather than an undefined one.
    FBlockSize = outputRate > 0.0f && std::isfinite(size) && size > 0.0 && size < 4294967296.0
                     ? static_cast<std::uint32_t>(size)
                     : 0;
    return FBlockSize;
}

bool TSLOWQueuedRealSinkPin::GetBlock(TSLRealBuffer& buffer)
{
    if (FBlockSize == 0)
        return false;
    const std::uint32_t size = buffer.GetSize();
    if (size == FBlockSize)
        return FQueue.Pop(buffer);
    auto block = MakeRef<TSLRealBuffer>(FBlockSize);
    if (size == 0 || !FQueue.Pop(*block))
        return false;
    // Nearest neighbour: positions step through the block from its first sample towards its last.
    const double step = static_cast<double>(FBlockSize - 1) / static_cast<double>(size);
    const double* in = block->GetRead();
    double* out = buffer.GetWrite();
    double position = 0.0;
    for (std::uint32_t i = 0; i < size; ++i)
    {
        const auto index =
            static_cast<std::uint32_t>(std::min(RoundHalfEven(position), double(FBlockSize - 1)));
        out[i] = in[index];
        position += step;
    }
    return true;
}

// --- TSLOperationList --------------------------------------------------------------------------------------

TSLOperationList::TSLOperationList(TOWObject* lockHolder)
    : FOwnHolder(lockHolder == nullptr ? std::make_unique<TOWExposedObject>() : nullptr),
      FLockHolder(lockHolder == nullptr ? *FOwnHolder : *lockHolder)
{
}

std::size_t TSLOperationList::Add(TRefPtr<TOWNotifyOperation> operation, bool replace)
{
    TOWWriteLockSection lock(FLockHolder);
    FOperations.push_back(std::move(operation));
    while (replace && FOperations.size() > 1)
        FOperations.pop_front();
    return FOperations.size();
}

std::size_t TSLOperationList::Count()
{
    TOWReadLockSection lock(FLockHolder);
    return FOperations.size();
}

TRefPtr<TOWNotifyOperation> TSLOperationList::Pop()
{
    TOWWriteLockSection lock(FLockHolder);
    if (FOperations.empty())
        return nullptr;
    TRefPtr<TOWNotifyOperation> oldest = std::move(FOperations.front());
    FOperations.pop_front();
    return oldest;
}

void TSLOperationList::Clear()
{
    TOWWriteLockSection lock(FLockHolder);
    FOperations.clear();
}

}   // namespace harvolin
