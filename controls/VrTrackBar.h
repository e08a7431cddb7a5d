#pragma once
#include "controls/VrClasses.h"
#include "controls/VrControls.h"
#include "controls/VrSystem.h"
#include <QImage>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace harvolin
{

enum class TVrOrientation : std::uint8_t
{
    voVertical,
    voHorizontal
};

// The end at which MinValue lies: bottom or left for psBottomLeft, top or right for psTopRight.
enum class TVrProgressStyle : std::uint8_t
{
    psBottomLeft,
    psTopRight
};

enum class TVrTrackBarOption : std::uint8_t
{
    toActiveClick,   // a press beside the thumb centres the thumb on it
    toMouseClip,     // a drag keeps the pointer within the control
    toHandPoint,     // the hand cursor over the thumb
    toFixedPoints,   // mouse positions snap to multiples of Frequency above MinValue
    toThumbOpaque    // the thumb's transparent colour is drawn, not left out
};

// A set of TVrTrackBarOption; bit i stands for the option of value i, so the stored number of the
// defaults is 23.
class TVrTrackBarOptions
{
public:
    constexpr TVrTrackBarOptions() noexcept = default;
    constexpr TVrTrackBarOptions(std::initializer_list<TVrTrackBarOption> options) noexcept
    {
        for (TVrTrackBarOption option : options)
            FBits = static_cast<std::uint8_t>(FBits | Bit(option));
    }
    [[nodiscard]] static constexpr TVrTrackBarOptions FromBits(std::uint32_t bits) noexcept
    {
        TVrTrackBarOptions options;
        options.FBits = static_cast<std::uint8_t>(bits & 0x1F);
        return options;
    }

    [[nodiscard]] constexpr std::uint32_t Bits() const noexcept { return FBits; }
    [[nodiscard]] constexpr bool Contains(TVrTrackBarOption option) const noexcept
    {
        return (FBits & Bit(option)) != 0;
    }

    friend constexpr bool operator==(TVrTrackBarOptions, TVrTrackBarOptions) noexcept = default;
private:
    static constexpr std::uint8_t Bit(TVrTrackBarOption option) noexcept
    {
        return static_cast<std::uint8_t>(1U << static_cast<unsigned>(option));
    }

    std::uint8_t FBits = 0;
};

enum class TVrTickMarks : std::uint8_t
{
    tmNone,
    tmBoth,
    tmBottomRight,
    tmTopLeft
};

// One tick of a scale: the value it marks, the pixel along the direction of travel it is drawn at (the
// thumb's centre at that value) and whether it is a long one (the ends of the range).
struct TVrTick
{
    int Value = 0;
    int Pixel = 0;
    bool Long = false;

    friend bool operator==(const TVrTick&, const TVrTick&) = default;
};

// A slider drawn entirely by the program: a bevelled gutter, tick scales on one or both sides and a
// bitmap thumb that the user drags, clicks or moves with the keys. Position stays within [MinValue,
// MaxValue]; every change of it fires OnChange. Window thread only.
//
// Geometry, in client pixels: the track R is the client rectangle shrunk by BorderWidth on every side;
// the thumb's leading edge (left when horizontal, top when vertical) runs over [TrackStart(),
// TrackStart() + TrackLength()], where the length is R's extent less the thumb's. Mirrored (vertical with
// psBottomLeft, horizontal with psTopRight) puts MinValue at the far end. Across the travel the thumb is
// centred in the control.
//
// Where the arithmetic would divide by zero the control settles it so:
// - MaxValue = MinValue: the range is one value. The thumb sits at the track start (the mirrored start
//   when mirrored), every pixel gives MinValue, and the scale has a single long tick there.
// - A track with no room for the thumb to travel (TrackLength() <= 0): every pixel gives MinValue, and the
//   scale has only the ticks of the two ends, since all others would fall on the same few pixels.
// - Frequency 0: the scale has only the ticks of the two ends, mouse positions do not snap, the arrow keys
//   change nothing.
//
// toMouseClip: the pointer itself cannot be confined portably, so while a drag lasts the control grabs
// the mouse (moves outside still arrive) and clamps the coordinates it drags by to the client rectangle,
// which is what a pointer confined to the control would report.
//
// Hot (the pointer over the thumb, no drag) ends when the pointer leaves the control and is taken afresh
// at the release that ends a drag; disabling or hiding the control ends a drag, since it would hear no
// release.
//
// Published, in this order after the inherited ones: MaxValue, MinValue, Position, Orientation, Style,
// Options, Frequency, BorderWidth, GutterBevel, GutterWidth, GutterColor, TickMarks, TickColor,
// ThumbStates, BackImageIndex, ThumbImageIndex, BitmapList (stored by the list's name, nil for none),
// ScaleOffset, FocusColor, FocusOffset.
class TVrTrackBar : public TVrCustomImageControl
{
public:
    explicit TVrTrackBar(TComponent* owner);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    void Loaded() override;

    // No check keeps MinValue <= MaxValue. Changing either end moves Position inside it when it lies
    // beyond the new end (through SetPosition, so OnChange may fire).
    [[nodiscard]] int MaxValue() const noexcept { return FMaxValue; }
    void SetMaxValue(int value);
    [[nodiscard]] int MinValue() const noexcept { return FMinValue; }
    void SetMinValue(int value);
    [[nodiscard]] int Position() const noexcept { return FPosition; }
    // Clamped to MinValue, then to MaxValue; a change repaints and then fires OnChange.
    void SetPosition(int value);
    [[nodiscard]] TVrOrientation Orientation() const noexcept { return FOrientation; }
    // Outside a read of a stored description a change also swaps Width and Height.
    void SetOrientation(TVrOrientation value);
    [[nodiscard]] TVrProgressStyle Style() const noexcept { return FStyle; }
    void SetStyle(TVrProgressStyle value);
    [[nodiscard]] TVrTrackBarOptions Options() const noexcept { return FOptions; }
    void SetOptions(TVrTrackBarOptions value);
    // The tick step and the arrow keys' step, in value units.
    [[nodiscard]] int Frequency() const noexcept { return FFrequency; }
    void SetFrequency(int value);
    // The margin between the client edge and the track.
    [[nodiscard]] int BorderWidth() const noexcept { return FBorderWidth; }
    void SetBorderWidth(int value);
    [[nodiscard]] TVrBevel& GutterBevel() noexcept { return FGutterBevel; }
    [[nodiscard]] const TVrBevel& GutterBevel() const noexcept { return FGutterBevel; }
    // Copies the values of the given bevel.
    void SetGutterBevel(const TVrBevel& value) { FGutterBevel.Assign(value); }
    [[nodiscard]] int GutterWidth() const noexcept { return FGutterWidth; }
    void SetGutterWidth(int value);
    [[nodiscard]] TColor GutterColor() const noexcept { return FGutterColor; }
    void SetGutterColor(TColor value);
    [[nodiscard]] TVrTickMarks TickMarks() const noexcept { return FTickMarks; }
    void SetTickMarks(TVrTickMarks value);
    [[nodiscard]] TColor TickColor() const noexcept { return FTickColor; }
    void SetTickColor(TColor value);
    // The number of thumb images side by side in the thumb bitmap, 1 to 4: normal, disabled, dragging,
    // hot. Another value raises ERangeError and changes nothing.
    [[nodiscard]] int ThumbStates() const noexcept { return FThumbStates; }
    void SetThumbStates(int value);
    // Indexes into BitmapList; one that gives no image means none (a filled background, the built-in
    // thumb).
    [[nodiscard]] int BackImageIndex() const noexcept { return FBackImageIndex; }
    void SetBackImageIndex(int value);
    [[nodiscard]] int ThumbImageIndex() const noexcept { return FThumbImageIndex; }
    void SetThumbImageIndex(int value);
    // Not owned. The control hears of every change of the list's images, and forgets the list when it is
    // destroyed.
    [[nodiscard]] TVrBitmapList* BitmapList() const noexcept { return FBitmapList; }
    void SetBitmapList(TVrBitmapList* value);
    // The distance between the gutter's edge and a tick scale's base line.
    [[nodiscard]] int ScaleOffset() const noexcept { return FScaleOffset; }
    void SetScaleOffset(int value);
    [[nodiscard]] TColor FocusColor() const noexcept { return FFocusColor; }
    void SetFocusColor(TColor value);
    // The inset of the focus frame from the client edge; negative hides the frame.
    [[nodiscard]] int FocusOffset() const noexcept { return FFocusOffset; }
    void SetFocusOffset(int value);

    // Geometry as painted and as the mouse uses it.
    [[nodiscard]] TVrRect TrackRect() const noexcept;
    [[nodiscard]] int TrackStart() const noexcept;
    [[nodiscard]] int TrackLength() const noexcept;
    [[nodiscard]] bool Mirrored() const noexcept;
    [[nodiscard]] TVrRect GutterRect() const noexcept;
    [[nodiscard]] TVrRect ThumbRect() const noexcept;
    [[nodiscard]] int ThumbWidth() const noexcept { return FThumbWidth; }
    [[nodiscard]] int ThumbHeight() const noexcept { return FThumbHeight; }
    // The thumb's leading edge for a value, and the value for a leading edge (snapped with
    // toFixedPoints, within [MinValue, MaxValue]).
    [[nodiscard]] int PositionToPixel(int value) const noexcept;
    [[nodiscard]] int PixelToPosition(int pixel) const noexcept;
    // The step between ticks, a multiple of Frequency, and the ticks of one scale in drawing order.
    [[nodiscard]] std::int64_t TickStep() const noexcept;
    [[nodiscard]] std::vector<TVrTick> Ticks() const;
    // Which slice of the thumb bitmap a paint now draws.
    [[nodiscard]] int ThumbStateIndex() const noexcept;
    [[nodiscard]] bool Dragging() const noexcept { return FDragging; }
    [[nodiscard]] bool Hot() const noexcept { return FHot; }

    TNotifyEvent OnChange;
protected:
    void Paint() override;
    void MouseDown(TMouseButton button, std::uint32_t shift, int x, int y) override;
    void MouseMove(std::uint32_t shift, int x, int y) override;
    void MouseUp(TMouseButton button, std::uint32_t shift, int x, int y) override;
    void MouseLeft(TControl& sender) override;
    void KeyDown(int& key, std::uint32_t shift) override;
    void DoEnter() override;
    void DoExit() override;

    // Claims the unmodified arrow, Home and End keys before any shortcut of the window can.
    bool event(QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
private:
    void LoadThumb();
    void MoveThumbTo(int pixel);
    void EndDrag();
    void UpdateCursor(int x, int y);
    [[nodiscard]] bool Horizontal() const noexcept { return FOrientation == TVrOrientation::voHorizontal; }
    void PaintTicks(int baseLine, int direction);
    [[nodiscard]] int ThumbLength() const noexcept;
    void SetBitmapListByName(const TDescValue& value);
    [[nodiscard]] TDescValue BitmapListDesc() const;
    template <class T>
    void Change(T& field, T value);

    // Defaults of the published properties: the fields start at them, and a value equal to its default is
    // not stored.
    static constexpr TVrTrackBarOptions kDefaultOptions{
        TVrTrackBarOption::toActiveClick, TVrTrackBarOption::toMouseClip, TVrTrackBarOption::toHandPoint,
        TVrTrackBarOption::toThumbOpaque};
    static constexpr int kDefaultMaxValue = 100;
    static constexpr int kDefaultMinValue = 0;
    static constexpr int kDefaultPosition = 0;
    static constexpr TVrOrientation kDefaultOrientation = TVrOrientation::voHorizontal;
    static constexpr TVrProgressStyle kDefaultStyle = TVrProgressStyle::psBottomLeft;
    static constexpr int kDefaultFrequency = 10;
    static constexpr int kDefaultBorderWidth = 10;
    static constexpr int kDefaultGutterWidth = 9;
    static constexpr TColor kDefaultGutterColor = clBlack;
    static constexpr TVrTickMarks kDefaultTickMarks = TVrTickMarks::tmBoth;
    static constexpr TColor kDefaultTickColor = clBlack;
    static constexpr int kDefaultThumbStates = 1;
    static constexpr int kDefaultBackImageIndex = -1;
    static constexpr int kDefaultThumbImageIndex = -1;
    static constexpr int kDefaultScaleOffset = 5;
    static constexpr TColor kDefaultFocusColor = clBlack;
    static constexpr int kDefaultFocusOffset = 0;
    int FMaxValue = kDefaultMaxValue;
    int FMinValue = kDefaultMinValue;
    int FPosition = kDefaultPosition;
    TVrOrientation FOrientation = kDefaultOrientation;
    TVrProgressStyle FStyle = kDefaultStyle;
    TVrTrackBarOptions FOptions = kDefaultOptions;
    int FFrequency = kDefaultFrequency;
    int FBorderWidth = kDefaultBorderWidth;
    TVrBevel FGutterBevel;
    int FGutterWidth = kDefaultGutterWidth;
    TColor FGutterColor = kDefaultGutterColor;
    TVrTickMarks FTickMarks = kDefaultTickMarks;
    TColor FTickColor = kDefaultTickColor;
    int FThumbStates = kDefaultThumbStates;
    int FBackImageIndex = kDefaultBackImageIndex;
    int FThumbImageIndex = kDefaultThumbImageIndex;
    TVrBitmapList* FBitmapList = nullptr;   // not owning; cleared when the list goes
    std::string FPendingBitmapList;         // read before the list was created; resolved by Loaded()
    int FScaleOffset = kDefaultScaleOffset;
    TColor FFocusColor = kDefaultFocusColor;
    int FFocusOffset = kDefaultFocusOffset;

    TVrChangeLink FBitmapLink;
    QImage FThumb;
    int FThumbWidth = 0;
    int FThumbHeight = 0;
    int FGrabOffset = 0;
    bool FClipActive = false;
    bool FFocused = false;
    bool FDragging = false;
    bool FHot = false;
    bool FHandShown = false;   // the hand replaces the control's own cursor
};

// Makes TVrTrackBar known to stored descriptions; calling it again changes nothing.
void RegisterVrTrackBar();

}   // namespace harvolin
