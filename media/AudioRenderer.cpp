#include "media/AudioRenderer.h"
#include "media/ComEnumerator.h"
#include "rtl/Diagnostics.h"
#include <algorithm>
#include <cstring>
#include <vector>

namespace harvolin
{
namespace
{

constexpr char kPinName[] = "In";
constexpr std::uint16_t kWaveFormatPcm = 1;
constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;

std::uint16_t Get16(const std::uint8_t* bytes) noexcept
{
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint32_t Get32(const std::uint8_t* bytes) noexcept
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// The PCM stream a media type describes, or nothing when the renderer cannot play it.
bool ParseFormat(const AM_MEDIA_TYPE& type, TPcmFormat& format)
{
    if (type.majortype != MEDIATYPE_Audio || type.subtype != MEDIASUBTYPE_PCM ||
        type.formattype != FORMAT_WaveFormatEx || type.pbFormat == nullptr || type.cbFormat < 16)
        return false;
    const std::uint8_t* block = type.pbFormat;
    const std::uint16_t tag = Get16(block);
    if (tag != kWaveFormatPcm && tag != kWaveFormatExtensible)
        return false;
    format.Channels = Get16(block + 2);
    format.FramesPerSecond = Get32(block + 4);
    format.BitsPerSample = Get16(block + 14);
    const bool bitsPlayable = format.BitsPerSample == 8 || format.BitsPerSample == 16 ||
                              format.BitsPerSample == 24 || format.BitsPerSample == 32;
    return format.Channels >= 1 && format.FramesPerSecond >= 1 && bitsPlayable &&
           Get16(block + 12) == format.BlockAlign();
}

// The renderer proposes no types of its own: the source offers, the renderer accepts or refuses.
class TEnumNoMediaTypes final : public TComObject<IEnumMediaTypes>
{
public:
    HRESULT Next(std::uint32_t count, AM_MEDIA_TYPE** types, std::uint32_t* fetched) override
    {
        if (types == nullptr)
            return E_POINTER;
        if (fetched == nullptr && count > 1)
            return E_INVALIDARG;
        if (fetched != nullptr)
            *fetched = 0;
        return count == 0 ? S_OK : S_FALSE;
    }
    HRESULT Skip(std::uint32_t count) override { return count == 0 ? S_OK : S_FALSE; }
    HRESULT Reset() override { return S_OK; }
    HRESULT Clone(IEnumMediaTypes** copy) override
    {
        if (copy == nullptr)
            return E_POINTER;
        *copy = MakeComObject<TEnumNoMediaTypes, IEnumMediaTypes>().Detach();
        return S_OK;
    }
};

}   // namespace

// The renderer's input pin. It lives inside its filter, and its references are the filter's: a reference
// to the pin keeps the filter alive.
class TAudioRendererPin final : public IPin, public IMemInputPin
{
public:
    explicit TAudioRendererPin(TAudioRenderer& filter) : FFilter(filter) {}
    TAudioRendererPin(const TAudioRendererPin&) = delete;
    TAudioRendererPin& operator=(const TAudioRendererPin&) = delete;
    ~TAudioRendererPin() override { FreeMediaType(FType); }

