#include "pins/OWStdTypes.h"
#include "pins/OWPins.h"
#include "pins/OWTypeRegistry.h"
#include "rtl/Component.h"
#include "tests/pins/TestPins.h"
#include <atomic>
#include <barrier>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <initializer_list>
#include <latch>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

// A state peer that takes the given value types and records what reaches it; it sends nothing of its own
// (its types have no default handler). Single-threaded tests only.
class TRecordingPeer final : public TOWStatePin, public IOWSignalStream
{
public:
    TRecordingPeer(TComponent* owner, std::initializer_list<TGUID> types) : TOWStatePin(owner)
    {
        for (const TGUID& type : types)
            AddType(type);
    }
    ~TRecordingPeer() override { BeforeDestruction(); }

    IOWInterface* QueryInterface(const TGUID& iid) override
    {
        if (PinType().Find(iid) != nullptr)
            return static_cast<IOWSignalStream*>(this);
        return TOWStatePin::QueryInterface(iid);
    }

    bool NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                      std::uint32_t flags) override
    {
        Received.push_back({typeGuid, flags, operation});
        return Answer;
    }

    // The operations of the deliveries that were not connection notices.
    std::vector<TTestDelivery> Values() const
    {
        std::vector<TTestDelivery> values;
        for (const TTestDelivery& delivery : Received)
            if ((delivery.Flags & kOWConnectionNotice) == 0)
                values.push_back(delivery);
        return values;
    }

    std::vector<TTestDelivery> Received;
    bool Answer = false;
};

// A source carrying the clock the way signal source pins do: its own handler for the clock interface ticks
// every target that has one, once per clock operation.
class TClockSourcePin final : public TOWSourcePin
{
public:
    explicit TClockSourcePin(TComponent* owner) : TOWSourcePin(owner)
    {
        AddTypeHandler(IOWClock::kIID, TOWPinHandler::Of<&TClockSourcePin::ClockHandler>(this));
    }
    ~TClockSourcePin() override { BeforeDestruction(); }
private:
    bool ClockHandler(TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                      const TRefPtr<TOWNotifyOperation>& operation)
    {
        (void)typeGuid;
        (void)flags;
        auto* clock = QueryPinInterface<IOWClock>(*target, IOWClock::kIID);
        if (clock != nullptr && RefCast<TOWClockOperation>(operation) != nullptr)
            clock->Clock();
        return false;
    }
};

// Builds a form with a component that owns the pins of a test; the pins go before the components.
class OWStdTypesFixture : public ::testing::Test
{
protected:
    TComponentPtr<TTestForm> FForm = MakeComponent<TTestForm>();
    TComponent* FOwner = &CreateComponent<TComponent>(*FForm);
};

// --- clock sink --------------------------------------------------------------------------------------------

class OWClockSinkPinTest : public OWStdTypesFixture
{
protected:
    std::vector<TOWPin*> FTicks;
    TOWClockSinkPin FSink{FOwner, 0, [this](TOWPin* sender) { FTicks.push_back(sender); }};
    TClockSourcePin FSource{FOwner};
};

TEST_F(OWClockSinkPinTest, ClockThroughTheClockInterfaceTicksOnceWithThePinAsSender)
{
    auto* clock = QueryPinInterface<IOWClock>(FSink, IOWClock::kIID);
    ASSERT_NE(clock, nullptr);
    clock->Clock();
    clock->Clock();
    EXPECT_EQ(FTicks, (std::vector<TOWPin*>{&FSink, &FSink}));
}

TEST_F(OWClockSinkPinTest, ASourceTicksTheSinkOncePerDeliveredClockOperation)
{
    ASSERT_TRUE(FSink.Connect(&FSource));
    EXPECT_TRUE(FTicks.empty()) << "the connection notice is no tick";
    FSource.Notify(MakeRef<TOWClockOperation>());
    FSource.Notify(MakeRef<TOWSuppliedBoolOperation>(true));   // every supply is a tick as well
    FSource.Notify(MakeRef<TOWStartOperation>());
    FSource.Notify(MakeRef<TOWStopOperation>());
    EXPECT_EQ(FTicks.size(), 2u);
}

