#include "pins/OWPins.h"
#include "pins/OWStdTypes.h"
#include "pins/OWTypeRegistry.h"
#include "rtl/Component.h"
#include "rtl/Diagnostics.h"
#include "tests/pins/TestPins.h"
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

// A handler of the pins' own, recording whom it was called for.
struct THandlerLog
{
    struct TCall
    {
        TOWPin* Target;
        TGUID TypeGuid;
        std::uint32_t Flags;
    };

    bool Handle(TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                const TRefPtr<TOWNotifyOperation>& operation)
    {
        (void)operation;
        Calls.push_back({target, typeGuid, flags});
        if (OnCall)
            OnCall(flags);
        return Answer;
    }
    TOWPinHandler Handler() { return TOWPinHandler::Of<&THandlerLog::Handle>(this); }

    std::vector<TCall> Calls;
    bool Answer = true;
    std::function<void(std::uint32_t)> OnCall;
};

class OWPinConnectionsTest : public ::testing::Test
{
protected:
    void SetUp() override { RegisterTestTypes(); }

    TTestSourcePin& Source(std::initializer_list<TGUID> types) { return Keep<TTestSourcePin>(types); }
    TTestSinkPin& Sink(std::initializer_list<TGUID> types) { return Keep<TTestSinkPin>(types); }

    template <class T>
    T& Keep(std::initializer_list<TGUID> types)
    {
        auto& pin = CreateComponent<TPinHolder<T>>(*FForm, types);
        return pin.Pin;
    }

    static std::vector<TOWSinkPin*> Order(TOWSourcePin& source)
    {
        std::vector<TOWSinkPin*> order;
        for (const TOWSinkPinEntry& entry : source.SinkEntries())
            order.push_back(entry.Sink);
        return order;
    }

    // A component that owns one pin, so that the pins go with the form.
    template <class T>
    class TPinHolder final : public TComponent
    {
    public:
        TPinHolder(TComponent* owner, std::initializer_list<TGUID> types)
            : TComponent(owner), Pin(this, types)
        {
        }
        T Pin;
    };

    TComponentPtr<TTestForm> FForm = []
    {
        auto form = MakeComponent<TTestForm>();
        form->SetName("fmMain");
        return form;
    }();
    TRefPtr<TOWNotifyOperation> FOperation = MakeRef<TOWSuppliedIntegerOperation>(42);
};

TEST_F(OWPinConnectionsTest, ConnectingLinksBothEndsAndSendsOneConnectionNotice)
{
    THandlerLog log;
    auto& source = Source({});
    source.AddTypeHandler(kTestTypeA, log.Handler());
    auto& sink = Sink({kTestTypeA});

    ASSERT_TRUE(sink.Connect(&source));
    EXPECT_EQ(sink.GetSourcePin(), &source);
    ASSERT_EQ(source.SinkCount(), 1u);
    EXPECT_EQ(source.Sinks(0), &sink);
    EXPECT_EQ(sink.LinkType(), kTestTypeA);
    EXPECT_TRUE(source.IsConnectedTo(&sink));
    EXPECT_TRUE(sink.IsConnectedTo(&source));
    EXPECT_EQ(source.OwnerRootName(), "fmMain");
    ASSERT_EQ(log.Calls.size(), 1u);
    EXPECT_EQ(log.Calls[0].Target, &sink);
    EXPECT_EQ(log.Calls[0].Flags, kOWConnectionNotice | kOWLastRecipient);

    // Again to the current source: accepted, and no second notice.
    EXPECT_TRUE(sink.Connect(&source));
    EXPECT_TRUE(source.Connect(&sink));
    EXPECT_EQ(log.Calls.size(), 1u);
    EXPECT_EQ(source.SinkCount(), 1u);
}

TEST_F(OWPinConnectionsTest, TheStreamHandlerKeepsConnectionNoticesFromTheSink)
{
    auto& source = Source({kTestTypeA});
    auto& sink = Sink({kTestTypeA});
    ASSERT_TRUE(sink.Connect(&source));
    EXPECT_TRUE(sink.Received.empty());
    EXPECT_FALSE(
        OWStreamHandler(&source, &sink, kTestTypeA, kOWConnectionNotice | kOWLastRecipient, FOperation));
    EXPECT_TRUE(sink.Received.empty());
}

