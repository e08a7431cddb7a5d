#include "buffers/ALSimpleAudioBuffer.h"

#include "rtl/Exceptions.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace harvolin
{
namespace
{

constexpr std::uint32_t kDefaultRate = 11025;

std::uint32_t CheckedStorageSize(std::uint64_t size)
{
    if (size > kSLMaxBlockSize)
        throw ERangeError(Format("audio buffer: %u bytes are more than the largest storage block of %u",
                                 {static_cast<unsigned long>(size), kSLMaxBlockSize}));
    return static_cast<std::uint32_t>(size);
}

void WriteHeader(std::uint8_t* header, std::uint32_t bits, std::uint32_t channelMask, std::uint32_t channels)
{
    const std::uint32_t container = ContainerBits(bits);
    TALWaveFormatExtensible format;
    format.wFormatTag = kALWaveFormatExtensible;
    format.nChannels = static_cast<std::uint16_t>(channels);
    format.nSamplesPerSec = kDefaultRate;
    format.nBlockAlign = static_cast<std::uint16_t>(channels * container / 8);
    format.nAvgBytesPerSec = format.nBlockAlign * kDefaultRate;
    format.wBitsPerSample = static_cast<std::uint16_t>(container);
    format.cbSize = kALWaveFormatExtraSize;
    format.wValidBitsPerSample = static_cast<std::uint16_t>(bits);
    format.dwChannelMask = channelMask;
    format.SubFormat = kALSubFormatPcm;
    std::memcpy(header, &format, sizeof format);
}

// Header and samples of a new buffer; refuses what no buffer can be before anything is made.
std::uint64_t LayoutBytes(std::uint32_t bits, std::uint32_t frames, std::uint32_t channels)
{
    if (bits < 1 || bits > 32)
        throw ERangeError(Format("audio buffer: %u valid bits, not 1 to 32", {bits}));
    if (channels < 1 || channels > 32)
        throw ERangeError(Format("audio buffer: %u channels, not 1 to 32", {channels}));
    const std::uint64_t bytes =
        std::uint64_t{frames} * (ContainerBits(bits) / 8) * channels + kALWaveFormatSize;
    (void)CheckedStorageSize(bytes);
    return bytes;
}

// The bytes of one channel inside a frame: channels are laid out at equal distances.
std::uint32_t ChannelOffset(std::uint32_t blockAlign, std::uint32_t channel, std::uint32_t channels)
{
    return channels == 0 ? 0 : blockAlign * channel / channels;
}

// Copies or converts count samples of one channel column into another.
void CopyColumn(std::uint32_t sourceBits, const std::uint8_t* source, std::int32_t sourceStep,
                std::uint32_t destinationBits, std::uint8_t* destination, std::int32_t destinationStep,
                std::int32_t count)
{
    if (sourceBits != destinationBits)
    {
        (void)ConvertSamples(static_cast<std::int32_t>(sourceBits), source, sourceStep,
                             static_cast<std::int32_t>(destinationBits), destination, destinationStep, count);
        return;
    }
    switch (sourceBits)
    {
    case 8:
        (void)RegCopyBytes(source, sourceStep, destination, destinationStep, 1, count);
        break;
    case 16:
        (void)CopyStrided16(source, sourceStep, destination, destinationStep, count);
        break;
    case 24:
        (void)CopyStrided24(source, sourceStep, destination, destinationStep, count);
        break;
    default:
        (void)CopyStrided32(source, sourceStep, destination, destinationStep, count);
        break;
    }
}

void CombineColumn(TSampleOp op, std::uint32_t bits, const std::uint8_t* source, std::int32_t sourceStep,
                   std::uint8_t* destination, std::int32_t destinationStep, std::int32_t count)
{
    switch (bits)
    {
    case 8:
        (void)Combine8(op, source, sourceStep, destination, destinationStep, count);
        break;
    case 16:
        switch (op)
        {
        case TSampleOp::soAdd:
            (void)RegAdd16(source, sourceStep, destination, destinationStep, 1, count, 0);
            break;
        case TSampleOp::soSubtract:
            (void)RegSub16(source, sourceStep, destination, destinationStep, 1, count, 0);
            break;
        case TSampleOp::soMultiply:
            (void)RegMul16(source, sourceStep, destination, destinationStep, 1, count, 0);
            break;
        case TSampleOp::soDivide:
            // A zero divisor is reported as a warning; the column is still fully written.
            (void)RegDiv16(source, sourceStep, destination, destinationStep, 1, count, 0);
            break;
        }
        break;
    case 24:
        (void)Combine24(op, source, sourceStep, destination, destinationStep, count);
        break;
    default:
        (void)Combine32(op, source, sourceStep, destination, destinationStep, count);
        break;
    }
}

const char* OperationName(TSampleOp op)
{
    switch (op)
    {
    case TSampleOp::soAdd:
        return "Add";
    case TSampleOp::soSubtract:
        return "Subtract";
    case TSampleOp::soMultiply:
        return "Multiply";
    default:
        return "Divide";
    }
}

}   // namespace

// ---- TALSmartAudioBuffer

TALSmartAudioBuffer::TALSmartAudioBuffer(std::uint64_t size)
    : FAllocatedSize(RoundUpSize(CheckedStorageSize(size)))
{
    FData = static_cast<std::uint8_t*>(SmartBufferGet(FAllocatedSize));
    if (FData == nullptr)
        throw std::bad_alloc();
}

TALSmartAudioBuffer::~TALSmartAudioBuffer()
{
    SmartBufferPut(FData, FAllocatedSize);
    FData = nullptr;
}

TSLSmartBuffer* TALSmartAudioBuffer::CloneStorage(bool preserve)
{
    auto* clone = new TALSmartAudioBuffer(FAllocatedSize);
    CopyTimesTo(*clone);
    std::memcpy(clone->FData, FData,
                preserve ? FAllocatedSize : std::min<std::size_t>(FAllocatedSize, kALWaveFormatSize));
    return clone;
}

// ---- TALAudioBuffer

TALAudioBuffer::TALAudioBuffer(std::uint32_t bits, std::uint32_t channelMask, std::uint32_t frames,
                               std::uint32_t channels)
    : TMLMediaBuffer(new TALSmartAudioBuffer(LayoutBytes(bits, frames, channels)),
                     static_cast<std::uint32_t>(LayoutBytes(bits, frames, channels)))
{
    WriteHeader(AudioStorage().Data(), bits, channelMask, channels);
    StorageChanged();
}

TALAudioBuffer::TALAudioBuffer(const TALAudioBuffer& source)
    : ISLBufferCore(), ISLDataBuffer(), IMLMediaBuffer(), IALAudioBuffer(), TMLMediaBuffer(source)
{
    StorageChanged();
}

namespace
{

const TALAudioBuffer& AudioSource(ISLBufferCore& source)
{
    const auto* audio = dynamic_cast<const TALAudioBuffer*>(source.GetObject());
    if (audio == nullptr)
        throw ERangeError("audio buffer: cannot take over a buffer that is not an audio buffer");
    return *audio;
}

}   // namespace

TALAudioBuffer::TALAudioBuffer(ISLBufferCore& source) : TALAudioBuffer(AudioSource(source)) {}

void* TALAudioBuffer::QueryInterface(const TGUID& iid) noexcept
{
    if (iid == IALAudioBuffer::kIID)
        return static_cast<IALAudioBuffer*>(this);
    return TMLMediaBuffer::QueryInterface(iid);
}

TRefPtr<TSLGenericBuffer> TALAudioBuffer::Clone()
{
    return MakeRef<TALAudioBuffer>(*this);
}

void TALAudioBuffer::CheckAssignable(TSLGenericBuffer& source) const
{
    (void)AudioSource(source);
}

TALSmartAudioBuffer* TALAudioBuffer::CreateStorage(std::uint64_t bytes)
{
    return new TALSmartAudioBuffer(bytes);
}

void TALAudioBuffer::StorageChanged()
{
    FHeader = AudioStorage().Data();
    TALWaveFormatExtensible header;
    std::memcpy(&header, FHeader, sizeof header);
    FChannels = header.nChannels;
    FValidBits = header.wValidBitsPerSample;
    FChannelMask = header.dwChannelMask;
    FContainerBits = header.wBitsPerSample;
    FBlockAlign = header.nBlockAlign;
    FHeaderSize = std::uint32_t{header.cbSize} + 18;
    FData = FHeader + FHeaderSize;
}

TALWaveFormatExtensible TALAudioBuffer::GetWaveFormat() const noexcept
{
    TALWaveFormatExtensible header;
    std::memcpy(&header, FHeader, sizeof header);
    return header;
}

std::uint32_t TALAudioBuffer::SampleBytes() const noexcept
{
    return FByteSize > FHeaderSize ? FByteSize - FHeaderSize : 0;
}

std::uint32_t TALAudioBuffer::GetByteSize() const noexcept
{
    return SampleBytes();
}

std::uint32_t TALAudioBuffer::GetSize() const noexcept
{
    const std::uint32_t bytes = SampleBytes();
    return bytes == 0 || FBlockAlign == 0 ? 0 : bytes / FBlockAlign;
}

std::int32_t TALAudioBuffer::SampleCount() const noexcept
{
    return static_cast<std::int32_t>(GetSize() * FChannels);
}

void TALAudioBuffer::SetSize(std::uint32_t count, bool preserve)
{
    if (count == 0)
        return;
    const std::uint64_t needed = std::uint64_t{count} * FBlockAlign + FHeaderSize;
    const std::uint32_t bytes = CheckedStorageSize(needed);
    std::uint8_t saved[kALWaveFormatSize];
    std::memcpy(saved, FHeader, sizeof saved);
    if (count <= GetSize() || (FStorage->IsExclusive() && AllocatedSize() >= bytes))
    {
        FByteSize = bytes;
        StorageChanged();
        return;
    }
    TALSmartAudioBuffer* grown = CreateStorage(bytes);   // raises for want of memory: nothing changed
    grown->AddHolder(FOwner);
    TALSmartAudioBuffer& old = AudioStorage();
    std::memcpy(grown->Data(), saved, sizeof saved);
    if (preserve)
        std::memcpy(grown->Data(), old.Data(), std::min(old.AllocatedSize(), grown->AllocatedSize()));
    SetStorage(grown);
    old.ReleaseHolder(FOwner);
    StorageChanged();
    FByteSize = bytes;
}

void TALAudioBuffer::CopyTo(std::uint32_t sourceOffset, ISLBufferCore& destination, std::uint32_t count,
                            std::uint32_t destinationOffset)
{
    auto* target = dynamic_cast<TALAudioBuffer*>(destination.GetObject());
    if (target == nullptr)
    {
        TMLMediaBuffer::CopyTo(sourceOffset, destination, count, destinationOffset);
        return;
    }
    if (std::uint64_t{sourceOffset} + count > GetSize() ||
        std::uint64_t{destinationOffset} + count > target->GetSize())
        throw ERangeError(
            Format("audio buffer: CopyTo of %u frames from %u of %u to %u of %u is out of range",
                   {count, sourceOffset, GetSize(), destinationOffset, target->GetSize()}));
    if (count == 0)
        return;
    const std::vector<TALChannelPair> pairs =
        PairChannelsBySpeaker(FChannelMask, FChannels, target->FChannelMask, target->FChannels);
    if (pairs.empty())
        return;
    // Destination first: when it shares this storage it takes its own copy, and this side stays readable.
    std::uint8_t* destinationBase =
        target->GetModify() + std::size_t{destinationOffset} * target->FBlockAlign;
    const std::uint8_t* sourceBase = GetRead() + std::size_t{sourceOffset} * FBlockAlign;
    for (const TALChannelPair& pair : pairs)
        CopyColumn(FContainerBits, sourceBase + ChannelOffset(FBlockAlign, pair.SourceChannel, FChannels),
                   static_cast<std::int32_t>(FBlockAlign), target->FContainerBits,
                   destinationBase +
                       ChannelOffset(target->FBlockAlign, pair.DestinationChannel, target->FChannels),
                   static_cast<std::int32_t>(target->FBlockAlign), static_cast<std::int32_t>(count));
}

std::int32_t TALAudioBuffer::GetSample(std::int32_t frame, std::int32_t channel) const
{
    if (static_cast<std::uint32_t>(channel) >= FChannels)
        throw ERangeError(Format("Channel out of range = %u", {static_cast<std::uint32_t>(channel)}));
    if (static_cast<std::uint32_t>(frame) >= GetSize())
        throw ERangeError(Format("Index out of range = %u", {static_cast<std::uint32_t>(frame)}));
    const std::uint8_t* at = FData + std::size_t{static_cast<std::uint32_t>(frame)} * FBlockAlign;
    const auto c = static_cast<std::size_t>(channel);
    if (FValidBits <= 8)
        return at[c];
    if (FValidBits <= 16)
    {
        std::int16_t value = 0;
        std::memcpy(&value, at + c * 2, sizeof value);
        return value;
    }
    if (FContainerBits == 24)
        return Load24(at + c * 3);
    std::int32_t value = 0;
    std::memcpy(&value, at + c * 4, sizeof value);
    return value;
}

void TALAudioBuffer::SetSample(std::int32_t frame, std::int32_t channel, std::int32_t value)
{
    MakeUnique(true);
    if (static_cast<std::uint32_t>(channel) >= FChannels)
        throw ERangeError(Format("Channel out of rabge = %u", {static_cast<std::uint32_t>(channel)}));
    if (static_cast<std::uint32_t>(frame) >= GetSize())
        throw ERangeError(Format("Index out of rabge = %u", {static_cast<std::uint32_t>(frame)}));
    std::uint8_t* at = FData + std::size_t{static_cast<std::uint32_t>(frame)} * FBlockAlign;
    const auto c = static_cast<std::size_t>(channel);
    if (FValidBits <= 8)
    {
        at[c] = static_cast<std::uint8_t>(value);
        return;
    }
    if (FValidBits <= 16)
    {
        const auto low = static_cast<std::int16_t>(value);
        std::memcpy(at + c * 2, &low, sizeof low);
        return;
    }
    const std::uint32_t bytes = FContainerBits / 8;
    // Little-endian: the low bytes of value come first.
    std::memcpy(at + c * bytes, &value, std::min<std::size_t>(bytes, sizeof value));
}

void TALAudioBuffer::Combine(TSampleOp op, IALAudioBuffer& other, const char* operation)
{
    if (other.GetContainerBits() != FContainerBits)
        throw ERangeError(Format("audio buffer: %s of a buffer of %u-bit samples to one of %u-bit samples",
                                 {operation, other.GetContainerBits(), FContainerBits}));
    const auto frames = static_cast<std::int32_t>(std::min(GetSize(), other.GetSize()));
    if (frames == 0 || FChannels == 0)
        return;
    const std::uint32_t otherChannels = other.GetChannels();
    const std::uint32_t otherAlign = other.GetBlockAlign();
    std::vector<TALChannelPair> pairs;
    if (otherChannels == 1)
        for (std::uint32_t channel = 0; channel < FChannels; ++channel)
            pairs.push_back({0, channel});
    else
        pairs = PairChannelsBySpeaker(other.GetChannelMask(), otherChannels, FChannelMask, FChannels);
    // Own storage first: should the other buffer share it, it keeps reading the untouched samples.
    std::uint8_t* own = GetModify();
    const std::uint8_t* source = other.GetRead();
    for (const TALChannelPair& pair : pairs)
        CombineColumn(op, FContainerBits,
                      source + ChannelOffset(otherAlign, pair.SourceChannel, otherChannels),
                      static_cast<std::int32_t>(otherAlign),
                      own + ChannelOffset(FBlockAlign, pair.DestinationChannel, FChannels),
                      static_cast<std::int32_t>(FBlockAlign), frames);
}

void TALAudioBuffer::Add(IALAudioBuffer& other)
{
    Combine(TSampleOp::soAdd, other, OperationName(TSampleOp::soAdd));
}

void TALAudioBuffer::Subtract(IALAudioBuffer& other)
{
    Combine(TSampleOp::soSubtract, other, OperationName(TSampleOp::soSubtract));
}

void TALAudioBuffer::Multiply(IALAudioBuffer& other)
{
    Combine(TSampleOp::soMultiply, other, OperationName(TSampleOp::soMultiply));
}

void TALAudioBuffer::Divide(IALAudioBuffer& other)
{
    Combine(TSampleOp::soDivide, other, OperationName(TSampleOp::soDivide));
}

void TALAudioBuffer::Fill(std::int32_t value)
{
    const std::int32_t count = SampleCount();
    if (count == 0)
        return;
    std::uint8_t* samples = GetWrite();
    switch (FContainerBits)
    {
    case 8:
        (void)VecSetByte(static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) + 127u), samples, count);
        break;
    case 16:
        (void)VecSet16(static_cast<std::int16_t>(value), samples, count);
        break;
    case 24:
        (void)Fill24(value, samples, count);
        break;
    default:
        (void)Fill32(value, samples, count);
        break;
    }
}

