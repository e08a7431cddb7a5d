#include "app/Headless.h"
#include "media/AudioDevices.h"
#include "tests/audioout/ALDSAudioOutTestSupport.h"
#include "tests/support/AlsaTestConfig.h"
#include "tests/support/ToneAnalysis.h"
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <latch>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

using testing::kBrokenDevice;
using testing::kUnwritableDevice;
constexpr std::size_t kFramesBeforeFirstChange = 300032;   // 293 blocks of 1024: the first at or after 3 s

// As on a machine without a sound card: a device that cannot be opened, a `default` that cannot either, and
// one lost while it plays.
const auto* const GAlsaConfig =
    ::testing::AddGlobalTestEnvironment(new testing::TAlsaTestEnvironment(testing::NoSoundCardAlsaDefinitions()));

// The lines a run prints, and a call when the n-th is complete (the log flushes after each line).
class TLineWatch final : public std::stringbuf
{
public:
    TLineWatch(std::size_t line, std::function<void()> reached) : FLine(line), FReached(std::move(reached)) {}
    [[nodiscard]] std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        std::istringstream in(str());
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
protected:
    int sync() override
    {
        if (!FCalled && Lines().size() >= FLine)
        {
            FCalled = true;
            FReached();
        }
        return 0;
    }
private:
    const std::size_t FLine;
    std::function<void()> FReached;
    bool FCalled = false;
};

THeadlessCommandLine Line(const std::vector<std::string>& arguments)
{
    const THeadlessCommandLineResult parsed = ParseHeadlessCommandLine(arguments);
    EXPECT_TRUE(parsed.CommandLine) << parsed.Error;
    return parsed.CommandLine.value_or(THeadlessCommandLine{});
}

struct TWavFile
{
    std::uint32_t RiffSize = 0;
    std::uint16_t Channels = 0;
    std::uint32_t Rate = 0;
    std::uint16_t Bits = 0;
    std::uint32_t DataSize = 0;
    std::uintmax_t FileSize = 0;
};

TWavFile ReadHeader(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::uint8_t header[44] = {};
    in.read(reinterpret_cast<char*>(header), sizeof header);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 4), "RIFF");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(header) + 8, 4), "WAVE");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(header) + 36, 4), "data");
    TWavFile wav;
    std::memcpy(&wav.RiffSize, header + 4, 4);
    std::memcpy(&wav.Channels, header + 22, 2);
    std::memcpy(&wav.Rate, header + 24, 4);
    std::memcpy(&wav.Bits, header + 34, 2);
    std::memcpy(&wav.DataSize, header + 40, 4);
    wav.FileSize = std::filesystem::file_size(file);
    return wav;
}

// The frames of a recording from..to seconds.
std::vector<std::int16_t> Stretch(const std::vector<std::int16_t>& samples, std::uint32_t rate, double from,
                                  double to)
{
    const auto begin = static_cast<std::size_t>(from * rate) * 2;
    const auto end = std::min(samples.size(), static_cast<std::size_t>(to * rate) * 2);
    return {samples.begin() + static_cast<std::ptrdiff_t>(begin), samples.begin() + static_cast<std::ptrdiff_t>(end)};
}

// "{"seconds":3.000,"frequency_hz":12345,"volume_percent":47}" read back.
TToneState ParseJsonLine(const std::string& line)
{
    TToneState state;
    EXPECT_EQ(std::sscanf(line.c_str(), "{\"seconds\":%lf,\"frequency_hz\":%d,\"volume_percent\":%d}", &state.Seconds,
                          &state.FrequencyHz, &state.VolumePercent),
              3)
        << line;
    return state;
}

// The tone the line reports is the tone in that stretch of both channels: frequency, level, nothing else.
void ExpectTone(const std::vector<std::int16_t>& frames, std::uint32_t rate, const TToneState& state)
{
    for (std::uint16_t channel = 0; channel < 2; ++channel)
    {
        const TToneAnalysis tone = AnalyseTone(frames, 2, channel, rate);
        EXPECT_NEAR(tone.FrequencyHz, state.FrequencyHz, 0.5) << "at " << state.Seconds << " s";
        EXPECT_NEAR(tone.LevelDbfs, AmplitudeToDbfs(state.VolumePercent * 320.0), kToneLevelToleranceDb)
            << "at " << state.Seconds << " s";
        EXPECT_LT(tone.SpurDbfs, kSpurLimitDbfs) << "at " << state.Seconds << " s, " << tone.SpurFrequencyHz << " Hz";
    }
}

