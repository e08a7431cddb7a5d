#include "controls/VrControls.h"
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>

namespace harvolin
{

// ---- windowed

TVrCustomControl::TVrCustomControl(TComponent* owner) : TControl(owner) {}

const TClassInfo& TVrCustomControl::StaticClassInfo()
{
    static const TClassInfo info("TVrCustomControl", &TControl::StaticClassInfo(),
                                 VersionProperty<TVrCustomControl>());
    return info;
}

TVrCustomImageControl::TVrCustomImageControl(TComponent* owner) : TVrCustomControl(owner)
{
    // Every pixel comes from the off-screen image: Qt need not clear the widget first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

const TClassInfo& TVrCustomImageControl::StaticClassInfo()
{
    static const TClassInfo info("TVrCustomImageControl", &TVrCustomControl::StaticClassInfo(), {});
    return info;
}

void TVrCustomImageControl::ClearBitmapCanvas()
{
    if (FBitmap.width() != width() || FBitmap.height() != height())
        FBitmap = MakeBitmap(width(), height());
    FCanvas.FillRect(ClientRect(), ShownColor());
}

void TVrCustomImageControl::paintEvent(QPaintEvent*)
{
    GuardEvent(*this, "painting",
               [&]
               {
                   ClearBitmapCanvas();
                   Paint();
               });
    QPainter painter(this);
    painter.drawImage(0, 0, FBitmap);
}

// ---- non-windowed

TVrGraphicControl::TVrGraphicControl(TComponent* owner) : TControl(owner)
{
    setFocusPolicy(Qt::NoFocus);
}

const TClassInfo& TVrGraphicControl::StaticClassInfo()
{
    static const TClassInfo info("TVrGraphicControl", &TControl::StaticClassInfo(),
                                 VersionProperty<TVrGraphicControl>());
    return info;
}

TVrGraphicImageControl::TVrGraphicImageControl(TComponent* owner) : TVrGraphicControl(owner)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

const TClassInfo& TVrGraphicImageControl::StaticClassInfo()
{
    static const TClassInfo info("TVrGraphicImageControl", &TVrGraphicControl::StaticClassInfo(), {});
    return info;
}

void TVrGraphicImageControl::SetTransparent(bool value)
{
    if (value == FTransparent)
        return;
    FTransparent = value;
    FBackgroundNeeded = true;
    setAttribute(Qt::WA_OpaquePaintEvent, !value);
    Invalidate();
}

void TVrGraphicImageControl::CaptureBackground()
{
    FBackground = MakeBitmap(width(), height());
    if (FBackground.isNull())
        return;
    QWidget* parent = parentWidget();
    if (parent == nullptr)
    {
        FBackground.fill(ColorToQRgb(ShownColor()));
        return;
    }
    // The parent's own painting only: its other children would otherwise show through as well.
    FBackground.fill(parent->palette().color(parent->backgroundRole()));
    parent->render(&FBackground, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
    FBackgroundNeeded = false;
}

void TVrGraphicImageControl::ClearBitmapCanvas()
{
    if (FBitmap.width() != width() || FBitmap.height() != height())
        FBitmap = MakeBitmap(width(), height());
    if (FTransparent)
    {
        if (FBackgroundNeeded || FBackground.size() != FBitmap.size())
            CaptureBackground();
        if (!FBackground.isNull())
            FCanvas.Draw(0, 0, FBackground, ClientRect());
        return;
    }
    FCanvas.FillRect(ClientRect(), ShownColor());
}

void TVrGraphicImageControl::Invalidate()
{
    FFullPaintNeeded = true;
    // The control asks for itself: the parent's pixels under it now show the control, so the saved
    // background stays.
    if (FTransparent && !FBackground.isNull())
        FBackgroundNeeded = false;
    if (IsLoading() || PaintingSuspended())
        return;
    update();
}

void TVrGraphicImageControl::InvalidateRect(const TVrRect& r)
{
    if (FTransparent && !FBackground.isNull())
        FBackgroundNeeded = false;
    if (IsLoading() || PaintingSuspended())
        return;
    update(r.ToQRect());
}

void TVrGraphicImageControl::resizeEvent(QResizeEvent* event)
{
    TVrGraphicControl::resizeEvent(event);
    FBackgroundNeeded = true;
    FFullPaintNeeded = true;
}

void TVrGraphicImageControl::moveEvent(QMoveEvent* event)
{
    TVrGraphicControl::moveEvent(event);
    FBackgroundNeeded = true;
    FFullPaintNeeded = true;
}

void TVrGraphicImageControl::paintEvent(QPaintEvent* event)
{
    // A transparent control painted from outside may sit on changed pixels of its parent.
    if (FFullPaintNeeded || FBitmap.size() != size() || (FTransparent && FBackgroundNeeded))
    {
        FFullPaintNeeded = false;
        GuardEvent(*this, "painting",
                   [&]
                   {
                       ClearBitmapCanvas();
                       Paint();
                   });
        if (FTransparent)
            FBackgroundNeeded = true;
    }
    QPainter painter(this);
    painter.drawImage(event->rect(), FBitmap, event->rect());
}

}   // namespace harvolin
