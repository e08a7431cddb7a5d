#pragma once
#include "controls/VrSystem.h"
#include "rtl/Component.h"
#include <QWidget>
#include <functional>
#include <string>

namespace harvolin
{

class TControl;

enum class TMouseButton : std::uint8_t
{
    mbLeft,
    mbRight,
    mbMiddle
};

// Shift, Ctrl and Alt as bits.
enum : std::uint32_t
{
    ssShift = 1,
    ssAlt = 2,
    ssCtrl = 4
};

using TNotifyEvent = std::function<void(TControl& sender)>;
using TMouseEvent =
    std::function<void(TControl& sender, TMouseButton button, std::uint32_t shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TControl& sender, std::uint32_t shift, int x, int y)>;
// The key is Qt's key code; a handler may set it to 0 to say it took the key.
using TKeyEvent = std::function<void(TControl& sender, int& key, std::uint32_t shift)>;

// The framework's control: a Qt widget that is also a component, so that a stored description creates it,
// names it and sets its published properties, and a window lays it out and shows it. Its widget parent is
// its owner when the owner is a widget; either may free it first (the component leaves its owner, the
// widget its parent). Window thread only.
//
// Published: Left, Top, Width, Height, Enabled, Visible, Color, ParentColor, Cursor, Hint, ShowHint,
// TabStop, TabOrder. Events are set from code, or bound by name where a derived class publishes them.
class TControl : public QWidget, public TComponent
{
public:
    explicit TControl(TComponent* owner);
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] int Left() const { return x(); }
    void SetLeft(int value) { SetBounds(value, Top(), Width(), Height()); }
    [[nodiscard]] int Top() const { return y(); }
    void SetTop(int value) { SetBounds(Left(), value, Width(), Height()); }
    [[nodiscard]] int Width() const { return width(); }
    void SetWidth(int value) { SetBounds(Left(), Top(), value, Height()); }
    [[nodiscard]] int Height() const { return height(); }
    void SetHeight(int value) { SetBounds(Left(), Top(), Width(), value); }
    // Negative sizes count as 0.
    virtual void SetBounds(int left, int top, int width, int height);
    [[nodiscard]] TVrRect ClientRect() const { return {0, 0, width(), height()}; }

    [[nodiscard]] bool Enabled() const { return isEnabled(); }
    void SetEnabled(bool value) { setEnabled(value); }
    [[nodiscard]] bool Visible() const { return FVisible; }
    void SetVisible(bool value);

    // The own colour; with ParentColor a control shows its parent control's colour instead, and setting
    // Color turns ParentColor off.
    [[nodiscard]] TColor Color() const noexcept { return FColor; }
    void SetColor(TColor value);
    [[nodiscard]] bool ParentColor() const noexcept { return FParentColor; }
    void SetParentColor(bool value);
    // What is painted: the parent control's colour under ParentColor, else Color.
    [[nodiscard]] TColor ShownColor() const;

    // A screen cursor number (crDefault, crHandPoint, ...).
    [[nodiscard]] int Cursor() const noexcept { return FCursor; }
    void SetCursor(int value);
    [[nodiscard]] const std::string& Hint() const noexcept { return FHint; }
    void SetHint(std::string value);
    [[nodiscard]] bool ShowHint() const noexcept { return FShowHint; }
    void SetShowHint(bool value);
    [[nodiscard]] bool TabStop() const noexcept { return FTabStop; }
    void SetTabStop(bool value);
    [[nodiscard]] int TabOrder() const noexcept { return FTabOrder; }
    void SetTabOrder(int value) { FTabOrder = value; }

    // While painting is suspended (nested), repaint requests are dropped; resuming the last repaints.
    void SuspendPainting() noexcept { ++FPaintSuspended; }
    void ResumePainting();
    [[nodiscard]] bool PaintingSuspended() const noexcept { return FPaintSuspended > 0; }
    [[nodiscard]] bool IsLoading() const noexcept
    {
        return ComponentState().Contains(TComponentStateFlag::csLoading);
    }

    void Loaded() override;

    TNotifyEvent OnClick;
    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;
    TKeyEvent OnKeyDown;
protected:
    // For forms: a top-level window, whatever the owner.
    TControl(TComponent* owner, TComponentKind kind);

    // Asks for the control to be painted again, unless it is being loaded or its painting is suspended.
    virtual void Invalidate();
    // A control whose colour follows its parent's hears of the parent's change here; repaints.
    virtual void ParentColorChanged();

    // Qt's mouse and key events, turned into the framework's. Each default fires the matching event.
    virtual void MouseDown(TMouseButton button, std::uint32_t shift, int x, int y);
    virtual void MouseMove(std::uint32_t shift, int x, int y);
    virtual void MouseUp(TMouseButton button, std::uint32_t shift, int x, int y);
    virtual void KeyDown(int& key, std::uint32_t shift);
    virtual void DoEnter();
    virtual void DoExit();
    // The mouse came over the control or left it; its font or text changed (both repaint by default).
    virtual void MouseEntered(TControl& sender);
    virtual void MouseLeft(TControl& sender);
    virtual void FontChanged(TControl& sender);
    virtual void TextChanged(TControl& sender);

    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;
private:
    void ApplyVisible();
    void NotifyChildrenOfColor();

    TColor FColor = clBtnFace;
    bool FParentColor = true;
    // Defaults of the published properties: the fields start at them, and a value equal to its default is
    // not stored.
    static constexpr bool kDefaultVisible = true;
    static constexpr int kDefaultCursor = crDefault;
    static constexpr bool kDefaultShowHint = false;
    static constexpr bool kDefaultTabStop = false;
    static constexpr int kDefaultTabOrder = -1;
    bool FVisible = kDefaultVisible;
    int FCursor = kDefaultCursor;
    std::string FHint;
    bool FShowHint = kDefaultShowHint;
    bool FTabStop = kDefaultTabStop;
    int FTabOrder = kDefaultTabOrder;
    int FPaintSuspended = 0;
    bool FPressed = false;   // a left press inside, for OnClick on release inside
};

// Reports an exception that escaped an event handler of control: to the running TApplication's exception
// handler when there is one (which reports it to the diagnostics sink and shows it), else to the sink alone.
// The control's name (its class when unnamed) is the object, `what` the action.
void ReportEventFailure(const TComponent& control, const char* what, const char* message) noexcept;

// Runs handle inside a Qt event of the control. No exception may cross Qt's event loop, so what handle
// raises ends that one event and goes to ReportEventFailure; the control stays as handle left it.
template <class F>
void GuardEvent(const TComponent& control, const char* what, F&& handle) noexcept
{
    try
    {
        handle();
    }
    catch (const std::exception& error)
    {
        ReportEventFailure(control, what, error.what());
    }
    catch (...)
    {
        ReportEventFailure(control, what, "an unknown exception");
    }
}

// Publishes a TNotifyEvent field of control class T (OnClick, OnChange) as an event property that a stored
// description binds by name to a handler its root publishes.
template <class T, class TField>
TPropertyList<T>& NotifyEventProperty(TPropertyList<T>& list, const std::string& name, TField field)
{
    return EventProperty<TNotifyMethod>(list, name,
                                        [field](T& o, TNotifyMethod method)
                                        {
                                            if (method)
                                                o.*field = [method = std::move(method)](TControl& sender)
                                                { method(sender); };
                                            else
                                                o.*field = nullptr;
                                        });
}

// Qt's modifier keys as Shift, Ctrl and Alt bits.
[[nodiscard]] std::uint32_t ShiftStateOf(Qt::KeyboardModifiers modifiers) noexcept;

}   // namespace harvolin
