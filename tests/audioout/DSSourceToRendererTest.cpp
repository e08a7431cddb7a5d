#include "audioout/DSBaseClass.h"
#include "media/AudioRenderer.h"
#include "media/FilterGraph.h"
#include "media/NullAudioDevice.h"
#include "tests/audioout/DSTestPins.h"
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <latch>
#include <unistd.h>
#include <vector>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;
using testing::MakeWaveFormat;

constexpr TGUID kRendererClass = MakeGuid("{9F4C2B71-3E8A-4D15-B6C0-5A7E1D2F8B34}");
constexpr std::uint32_t kRate = 100000;
constexpr std::uint32_t kFrameBytes = 4;

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t Le32(const std::vector<std::uint8_t>& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

// A block of stereo frames that differs from every other block a test makes.
std::vector<std::uint8_t> Block(std::uint32_t frames, std::uint8_t seed)
{
    std::vector<std::uint8_t> bytes(frames * kFrameBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13 + seed * 101);
    return bytes;
}

// The program's own source filter and a real renderer in a real graph, connected through the pin protocol
// as the capture graph builder connects them, and driven as the player thread drives them.
class DSSourceToRendererTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FFolder = std::filesystem::temp_directory_path() /
                  ("harvolin-source-renderer-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(FFolder);
        FSource->SetFormat(MakeWaveFormat(2, 16, kRate), 1000);
    }
    void TearDown() override
    {
        if (FControl)
            FControl->Stop();
        FGraph = nullptr;
        FControl = nullptr;
        FSource = nullptr;
        std::filesystem::remove_all(FFolder);
    }

    void Build(TNullAudioDevice::TOptions options)
    {
        FRenderer =
            new TAudioRenderer(std::make_unique<TNullAudioDevice>(std::move(options)), kRendererClass);
        TRefPtr<IBaseFilter> renderer(FRenderer);
        ASSERT_EQ(FGraph->AddFilter(FSource.Get(), "Source"), S_OK);
        ASSERT_EQ(FGraph->AddFilter(renderer.Get(), "Audio Render"), S_OK);
        FControl = QueryAs<IMediaControl>(FGraph.Get());
        ASSERT_TRUE(FControl);
    }
    HRESULT Connect() { return FGraph->Connect(&FSource->AudioPin(), FRenderer->InputPin()); }
    void Disconnect()
    {
        EXPECT_EQ(FGraph->Disconnect(&FSource->AudioPin()), S_OK);
        EXPECT_EQ(FGraph->Disconnect(FRenderer->InputPin()), S_OK);
    }
    bool Deliver(const std::vector<std::uint8_t>& bytes)
    {
        return FSource->DeliverData(bytes.data(), static_cast<std::uint32_t>(bytes.size()), true, 0, 0);
    }

    std::filesystem::path FFolder;
    TRefPtr<TDSAudioSourceFilter> FSource = MakeComObject<TDSAudioSourceFilter>();
    TRefPtr<IGraphBuilder> FGraph = MakeComObject<TFilterGraph, IGraphBuilder>();
    TRefPtr<IMediaControl> FControl;
    TAudioRenderer* FRenderer = nullptr;   // held by the graph
};

