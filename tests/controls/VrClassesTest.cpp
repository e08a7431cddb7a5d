#include "controls/VrClasses.h"
#include "controls/VrSysUtils.h"
#include "rtl/DescriptionReader.h"
#include "rtl/DescriptionWriter.h"
#include "tests/support/BitmapListFuzzTarget.h"
#include <QGuiApplication>
#include <QPalette>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <vector>

namespace harvolin
{
namespace
{

QRgb Rgb(TColor color)
{
    return ColorToQRgb(color) | 0xFF000000U;
}

// ---- utilities and colours

TEST(VrSysUtilsTest, PercentIsZeroForNoWholeAndRoundsOtherwise)
{
    EXPECT_EQ(SolveForPercent(1, 0), 0);
    EXPECT_EQ(SolveForPercent(1, 3), 33);
    EXPECT_EQ(SolveForPercent(2, 3), 67);
    EXPECT_EQ(SolveForPercent(1, 8), 12);   // 12.5 rounds to even
    EXPECT_EQ(SolveForPercent(-1, 3), -33);
}

TEST(VrSysUtilsTest, SystemColoursComeFromTheApplicationPalette)
{
    const QPalette palette = QGuiApplication::palette();
    EXPECT_EQ(ColorToQRgb(clBtnFace), palette.color(QPalette::Active, QPalette::Button).rgb());
    EXPECT_EQ(ColorToQRgb(clBtnShadow), palette.color(QPalette::Active, QPalette::Dark).rgb());
    EXPECT_EQ(ColorToQRgb(clBtnHighlight), palette.color(QPalette::Active, QPalette::Light).rgb());
    const TVrRGB face = GetRGB(clBtnFace);
    const QColor qtFace = palette.color(QPalette::Active, QPalette::Button);
    EXPECT_EQ(face.Red, qtFace.red());
    EXPECT_EQ(face.Green, qtFace.green());
    EXPECT_EQ(face.Blue, qtFace.blue());
    // Red sits in the low byte of a plain colour.
    EXPECT_EQ(ColorToQRgb(0x0000FF) | 0xFF000000U, qRgb(255, 0, 0));
    EXPECT_EQ(ColorToRGB(0x123456), 0x123456);
}

TEST(VrSysUtilsTest, ColoursAreStoredByNameWhenTheyHaveOne)
{
    EXPECT_TRUE(ColorToDesc(clBtnFace).IsIdentifier("clBtnFace"));
    EXPECT_TRUE(ColorToDesc(clBlue).IsIdentifier("clBlue"));
    EXPECT_EQ(ColorToDesc(0x123456), TDescValue::Integer(0x123456));
    EXPECT_EQ(ColorFromDesc(TDescValue::Identifier("clLime")), clLime);
    EXPECT_EQ(ColorFromDesc(TDescValue::Integer(-2147483633)), clBtnFace);
    EXPECT_THROW((void)ColorFromDesc(TDescValue::Identifier("clPlaid")), EReadError);
    EXPECT_THROW((void)ColorFromDesc(TDescValue::String("clBlue")), EReadError);
}

// ---- bevel

class TVrBevelTest : public testing::Test
{
protected:
    TVrBevelTest()
    {
        FImage = MakeBitmap(20, 12);
        FImage.fill(Rgb(clRed));
    }

    // The pixel colours of one row of the painted image, as framework colours.
    [[nodiscard]] QRgb At(int x, int y) const { return FImage.pixel(x, y) | 0xFF000000U; }

