#include "rtl/DescriptionReader.h"
#include "tests/support/DescriptionFuzzTarget.h"
#include "tests/support/DescriptionTestComponents.h"
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

using enum TComponentStateFlag;

class DescriptionReaderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegisterDescriptionTestClasses();
        (void)CreateComponent<TTestWidget>(*FOwner).SetName("Existing");
    }

    static TTestWidget& Widget(TComponent& owner, std::string_view name)
    {
        auto* widget = dynamic_cast<TTestWidget*>(owner.FindComponent(name));
        if (widget == nullptr)
            throw std::runtime_error("no widget " + std::string(name));
        return *widget;
    }

    // The message of the EReadError the read raises; the owner must be left as it was.
    std::string ErrorOf(std::string_view text)
    {
        try
        {
            (void)ReadComponent(text, *FOwner);
        }
        catch (const EReadError& error)
        {
            EXPECT_EQ(FOwner->ComponentCount(), 1U);
            return error.Message();
        }
        return "no error";
    }

    TComponentPtr<TComponent> FOwner = MakeComponent<TComponent>();
};

TEST_F(DescriptionReaderTest, DescriptionBuildsTheTreeInStoredOrderWithItsProperties)
{
    TComponent& form = ReadComponent("object Form1: TTestForm\n"
                                     "  Caption = 'Harvolin'\n"
                                     "  object B: TTestWidget\n"
                                     "    Count = 3\n"
                                     "    Mode = tmAuto\n"
                                     "    Options = [ooBold, ooWide]\n"
                                     "    Level = -2.5\n"
                                     "    Visible = False\n"
                                     "    Format.SampleRate = 48000\n"
                                     "    object Inner: TTestWidget\n"
                                     "      Caption = 'inner'\n"
                                     "    end\n"
                                     "  end\n"
                                     "  object A: TTestWidget\n"
                                     "  end\n"
                                     "end\n",
                                     *FOwner);
    EXPECT_EQ(form.Owner(), FOwner.get());
    EXPECT_EQ(form.Name(), "Form1");
    EXPECT_EQ(static_cast<TTestForm&>(form).FCaption, "Harvolin");
    ASSERT_EQ(form.ComponentCount(), 2U);
    EXPECT_EQ(form.Components(0).Name(), "B");
    EXPECT_EQ(form.Components(1).Name(), "A");
    const TTestWidget& b = Widget(form, "B");
    EXPECT_EQ(b.FCount, 3);
    EXPECT_TRUE(b.FLoadingWhenCountSet);
    EXPECT_EQ(b.FMode, TTestMode::tmAuto);
    EXPECT_EQ(b.FOptions, (std::vector<std::string>{"ooBold", "ooWide"}));
    EXPECT_EQ(b.FLevel, -2.5);
    EXPECT_FALSE(b.FVisible);
    EXPECT_EQ(b.FFormat.FSampleRate, 48000);
    ASSERT_EQ(b.ComponentCount(), 1U);
    EXPECT_EQ(Widget(const_cast<TTestWidget&>(b), "Inner").FCaption, "inner");
}

