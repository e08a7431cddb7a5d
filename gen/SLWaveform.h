#pragma once
#include <cstdint>
#include <vector>

namespace harvolin
{

enum TSLSignalType : std::uint8_t
{
    stTone = 0,
    stTriangle = 1,
    stSquare = 2,
    stDc = 3,
    stJaehne = 4,
};

// Half a cycle of the waveforms' own phase arithmetic. Deliberately not the exact pi (it is smaller by about
// 3.3e-8): the square wave's second ramp is kept this far from the first, and asymmetries are clamped to it.
constexpr double SignalPi = 3.141592621;

// The synthesis state of one generator: its waveform parameters and the running phases that join block to
// block without a seam. Not thread-safe: the owning generator calls every member under its own lock.
class TSLWaveform
{
public:
    TSLWaveform() = default;
    TSLWaveform(const TSLWaveform&) = delete;
    TSLWaveform& operator=(const TSLWaveform&) = delete;

    // The starting phase in radians; setting it also restarts the running phases from it. A phase outside
    // [0, 2 pi) is stored, but the tone and triangle then stay silent until a valid one is set.
    [[nodiscard]] double Phase() const { return FPhase; }
    void SetPhase(double value);

    // Peak value; the shapes use its magnitude, stDc uses it signed.
    [[nodiscard]] double Amplitude() const { return FAmplitude; }
    void SetAmplitude(double value) { FAmplitude = value; }

    // Hertz, never negative: a value that is not >= 0 (negative or not-a-number) becomes 0. Returns whether
    // the stored value changed.
    [[nodiscard]] double Frequency() const { return FFrequency; }
    bool SetFrequency(double value);

    [[nodiscard]] double Offset() const { return FOffset; }
    void SetOffset(double value) { FOffset = value; }

    // Radians, clamped to [-SignalPi, SignalPi]: where the triangle's falling part ends.
    [[nodiscard]] double Asymmetry() const { return FAsymmetry; }
    void SetAsymmetry(double value);

    // A change keeps the running phase, so a waveform switched while playing continues in phase.
    [[nodiscard]] TSLSignalType SignalType() const { return FSignalType; }
    void SetSignalType(TSLSignalType value);

    [[nodiscard]] double PhaseState() const { return FPhaseState; }
    [[nodiscard]] double SquarePhaseState() const { return FSquarePhaseState; }
    [[nodiscard]] double StreamSampleRate() const { return FStreamSampleRate; }

    // Both run at every start of the stream, so that every start begins at Phase().
    void ResetState();
    void SampleRateChanged(double rate);

    // Fills n samples and advances the running phases. Parameters the kernels refuse (a frequency at or above
    // half the sample rate, a zero amplitude, an invalid phase) give a block of zeros (plus Offset()).
    // The stream sample rate must be positive. The square wave reuses one scratch block of n samples.
    void GenerateBlock(double* samples, std::int32_t n);
private:
    void GenerateSquare(double* samples, std::int32_t n, double magnitude, double f);

    double FPhaseState = 0.0;
    double FSquarePhaseState = 0.0;
    double FPhase = 0.0;
    double FAmplitude = 0.0;
    double FFrequency = 0.0;
    double FOffset = 0.0;
    double FAsymmetry = 0.0;
    double FStreamSampleRate = 0.0;
    TSLSignalType FSignalType = stTone;
    std::vector<double>
        FSquareRamp;   // the second ramp of the square wave, kept to avoid a per-block allocation
};

}   // namespace harvolin
