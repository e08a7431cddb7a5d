#include "media/AlsaAudioDevice.h"
#include "media/AudioRenderer.h"
#include "media/RateConverter.h"
#include "rtl/Diagnostics.h"
#include "tests/support/AlsaTestConfig.h"
#include "tests/support/MediaTestPins.h"
#include "tests/support/PulseServer.h"
#include "tests/support/TestThreads.h"
#include "tests/support/ToneAnalysis.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

// The tests that play through a PulseAudio server load its client library into this process, and that
// library hands memory between its own threads through atomics of its own, built without ThreadSanitizer,
// which therefore takes them for races inside the library. Only races with a frame in it are set aside.
// Of the test programs that load the library, only this one has concurrency tests, the ones
// ThreadSanitizer runs: a program that gains some needs these suppressions too.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libpulsecommon\nrace:libpulse.so\n";
}

namespace harvolin
{
namespace
{

constexpr TGUID kRendererClass = MakeGuid("{6D1F0C52-93A4-4B7E-8E25-4C0B7A91D3E2}");
constexpr TPcmFormat kStream{2, 16, 100000};
constexpr std::uint32_t kBlockFrames = 1024;

std::filesystem::path Recorded(const std::string& name)
{
    return testing::TAlsaTestEnvironment::Folder() / name;
}

// Besides the test PCM of every test program: PCMs that record what they are given into files of the
// private folder, at whatever pace they are fed (ALSA's file PCM over its null PCM); plugs that would
// convert the rate to what those files take with ALSA's linear converter, were it let in; and `server`,
// the pulse plugin on whichever server the running test serves.
std::string PcmDefinitions()
{
    std::string text;
    const auto capture = [&](const char* name, const char* extra)
    {
        text += std::string("pcm.") + name + " { type file; slave.pcm \"null\"; file \"" +
                Recorded(std::string(name) + ".raw").string() + "\"; format \"raw\"" + extra + " }\n";
    };
    const auto plug = [&](const char* name, const char* slave, std::uint32_t rate)
    {
        text += std::string("pcm.") + name + " { type plug; rate_converter \"linear\"; slave { pcm \"" +
                slave + "\"; rate " + std::to_string(rate) + "; format S16_LE } }\n";
    };
    capture("cap100", "; hint { show on description \"Test device\" }");
    capture("cap48", "");
    capture("cap44", "");
    plug("rate48", "cap48", 48000);
    plug("rate44", "cap44", 44100);
    text += "pcm.twolines { type null; hint { show on description \"First line\nSecond line\" } }\n"
            "pcm.broken { type file; file \"/nonexistent/folder/out.raw\" }\n" +
            TPulseServer::AlsaDefinitions("server");
    return text;
}

const auto* const kConfiguration =
    ::testing::AddGlobalTestEnvironment(new testing::TAlsaTestEnvironment(PcmDefinitions()));

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// frameCount stereo frames whose bytes all differ from their neighbours', so that a lost, doubled or
// shifted byte shows.
std::vector<std::uint8_t> Pattern(std::uint32_t frameCount, std::uint32_t seed = 0)
{
    std::vector<std::uint8_t> bytes(std::size_t{frameCount} * kStream.BlockAlign());
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>((i + seed) * 7 + (i + seed) / 251);
    return bytes;
}

class AlsaAudioDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* file : {"cap100.raw", "cap48.raw", "cap44.raw"})
            std::filesystem::remove(Recorded(file));
    }
    // Plays a second of a high tone into pcm, a plug that takes deviceRate only and records into file,
    // and measures what arrived against what was sent. ALSA's linear converter, were it the one that
    // converts, would leave an alias of the tone 24 dB down and the tone 1 dB low. The stream's converter
    // may hold back up to heldBackMs of it.
    static void ExpectConvertedAtHighQuality(const char* pcm, std::uint32_t deviceRate,
                                             std::uint32_t heldBackMs, const char* file);
    static TDeviceResult WriteAll(IAudioDevice& device, const std::vector<std::uint8_t>& bytes)
    {
        return device.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size() / kStream.BlockAlign()));
    }

    // The stream's media type, as a source pin offers it to a renderer.
    std::vector<std::uint8_t> FFormatBlock = WaveFormat(kStream.Channels, kStream.FramesPerSecond, 16);
    AM_MEDIA_TYPE FType{MEDIATYPE_Audio,
                        MEDIASUBTYPE_PCM,
                        1,
                        0,
                        1,
                        FORMAT_WaveFormatEx,
                        nullptr,
                        static_cast<std::uint32_t>(FFormatBlock.size()),
                        FFormatBlock.data()};
    TRefPtr<IPin> FSource = MakeComObject<TStandInOutputPin, IPin>();
};

