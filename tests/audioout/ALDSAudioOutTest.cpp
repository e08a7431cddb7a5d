#include "audioout/ALDSAudioOut.h"
#include "audioout/DSErrors.h"
#include "media/AlsaAudioDevice.h"
#include "media/AudioDevices.h"
#include "media/AudioRenderer.h"
#include "rtl/DescriptionReader.h"
#include "rtl/DescriptionWriter.h"
#include "rtl/Diagnostics.h"
#include "tests/audioout/ALDSAudioOutTestSupport.h"
#include "tests/support/AlsaTestConfig.h"
#include "tests/support/TestThreads.h"
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;
using testing::TTestAudioSource;

constexpr char kBrokenDevice[] = "Harvolin broken device";

// A playback PCM that exists in the hints and cannot be opened: its card is not there.
const auto* const GAlsaConfig = ::testing::AddGlobalTestEnvironment(new testing::TAlsaTestEnvironment(
    "pcm.harvbroken {\n"
    "    type hw\n"
    "    card 99\n"
    "    hint { show on description \"" + std::string(kBrokenDevice) + "\" }\n"
    "}\n"));

// One audio output playing on the null renderer (unpaced, recording), fed by a source the test drives on
// its own thread, which is also the window thread with a message loop of its own.
class ALDSAudioOutTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Diagnostics().Reset();
        FPreviousHandler = SetDiagnosticHandler(
            [this](const TDiagnostic& diagnostic)
            {
                std::lock_guard lock(FReportsLock);
                FReports.push_back(diagnostic.Message);
            });
        FFolder = testing::TestFolder("harvolin-output");
        SetNullRendererOptions({.Paced = false, .BufferDuration = 40ms, .RecordTo = FFolder / "played.wav"});
        FOut = MakeComponent<TALDSAudioOut>();
        FOut->AudioOutputDevice().SetDeviceName(kNullAudioRendererFriendlyName);
        ASSERT_TRUE(FOut->InputPin.Connect(&FSource->OutputPin));
    }
    void TearDown() override
    {
        FOut.reset();
        FSource.reset();
        SetNullRendererOptions({});
        SetDiagnosticHandler(FPreviousHandler);
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }

    // Started for frames-long blocks at rate, resumed: the graph runs.
    void StartPlaying(std::int32_t frames, std::uint32_t rate)
    {
        FSource->StartWave(frames, rate);
        FSource->Resume();
        ASSERT_TRUE(FOut->Running());
    }
    bool Reported(const std::string& message)
    {
        std::lock_guard lock(FReportsLock);
        return std::find(FReports.begin(), FReports.end(), message) != FReports.end();
    }
    // Records OnError's calls; handled says what the handler answers.
    void RecordErrors(bool handled)
    {
        FOut->Graph().SetOnError(
            [this, handled](TComponent* sender, const std::string& text, std::int32_t code, bool& answer)
            {
                FErrors.push_back({sender, text, code, std::this_thread::get_id()});
                answer = handled;
            });
    }

    struct TError
    {
        TComponent* Sender;
        std::string Text;
        std::int32_t Code;
        std::thread::id Thread;
    };

    TMessageLoop FLoop;   // first: the graph object's hidden window needs the thread's queue
    std::filesystem::path FFolder;
    TComponentPtr<TTestAudioSource> FSource = MakeComponent<TTestAudioSource>();
    TComponentPtr<TALDSAudioOut> FOut;
    std::vector<TError> FErrors;   // window thread only
    std::mutex FReportsLock;
    std::vector<std::string> FReports;
    TDiagnosticHandler FPreviousHandler;
};

