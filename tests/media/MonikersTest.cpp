#include "media/Monikers.h"
#include "media/AudioDevices.h"
#include "media/AudioRenderer.h"
#include "media/DeviceEnumerator.h"
#include "media/RunningObjectTable.h"
#include "tests/support/AlsaTestConfig.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

const auto* const GAlsaConfig = ::testing::AddGlobalTestEnvironment(new testing::TAlsaTestEnvironment);

std::string FriendlyName(IMoniker& moniker)
{
    void* storage = nullptr;
    EXPECT_EQ(moniker.BindToStorage(nullptr, nullptr, IPropertyBag::kIID, &storage), S_OK);
    const auto bag = AdoptRef(static_cast<IPropertyBag*>(storage));
    std::string name;
    if (bag)
    {
        EXPECT_EQ(bag->Read("FriendlyName", &name), S_OK);
    }
    return name;
}

TGUID ClassId(IPersist& object)
{
    TGUID id{};
    EXPECT_EQ(object.GetClassID(&id), S_OK);
    return id;
}

TRefPtr<IMoniker> Parse(const std::string& name)
{
    IMoniker* moniker = nullptr;
    std::uint32_t eaten = 0;
    EXPECT_EQ(MkParseDisplayName(nullptr, name.c_str(), &eaten, &moniker), S_OK) << name;
    EXPECT_EQ(eaten, name.size());
    return AdoptRef(moniker);
}

// Everything an enumerator hands out, one Next at a time.
std::vector<TRefPtr<IMoniker>> Drain(IEnumMoniker& monikers)
{
    std::vector<TRefPtr<IMoniker>> all;
    IMoniker* moniker = nullptr;
    std::uint32_t fetched = 0;
    while (monikers.Next(1, &moniker, &fetched) == S_OK)
    {
        EXPECT_EQ(fetched, 1u);
        all.push_back(AdoptRef(moniker));
    }
    EXPECT_EQ(fetched, 0u);
    return all;
}

std::vector<std::string> DisplayNames(const std::vector<TRefPtr<IMoniker>>& monikers)
{
    std::vector<std::string> names;
    for (const auto& moniker : monikers)
        names.push_back(MonikerDisplayName(*moniker));
    return names;
}

class MonikersTest : public ::testing::Test
{
protected:
    void SetUp() override { FLiveBlocks = CoTaskMemLiveBlocks(); }
    void TearDown() override { EXPECT_EQ(CoTaskMemLiveBlocks(), FLiveBlocks) << "task memory leaked"; }

    TRefPtr<IEnumMoniker> AudioRenderers()
    {
        void* made = nullptr;
        EXPECT_EQ(
            CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC, ICreateDevEnum::kIID, &made),
            S_OK);
        const auto devices = AdoptRef(static_cast<ICreateDevEnum*>(made));
        IEnumMoniker* monikers = nullptr;
        EXPECT_EQ(devices->CreateClassEnumerator(CLSID_AudioRendererCategory, &monikers, 0), S_OK);
        return AdoptRef(monikers);
    }
private:
    std::int64_t FLiveBlocks = 0;
};