TEST_F(AlsaAudioDeviceTest, PlaysTheStreamAtItsOwnRateByteForByte)
{
    TAlsaAudioDevice device("cap100");
    ASSERT_EQ(device.Open(kStream).Message, "");
    ASSERT_TRUE(device.Start().Ok());
    const auto first = Pattern(3 * kBlockFrames);
    const auto second = Pattern(kBlockFrames / 2, 99);
    EXPECT_TRUE(WriteAll(device, first).Ok());
    EXPECT_TRUE(WriteAll(device, second).Ok());
    EXPECT_EQ(device.FramesPlayed(), 3 * kBlockFrames + kBlockFrames / 2);
    device.Close();
    auto expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(ReadFile(Recorded("cap100.raw")), expected);
}

// The file PCM over the null one plays what it is given at once, even before a start: what can be seen
// without a paced device is that the states follow each other without losing or doubling a frame.
TEST_F(AlsaAudioDeviceTest, AStopRefusesWritesUntilTheDeviceIsReadiedAgain)
{
    TAlsaAudioDevice device("cap100");
    ASSERT_TRUE(device.Open(kStream).Ok());
    device.Pause();
    const auto held = Pattern(kBlockFrames);
    EXPECT_TRUE(WriteAll(device, held).Ok());
    ASSERT_TRUE(device.Start().Ok());
    EXPECT_EQ(device.FramesPlayed(), kBlockFrames);

    // Stopped: writes are refused until the device is readied again, and the count stays.
    device.Stop();
    EXPECT_EQ(WriteAll(device, Pattern(8)).Status, TDeviceStatus::Stopped);
    EXPECT_EQ(device.FramesPlayed(), kBlockFrames);
    ASSERT_TRUE(device.Start().Ok());
    const auto after = Pattern(kBlockFrames, 5);
    EXPECT_TRUE(WriteAll(device, after).Ok());
    EXPECT_EQ(device.FramesPlayed(), 2 * kBlockFrames);
    device.Close();
    auto expected = held;
    expected.insert(expected.end(), after.begin(), after.end());
    EXPECT_EQ(ReadFile(Recorded("cap100.raw")), expected);
}

TEST_F(AlsaAudioDeviceTest, ARendererConnectedToItPlaysWhatItReceives)
{
    auto* renderer = new TAudioRenderer(std::make_unique<TAlsaAudioDevice>("cap100"), kRendererClass);
    TRefPtr<IBaseFilter> filter(renderer);
    IPin* input = renderer->InputPin();
    ASSERT_EQ(input->ReceiveConnection(FSource.Get(), &FType), S_OK) << renderer->LastError();
    auto memInput = QueryAs<IMemInputPin>(input);
    auto allocator = Allocator(*memInput, kBlockFrames * 4);
    ASSERT_EQ(filter->Run(0), S_OK);
    std::vector<std::uint8_t> played;
    for (std::uint32_t block = 0; block < 4; ++block)
    {
        const auto bytes = Pattern(kBlockFrames, block * 13);
        ASSERT_EQ(memInput->Receive(Filled(*allocator, bytes).Get()), S_OK);
        played.insert(played.end(), bytes.begin(), bytes.end());
    }
    REFERENCE_TIME now = 0;
    ASSERT_EQ(renderer->GetTime(&now), S_OK);
    EXPECT_EQ(now, 4 * kBlockFrames * 10);   // 10 microseconds a frame
    ASSERT_EQ(filter->Stop(), S_OK);
    ASSERT_EQ(allocator->Decommit(), S_OK);
    ASSERT_EQ(input->Disconnect(), S_OK);
    EXPECT_EQ(ReadFile(Recorded("cap100.raw")), played);
}

