#include "audioout/ALDSAudioOut.h"
#include "convert/ALRealToAudio.h"
#include "gen/SLSignalGen.h"
#include "gen/SLWaveform.h"
#include "media/AudioDevices.h"
#include "rtl/DescriptionReader.h"
#include "rtl/Rounding.h"
#include "tests/audioout/ALDSAudioOutTestSupport.h"
#include "tests/pins/TestPins.h"
#include "tests/support/TestThreads.h"
#include <gtest/gtest.h>

#include <optional>
#include <thread>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

using testing::kBlockFrames;
using testing::kBlockMicroseconds;

class ALDSAudioOutPipelineConcurrencyTest : public testing::TPipelineFixture
{
protected:
    std::int64_t PlayFlatOut(std::int64_t microseconds);
};

TEST_F(ALDSAudioOutPipelineConcurrencyTest, TheWindowsPipelinePlaysEveryBlockAndAChangeWithinATenthOfASecond)
{
    const auto recording = FFolder / "played.wav";
    SetNullRendererOptions({.Paced = true, .BufferDuration = 40ms, .RecordTo = recording});
    Load("csInternal", "False");

    FOut->SetEnabled(true);
    FGen->SetEnabled(true);
    ASSERT_TRUE(ServeUntil([&] { return PlayedAtLeast(2000000); }));
    const REFERENCE_TIME changedAt = Played().value_or(0);
    FGen->SetFrequency(3000.0);
    FGen->SetAmplitude(8000.0);
    ASSERT_TRUE(ServeUntil([&] { return PlayedAtLeast(4000000); }));
    // Stop as the window does; the graph keeps running until the output goes.
    FOut->SetEnabled(false);
    FGen->SetEnabled(false);
    EXPECT_EQ(FOut->DroppedBlocks(), 0u);
    EXPECT_LE(FOut->MostQueuedBlocks(), TALDSAudioOut::kPlayQueueCapacity);
    FForm.reset();

    const std::vector<std::int16_t> samples = testing::ReadRecording(recording);
    ASSERT_EQ(samples.size() % (2 * kBlockFrames), 0u) << "a block was cut";
    const std::size_t blocks = samples.size() / (2 * kBlockFrames);
    ASSERT_GE(blocks, 390u);
    const std::size_t change = testing::ExpectContinuousChange(samples, 3000.0, 8000.0);
    ASSERT_LT(change, blocks) << "the change never arrived";
    // The block that carries the change leaves the device this long after the change was made.
    const std::int64_t delay = static_cast<std::int64_t>(change) * kBlockMicroseconds - changedAt;
    EXPECT_GE(delay, 0);
    EXPECT_LE(delay, 100000);
}

TEST_F(ALDSAudioOutPipelineConcurrencyTest, WithMasterPumpingProductionFollowsTheRenderersClock)
{
    SetNullRendererOptions({.Paced = true, .BufferDuration = 40ms, .RecordTo = {}});
    Load("csInternal", "True");
    FOut->SetEnabled(true);
    FGen->SetEnabled(true);
    ASSERT_TRUE(ServeUntil([&] { return PlayedAtLeast(500000); }));
    const std::int64_t early = Ahead(Played().value_or(0));
    ASSERT_TRUE(ServeUntil([&] { return PlayedAtLeast(2500000); }));
    const std::int64_t late = Ahead(Played().value_or(0));
    // Two seconds later the output is as far ahead of the device as it was: it made what was played.
    EXPECT_NEAR(static_cast<double>(late), static_cast<double>(early),
                static_cast<double>(kBlockMicroseconds));

    // The stop takes effect at the first tick that finds nothing queued.
    FGen->SetEnabled(false);
    ASSERT_TRUE(ServeUntil([&] { return !FOut->Running(); }));
    EXPECT_FALSE(FOut->FormatKnown());
    EXPECT_EQ(FOut->QueuedBlocks(), 0u);
}

// Enables the window's pipeline on the null renderer and clocks the generator as fast as the device lets it
// until the device has played the given stream time; the most the output was ahead of the device meanwhile.
std::int64_t ALDSAudioOutPipelineConcurrencyTest::PlayFlatOut(std::int64_t microseconds)
{
    Load("csExternal", "False");
    FOut->SetEnabled(true);
    FGen->SetEnabled(true);
    std::int64_t mostAhead = 0;
    std::uint64_t ticks = 0;
    while (!PlayedAtLeast(microseconds))
    {
        FGen->ClockPin.Clock();
        if (++ticks % 64 == 0)
            if (const auto played = Played())
                mostAhead = std::max(mostAhead, Ahead(*played));
        std::this_thread::yield();
    }
    FGen->SetEnabled(false);
    return mostAhead;
}

TEST_F(ALDSAudioOutPipelineConcurrencyTest, OverMinutesOfStreamTheQueueAndTheDelayStayBounded)
{
    const auto recording = FFolder / "played.wav";
    // Forty times a sound card's pace, and a producer as fast as its consumer lets it be: two minutes of
    // stream in a few seconds.
    SetNullRendererOptions({.Paced = true, .BufferDuration = 40ms, .RecordTo = recording, .Speed = 40});
    const std::int64_t mostAhead = PlayFlatOut(120000000);
    EXPECT_EQ(FOut->DroppedBlocks(), 0u);
    EXPECT_LE(FOut->MostQueuedBlocks(), TALDSAudioOut::kPlayQueueCapacity);
    EXPECT_LE(mostAhead, 100000);
    FForm.reset();

    testing::ExpectSteadyStream(testing::ReadRecording(recording), 11700);
}

TEST_F(ALDSAudioOutPipelineConcurrencyTest, AfterTenMinutesOfStreamTheDelayIsStillUnderATenthOfASecond)
{
    // A hundred times a sound card's pace, unrecorded (ten minutes would be 240 MB): the queue's bound and
    // the delay, over a stream as long as the one a growing queue was first noticed in.
    SetNullRendererOptions({.Paced = true, .BufferDuration = 40ms, .RecordTo = {}, .Speed = 100});
    const std::int64_t mostAhead = PlayFlatOut(600000000);
    EXPECT_EQ(FOut->DroppedBlocks(), 0u);
    EXPECT_LE(FOut->MostQueuedBlocks(), TALDSAudioOut::kPlayQueueCapacity);
    EXPECT_LE(mostAhead, 100000);
}

}   // namespace
}   // namespace harvolin
