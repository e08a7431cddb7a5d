#pragma once
#include "controls/VrSystem.h"
#include "rtl/Rounding.h"
#include <QImage>
#include <cstdint>
#include <vector>

namespace harvolin
{

// Small routines the controls share. Window thread (colours read the application palette).

[[nodiscard]] constexpr int MinIntVal(int a, int b) noexcept
{
    return a < b ? a : b;
}
[[nodiscard]] constexpr int MaxIntVal(int a, int b) noexcept
{
    return a > b ? a : b;
}
[[nodiscard]] constexpr int WidthOf(const TVrRect& r) noexcept
{
    return r.Right - r.Left;
}
[[nodiscard]] constexpr int HeightOf(const TVrRect& r) noexcept
{
    return r.Bottom - r.Top;
}

// a as a whole percentage of b, rounded half to even (RoundHalfEvenTo, as every rounding of the controls'
// geometry); 0 when b is 0.
[[nodiscard]] int SolveForPercent(int a, int b) noexcept;

// The colour with system colours replaced by what the application palette gives them.
[[nodiscard]] TColor ColorToRGB(TColor color);

struct TVrRGB
{
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;
};
// The colour's red, green and blue bytes, system colours resolved first.
[[nodiscard]] TVrRGB GetRGB(TColor color);

// Nested one-pixel frames, `width` of them from the outside in: each draws its left and top edges in
// topLeft and its right and bottom edges in bottomRight, which also takes the top-right and bottom-left
// corner pixels. r comes back shrunk by `width` on every side.
void DrawFrame3D(TVrCanvas& canvas, TVrRect& r, TColor topLeft, TColor bottomRight, int width);

// An array of owned images for the spectrum's bar images; freeing clears it.
using TVrBitmapArray = std::vector<QImage>;
void CreateBitmapArray(TVrBitmapArray& bitmaps, int count);
void FreeBitmapArray(TVrBitmapArray& bitmaps) noexcept;

}   // namespace harvolin
