// The last step of the audio path: the source filter hands one 1024-frame block (100 000 frames per
// second, stereo, 16-bit) to a running renderer through the pin protocol (a sample from the allocator,
// filled, stamped and received). The renderer's device is the null device, unpaced, so the figure is the
// path's own cost per block, not the device's pace. "allocs" counts operator new calls per block (the
// operator new of AllocationCounter.h); it must be 0 once the path is warm. Its own executable, as the
// operator new of another benchmark file would clash.
#include "audioout/DSBaseClass.h"
#include "bench/AllocationCounter.h"
#include "media/AudioRenderer.h"
#include "media/FilterGraph.h"
#include "media/NullAudioDevice.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

constexpr std::uint32_t kRate = 100000;
constexpr std::uint32_t kBlockFrames = 1024;
constexpr std::uint32_t kFrameBytes = 4;
constexpr TGUID kRendererClass = MakeGuid("{0C6E8F3A-2B7D-4A91-8E54-D3F1A9B6C207}");

TALWaveFormatExtensible StereoSixteenBit()
{
    TALWaveFormatExtensible format;
    format.nChannels = 2;
    format.wBitsPerSample = 16;
    format.wValidBitsPerSample = 16;
    format.nSamplesPerSec = kRate;
    format.nBlockAlign = kFrameBytes;
    format.nAvgBytesPerSec = kRate * kFrameBytes;
    format.dwChannelMask = 3;
    return format;
}

void BM_DeliverBlockToNullRenderer(benchmark::State& state)
{
    auto source = MakeComObject<TDSAudioSourceFilter>();
    // The duration of one block, as the audio output sizes its buffer for what it delivers.
    source->SetFormat(StereoSixteenBit(), kBlockFrames * 1000 / kRate + 1);
    TRefPtr<IBaseFilter> renderer(
        new TAudioRenderer(std::make_unique<TNullAudioDevice>(TNullAudioDevice::TOptions{
                               .Paced = false, .BufferDuration = {}, .RecordTo = {}}),
                           kRendererClass));
    auto graph = MakeComObject<TFilterGraph, IGraphBuilder>();
    auto control = QueryAs<IMediaControl>(graph.Get());
    IPin* input = nullptr;
    if (graph->AddFilter(source.Get(), "Source") != S_OK ||
        graph->AddFilter(renderer.Get(), "Audio Render") != S_OK || renderer->FindPin("In", &input) != S_OK)
    {
        state.SkipWithError("the graph could not be built");
        return;
    }
    const auto inputPin = AdoptRef(input);
    if (graph->Connect(&source->AudioPin(), inputPin.Get()) != S_OK || control->Run() != S_OK)
    {
        state.SkipWithError("the source could not be connected to the renderer or run");
        return;
    }

    std::vector<std::uint8_t> block(kBlockFrames * kFrameBytes);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i * 31);
    constexpr REFERENCE_TIME kBlockDuration = REFERENCE_TIME{kBlockFrames} * 1'000'000 / kRate;
    REFERENCE_TIME start = 0;
    const auto deliver = [&]
    {
        const bool delivered = source->DeliverData(block.data(), static_cast<std::uint32_t>(block.size()),
                                                   true, start + kBlockDuration, start);
        start += kBlockDuration;
        return delivered;
    };
    for (int i = 0; i < 16; ++i)   // warm-up: the first blocks may grow what the path keeps
        deliver();

    const auto allocationsBefore = bench::AllocationsSoFar();
    for (auto _ : state)
    {
        if (!deliver())
        {
            state.SkipWithError("a delivery failed");
            break;
        }
    }
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(bench::AllocationsSoFar() - allocationsBefore),
                           benchmark::Counter::kAvgIterations);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(block.size()));
    control->Stop();
    graph->Disconnect(&source->AudioPin());
    graph->Disconnect(inputPin.Get());
}
BENCHMARK(BM_DeliverBlockToNullRenderer);

// The paced null device keeps a sound card's pace: one second of stream written as fast as it is taken
// must take one second to play. "pace" is wall time over stream time (1.0 is exact; the target is within
// 2 %), measured from the first write until the device reports every frame played.
void BM_PacedNullDevicePlaysOneSecond(benchmark::State& state)
{
    std::vector<std::uint8_t> block(kBlockFrames * kFrameBytes, 0);
    const TPcmFormat format{.Channels = 2, .BitsPerSample = 16, .FramesPerSecond = kRate};
    double paceSum = 0.0;
    for (auto _ : state)
    {
        TNullAudioDevice device(TNullAudioDevice::TOptions{
            .Paced = true, .BufferDuration = std::chrono::milliseconds(100), .RecordTo = {}});
        if (!device.Open(format).Ok() || !device.Start().Ok())
        {
            state.SkipWithError("the null device did not open");
            break;
        }
        const auto began = std::chrono::steady_clock::now();
        std::int64_t written = 0;
        while (written < kRate)
        {
            const auto frames =
                static_cast<std::uint32_t>(std::min<std::int64_t>(kBlockFrames, kRate - written));
            if (!device.Write(block.data(), frames).Ok())
                break;
            written += frames;
        }
        while (device.FramesPlayed() < kRate)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
        state.SetIterationTime(took.count());
        paceSum += took.count();
        device.Close();
    }
    state.counters["pace"] = benchmark::Counter(paceSum, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_PacedNullDevicePlaysOneSecond)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}   // namespace
}   // namespace harvolin
