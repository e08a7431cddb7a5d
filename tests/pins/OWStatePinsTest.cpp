#include "pins/OWPins.h"
#include "pins/OWTypeRegistry.h"
#include "rtl/Component.h"
#include "tests/pins/TestPins.h"
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

class OWStatePinsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegisterTestTypes();
        RegisterTypeHandler(kTestValueType, OWStreamHandler);
        FDispatchersBefore = TOWStateDispatcher::LiveCount();
    }

    TTestStatePin& State(std::int32_t value, TComponent* owner = nullptr)
    {
        return *FPins.emplace_back(std::make_unique<TTestStatePin>(owner != nullptr ? owner : FGen, value));
    }

    static TComponentPtr<TTestForm> Form(const std::string& name)
    {
        auto form = MakeComponent<TTestForm>();
        form->SetName(name);
        return form;
    }

    TComponentPtr<TTestForm> FForm = Form("fmMain");
    TComponent* FGen = [this]
    {
        auto& gen = CreateComponent<TComponent>(*FForm);
        gen.SetName("Gen");
        return &gen;
    }();
    std::vector<std::unique_ptr<TTestStatePin>> FPins;
    std::size_t FDispatchersBefore = 0;
};

TEST_F(OWStatePinsTest, TwoPinsFormAGroupNamedAfterTheirRootAndShareTheFirstValue)
{
    auto& a = State(7);
    auto& b = State(3);
    ASSERT_TRUE(a.ConnectState(&b));
    ASSERT_NE(a.Dispatcher(), nullptr);
    EXPECT_EQ(a.Dispatcher(), b.Dispatcher());
    EXPECT_EQ(a.Dispatcher()->Name(), "fmMainLink1");
    EXPECT_EQ(a.MemberCount(), 2u);
    EXPECT_EQ(a.Members(0), &a);
    EXPECT_EQ(a.Members(1), &b);
    EXPECT_EQ(a.Value(), 7);
    EXPECT_EQ(b.Value(), 7);
    EXPECT_TRUE(a.HasState());
    EXPECT_TRUE(a.IsConnectedTo(&b));
    EXPECT_TRUE(b.DependsOn(&a));
    EXPECT_EQ(a.GetLinkType(&b), kTestValueType);
    EXPECT_EQ(a.GetDataType(), kTestValueType);
}

TEST_F(OWStatePinsTest, ASecondGroupOfTheRootTakesTheNextFreeNumber)
{
    auto& a = State(1);
    auto& b = State(1);
    auto& c = State(2);
    auto& d = State(2);
    ASSERT_TRUE(a.Connect(&b));
    ASSERT_TRUE(c.Connect(&d));
    EXPECT_EQ(c.Dispatcher()->Name(), "fmMainLink2");
    a.Disconnect();
    auto& e = State(3);
    auto& f = State(3);
    ASSERT_TRUE(e.Connect(&f));
    EXPECT_EQ(e.Dispatcher()->Name(), "fmMainLink1");
}

TEST_F(OWStatePinsTest, AThirdMemberReceivesTheGroupsValueAtOnce)
{
    auto& a = State(5);
    auto& b = State(5);
    auto& late = State(0);
    ASSERT_TRUE(a.Connect(&b));
    ASSERT_TRUE(late.Connect(&b));
    EXPECT_EQ(late.Value(), 5);
    EXPECT_EQ(a.Value(), 5);
    EXPECT_EQ(late.MemberCount(), 3u);
}

TEST_F(OWStatePinsTest, AValueSetOnOneMemberReachesEveryOther)
{
    auto& a = State(0);
    auto& b = State(0);
    auto& c = State(0);
    ASSERT_TRUE(a.Connect(&b));
    ASSERT_TRUE(c.Connect(&a));
    b.SetValue(11);
    EXPECT_EQ(a.Value(), 11);
    EXPECT_EQ(c.Value(), 11);
}

TEST_F(OWStatePinsTest, WhenOneOfTwoLeavesTheGroupIsDissolved)
{
    auto& a = State(0);
    auto& b = State(0);
    ASSERT_TRUE(a.Connect(&b));
    EXPECT_EQ(TOWStateDispatcher::LiveCount(), FDispatchersBefore + 1);
    b.Disconnect();
    EXPECT_EQ(a.Dispatcher(), nullptr);
    EXPECT_EQ(b.Dispatcher(), nullptr);
    EXPECT_EQ(a.MemberCount(), 0u);
    EXPECT_FALSE(a.HasState());
    EXPECT_EQ(TOWStateDispatcher::LiveCount(), FDispatchersBefore);
    EXPECT_THROW((void)a.Members(0), ERangeError);
}

