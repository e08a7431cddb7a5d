#include "app/CommandLine.h"
#include "app/Pipeline.h"
#include "app/frmMain.h"
#include "controls/Forms.h"
#include "rtl/qt/QtMessageQueue.h"
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

bool Set(const char* variable)
{
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

// The window until it is closed; then every component is gone, and with them the pipeline's threads.
int RunWindow(char* program, const std::optional<std::string>& device)
{
    if (!Set("DISPLAY") && !Set("WAYLAND_DISPLAY") && !Set("QT_QPA_PLATFORM"))
    {
        std::cerr << "harvolin: there is no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY "
                     "is set)\n";
        return 1;
    }
    // The toolkit is given no options of its own: the command line is the program's alone.
    int toolkitArgc = 1;
    char* toolkitArgv[] = {program, nullptr};
    TApplication application(toolkitArgc, toolkitArgv);
    const TQtMessageQueue queue;
    auto window = TfmMain::Create(device);
    window->Show();
    const int code = application.Run();
    window.reset();
    return code;
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
        if (const std::optional<std::string> unknown = UnknownDeviceMessage(*line.Device))
        {
            std::cerr << "harvolin: " << *unknown;
            return 2;
        }
    return RunWindow(argv[0], line.Device);
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
