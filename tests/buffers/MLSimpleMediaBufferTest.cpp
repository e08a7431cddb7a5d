#include "buffers/MLSimpleMediaBuffer.h"
#include "rtl/Exceptions.h"

#include <gtest/gtest.h>

namespace harvolin
{
namespace
{

// The smallest concrete media buffer: storage without memory.
class TTestMediaBuffer final : public TMLMediaBuffer
{
public:
    TTestMediaBuffer() : TMLMediaBuffer(new TMLSmartMediaBuffer(), 0) {}
    TTestMediaBuffer(const TTestMediaBuffer& source)
        : ISLBufferCore(), ISLDataBuffer(), IMLMediaBuffer(), TMLMediaBuffer(source)
    {
    }

    [[nodiscard]] TRefPtr<TSLGenericBuffer> Clone() override { return MakeRef<TTestMediaBuffer>(*this); }
};

class MLSimpleMediaBufferTest : public ::testing::Test
{
protected:
    TRefPtr<TTestMediaBuffer> Buffer = MakeRef<TTestMediaBuffer>();
};

TEST_F(MLSimpleMediaBufferTest, NewStorageHasNoValidTimes)
{
    const TMLTimeStamp& stamp = Buffer->GetTimeStamp();
    EXPECT_FALSE(stamp.IsValid());
    EXPECT_EQ(stamp.GetStart(), 0);
    EXPECT_EQ(stamp.GetStop(), 0);
}

TEST_F(MLSimpleMediaBufferTest, TimeStampReadsTheStorageOfItsBuffer)
{
    Buffer->MediaStorage().SetTimes(true, -5, 1234567890123);
    const TMLTimeStamp& stamp = Buffer->GetTimeStamp();
    EXPECT_EQ(&stamp.Buffer(), Buffer.Get());
    EXPECT_TRUE(stamp.IsValid());
    EXPECT_EQ(stamp.GetStart(), -5);
    EXPECT_EQ(stamp.GetStop(), 1234567890123);
}

TEST_F(MLSimpleMediaBufferTest, CopyOnWriteCarriesTheTimesIntoThePrivateStorage)
{
    Buffer->MediaStorage().SetTimes(true, 10, 20);
    auto clone = CloneBuffer(*Buffer);
    ASSERT_EQ(clone->Storage(), Buffer->Storage());
    clone->MakeUnique(false);
    ASSERT_NE(clone->Storage(), Buffer->Storage());
    EXPECT_TRUE(clone->GetTimeStamp().IsValid());
    EXPECT_EQ(clone->GetTimeStamp().GetStart(), 10);
    EXPECT_EQ(clone->GetTimeStamp().GetStop(), 20);
    // The copy's times are its own from now on.
    clone->MediaStorage().SetTimes(false, 0, 0);
    EXPECT_TRUE(Buffer->GetTimeStamp().IsValid());
}

TEST_F(MLSimpleMediaBufferTest, AnswersTheMediaInterfaceByQuery)
{
    auto* media = QueryBuffer<IMLMediaBuffer>(Buffer.Get());
    ASSERT_NE(media, nullptr);
    EXPECT_EQ(&media->GetTimeStamp(), &Buffer->GetTimeStamp());
    EXPECT_NE(QueryBuffer<ISLDataBuffer>(Buffer.Get()), nullptr);
}

TEST_F(MLSimpleMediaBufferTest, TakingOverStorageWithoutTimesIsRefused)
{
    auto plain = MakeRef<TSLBlockBuffer>(4);
    TSLSmartBuffer* before = Buffer->Storage();
    EXPECT_THROW(Buffer->Assign(*plain), ERangeError);
    EXPECT_EQ(Buffer->Storage(), before);
}

}   // namespace
}   // namespace harvolin
