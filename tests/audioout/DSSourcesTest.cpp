#include "audioout/DSSources.h"
#include "audioout/DSBaseClass.h"
#include "media/Crossbar.h"
#include <gtest/gtest.h>
#include <set>
#include <utility>
#include <vector>

namespace harvolin
{
namespace
{

// A pin that only links: it takes any type, so that the filters below connect through the real pin protocol.
class TLinkPin final : public TDSBasePin
{
public:
    TLinkPin(std::string name, TDSBaseSourceFilter* filter, PIN_DIRECTION direction)
        : TDSBasePin(std::move(name), filter, &filter->FilterLock(), direction), FOwner(filter)
    {
        FOwner->AddPin(this);
    }
    ~TLinkPin() override { FOwner->RemovePin(this); }
    HRESULT CheckMediaType(const AM_MEDIA_TYPE&) override { return S_OK; }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
private:
    TDSBaseSourceFilter* FOwner;
};

// A filter that is not a crossbar: a tuner, a renderer, a capture filter.
class TPlainFilter : public TDSBaseSourceFilter
{
public:
    explicit TPlainFilter(const std::vector<PIN_DIRECTION>& directions)
        : TDSBaseSourceFilter("Plain", nullptr, kNullGuid)
    {
        for (PIN_DIRECTION direction : directions)
            FLinks.push_back(new TLinkPin("Pin", this, direction));   // owned through the pin list
    }
    [[nodiscard]] TLinkPin* Link(std::size_t index) const { return FLinks.at(index); }
    [[nodiscard]] std::size_t LinkCount() const { return FLinks.size(); }
private:
    std::vector<TLinkPin*> FLinks;
};

struct TCrossbarPin
{
    PIN_DIRECTION Direction;
    std::int32_t PhysicalType;
    std::int32_t Related = -1;
};

// The tests' crossbar: its inputs, then its outputs, among its pins; every pair routable unless refused.
class TTestCrossbar final : public TPlainFilter, public IAMCrossbar
{
public:
    std::set<std::pair<std::int32_t, std::int32_t>> Refused;   // (output, input) pairs CanRoute refuses
    bool FailRoutes = false;
    std::vector<std::pair<std::int32_t, std::int32_t>> Routes;   // every Route call, (output, input)

    TTestCrossbar(std::vector<TCrossbarPin> inputs, std::vector<TCrossbarPin> outputs)
        : TPlainFilter(Directions(inputs, outputs)), FInputs(std::move(inputs)), FOutputs(std::move(outputs)),
          FRoutedTo(FOutputs.size(), -1)
    {
    }

    HRESULT QueryInterface(const TGUID& iid, void** object) override
    {
        return TDSBaseFilter::QueryInterface(iid, object);
    }
    std::uint32_t AddRef() override { return TDSBaseFilter::AddRef(); }
    std::uint32_t Release() override { return TDSBaseFilter::Release(); }

    HRESULT get_PinCounts(std::int32_t* outputCount, std::int32_t* inputCount) override
    {
        *outputCount = static_cast<std::int32_t>(FOutputs.size());
        *inputCount = static_cast<std::int32_t>(FInputs.size());
        return S_OK;
    }
    HRESULT CanRoute(std::int32_t output, std::int32_t input) override
    {
        if (!InRange(output, input))
            return E_INVALIDARG;
        return Refused.contains({output, input}) ? S_FALSE : S_OK;
    }
    HRESULT Route(std::int32_t output, std::int32_t input) override
    {
        Routes.emplace_back(output, input);
        if (FailRoutes || CanRoute(output, input) != S_OK)
            return E_FAIL;
        FRoutedTo[static_cast<std::size_t>(output)] = input;
        return S_OK;
    }
    HRESULT get_IsRoutedTo(std::int32_t output, std::int32_t* input) override
    {
        if (!InRange(output, 0))
            return E_INVALIDARG;
        *input = FRoutedTo[static_cast<std::size_t>(output)];
        return S_OK;
    }
    HRESULT get_CrossbarPinInfo(bool isInput, std::int32_t index, std::int32_t* related,
                                std::int32_t* physicalType) override
    {
        const auto& pins = isInput ? FInputs : FOutputs;
        if (index < 0 || index >= static_cast<std::int32_t>(pins.size()))
            return E_INVALIDARG;
        *related = pins[static_cast<std::size_t>(index)].Related;
        *physicalType = pins[static_cast<std::size_t>(index)].PhysicalType;
        return S_OK;
    }

