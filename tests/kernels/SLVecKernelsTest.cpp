#include "kernels/SLVecKernels.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

constexpr std::int32_t kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kIntMax = std::numeric_limits<std::int32_t>::max();
constexpr std::uint64_t kDivisionNaNBits = 0xFFF8000000000000;
constexpr double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Test cases print as their names.
template <typename TCase>
concept CNamedCase = requires(const TCase& c)
{
    c.Name;
};

template <CNamedCase TCase>
void PrintTo(const TCase& c, std::ostream* os)
{
    *os << c.Name;
}

std::uint64_t Bits(double x)
{
    return std::bit_cast<std::uint64_t>(x);
}

class SLVecKernelsTest : public ::testing::Test
{
protected:
    // Scale-rule reference formed apart from the kernels: long double arithmetic (exact for every such
    // result), scalbln, nearbyint in the default round-half-even mode, then the clamp.
    static std::int64_t ReferenceScale(long double exact, std::int32_t sf, long double lo, long double hi)
    {
        const long double scaled = std::nearbyint(std::scalbln(exact, -static_cast<long>(sf)));
        return static_cast<std::int64_t>(std::clamp(scaled, lo, hi));
    }
};

// Argument checks: a missing pointer beats a bad count, a bad count beats the rest, and a refused call
// leaves both arrays exactly as they were.
struct TCheckCase
{
    std::string Name;
    std::int32_t (*Call)(void* src, void* dst, std::int32_t n);
    bool HasSrc;
};

class SLVecKernelsCheckTest : public ::testing::TestWithParam<TCheckCase>
{
protected:
    alignas(32) unsigned char FSrc[256];
    alignas(32) unsigned char FDst[256];
    unsigned char FSrcCopy[256];
    unsigned char FDstCopy[256];

    void SetUp() override
    {
        std::memset(FSrc, 0x5A, sizeof FSrc);   // as double ~1.9e127, as int32 0x5A5A5A5A: no zero divisor
        std::memset(FDst, 0xA5, sizeof FDst);
        std::memcpy(FSrcCopy, FSrc, sizeof FSrc);
        std::memcpy(FDstCopy, FDst, sizeof FDst);
    }
    bool Untouched() const
    {
        return std::memcmp(FSrc, FSrcCopy, sizeof FSrc) == 0 && std::memcmp(FDst, FDstCopy, sizeof FDst) == 0;
    }
};

TEST_P(SLVecKernelsCheckTest, RefusesMissingPointersBeforeBadCountsAndWritesNothing)
{
    const TCheckCase& c = GetParam();
    EXPECT_EQ(c.Call(FSrc, nullptr, 4), kVecNullPointer);
    EXPECT_EQ(c.Call(FSrc, nullptr, 0), kVecNullPointer);
    if (c.HasSrc)
    {
        EXPECT_EQ(c.Call(nullptr, FDst, 4), kVecNullPointer);
        EXPECT_EQ(c.Call(nullptr, FDst, -1), kVecNullPointer);
    }
    EXPECT_EQ(c.Call(FSrc, FDst, 0), kVecBadCount);
    EXPECT_EQ(c.Call(FSrc, FDst, -1), kVecBadCount);
    EXPECT_EQ(c.Call(FSrc, FDst, kIntMin), kVecBadCount);
    EXPECT_TRUE(Untouched());
    // The same call with a good count goes through: the case reaches the kernel it names.
    EXPECT_EQ(c.Call(FSrc, FDst, 4), kVecOk);
}

template <typename T>
T* As(void* p)
{
    return static_cast<T*>(p);
}

