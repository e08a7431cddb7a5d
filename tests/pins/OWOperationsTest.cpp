#include "pins/OWOperations.h"
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <latch>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

// Stand-ins for descendants that other units add to the tree, and a probe of the operation's lifetime.
class TTestSuppliedBufferOperation final : public TOWSuppliedOperation
{
};

class TTestStartSampleRateOperation final : public TOWStartRateOperation
{
public:
    TTestStartSampleRateOperation() : TOWStartRateOperation(100.0f) {}
};

class TTestCountedOperation final : public TOWStartOperation
{
public:
    explicit TTestCountedOperation(int& destroyed) : FDestroyed(destroyed) {}
    ~TTestCountedOperation() override { ++FDestroyed; }
private:
    int& FDestroyed;
};

class OWOperationsTest : public ::testing::Test
{
protected:
    int FDestroyed = 0;
};

TEST_F(OWOperationsTest, OperationsCreatedOneAfterTheOtherHaveConsecutiveSerialNumbers)
{
    auto first = MakeRef<TOWNotifyOperation>();
    auto second = MakeRef<TOWStopOperation>();
    auto third = MakeRef<TOWSuppliedSingleOperation>(1.5f);
    EXPECT_NE(first->SerialNumber(), 0u);
    EXPECT_EQ(second->SerialNumber(), first->SerialNumber() + 1);
    EXPECT_EQ(third->SerialNumber(), first->SerialNumber() + 2);
}

TEST_F(OWOperationsTest, RecipientsReachTheOperationThroughItsInterface)
{
    TRefPtr<TOWNotifyOperation> operation = MakeRef<TOWStopOperation>();
    TRefPtr<IOWNotifyOperation> received = operation;
    ASSERT_EQ(received->GetOperation(), operation.Get());
    EXPECT_TRUE(Is<TOWStopOperation>(*received->GetOperation()));
    EXPECT_FALSE(Is<TOWStartOperation>(*received->GetOperation()));
}

TEST_F(OWOperationsTest, ClassTestsKeepTheirAnswerForEveryClassWhateverTheOrderTheyMeetThem)
{
    // More classes than a test remembers, met again and again in changing order: a remembered answer must
    // belong to the class asked about, never to the one met before it (a test once answered for the
    // operation's static class, which made every class a start or none).
    int destroyed = 0;
    const std::vector<TRefPtr<TOWNotifyOperation>> operations = {
        MakeRef<TOWNotifyOperation>(),
        MakeRef<TOWClockOperation>(),
        MakeRef<TOWSuppliedOperation>(),
        MakeRef<TOWSuppliedMulticastOperation>(),
        MakeRef<TOWSuppliedSingleOperation>(1.0f),
        MakeRef<TOWSuppliedBoolOperation>(true),
        MakeRef<TOWSuppliedIntegerOperation>(1),
        MakeRef<TOWMasterPumpOperation>(nullptr),
        MakeRef<TOWPumpRequestOperation>(nullptr, 1.0f, 0, TOWPumpRequestOperation::kRequested),
        MakeRef<TOWStartOperation>(),
        MakeRef<TOWStartRateOperation>(1.0f),
        MakeRef<TOWStopOperation>(),
        MakeRef<TTestSuppliedBufferOperation>(),
        MakeRef<TTestStartSampleRateOperation>(),
        MakeRef<TTestCountedOperation>(destroyed),
    };
    auto check = [](const TRefPtr<TOWNotifyOperation>& operation)
    {
        const TOWNotifyOperation* object = operation.Get();
        EXPECT_EQ(Is<TOWStartOperation>(*operation),
                  dynamic_cast<const TOWStartOperation*>(object) != nullptr);
        EXPECT_EQ(Is<TOWClockOperation>(*operation),
                  dynamic_cast<const TOWClockOperation*>(object) != nullptr);
        EXPECT_EQ(Is<TOWStopOperation>(*operation), dynamic_cast<const TOWStopOperation*>(object) != nullptr);
        EXPECT_EQ(Is<TOWNotifyOperation>(*operation), true);
        EXPECT_EQ(RefCast<TOWStartRateOperation>(operation).Get(),
                  dynamic_cast<const TOWStartRateOperation*>(object));
        EXPECT_EQ(RefCast<TTestSuppliedBufferOperation>(operation).Get(),
                  dynamic_cast<const TTestSuppliedBufferOperation*>(object));
    };
    for (int round = 0; round < 3; ++round)
    {
        for (const auto& operation : operations)
            check(operation);
        for (auto it = operations.rbegin(); it != operations.rend(); ++it)
            check(*it);
        for (std::size_t i = 0; i < operations.size(); ++i)
            check(operations[(i * 7) % operations.size()]);
    }
    EXPECT_FALSE(RefCast<TOWStopOperation>(TRefPtr<TOWNotifyOperation>()));
}

