#include "convert/ALRealToAudio.h"
#include "buffers/ALSampleConvert.h"
#include "gen/SLSignalGen.h"
#include "gen/SLWaveform.h"
#include "pins/ALStreamTypes.h"
#include "pins/SLStreamTypes.h"
#include "rtl/DescriptionReader.h"
#include "rtl/Rounding.h"
#include "tests/support/TestThreads.h"
#include <algorithm>
#include <cfenv>
#include <cmath>
#include <condition_variable>
#include <gtest/gtest.h>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

// The audio output's place: records what the converter sends, from whatever thread sends it.
class TAudioSink final : public TComponent
{
public:
    explicit TAudioSink(TComponent* owner) : TComponent(owner) {}
    // Before the record goes: the stop that a disconnection brings still reaches it.
    ~TAudioSink() override { InputPin.Disconnect(); }

    static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info(
            "TAudioSink", &TComponent::StaticClassInfo(),
            TPropertyList<TAudioSink>().Object("InputPin", [](TAudioSink& s) { return &s.InputPin; }).Take());
        return info;
    }
    const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    std::vector<std::string> Kinds()
    {
        std::lock_guard lock(FLock);
        return FKinds;
    }
    std::vector<TRefPtr<TALAudioBuffer>> Buffers()
    {
        std::lock_guard lock(FLock);
        return FBuffers;
    }
    int RoomQueries()
    {
        std::lock_guard lock(FLock);
        return FRoomQueries;
    }
    std::vector<TRefPtr<TOWStartWaveOperation>> Starts()
    {
        std::lock_guard lock(FLock);
        return FStarts;
    }
    // Woken by each recorded operation, not polled; false when kPatience ran out first.
    bool WaitForBuffers(std::size_t count)
    {
        std::unique_lock lock(FLock);
        return FRecorded.wait_for(lock, kPatience, [&] { return FBuffers.size() >= count; });
    }

    TALOWAudioSinkPin InputPin{
        this, [this](TOWPin*, const TGUID&, std::uint32_t flags, const TRefPtr<TOWNotifyOperation>& operation)
        {
            if ((flags & kOWConnectionNotice) == 0)
                Record(operation);
            return true;
        }};
private:
    void Record(const TRefPtr<TOWNotifyOperation>& operation)
    {
        // A producer's question whether there is room for a block is no part of the stream.
        if (Is<TOWRoomQueryOperation>(*operation))
        {
            ++FRoomQueries;
            return;
        }
        std::lock_guard lock(FLock);
        if (auto wave = RefCast<TOWStartWaveOperation>(operation))
        {
            FKinds.push_back("startwave");
            FStarts.push_back(wave);
        }
        else if (Is<TOWStartSampleRateOperation>(*operation))
            FKinds.push_back("start");
        else if (auto supplied = RefCast<TOWSuppliedBufferOperation>(operation))
        {
            FKinds.push_back("data");
            FBuffers.push_back(RefCast<TALAudioBuffer>(supplied->Buffer()));
        }
        else if (Is<TOWSLResumeOperation>(*operation))
            FKinds.push_back("resume");
        else if (Is<TOWStopOperation>(*operation))
            FKinds.push_back("stop");
        else if (Is<TOWPumpRequestOperation>(*operation))
            FKinds.push_back("pump");
        else
            FKinds.push_back("other");
        FRecorded.notify_all();
    }

    std::mutex FLock;
    std::condition_variable FRecorded;
    std::vector<std::string> FKinds;
    std::vector<TRefPtr<TALAudioBuffer>> FBuffers;
    std::vector<TRefPtr<TOWStartWaveOperation>> FStarts;
    int FRoomQueries = 0;
};

