#include "controls/VrControls.h"
#include "rtl/DescriptionReader.h"
#include "rtl/DescriptionWriter.h"
#include "rtl/Diagnostics.h"
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTest>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace harvolin
{
namespace
{

QRgb Rgb(TColor color)
{
    return ColorToQRgb(color) | 0xFF000000U;
}

QRgb Pixel(const QImage& image, int x, int y)
{
    return image.pixel(x, y) | 0xFF000000U;
}

// A windowed control that draws a red square at (2, 2) on top of its cleared image.
class TSquareControl final : public TVrCustomImageControl
{
public:
    explicit TSquareControl(TComponent* owner) : TVrCustomImageControl(owner) {}

    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TSquareControl", &TVrCustomImageControl::StaticClassInfo(), {});
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    int FPaints = 0;
protected:
    void Paint() override
    {
        ++FPaints;
        BitmapCanvas().FillRect({2, 2, 4, 4}, clRed);
    }
};

// A non-windowed control that paints a blue dot at (1, 1) and can draw one cell of its image alone.
class TCellControl final : public TVrGraphicImageControl
{
public:
    explicit TCellControl(TComponent* owner) : TVrGraphicImageControl(owner) { SetColor(clBlack); }

    void DrawCell(const TVrRect& r, TColor color)
    {
        BitmapCanvas().FillRect(r, color);
        InvalidateRect(r);
    }
    void RequestFullPaint() { Invalidate(); }

    int FPaints = 0;
protected:
    void Paint() override
    {
        ++FPaints;
        BitmapCanvas().FillRect({1, 1, 2, 2}, clBlue);
    }
};

// A parent that paints itself a solid colour, as a window with a picture behind a transparent control.
class TPaintedParent final : public QWidget
{
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(0, 200, 100));
    }
};

// Records the regions of the paint events a widget receives.
class TPaintRecorder final : public QObject
{
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            FRegions.push_back(static_cast<QPaintEvent*>(event)->region());
        return false;
    }
    std::vector<QRegion> FRegions;
};

class TFormControl final : public TControl
{
public:
    explicit TFormControl(TComponent* owner) : TControl(owner) {}
};

TEST(VrCustomImageControlTest, PaintsItsOwnImageOverItsColourAndShowsItWhole)
{
    TComponentPtr<TFormControl> parent = MakeComponent<TFormControl>();
    parent->SetColor(clYellow);
    auto& control = CreateComponent<TSquareControl>(*parent);
    control.SetBounds(3, 4, 8, 6);
    const QImage shown = control.grab().toImage();
    ASSERT_EQ(shown.size(), QSize(8, 6));
    EXPECT_EQ(control.FPaints, 1);
    // ParentColor: the parent's colour fills what Paint() leaves.
    EXPECT_EQ(Pixel(shown, 0, 0), Rgb(clYellow));
    EXPECT_EQ(Pixel(shown, 7, 5), Rgb(clYellow));
    EXPECT_EQ(Pixel(shown, 2, 2), Rgb(clRed));
    EXPECT_EQ(Pixel(shown, 3, 3), Rgb(clRed));
    EXPECT_EQ(Pixel(shown, 4, 4), Rgb(clYellow));
    EXPECT_EQ(control.Bitmap().size(), QSize(8, 6));

    control.SetColor(clWhite);
    EXPECT_FALSE(control.ParentColor());
    EXPECT_EQ(Pixel(control.grab().toImage(), 0, 0), Rgb(clWhite));
}

TEST(VrGraphicImageControlTest, ACellDrawnAloneRepaintsOnlyItsRectangleWithoutAFullPaint)
{
    QWidget window;
    window.resize(40, 30);
    auto control = MakeComponent<TCellControl>();
    control->setParent(&window);
    control->SetBounds(5, 5, 20, 10);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    TPaintRecorder recorder;
    control->installEventFilter(&recorder);
    control->repaint();
    const int fullPaints = control->FPaints;
    EXPECT_GE(fullPaints, 1);
    EXPECT_EQ(Pixel(control->Bitmap(), 1, 1), Rgb(clBlue));

    recorder.FRegions.clear();
    control->DrawCell({10, 2, 14, 8}, clRed);
    QCoreApplication::processEvents();
    ASSERT_EQ(recorder.FRegions.size(), 1U);
    EXPECT_EQ(recorder.FRegions[0], QRegion(10, 2, 4, 6));
    EXPECT_EQ(control->FPaints, fullPaints);
    EXPECT_EQ(Pixel(control->Bitmap(), 12, 5), Rgb(clRed));

    control->RequestFullPaint();
    QCoreApplication::processEvents();
    EXPECT_EQ(control->FPaints, fullPaints + 1);
    EXPECT_EQ(Pixel(control->Bitmap(), 12, 5), Rgb(clBlack));
}

