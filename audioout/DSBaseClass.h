#pragma once
#include "buffers/ALAudioFormat.h"
#include "media/ComObject.h"
#include "media/MediaInterfaces.h"
#include "media/MediaTypes.h"
#include "media/MemAllocator.h"
#include "media/ReferenceClock.h"
#include "rtl/Threads.h"
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace harvolin
{

// The program's own push source filter and the small class tree it is built on: a filter with one output
// pin that the audio output's player thread feeds through DeliverData, and that the graph connects, runs and
// stops through the platform's filter and pin interfaces.
//
// Interface methods report failures as result codes and never raise. Only internal consistency checks raise
// EAssertionFailed: a filter built without a lock ("Lock = nil !"), a pin built without its filter
// ("Assertion failure"). A pin destroyed while connected or while references to it are out cannot raise (it
// dies inside its filter's last Release); that check reports "Assertion failure" to the diagnostics sink.

class TDSBaseFilter;
class TDSBaseSourceFilter;

inline constexpr TGUID CLSID_DSAudioSourceFilter = MakeGuid("{AC11DC21-BDC9-49D9-BCAE-073AF5C1962C}");
inline constexpr char kDSAudioSourceFilterName[] = "AudioSource";
inline constexpr char kDSAudioSourcePinName[] = "AudioOutput";

// Reference counting with optional aggregation. Without an outer unknown the object counts its own
// references and deletes itself with the last one; with one, the exposed interfaces' QueryInterface, AddRef
// and Release go to the outer object, which holds the inner one through NonDelegatingUnknown() and so
// decides its lifetime. The outer unknown is kept without a counted reference: it owns the inner object, and
// a reference back would keep both alive for ever.
class TDSDualUnknown
{
public:
    TDSDualUnknown(std::string name, IUnknown* outer);
    TDSDualUnknown(const TDSDualUnknown&) = delete;
    TDSDualUnknown& operator=(const TDSDualUnknown&) = delete;

    // Answers exactly the interfaces of the class's table (GetInterface) and IUnknown, which is the
    // non-delegating unknown, so that the outer object of an aggregate can hold it.
    virtual HRESULT NonDelegatingQueryInterface(const TGUID& iid, void** object);
    virtual std::uint32_t NonDelegatingAddRef();
    virtual std::uint32_t NonDelegatingRelease();

    [[nodiscard]] IUnknown* NonDelegatingUnknown() noexcept { return &FNonDelegating; }
    // Where the exposed interfaces' IUnknown calls go: the outer unknown, or the non-delegating one.
    [[nodiscard]] IUnknown* Owner() const noexcept { return FOwner; }
    [[nodiscard]] const std::string& Name() const noexcept { return FName; }
protected:
    virtual ~TDSDualUnknown() = default;

    // The class's interface table: the pointer that answers iid, or null. A class answers its own
    // interfaces (with their ancestors) and asks its parent for the rest.
    [[nodiscard]] virtual void* GetInterface(const TGUID& iid) noexcept;
private:
    class TNonDelegatingUnknown final : public IUnknown
    {
    public:
        explicit TNonDelegatingUnknown(TDSDualUnknown& object) : FObject(object) {}
        HRESULT QueryInterface(const TGUID& iid, void** object) override
        {
            return FObject.NonDelegatingQueryInterface(iid, object);
        }
        std::uint32_t AddRef() override { return FObject.NonDelegatingAddRef(); }
        std::uint32_t Release() override { return FObject.NonDelegatingRelease(); }
    private:
        TDSDualUnknown& FObject;
    };

    std::atomic<std::uint32_t> FRefCount{0};
    IUnknown* FOwner;
    const std::string FName;
    TNonDelegatingUnknown FNonDelegating{*this};
};

// A pin of a TDSBaseFilter: the connection protocol and the connection's media type.
//
// The pin lives as long as its filter and is never deleted by its references: AddRef and Release count the
// pin's own references and forward to the filter's, so an outstanding pin reference keeps the filter (and
// so the pin) alive. Connection, disconnection and GetMediaType run under the filter lock, which the pin
// shares.
class TDSBasePin : public TDSDualUnknown, public IPin, public IQualityControl
{
public:
    // Raises EAssertionFailed "Assertion failure" without a filter and "Lock = nil !" without a lock.
    TDSBasePin(std::string name, TDSBaseFilter* filter, TCriticalSection* lock, PIN_DIRECTION direction);

    HRESULT QueryInterface(const TGUID& iid, void** object) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;
    std::uint32_t NonDelegatingAddRef() override;
    std::uint32_t NonDelegatingRelease() override;

    // IPin
    HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override;
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** pin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT QueryPinInfo(PIN_INFO* info) override;
    HRESULT QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT QueryId(char** id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT QueryInternalConnections(IPin** pins, std::uint32_t* count) override;
    HRESULT EndOfStream() override;
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IQualityControl
    HRESULT Notify(IBaseFilter* self, Quality quality) override;
    HRESULT SetSink(IQualityControl* sink) override;

    // Called by the filter with the filter lock held as it leaves the stopped state, and as it stops.
    virtual HRESULT Active();
    virtual HRESULT Inactive();
    virtual HRESULT Run(REFERENCE_TIME start);

    // S_OK for a type the pin can stream, a failure otherwise.
    virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) = 0;
    // The type the pin offers at position: S_OK, VFW_S_NO_MORE_ITEMS past the end, E_INVALIDARG below 0;
    // type must own nothing and owns the type's format block afterwards.
    virtual HRESULT GetMediaType(std::int32_t position, AM_MEDIA_TYPE& type);
    // Changes whenever the offered types change, so that their enumerators know they are out of date.
    [[nodiscard]] std::int32_t GetMediaTypeVersion() const noexcept { return FTypeVersion.load(); }

    [[nodiscard]] bool IsConnected();
    [[nodiscard]] PIN_DIRECTION Direction() const noexcept { return FDirection; }
    [[nodiscard]] TDSBaseFilter& Filter() const noexcept { return *FFilter; }
    [[nodiscard]] bool RunTimeError() const noexcept { return FRunTimeError.load(); }
    // The filter frees its pins. Reports "Assertion failure" when the pin is still connected or referenced.
    ~TDSBasePin() override;
protected:
    [[nodiscard]] void* GetInterface(const TGUID& iid) noexcept override;

    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE& type);
    virtual HRESULT CheckConnect(IPin& pin);
    virtual HRESULT BreakConnect();
    virtual HRESULT CompleteConnect(IPin& receivePin);

    HRESULT AgreeMediaType(IPin& receivePin, const AM_MEDIA_TYPE* type);
    HRESULT TryMediaTypes(IPin& receivePin, const AM_MEDIA_TYPE* type, IEnumMediaTypes& types);
    HRESULT AttemptConnection(IPin& receivePin, const AM_MEDIA_TYPE& type);

    void IncrementMediaTypeVersion() noexcept { ++FTypeVersion; }
    void SetRunTimeError(bool value) noexcept { FRunTimeError = value; }
    [[nodiscard]] TCriticalSection& Lock() const noexcept { return *FLock; }
    // The connection's type; the filter lock held.
    [[nodiscard]] const AM_MEDIA_TYPE& ConnectionType() const noexcept { return FMediaType; }
    // The connected pin with a new reference, or null.
    [[nodiscard]] TRefPtr<IPin> ConnectedPin();
private:
    // Forgets the connected pin and the type; the filter lock held.
    void ClearConnection();

    TRefPtr<IPin> FConnected;   // guarded by the filter lock
    const PIN_DIRECTION FDirection;
    TCriticalSection* FLock;
    std::atomic<bool> FRunTimeError{false};
    bool FCanReconnectWhenActive = false;
    std::uint8_t FTypesToTryFirst = 0;   // the pass that enumerates the receiving pin's types
    TDSBaseFilter* FFilter;
    TRefPtr<IQualityControl> FQualitySink;   // guarded by the filter lock
    std::atomic<std::int32_t> FTypeVersion{1};
    AM_MEDIA_TYPE FMediaType{};   // guarded by the filter lock
    REFERENCE_TIME FSegmentStart = 0;
    REFERENCE_TIME FSegmentStop = INT64_MAX;
    double FSegmentRate = 1.0;
    std::atomic<std::int32_t> FPinRefCount{0};
};