TEST_F(OWClockSinkPinTest, TheRegistryClockTypeHandlerDoesNotReachTheClockSink)
{
    EXPECT_FALSE(
        DefaultHandler(&FSource, &FSink, kOWClockType, kOWLastRecipient, MakeRef<TOWClockOperation>()));
    EXPECT_TRUE(FTicks.empty());
}

// --- Boolean pins ------------------------------------------------------------------------------------------

struct TBoolCall
{
    TOWPin* Sender;
    bool Value;

    friend bool operator==(const TBoolCall&, const TBoolCall&) = default;
};

class OWBoolPinsTest : public OWStdTypesFixture
{
protected:
    TOWBoolValueHandler Recorder(std::vector<TBoolCall>& calls)
    {
        return [&calls](TOWPin* sender, bool value) { calls.push_back({sender, value}); };
    }

    std::vector<TBoolCall> FStateCalls;
    std::vector<TBoolCall> FSinkCalls;
    TOWBoolStatePin FState{FOwner, 0, Recorder(FStateCalls)};
    TOWBoolSinkPin FSink{FOwner, 0, Recorder(FSinkCalls)};
};

TEST_F(OWBoolPinsTest, ASinkJoiningAStatePinReceivesItsValueAtOnce)
{
    TOWBoolStatePin other(FOwner, 0, nullptr);
    ASSERT_TRUE(FState.Connect(&other));
    other.Notify(MakeRef<TOWSuppliedBoolOperation>(true));
    ASSERT_TRUE(FState.Value());
    FSinkCalls.clear();

    ASSERT_TRUE(FSink.Connect(&FState));
    EXPECT_TRUE(FSink.Value());
    ASSERT_FALSE(FSinkCalls.empty());
    EXPECT_EQ(FSinkCalls.back(), (TBoolCall{&FSink, true}));
}

TEST_F(OWBoolPinsTest, ANewStatePeerTakesTheGroupValueOnJoining)
{
    TOWBoolStatePin first(FOwner, 0, nullptr);
    ASSERT_TRUE(FState.Connect(&first));
    first.Notify(MakeRef<TOWSuppliedBoolOperation>(true));
    ASSERT_TRUE(FState.Value());

    std::vector<TBoolCall> joinerCalls;
    TOWBoolStatePin joiner(FOwner, 0, Recorder(joinerCalls));
    ASSERT_TRUE(joiner.Connect(&FState));
    EXPECT_TRUE(joiner.Value());
    ASSERT_FALSE(joinerCalls.empty());
    EXPECT_EQ(joinerCalls.front(), (TBoolCall{&joiner, true}));
}

TEST_F(OWBoolPinsTest, TheSenderKeepsInStepWithTheValueItSends)
{
    ASSERT_TRUE(FState.Connect(&FSink));
    FState.Notify(MakeRef<TOWSuppliedBoolOperation>(true));
    EXPECT_TRUE(FState.Value());
    EXPECT_TRUE(FSink.Value());
    EXPECT_TRUE(FStateCalls.empty()) << "the sender's own handler is for values from peers";
}

