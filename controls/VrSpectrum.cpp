#include "controls/VrSpectrum.h"
#include <QWidget>
#include <algorithm>
#include <limits>

namespace harvolin
{
namespace
{

// Defaults the display sets over its base's in the constructor: black, not the parent's colour, and 24 bars.
constexpr TColor kDefaultColor = clBlack;
constexpr bool kDefaultParentColor = false;
constexpr int kDefaultColumns = 24;

// Geometry is worked out in 64 bits: a bar width or column count near the 32-bit limit must not wrap.
int ToInt(std::int64_t value) noexcept
{
    return static_cast<int>(
        std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

int ToWidgetSize(std::int64_t value) noexcept
{
    return static_cast<int>(std::clamp<std::int64_t>(value, 0, QWIDGETSIZE_MAX));
}

// Copies source's rectangle `from` to (x, y), first cut to what the target can show, so that the work is
// bounded by the target's size whatever the rectangle.
void CopyClipped(TVrCanvas& canvas, int x, int y, const QImage& source, TVrRect from)
{
    const QImage& target = canvas.Image();
    const int cutLeft = std::max(0, -x);
    const int cutTop = std::max(0, -y);
    from.Left += cutLeft;
    from.Top += cutTop;
    x += cutLeft;
    y += cutTop;
    from.Right = ToInt(std::min<std::int64_t>(from.Right, std::int64_t{from.Left} + target.width() - x));
    from.Bottom = ToInt(std::min<std::int64_t>(from.Bottom, std::int64_t{from.Top} + target.height() - y));
    if (from.Empty())
        return;
    canvas.Draw(x, y, source, from);
}

// One channel of a gradient step: truncating toward zero, as integer division does.
int Blend(int from, int to, int step, int steps) noexcept
{
    return from + static_cast<int>(static_cast<std::int64_t>(step) * (to - from) / steps);
}

TColor BlendColor(const TVrRGB& from, const TVrRGB& to, int step, int steps) noexcept
{
    const int red = Blend(from.Red, to.Red, step, steps);
    const int green = Blend(from.Green, to.Green, step, steps);
    const int blue = Blend(from.Blue, to.Blue, step, steps);
    return static_cast<TColor>(red | (green << 8) | (blue << 16));
}

void CheckRange(const char* property, int value, int lowest, int highest)
{
    if (value < lowest || value > highest)
        throw ERangeError(
            highest == std::numeric_limits<int>::max()
                ? Format("spectrum: %s must be %d or more, not %d", {property, lowest, value})
                : Format("spectrum: %s must be from %d to %d, not %d", {property, lowest, highest, value}));
}

TVrBevelValues SpectrumBevelDefaults()
{
    TVrBevelValues values;
    values.InnerStyle = TVrBevelStyle::bsLowered;
    values.InnerWidth = 2;
    values.InnerSpace = 1;
    values.InnerColor = clBlack;
    return values;
}

}   // namespace

// ---- bars

void TVrSpectrumBar::SetValue(std::int32_t value)
{
    if (value == FValue)
        return;
    FValue = value;
    Changed();
}

void TVrSpectrumBars::Changed(TVrCollectionItem* item)
{
    if (item == nullptr)
        FSpectrum.Invalidate();
    else
        FSpectrum.BarChanged(static_cast<TVrSpectrumBar&>(*item));
}

// ---- the display

TVrSpectrum::TVrSpectrum(TComponent* owner) : TVrGraphicImageControl(owner), FBevel(SpectrumBevelDefaults())
{
    FBevelMargin = FBevel.Margin();
    CreateBitmapArray(FBarImages, 2);
    FPalette1.OnChange = [this](TVrPersistent&) { Invalidate(); };
    FPalette2.OnChange = [this](TVrPersistent&) { Invalidate(); };
    FPalette3.OnChange = [this](TVrPersistent&) { Invalidate(); };
    FBevel.OnChange = [this](TVrPersistent&) { BevelChanged(); };
    SetParentColor(kDefaultParentColor);
    SetColor(kDefaultColor);
    SetBounds(0, 0, 217, 117);
    for (int i = 0; i < kDefaultColumns; ++i)
        FBars.Add<TVrSpectrumBar>();
}

const TClassInfo& TVrSpectrum::StaticClassInfo()
{
    static const TClassInfo info("TVrSpectrum", &TVrGraphicImageControl::StaticClassInfo(),
                                 []
                                 {
                                     using S = TVrSpectrum;
                                     TPropertyList<S> list;
                                     // Declared again for the display's own defaults: black, not the parent's
                                     // colour.
                                     ColorProperty(
                                         list, "Color", [](const S& o) { return o.Color(); },
                                         [](S& o, TColor v) { o.SetColor(v); }, kDefaultColor)
                                         .StoredWhen([](const S& o) { return !o.ParentColor(); });
                                     list.Boolean(
                                             "ParentColor", [](const S& o) { return o.ParentColor(); },
                                             [](S& o, bool v) { o.SetParentColor(v); }, kDefaultParentColor)
                                         .Object("Palette1", [](S& o) { return &o.FPalette1; })
                                         .Object("Palette2", [](S& o) { return &o.FPalette2; })
                                         .Object("Palette3", [](S& o) { return &o.FPalette3; })
                                         .Integer(
                                             "Percent1", [](const S& o) { return o.Percent1(); },
                                             [](S& o, int v) { o.SetPercent1(v); }, kDefaultPercent1)
                                         .Integer(
                                             "Percent2", [](const S& o) { return o.Percent2(); },
                                             [](S& o, int v) { o.SetPercent2(v); }, kDefaultPercent2)
                                         .Object("Bevel", [](S& o) { return &o.FBevel; })
                                         .Integer(
                                             "Columns", [](const S& o) { return o.Columns(); },
                                             [](S& o, int v) { o.SetColumns(v); }, kDefaultColumns)
                                         .Integer(
                                             "MaxValue", [](const S& o) { return o.MaxValue(); },
                                             [](S& o, std::int32_t v) { o.SetMaxValue(v); }, kDefaultMaxValue)
                                         .Integer(
                                             "MinValue", [](const S& o) { return o.MinValue(); },
                                             [](S& o, std::int32_t v) { o.SetMinValue(v); },
                                             kDefaultMinValue);
                                     ColorProperty(
                                         list, "MarkerColor", [](const S& o) { return o.MarkerColor(); },
                                         [](S& o, TColor v) { o.SetMarkerColor(v); }, kDefaultMarkerColor);
                                     list.Boolean(
                                             "MarkerVisible", [](const S& o) { return o.MarkerVisible(); },
                                             [](S& o, bool v) { o.SetMarkerVisible(v); },
                                             kDefaultMarkerVisible)
                                         .Integer(
                                             "TickHeight", [](const S& o) { return o.TickHeight(); },
                                             [](S& o, int v) { o.SetTickHeight(v); }, kDefaultTickHeight)
                                         .Integer(
                                             "Spacing", [](const S& o) { return o.Spacing(); },
                                             [](S& o, int v) { o.SetSpacing(v); }, kDefaultSpacing)
                                         .Integer(
                                             "BarWidth", [](const S& o) { return o.BarWidth(); },
                                             [](S& o, int v) { o.SetBarWidth(v); }, kDefaultBarWidth)
                                         .Integer(
                                             "BarSpacing", [](const S& o) { return o.BarSpacing(); },
                                             [](S& o, int v) { o.SetBarSpacing(v); }, kDefaultBarSpacing)
                                         .Boolean(
                                             "ShowInactive", [](const S& o) { return o.ShowInactive(); },
                                             [](S& o, bool v) { o.SetShowInactive(v); }, kDefaultShowInactive)
                                         .Boolean(
                                             "PlainColors", [](const S& o) { return o.PlainColors(); },
                                             [](S& o, bool v) { o.SetPlainColors(v); }, kDefaultPlainColors);
                                     return list.Take();
                                 }());
    return info;
}

void TVrSpectrum::Loaded()
{
    TVrGraphicImageControl::Loaded();
    if (FMinValue >= FMaxValue)
        throw ERangeError(
            Format("spectrum '%s': MinValue %d must be below MaxValue %d", {Name(), FMinValue, FMaxValue}));
}

TVrSpectrumBar& TVrSpectrum::Bars(int index) const
{
    if (index < 0 || index >= BarCount())
        throw ERangeError(Format("spectrum: bar index %d out of range (%d bars)", {index, BarCount()}));
    return static_cast<TVrSpectrumBar&>(FBars.Items(index));
}

template <class T>
void TVrSpectrum::StoreAndRepaint(T& field, T value)
{
    if (field == value)
        return;
    field = value;
    Invalidate();
}

void TVrSpectrum::SetPercent1(int value)
{
    CheckRange("Percent1", value, 0, 100);
    if (value == FPercent1)
        return;
    if (!IsLoading() && value + FPercent2 > 100)
        value = 100 - FPercent2;
    FPercent1 = value;
    Invalidate();
}

void TVrSpectrum::SetPercent2(int value)
{
    CheckRange("Percent2", value, 0, 100);
    if (value == FPercent2)
        return;
    if (!IsLoading() && value + FPercent1 > 100)
        value = 100 - FPercent1;
    FPercent2 = value;
    Invalidate();
}

void TVrSpectrum::SetColumns(int value)
{
    if (value <= 0 || value == FBars.Count())
        return;
    // One repaint at the end of the update, also when making a bar fails half-way.
    FBars.BeginUpdate();
    try
    {
        FBars.Clear();
        for (int i = 0; i < value; ++i)
            FBars.Add<TVrSpectrumBar>();
    }
    catch (...)
    {
        FBars.EndUpdate();
        throw;
    }
    FBars.EndUpdate();
}

void TVrSpectrum::SetMaxValue(std::int32_t value)
{
    if (value == FMaxValue || (!IsLoading() && value <= FMinValue))
        return;
    FMaxValue = value;
    for (int i = 0; i < BarCount(); ++i)
        if (Bars(i).Value() > value)
            Bars(i).SetValue(value);
}

void TVrSpectrum::SetMinValue(std::int32_t value)
{
    if (value == FMinValue || (!IsLoading() && value >= FMaxValue))
        return;
    FMinValue = value;
    for (int i = 0; i < BarCount(); ++i)
        if (Bars(i).Value() < value)
            Bars(i).SetValue(value);
}

void TVrSpectrum::SetMarkerColor(TColor value)
{
    StoreAndRepaint(FMarkerColor, value);
}

void TVrSpectrum::SetMarkerVisible(bool value)
{
    StoreAndRepaint(FMarkerVisible, value);
}

void TVrSpectrum::SetTickHeight(int value)
{
    if (value <= 0)
        return;
    StoreAndRepaint(FTickHeight, value);
}

void TVrSpectrum::SetSpacing(int value)
{
    // A negative gap could make a segment and its gap add up to nothing, which the layout divides by.
    CheckRange("Spacing", value, 0, std::numeric_limits<int>::max());
    StoreAndRepaint(FSpacing, value);
}

void TVrSpectrum::SetBarWidth(int value)
{
    CheckRange("BarWidth", value, 1, std::numeric_limits<int>::max());
    StoreAndRepaint(FBarWidth, value);
}

void TVrSpectrum::SetBarSpacing(int value)
{
    StoreAndRepaint(FBarSpacing, value);
}

void TVrSpectrum::SetShowInactive(bool value)
{
    StoreAndRepaint(FShowInactive, value);
}

void TVrSpectrum::SetPlainColors(bool value)
{
    StoreAndRepaint(FPlainColors, value);
}

void TVrSpectrum::BevelChanged()
{
    const int oldMargin = FBevelMargin;
    FBevelMargin = FBevel.Margin();
    // While loading, the stored size already belongs to the stored bevel.
    if (!IsLoading() && FBevelMargin != oldMargin)
    {
        const int grow = 2 * (FBevelMargin - oldMargin);
        SetBounds(Left(), Top(), Width() + grow, Height() + grow);
    }
    Invalidate();
}

TVrRect TVrSpectrum::BarRect(int index) const
{
    if (index < 0 || index >= BarCount())
        throw ERangeError(Format("spectrum: bar index %d out of range (%d bars)", {index, BarCount()}));
    const std::int64_t left =
        FDrawingRect.Left + std::int64_t{index} * (std::int64_t{FBarWidth} + FBarSpacing);
    return {ToInt(left), FDrawingRect.Top, ToInt(left + FBarWidth), FDrawingRect.Bottom};
}

void TVrSpectrum::Layout()
{
    TVrRect d = ClientRect();
    FBevel.GetVisibleArea(d);
    FDrawingRect = d;
    const std::int64_t step = std::int64_t{FTickHeight} + FSpacing;
    FSegmentCount = ToInt(std::max<std::int64_t>(0, (std::int64_t{d.Height()} + FSpacing) / step));
    RenderBarImages();

    const std::int64_t barStep = std::int64_t{FBarWidth} + FBarSpacing;
    const int width = ToWidgetSize(2 * std::int64_t{d.Left} + barStep * BarCount() - FBarSpacing);
    const int height = ToWidgetSize(2 * std::int64_t{d.Top} + step * FSegmentCount - FSpacing);
    if (width != Width() || height != Height())
        SetBounds(Left(), Top(), width, height);
}

void TVrSpectrum::RenderBarImages()
{
    RenderBarImage(FBarImages[kInactive], FPalette1.Low(), FPalette2.Low(), FPalette3.Low());
    RenderBarImage(FBarImages[kActive], FPalette1.High(), FPalette2.High(), FPalette3.High());
}

void TVrSpectrum::RenderBarImage(QImage& image, TColor bottom, TColor middle, TColor top) const
{
    const int h = FDrawingRect.Height();
    image = MakeBitmap(FBarWidth, h);
    if (image.isNull())
        return;
    TVrCanvas canvas(image);
    const int w = FBarWidth;
    if (FPlainColors)
    {
        // Whole segments, counted from the bottom.
        const std::int64_t step = std::int64_t{FTickHeight} + FSpacing;
        const int bottomRows =
            ToInt(RoundHalfEvenTo<int>(static_cast<double>(FSegmentCount) * FPercent1 * 0.01) * step);
        const int middleRows =
            ToInt(RoundHalfEvenTo<int>(static_cast<double>(FSegmentCount) * FPercent2 * 0.01) * step);
        const int middleTop = ToInt(std::int64_t{h} - bottomRows - middleRows);
        canvas.FillRect({0, 0, w, middleTop}, top);
        canvas.FillRect({0, middleTop, w, ToInt(std::int64_t{middleTop} + middleRows)}, middle);
        canvas.FillRect({0, h - bottomRows, w, h}, bottom);
        return;
    }
    const int bottomRows = RoundHalfEvenTo<int>(static_cast<double>(h) * FPercent1 * 0.01);
    const int middleRows = RoundHalfEvenTo<int>(static_cast<double>(h) * FPercent2 * 0.01);
    const int lower = std::max(1, bottomRows + middleRows / 2);
    const int upper = std::max(1, h - lower);
    const TVrRGB t = GetRGB(top);
    const TVrRGB m = GetRGB(middle);
    const TVrRGB b = GetRGB(bottom);
    // Top to middle over rows 0..upper, both ends included; middle to bottom over the next lower + 1 rows,
    // of which the image shows what fits.
    for (int i = 0; i <= upper && i < h; ++i)
        canvas.FillRect({0, i, w, i + 1}, BlendColor(t, m, i, upper));
    for (int j = 0; j <= lower && upper + 1 + j < h; ++j)
        canvas.FillRect({0, upper + 1 + j, w, upper + 2 + j}, BlendColor(m, b, j, lower));
}

int TVrSpectrum::LitCount(std::int32_t value) const noexcept
{
    if (FMaxValue == FMinValue)
        return 0;
    // A value beyond the range shows as the range's end: never fewer than none lit or more than all.
    const double share = static_cast<double>(std::int64_t{value} - FMinValue) * 100.0 /
                         static_cast<double>(std::int64_t{FMaxValue} - FMinValue);
    const int pct = RoundHalfEvenTo<int>(std::clamp(share, 0.0, 100.0));
    return RoundHalfEvenTo<int>(static_cast<double>(FSegmentCount) * pct * 0.01);
}

void TVrSpectrum::DrawBar(TVrCanvas& canvas, int index) const
{
    const TVrRect bar = BarRect(index);
    const int lit = LitCount(Bars(index).Value());
    const int dark = FSegmentCount - lit;
    const std::int64_t step = std::int64_t{FTickHeight} + FSpacing;
    for (int s = 0; s < FSegmentCount; ++s)
    {
        const std::int64_t offset = s * step;
        if (offset >= canvas.Image().height())
            break;
        const int rowTop = ToInt(offset);
        const TVrRect segment{bar.Left, ToInt(bar.Top + offset), bar.Right,
                              ToInt(bar.Top + offset + FTickHeight)};
        const TVrRect slice{0, rowTop, FBarWidth, ToInt(offset + FTickHeight)};
        if (s < dark)
        {
            if (FShowInactive)
                CopyClipped(canvas, segment.Left, segment.Top, FBarImages[kInactive], slice);
            else
                canvas.FillRect(segment, ShownColor());
        }
        else if (s == dark && FMarkerVisible)
            canvas.FillRect(segment, FMarkerColor);
        else
            CopyClipped(canvas, segment.Left, segment.Top, FBarImages[kActive], slice);
    }
}

void TVrSpectrum::BarChanged(TVrSpectrumBar& bar)
{
    // Before the first full paint, or after a resize, the full paint on its way shows the new value.
    if (Bitmap().size() != size())
        return;
    DrawBar(BitmapCanvas(), bar.Index());
    InvalidateRect(BarRect(bar.Index()));
}

void TVrSpectrum::ClearBitmapCanvas()
{
    Layout();
    TVrGraphicImageControl::ClearBitmapCanvas();
}

void TVrSpectrum::Paint()
{
    TVrRect r = ClientRect();
    FBevel.Paint(BitmapCanvas(), r);
    for (int k = 0; k < BarCount(); ++k)
        DrawBar(BitmapCanvas(), k);
}

void RegisterVrSpectrum()
{
    RegisterComponentClass<TVrSpectrum>();
}

namespace
{

// A program that links the control can read descriptions naming it without registering it itself.
const TComponentClassRegistration<TVrSpectrum> GRegistration;

}   // namespace

}   // namespace harvolin
