#include "rtl/DescriptionWriter.h"
#include "rtl/DescriptionReader.h"
#include "tests/support/DescriptionTestComponents.h"
#include <bit>
#include <gtest/gtest.h>
#include <string>

namespace harvolin
{
namespace
{

class DescriptionWriterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegisterDescriptionTestClasses();
        FForm->SetName("Form1");
    }

    TTestWidget& AddWidget(TComponent& owner, const std::string& name)
    {
        TTestWidget& widget = CreateComponent<TTestWidget>(owner);
        widget.SetName(name);
        return widget;
    }

    TComponentPtr<TTestForm> FForm = MakeComponent<TTestForm>();
};

TEST_F(DescriptionWriterTest, DefaultValuesAreNotWritten)
{
    (void)AddWidget(*FForm, "W1");
    EXPECT_EQ(WriteDescription(*FForm), "object Form1: TTestForm\n  object W1: TTestWidget\n  end\nend\n");
}

TEST_F(DescriptionWriterTest, ChangedValuesAreWrittenWithSubObjectsAndExtraValuesInOrder)
{
    FForm->FCaption = "Harvolin";
    TTestWidget& widget = AddWidget(*FForm, "W1");
    widget.FCount = 5;
    widget.FMode = TTestMode::tmOn;
    widget.FVisible = false;
    widget.FFormat.FSampleRate = 48000;
    widget.FFormat.FTags = {"left"};
    widget.FBuddy = &AddWidget(*FForm, "W2");
    widget.FSerial = 99;
    widget.FData = {0x01, 0xAB};
    AddWidget(widget, "Inner").FCaption = "it's";
    EXPECT_EQ(WriteDescription(*FForm), "object Form1: TTestForm\n"
                                        "  Caption = 'Harvolin'\n"
                                        "  object W1: TTestWidget\n"
                                        "    Count = 5\n"
                                        "    Mode = tmOn\n"
                                        "    Visible = False\n"
                                        "    Format.SampleRate = 48000\n"
                                        "    Format.Tags = ('left')\n"
                                        "    Data = {01AB}\n"
                                        "    object Inner: TTestWidget\n"
                                        "      Caption = 'it''s'\n"
                                        "    end\n"
                                        "  end\n"
                                        "  object W2: TTestWidget\n"
                                        "  end\n"
                                        "end\n");
}

TEST_F(DescriptionWriterTest, ACollectionIsWrittenAsItsItemsOnlyWhileItHasAny)
{
    TTestWidget& widget = AddWidget(*FForm, "W1");
    (void)widget.FPlain.Add<TTestItem>();
    widget.FPlain.Clear();
    const std::string empty = WriteDescription(*FForm);
    EXPECT_EQ(empty.find("Items"), std::string::npos) << empty;
    EXPECT_EQ(empty.find("Plain"), std::string::npos) << empty;

    TTestItem& first = widget.FItems.Add<TTestItem>();
    first.FLabel = "first";
    first.FFormat.FSampleRate = 48000;
    first.FFormat.FTags = {"x"};
    first.FData = {"@device:null", "Null renderer"};
    (void)widget.FItems.Add<TTestItem>();
    widget.FItems.Add<TTestItem>().FWeight = -3;
    const std::string text = WriteDescription(*FForm);
    EXPECT_EQ(text, "object Form1: TTestForm\n"
                    "  object W1: TTestWidget\n"
                    "    Items = <\n"
                    "      item\n"
                    "        Label = 'first'\n"
                    "        Format.SampleRate = 48000\n"
                    "        Format.Tags = ('x')\n"
                    "        Data = ('@device:null' 'Null renderer')\n"
                    "      end\n"
                    "      item\n"
                    "      end\n"
                    "      item\n"
                    "        Weight = -3\n"
                    "      end>\n"
                    "  end\n"
                    "end\n");

    const TComponentPtr<TComponent> read = ReadComponent(text);
    const TTestItems& items = static_cast<const TTestWidget&>(read->Components(0)).FItems;
    ASSERT_EQ(items.Count(), 3U);
    EXPECT_EQ(items.Items(0).FLabel, "first");
    EXPECT_EQ(items.Items(0).FFormat.FSampleRate, 48000);
    EXPECT_EQ(items.Items(0).FFormat.FTags, first.FFormat.FTags);
    EXPECT_EQ(items.Items(0).FData, first.FData);
    EXPECT_EQ(items.Items(2).FWeight, -3);
    EXPECT_EQ(WriteDescription(*read), text);
}

// A widget that declares Count again with another default, as a control redeclares Color.
class TRecountedWidget final : public TTestWidget
{
public:
    explicit TRecountedWidget(TComponent* owner) : TTestWidget(owner) { FCount = 5; }

    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TRecountedWidget", &TTestWidget::StaticClassInfo(),
                                     TPropertyList<TRecountedWidget>()
                                         .Integer(
                                             "Count", [](const TRecountedWidget& o) { return o.FCount; },
                                             [](TRecountedWidget& o, std::int32_t v) { o.FCount = v; }, 5)
                                         .Take());
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

