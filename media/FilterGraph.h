#pragma once
#include "media/MediaInterfaces.h"
#include "media/ReferenceClock.h"
#include "rtl/MessageWindow.h"
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace harvolin
{

inline constexpr HRESULT E_ABORT = MakeResult(0x80004004);
inline constexpr HRESULT VFW_E_DUPLICATE_NAME = MakeResult(0x8004022F);

// The graph as its owner builds it: filters added by name and pins connected directly.
class IGraphBuilder : public IFilterGraph
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A868A9-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IFilterGraph;

    // Connects output to input directly; there are no intermediate filters to insert.
    virtual HRESULT Connect(IPin* output, IPin* input) = 0;
};

// Running, pausing and stopping every filter of the graph together.
class IMediaControl : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A868B1-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IUnknown;

    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(std::int32_t timeoutMs, FILTER_STATE* state) = 0;
};

// The graph's events as its owner hears them: queued in order, announced by a message to a window, and
// handed out one at a time.
class IMediaEventEx : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A868C0-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IUnknown;

    // The oldest event, or E_ABORT when none waits (the timeout is not waited: events come from other
    // threads and are announced by the window message).
    virtual HRESULT GetEvent(std::int32_t* code, std::intptr_t* param1, std::intptr_t* param2,
                             std::int32_t timeoutMs) = 0;
    virtual HRESULT FreeEventParams(std::int32_t code, std::intptr_t param1, std::intptr_t param2) = 0;
    // Posts msg (with instance as its second parameter) to the window with that handle whenever an event is
    // queued; 0 stops the messages.
    virtual HRESULT SetNotifyWindow(std::uintptr_t window, std::int32_t msg, std::intptr_t instance) = 0;
    // AM_MEDIAEVENT_NONOTIFY (1) stops the messages (events are still queued); 0 turns them on.
    virtual HRESULT SetNotifyFlags(std::int32_t flags) = 0;
    virtual HRESULT GetNotifyFlags(std::int32_t* flags) = 0;
};

inline constexpr std::int32_t AM_MEDIAEVENT_NONOTIFY = 1;
inline constexpr TGUID CLSID_FilterGraph = MakeGuid("{E436EBB3-524F-11CE-9F53-0020AF0BA770}");

// The filter graph: it holds its filters (a reference each, names unique), moves them all through the
// states together, gives every filter the graph's clock (the first filter that is a clock, which is the
// renderer), and queues the events its filters raise for its owner.
//
// Threads: its owner (the window thread, or the audio output's threads) builds and runs it; filters raise
// events from their own threads (a renderer from the thread that delivers samples). One lock guards the
// filters and state, another the events; neither is held while a filter is called for a state change,
// except the graph's own state lock, which filters never take.
class TFilterGraph final
    : public TComObject<IGraphBuilder, IMediaControl, IMediaFilter, IMediaEventEx, IMediaEventSink>
{
public:
    TFilterGraph() = default;

    // IFilterGraph, IGraphBuilder
    HRESULT AddFilter(IBaseFilter* filter, const char* name) override;
    HRESULT RemoveFilter(IBaseFilter* filter) override;
    HRESULT FindFilterByName(const char* name, IBaseFilter** filter) override;
    HRESULT ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* type) override;
    HRESULT Disconnect(IPin* pin) override;
    HRESULT SetDefaultSyncSource() override;
    HRESULT Connect(IPin* output, IPin* input) override;
    // IMediaControl; Run and Pause from stopped go through paused, as the filters expect.
    HRESULT Run() override;
    HRESULT Pause() override;
    HRESULT Stop() override;
    HRESULT GetState(std::int32_t timeoutMs, FILTER_STATE* state) override;
    // IMediaFilter, IPersist
    HRESULT GetClassID(TGUID* classId) override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(std::uint32_t timeoutMs, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;
    // IMediaEventEx
    HRESULT GetEvent(std::int32_t* code, std::intptr_t* param1, std::intptr_t* param2,
                     std::int32_t timeoutMs) override;
    HRESULT FreeEventParams(std::int32_t code, std::intptr_t param1, std::intptr_t param2) override;
    HRESULT SetNotifyWindow(std::uintptr_t window, std::int32_t msg, std::intptr_t instance) override;
    HRESULT SetNotifyFlags(std::int32_t flags) override;
    HRESULT GetNotifyFlags(std::int32_t* flags) override;
    // IMediaEventSink: what filters raise.
    HRESULT Notify(std::int32_t code, std::intptr_t param1, std::intptr_t param2) override;
private:
    ~TFilterGraph() override;

    struct TEntry
    {
        TRefPtr<IBaseFilter> Filter;
        std::string Name;
    };
    struct TQueuedEvent
    {
        std::int32_t Code;
        std::intptr_t Param1;
        std::intptr_t Param2;
    };

    // Calls change on every filter, renderers (filters without outputs) first for pause and run, so that a
    // source never delivers to a renderer that is not ready; the first failure is returned after all.
    // FStateLock held.
    HRESULT ChangeState(const std::function<HRESULT(IBaseFilter&)>& change);
    [[nodiscard]] std::vector<TRefPtr<IBaseFilter>> Filters() const;

    std::mutex FStateLock;   // state changes, one at a time
    mutable std::mutex FFiltersLock;
    std::vector<TEntry> FFilters;          // guarded by FFiltersLock
    TRefPtr<IReferenceClock> FClock;       // guarded by FFiltersLock
    FILTER_STATE FState = State_Stopped;   // guarded by FFiltersLock
    std::mutex FEventsLock;
    std::deque<TQueuedEvent> FEvents;    // guarded by FEventsLock
    std::uintptr_t FNotifyWindow = 0;    // guarded by FEventsLock
    std::int32_t FNotifyMessage = 0;     // guarded by FEventsLock
    std::intptr_t FNotifyInstance = 0;   // guarded by FEventsLock
    std::int32_t FNotifyFlags = 0;       // guarded by FEventsLock
};

}   // namespace harvolin
