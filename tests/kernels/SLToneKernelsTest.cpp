#include "kernels/SLVecKernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <limits>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kKernel2Pi = 6.283185307179586;
constexpr double kSentinel = -12345.0;

// A cos(ph0 + k w), w = 2 pi f, formed directly in extended precision: the reference for the recurrence.
long double DirectTone(double a, double f, double ph0, std::int64_t k)
{
    const long double twoPi = 2.0L * std::numbers::pi_v<long double>;
    const long double turns = static_cast<long double>(k) * f;
    const long double phase = ph0 + (turns - std::floor(turns)) * twoPi;
    return a * std::cos(phase);
}

struct TArgumentCase
{
    std::string Name;
    bool NullDst;
    std::int32_t Len;
    double Magnitude;
    double F;
    double Asym;   // triangle only
    bool NullPhase;
    double Phase;
    std::int32_t Expected;
};

std::string CaseName(const ::testing::TestParamInfo<TArgumentCase>& info)
{
    return info.param.Name;
}

class VecToneArgumentTest : public ::testing::TestWithParam<TArgumentCase>
{
};

TEST_P(VecToneArgumentTest, RefusedCallWritesNothingAndKeepsThePhase)
{
    const TArgumentCase& c = GetParam();
    std::vector<double> block(8, kSentinel);
    double phase = c.Phase;
    const std::int32_t status = VecTone(c.NullDst ? nullptr : block.data(), c.Len, c.Magnitude, c.F,
                                        c.NullPhase ? nullptr : &phase, 0);
    EXPECT_EQ(status, c.Expected);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](double v) { return v == kSentinel; }));
    if (!std::isnan(c.Phase))
    {
        EXPECT_EQ(phase, c.Phase);
    }
}

// Each case breaks the checked argument and every argument checked after it, so a wrong order shows.
INSTANTIATE_TEST_SUITE_P(
    Checks, VecToneArgumentTest,
    ::testing::Values(
        TArgumentCase{"MissingPhaseFirst", true, 0, 0.0, 0.7, 0, true, 9.0, kVecNullPointer},
        TArgumentCase{"ZeroMagnitude", true, 0, 0.0, 0.7, 0, false, 9.0, kVecBadToneMagnitude},
        TArgumentCase{"NegativeMagnitude", false, 8, -1.0, 0.1, 0, false, 0.0, kVecBadToneMagnitude},
        TArgumentCase{"NaNMagnitude", false, 8, kNaN, 0.1, 0, false, 0.0, kVecBadToneMagnitude},
        TArgumentCase{"NyquistFrequency", true, 0, 1.0, 0.5, 0, false, 9.0, kVecBadToneFrequency},
        TArgumentCase{"NegativeFrequency", false, 8, 1.0, -0.01, 0, false, 0.0, kVecBadToneFrequency},
        TArgumentCase{"NaNFrequency", false, 8, 1.0, kNaN, 0, false, 0.0, kVecBadToneFrequency},
        TArgumentCase{"PhaseOfTwoPi", true, 0, 1.0, 0.1, 0, false, kKernel2Pi, kVecBadTonePhase},
        TArgumentCase{"NegativePhase", false, 8, 1.0, 0.1, 0, false, -1e-300, kVecBadTonePhase},
        TArgumentCase{"NaNPhase", false, 8, 1.0, 0.1, 0, false, kNaN, kVecBadTonePhase},
        TArgumentCase{"MissingBlock", true, 0, 1.0, 0.1, 0, false, 1.0, kVecNullPointer},
        TArgumentCase{"EmptyBlock", false, 0, 1.0, 0.1, 0, false, 1.0, kVecBadCount}),
    CaseName);

class VecTriangleArgumentTest : public ::testing::TestWithParam<TArgumentCase>
{
};

