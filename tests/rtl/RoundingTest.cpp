#include "rtl/Rounding.h"

#include <gtest/gtest.h>

#include <array>
#include <cfenv>
#include <cstdint>
#include <limits>
#include <string>

namespace harvolin
{
namespace
{

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::int32_t kMax32 = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin32 = std::numeric_limits<std::int32_t>::min();

struct TRoundingCase
{
    std::string Name;
    double Value;
    std::int32_t Rounded;     // RoundHalfEvenTo<std::int32_t>
    std::int32_t Truncated;   // TruncTo<std::int32_t>
};

class RoundingTest : public ::testing::TestWithParam<TRoundingCase>
{
};

// Every case under each rounding mode a thread can be left in: the answers must not move.
TEST_P(RoundingTest, GivesTheSameIntegersInEveryRoundingMode)
{
    const int saved = std::fegetround();
    for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO})
    {
        ASSERT_EQ(std::fesetround(mode), 0);
        const std::int32_t rounded = RoundHalfEvenTo<std::int32_t>(GetParam().Value);
        const std::int32_t truncated = TruncTo<std::int32_t>(GetParam().Value);
        std::fesetround(saved);
        EXPECT_EQ(rounded, GetParam().Rounded) << "rounding mode " << mode;
        EXPECT_EQ(truncated, GetParam().Truncated) << "rounding mode " << mode;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, RoundingTest,
    ::testing::Values(
        TRoundingCase{"AHalfGoesToZero", 0.5, 0, 0}, TRoundingCase{"OneAndAHalfGoesUp", 1.5, 2, 1},
        TRoundingCase{"TwoAndAHalfGoesDown", 2.5, 2, 2}, TRoundingCase{"MinusAHalfGoesToZero", -0.5, 0, 0},
        TRoundingCase{"MinusTwoAndAHalfGoesUp", -2.5, -2, -2},
        TRoundingCase{"MinusThreeAndAHalfGoesDown", -3.5, -4, -3},
        TRoundingCase{"JustBelowAHalf", 0.49999999999999994, 0, 0},
        TRoundingCase{"JustAboveMinusAHalf", -0.49999999999999994, 0, 0},
        TRoundingCase{"TinyNegative", -1e-300, 0, 0}, TRoundingCase{"MinusThreeQuarters", -0.75, -1, 0},
        TRoundingCase{"LargestInt", 2147483647.0, kMax32, kMax32},
        TRoundingCase{"HalfBelowLargestIntRoundsToEven", 2147483646.5, 2147483646, 2147483646},
        TRoundingCase{"HalfAboveLargestIntSaturates", 2147483647.5, kMax32, kMax32},
        TRoundingCase{"SmallestInt", -2147483648.0, kMin32, kMin32},
        TRoundingCase{"HalfBelowSmallestIntSaturates", -2147483648.5, kMin32, kMin32},
        TRoundingCase{"HalfAboveSmallestIntRoundsToEven", -2147483647.5, kMin32, -2147483647},
        TRoundingCase{"FarAboveSaturates", 1e300, kMax32, kMax32},
        TRoundingCase{"FarBelowSaturates", -1e300, kMin32, kMin32},
        TRoundingCase{"InfinitySaturates", kInf, kMax32, kMax32},
        TRoundingCase{"MinusInfinitySaturates", -kInf, kMin32, kMin32},
        TRoundingCase{"NaNGivesZero", kNaN, 0, 0}),
    [](const ::testing::TestParamInfo<TRoundingCase>& testCase) { return testCase.param.Name; });

TEST(RoundingEdgesTest, RoundHalfEvenAgreesWithTheDefaultModeAcrossTheTrickyRange)
{
    // In the default mode nearbyint is the reference; values near -0.5 and 0 are where a fraction computed
    // as value - floor could round.
    ASSERT_EQ(std::fegetround(), FE_TONEAREST);
    for (double value = -3.0; value <= 3.0; value += 1.0 / 64.0)
        for (const double nudge : {-1e-17, -1e-16, 0.0, 1e-16, 1e-17})
            ASSERT_EQ(RoundHalfEven(value + nudge), std::nearbyint(value + nudge)) << value + nudge;
    for (double value = -0.5; value < -1e-300; value *= 0.9)
        for (double near = value, k = 0; k < 8; near = std::nextafter(near, 0.0), ++k)
            ASSERT_EQ(RoundHalfEven(near), std::nearbyint(near)) << near;
}

TEST(RoundingEdgesTest, RoundHalfEvenPassesNonFiniteValuesThrough)
{
    EXPECT_EQ(RoundHalfEven(kInf), kInf);
    EXPECT_EQ(RoundHalfEven(-kInf), -kInf);
    EXPECT_TRUE(std::isnan(RoundHalfEven(kNaN)));
    EXPECT_EQ(RoundHalfEven(4503599627370497.0), 4503599627370497.0) << "beyond 2^52 every double is whole";
}

TEST(RoundingEdgesTest, SixtyFourBitResultsSaturateAtTheTypesEnds)
{
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    // 2^63 is the double nearest the maximum and lies above it.
    EXPECT_EQ(RoundHalfEvenTo<std::int64_t>(9223372036854775808.0), max);
    EXPECT_EQ(RoundHalfEvenTo<std::int64_t>(9223372036854774784.0), 9223372036854774784);
    EXPECT_EQ(RoundHalfEvenTo<std::int64_t>(-9223372036854775808.0), min);
    EXPECT_EQ(TruncTo<std::int64_t>(-1e19), min);
    EXPECT_EQ(TruncTo<std::uint64_t>(-1.0), 0u);
    EXPECT_EQ(TruncTo<std::uint64_t>(1.9e19), std::numeric_limits<std::uint64_t>::max());
}

TEST(RoundingEdgesTest, SixteenBitResultsSaturateAtTheTypesEnds)
{
    EXPECT_EQ(TruncTo<std::int16_t>(32766.9), 32766);
    EXPECT_EQ(TruncTo<std::int16_t>(32767.0), 32767);
    EXPECT_EQ(TruncTo<std::int16_t>(40000.0), 32767);
    EXPECT_EQ(TruncTo<std::int16_t>(-32768.9), -32768);
    EXPECT_EQ(RoundHalfEvenTo<std::int16_t>(-32768.5), -32768);
    EXPECT_EQ(RoundHalfEvenTo<std::int16_t>(32766.5), 32766);
}

}   // namespace
}   // namespace harvolin