void TALAudioBuffer::Clear()
{
    const std::int32_t count = SampleCount();
    if (count == 0)
        return;
    switch (FContainerBits)
    {
    case 8:
        Fill(0);
        break;
    case 16:
        (void)VecSet16(0, GetWrite(), count);
        break;
    case 24:
        (void)Clear24(GetWrite(), count);
        break;
    default:
        (void)Clear32(GetWrite(), count);
        break;
    }
}

void TALAudioBuffer::Scale(double factor)
{
    const std::int32_t count = SampleCount();
    if (count == 0)
        return;
    (void)ScaleSamples(static_cast<std::int32_t>(FContainerBits), factor, GetModify(),
                       static_cast<std::int32_t>(FContainerBits / 8), count);
}

TRefPtr<IALAudioDataBufferAccess> TALAudioBuffer::GetAudioAccess()
{
    return MakeRef<TALAudioDataBufferAccess>(*this);
}

// ---- TALAudioDataBufferAccess

TALAudioBuffer& TALAudioDataBufferAccess::Audio(const char* operation) const
{
    return static_cast<TALAudioBuffer&>(Bound(operation));
}

IALAudioBuffer& TALAudioDataBufferAccess::OtherAudio(const IALAudioDataBufferAccess& other,
                                                     const char* operation)
{
    auto* buffer = QueryBuffer<IALAudioBuffer>(other.GetBuffer());
    if (buffer == nullptr)
        throw ESLAccessDetached(
            Format("audio buffer access object: %s: the other access object has no audio buffer bound",
                   {operation}));
    return *buffer;
}

