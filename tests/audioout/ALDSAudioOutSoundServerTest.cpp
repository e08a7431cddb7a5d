#include "audioout/ALDSAudioOut.h"
#include "tests/audioout/ALDSAudioOutTestSupport.h"
#include "tests/support/AlsaTestConfig.h"
#include "tests/support/PulseServer.h"
#include "tests/support/TestThreads.h"
#include "tests/support/ToneAnalysis.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <span>
#include <string>

// The pulse plugin's own threads share its context without this program's locks; their races are not ours.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libpulsecommon\nrace:libpulse.so\n";
}

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

// How long a server may take to take and pass on what was written, beyond real time.
constexpr auto kServerPatience = 10s;
constexpr std::size_t kRate = TPulseServer::kRate;

// ALSA's `default` is the pulse plugin on whichever server the running test serves.
const auto* const GAlsaConfig = ::testing::AddGlobalTestEnvironment(
    new testing::TAlsaTestEnvironment(TPulseServer::AlsaDefinitions("!default")));

// The window's pipeline on the default device, which a private sound server plays.
class ALDSAudioOutSoundServerConcurrencyTest : public testing::TPipelineFixture
{
protected:
    void SetUp() override
    {
        TPipelineFixture::SetUp();
        if (!TPulseServer::Installed())
            GTEST_SKIP() << "pulseaudio is not installed: no sound server to play into";
        // A server that does not start is a failure, not a reason to skip.
        FServer = std::make_unique<TPulseServer>();
        FServer->ServeThisProcess();
    }
    void TearDown() override
    {
        // The pipeline, a client of the server, goes first.
        TPipelineFixture::TearDown();
        FServer.reset();
    }
    // Starts the window's pipeline on the default device and waits until the device has played microseconds.
    void PlayFor(REFERENCE_TIME microseconds)
    {
        Load("csInternal", "False", "Default");
        FOut->SetEnabled(true);
        FGen->SetEnabled(true);
        ASSERT_TRUE(ServeUntil([&] { return PlayedAtLeast(microseconds); }, kServerPatience))
            << FServer->Log();
    }

    std::unique_ptr<TPulseServer> FServer;
};

// Measures both channels of frames (interleaved stereo at the server's rate) against the tone expected.
void ExpectTone(std::span<const std::int16_t> frames, double frequency, double amplitude, const char* when)
{
    for (std::uint16_t channel = 0; channel < 2; ++channel)
    {
        const TToneAnalysis tone = AnalyseTone(frames, 2, channel, kRate, 0.0);
        EXPECT_NEAR(tone.FrequencyHz, frequency, 0.1) << when << ", channel " << channel;
        EXPECT_NEAR(tone.LevelDbfs, AmplitudeToDbfs(amplitude), kToneLevelToleranceDb)
            << when << ", channel " << channel;
        EXPECT_LT(tone.SpurDbfs, kSpurLimitDbfs)
            << when << ", channel " << channel << ": a component at " << tone.SpurFrequencyHz << " Hz";
        EXPECT_GE(tone.FftSize, 32768u) << when;
    }
}

TEST_F(ALDSAudioOutSoundServerConcurrencyTest, TheServerPlaysTheToneBeforeAndAfterAChangeCleanly)
{
    FServer->StartRecording();
    PlayFor(2000000);
    // The change cannot reach the monitor before what it records now: it is heard a delivery later.
    const std::size_t changeFrame = FServer->RecordedFrames();
    FGen->SetFrequency(3000.0);
    FGen->SetAmplitude(8000.0);
    const REFERENCE_TIME changedAt = Played().value_or(0);
    ASSERT_TRUE(ServeUntil([&] { return PlayedAtLeast(changedAt + 2500000); }, kServerPatience));
    FGen->SetEnabled(false);
    FForm.reset();
    const std::vector<std::int16_t> recording = FServer->StopRecording();

    const auto audible =
        std::find_if(recording.begin(), recording.end(), [](std::int16_t sample) { return sample != 0; });
    ASSERT_NE(audible, recording.end()) << "nothing was heard";
    const auto lastAudible =
        std::find_if(recording.rbegin(), recording.rend(), [](std::int16_t sample) { return sample != 0; });
    const std::size_t first = static_cast<std::size_t>(audible - recording.begin()) / 2;
    const std::size_t last = static_cast<std::size_t>(recording.rend() - lastAudible) / 2;
    // Before: from a fifth of a second in (the converter's start) to the change. After: from half a second
    // past the change (every block queued before it, the device's buffer and the server's) to a tenth of a
    // second before the end (the close drops what the device held).
    const std::size_t beforeBegin = first + kRate / 5;
    const std::size_t afterBegin = changeFrame + kRate / 2;
    const std::size_t afterEnd = last - kRate / 10;
    ASSERT_LT(beforeBegin, changeFrame) << "the tone began after the change was made";
    ASSERT_LT(afterBegin, afterEnd) << "too little was heard after the change";
    const std::span<const std::int16_t> frames(recording);
    ExpectTone(frames.subspan(2 * beforeBegin, 2 * (changeFrame - beforeBegin)), 1000.0, 20000.0, "before");
    ExpectTone(frames.subspan(2 * afterBegin, 2 * (afterEnd - afterBegin)), 3000.0, 8000.0, "after");
}

TEST_F(ALDSAudioOutSoundServerConcurrencyTest, AServerThatStopsTakingSamplesDoesNotHoldTheWindow)
{
    const auto before = testing::TProcessResources::Baseline();
    PlayFor(300000);
    // The server stops playing the sink: the stream fills, and the player's next write waits in the device.
    (void)FServer->Pactl({"suspend-sink", TPulseServer::kSinkName, "1"});
    const pid_t player = ThreadNamed("audio player");
    ASSERT_NE(player, 0);
    // With the sink suspended, nothing drains: a player found waiting with a full queue waits for good.
    ASSERT_TRUE(Eventually(
        [&]
        {
            FLoop.ProcessPending();
            return FOut->QueuedBlocks() == TALDSAudioOut::kPlayQueueCapacity && WaitsInPoll(player);
        }));
    const std::int64_t stuckAt = FOut->StreamPosition();
    ASSERT_GT(testing::TProcessResources::Now().Threads, before.Threads)
        << "the count does not see the player";

    // The window changes the tone and stops the generator as it would while the device is stuck.
    FGen->SetFrequency(3000.0);
    FGen->SetEnabled(false);
    EXPECT_EQ(FOut->StreamPosition(), stuckAt);
    // Destruction stops the graph to end the delivery instead of waiting for the server for ever.
    FForm.reset();
    EXPECT_TRUE(Reported("the device took no sample for 200 ms; the graph was stopped to end the delivery"));
    ExpectNothingLeftBehind(before);
}

}   // namespace
}   // namespace harvolin
