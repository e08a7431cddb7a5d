// What the device's rate conversion costs: one second of the program's 100 000-frame stereo stream, fed in
// its 1024-frame blocks, converted to a sound server's 48 000 or a card's 44 100. CPU time of the converting
// thread; "ms_per_s" is the milliseconds it takes per second of sound, "core_pct" the share of one core
// that keeps up in real time (Google Benchmark prints both with an "s" for the inverted rate).
#include "media/RateConverter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace harvolin
{
namespace
{

constexpr std::uint32_t kStreamRate = 100000;
constexpr std::size_t kBlockFrames = 1024;

void BM_RateConverterOneSecond(benchmark::State& state)
{
    const auto outputRate = static_cast<std::uint32_t>(state.range(0));
    std::vector<std::int16_t> second(2 * kStreamRate);
    for (std::size_t n = 0; n < kStreamRate; ++n)
    {
        // 19 kHz: the converter's work does not depend on the tone, but a realistic one costs nothing.
        const auto sample = static_cast<std::int16_t>(std::lround(
            32000.0 * std::sin(2.0 * std::numbers::pi * 19000.0 * static_cast<double>(n) / kStreamRate)));
        second[2 * n] = sample;
        second[2 * n + 1] = sample;
    }
    TRateConverter converter(kStreamRate, outputRate, 2);
    std::vector<std::int16_t> output;
    output.reserve(2 * outputRate + 8192);
    for (auto _ : state)
    {
        output.clear();
        for (std::size_t first = 0; first < kStreamRate; first += kBlockFrames)
            converter.Process(second.data() + 2 * first, std::min(kBlockFrames, kStreamRate - first), output);
        benchmark::DoNotOptimize(output.data());
    }
    const double seconds = static_cast<double>(state.iterations());
    state.counters["ms_per_s"] =
        benchmark::Counter(seconds / 1000.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["core_pct"] =
        benchmark::Counter(seconds / 100.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(state.iterations() * kStreamRate);
}
BENCHMARK(BM_RateConverterOneSecond)->Arg(48000)->Arg(44100)->Unit(benchmark::kMillisecond);

}   // namespace
}   // namespace harvolin
