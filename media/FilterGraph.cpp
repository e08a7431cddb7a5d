#include "media/FilterGraph.h"
#include <algorithm>
#include <cstring>

namespace harvolin
{
namespace
{

// A renderer has no output pin: it goes first into pause and run, last nothing.
bool HasOutputPin(IBaseFilter& filter)
{
    IEnumPins* pins = nullptr;
    if (FAILED(filter.EnumPins(&pins)) || pins == nullptr)
        return false;
    auto enumerator = AdoptRef(pins);
    IPin* pin = nullptr;
    std::uint32_t fetched = 0;
    while (enumerator->Next(1, &pin, &fetched) == S_OK && fetched == 1)
    {
        auto held = AdoptRef(pin);
        PIN_DIRECTION direction = PINDIR_INPUT;
        if (SUCCEEDED(held->QueryDirection(&direction)) && direction == PINDIR_OUTPUT)
            return true;
    }
    return false;
}

}   // namespace

TFilterGraph::~TFilterGraph()
{
    (void)Stop();
    // A renderer that is the graph's clock holds a reference on itself as its sync source: only taking the
    // clock away lets it go.
    (void)SetSyncSource(nullptr);
    for (const TEntry& entry : FFilters)
        (void)entry.Filter->JoinFilterGraph(nullptr, nullptr);
}

HRESULT TFilterGraph::AddFilter(IBaseFilter* filter, const char* name)
{
    if (filter == nullptr)
        return E_POINTER;
    std::string chosen = name != nullptr ? name : "";
    {
        std::lock_guard lock(FFiltersLock);
        if (chosen.empty())
            chosen = "Filter " + std::to_string(FFilters.size() + 1);
        for (const TEntry& entry : FFilters)
        {
            if (entry.Filter.Get() == filter)
                return E_INVALIDARG;
            if (entry.Name == chosen)
                return VFW_E_DUPLICATE_NAME;
        }
        FFilters.push_back({TRefPtr<IBaseFilter>(filter), chosen});
    }
    const HRESULT joined = filter->JoinFilterGraph(this, chosen.c_str());
    if (FAILED(joined))
    {
        std::lock_guard lock(FFiltersLock);
        std::erase_if(FFilters, [&](const TEntry& entry) { return entry.Filter.Get() == filter; });
    }
    return joined;
}

HRESULT TFilterGraph::RemoveFilter(IBaseFilter* filter)
{
    if (filter == nullptr)
        return E_POINTER;
    TRefPtr<IBaseFilter> removed;
    {
        std::lock_guard lock(FFiltersLock);
        auto found = std::find_if(FFilters.begin(), FFilters.end(),
                                  [&](const TEntry& entry) { return entry.Filter.Get() == filter; });
        if (found == FFilters.end())
            return VFW_E_NOT_FOUND;
        removed = found->Filter;
        FFilters.erase(found);
    }
    (void)removed->Stop();
    (void)removed->SetSyncSource(nullptr);
    (void)removed->JoinFilterGraph(nullptr, nullptr);
    {
        // A clock that leaves with its filter is the graph's no more.
        std::lock_guard lock(FFiltersLock);
        if (FClock && QueryAs<IUnknown>(FClock.Get()).Get() == QueryAs<IUnknown>(removed.Get()).Get())
            FClock.Reset();
    }
    return S_OK;
}

HRESULT TFilterGraph::FindFilterByName(const char* name, IBaseFilter** filter)
{
    if (name == nullptr || filter == nullptr)
        return E_POINTER;
    std::lock_guard lock(FFiltersLock);
    for (const TEntry& entry : FFilters)
        if (entry.Name == name)
        {
            *filter = entry.Filter.Get();
            (*filter)->AddRef();
            return S_OK;
        }
    *filter = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT TFilterGraph::ConnectDirect(IPin* output, IPin* input, const AM_MEDIA_TYPE* type)
{
    if (output == nullptr || input == nullptr)
        return E_POINTER;
    return output->Connect(input, type);
}

HRESULT TFilterGraph::Connect(IPin* output, IPin* input)
{
    return ConnectDirect(output, input, nullptr);
}

HRESULT TFilterGraph::Disconnect(IPin* pin)
{
    if (pin == nullptr)
        return E_POINTER;
    return pin->Disconnect();
}

HRESULT TFilterGraph::SetDefaultSyncSource()
{
    for (const TRefPtr<IBaseFilter>& filter : Filters())
        if (auto clock = QueryAs<IReferenceClock>(filter.Get()))
            return SetSyncSource(clock.Get());
    return SetSyncSource(nullptr);
}

HRESULT TFilterGraph::Run()
{
    return Run(0);
}

HRESULT TFilterGraph::Run(REFERENCE_TIME start)
{
    std::lock_guard state(FStateLock);
    FILTER_STATE current = State_Stopped;
    {
        std::lock_guard lock(FFiltersLock);
        current = FState;
    }
    if (current == State_Stopped)
    {
        if (!FClock)
            (void)SetDefaultSyncSource();
        const HRESULT paused = ChangeState([](IBaseFilter& filter) { return filter.Pause(); });
        if (FAILED(paused))
        {
            (void)ChangeState([](IBaseFilter& filter) { return filter.Stop(); });
            return paused;
        }
    }
    const HRESULT ran = ChangeState([start](IBaseFilter& filter) { return filter.Run(start); });
    std::lock_guard lock(FFiltersLock);
    FState = SUCCEEDED(ran) ? State_Running : State_Paused;
    return ran;
}

HRESULT TFilterGraph::Pause()
{
    std::lock_guard state(FStateLock);
    {
        std::lock_guard lock(FFiltersLock);
        if (FState == State_Paused)
            return S_OK;
    }
    if (!FClock)
        (void)SetDefaultSyncSource();
    const HRESULT paused = ChangeState([](IBaseFilter& filter) { return filter.Pause(); });
    std::lock_guard lock(FFiltersLock);
    if (SUCCEEDED(paused))
        FState = State_Paused;
    return paused;
}

HRESULT TFilterGraph::Stop()
{
    std::lock_guard state(FStateLock);
    const HRESULT stopped = ChangeState([](IBaseFilter& filter) { return filter.Stop(); });
    std::lock_guard lock(FFiltersLock);
    FState = State_Stopped;
    return stopped;
}

HRESULT TFilterGraph::GetState(std::int32_t timeoutMs, FILTER_STATE* state)
{
    return GetState(static_cast<std::uint32_t>(std::max(timeoutMs, 0)), state);
}

HRESULT TFilterGraph::GetState(std::uint32_t timeoutMs, FILTER_STATE* state)
{
    (void)timeoutMs;
    if (state == nullptr)
        return E_POINTER;
    std::lock_guard lock(FFiltersLock);
    *state = FState;
    return S_OK;
}

HRESULT TFilterGraph::GetClassID(TGUID* classId)
{
    if (classId == nullptr)
        return E_POINTER;
    *classId = CLSID_FilterGraph;
    return S_OK;
}

HRESULT TFilterGraph::SetSyncSource(IReferenceClock* clock)
{
    {
        std::lock_guard lock(FFiltersLock);
        FClock = TRefPtr<IReferenceClock>(clock);
    }
    HRESULT result = S_OK;
    for (const TRefPtr<IBaseFilter>& filter : Filters())
    {
        const HRESULT set = filter->SetSyncSource(clock);
        if (FAILED(set) && SUCCEEDED(result))
            result = set;
    }
    return result;
}

HRESULT TFilterGraph::GetSyncSource(IReferenceClock** clock)
{
    if (clock == nullptr)
        return E_POINTER;
    std::lock_guard lock(FFiltersLock);
    *clock = FClock.Get();
    if (*clock != nullptr)
        (*clock)->AddRef();
    return S_OK;
}

HRESULT TFilterGraph::GetEvent(std::int32_t* code, std::intptr_t* param1, std::intptr_t* param2,
                               std::int32_t timeoutMs)
{
    (void)timeoutMs;
    if (code == nullptr || param1 == nullptr || param2 == nullptr)
        return E_POINTER;
    std::lock_guard lock(FEventsLock);
    if (FEvents.empty())
        return E_ABORT;
    const TQueuedEvent event = FEvents.front();
    FEvents.pop_front();
    *code = event.Code;
    *param1 = event.Param1;
    *param2 = event.Param2;
    return S_OK;
}

HRESULT TFilterGraph::FreeEventParams(std::int32_t code, std::intptr_t param1, std::intptr_t param2)
{
    // The parameters of the events raised here are plain values: nothing to free.
    (void)code;
    (void)param1;
    (void)param2;
    return S_OK;
}

HRESULT TFilterGraph::SetNotifyWindow(std::uintptr_t window, std::int32_t msg, std::intptr_t instance)
{
    std::lock_guard lock(FEventsLock);
    FNotifyWindow = window;
    FNotifyMessage = msg;
    FNotifyInstance = instance;
    return S_OK;
}

HRESULT TFilterGraph::SetNotifyFlags(std::int32_t flags)
{
    if (flags != 0 && flags != AM_MEDIAEVENT_NONOTIFY)
        return E_INVALIDARG;
    std::lock_guard lock(FEventsLock);
    FNotifyFlags = flags;
    return S_OK;
}

HRESULT TFilterGraph::GetNotifyFlags(std::int32_t* flags)
{
    if (flags == nullptr)
        return E_POINTER;
    std::lock_guard lock(FEventsLock);
    *flags = FNotifyFlags;
    return S_OK;
}

HRESULT TFilterGraph::Notify(std::int32_t code, std::intptr_t param1, std::intptr_t param2)
{
    std::uintptr_t window = 0;
    std::int32_t msg = 0;
    std::intptr_t instance = 0;
    {
        std::lock_guard lock(FEventsLock);
        FEvents.push_back({code, param1, param2});
        if (FNotifyFlags == 0)
        {
            window = FNotifyWindow;
            msg = FNotifyMessage;
            instance = FNotifyInstance;
        }
    }
    // Outside the lock: the window's owner may be reading events right now. A window that is gone makes
    // the post fail, and the event waits for whoever asks.
    if (window != 0)
        (void)PostMessageTo(window, static_cast<std::uint32_t>(msg), 0, instance);
    return S_OK;
}

HRESULT TFilterGraph::ChangeState(const std::function<HRESULT(IBaseFilter&)>& change)
{
    std::vector<TRefPtr<IBaseFilter>> filters = Filters();
    std::stable_partition(filters.begin(), filters.end(),
                          [](const TRefPtr<IBaseFilter>& filter) { return !HasOutputPin(*filter); });
    HRESULT result = S_OK;
    for (const TRefPtr<IBaseFilter>& filter : filters)
    {
        const HRESULT changed = change(*filter);
        if (FAILED(changed) && SUCCEEDED(result))
            result = changed;
    }
    return result;
}

std::vector<TRefPtr<IBaseFilter>> TFilterGraph::Filters() const
{
    std::lock_guard lock(FFiltersLock);
    std::vector<TRefPtr<IBaseFilter>> filters;
    filters.reserve(FFilters.size());
    for (const TEntry& entry : FFilters)
        filters.push_back(entry.Filter);
    return filters;
}

}   // namespace harvolin
