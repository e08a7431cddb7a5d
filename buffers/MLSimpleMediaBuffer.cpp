#include "buffers/MLSimpleMediaBuffer.h"

#include "rtl/Exceptions.h"

namespace harvolin
{

// ---- TMLSmartMediaBuffer

bool TMLSmartMediaBuffer::IsValid()
{
    const TCriticalSectionGuard guard(FLock);
    return FValid;
}

std::int64_t TMLSmartMediaBuffer::GetStart()
{
    const TCriticalSectionGuard guard(FLock);
    return FStart;
}

std::int64_t TMLSmartMediaBuffer::GetStop()
{
    const TCriticalSectionGuard guard(FLock);
    return FStop;
}

void TMLSmartMediaBuffer::GetTimes(std::int64_t& start, std::int64_t& stop)
{
    const TCriticalSectionGuard guard(FLock);
    start = FStart;
    stop = FStop;
}

void TMLSmartMediaBuffer::SetTimes(bool valid, std::int64_t start, std::int64_t stop)
{
    const TCriticalSectionGuard guard(FLock);
    FValid = valid;
    FStart = start;
    FStop = stop;
}

TSLSmartBuffer* TMLSmartMediaBuffer::CloneStorage(bool)
{
    auto* clone = new TMLSmartMediaBuffer();
    CopyTimesTo(*clone);
    return clone;
}

void TMLSmartMediaBuffer::CopyTimesTo(TMLSmartMediaBuffer& clone)
{
    bool valid = false;
    std::int64_t start = 0;
    std::int64_t stop = 0;
    {
        const TCriticalSectionGuard guard(FLock);
        valid = FValid;
        start = FStart;
        stop = FStop;
    }
    // Not under this block's lock: the two locks are never held together.
    clone.SetTimes(valid, start, stop);
}

// ---- TMLTimeStamp

bool TMLTimeStamp::IsValid() const
{
    return FBuffer->MediaStorage().IsValid();
}

std::int64_t TMLTimeStamp::GetStart() const
{
    return FBuffer->MediaStorage().GetStart();
}

std::int64_t TMLTimeStamp::GetStop() const
{
    return FBuffer->MediaStorage().GetStop();
}

// ---- TMLMediaBuffer

void* TMLMediaBuffer::QueryInterface(const TGUID& iid) noexcept
{
    if (iid == IMLMediaBuffer::kIID)
        return static_cast<IMLMediaBuffer*>(this);
    return TSLGenericBuffer::QueryInterface(iid);
}

void TMLMediaBuffer::CheckAssignable(TSLGenericBuffer& source) const
{
    if (dynamic_cast<TMLSmartMediaBuffer*>(source.Storage()) == nullptr)
        throw ERangeError("media buffer: cannot take over a buffer without media storage");
}

}   // namespace harvolin
