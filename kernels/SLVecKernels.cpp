#include "kernels/SLVecKernels.h"
#include "kernels/SLKernelDispatch.h"
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numbers>

namespace harvolin
{

namespace
{

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// The one not-a-number the division kernels produce: quiet, sign bit set.
constexpr double kDivisionNaN = std::bit_cast<double>(std::uint64_t{0xFFF8000000000000});

constexpr std::int64_t kIntMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kIntMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kByteMin = 0;
constexpr std::int64_t kByteMax = 255;

constexpr std::size_t kAlignment = 32;

// Byte count of n elements; n >= 1 is checked before, and the product is formed in size_t so that a count
// near 2^31 cannot overflow.
template <typename T>
std::size_t ByteCount(std::int32_t n)
{
    return static_cast<std::size_t>(n) * sizeof(T);
}

// What a zero or not-a-number divisor gives: the infinity of the dividend's sign, else (a zero or
// not-a-number dividend) the division NaN.
double ZeroDivisorResult(double dividend)
{
    if (dividend > 0.0)
        return kInfinity;
    if (dividend < 0.0)
        return -kInfinity;
    return kDivisionNaN;
}

// r x 2^-sf rounded half to even and saturated to [lo, hi]. Contract: r is the exact result of the
// operation with |r| <= 2^62 (the largest is INT_MIN x INT_MIN), lo is 0 or INT_MIN and hi is at most
// INT_MAX. Trap: every shift stays below 64 bits and every product inside int64 for any sf, INT_MIN
// included, so that no sf is undefined behaviour.
std::int64_t Scale(std::int64_t r, std::int32_t sf, std::int64_t lo, std::int64_t hi)
{
    if (sf > 0)
    {
        if (sf > 62)
            return 0;               // |r| x 2^-sf <= 1/2, and a tie goes to the even 0
        std::int64_t q = r >> sf;   // floor, also for a negative r
        const std::int64_t rem = r & ((std::int64_t{1} << sf) - 1);
        const std::int64_t half = std::int64_t{1} << (sf - 1);
        if (rem > half || (rem == half && (q & 1) != 0))
            ++q;
        r = q;
    }
    else if (sf < 0 && r != 0)
    {
        const std::int64_t shift = -static_cast<std::int64_t>(sf);
        if (shift > 31)
            return r > 0 ? hi : lo;   // |r| x 2^32 lies beyond either limit
        if (r > (hi >> shift))
            return hi;
        if (r < (lo >> shift))   // exact: lo is 0 or -2^31
            return lo;
        r *= std::int64_t{1} << shift;
    }
    return std::clamp(r, lo, hi);
}

std::int32_t ScaleInt(std::int64_t r, std::int32_t sf)
{
    return static_cast<std::int32_t>(Scale(r, sf, kIntMin, kIntMax));
}

std::uint8_t ScaleByte(std::int64_t r, std::int32_t sf)
{
    return static_cast<std::uint8_t>(Scale(r, sf, kByteMin, kByteMax));
}

// dividend / divisor x scale, rounded to the nearest integer with an exact half toward zero, saturated.
// Contract: divisor != 0, scale a power of two within 2^-100 and 2^100 (so the product is exact). Extended
// precision keeps a half exact: the quotient of two 32-bit integers is at least 2^-32 away from a
// half-integer, far more than its rounding error with a 64-bit mantissa.
std::int32_t DivideRounded(std::int32_t dividend, std::int32_t divisor, long double scale)
{
    const long double v = static_cast<long double>(dividend) / divisor * scale;
    if (v >= static_cast<long double>(kIntMax))
        return static_cast<std::int32_t>(kIntMax);
    if (v <= static_cast<long double>(kIntMin))
        return static_cast<std::int32_t>(kIntMin);
    // In range now: |v| < 2^31, so the conversion (toward zero) is defined.
    auto whole = static_cast<std::int64_t>(v);
    const long double fraction = v - static_cast<long double>(whole);   // exact
    if (fraction > 0.5L)
        ++whole;
    else if (fraction < -0.5L)
        --whole;
    return static_cast<std::int32_t>(whole);
}

// Generic implementations. The public functions below check nothing themselves; each implementation
// checks its arguments in the order pointers, count, own arguments, and writes nothing when it refuses.

std::int32_t AddConstRealGeneric(double value, double* dst, std::int32_t n)
{
    if (dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    if (value == 0.0)
        return kVecOk;   // leaves every element as it is, -0 and signalling NaNs included
    const long double add = value;
    for (std::int32_t i = 0; i < n; ++i)
        dst[i] = static_cast<double>(dst[i] + add);
    return kVecOk;
}

std::int32_t AddRealGeneric(const double* src, double* dst, std::int32_t n)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    for (std::int32_t i = 0; i < n; ++i)
        dst[i] = static_cast<double>(static_cast<long double>(dst[i]) + src[i]);
    return kVecOk;
}

std::int32_t SubRealGeneric(const double* src, double* dst, std::int32_t n)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    for (std::int32_t i = 0; i < n; ++i)
        dst[i] = static_cast<double>(static_cast<long double>(dst[i]) - src[i]);
    return kVecOk;
}

std::int32_t MulRealGeneric(const double* src, double* dst, std::int32_t n)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    for (std::int32_t i = 0; i < n; ++i)
        dst[i] = static_cast<double>(static_cast<long double>(dst[i]) * src[i]);
    return kVecOk;
}

