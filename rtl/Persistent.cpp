#include "rtl/Persistent.h"
#include <algorithm>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <typeinfo>

namespace harvolin
{
namespace
{

struct TClassRegistry
{
    std::mutex Lock;
    std::vector<TRegisteredClass> Classes;   // guarded by Lock; entries are never removed
};

TClassRegistry& ClassRegistry()
{
    static TClassRegistry registry;
    return registry;
}

}   // namespace

std::string TDescValue::KindName(TKind kind)
{
    switch (kind)
    {
    case TKind::vkInteger:
        return "an integer";
    case TKind::vkFloat:
        return "a number";
    case TKind::vkString:
        return "a string";
    case TKind::vkIdentifier:
        return "an identifier";
    case TKind::vkBoolean:
        return "True or False";
    case TKind::vkSet:
        return "a set";
    case TKind::vkList:
        return "a list";
    case TKind::vkBinary:
        return "binary data";
    case TKind::vkCollection:
        return "a collection";
    }
    return "a value";
}

void TDescValue::Mismatch(TKind expected) const
{
    throw EReadError("expected " + KindName(expected) + ", found " + KindName(Kind()));
}

std::int64_t TDescValue::AsInteger() const
{
    if (Kind() != TKind::vkInteger)
        Mismatch(TKind::vkInteger);
    return std::get<std::int64_t>(FValue);
}

std::int32_t TDescValue::AsInt32() const
{
    const std::int64_t value = AsInteger();
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
        throw EReadError("the integer " + std::to_string(value) +
                         " is outside the range of a 32-bit integer");
    return static_cast<std::int32_t>(value);
}

double TDescValue::AsFloat() const
{
    if (Kind() == TKind::vkInteger)
        return static_cast<double>(std::get<std::int64_t>(FValue));
    if (Kind() != TKind::vkFloat)
        Mismatch(TKind::vkFloat);
    return std::get<double>(FValue);
}

const std::string& TDescValue::AsString() const
{
    if (Kind() != TKind::vkString)
        Mismatch(TKind::vkString);
    return std::get<TText>(FValue).Text;
}

const std::string& TDescValue::AsIdentifier() const
{
    if (Kind() != TKind::vkIdentifier)
        Mismatch(TKind::vkIdentifier);
    return std::get<TName>(FValue).Name;
}

bool TDescValue::AsBoolean() const
{
    if (Kind() != TKind::vkBoolean)
        Mismatch(TKind::vkBoolean);
    return std::get<bool>(FValue);
}

const std::vector<std::string>& TDescValue::AsSet() const
{
    if (Kind() != TKind::vkSet)
        Mismatch(TKind::vkSet);
    return std::get<TSet>(FValue).Elements;
}

const std::vector<TDescValue>& TDescValue::AsList() const
{
    if (Kind() != TKind::vkList)
        Mismatch(TKind::vkList);
    return std::get<std::vector<TDescValue>>(FValue);
}

const std::vector<std::uint8_t>& TDescValue::AsBinary() const
{
    if (Kind() != TKind::vkBinary)
        Mismatch(TKind::vkBinary);
    return std::get<std::vector<std::uint8_t>>(FValue);
}

TDescValue TDescValue::Collection(std::vector<TDescItem> items)
{
    return TDescValue(TItems{std::make_shared<const std::vector<TDescItem>>(std::move(items))});
}

const std::vector<TDescItem>& TDescValue::AsCollection() const
{
    if (Kind() != TKind::vkCollection)
        Mismatch(TKind::vkCollection);
    return *std::get<TItems>(FValue).Items;
}

bool TDescValue::SameItems(const TItems& a, const TItems& b)
{
    return *a.Items == *b.Items;
}

TClassInfo::TClassInfo(std::string className, const TClassInfo* parent, std::vector<TPropertyInfo> properties)
    : FClassName(std::move(className)), FParent(parent), FProperties(std::move(properties))
{
}

std::vector<const TPropertyInfo*> TClassInfo::Properties() const
{
    std::vector<const TPropertyInfo*> all =
        FParent != nullptr ? FParent->Properties() : std::vector<const TPropertyInfo*>();
    // A class may declare an ancestor's property again (a control giving Color another default): the
    // redeclaration takes the ancestor's place, as FindProperty() finds it first.
    for (const TPropertyInfo& property : FProperties)
    {
        const auto same =
            std::find_if(all.begin(), all.end(),
                         [&](const TPropertyInfo* inherited) { return inherited->Name == property.Name; });
        if (same != all.end())
            *same = &property;
        else
            all.push_back(&property);
    }
    return all;
}

const TPropertyInfo* TClassInfo::FindProperty(std::string_view name) const noexcept
{
    for (const TClassInfo* info = this; info != nullptr; info = info->FParent)
        for (const TPropertyInfo& property : info->FProperties)
            if (property.Name == name)
                return &property;
    return nullptr;
}

bool TClassInfo::InheritsFrom(const TClassInfo& other) const noexcept
{
    for (const TClassInfo* info = this; info != nullptr; info = info->FParent)
        if (info == &other)
            return true;
    return false;
}

const TClassInfo& TPersistent::StaticClassInfo()
{
    static const TClassInfo info("TPersistent", nullptr, {});
    return info;
}

void TPersistent::Assign(const TPersistent& source)
{
    throw EConvertError("cannot assign a " + source.ClassName() + " to a " + ClassName());
}

void TPersistent::DefineProperties(TFiler& filer)
{
    (void)filer;
}

void RegisterComponentClass(const TClassInfo& info, TComponentFactory create)
{
    TClassRegistry& registry = ClassRegistry();
    std::lock_guard lock(registry.Lock);
    for (const TRegisteredClass& registered : registry.Classes)
        if (registered.Info->ClassName() == info.ClassName())
        {
            if (registered.Info == &info)
                return;
            throw std::invalid_argument("class registry: another class is already registered as '" +
                                        info.ClassName() + "'");
        }
    registry.Classes.push_back({&info, create});
}

const TRegisteredClass* FindComponentClass(std::string_view className)
{
    TClassRegistry& registry = ClassRegistry();
    std::lock_guard lock(registry.Lock);
    for (const TRegisteredClass& registered : registry.Classes)
        if (registered.Info->ClassName() == className)
            return &registered;
    return nullptr;
}

TPersistent& ResolvePropertyPath(TPersistent& object, const std::vector<std::string>& path)
{
    TPersistent* current = &object;
    for (const std::string& element : path)
    {
        const TPropertyInfo* property = current->ClassInfo().FindProperty(element);
        if (property == nullptr || property->Kind != TPropertyKind::pkClass)
            throw EReadError(current->ClassName() + " has no object property '" + element + "'");
        TPersistent* next = property->Object(*current);
        if (next == nullptr)
            throw EReadError("the property '" + element + "' of " + current->ClassName() +
                             " holds no object");
        current = next;
    }
    return *current;
}

TCollectionItem::TCollectionItem(TCollection& collection) : FCollection(collection)
{
    FCollection.FItems.push_back(this);
}

TCollectionItem::~TCollectionItem()
{
    std::erase(FCollection.FItems, this);
}

std::size_t TCollectionItem::Index() const
{
    const auto& items = FCollection.FItems;
    return static_cast<std::size_t>(std::find(items.begin(), items.end(), this) - items.begin());
}

void TCollectionItem::SetDisplayName(std::string name)
{
    FDisplayName = std::move(name);
    FCollection.ItemNamed(*this);
}

TCollection::~TCollection()
{
    Clear();
}

const TClassInfo& TCollection::StaticClassInfo()
{
    static const TClassInfo info("TCollection", &TPersistent::StaticClassInfo(), {});
    return info;
}

TCollectionItem& TCollection::AddItem()
{
    throw EReadError(ClassName() + " cannot make items: it does not know their class");
}

void TCollection::Assign(const TPersistent& source)
{
    const auto* other = dynamic_cast<const TCollection*>(&source);
    if (other == nullptr || typeid(*other) != typeid(*this))
        return TPersistent::Assign(source);
    if (other == this)
        return;
    Clear();
    for (const TCollectionItem* item : other->FItems)
        AddItem().Assign(*item);
}

TCollectionItem& TCollection::Items(std::size_t index) const
{
    if (index >= FItems.size())
        throw ERangeError("collection: index " + std::to_string(index) + " out of range (" +
                          std::to_string(FItems.size()) + " items)");
    return *FItems[index];
}

void TCollection::Delete(std::size_t index)
{
    delete &Items(index);
}

void TCollection::Clear()
{
    while (!FItems.empty())
        delete FItems.back();
}

void TCollection::ItemNamed(TCollectionItem& item)
{
    (void)item;
}

}   // namespace harvolin
