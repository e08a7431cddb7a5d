#pragma once
#include "media/ComObject.h"
#include "media/MediaTypes.h"
#include "rtl/Threads.h"
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace harvolin
{

// A clock that others are paced by. A cookie names one advise; it is never 0 and never handed out twice by
// the same clock. Any thread.
class IReferenceClock : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A86897-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IUnknown;

    // The current time; never less than a time returned before. Null time: E_POINTER.
    virtual HRESULT GetTime(REFERENCE_TIME* time) = 0;
    // Sets event once, when the time reaches baseTime + streamTime; the advise then ends by itself (its
    // cookie is unknown from then on). Null cookie: E_POINTER; null event or a sum out of range:
    // E_INVALIDARG.
    virtual HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, TEvent* event,
                               std::uintptr_t* cookie) = 0;
    // Releases semaphore once at start, start + period, start + 2 x period... until Unadvise. A release the
    // semaphore refuses (at its maximum) is lost and the advise goes on. Null cookie: E_POINTER; a period
    // <= 0 or a null semaphore: E_INVALIDARG.
    virtual HRESULT AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, TSemaphore* semaphore,
                                   std::uintptr_t* cookie) = 0;
    // Ends an advise: S_OK, and nothing is released or set for it after the call returns; S_FALSE for a
    // cookie this clock does not know (never given, ended already, or a one-shot advise that has fired).
    virtual HRESULT Unadvise(std::uintptr_t cookie) = 0;
};

// The current time in microseconds. Called from whichever thread calls GetTime() and from the clock's
// advise thread, possibly at once, never with the clock's lock held (so it may take locks of its own, also
// ones held around calls of the clock). It should rise steadily; a step back is hidden by the clock, which
// never goes back. What it throws makes GetTime() fail with E_FAIL and is reported from the advise thread.
using TReferenceTimeSource = std::function<REFERENCE_TIME()>;

// A reference clock whose time comes from a time source: by default the monotonic clock measured from the
// clock's creation; a renderer gives its own (frames the device has played, in microseconds), so that
// whatever the clock paces keeps the device's pace. Not made by class identifier: a clock comes from the
// renderer that owns its time.
//
// Advise thread: one per clock, started by the first advise (highest priority, best effort), joined by the
// destructor. It does not assume the source runs at wall-clock speed: it reads the source, fires every
// advise whose due time the source has reached, then waits on its condition variable for as long as the
// wall clock says the next due time is away, but at least kMinRecheck and at most a second, and reads the
// source again. A source that stands still fires nothing and costs one wake-up per kMinRecheck at most. A
// source that jumps ahead (a renderer that has just written a large block) calls TimeAdvanced() to have the
// jump seen at once.
//
// Falling behind: when the source has passed several periods of a periodic advise since its last release,
// the semaphore is released once per period passed, at most kMaxCatchUpReleases times; the rest are
// dropped and the advise goes on at the next due time of its own schedule (start + k x period), so the
// phase stays.
//
// Lock: the clock's one mutex guards the advises. Semaphores are released and events set with it held:
// that is what lets Unadvise() promise that nothing fires for a cookie after it returns, and it is safe
// because those objects only take their own leaf locks. The time source is called without it. No call of
// the interface blocks beyond that mutex, which is held only for bookkeeping and the releases. An advise
// fails with E_FAIL when the thread cannot be started (that is also reported to the diagnostics sink), and
// with E_OUTOFMEMORY when memory runs out.
class TReferenceClock final : public TComObject<IReferenceClock>
{
public:
    static constexpr std::int32_t kMaxCatchUpReleases = 10;
    static constexpr std::chrono::milliseconds kMinRecheck{1};

    // An empty source stands for the monotonic clock measured from now.
    explicit TReferenceClock(TReferenceTimeSource source = {});
    // Stops the advise thread and waits for it to finish the pass under way; advises still active end
    // without firing again.
    ~TReferenceClock() override;

    HRESULT GetTime(REFERENCE_TIME* time) override;
    HRESULT AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, TEvent* event,
                       std::uintptr_t* cookie) override;
    HRESULT AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, TSemaphore* semaphore,
                           std::uintptr_t* cookie) override;
    HRESULT Unadvise(std::uintptr_t cookie) override;

    // Tells the clock that its source has moved: the advise thread reads it again now instead of at the
    // wall clock's estimate. Any thread; never blocks beyond the clock's mutex.
    void TimeAdvanced();
private:
    struct TAdvise
    {
        REFERENCE_TIME Due;      // the next time it fires
        REFERENCE_TIME Period;   // 0 for a one-shot advise
        TSemaphore* Semaphore;   // periodic advises
        TEvent* Event;           // one-shot advises
    };

    // The source's time, clamped so that it never goes back. Throws what the source throws.
    REFERENCE_TIME ReadTime();
    HRESULT AddAdvise(const TAdvise& advise, std::uintptr_t* cookie);
    // Fires what is due at now and returns the earliest due time left (or none). FLock held.
    bool FireDue(REFERENCE_TIME now, REFERENCE_TIME& nextDue);
    void Run();

    const TReferenceTimeSource FSource;
    std::atomic<REFERENCE_TIME> FLastTime;   // the highest time read so far; raised without FLock

    std::once_flag FThreadStarted;
    std::unique_ptr<TThread> FThread;   // set once by the first advise, joined by the destructor

    std::mutex FLock;
    std::condition_variable FWake;
    std::map<std::uintptr_t, TAdvise> FAdvises;   // guarded by FLock
    std::uintptr_t FLastCookie = 0;               // guarded by FLock
    std::uint64_t FWakeCount = 0;   // guarded by FLock: raised by TimeAdvanced() and new advises
    bool FStopping = false;         // guarded by FLock
};

}   // namespace harvolin
