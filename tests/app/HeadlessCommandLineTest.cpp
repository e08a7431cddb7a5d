#include "app/HeadlessCommandLine.h"
#include "tests/support/CommandLineFuzzTarget.h"
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

using TAction = THeadlessCommandLine::TAction;

THeadlessCommandLine Taken(const std::vector<std::string>& arguments)
{
    const THeadlessCommandLineResult result = ParseHeadlessCommandLine(arguments);
    EXPECT_TRUE(result.CommandLine) << result.Error;
    EXPECT_EQ(result.Error, "");
    return result.CommandLine.value_or(THeadlessCommandLine{});
}

std::string Refusal(const std::vector<std::string>& arguments)
{
    const THeadlessCommandLineResult result = ParseHeadlessCommandLine(arguments);
    EXPECT_FALSE(result.CommandLine);
    return result.Error;
}

TEST(HeadlessCommandLineTest, NothingPlaysTheWindowsDefaultsUntilStopped)
{
    const THeadlessCommandLine line = Taken({"--headless"});
    EXPECT_EQ(line.Action, TAction::Play);
    EXPECT_EQ(line.FreqMinKHz, 10);
    EXPECT_EQ(line.FreqMaxKHz, 20);
    EXPECT_EQ(line.VolMinPercent, 25);
    EXPECT_EQ(line.VolMaxPercent, 70);
    EXPECT_TRUE(line.FreqVariable);
    EXPECT_TRUE(line.VolVariable);
    EXPECT_FALSE(line.Device);
    EXPECT_FALSE(line.Duration);
    EXPECT_FALSE(line.Seed);
    EXPECT_FALSE(line.Json);
    EXPECT_FALSE(line.Quiet);
}

TEST(HeadlessCommandLineTest, RangesFlagsAndValuesInEitherSpelling)
{
    const THeadlessCommandLine line = Taken({"--freq", "1-20", "--volume=100", "--fixed-freq", "--fixed-volume",
                                             "--device=Null renderer", "--duration", "1h30m", "--seed", "86399999",
                                             "--json", "--quiet"});
    EXPECT_EQ(line.FreqMinKHz, 1);
    EXPECT_EQ(line.FreqMaxKHz, 20);
    EXPECT_EQ(line.VolMinPercent, 100);
    EXPECT_EQ(line.VolMaxPercent, 100);
    EXPECT_FALSE(line.FreqVariable);
    EXPECT_FALSE(line.VolVariable);
    EXPECT_EQ(line.Device, "Null renderer");
    EXPECT_EQ(line.Duration, std::chrono::minutes(90));
    EXPECT_EQ(line.Seed, 86399999u);
    EXPECT_TRUE(line.Json);
    EXPECT_TRUE(line.Quiet);

    for (const auto& [text, ms] : std::vector<std::pair<std::string, std::int64_t>>{
             {"90s", 90000}, {"45m", 2700000}, {"8h", 28800000}, {"1.5h", 5400000}, {"0.25s", 250}, {"2m30s", 150000}})
        EXPECT_EQ(Taken({"--duration", text}).Duration, std::chrono::milliseconds(ms)) << text;
}

TEST(HeadlessCommandLineTest, AnOutputRendersAndNeedsADuration)
{
    const THeadlessCommandLine line = Taken({"--output", "night.wav", "--duration", "8h", "--rate", "44100"});
    EXPECT_EQ(line.Action, TAction::Render);
    EXPECT_EQ(line.Output, "night.wav");
    EXPECT_EQ(line.Rate, 44100u);
    EXPECT_EQ(Taken({"--output", "a.wav", "--duration", "1s"}).Rate, 100000u);

    EXPECT_EQ(Refusal({"--output", "a.wav"}),
              "--output wants --duration too: how much sound to render, such as --duration 8h");
    EXPECT_EQ(Refusal({"--rate", "48000"}), "--rate is the rate of the rendered file: give --output FILE.wav with it");
    EXPECT_EQ(Refusal({"--output", "a.wav", "--duration", "1s", "--device", "Default"}),
              "--device is for playing; --output renders into a file instead");
    EXPECT_EQ(Refusal({"--output", "a.wav", "--duration", "1s", "--rate", "22050"}),
              "--rate wants one of 44100, 48000, 88200, 96000, 100000 frames per second, not '22050'");
    EXPECT_EQ(Refusal({"--output", ""}), "--output wants the name of the WAV file to write: --output FILE.wav");
}

