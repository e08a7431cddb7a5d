#include "pins/OWTypeRegistry.h"
#include "pins/OWStdTypes.h"
#include <atomic>
#include <cstdint>
#include <gtest/gtest.h>
#include <latch>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

constexpr TGUID kTypeA = MakeGuid("{0F1E2D3C-4B5A-4697-8877-665544332211}");
constexpr TGUID kTypeB = MakeGuid("{11223344-5566-4778-8899-AABBCCDDEEFF}");

// What the last handler call received; handlers are plain functions, so the record is shared.
struct THandlerCall
{
    int Calls = 0;
    TOWPin* Sender = nullptr;
    TOWPin* Target = nullptr;
    TGUID TypeGuid{};
    std::uint32_t Flags = 0;
    TOWNotifyOperation* Operation = nullptr;
};
THandlerCall GCall;

bool Record(TOWPin* sender, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
            const TRefPtr<TOWNotifyOperation>& operation)
{
    GCall = {GCall.Calls + 1, sender, target, typeGuid, flags, operation.Get()};
    return true;
}

bool Refuse(TOWPin*, TOWPin*, const TGUID&, std::uint32_t, const TRefPtr<TOWNotifyOperation>&)
{
    ++GCall.Calls;
    return false;
}

bool Fail(TOWPin*, TOWPin*, const TGUID&, std::uint32_t, const TRefPtr<TOWNotifyOperation>&)
{
    throw std::runtime_error("handler failed");
}

class OWTypeRegistryTest : public ::testing::Test
{
protected:
    void SetUp() override { GCall = {}; }

    bool Deliver(const TGUID& typeGuid, std::uint32_t flags = kOWLastRecipient)
    {
        return FRegistry.DefaultHandler(Sender(), Target(), typeGuid, flags, FOperation);
    }
    // Pins are only passed through, never dereferenced: any two distinct addresses serve.
    TOWPin* Sender() { return reinterpret_cast<TOWPin*>(&FSenderPin); }
    TOWPin* Target() { return reinterpret_cast<TOWPin*>(&FTargetPin); }

    TOWTypeRegistry FRegistry;
    TRefPtr<TOWNotifyOperation> FOperation = MakeRef<TOWStopOperation>();
    alignas(16) unsigned char FSenderPin[16] = {};
    alignas(16) unsigned char FTargetPin[16] = {};
};

TEST_F(OWTypeRegistryTest, RegisteringANameKeepsTheHandlerAndTheSingleRecord)
{
    FRegistry.RegisterTypeHandler(kTypeA, Record);
    FRegistry.RegisterTypeName(kTypeA, "Alpha");
    EXPECT_EQ(FRegistry.Records(), (std::vector<TOWTypeRecord>{{kTypeA, "Alpha", Record}}));
}

TEST_F(OWTypeRegistryTest, RegisteringAHandlerKeepsTheName)
{
    FRegistry.RegisterTypeName(kTypeA, "Alpha");
    FRegistry.RegisterTypeHandler(kTypeA, Record);
    FRegistry.RegisterTypeHandler(kTypeA, Refuse);
    EXPECT_EQ(FRegistry.Records(), (std::vector<TOWTypeRecord>{{kTypeA, "Alpha", Refuse}}));
}

TEST_F(OWTypeRegistryTest, ALaterRegistrationReplacesThePartItSets)
{
    FRegistry.RegisterTypeName(kTypeA, "Alpha");
    FRegistry.RegisterTypeName(kTypeB, "Beta");
    FRegistry.RegisterTypeName(kTypeA, "First");
    FRegistry.RegisterTypeHandler(kTypeB, Record);
    FRegistry.RegisterTypeHandler(kTypeB, nullptr);
    EXPECT_EQ(FRegistry.Records(),
              (std::vector<TOWTypeRecord>{{kTypeA, "First", nullptr}, {kTypeB, "Beta", nullptr}}));
    EXPECT_FALSE(Deliver(kTypeB));
    EXPECT_EQ(GCall.Calls, 0);
}