// An upstream source a test drives by hand.
class TRealSource final : public TComponent
{
public:
    explicit TRealSource(TComponent* owner) : TComponent(owner) {}
    void Start(std::int32_t size, double rate)
    {
        OutputPin.Notify(MakeRef<TOWStartSampleRateOperation>(size, rate));
    }
    void Send(const std::vector<double>& samples)
    {
        auto buffer = MakeRef<TSLRealBuffer>(static_cast<std::uint32_t>(samples.size()));
        std::copy(samples.begin(), samples.end(), buffer->GetWrite());
        OutputPin.SendData(buffer);
    }
    TSLOWRealSourcePin OutputPin{
        this, [this](TOWPin*, const TGUID&, std::uint32_t, const TRefPtr<TOWNotifyOperation>& operation)
        {
            Requests += Is<TOWMasterPumpOperation>(*operation) ? 1 : 0;
            return false;
        }};
    int Requests = 0;
};

std::vector<double> Ramp(std::size_t n, double first, double step = 1.0)
{
    std::vector<double> samples(n);
    for (std::size_t i = 0; i < n; ++i)
        samples[i] = first + step * static_cast<double>(i);
    return samples;
}

class ALRealToAudioTest : public ::testing::Test
{
protected:
    ALRealToAudioTest()
    {
        FConverter.AudioFormat.SetBufferSize(4);
        EXPECT_TRUE(FConverter.InputPin(0).Connect(&FLeft.OutputPin));
        EXPECT_TRUE(FConverter.InputPin(1).Connect(&FRight.OutputPin));
        EXPECT_TRUE(FSink.InputPin.Connect(&FConverter.OutputPin));
    }
    static std::vector<std::int32_t> Channel(TALAudioBuffer& buffer, std::int32_t channel)
    {
        std::vector<std::int32_t> samples;
        for (std::uint32_t frame = 0; frame < buffer.GetSize(); ++frame)
            samples.push_back(buffer.GetSample(static_cast<std::int32_t>(frame), channel));
        return samples;
    }

    TComponentPtr<TComponent> FOwner = MakeComponent<TComponent>();
    TRealSource& FLeft = CreateComponent<TRealSource>(*FOwner);
    TRealSource& FRight = CreateComponent<TRealSource>(*FOwner);
    TALRealToAudio& FConverter = CreateComponent<TALRealToAudio>(*FOwner);
    TAudioSink& FSink = CreateComponent<TAudioSink>(*FOwner);
};

TEST_F(ALRealToAudioTest, TheStreamIsAnnouncedOnceEveryInputHasStartedAtTheHighestRate)
{
    EXPECT_EQ(FConverter.InputPins.Count(), 2u);
    FLeft.Start(4, 100000.0);
    EXPECT_TRUE(FSink.Starts().empty());
    FRight.Start(4, 100000.0);
    const auto starts = FSink.Starts();
    ASSERT_EQ(starts.size(), 1u);
    const auto& wave = starts[0];
    EXPECT_FLOAT_EQ(static_cast<float>(wave->SampleRate()), 100000.0f);
    EXPECT_EQ(wave->SamplesPerSec(), 100000u);
    EXPECT_EQ(wave->Channels(), 2);
    EXPECT_EQ(wave->BitsPerSample(), 16);
    EXPECT_EQ(FConverter.AudioFormat.SampleRate(), 100000u);
    EXPECT_TRUE(FConverter.Started());
}

TEST_F(ALRealToAudioTest, EachPairOfBlocksBecomesOneInterleavedBufferRoundedHalfToEven)
{
    FLeft.Start(4, 100000.0);
    FRight.Start(4, 100000.0);
    FLeft.Send({1.5, 2.5, -1.5, 40000.0});
    EXPECT_TRUE(FSink.Buffers().empty());
    FRight.Send({0.0, 1.0, -2.0, -3.0});
    ASSERT_EQ(FSink.Buffers().size(), 1u);
    TALAudioBuffer& out = *FSink.Buffers()[0];
    EXPECT_EQ(out.GetSize(), 4u);
    EXPECT_EQ(Channel(out, 0), (std::vector<std::int32_t>{2, 2, -2, -25536}));
    EXPECT_EQ(Channel(out, 1), (std::vector<std::int32_t>{0, 1, -2, -3}));
}

