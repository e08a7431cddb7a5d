#include "controls/VrTrackBar.h"
#include "controls/VrSysUtils.h"
#include "rtl/Exceptions.h"
#include <QEvent>
#include <QKeyEvent>
#include <algorithm>
#include <cmath>
#include <limits>

namespace harvolin
{
namespace
{

TVrBevelValues GutterBevelDefaults()
{
    TVrBevelValues values;
    values.InnerStyle = TVrBevelStyle::bsNone;
    values.InnerSpace = 0;
    values.InnerOutline = TVrBevelOutlineStyle::osNone;
    values.OuterStyle = TVrBevelStyle::bsLowered;
    values.OuterSpace = 0;
    values.OuterOutline = TVrBevelOutlineStyle::osNone;
    return values;
}

constexpr int kLongTick = 4;
constexpr int kShortTick = 3;
constexpr int kMinTickSpacing = 4;

// Half to even for results that need not fit 32 bits; the track bar's own clamp at +-9e18 comes first.
std::int64_t RoundHalfEven64(double value) noexcept
{
    constexpr double limit = 9.0e18;
    return RoundHalfEvenTo<std::int64_t>(std::clamp(value, -limit, limit));
}

// A pixel of a value computed in floating point. Far outside any screen it stays at the int range's
// edge instead of overflowing the conversion.
int RoundPixel(double value) noexcept
{
    constexpr double limit = 1.0e9;
    return RoundHalfEvenTo<int>(std::clamp(value, -limit, limit));
}

int ClampToInt(std::int64_t value) noexcept
{
    return static_cast<int>(
        std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// The step between ticks and the number of ticks of one scale.
struct TScale
{
    std::int64_t Step = 0;
    std::int64_t Count = 0;
};

// The first multiple k of frequency whose tick spacing (length div n, n = Round(range / step)) reaches
// kMinTickSpacing or the whole length. The spacing never shrinks as k grows and the test holds once n is
// 0, so the first such k is found by bisection; stepping k one by one would take millions of rounds for
// a range of millions on a short track.
TScale ScaleOf(std::int64_t range, std::int64_t frequency, int length) noexcept
{
    if (frequency == 0 || length <= 0)
        return range == 0 ? TScale{0, 1} : TScale{range, 2};
    auto ticksFor = [&](std::int64_t k)
    { return RoundHalfEven64(static_cast<double>(range) / (static_cast<double>(frequency) * k)); };
    auto spacingEnough = [&](std::int64_t k)
    {
        const std::int64_t n = ticksFor(k);
        const std::int64_t spacing = n >= 1 ? length / n : length;
        return spacing >= kMinTickSpacing || spacing >= length;
    };
    // Beyond 2 |range| / |frequency| every n is 0.
    std::int64_t low = 1;
    std::int64_t high = 2 * (std::abs(range) / std::abs(frequency)) + 2;
    while (low < high)
    {
        const std::int64_t middle = low + (high - low) / 2;
        if (spacingEnough(middle))
            high = middle;
        else
            low = middle + 1;
    }
    return {frequency * low, ticksFor(low) + 1};
}

}   // namespace

TVrTrackBar::TVrTrackBar(TComponent* owner)
    : TVrCustomImageControl(owner), FGutterBevel(GutterBevelDefaults())
{
    FGutterBevel.OnChange = [this](TVrPersistent&) { Invalidate(); };
    FBitmapLink.OnChange = [this](TVrSharedComponent&)
    {
        LoadThumb();
        Invalidate();
    };
    // The list is half destroyed by now: forget it without asking it anything.
    FBitmapLink.OnSenderRemoved = [this]
    {
        FBitmapList = nullptr;
        LoadThumb();
        Invalidate();
    };
    SetBounds(0, 0, 175, 45);
    LoadThumb();
}

const TClassInfo& TVrTrackBar::StaticClassInfo()
{
    using T = TVrTrackBar;
    static const TClassInfo info(
        "TVrTrackBar", &TVrCustomImageControl::StaticClassInfo(),
        []
        {
            TPropertyList<T> list;
            list.Integer(
                    "MaxValue", [](const T& o) { return o.MaxValue(); },
                    [](T& o, int v) { o.SetMaxValue(v); }, kDefaultMaxValue)
                .Integer(
                    "MinValue", [](const T& o) { return o.MinValue(); },
                    [](T& o, int v) { o.SetMinValue(v); }, kDefaultMinValue)
                .Integer(
                    "Position", [](const T& o) { return o.Position(); },
                    [](T& o, int v) { o.SetPosition(v); }, kDefaultPosition)
                .Enumeration<TVrOrientation>(
                    "Orientation", {"voVertical", "voHorizontal"}, [](const T& o) { return o.Orientation(); },
                    [](T& o, TVrOrientation v) { o.SetOrientation(v); }, kDefaultOrientation)
                .Enumeration<TVrProgressStyle>(
                    "Style", {"psBottomLeft", "psTopRight"}, [](const T& o) { return o.Style(); },
                    [](T& o, TVrProgressStyle v) { o.SetStyle(v); }, kDefaultStyle)
                .SetOf(
                    "Options",
                    {"toActiveClick", "toMouseClip", "toHandPoint", "toFixedPoints", "toThumbOpaque"},
                    [](const T& o) { return o.Options().Bits(); },
                    [](T& o, std::uint32_t v) { o.SetOptions(TVrTrackBarOptions::FromBits(v)); },
                    kDefaultOptions.Bits())
                .Integer(
                    "Frequency", [](const T& o) { return o.Frequency(); },
                    [](T& o, int v) { o.SetFrequency(v); }, kDefaultFrequency)
                .Integer(
                    "BorderWidth", [](const T& o) { return o.BorderWidth(); },
                    [](T& o, int v) { o.SetBorderWidth(v); }, kDefaultBorderWidth)
                .Object("GutterBevel", [](T& o) { return &o.FGutterBevel; })
                .Integer(
                    "GutterWidth", [](const T& o) { return o.GutterWidth(); },
                    [](T& o, int v) { o.SetGutterWidth(v); }, kDefaultGutterWidth);
            ColorProperty(
                list, "GutterColor", [](const T& o) { return o.GutterColor(); },
                [](T& o, TColor v) { o.SetGutterColor(v); }, kDefaultGutterColor);
            list.Enumeration<TVrTickMarks>(
                "TickMarks", {"tmNone", "tmBoth", "tmBottomRight", "tmTopLeft"},
                [](const T& o) { return o.TickMarks(); }, [](T& o, TVrTickMarks v) { o.SetTickMarks(v); },
                kDefaultTickMarks);
            ColorProperty(
                list, "TickColor", [](const T& o) { return o.TickColor(); },
                [](T& o, TColor v) { o.SetTickColor(v); }, kDefaultTickColor);
            list.Integer(
                    "ThumbStates", [](const T& o) { return o.ThumbStates(); },
                    [](T& o, int v) { o.SetThumbStates(v); }, kDefaultThumbStates)
                .Integer(
                    "BackImageIndex", [](const T& o) { return o.BackImageIndex(); },
                    [](T& o, int v) { o.SetBackImageIndex(v); }, kDefaultBackImageIndex)
                .Integer(
                    "ThumbImageIndex", [](const T& o) { return o.ThumbImageIndex(); },
                    [](T& o, int v) { o.SetThumbImageIndex(v); }, kDefaultThumbImageIndex)
                .Value(
                    "BitmapList", TPropertyKind::pkEnumeration, [](const T& o) { return o.BitmapListDesc(); },
                    [](T& o, const TDescValue& v) { o.SetBitmapListByName(v); },
                    TDescValue::Identifier("nil"))
                .Integer(
                    "ScaleOffset", [](const T& o) { return o.ScaleOffset(); },
                    [](T& o, int v) { o.SetScaleOffset(v); }, kDefaultScaleOffset);
            ColorProperty(
                list, "FocusColor", [](const T& o) { return o.FocusColor(); },
                [](T& o, TColor v) { o.SetFocusColor(v); }, kDefaultFocusColor);
            list.Integer(
                "FocusOffset", [](const T& o) { return o.FocusOffset(); },
                [](T& o, int v) { o.SetFocusOffset(v); }, kDefaultFocusOffset);
            NotifyEventProperty(list, "OnChange", &T::OnChange);
            return list.Take();
        }());
    return info;
}

void TVrTrackBar::Loaded()
{
    TVrCustomImageControl::Loaded();
    if (!FPendingBitmapList.empty())
    {
        const std::string name = std::move(FPendingBitmapList);
        FPendingBitmapList.clear();
        SetBitmapListByName(TDescValue::Identifier(name));
    }
    // ThumbStates left the thumb alone while loading.
    LoadThumb();
    Invalidate();
}

// ---- properties

template <class T>
void TVrTrackBar::Change(T& field, T value)
{
    if (field == value)
        return;
    field = value;
    Invalidate();
}

void TVrTrackBar::SetMaxValue(int value)
{
    if (value == FMaxValue)
        return;
    FMaxValue = value;
    const int before = FPosition;
    if (FPosition > value)
        SetPosition(value);
    // A clamp to an inverted range may leave Position where it was; the scale moved all the same.
    if (FPosition == before)
        Invalidate();
}

void TVrTrackBar::SetMinValue(int value)
{
    if (value == FMinValue)
        return;
    FMinValue = value;
    const int before = FPosition;
    if (FPosition < value)
        SetPosition(value);
    if (FPosition == before)
        Invalidate();
}

void TVrTrackBar::SetPosition(int value)
{
    if (value < FMinValue)
        value = FMinValue;
    if (value > FMaxValue)
        value = FMaxValue;
    if (value == FPosition)
        return;
    FPosition = value;
    Invalidate();
    if (OnChange)
        OnChange(*this);
}

void TVrTrackBar::SetOrientation(TVrOrientation value)
{
    if (value == FOrientation)
        return;
    FOrientation = value;
    // A stored description gives the size that belongs to the stored orientation.
    if (!IsLoading())
        SetBounds(Left(), Top(), Height(), Width());
    LoadThumb();
    Invalidate();
}

void TVrTrackBar::SetStyle(TVrProgressStyle value)
{
    Change(FStyle, value);
}

void TVrTrackBar::SetOptions(TVrTrackBarOptions value)
{
    Change(FOptions, value);
}

void TVrTrackBar::SetFrequency(int value)
{
    Change(FFrequency, value);
}

void TVrTrackBar::SetBorderWidth(int value)
{
    Change(FBorderWidth, value);
}

void TVrTrackBar::SetGutterWidth(int value)
{
    Change(FGutterWidth, value);
}

void TVrTrackBar::SetGutterColor(TColor value)
{
    Change(FGutterColor, value);
}

void TVrTrackBar::SetTickMarks(TVrTickMarks value)
{
    Change(FTickMarks, value);
}

void TVrTrackBar::SetTickColor(TColor value)
{
    Change(FTickColor, value);
}

void TVrTrackBar::SetThumbStates(int value)
{
    if (value < 1 || value > 4)
        throw ERangeError(Format("track bar '%s': ThumbStates must be 1 to 4, not %d", {Name(), value}));
    if (value == FThumbStates)
        return;
    FThumbStates = value;
    if (!IsLoading())
        LoadThumb();
    Invalidate();
}

void TVrTrackBar::SetBackImageIndex(int value)
{
    Change(FBackImageIndex, value);
}

void TVrTrackBar::SetThumbImageIndex(int value)
{
    if (value == FThumbImageIndex)
        return;
    FThumbImageIndex = value;
    LoadThumb();
    Invalidate();
}

void TVrTrackBar::SetBitmapList(TVrBitmapList* value)
{
    FPendingBitmapList.clear();
    if (value == FBitmapList)
        return;
    if (FBitmapList != nullptr)
        FBitmapList->RemoveLink(FBitmapLink);
    FBitmapList = value;
    if (FBitmapList != nullptr)
        FBitmapList->InsertLink(FBitmapLink);
    LoadThumb();
    Invalidate();
}

void TVrTrackBar::SetScaleOffset(int value)
{
    Change(FScaleOffset, value);
}

void TVrTrackBar::SetFocusColor(TColor value)
{
    Change(FFocusColor, value);
}

void TVrTrackBar::SetFocusOffset(int value)
{
    Change(FFocusOffset, value);
}

TDescValue TVrTrackBar::BitmapListDesc() const
{
    if (FBitmapList != nullptr)
        return TDescValue::Identifier(FBitmapList->Name());
    if (!FPendingBitmapList.empty())
        return TDescValue::Identifier(FPendingBitmapList);
    return TDescValue::Identifier("nil");
}

// A list stored by name is one of the owner's components. While a description is read the list may come
// later in it, so an unknown name waits for Loaded(); after that it is an error.
void TVrTrackBar::SetBitmapListByName(const TDescValue& value)
{
    const std::string& name = value.AsIdentifier();
    if (name == "nil")
        return SetBitmapList(nullptr);
    TComponent* found = Owner() != nullptr ? Owner()->FindComponent(name) : nullptr;
    if (found == nullptr)
    {
        if (!IsLoading())
            throw EReadError("BitmapList: there is no component '" + name + "'");
        SetBitmapList(nullptr);
        FPendingBitmapList = name;
        return;
    }
    auto* list = dynamic_cast<TVrBitmapList*>(found);
    if (list == nullptr)
        throw EReadError("BitmapList: '" + name + "' is a " + found->ClassName() + ", not a TVrBitmapList");
    SetBitmapList(list);
}

// ---- geometry

TVrRect TVrTrackBar::TrackRect() const noexcept
{
    TVrRect r = ClientRect();
    r.Inflate(-FBorderWidth, -FBorderWidth);
    return r;
}

int TVrTrackBar::TrackStart() const noexcept
{
    const TVrRect r = TrackRect();
    return std::max(0, Horizontal() ? r.Left : r.Top);
}

int TVrTrackBar::TrackLength() const noexcept
{
    const TVrRect r = TrackRect();
    return Horizontal() ? r.Width() - FThumbWidth : r.Height() - FThumbHeight;
}

bool TVrTrackBar::Mirrored() const noexcept
{
    return Horizontal() ? FStyle == TVrProgressStyle::psTopRight : FStyle == TVrProgressStyle::psBottomLeft;
}

int TVrTrackBar::ThumbLength() const noexcept
{
    return Horizontal() ? FThumbWidth : FThumbHeight;
}

TVrRect TVrTrackBar::GutterRect() const noexcept
{
    const int w = Width();
    const int h = Height();
    if (Horizontal())
    {
        const int top = (h - FGutterWidth) / 2;
        return {FBorderWidth, top, w - FBorderWidth, top + FGutterWidth};
    }
    const int left = (w - FGutterWidth) / 2;
    return {left, FBorderWidth, left + FGutterWidth, h - FBorderWidth};
}

TVrRect TVrTrackBar::ThumbRect() const noexcept
{
    const int leading = PositionToPixel(FPosition);
    if (Horizontal())
    {
        const int top = (Height() - FThumbHeight) / 2;
        return {leading, top, leading + FThumbWidth, top + FThumbHeight};
    }
    const int left = (Width() - FThumbWidth) / 2;
    return {left, leading, left + FThumbWidth, leading + FThumbHeight};
}

int TVrTrackBar::PositionToPixel(int value) const noexcept
{
    const double range = static_cast<double>(FMaxValue) - static_cast<double>(FMinValue);
    const double share = range == 0.0 ? 0.0 : (static_cast<double>(value) - FMinValue) / range;
    int pixel = TrackStart() + RoundPixel(TrackLength() * share);
    if (Mirrored())
    {
        const TVrRect r = TrackRect();
        pixel =
            Horizontal() ? r.Left + r.Right - pixel - FThumbWidth : r.Top + r.Bottom - pixel - FThumbHeight;
    }
    return pixel;
}

int TVrTrackBar::PixelToPosition(int pixel) const noexcept
{
    if (Mirrored())
        pixel = Horizontal() ? Width() - pixel - FThumbWidth : Height() - pixel - FThumbHeight;
    const int length = TrackLength();
    const std::int64_t range = static_cast<std::int64_t>(FMaxValue) - FMinValue;
    std::int64_t m = 0;
    if (length > 0)
        m = RoundHalfEven64(static_cast<double>(static_cast<std::int64_t>(pixel) - TrackStart()) *
                            static_cast<double>(range) / length);
    if (FOptions.Contains(TVrTrackBarOption::toFixedPoints) && FFrequency != 0)
        m = RoundHalfEven64(static_cast<double>(m) / FFrequency) * FFrequency;
    return ClampToInt(std::min<std::int64_t>(std::max<std::int64_t>(m, 0) + FMinValue, FMaxValue));
}

std::int64_t TVrTrackBar::TickStep() const noexcept
{
    return ScaleOf(static_cast<std::int64_t>(FMaxValue) - FMinValue, FFrequency, TrackLength()).Step;
}

std::vector<TVrTick> TVrTrackBar::Ticks() const
{
    const TScale scale = ScaleOf(static_cast<std::int64_t>(FMaxValue) - FMinValue, FFrequency, TrackLength());
    const int half = ThumbLength() / 2;
    std::vector<TVrTick> ticks;
    for (std::int64_t j = 1; j <= scale.Count; ++j)
    {
        const int value = j == scale.Count ? FMaxValue : ClampToInt(FMinValue + (j - 1) * scale.Step);
        ticks.push_back({value, PositionToPixel(value) + half, value == FMinValue || value == FMaxValue});
    }
    return ticks;
}

int TVrTrackBar::ThumbStateIndex() const noexcept
{
    int index = 0;
    if (!isEnabled())
        index = 1;
    if (FDragging)
        index = 2;
    if (FHot && !FDragging)
        index = 3;
    return index < FThumbStates ? index : 0;
}

void TVrTrackBar::LoadThumb()
{
    const QImage* image = FBitmapList != nullptr ? FBitmapList->GetBitmap(FThumbImageIndex) : nullptr;
    if (image != nullptr && !image->isNull())
        FThumb = image->copy();
    else
        FThumb = LoadResourceBitmap(Horizontal() ? "VRTB_HORI" : "VRTB_VERT");
    FThumbHeight = FThumb.height();
    FThumbWidth = FThumb.width() / FThumbStates;
}

// ---- painting

void TVrTrackBar::Paint()
{
    TVrCanvas& canvas = BitmapCanvas();
    const TVrRect client = ClientRect();
    const QImage* back = FBitmapList != nullptr ? FBitmapList->GetBitmap(FBackImageIndex) : nullptr;
    if (back != nullptr && !back->isNull())
        canvas.StretchDraw(client, *back);
    else
        canvas.FillRect(client, ShownColor());

    TVrRect gutter = GutterRect();
    canvas.SetPenColor(FTickColor);
    if (FTickMarks == TVrTickMarks::tmBoth || FTickMarks == TVrTickMarks::tmTopLeft)
        PaintTicks((Horizontal() ? gutter.Top : gutter.Left) - FScaleOffset, -1);
    if (FTickMarks == TVrTickMarks::tmBoth || FTickMarks == TVrTickMarks::tmBottomRight)
        PaintTicks((Horizontal() ? gutter.Bottom : gutter.Right) + FScaleOffset, 1);

    if (FGutterBevel.Visible())
    {
        FGutterBevel.Paint(canvas, gutter);
        canvas.FillRect(gutter, FGutterColor);
    }

    if (FFocused && FFocusOffset >= 0)
    {
        TVrRect frame = client;
        frame.Inflate(-FFocusOffset, -FFocusOffset);
        canvas.FrameRect(frame, FFocusColor);
    }

    if (FThumb.isNull() || FThumbWidth <= 0)
        return;
    const TVrRect thumb = ThumbRect();
    const int sliceLeft = ThumbStateIndex() * FThumbWidth;
    const TVrRect slice{sliceLeft, 0, sliceLeft + FThumbWidth, FThumbHeight};
    if (FOptions.Contains(TVrTrackBarOption::toThumbOpaque))
        canvas.Draw(thumb.Left, thumb.Top, FThumb, slice);
    else
        canvas.DrawTransparent(thumb.Left, thumb.Top, FThumb, slice, FThumb.pixel(0, FThumb.height() - 1));
}

void TVrTrackBar::PaintTicks(int baseLine, int direction)
{
    TVrCanvas& canvas = BitmapCanvas();
    for (const TVrTick& tick : Ticks())
    {
        const int length = (tick.Long ? kLongTick : kShortTick) * direction;
        if (Horizontal())
        {
            canvas.MoveTo(tick.Pixel, baseLine);
            canvas.LineTo(tick.Pixel, baseLine + length);
        }
        else
        {
            canvas.MoveTo(baseLine, tick.Pixel);
            canvas.LineTo(baseLine + length, tick.Pixel);
        }
    }
}

// ---- mouse

void TVrTrackBar::MoveThumbTo(int pixel)
{
    const int start = TrackStart();
    const int end = start + TrackLength();
    pixel = std::min(std::max(pixel, start), end);
    if (FOptions.Contains(TVrTrackBarOption::toFixedPoints))
        pixel = std::min(std::max(PositionToPixel(PixelToPosition(pixel)), start), end);
    SetPosition(PixelToPosition(pixel));
}

void TVrTrackBar::MouseDown(TMouseButton button, std::uint32_t shift, int x, int y)
{
    TVrCustomImageControl::MouseDown(button, shift, x, y);
    if (button != TMouseButton::mbLeft)
        return;
    if (TabStop())
        setFocus(Qt::MouseFocusReason);
    const TVrRect thumb = ThumbRect();
    if (thumb.Contains(x, y))
    {
        FDragging = true;
        FGrabOffset = Horizontal() ? x - thumb.Left : y - thumb.Top;
        if (FOptions.Contains(TVrTrackBarOption::toMouseClip))
        {
            grabMouse();
            FClipActive = true;
        }
        Invalidate();
    }
    else if (FOptions.Contains(TVrTrackBarOption::toActiveClick))
    {
        FGrabOffset = ThumbLength() / 2;
        MoveThumbTo((Horizontal() ? x : y) - FGrabOffset);
    }
    UpdateCursor(x, y);
}

void TVrTrackBar::MouseMove(std::uint32_t shift, int x, int y)
{
    if (FDragging)
    {
        int dragX = x;
        int dragY = y;
        if (FClipActive)
        {
            dragX = std::max(0, std::min(x, Width() - 1));
            dragY = std::max(0, std::min(y, Height() - 1));
        }
        MoveThumbTo((Horizontal() ? dragX : dragY) - FGrabOffset);
    }
    else if (const bool hot = ThumbRect().Contains(x, y); hot != FHot)
    {
        FHot = hot;
        Invalidate();
    }
    UpdateCursor(x, y);
    TVrCustomImageControl::MouseMove(shift, x, y);
}

void TVrTrackBar::MouseUp(TMouseButton button, std::uint32_t shift, int x, int y)
{
    if (button == TMouseButton::mbLeft && FDragging)
    {
        EndDrag();
        // Hot was not tracked while dragging; the thumb may have left the pointer meanwhile.
        FHot = ThumbRect().Contains(x, y);
        Invalidate();
    }
    TVrCustomImageControl::MouseUp(button, shift, x, y);
}

void TVrTrackBar::MouseLeft(TControl& sender)
{
    // No move reports the pointer beyond the control, so hot would otherwise stay on.
    if (FHot && !FDragging)
    {
        FHot = false;
        Invalidate();
    }
    TVrCustomImageControl::MouseLeft(sender);
}

void TVrTrackBar::EndDrag()
{
    FDragging = false;
    if (FClipActive)
    {
        releaseMouse();
        FClipActive = false;
    }
}

void TVrTrackBar::UpdateCursor(int x, int y)
{
    const bool hand = FOptions.Contains(TVrTrackBarOption::toHandPoint) &&
                      !ComponentState().Contains(TComponentStateFlag::csDesigning) &&
                      ThumbRect().Contains(x, y);
    if (hand == FHandShown)
        return;
    FHandShown = hand;
    if (hand)
        setCursor(ScreenCursor(crHandPoint));
    else if (Cursor() == crDefault)
        unsetCursor();
    else
        setCursor(ScreenCursor(Cursor()));
}

// ---- keys and focus

namespace
{

bool IsTrackKey(int key) noexcept
{
    return key == Qt::Key_Home || key == Qt::Key_End || key == Qt::Key_Left || key == Qt::Key_Right ||
           key == Qt::Key_Up || key == Qt::Key_Down;
}

}   // namespace

void TVrTrackBar::KeyDown(int& key, std::uint32_t shift)
{
    bool taken = false;
    if (shift == 0 && IsTrackKey(key))
    {
        const std::int64_t step =
            static_cast<std::int64_t>(FFrequency) * (FStyle == TVrProgressStyle::psTopRight ? -1 : 1);
        auto moveBy = [&](std::int64_t delta)
        {
            SetPosition(ClampToInt(FPosition + delta));
            taken = true;
        };
        switch (key)
        {
        case Qt::Key_Home:
            SetPosition(FMaxValue);
            taken = true;
            break;
        case Qt::Key_End:
            SetPosition(FMinValue);
            taken = true;
            break;
        case Qt::Key_Left:
            if (Horizontal())
                moveBy(-step);
            break;
        case Qt::Key_Right:
            if (Horizontal())
                moveBy(step);
            break;
        case Qt::Key_Up:
            if (!Horizontal())
                moveBy(step);
            break;
        case Qt::Key_Down:
            if (!Horizontal())
                moveBy(-step);
            break;
        default:
            break;
        }
    }
    // OnKeyDown hears the key as pressed, after the change.
    TVrCustomImageControl::KeyDown(key, shift);
    if (taken)
        key = 0;
}

bool TVrTrackBar::event(QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride)
    {
        const auto* keyEvent = static_cast<QKeyEvent*>(event);
        if (ShiftStateOf(keyEvent->modifiers()) == 0 && IsTrackKey(keyEvent->key()))
        {
            event->accept();
            return true;
        }
    }
    return TVrCustomImageControl::event(event);
}

void TVrTrackBar::DoEnter()
{
    if (!FFocused)
    {
        FFocused = true;
        Invalidate();
    }
    TVrCustomImageControl::DoEnter();
}

void TVrTrackBar::DoExit()
{
    if (FFocused)
    {
        FFocused = false;
        Invalidate();
    }
    TVrCustomImageControl::DoExit();
}

// A disabled or hidden control hears no release: a drag in progress ends here, and the grab with it.
void TVrTrackBar::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && !isEnabled())
    {
        EndDrag();
        FHot = false;
    }
    TVrCustomImageControl::changeEvent(event);
}

void TVrTrackBar::hideEvent(QHideEvent* event)
{
    EndDrag();
    FHot = false;
    TVrCustomImageControl::hideEvent(event);
}

void RegisterVrTrackBar()
{
    RegisterComponentClass<TVrTrackBar>();
}

namespace
{

const TComponentClassRegistration<TVrTrackBar> GRegistration;

}   // namespace

}   // namespace harvolin