TEST_F(AlsaAudioDeviceTest, TheListingShowsAHintedPcmWithItsDescriptionOnOneLine)
{
    TDiagnosticCapture capture;
    const auto pcms = ListAlsaPlaybackPcms();
    // The PCMs of the machine's configuration that need a card do not fit here: that is no failure.
    EXPECT_EQ(capture.Delivered(), std::vector<TDiagnostic>{});
    auto find = [&](const std::string& name) {
        return std::find_if(pcms.begin(), pcms.end(),
                            [&](const TAlsaPcmHint& pcm) { return pcm.Name == name; });
    };
    ASSERT_NE(find("cap100"), pcms.end());
    EXPECT_EQ(find("cap100")->Description, "Test device");
    ASSERT_NE(find("twolines"), pcms.end());
    EXPECT_EQ(find("twolines")->Description, "First line, Second line");
    // No sound card here, and none pretended.
    EXPECT_EQ(AlsaSoundCardCount(), 0);
}

TEST_F(AlsaAudioDeviceTest, OpeningAPcmThatDoesNotExistFailsNamingIt)
{
    TDiagnosticCapture capture;   // ALSA's own complaint goes there
    TAlsaAudioDevice device("nosuchpcm");
    const TDeviceResult opened = device.Open(kStream);
    EXPECT_EQ(opened.Status, TDeviceStatus::Failed);
    EXPECT_EQ(opened.Message, "audio device 'nosuchpcm': snd_pcm_open: No such file or directory");
    // Nothing is open, so nothing plays.
    EXPECT_EQ(WriteAll(device, Pattern(4)).Status, TDeviceStatus::Failed);
    EXPECT_EQ(device.Start().Status, TDeviceStatus::Failed);
}

TEST_F(AlsaAudioDeviceTest, AFormatItCannotPlayFailsOpenSayingWhich)
{
    TAlsaAudioDevice device("cap100");
    const TDeviceResult opened = device.Open({2, 24, 100000});
    EXPECT_EQ(opened.Status, TDeviceStatus::Failed);
    EXPECT_EQ(opened.Message, "audio device 'cap100': open: plays 16-bit frames only, not 24-bit ones");
}

TEST_F(AlsaAudioDeviceTest, ADeviceThatVanishedIsLostAtOnceForEveryLaterWriteUntilOpenedAgain)
{
    TAlsaAudioDevice device("cap100");
    ASSERT_TRUE(device.Open(kStream).Ok());
    ASSERT_TRUE(device.Start().Ok());
    const auto before = Pattern(kBlockFrames);
    ASSERT_TRUE(WriteAll(device, before).Ok());
    device.FailNextWrite(-ENODEV);
    const TDeviceResult lost = WriteAll(device, Pattern(kBlockFrames, 1));
    EXPECT_EQ(lost.Status, TDeviceStatus::Lost);
    EXPECT_EQ(lost.Message, "audio device 'cap100': snd_pcm_writei: No such device");
    // Every later write is refused at once: had one reached ALSA, the file PCM would have recorded it.
    constexpr int kAttempts = 50;
    int refused = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt)
        refused += WriteAll(device, Pattern(kBlockFrames, 2)).Status == TDeviceStatus::Lost;
    EXPECT_EQ(refused, kAttempts);
    EXPECT_EQ(device.Start().Status, TDeviceStatus::Lost);
    device.Pause();
    device.Stop();
    EXPECT_EQ(device.FramesPlayed(), kBlockFrames);
    device.Close();
    EXPECT_EQ(ReadFile(Recorded("cap100.raw")), before);

    // A device opened again plays again.
    ASSERT_TRUE(device.Open(kStream).Ok());
    ASSERT_TRUE(device.Start().Ok());
    EXPECT_TRUE(WriteAll(device, before).Ok());
}

