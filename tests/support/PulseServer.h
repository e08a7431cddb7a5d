#pragma once
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace harvolin
{

// A PulseAudio server of the test's own: started in a private folder (its HOME and XDG_RUNTIME_DIR) with
// one null sink, `harvolin_test` at 48 000 Hz, and its socket in that folder; stopped by its process id,
// also when the test fails (the destructor). What reaches the sink is recorded from its monitor by parec
// into a file, 16-bit stereo at 48 000, the sink's own format, so the recording adds no conversion.
//
// One thread. Failures throw std::runtime_error naming what failed, with the server's log where it helps.
class TPulseServer
{
public:
    static constexpr std::uint32_t kRate = 48000;
    static constexpr std::uint16_t kChannels = 2;
    static constexpr const char* kSinkName = "harvolin_test";

    // True when the pulseaudio program can be found on PATH: without it a test can only skip.
    [[nodiscard]] static bool Installed();

    // Starts the server and waits, bounded, until it answers.
    TPulseServer();
    TPulseServer(const TPulseServer&) = delete;
    TPulseServer& operator=(const TPulseServer&) = delete;
    // Stops the recorder and the server (SIGTERM, bounded wait, then SIGKILL) and removes the folder.
    ~TPulseServer();

    // The address a client connects to: "unix:<folder>/native".
    [[nodiscard]] std::string Address() const;
    [[nodiscard]] const std::filesystem::path& Folder() const noexcept { return FFolder; }
    // ALSA configuration text (for TAlsaTestEnvironment) defining a PCM and a control device of this name
    // ("!default" to replace the machine's default) as ALSA's pulse plugin without a server of its own: it
    // connects to the server PULSE_SERVER names. ALSA reads its configuration once per process, so a
    // program defines the PCM once and each server points it at itself by ServeThisProcess().
    [[nodiscard]] static std::string AlsaDefinitions(const std::string& pcmName);
    // Makes this server the one this process's clients (ALSA's pulse plugin) connect to, until the
    // fixture goes. Set while no other thread connects.
    void ServeThisProcess();

    // Starts parec on the sink's monitor and waits, bounded, until the server shows it recording.
    void StartRecording();
    // Frames recorded so far.
    [[nodiscard]] std::size_t RecordedFrames() const;
    // Waits, bounded, until the recording holds at least frameCount frames; false when it never did.
    [[nodiscard]] bool WaitForRecordedFrames(std::size_t frameCount, std::chrono::milliseconds patience);
    // Stops parec and returns what it recorded, interleaved 16-bit stereo frames.
    [[nodiscard]] std::vector<std::int16_t> StopRecording();
    // The server's log so far, for failure messages.
    [[nodiscard]] std::string Log() const;
    // Runs pactl against this server with the arguments, returning its output; throws when it fails.
    [[nodiscard]] std::string Pactl(const std::vector<std::string>& arguments) const;
    // The server's process id while it runs, -1 when it does not.
    [[nodiscard]] pid_t ServerProcess() const noexcept { return FServer; }
private:
    [[nodiscard]] std::vector<std::string> Environment() const;
    [[nodiscard]] std::filesystem::path RecordingPath() const { return FFolder / "monitor.raw"; }
    void Shutdown() noexcept;

    std::filesystem::path FFolder;
    pid_t FServer = -1;
    pid_t FRecorder = -1;
    bool FServesThisProcess = false;
};

}   // namespace harvolin