    QImage FImage;
    TVrCanvas FCanvas{FImage};
};

TEST_F(TVrBevelTest, DefaultsLeaveAnInteriorFourPixelsSmallerOnEverySide)
{
    const TVrBevel bevel;
    TVrRect r{0, 0, 20, 12};
    bevel.GetVisibleArea(r);
    EXPECT_EQ(r, (TVrRect{4, 4, 16, 8}));
    TVrRect painted{0, 0, 20, 12};
    bevel.Paint(FCanvas, painted);
    EXPECT_EQ(painted, r);
    // Nothing inside the interior is touched.
    for (int y = 4; y < 8; ++y)
        for (int x = 4; x < 16; ++x)
            ASSERT_EQ(At(x, y), Rgb(clRed)) << x << "," << y;
}

TEST_F(TVrBevelTest, DefaultsDrawOutlineRaisedOuterLoweredInnerAndSpaceOnTheirRowsAndColumns)
{
    ASSERT_NE(Rgb(clBtnHighlight), Rgb(clBtnShadow));
    ASSERT_NE(Rgb(clBtnFace), Rgb(clBtnShadow));
    TVrRect r{0, 0, 20, 12};
    TVrBevel().Paint(FCanvas, r);
    const QRgb black = Rgb(clBlack);
    const QRgb light = Rgb(clBtnHighlight);
    const QRgb dark = Rgb(clBtnShadow);
    const QRgb face = Rgb(clBtnFace);
    // The outer outline: the whole border.
    for (int x = 0; x < 20; ++x)
    {
        EXPECT_EQ(At(x, 0), black);
        EXPECT_EQ(At(x, 11), black);
    }
    for (int y = 0; y < 12; ++y)
    {
        EXPECT_EQ(At(0, y), black);
        EXPECT_EQ(At(19, y), black);
    }
    // Raised outer frame: light top and left, dark right and bottom, which also take the top-right and
    // bottom-left corners.
    for (int x = 1; x < 18; ++x)
        EXPECT_EQ(At(x, 1), light) << x;
    EXPECT_EQ(At(18, 1), dark);
    for (int y = 2; y < 10; ++y)
    {
        EXPECT_EQ(At(1, y), light) << y;
        EXPECT_EQ(At(18, y), dark) << y;
    }
    for (int x = 1; x < 19; ++x)
        EXPECT_EQ(At(x, 10), dark) << x;
    // Lowered inner frame: the reverse.
    for (int x = 2; x < 17; ++x)
        EXPECT_EQ(At(x, 2), dark) << x;
    EXPECT_EQ(At(17, 2), light);
    for (int x = 2; x < 18; ++x)
        EXPECT_EQ(At(x, 9), light) << x;
    EXPECT_EQ(At(2, 5), dark);
    EXPECT_EQ(At(17, 5), light);
    // The inner space in the inner colour.
    for (int x = 3; x < 17; ++x)
    {
        EXPECT_EQ(At(x, 3), face) << x;
        EXPECT_EQ(At(x, 8), face) << x;
    }
    EXPECT_EQ(At(3, 5), face);
    EXPECT_EQ(At(16, 5), face);
}

TEST_F(TVrBevelTest, EveryStepShrinksByItsWidthAndAHiddenBevelDrawsNothing)
{
    TVrBevel bevel;
    bevel.SetBorderWidth(2);
    bevel.SetInnerOutline(TVrBevelOutlineStyle::osInner);
    bevel.SetOuterOutline(TVrBevelOutlineStyle::osInner);
    bevel.SetOuterWidth(2);
    bevel.SetOuterSpace(1);
    bevel.SetInnerStyle(TVrBevelStyle::bsNone);
    bevel.SetInnerWidth(5);   // no inner frame: its width does not count
    // 2 border + 2 outlines + 2 outer + 1 outer space + 1 inner space.
    EXPECT_EQ(bevel.Margin(), 8);
    TVrRect r{0, 0, 20, 20};
    bevel.Paint(FCanvas, r);
    EXPECT_EQ(r, (TVrRect{8, 8, 12, 12}));

    FImage.fill(Rgb(clRed));
    bevel.SetVisible(false);
    TVrRect hidden{0, 0, 20, 12};
    bevel.Paint(FCanvas, hidden);
    bevel.GetVisibleArea(hidden);
    EXPECT_EQ(hidden, (TVrRect{0, 0, 20, 12}));
    EXPECT_EQ(At(0, 0), Rgb(clRed));
}

TEST_F(TVrBevelTest, SettersNotifyOutsideUpdatesAndRefuseWidthsOutOfRange)
{
    TVrBevel bevel;
    int changes = 0;
    bevel.OnChange = [&](TVrPersistent&) { ++changes; };
    bevel.SetInnerColor(clBlack);
    EXPECT_EQ(changes, 1);
    bevel.BeginUpdate();
    bevel.SetOuterColor(clBlack);
    bevel.SetBorderWidth(3);
    EXPECT_EQ(changes, 1);
    bevel.EndUpdate();
    EXPECT_EQ(changes, 2);

    EXPECT_THROW(bevel.SetInnerWidth(0), ERangeError);
    EXPECT_THROW(bevel.SetBorderWidth(-1), ERangeError);
    EXPECT_EQ(bevel.InnerWidth(), 1);
    EXPECT_EQ(bevel.BorderWidth(), 3);
    EXPECT_EQ(changes, 2);

    TVrBevel copy;
    int copyChanges = 0;
    copy.OnChange = [&](TVrPersistent&) { ++copyChanges; };
    copy.Assign(bevel);
    EXPECT_EQ(copy.Values(), bevel.Values());
    EXPECT_EQ(copyChanges, 1);
}

// ---- palette

TEST(VrPaletteTest, IndexPicksLowOrHighAndAssignNotifiesOnce)
{
    TVrPalette palette;
    EXPECT_EQ(palette.Colors(-3), 0x008000);
    EXPECT_EQ(palette.Colors(0), 0x008000);
    EXPECT_EQ(palette.Colors(1), 0x00FF00);
    int changes = 0;
    palette.OnChange = [&](TVrPersistent&) { ++changes; };
    palette.SetLow(0x008000);   // unchanged
    EXPECT_EQ(changes, 0);
    palette.Assign(TVrPalette(clMaroon, clRed));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(palette.Low(), clMaroon);
    EXPECT_EQ(palette.High(), clRed);
}

// ---- bitmaps and the bitmap list

QImage Filled(int width, int height, QRgb rgb)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(rgb);
    image.setPixel(0, 0, qRgb(1, 2, 3));
    return image;
}

class TVrBitmapsTest : public testing::Test
{
protected:
    TVrBitmapsTest()
    {
        FBitmaps.Add(Filled(3, 2, qRgb(200, 10, 20)));
        FBitmaps.Add(Filled(36, 17, qRgb(0, 128, 255)));
        FBitmaps.OnChange = [this](TVrPersistent&) { ++FChanges; };
    }

