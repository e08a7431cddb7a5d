#include "rtl/Random.h"

namespace harvolin
{

TRandomSource::TRandomSource(const ITimeOfDaySource& clock) : FClock(clock) {}

void TRandomSource::Randomize()
{
    FSeed = MillisecondsOfDay(FClock.Now());
}

std::uint32_t TRandomSource::Random(std::uint32_t n)
{
    // Unsigned arithmetic wraps modulo 2^32, which is the generator's definition.
    FSeed = FSeed * 134775813u + 1u;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(FSeed) * n) >> 32);
}

}   // namespace harvolin