TEST_F(OWPinConnectionsTest, LaterTypesWinTheNegotiation)
{
    auto& source = Source({kTestTypeA, kTestTypeB});
    auto& both = Sink({kTestTypeA, kTestTypeB});
    auto& reversed = Sink({kTestTypeB, kTestTypeA});
    auto& onlyA = Sink({kTestTypeA});
    ASSERT_TRUE(both.Connect(&source));
    ASSERT_TRUE(reversed.Connect(&source));
    ASSERT_TRUE(onlyA.Connect(&source));
    EXPECT_EQ(both.LinkType(), kTestTypeB);
    // The sink takes the source's choice when it supports it, whatever its own order.
    EXPECT_EQ(reversed.LinkType(), kTestTypeB);
    EXPECT_EQ(onlyA.LinkType(), kTestTypeA);
    EXPECT_EQ(source.GetLinkType(&reversed), kTestTypeB);
    EXPECT_EQ(source.GetLinkType(&onlyA), kTestTypeA);
    EXPECT_EQ(source.GetDataType(), kTestTypeB);
}

TEST_F(OWPinConnectionsTest, TheSinkFallsBackToItsLastTypeThatTheSourceSupports)
{
    auto& source = Source({kTestTypeA, kTestTypeC});
    auto& sink = Sink({kTestTypeA});
    // The sink answers C without listing it, so the source picks C; the sink's own list only has A.
    sink.Extra.push_back(kTestTypeC);
    ASSERT_TRUE(sink.Connect(&source));
    EXPECT_EQ(source.GetLinkType(&sink), kTestTypeC);
    EXPECT_EQ(sink.LinkType(), kTestTypeA);
}

TEST_F(OWPinConnectionsTest, PinsWithoutACommonTypeDoNotConnectAndNothingChanges)
{
    auto& sourceA = Source({kTestTypeA});
    auto& sourceB = Source({kTestTypeB});
    auto& sink = Sink({kTestTypeA});
    ASSERT_TRUE(sink.Connect(&sourceA));
    EXPECT_FALSE(sink.CanConnect(&sourceB));
    EXPECT_FALSE(sink.Connect(&sourceB));
    EXPECT_EQ(sink.GetSourcePin(), &sourceA);
    EXPECT_EQ(sourceB.SinkCount(), 0u);
    // Neither sink to sink nor source to source.
    auto& other = Sink({kTestTypeA});
    EXPECT_FALSE(sink.Connect(&other));
    EXPECT_FALSE(sourceA.Connect(&sourceB));
}

TEST_F(OWPinConnectionsTest, ReconnectingMovesTheSinkAndNullDisconnects)
{
    auto& first = Source({kTestTypeA});
    auto& second = Source({kTestTypeA});
    auto& sink = Sink({kTestTypeA});
    ASSERT_TRUE(first.Connect(&sink));
    ASSERT_TRUE(sink.Connect(&second));
    EXPECT_EQ(first.SinkCount(), 0u);
    EXPECT_EQ(second.SinkCount(), 1u);
    EXPECT_TRUE(sink.Connect(nullptr));
    EXPECT_EQ(sink.GetSourcePin(), nullptr);
    EXPECT_EQ(second.SinkCount(), 0u);
    EXPECT_FALSE(sink.IsConnected());
    EXPECT_TRUE(sink.LinkType().IsNull());
}

TEST_F(OWPinConnectionsTest, ASourceDisconnectLeavesEverySinkWithoutSource)
{
    auto& source = Source({kTestTypeA});
    auto& a = Sink({kTestTypeA});
    auto& b = Sink({kTestTypeA});
    ASSERT_TRUE(a.Connect(&source));
    ASSERT_TRUE(b.Connect(&source));
    source.Disconnect();
    EXPECT_EQ(source.SinkCount(), 0u);
    EXPECT_EQ(a.GetSourcePin(), nullptr);
    EXPECT_EQ(b.GetSourcePin(), nullptr);
    EXPECT_TRUE(a.UpstreamChain().empty());
}

