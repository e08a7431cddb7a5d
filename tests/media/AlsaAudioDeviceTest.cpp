#include "media/AlsaAudioDevice.h"
#include "media/AudioRenderer.h"
#include "rtl/Diagnostics.h"
#include "tests/support/MediaTestPins.h"
#include "tests/support/TestThreads.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace harvolin
{
namespace
{

constexpr TGUID kRendererClass = MakeGuid("{6D1F0C52-93A4-4B7E-8E25-4C0B7A91D3E2}");
constexpr TPcmFormat kStream{2, 16, 100000};
constexpr std::uint32_t kBlockFrames = 1024;

// The ALSA configuration of these tests: the machine's own, plus PCMs that record what they are given into
// files of a private folder, at whatever pace they are fed (ALSA's file PCM over its null PCM). ALSA reads
// its configuration once per process, so it is written, and named to ALSA, before any test runs.
class TAlsaConfiguration final : public ::testing::Environment
{
public:
    static std::filesystem::path Folder() { return std::filesystem::temp_directory_path() / FolderName(); }
    void SetUp() override
    {
        std::filesystem::create_directories(Folder());
        const auto path = Folder() / "asound.conf";
        std::ofstream conf(path);
        conf << "<confdir:alsa.conf>\n"
             << "pcm.cap100 { type file; slave.pcm \"null\"; file \"" << (Folder() / "cap100.raw").string()
             << "\"; format \"raw\"; hint { show on description \"Test device\" } }\n"
             << "pcm.cap48 { type file; slave.pcm \"null\"; file \"" << (Folder() / "cap48.raw").string()
             << "\"; format \"raw\" }\n"
             << "pcm.rate48 { type plug; slave { pcm \"cap48\"; rate 48000; format S16_LE } }\n"
             << "pcm.twolines { type null; hint { show on description \"First line\nSecond line\" } }\n"
             << "pcm.broken { type file; file \"/nonexistent/folder/out.raw\" }\n";
        conf.close();
        ASSERT_TRUE(conf) << path;
        ::setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(Folder()); }
private:
    static std::string FolderName() { return "harvolin-alsa-" + std::to_string(::getpid()); }
};

const auto* const kConfiguration = ::testing::AddGlobalTestEnvironment(new TAlsaConfiguration);

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
        std::filesystem::remove(TAlsaConfiguration::Folder() / "cap100.raw");
        std::filesystem::remove(TAlsaConfiguration::Folder() / "cap48.raw");
    }
    static std::filesystem::path Recorded(const char* name) { return TAlsaConfiguration::Folder() / name; }
    static TDeviceResult WriteAll(IAudioDevice& device, const std::vector<std::uint8_t>& bytes)
    {
        return device.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size() / kStream.BlockAlign()));
    }
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
    auto source = MakeComObject<TStandInOutputPin, IPin>();
    auto format = WaveFormat(2, 100000, 16);
    AM_MEDIA_TYPE type{MEDIATYPE_Audio,
                       MEDIASUBTYPE_PCM,
                       1,
                       0,
                       1,
                       FORMAT_WaveFormatEx,
                       nullptr,
                       static_cast<std::uint32_t>(format.size()),
                       format.data()};
    IPin* input = renderer->InputPin();
    ASSERT_EQ(input->ReceiveConnection(source.Get(), &type), S_OK) << renderer->LastError();
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

using AlsaAudioDeviceConcurrencyTest = AlsaAudioDeviceTest;

TEST_F(AlsaAudioDeviceConcurrencyTest, FramesPlayedIsReadFromAnotherThreadWhileWritesGoOn)
{
    TAlsaAudioDevice device("cap100");
    ASSERT_TRUE(device.Open(kStream).Ok());
    ASSERT_TRUE(device.Start().Ok());
    constexpr std::uint32_t kBlocks = 64;
    std::atomic<bool> done{false};
    std::latch reading(1);
    std::vector<std::int64_t> seen;
    std::thread reader(
        [&]
        {
            reading.count_down();
            while (!done.load())
                seen.push_back(device.FramesPlayed());
        });
    reading.wait();
    std::vector<std::uint8_t> played;
    for (std::uint32_t block = 0; block < kBlocks; ++block)
    {
        const auto bytes = Pattern(kBlockFrames, block);
        ASSERT_TRUE(WriteAll(device, bytes).Ok());
        played.insert(played.end(), bytes.begin(), bytes.end());
    }
    done = true;
    reader.join();
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    ASSERT_FALSE(seen.empty());
    EXPECT_LE(seen.back(), std::int64_t{kBlocks} * kBlockFrames);
    EXPECT_EQ(device.FramesPlayed(), std::int64_t{kBlocks} * kBlockFrames);
    device.Close();
    EXPECT_EQ(ReadFile(Recorded("cap100.raw")), played);
}

}   // namespace
}   // namespace harvolin