const TCheckCase kCheckCases[] = {
    {"AddConstReal", [](void*, void* d, std::int32_t n) { return VecAddConstReal(1.0, As<double>(d), n); },
     false},
    {"AddReal", [](void* s, void* d, std::int32_t n) { return VecAddReal(As<double>(s), As<double>(d), n); },
     true},
    {"SubReal", [](void* s, void* d, std::int32_t n) { return VecSubReal(As<double>(s), As<double>(d), n); },
     true},
    {"MulReal", [](void* s, void* d, std::int32_t n) { return VecMulReal(As<double>(s), As<double>(d), n); },
     true},
    {"DivReal", [](void* s, void* d, std::int32_t n) { return VecDivReal(As<double>(s), As<double>(d), n); },
     true},
    {"AddComplex",
     [](void* s, void* d, std::int32_t n) { return VecAddComplex(As<TSLComplex>(s), As<TSLComplex>(d), n); },
     true},
    {"MulComplex",
     [](void* s, void* d, std::int32_t n) { return VecMulComplex(As<TSLComplex>(s), As<TSLComplex>(d), n); },
     true},
    {"DivComplex",
     [](void* s, void* d, std::int32_t n) { return VecDivComplex(As<TSLComplex>(s), As<TSLComplex>(d), n); },
     true},
    {"AddInt",
     [](void* s, void* d, std::int32_t n)
     { return VecAddInt(As<std::int32_t>(s), As<std::int32_t>(d), n, 0); },
     true},
    {"SubInt",
     [](void* s, void* d, std::int32_t n)
     { return VecSubInt(As<std::int32_t>(s), As<std::int32_t>(d), n, 0); },
     true},
    {"MulInt",
     [](void* s, void* d, std::int32_t n)
     { return VecMulInt(As<std::int32_t>(s), As<std::int32_t>(d), n, 0); },
     true},
    {"DivInt",
     [](void* s, void* d, std::int32_t n)
     { return VecDivInt(As<std::int32_t>(s), As<std::int32_t>(d), n, 0); },
     true},
    {"AddByte",
     [](void* s, void* d, std::int32_t n)
     { return VecAddByte(As<std::uint8_t>(s), As<std::uint8_t>(d), n, 0); },
     true},
    {"SubByte",
     [](void* s, void* d, std::int32_t n)
     { return VecSubByte(As<std::uint8_t>(s), As<std::uint8_t>(d), n, 0); },
     true},
    {"MulByte",
     [](void* s, void* d, std::int32_t n)
     { return VecMulByte(As<std::uint8_t>(s), As<std::uint8_t>(d), n, 0); },
     true},
    {"CopyReal",
     [](void* s, void* d, std::int32_t n) { return VecCopyReal(As<double>(s), As<double>(d), n); }, true},
    {"CopyBytes", [](void* s, void* d, std::int32_t n) { return VecCopyBytes(s, d, n); }, true},
    {"MaxReal", [](void* s, void* d, std::int32_t n) { return VecMaxReal(As<double>(s), n, As<double>(d)); },
     true},
    {"MinReal", [](void* s, void* d, std::int32_t n) { return VecMinReal(As<double>(s), n, As<double>(d)); },
     true},
    {"SetInt", [](void*, void* d, std::int32_t n) { return VecSetInt(7, As<std::int32_t>(d), n); }, false},
    {"SetReal", [](void*, void* d, std::int32_t n) { return VecSetReal(7.0, As<double>(d), n); }, false},
    {"SetComplex",
     [](void*, void* d, std::int32_t n) { return VecSetComplex(1.0, 2.0, As<TSLComplex>(d), n); }, false},
    {"SetByte", [](void*, void* d, std::int32_t n) { return VecSetByte(7, As<std::uint8_t>(d), n); }, false},
    {"Jaehne", [](void*, void* d, std::int32_t n) { return VecJaehne(As<double>(d), n, 1.0); }, false},
    {"Zero16", [](void*, void* d, std::int32_t n) { return VecZero16(As<std::int16_t>(d), n); }, false},
    {"ZeroReal", [](void*, void* d, std::int32_t n) { return VecZeroReal(As<double>(d), n); }, false},
    {"ZeroComplex", [](void*, void* d, std::int32_t n) { return VecZeroComplex(As<TSLComplex>(d), n); },
     false},
    {"ZeroBytes", [](void*, void* d, std::int32_t n) { return VecZeroBytes(d, n); }, false},
};

INSTANTIATE_TEST_SUITE_P(AllTableKernels, SLVecKernelsCheckTest, ::testing::ValuesIn(kCheckCases),
                         [](const auto& testCase) { return testCase.param.Name; });

// Integer and byte kernels on single elements: saturation and half-to-even rounding at the edges.
struct TScaleCase
{
    std::string Name;
    std::int64_t (*Apply)(std::int64_t dst, std::int64_t src, std::int32_t sf);
    std::int64_t Dst;
    std::int64_t Src;
    std::int32_t Sf;
    std::int64_t Expected;
};

class SLVecKernelsScaleTest : public ::testing::TestWithParam<TScaleCase>
{
};

template <auto Kernel, typename T>
std::int64_t ApplyOne(std::int64_t dst, std::int64_t src, std::int32_t sf)
{
    T d = static_cast<T>(dst);
    const T s = static_cast<T>(src);
    EXPECT_EQ(Kernel(&s, &d, 1, sf), kVecOk);
    return d;
}

constexpr auto kAddByte = &ApplyOne<&VecAddByte, std::uint8_t>;
constexpr auto kSubByte = &ApplyOne<&VecSubByte, std::uint8_t>;
constexpr auto kMulByte = &ApplyOne<&VecMulByte, std::uint8_t>;
constexpr auto kAddInt = &ApplyOne<&VecAddInt, std::int32_t>;
constexpr auto kSubInt = &ApplyOne<&VecSubInt, std::int32_t>;
constexpr auto kMulInt = &ApplyOne<&VecMulInt, std::int32_t>;

