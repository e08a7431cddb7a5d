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
    testing::ExpectQuality(rows, "null renderer", kFrequencyToleranceHz);
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
    testing::ExpectQuality(rows, "ALSA at " + std::to_string(rate), kFrequencyToleranceHz);
}

INSTANTIATE_TEST_SUITE_P(Rates, ALDSAudioOutSoundQualityAlsaTest, ::testing::ValuesIn(kDeviceRates),
                         [](const ::testing::TestParamInfo<std::uint32_t>& rateInfo)
                         { return "At" + std::to_string(rateInfo.param); });

}   // namespace
}   // namespace harvolin
