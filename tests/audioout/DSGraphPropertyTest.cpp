#include "audioout/DSGraphProperty.h"
#include "audioout/DSErrors.h"
#include "media/AudioDevices.h"
#include "media/Monikers.h"
#include "media/RunningObjectTable.h"
#include "pins/ALStreamTypes.h"
#include "rtl/Component.h"
#include "rtl/DescriptionReader.h"
#include "rtl/DescriptionWriter.h"
#include "rtl/Diagnostics.h"
#include "rtl/Threads.h"
#include "tests/support/RecordingFiler.h"
#include <chrono>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

// The graph object as the audio output holds it: an owner component whose audio sink pin is the lock, on a
// thread with a message loop for the hidden window.
class DSGraphPropertyTest : public ::testing::Test
{
protected:
    struct TGraphEvent
    {
        std::int32_t Code;
        std::intptr_t Param1;
        std::thread::id Thread;
        std::int32_t PinWriteHolds;
    };

    TMessageLoop FLoop;
    TComponentPtr<TComponent> FOwner = MakeComponent<TComponent>();
    TALOWAudioSinkPin FInputPin{FOwner.get(), [](auto&&...) { return true; }};
    TDSGraph FGraph{FOwner.get(), &FInputPin};
    std::vector<TGraphEvent> FEvents;

    void BuildWithEvents()
    {
        ASSERT_TRUE(FGraph.CreateFilterGraph());
        ASSERT_TRUE(FGraph.EnableEvents());
        FGraph.SetGraphEventCallback(
            [this](std::int32_t code, std::intptr_t param1, std::intptr_t) {
                FEvents.push_back({code, param1, std::this_thread::get_id(), FInputPin.WriteCount()});
            });
    }
    IMediaEventSink& Sink() { return *QueryAs<IMediaEventSink>(FGraph.FilterGraph().Get()); }
    bool RunUntilEvents(std::size_t count)
    {
        return FLoop.RunUntil([&] { return FEvents.size() >= count; }, 5000ms);
    }
    std::string RotName() const
    {
        return Format(kDSGraphRotNameFormat,
                      {static_cast<const void*>(FGraph.FilterGraph().Get()), CurrentProcessId()});
    }
    // What the running object table holds under the graph's entry name; null when nothing.
    static TRefPtr<IUnknown> Registered(const std::string& name)
    {
        IRunningObjectTable* table = nullptr;
        EXPECT_EQ(GetRunningObjectTable(0, &table), S_OK);
        const TRefPtr<IRunningObjectTable> rot = AdoptRef(table);
        IMoniker* made = nullptr;
        EXPECT_EQ(CreateItemMoniker("!", name.c_str(), &made), S_OK);
        const TRefPtr<IMoniker> moniker = AdoptRef(made);
        IUnknown* object = nullptr;
        if (rot->GetObject(moniker.Get(), &object) != S_OK)
            return nullptr;
        return AdoptRef(object);
    }
    static bool SameObject(IUnknown* a, IUnknown* b)
    {
        return QueryAs<IUnknown>(a).Get() == QueryAs<IUnknown>(b).Get();
    }
};

TEST_F(DSGraphPropertyTest, AnUnhandledErrorRaisesWithTheCodeInDecimalAndHex)
{
    try
    {
        FGraph.ReportError(kDSCannotBuildGraph, E_FAIL);
        FAIL() << "no exception";
    }
    catch (const EDSException& e)
    {
        EXPECT_EQ(e.Message(), "Can't build DirectShow graph. - 2147500037 - 80004005");
    }
}

TEST_F(DSGraphPropertyTest, AHandlerThatHandlesTheErrorSuppressesTheException)
{
    std::vector<std::string> seen;
    FGraph.SetOnError(
        [&](TComponent* sender, const std::string& text, std::int32_t code, bool& handled)
        {
            EXPECT_EQ(sender, FOwner.get());
            seen.push_back(text + "/" + std::to_string(code));
            handled = true;
        });
    EXPECT_NO_THROW(FGraph.ReportError("lost", 5));
    EXPECT_EQ(seen, std::vector<std::string>{"lost/5"});
}

