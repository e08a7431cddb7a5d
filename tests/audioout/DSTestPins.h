#pragma once
#include "audioout/DSBaseClass.h"
#include "media/ComObject.h"
#include "media/MediaInterfaces.h"
#include "rtl/Threads.h"
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace harvolin::testing
{

// A real memory allocator that can grant less than it is asked for, and tells when a GetBuffer is entered.
class TTestAllocator final : public TComObject<IMemAllocator>
{
public:
    std::int32_t Shortfall = 0;   // bytes granted less than requested
    TEvent GetBufferEntered{TEventMode::AutoReset};

    TTestAllocator()
    {
        void* made = nullptr;
        CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IMemAllocator::kIID, &made);
        FInner = AdoptRef(static_cast<IMemAllocator*>(made));
    }
    HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override
    {
        ALLOCATOR_PROPERTIES less = *request;
        less.cbBuffer -= Shortfall;
        return FInner->SetProperties(&less, actual);
    }
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) override
    {
        return FInner->GetProperties(properties);
    }
    HRESULT Commit() override { return FInner->Commit(); }
    HRESULT Decommit() override { return FInner->Decommit(); }
    HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                      std::uint32_t flags) override
    {
        GetBufferEntered.Set();
        return FInner->GetBuffer(sample, start, end, flags);
    }
    HRESULT ReleaseBuffer(IMediaSample* sample) override { return FInner->ReleaseBuffer(sample); }
private:
    TRefPtr<IMemAllocator> FInner;
};

// What one Receive got.
struct TReceivedSample
{
    std::vector<std::uint8_t> Bytes;
    bool Timed = false;
    REFERENCE_TIME Start = 0;
    REFERENCE_TIME Stop = 0;
    bool SyncPoint = false;
};

// Stands in for a renderer's input pin: records the connection, the allocator it was told of and every
// sample it receives. Options are set before connecting; the records are read after the calls (Receive
// records under a lock, as it runs on the delivering thread).
class TTestInputPin final : public TComObject<IPin, IMemInputPin>
{
public:
    // Options.
    TRefPtr<IMemAllocator> OwnAllocator;   // offered by GetAllocator when set
    bool RequireOwnAllocator = false;      // NotifyAllocator refuses any other
    std::optional<ALLOCATOR_PROPERTIES> Requirements;
    bool RefuseTypes = false;
    bool HoldSamples = false;   // keeps every received sample until ReleaseHeld()
    HRESULT ReceiveResult = S_OK;

    // Records.
    TRefPtr<IPin> Connected;
    AM_MEDIA_TYPE ConnectionType{};
    TRefPtr<IMemAllocator> Notified;
    int ReceiveConnectionCalls = 0;
    int EndOfStreamCalls = 0;
    TEvent SampleReceived{TEventMode::AutoReset};

    TTestInputPin() = default;

    [[nodiscard]] std::vector<TReceivedSample> Received()
    {
        std::lock_guard lock(FLock);
        return FReceived;
    }
    void ReleaseHeld()
    {
        std::vector<TRefPtr<IMediaSample>> held;
        {
            std::lock_guard lock(FLock);
            held.swap(FHeld);
        }
    }

    HRESULT Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override
    {
        ++ReceiveConnectionCalls;
        if (Connected)
            return VFW_E_ALREADY_CONNECTED;
        if (RefuseTypes)
            return VFW_E_TYPE_NOT_ACCEPTED;
        Connected.Reset(connector);
        FreeMediaType(ConnectionType);
        return CopyMediaType(ConnectionType, *type);
    }
    HRESULT Disconnect() override
    {
        if (!Connected)
            return S_FALSE;
        Connected.Reset();
        Notified.Reset();
        FreeMediaType(ConnectionType);
        return S_OK;
    }
    HRESULT ConnectedTo(IPin** pin) override
    {
        *pin = Connected.Get();
        if (*pin == nullptr)
            return VFW_E_NOT_CONNECTED;
        (*pin)->AddRef();
        return S_OK;
    }
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* type) override { return CopyMediaType(*type, ConnectionType); }
    HRESULT QueryPinInfo(PIN_INFO* info) override
    {
        info->pFilter = nullptr;
        info->dir = PINDIR_INPUT;
        std::strcpy(info->achName, "In");
        return S_OK;
    }
    HRESULT QueryDirection(PIN_DIRECTION* direction) override
    {
        *direction = PINDIR_INPUT;
        return S_OK;
    }
    HRESULT QueryId(char**) override { return E_NOTIMPL; }
    HRESULT QueryAccept(const AM_MEDIA_TYPE*) override { return RefuseTypes ? S_FALSE : S_OK; }
    // No types of its own: the source's types are the ones tried.
    HRESULT EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    HRESULT QueryInternalConnections(IPin**, std::uint32_t*) override { return E_NOTIMPL; }
    HRESULT EndOfStream() override
    {
        ++EndOfStreamCalls;
        return S_OK;
    }
    HRESULT BeginFlush() override { return S_OK; }
    HRESULT EndFlush() override { return S_OK; }
    HRESULT NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    HRESULT GetAllocator(IMemAllocator** allocator) override
    {
        *allocator = OwnAllocator.Get();
        if (*allocator == nullptr)
            return VFW_E_NO_ALLOCATOR;
        (*allocator)->AddRef();
        return S_OK;
    }
    HRESULT NotifyAllocator(IMemAllocator* allocator, bool) override
    {
        if (RequireOwnAllocator && allocator != OwnAllocator.Get())
            return VFW_E_NO_ALLOCATOR;
        Notified.Reset(allocator);
        return S_OK;
    }
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override
    {
        if (!Requirements)
            return E_NOTIMPL;
        *properties = *Requirements;
        return S_OK;
    }
    HRESULT Receive(IMediaSample* sample) override
    {
        TReceivedSample record;
        std::uint8_t* bytes = nullptr;
        sample->GetPointer(&bytes);
        record.Bytes.assign(bytes, bytes + sample->GetActualDataLength());
        record.Timed = sample->GetTime(&record.Start, &record.Stop) == S_OK;
        record.SyncPoint = sample->IsSyncPoint() == S_OK;
        {
            std::lock_guard lock(FLock);
            FReceived.push_back(std::move(record));
            if (HoldSamples)
                FHeld.emplace_back(sample);
        }
        SampleReceived.Set();
        return ReceiveResult;
    }
    HRESULT ReceiveMultiple(IMediaSample**, std::int32_t, std::int32_t*) override { return E_NOTIMPL; }
    HRESULT ReceiveCanBlock() override { return S_FALSE; }
private:
    ~TTestInputPin() override { FreeMediaType(ConnectionType); }

    std::mutex FLock;
    std::vector<TReceivedSample> FReceived;     // guarded by FLock
    std::vector<TRefPtr<IMediaSample>> FHeld;   // guarded by FLock
};

// A wave format record as the audio output fills it.
inline TALWaveFormatExtensible MakeWaveFormat(std::uint16_t channels, std::uint16_t bits, std::uint32_t rate)
{
    TALWaveFormatExtensible format;
    format.nChannels = channels;
    format.wBitsPerSample = bits;
    format.wValidBitsPerSample = bits;
    format.nSamplesPerSec = rate;
    format.nBlockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    format.dwChannelMask = channels == 2 ? 3 : 0x3F;
    return format;
}

}   // namespace harvolin::testing
