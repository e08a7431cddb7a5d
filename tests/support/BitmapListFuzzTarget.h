#pragma once
#include "controls/VrClasses.h"
#include <QImage>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace harvolin
{

// One input of the bitmap list's stream fuzzer, also replayed by the controls' tests; needs Qt's image
// decoding (a QGuiApplication, or at least the PNG reader, in the process). A stream the reader refuses must
// raise EInvalidGraphic and leave the list as it was; a stream it takes must hold as many images as it
// says, and what the list then writes must read back to the same stream. Anything else is a fault and
// leaves as std::logic_error (or whatever else escaped the reader).
inline void ExerciseBitmapListReader(std::span<const std::uint8_t> bytes)
{
    TVrBitmaps bitmaps;
    QImage kept(3, 2, QImage::Format_RGB32);
    kept.fill(qRgb(200, 10, 20));
    bitmaps.Add(kept);
    const std::vector<std::uint8_t> before = bitmaps.WriteData();
    int changes = 0;
    bitmaps.OnChange = [&](TVrPersistent&) { ++changes; };
    try
    {
        bitmaps.ReadData(bytes);
    }
    catch (const EInvalidGraphic&)
    {
        if (changes != 0 || bitmaps.WriteData() != before)
            throw std::logic_error("a refused stream changed the list");
        return;
    }
    // Only a stream with its signature and count gets here, so the count can be read.
    const std::uint32_t count =
        static_cast<std::uint32_t>(bytes[4]) | static_cast<std::uint32_t>(bytes[5]) << 8 |
        static_cast<std::uint32_t>(bytes[6]) << 16 | static_cast<std::uint32_t>(bytes[7]) << 24;
    if (static_cast<std::uint32_t>(bitmaps.Count()) != count)
        throw std::logic_error("the stream says " + std::to_string(count) + " images, the list holds " +
                               std::to_string(bitmaps.Count()));
    if (changes != 1)
        throw std::logic_error("a read notified " + std::to_string(changes) + " times");
    for (int i = 0; i < bitmaps.Count(); ++i)
        if (bitmaps.Bitmaps(i).isNull())
            throw std::logic_error("image " + std::to_string(i + 1) + " was read as a null image");
    std::vector<std::uint8_t> written;
    try
    {
        written = bitmaps.WriteData();
    }
    catch (const EInvalidGraphic& error)
    {
        throw std::logic_error(std::string("a list read from a stream cannot be written: ") + error.what());
    }
    TVrBitmaps again;
    try
    {
        again.ReadData(written);
    }
    catch (const EInvalidGraphic& error)
    {
        throw std::logic_error(std::string("a written stream does not read back: ") + error.what());
    }
    if (again.WriteData() != written)
        throw std::logic_error("writing a read stream again changed it");
}

}   // namespace harvolin
