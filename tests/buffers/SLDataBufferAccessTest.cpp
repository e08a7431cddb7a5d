#include "buffers/SLDataBufferAccess.h"
#include "buffers/SLSimpleDataBuffer.h"
#include "rtl/Exceptions.h"
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

class SLDataBufferAccessTest : public ::testing::Test
{
protected:
    void SetUp() override { FBaseline = SmartBufferManager().BlocksInUse(); }
    void TearDown() override
    {
        EXPECT_EQ(SmartBufferManager().BlocksInUse(), FBaseline) << "pool blocks leaked";
    }

    static TRefPtr<TSLRealBuffer> MakeReal(std::vector<double> values)
    {
        auto buffer = MakeRef<TSLRealBuffer>(static_cast<std::uint32_t>(values.size()));
        for (std::size_t i = 0; i < values.size(); ++i)
            buffer->GetModify()[i] = values[i];
        return buffer;
    }

    static std::vector<double> Items(const ISLRealDataBuffer& buffer)
    {
        return std::vector<double>(buffer.GetRead(), buffer.GetRead() + buffer.GetSize());
    }

    std::int64_t FBaseline = 0;
};

TEST_F(SLDataBufferAccessTest, GetAccessGivesTheAccessObjectOfTheBuffersType)
{
    auto real = MakeReal({1});
    const TRefPtr<ISLDataBufferAccess> access = real->GetAccess();
    EXPECT_NE(dynamic_cast<ISLRealDataBufferAccess*>(access.Get()), nullptr);
    EXPECT_EQ(access->GetBuffer()->GetObject(), real.Get());
    auto integers = MakeRef<TSLIntegerBuffer>(1);
    EXPECT_NE(dynamic_cast<ISLIntegerDataBufferAccess*>(integers->GetAccess().Get()), nullptr);
    auto bytes = MakeRef<TSLBlockBuffer>(1);
    EXPECT_NE(dynamic_cast<ISLBlockDataBufferAccess*>(bytes->GetAccess().Get()), nullptr);
    auto complex = MakeRef<TSLComplexBuffer>(1);
    EXPECT_NE(dynamic_cast<ISLComplexDataBufferAccess*>(complex->GetAccess().Get()), nullptr);
}

TEST_F(SLDataBufferAccessTest, CallsReachTheBoundBufferWithItsCopyOnWrite)
{
    auto buffer = MakeReal({1, 2, 3});
    auto clone = CloneBuffer(*buffer);
    const auto access = buffer->GetRealAccess();
    access->SetItem(0, 10);
    EXPECT_EQ(buffer->GetItem(0), 10);
    EXPECT_EQ(clone->GetItem(0), 1);
    EXPECT_EQ(access->GetSize(), 3u);
    EXPECT_EQ(access->GetByteSize(), 24u);
    EXPECT_EQ(&access->GetSequenceStamp(), &buffer->GetSequenceStamp());
    access->SetSize(5, true);
    EXPECT_EQ(buffer->GetSize(), 5u);
    EXPECT_EQ(access->GetItem(2), 3);
}

TEST_F(SLDataBufferAccessTest, AddThroughAccessObjectsOfSharedHandlesCopiesOnlyTheWrittenOne)
{
    auto a = MakeReal({1, 2});
    auto b = CloneBuffer(*a);
    const auto accessA = a->GetRealAccess();
    const auto accessB = b->GetRealAccess();
    accessA->Add(*accessB);
    EXPECT_NE(a->Storage(), b->Storage());
    EXPECT_EQ(Items(*a), (std::vector<double>{2, 4}));
    EXPECT_EQ(Items(*b), (std::vector<double>{1, 2}));
}

TEST_F(SLDataBufferAccessTest, RealOperationsKeepTheBuffersRules)
{
    auto a = MakeReal({1, -1, 0});
    auto b = MakeReal({0, 0, 0});
    const auto accessA = a->GetRealAccess();
    accessA->Divide(*b->GetRealAccess());
    EXPECT_EQ(Items(*a), (std::vector<double>{1.0e15, -1.0e14, -1.0e14}));
    EXPECT_EQ(accessA->Maximum(), 1.0e15);
    EXPECT_EQ(accessA->MinimumInRange(-3, 100), -1.0e14);
    EXPECT_THROW((void)accessA->MaximumInRange(2, 1), ERangeError);
    try
    {
        (void)accessA->GetItem(3);
        FAIL() << "no range error";
    }
    catch (const ERangeError& error)
    {
        EXPECT_EQ(error.Message(), "Index out of rabge = 3");
    }
}

