#include "buffers/ALSampleConvert.h"
#include "rtl/Rounding.h"
#include <array>
#include <cfenv>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <vector>

namespace harvolin
{
namespace
{

class ALSampleConvertTest : public ::testing::Test
{
protected:
    template <class T>
    static std::vector<std::uint8_t> Bytes(const std::vector<T>& samples)
    {
        std::vector<std::uint8_t> bytes(samples.size() * sizeof(T));
        std::memcpy(bytes.data(), samples.data(), bytes.size());
        return bytes;
    }
    template <class T>
    static std::vector<T> Samples(const std::vector<std::uint8_t>& bytes)
    {
        std::vector<T> samples(bytes.size() / sizeof(T));
        std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(T));
        return samples;
    }
    // 16-bit element := element op source over n contiguous samples; the resulting samples and status.
    static std::pair<std::vector<std::int16_t>, std::int32_t>
    Kernel16(decltype(&RegAdd16) kernel, std::vector<std::int16_t> d, const std::vector<std::int16_t>& s)
    {
        const auto n = static_cast<std::int32_t>(d.size());
        const std::int32_t status = kernel(s.data(), 2 * n, d.data(), 2 * n, n, 1, 0);
        return {d, status};
    }
};

TEST_F(ALSampleConvertTest, SixteenBitKernelsSaturateAndDivideHalvesToEven)
{
    EXPECT_EQ(Kernel16(&RegAdd16, {30000, -30000, 5}, {10000, -10000, 6}).first,
              (std::vector<std::int16_t>{32767, -32768, 11}));
    EXPECT_EQ(Kernel16(&RegSub16, {-30000, 30000}, {10000, -10000}).first,
              (std::vector<std::int16_t>{-32768, 32767}));
    EXPECT_EQ(Kernel16(&RegMul16, {-200, 3}, {200, -4}).first, (std::vector<std::int16_t>{-32768, -12}));
    const auto [quotients, status] = Kernel16(&RegDiv16, {7, 5, -3, 0, 9, -32768}, {2, 2, 0, 0, 0, -1});
    EXPECT_EQ(quotients, (std::vector<std::int16_t>{4, 2, -32768, 0, 32767, 32767}));
    EXPECT_EQ(status, kRegDivisionByZero);
    EXPECT_EQ(Kernel16(&RegDiv16, {7}, {2}).second, kRegOk);
}

TEST_F(ALSampleConvertTest, RoundingIgnoresTheThreadsRoundingMode)
{
    const int mode = std::fegetround();
    std::fesetround(FE_UPWARD);
    const auto [quotients, status] = Kernel16(&RegDiv16, {5, -5}, {2, 2});
    std::fesetround(mode);
    EXPECT_EQ(quotients, (std::vector<std::int16_t>{2, -2}));
    EXPECT_EQ(RoundHalfEven(-0.5), -0.0);
    EXPECT_EQ(RoundHalfEven(1.5), 2.0);
    EXPECT_EQ(RoundHalfEven(2.5000001), 3.0);
}

TEST_F(ALSampleConvertTest, KernelsRefuseBadArgumentsWithTheirStatus)
{
    std::int16_t d[2] = {1, 2};
    EXPECT_EQ(RegAdd16(nullptr, 2, d, 2, 1, 1, 0), kRegNullPointer);
    EXPECT_EQ(RegAdd16(d, 2, d, 2, 0, 1, 0), kRegBadSize);
    EXPECT_EQ(RegAdd16(d, 0, d, 2, 1, 1, 0), kRegBadStep);
    EXPECT_EQ(RegCopyBytes(d, 1, d, 1, 1, 0), kRegBadSize);
    EXPECT_EQ(VecSet16(3, d, 0), kRegBadSize);
    EXPECT_EQ(ScaleSamples(12, 1.0, d, 2, 1), kRegBadSize);
    EXPECT_EQ(ConvertSamples(16, d, 2, 16, d, 2, 1), kRegBadSize);
    EXPECT_EQ(d[0], 1);
    EXPECT_EQ(d[1], 2);
}

TEST_F(ALSampleConvertTest, ARegionCopyFollowsBothSteps)
{
    const std::array<std::uint8_t, 12> src{10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
    std::array<std::uint8_t, 6> dst{};
    ASSERT_EQ(RegCopyBytes(src.data(), 4, dst.data(), 2, 1, 3), kRegOk);
    EXPECT_EQ(dst, (std::array<std::uint8_t, 6>{10, 0, 14, 0, 18, 0}));
}

TEST_F(ALSampleConvertTest, StridedCopiesMoveWholeSamplesOfEachWidth)
{
    // Two interleaved channels of 24-bit samples into a mono column.
    const std::vector<std::uint8_t> stereo{1, 2, 3, 9, 9, 9, 4, 5, 6, 9, 9, 9};
    std::vector<std::uint8_t> mono(6);
    ASSERT_EQ(CopyStrided24(stereo.data(), 6, mono.data(), 3, 2), kRegOk);
    EXPECT_EQ(mono, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
    const std::vector<std::int32_t> wide{-7, 100, 123456789, 5};
    std::vector<std::int32_t> left(2);
    ASSERT_EQ(CopyStrided32(wide.data(), 8, left.data(), 4, 2), kRegOk);
    EXPECT_EQ(left, (std::vector<std::int32_t>{-7, 123456789}));
    const std::vector<std::int16_t> pairs{-1, 2, -3, 4};
    std::vector<std::int16_t> right(2);
    ASSERT_EQ(CopyStrided16(pairs.data() + 1, 4, right.data(), 2, 2), kRegOk);
    EXPECT_EQ(right, (std::vector<std::int16_t>{2, 4}));
}

TEST_F(ALSampleConvertTest, TwentyFourBitSamplesLoadSignExtendedAndStoreWithTheSignBit)
{
    const std::uint8_t negative[3] = {0x00, 0x00, 0x80};
    EXPECT_EQ(Load24(negative), -8388608);
    std::uint8_t stored[3] = {};
    Store24(stored, -1);
    EXPECT_EQ(std::vector<std::uint8_t>(stored, stored + 3), (std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF}));
    Store24(stored, 8388607);
    EXPECT_EQ(Load24(stored), 8388607);
    // A negative value beyond 24 bits keeps its sign.
    Store24(stored, -16777217);
    EXPECT_LT(Load24(stored), 0);
}

TEST_F(ALSampleConvertTest, FillsWriteEverySampleWhateverTheCount)
{
    for (std::int32_t count : {1, 3, 4, 5, 9})
    {
        std::vector<std::uint8_t> three(static_cast<std::size_t>(count) * 3 + 1, 0xEE);
        ASSERT_EQ(Fill24(0x123456, three.data(), count), kRegOk);
        for (std::int32_t i = 0; i < count; ++i)
            EXPECT_EQ(Load24(three.data() + 3 * i), 0x123456) << count << " samples, sample " << i;
        EXPECT_EQ(three.back(), 0xEE) << "wrote past " << count << " samples";
    }
    std::vector<std::int32_t> four(5, 1);
    ASSERT_EQ(Fill32(-123456789, four.data(), 4), kRegOk);
    EXPECT_EQ(four, (std::vector<std::int32_t>{-123456789, -123456789, -123456789, -123456789, 1}));
    ASSERT_EQ(Clear32(four.data(), 5), kRegOk);
    EXPECT_EQ(four, std::vector<std::int32_t>(5, 0));
    std::vector<std::uint8_t> cleared{1, 2, 3, 4, 5, 6, 7};
    ASSERT_EQ(Clear24(cleared.data(), 2), kRegOk);
    EXPECT_EQ(cleared, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 7}));
}