    static void ExpectSameImage(const QImage& a, const QImage& b)
    {
        ASSERT_EQ(a.size(), b.size());
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                ASSERT_EQ(a.pixel(x, y) | 0xFF000000U, b.pixel(x, y) | 0xFF000000U) << x << "," << y;
    }

    TVrBitmaps FBitmaps;
    int FChanges = 0;
};

TEST_F(TVrBitmapsTest, StreamStartsWithSignatureAndCountAndRoundTrips)
{
    const std::vector<std::uint8_t> data = FBitmaps.WriteData();
    ASSERT_GE(data.size(), 16U);
    EXPECT_EQ((std::vector<std::uint8_t>(data.begin(), data.begin() + 8)),
              (std::vector<std::uint8_t>{0x62, 0x54, 0x35, 0x00, 2, 0, 0, 0}));
    // The first image's length, then a PNG file.
    const std::uint32_t length = data[8] | (data[9] << 8) | (data[10] << 16) | (data[11] << 24);
    EXPECT_EQ(std::string(data.begin() + 13, data.begin() + 16), "PNG");

    TVrBitmaps read;
    int readChanges = 0;
    read.OnChange = [&](TVrPersistent&) { ++readChanges; };
    read.Add(Filled(1, 1, qRgb(0, 0, 0)));
    read.ReadData(data);
    EXPECT_EQ(readChanges, 2);   // the Add, then one for the whole read
    ASSERT_EQ(read.Count(), 2);
    ExpectSameImage(read.Bitmaps(0), FBitmaps.Bitmaps(0));
    ExpectSameImage(read.Bitmaps(1), FBitmaps.Bitmaps(1));
    const std::size_t second = 12 + length;
    const std::uint32_t secondLength =
        data[second] | (data[second + 1] << 8) | (data[second + 2] << 16) | (data[second + 3] << 24);
    EXPECT_EQ(data.size(), second + 4 + secondLength);

    std::stringstream stream;
    FBitmaps.WriteToStream(stream);
    TVrBitmaps fromStream;
    fromStream.ReadFromStream(stream);
    EXPECT_EQ(fromStream.WriteData(), data);
}

TEST_F(TVrBitmapsTest, AWrongSignatureRaisesInvalidFileFormatAndKeepsTheImages)
{
    std::vector<std::uint8_t> data = FBitmaps.WriteData();
    data[2] = 0x36;
    try
    {
        FBitmaps.ReadData(data);
        FAIL() << "a wrong signature was read";
    }
    catch (const EInvalidGraphic& error)
    {
        EXPECT_STREQ(error.what(), "Invalid file format");
    }
    EXPECT_EQ(FBitmaps.Count(), 2);
    EXPECT_EQ(FChanges, 0);
    EXPECT_THROW(FBitmaps.ReadData(std::vector<std::uint8_t>{0x62, 0x54}), EInvalidGraphic);
    EXPECT_EQ(FBitmaps.Count(), 2);
}

TEST_F(TVrBitmapsTest, TruncatedOrUndecodableStreamsRaiseNamingTheImageAndKeepTheImages)
{
    const std::vector<std::uint8_t> data = FBitmaps.WriteData();
    const std::vector<std::uint8_t> cut(data.begin(), data.end() - 5);
    try
    {
        FBitmaps.ReadData(cut);
        FAIL() << "a truncated stream was read";
    }
    catch (const EInvalidGraphic& error)
    {
        EXPECT_NE(std::string(error.what()).find("image 2 of 2"), std::string::npos) << error.what();
    }
    // A count far beyond what the stream holds.
    std::vector<std::uint8_t> huge(data.begin(), data.begin() + 8);
    huge[7] = 0x7F;
    EXPECT_THROW(FBitmaps.ReadData(huge), EInvalidGraphic);
    std::vector<std::uint8_t> garbled = data;
    garbled[13] = 'X';
    EXPECT_THROW(FBitmaps.ReadData(garbled), EInvalidGraphic);
    EXPECT_EQ(FBitmaps.Count(), 2);
    EXPECT_EQ(FChanges, 0);
}

TEST_F(TVrBitmapsTest, FilesRoundTripAndMissingFilesRaiseNamingThem)
{
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "harvolin-bitmaps-test.vrb";
    FBitmaps.SaveToFile(file);
    TVrBitmaps loaded;
    loaded.LoadFromFile(file);
    std::filesystem::remove(file);
    EXPECT_EQ(loaded.WriteData(), FBitmaps.WriteData());
    try
    {
        loaded.LoadFromFile(file);
        FAIL() << "a missing file was loaded";
    }
    catch (const EInvalidGraphic& error)
    {
        EXPECT_NE(std::string(error.what()).find("harvolin-bitmaps-test.vrb"), std::string::npos);
    }
    EXPECT_EQ(loaded.Count(), 2);
}

TEST_F(TVrBitmapsTest, AddCopiesAndClearAndAssignNotifyOnce)
{
    QImage source = Filled(2, 2, qRgb(5, 5, 5));
    const int index = FBitmaps.Add(source);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(FChanges, 1);
    source.setPixel(1, 1, qRgb(9, 9, 9));
    EXPECT_EQ(FBitmaps.Bitmaps(2).pixel(1, 1) | 0xFF000000U, qRgb(5, 5, 5));
    EXPECT_THROW((void)FBitmaps.Bitmaps(3), ERangeError);

    TVrBitmaps copy;
    int copyChanges = 0;
    copy.OnChange = [&](TVrPersistent&) { ++copyChanges; };
    copy.Assign(FBitmaps);
    EXPECT_EQ(copyChanges, 1);
    EXPECT_EQ(copy.WriteData(), FBitmaps.WriteData());
    FBitmaps.Clear();
    EXPECT_EQ(FChanges, 2);
    EXPECT_EQ(FBitmaps.Count(), 0);
    EXPECT_EQ(copy.Count(), 3);
}

TEST(VrBitmapsStreamTest, EveryCorpusAndRegressionStreamReadsBackOrIsRefusedKeepingTheList)
{
    std::size_t replayed = 0;
    std::size_t read = 0;
    for (const char* folder : {"fuzz/corpus/bitmap-list", "fuzz/regressions/bitmap-list"})
        for (const auto& entry :
             std::filesystem::directory_iterator(std::filesystem::path(HARVOLIN_SOURCE_DIR) / folder))
        {
            if (entry.path().filename() == ".gitkeep")
                continue;
            std::ifstream file(entry.path(), std::ios::binary);
            const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                                  std::istreambuf_iterator<char>()};
            EXPECT_NO_THROW(ExerciseBitmapListReader(bytes)) << entry.path();
            TVrBitmaps bitmaps;
            try
            {
                bitmaps.ReadData(bytes);
                ++read;
            }
            catch (const EInvalidGraphic&)
            {
            }
            ++replayed;
        }
    EXPECT_GE(replayed, 6U);
    // The seeds are valid streams: a reader that refused them all would make the fuzzer's run worthless.
    EXPECT_GE(read, 6U);
}

