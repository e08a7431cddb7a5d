#include "rtl/DescriptionText.h"
#include <bit>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

TDescObject WithValue(const TDescValue& value)
{
    TDescObject object;
    object.Name = "Widget1";
    object.ClassName = "TTestWidget";
    object.Assignments.push_back({{"Value"}, value, {}});
    return object;
}

class DescriptionTextTest : public ::testing::Test
{
protected:
    // The value of the single assignment of a printed and parsed object.
    static TDescValue RoundTrip(const TDescValue& value)
    {
        const TDescObject parsed = ParseDescription(PrintDescription(WithValue(value)));
        EXPECT_EQ(parsed.Assignments.size(), 1U);
        return parsed.Assignments.empty() ? TDescValue() : parsed.Assignments.front().Value;
    }

    static std::string ErrorOf(std::string_view text)
    {
        try
        {
            (void)ParseDescription(text);
        }
        catch (const EReadError& error)
        {
            return error.Message();
        }
        return "no error";
    }
};

TEST_F(DescriptionTextTest, SampleParsesIntoTreeWithPositions)
{
    const TDescObject root =
        ParseDescription("object fmMain: TfmMain\n"
                         "  Caption = 'Harvolin'\n"
                         "  object SLSignalGen1: TSLSignalGen\n"
                         "    ClockSource = csInternal\n"
                         "    OutputPin.SinkPins = (\n"
                         "      (ALRealToAudio1.InputPins._Pin1 'ALRealToAudio1.InputPins.Pin [1]'))\n"
                         "  end\n"
                         "end\n");
    EXPECT_EQ(root.Name, "fmMain");
    EXPECT_EQ(root.ClassName, "TfmMain");
    ASSERT_EQ(root.Assignments.size(), 1U);
    EXPECT_EQ(root.Assignments[0].Value, TDescValue::String("Harvolin"));
    ASSERT_EQ(root.Children.size(), 1U);
    const TDescObject& generator = root.Children[0];
    EXPECT_EQ(generator.Name, "SLSignalGen1");
    EXPECT_EQ(generator.Position.Line, 3);
    EXPECT_EQ(generator.Position.Column, 3);
    ASSERT_EQ(generator.Assignments.size(), 2U);
    EXPECT_EQ(generator.Assignments[0].Value, TDescValue::Identifier("csInternal"));
    const TDescAssignment& sinks = generator.Assignments[1];
    EXPECT_EQ(sinks.Path, (std::vector<std::string>{"OutputPin", "SinkPins"}));
    EXPECT_EQ(sinks.Position.Line, 5);
    EXPECT_EQ(sinks.Position.Column, 5);
    EXPECT_EQ(sinks.Value,
              TDescValue::List({TDescValue::List({TDescValue::Identifier("ALRealToAudio1.InputPins._Pin1"),
                                                  TDescValue::String("ALRealToAudio1.InputPins.Pin [1]")})}));
}

TEST_F(DescriptionTextTest, PrintingIsStableAndWrapsLongLists)
{
    const std::string text = "object fmMain: TfmMain\n"
                             "  object ALRealToAudio1: TALRealToAudio\n"
                             "    InputPins.Pins = (SLSignalGen1.OutputPin SLSignalGen1.OutputPin)\n"
                             "  end\n"
                             "  object SLSignalGen1: TSLSignalGen\n"
                             "    OutputPin.SinkPins = (\n"
                             "      (ALRealToAudio1.InputPins._Pin1 'ALRealToAudio1.InputPins.Pin [1]')\n"
                             "      (ALRealToAudio1.InputPins._Pin0 'ALRealToAudio1.InputPins.Pin [0]'))\n"
                             "  end\n"
                             "end\n";
    EXPECT_EQ(PrintDescription(ParseDescription(text)), text);
}

TEST_F(DescriptionTextTest, LongBinaryIsWrappedAndReadsBack)
{
    const std::vector<std::uint8_t> bytes(100, 0xAB);
    const std::string text = PrintDescription(WithValue(TDescValue::Binary(bytes)));
    EXPECT_NE(text.find("Value = {\n    ABAB"), std::string::npos) << text;
    EXPECT_EQ(RoundTrip(TDescValue::Binary(bytes)), TDescValue::Binary(bytes));
}

TEST_F(DescriptionTextTest, CommentsAndLayoutDoNotMatter)
{
    const TDescObject object = ParseDescription("// a widget\nobject W: TTestWidget Count=1 // one\n"
                                                "Caption\n=\n'x' end");
    ASSERT_EQ(object.Assignments.size(), 2U);
    EXPECT_EQ(object.Assignments[1].Value, TDescValue::String("x"));
}

