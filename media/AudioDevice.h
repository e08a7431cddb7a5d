#pragma once
#include "media/MediaTypes.h"
#include <cstdint>
#include <string>

namespace harvolin
{

enum class TDeviceStatus
{
    Ok,
    Stopped,   // Stop() interrupted the call, or the device is not started
    Lost,      // the device went away; nothing more will play on it
    Failed     // the call failed; Message says why
};

// What a device call came to. A message names the device, the call and the system's reason:
// "audio device 'hw:1,0': snd_pcm_writei: No such device".
struct TDeviceResult
{
    TDeviceStatus Status = TDeviceStatus::Ok;
    std::string Message;

    [[nodiscard]] bool Ok() const noexcept { return Status == TDeviceStatus::Ok; }
};

// The narrow device API a renderer plays through: the renderer's pin and state code calls only this, and
// each device kind (the ALSA device, the null device, a test's stand-in) implements it.
//
// Threads: Open, Start, Pause, Write and Close come from the renderer, one call at a time; Write blocks the
// thread that delivers samples until the device has room, which is what paces the stream. Stop and
// FramesPlayed may come from any thread at any time, also while Write blocks: Stop wakes it.
class IAudioDevice
{
public:
    virtual ~IAudioDevice() = default;

    // The name the user knows the device by.
    [[nodiscard]] virtual std::string Name() const = 0;
    // Prepares the device for the stream; played frames count from here.
    virtual TDeviceResult Open(const TPcmFormat& format) = 0;
    // Starts or resumes playing what is written.
    virtual TDeviceResult Start() = 0;
    // Stops playing, or readies a stopped device without playing: writes are taken into the buffer (a Write
    // beyond it waits for room), and what is buffered stays.
    virtual void Pause() = 0;
    // Takes frameCount whole frames, waiting for room as long as needed. Stopped when Stop() came first or
    // meanwhile (what was taken before stays taken); Lost once the device has gone.
    virtual TDeviceResult Write(const std::uint8_t* frames, std::uint32_t frameCount) = 0;
    // Drops what is buffered, wakes a blocked Write and refuses further writes until Pause or Start. Any
    // thread.
    virtual void Stop() = 0;
    virtual void Close() = 0;
    // Frames the device has played since Open: what a renderer's clock follows. Any thread.
    [[nodiscard]] virtual std::int64_t FramesPlayed() const = 0;
    // Why the device plays on a stand-in for the one asked for since its last Open (the default device on
    // the null renderer, no sound card having opened): the reason the real one could not be opened. Empty
    // when it plays on the real one. The renderer's thread, as Open.
    [[nodiscard]] virtual std::string StandInReason() const { return {}; }
};

}   // namespace harvolin
