// The generator kernels: tone, triangle and clip. They run once per block on the clock thread, so each
// checks its arguments once and then runs a tight loop; the tone needs only two cosines per block.
#include "kernels/SLKernelDispatch.h"
#include "kernels/SLVecKernels.h"

#include <cmath>

namespace harvolin
{

namespace
{

// The kernels' own constants, as doubles; the phase is kept in [0, k2Pi).
constexpr double kPi = 3.141592653589793;
constexpr double k2Pi = 6.283185307179586;

// A normalised frequency outside [0, 0.5) is refused; not-a-number is refused too, since it would turn both
// the block and the carried phase into not-a-number for good.
bool IsValidNormalisedFrequency(double f)
{
    return f >= 0.0 && f < 0.5;
}

bool IsValidPhase(double phase)
{
    return phase >= 0.0 && phase < k2Pi;
}

// The phase after len samples of step w, reduced to [0, 2 pi); a result that rounds outside becomes 0.
double PhaseAfter(double phase, long double w, std::int32_t len)
{
    const long double twoPi = k2Pi;
    const long double x = phase + w * len;
    const double reduced = static_cast<double>(x - std::floor(x / twoPi) * twoPi);
    return IsValidPhase(reduced) ? reduced : 0.0;
}

}   // namespace

long double CosineOfPhase(long double x)
{
    // The library's extended cosine reduces every argument beyond pi / 4 by its general method for huge
    // arguments, which costs more than a hundred samples of the tone. A phase is a few quarter turns at
    // most: pi / 2 in three parts of at most 33 significant bits, so that k times each is exact for the few
    // quarter turns a phase spans, and the reduced argument keeps about 1e-21 absolute.
    constexpr long double kHalfPi1 = 0x1.921fb544p+0L;
    constexpr long double kHalfPi2 = 0x1.0b4611a6p-34L;
    constexpr long double kHalfPi3 = 0x1.3198a2e037073p-69L;
    if (!(std::fabs(x) <= 64.0L))
        return std::cos(x);
    const long double k = std::nearbyint(x * (2.0L / 3.14159265358979323846264338327950288L));
    const long double r = ((x - k * kHalfPi1) - k * kHalfPi2) - k * kHalfPi3;
    switch (static_cast<long long>(k) & 3)
    {
    case 0: return std::cos(r);
    case 1: return -std::sin(r);
    case 2: return -std::cos(r);
    default: return std::sin(r);
    }
}

namespace
{

// The hint asks some processor-specific paths to restart the chain from a computed cosine every 2048
// samples; this path's extended precision keeps a block of any length accurate, so it has no use for it.
// GCC pairs the stores of two samples into one vector store, which on the x87 stack means a trip of each
// sample through memory first: more than the samples cost.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-slp-vectorize")))
#endif
std::int32_t ToneGeneric(double* dst, std::int32_t len, double magnitude, double f, double* phase,
                         std::int32_t /*hint*/)
{
    if (phase == nullptr)
        return kVecNullPointer;
    if (!(magnitude > 0.0))
        return kVecBadToneMagnitude;
    if (!IsValidNormalisedFrequency(f))
        return kVecBadToneFrequency;
    if (!IsValidPhase(*phase))
        return kVecBadTonePhase;
    if (dst == nullptr)
        return kVecNullPointer;
    if (len < 1)
        return kVecBadCount;

    const long double a = magnitude;
    const long double w = static_cast<long double>(k2Pi) * f;
    const long double ph = *phase;
    *phase = PhaseAfter(*phase, w, len);

    // Two interleaved chains of cos(x + 2w) = 2 cos(2w) cos(x) - cos(x - 2w), carried in extended precision:
    // the chains are independent, so they pipeline, and each runs only half the block's steps.
    long double even0 = a * CosineOfPhase(ph);   // y[i - 4], y[i - 2] of the even samples
    long double odd0 = a * CosineOfPhase(ph + w);
    dst[0] = static_cast<double>(even0);
    if (len == 1)
        return kVecOk;
    dst[1] = static_cast<double>(odd0);
    if (len == 2)
        return kVecOk;
    const long double k1 = 2.0L * CosineOfPhase(w);
    long double even1 = k1 * odd0 - even0;
    dst[2] = static_cast<double>(even1);
    if (len == 3)
        return kVecOk;
    long double odd1 = k1 * even1 - odd0;
    dst[3] = static_cast<double>(odd1);

    const long double k2 = k1 * k1 - 2.0L;
    std::int32_t i = 4;
    // Four samples a turn, two of each chain: the chains' newest and older values trade places instead of
    // being moved. The same operations in the same order as the pairs below: the samples are the same to the
    // bit. On x86-64 the turn is written for the x87 stack itself, each sample a load, a multiply, a
    // subtraction, a store and a pop, where the compiler's version spends half again as much on exchanges.
#if defined(__x86_64__) && defined(__GNUC__)
    // Two turns a loop, since the loop's own three instructions count too.
    if (std::int32_t doubleTurns = (len - i) / 8; doubleTurns > 0)
    {
        double* out = dst + i;
        i += 8 * doubleTurns;
        // Stack through the loop: even A, even B, odd A, odd B, k2; each chain's older value in A at the top
        // of a turn. A sample: push the newer, times k2, minus the older, store, and overwrite the older.
        asm volatile("fldt %[k2]\n\t"
                     "fldt %[o1]\n\t"
                     "fldt %[o0]\n\t"
                     "fldt %[e1]\n\t"
                     "fldt %[e0]\n\t"
                     "1:\n\t"
                     "fld %%st(1)\n\t"
                     "fmul %%st(5), %%st\n\t"
                     "fsub %%st(1), %%st\n\t"
                     "fstl (%[out])\n\t"
                     "fstp %%st(1)\n\t"
                     "fld %%st(3)\n\t"
                     "fmul %%st(5), %%st\n\t"
                     "fsub %%st(3), %%st\n\t"
                     "fstl 8(%[out])\n\t"
                     "fstp %%st(3)\n\t"
                     "fld %%st(0)\n\t"
                     "fmul %%st(5), %%st\n\t"
                     "fsub %%st(2), %%st\n\t"
                     "fstl 16(%[out])\n\t"
                     "fstp %%st(2)\n\t"
                     "fld %%st(2)\n\t"
                     "fmul %%st(5), %%st\n\t"
                     "fsub %%st(4), %%st\n\t"
                     "fstl 24(%[out])\n\t"
                     "fstp %%st(4)\n\t"
                     "fld %%st(1)\n\t"
                     "fmul %%st(5), %%st\n\t"
                     "fsub %%st(1), %%st\n\t"
                     "fstl 32(%[out])\n\t"
                     "fstp %%st(1)\n\t"
                     "fld %%st(3)\n\t"
                     "fmul %%st(5), %%st\n\t"
                     "fsub %%st(3), %%st\n\t"
                     "fstl 40(%[out])\n\t"
                     "fstp %%st(3)\n\t"
                     "fld %%st(0)\n\t"
                     "fmul %%st(5), %%st\n\t"
                     "fsub %%st(2), %%st\n\t"
                     "fstl 48(%[out])\n\t"
                     "fstp %%st(2)\n\t"
                     "fld %%st(2)\n\t"
                     "fmul %%st(5), %%st\n\t"
                     "fsub %%st(4), %%st\n\t"
                     "fstl 56(%[out])\n\t"
                     "fstp %%st(4)\n\t"
                     "addq $64, %[out]\n\t"
                     "decl %[turns]\n\t"
                     "jnz 1b\n\t"
                     "fstpt %[e0]\n\t"
                     "fstpt %[e1]\n\t"
                     "fstpt %[o0]\n\t"
                     "fstpt %[o1]\n\t"
                     "fstp %%st(0)\n\t"
                     : [out] "+r"(out), [turns] "+r"(doubleTurns), [e0] "+m"(even0), [e1] "+m"(even1), [o0] "+m"(odd0),
                       [o1] "+m"(odd1)
                     : [k2] "m"(k2)
                     : "memory", "cc", "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)");
    }
#endif
    for (; i + 3 < len; i += 4)
    {
        even0 = k2 * even1 - even0;
        odd0 = k2 * odd1 - odd0;
        even1 = k2 * even0 - even1;
        odd1 = k2 * odd0 - odd1;
        dst[i] = static_cast<double>(even0);
        dst[i + 1] = static_cast<double>(odd0);
        dst[i + 2] = static_cast<double>(even1);
        dst[i + 3] = static_cast<double>(odd1);
    }
    for (; i + 1 < len; i += 2)
    {
        const long double even2 = k2 * even1 - even0;
        const long double odd2 = k2 * odd1 - odd0;
        dst[i] = static_cast<double>(even2);
        dst[i + 1] = static_cast<double>(odd2);
        even0 = even1;
        even1 = even2;
        odd0 = odd1;
        odd1 = odd2;
    }
    if (i < len)
        dst[i] = static_cast<double>(k2 * even1 - even0);
    return kVecOk;
}

std::int32_t TriangleGeneric(double* dst, std::int32_t len, double magnitude, double f, double asym,
                             double* phase)
{
    if (phase == nullptr)
        return kVecNullPointer;
    if (!(magnitude > 0.0))
        return kVecBadTriangleMagnitude;
    if (!IsValidNormalisedFrequency(f))
        return kVecBadTriangleFrequency;
    if (!(asym >= -kPi && asym < kPi))
        return kVecBadTriangleAsymmetry;
    if (!IsValidPhase(*phase))
        return kVecBadTrianglePhase;
    if (dst == nullptr)
        return kVecNullPointer;
    if (len <= 0)
        return kVecBadCount;

    const long double a = magnitude;
    const long double w = static_cast<long double>(k2Pi) * f;
    const long double ph = *phase;
    *phase = PhaseAfter(*phase, w, len);

    const long double pi = kPi;
    const long double fallLength = pi + asym;   // phase span from +A down to -A
    const long double riseLength = pi - asym;   // phase span from -A back up to +A
    const long double up = 4.0L * pi * a * f / riseLength;
    const long double down = -4.0L * pi * a * f / fallLength;
    // One whole cycle of travel at either slope. Near-vertical edges (asym close to +-pi) are shorter than a
    // sample, so a reflection there would overshoot the opposite bound; the value wraps by a cycle instead.
    const long double fallCycle = 4.0L * pi * a / fallLength;
    const long double riseCycle = 4.0L * pi * a / riseLength;
    const long double fallToRise = fallLength / riseLength;
    const long double riseToFall = riseLength / fallLength;

    bool rising = ph >= fallLength;
    long double v =
        rising ? a * (2.0L * (ph - fallLength) / riseLength - 1.0L) : a * (1.0L - 2.0L * ph / fallLength);
    dst[0] = static_cast<double>(v);
    for (std::int32_t i = 1; i < len; ++i)
    {
        if (rising)
        {
            v += up;
            if (v > a)
            {
                const long double reflected = a - riseToFall * (v - a);
                if (reflected < -a)
                    v -= riseCycle;
                else
                {
                    v = reflected;
                    rising = false;
                }
            }
        }
        else
        {
            v += down;
            if (v < -a)
            {
                const long double reflected = -a + fallToRise * (-a - v);
                if (reflected > a)
                    v += fallCycle;
                else
                {
                    v = reflected;
                    rising = true;
                }
            }
        }
        dst[i] = static_cast<double>(v);
    }
    return kVecOk;
}

std::int32_t ThresholdGeneric(double* data, std::int32_t len, double lowLevel, double lowValue,
                              double highLevel, double highValue)
{
    if (data == nullptr)
        return kVecNullPointer;
    if (len < 1)
        return kVecBadCount;
    if (!(highLevel >= lowLevel))
        return kVecBadThresholds;
    for (std::int32_t i = 0; i < len; ++i)
    {
        // Written as "not at or above" so that a not-a-number sample is clipped to the low value.
        if (!(data[i] >= lowLevel))
            data[i] = lowValue;
        else if (data[i] > highLevel)
            data[i] = highValue;
    }
    return kVecOk;
}

constinit TKernelEntry<std::int32_t(double*, std::int32_t, double, double, double*, std::int32_t)> GVecTone{
    &ToneGeneric};
constinit TKernelEntry<std::int32_t(double*, std::int32_t, double, double, double, double*)> GVecTriangle{
    &TriangleGeneric};
constinit TKernelEntry<std::int32_t(double*, std::int32_t, double, double, double, double)> GVecThreshold{
    &ThresholdGeneric};

}   // namespace

std::int32_t VecTone(double* dst, std::int32_t len, double magnitude, double f, double* phase,
                     std::int32_t hint)
{
    return GVecTone(dst, len, magnitude, f, phase, hint);
}

std::int32_t VecTriangle(double* dst, std::int32_t len, double magnitude, double f, double asym,
                         double* phase)
{
    return GVecTriangle(dst, len, magnitude, f, asym, phase);
}

std::int32_t VecThreshold(double* data, std::int32_t len, double lowLevel, double lowValue, double highLevel,
                          double highValue)
{
    return GVecThreshold(data, len, lowLevel, lowValue, highLevel, highValue);
}

}   // namespace harvolin