TEST_F(DescriptionTextTest, ObjectWithoutNameKeepsItsClass)
{
    const TDescObject object = ParseDescription("object TTestWidget end");
    EXPECT_EQ(object.Name, "");
    EXPECT_EQ(object.ClassName, "TTestWidget");
    EXPECT_EQ(PrintDescription(object), "object TTestWidget\nend\n");
}

TEST_F(DescriptionTextTest, FloatsReadBackBitIdentical)
{
    std::mt19937_64 bits(20261208);
    std::vector<double> values = {0.1,
                                  -0.0,
                                  5e-324,
                                  std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::min(),
                                  1e22,
                                  123456789012345678.0};
    for (int i = 0; i < 2000; ++i)
    {
        const double value = std::bit_cast<double>(bits());
        if (!std::isnan(value))
            values.push_back(value);
    }
    for (double value : values)
    {
        const double back = RoundTrip(TDescValue::Float(value)).AsFloat();
        ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(value))
            << PrintDescriptionValue(TDescValue::Float(value));
    }
}

TEST_F(DescriptionTextTest, NaNKeepsItsSign)
{
    const double back = RoundTrip(TDescValue::Float(-std::numeric_limits<double>::quiet_NaN())).AsFloat();
    EXPECT_TRUE(std::isnan(back));
    EXPECT_TRUE(std::signbit(back));
}

TEST_F(DescriptionTextTest, NestingUpToTheLimitParses)
{
    // The object is one level, so 99 lists reach the limit.
    const std::string lists(kMaxDescriptionNesting - 1, '(');
    const std::string closing(kMaxDescriptionNesting - 1, ')');
    const TDescObject object = ParseDescription("object W: T V = " + lists + closing + " end");
    EXPECT_EQ(ParseDescription(PrintDescription(object)).Assignments.front().Value,
              object.Assignments.front().Value);
    EXPECT_NE(ErrorOf("object W: T V = (" + lists + closing + ") end")
                  .find("expected at most 100 nested objects and lists"),
              std::string::npos);
}

TEST_F(DescriptionTextTest, CollectionItemsParseWithRelativePathsAndPrintBackExactly)
{
    const std::string text = "object W: TTestWidget\n"
                             "  Output.Alternatives = <\n"
                             "    item\n"
                             "      Data = ('@device:null' 'Null renderer')\n"
                             "      Format.Rate = 48000\n"
                             "    end\n"
                             "    item\n"
                             "    end>\n"
                             "  Empty = <>\n"
                             "  Count = 1\n"
                             "end\n";
    const TDescObject object = ParseDescription(text);
    ASSERT_EQ(object.Assignments.size(), 3U);
    const std::vector<TDescItem>& items = object.Assignments[0].Value.AsCollection();
    ASSERT_EQ(items.size(), 2U);
    EXPECT_EQ(items[0].Position.Line, 3);
    EXPECT_EQ(items[0].Position.Column, 5);
    ASSERT_EQ(items[0].Assignments.size(), 2U);
    EXPECT_EQ(items[0].Assignments[1].Path, (std::vector<std::string>{"Format", "Rate"}));
    EXPECT_EQ(items[0].Assignments[1].Position.Line, 5);
    EXPECT_EQ(items[0].Assignments[1].Position.Column, 7);
    EXPECT_EQ(items[0].Assignments[0].Value,
              TDescValue::List({TDescValue::String("@device:null"), TDescValue::String("Null renderer")}));
    EXPECT_TRUE(items[1].Assignments.empty());
    EXPECT_TRUE(object.Assignments[1].Value.AsCollection().empty());
    EXPECT_EQ(object.Assignments[2].Value, TDescValue::Integer(1));
    EXPECT_EQ(PrintDescription(object), text);
}

TEST_F(DescriptionTextTest, LongValuesInsideAnItemWrapBelowTheItem)
{
    const std::string display(60, 'd');
    const std::string name(30, 'n');
    const TDescValue names = TDescValue::List({TDescValue::String(display), TDescValue::String(name)});
    const TDescValue items = TDescValue::Collection({TDescItem{{{{"Data"}, names, {}}}, {}}});
    const std::string expected = "object Widget1: TTestWidget\n"
                                 "  Value = <\n"
                                 "    item\n"
                                 "      Data = (\n"
                                 "        '" +
                                 display +
                                 "'\n"
                                 "        '" +
                                 name +
                                 "')\n"
                                 "    end>\n"
                                 "end\n";
    EXPECT_EQ(PrintDescription(WithValue(items)), expected);
    EXPECT_EQ(RoundTrip(items), items);
}

