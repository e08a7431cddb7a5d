#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace harvolin
{

// A window message in the platform's shape: the graph's event notice is Msg 1025 with both parameters 0.
struct TMessage
{
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;

    friend bool operator==(const TMessage&, const TMessage&) = default;
};

// The queue of calls that one thread runs later: the plain loop (TMessageLoop) in tests and tools, Qt's event
// loop in the program. Implementations are shared (std::shared_ptr), so a thread that is inside Post() keeps
// the queue alive while its owner goes away.
class IMessageQueue
{
public:
    virtual ~IMessageQueue() = default;

    // Any thread. Queues call to run later on the queue's thread, after every call queued before it, and
    // returns true; never runs it at once, and never waits for the owner thread (at most a short internal
    // lock). Returns false and drops call once the queue is closed (its owner is gone), as posting to a
    // thread whose loop has ended.
    [[nodiscard]] virtual bool Post(std::function<void()> call) = 0;
};

// The calling thread's queue, null when it has none: the one a message window made on this thread binds to.
[[nodiscard]] std::shared_ptr<IMessageQueue> CurrentMessageQueue() noexcept;

// Runs one queued call on the queue's thread. What it throws is reported to the diagnostics sink as
// "message queue" / "posted call" and goes no further, so the loop goes on; message windows catch and report
// their handlers' failures themselves, with the window's name.
void RunPostedCall(const std::function<void()>& call) noexcept;

// Makes queue the current queue of the thread that makes this scope and puts back the previous one on
// destruction, which must happen on the same thread and in reverse order of making (scopes nest). A scope
// destroyed on another thread cannot reach its own thread's slot: it reports that and changes nothing.
class TMessageQueueScope
{
public:
    explicit TMessageQueueScope(std::shared_ptr<IMessageQueue> queue);
    TMessageQueueScope(const TMessageQueueScope&) = delete;
    TMessageQueueScope& operator=(const TMessageQueueScope&) = delete;
    ~TMessageQueueScope();

    // The thread whose current queue this scope set.
    [[nodiscard]] std::thread::id Owner() const noexcept { return FOwner; }
private:
    const std::thread::id FOwner;
    std::shared_ptr<IMessageQueue> FPrevious;
};

// The plain loop of tests and tools. For its lifetime it is the current queue of the thread that made it (the
// owner), and calls posted to it run when the owner asks: ProcessPending(), WaitAndProcess() or RunUntil().
// Those three, and the destructor, belong to the owner thread: from any other thread they raise
// std::logic_error (the destructor reports instead). They run the calls without any lock held, so a call may
// post more, make and destroy windows, or process the loop again (nested processing keeps posting order).
// A call must not destroy the loop itself.
// Destruction closes the queue: calls still queued are dropped unrun and later posts return false.
class TMessageLoop
{
public:
    TMessageLoop();
    TMessageLoop(const TMessageLoop&) = delete;
    TMessageLoop& operator=(const TMessageLoop&) = delete;
    ~TMessageLoop();

    // Runs the calls queued at the moment of the call (those they post wait for the next round) and returns
    // how many ran. Never blocks.
    std::size_t ProcessPending();
    // Blocks up to timeout (no limit for a huge one, no wait for a negative one) until at least one call is
    // queued, then runs what is queued as ProcessPending(); returns how many ran, 0 when the time ran out.
    std::size_t WaitAndProcess(std::chrono::milliseconds timeout);
    // Runs calls as they come until predicate (checked on the owner thread before and after each round) holds
    // or timeout has passed; returns the predicate's last answer.
    bool RunUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout);
private:
    class TQueue;

    void CheckOwner(const char* operation) const;

    std::shared_ptr<TQueue> FQueue;
    TMessageQueueScope FScope;   // after FQueue: installs it
};

// A window that only receives posted messages, in place of the platform's hidden window.
//
// Threads: made on a thread that has a current queue (see CurrentMessageQueue()) and bound to that queue for
// life; the handler runs only there, one message at a time, in posting order. Post() and PostMessageTo() are
// for any thread and never wait for the owner. The handler may post more, destroy its own window (the call
// under way finishes; the rest of its queue is dropped) or throw: what it throws is reported to the
// diagnostics sink as "message window <handle>" / "message <msg>", and later messages run as usual.
//
// Lifetime: destruction waits for nothing. Messages still queued for the window are dropped when their turn
// comes, and the handle stops reaching it at once. Destroy the window on its owner thread to know that no
// handler call is under way when the destructor returns; from another thread a call already running finishes
// on its own, so whatever the handler uses must outlive it.
class TMessageWindow
{
public:
    // Usable as the platform's window handle (OAHWND): never 0 for a live window, never reused.
    using THandle = std::uintptr_t;
    using THandler = std::function<void(const TMessage&)>;

    // Raises std::logic_error when the calling thread has no message queue, std::invalid_argument for an
    // empty handler.
    explicit TMessageWindow(THandler handler);
    TMessageWindow(const TMessageWindow&) = delete;
    TMessageWindow& operator=(const TMessageWindow&) = delete;
    ~TMessageWindow();

    [[nodiscard]] THandle Handle() const noexcept;
    // Any thread. Queues the message on the owner's queue and returns true; false (nothing queued) once that
    // queue is closed.
    bool Post(std::uint32_t msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0) const;
private:
    struct TState;
    class TRegistry;
    friend bool PostMessageTo(THandle handle, std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam);

    static bool PostTo(const std::shared_ptr<TState>& state, const TMessage& message);

    std::shared_ptr<TState> FState;   // shared with the queued calls and the handle registry
};

// Any thread. Posts to the live window with that handle, as TMessageWindow::Post(). Returns false and calls
// nothing for 0, a handle never given out or one whose window is destroyed. A window destroyed while this
// runs on another thread may still get true here; the message is then dropped.
bool PostMessageTo(TMessageWindow::THandle handle, std::uint32_t msg, std::uintptr_t wParam = 0,
                   std::intptr_t lParam = 0);

}   // namespace harvolin
