#pragma once
#include "controls/VrClasses.h"
#include "controls/VrControls.h"
#include "controls/VrSysUtils.h"
#include <cstdint>

namespace harvolin
{

class TVrSpectrum;

// One bar of a spectrum display. Setting a new value redraws that bar alone at once, unless the bars are
// inside an update; the value is not clamped to the display's range (it is drawn as if it were).
class TVrSpectrumBar final : public TVrCollectionItem
{
public:
    explicit TVrSpectrumBar(TVrCollection& collection) : TVrCollectionItem(collection) {}

    [[nodiscard]] std::int32_t Value() const noexcept { return FValue; }
    void SetValue(std::int32_t value);
private:
    std::int32_t FValue = 0;
};

// The bars of a spectrum display, leftmost first; owned by the display. Ending an update repaints the
// whole display.
class TVrSpectrumBars final : public TVrCollection
{
public:
    explicit TVrSpectrumBars(TVrSpectrum& spectrum) noexcept : FSpectrum(spectrum) {}
protected:
    void Changed(TVrCollectionItem* item) override;
private:
    TVrSpectrum& FSpectrum;
};

// A row of vertical bar meters: each bar is a stack of TickHeight-high segments that light from the
// bottom up through three colour zones (Palette1 at the bottom, Palette2 in the middle, Palette3 on top;
// Low colours unlit, High colours lit), the topmost lit one optionally drawn in MarkerColor.
//
// A full paint lays the control out first: the drawing rectangle is the client rectangle inside the bevel,
// it holds as many segments as fit, and the control then sizes itself to fit exactly that many segments
// and Columns bars (its position unchanged). A bar whose value changes draws itself into the off-screen
// image and asks the screen for its own rectangle only.
//
// Window thread only. Ranges: Percent1 and Percent2 0..100, BarWidth 1 and up, Spacing 0 and up; a value
// outside raises ERangeError and changes nothing. Other refused values are ignored, as each setter says.
class TVrSpectrum final : public TVrGraphicImageControl
{
public:
    explicit TVrSpectrum(TComponent* owner);
    TVrSpectrum(const TVrSpectrum&) = delete;
    TVrSpectrum& operator=(const TVrSpectrum&) = delete;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // Raises ERangeError when MinValue is not below MaxValue: a description set them without checking
    // each against the other, since either order of the two would refuse some valid pair.
    void Loaded() override;

    [[nodiscard]] int BarCount() const noexcept { return FBars.Count(); }
    // Raises ERangeError outside [0, BarCount()).
    [[nodiscard]] TVrSpectrumBar& Bars(int index) const;
    // The bars as a collection, for changing several inside one update and one repaint.
    [[nodiscard]] TVrSpectrumBars& BarItems() noexcept { return FBars; }

    // Colours of the bottom, middle and top zones; setting copies.
    [[nodiscard]] const TVrPalette& Palette1() const noexcept { return FPalette1; }
    void SetPalette1(const TVrPalette& value) { FPalette1.Assign(value); }
    [[nodiscard]] const TVrPalette& Palette2() const noexcept { return FPalette2; }
    void SetPalette2(const TVrPalette& value) { FPalette2.Assign(value); }
    [[nodiscard]] const TVrPalette& Palette3() const noexcept { return FPalette3; }
    void SetPalette3(const TVrPalette& value) { FPalette3.Assign(value); }
    // Shares of the bar height for the bottom and middle zones. Outside loading each gives way to the
    // other: Percent1 := 80 with Percent2 25 stores 75.
    [[nodiscard]] int Percent1() const noexcept { return FPercent1; }
    void SetPercent1(int value);
    [[nodiscard]] int Percent2() const noexcept { return FPercent2; }
    void SetPercent2(int value);
    // Setting copies. A change outside loading resizes the control so that the drawing rectangle keeps
    // its size inside the new margins.
    [[nodiscard]] TVrBevel& Bevel() noexcept { return FBevel; }
    [[nodiscard]] const TVrBevel& Bevel() const noexcept { return FBevel; }
    void SetBevel(const TVrBevel& value) { FBevel.Assign(value); }
    // A new count (above 0) replaces every bar with a bar of value 0.
    [[nodiscard]] int Columns() const noexcept { return FBars.Count(); }
    void SetColumns(int value);
    // Each ignores a value that would not keep MinValue below MaxValue (outside loading) and pulls the
    // bars beyond the new limit onto it, each bar redrawing itself.
    [[nodiscard]] std::int32_t MaxValue() const noexcept { return FMaxValue; }
    void SetMaxValue(std::int32_t value);
    [[nodiscard]] std::int32_t MinValue() const noexcept { return FMinValue; }
    void SetMinValue(std::int32_t value);
    [[nodiscard]] TColor MarkerColor() const noexcept { return FMarkerColor; }
    void SetMarkerColor(TColor value);
    [[nodiscard]] bool MarkerVisible() const noexcept { return FMarkerVisible; }
    void SetMarkerVisible(bool value);
    // Ignores values below 1.
    [[nodiscard]] int TickHeight() const noexcept { return FTickHeight; }
    void SetTickHeight(int value);
    [[nodiscard]] int Spacing() const noexcept { return FSpacing; }
    void SetSpacing(int value);
    [[nodiscard]] int BarWidth() const noexcept { return FBarWidth; }
    void SetBarWidth(int value);
    [[nodiscard]] int BarSpacing() const noexcept { return FBarSpacing; }
    void SetBarSpacing(int value);
    [[nodiscard]] bool ShowInactive() const noexcept { return FShowInactive; }
    void SetShowInactive(bool value);
    [[nodiscard]] bool PlainColors() const noexcept { return FPlainColors; }
    void SetPlainColors(bool value);

