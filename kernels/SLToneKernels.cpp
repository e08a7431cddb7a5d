// The generator kernels: tone, triangle and clip. They run once per block on the clock thread, so each
// checks its arguments once and then runs a tight loop; the tone needs only a cosine and a sine per block.
#include "kernels/SLKernelDispatch.h"
#include "kernels/SLVecKernels.h"

#include <cmath>
#include <cstring>

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

// Two numbers that vector registers hold side by side (SSE2 on x86-64, NEON on ARM): the compiler turns
// arithmetic on them into one instruction for both.
using TDoublePair = double __attribute__((vector_size(16)));

// cos and sin of a step and of four steps, for the frequency a thread last asked for: the frequency changes
// every few seconds, the blocks come a hundred times a second, and an accurate cosine costs as much as a
// hundred samples.
struct TStepRotation
{
    double Frequency = -1.0;
    double Cos1 = 1.0, Sin1 = 0.0;   // one sample's step
    double Cos4 = 1.0, Sin4 = 0.0;   // four samples' step
};

const TStepRotation& StepRotation(double f)
{
    thread_local TStepRotation rotation;
    if (rotation.Frequency != f)
    {
        const long double w = static_cast<long double>(k2Pi) * f;
        rotation = {f, static_cast<double>(std::cos(w)), static_cast<double>(std::sin(w)),
                    static_cast<double>(std::cos(4.0L * w)), static_cast<double>(std::sin(4.0L * w))};
    }
    return rotation;
}

// The samples are the real parts of four phasors a e^{i(ph + (4j + k) w)}, k = 0 to 3, each turned by 4w at
// every step of four samples. A rotation keeps its error growing only with the number of steps (about
// 1e-16 of the amplitude each), whatever the frequency, where the cosine recurrence at double precision
// amplifies its rounding by 1 / sin(w) and would need extended precision at low frequencies. The block
// starts again from cos and sin of the carried phase, so no error passes from one block to the next. The
// hint (restarting every so many samples) has no use here.
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

    const double ph = *phase;
    *phase = PhaseAfter(*phase, static_cast<long double>(k2Pi) * f, len);
    const TStepRotation& step = StepRotation(f);

    double re[4];
    double im[4];
    re[0] = magnitude * std::cos(ph);
    im[0] = magnitude * std::sin(ph);
    for (int k = 1; k < 4; ++k)
    {
        re[k] = re[k - 1] * step.Cos1 - im[k - 1] * step.Sin1;
        im[k] = re[k - 1] * step.Sin1 + im[k - 1] * step.Cos1;
    }
    TDoublePair re01 = {re[0], re[1]};
    TDoublePair re23 = {re[2], re[3]};
    TDoublePair im01 = {im[0], im[1]};
    TDoublePair im23 = {im[2], im[3]};
    const TDoublePair c = {step.Cos4, step.Cos4};
    const TDoublePair s = {step.Sin4, step.Sin4};
    std::int32_t i = 0;
    for (; i + 4 <= len; i += 4)
    {
        std::memcpy(dst + i, &re01, sizeof re01);
        std::memcpy(dst + i + 2, &re23, sizeof re23);
        const TDoublePair next01 = re01 * c - im01 * s;
        const TDoublePair next23 = re23 * c - im23 * s;
        im01 = re01 * s + im01 * c;
        im23 = re23 * s + im23 * c;
        re01 = next01;
        re23 = next23;
    }
    const double tail[4] = {re01[0], re01[1], re23[0], re23[1]};
    for (int k = 0; i < len; ++i, ++k)
        dst[i] = tail[k];
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
