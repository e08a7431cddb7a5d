#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace harvolin
{

// Converts a stream of interleaved signed 16-bit frames from one rate to another with a band-limited
// converter of high quality, so that a tone near the top of the audible band reaches a device at its own
// rate without an audible alias and at its own level. One converter serves one stream: it keeps the
// filter's history between calls, so the blocks of a stream join without a seam.
//
// Threads: one thread at a time (the one that writes to the device). Failure: the constructor throws
// Exception naming the rates when the converter cannot be made; Process never fails once made.
class TRateConverter
{
public:
    TRateConverter(std::uint32_t inputRate, std::uint32_t outputRate, std::uint16_t channels);
    TRateConverter(const TRateConverter&) = delete;
    TRateConverter& operator=(const TRateConverter&) = delete;
    ~TRateConverter();

    // Converts frameCount whole frames and appends what comes out (whole frames) to output. Output lags
    // input by the converter's delay, a few milliseconds; Flush hands out the rest.
    void Process(const std::int16_t* input, std::size_t frameCount, std::vector<std::int16_t>& output);
    // Appends what the converter still holds, as if the stream ended here, and readies it for a new stream.
    void Flush(std::vector<std::int16_t>& output);
    // Forgets the stream without output: the next Process starts afresh (after a stop or a drop).
    void Reset();

    [[nodiscard]] std::uint32_t InputRate() const noexcept { return FInputRate; }
    [[nodiscard]] std::uint32_t OutputRate() const noexcept { return FOutputRate; }
    [[nodiscard]] std::uint16_t Channels() const noexcept { return FChannels; }
private:
    struct TState;

    const std::uint32_t FInputRate;
    const std::uint32_t FOutputRate;
    const std::uint16_t FChannels;
    std::unique_ptr<TState> FState;
};

}   // namespace harvolin
