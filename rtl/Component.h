#pragma once
#include "rtl/Exceptions.h"
#include "rtl/Persistent.h"
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace harvolin
{

class TComponent;

// A component given a name that is not an identifier or that another component of the same owner has.
class EComponentError : public Exception
{
public:
    using Exception::Exception;
};

enum class TComponentStateFlag : std::uint8_t
{
    csLoading,     // its stored description is being read; links by name are not made yet
    csLoaded,      // a read of its stored description has finished at least once
    csDesigning,   // it is being edited, not run
    csDestroying   // its teardown has begun; its pins are going away, not being disconnected
};

// The set of TComponentStateFlag a component is in.
class TComponentState
{
public:
    constexpr TComponentState() noexcept = default;
    constexpr TComponentState(std::initializer_list<TComponentStateFlag> flags) noexcept
    {
        for (TComponentStateFlag flag : flags)
            Include(flag);
    }

    [[nodiscard]] constexpr bool Contains(TComponentStateFlag flag) const noexcept
    {
        return (FBits & Bit(flag)) != 0;
    }
    [[nodiscard]] constexpr bool Empty() const noexcept { return FBits == 0; }
    constexpr void Include(TComponentStateFlag flag) noexcept
    {
        FBits = static_cast<std::uint8_t>(FBits | Bit(flag));
    }
    constexpr void Exclude(TComponentStateFlag flag) noexcept
    {
        FBits = static_cast<std::uint8_t>(FBits & ~Bit(flag));
    }

    friend constexpr bool operator==(TComponentState, TComponentState) noexcept = default;
private:
    static constexpr std::uint8_t Bit(TComponentStateFlag flag) noexcept
    {
        return static_cast<std::uint8_t>(1U << static_cast<unsigned>(flag));
    }

    std::uint8_t FBits = 0;
};

// What a component is for the naming of pins and the resolution of links: forms and data modules are the
// roots that hold stored descriptions; every other component is plain.
enum class TComponentKind : std::uint8_t
{
    ckPlain,
    ckForm,
    ckDataModule
};

// The two signatures of event handlers a root component publishes by name for its stored description to
// bind: a plain notification, and the question whether a window may close (the handler may clear canClose).
using TNotifyMethod = std::function<void(TComponent& sender)>;
using TCloseQueryMethod = std::function<void(TComponent& sender, bool& canClose)>;
using TPublishedMethod = std::variant<TNotifyMethod, TCloseQueryMethod>;

// Frees a component the way its owner would: marks it (and all it owns) as being destroyed before any
// destructor runs, so that the pins a derived class frees in its own destructor already see the teardown.
void FreeComponent(TComponent* component) noexcept;

struct TComponentDeleter
{
    void operator()(TComponent* component) const noexcept { FreeComponent(component); }
};

// A component that no other component owns: an application, or a form or component held by its creator.
template <class T>
using TComponentPtr = std::unique_ptr<T, TComponentDeleter>;

// Base of components: it owns the components created with it as owner and frees them, last first, when it is
// destroyed; a component destroyed alone frees what it owns and then leaves its owner. A plain component
// without an owner stands for the application; any other component without one was made alone or detached.
// Not thread-safe: a tree of components is built, renamed and destroyed on one thread (the window thread).
// Another thread may read Owner(), Root() and ComponentState() only while its own locking keeps the tree
// from changing (for pins, the global lock).
// Derived classes take the owner as their first constructor argument; make them with CreateComponent() or
// MakeComponent().
class TComponent : public TPersistent
{
public:
    explicit TComponent(TComponent* owner) : TComponent(owner, TComponentKind::ckPlain) {}
    // Calls Destroying() (if FreeComponent() has not) before the owned components go, then leaves the owner.
    ~TComponent() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] const std::string& Name() const noexcept { return FName; }
    // Raises EComponentError and keeps the old name when `name` is neither empty nor an identifier
    // (a letter or '_', then letters, digits or '_'; a '.' would split the qualified names of pins), or when
    // another component of the same owner has it (names compare exactly, case included).
    void SetName(std::string name);

    [[nodiscard]] TComponent* Owner() const noexcept { return FOwner; }
    [[nodiscard]] TComponentKind Kind() const noexcept { return FKind; }
    // The first of this component and its ancestors that is a form or a data module, or that sits directly
    // below the application (a plain component without owner); the topmost ancestor when none is. Read from
    // the kind flag, so it stays right while a form is half destroyed.
    [[nodiscard]] TComponent& Root() noexcept;
    [[nodiscard]] const TComponent& Root() const noexcept;

    // The forms and data modules alive in the process, in creation order: the roots that links by name
    // can reach. Any thread; a snapshot.
    [[nodiscard]] static std::vector<TComponent*> LiveRoots();

    [[nodiscard]] TComponentState ComponentState() const noexcept { return FState; }
    // Design mode is this component's own; components it owns or later adopts keep theirs.
    void SetDesigning(bool value) noexcept;
    // Marks the start of reading a stored description into this component.
    void Loading() noexcept;
    // Called once the stored description has been read and every component of it exists; ends csLoading and
    // sets csLoaded. An override calls this one first.
    virtual void Loaded();
    // Ends csLoading without marking the component loaded: its description could not be read.
    void CancelLoading() noexcept;
    // Sets csDestroying on this component and every component it owns, at any depth; idempotent.
    void Destroying() noexcept;
    // Runs once before any destructor of the tree being freed, while every component of it is still whole:
    // where a component stops the threads that call into its derived parts. FreeComponent() calls it on the
    // component and then on everything it owns (last first, depth first), after Destroying(); an override
    // calls this one last. Must not throw.
    virtual void BeforeDestruction() noexcept {}

    // The owned components in creation order. Components() raises ERangeError for an index outside
    // [0, ComponentCount()).
    [[nodiscard]] std::size_t ComponentCount() const noexcept { return FComponents.size(); }
    [[nodiscard]] TComponent& Components(std::size_t index) const;
    // The owned component (not a deeper one) of that exact name; null for an empty name or none.
    [[nodiscard]] TComponent* FindComponent(std::string_view name) const noexcept;

    // Handlers by name, published by a root (a form) before its stored description is read; an event
    // property of any component below it binds one by name. Publishing a name again replaces its handler;
    // handlers already bound keep the one they were given.
    void PublishMethod(std::string name, TNotifyMethod method);
    void PublishMethod(std::string name, TCloseQueryMethod method);
    // The handler published here under that exact name; null when none.
    [[nodiscard]] const TPublishedMethod* FindMethod(std::string_view name) const noexcept;
    // The name of the handler the event property `event` was last bound to from a stored description, so
    // that writing the description stores it again; empty when unbound. An event set from code keeps no
    // name.
    [[nodiscard]] const std::string& BoundMethodName(std::string_view event) const noexcept;
    void SetBoundMethodName(std::string_view event, std::string name);

    // Adopts a component that has no owner; on success `component` is left empty. Raises EComponentError
    // and changes nothing when `component` is empty, when its name is taken here, or when it is this
    // component or one of its ancestors.
    template <class T>
    requires std::derived_from<T, TComponent>
    void InsertComponent(TComponentPtr<T>& component)
    {
        if (!component)
            throw EComponentError("cannot insert a null component");
        Adopt(*component);
        (void)component.release();
    }
    // Detaches an owned component and hands it to the caller; raises EComponentError when `component` is
    // not owned by this one.
    TComponentPtr<TComponent> RemoveComponent(TComponent& component);
protected:
    // For forms and data modules.
    TComponent(TComponent* owner, TComponentKind kind);
private:
    friend void FreeComponent(TComponent* component) noexcept;

    // BeforeDestruction() on this component and its tree, once each.
    void StopTree() noexcept;
    void Adopt(TComponent& component);
    // Raises EComponentError when a component of `owner` other than `named` already has `name`.
    static void CheckNameFree(const TComponent& owner, std::string_view name, const TComponent& named);

    std::string FName;
    TComponent* FOwner = nullptr;   // not owning; cleared when this component leaves it
    TComponentKind FKind;
    TComponentState FState;
    std::vector<TComponent*> FComponents;   // owning; freed last first by the destructor
    std::map<std::string, TPublishedMethod, std::less<>> FMethods;
    std::map<std::string, std::string, std::less<>> FBoundMethods;   // event property -> handler name
    bool FStopped = false;                  // BeforeDestruction() has run
};