TEST_F(AlsaAudioDeviceTest, ARendererOverAVanishedDeviceRaisesDeviceLostOnce)
{
    auto device = std::make_unique<TAlsaAudioDevice>("cap100");
    TAlsaAudioDevice& alsa = *device;
    auto* renderer = new TAudioRenderer(std::move(device), kRendererClass);
    TRefPtr<IBaseFilter> filter(renderer);
    auto graph = MakeComObject<TListeningGraph, IFilterGraph>();
    ASSERT_EQ(filter->JoinFilterGraph(graph.Get(), "Renderer"), S_OK);
    IPin* input = renderer->InputPin();
    ASSERT_EQ(input->ReceiveConnection(FSource.Get(), &FType), S_OK) << renderer->LastError();
    auto memInput = QueryAs<IMemInputPin>(input);
    auto allocator = Allocator(*memInput, kBlockFrames * 4);
    ASSERT_EQ(filter->Run(0), S_OK);
    TDiagnosticCapture capture;
    ASSERT_EQ(memInput->Receive(Filled(*allocator, Pattern(kBlockFrames)).Get()), S_OK);
    alsa.FailNextWrite(-EIO);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(memInput->Receive(Filled(*allocator, Pattern(kBlockFrames, 3)).Get()), E_FAIL);
    EXPECT_EQ(static_cast<TListeningGraph*>(graph.Get())->Events,
              (std::vector<std::int32_t>{EC_DEVICE_LOST}));
    EXPECT_EQ(capture.Delivered(),
              (std::vector<TDiagnostic>{{"cap100", "playing a sample",
                                         "audio device 'cap100': snd_pcm_writei: Input/output error"}}));
    EXPECT_EQ(alsa.FramesPlayed(), kBlockFrames);
    ASSERT_EQ(filter->Stop(), S_OK);
    ASSERT_EQ(allocator->Decommit(), S_OK);
    ASSERT_EQ(input->Disconnect(), S_OK);
    ASSERT_EQ(filter->JoinFilterGraph(nullptr, nullptr), S_OK);
}

TEST_F(AlsaAudioDeviceTest, ALSAsOwnComplaintsReachTheDiagnosticsSinkNotStandardError)
{
    TDiagnosticCapture capture;
    ::testing::internal::CaptureStderr();
    TAlsaAudioDevice unknown("nosuchpcm");
    TAlsaAudioDevice broken("broken");   // a file PCM without the PCM it should write through
    const TDeviceResult unknownOpened = unknown.Open(kStream);
    const TDeviceResult brokenOpened = broken.Open(kStream);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(unknownOpened.Status, TDeviceStatus::Failed);
    EXPECT_EQ(brokenOpened.Status, TDeviceStatus::Failed);
    EXPECT_EQ(brokenOpened.Message.rfind("audio device 'broken': snd_pcm_open: ", 0), 0u)
        << brokenOpened.Message;
    const auto reports = capture.Delivered();
    auto reported = [&](const std::string& words)
    {
        return std::any_of(reports.begin(), reports.end(),
                           [&](const TDiagnostic& report) {
                               return report.Object == "ALSA" &&
                                      report.Message.find(words) != std::string::npos;
                           });
    };
    EXPECT_TRUE(reported("Unknown PCM nosuchpcm")) << ::testing::PrintToString(reports);
    EXPECT_TRUE(reported("slave")) << ::testing::PrintToString(reports);
}