TEST_F(DescriptionTextTest, CollectionsCountTowardTheNestingLimit)
{
    // The object is one level, so 99 collections reach the limit.
    std::string value = "1";
    for (std::size_t i = 1; i < kMaxDescriptionNesting; ++i)
        value = "<item V = " + value + " end>";
    const TDescObject object = ParseDescription("object W: T V = " + value + " end");
    EXPECT_EQ(ParseDescription(PrintDescription(object)).Assignments.front().Value,
              object.Assignments.front().Value);
    EXPECT_NE(ErrorOf("object W: T V = <item V = " + value + " end> end")
                  .find("expected at most 100 nested objects and lists"),
              std::string::npos);
    TDescObject deeper = object;
    deeper.Assignments.front().Value = TDescValue::Collection({TDescItem{{object.Assignments.front()}, {}}});
    EXPECT_THROW((void)PrintDescription(deeper), EConvertError);
}

TEST_F(DescriptionTextTest, PrinterRefusesWhatWouldNotReadBack)
{
    EXPECT_THROW((void)PrintDescription(WithValue(TDescValue::Identifier("two words"))), EConvertError);
    EXPECT_THROW((void)PrintDescription(WithValue(TDescValue::Identifier("True"))), EConvertError);
    EXPECT_THROW((void)PrintDescription(WithValue(TDescValue::Set({"a.b"}))), EConvertError);
    TDescObject keyword = WithValue(TDescValue::Integer(1));
    keyword.Assignments.front().Path = {"end"};
    EXPECT_THROW((void)PrintDescription(keyword), EConvertError);
    for (const char* path : {"end", "object"})
        EXPECT_THROW((void)PrintDescription(WithValue(
                         TDescValue::Collection({TDescItem{{{{path}, TDescValue::Integer(1), {}}}, {}}}))),
                     EConvertError)
            << path;
}

struct TValueCase
{
    const char* Name;
    TDescValue Value;
    const char* Text;   // as printed on the right of "="
};

class DescriptionTextValueTest : public DescriptionTextTest, public ::testing::WithParamInterface<TValueCase>
{
};

TEST_P(DescriptionTextValueTest, ValueIsPrintedAsExpectedAndReadsBackEqual)
{
    EXPECT_EQ(PrintDescriptionValue(GetParam().Value), GetParam().Text);
    EXPECT_EQ(RoundTrip(GetParam().Value), GetParam().Value);
}

using V = TDescValue;
INSTANTIATE_TEST_SUITE_P(
    Kinds, DescriptionTextValueTest,
    ::testing::Values(
        TValueCase{"Integer", V::Integer(100000), "100000"},
        TValueCase{"NegativeInteger", V::Integer(-5), "-5"},
        TValueCase{"SmallestInteger", V::Integer(std::numeric_limits<std::int64_t>::min()),
                   "-9223372036854775808"},
        TValueCase{"LargestInteger", V::Integer(std::numeric_limits<std::int64_t>::max()),
                   "9223372036854775807"},
        TValueCase{"Float", V::Float(0.1), "0.1"}, TValueCase{"WholeFloat", V::Float(100), "100.0"},
        TValueCase{"NegativeZero", V::Float(-0.0), "-0.0"},
        TValueCase{"HugeFloat", V::Float(1e300), "1e+300"},
        TValueCase{"Infinity", V::Float(-std::numeric_limits<double>::infinity()), "-Inf"},
        TValueCase{"String", V::String("Harvolin"), "'Harvolin'"},
        TValueCase{"EmptyString", V::String(""), "''"},
        TValueCase{"Quotes", V::String("it's 'x'"), "'it''s ''x'''"},
        TValueCase{"Utf8", V::String("Fr\xC3\xA9quence \xE2\x82\xAC \xF0\x9F\x90\x9D"),
                   "'Fr\xC3\xA9quence \xE2\x82\xAC \xF0\x9F\x90\x9D'"},
        TValueCase{"ControlBytes", V::String(std::string("a\nb\0c\t", 6)), "'a'#10'b'#0'c'#9"},
        TValueCase{"InvalidUtf8", V::String("\xC3(\xFF\xED\xA0\x80"), "#195'('#255#237#160#128"},
        TValueCase{"Identifier", V::Identifier("SLSignalGen1.OutputPin"), "SLSignalGen1.OutputPin"},
        TValueCase{"True", V::Boolean(true), "True"}, TValueCase{"False", V::Boolean(false), "False"},
        TValueCase{"Set", V::Set({"ooBold", "ooWide"}), "[ooBold, ooWide]"},
        TValueCase{"EmptySet", V::Set({}), "[]"}, TValueCase{"EmptyList", V::List({}), "()"},
        TValueCase{"NestedList",
                   V::List({V::Identifier("State"), V::List({V::Integer(1), V::List({})}), V::Float(2.5)}),
                   "(State (1 ()) 2.5)"},
        TValueCase{"Binary", V::Binary({0x00, 0x7F, 0xFF}), "{007FFF}"},
        TValueCase{"EmptyBinary", V::Binary({}), "{}"},
        TValueCase{"EmptyCollection", V::Collection({}), "<>"},
        TValueCase{
            "Collection",
            V::Collection({TDescItem{{{{"Format", "Rate"}, V::Integer(1), {}}, {{"N"}, V::List({}), {}}}, {}},
                           TDescItem{}}),
            "<item Format.Rate = 1 N = () end item end>"},
        TValueCase{"CollectionInAList", V::List({V::Collection({TDescItem{}}), V::Collection({})}),
                   "(<item end> <>)"}),
    [](const ::testing::TestParamInfo<TValueCase>& param) { return std::string(param.param.Name); });

