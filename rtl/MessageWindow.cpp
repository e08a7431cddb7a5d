#include "rtl/MessageWindow.h"
#include "rtl/Diagnostics.h"
#include "rtl/Threads.h"
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

namespace harvolin
{

namespace
{

// Owning, so that a window made on this thread can bind to the queue without a lifetime question; the
// scopes that install queues keep the previous one to put back.
thread_local std::shared_ptr<IMessageQueue> gCurrentQueue;

TMessageWindow::THandle NextHandle() noexcept
{
    // 64 bits: counting up from 1 never wraps while the process runs, so a handle is never given out twice.
    static std::atomic<TMessageWindow::THandle> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

}   // namespace

std::shared_ptr<IMessageQueue> CurrentMessageQueue() noexcept
{
    return gCurrentQueue;
}

void RunPostedCall(const std::function<void()>& call) noexcept
{
    try
    {
        call();
    }
    catch (...)
    {
        ReportCurrentException("message queue", "posted call");
    }
}

TMessageQueueScope::TMessageQueueScope(std::shared_ptr<IMessageQueue> queue)
    : FOwner(std::this_thread::get_id()), FPrevious(std::exchange(gCurrentQueue, std::move(queue)))
{
}

TMessageQueueScope::~TMessageQueueScope()
{
    if (std::this_thread::get_id() != FOwner)
    {
        ReportFailure(
            "message queue", "leaving its thread",
            "destroyed on another thread: the owner thread keeps the closed queue as its current one");
        return;
    }
    gCurrentQueue = std::move(FPrevious);
}

// The loop's queue. Post() may come from any thread; everything else is called by the loop on its owner
// thread.
class TMessageLoop::TQueue final : public IMessageQueue
{
public:
    bool Post(std::function<void()> call) override
    {
        {
            std::lock_guard lock(FLock);
            if (FClosed)
                return false;
            FCalls.push_back(std::move(call));
        }
        // Only the owner thread ever waits.
        FArrived.notify_one();
        return true;
    }

    [[nodiscard]] std::size_t Size()
    {
        std::lock_guard lock(FLock);
        return FCalls.size();
    }

    [[nodiscard]] std::optional<std::function<void()>> TakeNext()
    {
        std::lock_guard lock(FLock);
        if (FCalls.empty())
            return std::nullopt;
        std::function<void()> call = std::move(FCalls.front());
        FCalls.pop_front();
        return call;
    }

    // Whether a call is queued by the deadline; without one, waits as long as it takes.
    [[nodiscard]] bool WaitForCall(std::optional<std::chrono::steady_clock::time_point> deadline)
    {
        std::unique_lock lock(FLock);
        auto queued = [this] { return !FCalls.empty(); };
        if (!deadline)
        {
            FArrived.wait(lock, queued);
            return true;
        }
        return FArrived.wait_until(lock, *deadline, queued);
    }

    // Refuses every later post and hands back what was queued, for the caller to drop outside the lock: a
    // dropped call may release the last reference to a window, and with it to this queue.
    [[nodiscard]] std::deque<std::function<void()>> Close()
    {
        std::lock_guard lock(FLock);
        FClosed = true;
        return std::exchange(FCalls, {});
    }
private:
    std::mutex FLock;
    std::condition_variable FArrived;
    std::deque<std::function<void()>> FCalls;   // guarded by FLock
    bool FClosed = false;                       // guarded by FLock
};

TMessageLoop::TMessageLoop() : FQueue(std::make_shared<TQueue>()), FScope(FQueue) {}

TMessageLoop::~TMessageLoop()
{
    std::deque<std::function<void()>> dropped = FQueue->Close();
}

std::size_t TMessageLoop::ProcessPending()
{
    CheckOwner("ProcessPending");
    // Counted first, so that a call that posts again cannot keep this round going forever. One at a time,
    // so that a round nested in a call goes on with the next call in posting order.
    const std::size_t due = FQueue->Size();
    std::size_t ran = 0;
    while (ran < due)
    {
        std::optional<std::function<void()>> call = FQueue->TakeNext();
        if (!call)
            break;   // a nested round ran the rest
        RunPostedCall(*call);
        ++ran;
    }
    return ran;
}

std::size_t TMessageLoop::WaitAndProcess(std::chrono::milliseconds timeout)
{
    CheckOwner("WaitAndProcess");
    if (!FQueue->WaitForCall(DeadlineAfter(timeout)))
        return 0;
    return ProcessPending();
}

bool TMessageLoop::RunUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout)
{
    CheckOwner("RunUntil");
    const std::optional<std::chrono::steady_clock::time_point> deadline = DeadlineAfter(timeout);
    while (!predicate())
    {
        if (!FQueue->WaitForCall(deadline))
            return predicate();
        ProcessPending();
    }
    return true;
}

void TMessageLoop::CheckOwner(const char* operation) const
{
    if (std::this_thread::get_id() != FScope.Owner())
        throw std::logic_error(std::string("message loop: ") + operation +
                               " called on a thread that does not own the loop");
}

struct TMessageWindow::TState
{
    TState(THandle handle, THandler handler, std::shared_ptr<IMessageQueue> queue)
        : Handle(handle), Handler(std::move(handler)), Queue(std::move(queue))
    {
    }