void AlsaAudioDeviceTest::ExpectConvertedAtHighQuality(const char* pcm, std::uint32_t deviceRate,
                                                       std::uint32_t heldBackMs, const char* file)
{
    constexpr double kFrequency = 19000;   // high, where a poor converter's alias would show
    constexpr double kAmplitude = 16384;   // -6 dB of full scale
    const std::vector<TSine> sines{{kFrequency, kAmplitude, 0.0}};
    const auto tone =
        SynthesiseTones(sines, kStream.FramesPerSecond, kStream.FramesPerSecond, kStream.Channels);
    const auto sent = AnalyseTone(tone, kStream.Channels, 0, kStream.FramesPerSecond);
    TAlsaAudioDevice device(pcm);
    ASSERT_EQ(device.Open(kStream).Message, "");
    EXPECT_EQ(device.DeviceRate(), deviceRate);
    ASSERT_TRUE(device.Start().Ok());
    // What the program's converter makes of the same blocks: what ALSA must be handed, unchanged.
    TRateConverter converter(kStream.FramesPerSecond, deviceRate, kStream.Channels);
    std::vector<std::int16_t> converted;
    for (std::uint32_t frame = 0; frame < kStream.FramesPerSecond; frame += kBlockFrames)
    {
        const std::uint32_t count = std::min(kBlockFrames, kStream.FramesPerSecond - frame);
        const std::int16_t* block = tone.data() + std::size_t{kStream.Channels} * frame;
        ASSERT_TRUE(device.Write(reinterpret_cast<const std::uint8_t*>(block), count).Ok());
        converter.Process(block, count, converted);
    }
    // The clock keeps the stream's time: a second of stream is, up to what the converter holds back (its
    // filter is the longer the lower the device's rate), a second played.
    const std::int64_t played = device.FramesPlayed();
    EXPECT_LE(played, kStream.FramesPerSecond);
    EXPECT_GE(played, kStream.FramesPerSecond - kStream.FramesPerSecond / 1000 * heldBackMs);
    device.Close();

    const auto bytes = ReadFile(Recorded(file));
    std::vector<std::int16_t> recorded(bytes.size() / 2);
    std::memcpy(recorded.data(), bytes.data(), recorded.size() * 2);
    // A second at the device's rate, less what the converter holds back: exactly what it made, so no
    // converter of ALSA's came between.
    const std::size_t frames = recorded.size() / 2;
    EXPECT_LE(frames, deviceRate);
    EXPECT_GE(frames, deviceRate - deviceRate / 1000 * heldBackMs);
    EXPECT_TRUE(recorded == converted)
        << recorded.size() / 2 << " frames recorded, " << converted.size() / 2 << " converted";
    for (std::uint16_t channel = 0; channel < 2; ++channel)
    {
        // From 50 ms on, clear of the converter's start.
        const auto arrived = AnalyseTone(recorded, 2, channel, deviceRate);
        EXPECT_NEAR(arrived.FrequencyHz, kFrequency, 0.1) << "channel " << channel;
        EXPECT_NEAR(arrived.LevelDbfs, sent.LevelDbfs, kToneLevelToleranceDb) << "channel " << channel;
        EXPECT_LT(arrived.SpurDbfs, kSpurLimitDbfs)
            << "channel " << channel << ": a component at " << arrived.SpurFrequencyHz << " Hz";
        // And all else together (aliases, noise, a tone at the wrong frequency) far below the tone.
        EXPECT_LT(arrived.RestDbfs - arrived.LevelDbfs, -70.0) << "channel " << channel;
    }
}

TEST_F(AlsaAudioDeviceTest, ADeviceThatRefusesTheStreamsRateGetsItConvertedAtHighQuality)
{
    ExpectConvertedAtHighQuality("rate48", 48000, 10, "cap48.raw");
}

TEST_F(AlsaAudioDeviceTest, ADeviceAt44100HzGetsTheStreamConvertedAtHighQualityToo)
{
    ExpectConvertedAtHighQuality("rate44", 44100, 20, "cap44.raw");
}

// The tests that play into a PulseAudio server of their own, reached as the `server` PCM.
class AlsaAudioDeviceServerTest : public AlsaAudioDeviceTest
{
protected:
    void SetUp() override
    {
        AlsaAudioDeviceTest::SetUp();
        if (!TPulseServer::Installed())
            GTEST_SKIP() << "pulseaudio is not installed: no sound server to play into";
        // A server that does not start is a failure, not a reason to skip.
        FServer = std::make_unique<TPulseServer>();
        FServer->ServeThisProcess();
    }

    std::unique_ptr<TPulseServer> FServer;
};

