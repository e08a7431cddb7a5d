#include "app/Pipeline.h"
#include "app/frmMain.h"
#include "audioout/ALDSAudioOut.h"
#include "controls/ExtCtrls.h"
#include "controls/StdCtrls.h"
#include "controls/VrSpectrum.h"
#include "controls/VrTrackBar.h"
#include "convert/ALRealToAudio.h"
#include "gen/SLClockGen.h"
#include "gen/SLSignalGen.h"
#include "media/AudioDevices.h"
#include "rtl/DescriptionText.h"
#include "rtl/qt/QtMessageQueue.h"
#include "tests/audioout/ALDSAudioOutTestSupport.h"
#include "tests/support/AlsaTestConfig.h"
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;
using testing::kBlockMicroseconds;

using testing::kBrokenDevice;
using testing::kUnwritableDevice;

// No sound card: a device that cannot be opened, a `default` that cannot either, one lost while it plays.
const auto* const GAlsaConfig =
    ::testing::AddGlobalTestEnvironment(new testing::TAlsaTestEnvironment(testing::NoSoundCardAlsaDefinitions()));

// The program's window, made from its own description, with the pipeline it owns playing on the null
// renderer (paced as a sound card, recorded), on this thread as the window thread with Qt's message loop.
// Threads: the pipeline's clock and player threads run beside the test.
class MainWindowConcurrencyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FFolder = testing::TestFolder("harvolin-window");
        FRecording = FFolder / "played.wav";
        SetNullRendererOptions({.Paced = true, .BufferDuration = 40ms, .RecordTo = FRecording});
        ASSERT_NE(TApplication::Instance(), nullptr);
        TApplication::Instance()->OnException = [this](const std::string& message) { FMessages.push_back(message); };
        FBefore = testing::TProcessResources::Baseline();
        FQueue = std::make_unique<TQtMessageQueue>();
    }
    void TearDown() override
    {
        FWindow.reset();
        FQueue.reset();
        TApplication::Instance()->OnException = nullptr;
        SetNullRendererOptions({});
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }

    void Open(const std::string& device = kNullAudioRendererFriendlyName)
    {
        FWindow = TfmMain::Create(device);
        FWindow->Show();
    }
    template <class T>
    T& Part(const char* name)
    {
        auto* part = dynamic_cast<T*>(FWindow->FindComponent(name));
        if (part == nullptr)
            throw std::runtime_error(std::string("no such part of the window: ") + name);
        return *part;
    }
    std::string Caption(const char* label) { return Part<TLabel>(label).Caption(); }
    // A click of the mouse on the button's own push button, as a person makes it.
    void Click(const char* button)
    {
        auto* push = Part<TButton>(button).findChild<QPushButton*>();
        ASSERT_NE(push, nullptr);
        QTest::mouseClick(push, Qt::LeftButton);
    }
    // Runs the message loop (graph events, posted calls, timers) until condition holds; false when the
    // patience ran out.
    bool ServeUntil(const std::function<bool()>& condition, std::chrono::milliseconds patience = kPatience)
    {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!condition())
        {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            QCoreApplication::processEvents();
            YieldThread();
        }
        return true;
    }
    std::optional<REFERENCE_TIME> Played() { return PlayedStreamTime(FWindow->ALDSAudioOut1()); }
    bool PlayedAtLeast(REFERENCE_TIME microseconds)
    {
        const auto played = Played();
        return played && *played >= microseconds;
    }
    // Whether closing the window the way its title bar's close box does is accepted.
    bool CloseBoxAccepted()
    {
        QCloseEvent close;
        QCoreApplication::sendEvent(FWindow.get(), &close);
        return close.isAccepted();
    }

    std::filesystem::path FFolder;
    std::filesystem::path FRecording;
    testing::TProcessResources FBefore;
    std::unique_ptr<TQtMessageQueue> FQueue;
    TComponentPtr<TfmMain> FWindow;
    std::vector<std::string> FMessages;
};

// The number a read-out shows in front of its unit ("12345 Hz", "42 %").
int ReadOut(const std::string& caption)
{
    int value = -1;
    EXPECT_EQ(std::sscanf(caption.c_str(), "%d", &value), 1) << caption;
    return value;
}

struct TGeometry
{
    const char* Name;
    int Left;
    int Top;
    int Width;
    int Height;
};

