#pragma once
#include <atomic>
#include <chrono>
#include <concepts>
#include <cstdint>
#include <exception>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace harvolin
{

// One failure that was caught and survived: who failed, at what, and why.
struct TDiagnostic
{
    std::string Object;    // "SLSignalGen1.OutputPin", "clock 10 ms", "periodic timer"
    std::string Action;    // "delivering to ALRealToAudio1.InputPins.Pin [0]", "clock callback"
    std::string Message;   // the exception's what(), or "an unknown exception"
    // Identical reports (same object, action and message) held back since this failure last reached the
    // handler.
    std::uint64_t Repeats = 0;

    friend bool operator==(const TDiagnostic&, const TDiagnostic&) = default;
};
// As FormatDiagnostic writes it; lets tests compare and print whole reports.
std::ostream& operator<<(std::ostream& stream, const TDiagnostic& diagnostic);

// Receives the reports that pass the limits. Called on the reporting thread (a clock thread, the timer's
// thread, the window thread), without any of the sink's locks held, possibly by several threads at once:
// it must be thread-safe itself, should be quick, and must not touch widgets; a handler that wants the
// window thread posts there. It may report (the report is counted and limited like any other) and may
// install another handler. What it throws is caught and counted (HandlerFailures()).
using TDiagnosticHandler = std::function<void(const TDiagnostic&)>;

// "object: action: message", plus " (repeated N times)" when repeats were held back.
[[nodiscard]] std::string FormatDiagnostic(const TDiagnostic& diagnostic);
// The handler a program starts with: one line "harvolin: <FormatDiagnostic>" to standard error, written with
// a single call so that lines of different threads do not interleave. No log file.
void WriteDiagnosticToStderr(const TDiagnostic& diagnostic) noexcept;

// Where every failure that is caught and survived is reported: a failing sink on the data path, a clock or
// timer callback that threw, a control's event handler, a thread body.
//
// Limits, so that a failure on every block (100 a second) floods nothing:
//  - a distinct failure (same object, action and message) reaches the handler at once the first time; its
//    repeats within kRepeatWindow of the last delivery are held back and counted, and the first repeat after
//    the window is delivered carrying that count (Repeats). A burst that stops inside the window is known
//    only by the counts below.
//  - across all failures, at most kMaxDeliveriesPerWindow handler calls in each kRepeatWindow (a message with
//    a changing number in it makes a new distinct failure each time). A failure held back by this ceiling
//    is counted as a repeat of its kind and delivered with the next occurrence that the limits let through.
//  - at most kMaxTrackedFailures distinct failures are remembered for the repeat window; beyond that, ones
//    whose window has passed with nothing held back are forgotten, and a failure that still finds no room is
//    delivered untracked (the ceiling still applies).
//
// Counting: every report counts, delivered or not, per object (Count) and in total (Total). The total is an
// atomic counter raised before anything that could fail; when memory runs out, the per-object count and the
// delivery of that report may be lost, never the total.
//
// Threads and locks: Report() may be called from any thread, the 10-ms clock thread included; it takes the
// sink's one mutex (a leaf: nothing else is taken while it is held) only for the bookkeeping above, never
// for I/O or for the handler, and never throws. The clock is read before the lock is taken.
class TDiagnosticSink
{
public:
    using TTime = std::chrono::steady_clock::time_point;
    using TClock = std::function<TTime()>;

    static constexpr std::chrono::milliseconds kRepeatWindow{1000};
    static constexpr std::uint32_t kMaxDeliveriesPerWindow = 20;
    static constexpr std::size_t kMaxTrackedFailures = 512;

    // clock: the time the limits go by (steady_clock when empty); tests pass their own to step it by hand.
    explicit TDiagnosticSink(TClock clock = {});
    TDiagnosticSink(const TDiagnosticSink&) = delete;
    TDiagnosticSink& operator=(const TDiagnosticSink&) = delete;

    // Installs handler (an empty one: reports are only counted) and returns the previous one. A call of the
    // previous handler already under way on another thread may still finish after this returns.
    TDiagnosticHandler SetHandler(TDiagnosticHandler handler);
    void Report(std::string_view object, std::string_view action, std::string_view message) noexcept;

    // Reports made for object since construction or the last Reset(), delivered or held back.
    [[nodiscard]] std::uint64_t Count(std::string_view object) const;
    [[nodiscard]] std::uint64_t Total() const noexcept;
    // Reports that reached no handler: held back by the limits.
    [[nodiscard]] std::uint64_t HeldBack() const noexcept;
    // Exceptions that handlers threw.
    [[nodiscard]] std::uint64_t HandlerFailures() const noexcept;
    // Forgets every count and every failure seen, so the next report of any kind passes again. For tests;
    // the handler stays.
    void Reset();
private:
    struct TTracked
    {
        TTime LastDelivered{};
        bool Delivered = false;
        std::uint64_t Held = 0;
    };
    [[nodiscard]] TTracked* Track(const std::string& key, TTime now);   // FLock held

    const TClock FClock;
    std::atomic<std::uint64_t> FTotal{0};
    std::atomic<std::uint64_t> FHeldBack{0};
    std::atomic<std::uint64_t> FHandlerFailures{0};
    mutable std::mutex FLock;
    // Shared so that a report can call it outside FLock while another thread installs a new one.
    std::shared_ptr<const TDiagnosticHandler> FHandler;          // guarded by FLock
    std::map<std::string, std::uint64_t, std::less<>> FCounts;   // guarded by FLock
    std::unordered_map<std::string, TTracked> FTracked;          // guarded by FLock
    TTime FCeilingStart{};                                       // guarded by FLock
    std::uint32_t FCeilingCount = 0;                             // guarded by FLock
};

// The process-wide sink, with WriteDiagnosticToStderr installed. Lives until the process ends, so threads
// still running at exit may report.
[[nodiscard]] TDiagnosticSink& Diagnostics() noexcept;
// Installs handler on the process-wide sink and returns the previous one (see TDiagnosticSink::SetHandler).
TDiagnosticHandler SetDiagnosticHandler(TDiagnosticHandler handler);
// Reports to the process-wide sink.
void ReportFailure(std::string_view object, std::string_view action, std::string_view message) noexcept;

// The message of failure: what() of a std::exception, else "an unknown exception". Valid while failure is.
[[nodiscard]] std::string_view ExceptionMessage(const std::exception_ptr& failure) noexcept;

// For a catch block: reports the exception being handled to the process-wide sink.
//   catch (...) { ReportCurrentException("periodic timer", "timer callback"); }
void ReportCurrentException(std::string_view object, std::string_view action) noexcept;

// The same with the names built only now, on the failure path: object and action are callables returning
// the text. A name that cannot be built (it threw, memory ran out) becomes "(unnamed)"; the report is made
// all the same.
template <class TObjectName, class TActionName>
requires std::invocable<TObjectName&> && std::invocable<TActionName&>
void ReportCurrentException(TObjectName&& object, TActionName&& action) noexcept
{
    const std::exception_ptr failure = std::current_exception();
    std::string objectText;
    std::string actionText;
    std::string_view objectName = "(unnamed)";
    std::string_view actionName = "(unnamed)";
    try
    {
        objectText = object();
        objectName = objectText;
    }
    catch (...)
    {
    }
    try
    {
        actionText = action();
        actionName = actionText;
    }
    catch (...)
    {
    }
    ReportFailure(objectName, actionName, ExceptionMessage(failure));
}

// For tests: while alive, the process-wide sink starts afresh (Reset) and every report that reaches the
// handler is recorded here instead of going to the previous handler, which is put back on destruction.
// Reports made by threads that outlive the capture are recorded harmlessly (the record is shared).
class TDiagnosticCapture
{
public:
    TDiagnosticCapture();
    TDiagnosticCapture(const TDiagnosticCapture&) = delete;
    TDiagnosticCapture& operator=(const TDiagnosticCapture&) = delete;
    ~TDiagnosticCapture();

    // A copy of the reports delivered so far, in the order they arrived.
    [[nodiscard]] std::vector<TDiagnostic> Delivered() const;
    // Counts of the process-wide sink: every report for object, delivered or not.
    [[nodiscard]] std::uint64_t Count(std::string_view object) const;
private:
    struct TRecord
    {
        mutable std::mutex Lock;
        std::vector<TDiagnostic> Delivered;   // guarded by Lock
    };
    std::shared_ptr<TRecord> FRecord;
    TDiagnosticHandler FPrevious;
};

}   // namespace harvolin
