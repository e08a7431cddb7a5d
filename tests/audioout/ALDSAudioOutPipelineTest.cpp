#include "app/WindowPipeline.h"
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

constexpr std::int64_t kBlockFrames = 1024;
constexpr std::int64_t kBlockMicroseconds = 10240;   // 1024 frames at 100 000 a second

// The generator's blocks as the converter writes them: the synthesis rounded half to even. The frequency
// changes to frequency from block frequencyAt on, the amplitude to amplitude from amplitudeAt on.
class TReference
{
public:
    std::vector<std::int16_t> Block(std::size_t index)
    {
        while (FBlocks.size() <= index)
        {
            if (FBlocks.size() == FFrequencyAt)
                FWave.SetFrequency(FFrequency);
            if (FBlocks.size() == FAmplitudeAt)
                FWave.SetAmplitude(FAmplitude);
            std::vector<double> samples(kBlockFrames);
            FWave.GenerateBlock(samples.data(), static_cast<std::int32_t>(kBlockFrames));
            std::vector<std::int16_t> block(samples.size());
            for (std::size_t k = 0; k < samples.size(); ++k)
                block[k] = static_cast<std::int16_t>(RoundHalfEven(samples[k]));
            FBlocks.push_back(std::move(block));
        }
        return FBlocks[index];
    }
    TReference(std::size_t frequencyAt = SIZE_MAX, double frequency = 0.0, std::size_t amplitudeAt = SIZE_MAX,
               double amplitude = 0.0)
        : FFrequencyAt(frequencyAt), FFrequency(frequency), FAmplitudeAt(amplitudeAt), FAmplitude(amplitude)
    {
        FWave.SetSignalType(stTone);
        FWave.SetAmplitude(20000.0);
        FWave.SampleRateChanged(100000.0);
        FWave.SetFrequency(1000.0);
        FWave.ResetState();
    }
private:
    TSLWaveform FWave;
    const std::size_t FFrequencyAt;
    const double FFrequency;
    const std::size_t FAmplitudeAt;
    const double FAmplitude;
    std::vector<std::vector<std::int16_t>> FBlocks;
};

// Whether block index of the recording holds the reference's block in both channels.
bool BlockMatches(const std::vector<std::int16_t>& recording, std::size_t index, TReference& reference)
{
    const std::vector<std::int16_t> expected = reference.Block(index);
    const std::size_t base = index * 2 * kBlockFrames;
    for (std::size_t k = 0; k < expected.size(); ++k)
        if (recording[base + 2 * k] != expected[k] || recording[base + 2 * k + 1] != expected[k])
            return false;
    return true;
}

// The first block of the recording that differs from the reference; the block count when none does.
std::size_t FirstMismatch(const std::vector<std::int16_t>& recording, TReference& reference)
{
    const std::size_t blocks = recording.size() / (2 * kBlockFrames);
    std::size_t index = 0;
    while (index < blocks && BlockMatches(recording, index, reference))
        ++index;
    return index;
}

class ALDSAudioOutPipelineConcurrencyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // A class whose unit nothing else of this program refers to is not linked in from its library, and
        // with it goes its registration.
        RegisterComponentClass<TALRealToAudio>();
        FFolder = testing::TestFolder("harvolin-pipeline");
    }
    void TearDown() override
    {
        FForm.reset();
        SetNullRendererOptions({});
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }
    // Reads the window's pipeline; the output plays on the null renderer.
    void Load(const char* clockSource, const char* masterPumping)
    {
        FForm = MakeComponent<TTestForm>();
        ReadDescription(*FForm, WindowPipelineDescription("TTestForm", clockSource, masterPumping));
        FGen = &dynamic_cast<TSLSignalGen&>(*FForm->FindComponent("SLSignalGen1"));
        FOut = &dynamic_cast<TALDSAudioOut&>(*FForm->FindComponent("ALDSAudioOut1"));
        FOut->AudioOutputDevice().SetDeviceName(kNullAudioRendererFriendlyName);
    }
    std::optional<REFERENCE_TIME> Played() { return PlayedStreamTime(*FOut); }
    // Serves the window thread's messages (graph events, posted failures) while waiting for condition;
    // false when the patience ran out.
    bool ServeUntil(const std::function<bool()>& condition, std::chrono::milliseconds patience = kPatience)
    {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!condition())
        {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            FLoop.ProcessPending();
            YieldThread();
        }
        return true;
    }
    bool PlayedAtLeast(REFERENCE_TIME microseconds)
    {
        const auto played = Played();
        return played && *played >= microseconds;
    }
    // The stream the output has taken and not yet played, in microseconds: delivered or queued.
    std::int64_t Ahead(REFERENCE_TIME played)
    {
        return FOut->StreamPosition() + static_cast<std::int64_t>(FOut->QueuedBlocks()) * kBlockMicroseconds -
               played;
    }

    TMessageLoop FLoop;
    std::filesystem::path FFolder;
    TComponentPtr<TTestForm> FForm;   // the window that owns the pipeline
    TSLSignalGen* FGen = nullptr;
    TALDSAudioOut* FOut = nullptr;
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
    TReference unchanged;
    const std::size_t change = FirstMismatch(samples, unchanged);
    ASSERT_LT(change, blocks) << "the change never arrived";
    // The two setters run one after the other: a block may fall between them.
    bool continuous = false;
    for (std::size_t amplitudeAt = change; amplitudeAt <= change + 1 && !continuous; ++amplitudeAt)
    {
        TReference changed(change, 3000.0, amplitudeAt, 8000.0);
        continuous = FirstMismatch(samples, changed) == blocks;
    }
    EXPECT_TRUE(continuous) << "a block is missing, repeated or out of phase after block " << change;
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
    EXPECT_NEAR(static_cast<double>(late), static_cast<double>(early), static_cast<double>(kBlockMicroseconds));

    // The stop takes effect at the first tick that finds nothing queued.
    FGen->SetEnabled(false);
    ASSERT_TRUE(ServeUntil([&] { return !FOut->Running(); }));
    EXPECT_FALSE(FOut->FormatKnown());
    EXPECT_EQ(FOut->QueuedBlocks(), 0u);
}

TEST_F(ALDSAudioOutPipelineConcurrencyTest, OverMinutesOfStreamTheQueueAndTheDelayStayBounded)
{
    const auto recording = FFolder / "played.wav";
    // Forty times a sound card's pace, and a producer as fast as its consumer lets it be: two minutes of
    // stream in a few seconds.
    SetNullRendererOptions({.Paced = true, .BufferDuration = 40ms, .RecordTo = recording, .Speed = 40});
    Load("csExternal", "False");
    FOut->SetEnabled(true);
    FGen->SetEnabled(true);
    std::int64_t mostAhead = 0;
    std::uint64_t ticks = 0;
    while (!PlayedAtLeast(120000000))
    {
        FGen->ClockPin.Clock();
        if (++ticks % 64 == 0)
            if (const auto played = Played())
                mostAhead = std::max(mostAhead, Ahead(*played));
        std::this_thread::yield();
    }
    FGen->SetEnabled(false);
    EXPECT_EQ(FOut->DroppedBlocks(), 0u);
    EXPECT_LE(FOut->MostQueuedBlocks(), TALDSAudioOut::kPlayQueueCapacity);
    EXPECT_LE(mostAhead, 100000);
    FForm.reset();

    const std::vector<std::int16_t> samples = testing::ReadRecording(recording);
    ASSERT_EQ(samples.size() % (2 * kBlockFrames), 0u);
    const std::size_t blocks = samples.size() / (2 * kBlockFrames);
    ASSERT_GE(blocks, 11700u);
    TReference steady;
    EXPECT_EQ(FirstMismatch(samples, steady), blocks) << "the stream is not continuous";
}

}   // namespace
}   // namespace harvolin
