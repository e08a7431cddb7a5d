#include "audioout/ALDSAudioOut.h"
#include "audioout/DSErrors.h"
#include "media/AudioRenderer.h"
#include "media/MediaTypes.h"
#include "rtl/Diagnostics.h"
#include <algorithm>
#include <cstring>
#include <exception>
#include <tuple>
#include <utility>

namespace harvolin
{
namespace
{

// Readable from a window's description by class name from the start of the program.
const TComponentClassRegistration<TALDSAudioOut> GRegistration;

constexpr char kCannotBuildGraphBuilder[] = "Can't build DirectShow graph builder.";
constexpr char kCannotObtainMediaControl[] = "Can't obtain IMediaControl.";
constexpr char kCannotSetSourceFilter[] = "Can't set audio source filter.";
constexpr char kCannotStartRender[] = "Can't start render.";
constexpr char kCannotObtainClock[] = "Can't obtain the reggerence clock.";
constexpr char kCannotObtainMediaFilter[] = "Can't obtain IMediaFilter.";
constexpr char kRendererName[] = "Audio Render";

// The clock advise is renewed only when the block duration drifts further than this from its period.
constexpr std::int64_t kAdviseTolerance = 10;
constexpr std::int32_t kPrefillRequests = 5;
// Reference times of the media layer: microseconds.
constexpr std::int64_t kTimeUnitsPerSecond = 1000000;

// What the stream plays when no format was announced: 16-bit stereo at 11 025 frames per second.
TALWaveFormatExtensible DefaultWaveFormat()
{
    TALWaveFormatExtensible format;
    format.wFormatTag = kALWaveFormatExtensible;
    format.nChannels = 2;
    format.nSamplesPerSec = 11025;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = kALWaveFormatExtraSize;
    format.nAvgBytesPerSec = format.nSamplesPerSec * 4;
    format.wValidBitsPerSample = 16;
    format.dwChannelMask = 3;
    format.SubFormat = kALSubFormatPcm;
    return format;
}

}   // namespace

// ---- TALPlayerThread ----

TALPlayerThread::TALPlayerThread(TALDSAudioOut& owner) : FOwner(owner)
{
    FThread = std::make_unique<TThread>([this] { Run(); }, TThreadPriority::Highest, "audio player");
}

TALPlayerThread::~TALPlayerThread()
{
    FTerminated.store(true);
    FDataEvent.Set();
    FGateEvent.Set();
    FFinishedEvent.Wait();
    FThread.reset();
}

bool TALPlayerThread::CloseGate(std::chrono::milliseconds patience)
{
    std::unique_lock lock(FDrainLock);
    if (!FDrainEnded.wait_for(lock, patience, [&] { return !FDraining; }))
        return false;
    FGateOpen = false;
    FGateEvent.Reset();
    return true;
}

void TALPlayerThread::OpenGate()
{
    std::lock_guard lock(FDrainLock);
    FGateOpen = true;
    FGateEvent.Set();
}

void TALPlayerThread::Run()
{
    while (true)
    {
        FGateEvent.Wait();
        if (FTerminated.load())
            break;
        FDataEvent.Wait();
        if (FTerminated.load())
            break;
        {
            // The gate may have closed while the player waited for data: that wake waits for the gate.
            std::lock_guard lock(FDrainLock);
            if (!FGateOpen)
            {
                FDataEvent.Set();
                continue;
            }
            FDraining = true;
        }
        try
        {
            FOwner.PlayQueuedBuffers();
        }
        catch (...)
        {
            // The player goes on with the next wake; the block that failed is gone.
            ReportCurrentException([this] { return FOwner.DiagnosticName(); }, [] { return "playing a block"; });
        }
        {
            std::lock_guard lock(FDrainLock);
            FDraining = false;
        }
        FDrainEnded.notify_all();
    }
    FFinishedEvent.Set();
}

// ---- TALDSAudioOut ----

TALDSAudioOut::TALDSAudioOut(TComponent* owner)
    : TComponent(owner),
      InputPin(this, [this](TOWPin*, const TGUID&, std::uint32_t, const TRefPtr<TOWNotifyOperation>& operation)
               { return InputOperationArrived(operation); }),
      EnablePin(this, 0, [this](TOWPin*, bool value) { SetEnabled(value); }),
      FWindowThread(std::this_thread::get_id()), FInputList(&InputPin)
{
    // The player first, as the component's first part; it touches nothing of the component until woken.
    const bool designing =
        owner != nullptr && owner->ComponentState().Contains(TComponentStateFlag::csDesigning);
    if (!designing)
        FPlayer = std::make_unique<TALPlayerThread>(*this);
    FGraph = std::make_unique<TDSGraph>(this, &InputPin);
    FGraph->SetGraphEventCallback([this](std::int32_t code, std::intptr_t param1, std::intptr_t)
                                  { GraphEvent(code, param1); });
    FGraph->SetMessageHook(
        [this](const TMessage& message)
        {
            if (message.Msg == kFailureMessage)
                DeliverPostedFailures();
        });
    FEnabled.store(true);
    FSwitches = std::make_unique<TDSSwitches>(this, true,
                                              [this]
                                              {
                                                  const TRefPtr<IOWLockSection> section =
                                                      InputPin.GetWriteLockSection();
                                                  OpenDevice();
                                              });
    FClockThread = std::make_unique<TSLClockThread>([this](TSLClockThread&) { PumpTick(); });
    FAudioOutputDevice = std::make_unique<TDSAudioOutputDevice>(this, &InputPin, [this] { DeviceChanged(); });
    FPumpMaster = false;
    ReleaseGraph();
}

TALDSAudioOut::~TALDSAudioOut()
{
    InputPin.Disconnect();
    {
        const TRefPtr<IOWLockSection> section = InputPin.GetWriteLockSection();
        try
        {
            StopPlayback();
            TearDownGraph();
        }
        catch (...)
        {
            ReportCurrentException([this] { return DiagnosticName(); }, [] { return "stopping at teardown"; });
        }
        ReleaseGraph();
    }
    // The clock thread before the player: a tick still pending may queue a block and wake the player.
    FClockThread.reset();
    FPlayer.reset();
    FSwitches.reset();
    FInputList.Clear();
    FAudioOutputDevice.reset();
    FGraph.reset();
    std::lock_guard lock(FQueueLock);
    FPlayQueue.clear();
}

const TClassInfo& TALDSAudioOut::StaticClassInfo()
{
    static const TClassInfo info = []
    {
        using T = TALDSAudioOut;
        return TClassInfo(
            "TALDSAudioOut", &TComponent::StaticClassInfo(),
            TPropertyList<T>()
                .Boolean(
                    "Enabled", [](const T& c) { return c.Enabled(); },
                    [](T& c, bool value) { c.SetEnabled(value); }, true)
                .Object("InputPin", [](T& c) { return &c.InputPin; })
                .Object("EnablePin", [](T& c) { return &c.EnablePin; })
                .Object("AudioOutputDevice", [](T& c) { return c.FAudioOutputDevice.get(); })
                .Object("Graph", [](T& c) { return c.FGraph.get(); })
                // No default: stored always, so that a description says which way the pipeline pumps.
                .Boolean(
                    "EnableMasterPumping", [](const T& c) { return c.EnableMasterPumping(); },
                    [](T& c, bool value) { c.SetEnableMasterPumping(value); })
                .Value(
                    "_Graph", TPropertyKind::pkEnumeration,
                    [](const T& c) { return TDescValue::Identifier(c.FGraphHook); },
                    [](T& c, const TDescValue& value) { c.SetGraphHook(value.AsIdentifier()); })
                .StoredWhen([](const T& c) { return !c.FGraphHook.empty(); })
                .Take());
    }();
    return info;
}

std::int64_t TALDSAudioOut::StreamPosition()
{
    std::lock_guard lock(FStreamLock);
    return FStreamPosition;
}

std::size_t TALDSAudioOut::QueuedBlocks()
{
    std::lock_guard lock(FQueueLock);
    return FPlayQueue.size();
}

std::size_t TALDSAudioOut::MostQueuedBlocks()
{
    std::lock_guard lock(FQueueLock);
    return FMostQueued;
}

std::string TALDSAudioOut::DiagnosticName() const
{
    return Name().empty() ? std::string("audio output") : Name();
}

// ---- input side ----

bool TALDSAudioOut::InputOperationArrived(const TRefPtr<TOWNotifyOperation>& operation)
{
    if (!operation)
        return false;
    // Answered at once on the asking thread, never queued: the producer decides its tick now.
    if (auto query = RefCast<TOWRoomQueryOperation>(operation))
    {
        if (PlayQueueFull())
            query->Refuse();
        return false;
    }
    const TRefPtr<IOWLockSection> section = InputPin.GetWriteLockSection();
    FInputList.Add(operation, false);
    if (!FRunning.load() || !FResumed)
        ProcessNextOperation();
    bool adviseActive = false;
    {
        std::lock_guard lock(FStreamLock);
        adviseActive = FAdviseActive;
    }
    if (!adviseActive)
        ProcessNextOperation();
    return false;
}

void TALDSAudioOut::ProcessNextOperation()
{
    const TRefPtr<IOWLockSection> section = InputPin.GetWriteLockSection();
    if (const TRefPtr<TOWNotifyOperation> operation = FInputList.Pop())
        ProcessOperation(operation);
}

void TALDSAudioOut::ProcessOperation(const TRefPtr<TOWNotifyOperation>& operation)
{
    if (auto start = RefCast<TOWStartWaveOperation>(operation))
    {
        FResumed = false;
        FBufferLength = static_cast<std::uint32_t>(std::max(start->BufferSize(), 0));
        static_assert(sizeof(FWaveFormat) == std::tuple_size_v<TALWaveFormatBytes>);
        std::memcpy(&FWaveFormat, start->Format().data(), sizeof(FWaveFormat));
        PrepareFormat();
    }
    else if (Is<TOWStartPumpOperation>(*operation))
        ProcessStartPump();
    else if (Is<TOWStopOperation>(*operation))
        FStopRequested = true;
    else if (Is<TOWSLResumeOperation>(*operation))
    {
        if (FPaused)
            ResumeRender();
        else if (FDeviceOpen.load())
            StartRender();
        bool adviseActive = false;
        {
            std::lock_guard lock(FStreamLock);
            adviseActive = FAdviseActive;
        }
        if (!adviseActive && EnableMasterPumping())
            RequestData();
        FResumed = true;
    }
    else if (Is<TOWSLPauseOperation>(*operation))
        PauseRender();
    else if (auto request = RefCast<TOWPumpRequestOperation>(operation))
        ProcessPumpRequest(*request);
    else if (auto supplied = RefCast<TOWSuppliedBufferOperation>(operation))
    {
        if (supplied->Buffer())
            QueueBuffer(supplied->Buffer());
    }
}

void TALDSAudioOut::ProcessStartPump()
{
    if (!FPumpMaster)
        return;
    {
        std::lock_guard lock(FStreamLock);
        FPrefilling = true;
    }
    for (std::int32_t i = 0; i < kPrefillRequests && !FResumed; ++i)
        RequestData();
    {
        std::lock_guard lock(FStreamLock);
        FPrefilling = false;
    }
    RequestData();
    StartRender();
    FStopRequested = false;
}

void TALDSAudioOut::ProcessPumpRequest(TOWPumpRequestOperation& request)
{
    if (!EnableMasterPumping())
        return;
    // A claim of priority 0 or more stands; otherwise this component takes the pump role.
    if (request.TryClaim(static_cast<TOWClaimant>(this), FOwnPumpPriority))
        FPumpMaster = true;
}

bool TALDSAudioOut::PlayQueueFull()
{
    std::lock_guard lock(FQueueLock);
    return FPlayQueue.size() >= kPlayQueueCapacity;
}

void TALDSAudioOut::QueueBuffer(const TRefPtr<TSLGenericBuffer>& buffer)
{
    bool hasSource = false;
    {
        std::lock_guard lock(FStreamLock);
        hasSource = static_cast<bool>(FSourceFilter);
    }
    // Raises ERangeError for a buffer that is not audio: the sender's delivery reports it.
    const auto audio = MakeRef<TALAudioBuffer>(*static_cast<ISLBufferCore*>(buffer.Get()));
    if (!hasSource || !FFormatKnown.load() || audio->GetSize() == 0)
        return;
    // audio is already a buffer of its own over the arriving storage: it is queued as it is, not copied.
    const auto queued = MakeRef<TOWSuppliedBufferOperation>(audio);
    bool becameStuck = false;
    std::uint64_t dropped = 0;
    {
        std::unique_lock lock(FQueueLock);
        if (FPlayQueue.size() >= kPlayQueueCapacity)
        {
            // A sender that did not ask for room: while the device plays, it waits for the player, which
            // takes a block each time the device has room for one. The chain's lock is held meanwhile,
            // hence the limit.
            const bool playing = FRunning.load() && !FPaused && FPlayer != nullptr;
            if (playing && !FDeviceStuck &&
                !FRoom.wait_for(lock, kRoomPatience, [&] { return FPlayQueue.size() < kPlayQueueCapacity; }))
            {
                FDeviceStuck = true;
                becameStuck = true;
            }
            for (; FPlayQueue.size() >= kPlayQueueCapacity; ++dropped)
                FPlayQueue.pop_front();
        }
        FPlayQueue.push_back(queued);
        FMostQueued = std::max(FMostQueued, FPlayQueue.size());
    }
    if (becameStuck)
        ReportFailure(DiagnosticName(), "queueing a block",
                      "the device took no block for " + std::to_string(kRoomPatience.count()) +
                          " ms; blocks are dropped until it takes one again");
    if (dropped > 0)
    {
        FDroppedBlocks.fetch_add(dropped);
        ReportFailure(DiagnosticName(), "queueing a block",
                      "the play queue is full (" + std::to_string(kPlayQueueCapacity) +
                          " blocks) and the device does not play: the oldest block was dropped");
    }
    if (FRunning.load() && FPlayer)
        FPlayer->Wake();
}

// ---- player thread ----

void TALDSAudioOut::PlayQueuedBuffers()
{
    while (true)
    {
        TRefPtr<TOWSuppliedBufferOperation> next;
        {
            std::lock_guard lock(FQueueLock);
            if (FPlayQueue.empty())
                return;
            next = std::move(FPlayQueue.front());
            FPlayQueue.pop_front();
            FDeviceStuck = false;
        }
        FRoom.notify_all();
        if (auto* audio = dynamic_cast<TALAudioBuffer*>(next->Buffer().Get()))
            DeliverBuffer(*audio);
    }
}

void TALDSAudioOut::DeliverBuffer(TALAudioBuffer& buffer)
{
    TRefPtr<TDSAudioSourceFilter> source;
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    {
        std::lock_guard lock(FStreamLock);
        source = FSourceFilter;
        TMLTimeStamp& stamp = buffer.GetTimeStamp();
        std::int64_t duration = 0;
        if (stamp.IsValid())
        {
            start = stamp.GetStart();
            duration = stamp.GetStop() - start;
            FStreamPosition = stamp.GetStop();
        }
        else
        {
            start = FStreamPosition;
            // A rate of 0 (a format never announced) would divide by zero: such a block takes no time.
            if (FSamplesPerSec != 0)
                duration = static_cast<std::int64_t>(buffer.GetSize()) * kTimeUnitsPerSecond / FSamplesPerSec;
            FStreamPosition += duration;
        }
        if (!FPrefilling && FReferenceClock &&
            (duration < FLastAdvisePeriod - kAdviseTolerance || duration > FLastAdvisePeriod + kAdviseTolerance ||
             !FAdviseActive))
        {
            if (FAdviseActive)
                (void)FReferenceClock->Unadvise(FAdviseCookie);
            REFERENCE_TIME now = 0;
            (void)FReferenceClock->GetTime(&now);
            FLastAdvisePeriod = duration;
            FAdviseActive = true;
            const HRESULT advised = FReferenceClock->AdvisePeriodic(now + duration, duration,
                                                                    &FClockThread->TickSemaphore(), &FAdviseCookie);
            if (FAILED(advised))
                ReportFailure(DiagnosticName(), "pacing the pump",
                              Format("the clock refused a period of %d: %x",
                                     {duration, static_cast<std::uint32_t>(advised)}));
        }
        stop = FStreamPosition;
    }
    if (buffer.GetByteSize() == 0 || !source)
        return;
    // Blocks until the renderer has taken the block; a stop of the graph wakes it.
    if (!source->DeliverData(buffer.GetRead(), buffer.GetByteSize(), true, stop, start) && FRunning.load())
    {
        bool first = false;
        {
            std::lock_guard lock(FStreamLock);
            first = !std::exchange(FDeliveryFailed, true);
        }
        // The renderer says why (and raises the graph's events for a lost device); this says that sound was
        // lost, once for each start of the graph.
        if (first)
            ReportFailure(DiagnosticName(), "delivering a block",
                          "the graph did not take it; blocks that follow may be lost as well");
    }
}

// ---- clock-driven pumping ----

void TALDSAudioOut::RequestData()
{
    (void)InputPin.RequestData(static_cast<TOWClaimant>(this));
}

void TALDSAudioOut::PumpTick()
{
    try
    {
        RequestData();
        const TRefPtr<IOWLockSection> section = InputPin.GetWriteLockSection();
        if (FStopRequested && QueuedBlocks() == 0)
        {
            StopPlayback();
            TearDownGraph();
        }
        ProcessNextOperation();
    }
    catch (...)
    {
        ReportCurrentException([this] { return DiagnosticName(); }, [] { return "pump tick"; });
    }
}

// ---- graph control ----

void TALDSAudioOut::PrepareFormat()
{
    // A graph left built by a lost device or an abort (which forget the format) is rebuilt as well: its
    // renderer would refuse every block.
    if (FFormatKnown.load() || FGraphBuilt)
    {
        StopPlayback();
        TearDownGraph();
        ReleaseGraph();
        FDeviceOpen.store(false);
    }
    ReopenDevice();
    FFormatKnown.store(true);
    FRunning.store(false);
    FPaused = false;
}

void TALDSAudioOut::ReopenDevice()
{
    {
        std::lock_guard lock(FStreamLock);
        FLastAdvisePeriod = -1;
    }
    OpenDevice();
    FRunning.store(false);
    FPaused = false;
}

bool TALDSAudioOut::OpenDevice()
{
    if (FDeviceOpen.load())
        return true;
    FDeviceMoniker = FAudioOutputDevice->ResolveMoniker();
    // A renderer that could not be made or added is a failure, not a reason to play on another device.
    const bool ok = CreateGraphBuilders() && BuildAndReport();
    FGraphBuilt = ok;
    FDeviceOpen.store(ok);
    if (ok)
    {
        FMediaControl = QueryAs<IMediaControl>(FGraph->FilterGraph().Get());
        FDeviceOpen.store(static_cast<bool>(FMediaControl));
    }
    return FDeviceOpen.load();
}

void TALDSAudioOut::CloseDevice()
{
    if (FDeviceOpen.load())
        TearDownGraph();
    ReleaseGraph();
    FAudioOutputDevice->ClearResolved();
    FDeviceOpen.store(false);
}

bool TALDSAudioOut::CreateGraphBuilders()
{
    ReleaseGraph();
    if (!FCaptureBuilder)
    {
        void* made = nullptr;
        const HRESULT created =
            CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC, ICaptureGraphBuilder2::kIID, &made);
        if (FAILED(created) || made == nullptr)
        {
            ReportError(kCannotBuildGraphBuilder, created);
            return false;
        }
        FCaptureBuilder = AdoptRef(static_cast<ICaptureGraphBuilder2*>(made));
    }
    try
    {
        if (!FGraph->CreateFilterGraph())
            return false;
        (void)FGraph->AddAdditionalFilters();
        IGraphBuilder& graph = *FGraph->FilterGraph();
        const HRESULT attached = FCaptureBuilder->SetFiltergraph(&graph);
        if (FAILED(attached))
        {
            ReportError(kCannotBuildGraphBuilder, attached);
            return false;
        }
        if (!FDeviceMoniker)
            return true;
        void* bound = nullptr;
        const HRESULT binding = FDeviceMoniker->BindToObject(nullptr, nullptr, IBaseFilter::kIID, &bound);
        if (FAILED(binding) || bound == nullptr)
        {
            ReportError(kDSCannotCreateRenderer, binding);
            return false;
        }
        FRendererFilter = AdoptRef(static_cast<IBaseFilter*>(bound));
        const HRESULT added = graph.AddFilter(FRendererFilter.Get(), kRendererName);
        if (FAILED(added))
        {
            ReportError(kDSCannotAddRenderer, added);
            return false;
        }
        return true;
    }
    catch (...)
    {
        // OnError has been called; the exception ends the step here, and is recorded rather than lost.
        ReportCurrentException([this] { return DiagnosticName(); }, [] { return "building the graph"; });
        ReleaseGraph();
        return false;
    }
}