TEST(VrBitmapListTest, IndexOutsideTheListGivesNoImage)
{
    TComponentPtr<TVrBitmapList> list = MakeComponent<TVrBitmapList>();
    list->Bitmaps().Add(Filled(4, 4, qRgb(1, 1, 1)));
    EXPECT_EQ(list->GetBitmap(-1), nullptr);
    EXPECT_EQ(list->GetBitmap(1), nullptr);
    ASSERT_NE(list->GetBitmap(0), nullptr);
    EXPECT_EQ(list->GetBitmap(0)->width(), 4);
}

TEST(VrBitmapListTest, ChangesReachEveryLinkInOrderThenOnChange)
{
    TComponentPtr<TVrBitmapList> list = MakeComponent<TVrBitmapList>();
    std::vector<std::string> heard;
    TVrChangeLink first;
    TVrChangeLink second;
    first.OnChange = [&](TVrSharedComponent& sender)
    {
        EXPECT_EQ(&sender, list.get());
        heard.push_back("first");
    };
    second.OnChange = [&](TVrSharedComponent&) { heard.push_back("second"); };
    list->OnChange = [&](TVrBitmapList& sender)
    {
        EXPECT_EQ(&sender, list.get());
        heard.push_back("list");
    };
    list->InsertLink(first);
    list->InsertLink(second);
    list->Bitmaps().Add(Filled(1, 1, 0));
    EXPECT_EQ(heard, (std::vector<std::string>{"first", "second", "list"}));

    heard.clear();
    {
        TVrChangeLink gone;
        gone.OnChange = [&](TVrSharedComponent&) { heard.push_back("gone"); };
        list->InsertLink(gone);
        EXPECT_EQ(list->LinkCount(), 3U);
    }
    EXPECT_EQ(list->LinkCount(), 2U);   // a destroyed link leaves its list
    list->RemoveLink(first);
    EXPECT_EQ(first.Sender(), nullptr);
    list->Bitmaps().Clear();
    EXPECT_EQ(heard, (std::vector<std::string>{"second", "list"}));
}

