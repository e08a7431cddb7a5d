#include "controls/StdCtrls.h"
#include "controls/VrClasses.h"
#include <QCheckBox>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <utility>

namespace harvolin
{
namespace
{

const TComponentClassRegistration<TLabel> GLabelRegistration;
const TComponentClassRegistration<TCheckBox> GCheckBoxRegistration;
const TComponentClassRegistration<TButton> GButtonRegistration;

template <class T>
void AddCaption(TPropertyList<T>& list)
{
    list.String(
        "Caption", [](const T& o) { return o.Caption(); },
        [](T& o, const std::string& v) { o.SetCaption(v); }, std::string());
}

// The action of that name anywhere below root, at any depth (actions sit inside their action list).
TAction* FindAction(const TComponent& root, std::string_view name)
{
    for (std::size_t i = 0; i < root.ComponentCount(); ++i)
    {
        TComponent& component = root.Components(i);
        if (auto* action = dynamic_cast<TAction*>(&component); action != nullptr && action->Name() == name)
            return action;
        if (TAction* found = FindAction(component, name))
            return found;
    }
    return nullptr;
}

TAction& ActionNamed(const TComponent& root, const std::string& name)
{
    TAction* action = FindAction(root, name);
    if (action == nullptr)
        throw EReadError("no action '" + name + "' in " + root.ClassName());
    return *action;
}

Qt::Alignment AlignmentFlags(TAlignment alignment, TTextLayout layout)
{
    Qt::Alignment flags;
    switch (alignment)
    {
    case TAlignment::taLeftJustify:
        flags |= Qt::AlignLeft;
        break;
    case TAlignment::taRightJustify:
        flags |= Qt::AlignRight;
        break;
    case TAlignment::taCenter:
        flags |= Qt::AlignHCenter;
        break;
    }
    switch (layout)
    {
    case TTextLayout::tlTop:
        flags |= Qt::AlignTop;
        break;
    case TTextLayout::tlCenter:
        flags |= Qt::AlignVCenter;
        break;
    case TTextLayout::tlBottom:
        flags |= Qt::AlignBottom;
        break;
    }
    return flags;
}

}   // namespace

TLabel::TLabel(TComponent* owner) : TTextControl(owner)
{
    AdjustBounds();
}

const TClassInfo& TLabel::StaticClassInfo()
{
    using T = TLabel;
    static const TClassInfo info(
        "TLabel", &TTextControl::StaticClassInfo(),
        []
        {
            TPropertyList<T> list;
            AddCaption(list);
            list.Boolean(
                    "AutoSize", [](const T& o) { return o.AutoSize(); },
                    [](T& o, bool v) { o.SetAutoSize(v); }, true)
                .Enumeration<TAlignment>(
                    "Alignment", {"taLeftJustify", "taRightJustify", "taCenter"},
                    [](const T& o) { return o.Alignment(); }, [](T& o, TAlignment v) { o.SetAlignment(v); },
                    TAlignment::taLeftJustify)
                .Enumeration<TTextLayout>(
                    "Layout", {"tlTop", "tlCenter", "tlBottom"}, [](const T& o) { return o.Layout(); },
                    [](T& o, TTextLayout v) { o.SetLayout(v); }, TTextLayout::tlTop);
            NotifyEventProperty(list, "OnClick", &T::OnClick);
            return list.Take();
        }());
    return info;
}

void TLabel::SetCaption(std::string value)
{
    FCaption = TextAsUtf8(std::move(value));
    AdjustBounds();
    Invalidate();
}

void TLabel::SetAutoSize(bool value)
{
    FAutoSize = value;
    AdjustBounds();
}

void TLabel::SetAlignment(TAlignment value)
{
    FAlignment = value;
    Invalidate();
}

void TLabel::SetLayout(TTextLayout value)
{
    FLayout = value;
    Invalidate();
}

void TLabel::Loaded()
{
    TTextControl::Loaded();
    AdjustBounds();
}

void TLabel::ShownFontChanged()
{
    AdjustBounds();
    TTextControl::ShownFontChanged();
}

void TLabel::AdjustBounds()
{
    if (!FAutoSize || IsLoading())
        return;
    const QFontMetrics metrics(font());
    SetBounds(Left(), Top(), metrics.horizontalAdvance(ToQString(FCaption)), metrics.height());
}

void TLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!ParentColor())
        painter.fillRect(rect(), QColor::fromRgb(ColorToQRgb(ShownColor())));
    painter.setFont(font());
    painter.setPen(isEnabled() ? FontColor() : QColor::fromRgb(ColorToQRgb(clGrayText)));
    painter.drawText(rect(), static_cast<int>(AlignmentFlags(FAlignment, FLayout)) | Qt::TextSingleLine,
                     ToQString(FCaption));
}

