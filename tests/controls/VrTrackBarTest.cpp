#include "controls/VrTrackBar.h"
#include "rtl/DescriptionReader.h"
#include "rtl/DescriptionWriter.h"
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTest>
#include <gtest/gtest.h>
#include <iomanip>
#include <sstream>

namespace harvolin
{
namespace
{

// Holds the components of a stored description read in the tests.
class TTrackBarTestHolder final : public TComponent
{
public:
    using TComponent::TComponent;
    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TTrackBarTestHolder", &TComponent::StaticClassInfo(), {});
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

// Counts the paints a widget receives.
class TPaintCounter final : public QObject
{
public:
    int Count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        Count += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

constexpr TColor kBack = clGreen;
constexpr TColor kSlices[4] = {clRed, clBlue, clYellow, clFuchsia};   // normal, disabled, dragging, hot

QRgb Rgb(TColor color)
{
    return ColorToQRgb(color) | 0xFF000000U;
}

class VrTrackBarTest : public testing::Test
{
protected:
    void SetUp() override
    {
        RegisterVrTrackBar();
        RegisterComponentClass<TVrBitmapList>();
        RegisterComponentClass<TTrackBarTestHolder>();
    }

    // A bar of the main window's shape: 241 x 29, BorderWidth 10, track length 212.
    TVrTrackBar& MakeBar(int minValue, int maxValue, int position, int frequency)
    {
        auto& bar = CreateComponent<TVrTrackBar>(*FOwner);
        bar.SetBounds(0, 0, 241, 29);
        bar.SetMaxValue(maxValue);
        bar.SetMinValue(minValue);
        bar.SetPosition(position);
        bar.SetFrequency(frequency);
        bar.SetColor(kBack);
        bar.OnChange = [this](TControl& sender)
        {
            FChanges.push_back(static_cast<TVrTrackBar&>(sender).Position());
            FSender = &sender;
        };
        return bar;
    }

    // A list whose image 0 is a four-state thumb, 36 x 17, one colour per slice.
    TVrBitmapList& MakeList(const std::string& name)
    {
        auto& list = CreateComponent<TVrBitmapList>(*FOwner);
        list.SetName(name);
        QImage thumb(36, 17, QImage::Format_RGB32);
        for (int slice = 0; slice < 4; ++slice)
            for (int y = 0; y < 17; ++y)
                for (int x = 0; x < 9; ++x)
                    thumb.setPixel(slice * 9 + x, y, ColorToQRgb(kSlices[slice]));
        list.Bitmaps().Add(thumb);
        return list;
    }

    static void UseFourStateThumb(TVrTrackBar& bar, TVrBitmapList& list)
    {
        bar.SetBitmapList(&list);
        bar.SetThumbImageIndex(0);
        bar.SetThumbStates(4);
    }

    static void Show(QWidget& widget)
    {
        widget.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&widget));
    }

    static QImage Render(TVrTrackBar& bar) { return bar.grab().toImage(); }

