#include "media/FilterGraph.h"
#include "media/AudioRenderer.h"
#include "media/NullAudioDevice.h"
#include "rtl/MessageWindow.h"
#include <gtest/gtest.h>

#include <vector>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

constexpr TGUID kRendererClass = MakeGuid("{3B0D2A8E-7C41-4F5E-9D62-1A8B5C3E7F02}");

TRefPtr<IGraphBuilder> NewGraph()
{
    void* made = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IGraphBuilder::kIID, &made), S_OK);
    return AdoptRef(static_cast<IGraphBuilder*>(made));
}

TRefPtr<IBaseFilter> NewRenderer()
{
    return MakeComObject<TAudioRenderer, IBaseFilter>(
        std::make_unique<TNullAudioDevice>(
            TNullAudioDevice::TOptions{.Paced = false, .BufferDuration = 100ms, .RecordTo = {}}),
        kRendererClass);
}

// A device that says when its renderer let it go.
class TWatchedDevice final : public IAudioDevice
{
public:
    explicit TWatchedDevice(bool& destroyed) : FDestroyed(destroyed) {}
    ~TWatchedDevice() override { FDestroyed = true; }
    std::string Name() const override { return "watched"; }
    TDeviceResult Open(const TPcmFormat&) override { return {}; }
    TDeviceResult Start() override { return {}; }
    void Pause() override {}
    TDeviceResult Write(const std::uint8_t*, std::uint32_t) override { return {}; }
    void Stop() override {}
    void Close() override {}
    std::int64_t FramesPlayed() const override { return 0; }
private:
    bool& FDestroyed;
};

FILTER_STATE StateOf(IBaseFilter& filter)
{
    FILTER_STATE state = State_Stopped;
    EXPECT_EQ(filter.GetState(0, &state), S_OK);
    return state;
}

TEST(FilterGraphTest, FiltersJoinByUniqueNameAndLeaveAgain)
{
    auto graph = NewGraph();
    auto renderer = NewRenderer();
    ASSERT_EQ(graph->AddFilter(renderer.Get(), "Renderer"), S_OK);
    FILTER_INFO info{};
    ASSERT_EQ(renderer->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, "Renderer");
    EXPECT_EQ(QueryAs<IUnknown>(info.pGraph).Get(), QueryAs<IUnknown>(graph.Get()).Get());
    info.pGraph->Release();

    EXPECT_EQ(graph->AddFilter(NewRenderer().Get(), "Renderer"), VFW_E_DUPLICATE_NAME);
    EXPECT_EQ(graph->AddFilter(renderer.Get(), "Again"), E_INVALIDARG);
    IBaseFilter* found = nullptr;
    ASSERT_EQ(graph->FindFilterByName("Renderer", &found), S_OK);
    EXPECT_EQ(AdoptRef(found).Get(), renderer.Get());
    EXPECT_EQ(graph->FindFilterByName("Source", &found), VFW_E_NOT_FOUND);

    ASSERT_EQ(graph->RemoveFilter(renderer.Get()), S_OK);
    ASSERT_EQ(renderer->QueryFilterInfo(&info), S_OK);
    EXPECT_EQ(info.pGraph, nullptr);
    EXPECT_EQ(graph->RemoveFilter(renderer.Get()), VFW_E_NOT_FOUND);
}

TEST(FilterGraphTest, TheGraphMovesItsFiltersTogetherOnTheRenderersClock)
{
    auto graph = NewGraph();
    auto renderer = NewRenderer();
    ASSERT_EQ(graph->AddFilter(renderer.Get(), "Renderer"), S_OK);
    auto control = QueryAs<IMediaControl>(graph.Get());
    auto filter = QueryAs<IMediaFilter>(graph.Get());
    ASSERT_TRUE(control && filter);

    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(StateOf(*renderer), State_Running);
    FILTER_STATE state = State_Stopped;
    ASSERT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    IReferenceClock* clock = nullptr;
    ASSERT_EQ(filter->GetSyncSource(&clock), S_OK);
    ASSERT_NE(clock, nullptr);
    EXPECT_EQ(QueryAs<IUnknown>(AdoptRef(clock).Get()).Get(), QueryAs<IUnknown>(renderer.Get()).Get());

    ASSERT_EQ(control->Pause(), S_OK);
    EXPECT_EQ(StateOf(*renderer), State_Paused);
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(StateOf(*renderer), State_Stopped);
}

