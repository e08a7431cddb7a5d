#pragma once
#include <cmath>
#include <concepts>
#include <limits>

namespace harvolin
{

// The one rounding rule of the program: nearest, ties to even, and truncation toward zero where a caller
// wants the whole part. None of these reads the thread's floating-point rounding mode, so a value keeps its
// integer whatever mode code running earlier on the thread (a test, a library) left behind. Any thread.

// Nearest integer, ties to even (0.5 -> 0, 1.5 -> 2, 2.5 -> 2, -2.5 -> -2), as a double; infinities and NaN
// come back unchanged. The same answer in every rounding mode (see the .cpp for why).
[[nodiscard]] double RoundHalfEven(double value) noexcept;

// value truncated toward zero as T. Beyond T's range, infinities included, it saturates at T's ends; NaN
// gives 0, so no input reaches the undefined out-of-range conversion.
template <std::integral T>
[[nodiscard]] T TruncTo(double value) noexcept
{
    static_assert(!std::same_as<T, bool>, "a truth value is no integer to round to");
    if (std::isnan(value))
        return 0;
    const double whole = std::trunc(value);
    // The double nearest T's maximum may lie just above it (2^63 for int64): at or beyond it saturates.
    if (whole >= static_cast<double>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    if (whole <= static_cast<double>(std::numeric_limits<T>::min()))
        return std::numeric_limits<T>::min();
    return static_cast<T>(whole);
}

// value rounded half to even as T, saturating at T's ends as TruncTo does; NaN gives 0. A caller whose
// results stop short of T's ends clamps value before the call.
template <std::integral T>
[[nodiscard]] T RoundHalfEvenTo(double value) noexcept
{
    return TruncTo<T>(RoundHalfEven(value));
}

}   // namespace harvolin