    // A move without a button, straight to the bar (QTest would move the global cursor instead).
    static void Hover(TVrTrackBar& bar, QPoint at)
    {
        QMouseEvent move(QEvent::MouseMove, at, bar.mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(&bar, &move);
    }

    // The colour painted now in the middle of the thumb's first nine columns.
    static QRgb ThumbColour(TVrTrackBar& bar)
    {
        const TVrRect thumb = bar.ThumbRect();
        return Render(bar).pixel(thumb.Left + 4, (thumb.Top + thumb.Bottom) / 2);
    }

    TComponentPtr<TComponent> FOwner = MakeComponent<TComponent>();
    std::vector<int> FChanges;
    TControl* FSender = nullptr;
};

// ---- geometry and painting

TEST_F(VrTrackBarTest, NewBarStoresOnlyItsBoundsAndHasTheBuiltInThumb)
{
    auto& bar = CreateComponent<TVrTrackBar>(*FOwner);
    bar.SetName("tb");
    EXPECT_EQ(WriteDescription(bar),
              "object tb: TVrTrackBar\n  Left = 0\n  Top = 0\n  Width = 175\n  Height = 45\nend\n");
    EXPECT_EQ(bar.Options().Bits(), 23U);
    EXPECT_EQ(bar.ThumbRect(), (TVrRect{10, 14, 19, 31}));
    EXPECT_EQ(bar.focusPolicy(), Qt::NoFocus);
}

TEST_F(VrTrackBarTest, MainWindowBarPutsThumbOfPositionTenAtPixel110)
{
    TVrTrackBar& bar = MakeBar(1, 20, 10, 1);
    EXPECT_EQ(bar.TrackLength(), 212);
    EXPECT_EQ(bar.ThumbRect(), (TVrRect{110, 6, 119, 23}));
    const QImage image = Render(bar);
    for (int y = 7; y < 22; ++y)
        EXPECT_EQ(image.pixel(110, y), Rgb(clWhite)) << "row " << y;
    EXPECT_EQ(image.pixel(109, 7), Rgb(kBack));
    EXPECT_EQ(image.pixel(118, 7), Rgb(clBlack));
    EXPECT_EQ(image.pixel(110, 6), Rgb(clSilver));   // opaque thumb: its transparent colour is drawn

    bar.SetOptions({});
    EXPECT_EQ(Render(bar).pixel(110, 6), Rgb(kBack));
}

TEST_F(VrTrackBarTest, TicksOfRangeOneToHundredStepByFiveWithLongEnds)
{
    TVrTrackBar& bar = MakeBar(1, 100, 1, 5);
    bar.SetTickColor(clRed);
    std::vector<int> values;
    for (const TVrTick& tick : bar.Ticks())
        values.push_back(tick.Value);
    std::vector<int> expected;
    for (int v = 1; v <= 96; v += 5)
        expected.push_back(v);
    expected.push_back(100);
    EXPECT_EQ(values, expected);

    // Gutter rows 10 to 18; the scales' base lines are 5 above and 5 below it.
    const QImage image = Render(bar);
    int onBaseLine = 0;
    for (int x = 0; x < 241; ++x)
        onBaseLine += image.pixel(x, 5) == Rgb(clRed) ? 1 : 0;
    EXPECT_EQ(onBaseLine, 21);
    const std::pair<int, bool> ticks[] = {{14, true}, {25, false}, {226, true}};
    for (const auto& [x, isLong] : ticks)
    {
        for (int y : {3, 4, 5, 24, 25, 26})
            EXPECT_EQ(image.pixel(x, y), Rgb(clRed)) << x << ", " << y;
        EXPECT_EQ(image.pixel(x, 2) == Rgb(clRed), isLong) << x;
        EXPECT_EQ(image.pixel(x, 27) == Rgb(clRed), isLong) << x;
        EXPECT_EQ(image.pixel(x, 1), Rgb(kBack)) << x;
        EXPECT_EQ(image.pixel(x, 28), Rgb(kBack)) << x;
    }
}

struct TTickCase
{
    const char* Name;
    int MinValue;
    int MaxValue;
    int Frequency;
    std::int64_t Step;
    std::size_t Count;
};

class VrTrackBarTickTest : public VrTrackBarTest, public testing::WithParamInterface<TTickCase>
{
};

// Track length 100 throughout.
TEST_P(VrTrackBarTickTest, StepGrowsUntilTicksAreFourPixelsApart)
{
    const TTickCase& c = GetParam();
    TVrTrackBar& bar = MakeBar(c.MinValue, c.MaxValue, c.MinValue, c.Frequency);
    bar.SetWidth(129);
    ASSERT_EQ(bar.TrackLength(), 100);
    EXPECT_EQ(bar.TickStep(), c.Step);
    const std::vector<TVrTick> ticks = bar.Ticks();
    ASSERT_EQ(ticks.size(), c.Count);
    EXPECT_EQ(ticks.front().Value, c.MinValue);
    EXPECT_EQ(ticks.back().Value, c.MaxValue);
    EXPECT_TRUE(ticks.front().Long);
    EXPECT_EQ(ticks.front().Pixel, 14);
}

INSTANTIATE_TEST_SUITE_P(Ranges, VrTrackBarTickTest,
                         testing::Values(TTickCase{"Thousand", 0, 1000, 1, 40, 26},
                                         // 2e9 / 78431372 rounds to 26 (spacing 3), 2e9 / 78431373 to 25.
                                         TTickCase{"TwoBillion", 0, 2000000000, 1, 78431373, 26},
                                         TTickCase{"NoFrequency", 0, 50, 0, 50, 2},
                                         TTickCase{"OneValue", 7, 7, 1, 1, 1}),
                         [](const testing::TestParamInfo<TTickCase>& param)
                         { return std::string(param.param.Name); });

TEST_F(VrTrackBarTest, VerticalBottomLeftPutsMinimumAtTheBottom)
{
    TVrTrackBar& bar = MakeBar(0, 100, 0, 10);
    bar.SetOrientation(TVrOrientation::voVertical);
    ASSERT_EQ(bar.Width(), 29);
    ASSERT_EQ(bar.Height(), 241);
    EXPECT_TRUE(bar.Mirrored());
    EXPECT_EQ(bar.ThumbRect(), (TVrRect{6, 222, 23, 231}));
    EXPECT_EQ(bar.PixelToPosition(222), 0);
    EXPECT_EQ(bar.PixelToPosition(10), 100);
    const QImage image = Render(bar);
    EXPECT_EQ(image.pixel(7, 222), Rgb(clWhite));
    EXPECT_EQ(image.pixel(6, 223), Rgb(clWhite));
    // The left scale's long tick of the minimum, pointing left from x = 5.
    for (int x = 2; x <= 5; ++x)
        EXPECT_EQ(image.pixel(x, 226), Rgb(clBlack)) << x;
    EXPECT_EQ(image.pixel(1, 226), Rgb(kBack));

    bar.SetPosition(100);
    EXPECT_EQ(bar.ThumbRect().Top, 10);
}

TEST_F(VrTrackBarTest, HorizontalTopRightPutsMinimumAtTheRight)
{
    TVrTrackBar& bar = MakeBar(0, 100, 0, 10);
    bar.SetStyle(TVrProgressStyle::psTopRight);
    EXPECT_EQ(bar.ThumbRect().Left, 222);
    EXPECT_EQ(bar.Ticks().front().Pixel, 226);
    EXPECT_EQ(bar.PixelToPosition(10), 100);
}

TEST_F(VrTrackBarTest, OneValueRangeSitsAtTheTrackStart)
{
    TVrTrackBar& bar = MakeBar(5, 5, 5, 1);
    EXPECT_EQ(bar.ThumbRect().Left, 10);
    EXPECT_EQ(bar.PixelToPosition(150), 5);
    ASSERT_EQ(bar.Ticks().size(), 1U);
    EXPECT_EQ(bar.Ticks()[0], (TVrTick{5, 14, true}));
    bar.SetStyle(TVrProgressStyle::psTopRight);
    EXPECT_EQ(bar.ThumbRect().Left, 222);
    EXPECT_EQ(bar.PixelToPosition(10), 5);
}

TEST_F(VrTrackBarTest, GutterIsBevelledFilledAndFocusFramed)
{
    TVrTrackBar& bar = MakeBar(0, 100, 50, 10);
    bar.SetGutterColor(clBlue);
    QImage image = Render(bar);
    // Lowered: shadow on the top-left, highlight on the bottom-right of G = (10, 10, 231, 19).
    EXPECT_EQ(image.pixel(50, 10), Rgb(clBtnShadow));
    EXPECT_EQ(image.pixel(10, 14), Rgb(clBtnShadow));
    EXPECT_EQ(image.pixel(50, 18), Rgb(clBtnHighlight));
    EXPECT_EQ(image.pixel(230, 14), Rgb(clBtnHighlight));
    EXPECT_EQ(image.pixel(50, 11), Rgb(clBlue));
    EXPECT_EQ(image.pixel(50, 17), Rgb(clBlue));

    bar.GutterBevel().SetVisible(false);
    EXPECT_EQ(Render(bar).pixel(50, 14), Rgb(kBack));
}

TEST_F(VrTrackBarTest, BackgroundImageIsStretchedOverTheClient)
{
    TVrTrackBar& bar = MakeBar(0, 100, 0, 10);
    TVrBitmapList& list = MakeList("Images");
    QImage back(4, 4, QImage::Format_RGB32);
    back.fill(ColorToQRgb(clNavy));
    list.Bitmaps().Add(back);
    bar.SetBitmapList(&list);
    bar.SetBackImageIndex(1);
    const QImage image = Render(bar);
    EXPECT_EQ(image.pixel(0, 0), Rgb(clNavy));
    EXPECT_EQ(image.pixel(240, 28), Rgb(clNavy));
    EXPECT_EQ(bar.ThumbWidth(), 9);   // no thumb image chosen: the built-in one
}

// ---- position and range

TEST_F(VrTrackBarTest, PositionIsClampedAndOnlyAChangeFiresOnChange)
{
    TVrTrackBar& bar = MakeBar(0, 100, 0, 10);
    bar.SetPosition(150);
    EXPECT_EQ(bar.Position(), 100);
    EXPECT_EQ(FChanges, std::vector<int>{100});
    EXPECT_EQ(FSender, &bar);
    bar.SetPosition(100);
    bar.SetPosition(-3);
    EXPECT_EQ(FChanges, (std::vector<int>{100, 0}));
}

TEST_F(VrTrackBarTest, MovingAnEndPastPositionDragsPositionAlong)
{
    TVrTrackBar& bar = MakeBar(0, 100, 50, 10);
    bar.SetMaxValue(200);
    bar.SetMinValue(10);
    EXPECT_TRUE(FChanges.empty());
    bar.SetMaxValue(30);
    bar.SetMinValue(40);
    EXPECT_EQ(FChanges, std::vector<int>{30});
    EXPECT_EQ(bar.Position(), 30);   // no check keeps MinValue below MaxValue; MaxValue wins the clamp
}

TEST_F(VrTrackBarTest, ThumbStatesOutsideOneToFourRaiseAndChangeNothing)
{
    TVrTrackBar& bar = MakeBar(0, 100, 0, 10);
    UseFourStateThumb(bar, MakeList("Images"));
    EXPECT_THROW(bar.SetThumbStates(0), ERangeError);
    EXPECT_THROW(bar.SetThumbStates(5), ERangeError);
    EXPECT_EQ(bar.ThumbStates(), 4);
    EXPECT_EQ(bar.ThumbWidth(), 9);
}

// ---- mouse

TEST_F(VrTrackBarTest, DraggingTheThumbFiresOnChangeOncePerChange)
{
    TVrTrackBar& bar = MakeBar(1, 20, 10, 1);
    UseFourStateThumb(bar, MakeList("Images"));
    Show(bar);
    // The inherited handlers come last on moves and releases: they see the drag's outcome.
    std::vector<int> seenOnMove;
    bool draggingOnRelease = true;
    bar.OnMouseMove = [&](TControl&, std::uint32_t, int, int) { seenOnMove.push_back(bar.Position()); };
    bar.OnMouseUp = [&](TControl&, TMouseButton, std::uint32_t, int, int)
    { draggingOnRelease = bar.Dragging(); };
    QTest::mousePress(&bar, Qt::RightButton, {}, QPoint(113, 14));
    QTest::mouseRelease(&bar, Qt::RightButton, {}, QPoint(113, 14));
    EXPECT_FALSE(bar.Dragging());
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(113, 14));
    EXPECT_TRUE(bar.Dragging());
    EXPECT_EQ(QWidget::mouseGrabber(), &bar);
    EXPECT_EQ(ThumbColour(bar), Rgb(kSlices[2]));
    QTest::mouseMove(&bar, QPoint(123, 14));   // leading edge 120: Round(110 * 19 / 212) = 10
    QTest::mouseMove(&bar, QPoint(124, 14));   // 121 is still position 11
    QTest::mouseMove(&bar, QPoint(900, 14));
    EXPECT_EQ(FChanges, (std::vector<int>{11, 20}));
    EXPECT_EQ(seenOnMove, (std::vector<int>{11, 11, 20}));
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(900, 14));
    EXPECT_FALSE(bar.Dragging());
    EXPECT_FALSE(draggingOnRelease);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(ThumbColour(bar), Rgb(kSlices[0]));
}

TEST_F(VrTrackBarTest, ClickBesideTheThumbCentresItWithActiveClick)
{
    TVrTrackBar& bar = MakeBar(1, 20, 10, 1);
    Show(bar);
    // The inherited handler comes first on a press: it sees the position before the click.
    std::vector<int> seenOnPress;
    bar.OnMouseDown = [&](TControl&, TMouseButton, std::uint32_t, int, int)
    { seenOnPress.push_back(bar.Position()); };
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(60, 14));   // edge 56: Round(46 * 19 / 212) = 4
    EXPECT_EQ(bar.Position(), 5);
    EXPECT_TRUE(bar.ThumbRect().Contains(60, 14));
    EXPECT_FALSE(bar.Dragging());

