#include "gen/SLClockGen.h"
#include "rtl/Diagnostics.h"
#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <string>

namespace harvolin
{
namespace
{

std::atomic<std::int32_t> GLiveClockThreads{0};
std::atomic<std::uint64_t> GCallbackFailures{0};

// The live clock generators, not owned: each ends itself after its last client left.
struct TClockRegistry
{
    TClockRegistry() { (void)GlobalLock(); }   // made first, so that it outlives the registry
    ~TClockRegistry();

    std::mutex Lock;   // a leaf: nothing else is taken while it is held
    std::vector<TSLClockGen*> Gens;
};

TClockRegistry& ClockRegistry()
{
    static TClockRegistry registry;
    return registry;
}

}   // namespace

// The worker of one clock generator.
class TSLClockGenThread
{
public:
    explicit TSLClockGenThread(TSLClockGen& gen) : FGen(&gen)
    {
        GLiveClockThreads.fetch_add(1);
        try
        {
            FThread = std::make_unique<TThread>([this] { Run(); }, TThreadPriority::Highest,
                                                "clock " + std::to_string(gen.Period()) + " ms");
        }
        catch (...)
        {
            GLiveClockThreads.fetch_sub(1);
            throw;
        }
    }
    TSLClockGenThread(const TSLClockGenThread&) = delete;
    TSLClockGenThread& operator=(const TSLClockGenThread&) = delete;
    ~TSLClockGenThread() { GLiveClockThreads.fetch_sub(1); }

    // One more tick to run; lost when kMaxPendingTicks are pending already.
    void Wake() { (void)FGen->FTickSemaphore.Release(); }

    // On the worker itself: its loop ends at the next look and the thread frees itself. From another thread:
    // ends the thread, waits for it and frees it.
    void Shutdown()
    {
        if (CurrentThreadId() == FThread->Id())
        {
            FFreeOnExit = true;
            FTerminated.store(true);
            return;
        }
        FTerminated.store(true);
        Wake();
        FThread->Join();
        delete this;
    }
private:
    void Run()
    {
        while (!FTerminated.load())
        {
            FGen->FTickSemaphore.Acquire();
            bool ended = false;
            {
                TOWGlobalReadLockSection global;
                if (FTerminated.load())
                    break;
                ended = FGen->RunTick();
            }
            // Outside GlobalLock: the clock generator's teardown takes it for writing.
            if (ended)
            {
                delete FGen;
                FGen = nullptr;
            }
        }
        if (FFreeOnExit)
            delete this;
    }

