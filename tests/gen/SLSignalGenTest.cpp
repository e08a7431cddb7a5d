#include "gen/SLSignalGen.h"
#include "gen/SLClockGen.h"
#include "gen/SLWaveform.h"
#include "pins/OWStdTypes.h"
#include "pins/SLStreamTypes.h"
#include "rtl/DescriptionReader.h"
#include "tests/support/TestThreads.h"
#include <gtest/gtest.h>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

// A sink standing in for the converter: records what reaches it, from whatever thread delivers.
class TRecordingSink final : public TComponent
{
public:
    explicit TRecordingSink(TComponent* owner) : TComponent(owner) {}
    // Before the record goes: the stop that a disconnection brings still reaches it.
    ~TRecordingSink() override { InputPin.Disconnect(); }

    // What arrived, by kind ("pump", "start", "startpump", "data", "stop"), and the samples of the blocks.
    std::vector<std::string> Kinds()
    {
        std::lock_guard lock(FLock);
        return FKinds;
    }
    std::vector<double> Samples()
    {
        std::lock_guard lock(FLock);
        return FSamples;
    }
    std::size_t Blocks()
    {
        std::lock_guard lock(FLock);
        return FBlocks;
    }
    TRefPtr<TOWStartSampleRateOperation> Start()
    {
        std::lock_guard lock(FLock);
        return FStart;
    }
    void Clear()
    {
        std::lock_guard lock(FLock);
        FKinds.clear();
        FSamples.clear();
        FBlocks = 0;
    }

    // When set, the sink claims every pump request, as a master pump would.
    bool ClaimPump = false;
    // When set, the sink says it has no room for a block, as a full consumer would.
    std::atomic<bool> RefuseRoom{false};

    TSLOWRealSinkPin InputPin{
        this, [this](TOWPin*, const TGUID&, std::uint32_t flags, const TRefPtr<TOWNotifyOperation>& operation)
        { return Receive(flags, operation); }};
private:
    bool Receive(std::uint32_t flags, const TRefPtr<TOWNotifyOperation>& operation)
    {
        if ((flags & kOWConnectionNotice) != 0)
            return false;
        if (auto query = RefCast<TOWRoomQueryOperation>(operation))
        {
            if (RefuseRoom.load())
                query->Refuse();
            return true;
        }
        std::lock_guard lock(FLock);
        if (auto request = RefCast<TOWPumpRequestOperation>(operation))
        {
            FKinds.push_back("pump");
            if (ClaimPump)
                request->TryClaim(this, 0);
        }
        else if (auto start = RefCast<TOWStartSampleRateOperation>(operation))
        {
            FKinds.push_back("start");
            FStart = start;
        }
        else if (Is<TOWStartPumpOperation>(*operation))
            FKinds.push_back("startpump");
        else if (auto supplied = RefCast<TOWSuppliedBufferOperation>(operation))
        {
            FKinds.push_back("data");
            ++FBlocks;
            auto* real = QueryBuffer<ISLRealDataBuffer>(supplied->Buffer().Get());
            FSamples.insert(FSamples.end(), real->GetRead(), real->GetRead() + real->GetSize());
        }
        else if (Is<TOWStopOperation>(*operation))
            FKinds.push_back("stop");
        return true;
    }

    std::mutex FLock;
    std::vector<std::string> FKinds;
    std::vector<double> FSamples;
    std::size_t FBlocks = 0;
    TRefPtr<TOWStartSampleRateOperation> FStart;
};

class SLSignalGenTest : public ::testing::Test
{
protected:
    SLSignalGenTest()
    {
        FGen.SetEnabled(false);
        FGen.SetBufferSize(16);
        FSink.Clear();
        EXPECT_TRUE(FSink.InputPin.Connect(&FGen.OutputPin));
    }
    // The samples a waveform with the generator's settings makes for blocks of the given frequencies.
    static std::vector<double> Expected(const std::vector<double>& frequencies, std::int32_t blockSize)
    {
        TSLWaveform wave;
        wave.SetSignalType(stTone);
        wave.SetAmplitude(20000.0);
        wave.SampleRateChanged(100000.0);
        wave.ResetState();
        std::vector<double> samples;
        for (double frequency : frequencies)
        {
            wave.SetFrequency(frequency);
            std::vector<double> block(static_cast<std::size_t>(blockSize));
            wave.GenerateBlock(block.data(), blockSize);
            samples.insert(samples.end(), block.begin(), block.end());
        }
        return samples;
    }