class HeadlessRenderTest : public ::testing::Test
{
protected:
    void SetUp() override { FFolder = testing::TestFolder("harvolin-render"); }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }

    // Renders with these arguments plus --output file; the lines printed and the status.
    int Render(std::vector<std::string> arguments, const std::filesystem::path& file,
               std::vector<std::string>& lines, std::function<void()> atThirdLine = [] {},
               std::ostream* progress = nullptr)
    {
        arguments.insert(arguments.end(), {"--output", file.string()});
        TLineWatch watch(3, std::move(atThirdLine));
        std::ostream out(&watch);
        FErrors.str({});
        const int status = RenderHeadless(Line(arguments), FStop, out, FErrors, progress);
        lines = watch.Lines();
        return status;
    }

    std::filesystem::path FFolder;
    TStopRequest FStop;
    std::ostringstream FErrors;
};

TEST_F(HeadlessRenderTest, TheFileHoldsTheDurationWithTheChangesTheLinesReportAndASeedRepeatsIt)
{
    const std::vector<std::string> arguments{"--duration", "7s", "--seed", "43200000", "--json"};
    std::vector<std::string> lines;
    ASSERT_EQ(Render(arguments, FFolder / "a.wav", lines), 0) << FErrors.str();
    EXPECT_NE(FErrors.str().find("rendered 0:07 of sound into"), std::string::npos) << FErrors.str();

    const TWavFile wav = ReadHeader(FFolder / "a.wav");
    EXPECT_EQ(wav.Channels, 2);
    EXPECT_EQ(wav.Rate, 100000u);
    EXPECT_EQ(wav.Bits, 16);
    EXPECT_EQ(wav.DataSize, 7u * 100000 * 4);
    EXPECT_EQ(wav.FileSize, 44u + wav.DataSize);
    EXPECT_EQ(wav.RiffSize, wav.FileSize - 8);

    // A change at the start and every 3 s of sound, each inside the default ranges.
    ASSERT_EQ(lines.size(), 3u);
    const std::vector<std::int16_t> samples = testing::ReadRecording(FFolder / "a.wav");
    for (std::size_t i = 0; i < lines.size(); ++i)
    {
        const TToneState state = ParseJsonLine(lines[i]);
        EXPECT_DOUBLE_EQ(state.Seconds, 3.0 * static_cast<double>(i));
        EXPECT_GE(state.FrequencyHz, 10000);
        EXPECT_LE(state.FrequencyHz, 20000);
        EXPECT_GE(state.VolumePercent, 25);
        EXPECT_LE(state.VolumePercent, 70);
        // Each change is heard from the first block at or after its time, so the stretch between is whole.
        ExpectTone(Stretch(samples, 100000, state.Seconds + 0.02, std::min(state.Seconds + 2.95, 7.0)), 100000, state);
    }

    std::vector<std::string> again;
    ASSERT_EQ(Render(arguments, FFolder / "b.wav", again), 0) << FErrors.str();
    EXPECT_EQ(again, lines);
    EXPECT_EQ(testing::ReadRecording(FFolder / "b.wav"), samples);

    std::vector<std::string> other;
    ASSERT_EQ(Render({"--duration", "7s", "--seed", "43201234", "--json"}, FFolder / "c.wav", other), 0);
    EXPECT_NE(other, lines);
}

TEST_F(HeadlessRenderTest, AtAnotherRateTheRenderersConverterMakesTheFile)
{
    std::vector<std::string> lines;
    std::ostringstream terminal;
    ASSERT_EQ(Render({"--duration", "2s", "--rate", "48000", "--freq", "15", "--fixed-freq", "--volume", "50",
                      "--fixed-volume", "--json"},
                     FFolder / "a.wav", lines, [] {}, &terminal),
              0)
        << FErrors.str();
    // On a terminal: the bar drawn in place, full at the end, then the closing line.
    EXPECT_NE(terminal.str().find("\r[##############################] 100 %  0:02 of 0:02  "), std::string::npos)
        << terminal.str();
    EXPECT_TRUE(terminal.str().ends_with("x real time\x1b[K\n")) << terminal.str();
    EXPECT_NE(FErrors.str().find("rendered 0:02 of sound"), std::string::npos) << FErrors.str();
    const TWavFile wav = ReadHeader(FFolder / "a.wav");
    EXPECT_EQ(wav.Rate, 48000u);
    EXPECT_EQ(wav.DataSize, 2u * 48000 * 4);
    ASSERT_EQ(lines.size(), 1u);
    const TToneState state = ParseJsonLine(lines[0]);
    EXPECT_EQ(state.FrequencyHz, 15000);
    EXPECT_EQ(state.VolumePercent, 50);
    ExpectTone(testing::ReadRecording(FFolder / "a.wav"), 48000, state);
}

