#pragma once
#include "audioout/ALDSAudioOut.h"
#include "buffers/ALSimpleAudioBuffer.h"
#include "convert/ALRealToAudio.h"
#include "gen/SLSignalGen.h"
#include "gen/SLWaveform.h"
#include "media/AudioDevices.h"
#include "pins/ALStreamTypes.h"
#include "pins/SLStreamTypes.h"
#include "rtl/Component.h"
#include "rtl/DescriptionReader.h"
#include "rtl/Diagnostics.h"
#include "rtl/Rounding.h"
#include "tests/pins/TestPins.h"
#include "tests/support/TestThreads.h"
#include "tests/support/WindowPipeline.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <unistd.h>
#include <thread>
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

// The samples of a recording of 16-bit frames: what follows its header (a plain WAV header unless said
// otherwise; none in a raw recording).
inline std::vector<std::int16_t> ReadRecording(const std::filesystem::path& file,
                                               std::size_t headerBytes = 44)
{
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::int16_t> samples(bytes.size() > headerBytes ? (bytes.size() - headerBytes) / 2 : 0);
    if (!samples.empty())
        std::memcpy(samples.data(), bytes.data() + headerBytes, samples.size() * 2);
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

inline constexpr std::int64_t kBlockFrames = 1024;
inline constexpr std::int64_t kBlockMicroseconds = 10240;   // 1024 frames at 100 000 a second

// The main window's pipeline as its description stores it; clockSource and masterPumping as given.
inline std::string PipelineDescription(const char* clockSource, const char* masterPumping)
{
    return WindowPipelineDescription("TTestForm", clockSource, masterPumping);
}

// The generator's blocks as the converter writes them: the synthesis rounded half to even. The frequency
// changes to frequency from block frequencyAt on, the amplitude to amplitude from amplitudeAt on.
class TReference
{
public:
    std::vector<std::int16_t> Block(std::size_t index)
    {
        while (FBlocks.size() <= index)
        {
            if (FBlocks.size() == FFrequencyAt)
                FWave.SetFrequency(FFrequency);
            if (FBlocks.size() == FAmplitudeAt)
                FWave.SetAmplitude(FAmplitude);
            std::vector<double> samples(kBlockFrames);
            FWave.GenerateBlock(samples.data(), static_cast<std::int32_t>(kBlockFrames));
            std::vector<std::int16_t> block(samples.size());
            for (std::size_t k = 0; k < samples.size(); ++k)
                block[k] = static_cast<std::int16_t>(RoundHalfEven(samples[k]));
            FBlocks.push_back(std::move(block));
        }
        return FBlocks[index];
    }
    // The tone starts at startFrequency and startAmplitude (the generator's stored values by default).
    TReference(std::size_t frequencyAt = SIZE_MAX, double frequency = 0.0, std::size_t amplitudeAt = SIZE_MAX,
               double amplitude = 0.0, double startFrequency = 1000.0, double startAmplitude = 20000.0)
        : FFrequencyAt(frequencyAt), FFrequency(frequency), FAmplitudeAt(amplitudeAt), FAmplitude(amplitude)
    {
        FWave.SetSignalType(stTone);
        FWave.SetAmplitude(startAmplitude);
        FWave.SampleRateChanged(100000.0);
        FWave.SetFrequency(startFrequency);
        FWave.ResetState();
    }
private:
    TSLWaveform FWave;
    const std::size_t FFrequencyAt;
    const double FFrequency;
    const std::size_t FAmplitudeAt;
    const double FAmplitude;
    std::vector<std::vector<std::int16_t>> FBlocks;
};

// Whether block index of the recording holds the reference's block in both channels.
inline bool BlockMatches(const std::vector<std::int16_t>& recording, std::size_t index, TReference& reference)
{
    const std::vector<std::int16_t> expected = reference.Block(index);
    const std::size_t base = index * 2 * kBlockFrames;
    for (std::size_t k = 0; k < expected.size(); ++k)
        if (recording[base + 2 * k] != expected[k] || recording[base + 2 * k + 1] != expected[k])
            return false;
    return true;
}

// The first block of the recording that differs from the reference; the block count when none does.
inline std::size_t FirstMismatch(const std::vector<std::int16_t>& recording, TReference& reference)
{
    const std::size_t blocks = recording.size() / (2 * kBlockFrames);
    std::size_t index = 0;
    while (index < blocks && BlockMatches(recording, index, reference))
        ++index;
    return index;
}

// The recording holds, block for block, the tone before the change and the changed tone after it, nothing
// missing, repeated or out of phase; the two setters run one after the other, so a block may fall between
// them. The tone before the change is the generator's stored one unless given. Returns the block that
// carries the change, or the block count when it never came.
inline std::size_t ExpectContinuousChange(const std::vector<std::int16_t>& samples, double frequency,
                                          double amplitude, double startFrequency = 1000.0,
                                          double startAmplitude = 20000.0)
{
    const std::size_t blocks = samples.size() / (2 * kBlockFrames);
    TReference unchanged(SIZE_MAX, 0.0, SIZE_MAX, 0.0, startFrequency, startAmplitude);
    const std::size_t change = FirstMismatch(samples, unchanged);
    if (change == blocks)
        return change;
    bool continuous = false;
    for (std::size_t amplitudeAt = change; amplitudeAt <= change + 1 && !continuous; ++amplitudeAt)
    {
        TReference changed(change, frequency, amplitudeAt, amplitude, startFrequency, startAmplitude);
        continuous = FirstMismatch(samples, changed) == blocks;
    }
    EXPECT_TRUE(continuous) << "a block is missing, repeated or out of phase after block " << change;
    return change;
}

// The recording holds whole blocks, at least minBlocks, all of the unchanged tone from the first on.
inline void ExpectSteadyStream(const std::vector<std::int16_t>& samples, std::size_t minBlocks)
{
    ASSERT_EQ(samples.size() % (2 * kBlockFrames), 0u) << "a block was cut";
    const std::size_t blocks = samples.size() / (2 * kBlockFrames);
    ASSERT_GE(blocks, minBlocks);
    TReference steady;
    EXPECT_EQ(FirstMismatch(samples, steady), blocks) << "the stream is not continuous";
}

// What this process holds of the system: its threads and open files. A pipeline that is gone leaves these
// as they were before it was made; a thread hung in a device, or a device left open, shows here.
struct TProcessResources
{
    std::size_t Threads = 0;
    std::size_t Files = 0;

    static TProcessResources Now()
    {
        const auto count = [](const char* folder)
        {
            const std::filesystem::directory_iterator entries(folder);
            return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
        };
        // The listing of /proc/self/fd holds one descriptor of its own while it is read.
        return {count("/proc/self/task"), count("/proc/self/fd")};
    }
    // What the process holds before a pipeline is made. A thread is started and joined first: a sanitizer's
    // runtime starts a thread of its own with the process's first thread and keeps it, and it must count
    // as already there.
    static TProcessResources Baseline()
    {
        std::thread([] {}).join();
        return Now();
    }
    bool operator==(const TProcessResources&) const = default;
};

inline void PrintTo(const TProcessResources& resources, std::ostream* stream)
{
    *stream << resources.Threads << " threads, " << resources.Files << " open files";
}

// A thread whose work is done may still be on its way out (one that frees itself after its last client
// left): it is given the tests' patience to go. One hung in a device never goes.
inline void ExpectNothingLeftBehind(const TProcessResources& before)
{
    (void)Eventually([&] { return TProcessResources::Now() == before; });
    EXPECT_EQ(TProcessResources::Now(), before) << "the pipeline left a thread or a file behind";
}

class TPipelineFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // A class whose unit nothing else of this program refers to is not linked in from its library, and
        // with it goes its registration.
        RegisterComponentClass<TALRealToAudio>();
        FFolder = TestFolder("harvolin-pipeline");
        FPreviousHandler = SetDiagnosticHandler(
            [this](const TDiagnostic& diagnostic)
            {
                std::lock_guard lock(FReportsLock);
                FReports.push_back(diagnostic.Message);
            });
    }
    void TearDown() override
    {
        FForm.reset();
        SetNullRendererOptions({});
        SetDiagnosticHandler(FPreviousHandler);
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }
    // Reads the window's pipeline; the output plays on the device of that name (the null renderer unless
    // said otherwise).
    void Load(const char* clockSource, const char* masterPumping,
              const std::string& deviceName = kNullAudioRendererFriendlyName)
    {
        FForm = MakeComponent<TTestForm>();
        ReadDescription(*FForm, PipelineDescription(clockSource, masterPumping));
        FGen = &dynamic_cast<TSLSignalGen&>(*FForm->FindComponent("SLSignalGen1"));
        FOut = &dynamic_cast<TALDSAudioOut&>(*FForm->FindComponent("ALDSAudioOut1"));
        FOut->AudioOutputDevice().SetDeviceName(deviceName);
    }
    // What the device has played, in microseconds of stream; nothing before the first start.
    std::optional<REFERENCE_TIME> Played() { return PlayedStreamTime(*FOut); }
    // Serves the window thread's messages (graph events, posted failures) while waiting for condition;
    // false when the patience ran out.
    bool ServeUntil(const std::function<bool()>& condition, std::chrono::milliseconds patience = kPatience)
    {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!condition())
        {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            FLoop.ProcessPending();
            YieldThread();
        }
        return true;
    }
    bool PlayedAtLeast(REFERENCE_TIME microseconds)
    {
        const auto played = Played();
        return played && *played >= microseconds;
    }
    // The stream the output has taken and not yet played, in microseconds: delivered or queued.
    std::int64_t Ahead(REFERENCE_TIME played)
    {
        return FOut->StreamPosition() + static_cast<std::int64_t>(FOut->QueuedBlocks()) * kBlockMicroseconds -
               played;
    }

    // Whether a report whose message holds words reached the diagnostics sink.
    bool Reported(const std::string& words)
    {
        std::lock_guard lock(FReportsLock);
        return std::any_of(FReports.begin(), FReports.end(),
                           [&](const std::string& message)
                           { return message.find(words) != std::string::npos; });
    }

    TMessageLoop FLoop;
    std::filesystem::path FFolder;
    TComponentPtr<TTestForm> FForm;   // the window that owns the pipeline
    TSLSignalGen* FGen = nullptr;
    TALDSAudioOut* FOut = nullptr;
    std::mutex FReportsLock;
    std::vector<std::string> FReports;   // guarded by FReportsLock
    TDiagnosticHandler FPreviousHandler;
};

}   // namespace harvolin::testing
