// The per-block life cycle of the pipeline's sample buffers: make a 1024-sample real buffer, fill it, clone
// it into a second handle, read it, drop both. "allocs" counts operator new calls per block (the operator
// new of AllocationCounter.h), "heap_blocks" the blocks the storage pool took from the heap per block; both must be 0 once
// the pool is warm. Its own executable, as the operator new of another benchmark file would clash.
#include "bench/AllocationCounter.h"
#include "buffers/SLSimpleDataBuffer.h"
#include "buffers/SLSmartBuffers.h"

#include <benchmark/benchmark.h>

namespace harvolin
{
namespace
{

constexpr std::uint32_t kBlockSamples = 1024;

// Made, filled, cloned, read in full and dropped, as one generator block reaches the converter.
double LifeCycle(double value)
{
    auto buffer = MakeRef<TSLRealBuffer>(kBlockSamples);
    buffer->Fill(value);
    auto clone = CloneBuffer(*buffer);
    const double peak = clone->Maximum();
    return peak + buffer->GetRead()[kBlockSamples - 1];
}

// The handles and storage alone, no sample touched.
double HandlesOnly()
{
    auto buffer = MakeRef<TSLRealBuffer>(kBlockSamples);
    auto clone = CloneBuffer(*buffer);
    return static_cast<double>(clone->GetSize());
}

// A clone written: copy-on-write copies the block once.
double CloneAndModify(double value)
{
    auto buffer = MakeRef<TSLRealBuffer>(kBlockSamples);
    buffer->Fill(value);
    auto clone = CloneBuffer(*buffer);
    clone->GetModify()[0] = -value;
    return clone->GetRead()[1];
}

class TAllocationCount
{
public:
    TAllocationCount()
        : FNews(bench::AllocationsSoFar()),
          FHeapBlocks(SmartBufferManager().HeapAllocations())
    {
    }

    void Report(benchmark::State& state) const
    {
        const auto news = bench::AllocationsSoFar() - FNews;
        const auto heapBlocks = SmartBufferManager().HeapAllocations() - FHeapBlocks;
        state.counters["allocs"] =
            benchmark::Counter(static_cast<double>(news), benchmark::Counter::kAvgIterations);
        state.counters["heap_blocks"] =
            benchmark::Counter(static_cast<double>(heapBlocks), benchmark::Counter::kAvgIterations);
    }
private:
    const std::uint64_t FNews;
    const std::uint64_t FHeapBlocks;
};

void BM_RealBufferLifeCycle(benchmark::State& state)
{
    benchmark::DoNotOptimize(LifeCycle(0.0));   // warms the pool: the first block takes from the heap
    const TAllocationCount count;
    double value = 0.0;
    for (auto _ : state)
        benchmark::DoNotOptimize(LifeCycle(value += 1.0));
    count.Report(state);
}
BENCHMARK(BM_RealBufferLifeCycle);

void BM_RealBufferHandlesOnly(benchmark::State& state)
{
    benchmark::DoNotOptimize(HandlesOnly());
    const TAllocationCount count;
    for (auto _ : state)
        benchmark::DoNotOptimize(HandlesOnly());
    count.Report(state);
}
BENCHMARK(BM_RealBufferHandlesOnly);

void BM_RealBufferCloneAndModify(benchmark::State& state)
{
    benchmark::DoNotOptimize(CloneAndModify(0.0));
    const TAllocationCount count;
    double value = 0.0;
    for (auto _ : state)
        benchmark::DoNotOptimize(CloneAndModify(value += 1.0));
    count.Report(state);
}
BENCHMARK(BM_RealBufferCloneAndModify);

}   // namespace
}   // namespace harvolin