// The filter: state, clock, start time, class identifier and the pins by virtual accessors. Stop, Pause,
// Run, the clock, FindPin and JoinFilterGraph run under the filter lock, which the pins share.
class TDSBaseFilter : public TDSDualUnknown, public IBaseFilter
{
public:
    // Raises EAssertionFailed "Lock = nil !" without a lock. The filter is born without references: the
    // first TRefPtr (or an outer unknown's NonDelegatingAddRef) takes the first one.
    TDSBaseFilter(std::string name, IUnknown* outer, TCriticalSection* lock, const TGUID& classId);

    HRESULT QueryInterface(const TGUID& iid, void** object) override;
    std::uint32_t AddRef() override;
    std::uint32_t Release() override;

    // IPersist
    HRESULT GetClassID(TGUID* classId) override;
    // IMediaFilter
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(std::uint32_t timeoutMs, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter
    HRESULT EnumPins(IEnumPins** pins) override;
    HRESULT FindPin(const char* id, IPin** pin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, const char* name) override;
    HRESULT QueryVendorInfo(char** vendorInfo) override;

    // The clock's time less the start time given to Run; VFW_E_NO_CLOCK without a clock.
    virtual HRESULT StreamTime(REFERENCE_TIME* time);
    [[nodiscard]] virtual std::int32_t GetPinVersion() const noexcept { return FPinVersion.load(); }
    [[nodiscard]] virtual std::int32_t GetPinCount() = 0;
    // The pin at index, or null outside 0..GetPinCount() - 1.
    [[nodiscard]] virtual TDSBasePin* GetPin(std::int32_t index) = 0;

    [[nodiscard]] FILTER_STATE State() const noexcept { return FState.load(); }
    [[nodiscard]] TCriticalSection& FilterLock() const noexcept { return *FLock; }
protected:
    [[nodiscard]] void* GetInterface(const TGUID& iid) noexcept override;
    // Tells the pin enumerators that the set of pins changed.
    void IncrementPinVersion() noexcept { ++FPinVersion; }
private:
    // Calls action on every connected pin, the filter lock held: stopAtFailure returns the first failure at
    // once, otherwise every pin is called and the first failure is returned after.
    HRESULT ForEachConnectedPin(const std::function<HRESULT(TDSBasePin&)>& action, bool stopAtFailure);

    // Atomic so that the player thread may read it without the filter lock; written under it.
    std::atomic<FILTER_STATE> FState{State_Stopped};
    TRefPtr<IReferenceClock> FClock;   // guarded by the filter lock
    REFERENCE_TIME FStart = 0;         // guarded by the filter lock
    const TGUID FClassId;
    TCriticalSection* FLock;
    std::string FFilterName;          // guarded by the filter lock
    IFilterGraph* FGraph = nullptr;   // no reference: the graph owns its filters; guarded by the filter lock
    std::atomic<std::int32_t> FPinVersion{1};
};

namespace detail
{
// Holds the filter lock of a source filter, so that it exists before the TDSBaseFilter base that uses it.
struct TDSFilterLockHolder
{
    TCriticalSection FFilterLock;
};
}   // namespace detail

// A filter whose pins register themselves in its list as they are made, and unregister as they go. The
// filter owns them: destroying it frees the pins still listed, last first. The list has its own lock, a leaf.
class TDSBaseSourceFilter : private detail::TDSFilterLockHolder, public TDSBaseFilter
{
public:
    TDSBaseSourceFilter(std::string name, IUnknown* outer, const TGUID& classId);

