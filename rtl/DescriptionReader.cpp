#include "rtl/DescriptionReader.h"
#include "rtl/DescriptionText.h"
#include <exception>
#include <functional>
#include <new>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

std::string Where(TTextPosition at)
{
    return "line " + std::to_string(at.Line) + ", column " + std::to_string(at.Column) + ": ";
}

std::string JoinPath(const std::vector<std::string>& path)
{
    std::string text;
    for (const std::string& part : path)
        text += (text.empty() ? "" : ".") + part;
    return text;
}

std::string Describe(const TComponent& component)
{
    return component.Name().empty() ? "a " + component.ClassName() : component.Name();
}

// Runs work and turns what it raises into an EReadError at `at`, the message prefixed by context.
// Out of memory is no fault of the text and goes on as it is.
template <class TWork>
decltype(auto) AtPosition(TTextPosition at, const std::string& context, TWork&& work)
{
    try
    {
        return std::forward<TWork>(work)();
    }
    catch (const std::bad_alloc&)
    {
        throw;
    }
    catch (const std::exception& error)
    {
        throw EReadError(Where(at) + context + error.what());
    }
}

// Offers one stored value to a DefineProperties: the first definition of that name with a reader takes it.
class TReadFiler final : public TFiler
{
public:
    TReadFiler(std::string_view name, const TDescValue& value) : FName(name), FValue(value) {}

    void DefineProperty(std::string_view name, const std::function<void(const TDescValue&)>& read,
                        const std::function<TDescValue()>& write, bool hasData) override
    {
        (void)write;
        (void)hasData;
        if (FTaken || name != FName || !read)
            return;
        FTaken = true;
        read(FValue);
    }

    [[nodiscard]] bool Taken() const noexcept { return FTaken; }
private:
    std::string_view FName;
    const TDescValue& FValue;
    bool FTaken = false;
};

class TReader
{
public:
    // Reads object into component, which the caller has created (and named) or owns.
    void ReadObject(TComponent& component, const TDescObject& object)
    {
        component.Loading();
        FRead.push_back({&component, object.Position});
        for (const TDescAssignment& assignment : object.Assignments)
            Assign(component, assignment);
        for (const TDescObject& child : object.Children)
            ReadObject(Create(component, child), child);
    }

    // Calls Loaded() on every component read, the first one (the top object) last.
    void FinishLoading()
    {
        for (std::size_t i = 1; i <= FRead.size(); ++i)
        {
            const TRead& read = FRead[i % FRead.size()];
            AtPosition(read.Position, Describe(*read.Component) + ": ", [&] { read.Component->Loaded(); });
        }
    }

    // Creates a component of the object's class owned by owner and names it.
    static TComponent& Create(TComponent& owner, const TDescObject& object)
    {
        const TRegisteredClass* registered = FindComponentClass(object.ClassName);
        if (registered == nullptr)
            throw EReadError(Where(object.Position) + "unknown class '" + object.ClassName + "'");
        TComponent& component = *AtPosition(object.Position, "cannot create a " + object.ClassName + ": ",
                                            [&] { return registered->Create(owner); });
        try
        {
            AtPosition(object.Position, "", [&] { component.SetName(object.Name); });
        }
        catch (...)
        {
            FreeComponent(&component);
            throw;
        }
        return component;
    }
private:
    struct TRead
    {
        TComponent* Component;
        TTextPosition Position;
    };

    static void Assign(TComponent& component, const TDescAssignment& assignment)
    {
        Assign(component, Describe(component), assignment);
    }

    // Sets one assignment on target, a component or a collection item, which messages call where.
    static void Assign(TPersistent& target, const std::string& where, const TDescAssignment& assignment)
    {
        const std::string path = JoinPath(assignment.Path);
        const std::vector<std::string> lead(assignment.Path.begin(), assignment.Path.end() - 1);
        TPersistent& object = AtPosition(assignment.Position, "",
                                         [&]() -> TPersistent& { return ResolvePropertyPath(target, lead); });
        const std::string& name = assignment.Path.back();
        const std::string context = "cannot set " + path + " of " + where + ": ";
        if (const TPropertyInfo* property = object.ClassInfo().FindProperty(name))
        {
            if (property->Kind == TPropertyKind::pkClass)
                return AssignCollection(object, *property, where + "." + path, assignment);
            if (!property->Set)
                throw EReadError(Where(assignment.Position) + "the property '" + name + "' of " +
                                 object.ClassName() + " is read-only");
            AtPosition(assignment.Position, context, [&] { property->Set(object, assignment.Value); });
            return;
        }
        TReadFiler filer(name, assignment.Value);
        AtPosition(assignment.Position, context, [&] { object.DefineProperties(filer); });
        if (!filer.Taken())
            throw EReadError(Where(assignment.Position) + "unknown property '" + name + "' of " +
                             object.ClassName());
    }