TMLTimeStamp& TALAudioDataBufferAccess::GetTimeStamp()
{
    return Audio("GetTimeStamp").GetTimeStamp();
}

std::uint32_t TALAudioDataBufferAccess::GetChannels() const
{
    return Audio("GetChannels").GetChannels();
}

std::uint32_t TALAudioDataBufferAccess::GetValidBits() const
{
    return Audio("GetValidBits").GetValidBits();
}

std::uint32_t TALAudioDataBufferAccess::GetBlockAlign() const
{
    return Audio("GetBlockAlign").GetBlockAlign();
}

std::uint32_t TALAudioDataBufferAccess::GetChannelMask() const
{
    return Audio("GetChannelMask").GetChannelMask();
}

std::uint32_t TALAudioDataBufferAccess::GetContainerBits() const
{
    return Audio("GetContainerBits").GetContainerBits();
}

std::uint32_t TALAudioDataBufferAccess::GetHeaderSize() const
{
    return Audio("GetHeaderSize").GetHeaderSize();
}

const std::uint8_t* TALAudioDataBufferAccess::GetRead() const
{
    return Audio("GetRead").GetRead();
}

std::uint8_t* TALAudioDataBufferAccess::GetWrite()
{
    return Audio("GetWrite").GetWrite();
}

std::uint8_t* TALAudioDataBufferAccess::GetModify()
{
    return Audio("GetModify").GetModify();
}

