#include "app/CommandLine.h"
#include <algorithm>
#include <cctype>

namespace harvolin
{
namespace
{

bool EqualIgnoringCase(const std::string& a, const std::string& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y)
                      { return std::tolower(x) == std::tolower(y); });
}

TCommandLineResult Refused(std::string reason)
{
    return {std::nullopt, std::move(reason)};
}

}   // namespace

TCommandLineResult ParseCommandLine(const std::vector<std::string>& arguments)
{
    TCommandLine line;
    std::optional<TCommandLine::TAction> only;   // an action that takes nothing beside it
    for (std::size_t i = 0; i < arguments.size(); ++i)
    {
        const std::string& argument = arguments[i];
        std::optional<TCommandLine::TAction> action;
        if (argument == "--help" || argument == "-h")
            action = TCommandLine::TAction::Help;
        else if (argument == "--version")
            action = TCommandLine::TAction::Version;
        else if (argument == "--list-devices")
            action = TCommandLine::TAction::ListDevices;
        else if (argument == "--device" || argument.starts_with("--device="))
        {
            if (line.Device)
                return Refused("--device is given twice; give one device");
            std::string name;
            if (argument == "--device")
            {
                if (i + 1 == arguments.size())
                    return Refused("--device wants the name of an output device: --device NAME");
                name = arguments[++i];
            }
            else
                name = argument.substr(std::string("--device=").size());
            if (name.empty())
                return Refused("--device wants the name of an output device, not an empty one: --device NAME");
            line.Device = std::move(name);
            continue;
        }
        else
            return Refused("unknown argument '" + argument + "'");
        if (only && *only != *action)
            return Refused("'" + argument + "' cannot be given with another action");
        only = action;
    }
    if (only)
    {
        if (line.Device)
            return Refused("--device is for playing, not with --help, --version or --list-devices");
        line.Action = *only;
    }
    return {std::move(line), {}};
}

std::string Usage()
{
    return "usage: harvolin [--device NAME]\n"
           "       harvolin --headless [OPTIONS]   (harvolin-headless --help says which)\n"
           "       harvolin --list-devices | --help | --version\n"
           "\n"
           "Plays a high-pitched tone that keeps insects away, in a window where you choose its frequency\n"
           "and volume ranges.\n"
           "\n"
           "  --headless       play without a window, or render into a file: the options of\n"
           "                   harvolin-headless follow\n"
           "  --device NAME    play on the output device NAME (as --list-devices prints it) instead of the\n"
           "                   default device\n"
           "  --list-devices   print the output devices, one name a line, and exit\n"
           "  --help           print this text and exit\n"
           "  --version        print the program's version and exit\n";
}

std::optional<std::string> MatchDeviceName(const std::string& wanted, const std::vector<std::string>& listed)
{
    if (EqualIgnoringCase(wanted, "Default"))
        return std::string("Default");
    if (std::find(listed.begin(), listed.end(), wanted) != listed.end())
        return wanted;
    return std::nullopt;
}

}   // namespace harvolin