TEST_P(VecTriangleArgumentTest, RefusedCallWritesNothingAndKeepsThePhase)
{
    const TArgumentCase& c = GetParam();
    std::vector<double> block(8, kSentinel);
    double phase = c.Phase;
    const std::int32_t status = VecTriangle(c.NullDst ? nullptr : block.data(), c.Len, c.Magnitude, c.F,
                                            c.Asym, c.NullPhase ? nullptr : &phase);
    EXPECT_EQ(status, c.Expected);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](double v) { return v == kSentinel; }));
    if (!std::isnan(c.Phase))
    {
        EXPECT_EQ(phase, c.Phase);
    }
}

constexpr double kPi = std::numbers::pi;

INSTANTIATE_TEST_SUITE_P(
    Checks, VecTriangleArgumentTest,
    ::testing::Values(
        TArgumentCase{"MissingPhaseFirst", true, 0, 0.0, 0.7, 4.0, true, 9.0, kVecNullPointer},
        TArgumentCase{"ZeroMagnitude", true, 0, 0.0, 0.7, 4.0, false, 9.0, kVecBadTriangleMagnitude},
        TArgumentCase{"NyquistFrequency", true, 0, 1.0, 0.5, 4.0, false, 9.0, kVecBadTriangleFrequency},
        TArgumentCase{"NaNFrequency", false, 8, 1.0, kNaN, 0.0, false, 0.0, kVecBadTriangleFrequency},
        TArgumentCase{"AsymmetryOfPi", true, 0, 1.0, 0.1, kPi, false, 9.0, kVecBadTriangleAsymmetry},
        TArgumentCase{"AsymmetryBelowMinusPi", false, 8, 1.0, 0.1, -3.2, false, 0.0,
                      kVecBadTriangleAsymmetry},
        TArgumentCase{"PhaseOfTwoPi", true, 0, 1.0, 0.1, 0.0, false, kKernel2Pi, kVecBadTrianglePhase},
        TArgumentCase{"NaNPhase", false, 8, 1.0, 0.1, 0.0, false, kNaN, kVecBadTrianglePhase},
        TArgumentCase{"MissingBlock", true, 0, 1.0, 0.1, -kPi, false, 1.0, kVecNullPointer},
        TArgumentCase{"EmptyBlock", false, 0, 1.0, 0.1, 0.0, false, 1.0, kVecBadCount}),
    CaseName);

class SLToneKernelsTest : public ::testing::Test
{
protected:
    // Runs the tone over blockCount blocks and returns the largest deviation from the direct formula.
    static double LargestToneError(double a, double f, double phase, std::int32_t blockLength, int blockCount)
    {
        const double ph0 = phase;
        std::vector<double> block(static_cast<std::size_t>(blockLength));
        long double largest = 0.0L;
        std::int64_t k = 0;
        for (int b = 0; b < blockCount; ++b)
        {
            EXPECT_EQ(VecTone(block.data(), blockLength, a, f, &phase, 0), kVecOk);
            for (double sample : block)
                largest = std::max(largest, std::fabs(sample - DirectTone(a, f, ph0, k++)));
        }
        return static_cast<double>(largest);
    }
};

TEST_F(SLToneKernelsTest, ToneFollowsTheCosineAndCarriesThePhase)
{
    std::vector<double> block(1024);
    double phase = 0.0;
    ASSERT_EQ(VecTone(block.data(), 1024, 20000.0, 0.01, &phase, 0), kVecOk);
    EXPECT_EQ(block[0], 20000.0);
    for (std::int64_t k = 0; k < 1024; ++k)
        ASSERT_NEAR(block[static_cast<std::size_t>(k)], DirectTone(20000.0, 0.01, 0.0, k), 1e-9) << k;
    EXPECT_NEAR(phase, 0.24 * kKernel2Pi, 1e-12);
}

