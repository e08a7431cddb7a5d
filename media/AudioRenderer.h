#pragma once
#include "media/AudioDevice.h"
#include "media/MediaInterfaces.h"
#include "media/ReferenceClock.h"
#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace harvolin
{

class TAudioRendererPin;

// An audio renderer: a filter with one input pin ("In") that takes PCM samples and plays them on a device
// through the narrow device API. The device is opened when the pin is connected, so that a missing or busy
// device fails the connection (VFW_E_NO_AUDIO_HARDWARE) and LastError() says why; running starts it,
// pausing holds it, stopping drops what it buffered.
//
// Threads: the graph calls the filter and the pin's connection methods, one at a time, under the filter's
// lock. Receive runs on the delivering thread and blocks in the device's Write until the device has room,
// without the filter's lock, so that Stop (which stops the device and so wakes the write) is never held up
// by it. A device that is lost raises EC_DEVICE_LOST to the graph once, and later samples are refused at
// once, so a delivering loop cannot spin on it.
//
// The renderer is also a reference clock, the one a graph takes as its sync source: its time is what the
// device has played, in microseconds, so that whatever the clock paces keeps the device's pace. It stands
// still while nothing plays.
class TAudioRenderer final : public TComObject<IBaseFilter, IReferenceClock>
{
public:
    TAudioRenderer(std::unique_ptr<IAudioDevice> device, const TGUID& classId);

    // IBaseFilter, with IMediaFilter and IPersist.
    HRESULT GetClassID(TGUID* classId) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME start) override;
    HRESULT GetState(std::uint32_t timeoutMs, FILTER_STATE* state) override;
    HRESULT SetSyncSource(IReferenceClock* clock) override;
    HRESULT GetSyncSource(IReferenceClock** clock) override;
    HRESULT EnumPins(IEnumPins** pins) override;
    HRESULT FindPin(const char* id, IPin** pin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT JoinFilterGraph(IFilterGraph* graph, const char* name) override;
    HRESULT QueryVendorInfo(char** vendorInfo) override;

    // IReferenceClock, the device's time.
    HRESULT GetTime(REFERENCE_TIME* time) override;
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, TEvent* event,
                       std::uintptr_t* cookie) override;
    HRESULT AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, TSemaphore* semaphore,
                           std::uintptr_t* cookie) override;
    HRESULT Unadvise(std::uintptr_t cookie) override;

    // The input pin, without a new reference: valid while the filter lives.
    [[nodiscard]] IPin* InputPin() noexcept;
    [[nodiscard]] IAudioDevice& Device() noexcept { return *FDevice; }
    // Why the last connection or sample failed; empty when nothing failed.
    [[nodiscard]] std::string LastError() const;
    // Why the device plays on a stand-in since the last connection (IAudioDevice::StandInReason); empty
    // when it plays on the device asked for. Under the filter's lock, as connections are made.
    [[nodiscard]] std::string StandInReason() const;
private:
    friend class TAudioRendererPin;

    ~TAudioRenderer() override;
    // Raises an event to the graph, when the filter is in one that hears events.
    void NotifyGraph(std::int32_t code, std::intptr_t param1, std::intptr_t param2);
    void SetLastError(std::string message);

    const TGUID FClassId;
    const std::unique_ptr<IAudioDevice> FDevice;
    std::atomic<std::uint32_t> FFramesPerSecond{0};   // of the connection; 0 before the first one
    // The clock's time when the connection was made: a new connection's device counts from 0 again, and the
    // clock goes on from where it was instead of standing still until the new count passes the old one.
    std::atomic<REFERENCE_TIME> FTimeBase{0};
    TRefPtr<TReferenceClock> FDeviceClock;   // reads FDevice; goes before it
    std::unique_ptr<TAudioRendererPin> FPin;
    mutable std::recursive_mutex FLock;    // the filter lock: state, connection, graph, clock
    FILTER_STATE FState = State_Stopped;   // guarded by FLock
    TRefPtr<IReferenceClock> FClock;       // guarded by FLock
    IFilterGraph* FGraph = nullptr;        // not counted: the graph owns the filter; FLock
    std::string FName;                     // guarded by FLock
    std::string FLastError;                // guarded by FLock
};

}   // namespace harvolin