bool TALDSAudioOut::BuildGraph()
{
    if (!FGraph->FilterGraph())
        return false;
    IGraphBuilder& graph = *FGraph->FilterGraph();
    FGraph->Activate();
    if (!QueryAs<IMediaControl>(&graph))
    {
        ReportError(kCannotObtainMediaControl, E_NOINTERFACE);
        return false;
    }
    const auto source = MakeComObject<TDSAudioSourceFilter>();
    FSourceFilterInterface = TRefPtr<IBaseFilter>(source.Get());
    if (FWaveFormat.nSamplesPerSec == 0)
        FWaveFormat = DefaultWaveFormat();
    std::uint32_t durationMs = FBufferLength * 1000u / FWaveFormat.nSamplesPerSec;
    if (durationMs == 0)
        durationMs = 1000;
    FBufferDurationMs.store(durationMs);
    source->SetFormat(FWaveFormat, durationMs);
    {
        std::lock_guard lock(FStreamLock);
        FSourceFilter = source;
        FSamplesPerSec = FWaveFormat.nSamplesPerSec;
    }
    const HRESULT added = graph.AddFilter(FSourceFilterInterface.Get(), kDSAudioSourceFilterName);
    if (FAILED(added))
    {
        ReportError(kCannotSetSourceFilter, added);
        return false;
    }
    const HRESULT rendered = FCaptureBuilder->RenderStream(nullptr, &MEDIATYPE_Audio, FSourceFilterInterface.Get(),
                                                           nullptr, FRendererFilter.Get());
    if (FAILED(rendered))
    {
        ReportError(kDSCannotRenderOutput, rendered);
        return false;
    }
    (void)FGraph->EnableEvents();
    FMediaFilter = QueryAs<IMediaFilter>(&graph);
    if (!FMediaFilter)
    {
        ReportError(kCannotObtainMediaFilter, E_NOINTERFACE);
        return false;
    }
    return true;
}

