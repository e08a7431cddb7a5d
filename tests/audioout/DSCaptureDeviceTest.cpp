#include "audioout/ALDSOutputDevice.h"
#include "audioout/DSCaptureDevice.h"
#include "rtl/Component.h"
#include "rtl/DescriptionReader.h"
#include "rtl/DescriptionWriter.h"
#include "tests/support/AlsaTestConfig.h"
#include "tests/support/RecordingFiler.h"
#include "tests/support/TestThreads.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

// Two sound cards that describe themselves alike, as two identical USB headsets do.
constexpr char kTwinDescription[] = "Twin Card";

std::string TwinDefinitions()
{
    std::string text;
    for (const char* name : {"twinone", "twintwo"})
        text += std::string("pcm.") + name + " {\n    type null\n    hint { show on description \"" +
                kTwinDescription + "\" }\n}\n";
    return text;
}

const auto* const GAlsaConfig =
    ::testing::AddGlobalTestEnvironment(new testing::TAlsaTestEnvironment(TwinDefinitions()));

const std::string kTwinOneDisplay = "@device:alsa:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\twinone";
const std::string kTwinTwoDisplay = "@device:alsa:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\twintwo";

using testing::TRecordingFiler;

TEST(TVLDSCapDeviceList, NamesTwinsApartAndLooksUpBothWays)
{
    TVLDSCapDeviceList list;
    list.EnumerateCategory(CLSID_AudioRendererCategory);
    EXPECT_EQ(list.FriendlyNameByDisplayName(kTwinOneDisplay), "Twin Card");
    EXPECT_EQ(list.FriendlyNameByDisplayName(kTwinTwoDisplay), "Twin Card (2)");
    EXPECT_EQ(list.DisplayNameByFriendlyName("Twin Card (2)"), kTwinTwoDisplay);
    ASSERT_TRUE(list.MonikerByFriendlyName("Twin Card"));
    EXPECT_EQ(MonikerDisplayName(*list.MonikerByFriendlyName("Twin Card")), kTwinOneDisplay);
    ASSERT_TRUE(list.MonikerByDisplayName(kNullAudioRendererDisplayName));
    EXPECT_EQ(list.FriendlyNameByDisplayName(kNullAudioRendererDisplayName), kNullAudioRendererFriendlyName);
    EXPECT_FALSE(list.MonikerByFriendlyName("Twin Card (3)"));
    EXPECT_EQ(list.DisplayNameByFriendlyName("No such card"), "");
}

TEST(TVLDSCapDeviceList, UnknownCategoryListsNothing)
{
    TVLDSCapDeviceList list;
    list.EnumerateCategory(MakeGuid("{11111111-2222-3333-4444-555555555555}"));
    EXPECT_EQ(list.Count(), 0u);
}

TEST(TVLDSCapDeviceList, AllFiltersListTheRenderers)
{
    TVLDSCapDeviceList list;
    list.EnumerateAllFilters();
    EXPECT_EQ(list.DisplayNameByFriendlyName(kNullAudioRendererFriendlyName), kNullAudioRendererDisplayName);
}

TEST(DSNameText, UpperCaseAndTrimTouchOnlyAsciiAndBlanks)
{
    EXPECT_EQ(DSUpperCase("DeFault é"), "DEFAULT é");
    EXPECT_EQ(DSTrim(" \tX Y\n "), "X Y");
    EXPECT_EQ(DSTrim("   "), "");
}

class TDSAudioOutputDeviceTest : public ::testing::Test
{
protected:
    int FChanges = 0;
    TDSAudioOutputDevice FDevice{nullptr, nullptr, [this] { ++FChanges; }};
};

TEST_F(TDSAudioOutputDeviceTest, NoneInAnyCaseSetsNoneWithoutTellingTheOwner)
{
    FDevice.SetDeviceName("Twin Card");
    FChanges = 0;
    FDevice.SetDeviceName("nOnE");
    EXPECT_EQ(FDevice.DeviceName(), "None");
    EXPECT_EQ(FDevice.StoredDisplayName(), "");
    EXPECT_EQ(FChanges, 0);
    FDevice.SetDeviceName("Twin Card");
    FDevice.SetDeviceName("");
    EXPECT_EQ(FDevice.DeviceName(), "None");
}

