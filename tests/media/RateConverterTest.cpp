#include "media/RateConverter.h"
#include "rtl/Exceptions.h"
#include "tests/support/ToneAnalysis.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace harvolin
{
namespace
{

constexpr std::uint32_t kStreamRate = 100000;
// The program's volume scale: 100 % is an amplitude of 32000 steps, 1 % is 320.
constexpr double kLoud = 32000.0;
constexpr double kQuiet = 320.0;
// The program delivers 1024 frames at a time.
constexpr std::size_t kBlockFrames = 1024;

std::vector<std::int16_t> Tone(double frequencyHz, double amplitude, std::size_t frameCount)
{
    const std::vector<TSine> sines{{frequencyHz, amplitude, 0.0}};
    return SynthesiseTones(sines, kStreamRate, frameCount, 2);
}

// Feeds the stream as the program does, block by block.
std::vector<std::int16_t> ConvertInBlocks(TRateConverter& converter, const std::vector<std::int16_t>& stream)
{
    std::vector<std::int16_t> output;
    const std::size_t frames = stream.size() / converter.Channels();
    for (std::size_t first = 0; first < frames; first += kBlockFrames)
        converter.Process(stream.data() + first * converter.Channels(),
                          std::min(kBlockFrames, frames - first), output);
    return output;
}

struct TConversionCase
{
    const char* Name;
    double FrequencyHz;
    double Amplitude;
    std::uint32_t OutputRate;
};

// Tests show the case by its name (the default would print the bytes of the record).
void PrintTo(const TConversionCase& testCase, std::ostream* stream)
{
    *stream << testCase.Name;
}

class RateConverterToneTest : public ::testing::TestWithParam<TConversionCase>
{
};

TEST_P(RateConverterToneTest, TheToneArrivesAtItsLevelWithoutOtherComponents)
{
    const auto& param = GetParam();
    const auto sent = Tone(param.FrequencyHz, param.Amplitude, kStreamRate);
    TRateConverter converter(kStreamRate, param.OutputRate, 2);
    const auto received = ConvertInBlocks(converter, sent);
    const auto before = AnalyseTone(sent, 2, 0, kStreamRate);
    for (std::uint16_t channel = 0; channel < 2; ++channel)
    {
        const auto after = AnalyseTone(received, 2, channel, param.OutputRate);
        EXPECT_NEAR(after.FrequencyHz, param.FrequencyHz, 0.1) << "channel " << channel;
        EXPECT_NEAR(after.LevelDbfs, before.LevelDbfs, kToneLevelToleranceDb) << "channel " << channel;
        EXPECT_LT(after.SpurDbfs, kSpurLimitDbfs)
            << "channel " << channel << ": a component at " << after.SpurFrequencyHz << " Hz";
        RecordProperty(std::string("level_change_db_") + std::to_string(channel),
                       std::to_string(after.LevelDbfs - before.LevelDbfs));
        RecordProperty(std::string("spur_dbfs_") + std::to_string(channel), std::to_string(after.SpurDbfs));
    }
}

std::vector<TConversionCase> ConversionCases()
{
    std::vector<TConversionCase> cases;
    static const std::vector<std::string> names = []
    {
        std::vector<std::string> list;
        for (const char* tone : {"1kHz", "10kHz", "19kHz", "19k5Hz"})
            for (const char* volume : {"Loud", "Quiet"})
                for (const char* rate : {"44100", "48000", "96000"})
                    list.push_back(std::string(tone) + volume + "To" + rate);
        return list;
    }();
    std::size_t index = 0;
    for (const double tone : {1000.0, 10000.0, 19000.0, 19500.0})
        for (const double amplitude : {kLoud, kQuiet})
            for (const std::uint32_t rate : {44100u, 48000u, 96000u})
                cases.push_back({names[index++].c_str(), tone, amplitude, rate});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Tones, RateConverterToneTest, ::testing::ValuesIn(ConversionCases()),
                         [](const auto& caseInfo) { return std::string(caseInfo.param.Name); });

TEST(RateConverterTest, BlocksJoinAsIfTheStreamCameAtOnce)
{
    const auto stream = Tone(19500.0, kLoud, 50000);
    TRateConverter whole(kStreamRate, 44100, 2);
    std::vector<std::int16_t> atOnce;
    whole.Process(stream.data(), 50000, atOnce);
    whole.Flush(atOnce);
    TRateConverter blockwise(kStreamRate, 44100, 2);
    auto inBlocks = ConvertInBlocks(blockwise, stream);
    blockwise.Flush(inBlocks);
    EXPECT_EQ(inBlocks, atOnce);
}

TEST(RateConverterTest, FlushHandsOutTheWholeStreamAtTheNewRate)
{
    const auto stream = Tone(1000.0, kLoud, 100000);
    TRateConverter converter(kStreamRate, 48000, 2);
    auto output = ConvertInBlocks(converter, stream);
    const std::size_t beforeFlush = output.size() / 2;
    converter.Flush(output);
    EXPECT_LT(beforeFlush, 48000u);
    EXPECT_NEAR(static_cast<double>(output.size() / 2), 48000.0, 1.0);
    EXPECT_EQ(output.size() % 2, 0u);
}

TEST(RateConverterTest, EqualRatesPassTheStreamThroughByteForByte)
{
    auto stream = Tone(19500.0, kLoud, 5000);
    stream[7] = -32768;   // the extremes too
    stream[8] = 32767;
    TRateConverter converter(kStreamRate, kStreamRate, 2);
    auto output = ConvertInBlocks(converter, stream);
    converter.Flush(output);
    EXPECT_EQ(output, stream);
}

// Converts a first stream, ends it with endStream, then a second: the second must come out as from a fresh
// converter, with nothing of the first stream's history in it.
void ExpectTheNextStreamStartsAfresh(std::uint32_t outputRate, void (*endStream)(TRateConverter&))
{
    const auto first = Tone(10000.0, kLoud, 20000);
    const auto second = Tone(1000.0, kQuiet, 20000);
    TRateConverter fresh(kStreamRate, outputRate, 2);
    const auto expected = ConvertInBlocks(fresh, second);

    TRateConverter reused(kStreamRate, outputRate, 2);
    (void)ConvertInBlocks(reused, first);
    endStream(reused);
    EXPECT_EQ(ConvertInBlocks(reused, second), expected);
}

TEST(RateConverterTest, ResetForgetsTheStream)
{
    ExpectTheNextStreamStartsAfresh(48000, [](TRateConverter& converter) { converter.Reset(); });
}

TEST(RateConverterTest, FlushReadiesTheConverterForANewStream)
{
    ExpectTheNextStreamStartsAfresh(44100,
                                    [](TRateConverter& converter)
                                    {
                                        std::vector<std::int16_t> tail;
                                        converter.Flush(tail);
                                    });
}

TEST(RateConverterTest, ImpossibleRatesThrowNamingTheRatesAndTheReason)
{
    const auto messageOf = [](std::uint32_t input, std::uint32_t output, std::uint16_t channels)
    {
        try
        {
            TRateConverter converter(input, output, channels);
        }
        catch (const Exception& error)
        {
            return error.Message();
        }
        return std::string("no exception");
    };
    for (const auto& [input, output] : {std::pair{100000u, 0u}, {0u, 48000u}, {0u, 0u}})
        EXPECT_EQ(messageOf(input, output, 2), "rate converter " + std::to_string(input) + " Hz -> " +
                                                   std::to_string(output) +
                                                   " Hz, 2 channels: cannot create: a rate of 0 Hz");
    EXPECT_EQ(messageOf(100000, 48000, 0), "rate converter 100000 Hz -> 48000 Hz, 0 channels: cannot create: "
                                           "no channels");
    EXPECT_EQ(messageOf(100000000, 8000, 2), "rate converter 100000000 Hz -> 8000 Hz, 2 channels: cannot "
                                             "create: the rates differ by more than 256 times");
}

}   // namespace
}   // namespace harvolin
