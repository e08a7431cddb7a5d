#include "media/WavWriter.h"
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace harvolin
{
namespace
{

// The format's sizes are 32-bit; the RIFF size counts everything after its own field.
constexpr std::uint64_t kMaxDataBytes = std::numeric_limits<std::uint32_t>::max() - 128;

void Put16(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutTag(std::vector<std::uint8_t>& out, const char (&tag)[5])
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(tag[i]));
}

std::array<std::uint8_t, 4> Le32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

std::vector<std::uint8_t> Header(const TPcmFormat& format)
{
    const bool extensible = format.Channels > 2 || format.BitsPerSample > 16;
    std::vector<std::uint8_t> out;
    PutTag(out, "RIFF");
    Put32(out, 0);   // brought up to date as data comes
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    Put32(out, extensible ? 40 : 16);
    Put16(out, extensible ? 0xFFFE : 1);
    Put16(out, format.Channels);
    Put32(out, format.FramesPerSecond);
    Put32(out, format.FramesPerSecond * format.BlockAlign());
    Put16(out, static_cast<std::uint16_t>(format.BlockAlign()));
    Put16(out, static_cast<std::uint16_t>((format.BitsPerSample + 7u) / 8u * 8u));
    if (extensible)
    {
        Put16(out, 22);
        Put16(out, format.BitsPerSample);
        Put32(out, format.Channels >= 32 ? 0xFFFFFFFFu : (1u << format.Channels) - 1u);
        // The PCM subformat {00000001-0000-0010-8000-00AA00389B71}, in the file's byte order.
        const std::uint8_t pcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                      0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        out.insert(out.end(), pcm, pcm + 16);
    }
    PutTag(out, "data");
    Put32(out, 0);
    return out;
}

}   // namespace

TWavWriter::TWavWriter(std::filesystem::path path, const TPcmFormat& format) : FPath(std::move(path))
{
    if (format.Channels == 0 || format.BitsPerSample == 0 || format.FramesPerSecond == 0)
        throw std::invalid_argument("WAV file '" + FPath.string() + "': no channels, bits or rate");
    FFile = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (FFile < 0)
        throw std::system_error(errno, std::generic_category(), "WAV file '" + FPath.string() + "': open");
    const std::vector<std::uint8_t> header = Header(format);
    FHeaderBytes = static_cast<std::uint32_t>(header.size());
    try
    {
        WriteAt(0, header.data(), header.size(), "header");
        // The RIFF size of an empty stream, so that even a file with no data reads.
        WriteAt(4, Le32(FHeaderBytes - 8).data(), 4, "header");
    }
    catch (...)
    {
        ::close(FFile);
        throw;
    }
}

TWavWriter::~TWavWriter()
{
    ::close(FFile);
}

void TWavWriter::Append(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty())
        return;
    if (FDataBytes + bytes.size() > kMaxDataBytes)
        throw std::length_error("WAV file '" + FPath.string() +
                                "': the stream passes the format's 4 GiB limit");
    WriteAt(FHeaderBytes + FDataBytes, bytes.data(), bytes.size(), "data");
    FDataBytes += bytes.size();
    // The sizes after the data, so that a header never claims bytes the file lacks.
    WriteAt(FHeaderBytes - 4, Le32(static_cast<std::uint32_t>(FDataBytes)).data(), 4, "header");
    WriteAt(4, Le32(static_cast<std::uint32_t>(FHeaderBytes - 8 + FDataBytes)).data(), 4, "header");
}

void TWavWriter::WriteAt(std::uint64_t offset, const void* data, std::size_t size, const char* what)
{
    const auto* next = static_cast<const std::uint8_t*>(data);
    while (size > 0)
    {
        const ssize_t written = ::pwrite(FFile, next, size, static_cast<off_t>(offset));
        if (written < 0)
        {
            if (errno == EINTR)
                continue;
            throw std::system_error(errno, std::generic_category(),
                                    "WAV file '" + FPath.string() + "': writing the " + what);
        }
        next += written;
        size -= static_cast<std::size_t>(written);
        offset += static_cast<std::uint64_t>(written);
    }
}

}   // namespace harvolin