TEST_F(OWBoolPinsTest, TheSinkIgnoresEverythingButSuppliedBooleansAndKeepsItsValue)
{
    ASSERT_TRUE(FSink.Connect(&FState));
    FSinkCalls.clear();
    FState.Notify(MakeRef<TOWSuppliedBoolOperation>(true));
    ASSERT_EQ(FSinkCalls, (std::vector<TBoolCall>{{&FSink, true}}));

    for (const TRefPtr<TOWNotifyOperation>& operation :
         {MakeRef<TOWNotifyOperation>(),
          RefCast<TOWNotifyOperation>(MakeRef<TOWSuppliedSingleOperation>(0.0f)),
          RefCast<TOWNotifyOperation>(MakeRef<TOWSuppliedIntegerOperation>(0)),
          RefCast<TOWNotifyOperation>(MakeRef<TOWStopOperation>()),
          RefCast<TOWNotifyOperation>(MakeRef<TOWSuppliedMulticastOperation>())})
        EXPECT_FALSE(FState.Notify(operation));

    EXPECT_TRUE(FSink.Value());
    EXPECT_EQ(FSinkCalls.size(), 1u);
}

TEST_F(OWBoolPinsTest, ASuppliedBooleanFromASourceReachesTheSinkAndAnswersFalse)
{
    // A source taking "Boolean single" with its own handler, straight into the type interface.
    class TBoolSourcePin final : public TOWSourcePin
    {
    public:
        explicit TBoolSourcePin(TComponent* owner) : TOWSourcePin(owner)
        {
            AddTypeHandler(kOWBooleanSingleType, TOWPinHandler::Of<&TBoolSourcePin::Send>(this));
        }
        ~TBoolSourcePin() override { BeforeDestruction(); }
        std::vector<bool> Results;
    private:
        bool Send(TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                  const TRefPtr<TOWNotifyOperation>& operation)
        {
            auto* stream = QueryPinInterface<IOWSignalStream>(*target, typeGuid);
            const bool result = stream != nullptr && stream->NotifyStream(typeGuid, operation, flags);
            Results.push_back(result);
            return result;
        }
    } source(FOwner);

    ASSERT_TRUE(FSink.Connect(&source));
    source.Notify(MakeRef<TOWSuppliedBoolOperation>(true));
    source.Notify(MakeRef<TOWSuppliedBoolOperation>(false));
    EXPECT_FALSE(FSink.Value());
    EXPECT_EQ(FSinkCalls, (std::vector<TBoolCall>{{&FSink, true}, {&FSink, false}}));
    EXPECT_EQ(source.Results, (std::vector<bool>{false, false, false})) << "notice, true, false";
}

TEST_F(OWBoolPinsTest, DeliveryOverrideReplacesTheDeliveryAndGivesTheResult)
{
    ASSERT_TRUE(FState.Connect(&FSink));
    FSinkCalls.clear();
    std::vector<TOWPin*> overridden;
    FState.SetDeliveryOverride(
        [&](TOWPin* sender, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
            const TRefPtr<TOWNotifyOperation>& operation)
        {
            EXPECT_EQ(sender, &FState);
            EXPECT_EQ(typeGuid, kOWBooleanSingleType);
            EXPECT_EQ(flags, kOWLastRecipient);
            EXPECT_NE(RefCast<TOWSuppliedBoolOperation>(operation), nullptr);
            overridden.push_back(target);
            return true;
        });
    EXPECT_TRUE(FState.Notify(MakeRef<TOWSuppliedBoolOperation>(true)));
    EXPECT_EQ(overridden, std::vector<TOWPin*>{&FSink});
    EXPECT_TRUE(FSinkCalls.empty());
    EXPECT_FALSE(FSink.Value());
    EXPECT_TRUE(FState.Value()) << "the sender keeps in step before the override runs";
}

// --- number state pin --------------------------------------------------------------------------------------

class OWFloatIntStatePinTest : public OWStdTypesFixture
{
protected:
    std::vector<float> FCalls;
    TOWFloatIntStatePin FPin{FOwner, 0,
                             [this](TOWPin* sender, float value)
                             {
                                 EXPECT_EQ(sender, &FPin);
                                 FCalls.push_back(value);
                             }};
};

