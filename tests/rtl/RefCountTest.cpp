#include "rtl/RefCount.h"
#include <gtest/gtest.h>
#include <latch>
#include <stdexcept>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

// Counts its destructions in a counter the test owns.
class TProbe : public TRefCounted
{
public:
    explicit TProbe(int& destroyed) : FDestroyed(destroyed) {}
    ~TProbe() override { ++FDestroyed; }
private:
    int& FDestroyed;
};

class TDerivedProbe final : public TProbe
{
public:
    using TProbe::TProbe;
};

class TUnrelated final : public TRefCounted
{
};

// Stands for pooled storage: the last release hands the object back instead of deleting it.
class TRecycled final : public TRefCounted
{
public:
    explicit TRecycled(std::vector<TRecycled*>& pool) : FPool(pool) {}
    ~TRecycled() override = default;
protected:
    void LastReleased() noexcept override { FPool.push_back(this); }
private:
    std::vector<TRecycled*>& FPool;
};

class RefCountTest : public ::testing::Test
{
protected:
    int FDestroyed = 0;
};

TEST_F(RefCountTest, CopiesCountAndTheLastReleaseDeletes)
{
    auto first = MakeRef<TProbe>(FDestroyed);
    EXPECT_EQ(first->RefCount(), 1);
    {
        TRefPtr<TProbe> second = first;
        TRefPtr<TProbe> third(second.Get());
        EXPECT_EQ(first->RefCount(), 3);
    }
    EXPECT_EQ(first->RefCount(), 1);
    EXPECT_EQ(FDestroyed, 0);
    first.Reset();
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(FDestroyed, 1);
}

TEST_F(RefCountTest, MovingStealsTheReferenceWithoutCounting)
{
    auto source = MakeRef<TProbe>(FDestroyed);
    TProbe* object = source.Get();
    TRefPtr<TProbe> target = std::move(source);
    EXPECT_EQ(source, nullptr);
    EXPECT_EQ(target.Get(), object);
    EXPECT_EQ(object->RefCount(), 1);
}

TEST_F(RefCountTest, AssigningReleasesThePreviousObjectAndSelfAssignmentKeepsIt)
{
    auto held = MakeRef<TProbe>(FDestroyed);
    auto other = MakeRef<TProbe>(FDestroyed);
    auto& alias = held;
    held = alias;
    EXPECT_EQ(held->RefCount(), 1);
    EXPECT_EQ(FDestroyed, 0);
    held = other;
    EXPECT_EQ(FDestroyed, 1);
    EXPECT_EQ(other->RefCount(), 2);
}

TEST_F(RefCountTest, ReferencesAreReleasedWhileAnExceptionUnwinds)
{
    auto survivor = MakeRef<TProbe>(FDestroyed);
    EXPECT_THROW(
        {
            auto temporary = MakeRef<TProbe>(FDestroyed);
            TRefPtr<TProbe> extra = survivor;
            throw std::runtime_error("unwinding");
        },
        std::runtime_error);
    EXPECT_EQ(FDestroyed, 1);
    EXPECT_EQ(survivor->RefCount(), 1);
}

TEST_F(RefCountTest, LastReleaseReturnsStorageToItsPoolInsteadOfDeleting)
{
    std::vector<TRecycled*> pool;
    TRecycled storage(pool);
    {
        TRefPtr<TRecycled> first(&storage);
        TRefPtr<TRecycled> second = first;
    }
    ASSERT_EQ(pool.size(), 1u);
    EXPECT_EQ(pool[0], &storage);
    EXPECT_EQ(storage.RefCount(), 0);
}

TEST_F(RefCountTest, DerivedPointersConvertToBasePointersSharingOneCount)
{
    auto derived = MakeRef<TDerivedProbe>(FDestroyed);
    TRefPtr<TProbe> base = derived;
    TRefPtr<const TRefCounted> root = base;
    EXPECT_EQ(derived->RefCount(), 3);
    EXPECT_TRUE(base == derived);
    derived.Reset();
    base.Reset();
    EXPECT_EQ(FDestroyed, 0);
    root.Reset();
    EXPECT_EQ(FDestroyed, 1);
}

TEST_F(RefCountTest, RefCastFollowsInheritanceAndGivesNullOnMismatch)
{
    TRefPtr<TRefCounted> derived = MakeRef<TDerivedProbe>(FDestroyed);
    TRefPtr<TRefCounted> unrelated = MakeRef<TUnrelated>();

    auto asProbe = RefCast<TProbe>(derived);
    EXPECT_EQ(asProbe.Get(), derived.Get());
    EXPECT_EQ(derived->RefCount(), 2);
    EXPECT_EQ(RefCast<TProbe>(unrelated), nullptr);
    EXPECT_EQ(RefCast<TProbe>(TRefPtr<TRefCounted>()), nullptr);
    EXPECT_EQ(unrelated->RefCount(), 1);
}

TEST_F(RefCountTest, PointersCompareByTheObjectTheyHold)
{
    auto a = MakeRef<TProbe>(FDestroyed);
    auto b = MakeRef<TProbe>(FDestroyed);
    TRefPtr<TProbe> empty;
    EXPECT_TRUE(a == TRefPtr<TProbe>(a));
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(empty == nullptr);
    EXPECT_TRUE(nullptr != a);
    EXPECT_FALSE(empty);
    EXPECT_TRUE(a);
    EXPECT_NE(a < b, b < a);
}

class RefCountConcurrencyTest : public RefCountTest
{
};

// Each owner writes its own slot before releasing; the deleting thread reads all slots in the destructor, so
// a release weaker than acq_rel shows up as a data race under ThreadSanitizer.
class TSharedSlots final : public TRefCounted
{
public:
    TSharedSlots(int& destroyed, int& sum) : FDestroyed(destroyed), FSum(sum) {}
    ~TSharedSlots() override
    {
        for (int slot : Slots)
            FSum += slot;
        ++FDestroyed;
    }
    int Slots[8] = {};
private:
    int& FDestroyed;
    int& FSum;
};

TEST_F(RefCountConcurrencyTest, ManyOwnersOnManyThreadsReleaseTheObjectExactlyOnce)
{
    constexpr int kThreads = 8;
    constexpr int kRounds = 20000;
    int sum = 0;
    auto shared = MakeRef<TSharedSlots>(FDestroyed, sum);
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
    {
        threads.emplace_back(
            [t, &start, own = shared]() mutable
            {
                start.arrive_and_wait();
                for (int i = 0; i < kRounds; ++i)
                {
                    TRefPtr<TSharedSlots> copy = own;
                    TRefPtr<TSharedSlots> moved = std::move(copy);
                }
                own->Slots[t] = t + 1;
                own.Reset();
            });
    }
    shared.Reset();
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(FDestroyed, 1);
    EXPECT_EQ(sum, kThreads * (kThreads + 1) / 2);
}

}   // namespace
}   // namespace harvolin
