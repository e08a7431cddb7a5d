#include "buffers/ALSampleConvert.h"
#include "kernels/SLKernelDispatch.h"
#include "kernels/SLVecKernels.h"
#include "rtl/Rounding.h"
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace harvolin
{
namespace
{

using TByte = std::uint8_t;

// Samples sit wherever the interleaving puts them: loads and stores go through memcpy, never through a
// cast pointer.
template <class T>
T LoadAt(const TByte* p) noexcept
{
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <class T>
void StoreAt(TByte* p, T value) noexcept
{
    std::memcpy(p, &value, sizeof value);
}

std::int32_t CheckRegion(const void* a, const void* b, std::int32_t stepA, std::int32_t stepB,
                         std::int32_t width, std::int32_t height)
{
    if (a == nullptr || b == nullptr)
        return kRegNullPointer;
    if (width < 1 || height < 1)
        return kRegBadSize;
    if (stepA < 1 || stepB < 1)
        return kRegBadStep;
    return kRegOk;
}

// The scaled sample rounded, from which the width keeps the low bits. Saturation stops at +-9.2e18, short of
// the 64-bit ends, and those low bits show it: keep the limit.
std::int64_t RoundScaledSample(double value) noexcept
{
    constexpr double kLimit = 9.2e18;
    return RoundHalfEvenTo<std::int64_t>(std::clamp(value, -kLimit, kLimit));
}

double ApplyScaleFactor(double value, std::int32_t scaleFactor) noexcept
{
    return scaleFactor == 0 ? value : RoundHalfEven(std::ldexp(value, -scaleFactor));
}

std::int32_t CopyBytesGeneric(const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                              std::int32_t width, std::int32_t height)
{
    if (const std::int32_t status = CheckRegion(src, dst, srcStep, dstStep, width, height); status != kRegOk)
        return status;
    const auto* s = static_cast<const TByte*>(src);
    auto* d = static_cast<TByte*>(dst);
    if (srcStep == width && dstStep == width)
    {
        // One run; memmove handles large runs as fast as a split would.
        std::memmove(d, s, static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        return kRegOk;
    }
    for (std::int32_t row = 0; row < height; ++row)
        std::memmove(d + static_cast<std::ptrdiff_t>(row) * dstStep,
                     s + static_cast<std::ptrdiff_t>(row) * srcStep, static_cast<std::size_t>(width));
    return kRegOk;
}

std::int32_t Set16Generic(std::int16_t value, void* dst, std::int32_t count)
{
    if (dst == nullptr)
        return kRegNullPointer;
    if (count < 1)
        return kRegBadSize;
    auto* d = static_cast<TByte*>(dst);
    for (std::int32_t i = 0; i < count; ++i)
        StoreAt(d + 2 * static_cast<std::ptrdiff_t>(i), value);
    return kRegOk;
}

std::int32_t SetRegion16Generic(std::int16_t value, void* dst, std::int32_t step, std::int32_t width,
                                std::int32_t height)
{
    if (const std::int32_t status = CheckRegion(dst, dst, step, step, width, height); status != kRegOk)
        return status;
    auto* d = static_cast<TByte*>(dst);
    for (std::int32_t row = 0; row < height; ++row)
        for (std::int32_t col = 0; col < width; ++col)
            StoreAt(d + static_cast<std::ptrdiff_t>(row) * step + 2 * static_cast<std::ptrdiff_t>(col),
                    value);
    return kRegOk;
}

// The in-place binary 16-bit kernels: combine(element, source) gives the unsaturated result, or sets the
// division warning.
template <class TCombine>
std::int32_t Binary16(const void* src, std::int32_t srcStep, void* srcDst, std::int32_t step,
                      std::int32_t width, std::int32_t height, std::int32_t scaleFactor, TCombine combine)
{
    if (const std::int32_t status = CheckRegion(src, srcDst, srcStep, step, width, height); status != kRegOk)
        return status;
    const auto* s = static_cast<const TByte*>(src);
    auto* d = static_cast<TByte*>(srcDst);
    std::int32_t result = kRegOk;
    for (std::int32_t row = 0; row < height; ++row)
        for (std::int32_t col = 0; col < width; ++col)
        {
            const TByte* sp =
                s + static_cast<std::ptrdiff_t>(row) * srcStep + 2 * static_cast<std::ptrdiff_t>(col);
            TByte* dp = d + static_cast<std::ptrdiff_t>(row) * step + 2 * static_cast<std::ptrdiff_t>(col);
            const double value = combine(LoadAt<std::int16_t>(dp), LoadAt<std::int16_t>(sp), result);
            StoreAt(dp, TruncTo<std::int16_t>(ApplyScaleFactor(value, scaleFactor)));
        }
    return result;
}

using TBinary16 = std::int32_t(const void*, std::int32_t, void*, std::int32_t, std::int32_t, std::int32_t,
                               std::int32_t);

std::int32_t Add16Generic(const void* src, std::int32_t srcStep, void* srcDst, std::int32_t step,
                          std::int32_t width, std::int32_t height, std::int32_t scaleFactor)
{
    return Binary16(src, srcStep, srcDst, step, width, height, scaleFactor,
                    [](std::int16_t d, std::int16_t s, std::int32_t&) { return double(d) + double(s); });
}

std::int32_t Sub16Generic(const void* src, std::int32_t srcStep, void* srcDst, std::int32_t step,
                          std::int32_t width, std::int32_t height, std::int32_t scaleFactor)
{
    return Binary16(src, srcStep, srcDst, step, width, height, scaleFactor,
                    [](std::int16_t d, std::int16_t s, std::int32_t&) { return double(d) - double(s); });
}

std::int32_t Mul16Generic(const void* src, std::int32_t srcStep, void* srcDst, std::int32_t step,
                          std::int32_t width, std::int32_t height, std::int32_t scaleFactor)
{
    return Binary16(src, srcStep, srcDst, step, width, height, scaleFactor,
                    [](std::int16_t d, std::int16_t s, std::int32_t&) { return double(d) * double(s); });
}

std::int32_t Div16Generic(const void* src, std::int32_t srcStep, void* srcDst, std::int32_t step,
                          std::int32_t width, std::int32_t height, std::int32_t scaleFactor)
{
    return Binary16(src, srcStep, srcDst, step, width, height, scaleFactor,
                    [](std::int16_t d, std::int16_t s, std::int32_t& status) -> double
                    {
                        if (s == 0)
                        {
                            status = kRegDivisionByZero;
                            return d == 0 ? 0.0 : (d < 0 ? -32768.0 : 32767.0);
                        }
                        return RoundHalfEven(static_cast<float>(d) / static_cast<float>(s));
                    });
}

constinit TKernelEntry<std::int32_t(const void*, std::int32_t, void*, std::int32_t, std::int32_t,
                                    std::int32_t)>
    GRegCopyBytes{&CopyBytesGeneric};
constinit TKernelEntry<std::int32_t(std::int16_t, void*, std::int32_t)> GVecSet16{&Set16Generic};
constinit TKernelEntry<std::int32_t(std::int16_t, void*, std::int32_t, std::int32_t, std::int32_t)> GRegSet16{
    &SetRegion16Generic};
constinit TKernelEntry<TBinary16> GRegAdd16{&Add16Generic};
constinit TKernelEntry<TBinary16> GRegSub16{&Sub16Generic};
constinit TKernelEntry<TBinary16> GRegMul16{&Mul16Generic};
constinit TKernelEntry<TBinary16> GRegDiv16{&Div16Generic};

// Full scale and the range of each width.
std::int64_t FullScale(std::int32_t bits) noexcept
{
    switch (bits)
    {
    case 8:
        return 127;
    case 16:
        return 32767;
    case 24:
        return 8388607;
    case 32:
        return 2147483647;
    default:
        return 0;
    }
}

// A sample as a signed value around its zero level (8 bits: the byte minus 127).
std::int64_t LoadSample(std::int32_t bits, const TByte* p) noexcept
{
    switch (bits)
    {
    case 8:
        return static_cast<std::int64_t>(*p) - 127;
    case 16:
        return LoadAt<std::int16_t>(p);
    case 24:
        return Load24(p);
    default:
        return LoadAt<std::int32_t>(p);
    }
}

// Stores the low bits of value as the width keeps them (8 bits: value is the byte itself).
void StoreBits(std::int32_t bits, TByte* p, std::int64_t value) noexcept
{
    switch (bits)
    {
    case 8:
        *p = static_cast<TByte>(static_cast<std::uint64_t>(value) & 0xFF);
        break;
    case 16:
        StoreAt(p, static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(value))));
        break;
    case 24:
        Store24(p, static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value))));
        break;
    default:
        StoreAt(p, static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(value))));
        break;
    }
}