    bar.SetOptions({});
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(200, 14));
    EXPECT_EQ(bar.Position(), 5);
    EXPECT_EQ(FChanges, std::vector<int>{5});
    EXPECT_EQ(seenOnPress, (std::vector<int>{10, 5}));
}

TEST_F(VrTrackBarTest, ActiveClickWithFixedPointsSnapsToFrequency)
{
    TVrTrackBar& bar = MakeBar(1, 100, 1, 5);
    bar.SetOptions({TVrTrackBarOption::toActiveClick, TVrTrackBarOption::toFixedPoints});
    Show(bar);
    // Edge 56 alone would give Round(46 * 99 / 212) = 21, i.e. 22; snapped 20 above the minimum.
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(60, 14));
    EXPECT_EQ(bar.Position(), 21);
}

TEST_F(VrTrackBarTest, HoverDrawsTheHotSliceAndTheHand)
{
    TVrTrackBar& bar = MakeBar(1, 20, 10, 1);
    UseFourStateThumb(bar, MakeList("Images"));
    bar.SetCursor(crCross);
    Show(bar);
    TPaintCounter paints;
    bar.installEventFilter(&paints);
    Hover(bar, QPoint(112, 14));
    QCoreApplication::processEvents();
    Hover(bar, QPoint(114, 14));
    QCoreApplication::processEvents();
    EXPECT_TRUE(bar.Hot());
    EXPECT_EQ(paints.Count, 1);
    EXPECT_EQ(ThumbColour(bar), Rgb(kSlices[3]));
    EXPECT_EQ(bar.cursor(), ScreenCursor(crHandPoint));

    Hover(bar, QPoint(50, 14));
    EXPECT_FALSE(bar.Hot());
    EXPECT_EQ(bar.cursor().shape(), Qt::CrossCursor);

    bar.SetOptions({});
    Hover(bar, QPoint(112, 14));
    EXPECT_EQ(bar.cursor().shape(), Qt::CrossCursor);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&bar, &leave);
    EXPECT_FALSE(bar.Hot());
}

