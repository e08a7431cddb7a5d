// The tone as the generator makes it, 1024 samples a block, against a cosine computed for every sample.
#include "kernels/SLVecKernels.h"
#include "gen/SLWaveform.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace harvolin
{
namespace
{

constexpr std::int32_t kBlock = 1024;
constexpr double kF = 12345.0 / 100000.0;
constexpr double k2Pi = 6.283185307179586;

void BM_VecTone(benchmark::State& state)
{
    std::vector<double> block(kBlock);
    double phase = 0.0;
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(VecTone(block.data(), kBlock, 32000.0, kF, &phase, 0));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_VecTone);

void BM_StdCosPerSample(benchmark::State& state)
{
    std::vector<double> block(kBlock);
    double phase = 0.0;
    const double w = k2Pi * kF;
    for (auto _ : state)
    {
        for (std::int32_t k = 0; k < kBlock; ++k)
            block[static_cast<std::size_t>(k)] = 32000.0 * std::cos(phase + w * k);
        phase = std::fmod(phase + w * kBlock, k2Pi);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_StdCosPerSample);

void BM_WaveformBlock(benchmark::State& state)
{
    TSLWaveform wave;
    wave.SetSignalType(static_cast<TSLSignalType>(state.range(0)));
    wave.SetFrequency(12345.0);
    wave.SetAmplitude(32000.0);
    wave.SampleRateChanged(100000.0);
    wave.ResetState();
    std::vector<double> block(kBlock);
    for (auto _ : state)
    {
        wave.GenerateBlock(block.data(), kBlock);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_WaveformBlock)->ArgName("type")->DenseRange(stTone, stJaehne);

}   // namespace
}   // namespace harvolin
