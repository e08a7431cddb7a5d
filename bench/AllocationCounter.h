#pragma once
// Counts every operator new of the process, so that a benchmark can report allocations per iteration.
// Include it in exactly one file of a benchmark executable: it replaces the global operator new and
// delete, which would clash with a second replacement in the same program.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace harvolin
{
namespace bench
{

// Relaxed: read by the thread whose allocations it measures.
inline std::atomic<std::uint64_t> GAllocations{0};

// Out of line: inlined into a delete expression, the free() of a block from operator new looks mismatched
// to the compiler, although this operator new takes its blocks from malloc().
[[gnu::noinline]] inline void FreeBlock(void* block) noexcept
{
    std::free(block);
}

[[nodiscard]] inline std::uint64_t AllocationsSoFar() noexcept
{
    return GAllocations.load(std::memory_order_relaxed);
}

}   // namespace bench
}   // namespace harvolin

void* operator new(std::size_t size)
{
    harvolin::bench::GAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    harvolin::bench::FreeBlock(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    harvolin::bench::FreeBlock(block);
}