TEST_F(ALRealToAudioTest, ASlowerInputIsStretchedToTheOutputBlock)
{
    FLeft.Start(4, 100000.0);
    FRight.Start(2, 50000.0);
    EXPECT_EQ(FConverter.InputPin(0).BlockSize(), 4u);
    EXPECT_EQ(FConverter.InputPin(1).BlockSize(), 2u);
    FLeft.Send(Ramp(4, 10.0));
    FRight.Send({7.0, 9.0});
    ASSERT_EQ(FSink.Buffers().size(), 1u);
    // Positions 0, 0.25, 0.5 and 0.75 pick indices 0, 0, 0 (a half to even) and 1.
    EXPECT_EQ(Channel(*FSink.Buffers()[0], 1), (std::vector<std::int32_t>{7, 7, 7, 9}));
}

TEST_F(ALRealToAudioTest, ThreeBuffersArePrimedBeforeExactlyOneResume)
{
    FLeft.Start(4, 100000.0);
    FRight.Start(4, 100000.0);
    FLeft.OutputPin.Notify(MakeRef<TOWSLResumeOperation>());   // held back: not primed yet
    for (int block = 0; block < 4; ++block)
    {
        FLeft.Send(Ramp(4, 0.0));
        FRight.Send(Ramp(4, 0.0));
    }
    FLeft.OutputPin.Notify(MakeRef<TOWSLResumeOperation>());   // primed: passed on
    // Each input's start passes on; the stream is announced when the last input has started.
    EXPECT_EQ(FSink.Kinds(), (std::vector<std::string>{"start", "startwave", "start", "data", "data", "data",
                                                       "resume", "data", "resume"}));
}

TEST_F(ALRealToAudioTest, ASinkLinkedMidStreamIsReplayedTheStartWaveNeverAnInputsStart)
{
    FLeft.Start(4, 100000.0);
    auto& beforeAnnounce = CreateComponent<TAudioSink>(*FOwner);
    ASSERT_TRUE(beforeAnnounce.InputPin.Connect(&FConverter.OutputPin));
    EXPECT_TRUE(beforeAnnounce.Kinds().empty());   // half the inputs started: no stream yet
    FRight.Start(4, 100000.0);
    auto& beforeResume = CreateComponent<TAudioSink>(*FOwner);
    ASSERT_TRUE(beforeResume.InputPin.Connect(&FConverter.OutputPin));
    for (int block = 0; block < 3; ++block)
    {
        FLeft.Send(Ramp(4, 0.0));
        FRight.Send(Ramp(4, 0.0));
    }
    EXPECT_EQ(beforeAnnounce.Kinds(),
              (std::vector<std::string>{"startwave", "start", "data", "data", "data", "resume"}));
    EXPECT_EQ(beforeResume.Kinds(),
              (std::vector<std::string>{"startwave", "data", "data", "data", "resume"}));
    ASSERT_EQ(beforeResume.Starts().size(), 1u);
    EXPECT_EQ(beforeResume.Starts()[0], FSink.Starts().at(0));
}

TEST_F(ALRealToAudioTest, AStopThenNewStartsAnnounceTheStreamAgain)
{
    FLeft.Start(4, 100000.0);
    FRight.Start(4, 100000.0);
    FLeft.OutputPin.SendStop();
    EXPECT_FALSE(FConverter.Started());
    const auto kinds = FSink.Kinds();
    EXPECT_EQ(std::vector<std::string>(kinds.end() - 2, kinds.end()),
              (std::vector<std::string>{"stop", "stop"}));
    FLeft.Start(4, 48000.0);
    ASSERT_EQ(FSink.Starts().size(), 2u);
    EXPECT_EQ(FSink.Starts()[1]->SamplesPerSec(), 100000u);   // the highest rate of the started inputs
}

