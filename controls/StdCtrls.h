#pragma once
#include "controls/ActnList.h"
#include "controls/Graphics.h"
#include <cstdint>
#include <string>

class QCheckBox;
class QPaintEvent;
class QPushButton;
class QResizeEvent;

namespace harvolin
{

enum class TAlignment : std::uint8_t
{
    taLeftJustify,
    taRightJustify,
    taCenter
};

enum class TTextLayout : std::uint8_t
{
    tlTop,
    tlCenter,
    tlBottom
};

// One line of text painted in its font. AutoSize (the default) fits the label to its text whenever the text
// or the font changes; with ParentColor (the default) the parent shows through, with a colour of its own the
// label fills its rectangle. A disabled label draws its text in the grey of disabled text. Window thread.
//
// Published (beyond TControl's): Caption, AutoSize, Alignment, Layout, Font, ParentFont, OnClick.
class TLabel : public TTextControl
{
public:
    explicit TLabel(TComponent* owner);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] const std::string& Caption() const noexcept { return FCaption; }
    // Text that is not UTF-8 is taken as Latin-1 (TextAsUtf8).
    void SetCaption(std::string value);
    [[nodiscard]] bool AutoSize() const noexcept { return FAutoSize; }
    void SetAutoSize(bool value);
    [[nodiscard]] TAlignment Alignment() const noexcept { return FAlignment; }
    void SetAlignment(TAlignment value);
    [[nodiscard]] TTextLayout Layout() const noexcept { return FLayout; }
    void SetLayout(TTextLayout value);

    void Loaded() override;
protected:
    void ShownFontChanged() override;
    void paintEvent(QPaintEvent* event) override;
private:
    // Fits the size to the text under AutoSize; not while loading, when the font may still change.
    void AdjustBounds();

    std::string FCaption;
    bool FAutoSize = true;
    TAlignment FAlignment = TAlignment::taLeftJustify;
    TTextLayout FLayout = TTextLayout::tlTop;
};

// A check box: a QCheckBox filling the control. OnClick fires whenever Checked changes, by the user or by
// code, but never while the control is being loaded. Window thread.
//
// Published (beyond TControl's): Caption, Checked, Font, ParentFont, OnClick.
class TCheckBox : public TTextControl
{
public:
    explicit TCheckBox(TComponent* owner);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] const std::string& Caption() const noexcept { return FCaption; }
    void SetCaption(std::string value);
    [[nodiscard]] bool Checked() const;
    void SetChecked(bool value);
    // The Qt widget inside, for driving it in tests.
    [[nodiscard]] QCheckBox& Box() const noexcept { return *FBox; }
protected:
    void resizeEvent(QResizeEvent* event) override;
private:
    QCheckBox* FBox;   // a child widget: Qt frees it
    std::string FCaption;
};

// A push button: a QPushButton filling the control. With an Action it shows the action's caption and
// enabled state, follows their later changes, and a click executes the action; OnClick, when set, runs
// instead. Setting the button's own Enabled changes the button alone. Window thread.
//
// Published (beyond TControl's): Caption (stored only without an action), Action (the name of a TAction
// anywhere in the form's tree, resolved when loading ends), Font, ParentFont, OnClick.
class TButton : public TTextControl, private TActionClient
{
public:
    explicit TButton(TComponent* owner);
    ~TButton() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] const std::string& Caption() const noexcept { return FCaption; }
    void SetCaption(std::string value);
    [[nodiscard]] TAction* Action() const noexcept { return FAction; }
    // Links the button to action (null: none) and takes its caption and enabled state at once.
    void SetAction(TAction* action);
    // What a click does: OnClick when set, else the action's Execute. What they raise goes to the caller.
    void Click();
    // The Qt widget inside, for driving it in tests.
    [[nodiscard]] QPushButton& Button() const noexcept { return *FButton; }

    // Resolves an action named while loading; raises EReadError when the form holds no action of that name.
    void Loaded() override;
protected:
    void resizeEvent(QResizeEvent* event) override;
private:
    void ActionChanged(TAction& action) override;
    void ActionFreed(TAction& action) noexcept override;
    void SetActionByName(const TDescValue& value);
    [[nodiscard]] TDescValue ActionDesc() const;

    QPushButton* FButton;   // a child widget: Qt frees it
    std::string FCaption;
    TAction* FAction = nullptr;   // not owning; cleared by ActionFreed
    std::string FPendingAction;   // named while loading, resolved by Loaded
};

}   // namespace harvolin