bool TALDSAudioOut::BuildAndReport()
{
    const bool ok = BuildGraph();
    if (ok)
    {
        FGraph->Activate();
        RouteRendererPins();
        if (const TDSNotifyEvent built = FGraph->OnGraphBuilt())
            built(this);
    }
    return ok;
}

void TALDSAudioOut::RouteRendererPins()
{
    if (!FRendererFilter)
        return;
    IEnumPins* listed = nullptr;
    if (FAILED(FRendererFilter->EnumPins(&listed)) || listed == nullptr)
        return;
    const TRefPtr<IEnumPins> pins = AdoptRef(listed);
    IPin* next = nullptr;
    while (pins->Next(1, &next, nullptr) == S_OK && next != nullptr)
    {
        const TRefPtr<IPin> pin = AdoptRef(std::exchange(next, nullptr));
        PIN_INFO info{};
        if (FAILED(pin->QueryPinInfo(&info)))
            continue;
        if (info.pFilter != nullptr)
            info.pFilter->Release();
        if (info.dir == PINDIR_OUTPUT)
        {
            (void)FSwitches->Discover(pin.Get(), 1);
            return;
        }
    }
}

bool TALDSAudioOut::StartRender()
{
    {
        std::lock_guard lock(FStreamLock);
        FStreamPosition = 0;
        FLastAdvisePeriod = -1;
        FDeliveryFailed = false;
    }
    const bool result = FGraph->FilterGraph() && Enabled();
    if (!FMediaControl)
    {
        ReportError(kCannotStartRender, 0);
        return result;
    }
    const HRESULT ran = FMediaControl->Run();
    if (FAILED(ran))
    {
        (void)FMediaControl->Stop();
        ReportError(kCannotStartRender, ran);
        return result;
    }
    FRunning.store(true);
    // Blocks queued before the start (the converter sends its resume after the third) would otherwise wait
    // for the next block to wake the player; with a full queue the producer skips ticks, and there would be
    // no next block.
    if (FPlayer && QueuedBlocks() > 0)
        FPlayer->Wake();
    if (FPumpMaster)
    {
        IReferenceClock* clock = nullptr;
        const HRESULT obtained = FMediaFilter ? FMediaFilter->GetSyncSource(&clock) : E_NOINTERFACE;
        if (FAILED(obtained) || clock == nullptr)
        {
            ReportError(kCannotObtainClock, obtained);
            return result;
        }
        std::lock_guard lock(FStreamLock);
        FReferenceClock = AdoptRef(clock);
    }
    FEnabled.store(true);
    return true;
}

