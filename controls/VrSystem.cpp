#include "controls/VrSystem.h"
#include "rtl/Persistent.h"
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <algorithm>
#include <array>
#include <map>
#include <utility>

// The resources live in this static library; Q_INIT_RESOURCE must be used outside any namespace.
static void InitControlsResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace harvolin
{
namespace
{

struct TColorName
{
    TColor Color;
    const char* Name;
};

constexpr std::array kColorNames{
    TColorName{clBlack, "clBlack"},
    TColorName{clMaroon, "clMaroon"},
    TColorName{clGreen, "clGreen"},
    TColorName{clOlive, "clOlive"},
    TColorName{clNavy, "clNavy"},
    TColorName{clPurple, "clPurple"},
    TColorName{clTeal, "clTeal"},
    TColorName{clGray, "clGray"},
    TColorName{clSilver, "clSilver"},
    TColorName{clRed, "clRed"},
    TColorName{clLime, "clLime"},
    TColorName{clYellow, "clYellow"},
    TColorName{clBlue, "clBlue"},
    TColorName{clFuchsia, "clFuchsia"},
    TColorName{clAqua, "clAqua"},
    TColorName{clWhite, "clWhite"},
    TColorName{clNone, "clNone"},
    TColorName{SystemColor(0), "clScrollBar"},
    TColorName{SystemColor(1), "clBackground"},
    TColorName{SystemColor(2), "clActiveCaption"},
    TColorName{SystemColor(3), "clInactiveCaption"},
    TColorName{SystemColor(4), "clMenu"},
    TColorName{clWindow, "clWindow"},
    TColorName{SystemColor(6), "clWindowFrame"},
    TColorName{SystemColor(7), "clMenuText"},
    TColorName{clWindowText, "clWindowText"},
    TColorName{SystemColor(9), "clCaptionText"},
    TColorName{SystemColor(10), "clActiveBorder"},
    TColorName{SystemColor(11), "clInactiveBorder"},
    TColorName{SystemColor(12), "clAppWorkSpace"},
    TColorName{clHighlight, "clHighlight"},
    TColorName{clHighlightText, "clHighlightText"},
    TColorName{clBtnFace, "clBtnFace"},
    TColorName{clBtnShadow, "clBtnShadow"},
    TColorName{clGrayText, "clGrayText"},
    TColorName{clBtnText, "clBtnText"},
    TColorName{SystemColor(19), "clInactiveCaptionText"},
    TColorName{clBtnHighlight, "clBtnHighlight"},
    TColorName{cl3DDkShadow, "cl3DDkShadow"},
    TColorName{cl3DLight, "cl3DLight"},
    TColorName{SystemColor(23), "clInfoText"},
    TColorName{SystemColor(24), "clInfoBk"},
};

// The palette role that stands for each entry of the system colour table, by index.
QRgb SystemColorToQRgb(int index)
{
    const QPalette palette = QGuiApplication::palette();
    auto role = [&](QPalette::ColorRole r, QPalette::ColorGroup g = QPalette::Active)
    { return palette.color(g, r).rgb(); };
    switch (index)
    {
    case 0:
        return role(QPalette::Mid);   // scroll bar
    case 2:
        return role(QPalette::Highlight);   // active caption
    case 3:
        return role(QPalette::Window, QPalette::Inactive);
    case 5:
        return role(QPalette::Base);   // window
    case 6:
        return role(QPalette::Shadow);   // window frame
    case 7:
        return role(QPalette::WindowText);   // menu text
    case 8:
        return role(QPalette::Text);   // window text
    case 9:
        return role(QPalette::HighlightedText);   // caption text
    case 13:
        return role(QPalette::Highlight);
    case 14:
        return role(QPalette::HighlightedText);
    case 15:
        return role(QPalette::Button);   // button face
    case 16:
        return role(QPalette::Dark);   // button shadow
    case 17:
        return role(QPalette::Text, QPalette::Disabled);   // grey text
    case 18:
        return role(QPalette::ButtonText);
    case 19:
        return role(QPalette::WindowText, QPalette::Inactive);
    case 20:
        return role(QPalette::Light);   // button highlight
    case 21:
        return role(QPalette::Shadow);   // 3-D dark shadow
    case 22:
        return role(QPalette::Midlight);   // 3-D light
    case 23:
        return role(QPalette::ToolTipText);
    case 24:
        return role(QPalette::ToolTipBase);
    default:
        return role(QPalette::Window);   // background, menu, borders, work space
    }
}

int Clamp(int v, int low, int high) noexcept
{
    return std::max(low, std::min(v, high));
}

}   // namespace

QRgb ColorToQRgb(TColor color)
{
    if (color < 0)
        return SystemColorToQRgb(static_cast<int>(static_cast<std::uint32_t>(color) & 0xFF));
    const auto c = static_cast<std::uint32_t>(color);
    return qRgb(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

TColor QRgbToColor(QRgb rgb) noexcept
{
    return static_cast<TColor>(static_cast<std::uint32_t>(qRed(rgb)) |
                               (static_cast<std::uint32_t>(qGreen(rgb)) << 8) |
                               (static_cast<std::uint32_t>(qBlue(rgb)) << 16));
}

TDescValue ColorToDesc(TColor color)
{
    for (const TColorName& entry : kColorNames)
        if (entry.Color == color)
            return TDescValue::Identifier(entry.Name);
    return TDescValue::Integer(color);
}

TColor ColorFromDesc(const TDescValue& value)
{
    if (value.Kind() == TDescValue::TKind::vkIdentifier)
    {
        for (const TColorName& entry : kColorNames)
            if (value.AsIdentifier() == entry.Name)
                return entry.Color;
        throw EReadError("'" + value.AsIdentifier() + "' is not a colour");
    }
    return static_cast<TColor>(value.AsInt32());
}

void TVrCanvas::Plot(int x, int y, QRgb rgb) noexcept
{
    if (x >= 0 && y >= 0 && x < FImage->width() && y < FImage->height())
        FImage->setPixel(x, y, rgb);
}

void TVrCanvas::LineTo(int x, int y)
{
    const QRgb rgb = ColorToQRgb(FPenColor);
    // Bresenham from the pen to (x, y), the end point left out; the controls draw only straight
    // horizontal and vertical lines, which this gives exactly.
    int x0 = FPenX;
    int y0 = FPenY;
    const int dx = std::abs(x - x0);
    const int dy = -std::abs(y - y0);
    const int sx = x0 < x ? 1 : -1;
    const int sy = y0 < y ? 1 : -1;
    int error = dx + dy;
    while (x0 != x || y0 != y)
    {
        Plot(x0, y0, rgb);
        const int twice = 2 * error;
        if (twice >= dy)
        {
            error += dy;
            x0 += sx;
        }
        if (twice <= dx)
        {
            error += dx;
            y0 += sy;
        }
    }
    MoveTo(x, y);
}

void TVrCanvas::Polyline(std::initializer_list<QPoint> points)
{
    bool first = true;
    for (const QPoint& p : points)
    {
        if (first)
            MoveTo(p.x(), p.y());
        else
            LineTo(p.x(), p.y());
        first = false;
    }
}

void TVrCanvas::FillRect(const TVrRect& r, TColor color)
{
    const QRgb rgb = ColorToQRgb(color);
    const int left = Clamp(r.Left, 0, FImage->width());
    const int right = Clamp(r.Right, 0, FImage->width());
    const int top = Clamp(r.Top, 0, FImage->height());
    const int bottom = Clamp(r.Bottom, 0, FImage->height());
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x)
            FImage->setPixel(x, y, rgb);
}

void TVrCanvas::FrameRect(const TVrRect& r, TColor color)
{
    if (r.Empty())
        return;
    FillRect({r.Left, r.Top, r.Right, r.Top + 1}, color);
    FillRect({r.Left, r.Bottom - 1, r.Right, r.Bottom}, color);
    FillRect({r.Left, r.Top, r.Left + 1, r.Bottom}, color);
    FillRect({r.Right - 1, r.Top, r.Right, r.Bottom}, color);
}

void TVrCanvas::Draw(int x, int y, const QImage& source, const TVrRect& from)
{
    for (int row = 0; row < from.Height(); ++row)
        for (int column = 0; column < from.Width(); ++column)
        {
            const int sx = from.Left + column;
            const int sy = from.Top + row;
            if (sx >= 0 && sy >= 0 && sx < source.width() && sy < source.height())
                Plot(x + column, y + row, source.pixel(sx, sy) | 0xFF000000U);
        }
}

void TVrCanvas::DrawTransparent(int x, int y, const QImage& source, const TVrRect& from, QRgb transparent)
{
    transparent |= 0xFF000000U;
    for (int row = 0; row < from.Height(); ++row)
        for (int column = 0; column < from.Width(); ++column)
        {
            const int sx = from.Left + column;
            const int sy = from.Top + row;
            if (sx < 0 || sy < 0 || sx >= source.width() || sy >= source.height())
                continue;
            const QRgb pixel = source.pixel(sx, sy) | 0xFF000000U;
            if (pixel != transparent)
                Plot(x + column, y + row, pixel);
        }
}

void TVrCanvas::StretchDraw(const TVrRect& r, const QImage& source)
{
    if (r.Empty() || source.isNull())
        return;
    QPainter painter(FImage);
    painter.drawImage(r.ToQRect(), source);
}

QImage MakeBitmap(int width, int height)
{
    if (width < 1 || height < 1)
        return {};
    return QImage(width, height, QImage::Format_RGB32);
}

QImage LoadResourceBitmap(std::string_view name)
{
    if (name != "VRTB_HORI" && name != "VRTB_VERT" && name != "VRCURSORHANDPOINT")
        return {};
    // A program linking this library statically would otherwise never register them.
    static const bool initialised = []
    {
        InitControlsResources();
        return true;
    }();
    (void)initialised;
    QImage image(QStringLiteral(":/harvolin/controls/") +
                 QString::fromUtf8(name.data(), qsizetype(name.size())) + QStringLiteral(".xpm"));
    return image;
}

QCursor ScreenCursor(int number)
{
    switch (number)
    {
    case crDefault:
    case crArrow:
        return QCursor(Qt::ArrowCursor);
    case crCross:
        return QCursor(Qt::CrossCursor);
    case crIBeam:
        return QCursor(Qt::IBeamCursor);
    case crSizeNS:
        return QCursor(Qt::SizeVerCursor);
    case crSizeWE:
        return QCursor(Qt::SizeHorCursor);
    case crHourGlass:
        return QCursor(Qt::WaitCursor);
    case crNo:
        return QCursor(Qt::ForbiddenCursor);
    case crSizeAll:
        return QCursor(Qt::SizeAllCursor);
    case crHandPoint:
    {
        // Installed once, on the first request, since a cursor image needs the running application.
        static const QCursor hand = []
        {
            const QImage image = LoadResourceBitmap("VRCURSORHANDPOINT");
            if (image.isNull())
                return QCursor(Qt::PointingHandCursor);
            return QCursor(QPixmap::fromImage(image), 5, 0);
        }();
        return hand;
    }
    default:
        return QCursor(Qt::ArrowCursor);
    }
}

}   // namespace harvolin
