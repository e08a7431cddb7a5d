#include "buffers/SLSimpleDataBuffer.h"
#include "buffers/SLDataBufferAccess.h"
#include "rtl/Exceptions.h"
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <limits>
#include <numbers>
#include <ostream>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

// Every test must give back to the pool what it took: the storage blocks, their areas and the handles.
class SLSimpleDataBufferTest : public ::testing::Test
{
protected:
    void SetUp() override { FBaseline = SmartBufferManager().BlocksInUse(); }
    void TearDown() override
    {
        EXPECT_EQ(SmartBufferManager().BlocksInUse(), FBaseline) << "pool blocks leaked";
    }

    static TRefPtr<TSLRealBuffer> MakeReal(std::initializer_list<double> values)
    {
        auto buffer = MakeRef<TSLRealBuffer>(static_cast<std::uint32_t>(values.size()));
        std::int32_t i = 0;
        for (double value : values)
            buffer->SetItem(i++, value);
        return buffer;
    }

    static std::vector<double> Items(const TSLRealBuffer& buffer)
    {
        return std::vector<double>(buffer.GetRead(), buffer.GetRead() + buffer.GetSize());
    }

    static std::string RangeMessage(const std::function<void()>& call)
    {
        try
        {
            call();
        }
        catch (const ERangeError& error)
        {
            return error.Message();
        }
        return "no range error";
    }

    std::int64_t FBaseline = 0;
};

using TDoubles = std::vector<double>;

TEST_F(SLSimpleDataBufferTest, CloneSharesTheStorageAsAFurtherOwner)
{
    auto original = MakeReal({1, 2});
    auto clone = CloneBuffer(*original);
    EXPECT_EQ(clone->Storage(), original->Storage());
    EXPECT_EQ(original->Storage()->OwnerCount(), 2);
    EXPECT_EQ(original->Storage()->HolderCount(), 2);
    EXPECT_EQ(Items(*clone), (TDoubles{1, 2}));
}

TEST_F(SLSimpleDataBufferTest, ModifyingACloneGivesItAPrivateCopyWithTheContents)
{
    auto original = MakeReal({0.25, 0.5, 0.75});
    auto clone = CloneBuffer(*original);
    clone->GetModify()[0] = 1.0;
    EXPECT_NE(clone->Storage(), original->Storage());
    EXPECT_EQ(Items(*clone), (TDoubles{1.0, 0.5, 0.75}));
    EXPECT_EQ(Items(*original), (TDoubles{0.25, 0.5, 0.75}));
    EXPECT_EQ(original->Storage()->OwnerCount(), 1);
}

TEST_F(SLSimpleDataBufferTest, WritingTheFirstHandleOfASharedPairDoesNotCopyTheContents)
{
    auto original = MakeReal({1, 2, 3, 4});
    auto clone = CloneBuffer(*original);
    // The new area comes from the pool last in, first out: seed it with a marked block of the same size.
    void* seeded = SmartBufferGet(original->AllocatedSize());
    std::memset(seeded, 0x7F, original->AllocatedSize());
    SmartBufferPut(seeded, original->AllocatedSize());

    double* written = original->GetWrite();
    EXPECT_EQ(static_cast<void*>(written), seeded);
    EXPECT_EQ(original->AllocatedSize(), clone->AllocatedSize());
    std::uint8_t firstByte = 0;
    std::memcpy(&firstByte, written, 1);
    EXPECT_EQ(firstByte, 0x7F);
    EXPECT_EQ(Items(*clone), (TDoubles{1, 2, 3, 4}));
}

TEST_F(SLSimpleDataBufferTest, WritingAnUnsharedBufferWritesInPlace)
{
    auto buffer = MakeReal({1, 2});
    TSLSmartBuffer* storage = buffer->Storage();
    buffer->Fill(7);
    buffer->SetItem(1, 8);
    EXPECT_EQ(buffer->Storage(), storage);
    EXPECT_EQ(Items(*buffer), (TDoubles{7, 8}));
}