TEST_F(TDSAudioOutputDeviceTest, DefaultInAnyCaseKeepsTheValueAndTellsTheOwner)
{
    FDevice.SetDeviceName("Twin Card (2)");
    EXPECT_EQ(FDevice.StoredDisplayName(), kTwinTwoDisplay);
    FChanges = 0;
    FDevice.SetDeviceName("deFAULT");
    EXPECT_EQ(FDevice.DeviceName(), "deFAULT");
    EXPECT_EQ(FDevice.StoredDisplayName(), "");
    EXPECT_EQ(FChanges, 1);
    FDevice.SetDeviceName("deFAULT");
    EXPECT_EQ(FChanges, 1) << "the same value again is no change";
}

TEST_F(TDSAudioOutputDeviceTest, UnknownNameFallsBackToNone)
{
    FDevice.SetDeviceName("No such card");
    EXPECT_EQ(FDevice.DeviceName(), "None");
    EXPECT_EQ(FDevice.StoredDisplayName(), "");
    EXPECT_EQ(FChanges, 1);
}

TEST_F(TDSAudioOutputDeviceTest, ListsInThreeForms)
{
    std::vector<std::string> names;
    FDevice.ListDeviceNames(names);
    std::vector<std::string> both;
    FDevice.ListDevices(both, TDSDeviceListMode::dlmBoth);
    std::vector<std::string> displays;
    FDevice.ListDevices(displays, TDSDeviceListMode::dlmDisplayName);
    ASSERT_EQ(names.size(), both.size());
    ASSERT_EQ(names.size(), displays.size());
    EXPECT_NE(std::find(names.begin(), names.end(), "Twin Card (2)"), names.end());
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(both[i], names[i] + " - " + displays[i]);
}

TEST_F(TDSAudioOutputDeviceTest, DataStoresChosenDeviceButNotDefault)
{
    TRecordingFiler defaultFiler;
    FDevice.DefineProperties(defaultFiler);
    EXPECT_EQ(defaultFiler.Name, "Data");
    EXPECT_FALSE(defaultFiler.HasData);

    FDevice.SetDeviceName("Twin Card (2)");
    TRecordingFiler filer;
    FDevice.DefineProperties(filer);
    ASSERT_TRUE(filer.HasData);
    EXPECT_EQ(filer.Written,
              TDescValue::List({TDescValue::String(kTwinTwoDisplay), TDescValue::String("Twin Card (2)")}));

    TDSAudioOutputDevice copy(nullptr, nullptr, nullptr);
    TRecordingFiler reader;
    copy.DefineProperties(reader);
    reader.Read(filer.Written);
    EXPECT_EQ(copy.DeviceName(), "Twin Card (2)");
    EXPECT_EQ(copy.StoredDisplayName(), kTwinTwoDisplay);
    EXPECT_THROW(reader.Read(TDescValue::List({TDescValue::String("only one")})), EReadError);
    EXPECT_EQ(copy.DeviceName(), "Twin Card (2)") << "a bad value loses nothing";
}

// Holds an output device as the audio output does, so that it can be written and read as a stored
// description.
class TDeviceHolder final : public TComponent
{
public:
    explicit TDeviceHolder(TComponent* owner) : TComponent(owner) {}

    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info(
            "TDeviceHolder", &TComponent::StaticClassInfo(),
            TPropertyList<TDeviceHolder>()
                .Object("AudioOutputDevice", [](TDeviceHolder& o) { return &o.Device; })
                .Take());
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    TDSAudioOutputDevice Device{this, nullptr, nullptr};
};

