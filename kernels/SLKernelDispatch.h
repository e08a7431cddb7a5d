#pragma once
#include <atomic>
#include <cstdint>

namespace harvolin
{

// Process-wide processor-class code that picks a kernel implementation. It starts at 0, which binds every
// kernel to its generic implementation. Changing it affects only entries that are not bound yet.
[[nodiscard]] std::uint32_t ProcessorClass();
void SetProcessorClass(std::uint32_t code);

// Which implementation a processor class selects: 0 the generic one, 1 to 3 the processor-specific ones
// (class 5; classes 6 to 9; classes 16 and 17).
[[nodiscard]] int SelectKernelVariant(std::uint32_t processorClass);

template <typename Signature>
class TKernelEntry;

// The entry of one kernel: unbound until its first call, which resolves the implementation for the current
// ProcessorClass() and keeps it for the rest of the process. A variant that is not provided falls back to the
// generic implementation. Resolving is idempotent, so threads racing on the first call need no lock.
template <typename R, typename... A>
class TKernelEntry<R(A...)>
{
public:
    using TImpl = R (*)(A...);

    constexpr explicit TKernelEntry(TImpl generic, TImpl variant1 = nullptr, TImpl variant2 = nullptr,
                                    TImpl variant3 = nullptr)
        : FVariants{generic, variant1, variant2, variant3}
    {
    }
    TKernelEntry(const TKernelEntry&) = delete;
    TKernelEntry& operator=(const TKernelEntry&) = delete;

    R operator()(A... args)
    {
        // relaxed: the value is a code address, and every racing resolver stores the same one.
        TImpl impl = FBound.load(std::memory_order_relaxed);
        if (impl == nullptr)
            impl = ResolveKernel();
        return impl(args...);
    }

    TImpl ResolveKernel()
    {
        TImpl impl = FVariants[SelectKernelVariant(ProcessorClass())];
        if (impl == nullptr)
            impl = FVariants[0];
        FBound.store(impl, std::memory_order_relaxed);
        return impl;
    }

    [[nodiscard]] TImpl Bound() const { return FBound.load(std::memory_order_relaxed); }
private:
    TImpl FVariants[4];
    std::atomic<TImpl> FBound{nullptr};
};

}   // namespace harvolin
