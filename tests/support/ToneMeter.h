#pragma once
#include "tests/support/ToneAnalysis.h"
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace harvolin
{

// A recording that cannot be measured: the message names the file and why ("recording 'x.wav': no RIFF
// header").
class ERecordingError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Interleaved 16-bit frames and what they are.
struct TPcmRecording
{
    std::uint32_t Rate = 0;
    std::uint16_t Channels = 0;
    std::vector<std::int16_t> Samples;

    [[nodiscard]] std::size_t Frames() const noexcept
    {
        return Channels == 0 ? 0 : Samples.size() / Channels;
    }
};

// Reads a RIFF/WAVE file of 16-bit PCM in 1 or 2 channels: the plain 16-byte "fmt " chunk (format tag 1) or
// the 40-byte extensible one with the PCM subformat, as the null renderer writes both, and chunks it does
// not know skipped. Raises ERecordingError when the file cannot be opened, is no WAV file, holds another
// format, or ends before the sizes its header gives.
[[nodiscard]] TPcmRecording ReadWavRecording(const std::filesystem::path& file);
// Reads interleaved S16LE frames without a header; a trailing part of a frame is an error.
[[nodiscard]] TPcmRecording ReadRawRecording(const std::filesystem::path& file, std::uint32_t rate,
                                             std::uint16_t channels);

// Every channel of frames [skip, skip + length) of the recording (length: to the end when not given),
// analysed as AnalyseTone does. Raises ERecordingError, naming what, when the part is too short.
[[nodiscard]] std::vector<TToneAnalysis> MeasureRecording(const TPcmRecording& recording, double skipSeconds,
                                                          std::optional<double> lengthSeconds,
                                                          const std::string& what);

// The tone meter's command line (arguments without the program's name):
//   [--raw --rate R --channels C] [--skip SECONDS] [--length SECONDS] [--json] FILE
// Prints per channel the tone's frequency and level and the strongest other component to out, as text or
// one JSON object; returns 0. A command line it does not understand: usage to err, 1. A file it cannot read
// or measure: "harvolin_tone_meter: <why>" to err, 2.
int RunToneMeter(std::span<const std::string> arguments, std::ostream& out, std::ostream& err);

}   // namespace harvolin