TEST_F(AlsaAudioDeviceServerTest, ASoundServerIsHandedItsOwnRateNotTheStreams)
{
    // The server's plugin would take 100 000 Hz and leave the conversion to the server.
    TAlsaAudioDevice device("server");
    ASSERT_EQ(device.Open(kStream).Message, "");
    EXPECT_EQ(device.DeviceRate(), TPulseServer::kRate);
    ASSERT_TRUE(device.Start().Ok());
    ASSERT_TRUE(WriteAll(device, Pattern(4 * kBlockFrames)).Ok());
    // Counted in the stream's frames still.
    EXPECT_TRUE(Eventually([&] { return device.FramesPlayed() > 2 * kBlockFrames; }));
    EXPECT_LE(device.FramesPlayed(), 4 * kBlockFrames);
    device.Close();
    EXPECT_EQ(device.DeviceRate(), 0u);

    TAlsaAudioDevice direct("cap100");
    ASSERT_TRUE(direct.Open(kStream).Ok());
    EXPECT_EQ(direct.DeviceRate(), kStream.FramesPerSecond);
}

TEST_F(AlsaAudioDeviceServerTest, AStreamThatStopsArrivingForAWhilePlaysOnWithTheNextWrite)
{
    TAlsaAudioDevice device("server");
    ASSERT_EQ(device.Open(kStream).Message, "");
    ASSERT_TRUE(device.Start().Ok());
    TDiagnosticCapture capture;
    std::int64_t written = 0;
    for (int gap = 0; gap < 2; ++gap)
    {
        ASSERT_TRUE(WriteAll(device, Pattern(16 * kBlockFrames)).Ok());
        written += 16 * kBlockFrames;
        // Played out up to what the converter holds back (it works in blocks of its own, some tens of
        // milliseconds): past all that was written before the gap.
        ASSERT_TRUE(Eventually([&] { return device.FramesPlayed() >= written - 8 * kBlockFrames; }))
            << device.FramesPlayed() << " of " << written;
    }
    EXPECT_LE(device.FramesPlayed(), written);
    device.Close();
    EXPECT_EQ(capture.Delivered(), std::vector<TDiagnostic>{});
}

