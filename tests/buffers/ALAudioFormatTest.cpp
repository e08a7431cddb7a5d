#include "buffers/ALAudioFormat.h"
#include "rtl/Component.h"
#include "rtl/DescriptionReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

// Stands for the owner's lock: counts the write sections that are open.
class TFakeLockOwner
{
public:
    [[nodiscard]] std::shared_ptr<int> GetWriteLockSection()
    {
        ++FOpen;
        ++FTaken;
        return std::shared_ptr<int>(new int(0),
                                    [this](int* p)
                                    {
                                        --FOpen;
                                        delete p;
                                    });
    }
    int FOpen = 0;
    int FTaken = 0;
};

// A component holding a format as a class-typed property, as the converter does.
class TTestAudioHolder : public TComponent
{
public:
    explicit TTestAudioHolder(TComponent* owner) : TComponent(owner) {}

    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info(
            "TTestAudioHolder", &TComponent::StaticClassInfo(),
            TPropertyList<TTestAudioHolder>()
                .Object("AudioFormat", [](TTestAudioHolder& h) { return &h.AudioFormat; })
                .Take());
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    TALAudioFormat AudioFormat;
};

std::vector<std::uint8_t> RecordBytes(const TALAudioFormatBasic& format)
{
    std::vector<std::uint8_t> bytes(kALWaveFormatSize);
    std::memcpy(bytes.data(), &format.WaveFormat(), bytes.size());
    return bytes;
}

class ALAudioFormatTest : public ::testing::Test
{
protected:
    ALAudioFormatTest()
        : Format(WriteSectionOf(Lock),
                 [this](TALAudioFormatBasic& f)
                 {
                     EXPECT_EQ(&f, &Format);
                     EXPECT_EQ(Lock.FOpen, 1) << "the callback runs inside the setter's write section";
                     ++Calls;
                 })
    {
        Calls = 0;
    }

    TFakeLockOwner Lock;
    int Calls = 0;   // before Format: its constructor already calls back
    TALAudioFormat Format;
};