    [[nodiscard]] std::int32_t GetPinCount() override;
    [[nodiscard]] TDSBasePin* GetPin(std::int32_t index) override;

    // Called by the pins' constructors and destructors.
    void AddPin(TDSBasePin* pin);
    void RemovePin(TDSBasePin* pin);
protected:
    ~TDSBaseSourceFilter() override;
private:
    std::mutex FPinsLock;
    std::vector<TDSBasePin*> FPins;   // owning; guarded by FPinsLock
};

// An output pin: allocator negotiation on connection, commit and decommit with the filter's state, and
// delivery of samples downstream.
//
// The allocator and the downstream IMemInputPin are set while the filter lock is held (connection) and read
// by the delivering thread without it; a leaf lock of their own guards the two references, and the calls
// on them are made outside it, so that a GetBuffer or a Receive that blocks holds no lock of the filter.
class TDSBaseOutputPin : public TDSBasePin
{
public:
    TDSBaseOutputPin(std::string name, TDSBaseFilter* filter, TCriticalSection* lock);

    // Called on an output pin: E_UNEXPECTED.
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

    // Commits the allocator (VFW_E_NO_ALLOCATOR without one).
    HRESULT Active() override;
    // Clears the run-time-error flag and decommits the allocator, which wakes a delivery waiting in
    // GetBuffer (VFW_E_NO_ALLOCATOR without an allocator).
    HRESULT Inactive() override;

