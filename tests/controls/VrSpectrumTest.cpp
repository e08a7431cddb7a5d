#include "controls/VrSpectrum.h"
#include "rtl/DescriptionReader.h"
#include "rtl/DescriptionWriter.h"
#include <QCoreApplication>
#include <QPaintEvent>
#include <QTest>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

QRgb Rgb(TColor color)
{
    return ColorToQRgb(color) | 0xFF000000U;
}

QRgb Rgb(int red, int green, int blue)
{
    return qRgb(red, green, blue);
}

// Records the region of every paint event the watched widget gets.
class TPaintRecorder final : public QObject
{
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            Regions.push_back(static_cast<QPaintEvent*>(event)->region());
        return false;
    }

    std::vector<QRegion> Regions;
};

class VrSpectrumTest : public ::testing::Test
{
protected:
    void SetUp() override { RegisterVrSpectrum(); }

    // As the main window has it: 24 bars 20 wide, high enough for 56 segments, the default bevel.
    void UseMainWindowSettings()
    {
        FSpectrum.SetBarWidth(20);
        FSpectrum.SetBounds(0, 0, 217, 121);
    }

    // Full paints until the layout no longer changes the size; the screen image of the last one.
    QImage Render()
    {
        QImage image;
        for (int i = 0; i < 4; ++i)
        {
            image = FSpectrum.grab().toImage();
            if (image.size() == FSpectrum.size())
                break;
        }
        return image;
    }

    // The colour of segment s of bar k on the image, in its left column.
    QRgb SegmentPixel(const QImage& image, int bar, int segment, int column = 0) const
    {
        const TVrRect r = FSpectrum.BarRect(bar);
        return image.pixel(r.Left + column, r.Top + segment * (FSpectrum.TickHeight() + FSpectrum.Spacing()));
    }

    // Shows the display and lets it finish every paint it has asked for.
    void ShowSettled()
    {
        FSpectrum.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&FSpectrum));
        Settle();
    }

    // Delivers posted events until a round brings no new paint.
    void Settle()
    {
        for (int round = 0; round < 10; ++round)
        {
            const std::size_t before = FPaints.Regions.size();
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QCoreApplication::sendPostedEvents();
            if (FPaints.Regions.size() == before && round > 0)
                return;
        }
    }

    void WatchPaints()
    {
        FSpectrum.installEventFilter(&FPaints);
        Settle();
        FPaints.Regions.clear();
    }

    TComponentPtr<TComponent> FRoot = MakeComponent<TComponent>();
    TVrSpectrum& FSpectrum = CreateComponent<TVrSpectrum>(*FRoot);
    TPaintRecorder FPaints;
};

// ---- layout

struct TLayoutCase
{
    const char* Name;
    int BarWidth;
    int Columns;
    int TickHeight;
    int Spacing;
    int BarSpacing;
    int StartHeight;
    int Width;
    int Height;
    int Segments;
};

class VrSpectrumLayoutTest : public VrSpectrumTest, public ::testing::WithParamInterface<TLayoutCase>
{
};

TEST_P(VrSpectrumLayoutTest, AFullPaintSizesTheControlToWholeSegmentsAndBars)
{
    const TLayoutCase& c = GetParam();
    FSpectrum.SetBarWidth(c.BarWidth);
    FSpectrum.SetColumns(c.Columns);
    FSpectrum.SetTickHeight(c.TickHeight);
    FSpectrum.SetSpacing(c.Spacing);
    FSpectrum.SetBarSpacing(c.BarSpacing);
    FSpectrum.SetBounds(7, 9, 217, c.StartHeight);
    const QImage image = Render();
    EXPECT_EQ(image.size(), QSize(c.Width, c.Height));
    EXPECT_EQ(FSpectrum.Width(), c.Width);
    EXPECT_EQ(FSpectrum.Height(), c.Height);
    EXPECT_EQ(FSpectrum.Left(), 7);
    EXPECT_EQ(FSpectrum.Top(), 9);
    EXPECT_EQ(FSpectrum.SegmentCount(), c.Segments);
    EXPECT_EQ(FSpectrum.DrawingRect(), (TVrRect{5, 5, c.Width - 5, c.Height - 5}));
    const int last = c.Columns - 1;
    EXPECT_EQ(FSpectrum.BarRect(last),
              (TVrRect{5 + last * (c.BarWidth + c.BarSpacing), 5, c.Width - 5, c.Height - 5}));
}

