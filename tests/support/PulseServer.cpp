#include "tests/support/PulseServer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

extern char** environ;

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

// How long a server or a tool may take to start, answer or stop before the test calls it broken.
constexpr std::chrono::milliseconds kStartPatience = 10s;
constexpr std::chrono::milliseconds kStopPatience = 5s;
// Between looks at a child's progress: a separate process tells us nothing, so we look again.
constexpr std::chrono::milliseconds kPollInterval = 20ms;

std::string Joined(const std::vector<std::string>& arguments)
{
    std::string text;
    for (const auto& argument : arguments)
        text += (text.empty() ? "" : " ") + argument;
    return text;
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Starts arguments[0] from PATH with the environment, its output and errors into files (errors after the
// output when both name the same file).
pid_t Spawn(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
            const std::filesystem::path& output, const std::filesystem::path& errors)
{
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& variable : environment)
        envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (errors == output)
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int error = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        throw std::runtime_error("cannot start '" + Joined(arguments) + "': " + std::strerror(error));
    return pid;
}

// Whether the child has ended (and is reaped); its wait status in status.
bool Ended(pid_t pid, int& status)
{
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

// Waits, bounded, until the child ends by itself; true when it did.
bool WaitForEnd(pid_t pid, std::chrono::milliseconds patience, int& status)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!Ended(pid, status))
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

// SIGTERM, a bounded wait, then SIGKILL: the child is reaped in any case. False when it had to be killed.
bool Stop(pid_t pid) noexcept
{
    int status = 0;
    if (Ended(pid, status))
        return true;
    ::kill(pid, SIGTERM);
    if (WaitForEnd(pid, kStopPatience, status))
        return true;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return false;
}

// Waits, bounded, until ready() says the child is ready; throws when it ends first or the patience runs
// out, with what log() then says. A child that ended is reaped and child set to -1.
void WaitUntilReady(pid_t& child, const std::string& what, const std::function<bool()>& ready,
                    const std::function<std::string()>& log)
{
    const auto deadline = std::chrono::steady_clock::now() + kStartPatience;
    for (;;)
    {
        int status = 0;
        if (Ended(child, status))
        {
            child = -1;
            throw std::runtime_error(what + " ended at start (status " + std::to_string(status) + "):\n" +
                                     log());
        }
        if (ready())
            return;
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error(what + " was not ready within 10 s:\n" + log());
        std::this_thread::sleep_for(kPollInterval);
    }
}

bool OnPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (!folder.empty() && ::access((std::filesystem::path(folder) / program).c_str(), X_OK) == 0)
            return true;
    return false;
}

}   // namespace

bool TPulseServer::Installed()
{
    return OnPath("pulseaudio");
}

TPulseServer::TPulseServer()
{
    // mkdtemp makes the folder 0700, which the server demands of its runtime folder.
    std::string pattern = (std::filesystem::temp_directory_path() / "harvolin-pulse-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a folder for the sound server: " +
                                 std::string(std::strerror(errno)));
    FFolder = pattern;
    try
    {
        // No rewinds: the sink renders ahead, and when a stream starts it would rewind and render again
        // with the stream in, but what its monitor already handed the recorder stays handed: the recording
        // would lack the stream's first 140 ms.
        const auto script = FFolder / "server.pa";
        std::ofstream(script) << "load-module module-null-sink sink_name=" << kSinkName << " rate=" << kRate
                              << " channels=" << kChannels << " format=s16le norewinds=1\n"
                              << "load-module module-native-protocol-unix auth-anonymous=1 socket="
                              << (FFolder / "native").string() << "\n"
                              << "set-default-sink " << kSinkName << "\n";
        // Root may run a per-user server; it only warns. No shared memory: nothing of it outlives the test.
        FServer =
            Spawn({"pulseaudio", "-n", "--daemonize=no", "--system=no", "--exit-idle-time=-1",
                   "--use-pid-file=no", "--disable-shm=yes", "--log-target=stderr", "-F", script.string()},
                  Environment(), FFolder / "server.log", FFolder / "server.log");
        WaitUntilReady(
            FServer, "the sound server",
            [this]
            {
                try
                {
                    (void)Pactl({"info"});
                    return true;
                }
                catch (const std::runtime_error&)
                {
                    return false;   // not answering yet; the log says why if it never does
                }
            },
            [this] { return Log(); });
    }
    catch (...)
    {
        Shutdown();
        throw;
    }
}

