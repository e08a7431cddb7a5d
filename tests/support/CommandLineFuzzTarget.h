#pragma once
#include "app/CommandLine.h"
#include "app/HeadlessCommandLine.h"
#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace harvolin
{

// The arguments an input stands for: its bytes split at every NUL, as the kernel hands a command line over.
inline std::vector<std::string> SplitArguments(std::string_view bytes)
{
    std::vector<std::string> arguments;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\0', start)) != std::string_view::npos; start = end + 1)
        arguments.emplace_back(bytes.substr(start, end - start));
    if (start < bytes.size())
        arguments.emplace_back(bytes.substr(start));
    return arguments;
}

// One input of the command-line fuzzer, also replayed by the unit tests: both programs' parsers take the
// arguments or refuse them with a reason, never both and never neither, and what they take keeps the
// promises the programs rely on (ranges inside their bounds, a render with its file and duration).
// A broken promise raises std::logic_error.
inline void ExerciseCommandLines(std::string_view bytes)
{
    const std::vector<std::string> arguments = SplitArguments(bytes);
    const auto check = [](bool holds, const char* promise)
    {
        if (!holds)
            throw std::logic_error(promise);
    };

    const TCommandLineResult window = ParseCommandLine(arguments);
    check(window.CommandLine.has_value() != !window.Error.empty(), "the window's parser both took and refused");
    if (window.CommandLine && window.CommandLine->Device)
        check(!window.CommandLine->Device->empty(), "the window took an empty device name");

    const THeadlessCommandLineResult headless = ParseHeadlessCommandLine(arguments);
    check(headless.CommandLine.has_value() != !headless.Error.empty(), "the headless parser both took and refused");
    if (!headless.CommandLine)
        return;
    const THeadlessCommandLine& line = *headless.CommandLine;
    check(1 <= line.FreqMinKHz && line.FreqMinKHz <= line.FreqMaxKHz && line.FreqMaxKHz <= 20,
          "a frequency range outside 1 to 20 kHz or upside down");
    check(1 <= line.VolMinPercent && line.VolMinPercent <= line.VolMaxPercent && line.VolMaxPercent <= 100,
          "a volume range outside 1 to 100 % or upside down");
    check(!line.Seed || *line.Seed < 86400000u, "a seed past the end of the day");
    check(!line.Duration || (line.Duration->count() >= 1 && line.Duration->count() <= 7LL * 86400000),
          "a duration outside 1 ms to a week");
    const auto& rates = RenderRates();
    check(std::find(rates.begin(), rates.end(), line.Rate) != rates.end(), "a rate no file is rendered at");
    if (line.Action == THeadlessCommandLine::TAction::Render)
        check(!line.Output.empty() && line.Duration && !line.Device, "a render without its file or duration");
    else
        check(line.Output.empty(), "an output file outside a render");
    if (line.Duration)
        (void)FormatDuration(static_cast<double>(line.Duration->count()) / 1000.0);
}

}   // namespace harvolin
