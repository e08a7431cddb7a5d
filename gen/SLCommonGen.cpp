#include "gen/SLCommonGen.h"
#include "rtl/Diagnostics.h"
#include "rtl/Rounding.h"
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace harvolin
{

TSLCommonGen::TSLCommonGen(TComponent* owner)
    : TComponent(owner), EnablePin(this, 0, [this](TOWPin*, bool value) { SetEnabled(value); }),
      ClockPin(this, 0,
               [this](TOWPin*)
               {
                   if (ClockSource() == TSLClockSource::csExternal && IsPumpMaster() && DownstreamHasRoom())
                       ProduceBlock();
               })
{
}

TSLCommonGen::~TSLCommonGen() = default;

const TClassInfo& TSLCommonGen::StaticClassInfo()
{
    static const TClassInfo info(
        "TSLCommonGen", &TComponent::StaticClassInfo(),
        TPropertyList<TSLCommonGen>()
            .Object("EnablePin", [](TSLCommonGen& g) { return &g.EnablePin; })
            .Object("ClockPin", [](TSLCommonGen& g) { return &g.ClockPin; })
            .Boolean(
                "Enabled", [](const TSLCommonGen& g) { return g.Enabled(); },
                [](TSLCommonGen& g, bool value) { g.SetEnabled(value); }, kDefaultEnabled)
            .Integer(
                "PumpPriority", [](const TSLCommonGen& g) { return g.PumpPriority(); },
                [](TSLCommonGen& g, std::int32_t value) { g.SetPumpPriority(value); }, kDefaultPumpPriority)
            .Enumeration<TSLClockSource>(
                "ClockSource", {"csInternal", "csExternal"},
                [](const TSLCommonGen& g) { return g.ClockSource(); },
                [](TSLCommonGen& g, TSLClockSource value) { g.SetClockSource(value); })
            .Integer(
                "BufferSize", [](const TSLCommonGen& g) { return g.BufferSize(); },
                [](TSLCommonGen& g, std::int32_t value) { g.SetBufferSize(value); }, kDefaultBufferSize)
            .Float(
                "SampleRate", [](const TSLCommonGen& g) { return g.SampleRate(); },
                [](TSLCommonGen& g, double value) { g.SetSampleRate(value); })
            .Take());
    return info;
}

void TSLCommonGen::Loaded()
{
    TComponent::Loaded();
    if (!ComponentState().Contains(TComponentStateFlag::csDesigning) && Enabled())
        BeginGeneration();
}

void TSLCommonGen::BeforeDestruction() noexcept
{
    if (FTornDown)
        return;
    FTornDown = true;
    try
    {
        StopGeneration();
    }
    catch (...)
    {
        // Teardown goes on, the failure reported: the clock is released before the stop is sent, so nothing
        // ticks into the parts about to go.
        ReportCurrentException([this] { return Name().empty() ? ClassName() : Name(); },
                               [] { return "stopping generation at teardown"; });
    }
    TComponent::BeforeDestruction();
}

void TSLCommonGen::SetEnabled(bool value)
{
    if (FEnabled.exchange(value) == value)
        return;
    if (value && !ComponentState().Contains(TComponentStateFlag::csDesigning))
    {
        try
        {
            BeginGeneration();
        }
        catch (...)
        {
            // A generator that cannot run stays stopped.
            StopGeneration();
            throw;
        }
    }
    if (!value)
        StopGeneration();
}

void TSLCommonGen::SetClockSource(TSLClockSource value)
{
    TOWGlobalWriteLockSection global;
    const TSLClockSource old = FClockSource.exchange(value);
    if (old == value)
        return;
    // Only a started generator renegotiates: one never started has told its chain nothing yet.
    if (!Active())
        return;
    if (old == TSLClockSource::csInternal)
        ReleaseClock();
    NegotiatePumping();
}

std::int32_t TSLCommonGen::BufferSize() const
{
    TOWReadLockSection lock(GenLock);
    return FBufferSize;
}

void TSLCommonGen::SetBufferSize(std::int32_t value)
{
    TOWWriteLockSection lock(GenLock);
    FBufferSize = value;
}

double TSLCommonGen::SampleRate() const
{
    TOWReadLockSection lock(GenLock);
    return FSampleRate;
}

void TSLCommonGen::SetSampleRate(double value)
{
    TOWWriteLockSection lock(GenLock);
    FSampleRate = value;
}

bool TSLCommonGen::Active() const
{
    TOWReadLockSection lock(GenLock);
    return FActive;
}

bool TSLCommonGen::IsPumpMaster() const
{
    TOWReadLockSection lock(GenLock);
    return FIsPumpMaster;
}

std::int32_t TSLCommonGen::BlocksPerTick() const
{
    TOWReadLockSection lock(GenLock);
    return FBlocksPerTick;
}

TOWClaimant TSLCommonGen::MasterPump() const
{
    TOWReadLockSection lock(GenLock);
    return FMasterPump;
}

TSLClockGenItem* TSLCommonGen::ClockItem()
{
    TOWGlobalReadLockSection global;
    return FClockItem;
}

void TSLCommonGen::ClockPeriod(std::int32_t bufferSize, double sampleRate, std::int32_t& periodMs,
                               std::int32_t& blocksPerTick)
{
    if (bufferSize < 1)
        throw std::invalid_argument("generator: BufferSize " + std::to_string(bufferSize) +
                                    " is below 1 sample");
    const double rounded = RoundHalfEven(sampleRate);
    if (!(rounded >= 1.0) || rounded > static_cast<double>(std::numeric_limits<std::int64_t>::max() / 2))
        throw std::invalid_argument("generator: SampleRate " + std::to_string(sampleRate) +
                                    " does not round to a positive number of samples per second");
    const auto rate = static_cast<std::int64_t>(rounded);
    for (std::int64_t blocks = 1;; ++blocks)
    {
        // The product is the one a 32-bit integer holds; beyond it no period exists.
        const std::int64_t product = static_cast<std::int64_t>(bufferSize) * 1000 * blocks;
        if (product > std::numeric_limits<std::int32_t>::max())
            throw std::invalid_argument("generator: BufferSize " + std::to_string(bufferSize) +
                                        " at SampleRate " + std::to_string(sampleRate) +
                                        " needs a clock period beyond 32 bits");
        const std::int64_t period = product / rate;
        if (period > 0)
        {
            periodMs = static_cast<std::int32_t>(period);
            blocksPerTick = static_cast<std::int32_t>(blocks);
            return;
        }
    }
}

void TSLCommonGen::ElectPump()
{
    const std::int32_t size = BufferSize();
    const float blockRate = size > 0 ? static_cast<float>(SampleRate() / size) : 0.0f;
    auto request = MakeRef<TOWPumpRequestOperation>(this, blockRate, PumpPriority(),
                                                    TOWPumpRequestOperation::kRequested);
    GetOutputPin().Notify(request);
    TOWWriteLockSection lock(GenLock);
    FIsPumpMaster = request->Claimant() == this;
    FMasterPump = FIsPumpMaster ? nullptr : request->Claimant();
}

void TSLCommonGen::BeginGeneration()
{
    {
        // Refused before anything is sent: a generator that cannot make a period never starts its chain.
        std::int32_t period = 0;
        std::int32_t blocks = 0;
        if (ClockSource() == TSLClockSource::csInternal)
            ClockPeriod(BufferSize(), SampleRate(), period, blocks);
    }
    if (ClockSource() == TSLClockSource::csExternal)
    {
        TOWWriteLockSection lock(GenLock);
        FIsPumpMaster = true;
    }
    else
        ElectPump();
    StartGeneration();
}

void TSLCommonGen::NegotiatePumping()
{
    {
        TOWWriteLockSection lock(GenLock);
        FActive = true;
        FBlocksPerTick = 1;
        if (ClockSource() == TSLClockSource::csExternal)
        {
            FIsPumpMaster = true;
            return;
        }
    }
    ElectPump();
    TOWGlobalWriteLockSection global;
    TOWWriteLockSection lock(GenLock);
    if (!FIsPumpMaster || FClockItem != nullptr)
        return;
    std::int32_t period = 0;
    ClockPeriod(FBufferSize, FSampleRate, period, FBlocksPerTick);
    FClockItem = RegisterClock(period, GenLock, [this] { ClockTick(); });
}

void TSLCommonGen::BufferSizeChanged(std::int32_t size)
{
    (void)size;
    ResetState();
}

void TSLCommonGen::StartGeneration()
{
    TOWGlobalWriteLockSection global;
    TOWWriteLockSection lock(GenLock);
    NegotiatePumping();
    BufferSizeChanged(FBufferSize);
    SampleRateChanged(FSampleRate);
    GetOutputPin().Notify(MakeRef<TOWStartSampleRateOperation>(FBufferSize, FSampleRate));
    if (ClockSource() == TSLClockSource::csInternal && !FIsPumpMaster)
        GetOutputPin().Notify(MakeRef<TOWStartPumpOperation>());
}

void TSLCommonGen::StopGeneration()
{
    TOWGlobalWriteLockSection global;
    ReleaseClock();
    TOWWriteLockSection lock(GenLock);
    FActive = false;
    GetOutputPin().Notify(MakeRef<TOWStopOperation>());
    FEnabled.store(false);
}

void TSLCommonGen::ReleaseClock()
{
    TOWGlobalWriteLockSection global;
    if (FClockItem != nullptr)
        UnregisterClock(std::exchange(FClockItem, nullptr), GenLock);
}

void TSLCommonGen::MasterPumpReceived(TOWClaimant pump)
{
    if (!IsPumpMaster() && pump != nullptr && pump == MasterPump())
        ProduceBlock();
}

void TSLCommonGen::ClockTick()
{
    const std::int32_t blocks = BlocksPerTick();
    for (std::int32_t i = 0; i < blocks && DownstreamHasRoom(); ++i)
        ProduceBlock();
}

bool TSLCommonGen::DownstreamHasRoom()
{
    // A tick the consumer has no room for is skipped: the block it would have made is made at the next
    // tick with room, from the same phase, so nothing is lost and the stream stays continuous.
    const auto query = MakeRef<TOWRoomQueryOperation>();
    GetOutputPin().Notify(query);
    return !query->Refused();
}

// --- real generators ---------------------------------------------------------------------------------------

const TClassInfo& TSLCommonBaseRealGen::StaticClassInfo()
{
    static const TClassInfo info("TSLCommonBaseRealGen", &TSLCommonGen::StaticClassInfo(), {});
    return info;
}

void TSLCommonBaseRealGen::GenerateSample(double& value)
{
    auto buffer = MakeRef<TSLRealBuffer>(1);
    buffer->SetItem(0, value);
    bool send = true;
    bool stopAfter = false;
    GenerateBlock(*buffer, send, stopAfter);
    if (send)
        value = buffer->GetItem(0);
    if (stopAfter)
        StopGeneration();
}

TSLCommonRealGen::TSLCommonRealGen(TComponent* owner)
    : TSLCommonBaseRealGen(owner),
      OutputPin(this, [this](TOWPin* pin, const TGUID& typeGuid, std::uint32_t flags,
                             const TRefPtr<TOWNotifyOperation>& operation)
                { return OutputPinNotify(pin, typeGuid, flags, operation); })
{
    OutputPin.FunctionSinks().Add(&ClockPin, true);
    GenLock.AddDependency(&OutputPin);
}

TSLCommonRealGen::~TSLCommonRealGen()
{
    // For a generator freed without its owner's teardown: the clock stops while the output pin still exists.
    BeforeDestruction();
}

const TClassInfo& TSLCommonRealGen::StaticClassInfo()
{
    static const TClassInfo info("TSLCommonRealGen", &TSLCommonBaseRealGen::StaticClassInfo(),
                                 TPropertyList<TSLCommonRealGen>()
                                     .Object("OutputPin", [](TSLCommonRealGen& g) { return &g.OutputPin; })
                                     .Take());
    return info;
}

void TSLCommonRealGen::ProduceBlock()
{
    if (!Enabled())
        return;
    bool stopAfter = false;
    {
        TOWWriteLockSection lock(GenLock);
        // Checked again under the lock: a stop that won the race sent its notice already.
        if (!Enabled())
            return;
        // GenLock is held already: BufferSize() would take its section again.
        auto buffer =
            MakeRef<TSLRealBuffer>(static_cast<std::uint32_t>(std::max(BufferSizeUnderGenLock(), 0)));
        bool send = true;
        GenerateBlock(*buffer, send, stopAfter);
        if (send)
            OutputPin.SendData(std::move(buffer));
    }
    if (stopAfter)
        StopGeneration();
}

bool TSLCommonRealGen::OutputPinNotify(TOWPin* pin, const TGUID& typeGuid, std::uint32_t flags,
                                       const TRefPtr<TOWNotifyOperation>& operation)
{
    (void)pin;
    (void)typeGuid;
    (void)flags;
    if (auto start = RefCast<TOWStartSampleRateOperation>(operation))
    {
        BufferSizeChanged(start->BufferSize());
        SampleRateChanged(start->SampleRate());
    }
    else if (Is<TOWStopOperation>(*operation))
        StopGeneration();
    else if (auto pump = RefCast<TOWMasterPumpOperation>(operation))
        MasterPumpReceived(pump->Claimant());
    return false;
}

}   // namespace harvolin
