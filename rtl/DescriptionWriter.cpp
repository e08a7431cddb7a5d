#include "rtl/DescriptionWriter.h"
#include <algorithm>
#include <bit>
#include <functional>
#include <vector>

namespace harvolin
{
namespace
{

bool SameStoredValue(const TDescValue& value, const TDescValue& defaultValue)
{
    // == on doubles takes -0.0 for 0.0 and never matches a NaN; stored values must keep both.
    if (value.Kind() == TDescValue::TKind::vkFloat && defaultValue.Kind() == TDescValue::TKind::vkFloat)
        return std::bit_cast<std::uint64_t>(value.AsFloat()) ==
               std::bit_cast<std::uint64_t>(defaultValue.AsFloat());
    return value == defaultValue;
}

std::vector<std::string> Extend(const std::vector<std::string>& prefix, std::string_view name)
{
    std::vector<std::string> path = prefix;
    path.emplace_back(name);
    return path;
}

// Collects the extra values that have data.
class TWriteFiler final : public TFiler
{
public:
    TWriteFiler(std::vector<TDescAssignment>& out, const std::vector<std::string>& prefix)
        : FOut(out), FPrefix(prefix)
    {
    }

    void DefineProperty(std::string_view name, const std::function<void(const TDescValue&)>& read,
                        const std::function<TDescValue()>& write, bool hasData) override
    {
        (void)read;
        if (hasData && write)
            FOut.push_back({Extend(FPrefix, name), write(), {}});
    }
private:
    std::vector<TDescAssignment>& FOut;
    const std::vector<std::string>& FPrefix;
};

void AddProperties(std::vector<TDescAssignment>& out, TPersistent& object,
                   const std::vector<std::string>& prefix, std::vector<const TPersistent*>& ancestors);

// Each item is stored as an object is, with paths relative to the item; the collection itself stores nothing
// else. An empty collection is the default and the caller stores nothing for it.
TDescValue DescribeItems(TCollection& collection, std::vector<const TPersistent*>& ancestors)
{
    ancestors.push_back(&collection);
    std::vector<TDescItem> items(collection.Count());
    for (std::size_t i = 0; i < collection.Count(); ++i)
        AddProperties(items[i].Assignments, collection.Items(i), {}, ancestors);
    ancestors.pop_back();
    return TDescValue::Collection(std::move(items));
}

// ancestors holds the objects on the path from the component down to object, so that two objects holding
// each other end the walk instead of looping.
void AddProperties(std::vector<TDescAssignment>& out, TPersistent& object,
                   const std::vector<std::string>& prefix, std::vector<const TPersistent*>& ancestors)
{
    ancestors.push_back(&object);
    for (const TPropertyInfo* property : object.ClassInfo().Properties())
    {
        if (property->Kind == TPropertyKind::pkClass)
        {
            TPersistent* held = property->Object ? property->Object(object) : nullptr;
            if (held == nullptr || dynamic_cast<TComponent*>(held) != nullptr ||
                std::find(ancestors.begin(), ancestors.end(), held) != ancestors.end())
                continue;
            if (auto* collection = dynamic_cast<TCollection*>(held))
            {
                if (collection->Count() > 0)
                    out.push_back(
                        {Extend(prefix, property->Name), DescribeItems(*collection, ancestors), {}});
                continue;
            }
            AddProperties(out, *held, Extend(prefix, property->Name), ancestors);
            continue;
        }
        if (!property->Get || !property->Set || (property->Stored && !property->Stored(object)))
            continue;
        TDescValue value = property->Get(object);
        if (property->Default && SameStoredValue(value, *property->Default))
            continue;
        out.push_back({Extend(prefix, property->Name), std::move(value), {}});
    }
    TWriteFiler filer(out, prefix);
    object.DefineProperties(filer);
    ancestors.pop_back();
}

}   // namespace

TDescObject DescribeComponent(const TComponent& root)
{
    TDescObject object;
    object.Name = root.Name();
    object.ClassName = root.ClassName();
    std::vector<const TPersistent*> ancestors;
    // DefineProperties and Object take the object as changeable, as the reader uses them too; the writer's
    // filer only asks for values and an Object accessor only hands out what the object holds.
    AddProperties(object.Assignments, const_cast<TComponent&>(root), {}, ancestors);
    for (std::size_t i = 0; i < root.ComponentCount(); ++i)
        object.Children.push_back(DescribeComponent(root.Components(i)));
    return object;
}

std::string WriteDescription(const TComponent& root)
{
    return PrintDescription(DescribeComponent(root));
}

}   // namespace harvolin