TEST_F(ALRealToAudioTest, AStartOfRateZeroCountsAsNoStart)
{
    FLeft.Start(4, 0.0);
    FRight.Start(4, 100000.0);
    EXPECT_TRUE(FSink.Starts().empty());
    EXPECT_FALSE(FConverter.Started());
    FLeft.Start(4, 100000.0);
    EXPECT_EQ(FSink.Starts().size(), 1u);
}

TEST_F(ALRealToAudioTest, AnUnconnectedInputIsSilentAndDoesNotHoldBackTheOthers)
{
    FConverter.InputPin(1).Disconnect();
    FLeft.Start(4, 100000.0);
    FLeft.Send(Ramp(4, 1.0));
    ASSERT_EQ(FSink.Buffers().size(), 1u);
    EXPECT_EQ(Channel(*FSink.Buffers()[0], 0), (std::vector<std::int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(Channel(*FSink.Buffers()[0], 1), (std::vector<std::int32_t>{0, 0, 0, 0}));
}

TEST_F(ALRealToAudioTest, EightBitSamplesCarryTheOffset127)
{
    FConverter.AudioFormat.SetBits(8);
    FLeft.Start(4, 100000.0);
    FRight.Start(4, 100000.0);
    FLeft.Send({0.0, -128.0, 1.0, 127.0});
    FRight.Send({0.0, 0.0, 0.0, 0.0});
    ASSERT_EQ(FSink.Buffers().size(), 1u);
    const std::uint8_t* bytes = FSink.Buffers()[0]->GetRead();
    EXPECT_EQ(bytes[0], 127);
    EXPECT_EQ(bytes[2], 255);
    EXPECT_EQ(bytes[4], 128);
    EXPECT_EQ(bytes[6], 254);
}

TEST_F(ALRealToAudioTest, ARequestFromDownstreamGoesOnceToEachSource)
{
    auto& shared = CreateComponent<TRealSource>(*FOwner);
    ASSERT_TRUE(FConverter.InputPin(0).Connect(&shared.OutputPin));
    ASSERT_TRUE(FConverter.InputPin(1).Connect(&shared.OutputPin));
    FSink.InputPin.RequestData(&FSink);
    EXPECT_EQ(shared.Requests, 2);   // the source answers nothing, so both inputs still ask
    EXPECT_EQ(FLeft.Requests, 0);
}

TEST_F(ALRealToAudioTest, ChannelsFollowTheFormat)
{
    FConverter.AudioFormat.SetChannels(3);
    EXPECT_EQ(FConverter.InputPins.Count(), 3u);
    FConverter.AudioFormat.SetChannels(1);
    EXPECT_EQ(FConverter.InputPins.Count(), 1u);
    EXPECT_EQ(FLeft.OutputPin.SinkCount(), 1u);
    EXPECT_EQ(FRight.OutputPin.SinkCount(), 0u);
}

TEST_F(ALRealToAudioTest, ASourceFeedingBothInputsHasItsRoomQueryAskedDownstreamOnce)
{
    auto& shared = CreateComponent<TRealSource>(*FOwner);
    ASSERT_TRUE(FConverter.InputPin(0).Connect(&shared.OutputPin));
    ASSERT_TRUE(FConverter.InputPin(1).Connect(&shared.OutputPin));
    auto query = MakeRef<TOWRoomQueryOperation>();
    shared.OutputPin.Notify(query);
    EXPECT_EQ(FSink.RoomQueries(), 1);
    // A new question is asked again, and so is one from each of two sources.
    shared.OutputPin.Notify(MakeRef<TOWRoomQueryOperation>());
    EXPECT_EQ(FSink.RoomQueries(), 2);
    ASSERT_TRUE(FConverter.InputPin(1).Connect(&FRight.OutputPin));
    shared.OutputPin.Notify(MakeRef<TOWRoomQueryOperation>());
    FRight.OutputPin.Notify(MakeRef<TOWRoomQueryOperation>());
    EXPECT_EQ(FSink.RoomQueries(), 4);
}

TEST_F(ALRealToAudioTest, BlocksFollowTheInputsAsChannelsAndLinksChange)
{
    // Three channels: the third input is a new pin, which the block loop must see.
    auto& third = CreateComponent<TRealSource>(*FOwner);
    FConverter.AudioFormat.SetChannels(3);
    ASSERT_TRUE(FConverter.InputPin(2).Connect(&third.OutputPin));
    FLeft.Start(4, 100000.0);
    FRight.Start(4, 100000.0);
    third.Start(4, 100000.0);
    FLeft.Send(Ramp(4, 1.0));
    FRight.Send(Ramp(4, 10.0));
    EXPECT_TRUE(FSink.Buffers().empty());   // still waits for the third input
    third.Send(Ramp(4, 100.0));
    ASSERT_EQ(FSink.Buffers().size(), 1u);
    EXPECT_EQ(Channel(*FSink.Buffers()[0], 2), (std::vector<std::int32_t>{100, 101, 102, 103}));
    // Back to two: the removed pin is no longer waited for nor read.
    FConverter.AudioFormat.SetChannels(2);
    FLeft.Send(Ramp(4, 2.0));
    FRight.Send(Ramp(4, 20.0));
    ASSERT_EQ(FSink.Buffers().size(), 2u);
    EXPECT_EQ(Channel(*FSink.Buffers()[1], 1), (std::vector<std::int32_t>{20, 21, 22, 23}));
    // An input that leaves mid-stream is not waited for any more: the next block goes out with it silent.
    FConverter.InputPin(1).Disconnect();
    FLeft.Send(Ramp(4, 3.0));
    ASSERT_EQ(FSink.Buffers().size(), 3u);
    EXPECT_EQ(Channel(*FSink.Buffers()[2], 0), (std::vector<std::int32_t>{3, 4, 5, 6}));
    EXPECT_EQ(Channel(*FSink.Buffers()[2], 1), (std::vector<std::int32_t>{0, 0, 0, 0}));
}

// The 16-bit sample the converter's rule gives value, found without the converter's arithmetic: half to
// even by the program's rounding rule on the value clamped to +-9.2e18, 0 for what is not finite, and the
// result's low 16 bits (no clipping: 32768 is stored as -32768).
std::int32_t Expected16(double value)
{
    const std::int64_t n =
        std::isfinite(value) ? RoundHalfEvenTo<std::int64_t>(std::clamp(value, -9.2e18, 9.2e18)) : 0;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(n)));
}

