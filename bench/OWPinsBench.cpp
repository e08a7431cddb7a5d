// The cost of one delivery through the pin framework, in the program's shape: one source, two sinks, one
// supplied operation per block; against a thread that keeps taking GlobalLock for reading, and upstream.
// The "allocs" counter is the number of heap allocations per Notify, counted by the operator new below.
#include "pins/OWPins.h"
#include "pins/SLStreamTypes.h"
#include "pins/OWTypeRegistry.h"
#include "rtl/Component.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <thread>

namespace
{

// Every allocation of the process, for the per-Notify count. Relaxed: the count is read by the thread whose
// allocations it measures.
std::atomic<std::uint64_t> GAllocations{0};

// Out of line: inlined into a delete expression, the free() of a block from operator new looks mismatched
// to the compiler, although this operator new takes its blocks from malloc().
[[gnu::noinline]] void FreeBlock(void* block) noexcept
{
    std::free(block);
}

}   // namespace

// The count for the other benchmarks of this executable.
std::uint64_t BenchAllocations() noexcept
{
    return GAllocations.load(std::memory_order_relaxed);
}

void* operator new(std::size_t size)
{
    GAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    FreeBlock(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    FreeBlock(block);
}

namespace harvolin
{
namespace
{

inline constexpr TGUID kBenchType = MakeGuid("{3E8D5A71-0C2B-4F69-9A14-B7C6D2E05F38}");

class TBenchForm final : public TComponent
{
public:
    TBenchForm() : TComponent(nullptr, TComponentKind::ckForm) {}
};

// A stream pin whose stream interface only counts: the framework's cost is all that is measured.
template <class TBase>
class TCountingPin final : public TBase, public IOWSignalStream
{
public:
    explicit TCountingPin(TComponent* owner) : TBase(owner) { this->AddType(kBenchType); }
    ~TCountingPin() override { this->BeforeDestruction(); }

    IOWInterface* QueryInterface(const TGUID& iid) override
    {
        if (iid == IOWSignalStream::kIID || iid == kBenchType)
            return static_cast<IOWSignalStream*>(this);
        return TBase::QueryInterface(iid);
    }

    bool NotifyStream(const TGUID&, const TRefPtr<TOWNotifyOperation>&, std::uint32_t) override
    {
        // Written under the pin's group lock.
        ++Count;
        return true;
    }

    std::int64_t Count = 0;
};

// One source with two sinks, linked once the type is registered.
struct TBenchGraph
{
    TBenchGraph()
    {
        RegisterTypeHandler(kBenchType, OWStreamHandler);
        (void)First.Connect(&Source);
        (void)Second.Connect(&Source);
        // The first use of a pin does its one-time bookkeeping; keep it out of the measurement.
        Source.Notify(MakeRef<TOWSuppliedIntegerOperation>(0));
        First.Notify(MakeRef<TOWSuppliedIntegerOperation>(0));
    }

    TBenchForm Form;
    TCountingPin<TOWSourcePin> Source{&Form};
    TCountingPin<TOWSinkPin> First{&Form};
    TCountingPin<TOWSinkPin> Second{&Form};
};

// Reports allocations per iteration of the loop just run.
void ReportAllocations(benchmark::State& state, std::uint64_t before)
{
    const std::uint64_t made = GAllocations.load(std::memory_order_relaxed) - before;
    state.counters["allocs"] =
        benchmark::Counter(static_cast<double>(made), benchmark::Counter::kAvgIterations);
}

// Takes and gives back GlobalLock read sections until stopped, as a second thread of the program reading the
// graph would.
class TGlobalReader
{
public:
    TGlobalReader()
        : FThread(
              [this]
              {
                  while (!FStop.load(std::memory_order_relaxed))
                  {
                      const TOWGlobalReadLockSection section;
                      Sections.fetch_add(1, std::memory_order_relaxed);
                  }
              })
    {
    }
    TGlobalReader(const TGlobalReader&) = delete;
    TGlobalReader& operator=(const TGlobalReader&) = delete;
    ~TGlobalReader()
    {
        FStop.store(true, std::memory_order_relaxed);
        FThread.join();
    }

    std::atomic<std::uint64_t> Sections{0};
private:
    std::atomic<bool> FStop{false};
    std::thread FThread;   // last: starts once the flag exists
};

void BM_SourceNotifyReusedOperation(benchmark::State& state)
{
    TBenchGraph graph;
    const TRefPtr<TOWNotifyOperation> operation = MakeRef<TOWSuppliedIntegerOperation>(1);
    const std::uint64_t before = GAllocations.load(std::memory_order_relaxed);
    for (auto _ : state)
        benchmark::DoNotOptimize(graph.Source.Notify(operation));
    ReportAllocations(state, before);
    benchmark::DoNotOptimize(graph.First.Count);
}
BENCHMARK(BM_SourceNotifyReusedOperation);

void BM_SourceNotifyNewOperation(benchmark::State& state)
{
    TBenchGraph graph;
    const std::uint64_t before = GAllocations.load(std::memory_order_relaxed);
    std::int32_t value = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(graph.Source.Notify(MakeRef<TOWSuppliedIntegerOperation>(++value)));
    ReportAllocations(state, before);
}
BENCHMARK(BM_SourceNotifyNewOperation);

void BM_SourceNotifyWhileAnotherThreadReadsGlobalLock(benchmark::State& state)
{
    TBenchGraph graph;
    const TRefPtr<TOWNotifyOperation> operation = MakeRef<TOWSuppliedIntegerOperation>(1);
    TGlobalReader reader;
    for (auto _ : state)
        benchmark::DoNotOptimize(graph.Source.Notify(operation));
    state.counters["reader_sections"] =
        benchmark::Counter(static_cast<double>(reader.Sections.load()), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SourceNotifyWhileAnotherThreadReadsGlobalLock);

void BM_SinkNotifyUpstream(benchmark::State& state)
{
    TBenchGraph graph;
    const TRefPtr<TOWNotifyOperation> operation = MakeRef<TOWSuppliedIntegerOperation>(1);
    const std::uint64_t before = GAllocations.load(std::memory_order_relaxed);
    for (auto _ : state)
        benchmark::DoNotOptimize(graph.First.Notify(operation));
    ReportAllocations(state, before);
}
BENCHMARK(BM_SinkNotifyUpstream);

void BM_GlobalReadLockSection(benchmark::State& state)
{
    for (auto _ : state)
    {
        const TOWGlobalReadLockSection section;
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_GlobalReadLockSection);

}   // namespace
}   // namespace harvolin