TEST_F(VrTrackBarTest, DisabledBarDrawsTheSecondSliceAndEndsADrag)
{
    TVrTrackBar& bar = MakeBar(1, 20, 10, 1);
    UseFourStateThumb(bar, MakeList("Images"));
    Show(bar);
    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(113, 14));
    bar.SetEnabled(false);
    EXPECT_FALSE(bar.Dragging());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(ThumbColour(bar), Rgb(kSlices[1]));
    bar.SetThumbStates(1);
    EXPECT_EQ(ThumbColour(bar), Rgb(kSlices[0]));
    EXPECT_EQ(bar.ThumbWidth(), 36);
}

TEST_F(VrTrackBarTest, PressTakesTheFocusOnlyWithTabStopAndFocusIsFramed)
{
    TVrTrackBar& bar = MakeBar(1, 20, 10, 1);
    bar.SetFocusColor(clRed);
    bar.SetFocusOffset(2);
    Show(bar);
    bar.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&bar));
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(200, 3));
    EXPECT_FALSE(bar.hasFocus());
    EXPECT_EQ(Render(bar).pixel(2, 14), Rgb(kBack));

    bar.SetTabStop(true);
    ASSERT_FALSE(bar.hasFocus());
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(200, 3));
    EXPECT_TRUE(bar.hasFocus());
    const QImage image = Render(bar);
    EXPECT_EQ(image.pixel(2, 14), Rgb(clRed));
    EXPECT_EQ(image.pixel(238, 26), Rgb(clRed));
    EXPECT_EQ(image.pixel(1, 14), Rgb(kBack));
    bar.SetFocusOffset(-1);
    EXPECT_EQ(Render(bar).pixel(2, 14), Rgb(kBack));
    bar.SetFocusOffset(2);
    bar.clearFocus();
    EXPECT_EQ(Render(bar).pixel(2, 14), Rgb(kBack));
}

