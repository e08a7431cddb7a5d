#include "rtl/Diagnostics.h"
#include <cstdio>
#include <ostream>
#include <utility>

namespace harvolin
{
namespace
{

// Object, action and message can hold any text; the separator only has to be unlikely in all three.
std::string FailureKey(std::string_view object, std::string_view action, std::string_view message)
{
    std::string key;
    key.reserve(object.size() + action.size() + message.size() + 2);
    key.append(object).append(1, '\x1f').append(action).append(1, '\x1f').append(message);
    return key;
}

}   // namespace

std::string FormatDiagnostic(const TDiagnostic& diagnostic)
{
    std::string line = diagnostic.Object + ": " + diagnostic.Action + ": " + diagnostic.Message;
    if (diagnostic.Repeats > 0)
        line += " (repeated " + std::to_string(diagnostic.Repeats) + " times)";
    return line;
}

std::ostream& operator<<(std::ostream& stream, const TDiagnostic& diagnostic)
{
    return stream << FormatDiagnostic(diagnostic);
}

void WriteDiagnosticToStderr(const TDiagnostic& diagnostic) noexcept
{
    try
    {
        const std::string line = "harvolin: " + FormatDiagnostic(diagnostic) + "\n";
        (void)std::fwrite(line.data(), 1, line.size(), stderr);
    }
    catch (...)
    {
        // No memory for the line: the report is counted all the same, and there is nothing left to tell with.
    }
}

TDiagnosticSink::TDiagnosticSink(TClock clock) : FClock(std::move(clock)) {}

TDiagnosticHandler TDiagnosticSink::SetHandler(TDiagnosticHandler handler)
{
    auto next = handler ? std::make_shared<const TDiagnosticHandler>(std::move(handler)) : nullptr;
    std::shared_ptr<const TDiagnosticHandler> previous;
    {
        std::lock_guard lock(FLock);
        previous = std::exchange(FHandler, std::move(next));
    }
    return previous ? *previous : TDiagnosticHandler{};
}

void TDiagnosticSink::Report(std::string_view object, std::string_view action,
                             std::string_view message) noexcept
{
    FTotal.fetch_add(1, std::memory_order_relaxed);
    std::shared_ptr<const TDiagnosticHandler> handler;
    std::uint64_t repeats = 0;
    try
    {
        const TTime now = FClock ? FClock() : std::chrono::steady_clock::now();
        const std::string key = FailureKey(object, action, message);
        std::lock_guard lock(FLock);
        auto count = FCounts.find(object);
        if (count == FCounts.end())
            count = FCounts.emplace(std::string(object), 0).first;
        ++count->second;

        TTracked* tracked = Track(key, now);
        if (tracked != nullptr && tracked->Delivered && now - tracked->LastDelivered < kRepeatWindow)
        {
            ++tracked->Held;
            FHeldBack.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        if (FCeilingCount == 0 || now - FCeilingStart >= kRepeatWindow)
        {
            FCeilingStart = now;
            FCeilingCount = 0;
        }
        if (FCeilingCount >= kMaxDeliveriesPerWindow)
        {
            // Not marked delivered: the next occurrence goes through as soon as the ceiling allows.
            if (tracked != nullptr)
                ++tracked->Held;
            FHeldBack.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        ++FCeilingCount;
        if (tracked != nullptr)
        {
            tracked->Delivered = true;
            tracked->LastDelivered = now;
            repeats = std::exchange(tracked->Held, 0);
        }
        handler = FHandler;
    }
    catch (...)
    {
        // Out of memory for the bookkeeping: the total has counted the report; nothing else can be done.
        return;
    }
    if (!handler)
        return;
    try
    {
        (*handler)(TDiagnostic{std::string(object), std::string(action), std::string(message), repeats});
    }
    catch (...)
    {
        FHandlerFailures.fetch_add(1, std::memory_order_relaxed);
    }
}

TDiagnosticSink::TTracked* TDiagnosticSink::Track(const std::string& key, TTime now)
{
    if (auto found = FTracked.find(key); found != FTracked.end())
        return &found->second;
    if (FTracked.size() >= kMaxTrackedFailures)
    {
        // Forgetting a failure whose window has passed with nothing held back changes nothing: its next
        // occurrence would be delivered anyway.
        std::erase_if(FTracked,
                      [&](const auto& entry)
                      {
                          const TTracked& tracked = entry.second;
                          return tracked.Held == 0 &&
                                 (!tracked.Delivered || now - tracked.LastDelivered >= kRepeatWindow);
                      });
        if (FTracked.size() >= kMaxTrackedFailures)
            return nullptr;
    }
    return &FTracked.emplace(key, TTracked{}).first->second;
}

std::uint64_t TDiagnosticSink::Count(std::string_view object) const
{
    std::lock_guard lock(FLock);
    const auto count = FCounts.find(object);
    return count == FCounts.end() ? 0 : count->second;
}

std::uint64_t TDiagnosticSink::Total() const noexcept
{
    return FTotal.load(std::memory_order_relaxed);
}

std::uint64_t TDiagnosticSink::HeldBack() const noexcept
{
    return FHeldBack.load(std::memory_order_relaxed);
}

std::uint64_t TDiagnosticSink::HandlerFailures() const noexcept
{
    return FHandlerFailures.load(std::memory_order_relaxed);
}

void TDiagnosticSink::Reset()
{
    std::lock_guard lock(FLock);
    FCounts.clear();
    FTracked.clear();
    FCeilingCount = 0;
    FTotal.store(0, std::memory_order_relaxed);
    FHeldBack.store(0, std::memory_order_relaxed);
    FHandlerFailures.store(0, std::memory_order_relaxed);
}

TDiagnosticSink& Diagnostics() noexcept
{
    // Never destroyed: a detached thread or a static's destructor may still report at exit.
    static TDiagnosticSink* const sink = []
    {
        auto* made = new TDiagnosticSink();
        made->SetHandler(&WriteDiagnosticToStderr);
        return made;
    }();
    return *sink;
}

TDiagnosticHandler SetDiagnosticHandler(TDiagnosticHandler handler)
{
    return Diagnostics().SetHandler(std::move(handler));
}

void ReportFailure(std::string_view object, std::string_view action, std::string_view message) noexcept
{
    Diagnostics().Report(object, action, message);
}

std::string_view ExceptionMessage(const std::exception_ptr& failure) noexcept
{
    if (failure)
    {
        try
        {
            std::rethrow_exception(failure);
        }
        catch (const std::exception& error)
        {
            return error.what();
        }
        catch (...)
        {
        }
    }
    return "an unknown exception";
}

void ReportCurrentException(std::string_view object, std::string_view action) noexcept
{
    const std::exception_ptr failure = std::current_exception();
    ReportFailure(object, action, ExceptionMessage(failure));
}

TDiagnosticCapture::TDiagnosticCapture() : FRecord(std::make_shared<TRecord>())
{
    Diagnostics().Reset();
    FPrevious = SetDiagnosticHandler(
        [record = FRecord](const TDiagnostic& diagnostic)
        {
            std::lock_guard lock(record->Lock);
            record->Delivered.push_back(diagnostic);
        });
}

TDiagnosticCapture::~TDiagnosticCapture()
{
    (void)SetDiagnosticHandler(std::move(FPrevious));
}

std::vector<TDiagnostic> TDiagnosticCapture::Delivered() const
{
    std::lock_guard lock(FRecord->Lock);
    return FRecord->Delivered;
}

std::uint64_t TDiagnosticCapture::Count(std::string_view object) const
{
    return Diagnostics().Count(object);
}

}   // namespace harvolin