TEST_F(SLSimpleDataBufferTest, AfterDropOwnershipTheOwnerWritesInPlaceAndTheHandleSeesIt)
{
    auto owner = MakeReal({1, 2});
    auto reader = CloneBuffer(*owner);
    reader->DropOwnership();
    reader->DropOwnership();
    EXPECT_EQ(owner->Storage()->OwnerCount(), 1);
    EXPECT_EQ(owner->Storage()->HolderCount(), 2);
    owner->SetItem(0, 5);
    EXPECT_EQ(owner->Storage(), reader->Storage());
    EXPECT_EQ(reader->GetItem(0), 5);
}

TEST_F(SLSimpleDataBufferTest, SetSizeOfZeroOrTheCurrentSizeChangesNothing)
{
    auto buffer = MakeReal({1, 2, 3});
    TSLSmartBuffer* storage = buffer->Storage();
    buffer->SetSize(0, false);
    buffer->SetSize(3, false);
    EXPECT_EQ(buffer->GetSize(), 3u);
    EXPECT_EQ(buffer->Storage(), storage);
    EXPECT_EQ(Items(*buffer), (TDoubles{1, 2, 3}));
}

TEST_F(SLSimpleDataBufferTest, ShrinkingKeepsTheStorageAlsoWhenShared)
{
    auto buffer = MakeReal({1, 2, 3});
    auto clone = CloneBuffer(*buffer);
    buffer->SetSize(2, false);
    EXPECT_EQ(buffer->Storage(), clone->Storage());
    EXPECT_EQ(buffer->GetSize(), 2u);
    EXPECT_EQ(buffer->GetByteSize(), 16u);
    EXPECT_EQ(clone->GetSize(), 3u);
}

TEST_F(SLSimpleDataBufferTest, GrowingWithinTheAllocationOfExclusiveStorageKeepsStorageAndContents)
{
    auto buffer = MakeReal({1, 2, 3});   // 24 bytes in a 32-byte block
    TSLSmartBuffer* storage = buffer->Storage();
    buffer->SetSize(4, false);
    EXPECT_EQ(buffer->Storage(), storage);
    EXPECT_EQ(buffer->GetSize(), 4u);
    EXPECT_EQ(buffer->GetItem(2), 3);
}

TEST_F(SLSimpleDataBufferTest, GrowingBeyondTheAllocationMovesToLargerStorage)
{
    auto buffer = MakeReal({1, 2, 3});
    TSLSmartBuffer* storage = buffer->Storage();
    buffer->SetSize(10, true);
    EXPECT_NE(buffer->Storage(), storage);
    EXPECT_EQ(buffer->GetSize(), 10u);
    EXPECT_EQ(buffer->AllocatedSize(), 128u);
    EXPECT_EQ(buffer->GetItem(0), 1);
    EXPECT_EQ(buffer->GetItem(2), 3);
}

TEST_F(SLSimpleDataBufferTest, GrowingSharedStorageLeavesTheOtherHandleAlone)
{
    auto buffer = MakeReal({1, 2, 3});
    auto clone = CloneBuffer(*buffer);
    buffer->SetSize(4, true);
    EXPECT_NE(buffer->Storage(), clone->Storage());
    EXPECT_EQ(buffer->GetItem(1), 2);
    EXPECT_EQ(clone->GetSize(), 3u);
    EXPECT_EQ(clone->Storage()->OwnerCount(), 1);
}

TEST_F(SLSimpleDataBufferTest, GrowingPastTheLargestBlockIsRefusedAndLosesNothing)
{
    auto buffer = MakeReal({1, 2});
    TSLSmartBuffer* storage = buffer->Storage();
    EXPECT_THROW(buffer->SetSize((1u << 27) + 1, true), ERangeError);
    EXPECT_EQ(buffer->Storage(), storage);
    EXPECT_EQ(Items(*buffer), (TDoubles{1, 2}));
}

TEST_F(SLSimpleDataBufferTest, ABufferAboveTheLargestBlockIsRefused)
{
    EXPECT_THROW((void)MakeRef<TSLComplexBuffer>((1u << 26) + 1), ERangeError);
}

TEST_F(SLSimpleDataBufferTest, AssignSharesTheSourceStorageAndFreesTheOldOne)
{
    auto target = MakeReal({9});
    auto source = MakeReal({1, 2, 3});
    const std::int64_t before = SmartBufferManager().BlocksInUse();
    target->Assign(*source);
    EXPECT_EQ(target->Storage(), source->Storage());
    EXPECT_EQ(Items(*target), (TDoubles{1, 2, 3}));
    EXPECT_EQ(source->Storage()->OwnerCount(), 2);
    EXPECT_EQ(SmartBufferManager().BlocksInUse(), before - 2);   // the old area and its storage object
}