INSTANTIATE_TEST_SUITE_P(Settings, VrSpectrumLayoutTest,
                         ::testing::Values(TLayoutCase{"MainWindow", 20, 24, 1, 1, 1, 121, 513, 121, 56},
                                           TLayoutCase{"Defaults", 8, 24, 1, 1, 1, 117, 225, 117, 54},
                                           TLayoutCase{"ThickTicksWideGaps", 8, 3, 3, 2, 4, 100,
                                                       10 + 12 * 3 - 4, 98, 18},
                                           TLayoutCase{"NoGaps", 4, 10, 1, 0, 0, 50, 50, 50, 40}),
                         [](const auto& named) { return std::string(named.param.Name); });

TEST_F(VrSpectrumTest, TheDefaultBevelFramesTheMainWindowsDisplay)
{
    UseMainWindowSettings();
    const QImage image = Render();
    ASSERT_EQ(image.size(), QSize(513, 121));
    EXPECT_EQ(FSpectrum.DrawingRect(), (TVrRect{5, 5, 508, 116}));
    EXPECT_EQ(FSpectrum.BarRect(0), (TVrRect{5, 5, 25, 116}));
    EXPECT_EQ(image.pixel(0, 0), Rgb(clBlack));             // outer outline
    EXPECT_EQ(image.pixel(1, 1), Rgb(clBtnHighlight));      // raised outer frame, top left
    EXPECT_EQ(image.pixel(511, 119), Rgb(clBtnShadow));     // raised outer frame, bottom right
    EXPECT_EQ(image.pixel(2, 2), Rgb(clBtnShadow));         // lowered inner frame, top left
    EXPECT_EQ(image.pixel(3, 60), Rgb(clBtnShadow));        // ... two pixels wide
    EXPECT_EQ(image.pixel(509, 60), Rgb(clBtnHighlight));   // ... its bottom right
    EXPECT_EQ(image.pixel(4, 4), Rgb(clBlack));             // inner space
}

TEST_F(VrSpectrumTest, ABevelChangeResizesTheControlSoTheDrawingRectangleKeepsItsSize)
{
    UseMainWindowSettings();
    (void)Render();
    FSpectrum.Bevel().SetInnerWidth(4);
    EXPECT_EQ(FSpectrum.Width(), 517);
    EXPECT_EQ(FSpectrum.Height(), 125);
    (void)Render();
    EXPECT_EQ(FSpectrum.DrawingRect(), (TVrRect{7, 7, 510, 118}));
    EXPECT_EQ(FSpectrum.SegmentCount(), 56);

    TVrBevel hidden;
    hidden.SetVisible(false);
    FSpectrum.SetBevel(hidden);
    EXPECT_FALSE(FSpectrum.Bevel().Visible());
    EXPECT_EQ(FSpectrum.Width(), 503);
    EXPECT_EQ(FSpectrum.Height(), 111);
    (void)Render();
    EXPECT_EQ(FSpectrum.DrawingRect(), (TVrRect{0, 0, 503, 111}));
}

// ---- bar images

TEST_F(VrSpectrumTest, PlainZonesAreWholeSegmentsCountedFromTheBottom)
{
    UseMainWindowSettings();
    FSpectrum.SetPlainColors(true);
    (void)Render();
    const QImage& active = FSpectrum.ActiveImage();
    const QImage& inactive = FSpectrum.InactiveImage();
    ASSERT_EQ(active.size(), QSize(20, 111));
    // 56 segments: bottom Round(33.6) = 34 of them (68 rows), middle 14 (28 rows), the top zone the rest.
    EXPECT_EQ(active.pixel(0, 0), Rgb(0x0000FF));
    EXPECT_EQ(active.pixel(19, 14), Rgb(0x0000FF));
    EXPECT_EQ(active.pixel(0, 15), Rgb(0x00FFFF));
    EXPECT_EQ(active.pixel(19, 42), Rgb(0x00FFFF));
    EXPECT_EQ(active.pixel(0, 43), Rgb(0x00FF00));
    EXPECT_EQ(active.pixel(19, 110), Rgb(0x00FF00));
    EXPECT_EQ(inactive.pixel(0, 14), Rgb(0x000080));
    EXPECT_EQ(inactive.pixel(0, 15), Rgb(0x008080));
    EXPECT_EQ(inactive.pixel(0, 43), Rgb(0x008000));
}

