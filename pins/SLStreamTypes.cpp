#include "pins/SLStreamTypes.h"
#include "pins/OWPinList.h"
#include "pins/OWStdTypes.h"
#include "pins/OWTypeRegistry.h"
#include "rtl/Diagnostics.h"
#include <mutex>

namespace harvolin
{

bool OWStreamHandler(TOWPin* sender, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                     const TRefPtr<TOWNotifyOperation>& operation)
{
    (void)sender;
    if ((flags & kOWConnectionNotice) != 0 || target == nullptr)
        return false;
    IOWSignalStream* stream = QueryPinInterface<IOWSignalStream>(*target, IOWSignalStream::kIID);
    return stream != nullptr && stream->NotifyStream(typeGuid, operation, flags);
}

void RegisterStreamTypes()
{
    static std::once_flag once;
    std::call_once(once,
                   []
                   {
                       for (const TGUID& type : {kSLRealStreamType, kSLIntegerStreamType,
                                                 kSLComplexStreamType, kSLBlockStreamType, kSLByteStreamType})
                           RegisterTypeHandler(type, OWStreamHandler);
                   });
}

namespace
{

// At start-up as well, for code that looks the types up before any signal pin exists.
const bool GStreamTypesRegistered = (RegisterStreamTypes(), true);

}   // namespace

// --- TSLOWSourcePin ----------------------------------------------------------------------------------------

TSLOWSourcePin::TSLOWSourcePin(TComponent* owner) : TOWSourcePin(owner)
{
    (void)GStreamTypesRegistered;
    RegisterStreamTypes();
    ResetTypes();
}

TSLOWSourcePin::~TSLOWSourcePin()
{
    // While the pin is still a signal source: its sinks are told that the stream stops.
    BeforeDestruction();
}

const TClassInfo& TSLOWSourcePin::StaticClassInfo()
{
    static const TClassInfo info("TSLOWSourcePin", &TOWSourcePin::StaticClassInfo(), {});
    return info;
}

void TSLOWSourcePin::ResetTypes()
{
    ClearTypes();
    AddTypeHandler(IOWClock::kIID, TOWPinHandler::Of<&TSLOWSourcePin::ClockHandler>(this));
    AddType(kSLSignalPinMark);
}

IOWInterface* TSLOWSourcePin::QueryInterface(const TGUID& iid)
{
    if (iid == IOWSignalStream::kIID)
        return static_cast<IOWSignalStream*>(this);
    return TOWSourcePin::QueryInterface(iid);
}

bool TSLOWSourcePin::NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                  std::uint32_t flags)
{
    return StreamOperation(typeGuid, operation, flags);
}

bool TSLOWSourcePin::StreamOperation(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                     std::uint32_t flags)
{
    (void)typeGuid;
    (void)operation;
    (void)flags;
    return false;
}

bool TSLOWSourcePin::ClockHandler(TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                                  const TRefPtr<TOWNotifyOperation>& operation)
{
    (void)typeGuid;
    (void)flags;
    if (target == nullptr || !operation || !Is<TOWClockOperation>(*operation))
        return false;
    if (IOWClock* clock = QueryPinInterface<IOWClock>(*target, IOWClock::kIID))
        clock->Clock();
    return false;
}

bool TSLOWSourcePin::Notify(const TRefPtr<TOWNotifyOperation>& operation)
{
    const bool result = TOWSourcePin::Notify(operation);
    // Blocks, the common case, change nothing here: only starts and stops take the section again.
    const bool start = Is<TOWStartOperation>(*operation);
    if (start || Is<TOWStopOperation>(*operation))
    {
        TOWWriteLockSection self(*this);
        FLastStart = start ? operation : nullptr;
    }
    return result;
}

void TSLOWSourcePin::AddSink(TOWSinkPin* sink)
{
    TOWSourcePin::AddSink(sink);
    // A sink joining a running stream learns its block size and rate before its first block.
    if (FLastStart)
        NotifySink(sink, FLastStart);
}

void TSLOWSourcePin::RemoveSink(TOWSinkPin* sink, bool remember)
{
    NotifySink(sink, MakeRef<TOWStopOperation>());
    TOWSourcePin::RemoveSink(sink, remember);
}

void TSLOWSourcePin::Disconnect()
{
    TOWGlobalWriteLockSection global;
    // Every sink dropped at once is told, as one dropped alone is.
    if (SinkCount() > 0)
        NotifySink(nullptr, MakeRef<TOWStopOperation>());
    TOWSourcePin::Disconnect();
}

