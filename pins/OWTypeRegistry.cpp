#include "pins/OWTypeRegistry.h"
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

}   // namespace

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
    TOWTypeHandler handler = TypeHandler(typeGuid);
    return handler != nullptr && handler(sender, target, typeGuid, flags, operation);
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
