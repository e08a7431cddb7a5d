#include "media/AudioDevices.h"
#include "tests/audioout/SoundQualityTestSupport.h"
#include "tests/support/AlsaTestConfig.h"
#include <gtest/gtest.h>

#include <string>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

constexpr std::uint32_t kDeviceRates[] = {44100, 48000, 96000, 100000};

std::filesystem::path Recorded(std::uint32_t rate)
{
    return testing::TAlsaTestEnvironment::Folder() / ("quality" + std::to_string(rate) + ".raw");
}

std::string DeviceName(std::uint32_t rate)
{
    return "Quality recorder " + std::to_string(rate);
}

// Per rate, a device that takes that rate only and records what it is given: a plug (whose own linear
// converter the program keeps out) over ALSA's file PCM over its null PCM.
std::string PcmDefinitions()
{
    std::string text;
    for (const std::uint32_t rate : kDeviceRates)
    {
        const std::string name = std::to_string(rate);
        text +=
            "pcm.qualityfile" + name + " { type file; slave.pcm \"null\"; file \"" + Recorded(rate).string() +
            "\"; format \"raw\" }\n"
            "pcm.quality" +
            name + " { type plug; rate_converter \"linear\"; slave { pcm \"qualityfile" + name + "\"; rate " +
            name + "; format S16_LE } hint { show on description \"" + DeviceName(rate) + "\" } }\n";
    }
    return text;
}

const auto* const GAlsaConfig =
    ::testing::AddGlobalTestEnvironment(new testing::TAlsaTestEnvironment(PcmDefinitions()));

const std::filesystem::path kTableFolder = std::filesystem::path(HARVOLIN_BINARY_DIR) / "quality";

// The stream's frequencies stay exact through every output here, and the analysed parts are long enough
// (8192 frames and more, bins of 5.4 Hz at most) for the interpolation to land within a hundredth of a bin.
constexpr double kFrequencyToleranceHz = 0.1;

// The table's measurement on a recording whose faults are known: every tone found again, the silence put
// into one counted and left out, a spur in another and a wrong frequency in a third measured as they are.
TEST(SoundQualityMeasurementTest, FindsEveryToneAndMeasuresTheFaultsPutIntoTheRecording)
{
    constexpr std::uint32_t kRate = 48000;
    constexpr std::size_t kSegmentFrames = kRate * 6 / 10;
    const auto cases = testing::QualityCases();
    TPcmRecording recording{kRate, 2, {}};
    for (std::size_t k = 0; k < cases.size(); ++k)
    {
        std::vector<TSine> sines{{cases[k].FrequencyHz, cases[k].Amplitude(), 0.0}};
        if (k == 5)
            sines[0].FrequencyHz = 19990.0;
        if (k == 10)
            sines.push_back({7000.0, 32768.0 * 1e-4, 0.0});   // -80 dBFS
        const auto segment = SynthesiseTones(sines, kRate, kSegmentFrames, 2);
        recording.Samples.insert(recording.Samples.end(), segment.begin(), segment.end());
    }
    // 20 ms of silence a third of the way into the fourth tone.
    const std::size_t gapStart = 3 * kSegmentFrames + kSegmentFrames / 3;
    std::fill_n(recording.Samples.begin() + static_cast<std::ptrdiff_t>(2 * gapStart), 2 * 960, 0);

    const auto rows = testing::MeasureQualitySequence(recording, cases);
    ASSERT_EQ(rows.size(), cases.size());
    for (std::size_t k = 0; k < rows.size(); ++k)
    {
        ASSERT_EQ(rows[k].Channels.size(), 2u) << "tone " << k << " was not found";
        EXPECT_GE(rows[k].Channels[0].FftSize, 8192u) << "tone " << k;
        EXPECT_NEAR(rows[k].Channels[1].LevelDbfs, cases[k].ExpectedDbfs(), 0.01) << "tone " << k;
        EXPECT_EQ(rows[k].Gaps, k == 3 ? 1u : 0u) << "tone " << k;
        const double frequency = k == 5 ? 19990.0 : cases[k].FrequencyHz;
        EXPECT_NEAR(rows[k].Channels[0].FrequencyHz, frequency, 0.05) << "tone " << k;
        EXPECT_LT(rows[k].Channels[0].SpurDbfs, k == 10 ? -79.0 : kSpurLimitDbfs) << "tone " << k;
    }
    // A sample of the tone beside the silence may round to zero too.
    EXPECT_GE(rows[3].GapFrames, 960u);
    EXPECT_LE(rows[3].GapFrames, 962u);
    const bool gapLeftOut =
        rows[3].FirstFrame >= gapStart + 960 || rows[3].FirstFrame + rows[3].FrameCount <= gapStart;
    EXPECT_TRUE(gapLeftOut) << "the part analysed holds the silence";
    EXPECT_NEAR(rows[10].Channels[0].SpurFrequencyHz, 7000.0, 2.0 * kRate / rows[10].Channels[0].FftSize);
    EXPECT_NEAR(rows[10].Channels[0].SpurDbfs, -80.0, 0.1);
}

class ALDSAudioOutSoundQualityTest : public testing::TQualityFixture
{
};

TEST_F(ALDSAudioOutSoundQualityTest, TheNullRenderersRecordingHoldsEveryToneCleanlyAtItsLevel)
{
    const auto recording = FFolder / "quality.wav";
    SetNullRendererOptions({.Paced = true, .BufferDuration = 40ms, .RecordTo = recording});
    const auto cases = testing::QualityCases();
    PlaySequence(cases, kNullAudioRendererFriendlyName);

    const TPcmRecording played = ReadWavRecording(recording);
    ASSERT_EQ(played.Rate, 100000u);
    ASSERT_EQ(played.Channels, 2u);
    const auto rows = testing::MeasureQualitySequence(played, cases);
    testing::ReportQuality(rows, "null-renderer", played.Rate, kTableFolder);
    testing::ExpectQuality(rows, "null renderer", kFrequencyToleranceHz, testing::TGaps::Fail);
}

class ALDSAudioOutSoundQualityAlsaTest : public testing::TQualityFixture,
                                         public ::testing::WithParamInterface<std::uint32_t>
{
};

TEST_P(ALDSAudioOutSoundQualityAlsaTest, ADeviceOfOneRateGetsEveryToneCleanlyAtItsLevel)
{
    const std::uint32_t rate = GetParam();
    std::error_code ignored;
    std::filesystem::remove(Recorded(rate), ignored);
    const auto cases = testing::QualityCases();
    PlaySequence(cases, DeviceName(rate));
    ASSERT_EQ(FReports.size(), 0u) << FReports.front();

    const TPcmRecording played = ReadRawRecording(Recorded(rate), rate, 2);
    const auto rows = testing::MeasureQualitySequence(played, cases);
    testing::ReportQuality(rows, "alsa-" + std::to_string(rate), rate, kTableFolder);
    testing::ExpectQuality(rows, "ALSA at " + std::to_string(rate), kFrequencyToleranceHz,
                           testing::TGaps::Fail);
}

INSTANTIATE_TEST_SUITE_P(Rates, ALDSAudioOutSoundQualityAlsaTest, ::testing::ValuesIn(kDeviceRates),
                         [](const ::testing::TestParamInfo<std::uint32_t>& rateInfo)
                         { return "At" + std::to_string(rateInfo.param); });

}   // namespace
}   // namespace harvolin