TEST_F(OWFloatIntStatePinTest, SetValueWithTheHeldValueSendsNothing)
{
    TRecordingPeer peer(FOwner, {kOWFloatSingleType});
    ASSERT_TRUE(FPin.Connect(&peer));
    FPin.SetValue(0.0f);
    EXPECT_TRUE(peer.Values().empty()) << "0 is held from the start";
    FPin.SetValue(7.0f);
    FPin.SetValue(7.0f);
    FPin.SetValue(std::nanf(""));
    FPin.SetValue(std::nanf(""));
    ASSERT_EQ(peer.Values().size(), 2u);
    EXPECT_TRUE(std::isnan(RefCast<TOWSuppliedSingleOperation>(peer.Values()[1].Operation)->Value()));
    EXPECT_TRUE(FCalls.empty()) << "setting is not receiving";
}

TEST_F(OWFloatIntStatePinTest, FloatPeersGetFloatsAlsoWhenTheyTakeIntegersToo)
{
    TRecordingPeer floatOnly(FOwner, {kOWFloatSingleType});
    TRecordingPeer both(FOwner, {kOWIntegerSingleType, kOWFloatSingleType});
    ASSERT_TRUE(FPin.Connect(&both));
    ASSERT_TRUE(FPin.Connect(&floatOnly));
    FPin.SetValue(2.5f);
    for (const TRecordingPeer* peer : {&floatOnly, &both})
    {
        const auto values = peer->Values();
        ASSERT_EQ(values.size(), 1u);
        EXPECT_EQ(values[0].TypeGuid, kOWFloatSingleType);
        auto single = RefCast<TOWSuppliedSingleOperation>(values[0].Operation);
        ASSERT_NE(single, nullptr);
        EXPECT_EQ(single->Value(), 2.5f);
    }
    EXPECT_EQ(floatOnly.Values()[0].Flags, kOWLastRecipient) << "the last member joined last";
}

TEST_F(OWFloatIntStatePinTest, AJoiningPeerReceivesTheCurrentValueAsAConnectionNotice)
{
    FPin.SetValue(440.0f);   // no group yet
    TRecordingPeer peer(FOwner, {kOWIntegerSingleType});
    ASSERT_TRUE(FPin.Connect(&peer));
    ASSERT_FALSE(peer.Received.empty());
    const TTestDelivery& notice = peer.Received.front();
    EXPECT_EQ(notice.Flags, kOWConnectionNotice | kOWLastRecipient);
    auto integer = RefCast<TOWSuppliedIntegerOperation>(notice.Operation);
    ASSERT_NE(integer, nullptr);
    EXPECT_EQ(integer->Value(), 440);
}

TEST_F(OWFloatIntStatePinTest, AValueFromAPeerIsStoredAndHandedToTheOwnerWithoutAnEcho)
{
    std::vector<float> peerCalls;
    TOWFloatIntStatePin peer(FOwner, 0, [&](TOWPin*, float value) { peerCalls.push_back(value); });
    ASSERT_TRUE(FPin.Connect(&peer));
    peerCalls.clear();
    FCalls.clear();

    peer.Notify(MakeRef<TOWSuppliedIntegerOperation>(250));
    EXPECT_EQ(FPin.Value(), 250.0f);
    EXPECT_EQ(FCalls, std::vector<float>{250.0f});
    // The owner pushes the value back, as the generator's setter does: the pin holds it already.
    FPin.SetValue(250.0f);
    EXPECT_TRUE(peerCalls.empty());

    peer.SetValue(12.25f);
    EXPECT_EQ(FPin.Value(), 12.25f);
    EXPECT_EQ(FCalls, (std::vector<float>{250.0f, 12.25f}));
}

