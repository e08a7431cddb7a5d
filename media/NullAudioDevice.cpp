#include "media/NullAudioDevice.h"
#include <algorithm>
#include <exception>
#include <span>

namespace harvolin
{

TNullAudioDevice::TNullAudioDevice(TOptions options) : FOptions(std::move(options)) {}

TNullAudioDevice::~TNullAudioDevice()
{
    Close();
}

TDeviceResult TNullAudioDevice::Open(const TPcmFormat& format)
{
    if (format.Channels == 0 || format.BitsPerSample == 0 || format.FramesPerSecond == 0)
        return {TDeviceStatus::Failed,
                "audio device '" + Name() + "': open: a format without channels, bits or rate"};
    std::unique_ptr<TWavWriter> recording;
    if (!FOptions.RecordTo.empty())
    {
        try
        {
            recording = std::make_unique<TWavWriter>(FOptions.RecordTo, format);
        }
        catch (const std::exception& error)
        {
            return {TDeviceStatus::Failed, "audio device '" + Name() + "': open: " + error.what()};
        }
    }
    std::lock_guard lock(FLock);
    FFormat = format;
    FCapacity = std::max<std::int64_t>(1, static_cast<std::int64_t>(format.FramesPerSecond) *
                                              FOptions.BufferDuration.count() / 1000);
    FWritten = 0;
    FPlayedBase = 0;
    FRunningSince.reset();
    FStopped = false;
    FOpen = true;
    FRecording = std::move(recording);
    return {};
}

TDeviceResult TNullAudioDevice::Start()
{
    {
        std::lock_guard lock(FLock);
        if (!FOpen)
            return {TDeviceStatus::Failed, "audio device '" + Name() + "': start: the device is not open"};
        FStopped = false;
        if (!FRunningSince)
            FRunningSince = TClock::now();
    }
    FWake.notify_all();
    return {};
}

void TNullAudioDevice::Pause()
{
    {
        std::lock_guard lock(FLock);
        FStopped = false;
        if (FRunningSince)
        {
            FPlayedBase = PlayedLocked(TClock::now());
            FRunningSince.reset();
        }
    }
    FWake.notify_all();
}

TDeviceResult TNullAudioDevice::Write(const std::uint8_t* frames, std::uint32_t frameCount)
{
    std::int64_t taken = 0;
    TDeviceStatus status = TDeviceStatus::Ok;
    std::uint32_t blockAlign = 0;
    {
        std::unique_lock lock(FLock);
        if (!FOpen)
            return {TDeviceStatus::Failed, "audio device '" + Name() + "': write: the device is not open"};
        blockAlign = FFormat.BlockAlign();
        if (FOptions.Paced && FRunningSince && PlayedLocked(TClock::now()) >= FWritten)
        {
            // Starved: the stream resumes from now, and the silence is not counted as played.
            FPlayedBase = FWritten;
            FRunningSince = TClock::now();
        }
        while (taken < frameCount)
        {
            if (FStopped)
            {
                status = TDeviceStatus::Stopped;
                break;
            }
            const std::int64_t left = static_cast<std::int64_t>(frameCount) - taken;
            std::int64_t room = left;
            if (FOptions.Paced)
                room = FCapacity - (FWritten - PlayedLocked(TClock::now()));
            if (room <= 0)
            {
                const std::int64_t wanted = std::min(left, FCapacity);
                if (FRunningSince)
                    FWake.wait_until(lock, WhenPlayed(FWritten - FCapacity + wanted),
                                     [&] { return FStopped; });
                else
                    FWake.wait(lock, [&] { return FStopped || FRunningSince.has_value(); });
                continue;
            }
            const std::int64_t now = std::min(room, left);
            FWritten += now;
            taken += now;
        }
    }
    if (FRecording && taken > 0)
    {
        try
        {
            FRecording->Append(std::span(frames, static_cast<std::size_t>(taken) * blockAlign));
        }
        catch (const std::exception& error)
        {
            return {TDeviceStatus::Failed, "audio device '" + Name() + "': recording: " + error.what()};
        }
    }
    if (status == TDeviceStatus::Stopped)
        return {status, "audio device '" + Name() + "': write: stopped"};
    return {};
}

void TNullAudioDevice::Stop()
{
    {
        std::lock_guard lock(FLock);
        FStopped = true;
        FPlayedBase = PlayedLocked(TClock::now());
        FWritten = FPlayedBase;   // what was buffered is dropped, not played
        FRunningSince.reset();
    }
    FWake.notify_all();
}

void TNullAudioDevice::Close()
{
    Stop();
    std::lock_guard lock(FLock);
    FOpen = false;
    FRecording.reset();
}

std::int64_t TNullAudioDevice::FramesPlayed() const
{
    std::lock_guard lock(FLock);
    return PlayedLocked(TClock::now());
}

std::int64_t TNullAudioDevice::PlayedLocked(TClock::time_point now) const
{
    if (!FOptions.Paced)
        return FWritten;
    if (!FRunningSince)
        return FPlayedBase;
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - *FRunningSince).count();
    const std::int64_t played = FPlayedBase + elapsed * PlayRate() / 1000000;
    return std::min(played, FWritten);
}

std::int64_t TNullAudioDevice::PlayRate() const noexcept
{
    return static_cast<std::int64_t>(FFormat.FramesPerSecond) * std::max<std::uint32_t>(1, FOptions.Speed);
}

TNullAudioDevice::TClock::time_point TNullAudioDevice::WhenPlayed(std::int64_t frames) const
{
    const std::int64_t ahead = std::max<std::int64_t>(0, frames - FPlayedBase);
    const std::int64_t rate = PlayRate();
    // Rounded up, so that the wait never ends a frame short and spins.
    return *FRunningSince + std::chrono::microseconds((ahead * 1000000 + rate - 1) / rate);
}

}   // namespace harvolin
