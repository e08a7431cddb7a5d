#pragma once
#include "rtl/Exceptions.h"
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace harvolin
{

class TComponent;
class TPersistent;
struct TDescItem;

// A stored description that cannot be read: malformed text, an unknown class or property, a value of the
// wrong kind. The reader puts the line and column in front of the message.
class EReadError : public Exception
{
public:
    using Exception::Exception;
};

// A value of a stored description: the right-hand side of one property assignment.
class TDescValue
{
public:
    enum class TKind : std::uint8_t
    {
        vkInteger,
        vkFloat,
        vkString,       // single-quoted text
        vkIdentifier,   // a bare name, dots allowed: nil, csInternal, SLSignalGen1.OutputPin
        vkBoolean,      // True / False
        vkSet,          // [a, b]
        vkList,         // ( ... ) of any values
        vkBinary,       // { hex bytes }
        vkCollection    // < item ... end ... >: the items of a collection
    };

    TDescValue() : FValue(std::int64_t{0}) {}

    [[nodiscard]] static TDescValue Integer(std::int64_t value) { return TDescValue(value); }
    [[nodiscard]] static TDescValue Float(double value) { return TDescValue(value); }
    [[nodiscard]] static TDescValue String(std::string value) { return TDescValue(TText{std::move(value)}); }
    [[nodiscard]] static TDescValue Identifier(std::string name)
    {
        return TDescValue(TName{std::move(name)});
    }
    [[nodiscard]] static TDescValue Boolean(bool value) { return TDescValue(value); }
    [[nodiscard]] static TDescValue Set(std::vector<std::string> elements)
    {
        return TDescValue(TSet{std::move(elements)});
    }
    [[nodiscard]] static TDescValue List(std::vector<TDescValue> items)
    {
        return TDescValue(std::move(items));
    }
    [[nodiscard]] static TDescValue Binary(std::vector<std::uint8_t> bytes)
    {
        return TDescValue(std::move(bytes));
    }
    [[nodiscard]] static TDescValue Collection(std::vector<TDescItem> items);

    [[nodiscard]] TKind Kind() const noexcept { return static_cast<TKind>(FValue.index()); }
    // "an integer", "a string", ...: for messages.
    [[nodiscard]] static std::string KindName(TKind kind);

    // The value as that kind; raise EReadError naming what was expected and what was found. AsFloat() takes
    // an integer as well; AsInt32() raises for an integer outside the signed 32-bit range.
    [[nodiscard]] std::int64_t AsInteger() const;
    [[nodiscard]] std::int32_t AsInt32() const;
    [[nodiscard]] double AsFloat() const;
    [[nodiscard]] const std::string& AsString() const;
    [[nodiscard]] const std::string& AsIdentifier() const;
    [[nodiscard]] bool AsBoolean() const;
    [[nodiscard]] const std::vector<std::string>& AsSet() const;
    [[nodiscard]] const std::vector<TDescValue>& AsList() const;
    [[nodiscard]] const std::vector<std::uint8_t>& AsBinary() const;
    [[nodiscard]] const std::vector<TDescItem>& AsCollection() const;

    [[nodiscard]] bool IsIdentifier(std::string_view name) const noexcept
    {
        return Kind() == TKind::vkIdentifier && std::get<TName>(FValue).Name == name;
    }

    friend bool operator==(const TDescValue&, const TDescValue&) = default;
private:
    struct TText
    {
        std::string Text;
        friend bool operator==(const TText&, const TText&) = default;
    };
    struct TName
    {
        std::string Name;
        friend bool operator==(const TName&, const TName&) = default;
    };
    struct TSet
    {
        std::vector<std::string> Elements;
        friend bool operator==(const TSet&, const TSet&) = default;
    };
    // TDescItem holds values itself and is complete only below this class: behind a pointer, the variant
    // needs nothing of it here. Never null; shared, as values are never changed once made.
    struct TItems
    {
        std::shared_ptr<const std::vector<TDescItem>> Items;
        bool operator==(const TItems& other) const { return SameItems(*this, other); }
    };
    [[nodiscard]] static bool SameItems(const TItems& a, const TItems& b);
    // In the order of TKind.
    using TVariant = std::variant<std::int64_t, double, TText, TName, bool, TSet, std::vector<TDescValue>,
                                  std::vector<std::uint8_t>, TItems>;

    template <class T>
    explicit TDescValue(T value) : FValue(std::move(value))
    {
    }
    [[noreturn]] void Mismatch(TKind expected) const;

    TVariant FValue;
};

// Where a token of a description text starts: 1-based line, 1-based column counted in bytes.
struct TTextPosition
{
    int Line = 1;
    int Column = 1;
};

// One property assignment of an object or a collection item. Positions say where the text stood and are no
// part of the value: two assignments are equal when path and value are.
struct TDescAssignment
{
    std::vector<std::string> Path;   // "AudioFormat.SampleRate" is {"AudioFormat", "SampleRate"}
    TDescValue Value;
    TTextPosition Position;   // of the path

    friend bool operator==(const TDescAssignment& a, const TDescAssignment& b)
    {
        return a.Path == b.Path && a.Value == b.Value;
    }
};

// One item of a collection value: its assignments, with paths relative to the item.
struct TDescItem
{
    std::vector<TDescAssignment> Assignments;
    TTextPosition Position;   // of the keyword "item"

    friend bool operator==(const TDescItem& a, const TDescItem& b) { return a.Assignments == b.Assignments; }
};

enum class TPropertyKind : std::uint8_t
{
    pkInteger,
    pkFloat,
    pkString,
    pkBoolean,
    pkEnumeration,   // an identifier out of a fixed list (also event handler names)
    pkSet,
    pkClass   // an object the property holds; its own properties are reached by dotted path
};

// One published property of a class. Get and Set speak stored-description values, so that the reader and
// the writer need to know nothing of the classes; Set raises EReadError (or the class's own error) for a
// value it cannot take and leaves the object unchanged then. A class-typed property has Object instead.
struct TPropertyInfo
{
    std::string Name;
    TPropertyKind Kind = TPropertyKind::pkInteger;
    std::function<TDescValue(const TPersistent&)> Get;
    std::function<void(TPersistent&, const TDescValue&)> Set;   // null: read-only, never stored
    std::function<TPersistent*(TPersistent&)> Object;           // pkClass only
    std::optional<TDescValue> Default;                          // not stored while the value equals it
    std::function<bool(const TPersistent&)> Stored;             // null: stored; false: not stored now
};

// The class name and published properties of a class, its ancestors' included. Made once per class (a
// function-local static) and never changed afterwards, so any thread may read it.
class TClassInfo
{
public:
    TClassInfo(std::string className, const TClassInfo* parent, std::vector<TPropertyInfo> properties);
    TClassInfo(const TClassInfo&) = delete;
    TClassInfo& operator=(const TClassInfo&) = delete;

    [[nodiscard]] const std::string& ClassName() const noexcept { return FClassName; }
    [[nodiscard]] const TClassInfo* Parent() const noexcept { return FParent; }
    // This class's own properties, in declaration order.
    [[nodiscard]] const std::vector<TPropertyInfo>& OwnProperties() const noexcept { return FProperties; }
    // Every property, the oldest ancestor's first; a property declared again further down stands in the
    // place of the one it redeclares.
    [[nodiscard]] std::vector<const TPropertyInfo*> Properties() const;
    // The property of that exact name, searched from this class up; null when none.
    [[nodiscard]] const TPropertyInfo* FindProperty(std::string_view name) const noexcept;
    [[nodiscard]] bool InheritsFrom(const TClassInfo& other) const noexcept;
private:
    std::string FClassName;
    const TClassInfo* FParent;
    std::vector<TPropertyInfo> FProperties;
};

// Builds the property list of class T with typed accessors.
template <class T>
class TPropertyList
{
public:
    template <class TGet, class TSet>
    TPropertyList& Integer(std::string name, TGet get, TSet set,
                           std::optional<std::int64_t> defaultValue = {})
    {
        return Add(
            std::move(name), TPropertyKind::pkInteger,
            [get](const T& o) { return TDescValue::Integer(static_cast<std::int64_t>(get(o))); },
            [set](T& o, const TDescValue& v) { set(o, v.AsInt32()); },
            Optional(defaultValue, [](std::int64_t d) { return TDescValue::Integer(d); }));
    }
    template <class TGet, class TSet>
    TPropertyList& Float(std::string name, TGet get, TSet set, std::optional<double> defaultValue = {})
    {
        return Add(
            std::move(name), TPropertyKind::pkFloat,
            [get](const T& o) { return TDescValue::Float(static_cast<double>(get(o))); },
            [set](T& o, const TDescValue& v) { set(o, v.AsFloat()); },
            Optional(defaultValue, [](double d) { return TDescValue::Float(d); }));
    }
    template <class TGet, class TSet>
    TPropertyList& String(std::string name, TGet get, TSet set, std::optional<std::string> defaultValue = {})
    {
        return Add(
            std::move(name), TPropertyKind::pkString,
            [get](const T& o) { return TDescValue::String(std::string(get(o))); },
            [set](T& o, const TDescValue& v) { set(o, v.AsString()); },
            Optional(defaultValue, [](std::string d) { return TDescValue::String(std::move(d)); }));
    }
    template <class TGet, class TSet>
    TPropertyList& Boolean(std::string name, TGet get, TSet set, std::optional<bool> defaultValue = {})
    {
        return Add(
            std::move(name), TPropertyKind::pkBoolean,
            [get](const T& o) { return TDescValue::Boolean(static_cast<bool>(get(o))); },
            [set](T& o, const TDescValue& v) { set(o, v.AsBoolean()); },
            Optional(defaultValue, [](bool d) { return TDescValue::Boolean(d); }));
    }
    // An enumeration stored by name: names[i] is the identifier of the value i.
    template <class E, class TGet, class TSet>
    TPropertyList& Enumeration(std::string name, std::vector<std::string> names, TGet get, TSet set,
                               std::optional<E> defaultValue = {})
    {
        auto toValue = [names](E e) { return TDescValue::Identifier(names.at(static_cast<std::size_t>(e))); };
        auto propertyName = name;
        return Add(
            std::move(name), TPropertyKind::pkEnumeration,
            [get, toValue](const T& o) { return toValue(get(o)); },
            [set, names, propertyName](T& o, const TDescValue& v)
            {
                const std::string& id = v.AsIdentifier();
                for (std::size_t i = 0; i < names.size(); ++i)
                    if (names[i] == id)
                        return set(o, static_cast<E>(i));
                throw EReadError("'" + id + "' is not a value of " + propertyName);
            },
            Optional(defaultValue, toValue));
    }
    // A set stored by element names: names[i] is the identifier of bit i. get returns and set takes the bits;
    // an element that is no name raises EReadError and sets nothing.
    template <class TGet, class TSet>
    TPropertyList& SetOf(std::string name, std::vector<std::string> names, TGet get, TSet set,
                         std::optional<std::uint32_t> defaultValue = {})
    {
        auto toValue = [names](std::uint32_t bits)
        {
            std::vector<std::string> elements;
            for (std::size_t i = 0; i < names.size() && i < 32; ++i)
                if ((bits & (std::uint32_t{1} << i)) != 0)
                    elements.push_back(names[i]);
            return TDescValue::Set(std::move(elements));
        };
        auto propertyName = name;
        return Add(
            std::move(name), TPropertyKind::pkSet,
            [get, toValue](const T& o) { return toValue(static_cast<std::uint32_t>(get(o))); },
            [set, names, propertyName](T& o, const TDescValue& v)
            {
                std::uint32_t bits = 0;
                for (const std::string& element : v.AsSet())
                {
                    std::size_t i = 0;
                    while (i < names.size() && names[i] != element)
                        ++i;
                    if (i == names.size() || i >= 32)
                        throw EReadError("'" + element + "' is not an element of " + propertyName);
                    bits |= std::uint32_t{1} << i;
                }
                set(o, bits);
            },
            Optional(defaultValue, toValue));
    }
    // A property whose accessors speak stored-description values themselves (a colour stored by name or
    // number, a reference to another component by name).
    template <class TGet, class TSet>
    TPropertyList& Value(std::string name, TPropertyKind kind, TGet get, TSet set,
                         std::optional<TDescValue> defaultValue = {})
    {
        return Add(std::move(name), kind, get, set, std::move(defaultValue));
    }
    // Makes the property added last stored only while stored(object) is true.
    template <class TStored>
    TPropertyList& StoredWhen(TStored stored)
    {
        FProperties.back().Stored = [stored](const TPersistent& o)
        { return stored(static_cast<const T&>(o)); };
        return *this;
    }
    // A property holding an object of its own (a format, a pin, a pin list).
    template <class TObject>
    TPropertyList& Object(std::string name, TObject object)
    {
        TPropertyInfo info;
        info.Name = std::move(name);
        info.Kind = TPropertyKind::pkClass;
        info.Object = [object](TPersistent& o) -> TPersistent* { return object(static_cast<T&>(o)); };
        FProperties.push_back(std::move(info));
        return *this;
    }

    [[nodiscard]] std::vector<TPropertyInfo> Take() { return std::move(FProperties); }
private:
    template <class V, class F>
    static std::optional<TDescValue> Optional(const std::optional<V>& value, F convert)
    {
        return value ? std::optional<TDescValue>(convert(*value)) : std::nullopt;
    }
    template <class TGet, class TSet>
    TPropertyList& Add(std::string name, TPropertyKind kind, TGet get, TSet set,
                       std::optional<TDescValue> def)
    {
        TPropertyInfo info;
        info.Name = std::move(name);
        info.Kind = kind;
        info.Get = [get](const TPersistent& o) { return get(static_cast<const T&>(o)); };
        info.Set = [set](TPersistent& o, const TDescValue& v) { set(static_cast<T&>(o), v); };
        info.Default = std::move(def);
        FProperties.push_back(std::move(info));
        return *this;
    }

    std::vector<TPropertyInfo> FProperties;
};

// Where a class defines its extra stored values (links of pins, binary data): the reader offers the value
// of a name that is no published property, the writer asks for every value that has data.
class TFiler
{
public:
    virtual ~TFiler() = default;
    // read gets the stored value and raises EReadError for one it cannot take; write gives the value to
    // store; hasData says whether there is anything to store.
    virtual void DefineProperty(std::string_view name, const std::function<void(const TDescValue&)>& read,
                                const std::function<TDescValue()>& write, bool hasData) = 0;
};

// Base of everything a stored description can describe: a class name, published properties, extra stored
// values. Not copyable; Assign copies the values of another object where a class allows it.
class TPersistent
{
public:
    TPersistent() = default;
    TPersistent(const TPersistent&) = delete;
    TPersistent& operator=(const TPersistent&) = delete;
    virtual ~TPersistent() = default;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] virtual const TClassInfo& ClassInfo() const { return StaticClassInfo(); }
    [[nodiscard]] const std::string& ClassName() const { return ClassInfo().ClassName(); }

    // Raises EConvertError ("cannot assign a TX to a TY") unless the class overrides it.
    virtual void Assign(const TPersistent& source);
    // The extra stored values of the object; none in the base.
    virtual void DefineProperties(TFiler& filer);
};