// Stereo 16-bit blocks of an odd length (the vector loop and its tail), rounded as the rule says.
class ALRealToAudioRoundingTest : public ALRealToAudioTest
{
protected:
    static constexpr std::uint32_t kFrames = 1031;   // 128 steps of eight frames, one of four, three alone

    ALRealToAudioRoundingTest()
    {
        FConverter.AudioFormat.SetBufferSize(kFrames);
        FLeft.Start(kFrames, 100000.0);
        FRight.Start(kFrames, 100000.0);
    }
    // Sends one block per input and checks every sample of the block that comes out.
    void ExpectConvertedExactly(const std::vector<double>& left, const std::vector<double>& right)
    {
        const std::size_t before = FSink.Buffers().size();
        FLeft.Send(left);
        FRight.Send(right);
        const auto buffers = FSink.Buffers();
        ASSERT_EQ(buffers.size(), before + 1);
        TALAudioBuffer& out = *buffers.back();
        ASSERT_EQ(out.GetSize(), kFrames);
        for (std::uint32_t k = 0; k < kFrames; ++k)
        {
            ASSERT_EQ(out.GetSample(static_cast<std::int32_t>(k), 0), Expected16(left[k])) << "left " << k;
            ASSERT_EQ(out.GetSample(static_cast<std::int32_t>(k), 1), Expected16(right[k])) << "right " << k;
        }
    }
    std::vector<double> Random(double limit)
    {
        std::uniform_real_distribution<double> value(-limit, limit);
        std::vector<double> samples(kFrames);
        for (double& sample : samples)
            sample = value(FRandom);
        return samples;
    }

