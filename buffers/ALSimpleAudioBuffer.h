#pragma once
#include "buffers/ALAudioFormat.h"
#include "buffers/ALSampleConvert.h"
#include "buffers/MLSimpleMediaBuffer.h"
#include "buffers/SLDataBufferAccess.h"

#include <cstdint>

namespace harvolin
{

class IALAudioDataBufferAccess;

// Storage of an audio buffer: media storage with a 32-byte aligned data area from the pool whose size is a
// power of two, exactly as the plain memory storage. The area holds the 40-byte wave format record, then
// the samples. The block itself comes from the pool too, so a steady stream of equal audio buffers
// allocates nothing once the pool is warm.
class TALSmartAudioBuffer : public TMLSmartMediaBuffer
{
public:
    // An area of RoundUpSize(size) bytes, not cleared. Raises ERangeError above kSLMaxBlockSize (nothing is
    // made) and std::bad_alloc when the heap refuses.
    explicit TALSmartAudioBuffer(std::uint64_t size);

    // Copies the flag, both times and the allocated size; then every allocated byte (preserve) or only the
    // header, so that a writer of the copy keeps the format while the samples are left undefined.
    [[nodiscard]] TSLSmartBuffer* CloneStorage(bool preserve) override;

    [[nodiscard]] std::uint8_t* Data() const noexcept { return FData; }
    [[nodiscard]] std::uint32_t AllocatedSize() const noexcept { return FAllocatedSize; }
protected:
    ~TALSmartAudioBuffer() override;
private:
    std::uint8_t* FData = nullptr;
    std::uint32_t FAllocatedSize = 0;
};

// Interleaved integer PCM with its format: frame after frame, channel after channel inside a frame, in
// containers of 8, 16, 24 or 32 bits (8 bits unsigned with the zero level at 127, the others signed
// little-endian). Frames and channels are the units of every operation here.
//
// Pointers from GetRead/GetWrite/GetModify point at the first sample and follow the copy-on-write rules of
// the plain buffers. Two-buffer operations pair channels by speaker position; a one-channel operand is
// applied to every channel.
class IALAudioBuffer : public virtual IMLMediaBuffer
{
public:
    static constexpr TGUID kIID = MakeGuid("{9B4E6D12-7C3A-4E85-A1F0-5D2C8B7E3A64}");

    [[nodiscard]] virtual TRefPtr<IALAudioDataBufferAccess> GetAudioAccess() = 0;
    [[nodiscard]] virtual std::uint32_t GetChannels() const noexcept = 0;
    [[nodiscard]] virtual std::uint32_t GetValidBits() const noexcept = 0;
    [[nodiscard]] virtual std::uint32_t GetBlockAlign() const noexcept = 0;
    [[nodiscard]] virtual std::uint32_t GetChannelMask() const noexcept = 0;
    [[nodiscard]] virtual std::uint32_t GetContainerBits() const noexcept = 0;
    [[nodiscard]] virtual std::uint32_t GetHeaderSize() const noexcept = 0;
    [[nodiscard]] virtual const std::uint8_t* GetRead() const noexcept = 0;
    [[nodiscard]] virtual std::uint8_t* GetWrite() = 0;
    [[nodiscard]] virtual std::uint8_t* GetModify() = 0;
    // Raises ERangeError "Channel out of range = %u" or "Index out of range = %u". 8-bit samples come as
    // the unsigned byte, offset included.
    [[nodiscard]] virtual std::int32_t GetSample(std::int32_t frame, std::int32_t channel) const = 0;
    // Stores the low bits of value in the container. Raises ERangeError "Channel out of rabge = %u" or
    // "Index out of rabge = %u", writing nothing.
    virtual void SetSample(std::int32_t frame, std::int32_t channel, std::int32_t value) = 0;
    // Over the frames both buffers have. Raise ERangeError, changing nothing, when the container widths
    // differ.
    virtual void Add(IALAudioBuffer& other) = 0;
    virtual void Subtract(IALAudioBuffer& other) = 0;
    virtual void Multiply(IALAudioBuffer& other) = 0;
    virtual void Divide(IALAudioBuffer& other) = 0;
    // Every sample := value (8 bits: (value + 127) modulo 256).
    virtual void Fill(std::int32_t value) = 0;
    // Silence: 127 for 8 bits, 0 otherwise.
    virtual void Clear() = 0;
    // sample := round(factor x sample), ties to even, stored in the container's low bits.
    virtual void Scale(double factor) = 0;
};

// An audio buffer: its storage memory holds the wave format record in front of the samples, so the format
// is shared and copied together with the data. The byte size of the handle counts both; GetByteSize()
// and GetSize() count only the samples (bytes, frames).
class TALAudioBuffer final : public TMLMediaBuffer, public virtual IALAudioBuffer
{
public:
    // frames frames of channels channels of bits valid bits (container: bits rounded up to a multiple of
    // 8), at 11025 frames per second; the samples are not cleared. Raises ERangeError, making nothing, for
    // bits outside 1 to 32, channels outside 1 to 32 or a size beyond the largest storage block.
    TALAudioBuffer(std::uint32_t bits, std::uint32_t channelMask, std::uint32_t frames,
                   std::uint32_t channels);
    // Share the source's storage as a further owner.
    TALAudioBuffer(const TALAudioBuffer& source);
    // Raises ERangeError when the object behind source is not an audio buffer.
    explicit TALAudioBuffer(ISLBufferCore& source);

