#pragma once
#include "audioout/DSCaptureDevice.h"
#include "media/FilterGraph.h"
#include "pins/OWLockGroups.h"
#include "rtl/MessageWindow.h"
#include "rtl/Persistent.h"
#include "rtl/RefCount.h"
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace harvolin
{

class TComponent;

// Error hook: a handler that sets handled suppresses the EDSException.
using TDSErrorEvent = std::function<void(TComponent* sender, const std::string& errorText,
                                         std::int32_t errorCode, bool& handled)>;
using TDSWarningEvent =
    std::function<void(TComponent* sender, const std::string& errorText, std::int32_t errorCode)>;
using TDSNotifyEvent = std::function<void(TComponent* sender)>;
// The owner's view of every graph event, called before the event's own notify event.
using TDSGraphEventCallback =
    std::function<void(std::int32_t code, std::intptr_t param1, std::intptr_t param2)>;
// Sees the hidden window's messages other than the graph's event notice.
using TDSMessageHook = std::function<void(const TMessage& message)>;

// The message the graph posts to the hidden window when an event is queued.
inline constexpr std::uint32_t kDSGraphEventMessage = 1025;
// The running object table's item name for an active graph: its interface pointer and the process id.
inline constexpr char kDSGraphRotNameFormat[] = "FilterGraph %8p pid %8x";
inline constexpr char kDSCannotBuildGraph[] = "Can't build DirectShow graph.";

// The audio output's graph options and the platform work behind them: makes the filter graph, adds the
// extra filters, registers the active graph in the running object table on request, pumps the graph's
// events through a hidden window and reports errors (OnError, else EDSException).
//
// Threads: made and destroyed on one thread that has a message queue (the window thread); the hidden window
// belongs to it, so graph events are handled there, one at a time, under a write-lock section of the owner's
// input pin, which serialises them with the owner's operation processing. The locked event setters take the
// same section. The other operations run on the thread that builds and releases the graph (the owner's),
// which must not hold the input pin's group lock while it waits for the window thread. Construction raises
// std::logic_error when the calling thread has no message queue.
class TDSGraph : public TPersistent
{
public:
    // owner is the sender of the events; inputPin (the owner's input pin) is the lock. Both outlive this
    // object.
    TDSGraph(TComponent* owner, TOWObject* inputPin);
    ~TDSGraph() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    // Copies Register and the additional filters of another TDSGraph; handlers and the graph stay as they
    // are.
    void Assign(const TPersistent& source) override;

    // The filters added to every graph built.
    [[nodiscard]] TDSFilterItems& AdditionalFilters() noexcept { return FAdditionalFilters; }
    [[nodiscard]] const TDSFilterItems& AdditionalFilters() const noexcept { return FAdditionalFilters; }
    // Copies the items.
    void SetAdditionalFilters(const TDSFilterItems& filters) { FAdditionalFilters.Assign(filters); }
    [[nodiscard]] bool Register() const noexcept { return FRegister; }
    // While active, registers (false to true) or revokes (true to false) at once.
    void SetRegister(bool value);

    [[nodiscard]] TDSErrorEvent OnError() const;
    void SetOnError(TDSErrorEvent handler);
    [[nodiscard]] TDSWarningEvent OnWarning() const;
    void SetOnWarning(TDSWarningEvent handler);
    [[nodiscard]] TDSNotifyEvent OnGraphBuilt() const;
    void SetOnGraphBuilt(TDSNotifyEvent handler);
    // Plain fields: set them before events can arrive.
    TDSNotifyEvent OnDeviceLost;
    TDSNotifyEvent OnAborted;
    TDSNotifyEvent OnStarvation;

    // The owner's hooks; set before events can arrive.
    void SetGraphEventCallback(TDSGraphEventCallback callback) { FGraphEventCallback = std::move(callback); }
    void SetMessageHook(TDSMessageHook hook) { FMessageHook = std::move(hook); }

    // Makes the filter graph unless one is held. On failure reports kDSCannotBuildGraph with the code
    // (ReportError: may raise EDSException) and returns false.
    bool CreateFilterGraph();
    // Adds every additional filter under FilterName + "(Additional <i+1>)"; tries them all and returns
    // whether all went in. An item naming "None", or one whose stored display name is not in the listing of
    // every registered filter, fails.
    bool AddAdditionalFilters();
    // Registers the graph in the running object table when Register is set; failures are not errors.
    void Activate();
    void Deactivate();
    // Sends the graph's event notices to the hidden window; false when the graph has no event interface.
    bool EnableEvents();
    // Drops the event interface and the graph (the owner's release step). Deactivate first.
    void ReleaseFilterGraph();
    // Calls OnError; raises EDSException "<text> - <code unsigned> - <code hex>" unless a handler handled it.
    void ReportError(const std::string& text, std::int32_t code);

    [[nodiscard]] const TRefPtr<IGraphBuilder>& FilterGraph() const noexcept { return FFilterGraph; }
    [[nodiscard]] bool Active() const noexcept { return FActive; }
    [[nodiscard]] TMessageWindow::THandle WindowHandle() const noexcept { return FWindow->Handle(); }
private:
    // Runs call under a write-lock section of the input pin: the lock of the handlers that the owner's
    // operation processing calls.
    template <class F>
    auto Locked(F call) const
    {
        const TRefPtr<IOWLockSection> section = FInputPin->GetWriteLockSection();
        return call();
    }
    void RegisterInTable();
    void RevokeFromTable();
    void HandleMessage(const TMessage& message);
    void PumpEvents();
    [[nodiscard]] bool AddFilter(const TDSFilterItem& item, std::size_t index);

    bool FRegister = false;
    TComponent* FOwner;
    std::uint32_t FRotCookie = 0;   // 0 while not registered
    bool FActive = false;
    TDSFilterItems FAdditionalFilters;
    TDSErrorEvent FOnError;         // guarded by the input pin's write-lock section
    TDSWarningEvent FOnWarning;     // guarded by the input pin's write-lock section
    TDSNotifyEvent FOnGraphBuilt;   // guarded by the input pin's write-lock section
    TOWObject* FInputPin;
    bool FComInitialized = false;
    std::unique_ptr<TMessageWindow> FWindow;
    TDSGraphEventCallback FGraphEventCallback;
    TDSMessageHook FMessageHook;
    TRefPtr<IGraphBuilder> FFilterGraph;
    TRefPtr<IMediaEventEx> FMediaEvent;
};

}   // namespace harvolin