TEST_F(ALDSAudioOutTest, ADescriptionAlwaysSaysHowThePipelinePumpsAndKeepsTheHookOnlyWhenSet)
{
    auto out = MakeComponent<TALDSAudioOut>();
    out->SetName("ALDSAudioOut1");
    out->AudioOutputDevice().SetDeviceName(kNullAudioRendererFriendlyName);
    const std::string stored = WriteDescription(*out);
    EXPECT_NE(stored.find("EnableMasterPumping = False"), std::string::npos) << stored;
    EXPECT_EQ(stored.find("Enabled = True"), std::string::npos) << stored;
    EXPECT_EQ(stored.find("_Graph"), std::string::npos) << stored;

    out->SetGraphHook("ExpandGraph");
    out->SetEnabled(false);
    auto read = ReadComponent(WriteDescription(*out));
    auto& copy = dynamic_cast<TALDSAudioOut&>(*read);
    EXPECT_EQ(copy.GraphHook(), "ExpandGraph");
    EXPECT_FALSE(copy.Enabled());
    EXPECT_EQ(copy.AudioOutputDevice().DeviceName(), kNullAudioRendererFriendlyName);
}

TEST_F(ALDSAudioOutTest, BlocksWithoutStampAdvanceByTheirDurationAndStampsSetThePosition)
{
    StartPlaying(441, 44100);
    FSource->Send(441);
    // 441 x 1 000 000 / 44 100
    ASSERT_TRUE(Eventually([&] { return FOut->StreamPosition() == 10000; }));
    const auto stamped = testing::MakeAudioBlock(441, 0);
    stamped->MediaStorage().SetTimes(true, 500000, 510000);
    FSource->Send(stamped);
    ASSERT_TRUE(Eventually([&] { return FOut->StreamPosition() == 510000; }));
    FSource->Send(441);
    ASSERT_TRUE(Eventually([&] { return FOut->StreamPosition() == 520000; }));
}

TEST_F(ALDSAudioOutTest, TheSourceFilterGetsTheBlockDurationOrOneSecondWithoutALength)
{
    struct TCase
    {
        std::int32_t Frames;
        std::uint32_t Rate;
        std::uint32_t DurationMs;
    };
    for (const TCase& c : {TCase{0, 44100, 1000}, TCase{4410, 44100, 100}, TCase{1024, 100000, 10}})
    {
        SCOPED_TRACE(c.Frames);
        FSource->StartWave(c.Frames, c.Rate);
        EXPECT_TRUE(FOut->DeviceOpen());
        EXPECT_EQ(FOut->BufferDurationMs(), c.DurationMs);
    }
}

TEST_F(ALDSAudioOutTest, ASecondStartWaveRebuildsAndPlaysOnlyAfterTheNextResume)
{
    StartPlaying(441, 44100);
    FSource->Send(441);
    ASSERT_TRUE(Eventually([&] { return FOut->StreamPosition() == 10000; }));

    FSource->StartWave(441, 44100);
    EXPECT_FALSE(FOut->Running());
    EXPECT_TRUE(FOut->FormatKnown());
    EXPECT_TRUE(FOut->DeviceOpen());
    FSource->Send(441);
    FSource->Send(441);
    EXPECT_EQ(FOut->QueuedBlocks(), 2u);

    FSource->Resume();
    EXPECT_TRUE(FOut->Running());
    // The start counts the stream from 0 again, and both blocks waiting play.
    ASSERT_TRUE(Eventually([&] { return FOut->StreamPosition() == 20000; }));
    EXPECT_EQ(FOut->QueuedBlocks(), 0u);
}

TEST_F(ALDSAudioOutTest, NeitherAStopNorDisablingStopsARunningGraph)
{
    StartPlaying(441, 44100);
    FSource->Stop();
    EXPECT_TRUE(FOut->Running());
    FOut->SetEnabled(false);
    EXPECT_TRUE(FOut->Running());
    FSource->Send(441);
    ASSERT_TRUE(Eventually([&] { return FOut->StreamPosition() == 10000; }));
}