TEST_F(OWPinConnectionsTest, OwnersInDifferentDesignStatesAreNeverCompatible)
{
    auto& source = Source({kTestTypeA});
    auto& sink = Sink({kTestTypeA});
    sink.Owner()->SetDesigning(true);
    EXPECT_FALSE(sink.IsCompatible(&source));
    EXPECT_FALSE(sink.Connect(&source));
    sink.Owner()->SetDesigning(false);
    EXPECT_TRUE(sink.Connect(&source));
}

TEST_F(OWPinConnectionsTest, ASinkThatTheSourceDependsOnCannotCloseALoop)
{
    auto& output = Source({kTestTypeA});
    auto& input = Sink({kTestTypeA});
    output.FunctionSinks().Add(&input, false);
    EXPECT_TRUE(output.DependsOn(&input));
    EXPECT_TRUE(output.DependsDirectlyOn(&input));
    EXPECT_FALSE(input.IsCompatible(&output));
    EXPECT_FALSE(input.Connect(&output));

    // Through a second stage: upstream -> middleIn ... middleOut -> input ... output -> middleIn closes it.
    auto& middleOut = Source({kTestTypeA});
    auto& middleIn = Sink({kTestTypeA});
    middleOut.FunctionSinks().Add(&middleIn, false);
    ASSERT_TRUE(input.Connect(&middleOut));
    EXPECT_TRUE(output.DependsOn(&middleIn));
    EXPECT_FALSE(output.DependsDirectlyOn(&middleIn));
    EXPECT_FALSE(middleIn.Connect(&output));
    EXPECT_EQ(output.SinkCount(), 0u);
}

TEST_F(OWPinConnectionsTest, ALockDependencyPutsSourceAndSinkIntoOneGroupUntilRemoved)
{
    auto& output = Source({kTestTypeA});
    auto& input = Sink({kTestTypeA});
    output.FunctionSinks().Add(&input, true);
    EXPECT_EQ(output.LockObject()->GetInstance(), input.LockObject()->GetInstance());
    EXPECT_EQ(input.FunctionSources(), std::vector<TOWSourcePin*>{&output});
    EXPECT_EQ(input.LinkedObjects(), std::vector<TOWPin*>{&output});
    output.FunctionSinks().Remove(&input);
    EXPECT_NE(output.LockObject()->GetInstance(), input.LockObject()->GetInstance());
    EXPECT_TRUE(input.FunctionSources().empty());
    EXPECT_TRUE(input.LinkedObjects().empty());
    EXPECT_TRUE(output.LinkedObjects().empty());
}

TEST_F(OWPinConnectionsTest, DestroyingASourceLeavesItsSinksWithoutSourceAndClearsItsVariable)
{
    auto source = std::make_unique<TTestSourcePin>(FForm.get(), std::initializer_list<TGUID>{kTestTypeA});
    TTestSourcePin* variable = source.get();
    source->SetAutoNilReference(&variable);
    auto& a = Sink({kTestTypeA});
    auto& b = Sink({kTestTypeA});
    ASSERT_TRUE(a.Connect(source.get()));
    ASSERT_TRUE(b.Connect(source.get()));
    source->FunctionSinks().Add(&b, true);
    source.reset();
    EXPECT_EQ(variable, nullptr);
    EXPECT_EQ(a.GetSourcePin(), nullptr);
    EXPECT_EQ(b.GetSourcePin(), nullptr);
    EXPECT_TRUE(b.FunctionSources().empty());
    EXPECT_TRUE(b.LinkedObjects().empty());
    EXPECT_TRUE(b.Dependents().empty());
}

TEST_F(OWPinConnectionsTest, DestroyingASinkRemovesItsRecordAndItsPlaceInDependencyLists)
{
    auto& source = Source({kTestTypeA});
    auto sink = std::make_unique<TTestSinkPin>(FForm.get(), std::initializer_list<TGUID>{kTestTypeA});
    TTestSinkPin* variable = sink.get();
    sink->SetAutoNilReference(&variable);
    ASSERT_TRUE(sink->Connect(&source));
    source.FunctionSinks().Add(sink.get(), true);
    source.DataTypeSinks().Add(sink.get(), false);
    sink.reset();
    EXPECT_EQ(variable, nullptr);
    EXPECT_EQ(source.SinkCount(), 0u);
    EXPECT_EQ(source.FunctionSinks().Count(), 0u);
    EXPECT_EQ(source.DataTypeSinks().Count(), 0u);
    EXPECT_TRUE(source.LinkedObjects().empty());
    EXPECT_TRUE(source.Dependencies().empty());
    // The source still delivers, to nobody.
    EXPECT_FALSE(source.Notify(FOperation));
}