TEST(HeadlessCommandLineTest, ABadValueIsNamedWithTheFormItWants)
{
    const std::string freqForm = "--freq wants a range of kilohertz from 1 to 20 as MIN-MAX or one number (for "
                                 "example --freq 10-20), not '";
    for (const std::string bad : {"0-20", "10-21", "ten", "10-", "-10", "10-20-30", "", " 10", "10.5"})
        EXPECT_EQ(Refusal({"--freq", bad}), freqForm + bad + "'") << bad;
    EXPECT_EQ(Refusal({"--volume", "0-101"}), "--volume wants a range of percent from 1 to 100 as MIN-MAX or one "
                                              "number (for example --volume 50-100), not '0-101'");
    EXPECT_EQ(Refusal({"--freq", "20-10"}),
              "--freq 20-10: the minimum is above the maximum; give MIN-MAX with MIN at most MAX");
    EXPECT_EQ(Refusal({"--volume", "70-25"}),
              "--volume 70-25: the minimum is above the maximum; give MIN-MAX with MIN at most MAX");

    const std::string durationForm =
        "--duration wants a time with its unit, s, m or h, such as 90s, 45m, 8h or 1h30m (at most a week), not '";
    for (const std::string bad : {"90", "0s", "8d", "s", "1h30", "h", "1..5h", "-5s", "169h", "0.0001s"})
        EXPECT_EQ(Refusal({"--duration", bad}), durationForm + bad + "'") << bad;

    EXPECT_EQ(Refusal({"--seed", "86400000"}),
              "--seed wants a millisecond of the day, a whole number from 0 to 86399999, not '86400000'");
    EXPECT_EQ(Refusal({"--seed", "-1"}),
              "--seed wants a millisecond of the day, a whole number from 0 to 86399999, not '-1'");
    EXPECT_EQ(Refusal({"--device", ""}),
              "--device wants the name of an output device, not an empty one: --device NAME");
}

TEST(HeadlessCommandLineTest, MissingRepeatedAndUnknownArgumentsAreRefused)
{
    EXPECT_EQ(Refusal({"--freq"}), "--freq wants a value: --freq MIN-MAX");
    EXPECT_EQ(Refusal({"--duration"}), "--duration wants a value: --duration TIME");
    EXPECT_EQ(Refusal({"--freq", "10", "--freq", "12"}), "--freq is given twice; give it once");
    EXPECT_EQ(Refusal({"--json", "--json"}), "--json is given twice; give it once");
    EXPECT_EQ(Refusal({"--quiet=yes"}), "--quiet takes no value");
    EXPECT_EQ(Refusal({"--frequency", "10"}), "unknown argument '--frequency'");
    EXPECT_EQ(Refusal({"play"}), "unknown argument 'play'");
    EXPECT_EQ(Refusal({"--help", "--version"}), "'--version' cannot be given with another action");
    EXPECT_EQ(Refusal({"--list-devices", "--freq", "10"}),
              "--freq is for playing or rendering, not with --help, --version or --list-devices");
    EXPECT_EQ(Taken({"--list-devices"}).Action, TAction::ListDevices);
    EXPECT_EQ(Taken({"-h"}).Action, TAction::Help);
    EXPECT_EQ(Taken({"--version", "--version"}).Action, TAction::Version);
}

TEST(HeadlessCommandLineTest, DurationsReadAsMinutesAndHours)
{
    EXPECT_EQ(FormatDuration(0), "0:00");
    EXPECT_EQ(FormatDuration(59.99), "0:59");
    EXPECT_EQ(FormatDuration(3599), "59:59");
    EXPECT_EQ(FormatDuration(3723.4), "1:02:03");
    EXPECT_EQ(FormatDuration(-1), "0:00");
}

TEST(HeadlessCommandLineTest, EveryFuzzCorpusAndRegressionInputKeepsTheParsersPromises)
{
    std::size_t replayed = 0;
    for (const char* folder : {"fuzz/corpus/command-line", "fuzz/regressions/command-line"})
        for (const auto& entry :
             std::filesystem::directory_iterator(std::filesystem::path(HARVOLIN_SOURCE_DIR) / folder))
        {
            std::ifstream file(entry.path(), std::ios::binary);
            std::stringstream bytes;
            bytes << file.rdbuf();
            EXPECT_NO_THROW(ExerciseCommandLines(bytes.str())) << entry.path();
            ++replayed;
        }
    EXPECT_GE(replayed, 10U);
    // The split the fuzzer's inputs rely on.
    EXPECT_EQ(SplitArguments(std::string_view("--freq\0" "10-12\0\0", 14)),
              (std::vector<std::string>{"--freq", "10-12", ""}));
}

}   // namespace
}   // namespace harvolin