TEST_F(VrSpectrumTest, GradientRowsRunFromTopToMiddleToBottomTruncatingEachChannel)
{
    UseMainWindowSettings();
    (void)Render();
    const QImage& active = FSpectrum.ActiveImage();
    const QImage& inactive = FSpectrum.InactiveImage();
    ASSERT_EQ(active.size(), QSize(20, 111));
    // H 111: bottom Round(66.6) = 67, middle Round(27.75) = 28, lower 67 + 14 = 81, upper 111 - 81 = 30.
    EXPECT_EQ(active.pixel(0, 0), Rgb(0x0000FF));
    EXPECT_EQ(active.pixel(0, 15), Rgb(255, 15 * 255 / 30, 0));
    EXPECT_EQ(active.pixel(19, 30), Rgb(0x00FFFF));
    EXPECT_EQ(active.pixel(0, 31), Rgb(0x00FFFF));
    // Row 110 is step 79 of 81 from yellow to lime: red 255 + 79 * -255 div 81 = 255 - 248.
    EXPECT_EQ(active.pixel(0, 110), Rgb(7, 255, 0));
    EXPECT_EQ(inactive.pixel(0, 0), Rgb(0x000080));
    EXPECT_EQ(inactive.pixel(0, 15), Rgb(128, 64, 0));
    EXPECT_EQ(inactive.pixel(0, 30), Rgb(0x008080));
    EXPECT_EQ(inactive.pixel(0, 110), Rgb(128 - 124, 128, 0));
}

TEST_F(VrSpectrumTest, PaletteColoursThatAreSystemColoursAreResolvedInTheGradient)
{
    UseMainWindowSettings();
    FSpectrum.SetPalette3(TVrPalette(clBtnFace, clBtnFace));
    (void)Render();
    EXPECT_EQ(FSpectrum.ActiveImage().pixel(0, 0), Rgb(clBtnFace));
}

// ---- bars

TEST_F(VrSpectrumTest, AValueOfFiveLightsTheMarkerAndTwoBottomZoneSegments)
{
    UseMainWindowSettings();
    FSpectrum.SetPlainColors(true);
    FSpectrum.Bars(3).SetValue(5);
    const QImage image = Render();
    const int right = FSpectrum.BarWidth() - 1;
    EXPECT_EQ(SegmentPixel(image, 3, 53), Rgb(clWhite));
    EXPECT_EQ(SegmentPixel(image, 3, 53, right), Rgb(clWhite));
    EXPECT_EQ(SegmentPixel(image, 3, 54), Rgb(0x00FF00));
    EXPECT_EQ(SegmentPixel(image, 3, 55, right), Rgb(0x00FF00));
    EXPECT_EQ(SegmentPixel(image, 3, 52), Rgb(0x008000));
    EXPECT_EQ(SegmentPixel(image, 3, 0), Rgb(0x000080));
    EXPECT_EQ(SegmentPixel(image, 2, 55), Rgb(0x008000));   // the neighbour is dark throughout
    // The gaps between segments and between bars show the control's colour.
    const TVrRect bar = FSpectrum.BarRect(3);
    EXPECT_EQ(image.pixel(bar.Left, bar.Top + 2 * 54 + 1), Rgb(clBlack));
    EXPECT_EQ(image.pixel(bar.Right, bar.Top + 2 * 54), Rgb(clBlack));
}