TEST_F(ALDSAudioOutTest, APumpRequestIsClaimedOnlyWithMasterPumpingAndOverALowerClaim)
{
    struct TCase
    {
        bool MasterPumping;
        std::uint8_t ClaimLevel;
        std::int32_t Priority;
        bool Claimed;
    };
    int other = 0;
    for (const TCase& c : {TCase{false, TOWPumpRequestOperation::kRequested, -5, false},
                           TCase{true, TOWPumpRequestOperation::kRequested, -5, true},
                           TCase{true, TOWPumpRequestOperation::kClaimed, 0, false},
                           TCase{true, TOWPumpRequestOperation::kClaimed, 3, false},
                           TCase{true, TOWPumpRequestOperation::kClaimed, -1, true}})
    {
        SCOPED_TRACE(::testing::Message() << c.MasterPumping << " " << int(c.ClaimLevel) << " " << c.Priority);
        FOut->SetEnableMasterPumping(c.MasterPumping);
        const auto request = MakeRef<TOWPumpRequestOperation>(&other, 97.65625f, c.Priority, c.ClaimLevel);
        FSource->OutputPin.Notify(request);
        if (c.Claimed)
        {
            EXPECT_EQ(request->Claimant(), static_cast<TOWClaimant>(FOut.get()));
            EXPECT_EQ(request->ClaimLevel(), TOWPumpRequestOperation::kClaimed);
            EXPECT_EQ(request->PumpPriority(), 0);
        }
        else
        {
            EXPECT_EQ(request->Claimant(), static_cast<TOWClaimant>(&other));
            EXPECT_EQ(request->PumpPriority(), c.Priority);
        }
    }
}

TEST_F(ALDSAudioOutTest, ThePrefillAsksForAtMostSixBlocksAndEndsEarlyOnAResume)
{
    FOut->SetEnableMasterPumping(true);
    FSource->OutputPin.Notify(MakeRef<TOWPumpRequestOperation>(FSource.get(), 97.65625f, 0,
                                                              TOWPumpRequestOperation::kRequested));
    FSource->StartWave(1024, 100000);
    // Nobody answers: five requests while not resumed, then one more, and the graph starts.
    FSource->StartPump();
    EXPECT_EQ(FSource->Requests(), 6);
    EXPECT_TRUE(FOut->Running());

    // Again, with a resume arriving with the second request: the prefill ends there; the resume asks once
    // (no clock advise yet), and one more request follows the prefill. The new start forgets the claim, as
    // every stop of playback does, so the claim comes after it.
    FSource->StartWave(1024, 100000);
    FSource->OutputPin.Notify(MakeRef<TOWPumpRequestOperation>(FSource.get(), 97.65625f, 0,
                                                              TOWPumpRequestOperation::kRequested));
    FSource->OnRequest = [this](int count)
    {
        if (count == 8)
            FSource->Resume();
    };
    FSource->StartPump();
    EXPECT_EQ(FSource->Requests(), 6 + 4);
    EXPECT_TRUE(FOut->Running());
}

TEST_F(ALDSAudioOutTest, ANewDeviceNameWhilePlayingStopsAndClosesUntilTheNextStart)
{
    StartPlaying(441, 44100);
    FOut->AudioOutputDevice().SetDeviceName("Default");
    EXPECT_FALSE(FOut->Running());
    EXPECT_FALSE(FOut->DeviceOpen());
    EXPECT_FALSE(FOut->FormatKnown());
    FSource->Send(441);
    EXPECT_EQ(FOut->QueuedBlocks(), 0u);

    FOut->AudioOutputDevice().SetDeviceName(kNullAudioRendererFriendlyName);
    StartPlaying(441, 44100);
    FSource->Send(441);
    ASSERT_TRUE(Eventually([&] { return FOut->StreamPosition() == 10000; }));
}