struct TErrorCase
{
    const char* Name;
    const char* Text;
    const char* Message;   // the whole message, position included
};

class DescriptionTextErrorTest : public DescriptionTextTest, public ::testing::WithParamInterface<TErrorCase>
{
};

TEST_P(DescriptionTextErrorTest, MalformedTextRaisesReadErrorWithPosition)
{
    EXPECT_EQ(ErrorOf(GetParam().Text), GetParam().Message);
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, DescriptionTextErrorTest,
    ::testing::Values(
        TErrorCase{"Empty", "", "line 1, column 1: expected 'object', found end of text"},
        TErrorCase{"TruncatedList", "object W: T\n  V = (1 2",
                   "line 2, column 11: expected a value or ')', found end of text"},
        TErrorCase{"TruncatedString", "object W: T\n  V = 'abc",
                   "line 2, column 11: expected a closing quote, found end of text"},
        TErrorCase{"StringBrokenByLine", "object W: T V = 'ab\ncd' end",
                   "line 1, column 20: expected a closing quote, found a line break"},
        TErrorCase{"MissingEnd", "object W: T\n  V = 1\n",
                   "line 3, column 1: expected a property name, 'object' or 'end', found end of text"},
        TErrorCase{"TruncatedObject", "object W: T\n  object",
                   "line 2, column 9: expected an object name or a class name, found end of text"},
        TErrorCase{"BadNumber", "object W: T V = 12abc end",
                   "line 1, column 17: expected a number, found '12abc'"},
        TErrorCase{"DotWithoutDigits", "object W: T V = 1. end",
                   "line 1, column 17: expected a number, found '1.'"},
        TErrorCase{
            "IntegerOutOfRange", "object W: T V = 9223372036854775808 end",
            "line 1, column 17: expected an integer within the 64-bit range, found '9223372036854775808'"},
        TErrorCase{"FloatOutOfRange", "object W: T V = 1e999 end",
                   "line 1, column 17: expected a number within the range of a double, found '1e999'"},
        TErrorCase{"GarbageByte", "object W: T V = \x01 end",
                   "line 1, column 17: expected a value, found the byte 0x01"},
        TErrorCase{"ByteNumberTooLarge", "object W: T V = #256 end",
                   "line 1, column 18: expected a byte number from 0 to 255, found '256'"},
        TErrorCase{"OddHexDigits", "object W: T V = {ABC} end",
                   "line 1, column 21: expected a second hex digit, found '}'"},
        TErrorCase{"UnclosedSet", "object W: T V = [a b] end",
                   "line 1, column 20: expected ',' or ']', found 'b'"},
        TErrorCase{"MissingEquals", "object W: T V 1 end", "line 1, column 15: expected '=', found '1'"},
        TErrorCase{"PropertyAfterChild", "object W: T object C: T end V = 1 end",
                   "line 1, column 29: expected 'object' or 'end', found 'V'"},
        TErrorCase{"TextAfterEnd", "object W: T end end",
                   "line 1, column 17: expected end of text, found 'end'"},
        TErrorCase{"DottedClassName", "object W: T.X end",
                   "line 1, column 12: expected a class name, found '.'"},
        TErrorCase{"CollectionWithoutItem", "object W: T V = <x> end",
                   "line 1, column 18: expected 'item' or '>', found 'x'"},
        TErrorCase{"ItemWithDottedKeyword", "object W: T V = <item.x end> end",
                   "line 1, column 18: expected 'item' or '>', found 'item.x'"},
        TErrorCase{"TruncatedItem", "object W: T\n  V = <\n    item\n      N = 1",
                   "line 4, column 12: expected a property name or 'end', found end of text"},
        TErrorCase{"UnclosedCollection", "object W: T V = <item end end",
                   "line 1, column 27: expected 'item' or '>', found 'end'"},
        TErrorCase{"ObjectInsideItem", "object W: T V = <item object C: T end end> end",
                   "line 1, column 23: expected a property name or 'end', found 'object'"},
        TErrorCase{"ItemValueMissing", "object W: T V = <item N = > end",
                   "line 1, column 27: expected a value, found '>'"}),
    [](const ::testing::TestParamInfo<TErrorCase>& param) { return std::string(param.param.Name); });

}   // namespace
}   // namespace harvolin
