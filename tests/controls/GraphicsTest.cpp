#include "controls/Graphics.h"
#include "controls/ExtCtrls.h"
#include "controls/Forms.h"
#include "controls/StdCtrls.h"
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>
#include <string>

namespace harvolin
{
namespace
{

QFont Mapped(const std::string& name, int height, std::uint32_t style = 0)
{
    TFont font;
    font.SetName(name);
    font.SetHeight(height);
    font.SetStyle(style);
    return FontToQFont(font);
}

TEST(GraphicsFontTest, WindowsFamiliesFallBackToTheirGenericKind)
{
    EXPECT_EQ(Mapped("MS Sans Serif", -11).styleHint(), QFont::SansSerif);
    EXPECT_EQ(Mapped("Arial", -11).styleHint(), QFont::SansSerif);
    EXPECT_EQ(Mapped("tahoma", -11).styleHint(), QFont::SansSerif);
    EXPECT_EQ(Mapped("Verdana", -11).styleHint(), QFont::SansSerif);
    EXPECT_EQ(Mapped("Courier New", -11).styleHint(), QFont::TypeWriter);
    EXPECT_EQ(Mapped("Courier", -11).styleHint(), QFont::TypeWriter);
    EXPECT_EQ(Mapped("Times New Roman", -11).styleHint(), QFont::Serif);
    const QFont unknown = Mapped("Some Face", -11);
    EXPECT_EQ(unknown.styleHint(), QFont::AnyStyle);
    EXPECT_EQ(unknown.family(), QString("Some Face"));
}

TEST(GraphicsFontTest, ANegativeHeightIsTheCharactersPixelHeightAndAPositiveOneTheCells)
{
    EXPECT_EQ(Mapped("MS Sans Serif", -11).pixelSize(), 11);
    EXPECT_EQ(Mapped("Courier New", -24).pixelSize(), 24);
    // A cell includes the leading, so its characters are smaller than the cell wherever the matched font
    // has any leading.
    QFont probe = Mapped("MS Sans Serif", -40);
    const QFont cell = Mapped("MS Sans Serif", 40);
    if (QFontMetrics(probe).height() > 40)
        EXPECT_LT(cell.pixelSize(), 40);
    else
        EXPECT_EQ(cell.pixelSize(), 40);
}

TEST(GraphicsFontTest, StyleBitsBecomeQtsStyles)
{
    const QFont styled = Mapped("Arial", -11, fsBold | fsUnderline);
    EXPECT_TRUE(styled.bold());
    EXPECT_FALSE(styled.italic());
    EXPECT_TRUE(styled.underline());
    EXPECT_FALSE(styled.strikeOut());
    const QFont other = Mapped("Arial", -11, fsItalic | fsStrikeOut);
    EXPECT_FALSE(other.bold());
    EXPECT_TRUE(other.italic());
    EXPECT_TRUE(other.strikeOut());
}

TEST(GraphicsFontTest, AssignCopiesEveryValueAndTellsOnce)
{
    TFont source;
    source.SetName("Courier New");
    source.SetHeight(14);
    source.SetColor(clAqua);
    source.SetStyle(fsItalic);
    TFont target;
    int changes = 0;
    target.OnChange = [&] { ++changes; };
    target.Assign(source);
    EXPECT_TRUE(target.SameValues(source));
    EXPECT_EQ(changes, 1);
    source.SetHeight(-9);   // a copy, not a share
    EXPECT_EQ(target.Height(), 14);
}

TEST(GraphicsTextTest, Latin1BytesBecomeUtf8AndUtf8StaysAsItIs)
{
    EXPECT_EQ(TextAsUtf8("Fr\xE9quence"), "Fr\u00e9quence");
    EXPECT_EQ(TextAsUtf8("Fr\u00e9quence"), "Fr\u00e9quence");
    EXPECT_EQ(TextAsUtf8("plain"), "plain");
}

QImage PaintedBevel(TBevelShape shape, TBevelStyle style)
{
    QImage image(10, 8, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    PaintBevel(painter, image.width(), image.height(), shape, style);
    return image;
}

class GraphicsBevelTest : public ::testing::Test
{
protected:
    const QRgb FShadow = ColorToQRgb(clBtnShadow) | 0xFF000000U;
    const QRgb FHighlight = ColorToQRgb(clBtnHighlight) | 0xFF000000U;
    const QRgb FInside = QColor(Qt::magenta).rgb();
};

TEST_F(GraphicsBevelTest, ALoweredLeftLineIsShadowThenHighlightAndRaisedTheReverse)
{
    ASSERT_NE(FShadow, FHighlight);
    const QImage lowered = PaintedBevel(TBevelShape::bsLeftLine, TBevelStyle::bsLowered);
    for (int y : {0, 4, 7})
    {
        EXPECT_EQ(lowered.pixel(0, y), FShadow) << y;
        EXPECT_EQ(lowered.pixel(1, y), FHighlight) << y;
        EXPECT_EQ(lowered.pixel(2, y), FInside) << y;
    }
    const QImage raised = PaintedBevel(TBevelShape::bsLeftLine, TBevelStyle::bsRaised);
    EXPECT_EQ(raised.pixel(0, 4), FHighlight);
    EXPECT_EQ(raised.pixel(1, 4), FShadow);
}

TEST_F(GraphicsBevelTest, AFrameIsEtchedAllRoundAndLeavesItsInside)
{
    const QImage frame = PaintedBevel(TBevelShape::bsFrame, TBevelStyle::bsLowered);
    EXPECT_EQ(frame.pixel(5, 0), FShadow);   // top
    EXPECT_EQ(frame.pixel(5, 1), FHighlight);
    EXPECT_EQ(frame.pixel(5, 6), FShadow);   // bottom
    EXPECT_EQ(frame.pixel(5, 7), FHighlight);
    EXPECT_EQ(frame.pixel(0, 4), FShadow);   // left
    EXPECT_EQ(frame.pixel(1, 4), FHighlight);
    EXPECT_EQ(frame.pixel(8, 4), FShadow);   // right
    EXPECT_EQ(frame.pixel(9, 4), FHighlight);
    EXPECT_EQ(frame.pixel(4, 4), FInside);
}

TEST_F(GraphicsBevelTest, OtherLinesSitOnTheirEdgeAndASpacerDrawsNothing)
{
    EXPECT_EQ(PaintedBevel(TBevelShape::bsTopLine, TBevelStyle::bsLowered).pixel(5, 0), FShadow);
    EXPECT_EQ(PaintedBevel(TBevelShape::bsBottomLine, TBevelStyle::bsLowered).pixel(5, 7), FHighlight);
    EXPECT_EQ(PaintedBevel(TBevelShape::bsRightLine, TBevelStyle::bsLowered).pixel(8, 3), FShadow);
    EXPECT_EQ(PaintedBevel(TBevelShape::bsBox, TBevelStyle::bsRaised).pixel(9, 3), FShadow);
    const QImage spacer = PaintedBevel(TBevelShape::bsSpacer, TBevelStyle::bsLowered);
    EXPECT_EQ(spacer.pixel(0, 0), FInside);
    EXPECT_EQ(spacer.pixel(9, 7), FInside);
}

// A label on a white window, painted as the screen would show it.
class GraphicsLabelTest : public ::testing::Test
{
protected:
    GraphicsLabelTest()
    {
        FForm->SetColor(clWhite);
        FForm->SetBounds(0, 0, 200, 60);
        FLabel.SetCaption("MMMM");
    }

    QImage Grab() { return FForm->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    // Whether any pixel inside the label's rectangle has that colour.
    bool LabelShows(const QImage& image, QRgb colour) const
    {
        for (int y = FLabel.Top(); y < FLabel.Top() + FLabel.Height(); ++y)
            for (int x = FLabel.Left(); x < FLabel.Left() + FLabel.Width(); ++x)
                if ((image.pixel(x, y) & 0xFFFFFFU) == (colour & 0xFFFFFFU))
                    return true;
        return false;
    }

    TComponentPtr<TForm> FForm = MakeComponent<TForm>();
    TLabel& FLabel = CreateComponent<TLabel>(*FForm);
};

TEST_F(GraphicsLabelTest, AnAutoSizedLabelFitsItsTextInItsFont)
{
    const int narrow = FLabel.Width();
    EXPECT_EQ(narrow, QFontMetrics(FLabel.font()).horizontalAdvance("MMMM"));
    FLabel.SetCaption("MMMMMMMM");
    EXPECT_GT(FLabel.Width(), narrow);
    FLabel.SetAutoSize(false);
    FLabel.SetBounds(0, 0, 30, 20);
    FLabel.SetCaption("M");
    EXPECT_EQ(FLabel.Width(), 30);
}

TEST_F(GraphicsLabelTest, ALabelWithItsOwnColourFillsItsRectangleAndOtherwiseLetsTheParentShow)
{
    FLabel.SetCaption("");
    EXPECT_FALSE(LabelShows(Grab(), qRgb(0, 0, 0)));
    FLabel.SetAutoSize(false);
    FLabel.SetBounds(10, 10, 40, 20);
    FLabel.SetColor(clBlack);
    const QImage image = Grab();
    EXPECT_EQ(image.pixel(10, 10) & 0xFFFFFFU, 0U);
    EXPECT_EQ(image.pixel(49, 29) & 0xFFFFFFU, 0U);
    EXPECT_EQ(image.pixel(50, 30) & 0xFFFFFFU, 0xFFFFFFU);
}

TEST_F(GraphicsLabelTest, ADisabledLabelDrawsItsTextGreyed)
{
    FLabel.Font().SetColor(clRed);
    FLabel.SetColor(clWhite);
    EXPECT_TRUE(LabelShows(Grab(), ColorToQRgb(clRed)));
    FLabel.SetEnabled(false);
    const QImage image = Grab();
    EXPECT_FALSE(LabelShows(image, ColorToQRgb(clRed)));
    EXPECT_TRUE(LabelShows(image, ColorToQRgb(clGrayText)));
}

}   // namespace
}   // namespace harvolin
