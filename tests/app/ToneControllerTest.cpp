#include "app/ToneController.h"
#include "rtl/Diagnostics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

using TLog = std::vector<std::string>;

// Small stand-ins for the window's parts. Each records what the controller did to it in one shared log, so
// tests can check the order of steps, and can be told to fail.
struct TFakeGenerator final : IToneGenerator
{
    TLog& Log;
    double FrequencyValue = 500.0;
    double AmplitudeValue = 20000.0;
    bool EnabledValue = false;
    bool FailEnable = false;
    bool FailDisable = false;
    bool FailSetFrequency = false;

    explicit TFakeGenerator(TLog& log) : Log(log) {}
    double Frequency() const override { return FrequencyValue; }
    void SetFrequency(double value) override
    {
        if (FailSetFrequency)
            throw std::runtime_error("frequency refused");
        Log.push_back("gen.Frequency=" + std::to_string(static_cast<long long>(value)));
        FrequencyValue = value < 0 ? 0 : value;
    }
    double Amplitude() const override { return AmplitudeValue; }
    void SetAmplitude(double value) override
    {
        Log.push_back("gen.Amplitude=" + std::to_string(static_cast<long long>(value)));
        AmplitudeValue = value;
    }
    void SetEnabled(bool value) override
    {
        if ((value && FailEnable) || (!value && FailDisable))
            throw std::runtime_error("generator cannot switch");
        Log.push_back(std::string("gen.Enabled=") + (value ? "1" : "0"));
        EnabledValue = value;
    }
};

struct TFakeAudioOutput final : IAudioOutput
{
    TLog& Log;
    bool EnabledValue = false;
    bool FailDisable = false;
    explicit TFakeAudioOutput(TLog& log) : Log(log) {}
    void SetEnabled(bool value) override
    {
        if (!value && FailDisable)
            throw std::runtime_error("output cannot stop");
        Log.push_back(std::string("out.Enabled=") + (value ? "1" : "0"));
        EnabledValue = value;
    }
};

struct TFakeRange final : IRangeInput
{
    int PositionValue;
    bool EnabledValue = true;
    explicit TFakeRange(int position) : PositionValue(position) {}
    int Position() const override { return PositionValue; }
    void SetEnabled(bool value) override { EnabledValue = value; }
};

struct TFakeCheckBox final : ICheckBox
{
    bool CheckedValue = true;
    bool Checked() const override { return CheckedValue; }
};

struct TFakeLabel final : ILabel
{
    std::string Caption;
    bool EnabledValue = true;
    void SetCaption(const std::string& caption) override { Caption = caption; }
    void SetEnabled(bool value) override { EnabledValue = value; }
};

struct TFakeButton final : IButton
{
    bool EnabledValue = true;
    void SetEnabled(bool value) override { EnabledValue = value; }
};

struct TFakeTimer final : ITimer
{
    TLog& Log;
    bool EnabledValue = false;
    explicit TFakeTimer(TLog& log) : Log(log) {}
    void SetEnabled(bool value) override
    {
        Log.push_back(std::string("timer.Enabled=") + (value ? "1" : "0"));
        EnabledValue = value;
    }
};

struct TFakeSpectrum final : IBarDisplay
{
    std::vector<int> Bars = std::vector<int>(24, 0);
    int BarCount() const override { return static_cast<int>(Bars.size()); }
    void SetBarValue(int index, int value) override { Bars.at(static_cast<std::size_t>(index)) = value; }
};

struct TFakeWindow final : IWindow
{
    const TToneController* Controller = nullptr;
    bool Closed = false;
    void Close() override { Closed = Controller->FormCloseQuery(); }
};

class TSettableClock final : public ITimeOfDaySource
{
public:
    TTimeOfDay Time{12, 0, 0, 0};
    TTimeOfDay Now() const override { return Time; }
};

// The window at its stored initial positions (10 kHz to 20 kHz, 25 % to 70 %, both ranges variable).
class ToneControllerTest : public ::testing::Test
{
protected:
    ToneControllerTest()
    {
        FWindow.Controller = &FController;
        FController.FormCreate();
        FLog.clear();
    }

    void SetClockTo(int millisecondsOfDay)
    {
        const int ms = millisecondsOfDay;
        FClock.Time = {ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000};
    }

    // The draw the controller must make for a range: lo + Random(hi - lo) from the clock's seed.
    std::uint32_t ExpectedDraw(std::uint32_t span)
    {
        TRandomSource reference(FClock);
        reference.Randomize();
        return reference.Random(span);
    }

