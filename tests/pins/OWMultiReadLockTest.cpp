#include "pins/OWMultiReadLock.h"
#include "rtl/Threads.h"
#include "tests/support/TestThreads.h"
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

constexpr std::int32_t kFree = TOWMultiReadExclusiveWriteSynchronizer::kFree;

class OWMultiReadLockTest : public ::testing::Test
{
protected:
    // A thread that takes the lock for reading or writing and holds it until Leave().
    struct THolder : THoldingThread
    {
        THolder(TOWMultiReadExclusiveWriteSynchronizer& lock, bool write)
            : THoldingThread([&lock, write] { write ? lock.BeginWrite() : lock.BeginRead(); },
                             [&lock, write] { write ? lock.EndWrite() : lock.EndRead(); })
        {
        }
    };

    TRefPtr<TOWMultiReadExclusiveWriteSynchronizer> FLock = MakeRef<TOWMultiReadExclusiveWriteSynchronizer>();
};

struct TBucketCase
{
    const char* Name;
    std::uint32_t ThreadId;
    std::size_t Bucket;
};

class OWThreadLocalCounterBucketTest : public ::testing::TestWithParam<TBucketCase>
{
};

TEST_P(OWThreadLocalCounterBucketTest, BucketMixesTheSecondByteIntoTheLowFourBits)
{
    EXPECT_EQ(TOWThreadLocalCounter::BucketOf(GetParam().ThreadId), GetParam().Bucket);
}

INSTANTIATE_TEST_SUITE_P(Ids, OWThreadLocalCounterBucketTest,
                         ::testing::Values(TBucketCase{"LowNibbleOnly", 0x0007, 7},
                                           TBucketCase{"SecondByteCancelsLowNibble", 0x0303, 0},
                                           TBucketCase{"SecondByteAdds", 0x1234, 6},
                                           TBucketCase{"HighBitsIgnored", 0xABCD0005, 5}),
                         [](const auto& param) { return std::string(param.param.Name); });

TEST_F(OWMultiReadLockTest, NestedReadsLeaveTheLockFreeAndTheNodeFree)
{
    FLock->BeginRead();
    FLock->BeginRead();
    EXPECT_EQ(FLock->Sentinel(), kFree - 1);
    EXPECT_EQ(FLock->ThreadReadCount(), 2);
    FLock->EndRead();
    EXPECT_EQ(FLock->Sentinel(), kFree - 1);
    FLock->EndRead();
    EXPECT_EQ(FLock->Sentinel(), kFree);
    EXPECT_EQ(FLock->ThreadCounters().Find(CurrentThreadId()), nullptr);
}

TEST_F(OWMultiReadLockTest, AFreedNodeIsRecycledInsteadOfAddingAnother)
{
    const std::size_t bucket = TOWThreadLocalCounter::BucketOf(CurrentThreadId());
    FLock->BeginRead();
    FLock->EndRead();
    FLock->BeginRead();
    FLock->EndRead();
    EXPECT_EQ(FLock->ThreadCounters().NodeCount(bucket), 1u);
}

TEST_F(OWMultiReadLockTest, ThreeNestedBeginWritesNeedThreeEndWrites)
{
    FLock->BeginWrite();
    FLock->BeginWrite();
    FLock->BeginWrite();
    FLock->EndWrite();
    FLock->EndWrite();
    EXPECT_EQ(FLock->WriterID(), CurrentThreadId());
    EXPECT_EQ(FLock->Sentinel(), 0);
    FLock->EndWrite();
    EXPECT_EQ(FLock->WriterID(), 0u);
    EXPECT_EQ(FLock->Sentinel(), kFree);
}

TEST_F(OWMultiReadLockTest, WriterReadsWithoutTouchingTheLockWord)
{
    FLock->BeginWrite();
    FLock->BeginRead();
    FLock->BeginRead();
    EXPECT_EQ(FLock->Sentinel(), 0);
    FLock->EndRead();
    FLock->EndRead();
    FLock->EndWrite();
    EXPECT_EQ(FLock->Sentinel(), kFree);
    EXPECT_EQ(FLock->ThreadCounters().Find(CurrentThreadId()), nullptr);
}

TEST_F(OWMultiReadLockTest, UpgradedReaderStillReadsAfterEndWrite)
{
    FLock->BeginRead();
    FLock->BeginWrite();
    EXPECT_EQ(FLock->WriterID(), CurrentThreadId());
    FLock->EndWrite();
    EXPECT_EQ(FLock->WriterID(), 0u);
    EXPECT_EQ(FLock->Sentinel(), kFree - 1);
    EXPECT_EQ(FLock->ThreadReadCount(), 1);
    FLock->EndRead();
    EXPECT_EQ(FLock->Sentinel(), kFree);
    EXPECT_EQ(FLock->ThreadCounters().Find(CurrentThreadId()), nullptr);
}

TEST_F(OWMultiReadLockTest, ReadBegunInsideAWriteAndEndedAfterItLeavesTheLockFree)
{
    FLock->BeginWrite();
    FLock->BeginRead();
    FLock->EndWrite();
    EXPECT_EQ(FLock->Sentinel(), kFree - 1);   // still one reader: this thread
    FLock->EndRead();
    EXPECT_EQ(FLock->Sentinel(), kFree);
    FLock->BeginWrite();
    EXPECT_EQ(FLock->Sentinel(), 0);
    FLock->EndWrite();
}

