#include "app/CommandLine.h"
#include "app/Pipeline.h"
#include "app/frmMain.h"
#include "controls/Forms.h"
#include "rtl/qt/QtMessageQueue.h"
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <unistd.h>
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
                     "is set); harvolin --headless plays without one\n";
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

// harvolin --headless ...: the program without a window, installed beside this one, with the whole command
// line (it takes --headless and ignores it). Returns only when it cannot be started.
int RunHeadless(char** argv)
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::filesystem::path headless =
        (error ? std::filesystem::path(argv[0]).parent_path() : self.parent_path()) / "harvolin-headless";
    std::string program = headless.string();
    argv[0] = program.data();
    ::execv(program.c_str(), argv);
    std::cerr << "harvolin: cannot start " << program << " for --headless: " << std::strerror(errno) << '\n';
    return 1;
}

int Main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (std::find(arguments.begin(), arguments.end(), "--headless") != arguments.end())
        return RunHeadless(argv);
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
