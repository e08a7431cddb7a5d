#include "kernels/SLKernelDispatch.h"

#include <gtest/gtest.h>

#include <barrier>
#include <thread>

namespace harvolin
{
namespace
{

int Generic(int x)
{
    return x;
}
int ForClass5(int x)
{
    return x + 100;
}
int ForClass6To9(int x)
{
    return x + 200;
}

// Restores the process-wide code so that no other test's kernels bind to a variant.
class SLKernelDispatchTest : public ::testing::Test
{
protected:
    void TearDown() override { SetProcessorClass(0); }
};

TEST_F(SLKernelDispatchTest, ProcessorClassesSelectTheirVariant)
{
    EXPECT_EQ(SelectKernelVariant(0), 0);
    EXPECT_EQ(SelectKernelVariant(4), 0);
    EXPECT_EQ(SelectKernelVariant(5), 1);
    for (std::uint32_t code = 6; code <= 9; ++code)
        EXPECT_EQ(SelectKernelVariant(code), 2) << code;
    EXPECT_EQ(SelectKernelVariant(10), 0);
    EXPECT_EQ(SelectKernelVariant(15), 0);
    EXPECT_EQ(SelectKernelVariant(16), 3);
    EXPECT_EQ(SelectKernelVariant(17), 3);
    EXPECT_EQ(SelectKernelVariant(18), 0);
    EXPECT_EQ(SelectKernelVariant(0xFFFFFFFFu), 0);
}

TEST_F(SLKernelDispatchTest, FirstCallBindsTheGenericImplementationByDefault)
{
    EXPECT_EQ(ProcessorClass(), 0u);
    TKernelEntry<int(int)> entry{&Generic, &ForClass5, &ForClass6To9};
    EXPECT_EQ(entry.Bound(), nullptr);
    EXPECT_EQ(entry(1), 1);
    EXPECT_EQ(entry.Bound(), &Generic);
}

TEST_F(SLKernelDispatchTest, BindingIsKeptWhenTheProcessorClassChangesLater)
{
    SetProcessorClass(5);
    TKernelEntry<int(int)> entry{&Generic, &ForClass5, &ForClass6To9};
    EXPECT_EQ(entry(1), 101);
    SetProcessorClass(7);
    EXPECT_EQ(entry(1), 101);
}

TEST_F(SLKernelDispatchTest, MissingVariantFallsBackToGeneric)
{
    SetProcessorClass(16);
    TKernelEntry<int(int)> entry{&Generic, &ForClass5, &ForClass6To9};
    EXPECT_EQ(entry(3), 3);
    EXPECT_EQ(entry.Bound(), &Generic);
}

TEST(SLKernelDispatchConcurrencyTest, ThreadsRacingOnTheFirstCallAllGetTheSameImplementation)
{
    TKernelEntry<int(int)> entry{&Generic, &ForClass5, &ForClass6To9};
    std::barrier start(2);
    int results[2] = {};
    auto call = [&](int slot)
    {
        start.arrive_and_wait();
        results[slot] = entry(slot);
    };
    std::thread first(call, 0);
    std::thread second(call, 1);
    first.join();
    second.join();
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 1);
    EXPECT_EQ(entry.Bound(), &Generic);
}

}   // namespace
}   // namespace harvolin
