#include "tests/support/ToneAnalysis.h"

#include <fftw3.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>

namespace harvolin
{
namespace
{

constexpr double kKaiserBeta = 20.0;
// Main lobe half-width of the Kaiser window is sqrt(1 + (beta / pi)^2) = 6.4 bins; two more take in the
// skirt down to the side-lobe level.
constexpr std::ptrdiff_t kLobeBins = 8;
constexpr std::size_t kMinFrames = 4096;
constexpr double kFullScale = 32768.0;

std::vector<double> KaiserWindow(std::size_t size)
{
    std::vector<double> window(size);
    const double norm = std::cyl_bessel_i(0.0, kKaiserBeta);
    for (std::size_t n = 0; n < size; ++n)
    {
        const double x = 2.0 * static_cast<double>(n) / static_cast<double>(size - 1) - 1.0;
        window[n] = std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(std::max(0.0, 1.0 - x * x))) / norm;
    }
    return window;
}

struct TFftwFree
{
    void operator()(void* block) const noexcept { fftw_free(block); }
};

// Power of each bin from 0 to size / 2 of the windowed channel, as a share of the one-sided spectrum.
std::vector<double> PowerSpectrum(std::span<const std::int16_t> frames, std::uint16_t channels,
                                  std::uint16_t channel, std::size_t first, std::size_t size,
                                  const std::vector<double>& window)
{
    std::unique_ptr<double, TFftwFree> in(static_cast<double*>(fftw_malloc(sizeof(double) * size)));
    std::unique_ptr<fftw_complex, TFftwFree> out(
        static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (size / 2 + 1))));
    for (std::size_t n = 0; n < size; ++n)
        in.get()[n] = window[n] * frames[(first + n) * channels + channel];
    // The planner keeps global state that is not thread-safe; tests analyse on one thread.
    fftw_plan plan = fftw_plan_dft_r2c_1d(static_cast<int>(size), in.get(), out.get(), FFTW_ESTIMATE);
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    std::vector<double> power(size / 2 + 1);
    for (std::size_t k = 0; k < power.size(); ++k)
        power[k] = out.get()[k][0] * out.get()[k][0] + out.get()[k][1] * out.get()[k][1];
    // Every other bin stands for its mirror at the negative frequency too, and the levels count it twice;
    // zero and half the rate are their own mirrors. Counted twice, a component at half the rate (the
    // rounding of a tone that repeats every few samples puts one there) would read 1.4 dB too loud.
    power.front() /= 2.0;
    power.back() /= 2.0;
    return power;
}

std::size_t LobeStart(std::size_t bin)
{
    return bin > static_cast<std::size_t>(kLobeBins) ? bin - kLobeBins : 0;
}

}   // namespace

double AmplitudeToDbfs(double amplitude)
{
    return 20.0 * std::log10(amplitude / kFullScale);
}