TEST(VrGraphicImageControlTest, ATransparentControlShowsItsParentsPaintingUnderItsOwn)
{
    TPaintedParent parent;
    parent.resize(40, 30);
    auto control = MakeComponent<TCellControl>();
    control->setParent(&parent);
    control->SetBounds(10, 10, 8, 8);
    control->SetTransparent(true);
    const QImage shown = control->grab().toImage();
    EXPECT_EQ(Pixel(shown, 1, 1), Rgb(clBlue));
    EXPECT_EQ(Pixel(shown, 0, 0), qRgb(0, 200, 100));
    EXPECT_EQ(Pixel(shown, 7, 7), qRgb(0, 200, 100));

    control->SetTransparent(false);
    EXPECT_EQ(Pixel(control->grab().toImage(), 0, 0), Rgb(clBlack));
}

TEST(VrControlTest, OwnerAndParentWidgetMayEachFreeTheControlFirst)
{
    TComponentPtr<TFormControl> form = MakeComponent<TFormControl>();
    auto& first = CreateComponent<TSquareControl>(*form);
    EXPECT_EQ(first.parentWidget(), form.get());
    auto& second = CreateComponent<TSquareControl>(*form);
    ASSERT_EQ(form->ComponentCount(), 2U);
    delete &first;   // as a parent widget deletes its children
    ASSERT_EQ(form->ComponentCount(), 1U);
    EXPECT_EQ(&form->Components(0), &second);
    FreeComponent(&second);
    EXPECT_EQ(form->ComponentCount(), 0U);
    EXPECT_TRUE(form->findChildren<QWidget*>().isEmpty());
}

TEST(VrControlTest, AnExceptionFromAMouseHandlerEndsOnlyThatEvent)
{
    QWidget window;
    window.resize(40, 40);
    auto control = MakeComponent<TSquareControl>();
    control->setParent(&window);
    control->SetBounds(0, 0, 20, 20);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    int clicks = 0;
    control->OnMouseDown = [](TControl&, TMouseButton, std::uint32_t, int, int)
    { throw std::runtime_error("refused"); };
    control->OnClick = [&](TControl&) { ++clicks; };
    control->SetName("Square1");
    TDiagnosticCapture capture;
    QTest::mouseClick(control.get(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(capture.Delivered(), (std::vector<TDiagnostic>{{"Square1", "an event handler", "refused"}}));
}

TEST(VrControlTest, PublishedPropertiesComeFromAStoredDescription)
{
    RegisterComponentClass<TSquareControl>();
    TComponentPtr<TFormControl> form = MakeComponent<TFormControl>();
    TComponent& read = ReadComponent("object Square1: TSquareControl\n"
                                     "  Left = 24\n"
                                     "  Top = 72\n"
                                     "  Width = 241\n"
                                     "  Height = 29\n"
                                     "  Color = clBlue\n"
                                     "  Version = '9.9'\n"
                                     "  Visible = False\n"
                                     "end\n",
                                     *form);
    auto& square = dynamic_cast<TSquareControl&>(read);
    EXPECT_EQ(square.geometry(), QRect(24, 72, 241, 29));
    EXPECT_EQ(square.Color(), clBlue);
    EXPECT_FALSE(square.ParentColor());
    EXPECT_TRUE(square.isHidden());
    const std::string text = WriteDescription(square);
    EXPECT_NE(text.find("Color = clBlue"), std::string::npos) << text;
    EXPECT_EQ(WriteDescription(*ReadComponent(text)), text);
    EXPECT_EQ(text.find("Version"), std::string::npos) << text;

    EXPECT_THROW(ReadComponent("object Square3: TSquareControl\n  Color = clPlaid\nend\n", *form),
                 EReadError);
    EXPECT_EQ(form->ComponentCount(), 1U);
}

}   // namespace
}   // namespace harvolin