TEST_F(MonikersTest, ItemMonikerNamesDelimiterAndItemAndBindsToTheRunningObject)
{
    IMoniker* made = nullptr;
    ASSERT_EQ(CreateItemMoniker("!", "FilterGraph 0x1 pid 2", &made), S_OK);
    const auto moniker = AdoptRef(made);
    char* name = nullptr;
    ASSERT_EQ(moniker->GetDisplayName(nullptr, nullptr, &name), S_OK);
    EXPECT_STREQ(name, "!FilterGraph 0x1 pid 2");
    CoTaskMemFree(name);
    EXPECT_EQ(ClassId(*moniker), CLSID_ItemMoniker);

    void* bound = reinterpret_cast<void*>(1);
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IUnknown::kIID, &bound), MK_E_UNAVAILABLE);
    EXPECT_EQ(bound, nullptr);

    IBindCtx* context = nullptr;
    ASSERT_EQ(CreateBindCtx(0, &context), S_OK);
    const auto object = AdoptRef(context);   // any object will do as the running one
    IRunningObjectTable* table = nullptr;
    ASSERT_EQ(GetRunningObjectTable(0, &table), S_OK);
    std::uint32_t cookie = 0;
    ASSERT_EQ(
        AdoptRef(table)->Register(ROTFLAGS_REGISTRATIONKEEPSALIVE, object.Get(), moniker.Get(), &cookie),
        S_OK);
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IBindCtx::kIID, &bound), S_OK);
    EXPECT_EQ(AdoptRef(static_cast<IBindCtx*>(bound)), object);
    EXPECT_EQ(moniker->BindToObject(nullptr, moniker.Get(), IUnknown::kIID, &bound), E_INVALIDARG);
    IRunningObjectTable* again = nullptr;
    ASSERT_EQ(GetRunningObjectTable(0, &again), S_OK);
    EXPECT_EQ(AdoptRef(again)->Revoke(cookie), S_OK);
}

TEST_F(MonikersTest, TheDefaultNameParsesToTheDefaultRenderer)
{
    IBindCtx* context = nullptr;
    ASSERT_EQ(CreateBindCtx(0, &context), S_OK);
    const auto bindContext = AdoptRef(context);
    IMoniker* parsed = nullptr;
    std::uint32_t eaten = 0;
    ASSERT_EQ(MkParseDisplayName(bindContext.Get(), "@device:*:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}",
                                 &eaten, &parsed),
              S_OK);
    const auto moniker = AdoptRef(parsed);
    EXPECT_EQ(eaten, 48u);
    EXPECT_EQ(MonikerDisplayName(*moniker), kDefaultAudioRendererDisplayName);
    EXPECT_EQ(FriendlyName(*moniker), kDefaultAudioRendererFriendlyName);
    EXPECT_EQ(ClassId(*moniker), CLSID_AlsaAudioRenderer);
    // Binding only makes the filter: the device is chosen and opened when it is connected.
    void* bound = nullptr;
    ASSERT_EQ(moniker->BindToObject(bindContext.Get(), nullptr, IBaseFilter::kIID, &bound), S_OK);
    const auto filter = AdoptRef(static_cast<IBaseFilter*>(bound));
    EXPECT_EQ(ClassId(*filter), CLSID_AlsaAudioRenderer);
}

struct TBadName
{
    const char* Case;
    const char* Name;
};

class MkParseDisplayNameRefusesTest : public ::testing::TestWithParam<TBadName>
{
};