TEST_F(OWPinConnectionsTest, DataTypeSinksOfferTheirTypesAndMustSupportEveryTypeAsked)
{
    auto& output = Source({kTestTypeA, kTestTypeB});
    auto& input = Sink({kTestTypeA, kTestTypeC});
    output.DataTypeSinks().Add(&input, false);
    EXPECT_NE(output.GetTypeInterface(kTestTypeA), nullptr);
    // B is the output's own, but the input it takes its type from has no B.
    EXPECT_EQ(output.GetTypeInterface(kTestTypeB), nullptr);
    EXPECT_NE(output.QueryInterface(kTestTypeB), nullptr);

    // The output offers C through the input, though C is not its own type.
    output.Extra.push_back(kTestTypeC);
    auto& consumer = Sink({kTestTypeC});
    ASSERT_TRUE(consumer.Connect(&output));
    EXPECT_EQ(consumer.LinkType(), kTestTypeC);
    output.Notify(FOperation);
    ASSERT_EQ(consumer.Received.size(), 1u);
    EXPECT_EQ(consumer.Received[0].TypeGuid, kTestTypeC);
}

TEST_F(OWPinConnectionsTest, PinsAnswerThePinIdentifierAndTheirTypes)
{
    auto& sink = Sink({kTestTypeA});
    EXPECT_NE(sink.QueryInterface(IOWPin::kIID), nullptr);
    EXPECT_NE(QueryPinInterface<IOWSignalStream>(sink, kTestTypeA), nullptr);
    EXPECT_EQ(sink.QueryInterface(kTestTypeB), nullptr);
    EXPECT_TRUE(sink.SupportsType(kTestTypeA));
    EXPECT_FALSE(sink.SupportsType(kNullGuid));
}

TEST_F(OWPinConnectionsTest, ARestrictedTypeListIsReorderedOnce)
{
    TOWPinTypeRestricted list;
    for (const TGUID& type : {kTestTypeA, kTestTypeB, kTestTypeC, kTestValueType})
        list.Add(type, {});
    TOWPinType ordering;
    ordering.Add(kTestTypeC, {});
    ordering.Add(kTestTypeB, {});
    list.OrderBy(ordering);
    ASSERT_TRUE(list.Ordered());
    std::vector<TGUID> order;
    for (std::size_t i = 0; i < list.Count(); ++i)
        order.push_back(list.Entries(i).TypeGuid);
    EXPECT_EQ(order, (std::vector<TGUID>{kTestTypeC, kTestTypeB, kTestTypeA, kTestValueType}));
    TOWPinType again;
    again.Add(kTestValueType, {});
    list.OrderBy(again);
    EXPECT_EQ(list.Entries(0).TypeGuid, kTestTypeC);
}

TEST_F(OWPinConnectionsTest, MergingATypeReplacesTheHandlerOfTheEntryThere)
{
    THandlerLog log;
    TOWPinType list;
    list.Add(kTestTypeA, {});
    list.Merge({kTestTypeA, log.Handler()});
    list.Merge({kTestTypeB, {}});
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Find(kTestTypeA)->Handler, log.Handler());
    EXPECT_EQ(list.Find(kTestValueType), nullptr);
}

TEST_F(OWPinConnectionsTest, SinkListIndicesOutOfRangeRaiseARangeError)
{
    auto& source = Source({kTestTypeA});
    EXPECT_THROW((void)source.Sinks(0), ERangeError);
}

// ---------------------------------------------------------------------------------------------------------

class OWPinDeliveryTest : public OWPinConnectionsTest
{
};