    // A class-typed property takes a value only when it holds a collection, and then only a collection: the
    // collection is cleared and gets one item per stored item, made by its AddItem(). where names the
    // collection for the messages of its items ("W.Items").
    static void AssignCollection(TPersistent& object, const TPropertyInfo& property, const std::string& where,
                                 const TDescAssignment& assignment)
    {
        const std::string owner = "the property '" + property.Name + "' of " + object.ClassName();
        auto* collection = dynamic_cast<TCollection*>(property.Object ? property.Object(object) : nullptr);
        const bool isCollection = assignment.Value.Kind() == TDescValue::TKind::vkCollection;
        if (collection == nullptr && isCollection)
            throw EReadError(Where(assignment.Position) + owner + " holds no collection and takes no " +
                             "collection");
        if (collection == nullptr)
            throw EReadError(Where(assignment.Position) + owner + " holds an object and takes no value");
        if (!isCollection)
            throw EReadError(Where(assignment.Position) + owner + " holds a collection: expected " +
                             TDescValue::KindName(TDescValue::TKind::vkCollection) + ", found " +
                             TDescValue::KindName(assignment.Value.Kind()));
        const std::vector<TDescItem>& items = assignment.Value.AsCollection();
        AtPosition(assignment.Position, "cannot clear " + where + ": ", [&] { collection->Clear(); });
        for (std::size_t i = 0; i < items.size(); ++i)
        {
            const std::string itemName = where + "[" + std::to_string(i) + "]";
            TCollectionItem& item = AtPosition(items[i].Position, "cannot add " + itemName + ": ",
                                               [&]() -> TCollectionItem& { return collection->AddItem(); });
            for (const TDescAssignment& itemAssignment : items[i].Assignments)
                Assign(item, itemName, itemAssignment);
        }
    }

    std::vector<TRead> FRead;   // in creation order, the top object first
};

}   // namespace

void ReadDescription(TComponent& root, std::string_view text)
{
    const TDescObject object = ParseDescription(text);
    if (object.ClassName != root.ClassName())
        throw EReadError(Where(object.Position) + "expected an object of class " + root.ClassName() +
                         ", found " + object.ClassName);
    const std::string oldName = root.Name();
    const bool wasLoading = root.ComponentState().Contains(TComponentStateFlag::csLoading);
    AtPosition(object.Position, "", [&] { root.SetName(object.Name); });
    // The read appends what it creates directly below root; freeing those frees the rest.
    const std::size_t existing = root.ComponentCount();
    try
    {
        TReader reader;
        reader.ReadObject(root, object);
        reader.FinishLoading();
    }
    catch (...)
    {
        while (root.ComponentCount() > existing)
            FreeComponent(&root.Components(root.ComponentCount() - 1));
        if (!wasLoading)
            root.CancelLoading();
        try
        {
            root.SetName(oldName);
        }
        catch (const EComponentError&)
        {
            // A sibling took the old name meanwhile; the read's own error is the one to report.
        }
        throw;
    }
}

TComponent& ReadComponent(std::string_view text, TComponent& owner)
{
    const TDescObject object = ParseDescription(text);
    TComponent& component = TReader::Create(owner, object);
    try
    {
        TReader reader;
        reader.ReadObject(component, object);
        reader.FinishLoading();
    }
    catch (...)
    {
        FreeComponent(&component);
        throw;
    }
    return component;
}

TComponentPtr<TComponent> ReadComponent(std::string_view text)
{
    const TDescObject object = ParseDescription(text);
    // The registry creates components for an owner only; the holder stands in and lets go at once, so that
    // the component is read as one owned by nobody.
    const TComponentPtr<TComponent> holder = MakeComponent<TComponent>();
    TComponentPtr<TComponent> component;
    {
        TComponent& created = TReader::Create(*holder, object);
        component = holder->RemoveComponent(created);
    }
    TReader reader;
    reader.ReadObject(*component, object);
    reader.FinishLoading();
    return component;
}

}   // namespace harvolin
