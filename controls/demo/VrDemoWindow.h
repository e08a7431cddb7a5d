#pragma once
#include "controls/Controls.h"
#include "controls/VrSpectrum.h"
#include "controls/VrTrackBar.h"
#include "rtl/DescriptionReader.h"
#include <string_view>

namespace harvolin
{

// The controls as the program's main window arranges them: four track bars for the frequency and volume
// ranges and the spectrum display, read from a stored description so that the demonstration and the
// screenshot test see what a window's description makes of them.
class TVrDemoWindow final : public TControl
{
public:
    explicit TVrDemoWindow(TComponent* owner) : TControl(owner) {}

    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TVrDemoWindow", &TControl::StaticClassInfo(), {});
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // Reads kDescription into this window. Raises EReadError should it not read.
    void Load() { ReadDescription(*this, kDescription); }

    [[nodiscard]] TVrTrackBar& TrackBar(std::string_view name) const
    {
        return dynamic_cast<TVrTrackBar&>(*FindComponent(name));
    }
    [[nodiscard]] TVrSpectrum& Spectrum() const
    {
        return dynamic_cast<TVrSpectrum&>(*FindComponent("VrSpectrum1"));
    }

    static constexpr std::string_view kDescription = R"(object fmDemo: TVrDemoWindow
  Left = 357
  Top = 228
  Width = 545
  Height = 353
  Color = clBtnFace
  object VrSpectrum1: TVrSpectrum
    Left = 16
    Top = 176
    Width = 513
    Height = 121
    BarWidth = 20
  end
  object tbFreqMin: TVrTrackBar
    Left = 24
    Top = 72
    Width = 241
    Height = 29
    MaxValue = 20
    MinValue = 1
    Position = 10
    Frequency = 1
    GutterColor = clBlue
    ScaleOffset = 3
    TabStop = True
    TabOrder = 2
  end
  object tbFreqMax: TVrTrackBar
    Left = 24
    Top = 120
    Width = 241
    Height = 29
    MaxValue = 20
    MinValue = 1
    Position = 20
    Frequency = 1
    GutterColor = clBlue
    ScaleOffset = 3
    TabStop = True
    TabOrder = 3
  end
  object tbVolMin: TVrTrackBar
    Left = 280
    Top = 72
    Width = 241
    Height = 29
    MinValue = 1
    Position = 25
    Frequency = 5
    GutterColor = clBlue
    ScaleOffset = 3
    TabStop = True
    TabOrder = 4
  end
  object tbVolMax: TVrTrackBar
    Left = 280
    Top = 120
    Width = 241
    Height = 29
    MinValue = 1
    Position = 70
    Frequency = 5
    GutterColor = clBlue
    ScaleOffset = 3
    TabStop = True
    TabOrder = 5
  end
end
)";
};

}   // namespace harvolin