    std::mt19937_64 FRandom{20240611};
};

TEST_F(ALRealToAudioRoundingTest, BlocksInsideTheRangeRoundHalfToEvenSampleForSample)
{
    for (int block = 0; block < 8; ++block)
        ExpectConvertedExactly(Random(32768.4), Random(100.0));
    // Every tie of the range's ends and of small values, in both channels and in the tail.
    std::vector<double> ties(kFrames);
    for (std::uint32_t k = 0; k < kFrames; ++k)
        ties[k] = (k % 2 == 0 ? 1.0 : -1.0) * (static_cast<double>(k % 64) + 0.5) +
                  (k % 3 == 0 ? (k % 2 == 0 ? 32700.0 : -32700.0) : 0.0);
    ties[5] = -32768.5;
    ties[kFrames - 1] = -32768.5;
    ExpectConvertedExactly(ties, std::vector<double>(ties.rbegin(), ties.rend()));
}

TEST_F(ALRealToAudioRoundingTest, OneValueOutsideTheRangeAnywhereKeepsTheWholeBlockExact)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double edges[] = {32767.5, -32769.0, 32768.5, -32768.5000001, 40000.0,      -2147483648.5, 4.5e15,
                            -9.3e18, 1e300,    inf,     -inf,           std::nan(""), 2147483647.5};
    // In the first frames, in the middle, in the last step of four and in the tail, on either channel.
    for (const std::uint32_t at : {0u, 3u, 500u, kFrames - 6, kFrames - 2})
        for (const double edge : edges)
        {
            auto left = Random(32000.0);
            auto right = Random(32000.0);
            (at % 2 == 0 ? left : right)[at] = edge;
            ExpectConvertedExactly(left, right);
        }
}

TEST_F(ALRealToAudioRoundingTest, AThreadInAnotherRoundingModeGetsWhatItAlwaysGot)
{
    // Foreign code may leave the thread rounding toward zero; the converter's adder then rounds -2.7 and
    // -0.6 down, where a conversion instruction in that mode would truncate them toward zero.
    std::vector<double> left(kFrames, -2.7);
    left[1] = -0.6;
    const std::vector<double> right(kFrames, 3.0);
    const int mode = std::fegetround();
    ASSERT_EQ(std::fesetround(FE_TOWARDZERO), 0);
    FLeft.Send(left);
    FRight.Send(right);
    std::fesetround(mode);
    ASSERT_EQ(FSink.Buffers().size(), 1u);
    const auto channel = Channel(*FSink.Buffers()[0], 0);
    EXPECT_EQ(channel[0], -3);
    EXPECT_EQ(channel[1], -1);
    EXPECT_EQ(channel[kFrames - 1], -3);
    EXPECT_EQ(Channel(*FSink.Buffers()[0], 1)[7], 3);
}

// ---------------------------------------------------------------------------------------------------------

// The window's pipeline read from a description, playing on the generator's clock thread.
class TPipelineForm final : public TComponent
{
public:
    explicit TPipelineForm(TComponent* owner) : TComponent(owner, TComponentKind::ckForm) {}
    static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TPipelineForm", &TComponent::StaticClassInfo(), {});
        return info;
    }
    const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

class ALRealToAudioConcurrencyTest : public ::testing::Test
{
protected:
    void SetUp() override { RegisterComponentClass<TAudioSink>(); }
};