    TLog FLog;
    TFakeGenerator FGenerator{FLog};
    TFakeAudioOutput FOutput{FLog};
    TFakeRange FFreqMin{10}, FFreqMax{20}, FVolMin{25}, FVolMax{70};
    TFakeCheckBox FFreqVar, FVolVar;
    TFakeLabel FLblFreqMin, FLblFreqMax, FLblVolMin, FLblVolMax, FLblFreq, FLblVol;
    TFakeButton FStart, FStop, FClose;
    TFakeTimer FTimer{FLog};
    TFakeSpectrum FSpectrum;
    TFakeWindow FWindow;
    TSettableClock FClock;
    TRandomSource FRandom{FClock};
    TToneController FController{{FGenerator, FOutput,    FFreqMin, FFreqMax,    FVolMin,
                                 FVolMax,    FFreqVar,   FVolVar,  FLblFreqMin, FLblFreqMax,
                                 FLblVolMin, FLblVolMax, FLblFreq, FLblVol,     FStart,
                                 FStop,      FClose,     FTimer,   FSpectrum,   FWindow},
                                FRandom};
};

TEST_F(ToneControllerTest, FormCreateFillsTheRangeLabelsAndShowsTheStoppedState)
{
    EXPECT_EQ(FLblFreqMin.Caption, "Fréquence Min = 10000 Hz");
    EXPECT_EQ(FLblFreqMax.Caption, "Fréquence Max = 20000 Hz");
    EXPECT_EQ(FLblVolMin.Caption, "Volume Min = 25 %");
    EXPECT_EQ(FLblVolMax.Caption, "Volume Max = 70 %");
    EXPECT_FALSE(FController.Running());
    EXPECT_FALSE(FStop.EnabledValue);
    EXPECT_TRUE(FStart.EnabledValue);
    EXPECT_TRUE(FClose.EnabledValue);
    EXPECT_TRUE(FLblFreqMax.EnabledValue);
    EXPECT_TRUE(FFreqMax.EnabledValue);
}

TEST_F(ToneControllerTest, RangeHandlersOnlyRewriteTheirLabel)
{
    FFreqMin.PositionValue = 3;
    FVolMax.PositionValue = 100;
    FController.tbFreqMinChange();
    FController.tbVolMaxChange();
    EXPECT_EQ(FLblFreqMin.Caption, "Fréquence Min = 3000 Hz");
    EXPECT_EQ(FLblVolMax.Caption, "Volume Max = 100 %");
    EXPECT_TRUE(FLog.empty());   // the generator is not touched
}

TEST_F(ToneControllerTest, StartWithFixedRangesSetsMinValuesThenEnablesInOrder)
{
    FFreqVar.CheckedValue = false;
    FVolVar.CheckedValue = false;
    FController.ActBFStartExecute();
    EXPECT_EQ(FLog, (TLog{"gen.Frequency=10000", "gen.Amplitude=8000", "out.Enabled=1", "gen.Enabled=1",
                          "timer.Enabled=1"}));
    EXPECT_EQ(FLblFreq.Caption, "10000 Hz");
    EXPECT_EQ(FLblVol.Caption, "25 %");
    EXPECT_TRUE(FController.Running());
    EXPECT_FALSE(FStart.EnabledValue);
    EXPECT_FALSE(FClose.EnabledValue);
    EXPECT_TRUE(FStop.EnabledValue);
    EXPECT_EQ(FSpectrum.Bars, std::vector<int>(24, 0));   // the first bar lights at the first tick
}

TEST_F(ToneControllerTest, TickWithFixedRangesChangesNothingButLightsTheCurrentBar)
{
    FFreqVar.CheckedValue = false;
    FVolVar.CheckedValue = false;
    FController.ActBFStartExecute();
    FLog.clear();
    FSpectrum.Bars[3] = 40;
    FController.Timer1Timer();
    EXPECT_TRUE(FLog.empty());
    std::vector<int> expected(24, 0);
    expected[10] = 25;
    EXPECT_EQ(FSpectrum.Bars, expected);
}