TEST_F(SLToneKernelsTest, ShortBlocksStopAfterTheirFirstSamples)
{
    for (std::int32_t len = 1; len <= 6; ++len)
    {
        std::vector<double> block(8, kSentinel);
        double phase = 1.0;
        ASSERT_EQ(VecTone(block.data(), len, 3.0, 0.1, &phase, 0), kVecOk);
        for (std::int32_t k = 0; k < len; ++k)
            EXPECT_NEAR(block[static_cast<std::size_t>(k)], DirectTone(3.0, 0.1, 1.0, k), 1e-14)
                << len << ":" << k;
        EXPECT_EQ(block[static_cast<std::size_t>(len)], kSentinel) << len;
        EXPECT_NEAR(phase, std::fmod(1.0 + kKernel2Pi * 0.1 * len, kKernel2Pi), 1e-14) << len;
    }
}

TEST_F(SLToneKernelsTest, ConsecutiveBlocksJoinAsOneLongBlock)
{
    std::vector<double> whole(2048);
    std::vector<double> halves(2048);
    double wholePhase = 0.5;
    double halvesPhase = 0.5;
    ASSERT_EQ(VecTone(whole.data(), 2048, 1.0, 0.0123, &wholePhase, 0), kVecOk);
    ASSERT_EQ(VecTone(halves.data(), 1024, 1.0, 0.0123, &halvesPhase, 0), kVecOk);
    ASSERT_EQ(VecTone(halves.data() + 1024, 1024, 1.0, 0.0123, &halvesPhase, 0), kVecOk);
    for (std::size_t k = 0; k < whole.size(); ++k)
        ASSERT_NEAR(halves[k], whole[k], 1e-12) << k;
    EXPECT_NEAR(halvesPhase, wholePhase, 1e-12);
}

TEST_F(SLToneKernelsTest, RecurrenceStaysCloseToTheCosineOverMillionsOfSamples)
{
    // 3 million samples each, from 1 Hz to just under half the rate of 100000 samples per second.
    for (double hz : {1.0, 440.0, 10000.0, 19999.0, 49999.0})
    {
        const double error = LargestToneError(32000.0, hz / 100000.0, 0.25, 1024, 2930);
        EXPECT_LT(error, 1e-6) << hz << " Hz";
        std::ostringstream text;
        text << std::scientific << error;
        RecordProperty("max_error_at_" + std::to_string(static_cast<int>(hz)) + "_hz", text.str());
    }
}

// The tone as its definition computes it, one pair of samples a step: two cosines, then the two interleaved
// chains in extended precision.
std::vector<double> ToneByTheDefinition(double a, double f, double phase, std::int32_t len)
{
    const long double w = static_cast<long double>(kKernel2Pi) * f;
    std::vector<long double> y(static_cast<std::size_t>(len));
    for (std::int32_t i = 0; i < len; ++i)
    {
        if (i == 0)
            y[0] = a * CosineOfPhase(static_cast<long double>(phase));
        else if (i == 1)
            y[1] = a * CosineOfPhase(static_cast<long double>(phase) + w);
        else if (i < 4)
            y[i] = 2.0L * CosineOfPhase(w) * y[i - 1] - y[i - 2];
        else
        {
            const long double k1 = 2.0L * CosineOfPhase(w);
            y[i] = (k1 * k1 - 2.0L) * y[i - 2] - y[i - 4];
        }
    }
    return {y.begin(), y.end()};
}

TEST_F(SLToneKernelsTest, ThePhasesCosineIsTheLibrarysToTheLastPlaceOfOne)
{
    // Measured against 1, the amplitude's scale: near a zero of the cosine the two differ in the last places
    // of a tiny value, which no sample can show.
    const long double unit = std::numeric_limits<long double>::epsilon();
    long double worst = 0.0L;
    // Every quarter turn and its neighbourhood, where the reduction changes its sign and its function.
    for (int i = 0; i <= 20000; ++i)
    {
        const long double x = static_cast<long double>(i) * 4.0L * 3.14159265358979323846L / 20000.0L;
        worst = std::max(worst, std::fabs(CosineOfPhase(x) - std::cos(x)));
    }
    for (const long double x : {0.0L, 1e-300L, 0.785398163397448309L, 1.5707963267948966L, 1.5707963267948966192L,
                                3.14159265358979312L, 4.71238898038468985L, 6.28318530717958623L, 63.9L, -2.5L})
        worst = std::max(worst, std::fabs(CosineOfPhase(x) - std::cos(x)));
    EXPECT_LE(worst, unit) << static_cast<double>(worst / unit) << " units of 1's last place";
    // Beyond the few turns it is made for, it is the library's.
    EXPECT_EQ(CosineOfPhase(1e6L), std::cos(1e6L));
    EXPECT_TRUE(std::isnan(CosineOfPhase(std::numeric_limits<long double>::quiet_NaN())));
}