std::int32_t CheckColumns(const void* src, std::int32_t srcStep, const void* dst, std::int32_t dstStep,
                          std::int32_t count)
{
    return CheckRegion(src, dst, srcStep, dstStep, 1, count);
}

// A division by zero for the widths without a kernel of their own: the 16-bit rule.
std::int64_t DivideOrLimit(std::int64_t d, std::int64_t s, std::int64_t minimum, std::int64_t maximum,
                           std::int32_t& status) noexcept
{
    if (s == 0)
    {
        status = kRegDivisionByZero;
        return d == 0 ? 0 : (d < 0 ? minimum : maximum);
    }
    return d / s;
}

// Walks count sample pairs a step apart on each side; combine(out, in, status) does one pair.
template <class TCombine>
std::int32_t CombineColumns(const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                            std::int32_t count, TCombine combine)
{
    if (const std::int32_t status = CheckColumns(src, srcStep, dst, dstStep, count); status != kRegOk)
        return status;
    const auto* s = static_cast<const TByte*>(src);
    auto* d = static_cast<TByte*>(dst);
    std::int32_t status = kRegOk;
    for (std::int32_t i = 0; i < count; ++i)
        combine(d + static_cast<std::ptrdiff_t>(i) * dstStep, s + static_cast<std::ptrdiff_t>(i) * srcStep,
                status);
    return status;
}