std::int32_t DivRealGeneric(const double* src, double* dst, std::int32_t n)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    std::int32_t status = kVecOk;
    for (std::int32_t i = 0; i < n; ++i)
    {
        const double divisor = src[i];
        if (divisor == 0.0 || std::isnan(divisor))
        {
            dst[i] = ZeroDivisorResult(dst[i]);
            status = kVecDivisionByZero;
        }
        else
            dst[i] = static_cast<double>(static_cast<long double>(dst[i]) / divisor);
    }
    return status;
}

std::int32_t AddComplexGeneric(const TSLComplex* src, TSLComplex* dst, std::int32_t n)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    for (std::int32_t i = 0; i < n; ++i)
    {
        dst[i].Re = static_cast<double>(static_cast<long double>(dst[i].Re) + src[i].Re);
        dst[i].Im = static_cast<double>(static_cast<long double>(dst[i].Im) + src[i].Im);
    }
    return kVecOk;
}

std::int32_t MulComplexGeneric(const TSLComplex* src, TSLComplex* dst, std::int32_t n)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    for (std::int32_t i = 0; i < n; ++i)
    {
        // Both parts are read before either is written: src and dst may be the same array.
        const long double a = dst[i].Re;
        const long double b = dst[i].Im;
        const long double c = src[i].Re;
        const long double d = src[i].Im;
        dst[i].Re = static_cast<double>(a * c - b * d);
        dst[i].Im = static_cast<double>(a * d + b * c);
    }
    return kVecOk;
}

std::int32_t DivComplexGeneric(const TSLComplex* src, TSLComplex* dst, std::int32_t n)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    std::int32_t status = kVecOk;
    for (std::int32_t i = 0; i < n; ++i)
    {
        const long double sRe = src[i].Re;
        const long double sIm = src[i].Im;
        const long double dRe = dst[i].Re;
        const long double dIm = dst[i].Im;
        // In extended range the squares of finite doubles neither overflow nor underflow, so m is 0 only
        // for a zero divisor.
        const long double m = sRe * sRe + sIm * sIm;
        if (m == 0.0L || std::isnan(m))
        {
            dst[i].Re = ZeroDivisorResult(dst[i].Re);
            dst[i].Im = ZeroDivisorResult(dst[i].Im);
            status = kVecDivisionByZero;
        }
        else
        {
            dst[i].Re = static_cast<double>((sRe * dRe + sIm * dIm) / m);
            dst[i].Im = static_cast<double>((sRe * dIm - sIm * dRe) / m);
        }
    }
    return status;
}

std::int32_t AddIntGeneric(const std::int32_t* src, std::int32_t* dst, std::int32_t n, std::int32_t sf)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    for (std::int32_t i = 0; i < n; ++i)
        dst[i] = ScaleInt(std::int64_t{dst[i]} + src[i], sf);
    return kVecOk;
}

std::int32_t SubIntGeneric(const std::int32_t* src, std::int32_t* dst, std::int32_t n, std::int32_t sf)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    for (std::int32_t i = 0; i < n; ++i)
        dst[i] = ScaleInt(std::int64_t{dst[i]} - src[i], sf);
    return kVecOk;
}

std::int32_t MulIntGeneric(const std::int32_t* src, std::int32_t* dst, std::int32_t n, std::int32_t sf)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    for (std::int32_t i = 0; i < n; ++i)
        dst[i] = ScaleInt(std::int64_t{dst[i]} * src[i], sf);
    return kVecOk;
}