TEST_F(VrSpectrumTest, GradientSegmentsCopyTheirRowsOfTheBarImages)
{
    UseMainWindowSettings();
    FSpectrum.Bars(0).SetValue(5);
    FSpectrum.SetMarkerVisible(false);
    const QImage image = Render();
    for (int segment : {0, 30, 52, 53, 54, 55})
    {
        const QImage& source = segment >= 53 ? FSpectrum.ActiveImage() : FSpectrum.InactiveImage();
        for (int column : {0, 19})
            EXPECT_EQ(SegmentPixel(image, 0, segment, column),
                      source.pixel(column, segment * 2) | 0xFF000000U)
                << "segment " << segment << ", column " << column;
    }
    EXPECT_NE(SegmentPixel(image, 0, 53), Rgb(clWhite));
}

TEST_F(VrSpectrumTest, WithoutShowInactiveTheDarkSegmentsTakeTheControlsColour)
{
    UseMainWindowSettings();
    FSpectrum.SetPlainColors(true);
    FSpectrum.SetShowInactive(false);
    FSpectrum.SetColor(clNavy);
    FSpectrum.Bars(1).SetValue(5);
    const QImage image = Render();
    EXPECT_EQ(SegmentPixel(image, 1, 0), Rgb(clNavy));
    EXPECT_EQ(SegmentPixel(image, 1, 52), Rgb(clNavy));
    EXPECT_EQ(SegmentPixel(image, 1, 53), Rgb(clWhite));
    EXPECT_EQ(SegmentPixel(image, 1, 54), Rgb(0x00FF00));
}

TEST_F(VrSpectrumTest, ValuesBeyondTheRangeAreDrawnAsTheRangesEnds)
{
    UseMainWindowSettings();
    FSpectrum.SetPlainColors(true);
    FSpectrum.SetMinValue(-100);
    FSpectrum.Bars(0).SetValue(150);
    FSpectrum.Bars(1).SetValue(-250);
    FSpectrum.Bars(2).SetValue(std::numeric_limits<std::int32_t>::max());
    FSpectrum.Bars(3).SetValue(std::numeric_limits<std::int32_t>::min());
    const QImage image = Render();
    EXPECT_EQ(FSpectrum.Bars(0).Value(), 150);   // kept as set, only drawn clamped
    for (int bar : {0, 2})
    {
        EXPECT_EQ(SegmentPixel(image, bar, 0), Rgb(clWhite)) << "bar " << bar;
        EXPECT_EQ(SegmentPixel(image, bar, 1), Rgb(0x0000FF)) << "bar " << bar;
    }
    for (int bar : {1, 3})
    {
        EXPECT_EQ(SegmentPixel(image, bar, 0), Rgb(0x000080)) << "bar " << bar;
        EXPECT_EQ(SegmentPixel(image, bar, 55), Rgb(0x008000)) << "bar " << bar;
    }
}

TEST_F(VrSpectrumTest, ALitCountOnAHalfRoundsToEven)
{
    // 50 segments: value 5 of 100 is 2.5 segments, which shows 2; value 7 is 3.5, which shows 4.
    FSpectrum.SetPlainColors(true);
    FSpectrum.SetColumns(2);
    FSpectrum.SetBounds(0, 0, 100, 109);
    FSpectrum.Bars(0).SetValue(5);
    FSpectrum.Bars(1).SetValue(7);
    const QImage image = Render();
    ASSERT_EQ(FSpectrum.SegmentCount(), 50);
    EXPECT_EQ(SegmentPixel(image, 0, 48), Rgb(clWhite));
    EXPECT_EQ(SegmentPixel(image, 0, 47), Rgb(0x008000));
    EXPECT_EQ(SegmentPixel(image, 1, 46), Rgb(clWhite));
    EXPECT_EQ(SegmentPixel(image, 1, 45), Rgb(0x008000));
}

// ---- repainting