    TSLClockGen* FGen;
    std::atomic<bool> FTerminated{false};
    bool FFreeOnExit = false;   // worker thread only
    std::unique_ptr<TThread> FThread;
};

namespace
{

TClockRegistry::~TClockRegistry()
{
    // Clock generators whose clients never left: their threads end here, so that the wait below ends.
    std::vector<TSLClockGen*> left;
    {
        std::lock_guard lock(Lock);
        left = Gens;
    }
    for (TSLClockGen* gen : left)
        gen->Halt();
    while (GLiveClockThreads.load() > 0)
        SleepMs(1);
}

}   // namespace

TSLClockGen::TSLClockGen(std::int32_t periodMs) : FPeriod(periodMs), FThread(new TSLClockGenThread(*this)) {}

TSLClockGen::~TSLClockGen()
{
    Halt();
}

void TSLClockGen::Halt()
{
    FTickSemaphore.StopPacing();
    if (FThread != nullptr)
        std::exchange(FThread, nullptr)->Shutdown();
}

std::size_t TSLClockGen::ClientCount()
{
    TOWReadLockSection self(*this);
    return FClients.size();
}

TSLClockGenItem* TSLClockGen::AddClient(TOWObject& lock, std::function<void()> callback)
{
    auto item = std::make_shared<TSLClockGenItem>(*this, std::move(callback));
    item->FLock = &lock;
    AddDependency(&lock);
    TOWWriteLockSection self(*this);
    FClients.push_back(item);
    return item.get();
}

bool TSLClockGen::RemoveClient(TSLClockGenItem* item, TOWObject& lock)
{
    bool sharedLock = false;
    {
        TOWWriteLockSection self(*this);
        auto found = std::find_if(FClients.begin(), FClients.end(),
                                  [&](const std::shared_ptr<TSLClockGenItem>& c) { return c.get() == item; });
        if (found == FClients.end())
            return FClients.empty();
        (*found)->FActive = false;
        FClients.erase(found);
        sharedLock =
            std::any_of(FClients.begin(), FClients.end(),
                        [&](const std::shared_ptr<TSLClockGenItem>& c) { return c->FLock == &lock; });
    }
    // A client registered twice with one lock keeps the lock joined until its last registration goes.
    if (!sharedLock)
        RemoveDependency(&lock);
    TOWReadLockSection self(*this);
    return FClients.empty();
}

void TSLClockGen::StartTimer()
{
    FTickSemaphore.Pace(FPeriod);
}

bool TSLClockGen::RunTick()
{
    TOWWriteLockSection self(*this);
    ++FBusyCount;
    // By a copy: a client may stop itself from its callback, which removes its registration.
    FTick = FClients;
    for (const std::shared_ptr<TSLClockGenItem>& item : FTick)
    {
        if (!item->FActive || !item->FCallback)
            continue;
        try
        {
            item->FCallback();
        }
        catch (...)
        {
            // One failing client must not silence the others of its period.
            GCallbackFailures.fetch_add(1);
            ReportCurrentException([this] { return "clock " + std::to_string(Period()) + " ms"; },
                                   [] { return "clock callback"; });
        }
    }
    FTick.clear();
    --FBusyCount;
    FTicksRun.fetch_add(1);
    return FBusyCount == 0 && FClients.empty();
}

TSLClockGenItem* RegisterClock(std::int32_t periodMs, TOWObject& lock, std::function<void()> callback)
{
    if (periodMs < 1)
        throw std::invalid_argument("clock registry: period " + std::to_string(periodMs) +
                                    " ms is below the 1 ms minimum");
    if (!callback)
        throw std::invalid_argument("clock registry: cannot register an empty callback");
    TOWGlobalWriteLockSection global;
    TOWWriteLockSection caller(lock);
    TClockRegistry& registry = ClockRegistry();
    TSLClockGen* gen = FindClockGen(periodMs);
    if (gen != nullptr)
        return gen->AddClient(lock, std::move(callback));
    gen = new TSLClockGen(periodMs);
    TSLClockGenItem* item = nullptr;
    try
    {
        item = gen->AddClient(lock, std::move(callback));
        gen->StartTimer();
    }
    catch (...)
    {
        // A clock that cannot tick is not registered: the caller hears of it instead of waiting for ever.
        if (item != nullptr)
            gen->RemoveClient(item, lock);
        delete gen;
        throw;
    }
    std::lock_guard guard(registry.Lock);
    registry.Gens.push_back(gen);
    return item;
}

bool UnregisterClock(TSLClockGenItem* item, TOWObject& lock)
{
    TClockRegistry& registry = ClockRegistry();
    if (item != nullptr)
    {
        TOWGlobalWriteLockSection global;
        TSLClockGen& gen = item->Owner();
        if (gen.RemoveClient(item, lock))
        {
            {
                TOWWriteLockSection self(gen);
                gen.FThread->Wake();
            }
            std::lock_guard guard(registry.Lock);
            std::erase(registry.Gens, &gen);
        }
    }
    std::lock_guard guard(registry.Lock);
    return registry.Gens.empty();
}

std::size_t ClockGenCount()
{
    TClockRegistry& registry = ClockRegistry();
    std::lock_guard guard(registry.Lock);
    return registry.Gens.size();
}

TSLClockGen* FindClockGen(std::int32_t periodMs)
{
    TClockRegistry& registry = ClockRegistry();
    std::lock_guard guard(registry.Lock);
    for (TSLClockGen* gen : registry.Gens)
        if (gen->Period() == periodMs)
            return gen;
    return nullptr;
}

std::int32_t LiveClockThreads() noexcept
{
    return GLiveClockThreads.load();
}

std::uint64_t ClockCallbackFailures() noexcept
{
    return GCallbackFailures.load();
}

// --- TSLClockThread ----------------------------------------------------------------------------------------

TSLClockThread::TSLClockThread(std::function<void(TSLClockThread&)> callback) : FCallback(std::move(callback))
{
    FThread = std::make_unique<TThread>(
        [this]
        {
            while (!FTerminated.load())
            {
                FTickSemaphore.Acquire();
                if (FTerminated.load())
                    break;
                if (!FCallback)
                    continue;
                try
                {
                    FCallback(*this);
                }
                catch (...)
                {
                    FCallbackFailures.fetch_add(1);
                    ReportCurrentException("clock thread", "clock callback");
                }
            }
            FDoneEvent.Set();
        },
        TThreadPriority::Highest, "clock thread");
}

TSLClockThread::~TSLClockThread()
{
    FTerminated.store(true);
    // A full semaphore still wakes the thread: its count is above zero.
    (void)FTickSemaphore.Release();
    FDoneEvent.Wait();
    FThread->Join();
}

}   // namespace harvolin
