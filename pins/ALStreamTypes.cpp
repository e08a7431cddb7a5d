#include "pins/ALStreamTypes.h"
#include "pins/OWTypeRegistry.h"
#include <mutex>

namespace harvolin
{

void RegisterAudioStreamTypes()
{
    static std::once_flag once;
    std::call_once(once, [] { RegisterTypeHandler(kALAudioStreamType, OWStreamHandler); });
}

namespace
{

const bool GAudioStreamTypesRegistered = (RegisterAudioStreamTypes(), true);

void Put16(TALWaveFormatBytes& record, std::size_t at, std::uint16_t value)
{
    record[at] = static_cast<std::uint8_t>(value & 0xFF);
    record[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(TALWaveFormatBytes& record, std::size_t at, std::uint32_t value)
{
    Put16(record, at, static_cast<std::uint16_t>(value & 0xFFFF));
    Put16(record, at + 2, static_cast<std::uint16_t>(value >> 16));
}

}   // namespace

// --- TOWStartWaveOperation ---------------------------------------------------------------------------------

TOWStartWaveOperation::TOWStartWaveOperation(std::int32_t bufferSize, const TALWaveFormatBytes* format,
                                             float sampleRate) noexcept
    : TOWStartSampleRateOperation(bufferSize, sampleRate),
      FFormat(format != nullptr ? *format : DefaultFormat())
{
}

TALWaveFormatBytes TOWStartWaveOperation::DefaultFormat() noexcept
{
    TALWaveFormatBytes record{};
    Put16(record, 0, 65534);
    Put16(record, 2, 2);
    Put32(record, 4, 11024);
    Put32(record, 8, 44096);
    Put16(record, 12, 4);
    Put16(record, 14, 16);
    Put16(record, 16, 22);
    Put16(record, 18, 16);
    Put32(record, 20, 3);
    // The GUID's first three fields are little-endian in the record, the last eight bytes as they stand.
    const TGUID& pcm = kALPcmSubFormat;
    Put32(record, 24, pcm.D1);
    Put16(record, 28, pcm.D2);
    Put16(record, 30, pcm.D3);
    for (std::size_t i = 0; i < 8; ++i)
        record[32 + i] = pcm.D4[i];
    return record;
}

TGUID TOWStartWaveOperation::SubFormat() const noexcept
{
    TGUID guid{};
    guid.D1 = U32(24);
    guid.D2 = U16(28);
    guid.D3 = U16(30);
    for (std::size_t i = 0; i < 8; ++i)
        guid.D4[i] = FFormat[32 + i];
    return guid;
}

// --- TALOWAudioSourcePin -----------------------------------------------------------------------------------

TALOWAudioSourcePin::TALOWAudioSourcePin(TComponent* owner, TSLOperationHandler onOperation)
    : TSLOWSourcePin(owner), FOnOperation(std::move(onOperation))
{
    (void)GAudioStreamTypesRegistered;
    RegisterAudioStreamTypes();
    AddType(kALAudioStreamType);
}

TALOWAudioSourcePin::~TALOWAudioSourcePin()
{
    BeforeDestruction();
}

const TClassInfo& TALOWAudioSourcePin::StaticClassInfo()
{
    static const TClassInfo info("TALOWAudioSourcePin", &TSLOWSourcePin::StaticClassInfo(), {});
    return info;
}

IOWInterface* TALOWAudioSourcePin::QueryInterface(const TGUID& iid)
{
    if (iid == kALAudioStreamType)
        return static_cast<IOWSignalStream*>(this);
    return TSLOWSourcePin::QueryInterface(iid);
}

bool TALOWAudioSourcePin::Notify(const TRefPtr<TOWNotifyOperation>& operation)
{
    const bool result = TSLOWSourcePin::Notify(operation);
    const bool resume = Is<TOWSLResumeOperation>(*operation);
    if (resume || Is<TOWStopOperation>(*operation))
    {
        TOWWriteLockSection self(*this);
        FLastResume = resume ? operation : nullptr;
    }
    return result;
}

void TALOWAudioSourcePin::AddSink(TOWSinkPin* sink)
{
    TSLOWSourcePin::AddSink(sink);
    // After the kept start: a sink joining a playing stream learns its format, then that it plays.
    if (FLastResume)
        NotifySink(sink, FLastResume);
}

TRefPtr<TOWNotifyOperation> TALOWAudioSourcePin::LastResume()
{
    TOWReadLockSection self(*this);
    return FLastResume;
}

bool TALOWAudioSourcePin::StreamOperation(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                          std::uint32_t flags)
{
    return FOnOperation && FOnOperation(this, typeGuid, flags, operation);
}

// --- TALOWAudioSinkPin -------------------------------------------------------------------------------------

TALOWAudioSinkPin::TALOWAudioSinkPin(TComponent* owner, TSLOperationHandler onOperation)
    : TSLOWSinkPin(owner), FOnOperation(std::move(onOperation))
{
    RegisterAudioStreamTypes();
    AddType(kALAudioStreamType);
}

TALOWAudioSinkPin::~TALOWAudioSinkPin()
{
    BeforeDestruction();
}

const TClassInfo& TALOWAudioSinkPin::StaticClassInfo()
{
    static const TClassInfo info("TALOWAudioSinkPin", &TSLOWSinkPin::StaticClassInfo(), {});
    return info;
}

IOWInterface* TALOWAudioSinkPin::QueryInterface(const TGUID& iid)
{
    if (iid == kALAudioStreamType)
        return static_cast<IOWSignalStream*>(this);
    return TSLOWSinkPin::QueryInterface(iid);
}

bool TALOWAudioSinkPin::StreamOperation(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                        std::uint32_t flags)
{
    return FOnOperation && FOnOperation(this, typeGuid, flags, operation);
}

}   // namespace harvolin