TEST_F(OWStatePinsTest, DestroyingAMemberOfThreeKeepsTheOthersTogether)
{
    auto& a = State(0);
    auto& b = State(0);
    auto& c = State(0);
    ASSERT_TRUE(a.Connect(&b));
    ASSERT_TRUE(c.Connect(&a));
    FPins.erase(FPins.begin() + 1);
    EXPECT_EQ(a.MemberCount(), 2u);
    EXPECT_EQ(a.Dispatcher(), c.Dispatcher());
    a.SetValue(4);
    EXPECT_EQ(c.Value(), 4);
}

TEST_F(OWStatePinsTest, NotifyPeersWithATargetReachesOnlyThatMemberFlaggedAsTheLast)
{
    auto& a = State(0);
    auto& b = State(0);
    auto& c = State(0);
    ASSERT_TRUE(a.Connect(&b));
    ASSERT_TRUE(c.Connect(&a));
    for (TTestStatePin* pin : {&a, &b, &c})
        pin->Flags.clear();
    EXPECT_TRUE(a.NotifyPeers(MakeRef<TOWSuppliedIntegerOperation>(9), 0, &b));
    EXPECT_EQ(b.Flags, std::vector<std::uint32_t>{kOWLastRecipient});
    EXPECT_TRUE(c.Flags.empty());
    EXPECT_EQ(b.Value(), 9);
    EXPECT_EQ(c.Value(), 0);
}

TEST_F(OWStatePinsTest, WithoutATargetTheLastOtherMemberIsFlaggedAsTheLast)
{
    auto& a = State(0);
    auto& b = State(0);
    auto& c = State(0);
    ASSERT_TRUE(a.Connect(&b));
    ASSERT_TRUE(c.Connect(&a));
    for (TTestStatePin* pin : {&a, &b, &c})
        pin->Flags.clear();
    a.SetValue(1);   // a is first: c, the last member, is the last recipient
    EXPECT_EQ(b.Flags, std::vector<std::uint32_t>{0});
    EXPECT_EQ(c.Flags, std::vector<std::uint32_t>{kOWLastRecipient});
    EXPECT_TRUE(a.Flags.empty());
    b.Flags.clear();
    c.Flags.clear();
    c.SetValue(2);   // c is last itself: b, the one before it, is flagged
    EXPECT_EQ(a.Flags, std::vector<std::uint32_t>{0});
    EXPECT_EQ(b.Flags, std::vector<std::uint32_t>{kOWLastRecipient});
    EXPECT_TRUE(c.Flags.empty());
}

TEST_F(OWStatePinsTest, APinOfAnotherTypeCannotJoinAndEndsInNoGroup)
{
    auto& a = State(0);
    auto& b = State(0);
    ASSERT_TRUE(a.Connect(&b));
    TTestSinkPin stranger(FGen, {kTestTypeA});
    EXPECT_FALSE(stranger.JoinDispatcher(a.Dispatcher()));
    EXPECT_EQ(stranger.Dispatcher(), nullptr);
    EXPECT_FALSE(stranger.Connect(&a));
    EXPECT_EQ(a.MemberCount(), 2u);
    EXPECT_FALSE(a.JoinDispatcher(a.Dispatcher()));
    EXPECT_FALSE(a.JoinDispatcher(nullptr));
}

TEST_F(OWStatePinsTest, ASourceInAGroupSendsEachOperationToTheGroupAsWell)
{
    auto& peer = State(0);
    TTestSourcePin source(FGen, {kTestTypeA, kTestValueType});
    TTestSinkPin sink(FGen, {kTestTypeA});
    ASSERT_TRUE(sink.Connect(&source));
    ASSERT_TRUE(peer.Connect(&source));
    EXPECT_EQ(peer.Dispatcher(), source.Dispatcher());
    EXPECT_TRUE(source.IsConnectedTo(&peer));
    EXPECT_TRUE(source.Notify(MakeRef<TOWSuppliedIntegerOperation>(8)));
    EXPECT_EQ(peer.Value(), 8);
    EXPECT_EQ(sink.Received.size(), 1u);
    source.Disconnect();
    EXPECT_EQ(peer.Dispatcher(), nullptr);
    EXPECT_EQ(sink.GetSourcePin(), nullptr);
}

TEST_F(OWStatePinsTest, ASinkConnectedToAStatePinJoinsItsGroup)
{
    auto& peer = State(0);
    TTestSinkPin sink(FGen, {kTestValueType});
    EXPECT_TRUE(sink.Connect(&peer));
    EXPECT_EQ(sink.Dispatcher(), peer.Dispatcher());
    EXPECT_EQ(sink.GetSourcePin(), nullptr);
    EXPECT_TRUE(sink.IsConnected());
    // Joining brought the group's value as a connection notice.
    ASSERT_EQ(sink.Received.size(), 1u);
    EXPECT_EQ(sink.Received[0].Flags, kOWConnectionNotice | kOWLastRecipient);
    sink.Received.clear();
    peer.SetValue(3);
    ASSERT_EQ(sink.Received.size(), 1u);
    EXPECT_EQ(RefCast<TOWSuppliedIntegerOperation>(sink.Received[0].Operation)->Value(), 3);
}

