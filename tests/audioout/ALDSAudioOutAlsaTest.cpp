#include "audioout/ALDSAudioOut.h"
#include "media/AlsaAudioDevice.h"
#include "media/AudioRenderer.h"
#include "tests/audioout/ALDSAudioOutTestSupport.h"
#include "tests/support/AlsaTestConfig.h"
#include "tests/support/ToneAnalysis.h"
#include <gtest/gtest.h>

#include <cerrno>
#include <span>
#include <thread>

namespace harvolin
{
namespace
{

using testing::kBlockFrames;
using testing::kBlockMicroseconds;

constexpr char kRecorder[] = "Test Recorder";
constexpr char kUnwritableRecorder[] = "Unwritable Recorder";

std::filesystem::path Recorded()
{
    return testing::TAlsaTestEnvironment::Folder() / "recorder.raw";
}

// A recorder that takes the stream as it comes (ALSA's file PCM over its null PCM: byte for byte, at any
// rate, at whatever pace it is fed), one whose file cannot be made, and a `default` that cannot be opened,
// as on a machine without a sound card or a sound server.
std::string PcmDefinitions()
{
    return "pcm.harvrecorder { type file; slave.pcm \"null\"; file \"" + Recorded().string() +
           "\"; format \"raw\"; hint { show on description \"" + kRecorder +
           "\" } }\n"
           "pcm.harvunwritable { type file; slave.pcm \"null\"; file \"/nonexistent/folder/out.raw\"; "
           "format \"raw\"; hint { show on description \"" +
           kUnwritableRecorder +
           "\" } }\n"
           "pcm.!default { type hw; card 99 }\n";
}

const auto* const GAlsaConfig =
    ::testing::AddGlobalTestEnvironment(new testing::TAlsaTestEnvironment(PcmDefinitions()));

struct TError
{
    std::string Text;
    std::int32_t Code;
    std::thread::id Thread;
};

// The window's pipeline on ALSA devices of the test's own.
class ALDSAudioOutAlsaConcurrencyTest : public testing::TPipelineFixture
{
protected:
    void SetUp() override
    {
        TPipelineFixture::SetUp();
        std::error_code ignored;
        std::filesystem::remove(Recorded(), ignored);
    }
    // Records OnError's calls (answered handled) and OnDeviceLost's, on whichever thread they come.
    void RecordFailures()
    {
        FOut->Graph().SetOnError(
            [this](TComponent* sender, const std::string& text, std::int32_t code, bool& handled)
            {
                EXPECT_EQ(sender, FOut);
                FErrors.push_back({text, code, std::this_thread::get_id()});
                handled = true;
            });
        FOut->Graph().OnDeviceLost = [this](TComponent* sender)
        {
            EXPECT_EQ(sender, FOut);
            FLost.push_back(std::this_thread::get_id());
        };
    }
    // The ALSA device the running graph plays on.
    TAlsaAudioDevice& PlayingDevice()
    {
        IBaseFilter* found = nullptr;
        EXPECT_EQ(FOut->Graph().FilterGraph()->FindFilterByName("Audio Render", &found), S_OK);
        const TRefPtr<IBaseFilter> renderer = AdoptRef(found);
        return dynamic_cast<TAlsaAudioDevice&>(dynamic_cast<TAudioRenderer&>(*renderer).Device());
    }