void TALDSAudioOut::PauseRender()
{
    if (!FMediaControl)
        return;
    {
        std::lock_guard lock(FStreamLock);
        FLastAdvisePeriod = -1;
    }
    FPaused = true;
    (void)FMediaControl->Pause();
}

void TALDSAudioOut::ResumeRender()
{
    if (!FPaused || !FMediaControl)
        return;
    {
        std::lock_guard lock(FStreamLock);
        FLastAdvisePeriod = -1;
    }
    FPaused = false;
    (void)FMediaControl->Run();
    if (FPlayer && QueuedBlocks() > 0)
        FPlayer->Wake();
}

void TALDSAudioOut::StopPlayback()
{
    if (!FFormatKnown.load())
        return;
    ResumeRender();
    {
        std::lock_guard lock(FQueueLock);
        FPlayQueue.clear();
        FDeviceStuck = false;
    }
    FRoom.notify_all();
    bool graphStopped = false;
    if (FPlayer && !FPlayer->CloseGate(kDrainPatience))
    {
        // The drain under way is stuck in a device that stopped taking samples: stopping the graph wakes
        // it (the renderer stops its device, the source's allocator is decommitted), then the gate closes.
        if (FMediaControl)
            (void)FMediaControl->Stop();
        graphStopped = true;
        ReportFailure(DiagnosticName(), "stopping playback",
                      "the device took no sample for " + std::to_string(kDrainPatience.count()) +
                          " ms; the graph was stopped to end the delivery");
        while (!FPlayer->CloseGate(kDrainPatience))
        {
        }
    }
    if (FMediaControl && !graphStopped)
        (void)FMediaControl->Stop();
    {
        std::lock_guard lock(FStreamLock);
        if (FAdviseActive && FReferenceClock)
            (void)FReferenceClock->Unadvise(FAdviseCookie);
        FLastAdvisePeriod = -1;
    }
    if (FPlayer)
        FPlayer->OpenGate();
    FPumpMaster = false;
    FFormatKnown.store(false);
    FRunning.store(false);
    FPaused = false;
}