    [[nodiscard]] TLinkPin* In(std::size_t index) const { return Link(index); }
    [[nodiscard]] TLinkPin* Out(std::size_t index) const { return Link(FInputs.size() + index); }
protected:
    void* GetInterface(const TGUID& iid) noexcept override
    {
        if (iid == IAMCrossbar::kIID)
            return static_cast<IAMCrossbar*>(this);
        return TPlainFilter::GetInterface(iid);
    }
private:
    static std::vector<PIN_DIRECTION> Directions(const std::vector<TCrossbarPin>& inputs,
                                                 const std::vector<TCrossbarPin>& outputs)
    {
        std::vector<PIN_DIRECTION> result;
        for (const auto& pin : inputs)
            result.push_back(pin.Direction);
        for (const auto& pin : outputs)
            result.push_back(pin.Direction);
        return result;
    }
    [[nodiscard]] bool InRange(std::int32_t output, std::int32_t input) const
    {
        return output >= 0 && output < static_cast<std::int32_t>(FOutputs.size()) && input >= 0 &&
               input < static_cast<std::int32_t>(FInputs.size());
    }

    std::vector<TCrossbarPin> FInputs;
    std::vector<TCrossbarPin> FOutputs;
    std::vector<std::int32_t> FRoutedTo;
};

constexpr PIN_DIRECTION kIn = PINDIR_INPUT;
constexpr PIN_DIRECTION kOut = PINDIR_OUTPUT;
constexpr std::int32_t kFromBelow =
    0;   // peers are output pins: the chain runs upstream from a capture input
constexpr std::int32_t kFromAbove = 1;   // peers are input pins: the chain runs downstream from a renderer

class DSSourcesTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        // Connected pins hold each other's filters; disconnect all, or no filter would go.
        for (TPlainFilter* filter : FFilters)
            for (std::size_t i = 0; i < filter->LinkCount(); ++i)
                filter->Link(i)->Disconnect();
    }

    TPlainFilter* Plain(std::vector<PIN_DIRECTION> directions)
    {
        return Keep(TRefPtr<TPlainFilter>(new TPlainFilter(directions)));
    }
    TTestCrossbar* Crossbar(std::vector<TCrossbarPin> inputs, std::vector<TCrossbarPin> outputs)
    {
        return Keep(TRefPtr<TTestCrossbar>(new TTestCrossbar(std::move(inputs), std::move(outputs))));
    }
    // Connects an output pin to an input pin as a graph would.
    static void Connect(TLinkPin* output, TLinkPin* input)
    {
        AM_MEDIA_TYPE type{};
        type.majortype = MEDIATYPE_Audio;
        type.subtype = MEDIASUBTYPE_PCM;
        type.formattype = FORMAT_WaveFormatEx;
        ASSERT_EQ(output->Connect(input, &type), S_OK);
    }

    TDSSwitches FAudioSwitches{nullptr, true, nullptr};
    TDSSwitches FVideoSwitches{nullptr, false, nullptr};
private:
    template <class T>
    T* Keep(TRefPtr<T> filter)
    {
        T* result = filter.Get();
        FFilters.push_back(result);
        FHeld.emplace_back(std::move(filter));
        return result;
    }

    std::vector<TRefPtr<IBaseFilter>> FHeld;
    std::vector<TPlainFilter*> FFilters;
};

TEST_F(DSSourcesTest, AnUnconnectedPinYieldsNoRouteAndFails)
{
    TPlainFilter* capture = Plain({kIn});
    EXPECT_EQ(FAudioSwitches.Discover(capture->Link(0), kFromBelow), E_FAIL);
    EXPECT_TRUE(FAudioSwitches.Routings().empty());
}