TEST_F(DescriptionWriterTest, ARedeclaredPropertyIsWrittenOnceInItsAncestorsPlaceAgainstItsNewDefault)
{
    auto& widget = CreateComponent<TRecountedWidget>(*FForm);
    widget.SetName("W1");
    widget.FCaption = "c";
    EXPECT_EQ(WriteDescription(*FForm), "object Form1: TTestForm\n  object W1: TRecountedWidget\n"
                                        "    Caption = 'c'\n  end\nend\n");
    widget.FCount = 0;
    EXPECT_EQ(WriteDescription(*FForm), "object Form1: TTestForm\n  object W1: TRecountedWidget\n"
                                        "    Count = 0\n    Caption = 'c'\n  end\nend\n");
}

TEST_F(DescriptionWriterTest, NegativeZeroDiffersFromAZeroDefault)
{
    AddWidget(*FForm, "W1").FLevel = -0.0;
    const std::string text = WriteDescription(*FForm);
    EXPECT_NE(text.find("Level = -0.0"), std::string::npos) << text;
}

TEST_F(DescriptionWriterTest, WrittenTextReadsBackEqualAndWritesIdentically)
{
    FForm->FCaption = "Fr\xC3\xA9quence\n'1'";
    TTestWidget& widget = AddWidget(*FForm, "W1");
    widget.FCount = -2147483647 - 1;
    widget.FMode = TTestMode::tmAuto;
    widget.FOptions = {"ooItalic"};
    widget.FLevel = 0.1 + 0.2;
    widget.FPartner = "W2";
    widget.FFormat.FGain = 1e-300;
    widget.FFormat.FTags = {"a", "", "c"};
    widget.FData = std::vector<std::uint8_t>(70, 0x5A);
    std::vector<TDescValue> links;
    for (int i = 0; i < 12; ++i)
        links.push_back(
            TDescValue::List({TDescValue::Identifier("W2.InputPins._Pin" + std::to_string(i)),
                              TDescValue::String("W2.InputPins.Pin [" + std::to_string(i) + "]")}));
    widget.FLinks = TDescValue::List(links);
    (void)AddWidget(*FForm, "W2");
    const std::string text = WriteDescription(*FForm);

    const TComponentPtr<TComponent> read = ReadComponent(text);
    ASSERT_EQ(read->ComponentCount(), 2U);
    EXPECT_EQ(static_cast<TTestForm&>(*read).FCaption, FForm->FCaption);
    const auto& back = static_cast<const TTestWidget&>(read->Components(0));
    EXPECT_EQ(back.FCount, widget.FCount);
    EXPECT_EQ(back.FMode, widget.FMode);
    EXPECT_EQ(back.FOptions, widget.FOptions);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(back.FLevel), std::bit_cast<std::uint64_t>(widget.FLevel));
    EXPECT_EQ(back.FPartner, widget.FPartner);
    EXPECT_EQ(back.FFormat.FGain, widget.FFormat.FGain);
    EXPECT_EQ(back.FFormat.FTags, widget.FFormat.FTags);
    EXPECT_EQ(back.FData, widget.FData);
    EXPECT_EQ(back.FLinks, widget.FLinks);
    EXPECT_EQ(WriteDescription(*read), text);
}

}   // namespace
}   // namespace harvolin

namespace harvolin
{
namespace
{

// A component with a set stored by element names and a value stored only while a switch allows it.
class TFlagsComponent final : public TComponent
{
public:
    explicit TFlagsComponent(TComponent* owner) : TComponent(owner) {}

    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TFlagsComponent", &TComponent::StaticClassInfo(),
                                     TPropertyList<TFlagsComponent>()
                                         .SetOf(
                                             "Options", {"foFirst", "foSecond", "foThird"},
                                             [](const TFlagsComponent& o) { return o.FOptions; },
                                             [](TFlagsComponent& o, std::uint32_t v) { o.FOptions = v; }, 5U)
                                         .Integer(
                                             "Shade", [](const TFlagsComponent& o) { return o.FShade; },
                                             [](TFlagsComponent& o, int v) { o.FShade = v; })
                                         .StoredWhen([](const TFlagsComponent& o) { return !o.FInherit; })
                                         .Take());
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    std::uint32_t FOptions = 5;
    int FShade = 3;
    bool FInherit = false;
};

TEST(DescriptionSetAndStoredTest, SetsTravelByElementNamesAndStoredPredicatesDecide)
{
    RegisterComponentClass<TFlagsComponent>();
    TComponentPtr<TFlagsComponent> component = MakeComponent<TFlagsComponent>();
    component->SetName("Flags1");
    EXPECT_EQ(WriteDescription(*component), "object Flags1: TFlagsComponent\n  Shade = 3\nend\n");
    component->FOptions = 2;
    component->FInherit = true;
    const std::string text = WriteDescription(*component);
    EXPECT_EQ(text, "object Flags1: TFlagsComponent\n  Options = [foSecond]\nend\n");
    const TComponentPtr<TComponent> read =
        ReadComponent("object Flags2: TFlagsComponent\n  Options = [foThird, foFirst]\n  Shade = 8\nend\n");
    EXPECT_EQ(dynamic_cast<TFlagsComponent&>(*read).FOptions, 5U);
    EXPECT_EQ(dynamic_cast<TFlagsComponent&>(*read).FShade, 8);

    TComponentPtr<TTestForm> owner = MakeComponent<TTestForm>();
    EXPECT_THROW(ReadComponent("object Flags3: TFlagsComponent\n  Options = [foFourth]\nend\n", *owner),
                 EReadError);
    EXPECT_EQ(owner->ComponentCount(), 0U);
}

}   // namespace
}   // namespace harvolin