    // Sizes the allocator's buffers: properties holds the downstream requirements; S_OK in the base.
    virtual HRESULT DecideBufferSize(IMemAllocator& allocator, ALLOCATOR_PROPERTIES& properties);
    // A free sample of the allocator; blocks while all are out. E_NOINTERFACE without an allocator.
    virtual HRESULT GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                      std::uint32_t flags);
    // Hands the sample to the downstream pin's Receive, which may block. VFW_E_NOT_CONNECTED when not
    // connected.
    virtual HRESULT Deliver(IMediaSample* sample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);
protected:
    HRESULT CheckConnect(IPin& pin) override;
    HRESULT BreakConnect() override;
    HRESULT CompleteConnect(IPin& receivePin) override;

    virtual HRESULT DecideAllocator(IMemInputPin& inputPin, TRefPtr<IMemAllocator>& allocator);
    // A new memory allocator; the failure of its creation otherwise.
    virtual HRESULT InitAllocator(TRefPtr<IMemAllocator>& allocator);

    [[nodiscard]] TRefPtr<IMemAllocator> Allocator();
    [[nodiscard]] TRefPtr<IMemInputPin> InputPin();
private:
    // DecideBufferSize, then NotifyAllocator.
    HRESULT OfferAllocator(IMemInputPin& inputPin, IMemAllocator& allocator,
                           ALLOCATOR_PROPERTIES& properties);

    std::mutex FDeliveryLock;            // a leaf; never held across a call on the references below
    TRefPtr<IMemAllocator> FAllocator;   // guarded by FDeliveryLock
    TRefPtr<IMemInputPin> FInputPin;     // guarded by FDeliveryLock
};

// An output pin of a TDSBaseSourceFilter, registered in its list for the pin's lifetime.
class TDSSourceStreamPin : public TDSBaseOutputPin
{
public:
    TDSSourceStreamPin(std::string name, TDSBaseSourceFilter* filter);
    ~TDSSourceStreamPin() override;
private:
    TDSBaseSourceFilter* FSourceFilter;
};

// The audio pin: offers one PCM type built from the stream format, sizes one allocator buffer for the
// whole buffer duration plus 2 ms, and pushes the player thread's blocks downstream.
class TDSAudioSourceStreamPin final : public TDSSourceStreamPin
{
public:
    explicit TDSAudioSourceStreamPin(TDSBaseSourceFilter* filter);

    // The 40-byte stream format and the buffer duration; set before the graph connects the pin.
    void SetFormat(const TALWaveFormatExtensible& format, std::uint32_t durationMs);

    HRESULT CheckMediaType(const AM_MEDIA_TYPE& type) override;
    HRESULT GetMediaType(std::int32_t position, AM_MEDIA_TYPE& type) override;
    // One buffer of nBlockAlign x nSamplesPerSec x (duration + 2) / 1000 bytes of the connection's format;
    // E_FAIL when the allocator grants less, E_INVALIDARG when the connection's format block is too short
    // to hold those fields.
    HRESULT DecideBufferSize(IMemAllocator& allocator, ALLOCATOR_PROPERTIES& properties) override;