TEST_F(OWMultiReadLockTest, UpgradedReaderMayEndItsReadBeforeItsWrite)
{
    FLock->BeginRead();
    FLock->BeginWrite();
    FLock->EndRead();
    FLock->EndWrite();
    EXPECT_EQ(FLock->Sentinel(), kFree);
    EXPECT_EQ(FLock->ThreadCounters().Find(CurrentThreadId()), nullptr);
}

TEST_F(OWMultiReadLockTest, EndWriteByAThreadThatIsNotTheWriterStopsTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(FLock->EndWrite(), "not the writer");
}

TEST_F(OWMultiReadLockTest, GlobalLockIsOneInstanceWhoseSectionsHoldIt)
{
    ASSERT_EQ(&GlobalLock(), &GlobalLock());
    {
        auto write = GlobalLock().GetWriteLockSection();
        EXPECT_EQ(GlobalLock().WriterID(), CurrentThreadId());
    }
    EXPECT_EQ(GlobalLock().WriterID(), 0u);
    {
        auto read = GlobalLock().GetReadLockSection();
        EXPECT_EQ(GlobalLock().ThreadReadCount(), 1);
        EXPECT_EQ(GlobalLock().Sentinel(), kFree - 1);
    }
    EXPECT_EQ(GlobalLock().Sentinel(), kFree);
}

class OWMultiReadLockConcurrencyTest : public OWMultiReadLockTest
{
};

TEST_F(OWMultiReadLockConcurrencyTest, ReaderBlocksWhileAWriterHoldsAndEntersOnEndWrite)
{
    FLock->BeginWrite();
    THolder reader(*FLock, false);
    EXPECT_FALSE(reader.Entered.WaitFor(kQuietWindow));
    FLock->EndWrite();
    EXPECT_TRUE(reader.Entered.WaitFor(kPatience));
}

TEST_F(OWMultiReadLockConcurrencyTest, ReaderWaitsForTheThirdOfThreeNestedEndWrites)
{
    FLock->BeginWrite();
    FLock->BeginWrite();
    FLock->BeginWrite();
    THolder reader(*FLock, false);
    FLock->EndWrite();
    FLock->EndWrite();
    EXPECT_FALSE(reader.Entered.WaitFor(kQuietWindow));
    FLock->EndWrite();
    EXPECT_TRUE(reader.Entered.WaitFor(kPatience));
}

TEST_F(OWMultiReadLockConcurrencyTest, WaitingWriterBlocksNewReadersButNotNestedReads)
{
    THolder firstReader(*FLock, false);
    ASSERT_TRUE(firstReader.Entered.WaitFor(kPatience));
    FLock->BeginRead();   // this thread reads too, and reads again below while the writer waits

    THolder writer(*FLock, true);
    ASSERT_TRUE(Eventually([&] { return !FLock->ReadersMayEnter(); }));
    THolder lateReader(*FLock, false);

    FLock->BeginRead();   // nested: must not wait for the writer, or this would hang
    FLock->EndRead();
    EXPECT_FALSE(writer.Entered.WaitFor(kQuietWindow));
    EXPECT_FALSE(lateReader.Entered.WaitFor(0ms));

    FLock->EndRead();
    firstReader.Leave();
    EXPECT_TRUE(writer.Entered.WaitFor(kPatience));
    EXPECT_FALSE(lateReader.Entered.WaitFor(kQuietWindow));
    writer.Leave();
    EXPECT_TRUE(lateReader.Entered.WaitFor(kPatience));
}

TEST_F(OWMultiReadLockConcurrencyTest, ReaderBecomesTheWriterOnceTheOtherReaderLeaves)
{
    THolder otherReader(*FLock, false);
    ASSERT_TRUE(otherReader.Entered.WaitFor(kPatience));
    TEvent upgraded(TEventMode::ManualReset);
    TEvent finish(TEventMode::ManualReset);
    std::atomic<std::int32_t> readsAfterEndWrite{-1};
    std::thread upgrader(
        [&]
        {
            FLock->BeginRead();
            FLock->BeginWrite();
            upgraded.Set();
            finish.Wait();
            FLock->EndWrite();
            readsAfterEndWrite = FLock->ThreadReadCount();
            FLock->EndRead();
        });
    EXPECT_FALSE(upgraded.WaitFor(kQuietWindow));
    otherReader.Leave();
    EXPECT_TRUE(upgraded.WaitFor(kPatience));
    finish.Set();
    upgrader.join();
    EXPECT_EQ(readsAfterEndWrite.load(), 1);
    EXPECT_EQ(FLock->Sentinel(), kFree);
}

TEST_F(OWMultiReadLockConcurrencyTest, SecondWriterWaitsForTheFirst)
{
    FLock->BeginWrite();
    THolder writer(*FLock, true);
    EXPECT_FALSE(writer.Entered.WaitFor(kQuietWindow));
    FLock->EndWrite();
    EXPECT_TRUE(writer.Entered.WaitFor(kPatience));
}

TEST_F(OWMultiReadLockConcurrencyTest, ThreadsReadingAtOnceLeaveTheLockFree)
{
    constexpr int kReaders = 4;
    std::vector<std::unique_ptr<THolder>> readers;
    for (int i = 0; i < kReaders; ++i)
        readers.push_back(std::make_unique<THolder>(*FLock, false));
    for (auto& reader : readers)
        ASSERT_TRUE(reader->Entered.WaitFor(kPatience));
    EXPECT_EQ(FLock->Sentinel(), kFree - kReaders);
    for (auto& reader : readers)
        reader->Leave();
    readers.clear();
    EXPECT_EQ(FLock->Sentinel(), kFree);
}

}   // namespace
}   // namespace harvolin