// a op b for the widths above 16 bits; the caller keeps the low bits of the result.
std::int64_t CombineWide(TSampleOp op, std::int64_t a, std::int64_t b, std::int64_t minimum,
                         std::int64_t maximum, std::int32_t& status) noexcept
{
    switch (op)
    {
    case TSampleOp::soAdd:
        return a + b;
    case TSampleOp::soSubtract:
        return a - b;
    case TSampleOp::soMultiply:
        return a * b;
    case TSampleOp::soDivide:
        return DivideOrLimit(a, b, minimum, maximum, status);
    }
    return 0;
}

}   // namespace

std::int32_t RegCopyBytes(const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                          std::int32_t width, std::int32_t height)
{
    return GRegCopyBytes(src, srcStep, dst, dstStep, width, height);
}

std::int32_t VecSet16(std::int16_t value, void* dst, std::int32_t count)
{
    return GVecSet16(value, dst, count);
}

std::int32_t RegSet16(std::int16_t value, void* dst, std::int32_t step, std::int32_t width,
                      std::int32_t height)
{
    return GRegSet16(value, dst, step, width, height);
}

std::int32_t RegAdd16(const void* src, std::int32_t srcStep, void* srcDst, std::int32_t step,
                      std::int32_t width, std::int32_t height, std::int32_t scaleFactor)
{
    return GRegAdd16(src, srcStep, srcDst, step, width, height, scaleFactor);
}

std::int32_t RegSub16(const void* src, std::int32_t srcStep, void* srcDst, std::int32_t step,
                      std::int32_t width, std::int32_t height, std::int32_t scaleFactor)
{
    return GRegSub16(src, srcStep, srcDst, step, width, height, scaleFactor);
}

std::int32_t RegMul16(const void* src, std::int32_t srcStep, void* srcDst, std::int32_t step,
                      std::int32_t width, std::int32_t height, std::int32_t scaleFactor)
{
    return GRegMul16(src, srcStep, srcDst, step, width, height, scaleFactor);
}

std::int32_t RegDiv16(const void* src, std::int32_t srcStep, void* srcDst, std::int32_t step,
                      std::int32_t width, std::int32_t height, std::int32_t scaleFactor)
{
    return GRegDiv16(src, srcStep, srcDst, step, width, height, scaleFactor);
}

