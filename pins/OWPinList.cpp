#include "pins/OWPinList.h"
#include "rtl/Component.h"
#include "rtl/Threads.h"
#include <algorithm>
#include <atomic>
#include <functional>

namespace harvolin
{
namespace
{

constexpr std::int32_t kResolutionBudget = 10;
// Nested persistent objects walked for pins below a component's properties.
constexpr int kMaxPropertyDepth = 20;

template <class T, class U>
bool ContainsItem(const std::vector<T*>& list, const U* item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

template <class T, class U>
void EraseAll(std::vector<T*>& list, const U* item)
{
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

// Pins and pin lists whose links read from a stored description are not all made yet.
struct TPendingRegistry
{
    TCriticalSection Lock;
    std::vector<TOWPin*> Pins;           // guarded by Lock
    std::vector<TOWPinList*> PinLists;   // guarded by Lock
    std::atomic<std::int32_t> Budget{0};
    std::atomic<bool> Running{false};
};

TPendingRegistry& PendingRegistry()
{
    static TPendingRegistry registry;
    return registry;
}

// A pin that a published property holds, with the property path that names it.
struct TFoundPin
{
    TOWPin* Pin;
    TOWPinNames Path;   // "OutputPin" / "InputPins._Pin1" and "InputPins.Pin [1]"
};

// Walks the published class-typed properties of object for the pins they hold (directly or in a pin
// list), and into other persistent objects that are not components, each once, to a bounded depth.
void WalkProperties(TPersistent& object, const std::string& prefix, int depth,
                    std::vector<TPersistent*>& seen, const std::function<void(const TFoundPin&)>& found)
{
    if (depth > kMaxPropertyDepth || ContainsItem(seen, &object))
        return;
    seen.push_back(&object);
    for (const TPropertyInfo* property : object.ClassInfo().Properties())
    {
        if (property->Kind != TPropertyKind::pkClass)
            continue;
        TPersistent* value = nullptr;
        try
        {
            value = property->Object(object);
        }
        catch (...)
        {
            // A property that cannot be read names no pins.
            continue;
        }
        if (value == nullptr)
            continue;
        const std::string path = prefix + property->Name;
        if (auto* pin = dynamic_cast<TOWPin*>(value))
            found({pin, {path, path}});
        else if (auto* list = dynamic_cast<TOWPinList*>(value))
        {
            for (std::size_t i = 0; i < list->Count(); ++i)
                found({list->Pins(i), {path + "._Pin" + std::to_string(i), path + "." + list->EntryName(i)}});
        }
        else if (dynamic_cast<TComponent*>(value) == nullptr)
            WalkProperties(*value, path + ".", depth + 1, seen, found);
    }
}

void WalkComponent(TComponent& component, const std::function<void(const TFoundPin&)>& found)
{
    std::vector<TPersistent*> seen;
    WalkProperties(component, "", 0, seen, found);
}

// The property path under which owner publishes pin, or "(Unpublished)".
TOWPinNames PublishedPath(TComponent& owner, const TOWPin* pin)
{
    TOWPinNames path{"(Unpublished)", "(Unpublished)"};
    bool named = false;
    WalkComponent(owner,
                  [&](const TFoundPin& found)
                  {
                      if (!named && found.Pin == pin)
                      {
                          path = found.Path;
                          named = true;
                      }
                  });
    return path;
}

}   // namespace

// --- the registry ------------------------------------------------------------------------------------------

void TOWPendingLinks::CompletePendingLinks(TOWPin& pin)
{
    if (pin.LinksResolved())
        return;
    TComponent* owner = pin.Owner();
    if (owner != nullptr && owner->ComponentState().Contains(TComponentStateFlag::csLoading))
        return;
    pin.SetLinksResolved();
    ResetBudget();
    ResolveAllPending(owner);
}

void TOWPendingLinks::RegisterPin(TOWPin& pin)
{
    TPendingRegistry& registry = PendingRegistry();
    {
        TCriticalSectionGuard guard(registry.Lock);
        if (!ContainsItem(registry.Pins, &pin))
            registry.Pins.push_back(&pin);
    }
    ResetBudget();
}

void TOWPendingLinks::RegisterPinList(TOWPinList& list)
{
    TPendingRegistry& registry = PendingRegistry();
    {
        TCriticalSectionGuard guard(registry.Lock);
        if (!ContainsItem(registry.PinLists, &list))
            registry.PinLists.push_back(&list);
    }
    ResetBudget();
}

void TOWPendingLinks::ForgetPin(TOWPin& pin) noexcept
{
    TPendingRegistry& registry = PendingRegistry();
    TCriticalSectionGuard guard(registry.Lock);
    EraseAll(registry.Pins, &pin);
}

void TOWPendingLinks::ForgetPinList(TOWPinList& list) noexcept
{
    TPendingRegistry& registry = PendingRegistry();
    TCriticalSectionGuard guard(registry.Lock);
    EraseAll(registry.PinLists, &list);
}

bool TOWPendingLinks::IsPending(const TOWPin& pin)
{
    TPendingRegistry& registry = PendingRegistry();
    TCriticalSectionGuard guard(registry.Lock);
    return ContainsItem(registry.Pins, &pin);
}

bool TOWPendingLinks::IsPending(const TOWPinList& list)
{
    TPendingRegistry& registry = PendingRegistry();
    TCriticalSectionGuard guard(registry.Lock);
    return ContainsItem(registry.PinLists, &list);
}

void TOWPendingLinks::ResolveAllPending(TComponent* component)
{
    TPendingRegistry& registry = PendingRegistry();
    auto nothingToDo = [&]
    { return (registry.Pins.empty() && registry.PinLists.empty()) || registry.Budget.load() <= 0; };
    {
        TCriticalSectionGuard guard(registry.Lock);
        if (nothingToDo())
            return;
    }
    // Links are made under GlobalLock's write hold, and GlobalLock comes before the registry's lock: the
    // registry is never held while a pin resolves. The write hold also keeps every pending pin alive.
    TOWGlobalWriteLockSection global;
    std::vector<TOWPin*> pins;
    std::vector<TOWPinList*> lists;
    {
        TCriticalSectionGuard guard(registry.Lock);
        if (nothingToDo() || registry.Running.exchange(true))
            return;
        registry.Budget.fetch_sub(1);
        pins = registry.Pins;
        lists = registry.PinLists;
    }
    struct TEndPass
    {
        TPendingRegistry& Registry;
        ~TEndPass() { Registry.Running.store(false); }
    } endPass{registry};
    // The roots to resolve against: the component's, then those holding pending links.
    std::vector<TComponent*> roots;
    auto addRoot = [&](TComponent* owner)
    {
        if (owner != nullptr && !ContainsItem(roots, &owner->Root()))
            roots.push_back(&owner->Root());
    };
    addRoot(component);
    for (TOWPin* pin : pins)
        addRoot(pin->Owner());
    for (TOWPinList* list : lists)
        addRoot(list->Owner());
    for (TComponent* root : roots)
    {
        const bool designing = root->ComponentState().Contains(TComponentStateFlag::csDesigning);
        for (TOWPin* pin : pins)
            if (IsPending(*pin) && pin->ResolvePendingLinks(root, designing))
                ForgetPin(*pin);
        for (TOWPinList* list : lists)
            if (IsPending(*list) && list->ResolvePending())
                ForgetPinList(*list);
    }
}

std::int32_t TOWPendingLinks::Budget() noexcept
{
    return PendingRegistry().Budget.load();
}

void TOWPendingLinks::ResetBudget() noexcept
{
    PendingRegistry().Budget.store(kResolutionBudget);
}

void TOWPendingLinks::RememberSink(TOWSourcePin& source, TOWSinkPin& sink)
{
    const TOWPinNames names = Names(&sink, AcrossRoots(source, sink));
    source.AddPendingSinkNames(names.Name, names.DisplayName);
    RegisterPin(source);
}

void TOWPendingLinks::RememberSource(TOWSinkPin& sink, TOWSourcePin& source)
{
    const TOWPinNames names = Names(&source, AcrossRoots(source, sink));
    sink.SetPendingSourceNames(names.Name, names.DisplayName);
    RegisterPin(sink);
}

// --- names -------------------------------------------------------------------------------------------------

TOWPinNames TOWPendingLinks::Names(const TOWPin* pin, bool qualified)
{
    if (pin == nullptr)
        return {"(Disconnected)", "(Disconnected)"};
    TComponent* owner = pin->Owner();
    if (owner == nullptr)
        return {"(No owner)", "(No owner)"};
    const TOWPinNames path = PublishedPath(*owner, pin);
    std::string prefix = owner->Name() + ".";
    if (qualified)
    {
        // A pin whose owner left its root still names the root it was linked under.
        const std::string rootName = owner->Owner() == nullptr ? pin->OwnerRootName() : pin->RootName();
        prefix = rootName + "." + prefix;
    }
    return {prefix + path.Name, prefix + path.DisplayName};
}

std::string TOWPendingLinks::DiagnosticName(const TOWPin* pin)
{
    if (pin == nullptr)
        return "(Disconnected)";
    TComponent* owner = pin->Owner();
    if (owner == nullptr)
        return pin->ClassName();
    const std::string& ownerName = owner->Name().empty() ? owner->ClassName() : owner->Name();
    return ownerName + "." + PublishedPath(*owner, pin).DisplayName;
}

bool TOWPendingLinks::AcrossRoots(const TOWPin& a, const TOWPin& b)
{
    if (a.Owner() == nullptr || b.Owner() == nullptr)
        return false;
    return &a.Owner()->Root() != &b.Owner()->Root();
}

std::vector<std::pair<std::string, TOWPin*>> TOWPendingLinks::PinsOfRoot(TComponent& root, bool qualified,
                                                                         bool display)
{
    std::vector<std::pair<std::string, TOWPin*>> pins;
    const std::string rootPrefix = qualified ? root.Name() + "." : std::string();
    std::function<void(TComponent&)> walk = [&](TComponent& parent)
    {
        for (std::size_t i = 0; i < parent.ComponentCount(); ++i)
        {
            TComponent& component = parent.Components(i);
            if (component.ComponentState().Contains(TComponentStateFlag::csDestroying))
                continue;
            WalkComponent(component,
                          [&](const TFoundPin& found)
                          {
                              if (found.Pin != nullptr && found.Pin->Owner() == &component)
                                  pins.emplace_back(rootPrefix + component.Name() + "." +
                                                        (display ? found.Path.DisplayName : found.Path.Name),
                                                    found.Pin);
                          });
            walk(component);
        }
    };
    walk(root);
    return pins;
}

bool TOWPendingLinks::ConnectByName(TOWPin& pin, TComponent& root, const std::string& name)
{
    const bool qualified = pin.Owner() == nullptr || &pin.Owner()->Root() != &root;
    for (const auto& [candidateName, candidate] : PinsOfRoot(root, qualified))
    {
        if (candidateName != name || candidate == &pin || !pin.CanConnect(candidate))
            continue;
        // A source connects the sink it found to itself.
        if (dynamic_cast<TOWSourcePin*>(&pin) != nullptr)
            return candidate->Connect(&pin);
        return pin.Connect(candidate);
    }
    return false;
}

std::vector<TComponent*> TOWPendingLinks::KnownRoots(const TOWPin* pin)
{
    std::vector<TComponent*> roots;
    auto addRoot = [&](TComponent* owner)
    {
        if (owner != nullptr && !ContainsItem(roots, &owner->Root()))
            roots.push_back(&owner->Root());
    };
    if (pin != nullptr)
        addRoot(pin->Owner());
    for (TComponent* root : TComponent::LiveRoots())
        addRoot(root);
    TPendingRegistry& registry = PendingRegistry();
    TCriticalSectionGuard guard(registry.Lock);
    for (TOWPin* pending : registry.Pins)
        addRoot(pending->Owner());
    for (TOWPinList* list : registry.PinLists)
        addRoot(list->Owner());
    return roots;
}

TDescValue TOWPendingLinks::Reference(const TOWPin& from, const TOWPin* target)
{
    if (target == nullptr)
        return TDescValue::Identifier("nil");
    const TOWPinNames names = Names(target, AcrossRoots(from, *target));
    return Reference(names.Name, names.DisplayName);
}

TDescValue TOWPendingLinks::Reference(const std::string& name, const std::string& displayName)
{
    if (name == displayName)
        return TDescValue::Identifier(name);
    return TDescValue::List({TDescValue::Identifier(name), TDescValue::String(displayName)});
}

TOWPinNames TOWPendingLinks::ReadReference(const TDescValue& value)
{
    if (value.Kind() == TDescValue::TKind::vkIdentifier)
        return {value.AsIdentifier(), value.AsIdentifier()};
    if (value.Kind() == TDescValue::TKind::vkList && value.AsList().size() == 2 &&
        value.AsList()[0].Kind() == TDescValue::TKind::vkIdentifier &&
        value.AsList()[1].Kind() == TDescValue::TKind::vkString)
        return {value.AsList()[0].AsIdentifier(), value.AsList()[1].AsString()};
    throw EReadError("expected a pin reference: an identifier, or (identifier 'display name'), found " +
                     TDescValue::KindName(value.Kind()));
}

// --- TOWPinList --------------------------------------------------------------------------------------------

TOWPinList::TOWPinList(TComponent* owner) : FOwner(owner)
{
    TOWPendingLinks::ResetBudget();
}

TOWPinList::~TOWPinList()
{
    TOWPendingLinks::ForgetPinList(*this);
    TOWPendingLinks::ResolveAllPending(FOwner);
    Clear();
}

const TClassInfo& TOWPinList::StaticClassInfo()
{
    static const TClassInfo info(
        "TOWPinList", &TOWObject::StaticClassInfo(),
        TPropertyList<TOWPinList>()
            .Integer(
                "Count", [](const TOWPinList& list) { return list.Count(); },
                [](TOWPinList& list, std::int32_t count) { list.SetCount(count); })
            .Boolean(
                "PinsOwner", [](const TOWPinList& list) { return list.PinsOwner(); },
                [](TOWPinList& list, bool value) { list.SetPinsOwner(value); }, kDefaultPinsOwner)
            .Take());
    return info;
}

void TOWPinList::DefineProperties(TFiler& filer)
{
    TOWObject::DefineProperties(filer);
    filer.DefineProperty(
        "Pins", [this](const TDescValue& value) { ReadPins(value); }, [this] { return WritePins(); },
        HasPins());
}

std::size_t TOWPinList::Count() const
{
    // The list is its own lock object, and a lock section holds it by non-const reference; a read hold
    // changes nothing a reader of the list sees.
    TOWReadLockSection self(const_cast<TOWPinList&>(*this));
    return FEntries.size();
}

void TOWPinList::SetCount(std::int32_t count)
{
    (void)count;
}

TOWPin* TOWPinList::Pins(std::size_t index)
{
    TOWReadLockSection self(*this);
    if (index >= FEntries.size())
        throw ERangeError(
            Format("pin list: index %u out of range (%u pins)",
                   {static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(FEntries.size())}));
    return FEntries[index].Pin;
}

std::string TOWPinList::EntryName(std::size_t index)
{
    TOWReadLockSection self(*this);
    if (index >= FEntries.size())
        throw ERangeError(
            Format("pin list: index %u out of range (%u pins)",
                   {static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(FEntries.size())}));
    const std::string& name = FEntries[index].Name;
    return name.empty() ? "Pin [" + std::to_string(index) + "]" : name;
}

void TOWPinList::Add(TOWPin* pin, const std::string& entryName)
{
    if (pin == nullptr)
        throw std::invalid_argument("pin list: cannot add a null pin");
    TOWGlobalWriteLockSection global;
    TOWWriteLockSection self(*this);
    FEntries.push_back({entryName, pin});
    if (pin->Owner() == FOwner)
        pin->SetPinList(this);
    TOWPendingLinks::ResetBudget();
}

void TOWPinList::ReleasePin(TOWPin* pin)
{
    if (FPinsOwner)
        delete pin;
    else if (pin->PinList() == this)
        pin->SetPinList(nullptr);
}

void TOWPinList::Remove(TOWPin* pin)
{
    TOWGlobalWriteLockSection global;
    TOWWriteLockSection self(*this);
    for (std::size_t i = FEntries.size(); i-- > 0;)
        if (FEntries[i].Pin == pin)
        {
            FEntries.erase(FEntries.begin() + static_cast<std::ptrdiff_t>(i));
            if (i < FPending.size())
                FPending.erase(FPending.begin() + static_cast<std::ptrdiff_t>(i));
            ReleasePin(pin);
            return;
        }
}

void TOWPinList::Clear()
{
    TOWGlobalWriteLockSection global;
    TOWWriteLockSection self(*this);
    // Taken out first: a pin's destructor must not find itself in the list it is being freed by.
    const std::vector<TEntry> entries = std::exchange(FEntries, {});
    for (const TEntry& entry : entries)
        ReleasePin(entry.Pin);
}

std::int32_t TOWPinList::IndexOf(const TOWPin* pin)
{
    TOWReadLockSection self(*this);
    for (std::size_t i = 0; i < FEntries.size(); ++i)
        if (FEntries[i].Pin == pin)
            return static_cast<std::int32_t>(i);
    return -1;
}

bool TOWPinList::HasPendingLinks()
{
    TOWReadLockSection self(*this);
    return std::any_of(FPending.begin(), FPending.end(), [](const TPending& p) { return !p.Empty(); });
}

void TOWPinList::ReadPins(const TDescValue& value)
{
    const std::vector<TDescValue>& items = value.AsList();
    std::vector<TPending> pending;
    std::vector<std::pair<std::size_t, TDescValue>> stateValues;
    // Read whole before anything changes, so that a malformed value changes nothing.
    for (std::size_t i = 0; i < items.size(); ++i)
    {
        TPending& entry = pending.emplace_back();
        const TDescValue& item = items[i];
        auto readSinks = [&](std::size_t at)
        {
            if (at >= items.size())
                throw EReadError("expected a list of sink pins after Sinks");
            for (const TDescValue& sink : items[at].AsList())
                entry.Sinks.push_back(TOWPendingLinks::ReadReference(sink));
        };
        if (item.IsIdentifier("nil"))
            continue;
        if (item.IsIdentifier("Sinks"))
        {
            readSinks(++i);
            continue;
        }
        if (item.IsIdentifier("State"))
        {
            if (i + 1 >= items.size())
                throw EReadError("expected a list holding a State value after State");
            const std::vector<TDescValue>& state = items[++i].AsList();
            if (state.empty())
                throw EReadError("expected a State value in the list after State");
            const TDescValue& group = state[0];
            entry.StateName = group.Kind() == TDescValue::TKind::vkList && !group.AsList().empty()
                                  ? group.AsList()[0].AsString()
                                  : group.AsString();
            if (state.size() >= 3 && state[1].IsIdentifier("Sinks"))
                for (const TDescValue& sink : state[2].AsList())
                    entry.Sinks.push_back(TOWPendingLinks::ReadReference(sink));
            else if (state.size() == 2)
            {
                const TOWPinNames source = TOWPendingLinks::ReadReference(state[1]);
                entry.SourceName = source.Name;
                entry.SourceDisplayName = source.DisplayName;
            }
            stateValues.emplace_back(pending.size() - 1, group);
            continue;
        }
        const TOWPinNames source = TOWPendingLinks::ReadReference(item);
        entry.SourceName = source.Name;
        entry.SourceDisplayName = source.DisplayName;
    }
    TOWGlobalWriteLockSection global;
    // A group value goes to the entry's pin when it exists already; that pin keeps the group's other
    // entries pending itself.
    for (const auto& [index, group] : stateValues)
        if (index < Count())
        {
            Pins(index)->LoadState(group);
            pending[index].StateName.clear();
        }
    {
        TOWWriteLockSection self(*this);
        FPending = std::move(pending);
    }
    TOWPendingLinks::RegisterPinList(*this);
    TOWPendingLinks::ResolveAllPending(FOwner);
}

TDescValue TOWPinList::WritePins()
{
    std::vector<TDescValue> items;
    for (std::size_t i = 0; i < Count(); ++i)
    {
        TOWPin* pin = Pins(i);
        auto* sink = dynamic_cast<TOWSinkPin*>(pin);
        auto* source = dynamic_cast<TOWSourcePin*>(pin);
        const bool sinkLinked = sink != nullptr && sink->HasSourcePin();
        const bool sourceLinked = source != nullptr && source->HasSinkPins();
        if (pin->HasState())
        {
            std::vector<TDescValue> state{pin->StoreState()};
            if (sinkLinked)
                state.push_back(sink->WriteSourcePin());
            else if (sourceLinked)
            {
                state.push_back(TDescValue::Identifier("Sinks"));
                state.push_back(source->WriteSinkPins());
            }
            items.push_back(TDescValue::Identifier("State"));
            items.push_back(TDescValue::List(std::move(state)));
        }
        else if (sinkLinked)
            items.push_back(sink->WriteSourcePin());
        else if (sourceLinked)
        {
            items.push_back(TDescValue::Identifier("Sinks"));
            items.push_back(source->WriteSinkPins());
        }
        else
            items.push_back(TDescValue::Identifier("nil"));
    }
    return TDescValue::List(std::move(items));
}

bool TOWPinList::HasPins()
{
    for (std::size_t i = 0; i < Count(); ++i)
        if (Pins(i)->IsConnected())
            return true;
    return false;
}

bool TOWPinList::ResolvePending()
{
    TOWGlobalWriteLockSection global;
    std::vector<TPending> pending;
    {
        TOWWriteLockSection self(*this);
        pending = FPending;
    }
    const std::size_t count = Count();
    for (std::size_t i = 0; i < pending.size() && i < count; ++i)
    {
        TPending& entry = pending[i];
        TOWPin* pin = Pins(i);
        // Each pin takes over what was read for it: it connects what exists and keeps the rest pending.
        if (!entry.StateName.empty())
        {
            pin->SetStateName(entry.StateName);
            entry.StateName.clear();
        }
        if (!entry.SourceName.empty())
            if (auto* sink = dynamic_cast<TOWSinkPin*>(pin))
            {
                sink->ReadSourcePin(TOWPendingLinks::Reference(entry.SourceName, entry.SourceDisplayName));
                entry.SourceName.clear();
                entry.SourceDisplayName.clear();
            }
        if (!entry.Sinks.empty())
            if (auto* source = dynamic_cast<TOWSourcePin*>(pin))
            {
                std::vector<TDescValue> references;
                for (const TOWPinNames& names : entry.Sinks)
                    references.push_back(TOWPendingLinks::Reference(names.Name, names.DisplayName));
                source->ReadSinkPins(TDescValue::List(std::move(references)));
                entry.Sinks.clear();
            }
    }
    while (!pending.empty() && pending.back().Empty())
        pending.pop_back();
    {
        TOWWriteLockSection self(*this);
        FPending = std::move(pending);
    }
    return !HasPendingLinks();
}

// --- collections ------------------------------------------------------------------------------------------

void TOWExtCollection::AddListener(IOWCollectionListener* listener)
{
    if (listener != nullptr && !ContainsItem(FListeners, listener))
        FListeners.push_back(listener);
}

void TOWExtCollection::RemoveListener(IOWCollectionListener* listener)
{
    EraseAll(FListeners, listener);
}

void TOWExtCollection::ItemAdded(TOWExtCollectionItem& item)
{
    (void)item;
}

void TOWExtCollection::ItemNamed(TCollectionItem& item)
{
    auto* extItem = dynamic_cast<TOWExtCollectionItem*>(&item);
    if (extItem == nullptr || extItem->FAnnounced)
        return;
    extItem->FAnnounced = true;
    ItemAdded(*extItem);
    for (IOWCollectionListener* listener : FListeners)
        listener->ItemAdded(*extItem);
}

TOWExtCollectionItem::~TOWExtCollectionItem()
{
    FAutoNil.Clear();
}

}   // namespace harvolin