// ---- keys

struct TKeyCase
{
    const char* Name;
    TVrOrientation Orientation;
    TVrProgressStyle Style;
    Qt::Key Key;
    Qt::KeyboardModifiers Modifiers;
    int Expected;   // from 50 in 0..100, Frequency 10
};

class VrTrackBarKeyTest : public VrTrackBarTest, public testing::WithParamInterface<TKeyCase>
{
};

TEST_P(VrTrackBarKeyTest, KeyMovesPositionAndOnKeyDownSeesTheResult)
{
    const TKeyCase& c = GetParam();
    TVrTrackBar& bar = MakeBar(0, 100, 50, 10);
    bar.SetOrientation(c.Orientation);
    bar.SetStyle(c.Style);
    int seenKey = 0;
    int seenPosition = -1;
    bar.OnKeyDown = [&](TControl&, int& key, std::uint32_t)
    {
        seenKey = key;
        seenPosition = bar.Position();
    };
    QKeyEvent press(QEvent::KeyPress, c.Key, c.Modifiers);
    QApplication::sendEvent(&bar, &press);
    EXPECT_EQ(bar.Position(), c.Expected);
    EXPECT_EQ(seenKey, c.Key);
    EXPECT_EQ(seenPosition, c.Expected);
    // Only a key the bar acts on is taken from its parent.
    const bool acts = c.Modifiers == Qt::NoModifier && (c.Key == Qt::Key_Home || c.Key == Qt::Key_End ||
                                                        ((c.Key == Qt::Key_Left || c.Key == Qt::Key_Right) ==
                                                         (c.Orientation == TVrOrientation::voHorizontal)));
    EXPECT_EQ(press.isAccepted(), acts);
}

