#pragma once
#include "rtl/Component.h"
#include <cstddef>
#include <string>
#include <vector>

namespace harvolin
{

class TAction;

// What follows an action (a button): told when the action's caption or enabled state changes, and when the
// action goes away. Window thread.
class TActionClient
{
public:
    virtual void ActionChanged(TAction& action) = 0;
    // The action is being destroyed; the client drops its pointer.
    virtual void ActionFreed(TAction& action) noexcept = 0;
protected:
    ~TActionClient() = default;
};

// A command shared by the controls that invoke it: a caption, an enabled state and a handler. Owned by its
// action list in a stored description. Window thread.
//
// Published: Caption, Enabled (default True), OnExecute.
class TAction : public TComponent
{
public:
    explicit TAction(TComponent* owner);
    ~TAction() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] const std::string& Caption() const noexcept { return FCaption; }
    // Text that is not UTF-8 is taken as Latin-1.
    void SetCaption(std::string value);
    [[nodiscard]] bool Enabled() const noexcept { return FEnabled; }
    void SetEnabled(bool value);

    // Runs OnExecute when the action is enabled and has one; whether it ran. What the handler raises goes to
    // the caller (a control's event guard takes it to the application's handler).
    bool Execute();

    // A client is told of every change until it is removed or the action is freed.
    void AddClient(TActionClient& client);
    void RemoveClient(TActionClient& client) noexcept;

    TNotifyMethod OnExecute;
private:
    void Changed();

    std::string FCaption;
    bool FEnabled = true;
    std::vector<TActionClient*> FClients;   // not owning
};

// Holds actions: the actions nested in it in a stored description are its own components.
class TActionList : public TComponent
{
public:
    explicit TActionList(TComponent* owner);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // The owned actions, in creation order.
    [[nodiscard]] std::vector<TAction*> Actions() const;
};

}   // namespace harvolin