TEST_F(ALRealToAudioConcurrencyTest, TheGeneratorsToneReachesBothChannelsBitForBit)
{
    auto form = MakeComponent<TPipelineForm>();
    ReadDescription(*form, "object fmMain: TPipelineForm\n"
                           "  object SLSignalGen1: TSLSignalGen\n"
                           "    Enabled = False\n"
                           "    SampleRate = 100000.0\n"
                           "    Frequency = 1000.0\n"
                           "    OutputPin.SinkPins = (\n"
                           "      (ALRealToAudio1.InputPins._Pin1 'ALRealToAudio1.InputPins.Pin [1]')\n"
                           "      (ALRealToAudio1.InputPins._Pin0 'ALRealToAudio1.InputPins.Pin [0]'))\n"
                           "  end\n"
                           "  object ALRealToAudio1: TALRealToAudio\n"
                           "    AudioFormat.SampleRate = 44100\n"
                           "    InputPins.Count = 2\n"
                           "    InputPins.PinsOwner = True\n"
                           "    InputPins.Pins = (SLSignalGen1.OutputPin SLSignalGen1.OutputPin)\n"
                           "    OutputPin.SinkPins = (Sink.InputPin)\n"
                           "  end\n"
                           "  object Sink: TAudioSink\n"
                           "    InputPin.SourcePin = ALRealToAudio1.OutputPin\n"
                           "  end\n"
                           "end\n");
    TComponent& gen = *form->FindComponent("SLSignalGen1");
    TComponent& converter = *form->FindComponent("ALRealToAudio1");
    TComponent& sinkComponent = *form->FindComponent("Sink");
    auto& signal = dynamic_cast<TSLSignalGen&>(gen);
    auto& audio = dynamic_cast<TALRealToAudio&>(converter);
    auto& sink = dynamic_cast<TAudioSink&>(sinkComponent);
    ASSERT_EQ(signal.OutputPin.SinkCount(), 2u);
    ASSERT_EQ(audio.OutputPin.SinkCount(), 1u);

    signal.SetEnabled(true);
    ASSERT_TRUE(Eventually([&] { return sink.Buffers().size() >= 2; }));
    signal.SetFrequency(3000.0);
    ASSERT_TRUE(Eventually([&] { return sink.Buffers().size() >= 5; }));
    signal.SetEnabled(false);

    ASSERT_EQ(sink.Starts().size(), 1u);
    EXPECT_EQ(sink.Starts()[0]->SamplesPerSec(), 100000u);
    EXPECT_FLOAT_EQ(static_cast<float>(sink.Starts()[0]->SampleRate()), 100000.0f);
    EXPECT_EQ(audio.AudioFormat.SampleRate(), 100000u);
    EXPECT_EQ(sink.Starts()[0]->Format()[4] | (sink.Starts()[0]->Format()[5] << 8) |
                  (sink.Starts()[0]->Format()[6] << 16),
              100000);
    const auto kinds = sink.Kinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "resume"), 1);
    const auto resume = std::find(kinds.begin(), kinds.end(), "resume");
    EXPECT_EQ(std::count(kinds.begin(), resume, "data"), 3);

    // The same synthesis block by block, the frequency changing between two blocks: find the first block
    // that no longer follows 1000 Hz, then every block must follow a synthesis that changed right there.
    const auto buffers = sink.Buffers();
    auto reference = [&](std::size_t change)
    {
        TSLWaveform wave;
        wave.SetSignalType(stTone);
        wave.SetAmplitude(20000.0);
        wave.SampleRateChanged(100000.0);
        wave.SetFrequency(1000.0);
        wave.ResetState();
        std::vector<std::vector<double>> blocks(buffers.size(), std::vector<double>(1024));
        for (std::size_t b = 0; b < buffers.size(); ++b)
        {
            if (b == change)
                wave.SetFrequency(3000.0);
            wave.GenerateBlock(blocks[b].data(), 1024);
        }
        return blocks;
    };
    auto matches = [](const std::vector<double>& expected, TALAudioBuffer& buffer)
    {
        if (buffer.GetSize() != expected.size())
            return false;
        for (std::int32_t k = 0; k < 1024; ++k)
            if (buffer.GetSample(k, 0) != static_cast<std::int32_t>(RoundHalfEven(expected[k])) ||
                buffer.GetSample(k, 1) != buffer.GetSample(k, 0))
                return false;
        return true;
    };
    const auto unchanged = reference(buffers.size());
    std::size_t change = 0;
    while (change < buffers.size() && matches(unchanged[change], *buffers[change]))
        ++change;
    ASSERT_GE(change, 2u);
    ASSERT_LT(change, buffers.size());
    const auto changed = reference(change);
    for (std::size_t b = 0; b < buffers.size(); ++b)
        EXPECT_TRUE(matches(changed[b], *buffers[b])) << "block " << b << " of " << buffers.size();
}