void TALDSAudioOut::TearDownGraph()
{
    if (!FGraphBuilt)
        return;
    if (Enabled())
        StopPlayback();
    FGraph->Deactivate();
    {
        std::lock_guard lock(FStreamLock);
        FAdviseActive = false;
    }
    FSourceFilterInterface = nullptr;
    FGraphBuilt = false;
}

void TALDSAudioOut::ReleaseGraph()
{
    const TRefPtr<IOWLockSection> section = InputPin.GetWriteLockSection();
    TRefPtr<TDSAudioSourceFilter> source;
    {
        std::lock_guard lock(FStreamLock);
        source = std::move(FSourceFilter);
        FReferenceClock = nullptr;
    }
    if (source)
    {
        // Connected pins hold each other's filters: the graph stops and the connection goes first, or the
        // source and the renderer would keep each other alive.
        if (FMediaControl)
            (void)FMediaControl->Stop();
        IPin* peer = nullptr;
        if (SUCCEEDED(source->AudioPin().ConnectedTo(&peer)) && peer != nullptr)
        {
            (void)AdoptRef(peer)->Disconnect();
            (void)source->AudioPin().Disconnect();
        }
    }
    FMediaControl = nullptr;
    FMediaFilter = nullptr;
    FGraph->Deactivate();
    FGraph->ReleaseFilterGraph();
    FCaptureBuilder = nullptr;
    FRendererFilter = nullptr;
    FSourceFilterInterface = nullptr;
}