TEST_F(OWPinDeliveryTest, OnlyTheLastSinkOfTheSnapshotIsFlaggedAsTheLastRecipient)
{
    auto& source = Source({kTestTypeA});
    auto& a = Sink({kTestTypeA});
    auto& b = Sink({kTestTypeA});
    auto& c = Sink({kTestTypeA});
    for (TTestSinkPin* sink : {&a, &b, &c})
        ASSERT_TRUE(sink->Connect(&source));
    EXPECT_FALSE(source.Notify(FOperation));
    for (TTestSinkPin* sink : {&a, &b, &c})
    {
        ASSERT_EQ(sink->Received.size(), 1u);
        EXPECT_EQ(sink->Received[0].Operation, FOperation);
        EXPECT_EQ(sink->Received[0].TypeGuid, kTestTypeA);
    }
    EXPECT_EQ(a.Received[0].Flags, 0u);
    EXPECT_EQ(b.Received[0].Flags, 0u);
    EXPECT_EQ(c.Received[0].Flags, kOWLastRecipient);
}

TEST_F(OWPinDeliveryTest, ASourceWithoutSinksOrGroupReturnsFalseAndCallsNoHandler)
{
    THandlerLog log;
    auto& source = Source({});
    source.AddTypeHandler(kTestTypeA, log.Handler());
    EXPECT_FALSE(source.Notify(FOperation));
    EXPECT_TRUE(log.Calls.empty());
    EXPECT_EQ(source.NotifyDepth(), 0);
}

TEST_F(OWPinDeliveryTest, SinksThatHandleDriftToTheEndAndFallBackWhenTheyStop)
{
    auto& source = Source({kTestTypeA});
    auto& eager = Sink({kTestTypeA});
    auto& idle1 = Sink({kTestTypeA});
    auto& idle2 = Sink({kTestTypeA});
    for (TTestSinkPin* sink : {&eager, &idle1, &idle2})
        ASSERT_TRUE(sink->Connect(&source));
    eager.Handled = true;
    source.Notify(FOperation);
    EXPECT_EQ(Order(source), (std::vector<TOWSinkPin*>{&idle1, &idle2, &eager}));
    std::vector<std::int32_t> weights;
    for (const TOWSinkPinEntry& entry : source.SinkEntries())
        weights.push_back(entry.Weight);
    EXPECT_EQ(weights, (std::vector<std::int32_t>{0, 0, 3}));
    // The last recipient is now the sink that handles.
    EXPECT_EQ(eager.Received.back().Flags, 0u);
    source.Notify(FOperation);
    EXPECT_EQ(eager.Received.back().Flags, kOWLastRecipient);
    EXPECT_EQ(source.SinkEntries().back().Weight, 6);

    eager.Handled = false;
    idle1.Handled = true;
    for (int i = 0; i < 4; ++i)
        source.Notify(FOperation);
    // eager decayed 6 -> 2, idle1 earned 4 x (4 - 1) = 12.
    EXPECT_EQ(Order(source), (std::vector<TOWSinkPin*>{&idle2, &eager, &idle1}));
    EXPECT_EQ(source.SinkEntries()[1].Weight, 2);
    EXPECT_EQ(source.SinkEntries()[2].Weight, 12);
}

TEST_F(OWPinDeliveryTest, WeightStopsGrowingAtTheCap)
{
    auto& source = Source({kTestTypeA});
    auto& sink = Sink({kTestTypeA});
    ASSERT_TRUE(sink.Connect(&source));
    sink.Handled = true;
    for (int i = 0; i < 3400; ++i)
        source.Notify(FOperation);
    const std::int32_t weight = source.SinkEntries()[0].Weight;
    EXPECT_GE(weight, 9999);
    EXPECT_LT(weight, 10003);
}

TEST_F(OWPinDeliveryTest, NotifySinkReachesOnlyThatSinkFlaggedAsTheLast)
{
    auto& source = Source({kTestTypeA});
    auto& a = Sink({kTestTypeA});
    auto& b = Sink({kTestTypeA});
    ASSERT_TRUE(a.Connect(&source));
    ASSERT_TRUE(b.Connect(&source));
    source.NotifySink(&a, FOperation);
    ASSERT_EQ(a.Received.size(), 1u);
    EXPECT_EQ(a.Received[0].Flags, kOWLastRecipient);
    EXPECT_TRUE(b.Received.empty());
}

