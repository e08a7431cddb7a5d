#include "audioout/DSSources.h"
#include <algorithm>
#include <array>
#include <utility>

namespace harvolin
{

namespace
{

// What the recursion answers when its chain ended in a pin that is not connected or in a filter that is not
// a crossbar: the route built so far is complete.
constexpr HRESULT kChainEnded = S_FALSE;

constexpr std::array<const char*, 14> kVideoConnectorNames = {
    "Video Tuner",         "Video Composite",       "Video SVideo",  "Video RGB",  "Video YRYBY",
    "Video SerialDigital", "Video ParallelDigital", "Video SCSI",    "Video AUX",  "Video 1394",
    "Video USB",           "Video Decoder",         "Video Encoder", "Video Scart"};
constexpr std::array<const char*, 10> kAudioConnectorNames = {
    "Audio Tuner", "Audio Line", "Audio Mic",  "Audio AESDigital", "Audio SPDIFDigital",
    "Audio SCSI",  "Audio AUX",  "Audio 1394", "Audio USB",        "Audio Decoder"};

// The filter's pins in its enumeration order; as far as the enumeration got when it fails.
std::vector<TRefPtr<IPin>> PinsOf(IBaseFilter& filter)
{
    std::vector<TRefPtr<IPin>> result;
    IEnumPins* made = nullptr;
    if (FAILED(filter.EnumPins(&made)) || made == nullptr)
        return result;
    const auto pins = AdoptRef(made);
    IPin* next = nullptr;
    while (pins->Next(1, &next, nullptr) == S_OK && next != nullptr)
        result.push_back(AdoptRef(next));
    return result;
}

}   // namespace

std::string ConnectorName(std::int32_t physicalType)
{
    if (physicalType >= PhysConn_Video_Tuner && physicalType <= PhysConn_Video_SCART)
        return kVideoConnectorNames[static_cast<std::size_t>(physicalType - PhysConn_Video_Tuner)];
    if (physicalType >= PhysConn_Audio_Tuner && physicalType <= PhysConn_Audio_AudioDecoder)
        return kAudioConnectorNames[static_cast<std::size_t>(physicalType - PhysConn_Audio_Tuner)];
    return "Unknown";
}

// ---- TVLDSCrossbarSource ----

std::string TVLDSCrossbarSource::Name() const
{
    return FNodes.empty() ? std::string("Unknown") : ConnectorName(FNodes.front().InputPhysicalType);
}

bool TVLDSCrossbarSource::IsActive() const
{
    for (const TDSCrossbarRoutingNode& node : FNodes)
    {
        std::int32_t routed = -1;
        if (FAILED(node.Crossbar->get_IsRoutedTo(node.OutputIndex, &routed)) || routed != node.InputIndex)
            return false;
    }
    return true;
}

void TVLDSCrossbarSource::Activate(bool active)
{
    if (!active || IsActive())
        return;
    for (const TDSCrossbarRoutingNode& node : FNodes)
    {
        if (FAILED(node.Crossbar->Route(node.OutputIndex, node.InputIndex)))
            continue;
        if (node.RelatedInputIndex != -1 && node.RelatedOutputIndex != -1)
            node.Crossbar->Route(node.RelatedOutputIndex, node.RelatedInputIndex);
    }
}

// ---- TDSSwitches ----

TDSSwitches::TDSSwitches(TComponent* owner, bool audio, std::function<void()> change)
    : FOwner(owner), FAudio(audio), FChange(std::move(change))
{
}

HRESULT TDSSwitches::Discover(IPin* pin, std::int32_t direction)
{
    FRoutings.clear();
    return DiscoverFrom(pin, direction, 0, nullptr);
}

bool TDSSwitches::Wanted(std::int32_t physicalType) const noexcept
{
    return FAudio ? physicalType >= PhysConn_Audio_Tuner : physicalType < PhysConn_Audio_Tuner;
}

HRESULT TDSSwitches::DiscoverFrom(IPin* pin, std::int32_t direction, std::int32_t depth,
                                  TVLDSCrossbarSource* route)
{
    const bool top = depth == 0;
    IPin* connected = nullptr;
    if (pin == nullptr || FAILED(pin->ConnectedTo(&connected)) || connected == nullptr)
        return top ? E_FAIL : kChainEnded;
    const auto peer = AdoptRef(connected);

    PIN_INFO info{};
    if (FAILED(peer->QueryPinInfo(&info)))
        return S_OK;
    const auto filter = AdoptRef(info.pFilter);
    const PIN_DIRECTION required = direction == 1 ? PINDIR_INPUT : PINDIR_OUTPUT;
    if (info.dir != required)
        return S_OK;

    const auto crossbar = QueryAs<IAMCrossbar>(filter.Get());
    if (!crossbar)
        return top ? E_FAIL : kChainEnded;

    std::int32_t outputs = 0;
    std::int32_t inputs = 0;
    if (FAILED(crossbar->get_PinCounts(&outputs, &inputs)))
        return S_OK;
    const std::vector<TRefPtr<IPin>> pins = PinsOf(*filter);
    const auto position = std::find(pins.begin(), pins.end(), peer);
    if (position == pins.end())
        return S_OK;
    const auto output = static_cast<std::int32_t>(position - pins.begin()) - inputs;
    std::int32_t relatedOutput = -1;
    std::int32_t outputType = 0;
    if (FAILED(crossbar->get_CrossbarPinInfo(false, output, &relatedOutput, &outputType)))
        return S_OK;

    for (std::int32_t input = 0; input < inputs; ++input)
    {
        std::int32_t relatedInput = -1;
        std::int32_t inputType = 0;
        if (FAILED(crossbar->get_CrossbarPinInfo(true, input, &relatedInput, &inputType)) ||
            !Wanted(inputType) || crossbar->CanRoute(output, input) != S_OK)
            continue;
        if (static_cast<std::size_t>(input) >= pins.size())
            continue;
        const TRefPtr<IPin>& inputPin = pins[static_cast<std::size_t>(input)];

        std::unique_ptr<TVLDSCrossbarSource> started;
        TVLDSCrossbarSource* current = route;
        if (top)
        {
            started = std::make_unique<TVLDSCrossbarSource>(&FRoutings);
            current = started.get();
        }
        current->Nodes().push_back(
            {input, output, relatedInput, relatedOutput, crossbar, inputType, outputType});
        const HRESULT result = DiscoverFrom(inputPin.Get(), direction, depth + 1, current);
        if (result == kChainEnded)
        {
            if (!top)
                return kChainEnded;
            FRoutings.push_back(std::move(started));
        }
        else if (!top)
        {
            // A dead end leaves no switch behind: a route holding it could never report itself active.
            current->Nodes().pop_back();
        }
    }
    return S_OK;
}

}   // namespace harvolin