    TComponentPtr<TComponent> FOwner = MakeComponent<TComponent>();
    TSLSignalGen& FGen = CreateComponent<TSLSignalGen>(*FOwner);
    TRecordingSink& FSink = CreateComponent<TRecordingSink>(*FOwner);
};

TEST_F(SLSignalGenTest, ANewGeneratorHasTheDefaults)
{
    auto owner = MakeComponent<TComponent>();
    TSLSignalGen& gen = CreateComponent<TSLSignalGen>(*owner);
    EXPECT_TRUE(gen.Enabled());
    EXPECT_EQ(gen.Frequency(), 500.0);
    EXPECT_EQ(gen.Amplitude(), 20000.0);
    EXPECT_EQ(gen.SignalType(), stTone);
    EXPECT_EQ(gen.Phase(), 0.0);
    EXPECT_EQ(gen.Offset(), 0.0);
    EXPECT_EQ(gen.Asymmetry(), 0.0);
    EXPECT_EQ(gen.BufferSize(), 1024);
    EXPECT_EQ(gen.SampleRate(), 100000.0);
    EXPECT_EQ(gen.ClockSource(), TSLClockSource::csInternal);
    EXPECT_FALSE(gen.Active());
    EXPECT_EQ(gen.ClockItem(), nullptr);
    // The output pin is the generator's lock.
    EXPECT_EQ(gen.GenLock.LockObject()->GetInstance(), gen.OutputPin.LockObject()->GetInstance());
}

struct TPeriodCase
{
    const char* Name;
    std::int32_t BufferSize;
    double SampleRate;
    std::int32_t PeriodMs;
    std::int32_t BlocksPerTick;
};

class SLClockPeriodTest : public ::testing::TestWithParam<TPeriodCase>
{
};

TEST_P(SLClockPeriodTest, TheClockPeriodIsTheFirstWholeMillisecondOfBlocks)
{
    std::int32_t period = 0;
    std::int32_t blocks = 0;
    TSLCommonGen::ClockPeriod(GetParam().BufferSize, GetParam().SampleRate, period, blocks);
    EXPECT_EQ(period, GetParam().PeriodMs);
    EXPECT_EQ(blocks, GetParam().BlocksPerTick);
}

INSTANTIATE_TEST_SUITE_P(Periods, SLClockPeriodTest,
                         ::testing::Values(TPeriodCase{"Defaults", 1024, 100000.0, 10, 1},
                                           TPeriodCase{"ShortBlocks", 64, 100000.0, 1, 2},
                                           TPeriodCase{"Exact", 441, 44100.0, 10, 1},
                                           TPeriodCase{"RateTiesToEven", 441, 44100.5, 10, 1},
                                           TPeriodCase{"RateRoundsUp", 441, 44099.6, 10, 1}),
                         [](const ::testing::TestParamInfo<TPeriodCase>& period)
                         { return std::string(period.param.Name); });

