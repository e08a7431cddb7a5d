#include "kernels/SLKernelDispatch.h"

namespace harvolin
{

namespace
{
std::atomic<std::uint32_t> GProcessorClass{0};
}

std::uint32_t ProcessorClass()
{
    return GProcessorClass.load(std::memory_order_relaxed);
}

void SetProcessorClass(std::uint32_t code)
{
    GProcessorClass.store(code, std::memory_order_relaxed);
}

int SelectKernelVariant(std::uint32_t processorClass)
{
    if (processorClass == 5)
        return 1;
    if (processorClass >= 6 && processorClass <= 9)
        return 2;
    if (processorClass == 16 || processorClass == 17)
        return 3;
    return 0;
}

}   // namespace harvolin