TEST_F(OWFloatIntStatePinTest, FloatOverrideReplacesTheDeliveryToFloatPeersOnly)
{
    // Members of one group must share a type: the float peer takes integers too.
    TRecordingPeer floatPeer(FOwner, {kOWIntegerSingleType, kOWFloatSingleType});
    TRecordingPeer integerPeer(FOwner, {kOWIntegerSingleType});
    ASSERT_TRUE(FPin.Connect(&floatPeer));
    ASSERT_TRUE(FPin.Connect(&integerPeer));
    floatPeer.Received.clear();
    integerPeer.Received.clear();
    std::vector<TOWPin*> overridden;
    FPin.SetFloatOverride(
        [&](TOWPin* sender, TOWPin* target, const TGUID&, std::uint32_t,
            const TRefPtr<TOWNotifyOperation>& operation)
        {
            EXPECT_EQ(sender, &FPin);
            EXPECT_NE(RefCast<TOWSuppliedMulticastOperation>(operation), nullptr);
            overridden.push_back(target);
            return true;
        });
    FPin.SetValue(3.0f);
    EXPECT_EQ(overridden, std::vector<TOWPin*>{&floatPeer});
    EXPECT_TRUE(floatPeer.Received.empty());
    ASSERT_EQ(integerPeer.Received.size(), 1u);
    EXPECT_EQ(RefCast<TOWSuppliedIntegerOperation>(integerPeer.Received[0].Operation)->Value(), 3);
}

TEST_F(OWFloatIntStatePinTest, IntegerOverrideReplacesTheDeliveryAndGivesTheResult)
{
    TRecordingPeer peer(FOwner, {kOWIntegerSingleType});
    ASSERT_TRUE(FPin.Connect(&peer));
    peer.Received.clear();
    std::int32_t calls = 0;
    FPin.SetIntegerOverride(
        [&](TOWPin*, TOWPin* target, const TGUID&, std::uint32_t, const TRefPtr<TOWNotifyOperation>&)
        {
            EXPECT_EQ(target, &peer);
            ++calls;
            return true;
        });
    EXPECT_TRUE(FPin.Notify(MakeRef<TOWSuppliedMulticastOperation>()));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(peer.Received.empty());
}

TEST_F(OWFloatIntStatePinTest, AMulticastAnswerIsThePeersResultAndANoticeAnswerIsFalse)
{
    TRecordingPeer peer(FOwner, {kOWFloatSingleType});
    peer.Answer = true;
    ASSERT_TRUE(FPin.Connect(&peer));
    EXPECT_TRUE(FPin.Notify(MakeRef<TOWSuppliedMulticastOperation>()));
    EXPECT_FALSE(FPin.NotifyPeers(MakeRef<TOWNotifyOperation>(), kOWConnectionNotice, &peer));
    EXPECT_TRUE(FPin.Notify(MakeRef<TOWStopOperation>())) << "other operations pass on with the answer";
    EXPECT_NE(RefCast<TOWStopOperation>(peer.Received.back().Operation), nullptr);
}

TEST_F(OWFloatIntStatePinTest, RoundingIgnoresTheThreadsRoundingMode)
{
    TOWFloatIntStatePin pin(FOwner, 0, nullptr);
    TRecordingPeer peer(FOwner, {kOWIntegerSingleType});
    ASSERT_TRUE(pin.Connect(&peer));
    const int mode = std::fegetround();
    ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
    pin.SetValue(2.5f);
    ASSERT_EQ(std::fesetround(FE_DOWNWARD), 0);
    pin.SetValue(3.5f);
    std::fesetround(mode);
    std::vector<std::int32_t> delivered;
    for (const auto& value : peer.Values())
        if (auto integer = RefCast<TOWSuppliedIntegerOperation>(value.Operation))
            delivered.push_back(integer->Value());
    EXPECT_EQ(delivered, (std::vector<std::int32_t>{2, 4}));
}

struct TRoundingCase
{
    std::string Name;
    float Value;
    std::int32_t Expected;
};

class OWFloatIntRoundingTest : public OWStdTypesFixture, public ::testing::WithParamInterface<TRoundingCase>
{
};

