#pragma once
#include "media/FilterGraph.h"
#include "media/MediaInterfaces.h"
#include <mutex>

namespace harvolin
{

inline constexpr TGUID CLSID_CaptureGraphBuilder2 = MakeGuid("{BF87B6E1-8C27-11D0-B3F0-00AA003761C5}");
inline constexpr char kDefaultAudioRendererFilterName[] = "Audio Renderer";

// Connects a source filter to a renderer in a filter graph, picking the default audio renderer when it is
// given none.
class ICaptureGraphBuilder2 : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{93E5A4E0-2D50-11D2-ABFA-00A0C9C6E38D}");
    using TParent = IUnknown;

    // The graph to build in, held with a reference. E_POINTER for null, E_UNEXPECTED once one is set.
    virtual HRESULT SetFiltergraph(IGraphBuilder* graph) = 0;
    // The graph with a new reference; E_UNEXPECTED (and null) before SetFiltergraph.
    virtual HRESULT GetFiltergraph(IGraphBuilder** graph) = 0;
    // Connects the first unconnected output pin of source (a filter in the graph) that offers mediaType's
    // major type (any pin when mediaType is null) to the first unconnected input pin of sink, through the
    // graph's Connect, which runs the pins' connection protocol. Without a sink, the default audio renderer
    // is made, added to the graph as "Audio Renderer" and connected; when the connection fails it is
    // removed again. The connection's failure is returned as it came: a renderer whose device cannot be
    // opened fails with VFW_E_NO_AUDIO_HARDWARE (and its LastError() and a diagnostics report say why),
    // which the source pin's protocol passes on.
    //
    // E_UNEXPECTED without a graph; E_POINTER without a source; E_INVALIDARG for a source or sink that is
    // not a filter in the graph; VFW_E_NOT_FOUND when no pin fits, or when a pin category is asked for (no
    // pin here has one). Intermediate filters are E_NOTIMPL: nothing in the program inserts one.
    virtual HRESULT RenderStream(const TGUID* category, const TGUID* mediaType, IUnknown* source,
                                 IBaseFilter* intermediate, IBaseFilter* sink) = 0;
};

// One thread at a time builds with it; a lock keeps the graph reference whole if two try.
class TCaptureGraphBuilder final : public TComObject<ICaptureGraphBuilder2>
{
public:
    HRESULT SetFiltergraph(IGraphBuilder* graph) override;
    HRESULT GetFiltergraph(IGraphBuilder** graph) override;
    HRESULT RenderStream(const TGUID* category, const TGUID* mediaType, IUnknown* source,
                         IBaseFilter* intermediate, IBaseFilter* sink) override;
private:
    [[nodiscard]] TRefPtr<IGraphBuilder> Graph();

    std::mutex FLock;
    TRefPtr<IGraphBuilder> FGraph;   // guarded by FLock
};

}   // namespace harvolin