TEST_F(DSSourcesTest, APeerThatIsNoCrossbarFailsAtTheTopLevel)
{
    TPlainFilter* capture = Plain({kIn});
    TPlainFilter* tuner = Plain({kOut});
    Connect(tuner->Link(0), capture->Link(0));
    EXPECT_EQ(FAudioSwitches.Discover(capture->Link(0), kFromBelow), E_FAIL);
    EXPECT_TRUE(FAudioSwitches.Routings().empty());
}

TEST_F(DSSourcesTest, RoutesEndingUnconnectedOrInAnotherFilterAreKept)
{
    TPlainFilter* capture = Plain({kIn});
    TPlainFilter* microphone = Plain({kOut});
    TTestCrossbar* crossbar = Crossbar({{kIn, PhysConn_Audio_Line, 1}, {kIn, PhysConn_Audio_Mic}},
                                       {{kOut, PhysConn_Audio_AudioDecoder}, {kOut, PhysConn_Audio_SCSI, 0}});
    Connect(crossbar->Out(1), capture->Link(0));
    Connect(microphone->Link(0), crossbar->In(1));

    EXPECT_EQ(FAudioSwitches.Discover(capture->Link(0), kFromBelow), S_OK);

    const auto& routes = FAudioSwitches.Routings();
    ASSERT_EQ(routes.size(), 2u);
    EXPECT_EQ(routes[0]->Name(), "Audio Line");
    EXPECT_EQ(routes[1]->Name(), "Audio Mic");
    EXPECT_EQ(routes[0]->Routings(), &routes);
    ASSERT_EQ(routes[0]->Nodes().size(), 1u);
    const TDSCrossbarRoutingNode& node = routes[0]->Nodes()[0];
    EXPECT_EQ(node.InputIndex, 0);
    EXPECT_EQ(node.OutputIndex, 1);
    EXPECT_EQ(node.RelatedInputIndex, 1);
    EXPECT_EQ(node.RelatedOutputIndex, 0);
    EXPECT_EQ(node.InputPhysicalType, PhysConn_Audio_Line);
    EXPECT_EQ(node.OutputPhysicalType, PhysConn_Audio_SCSI);
    EXPECT_EQ(node.Crossbar.Get(), static_cast<IAMCrossbar*>(crossbar));
    EXPECT_EQ(routes[1]->Nodes().at(0).InputIndex, 1);
}

TEST_F(DSSourcesTest, InputsOfTheOtherMediaClassAreSkipped)
{
    TPlainFilter* capture = Plain({kIn});
    TTestCrossbar* crossbar = Crossbar({{kIn, PhysConn_Video_Composite}, {kIn, PhysConn_Audio_Line}},
                                       {{kOut, PhysConn_Audio_AudioDecoder}});
    Connect(crossbar->Out(0), capture->Link(0));

    EXPECT_EQ(FAudioSwitches.Discover(capture->Link(0), kFromBelow), S_OK);
    ASSERT_EQ(FAudioSwitches.Routings().size(), 1u);
    EXPECT_EQ(FAudioSwitches.Routings()[0]->Name(), "Audio Line");

    EXPECT_EQ(FVideoSwitches.Discover(capture->Link(0), kFromBelow), S_OK);
    ASSERT_EQ(FVideoSwitches.Routings().size(), 1u);
    EXPECT_EQ(FVideoSwitches.Routings()[0]->Name(), "Video Composite");
}

TEST_F(DSSourcesTest, AnInputTheCrossbarCannotRouteIsNotFollowed)
{
    TPlainFilter* capture = Plain({kIn});
    TTestCrossbar* crossbar = Crossbar({{kIn, PhysConn_Audio_Line}, {kIn, PhysConn_Audio_Mic}},
                                       {{kOut, PhysConn_Audio_AudioDecoder}});
    crossbar->Refused.insert({0, 0});
    Connect(crossbar->Out(0), capture->Link(0));

    EXPECT_EQ(FAudioSwitches.Discover(capture->Link(0), kFromBelow), S_OK);
    ASSERT_EQ(FAudioSwitches.Routings().size(), 1u);
    EXPECT_EQ(FAudioSwitches.Routings()[0]->Name(), "Audio Mic");
}

