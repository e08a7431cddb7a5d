#pragma once
#include "media/AudioDevice.h"
#include "media/WavWriter.h"
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

namespace harvolin
{

// A device without hardware that consumes a stream as a sound card would: paced, it plays frames against
// the monotonic clock at the stream's rate from a buffer of its own, and Write waits while that buffer is
// full; unpaced, it takes everything at once, for tests and renders that should not take real time. What
// it takes can be recorded into a WAV file, byte for byte.
//
// A stream that stops arriving lets the device starve quietly: it plays what it has and then waits, and
// the next Write starts playing again from that moment (the gap is not counted as played).
class TNullAudioDevice final : public IAudioDevice
{
public:
    struct TOptions
    {
        bool Paced = true;
        // As the sound card the program is tuned for (about 40 ms): what a device holds counts in the delay
        // from a change of the tone to hearing it.
        std::chrono::milliseconds BufferDuration{40};
        // Empty: nothing is recorded.
        std::filesystem::path RecordTo;
        // Paced: plays this many times faster than the stream's rate, so that a test runs minutes of a
        // stream against a device's pace in seconds. 1 is a sound card's pace; 0 counts as 1.
        std::uint32_t Speed = 1;
    };

    explicit TNullAudioDevice(TOptions options);
    TNullAudioDevice(const TNullAudioDevice&) = delete;
    TNullAudioDevice& operator=(const TNullAudioDevice&) = delete;
    ~TNullAudioDevice() override;

    [[nodiscard]] std::string Name() const override { return "Null renderer"; }
    // Failed when the recording cannot be made (the message names the file and why).
    TDeviceResult Open(const TPcmFormat& format) override;
    TDeviceResult Start() override;
    void Pause() override;
    TDeviceResult Write(const std::uint8_t* frames, std::uint32_t frameCount) override;
    void Stop() override;
    void Close() override;
    [[nodiscard]] std::int64_t FramesPlayed() const override;
private:
    using TClock = std::chrono::steady_clock;

    // Frames played by now; FLock held.
    [[nodiscard]] std::int64_t PlayedLocked(TClock::time_point now) const;
    // Frames played per second of the monotonic clock: the stream's rate times the speed; FLock held.
    [[nodiscard]] std::int64_t PlayRate() const noexcept;
    // The moment the device will have played frames, while it runs; FLock held.
    [[nodiscard]] TClock::time_point WhenPlayed(std::int64_t frames) const;

    const TOptions FOptions;
    mutable std::mutex FLock;
    std::condition_variable FWake;
    TPcmFormat FFormat;                                // guarded by FLock
    std::int64_t FCapacity = 0;                        // frames; guarded by FLock
    std::int64_t FWritten = 0;                         // frames taken since Open; guarded by FLock
    std::int64_t FPlayedBase = 0;                      // frames played when FRunningSince began; FLock
    std::optional<TClock::time_point> FRunningSince;   // set while playing; guarded by FLock
    bool FStopped = true;                              // guarded by FLock
    bool FOpen = false;                                // guarded by FLock
    std::unique_ptr<TWavWriter> FRecording;            // written by the writing thread only
};

}   // namespace harvolin
