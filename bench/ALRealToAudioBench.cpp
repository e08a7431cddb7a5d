// The program's whole chain per block: a 1024-sample tone block from the generator, queued on both
// converter inputs, one stereo 16-bit output buffer delivered to a sink that drops it.
#include "bench/DroppingSink.h"
#include "convert/ALRealToAudio.h"
#include "gen/SLSignalGen.h"

#include <benchmark/benchmark.h>

#include <cstdint>

std::uint64_t BenchAllocations() noexcept;

namespace harvolin
{
namespace
{

void BM_ChainBlock(benchmark::State& state)
{
    auto owner = MakeComponent<TComponent>();
    auto& gen = CreateComponent<TSLSignalGen>(*owner);
    auto& converter = CreateComponent<TALRealToAudio>(*owner);
    auto& sink = CreateComponent<bench::TDroppingSink>(*owner);
    gen.SetEnabled(false);
    gen.SetClockSource(TSLClockSource::csExternal);
    gen.SetFrequency(10000.0);
    (void)converter.InputPin(0).Connect(&gen.OutputPin);
    (void)converter.InputPin(1).Connect(&gen.OutputPin);
    (void)sink.InputPin.Connect(&converter.OutputPin);
    gen.SetEnabled(true);
    for (int i = 0; i < 64; ++i)
        gen.ClockPin.Clock();
    const std::uint64_t before = BenchAllocations();
    for (auto _ : state)
        gen.ClockPin.Clock();
    const double blocks = static_cast<double>(state.iterations());
    state.counters["allocs"] = benchmark::Counter(static_cast<double>(BenchAllocations() - before) / blocks);
    // One block is 1024 stereo frames; 600 s at 100000 frames per second is 60 000 000 frames.
    state.counters["ns_per_frame"] =
        benchmark::Counter(blocks * 1024.0, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(state.iterations() * 1024);
    gen.SetEnabled(false);
}
BENCHMARK(BM_ChainBlock);

}   // namespace
}   // namespace harvolin