TEST_F(SLToneKernelsTest, TheSamplesAreTheDefinitionsToTheBit)
{
    // Blocks of every remainder after the kernel's steps, and the program's own.
    for (const std::int32_t len : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 1023, 1024, 1025, 1026, 1027})
        for (const double f : {0.01, 0.1, 0.19999, 0.4999})
        {
            std::vector<double> block(static_cast<std::size_t>(len));
            double phase = 1.25;
            ASSERT_EQ(VecTone(block.data(), len, 32000.0, f, &phase, 0), kVecOk);
            const std::vector<double> expected = ToneByTheDefinition(32000.0, f, 1.25, len);
            for (std::size_t k = 0; k < block.size(); ++k)
                ASSERT_EQ(std::bit_cast<std::uint64_t>(block[k]), std::bit_cast<std::uint64_t>(expected[k]))
                    << len << " samples at " << f << ": sample " << k << " is " << block[k] << ", not "
                    << expected[k];
        }
}

TEST_F(SLToneKernelsTest, AChangeOfFrequencyTakesEffectAtTheNextBlockAndBack)
{
    // The tone keeps what a frequency's step costs between blocks: a change, and a change back, must each
    // be followed at once, whatever block lengths come (tails of 1 to 3 samples included).
    double phase = 0.3;
    double expectedPhase = 0.3;
    for (const auto& [f, len] : std::vector<std::pair<double, std::int32_t>>{
             {0.1, 1024}, {0.2, 1023}, {0.1, 1025}, {0.1, 6}, {0.37, 1026}, {0.0, 7}, {0.2, 1024}})
    {
        std::vector<double> block(static_cast<std::size_t>(len));
        ASSERT_EQ(VecTone(block.data(), len, 32000.0, f, &phase, 0), kVecOk);
        for (std::int64_t k = 0; k < len; ++k)
            ASSERT_NEAR(block[static_cast<std::size_t>(k)], DirectTone(32000.0, f, expectedPhase, k), 1e-8)
                << f << ":" << k;
        expectedPhase = std::fmod(expectedPhase + kKernel2Pi * f * len, kKernel2Pi);
        EXPECT_NEAR(phase, expectedPhase, 1e-9) << f;
        expectedPhase = phase;
    }
}

TEST_F(SLToneKernelsTest, PhaseAfterTheBlockIsAlwaysInRange)
{
    // Frequencies whose block ends land on, or a rounding away from, whole cycles.
    for (double f : {0.25, 0.125, std::nextafter(0.5, 0.0), 1e-300, 0.0})
    {
        std::vector<double> block(1024);
        double phase = std::nextafter(kKernel2Pi, 0.0);
        for (int b = 0; b < 64; ++b)
        {
            ASSERT_EQ(VecTone(block.data(), 1024, 1.0, f, &phase, 0), kVecOk) << f;
            ASSERT_GE(phase, 0.0) << f;
            ASSERT_LT(phase, kKernel2Pi) << f;
        }
    }
}

TEST_F(SLToneKernelsTest, SymmetricTriangleSteps)
{
    std::vector<double> block(9);
    double phase = 0.0;
    ASSERT_EQ(VecTriangle(block.data(), 9, 1.0, 0.25, 0.0, &phase), kVecOk);
    const std::vector<double> expected{1, 0, -1, 0, 1, 0, -1, 0, 1};
    for (std::size_t k = 0; k < block.size(); ++k)
        EXPECT_NEAR(block[k], expected[k], 1e-12) << k;
}