    [[nodiscard]] void* QueryInterface(const TGUID& iid) noexcept override;
    [[nodiscard]] TRefPtr<TSLGenericBuffer> Clone() override;
    // Between audio buffers: offsets and count in frames, channels paired by speaker position, widths
    // converted; ERangeError, copying nothing, when either side would be passed. Into any other buffer: the
    // plain byte copy of the samples.
    void CopyTo(std::uint32_t sourceOffset, ISLBufferCore& destination, std::uint32_t count,
                std::uint32_t destinationOffset) override;
    // In frames; keeps the header. Raises ERangeError beyond the largest storage block, changing nothing.
    void SetSize(std::uint32_t count, bool preserve) override;
    [[nodiscard]] std::uint32_t GetByteSize() const noexcept override;
    [[nodiscard]] std::uint32_t GetSize() const noexcept override;

    [[nodiscard]] TRefPtr<IALAudioDataBufferAccess> GetAudioAccess() override;
    [[nodiscard]] std::uint32_t GetChannels() const noexcept override { return FChannels; }
    [[nodiscard]] std::uint32_t GetValidBits() const noexcept override { return FValidBits; }
    [[nodiscard]] std::uint32_t GetBlockAlign() const noexcept override { return FBlockAlign; }
    [[nodiscard]] std::uint32_t GetChannelMask() const noexcept override { return FChannelMask; }
    [[nodiscard]] std::uint32_t GetContainerBits() const noexcept override { return FContainerBits; }
    [[nodiscard]] std::uint32_t GetHeaderSize() const noexcept override { return FHeaderSize; }
    [[nodiscard]] const std::uint8_t* GetRead() const noexcept override { return FData; }
    [[nodiscard]] std::uint8_t* GetWrite() override { return GetWriteBytes(); }
    [[nodiscard]] std::uint8_t* GetModify() override { return GetModifyBytes(); }
    [[nodiscard]] std::int32_t GetSample(std::int32_t frame, std::int32_t channel) const override;
    void SetSample(std::int32_t frame, std::int32_t channel, std::int32_t value) override;
    void Add(IALAudioBuffer& other) override;
    void Subtract(IALAudioBuffer& other) override;
    void Multiply(IALAudioBuffer& other) override;
    void Divide(IALAudioBuffer& other) override;
    void Fill(std::int32_t value) override;
    void Clear() override;
    void Scale(double factor) override;

    // The header as it stands in the storage.
    [[nodiscard]] TALWaveFormatExtensible GetWaveFormat() const noexcept;
    // Bytes of the storage's data area, header included.
    [[nodiscard]] std::uint32_t AllocatedSize() const noexcept { return AudioStorage().AllocatedSize(); }
protected:
    void StorageChanged() override;
    void CheckAssignable(TSLGenericBuffer& source) const override;
    // A new storage block of bytes bytes (header included).
    [[nodiscard]] virtual TALSmartAudioBuffer* CreateStorage(std::uint64_t bytes);
    // The sample bytes as the header counts them: byte size minus the header.
    [[nodiscard]] virtual std::uint32_t SampleBytes() const noexcept;
private:
    [[nodiscard]] TALSmartAudioBuffer& AudioStorage() const noexcept
    {
        return *static_cast<TALSmartAudioBuffer*>(FStorage);
    }
    void Combine(TSampleOp op, IALAudioBuffer& other, const char* operation);
    // The sample count of the whole buffer, for the contiguous kernels.
    [[nodiscard]] std::int32_t SampleCount() const noexcept;

