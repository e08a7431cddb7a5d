#include "pins/SLMultiInput.h"
#include "rtl/Component.h"
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace harvolin
{
namespace
{

class SLMultiInputTest : public ::testing::Test
{
protected:
    // A buffer of n samples counting up from first.
    static TRefPtr<TSLRealBuffer> Ramp(std::uint32_t n, double first)
    {
        auto buffer = MakeRef<TSLRealBuffer>(n);
        double* samples = buffer->GetWrite();
        std::iota(samples, samples + n, first);
        return buffer;
    }
    static std::vector<double> Samples(TSLRealBuffer& buffer)
    {
        return {buffer.GetRead(), buffer.GetRead() + buffer.GetSize()};
    }

    TComponentPtr<TComponent> FOwner = MakeComponent<TComponent>();
    TSLOWQueuedRealSinkPin FPin{FOwner.get(), {}};
};

TEST_F(SLMultiInputTest, APopIsAllOrNothingAcrossBufferBoundaries)
{
    TSLBufferQueue queue;
    for (int i = 0; i < 3; ++i)
        queue.Push(Ramp(300, 300.0 * i));
    auto block = MakeRef<TSLRealBuffer>(1024);
    block->Fill(-1.0);
    EXPECT_FALSE(queue.Pop(*block));
    EXPECT_EQ(block->GetItem(0), -1.0);
    EXPECT_EQ(queue.Count(), 900u);
    queue.Push(Ramp(300, 900.0));
    ASSERT_TRUE(queue.Pop(*block));
    EXPECT_EQ(Samples(*block), Samples(*Ramp(1024, 0.0)));
    EXPECT_EQ(queue.Count(), 176u);
    EXPECT_EQ(queue.Offset(), 124u);
    EXPECT_EQ(queue.BufferCount(), 1u);
}

TEST_F(SLMultiInputTest, APopEndingAtABuffersEndReleasesIt)
{
    TSLBufferQueue queue;
    auto first = Ramp(4, 0.0);
    queue.Push(first);
    queue.Push(Ramp(4, 4.0));
    auto block = MakeRef<TSLRealBuffer>(4);
    ASSERT_TRUE(queue.Pop(*block));
    EXPECT_EQ(queue.Offset(), 0u);
    EXPECT_EQ(queue.BufferCount(), 1u);
    EXPECT_EQ(first->RefCount(), 1);   // the queue let go of it
    queue.Clear();
    EXPECT_EQ(queue.Count(), 0u);
    EXPECT_FALSE(queue.Pop(*block));
}

TEST_F(SLMultiInputTest, APeekSeesOnlyARunWithinTheOldestBufferAndSkipTakesItOut)
{
    TSLBufferQueue queue;
    queue.Push(Ramp(6, 0.0));
    queue.Push(Ramp(4, 6.0));
    const double* run = queue.Peek(4);
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run[3], 3.0);
    queue.Skip(4);
    EXPECT_EQ(queue.Offset(), 4u);
    EXPECT_EQ(queue.Peek(4), nullptr);   // it would cross into the next buffer
    queue.Skip(4);                       // refused likewise
    EXPECT_EQ(queue.Count(), 6u);
    ASSERT_NE(queue.Peek(2), nullptr);
    queue.Skip(2);
    EXPECT_EQ(queue.BufferCount(), 1u);
    EXPECT_EQ(queue.Offset(), 0u);
    EXPECT_EQ(queue.Peek(4)[0], 6.0);
}

TEST_F(SLMultiInputTest, TheBlockSizeFollowsTheRatesRoundedHalfToEven)
{
    FPin.SetInputFormat(1024, 100000.0);
    EXPECT_TRUE(FPin.GetStarted());
    EXPECT_EQ(FPin.GetBufferSize(), 1024u);
    EXPECT_EQ(FPin.ComputeBlockSize(1024, 44100.0f), 2322u);
    EXPECT_EQ(FPin.ComputeBlockSize(1024, 100000.0f), 1024u);
    FPin.SetInputFormat(5, 1.0);
    EXPECT_EQ(FPin.ComputeBlockSize(5, 2.0f), 2u);   // 2.5 to even
    EXPECT_EQ(FPin.ComputeBlockSize(1024, 0.0f), 0u);
    FPin.Reset();
    EXPECT_FALSE(FPin.GetStarted());
}

TEST_F(SLMultiInputTest, AnotherOutputSizeIsResampledByNearestNeighbour)
{
    FPin.SetInputFormat(8, 8.0);
    ASSERT_EQ(FPin.ComputeBlockSize(4, 4.0f), 8u);
    FPin.Push(Ramp(8, 10.0));
    auto out = MakeRef<TSLRealBuffer>(4);
    ASSERT_TRUE(FPin.GetBlock(*out));
    EXPECT_EQ(Samples(*out), (std::vector<double>{10.0, 12.0, 14.0, 15.0}));
    EXPECT_EQ(FPin.Queue().Count(), 0u);
}

TEST_F(SLMultiInputTest, WithoutABlockSizeTheInputIsReadyAndGivesNothing)
{
    EXPECT_EQ(FPin.BlockSize(), 0u);
    EXPECT_TRUE(FPin.IsReady());
    auto out = MakeRef<TSLRealBuffer>(2);
    out->Fill(7.0);
    EXPECT_FALSE(FPin.GetBlock(*out));
    EXPECT_EQ(Samples(*out), (std::vector<double>{7.0, 7.0}));
    FPin.SetInputFormat(4, 4.0);
    FPin.ComputeBlockSize(2, 4.0f);
    EXPECT_FALSE(FPin.IsReady());
    FPin.Push(Ramp(2, 0.0));
    EXPECT_TRUE(FPin.IsReady());
}

TEST_F(SLMultiInputTest, TheQueuedInputAnswersItsInterfaceAndKeepsDeliveredStorage)
{
    auto* queued = QueryPinInterface<ISLQueuedRealSink>(FPin, ISLQueuedRealSink::kIID);
    ASSERT_EQ(queued, static_cast<ISLQueuedRealSink*>(&FPin));
    auto delivered = Ramp(4, 1.0);
    auto kept = MakeRef<TSLRealBuffer>(*static_cast<ISLBufferCore*>(delivered.Get()));
    EXPECT_EQ(kept->Storage(), delivered->Storage());
    queued->Push(kept);
    EXPECT_EQ(FPin.Queue().Count(), 4u);
}

TEST_F(SLMultiInputTest, AnOperationListKeepsOrderAndReplaceLeavesOnlyTheNewest)
{
    TSLOperationList list;
    auto a = MakeRef<TOWNotifyOperation>();
    auto b = MakeRef<TOWNotifyOperation>();
    auto c = MakeRef<TOWNotifyOperation>();
    EXPECT_EQ(list.Add(a, false), 1u);
    list.Add(b, false);
    list.Add(c, false);
    EXPECT_EQ(list.Pop(), a);
    auto d = MakeRef<TOWStopOperation>();
    list.Add(MakeRef<TOWNotifyOperation>(), false);
    EXPECT_EQ(list.Add(d, true), 1u);
    EXPECT_EQ(list.Pop(), d);
    EXPECT_EQ(list.Pop(), nullptr);
    TOWExposedObject holder;
    TSLOperationList held(&holder);
    held.Add(a, false);
    held.Clear();
    EXPECT_EQ(held.Count(), 0u);
}

}   // namespace
}   // namespace harvolin
