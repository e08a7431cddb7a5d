#include "controls/VrSysUtils.h"
#include <cmath>

namespace harvolin
{

int SolveForPercent(int a, int b) noexcept
{
    if (b == 0)
        return 0;
    return RoundHalfEvenTo<int>(static_cast<double>(a) * 100.0 / static_cast<double>(b));
}

TColor ColorToRGB(TColor color)
{
    return color < 0 ? QRgbToColor(ColorToQRgb(color)) : color;
}

TVrRGB GetRGB(TColor color)
{
    const auto c = static_cast<std::uint32_t>(ColorToRGB(color));
    return {static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>((c >> 8) & 0xFF),
            static_cast<std::uint8_t>((c >> 16) & 0xFF)};
}

void DrawFrame3D(TVrCanvas& canvas, TVrRect& r, TColor topLeft, TColor bottomRight, int width)
{
    // Corner points on the last row and column inside r, since lines leave out their end point.
    --r.Bottom;
    --r.Right;
    for (int i = 0; i < width; ++i)
    {
        canvas.SetPenColor(topLeft);
        canvas.Polyline({{r.Left, r.Bottom}, {r.Left, r.Top}, {r.Right, r.Top}});
        canvas.SetPenColor(bottomRight);
        canvas.Polyline({{r.Right, r.Top}, {r.Right, r.Bottom}, {r.Left - 1, r.Bottom}});
        r.Inflate(-1, -1);
    }
    ++r.Bottom;
    ++r.Right;
}

void CreateBitmapArray(TVrBitmapArray& bitmaps, int count)
{
    bitmaps.assign(static_cast<std::size_t>(count > 0 ? count : 0), QImage());
}

void FreeBitmapArray(TVrBitmapArray& bitmaps) noexcept
{
    bitmaps.clear();
}

}   // namespace harvolin