// Creates a component of a registered class, owned by owner.
using TComponentFactory = TComponent* (*)(TComponent& owner);

struct TRegisteredClass
{
    const TClassInfo* Info;
    TComponentFactory Create;
};

// The process-wide class registry: the reader creates components by class name. Any thread; registering
// the same class again changes nothing, while another class under a registered name raises
// std::invalid_argument (descriptions would become ambiguous) and changes nothing.
void RegisterComponentClass(const TClassInfo& info, TComponentFactory create);
// Null when no class of that name is registered.
[[nodiscard]] const TRegisteredClass* FindComponentClass(std::string_view className);

// The object reached from object by a dotted path of class-typed properties ("AudioFormat", "OutputPin");
// the path's last element is left to the caller. Raises EReadError naming the element that is no
// class-typed property or holds no object.
[[nodiscard]] TPersistent& ResolvePropertyPath(TPersistent& object, const std::vector<std::string>& path);

class TCollection;

// An item of a collection: owned by its collection, which it joins when made and leaves when destroyed.
class TCollectionItem : public TPersistent
{
public:
    explicit TCollectionItem(TCollection& collection);
    ~TCollectionItem() override;

    [[nodiscard]] TCollection& Collection() const noexcept { return FCollection; }
    // Position in the collection.
    [[nodiscard]] std::size_t Index() const;
    [[nodiscard]] const std::string& DisplayName() const noexcept { return FDisplayName; }
    // The naming hook: the collection hears of every name given.
    virtual void SetDisplayName(std::string name);
private:
    TCollection& FCollection;
    std::string FDisplayName;
};

