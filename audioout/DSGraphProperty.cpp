#include "audioout/DSGraphProperty.h"
#include "audioout/DSErrors.h"
#include "media/DeviceEnumerator.h"
#include "media/Monikers.h"
#include "media/RunningObjectTable.h"
#include "pins/OWLockGroups.h"
#include "rtl/Threads.h"
#include <utility>

namespace harvolin
{

namespace
{

// The running object table keeps the graph alive while it is registered.
constexpr std::uint32_t kRotFlagsKeepAlive = 1;

}   // namespace

TDSGraph::TDSGraph(TComponent* owner, TOWObject* inputPin)
    : FOwner(owner), FAdditionalFilters(this), FInputPin(inputPin)
{
    FComInitialized = SUCCEEDED(CoInitialize(nullptr));
    try
    {
        FWindow =
            std::make_unique<TMessageWindow>([this](const TMessage& message) { HandleMessage(message); });
    }
    catch (...)
    {
        if (FComInitialized)
            CoUninitialize();
        throw;
    }
}

TDSGraph::~TDSGraph()
{
    FAdditionalFilters.Clear();
    // On the owner thread no handler call is under way once the window is gone.
    FWindow.reset();
    if (FComInitialized)
        CoUninitialize();
}

const TClassInfo& TDSGraph::StaticClassInfo()
{
    static const TClassInfo info = []
    {
        using T = TDSGraph;
        TPropertyList<T> properties;
        properties.Object("AdditionalFilters", [](T& g) { return &g.FAdditionalFilters; });
        properties.Boolean(
            "Register", [](const T& g) { return g.Register(); }, [](T& g, bool v) { g.SetRegister(v); },
            false);
        return TClassInfo("TDSGraph", &TPersistent::StaticClassInfo(), properties.Take());
    }();
    return info;
}

void TDSGraph::Assign(const TPersistent& source)
{
    const auto* other = dynamic_cast<const TDSGraph*>(&source);
    if (other == nullptr)
        return TPersistent::Assign(source);
    FAdditionalFilters.Assign(other->FAdditionalFilters);
    SetRegister(other->FRegister);
}

void TDSGraph::SetRegister(bool value)
{
    if (value == FRegister)
        return;
    if (FActive)
    {
        // The table's entry follows the flag while active: register before storing, so that
        // RegisterInTable sees the graph as one to register.
        if (value)
            RegisterInTable();
        else
            RevokeFromTable();
    }
    FRegister = value;
}

TDSErrorEvent TDSGraph::OnError() const
{
    return Locked([&] { return FOnError; });
}

void TDSGraph::SetOnError(TDSErrorEvent handler)
{
    Locked([&] { FOnError = std::move(handler); });
}

TDSWarningEvent TDSGraph::OnWarning() const
{
    return Locked([&] { return FOnWarning; });
}

void TDSGraph::SetOnWarning(TDSWarningEvent handler)
{
    Locked([&] { FOnWarning = std::move(handler); });
}

TDSNotifyEvent TDSGraph::OnGraphBuilt() const
{
    return Locked([&] { return FOnGraphBuilt; });
}

void TDSGraph::SetOnGraphBuilt(TDSNotifyEvent handler)
{
    Locked([&] { FOnGraphBuilt = std::move(handler); });
}

bool TDSGraph::CreateFilterGraph()
{
    if (FFilterGraph)
        return true;
    void* made = nullptr;
    const HRESULT result =
        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC, IGraphBuilder::kIID, &made);
    if (FAILED(result))
    {
        ReportError(kDSCannotBuildGraph, result);
        return false;
    }
    FFilterGraph = AdoptRef(static_cast<IGraphBuilder*>(made));
    return true;
}

bool TDSGraph::AddAdditionalFilters()
{
    bool allAdded = true;
    for (std::size_t i = 0; i < FAdditionalFilters.Count(); ++i)
        allAdded = AddFilter(FAdditionalFilters.Items(i), i) && allAdded;
    return allAdded;
}

bool TDSGraph::AddFilter(const TDSFilterItem& item, std::size_t index)
{
    if (!FFilterGraph || DSUpperCase(item.FilterName()) == "NONE")
        return false;
    TVLDSCapDeviceList filters;
    filters.EnumerateAllFilters();
    const TRefPtr<IMoniker> moniker = filters.MonikerByDisplayName(item.StoredDisplayName());
    if (!moniker)
        return false;
    void* bound = nullptr;
    if (FAILED(moniker->BindToObject(nullptr, nullptr, IBaseFilter::kIID, &bound)) || bound == nullptr)
        return false;
    const TRefPtr<IBaseFilter> filter = AdoptRef(static_cast<IBaseFilter*>(bound));
    const std::string name = item.FilterName() + "(Additional " + std::to_string(index + 1) + ")";
    return SUCCEEDED(FFilterGraph->AddFilter(filter.Get(), name.c_str()));
}