TEST_F(MainWindowConcurrencyTest, TheWindowIsMadeFromItsDescriptionAndNothingRunsUntilStart)
{
    Open();
    EXPECT_EQ(FWindow->Caption(), "Harvolin");
    EXPECT_EQ(FWindow->ClientWidth(), 545);
    EXPECT_EQ(FWindow->ClientHeight(), 353);
    EXPECT_EQ(FWindow->minimumSize(), FWindow->maximumSize()) << "the window must not be resizable";

    // The pins are linked as stored: the generator feeds both converter inputs, the converter the output.
    auto& generator = FWindow->SLSignalGen1();
    auto& converter = Part<TALRealToAudio>("ALRealToAudio1");
    auto& output = FWindow->ALDSAudioOut1();
    ASSERT_EQ(generator.OutputPin.SinkCount(), 2u);
    ASSERT_EQ(converter.InputPins.Count(), 2u);
    for (std::size_t k = 0; k < 2; ++k)
    {
        auto* input = dynamic_cast<TOWSinkPin*>(converter.InputPins.Pins(k));
        ASSERT_NE(input, nullptr);
        EXPECT_EQ(input->GetSourcePin(), &generator.OutputPin);
    }
    ASSERT_EQ(converter.OutputPin.SinkCount(), 1u);
    EXPECT_EQ(converter.OutputPin.Sinks(0), &output.InputPin);

    // Nothing plays: the generator has no clock, and no graph is built.
    EXPECT_FALSE(generator.Enabled());
    EXPECT_EQ(generator.ClockItem(), nullptr);
    EXPECT_EQ(ClockGenCount(), 0u);
    EXPECT_FALSE(output.FormatKnown());
    EXPECT_FALSE(output.Running());
    EXPECT_EQ(output.Graph().FilterGraph(), nullptr);
    EXPECT_FALSE(FWindow->Running());

    EXPECT_EQ(Caption("lblFreqMin"), "Fr\xC3\xA9quence Min = 10000 Hz");
    EXPECT_EQ(Caption("lblFreqMax"), "Fr\xC3\xA9quence Max = 20000 Hz");
    EXPECT_EQ(Caption("lblVolMin"), "Volume Min = 25 %");
    EXPECT_EQ(Caption("lblVolMax"), "Volume Max = 70 %");
    EXPECT_EQ(Caption("lblFreq"), "----- Hz");
    EXPECT_EQ(Caption("lblVol"), "-- %");

    for (const TGeometry& part : {TGeometry{"Bevel1", 16, 16, 513, 145}, TGeometry{"Bevel2", 272, 24, 9, 129},
                                  TGeometry{"lblFreq", 176, 24, 89, 17}, TGeometry{"lblVol", 432, 24, 89, 17},
                                  TGeometry{"tbFreqMin", 24, 72, 241, 29}, TGeometry{"tbFreqMax", 24, 120, 241, 29},
                                  TGeometry{"tbVolMin", 280, 72, 241, 29}, TGeometry{"tbVolMax", 280, 120, 241, 29},
                                  TGeometry{"VrSpectrum1", 16, 176, 513, 121}, TGeometry{"btnStart", 16, 312, 81, 25},
                                  TGeometry{"btnStop", 96, 312, 81, 25}, TGeometry{"btnClose", 200, 312, 81, 25}})
    {
        const auto& control = Part<TControl>(part.Name);
        EXPECT_EQ(control.geometry(), QRect(part.Left, part.Top, part.Width, part.Height)) << part.Name;
    }
    // A check box is where it is stored, and as wide at least; wider only as far as its caption needs in
    // this machine's font, and never into the read-out beside it.
    for (const auto& [name, stored, readOut] : {std::tuple{"cbFreqVar", QRect(24, 24, 121, 17), "lblFreq"},
                                                std::tuple{"cbVolVar", QRect(280, 24, 105, 17), "lblVol"}})
    {
        const auto& box = Part<TCheckBox>(name);
        EXPECT_EQ(box.geometry().topLeft(), stored.topLeft()) << name;
        EXPECT_EQ(box.Height(), stored.height()) << name;
        EXPECT_EQ(box.Width(), std::max(stored.width(), box.Box().sizeHint().width())) << name;
        EXPECT_LT(box.Left() + box.Width(), Part<TLabel>(readOut).Left()) << name;
    }
    for (const char* label : {"lblFreqMin", "lblFreqMax", "lblVolMin", "lblVolMax"})
        EXPECT_EQ(Part<TLabel>(label).Left(), std::string(label).starts_with("lblFreq") ? 32 : 288) << label;

    EXPECT_TRUE(Part<TButton>("btnStart").Enabled());
    EXPECT_FALSE(Part<TButton>("btnStop").Enabled());
    EXPECT_TRUE(Part<TButton>("btnClose").Enabled());
    EXPECT_EQ(Part<TButton>("btnStart").findChild<QPushButton*>()->text(), "Start");
    EXPECT_EQ(Part<TButton>("btnStop").findChild<QPushButton*>()->text(), "Stop");
    EXPECT_EQ(Part<TButton>("btnClose").findChild<QPushButton*>()->text(), "Quitter");
    EXPECT_TRUE(Part<TLabel>("lblFreqMax").Enabled());
    EXPECT_TRUE(Part<TVrTrackBar>("tbVolMax").Enabled());
    EXPECT_TRUE(FMessages.empty());
}