TEST_F(OWStatePinsTest, PinsJoinAGroupByItsName)
{
    auto& a = State(6);
    auto& b = State(0);
    a.SetStateName("fmMainLink7");
    ASSERT_NE(a.Dispatcher(), nullptr);
    EXPECT_EQ(TOWStateDispatcher::Find("fmMainLink7", false), a.Dispatcher());
    EXPECT_EQ(TOWStateDispatcher::Find("fmMainLink7", true), nullptr);
    b.SetStateName("fmMainLink7");
    EXPECT_EQ(b.Dispatcher(), a.Dispatcher());
    EXPECT_EQ(b.Value(), 6);
}

TEST_F(OWStatePinsTest, DesignTimeAndRunTimeGroupsHaveSeparateNames)
{
    auto& a = State(0);
    auto& b = State(0);
    ASSERT_TRUE(a.Connect(&b));
    auto& designed = CreateComponent<TComponent>(*FForm);
    designed.SetDesigning(true);
    auto& c = State(0, &designed);
    auto& d = State(0, &designed);
    ASSERT_TRUE(c.Connect(&d));
    EXPECT_EQ(c.Dispatcher()->Name(), "fmMainLink1");
    EXPECT_NE(c.Dispatcher(), a.Dispatcher());
    EXPECT_TRUE(c.Dispatcher()->Designing());
    // A designed pin never joins a running group.
    EXPECT_FALSE(c.Connect(&a));
}

TEST_F(OWStatePinsTest, StateProxiesNameMembersAndPendingEntries)
{
    auto& a = State(0);
    auto pinEntry = MakeRef<TOWStateProxy>(a);
    EXPECT_EQ(pinEntry->GetPin(), &a);
    EXPECT_EQ(pinEntry->GetRootName(), "fmMain");
    auto pending = MakeRef<TOWStateProxy>("fmOther.Gen._Pin1", "fmOther.Gen.Pin [1]");
    EXPECT_EQ(pending->GetPin(), nullptr);
    EXPECT_EQ(pending->GetName(), "fmOther.Gen._Pin1");
    EXPECT_EQ(pending->GetDisplayText(), "fmOther.Gen.Pin [1]");
    EXPECT_EQ(pending->GetRootName(), "fmOther");
}

TEST_F(OWStatePinsTest, PendingNamesOfAGroupAreStruckWhenThePinJoins)
{
    auto& a = State(0);
    auto& b = State(0);
    a.SetStateName("fmMainLink3");
    TOWStateDispatcher* group = a.Dispatcher();
    group->AddPendingName("Other", "Other");
    const std::string name = TOWPendingLinks::PinName(&b, false);
    group->AddPendingName(name, name);
    b.SetStateName("fmMainLink3");
    EXPECT_EQ(group->PendingNames(), std::vector<std::string>{"Other"});
    EXPECT_EQ(group->PendingDisplayNames(), std::vector<std::string>{"Other"});
}

TEST_F(OWStatePinsTest, PinsAreNamedDisconnectedOrWithoutOwnerWhereTheyHaveNoName)
{
    TTestStatePin orphan(nullptr, 0);
    EXPECT_EQ(TOWPendingLinks::PinName(nullptr, false), "(Disconnected)");
    EXPECT_EQ(TOWPendingLinks::PinName(&orphan, true), "(No owner)");
    EXPECT_EQ(orphan.RootName(), "");
}

// ---------------------------------------------------------------------------------------------------------

class OWPendingLinksTest : public ::testing::Test
{
};

TEST_F(OWPendingLinksTest, APinCountsAsResolvedOnlyOnceItsOwnerHasLoaded)
{
    auto form = MakeComponent<TTestForm>();
    form->Loading();
    TTestStatePin pin(form.get(), 0);
    EXPECT_FALSE(pin.HasState());
    EXPECT_FALSE(pin.LinksResolved());
    form->Loaded();
    EXPECT_FALSE(pin.HasState());
    EXPECT_TRUE(pin.LinksResolved());
    EXPECT_EQ(TOWPendingLinks::Budget(), 10);
}

TEST_F(OWPendingLinksTest, APassWithNothingPendingLeavesTheBudget)
{
    TOWPendingLinks::ResetBudget();
    for (int i = 0; i < 12; ++i)
        TOWPendingLinks::ResolveAllPending(nullptr);
    EXPECT_EQ(TOWPendingLinks::Budget(), 10);
}

}   // namespace
}   // namespace harvolin