TEST_F(OWPinDeliveryTest, AFailingSinkKeepsNeitherTheOthersNorTheSenderFromTheirWork)
{
    auto& source = Source({kTestTypeA});
    auto& failing = Sink({kTestTypeA});
    auto& healthy = Sink({kTestTypeA});
    ASSERT_TRUE(failing.Connect(&source));
    ASSERT_TRUE(healthy.Connect(&source));
    failing.OnReceive = [](const TRefPtr<TOWNotifyOperation>&, std::uint32_t) -> bool
    { throw std::runtime_error("sink failed"); };
    EXPECT_NO_THROW(source.Notify(FOperation));
    EXPECT_EQ(healthy.Received.size(), 1u);
    EXPECT_EQ(source.NotifyDepth(), 0);
}

TEST_F(OWPinDeliveryTest, ASinkDisconnectedByAnEarlierHandlerReceivesNothingMore)
{
    auto& source = Source({kTestTypeA});
    auto& first = Sink({kTestTypeA});
    auto& second = Sink({kTestTypeA});
    ASSERT_TRUE(first.Connect(&source));
    ASSERT_TRUE(second.Connect(&source));
    first.OnReceive = [&](const TRefPtr<TOWNotifyOperation>&, std::uint32_t)
    {
        second.Disconnect();
        return false;
    };
    source.Notify(FOperation);
    EXPECT_EQ(first.Received.size(), 1u);
    EXPECT_TRUE(second.Received.empty());
    EXPECT_EQ(source.SinkCount(), 1u);
}

TEST_F(OWPinDeliveryTest, ALoopThroughTheSameSourceIsCutAfter201LevelsAndUnwindsToZero)
{
    auto& source = Source({kTestTypeA});
    auto& sink = Sink({kTestTypeA});
    ASSERT_TRUE(sink.Connect(&source));
    std::int32_t deepest = 0;
    std::vector<std::string> raised;
    sink.OnReceive = [&](const TRefPtr<TOWNotifyOperation>& operation, std::uint32_t)
    {
        deepest = std::max(deepest, source.NotifyDepth());
        try
        {
            source.Notify(operation);
        }
        catch (const EOWException& e)
        {
            raised.push_back(e.Message());
            throw;
        }
        return true;
    };
    EXPECT_NO_THROW(source.Notify(FOperation));
    EXPECT_EQ(deepest, kOWMaxNotifyDepth + 1);
    EXPECT_EQ(raised, std::vector<std::string>{std::string(kOWPinDependsOnItself)});
    EXPECT_EQ(source.NotifyDepth(), 0);
    EXPECT_EQ(sink.Received.size(), static_cast<std::size_t>(kOWMaxNotifyDepth + 1));
}

TEST_F(OWPinDeliveryTest, AFailingConnectionNoticeKeepsTheLinkAndIsReported)
{
    THandlerLog log;
    auto& source = Source({});
    source.AddTypeHandler(kTestTypeA, log.Handler());
    source.Owner()->SetName("Generator");
    auto& sink = Sink({kTestTypeA});
    sink.Owner()->SetName("Output");
    log.OnCall = [](std::uint32_t) { throw std::runtime_error("no value yet"); };

    TDiagnosticCapture capture;
    ASSERT_TRUE(sink.Connect(&source));
    EXPECT_EQ(sink.GetSourcePin(), &source);
    EXPECT_EQ(capture.Delivered(),
              (std::vector<TDiagnostic>{
                  {"Generator.(Unpublished)", "connection notice to Output.(Unpublished)", "no value yet"}}));
}

TEST_F(OWPinDeliveryTest, ConnectionNoticesNestAtMostElevenDeep)
{
    THandlerLog log;
    auto& source = Source({});
    source.AddTypeHandler(kTestTypeA, log.Handler());
    auto& sink = Sink({kTestTypeA});
    std::int32_t deepest = 0;
    std::vector<std::string> raised;
    log.OnCall = [&](std::uint32_t)
    {
        deepest = std::max(deepest, source.NotifyDepth());
        try
        {
            source.SendConnectNotice(&sink, log.Handler());
        }
        catch (const EOWException& e)
        {
            raised.push_back(e.Message());
            throw;
        }
    };
    ASSERT_TRUE(sink.Connect(&source));
    EXPECT_EQ(deepest, kOWMaxConnectNoticeDepth + 1);
    EXPECT_EQ(raised.size(), 1u);
    EXPECT_EQ(source.NotifyDepth(), 0);
}