// The pipeline tests and the pipeline benchmark read a copy of the window's pipeline (they are built without
// widgets): it must be the window's own, object for object and value for value.
TEST(MainWindowDescriptionTest, TheTestsPipelineIsTheWindowsOwn)
{
    const TDescObject window = ParseDescription(MainWindowDescription());
    const TDescObject pipeline = ParseDescription(WindowPipelineDescription("TfmMain", "csInternal", "False"));
    ASSERT_EQ(pipeline.Children.size(), 3u);
    for (const TDescObject& copy : pipeline.Children)
    {
        const auto own = std::find_if(window.Children.begin(), window.Children.end(),
                                      [&](const TDescObject& child) { return child.Name == copy.Name; });
        ASSERT_NE(own, window.Children.end()) << copy.Name;
        EXPECT_EQ(PrintDescription(*own), PrintDescription(copy)) << copy.Name;
    }
}

TEST_F(MainWindowConcurrencyTest, StartPlaysWhatTheReadOutsShowAndATickMovesItInsideTheRanges)
{
    Open();
    Click("btnStart");
    ASSERT_TRUE(FWindow->Running());
    EXPECT_FALSE(Part<TButton>("btnStart").Enabled());
    EXPECT_TRUE(Part<TButton>("btnStop").Enabled());
    EXPECT_FALSE(Part<TButton>("btnClose").Enabled());
    const int frequency = ReadOut(Caption("lblFreq"));
    const int volume = ReadOut(Caption("lblVol"));
    EXPECT_GE(frequency, 10000);
    EXPECT_LE(frequency, 19999);
    EXPECT_GE(volume, 25);
    EXPECT_LE(volume, 69);
    EXPECT_EQ(FWindow->SLSignalGen1().Frequency(), frequency);
    EXPECT_EQ(FWindow->SLSignalGen1().Amplitude(), volume * 320);
    ASSERT_TRUE(ServeUntil([&] { return PlayedAtLeast(1000000); }));

    // Closing is refused while the tone plays, whichever way it is asked.
    EXPECT_FALSE(CloseBoxAccepted());
    FWindow->Close();
    EXPECT_TRUE(FWindow->isVisible());

    // The tick: new values inside the ranges, and the bar of the new frequency lit at the new volume.
    auto& timer = Part<TTimer>("Timer1");
    EXPECT_TRUE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 3000);
    timer.OnTimer(timer);
    const int newFrequency = ReadOut(Caption("lblFreq"));
    const int newVolume = ReadOut(Caption("lblVol"));
    EXPECT_GE(newFrequency, 10000);
    EXPECT_LE(newFrequency, 19999);
    EXPECT_GE(newVolume, 25);
    EXPECT_LE(newVolume, 69);
    auto& spectrum = Part<TVrSpectrum>("VrSpectrum1");
    for (int bar = 0; bar < spectrum.BarCount(); ++bar)
        EXPECT_EQ(spectrum.Bars(bar).Value(), bar == newFrequency / 1000 ? newVolume : 0) << "bar " << bar;
    const REFERENCE_TIME tickAt = Played().value_or(0);
    ASSERT_TRUE(ServeUntil([&] { return PlayedAtLeast(tickAt + 1000000); }));

    Click("btnStop");
    EXPECT_FALSE(FWindow->Running());
    EXPECT_FALSE(FWindow->SLSignalGen1().Enabled());
    EXPECT_FALSE(timer.Enabled());
    EXPECT_TRUE(Part<TButton>("btnStart").Enabled());
    EXPECT_FALSE(Part<TButton>("btnStop").Enabled());
    EXPECT_TRUE(Part<TButton>("btnClose").Enabled());
    // The read-outs keep their last values.
    EXPECT_EQ(ReadOut(Caption("lblFreq")), newFrequency);

    // Now the window closes, and with it goes every thread of the pipeline.
    Click("btnClose");
    EXPECT_FALSE(FWindow->isVisible());
    FWindow.reset();
    testing::ExpectNothingLeftBehind(FBefore);
    EXPECT_TRUE(FMessages.empty()) << FMessages.front();

    // What the device played is the tone the read-outs showed, then the tick's, without a gap or a jump.
    const std::vector<std::int16_t> samples = testing::ReadRecording(FRecording);
    const std::size_t blocks = samples.size() / (2 * testing::kBlockFrames);
    ASSERT_GE(blocks, 190u);
    const std::size_t change = testing::ExpectContinuousChange(samples, newFrequency, newVolume * 320.0, frequency,
                                                               volume * 320.0);
    EXPECT_GT(change, 90u) << "the tick's tone came before it was drawn";
    EXPECT_LT(change, blocks) << "the tick's tone never arrived";
    // The change reached the device within a tenth of a second of the tick.
    EXPECT_LE(static_cast<std::int64_t>(change) * kBlockMicroseconds - tickAt, 100000);
}

