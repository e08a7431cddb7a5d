#include "media/RateConverter.h"
#include "rtl/Exceptions.h"

#include <soxr.h>

#include <string>

namespace harvolin
{
namespace
{

// Beyond this either way soxr builds filters for minutes (or for ever) instead of failing; no device rate
// is that far from the stream's.
constexpr double kMaxRatio = 256.0;

std::string Describe(std::uint32_t inputRate, std::uint32_t outputRate, std::uint16_t channels)
{
    return "rate converter " + std::to_string(inputRate) + " Hz -> " + std::to_string(outputRate) + " Hz, " +
           std::to_string(channels) + " channels";
}

}   // namespace

struct TRateConverter::TState
{
    // Null when the rates are equal: the stream then passes through untouched.
    soxr_t Soxr = nullptr;
    // The text for an error of soxr_process, which cannot fail with a converter that was made.
    std::string Name;

    ~TState()
    {
        if (Soxr != nullptr)
            soxr_delete(Soxr);
    }
};

TRateConverter::TRateConverter(std::uint32_t inputRate, std::uint32_t outputRate, std::uint16_t channels)
    : FInputRate(inputRate), FOutputRate(outputRate), FChannels(channels), FState(std::make_unique<TState>())
{
    FState->Name = Describe(inputRate, outputRate, channels);
    // soxr takes zero channels without complaint and then writes nothing, which would hide the mistake.
    if (channels == 0)
        throw Exception(FState->Name + ": cannot create: no channels");
    // soxr refuses one rate of 0 but takes two, and would then write nothing.
    if (inputRate == 0 || outputRate == 0)
        throw Exception(FState->Name + ": cannot create: a rate of 0 Hz");
    if (inputRate == outputRate)
        return;
    const double ratio = static_cast<double>(inputRate) / static_cast<double>(outputRate);
    if (ratio > kMaxRatio || ratio < 1.0 / kMaxRatio)
        throw Exception(FState->Name + ": cannot create: the rates differ by more than 256 times");
    // High quality (soxr's 20-bit recipe): RateConverterTest measures what it leaves against the -95 dBFS
    // and 0.1 dB a tone at the device must meet. No dither: soxr's dither differs from one converter to the
    // next, so the same stream would not give the same bytes twice nor join the same way block by block,
    // and the stream is already rounded to 16 bits before it gets here. Plain rounding leaves its strongest
    // component at -101 dBFS (19.5 kHz at 1 % to 48 000), dither would leave -104: both meet -95.
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    io.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    FState->Soxr = soxr_create(inputRate, outputRate, channels, &error, &io, &quality, nullptr);
    if (error != nullptr || FState->Soxr == nullptr)
        throw Exception(FState->Name +
                        ": cannot create: " + (error != nullptr ? error : "soxr_create failed"));
}

TRateConverter::~TRateConverter() = default;

void TRateConverter::Process(const std::int16_t* input, std::size_t frameCount,
                             std::vector<std::int16_t>& output)
{
    if (frameCount == 0)
        return;   // a null input would tell soxr that the stream ended
    if (FState->Soxr == nullptr)
    {
        output.insert(output.end(), input, input + frameCount * FChannels);
        return;
    }
    // Room for what this input yields at once plus the filter's backlog; the loop takes any remainder.
    const std::size_t room = frameCount * FOutputRate / FInputRate + 256;
    std::size_t consumed = 0;
    for (;;)
    {
        const std::size_t start = output.size();
        output.resize(start + room * FChannels);
        std::size_t taken = 0;
        std::size_t made = 0;
        const soxr_error_t error =
            soxr_process(FState->Soxr, input + consumed * FChannels, frameCount - consumed, &taken,
                         output.data() + start, room, &made);
        output.resize(start + made * FChannels);
        if (error != nullptr)
            throw Exception(FState->Name + ": soxr_process: " + error);
        consumed += taken;
        if (consumed == frameCount && made < room)
            return;
    }
}

void TRateConverter::Flush(std::vector<std::int16_t>& output)
{
    if (FState->Soxr == nullptr)
        return;
    constexpr std::size_t kRoom = 4096;
    for (;;)
    {
        const std::size_t start = output.size();
        output.resize(start + kRoom * FChannels);
        std::size_t made = 0;
        // A null input is soxr's end of stream: it drains the filter's tail.
        const soxr_error_t error =
            soxr_process(FState->Soxr, nullptr, 0, nullptr, output.data() + start, kRoom, &made);
        output.resize(start + made * FChannels);
        if (error != nullptr)
            throw Exception(FState->Name + ": soxr_process: " + error);
        if (made < kRoom)
            break;
    }
    Reset();
}

void TRateConverter::Reset()
{
    if (FState->Soxr != nullptr)
        soxr_clear(FState->Soxr);
}

}   // namespace harvolin
