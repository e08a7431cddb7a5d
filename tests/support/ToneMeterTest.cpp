#include "tests/support/ToneMeter.h"
#include "media/WavWriter.h"
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace harvolin
{
namespace
{

constexpr std::uint32_t kRate = 48000;
constexpr double kSpurDbfs = -100.0;
const double kSpurAmplitude = 32768.0 * std::pow(10.0, kSpurDbfs / 20.0);

struct TRun
{
    int Code = -1;
    std::string Out;
    std::string Err;
};

// The meter's results as numbers, in the order the JSON object gives them: the number after each
// "key": (found by hand; GCC 12 warns inside std::regex under the sanitizers).
std::vector<double> JsonNumbers(const std::string& json, const std::string& key)
{
    std::vector<double> numbers;
    const std::string lead = "\"" + key + "\": ";
    for (std::size_t at = json.find(lead); at != std::string::npos; at = json.find(lead, at + lead.size()))
    {
        const std::size_t start = at + lead.size();
        const std::size_t end = json.find_first_not_of("-0123456789.", start);
        if (end != start)
            numbers.push_back(std::stod(json.substr(start, end - start)));
    }
    return numbers;
}

class ToneMeterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FFolder =
            std::filesystem::temp_directory_path() / ("harvolin-tone-meter-" + std::to_string(::getpid()));
        std::filesystem::create_directories(FFolder);
    }
    void TearDown() override { std::filesystem::remove_all(FFolder); }

    static TRun Run(std::vector<std::string> arguments)
    {
        std::ostringstream out;
        std::ostringstream err;
        TRun run;
        run.Code = RunToneMeter(arguments, out, err);
        run.Out = out.str();
        run.Err = err.str();
        return run;
    }
    // The frames written by the program's own WAV writer.
    std::filesystem::path WriteWav(const std::string& name, const std::vector<std::int16_t>& samples,
                                   std::uint16_t channels, std::uint16_t bits = 16)
    {
        const auto file = FFolder / name;
        TWavWriter writer(file, TPcmFormat{channels, bits, kRate});
        writer.Append({reinterpret_cast<const std::uint8_t*>(samples.data()), samples.size() * 2});
        return file;
    }
    std::filesystem::path WriteBytes(const std::string& name, const std::string& bytes)
    {
        const auto file = FFolder / name;
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }
    // A tone at 1234.567 Hz and -6 dBFS with a spur at 7777.7 Hz and -100 dBFS in every channel.
    static std::vector<std::int16_t> ToneWithSpur(std::uint16_t channels, double seconds = 1.0)
    {
        const std::vector<TSine> sines{{1234.567, 16422.0, 0.2}, {7777.7, kSpurAmplitude, 1.0}};
        return SynthesiseTones(sines, kRate, static_cast<std::size_t>(seconds * kRate), channels);
    }
    static void ExpectToneWithSpur(const std::string& json, std::size_t channels)
    {
        const auto frequencies = JsonNumbers(json, "frequency_hz");
        const auto levels = JsonNumbers(json, "level_dbfs");
        const auto spurs = JsonNumbers(json, "spur_frequency_hz");
        const auto spurLevels = JsonNumbers(json, "spur_dbfs");
        ASSERT_EQ(frequencies.size(), channels) << json;
        ASSERT_EQ(spurLevels.size(), channels) << json;
        const double bin = JsonNumbers(json, "bin_hz").at(0);
        for (std::size_t k = 0; k < channels; ++k)
        {
            EXPECT_NEAR(frequencies[k], 1234.567, 0.05) << json;
            EXPECT_NEAR(levels[k], AmplitudeToDbfs(16422.0), 0.01) << json;
            EXPECT_NEAR(spurs[k], 7777.7, bin) << json;
            EXPECT_NEAR(spurLevels[k], kSpurDbfs, 0.5) << json;
        }
    }

    std::filesystem::path FFolder;
};

