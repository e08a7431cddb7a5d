#pragma once
#include "controls/Controls.h"
#include <QTimer>
#include <cstdint>

class QPaintEvent;
class QPainter;

namespace harvolin
{

enum class TBevelShape : std::uint8_t
{
    bsBox,       // a sunken or raised rectangle
    bsFrame,     // an etched frame
    bsTopLine,   // etched lines along one edge
    bsBottomLine,
    bsLeftLine,
    bsRightLine,
    bsSpacer   // nothing drawn
};

enum class TBevelStyle : std::uint8_t
{
    bsLowered,
    bsRaised
};

// Paints a bevel of that shape and style over a width x height area from (0, 0): the classic 3-D lines in
// the button shadow and highlight colours (the lowered style puts the shadow first, the raised style the
// highlight). The area's inside is left as it was.
void PaintBevel(QPainter& painter, int width, int height, TBevelShape shape, TBevelStyle style);

// A decoration: an etched line or frame grouping other controls. Window thread.
//
// Published (beyond TControl's): Shape (default bsBox), Style (default bsLowered).
class TBevel : public TControl
{
public:
    explicit TBevel(TComponent* owner);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] TBevelShape Shape() const noexcept { return FShape; }
    void SetShape(TBevelShape value);
    [[nodiscard]] TBevelStyle Style() const noexcept { return FStyle; }
    void SetStyle(TBevelStyle value);
protected:
    void paintEvent(QPaintEvent* event) override;
private:
    TBevelShape FShape = TBevelShape::bsBox;
    TBevelStyle FStyle = TBevelStyle::bsLowered;
};

// A window timer: OnTimer runs on the window thread every Interval milliseconds while Enabled and Interval
// is above 0, from the message loop (a QTimer), never while the timer is being loaded. What OnTimer raises
// goes to the application's exception handler and the timer keeps running. Window thread.
//
// Published: Enabled (default True), Interval (default 1000), OnTimer.
class TTimer : public TComponent
{
public:
    explicit TTimer(TComponent* owner);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] bool Enabled() const noexcept { return FEnabled; }
    void SetEnabled(bool value);
    [[nodiscard]] int Interval() const noexcept { return FInterval; }
    // Restarts the count from now; 0 or less stops the timer.
    void SetInterval(int value);
    // Whether the Qt timer runs now.
    [[nodiscard]] bool Active() const { return FTimer.isActive(); }

    void Loaded() override;

    TNotifyMethod OnTimer;
private:
    void Update();
    void Tick();

    QTimer FTimer;
    bool FEnabled = true;
    int FInterval = 1000;
};

}   // namespace harvolin