bool TSLOWSourcePin::SendData(TRefPtr<TSLGenericBuffer> buffer) noexcept
{
    try
    {
        return Notify(MakeRef<TOWSuppliedBufferOperation>(std::move(buffer)));
    }
    catch (...)
    {
        // A block that cannot be delivered is dropped and reported: the sender goes on with the next one.
        ReportCurrentException([&] { return TOWPendingLinks::DiagnosticName(this); },
                               [] { return "SendData"; });
        return false;
    }
}

bool TSLOWSourcePin::SendStop()
{
    return Notify(MakeRef<TOWStopOperation>());
}

bool TSLOWSourcePin::ForwardStart(const TRefPtr<TOWStartOperation>& operation)
{
    return TOWSourcePin::Notify(operation);
}

TRefPtr<TOWNotifyOperation> TSLOWSourcePin::LastStart()
{
    TOWReadLockSection self(*this);
    return FLastStart;
}

// --- TSLOWSinkPin ------------------------------------------------------------------------------------------

TSLOWSinkPin::TSLOWSinkPin(TComponent* owner) : TOWSinkPin(owner)
{
    RegisterStreamTypes();
    AddType(kSLSignalPinMark);
}

TSLOWSinkPin::~TSLOWSinkPin()
{
    BeforeDestruction();
}

const TClassInfo& TSLOWSinkPin::StaticClassInfo()
{
    static const TClassInfo info("TSLOWSinkPin", &TOWSinkPin::StaticClassInfo(), {});
    return info;
}

IOWInterface* TSLOWSinkPin::QueryInterface(const TGUID& iid)
{
    if (iid == IOWSignalStream::kIID)
        return static_cast<IOWSignalStream*>(this);
    return TOWSinkPin::QueryInterface(iid);
}

bool TSLOWSinkPin::NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                std::uint32_t flags)
{
    return StreamOperation(typeGuid, operation, flags);
}

bool TSLOWSinkPin::StreamOperation(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                   std::uint32_t flags)
{
    (void)typeGuid;
    (void)operation;
    (void)flags;
    return false;
}

bool TSLOWSinkPin::RequestData(TOWClaimant pump)
{
    return Notify(MakeRef<TOWMasterPumpOperation>(pump));
}

// --- real pins ---------------------------------------------------------------------------------------------

TSLOWRealSourcePin::TSLOWRealSourcePin(TComponent* owner, TSLOperationHandler onOperation)
    : TSLOWSourcePin(owner), FOnOperation(std::move(onOperation))
{
    AddType(kSLRealStreamType);
}

const TClassInfo& TSLOWRealSourcePin::StaticClassInfo()
{
    static const TClassInfo info("TSLOWRealSourcePin", &TSLOWSourcePin::StaticClassInfo(), {});
    return info;
}

IOWInterface* TSLOWRealSourcePin::QueryInterface(const TGUID& iid)
{
    if (iid == kSLRealStreamType)
        return static_cast<IOWSignalStream*>(this);
    return TSLOWSourcePin::QueryInterface(iid);
}

bool TSLOWRealSourcePin::StreamOperation(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                         std::uint32_t flags)
{
    return FOnOperation && FOnOperation(this, typeGuid, flags, operation);
}

TSLOWComboRealSourcePin::TSLOWComboRealSourcePin(TComponent* owner, TSLOperationHandler onOperation)
    : TSLOWRealSourcePin(owner, std::move(onOperation))
{
    ResetTypes();
    AddType(kOWFloatSingleType);
    AddType(kSLRealStreamType);
}

const TClassInfo& TSLOWComboRealSourcePin::StaticClassInfo()
{
    static const TClassInfo info("TSLOWComboRealSourcePin", &TSLOWRealSourcePin::StaticClassInfo(), {});
    return info;
}

IOWInterface* TSLOWComboRealSourcePin::QueryInterface(const TGUID& iid)
{
    if (iid == kOWFloatSingleType)
        return static_cast<IOWSignalStream*>(this);
    return TSLOWRealSourcePin::QueryInterface(iid);
}

TSLOWRealSinkPin::TSLOWRealSinkPin(TComponent* owner, TSLOperationHandler onOperation)
    : TSLOWSinkPin(owner), FOnOperation(std::move(onOperation))
{
    AddType(kSLRealStreamType);
}

const TClassInfo& TSLOWRealSinkPin::StaticClassInfo()
{
    static const TClassInfo info("TSLOWRealSinkPin", &TSLOWSinkPin::StaticClassInfo(), {});
    return info;
}

IOWInterface* TSLOWRealSinkPin::QueryInterface(const TGUID& iid)
{
    if (iid == kSLRealStreamType)
        return static_cast<IOWSignalStream*>(this);
    return TSLOWSinkPin::QueryInterface(iid);
}

bool TSLOWRealSinkPin::StreamOperation(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                                       std::uint32_t flags)
{
    return FOnOperation && FOnOperation(this, typeGuid, flags, operation);
}

}   // namespace harvolin
