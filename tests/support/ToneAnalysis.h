#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace harvolin
{

// What a listener would hear in one channel of a recording: the tone and the strongest other component.
// Levels are dBFS: a sine that swings to +-32768 is 0 dBFS, so a sine of amplitude A reads
// 20 log10(A / 32768).
struct TToneAnalysis
{
    double FrequencyHz = 0.0;    // the strongest component's, interpolated between bins
    double LevelDbfs = -400.0;   // its power, summed over the window's main lobe
    double SpurFrequencyHz = 0.0;
    double SpurDbfs = -400.0;   // the strongest component outside the tone's main lobe and DC's
    double RestDbfs = -400.0;   // all outside the tone's main lobe and DC's together (noise, every spur)
    std::size_t FftSize = 0;    // frames analysed (resolution: rate / FftSize)
};

// Analyses one channel of interleaved 16-bit frames with a Kaiser window (beta 20: side lobes near
// -190 dB, so a spur floor far under -95 dBFS is measurable; main lobe +-6.5 bins). The first skipSeconds
// are left out (a converter's start-up), and of the rest the largest power of two of frames is analysed.
// Each component's level is its power summed over +-8 bins around its peak, which is exact for a sine
// wherever it falls between bins. Throws std::invalid_argument when fewer than 4096 frames remain or the
// channel does not exist.
[[nodiscard]] TToneAnalysis AnalyseTone(std::span<const std::int16_t> frames, std::uint16_t channels,
                                        std::uint16_t channel, std::uint32_t rate, double skipSeconds = 0.05);

// What must reach a device, the program's goal: the tone within kToneLevelToleranceDb of the level it was
// sent at, and no other component above kSpurLimitDbfs.
inline constexpr double kToneLevelToleranceDb = 0.1;
inline constexpr double kSpurLimitDbfs = -95.0;

// One sine of a synthesised signal: amplitude x sin(2 pi frequency t + phase), amplitude in 16-bit steps.
struct TSine
{
    double FrequencyHz = 1000.0;
    double Amplitude = 32000.0;
    double Phase = 0.0;
};

// frameCount frames of channels channels, every channel the sum of the sines rounded half to even to
// 16 bits (as the program's converter rounds its samples) and saturated.
[[nodiscard]] std::vector<std::int16_t> SynthesiseTones(std::span<const TSine> sines, std::uint32_t rate,
                                                        std::size_t frameCount, std::uint16_t channels);

// The dBFS of a sine of this amplitude in 16-bit samples.
[[nodiscard]] double AmplitudeToDbfs(double amplitude);

}   // namespace harvolin