// ---- callbacks ----

void TALDSAudioOut::GraphEvent(std::int32_t code, std::intptr_t param1)
{
    if (code != EC_ERRORABORT && code != EC_DEVICE_LOST)
        return;
    const std::string reason = RendererReason();
    StopPlayback();
    std::string text = code == EC_DEVICE_LOST ? kDSDeviceLost : kDSPlaybackAborted;
    if (!reason.empty())
        text += " " + reason;
    NotifyError(text, param1 != 0 ? static_cast<std::int32_t>(param1) : code);
}

void TALDSAudioOut::DeviceChanged()
{
    StopPlayback();
    CloseDevice();
}

std::string TALDSAudioOut::RendererReason() const
{
    const auto* renderer = dynamic_cast<const TAudioRenderer*>(FRendererFilter.Get());
    return renderer != nullptr ? renderer->LastError() : std::string();
}

std::string TALDSAudioOut::RendererStandInReason() const
{
    const auto* renderer = dynamic_cast<const TAudioRenderer*>(FRendererFilter.Get());
    return renderer != nullptr ? renderer->StandInReason() : std::string();
}

// ---- failures ----

void TALDSAudioOut::ReportError(const std::string& text, std::int32_t code)
{
    if (OnWindowThread())
    {
        FGraph->ReportError(text, code);
        return;
    }
    {
        std::lock_guard lock(FFailuresLock);
        FPostedFailures.push_back({text, code});
    }
    // One message per failure; each delivery takes whatever is queued, so a later one may find none.
    if (!PostMessageTo(FGraph->WindowHandle(), kFailureMessage))
    {
        // The window thread's queue is gone (the program is ending): the failure is still recorded.
        ReportFailure(DiagnosticName(), "playing",
                      Format("%s - %u - %x",
                             {text, static_cast<std::uint32_t>(code), static_cast<std::uint32_t>(code)}));
    }
}

void TALDSAudioOut::NotifyError(const std::string& text, std::int32_t code)
{
    try
    {
        FGraph->ReportError(text, code);
    }
    catch (const EDSException& error)
    {
        // Nobody above this window-thread call could take the exception: it is recorded instead.
        ReportFailure(DiagnosticName(), "playing", error.what());
    }
}

void TALDSAudioOut::DeliverPostedFailures()
{
    std::deque<TPostedFailure> failures;
    {
        std::lock_guard lock(FFailuresLock);
        failures.swap(FPostedFailures);
    }
    for (const TPostedFailure& failure : failures)
        NotifyError(failure.Text, failure.Code);
}

}   // namespace harvolin
