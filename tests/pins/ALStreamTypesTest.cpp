#include "pins/ALStreamTypes.h"
#include "pins/OWTypeRegistry.h"
#include "rtl/Component.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

class ALStreamTypesTest : public ::testing::Test
{
protected:
    // An audio output's input that records the kinds it receives.
    struct TRecordingSink
    {
        explicit TRecordingSink(TComponent* owner)
            : Pin(owner,
                  [this](TOWPin*, const TGUID&, std::uint32_t flags,
                         const TRefPtr<TOWNotifyOperation>& operation)
                  {
                      if ((flags & kOWConnectionNotice) != 0)
                          return false;
                      Kinds.push_back(Is<TOWStartWaveOperation>(*operation)  ? "start"
                                      : Is<TOWSLResumeOperation>(*operation) ? "resume"
                                      : Is<TOWStopOperation>(*operation)     ? "stop"
                                      : Is<TOWSuppliedOperation>(*operation) ? "data"
                                                                             : "other");
                      return true;
                  })
        {
        }
        // Before the pin: its last stop, as it disconnects on destruction, still finds the record.
        std::vector<std::string> Kinds;
        TALOWAudioSinkPin Pin;
    };

    TComponentPtr<TComponent> FOwner = MakeComponent<TComponent>();
    TALOWAudioSourcePin FSource{FOwner.get(), {}};
};

TEST_F(ALStreamTypesTest, AStartWaveWithoutFormatCarriesTheDefaultRecord)
{
    const TOWStartWaveOperation start(1024, nullptr, 100000.0f);
    EXPECT_EQ(start.FormatTag(), 65534);
    EXPECT_EQ(start.Channels(), 2);
    EXPECT_EQ(start.SamplesPerSec(), 11024u);
    EXPECT_EQ(start.AvgBytesPerSec(), 44096u);
    EXPECT_EQ(start.BlockAlign(), 4);
    EXPECT_EQ(start.BitsPerSample(), 16);
    EXPECT_EQ(start.ExtraSize(), 22);
    EXPECT_EQ(start.ValidBitsPerSample(), 16);
    EXPECT_EQ(start.ChannelMask(), 3u);
    EXPECT_EQ(start.SubFormat(), kALPcmSubFormat);
    // The sub-format's bytes as the audio interfaces read them.
    EXPECT_EQ(
        std::vector<std::uint8_t>(start.Format().begin() + 24, start.Format().end()),
        (std::vector<std::uint8_t>{0x01, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}));
    EXPECT_FLOAT_EQ(start.Rate(), 100000.0f / 1024.0f);
    EXPECT_TRUE(Is<TOWStartSampleRateOperation>(start));
}

TEST_F(ALStreamTypesTest, AGivenFormatTravelsUnchangedWhateverTheRate)
{
    TALWaveFormatBytes record{};
    for (std::size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<std::uint8_t>(i * 7);
    const TOWStartWaveOperation start(512, &record, 8000.0f);
    EXPECT_EQ(start.Format(), record);
    EXPECT_EQ(start.BufferSize(), 512);
    EXPECT_EQ(start.SampleRate(), 8000.0);
}

TEST_F(ALStreamTypesTest, ASinkJoiningAPlayingStreamGetsStartThenResume)
{
    TRecordingSink early(FOwner.get());
    ASSERT_TRUE(early.Pin.Connect(&FSource));
    EXPECT_EQ(early.Pin.LinkType(), kALAudioStreamType);
    FSource.Notify(MakeRef<TOWStartWaveOperation>(1024, nullptr, 100000.0f));
    FSource.Notify(MakeRef<TOWSLResumeOperation>());
    TRecordingSink late(FOwner.get());
    ASSERT_TRUE(late.Pin.Connect(&FSource));
    EXPECT_EQ(late.Kinds, (std::vector<std::string>{"start", "resume"}));
    FSource.SendStop();
    EXPECT_FALSE(FSource.LastResume());
    EXPECT_FALSE(FSource.LastStart());
    TRecordingSink afterStop(FOwner.get());
    ASSERT_TRUE(afterStop.Pin.Connect(&FSource));
    EXPECT_TRUE(afterStop.Kinds.empty());
    EXPECT_EQ(early.Kinds, (std::vector<std::string>{"start", "resume", "stop"}));
}

TEST_F(ALStreamTypesTest, AForwardedStartReachesTheSinksButNeverReplacesTheKeptStart)
{
    TRecordingSink early(FOwner.get());
    ASSERT_TRUE(early.Pin.Connect(&FSource));
    FSource.ForwardStart(MakeRef<TOWStartSampleRateOperation>(1024, 100000.0));
    EXPECT_FALSE(FSource.LastStart());
    const auto wave = MakeRef<TOWStartWaveOperation>(1024, nullptr, 100000.0f);
    FSource.Notify(wave);
    FSource.ForwardStart(MakeRef<TOWStartSampleRateOperation>(1024, 100000.0));
    EXPECT_EQ(early.Kinds, (std::vector<std::string>{"other", "start", "other"}));
    EXPECT_EQ(FSource.LastStart().Get(), wave.Get());
    TRecordingSink late(FOwner.get());
    ASSERT_TRUE(late.Pin.Connect(&FSource));
    EXPECT_EQ(late.Kinds, (std::vector<std::string>{"start"}));
}

}   // namespace
}   // namespace harvolin
