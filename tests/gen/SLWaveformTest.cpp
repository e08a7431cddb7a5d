#include "gen/SLWaveform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace harvolin
{
namespace
{

constexpr double kKernel2Pi = 6.283185307179586;

// A generator's synthesis at the program's stream settings: 100000 samples per second, blocks of 1024.
class SLWaveformTest : public ::testing::Test
{
protected:
    SLWaveformTest()
    {
        FWave.SetAmplitude(20000.0);
        FWave.SetFrequency(1000.0);
        Start(100000.0);
    }

    void Start(double rate)
    {
        FWave.SampleRateChanged(rate);
        FWave.ResetState();
    }

    std::vector<double> Block(std::int32_t n = 1024)
    {
        std::vector<double> block(static_cast<std::size_t>(n), 12345.0);
        FWave.GenerateBlock(block.data(), n);
        return block;
    }

    static bool AllEqual(const std::vector<double>& block, double value)
    {
        for (double sample : block)
            if (sample != value)
                return false;
        return true;
    }

    TSLWaveform FWave;
};

TEST_F(SLWaveformTest, ParameterRulesNormaliseFrequencyAndAsymmetry)
{
    EXPECT_TRUE(FWave.SetFrequency(-5.0));
    EXPECT_EQ(FWave.Frequency(), 0.0);
    EXPECT_FALSE(FWave.SetFrequency(std::numeric_limits<double>::quiet_NaN()));   // still 0: unchanged
    EXPECT_EQ(FWave.Frequency(), 0.0);
    EXPECT_TRUE(FWave.SetFrequency(250.0));
    EXPECT_FALSE(FWave.SetFrequency(250.0));

    FWave.SetAsymmetry(10.0);
    EXPECT_EQ(FWave.Asymmetry(), SignalPi);
    FWave.SetAsymmetry(-10.0);
    EXPECT_EQ(FWave.Asymmetry(), -SignalPi);
    EXPECT_EQ(SignalPi, 3.141592621);
}

TEST_F(SLWaveformTest, PhaseSetsBothRunningPhasesHalfACycleApart)
{
    FWave.SetPhase(1.0);
    EXPECT_EQ(FWave.PhaseState(), 1.0);
    EXPECT_EQ(FWave.SquarePhaseState(), 1.0 + SignalPi);
    FWave.SetPhase(4.0);
    EXPECT_EQ(FWave.SquarePhaseState(), 4.0 + SignalPi - 2.0 * SignalPi);
}

TEST_F(SLWaveformTest, ToneBlocksJoinInPhase)
{
    const auto first = Block();
    EXPECT_EQ(first[0], 20000.0);
    for (std::size_t k = 0; k < first.size(); ++k)
        ASSERT_NEAR(first[k], 20000.0 * std::cos(kKernel2Pi * 0.01 * static_cast<double>(k)), 1e-7) << k;
    EXPECT_NEAR(FWave.PhaseState(), 0.24 * kKernel2Pi, 1e-12);
    const auto second = Block();
    EXPECT_NEAR(second[0], 20000.0 * std::cos(0.24 * kKernel2Pi), 1e-7);
}

TEST_F(SLWaveformTest, FrequencyChangeStepsAtTheBlockBoundaryWithoutAJump)
{
    (void)Block();
    const double boundary = FWave.PhaseState();
    FWave.SetFrequency(3000.0);
    const auto block = Block();
    for (std::size_t k = 0; k < 8; ++k)
        EXPECT_NEAR(block[k], 20000.0 * std::cos(boundary + kKernel2Pi * 0.03 * static_cast<double>(k)),
                    1e-7);
}

TEST_F(SLWaveformTest, EveryStartBeginsAtThePhase)
{
    FWave.SetPhase(0.5);
    (void)Block();
    (void)Block();
    Start(100000.0);
    EXPECT_EQ(FWave.PhaseState(), 0.5);
    EXPECT_NEAR(Block()[0], 20000.0 * std::cos(0.5), 1e-9);
}

TEST_F(SLWaveformTest, NegativeAmplitudeGivesTheSameTone)
{
    const auto positive = Block();
    Start(100000.0);
    FWave.SetAmplitude(-20000.0);
    EXPECT_EQ(Block(), positive);
}

TEST_F(SLWaveformTest, RefusedParametersGiveSilence)
{
    FWave.SetFrequency(50000.0);   // half the sample rate
    EXPECT_TRUE(AllEqual(Block(), 0.0));
    FWave.SetFrequency(1000.0);
    FWave.SetAmplitude(0.0);
    EXPECT_TRUE(AllEqual(Block(), 0.0));
    FWave.SetAmplitude(1.0);
    FWave.SetPhase(7.0);   // outside [0, 2 pi): silent, and the phase does not advance
    EXPECT_TRUE(AllEqual(Block(), 0.0));
    EXPECT_EQ(FWave.PhaseState(), 7.0);
    FWave.SetPhase(0.0);
    EXPECT_EQ(Block()[0], 1.0);
}

TEST_F(SLWaveformTest, OffsetIsAddedAfterTheShape)
{
    FWave.SetSignalType(stDc);
    FWave.SetAmplitude(-7.0);
    FWave.SetOffset(2.0);
    EXPECT_TRUE(AllEqual(Block(), -5.0));
    FWave.SetSignalType(stTone);
    FWave.SetFrequency(60000.0);   // refused: silence, then the offset
    EXPECT_TRUE(AllEqual(Block(), 2.0));
}

TEST_F(SLWaveformTest, SquareHoldsItsLevelForHalfACycleEach)
{
    FWave.SetSignalType(stSquare);
    FWave.SetFrequency(1000.0);   // 100 samples a cycle
    FWave.SetAmplitude(-300.0);
    const auto block = Block();
    for (std::size_t k = 0; k < block.size(); ++k)
    {
        const std::size_t inCycle = k % 100;
        if (inCycle == 0 || inCycle == 50)
            continue;   // on an edge the sampled level depends on rounding
        ASSERT_EQ(block[k], inCycle < 50 ? 300.0 : -300.0) << k;
    }
    const auto next = Block();   // continues in phase: sample 1024 is 24 samples into a cycle
    EXPECT_EQ(next[0], 300.0);
    EXPECT_EQ(next[30], -300.0);
}

TEST_F(SLWaveformTest, SquareWithZeroAmplitudeOrRefusedRampIsSilent)
{
    FWave.SetSignalType(stSquare);
    FWave.SetAmplitude(0.0);
    EXPECT_TRUE(AllEqual(Block(), 0.0));
    FWave.SetAmplitude(10.0);
    (void)Block();   // leaves ramp values in the scratch block
    FWave.SetFrequency(70000.0);
    EXPECT_TRUE(AllEqual(Block(), 0.0));
}

TEST_F(SLWaveformTest, SwitchingToSquareContinuesFromTheTonesPhase)
{
    (void)Block();
    const double running = FWave.PhaseState();
    FWave.SetSignalType(stSquare);
    EXPECT_EQ(FWave.PhaseState(), running);
    EXPECT_EQ(FWave.SquarePhaseState(),
              running + SignalPi > 2 * SignalPi ? running - SignalPi : running + SignalPi);
    // 0.24 of a cycle in: still in the high half.
    const auto block = Block();
    EXPECT_EQ(block[0], 20000.0);
    EXPECT_EQ(block[30], -20000.0);
}

TEST_F(SLWaveformTest, TriangleUsesTheAsymmetry)
{
    FWave.SetSignalType(stTriangle);
    FWave.SetAmplitude(1.0);
    FWave.SetFrequency(25000.0);   // f = 0.25
    const auto block = Block(9);
    const std::vector<double> expected{1, 0, -1, 0, 1, 0, -1, 0, 1};
    for (std::size_t k = 0; k < expected.size(); ++k)
        EXPECT_NEAR(block[k], expected[k], 1e-12) << k;
}

TEST_F(SLWaveformTest, JaehneSweepRestartsEveryBlock)
{
    FWave.SetSignalType(stJaehne);
    FWave.SetAmplitude(-2.0);
    const auto first = Block();
    EXPECT_EQ(first[0], 0.0);
    const long double argument = 1023.0L * (1023.0L * ((std::numbers::pi_v<long double> / 2) / 1024.0L));
    EXPECT_NEAR(first[1023], static_cast<double>(2.0L * std::sin(argument)), 1e-12);
    EXPECT_EQ(Block(), first);
    EXPECT_EQ(Block(1)[0], 0.0);
}

}   // namespace
}   // namespace harvolin
