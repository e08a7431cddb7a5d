#include "controls/Controls.h"
#include "controls/Forms.h"
#include "controls/VrClasses.h"
#include "rtl/Diagnostics.h"
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

namespace harvolin
{
namespace
{

QWidget* ParentWidgetOf(TComponent* owner)
{
    return dynamic_cast<QWidget*>(owner);
}

bool ButtonOf(Qt::MouseButton qt, TMouseButton& button) noexcept
{
    switch (qt)
    {
    case Qt::LeftButton:
        button = TMouseButton::mbLeft;
        return true;
    case Qt::RightButton:
        button = TMouseButton::mbRight;
        return true;
    case Qt::MiddleButton:
        button = TMouseButton::mbMiddle;
        return true;
    default:
        return false;
    }
}

}   // namespace

void ReportEventFailure(const TComponent& control, const char* what, const char* message) noexcept
{
    const std::string& name = control.Name().empty() ? control.ClassName() : control.Name();
    if (TApplication* application = TApplication::Instance())
        application->HandleException(name, what, message);
    else
        ReportFailure(name, what, message);
}

std::uint32_t ShiftStateOf(Qt::KeyboardModifiers modifiers) noexcept
{
    std::uint32_t shift = 0;
    if (modifiers.testFlag(Qt::ShiftModifier))
        shift |= ssShift;
    if (modifiers.testFlag(Qt::AltModifier))
        shift |= ssAlt;
    if (modifiers.testFlag(Qt::ControlModifier))
        shift |= ssCtrl;
    return shift;
}

TControl::TControl(TComponent* owner) : TControl(owner, TComponentKind::ckPlain) {}

TControl::TControl(TComponent* owner, TComponentKind kind)
    : QWidget(kind == TComponentKind::ckPlain ? ParentWidgetOf(owner) : nullptr), TComponent(owner, kind)
{
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);   // hot tracking needs moves without a button held
}

const TClassInfo& TControl::StaticClassInfo()
{
    static const TClassInfo info(
        "TControl", &TComponent::StaticClassInfo(),
        []
        {
            TPropertyList<TControl> list;
            list.Integer(
                    "Left", [](const TControl& o) { return o.Left(); },
                    [](TControl& o, int v) { o.SetLeft(v); })
                .Integer(
                    "Top", [](const TControl& o) { return o.Top(); }, [](TControl& o, int v) { o.SetTop(v); })
                .Integer(
                    "Width", [](const TControl& o) { return o.Width(); },
                    [](TControl& o, int v) { o.SetWidth(v); })
                .Integer(
                    "Height", [](const TControl& o) { return o.Height(); },
                    [](TControl& o, int v) { o.SetHeight(v); })
                .Boolean(
                    "Enabled", [](const TControl& o) { return o.Enabled(); },
                    [](TControl& o, bool v) { o.SetEnabled(v); }, true)
                .Boolean(
                    "Visible", [](const TControl& o) { return o.Visible(); },
                    [](TControl& o, bool v) { o.SetVisible(v); }, kDefaultVisible);
            ColorProperty(
                list, "Color", [](const TControl& o) { return o.Color(); },
                [](TControl& o, TColor v) { o.SetColor(v); })
                // Under ParentColor the colour is the parent's, and storing it would switch ParentColor off.
                .StoredWhen([](const TControl& o) { return !o.ParentColor(); });
            list.Boolean(
                    "ParentColor", [](const TControl& o) { return o.ParentColor(); },
                    [](TControl& o, bool v) { o.SetParentColor(v); })
                .StoredWhen([](const TControl& o) { return !o.ParentColor(); })
                .Integer(
                    "Cursor", [](const TControl& o) { return o.Cursor(); },
                    [](TControl& o, int v) { o.SetCursor(v); }, kDefaultCursor)
                .String(
                    "Hint", [](const TControl& o) { return o.Hint(); },
                    [](TControl& o, const std::string& v) { o.SetHint(v); }, std::string())
                .Boolean(
                    "ShowHint", [](const TControl& o) { return o.ShowHint(); },
                    [](TControl& o, bool v) { o.SetShowHint(v); }, kDefaultShowHint)
                .Boolean(
                    "TabStop", [](const TControl& o) { return o.TabStop(); },
                    [](TControl& o, bool v) { o.SetTabStop(v); }, kDefaultTabStop)
                .Integer(
                    "TabOrder", [](const TControl& o) { return o.TabOrder(); },
                    [](TControl& o, int v) { o.SetTabOrder(v); }, kDefaultTabOrder);
            return list.Take();
        }());
    return info;
}

void TControl::SetBounds(int left, int top, int width, int height)
{
    setGeometry(left, top, std::max(0, width), std::max(0, height));
}

void TControl::SetVisible(bool value)
{
    FVisible = value;
    ApplyVisible();
}

void TControl::ApplyVisible()
{
    // A child shows with its parent; only hiding is told to Qt, so that a control made before its window
    // is shown does not become a window of its own.
    if (!FVisible)
        hide();
    else if (parentWidget() != nullptr)
        show();
}

void TControl::SetColor(TColor value)
{
    FParentColor = false;
    if (value == FColor)
        return;
    FColor = value;
    NotifyChildrenOfColor();
    Invalidate();
}

