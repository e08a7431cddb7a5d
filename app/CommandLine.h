#pragma once
#include <optional>
#include <string>
#include <vector>

namespace harvolin
{

// What the program was asked to do by its command line:
//   harvolin [--device NAME]      the window, playing on NAME
//   harvolin --list-devices       the output devices, one name a line
//   harvolin --help | --version
//   harvolin --headless ...        handed whole to harvolin-headless before it is parsed here
// Nothing else is taken: the toolkit's own options are not passed on, so that the command line is the
// program's alone.
struct TCommandLine
{
    enum class TAction
    {
        Run,
        ListDevices,
        Help,
        Version
    };
    TAction Action = TAction::Run;
    std::optional<std::string> Device;   // Run only: the output device's name, as --list-devices prints it
};

// The command line's arguments (without the program's name) read, or the reason they cannot be: names the
// argument and the accepted form, in words for the user.
struct TCommandLineResult
{
    std::optional<TCommandLine> CommandLine;
    std::string Error;
};

[[nodiscard]] TCommandLineResult ParseCommandLine(const std::vector<std::string>& arguments);

// The usage text that --help prints and an error ends with.
[[nodiscard]] std::string Usage();

// The name a user gave for an output device, checked against the names the devices go by: the listed name
// it matches exactly, "Default" for any spelling of it, or nothing when it names no device.
[[nodiscard]] std::optional<std::string> MatchDeviceName(const std::string& wanted,
                                                         const std::vector<std::string>& listed);

}   // namespace harvolin
