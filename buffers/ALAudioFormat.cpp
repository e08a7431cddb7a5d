#include "buffers/ALAudioFormat.h"

#include <algorithm>
#include <limits>
#include <string>

namespace harvolin
{
namespace
{

// An unsigned 32-bit published property. The generic integer property takes signed 32-bit values only,
// which would refuse rates above 2^31 and silently turn -1 into 4294967295; this one refuses exactly what
// does not fit.
template <class T, class TGet, class TSet>
TPropertyInfo UnsignedProperty(std::string name, TGet get, TSet set, std::uint32_t defaultValue)
{
    TPropertyInfo info;
    info.Name = name;
    info.Kind = TPropertyKind::pkInteger;
    info.Get = [get](const TPersistent& o) { return TDescValue::Integer(get(static_cast<const T&>(o))); };
    info.Set = [set, name](TPersistent& o, const TDescValue& v)
    {
        const std::int64_t value = v.AsInteger();
        if (value < 0 || value > std::int64_t{std::numeric_limits<std::uint32_t>::max()})
            throw EReadError(std::to_string(value) + " is out of the range of " + name +
                             " (0 to 4294967295)");
        set(static_cast<T&>(o), static_cast<std::uint32_t>(value));
    };
    info.Default = TDescValue::Integer(defaultValue);
    return info;
}

TDescValue SpeakersValue(TALSpeakers speakers)
{
    std::vector<std::string> names;
    for (std::uint32_t i = 0; i < kALSpeakerCount; ++i)
        if (speakers.Contains(static_cast<TALSpeaker>(i)))
            names.emplace_back(SpeakerNames()[i]);
    return TDescValue::Set(std::move(names));
}

TALSpeakers SpeakersFromValue(const TDescValue& value)
{
    TALSpeakers speakers;
    for (const std::string& element : value.AsSet())
    {
        const auto& names = SpeakerNames();
        const auto found = std::find(names.begin(), names.end(), element);
        if (found == names.end())
            throw EReadError("'" + element + "' is not a speaker position of ChannelMask");
        speakers.Include(static_cast<TALSpeaker>(found - names.begin()));
    }
    return speakers;
}

}   // namespace

const std::array<const char*, kALSpeakerCount>& SpeakerNames() noexcept
{
    static const std::array<const char*, kALSpeakerCount> names = {
        "spFrontLeft",   "spFrontRight",        "spFrontCenter",        "spSubwoofer",      "spBackLeft",
        "spBackRight",   "spFrontLeftOfCenter", "spFrontRightOfCenter", "spBackCenter",     "spSideLeft",
        "spSideRight",   "spTopCenter",         "spTopFrontLeft",       "spTopFrontCenter", "spTopFrontRight",
        "spTopBackLeft", "spTopBackCenter",     "spTopBackRight"};
    return names;
}

std::int32_t ChannelOfSpeaker(std::uint32_t mask, TALSpeaker speaker) noexcept
{
    const std::uint32_t bit = 1u << static_cast<std::uint32_t>(speaker);
    if ((mask & bit) == 0)
        return -1;
    return std::popcount(mask & (bit - 1));
}

std::vector<TALChannelPair> PairChannelsBySpeaker(std::uint32_t sourceMask, std::uint32_t sourceChannels,
                                                  std::uint32_t destinationMask,
                                                  std::uint32_t destinationChannels)
{
    std::vector<TALChannelPair> pairs;
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
    for (std::uint32_t position = 0; position < kALSpeakerCount; ++position)
    {
        const std::uint32_t bit = 1u << position;
        const bool inSource = (sourceMask & bit) != 0;
        const bool inDestination = (destinationMask & bit) != 0;
        if (inSource && inDestination && source < sourceChannels && destination < destinationChannels)
            pairs.push_back({source, destination});
        if (inSource)
            ++source;
        if (inDestination)
            ++destination;
    }
    return pairs;
}

// ---- TALAudioFormatBasic

TALAudioFormatBasic::TALAudioFormatBasic(TALFormatWriteSection writeSection, TChangeCallback onChange)
    : FWriteSection(std::move(writeSection)), FOnChange(std::move(onChange))
{
    FWaveFormat.wFormatTag = kALWaveFormatExtensible;
    FWaveFormat.cbSize = kALWaveFormatExtraSize;
    FWaveFormat.SubFormat = kALSubFormatPcm;
    SetChannels(2);
    SetBits(16);
    SetSampleRate(11025);
    SetChannelMask({TALSpeaker::spFrontLeft, TALSpeaker::spFrontRight});
}

const TClassInfo& TALAudioFormatBasic::StaticClassInfo()
{
    static const TClassInfo info = []
    {
        using T = TALAudioFormatBasic;
        std::vector<TPropertyInfo> properties;
        properties.push_back(UnsignedProperty<T>(
            "Channels", [](const T& f) { return f.Channels(); },
            [](T& f, std::uint32_t v) { f.SetChannels(v); }, 2));
        properties.push_back(UnsignedProperty<T>(
            "Bits", [](const T& f) { return f.Bits(); }, [](T& f, std::uint32_t v) { f.SetBits(v); }, 16));
        properties.push_back(UnsignedProperty<T>(
            "SampleRate", [](const T& f) { return f.SampleRate(); },
            [](T& f, std::uint32_t v) { f.SetSampleRate(v); }, 11025));
        TPropertyInfo mask;
        mask.Name = "ChannelMask";
        mask.Kind = TPropertyKind::pkSet;
        mask.Get = [](const TPersistent& o) { return SpeakersValue(static_cast<const T&>(o).ChannelMask()); };
        // The whole set is read before anything is stored, so a bad element leaves the mask as it was.
        mask.Set = [](TPersistent& o, const TDescValue& v)
        { static_cast<T&>(o).SetChannelMask(SpeakersFromValue(v)); };
        mask.Default = SpeakersValue({TALSpeaker::spFrontLeft, TALSpeaker::spFrontRight});
        properties.push_back(std::move(mask));
        return TClassInfo("TALAudioFormatBasic", &TPersistent::StaticClassInfo(), std::move(properties));
    }();
    return info;
}

void TALAudioFormatBasic::SetChannels(std::uint32_t value)
{
    Locked(
        [&]
        {
            const std::uint32_t channels = std::clamp<std::uint32_t>(value, 1, 32);
            if (channels == FWaveFormat.nChannels)
                return;
            FWaveFormat.nChannels = static_cast<std::uint16_t>(channels);
            UpdateDerived();
            Changed();
        });
}

void TALAudioFormatBasic::SetBits(std::uint32_t value)
{
    Locked(
        [&]
        {
            const std::uint32_t bits = std::clamp<std::uint32_t>(value, 8, 32);
            if (bits == FWaveFormat.wValidBitsPerSample)
                return;
            FWaveFormat.wValidBitsPerSample = static_cast<std::uint16_t>(bits);
            UpdateDerived();
            Changed();
        });
}

void TALAudioFormatBasic::SetSampleRate(std::uint32_t value)
{
    Locked(
        [&]
        {
            FWaveFormat.nSamplesPerSec = value;
            UpdateDerived();
            Changed();
        });
}

void TALAudioFormatBasic::SetChannelMask(TALSpeakers value)
{
    Locked(
        [&]
        {
            FWaveFormat.dwChannelMask = value.Mask();
            UpdateDerived();
            Changed();
        });
}

void TALAudioFormatBasic::Assign(const TPersistent& source)
{
    const auto* format = dynamic_cast<const TALAudioFormatBasic*>(&source);
    if (format == nullptr)
    {
        TPersistent::Assign(source);
        return;
    }
    if (format == this)
        return;
    Locked(
        [&]
        {
            FWaveFormat = format->FWaveFormat;
            AssignOwn(*format);
            Changed();
        });
}

void TALAudioFormatBasic::AssignOwn(const TALAudioFormatBasic&) {}

void TALAudioFormatBasic::Changed()
{
    if (FOnChange)
        FOnChange(*this);
}

void TALAudioFormatBasic::UpdateDerived() noexcept
{
    FWaveFormat.wFormatTag = kALWaveFormatExtensible;
    FWaveFormat.wBitsPerSample = static_cast<std::uint16_t>(ContainerBits(FWaveFormat.wValidBitsPerSample));
    FWaveFormat.nBlockAlign =
        static_cast<std::uint16_t>((FWaveFormat.wBitsPerSample / 8) * FWaveFormat.nChannels);
    // Wraps for rates beyond 33 million frames a second, as the 32-bit field of the record must.
    FWaveFormat.nAvgBytesPerSec = std::uint32_t{FWaveFormat.nBlockAlign} * FWaveFormat.nSamplesPerSec;
    FWaveFormat.cbSize = kALWaveFormatExtraSize;
    FWaveFormat.SubFormat = kALSubFormatPcm;
}

// ---- TALAudioFormat

TALAudioFormat::TALAudioFormat(TALFormatWriteSection writeSection, TChangeCallback onChange)
    : TALAudioFormatBasic(std::move(writeSection), std::move(onChange))
{
}

const TClassInfo& TALAudioFormat::StaticClassInfo()
{
    static const TClassInfo info = []
    {
        using T = TALAudioFormat;
        std::vector<TPropertyInfo> properties;
        properties.push_back(UnsignedProperty<T>(
            "BufferSize", [](const T& f) { return f.BufferSize(); },
            [](T& f, std::uint32_t v) { f.SetBufferSize(v); }, 1024));
        return TClassInfo("TALAudioFormat", &TALAudioFormatBasic::StaticClassInfo(), std::move(properties));
    }();
    return info;
}

void TALAudioFormat::SetBufferSize(std::uint32_t value)
{
    Locked(
        [&]
        {
            const std::uint32_t size = std::max<std::uint32_t>(value, 1);
            if (size == FBufferSize)
                return;
            FBufferSize = size;
            Changed();
        });
}

void TALAudioFormat::AssignOwn(const TALAudioFormatBasic& source)
{
    if (const auto* format = dynamic_cast<const TALAudioFormat*>(&source))
        FBufferSize = format->FBufferSize;
}

}   // namespace harvolin
