#include "audioout/DSBaseClass.h"
#include "media/AlsaAudioDevice.h"
#include "media/AudioDevices.h"
#include "media/AudioRenderer.h"
#include "media/CaptureGraphBuilder.h"
#include "media/FilterGraph.h"
#include "rtl/Diagnostics.h"
#include "tests/audioout/DSTestPins.h"
#include "tests/support/AlsaTestConfig.h"
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace harvolin
{
namespace
{

using testing::MakeWaveFormat;

const auto* const GAlsaConfig = ::testing::AddGlobalTestEnvironment(new testing::TAlsaTestEnvironment);

constexpr std::uint32_t kWavHeaderBytes = 44;   // two 16-bit channels: the plain header

// The real source filter in a real graph, rendered by the capture graph builder. Null renderers record into
// a WAV file of the test's own and take what they are given at once.
class RenderStreamTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FFolder = std::filesystem::temp_directory_path() /
                  ("harvolin-render-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(FFolder);
        FRecording = FFolder / "played.wav";
        SetNullRendererOptions({.Paced = false, .RecordTo = FRecording});

        void* made = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IGraphBuilder::kIID, &made),
                  S_OK);
        FGraph = AdoptRef(static_cast<IGraphBuilder*>(made));
        ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                                   ICaptureGraphBuilder2::kIID, &made),
                  S_OK);
        FBuilder = AdoptRef(static_cast<ICaptureGraphBuilder2*>(made));
        ASSERT_EQ(FBuilder->SetFiltergraph(FGraph.Get()), S_OK);
        FSource->SetFormat(MakeWaveFormat(2, 16, 11025), 100);
        ASSERT_EQ(FGraph->AddFilter(FSource.Get(), kDSAudioSourceFilterName), S_OK);
    }
    void TearDown() override
    {
        if (auto control = QueryAs<IMediaControl>(FGraph.Get()))
        {
            EXPECT_EQ(control->Stop(), S_OK);
        }
        // Connected pins hold each other's filters: the connection goes before the graph.
        IPin* peer = nullptr;
        if (SUCCEEDED(FSource->AudioPin().ConnectedTo(&peer)))
        {
            EXPECT_EQ(AdoptRef(peer)->Disconnect(), S_OK);
            EXPECT_EQ(FSource->AudioPin().Disconnect(), S_OK);
        }
        FBuilder.Reset();
        FGraph.Reset();
        SetNullRendererOptions({});
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }

    TRefPtr<IBaseFilter> BindNullRenderer()
    {
        IMoniker* parsed = nullptr;
        std::uint32_t eaten = 0;
        EXPECT_EQ(MkParseDisplayName(nullptr, kNullAudioRendererDisplayName, &eaten, &parsed), S_OK);
        void* bound = nullptr;
        EXPECT_EQ(AdoptRef(parsed)->BindToObject(nullptr, nullptr, IBaseFilter::kIID, &bound), S_OK);
        return AdoptRef(static_cast<IBaseFilter*>(bound));
    }

    // The filter the source's pin is connected to, or null.
    TRefPtr<IBaseFilter> ConnectedFilter()
    {
        IPin* peer = nullptr;
        if (FAILED(FSource->AudioPin().ConnectedTo(&peer)))
            return nullptr;
        PIN_INFO info{};
        EXPECT_EQ(AdoptRef(peer)->QueryPinInfo(&info), S_OK);
        EXPECT_EQ(info.dir, PINDIR_INPUT);
        return AdoptRef(info.pFilter);
    }

    TRefPtr<IBaseFilter> FindFilter(const char* name)
    {
        IBaseFilter* found = nullptr;
        return SUCCEEDED(FGraph->FindFilterByName(name, &found)) ? AdoptRef(found) : nullptr;
    }

    // Runs the graph, delivers bytes through the source as the player thread does, and stops.
    void Play(const std::vector<std::uint8_t>& bytes, std::size_t blockBytes)
    {
        const auto control = QueryAs<IMediaControl>(FGraph.Get());
        ASSERT_TRUE(control);
        ASSERT_EQ(control->Run(), S_OK);
        for (std::size_t at = 0; at < bytes.size(); at += blockBytes)
        {
            const auto count = static_cast<std::uint32_t>(std::min(blockBytes, bytes.size() - at));
            ASSERT_TRUE(FSource->DeliverData(bytes.data() + at, count, false, 0, 0)) << "at byte " << at;
        }
        ASSERT_EQ(control->Stop(), S_OK);
    }

    // The samples of the recording's data chunk.
    std::vector<std::uint8_t> Recorded() const
    {
        std::ifstream file(FRecording, std::ios::binary);
        std::vector<std::uint8_t> all{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        if (all.size() < kWavHeaderBytes || std::memcmp(all.data(), "RIFF", 4) != 0 ||
            std::memcmp(all.data() + 36, "data", 4) != 0)
        {
            ADD_FAILURE() << FRecording << " is not a plain WAV file";
            return {};
        }
        std::uint32_t dataBytes = 0;
        std::memcpy(&dataBytes, all.data() + 40, sizeof dataBytes);
        EXPECT_EQ(dataBytes, all.size() - kWavHeaderBytes) << "the header's data size";
        return {all.begin() + kWavHeaderBytes, all.end()};
    }

    void ExpectRecorded(const std::vector<std::uint8_t>& played) const
    {
        const auto recorded = Recorded();
        ASSERT_EQ(recorded.size(), played.size());
        EXPECT_TRUE(recorded == played) << "the recording differs from what was delivered";
    }

    static std::vector<std::uint8_t> Signal(std::size_t count)
    {
        std::vector<std::uint8_t> bytes(count);
        for (std::size_t i = 0; i < count; ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        return bytes;
    }

    std::filesystem::path FFolder;
    std::filesystem::path FRecording;
    TRefPtr<IGraphBuilder> FGraph;
    TRefPtr<ICaptureGraphBuilder2> FBuilder;
    TRefPtr<TDSAudioSourceFilter> FSource = MakeComObject<TDSAudioSourceFilter>();
};

TEST_F(RenderStreamTest, TheSourceIsConnectedToTheNamedRendererAndPlaysExactlyWhatWasDelivered)
{
    const auto renderer = BindNullRenderer();
    ASSERT_EQ(FGraph->AddFilter(renderer.Get(), "Audio Render"), S_OK);
    ASSERT_EQ(FBuilder->RenderStream(nullptr, &MEDIATYPE_Audio, FSource.Get(), nullptr, renderer.Get()),
              S_OK);
    EXPECT_EQ(ConnectedFilter(), renderer);
    EXPECT_FALSE(FindFilter(kDefaultAudioRendererFilterName)) << "no default renderer is added";

    // Half a second of frames in blocks of more than one allocator buffer (4 498 bytes), the last one short.
    const auto played = Signal(4 * 5513);
    Play(played, 4000);
    ExpectRecorded(played);
}

TEST_F(RenderStreamTest, WithoutARendererTheDefaultOneFallsBackToTheNullRendererHere)
{
    if (AlsaSoundCardCount() > 0)
        GTEST_SKIP() << "this machine has a sound card: the default renderer plays on it";
    TDiagnosticCapture reports;
    ASSERT_EQ(FBuilder->RenderStream(nullptr, &MEDIATYPE_Audio, FSource.Get(), nullptr, nullptr), S_OK);
    const auto renderer = FindFilter(kDefaultAudioRendererFilterName);
    ASSERT_TRUE(renderer);
    EXPECT_EQ(ConnectedFilter(), renderer);
    TGUID classId{};
    ASSERT_EQ(renderer->GetClassID(&classId), S_OK);
    EXPECT_EQ(classId, CLSID_AlsaAudioRenderer);
    // ALSA says why in reports of its own; the fallback is reported once, by the renderer's device.
    std::vector<TDiagnostic> fallbacks = reports.Delivered();
    std::erase_if(fallbacks,
                  [](const TDiagnostic& report) { return report.Object != "audio renderer 'default'"; });
    ASSERT_EQ(fallbacks.size(), 1u);
    EXPECT_NE(fallbacks[0].Message.find("no sound device could be opened: playing on the null renderer"),
              std::string::npos)
        << fallbacks[0];

    const auto played = Signal(8000);
    Play(played, 1000);
    ExpectRecorded(played);
}

TEST_F(RenderStreamTest, ARendererThatCannotOpenFailsAndTheDefaultOneIsRemovedAgain)
{
    if (AlsaSoundCardCount() > 0)
        GTEST_SKIP() << "this machine has a sound card: the default renderer plays on it";
    // The null renderer cannot record into a folder that does not exist, so it cannot be opened either.
    SetNullRendererOptions({.Paced = false, .RecordTo = FFolder / "missing" / "played.wav"});
    TDiagnosticCapture reports;
    // The source pin tries its type on the renderer, whose device cannot open: that reason, not a refused
    // type, is what the builder's caller gets.
    EXPECT_EQ(FBuilder->RenderStream(nullptr, &MEDIATYPE_Audio, FSource.Get(), nullptr, nullptr),
              VFW_E_NO_AUDIO_HARDWARE);
    EXPECT_FALSE(FindFilter(kDefaultAudioRendererFilterName));
    EXPECT_FALSE(FSource->AudioPin().IsConnected());
    const auto delivered = reports.Delivered();
    EXPECT_TRUE(std::any_of(delivered.begin(), delivered.end(),
                            [](const TDiagnostic& report)
                            { return report.Message.find("missing/played.wav") != std::string::npos; }))
        << "the failed connection is reported";

    // A renderer the caller gave stays in the graph, and says why it failed.
    const auto renderer = BindNullRenderer();
    ASSERT_EQ(FGraph->AddFilter(renderer.Get(), "Audio Render"), S_OK);
    EXPECT_EQ(FBuilder->RenderStream(nullptr, &MEDIATYPE_Audio, FSource.Get(), nullptr, renderer.Get()),
              VFW_E_NO_AUDIO_HARDWARE);
    EXPECT_EQ(FindFilter("Audio Render"), renderer);
    EXPECT_NE(static_cast<TAudioRenderer*>(renderer.Get())->LastError().find("missing"), std::string::npos);
    EXPECT_FALSE(FSource->AudioPin().IsConnected());
}

TEST_F(RenderStreamTest, WhatCannotBeRenderedIsRefusedAndLeavesTheGraphAsItWas)
{
    const auto renderer = BindNullRenderer();
    EXPECT_EQ(FBuilder->RenderStream(nullptr, nullptr, FSource.Get(), nullptr, renderer.Get()), E_INVALIDARG)
        << "a renderer outside the graph";
    EXPECT_EQ(FBuilder->RenderStream(nullptr, nullptr, FSource.Get(), renderer.Get(), nullptr), E_NOTIMPL);
    ASSERT_EQ(FGraph->AddFilter(renderer.Get(), "Audio Render"), S_OK);
    const TGUID video = MakeGuid("{73646976-0000-0010-8000-00AA00389B71}");
    EXPECT_EQ(FBuilder->RenderStream(nullptr, &video, FSource.Get(), nullptr, renderer.Get()),
              VFW_E_NOT_FOUND);
    EXPECT_FALSE(FSource->AudioPin().IsConnected());

    ASSERT_EQ(FBuilder->RenderStream(nullptr, nullptr, FSource.Get(), nullptr, renderer.Get()), S_OK);
    // Both pins are taken now.
    EXPECT_EQ(FBuilder->RenderStream(nullptr, nullptr, FSource.Get(), nullptr, nullptr), VFW_E_NOT_FOUND);
    EXPECT_FALSE(FindFilter(kDefaultAudioRendererFilterName));
    EXPECT_EQ(FBuilder->SetFiltergraph(FGraph.Get()), E_UNEXPECTED);
    const auto fresh = MakeComObject<TCaptureGraphBuilder, ICaptureGraphBuilder2>();
    EXPECT_EQ(fresh->RenderStream(nullptr, nullptr, FSource.Get(), nullptr, renderer.Get()), E_UNEXPECTED);
}

}   // namespace
}   // namespace harvolin
