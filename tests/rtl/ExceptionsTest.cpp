#include "rtl/Exceptions.h"
#include <cerrno>
#include <cstdint>
#include <gtest/gtest.h>
#include <string>

namespace harvolin
{
namespace
{

class ExceptionsTest : public ::testing::Test
{
};

TEST_F(ExceptionsTest, DescendantsCarryTheirMessageToAHandlerOfTheBase)
{
    try
    {
        throw ERangeError(Format("Index out of rabge = %u", {7u}));
    }
    catch (const Exception& e)
    {
        EXPECT_EQ(e.Message(), "Index out of rabge = 7");
        EXPECT_STREQ(e.what(), "Index out of rabge = 7");
    }
}

TEST_F(ExceptionsTest, AssertionFailureIsAnExceptionOfItsOwnKind)
{
    // A broken contract must not be taken for bad input by a handler of range or conversion errors.
    try
    {
        throw EAssertionFailed("Lock = nil !");
    }
    catch (const ERangeError&)
    {
        ADD_FAILURE() << "caught as a range error";
    }
    catch (const EConvertError&)
    {
        ADD_FAILURE() << "caught as a conversion error";
    }
    catch (const Exception& e)
    {
        EXPECT_EQ(e.Message(), "Lock = nil !");
    }
}

TEST_F(ExceptionsTest, OSErrorNamesTheContextAndTheSystemText)
{
    EOSError error(ENOENT, "audio device 'hw:9': cannot open");
    EXPECT_EQ(error.ErrorCode(), ENOENT);
    EXPECT_EQ(error.Message(), "audio device 'hw:9': cannot open: No such file or directory");
}

struct TFormatCase
{
    const char* Name;
    std::string Expected;
    std::string Actual;
};

class FormatTest : public ExceptionsTest, public ::testing::WithParamInterface<TFormatCase>
{
};

TEST_P(FormatTest, FormatsLikeThePascalRunTime)
{
    EXPECT_EQ(GetParam().Actual, GetParam().Expected);
}

// Each case is formatted when the table is built; a raise there fails the whole test binary loudly.
INSTANTIATE_TEST_SUITE_P(
    Directives, FormatTest,
    ::testing::Values(
        TFormatCase{"PlainTextWithoutDirectives", "no directives", Format("no directives")},
        TFormatCase{"UnsignedIndex", "Index out of rabge = 3", Format("Index out of rabge = %u", {3u})},
        TFormatCase{"Utf8TextPassesThrough", "Fréquence Min = 10000 Hz",
                    Format("Fréquence Min = %d Hz", {10000})},
        TFormatCase{"TextUnsignedAndHex", "text - 5 - 8007000E",
                    Format("%s - %u - %x", {"text", 5u, 0x8007000Eu})},
        TFormatCase{"NegativeDecimal", "-42", Format("%d", {-42})},
        TFormatCase{"MostNegative64Bit", "-9223372036854775808", Format("%d", {INT64_MIN})},
        TFormatCase{"Unsigned32BitAboveSignedRange", "3000000000", Format("%d", {3000000000u})},
        TFormatCase{"NegativeAs32BitUnsigned", "4294967295", Format("%u", {-1})},
        TFormatCase{"NegativeAs64BitUnsigned", "18446744073709551615", Format("%u", {std::int64_t{-1}})},
        TFormatCase{"NegativeAs32BitHex", "FFFFFFFE", Format("%x", {-2})},
        TFormatCase{"Wide64BitHex", "123456789ABCDEF0", Format("%x", {0x123456789ABCDEF0ULL})},
        TFormatCase{"WidthPadsOnTheLeft", "[   42]", Format("[%5d]", {42})},
        TFormatCase{"MinusPadsOnTheRight", "[42   ]", Format("[%-5d]", {42})},
        TFormatCase{"NarrowWidthDoesNotCut", "123456", Format("%3d", {123456})},
        TFormatCase{"PrecisionGivesLeastDigits", "00042|007|00FF", Format("%.5d|%.3u|%.4x", {42, 7u, 255})},
        TFormatCase{"PrecisionKeepsTheSignInFront", "  -0042", Format("%7.4d", {-42})},
        TFormatCase{"TextPrecisionCuts", "[abc  ]", Format("[%-5.3s]", {std::string("abcdef")})},
        TFormatCase{"TextCutKeepsWholeCharacters", "[Fré]", Format("[%.3s]", {"Fréquence"})},
        TFormatCase{"WidthCountsCharactersNotBytes", "[  é]", Format("[%3s]", {"é"})},
        TFormatCase{"NullTextIsEmpty", "[]", Format("[%s]", {static_cast<const char*>(nullptr)})},
        TFormatCase{"PercentSign", "100%", Format("%d%%", {100})},
        TFormatCase{"UpperCaseTypeLetters", "7 FF", Format("%D %X", {7, 255})},
        TFormatCase{"NullPointerHas16Digits", "0000000000000000", Format("%p", {nullptr})},
        TFormatCase{"PointerIsZeroPaddedUpperCaseHex", "0000000000ABCDEF",
                    Format("%p", {reinterpret_cast<const void*>(0xABCDEF)})},
        TFormatCase{"PointerWidthBeyondItsDigits", "  0000000000ABCDEF",
                    Format("%18p", {reinterpret_cast<const void*>(0xABCDEF)})},
        TFormatCase{"RunningObjectTableEntry", "FilterGraph 00000000DEADBEE0 pid     1F4A",
                    Format("FilterGraph %8p pid %8x", {reinterpret_cast<const void*>(0xDEADBEE0), 0x1F4Au})},
        TFormatCase{"ExtraArgumentsAreIgnored", "1", Format("%d", {1, 2, "three"})}),
    [](const ::testing::TestParamInfo<TFormatCase>& caseInfo) { return std::string(caseInfo.param.Name); });

struct TFormatErrorCase
{
    const char* Name;
    const char* Pattern;
    std::initializer_list<TFormatArg> Args;
    const char* Expected;
};

class FormatErrorTest : public ExceptionsTest, public ::testing::WithParamInterface<TFormatErrorCase>
{
};

constexpr const char* kInvalid = "Format '%s' invalid or incompatible with argument";
constexpr const char* kMissing = "No argument for format '%s'";

TEST_P(FormatErrorTest, RaisesConvertErrorQuotingThePattern)
{
    const TFormatErrorCase& c = GetParam();
    try
    {
        (void)Format(c.Pattern, c.Args);
        FAIL() << "accepted '" << c.Pattern << "'";
    }
    catch (const EConvertError& e)
    {
        EXPECT_EQ(e.Message(), Format(c.Expected, {c.Pattern}));
    }
}

// The argument lists are static so that they outlive the table.
const std::initializer_list<TFormatArg> kNoArgs{};
const std::initializer_list<TFormatArg> kOneInt{5};
const std::initializer_list<TFormatArg> kOneText{"text"};

INSTANTIATE_TEST_SUITE_P(
    Patterns, FormatErrorTest,
    ::testing::Values(TFormatErrorCase{"MissingArgument", "Index out of rabge = %u", kNoArgs, kMissing},
                      TFormatErrorCase{"SecondArgumentMissing", "%d and %d", kOneInt, kMissing},
                      TFormatErrorCase{"TextForDecimal", "Index out of rabge = %u", kOneText, kInvalid},
                      TFormatErrorCase{"IntegerForText", "%s", kOneInt, kInvalid},
                      TFormatErrorCase{"IntegerForPointer", "%p", kOneInt, kInvalid},
                      TFormatErrorCase{"UnknownType", "%q", kOneInt, kInvalid},
                      TFormatErrorCase{"PercentAtTheEnd", "50%", kOneInt, kInvalid},
                      TFormatErrorCase{"WidthWithoutType", "%5", kOneInt, kInvalid},
                      TFormatErrorCase{"DotWithoutPrecision", "%.d", kOneInt, kInvalid},
                      TFormatErrorCase{"FlagOnPercentSign", "%-5%", kOneInt, kInvalid},
                      TFormatErrorCase{"HugeWidth", "%99999999999d", kOneInt, kInvalid}),
    [](const ::testing::TestParamInfo<TFormatErrorCase>& caseInfo)
    { return std::string(caseInfo.param.Name); });

}   // namespace
}   // namespace harvolin