    // Pushes count bytes downstream, as many samples as they need, on the calling (player) thread without
    // the filter lock. When start or stop is not zero, the samples are stamped with times that split
    // [start, stop] in proportion to the bytes delivered, the last one ending at stop, and carry syncPoint.
    // Returns whether the last Receive succeeded; false at once when the pin is not connected.
    //
    // GetBuffer blocks while the downstream pin holds every sample. A GetDeliveryBuffer that fails is tried
    // again every 1 ms, except when the allocator reports VFW_E_NOT_COMMITTED or the pin has lost its
    // allocator (E_NOINTERFACE): the graph was stopped or the pin disconnected during the delivery, no buffer
    // will come, and DeliverData returns false instead of waiting for ever. Stopping the filter decommits the
    // allocator, which is what wakes a DeliverData blocked in GetBuffer.
    bool DeliverData(const std::uint8_t* data, std::uint32_t count, bool syncPoint, REFERENCE_TIME stop,
                     REFERENCE_TIME start);
private:
    TALWaveFormatExtensible FFormat{};   // guarded by the filter lock
    std::uint32_t FDurationMs = 0;       // guarded by the filter lock
};

// The filter the audio output creates: "AudioSource" with its one pin "AudioOutput".
class TDSAudioSourceFilter final : public TDSBaseSourceFilter
{
public:
    TDSAudioSourceFilter();

    [[nodiscard]] TDSAudioSourceStreamPin& AudioPin() const noexcept { return *FPin; }
    void SetFormat(const TALWaveFormatExtensible& format, std::uint32_t durationMs)
    {
        FPin->SetFormat(format, durationMs);
    }
    bool DeliverData(const std::uint8_t* data, std::uint32_t count, bool syncPoint, REFERENCE_TIME stop,
                     REFERENCE_TIME start)
    {
        return FPin->DeliverData(data, count, syncPoint, stop, start);
    }
private:
    TDSAudioSourceStreamPin* FPin;   // owned through the pin list
};

// Enumerates a filter's pins, each with a new reference. A change of the filter's pin version (pins added
// or removed) makes Next start again at the first pin, leaving out the pins it returned already, and
// makes Skip and Clone fail with VFW_E_ENUM_OUT_OF_SYNC until Reset.
class TDSEnumPins final : public TComObject<IEnumPins>
{
public:
    explicit TDSEnumPins(TDSBaseFilter& filter);
    TDSEnumPins(const TDSEnumPins& other);

    HRESULT Next(std::uint32_t count, IPin** pins, std::uint32_t* fetched) override;
    HRESULT Skip(std::uint32_t count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumPins** copy) override;
private:
    [[nodiscard]] bool OutOfSync() const noexcept;

    std::int32_t FPosition = 0;
    std::int32_t FPinCount;
    TRefPtr<IBaseFilter> FFilterRef;
    TDSBaseFilter& FFilter;
    std::int32_t FVersion;
    std::vector<TDSBasePin*> FPinsReturned;
};

// Enumerates the types a pin offers, as task-allocated records that the caller frees with DeleteMediaType.
// Out of sync, VFW_E_ENUM_OUT_OF_SYNC, once the pin's media-type version changed, until Reset.
class TDSEnumMediaTypes final : public TComObject<IEnumMediaTypes>
{
public:
    explicit TDSEnumMediaTypes(TDSBasePin& pin);
    TDSEnumMediaTypes(const TDSEnumMediaTypes& other);

    HRESULT Next(std::uint32_t count, AM_MEDIA_TYPE** types, std::uint32_t* fetched) override;
    HRESULT Skip(std::uint32_t count) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMediaTypes** copy) override;
private:
    [[nodiscard]] bool OutOfSync() const noexcept;

    std::int32_t FPosition = 0;
    TRefPtr<IPin> FPinRef;
    TDSBasePin& FPin;
    std::int32_t FVersion;
};

}   // namespace harvolin
