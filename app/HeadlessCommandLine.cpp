#include "app/HeadlessCommandLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>

namespace harvolin
{
namespace
{

constexpr std::uint32_t kMillisecondsPerDay = 24 * 60 * 60 * 1000;
// A week: longer is surely a typing slip, and a count of milliseconds stays far from overflowing.
constexpr std::int64_t kLongestDurationMs = 7LL * kMillisecondsPerDay;

THeadlessCommandLineResult Refused(std::string reason)
{
    return {std::nullopt, std::move(reason)};
}

std::optional<int> ParseInt(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// "MIN-MAX" or one number for both, each within lo..hi; an error names the option and the form.
std::optional<std::string> ParseRange(const std::string& option, const std::string& value, int lo, int hi,
                                      const char* unit, int& min, int& max)
{
    const std::string form = option + " wants a range of " + unit + " from " + std::to_string(lo) + " to " +
                             std::to_string(hi) + " as MIN-MAX or one number (for example " + option + " " +
                             std::to_string(lo + (hi - lo) / 2) + "-" + std::to_string(hi) + "), not '" +
                             value + "'";
    const std::size_t dash = value.find('-');
    const std::optional<int> first = ParseInt(std::string_view(value).substr(0, dash));
    const std::optional<int> second =
        dash == std::string::npos ? first : ParseInt(std::string_view(value).substr(dash + 1));
    if (!first || !second)
        return form;
    if (*first < lo || *first > hi || *second < lo || *second > hi)
        return form;
    if (*first > *second)
        return option + " " + value + ": the minimum is above the maximum; give MIN-MAX with MIN at most MAX";
    min = *first;
    max = *second;
    return std::nullopt;
}

// "90s", "45m", "8h", "1h30m", "1.5h": one or more numbers, each with its unit.
std::optional<std::chrono::milliseconds> ParseDuration(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    double total = 0;
    std::size_t at = 0;
    while (at < text.size())
    {
        const std::size_t start = at;
        while (at < text.size() && (std::isdigit(static_cast<unsigned char>(text[at])) != 0 || text[at] == '.'))
            ++at;
        double number = 0;
        const auto [end, error] = std::from_chars(text.data() + start, text.data() + at, number);
        if (at == start || error != std::errc() || end != text.data() + at || at == text.size())
            return std::nullopt;
        switch (text[at++])
        {
        case 'h': total += number * 3600; break;
        case 'm': total += number * 60; break;
        case 's': total += number; break;
        default: return std::nullopt;
        }
    }
    const double ms = std::round(total * 1000);
    if (!(ms >= 1) || ms > static_cast<double>(kLongestDurationMs))
        return std::nullopt;
    return std::chrono::milliseconds(static_cast<std::int64_t>(ms));
}

std::string RateList()
{
    std::string list;
    for (const std::uint32_t rate : RenderRates())
        list += (list.empty() ? "" : ", ") + std::to_string(rate);
    return list;
}

}   // namespace

const std::vector<std::uint32_t>& RenderRates()
{
    static const std::vector<std::uint32_t> rates{44100, 48000, 88200, 96000, 100000};
    return rates;
}

THeadlessCommandLineResult ParseHeadlessCommandLine(const std::vector<std::string>& arguments)
{
    THeadlessCommandLine line;
    std::optional<THeadlessCommandLine::TAction> only;   // an action that takes nothing beside it
    std::map<std::string, bool> given;
    bool rateGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i)
    {
        std::string option = arguments[i];
        std::optional<std::string> inlineValue;
        if (const std::size_t equals = option.find('='); option.starts_with("--") && equals != std::string::npos)
        {
            inlineValue = option.substr(equals + 1);
            option.resize(equals);
        }
        // The option's value: after "=" or the next argument.
        const auto value = [&]() -> std::optional<std::string>
        {
            if (inlineValue)
                return inlineValue;
            if (i + 1 == arguments.size())
                return std::nullopt;
            return arguments[++i];
        };
        static const std::map<std::string, const char*> kValueForms{
            {"--freq", "--freq MIN-MAX"},       {"--volume", "--volume MIN-MAX"},
            {"--device", "--device NAME"},      {"--duration", "--duration TIME"},
            {"--seed", "--seed N"},             {"--output", "--output FILE.wav"},
            {"--rate", "--rate FRAMES-PER-SECOND"}};
        static const std::map<std::string, THeadlessCommandLine::TAction> kActions{
            {"--help", THeadlessCommandLine::TAction::Help},
            {"-h", THeadlessCommandLine::TAction::Help},
            {"--version", THeadlessCommandLine::TAction::Version},
            {"--list-devices", THeadlessCommandLine::TAction::ListDevices}};
        if (option == "--headless" && !inlineValue)
            continue;
        if (const auto action = kActions.find(option); action != kActions.end() && !inlineValue)
        {
            if (only && *only != action->second)
                return Refused("'" + option + "' cannot be given with another action");
            only = action->second;
            continue;
        }
        const auto form = kValueForms.find(option);
        const bool flag = option == "--fixed-freq" || option == "--fixed-volume" || option == "--json" ||
                          option == "--quiet";
        if (form == kValueForms.end() && !flag)
            return Refused("unknown argument '" + arguments[i] + "'");
        if (given[option])
            return Refused(option + " is given twice; give it once");
        given[option] = true;
        if (flag)
        {
            if (inlineValue)
                return Refused(option + " takes no value");
            if (option == "--fixed-freq")
                line.FreqVariable = false;
            else if (option == "--fixed-volume")
                line.VolVariable = false;
            else if (option == "--json")
                line.Json = true;
            else
                line.Quiet = true;
            continue;
        }
        const std::optional<std::string> text = value();
        if (!text)
            return Refused(option + " wants a value: " + form->second);
        if (option == "--freq")
        {
            if (auto error = ParseRange(option, *text, 1, 20, "kilohertz", line.FreqMinKHz, line.FreqMaxKHz))
                return Refused(*error);
        }
        else if (option == "--volume")
        {
            if (auto error = ParseRange(option, *text, 1, 100, "percent", line.VolMinPercent, line.VolMaxPercent))
                return Refused(*error);
        }
        else if (option == "--device")
        {
            if (text->empty())
                return Refused("--device wants the name of an output device, not an empty one: --device NAME");
            line.Device = *text;
        }
        else if (option == "--duration")
        {
            line.Duration = ParseDuration(*text);
            if (!line.Duration)
                return Refused("--duration wants a time with its unit, s, m or h, such as 90s, 45m, 8h or 1h30m "
                               "(at most a week), not '" +
                               *text + "'");
        }
        else if (option == "--seed")
        {
            const std::optional<int> seed = ParseInt(*text);
            if (!seed || *seed < 0 || static_cast<std::uint32_t>(*seed) >= kMillisecondsPerDay)
                return Refused("--seed wants a millisecond of the day, a whole number from 0 to " +
                               std::to_string(kMillisecondsPerDay - 1) + ", not '" + *text + "'");
            line.Seed = static_cast<std::uint32_t>(*seed);
        }
        else if (option == "--output")
        {
            if (text->empty())
                return Refused("--output wants the name of the WAV file to write: --output FILE.wav");
            line.Output = *text;
        }
        else if (option == "--rate")
        {
            const std::optional<int> rate = ParseInt(*text);
            const auto& rates = RenderRates();
            if (!rate || std::find(rates.begin(), rates.end(), static_cast<std::uint32_t>(*rate)) == rates.end())
                return Refused("--rate wants one of " + RateList() + " frames per second, not '" + *text + "'");
            line.Rate = static_cast<std::uint32_t>(*rate);
            rateGiven = true;
        }
    }
    if (only)
    {
        if (!given.empty())
            return Refused(given.begin()->first + " is for playing or rendering, not with --help, --version or "
                                                  "--list-devices");
        line.Action = *only;
        return {std::move(line), {}};
    }
    if (!line.Output.empty())
    {
        line.Action = THeadlessCommandLine::TAction::Render;
        if (line.Device)
            return Refused("--device is for playing; --output renders into a file instead");
        if (!line.Duration)
            return Refused("--output wants --duration too: how much sound to render, such as --duration 8h");
    }
    else if (rateGiven)
        return Refused("--rate is the rate of the rendered file: give --output FILE.wav with it");
    return {std::move(line), {}};
}

std::string HeadlessUsage()
{
    return "usage: harvolin-headless [RANGES] [--device NAME] [--duration TIME] [--json | --quiet]\n"
           "       harvolin-headless [RANGES] --output FILE.wav --duration TIME [--rate R] [--json | --quiet]\n"
           "       harvolin-headless --list-devices | --help | --version\n"
           "\n"
           "Plays the high-pitched tone that keeps insects away without a window, moving it to a new random\n"
           "frequency and volume inside the ranges every 3 seconds, until it is stopped (Ctrl+C, SIGINT or\n"
           "SIGTERM) or for --duration; or renders that tone into a WAV file as fast as the machine can.\n"
           "\n"
           "  --freq MIN-MAX     the frequency range in kHz, 1 to 20 (default 10-20)\n"
           "  --volume MIN-MAX   the volume range in %, 1 to 100 (default 25-70)\n"
           "  --fixed-freq       keep the frequency at the range's MIN\n"
           "  --fixed-volume     keep the volume at the range's MIN\n"
           "  --device NAME      play on the output device NAME (as --list-devices prints it)\n"
           "  --duration TIME    stop after TIME, such as 90s, 45m, 8h or 1h30m\n"
           "  --output FILE.wav  render TIME of sound into FILE.wav instead of playing it\n"
           "  --rate R           the file's frames per second: " +
           RateList() +
           " (default 100000, the tone's own)\n"
           "  --seed N           draw as at millisecond N of the day (UTC), 0 to 86399999, so that a run\n"
           "                     can be repeated (default: the time of day at the start)\n"
           "  --json             print each change as a line of JSON (a render's changes too)\n"
           "  --quiet            print nothing but errors\n"
           "  --list-devices     print the output devices, one name a line, and exit\n"
           "  --help             print this text and exit\n"
           "  --version          print the program's version and exit\n"
           "\n"
           "Each change prints a line: the time since the start, the frequency in Hz and the volume in %;\n"
           "a render prints them only with --json, and shows its progress instead.\n";
}

std::string FormatDuration(double seconds)
{
    const auto whole = static_cast<long long>(std::floor(std::max(seconds, 0.0)));
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

}   // namespace harvolin