TEST_F(ToneControllerTest, VariableDrawsReseedFromTheClockAndShareTheirFraction)
{
    FClock.Time = {1, 2, 3, 456};
    FController.ActBFStartExecute();
    const int frequency = 10000 + static_cast<int>(ExpectedDraw(10000));
    const int percent = 25 + static_cast<int>(ExpectedDraw(45));
    EXPECT_EQ(FGenerator.FrequencyValue, frequency);
    EXPECT_EQ(FGenerator.AmplitudeValue, percent * 320);
    EXPECT_EQ(FLblFreq.Caption, std::to_string(frequency) + " Hz");
    EXPECT_EQ(FLblVol.Caption, std::to_string(percent) + " %");

    FClock.Time = {1, 2, 4, 0};
    FController.Timer1Timer();
    const int nextFrequency = 10000 + static_cast<int>(ExpectedDraw(10000));
    EXPECT_EQ(FGenerator.FrequencyValue, nextFrequency);
    EXPECT_EQ(FSpectrum.Bars[static_cast<std::size_t>(nextFrequency / 1000)],
              25 + static_cast<int>(ExpectedDraw(45)));
}

TEST_F(ToneControllerTest, DrawsStayInsideTheRangeAndNeverReachMax)
{
    FFreqMin.PositionValue = 1;
    FFreqMax.PositionValue = 20;
    FVolMin.PositionValue = 1;
    FVolMax.PositionValue = 100;
    FController.ActBFStartExecute();
    // A day's worth of seeds, spread so that the draws sweep their ranges.
    for (int ms = 0; ms < 86400000; ms += 8641)
    {
        SetClockTo(ms);
        FController.Timer1Timer();
        ASSERT_GE(FGenerator.FrequencyValue, 1000.0);
        ASSERT_LE(FGenerator.FrequencyValue, 19999.0);
        ASSERT_GE(FGenerator.AmplitudeValue, 320.0);
        ASSERT_LE(FGenerator.AmplitudeValue, 99 * 320.0);
        const auto lit =
            std::find_if(FSpectrum.Bars.begin(), FSpectrum.Bars.end(), [](int v) { return v != 0; });
        ASSERT_NE(lit, FSpectrum.Bars.end());
        ASSERT_GE(lit - FSpectrum.Bars.begin(), 1);
        ASSERT_LE(lit - FSpectrum.Bars.begin(), 19);
    }
}

TEST_F(ToneControllerTest, EqualMinAndMaxAlwaysDrawMin)
{
    FFreqMin.PositionValue = 7;
    FFreqMax.PositionValue = 7;
    FVolMin.PositionValue = 40;
    FVolMax.PositionValue = 40;
    for (int ms : {0, 999, 43200000, 86399999})
    {
        SetClockTo(ms);
        FController.ActBFStartExecute();
        EXPECT_EQ(FGenerator.FrequencyValue, 7000.0);
        EXPECT_EQ(FGenerator.AmplitudeValue, 40 * 320.0);
    }
}

TEST_F(ToneControllerTest, MinAboveMaxDrawsOverTheOrderedRange)
{
    FFreqMin.PositionValue = 18;
    FFreqMax.PositionValue = 4;
    FVolMin.PositionValue = 90;
    FVolMax.PositionValue = 10;
    FClock.Time = {1, 2, 3, 456};
    FController.ActBFStartExecute();
    EXPECT_EQ(FGenerator.FrequencyValue, 4000 + static_cast<int>(ExpectedDraw(14000)));
    EXPECT_EQ(FGenerator.AmplitudeValue, (10 + static_cast<int>(ExpectedDraw(80))) * 320);
    for (int ms = 0; ms < 86400000; ms += 86413)
    {
        SetClockTo(ms);
        FController.Timer1Timer();
        ASSERT_GE(FGenerator.FrequencyValue, 4000.0);
        ASSERT_LT(FGenerator.FrequencyValue, 18000.0);
        ASSERT_GE(FGenerator.AmplitudeValue, 10 * 320.0);
        ASSERT_LT(FGenerator.AmplitudeValue, 90 * 320.0);
    }
}

TEST_F(ToneControllerTest, UncheckingARangeWhilePlayingFreezesTheLastDraw)
{
    FController.ActBFStartExecute();
    FClock.Time = {3, 0, 0, 777};
    FController.Timer1Timer();
    const double frozen = FGenerator.FrequencyValue;
    FFreqVar.CheckedValue = false;
    FController.cbFreqVarClick();
    FClock.Time = {3, 0, 3, 1};
    FLog.clear();
    FController.Timer1Timer();
    EXPECT_EQ(FGenerator.FrequencyValue, frozen);
    EXPECT_EQ(FLog.size(), 1u);   // only the amplitude was drawn
    EXPECT_EQ(FLog[0].rfind("gen.Amplitude=", 0), 0u);
}

