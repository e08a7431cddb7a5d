#pragma once
#include "rtl/Persistent.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

namespace harvolin
{

// Speaker positions; the value is the bit of the position in a channel mask, and the order is the order in
// which the channels of an interleaved frame are laid out.
enum class TALSpeaker : std::uint8_t
{
    spFrontLeft,
    spFrontRight,
    spFrontCenter,
    spSubwoofer,
    spBackLeft,
    spBackRight,
    spFrontLeftOfCenter,
    spFrontRightOfCenter,
    spBackCenter,
    spSideLeft,
    spSideRight,
    spTopCenter,
    spTopFrontLeft,
    spTopFrontCenter,
    spTopFrontRight,
    spTopBackLeft,
    spTopBackCenter,
    spTopBackRight
};

inline constexpr std::uint32_t kALSpeakerCount = 18;
// Every bit a speaker position stands for.
inline constexpr std::uint32_t kALSpeakerBits = (1u << kALSpeakerCount) - 1;

// A set of speaker positions, held as the channel mask of the wave format (bit i = TALSpeaker value i).
class TALSpeakers
{
public:
    constexpr TALSpeakers() noexcept = default;
    constexpr TALSpeakers(std::initializer_list<TALSpeaker> speakers) noexcept
    {
        for (TALSpeaker speaker : speakers)
            Include(speaker);
    }
    // Bits above the last speaker position are dropped: no position stands for them.
    [[nodiscard]] static constexpr TALSpeakers FromMask(std::uint32_t mask) noexcept
    {
        TALSpeakers result;
        result.FMask = mask & kALSpeakerBits;
        return result;
    }

    [[nodiscard]] constexpr std::uint32_t Mask() const noexcept { return FMask; }
    [[nodiscard]] constexpr bool Contains(TALSpeaker speaker) const noexcept
    {
        return (FMask & Bit(speaker)) != 0;
    }
    [[nodiscard]] constexpr bool Empty() const noexcept { return FMask == 0; }
    [[nodiscard]] constexpr std::uint32_t Count() const noexcept
    {
        return static_cast<std::uint32_t>(std::popcount(FMask));
    }
    constexpr void Include(TALSpeaker speaker) noexcept { FMask |= Bit(speaker); }
    constexpr void Exclude(TALSpeaker speaker) noexcept { FMask &= ~Bit(speaker); }

    friend constexpr bool operator==(TALSpeakers, TALSpeakers) noexcept = default;
private:
    static constexpr std::uint32_t Bit(TALSpeaker speaker) noexcept
    {
        return 1u << static_cast<std::uint32_t>(speaker);
    }

