#pragma once
#include "buffers/ALSimpleAudioBuffer.h"
#include "pins/ALStreamTypes.h"
#include "pins/SLStreamTypes.h"
#include "rtl/Component.h"
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace harvolin::testing
{

// Interleaved 16-bit stereo at rate, as the converter announces it.
inline TALWaveFormatBytes StereoWaveFormat(std::uint32_t rate)
{
    TALWaveFormatExtensible format;
    format.nChannels = 2;
    format.nSamplesPerSec = rate;
    format.nAvgBytesPerSec = rate * 4;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.wValidBitsPerSample = 16;
    format.dwChannelMask = 3;
    TALWaveFormatBytes bytes;
    std::memcpy(bytes.data(), &format, bytes.size());
    return bytes;
}

// frames stereo frames counting up from first, the same value in both channels.
inline TRefPtr<TALAudioBuffer> MakeAudioBlock(std::uint32_t frames, std::int16_t first)
{
    auto block = MakeRef<TALAudioBuffer>(16, 3, frames, 2);
    auto* samples = reinterpret_cast<std::int16_t*>(block->GetModify());
    for (std::uint32_t i = 0; i < frames; ++i)
        samples[2 * i] = samples[2 * i + 1] = static_cast<std::int16_t>(first + static_cast<std::int16_t>(i));
    return block;
}

// A folder of the running test's own, made empty.
inline std::filesystem::path TestFolder(const std::string& prefix)
{
    const auto folder = std::filesystem::temp_directory_path() /
                        (prefix + "-" + std::to_string(::getpid()) + "-" +
                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

// The samples of a recording of 16-bit frames: what follows its plain 44-byte header.
inline std::vector<std::int16_t> ReadRecording(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::int16_t> samples(bytes.size() > 44 ? (bytes.size() - 44) / 2 : 0);
    if (!samples.empty())
        std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
    return samples;
}

// The converter's place, driven by hand: sends what the audio output receives and counts the blocks it asks
// for.
class TTestAudioSource final : public TComponent
{
public:
    explicit TTestAudioSource(TComponent* owner) : TComponent(owner) {}
    ~TTestAudioSource() override { OutputPin.Disconnect(); }

    void StartWave(std::int32_t frames, std::uint32_t rate)
    {
        const TALWaveFormatBytes format = StereoWaveFormat(rate);
        OutputPin.Notify(MakeRef<TOWStartWaveOperation>(frames, &format, static_cast<float>(rate)));
    }
    void Send(std::uint32_t frames) { Send(MakeAudioBlock(frames, 0)); }
    void Send(const TRefPtr<TALAudioBuffer>& block) { OutputPin.SendData(block); }
    void Resume() { OutputPin.Notify(MakeRef<TOWSLResumeOperation>()); }
    void Pause() { OutputPin.Notify(MakeRef<TOWSLPauseOperation>()); }
    void Stop() { OutputPin.Notify(MakeRef<TOWStopOperation>()); }
    void StartPump() { OutputPin.Notify(MakeRef<TOWStartPumpOperation>()); }
    // True when the output refuses a block now.
    bool AskForRoom()
    {
        const auto query = MakeRef<TOWRoomQueryOperation>();
        OutputPin.Notify(query);
        return query->Refused();
    }
    [[nodiscard]] int Requests() const noexcept { return FRequests.load(); }

    // Called on the requesting thread with the count so far.
    std::function<void(int)> OnRequest;
    TALOWAudioSourcePin OutputPin{
        this, [this](TOWPin*, const TGUID&, std::uint32_t, const TRefPtr<TOWNotifyOperation>& operation)
        {
            if (Is<TOWMasterPumpOperation>(*operation))
            {
                const int count = ++FRequests;
                if (OnRequest)
                    OnRequest(count);
            }
            return false;
        }};
private:
    std::atomic<int> FRequests{0};
};

}   // namespace harvolin::testing
