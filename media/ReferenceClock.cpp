#include "media/ReferenceClock.h"
#include "rtl/Diagnostics.h"
#include <algorithm>
#include <limits>

namespace harvolin
{
namespace
{

constexpr REFERENCE_TIME kEndOfTime = std::numeric_limits<REFERENCE_TIME>::max();
// Also bounds the wait for a far due time, whose microseconds would overflow the wait's deadline.
constexpr std::chrono::microseconds kMaxWait = std::chrono::seconds(1);

TReferenceTimeSource SteadySource()
{
    const auto origin = std::chrono::steady_clock::now();
    return [origin]
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                     origin)
            .count();
    };
}

// How far later lies past earlier (not before it). Unsigned: the distance of two signed times may pass the
// signed range, never the unsigned one.
std::uint64_t Distance(REFERENCE_TIME earlier, REFERENCE_TIME later)
{
    return static_cast<std::uint64_t>(later) - static_cast<std::uint64_t>(earlier);
}

// The due time periods after due; an advise whose schedule runs past the end of the time range stays at
// its end.
REFERENCE_TIME AdvanceDue(REFERENCE_TIME due, std::uint64_t periods, REFERENCE_TIME period)
{
    REFERENCE_TIME step = 0;
    REFERENCE_TIME next = 0;
    if (periods > static_cast<std::uint64_t>(kEndOfTime) ||
        __builtin_mul_overflow(static_cast<REFERENCE_TIME>(periods), period, &step) ||
        __builtin_add_overflow(due, step, &next))
        return kEndOfTime;
    return next;
}

}   // namespace

TReferenceClock::TReferenceClock(TReferenceTimeSource source)
    : FSource(source ? std::move(source) : SteadySource()),
      FLastTime(std::numeric_limits<REFERENCE_TIME>::min())
{
}

TReferenceClock::~TReferenceClock()
{
    {
        std::lock_guard lock(FLock);
        FStopping = true;
        FWake.notify_all();
    }
    if (FThread)
        FThread->Join();
}

HRESULT TReferenceClock::GetTime(REFERENCE_TIME* time)
{
    if (time == nullptr)
        return E_POINTER;
    try
    {
        *time = ReadTime();
    }
    catch (...)
    {
        // The caller learns of it by the result; the advise thread reports the source's failures itself.
        return E_FAIL;
    }
    return S_OK;
}

HRESULT TReferenceClock::AdviseTime(REFERENCE_TIME baseTime, REFERENCE_TIME streamTime, TEvent* event,
                                    std::uintptr_t* cookie)
{
    if (cookie == nullptr)
        return E_POINTER;
    *cookie = 0;
    REFERENCE_TIME due = 0;
    if (event == nullptr || __builtin_add_overflow(baseTime, streamTime, &due))
        return E_INVALIDARG;
    return AddAdvise(TAdvise{due, 0, nullptr, event}, cookie);
}

HRESULT TReferenceClock::AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, TSemaphore* semaphore,
                                        std::uintptr_t* cookie)
{
    if (cookie == nullptr)
        return E_POINTER;
    *cookie = 0;
    if (semaphore == nullptr || period <= 0)
        return E_INVALIDARG;
    return AddAdvise(TAdvise{start, period, semaphore, nullptr}, cookie);
}

HRESULT TReferenceClock::Unadvise(std::uintptr_t cookie)
{
    std::lock_guard lock(FLock);
    // Releases happen under this lock, so once the advise is gone from the map nothing fires for it.
    return FAdvises.erase(cookie) == 1 ? S_OK : S_FALSE;
}

void TReferenceClock::TimeAdvanced()
{
    std::lock_guard lock(FLock);
    ++FWakeCount;
    FWake.notify_one();
}

REFERENCE_TIME TReferenceClock::ReadTime()
{
    const REFERENCE_TIME time = FSource();
    // relaxed: the value is all that is shared, and every reader sees the one order of its changes.
    REFERENCE_TIME last = FLastTime.load(std::memory_order_relaxed);
    while (time > last && !FLastTime.compare_exchange_weak(last, time, std::memory_order_relaxed))
    {
    }
    return std::max(time, last);
}

HRESULT TReferenceClock::AddAdvise(const TAdvise& advise, std::uintptr_t* cookie)
{
    try
    {
        std::call_once(FThreadStarted,
                       [this] {
                           FThread = std::make_unique<TThread>([this] { Run(); }, TThreadPriority::Highest,
                                                               "reference clock");
                       });
    }
    catch (...)
    {
        ReportCurrentException("reference clock", "starting the advise thread");
        return E_FAIL;
    }

    std::lock_guard lock(FLock);
    try
    {
        FAdvises.emplace(FLastCookie + 1, advise);
    }
    catch (const std::bad_alloc&)
    {
        return E_OUTOFMEMORY;
    }
    *cookie = ++FLastCookie;
    // The thread may be waiting for a later due time, or for no advise at all.
    ++FWakeCount;
    FWake.notify_one();
    return S_OK;
}

bool TReferenceClock::FireDue(REFERENCE_TIME now, REFERENCE_TIME& nextDue)
{
    bool pending = false;
    for (auto it = FAdvises.begin(); it != FAdvises.end();)
    {
        TAdvise& advise = it->second;
        if (advise.Due <= now)
        {
            if (advise.Period == 0)
            {
                advise.Event->Set();
                it = FAdvises.erase(it);
                continue;
            }
            const std::uint64_t passed =
                Distance(advise.Due, now) / static_cast<std::uint64_t>(advise.Period) + 1;
            const std::uint64_t releases = std::min<std::uint64_t>(passed, kMaxCatchUpReleases);
            for (std::uint64_t i = 0; i < releases; ++i)
                // A refused release (semaphore at its maximum) is a lost tick, not a failure of the clock.
                static_cast<void>(advise.Semaphore->Release());
            advise.Due = AdvanceDue(advise.Due, passed, advise.Period);
        }
        if (!pending || advise.Due < nextDue)
            nextDue = advise.Due;
        pending = true;
        ++it;
    }
    return pending;
}

void TReferenceClock::Run()
{
    std::unique_lock lock(FLock);
    while (!FStopping)
    {
        // Taken before the source is read, so a TimeAdvanced() after the read is never slept through.
        const std::uint64_t seenWakes = FWakeCount;
        lock.unlock();
        REFERENCE_TIME now = 0;
        try
        {
            now = ReadTime();
        }
        catch (...)
        {
            ReportCurrentException("reference clock", "reading the time source");
            // Nothing new fires on the last good time; the source is asked again at the next wake.
            now = FLastTime.load(std::memory_order_relaxed);
        }
        lock.lock();
        if (FStopping)
            break;

        REFERENCE_TIME nextDue = 0;
        const auto woken = [&] { return FStopping || FWakeCount != seenWakes; };
        if (!FireDue(now, nextDue))
        {
            FWake.wait(lock, woken);
            continue;
        }
        // The wall clock's estimate of how far the next due time is; the source may run at another pace, so
        // it is only a time to look again.
        const std::uint64_t ahead =
            std::min(Distance(now, nextDue), static_cast<std::uint64_t>(kMaxWait.count()));
        const auto wait = std::max<std::chrono::microseconds>(std::chrono::microseconds(ahead), kMinRecheck);
        FWake.wait_for(lock, wait, woken);
    }
}

}   // namespace harvolin
