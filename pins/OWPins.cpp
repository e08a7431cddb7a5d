#include "pins/OWPins.h"
#include "pins/OWPinList.h"
#include "pins/OWTypeRegistry.h"
#include "rtl/Component.h"
#include "rtl/Diagnostics.h"
#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <functional>
#include <optional>
#include <stdexcept>
#include <utility>

namespace harvolin
{
namespace
{

template <class T, class U>
bool ContainsItem(const std::vector<T*>& list, const U* item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

template <class T, class U>
void EraseFirst(std::vector<T*>& list, const U* item)
{
    auto found = std::find(list.begin(), list.end(), item);
    if (found != list.end())
        list.erase(found);
}

template <class T, class U>
void EraseAll(std::vector<T*>& list, const U* item)
{
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

// A copy of a short list without touching the heap: deliveries run for every block, and the lists they
// copy (the records of a source, the members of a group) hold a handful of entries.
template <class T, std::size_t N>
class TSmallCopy
{
public:
    explicit TSmallCopy(const std::vector<T>& source) : FCount(source.size())
    {
        if (FCount <= N)
            std::copy(source.begin(), source.end(), FInline.begin());
        else
            FHeap = source;
    }
    TSmallCopy(const TSmallCopy&) = delete;
    TSmallCopy& operator=(const TSmallCopy&) = delete;

    [[nodiscard]] std::size_t Count() const noexcept { return FCount; }
    [[nodiscard]] const T& operator[](std::size_t index) const noexcept
    {
        return FCount <= N ? FInline[index] : FHeap[index];
    }
private:
    std::array<T, N> FInline{};
    std::vector<T> FHeap;
    std::size_t FCount;
};

// The walks along the links of pins; each kind keeps its own record of what it is walking.
enum class TWalk : std::uint8_t
{
    DependsOn,
    CollectTypes,
    CollectChain,
    RebuildChain
};

// Marks an object as being walked on this thread, so that a walk through a cyclic set of links ends where
// it re-enters instead of recursing for ever. Per thread and per kind: another thread's walk of the same
// object, or a walk of another kind that this one starts, is no re-entry.
class TWalkGuard
{
public:
    TWalkGuard(const void* object, TWalk kind) : FEntry{object, kind}
    {
        FEntered = std::find(Walking().begin(), Walking().end(), FEntry) == Walking().end();
        if (FEntered)
            Walking().push_back(FEntry);
    }
    TWalkGuard(const TWalkGuard&) = delete;
    TWalkGuard& operator=(const TWalkGuard&) = delete;
    ~TWalkGuard()
    {
        if (FEntered)
            Walking().erase(std::find(Walking().begin(), Walking().end(), FEntry));
    }
    // False when the object was being walked already.
    [[nodiscard]] bool Entered() const noexcept { return FEntered; }
private:
    using TEntry = std::pair<const void*, TWalk>;

    static std::vector<TEntry>& Walking()
    {
        thread_local std::vector<TEntry> walking;
        return walking;
    }

    TEntry FEntry;
    bool FEntered = false;
};

// Read holds on every object of an upstream chain, taken and given back in list order, also while an
// exception unwinds.
class TChainReadHold
{
public:
    explicit TChainReadHold(const std::vector<TOWObject*>& chain) : FChain(chain)
    {
        try
        {
            for (TOWObject* object : FChain)
            {
                object->AcquireRead();
                ++FHeld;
            }
        }
        catch (...)
        {
            ReleaseHeld();
            throw;
        }
    }
    TChainReadHold(const TChainReadHold&) = delete;
    TChainReadHold& operator=(const TChainReadHold&) = delete;
    ~TChainReadHold() { ReleaseHeld(); }
private:
    void ReleaseHeld() noexcept
    {
        for (std::size_t i = 0; i < FHeld; ++i)
            FChain[i]->ReleaseRead();
        FHeld = 0;
    }

    const std::vector<TOWObject*>& FChain;
    std::size_t FHeld = 0;
};

// The pin's own section, then the links its description named completed: a query of a pin's links answers
// as if every description read so far had been resolved. Resolution itself is TOWPendingLinks's (OWPinList).
template <class TSection>
class TLinkedSection
{
public:
    explicit TLinkedSection(TOWPin& pin) : FSection(pin) { TOWPendingLinks::CompletePendingLinks(pin); }
    TLinkedSection(const TLinkedSection&) = delete;
    TLinkedSection& operator=(const TLinkedSection&) = delete;
private:
    TSection FSection;
};
using TLinkedReadSection = TLinkedSection<TOWReadLockSection>;
using TLinkedWriteSection = TLinkedSection<TOWWriteLockSection>;

// Every recipient tests the operation's class: a missing one is the sender's error, reported before any
// lock is taken.
void RefuseNullOperation(const TRefPtr<TOWNotifyOperation>& operation, const char* sender)
{
    if (!operation)
        throw std::invalid_argument(std::string(sender) + ": cannot send a null operation");
}

bool RootIsDestroying(const TOWPin& pin)
{
    return pin.Owner() != nullptr &&
           pin.Owner()->Root().ComponentState().Contains(TComponentStateFlag::csDestroying);
}

// The dispatchers alive, by kind: design time and run time keep separate name spaces.
struct TDispatcherRegistry
{
    TDispatcherRegistry() { (void)GlobalLock(); }   // made first, so that it outlives the dispatchers

    TCriticalSection Lock;
    std::vector<TOWStateDispatcher*> Designing;   // guarded by Lock
    std::vector<TOWStateDispatcher*> Running;     // guarded by Lock

    std::vector<TOWStateDispatcher*>& Of(bool designing) { return designing ? Designing : Running; }
};

TDispatcherRegistry& Dispatchers()
{
    static TDispatcherRegistry registry;
    return registry;
}

}   // namespace

TOWPinHandler TOWPinHandler::Default(TOWPin* sender) noexcept
{
    return TOWPinHandler(
        [](void* data, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
           const TRefPtr<TOWNotifyOperation>& operation) -> bool
        { return DefaultHandler(static_cast<TOWPin*>(data), target, typeGuid, flags, operation); },
        sender);
}

void TOWPinType::Add(const TGUID& typeGuid, TOWPinHandler handler)
{
    FEntries.push_back({typeGuid, handler});
}

void TOWPinType::Merge(const TOWPinTypeEntry& entry)
{
    for (TOWPinTypeEntry& present : FEntries)
        if (present.TypeGuid == entry.TypeGuid)
        {
            present.Handler = entry.Handler;
            return;
        }
    FEntries.push_back(entry);
}

const TOWPinTypeEntry* TOWPinType::Find(const TGUID& typeGuid) const noexcept
{
    for (const TOWPinTypeEntry& entry : FEntries)
        if (entry.TypeGuid == typeGuid)
            return &entry;
    return nullptr;
}

void TOWPinTypeRestricted::OrderBy(const TOWPinType& ordering)
{
    if (FOrdered)
        return;
    std::size_t insert = 0;
    for (std::size_t o = 0; o < ordering.Count(); ++o)
        for (std::size_t i = insert; i < FEntries.size(); ++i)
            if (FEntries[i].TypeGuid == ordering.Entries(o).TypeGuid)
            {
                std::rotate(FEntries.begin() + static_cast<std::ptrdiff_t>(insert),
                            FEntries.begin() + static_cast<std::ptrdiff_t>(i),
                            FEntries.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                ++insert;
            }
    FOrdered = true;
}

// --- TOWPin ------------------------------------------------------------------------------------------------

TOWPin::TDepthGuard::TDepthGuard(TOWPin& pin, std::int32_t limit) : FPin(pin)
{
    if (FPin.FNotifyDepth > limit)
        throw EOWException(std::string(kOWPinDependsOnItself));
    ++FPin.FNotifyDepth;
}

TOWPin::TOWPin(TComponent* owner) : FOwner(owner)
{
    TOWPendingLinks::ResetBudget();
}

const TClassInfo& TOWPin::StaticClassInfo()
{
    static const TClassInfo info("TOWPin", &TOWObject::StaticClassInfo(), {});
    return info;
}

void TOWPin::DefineProperties(TFiler& filer)
{
    TOWObject::DefineProperties(filer);
    filer.DefineProperty(
        "State", [this](const TDescValue& value) { LoadState(value); }, [this] { return StoreState(); },
        HasState());
}

void TOWPin::LoadState(const TDescValue& value)
{
    if (value.Kind() == TDescValue::TKind::vkString)
    {
        SetStateName(value.AsString());
        return;
    }
    const std::vector<TDescValue>& items = value.AsList();
    if (items.empty())
        throw EReadError("expected the group's name first in the State list");
    // Read whole before anything changes, so that a malformed value changes nothing.
    std::vector<TOWPinNames> entries;
    for (std::size_t i = 1; i < items.size(); ++i)
        entries.push_back(TOWPendingLinks::ReadReference(items[i]));
    TOWGlobalWriteLockSection global;
    SetStateName(items[0].AsString());
    TOWStateDispatcher* dispatcher = FDispatcher;
    for (const TOWPinNames& entry : entries)
    {
        bool member = false;
        for (TOWPin* pin : dispatcher->MemberList())
            for (bool qualified : {false, true})
            {
                const TOWPinNames names = TOWPendingLinks::Names(pin, qualified);
                member = member || names.Name == entry.Name || names.DisplayName == entry.DisplayName;
            }
        if (!member)
            dispatcher->AddPendingName(entry.Name, entry.DisplayName);
    }
    TOWPendingLinks::RegisterPin(*this);
}

TDescValue TOWPin::StoreState()
{
    TOWGlobalWriteLockSection global;
    if (FDispatcher == nullptr)
        return TDescValue::String("");
    return FDispatcher->StoreState(*this);
}

TOWPin::~TOWPin()
{
    BeforeDestruction();
    TOWWriteLockSection self(*this);
    FLinkedObjects.clear();
    FPinType.Clear();
}

void TOWPin::BeforeDestruction()
{
    if (FTornDown)
        return;
    FTornDown = true;
    TOWGlobalWriteLockSection global;
    TOWWriteLockSection self(*this);
    Disconnect();
    TOWPendingLinks::ForgetPin(*this);
    while (!FLinkedObjects.empty())
    {
        TOWPin* other = FLinkedObjects.back();
        EraseAll(FLinkedObjects, other);
        other->RemoveLinkedObject(this);
    }
}

IOWInterface* TOWPin::QueryInterface(const TGUID& iid)
{
    if (iid == IOWPin::kIID)
        return static_cast<IOWPin*>(this);
    return nullptr;
}

IOWInterface* TOWPin::GetTypeInterface(const TGUID& iid)
{
    return QueryInterface(iid);
}

bool TOWPin::HasState()
{
    const TLinkedReadSection self(*this);
    return FDispatcher != nullptr;
}

void TOWPin::SetStateName(const std::string& name)
{
    TOWGlobalWriteLockSection global;
    TOWWriteLockSection self(*this);
    TOWStateDispatcher* dispatcher = TOWStateDispatcher::FindOrCreate(name, Designing());
    if (dispatcher == FDispatcher)
        return;
    TOWPin::Disconnect();
    FDispatcher = dispatcher;
    dispatcher->AddMember(this);
    StateChanged();
}

bool TOWPin::JoinDispatcher(TOWStateDispatcher* dispatcher)
{
    TOWGlobalWriteLockSection global;
    TOWWriteLockSection self(*this);
    if (dispatcher == FDispatcher)
        return false;
    TOWPin::Disconnect();
    if (dispatcher == nullptr || !CanJoinDispatcher(dispatcher))
        return false;
    dispatcher->AddMember(this);
    FDispatcher = dispatcher;
    StateChanged();
    return true;
}

bool TOWPin::CanJoinDispatcher(TOWStateDispatcher* dispatcher)
{
    if (dispatcher == nullptr)
        return false;
    for (TOWPin* member : dispatcher->MemberList())
        if (member != this && !IsCompatible(member))
            return false;
    return true;
}

void TOWPin::CancelPendingLinks() {}

bool TOWPin::ResolvePendingLinks(TComponent* root, bool designing)
{
    (void)root;
    (void)designing;
    TOWGlobalWriteLockSection global;
    return FDispatcher == nullptr || FDispatcher->ResolvePending();
}

const TClassInfo& TOWStreamPin::StaticClassInfo()
{
    static const TClassInfo info("TOWStreamPin", &TOWPin::StaticClassInfo(), {});
    return info;
}

void TOWPin::RemoveLinkedObject(TOWPin* object)
{
    EraseAll(FLinkedObjects, object);
}

void TOWPin::AddLinkedObject(TOWPin* object)
{
    FLinkedObjects.push_back(object);
}

void TOWPin::EraseLinkedObject(TOWPin* object) noexcept
{
    EraseFirst(FLinkedObjects, object);
}

TGUID TOWPin::GetLinkType(TOWPin* pin)
{
    return FindCommonType(pin);
}

TGUID TOWPin::GetDataType()
{
    const TLinkedReadSection self(*this);
    if (FDispatcher == nullptr)
        return kNullGuid;
    for (TOWPin* member : FDispatcher->MemberList())
        if (member != this)
            return FindCommonType(member);
    return kNullGuid;
}

TGUID TOWPin::FindCommonType(TOWPin* other)
{
    if (other == nullptr)
        return kNullGuid;
    for (std::size_t i = FPinType.Count(); i-- > 0;)
    {
        const TGUID& typeGuid = FPinType.Entries(i).TypeGuid;
        if (other->GetTypeInterface(typeGuid) != nullptr)
            return typeGuid;
    }
    return kNullGuid;
}

TOWPinHandler TOWPin::HandlerFor(const TGUID& typeGuid) noexcept
{
    const TOWPinTypeEntry* entry = FPinType.Find(typeGuid);
    return entry != nullptr && entry->Handler ? entry->Handler : TOWPinHandler::Default(this);
}

void TOWPin::StateChanged() {}

bool TOWPin::Connect(TOWPin* pin)
{
    return ConnectState(pin);
}

bool TOWPin::ConnectState(TOWPin* pin)
{
    if (!IsCompatible(pin))
        return false;
    TOWGlobalWriteLockSection global;
    const TLinkedWriteSection self(*this);
    if (FDispatcher != nullptr)
    {
        const bool joined = pin->JoinDispatcher(FDispatcher);
        StateChanged();
        return joined;
    }
    if (pin->FDispatcher != nullptr)
    {
        const bool joined = JoinDispatcher(pin->FDispatcher);
        StateChanged();
        return joined;
    }
    auto* dispatcher =
        new TOWStateDispatcher(TOWStateDispatcher::UniqueName(RootName(), Designing()), Designing());
    FDispatcher = dispatcher;
    pin->FDispatcher = dispatcher;
    dispatcher->AddMember(this);
    dispatcher->AddMember(pin);
    StateChanged();
    return true;
}

void TOWPin::Disconnect()
{
    TOWGlobalWriteLockSection global;
    TOWWriteLockSection self(*this);
    TOWStateDispatcher* dispatcher = std::exchange(FDispatcher, nullptr);
    if (dispatcher != nullptr)
        dispatcher->RemoveMember(this);
}

bool TOWPin::NotifyPeers(const TRefPtr<TOWNotifyOperation>& operation, std::uint32_t flags, TOWPin* target)
{
    RefuseNullOperation(operation, "pin");
    const TLinkedWriteSection self(*this);
    if (FDispatcher == nullptr)
        return false;
    // A handler may change the group (a peer that answers by joining or leaving): walk a copy.
    const TSmallCopy<TOWPin*, 8> members(FDispatcher->FMemberList);
    const std::size_t count = members.Count();
    bool result = false;
    for (std::size_t i = 0; i < count; ++i)
    {
        TOWPin* member = members[i];
        // A handler may have taken a member out of the group, or destroyed it: only current members receive.
        if (FDispatcher == nullptr || !ContainsItem(FDispatcher->FMemberList, member))
            continue;
        if (target != nullptr)
        {
            if (member != target)
                continue;
            flags |= kOWLastRecipient;
        }
        else
        {
            if (i + 1 == count || (members[count - 1] == this && i + 2 == count))
                flags |= kOWLastRecipient;
            if (member == this)
                continue;
        }
        const TGUID typeGuid = FindCommonType(member);
        if (typeGuid.IsNull())
            continue;
        const TOWPinHandler handler = HandlerFor(typeGuid);
        result = handler(member, typeGuid, flags, operation);
    }
    return result;
}

bool TOWPin::Notify(const TRefPtr<TOWNotifyOperation>& operation)
{
    return NotifyPeers(operation, 0, nullptr);
}

bool TOWPin::CanConnect(TOWPin* pin)
{
    return pin != nullptr && pin != this && !FindCommonType(pin).IsNull();
}

bool TOWPin::IsCompatible(TOWPin* pin)
{
    if (pin == nullptr || pin == this || pin->Designing() != Designing())
        return false;
    return dynamic_cast<TOWStatePin*>(pin) != nullptr && !FindCommonType(pin).IsNull();
}

bool TOWPin::IsConnected()
{
    const TLinkedReadSection self(*this);
    return FDispatcher != nullptr;
}

bool TOWPin::IsInDispatcher(const TOWStateDispatcher* dispatcher)
{
    TOWGlobalReadLockSection global;
    return FDispatcher == dispatcher;
}

bool TOWPin::IsConnectedTo(TOWPin* pin)
{
    const TLinkedReadSection self(*this);
    return pin != nullptr && pin != this && FDispatcher != nullptr &&
           ContainsItem(FDispatcher->FMemberList, pin);
}

void TOWPin::AddType(const TGUID& typeGuid)
{
    FPinType.Add(typeGuid, TOWPinHandler::Default(this));
}

void TOWPin::AddTypeHandler(const TGUID& typeGuid, TOWPinHandler handler)
{
    FPinType.Add(typeGuid, handler);
}

void TOWPin::ClearTypes() noexcept
{
    FPinType.Clear();
}

bool TOWPin::Designing() const noexcept
{
    return FOwner != nullptr && FOwner->ComponentState().Contains(TComponentStateFlag::csDesigning);
}

std::string TOWPin::RootName() const
{
    return FOwner == nullptr ? std::string() : FOwner->Root().Name();
}

void TOWPin::RecordOwnerRootName()
{
    FOwnerRootName = RootName();
}

// --- TOWStreamPin ------------------------------------------------------------------------------------------

void TOWStreamPin::CollectTypes(TOWPinType& target, TOWPin* requester)
{
    (void)requester;
    for (std::size_t i = 0; i < PinType().Count(); ++i)
        target.Merge(PinType().Entries(i));
}

void TOWStreamPin::CollectTypesFor(TOWPinType& target, TOWPin* requester)
{
    TOWStreamPin::CollectTypes(target, requester);
}

bool TOWStreamPin::QueryTypeUpstream(const TGUID& typeGuid)
{
    (void)typeGuid;
    return true;
}

bool TOWStreamPin::QueryTypeDownstream(const TGUID& typeGuid)
{
    (void)typeGuid;
    return true;
}

void TOWStreamPin::CollectChain(std::vector<std::vector<TOWObject*>>& paths, std::size_t path)
{
    paths[path].push_back(this);
}

// --- dependency lists --------------------------------------------------------------------------------------

void TOWSinkPinList::Add(TOWSinkPin* sink, bool lockDependency)
{
    if (sink == nullptr)
        return;
    TOWGlobalWriteLockSection global;
    if (Contains(sink))
        return;
    FSinks.push_back(sink);
    SourcesOf(*sink).push_back(&FOwnerPin);
    FOwnerPin.AddLinkedObject(sink);
    sink->AddLinkedObject(&FOwnerPin);
    if (lockDependency)
    {
        FLockedSinks.push_back(sink);
        FOwnerPin.AddDependency(sink);
    }
    FOwnerPin.RebuildSinkChains();
}

void TOWSinkPinList::Remove(TOWSinkPin* sink)
{
    TOWGlobalWriteLockSection global;
    if (!Contains(sink))
        return;
    EraseFirst(FSinks, sink);
    EraseFirst(SourcesOf(*sink), &FOwnerPin);
    FOwnerPin.EraseLinkedObject(sink);
    sink->EraseLinkedObject(&FOwnerPin);
    if (ContainsItem(FLockedSinks, sink))
    {
        EraseFirst(FLockedSinks, sink);
        FOwnerPin.RemoveDependency(sink);
    }
    FOwnerPin.RebuildSinkChains();
}

void TOWSinkPinList::Clear()
{
    TOWGlobalWriteLockSection global;
    while (!FSinks.empty())
        Remove(FSinks.back());
}

bool TOWSinkPinList::Contains(const TOWSinkPin* sink) const noexcept
{
    return ContainsItem(FSinks, sink);
}

void TOWSinkPinList::Erase(const TOWSinkPin* sink) noexcept
{
    EraseFirst(FSinks, sink);
    EraseFirst(FLockedSinks, sink);
}

std::vector<TOWSourcePin*>& TOWFunctionSinkPinList::SourcesOf(TOWSinkPin& sink)
{
    return sink.FFunctionSources;
}

std::vector<TOWSourcePin*>& TOWDataTypeSinkPinList::SourcesOf(TOWSinkPin& sink)
{
    return sink.FDataTypeSources;
}

// --- TOWSourcePin ------------------------------------------------------------------------------------------

TOWSourcePin::TOWSourcePin(TComponent* owner) : TOWStreamPin(owner) {}

const TClassInfo& TOWSourcePin::StaticClassInfo()
{
    static const TClassInfo info("TOWSourcePin", &TOWStreamPin::StaticClassInfo(), {});
    return info;
}

void TOWSourcePin::DefineProperties(TFiler& filer)
{
    TOWStreamPin::DefineProperties(filer);
    filer.DefineProperty(
        "SinkPins", [this](const TDescValue& value) { ReadSinkPins(value); },
        [this] { return WriteSinkPins(); }, HasSinkPins());
}

void TOWSourcePin::ReadSinkPins(const TDescValue& value)
{
    std::vector<TOWPinNames> references;
    for (const TDescValue& item : value.AsList())
        references.push_back(TOWPendingLinks::ReadReference(item));
    TOWGlobalWriteLockSection global;
    bool pending = false;
    for (const TOWPinNames& names : references)
    {
        bool connected = false;
        for (TComponent* root : TOWPendingLinks::KnownRoots(this))
            connected = connected || TOWPendingLinks::ConnectByName(*this, *root, names.Name);
        if (!connected)
        {
            AddPendingSinkNames(names.Name, names.DisplayName);
            pending = true;
        }
    }
    if (pending)
        TOWPendingLinks::RegisterPin(*this);
    TOWPendingLinks::ResetBudget();
    TOWPendingLinks::CompletePendingLinks(*this);
    TOWPendingLinks::ResolveAllPending(Owner());
}

TDescValue TOWSourcePin::WriteSinkPins()
{
    TOWGlobalReadLockSection global;
    std::vector<TDescValue> items;
    for (const TOWSinkPinEntry& entry : SinkEntries())
        items.push_back(TOWPendingLinks::Reference(*this, entry.Sink));
    for (std::size_t i = 0; i < FPendingSinkNames.size(); ++i)
        items.push_back(TOWPendingLinks::Reference(FPendingSinkNames[i], FPendingSinkDisplayNames[i]));
    return TDescValue::List(std::move(items));
}

bool TOWSourcePin::ResolvePendingLinks(TComponent* root, bool designing)
{
    TOWGlobalWriteLockSection global;
    const bool groupResolved = TOWPin::ResolvePendingLinks(root, designing);
    for (std::size_t i = 0; i < FPendingSinkNames.size();)
    {
        // Copied: a connection may change the pending lists.
        const std::string name = FPendingSinkNames[i];
        if (root != nullptr && TOWPendingLinks::ConnectByName(*this, *root, name))
        {
            FPendingSinkNames.erase(FPendingSinkNames.begin() + static_cast<std::ptrdiff_t>(i));
            FPendingSinkDisplayNames.erase(FPendingSinkDisplayNames.begin() + static_cast<std::ptrdiff_t>(i));
        }
        else
            ++i;
    }
    return groupResolved && FPendingSinkNames.empty();
}

TOWSourcePin::~TOWSourcePin()
{
    BeforeDestruction();
    TOWPendingLinks::ResolveAllPending(Owner());
    {
        TOWGlobalWriteLockSection global;
        FFunctionSinks.Clear();
        FDataTypeSinks.Clear();
    }
    FAutoNil.Clear();
}

IOWInterface* TOWSourcePin::GetTypeInterface(const TGUID& iid)
{
    IOWInterface* found = QueryInterface(iid);
    return found != nullptr && QueryTypeDownstream(iid) ? found : nullptr;
}

void TOWSourcePin::CancelPendingLinks()
{
    TOWGlobalWriteLockSection global;
    FPendingSinkNames.clear();
    FPendingSinkDisplayNames.clear();
}

void TOWSourcePin::RemoveLinkedObject(TOWPin* object)
{
    TOWPin::RemoveLinkedObject(object);
    auto* sink = dynamic_cast<TOWSinkPin*>(object);
    if (sink == nullptr)
        return;
    FFunctionSinks.Erase(sink);
    FDataTypeSinks.Erase(sink);
    RebuildSinkChains();
}

TGUID TOWSourcePin::GetLinkType(TOWPin* pin)
{
    const TLinkedReadSection self(*this);
    for (const TOWSinkPinEntry& entry : FSinkEntries)
        if (entry.Sink == pin)
            return entry.TypeGuid;
    return IsConnectedTo(pin) ? FindCommonType(pin) : kNullGuid;
}

TGUID TOWSourcePin::GetDataType()
{
    {
        const TLinkedReadSection self(*this);
        if (!FSinkEntries.empty())
            return FSinkEntries.front().TypeGuid;
    }
    return TOWPin::GetDataType();
}

void TOWSourcePin::StateChanged()
{
    if (Dispatcher() != nullptr)
        NotifyPeers(MakeRef<TOWNotifyOperation>(), kOWConnectionNotice, nullptr);
}

bool TOWSourcePin::Connect(TOWPin* pin)
{
    if (dynamic_cast<TOWSinkPin*>(pin) != nullptr || dynamic_cast<TOWStatePin*>(pin) != nullptr)
        return pin->Connect(this);
    return false;
}

void TOWSourcePin::Disconnect()
{
    TOWGlobalWriteLockSection global;
    TOWWriteLockSection self(*this);
    TOWPin::Disconnect();
    // A link across two forms being edited survives the closing of this one as a pending name on the sink.
    const bool remember = Designing() && RootIsDestroying(*this);
    const std::vector<TOWSinkPinEntry> entries = std::exchange(FSinkEntries, {});
    for (const TOWSinkPinEntry& entry : entries)
    {
        if (remember && !RootIsDestroying(*entry.Sink))
            TOWPendingLinks::RememberSource(*entry.Sink, *this);
        entry.Sink->SourceDropped();
    }
    FPendingSinkNames.clear();
    FPendingSinkDisplayNames.clear();
}

bool TOWSourcePin::Notify(const TRefPtr<TOWNotifyOperation>& operation)
{
    return NotifySink(nullptr, operation);
}

bool TOWSourcePin::NotifySink(TOWSinkPin* sink, const TRefPtr<TOWNotifyOperation>& operation)
{
    RefuseNullOperation(operation, "source pin");
    const TLinkedWriteSection self(*this);
    // Handlers may connect and disconnect sinks of this source: the loop walks a copy of the records.
    const TSmallCopy<TOWSinkPinEntry, 8> snapshot(FSinkEntries);
    const TDepthGuard depth(*this, kOWMaxNotifyDepth);
    const bool result = Dispatcher() != nullptr && NotifyPeers(operation, 0, nullptr);
    const std::size_t count = snapshot.Count();
    for (std::size_t i = 0; i < count; ++i)
    {
        const TOWSinkPinEntry& entry = snapshot[i];
        if (sink != nullptr && entry.Sink != sink)
            continue;
        // A sink that an earlier handler disconnected (and perhaps destroyed) receives nothing more.
        auto live = [&]
        {
            return std::find_if(FSinkEntries.begin(), FSinkEntries.end(),
                                [&](const TOWSinkPinEntry& e) { return e.Sink == entry.Sink; });
        };
        if (live() == FSinkEntries.end())
            continue;
        const std::uint32_t flags = (sink != nullptr || i + 1 == count) ? kOWLastRecipient : 0;
        bool handled = false;
        try
        {
            TOWWriteLockSection target(*entry.Sink);
            const TGUID typeGuid = entry.TypeGuid;
            handled = entry.Handler(entry.Sink, typeGuid, flags, operation);
        }
        catch (...)
        {
            // A failing sink must not keep the others from their data, nor the sender from its work; it is
            // reported instead. A handler may have disconnected (and destroyed) its own sink: not named then.
            ReportCurrentException([&] { return TOWPendingLinks::DiagnosticName(this); },
                                   [&]
                                   {
                                       return "delivering to " +
                                              (live() != FSinkEntries.end()
                                                   ? TOWPendingLinks::DiagnosticName(entry.Sink)
                                                   : std::string("a sink that left"));
                                   });
        }
        auto record = live();
        if (handled && record != FSinkEntries.end() && record->Weight < 10000)
            record->Weight += 4;
    }
    for (TOWSinkPinEntry& entry : FSinkEntries)
        if (entry.Weight > 0)
            --entry.Weight;
    // Insertion sort: stable and free of allocation, and the list is short and nearly sorted.
    for (std::size_t i = 1; i < FSinkEntries.size(); ++i)
        for (std::size_t j = i; j > 0 && FSinkEntries[j - 1].Weight > FSinkEntries[j].Weight; --j)
            std::swap(FSinkEntries[j - 1], FSinkEntries[j]);
    return result;
}

bool TOWSourcePin::CanConnect(TOWPin* pin)
{
    if (auto* sink = dynamic_cast<TOWSinkPin*>(pin))
        return sink->CanConnect(this);
    if (dynamic_cast<TOWStatePin*>(pin) != nullptr)
        return !FindCommonType(pin).IsNull();
    return false;
}

bool TOWSourcePin::IsCompatible(TOWPin* pin)
{
    if (TOWPin::IsCompatible(pin))
        return true;
    auto* sink = dynamic_cast<TOWSinkPin*>(pin);
    return sink != nullptr && sink->IsCompatible(this);
}

bool TOWSourcePin::DependsOn(TOWPin* pin)
{
    TOWGlobalReadLockSection global;
    const TWalkGuard walk(this, TWalk::DependsOn);
    if (!walk.Entered())
        return false;
    for (std::size_t i = 0; i < FFunctionSinks.Count(); ++i)
        if (FFunctionSinks.Items(i) == pin)
            return true;
    for (std::size_t i = 0; i < FFunctionSinks.Count(); ++i)
        if (FFunctionSinks.Items(i)->DependsOn(pin))
            return true;
    return false;
}

bool TOWSourcePin::DependsDirectlyOn(TOWPin* pin)
{
    TOWGlobalReadLockSection global;
    return FFunctionSinks.Contains(dynamic_cast<TOWSinkPin*>(pin));
}

bool TOWSourcePin::IsConnected()
{
    const TLinkedReadSection self(*this);
    return !FSinkEntries.empty() || Dispatcher() != nullptr;
}

bool TOWSourcePin::IsConnectedTo(TOWPin* pin)
{
    {
        const TLinkedReadSection self(*this);
        for (const TOWSinkPinEntry& entry : FSinkEntries)
            if (entry.Sink == pin)
                return true;
    }
    return TOWPin::IsConnectedTo(pin);
}

void TOWSourcePin::CollectTypes(TOWPinType& target, TOWPin* requester)
{
    TOWStreamPin::CollectTypes(target, requester);
    const TWalkGuard walk(this, TWalk::CollectTypes);
    if (!walk.Entered())
        return;
    for (std::size_t i = 0; i < FDataTypeSinks.Count(); ++i)
        if (FDataTypeSinks.Items(i) != requester)
            FDataTypeSinks.Items(i)->CollectTypes(target, this);
}

void TOWSourcePin::CollectTypesFor(TOWPinType& target, TOWPin* requester)
{
    TOWStreamPin::CollectTypesFor(target, requester);
    const TWalkGuard walk(this, TWalk::CollectTypes);
    if (!walk.Entered())
        return;
    for (std::size_t i = 0; i < FDataTypeSinks.Count(); ++i)
        if (FDataTypeSinks.Items(i) != requester)
            FDataTypeSinks.Items(i)->CollectTypesFor(target, this);
}

bool TOWSourcePin::QueryTypeDownstream(const TGUID& typeGuid)
{
    for (std::size_t i = 0; i < FDataTypeSinks.Count(); ++i)
        if (FDataTypeSinks.Items(i)->PinType().Find(typeGuid) == nullptr)
            return false;
    return true;
}

void TOWSourcePin::CollectChain(std::vector<std::vector<TOWObject*>>& paths, std::size_t path)
{
    TOWStreamPin::CollectChain(paths, path);
    const TWalkGuard walk(this, TWalk::CollectChain);
    if (!walk.Entered())
        return;
    for (std::size_t i = 0; i < FFunctionSinks.Count(); ++i)
    {
        std::size_t branch = path;
        if (i > 0)
        {
            paths.emplace_back();
            branch = paths.size() - 1;
        }
        FFunctionSinks.Items(i)->CollectChain(paths, branch);
    }
}

void TOWSourcePin::AddSink(TOWSinkPin* sink)
{
    const TGUID typeGuid = NegotiateForSink(sink);
    FSinkEntries.push_back({sink, typeGuid, HandlerFor(typeGuid), 0});
    RecordOwnerRootName();
}

void TOWSourcePin::RemoveSink(TOWSinkPin* sink, bool remember)
{
    auto found = std::find_if(FSinkEntries.begin(), FSinkEntries.end(),
                              [&](const TOWSinkPinEntry& entry) { return entry.Sink == sink; });
    if (found == FSinkEntries.end())
        return;
    FSinkEntries.erase(found);
    if (remember && !RootIsDestroying(*this))
        TOWPendingLinks::RememberSink(*this, *sink);
}

std::size_t TOWSourcePin::SinkCount()
{
    const TLinkedReadSection self(*this);
    return FSinkEntries.size();
}

TOWSinkPin* TOWSourcePin::Sinks(std::size_t index)
{
    const TLinkedReadSection self(*this);
    if (index >= FSinkEntries.size())
        throw ERangeError(
            Format("source pin: sink index %u out of range (%u sinks)",
                   {static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(FSinkEntries.size())}));
    return FSinkEntries[index].Sink;
}

bool TOWSourcePin::CanAcceptSink(TOWSinkPin* sink)
{
    return !NegotiateForSink(sink).IsNull();
}

void TOWSourcePin::SendConnectNotice(TOWSinkPin* sink, TOWPinHandler handler)
{
    if (!handler)
        return;
    const TDepthGuard depth(*this, kOWMaxConnectNoticeDepth);
    const TGUID typeGuid = NegotiateForSink(sink);
    if (typeGuid.IsNull())
        return;
    try
    {
        (void)handler(sink, typeGuid, kOWConnectionNotice | kOWLastRecipient, MakeRef<TOWNotifyOperation>());
    }
    catch (...)
    {
        // Like every delivery to a sink: a failing handler must not undo the connection; it is reported.
        ReportCurrentException([&] { return TOWPendingLinks::DiagnosticName(this); }, [&]
                               { return "connection notice to " + TOWPendingLinks::DiagnosticName(sink); });
    }
}

void TOWSourcePin::SinkConnected(TOWSinkPin* sink)
{
    for (const TOWSinkPinEntry& entry : FSinkEntries)
        if (entry.Sink == sink)
        {
            SendConnectNotice(sink, entry.Handler);
            return;
        }
}

bool TOWSourcePin::HasSinkPins()
{
    const TLinkedReadSection self(*this);
    return !FSinkEntries.empty() || !FPendingSinkNames.empty();
}

TGUID TOWSourcePin::NegotiateForSink(TOWSinkPin* sink)
{
    if (sink == nullptr)
        return kNullGuid;
    TOWPinTypeRestricted restricted;
    CollectTypes(restricted, this);
    for (std::size_t i = restricted.Count(); i-- > 0;)
        if (sink->GetTypeInterface(restricted.Entries(i).TypeGuid) != nullptr)
            return restricted.Entries(i).TypeGuid;
    // A sink that takes anything takes the type this source prefers.
    if ((sink->AcceptsAnyType() || sink->PinType().Empty()) && !restricted.Empty())
        return restricted.Entries(restricted.Count() - 1).TypeGuid;
    return kNullGuid;
}

std::vector<TOWSinkPinEntry> TOWSourcePin::SinkEntries()
{
    const TLinkedReadSection self(*this);
    return FSinkEntries;
}

void TOWSourcePin::AddPendingSinkNames(const std::string& name, const std::string& displayName)
{
    if (std::find(FPendingSinkNames.begin(), FPendingSinkNames.end(), name) != FPendingSinkNames.end())
        return;
    FPendingSinkNames.push_back(name);
    FPendingSinkDisplayNames.push_back(displayName);
}

void TOWSourcePin::RebuildSinkChains()
{
    const TWalkGuard walk(this, TWalk::RebuildChain);
    if (!walk.Entered())
        return;
    for (const TOWSinkPinEntry& entry : FSinkEntries)
        entry.Sink->RebuildUpstreamChain();
}

// --- TOWSinkPin --------------------------------------------------------------------------------------------

TOWSinkPin::TOWSinkPin(TComponent* owner) : TOWStreamPin(owner) {}

const TClassInfo& TOWSinkPin::StaticClassInfo()
{
    static const TClassInfo info("TOWSinkPin", &TOWStreamPin::StaticClassInfo(), {});
    return info;
}

void TOWSinkPin::DefineProperties(TFiler& filer)
{
    TOWStreamPin::DefineProperties(filer);
    filer.DefineProperty(
        "SourcePin", [this](const TDescValue& value) { ReadSourcePin(value); },
        [this] { return WriteSourcePin(); }, HasSourcePin());
}

void TOWSinkPin::ReadSourcePin(const TDescValue& value)
{
    const TOWPinNames names = TOWPendingLinks::ReadReference(value);
    TOWGlobalWriteLockSection global;
    if (names.Name == "nil")
    {
        SetPendingSourceNames({}, {});
        Connect(nullptr);
        return;
    }
    SetPendingSourceNames(names.Name, names.DisplayName);
    bool connected = false;
    for (TComponent* root : TOWPendingLinks::KnownRoots(this))
        connected = connected || TOWPendingLinks::ConnectByName(*this, *root, names.Name);
    if (!connected)
        TOWPendingLinks::RegisterPin(*this);
    TOWPendingLinks::ResetBudget();
    TOWPendingLinks::CompletePendingLinks(*this);
    TOWPendingLinks::ResolveAllPending(Owner());
}

TDescValue TOWSinkPin::WriteSourcePin()
{
    TOWGlobalReadLockSection global;
    if (FSourcePin != nullptr)
        return TOWPendingLinks::Reference(*this, FSourcePin);
    if (!FPendingSourceName.empty())
        return TOWPendingLinks::Reference(FPendingSourceName, FPendingSourceDisplayName);
    return TDescValue::Identifier("nil");
}

bool TOWSinkPin::ResolvePendingLinks(TComponent* root, bool designing)
{
    TOWGlobalWriteLockSection global;
    const bool groupResolved = TOWPin::ResolvePendingLinks(root, designing);
    if (!FPendingSourceName.empty() && root != nullptr)
        (void)TOWPendingLinks::ConnectByName(*this, *root, FPendingSourceName);
    return groupResolved && FPendingSourceName.empty();
}

TOWSinkPin::~TOWSinkPin()
{
    BeforeDestruction();
    {
        TOWGlobalWriteLockSection global;
        FUpstreamChain.clear();
        FFunctionSources.clear();
        FDataTypeSources.clear();
    }
    FAutoNil.Clear();
}

IOWInterface* TOWSinkPin::GetTypeInterface(const TGUID& iid)
{
    IOWInterface* found = QueryInterface(iid);
    return found != nullptr && QueryTypeUpstream(iid) ? found : nullptr;
}

void TOWSinkPin::RemoveLinkedObject(TOWPin* object)
{
    TOWPin::RemoveLinkedObject(object);
    EraseAll(FFunctionSources, object);
    EraseAll(FDataTypeSources, object);
}

TGUID TOWSinkPin::GetLinkType(TOWPin* pin)
{
    {
        const TLinkedReadSection self(*this);
        if (pin != nullptr && pin == FSourcePin)
            return FLinkType;
    }
    return IsConnectedTo(pin) ? FindCommonType(pin) : kNullGuid;
}

bool TOWSinkPin::Connect(TOWPin* pin)
{
    TOWGlobalWriteLockSection global;
    const TLinkedWriteSection self(*this);
    if (pin == FSourcePin)
        return true;
    // A link across two forms being edited survives the closing of this one as a pending name.
    const bool remember = Designing() && RootIsDestroying(*this);
    if (pin == nullptr)
    {
        DisconnectFromSource(remember);
        return true;
    }
    if (!IsCompatible(pin))
        return false;
    TOWPin::Disconnect();
    DisconnectFromSource(remember);
    auto* source = dynamic_cast<TOWSourcePin*>(pin);
    if (source == nullptr)
    {
        // A state pin takes this sink into its group.
        const bool joined = pin->Connect(this);
        RebuildUpstreamChain();
        return joined;
    }
    ConnectToSource(source);
    return true;
}

void TOWSinkPin::ConnectToSource(TOWSourcePin* source)
{
    FSourcePin = source;
    FPendingSourceName.clear();
    FPendingSourceDisplayName.clear();
    source->AddSink(this);
    Renegotiate();
    source->SinkConnected(this);
    // Sources whose type follows this sink's link offer the new type to their own sinks.
    for (TOWSourcePin* dependant : FDataTypeSources)
    {
        for (TOWSinkPinEntry& entry : dependant->FSinkEntries)
        {
            entry.TypeGuid = dependant->NegotiateForSink(entry.Sink);
            entry.Handler = dependant->HandlerFor(entry.TypeGuid);
        }
        for (const TOWSinkPinEntry& entry : dependant->FSinkEntries)
            entry.Sink->Renegotiate();
    }
    RebuildUpstreamChain();
}

void TOWSinkPin::Renegotiate()
{
    if (FSourcePin == nullptr)
        return;
    FLinkType = NegotiateWithSource(FSourcePin);
    const TOWPinTypeEntry* entry = PinType().Find(FLinkType);
    FSourceHandler = entry != nullptr ? entry->Handler : TOWPinHandler();
}

void TOWSinkPin::DisconnectFromSource(bool remember)
{
    TOWSourcePin* source = std::exchange(FSourcePin, nullptr);
    if (source == nullptr)
        return;
    source->RemoveSink(this, remember);
    FSourceHandler = TOWPinHandler();
    FLinkType = kNullGuid;
    RebuildUpstreamChain();
}

void TOWSinkPin::SourceDropped()
{
    FSourcePin = nullptr;
    FSourceHandler = TOWPinHandler();
    FLinkType = kNullGuid;
    RebuildUpstreamChain();
}

void TOWSinkPin::Disconnect()
{
    TOWGlobalWriteLockSection global;
    std::optional<TOWWriteLockSection> source;
    if (FSourcePin != nullptr)
        source.emplace(*FSourcePin);
    TOWWriteLockSection self(*this);
    TOWPin::Disconnect();
    Connect(nullptr);
}

bool TOWSinkPin::Notify(const TRefPtr<TOWNotifyOperation>& operation)
{
    RefuseNullOperation(operation, "sink pin");
    TOWGlobalReadLockSection global;
    TOWPendingLinks::CompletePendingLinks(*this);
    const TChainReadHold hold(FUpstreamChain);
    if (FSourcePin == nullptr || !FSourceHandler)
        return false;
    return FSourceHandler(FSourcePin, FLinkType, kOWLastRecipient, operation);
}

bool TOWSinkPin::CanConnect(TOWPin* pin)
{
    if (pin == nullptr)
        return true;
    if (auto* source = dynamic_cast<TOWSourcePin*>(pin))
        return source->CanAcceptSink(this) && CanAcceptSource(source);
    if (dynamic_cast<TOWStatePin*>(pin) != nullptr)
        return !pin->FindCommonType(this).IsNull();
    return false;
}

bool TOWSinkPin::IsCompatible(TOWPin* pin)
{
    if (TOWPin::IsCompatible(pin))
        return true;
    if (pin == nullptr || pin == this || pin->Designing() != Designing() || !CanConnect(pin))
        return false;
    // A source that depends on this sink would close a loop.
    return !pin->DependsOn(this);
}

bool TOWSinkPin::DependsOn(TOWPin* pin)
{
    TOWGlobalReadLockSection global;
    if (FSourcePin == nullptr)
        return false;
    return pin == FSourcePin || FSourcePin->DependsOn(pin);
}

bool TOWSinkPin::DependsDirectlyOn(TOWPin* pin)
{
    TOWGlobalReadLockSection global;
    return FSourcePin != nullptr && FSourcePin->DependsDirectlyOn(pin);
}

bool TOWSinkPin::IsConnected()
{
    const TLinkedReadSection self(*this);
    return IsConnectedUnderGlobalLock();
}

bool TOWSinkPin::IsConnectedUnderGlobalLock()
{
    TOWPendingLinks::CompletePendingLinks(*this);
    return FSourcePin != nullptr || Dispatcher() != nullptr;
}

bool TOWSinkPin::IsConnectedTo(TOWPin* pin)
{
    {
        const TLinkedReadSection self(*this);
        if (pin != nullptr && pin == FSourcePin)
            return true;
    }
    return TOWPin::IsConnectedTo(pin);
}

void TOWSinkPin::CollectTypes(TOWPinType& target, TOWPin* requester)
{
    TOWStreamPin::CollectTypes(target, requester);
    const TWalkGuard walk(this, TWalk::CollectTypes);
    if (!walk.Entered())
        return;
    for (TOWSourcePin* source : FDataTypeSources)
        if (source != requester)
            source->CollectTypes(target, this);
}

void TOWSinkPin::CollectTypesFor(TOWPinType& target, TOWPin* requester)
{
    TOWStreamPin::CollectTypesFor(target, requester);
    if (FAcceptsAnyType)
        return;
    const TWalkGuard walk(this, TWalk::CollectTypes);
    if (!walk.Entered())
        return;
    for (TOWSourcePin* source : FDataTypeSources)
        if (source != requester)
            source->CollectTypesFor(target, this);
}

bool TOWSinkPin::QueryTypeUpstream(const TGUID& typeGuid)
{
    for (TOWSourcePin* source : FDataTypeSources)
        if (source->PinType().Find(typeGuid) == nullptr)
            return false;
    return true;
}

void TOWSinkPin::CollectChain(std::vector<std::vector<TOWObject*>>& paths, std::size_t path)
{
    TOWStreamPin::CollectChain(paths, path);
    const TWalkGuard walk(this, TWalk::CollectChain);
    if (walk.Entered() && FSourcePin != nullptr)
        FSourcePin->CollectChain(paths, path);
}

bool TOWSinkPin::CanAcceptSource(TOWSourcePin* source)
{
    if (FAcceptsAnyType || PinType().Empty())
        return true;
    return !NegotiateWithSource(source).IsNull();
}

TOWSourcePin* TOWSinkPin::GetSourcePin()
{
    const TLinkedReadSection self(*this);
    return FSourcePin;
}

bool TOWSinkPin::HasSourcePin()
{
    const TLinkedReadSection self(*this);
    return FSourcePin != nullptr || !FPendingSourceName.empty();
}

TGUID TOWSinkPin::NegotiateWithSource(TOWSourcePin* source)
{
    if (source == nullptr)
        return kNullGuid;
    TGUID preferred = kNullGuid;
    for (const TOWSinkPinEntry& entry : source->FSinkEntries)
        if (entry.Sink == this)
            preferred = entry.TypeGuid;
    if (preferred.IsNull())
        preferred = source->NegotiateForSink(this);
    if (FAcceptsAnyType || PinType().Empty())
        return preferred;
    TOWPinTypeRestricted restricted;
    CollectTypesFor(restricted, source);
    TGUID fallback = kNullGuid;
    for (std::size_t i = restricted.Count(); i-- > 0;)
    {
        const TGUID& typeGuid = restricted.Entries(i).TypeGuid;
        if (source->GetTypeInterface(typeGuid) == nullptr)
            continue;
        if (typeGuid == preferred)
            return typeGuid;
        if (fallback.IsNull())
            fallback = typeGuid;
    }
    return fallback;
}

TGUID TOWSinkPin::LinkType()
{
    TOWReadLockSection self(*this);
    return FLinkType;
}

std::vector<TOWObject*> TOWSinkPin::UpstreamChain()
{
    TOWGlobalReadLockSection global;
    return FUpstreamChain;
}

void TOWSinkPin::SetPendingSourceNames(std::string name, std::string displayName)
{
    FPendingSourceName = std::move(name);
    FPendingSourceDisplayName = std::move(displayName);
}

void TOWSinkPin::RebuildUpstreamChain()
{
    const TWalkGuard walk(this, TWalk::RebuildChain);
    if (!walk.Entered())
        return;
    FUpstreamChain.clear();
    // Sinks downstream of this one through a functional dependency lock this sink's chain as well.
    for (TOWSourcePin* source : FFunctionSources)
        source->RebuildSinkChains();
    if (FSourcePin == nullptr)
        return;
    std::vector<std::vector<TOWObject*>> paths{{this}};
    FSourcePin->CollectChain(paths, 0);
    // Farthest first: the last element of each path in turn, paths from the last to the first.
    for (bool taken = true; taken;)
    {
        taken = false;
        for (std::size_t p = paths.size(); p-- > 0;)
        {
            if (paths[p].empty())
                continue;
            TOWObject* object = paths[p].back();
            paths[p].pop_back();
            if (!ContainsItem(FUpstreamChain, object))
                FUpstreamChain.push_back(object);
            taken = true;
        }
    }
}

// --- state pins --------------------------------------------------------------------------------------------

TOWStatePin::~TOWStatePin()
{
    BeforeDestruction();
}

const TClassInfo& TOWStatePin::StaticClassInfo()
{
    static const TClassInfo info("TOWStatePin", &TOWPin::StaticClassInfo(), {});
    return info;
}

std::size_t TOWStatePin::MemberCount()
{
    const TLinkedReadSection self(*this);
    return Dispatcher() == nullptr ? 0 : Dispatcher()->MemberCount();
}

TOWPin* TOWStatePin::Members(std::size_t index)
{
    const TLinkedReadSection self(*this);
    if (Dispatcher() == nullptr)
        throw ERangeError(Format("state pin: member index %u out of range (no group)",
                                 {static_cast<std::uint32_t>(index)}));
    return Dispatcher()->Members(index);
}

TGUID TOWStatePin::GetLinkType(TOWPin* pin)
{
    return IsConnectedTo(pin) ? FindCommonType(pin) : kNullGuid;
}

void TOWStatePin::StateChanged()
{
    TOWStateDispatcher* dispatcher = Dispatcher();
    if (dispatcher == nullptr)
        return;
    const std::vector<TOWPin*> members = dispatcher->MemberList();
    auto ask = [&](TOWPin* member) {
        member->NotifyPeers(MakeRef<TOWNotifyOperation>(), kOWConnectionNotice,
                            member == this ? nullptr : this);
    };
    for (TOWPin* member : members)
        if (dynamic_cast<TOWSourcePin*>(member) != nullptr)
        {
            ask(member);
            return;
        }
    for (TOWPin* member : members)
        if (dynamic_cast<TOWSinkPin*>(member) == nullptr)
            ask(member);
}

bool TOWStatePin::CanConnect(TOWPin* pin)
{
    if (pin == nullptr)
        return true;
    if (pin == this)
        return false;
    if (dynamic_cast<TOWStatePin*>(pin) != nullptr)
        return !FindCommonType(pin).IsNull() || !pin->FindCommonType(this).IsNull();
    if (dynamic_cast<TOWSinkPin*>(pin) != nullptr)
        return !FindCommonType(pin).IsNull();
    if (dynamic_cast<TOWSourcePin*>(pin) != nullptr)
        return !pin->FindCommonType(this).IsNull();
    return false;
}

bool TOWStatePin::IsCompatible(TOWPin* pin)
{
    if (pin == nullptr || pin == this || pin->Designing() != Designing())
        return false;
    if (dynamic_cast<TOWSourcePin*>(pin) != nullptr)
        return !pin->FindCommonType(this).IsNull();
    return !FindCommonType(pin).IsNull();
}

bool TOWStatePin::DependsOn(TOWPin* pin)
{
    return IsConnectedTo(pin);
}

bool TOWStatePin::DependsDirectlyOn(TOWPin* pin)
{
    return IsConnectedTo(pin);
}

// --- TOWStateDispatcher ------------------------------------------------------------------------------------

TOWStateDispatcher::TOWStateDispatcher(std::string name, bool designing)
    : FName(std::move(name)), FDesigning(designing)
{
    TDispatcherRegistry& registry = Dispatchers();
    TCriticalSectionGuard guard(registry.Lock);
    registry.Of(FDesigning).push_back(this);
}

const TClassInfo& TOWStateDispatcher::StaticClassInfo()
{
    static const TClassInfo info(
        "TOWStateDispatcher", &TOWObject::StaticClassInfo(),
        TPropertyList<TOWStateDispatcher>()
            .String(
                "Name", [](const TOWStateDispatcher& d) { return d.Name(); },
                [](TOWStateDispatcher&, const std::string&)
                { throw EReadError("the name of a state group is given by its members' State"); })
            .Take());
    return info;
}

TDescValue TOWStateDispatcher::StoreState(TOWPin& member)
{
    TOWGlobalWriteLockSection global;
    TComponent* root = member.Owner() != nullptr ? &member.Owner()->Root() : nullptr;
    if (FWrittenCount == 0)
        FWrittenRoots.clear();
    auto otherRoot = [&](const TOWPin* pin)
    { return pin->Owner() == nullptr || &pin->Owner()->Root() != root; };
    const bool spansRoots = std::any_of(FMemberList.begin(), FMemberList.end(), otherRoot);
    TDescValue result = TDescValue::String(FName);
    if (!ContainsItem(FWrittenRoots, root) && (spansRoots || !FPendingNames.empty()))
    {
        std::vector<TDescValue> items{TDescValue::String(FName)};
        for (TOWPin* pin : FMemberList)
            if (otherRoot(pin))
            {
                auto proxy = MakeRef<TOWStateProxy>(*pin);
                items.push_back(TOWPendingLinks::Reference(proxy->GetName(), proxy->GetDisplayText()));
            }
        for (std::size_t i = 0; i < FPendingNames.size(); ++i)
            items.push_back(TOWPendingLinks::Reference(FPendingNames[i], FPendingDisplayNames[i]));
        result = TDescValue::List(std::move(items));
    }
    // One store pass spans the whole group: once every member has stored, the next pass starts afresh.
    if (!ContainsItem(FWrittenRoots, root))
        FWrittenRoots.push_back(root);
    if (++FWrittenCount >= static_cast<std::int32_t>(FMemberList.size()))
    {
        FWrittenRoots.clear();
        FWrittenCount = 0;
    }
    return result;
}

TOWStateDispatcher::~TOWStateDispatcher()
{
    TDispatcherRegistry& registry = Dispatchers();
    TCriticalSectionGuard guard(registry.Lock);
    EraseAll(registry.Designing, this);
    EraseAll(registry.Running, this);
}

std::size_t TOWStateDispatcher::MemberCount()
{
    TOWReadLockSection self(*this);
    return FMemberList.size();
}

TOWPin* TOWStateDispatcher::Members(std::size_t index)
{
    TOWReadLockSection self(*this);
    if (index >= FMemberList.size())
        throw ERangeError(Format(
            "state group '%s': member index %u out of range (%u members)",
            {FName, static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(FMemberList.size())}));
    return FMemberList[index];
}

std::vector<TOWPin*> TOWStateDispatcher::MemberList()
{
    TOWReadLockSection self(*this);
    return FMemberList;
}

void TOWStateDispatcher::AddMember(TOWPin* pin)
{
    TOWGlobalWriteLockSection global;
    TOWWriteLockSection self(*this);
    if (pin == nullptr || ContainsItem(FMemberList, pin))
        return;
    FMemberList.push_back(pin);
    if (FPendingNames.empty())
        return;
    for (const std::string& name :
         {TOWPendingLinks::PinName(pin, false), TOWPendingLinks::PinName(pin, true)})
        for (std::size_t i = 0; i < FPendingNames.size();)
            if (FPendingNames[i] == name)
            {
                FPendingNames.erase(FPendingNames.begin() + static_cast<std::ptrdiff_t>(i));
                FPendingDisplayNames.erase(FPendingDisplayNames.begin() + static_cast<std::ptrdiff_t>(i));
            }
            else
                ++i;
}

void TOWStateDispatcher::RemoveMember(TOWPin* pin)
{
    // GlobalLock's write hold spans the freeing, so that nobody finds the dispatcher by name meanwhile.
    TOWGlobalWriteLockSection global;
    bool empty = false;
    {
        TOWWriteLockSection self(*this);
        EraseAll(FMemberList, pin);
        if (FMemberList.size() == 1)
        {
            FMemberList.front()->SetDispatcher(nullptr);
            FMemberList.clear();
        }
        empty = FMemberList.empty();
    }
    if (empty)
        delete this;
}

bool TOWStateDispatcher::ResolvePending()
{
    TOWGlobalWriteLockSection global;
    if (FPendingNames.empty())
        return true;
    if (FMemberList.empty() || FMemberList.front()->Owner() == nullptr)
        return false;
    for (const auto& [name, pin] : TOWPendingLinks::PinsOfRoot(FMemberList.front()->Owner()->Root(), false))
        if (std::find(FPendingNames.begin(), FPendingNames.end(), name) != FPendingNames.end())
            (void)pin->JoinDispatcher(this);
    return FPendingNames.empty();
}

void TOWStateDispatcher::AddPendingName(const std::string& name, const std::string& displayName)
{
    TOWGlobalWriteLockSection global;
    FPendingNames.push_back(name);
    FPendingDisplayNames.push_back(displayName);
}

TOWStateDispatcher* TOWStateDispatcher::Find(const std::string& name, bool designing)
{
    TDispatcherRegistry& registry = Dispatchers();
    TCriticalSectionGuard guard(registry.Lock);
    for (TOWStateDispatcher* dispatcher : registry.Of(designing))
        if (dispatcher->FName == name)
            return dispatcher;
    return nullptr;
}

TOWStateDispatcher* TOWStateDispatcher::FindOrCreate(const std::string& name, bool designing)
{
    TDispatcherRegistry& registry = Dispatchers();
    TCriticalSectionGuard guard(registry.Lock);
    if (TOWStateDispatcher* found = Find(name, designing))
        return found;
    return new TOWStateDispatcher(name, designing);
}

std::string TOWStateDispatcher::UniqueName(const std::string& rootName, bool designing)
{
    TDispatcherRegistry& registry = Dispatchers();
    TCriticalSectionGuard guard(registry.Lock);
    for (std::uint32_t n = 1;; ++n)
    {
        std::string name = rootName + "Link" + std::to_string(n);
        if (Find(name, designing) == nullptr)
            return name;
    }
}

std::size_t TOWStateDispatcher::LiveCount()
{
    TDispatcherRegistry& registry = Dispatchers();
    TCriticalSectionGuard guard(registry.Lock);
    return registry.Designing.size() + registry.Running.size();
}

// --- TOWStateProxy -----------------------------------------------------------------------------------------

std::string TOWStateProxy::GetName()
{
    return FPin != nullptr ? TOWPendingLinks::PinName(FPin, true) : FName;
}

std::string TOWStateProxy::GetDisplayText()
{
    return FPin != nullptr ? TOWPendingLinks::PinDisplayName(FPin, true) : FDisplayName;
}

std::string TOWStateProxy::GetRootName()
{
    if (FPin != nullptr)
        return FPin->RootName();
    return FDisplayName.substr(0, FDisplayName.find('.'));
}

}   // namespace harvolin