TEST(TDSAudioOutputDeviceDescription, ChoicesSurviveAStoredDescription)
{
    RegisterComponentClass<TDeviceHolder>();
    TComponentPtr<TDeviceHolder> holder = MakeComponent<TDeviceHolder>();
    holder->SetName("Holder");
    const std::string defaultText = WriteDescription(*holder);
    EXPECT_EQ(defaultText.find("Data"), std::string::npos) << defaultText;

    holder->Device.SetDeviceName("Twin Card (2)");
    TDSAudioOutputDeviceItems& alternatives = holder->Device.AlternativeDevices();
    alternatives.Add().SetDeviceName(kNullAudioRendererFriendlyName);
    alternatives.Add().SetDeviceName("Twin Card");
    const std::string text = WriteDescription(*holder);
    EXPECT_NE(text.find("AudioOutputDevice.AlternativeDevices = <"), std::string::npos) << text;

    const TComponentPtr<TComponent> read = ReadComponent(text);
    const TDSAudioOutputDevice& device = dynamic_cast<TDeviceHolder&>(*read).Device;
    EXPECT_EQ(device.DeviceName(), "Twin Card (2)");
    EXPECT_EQ(device.StoredDisplayName(), kTwinTwoDisplay);
    // Each read item is preset as a new alternative is; its stored names must win over the preset.
    const TDSAudioOutputDeviceItems& readAlternatives = device.AlternativeDevices();
    ASSERT_EQ(readAlternatives.Count(), 2U);
    EXPECT_EQ(readAlternatives.Items(0).DeviceName(), kNullAudioRendererFriendlyName);
    EXPECT_EQ(readAlternatives.Items(0).StoredDisplayName(), kNullAudioRendererDisplayName);
    EXPECT_EQ(readAlternatives.Items(1).DeviceName(), "Twin Card");
    EXPECT_EQ(readAlternatives.Items(1).StoredDisplayName(), kTwinOneDisplay);
    EXPECT_EQ(WriteDescription(*read), text);
}

TEST_F(TDSAudioOutputDeviceTest, ResolvesTheChosenDeviceByItsDisplayName)
{
    FDevice.SetDeviceName("Twin Card (2)");
    const TRefPtr<IMoniker> moniker = FDevice.ResolveMoniker();
    ASSERT_TRUE(moniker);
    EXPECT_EQ(MonikerDisplayName(*moniker), kTwinTwoDisplay);
    EXPECT_EQ(FDevice.ResolvedFriendlyName(), kTwinDescription);
    EXPECT_EQ(FDevice.ResolvedDisplayName(), kTwinTwoDisplay);
    FDevice.ClearResolved();
    EXPECT_EQ(FDevice.ResolvedFriendlyName(), "");
    EXPECT_EQ(FDevice.ResolvedDisplayName(), "");
}

TEST_F(TDSAudioOutputDeviceTest, DefaultResolvesToTheDefaultRenderer)
{
    const TRefPtr<IMoniker> moniker = FDevice.ResolveMoniker();
    ASSERT_TRUE(moniker);
    EXPECT_EQ(MonikerDisplayName(*moniker), kDefaultAudioRendererDisplayName);
    EXPECT_EQ(FDevice.ResolvedDisplayName(), kDefaultAudioRendererDisplayName);
}

TEST_F(TDSAudioOutputDeviceTest, MissingDeviceFallsToTheFirstListedAlternative)
{
    auto& gone = FDevice.AlternativeDevices().Add();
    TRecordingFiler goneFiler;
    gone.DefineProperties(goneFiler);
    goneFiler.Read(WriteDSNamePair("@device:alsa:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\unplugged", "Gone"));
    FDevice.AlternativeDevices().Add().SetDeviceName(kNullAudioRendererFriendlyName);
    FDevice.SetDeviceName("No such card");
    const TRefPtr<IMoniker> moniker = FDevice.ResolveMoniker();
    ASSERT_TRUE(moniker);
    EXPECT_EQ(MonikerDisplayName(*moniker), kNullAudioRendererDisplayName);
    EXPECT_EQ(FDevice.ResolvedFriendlyName(), kNullAudioRendererFriendlyName);
}