std::int32_t DivIntGeneric(const std::int32_t* src, std::int32_t* dst, std::int32_t n, std::int32_t sf)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    // A nonzero quotient lies within 2^-31 and 2^31 in magnitude, so beyond +-100 every sf gives the same
    // result as +-100 does: all zeros or saturation. Clamping keeps -sf from overflowing.
    const long double scale = std::ldexp(1.0L, -std::clamp(sf, -100, 100));
    std::int32_t status = kVecOk;
    for (std::int32_t i = 0; i < n; ++i)
    {
        const std::int32_t dividend = dst[i];
        const std::int32_t divisor = src[i];
        if (divisor == 0)
        {
            if (dividend != 0)
                dst[i] = static_cast<std::int32_t>(dividend > 0 ? kIntMax : kIntMin);
            status = kVecDivisionByZero;
        }
        else
            dst[i] = DivideRounded(dividend, divisor, scale);
    }
    return status;
}

std::int32_t AddByteGeneric(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n, std::int32_t sf)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    for (std::int32_t i = 0; i < n; ++i)
        dst[i] = ScaleByte(std::int64_t{dst[i]} + src[i], sf);
    return kVecOk;
}

std::int32_t SubByteGeneric(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n, std::int32_t sf)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    for (std::int32_t i = 0; i < n; ++i)
        dst[i] = ScaleByte(std::max<std::int64_t>(std::int64_t{dst[i]} - src[i], 0), sf);
    return kVecOk;
}

std::int32_t MulByteGeneric(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n, std::int32_t sf)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    for (std::int32_t i = 0; i < n; ++i)
        dst[i] = ScaleByte(std::int64_t{dst[i]} * src[i], sf);
    return kVecOk;
}

// The copies allow overlapping arrays (memmove): the buffers shift data inside their own storage.
std::int32_t CopyRealGeneric(const double* src, double* dst, std::int32_t n)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    std::memmove(dst, src, ByteCount<double>(n));
    return kVecOk;
}

