// One block of the program's case: a 1024-sample tone made by the signal generator and delivered to a sink
// that keeps a reference to it, as the converter's queue does, against the bare tone kernel (BM_VecTone).
#include "gen/SLSignalGen.h"
#include "pins/SLStreamTypes.h"

#include <benchmark/benchmark.h>

#include <cstdint>

// Counted by the operator new of OWPinsBench.cpp.
std::uint64_t BenchAllocations() noexcept;

namespace harvolin
{
namespace
{

// Keeps the last block, so that each new block's storage comes while the previous one is still held.
class TKeepingSink final : public TComponent
{
public:
    explicit TKeepingSink(TComponent* owner) : TComponent(owner) {}
    TSLOWRealSinkPin InputPin{
        this, [this](TOWPin*, const TGUID&, std::uint32_t, const TRefPtr<TOWNotifyOperation>& operation)
        {
            if (auto supplied = RefCast<TOWSuppliedBufferOperation>(operation))
                FKept = supplied->Buffer();
            return true;
        }};
private:
    TRefPtr<TSLGenericBuffer> FKept;
};

void BM_ProduceBlock(benchmark::State& state)
{
    auto owner = MakeComponent<TComponent>();
    auto& gen = CreateComponent<TSLSignalGen>(*owner);
    auto& sink = CreateComponent<TKeepingSink>(*owner);
    gen.SetEnabled(false);
    // Clocked by hand: each tick at ClockPin is one ProduceBlock on this thread.
    gen.SetClockSource(TSLClockSource::csExternal);
    gen.SetFrequency(12345.0);
    (void)sink.InputPin.Connect(&gen.OutputPin);
    gen.SetEnabled(true);
    for (int i = 0; i < 64; ++i)
        gen.ClockPin.Clock();
    const std::uint64_t before = BenchAllocations();
    for (auto _ : state)
        gen.ClockPin.Clock();
    state.counters["allocs"] = benchmark::Counter(static_cast<double>(BenchAllocations() - before) /
                                                  static_cast<double>(state.iterations()));
    state.SetItemsProcessed(state.iterations() * 1024);
    gen.SetEnabled(false);
}
BENCHMARK(BM_ProduceBlock);

}   // namespace
}   // namespace harvolin
