#pragma once
#include "pins/OWLockGroups.h"
#include "pins/OWOperations.h"
#include "rtl/Exceptions.h"
#include "rtl/Guid.h"
#include "rtl/Persistent.h"
#include "rtl/RefCount.h"
#include "rtl/Threads.h"
#include <atomic>
#include <cassert>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace harvolin
{

class TComponent;
class TOWObject;
class TOWPin;
class TOWPinList;
class TOWSinkPin;
class TOWSourcePin;
class TOWStateDispatcher;

// The framework's own failures: a broken contract of the pin graph.
class EOWException : public Exception
{
public:
    using Exception::Exception;
};

// Raised by a notification that re-enters a source pin deeper than the limits below: a loop in the graph.
inline constexpr std::string_view kOWPinDependsOnItself =
    "The pin depends on itself. Please protect with functional dependency.";
// Nesting limits of one source pin: notifications, and connection notices (whose answers connect further).
inline constexpr std::int32_t kOWMaxNotifyDepth = 200;
inline constexpr std::int32_t kOWMaxConnectNoticeDepth = 10;

// Base of the interfaces a pin answers by identifier (TOWPin::QueryInterface). Pins are owned by their
// components, so these interfaces carry no reference count; a pointer to one is valid while the pin lives.
class IOWInterface
{
public:
    virtual ~IOWInterface() = default;
};

// Answered by every pin: identifies it as a pin.
class IOWPin : public IOWInterface
{
public:
    static constexpr TGUID kIID = MakeGuid("{2BFF1BE1-1698-4CFA-A427-9E0801C5B357}");
};

// The interface through which stream operations reach a pin: the signal stream interface itself and every
// stream type a pin supports answer with this shape (the type's identifier doubles as the interface's).
// Called with GlobalLock held for reading and the pin's group lock held.
class IOWSignalStream : public IOWInterface
{
public:
    static constexpr TGUID kIID = MakeGuid("{20ACBC6D-DA0D-4359-8C78-CE0067D009A0}");

    virtual bool NotifyStream(const TGUID& typeGuid, const TRefPtr<TOWNotifyOperation>& operation,
                              std::uint32_t flags) = 0;
};

// The interface of identifier iid of a pin as I, or null: I must be the class that the pin answers for iid.
template <class I>
[[nodiscard]] I* QueryPinInterface(TOWPin& pin, const TGUID& iid);

// The AutoNilReference of pins and collection items: a variable that holds the object and is set to null
// when the object goes. Bound to the variable's own type, so that a typed pin variable can be given.
class TOWAutoNil
{
public:
    template <class T>
    void Bind(T** variable) noexcept
    {
        FVariable = variable;
        FClear = [](void* v) { *static_cast<T**>(v) = nullptr; };
    }
    // Sets the bound variable, if any, to null.
    void Clear() noexcept
    {
        if (FVariable != nullptr)
            FClear(FVariable);
    }
private:
    void* FVariable = nullptr;
    void (*FClear)(void*) = nullptr;
};

// A method reference: the code and the object it runs on. Trivially copyable, so that delivery snapshots
// copy records without allocating. Called as handler(target, type, flags, operation); true means handled.
class TOWPinHandler
{
public:
    using TCode = bool (*)(void* data, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                           const TRefPtr<TOWNotifyOperation>& operation);

    constexpr TOWPinHandler() noexcept = default;
    constexpr TOWPinHandler(TCode code, void* data) noexcept : FCode(code), FData(data) {}

    // A handler that calls (object->*Method)(target, typeGuid, flags, operation).
    template <auto Method, class T>
    [[nodiscard]] static TOWPinHandler Of(T* object) noexcept
    {
        return TOWPinHandler([](void* data, TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                                const TRefPtr<TOWNotifyOperation>& operation) -> bool
                             { return (static_cast<T*>(data)->*Method)(target, typeGuid, flags, operation); },
                             object);
    }
    // The registry's default handler of the type, with sender as the sending pin.
    [[nodiscard]] static TOWPinHandler Default(TOWPin* sender) noexcept;

    [[nodiscard]] TCode Code() const noexcept { return FCode; }
    [[nodiscard]] void* Data() const noexcept { return FData; }
    explicit operator bool() const noexcept { return FCode != nullptr; }
    bool operator()(TOWPin* target, const TGUID& typeGuid, std::uint32_t flags,
                    const TRefPtr<TOWNotifyOperation>& operation) const
    {
        return FCode(FData, target, typeGuid, flags, operation);
    }

    friend bool operator==(const TOWPinHandler&, const TOWPinHandler&) = default;
private:
    TCode FCode = nullptr;
    void* FData = nullptr;
};

struct TOWPinTypeEntry
{
    TGUID TypeGuid;
    TOWPinHandler Handler;
};

// The types a pin supports, each with the handler that sends operations of that type from the pin. Order
// matters: searches for a common type run from the last entry to the first, so later entries win.
class TOWPinType
{
public:
    TOWPinType() = default;
    TOWPinType(const TOWPinType&) = default;
    TOWPinType& operator=(const TOWPinType&) = default;
    virtual ~TOWPinType() = default;

    [[nodiscard]] std::size_t Count() const noexcept { return FEntries.size(); }
    [[nodiscard]] bool Empty() const noexcept { return FEntries.empty(); }
    [[nodiscard]] const TOWPinTypeEntry& Entries(std::size_t index) const { return FEntries.at(index); }
    // Appends an entry, also when the GUID is already there (the first equal entry is the one found).
    void Add(const TGUID& typeGuid, TOWPinHandler handler);
    // Replaces the handler of the first entry with the GUID, or appends the entry.
    void Merge(const TOWPinTypeEntry& entry);
    // The first entry with the GUID, or null.
    [[nodiscard]] const TOWPinTypeEntry* Find(const TGUID& typeGuid) const noexcept;
    void Clear() noexcept { FEntries.clear(); }
protected:
    std::vector<TOWPinTypeEntry> FEntries;
};

// A pin type built for one negotiation, which may be reordered once by another list.
class TOWPinTypeRestricted final : public TOWPinType
{
public:
    // For each entry of ordering in turn, moves the entries with its GUID to the front, behind those moved
    // before; the rest keep their order behind them. Only the first call reorders.
    void OrderBy(const TOWPinType& ordering);
    [[nodiscard]] bool Ordered() const noexcept { return FOrdered; }
private:
    bool FOrdered = false;
};

// Base of pins. A pin is owned by its component and never reference-counted; pins link to each other by
// plain pointers that the breaking side clears.
//
// Threads: any thread may query, notify and connect. Structural changes (connect, disconnect, joining and
// leaving a state group, dependency lists, destruction) hold GlobalLock for writing; notifications and
// queries hold it for reading. A delivery from a source to its sinks runs each handler with the receiving
// sink's group lock held, so the handler must not wait for a thread that needs that group lock. A delivery
// to the peers of a state group holds only the sender's group lock (peers in other groups would otherwise
// lock each other in opposite orders when two of them send at once): a state pin keeps the value it
// receives safe for concurrent deliveries itself.
//
// Derived pins whose handlers use their own members call BeforeDestruction() first in their destructor:
// until then the pin is still connected and may receive operations.
//
// Links read from a stored description are resolved by TOWPendingLinks (OWPinList): every query and change
// of a pin's links completes its pending links first, once the owner has finished loading.
class TOWPin : public TOWObject, public IOWPin
{
public:
    explicit TOWPin(TComponent* owner);
    ~TOWPin() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    // The stored links: State on every pin that is in a group.
    void DefineProperties(TFiler& filer) override;

    // The interface of identifier iid, or null. TOWPin answers IOWPin; derived pins add theirs.
    [[nodiscard]] virtual IOWInterface* QueryInterface(const TGUID& iid);
    // The interface of a type: null also when a data-type dependant does not support the type.
    [[nodiscard]] virtual IOWInterface* GetTypeInterface(const TGUID& iid);
    [[nodiscard]] bool SupportsType(const TGUID& typeGuid) { return GetTypeInterface(typeGuid) != nullptr; }

    // The stored State: the group's name, or a list of the name and the entries on other roots (pending
    // ones included). Reading joins (or makes) the group of that name and keeps the other entries pending.
    virtual void LoadState(const TDescValue& value);
    [[nodiscard]] virtual TDescValue StoreState();
    // True when the pin belongs to a state group (its State is then worth storing).
    [[nodiscard]] virtual bool HasState();
    // Joins the group of that name among the dispatchers of the pin's kind, making it when there is none.
    virtual void SetStateName(const std::string& name);
    // Leaves the current group and joins dispatcher; false (and in no group) when dispatcher is null, is
    // already the pin's group, or holds a member this pin is not compatible with.
    virtual bool JoinDispatcher(TOWStateDispatcher* dispatcher);
    [[nodiscard]] virtual bool CanJoinDispatcher(TOWStateDispatcher* dispatcher);
    virtual void CancelPendingLinks();
    // Resolves the links read for this pin against root; true when nothing is left pending.
    virtual bool ResolvePendingLinks(TComponent* root, bool designing);
    // Called by a pin this one refers to through a dependency list when that pin goes.
    virtual void RemoveLinkedObject(TOWPin* object);

    // The type of the link to pin; null when there is none.
    [[nodiscard]] virtual TGUID GetLinkType(TOWPin* pin);
    // The type of the data the pin carries; null when it is not connected.
    [[nodiscard]] virtual TGUID GetDataType();
    // The last entry of this pin's type that other supports; null when none (or other is null).
    [[nodiscard]] virtual TGUID FindCommonType(TOWPin* other);

    // The pin joined a group: peers are asked to hand out their values.
    virtual void StateChanged();
    // Links this pin to pin; false when they cannot be linked (nothing changes then).
    virtual bool Connect(TOWPin* pin);
    // Joins pin's state group, makes one with pin, or brings pin into this pin's group.
    virtual bool ConnectState(TOWPin* pin);
    virtual void Disconnect();
    // Sends operation to the state group's members through this pin's handlers, with this pin's group lock
    // held (the members' are not taken); false without a group. With a target, only that member receives
    // it, flagged as the last recipient. The sender itself is skipped unless it is the target. The result
    // is the last handler's.
    virtual bool NotifyPeers(const TRefPtr<TOWNotifyOperation>& operation, std::uint32_t flags,
                             TOWPin* target);
    virtual bool Notify(const TRefPtr<TOWNotifyOperation>& operation);
    [[nodiscard]] virtual bool CanConnect(TOWPin* pin);
    [[nodiscard]] virtual bool IsCompatible(TOWPin* pin);
    [[nodiscard]] virtual bool DependsOn(TOWPin* pin) = 0;
    [[nodiscard]] virtual bool DependsDirectlyOn(TOWPin* pin) = 0;
    [[nodiscard]] virtual bool IsConnected();
    [[nodiscard]] bool IsInDispatcher(const TOWStateDispatcher* dispatcher);
    [[nodiscard]] virtual bool IsConnectedTo(TOWPin* pin);

    // Types are declared by the constructors of concrete pins, before the pin is linked.
    void AddType(const TGUID& typeGuid);
    void AddTypeHandler(const TGUID& typeGuid, TOWPinHandler handler);
    void ClearTypes() noexcept;
    [[nodiscard]] const TOWPinType& PinType() const noexcept { return FPinType; }

    [[nodiscard]] TComponent* Owner() const noexcept { return FOwner; }
    // The group; valid while the caller holds GlobalLock.
    [[nodiscard]] TOWStateDispatcher* Dispatcher() const noexcept { return FDispatcher; }
    [[nodiscard]] TOWPinList* PinList() const noexcept { return FPinList; }
    void SetPinList(TOWPinList* list) noexcept { FPinList = list; }
    [[nodiscard]] std::int32_t Tag() const noexcept { return FTag; }
    void SetTag(std::int32_t tag) noexcept { FTag = tag; }
    // Notifications (and connection notices) from this pin in progress on the calling thread's stack.
    [[nodiscard]] std::int32_t NotifyDepth() const noexcept { return FNotifyDepth; }
    // Pins that refer to this one through dependency lists; valid while the caller holds GlobalLock.
    [[nodiscard]] const std::vector<TOWPin*>& LinkedObjects() const noexcept { return FLinkedObjects; }
    [[nodiscard]] const std::string& OwnerRootName() const noexcept { return FOwnerRootName; }
    [[nodiscard]] bool LinksResolved() const noexcept
    {
        return FLinksResolved.load(std::memory_order_acquire);
    }
    void SetLinksResolved() noexcept { FLinksResolved.store(true, std::memory_order_release); }

    // True when the owner is being edited rather than run; false without owner.
    [[nodiscard]] bool Designing() const noexcept;
    // The name of the owner's root; empty without owner.
    [[nodiscard]] std::string RootName() const;

    // Links between pins and the lists that keep them both ways; the caller holds GlobalLock for writing.
    void AddLinkedObject(TOWPin* object);
    void EraseLinkedObject(TOWPin* object) noexcept;
protected:
    // Leaves every link before the derived parts of the pin go: disconnects, leaves the pending links and
    // tells the pins that refer to this one. Runs once; later calls do nothing.
    void BeforeDestruction();
    void SetDispatcher(TOWStateDispatcher* dispatcher) noexcept { FDispatcher = dispatcher; }
    // The entry's handler for typeGuid, or the default handler when the pin's type has no such entry.
    [[nodiscard]] TOWPinHandler HandlerFor(const TGUID& typeGuid) noexcept;
    // For the source pin: records the name of the owner's root, or clears it without owner.
    void RecordOwnerRootName();
    // Runs handler on target, counted as one more nested notification from this pin: raises the loop
    // exception beyond limit. Exceptions of the handler pass through; the depth is restored.
    class TDepthGuard
    {
    public:
        TDepthGuard(TOWPin& pin, std::int32_t limit);
        TDepthGuard(const TDepthGuard&) = delete;
        TDepthGuard& operator=(const TDepthGuard&) = delete;
        ~TDepthGuard() { --FPin.FNotifyDepth; }
    private:
        TOWPin& FPin;
    };
private:
    friend class TOWStateDispatcher;

    TOWStateDispatcher* FDispatcher = nullptr;   // changed under GlobalLock write
    TComponent* const FOwner;
    TOWPinList* FPinList = nullptr;
    TOWPinType FPinType;
    std::int32_t FNotifyDepth = 0;   // guarded by the pin's group lock, or GlobalLock write
    std::int32_t FTag = 0;
    std::vector<TOWPin*> FLinkedObjects;   // changed under GlobalLock write
    std::string FOwnerRootName;            // changed under GlobalLock write
    std::atomic<bool> FLinksResolved{false};
    bool FTornDown = false;
};

template <class I>
I* QueryPinInterface(TOWPin& pin, const TGUID& iid)
{
    IOWInterface* found = pin.QueryInterface(iid);
    // The pin answers iid with I by contract; the check keeps a broken contract from being a wild cast in
    // checked builds.
    assert(found == nullptr || dynamic_cast<I*>(found) != nullptr);
    return static_cast<I*>(found);
}

// Pins that carry operations along a direction: sources downstream, sinks upstream.
class TOWStreamPin : public TOWPin
{
public:
    using TOWPin::TOWPin;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // Merge the pin's own types into target (an entry already there gets this pin's handler), then what
    // the pin's data-type dependants contribute. requester is not asked back.
    virtual void CollectTypes(TOWPinType& target, TOWPin* requester);
    virtual void CollectTypesFor(TOWPinType& target, TOWPin* requester);
    // True when every data-type dependant supports the type too.
    [[nodiscard]] virtual bool QueryTypeUpstream(const TGUID& typeGuid);
    [[nodiscard]] virtual bool QueryTypeDownstream(const TGUID& typeGuid);
    // Appends this pin to paths[path] and continues upstream.
    virtual void CollectChain(std::vector<std::vector<TOWObject*>>& paths, std::size_t path);
};

// A delivery record of a source pin: one per connected sink.
struct TOWSinkPinEntry
{
    TOWSinkPin* Sink = nullptr;
    TGUID TypeGuid;
    TOWPinHandler Handler;
    std::int32_t Weight = 0;   // adaptive delivery order: sinks that handle drift to the end
};

// The sink pins a source pin depends on (function) or takes its type from (data type). Adding a sink records
// the source in the sink's linked objects, and in the sink's source list of the same kind; removal undoes
// both. The caller holds GlobalLock for writing (Add and Remove take it themselves).
class TOWSinkPinList
{
public:
    explicit TOWSinkPinList(TOWSourcePin& ownerPin) : FOwnerPin(ownerPin) {}
    TOWSinkPinList(const TOWSinkPinList&) = delete;
    TOWSinkPinList& operator=(const TOWSinkPinList&) = delete;
    virtual ~TOWSinkPinList() = default;

    // With lockDependency, the source also makes the sink a dependency: they share one lock group.
    void Add(TOWSinkPin* sink, bool lockDependency);
    void Remove(TOWSinkPin* sink);
    // Removes every sink.
    void Clear();
    [[nodiscard]] std::size_t Count() const noexcept { return FSinks.size(); }
    [[nodiscard]] TOWSinkPin* Items(std::size_t index) const { return FSinks.at(index); }
    [[nodiscard]] bool Contains(const TOWSinkPin* sink) const noexcept;
    [[nodiscard]] TOWSourcePin& OwnerPin() const noexcept { return FOwnerPin; }
    // Forgets the sink without telling it (it is going away and has dropped its side already).
    void Erase(const TOWSinkPin* sink) noexcept;
protected:
    // The sink's source list of this kind.
    virtual std::vector<TOWSourcePin*>& SourcesOf(TOWSinkPin& sink) = 0;
private:
    TOWSourcePin& FOwnerPin;
    std::vector<TOWSinkPin*> FSinks;
    std::vector<TOWSinkPin*> FLockedSinks;   // those added with a lock dependency
};

class TOWFunctionSinkPinList final : public TOWSinkPinList
{
public:
    using TOWSinkPinList::TOWSinkPinList;
protected:
    std::vector<TOWSourcePin*>& SourcesOf(TOWSinkPin& sink) override;
};

class TOWDataTypeSinkPinList final : public TOWSinkPinList
{
public:
    using TOWSinkPinList::TOWSinkPinList;
protected:
    std::vector<TOWSourcePin*>& SourcesOf(TOWSinkPin& sink) override;
};

// An output: delivers operations to any number of sink pins, in an adaptive order.
class TOWSourcePin : public TOWStreamPin
{
public:
    explicit TOWSourcePin(TComponent* owner);
    ~TOWSourcePin() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    // State, then SinkPins.
    void DefineProperties(TFiler& filer) override;
    bool ResolvePendingLinks(TComponent* root, bool designing) override;

    [[nodiscard]] IOWInterface* GetTypeInterface(const TGUID& iid) override;
    void CancelPendingLinks() override;
    void RemoveLinkedObject(TOWPin* object) override;
    [[nodiscard]] TGUID GetLinkType(TOWPin* pin) override;
    [[nodiscard]] TGUID GetDataType() override;
    void StateChanged() override;
    // Connects a sink (or joins a state pin's group) to this source; false for any other pin.
    bool Connect(TOWPin* pin) override;
    // Leaves the state group and drops every sink.
    void Disconnect() override;
    // Delivers to the state group, then to every sink; the result is the state group's.
    bool Notify(const TRefPtr<TOWNotifyOperation>& operation) override;
    [[nodiscard]] bool CanConnect(TOWPin* pin) override;
    [[nodiscard]] bool IsCompatible(TOWPin* pin) override;
    [[nodiscard]] bool DependsOn(TOWPin* pin) override;
    [[nodiscard]] bool DependsDirectlyOn(TOWPin* pin) override;
    [[nodiscard]] bool IsConnected() override;
    [[nodiscard]] bool IsConnectedTo(TOWPin* pin) override;

    void CollectTypes(TOWPinType& target, TOWPin* requester) override;
    void CollectTypesFor(TOWPinType& target, TOWPin* requester) override;
    [[nodiscard]] bool QueryTypeDownstream(const TGUID& typeGuid) override;
    void CollectChain(std::vector<std::vector<TOWObject*>>& paths, std::size_t path) override;

    // Appends the delivery record of a newly connected sink. Called by the sink's Connect.
    virtual void AddSink(TOWSinkPin* sink);
    // Deletes the sink's record; with remember the sink's names stay pending (unless this pin's root goes).
    virtual void RemoveSink(TOWSinkPin* sink, bool remember);
    [[nodiscard]] virtual std::size_t SinkCount();
    // Raises ERangeError for an index outside [0, SinkCount()).
    [[nodiscard]] virtual TOWSinkPin* Sinks(std::size_t index);
    // A type exists that both this source and sink support.
    [[nodiscard]] virtual bool CanAcceptSink(TOWSinkPin* sink);
    // Sends a connection notice (flags 3) to sink through handler.
    virtual void SendConnectNotice(TOWSinkPin* sink, TOWPinHandler handler);
    virtual void SinkConnected(TOWSinkPin* sink);
    // The stored SinkPins: a reference per connected sink in delivery order, then the pending names.
    // Reading connects each named sink that exists and keeps the others pending.
    virtual void ReadSinkPins(const TDescValue& value);
    [[nodiscard]] virtual TDescValue WriteSinkPins();
    // True when the source has sinks or pending sink names (its sink links are then worth storing).
    [[nodiscard]] virtual bool HasSinkPins();

    // Delivers to sink alone, or to all sinks for a null sink; the result is the state group's.
    bool NotifySink(TOWSinkPin* sink, const TRefPtr<TOWNotifyOperation>& operation);

    // The type this source offers sink: the last collected type the sink supports; null when none.
    [[nodiscard]] TGUID NegotiateForSink(TOWSinkPin* sink);
    // Snapshot of the delivery records in their current order.
    [[nodiscard]] std::vector<TOWSinkPinEntry> SinkEntries();

    [[nodiscard]] TOWFunctionSinkPinList& FunctionSinks() noexcept { return FFunctionSinks; }
    [[nodiscard]] TOWDataTypeSinkPinList& DataTypeSinks() noexcept { return FDataTypeSinks; }
    [[nodiscard]] const std::vector<std::string>& PendingSinkNames() const noexcept
    {
        return FPendingSinkNames;
    }
    [[nodiscard]] const std::vector<std::string>& PendingSinkDisplayNames() const noexcept
    {
        return FPendingSinkDisplayNames;
    }
    // Adds a pair of pending names unless the internal name is already pending.
    void AddPendingSinkNames(const std::string& name, const std::string& displayName);

    // variable is set to null when the pin is destroyed; null stops that.
    template <class T>
    requires std::derived_from<T, TOWSourcePin>
    void SetAutoNilReference(T** variable) noexcept { FAutoNil.Bind(variable); }
private:
    friend class TOWSinkPin;
    friend class TOWSinkPinList;

    // Rebuilds the upstream chains of every sink of this source.
    void RebuildSinkChains();

    std::vector<TOWSinkPinEntry> FSinkEntries;   // guarded by the group lock; changed under GlobalLock write
    TOWFunctionSinkPinList FFunctionSinks{*this};
    TOWDataTypeSinkPinList FDataTypeSinks{*this};
    bool FInDependencyWalk = false;
    std::vector<std::string> FPendingSinkNames;
    std::vector<std::string> FPendingSinkDisplayNames;
    TOWAutoNil FAutoNil;
};

// An input: connected to at most one source; sends operations upstream to it.
class TOWSinkPin : public TOWStreamPin
{
public:
    explicit TOWSinkPin(TComponent* owner);
    ~TOWSinkPin() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    // State, then SourcePin.
    void DefineProperties(TFiler& filer) override;
    bool ResolvePendingLinks(TComponent* root, bool designing) override;

    [[nodiscard]] IOWInterface* GetTypeInterface(const TGUID& iid) override;
    void RemoveLinkedObject(TOWPin* object) override;
    [[nodiscard]] TGUID GetLinkType(TOWPin* pin) override;
    // Connects to source pin (a null pin disconnects); a state pin takes the sink into its group instead.
    bool Connect(TOWPin* pin) override;
    // Leaves the state group and the source.
    void Disconnect() override;
    // Sends operation to the connected source, flagged as the last recipient; the result is the handler's,
    // false when no source is connected. Exceptions of the handler pass through.
    bool Notify(const TRefPtr<TOWNotifyOperation>& operation) override;
    [[nodiscard]] bool CanConnect(TOWPin* pin) override;
    [[nodiscard]] bool IsCompatible(TOWPin* pin) override;
    [[nodiscard]] bool DependsOn(TOWPin* pin) override;
    [[nodiscard]] bool DependsDirectlyOn(TOWPin* pin) override;
    [[nodiscard]] bool IsConnected() override;
    // IsConnected for a caller that holds GlobalLock already (every section and every handler does): links
    // change only under GlobalLock's write lock, so the answer needs no section of its own, which a handler
    // asking per block would otherwise take again and again.
    [[nodiscard]] bool IsConnectedUnderGlobalLock();
    [[nodiscard]] bool IsConnectedTo(TOWPin* pin) override;

    void CollectTypes(TOWPinType& target, TOWPin* requester) override;
    void CollectTypesFor(TOWPinType& target, TOWPin* requester) override;
    [[nodiscard]] bool QueryTypeUpstream(const TGUID& typeGuid) override;
    void CollectChain(std::vector<std::vector<TOWObject*>>& paths, std::size_t path) override;

    [[nodiscard]] virtual bool CanAcceptSource(TOWSourcePin* source);
    [[nodiscard]] virtual TOWSourcePin* GetSourcePin();
    // The stored SourcePin: one reference (nil for none). Reading connects to it when it exists, else keeps
    // the names pending; nil disconnects.
    virtual void ReadSourcePin(const TDescValue& value);
    [[nodiscard]] virtual TDescValue WriteSourcePin();
    // True when the sink has a source or a pending source name (its source link is then worth storing).
    [[nodiscard]] virtual bool HasSourcePin();

    // The type this sink takes from source: the source's choice when the sink supports it, else the last
    // of the sink's types that the source supports; null when none.
    [[nodiscard]] TGUID NegotiateWithSource(TOWSourcePin* source);
    // The negotiated type of the current connection.
    [[nodiscard]] TGUID LinkType();
    [[nodiscard]] bool AcceptsAnyType() const noexcept { return FAcceptsAnyType; }
    void SetAcceptsAnyType(bool value) noexcept { FAcceptsAnyType = value; }
    // The objects read-locked by an upstream Notify: from the farthest upstream to this sink.
    [[nodiscard]] std::vector<TOWObject*> UpstreamChain();
    [[nodiscard]] const std::vector<TOWSourcePin*>& FunctionSources() const noexcept
    {
        return FFunctionSources;
    }
    [[nodiscard]] const std::vector<TOWSourcePin*>& DataTypeSources() const noexcept
    {
        return FDataTypeSources;
    }
    [[nodiscard]] const std::string& PendingSourceName() const noexcept { return FPendingSourceName; }
    [[nodiscard]] const std::string& PendingSourceDisplayName() const noexcept
    {
        return FPendingSourceDisplayName;
    }
    void SetPendingSourceNames(std::string name, std::string displayName);

    template <class T>
    requires std::derived_from<T, TOWSinkPin>
    void SetAutoNilReference(T** variable) noexcept { FAutoNil.Bind(variable); }

    // Rebuilds the upstream chain after the links around this sink changed; the caller holds GlobalLock
    // for writing.
    void RebuildUpstreamChain();
private:
    friend class TOWSourcePin;
    friend class TOWFunctionSinkPinList;
    friend class TOWDataTypeSinkPinList;

    // Steps of Connect, with GlobalLock held for writing.
    void DisconnectFromSource(bool remember);
    void ConnectToSource(TOWSourcePin* source);
    // The source dropped this sink (the source's Disconnect); the sink keeps no record of it.
    void SourceDropped();
    // The source re-negotiated: takes the sink-side type and handler anew.
    void Renegotiate();

    TOWSourcePin* FSourcePin = nullptr;   // changed under GlobalLock write
    TOWPinHandler FSourceHandler;
    TGUID FLinkType;
    bool FAcceptsAnyType = false;
    std::vector<TOWSourcePin*> FFunctionSources;
    std::vector<TOWSourcePin*> FDataTypeSources;
    std::vector<TOWObject*> FUpstreamChain;   // changed under GlobalLock write
    std::string FPendingSourceName;
    std::string FPendingSourceDisplayName;
    TOWAutoNil FAutoNil;
};

// A peer of a state group: whatever one member sends reaches the others.
class TOWStatePin : public TOWPin
{
public:
    using TOWPin::TOWPin;
    ~TOWStatePin() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // Members of the pin's group; 0 without group. Members() raises ERangeError outside [0, MemberCount()).
    [[nodiscard]] virtual std::size_t MemberCount();
    [[nodiscard]] virtual TOWPin* Members(std::size_t index);

    [[nodiscard]] TGUID GetLinkType(TOWPin* pin) override;
    // Asks the first source member of the group, or else every member that is not a sink, to send a
    // connection notice to this pin.
    void StateChanged() override;
    [[nodiscard]] bool CanConnect(TOWPin* pin) override;
    [[nodiscard]] bool IsCompatible(TOWPin* pin) override;
    [[nodiscard]] bool DependsOn(TOWPin* pin) override;
    [[nodiscard]] bool DependsDirectlyOn(TOWPin* pin) override;
};

// The named representation of a state group: its members share one value. A group exists while it has
// members; it frees itself when the last one leaves and is dissolved when only one is left.
// Structural changes hold GlobalLock for writing.
class TOWStateDispatcher final : public TOWObject
{
public:
    // Made by FindOrCreate and ConnectState only; registered under its kind.
    TOWStateDispatcher(std::string name, bool designing);
    ~TOWStateDispatcher() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    // The State a member stores (the store pass bookkeeping spans the group's members).
    [[nodiscard]] TDescValue StoreState(TOWPin& member);

    [[nodiscard]] const std::string& Name() const noexcept { return FName; }
    [[nodiscard]] bool Designing() const noexcept { return FDesigning; }
    [[nodiscard]] std::size_t MemberCount();
    // Raises ERangeError outside [0, MemberCount()).
    [[nodiscard]] TOWPin* Members(std::size_t index);
    [[nodiscard]] std::vector<TOWPin*> MemberList();

    // Appends pin unless it is a member, and strikes its names from the pending names.
    void AddMember(TOWPin* pin);
    // Removes pin; dissolves a group of one left and frees the dispatcher when no member is left (the
    // dispatcher must not be used after a call that may have emptied it).
    void RemoveMember(TOWPin* pin);
    // Resolves pending member names against the pins of the first member's root; true when none is left.
    bool ResolvePending();
    void AddPendingName(const std::string& name, const std::string& displayName);
    [[nodiscard]] const std::vector<std::string>& PendingNames() const noexcept { return FPendingNames; }
    [[nodiscard]] const std::vector<std::string>& PendingDisplayNames() const noexcept
    {
        return FPendingDisplayNames;
    }

    // The dispatcher of that name among those of the kind, or a new one with that name.
    [[nodiscard]] static TOWStateDispatcher* FindOrCreate(const std::string& name, bool designing);
    // The dispatcher of that name among those of the kind, or null.
    [[nodiscard]] static TOWStateDispatcher* Find(const std::string& name, bool designing);
    // rootName + "Link" + n with the first n from 1 that no dispatcher of the kind has.
    [[nodiscard]] static std::string UniqueName(const std::string& rootName, bool designing);
    // Dispatchers alive in the process.
    [[nodiscard]] static std::size_t LiveCount();
private:
    friend class TOWPin;

    const std::string FName;
    const bool FDesigning;
    std::vector<TOWPin*> FMemberList;   // changed under GlobalLock write
    std::vector<TComponent*> FWrittenRoots;
    std::int32_t FWrittenCount = 0;
    std::vector<std::string> FPendingNames;
    std::vector<std::string> FPendingDisplayNames;
};

// One entry of a state group as it is stored: a member pin, or a pending pair of names.
class IOWStateProxy
{
public:
    virtual ~IOWStateProxy() = default;
    virtual void AddRef() const noexcept = 0;
    virtual void Release() const noexcept = 0;

    // The internal / display name qualified with the root; the pending names for a pending entry.
    [[nodiscard]] virtual std::string GetName() = 0;
    [[nodiscard]] virtual std::string GetDisplayText() = 0;
    // The pin; null for a pending entry.
    [[nodiscard]] virtual TOWPin* GetPin() = 0;
    // The pin's root name; for a pending entry the part of the display name before its first '.'.
    [[nodiscard]] virtual std::string GetRootName() = 0;
};

class TOWStateProxy final : public TRefCounted, public IOWStateProxy
{
public:
    explicit TOWStateProxy(TOWPin& pin) : FPin(&pin) {}
    TOWStateProxy(std::string name, std::string displayName)
        : FName(std::move(name)), FDisplayName(std::move(displayName))
    {
    }

    void AddRef() const noexcept override { TRefCounted::AddRef(); }
    void Release() const noexcept override { TRefCounted::Release(); }
    [[nodiscard]] std::string GetName() override;
    [[nodiscard]] std::string GetDisplayText() override;
    [[nodiscard]] TOWPin* GetPin() override { return FPin; }
    [[nodiscard]] std::string GetRootName() override;
private:
    TOWPin* const FPin = nullptr;
    const std::string FName;
    const std::string FDisplayName;
};

}   // namespace harvolin
