#pragma once
#include "pins/SLStreamTypes.h"
#include <array>
#include <cstdint>

namespace harvolin
{

// The audio stream type: interleaved audio buffers, delivered by the stream handler.
inline constexpr TGUID kALAudioStreamType = MakeGuid("{1D5BD085-492E-4979-8F76-9C97D5C3C5B6}");

// Registers the stream handler for the audio type; repeating it changes nothing.
void RegisterAudioStreamTypes();

// The extensible wave format as the audio interfaces lay it out: 40 bytes, little-endian.
using TALWaveFormatBytes = std::array<std::uint8_t, 40>;

// The audio stream starts: the start-sample-rate part (block size and rate) and the wave format. Without a
// format the record holds the defaults: extensible tag, 2 channels, 11024 samples per second (independent of
// the rate argument), 44096 bytes per second, block align 4, 16 bits, extra size 22, 16 valid bits, mask 3,
// integer PCM.
class TOWStartWaveOperation final : public TOWStartSampleRateOperation
{
public:
    TOWStartWaveOperation(std::int32_t bufferSize, const TALWaveFormatBytes* format,
                          float sampleRate) noexcept;

    [[nodiscard]] const TALWaveFormatBytes& Format() const noexcept { return FFormat; }
    [[nodiscard]] std::uint16_t FormatTag() const noexcept { return U16(0); }
    [[nodiscard]] std::uint16_t Channels() const noexcept { return U16(2); }
    [[nodiscard]] std::uint32_t SamplesPerSec() const noexcept { return U32(4); }
    [[nodiscard]] std::uint32_t AvgBytesPerSec() const noexcept { return U32(8); }
    [[nodiscard]] std::uint16_t BlockAlign() const noexcept { return U16(12); }
    [[nodiscard]] std::uint16_t BitsPerSample() const noexcept { return U16(14); }
    [[nodiscard]] std::uint16_t ExtraSize() const noexcept { return U16(16); }
    [[nodiscard]] std::uint16_t ValidBitsPerSample() const noexcept { return U16(18); }
    [[nodiscard]] std::uint32_t ChannelMask() const noexcept { return U32(20); }
    [[nodiscard]] TGUID SubFormat() const noexcept;

    // The default record.
    [[nodiscard]] static TALWaveFormatBytes DefaultFormat() noexcept;
private:
    [[nodiscard]] std::uint16_t U16(std::size_t at) const noexcept
    {
        return static_cast<std::uint16_t>(FFormat[at] | (FFormat[at + 1] << 8));
    }
    [[nodiscard]] std::uint32_t U32(std::size_t at) const noexcept
    {
        return static_cast<std::uint32_t>(U16(at)) | (static_cast<std::uint32_t>(U16(at + 2)) << 16);
    }

    TALWaveFormatBytes FFormat;
};

// The integer PCM sub-format.
inline constexpr TGUID kALPcmSubFormat = MakeGuid("{00000001-0000-0010-8000-00AA00389B71}");

// The converter's output: a signal source of audio buffers that also keeps the last resume and replays it,
// after the kept start, to a sink joining a running stream.
class TALOWAudioSourcePin final : public TSLOWSourcePin
{
public:
    TALOWAudioSourcePin(TComponent* owner, TSLOperationHandler onOperation);
    ~TALOWAudioSourcePin() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    [[nodiscard]] IOWInterface* QueryInterface(const TGUID& iid) override;

    bool Notify(const TRefPtr<TOWNotifyOperation>& operation) override;
    void AddSink(TOWSinkPin* sink) override;
    [[nodiscard]] TRefPtr<TOWNotifyOperation> LastResume();
    void SetOnOperation(TSLOperationHandler handler) { FOnOperation = std::move(handler); }
protected:
    bool StreamOperation(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                         std::uint32_t flags) override;
private:
    TSLOperationHandler FOnOperation;
    TRefPtr<TOWNotifyOperation> FLastResume;   // guarded by the pin's group lock
};

// The audio output's input.
class TALOWAudioSinkPin final : public TSLOWSinkPin
{
public:
    TALOWAudioSinkPin(TComponent* owner, TSLOperationHandler onOperation);
    ~TALOWAudioSinkPin() override;

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
