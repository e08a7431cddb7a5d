#include "buffers/SLSimpleDataBuffer.h"
#include "buffers/SLSmartBuffers.h"
#include "rtl/Threads.h"
#include "tests/support/TestThreads.h"
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace harvolin
{
namespace
{

constexpr std::int32_t kBlocks = 2000;
constexpr std::uint32_t kSamples = 1024;

// Hands buffers from one thread to another; Take() waits at most kPatience and gives null then.
class TBufferQueue
{
public:
    void Put(TRefPtr<TSLRealBuffer> buffer)
    {
        {
            const std::lock_guard<std::mutex> lock(FLock);
            FQueue.push_back(std::move(buffer));
        }
        FChanged.notify_one();
    }

    bool Take(TRefPtr<TSLRealBuffer>& buffer)
    {
        std::unique_lock<std::mutex> lock(FLock);
        if (!FChanged.wait_for(lock, kPatience, [&] { return !FQueue.empty(); }))
            return false;
        buffer = std::move(FQueue.front());
        FQueue.pop_front();
        return true;
    }
private:
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<TRefPtr<TSLRealBuffer>> FQueue;   // guarded by FLock; a null entry ends the stream
};

// Whether every sample of the buffer holds value.
bool Holds(const TSLRealBuffer& buffer, double value)
{
    for (std::uint32_t i = 0; i < buffer.GetSize(); ++i)
        if (buffer.GetRead()[i] != value)
            return false;
    return true;
}

class SLSimpleDataBufferConcurrencyTest : public ::testing::Test
{
protected:
    void SetUp() override { FBaseline = SmartBufferManager().BlocksInUse(); }

    std::int64_t FBaseline = 0;
};

// The producer keeps writing its own handle after the hand-over while the consumer clones and writes the
// shared storage: each side must see only its own writes, whichever side copies first.
TEST_F(SLSimpleDataBufferConcurrencyTest, HandlesSharedAcrossThreadsCopyOnWriteWithoutLosingData)
{
    TBufferQueue queue;
    std::atomic<std::int32_t> producerMismatches{0};
    std::int32_t consumed = 0;
    std::int32_t consumerMismatches = 0;
    bool starved = false;

    TThread consumer(
        [&]
        {
            TRefPtr<TSLRealBuffer> received;
            while (queue.Take(received))
            {
                if (!received)
                    return;
                const double expected = consumed;
                auto clone = CloneBuffer(*received);
                if (!Holds(*received, expected))
                    ++consumerMismatches;
                clone->GetModify()[0] = -1.0;
                if (received->GetItem(0) != expected || clone->GetItem(kSamples - 1) != expected)
                    ++consumerMismatches;
                received.Reset();
                clone.Reset();
                ++consumed;
            }
            starved = true;
        });

    for (std::int32_t block = 0; block < kBlocks; ++block)
    {
        auto own = MakeRef<TSLRealBuffer>(kSamples);
        own->Fill(block);
        queue.Put(CloneBuffer(*own));
        // Races the consumer's clone and write on the same storage.
        own->Fill(-2.0);
        if (!Holds(*own, -2.0))
            producerMismatches.fetch_add(1, std::memory_order_relaxed);
    }
    queue.Put(nullptr);
    consumer.Join();

    EXPECT_FALSE(starved) << "the consumer waited in vain";
    EXPECT_FALSE(consumer.Failed()) << consumer.FailureMessage();
    EXPECT_EQ(consumed, kBlocks);
    EXPECT_EQ(consumerMismatches, 0);
    EXPECT_EQ(producerMismatches.load(), 0);
    EXPECT_EQ(SmartBufferManager().BlocksInUse(), FBaseline) << "pool blocks leaked";
}

class SLSmartBuffersConcurrencyTest : public ::testing::Test
{
};

// Two threads release the two holders of the same blocks at once: each block must be freed exactly once,
// which the pool's count of blocks in use shows (a double free takes it below the start, a missed one
// leaves it above).
TEST_F(SLSmartBuffersConcurrencyTest, ExactlyOneOfTwoConcurrentReleasersFreesTheBlock)
{
    constexpr int kStorages = 500;
    const std::int64_t before = SmartBufferManager().BlocksInUse();
    std::vector<TSLSmartMemoryBuffer*> storages;
    for (int i = 0; i < kStorages; ++i)
    {
        auto* storage = new TSLSmartMemoryBuffer(64);
        storage->AddHolder(true);
        storage->AddHolder(false);
        storages.push_back(storage);
    }
    TEvent start(TEventMode::ManualReset);
    auto releaseAll = [&](bool owner)
    {
        start.Wait();
        for (TSLSmartMemoryBuffer* storage : storages)
            storage->ReleaseHolder(owner);
    };
    TThread first([&] { releaseAll(true); });
    TThread second([&] { releaseAll(false); });
    start.Set();
    first.Join();
    second.Join();
    EXPECT_EQ(SmartBufferManager().BlocksInUse(), before);
}

}   // namespace
}   // namespace harvolin