TEST_F(ALDSAudioOutTest, InADesignerNothingPlaysAndTheQueueStaysWithinItsBound)
{
    auto designer = MakeComponent<TComponent>();
    designer->SetDesigning(true);
    auto& designed = CreateComponent<TALDSAudioOut>(*designer);
    designed.AudioOutputDevice().SetDeviceName(kNullAudioRendererFriendlyName);
    auto source = MakeComponent<TTestAudioSource>();
    ASSERT_TRUE(designed.InputPin.Connect(&source->OutputPin));
    source->StartWave(441, 44100);
    source->Resume();
    ASSERT_TRUE(designed.Running());

    for (std::size_t i = 0; i + 1 < TALDSAudioOut::kPlayQueueCapacity; ++i)
        source->Send(441);
    EXPECT_FALSE(source->AskForRoom()) << "refused before the queue is full";
    source->Send(441);
    EXPECT_TRUE(source->AskForRoom());
    source->Send(441);
    source->Send(441);
    EXPECT_EQ(designed.QueuedBlocks(), TALDSAudioOut::kPlayQueueCapacity);
    EXPECT_EQ(designed.DroppedBlocks(), 2u);
    EXPECT_EQ(designed.StreamPosition(), 0);
    EXPECT_TRUE(Reported("the play queue is full (3 blocks) and the device does not play: the oldest block "
                         "was dropped"));
    designed.InputPin.Disconnect();
}

// ---- failures ----

using ALDSAudioOutFailureTest = ALDSAudioOutTest;

TEST_F(ALDSAudioOutFailureTest, ADeviceThatCannotBeOpenedIsReportedThroughOnErrorThenRaised)
{
    FOut->AudioOutputDevice().SetDeviceName(kBrokenDevice);
    ASSERT_EQ(FOut->AudioOutputDevice().DeviceName(), kBrokenDevice);
    RecordErrors(false);
    FSource->StartWave(1024, 100000);

    ASSERT_EQ(FErrors.size(), 1u);
    EXPECT_EQ(FErrors[0].Sender, FOut.get());
    EXPECT_EQ(FErrors[0].Text, "Can't render audio output.");
    EXPECT_EQ(FErrors[0].Code, VFW_E_NO_AUDIO_HARDWARE);
    EXPECT_EQ(FErrors[0].Thread, std::this_thread::get_id());
    // Unhandled: the exception left the operation, and the delivery that swallowed it reported it.
    EXPECT_TRUE(Reported("Can't render audio output. - 2147746390 - 80040256"));
    EXPECT_FALSE(FOut->DeviceOpen());

    // Nothing hangs and nothing plays: blocks and a resume come and go.
    FSource->Resume();
    FSource->Send(1024);
    EXPECT_FALSE(FOut->Running());
    EXPECT_EQ(FOut->StreamPosition(), 0);
}

TEST_F(ALDSAudioOutFailureTest, AHandledErrorIsNotRaised)
{
    FOut->AudioOutputDevice().SetDeviceName(kBrokenDevice);
    RecordErrors(true);
    FSource->StartWave(1024, 100000);
    ASSERT_EQ(FErrors.size(), 1u);
    EXPECT_EQ(FErrors[0].Text, "Can't render audio output.");
    EXPECT_FALSE(Reported("Can't render audio output. - 2147746390 - 80040256"));
    EXPECT_TRUE(FOut->FormatKnown());
    EXPECT_FALSE(FOut->DeviceOpen());
}

TEST_F(ALDSAudioOutFailureTest, AFailureOnAnotherThreadReachesOnErrorOnTheWindowThread)
{
    FOut->AudioOutputDevice().SetDeviceName(kBrokenDevice);
    FOut->SetEnableMasterPumping(true);
    RecordErrors(true);
    FSource->OutputPin.Notify(MakeRef<TOWPumpRequestOperation>(FSource.get(), 97.65625f, 0,
                                                              TOWPumpRequestOperation::kRequested));
    FSource->StartWave(1024, 100000);
    ASSERT_EQ(FErrors.size(), 1u);

    // The start of the pump on a thread of its own: the graph cannot start, and that thread says nothing.
    std::thread([&] { FSource->StartPump(); }).join();
    ASSERT_EQ(FErrors.size(), 1u);
    ASSERT_TRUE(FLoop.RunUntil([&] { return FErrors.size() == 2; }, kPatience));
    EXPECT_EQ(FErrors[1].Sender, FOut.get());
    EXPECT_EQ(FErrors[1].Text, "Can't start render.");
    EXPECT_EQ(FErrors[1].Code, 0);
    EXPECT_EQ(FErrors[1].Thread, std::this_thread::get_id());
}

