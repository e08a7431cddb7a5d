#include "kernels/SLVecKernels.h"
#include <benchmark/benchmark.h>
#include <cstdint>
#include <random>
#include <vector>

// Per-element cost of the generic kernels over one pipeline block (1024 elements). The kernels work in
// place, so the operands are chosen to keep dst in a steady range across iterations (multipliers of +-1 or
// +-8 with sf 3, a random walk for the sums) instead of resetting it inside the timed loop.
namespace
{

using namespace harvolin;

constexpr std::int32_t kBlock = 1024;

std::vector<std::int32_t> RandomInts(std::int32_t lo, std::int32_t hi, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::int32_t> pick(lo, hi);
    std::vector<std::int32_t> v(kBlock);
    for (auto& x : v)
        x = pick(random);
    return v;
}

std::vector<std::int32_t> RandomSigns(std::int32_t magnitude, unsigned seed)
{
    std::vector<std::int32_t> v = RandomInts(0, 1, seed);
    for (auto& x : v)
        x = x == 0 ? -magnitude : magnitude;
    return v;
}

template <typename T>
std::vector<T> Convert(const std::vector<std::int32_t>& from)
{
    return std::vector<T>(from.begin(), from.end());
}

template <typename T, typename TKernel>
void RunInPlace(benchmark::State& state, const std::vector<T>& src, std::vector<T> dst, TKernel kernel)
{
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(kernel(src.data(), dst.data(), kBlock));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

void BM_VecAddInt(benchmark::State& state)
{
    RunInPlace(state, RandomInts(-1000, 1000, 1), RandomInts(-1000000, 1000000, 2),
               [](const std::int32_t* s, std::int32_t* d, std::int32_t n) { return VecAddInt(s, d, n, 0); });
}

void BM_VecMulInt(benchmark::State& state)
{
    const auto sf = static_cast<std::int32_t>(state.range(0));
    RunInPlace(state, RandomSigns(sf == 0 ? 1 : 1 << sf, 3), RandomInts(-1000000, 1000000, 4),
               [sf](const std::int32_t* s, std::int32_t* d, std::int32_t n)
               { return VecMulInt(s, d, n, sf); });
}

void BM_VecDivInt(benchmark::State& state)
{
    RunInPlace(state, RandomSigns(1, 5), RandomInts(-1000000, 1000000, 6),
               [](const std::int32_t* s, std::int32_t* d, std::int32_t n) { return VecDivInt(s, d, n, 0); });
}

void BM_VecAddByte(benchmark::State& state)
{
    const auto sf = static_cast<std::int32_t>(state.range(0));
    RunInPlace(
        state, Convert<std::uint8_t>(RandomInts(0, 255, 7)), Convert<std::uint8_t>(RandomInts(0, 255, 8)),
        [sf](const std::uint8_t* s, std::uint8_t* d, std::int32_t n) { return VecAddByte(s, d, n, sf); });
}

void BM_VecAddReal(benchmark::State& state)
{
    RunInPlace(state, Convert<double>(RandomInts(-1000, 1000, 9)),
               Convert<double>(RandomInts(-1000, 1000, 10)),
               [](const double* s, double* d, std::int32_t n) { return VecAddReal(s, d, n); });
}

void BM_VecMulReal(benchmark::State& state)
{
    RunInPlace(state, Convert<double>(RandomSigns(1, 11)), Convert<double>(RandomInts(-1000, 1000, 12)),
               [](const double* s, double* d, std::int32_t n) { return VecMulReal(s, d, n); });
}

}   // namespace

BENCHMARK(BM_VecAddInt);
BENCHMARK(BM_VecMulInt)->Arg(0)->Arg(3)->ArgName("sf");
BENCHMARK(BM_VecDivInt);
// sf 1 keeps the bytes spread out (the mean of two bytes) and takes the rounding path; sf 0 saturates.
BENCHMARK(BM_VecAddByte)->Arg(0)->Arg(1)->ArgName("sf");
BENCHMARK(BM_VecAddReal);
BENCHMARK(BM_VecMulReal);
