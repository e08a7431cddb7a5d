#include "tests/support/ToneAnalysis.h"
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>
#include <vector>

namespace harvolin
{
namespace
{

constexpr std::uint32_t kRate = 48000;
constexpr std::size_t kFrames = 48000;

TEST(ToneAnalysisTest, FindsAToneBetweenBinsAtItsFrequencyAndLevel)
{
    // 1234.567 Hz falls between bins of any power-of-two transform at 48 000.
    const std::vector<TSine> sines{{1234.567, 20000.0, 0.3}};
    const auto frames = SynthesiseTones(sines, kRate, kFrames, 2);
    const auto result = AnalyseTone(frames, 2, 1, kRate);
    EXPECT_NEAR(result.FrequencyHz, 1234.567, 0.05);
    EXPECT_NEAR(result.LevelDbfs, AmplitudeToDbfs(20000.0), 0.01);
}

TEST(ToneAnalysisTest, FindsASmallSpurAtItsFrequencyAndLevel)
{
    // -100 dBFS is an amplitude of a third of a step: the spur lives only through the tone's rounding,
    // which passes it on at its level when the tone does not repeat within a few samples.
    const double spurAmplitude = 32768.0 * 1e-5;
    const std::vector<TSine> sines{{19031.7, 32000.0, 0.0}, {15123.4, spurAmplitude, 1.0}};
    const auto result = AnalyseTone(SynthesiseTones(sines, kRate, kFrames, 1), 1, 0, kRate);
    EXPECT_NEAR(result.FrequencyHz, 19031.7, 0.05);
    EXPECT_NEAR(result.SpurFrequencyHz, 15123.4, 2.0 * kRate / static_cast<double>(result.FftSize));
    EXPECT_NEAR(result.SpurDbfs, -100.0, 0.5);
}

TEST(ToneAnalysisTest, FindsASpurBeyondTheToneAndNotTheTonesOwnSkirt)
{
    // A spur a few lobes above the tone: the tone's lobe must be left out of the spur's level.
    const std::vector<TSine> sines{{1000.0, 32000.0, 0.0}, {1030.0, 32.768, 0.0}};
    const auto result = AnalyseTone(SynthesiseTones(sines, kRate, kFrames, 1), 1, 0, kRate);
    EXPECT_NEAR(result.SpurFrequencyHz, 1030.0, 2.0 * kRate / static_cast<double>(result.FftSize));
    EXPECT_NEAR(result.SpurDbfs, -60.0, 0.1);
}

TEST(ToneAnalysisTest, TheRestSumsEverySpurWithTheRoundingNoise)
{
    // Two spurs of equal level, 3 dB more together; rounding adds its -101 dBFS, well under a tenth of that.
    const std::vector<TSine> sines{{1000.0, 32000.0, 0.0}, {5123.4, 320.0, 0.5}, {7345.6, 320.0, 1.5}};
    const auto result = AnalyseTone(SynthesiseTones(sines, kRate, kFrames, 1), 1, 0, kRate);
    EXPECT_NEAR(result.RestDbfs, AmplitudeToDbfs(320.0) + 10.0 * std::log10(2.0), 0.05);
    EXPECT_NEAR(result.SpurDbfs, AmplitudeToDbfs(320.0), 0.05);

    // Alone, the tone leaves only its rounding, a step's square / 12 as a full-scale sine's power.
    const std::vector<TSine> tone{{1234.567, 32000.0, 0.0}};
    const auto pure = AnalyseTone(SynthesiseTones(tone, kRate, kFrames, 1), 1, 0, kRate);
    EXPECT_NEAR(pure.RestDbfs, 10.0 * std::log10((1.0 / 12.0) / (32768.0 * 32768.0 / 2.0)), 1.0);
}

TEST(ToneAnalysisTest, APure16BitToneHasNoSpurAboveTheRoundingFloor)
{
    // Rounding to 16 bits leaves at most -101 dBFS of error in all (a step's square / 12), even when the
    // tone repeats every 48 samples and the error gathers in its harmonics.
    for (const double frequency : {1000.0, 1234.567, 19500.0})
    {
        for (const double amplitude : {32000.0, 320.0})
        {
            const std::vector<TSine> sines{{frequency, amplitude, 0.0}};
            const auto result = AnalyseTone(SynthesiseTones(sines, kRate, kFrames, 2), 2, 0, kRate);
            EXPECT_NEAR(result.LevelDbfs, AmplitudeToDbfs(amplitude), 0.01) << frequency << " Hz";
            EXPECT_LT(result.SpurDbfs, -101.0) << frequency << " Hz at " << amplitude;
        }
    }
}

TEST(ToneAnalysisTest, AComponentAtHalfTheRateReadsAtItsPower)
{
    // A sine at half the rate, caught at its peaks, alternates +-A: the power of a sine of A x sqrt(2).
    const std::vector<TSine> sines{{1000.0, 32000.0, 0.0}, {kRate / 2.0, 320.0, std::numbers::pi / 2.0}};
    const auto result = AnalyseTone(SynthesiseTones(sines, kRate, kFrames, 1), 1, 0, kRate);
    EXPECT_NEAR(result.SpurFrequencyHz, kRate / 2.0, 2.0 * kRate / static_cast<double>(result.FftSize));
    EXPECT_NEAR(result.SpurDbfs, AmplitudeToDbfs(320.0 * std::numbers::sqrt2), 0.02);
    EXPECT_NEAR(result.RestDbfs, result.SpurDbfs, 0.02);
}

TEST(ToneAnalysisTest, TheLimitHoldsForTheWorstRoundingOfAToneOfTenSamples)
{
    // A tone that repeats every ten samples puts all its rounding error into three harmonics. At these
    // phases (found by searching a tenth of a turn in steps of 3e-6 rad) the error gathers the most in one:
    // at 30 kHz for 1 %, at half the rate for 100 %. 16-bit rounding can do no worse, and the limit is
    // just above it.
    constexpr std::uint32_t kStreamRate = 100000;
    const struct
    {
        double Amplitude;
        double Phase;
        double SpurHz;
        double SpurDbfs;
    } worst[] = {{320.0, 0.396596, 30000.0, -95.008}, {32000.0, 0.285074, 50000.0, -95.257}};
    for (const auto& tone : worst)
    {
        const std::vector<TSine> sines{{10000.0, tone.Amplitude, tone.Phase}};
        const auto result =
            AnalyseTone(SynthesiseTones(sines, kStreamRate, 32768, 1), 1, 0, kStreamRate, 0.0);
        EXPECT_NEAR(result.SpurFrequencyHz, tone.SpurHz, 2.0 * kStreamRate / 32768.0) << tone.Amplitude;
        EXPECT_NEAR(result.SpurDbfs, tone.SpurDbfs, 0.01) << tone.Amplitude;
        EXPECT_LT(result.SpurDbfs, kSpurLimitDbfs) << tone.Amplitude;
    }
}

TEST(ToneAnalysisTest, SilenceHasNoTone)
{
    const std::vector<std::int16_t> silence(2 * kFrames, 0);
    const auto result = AnalyseTone(silence, 2, 0, kRate);
    EXPECT_LT(result.LevelDbfs, -300.0);
    EXPECT_LT(result.SpurDbfs, -300.0);
}

TEST(ToneAnalysisTest, SkipsTheStartUp)
{
    // A loud burst in the first 50 ms, then a quiet tone: the burst must not count.
    auto frames = SynthesiseTones(std::vector<TSine>{{5000.0, 320.0, 0.0}}, kRate, kFrames, 1);
    for (std::size_t n = 0; n < 2000; ++n)
        frames[n] = static_cast<std::int16_t>(n % 2 == 0 ? 30000 : -30000);
    const auto result = AnalyseTone(frames, 1, 0, kRate);
    EXPECT_NEAR(result.FrequencyHz, 5000.0, 0.05);
    EXPECT_NEAR(result.LevelDbfs, AmplitudeToDbfs(320.0), 0.01);
    EXPECT_LT(result.SpurDbfs, -101.0);
}

TEST(ToneAnalysisTest, RefusesTooShortARecordingAndAMissingChannel)
{
    const std::vector<std::int16_t> shortRecording(2 * 5000, 0);
    EXPECT_THROW((void)AnalyseTone(shortRecording, 2, 0, kRate), std::invalid_argument);
    const std::vector<std::int16_t> frames(2 * kFrames, 0);
    EXPECT_THROW((void)AnalyseTone(frames, 2, 2, kRate), std::invalid_argument);
}

}   // namespace
}   // namespace harvolin