TEST_F(DSSourcesTest, DownstreamAnInputWhosePeerIsAnOutputDiscardsTheRoute)
{
    // The renderer's output feeds the crossbar; the crossbar's Line pin is fed by another output pin.
    TPlainFilter* renderer = Plain({kOut});
    TPlainFilter* feeder = Plain({kOut});
    TTestCrossbar* crossbar = Crossbar({{kIn, PhysConn_Audio_Line}}, {{kIn, PhysConn_Audio_AudioDecoder}});
    Connect(renderer->Link(0), crossbar->Out(0));
    Connect(feeder->Link(0), crossbar->In(0));

    EXPECT_EQ(FAudioSwitches.Discover(renderer->Link(0), kFromAbove), S_OK);
    EXPECT_TRUE(FAudioSwitches.Routings().empty());
}

TEST_F(DSSourcesTest, DownstreamARouteEndingInAnInputOfAnotherFilterIsKept)
{
    TPlainFilter* renderer = Plain({kOut});
    TPlainFilter* speaker = Plain({kIn});
    TTestCrossbar* crossbar = Crossbar({{kOut, PhysConn_Audio_Line}}, {{kIn, PhysConn_Audio_AudioDecoder}});
    Connect(renderer->Link(0), crossbar->Out(0));
    Connect(crossbar->In(0), speaker->Link(0));

    EXPECT_EQ(FAudioSwitches.Discover(renderer->Link(0), kFromAbove), S_OK);
    ASSERT_EQ(FAudioSwitches.Routings().size(), 1u);
    EXPECT_EQ(FAudioSwitches.Routings()[0]->Name(), "Audio Line");
    // Upstream from the same pin its peer has the wrong direction: nothing to follow, and no failure.
    EXPECT_EQ(FAudioSwitches.Discover(renderer->Link(0), kFromBelow), S_OK);
    EXPECT_TRUE(FAudioSwitches.Routings().empty());
}

TEST_F(DSSourcesTest, ARouteThroughTwoCrossbarsLeavesOutTheDeadEnds)
{
    TPlainFilter* capture = Plain({kIn});
    TPlainFilter* wrongWay = Plain({kIn});
    TTestCrossbar* first = Crossbar({{kIn, PhysConn_Audio_Tuner}}, {{kOut, PhysConn_Audio_AudioDecoder}});
    // Its Line input leads nowhere a route can go; its Mic input is the connector.
    TTestCrossbar* second =
        Crossbar({{kOut, PhysConn_Audio_Line}, {kIn, PhysConn_Audio_Mic}}, {{kOut, PhysConn_Audio_AUX}});
    Connect(first->Out(0), capture->Link(0));
    Connect(second->Out(0), first->In(0));
    Connect(second->In(0), wrongWay->Link(0));

    EXPECT_EQ(FAudioSwitches.Discover(capture->Link(0), kFromBelow), S_OK);

    ASSERT_EQ(FAudioSwitches.Routings().size(), 1u);
    const TVLDSCrossbarSource& route = *FAudioSwitches.Routings()[0];
    ASSERT_EQ(route.Nodes().size(), 2u);
    EXPECT_EQ(route.Nodes()[0].Crossbar.Get(), static_cast<IAMCrossbar*>(first));
    EXPECT_EQ(route.Nodes()[1].Crossbar.Get(), static_cast<IAMCrossbar*>(second));
    EXPECT_EQ(route.Nodes()[1].InputIndex, 1);
    EXPECT_EQ(route.Name(), "Audio Tuner");
}