TEST(VrBitmapListTest, DestroyingTheListReleasesEveryLinkAndTellsItsClient)
{
    TComponentPtr<TVrBitmapList> list = MakeComponent<TVrBitmapList>();
    TVrChangeLink first;
    TVrChangeLink second;
    std::vector<std::string> removed;
    list->Bitmaps().Add(Filled(2, 2, 0));
    // A client told of the going may still look at the list's images. (The holder is already empty
    // while it deletes.)
    const TVrBitmapList* going = list.get();
    first.OnSenderRemoved = [&]
    {
        removed.push_back("first");
        EXPECT_EQ(going->Bitmaps().Count(), 1);
    };
    second.OnSenderRemoved = [&] { removed.push_back("second"); };
    list->InsertLink(first);
    list->InsertLink(second);
    list.reset();
    EXPECT_EQ(first.Sender(), nullptr);
    EXPECT_EQ(second.Sender(), nullptr);
    EXPECT_EQ(removed, (std::vector<std::string>{"second", "first"}));   // last first
}

TEST(VrBitmapListTest, ImagesTravelThroughAStoredDescription)
{
    RegisterComponentClass<TVrBitmapList>();
    TComponentPtr<TVrBitmapList> list = MakeComponent<TVrBitmapList>();
    list->SetName("VrBitmapList1");
    list->Bitmaps().Add(Filled(9, 17, qRgb(10, 20, 30)));
    const std::string text = WriteDescription(*list);
    EXPECT_NE(text.find("Bitmaps.Bitmaps = {"), std::string::npos) << text;
    EXPECT_EQ(text.find("Version"), std::string::npos) << text;
    const TComponentPtr<TComponent> read = ReadComponent(text);
    auto* copy = dynamic_cast<TVrBitmapList*>(read.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->Bitmaps().WriteData(), list->Bitmaps().WriteData());
    EXPECT_EQ(WriteDescription(*copy), text);

    // An empty list stores no images.
    const TComponentPtr<TVrBitmapList> empty = MakeComponent<TVrBitmapList>();
    EXPECT_EQ(WriteDescription(*empty).find("Bitmaps"), std::string::npos);
}