TEST_F(ToneMeterTest, MeasuresTheToneAndAKnownSpurOfPlainAndExtensibleWavFilesAndRawFrames)
{
    const auto stereo = ToneWithSpur(2);
    const auto plain = WriteWav("plain.wav", stereo, 2);
    ASSERT_EQ(std::filesystem::file_size(plain), 44 + stereo.size() * 2);
    TRun run = Run({"--json", plain.string()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    ExpectToneWithSpur(run.Out, 2);
    EXPECT_EQ(JsonNumbers(run.Out, "rate").at(0), kRate);

    // The extensible record, as the writer makes it for more channels or bits, here for 16-bit mono.
    const auto mono = ToneWithSpur(1);
    std::string header;
    const auto put16 = [&](std::uint16_t v) { header.append(reinterpret_cast<const char*>(&v), 2); };
    const auto put32 = [&](std::uint32_t v) { header.append(reinterpret_cast<const char*>(&v), 4); };
    const auto dataBytes = static_cast<std::uint32_t>(mono.size() * 2);
    header += "RIFF";
    put32(60 + dataBytes);
    header += "WAVEfmt ";
    put32(40);
    put16(0xFFFE);
    put16(1);
    put32(kRate);
    put32(kRate * 2);
    put16(2);
    put16(16);
    put16(22);
    put16(16);
    put32(4);
    header += std::string("\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 16);
    header += "data";
    put32(dataBytes);
    ASSERT_EQ(header.size(), 68u);
    const auto extensible = WriteBytes(
        "extensible.wav", header + std::string(reinterpret_cast<const char*>(mono.data()), dataBytes));
    run = Run({"--json", extensible.string()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    ExpectToneWithSpur(run.Out, 1);

    const auto raw = WriteBytes("frames.raw",
                                std::string(reinterpret_cast<const char*>(stereo.data()), stereo.size() * 2));
    run = Run({"--raw", "--rate", "48000", "--channels", "2", "--json", raw.string()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    ExpectToneWithSpur(run.Out, 2);

    // The text form says the same per channel.
    run = Run({plain.string()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_NE(run.Out.find("channel 1: tone 1234.5"), std::string::npos) << run.Out;
    EXPECT_NE(run.Out.find("at -6.00"), std::string::npos) << run.Out;
}

TEST_F(ToneMeterTest, SkipAndLengthChooseThePartMeasured)
{
    // Half a second of 1 kHz at -20 dBFS, then half a second of 3 kHz at -40 dBFS.
    auto first = SynthesiseTones(std::vector<TSine>{{1000.0, 3276.8, 0.0}}, kRate, kRate / 2, 1);
    const auto second = SynthesiseTones(std::vector<TSine>{{3000.0, 327.68, 0.0}}, kRate, kRate / 2, 1);
    first.insert(first.end(), second.begin(), second.end());
    const auto file = WriteWav("two.wav", first, 1);

    TRun run = Run({"--json", "--length", "0.45", file.string()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_NEAR(JsonNumbers(run.Out, "frequency_hz").at(0), 1000.0, 0.05);
    EXPECT_NEAR(JsonNumbers(run.Out, "level_dbfs").at(0), -20.0, 0.01);
    EXPECT_LT(JsonNumbers(run.Out, "spur_dbfs").at(0), -95.0) << "the second tone leaked into the first part";

    run = Run({"--json", "--skip", "0.55", file.string()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_NEAR(JsonNumbers(run.Out, "frequency_hz").at(0), 3000.0, 0.05);
    EXPECT_NEAR(JsonNumbers(run.Out, "level_dbfs").at(0), -40.0, 0.01);

    // The whole file: the louder tone, cut off halfway, with its splatter and the other tone far above the
    // limit a clean tone keeps.
    run = Run({"--json", file.string()});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_NEAR(JsonNumbers(run.Out, "frequency_hz").at(0), 1000.0, 0.5);
    EXPECT_GT(JsonNumbers(run.Out, "spur_dbfs").at(0), -80.0);
}

TEST_F(ToneMeterTest, AFileItCannotReadEndsWithStatusTwoNamingTheFileAndWhy)
{
    const auto samples = ToneWithSpur(2, 0.5);
    const auto whole = WriteWav("whole.wav", samples, 2);
    std::string bytes;
    {
        std::ifstream in(whole, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    struct TCase
    {
        std::filesystem::path File;
        std::string Why;
    };
    const std::vector<TCase> cases{
        {FFolder / "missing.wav", "cannot open: No such file or directory"},
        {WriteBytes("truncated.wav", bytes.substr(0, bytes.size() - 1001)),
         "truncated: the header gives 96000 bytes of samples, the file holds 94999"},
        {WriteBytes("header-only.wav", bytes.substr(0, 30)), "truncated inside its \"fmt \" chunk"},
        {WriteBytes("text.wav", "object fmMain: TfmMain\nend\n"), "not a WAV file (no RIFF/WAVE header)"},
        {WriteBytes("empty.wav", ""), "not a WAV file"},
        {WriteWav("deep.wav", std::vector<std::int16_t>(3 * 6000), 2, 24), "24-bit samples, not 16-bit"},
        {WriteWav("short.wav", std::vector<std::int16_t>(2 * 4000), 2), "4000 frames to analyse"},
    };
    for (const TCase& bad : cases)
    {
        const TRun run = Run({bad.File.string()});
        EXPECT_EQ(run.Code, 2) << bad.File;
        EXPECT_EQ(run.Err.rfind("harvolin_tone_meter: recording '" + bad.File.string() + "': ", 0), 0u)
            << run.Err;
        EXPECT_NE(run.Err.find(bad.Why), std::string::npos) << run.Err;
        EXPECT_TRUE(run.Out.empty()) << run.Out;
    }
    // A raw file with part of a frame left over.
    const auto odd = WriteBytes("odd.raw", bytes.substr(44, 4 * 5000 + 2));
    const TRun run = Run({"--raw", "--rate", "48000", "--channels", "2", odd.string()});
    EXPECT_EQ(run.Code, 2);
    EXPECT_NE(run.Err.find("20002 bytes are no whole 2-channel frames"), std::string::npos) << run.Err;
}

TEST_F(ToneMeterTest, ACommandLineItDoesNotUnderstandEndsWithStatusOneAndTheUsage)
{
    const auto file = WriteWav("tone.wav", ToneWithSpur(1, 0.2), 1).string();
    const std::vector<std::vector<std::string>> refused{
        {},
        {"--raw", file},
        {"--rate", "48000", file},
        {"--skip", file},
        {"--skip", "-1", file},
        {"--length", "0.1s", file},
        {"--raw", "--rate", "48000", "--channels", "3", file},
        {"--loud", file},
        {file, file},
    };
    for (const auto& arguments : refused)
    {
        const TRun run = Run(arguments);
        EXPECT_EQ(run.Code, 1) << ::testing::PrintToString(arguments);
        EXPECT_NE(run.Err.find("usage: harvolin_tone_meter"), std::string::npos) << run.Err;
    }
}

}   // namespace
}   // namespace harvolin
