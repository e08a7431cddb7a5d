#pragma once
#include "pins/OWPins.h"
#include "rtl/Persistent.h"
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace harvolin
{

class TComponent;
class TOWPinList;

// A pin as a stored description names it: internal name (owner.property, owner.list._Pin1) and display
// name (owner.property, owner.list.Pin [1]).
struct TOWPinNames
{
    std::string Name;
    std::string DisplayName;
};

// The bookkeeping of links read from a stored description that are not made yet, the naming of pins by
// their owners' published properties, and the connection of pins by name. Every pin query, notification
// and connection change calls CompletePendingLinks() first, and destruction Forget...(), so that the
// resolution of links by name has one entry point into the pins.
//
// Threads: the registries have their own critical section, which comes after GlobalLock; a resolution pass
// holds GlobalLock for writing while it makes links. A pass started on a thread that holds GlobalLock for
// reading upgrades it, so two such threads must not start passes at once: passes happen while descriptions
// are read and at the first use of a pin after its owner has loaded, both on the window thread.
class TOWPendingLinks
{
public:
    // The pin's first-use bookkeeping: once its owner has finished loading, the pin is counted as resolved,
    // the budget is renewed and a resolution pass runs for the owner. Cheap after the first call.
    static void CompletePendingLinks(TOWPin& pin);
    // Registration of a pin or pin list with links still to make; renews the budget.
    static void RegisterPin(TOWPin& pin);
    static void RegisterPinList(TOWPinList& list);
    // They leave the registry (on destruction, or when nothing is pending any more).
    static void ForgetPin(TOWPin& pin) noexcept;
    static void ForgetPinList(TOWPinList& list) noexcept;
    [[nodiscard]] static bool IsPending(const TOWPin& pin);
    [[nodiscard]] static bool IsPending(const TOWPinList& list);
    // The global resolution pass for component (null: every root that holds pending links). Ends at once
    // while nothing is pending, the budget is spent or a pass is running.
    static void ResolveAllPending(TComponent* component);
    // Passes left before something new must be read or registered.
    [[nodiscard]] static std::int32_t Budget() noexcept;
    static void ResetBudget() noexcept;

    // A source drops a sink while the sink's form closes in a designer; the sink's names stay pending on the
    // source.
    static void RememberSink(TOWSourcePin& source, TOWSinkPin& sink);
    // A sink loses its source while the source's form closes in a designer; the source's names stay
    // pending on the sink.
    static void RememberSource(TOWSinkPin& sink, TOWSourcePin& source);

    // The names of pin, qualified with its root's name when qualified is set. "(Disconnected)" for a null
    // pin, "(No owner)" for a pin without owner, owner + ".(Unpublished)" for a pin that no published
    // property of its owner holds.
    [[nodiscard]] static TOWPinNames Names(const TOWPin* pin, bool qualified);
    [[nodiscard]] static std::string PinName(const TOWPin* pin, bool qualified)
    {
        return Names(pin, qualified).Name;
    }
    [[nodiscard]] static std::string PinDisplayName(const TOWPin* pin, bool qualified)
    {
        return Names(pin, qualified).DisplayName;
    }
    // The pin as a report of its failures names it: owner (its class when unnamed) and display path,
    // "SLSignalGen1.OutputPin", "ALRealToAudio1.InputPins.Pin [0]"; the pin's class without owner. Walks the
    // owner's published properties and reads its pin lists under their locks: for the failure path, not
    // for every block.
    [[nodiscard]] static std::string DiagnosticName(const TOWPin* pin);
    // True when the two pins belong to different roots, so that references between them are qualified.
    [[nodiscard]] static bool AcrossRoots(const TOWPin& a, const TOWPin& b);
    // Every pin that a published property of a component owned by root (at any depth) holds, with its
    // internal names (display names when display is set), prefixed with root's name when qualified is set.
    // Components being destroyed are skipped.
    [[nodiscard]] static std::vector<std::pair<std::string, TOWPin*>>
    PinsOfRoot(TComponent& root, bool qualified, bool display = false);
    // Connects pin to the pin of that internal name (an unqualified name within root, or a name qualified
    // with root's name) that pin can connect to; false when there is none.
    static bool ConnectByName(TOWPin& pin, TComponent& root, const std::string& name);
    // The roots that names can be resolved against: pin's own root, the forms and data modules alive, then
    // the roots of pending pins.
    [[nodiscard]] static std::vector<TComponent*> KnownRoots(const TOWPin* pin);

    // A stored reference to target as seen from the storing pin: the internal name as an identifier when
    // it equals the display name, else (identifier 'display'); qualified across roots.
    [[nodiscard]] static TDescValue Reference(const TOWPin& from, const TOWPin* target);
    [[nodiscard]] static TDescValue Reference(const std::string& name, const std::string& displayName);
    // Reads either shape of a reference; raises EReadError for anything else.
    [[nodiscard]] static TOWPinNames ReadReference(const TDescValue& value);
};

// A component's variable set of pins (the converter's inputs). Entries pair an entry name (may be empty)
// with a pin. With PinsOwner the list frees its pins when they leave it; without, it only detaches them.
// Structural changes hold GlobalLock for writing.
class TOWPinList : public TOWObject
{
public:
    explicit TOWPinList(TComponent* owner);
    ~TOWPinList() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    void DefineProperties(TFiler& filer) override;

    [[nodiscard]] TComponent* Owner() const noexcept { return FOwner; }
    [[nodiscard]] std::size_t Count() const;
    // Does nothing: the owner decides how many pins exist.
    virtual void SetCount(std::int32_t count);
    // Raise ERangeError outside [0, Count()).
    [[nodiscard]] TOWPin* Pins(std::size_t index);
    // The entry's name, or "Pin [index]" when it has none.
    [[nodiscard]] std::string EntryName(std::size_t index);
    // Appends pin (not null); a pin of the list's owner records the list as its PinList.
    void Add(TOWPin* pin, const std::string& entryName = {});
    void Remove(TOWPin* pin);
    void Clear();
    [[nodiscard]] bool PinsOwner() const noexcept { return FPinsOwner; }
    void SetPinsOwner(bool value) noexcept { FPinsOwner = value; }
    // The index of pin, or -1.
    [[nodiscard]] std::int32_t IndexOf(const TOWPin* pin);

    // Makes the links read for the entries; true when nothing is left pending.
    bool ResolvePending();
    virtual void ReadPins(const TDescValue& value);
    [[nodiscard]] virtual TDescValue WritePins();
    // True when some pin is connected (the list's links are then worth storing).
    [[nodiscard]] virtual bool HasPins();
    [[nodiscard]] bool HasPendingLinks();
private:
    struct TEntry
    {
        std::string Name;
        TOWPin* Pin;
    };
    // Per index, the links read for an entry whose pin does not exist yet or is not connected yet.
    struct TPending
    {
        std::string SourceName;
        std::string SourceDisplayName;
        std::vector<TOWPinNames> Sinks;
        std::string StateName;
        [[nodiscard]] bool Empty() const { return SourceName.empty() && Sinks.empty() && StateName.empty(); }
    };

    void ReleasePin(TOWPin* pin);

    TComponent* const FOwner;
    std::vector<TEntry> FEntries;     // changed under GlobalLock write
    std::vector<TPending> FPending;   // by index; changed under GlobalLock write
    // PinsOwner's published default, which the field starts at.
    static constexpr bool kDefaultPinsOwner = false;
    bool FPinsOwner = kDefaultPinsOwner;
};

class TOWExtCollectionItem;

// Hears of the items a TOWExtCollection gains.
class IOWCollectionListener
{
public:
    virtual ~IOWCollectionListener() = default;
    virtual void ItemAdded(TOWExtCollectionItem& item) = 0;
};

// A collection that reports the persistent object owning it as its owner, and tells ItemAdded (and its
// listeners) of each item once, the first time the item is named.
class TOWExtCollection : public TCollection
{
public:
    explicit TOWExtCollection(TPersistent* ownerObject) : FOwnerObject(ownerObject) {}

    [[nodiscard]] TPersistent* Owner() const override { return FOwnerObject; }
    // Not owned; a listener removes itself before it goes.
    void AddListener(IOWCollectionListener* listener);
    void RemoveListener(IOWCollectionListener* listener);
protected:
    virtual void ItemAdded(TOWExtCollectionItem& item);
    void ItemNamed(TCollectionItem& item) override;
private:
    TPersistent* const FOwnerObject;
    std::vector<IOWCollectionListener*> FListeners;
};

// An item whose variable (set with SetAutoNilReference) is set to null when the item is destroyed.
class TOWExtCollectionItem : public TCollectionItem
{
public:
    using TCollectionItem::TCollectionItem;
    ~TOWExtCollectionItem() override;

    template <class T>
    requires std::derived_from<T, TOWExtCollectionItem>
    void SetAutoNilReference(T** variable) noexcept { FAutoNil.Bind(variable); }
private:
    friend class TOWExtCollection;

    TOWAutoNil FAutoNil;
    bool FAnnounced = false;   // named once already
};

}   // namespace harvolin
