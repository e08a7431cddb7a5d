#pragma once
#include <QColor>
#include <QCursor>
#include <QImage>
#include <QRect>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace harvolin
{

class TDescValue;

// A colour as stored descriptions give it: 0x00BBGGRR (red in the low byte), or, when negative, a system
// colour whose low byte is the index of the system's colour table (clBtnFace is 0x8000000F).
using TColor = std::int32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clNone = 0x1FFFFFFF;

inline constexpr TColor SystemColor(int index) noexcept
{
    return static_cast<TColor>(0x80000000U | static_cast<std::uint32_t>(index));
}
inline constexpr TColor clWindow = SystemColor(5);
inline constexpr TColor clWindowText = SystemColor(8);
inline constexpr TColor clHighlight = SystemColor(13);
inline constexpr TColor clHighlightText = SystemColor(14);
inline constexpr TColor clBtnFace = SystemColor(15);
inline constexpr TColor clBtnShadow = SystemColor(16);
inline constexpr TColor clGrayText = SystemColor(17);
inline constexpr TColor clBtnText = SystemColor(18);
inline constexpr TColor clBtnHighlight = SystemColor(20);
inline constexpr TColor cl3DDkShadow = SystemColor(21);
inline constexpr TColor cl3DLight = SystemColor(22);

// The colour as the screen shows it, opaque. System colours come from the application palette
// (clBtnFace the button colour, clBtnShadow the dark shade, clBtnHighlight the light one, ...); an index
// the palette has no role for gives the window colour. Any thread that may read the application palette:
// the window thread.
[[nodiscard]] QRgb ColorToQRgb(TColor color);
// The framework colour of an opaque screen colour.
[[nodiscard]] TColor QRgbToColor(QRgb rgb) noexcept;

// A colour in a stored description: a name (clBlue, clBtnFace) when the colour has one, else a number.
// ColorFromDesc raises EReadError for a name that is no colour and for a value of another kind.
[[nodiscard]] TDescValue ColorToDesc(TColor color);
[[nodiscard]] TColor ColorFromDesc(const TDescValue& value);

// A rectangle with exclusive right and bottom edges, as the controls' geometry is written: a rectangle
// (0, 0, 10, 5) is 10 pixels wide and covers columns 0 to 9.
struct TVrRect
{
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    [[nodiscard]] constexpr int Width() const noexcept { return Right - Left; }
    [[nodiscard]] constexpr int Height() const noexcept { return Bottom - Top; }
    [[nodiscard]] constexpr bool Empty() const noexcept { return Right <= Left || Bottom <= Top; }
    [[nodiscard]] constexpr bool Contains(int x, int y) const noexcept
    {
        return x >= Left && x < Right && y >= Top && y < Bottom;
    }
    constexpr void Inflate(int dx, int dy) noexcept
    {
        Left -= dx;
        Top -= dy;
        Right += dx;
        Bottom += dy;
    }
    [[nodiscard]] QRect ToQRect() const noexcept { return QRect(Left, Top, Width(), Height()); }
    [[nodiscard]] static TVrRect FromQRect(const QRect& r) noexcept
    {
        return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
    friend constexpr bool operator==(const TVrRect&, const TVrRect&) = default;
};

// Drawing on an image with the exact pixel rules the controls' geometry is written for: lines leave out
// their end point, rectangles leave out their right and bottom edges, nothing is smoothed. Whatever falls
// outside the image is clipped. The canvas does not own the image, which must outlive it.
class TVrCanvas
{
public:
    explicit TVrCanvas(QImage& image) noexcept : FImage(&image) {}

    [[nodiscard]] QImage& Image() const noexcept { return *FImage; }
    [[nodiscard]] TColor PenColor() const noexcept { return FPenColor; }
    void SetPenColor(TColor color) noexcept { FPenColor = color; }

    void MoveTo(int x, int y) noexcept
    {
        FPenX = x;
        FPenY = y;
    }
    // From the pen position to (x, y), leaving out (x, y); the pen moves there.
    void LineTo(int x, int y);
    // The points joined by lines, each line leaving out its end point.
    void Polyline(std::initializer_list<QPoint> points);
    void FillRect(const TVrRect& r, TColor color);
    // A one-pixel outline just inside r.
    void FrameRect(const TVrRect& r, TColor color);
    // Copies source's rectangle from (sx, sy) to (x, y) unchanged.
    void Draw(int x, int y, const QImage& source, const TVrRect& from);
    // Copies source's rectangle leaving out the pixels of the colour `transparent`.
    void DrawTransparent(int x, int y, const QImage& source, const TVrRect& from, QRgb transparent);
    // Scales the whole of source over r.
    void StretchDraw(const TVrRect& r, const QImage& source);
private:
    void Plot(int x, int y, QRgb rgb) noexcept;

    QImage* FImage;
    TColor FPenColor = clBlack;
    int FPenX = 0;
    int FPenY = 0;
};

// An opaque image of the given size for painting into; a size below 1 gives an empty image.
[[nodiscard]] QImage MakeBitmap(int width, int height);

// Numbers of the screen cursors; crHandPoint is the program's own hand ("VRCURSORHANDPOINT"). The
// standard ones are the platform's shapes.
enum : int
{
    crDefault = 0,
    crArrow = -2,
    crCross = -3,
    crIBeam = -4,
    crSizeNS = -7,
    crSizeWE = -9,
    crHourGlass = -11,
    crNo = -18,
    crSizeAll = -22,
    crHandPoint = 99
};

// The screen cursor of that number: the hand is made from the project's resource on first use; an unknown
// number gives the arrow. Window thread.
[[nodiscard]] QCursor ScreenCursor(int number);

// The project's built-in bitmap of that resource name ("VRTB_HORI", "VRTB_VERT", "VRCURSORHANDPOINT");
// an empty image for any other name.
[[nodiscard]] QImage LoadResourceBitmap(std::string_view name);

}   // namespace harvolin