TEST_F(ALSampleConvertTest, EightBitArithmeticWorksAroundTheZeroLevel)
{
    auto combine = [](TSampleOp op, std::uint8_t d, std::uint8_t s)
    {
        Combine8(op, &s, 1, &d, 1, 1);
        return d;
    };
    EXPECT_EQ(combine(TSampleOp::soAdd, 137, 147), 157);
    EXPECT_EQ(combine(TSampleOp::soSubtract, 137, 147), 117);
    EXPECT_EQ(combine(TSampleOp::soMultiply, 130, 129), 133);
    EXPECT_EQ(combine(TSampleOp::soDivide, 137, 129), 132);
    EXPECT_EQ(combine(TSampleOp::soDivide, 117, 129), 122);
    EXPECT_EQ(combine(TSampleOp::soDivide, 200, 127), 127);
}

TEST_F(ALSampleConvertTest, WideArithmeticWrapsAndDividesByZeroToTheLimits)
{
    std::vector<std::uint8_t> d(9), s(9);
    for (auto [i, a, b] : {std::tuple{0, 8388607, 1}, std::tuple{1, -5, 0}, std::tuple{2, 0, 0}})
    {
        Store24(d.data() + 3 * i, a);
        Store24(s.data() + 3 * i, b);
    }
    EXPECT_EQ(Combine24(TSampleOp::soDivide, s.data() + 3, 3, d.data() + 3, 3, 2), kRegDivisionByZero);
    EXPECT_EQ(Load24(d.data() + 3), -8388608);
    EXPECT_EQ(Load24(d.data() + 6), 0);
    ASSERT_EQ(Combine24(TSampleOp::soAdd, s.data(), 3, d.data(), 3, 1), kRegOk);
    EXPECT_EQ(Load24(d.data()), -8388608);   // 8388608 in 24 bits

    std::vector<std::int32_t> a{std::numeric_limits<std::int32_t>::max(),
                                std::numeric_limits<std::int32_t>::min(), 7, 9};
    const std::vector<std::int32_t> b{1, -1, 0, -2};
    ASSERT_EQ(Combine32(TSampleOp::soAdd, b.data(), 4, a.data(), 4, 1), kRegOk);
    EXPECT_EQ(a[0], std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(Combine32(TSampleOp::soDivide, b.data() + 1, 4, a.data() + 1, 4, 3), kRegDivisionByZero);
    EXPECT_EQ(a[1], std::numeric_limits<std::int32_t>::min());
    EXPECT_EQ(a[2], std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(a[3], -4);
}

TEST_F(ALSampleConvertTest, ScalingRoundsHalvesToEvenAndKeepsTheLowBits)
{
    std::vector<std::int16_t> samples{3, 5, -3, 20000};
    ASSERT_EQ(ScaleSamples(16, 0.5, samples.data(), 2, 4), kRegOk);
    EXPECT_EQ(samples, (std::vector<std::int16_t>{2, 2, -2, 10000}));
    std::vector<std::int16_t> loud{20000};
    ScaleSamples(16, 2.0, loud.data(), 2, 1);
    EXPECT_EQ(loud[0], static_cast<std::int16_t>(40000 - 65536));
    std::uint8_t byte = 200;
    ScaleSamples(8, 0.5, &byte, 1, 1);
    EXPECT_EQ(byte, 100);   // the byte itself, not its distance from 127
}

struct TConversionCase
{
    const char* Name;
    std::int32_t From;
    std::int64_t Sample;   // the source value (8 bits: the byte)
    std::int32_t To;
    std::int64_t Expected;   // the destination value (8 bits: the byte)
};

class ALSampleWidthConversionTest : public ::testing::TestWithParam<TConversionCase>
{
};

TEST_P(ALSampleWidthConversionTest, ConvertsWithTruncatingIntegerArithmetic)
{
    const TConversionCase& c = GetParam();
    std::array<std::uint8_t, 4> src{};
    std::array<std::uint8_t, 4> dst{};
    switch (c.From)
    {
    case 8:
        src[0] = static_cast<std::uint8_t>(c.Sample);
        break;
    case 16:
    {
        const auto v = static_cast<std::int16_t>(c.Sample);
        std::memcpy(src.data(), &v, 2);
        break;
    }
    case 24:
        Store24(src.data(), static_cast<std::int32_t>(c.Sample));
        break;
    default:
    {
        const auto v = static_cast<std::int32_t>(c.Sample);
        std::memcpy(src.data(), &v, 4);
    }
    }
    ASSERT_EQ(ConvertSamples(c.From, src.data(), 4, c.To, dst.data(), 4, 1), kRegOk);
    std::int64_t result = 0;
    switch (c.To)
    {
    case 8:
        result = dst[0];
        break;
    case 16:
    {
        std::int16_t v;
        std::memcpy(&v, dst.data(), 2);
        result = v;
        break;
    }
    case 24:
        result = Load24(dst.data());
        break;
    default:
    {
        std::int32_t v;
        std::memcpy(&v, dst.data(), 4);
        result = v;
    }
    }
    EXPECT_EQ(result, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(Widths, ALSampleWidthConversionTest,
                         ::testing::Values(TConversionCase{"ByteZeroLevelTo16", 8, 127, 16, 0},
                                           TConversionCase{"ByteZeroLevelTo32", 8, 127, 32, 0},
                                           TConversionCase{"Byte254To16", 8, 254, 16, 32767},
                                           TConversionCase{"Byte0To16", 8, 0, 16, -32767},
                                           TConversionCase{"Byte255SaturatesAt16", 8, 255, 16, 32767},
                                           TConversionCase{"Byte255SaturatesAt24", 8, 255, 24, 8388607},
                                           TConversionCase{"Byte255SaturatesAt32", 8, 255, 32, 2147483647},
                                           TConversionCase{"Max16To8", 16, 32767, 8, 254},
                                           TConversionCase{"Min16To8", 16, -32768, 8, 0},
                                           TConversionCase{"Half16To24", 16, 16384, 24, 4194431},
                                           TConversionCase{"Max16To32", 16, 32767, 32, 2147483647},
                                           TConversionCase{"Min24To16Truncates", 24, -8388608, 16, -32767},
                                           TConversionCase{"Small24To16Truncates", 24, -255, 16, 0},
                                           TConversionCase{"Max32To24", 32, 2147483647, 24, 8388607},
                                           TConversionCase{"Min32To8", 32, -2147483647 - 1, 8, 0},
                                           TConversionCase{"Max24To8", 24, 8388607, 8, 254}),
                         [](const ::testing::TestParamInfo<TConversionCase>& conversion)
                         { return std::string(conversion.param.Name); });

}   // namespace
}   // namespace harvolin
