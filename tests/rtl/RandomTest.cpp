#include "rtl/Random.h"

#include <chrono>
#include <gtest/gtest.h>

#include <ctime>

namespace harvolin
{
namespace
{

class TFixedClock final : public ITimeOfDaySource
{
public:
    TTimeOfDay Time;
    TTimeOfDay Now() const override { return Time; }
};

class RandomTest : public ::testing::Test
{
protected:
    TFixedClock FClock;
    TRandomSource FRandom{FClock};
};

TEST_F(RandomTest, RandomizeSeedsWithTheMillisecondsOfTheDay)
{
    FClock.Time = {1, 2, 3, 456};
    FRandom.Randomize();
    EXPECT_EQ(FRandom.Seed(), 3723456u);

    FClock.Time = {23, 59, 59, 999};
    FRandom.Randomize();
    EXPECT_EQ(FRandom.Seed(), 86399999u);
}

TEST_F(RandomTest, DrawsFollowTheCongruentialSequence)
{
    // Reference values computed independently with arbitrary-precision integers.
    FRandom.SetSeed(0);
    EXPECT_EQ(FRandom.Random(100), 0u);
    EXPECT_EQ(FRandom.Seed(), 1u);
    EXPECT_EQ(FRandom.Random(1000), 31u);
    EXPECT_EQ(FRandom.Seed(), 134775814u);
    EXPECT_EQ(FRandom.Random(0), 0u);
    EXPECT_EQ(FRandom.Seed(), 3698175007u);   // Random(0) still advances the seed
    EXPECT_EQ(FRandom.Random(19000), 3849u);
    EXPECT_EQ(FRandom.Random(7), 1u);
    EXPECT_EQ(FRandom.Seed(), 1172187917u);
}

TEST_F(RandomTest, ResultIsTheUpperHalfOfTheProductAndStaysBelowN)
{
    FRandom.SetSeed(1298181734u);   // the next seed is 0xFFFFFFFF, the largest fraction of the range
    EXPECT_EQ(FRandom.Random(10), 9u);
    FRandom.SetSeed(1298181734u);
    EXPECT_EQ(FRandom.Random(0xFFFFFFFFu), 0xFFFFFFFEu);
}

TEST_F(RandomTest, DrawsFromTheSameSeedLandAtTheSameFractionOfTheirRanges)
{
    FClock.Time = {1, 2, 3, 456};
    FRandom.Randomize();
    const auto frequencyDraw = FRandom.Random(19000);
    FRandom.Randomize();
    const auto volumeDraw = FRandom.Random(45);
    EXPECT_EQ(frequencyDraw, 15641u);
    EXPECT_EQ(volumeDraw, 37u);
}

TEST(TimeOfDayTest, SystemClockGivesTheTimeOfDayInUniversalTime)
{
    // The reference is the same precise clock: std::time() may read a coarser one that lags behind it by
    // a tick, which made this check fail now and then.
    const auto seconds = []
    {
        using namespace std::chrono;
        return duration_cast<std::chrono::seconds>(system_clock::now().time_since_epoch()).count();
    };
    const std::int64_t before = seconds();
    const TTimeOfDay now = SystemTimeOfDay().Now();
    const std::int64_t after = seconds();
    const std::int64_t secondsOfDay = MillisecondsOfDay(now) / 1000;
    const std::int64_t beforeOfDay = before % 86400;
    const std::int64_t afterOfDay = after % 86400;
    if (afterOfDay < beforeOfDay)
        GTEST_SKIP() << "midnight passed during the reading";
    EXPECT_GE(secondsOfDay, beforeOfDay);
    EXPECT_LE(secondsOfDay, afterOfDay);
    EXPECT_LE(now.Millisecond, 999);
}

}   // namespace
}   // namespace harvolin