    // Runs as a queued call on the owner thread.
    void Deliver(const TMessage& message) noexcept
    {
        // Checked when the message's turn comes, not when it was posted: what was queued before the window
        // went away goes nowhere.
        if (!Alive.load(std::memory_order_acquire))
            return;
        try
        {
            Handler(message);
        }
        catch (...)
        {
            ReportCurrentException([this] { return "message window " + std::to_string(Handle); },
                                   [&] { return "message " + std::to_string(message.Msg); });
        }
    }

    const THandle Handle;
    const THandler Handler;   // called on the owner thread only
    const std::shared_ptr<IMessageQueue> Queue;
    std::atomic<bool> Alive{true};   // cleared by the window's destructor
};

// Which live window a handle names. Its lock is a leaf, held only to look up, add or remove: posting happens
// after it is left.
class TMessageWindow::TRegistry
{
public:
    static void Add(const std::shared_ptr<TState>& state)
    {
        TRegistry& registry = Instance();
        std::lock_guard lock(registry.FLock);
        registry.FWindows.emplace(state->Handle, state);
    }

    static void Remove(THandle handle)
    {
        TRegistry& registry = Instance();
        std::lock_guard lock(registry.FLock);
        registry.FWindows.erase(handle);
    }

    [[nodiscard]] static std::shared_ptr<TState> Find(THandle handle)
    {
        TRegistry& registry = Instance();
        std::lock_guard lock(registry.FLock);
        auto found = registry.FWindows.find(handle);
        return found == registry.FWindows.end() ? nullptr : found->second;
    }
private:
    static TRegistry& Instance()
    {
        // Never destroyed: a window of a thread still running at exit may go away after static destruction.
        static TRegistry* const registry = new TRegistry();
        return *registry;
    }

    std::mutex FLock;
    std::unordered_map<THandle, std::shared_ptr<TState>> FWindows;   // guarded by FLock
};

TMessageWindow::TMessageWindow(THandler handler)
{
    if (!handler)
        throw std::invalid_argument("message window: the handler is empty");
    std::shared_ptr<IMessageQueue> queue = CurrentMessageQueue();
    if (!queue)
        throw std::logic_error("message window: the thread that makes it has no message queue "
                               "(make a TMessageLoop or a TQtMessageQueue on it first)");
    FState = std::make_shared<TState>(NextHandle(), std::move(handler), std::move(queue));
    TRegistry::Add(FState);
}

TMessageWindow::~TMessageWindow()
{
    TRegistry::Remove(FState->Handle);
    FState->Alive.store(false, std::memory_order_release);
}

TMessageWindow::THandle TMessageWindow::Handle() const noexcept
{
    return FState->Handle;
}

bool TMessageWindow::Post(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) const
{
    return PostTo(FState, TMessage{msg, wParam, lParam});
}

bool TMessageWindow::PostTo(const std::shared_ptr<TState>& state, const TMessage& message)
{
    // The call keeps the state, so a handler that destroys its window still runs to its end.
    return state->Queue->Post([state, message] { state->Deliver(message); });
}

bool PostMessageTo(TMessageWindow::THandle handle, std::uint32_t msg, std::uintptr_t wParam,
                   std::intptr_t lParam)
{
    if (handle == 0)
        return false;
    std::shared_ptr<TMessageWindow::TState> state = TMessageWindow::TRegistry::Find(handle);
    return state != nullptr && TMessageWindow::PostTo(state, TMessage{msg, wParam, lParam});
}

}   // namespace harvolin