TEST_F(ALDSAudioOutFailureTest, ALostDeviceStopsPlaybackAndTellsOnErrorAndOnDeviceLost)
{
    FOut->AudioOutputDevice().SetDeviceName(testing::kAlsaTestPcmDescription);
    RecordErrors(true);
    int lost = 0;
    FOut->Graph().OnDeviceLost = [&](TComponent* sender)
    {
        EXPECT_EQ(sender, FOut.get());
        ++lost;
    };
    StartPlaying(1024, 100000);
    IBaseFilter* found = nullptr;
    ASSERT_EQ(FOut->Graph().FilterGraph()->FindFilterByName("Audio Render", &found), S_OK);
    const TRefPtr<IBaseFilter> renderer = AdoptRef(found);
    auto& device = dynamic_cast<TAlsaAudioDevice&>(dynamic_cast<TAudioRenderer&>(*renderer).Device());
    device.FailNextWrite(-ENODEV);

    FSource->Send(1024);
    ASSERT_TRUE(FLoop.RunUntil([&] { return lost == 1; }, kPatience));
    ASSERT_EQ(FErrors.size(), 1u);
    EXPECT_EQ(FErrors[0].Text.rfind("Audio device lost. audio device 'harvtest'", 0), 0u) << FErrors[0].Text;
    EXPECT_EQ(FErrors[0].Code, EC_DEVICE_LOST);
    EXPECT_FALSE(FOut->Running());
    EXPECT_FALSE(FOut->FormatKnown());

    // The next start builds the graph again, and the device plays.
    StartPlaying(1024, 100000);
    FSource->Send(1024);
    ASSERT_TRUE(Eventually([&] { return FOut->StreamPosition() == 10240; }));
}

// ---- a device that stops taking samples ----

using ALDSAudioOutConcurrencyTest = ALDSAudioOutTest;

TEST_F(ALDSAudioOutConcurrencyTest, SendersAndDestructionGoOnWhenTheDeviceStopsTakingSamples)
{
    SetNullRendererOptions({.Paced = true, .BufferDuration = 40ms, .RecordTo = {}});
    StartPlaying(1024, 100000);
    // The renderer holds its device while the output still runs the graph: the device takes 40 ms more and
    // then nothing, and the player's delivery waits in it.
    IBaseFilter* found = nullptr;
    ASSERT_EQ(FOut->Graph().FilterGraph()->FindFilterByName("Audio Render", &found), S_OK);
    ASSERT_EQ(AdoptRef(found)->Pause(), S_OK);

    // A sender that does not ask for room: it waits a bounded time once, then the oldest blocks go.
    for (int i = 0; i < 12; ++i)
        FSource->Send(1024);
    EXPECT_GT(FOut->DroppedBlocks(), 0u);
    EXPECT_LE(FOut->MostQueuedBlocks(), TALDSAudioOut::kPlayQueueCapacity);
    EXPECT_TRUE(FSource->AskForRoom()) << "a producer that asks skips its ticks";
    EXPECT_TRUE(Reported("the device took no block for 200 ms; blocks are dropped until it takes one again"));

    // Destruction stops the graph to free the stuck delivery instead of waiting for it for ever.
    FOut.reset();
    EXPECT_TRUE(Reported("the device took no sample for 200 ms; the graph was stopped to end the delivery"));
}

}   // namespace
}   // namespace harvolin