TEST_F(VrSpectrumTest, AChangedValuePaintsOnlyItsBarAndAnUnchangedOneNothing)
{
    UseMainWindowSettings();
    FSpectrum.SetPlainColors(true);
    ShowSettled();
    ASSERT_EQ(FSpectrum.size(), QSize(513, 121));
    WatchPaints();

    FSpectrum.Bars(3).SetValue(5);
    Settle();
    ASSERT_EQ(FPaints.Regions.size(), 1U);
    EXPECT_EQ(FPaints.Regions[0], QRegion(FSpectrum.BarRect(3).ToQRect()));
    EXPECT_EQ(SegmentPixel(FSpectrum.Bitmap(), 3, 53), Rgb(clWhite));
    EXPECT_EQ(SegmentPixel(FSpectrum.Bitmap(), 3, 54), Rgb(0x00FF00));

    FPaints.Regions.clear();
    FSpectrum.Bars(3).SetValue(5);
    Settle();
    EXPECT_TRUE(FPaints.Regions.empty());

    // Lowering it again darkens what was lit.
    FSpectrum.Bars(3).SetValue(0);
    Settle();
    ASSERT_EQ(FPaints.Regions.size(), 1U);
    EXPECT_EQ(SegmentPixel(FSpectrum.Bitmap(), 3, 53), Rgb(0x008000));
    EXPECT_EQ(SegmentPixel(FSpectrum.Bitmap(), 3, 55), Rgb(0x008000));
}

TEST_F(VrSpectrumTest, ValuesSetInsideAnUpdateWaitForOneFullPaintAtItsEnd)
{
    UseMainWindowSettings();
    FSpectrum.SetPlainColors(true);
    ShowSettled();
    WatchPaints();
    FSpectrum.BarItems().BeginUpdate();
    FSpectrum.Bars(0).SetValue(100);
    FSpectrum.Bars(1).SetValue(100);
    Settle();
    EXPECT_TRUE(FPaints.Regions.empty());
    FSpectrum.BarItems().EndUpdate();
    Settle();
    ASSERT_EQ(FPaints.Regions.size(), 1U);
    EXPECT_EQ(FPaints.Regions[0], QRegion(FSpectrum.rect()));
    EXPECT_EQ(SegmentPixel(FSpectrum.Bitmap(), 1, 0), Rgb(clWhite));
}

// ---- properties

TEST_F(VrSpectrumTest, EachPercentGivesWayToTheOtherAndRefusesValuesOutside0To100)
{
    FSpectrum.SetPercent1(80);
    EXPECT_EQ(FSpectrum.Percent1(), 75);
    FSpectrum.SetPercent2(50);
    EXPECT_EQ(FSpectrum.Percent2(), 25);
    FSpectrum.SetPercent1(30);
    FSpectrum.SetPercent2(90);
    EXPECT_EQ(FSpectrum.Percent2(), 70);
    EXPECT_THROW(FSpectrum.SetPercent1(101), ERangeError);
    EXPECT_THROW(FSpectrum.SetPercent2(-1), ERangeError);
    EXPECT_EQ(FSpectrum.Percent1(), 30);
    EXPECT_EQ(FSpectrum.Percent2(), 70);
}

TEST_F(VrSpectrumTest, MaxValuePullsHigherBarsDownRepaintingOnlyThoseBars)
{
    UseMainWindowSettings();
    ShowSettled();
    FSpectrum.Bars(0).SetValue(80);
    FSpectrum.Bars(1).SetValue(30);
    FSpectrum.Bars(2).SetValue(50);
    FSpectrum.Bars(3).SetValue(90);
    WatchPaints();
    FSpectrum.SetMaxValue(50);
    Settle();
    EXPECT_EQ(FSpectrum.MaxValue(), 50);
    EXPECT_EQ(FSpectrum.Bars(0).Value(), 50);
    EXPECT_EQ(FSpectrum.Bars(1).Value(), 30);
    EXPECT_EQ(FSpectrum.Bars(2).Value(), 50);
    EXPECT_EQ(FSpectrum.Bars(3).Value(), 50);
    QRegion painted;
    for (const QRegion& region : FPaints.Regions)
        painted += region;
    EXPECT_EQ(painted, QRegion(FSpectrum.BarRect(0).ToQRect()) + FSpectrum.BarRect(3).ToQRect());

    FSpectrum.SetMaxValue(0);   // not above MinValue
    EXPECT_EQ(FSpectrum.MaxValue(), 50);
}