TEST_F(AlsaAudioDeviceTest, UnderrunsAndSuspendsRecoverQuietlyWithTheFirstReported)
{
    TAlsaAudioDevice device("cap100");
    ASSERT_TRUE(device.Open(kStream).Ok());
    ASSERT_TRUE(device.Start().Ok());
    TDiagnosticCapture capture;
    std::vector<std::uint8_t> played;
    for (std::uint32_t block = 0; block < 6; ++block)
    {
        // ALSA's writes fail before the block is taken; the device recovers and takes all of it.
        device.FailNextWrite(block % 2 == 0 ? -EPIPE : -ESTRPIPE);
        const auto bytes = Pattern(kBlockFrames, block);
        ASSERT_EQ(WriteAll(device, bytes).Message, "");
        played.insert(played.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(device.FramesPlayed(), 6 * kBlockFrames);
    device.Close();
    EXPECT_EQ(ReadFile(Recorded("cap100.raw")), played);
    EXPECT_EQ(
        capture.Delivered(),
        (std::vector<TDiagnostic>{
            {"cap100", "playing",
             "audio device 'cap100': snd_pcm_writei: Broken pipe (recovered; later ones are counted)"},
            {"cap100", "playing",
             "audio device 'cap100': snd_pcm_writei: Streams pipe error (recovered; later ones are counted)"},
            {"cap100", "playing",
             "audio device 'cap100': 3 underruns and 3 suspends recovered since it was opened"}}));
}

TEST_F(AlsaAudioDeviceServerTest, APausedDeviceHoldsWhatItTakesAndPlaysItOnStart)
{
    TAlsaAudioDevice device("server");
    ASSERT_EQ(device.Open(kStream).Message, "");
    device.Pause();
    // 20 ms of stream: less than a period of the device (20 ms) once the converter has held back its
    // share, yet it plays: the start does not wait for more.
    ASSERT_TRUE(WriteAll(device, Pattern(2 * kBlockFrames)).Ok());
    EXPECT_EQ(device.FramesPlayed(), 0);
    ASSERT_TRUE(device.Start().Ok());
    EXPECT_TRUE(Eventually([&] { return device.FramesPlayed() > 0; }));
    EXPECT_LE(device.FramesPlayed(), 2 * kBlockFrames);
}

using AlsaAudioDeviceConcurrencyTest = AlsaAudioDeviceTest;

TEST_F(AlsaAudioDeviceConcurrencyTest, FramesPlayedIsReadFromAnotherThreadWhileWritesGoOn)
{
    TAlsaAudioDevice device("cap100");
    ASSERT_TRUE(device.Open(kStream).Ok());
    ASSERT_TRUE(device.Start().Ok());
    constexpr std::uint32_t kBlocks = 64;
    std::atomic<bool> done{false};
    std::atomic<std::int64_t> reads{0};
    std::vector<std::int64_t> seen;
    std::thread reader(
        [&]
        {
            while (!done.load())
            {
                seen.push_back(device.FramesPlayed());
                reads.fetch_add(1);
            }
        });
    // Reads before, between and after the writes, however the two threads are scheduled.
    const auto readAgain = [&]
    { return Eventually([&, before = reads.load()] { return reads.load() > before; }); };
    // No assertion may leave the test while the reader runs: expectations only, until it is joined.
    EXPECT_TRUE(readAgain());
    std::vector<std::uint8_t> played;
    bool written = true;
    for (std::uint32_t block = 0; written && block < kBlocks; ++block)
    {
        const auto bytes = Pattern(kBlockFrames, block);
        written = WriteAll(device, bytes).Ok();
        EXPECT_TRUE(written);
        played.insert(played.end(), bytes.begin(), bytes.end());
        if (block == kBlocks / 2)
        {
            EXPECT_TRUE(readAgain());
        }
    }
    EXPECT_TRUE(readAgain());
    done = true;
    reader.join();
    ASSERT_TRUE(written);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    ASSERT_FALSE(seen.empty());
    EXPECT_LE(seen.back(), std::int64_t{kBlocks} * kBlockFrames);
    EXPECT_EQ(device.FramesPlayed(), std::int64_t{kBlocks} * kBlockFrames);
    device.Close();
    EXPECT_EQ(ReadFile(Recorded("cap100.raw")), played);
}

using AlsaAudioDeviceServerConcurrencyTest = AlsaAudioDeviceServerTest;

TEST_F(AlsaAudioDeviceServerConcurrencyTest, StopWakesAWriteThatWaitsOnAPausedDevice)
{
    TAlsaAudioDevice device("server");
    ASSERT_EQ(device.Open(kStream).Message, "");
    device.Pause();
    // A second of stream into a paused device with a tenth of a second of room: only Stop can end it.
    const auto second = Pattern(kStream.FramesPerSecond);
    std::atomic<pid_t> writer{0};
    TDeviceResult result;
    std::thread writing(
        [&]
        {
            writer = ::gettid();
            result = WriteAll(device, second);
        });
    ASSERT_TRUE(Eventually([&] { return writer != 0 && WaitsInPoll(writer); }));
    device.Stop();
    writing.join();
    EXPECT_EQ(result.Status, TDeviceStatus::Stopped);
    EXPECT_EQ(device.FramesPlayed(), 0);
}

TEST_F(AlsaAudioDeviceServerConcurrencyTest, StopWakesAWriteThatWaitsOnAPlayingDevice)
{
    TAlsaAudioDevice device("server");
    ASSERT_EQ(device.Open(kStream).Message, "");
    ASSERT_TRUE(device.Start().Ok());
    const auto second = Pattern(kStream.FramesPerSecond);
    TDeviceResult result;
    std::thread writing([&] { result = WriteAll(device, second); });
    // Playing, paced by the server's clock: a second of stream takes about a second to go in.
    ASSERT_TRUE(Eventually([&] { return device.FramesPlayed() > 0; }));
    device.Stop();
    writing.join();
    EXPECT_EQ(result.Status, TDeviceStatus::Stopped);
    const std::int64_t played = device.FramesPlayed();
    EXPECT_LT(played, std::int64_t{kStream.FramesPerSecond});
    // Nothing more plays after the stop, and the count never goes back.
    ASSERT_TRUE(device.Start().Ok());
    EXPECT_EQ(device.FramesPlayed(), played);
}

}   // namespace
}   // namespace harvolin