TEST_F(MainWindowConcurrencyTest, ADeviceThatCannotBeOpenedIsToldAndTheWindowIsBackToStopped)
{
    Open(kBrokenDevice);
    Click("btnStart");
    ASSERT_TRUE(ServeUntil([&] { return !FMessages.empty() && !FWindow->Running(); }));
    ASSERT_EQ(FMessages.size(), 1u);
    EXPECT_TRUE(FMessages[0].starts_with("No sound device could be opened: the sound device \"" +
                                         std::string(kBrokenDevice) + "\" (audio device 'harvbroken'"))
        << FMessages[0];
    EXPECT_NE(FMessages[0].find("Choose another device with --device"), std::string::npos) << FMessages[0];
    EXPECT_TRUE(Part<TButton>("btnStart").Enabled());
    EXPECT_FALSE(Part<TButton>("btnStop").Enabled());
    EXPECT_TRUE(Part<TButton>("btnClose").Enabled());
    EXPECT_FALSE(Part<TTimer>("Timer1").Enabled());
    EXPECT_FALSE(FWindow->SLSignalGen1().Enabled());
    // Nothing is tried again: what is still pending in the message loop brings no second message.
    QCoreApplication::processEvents();
    EXPECT_EQ(FMessages.size(), 1u);
    FWindow.reset();
    testing::ExpectNothingLeftBehind(FBefore);
}

TEST_F(MainWindowConcurrencyTest, ADeviceLostWhilePlayingIsToldAndTheWindowIsBackToStopped)
{
    Open(kUnwritableDevice);
    Click("btnStart");
    ASSERT_TRUE(ServeUntil([&] { return !FMessages.empty() && !FWindow->Running(); }));
    ASSERT_EQ(FMessages.size(), 1u);
    EXPECT_TRUE(FMessages[0].starts_with("The sound device \"" + std::string(kUnwritableDevice) +
                                         "\" stopped working while the tone played (audio device 'harvunwritable'"))
        << FMessages[0];
    EXPECT_TRUE(FMessages[0].ends_with("The tone is stopped; check the device, then press Start to play again."))
        << FMessages[0];
    EXPECT_TRUE(Part<TButton>("btnStart").Enabled());
    EXPECT_FALSE(Part<TButton>("btnStop").Enabled());
    EXPECT_FALSE(Part<TTimer>("Timer1").Enabled());
    EXPECT_FALSE(FWindow->SLSignalGen1().Enabled());
    FWindow.reset();
    testing::ExpectNothingLeftBehind(FBefore);
}

// Without a sound card the default device would play on the null renderer, heard by nobody (with one that
// fails, it would not open): either way the user is told, and the window is stopped.
TEST_F(MainWindowConcurrencyTest, WithoutASoundCardStartSaysSoAndTheWindowIsBackToStopped)
{
    Open("Default");
    Click("btnStart");
    ASSERT_TRUE(ServeUntil([&] { return !FMessages.empty() && !FWindow->Running(); }));
    ASSERT_EQ(FMessages.size(), 1u);
    EXPECT_TRUE(FMessages[0].starts_with(
        "No sound device could be opened: the default sound device (audio device 'default': snd_pcm_open: "))
        << FMessages[0];
    EXPECT_TRUE(FMessages[0].ends_with(". Choose another device with --device, or check the sound settings."))
        << FMessages[0];
    EXPECT_TRUE(Part<TButton>("btnStart").Enabled());
    EXPECT_FALSE(Part<TButton>("btnStop").Enabled());
    EXPECT_FALSE(FWindow->SLSignalGen1().Enabled());
    FWindow.reset();
    testing::ExpectNothingLeftBehind(FBefore);
}

}   // namespace
}   // namespace harvolin