// The triangle of the definition: +A at 0, -A at pi + asym, +A again at 2 pi.
double DirectTriangle(double a, double asym, long double phase)
{
    const long double twoPi = 2.0L * std::numbers::pi_v<long double>;
    phase -= std::floor(phase / twoPi) * twoPi;
    const long double fall = std::numbers::pi_v<long double> + asym;
    const long double rise = std::numbers::pi_v<long double> - asym;
    return static_cast<double>(phase < fall ? a * (1 - 2 * phase / fall)
                                            : a * (2 * (phase - fall) / rise - 1));
}

TEST_F(SLToneKernelsTest, AsymmetricTriangleFollowsItsShapeAcrossBlocks)
{
    const double a = 2.0;
    const double f = 0.0137;
    const double asym = 1.0;
    std::vector<double> block(1000);
    double phase = 2.0;
    std::int64_t k = 0;
    for (int b = 0; b < 20; ++b)
    {
        ASSERT_EQ(VecTriangle(block.data(), 1000, a, f, asym, &phase), kVecOk);
        for (double sample : block)
        {
            const long double at =
                2.0L + static_cast<long double>(k++) * (2.0L * std::numbers::pi_v<long double> * f);
            ASSERT_NEAR(sample, DirectTriangle(a, asym, at), 1e-9) << k;
        }
    }
}

TEST_F(SLToneKernelsTest, NearVerticalRampsWrapWithinTheirBounds)
{
    // The square wave's ramps: edges about 3.3e-8 rad long, far shorter than a sample.
    for (double asym : {3.141592621, -3.141592621})
    {
        std::vector<double> block(4096);
        double phase = 0.0;
        ASSERT_EQ(VecTriangle(block.data(), 4096, 1.2, 0.01, asym, &phase), kVecOk);
        for (std::size_t k = 0; k < block.size(); ++k)
        {
            ASSERT_LE(std::fabs(block[k]), 1.2 + 1e-9) << asym << ":" << k;
            const long double at =
                static_cast<long double>(k) * (2.0L * std::numbers::pi_v<long double> * 0.01);
            ASSERT_NEAR(block[k], DirectTriangle(1.2, asym, at), 1e-6) << asym << ":" << k;
        }
    }
}

TEST_F(SLToneKernelsTest, ThresholdClipsAndSendsNotANumberLow)
{
    std::vector<double> data{-5.0, -1.0, 0.5, 1.0, 7.0, kNaN};
    ASSERT_EQ(VecThreshold(data.data(), 6, -1.0, -10.0, 1.0, 10.0), kVecOk);
    EXPECT_EQ(data, (std::vector<double>{-10.0, -1.0, 0.5, 1.0, 10.0, -10.0}));
}

TEST_F(SLToneKernelsTest, ThresholdRefusesBadArgumentsInOrder)
{
    std::vector<double> data{-5.0, 5.0};
    EXPECT_EQ(VecThreshold(nullptr, 0, 1.0, 0.0, -1.0, 0.0), kVecNullPointer);
    EXPECT_EQ(VecThreshold(data.data(), 0, 1.0, 0.0, -1.0, 0.0), kVecBadCount);
    EXPECT_EQ(VecThreshold(data.data(), 2, 1.0, 0.0, -1.0, 0.0), kVecBadThresholds);
    EXPECT_EQ(VecThreshold(data.data(), 2, kNaN, 0.0, 1.0, 0.0), kVecBadThresholds);
    EXPECT_EQ(data, (std::vector<double>{-5.0, 5.0}));
    EXPECT_EQ(VecThreshold(data.data(), 2, 1.0, 0.0, 1.0, 2.0), kVecOk);   // equal levels are allowed
    EXPECT_EQ(data, (std::vector<double>{0.0, 2.0}));
}

}   // namespace
}   // namespace harvolin
