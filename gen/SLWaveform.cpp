#include "gen/SLWaveform.h"

#include "kernels/SLVecKernels.h"

#include <algorithm>
#include <cmath>

namespace harvolin
{

namespace
{

// Half a cycle on from phase, in the waveforms' own arithmetic of SignalPi.
double HalfCycleLater(double phase)
{
    double result = phase + SignalPi;
    if (result > 2.0 * SignalPi)
        result -= 2.0 * SignalPi;
    return result;
}

// The square's ramps overshoot the clip level by a fifth, so that the clip, not the ramps' edges, makes the
// flat tops. An extended literal, as the ramps are formed in extended precision.
constexpr long double kSquareOvershoot = 1.2L;

}   // namespace

void TSLWaveform::SetPhase(double value)
{
    FPhase = value;
    FPhaseState = value;
    FSquarePhaseState = HalfCycleLater(value);
}

bool TSLWaveform::SetFrequency(double value)
{
    if (!(value >= 0.0))
        value = 0.0;
    const bool changed = value != FFrequency;
    FFrequency = value;
    return changed;
}

void TSLWaveform::SetAsymmetry(double value)
{
    FAsymmetry = std::clamp(value, -SignalPi, SignalPi);
}

void TSLWaveform::SetSignalType(TSLSignalType value)
{
    if (value == FSignalType)
        return;
    FSignalType = value;
    FSquarePhaseState = HalfCycleLater(FPhaseState);
}

void TSLWaveform::ResetState()
{
    FPhaseState = FPhase;
    FSquarePhaseState = HalfCycleLater(FPhase);
}

void TSLWaveform::SampleRateChanged(double rate)
{
    FStreamSampleRate = rate;
}

void TSLWaveform::GenerateBlock(double* samples, std::int32_t n)
{
    if (samples == nullptr || n < 1)
        return;
    const double f = FFrequency / FStreamSampleRate;
    const double magnitude = std::fabs(FAmplitude);
    switch (FSignalType)
    {
    case stTone:
        if (VecTone(samples, n, magnitude, f, &FPhaseState, 0) != kVecOk)
            VecZeroReal(samples, n);
        break;
    case stTriangle:
        if (VecTriangle(samples, n, magnitude, f, FAsymmetry, &FPhaseState) != kVecOk)
            VecZeroReal(samples, n);
        break;
    case stSquare:
        GenerateSquare(samples, n, magnitude, f);
        break;
    case stDc:
        VecSetReal(FAmplitude, samples, n);
        break;
    case stJaehne:
        VecJaehne(samples, n, magnitude);
        break;
    }
    VecAddConstReal(FOffset, samples, n);   // writes nothing for an offset of 0
}

// A falling and a rising sawtooth half a cycle apart add up to +1.2 A over the first half of each cycle and
// -1.2 A over the second; the clip turns that into +A / -A.
void TSLWaveform::GenerateSquare(double* samples, std::int32_t n, double magnitude, double f)
{
    FSquareRamp.resize(static_cast<std::size_t>(n));
    const double rampMagnitude = static_cast<double>(kSquareOvershoot * magnitude);
    const std::int32_t falling = VecTriangle(samples, n, rampMagnitude, f, SignalPi, &FPhaseState);
    const std::int32_t rising =
        VecTriangle(FSquareRamp.data(), n, rampMagnitude, f, -SignalPi, &FSquarePhaseState);
    if (falling != kVecOk || rising != kVecOk)
    {
        // A refused ramp leaves its block as it was: old samples of a recycled block, or the previous ramp.
        // Silence is the only sound answer, as for the other shapes.
        VecZeroReal(samples, n);
        return;
    }
    VecAddReal(FSquareRamp.data(), samples, n);
    VecThreshold(samples, n, -magnitude, -magnitude, magnitude, magnitude);
}

}   // namespace harvolin
