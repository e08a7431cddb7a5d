#include "buffers/SLSmartBuffers.h"
#include "kernels/SLVecKernels.h"
#include "rtl/Exceptions.h"
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>

namespace harvolin
{
namespace
{

class SLSmartBuffersTest : public ::testing::Test
{
protected:
    // A storage block held by `owners` owning and `holders - owners` non-owning handles.
    static TSLSmartMemoryBuffer* MakeHeld(std::uint32_t size, int holders, int owners)
    {
        auto* block = new TSLSmartMemoryBuffer(size);
        for (int i = 0; i < holders; ++i)
            block->AddHolder(i < owners);
        return block;
    }

    static std::int64_t InUse() { return SmartBufferManager().BlocksInUse(); }

    TSLSmartBufferManager FPool;   // a private pool, so that counts start from nothing
};

struct TRoundUpCase
{
    const char* Name;
    std::uint32_t Size;
    std::uint32_t Expected;
};

void PrintTo(const TRoundUpCase& c, std::ostream* os)
{
    *os << c.Name;
}

class SLSmartBuffersRoundUpTest : public ::testing::TestWithParam<TRoundUpCase>
{
};

TEST_P(SLSmartBuffersRoundUpTest, RoundsUpToTheNextPowerOfTwoFromFourToTheLargestBlock)
{
    EXPECT_EQ(RoundUpSize(GetParam().Size), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SLSmartBuffersRoundUpTest,
                         ::testing::Values(TRoundUpCase{"Zero", 0, 4}, TRoundUpCase{"Three", 3, 4},
                                           TRoundUpCase{"Four", 4, 4}, TRoundUpCase{"Five", 5, 8},
                                           TRoundUpCase{"Exact1024", 1024, 1024},
                                           TRoundUpCase{"Above1024", 1025, 2048},
                                           TRoundUpCase{"Largest", 1u << 30, 1u << 30},
                                           TRoundUpCase{"AboveLargest", (1u << 30) + 1, 1u << 30},
                                           TRoundUpCase{"Top", 0xFFFFFFFFu, 1u << 30}),
                         [](const auto& testInfo) { return std::string(testInfo.param.Name); });

TEST_F(SLSmartBuffersTest, GetOfZeroBytesReturnsNullAndMakesNoSizeList)
{
    EXPECT_EQ(FPool.Get(0), nullptr);
    EXPECT_EQ(FPool.SizeListCount(), 0u);
    EXPECT_EQ(FPool.BlocksInUse(), 0);
}

TEST_F(SLSmartBuffersTest, GetAfterPutReturnsTheSameBlock)
{
    void* first = FPool.Get(1024);
    ASSERT_NE(first, nullptr);
    FPool.Put(first, 1024);
    EXPECT_EQ(FPool.Get(1024), first);
    FPool.Put(first, 1024);
    EXPECT_EQ(FPool.HeapAllocations(), 1u);
}

TEST_F(SLSmartBuffersTest, FreeBlocksComeBackLastInFirstOut)
{
    void* a = FPool.Get(64);
    void* b = FPool.Get(64);
    FPool.Put(a, 64);
    FPool.Put(b, 64);
    EXPECT_EQ(FPool.Get(64), b);
    EXPECT_EQ(FPool.Get(64), a);
    FPool.Put(a, 64);
    FPool.Put(b, 64);
    EXPECT_EQ(FPool.FreeBlockCount(64), 2u);
}

TEST_F(SLSmartBuffersTest, EachSizeHasItsOwnListAndBlocksAreAligned)
{
    void* small = FPool.Get(4);
    void* large = FPool.Get(4096);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(small) % 32, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(large) % 32, 0u);
    EXPECT_EQ(FPool.SizeListCount(), 2u);
    FPool.Put(small, 4);
    EXPECT_EQ(FPool.FreeBlockCount(4), 1u);
    EXPECT_EQ(FPool.FreeBlockCount(4096), 0u);
    FPool.Put(large, 4096);
}

TEST_F(SLSmartBuffersTest, BlocksInUseCountsWhatWasNotPutBack)
{
    void* a = FPool.Get(128);
    void* b = FPool.Get(128);
    EXPECT_EQ(FPool.BlocksInUse(), 2);
    FPool.Put(a, 128);
    EXPECT_EQ(FPool.BlocksInUse(), 1);
    FPool.Put(b, 128);
    FPool.Put(nullptr, 128);
    EXPECT_EQ(FPool.BlocksInUse(), 0);
}

TEST_F(SLSmartBuffersTest, APoolGoingWithBlocksOutCountsThemAndLeavesThemUsable)
{
    auto pool = std::make_unique<TSLSmartBufferManager>();
    void* out = pool->Get(64);
    void* back = pool->Get(64);
    pool->Put(back, 64);
    EXPECT_EQ(pool->BlocksInUse(), 1);
    pool.reset();
    // Still the holder's: the address sanitizer build would flag a block freed by the pool.
    std::memset(out, 1, 64);
    AlignedFree(out);
}

TEST_F(SLSmartBuffersTest, GetAboveTheLargestBlockIsRefusedWithoutMakingAList)
{
    EXPECT_THROW((void)FPool.Get((1u << 30) + 1), ERangeError);
    EXPECT_EQ(FPool.SizeListCount(), 0u);
}

TEST_F(SLSmartBuffersTest, MemoryStorageAboveTheLargestBlockIsRefusedWithAClearMessage)
{
    const std::int64_t before = InUse();
    try
    {
        (void)new TSLSmartMemoryBuffer((1ull << 30) + 1);
        FAIL() << "no error for an area above the largest block";
    }
    catch (const ERangeError& error)
    {
        EXPECT_EQ(
            error.Message(),
            "smart buffer: cannot allocate 1073741825 bytes: more than the largest block of 1073741824");
    }
    EXPECT_EQ(InUse(), before);
}

TEST_F(SLSmartBuffersTest, MemoryStorageHasARoundedAlignedArea)
{
    TSLSmartMemoryBuffer* block = MakeHeld(1000, 1, 1);
    EXPECT_EQ(block->AllocatedSize(), 1024u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block->Data()) % 32, 0u);
    block->ReleaseHolder(true);
}

TEST_F(SLSmartBuffersTest, LastHolderReturnsAreaAndObjectToThePool)
{
    const std::int64_t before = InUse();
    TSLSmartMemoryBuffer* block = MakeHeld(256, 2, 2);
    EXPECT_EQ(InUse(), before + 2);   // the area and the object itself
    block->ReleaseHolder(true);
    EXPECT_EQ(block->OwnerCount(), 1);
    EXPECT_EQ(block->HolderCount(), 1);
    EXPECT_TRUE(block->IsExclusive());
    block->ReleaseHolder(true);
    EXPECT_EQ(InUse(), before);
}

TEST_F(SLSmartBuffersTest, TwoOwnersAreNotExclusive)
{
    TSLSmartMemoryBuffer* block = MakeHeld(16, 2, 2);
    EXPECT_FALSE(block->IsExclusive());
    block->ReleaseOwner();
    EXPECT_TRUE(block->IsExclusive());
    EXPECT_EQ(block->HolderCount(), 2);
    block->ReleaseHolder(false);
    block->ReleaseHolder(true);
}

TEST_F(SLSmartBuffersTest, NonOwningReleaseKeepsTheOwnerCount)
{
    TSLSmartMemoryBuffer* block = MakeHeld(16, 2, 1);
    block->ReleaseHolder(false);
    EXPECT_EQ(block->OwnerCount(), 1);
    EXPECT_EQ(block->HolderCount(), 1);
    block->ReleaseHolder(true);
}

TEST_F(SLSmartBuffersTest, CountsNeverGoBelowZero)
{
    TSLSmartMemoryBuffer* block = MakeHeld(16, 2, 0);
    block->ReleaseOwner();
    EXPECT_EQ(block->OwnerCount(), 0);
    block->ReleaseHolder(true);
    EXPECT_EQ(block->OwnerCount(), 0);
    EXPECT_EQ(block->HolderCount(), 1);
    block->ReleaseHolder(false);
}

TEST_F(SLSmartBuffersTest, ClonedStorageStartsUncountedAndCopiesTheWholeAreaWhenPreserving)
{
    TSLSmartMemoryBuffer* block = MakeHeld(8, 1, 1);
    const std::uint8_t pattern[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::memcpy(block->Data(), pattern, sizeof pattern);
    auto* clone = static_cast<TSLSmartMemoryBuffer*>(block->CloneStorage(true));
    EXPECT_EQ(clone->OwnerCount(), 0);
    EXPECT_EQ(clone->HolderCount(), 0);
    EXPECT_EQ(clone->AllocatedSize(), 8u);
    EXPECT_NE(clone->Data(), block->Data());
    EXPECT_EQ(std::memcmp(clone->Data(), pattern, sizeof pattern), 0);
    clone->AddHolder(true);
    clone->ReleaseHolder(true);
    block->ReleaseHolder(true);
}

TEST_F(SLSmartBuffersTest, ClonedStorageWithoutPreserveLeavesTheNewAreaAsThePoolGaveIt)
{
    // Seed the pool with a marked block: last in, first out, the clone receives it.
    void* seeded = SmartBufferGet(8);
    std::memset(seeded, 0xAB, 8);
    TSLSmartMemoryBuffer* block = MakeHeld(8, 1, 1);
    std::memset(block->Data(), 0x11, 8);
    SmartBufferPut(seeded, 8);
    auto* clone = static_cast<TSLSmartMemoryBuffer*>(block->CloneStorage(false));
    EXPECT_EQ(clone->Data(), seeded);
    EXPECT_EQ(clone->Data()[0], 0xAB);
    clone->AddHolder(true);
    clone->ReleaseHolder(true);
    block->ReleaseHolder(true);
}

}   // namespace
}   // namespace harvolin