TEST_F(DSGraphPropertyTest, AHandlerThatLeavesTheErrorUnhandledStillRaises)
{
    int calls = 0;
    FGraph.SetOnError([&](TComponent*, const std::string&, std::int32_t, bool&) { ++calls; });
    EXPECT_THROW(FGraph.ReportError("lost", 1), EDSException);
    EXPECT_EQ(calls, 1);
}

TEST_F(DSGraphPropertyTest, AnActiveRegisteredGraphIsInTheRunningObjectTableUntilDeactivated)
{
    ASSERT_TRUE(FGraph.CreateFilterGraph());
    FGraph.SetRegister(true);
    EXPECT_FALSE(Registered(RotName()));   // inactive: nothing yet
    FGraph.Activate();
    const TRefPtr<IUnknown> found = Registered(RotName());
    ASSERT_TRUE(found);
    EXPECT_TRUE(SameObject(found.Get(), FGraph.FilterGraph().Get()));
    EXPECT_NE(RotName().find(" pid "), std::string::npos);
    FGraph.Deactivate();
    EXPECT_FALSE(Registered(RotName()));
}

TEST_F(DSGraphPropertyTest, ChangingRegisterWhileActiveRegistersAndRevokesAtOnce)
{
    ASSERT_TRUE(FGraph.CreateFilterGraph());
    FGraph.Activate();
    EXPECT_FALSE(Registered(RotName()));
    FGraph.SetRegister(true);
    EXPECT_TRUE(Registered(RotName()));
    FGraph.SetRegister(false);
    EXPECT_FALSE(Registered(RotName()));
    FGraph.Deactivate();
}

TEST_F(DSGraphPropertyTest, GraphEventsReachTheCallbackAndTheirNotifyEventsUnderThePinLock)
{
    BuildWithEvents();
    std::vector<std::string> fired;
    FGraph.OnAborted = [&](TComponent* sender) { fired.push_back(sender == FOwner.get() ? "aborted" : "?"); };
    FGraph.OnStarvation = [&](TComponent*) { fired.push_back("starvation"); };
    FGraph.OnDeviceLost = [&](TComponent*) { fired.push_back("lost"); };
    Sink().Notify(EC_COMPLETE, 1, 0);
    Sink().Notify(EC_ERRORABORT, 2, 0);
    Sink().Notify(EC_STARVATION, 3, 0);
    Sink().Notify(EC_DEVICE_LOST, 4, 0);
    EXPECT_TRUE(FEvents.empty());   // nothing runs before the loop does
    ASSERT_TRUE(RunUntilEvents(4));
    ASSERT_EQ(FEvents.size(), 4u);
    for (std::size_t i = 0; i < FEvents.size(); ++i)
    {
        EXPECT_EQ(FEvents[i].Param1, static_cast<std::intptr_t>(i + 1));
        EXPECT_GT(FEvents[i].PinWriteHolds, 0);
    }
    EXPECT_EQ(fired, (std::vector<std::string>{"aborted", "starvation", "lost"}));
    EXPECT_EQ(FInputPin.WriteCount(), 0);
}

TEST_F(DSGraphPropertyTest, AHandlerThatRaisesIsReportedAndLaterEventsStillArrive)
{
    BuildWithEvents();
    FGraph.OnAborted = [](TComponent*) { throw std::runtime_error("handler failed"); };
    const std::uint64_t reportsBefore = Diagnostics().Total();
    Sink().Notify(EC_ERRORABORT, 1, 0);
    Sink().Notify(EC_COMPLETE, 2, 0);
    ASSERT_TRUE(RunUntilEvents(2));
    EXPECT_EQ(FEvents[0].Code, EC_ERRORABORT);
    EXPECT_EQ(FEvents[1].Code, EC_COMPLETE);
    EXPECT_EQ(Diagnostics().Total(), reportsBefore + 1);
    EXPECT_EQ(FInputPin.WriteCount(), 0);   // the section went with the unwinding
}

TEST_F(DSGraphPropertyTest, AReleasedGraphSendsNoMoreEvents)
{
    BuildWithEvents();
    TRefPtr<IMediaEventSink> sink(&Sink());
    FGraph.ReleaseFilterGraph();
    sink->Notify(EC_COMPLETE, 0, 0);
    FLoop.ProcessPending();
    EXPECT_TRUE(FEvents.empty());
}

