#pragma once
#include "media/ComObject.h"
#include "media/MediaTypes.h"
#include "media/MemAllocator.h"
#include <cstdint>

namespace harvolin
{

// The interfaces of filters and pins, through which a graph connects, runs and feeds them. Names, identifiers
// and result codes are the platform's; texts are UTF-8 (the platform's are wide), and a text handed out as
// task memory is freed with CoTaskMemFree. Every call reports a result code and never raises.

class IBaseFilter;
class IEnumMediaTypes;
class IEnumPins;
class IFilterGraph;
class IPin;
class IReferenceClock;

enum FILTER_STATE : std::int32_t
{
    State_Stopped = 0,
    State_Paused = 1,
    State_Running = 2
};

enum PIN_DIRECTION : std::int32_t
{
    PINDIR_INPUT = 0,
    PINDIR_OUTPUT = 1
};

inline constexpr std::size_t MAX_PIN_NAME = 128;
inline constexpr std::size_t MAX_FILTER_NAME = 128;

// The filter of a pin comes with a reference, which the caller releases.
struct PIN_INFO
{
    IBaseFilter* pFilter;
    PIN_DIRECTION dir;
    char achName[MAX_PIN_NAME];
};

// The graph comes with a reference (or null), which the caller releases.
struct FILTER_INFO
{
    char achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph;
};

struct Quality
{
    std::int32_t Type;
    std::int32_t Proportion;
    REFERENCE_TIME Late;
    REFERENCE_TIME TimeStamp;
};

class IPersist : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{0000010C-0000-0000-C000-000000000046}");
    using TParent = IUnknown;

    virtual HRESULT GetClassID(TGUID* classId) = 0;
};

class IMediaFilter : public IPersist
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A86899-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IPersist;

    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(std::uint32_t timeoutMs, FILTER_STATE* state) = 0;
    virtual HRESULT SetSyncSource(IReferenceClock* clock) = 0;
    virtual HRESULT GetSyncSource(IReferenceClock** clock) = 0;
};

class IBaseFilter : public IMediaFilter
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A86895-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IMediaFilter;

    virtual HRESULT EnumPins(IEnumPins** pins) = 0;
    virtual HRESULT FindPin(const char* id, IPin** pin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* info) = 0;
    // The graph is kept without a reference: the graph owns its filters, not the other way round.
    virtual HRESULT JoinFilterGraph(IFilterGraph* graph, const char* name) = 0;
    virtual HRESULT QueryVendorInfo(char** vendorInfo) = 0;
};

class IPin : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A86891-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IUnknown;

    virtual HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** pin) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* info) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* direction) = 0;
    virtual HRESULT QueryId(char** id) = 0;
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** types) = 0;
    virtual HRESULT QueryInternalConnections(IPin** pins, std::uint32_t* count) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) = 0;
};

class IEnumPins : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A86892-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IUnknown;

    virtual HRESULT Next(std::uint32_t count, IPin** pins, std::uint32_t* fetched) = 0;
    virtual HRESULT Skip(std::uint32_t count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumPins** copy) = 0;
};

// Next hands out task-allocated records (DeleteMediaType frees each).
class IEnumMediaTypes : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{89C31040-846B-11CE-97D3-00AA0055595A}");
    using TParent = IUnknown;

    virtual HRESULT Next(std::uint32_t count, AM_MEDIA_TYPE** types, std::uint32_t* fetched) = 0;
    virtual HRESULT Skip(std::uint32_t count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMediaTypes** copy) = 0;
};

// The receiving side of a connection: the allocator it proposes or accepts, and the samples it takes.
// Receive may block until the pin has room; that is what paces a push source.
class IMemInputPin : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A8689D-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IUnknown;

    virtual HRESULT GetAllocator(IMemAllocator** allocator) = 0;
    virtual HRESULT NotifyAllocator(IMemAllocator* allocator, bool readOnly) = 0;
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) = 0;
    virtual HRESULT Receive(IMediaSample* sample) = 0;
    virtual HRESULT ReceiveMultiple(IMediaSample** samples, std::int32_t count, std::int32_t* processed) = 0;
    // S_OK when Receive may block.
    virtual HRESULT ReceiveCanBlock() = 0;
};

class IQualityControl : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A868A5-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IUnknown;

    virtual HRESULT Notify(IBaseFilter* self, Quality quality) = 0;
    virtual HRESULT SetSink(IQualityControl* sink) = 0;
};

// Event codes a filter raises to its graph.
inline constexpr std::int32_t EC_COMPLETE = 0x01;
inline constexpr std::int32_t EC_ERRORABORT = 0x03;
inline constexpr std::int32_t EC_STARVATION = 0x17;
inline constexpr std::int32_t EC_DEVICE_LOST = 0x1F;

inline constexpr HRESULT VFW_E_WRONG_STATE = MakeResult(0x80040227);

// Where a filter raises its events: the graph answers it.
class IMediaEventSink : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A868A2-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IUnknown;

    virtual HRESULT Notify(std::int32_t code, std::intptr_t param1, std::intptr_t param2) = 0;
};

// The graph as a filter sees it. Filters are added by name; the graph holds a reference on each.
class IFilterGraph : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A8689F-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IUnknown;

    virtual HRESULT AddFilter(IBaseFilter* filter, const char* name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* filter) = 0;
    virtual HRESULT FindFilterByName(const char* name, IBaseFilter** filter) = 0;
    virtual HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* type) = 0;
    virtual HRESULT Disconnect(IPin* pin) = 0;
    virtual HRESULT SetDefaultSyncSource() = 0;
};

}   // namespace harvolin
