#pragma once
#include "rtl/Random.h"

#include <string>

namespace harvolin
{

// A frequency position is kilohertz; a volume of 100 % is 32000 in the scale of 16-bit samples.
inline constexpr int kHertzPerPosition = 1000;
inline constexpr double kAmplitudePerPercent = 320.0;

// What the tone controller needs of the window's parts and the pipeline's components. The window binds each
// to a real widget or component; every call comes from the window's thread.

class IToneGenerator
{
public:
    virtual ~IToneGenerator() = default;
    // Hertz; the generator keeps what was last set (a negative value becomes 0). May be set while it runs.
    [[nodiscard]] virtual double Frequency() const = 0;
    virtual void SetFrequency(double value) = 0;
    // Peak sample value, in the scale of 16-bit samples.
    [[nodiscard]] virtual double Amplitude() const = 0;
    virtual void SetAmplitude(double value) = 0;
    // True starts the pipeline from the generator downstream, false stops it. May raise.
    virtual void SetEnabled(bool value) = 0;
};

class IAudioOutput
{
public:
    virtual ~IAudioOutput() = default;
    // Records whether the output may play when the pipeline starts. May raise.
    virtual void SetEnabled(bool value) = 0;
};

class IRangeInput
{
public:
    virtual ~IRangeInput() = default;
    [[nodiscard]] virtual int Position() const = 0;
    virtual void SetEnabled(bool value) = 0;
};

class ICheckBox
{
public:
    virtual ~ICheckBox() = default;
    [[nodiscard]] virtual bool Checked() const = 0;
};

class ILabel
{
public:
    virtual ~ILabel() = default;
    virtual void SetCaption(const std::string& caption) = 0;   // UTF-8
    virtual void SetEnabled(bool value) = 0;
};

class IButton
{
public:
    virtual ~IButton() = default;
    virtual void SetEnabled(bool value) = 0;
};

// The window timer that calls Timer1Timer() every 3000 ms while enabled.
class ITimer
{
public:
    virtual ~ITimer() = default;
    virtual void SetEnabled(bool value) = 0;
};

class IBarDisplay
{
public:
    virtual ~IBarDisplay() = default;
    [[nodiscard]] virtual int BarCount() const = 0;
    virtual void SetBarValue(int index, int value) = 0;   // index 0 is the leftmost bar
};

class IWindow
{
public:
    virtual ~IWindow() = default;
    // Asks the window to close; the window consults FormCloseQuery() first.
    virtual void Close() = 0;
};

// The collaborators, by the names the window gives them. All must outlive the controller.
struct TToneControllerParts
{
    IToneGenerator& SLSignalGen1;
    IAudioOutput& ALDSAudioOut1;
    IRangeInput& tbFreqMin;   // kilohertz, 1 to 20
    IRangeInput& tbFreqMax;
    IRangeInput& tbVolMin;   // percent, 1 to 100
    IRangeInput& tbVolMax;
    ICheckBox& cbFreqVar;   // the frequency range is variable
    ICheckBox& cbVolVar;    // the volume range is variable
    ILabel& lblFreqMin;
    ILabel& lblFreqMax;
    ILabel& lblVolMin;
    ILabel& lblVolMax;
    ILabel& lblFreq;   // read-out of the current frequency
    ILabel& lblVol;    // read-out of the current volume
    IButton& btnStart;
    IButton& btnStop;
    IButton& btnClose;
    ITimer& Timer1;
    IBarDisplay& VrSpectrum1;
    IWindow& Window;
};

// The logic behind the main window: frequency and volume ranges, Start and Stop of the tone, and a new random
// frequency and volume inside the ranges every 3 seconds while it plays. Runs on the window's thread only.
// Exceptions from the handlers reach the caller (the window shows them), except where Start swallows them.
class TToneController
{
public:
    // The random source must outlive the controller.
    TToneController(const TToneControllerParts& parts, TRandomSource& random);
    TToneController(const TToneController&) = delete;
    TToneController& operator=(const TToneController&) = delete;

    // True from a successful Start until Stop.
    [[nodiscard]] bool Running() const { return FRunning; }

    // The window's handlers.
    void FormCreate();
    [[nodiscard]] bool FormCloseQuery() const;   // whether the window may close: not while the tone plays
    void cbFreqVarClick();
    void cbVolVarClick();
    void ActBFStartExecute();
    void ActBFStopExecute();
    void ActAppCloseExecute();
    void Timer1Timer();
    void tbFreqMinChange();
    void tbFreqMaxChange();
    void tbVolMinChange();
    void tbVolMaxChange();
private:
    void UpdateControls();
    int ChooseFrequency();
    int FixedFrequency() const;
    int RandomFrequency();
    int ChooseAmplitude();
    int FixedAmplitude() const;
    int RandomAmplitude();
    void ShowSpectrum(int column, int value);
    // Draws lo + Random(hi - lo) over the range the two positions span, in whichever order they stand.
    int DrawInRange(int first, int second);

    TToneControllerParts FParts;
    TRandomSource& FRandom;
    bool FRunning = false;
};

}   // namespace harvolin