TEST_F(DescriptionReaderTest, ExtraStoredValuesReachDefineProperties)
{
    TComponent& widget = ReadComponent("object W: TTestWidget\n"
                                       "  Format.Tags = ('a' 'b')\n"
                                       "  Data = {00FF}\n"
                                       "  Links = ((X.Pin 'X.Pin [0]') nil)\n"
                                       "end\n",
                                       *FOwner);
    const auto& w = static_cast<TTestWidget&>(widget);
    EXPECT_EQ(w.FFormat.FTags, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(w.FData, (std::vector<std::uint8_t>{0x00, 0xFF}));
    EXPECT_EQ(w.FLinks, TDescValue::List({TDescValue::List({TDescValue::Identifier("X.Pin"),
                                                            TDescValue::String("X.Pin [0]")}),
                                          TDescValue::Identifier("nil")}));
}

TEST_F(DescriptionReaderTest, LoadedRunsAfterAllComponentsExistTopObjectLast)
{
    TComponent& top = ReadComponent("object Top: TTestWidget\n"
                                    "  object First: TTestWidget\n"
                                    "    Partner = 'Second'\n"
                                    "  end\n"
                                    "  object Second: TTestWidget\n"
                                    "  end\n"
                                    "end\n",
                                    *FOwner);
    auto& first = Widget(top, "First");
    auto& second = Widget(top, "Second");
    EXPECT_TRUE(first.FPartnerExistedAtLoaded);
    EXPECT_LT(first.FLoadedSequence, second.FLoadedSequence);
    EXPECT_LT(second.FLoadedSequence, static_cast<TTestWidget&>(top).FLoadedSequence);
    for (const TComponent* component :
         {&top, static_cast<TComponent*>(&first), static_cast<TComponent*>(&second)})
    {
        EXPECT_TRUE(component->ComponentState().Contains(csLoaded));
        EXPECT_FALSE(component->ComponentState().Contains(csLoading));
    }
}

TEST_F(DescriptionReaderTest, ReadDescriptionNamesTheRootAndKeepsItsOwnComponents)
{
    TTestForm& form = CreateComponent<TTestForm>(*FOwner);
    (void)CreateComponent<TTestWidget>(form).SetName("Own");
    ReadDescription(form, "object fmMain: TTestForm\n  Caption = 'x'\n  object W: TTestWidget\n  end\nend\n");
    EXPECT_EQ(form.Name(), "fmMain");
    EXPECT_EQ(form.FCaption, "x");
    ASSERT_EQ(form.ComponentCount(), 2U);
    EXPECT_EQ(form.Components(1).Name(), "W");
    EXPECT_TRUE(form.ComponentState().Contains(csLoaded));
}

TEST_F(DescriptionReaderTest, FailedReadDescriptionLeavesTheRootsComponentsAndName)
{
    TTestForm& form = CreateComponent<TTestForm>(*FOwner);
    form.SetName("Before");
    (void)CreateComponent<TTestWidget>(form).SetName("Own");
    EXPECT_THROW(ReadDescription(form, "object fmMain: TTestForm\n"
                                       "  object W: TTestWidget\n"
                                       "    object Deeper: TTestWidget\n"
                                       "    end\n"
                                       "  end\n"
                                       "  object X: TTestWidget\n"
                                       "    Count = 'many'\n"
                                       "  end\n"
                                       "end\n"),
                 EReadError);
    EXPECT_EQ(form.Name(), "Before");
    ASSERT_EQ(form.ComponentCount(), 1U);
    EXPECT_EQ(form.Components(0).Name(), "Own");
    EXPECT_FALSE(form.ComponentState().Contains(TComponentStateFlag::csLoading));
    EXPECT_FALSE(form.ComponentState().Contains(TComponentStateFlag::csLoaded));
}

TEST_F(DescriptionReaderTest, ReadDescriptionRefusesAnotherClass)
{
    TTestForm& form = CreateComponent<TTestForm>(*FOwner);
    try
    {
        ReadDescription(form, "object fmMain: TTestWidget end");
        FAIL() << "read a TTestWidget into a TTestForm";
    }
    catch (const EReadError& error)
    {
        EXPECT_EQ(error.Message(),
                  "line 1, column 1: expected an object of class TTestForm, found TTestWidget");
    }
    EXPECT_EQ(form.Name(), "");
}

TEST_F(DescriptionReaderTest, ComponentReadForNobodyHasNoOwner)
{
    const TComponentPtr<TComponent> widget = ReadComponent("object W: TTestWidget\n  Count = 2\nend\n");
    EXPECT_EQ(widget->Owner(), nullptr);
    EXPECT_EQ(static_cast<TTestWidget&>(*widget).FCount, 2);
}

TEST_F(DescriptionReaderTest, ACollectionValueReplacesTheItemsAndSetsEachAsAnObject)
{
    TTestWidget& widget = CreateComponent<TTestWidget>(*FOwner);
    widget.FItems.Add<TTestItem>().FLabel = "old";
    ReadDescription(widget, "object W: TTestWidget\n"
                            "  Items = <\n"
                            "    item\n"
                            "      Weight = 4\n"
                            "      Format.SampleRate = 96000\n"
                            "      Data = ('d' 'n')\n"
                            "    end\n"
                            "    item\n"
                            "      Label = 'second'\n"
                            "    end>\n"
                            "  Plain = <>\n"
                            "end\n");
    ASSERT_EQ(widget.FItems.Count(), 2U);
    EXPECT_EQ(widget.FItems.Items(0).FLabel, "");
    EXPECT_EQ(widget.FItems.Items(0).FWeight, 4);
    EXPECT_EQ(widget.FItems.Items(0).FFormat.FSampleRate, 96000);
    EXPECT_EQ(widget.FItems.Items(0).FData, (std::vector<std::string>{"d", "n"}));
    EXPECT_EQ(widget.FItems.Items(1).FLabel, "second");
    ReadDescription(widget, "object W: TTestWidget\n  Items = <>\nend\n");
    EXPECT_EQ(widget.FItems.Count(), 0U);
}

TEST(CollectionAssignTest, CopiesTheItemsOfItsOwnClassAndRefusesAnyOther)
{
    TTestItems source;
    TTestItem& first = source.Add<TTestItem>();
    first.FLabel = "first";
    first.FData = {"d", "n"};
    source.Add<TTestItem>().FWeight = 7;
    TTestItems copy;
    copy.Add<TTestItem>().FLabel = "replaced";

    copy.Assign(source);
    first.FLabel = "changed later";
    ASSERT_EQ(copy.Count(), 2U);
    EXPECT_EQ(copy.Items(0).FLabel, "first");
    EXPECT_EQ(copy.Items(0).FData, (std::vector<std::string>{"d", "n"}));
    EXPECT_EQ(copy.Items(1).FWeight, 7);
    copy.Assign(copy);
    EXPECT_EQ(copy.Count(), 2U);

    TCollection plain;
    EXPECT_THROW(plain.Assign(source), EConvertError);
    EXPECT_THROW(copy.Assign(plain), EConvertError);
    EXPECT_EQ(copy.Count(), 2U) << "a refused copy loses nothing";
}

TEST_F(DescriptionReaderTest, AFailedReadLeavesTheCallersCollectionWithTheItemsReadSoFar)
{
    TTestWidget& widget = CreateComponent<TTestWidget>(*FOwner);
    widget.FItems.Add<TTestItem>().FLabel = "old";
    try
    {
        ReadDescription(widget, "object W: TTestWidget\n"
                                "  Items = <\n"
                                "    item Label = 'a' end\n"
                                "    item Label = 'b' Weight = 'heavy' Format.SampleRate = 8000 end\n"
                                "    item Label = 'c' end>\n"
                                "end\n");
        FAIL() << "read a string into an integer";
    }
    catch (const EReadError& error)
    {
        EXPECT_EQ(error.Message(),
                  "line 4, column 22: cannot set Weight of W.Items[1]: expected an integer, found a string");
    }
    ASSERT_EQ(widget.FItems.Count(), 2U);
    EXPECT_EQ(widget.FItems.Items(0).FLabel, "a");
    EXPECT_EQ(widget.FItems.Items(1).FLabel, "b");
    EXPECT_EQ(widget.FItems.Items(1).FFormat.FSampleRate, 44100);
}

TEST_F(DescriptionReaderTest, EveryCorpusAndRegressionInputReadsOrRaisesReadError)
{
    std::size_t replayed = 0;
    for (const char* folder : {"fuzz/corpus/description", "fuzz/regressions/description"})
        for (const auto& entry :
             std::filesystem::directory_iterator(std::filesystem::path(HARVOLIN_SOURCE_DIR) / folder))
        {
            std::ifstream file(entry.path(), std::ios::binary);
            std::stringstream bytes;
            bytes << file.rdbuf();
            EXPECT_NO_THROW(ExerciseDescriptionReader(bytes.str())) << entry.path();
            ++replayed;
        }
    EXPECT_GE(replayed, 10U);
}

struct TReadErrorCase
{
    const char* Name;
    const char* Text;
    const char* Message;
};

class DescriptionReaderErrorTest : public DescriptionReaderTest,
                                   public ::testing::WithParamInterface<TReadErrorCase>
{
};

TEST_P(DescriptionReaderErrorTest, ErrorNamesThePositionAndLeavesNoComponentBehind)
{
    EXPECT_EQ(ErrorOf(GetParam().Text), GetParam().Message);
}

INSTANTIATE_TEST_SUITE_P(
    Refused, DescriptionReaderErrorTest,
    ::testing::Values(
        TReadErrorCase{"TruncatedList", "object W: TTestWidget\n  object C: TTestWidget\n    Links = (a (b",
                       "line 3, column 18: expected a value or ')', found end of text"},
        TReadErrorCase{"UnknownClass", "object W: TTestWidget\n  object C: TNoSuchClass\n  end\nend",
                       "line 2, column 3: unknown class 'TNoSuchClass'"},
        TReadErrorCase{"UnknownProperty", "object W: TTestWidget\n  Colour = 1\nend",
                       "line 2, column 3: unknown property 'Colour' of TTestWidget"},
        TReadErrorCase{"UnknownSubObjectProperty", "object W: TTestWidget\n  Format.Colour = 1\nend",
                       "line 2, column 3: unknown property 'Colour' of TTestFormat"},
        TReadErrorCase{"PathThroughNoObject", "object W: TTestWidget\n  Count.Colour = 1\nend",
                       "line 2, column 3: TTestWidget has no object property 'Count'"},
        TReadErrorCase{"PathThroughNothing", "object W: TTestWidget\n  Buddy.Count = 1\nend",
                       "line 2, column 3: the property 'Buddy' of TTestWidget holds no object"},
        TReadErrorCase{"WrongValueKind",
                       "object W: TTestWidget\n  object C: TTestWidget\n    Count = 'three'\n  end\nend",
                       "line 3, column 5: cannot set Count of C: expected an integer, found a string"},
        TReadErrorCase{"WrongExtraValueKind", "object W: TTestWidget\n  Data = 'ff'\nend",
                       "line 2, column 3: cannot set Data of W: expected binary data, found a string"},
        TReadErrorCase{"NotAnEnumerationValue", "object W: TTestWidget\n  Mode = tmSometimes\nend",
                       "line 2, column 3: cannot set Mode of W: 'tmSometimes' is not a value of Mode"},
        TReadErrorCase{"ReadOnlyProperty", "object W: TTestWidget\n  Serial = 8\nend",
                       "line 2, column 3: the property 'Serial' of TTestWidget is read-only"},
        TReadErrorCase{
            "ValueForAnObject", "object W: TTestWidget\n  Format = 1\nend",
            "line 2, column 3: the property 'Format' of TTestWidget holds an object and takes no value"},
        TReadErrorCase{
            "IntegerOutOfRange", "object W: TTestWidget\n  Count = 3000000000\nend",
            "line 2, column 3: cannot set Count of W: the integer 3000000000 is outside the range of a "
            "32-bit integer"},
        TReadErrorCase{"DuplicateName",
                       "object W: TTestWidget\n  object C: TTestWidget end\n  object C: TTestWidget end\nend",
                       "line 3, column 3: cannot name an unnamed component 'C': component 'W' already owns "
                       "component 'C'"},
        TReadErrorCase{"NameTakenInOwner", "object Existing: TTestWidget end",
                       "line 1, column 1: cannot name an unnamed component 'Existing': an unnamed component "
                       "already owns "
                       "component 'Existing'"},
        TReadErrorCase{"LoadedRaises",
                       "object W: TTestWidget\n  object C: TTestWidget\n    FailOnLoaded = True\n  end\nend",
                       "line 2, column 3: C: widget refuses to load"},
        TReadErrorCase{"ValueForACollection", "object W: TTestWidget\n  Items = ('a')\nend",
                       "line 2, column 3: the property 'Items' of TTestWidget holds a collection: expected a "
                       "collection, found a list"},
        TReadErrorCase{
            "CollectionForAnObject", "object W: TTestWidget\n  Format = <>\nend",
            "line 2, column 3: the property 'Format' of TTestWidget holds no collection and takes no "
            "collection"},
        TReadErrorCase{
            "CollectionForNothing", "object W: TTestWidget\n  Buddy = <item end>\nend",
            "line 2, column 3: the property 'Buddy' of TTestWidget holds no collection and takes no "
            "collection"},
        TReadErrorCase{"CollectionForAnInteger", "object W: TTestWidget\n  Count = <>\nend",
                       "line 2, column 3: cannot set Count of W: expected an integer, found a collection"},
        TReadErrorCase{
            "UnknownItemProperty",
            "object W: TTestWidget\n  object C: TTestWidget\n    Items = <\n      item\n      end\n"
            "      item\n        Format.Colour = 1\n      end>\n  end\nend",
            "line 7, column 9: unknown property 'Colour' of TTestFormat"},
        TReadErrorCase{
            "WrongItemExtraValueKind",
            "object W: TTestWidget\n  Format.Tags = ()\n  Items = <item Data = {00} end>\nend",
            "line 3, column 17: cannot set Data of W.Items[0]: expected a list, found binary data"},
        TReadErrorCase{
            "CollectionThatCannotMakeItems", "object W: TTestWidget\n  Plain = <\n    item end>\nend",
            "line 3, column 5: cannot add W.Plain[0]: TCollection cannot make items: it does not know "
            "their class"}),
    [](const ::testing::TestParamInfo<TReadErrorCase>& param) { return std::string(param.param.Name); });

}   // namespace
}   // namespace harvolin