TEST_F(DSGraphPropertyTest, TheFirstAdditionalFilterEntersUnderItsNameAndNumberOne)
{
    ASSERT_TRUE(FGraph.CreateFilterGraph());
    TDSFilterItem& item = FGraph.AdditionalFilters().Add();
    item.SetFilterName(kNullAudioRendererFriendlyName);
    ASSERT_EQ(item.StoredDisplayName(), kNullAudioRendererDisplayName);
    EXPECT_TRUE(FGraph.AddAdditionalFilters());
    IBaseFilter* found = nullptr;
    ASSERT_EQ(FGraph.FilterGraph()->FindFilterByName(
                  (std::string(kNullAudioRendererFriendlyName) + "(Additional 1)").c_str(), &found),
              S_OK);
    found->Release();
}

TEST_F(DSGraphPropertyTest, EveryAdditionalFilterIsTriedWhenOneCannotBeAdded)
{
    ASSERT_TRUE(FGraph.CreateFilterGraph());
    TDSFilterItems& filters = FGraph.AdditionalFilters();
    filters.Add();   // names no filter
    // Chosen on a machine that had this filter: the stored description names it, this machine lists none.
    testing::TRecordingFiler gone;
    filters.Add().DefineProperties(gone);
    gone.Read(TDescValue::List({TDescValue::String("@device:null:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\gone"),
                                TDescValue::String("Gone")}));
    filters.Add().SetFilterName(kNullAudioRendererFriendlyName);
    EXPECT_FALSE(FGraph.AddAdditionalFilters());
    IBaseFilter* found = nullptr;
    EXPECT_NE(FGraph.FilterGraph()->FindFilterByName("None(Additional 1)", &found), S_OK);
    EXPECT_NE(FGraph.FilterGraph()->FindFilterByName("Gone(Additional 2)", &found), S_OK);
    ASSERT_EQ(FGraph.FilterGraph()->FindFilterByName(
                  (std::string(kNullAudioRendererFriendlyName) + "(Additional 3)").c_str(), &found),
              S_OK);
    found->Release();
}

// Holds a graph object as the audio output does, so that it can be written and read as a stored description.
class TGraphHolder final : public TComponent
{
public:
    explicit TGraphHolder(TComponent* owner) : TComponent(owner) {}

    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info(
            "TGraphHolder", &TComponent::StaticClassInfo(),
            TPropertyList<TGraphHolder>().Object("Graph", [](TGraphHolder& o) { return &o.Graph; }).Take());
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    TALOWAudioSinkPin InputPin{this, [](auto&&...) { return true; }};
    TDSGraph Graph{this, &InputPin};
};

TEST_F(DSGraphPropertyTest, AdditionalFiltersSurviveAStoredDescription)
{
    RegisterComponentClass<TGraphHolder>();
    TComponentPtr<TGraphHolder> holder = MakeComponent<TGraphHolder>();
    holder->SetName("Holder");
    const std::string empty = WriteDescription(*holder);
    EXPECT_EQ(empty.find("AdditionalFilters"), std::string::npos) << empty;

    TDSFilterItems& filters = holder->Graph.AdditionalFilters();
    filters.Add().SetFilterName(kNullAudioRendererFriendlyName);
    filters.Add();   // names no filter
    // Chosen on a machine that had this filter: what was stored must survive a machine that lacks it.
    testing::TRecordingFiler gone;
    filters.Add().DefineProperties(gone);
    const std::string goneDisplay = "@device:null:{E0F158E1-CB04-11D0-BD4E-00A0C911CE86}\\gone";
    gone.Read(TDescValue::List({TDescValue::String(goneDisplay), TDescValue::String("Gone")}));
    const std::string text = WriteDescription(*holder);
    EXPECT_NE(text.find("Graph.AdditionalFilters = <"), std::string::npos) << text;

    const TComponentPtr<TComponent> read = ReadComponent(text);
    const TDSFilterItems& back = dynamic_cast<TGraphHolder&>(*read).Graph.AdditionalFilters();
    ASSERT_EQ(back.Count(), 3U);
    EXPECT_EQ(back.Items(0).FilterName(), kNullAudioRendererFriendlyName);
    EXPECT_EQ(back.Items(0).StoredDisplayName(), kNullAudioRendererDisplayName);
    EXPECT_EQ(back.Items(1).FilterName(), "None");
    EXPECT_EQ(back.Items(1).DisplayName(), "Filter 2");
    EXPECT_EQ(back.Items(2).FilterName(), "Gone");
    EXPECT_EQ(back.Items(2).StoredDisplayName(), goneDisplay);
    EXPECT_EQ(WriteDescription(*read), text);
}

