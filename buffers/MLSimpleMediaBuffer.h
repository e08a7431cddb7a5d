#pragma once
#include "buffers/SLSimpleDataBuffer.h"

#include <cstdint>

namespace harvolin
{

class TMLMediaBuffer;

// Storage of media data: the pooled block of the plain buffers with a validity flag and a start and stop
// time (in the producer's time units) that travel with the data. All three are zero when the block is
// made (the pool zero-fills its instances) and are copied with the block; they are read and changed under
// the block's own lock, so handles on different threads may share it.
class TMLSmartMediaBuffer : public TSLSmartBuffer
{
public:
    TMLSmartMediaBuffer() = default;

    [[nodiscard]] bool IsValid();
    [[nodiscard]] std::int64_t GetStart();
    [[nodiscard]] std::int64_t GetStop();
    // Both times at once, so that a reader never sees the start of one stamp with the stop of another.
    void GetTimes(std::int64_t& start, std::int64_t& stop);
    // For producers that stamp their data; the times are only meaningful while the flag is set.
    void SetTimes(bool valid, std::int64_t start, std::int64_t stop);

    // A media block with the flag and both times; there is no data area to copy.
    [[nodiscard]] TSLSmartBuffer* CloneStorage(bool preserve) override;
protected:
    ~TMLSmartMediaBuffer() override = default;
    // Gives a new block this block's flag and times.
    void CopyTimesTo(TMLSmartMediaBuffer& clone);
private:
    bool FValid = false;       // guarded by FLock
    std::int64_t FStart = 0;   // guarded by FLock
    std::int64_t FStop = 0;    // guarded by FLock
};

// A media buffer's view of the time stamp of whatever storage the buffer has now: it reads through the
// buffer, so it stays right across copy-on-write. Lives exactly as long as its buffer.
class TMLTimeStamp
{
public:
    explicit TMLTimeStamp(TMLMediaBuffer& buffer) noexcept : FBuffer(&buffer) {}
    TMLTimeStamp(const TMLTimeStamp&) = delete;
    TMLTimeStamp& operator=(const TMLTimeStamp&) = delete;

    [[nodiscard]] bool IsValid() const;
    [[nodiscard]] std::int64_t GetStart() const;
    [[nodiscard]] std::int64_t GetStop() const;
    [[nodiscard]] TMLMediaBuffer& Buffer() const noexcept { return *FBuffer; }
private:
    TMLMediaBuffer* const FBuffer;
};

// The buffer core with the time stamp of media data.
class IMLMediaBuffer : public virtual ISLBufferCore
{
public:
    static constexpr TGUID kIID = MakeGuid("{3E8C2A71-5B4D-4F0E-9C63-8A1D7E2B4F90}");

    [[nodiscard]] virtual TMLTimeStamp& GetTimeStamp() noexcept = 0;
};

// A buffer over media storage. It changes none of the plain buffer's operations; its descendants give it
// memory (the audio buffer).
class TMLMediaBuffer : public TSLGenericBuffer, public virtual IMLMediaBuffer
{
public:
    [[nodiscard]] void* QueryInterface(const TGUID& iid) noexcept override;
    [[nodiscard]] TMLTimeStamp& GetTimeStamp() noexcept override { return FTimeStamp; }
    // The media storage this handle has now.
    [[nodiscard]] TMLSmartMediaBuffer& MediaStorage() const noexcept
    {
        return *static_cast<TMLSmartMediaBuffer*>(FStorage);
    }
protected:
    // Takes storage, as owner and holder.
    TMLMediaBuffer(TMLSmartMediaBuffer* storage, std::uint32_t byteSize) : TSLGenericBuffer(storage, byteSize)
    {
    }
    // Shares the source's storage as a further owner; the time stamp is this handle's own.
    TMLMediaBuffer(const TMLMediaBuffer& source)
        : ISLBufferCore(), ISLDataBuffer(), IMLMediaBuffer(), TSLGenericBuffer(source)
    {
    }
    ~TMLMediaBuffer() override = default;

    // Only media storage may be taken over, so MediaStorage() is always right.
    void CheckAssignable(TSLGenericBuffer& source) const override;
private:
    TMLTimeStamp FTimeStamp{*this};
};

}   // namespace harvolin