constexpr auto kH = TVrOrientation::voHorizontal;
constexpr auto kV = TVrOrientation::voVertical;
constexpr auto kBL = TVrProgressStyle::psBottomLeft;
constexpr auto kTR = TVrProgressStyle::psTopRight;

INSTANTIATE_TEST_SUITE_P(
    Keys, VrTrackBarKeyTest,
    testing::Values(TKeyCase{"HomeIsMaximum", kH, kBL, Qt::Key_Home, {}, 100},
                    TKeyCase{"EndIsMinimum", kV, kBL, Qt::Key_End, {}, 0},
                    TKeyCase{"RightAdds", kH, kBL, Qt::Key_Right, {}, 60},
                    TKeyCase{"LeftSubtracts", kH, kBL, Qt::Key_Left, {}, 40},
                    TKeyCase{"UpIgnoredHorizontally", kH, kBL, Qt::Key_Up, {}, 50},
                    TKeyCase{"UpAddsVertically", kV, kBL, Qt::Key_Up, {}, 60},
                    TKeyCase{"DownSubtractsVertically", kV, kBL, Qt::Key_Down, {}, 40},
                    TKeyCase{"RightIgnoredVertically", kV, kBL, Qt::Key_Right, {}, 50},
                    TKeyCase{"TopRightReversesRight", kH, kTR, Qt::Key_Right, {}, 40},
                    TKeyCase{"TopRightReversesUp", kV, kTR, Qt::Key_Up, {}, 40},
                    TKeyCase{"TopRightKeepsHome", kH, kTR, Qt::Key_Home, {}, 100},
                    TKeyCase{"CtrlRightDoesNothing", kH, kBL, Qt::Key_Right, Qt::ControlModifier, 50},
                    TKeyCase{"ShiftHomeDoesNothing", kH, kBL, Qt::Key_Home, Qt::ShiftModifier, 50},
                    TKeyCase{"AltEndDoesNothing", kH, kBL, Qt::Key_End, Qt::AltModifier, 50}),
    [](const testing::TestParamInfo<TKeyCase>& param) { return std::string(param.param.Name); });

