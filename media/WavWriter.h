#pragma once
#include "media/MediaTypes.h"
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace harvolin
{

// Writes a stream's exact bytes into a RIFF/WAVE file. The header's sizes are brought up to date after every
// Append, so a file cut short by a crash still reads as the stream up to its last complete append. A plain
// 44-byte header with a 16-byte "fmt " chunk (format tag 1) for up to 2 channels and 16 bits, else the
// 40-byte extensible record (format tag 0xFFFE, PCM subformat, front speakers in order).
//
// One thread at a time. Failures raise std::system_error naming the file and what failed; the file then holds
// what was written before. A stream that grows past the format's 4 GiB limit raises std::length_error and
// writes nothing more.
class TWavWriter
{
public:
    TWavWriter(std::filesystem::path path, const TPcmFormat& format);
    TWavWriter(const TWavWriter&) = delete;
    TWavWriter& operator=(const TWavWriter&) = delete;
    ~TWavWriter();

    // Appends bytes as they are (whole frames are the caller's business) and updates the header.
    void Append(std::span<const std::uint8_t> bytes);
    [[nodiscard]] std::uint64_t DataBytes() const noexcept { return FDataBytes; }
    [[nodiscard]] const std::filesystem::path& Path() const noexcept { return FPath; }
    // The header size of this file: where the data starts.
    [[nodiscard]] std::uint32_t HeaderBytes() const noexcept { return FHeaderBytes; }
private:
    void WriteAt(std::uint64_t offset, const void* data, std::size_t size, const char* what);

    const std::filesystem::path FPath;
    int FFile = -1;
    std::uint32_t FHeaderBytes = 0;
    std::uint64_t FDataBytes = 0;
};

}   // namespace harvolin