TEST_P(SLVecKernelsScaleTest, GivesTheScaledRoundedSaturatedResult)
{
    const TScaleCase& c = GetParam();
    EXPECT_EQ(c.Apply(c.Dst, c.Src, c.Sf), c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, SLVecKernelsScaleTest,
    ::testing::Values(TScaleCase{"AddByteSaturatesHigh", kAddByte, 200, 100, 0, 255},
                      TScaleCase{"AddByteOneAndAHalfRoundsUp", kAddByte, 3, 0, 1, 2},
                      TScaleCase{"AddByteTwoAndAHalfRoundsDown", kAddByte, 5, 0, 1, 2},
                      TScaleCase{"AddByteAHalfRoundsToZero", kAddByte, 1, 0, 1, 0},
                      TScaleCase{"AddByteBelowAHalfRoundsDown", kAddByte, 7, 0, 2, 2},
                      TScaleCase{"AddByteNegativeSfSaturates", kAddByte, 100, 100, -1, 255},
                      TScaleCase{"AddByteNegativeSfDoubles", kAddByte, 60, 3, -1, 126},
                      TScaleCase{"SubByteClampsAtZero", kSubByte, 3, 5, 0, 0},
                      TScaleCase{"SubByteNegativeSfOnClampedZero", kSubByte, 3, 5, -40, 0},
                      TScaleCase{"SubByteNegativeSf", kSubByte, 5, 3, -1, 4},
                      TScaleCase{"MulByteSaturates", kMulByte, 16, 16, 0, 255},
                      TScaleCase{"MulByteScalesTheFullProduct", kMulByte, 16, 16, 8, 1},
                      TScaleCase{"MulByteLargestProductRoundsUp", kMulByte, 255, 255, 16, 1},
                      TScaleCase{"MulByteLargeSfIsZero", kMulByte, 255, 255, 64, 0},
                      TScaleCase{"AddIntSaturatesHigh", kAddInt, kIntMax, 1, 0, kIntMax},
                      TScaleCase{"AddIntSaturatesLow", kAddInt, kIntMin, -1, 0, kIntMin},
                      TScaleCase{"AddIntSumBeyondRangeScalesBack", kAddInt, kIntMax, kIntMax, 1, kIntMax},
                      TScaleCase{"AddIntNegativeSumBeyondRangeScalesBack", kAddInt, kIntMin, kIntMin, 1,
                                 kIntMin},
                      TScaleCase{"AddIntNegativeHalfRoundsToEven", kAddInt, -3, 0, 1, -2},
                      TScaleCase{"AddIntNegativeTwoAndAHalfRoundsToEven", kAddInt, -5, 0, 1, -2},
                      TScaleCase{"AddIntMinusAHalfRoundsToZero", kAddInt, -1, 0, 1, 0},
                      TScaleCase{"AddIntSf63IsZero", kAddInt, kIntMax, kIntMax, 63, 0},
                      TScaleCase{"AddIntSf64IsZero", kAddInt, kIntMax, kIntMax, 64, 0},
                      TScaleCase{"AddIntLargestSfIsZero", kAddInt, kIntMin, kIntMin, kIntMax, 0},
                      TScaleCase{"AddIntSfMinus31Saturates", kAddInt, 1, 0, -31, kIntMax},
                      TScaleCase{"AddIntSfMinus31ReachesIntMin", kAddInt, -1, 0, -31, kIntMin},
                      TScaleCase{"AddIntSfMinus30Fits", kAddInt, -2, 0, -30, kIntMin},
                      TScaleCase{"AddIntSfMinus64SaturatesPositive", kAddInt, 1, 0, -64, kIntMax},
                      TScaleCase{"AddIntSfMinus64SaturatesNegative", kAddInt, -1, 0, -64, kIntMin},
                      TScaleCase{"AddIntSmallestSfSaturates", kAddInt, -1, 0, kIntMin, kIntMin},
                      TScaleCase{"AddIntZeroStaysZeroForAnySf", kAddInt, 0, 0, kIntMin, 0},
                      TScaleCase{"SubIntSaturatesLow", kSubInt, kIntMin, 1, 0, kIntMin},
                      TScaleCase{"SubIntSaturatesHigh", kSubInt, kIntMax, -1, 0, kIntMax},
                      TScaleCase{"SubIntNegatingIntMinSaturates", kSubInt, 0, kIntMin, 0, kIntMax},
                      TScaleCase{"MulIntSaturatesThe64BitProduct", kMulInt, 65536, 65536, 0, kIntMax},
                      TScaleCase{"MulIntScalesThe64BitProduct", kMulInt, 65536, 65536, 16, 65536},
                      TScaleCase{"MulIntJustAboveRangeSaturates", kMulInt, 46341, 46341, 0, kIntMax},
                      TScaleCase{"MulIntLargeProductScalesExactly", kMulInt, 100000, 100000, 8, 39062500},
                      TScaleCase{"MulIntHalfRoundsToEven", kMulInt, 3, 5, 1, 8},
                      TScaleCase{"MulIntNegativeSaturatesLow", kMulInt, kIntMax, -2, 0, kIntMin},
                      TScaleCase{"MulIntLargestProductSf62", kMulInt, kIntMin, kIntMin, 62, 1},
                      TScaleCase{"MulIntLargestProductSf63IsAHalfToZero", kMulInt, kIntMin, kIntMin, 63, 0},
                      TScaleCase{"MulIntMostNegativeProductSf62", kMulInt, kIntMin, kIntMax, 62, -1}),
    [](const auto& testCase) { return testCase.param.Name; });

// Sweep of the scale rule over whole arrays against ReferenceScale.
struct TSweepCase
{
    std::string Name;
    bool Byte;
    std::int32_t (*IntKernel)(const std::int32_t*, std::int32_t*, std::int32_t, std::int32_t);
    std::int32_t (*ByteKernel)(const std::uint8_t*, std::uint8_t*, std::int32_t, std::int32_t);
    std::int64_t (*Exact)(std::int64_t dst, std::int64_t src);
};

class SLVecKernelsSweepTest : public SLVecKernelsTest, public ::testing::WithParamInterface<TSweepCase>
{
protected:
    static std::vector<std::int32_t> ScaleFactors()
    {
        std::vector<std::int32_t> sfs;
        for (std::int32_t sf = -40; sf <= 40; ++sf)
            sfs.push_back(sf);
        for (std::int32_t sf : {-100, -64, -63, -62, -33, -32, 61, 62, 63, 64, 65, 100, kIntMin, kIntMax})
            sfs.push_back(sf);
        return sfs;
    }
    static std::vector<std::int32_t> IntValues()
    {
        std::vector<std::int32_t> v{0,       1,          -1,      2,           -2,      3,
                                    -3,      5,          7,       255,         256,     -256,
                                    65535,   65536,      -65536,  46340,       46341,   -46341,
                                    1 << 30, -(1 << 30), kIntMax, kIntMax - 1, kIntMin, kIntMin + 1};
        std::mt19937 random(20240601);
        for (int i = 0; i < 60; ++i)
            v.push_back(static_cast<std::int32_t>(random()));
        return v;
    }
};

TEST_P(SLVecKernelsSweepTest, MatchesAnIndependentReferenceOverValuesAndScaleFactors)
{
    const TSweepCase& c = GetParam();
    std::vector<std::int64_t> dstValues;
    std::vector<std::int64_t> srcValues;
    if (c.Byte)
    {
        for (int d = 0; d < 256; ++d)
            for (int s = 0; s < 256; ++s)
            {
                dstValues.push_back(d);
                srcValues.push_back(s);
            }
    }
    else
    {
        for (std::int32_t d : IntValues())
            for (std::int32_t s : IntValues())
            {
                dstValues.push_back(d);
                srcValues.push_back(s);
            }
    }
    const auto n = static_cast<std::int32_t>(dstValues.size());
    const long double lo = c.Byte ? 0.0L : kIntMin;
    const long double hi = c.Byte ? 255.0L : kIntMax;
    for (std::int32_t sf : ScaleFactors())
    {
        std::vector<std::int64_t> got(dstValues.size());
        if (c.Byte)
        {
            std::vector<std::uint8_t> dst(dstValues.begin(), dstValues.end());
            const std::vector<std::uint8_t> src(srcValues.begin(), srcValues.end());
            ASSERT_EQ(c.ByteKernel(src.data(), dst.data(), n, sf), kVecOk);
            std::copy(dst.begin(), dst.end(), got.begin());
        }
        else
        {
            std::vector<std::int32_t> dst(dstValues.begin(), dstValues.end());
            const std::vector<std::int32_t> src(srcValues.begin(), srcValues.end());
            ASSERT_EQ(c.IntKernel(src.data(), dst.data(), n, sf), kVecOk);
            std::copy(dst.begin(), dst.end(), got.begin());
        }
        for (std::size_t i = 0; i < got.size(); ++i)
        {
            const auto exact = static_cast<long double>(c.Exact(dstValues[i], srcValues[i]));
            ASSERT_EQ(got[i], ReferenceScale(exact, sf, lo, hi))
                << "dst " << dstValues[i] << " src " << srcValues[i] << " sf " << sf;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(IntAndByteKernels, SLVecKernelsSweepTest,
                         ::testing::Values(TSweepCase{"AddInt", false, &VecAddInt, nullptr,
                                                      [](std::int64_t d, std::int64_t s) { return d + s; }},
                                           TSweepCase{"SubInt", false, &VecSubInt, nullptr,
                                                      [](std::int64_t d, std::int64_t s) { return d - s; }},
                                           TSweepCase{"MulInt", false, &VecMulInt, nullptr,
                                                      [](std::int64_t d, std::int64_t s) { return d * s; }},
                                           TSweepCase{"AddByte", true, nullptr, &VecAddByte,
                                                      [](std::int64_t d, std::int64_t s) { return d + s; }},
                                           TSweepCase{"SubByte", true, nullptr, &VecSubByte,
                                                      [](std::int64_t d, std::int64_t s)
                                                      { return std::max<std::int64_t>(d - s, 0); }},
                                           TSweepCase{"MulByte", true, nullptr, &VecMulByte,
                                                      [](std::int64_t d, std::int64_t s) { return d * s; }}),
                         [](const auto& testCase) { return testCase.param.Name; });

// Integer division: floating-point quotient, an exact half toward zero, saturation, zero divisors.
struct TDivIntCase
{
    std::string Name;
    std::int32_t Dst;
    std::int32_t Src;
    std::int32_t Sf;
    std::int32_t Expected;
    std::int32_t Status;
};

class SLVecKernelsDivIntTest : public ::testing::TestWithParam<TDivIntCase>
{
};

TEST_P(SLVecKernelsDivIntTest, RoundsAHalfTowardZeroAndSaturates)
{
    const TDivIntCase& c = GetParam();
    std::int32_t dst = c.Dst;
    EXPECT_EQ(VecDivInt(&c.Src, &dst, 1, c.Sf), c.Status);
    EXPECT_EQ(dst, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SLVecKernelsDivIntTest,
    ::testing::Values(TDivIntCase{"SevenByThree", 7, 3, 0, 2, kVecOk},
                      TDivIntCase{"MinusEightByThree", -8, 3, 0, -3, kVecOk},
                      TDivIntCase{"SevenByTwoHalfTowardZero", 7, 2, 0, 3, kVecOk},
                      TDivIntCase{"MinusSevenByTwoHalfTowardZero", -7, 2, 0, -3, kVecOk},
                      TDivIntCase{"SevenByMinusTwoHalfTowardZero", 7, -2, 0, -3, kVecOk},
                      TDivIntCase{"JustAboveAHalfRoundsAway", 2 * 1000001 + 1, 2000000, 0, 1, kVecOk},
                      TDivIntCase{"HalfAfterSf", 7, 1, 1, 3, kVecOk},
                      TDivIntCase{"NegativeSfMultiplies", 7, 2, -1, 7, kVecOk},
                      TDivIntCase{"IntMinByMinusOneSaturates", kIntMin, -1, 0, kIntMax, kVecOk},
                      TDivIntCase{"IntMaxByOneStays", kIntMax, 1, 0, kIntMax, kVecOk},
                      TDivIntCase{"IntMinByOneStays", kIntMin, 1, 0, kIntMin, kVecOk},
                      TDivIntCase{"LargestSfIsZero", kIntMax, 1, kIntMax, 0, kVecOk},
                      TDivIntCase{"Sf31HalfOfIntMinIsZero", kIntMin, 1, 32, 0, kVecOk},
                      TDivIntCase{"SmallestSfSaturates", 1, 1, kIntMin, kIntMax, kVecOk},
                      TDivIntCase{"SmallestSfSaturatesNegative", -1, 1, kIntMin, kIntMin, kVecOk},
                      TDivIntCase{"ZeroDividendStaysZeroForAnySf", 0, 5, kIntMin, 0, kVecOk},
                      TDivIntCase{"OneByZero", 1, 0, 0, kIntMax, kVecDivisionByZero},
                      TDivIntCase{"MinusOneByZero", -1, 0, 0, kIntMin, kVecDivisionByZero},
                      TDivIntCase{"ZeroByZero", 0, 0, 0, 0, kVecDivisionByZero},
                      TDivIntCase{"ByZeroIgnoresSf", 1, 0, 40, kIntMax, kVecDivisionByZero}),
    [](const auto& testCase) { return testCase.param.Name; });

// Exact integer reference for the division, valid for |sf| <= 31 where every intermediate fits 64 bits.
std::int64_t ReferenceDivide(std::int64_t a, std::int64_t b, std::int32_t sf)
{
    std::int64_t num = a;
    std::int64_t den = b;
    if (sf >= 0)
        den *= std::int64_t{1} << sf;
    else
        num *= std::int64_t{1} << -sf;
    std::int64_t q = num / den;
    const std::int64_t rem = num % den;
    if (2 * std::abs(rem) > std::abs(den))
        q += ((num < 0) == (den < 0)) ? 1 : -1;
    return std::clamp<std::int64_t>(q, kIntMin, kIntMax);
}

TEST_F(SLVecKernelsTest, DivIntMatchesExactIntegerDivisionOverASweep)
{
    std::vector<std::int32_t> values{1,  -1,  2,     -2,    3,       -3,      7,          -7,
                                     10, 255, 65536, 46341, kIntMax, kIntMin, kIntMin + 1};
    std::mt19937 random(7);
    for (int i = 0; i < 40; ++i)
        values.push_back(static_cast<std::int32_t>(random()) >> (i % 31));
    for (std::int32_t sf = -31; sf <= 31; ++sf)
        for (std::int32_t a : values)
        {
            std::vector<std::int32_t> dst(values.size(), a);
            ASSERT_EQ(VecDivInt(values.data(), dst.data(), static_cast<std::int32_t>(values.size()), sf),
                      kVecOk);
            for (std::size_t i = 0; i < values.size(); ++i)
                ASSERT_EQ(dst[i], ReferenceDivide(a, values[i], sf))
                    << a << " / " << values[i] << " sf " << sf;
        }
}

TEST_F(SLVecKernelsTest, DivIntReportsAZeroDivisorAnywhereAndStillDividesTheRest)
{
    const std::array<std::int32_t, 4> src{2, 3, 0, 4};
    std::array<std::int32_t, 4> dst{9, 9, 9, 9};
    EXPECT_EQ(VecDivInt(src.data(), dst.data(), 4, 0), kVecDivisionByZero);
    EXPECT_EQ(dst, (std::array<std::int32_t, 4>{4, 3, kIntMax, 2}));
}

TEST_F(SLVecKernelsTest, DivRealGivesSignedInfinitiesAndTheDivisionNaNForZeroDivisors)
{
    const std::array<double, 6> src{0.0, 0.0, 0.0, -0.0, kNaN, 4.0};
    std::array<double, 6> dst{1.0, -1.0, 0.0, 1.0, -2.0, 1.0};
    EXPECT_EQ(VecDivReal(src.data(), dst.data(), 6), kVecDivisionByZero);
    EXPECT_EQ(dst[0], kInf);
    EXPECT_EQ(dst[1], -kInf);
    EXPECT_EQ(Bits(dst[2]), kDivisionNaNBits);
    EXPECT_EQ(dst[3], kInf);   // by the dividend's sign, not the negative zero's
    EXPECT_EQ(dst[4], -kInf);
    EXPECT_EQ(dst[5], 0.25);
}

TEST_F(SLVecKernelsTest, DivRealReplacesANaNDividendOverZeroByTheDivisionNaN)
{
    const double src = 0.0;
    double dst = std::bit_cast<double>(std::uint64_t{0x7FF8000000000123});
    EXPECT_EQ(VecDivReal(&src, &dst, 1), kVecDivisionByZero);
    EXPECT_EQ(Bits(dst), kDivisionNaNBits);
}

TEST_F(SLVecKernelsTest, DivRealWithoutZeroDivisorsReportsSuccess)
{
    const std::array<double, 2> src{3.0, -0.5};
    std::array<double, 2> dst{1.0, 2.0};
    EXPECT_EQ(VecDivReal(src.data(), dst.data(), 2), kVecOk);
    EXPECT_EQ(dst[0], 1.0 / 3.0);
    EXPECT_EQ(dst[1], -4.0);
}

TEST_F(SLVecKernelsTest, RealArithmeticRoundsOnceFromExtendedPrecision)
{
    if (std::numeric_limits<long double>::digits != 64)
        GTEST_SKIP() << "needs the 64-bit-mantissa long double of x86";
    // 1 + (2^-53 + 2^-78): a direct double sum rounds up to 1 + 2^-52; through the 64-bit mantissa it
    // first becomes 1 + 2^-53, an exact tie, which then goes to the even 1.
    const double small = std::ldexp(1.0, -53) + std::ldexp(1.0, -78);
    ASSERT_NE(1.0 + small, 1.0);
    double sum = 1.0;
    EXPECT_EQ(VecAddReal(&small, &sum, 1), kVecOk);
    EXPECT_EQ(sum, 1.0);
    const double negative = -small;
    double difference = 1.0;
    EXPECT_EQ(VecSubReal(&negative, &difference, 1), kVecOk);
    EXPECT_EQ(difference, 1.0);
}

TEST_F(SLVecKernelsTest, RealKernelsWorkElementwise)
{
    const std::array<double, 3> src{1.5, -2.0, 0.25};
    std::array<double, 3> sum{1.0, 1.0, 1.0};
    std::array<double, 3> difference{1.0, 1.0, 1.0};
    std::array<double, 3> product{2.0, 3.0, 4.0};
    EXPECT_EQ(VecAddReal(src.data(), sum.data(), 3), kVecOk);
    EXPECT_EQ(VecSubReal(src.data(), difference.data(), 3), kVecOk);
    EXPECT_EQ(VecMulReal(src.data(), product.data(), 3), kVecOk);
    EXPECT_EQ(sum, (std::array<double, 3>{2.5, -1.0, 1.25}));
    EXPECT_EQ(difference, (std::array<double, 3>{-0.5, 3.0, 0.75}));
    EXPECT_EQ(product, (std::array<double, 3>{3.0, -6.0, 1.0}));
}

TEST_F(SLVecKernelsTest, AddConstRealWithZeroLeavesEveryBitPattern)
{
    const std::array<std::uint64_t, 4> patterns{0x7FF0000000000001,   // signalling NaN
                                                0x7FF8000000000ABC, 0x8000000000000000, 0x3FF0000000000000};
    std::array<double, 4> dst{};
    for (std::size_t i = 0; i < dst.size(); ++i)
        dst[i] = std::bit_cast<double>(patterns[i]);
    EXPECT_EQ(VecAddConstReal(0.0, dst.data(), 4), kVecOk);
    EXPECT_EQ(VecAddConstReal(-0.0, dst.data(), 4), kVecOk);
    for (std::size_t i = 0; i < dst.size(); ++i)
        EXPECT_EQ(Bits(dst[i]), patterns[i]) << i;
    EXPECT_EQ(VecAddConstReal(0.5, dst.data(), 4), kVecOk);
    EXPECT_EQ(dst[2], 0.5);
    EXPECT_EQ(dst[3], 1.5);
}

TEST_F(SLVecKernelsTest, ComplexKernelsMultiplyAndDivideAsComplexNumbers)
{
    const std::array<TSLComplex, 2> src{{{3.0, 4.0}, {0.0, 1.0}}};
    std::array<TSLComplex, 2> dst{{{1.0, 2.0}, {0.0, 1.0}}};
    EXPECT_EQ(VecMulComplex(src.data(), dst.data(), 2), kVecOk);
    EXPECT_EQ(dst[0].Re, -5.0);
    EXPECT_EQ(dst[0].Im, 10.0);
    EXPECT_EQ(dst[1].Re, -1.0);   // i x i
    EXPECT_EQ(dst[1].Im, 0.0);
    EXPECT_EQ(VecDivComplex(src.data(), dst.data(), 2), kVecOk);
    EXPECT_EQ(dst[0].Re, 1.0);
    EXPECT_EQ(dst[0].Im, 2.0);
    EXPECT_EQ(dst[1].Re, 0.0);
    EXPECT_EQ(dst[1].Im, 1.0);
    EXPECT_EQ(VecAddComplex(src.data(), dst.data(), 2), kVecOk);
    EXPECT_EQ(dst[0].Re, 4.0);
    EXPECT_EQ(dst[0].Im, 6.0);
    EXPECT_EQ(dst[1].Im, 2.0);
}

TEST_F(SLVecKernelsTest, ComplexKernelsAllowTheSameArrayAsSourceAndDestination)
{
    std::array<TSLComplex, 1> z{{{1.0, 2.0}}};
    EXPECT_EQ(VecMulComplex(z.data(), z.data(), 1), kVecOk);
    EXPECT_EQ(z[0].Re, -3.0);
    EXPECT_EQ(z[0].Im, 4.0);
    EXPECT_EQ(VecDivComplex(z.data(), z.data(), 1), kVecOk);
    EXPECT_EQ(z[0].Re, 1.0);
    EXPECT_EQ(z[0].Im, 0.0);
}

TEST_F(SLVecKernelsTest, DivComplexByZeroSetsEachPartByItsOwnDividendPart)
{
    const std::array<TSLComplex, 3> src{{{0.0, 0.0}, {0.0, -0.0}, {kNaN, 1.0}}};
    std::array<TSLComplex, 3> dst{{{1.0, -2.0}, {0.0, 3.0}, {-1.0, 0.0}}};
    EXPECT_EQ(VecDivComplex(src.data(), dst.data(), 3), kVecDivisionByZero);
    EXPECT_EQ(dst[0].Re, kInf);
    EXPECT_EQ(dst[0].Im, -kInf);
    EXPECT_EQ(Bits(dst[1].Re), kDivisionNaNBits);
    EXPECT_EQ(dst[1].Im, kInf);
    EXPECT_EQ(dst[2].Re, -kInf);
    EXPECT_EQ(Bits(dst[2].Im), kDivisionNaNBits);
}

TEST_F(SLVecKernelsTest, DivComplexKeepsHugeAndTinyDivisorsOutOfTheZeroCase)
{
    // In double arithmetic m = |s|^2 would overflow to infinity or underflow to zero here.
    const std::array<TSLComplex, 2> src{{{1e200, 1e200}, {1e-200, 0.0}}};
    std::array<TSLComplex, 2> dst{{{1e200, 1e200}, {3e-200, -1e-200}}};
    EXPECT_EQ(VecDivComplex(src.data(), dst.data(), 2), kVecOk);
    EXPECT_DOUBLE_EQ(dst[0].Re, 1.0);
    EXPECT_EQ(dst[0].Im, 0.0);
    EXPECT_DOUBLE_EQ(dst[1].Re, 3.0);
    EXPECT_DOUBLE_EQ(dst[1].Im, -1.0);
}

// Extremes with their not-a-number rules: the maximum keeps what it has against a NaN, the minimum takes it.
struct TExtremeCase
{
    std::string Name;
    bool Max;
    std::vector<double> Values;
    std::uint64_t ExpectedBits;
};

class SLVecKernelsExtremeTest : public ::testing::TestWithParam<TExtremeCase>
{
};

TEST_P(SLVecKernelsExtremeTest, FollowsTheComparisonOrder)
{
    const TExtremeCase& c = GetParam();
    double result = 12345.0;
    const auto n = static_cast<std::int32_t>(c.Values.size());
    EXPECT_EQ(c.Max ? VecMaxReal(c.Values.data(), n, &result) : VecMinReal(c.Values.data(), n, &result),
              kVecOk);
    EXPECT_EQ(Bits(result), c.ExpectedBits) << result;
}

const std::uint64_t kNaNBits = Bits(std::numeric_limits<double>::quiet_NaN());

INSTANTIATE_TEST_SUITE_P(
    MinAndMax, SLVecKernelsExtremeTest,
    ::testing::Values(TExtremeCase{"MaxOfOne", true, {-2.0}, Bits(-2.0)},
                      TExtremeCase{"MaxPlain", true, {1.0, 5.0, -3.0, 4.0}, Bits(5.0)},
                      TExtremeCase{"MaxSkipsANaNElement", true, {1.0, kNaN, 3.0, 2.0}, Bits(3.0)},
                      TExtremeCase{"MaxKeepsALeadingNaN", true, {kNaN, 1.0, 2.0}, kNaNBits},
                      TExtremeCase{"MaxKeepsTheFirstOfEqualZeros", true, {0.0, -0.0}, Bits(0.0)},
                      TExtremeCase{"MinOfOne", false, {7.0}, Bits(7.0)},
                      TExtremeCase{"MinPlain", false, {1.0, 5.0, -3.0, 4.0}, Bits(-3.0)},
                      TExtremeCase{"MinTakesATrailingNaN", false, {1.0, 3.0, kNaN}, kNaNBits},
                      TExtremeCase{"MinMovesOnFromANaN", false, {1.0, kNaN, 3.0}, Bits(3.0)},
                      TExtremeCase{"MinMovesOnFromALeadingNaN", false, {kNaN, 2.0, 1.0}, Bits(1.0)},
                      TExtremeCase{"MinKeepsTheFirstOfEqualZeros", false, {0.0, -0.0}, Bits(0.0)}),
    [](const auto& testCase) { return testCase.param.Name; });

TEST_F(SLVecKernelsTest, JaehneWithOneElementWritesZero)
{
    double dst = 99.0;
    EXPECT_EQ(VecJaehne(&dst, 1, kInf), kVecOk);   // zero even where magnitude x sin(0) is not a number
    EXPECT_EQ(Bits(dst), Bits(0.0));
}

TEST_F(SLVecKernelsTest, JaehneRefusesANegativeMagnitudeAfterPointerAndCount)
{
    std::array<double, 4> dst{9.0, 9.0, 9.0, 9.0};
    EXPECT_EQ(VecJaehne(dst.data(), 4, -1.0), kVecBadJaehneMagnitude);
    EXPECT_EQ(VecJaehne(dst.data(), 0, -1.0), kVecBadCount);
    EXPECT_EQ(VecJaehne(nullptr, 0, -1.0), kVecNullPointer);
    EXPECT_EQ(dst, (std::array<double, 4>{9.0, 9.0, 9.0, 9.0}));
}

TEST_F(SLVecKernelsTest, JaehneSweepsTheChirpFromZero)
{
    constexpr std::int32_t n = 1024;
    constexpr double magnitude = 2.5;
    std::vector<double> dst(n, 99.0);
    ASSERT_EQ(VecJaehne(dst.data(), n, magnitude), kVecOk);
    EXPECT_EQ(dst[0], 0.0);
    EXPECT_EQ(dst[32], magnitude);   // 32 x 32 / 1024 = 1: the argument is exactly pi / 2
    for (std::int32_t k = 0; k < n; ++k)
    {
        // Formed the other way round; the argument reaches about 1600 rad, so allow its rounding.
        const long double arg = std::numbers::pi_v<long double> * k * k / (2.0L * n);
        EXPECT_NEAR(dst[k], magnitude * std::sin(arg), 1e-12) << k;
    }
}

TEST_F(SLVecKernelsTest, ByteFillsAndClearsWriteExactlyTheirCountAtAnyOffset)
{
    for (std::int32_t offset = 0; offset < 8; ++offset)
        for (std::int32_t count = 1; count <= 70; ++count)
        {
            std::array<std::uint8_t, 96> bytes;
            bytes.fill(0xEE);
            ASSERT_EQ(VecSetByte(0x11, bytes.data() + offset, count), kVecOk);
            for (std::int32_t i = 0; i < 96; ++i)
                ASSERT_EQ(bytes[i], i >= offset && i < offset + count ? 0x11 : 0xEE)
                    << offset << " " << count;
            ASSERT_EQ(VecZeroBytes(bytes.data() + offset, count), kVecOk);
            for (std::int32_t i = 0; i < 96; ++i)
                ASSERT_EQ(bytes[i], i >= offset && i < offset + count ? 0x00 : 0xEE)
                    << offset << " " << count;
        }
}

TEST_F(SLVecKernelsTest, TypedFillsAndClearsCoverWholeElements)
{
    std::array<std::int32_t, 6> ints{-1, -1, -1, -1, -1, -1};
    EXPECT_EQ(VecSetInt(-7, ints.data() + 1, 4), kVecOk);
    EXPECT_EQ(ints, (std::array<std::int32_t, 6>{-1, -7, -7, -7, -7, -1}));
    // Two 16-bit clears per int: the callers' way of clearing ints.
    EXPECT_EQ(VecZero16(reinterpret_cast<std::int16_t*>(ints.data() + 2), 2 * 2), kVecOk);
    EXPECT_EQ(ints, (std::array<std::int32_t, 6>{-1, -7, 0, 0, -7, -1}));

    std::array<double, 4> reals{1.0, 1.0, 1.0, 1.0};
    EXPECT_EQ(VecSetReal(-0.0, reals.data(), 3), kVecOk);
    EXPECT_EQ(Bits(reals[2]), Bits(-0.0));
    EXPECT_EQ(VecZeroReal(reals.data() + 1, 2), kVecOk);
    EXPECT_EQ(Bits(reals[0]), Bits(-0.0));
    EXPECT_EQ(Bits(reals[1]), Bits(0.0));
    EXPECT_EQ(Bits(reals[2]), Bits(0.0));
    EXPECT_EQ(reals[3], 1.0);

    std::array<TSLComplex, 3> complexes{};
    EXPECT_EQ(VecSetComplex(1.5, -2.5, complexes.data(), 3), kVecOk);
    EXPECT_EQ(VecZeroComplex(complexes.data() + 2, 1), kVecOk);
    EXPECT_EQ(complexes[1].Re, 1.5);
    EXPECT_EQ(complexes[1].Im, -2.5);
    EXPECT_EQ(complexes[2].Re, 0.0);
    EXPECT_EQ(complexes[2].Im, 0.0);
}

TEST_F(SLVecKernelsTest, CopiesAllowOverlapInEitherDirection)
{
    std::array<std::uint8_t, 10> bytes{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(VecCopyBytes(bytes.data(), bytes.data() + 2, 6), kVecOk);
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 10>{0, 1, 0, 1, 2, 3, 4, 5, 8, 9}));
    EXPECT_EQ(VecCopyBytes(bytes.data() + 3, bytes.data(), 5), kVecOk);
    EXPECT_EQ(bytes, (std::array<std::uint8_t, 10>{1, 2, 3, 4, 5, 3, 4, 5, 8, 9}));

    std::array<double, 5> reals{0.5, 1.5, 2.5, 3.5, 4.5};
    EXPECT_EQ(VecCopyReal(reals.data(), reals.data() + 1, 4), kVecOk);
    EXPECT_EQ(reals, (std::array<double, 5>{0.5, 0.5, 1.5, 2.5, 3.5}));
}

TEST_F(SLVecKernelsTest, AlignedAllocRefusesSizesBelowOne)
{
    EXPECT_EQ(AlignedAlloc(0), nullptr);
    EXPECT_EQ(AlignedAlloc(-1), nullptr);
    EXPECT_EQ(AlignedAlloc(kIntMin), nullptr);
    AlignedFree(nullptr);   // the pair a caller runs for a refused size
}

TEST_F(SLVecKernelsTest, AlignedAllocGivesSeparateWritable32ByteAlignedBlocks)
{
    std::vector<std::pair<std::uint8_t*, std::int32_t>> blocks;
    for (std::int32_t size = 1; size <= 300; ++size)
        blocks.emplace_back(static_cast<std::uint8_t*>(AlignedAlloc(size)), size);
    blocks.emplace_back(static_cast<std::uint8_t*>(AlignedAlloc(1 << 20)), 1 << 20);
    // Every block is filled before any is checked, so overlapping blocks or a slot inside a neighbour show.
    for (auto& [p, size] : blocks)
    {
        ASSERT_NE(p, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 32, 0u) << size;
        std::memset(p, size & 0xFF, static_cast<std::size_t>(size));
    }
    for (auto& [p, size] : blocks)
    {
        const auto expected = static_cast<std::uint8_t>(size & 0xFF);
        EXPECT_TRUE(std::all_of(p, p + size, [&](std::uint8_t b) { return b == expected; })) << size;
        AlignedFree(p);
    }
}

}   // namespace
}   // namespace harvolin
