#include "rtl/Rounding.h"

namespace harvolin
{

double RoundHalfEven(double value) noexcept
{
    if (!std::isfinite(value))
        return value;
    // No step depends on the rounding mode: floor is exact, and so is value - floor (the two lie within a
    // factor of two of each other) except for -0.5 < value < 0, where the fraction may round, but never below
    // 0.5, and with the odd floor -1 every branch below then gives 0, the right answer.
    const double floor = std::floor(value);
    const double fraction = value - floor;
    if (fraction > 0.5)
        return floor + 1.0;
    if (fraction < 0.5)
        return floor;
    return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

}   // namespace harvolin