    std::vector<TError> FErrors;          // window thread only
    std::vector<std::thread::id> FLost;   // window thread only
};

TEST_F(ALDSAudioOutAlsaConcurrencyTest, TheWindowsPipelinePlaysEveryBlockIntoTheDeviceAcrossAChange)
{
    Load("csInternal", "False", kRecorder);
    ASSERT_EQ(FOut->AudioOutputDevice().DeviceName(), kRecorder);
    FOut->SetEnabled(true);
    FGen->SetEnabled(true);
    ASSERT_TRUE(ServeUntil([&] { return PlayedAtLeast(2000000); }));
    FGen->SetFrequency(3000.0);
    FGen->SetAmplitude(8000.0);
    const REFERENCE_TIME changedAt = Played().value_or(0);
    ASSERT_TRUE(ServeUntil([&] { return PlayedAtLeast(changedAt + 2000000); }));
    FOut->SetEnabled(false);
    FGen->SetEnabled(false);
    EXPECT_EQ(FOut->DroppedBlocks(), 0u);
    FForm.reset();

    // No header: the file holds exactly the samples the device was given, from the first on.
    const std::vector<std::int16_t> samples = testing::ReadRecording(Recorded(), 0);
    ASSERT_EQ(samples.size() % (2 * kBlockFrames), 0u) << "a block was cut";
    const std::size_t blocks = samples.size() / (2 * kBlockFrames);
    ASSERT_GE(blocks, 390u);
    const std::size_t change = testing::ExpectContinuousChange(samples, 3000.0, 8000.0);
    ASSERT_LT(change, blocks) << "the change never arrived";
    EXPECT_GE(static_cast<std::int64_t>(change) * kBlockMicroseconds, 2000000 - 100000)
        << "the change came before two seconds had played";
}

TEST_F(ALDSAudioOutAlsaConcurrencyTest, ALostDeviceIsToldOnTheWindowThreadAndTheNextEnablePlaysAgain)
{
    const auto before = testing::TProcessResources::Baseline();
    Load("csInternal", "False", kRecorder);
    RecordFailures();
    FOut->SetEnabled(true);
    FGen->SetEnabled(true);
    ASSERT_TRUE(ServeUntil([&] { return PlayedAtLeast(300000); }));
    // The allowed stand-in: the device vanishes at its next write, as an unplugged card does.
    PlayingDevice().FailNextWrite(-ENODEV);
    ASSERT_TRUE(ServeUntil([&] { return !FLost.empty(); }));
    ASSERT_EQ(FErrors.size(), 1u);
    EXPECT_EQ(FErrors[0].Text.rfind("Audio device lost. audio device 'harvrecorder'", 0), 0u)
        << FErrors[0].Text;
    EXPECT_EQ(FErrors[0].Code, EC_DEVICE_LOST);
    EXPECT_EQ(FErrors[0].Thread, std::this_thread::get_id());
    EXPECT_EQ(FLost.size(), 1u);
    EXPECT_EQ(FLost[0], std::this_thread::get_id());
    EXPECT_FALSE(FOut->Running());
    // The generator goes on ticking into a stopped output: nothing piles up.
    EXPECT_LE(FOut->QueuedBlocks(), TALDSAudioOut::kPlayQueueCapacity);

    // The window's next enable starts the stream afresh, on the device opened again (the file begins anew).
    FGen->SetEnabled(false);
    FGen->SetEnabled(true);
    ASSERT_TRUE(ServeUntil([&] { return FOut->Running() && PlayedAtLeast(1000000); }));
    FGen->SetEnabled(false);
    FForm.reset();
    EXPECT_EQ(FErrors.size(), 1u);
    ExpectNothingLeftBehind(before);

    // The last 0.65 s: what the device played after it was opened again.
    const std::vector<std::int16_t> samples = testing::ReadRecording(Recorded(), 0);
    constexpr std::size_t kAnalysed = 2 * 65536;
    ASSERT_GE(samples.size(), kAnalysed);
    const auto tail = std::span<const std::int16_t>(samples).last(kAnalysed);
    for (std::uint16_t channel = 0; channel < 2; ++channel)
    {
        const TToneAnalysis tone = AnalyseTone(tail, 2, channel, 100000, 0.0);
        EXPECT_NEAR(tone.FrequencyHz, 1000.0, 0.1) << "channel " << channel;
        EXPECT_NEAR(tone.LevelDbfs, AmplitudeToDbfs(20000.0), kToneLevelToleranceDb) << "channel " << channel;
        EXPECT_LT(tone.SpurDbfs, kSpurLimitDbfs)
            << "channel " << channel << ": " << tone.SpurFrequencyHz << " Hz";
    }
}

// ALSA's file PCM opens and takes the format, and makes its file only at the first write: the device is
// lost before it has played a sample, a real fault of the kind the stand-in above makes.
TEST_F(ALDSAudioOutAlsaConcurrencyTest, ADeviceWhoseFileCannotBeMadeIsLostAtItsFirstWriteAndNothingHangs)
{
    const auto before = testing::TProcessResources::Baseline();
    Load("csInternal", "False", kUnwritableRecorder);
    ASSERT_EQ(FOut->AudioOutputDevice().DeviceName(), kUnwritableRecorder);
    RecordFailures();
    FOut->SetEnabled(true);
    FGen->SetEnabled(true);
    ASSERT_TRUE(ServeUntil([&] { return !FLost.empty(); }));
    ASSERT_EQ(FErrors.size(), 1u);
    EXPECT_EQ(FErrors[0].Text,
              "Audio device lost. audio device 'harvunwritable': snd_pcm_writei: Input/output error");
    EXPECT_EQ(FErrors[0].Code, EC_DEVICE_LOST);
    EXPECT_EQ(FErrors[0].Thread, std::this_thread::get_id());
    EXPECT_EQ(FLost[0], std::this_thread::get_id());
    EXPECT_FALSE(FOut->Running());
    EXPECT_TRUE(Reported("/nonexistent/folder/out.raw write failed")) << "ALSA's own complaint is lost";

    // The generator's clock keeps ticking into the stopped output; the window can still change the tone and
    // stop, and the pipeline goes.
    FGen->SetFrequency(3000.0);
    FGen->SetEnabled(false);
    EXPECT_LE(FOut->QueuedBlocks(), TALDSAudioOut::kPlayQueueCapacity);
    FForm.reset();
    EXPECT_EQ(FErrors.size(), 1u);
    EXPECT_EQ(FLost.size(), 1u);
    ExpectNothingLeftBehind(before);
}

TEST_F(ALDSAudioOutAlsaConcurrencyTest, WithoutASoundCardTheDefaultDevicePlaysOnTheNullRenderer)
{
    if (AlsaSoundCardCount() > 0)
        GTEST_SKIP() << "this machine has a sound card: `default` does not fall back";
    const auto recording = FFolder / "fallback.wav";
    SetNullRendererOptions(
        {.Paced = true, .BufferDuration = std::chrono::milliseconds(40), .RecordTo = recording});
    Load("csInternal", "False", "Default");
    RecordFailures();
    FOut->SetEnabled(true);
    FGen->SetEnabled(true);
    ASSERT_TRUE(ServeUntil([&] { return PlayedAtLeast(500000); }));
    EXPECT_TRUE(FErrors.empty()) << FErrors[0].Text;
    EXPECT_TRUE(Reported("no sound device could be opened: playing on the null renderer"));
    FGen->SetEnabled(false);
    FForm.reset();

    testing::ExpectSteadyStream(testing::ReadRecording(recording), 48);
}

}   // namespace
}   // namespace harvolin
