#include "media/AudioRenderer.h"
#include "media/NullAudioDevice.h"
#include "rtl/Diagnostics.h"
#include "tests/support/MediaTestPins.h"
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <latch>
#include <thread>
#include <unistd.h>
#include <vector>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

constexpr TGUID kRendererClass = MakeGuid("{3B0D2A8E-7C41-4F5E-9D62-1A8B5C3E7F01}");

// A device that has gone: every write says so. Counts the writes, so a test sees nothing spins on it.
class TLostDevice final : public IAudioDevice
{
public:
    explicit TLostDevice(std::atomic<int>& writes) : FWrites(writes) {}
    std::string Name() const override { return "hw:9,0"; }
    TDeviceResult Open(const TPcmFormat&) override { return {}; }
    TDeviceResult Start() override { return {}; }
    void Pause() override {}
    TDeviceResult Write(const std::uint8_t*, std::uint32_t) override
    {
        ++FWrites;
        return {TDeviceStatus::Lost, "audio device 'hw:9,0': snd_pcm_writei: No such device"};
    }
    void Stop() override {}
    void Close() override {}
    std::int64_t FramesPlayed() const override { return 0; }
private:
    std::atomic<int>& FWrites;
};

class AudioRendererTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FFolder = std::filesystem::temp_directory_path() /
                  ("harvolin-renderer-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(FFolder);
        FFormat = WaveFormat(2, 100000, 16);
        FType = {MEDIATYPE_Audio,
                 MEDIASUBTYPE_PCM,
                 1,
                 0,
                 1,
                 FORMAT_WaveFormatEx,
                 nullptr,
                 static_cast<std::uint32_t>(FFormat.size()),
                 FFormat.data()};
    }
    void TearDown() override { std::filesystem::remove_all(FFolder); }

    TRefPtr<IBaseFilter> Renderer(std::unique_ptr<IAudioDevice> device)
    {
        auto* made = new TAudioRenderer(std::move(device), kRendererClass);
        FRenderer = made;
        return TRefPtr<IBaseFilter>(made);
    }
    TRefPtr<IBaseFilter> NullRenderer(bool paced, std::filesystem::path record = {})
    {
        return Renderer(std::make_unique<TNullAudioDevice>(TNullAudioDevice::TOptions{
            .Paced = paced, .BufferDuration = 100ms, .RecordTo = std::move(record)}));
    }

    std::filesystem::path FFolder;
    std::vector<std::uint8_t> FFormat;
    AM_MEDIA_TYPE FType{};
    TAudioRenderer* FRenderer = nullptr;
    TRefPtr<IPin> FSource = MakeComObject<TStandInOutputPin, IPin>();
};