std::int32_t CopyBytesGeneric(const void* src, void* dst, std::int32_t n)
{
    if (src == nullptr || dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    std::memmove(dst, src, ByteCount<std::uint8_t>(n));
    return kVecOk;
}

std::int32_t MaxRealGeneric(const double* src, std::int32_t n, double* result)
{
    if (src == nullptr || result == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    double best = src[0];
    for (std::int32_t i = 1; i < n; ++i)
        if (best < src[i])   // false for a NaN on either side: a NaN never replaces, nor is replaced
            best = src[i];
    *result = best;
    return kVecOk;
}

std::int32_t MinRealGeneric(const double* src, std::int32_t n, double* result)
{
    if (src == nullptr || result == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    double best = src[0];
    for (std::int32_t i = 1; i < n; ++i)
        if (!(best <= src[i]))   // deliberately not (src[i] < best): a NaN element does replace the result
            best = src[i];
    *result = best;
    return kVecOk;
}

std::int32_t SetIntGeneric(std::int32_t value, std::int32_t* dst, std::int32_t n)
{
    if (dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    std::fill_n(dst, n, value);
    return kVecOk;
}

std::int32_t SetRealGeneric(double value, double* dst, std::int32_t n)
{
    if (dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    std::fill_n(dst, n, value);
    return kVecOk;
}

std::int32_t SetComplexGeneric(double re, double im, TSLComplex* dst, std::int32_t n)
{
    if (dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    std::fill_n(dst, n, TSLComplex{re, im});
    return kVecOk;
}

std::int32_t SetByteGeneric(std::uint8_t value, std::uint8_t* dst, std::int32_t n)
{
    if (dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    std::memset(dst, value, ByteCount<std::uint8_t>(n));
    return kVecOk;
}

std::int32_t JaehneGeneric(double* dst, std::int32_t n, double magnitude)
{
    if (dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    if (magnitude < 0.0)
        return kVecBadJaehneMagnitude;
    if (n == 1)
    {
        dst[0] = 0.0;
        return kVecOk;
    }
    // The argument is built as k x (k x step) so that k x k never has to be formed exactly.
    const long double step = (std::numbers::pi_v<long double> / 2.0L) / n;
    const long double scale = magnitude;
    for (std::int32_t k = 0; k < n; ++k)
    {
        const long double kk = k;
        dst[k] = static_cast<double>(scale * std::sin(kk * (kk * step)));
    }
    return kVecOk;
}

std::int32_t Zero16Generic(std::int16_t* dst, std::int32_t n)
{
    if (dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    std::memset(dst, 0, ByteCount<std::int16_t>(n));
    return kVecOk;
}

std::int32_t ZeroRealGeneric(double* dst, std::int32_t n)
{
    if (dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    std::fill_n(dst, n, 0.0);
    return kVecOk;
}

std::int32_t ZeroComplexGeneric(TSLComplex* dst, std::int32_t n)
{
    if (dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    std::fill_n(dst, n, TSLComplex{0.0, 0.0});
    return kVecOk;
}

std::int32_t ZeroBytesGeneric(void* dst, std::int32_t n)
{
    if (dst == nullptr)
        return kVecNullPointer;
    if (n < 1)
        return kVecBadCount;
    std::memset(dst, 0, ByteCount<std::uint8_t>(n));
    return kVecOk;
}

// The entries. constinit: they are usable before any dynamic initialisation, so buffers built by other
// static objects can already call the kernels.
using TRealBinary = std::int32_t(const double*, double*, std::int32_t);
using TComplexBinary = std::int32_t(const TSLComplex*, TSLComplex*, std::int32_t);
using TIntBinary = std::int32_t(const std::int32_t*, std::int32_t*, std::int32_t, std::int32_t);
using TByteBinary = std::int32_t(const std::uint8_t*, std::uint8_t*, std::int32_t, std::int32_t);

constinit TKernelEntry<std::int32_t(double, double*, std::int32_t)> GVecAddConstReal{&AddConstRealGeneric};
constinit TKernelEntry<TRealBinary> GVecAddReal{&AddRealGeneric};
constinit TKernelEntry<TRealBinary> GVecSubReal{&SubRealGeneric};
constinit TKernelEntry<TRealBinary> GVecMulReal{&MulRealGeneric};
constinit TKernelEntry<TRealBinary> GVecDivReal{&DivRealGeneric};
constinit TKernelEntry<TComplexBinary> GVecAddComplex{&AddComplexGeneric};
constinit TKernelEntry<TComplexBinary> GVecMulComplex{&MulComplexGeneric};
constinit TKernelEntry<TComplexBinary> GVecDivComplex{&DivComplexGeneric};
constinit TKernelEntry<TIntBinary> GVecAddInt{&AddIntGeneric};
constinit TKernelEntry<TIntBinary> GVecSubInt{&SubIntGeneric};
constinit TKernelEntry<TIntBinary> GVecMulInt{&MulIntGeneric};
constinit TKernelEntry<TIntBinary> GVecDivInt{&DivIntGeneric};
constinit TKernelEntry<TByteBinary> GVecAddByte{&AddByteGeneric};
constinit TKernelEntry<TByteBinary> GVecSubByte{&SubByteGeneric};
constinit TKernelEntry<TByteBinary> GVecMulByte{&MulByteGeneric};
constinit TKernelEntry<TRealBinary> GVecCopyReal{&CopyRealGeneric};
constinit TKernelEntry<std::int32_t(const void*, void*, std::int32_t)> GVecCopyBytes{&CopyBytesGeneric};
constinit TKernelEntry<std::int32_t(const double*, std::int32_t, double*)> GVecMaxReal{&MaxRealGeneric};
constinit TKernelEntry<std::int32_t(const double*, std::int32_t, double*)> GVecMinReal{&MinRealGeneric};
constinit TKernelEntry<std::int32_t(std::int32_t, std::int32_t*, std::int32_t)> GVecSetInt{&SetIntGeneric};
constinit TKernelEntry<std::int32_t(double, double*, std::int32_t)> GVecSetReal{&SetRealGeneric};
constinit TKernelEntry<std::int32_t(double, double, TSLComplex*, std::int32_t)> GVecSetComplex{
    &SetComplexGeneric};
constinit TKernelEntry<std::int32_t(std::uint8_t, std::uint8_t*, std::int32_t)> GVecSetByte{&SetByteGeneric};
constinit TKernelEntry<std::int32_t(double*, std::int32_t, double)> GVecJaehne{&JaehneGeneric};
constinit TKernelEntry<std::int32_t(std::int16_t*, std::int32_t)> GVecZero16{&Zero16Generic};
constinit TKernelEntry<std::int32_t(double*, std::int32_t)> GVecZeroReal{&ZeroRealGeneric};
constinit TKernelEntry<std::int32_t(TSLComplex*, std::int32_t)> GVecZeroComplex{&ZeroComplexGeneric};
constinit TKernelEntry<std::int32_t(void*, std::int32_t)> GVecZeroBytes{&ZeroBytesGeneric};

}   // namespace

std::int32_t VecAddConstReal(double value, double* dst, std::int32_t n)
{
    return GVecAddConstReal(value, dst, n);
}

std::int32_t VecAddReal(const double* src, double* dst, std::int32_t n)
{
    return GVecAddReal(src, dst, n);
}

std::int32_t VecSubReal(const double* src, double* dst, std::int32_t n)
{
    return GVecSubReal(src, dst, n);
}

std::int32_t VecMulReal(const double* src, double* dst, std::int32_t n)
{
    return GVecMulReal(src, dst, n);
}

std::int32_t VecDivReal(const double* src, double* dst, std::int32_t n)
{
    return GVecDivReal(src, dst, n);
}

std::int32_t VecAddComplex(const TSLComplex* src, TSLComplex* dst, std::int32_t n)
{
    return GVecAddComplex(src, dst, n);
}

std::int32_t VecMulComplex(const TSLComplex* src, TSLComplex* dst, std::int32_t n)
{
    return GVecMulComplex(src, dst, n);
}

std::int32_t VecDivComplex(const TSLComplex* src, TSLComplex* dst, std::int32_t n)
{
    return GVecDivComplex(src, dst, n);
}

std::int32_t VecAddInt(const std::int32_t* src, std::int32_t* dst, std::int32_t n, std::int32_t sf)
{
    return GVecAddInt(src, dst, n, sf);
}

std::int32_t VecSubInt(const std::int32_t* src, std::int32_t* dst, std::int32_t n, std::int32_t sf)
{
    return GVecSubInt(src, dst, n, sf);
}

std::int32_t VecMulInt(const std::int32_t* src, std::int32_t* dst, std::int32_t n, std::int32_t sf)
{
    return GVecMulInt(src, dst, n, sf);
}

std::int32_t VecDivInt(const std::int32_t* src, std::int32_t* dst, std::int32_t n, std::int32_t sf)
{
    return GVecDivInt(src, dst, n, sf);
}

std::int32_t VecAddByte(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n, std::int32_t sf)
{
    return GVecAddByte(src, dst, n, sf);
}

std::int32_t VecSubByte(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n, std::int32_t sf)
{
    return GVecSubByte(src, dst, n, sf);
}

std::int32_t VecMulByte(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n, std::int32_t sf)
{
    return GVecMulByte(src, dst, n, sf);
}

std::int32_t VecCopyReal(const double* src, double* dst, std::int32_t n)
{
    return GVecCopyReal(src, dst, n);
}

std::int32_t VecCopyBytes(const void* src, void* dst, std::int32_t n)
{
    return GVecCopyBytes(src, dst, n);
}

std::int32_t VecMaxReal(const double* src, std::int32_t n, double* result)
{
    return GVecMaxReal(src, n, result);
}

std::int32_t VecMinReal(const double* src, std::int32_t n, double* result)
{
    return GVecMinReal(src, n, result);
}

std::int32_t VecSetInt(std::int32_t value, std::int32_t* dst, std::int32_t n)
{
    return GVecSetInt(value, dst, n);
}

std::int32_t VecSetReal(double value, double* dst, std::int32_t n)
{
    return GVecSetReal(value, dst, n);
}

std::int32_t VecSetComplex(double re, double im, TSLComplex* dst, std::int32_t n)
{
    return GVecSetComplex(re, im, dst, n);
}

std::int32_t VecSetByte(std::uint8_t value, std::uint8_t* dst, std::int32_t n)
{
    return GVecSetByte(value, dst, n);
}

std::int32_t VecJaehne(double* dst, std::int32_t n, double magnitude)
{
    return GVecJaehne(dst, n, magnitude);
}

std::int32_t VecZero16(std::int16_t* dst, std::int32_t n)
{
    return GVecZero16(dst, n);
}

std::int32_t VecZeroReal(double* dst, std::int32_t n)
{
    return GVecZeroReal(dst, n);
}

std::int32_t VecZeroComplex(TSLComplex* dst, std::int32_t n)
{
    return GVecZeroComplex(dst, n);
}

std::int32_t VecZeroBytes(void* dst, std::int32_t n)
{
    return GVecZeroBytes(dst, n);
}

void* AlignedAlloc(std::int32_t size)
{
    if (size <= 0)
        return nullptr;
    // Room for the slot below the aligned address and for the worst-case alignment gap above the slot.
    constexpr std::size_t kSlot = sizeof(void*);
    void* raw = std::malloc(static_cast<std::size_t>(size) + kSlot + kAlignment - 1);
    if (raw == nullptr)
        return nullptr;
    const auto rawAddress = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (rawAddress + kSlot + kAlignment - 1) & ~std::uintptr_t{kAlignment - 1};
    // Derived from raw by an offset rather than cast back from the integer, so the pointer stays raw's.
    char* p = static_cast<char*>(raw) + (aligned - rawAddress);
    std::memcpy(p - kSlot, &raw, kSlot);
    return p;
}

void AlignedFree(void* p)
{
    if (p == nullptr)
        return;
    void* raw = nullptr;
    std::memcpy(&raw, static_cast<char*>(p) - sizeof(void*), sizeof(void*));
    std::free(raw);
}

}   // namespace harvolin