TEST_F(SLSimpleDataBufferTest, AssignBetweenHandlesSharingStorageTakesTheSize)
{
    auto source = MakeReal({1, 2, 3});
    auto target = CloneBuffer(*source);
    target->SetSize(1, false);
    target->Assign(*source);
    EXPECT_EQ(target->GetSize(), 3u);
    EXPECT_EQ(source->Storage()->OwnerCount(), 2);
    EXPECT_EQ(source->Storage()->HolderCount(), 2);
}

TEST_F(SLSimpleDataBufferTest, AssignedHandlesCopyOnWrite)
{
    auto target = MakeReal({0});
    auto source = MakeReal({1, 2});
    target->Assign(*source);
    target->SetItem(0, 5);
    EXPECT_EQ(source->GetItem(0), 1);
    EXPECT_EQ(target->GetItem(0), 5);
}

TEST_F(SLSimpleDataBufferTest, AssignOfBytesThatAreNoWholeNumberOfElementsIsRefused)
{
    auto target = MakeReal({4});
    auto source = MakeRef<TSLBlockBuffer>(5);
    EXPECT_EQ(RangeMessage([&] { target->Assign(*source); }),
              "real buffer: cannot take over 5 bytes, not a whole number of 8-byte elements");
    EXPECT_EQ(Items(*target), (TDoubles{4}));
    EXPECT_THROW(TSLRealBuffer{*source}, ERangeError);
}

TEST_F(SLSimpleDataBufferTest, ARealBufferMadeFromAnInterfaceSharesItsStorage)
{
    auto source = MakeReal({1, 2});
    ISLDataBuffer& data = *source;
    const auto shared = MakeRef<TSLRealBuffer>(static_cast<ISLBufferCore&>(data));
    EXPECT_EQ(shared->Storage(), source->Storage());
    EXPECT_EQ(shared->GetSize(), 2u);
}

TEST_F(SLSimpleDataBufferTest, CopyToBetweenRealBuffersCountsElements)
{
    auto source = MakeReal({1, 2, 3, 4});
    auto target = MakeReal({0, 0, 0, 0, 0});
    source->CopyTo(1, *target, 2, 3);
    EXPECT_EQ(Items(*target), (TDoubles{0, 0, 0, 2, 3}));
}

TEST_F(SLSimpleDataBufferTest, CopyToBetweenIntegerAndComplexBuffersCountsElements)
{
    auto integers = MakeRef<TSLIntegerBuffer>(3);
    integers->SetItem(2, -7);
    auto integerTarget = MakeRef<TSLIntegerBuffer>(2);
    integers->CopyTo(2, *integerTarget, 1, 1);
    EXPECT_EQ(integerTarget->GetItem(1), -7);

    auto complex = MakeRef<TSLComplexBuffer>(2);
    complex->SetItem(1, {1.5, -2.5});
    auto complexTarget = MakeRef<TSLComplexBuffer>(2);
    complex->CopyTo(1, *complexTarget, 1, 0);
    EXPECT_EQ(complexTarget->GetItem(0).Re, 1.5);
    EXPECT_EQ(complexTarget->GetItem(0).Im, -2.5);
}

TEST_F(SLSimpleDataBufferTest, CopyToAnotherClassCountsBytes)
{
    auto source = MakeReal({1.0});
    auto bytes = MakeRef<TSLBlockBuffer>(8);
    source->CopyTo(0, *bytes, 8, 0);
    double copied = 0;
    std::memcpy(&copied, bytes->GetRead(), sizeof copied);
    EXPECT_EQ(copied, 1.0);
}

TEST_F(SLSimpleDataBufferTest, CopyToPastEitherBufferIsRefusedAndWritesNothing)
{
    auto source = MakeReal({1, 2, 3});
    auto target = MakeReal({0, 0});
    EXPECT_EQ(RangeMessage([&] { source->CopyTo(2, *target, 2, 0); }),
              "real buffer: CopyTo of 2 from 2 of 3 to 0 of 2 is out of range");
    EXPECT_THROW(source->CopyTo(0, *target, 2, 1), ERangeError);
    EXPECT_THROW(source->CopyTo(0xFFFFFFFFu, *target, 2, 0), ERangeError);
    EXPECT_EQ(Items(*target), (TDoubles{0, 0}));
}