    // What the last full paint laid out: the drawing rectangle, the segments per bar, bar k's rectangle
    // (ERangeError outside [0, BarCount())) and the bar images, as high as the drawing rectangle.
    [[nodiscard]] const TVrRect& DrawingRect() const noexcept { return FDrawingRect; }
    [[nodiscard]] int SegmentCount() const noexcept { return FSegmentCount; }
    [[nodiscard]] TVrRect BarRect(int index) const;
    [[nodiscard]] const QImage& InactiveImage() const noexcept { return FBarImages[kInactive]; }
    [[nodiscard]] const QImage& ActiveImage() const noexcept { return FBarImages[kActive]; }
protected:
    // Lays the control out before the image is sized, since the layout may resize the control.
    void ClearBitmapCanvas() override;
    void Paint() override;
private:
    friend class TVrSpectrumBars;
    static constexpr std::size_t kInactive = 0;
    static constexpr std::size_t kActive = 1;

    void Layout();
    void RenderBarImages();
    void RenderBarImage(QImage& image, TColor bottom, TColor middle, TColor top) const;
    [[nodiscard]] int LitCount(std::int32_t value) const noexcept;
    void DrawBar(TVrCanvas& canvas, int index) const;
    void BarChanged(TVrSpectrumBar& bar);
    void BevelChanged();
    template <class T>
    void StoreAndRepaint(T& field, T value);

    TVrPalette FPalette1{0x008000, 0x00FF00};
    TVrPalette FPalette2{0x008080, 0x00FFFF};
    TVrPalette FPalette3{0x000080, 0x0000FF};
    TVrBevel FBevel;
    int FBevelMargin = 0;   // the bevel's margin before its latest change
    // Defaults of the published properties: the fields start at them, and a value equal to its default is
    // not stored.
    static constexpr int kDefaultPercent1 = 60;
    static constexpr int kDefaultPercent2 = 25;
    static constexpr std::int32_t kDefaultMaxValue = 100;
    static constexpr std::int32_t kDefaultMinValue = 0;
    static constexpr TColor kDefaultMarkerColor = clWhite;
    static constexpr bool kDefaultMarkerVisible = true;
    static constexpr int kDefaultTickHeight = 1;
    static constexpr int kDefaultSpacing = 1;
    static constexpr int kDefaultBarWidth = 8;
    static constexpr int kDefaultBarSpacing = 1;
    static constexpr bool kDefaultShowInactive = true;
    static constexpr bool kDefaultPlainColors = false;
    int FPercent1 = kDefaultPercent1;
    int FPercent2 = kDefaultPercent2;
    std::int32_t FMaxValue = kDefaultMaxValue;
    std::int32_t FMinValue = kDefaultMinValue;
    TColor FMarkerColor = kDefaultMarkerColor;
    bool FMarkerVisible = kDefaultMarkerVisible;
    int FTickHeight = kDefaultTickHeight;
    int FSpacing = kDefaultSpacing;
    int FBarWidth = kDefaultBarWidth;
    int FBarSpacing = kDefaultBarSpacing;
    bool FShowInactive = kDefaultShowInactive;
    bool FPlainColors = kDefaultPlainColors;

    TVrRect FDrawingRect;
    int FSegmentCount = 0;
    TVrBitmapArray FBarImages;
    TVrSpectrumBars FBars{*this};
};

// Makes TVrSpectrum known to stored descriptions; calling it again changes nothing.
void RegisterVrSpectrum();

}   // namespace harvolin