TEST_P(MkParseDisplayNameRefusesTest, WithSyntaxError)
{
    IMoniker* moniker = reinterpret_cast<IMoniker*>(1);
    std::uint32_t eaten = 7;
    EXPECT_EQ(MkParseDisplayName(nullptr, GetParam().Name, &eaten, &moniker), MK_E_SYNTAX);
    EXPECT_EQ(moniker, nullptr);
    EXPECT_EQ(eaten, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Names, MkParseDisplayNameRefusesTest,
    ::testing::Values(
        TBadName{"Empty", ""}, TBadName{"ItemName", "!FilterGraph 1 pid 2"},
        TBadName{"NoCategory", "@device:*:"},
        TBadName{"OtherCategory", "@device:*:{00000000-0000-0000-C000-000000000046}"},
        TBadName{"TrailingText", "@device:*:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}x"},
        TBadName{"UnknownKind", "@device:sw:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\null"},
        TBadName{"NullNamedOtherwise", "@device:null:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\x"},
        TBadName{"AlsaWithoutPcm", "@device:alsa:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\"},
        TBadName{"AlsaWithoutSeparator", "@device:alsa:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}hw"}),
    [](const ::testing::TestParamInfo<TBadName>& name) { return std::string(name.param.Case); });

TEST_F(MonikersTest, TheEnumeratorListsAlsaThenTheNullRendererAndEachNameParsesBack)
{
    const auto all = Drain(*AudioRenderers());
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(MonikerDisplayName(*all.back()), kNullAudioRendererDisplayName);
    EXPECT_EQ(FriendlyName(*all.back()), "Null renderer");
    EXPECT_EQ(ClassId(*all.back()), CLSID_NullAudioRenderer);
    const std::string alsaPrefix = "@device:alsa:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\";
    for (std::size_t i = 0; i + 1 < all.size(); ++i)
    {
        EXPECT_EQ(MonikerDisplayName(*all[i]).rfind(alsaPrefix, 0), 0u) << MonikerDisplayName(*all[i]);
        EXPECT_EQ(ClassId(*all[i]), CLSID_AlsaAudioRenderer);
    }
    for (const auto& listed : all)
    {
        const auto parsed = Parse(MonikerDisplayName(*listed));
        ASSERT_TRUE(parsed);
        EXPECT_EQ(MonikerDisplayName(*parsed), MonikerDisplayName(*listed));
        EXPECT_EQ(FriendlyName(*parsed), FriendlyName(*listed));
        EXPECT_EQ(ClassId(*parsed), ClassId(*listed));
    }
    // A PCM that ALSA does not list can still be opened: it is named by itself, and written as the
    // enumerator writes names.
    const auto unlisted = Parse("@device:alsa:{e0f158e1-cb04-11d0-bd4e-00a0c911ce86}\\hw:7,0");
    EXPECT_EQ(FriendlyName(*unlisted), "hw:7,0");
    EXPECT_EQ(MonikerDisplayName(*unlisted), alsaPrefix + "hw:7,0");
}

TEST_F(MonikersTest, TheTestsAlsaDeviceIsListedWithItsDescriptionAndBindsToARenderer)
{
    const auto all = Drain(*AudioRenderers());
    const std::string displayName =
        std::string("@device:alsa:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\") + testing::kAlsaTestPcm;
    const auto names = DisplayNames(all);
    const auto found = std::find(names.begin(), names.end(), displayName);
    ASSERT_NE(found, names.end());
    IMoniker& listed = *all[static_cast<std::size_t>(found - names.begin())];
    EXPECT_EQ(FriendlyName(listed), testing::kAlsaTestPcmDescription);

    const auto parsed = Parse(displayName);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(FriendlyName(*parsed), testing::kAlsaTestPcmDescription);
    void* bound = nullptr;
    ASSERT_EQ(parsed->BindToObject(nullptr, nullptr, IBaseFilter::kIID, &bound), S_OK);
    const auto filter = AdoptRef(static_cast<IBaseFilter*>(bound));
    EXPECT_EQ(ClassId(*filter), CLSID_AlsaAudioRenderer);
}

TEST_F(MonikersTest, ThePropertyBagHasOnlyTheFriendlyName)
{
    const auto null = Parse(kNullAudioRendererDisplayName);
    void* storage = nullptr;
    ASSERT_EQ(null->BindToStorage(nullptr, nullptr, IPropertyBag::kIID, &storage), S_OK);
    std::string value = "unchanged";
    EXPECT_EQ(AdoptRef(static_cast<IPropertyBag*>(storage))->Read("Description", &value), E_INVALIDARG);
    EXPECT_EQ(value, "unchanged");
    EXPECT_EQ(null->BindToStorage(nullptr, nullptr, IBaseFilter::kIID, &storage), E_NOINTERFACE);
    EXPECT_EQ(storage, nullptr);
}

TEST_F(MonikersTest, NextSkipResetAndCloneAtTheEnds)
{
    const auto enumerator = AudioRenderers();
    const auto all = Drain(*enumerator);
    const auto count = static_cast<std::uint32_t>(all.size());
    ASSERT_GE(count, 1u);

    IMoniker* batch[64] = {};
    ASSERT_LT(count, 64u);
    std::uint32_t fetched = 99;
    EXPECT_EQ(enumerator->Next(1, batch, &fetched), S_FALSE);   // at the end
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(enumerator->Reset(), S_OK);
    EXPECT_EQ(enumerator->Next(2, batch, nullptr), E_INVALIDARG);
    // Asking for one more than there are: all of them, and S_FALSE.
    EXPECT_EQ(enumerator->Next(count + 1, batch, &fetched), S_FALSE);
    ASSERT_EQ(fetched, count);
    for (std::uint32_t i = 0; i < count; ++i)
        EXPECT_EQ(MonikerDisplayName(*AdoptRef(batch[i])), MonikerDisplayName(*all[i]));

    EXPECT_EQ(enumerator->Reset(), S_OK);
    EXPECT_EQ(enumerator->Skip(count - 1), S_OK);
    IEnumMoniker* copy = nullptr;
    ASSERT_EQ(enumerator->Clone(&copy), S_OK);
    const auto clone = AdoptRef(copy);
    // The clone starts where the original stood, and goes on by itself.
    const auto rest = Drain(*clone);
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(MonikerDisplayName(*rest[0]), kNullAudioRendererDisplayName);
    EXPECT_EQ(enumerator->Skip(2), S_FALSE);   // past the end: stops there
    EXPECT_EQ(enumerator->Next(1, batch, &fetched), S_FALSE);
    EXPECT_EQ(enumerator->Skip(0), S_OK);
    EXPECT_EQ(clone->Reset(), S_OK);
    EXPECT_EQ(Drain(*clone).size(), all.size());
}

TEST_F(MonikersTest, AnUnknownCategoryHasNoEnumerator)
{
    const auto devices = MakeComObject<TSystemDeviceEnum>();
    IEnumMoniker* monikers = reinterpret_cast<IEnumMoniker*>(1);
    EXPECT_EQ(devices->CreateClassEnumerator(GUID_NULL, &monikers, 0), S_FALSE);
    EXPECT_EQ(monikers, nullptr);
    EXPECT_EQ(devices->CreateClassEnumerator(MEDIATYPE_Audio, &monikers, 0), S_FALSE);
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_AudioRendererCategory, nullptr, 0), E_POINTER);
}

class FilterMapperTest : public MonikersTest
{
protected:
    std::vector<std::string> Matching(std::uint32_t minMerit, bool inputNeeded, std::uint32_t typeCount,
                                      const TGUID* types, bool outputNeeded)
    {
        void* made = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC, IFilterMapper2::kIID, &made),
                  S_OK);
        const auto mapper = AdoptRef(static_cast<IFilterMapper2*>(made));
        IEnumMoniker* monikers = nullptr;
        EXPECT_EQ(mapper->EnumMatchingFilters(&monikers, 0, false, minMerit, inputNeeded, typeCount, types,
                                              nullptr, nullptr, false, outputNeeded, 0, nullptr, nullptr,
                                              nullptr),
                  S_OK);
        const auto held = AdoptRef(monikers);
        return held ? DisplayNames(Drain(*held)) : std::vector<std::string>{};
    }
};

TEST_F(FilterMapperTest, ListsTheAudioRenderersAndNothingElse)
{
    const auto renderers = DisplayNames(Drain(*AudioRenderers()));
    EXPECT_EQ(Matching(MERIT_DO_NOT_USE, false, 0, nullptr, false), renderers);
    // Requirements a renderer misses: a higher merit, an output pin, an input of video.
    EXPECT_TRUE(Matching(MERIT_NORMAL + 1, false, 0, nullptr, false).empty());
    EXPECT_TRUE(Matching(MERIT_DO_NOT_USE, false, 0, nullptr, true).empty());
    const TGUID videoThenAudio[4] = {MakeGuid("{73646976-0000-0010-8000-00AA00389B71}"), GUID_NULL,
                                     MEDIATYPE_Audio, GUID_NULL};
    EXPECT_TRUE(Matching(MERIT_DO_NOT_USE, true, 1, videoThenAudio, false).empty());
    EXPECT_EQ(Matching(MERIT_DO_NOT_USE, true, 2, videoThenAudio, false), renderers);
}

}   // namespace
}   // namespace harvolin
