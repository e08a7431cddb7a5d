#pragma once
#include "controls/Controls.h"
#include "controls/VrClasses.h"
#include "controls/VrSystem.h"
#include <QImage>

namespace harvolin
{

// Base of the library's windowed controls: it publishes Version (never stored). Window thread.
class TVrCustomControl : public TControl
{
public:
    explicit TVrCustomControl(TComponent* owner);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

// A windowed control that paints everything into an off-screen image of its own size and copies that to
// the screen in one go, so it never flickers. Derived classes draw in Paint().
class TVrCustomImageControl : public TVrCustomControl
{
public:
    explicit TVrCustomImageControl(TComponent* owner);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // The image of the last paint, as large as the control.
    [[nodiscard]] const QImage& Bitmap() const noexcept { return FBitmap; }
protected:
    // Sizes the off-screen image to the control and fills it with the control's colour.
    virtual void ClearBitmapCanvas();
    // Draws the control into BitmapCanvas(), which ClearBitmapCanvas() has just prepared.
    virtual void Paint() = 0;
    [[nodiscard]] TVrCanvas& BitmapCanvas() noexcept { return FCanvas; }

    void paintEvent(QPaintEvent* event) override;
private:
    QImage FBitmap;
    TVrCanvas FCanvas{FBitmap};
};

// Base of the library's non-windowed controls: they publish Version and never take the focus.
class TVrGraphicControl : public TControl
{
public:
    explicit TVrGraphicControl(TComponent* owner);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
protected:
    // Lets a control fit its size to its content; nothing in the base.
    virtual void AdjustSize() {}
};

// A non-windowed control painting through an off-screen image. A full paint (after Invalidate(), a resize
// or the first show) prepares the image with ClearBitmapCanvas() and runs Paint(); any other paint copies
// what the image holds. A derived class may also draw part of the image itself between full paints and
// ask for just that rectangle with InvalidateRect().
//
// Transparent: the parent's own painting under the control (its siblings left out) is captured into a
// saved background and laid under each full paint. A paint the control asks for itself reuses the saved
// background, since the parent's pixels under it now show the control; one that comes from outside
// (the parent repainting, a move) captures again.
class TVrGraphicImageControl : public TVrGraphicControl
{
public:
    explicit TVrGraphicImageControl(TComponent* owner);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] const QImage& Bitmap() const noexcept { return FBitmap; }
    [[nodiscard]] bool Transparent() const noexcept { return FTransparent; }
    void SetTransparent(bool value);
protected:
    // Sizes the off-screen image; lays the saved background under it when transparent, else fills it
    // with the control's colour.
    virtual void ClearBitmapCanvas();
    virtual void Paint() = 0;
    [[nodiscard]] TVrCanvas& BitmapCanvas() noexcept { return FCanvas; }
    // Asks for a full paint.
    void Invalidate() override;
    // Asks for the screen to show the image's rectangle r again, without a full paint.
    void InvalidateRect(const TVrRect& r);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
private:
    void CaptureBackground();

    QImage FBackground;
    QImage FBitmap;
    TVrCanvas FCanvas{FBitmap};
    bool FBackgroundNeeded = true;
    bool FTransparent = false;
    bool FFullPaintNeeded = true;
};

}   // namespace harvolin