std::int32_t TALAudioDataBufferAccess::GetSample(std::int32_t frame, std::int32_t channel) const
{
    return Audio("GetSample").GetSample(frame, channel);
}

void TALAudioDataBufferAccess::SetSample(std::int32_t frame, std::int32_t channel, std::int32_t value)
{
    Audio("SetSample").SetSample(frame, channel, value);
}

void TALAudioDataBufferAccess::Add(IALAudioDataBufferAccess& other)
{
    Audio("Add").Add(OtherAudio(other, "Add"));
}

void TALAudioDataBufferAccess::Subtract(IALAudioDataBufferAccess& other)
{
    Audio("Subtract").Subtract(OtherAudio(other, "Subtract"));
}

void TALAudioDataBufferAccess::Multiply(IALAudioDataBufferAccess& other)
{
    Audio("Multiply").Multiply(OtherAudio(other, "Multiply"));
}

void TALAudioDataBufferAccess::Divide(IALAudioDataBufferAccess& other)
{
    Audio("Divide").Divide(OtherAudio(other, "Divide"));
}

void TALAudioDataBufferAccess::Fill(std::int32_t value)
{
    Audio("Fill").Fill(value);
}

void TALAudioDataBufferAccess::Clear()
{
    Audio("Clear").Clear();
}

void TALAudioDataBufferAccess::Scale(double factor)
{
    Audio("Scale").Scale(factor);
}

}   // namespace harvolin