TEST_P(OWFloatIntRoundingTest, AnIntegerOnlyPeerGetsTheNearestIntegerHalvesToEven)
{
    TOWFloatIntStatePin pin(FOwner, 0, nullptr);
    TRecordingPeer peer(FOwner, {kOWIntegerSingleType});
    ASSERT_TRUE(pin.Connect(&peer));
    pin.SetValue(GetParam().Value);
    const auto values = peer.Values();
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].TypeGuid, kOWIntegerSingleType);
    auto integer = RefCast<TOWSuppliedIntegerOperation>(values[0].Operation);
    ASSERT_NE(integer, nullptr);
    EXPECT_EQ(integer->Value(), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, OWFloatIntRoundingTest,
    ::testing::Values(
        TRoundingCase{"TwoAndAHalfGoesDown", 2.5f, 2}, TRoundingCase{"ThreeAndAHalfGoesUp", 3.5f, 4},
        TRoundingCase{"AHalfGoesToZero", 0.5f, 0}, TRoundingCase{"MinusTwoAndAHalf", -2.5f, -2},
        TRoundingCase{"MinusThreeAndAHalf", -3.5f, -4}, TRoundingCase{"JustBelowAHalfGoesDown", 2.4999f, 2},
        TRoundingCase{"JustAboveAHalfGoesUp", 2.5001f, 3},
        TRoundingCase{"NegativeThreeQuartersGoesToMinusOne", -0.75f, -1},
        TRoundingCase{"AboveTheRangeSaturates", 1e10f, std::numeric_limits<std::int32_t>::max()},
        TRoundingCase{"BelowTheRangeSaturates", -1e10f, std::numeric_limits<std::int32_t>::min()},
        TRoundingCase{"InfinitySaturates", std::numeric_limits<float>::infinity(),
                      std::numeric_limits<std::int32_t>::max()},
        TRoundingCase{"NaNBecomesZero", std::numeric_limits<float>::quiet_NaN(), 0},
        TRoundingCase{"LargestFloatBelowTheLimitIsExact", 2147483520.0f, 2147483520}),
    [](const ::testing::TestParamInfo<TRoundingCase>& testCase) { return testCase.param.Name; });

// --- pump protocol -----------------------------------------------------------------------------------------

class OWPumpProtocolTest : public OWStdTypesFixture
{
protected:
    void SetUp() override
    {
        RegisterTestTypes();
        ASSERT_TRUE(FSink.Connect(&FSource));
        // The recipient able to drive the chain claims every request that reaches it.
        FSink.OnReceive = [this](const TRefPtr<TOWNotifyOperation>& operation, std::uint32_t)
        {
            if (auto request = RefCast<TOWPumpRequestOperation>(operation))
                FClaimed.push_back(request->TryClaim(&FRecipient, kRecipientPriority));
            return false;
        };
    }

    static constexpr std::int32_t kRecipientPriority = 5;
    const int FSender = 0;      // stands for the requesting component
    const int FRecipient = 0;   // stands for the claiming component
    const int FEarlier = 0;     // a claimant that came first
    std::vector<bool> FClaimed;
    TTestSourcePin FSource{FOwner, {kTestTypeA}};
    TTestSinkPin FSink{FOwner, {kTestTypeA}};
};

TEST_F(OWPumpProtocolTest, AnUnclaimedRequestIsClaimedAndTheSenderSeesItAfterNotify)
{
    auto request = MakeRef<TOWPumpRequestOperation>(&FSender, 100.0f, 1, TOWPumpRequestOperation::kRequested);
    FSource.Notify(request);
    EXPECT_EQ(FClaimed, std::vector<bool>{true});
    EXPECT_EQ(request->Claimant(), &FRecipient);
    EXPECT_EQ(request->PumpPriority(), kRecipientPriority);
    EXPECT_EQ(request->ClaimLevel(), TOWPumpRequestOperation::kClaimed);
    EXPECT_EQ(request->BlockRate(), 100.0f);
}

