#include "rtl/Component.h"
#include <algorithm>
#include <mutex>
#include <type_traits>

namespace harvolin
{

namespace
{

bool IsIdentifier(std::string_view name)
{
    const auto isStart = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    const auto isPart = [&](char c) { return isStart(c) || (c >= '0' && c <= '9'); };
    return !name.empty() && isStart(name.front()) && std::all_of(name.begin() + 1, name.end(), isPart);
}

struct TLiveRoots
{
    std::mutex Lock;
    std::vector<TComponent*> Roots;   // guarded by Lock
};

TLiveRoots& LiveRootList()
{
    static TLiveRoots roots;
    return roots;
}

std::string Describe(const TComponent& component)
{
    return component.Name().empty() ? std::string("an unnamed component")
                                    : "component '" + component.Name() + "'";
}

}   // namespace

const TClassInfo& TComponent::StaticClassInfo()
{
    static const TClassInfo info("TComponent", &TPersistent::StaticClassInfo(), {});
    return info;
}

void FreeComponent(TComponent* component) noexcept
{
    if (component == nullptr)
        return;
    component->Destroying();
    component->StopTree();
    delete component;
}

TComponent::TComponent(TComponent* owner, TComponentKind kind) : FKind(kind)
{
    if (FKind != TComponentKind::ckPlain)
    {
        TLiveRoots& live = LiveRootList();
        std::lock_guard lock(live.Lock);
        live.Roots.push_back(this);
    }
    // Last, so that a failed push_back leaves no owner pointing at a half-built object; nor does the list
    // of roots keep one.
    if (owner != nullptr)
    {
        try
        {
            owner->FComponents.push_back(this);
        }
        catch (...)
        {
            TLiveRoots& live = LiveRootList();
            std::lock_guard lock(live.Lock);
            std::erase(live.Roots, this);
            throw;
        }
        FOwner = owner;
    }
}

TComponent::~TComponent()
{
    Destroying();
    // Each child removes itself from FComponents as it goes; taking the back each time also copes with a
    // child whose destructor frees a sibling.
    while (!FComponents.empty())
        FreeComponent(FComponents.back());
    if (FOwner != nullptr)
        std::erase(FOwner->FComponents, this);
    if (FKind != TComponentKind::ckPlain)
    {
        TLiveRoots& live = LiveRootList();
        std::lock_guard lock(live.Lock);
        std::erase(live.Roots, this);
    }
}

std::vector<TComponent*> TComponent::LiveRoots()
{
    TLiveRoots& live = LiveRootList();
    std::lock_guard lock(live.Lock);
    return live.Roots;
}

void TComponent::SetName(std::string name)
{
    if (name == FName)
        return;
    if (!name.empty() && !IsIdentifier(name))
        throw EComponentError("cannot rename " + Describe(*this) + " to '" + name +
                              "': a component name is a letter or '_' followed by letters, digits or '_'");
    if (!name.empty() && FOwner != nullptr)
        CheckNameFree(*FOwner, name, *this);
    FName = std::move(name);
}

TComponent& TComponent::Root() noexcept
{
    return const_cast<TComponent&>(std::as_const(*this).Root());
}

const TComponent& TComponent::Root() const noexcept
{
    const TComponent* component = this;
    const auto isApplication = [](const TComponent& candidate)
    { return candidate.FOwner == nullptr && candidate.FKind == TComponentKind::ckPlain; };
    while (component->FOwner != nullptr && component->FKind == TComponentKind::ckPlain &&
           !isApplication(*component->FOwner))
        component = component->FOwner;
    return *component;
}

void TComponent::SetDesigning(bool value) noexcept
{
    if (value)
        FState.Include(TComponentStateFlag::csDesigning);
    else
        FState.Exclude(TComponentStateFlag::csDesigning);
}

void TComponent::Loading() noexcept
{
    FState.Include(TComponentStateFlag::csLoading);
}

void TComponent::StopTree() noexcept
{
    if (!FStopped)
    {
        FStopped = true;
        BeforeDestruction();
    }
    for (std::size_t i = FComponents.size(); i-- > 0;)
        FComponents[i]->StopTree();
}

void TComponent::CancelLoading() noexcept
{
    FState.Exclude(TComponentStateFlag::csLoading);
}

void TComponent::Loaded()
{
    FState.Exclude(TComponentStateFlag::csLoading);
    FState.Include(TComponentStateFlag::csLoaded);
}

void TComponent::Destroying() noexcept
{
    if (FState.Contains(TComponentStateFlag::csDestroying))
        return;
    FState.Include(TComponentStateFlag::csDestroying);
    for (TComponent* component : FComponents)
        component->Destroying();
}

TComponent& TComponent::Components(std::size_t index) const
{
    if (index >= FComponents.size())
        throw ERangeError(Describe(*this) + ": component index " + std::to_string(index) +
                          " out of range (it owns " + std::to_string(FComponents.size()) + ")");
    return *FComponents[index];
}

TComponent* TComponent::FindComponent(std::string_view name) const noexcept
{
    if (name.empty())
        return nullptr;
    const auto found = std::find_if(FComponents.begin(), FComponents.end(),
                                    [&](const TComponent* component) { return component->FName == name; });
    return found == FComponents.end() ? nullptr : *found;
}

void TComponent::Adopt(TComponent& component)
{
    if (component.FOwner != nullptr)
        throw EComponentError("cannot insert " + Describe(component) + " into " + Describe(*this) +
                              ": it is owned by " + Describe(*component.FOwner));
    for (const TComponent* ancestor = this; ancestor != nullptr; ancestor = ancestor->FOwner)
        if (ancestor == &component)
            throw EComponentError("cannot insert " + Describe(component) + " into " + Describe(*this) +
                                  ": it would own itself");
    if (!component.FName.empty())
        CheckNameFree(*this, component.FName, component);
    FComponents.push_back(&component);
    component.FOwner = this;
}

TComponentPtr<TComponent> TComponent::RemoveComponent(TComponent& component)
{
    if (component.FOwner != this)
        throw EComponentError("cannot remove " + Describe(component) + " from " + Describe(*this) +
                              ": it is not owned by it");
    std::erase(FComponents, &component);
    component.FOwner = nullptr;
    return TComponentPtr<TComponent>(&component);
}

void TComponent::PublishMethod(std::string name, TNotifyMethod method)
{
    FMethods.insert_or_assign(std::move(name), TPublishedMethod(std::move(method)));
}

void TComponent::PublishMethod(std::string name, TCloseQueryMethod method)
{
    FMethods.insert_or_assign(std::move(name), TPublishedMethod(std::move(method)));
}

const TPublishedMethod* TComponent::FindMethod(std::string_view name) const noexcept
{
    const auto found = FMethods.find(name);
    return found == FMethods.end() ? nullptr : &found->second;
}

const std::string& TComponent::BoundMethodName(std::string_view event) const noexcept
{
    static const std::string none;
    const auto found = FBoundMethods.find(event);
    return found == FBoundMethods.end() ? none : found->second;
}

void TComponent::SetBoundMethodName(std::string_view event, std::string name)
{
    if (name.empty())
    {
        if (const auto found = FBoundMethods.find(event); found != FBoundMethods.end())
            FBoundMethods.erase(found);
        return;
    }
    FBoundMethods.insert_or_assign(std::string(event), std::move(name));
}

namespace
{

template <class TMethod>
const char* SignatureName()
{
    return std::is_same_v<TMethod, TNotifyMethod> ? "notify" : "close-query";
}

}   // namespace

template <class TMethod>
TMethod ResolveMethod(const TComponent& component, const TDescValue& name)
{
    const std::string& handler = name.AsIdentifier();
    if (handler == "nil")
        return {};
    const TComponent& root = component.Root();
    const TPublishedMethod* method = root.FindMethod(handler);
    if (method == nullptr)
        throw EReadError("no handler '" + handler + "' in " + root.ClassName());
    if (const auto* wanted = std::get_if<TMethod>(method))
        return *wanted;
    using TOther = std::conditional_t<std::is_same_v<TMethod, TNotifyMethod>, TCloseQueryMethod, TNotifyMethod>;
    throw EReadError("the handler '" + handler + "' in " + root.ClassName() + " is a " +
                     SignatureName<TOther>() + " handler, not a " + SignatureName<TMethod>() + " handler");
}

template TNotifyMethod ResolveMethod<TNotifyMethod>(const TComponent&, const TDescValue&);
template TCloseQueryMethod ResolveMethod<TCloseQueryMethod>(const TComponent&, const TDescValue&);

void TComponent::CheckNameFree(const TComponent& owner, std::string_view name, const TComponent& named)
{
    const TComponent* holder = owner.FindComponent(name);
    if (holder != nullptr && holder != &named)
        throw EComponentError("cannot name " + Describe(named) + " '" + std::string(name) +
                              "': " + Describe(owner) + " already owns " + Describe(*holder));
}

}   // namespace harvolin