std::int32_t Load24(const void* sample) noexcept
{
    const auto* p = static_cast<const TByte*>(sample);
    const std::uint32_t bits = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
                               (static_cast<std::uint32_t>(p[2]) << 16);
    return (bits & 0x800000u) != 0 ? static_cast<std::int32_t>(bits | 0xFF000000u)
                                   : static_cast<std::int32_t>(bits);
}

void Store24(void* sample, std::int32_t value) noexcept
{
    auto* p = static_cast<TByte*>(sample);
    const auto bits = static_cast<std::uint32_t>(value);
    p[0] = static_cast<TByte>(bits & 0xFF);
    p[1] = static_cast<TByte>((bits >> 8) & 0xFF);
    p[2] = static_cast<TByte>(((bits >> 16) & 0xFF) | (value < 0 ? 0x80u : 0u));
}

std::int32_t CopyStrided16(const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                           std::int32_t count)
{
    return RegCopyBytes(src, srcStep, dst, dstStep, 2, count);
}

std::int32_t CopyStrided24(const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                           std::int32_t count)
{
    if (const std::int32_t status = CopyStrided16(src, srcStep, dst, dstStep, count); status != kRegOk)
        return status;
    return RegCopyBytes(static_cast<const TByte*>(src) + 2, srcStep, static_cast<TByte*>(dst) + 2, dstStep, 1,
                        count);
}

std::int32_t CopyStrided32(const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                           std::int32_t count)
{
    if (const std::int32_t status = CopyStrided16(src, srcStep, dst, dstStep, count); status != kRegOk)
        return status;
    return CopyStrided16(static_cast<const TByte*>(src) + 2, srcStep, static_cast<TByte*>(dst) + 2, dstStep,
                         count);
}

std::int32_t Fill24(std::int32_t value, void* dst, std::int32_t count)
{
    if (dst == nullptr)
        return kRegNullPointer;
    if (count < 1)
        return kRegBadSize;
    auto* d = static_cast<TByte*>(dst);
    const auto bits = static_cast<std::uint32_t>(value);
    const TByte pattern[3] = {static_cast<TByte>(bits & 0xFF), static_cast<TByte>((bits >> 8) & 0xFF),
                              static_cast<TByte>((bits >> 16) & 0xFF)};
    // Four samples make 12 bytes, three 32-bit words: each word of a group is one slice of the repeated
    // pattern, written to every group with a step of 12.
    const std::int32_t groups = count / 4;
    for (std::int32_t word = 0; word < 3 && groups > 0; ++word)
    {
        TByte slice[4];
        for (int b = 0; b < 4; ++b)
            slice[b] = pattern[(word * 4 + b) % 3];
        const auto low = static_cast<std::int16_t>(slice[0] | (slice[1] << 8));
        const auto high = static_cast<std::int16_t>(slice[2] | (slice[3] << 8));
        RegSet16(low, d + 4 * word, 12, 1, groups);
        RegSet16(high, d + 4 * word + 2, 12, 1, groups);
    }
    const std::int32_t rest = (count - groups * 4) * 3;
    for (std::int32_t i = 0; i < rest; ++i)
        d[groups * 12 + i] = pattern[i % 3];
    return kRegOk;
}

std::int32_t Fill32(std::int32_t value, void* dst, std::int32_t count)
{
    const auto bits = static_cast<std::uint32_t>(value);
    if (const std::int32_t status = RegSet16(static_cast<std::int16_t>(bits & 0xFFFF), dst, 4, 1, count);
        status != kRegOk)
        return status;
    return RegSet16(static_cast<std::int16_t>(bits >> 16), static_cast<TByte*>(dst) + 2, 4, 1, count);
}

std::int32_t Clear24(void* dst, std::int32_t count)
{
    if (dst == nullptr)
        return kRegNullPointer;
    if (count < 1)
        return kRegBadSize;
    return VecZeroBytes(dst, count * 3);
}

std::int32_t Clear32(void* dst, std::int32_t count)
{
    if (dst == nullptr)
        return kRegNullPointer;
    if (count < 1)
        return kRegBadSize;
    return VecZeroBytes(dst, count * 4);
}