TEST_F(DSSourcesTest, ActivatingSwitchesEveryNodeAndItsRelatedPair)
{
    TPlainFilter* capture = Plain({kIn});
    TTestCrossbar* first = Crossbar({{kIn, PhysConn_Audio_Tuner}, {kIn, PhysConn_Video_Tuner}},
                                    {{kOut, PhysConn_Audio_AudioDecoder}});
    TTestCrossbar* second = Crossbar({{kIn, PhysConn_Video_SVideo}, {kIn, PhysConn_Audio_Line, 0}},
                                     {{kOut, PhysConn_Video_VideoDecoder}, {kOut, PhysConn_Audio_AUX, 0}});
    Connect(first->Out(0), capture->Link(0));
    Connect(second->Out(1), first->In(0));
    ASSERT_EQ(FAudioSwitches.Discover(capture->Link(0), kFromBelow), S_OK);
    ASSERT_EQ(FAudioSwitches.Routings().size(), 1u);
    TVLDSCrossbarSource& route = *FAudioSwitches.Routings()[0];
    EXPECT_FALSE(route.IsActive());

    route.Activate(false);
    EXPECT_TRUE(first->Routes.empty());
    EXPECT_TRUE(second->Routes.empty());

    route.Activate(true);
    EXPECT_TRUE(route.IsActive());
    using TRoutes = std::vector<std::pair<std::int32_t, std::int32_t>>;
    EXPECT_EQ(first->Routes, (TRoutes{{0, 0}}));   // no related pair
    EXPECT_EQ(second->Routes, (TRoutes{{1, 1}, {0, 0}}));

    route.Activate(true);   // already active: no call
    EXPECT_EQ(second->Routes.size(), 2u);

    second->Route(1, 0);   // someone else switches the second crossbar away
    EXPECT_FALSE(route.IsActive());
}

TEST_F(DSSourcesTest, AFailingSwitchSkipsItsRelatedPair)
{
    TPlainFilter* capture = Plain({kIn});
    TTestCrossbar* crossbar =
        Crossbar({{kIn, PhysConn_Audio_Line, 1}, {kIn, PhysConn_Video_Composite}},
                 {{kOut, PhysConn_Audio_AudioDecoder, 1}, {kOut, PhysConn_Video_VideoDecoder}});
    Connect(crossbar->Out(0), capture->Link(0));
    ASSERT_EQ(FAudioSwitches.Discover(capture->Link(0), kFromBelow), S_OK);
    ASSERT_EQ(FAudioSwitches.Routings().size(), 1u);
    crossbar->FailRoutes = true;

    FAudioSwitches.Routings()[0]->Activate(true);

    using TRoutes = std::vector<std::pair<std::int32_t, std::int32_t>>;
    EXPECT_EQ(crossbar->Routes, (TRoutes{{0, 0}}));
    EXPECT_FALSE(FAudioSwitches.Routings()[0]->IsActive());
}

TEST_F(DSSourcesTest, DiscoveringAgainReplacesTheEarlierRoutes)
{
    TPlainFilter* capture = Plain({kIn});
    TTestCrossbar* crossbar = Crossbar({{kIn, PhysConn_Audio_Line}}, {{kOut, PhysConn_Audio_AudioDecoder}});
    Connect(crossbar->Out(0), capture->Link(0));
    ASSERT_EQ(FAudioSwitches.Discover(capture->Link(0), kFromBelow), S_OK);
    ASSERT_EQ(FAudioSwitches.Discover(capture->Link(0), kFromBelow), S_OK);
    EXPECT_EQ(FAudioSwitches.Routings().size(), 1u);
}

TEST(DSConnectorNameTest, NamesTheConnectorsOfBothClassesAndNoOthers)
{
    EXPECT_EQ(ConnectorName(1), "Video Tuner");
    EXPECT_EQ(ConnectorName(12), "Video Decoder");
    EXPECT_EQ(ConnectorName(14), "Video Scart");
    EXPECT_EQ(ConnectorName(4096), "Audio Tuner");
    EXPECT_EQ(ConnectorName(4099), "Audio AESDigital");
    EXPECT_EQ(ConnectorName(4105), "Audio Decoder");
    EXPECT_EQ(ConnectorName(0), "Unknown");
    EXPECT_EQ(ConnectorName(15), "Unknown");
    EXPECT_EQ(ConnectorName(4106), "Unknown");
    EXPECT_EQ(ConnectorName(-1), "Unknown");
}

}   // namespace
}   // namespace harvolin