TEST_F(SLDataBufferAccessTest, ExtremesOfAnEmptyBufferAreRefusedThroughTheAccessObject)
{
    auto empty = MakeRef<TSLRealBuffer>(0);
    const auto access = empty->GetRealAccess();
    EXPECT_THROW((void)access->Minimum(), ERangeError);
    EXPECT_THROW((void)access->Maximum(), ERangeError);
    EXPECT_THROW((void)access->MinimumInRange(0, 1), ERangeError);
}

TEST_F(SLDataBufferAccessTest, CopyToReachesTheDestinationThroughItsAccessObject)
{
    auto source = MakeReal({1, 2, 3});
    auto target = MakeReal({0, 0, 0});
    source->GetAccess()->CopyTo(0, *target->GetAccess(), 2, 1);
    EXPECT_EQ(Items(*target), (std::vector<double>{0, 1, 2}));
}

TEST_F(SLDataBufferAccessTest, ByteAndIntegerOperationsReachTheOtherBuffer)
{
    auto a = MakeRef<TSLBlockBuffer>(2);
    auto b = MakeRef<TSLBlockBuffer>(2);
    const auto accessA = a->GetBlockAccess();
    accessA->Fill(7);
    b->Fill(0);
    b->GetModify()[1] = 2;
    accessA->Divide(*b->GetBlockAccess());
    EXPECT_EQ(a->GetRead()[0], 255);
    EXPECT_EQ(a->GetRead()[1], 3);

    auto x = MakeRef<TSLIntegerBuffer>(2);
    auto y = MakeRef<TSLIntegerBuffer>(2);
    const auto accessX = x->GetIntegerAccess();
    accessX->Fill(6);
    y->Fill(4);
    accessX->Multiply(*y->GetIntegerAccess());
    EXPECT_EQ(accessX->GetItem(1), 24);
    EXPECT_THROW((void)accessX->GetItem(2), ERangeError);
}

TEST_F(SLDataBufferAccessTest, ABufferDestroyedFirstDetachesEveryBoundAccessObject)
{
    auto buffer = MakeReal({1, 2});
    const auto first = buffer->GetRealAccess();
    const auto second = buffer->GetRealAccess();
    buffer.Reset();
    // The access objects kept nothing alive.
    EXPECT_EQ(SmartBufferManager().BlocksInUse(), FBaseline);
    EXPECT_EQ(first->GetBuffer(), nullptr);
    EXPECT_EQ(second->GetBuffer(), nullptr);
}

TEST_F(SLDataBufferAccessTest, OperationsOnADetachedAccessObjectRaiseAClearError)
{
    auto buffer = MakeReal({1, 2});
    const auto access = buffer->GetRealAccess();
    auto other = MakeReal({1, 2});
    const auto otherAccess = other->GetRealAccess();
    buffer.Reset();
    try
    {
        (void)access->GetItem(0);
        FAIL() << "no error on a detached access object";
    }
    catch (const ESLAccessDetached& error)
    {
        EXPECT_EQ(error.Message(), "buffer access object: GetItem: the buffer it was bound to is gone");
    }
    EXPECT_THROW((void)access->GetSize(), ESLAccessDetached);
    EXPECT_THROW(access->SetSize(4, false), ESLAccessDetached);
    EXPECT_THROW((void)access->Clone(), ESLAccessDetached);
    // As the other operand or the destination, too; the bound side stays as it was.
    EXPECT_THROW(otherAccess->Add(*access), ESLAccessDetached);
    EXPECT_THROW(otherAccess->CopyTo(0, *access, 1, 0), ESLAccessDetached);
    EXPECT_EQ(Items(*other), (std::vector<double>{1, 2}));
}

TEST_F(SLDataBufferAccessTest, AnAccessObjectReleasedFirstLeavesItsBuffer)
{
    auto buffer = MakeReal({1});
    auto kept = buffer->GetRealAccess();
    {
        const auto released = buffer->GetRealAccess();
        released->SetItem(0, 4);
    }
    // The buffer's destruction must not visit the released object (the sanitizer build catches that).
    buffer.Reset();
    EXPECT_EQ(kept->GetBuffer(), nullptr);
}

}   // namespace
}   // namespace harvolin