TCheckBox::TCheckBox(TComponent* owner) : TTextControl(owner), FBox(new QCheckBox(this))
{
    setFocusProxy(FBox);
    QObject::connect(FBox, &QCheckBox::toggled, this,
                     [this](bool)
                     {
                         if (!IsLoading() && OnClick)
                             GuardEvent(*this, "OnClick", [&] { OnClick(*this); });
                     });
}

const TClassInfo& TCheckBox::StaticClassInfo()
{
    using T = TCheckBox;
    static const TClassInfo info("TCheckBox", &TTextControl::StaticClassInfo(),
                                 []
                                 {
                                     TPropertyList<T> list;
                                     AddCaption(list);
                                     list.Boolean(
                                         "Checked", [](const T& o) { return o.Checked(); },
                                         [](T& o, bool v) { o.SetChecked(v); }, false);
                                     NotifyEventProperty(list, "OnClick", &T::OnClick);
                                     return list.Take();
                                 }());
    return info;
}

void TCheckBox::SetCaption(std::string value)
{
    FCaption = TextAsUtf8(std::move(value));
    FBox->setText(ToQString(FCaption));
}

bool TCheckBox::Checked() const
{
    return FBox->isChecked();
}

void TCheckBox::SetChecked(bool value)
{
    FBox->setChecked(value);
}

void TCheckBox::resizeEvent(QResizeEvent* event)
{
    TTextControl::resizeEvent(event);
    FBox->setGeometry(rect());
}

TButton::TButton(TComponent* owner) : TTextControl(owner), FButton(new QPushButton(this))
{
    setFocusProxy(FButton);
    QObject::connect(FButton, &QPushButton::clicked, this,
                     [this] { GuardEvent(*this, "OnClick", [&] { Click(); }); });
}

TButton::~TButton()
{
    if (FAction != nullptr)
        FAction->RemoveClient(*this);
}

const TClassInfo& TButton::StaticClassInfo()
{
    using T = TButton;
    static const TClassInfo info(
        "TButton", &TTextControl::StaticClassInfo(),
        []
        {
            TPropertyList<T> list;
            AddCaption(list);
            // The action's caption is the action's to store.
            list.StoredWhen([](const T& o) { return o.Action() == nullptr; })
                .Value(
                    "Action", TPropertyKind::pkEnumeration, [](const T& o) { return o.ActionDesc(); },
                    [](T& o, const TDescValue& v) { o.SetActionByName(v); }, TDescValue::Identifier("nil"));
            NotifyEventProperty(list, "OnClick", &T::OnClick);
            return list.Take();
        }());
    return info;
}

void TButton::SetCaption(std::string value)
{
    FCaption = TextAsUtf8(std::move(value));
    FButton->setText(ToQString(FCaption));
}

void TButton::SetAction(TAction* action)
{
    FPendingAction.clear();
    if (FAction != nullptr)
        FAction->RemoveClient(*this);
    FAction = action;
    if (FAction == nullptr)
        return;
    FAction->AddClient(*this);
    ActionChanged(*FAction);
}

void TButton::Click()
{
    if (OnClick)
        OnClick(*this);
    else if (FAction != nullptr)
        (void)FAction->Execute();
}

void TButton::Loaded()
{
    TTextControl::Loaded();
    if (FPendingAction.empty())
        return;
    const std::string name = std::exchange(FPendingAction, std::string());
    SetAction(&ActionNamed(Root(), name));
}

void TButton::SetActionByName(const TDescValue& value)
{
    const std::string& name = value.AsIdentifier();
    if (name == "nil")
        return SetAction(nullptr);
    if (IsLoading())
    {
        // The action may come later in the description, or sit in a list not read yet.
        FPendingAction = name;
        return;
    }
    SetAction(&ActionNamed(Root(), name));
}

TDescValue TButton::ActionDesc() const
{
    if (FAction != nullptr)
        return TDescValue::Identifier(FAction->Name());
    return TDescValue::Identifier(FPendingAction.empty() ? std::string("nil") : FPendingAction);
}

void TButton::resizeEvent(QResizeEvent* event)
{
    TTextControl::resizeEvent(event);
    FButton->setGeometry(rect());
}

void TButton::ActionChanged(TAction& action)
{
    FCaption = action.Caption();
    FButton->setText(ToQString(FCaption));
    setEnabled(action.Enabled());
}

void TButton::ActionFreed(TAction& action) noexcept
{
    if (FAction == &action)
        FAction = nullptr;
}

}   // namespace harvolin