// Makes a component that `owner` owns and frees.
template <class T, class... TArgs>
requires std::derived_from<T, TComponent> T& CreateComponent(TComponent& owner, TArgs&&... args)
{
    // The base constructor hands the object to its owner at once, and the base destructor takes it back
    // should a derived constructor throw, so nothing here owns it.
    return *new T(&owner, std::forward<TArgs>(args)...);
}

// Makes a component that no other component owns.
template <class T, class... TArgs>
requires std::derived_from<T, TComponent> TComponentPtr<T> MakeComponent(TArgs&&... args)
{
    return TComponentPtr<T>(new T(nullptr, std::forward<TArgs>(args)...));
}

// Registers T under its class name, made with CreateComponent<T>(owner).
template <class T>
requires std::derived_from<T, TComponent>
void RegisterComponentClass()
{
    RegisterComponentClass(T::StaticClassInfo(),
                           [](TComponent& owner) -> TComponent* { return &CreateComponent<T>(owner); });
}

// Registers T while the program starts, so that descriptions naming T read wherever T is linked in:
//     const TComponentClassRegistration<TExample> GRegistration;
// in the unnamed namespace of the .cpp that defines T's constructor. That placement is the guarantee: a
// static library's object file is linked only when something in it is referenced, and the initialisation of a
// namespace-scope object happens before any function of its unit runs; constructing T calls its constructor,
// so any program that makes a T links the unit and has run the registration first. In a unit that defines
// nothing a user of T calls, the object would be dropped silently, and the class with it.
template <class T>
requires std::derived_from<T, TComponent>
class TComponentClassRegistration final
{
public:
    TComponentClassRegistration() { RegisterComponentClass<T>(); }
    TComponentClassRegistration(const TComponentClassRegistration&) = delete;
    TComponentClassRegistration& operator=(const TComponentClassRegistration&) = delete;
};

