// What the clock costs the process when nothing else runs: the generator and the converter paced by the real
// 10-ms clock, into a sink that drops every buffer, for a few seconds of wall time. Reported per second of
// wall time: "cpu_percent" (user and system time of the whole process, in percent of one core),
// "ctx_switches" (voluntary and involuntary, from getrusage) and "ticks" (buffers that reached the sink, to
// show the clock kept its pace). The work per tick is a few microseconds (BM_ChainBlock); the rest is what
// waking up for the tick costs.
#include "bench/DroppingSink.h"
#include "convert/ALRealToAudio.h"
#include "gen/SLSignalGen.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <sys/resource.h>
#include <thread>

namespace harvolin
{
namespace
{

struct TProcessUsage
{
    double CpuSeconds = 0.0;
    double Switches = 0.0;

    static TProcessUsage Now()
    {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
        return {seconds(usage.ru_utime) + seconds(usage.ru_stime),
                static_cast<double>(usage.ru_nvcsw + usage.ru_nivcsw)};
    }
};

void BM_ClockedChainIdleCost(benchmark::State& state)
{
    using namespace std::chrono_literals;
    constexpr auto kRun = 4s;
    auto owner = MakeComponent<TComponent>();
    auto& gen = CreateComponent<TSLSignalGen>(*owner);
    auto& converter = CreateComponent<TALRealToAudio>(*owner);
    auto& sink = CreateComponent<bench::TDroppingSink>(*owner);
    gen.SetEnabled(false);
    gen.SetClockSource(TSLClockSource::csInternal);
    gen.SetFrequency(10000.0);
    (void)converter.InputPin(0).Connect(&gen.OutputPin);
    (void)converter.InputPin(1).Connect(&gen.OutputPin);
    (void)sink.InputPin.Connect(&converter.OutputPin);
    gen.SetEnabled(true);
    // Past the start-up: the clock thread made and the first buffers through.
    std::this_thread::sleep_for(200ms);

    for (auto _ : state)
    {
        const std::uint64_t receivedBefore = sink.Received();
        const TProcessUsage before = TProcessUsage::Now();
        const auto start = std::chrono::steady_clock::now();
        // This thread sleeps throughout; its one wake-up at the end is in the figures, a few hundredths.
        std::this_thread::sleep_for(kRun);
        const TProcessUsage after = TProcessUsage::Now();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(wall);
        state.counters["cpu_percent"] = 100.0 * (after.CpuSeconds - before.CpuSeconds) / wall;
        state.counters["ctx_switches"] = (after.Switches - before.Switches) / wall;
        state.counters["ticks"] = static_cast<double>(sink.Received() - receivedBefore) / wall;
    }
    gen.SetEnabled(false);
}
BENCHMARK(BM_ClockedChainIdleCost)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}   // namespace
}   // namespace harvolin