TEST_F(VrTrackBarTest, ArrowKeysAreClaimedBeforeShortcuts)
{
    TVrTrackBar& bar = MakeBar(0, 100, 50, 10);
    QKeyEvent arrow(QEvent::ShortcutOverride, Qt::Key_Left, Qt::NoModifier);
    arrow.ignore();
    QApplication::sendEvent(&bar, &arrow);
    EXPECT_TRUE(arrow.isAccepted());
    QKeyEvent ctrlArrow(QEvent::ShortcutOverride, Qt::Key_Left, Qt::ControlModifier);
    ctrlArrow.ignore();
    QApplication::sendEvent(&bar, &ctrlArrow);
    EXPECT_FALSE(ctrlArrow.isAccepted());
}

// ---- stored descriptions and the bitmap list

std::string Hex(const std::vector<std::uint8_t>& bytes)
{
    std::ostringstream out;
    for (std::uint8_t b : bytes)
        out << std::uppercase << std::hex << std::setw(2) << std::setfill('0') << int{b};
    return out.str();
}

TEST_F(VrTrackBarTest, StoredDescriptionConfiguresABarAndWritesBackTheSame)
{
    TVrBitmapList& list = MakeList("VrBitmapList1");
    const std::string text = "object tbFreqMin: TVrTrackBar\n"
                             "  Left = 24\n"
                             "  Top = 72\n"
                             "  Width = 241\n"
                             "  Height = 29\n"
                             "  TabStop = True\n"
                             "  TabOrder = 2\n"
                             "  MaxValue = 20\n"
                             "  MinValue = 1\n"
                             "  Position = 10\n"
                             "  Options = [toActiveClick, toFixedPoints, toThumbOpaque]\n"
                             "  Frequency = 1\n"
                             "  GutterBevel.InnerWidth = 2\n"
                             "  GutterBevel.OuterStyle = bsRaised\n"
                             "  GutterColor = clBlue\n"
                             "  TickMarks = tmTopLeft\n"
                             "  ThumbStates = 4\n"
                             "  ThumbImageIndex = 0\n"
                             "  BitmapList = VrBitmapList1\n"
                             "  ScaleOffset = 3\n"
                             "end\n";
    auto& bar = dynamic_cast<TVrTrackBar&>(ReadComponent(text, *FOwner));
    EXPECT_EQ(bar.Position(), 10);
    EXPECT_EQ(bar.Options(),
              (TVrTrackBarOptions{TVrTrackBarOption::toActiveClick, TVrTrackBarOption::toFixedPoints,
                                  TVrTrackBarOption::toThumbOpaque}));
    EXPECT_EQ(bar.GutterBevel().OuterStyle(), TVrBevelStyle::bsRaised);
    EXPECT_EQ(bar.GutterBevel().InnerStyle(), TVrBevelStyle::bsNone);
    EXPECT_EQ(bar.BitmapList(), &list);
    EXPECT_EQ(bar.ThumbWidth(), 9);
    EXPECT_EQ(ThumbColour(bar), Rgb(kSlices[0]));
    EXPECT_EQ(bar.ThumbRect().Left, 110);
    EXPECT_EQ(WriteDescription(bar), text);
}