TEST_F(OWTypeRegistryTest, UnknownTypesHaveNoNameAndNoHandlerAndAreNotDelivered)
{
    FRegistry.RegisterTypeName(kTypeA, "Alpha");
    EXPECT_EQ(FRegistry.TypeName(kTypeB), "");
    EXPECT_EQ(FRegistry.TypeHandler(kTypeB), nullptr);
    EXPECT_FALSE(Deliver(kTypeB));
    EXPECT_FALSE(Deliver(kTypeA));   // a record without a handler
    EXPECT_EQ(GCall.Calls, 0);
    EXPECT_EQ(FRegistry.Records().size(), 1u);
}

TEST_F(OWTypeRegistryTest, DefaultHandlerPassesItsArgumentsAndReturnsTheHandlersResult)
{
    FRegistry.RegisterTypeHandler(kTypeA, Record);
    FRegistry.RegisterTypeHandler(kTypeB, Refuse);
    EXPECT_TRUE(Deliver(kTypeA, kOWConnectionNotice | kOWLastRecipient));
    EXPECT_EQ(GCall.Calls, 1);
    EXPECT_EQ(GCall.Sender, Sender());
    EXPECT_EQ(GCall.Target, Target());
    EXPECT_EQ(GCall.TypeGuid, kTypeA);
    EXPECT_EQ(GCall.Flags, 3u);
    EXPECT_EQ(GCall.Operation, FOperation.Get());
    EXPECT_FALSE(Deliver(kTypeB));
    EXPECT_EQ(GCall.Calls, 2);
}

TEST_F(OWTypeRegistryTest, DeliveriesFollowEveryLaterRegistrationOfAnyRegistry)
{
    // Deliveries remember the handler they found: a change must still reach the very next one, also when
    // it replaces or removes the handler, and a registry made where a gone one lived knows nothing of it.
    FRegistry.RegisterTypeHandler(kTypeA, Record);
    EXPECT_TRUE(Deliver(kTypeA));
    EXPECT_TRUE(Deliver(kTypeA));
    FRegistry.RegisterTypeHandler(kTypeA, Refuse);   // counts the call too, and refuses
    EXPECT_FALSE(Deliver(kTypeA));
    EXPECT_EQ(GCall.Calls, 3);
    FRegistry.RegisterTypeHandler(kTypeA, Record);
    EXPECT_TRUE(Deliver(kTypeA));
    FRegistry.RegisterTypeHandler(kTypeA, nullptr);
    EXPECT_FALSE(Deliver(kTypeA));
    EXPECT_EQ(GCall.Calls, 4);
    for (int round = 0; round < 4; ++round)
    {
        auto other = std::make_unique<TOWTypeRegistry>();
        if (round % 2 == 0)
            other->RegisterTypeHandler(kTypeB, Record);
        const int before = GCall.Calls;
        EXPECT_EQ(other->DefaultHandler(Sender(), Target(), kTypeB, kOWLastRecipient, FOperation),
                  round % 2 == 0);
        EXPECT_EQ(GCall.Calls, before + (round % 2 == 0 ? 1 : 0));
    }
}

TEST_F(OWTypeRegistryTest, ExceptionsOfTheHandlerReachTheCaller)
{
    FRegistry.RegisterTypeHandler(kTypeA, Fail);
    EXPECT_THROW(Deliver(kTypeA), std::runtime_error);
    FRegistry.RegisterTypeHandler(kTypeA, Record);   // the registry is still usable afterwards
    EXPECT_TRUE(Deliver(kTypeA));
}

TEST_F(OWTypeRegistryTest, TheNullTypeIsRefusedAndNothingIsLost)
{
    FRegistry.RegisterTypeName(kTypeA, "Alpha");
    EXPECT_THROW(FRegistry.RegisterTypeName(kNullGuid, "Nothing"), std::invalid_argument);
    EXPECT_THROW(FRegistry.RegisterTypeHandler(kNullGuid, Record), std::invalid_argument);
    EXPECT_EQ(FRegistry.Records(), (std::vector<TOWTypeRecord>{{kTypeA, "Alpha", nullptr}}));
    EXPECT_FALSE(Deliver(kNullGuid));
}