    std::uint32_t FMask = 0;
};

// The identifier of each speaker position in stored descriptions, in TALSpeaker order.
[[nodiscard]] const std::array<const char*, kALSpeakerCount>& SpeakerNames() noexcept;

// The channel of a frame that carries speaker in a buffer whose channel mask is mask: the number of
// positions of mask before it. -1 when the mask lacks the speaker.
[[nodiscard]] std::int32_t ChannelOfSpeaker(std::uint32_t mask, TALSpeaker speaker) noexcept;

// One channel of each side that carries the same speaker position.
struct TALChannelPair
{
    std::uint32_t SourceChannel;
    std::uint32_t DestinationChannel;
};

// Pairs the channels of two interleaved layouts by speaker position, walking the positions in TALSpeaker
// order and counting, on each side, the positions of its own mask. A channel index is only paired while it
// is below that side's channel count, so a mask with more positions than the buffer has channels never
// leads past a frame. Positions on one side only are left out.
[[nodiscard]] std::vector<TALChannelPair> PairChannelsBySpeaker(std::uint32_t sourceMask,
                                                                std::uint32_t sourceChannels,
                                                                std::uint32_t destinationMask,
                                                                std::uint32_t destinationChannels);

inline constexpr std::uint16_t kALWaveFormatExtensible = 0xFFFE;
inline constexpr std::uint16_t kALWaveFormatExtraSize = 22;   // bytes after the 18-byte basic record
inline constexpr std::size_t kALWaveFormatSize = 40;
// The PCM subformat identifier {00000001-0000-0010-8000-00AA00389B71} in its stored byte order (the first
// three groups little-endian).
inline constexpr std::array<std::uint8_t, 16> kALSubFormatPcm = {
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// The extensible wave format record exactly as it is stored: 40 bytes, little-endian, no padding (every
// field sits at its natural alignment). It is copied byte for byte into the head of every audio buffer and
// handed to the audio output as it stands.
struct TALWaveFormatExtensible
{
    std::uint16_t wFormatTag = kALWaveFormatExtensible;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
    std::uint16_t cbSize = kALWaveFormatExtraSize;
    std::uint16_t wValidBitsPerSample = 0;
    std::uint32_t dwChannelMask = 0;
    std::array<std::uint8_t, 16> SubFormat = kALSubFormatPcm;

    friend bool operator==(const TALWaveFormatExtensible&, const TALWaveFormatExtensible&) = default;
};

static_assert(std::endian::native == std::endian::little, "the wave format record is stored little-endian");
static_assert(sizeof(TALWaveFormatExtensible) == kALWaveFormatSize);
static_assert(offsetof(TALWaveFormatExtensible, nSamplesPerSec) == 4);
static_assert(offsetof(TALWaveFormatExtensible, nBlockAlign) == 12);
static_assert(offsetof(TALWaveFormatExtensible, cbSize) == 16);
static_assert(offsetof(TALWaveFormatExtensible, dwChannelMask) == 20);
static_assert(offsetof(TALWaveFormatExtensible, SubFormat) == 24);

// The container width of valid bits: rounded up to a multiple of 8.
[[nodiscard]] constexpr std::uint32_t ContainerBits(std::uint32_t validBits) noexcept
{
    return validBits % 8 == 0 ? validBits : (validBits / 8 + 1) * 8;
}

// Held for the whole of a setter: a write section on the owner's lock; null when the format has no owner.
using TALFormatWriteSection = std::function<std::shared_ptr<void>()>;

// The write section of an owner that has GetWriteLockSection() (a framework object or a component's lock
// holder), kept alive by the returned pointer. The owner must outlive the format.
template <class TOwner>
[[nodiscard]] TALFormatWriteSection WriteSectionOf(TOwner& owner)
{
    return [&owner]() -> std::shared_ptr<void>
    {
        using TSection = decltype(owner.GetWriteLockSection());
        return std::make_shared<TSection>(owner.GetWriteLockSection());
    };
}

// The audio format a component publishes: channels, valid bits, sample rate and speaker mask, kept as the
// extensible wave format record with its derived fields always up to date.
//
// Threads: every setter holds the owner's write section for its whole run, the change callback included,
// so setters are serialised with the owner's pin traffic. Getters read without locking: the caller holds
// the owner's lock or is the owner's only thread. Out-of-range values are clamped silently.
class TALAudioFormatBasic : public TPersistent
{
public:
    // Called after a setter stored a value, with the format; also under the owner's write section.
    using TChangeCallback = std::function<void(TALAudioFormatBasic&)>;

    // 2 channels, 16 bits, 11025 frames per second, front left and right, set through the setters: the
    // callback already runs here (at least for the rate and the mask), so it must not reach parts of its
    // owner that are made after the format.
    explicit TALAudioFormatBasic(TALFormatWriteSection writeSection = {}, TChangeCallback onChange = {});

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] std::uint32_t Channels() const noexcept { return FWaveFormat.nChannels; }
    // 0 becomes 1, above 32 becomes 32; an unchanged value neither updates nor calls back.
    void SetChannels(std::uint32_t value);
    [[nodiscard]] std::uint32_t Bits() const noexcept { return FWaveFormat.wValidBitsPerSample; }
    // Below 8 becomes 8, above 32 becomes 32; an unchanged value neither updates nor calls back.
    void SetBits(std::uint32_t value);
    [[nodiscard]] std::uint32_t SampleRate() const noexcept { return FWaveFormat.nSamplesPerSec; }
    // Any value; calls back even when the value is unchanged, which owners rely on to re-announce it.
    void SetSampleRate(std::uint32_t value);
    [[nodiscard]] TALSpeakers ChannelMask() const noexcept
    {
        return TALSpeakers::FromMask(FWaveFormat.dwChannelMask);
    }
    // Any set; calls back even when the set is unchanged.
    void SetChannelMask(TALSpeakers value);

    // The whole 40-byte record, as the owner sends it to the audio output.
    [[nodiscard]] const TALWaveFormatExtensible& WaveFormat() const noexcept { return FWaveFormat; }

    // Copies the values of another format (of this class or a descendant) under one write section and
    // calls back once; any other source raises EConvertError and changes nothing.
    void Assign(const TPersistent& source) override;
protected:
    // Runs fn under the owner's write section.
    template <class F>
    void Locked(F&& fn)
    {
        const std::shared_ptr<void> section = FWriteSection ? FWriteSection() : nullptr;
        std::forward<F>(fn)();
    }
    void Changed();
    // Values of the descendant's own copied by Assign; the caller holds the write section.
    virtual void AssignOwn(const TALAudioFormatBasic& source);
private:
    // Recomputes the fields that follow from channels, bits and rate.
    void UpdateDerived() noexcept;

    TALWaveFormatExtensible FWaveFormat;   // guarded by the owner's lock
    TALFormatWriteSection FWriteSection;
    TChangeCallback FOnChange;
};

// The format with the number of frames per buffer its owner produces.
class TALAudioFormat : public TALAudioFormatBasic
{
public:
    // As the basic format, 1024 frames per buffer.
    explicit TALAudioFormat(TALFormatWriteSection writeSection = {}, TChangeCallback onChange = {});

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] std::uint32_t BufferSize() const noexcept { return FBufferSize; }
    // 0 becomes 1; an unchanged value does not call back.
    void SetBufferSize(std::uint32_t value);
protected:
    void AssignOwn(const TALAudioFormatBasic& source) override;
private:
    std::uint32_t FBufferSize = 1024;   // guarded by the owner's lock
};

}   // namespace harvolin