TEST_F(VrTrackBarTest, ListNamedBeforeItIsReadIsResolvedOnceAllAreLoaded)
{
    TVrBitmapList& images = MakeList("Images");
    const std::string tail = "    ThumbImageIndex = 0\n"
                             "    ThumbStates = 4\n"
                             "  end\n"
                             "  object VrBitmapList1: TVrBitmapList\n"
                             "    Bitmaps.Bitmaps = {" +
                             Hex(images.Bitmaps().WriteData()) +
                             "}\n"
                             "  end\n"
                             "end\n";
    TComponentPtr<TComponent> holder =
        ReadComponent("object Holder: TTrackBarTestHolder\n  object Bar: TVrTrackBar\n"
                      "    Width = 29\n    Height = 241\n    Orientation = voVertical\n"
                      "    BitmapList = VrBitmapList1\n" +
                      tail);
    auto& bar = dynamic_cast<TVrTrackBar&>(*holder->FindComponent("Bar"));
    EXPECT_EQ(bar.BitmapList(), holder->FindComponent("VrBitmapList1"));
    EXPECT_EQ(bar.ThumbWidth(), 9);
    EXPECT_EQ(bar.Width(), 29);   // a stored orientation does not swap the stored size

    try
    {
        (void)ReadComponent("object Holder: TTrackBarTestHolder\n  object Bar: TVrTrackBar\n"
                            "    BitmapList = Missing\n" +
                            tail);
        ADD_FAILURE() << "an unknown list was accepted";
    }
    catch (const EReadError& error)
    {
        EXPECT_NE(std::string(error.what()).find("'Missing'"), std::string::npos) << error.what();
    }
}

TEST_F(VrTrackBarTest, BadEnumerationInADescriptionCreatesNothing)
{
    const std::size_t before = FOwner->ComponentCount();
    EXPECT_THROW(
        (void)ReadComponent("object tb: TVrTrackBar\n  MaxValue = 20\n  TickMarks = tmLeft\nend\n", *FOwner),
        EReadError);
    EXPECT_THROW((void)ReadComponent("object tb: TVrTrackBar\n  Options = [toSticky]\nend\n", *FOwner),
                 EReadError);
    EXPECT_EQ(FOwner->ComponentCount(), before);
}

TEST_F(VrTrackBarTest, DestroyingTheListFallsBackToTheBuiltInThumb)
{
    TVrTrackBar& bar = MakeBar(1, 20, 10, 1);
    TVrBitmapList& list = MakeList("Images");
    bar.SetBitmapList(&list);
    bar.SetThumbImageIndex(0);
    EXPECT_EQ(bar.ThumbWidth(), 36);
    list.Bitmaps().Clear();   // the link hears of it
    EXPECT_EQ(bar.ThumbWidth(), 9);
    list.Bitmaps().Add(QImage(18, 17, QImage::Format_RGB32));
    EXPECT_EQ(bar.ThumbWidth(), 18);

    FreeComponent(&list);
    EXPECT_EQ(bar.BitmapList(), nullptr);
    EXPECT_EQ(bar.ThumbWidth(), 9);
    EXPECT_EQ(Render(bar).pixel(110, 12), Rgb(clWhite));
}

}   // namespace
}   // namespace harvolin