TEST_F(OWPumpProtocolTest, AClaimWithAnEqualPriorityIsLeftUnchanged)
{
    auto request = MakeRef<TOWPumpRequestOperation>(&FEarlier, 100.0f, kRecipientPriority,
                                                    TOWPumpRequestOperation::kClaimed);
    FSource.Notify(request);
    EXPECT_EQ(FClaimed, std::vector<bool>{false});
    EXPECT_EQ(request->Claimant(), &FEarlier);
    EXPECT_EQ(request->PumpPriority(), kRecipientPriority);
    EXPECT_EQ(request->ClaimLevel(), TOWPumpRequestOperation::kClaimed);
}

TEST_F(OWPumpProtocolTest, AClaimWithALowerPriorityIsTakenOver)
{
    auto request = MakeRef<TOWPumpRequestOperation>(&FEarlier, 100.0f, kRecipientPriority - 1,
                                                    TOWPumpRequestOperation::kClaimed);
    FSource.Notify(request);
    EXPECT_EQ(FClaimed, std::vector<bool>{true});
    EXPECT_EQ(request->Claimant(), &FRecipient);
    EXPECT_EQ(request->PumpPriority(), kRecipientPriority);
}

// --- concurrency -------------------------------------------------------------------------------------------

class OWStdTypesConcurrencyTest : public OWStdTypesFixture
{
protected:
    static constexpr std::int32_t kRounds = 300;
};

TEST_F(OWStdTypesConcurrencyTest, TwoSendersReachOneReceiverAtOnceAndEveryValueArrives)
{
    std::atomic<std::int32_t> received{0};
    TOWFloatIntStatePin a(FOwner, 0, nullptr);
    TOWFloatIntStatePin b(FOwner, 0, nullptr);
    TOWFloatIntStatePin c(FOwner, 0,
                          [&](TOWPin*, float) { received.fetch_add(1, std::memory_order_relaxed); });
    ASSERT_TRUE(a.Connect(&b));
    ASSERT_TRUE(a.Connect(&c));
    received = 0;

    // a sends 1, 2, 3, ... and b -1, -2, -3, ...: no value repeats what a sender holds, so every SetValue
    // notifies and c hears each one.
    std::latch start(2);
    auto send = [&](TOWFloatIntStatePin& pin, float sign)
    {
        start.arrive_and_wait();
        for (std::int32_t i = 1; i <= kRounds; ++i)
            pin.SetValue(sign * static_cast<float>(i));
    };
    std::thread first(send, std::ref(a), 1.0f);
    std::thread second(send, std::ref(b), -1.0f);
    first.join();
    second.join();

    EXPECT_EQ(received.load(), 2 * kRounds);
    const float last = c.Value();
    EXPECT_EQ(last, std::trunc(last));
    EXPECT_NE(last, 0.0f);
    EXPECT_LE(std::fabs(last), static_cast<float>(kRounds));
}

TEST_F(OWStdTypesConcurrencyTest, TwoThreadsSettingTheSameNewValueNotifyOnce)
{
    std::atomic<std::int32_t> received{0};
    TOWFloatIntStatePin pin(FOwner, 0, nullptr);
    TOWFloatIntStatePin peer(FOwner, 0,
                             [&](TOWPin*, float) { received.fetch_add(1, std::memory_order_relaxed); });
    ASSERT_TRUE(pin.Connect(&peer));
    received = 0;

    std::barrier round(2);
    auto set = [&]
    {
        for (std::int32_t i = 1; i <= kRounds; ++i)
        {
            round.arrive_and_wait();
            pin.SetValue(static_cast<float>(i));
        }
    };
    std::thread first(set);
    std::thread second(set);
    first.join();
    second.join();

    EXPECT_EQ(received.load(), kRounds);
    EXPECT_EQ(peer.Value(), static_cast<float>(kRounds));
}

}   // namespace
}   // namespace harvolin