void TDSGraph::Activate()
{
    if (FActive)
        return;
    if (FRegister)
        RegisterInTable();
    FActive = true;
}

void TDSGraph::Deactivate()
{
    if (!FActive)
        return;
    if (FRegister)
        RevokeFromTable();
    FActive = false;
}

void TDSGraph::RegisterInTable()
{
    // Every step that fails leaves the graph unregistered and says nothing: the entry only helps someone
    // looking at the graph from outside.
    if (!FFilterGraph)
        return;
    IRunningObjectTable* obtained = nullptr;
    if (FAILED(GetRunningObjectTable(0, &obtained)))
        return;
    const TRefPtr<IRunningObjectTable> table = AdoptRef(obtained);
    const std::string name =
        Format(kDSGraphRotNameFormat, {static_cast<const void*>(FFilterGraph.Get()), CurrentProcessId()});
    IMoniker* made = nullptr;
    if (FAILED(CreateItemMoniker("!", name.c_str(), &made)))
        return;
    const TRefPtr<IMoniker> moniker = AdoptRef(made);
    std::uint32_t cookie = 0;
    if (SUCCEEDED(table->Register(kRotFlagsKeepAlive, FFilterGraph.Get(), moniker.Get(), &cookie)))
        FRotCookie = cookie;
}

void TDSGraph::RevokeFromTable()
{
    if (FRotCookie == 0)
        return;
    IRunningObjectTable* obtained = nullptr;
    if (FAILED(GetRunningObjectTable(0, &obtained)))
        return;
    const TRefPtr<IRunningObjectTable> table = AdoptRef(obtained);
    (void)table->Revoke(std::exchange(FRotCookie, 0));
}

bool TDSGraph::EnableEvents()
{
    FMediaEvent = QueryAs<IMediaEventEx>(FFilterGraph.Get());
    if (!FMediaEvent)
        return false;
    FMediaEvent->SetNotifyWindow(FWindow->Handle(), static_cast<std::int32_t>(kDSGraphEventMessage), 0);
    FMediaEvent->SetNotifyFlags(0);
    return true;
}

void TDSGraph::ReleaseFilterGraph()
{
    if (FMediaEvent)
        FMediaEvent->SetNotifyWindow(0, 0, 0);
    FMediaEvent = nullptr;
    FFilterGraph = nullptr;
}

void TDSGraph::ReportError(const std::string& text, std::int32_t code)
{
    bool handled = false;
    if (const TDSErrorEvent handler = OnError())
        handler(FOwner, text, code, handled);
    if (!handled)
        throw EDSException(Format(
            "%s - %u - %x", {text, static_cast<std::uint32_t>(code), static_cast<std::uint32_t>(code)}));
}

void TDSGraph::HandleMessage(const TMessage& message)
{
    if (message.Msg == kDSGraphEventMessage)
        PumpEvents();
    else if (FMessageHook)
        FMessageHook(message);
}

void TDSGraph::PumpEvents()
{
    // The graph may be released between the post and this call; its events went with it.
    const TRefPtr<IMediaEventEx> events = FMediaEvent;
    if (!events)
        return;
    const TRefPtr<IOWLockSection> section = FInputPin->GetWriteLockSection();
    std::int32_t code = 0;
    std::intptr_t param1 = 0;
    std::intptr_t param2 = 0;
    while (SUCCEEDED(events->GetEvent(&code, &param1, &param2, 0)))
    {
        // A handler that raises ends the pump (the window reports it); the event's parameters are freed
        // all the same, and later events wait for the next notice.
        struct TFreeParams
        {
            IMediaEventEx& Events;
            std::int32_t Code;
            std::intptr_t Param1;
            std::intptr_t Param2;
            ~TFreeParams() { (void)Events.FreeEventParams(Code, Param1, Param2); }
        } freeParams{*events, code, param1, param2};
        if (FGraphEventCallback)
            FGraphEventCallback(code, param1, param2);
        const TDSNotifyEvent* notify = code == EC_ERRORABORT    ? &OnAborted
                                       : code == EC_STARVATION  ? &OnStarvation
                                       : code == EC_DEVICE_LOST ? &OnDeviceLost
                                                                : nullptr;
        if (notify != nullptr && *notify)
            (*notify)(FOwner);
    }
}

}   // namespace harvolin
