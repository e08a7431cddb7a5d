#include "tests/support/ToneMeter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <ostream>
#include <sstream>

namespace harvolin
{
namespace
{

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// The PCM subformat's identifier starts with the format tag; the rest is the fixed tail of every such
// identifier.
constexpr std::uint8_t kPcmSubformat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw ERecordingError("recording '" + file.string() + "': cannot open: " + std::strerror(errno));
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        throw ERecordingError("recording '" + file.string() + "': cannot read: " + std::strerror(errno));
    return bytes;
}

std::uint16_t UInt16(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::uint32_t UInt32(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

bool Tag(const std::vector<std::uint8_t>& bytes, std::size_t at, const char* tag)
{
    return std::memcmp(bytes.data() + at, tag, 4) == 0;
}

std::vector<std::int16_t> Samples(const std::uint8_t* data, std::size_t byteCount)
{
    std::vector<std::int16_t> samples(byteCount / 2);
    for (std::size_t k = 0; k < samples.size(); ++k)
        samples[k] = static_cast<std::int16_t>(data[2 * k] | data[2 * k + 1] << 8);
    return samples;
}

// The format of a "fmt " chunk of size bytes at at; raises unless it is 16-bit PCM in 1 or 2 channels.
void ReadFormat(const std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t size,
                TPcmRecording& recording, const std::string& name)
{
    if (size < 16)
        throw ERecordingError(name + ": a \"fmt \" chunk of " + std::to_string(size) + " bytes");
    std::uint16_t tag = UInt16(bytes, at);
    if (tag == kFormatExtensible)
    {
        if (size < 40)
            throw ERecordingError(name + ": an extensible format of " + std::to_string(size) + " bytes");
        if (std::memcmp(bytes.data() + at + 24, kPcmSubformat, sizeof kPcmSubformat) != 0)
            throw ERecordingError(name + ": an extensible format whose subformat is not PCM");
        tag = kFormatPcm;
    }
    if (tag != kFormatPcm)
        throw ERecordingError(name + ": format tag " + std::to_string(tag) + ", not PCM");
    recording.Channels = UInt16(bytes, at + 2);
    recording.Rate = UInt32(bytes, at + 4);
    const std::uint16_t bits = UInt16(bytes, at + 14);
    if (bits != 16)
        throw ERecordingError(name + ": " + std::to_string(bits) + "-bit samples, not 16-bit");
    if (recording.Channels != 1 && recording.Channels != 2)
        throw ERecordingError(name + ": " + std::to_string(recording.Channels) + " channels, not 1 or 2");
    if (recording.Rate == 0)
        throw ERecordingError(name + ": a rate of 0 frames per second");
}

bool ParseNumber(const std::string& text, double& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

struct TMeterArguments
{
    std::string File;
    bool Raw = false;
    bool Json = false;
    double Rate = 0.0;
    double Channels = 0.0;
    double Skip = 0.0;
    std::optional<double> Length;
};

constexpr char kUsage[] = "usage: harvolin_tone_meter [--raw --rate R --channels C] [--skip SECONDS] "
                          "[--length SECONDS] [--json] FILE\n";

// The arguments, or the reason they are not understood.
std::optional<TMeterArguments> ParseArguments(std::span<const std::string> arguments, std::string& why)
{
    TMeterArguments parsed;
    bool rateGiven = false;
    bool channelsGiven = false;
    for (std::size_t k = 0; k < arguments.size(); ++k)
    {
        const std::string& argument = arguments[k];
        const auto number = [&](double& value, double lowest)
        {
            if (k + 1 >= arguments.size())
            {
                why = argument + " needs a value";
                return false;
            }
            if (!ParseNumber(arguments[++k], value) || value < lowest)
            {
                why = argument + " " + arguments[k] + ": not a number of at least " + std::to_string(lowest);
                return false;
            }
            return true;
        };
        if (argument == "--raw")
            parsed.Raw = true;
        else if (argument == "--json")
            parsed.Json = true;
        else if (argument == "--rate")
        {
            if (!number(parsed.Rate, 1.0))
                return std::nullopt;
            rateGiven = true;
        }
        else if (argument == "--channels")
        {
            if (!number(parsed.Channels, 1.0))
                return std::nullopt;
            channelsGiven = true;
        }
        else if (argument == "--skip")
        {
            if (!number(parsed.Skip, 0.0))
                return std::nullopt;
        }
        else if (argument == "--length")
        {
            double length = 0.0;
            if (!number(length, 0.0))
                return std::nullopt;
            parsed.Length = length;
        }
        else if (argument.starts_with("--") || !parsed.File.empty())
        {
            why = "unexpected argument '" + argument + "'";
            return std::nullopt;
        }
        else
            parsed.File = argument;
    }
    if (parsed.File.empty())
        why = "no file given";
    else if (parsed.Raw && (!rateGiven || !channelsGiven))
        why = "--raw needs --rate and --channels";
    else if (!parsed.Raw && (rateGiven || channelsGiven))
        why = "--rate and --channels describe a --raw file; a WAV file says its own";
    else if (parsed.Raw && (parsed.Rate != std::floor(parsed.Rate) || parsed.Rate > 1e7 ||
                            (parsed.Channels != 1.0 && parsed.Channels != 2.0)))
        why = "--rate must be a whole number of frames per second and --channels 1 or 2";
    if (!why.empty())
        return std::nullopt;
    return parsed;
}

std::string Fixed(double value, int decimals)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

std::string JsonString(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text)
    {
        if (c == '"' || c == '\\')
            quoted += std::string("\\") + c;
        else if (static_cast<unsigned char>(c) < 0x20)
        {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            quoted += escaped;
        }
        else
            quoted += c;
    }
    return quoted + "\"";
}

}   // namespace

TPcmRecording ReadWavRecording(const std::filesystem::path& file)
{
    const std::string name = "recording '" + file.string() + "'";
    const std::vector<std::uint8_t> bytes = ReadBytes(file);
    if (bytes.size() < 12 || !Tag(bytes, 0, "RIFF") || !Tag(bytes, 8, "WAVE"))
        throw ERecordingError(name + ": not a WAV file (no RIFF/WAVE header)");
    TPcmRecording recording;
    bool formatSeen = false;
    std::size_t at = 12;
    for (;;)
    {
        if (bytes.size() - at < 8)
            throw ERecordingError(name + ": ends after " + std::to_string(bytes.size()) +
                                  " bytes without a \"data\" chunk");
        const std::uint32_t size = UInt32(bytes, at + 4);
        const std::size_t body = at + 8;
        if (Tag(bytes, at, "data"))
        {
            if (!formatSeen)
                throw ERecordingError(name + ": a \"data\" chunk before the \"fmt \" chunk");
            if (bytes.size() - body < size)
                throw ERecordingError(name + ": truncated: the header gives " + std::to_string(size) +
                                      " bytes of samples, the file holds " +
                                      std::to_string(bytes.size() - body));
            if (size % (2u * recording.Channels) != 0)
                throw ERecordingError(name + ": " + std::to_string(size) + " bytes of samples are no whole " +
                                      std::to_string(recording.Channels) + "-channel frames");
            recording.Samples = Samples(bytes.data() + body, size);
            return recording;
        }
        if (bytes.size() - body < size)
            throw ERecordingError(name + ": truncated inside its \"" +
                                  std::string(reinterpret_cast<const char*>(bytes.data() + at), 4) +
                                  "\" chunk");
        if (Tag(bytes, at, "fmt "))
        {
            ReadFormat(bytes, body, size, recording, name);
            formatSeen = true;
        }
        // Chunks are padded to an even size.
        at = body + size + (size & 1u);
        if (at > bytes.size())
            at = bytes.size();
    }
}

TPcmRecording ReadRawRecording(const std::filesystem::path& file, std::uint32_t rate, std::uint16_t channels)
{
    const std::vector<std::uint8_t> bytes = ReadBytes(file);
    if (bytes.size() % (2u * channels) != 0)
        throw ERecordingError("recording '" + file.string() + "': " + std::to_string(bytes.size()) +
                              " bytes are no whole " + std::to_string(channels) + "-channel frames");
    return {rate, channels, Samples(bytes.data(), bytes.size())};
}

std::vector<TToneAnalysis> MeasureRecording(const TPcmRecording& recording, double skipSeconds,
                                            std::optional<double> lengthSeconds, const std::string& what)
{
    const std::size_t frames = recording.Frames();
    const auto skip = static_cast<std::size_t>(std::llround(skipSeconds * recording.Rate));
    std::size_t length = skip < frames ? frames - skip : 0;
    if (lengthSeconds)
        length = std::min(length, static_cast<std::size_t>(std::llround(*lengthSeconds * recording.Rate)));
    const std::span<const std::int16_t> part =
        std::span<const std::int16_t>(recording.Samples)
            .subspan(std::min(skip, frames) * recording.Channels, length * recording.Channels);
    std::vector<TToneAnalysis> channels;
    for (std::uint16_t channel = 0; channel < recording.Channels; ++channel)
    {
        try
        {
            channels.push_back(AnalyseTone(part, recording.Channels, channel, recording.Rate, 0.0));
        }
        catch (const std::invalid_argument&)
        {
            throw ERecordingError(what + ": " + std::to_string(length) + " frames to analyse (" +
                                  std::to_string(frames) + " in all, " + std::to_string(skip) +
                                  " skipped): at least 4096 are needed");
        }
    }
    return channels;
}

int RunToneMeter(std::span<const std::string> arguments, std::ostream& out, std::ostream& err)
{
    std::string why;
    const std::optional<TMeterArguments> parsed = ParseArguments(arguments, why);
    if (!parsed)
    {
        err << "harvolin_tone_meter: " << why << "\n" << kUsage;
        return 1;
    }
    TPcmRecording recording;
    std::vector<TToneAnalysis> channels;
    try
    {
        recording = parsed->Raw ? ReadRawRecording(parsed->File, static_cast<std::uint32_t>(parsed->Rate),
                                                   static_cast<std::uint16_t>(parsed->Channels))
                                : ReadWavRecording(parsed->File);
        channels =
            MeasureRecording(recording, parsed->Skip, parsed->Length, "recording '" + parsed->File + "'");
    }
    catch (const ERecordingError& error)
    {
        err << "harvolin_tone_meter: " << error.what() << "\n";
        return 2;
    }
    const std::size_t fftSize = channels.front().FftSize;
    const double resolution = static_cast<double>(recording.Rate) / static_cast<double>(fftSize);
    if (parsed->Json)
    {
        out << "{\"file\": " << JsonString(parsed->File) << ", \"rate\": " << recording.Rate
            << ", \"channels\": " << recording.Channels << ", \"frames_analysed\": " << fftSize
            << ", \"bin_hz\": " << Fixed(resolution, 4) << ", \"measured\": [";
        for (std::size_t k = 0; k < channels.size(); ++k)
            out << (k == 0 ? "" : ", ") << "{\"channel\": " << k
                << ", \"frequency_hz\": " << Fixed(channels[k].FrequencyHz, 3)
                << ", \"level_dbfs\": " << Fixed(channels[k].LevelDbfs, 3)
                << ", \"spur_frequency_hz\": " << Fixed(channels[k].SpurFrequencyHz, 1)
                << ", \"spur_dbfs\": " << Fixed(channels[k].SpurDbfs, 2) << "}";
        out << "]}\n";
        return 0;
    }
    out << parsed->File << ": " << recording.Rate << " frames/s, " << recording.Channels << " channel(s), "
        << fftSize << " frames analysed (bins of " << Fixed(resolution, 3) << " Hz)\n";
    for (std::size_t k = 0; k < channels.size(); ++k)
        out << "channel " << k << ": tone " << Fixed(channels[k].FrequencyHz, 3) << " Hz at "
            << Fixed(channels[k].LevelDbfs, 3) << " dBFS; strongest other "
            << Fixed(channels[k].SpurFrequencyHz, 1) << " Hz at " << Fixed(channels[k].SpurDbfs, 2)
            << " dBFS\n";
    return 0;
}

}   // namespace harvolin
