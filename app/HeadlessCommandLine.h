#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace harvolin
{

// What the program without a window was asked to do by its command line:
//   harvolin-headless [RANGES] [--device NAME] [--duration TIME] [OUTPUT]   play until a signal or TIME
//   harvolin-headless [RANGES] --output FILE --duration TIME [--rate R] [OUTPUT]   render into a WAV file
//   harvolin-headless --list-devices | --help | --version
// RANGES: --freq MIN-MAX (kHz) --volume MIN-MAX (%) --fixed-freq --fixed-volume; OUTPUT: --json --quiet;
// --seed N for both playing and rendering.
struct THeadlessCommandLine
{
    enum class TAction
    {
        Play,
        Render,
        ListDevices,
        Help,
        Version
    };
    TAction Action = TAction::Play;
    // The ranges as the window's track bars hold them, Min at most Max; a fixed range plays its Min.
    int FreqMinKHz = 10;
    int FreqMaxKHz = 20;
    int VolMinPercent = 25;
    int VolMaxPercent = 70;
    bool FreqVariable = true;
    bool VolVariable = true;
    std::optional<std::string> Device;   // Play only
    std::optional<std::chrono::milliseconds> Duration;   // Play: until a signal when absent; Render: given
    bool Json = false;    // one JSON object a line for each tick instead of text
    bool Quiet = false;   // no tick lines, no progress
    // The millisecond of the day (UTC) the draws start from; the time of day at the start when absent.
    std::optional<std::uint32_t> Seed;
    std::string Output;              // Render only: the WAV file
    std::uint32_t Rate = 100000;     // Render only: frames per second of the file
};

struct THeadlessCommandLineResult
{
    std::optional<THeadlessCommandLine> CommandLine;
    std::string Error;   // why the arguments cannot be taken, naming the argument and the accepted form
};

// The arguments without the program's name. "--headless" is taken and ignored, so that the window's
// program can hand its whole command line on.
[[nodiscard]] THeadlessCommandLineResult ParseHeadlessCommandLine(const std::vector<std::string>& arguments);

// The usage text that --help prints and an error ends with.
[[nodiscard]] std::string HeadlessUsage();

// The rates a file can be rendered at, the stream's own last.
[[nodiscard]] const std::vector<std::uint32_t>& RenderRates();

// "1:02:03" for 3723.4 s: hours, minutes and seconds, the hours only when there are any ("2:03").
[[nodiscard]] std::string FormatDuration(double seconds);

}   // namespace harvolin
