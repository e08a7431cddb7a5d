#include "controls/ActnList.h"
#include "controls/Graphics.h"
#include <algorithm>

namespace harvolin
{
namespace
{

const TComponentClassRegistration<TAction> GActionRegistration;
const TComponentClassRegistration<TActionList> GListRegistration;

}   // namespace

TAction::TAction(TComponent* owner) : TComponent(owner) {}

TAction::~TAction()
{
    // A client may remove itself while told, so work on a copy.
    const std::vector<TActionClient*> clients = std::move(FClients);
    for (TActionClient* client : clients)
        client->ActionFreed(*this);
}

const TClassInfo& TAction::StaticClassInfo()
{
    using T = TAction;
    static const TClassInfo info(
        "TAction", &TComponent::StaticClassInfo(),
        []
        {
            TPropertyList<T> list;
            list.String(
                    "Caption", [](const T& o) { return o.Caption(); },
                    [](T& o, const std::string& v) { o.SetCaption(v); }, std::string())
                .Boolean(
                    "Enabled", [](const T& o) { return o.Enabled(); }, [](T& o, bool v) { o.SetEnabled(v); },
                    true);
            EventProperty<TNotifyMethod>(list, "OnExecute",
                                         [](T& o, TNotifyMethod m) { o.OnExecute = std::move(m); });
            return list.Take();
        }());
    return info;
}

void TAction::SetCaption(std::string value)
{
    FCaption = TextAsUtf8(std::move(value));
    Changed();
}

void TAction::SetEnabled(bool value)
{
    FEnabled = value;
    Changed();
}

bool TAction::Execute()
{
    if (!FEnabled || !OnExecute)
        return false;
    OnExecute(*this);
    return true;
}

void TAction::AddClient(TActionClient& client)
{
    if (std::find(FClients.begin(), FClients.end(), &client) == FClients.end())
        FClients.push_back(&client);
}

void TAction::RemoveClient(TActionClient& client) noexcept
{
    std::erase(FClients, &client);
}

void TAction::Changed()
{
    const std::vector<TActionClient*> clients = FClients;
    for (TActionClient* client : clients)
        client->ActionChanged(*this);
}

TActionList::TActionList(TComponent* owner) : TComponent(owner) {}

const TClassInfo& TActionList::StaticClassInfo()
{
    static const TClassInfo info("TActionList", &TComponent::StaticClassInfo(), {});
    return info;
}

std::vector<TAction*> TActionList::Actions() const
{
    std::vector<TAction*> actions;
    for (std::size_t i = 0; i < ComponentCount(); ++i)
        if (auto* action = dynamic_cast<TAction*>(&Components(i)))
            actions.push_back(action);
    return actions;
}

}   // namespace harvolin
