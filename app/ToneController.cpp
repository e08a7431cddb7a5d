#include "app/ToneController.h"

#include "rtl/Diagnostics.h"
#include "rtl/Exceptions.h"
#include "rtl/Rounding.h"

#include <algorithm>
#include <cmath>

namespace harvolin
{

// Positions and captions truncate toward zero (TruncTo). The generator's values can come from elsewhere (a
// peer on its frequency pin), so a value beyond int saturates and one that is not a number gives 0.

TToneController::TToneController(const TToneControllerParts& parts, TRandomSource& random)
    : FParts(parts), FRandom(random)
{
}

void TToneController::FormCreate()
{
    UpdateControls();
    tbFreqMinChange();
    tbFreqMaxChange();
    tbVolMinChange();
    tbVolMaxChange();
}

bool TToneController::FormCloseQuery() const
{
    return !FRunning;
}

void TToneController::cbFreqVarClick()
{
    UpdateControls();
}

// Behaves like the frequency box: whether Max can be set follows the box at once.
void TToneController::cbVolVarClick()
{
    UpdateControls();
}

void TToneController::ActBFStartExecute()
{
    // Failures while choosing or setting the values reach the caller, and nothing below runs.
    FParts.SLSignalGen1.SetFrequency(ChooseFrequency());
    FParts.SLSignalGen1.SetAmplitude(ChooseAmplitude());
    try
    {
        FParts.ALDSAudioOut1.SetEnabled(true);
        FParts.SLSignalGen1.SetEnabled(true);
        FParts.Timer1.SetEnabled(true);
        FRunning = true;
    }
    catch (...)
    {
        // A component that cannot start leaves the window stopped and is reported; whatever was already
        // switched on stays on.
        ReportCurrentException("tone controller", "starting the tone");
    }
    UpdateControls();
}

void TToneController::ActBFStopExecute()
{
    try
    {
        FParts.ALDSAudioOut1.SetEnabled(false);
        FParts.SLSignalGen1.SetEnabled(false);
    }
    catch (...)
    {
        // Stopped all the same, so that the timer no longer draws; the caller shows the failure.
        FParts.Timer1.SetEnabled(false);
        FRunning = false;
        throw;
    }
    FParts.Timer1.SetEnabled(false);
    FRunning = false;
    UpdateControls();
}

void TToneController::ActAppCloseExecute()
{
    FParts.Window.Close();
}

void TToneController::Timer1Timer()
{
    if (FParts.cbFreqVar.Checked())
        FParts.SLSignalGen1.SetFrequency(ChooseFrequency());
    if (FParts.cbVolVar.Checked())
        FParts.SLSignalGen1.SetAmplitude(ChooseAmplitude());
    // Read back, so that a fixed range shows what the generator plays, not what Min says now.
    const int column = TruncTo<int>(FParts.SLSignalGen1.Frequency() / kHertzPerPosition);
    const int value = TruncTo<int>(FParts.SLSignalGen1.Amplitude() / kAmplitudePerPercent);
    ShowSpectrum(column, value);
}

void TToneController::tbFreqMinChange()
{
    FParts.lblFreqMin.SetCaption(
        Format("Fréquence Min = %d Hz", {FParts.tbFreqMin.Position() * kHertzPerPosition}));
}

void TToneController::tbFreqMaxChange()
{
    FParts.lblFreqMax.SetCaption(
        Format("Fréquence Max = %d Hz", {FParts.tbFreqMax.Position() * kHertzPerPosition}));
}

void TToneController::tbVolMinChange()
{
    FParts.lblVolMin.SetCaption(Format("Volume Min = %d", {FParts.tbVolMin.Position()}) + " %");
}

void TToneController::tbVolMaxChange()
{
    FParts.lblVolMax.SetCaption(Format("Volume Max = %d", {FParts.tbVolMax.Position()}) + " %");
}

void TToneController::UpdateControls()
{
    FParts.btnClose.SetEnabled(!FRunning);
    FParts.btnStart.SetEnabled(!FRunning);
    FParts.btnStop.SetEnabled(FRunning);
    const bool frequencyVariable = FParts.cbFreqVar.Checked();
    FParts.lblFreqMax.SetEnabled(frequencyVariable);
    FParts.tbFreqMax.SetEnabled(frequencyVariable);
    const bool volumeVariable = FParts.cbVolVar.Checked();
    FParts.lblVolMax.SetEnabled(volumeVariable);
    FParts.tbVolMax.SetEnabled(volumeVariable);
}

int TToneController::ChooseFrequency()
{
    const int frequency = FParts.cbFreqVar.Checked() ? RandomFrequency() : FixedFrequency();
    FParts.lblFreq.SetCaption(Format("%d Hz", {frequency}));
    return frequency;
}

int TToneController::FixedFrequency() const
{
    return FParts.tbFreqMin.Position() * kHertzPerPosition;
}

int TToneController::RandomFrequency()
{
    return DrawInRange(FParts.tbFreqMin.Position() * kHertzPerPosition,
                       FParts.tbFreqMax.Position() * kHertzPerPosition);
}

int TToneController::ChooseAmplitude()
{
    const int amplitude = FParts.cbVolVar.Checked() ? RandomAmplitude() : FixedAmplitude();
    FParts.lblVol.SetCaption(Format("%d", {TruncTo<int>(amplitude / kAmplitudePerPercent)}) + " %");
    return amplitude;
}

int TToneController::FixedAmplitude() const
{
    return TruncTo<int>(FParts.tbVolMin.Position() * kAmplitudePerPercent);
}

int TToneController::RandomAmplitude()
{
    const int percent = DrawInRange(FParts.tbVolMin.Position(), FParts.tbVolMax.Position());
    return TruncTo<int>(percent * kAmplitudePerPercent);
}

void TToneController::ShowSpectrum(int column, int value)
{
    const int count = FParts.VrSpectrum1.BarCount();
    for (int index = 0; index < count; ++index)
        FParts.VrSpectrum1.SetBarValue(index, 0);
    // A frequency beyond the display (possible only when it came from elsewhere) lights no bar.
    if (column >= 0 && column < count)
        FParts.VrSpectrum1.SetBarValue(column, value);
}

int TToneController::DrawInRange(int first, int second)
{
    // Re-seeded before every draw: two draws in the same millisecond land at the same fraction of their
    // ranges, which is how the tone has always varied.
    FRandom.Randomize();
    const int lo = std::min(first, second);
    const int hi = std::max(first, second);
    return lo + static_cast<int>(FRandom.Random(static_cast<std::uint32_t>(hi - lo)));
}

}   // namespace harvolin