TEST(FilterGraphTest, EventsWaitInOrderAndEachIsAnnouncedToTheNotifyWindow)
{
    TMessageLoop loop;
    std::vector<TMessage> received;
    TMessageWindow window([&](const TMessage& message) { received.push_back(message); });
    auto graph = NewGraph();
    auto events = QueryAs<IMediaEventEx>(graph.Get());
    auto sink = QueryAs<IMediaEventSink>(graph.Get());
    ASSERT_TRUE(events && sink);
    ASSERT_EQ(events->SetNotifyWindow(window.Handle(), 1025, 0), S_OK);
    ASSERT_EQ(events->SetNotifyFlags(0), S_OK);

    for (std::int32_t code : {EC_ERRORABORT, EC_STARVATION, EC_DEVICE_LOST})
        ASSERT_EQ(sink->Notify(code, code * 10, 0), S_OK);
    EXPECT_EQ(loop.ProcessPending(), 3u);
    EXPECT_EQ(received, (std::vector<TMessage>(3, TMessage{1025, 0, 0})));

    std::vector<std::int32_t> codes;
    std::int32_t code = 0;
    std::intptr_t param1 = 0;
    std::intptr_t param2 = 0;
    while (events->GetEvent(&code, &param1, &param2, 0) == S_OK)
    {
        codes.push_back(code);
        EXPECT_EQ(param1, code * 10);
        EXPECT_EQ(events->FreeEventParams(code, param1, param2), S_OK);
    }
    EXPECT_EQ(codes, (std::vector<std::int32_t>{EC_ERRORABORT, EC_STARVATION, EC_DEVICE_LOST}));
    EXPECT_EQ(events->GetEvent(&code, &param1, &param2, 0), E_ABORT);

    // Without notification the event still waits, but nothing is posted.
    ASSERT_EQ(events->SetNotifyFlags(AM_MEDIAEVENT_NONOTIFY), S_OK);
    ASSERT_EQ(sink->Notify(EC_COMPLETE, 0, 0), S_OK);
    EXPECT_EQ(loop.ProcessPending(), 0u);
    EXPECT_EQ(events->GetEvent(&code, &param1, &param2, 0), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(events->SetNotifyFlags(7), E_INVALIDARG);
}

TEST(FilterGraphTest, ARendererThatIsTheGraphsClockIsFreedWithTheGraphOrWhenRemoved)
{
    for (const bool removeFirst : {false, true})
    {
        bool destroyed = false;
        {
            auto graph = NewGraph();
            auto renderer = MakeComObject<TAudioRenderer, IBaseFilter>(
                std::make_unique<TWatchedDevice>(destroyed), kRendererClass);
            ASSERT_EQ(graph->AddFilter(renderer.Get(), "Renderer"), S_OK);
            ASSERT_EQ(QueryAs<IMediaControl>(graph.Get())->Run(), S_OK);
            ASSERT_EQ(QueryAs<IMediaControl>(graph.Get())->Stop(), S_OK);
            if (removeFirst)
            {
                ASSERT_EQ(graph->RemoveFilter(renderer.Get()), S_OK);
                renderer.Reset();
                EXPECT_TRUE(destroyed);
            }
        }
        EXPECT_TRUE(destroyed) << (removeFirst ? "removed" : "with the graph");
    }
}

}   // namespace
}   // namespace harvolin
