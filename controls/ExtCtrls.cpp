#include "controls/ExtCtrls.h"
#include "controls/VrClasses.h"
#include <QPaintEvent>
#include <QPainter>

namespace harvolin
{
namespace
{

const TComponentClassRegistration<TBevel> GBevelRegistration;
const TComponentClassRegistration<TTimer> GTimerRegistration;

void HorizontalLine(QPainter& painter, int x, int y, int length, const QColor& color)
{
    if (length > 0)
        painter.fillRect(x, y, length, 1, color);
}

void VerticalLine(QPainter& painter, int x, int y, int length, const QColor& color)
{
    if (length > 0)
        painter.fillRect(x, y, 1, length, color);
}

// A one-pixel outline of the w x h rectangle at (x, y): top and left edges in `first`, bottom and right
// edges in `second`.
void Outline3D(QPainter& painter, int x, int y, int w, int h, const QColor& first, const QColor& second)
{
    HorizontalLine(painter, x, y, w - 1, first);
    VerticalLine(painter, x, y, h - 1, first);
    VerticalLine(painter, x + w - 1, y, h, second);
    HorizontalLine(painter, x, y + h - 1, w, second);
}

}   // namespace

void PaintBevel(QPainter& painter, int width, int height, TBevelShape shape, TBevelStyle style)
{
    const QColor shadow = QColor::fromRgb(ColorToQRgb(clBtnShadow));
    const QColor highlight = QColor::fromRgb(ColorToQRgb(clBtnHighlight));
    const bool lowered = style == TBevelStyle::bsLowered;
    const QColor& first = lowered ? shadow : highlight;
    const QColor& second = lowered ? highlight : shadow;
    switch (shape)
    {
    case TBevelShape::bsBox:
        Outline3D(painter, 0, 0, width, height, first, second);
        break;
    case TBevelShape::bsFrame:
        // Etched: the second colour one pixel in and down from the first, all round.
        Outline3D(painter, 1, 1, width - 1, height - 1, second, second);
        Outline3D(painter, 0, 0, width - 1, height - 1, first, first);
        break;
    case TBevelShape::bsTopLine:
        HorizontalLine(painter, 0, 0, width, first);
        HorizontalLine(painter, 0, 1, width, second);
        break;
    case TBevelShape::bsBottomLine:
        HorizontalLine(painter, 0, height - 2, width, first);
        HorizontalLine(painter, 0, height - 1, width, second);
        break;
    case TBevelShape::bsLeftLine:
        VerticalLine(painter, 0, 0, height, first);
        VerticalLine(painter, 1, 0, height, second);
        break;
    case TBevelShape::bsRightLine:
        VerticalLine(painter, width - 2, 0, height, first);
        VerticalLine(painter, width - 1, 0, height, second);
        break;
    case TBevelShape::bsSpacer:
        break;
    }
}

TBevel::TBevel(TComponent* owner) : TControl(owner)
{
    SetBounds(0, 0, 50, 50);
}

const TClassInfo& TBevel::StaticClassInfo()
{
    using T = TBevel;
    static const TClassInfo info(
        "TBevel", &TControl::StaticClassInfo(),
        []
        {
            TPropertyList<T> list;
            list.Enumeration<TBevelShape>(
                    "Shape",
                    {"bsBox", "bsFrame", "bsTopLine", "bsBottomLine", "bsLeftLine", "bsRightLine",
                     "bsSpacer"},
                    [](const T& o) { return o.Shape(); }, [](T& o, TBevelShape v) { o.SetShape(v); },
                    TBevelShape::bsBox)
                .Enumeration<TBevelStyle>(
                    "Style", {"bsLowered", "bsRaised"}, [](const T& o) { return o.Style(); },
                    [](T& o, TBevelStyle v) { o.SetStyle(v); }, TBevelStyle::bsLowered);
            return list.Take();
        }());
    return info;
}

void TBevel::SetShape(TBevelShape value)
{
    FShape = value;
    Invalidate();
}

void TBevel::SetStyle(TBevelStyle value)
{
    FStyle = value;
    Invalidate();
}

void TBevel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    PaintBevel(painter, width(), height(), FShape, FStyle);
}

TTimer::TTimer(TComponent* owner) : TComponent(owner)
{
    QObject::connect(&FTimer, &QTimer::timeout, &FTimer, [this] { Tick(); });
    Update();
}

const TClassInfo& TTimer::StaticClassInfo()
{
    using T = TTimer;
    static const TClassInfo info("TTimer", &TComponent::StaticClassInfo(),
                                 []
                                 {
                                     TPropertyList<T> list;
                                     list.Boolean(
                                             "Enabled", [](const T& o) { return o.Enabled(); },
                                             [](T& o, bool v) { o.SetEnabled(v); }, true)
                                         .Integer(
                                             "Interval", [](const T& o) { return o.Interval(); },
                                             [](T& o, int v) { o.SetInterval(v); }, 1000);
                                     EventProperty<TNotifyMethod>(list, "OnTimer",
                                                                  [](T& o, TNotifyMethod m)
                                                                  { o.OnTimer = std::move(m); });
                                     return list.Take();
                                 }());
    return info;
}

void TTimer::SetEnabled(bool value)
{
    FEnabled = value;
    Update();
}

void TTimer::SetInterval(int value)
{
    FInterval = value;
    Update();
}

void TTimer::Loaded()
{
    TComponent::Loaded();
    Update();
}

void TTimer::Update()
{
    FTimer.stop();
    if (FEnabled && FInterval > 0)
        FTimer.start(FInterval);
}

void TTimer::Tick()
{
    if (ComponentState().Contains(TComponentStateFlag::csLoading) || !OnTimer)
        return;
    GuardEvent(*this, "OnTimer", [&] { OnTimer(*this); });
}

}   // namespace harvolin