TEST_F(HeadlessRenderTest, AStopRequestEndsTheRenderWithAValidFile)
{
    std::vector<std::string> lines;
    const int status = Render({"--duration", "60s", "--seed", "1000", "--json"}, FFolder / "a.wav", lines,
                              [this] { FStop.Request(SIGINT); });
    EXPECT_EQ(status, 128 + SIGINT);
    EXPECT_NE(FErrors.str().find("stopped after 0:0"), std::string::npos) << FErrors.str();
    EXPECT_NE(FErrors.str().find("holds what was rendered"), std::string::npos) << FErrors.str();
    // Stopped at the block after the third change (6 s), and the header says so.
    EXPECT_EQ(lines.size(), 3u);
    const TWavFile wav = ReadHeader(FFolder / "a.wav");
    EXPECT_EQ(wav.FileSize, 44u + wav.DataSize);
    EXPECT_EQ(wav.RiffSize, wav.FileSize - 8);
    EXPECT_GE(wav.DataSize, 6u * 100000 * 4);
    EXPECT_LT(wav.DataSize, 7u * 100000 * 4);
    EXPECT_EQ(wav.DataSize % 4, 0u);
}

TEST_F(HeadlessRenderTest, WithoutJsonARenderPrintsNoLinePerChange)
{
    std::vector<std::string> lines;
    ASSERT_EQ(Render({"--duration", "7s"}, FFolder / "a.wav", lines), 0) << FErrors.str();
    EXPECT_TRUE(lines.empty());
    EXPECT_NE(FErrors.str().find("rendered 0:07 of sound into"), std::string::npos) << FErrors.str();
    ASSERT_EQ(Render({"--duration", "7s", "--quiet"}, FFolder / "b.wav", lines), 0) << FErrors.str();
    EXPECT_EQ(FErrors.str(), "");
}

TEST_F(HeadlessRenderTest, AFileThatCannotBeMadeOrHeldIsAClearFailure)
{
    std::vector<std::string> lines;
    EXPECT_EQ(Render({"--duration", "5s"}, FFolder / "missing" / "a.wav", lines), 1);
    EXPECT_NE(FErrors.str().find("rendering into " + (FFolder / "missing" / "a.wav").string() + " failed"),
              std::string::npos)
        << FErrors.str();
    EXPECT_NE(FErrors.str().find("No such file or directory"), std::string::npos) << FErrors.str();

    // Three hours of the stream's 400 000 bytes a second pass a WAV file's 4 GiB; nothing is written.
    EXPECT_EQ(Render({"--duration", "3h", "--quiet"}, FFolder / "long.wav", lines), 2);
    EXPECT_NE(FErrors.str().find("does not fit in a WAV file, which holds at most 2:58:57"), std::string::npos)
        << FErrors.str();
    EXPECT_FALSE(std::filesystem::exists(FFolder / "long.wav"));
}

// The same pipeline playing on the null renderer, paced as a sound card and recorded, on this thread as
// the loop thread; the pipeline's clock and player threads run beside the test.
class HeadlessPlayConcurrencyTest : public HeadlessRenderTest
{
protected:
    void SetUp() override
    {
        HeadlessRenderTest::SetUp();
        FRecording = FFolder / "played.wav";
        SetNullRendererOptions({.Paced = true, .BufferDuration = 40ms, .RecordTo = FRecording});
    }
    void TearDown() override
    {
        SetNullRendererOptions({});
        HeadlessRenderTest::TearDown();
    }

    int Play(const std::vector<std::string>& arguments, std::vector<std::string>& lines,
             std::function<void()> atSecondLine = [] {})
    {
        TLineWatch watch(2, std::move(atSecondLine));
        std::ostream out(&watch);
        FErrors.str({});
        const int status = PlayHeadless(Line(arguments), FStop, out, FErrors);
        lines = watch.Lines();
        return status;
    }

    std::filesystem::path FRecording;
};