TEST_F(SLSignalGenTest, SettingsThatMakeNoPeriodAreRefusedAndTheGeneratorStaysStopped)
{
    std::int32_t period = 0;
    std::int32_t blocks = 0;
    EXPECT_THROW(TSLCommonGen::ClockPeriod(0, 100000.0, period, blocks), std::invalid_argument);
    EXPECT_THROW(TSLCommonGen::ClockPeriod(1024, 0.4, period, blocks), std::invalid_argument);
    EXPECT_THROW(TSLCommonGen::ClockPeriod(1024, -5.0, period, blocks), std::invalid_argument);
    EXPECT_THROW(TSLCommonGen::ClockPeriod(3000000, 100000.0, period, blocks), std::invalid_argument);
    FGen.SetSampleRate(0.25);
    try
    {
        FGen.SetEnabled(true);
        ADD_FAILURE() << "started at a sample rate of 0.25";
    }
    catch (const std::invalid_argument& e)
    {
        EXPECT_NE(std::string(e.what()).find("SampleRate"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(FGen.Enabled());
    EXPECT_FALSE(FGen.Active());
    EXPECT_EQ(FGen.ClockItem(), nullptr);
    EXPECT_EQ(FSink.Kinds(), std::vector<std::string>{"stop"});
}

TEST_F(SLSignalGenTest, AnExternallyClockedGeneratorMakesOneBlockPerTickInPhase)
{
    FGen.SetClockSource(TSLClockSource::csExternal);
    FGen.ClockPin.Clock();   // disabled: nothing
    FGen.SetEnabled(true);
    EXPECT_TRUE(FGen.IsPumpMaster());
    EXPECT_EQ(FGen.ClockItem(), nullptr);
    FGen.ClockPin.Clock();
    FGen.ClockPin.Clock();
    FGen.SetFrequency(2000.0);
    FGen.ClockPin.Clock();
    EXPECT_EQ(FSink.Kinds(), (std::vector<std::string>{"start", "data", "data", "data"}));
    EXPECT_EQ(FSink.Start()->BufferSize(), 16);
    EXPECT_EQ(FSink.Start()->SampleRate(), 100000.0);
    // Block after block the phase runs on; the new frequency starts with the next block.
    EXPECT_EQ(FSink.Samples(), Expected({500.0, 500.0, 2000.0}, 16));
    FGen.SetEnabled(false);
    FGen.ClockPin.Clock();
    EXPECT_EQ(FSink.Blocks(), 3u);
}

TEST_F(SLSignalGenTest, ATickTheConsumerHasNoRoomForIsSkippedAndThePhaseRunsOn)
{
    FGen.SetClockSource(TSLClockSource::csExternal);
    FGen.SetEnabled(true);
    FGen.ClockPin.Clock();
    FSink.RefuseRoom = true;
    FGen.ClockPin.Clock();
    FGen.ClockPin.Clock();
    EXPECT_EQ(FSink.Blocks(), 1u);
    FSink.RefuseRoom = false;
    FGen.ClockPin.Clock();
    // The block after the skipped ticks follows the last one made, as if no tick had passed.
    EXPECT_EQ(FSink.Samples(), Expected({500.0, 500.0}, 16));
}

TEST_F(SLSignalGenTest, EnablingTwiceStartsOnceAndDisablingSendsOneStop)
{
    FGen.SetClockSource(TSLClockSource::csExternal);
    FGen.SetEnabled(true);
    FGen.SetEnabled(true);
    FGen.SetEnabled(false);
    FGen.SetEnabled(false);
    EXPECT_EQ(FSink.Kinds(), (std::vector<std::string>{"start", "stop"}));
    EXPECT_FALSE(FGen.Active());
}

TEST_F(SLSignalGenTest, AStopFromDownstreamStopsTheGeneratorAndClearsEnabled)
{
    FGen.SetClockSource(TSLClockSource::csExternal);
    FGen.SetEnabled(true);
    FSink.InputPin.Notify(MakeRef<TOWStopOperation>());
    EXPECT_FALSE(FGen.Enabled());
    EXPECT_FALSE(FGen.Active());
    EXPECT_EQ(FSink.Kinds().back(), "stop");
}

TEST_F(SLSignalGenTest, AFollowerMakesBlocksOnlyWhenItsElectedPumpAsks)
{
    FSink.ClaimPump = true;
    FGen.SetEnabled(true);
    EXPECT_FALSE(FGen.IsPumpMaster());
    EXPECT_EQ(FGen.MasterPump(), &FSink);
    EXPECT_EQ(FGen.ClockItem(), nullptr);
    EXPECT_EQ(FSink.Kinds(), (std::vector<std::string>{"pump", "pump", "start", "startpump"}));
    FSink.InputPin.RequestData(this);   // not the elected pump
    EXPECT_EQ(FSink.Blocks(), 0u);
    FSink.InputPin.RequestData(&FSink);
    FSink.InputPin.RequestData(&FSink);
    EXPECT_EQ(FSink.Blocks(), 2u);
    FGen.SetEnabled(false);
}

TEST_F(SLSignalGenTest, TheFrequencyPinMirrorsTheFrequencyWithoutEcho)
{
    int peerCalls = 0;
    TOWFloatIntStatePin peer(FOwner.get(), 0, [&](TOWPin*, float) { ++peerCalls; });
    ASSERT_TRUE(peer.Connect(&FGen.FrequencyPin));
    peerCalls = 0;
    FGen.SetFrequency(750.0);
    FGen.SetFrequency(750.0);
    EXPECT_EQ(peerCalls, 1);
    EXPECT_EQ(peer.Value(), 750.0f);
    peer.SetValue(250.0f);
    EXPECT_EQ(FGen.Frequency(), 250.0);
    EXPECT_EQ(peerCalls, 1);
}

TEST_F(SLSignalGenTest, TheGeneratorIsReadFromAStoredDescription)
{
    auto gen = ReadComponent("object SLSignalGen1: TSLSignalGen\n"
                             "  Enabled = False\n"
                             "  PumpPriority = 0\n"
                             "  ClockSource = csInternal\n"
                             "  SampleRate = 100000.0\n"
                             "  Amplitude = 20000.0\n"
                             "  Frequency = 1000.0\n"
                             "end\n");
    auto& signal = dynamic_cast<TSLSignalGen&>(*gen);
    EXPECT_EQ(signal.Name(), "SLSignalGen1");
    EXPECT_FALSE(signal.Enabled());
    EXPECT_FALSE(signal.Active());
    EXPECT_EQ(signal.Frequency(), 1000.0);
    EXPECT_EQ(signal.BufferSize(), 1024);
    EXPECT_EQ(signal.ClockItem(), nullptr);
    EXPECT_THROW((void)ReadComponent("object G: TSLSignalGen\n  SignalType = stNoise\nend\n"), EReadError);
}

// ---------------------------------------------------------------------------------------------------------

class SLSignalGenConcurrencyTest : public SLSignalGenTest
{
};

TEST_F(SLSignalGenConcurrencyTest, TheInternalClockDeliversStartThenBlocksAndStopEndsThem)
{
    FGen.SetBufferSize(1024);
    const std::int32_t threadsBefore = LiveClockThreads();
    FGen.SetEnabled(true);
    EXPECT_TRUE(FGen.IsPumpMaster());
    ASSERT_NE(FGen.ClockItem(), nullptr);
    EXPECT_EQ(FGen.ClockItem()->Owner().Period(), 10);
    EXPECT_TRUE(Eventually([&] { return FSink.Blocks() >= 3; }));
    FGen.SetEnabled(false);
    const auto kinds = FSink.Kinds();
    ASSERT_GE(kinds.size(), 6u);
    // The election runs as the generator begins and again as it negotiates its clock.
    EXPECT_EQ(kinds[0], "pump");
    EXPECT_EQ(kinds[1], "pump");
    EXPECT_EQ(kinds[2], "start");
    EXPECT_FLOAT_EQ(FSink.Start()->Rate(), 97.65625f);
    EXPECT_EQ(kinds.back(), "stop");
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "stop"), 1);
    const std::size_t blocks = FSink.Blocks();
    EXPECT_EQ(FSink.Samples(), Expected(std::vector<double>(blocks, 500.0), 1024));
    EXPECT_EQ(FGen.ClockItem(), nullptr);
    EXPECT_TRUE(Eventually([&] { return LiveClockThreads() == threadsBefore; }));
}

TEST_F(SLSignalGenConcurrencyTest, TheClockThreadSkipsTicksWhileTheConsumerHasNoRoom)
{
    FGen.SetBufferSize(1024);
    FSink.RefuseRoom = true;
    FGen.SetEnabled(true);
    ASSERT_NE(FGen.ClockItem(), nullptr);
    TSLClockGen& clock = FGen.ClockItem()->Owner();
    const std::uint64_t ticksBefore = clock.TicksRun();
    ASSERT_TRUE(Eventually([&] { return clock.TicksRun() >= ticksBefore + 3; }));
    EXPECT_EQ(FSink.Blocks(), 0u);
    FSink.RefuseRoom = false;
    ASSERT_TRUE(Eventually([&] { return FSink.Blocks() >= 2; }));
    FGen.SetEnabled(false);
    EXPECT_EQ(FSink.Samples(), Expected(std::vector<double>(FSink.Blocks(), 500.0), 1024));
}

TEST_F(SLSignalGenConcurrencyTest, SettersRacingTheClockThreadSeeWholeBlocks)
{
    FGen.SetBufferSize(64);   // two blocks a millisecond
    FGen.SetEnabled(true);
    for (int i = 0; i < 400; ++i)
    {
        FGen.SetFrequency(400.0 + i);
        FGen.SetAmplitude(1000.0 + i);
        (void)FGen.Phase();
    }
    EXPECT_TRUE(Eventually([&] { return FSink.Blocks() >= 4; }));
    FGen.SetEnabled(false);
    EXPECT_EQ(FSink.Samples().size(), FSink.Blocks() * 64);
}

TEST_F(SLSignalGenConcurrencyTest, StartingAndStoppingRepeatedlyLeavesNoClockBehind)
{
    const std::int32_t threadsBefore = LiveClockThreads();
    for (int i = 0; i < 200; ++i)
    {
        FGen.SetEnabled(true);
        FGen.SetEnabled(false);
    }
    EXPECT_EQ(FGen.ClockItem(), nullptr);
    EXPECT_EQ(FindClockGen(1), nullptr);
    const auto kinds = FSink.Kinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "stop"), 200);
    EXPECT_TRUE(Eventually([&] { return LiveClockThreads() == threadsBefore; }));
}

}   // namespace
}   // namespace harvolin