TEST_F(OWTypeRegistryTest, RegisteringTheStandardTypesAgainAddsNoRecord)
{
    RegisterStandardTypes(FRegistry);
    const auto once = FRegistry.Records();
    RegisterStandardTypes(FRegistry);
    EXPECT_EQ(FRegistry.Records(), once);
    EXPECT_EQ(once.size(), 8u);
}

TEST_F(OWTypeRegistryTest, TheProcessRegistryStartsWithTheStandardTypesInOrder)
{
    const std::vector<TOWTypeRecord> standard{
        {kOWIntegerSingleType, "Integer single", nullptr},
        {kOWFloatSingleType, "Float single", nullptr},
        {kOWRealSingleType, "Real single", nullptr},
        {kOWRealComplexSingleType, "Real Complex single", nullptr},
        {kOWBooleanSingleType, "Boolean single", nullptr},
        {kOWCharacterSingleType, "Character single", nullptr},
        {kOWStringSingleType, "Sting", nullptr},
        {kOWClockType, "", OWClockInterfaceHandler},
    };
    const auto records = TypeRegistry().Records();
    ASSERT_GE(records.size(), standard.size());
    EXPECT_EQ(std::vector<TOWTypeRecord>(records.begin(), records.begin() + 8), standard);
    EXPECT_EQ(TypeRegistry().TypeName(MakeGuid("{25C048B4-89D4-4277-AA98-A835EB29F5C1}")), "Sting");
}

TEST_F(OWTypeRegistryTest, TheProcessWideFunctionsUseTheProcessRegistry)
{
    constexpr TGUID kProcessType = MakeGuid("{9A8B7C6D-5E4F-4A3B-9C2D-1E0F9A8B7C6D}");
    RegisterTypeName(kProcessType, "Process type");
    RegisterTypeHandler(kProcessType, Record);
    EXPECT_EQ(TypeRegistry().TypeName(kProcessType), "Process type");
    EXPECT_TRUE(DefaultHandler(Sender(), Target(), kProcessType, kOWLastRecipient, FOperation));
    EXPECT_EQ(GCall.Calls, 1);
    EXPECT_FALSE(DefaultHandler(Sender(), Target(), kTypeA, kOWLastRecipient, FOperation));
}

class OWTypeRegistryConcurrencyTest : public OWTypeRegistryTest
{
};

TEST_F(OWTypeRegistryConcurrencyTest, LookupsDuringRegistrationSeeWholeRecords)
{
    constexpr int kTypes = 200;
    constexpr int kReaders = 3;
    auto typeOf = [](int i)
    {
        TGUID guid = kTypeA;
        guid.D1 = static_cast<std::uint32_t>(i + 1);
        return guid;
    };
    std::latch start(kReaders + 1);
    std::atomic<int> torn{0};
    {
        std::vector<std::jthread> threads;
        threads.emplace_back(
            [&]
            {
                start.arrive_and_wait();
                for (int i = 0; i < kTypes; ++i)
                    FRegistry.RegisterTypeName(typeOf(i), "type " + std::to_string(i));
            });
        for (int r = 0; r < kReaders; ++r)
            threads.emplace_back(
                [&]
                {
                    start.arrive_and_wait();
                    for (int i = 0; i < kTypes; ++i)
                    {
                        std::string name = FRegistry.TypeName(typeOf(i));
                        if (!name.empty() && name != "type " + std::to_string(i))
                            ++torn;
                    }
                });
    }
    EXPECT_EQ(torn.load(), 0);
    ASSERT_EQ(FRegistry.Records().size(), static_cast<std::size_t>(kTypes));
    EXPECT_EQ(FRegistry.TypeName(typeOf(kTypes - 1)), "type 199");
}

}   // namespace
}   // namespace harvolin