TEST_F(ALRealToAudioConcurrencyTest, ASinkLinkedWhilePlayingSeesWhatASinkLinkedFromTheStartSaw)
{
    auto owner = MakeComponent<TComponent>();
    auto& gen = CreateComponent<TSLSignalGen>(*owner);
    auto& converter = CreateComponent<TALRealToAudio>(*owner);
    auto& early = CreateComponent<TAudioSink>(*owner);
    auto& late = CreateComponent<TAudioSink>(*owner);
    gen.SetEnabled(false);   // stored disabled, as the window stores it: nothing streams before the links
    gen.SetSampleRate(100000.0);
    gen.SetFrequency(1000.0);
    ASSERT_TRUE(converter.InputPin(0).Connect(&gen.OutputPin));
    ASSERT_TRUE(converter.InputPin(1).Connect(&gen.OutputPin));
    ASSERT_TRUE(early.InputPin.Connect(&converter.OutputPin));

    gen.SetEnabled(true);
    // Past the priming: the stream plays when the late sink is linked, from the test's thread while the
    // clock thread delivers.
    ASSERT_TRUE(early.WaitForBuffers(4));
    ASSERT_TRUE(late.InputPin.Connect(&converter.OutputPin));
    ASSERT_TRUE(late.WaitForBuffers(2));
    gen.SetEnabled(false);

    // The generator's stop reaches both inputs; each sends the converter's own stop, then passes it on.
    const auto blocksThenStops = [](std::vector<std::string> opening, std::size_t blocks)
    {
        opening.insert(opening.end(), blocks, "data");
        opening.insert(opening.end(), 4, "stop");
        return opening;
    };
    const auto earlyBuffers = early.Buffers();
    const auto lateBuffers = late.Buffers();
    ASSERT_GT(earlyBuffers.size(), lateBuffers.size());
    // The generator's pump requests (elected as it starts and again as it negotiates) pass both inputs.
    EXPECT_EQ(early.Kinds(), blocksThenStops({"pump", "pump", "pump", "pump", "start", "startwave", "start",
                                              "data", "data", "data", "resume"},
                                             earlyBuffers.size() - 3));
    EXPECT_EQ(late.Kinds(), blocksThenStops({"startwave", "resume"}, lateBuffers.size()));
    // The late sink's blocks are the very ones the early sink received last: none missed, none replayed.
    EXPECT_TRUE(std::equal(lateBuffers.begin(), lateBuffers.end(), earlyBuffers.end() - lateBuffers.size()));

    ASSERT_EQ(early.Starts().size(), 1u);
    ASSERT_EQ(late.Starts().size(), 1u);
    const TOWStartWaveOperation& seen = *late.Starts()[0];
    EXPECT_EQ(seen.Format(), early.Starts()[0]->Format());
    EXPECT_EQ(seen.BufferSize(), 1024);
    EXPECT_EQ(seen.SamplesPerSec(), 100000u);
    EXPECT_EQ(seen.Channels(), 2);
    EXPECT_EQ(seen.BitsPerSample(), 16);
    EXPECT_EQ(seen.BlockAlign(), 4);
}

}   // namespace
}   // namespace harvolin
