#include "pins/OWTypeRegistry.h"
#include <atomic>
#include <iterator>
#include <mutex>
#include <stdexcept>

namespace harvolin
{
namespace
{

void RefuseNullGuid(const TGUID& typeGuid, const char* what)
{
    if (typeGuid.IsNull())
        throw std::invalid_argument(std::string("type registry: cannot register a ") + what +
                                    " for the null type identifier, which means no type");
}

// Counts the changes of every registry, their making and going included: a handler looked up while the count
// stood at n is the registry's handler for as long as the count still stands at n.
std::atomic<std::uint64_t> GRegistryChanges{1};

struct TRememberedHandler
{
    const TOWTypeRegistry* Registry = nullptr;
    std::uint64_t Changes = 0;
    TGUID TypeGuid{};
    TOWTypeHandler Handler = nullptr;
};

// A delivering thread's last look-ups: a chain delivers a type or two.
thread_local TRememberedHandler GRemembered[2];
thread_local std::size_t GNextRemembered = 0;

void CountChange() noexcept
{
    GRegistryChanges.fetch_add(1, std::memory_order_acq_rel);
}

}   // namespace

TOWTypeRegistry::TOWTypeRegistry()
{
    CountChange();
}

TOWTypeRegistry::~TOWTypeRegistry()
{
    CountChange();
}

void TOWTypeRegistry::RegisterTypeName(const TGUID& typeGuid, std::string_view name)
{
    RefuseNullGuid(typeGuid, "name");
    std::string copy(name);   // before the record exists, so that a failed allocation adds nothing
    std::unique_lock lock(FLock);
    FindOrAdd(typeGuid).Name = std::move(copy);
}

void TOWTypeRegistry::RegisterTypeHandler(const TGUID& typeGuid, TOWTypeHandler handler)
{
    RefuseNullGuid(typeGuid, "handler");
    std::unique_lock lock(FLock);
    FindOrAdd(typeGuid).Handler = handler;
    CountChange();
}

std::string TOWTypeRegistry::TypeName(const TGUID& typeGuid) const
{
    std::shared_lock lock(FLock);
    const TOWTypeRecord* record = Find(typeGuid);
    return record == nullptr ? std::string() : record->Name;
}

TOWTypeHandler TOWTypeRegistry::TypeHandler(const TGUID& typeGuid) const
{
    std::shared_lock lock(FLock);
    const TOWTypeRecord* record = Find(typeGuid);
    return record == nullptr ? nullptr : record->Handler;
}

std::vector<TOWTypeRecord> TOWTypeRegistry::Records() const
{
    std::shared_lock lock(FLock);
    return FRecords;
}

bool TOWTypeRegistry::DefaultHandler(TOWPin* sender, TOWPin* target, const TGUID& typeGuid,
                                     std::uint32_t flags, const TRefPtr<TOWNotifyOperation>& operation) const
{
    TOWTypeHandler handler = DeliveryHandler(typeGuid);
    return handler != nullptr && handler(sender, target, typeGuid, flags, operation);
}

TOWTypeHandler TOWTypeRegistry::DeliveryHandler(const TGUID& typeGuid) const
{
    const std::uint64_t changes = GRegistryChanges.load(std::memory_order_acquire);
    for (const TRememberedHandler& remembered : GRemembered)
        if (remembered.Registry == this && remembered.Changes == changes && remembered.TypeGuid == typeGuid)
            return remembered.Handler;
    TRememberedHandler looked{this, 0, typeGuid, nullptr};
    {
        // Under the lock no change of this registry is under way: the count read here covers the record.
        std::shared_lock lock(FLock);
        looked.Changes = GRegistryChanges.load(std::memory_order_acquire);
        const TOWTypeRecord* record = Find(typeGuid);
        looked.Handler = record == nullptr ? nullptr : record->Handler;
    }
    GRemembered[GNextRemembered] = looked;
    GNextRemembered = (GNextRemembered + 1) % std::size(GRemembered);
    return looked.Handler;
}

TOWTypeRecord& TOWTypeRegistry::FindOrAdd(const TGUID& typeGuid)
{
    for (TOWTypeRecord& record : FRecords)
        if (record.TypeGuid == typeGuid)
            return record;
    return FRecords.emplace_back(TOWTypeRecord{typeGuid, {}, nullptr});
}

const TOWTypeRecord* TOWTypeRegistry::Find(const TGUID& typeGuid) const
{
    for (const TOWTypeRecord& record : FRecords)
        if (record.TypeGuid == typeGuid)
            return &record;
    return nullptr;
}

TOWTypeRegistry& TypeRegistry()
{
    // Made on first use, so that units registering from their own static initialisation find it built.
    static TOWTypeRegistry registry;
    static const bool standardTypesRegistered = (RegisterStandardTypes(registry), true);
    (void)standardTypesRegistered;
    return registry;
}

void RegisterTypeName(const TGUID& typeGuid, std::string_view name)
{
    TypeRegistry().RegisterTypeName(typeGuid, name);
}

void RegisterTypeHandler(const TGUID& typeGuid, TOWTypeHandler handler)
{
    TypeRegistry().RegisterTypeHandler(typeGuid, handler);
}

bool DefaultHandler(TOWPin* sender, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                    const TRefPtr<TOWNotifyOperation>& operation)
{
    return TypeRegistry().DefaultHandler(sender, target, typeGuid, flags, operation);
}

}   // namespace harvolin