TEST_F(ALAudioFormatTest, DefaultRecordHasTheExactLittleEndianBytes)
{
    const std::vector<std::uint8_t> expected = {
        0xFE, 0xFF,                                       // extensible tag
        0x02, 0x00,                                       // 2 channels
        0x11, 0x2B, 0x00, 0x00,                           // 11025 frames per second
        0x44, 0xAC, 0x00, 0x00,                           // 44100 bytes per second
        0x04, 0x00,                                       // block align 4
        0x10, 0x00,                                       // 16-bit container
        0x16, 0x00,                                       // 22 extra bytes
        0x10, 0x00,                                       // 16 valid bits
        0x03, 0x00, 0x00, 0x00,                           // front left and right
        0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,   // PCM subformat
        0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    EXPECT_EQ(RecordBytes(Format), expected);
    EXPECT_EQ(Format.BufferSize(), 1024u);
}

TEST_F(ALAudioFormatTest, RecordFollowsARateOfOneHundredThousand)
{
    Format.SetChannels(2);
    Format.SetBits(16);
    Format.SetSampleRate(100000);
    const std::vector<std::uint8_t> bytes = RecordBytes(Format);
    const std::vector<std::uint8_t> rate(bytes.begin() + 4, bytes.begin() + 14);
    // 100000 = 0x186A0, 400000 = 0x61A80, then block align 4.
    EXPECT_EQ(rate, (std::vector<std::uint8_t>{0xA0, 0x86, 0x01, 0x00, 0x80, 0x1A, 0x06, 0x00, 0x04, 0x00}));
    EXPECT_EQ(bytes[0], 0xFE);
    EXPECT_EQ(bytes[16], 22);
}

TEST_F(ALAudioFormatTest, BitsBetweenMultiplesOfEightGetTheNextContainer)
{
    Format.SetBits(20);
    EXPECT_EQ(Format.WaveFormat().wBitsPerSample, 24);
    EXPECT_EQ(Format.WaveFormat().wValidBitsPerSample, 20);
    EXPECT_EQ(Format.WaveFormat().nBlockAlign, 6);
    EXPECT_EQ(Format.WaveFormat().nAvgBytesPerSec, 6u * 11025);
}

struct TClampCase
{
    const char* Name;
    std::uint32_t Channels;
    std::uint32_t Bits;
    std::uint32_t BufferSize;
    std::uint32_t ExpectedChannels;
    std::uint32_t ExpectedBits;
    std::uint32_t ExpectedBufferSize;
};

class ALAudioFormatClampTest : public ::testing::TestWithParam<TClampCase>
{
};

TEST_P(ALAudioFormatClampTest, OutOfRangeValuesAreClampedAndTheRecordFollows)
{
    const TClampCase& c = GetParam();
    TALAudioFormat format;
    format.SetChannels(c.Channels);
    format.SetBits(c.Bits);
    format.SetBufferSize(c.BufferSize);
    EXPECT_EQ(format.Channels(), c.ExpectedChannels);
    EXPECT_EQ(format.Bits(), c.ExpectedBits);
    EXPECT_EQ(format.BufferSize(), c.ExpectedBufferSize);
    EXPECT_EQ(format.WaveFormat().nBlockAlign, ContainerBits(c.ExpectedBits) / 8 * c.ExpectedChannels);
}

INSTANTIATE_TEST_SUITE_P(Limits, ALAudioFormatClampTest,
                         ::testing::Values(TClampCase{"ZeroChannelsBecomeOne", 0, 16, 1024, 1, 16, 1024},
                                           TClampCase{"FortyChannelsBecomeThirtyTwo", 40, 16, 1024, 32, 16,
                                                      1024},
                                           TClampCase{"FourBitsBecomeEight", 2, 4, 1024, 2, 8, 1024},
                                           TClampCase{"FortyBitsBecomeThirtyTwo", 2, 40, 1024, 2, 32, 1024},
                                           TClampCase{"ZeroFramesBecomeOne", 2, 16, 0, 2, 16, 1},
                                           TClampCase{"InRangeValuesStay", 7, 24, 333, 7, 24, 333}),
                         [](const auto& testCase) { return std::string(testCase.param.Name); });

TEST_F(ALAudioFormatTest, ChannelsBitsAndBufferSizeCallBackOnlyWhenTheValueChanges)
{
    Format.SetChannels(2);
    Format.SetChannels(0);   // clamped to 1: a change
    Format.SetChannels(1);
    Format.SetBits(16);
    Format.SetBits(3);   // clamped to 8: a change
    Format.SetBits(8);
    Format.SetBufferSize(1024);
    Format.SetBufferSize(0);   // clamped to 1: a change
    Format.SetBufferSize(1);
    EXPECT_EQ(Calls, 3);
}

TEST_F(ALAudioFormatTest, SampleRateAndChannelMaskCallBackEvenWhenUnchanged)
{
    Format.SetSampleRate(Format.SampleRate());
    Format.SetChannelMask(Format.ChannelMask());
    EXPECT_EQ(Calls, 2);
    EXPECT_EQ(Format.SampleRate(), 11025u);
}

TEST_F(ALAudioFormatTest, EverySetterRunsInsideTheOwnersWriteSection)
{
    const int before = Lock.FTaken;
    Format.SetChannels(2);   // unchanged: still locked while it compares
    Format.SetSampleRate(8000);
    Format.SetBufferSize(5);
    EXPECT_EQ(Lock.FTaken - before, 3);
    EXPECT_EQ(Lock.FOpen, 0);
}

TEST_F(ALAudioFormatTest, AssignCopiesTheValuesAndCallsBackOnce)
{
    TALAudioFormat source;
    source.SetChannels(6);
    source.SetBits(24);
    source.SetSampleRate(48000);
    source.SetChannelMask(TALSpeakers::FromMask(0x3F));
    source.SetBufferSize(256);
    Format.Assign(source);
    EXPECT_EQ(Format.WaveFormat(), source.WaveFormat());
    EXPECT_EQ(Format.BufferSize(), 256u);
    EXPECT_EQ(Calls, 1);
}

TEST_F(ALAudioFormatTest, AssignFromAnotherClassRaisesAndChangesNothing)
{
    TTestAudioHolder other(nullptr);
    const TALWaveFormatExtensible before = Format.WaveFormat();
    EXPECT_THROW(Format.Assign(other), EConvertError);
    EXPECT_EQ(Format.WaveFormat(), before);
    EXPECT_EQ(Calls, 0);
}

TEST_F(ALAudioFormatTest, StoredDescriptionSetsTheFormatOfAComponent)
{
    RegisterComponentClass<TTestAudioHolder>();
    const TComponentPtr<TComponent> read = ReadComponent("object Holder1: TTestAudioHolder\n"
                                                         "  AudioFormat.SampleRate = 44100\n"
                                                         "  AudioFormat.Channels = 1\n"
                                                         "  AudioFormat.ChannelMask = [spFrontCenter]\n"
                                                         "  AudioFormat.BufferSize = 512\n"
                                                         "end\n");
    const auto& holder = dynamic_cast<const TTestAudioHolder&>(*read);
    EXPECT_EQ(holder.AudioFormat.SampleRate(), 44100u);
    EXPECT_EQ(holder.AudioFormat.WaveFormat().nAvgBytesPerSec, 88200u);
    EXPECT_EQ(holder.AudioFormat.ChannelMask(), TALSpeakers{TALSpeaker::spFrontCenter});
    EXPECT_EQ(holder.AudioFormat.BufferSize(), 512u);
}

TEST_F(ALAudioFormatTest, PropertyPathSetsTheRateAndRefusesValuesOutsideThirtyTwoBits)
{
    TTestAudioHolder holder(nullptr);
    TPersistent& format = ResolvePropertyPath(holder, {"AudioFormat"});
    const TPropertyInfo* rate = format.ClassInfo().FindProperty("SampleRate");
    ASSERT_NE(rate, nullptr);
    rate->Set(format, TDescValue::Integer(3000000000));
    EXPECT_EQ(holder.AudioFormat.SampleRate(), 3000000000u);
    EXPECT_THROW(rate->Set(format, TDescValue::Integer(-1)), EReadError);
    EXPECT_THROW(rate->Set(format, TDescValue::Integer(4294967296)), EReadError);
    EXPECT_EQ(holder.AudioFormat.SampleRate(), 3000000000u);
}

TEST_F(ALAudioFormatTest, UnknownSpeakerNameIsRefusedAndTheMaskKept)
{
    const TPropertyInfo* mask = Format.ClassInfo().FindProperty("ChannelMask");
    ASSERT_NE(mask, nullptr);
    EXPECT_THROW(mask->Set(Format, TDescValue::Set({"spFrontCenter", "spNowhere"})), EReadError);
    EXPECT_EQ(Format.ChannelMask().Mask(), 3u);
}

TEST_F(ALAudioFormatTest, DefaultsAreNotStoredAndChangedValuesAre)
{
    Format.SetSampleRate(100000);
    for (const TPropertyInfo* property : Format.ClassInfo().Properties())
    {
        ASSERT_TRUE(property->Default.has_value()) << property->Name;
        EXPECT_EQ(property->Get(Format) == *property->Default, property->Name != "SampleRate")
            << property->Name;
    }
}

TEST_F(ALAudioFormatTest, ChannelsArePairedBySpeakerPositionInSpeakerOrder)
{
    // Source: front left, front right, subwoofer. Destination: front right, subwoofer, back left.
    const std::vector<TALChannelPair> pairs = PairChannelsBySpeaker(0b1011, 3, 0b11010, 3);
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].SourceChannel, 1u);
    EXPECT_EQ(pairs[0].DestinationChannel, 0u);
    EXPECT_EQ(pairs[1].SourceChannel, 2u);
    EXPECT_EQ(pairs[1].DestinationChannel, 1u);
    EXPECT_EQ(ChannelOfSpeaker(0b11010, TALSpeaker::spBackLeft), 2);
    EXPECT_EQ(ChannelOfSpeaker(0b11010, TALSpeaker::spFrontLeft), -1);
}

TEST_F(ALAudioFormatTest, MaskPositionsBeyondTheChannelCountAreNotPaired)
{
    // A stereo mask on a one-channel buffer: its second position has no channel to read.
    const std::vector<TALChannelPair> pairs = PairChannelsBySpeaker(0b11, 1, 0b11, 2);
    ASSERT_EQ(pairs.size(), 1u);
    EXPECT_EQ(pairs[0].SourceChannel, 0u);
    EXPECT_EQ(pairs[0].DestinationChannel, 0u);
}

}   // namespace
}   // namespace harvolin