    HRESULT QueryInterface(const TGUID& iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid == IUnknown::kIID || iid == IPin::kIID)
            *object = static_cast<IPin*>(this);
        else if (iid == IMemInputPin::kIID)
            *object = static_cast<IMemInputPin*>(this);
        else
        {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    std::uint32_t AddRef() override { return FFilter.AddRef(); }
    std::uint32_t Release() override { return FFilter.Release(); }

    // IPin
    HRESULT Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override
    {
        (void)receivePin;
        (void)type;
        // An input pin is connected to, never connects.
        return E_UNEXPECTED;
    }
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override
    {
        if (connector == nullptr || type == nullptr)
            return E_POINTER;
        std::lock_guard lock(FFilter.FLock);
        if (FConnected)
            return VFW_E_ALREADY_CONNECTED;
        if (FFilter.FState != State_Stopped)
            return VFW_E_NOT_STOPPED;
        TPcmFormat format;
        if (!ParseFormat(*type, format))
            return VFW_E_TYPE_NOT_ACCEPTED;
        const TDeviceResult opened = FFilter.FDevice->Open(format);
        if (!opened.Ok())
        {
            FFilter.SetLastError(opened.Message);
            ReportFailure(FFilter.FDevice->Name(), "connecting the renderer", opened.Message);
            // A code of its own, not E_FAIL: the source pin's connection protocol passes it on instead of
            // taking it for a refused type, so whoever renders learns the device is the trouble.
            return VFW_E_NO_AUDIO_HARDWARE;
        }
        if (FAILED(CopyMediaType(FType, *type)))
        {
            FFilter.FDevice->Close();
            return E_OUTOFMEMORY;
        }
        FFormat = format;
        REFERENCE_TIME now = 0;
        if (SUCCEEDED(FFilter.FDeviceClock->GetTime(&now)))
            FFilter.FTimeBase.store(now, std::memory_order_relaxed);
        FFilter.FFramesPerSecond.store(format.FramesPerSecond, std::memory_order_relaxed);
        FConnected = TRefPtr<IPin>(connector);
        FDeviceLost = false;
        FFilter.SetLastError({});
        return S_OK;
    }
    HRESULT Disconnect() override
    {
        std::lock_guard lock(FFilter.FLock);
        if (FFilter.FState != State_Stopped)
            return VFW_E_NOT_STOPPED;
        if (!FConnected)
            return S_FALSE;
        FFilter.FDevice->Close();
        FConnected.Reset();
        FAllocator.Reset();
        FreeMediaType(FType);
        FType = {};
        return S_OK;
    }
    HRESULT ConnectedTo(IPin** pin) override
    {
        if (pin == nullptr)
            return E_POINTER;
        std::lock_guard lock(FFilter.FLock);
        *pin = FConnected.Get();
        if (*pin == nullptr)
            return VFW_E_NOT_CONNECTED;
        (*pin)->AddRef();
        return S_OK;
    }
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override
    {
        if (type == nullptr)
            return E_POINTER;
        std::lock_guard lock(FFilter.FLock);
        if (!FConnected)
        {
            *type = {};
            type->bFixedSizeSamples = 1;
            type->lSampleSize = 1;
            return VFW_E_NOT_CONNECTED;
        }
        return CopyMediaType(*type, FType);
    }
    HRESULT QueryPinInfo(PIN_INFO* info) override
    {
        if (info == nullptr)
            return E_POINTER;
        info->pFilter = &FFilter;
        FFilter.AddRef();
        info->dir = PINDIR_INPUT;
        CopyToNameField(info->achName, kPinName);
        return S_OK;
    }
    HRESULT QueryDirection(PIN_DIRECTION* direction) override
    {
        if (direction == nullptr)
            return E_POINTER;
        *direction = PINDIR_INPUT;
        return S_OK;
    }
    HRESULT QueryId(char** id) override
    {
        if (id == nullptr)
            return E_POINTER;
        *id = CoTaskMemCopyText(kPinName);
        return *id != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT QueryAccept(const AM_MEDIA_TYPE* type) override
    {
        TPcmFormat format;
        return type != nullptr && ParseFormat(*type, format) ? S_OK : S_FALSE;
    }
    HRESULT EnumMediaTypes(IEnumMediaTypes** types) override
    {
        if (types == nullptr)
            return E_POINTER;
        *types = MakeComObject<TEnumNoMediaTypes, IEnumMediaTypes>().Detach();
        return S_OK;
    }
    HRESULT QueryInternalConnections(IPin** pins, std::uint32_t* count) override
    {
        (void)pins;
        (void)count;
        return E_NOTIMPL;
    }
    HRESULT EndOfStream() override { return S_OK; }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
    HRESULT NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override
    {
        (void)start;
        (void)stop;
        (void)rate;
        return S_OK;
    }

    // IMemInputPin
    HRESULT GetAllocator(IMemAllocator** allocator) override
    {
        if (allocator == nullptr)
            return E_POINTER;
        std::lock_guard lock(FFilter.FLock);
        if (!FOwnAllocator)
            FOwnAllocator = MakeComObject<TMemAllocator, IMemAllocator>();
        *allocator = FOwnAllocator.Get();
        (*allocator)->AddRef();
        return S_OK;
    }
    HRESULT NotifyAllocator(IMemAllocator* allocator, bool readOnly) override
    {
        (void)readOnly;
        if (allocator == nullptr)
            return E_POINTER;
        std::lock_guard lock(FFilter.FLock);
        FAllocator = TRefPtr<IMemAllocator>(allocator);
        return S_OK;
    }
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override
    {
        (void)properties;
        // The source sizes its buffers; any alignment and prefix will do.
        return E_NOTIMPL;
    }
    HRESULT Receive(IMediaSample* sample) override
    {
        if (sample == nullptr)
            return E_POINTER;
        std::uint32_t blockAlign = 0;
        {
            std::lock_guard lock(FFilter.FLock);
            if (!FConnected || FFilter.FState == State_Stopped)
                return VFW_E_WRONG_STATE;
            if (FDeviceLost)
                return E_FAIL;
            blockAlign = FFormat.BlockAlign();
        }
        std::uint8_t* data = nullptr;
        if (FAILED(sample->GetPointer(&data)))
            return E_POINTER;
        const std::uint32_t frames =
            static_cast<std::uint32_t>(std::max(sample->GetActualDataLength(), 0)) / blockAlign;
        if (frames == 0)
            return S_OK;
        // Without the filter's lock: the write waits for the device, and Stop must be able to wake it.
        const TDeviceResult written = FFilter.FDevice->Write(data, frames);
        switch (written.Status)
        {
        case TDeviceStatus::Ok:
            // The device may have started playing only now: the clock's advises need not wait for their
            // next estimate to see it.
            FFilter.FDeviceClock->TimeAdvanced();
            return S_OK;
        case TDeviceStatus::Stopped:
            return S_FALSE;
        case TDeviceStatus::Lost:
            return DeviceLost(written.Message);
        case TDeviceStatus::Failed:
            break;
        }
        FFilter.SetLastError(written.Message);
        ReportFailure(FFilter.FDevice->Name(), "playing a sample", written.Message);
        return E_FAIL;
    }
    HRESULT ReceiveMultiple(IMediaSample** samples, std::int32_t count, std::int32_t* processed) override
    {
        if (samples == nullptr || processed == nullptr)
            return E_POINTER;
        *processed = 0;
        HRESULT result = S_OK;
        while (*processed < count && result == S_OK)
        {
            result = Receive(samples[*processed]);
            if (result == S_OK)
                ++*processed;
        }
        return result;
    }
    HRESULT ReceiveCanBlock() override { return S_OK; }

    [[nodiscard]] bool IsConnected() const { return static_cast<bool>(FConnected); }
private:
    HRESULT DeviceLost(const std::string& message)
    {
        bool first = false;
        {
            std::lock_guard lock(FFilter.FLock);
            first = !FDeviceLost;
            FDeviceLost = true;
            FFilter.SetLastError(message);
        }
        if (first)
        {
            ReportFailure(FFilter.FDevice->Name(), "playing a sample", message);
            FFilter.NotifyGraph(EC_DEVICE_LOST, 0, 0);
        }
        return E_FAIL;
    }

    TAudioRenderer& FFilter;
    TRefPtr<IPin> FConnected;               // guarded by the filter lock
    AM_MEDIA_TYPE FType{};                  // guarded by the filter lock
    TPcmFormat FFormat;                     // guarded by the filter lock
    TRefPtr<IMemAllocator> FOwnAllocator;   // guarded by the filter lock
    TRefPtr<IMemAllocator> FAllocator;      // the one the source chose; guarded by the filter lock
    bool FDeviceLost = false;               // guarded by the filter lock
};

TAudioRenderer::TAudioRenderer(std::unique_ptr<IAudioDevice> device, const TGUID& classId)
    : FClassId(classId), FDevice(std::move(device)), FPin(std::make_unique<TAudioRendererPin>(*this)),
      FName(FDevice->Name())
{
    FDeviceClock = MakeComObject<TReferenceClock>(
        [this]() -> REFERENCE_TIME
        {
            const std::int64_t rate = FFramesPerSecond.load(std::memory_order_relaxed);
            const REFERENCE_TIME base = FTimeBase.load(std::memory_order_relaxed);
            return rate == 0 ? base : base + FDevice->FramesPlayed() * 1000000 / rate;
        });
}

TAudioRenderer::~TAudioRenderer()
{
    // The clock's thread reads the device: it ends first.
    FDeviceClock.Reset();
    FDevice->Close();
}

HRESULT TAudioRenderer::GetTime(REFERENCE_TIME* time)
{
    return FDeviceClock->GetTime(time);
}

HRESULT TAudioRenderer::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, TEvent* event,
                                   std::uintptr_t* cookie)
{
    return FDeviceClock->AdviseTime(baseTime, streamTime, event, cookie);
}

HRESULT TAudioRenderer::AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, TSemaphore* semaphore,
                                       std::uintptr_t* cookie)
{
    return FDeviceClock->AdvisePeriodic(start, period, semaphore, cookie);
}

HRESULT TAudioRenderer::Unadvise(std::uintptr_t cookie)
{
    return FDeviceClock->Unadvise(cookie);
}

HRESULT TAudioRenderer::GetClassID(TGUID* classId)
{
    if (classId == nullptr)
        return E_POINTER;
    *classId = FClassId;
    return S_OK;
}

HRESULT TAudioRenderer::Stop()
{
    std::lock_guard lock(FLock);
    if (FState == State_Stopped)
        return S_OK;
    // Wakes a Receive that waits in the device's write.
    FDevice->Stop();
    FState = State_Stopped;
    return S_OK;
}

HRESULT TAudioRenderer::Pause()
{
    std::lock_guard lock(FLock);
    if (FPin->IsConnected())
        FDevice->Pause();
    FState = State_Paused;
    return S_OK;
}

HRESULT TAudioRenderer::Run(REFERENCE_TIME start)
{
    (void)start;
    std::lock_guard lock(FLock);
    if (FState == State_Stopped)
    {
        const HRESULT paused = Pause();
        if (FAILED(paused))
            return paused;
    }
    if (FPin->IsConnected())
    {
        const TDeviceResult started = FDevice->Start();
        if (!started.Ok())
        {
            SetLastError(started.Message);
            ReportFailure(FDevice->Name(), "running the renderer", started.Message);
            return E_FAIL;
        }
    }
    FState = State_Running;
    return S_OK;
}

HRESULT TAudioRenderer::GetState(std::uint32_t timeoutMs, FILTER_STATE* state)
{
    (void)timeoutMs;
    if (state == nullptr)
        return E_POINTER;
    std::lock_guard lock(FLock);
    *state = FState;
    return S_OK;
}

HRESULT TAudioRenderer::SetSyncSource(IReferenceClock* clock)
{
    std::lock_guard lock(FLock);
    FClock = TRefPtr<IReferenceClock>(clock);
    return S_OK;
}

HRESULT TAudioRenderer::GetSyncSource(IReferenceClock** clock)
{
    if (clock == nullptr)
        return E_POINTER;
    std::lock_guard lock(FLock);
    *clock = FClock.Get();
    if (*clock != nullptr)
        (*clock)->AddRef();
    return S_OK;
}

HRESULT TAudioRenderer::EnumPins(IEnumPins** pins)
{
    if (pins == nullptr)
        return E_POINTER;
    *pins = MakeComObject<TListEnumerator<IEnumPins, IPin>, IEnumPins>(
                std::vector<TRefPtr<IPin>>{TRefPtr<IPin>(InputPin())})
                .Detach();
    return S_OK;
}

HRESULT TAudioRenderer::FindPin(const char* id, IPin** pin)
{
    if (pin == nullptr)
        return E_POINTER;
    *pin = nullptr;
    if (id == nullptr || std::strcmp(id, kPinName) != 0)
        return VFW_E_NOT_FOUND;
    *pin = InputPin();
    (*pin)->AddRef();
    return S_OK;
}

HRESULT TAudioRenderer::QueryFilterInfo(FILTER_INFO* info)
{
    if (info == nullptr)
        return E_POINTER;
    std::lock_guard lock(FLock);
    CopyToNameField(info->achName, FName);
    info->pGraph = FGraph;
    if (FGraph != nullptr)
        FGraph->AddRef();
    return S_OK;
}

HRESULT TAudioRenderer::JoinFilterGraph(IFilterGraph* graph, const char* name)
{
    std::lock_guard lock(FLock);
    FGraph = graph;
    FName = name != nullptr ? name : "";
    return S_OK;
}

HRESULT TAudioRenderer::QueryVendorInfo(char** vendorInfo)
{
    (void)vendorInfo;
    return E_NOTIMPL;
}

IPin* TAudioRenderer::InputPin() noexcept
{
    return FPin.get();
}

std::string TAudioRenderer::LastError() const
{
    std::lock_guard lock(FLock);
    return FLastError;
}

std::string TAudioRenderer::StandInReason() const
{
    std::lock_guard lock(FLock);
    return FDevice->StandInReason();
}

void TAudioRenderer::NotifyGraph(std::int32_t code, std::intptr_t param1, std::intptr_t param2)
{
    TRefPtr<IMediaEventSink> sink;
    {
        std::lock_guard lock(FLock);
        sink = QueryAs<IMediaEventSink>(FGraph);
    }
    if (sink)
        (void)sink->Notify(code, param1, param2);
}

void TAudioRenderer::SetLastError(std::string message)
{
    std::lock_guard lock(FLock);
    FLastError = std::move(message);
}

}   // namespace harvolin