TToneAnalysis AnalyseTone(std::span<const std::int16_t> frames, std::uint16_t channels, std::uint16_t channel,
                          std::uint32_t rate, double skipSeconds)
{
    if (channel >= channels)
        throw std::invalid_argument("tone analysis: channel " + std::to_string(channel) + " of " +
                                    std::to_string(channels));
    const std::size_t total = frames.size() / channels;
    const auto skip = static_cast<std::size_t>(std::llround(skipSeconds * rate));
    if (total < skip + kMinFrames)
        throw std::invalid_argument("tone analysis: " + std::to_string(total) + " frames, " +
                                    std::to_string(skip) + " of them skipped, leave fewer than " +
                                    std::to_string(kMinFrames));
    const std::size_t size = std::bit_floor(total - skip);
    const auto window = KaiserWindow(size);
    const auto power = PowerSpectrum(frames, channels, channel, skip, size, window);

    // A sine of amplitude A puts N A^2 / 4 x mean(w^2) into its positive-frequency lobe.
    double windowEnergy = 0.0;
    for (double w : window)
        windowEnergy += w * w;
    const auto lobeDbfs = [&](std::size_t peak, std::size_t lowest, std::size_t highest)
    {
        double sum = 0.0;
        for (std::size_t k = std::max(LobeStart(peak), lowest); k <= std::min(peak + kLobeBins, highest); ++k)
            sum += power[k];
        const double amplitude = std::sqrt(4.0 * sum / (static_cast<double>(size) * windowEnergy));
        return 20.0 * std::log10(std::max(amplitude, 1e-20) / kFullScale);
    };
    const std::size_t last = power.size() - 1;
    const double binHz = static_cast<double>(rate) / static_cast<double>(size);

    // DC and its lobe are no tone: a converter's offset is not what a listener hears.
    const std::size_t firstBin = kLobeBins + 1;
    const auto toneBin =
        static_cast<std::size_t>(std::max_element(power.begin() + firstBin, power.end()) - power.begin());
    TToneAnalysis result;
    result.FftSize = size;
    result.LevelDbfs = lobeDbfs(toneBin, firstBin, last);
    // Parabola through the log power of the peak and its neighbours: with a Kaiser lobe, which is near a
    // Gaussian, this lands within a hundredth of a bin.
    double offset = 0.0;
    if (toneBin < last)
    {
        const double a = std::log(power[toneBin - 1]);
        const double b = std::log(power[toneBin]);
        const double c = std::log(power[toneBin + 1]);
        const double curve = a - 2.0 * b + c;
        if (curve < 0.0)
            offset = 0.5 * (a - c) / curve;
    }
    result.FrequencyHz = (static_cast<double>(toneBin) + offset) * binHz;

    std::size_t spurBin = 0;
    double spurPower = -1.0;
    double restPower = 0.0;
    for (std::size_t k = firstBin; k <= last; ++k)
    {
        if (k + kLobeBins >= toneBin && k <= toneBin + kLobeBins)
            continue;
        restPower += power[k];
        if (power[k] > spurPower)
        {
            spurPower = power[k];
            spurBin = k;
        }
    }
    if (spurPower >= 0.0)
    {
        result.SpurFrequencyHz = static_cast<double>(spurBin) * binHz;
        // Its lobe without the tone's: a spur next to the tone must not borrow the tone's power.
        const std::size_t low = spurBin < toneBin ? firstBin : toneBin + kLobeBins + 1;
        const std::size_t high = spurBin < toneBin ? toneBin - kLobeBins - 1 : last;
        result.SpurDbfs = lobeDbfs(spurBin, low, high);
    }
    // Scaled as a sine's lobe is, the sum is the rest's mean power relative to a full-scale sine's: for
    // noise of variance s^2 the positive bins hold N s^2 x sum(w^2) / 2, which reads as s^2 / (32768^2 / 2).
    result.RestDbfs =
        10.0 * std::log10(std::max(2.0 * restPower / (static_cast<double>(size) * windowEnergy), 1e-40) /
                          (kFullScale * kFullScale / 2.0));
    return result;
}

std::vector<std::int16_t> SynthesiseTones(std::span<const TSine> sines, std::uint32_t rate,
                                          std::size_t frameCount, std::uint16_t channels)
{
    std::vector<std::int16_t> frames(frameCount * channels);
    for (std::size_t n = 0; n < frameCount; ++n)
    {
        const double t = static_cast<double>(n) / static_cast<double>(rate);
        double value = 0.0;
        for (const TSine& sine : sines)
            value += sine.Amplitude * std::sin(2.0 * std::numbers::pi * sine.FrequencyHz * t + sine.Phase);
        // nearbyint rounds half to even in the default rounding mode.
        const auto sample = static_cast<std::int16_t>(std::clamp(std::nearbyint(value), -32768.0, 32767.0));
        std::fill_n(frames.begin() + static_cast<std::ptrdiff_t>(n * channels), channels, sample);
    }
    return frames;
}

}   // namespace harvolin