TEST_F(SLSimpleDataBufferTest, CopyToAHandleSharingTheStorageGivesThatHandleItsOwnCopy)
{
    auto source = MakeReal({1, 2, 3});
    auto target = CloneBuffer(*source);
    source->CopyTo(0, *target, 1, 2);
    EXPECT_EQ(Items(*target), (TDoubles{1, 2, 1}));
    EXPECT_EQ(Items(*source), (TDoubles{1, 2, 3}));
}

struct TIndexCase
{
    const char* Name;
    std::int32_t Index;
    const char* Message;
};

void PrintTo(const TIndexCase& c, std::ostream* os)
{
    *os << c.Name;
}

class SLSimpleDataBufferIndexTest : public SLSimpleDataBufferTest,
                                    public ::testing::WithParamInterface<TIndexCase>
{
};

TEST_P(SLSimpleDataBufferIndexTest, ElementAccessOutsideTheBufferRaisesTheRangeErrorAndChangesNothing)
{
    const TIndexCase& c = GetParam();
    auto real = MakeReal({1, 2, 3});
    auto integer = MakeRef<TSLIntegerBuffer>(3);
    integer->Fill(4);
    auto complex = MakeRef<TSLComplexBuffer>(3);
    complex->Fill(5, 6);
    EXPECT_EQ(RangeMessage([&] { (void)real->GetItem(c.Index); }), c.Message);
    EXPECT_EQ(RangeMessage([&] { real->SetItem(c.Index, 9); }), c.Message);
    EXPECT_EQ(RangeMessage([&] { (void)integer->GetItem(c.Index); }), c.Message);
    EXPECT_EQ(RangeMessage([&] { integer->SetItem(c.Index, 9); }), c.Message);
    EXPECT_EQ(RangeMessage([&] { (void)complex->GetItem(c.Index); }), c.Message);
    EXPECT_EQ(RangeMessage([&] { complex->SetItem(c.Index, {9, 9}); }), c.Message);
    EXPECT_EQ(Items(*real), (TDoubles{1, 2, 3}));
    EXPECT_EQ(integer->Minimum(), 4);
    EXPECT_EQ(integer->Maximum(), 4);
    EXPECT_EQ(complex->GetItem(2).Im, 6);
}

