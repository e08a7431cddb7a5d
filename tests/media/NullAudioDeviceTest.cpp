#include "media/NullAudioDevice.h"
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
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

using namespace std::chrono_literals;

// One channel of 16 bits at 1000 frames per second: a 100-ms buffer holds 100 frames.
constexpr TPcmFormat kSlow{1, 16, 1000};

std::vector<std::uint8_t> Frames(std::size_t count, std::uint8_t first)
{
    std::vector<std::uint8_t> bytes(count * 2);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

class NullAudioDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FFolder = std::filesystem::temp_directory_path() /
                  ("harvolin-null-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(FFolder);
    }
    void TearDown() override { std::filesystem::remove_all(FFolder); }

    std::filesystem::path FFolder;
};

TEST_F(NullAudioDeviceTest, UnpacedItTakesEverythingAtOnceAndRecordsItByteForByte)
{
    const auto path = FFolder / "played.wav";
    TNullAudioDevice device({.Paced = false, .RecordTo = path});
    ASSERT_TRUE(device.Open({1, 16, 100000}).Ok());
    const auto first = Frames(256, 0);
    const auto second = Frames(250, 7);
    // Taken while paused too: a graph fills its renderer before it runs.
    EXPECT_TRUE(device.Write(first.data(), 256).Ok());
    ASSERT_TRUE(device.Start().Ok());
    EXPECT_TRUE(device.Write(second.data(), 250).Ok());
    EXPECT_EQ(device.FramesPlayed(), 506);
    device.Close();

    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
    ASSERT_EQ(file.size(), 44u + 1012u);
    std::vector<std::uint8_t> expected(first);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 44, file.end()), expected);
}

TEST_F(NullAudioDeviceTest, AStoppedDeviceRefusesWritesUntilItStartsAgain)
{
    TNullAudioDevice device({.Paced = false, .RecordTo = {}});
    ASSERT_TRUE(device.Open(kSlow).Ok());
    ASSERT_TRUE(device.Start().Ok());
    const auto frames = Frames(10, 0);
    ASSERT_TRUE(device.Write(frames.data(), 10).Ok());
    device.Stop();
    const TDeviceResult refused = device.Write(frames.data(), 10);
    EXPECT_EQ(refused.Status, TDeviceStatus::Stopped);
    EXPECT_EQ(refused.Message, "audio device 'Null renderer': write: stopped");
    ASSERT_TRUE(device.Start().Ok());
    EXPECT_TRUE(device.Write(frames.data(), 10).Ok());
    EXPECT_EQ(device.FramesPlayed(), 20);
}

TEST_F(NullAudioDeviceTest, PacedItFillsItsBufferWhilePausedAndPlaysNothing)
{
    TNullAudioDevice device({.Paced = true, .BufferDuration = 100ms, .RecordTo = {}});
    ASSERT_TRUE(device.Open(kSlow).Ok());
    const auto frames = Frames(100, 0);
    EXPECT_TRUE(device.Write(frames.data(), 100).Ok());   // exactly the buffer: no wait
    EXPECT_EQ(device.FramesPlayed(), 0);
}

TEST_F(NullAudioDeviceTest, PacedAWriteBeyondTheBufferWaitsUntilTheDeviceHasPlayedEnough)
{
    TNullAudioDevice device({.Paced = true, .BufferDuration = 100ms, .RecordTo = {}});
    ASSERT_TRUE(device.Open(kSlow).Ok());
    ASSERT_TRUE(device.Start().Ok());
    const auto frames = Frames(300, 0);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(device.Write(frames.data(), 300).Ok());
    // 300 frames into a 100-frame buffer at 1000 a second: 200 must have played first. A lower bound
    // only: the device may never be faster than its rate.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 195ms);
    EXPECT_GE(device.FramesPlayed(), 199);
    EXPECT_LE(device.FramesPlayed(), 300);
}

TEST_F(NullAudioDeviceTest, PacedAtASpeedItPlaysThatManyTimesFasterThanTheStream)
{
    // 100 s of stream into a 100-frame buffer at a thousand times the pace: 99 900 frames must have played
    // first, which takes at least 99.9 ms of the monotonic clock, not 99.9 s.
    TNullAudioDevice device({.Paced = true, .BufferDuration = 100ms, .RecordTo = {}, .Speed = 1000});
    ASSERT_TRUE(device.Open(kSlow).Ok());
    ASSERT_TRUE(device.Start().Ok());
    const auto frames = Frames(100000, 0);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(device.Write(frames.data(), 100000).Ok());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 99ms);
    EXPECT_GE(device.FramesPlayed(), 99899);
    EXPECT_LE(device.FramesPlayed(), 100000);
}

TEST_F(NullAudioDeviceTest, ARecordingThatCannotBeMadeFailsTheOpenSayingWhy)
{
    const auto path = FFolder / "missing" / "played.wav";
    TNullAudioDevice device({.Paced = false, .RecordTo = path});
    const TDeviceResult result = device.Open(kSlow);
    EXPECT_EQ(result.Status, TDeviceStatus::Failed);
    EXPECT_NE(result.Message.find("audio device 'Null renderer': open: WAV file '" + path.string()),
              std::string::npos)
        << result.Message;
    const auto frames = Frames(1, 0);
    EXPECT_EQ(device.Write(frames.data(), 1).Status, TDeviceStatus::Failed);
}

using NullAudioDeviceConcurrencyTest = NullAudioDeviceTest;

TEST_F(NullAudioDeviceConcurrencyTest, StopWakesAWriteThatWaitsForRoom)
{
    TNullAudioDevice device({.Paced = true, .BufferDuration = 100ms, .RecordTo = {}});
    ASSERT_TRUE(device.Open(kSlow).Ok());
    const auto frames = Frames(200, 0);
    std::latch writing(1);
    TDeviceResult result;
    // Paused and full after 100 frames: the write can only end through Stop.
    std::thread writer(
        [&]
        {
            writing.count_down();
            result = device.Write(frames.data(), 200);
        });
    writing.wait();
    device.Stop();
    writer.join();
    EXPECT_EQ(result.Status, TDeviceStatus::Stopped);
    EXPECT_EQ(device.FramesPlayed(), 0);   // the buffered frames were dropped, not played
}

}   // namespace
}   // namespace harvolin