TEST_F(OWOperationsTest, LastReleaseFreesTheOperation)
{
    TRefPtr<TOWNotifyOperation> sender = MakeRef<TTestCountedOperation>(FDestroyed);
    TRefPtr<TOWNotifyOperation> kept = sender;   // as a recipient keeps the last start operation
    sender.Reset();
    EXPECT_EQ(FDestroyed, 0);
    kept.Reset();
    EXPECT_EQ(FDestroyed, 1);
}

TEST_F(OWOperationsTest, OperationIsFreedWhileAnExceptionUnwinds)
{
    auto deliver = [this]
    {
        TRefPtr<TOWNotifyOperation> operation = MakeRef<TTestCountedOperation>(FDestroyed);
        throw std::runtime_error("recipient failed");
    };
    EXPECT_THROW(deliver(), std::runtime_error);
    EXPECT_EQ(FDestroyed, 1);
}

TEST_F(OWOperationsTest, RefCastGivesTheOperationAsItsClassOrNull)
{
    TRefPtr<TOWNotifyOperation> operation = MakeRef<TOWSuppliedIntegerOperation>(-7);
    auto integer = RefCast<TOWSuppliedIntegerOperation>(operation);
    ASSERT_TRUE(integer);
    EXPECT_EQ(integer->Value(), -7);
    EXPECT_EQ(operation->RefCount(), 2);
    EXPECT_FALSE(RefCast<TOWSuppliedSingleOperation>(operation));
}

// Which classes of the tree an operation belongs to.
struct TClassCase
{
    std::string Name;
    std::function<TRefPtr<TOWNotifyOperation>()> Make;
    bool Clock, Supplied, Start, StartRate, Stop, MasterPump, PumpRequest;
};

void PrintTo(const TClassCase& c, std::ostream* stream)
{
    *stream << c.Name;
}

class OWOperationsClassTest : public OWOperationsTest, public ::testing::WithParamInterface<TClassCase>
{
};

TEST_P(OWOperationsClassTest, ClassTestsFollowTheInheritanceOfTheTree)
{
    const TClassCase& c = GetParam();
    TRefPtr<TOWNotifyOperation> operation = c.Make();
    EXPECT_TRUE(Is<TOWNotifyOperation>(*operation));
    EXPECT_EQ(Is<TOWClockOperation>(*operation), c.Clock);
    EXPECT_EQ(Is<TOWSuppliedOperation>(*operation), c.Supplied);
    EXPECT_EQ(Is<TOWStartOperation>(*operation), c.Start);
    EXPECT_EQ(Is<TOWStartRateOperation>(*operation), c.StartRate);
    EXPECT_EQ(Is<TOWStopOperation>(*operation), c.Stop);
    EXPECT_EQ(Is<TOWMasterPumpOperation>(*operation), c.MasterPump);
    EXPECT_EQ(Is<TOWPumpRequestOperation>(*operation), c.PumpRequest);
}

