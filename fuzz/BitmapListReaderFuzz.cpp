#include "tests/support/BitmapListFuzzTarget.h"
#include <QGuiApplication>
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <random>
#include <span>

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);

namespace
{

// Only the stream reader's unit is instrumented, so libFuzzer sees nothing of how far into a PNG the
// decoder got; and libpng refuses a chunk whose CRC is wrong before it looks at the chunk. Without help,
// almost every mutation of an image dies at its first CRC and the decoder proper is never exercised.

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size)
{
    static const auto table = []
    {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t n = 0; n < 256; ++n)
        {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
        return entries;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t k = 0; k < size; ++k)
        crc = table[(crc ^ data[k]) & 0xFFu] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::uint32_t BigEndian(const std::uint8_t* at)
{
    return static_cast<std::uint32_t>(at[0]) << 24 | static_cast<std::uint32_t>(at[1]) << 16 |
           static_cast<std::uint32_t>(at[2]) << 8 | at[3];
}

void PutBigEndian(std::uint8_t* at, std::uint32_t value)
{
    for (int k = 0; k < 4; ++k)
        at[k] = static_cast<std::uint8_t>(value >> (24 - 8 * k));
}

std::uint32_t LittleEndian(const std::uint8_t* at)
{
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

void PutLittleEndian(std::uint8_t* at, std::uint32_t value)
{
    for (int k = 0; k < 4; ++k)
        at[k] = static_cast<std::uint8_t>(value >> (8 * k));
}

// Makes the CRC of every whole chunk of the PNG file in image right.
void RepairPng(std::uint8_t* image, std::size_t size)
{
    std::size_t at = 8;   // the PNG signature, left as it is
    while (size >= at + 12)
    {
        const std::uint32_t length = BigEndian(image + at);
        if (length > size - at - 12)
            return;
        PutBigEndian(image + at + 8 + length, Crc32(image + at + 4, 4 + std::size_t{length}));
        at += 12 + std::size_t{length};
    }
}

// Makes the stream's framing consistent with its size: the signature, each image's length cut to what is
// left, the count the number of images there are, and each image's chunk CRCs right.
void RepairStream(std::uint8_t* data, std::size_t size)
{
    if (size < 8)
        return;
    const std::uint8_t signature[4] = {0x62, 0x54, 0x35, 0x00};
    std::copy(std::begin(signature), std::end(signature), data);
    std::uint32_t count = 0;
    std::size_t at = 8;
    while (size - at >= 4)
    {
        std::uint32_t length = LittleEndian(data + at);
        if (length > size - at - 4)
        {
            length = static_cast<std::uint32_t>(size - at - 4);
            PutLittleEndian(data + at, length);
        }
        RepairPng(data + at + 4, length);
        at += 4 + std::size_t{length};
        ++count;
    }
    PutLittleEndian(data + 4, count);
}

}   // namespace

// Qt's image readers want an application for their plugins; the offscreen platform needs no display. It
// lives as long as the process: libFuzzer never returns from its loop.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // libpng's warnings about damaged files, one per input, would drown libFuzzer's own report.
    setenv("QT_LOGGING_RULES", "qt.gui.imageio=false", 0);
    static QGuiApplication application(*argc, *argv);
    return 0;
}

// libFuzzer's own mutation, then, for three inputs in four, the framing and the CRCs made consistent again;
// the fourth keeps the stream's own faults (lengths, counts, signature) in play.
extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                               unsigned int seed)
{
    size = LLVMFuzzerMutate(data, size, maxSize);
    if (std::minstd_rand(seed)() % 4 != 0)
        RepairStream(data, size);
    return size;
}

// Feeds arbitrary bytes to the bitmap list's stream reader. Anything but EInvalidGraphic leaving the reader,
// a refused stream that changed the list or a read stream that does not write back ends the run as a
// finding.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    harvolin::ExerciseBitmapListReader(std::span<const std::uint8_t>(data, size));
    return 0;
}
