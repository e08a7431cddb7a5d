#pragma once
#include "buffers/SLSimpleDataBuffer.h"
#include "gen/SLClockGen.h"
#include "pins/OWPins.h"
#include "pins/OWStdTypes.h"
#include "pins/SLStreamTypes.h"
#include "rtl/Component.h"
#include <atomic>
#include <cstdint>

namespace harvolin
{

enum class TSLClockSource : std::uint8_t
{
    csInternal,
    csExternal
};

// Base of generator components: the on/off switch and its pin, the block size, the sample rate, the clock
// source (the clock generator's pace, or ticks at ClockPin) and the election of the pump, the component of a
// chain that decides when the next block is made.
//
// Threads: properties, Enabled, start and stop on the window thread; blocks on the clock thread, or on the
// thread that delivers a tick at ClockPin or a master-pump notice. GenLock's group (joined with the output
// pin, hence with the chain) serialises block production, property changes and the chain's notices. Lock
// order: GlobalLock, then GenLock; start, stop and the clock's release take GlobalLock for writing and wait
// for a running tick.
class TSLCommonGen : public TComponent
{
public:
    explicit TSLCommonGen(TComponent* owner);
    ~TSLCommonGen() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    // Starts a generator stored enabled, unless it is being designed.
    void Loaded() override;
    // Stops generation before any derived part goes.
    void BeforeDestruction() noexcept override;

    [[nodiscard]] bool Enabled() const noexcept { return FEnabled.load(); }
    // true starts the generator (unless it is being designed), false stops it and sends one stop notice.
    // Raises std::invalid_argument, leaving the generator stopped and disabled, when BufferSize or
    // SampleRate cannot make a clock period.
    void SetEnabled(bool value);
    [[nodiscard]] std::int32_t PumpPriority() const noexcept { return FPumpPriority.load(); }
    void SetPumpPriority(std::int32_t value) noexcept { FPumpPriority.store(value); }
    [[nodiscard]] TSLClockSource ClockSource() const noexcept { return FClockSource.load(); }
    // A change while started releases the internal clock or elects and registers anew.
    void SetClockSource(TSLClockSource value);
    [[nodiscard]] std::int32_t BufferSize() const;
    // Under GenLock; a running generator keeps its clock period until it is started again.
    void SetBufferSize(std::int32_t value);
    [[nodiscard]] double SampleRate() const;
    void SetSampleRate(double value);

    [[nodiscard]] bool Active() const;
    [[nodiscard]] bool IsPumpMaster() const;
    [[nodiscard]] std::int32_t BlocksPerTick() const;
    [[nodiscard]] TOWClaimant MasterPump() const;
    // The clock registration, when the generator paces itself; valid until it stops.
    [[nodiscard]] TSLClockGenItem* ClockItem();

    // mutable: the getters only read under it, and a read hold changes nothing a reader of the generator
    // sees; the published properties are read through const references.
    mutable TOWObject GenLock;
    TOWBoolSinkPin EnablePin;
    TOWClockSinkPin ClockPin;

    // The milliseconds between ticks and the blocks made per tick for a block size and rate: the first
    // number of blocks whose duration, truncated to whole milliseconds, is positive. Raises
    // std::invalid_argument naming the property and value for a size below 1, a rate that rounds to 0 or
    // less, or a product beyond 32 bits.
    static void ClockPeriod(std::int32_t bufferSize, double sampleRate, std::int32_t& periodMs,
                            std::int32_t& blocksPerTick);
protected:
    [[nodiscard]] virtual TSLOWSourcePin& GetOutputPin() = 0;
    // Elects the pump and registers the internal clock when this generator is it.
    virtual void NegotiatePumping();
    virtual void ResetState() {}
    virtual void BufferSizeChanged(std::int32_t size);
    virtual void SampleRateChanged(double rate) { (void)rate; }
    virtual void StartGeneration();
    virtual void StopGeneration();
    virtual void ProduceBlock() = 0;

    // BufferSize for a caller that holds GenLock.
    [[nodiscard]] std::int32_t BufferSizeUnderGenLock() const noexcept { return FBufferSize; }
    void BeginGeneration();
    void ReleaseClock();
    void MasterPumpReceived(TOWClaimant pump);
    // One tick of the generator's own pace (its clock, or ClockPin): a block, unless the chain's consumer
    // says it has no room for one.
    void ClockTick();
    // Asks downstream (TOWRoomQueryOperation) whether a block made now would find room.
    [[nodiscard]] bool DownstreamHasRoom();
private:
    void ElectPump();

    // Defaults of the published properties: the fields start at them, and a value equal to its default is
    // not stored.
    static constexpr std::int32_t kDefaultPumpPriority = 0;
    static constexpr bool kDefaultEnabled = true;
    static constexpr std::int32_t kDefaultBufferSize = 1024;
    std::atomic<std::int32_t> FPumpPriority{kDefaultPumpPriority};
    std::atomic<bool> FEnabled{kDefaultEnabled};
    std::int32_t FBufferSize = kDefaultBufferSize;   // guarded by GenLock
    double FSampleRate = 100000.0;       // guarded by GenLock
    bool FActive = false;                // guarded by GenLock
    std::int32_t FBlocksPerTick = 1;     // guarded by GenLock
    bool FIsPumpMaster = false;          // guarded by GenLock
    TOWClaimant FMasterPump = nullptr;   // guarded by GenLock
    std::atomic<TSLClockSource> FClockSource{TSLClockSource::csInternal};
    TSLClockGenItem* FClockItem = nullptr;   // changed under GlobalLock write
    bool FTornDown = false;
};

// Generators of real-valued samples.
class TSLCommonBaseRealGen : public TSLCommonGen
{
public:
    using TSLCommonGen::TSLCommonGen;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    // Runs the generator for one sample: value is its input and, when the generator sends, its output.
    void GenerateSample(double& value);
protected:
    // Fills buffer; send (true) says whether it goes out, stopAfter (false) whether generation ends after it.
    virtual void GenerateBlock(TSLRealBuffer& buffer, bool& send, bool& stopAfter) = 0;
};

// A real generator with its output pin and the block loop.
class TSLCommonRealGen : public TSLCommonBaseRealGen
{
public:
    explicit TSLCommonRealGen(TComponent* owner);
    ~TSLCommonRealGen() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    TSLOWComboRealSourcePin OutputPin;
protected:
    [[nodiscard]] TSLOWSourcePin& GetOutputPin() override { return OutputPin; }
    // Makes a block of BufferSize samples under GenLock, lets GenerateBlock fill it and sends it.
    void ProduceBlock() override;
    // Notices from downstream: a start-sample-rate resizes and re-rates the synthesis, a stop stops, a
    // master-pump notice naming the elected pump makes a block. Always false.
    bool OutputPinNotify(TOWPin* pin, const TGUID& typeGuid, std::uint32_t flags,
                         const TRefPtr<TOWNotifyOperation>& operation);
};

}   // namespace harvolin