TEST(TDSAudioOutputDeviceItems, NewItemsTakeTheRendererNamedFewestTimes)
{
    TVLDSCapDeviceList list;
    list.EnumerateCategory(CLSID_AudioRendererCategory);
    ASSERT_GE(list.Count(), 2u);
    TDSAudioOutputDeviceItems items(nullptr);
    EXPECT_EQ(items.Add().DeviceName(), list.Items(0).UniqueFriendlyName);
    EXPECT_EQ(items.Add().DeviceName(), list.Items(1).UniqueFriendlyName);
    items.Items(0).SetDeviceName(list.Items(1).UniqueFriendlyName);
    EXPECT_EQ(items.Add().DeviceName(), list.Items(0).UniqueFriendlyName);
    EXPECT_EQ(items.Items(2).StoredDisplayName(), list.Items(0).DisplayName);
    EXPECT_EQ(items.Items(2).DisplayName(), list.Items(0).UniqueFriendlyName);
}

TEST(TDSAudioOutputDeviceItem, UnknownNameKeepsTheOldNameAndForgetsTheDevice)
{
    TDSAudioOutputDeviceItems items(nullptr);
    auto& item = items.Add();
    item.SetDeviceName("Twin Card");
    EXPECT_EQ(item.StoredDisplayName(), kTwinOneDisplay);
    item.SetDeviceName("No such card");
    EXPECT_EQ(item.DeviceName(), "Twin Card");
    EXPECT_EQ(item.StoredDisplayName(), "");
    TRecordingFiler filer;
    item.DefineProperties(filer);
    EXPECT_FALSE(filer.HasData);
    item.SetDeviceName("");
    EXPECT_EQ(item.DeviceName(), "");
}

TEST(TDSFilterItem, NamesAFilterAmongAllAndStoresItUnlessNone)
{
    TDSFilterItems items(nullptr);
    auto& item = items.Add();
    EXPECT_EQ(item.FilterName(), "None");
    EXPECT_EQ(item.EditorName(), "Filter 1");
    EXPECT_EQ(items.Add().EditorName(), "Filter 2");
    TRecordingFiler none;
    item.DefineProperties(none);
    EXPECT_FALSE(none.HasData);

    item.SetFilterName(kNullAudioRendererFriendlyName);
    EXPECT_EQ(item.StoredDisplayName(), kNullAudioRendererDisplayName);
    TRecordingFiler filer;
    item.DefineProperties(filer);
    ASSERT_TRUE(filer.HasData);
    EXPECT_EQ(filer.Written, WriteDSNamePair(kNullAudioRendererDisplayName, kNullAudioRendererFriendlyName));

    TDSFilterItems copy(nullptr);
    copy.Assign(items);
    ASSERT_EQ(copy.Count(), 2u);
    EXPECT_EQ(copy.Items(0).FilterName(), kNullAudioRendererFriendlyName);
    EXPECT_EQ(copy.Items(0).StoredDisplayName(), kNullAudioRendererDisplayName);
}

// The name setter waits for the audio output's processing, which holds the input pin's write section, and
// tells the owner of the change while it still holds the section itself.
TEST(TDSAudioOutputDeviceConcurrency, NameChangeWaitsForTheLockAndNotifiesUnderIt)
{
    TOWObject pin;
    std::int32_t writeHoldsInCallback = 0;
    int changes = 0;
    TDSAudioOutputDevice device(nullptr, &pin,
                                [&]
                                {
                                    ++changes;
                                    writeHoldsInCallback = pin.WriteCount();
                                });
    TRefPtr<IOWLockSection> held;
    THoldingThread processing([&] { held = pin.GetWriteLockSection(); }, [&] { held = nullptr; });
    ASSERT_TRUE(processing.Entered.WaitFor(kPatience));

    std::thread window([&] { device.SetDeviceName("Twin Card"); });
    // The setter counts as a waiting writer while the other thread holds the section.
    ASSERT_TRUE(Eventually([&] { return pin.WriteCount() == 2; }));
    EXPECT_EQ(changes, 0);
    processing.Leave();
    window.join();

    EXPECT_EQ(device.DeviceName(), "Twin Card");
    EXPECT_EQ(device.StoredDisplayName(), kTwinOneDisplay);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(writeHoldsInCallback, 1);
    EXPECT_EQ(pin.WriteCount(), 0);
}

}   // namespace
}   // namespace harvolin