INSTANTIATE_TEST_SUITE_P(Indexes, SLSimpleDataBufferIndexTest,
                         ::testing::Values(TIndexCase{"JustPastTheEnd", 3, "Index out of rabge = 3"},
                                           TIndexCase{"Negative", -1, "Index out of rabge = 4294967295"},
                                           TIndexCase{"FarPast", 1000, "Index out of rabge = 1000"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST_F(SLSimpleDataBufferTest, RealArithmeticWorksElementByElement)
{
    auto a = MakeReal({1, 2, 3});
    auto b = MakeReal({4, 5, 6, 100});   // longer operands are fine: the operation runs over a's size
    a->Add(*b);
    EXPECT_EQ(Items(*a), (TDoubles{5, 7, 9}));
    a->Subtract(*b);
    EXPECT_EQ(Items(*a), (TDoubles{1, 2, 3}));
    a->Multiply(*b);
    EXPECT_EQ(Items(*a), (TDoubles{4, 10, 18}));
    a->Divide(*b);
    EXPECT_EQ(Items(*a), (TDoubles{1, 2, 3}));
}

TEST_F(SLSimpleDataBufferTest, AShorterOperandIsRefusedAndLosesNothing)
{
    auto a = MakeReal({1, 2, 3});
    auto b = MakeReal({1, 1});
    EXPECT_EQ(RangeMessage([&] { a->Add(*b); }),
              "real buffer: Add with a buffer of 2 elements, fewer than the 3 of this one");
    EXPECT_EQ(Items(*a), (TDoubles{1, 2, 3}));
}

TEST_F(SLSimpleDataBufferTest, DivisionByZeroGivesTheFiniteStandIns)
{
    auto a = MakeReal({1, -1, 0, 6});
    auto b = MakeReal({0, 0, 0, std::numeric_limits<double>::quiet_NaN()});
    a->Divide(*b);
    EXPECT_EQ(Items(*a), (TDoubles{1.0e15, -1.0e14, -1.0e14, 1.0e15}));
}

TEST_F(SLSimpleDataBufferTest, ArithmeticOnASharedHandleLeavesTheOtherHandleUnchanged)
{
    auto a = MakeReal({1, 2});
    auto b = CloneBuffer(*a);
    a->Add(*b);
    EXPECT_EQ(Items(*a), (TDoubles{2, 4}));
    EXPECT_EQ(Items(*b), (TDoubles{1, 2}));
}

TEST_F(SLSimpleDataBufferTest, MinimumAndMaximumOfAnEmptyBufferAreZero)
{
    auto empty = MakeRef<TSLRealBuffer>(0);
    EXPECT_EQ(empty->Minimum(), 0.0);
    EXPECT_EQ(empty->Maximum(), 0.0);
    auto values = MakeReal({3, -2, 8, 1});
    EXPECT_EQ(values->Minimum(), -2);
    EXPECT_EQ(values->Maximum(), 8);
}

TEST_F(SLSimpleDataBufferTest, RangeExtremesClampTheirBounds)
{
    auto buffer = MakeReal({5, 1, 9, 3, 7, 2, 8, 0, 6, 4});
    EXPECT_EQ(buffer->MinimumInRange(-3, 100), 0);
    EXPECT_EQ(buffer->MaximumInRange(-3, 100), 9);
    EXPECT_EQ(buffer->MinimumInRange(1, 3), 1);
    EXPECT_EQ(buffer->MaximumInRange(3, 5), 7);
    // A start at or past the end becomes the last element.
    EXPECT_EQ(buffer->MaximumInRange(20, 100), 4);
}

TEST_F(SLSimpleDataBufferTest, RangeExtremesOverNoElementAreRefused)
{
    auto buffer = MakeReal({5, 1, 9, 3, 7, 2, 8, 0, 6, 4});
    EXPECT_EQ(RangeMessage([&] { (void)buffer->MaximumInRange(5, 2); }),
              "real buffer: MaximumInRange(5, 2) covers no element of 10");
    EXPECT_THROW((void)buffer->MinimumInRange(4, 4), ERangeError);
    EXPECT_THROW((void)buffer->MinimumInRange(-5, -1), ERangeError);
    auto empty = MakeRef<TSLRealBuffer>(0);
    EXPECT_EQ(RangeMessage([&] { (void)empty->MinimumInRange(0, 5); }),
              "real buffer: MinimumInRange(0, 5) covers no element of 0");
}

TEST_F(SLSimpleDataBufferTest, FillJaehneWritesTheChirpOverTheWholeBuffer)
{
    auto buffer = MakeReal({9, 9, 9, 9});
    buffer->FillJaehne(2.0);
    for (std::int32_t k = 0; k < 4; ++k)
        EXPECT_NEAR(buffer->GetItem(k), 2.0 * std::sin(std::numbers::pi / 2 * k * k / 4), 1e-12) << k;
    buffer->Clear();
    EXPECT_EQ(Items(*buffer), (TDoubles{0, 0, 0, 0}));
}

TEST_F(SLSimpleDataBufferTest, IntegerArithmeticSaturatesAndScansExtremes)
{
    auto a = MakeRef<TSLIntegerBuffer>(3);
    auto b = MakeRef<TSLIntegerBuffer>(3);
    a->SetItem(0, std::numeric_limits<std::int32_t>::max());
    a->SetItem(1, 7);
    a->SetItem(2, -8);
    b->Fill(1);
    a->Add(*b);
    EXPECT_EQ(a->GetItem(0), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(a->GetItem(1), 8);
    b->SetItem(1, 0);
    b->SetItem(2, 3);
    a->Divide(*b);
    EXPECT_EQ(a->GetItem(1), std::numeric_limits<std::int32_t>::max());   // 8 / 0
    EXPECT_EQ(a->GetItem(2), -2);                                         // -7 / 3
    EXPECT_EQ(a->Minimum(), -2);
    EXPECT_EQ(a->Maximum(), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(MakeRef<TSLIntegerBuffer>(0)->Minimum(), 0);
    EXPECT_EQ(MakeRef<TSLIntegerBuffer>(0)->Maximum(), 0);
}

TEST_F(SLSimpleDataBufferTest, ByteArithmeticSaturatesAndDivisionByZeroIsDefined)
{
    auto a = MakeRef<TSLBlockBuffer>(4);
    auto b = MakeRef<TSLBlockBuffer>(4);
    const std::uint8_t dividends[4] = {200, 0, 9, 3};
    const std::uint8_t divisors[4] = {100, 0, 0, 2};
    std::memcpy(a->GetWrite(), dividends, 4);
    std::memcpy(b->GetWrite(), divisors, 4);
    a->Divide(*b);
    EXPECT_EQ(std::vector<int>(a->GetRead(), a->GetRead() + 4), (std::vector<int>{2, 0, 255, 1}));
    a->Fill(200);
    b->Fill(100);
    a->Add(*b);
    EXPECT_EQ(a->GetRead()[0], 255);
    a->Fill(3);
    b->Fill(5);
    a->Subtract(*b);
    EXPECT_EQ(a->GetRead()[3], 0);
}

TEST_F(SLSimpleDataBufferTest, ComplexArithmeticFollowsComplexRules)
{
    auto a = MakeRef<TSLComplexBuffer>(1);
    auto b = MakeRef<TSLComplexBuffer>(1);
    a->Fill(1, 2);
    b->Fill(3, 4);
    a->Multiply(*b);   // (1 + 2i)(3 + 4i) = -5 + 10i
    EXPECT_EQ(a->GetItem(0).Re, -5);
    EXPECT_EQ(a->GetItem(0).Im, 10);
    a->Subtract(*b);
    EXPECT_EQ(a->GetItem(0).Re, -8);
    EXPECT_EQ(a->GetItem(0).Im, 6);
    a->Divide(*b);   // (-8 + 6i) / (3 + 4i) = 0 + 2i
    EXPECT_NEAR(a->GetItem(0).Re, 0, 1e-15);
    EXPECT_NEAR(a->GetItem(0).Im, 2, 1e-15);
}

TEST_F(SLSimpleDataBufferTest, EachBufferAnswersItsOwnTypedInterfaceOnly)
{
    auto real = MakeReal({1});
    ISLBufferCore* core = QueryBuffer<ISLBufferCore>(static_cast<ISLDataBuffer*>(real.Get()));
    ASSERT_NE(core, nullptr);
    ISLRealDataBuffer* typed = QueryBuffer<ISLRealDataBuffer>(core);
    ASSERT_NE(typed, nullptr);
    EXPECT_EQ(typed->GetItem(0), 1);
    EXPECT_EQ(QueryBuffer<ISLDataBuffer>(core)->GetObject(), real.Get());
    EXPECT_EQ(QueryBuffer<ISLIntegerDataBuffer>(core), nullptr);
    EXPECT_EQ(QueryBuffer<ISLRealDataBuffer>(nullptr), nullptr);
    auto bytes = MakeRef<TSLBlockBuffer>(1);
    EXPECT_NE(QueryBuffer<ISLBlockDataBuffer>(bytes.Get()), nullptr);
    EXPECT_EQ(QueryBuffer<ISLRealDataBuffer>(bytes.Get()), nullptr);
}

TEST_F(SLSimpleDataBufferTest, ASteadyStreamOfEqualBuffersTakesNothingFromTheHeapOnceWarm)
{
    {
        auto warm = MakeRef<TSLRealBuffer>(1024);
        auto clone = CloneBuffer(*warm);
        clone->Fill(1);
    }
    const std::uint64_t before = SmartBufferManager().HeapAllocations();
    for (int i = 0; i < 100; ++i)
    {
        auto buffer = MakeRef<TSLRealBuffer>(1024);
        buffer->Fill(i);
        auto clone = CloneBuffer(*buffer);
        EXPECT_EQ(clone->Maximum(), i);
    }
    EXPECT_EQ(SmartBufferManager().HeapAllocations(), before);
}

}   // namespace
}   // namespace harvolin
