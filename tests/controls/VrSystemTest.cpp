#include "controls/VrSystem.h"
#include "controls/VrSysUtils.h"
#include <QPixmap>
#include <gtest/gtest.h>

namespace harvolin
{
namespace
{

QRgb Rgb(TColor color)
{
    return ColorToQRgb(color) | 0xFF000000U;
}

class TVrCanvasTest : public testing::Test
{
protected:
    TVrCanvasTest() { FImage.fill(Rgb(clWhite)); }

    [[nodiscard]] QRgb At(int x, int y) const { return FImage.pixel(x, y) | 0xFF000000U; }

    QImage FImage = MakeBitmap(10, 8);
    TVrCanvas FCanvas{FImage};
};

TEST_F(TVrCanvasTest, LinesLeaveOutTheirEndPointAndClipAtTheEdges)
{
    FCanvas.SetPenColor(clRed);
    FCanvas.MoveTo(2, 3);
    FCanvas.LineTo(6, 3);
    EXPECT_EQ(At(2, 3), Rgb(clRed));
    EXPECT_EQ(At(5, 3), Rgb(clRed));
    EXPECT_EQ(At(6, 3), Rgb(clWhite));
    FCanvas.LineTo(6, 0);   // from the previous end, upwards
    EXPECT_EQ(At(6, 3), Rgb(clRed));
    EXPECT_EQ(At(6, 1), Rgb(clRed));
    EXPECT_EQ(At(6, 0), Rgb(clWhite));
    FCanvas.MoveTo(-5, 7);
    FCanvas.LineTo(20, 7);
    EXPECT_EQ(At(0, 7), Rgb(clRed));
    EXPECT_EQ(At(9, 7), Rgb(clRed));
}

TEST_F(TVrCanvasTest, RectanglesLeaveOutRightAndBottomEdges)
{
    FCanvas.FillRect({1, 1, 4, 3}, clBlue);
    EXPECT_EQ(At(1, 1), Rgb(clBlue));
    EXPECT_EQ(At(3, 2), Rgb(clBlue));
    EXPECT_EQ(At(4, 2), Rgb(clWhite));
    EXPECT_EQ(At(3, 3), Rgb(clWhite));
    FCanvas.FrameRect({5, 2, 9, 7}, clLime);
    EXPECT_EQ(At(5, 2), Rgb(clLime));
    EXPECT_EQ(At(8, 6), Rgb(clLime));
    EXPECT_EQ(At(6, 4), Rgb(clWhite));
    FCanvas.FillRect({8, 6, 30, 30}, clBlack);   // clipped, not refused
    EXPECT_EQ(At(9, 7), Rgb(clBlack));
}

TEST_F(TVrCanvasTest, TransparentCopiesSkipTheTransparentColourOnly)
{
    QImage source = MakeBitmap(3, 1);
    source.setPixel(0, 0, qRgb(1, 2, 3));
    source.setPixel(1, 0, qRgb(9, 9, 9));
    source.setPixel(2, 0, qRgb(1, 2, 3));
    FCanvas.DrawTransparent(4, 4, source, {0, 0, 3, 1}, qRgb(1, 2, 3));
    EXPECT_EQ(At(4, 4), Rgb(clWhite));
    EXPECT_EQ(At(5, 4), qRgb(9, 9, 9));
    EXPECT_EQ(At(6, 4), Rgb(clWhite));
    FCanvas.Draw(4, 5, source, {1, 0, 3, 1});   // a slice, opaque
    EXPECT_EQ(At(4, 5), qRgb(9, 9, 9));
    EXPECT_EQ(At(5, 5), qRgb(1, 2, 3));
    EXPECT_EQ(At(6, 5), Rgb(clWhite));
}

TEST(VrResourcesTest, BuiltInThumbsAreRaisedWithATransparentCorner)
{
    const QImage horizontal = LoadResourceBitmap("VRTB_HORI");
    const QImage vertical = LoadResourceBitmap("VRTB_VERT");
    ASSERT_EQ(horizontal.size(), QSize(9, 17));
    ASSERT_EQ(vertical.size(), QSize(17, 9));
    for (const QImage* thumb : {&horizontal, &vertical})
    {
        const int right = thumb->width() - 1;
        const int bottom = thumb->height() - 1;
        const QRgb corner = thumb->pixel(0, bottom) | 0xFF000000U;
        // Light top-left edge, dark bottom-right edge, and the corner colour nowhere inside.
        EXPECT_EQ(thumb->pixel(1, 0) | 0xFF000000U, qRgb(255, 255, 255));
        EXPECT_EQ(thumb->pixel(0, 1) | 0xFF000000U, qRgb(255, 255, 255));
        EXPECT_EQ(thumb->pixel(right, 1) | 0xFF000000U, qRgb(0, 0, 0));
        EXPECT_EQ(thumb->pixel(1, bottom) | 0xFF000000U, qRgb(0, 0, 0));
        for (int y = 1; y < bottom; ++y)
            for (int x = 1; x < right; ++x)
                ASSERT_NE(thumb->pixel(x, y) | 0xFF000000U, corner) << x << "," << y;
    }
    EXPECT_TRUE(LoadResourceBitmap("NO_SUCH_RESOURCE").isNull());
}

TEST(VrResourcesTest, CursorNinetyNineIsTheProjectsHandWithItsFingertipHotSpot)
{
    const QCursor hand = ScreenCursor(crHandPoint);
    EXPECT_EQ(hand.shape(), Qt::BitmapCursor);
    EXPECT_EQ(hand.hotSpot(), QPoint(5, 0));
    const QImage image = hand.pixmap().toImage();
    ASSERT_EQ(image.size(), QSize(32, 32));
    EXPECT_EQ(qAlpha(image.pixel(5, 0)), 255);   // the fingertip's outline
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);     // clear around the hand
    EXPECT_EQ(ScreenCursor(crIBeam).shape(), Qt::IBeamCursor);
    EXPECT_EQ(ScreenCursor(12345).shape(), Qt::ArrowCursor);
}

}   // namespace
}   // namespace harvolin