TEST_F(AudioRendererTest, WhatArrivesWhileRunningIsPlayedByteForByte)
{
    const auto path = FFolder / "played.wav";
    auto renderer = NullRenderer(false, path);
    IPin* input = FRenderer->InputPin();
    ASSERT_EQ(input->ReceiveConnection(FSource.Get(), &FType), S_OK);
    auto memInput = QueryAs<IMemInputPin>(input);
    ASSERT_TRUE(memInput);
    auto allocator = Allocator(*memInput, 4096);
    ASSERT_EQ(renderer->Run(0), S_OK);

    std::vector<std::uint8_t> bytes(4096);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    EXPECT_EQ(memInput->Receive(Filled(*allocator, bytes).Get()), S_OK);
    EXPECT_EQ(FRenderer->Device().FramesPlayed(), 1024);
    ASSERT_EQ(renderer->Stop(), S_OK);
    ASSERT_EQ(allocator->Decommit(), S_OK);
    EXPECT_EQ(input->Disconnect(), S_OK);   // closes the device, and with it the recording

    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> file{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
    ASSERT_EQ(file.size(), 44u + bytes.size());
    EXPECT_EQ(std::vector<std::uint8_t>(file.begin() + 44, file.end()), bytes);
}

TEST_F(AudioRendererTest, OnlyPlayablePcmIsAccepted)
{
    auto renderer = NullRenderer(false);
    IPin* input = FRenderer->InputPin();
    AM_MEDIA_TYPE noBlock = FType;
    noBlock.cbFormat = 0;
    noBlock.pbFormat = nullptr;
    EXPECT_EQ(input->QueryAccept(&noBlock), S_FALSE);
    EXPECT_EQ(input->ReceiveConnection(FSource.Get(), &noBlock), VFW_E_TYPE_NOT_ACCEPTED);
    AM_MEDIA_TYPE video = FType;
    video.majortype = MakeGuid("{73646976-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(input->ReceiveConnection(FSource.Get(), &video), VFW_E_TYPE_NOT_ACCEPTED);
    auto twelveBits = WaveFormat(2, 48000, 12);
    AM_MEDIA_TYPE odd = FType;
    odd.pbFormat = twelveBits.data();
    EXPECT_EQ(input->QueryAccept(&odd), S_FALSE);
    EXPECT_EQ(input->QueryAccept(&FType), S_OK);

    IPin* connected = nullptr;
    EXPECT_EQ(input->ConnectedTo(&connected), VFW_E_NOT_CONNECTED);
    ASSERT_EQ(input->ReceiveConnection(FSource.Get(), &FType), S_OK);
    EXPECT_EQ(input->ReceiveConnection(FSource.Get(), &FType), VFW_E_ALREADY_CONNECTED);
    ASSERT_EQ(input->ConnectedTo(&connected), S_OK);
    EXPECT_EQ(AdoptRef(connected).Get(), FSource.Get());
}

TEST_F(AudioRendererTest, ADeviceThatCannotOpenFailsTheConnectionSayingWhy)
{
    const auto path = FFolder / "missing" / "played.wav";
    auto renderer = NullRenderer(false, path);
    TDiagnosticCapture capture;
    EXPECT_EQ(FRenderer->InputPin()->ReceiveConnection(FSource.Get(), &FType), VFW_E_NO_AUDIO_HARDWARE);
    EXPECT_NE(FRenderer->LastError().find(path.string()), std::string::npos) << FRenderer->LastError();
    EXPECT_EQ(capture.Count("Null renderer"), 1u);
    IPin* connected = nullptr;
    EXPECT_EQ(FRenderer->InputPin()->ConnectedTo(&connected), VFW_E_NOT_CONNECTED);
}

TEST_F(AudioRendererTest, SamplesAreRefusedWhileStoppedAndDisconnectingWaitsForStop)
{
    auto renderer = NullRenderer(false);
    IPin* input = FRenderer->InputPin();
    ASSERT_EQ(input->ReceiveConnection(FSource.Get(), &FType), S_OK);
    auto memInput = QueryAs<IMemInputPin>(input);
    auto allocator = Allocator(*memInput, 16);
    EXPECT_EQ(memInput->Receive(Filled(*allocator, std::vector<std::uint8_t>(16, 1)).Get()),
              VFW_E_WRONG_STATE);
    ASSERT_EQ(renderer->Run(0), S_OK);
    EXPECT_EQ(input->Disconnect(), VFW_E_NOT_STOPPED);
    ASSERT_EQ(renderer->Stop(), S_OK);
    EXPECT_EQ(renderer->Stop(), S_OK);
    EXPECT_EQ(input->Disconnect(), S_OK);
    EXPECT_EQ(input->Disconnect(), S_FALSE);
}

TEST_F(AudioRendererTest, ALostDeviceRaisesDeviceLostOnceAndIsNotWrittenAgain)
{
    std::atomic<int> writes{0};
    auto renderer = Renderer(std::make_unique<TLostDevice>(writes));
    auto graph = MakeComObject<TListeningGraph, IFilterGraph>();
    ASSERT_EQ(renderer->JoinFilterGraph(graph.Get(), "Renderer"), S_OK);
    IPin* input = FRenderer->InputPin();
    ASSERT_EQ(input->ReceiveConnection(FSource.Get(), &FType), S_OK);
    auto memInput = QueryAs<IMemInputPin>(input);
    auto allocator = Allocator(*memInput, 16);
    ASSERT_EQ(renderer->Run(0), S_OK);
    TDiagnosticCapture capture;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(memInput->Receive(Filled(*allocator, std::vector<std::uint8_t>(16, 2)).Get()), E_FAIL);
    EXPECT_EQ(writes.load(), 1);
    EXPECT_EQ(static_cast<TListeningGraph*>(graph.Get())->Events,
              (std::vector<std::int32_t>{EC_DEVICE_LOST}));
    EXPECT_EQ(capture.Delivered(),
              (std::vector<TDiagnostic>{
                  {"hw:9,0", "playing a sample", "audio device 'hw:9,0': snd_pcm_writei: No such device"}}));
    ASSERT_EQ(renderer->Stop(), S_OK);
    ASSERT_EQ(renderer->JoinFilterGraph(nullptr, nullptr), S_OK);
}

TEST_F(AudioRendererTest, APinReferenceKeepsTheFilterAlive)
{
    auto renderer = NullRenderer(false);
    IPin* pin = nullptr;
    EXPECT_EQ(renderer->FindPin("Out", &pin), VFW_E_NOT_FOUND);
    EXPECT_EQ(pin, nullptr);
    ASSERT_EQ(renderer->FindPin("In", &pin), S_OK);
    auto held = AdoptRef(pin);
    renderer.Reset();
    PIN_INFO info{};
    ASSERT_EQ(held->QueryPinInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, "In");
    EXPECT_EQ(info.dir, PINDIR_INPUT);
    info.pFilter->Release();
    // Reached through the filter's pin enumerator as well.
    IEnumPins* pins = nullptr;
    ASSERT_EQ(info.pFilter->EnumPins(&pins), S_OK);
    auto enumerator = AdoptRef(pins);
    IPin* first = nullptr;
    std::uint32_t fetched = 0;
    ASSERT_EQ(enumerator->Next(1, &first, &fetched), S_OK);
    EXPECT_EQ(AdoptRef(first).Get(), held.Get());
    EXPECT_EQ(enumerator->Next(1, &first, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
}

using AudioRendererConcurrencyTest = AudioRendererTest;

TEST_F(AudioRendererConcurrencyTest, StopWakesAReceiveThatWaitsForTheDevice)
{
    auto renderer = NullRenderer(true);
    IPin* input = FRenderer->InputPin();
    ASSERT_EQ(input->ReceiveConnection(FSource.Get(), &FType), S_OK);
    auto memInput = QueryAs<IMemInputPin>(input);
    // 200 ms of stream into a paused device with 100 ms of room: the write can only end through Stop.
    auto allocator = Allocator(*memInput, 80000);
    ASSERT_EQ(renderer->Pause(), S_OK);
    auto sample = Filled(*allocator, std::vector<std::uint8_t>(80000, 3));
    std::latch receiving(1);
    HRESULT result = E_FAIL;
    std::thread deliverer(
        [&]
        {
            receiving.count_down();
            result = memInput->Receive(sample.Get());
        });
    receiving.wait();
    ASSERT_EQ(renderer->Stop(), S_OK);
    deliverer.join();
    // Stopped before the receive began or while it waited: either way nothing more is played.
    EXPECT_TRUE(result == S_FALSE || result == VFW_E_WRONG_STATE) << std::hex << result;
}

TEST_F(AudioRendererConcurrencyTest, ItsClockIsWhatTheDeviceHasPlayedAndGoesOnAcrossConnections)
{
    auto renderer = NullRenderer(false);
    auto clock = QueryAs<IReferenceClock>(renderer.Get());
    ASSERT_TRUE(clock);
    EXPECT_EQ(QueryAs<IUnknown>(clock.Get()).Get(), QueryAs<IUnknown>(renderer.Get()).Get());
    auto slow = WaveFormat(1, 1000, 16);   // a frame a millisecond
    AM_MEDIA_TYPE type = FType;
    type.pbFormat = slow.data();
    IPin* input = FRenderer->InputPin();
    ASSERT_EQ(input->ReceiveConnection(FSource.Get(), &type), S_OK);
    auto memInput = QueryAs<IMemInputPin>(input);
    auto allocator = Allocator(*memInput, 500);
    ASSERT_EQ(renderer->Run(0), S_OK);

    TSemaphore ticks(0, 100);
    std::uintptr_t cookie = 0;
    ASSERT_EQ(clock->AdvisePeriodic(100000, 100000, &ticks, &cookie), S_OK);
    // 250 frames played: 250 ms on the device's clock, two periods due (at 100 and 200 ms).
    EXPECT_EQ(memInput->Receive(Filled(*allocator, std::vector<std::uint8_t>(500, 0)).Get()), S_OK);
    REFERENCE_TIME now = 0;
    ASSERT_EQ(clock->GetTime(&now), S_OK);
    EXPECT_EQ(now, 250000);
    EXPECT_TRUE(ticks.TryAcquireFor(2s));
    EXPECT_TRUE(ticks.TryAcquireFor(2s));
    ASSERT_EQ(clock->Unadvise(cookie), S_OK);
    EXPECT_FALSE(ticks.TryAcquireFor(50ms));

    // A new connection counts its frames from 0 again; the clock goes on from where it was.
    ASSERT_EQ(renderer->Stop(), S_OK);
    ASSERT_EQ(allocator->Decommit(), S_OK);
    ASSERT_EQ(input->Disconnect(), S_OK);
    ASSERT_EQ(input->ReceiveConnection(FSource.Get(), &type), S_OK);
    allocator = Allocator(*memInput, 200);
    ASSERT_EQ(renderer->Run(0), S_OK);
    EXPECT_EQ(memInput->Receive(Filled(*allocator, std::vector<std::uint8_t>(200, 0)).Get()), S_OK);
    ASSERT_EQ(clock->GetTime(&now), S_OK);
    EXPECT_EQ(now, 350000);
    ASSERT_EQ(renderer->Stop(), S_OK);
}

}   // namespace
}   // namespace harvolin
