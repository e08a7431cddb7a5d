#include "app/CommandLine.h"
#include "audioout/ALDSOutputDevice.h"
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

// "Default" first, then every output device by the name --device takes.
std::vector<std::string> OutputDeviceNames()
{
    std::vector<std::string> names{"Default"};
    const TDSAudioOutputDevice device(nullptr, nullptr, {});
    device.ListDeviceNames(names);
    return names;
}

int Main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const TCommandLineResult parsed = ParseCommandLine(arguments);
    if (!parsed.CommandLine)
    {
        std::cerr << "harvolin: " << parsed.Error << "\n\n" << Usage();
        return 2;
    }
    const TCommandLine& line = *parsed.CommandLine;
    switch (line.Action)
    {
    case TCommandLine::TAction::Help: std::cout << Usage(); return 0;
    case TCommandLine::TAction::Version: std::cout << "harvolin " HARVOLIN_VERSION "\n"; return 0;
    case TCommandLine::TAction::ListDevices:
        for (const std::string& name : OutputDeviceNames())
            std::cout << name << '\n';
        return 0;
    case TCommandLine::TAction::Run: break;
    }
    if (line.Device)
    {
        const std::vector<std::string> names = OutputDeviceNames();
        if (!MatchDeviceName(*line.Device, names))
        {
            std::cerr << "harvolin: no output device is named '" << *line.Device << "'. The output devices are:\n";
            for (const std::string& name : names)
                std::cerr << "  " << name << '\n';
            return 2;
        }
    }
    // The window is not part of the program yet: until it is, asking for it is refused.
    std::cerr << "harvolin: the window cannot be opened by this build\n";
    return 1;
}

}   // namespace
}   // namespace harvolin

int main(int argc, char** argv)
{
    try
    {
        return harvolin::Main(argc, argv);
    }
    catch (const std::exception& error)
    {
        std::cerr << "harvolin: " << error.what() << '\n';
        return 1;
    }
}