// The handler of kind TMethod that `name` stands for in component's root, for an event property `event`
// being read: empty for "nil". Raises EReadError naming the handler and the root's class when the root
// publishes no handler of that name, or one of the other signature.
template <class TMethod>
[[nodiscard]] TMethod ResolveMethod(const TComponent& component, const TDescValue& name);

// Publishes an event property of component class T: its stored value is the name of a handler that the
// component's root publishes (ResolveMethod), set(object, handler) binds it, and the name is kept for
// writing it back; an unbound event is not stored.
template <class TMethod, class T, class TSet>
requires std::derived_from<T, TComponent>
TPropertyList<T>& EventProperty(TPropertyList<T>& list, const std::string& name, TSet set)
{
    return list
        .Value(
            name, TPropertyKind::pkEnumeration,
            [name](const T& o) { return TDescValue::Identifier(o.BoundMethodName(name)); },
            [name, set](T& o, const TDescValue& v)
            {
                TMethod method = ResolveMethod<TMethod>(o, v);
                const bool bound = static_cast<bool>(method);
                set(o, std::move(method));
                o.SetBoundMethodName(name, bound ? v.AsIdentifier() : std::string());
            })
        .StoredWhen([name](const T& o) { return !o.BoundMethodName(name).empty(); });
}

}   // namespace harvolin