TEST_F(DSGraphPropertyTest, AssigningCopiesTheRegisterFlagAndTheFiltersButNotTheHandlers)
{
    TComponentPtr<TComponent> otherOwner = MakeComponent<TComponent>();
    TALOWAudioSinkPin otherPin{otherOwner.get(), [](auto&&...) { return true; }};
    TDSGraph source{otherOwner.get(), &otherPin};
    source.SetRegister(true);
    source.AdditionalFilters().Add().SetFilterName(kNullAudioRendererFriendlyName);
    bool sourceHandlerCalled = false;
    source.SetOnError([&](TComponent*, const std::string&, std::int32_t, bool& handled)
                      { sourceHandlerCalled = handled = true; });

    FGraph.Assign(source);
    source.AdditionalFilters().Items(0).SetFilterName("");

    EXPECT_TRUE(FGraph.Register());
    ASSERT_EQ(FGraph.AdditionalFilters().Count(), 1U);
    EXPECT_EQ(FGraph.AdditionalFilters().Items(0).FilterName(), kNullAudioRendererFriendlyName);
    EXPECT_EQ(FGraph.AdditionalFilters().Items(0).StoredDisplayName(), kNullAudioRendererDisplayName);
    EXPECT_THROW(FGraph.ReportError("copied?", E_FAIL), EDSException);
    EXPECT_FALSE(sourceHandlerCalled);
}

TEST(DSGraphLifetimeTest, TheGraphObjectBalancesItsObjectModelInitialisation)
{
    TMessageLoop loop;
    TComponentPtr<TComponent> owner = MakeComponent<TComponent>();
    TALOWAudioSinkPin pin{owner.get(), [](auto&&...) { return true; }};
    const std::int32_t before = CoInitializeCount();
    {
        TDSGraph graph(owner.get(), &pin);
        EXPECT_EQ(CoInitializeCount(), before + 1);
    }
    EXPECT_EQ(CoInitializeCount(), before);
}

TEST(DSGraphLifetimeTest, AThreadWithoutAMessageQueueCannotMakeTheGraphObject)
{
    TComponentPtr<TComponent> owner = MakeComponent<TComponent>();
    TALOWAudioSinkPin pin{owner.get(), [](auto&&...) { return true; }};
    std::int32_t countAfter = -1;
    bool refused = false;
    std::thread maker(
        [&]
        {
            try
            {
                TDSGraph graph(owner.get(), &pin);
            }
            catch (const std::logic_error&)
            {
                refused = true;
            }
            countAfter = CoInitializeCount();
        });
    maker.join();
    EXPECT_TRUE(refused);
    EXPECT_EQ(countAfter, 0);
}

class DSGraphPropertyConcurrency : public DSGraphPropertyTest
{
};

TEST_F(DSGraphPropertyConcurrency, EventsRaisedOnAnotherThreadArriveOnTheOwningThreadInOrder)
{
    BuildWithEvents();
    constexpr int kEvents = 200;
    TRefPtr<IMediaEventSink> sink(&Sink());
    std::thread renderer(
        [&]
        {
            for (int i = 0; i < kEvents; ++i)
                sink->Notify(EC_COMPLETE, i, 0);
        });
    // The loop runs while the other thread raises: events are handled as their notices come.
    const bool all = RunUntilEvents(kEvents);
    renderer.join();
    ASSERT_TRUE(all);
    ASSERT_EQ(FEvents.size(), static_cast<std::size_t>(kEvents));
    for (int i = 0; i < kEvents; ++i)
    {
        EXPECT_EQ(FEvents[i].Param1, i);
        EXPECT_EQ(FEvents[i].Thread, std::this_thread::get_id());
    }
}

}   // namespace
}   // namespace harvolin