TEST_F(VrSpectrumTest, MinValuePullsLowerBarsUpAndMayNotReachMaxValue)
{
    FSpectrum.Bars(0).SetValue(10);
    FSpectrum.Bars(1).SetValue(60);
    FSpectrum.SetMinValue(40);
    EXPECT_EQ(FSpectrum.MinValue(), 40);
    EXPECT_EQ(FSpectrum.Bars(0).Value(), 40);
    EXPECT_EQ(FSpectrum.Bars(1).Value(), 60);
    EXPECT_EQ(FSpectrum.Bars(2).Value(), 40);
    FSpectrum.SetMinValue(100);
    EXPECT_EQ(FSpectrum.MinValue(), 40);
    EXPECT_EQ(FSpectrum.Bars(1).Value(), 60);
}

TEST_F(VrSpectrumTest, ANewColumnCountMakesFreshBarsAndZeroOrLessIsIgnored)
{
    FSpectrum.Bars(2).SetValue(70);
    FSpectrum.SetColumns(0);
    FSpectrum.SetColumns(-3);
    EXPECT_EQ(FSpectrum.BarCount(), 24);
    EXPECT_EQ(FSpectrum.Bars(2).Value(), 70);
    FSpectrum.SetColumns(5);
    ASSERT_EQ(FSpectrum.BarCount(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(FSpectrum.Bars(i).Value(), 0);
    EXPECT_THROW((void)FSpectrum.Bars(5), ERangeError);
    EXPECT_THROW((void)FSpectrum.Bars(-1), ERangeError);
    (void)Render();
    EXPECT_EQ(FSpectrum.Width(), 10 + 5 * 9 - 1);
}

TEST_F(VrSpectrumTest, SizesThatCouldNotBeLaidOutAreRefusedOrIgnored)
{
    EXPECT_THROW(FSpectrum.SetBarWidth(0), ERangeError);
    EXPECT_THROW(FSpectrum.SetSpacing(-1), ERangeError);
    FSpectrum.SetTickHeight(0);
    FSpectrum.SetTickHeight(-4);
    EXPECT_EQ(FSpectrum.BarWidth(), 8);
    EXPECT_EQ(FSpectrum.Spacing(), 1);
    EXPECT_EQ(FSpectrum.TickHeight(), 1);
}

TEST_F(VrSpectrumTest, AControlTooSmallForItsBevelShowsNoSegments)
{
    FSpectrum.SetBounds(0, 0, 4, 4);
    FSpectrum.Bars(0).SetValue(100);
    (void)Render();
    EXPECT_EQ(FSpectrum.SegmentCount(), 0);
    EXPECT_EQ(FSpectrum.Height(), 2 * 5 - 1);   // the two margins less the one gap of no segments
}

// ---- stored descriptions

constexpr const char* kStoredSpectrum = "object Spectrum1: TVrSpectrum\n"
                                        "  Left = 10\n"
                                        "  Top = 20\n"
                                        "  Width = 513\n"
                                        "  Height = 121\n"
                                        "  Color = clNavy\n"
                                        "  Palette1.Low = clTeal\n"
                                        "  Palette2.High = clWhite\n"
                                        "  Percent1 = 50\n"
                                        "  Bevel.InnerWidth = 3\n"
                                        "  Bevel.OuterStyle = bsLowered\n"
                                        "  Columns = 10\n"
                                        "  MaxValue = 50\n"
                                        "  MarkerColor = clRed\n"
                                        "  BarWidth = 20\n"
                                        "  PlainColors = True\n"
                                        "end\n";

TEST_F(VrSpectrumTest, AStoredDescriptionMakesAConfiguredDisplayAndWritesBackAsRead)
{
    auto& spectrum = dynamic_cast<TVrSpectrum&>(ReadComponent(kStoredSpectrum, *FRoot));
    EXPECT_EQ(spectrum.Name(), "Spectrum1");
    EXPECT_EQ(spectrum.Color(), clNavy);
    EXPECT_FALSE(spectrum.ParentColor());
    EXPECT_EQ(spectrum.Palette1().Low(), clTeal);
    EXPECT_EQ(spectrum.Palette1().High(), 0x00FF00);
    EXPECT_EQ(spectrum.Palette2().High(), clWhite);
    EXPECT_EQ(spectrum.Palette3().Low(), 0x000080);
    EXPECT_EQ(spectrum.Percent1(), 50);
    EXPECT_EQ(spectrum.Bevel().InnerWidth(), 3);
    EXPECT_EQ(spectrum.Bevel().InnerColor(), clBlack);
    EXPECT_EQ(spectrum.Bevel().OuterStyle(), TVrBevelStyle::bsLowered);
    EXPECT_EQ(spectrum.BarCount(), 10);
    EXPECT_EQ(spectrum.MaxValue(), 50);
    EXPECT_EQ(spectrum.MarkerColor(), clRed);
    EXPECT_EQ(spectrum.BarWidth(), 20);
    EXPECT_TRUE(spectrum.PlainColors());
    // The stored size belongs to the stored bevel: reading it resizes nothing.
    EXPECT_EQ(spectrum.Width(), 513);
    EXPECT_EQ(spectrum.Height(), 121);
    EXPECT_EQ(WriteDescription(spectrum), kStoredSpectrum);
}

TEST_F(VrSpectrumTest, ANewDisplayWritesOnlyItsBounds)
{
    FSpectrum.SetName("S");
    EXPECT_EQ(WriteDescription(FSpectrum),
              "object S: TVrSpectrum\n  Left = 0\n  Top = 0\n  Width = 217\n  Height = 117\nend\n");
}

TEST_F(VrSpectrumTest, ADescriptionSetsLimitsAndSharesWithoutCheckingOneAgainstTheOther)
{
    // Either order of MaxValue and MinValue would refuse one of these pairs if each were checked at once.
    auto& spectrum = dynamic_cast<TVrSpectrum&>(ReadComponent("object S: TVrSpectrum\n"
                                                              "  Percent1 = 80\n"
                                                              "  Percent2 = 30\n"
                                                              "  MaxValue = -10\n"
                                                              "  MinValue = -50\n"
                                                              "end\n",
                                                              *FRoot));
    EXPECT_EQ(spectrum.MaxValue(), -10);
    EXPECT_EQ(spectrum.MinValue(), -50);
    EXPECT_EQ(spectrum.Bars(0).Value(), -10);
    EXPECT_EQ(spectrum.Percent1(), 80);
    EXPECT_EQ(spectrum.Percent2(), 30);
    auto& raised = dynamic_cast<TVrSpectrum&>(
        ReadComponent("object T: TVrSpectrum\n  MaxValue = 300\n  MinValue = 200\nend\n", *FRoot));
    EXPECT_EQ(raised.MaxValue(), 300);
    EXPECT_EQ(raised.MinValue(), 200);
}

struct TBadDescription
{
    const char* Name;
    const char* Assignment;
};

class VrSpectrumBadDescriptionTest : public VrSpectrumTest,
                                     public ::testing::WithParamInterface<TBadDescription>
{
};

TEST_P(VrSpectrumBadDescriptionTest, IsRefusedAndLeavesNoComponent)
{
    const std::string text = std::string("object S: TVrSpectrum\n  ") + GetParam().Assignment + "\nend\n";
    EXPECT_THROW((void)ReadComponent(text, *FRoot), EReadError);
    EXPECT_EQ(FRoot->ComponentCount(), 1U);   // only the fixture's own display
}

INSTANTIATE_TEST_SUITE_P(
    Values, VrSpectrumBadDescriptionTest,
    ::testing::Values(TBadDescription{"PercentAbove100", "Percent1 = 101"},
                      TBadDescription{"NegativePercent", "Percent2 = -5"},
                      TBadDescription{"ZeroBarWidth", "BarWidth = 0"},
                      TBadDescription{"NegativeSpacing", "Spacing = -1"},
                      TBadDescription{"UnknownBevelStyle", "Bevel.InnerStyle = bsSunken"},
                      TBadDescription{"PaletteColourOfWrongKind", "Palette1.High = 'green'"},
                      TBadDescription{"MinValueNotBelowMaxValue", "MinValue = 150"},
                      TBadDescription{"ColumnsAsText", "Columns = '24'"}),
    [](const auto& named) { return std::string(named.param.Name); });

}   // namespace
}   // namespace harvolin