    std::uint8_t* FHeader = nullptr;   // start of the storage memory; refreshed by StorageChanged()
    std::uint32_t FChannels = 0;
    std::uint32_t FValidBits = 0;
    std::uint32_t FChannelMask = 0;
    std::uint32_t FContainerBits = 0;
    std::uint32_t FBlockAlign = 0;
    std::uint32_t FHeaderSize = 0;
};

// The access object of an audio buffer: the plain access object's operations and every audio buffer
// operation, each forwarded to the bound buffer (ESLAccessDetached once it has gone). The operand of
// Add..Divide is the audio buffer of the other access object.
class IALAudioDataBufferAccess : public virtual ISLDataBufferAccess
{
public:
    static constexpr TGUID kIID = MakeGuid("{C47A1E39-2D6B-4F8C-B05E-73A9D1C6E2F8}");

    [[nodiscard]] virtual TMLTimeStamp& GetTimeStamp() = 0;
    [[nodiscard]] virtual std::uint32_t GetChannels() const = 0;
    [[nodiscard]] virtual std::uint32_t GetValidBits() const = 0;
    [[nodiscard]] virtual std::uint32_t GetBlockAlign() const = 0;
    [[nodiscard]] virtual std::uint32_t GetChannelMask() const = 0;
    [[nodiscard]] virtual std::uint32_t GetContainerBits() const = 0;
    [[nodiscard]] virtual std::uint32_t GetHeaderSize() const = 0;
    [[nodiscard]] virtual const std::uint8_t* GetRead() const = 0;
    [[nodiscard]] virtual std::uint8_t* GetWrite() = 0;
    [[nodiscard]] virtual std::uint8_t* GetModify() = 0;
    [[nodiscard]] virtual std::int32_t GetSample(std::int32_t frame, std::int32_t channel) const = 0;
    virtual void SetSample(std::int32_t frame, std::int32_t channel, std::int32_t value) = 0;
    virtual void Add(IALAudioDataBufferAccess& other) = 0;
    virtual void Subtract(IALAudioDataBufferAccess& other) = 0;
    virtual void Multiply(IALAudioDataBufferAccess& other) = 0;
    virtual void Divide(IALAudioDataBufferAccess& other) = 0;
    virtual void Fill(std::int32_t value) = 0;
    virtual void Clear() = 0;
    virtual void Scale(double factor) = 0;
};

class TALAudioDataBufferAccess final : public TSLDataBufferAccess, public virtual IALAudioDataBufferAccess
{
public:
    explicit TALAudioDataBufferAccess(TALAudioBuffer& buffer) : TSLDataBufferAccess(buffer) {}

    [[nodiscard]] TMLTimeStamp& GetTimeStamp() override;
    [[nodiscard]] std::uint32_t GetChannels() const override;
    [[nodiscard]] std::uint32_t GetValidBits() const override;
    [[nodiscard]] std::uint32_t GetBlockAlign() const override;
    [[nodiscard]] std::uint32_t GetChannelMask() const override;
    [[nodiscard]] std::uint32_t GetContainerBits() const override;
    [[nodiscard]] std::uint32_t GetHeaderSize() const override;
    [[nodiscard]] const std::uint8_t* GetRead() const override;
    [[nodiscard]] std::uint8_t* GetWrite() override;
    [[nodiscard]] std::uint8_t* GetModify() override;
    [[nodiscard]] std::int32_t GetSample(std::int32_t frame, std::int32_t channel) const override;
    void SetSample(std::int32_t frame, std::int32_t channel, std::int32_t value) override;
    void Add(IALAudioDataBufferAccess& other) override;
    void Subtract(IALAudioDataBufferAccess& other) override;
    void Multiply(IALAudioDataBufferAccess& other) override;
    void Divide(IALAudioDataBufferAccess& other) override;
    void Fill(std::int32_t value) override;
    void Clear() override;
    void Scale(double factor) override;
private:
    [[nodiscard]] TALAudioBuffer& Audio(const char* operation) const;
    [[nodiscard]] static IALAudioBuffer& OtherAudio(const IALAudioDataBufferAccess& other,
                                                    const char* operation);
};

}   // namespace harvolin
