#pragma once
#include "media/AudioDevice.h"
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace harvolin
{

// A playback PCM as ALSA's name hints give it.
struct TAlsaPcmHint
{
    std::string Name;          // what ALSA opens it by: "default", "front:CARD=PCH,DEV=0", "null"
    std::string Description;   // the hint's description, its lines joined by ", "; may be empty
};

// The PCMs that can play, in ALSA's order (capture-only hints are left out). Empty, with a report to the
// diagnostics sink, when ALSA cannot list them.
[[nodiscard]] std::vector<TAlsaPcmHint> ListAlsaPlaybackPcms();

// How many sound cards ALSA sees; 0 on a machine without one.
[[nodiscard]] int AlsaSoundCardCount();

// A playback PCM of ALSA behind the narrow device API: the one unit that calls ALSA.
class TAlsaAudioDevice final : public IAudioDevice
{
public:
    // Nothing is opened yet: Open() does, so a missing or busy device fails the connection, not the
    // listing.
    explicit TAlsaAudioDevice(std::string pcmName);
    TAlsaAudioDevice(const TAlsaAudioDevice&) = delete;
    TAlsaAudioDevice& operator=(const TAlsaAudioDevice&) = delete;
    ~TAlsaAudioDevice() override;

    [[nodiscard]] std::string Name() const override;
    TDeviceResult Open(const TPcmFormat& format) override;
    TDeviceResult Start() override;
    void Pause() override;
    TDeviceResult Write(const std::uint8_t* frames, std::uint32_t frameCount) override;
    void Stop() override;
    void Close() override;
    [[nodiscard]] std::int64_t FramesPlayed() const override;
private:
    struct TState;

    // Waits, without the state's lock, until the PCM may have room or the device's state changed; the lock
    // is held on entry and again on return.
    void WaitForRoom(std::unique_lock<std::mutex>& lock);
    // The result of a failed call; a device that went away is marked lost. The state's lock held.
    TDeviceResult Broken(const char* call, int error);

    const std::string FPcmName;
    std::unique_ptr<TState> FState;
};

}   // namespace harvolin
