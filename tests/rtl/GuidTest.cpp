#include "rtl/Guid.h"
#include "rtl/Exceptions.h"
#include <gtest/gtest.h>
#include <map>
#include <unordered_set>

namespace harvolin
{
namespace
{

constexpr TGUID kSample = MakeGuid("{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}");
static_assert(kSample.D1 == 0xE0F158E1 && kSample.D2 == 0xCB04 && kSample.D3 == 0x11D0);
static_assert(kSample.D4[0] == 0xBD && kSample.D4[1] == 0x4E && kSample.D4[7] == 0x86);
static_assert(MakeGuid("{00000000-0000-0000-0000-000000000000}").IsNull());
static_assert(!kSample.IsNull());

class GuidTest : public ::testing::Test
{
protected:
    // The identifier with the low bit of one of its 16 bytes flipped.
    static TGUID WithByteChanged(int index, TGUID guid = kSample)
    {
        if (index < 4)
            guid.D1 ^= 1u << (8 * index);
        else if (index < 6)
            guid.D2 = static_cast<std::uint16_t>(guid.D2 ^ 1u << (8 * (index - 4)));
        else if (index < 8)
            guid.D3 = static_cast<std::uint16_t>(guid.D3 ^ 1u << (8 * (index - 6)));
        else
            guid.D4[index - 8] ^= 1;
        return guid;
    }
};

TEST_F(GuidTest, LiteralReadsEveryFieldInTextOrder)
{
    const std::uint8_t d4[8] = {0xBD, 0x4E, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(kSample.D4[i], d4[i]) << "D4[" << i << "]";
}

TEST_F(GuidTest, ToStringGivesTheUpperCaseBracedForm)
{
    EXPECT_EQ(GuidToString(kSample), "{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}");
    EXPECT_EQ(GuidToString(kNullGuid), "{00000000-0000-0000-0000-000000000000}");
    EXPECT_EQ(GuidToString(MakeGuid("{0000000A-000B-000C-0D0E-0F0000000001}")),
              "{0000000A-000B-000C-0D0E-0F0000000001}");
}

TEST_F(GuidTest, StringToGuidAcceptsHexDigitsOfEitherCase)
{
    EXPECT_EQ(StringToGuid("{e0f158e1-cb04-11d0-bd4e-00a0c911ce86}"), kSample);
    EXPECT_EQ(StringToGuid("{E0f158e1-cB04-11D0-bD4e-00A0c911Ce86}"), kSample);
    EXPECT_EQ(StringToGuid(GuidToString(WithByteChanged(13))), WithByteChanged(13));
}

TEST_F(GuidTest, OnlyTheAllZeroIdentifierIsNull)
{
    EXPECT_TRUE(kNullGuid.IsNull());
    for (int i = 0; i < 16; ++i)
        EXPECT_FALSE(WithByteChanged(i, kNullGuid).IsNull()) << "byte " << i;
}

TEST_F(GuidTest, OrderingComparesD1FirstThenTheLaterFields)
{
    TGUID low = MakeGuid("{00000001-FFFF-FFFF-FFFF-FFFFFFFFFFFF}");
    TGUID high = MakeGuid("{00000002-0000-0000-0000-000000000000}");
    EXPECT_LT(low, high);
    EXPECT_LT(MakeGuid("{00000001-0000-0000-0000-000000000001}"),
              MakeGuid("{00000001-0000-0000-0000-000000000100}"));
    std::map<TGUID, int> byId{{high, 2}, {low, 1}, {kSample, 3}};
    EXPECT_EQ(byId.begin()->second, 1);
    EXPECT_EQ(byId.at(kSample), 3);
}

TEST_F(GuidTest, IdentifiersDifferingInAnyOneByteHashApart)
{
    std::unordered_set<std::size_t> hashes{std::hash<TGUID>{}(kSample)};
    std::unordered_set<TGUID> ids{kSample};
    for (int i = 0; i < 16; ++i)
    {
        EXPECT_NE(WithByteChanged(i), kSample);
        hashes.insert(std::hash<TGUID>{}(WithByteChanged(i)));
        ids.insert(WithByteChanged(i));
    }
    EXPECT_EQ(hashes.size(), 17u);
    EXPECT_EQ(ids.size(), 17u);
    EXPECT_EQ(std::hash<TGUID>{}(StringToGuid(GuidToString(kSample))), std::hash<TGUID>{}(kSample));
}

struct TMalformedGuid
{
    const char* Name;
    const char* Text;
};

class GuidMalformedTest : public GuidTest, public ::testing::WithParamInterface<TMalformedGuid>
{
};

TEST_P(GuidMalformedTest, StringToGuidRaisesConvertErrorNamingTheText)
{
    const char* text = GetParam().Text;
    EXPECT_FALSE(TryParseGuid(text).has_value());
    try
    {
        (void)StringToGuid(text);
        FAIL() << "accepted " << text;
    }
    catch (const EConvertError& e)
    {
        EXPECT_NE(e.Message().find("'" + std::string(text) + "'"), std::string::npos) << e.Message();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, GuidMalformedTest,
    ::testing::Values(TMalformedGuid{"Empty", ""},
                      TMalformedGuid{"WithoutBraces", "E0F158E1-CB04-11D0-BD4E-00A0C911CE86"},
                      TMalformedGuid{"WithoutClosingBrace", "{E0F158E1-CB04-11D0-BD4E-00A0C911CE86"},
                      TMalformedGuid{"ParenthesesForBraces", "(E0F158E1-CB04-11D0-BD4E-00A0C911CE86)"},
                      TMalformedGuid{"OneDigitShort", "{E0F158E1-CB04-11D0-BD4E-00A0C911CE8}"},
                      TMalformedGuid{"OneDigitLong", "{E0F158E1-CB04-11D0-BD4E-00A0C911CE861}"},
                      TMalformedGuid{"NonHexDigit", "{E0F158E1-CB04-11D0-BD4E-00A0C911CE8G}"},
                      TMalformedGuid{"HyphenMoved", "{E0F158E-1CB04-11D0-BD4E-00A0C911CE86}"},
                      TMalformedGuid{"HyphensMissing", "{E0F158E1CB0411D0BD4E00A0C911CE86000}"},
                      TMalformedGuid{"SurroundingSpace", " {E0F158E1-CB04-11D0-BD4E-00A0C911CE86}"}),
    [](const ::testing::TestParamInfo<TMalformedGuid>& caseInfo)
    { return std::string(caseInfo.param.Name); });

}   // namespace
}   // namespace harvolin
