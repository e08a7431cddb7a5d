#pragma once
#include "audioout/ALDSOutputDevice.h"
#include "audioout/DSBaseClass.h"
#include "audioout/DSGraphProperty.h"
#include "audioout/DSSources.h"
#include "buffers/ALSimpleAudioBuffer.h"
#include "gen/SLClockGen.h"
#include "media/CaptureGraphBuilder.h"
#include "media/FilterGraph.h"
#include "pins/ALStreamTypes.h"
#include "pins/OWStdTypes.h"
#include "pins/SLMultiInput.h"
#include "rtl/Component.h"
#include "rtl/Threads.h"
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace harvolin
{

class TALDSAudioOut;

// The player: a thread at the highest normal priority that drains the audio output's play queue into the
// graph each time it is woken. The gate (manual reset, open at first) lets StopPlayback hold it between two
// drains: closing the gate waits for the drain under way, and no drain starts while it is closed.
class TALPlayerThread final
{
public:
    explicit TALPlayerThread(TALDSAudioOut& owner);
    TALPlayerThread(const TALPlayerThread&) = delete;
    TALPlayerThread& operator=(const TALPlayerThread&) = delete;
    // Marks the thread terminated, wakes it and opens its gate, and waits for its finished event. The caller
    // makes sure no delivery is stuck in the graph (StopPlayback stops the graph when one is).
    ~TALPlayerThread();

    // Any thread. Coalesces: one wake runs one whole drain.
    void Wake() { FDataEvent.Set(); }
    // Waits up to patience for the drain under way to end, then keeps the player from starting another
    // until OpenGate(). False, with the gate left open, when the drain did not end in time: a delivery stuck
    // in a device that stopped taking samples cannot hold StopPlayback for ever.
    [[nodiscard]] bool CloseGate(std::chrono::milliseconds patience);
    void OpenGate();
private:
    void Run();

    TALDSAudioOut& FOwner;
    TEvent FFinishedEvent{TEventMode::AutoReset};
    TEvent FDataEvent{TEventMode::AutoReset};
    TEvent FGateEvent{TEventMode::ManualReset, true};
    std::mutex FDrainLock;   // a leaf; never held while a block is delivered
    std::condition_variable FDrainEnded;
    bool FDraining = false;   // guarded by FDrainLock
    bool FGateOpen = true;    // guarded by FDrainLock; FGateEvent follows it
    std::atomic<bool> FTerminated{false};
    std::unique_ptr<TThread> FThread;   // last: started once everything above exists
};

// The last component of the pipeline: plays the audio stream arriving at InputPin on a sound device through
// a filter graph of the media layer (the program's source filter, the chosen renderer).
//
// Threads:
//  - operations arrive on the sender's thread with the chain's lock group held (start and stop on the
//    window thread, blocks on the generator's clock thread) and are processed under a write-lock section of
//    InputPin, one at a time; every graph-control step runs there;
//  - the player thread delivers queued blocks into the graph (PlayQueuedBuffers, DeliverBuffer) and takes
//    no lock of the chain: only the queue lock, the stream lock and its own drain lock;
//  - the clock thread runs PumpTick, in pump-master mode only;
//  - the window thread (the one that made the component; the graph object's hidden window is bound to it)
//    sets properties, destroys the component and handles graph events and posted failures.
// Lock order: GlobalLock, the chain's group (InputPin's section), the player's drain lock, then the queue
// lock and the stream lock (leaves, never held together or across a call that blocks). The player takes no
// lock of the pin framework, so nothing it waits for can wait for GlobalLock.
//
// The bounded play queue. The generator's clock makes 1024 frames every 10 ms, 2.4 % more than the device
// plays at 100 000 frames a second, so an unbounded queue would fill by 24 ms of sound every second. The
// queue holds at most kPlayQueueCapacity blocks, and production keeps the device's pace by skipping ticks:
// before each block of its own clock the generator asks downstream (TOWRoomQueryOperation) and skips the
// tick while the queue is full. Nothing waits under the chain's lock, so the window thread's property
// changes and Stop wait for one short tick at most, and the clock thread never falls behind (no ticks pile
// up in its semaphore). The phase stays continuous: a skipped tick makes no block, and the next block goes on
// from the same phase. A sender that does not ask (a source of another kind, a pump request) and finds the
// queue full while the graph plays waits for the player to make room, at most kRoomPatience; a device that
// takes nothing for that long is taken as stuck and, until the player takes a block again, the oldest
// queued block is dropped for each new one without waiting (reported to the diagnostics sink), as it is
// whenever the graph is not playing. So nothing accumulates beyond the bound in any state.
// The delay from a change of the tone to hearing it is at most one tick (10 ms) + the blocks ahead in the
// queue (2 x 10.24 ms) + the block in delivery (10.24 ms) + the device's buffer (about 40 ms for the ALSA
// device and the null device), about 91 ms, and stays there for as long as the stream runs.
//
// Failures. Every failure of graph setup or control is reported with its message and the platform's result
// code through Graph's OnError (sender: this component) and, unless the handler sets Handled, as
// EDSException "<text> - <code> - <code in hex>":
//  - a step on the window thread (the start-wave while the generator is enabled, a device change) calls
//    OnError at once, on the window thread, possibly inside the chain's locks; the exception then leaves the
//    operation and the sender's delivery reports it to the diagnostics sink. A handler called there should
//    only record and post (for example a queued call that returns the window to its stopped state);
//  - a step on another thread (a resume or pump tick on the clock thread) is not raised there, where nobody
//    would see it: the failure is posted to the graph object's hidden window and OnError is called there, on
//    the window thread, outside every lock; an unhandled one goes to the diagnostics sink as the exception's
//    text;
//  - a device that is lost or a graph that aborts while playing (EC_DEVICE_LOST, EC_ERRORABORT from the
//    renderer) stops playback and, on the window thread, calls OnError with the renderer's reason and the
//    code (the event's result code, else the event code; unhandled: the diagnostics sink), then OnDeviceLost
//    or OnAborted. OnStarvation and OnGraphBuilt fire on the window thread too (OnGraphBuilt inside the
//    build's delivery).
class TALDSAudioOut final : public TComponent
{
public:
    static constexpr std::size_t kPlayQueueCapacity = 3;
    // How long a sender that did not ask for room waits for the player before the device counts as stuck.
    static constexpr std::chrono::milliseconds kRoomPatience{200};
    // How long StopPlayback waits for a drain before it stops the graph to wake the delivery under way.
    static constexpr std::chrono::milliseconds kDrainPatience{200};
    // The message that carries a failure of another thread to the window thread.
    static constexpr std::uint32_t kFailureMessage = kDSGraphEventMessage + 1;

    // Made on the window thread (it needs the thread's message queue for the graph's hidden window). No
    // player thread is made when owner is being designed.
    explicit TALDSAudioOut(TComponent* owner);
    ~TALDSAudioOut() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // Only recorded: False does not stop a running graph; every successful start sets it True.
    [[nodiscard]] bool Enabled() const noexcept { return FEnabled.load(); }
    void SetEnabled(bool value) noexcept { FEnabled.store(value); }
    // Whether the component claims the pump role from upstream; stored always.
    [[nodiscard]] bool EnableMasterPumping() const noexcept { return FEnableMasterPumping.load(); }
    void SetEnableMasterPumping(bool value) noexcept { FEnableMasterPumping.store(value); }
    // Assigning copies the given object's values into the owned one.
    [[nodiscard]] TDSAudioOutputDevice& AudioOutputDevice() noexcept { return *FAudioOutputDevice; }
    void SetAudioOutputDevice(const TDSAudioOutputDevice& device) { FAudioOutputDevice->Assign(device); }
    [[nodiscard]] TDSGraph& Graph() noexcept { return *FGraph; }
    void SetGraph(const TDSGraph& graph) { FGraph->Assign(graph); }
    // The property editor's hook, by handler name; empty while unassigned. Never called at run time.
    [[nodiscard]] const std::string& GraphHook() const noexcept { return FGraphHook; }
    void SetGraphHook(std::string name) { FGraphHook = std::move(name); }

    // What the component is doing, for the window and for tests; any thread.
    [[nodiscard]] bool Running() const noexcept { return FRunning.load(); }
    [[nodiscard]] bool FormatKnown() const noexcept { return FFormatKnown.load(); }
    [[nodiscard]] bool DeviceOpen() const noexcept { return FDeviceOpen.load(); }
    // The stop time of the last block handed on, in microseconds of the stream.
    [[nodiscard]] std::int64_t StreamPosition();
    // The buffer duration the source filter was given at the last build, in milliseconds.
    [[nodiscard]] std::uint32_t BufferDurationMs() const noexcept { return FBufferDurationMs.load(); }
    // Blocks in the play queue now, and the most it has held since the component was made.
    [[nodiscard]] std::size_t QueuedBlocks();
    [[nodiscard]] std::size_t MostQueuedBlocks();
    // Blocks dropped because the queue was full while the graph was not playing or the device was stuck.
    [[nodiscard]] std::uint64_t DroppedBlocks() const noexcept { return FDroppedBlocks.load(); }
    // Why the renderer last failed, in the system's words ("audio device 'default': snd_pcm_open: ..."); empty
    // when it did not or no renderer was made. Window thread: read inside OnError, it explains that failure.
    [[nodiscard]] std::string RendererReason() const;
    // Why the renderer plays on a stand-in for the device asked for (the default device on the null
    // renderer when no sound card could be opened); empty when it plays on that device or none was made.
    // Window thread: read in OnGraphBuilt, it tells whether the graph just built will be heard.
    [[nodiscard]] std::string RendererStandInReason() const;

    TALOWAudioSinkPin InputPin;
    TOWBoolStatePin EnablePin;
private:
    friend class TALPlayerThread;
    struct TPostedFailure
    {
        std::string Text;
        std::int32_t Code;
    };

    // Input side; the sender's thread.
    bool InputOperationArrived(const TRefPtr<TOWNotifyOperation>& operation);
    void ProcessNextOperation();
    void ProcessOperation(const TRefPtr<TOWNotifyOperation>& operation);
    void ProcessStartPump();
    void ProcessPumpRequest(TOWPumpRequestOperation& request);
    void QueueBuffer(const TRefPtr<TSLGenericBuffer>& buffer);
    [[nodiscard]] bool PlayQueueFull();
    // Player thread.
    void PlayQueuedBuffers();
    void DeliverBuffer(TALAudioBuffer& buffer);
    // Clock thread.
    void PumpTick();
    void RequestData();
    // Graph control; InputPin's section held.
    void PrepareFormat();
    bool OpenDevice();
    void CloseDevice();
    void ReopenDevice();
    bool CreateGraphBuilders();
    bool BuildGraph();
    bool BuildAndReport();
    void RouteRendererPins();
    bool StartRender();
    void PauseRender();
    void ResumeRender();
    void StopPlayback();
    void TearDownGraph();
    void ReleaseGraph();
    // Callbacks of the graph object and the device; window thread, InputPin's section held.
    void GraphEvent(std::int32_t code, std::intptr_t param1);
    void DeviceChanged();
    // Failures: ReportError raises on the window thread (unless handled) and posts from others;
    // NotifyError calls OnError and sends an unhandled failure to the diagnostics sink.
    void ReportError(const std::string& text, std::int32_t code);
    void NotifyError(const std::string& text, std::int32_t code);
    void DeliverPostedFailures();
    [[nodiscard]] bool OnWindowThread() const noexcept { return std::this_thread::get_id() == FWindowThread; }
    [[nodiscard]] std::string DiagnosticName() const;

    const std::thread::id FWindowThread;
    std::atomic<bool> FEnabled{true};
    std::atomic<bool> FEnableMasterPumping{false};
    std::string FGraphHook;

    // Changed under InputPin's section only.
    bool FPumpMaster = false;
    const std::int32_t FOwnPumpPriority = 0;
    TALWaveFormatExtensible FWaveFormat{};   // nSamplesPerSec is read by the player under FStreamLock
    std::atomic<bool> FFormatKnown{false};
    TRefPtr<ICaptureGraphBuilder2> FCaptureBuilder;
    TRefPtr<IMediaControl> FMediaControl;
    bool FGraphBuilt = false;
    TRefPtr<IMediaFilter> FMediaFilter;
    TRefPtr<IBaseFilter> FSourceFilterInterface;
    TRefPtr<IMoniker> FDeviceMoniker;
    TRefPtr<IBaseFilter> FRendererFilter;
    std::atomic<bool> FDeviceOpen{false};
    std::uint32_t FBufferLength = 0;
    std::atomic<std::uint32_t> FBufferDurationMs{0};
    std::atomic<bool> FRunning{false};
    bool FPaused = false;
    bool FStopRequested = false;
    bool FResumed = false;

    // What the player shares with the graph-control steps, guarded by FStreamLock (a leaf: held for
    // bookkeeping and the clock's advise calls, never while a block is delivered).
    std::mutex FStreamLock;
    TRefPtr<TDSAudioSourceFilter> FSourceFilter;
    TRefPtr<IReferenceClock> FReferenceClock;
    std::uintptr_t FAdviseCookie = 0;
    bool FAdviseActive = false;
    std::int64_t FLastAdvisePeriod = -1;
    std::int64_t FStreamPosition = 0;
    std::uint32_t FSamplesPerSec = 0;
    bool FPrefilling = false;
    bool FDeliveryFailed = false;   // reported once per start of the graph

    // The play queue and the room a sender may wait for, guarded by FQueueLock.
    std::mutex FQueueLock;
    std::condition_variable FRoom;
    bool FDeviceStuck = false;
    std::size_t FMostQueued = 0;
    std::atomic<std::uint64_t> FDroppedBlocks{0};
    // A plain list under the queue lock, not a list under a framework lock: those take GlobalLock for
    // reading, and the player would wait for it behind a writer (a clock unregistering) who waits for a
    // reader (the window thread in StopPlayback) who waits for the player's drain.
    std::deque<TRefPtr<TOWSuppliedBufferOperation>> FPlayQueue;   // guarded by FQueueLock
    TSLOperationList FInputList;

    std::mutex FFailuresLock;
    std::deque<TPostedFailure> FPostedFailures;   // guarded by FFailuresLock

    // Owned parts, made in this order and freed in the destructor's.
    std::unique_ptr<TDSGraph> FGraph;
    std::unique_ptr<TDSSwitches> FSwitches;
    std::unique_ptr<TSLClockThread> FClockThread;
    std::unique_ptr<TDSAudioOutputDevice> FAudioOutputDevice;
    std::unique_ptr<TALPlayerThread> FPlayer;
};

}   // namespace harvolin