TEST_F(HeadlessPlayConcurrencyTest, ItPlaysWhatARenderWritesForTheSameSeed)
{
    const std::vector<std::string> arguments{"--duration", "3.5s", "--seed", "3600000", "--json"};
    std::vector<std::string> played;
    std::vector<std::string> withDevice = arguments;
    withDevice.insert(withDevice.end(), {"--device", "Null renderer"});
    ASSERT_EQ(Play(withDevice, played), 0) << FErrors.str();
    EXPECT_EQ(FErrors.str(), "");
    std::vector<std::string> rendered;
    ASSERT_EQ(Render(arguments, FFolder / "rendered.wav", rendered), 0) << FErrors.str();

    // The same changes at the same times, and the sound the same, sample for sample, until the first change
    // is heard: in the render at the first block at or after 3 s of sound; on the device at the block being
    // made when 3 s have passed since the start, which is near that, earlier when the device started late and
    // later by what it holds. Either way a change starts a block.
    ASSERT_EQ(played.size(), 2u);
    EXPECT_EQ(played, rendered);
    const std::vector<std::int16_t> recording = testing::ReadRecording(FRecording);
    const std::vector<std::int16_t> render = testing::ReadRecording(FFolder / "rendered.wav");
    ASSERT_GE(recording.size(), kFramesBeforeFirstChange * 2);
    ASSERT_GE(render.size(), kFramesBeforeFirstChange * 2);
    const auto firstDifference =
        std::mismatch(render.begin(), render.begin() + kFramesBeforeFirstChange * 2, recording.begin());
    const std::ptrdiff_t same = (firstDifference.first - render.begin()) / 2;
    EXPECT_GE(same, 250000) << "the recording differs from the render before any change";
    EXPECT_EQ(same % 1024, 0) << "the recording differs from the render inside a block";
    // And the device plays the second change too.
    const std::size_t recorded = recording.size() / 2;
    ExpectTone(Stretch(recording, 100000, static_cast<double>(recorded) / 100000 - 0.3,
                       static_cast<double>(recorded) / 100000),
               100000, ParseJsonLine(played[1]));
}

TEST_F(HeadlessPlayConcurrencyTest, AStopRequestFromAnotherThreadStopsAsTheWindowsStop)
{
    std::latch started(1);
    std::thread requester(
        [&]
        {
            started.wait();
            FStop.Request(SIGTERM);
        });
    std::vector<std::string> lines;
    const int status = Play({"--device", "Null renderer", "--freq", "12", "--fixed-freq", "--volume", "40"}, lines,
                            [&] { started.count_down(); });
    requester.join();
    EXPECT_EQ(status, 0) << FErrors.str();
    EXPECT_EQ(lines, (std::vector<std::string>{"    0:00  12000 Hz   40 %", "    0:03  12000 Hz   40 %"}));
    // The device played until the stop.
    const std::vector<std::int16_t> recording = testing::ReadRecording(FRecording);
    ASSERT_GE(recording.size(), 2u * 290000);
    ExpectTone(recording, 100000, {0, 12000, 40});
}

TEST_F(HeadlessPlayConcurrencyTest, ADeviceThatCannotPlayEndsTheRunWithItsReason)
{
    std::vector<std::string> lines;
    EXPECT_EQ(Play({"--device", kBrokenDevice}, lines), 1);
    EXPECT_NE(FErrors.str().find(kBrokenDevice), std::string::npos) << FErrors.str();
    EXPECT_NE(FErrors.str().find("snd_pcm_open"), std::string::npos) << FErrors.str();

    // No sound card: the default device would play on the null renderer, and nobody would hear it.
    EXPECT_EQ(Play({}, lines), 1);
    EXPECT_NE(FErrors.str().find("the default sound device"), std::string::npos) << FErrors.str();

    // Unplugged while playing.
    EXPECT_EQ(Play({"--device", kUnwritableDevice}, lines), 1);
    EXPECT_NE(FErrors.str().find(std::string("\"") + kUnwritableDevice + "\" stopped working while the tone played"),
              std::string::npos)
        << FErrors.str();
    EXPECT_NE(FErrors.str().find("then start the program again."), std::string::npos) << FErrors.str();

    EXPECT_EQ(Play({"--device", "Harvolin no such device"}, lines), 2);
    EXPECT_NE(FErrors.str().find("no output device is named 'Harvolin no such device'. The output devices are:\n  "
                                 "Default\n"),
              std::string::npos)
        << FErrors.str();
    EXPECT_NE(FErrors.str().find("  Null renderer\n"), std::string::npos) << FErrors.str();
}

}   // namespace
}   // namespace harvolin
