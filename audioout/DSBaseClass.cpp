#include "audioout/DSBaseClass.h"
#include "rtl/Diagnostics.h"
#include "rtl/Exceptions.h"
#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

namespace harvolin
{

namespace
{

constexpr char kAssertionFailure[] = "Assertion failure";
constexpr char kLockIsNil[] = "Lock = nil !";
constexpr std::uint32_t kWaveFormatSize = 18;   // the plain record, without the extensible tail
constexpr std::uint16_t kWaveFormatPcm = 1;

// Fails the pass through a list of candidate types quietly: these mean "not this type", any other failure
// is worth reporting to the caller of Connect.
bool IsTypeRefusal(HRESULT result) noexcept
{
    return result == E_FAIL || result == E_INVALIDARG || result == VFW_E_TYPE_NOT_ACCEPTED;
}

bool IsFullySpecified(const AM_MEDIA_TYPE& type) noexcept
{
    return type.majortype != GUID_NULL && type.subtype != GUID_NULL && type.formattype != GUID_NULL;
}

// A partial type matches a candidate where it names a value.
bool MatchesPartial(const AM_MEDIA_TYPE& candidate, const AM_MEDIA_TYPE& partial) noexcept
{
    return (partial.majortype == GUID_NULL || partial.majortype == candidate.majortype) &&
           (partial.subtype == GUID_NULL || partial.subtype == candidate.subtype) &&
           (partial.formattype == GUID_NULL || partial.formattype == candidate.formattype);
}

// Frees a type that a pin's enumerator handed out.
struct TTaskTypeDeleter
{
    void operator()(AM_MEDIA_TYPE* type) const noexcept { DeleteMediaType(type); }
};

std::uint16_t ReadU16(const std::uint8_t* bytes) noexcept
{
    std::uint16_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

std::uint32_t ReadU32(const std::uint8_t* bytes) noexcept
{
    std::uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// Hands out a new enumerator of class T as I; E_OUTOFMEMORY when it cannot be made.
template <class T, class I, class TSource>
HRESULT NewEnumerator(I** result, TSource& source) noexcept
{
    if (result == nullptr)
        return E_POINTER;
    *result = nullptr;
    try
    {
        *result = MakeComObject<T, I>(source).Detach();
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

}   // namespace

// ---- TDSDualUnknown ----

TDSDualUnknown::TDSDualUnknown(std::string name, IUnknown* outer)
    : FOwner(outer != nullptr ? outer : &FNonDelegating), FName(std::move(name))
{
}

HRESULT TDSDualUnknown::NonDelegatingQueryInterface(const TGUID& iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    if (iid == IUnknown::kIID)
    {
        *object = &FNonDelegating;
        NonDelegatingAddRef();
        return S_OK;
    }
    *object = GetInterface(iid);
    if (*object == nullptr)
        return E_NOINTERFACE;
    // Through the interface: an aggregated object's references belong to the outer unknown.
    static_cast<IUnknown*>(*object)->AddRef();
    return S_OK;
}

std::uint32_t TDSDualUnknown::NonDelegatingAddRef()
{
    // relaxed: whoever adds a reference already holds one.
    return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::uint32_t TDSDualUnknown::NonDelegatingRelease()
{
    // acq_rel: the thread that deletes must see every other owner's writes.
    const std::uint32_t left = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete this;
    return left;
}

void* TDSDualUnknown::GetInterface(const TGUID& iid) noexcept
{
    (void)iid;
    return nullptr;
}

// ---- TDSBaseFilter ----

TDSBaseFilter::TDSBaseFilter(std::string name, IUnknown* outer, TCriticalSection* lock, const TGUID& classId)
    : TDSDualUnknown(name, outer), FClassId(classId), FLock(lock), FFilterName(std::move(name))
{
    if (lock == nullptr)
        throw EAssertionFailed(kLockIsNil);
}

HRESULT TDSBaseFilter::QueryInterface(const TGUID& iid, void** object)
{
    return Owner()->QueryInterface(iid, object);
}

std::uint32_t TDSBaseFilter::AddRef()
{
    return Owner()->AddRef();
}

std::uint32_t TDSBaseFilter::Release()
{
    return Owner()->Release();
}

void* TDSBaseFilter::GetInterface(const TGUID& iid) noexcept
{
    if (void* found = detail::FindInterface<IBaseFilter>(this, iid))
        return found;
    return TDSDualUnknown::GetInterface(iid);
}

HRESULT TDSBaseFilter::GetClassID(TGUID* classId)
{
    if (classId == nullptr)
        return E_POINTER;
    *classId = FClassId;
    return S_OK;
}

HRESULT TDSBaseFilter::ForEachConnectedPin(const std::function<HRESULT(TDSBasePin&)>& action,
                                           bool stopAtFailure)
{
    HRESULT result = S_OK;
    const std::int32_t count = GetPinCount();
    for (std::int32_t i = 0; i < count; ++i)
    {
        TDSBasePin* pin = GetPin(i);
        if (pin == nullptr || !pin->IsConnected())
            continue;
        const HRESULT called = action(*pin);
        if (FAILED(called) && stopAtFailure)
            return called;
        if (FAILED(called) && SUCCEEDED(result))
            result = called;
    }
    return result;
}

HRESULT TDSBaseFilter::Stop()
{
    TCriticalSectionGuard guard(*FLock);
    HRESULT result = S_OK;
    // Every pin is made inactive, whatever one of them answers: a pin left committed would keep a
    // delivery waiting.
    if (FState != State_Stopped)
        result = ForEachConnectedPin([](TDSBasePin& pin) { return pin.Inactive(); }, false);
    FState = State_Stopped;
    return result;
}

HRESULT TDSBaseFilter::Pause()
{
    TCriticalSectionGuard guard(*FLock);
    if (FState == State_Stopped)
    {
        const HRESULT result = ForEachConnectedPin([](TDSBasePin& pin) { return pin.Active(); }, true);
        if (FAILED(result))
            return result;
    }
    FState = State_Paused;
    return S_OK;
}

HRESULT TDSBaseFilter::Run(REFERENCE_TIME start)
{
    TCriticalSectionGuard guard(*FLock);
    FStart = start;
    if (FState == State_Stopped)
    {
        const HRESULT paused = Pause();
        if (FAILED(paused))
            return paused;
    }
    if (FState != State_Running)
    {
        const HRESULT result = ForEachConnectedPin([start](TDSBasePin& pin) { return pin.Run(start); }, true);
        if (FAILED(result))
            return result;
    }
    FState = State_Running;
    return S_OK;
}

HRESULT TDSBaseFilter::GetState(std::uint32_t timeoutMs, FILTER_STATE* state)
{
    (void)timeoutMs;   // state changes complete before they return: never intermediate
    if (state == nullptr)
        return E_POINTER;
    *state = FState;
    return S_OK;
}

HRESULT TDSBaseFilter::SetSyncSource(IReferenceClock* clock)
{
    TCriticalSectionGuard guard(*FLock);
    FClock.Reset(clock);
    return S_OK;
}

HRESULT TDSBaseFilter::GetSyncSource(IReferenceClock** clock)
{
    if (clock == nullptr)
        return E_POINTER;
    TCriticalSectionGuard guard(*FLock);
    *clock = FClock.Get();
    if (*clock != nullptr)
        (*clock)->AddRef();
    return S_OK;
}

HRESULT TDSBaseFilter::EnumPins(IEnumPins** pins)
{
    return NewEnumerator<TDSEnumPins>(pins, *this);
}

HRESULT TDSBaseFilter::FindPin(const char* id, IPin** pin)
{
    if (pin == nullptr)
        return E_POINTER;
    *pin = nullptr;
    if (id == nullptr)
        return VFW_E_NOT_FOUND;
    TCriticalSectionGuard guard(*FLock);
    const std::int32_t count = GetPinCount();
    for (std::int32_t i = 0; i < count; ++i)
    {
        TDSBasePin* candidate = GetPin(i);
        if (candidate != nullptr && candidate->Name() == id)
        {
            candidate->AddRef();
            *pin = candidate;
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

HRESULT TDSBaseFilter::QueryFilterInfo(FILTER_INFO* info)
{
    if (info == nullptr)
        return E_POINTER;
    TCriticalSectionGuard guard(*FLock);
    CopyToNameField(info->achName, FFilterName);
    info->pGraph = FGraph;
    if (FGraph != nullptr)
        FGraph->AddRef();
    return S_OK;
}

HRESULT TDSBaseFilter::JoinFilterGraph(IFilterGraph* graph, const char* name)
{
    TCriticalSectionGuard guard(*FLock);
    FGraph = graph;
    FFilterName = name != nullptr ? name : "";
    return S_OK;
}

HRESULT TDSBaseFilter::QueryVendorInfo(char** vendorInfo)
{
    (void)vendorInfo;
    return E_NOTIMPL;
}

HRESULT TDSBaseFilter::StreamTime(REFERENCE_TIME* time)
{
    if (time == nullptr)
        return E_POINTER;
    TCriticalSectionGuard guard(*FLock);
    if (!FClock)
        return VFW_E_NO_CLOCK;
    const HRESULT result = FClock->GetTime(time);
    if (SUCCEEDED(result))
        *time -= FStart;
    return result;
}

// ---- TDSBaseSourceFilter ----

TDSBaseSourceFilter::TDSBaseSourceFilter(std::string name, IUnknown* outer, const TGUID& classId)
    : TDSBaseFilter(std::move(name), outer, &FFilterLock, classId)
{
}

TDSBaseSourceFilter::~TDSBaseSourceFilter()
{
    // Last first; a pin's destructor takes the list lock to unregister, so it is not held meanwhile.
    for (;;)
    {
        TDSBasePin* last = nullptr;
        {
            std::lock_guard lock(FPinsLock);
            if (FPins.empty())
                break;
            last = FPins.back();
        }
        delete last;
    }
}

std::int32_t TDSBaseSourceFilter::GetPinCount()
{
    std::lock_guard lock(FPinsLock);
    return static_cast<std::int32_t>(FPins.size());
}

TDSBasePin* TDSBaseSourceFilter::GetPin(std::int32_t index)
{
    std::lock_guard lock(FPinsLock);
    if (index < 0 || static_cast<std::size_t>(index) >= FPins.size())
        return nullptr;
    return FPins[static_cast<std::size_t>(index)];
}

void TDSBaseSourceFilter::AddPin(TDSBasePin* pin)
{
    {
        std::lock_guard lock(FPinsLock);
        FPins.push_back(pin);
    }
    IncrementPinVersion();
}

void TDSBaseSourceFilter::RemovePin(TDSBasePin* pin)
{
    {
        std::lock_guard lock(FPinsLock);
        std::erase(FPins, pin);
    }
    IncrementPinVersion();
}

// ---- TDSBasePin ----

TDSBasePin::TDSBasePin(std::string name, TDSBaseFilter* filter, TCriticalSection* lock,
                       PIN_DIRECTION direction)
    : TDSDualUnknown(std::move(name), nullptr), FDirection(direction), FLock(lock), FFilter(filter)
{
    if (filter == nullptr)
        throw EAssertionFailed(kAssertionFailure);
    if (lock == nullptr)
        throw EAssertionFailed(kLockIsNil);
}

TDSBasePin::~TDSBasePin()
{
    // No exception can leave here: the pin dies in its filter's last Release, which reports result codes.
    if (FConnected || FPinRefCount.load() != 0)
        ReportFailure(Name(), "destroying the pin", kAssertionFailure);
    FreeMediaType(FMediaType);
}

HRESULT TDSBasePin::QueryInterface(const TGUID& iid, void** object)
{
    return Owner()->QueryInterface(iid, object);
}

std::uint32_t TDSBasePin::AddRef()
{
    return Owner()->AddRef();
}

std::uint32_t TDSBasePin::Release()
{
    return Owner()->Release();
}

std::uint32_t TDSBasePin::NonDelegatingAddRef()
{
    const std::uint32_t count = static_cast<std::uint32_t>(++FPinRefCount);
    FFilter->AddRef();
    return count;
}

std::uint32_t TDSBasePin::NonDelegatingRelease()
{
    const std::uint32_t count = static_cast<std::uint32_t>(--FPinRefCount);
    // Last: the filter's release may delete the filter and so this pin.
    FFilter->Release();
    return count;
}

void* TDSBasePin::GetInterface(const TGUID& iid) noexcept
{
    if (void* found = detail::FindInterface<IPin>(this, iid))
        return found;
    if (void* found = detail::FindInterface<IQualityControl>(this, iid))
        return found;
    return TDSDualUnknown::GetInterface(iid);
}

bool TDSBasePin::IsConnected()
{
    TCriticalSectionGuard guard(*FLock);
    return static_cast<bool>(FConnected);
}

TRefPtr<IPin> TDSBasePin::ConnectedPin()
{
    TCriticalSectionGuard guard(*FLock);
    return FConnected;
}

void TDSBasePin::ClearConnection()
{
    FConnected.Reset();
    FreeMediaType(FMediaType);
    FMediaType = AM_MEDIA_TYPE{};
}

HRESULT TDSBasePin::Connect(IPin* receivePin, const AM_MEDIA_TYPE* type)
{
    if (receivePin == nullptr)
        return E_POINTER;
    TCriticalSectionGuard guard(*FLock);
    if (FConnected)
        return VFW_E_ALREADY_CONNECTED;
    if (FFilter->State() != State_Stopped && !FCanReconnectWhenActive)
        return VFW_E_NOT_STOPPED;
    const HRESULT result = AgreeMediaType(*receivePin, type);
    if (FAILED(result))
    {
        BreakConnect();
        return result;
    }
    return S_OK;
}

HRESULT TDSBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type)
{
    if (connector == nullptr || type == nullptr)
        return E_POINTER;
    TCriticalSectionGuard guard(*FLock);
    if (FConnected)
        return VFW_E_ALREADY_CONNECTED;
    if (FFilter->State() != State_Stopped && !FCanReconnectWhenActive)
        return VFW_E_NOT_STOPPED;
    HRESULT result = CheckConnect(*connector);
    if (FAILED(result))
    {
        BreakConnect();
        return result;
    }
    result = CheckMediaType(*type);
    if (result != S_OK)
    {
        BreakConnect();
        return SUCCEEDED(result) || IsTypeRefusal(result) ? VFW_E_TYPE_NOT_ACCEPTED : result;
    }
    FConnected.Reset(connector);
    result = SetMediaType(*type);
    if (SUCCEEDED(result))
        result = CompleteConnect(*connector);
    if (FAILED(result))
    {
        ClearConnection();
        BreakConnect();
        return result;
    }
    return S_OK;
}

HRESULT TDSBasePin::Disconnect()
{
    TCriticalSectionGuard guard(*FLock);
    if (FFilter->State() != State_Stopped)
        return VFW_E_NOT_STOPPED;
    if (!FConnected)
        return S_FALSE;
    const HRESULT result = BreakConnect();
    if (FAILED(result))
        return result;
    ClearConnection();
    return S_OK;
}

HRESULT TDSBasePin::ConnectedTo(IPin** pin)
{
    if (pin == nullptr)
        return E_POINTER;
    TCriticalSectionGuard guard(*FLock);
    *pin = FConnected.Get();
    if (*pin == nullptr)
        return VFW_E_NOT_CONNECTED;
    (*pin)->AddRef();
    return S_OK;
}

HRESULT TDSBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type)
{
    if (type == nullptr)
        return E_POINTER;
    TCriticalSectionGuard guard(*FLock);
    if (!FConnected)
    {
        *type = AM_MEDIA_TYPE{};
        type->bFixedSizeSamples = 1;
        type->lSampleSize = 1;
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(*type, FMediaType);
}

HRESULT TDSBasePin::QueryPinInfo(PIN_INFO* info)
{
    if (info == nullptr)
        return E_POINTER;
    info->pFilter = FFilter;
    FFilter->AddRef();
    info->dir = FDirection;
    CopyToNameField(info->achName, Name());
    return S_OK;
}

HRESULT TDSBasePin::QueryDirection(PIN_DIRECTION* direction)
{
    if (direction == nullptr)
        return E_POINTER;
    *direction = FDirection;
    return S_OK;
}

HRESULT TDSBasePin::QueryId(char** id)
{
    if (id == nullptr)
        return E_POINTER;
    *id = CoTaskMemCopyText(Name());
    return *id == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT TDSBasePin::QueryAccept(const AM_MEDIA_TYPE* type)
{
    if (type == nullptr)
        return E_POINTER;
    const HRESULT result = CheckMediaType(*type);
    return FAILED(result) ? S_FALSE : result;
}

HRESULT TDSBasePin::EnumMediaTypes(IEnumMediaTypes** types)
{
    return NewEnumerator<TDSEnumMediaTypes>(types, *this);
}

HRESULT TDSBasePin::QueryInternalConnections(IPin** pins, std::uint32_t* count)
{
    (void)pins;
    (void)count;
    return E_NOTIMPL;
}

HRESULT TDSBasePin::EndOfStream()
{
    return S_OK;
}

HRESULT TDSBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    TCriticalSectionGuard guard(*FLock);
    FSegmentStart = start;
    FSegmentStop = stop;
    FSegmentRate = rate;
    return S_OK;
}

HRESULT TDSBasePin::Notify(IBaseFilter* self, Quality quality)
{
    (void)self;
    (void)quality;
    return E_NOTIMPL;
}

HRESULT TDSBasePin::SetSink(IQualityControl* sink)
{
    TCriticalSectionGuard guard(*FLock);
    FQualitySink.Reset(sink);
    return S_OK;
}

HRESULT TDSBasePin::Active()
{
    return S_OK;
}

HRESULT TDSBasePin::Inactive()
{
    FRunTimeError = false;
    return S_OK;
}

HRESULT TDSBasePin::Run(REFERENCE_TIME start)
{
    (void)start;
    return S_OK;
}

HRESULT TDSBasePin::GetMediaType(std::int32_t position, AM_MEDIA_TYPE& type)
{
    (void)position;
    (void)type;
    return E_UNEXPECTED;
}

HRESULT TDSBasePin::SetMediaType(const AM_MEDIA_TYPE& type)
{
    AM_MEDIA_TYPE copy{};
    const HRESULT result = CopyMediaType(copy, type);
    if (FAILED(result))
        return result;
    FreeMediaType(FMediaType);
    FMediaType = copy;
    return S_OK;
}

HRESULT TDSBasePin::CheckConnect(IPin& pin)
{
    PIN_DIRECTION direction;
    const HRESULT result = pin.QueryDirection(&direction);
    if (FAILED(result))
        return result;
    return direction == FDirection ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT TDSBasePin::BreakConnect()
{
    return S_OK;
}

HRESULT TDSBasePin::CompleteConnect(IPin& receivePin)
{
    (void)receivePin;
    return S_OK;
}

HRESULT TDSBasePin::AgreeMediaType(IPin& receivePin, const AM_MEDIA_TYPE* type)
{
    if (type != nullptr && IsFullySpecified(*type))
        return AttemptConnection(receivePin, *type);

    HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
    for (std::uint8_t pass = 0; pass < 2; ++pass)
    {
        IEnumMediaTypes* made = nullptr;
        const HRESULT enumerated =
            pass == FTypesToTryFirst ? receivePin.EnumMediaTypes(&made) : EnumMediaTypes(&made);
        if (FAILED(enumerated) || made == nullptr)
            continue;
        const auto types = AdoptRef(made);
        const HRESULT tried = TryMediaTypes(receivePin, type, *types);
        if (SUCCEEDED(tried))
            return S_OK;
        if (!IsTypeRefusal(tried))
            result = tried;
    }
    return result;
}

HRESULT TDSBasePin::TryMediaTypes(IPin& receivePin, const AM_MEDIA_TYPE* type, IEnumMediaTypes& types)
{
    HRESULT firstFailure = S_OK;
    if (FAILED(types.Reset()))
        return VFW_E_NO_ACCEPTABLE_TYPES;
    for (;;)
    {
        AM_MEDIA_TYPE* next = nullptr;
        std::uint32_t fetched = 0;
        if (types.Next(1, &next, &fetched) != S_OK || fetched != 1)
            break;
        // A foreign enumerator that reports a type and hands out none is skipped, not followed.
        if (next == nullptr)
            continue;
        const std::unique_ptr<AM_MEDIA_TYPE, TTaskTypeDeleter> candidate(next);
        if (type != nullptr && !MatchesPartial(*candidate, *type))
            continue;
        const HRESULT result = AttemptConnection(receivePin, *candidate);
        if (SUCCEEDED(result))
            return S_OK;
        if (!IsTypeRefusal(result) && SUCCEEDED(firstFailure))
            firstFailure = result;
    }
    return FAILED(firstFailure) ? firstFailure : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT TDSBasePin::AttemptConnection(IPin& receivePin, const AM_MEDIA_TYPE& type)
{
    HRESULT result = CheckConnect(receivePin);
    if (FAILED(result))
    {
        BreakConnect();
        return result;
    }
    result = CheckMediaType(type);
    if (result == S_OK)
    {
        FConnected.Reset(&receivePin);
        result = SetMediaType(type);
        if (SUCCEEDED(result))
        {
            result = receivePin.ReceiveConnection(this, &type);
            if (SUCCEEDED(result))
            {
                result = CompleteConnect(receivePin);
                if (SUCCEEDED(result))
                    return S_OK;
                receivePin.Disconnect();
            }
        }
    }
    else if (SUCCEEDED(result) || IsTypeRefusal(result))
    {
        result = VFW_E_TYPE_NOT_ACCEPTED;
    }
    BreakConnect();
    ClearConnection();
    return result;
}

// ---- TDSBaseOutputPin ----

TDSBaseOutputPin::TDSBaseOutputPin(std::string name, TDSBaseFilter* filter, TCriticalSection* lock)
    : TDSBasePin(std::move(name), filter, lock, PINDIR_OUTPUT)
{
}

HRESULT TDSBaseOutputPin::EndOfStream()
{
    return E_UNEXPECTED;
}

HRESULT TDSBaseOutputPin::BeginFlush()
{
    return E_UNEXPECTED;
}

HRESULT TDSBaseOutputPin::EndFlush()
{
    return E_UNEXPECTED;
}

TRefPtr<IMemAllocator> TDSBaseOutputPin::Allocator()
{
    std::lock_guard lock(FDeliveryLock);
    return FAllocator;
}

TRefPtr<IMemInputPin> TDSBaseOutputPin::InputPin()
{
    std::lock_guard lock(FDeliveryLock);
    return FInputPin;
}

HRESULT TDSBaseOutputPin::Active()
{
    const auto allocator = Allocator();
    if (!allocator)
        return VFW_E_NO_ALLOCATOR;
    return allocator->Commit();
}

HRESULT TDSBaseOutputPin::Inactive()
{
    SetRunTimeError(false);
    const auto allocator = Allocator();
    if (!allocator)
        return VFW_E_NO_ALLOCATOR;
    return allocator->Decommit();
}

HRESULT TDSBaseOutputPin::CheckConnect(IPin& pin)
{
    HRESULT result = TDSBasePin::CheckConnect(pin);
    if (FAILED(result))
        return result;
    void* found = nullptr;
    result = pin.QueryInterface(IMemInputPin::kIID, &found);
    if (FAILED(result))
        return result;
    auto inputPin = AdoptRef(static_cast<IMemInputPin*>(found));
    std::lock_guard lock(FDeliveryLock);
    FInputPin = std::move(inputPin);
    return S_OK;
}

HRESULT TDSBaseOutputPin::BreakConnect()
{
    TRefPtr<IMemAllocator> allocator = Allocator();
    if (allocator)
    {
        const HRESULT result = allocator->Decommit();
        if (FAILED(result))
            return result;
    }
    // The references go outside the delivery lock: their release may run a downstream object's destructor.
    TRefPtr<IMemInputPin> inputPin;
    {
        std::lock_guard lock(FDeliveryLock);
        FAllocator.Swap(allocator);
        FInputPin.Swap(inputPin);
    }
    allocator.Reset();
    return S_OK;
}

HRESULT TDSBaseOutputPin::CompleteConnect(IPin& receivePin)
{
    (void)receivePin;
    const auto inputPin = InputPin();
    if (!inputPin)
        return E_UNEXPECTED;
    TRefPtr<IMemAllocator> allocator;
    const HRESULT result = DecideAllocator(*inputPin, allocator);
    if (FAILED(result))
        return result;
    std::lock_guard lock(FDeliveryLock);
    FAllocator = std::move(allocator);
    return S_OK;
}

HRESULT TDSBaseOutputPin::OfferAllocator(IMemInputPin& inputPin, IMemAllocator& allocator,
                                         ALLOCATOR_PROPERTIES& properties)
{
    const HRESULT result = DecideBufferSize(allocator, properties);
    if (FAILED(result))
        return result;
    return inputPin.NotifyAllocator(&allocator, false);
}

HRESULT TDSBaseOutputPin::DecideAllocator(IMemInputPin& inputPin, TRefPtr<IMemAllocator>& allocator)
{
    ALLOCATOR_PROPERTIES properties{};
    inputPin.GetAllocatorRequirements(&properties);   // optional: a pin without requirements leaves zeros
    if (properties.cbAlign == 0)
        properties.cbAlign = 1;

    // When the downstream pin's own allocator fails and ours fails too, the first refusal is the one
    // reported: it says why the pin the graph chose cannot be fed (a buffer granted too small, E_FAIL).
    HRESULT offeredFailure = S_OK;
    IMemAllocator* offered = nullptr;
    if (SUCCEEDED(inputPin.GetAllocator(&offered)) && offered != nullptr)
    {
        allocator = AdoptRef(offered);
        offeredFailure = OfferAllocator(inputPin, *allocator, properties);
        if (SUCCEEDED(offeredFailure))
            return S_OK;
    }
    allocator.Reset();

    HRESULT result = InitAllocator(allocator);
    if (SUCCEEDED(result))
    {
        result = OfferAllocator(inputPin, *allocator, properties);
        if (SUCCEEDED(result))
            return S_OK;
    }
    allocator.Reset();
    return FAILED(offeredFailure) ? offeredFailure : result;
}

HRESULT TDSBaseOutputPin::InitAllocator(TRefPtr<IMemAllocator>& allocator)
{
    void* made = nullptr;
    const HRESULT result =
        CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IMemAllocator::kIID, &made);
    if (FAILED(result))
        return result;
    allocator = AdoptRef(static_cast<IMemAllocator*>(made));
    return S_OK;
}

HRESULT TDSBaseOutputPin::DecideBufferSize(IMemAllocator& allocator, ALLOCATOR_PROPERTIES& properties)
{
    (void)allocator;
    (void)properties;
    return S_OK;
}

HRESULT TDSBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start,
                                            REFERENCE_TIME* stop, std::uint32_t flags)
{
    const auto allocator = Allocator();
    if (!allocator)
        return E_NOINTERFACE;
    return allocator->GetBuffer(sample, start, stop, flags);
}

HRESULT TDSBaseOutputPin::Deliver(IMediaSample* sample)
{
    const auto inputPin = InputPin();
    if (!inputPin)
        return VFW_E_NOT_CONNECTED;
    return inputPin->Receive(sample);
}

HRESULT TDSBaseOutputPin::DeliverEndOfStream()
{
    const auto pin = ConnectedPin();
    return pin ? pin->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT TDSBaseOutputPin::DeliverBeginFlush()
{
    const auto pin = ConnectedPin();
    return pin ? pin->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT TDSBaseOutputPin::DeliverEndFlush()
{
    const auto pin = ConnectedPin();
    return pin ? pin->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT TDSBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    const auto pin = ConnectedPin();
    return pin ? pin->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}

// ---- TDSSourceStreamPin ----

TDSSourceStreamPin::TDSSourceStreamPin(std::string name, TDSBaseSourceFilter* filter)
    : TDSBaseOutputPin(std::move(name), filter, filter != nullptr ? &filter->FilterLock() : nullptr),
      FSourceFilter(filter)
{
    FSourceFilter->AddPin(this);
}

TDSSourceStreamPin::~TDSSourceStreamPin()
{
    FSourceFilter->RemovePin(this);
}

// ---- TDSAudioSourceStreamPin ----

TDSAudioSourceStreamPin::TDSAudioSourceStreamPin(TDSBaseSourceFilter* filter)
    : TDSSourceStreamPin(kDSAudioSourcePinName, filter)
{
}

void TDSAudioSourceStreamPin::SetFormat(const TALWaveFormatExtensible& format, std::uint32_t durationMs)
{
    {
        TCriticalSectionGuard guard(Lock());
        FFormat = format;
        FDurationMs = durationMs;
    }
    // The offered type follows the format: enumerators made before are out of date.
    IncrementMediaTypeVersion();
}

HRESULT TDSAudioSourceStreamPin::CheckMediaType(const AM_MEDIA_TYPE& type)
{
    if (type.majortype == MEDIATYPE_Audio && type.subtype == MEDIASUBTYPE_PCM && type.cbFormat > 0 &&
        type.pbFormat != nullptr)
        return S_OK;
    return E_INVALIDARG;
}

HRESULT TDSAudioSourceStreamPin::GetMediaType(std::int32_t position, AM_MEDIA_TYPE& type)
{
    if (position < 0)
        return E_INVALIDARG;
    if (position > 0)
        return VFW_S_NO_MORE_ITEMS;
    TCriticalSectionGuard guard(Lock());
    const bool extensible = FFormat.nChannels > 2 || FFormat.wBitsPerSample > 16;
    const std::uint32_t size = extensible ? FFormat.cbSize + kWaveFormatSize : kWaveFormatSize;
    auto* block = static_cast<std::uint8_t*>(CoTaskMemAlloc(size));
    if (block == nullptr)
        return E_OUTOFMEMORY;
    if (extensible)
    {
        // A cbSize beyond the stored record would read past it: what is not stored is zero.
        std::memset(block, 0, size);
        std::memcpy(block, &FFormat, std::min<std::size_t>(size, sizeof FFormat));
    }
    else
    {
        TALWaveFormatExtensible plain = FFormat;
        plain.wFormatTag = kWaveFormatPcm;
        plain.cbSize = 0;
        std::memcpy(block, &plain, kWaveFormatSize);
    }
    type = AM_MEDIA_TYPE{};
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.bFixedSizeSamples = 1;
    type.bTemporalCompression = 0;
    type.lSampleSize = 1;
    type.formattype = FORMAT_WaveFormatEx;
    type.pUnk = nullptr;
    type.cbFormat = size;
    type.pbFormat = block;
    return S_OK;
}

HRESULT TDSAudioSourceStreamPin::DecideBufferSize(IMemAllocator& allocator, ALLOCATOR_PROPERTIES& properties)
{
    TCriticalSectionGuard guard(Lock());
    const AM_MEDIA_TYPE& type = ConnectionType();
    if (type.pbFormat == nullptr || type.cbFormat < 16)
        return E_INVALIDARG;
    const std::uint32_t blockAlign = ReadU16(type.pbFormat + offsetof(TALWaveFormatExtensible, nBlockAlign));
    const std::uint32_t samplesPerSec =
        ReadU32(type.pbFormat + offsetof(TALWaveFormatExtensible, nSamplesPerSec));
    properties.cBuffers = 1;
    properties.cbBuffer = static_cast<std::int32_t>(blockAlign * samplesPerSec * (FDurationMs + 2) / 1000);
    ALLOCATOR_PROPERTIES granted{};
    const HRESULT result = allocator.SetProperties(&properties, &granted);
    if (FAILED(result))
        return result;
    return granted.cbBuffer < properties.cbBuffer ? E_FAIL : S_OK;
}

bool TDSAudioSourceStreamPin::DeliverData(const std::uint8_t* data, std::uint32_t count, bool syncPoint,
                                          REFERENCE_TIME stop, REFERENCE_TIME start)
{
    if (!IsConnected())
        return false;
    const bool timed = start != 0 || stop != 0;
    const std::int64_t total = count == 0 ? 1 : count;
    std::uint32_t remaining = count;
    std::int64_t delivered = 0;
    REFERENCE_TIME currentStart = start;
    HRESULT received = S_OK;
    do
    {
        IMediaSample* taken = nullptr;
        HRESULT result = GetDeliveryBuffer(&taken, nullptr, nullptr, 0);
        while (FAILED(result))
        {
            // No buffer will come from a decommitted or dropped allocator: the graph stopped or let go of
            // the pin while this delivery was in progress.
            if (result == VFW_E_NOT_COMMITTED || result == E_NOINTERFACE)
                return false;
            SleepMs(1);
            result = GetDeliveryBuffer(&taken, nullptr, nullptr, 0);
        }
        const auto sample = AdoptRef(taken);

        std::uint8_t* buffer = nullptr;
        const std::int32_t size = sample->GetSize();
        if (FAILED(sample->GetPointer(&buffer)) || buffer == nullptr || size <= 0)
            return false;
        const std::uint32_t n = std::min(static_cast<std::uint32_t>(size), remaining);
        if (n > 0)
            std::memcpy(buffer, data, n);
        sample->SetActualDataLength(static_cast<std::int32_t>(n));
        data += n;
        remaining -= n;
        delivered += n;

        if (timed)
        {
            // Each sample's times cover exactly its own share of the block: the stop is where the bytes
            // delivered so far end on the block's [start, stop] span, so the stamps run on without a gap and
            // the last ends at stop. Measuring that share from the moving start instead would stretch the
            // middle samples (40 bytes of 100 would get 480 of 1000 units).
            REFERENCE_TIME sampleStop = start + (stop - start) * delivered / total;
            sample->SetTime(&currentStart, &sampleStop);
            currentStart = sampleStop;
            sample->SetSyncPoint(syncPoint);
        }
        received = Deliver(sample.Get());
    } while (remaining >= 1);
    return SUCCEEDED(received);
}

// ---- TDSAudioSourceFilter ----

TDSAudioSourceFilter::TDSAudioSourceFilter()
    : TDSBaseSourceFilter(kDSAudioSourceFilterName, nullptr, CLSID_DSAudioSourceFilter),
      // Owned through the pin list, which frees it with the filter.
      FPin(new TDSAudioSourceStreamPin(this))
{
}

// ---- TDSEnumPins ----

TDSEnumPins::TDSEnumPins(TDSBaseFilter& filter)
    : FPinCount(filter.GetPinCount()), FFilterRef(&filter), FFilter(filter), FVersion(filter.GetPinVersion())
{
}

TDSEnumPins::TDSEnumPins(const TDSEnumPins& other)
    : TComObject<IEnumPins>(), FPosition(other.FPosition), FPinCount(other.FPinCount),
      FFilterRef(other.FFilterRef), FFilter(other.FFilter), FVersion(other.FVersion),
      FPinsReturned(other.FPinsReturned)
{
}

bool TDSEnumPins::OutOfSync() const noexcept
{
    return FFilter.GetPinVersion() != FVersion;
}

HRESULT TDSEnumPins::Next(std::uint32_t count, IPin** pins, std::uint32_t* fetched)
{
    if (pins == nullptr)
        return E_POINTER;
    if (fetched == nullptr && count > 1)
        return E_INVALIDARG;
    if (fetched != nullptr)
        *fetched = 0;
    if (OutOfSync())
    {
        // Start again, leaving out the pins handed out before the change.
        FPinCount = FFilter.GetPinCount();
        FVersion = FFilter.GetPinVersion();
        FPosition = 0;
    }
    std::uint32_t returned = 0;
    while (returned < count && FPosition < FPinCount)
    {
        TDSBasePin* pin = FFilter.GetPin(FPosition);
        if (pin == nullptr)
        {
            if (fetched != nullptr)
                *fetched = returned;
            return VFW_E_ENUM_OUT_OF_SYNC;
        }
        ++FPosition;
        if (std::find(FPinsReturned.begin(), FPinsReturned.end(), pin) != FPinsReturned.end())
            continue;
        FPinsReturned.push_back(pin);
        pin->AddRef();
        pins[returned++] = pin;
    }
    if (fetched != nullptr)
        *fetched = returned;
    return returned == count ? S_OK : S_FALSE;
}

HRESULT TDSEnumPins::Skip(std::uint32_t count)
{
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    if (static_cast<std::uint32_t>(FPinCount - FPosition) < count)
        return S_FALSE;
    FPosition += static_cast<std::int32_t>(count);
    return S_OK;
}

HRESULT TDSEnumPins::Reset()
{
    FPinCount = FFilter.GetPinCount();
    FVersion = FFilter.GetPinVersion();
    FPosition = 0;
    FPinsReturned.clear();
    return S_OK;
}

HRESULT TDSEnumPins::Clone(IEnumPins** copy)
{
    if (copy != nullptr)
        *copy = nullptr;
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    return NewEnumerator<TDSEnumPins>(copy, *this);
}

// ---- TDSEnumMediaTypes ----

TDSEnumMediaTypes::TDSEnumMediaTypes(TDSBasePin& pin)
    : FPinRef(static_cast<IPin*>(&pin)), FPin(pin), FVersion(pin.GetMediaTypeVersion())
{
}

TDSEnumMediaTypes::TDSEnumMediaTypes(const TDSEnumMediaTypes& other)
    : TComObject<IEnumMediaTypes>(), FPosition(other.FPosition), FPinRef(other.FPinRef), FPin(other.FPin),
      FVersion(other.FVersion)
{
}

bool TDSEnumMediaTypes::OutOfSync() const noexcept
{
    return FPin.GetMediaTypeVersion() != FVersion;
}

HRESULT TDSEnumMediaTypes::Next(std::uint32_t count, AM_MEDIA_TYPE** types, std::uint32_t* fetched)
{
    if (types == nullptr)
        return E_POINTER;
    if (fetched != nullptr)
        *fetched = 0;
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    if (fetched == nullptr && count > 1)
        return E_INVALIDARG;
    std::uint32_t returned = 0;
    while (returned < count)
    {
        AM_MEDIA_TYPE type{};
        if (FPin.GetMediaType(FPosition, type) != S_OK)
            break;
        auto* record = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (record == nullptr)
        {
            FreeMediaType(type);
            break;
        }
        // The format block moves into the record: no copy, no second free.
        *record = type;
        types[returned++] = record;
        ++FPosition;
    }
    if (fetched != nullptr)
        *fetched = returned;
    return returned == count ? S_OK : S_FALSE;
}

HRESULT TDSEnumMediaTypes::Skip(std::uint32_t count)
{
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    FPosition += static_cast<std::int32_t>(count);
    AM_MEDIA_TYPE type{};
    // S_OK only when the position still names a type, or sits just past the last one.
    if (FPosition == 0)
        return S_OK;
    const HRESULT result = FPin.GetMediaType(FPosition - 1, type);
    FreeMediaType(type);
    return result == S_OK ? S_OK : S_FALSE;
}

HRESULT TDSEnumMediaTypes::Reset()
{
    FPosition = 0;
    FVersion = FPin.GetMediaTypeVersion();
    return S_OK;
}

HRESULT TDSEnumMediaTypes::Clone(IEnumMediaTypes** copy)
{
    if (copy != nullptr)
        *copy = nullptr;
    if (OutOfSync())
        return VFW_E_ENUM_OUT_OF_SYNC;
    return NewEnumerator<TDSEnumMediaTypes>(copy, *this);
}

}   // namespace harvolin