// ---- collection

class TCountingCollection final : public TVrCollection
{
public:
    int FWholeChanges = 0;
protected:
    void Changed(TVrCollectionItem* item) override
    {
        if (item == nullptr)
            ++FWholeChanges;
    }
};

TEST(VrCollectionTest, ItemsJoinInOrderAndLeaveRenumberingTheRest)
{
    TCountingCollection collection;
    auto& a = collection.Add<TVrCollectionItem>();
    auto& b = collection.Add<TVrCollectionItem>();
    auto* c = &collection.Add<TVrCollectionItem>();
    EXPECT_EQ(collection.Count(), 3);
    EXPECT_EQ(b.Index(), 1);
    EXPECT_EQ(&collection.Items(2), c);
    delete &b;
    EXPECT_EQ(collection.Count(), 2);
    EXPECT_EQ(c->Index(), 1);
    EXPECT_EQ(&collection.Items(0), &a);
    EXPECT_THROW((void)collection.Items(2), ERangeError);

    collection.BeginUpdate();
    collection.Clear();   // its own update nests inside the open one
    EXPECT_EQ(collection.FWholeChanges, 0);
    collection.EndUpdate();
    EXPECT_EQ(collection.FWholeChanges, 1);
    EXPECT_EQ(collection.Count(), 0);
}

// Records what its items report, as a control that redraws one item at a time does.
class TRecordingCollection final : public TVrCollection
{
public:
    std::vector<TVrCollectionItem*> Reports;
protected:
    void Changed(TVrCollectionItem* item) override { Reports.push_back(item); }
};

class TTouchableItem final : public TVrCollectionItem
{
public:
    using TVrCollectionItem::TVrCollectionItem;
    void Touch() { Changed(); }
};

TEST(VrCollectionTest, AnItemReportsItselfOutsideAnUpdateAndTheUpdatesEndReportsTheWhole)
{
    TRecordingCollection collection;
    auto& first = collection.Add<TTouchableItem>();
    auto& second = collection.Add<TTouchableItem>();
    second.Touch();
    ASSERT_EQ(collection.Reports, std::vector<TVrCollectionItem*>{&second});
    collection.Reports.clear();
    collection.BeginUpdate();
    first.Touch();
    second.Touch();
    EXPECT_TRUE(collection.Reports.empty());
    collection.EndUpdate();
    EXPECT_EQ(collection.Reports, std::vector<TVrCollectionItem*>{nullptr});
}

}   // namespace
}   // namespace harvolin