template <class T, class... A>
std::function<TRefPtr<TOWNotifyOperation>()> Maker(A... args)
{
    return [=] { return TRefPtr<TOWNotifyOperation>(MakeRef<T>(args...)); };
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Tree, OWOperationsClassTest, ::testing::Values(
    //                                                                   Clock  Suppl  Start  SRate  Stop   Master Pump
    TClassCase{"Plain", Maker<TOWNotifyOperation>(),                     false, false, false, false, false, false, false},
    TClassCase{"Clock", Maker<TOWClockOperation>(),                      true,  false, false, false, false, false, false},
    TClassCase{"Supplied", Maker<TOWSuppliedOperation>(),                true,  true,  false, false, false, false, false},
    TClassCase{"Multicast", Maker<TOWSuppliedMulticastOperation>(),      true,  true,  false, false, false, false, false},
    TClassCase{"Single", Maker<TOWSuppliedSingleOperation>(2.5f),        true,  true,  false, false, false, false, false},
    TClassCase{"Bool", Maker<TOWSuppliedBoolOperation>(true),            true,  true,  false, false, false, false, false},
    TClassCase{"Integer", Maker<TOWSuppliedIntegerOperation>(3),         true,  true,  false, false, false, false, false},
    TClassCase{"Buffer", Maker<TTestSuppliedBufferOperation>(),          true,  true,  false, false, false, false, false},
    TClassCase{"MasterPump", Maker<TOWMasterPumpOperation>(nullptr),     false, false, false, false, false, true,  false},
    TClassCase{"PumpRequest",
               Maker<TOWPumpRequestOperation>(nullptr, 1.0f, 0, std::uint8_t{2}),
                                                                         false, false, false, false, false, false, true},
    TClassCase{"Start", Maker<TOWStartOperation>(),                      false, false, true,  false, false, false, false},
    TClassCase{"StartRate", Maker<TOWStartRateOperation>(48000.0f),      false, false, true,  true,  false, false, false},
    TClassCase{"StartSampleRate", Maker<TTestStartSampleRateOperation>(),false, false, true,  true,  false, false, false},
    TClassCase{"Stop", Maker<TOWStopOperation>(),                        false, false, false, false, true,  false, false}),
    [](const ::testing::TestParamInfo<TClassCase>& param) { return param.param.Name; });
// clang-format on

// A claim on a pump request, and what the request says afterwards.
struct TClaimCase
{
    std::string Name;
    std::uint8_t ClaimLevel;
    std::int32_t RequestPriority;
    std::int32_t RecipientPriority;
    bool Claimed;
};

void PrintTo(const TClaimCase& c, std::ostream* stream)
{
    *stream << c.Name;
}

class OWOperationsClaimTest : public OWOperationsTest, public ::testing::WithParamInterface<TClaimCase>
{
protected:
    const int FSource = 0;
    const int FEarlierClaimant = 0;
    const int FRecipient = 0;
};

TEST_P(OWOperationsClaimTest, ARecipientClaimsThePumpUnlessAClaimOfNoLowerPriorityStands)
{
    const TClaimCase& c = GetParam();
    const void* holder = c.ClaimLevel == TOWPumpRequestOperation::kClaimed ? &FEarlierClaimant : &FSource;
    auto request = MakeRef<TOWPumpRequestOperation>(holder, 97.65625f, c.RequestPriority, c.ClaimLevel);
    EXPECT_EQ(request->TryClaim(&FRecipient, c.RecipientPriority), c.Claimed);
    EXPECT_EQ(request->Claimant(), c.Claimed ? &FRecipient : holder);
    EXPECT_EQ(request->PumpPriority(), c.Claimed ? c.RecipientPriority : c.RequestPriority);
    EXPECT_EQ(request->ClaimLevel(), c.Claimed ? TOWPumpRequestOperation::kClaimed : c.ClaimLevel);
    EXPECT_EQ(request->BlockRate(), 97.65625f);
}

INSTANTIATE_TEST_SUITE_P(Claims, OWOperationsClaimTest,
                         ::testing::Values(TClaimCase{"UnclaimedWithHigherPriority", 2, 10, 1, true},
                                           TClaimCase{"ClaimedWithLowerPriority", 3, 1, 2, true},
                                           TClaimCase{"ClaimedWithEqualPriority", 3, 2, 2, false},
                                           TClaimCase{"ClaimedWithHigherPriority", 3, 5, 2, false}),
                         [](const ::testing::TestParamInfo<TClaimCase>& param) { return param.param.Name; });

class OWOperationsConcurrencyTest : public OWOperationsTest
{
};

TEST_F(OWOperationsConcurrencyTest, SerialNumbersStayUniqueAcrossThreads)
{
    constexpr int kThreads = 8;
    constexpr int kPerThread = 2000;
    std::vector<std::vector<std::uint32_t>> serials(kThreads);
    std::latch start(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back(
                [&, t]
                {
                    serials[t].reserve(kPerThread);
                    start.arrive_and_wait();
                    for (int i = 0; i < kPerThread; ++i)
                        serials[t].push_back(MakeRef<TOWClockOperation>()->SerialNumber());
                });
    }
    std::set<std::uint32_t> all;
    for (const auto& own : serials)
    {
        ASSERT_EQ(own.size(), static_cast<std::size_t>(kPerThread));
        for (std::size_t i = 1; i < own.size(); ++i)
            EXPECT_LT(own[i - 1], own[i]);
        all.insert(own.begin(), own.end());
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kPerThread));
}

}   // namespace
}   // namespace harvolin