TEST_F(DSSourceToRendererTest, WhatTheSourceDeliversIsPlayedByteForByteAcrossAReconnection)
{
    const auto path = FFolder / "played.wav";
    Build({.Paced = false, .BufferDuration = 100ms, .RecordTo = path});
    ASSERT_EQ(Connect(), S_OK) << FRenderer->LastError();

    AM_MEDIA_TYPE type{};
    ASSERT_EQ(FRenderer->InputPin()->ConnectionMediaType(&type), S_OK);
    EXPECT_EQ(type.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(type.cbFormat, 18u);   // stereo 16-bit goes as the plain wave format
    FreeMediaType(type);

    ASSERT_EQ(FControl->Run(), S_OK);
    std::vector<std::uint8_t> played;
    for (std::uint8_t i = 0; i < 3; ++i)
    {
        const auto block = Block(1024, i);
        ASSERT_TRUE(Deliver(block));
        played.insert(played.end(), block.begin(), block.end());
    }
    // Pausing holds the stream; running again goes on where it was.
    ASSERT_EQ(FControl->Pause(), S_OK);
    ASSERT_EQ(FControl->Run(), S_OK);
    const auto last = Block(1024, 7);
    ASSERT_TRUE(Deliver(last));
    played.insert(played.end(), last.begin(), last.end());

    ASSERT_EQ(FControl->Stop(), S_OK);
    EXPECT_FALSE(Deliver(last)) << "a stopped graph must refuse deliveries, not queue them";
    Disconnect();   // closes the device and its recording

    const auto file = ReadFile(path);
    ASSERT_EQ(file.size(), 44 + played.size());
    EXPECT_EQ(Le32(file, 24), kRate);
    EXPECT_EQ(file[22], 2);    // channels
    EXPECT_EQ(file[34], 16);   // bits
    EXPECT_EQ(Le32(file, 40), played.size());
    EXPECT_TRUE(std::equal(played.begin(), played.end(), file.begin() + 44));

    // A new connection is a new stream on the same renderer.
    ASSERT_EQ(Connect(), S_OK) << FRenderer->LastError();
    ASSERT_EQ(FControl->Run(), S_OK);
    const auto again = Block(512, 9);
    ASSERT_TRUE(Deliver(again));
    ASSERT_EQ(FControl->Stop(), S_OK);
    Disconnect();
    const auto second = ReadFile(path);
    ASSERT_EQ(second.size(), 44 + again.size());
    EXPECT_TRUE(std::equal(again.begin(), again.end(), second.begin() + 44));
}

TEST_F(DSSourceToRendererTest, TheGraphsClockIsTheRenderersAndCountsWhatWasPlayed)
{
    Build({.Paced = false, .BufferDuration = 100ms, .RecordTo = {}});
    ASSERT_EQ(Connect(), S_OK) << FRenderer->LastError();
    ASSERT_EQ(FControl->Run(), S_OK);

    auto filter = QueryAs<IMediaFilter>(FGraph.Get());
    ASSERT_TRUE(filter);
    IReferenceClock* clock = nullptr;
    ASSERT_EQ(filter->GetSyncSource(&clock), S_OK);
    const auto held = AdoptRef(clock);
    EXPECT_EQ(held.Get(), QueryAs<IReferenceClock>(static_cast<IBaseFilter*>(FRenderer)).Get());

    REFERENCE_TIME before = 0;
    ASSERT_EQ(held->GetTime(&before), S_OK);
    for (std::uint8_t i = 0; i < 4; ++i)
        ASSERT_TRUE(Deliver(Block(1000, i)));
    REFERENCE_TIME after = 0;
    ASSERT_EQ(held->GetTime(&after), S_OK);
    EXPECT_EQ(after - before, REFERENCE_TIME{4000} * 1'000'000 / kRate);   // microseconds of stream played
    ASSERT_EQ(FControl->Stop(), S_OK);
    Disconnect();
}

TEST_F(DSSourceToRendererTest, DeliveriesBeforeRunningAreRefused)
{
    Build({.Paced = false, .BufferDuration = 100ms, .RecordTo = {}});
    EXPECT_FALSE(Deliver(Block(16, 1))) << "not connected";
    ASSERT_EQ(Connect(), S_OK) << FRenderer->LastError();
    EXPECT_FALSE(Deliver(Block(16, 1))) << "connected but stopped: the allocator is not committed";
    EXPECT_EQ(FRenderer->Device().FramesPlayed(), 0);
    Disconnect();
}

using DSSourceToRendererConcurrencyTest = DSSourceToRendererTest;

// The player thread blocks in the renderer while the device's buffer is full; stopping the graph must end
// its delivery loop promptly, whether it is waiting for the device or for a sample at that moment.
TEST_F(DSSourceToRendererConcurrencyTest, StoppingTheGraphEndsADeliveryThatWaitsForThePacedDevice)
{
    Build({.Paced = true, .BufferDuration = 100ms, .RecordTo = {}});
    ASSERT_EQ(Connect(), S_OK) << FRenderer->LastError();
    ASSERT_EQ(FControl->Run(), S_OK);

    std::latch firstDelivered(1);
    auto player = std::async(std::launch::async,
                             [&]
                             {
                                 // 200 ms per block against a 100-ms device buffer: the second waits.
                                 const auto block = Block(20000, 3);
                                 int delivered = 0;
                                 while (Deliver(block))
                                 {
                                     if (++delivered == 1)
                                         firstDelivered.count_down();
                                 }
                                 return delivered;
                             });
    firstDelivered.wait();
    ASSERT_EQ(FControl->Stop(), S_OK);
    ASSERT_EQ(player.wait_for(10s), std::future_status::ready) << "the delivery loop hangs after Stop";
    EXPECT_GE(player.get(), 1);
    Disconnect();
}

}   // namespace
}   // namespace harvolin