TEST_F(OWPinDeliveryTest, UpstreamOperationsReachTheSourceAsTheLastRecipient)
{
    auto& source = Source({kTestTypeA});
    auto& sink = Sink({kTestTypeA});
    EXPECT_FALSE(sink.Notify(FOperation));
    ASSERT_TRUE(sink.Connect(&source));
    source.Handled = true;
    EXPECT_TRUE(sink.Notify(FOperation));
    ASSERT_EQ(source.Received.size(), 1u);
    EXPECT_EQ(source.Received[0].Flags, kOWLastRecipient);
    EXPECT_EQ(source.Received[0].TypeGuid, kTestTypeA);
    EXPECT_EQ(sink.UpstreamChain(), (std::vector<TOWObject*>{&source, &sink}));
    // Unlike downstream, an upstream failure reaches the sender.
    source.OnReceive = [](const TRefPtr<TOWNotifyOperation>&, std::uint32_t) -> bool
    { throw std::runtime_error("source failed"); };
    EXPECT_THROW(sink.Notify(FOperation), std::runtime_error);
    EXPECT_EQ(source.ReadCount(), 0);
    EXPECT_EQ(sink.ReadCount(), 0);
}

TEST_F(OWPinDeliveryTest, TheUpstreamChainRunsFromTheFarthestPinThroughFunctionalDependencies)
{
    auto& generator = Source({kTestTypeA});
    auto& filterIn = Sink({kTestTypeA});
    auto& filterOut = Source({kTestTypeA});
    auto& output = Sink({kTestTypeA});
    filterOut.FunctionSinks().Add(&filterIn, false);
    ASSERT_TRUE(output.Connect(&filterOut));
    ASSERT_TRUE(filterIn.Connect(&generator));
    // Connecting upstream rebuilt the chain of the sink downstream.
    EXPECT_EQ(output.UpstreamChain(), (std::vector<TOWObject*>{&generator, &filterIn, &filterOut, &output}));
    filterIn.Connect(nullptr);
    EXPECT_EQ(output.UpstreamChain(), (std::vector<TOWObject*>{&filterIn, &filterOut, &output}));
}

TEST_F(OWPinDeliveryTest, TheClockTypeReachesOnlyTargetsWithTheClockInterface)
{
    auto& source = Source({kTestTypeA});
    auto& clocked = Sink({kTestTypeA});
    clocked.Extra.push_back(kOWClockType);
    clocked.Handled = true;
    auto& plain = Sink({kTestTypeA});
    EXPECT_TRUE(OWClockInterfaceHandler(&source, &clocked, kOWClockType, 0, FOperation));
    EXPECT_EQ(clocked.Received.size(), 1u);
    EXPECT_FALSE(OWClockInterfaceHandler(&source, &plain, kOWClockType, 0, FOperation));
    EXPECT_TRUE(plain.Received.empty());
}

TEST_F(OWPinDeliveryTest, ANullOperationIsRefusedBeforeAnyoneReceivesIt)
{
    auto& source = Source({kTestTypeA});
    auto& sink = Sink({kTestTypeA});
    ASSERT_TRUE(sink.Connect(&source));
    EXPECT_THROW(source.Notify(nullptr), std::invalid_argument);
    EXPECT_THROW(sink.Notify(nullptr), std::invalid_argument);
    EXPECT_THROW(source.NotifyPeers(nullptr, 0, nullptr), std::invalid_argument);
    EXPECT_TRUE(sink.Received.empty());
    EXPECT_TRUE(source.Received.empty());
    EXPECT_EQ(source.NotifyDepth(), 0);
}

TEST_F(OWPinDeliveryTest, ATypeWithoutDefaultHandlerDeliversNothing)
{
    auto& source = Source({kTestValueType});
    auto& sink = Sink({kTestValueType});
    ASSERT_TRUE(sink.Connect(&source));
    source.Notify(FOperation);
    EXPECT_TRUE(sink.Received.empty());
}

}   // namespace
}   // namespace harvolin
