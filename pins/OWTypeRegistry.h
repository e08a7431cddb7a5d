#pragma once
#include "pins/OWOperations.h"
#include "rtl/Guid.h"
#include "rtl/RefCount.h"
#include <cstdint>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

namespace harvolin
{

class TOWPin;

// Flag bits passed with every delivery.
// A connection notice: sent once to a sink right after it is connected (with the last-recipient bit, so
// flags 3) and by a state pin joining a group. Handlers for data ignore it; state pins answer it with their
// current value.
inline constexpr std::uint32_t kOWConnectionNotice = 1;
// This target is the last recipient of the notification.
inline constexpr std::uint32_t kOWLastRecipient = 2;

// A default handler of a stream type: delivers operation from sender to target, which is to support the type
// typeGuid. Returns true when the target handled the operation; false is never an error. Runs on the
// sender's thread with GlobalLock held for reading and the sender and target write-locked.
using TOWTypeHandler = bool (*)(TOWPin* sender, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                                const TRefPtr<TOWNotifyOperation>& operation);

struct TOWTypeRecord
{
    TGUID TypeGuid;
    std::string Name;                   // empty when no name is registered
    TOWTypeHandler Handler = nullptr;   // null when the type has no default handler

    friend bool operator==(const TOWTypeRecord&, const TOWTypeRecord&) = default;
};

// Names and default handlers of stream types, one record per GUID, in the order of first registration.
// Registration normally happens while the program starts, before any pin exists; it is locked anyway, so
// that a unit registering late cannot race a delivery looking a type up. Any thread may call every method.
// The lock is a leaf: no method calls out while holding it.
class TOWTypeRegistry
{
public:
    TOWTypeRegistry();
    ~TOWTypeRegistry();
    TOWTypeRegistry(const TOWTypeRegistry&) = delete;
    TOWTypeRegistry& operator=(const TOWTypeRegistry&) = delete;

    // Both find the record of typeGuid or append one (empty name, no handler), then set its name / handler;
    // the other part of a record already there stays. A null handler removes the default handler.
    // Raise std::invalid_argument for the null GUID, which means "no type" and never gets a record; the
    // registry is left as it was.
    void RegisterTypeName(const TGUID& typeGuid, std::string_view name);
    void RegisterTypeHandler(const TGUID& typeGuid, TOWTypeHandler handler);

    // The registered name; empty for a type without a name and for an unknown type.
    [[nodiscard]] std::string TypeName(const TGUID& typeGuid) const;
    // The default handler; null for a type without one and for an unknown type.
    [[nodiscard]] TOWTypeHandler TypeHandler(const TGUID& typeGuid) const;
    // A copy of the records, in registration order.
    [[nodiscard]] std::vector<TOWTypeRecord> Records() const;

    // Delivery through the default handler of typeGuid: its result, or false when the type is unknown or has
    // no handler (the target then simply does not receive the operation). Exceptions of the handler pass
    // through. The handler runs without the registry's lock.
    bool DefaultHandler(TOWPin* sender, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                        const TRefPtr<TOWNotifyOperation>& operation) const;
private:
    // TypeHandler, remembered per thread for the last types it delivered: valid while no registry has
    // changed since, so a delivery takes neither the lock nor the walk of the records.
    [[nodiscard]] TOWTypeHandler DeliveryHandler(const TGUID& typeGuid) const;
    // The caller holds FLock for writing.
    TOWTypeRecord& FindOrAdd(const TGUID& typeGuid);
    // The caller holds FLock; null when absent.
    [[nodiscard]] const TOWTypeRecord* Find(const TGUID& typeGuid) const;

    std::vector<TOWTypeRecord> FRecords;   // guarded by FLock
    mutable std::shared_mutex FLock;
};

// The process-wide registry. Made on first use, with the framework's standard types already registered
// (RegisterStandardTypes), and cleared when the process ends.
[[nodiscard]] TOWTypeRegistry& TypeRegistry();

// Registers the names of the framework's standard single-value types and the clock type's default handler.
// Repeating it changes nothing. It lives with the standard pins (OWStdTypes.cpp), beside the handler it
// registers, so that the registry itself knows nothing of pins.
void RegisterStandardTypes(TOWTypeRegistry& registry);

// The process-wide registry's operations.
void RegisterTypeName(const TGUID& typeGuid, std::string_view name);
void RegisterTypeHandler(const TGUID& typeGuid, TOWTypeHandler handler);
bool DefaultHandler(TOWPin* sender, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                    const TRefPtr<TOWNotifyOperation>& operation);

// Identifiers of the standard single-value types.
inline constexpr TGUID kOWIntegerSingleType = MakeGuid("{92F6B47E-B46E-49BB-9A8E-676D3C2F2E66}");
inline constexpr TGUID kOWFloatSingleType = MakeGuid("{67F6997B-7EB4-4E2F-8320-4A512B5F2BC7}");
inline constexpr TGUID kOWRealSingleType = MakeGuid("{208F9564-3C20-4C97-BB77-2FC5AE6E4194}");
inline constexpr TGUID kOWRealComplexSingleType = MakeGuid("{4CC4ADE6-E5AE-4E27-A9E7-42C14E062F41}");
inline constexpr TGUID kOWBooleanSingleType = MakeGuid("{7AA677AE-F983-4714-8E64-EC6F3D17695B}");
inline constexpr TGUID kOWCharacterSingleType = MakeGuid("{3241B885-95E1-495F-ACEC-4A1C98872B63}");
inline constexpr TGUID kOWStringSingleType = MakeGuid("{25C048B4-89D4-4277-AA98-A835EB29F5C1}");
// The clock type: its default handler queries the target for the interface of this same identifier.
inline constexpr TGUID kOWClockType = MakeGuid("{CFDF94D7-5134-49D9-AC65-902BBC1CD140}");

}   // namespace harvolin