void TControl::SetParentColor(bool value)
{
    if (value == FParentColor)
        return;
    FParentColor = value;
    NotifyChildrenOfColor();
    Invalidate();
}

TColor TControl::ShownColor() const
{
    if (FParentColor)
        if (const auto* parent = dynamic_cast<const TControl*>(parentWidget()))
            return parent->ShownColor();
    return FColor;
}

void TControl::NotifyChildrenOfColor()
{
    for (QObject* child : children())
        if (auto* control = dynamic_cast<TControl*>(child); control != nullptr && control->FParentColor)
            control->ParentColorChanged();
}

void TControl::ParentColorChanged()
{
    NotifyChildrenOfColor();
    Invalidate();
}

void TControl::SetCursor(int value)
{
    FCursor = value;
    if (value == crDefault)
        unsetCursor();
    else
        setCursor(ScreenCursor(value));
}

void TControl::SetHint(std::string value)
{
    FHint = std::move(value);
    setToolTip(FShowHint ? QString::fromStdString(FHint) : QString());
}

void TControl::SetShowHint(bool value)
{
    FShowHint = value;
    setToolTip(FShowHint ? QString::fromStdString(FHint) : QString());
}

void TControl::SetTabStop(bool value)
{
    FTabStop = value;
    setFocusPolicy(value ? Qt::StrongFocus : Qt::NoFocus);
}

void TControl::ResumePainting()
{
    if (FPaintSuspended > 0 && --FPaintSuspended == 0)
        Invalidate();
}

void TControl::Loaded()
{
    TComponent::Loaded();
    ApplyVisible();
    Invalidate();
}

void TControl::Invalidate()
{
    if (IsLoading() || PaintingSuspended())
        return;
    update();
}

void TControl::MouseDown(TMouseButton button, std::uint32_t shift, int x, int y)
{
    if (OnMouseDown)
        OnMouseDown(*this, button, shift, x, y);
}

void TControl::MouseMove(std::uint32_t shift, int x, int y)
{
    if (OnMouseMove)
        OnMouseMove(*this, shift, x, y);
}

void TControl::MouseUp(TMouseButton button, std::uint32_t shift, int x, int y)
{
    if (OnMouseUp)
        OnMouseUp(*this, button, shift, x, y);
}

void TControl::KeyDown(int& key, std::uint32_t shift)
{
    if (OnKeyDown)
        OnKeyDown(*this, key, shift);
}

void TControl::DoEnter()
{
    if (OnEnter)
        OnEnter(*this);
}

void TControl::DoExit()
{
    if (OnExit)
        OnExit(*this);
}

void TControl::MouseEntered(TControl&) {}

void TControl::MouseLeft(TControl&) {}

void TControl::FontChanged(TControl&)
{
    Invalidate();
}

void TControl::TextChanged(TControl&)
{
    Invalidate();
}

void TControl::mousePressEvent(QMouseEvent* event)
{
    TMouseButton button{};
    if (!ButtonOf(event->button(), button))
        return QWidget::mousePressEvent(event);
    const QPoint p = event->position().toPoint();
    if (button == TMouseButton::mbLeft)
        FPressed = true;
    GuardEvent(*this, "an event handler",
               [&] { MouseDown(button, ShiftStateOf(event->modifiers()), p.x(), p.y()); });
}

void TControl::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    GuardEvent(*this, "an event handler", [&] { MouseMove(ShiftStateOf(event->modifiers()), p.x(), p.y()); });
}

void TControl::mouseReleaseEvent(QMouseEvent* event)
{
    TMouseButton button{};
    if (!ButtonOf(event->button(), button))
        return QWidget::mouseReleaseEvent(event);
    const QPoint p = event->position().toPoint();
    const bool click = button == TMouseButton::mbLeft && FPressed && rect().contains(p);
    if (button == TMouseButton::mbLeft)
        FPressed = false;
    GuardEvent(*this, "an event handler",
               [&]
               {
                   MouseUp(button, ShiftStateOf(event->modifiers()), p.x(), p.y());
                   if (click && OnClick)
                       OnClick(*this);
               });
}

void TControl::keyPressEvent(QKeyEvent* event)
{
    int key = event->key();
    GuardEvent(*this, "an event handler", [&] { KeyDown(key, ShiftStateOf(event->modifiers())); });
    if (key != 0)
        event->ignore();   // not taken: the parent may use it
}

void TControl::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    GuardEvent(*this, "an event handler", [&] { DoEnter(); });
}

void TControl::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    GuardEvent(*this, "an event handler", [&] { DoExit(); });
}

void TControl::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    GuardEvent(*this, "an event handler", [&] { MouseEntered(*this); });
}

void TControl::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    GuardEvent(*this, "an event handler", [&] { MouseLeft(*this); });
}

void TControl::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange)
        Invalidate();
    else if (event->type() == QEvent::FontChange)
        GuardEvent(*this, "an event handler", [&] { FontChanged(*this); });
    else if (event->type() == QEvent::WindowTitleChange)
        GuardEvent(*this, "an event handler", [&] { TextChanged(*this); });
}

}   // namespace harvolin
