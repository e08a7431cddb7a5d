#include "media/CaptureGraphBuilder.h"
#include "media/AudioDevices.h"

namespace harvolin
{
namespace
{

// Whether filter is one of graph's filters.
bool IsInGraph(IBaseFilter& filter, IGraphBuilder& graph)
{
    FILTER_INFO info{};
    if (FAILED(filter.QueryFilterInfo(&info)))
        return false;
    const auto joined = AdoptRef(info.pGraph);
    return joined && QueryAs<IUnknown>(joined.Get()) == QueryAs<IUnknown>(&graph);
}

bool OffersMajorType(IPin& pin, const TGUID& majorType)
{
    IEnumMediaTypes* types = nullptr;
    if (FAILED(pin.EnumMediaTypes(&types)) || types == nullptr)
        return false;
    const auto enumerator = AdoptRef(types);
    AM_MEDIA_TYPE* type = nullptr;
    std::uint32_t fetched = 0;
    while (enumerator->Next(1, &type, &fetched) == S_OK && fetched == 1)
    {
        const bool offered = type->majortype == majorType;
        DeleteMediaType(type);
        if (offered)
            return true;
    }
    return false;
}

// The first pin of filter in direction that is not connected and, when majorType is given, offers it.
TRefPtr<IPin> FindFreePin(IBaseFilter& filter, PIN_DIRECTION direction, const TGUID* majorType)
{
    IEnumPins* pins = nullptr;
    if (FAILED(filter.EnumPins(&pins)) || pins == nullptr)
        return nullptr;
    const auto enumerator = AdoptRef(pins);
    IPin* pin = nullptr;
    std::uint32_t fetched = 0;
    while (enumerator->Next(1, &pin, &fetched) == S_OK && fetched == 1)
    {
        auto held = AdoptRef(pin);
        PIN_DIRECTION pinDirection{};
        if (FAILED(held->QueryDirection(&pinDirection)) || pinDirection != direction)
            continue;
        IPin* peer = nullptr;
        if (SUCCEEDED(held->ConnectedTo(&peer)))
        {
            AdoptRef(peer).Reset();
            continue;
        }
        if (majorType == nullptr || OffersMajorType(*held, *majorType))
            return held;
    }
    return nullptr;
}

}   // namespace

HRESULT TCaptureGraphBuilder::SetFiltergraph(IGraphBuilder* graph)
{
    if (graph == nullptr)
        return E_POINTER;
    std::lock_guard lock(FLock);
    if (FGraph)
        return E_UNEXPECTED;
    FGraph = TRefPtr<IGraphBuilder>(graph);
    return S_OK;
}

HRESULT TCaptureGraphBuilder::GetFiltergraph(IGraphBuilder** graph)
{
    if (graph == nullptr)
        return E_POINTER;
    *graph = Graph().Detach();
    return *graph != nullptr ? S_OK : E_UNEXPECTED;
}

HRESULT TCaptureGraphBuilder::RenderStream(const TGUID* category, const TGUID* mediaType, IUnknown* source,
                                           IBaseFilter* intermediate, IBaseFilter* sink)
{
    if (intermediate != nullptr)
        return E_NOTIMPL;
    const TRefPtr<IGraphBuilder> graph = Graph();
    if (!graph)
        return E_UNEXPECTED;
    if (source == nullptr)
        return E_POINTER;
    const auto sourceFilter = QueryAs<IBaseFilter>(source);
    if (!sourceFilter || !IsInGraph(*sourceFilter, *graph))
        return E_INVALIDARG;
    if (category != nullptr && *category != GUID_NULL)
        return VFW_E_NOT_FOUND;
    const TRefPtr<IPin> output = FindFreePin(*sourceFilter, PINDIR_OUTPUT, mediaType);
    if (!output)
        return VFW_E_NOT_FOUND;

    TRefPtr<IBaseFilter> renderer(sink);
    const bool madeHere = !renderer;
    if (madeHere)
    {
        void* made = nullptr;
        const HRESULT bound =
            DefaultAudioRendererMoniker()->BindToObject(nullptr, nullptr, IBaseFilter::kIID, &made);
        if (FAILED(bound))
            return bound;
        renderer = AdoptRef(static_cast<IBaseFilter*>(made));
        const HRESULT added = graph->AddFilter(renderer.Get(), kDefaultAudioRendererFilterName);
        if (FAILED(added))
            return added;
    }
    else if (!IsInGraph(*renderer, *graph))
        return E_INVALIDARG;

    HRESULT connected = VFW_E_NOT_FOUND;
    if (const TRefPtr<IPin> input = FindFreePin(*renderer, PINDIR_INPUT, nullptr))
        connected = graph->Connect(output.Get(), input.Get());
    if (FAILED(connected) && madeHere)
        (void)graph->RemoveFilter(renderer.Get());
    return connected;
}

TRefPtr<IGraphBuilder> TCaptureGraphBuilder::Graph()
{
    std::lock_guard lock(FLock);
    return FGraph;
}

}   // namespace harvolin
