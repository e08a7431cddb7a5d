#include "app/CommandLine.h"
#include "app/Headless.h"
#include "app/HeadlessCommandLine.h"
#include "app/Pipeline.h"
#include "app/StopSignals.h"

#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace harvolin
{
namespace
{

int Main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const THeadlessCommandLineResult parsed = ParseHeadlessCommandLine(arguments);
    if (!parsed.CommandLine)
    {
        std::cerr << "harvolin-headless: " << parsed.Error << "\n\n" << HeadlessUsage();
        return 2;
    }
    const THeadlessCommandLine& line = *parsed.CommandLine;
    switch (line.Action)
    {
    case THeadlessCommandLine::TAction::Help: std::cout << HeadlessUsage(); return 0;
    case THeadlessCommandLine::TAction::Version: std::cout << "harvolin-headless " HARVOLIN_VERSION "\n"; return 0;
    case THeadlessCommandLine::TAction::ListDevices:
        for (const std::string& name : OutputDeviceNames())
            std::cout << name << '\n';
        return 0;
    case THeadlessCommandLine::TAction::Play:
    case THeadlessCommandLine::TAction::Render: break;
    }
    TStopRequest stop;
    const TStopSignals signals(stop);   // before the pipeline's threads
    if (line.Action == THeadlessCommandLine::TAction::Render)
        return RenderHeadless(line, stop, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1 ? &std::cerr : nullptr);
    return PlayHeadless(line, stop, std::cout, std::cerr);
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
        std::cerr << "harvolin-headless: " << error.what() << '\n';
        return 1;
    }
}