std::int32_t Combine8(TSampleOp op, const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                      std::int32_t count)
{
    return CombineColumns(src, srcStep, dst, dstStep, count,
                          [op](TByte* out, const TByte* in, std::int32_t&)
                          {
                              const std::int32_t a = *out;
                              const std::int32_t b = *in;
                              std::int32_t r = 0;
                              switch (op)
                              {
                              case TSampleOp::soAdd:
                                  r = a + b - 127;
                                  break;
                              case TSampleOp::soSubtract:
                                  r = a + 127 - b;
                                  break;
                              case TSampleOp::soMultiply:
                                  r = (a - 127) * (b - 127) + 127;
                                  break;
                              case TSampleOp::soDivide:
                                  r = b == 127 ? 127 : (a - 127) / (b - 127) + 127;
                                  break;
                              }
                              *out = static_cast<TByte>(static_cast<std::uint32_t>(r) & 0xFF);
                          });
}

std::int32_t Combine24(TSampleOp op, const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                       std::int32_t count)
{
    return CombineColumns(src, srcStep, dst, dstStep, count,
                          [op](TByte* out, const TByte* in, std::int32_t& status)
                          {
                              // In 64 bits: a 24-bit product fits, and the store keeps the low bits.
                              StoreBits(24, out,
                                        CombineWide(op, Load24(out), Load24(in), -8388608, 8388607, status));
                          });
}

std::int32_t Combine32(TSampleOp op, const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                       std::int32_t count)
{
    return CombineColumns(src, srcStep, dst, dstStep, count,
                          [op](TByte* out, const TByte* in, std::int32_t& status)
                          {
                              // Formed in 64 bits and stored as the low 32: the wrap of 32-bit integers,
                              // -2147483648 / -1 included.
                              StoreBits(32, out,
                                        CombineWide(op, LoadAt<std::int32_t>(out), LoadAt<std::int32_t>(in),
                                                    std::numeric_limits<std::int32_t>::min(),
                                                    std::numeric_limits<std::int32_t>::max(), status));
                          });
}

std::int32_t ScaleSamples(std::int32_t bits, double factor, void* dst, std::int32_t step, std::int32_t count)
{
    if (FullScale(bits) == 0)
        return kRegBadSize;
    if (const std::int32_t status = CheckColumns(dst, step, dst, step, count); status != kRegOk)
        return status;
    auto* d = static_cast<TByte*>(dst);
    for (std::int32_t i = 0; i < count; ++i)
    {
        TByte* p = d + static_cast<std::ptrdiff_t>(i) * step;
        // 8-bit samples are scaled as the unsigned bytes they are.
        const double sample = bits == 8 ? static_cast<double>(*p) : static_cast<double>(LoadSample(bits, p));
        StoreBits(bits, p, RoundScaledSample(factor * sample));
    }
    return kRegOk;
}

std::int32_t ConvertSamples(std::int32_t srcBits, const void* src, std::int32_t srcStep, std::int32_t dstBits,
                            void* dst, std::int32_t dstStep, std::int32_t count)
{
    const std::int64_t srcScale = FullScale(srcBits);
    const std::int64_t dstScale = FullScale(dstBits);
    if (srcScale == 0 || dstScale == 0 || srcBits == dstBits)
        return kRegBadSize;
    if (const std::int32_t status = CheckColumns(src, srcStep, dst, dstStep, count); status != kRegOk)
        return status;
    const auto* s = static_cast<const TByte*>(src);
    auto* d = static_cast<TByte*>(dst);
    for (std::int32_t i = 0; i < count; ++i)
    {
        const std::int64_t value = LoadSample(srcBits, s + static_cast<std::ptrdiff_t>(i) * srcStep);
        // Truncating division of a 64-bit product; only the byte 255 (value 128) exceeds full scale.
        std::int64_t result = value * dstScale / srcScale;
        if (result > dstScale)
            result = dstScale;
        StoreBits(dstBits, d + static_cast<std::ptrdiff_t>(i) * dstStep,
                  dstBits == 8 ? result + 127 : result);
    }
    return kRegOk;
}

}   // namespace harvolin