TEST_F(ToneControllerTest, CheckBoxClicksReapplyTheEnableRulesAtOnce)
{
    FFreqVar.CheckedValue = false;
    FController.cbFreqVarClick();
    EXPECT_FALSE(FLblFreqMax.EnabledValue);
    EXPECT_FALSE(FFreqMax.EnabledValue);
    EXPECT_TRUE(FLblFreqMin.EnabledValue);
    EXPECT_TRUE(FFreqMin.EnabledValue);

    FVolVar.CheckedValue = false;
    FController.cbVolVarClick();
    EXPECT_FALSE(FLblVolMax.EnabledValue);
    EXPECT_FALSE(FVolMax.EnabledValue);
    FVolVar.CheckedValue = true;
    FController.cbVolVarClick();
    EXPECT_TRUE(FLblVolMax.EnabledValue);
    EXPECT_TRUE(FVolMax.EnabledValue);
}

TEST_F(ToneControllerTest, StopDisablesInOrderAndKeepsTheReadOuts)
{
    FController.ActBFStartExecute();
    FController.Timer1Timer();
    const std::string readOut = FLblFreq.Caption;
    const auto bars = FSpectrum.Bars;
    FLog.clear();
    FController.ActBFStopExecute();
    EXPECT_EQ(FLog, (TLog{"out.Enabled=0", "gen.Enabled=0", "timer.Enabled=0"}));
    EXPECT_FALSE(FController.Running());
    EXPECT_TRUE(FStart.EnabledValue);
    EXPECT_FALSE(FStop.EnabledValue);
    EXPECT_EQ(FLblFreq.Caption, readOut);
    EXPECT_EQ(FSpectrum.Bars, bars);
}

TEST_F(ToneControllerTest, ClosingIsRefusedWhilePlaying)
{
    FController.ActBFStartExecute();
    FController.ActAppCloseExecute();
    EXPECT_FALSE(FWindow.Closed);
    FController.ActBFStopExecute();
    FController.ActAppCloseExecute();
    EXPECT_TRUE(FWindow.Closed);
}

TEST_F(ToneControllerTest, StartFailureWhileEnablingIsReportedAndLeavesTheWindowStopped)
{
    FGenerator.FailEnable = true;
    TDiagnosticCapture capture;
    EXPECT_NO_THROW(FController.ActBFStartExecute());
    EXPECT_EQ(capture.Delivered(), (std::vector<TDiagnostic>{
                                       {"tone controller", "starting the tone", "generator cannot switch"}}));
    EXPECT_FALSE(FController.Running());
    EXPECT_TRUE(FOutput.EnabledValue);   // not undone
    EXPECT_FALSE(FTimer.EnabledValue);
    EXPECT_TRUE(FStart.EnabledValue);
    EXPECT_FALSE(FStop.EnabledValue);
}

TEST_F(ToneControllerTest, StartFailureWhileSettingTheFrequencyPropagatesAndStopsStart)
{
    FController.ActBFStopExecute();   // puts the enable rules in a known state
    FStart.EnabledValue = true;
    FGenerator.FailSetFrequency = true;
    FLog.clear();
    EXPECT_THROW(FController.ActBFStartExecute(), std::runtime_error);
    EXPECT_TRUE(FLog.empty());
    EXPECT_FALSE(FController.Running());
    EXPECT_FALSE(FOutput.EnabledValue);
    EXPECT_FALSE(FTimer.EnabledValue);
}

TEST_F(ToneControllerTest, StopFailureStillStopsTheTimerThenPropagates)
{
    FController.ActBFStartExecute();
    FOutput.FailDisable = true;
    EXPECT_THROW(FController.ActBFStopExecute(), std::runtime_error);
    EXPECT_FALSE(FController.Running());
    EXPECT_FALSE(FTimer.EnabledValue);
    EXPECT_TRUE(FGenerator.EnabledValue);   // the generator's step was not reached
    // The enable rules were not re-applied: the buttons still show the playing state.
    EXPECT_FALSE(FStart.EnabledValue);
    EXPECT_TRUE(FStop.EnabledValue);
    EXPECT_TRUE(FController.FormCloseQuery());
}

TEST_F(ToneControllerTest, FrequencyBeyondTheDisplayLightsNoBar)
{
    FFreqVar.CheckedValue = false;
    FVolVar.CheckedValue = false;
    FGenerator.FrequencyValue = 1e30;   // as a peer on the generator's frequency pin could set it
    FSpectrum.Bars[5] = 9;
    FController.Timer1Timer();
    EXPECT_EQ(FSpectrum.Bars, std::vector<int>(24, 0));
}

}   // namespace
}   // namespace harvolin