// An ordered, owning list of items of one kind.
class TCollection : public TPersistent
{
public:
    TCollection() = default;
    // Frees the items, last first.
    ~TCollection() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // Makes an item owned by this collection, appended at the end.
    template <class T, class... TArgs>
    requires std::derived_from<T, TCollectionItem> T& Add(TArgs&&... args)
    {
        // The item's constructor appends it, and its destructor takes it out again should a later
        // constructor of a derived class throw.
        return *new T(*this, std::forward<TArgs>(args)...);
    }
    // Appends a new item of this collection's kind, made as the collection's own callers make one: the
    // reader of a stored description calls it once per stored item, then applies the item's values. The base
    // knows no kind and raises EReadError, so a description cannot fill a collection that does not override
    // this.
    virtual TCollectionItem& AddItem();
    // From a collection of the same class: replaces the items with copies of its items (AddItem, then the
    // item's own Assign). Anything else as TPersistent::Assign.
    void Assign(const TPersistent& source) override;
    [[nodiscard]] std::size_t Count() const noexcept { return FItems.size(); }
    // Raises ERangeError outside [0, Count()).
    [[nodiscard]] TCollectionItem& Items(std::size_t index) const;
    void Delete(std::size_t index);
    void Clear();
    // The object the collection belongs to; null in the base.
    [[nodiscard]] virtual TPersistent* Owner() const { return nullptr; }
protected:
    // Called when an item of this collection is given a name.
    virtual void ItemNamed(TCollectionItem& item);
private:
    friend class TCollectionItem;

    std::vector<TCollectionItem*> FItems;   // owning
};

}   // namespace harvolin
