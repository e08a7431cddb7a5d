#pragma once
#include "rtl/TimeOfDay.h"

#include <cstdint>

namespace harvolin
{

// The program's source of random integers: a 32-bit linear congruential generator, seed x 134775813 + 1,
// re-seeded from the time of day. Two draws from the same seed give the same fraction of their ranges, which
// is what the tone controller relies on. Not thread-safe: the window thread owns the program's one instance.
class TRandomSource
{
public:
    // The clock must outlive the source.
    explicit TRandomSource(const ITimeOfDaySource& clock = SystemTimeOfDay());
    TRandomSource(const TRandomSource&) = delete;
    TRandomSource& operator=(const TRandomSource&) = delete;

    // Seeds with the milliseconds since midnight (UTC) of the clock.
    void Randomize();

    // Advances the seed and returns the upper 32 bits of seed x n: a value in [0, n - 1] for n > 0, and 0 for
    // n = 0 (the seed still advances).
    [[nodiscard]] std::uint32_t Random(std::uint32_t n);

    [[nodiscard]] std::uint32_t Seed() const { return FSeed; }
    void SetSeed(std::uint32_t seed) { FSeed = seed; }
private:
    const ITimeOfDaySource& FClock;
    std::uint32_t FSeed = 0;
};

}   // namespace harvolin