TPulseServer::~TPulseServer()
{
    Shutdown();
}

void TPulseServer::Shutdown() noexcept
{
    if (FServesThisProcess)
        ::unsetenv("PULSE_SERVER");
    FServesThisProcess = false;
    if (FRecorder > 0)
        (void)Stop(FRecorder);
    FRecorder = -1;
    if (FServer > 0)
        (void)Stop(FServer);
    FServer = -1;
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
}

std::string TPulseServer::Address() const
{
    return "unix:" + (FFolder / "native").string();
}

std::vector<std::string> TPulseServer::Environment() const
{
    // The test's own environment (PATH, the sanitizers' options) without anything that leads to another
    // server or another user's folders.
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable)
    {
        const std::string_view text(*variable);
        if (text.starts_with("HOME=") || text.starts_with("XDG_RUNTIME_DIR=") || text.starts_with("PULSE_") ||
            text.starts_with("DBUS_SESSION_BUS_ADDRESS="))
            continue;
        environment.emplace_back(text);
    }
    const std::string folder = FFolder.string();
    environment.push_back("HOME=" + folder);
    environment.push_back("XDG_RUNTIME_DIR=" + folder);
    environment.push_back("PULSE_RUNTIME_PATH=" + folder);
    environment.push_back("PULSE_STATE_PATH=" + folder);
    environment.push_back("PULSE_SERVER=" + Address());
    return environment;
}

std::string TPulseServer::AlsaDefinitions(const std::string& pcmName)
{
    // The pulse plugin finds its server by PULSE_SERVER when the configuration names none.
    return "pcm." + pcmName + " { type pulse }\nctl." + pcmName + " { type pulse }\n";
}

void TPulseServer::ServeThisProcess()
{
    ::setenv("PULSE_SERVER", Address().c_str(), 1);
    FServesThisProcess = true;
}

std::string TPulseServer::Pactl(const std::vector<std::string>& arguments) const
{
    std::vector<std::string> command{"pactl", "--server=" + Address()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const auto output = FFolder / "pactl.out";
    const pid_t pid = Spawn(command, Environment(), output, output);
    int status = 0;
    if (!WaitForEnd(pid, kStopPatience, status))
    {
        (void)Stop(pid);
        throw std::runtime_error("'" + Joined(command) + "' did not finish within 5 s");
    }
    std::string text = ReadFile(output);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("'" + Joined(command) + "' failed: " + text);
    return text;
}

std::string TPulseServer::Log() const
{
    return ReadFile(FFolder / "server.log");
}

void TPulseServer::StartRecording()
{
    if (FRecorder > 0)
        throw std::runtime_error("the sound server's monitor is already being recorded");
    FRecorder = Spawn({"parec", "--server=" + Address(), "--device=" + std::string(kSinkName) + ".monitor",
                       "--rate=" + std::to_string(kRate), "--channels=" + std::to_string(kChannels),
                       "--format=s16le", "--raw", "--latency-msec=20"},
                      Environment(), RecordingPath(), FFolder / "parec.log");
    // Recording once the server lists the recorder's stream.
    WaitUntilReady(
        FRecorder, "parec",
        [this] {
            return Pactl({"list", "short", "source-outputs"}).find_first_not_of(" \n") != std::string::npos;
        },
        [this] { return ReadFile(FFolder / "parec.log"); });
}

std::size_t TPulseServer::RecordedFrames() const
{
    std::error_code error;
    const auto size = std::filesystem::file_size(RecordingPath(), error);
    return error ? 0 : static_cast<std::size_t>(size / (kChannels * sizeof(std::int16_t)));
}

bool TPulseServer::WaitForRecordedFrames(std::size_t frameCount, std::chrono::milliseconds patience)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;)
    {
        if (RecordedFrames() >= frameCount)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

std::vector<std::int16_t> TPulseServer::StopRecording()
{
    if (FRecorder <= 0)
        throw std::runtime_error("the sound server's monitor is not being recorded");
    const bool stopped = Stop(FRecorder);
    FRecorder = -1;
    if (!stopped)
        throw std::runtime_error("parec did not stop on SIGTERM within 5 s");
    const std::string bytes = ReadFile(RecordingPath());
    std::vector<std::int16_t> frames(bytes.size() / (kChannels * sizeof(std::int16_t)) * kChannels);
    std::memcpy(frames.data(), bytes.data(), frames.size() * sizeof(std::int16_t));
    return frames;
}

}   // namespace harvolin
