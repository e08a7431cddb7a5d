#include "app/frmMain.h"
#include "app/Pipeline.h"
#include "audioout/ALDSAudioOut.h"
#include "controls/ActnList.h"
#include "controls/ExtCtrls.h"
#include "controls/StdCtrls.h"
#include "controls/VrSpectrum.h"
#include "controls/VrTrackBar.h"
#include "convert/ALRealToAudio.h"
#include "gen/SLSignalGen.h"
#include "rtl/DescriptionReader.h"
#include "rtl/Diagnostics.h"
#include <QCheckBox>
#include <QTimer>
#include <exception>
#include <typeinfo>

namespace harvolin
{
namespace
{

const TComponentClassRegistration<TfmMain> GRegistration;

// The controller's collaborators, each a view of one of the window's components.

class TRangePart final : public IRangeInput
{
public:
    explicit TRangePart(TVrTrackBar& trackBar) : FTrackBar(trackBar) {}
    [[nodiscard]] int Position() const override { return FTrackBar.Position(); }
    void SetEnabled(bool value) override { FTrackBar.SetEnabled(value); }
private:
    TVrTrackBar& FTrackBar;
};

class TCheckBoxPart final : public ICheckBox
{
public:
    explicit TCheckBoxPart(TCheckBox& checkBox) : FCheckBox(checkBox) {}
    [[nodiscard]] bool Checked() const override { return FCheckBox.Checked(); }
private:
    TCheckBox& FCheckBox;
};

class TLabelPart final : public ILabel
{
public:
    explicit TLabelPart(TLabel& label) : FLabel(label) {}
    void SetCaption(const std::string& caption) override { FLabel.SetCaption(caption); }
    void SetEnabled(bool value) override { FLabel.SetEnabled(value); }
private:
    TLabel& FLabel;
};

class TButtonPart final : public IButton
{
public:
    explicit TButtonPart(TButton& button) : FButton(button) {}
    void SetEnabled(bool value) override { FButton.SetEnabled(value); }
private:
    TButton& FButton;
};

class TTimerPart final : public ITimer
{
public:
    explicit TTimerPart(TTimer& timer) : FTimer(timer) {}
    void SetEnabled(bool value) override { FTimer.SetEnabled(value); }
private:
    TTimer& FTimer;
};

class TSpectrumPart final : public IBarDisplay
{
public:
    explicit TSpectrumPart(TVrSpectrum& spectrum) : FSpectrum(spectrum) {}
    [[nodiscard]] int BarCount() const override { return FSpectrum.BarCount(); }
    void SetBarValue(int index, int value) override { FSpectrum.Bars(index).SetValue(value); }
private:
    TVrSpectrum& FSpectrum;
};

class TWindowPart final : public IWindow
{
public:
    explicit TWindowPart(TForm& form) : FForm(form) {}
    void Close() override { FForm.Close(); }
private:
    TForm& FForm;
};

}   // namespace

// Every part the controller works on, found once the description is read.
struct TfmMain::TParts
{
    explicit TParts(TfmMain& form)
        : Generator(FindPart<TSLSignalGen>(form, "SLSignalGen1")),
          Output(FindPart<TALDSAudioOut>(form, "ALDSAudioOut1")),
          FreqMin(FindPart<TVrTrackBar>(form, "tbFreqMin")),
          FreqMax(FindPart<TVrTrackBar>(form, "tbFreqMax")),
          VolMin(FindPart<TVrTrackBar>(form, "tbVolMin")),
          VolMax(FindPart<TVrTrackBar>(form, "tbVolMax")),
          FreqVar(FindPart<TCheckBox>(form, "cbFreqVar")),
          VolVar(FindPart<TCheckBox>(form, "cbVolVar")),
          FreqMinLabel(FindPart<TLabel>(form, "lblFreqMin")),
          FreqMaxLabel(FindPart<TLabel>(form, "lblFreqMax")),
          VolMinLabel(FindPart<TLabel>(form, "lblVolMin")),
          VolMaxLabel(FindPart<TLabel>(form, "lblVolMax")),
          FreqReadOut(FindPart<TLabel>(form, "lblFreq")),
          VolReadOut(FindPart<TLabel>(form, "lblVol")),
          Start(FindPart<TButton>(form, "btnStart")),
          Stop(FindPart<TButton>(form, "btnStop")),
          Close(FindPart<TButton>(form, "btnClose")),
          Timer(FindPart<TTimer>(form, "Timer1")),
          Spectrum(FindPart<TVrSpectrum>(form, "VrSpectrum1")),
          Window(form),
          FreqVarBox(FindPart<TCheckBox>(form, "cbFreqVar")),
          VolVarBox(FindPart<TCheckBox>(form, "cbVolVar"))
    {
    }

    [[nodiscard]] TToneControllerParts ControllerParts()
    {
        return {Generator, Output,       FreqMin,      FreqMax,     VolMin,     VolMax, FreqVar,
                VolVar,    FreqMinLabel, FreqMaxLabel, VolMinLabel, VolMaxLabel, FreqReadOut, VolReadOut,
                Start,     Stop,         Close,        Timer,       Spectrum,   Window};
    }

    TGeneratorPart Generator;
    TOutputPart Output;
    TRangePart FreqMin;
    TRangePart FreqMax;
    TRangePart VolMin;
    TRangePart VolMax;
    TCheckBoxPart FreqVar;
    TCheckBoxPart VolVar;
    TLabelPart FreqMinLabel;
    TLabelPart FreqMaxLabel;
    TLabelPart VolMinLabel;
    TLabelPart VolMaxLabel;
    TLabelPart FreqReadOut;
    TLabelPart VolReadOut;
    TButtonPart Start;
    TButtonPart Stop;
    TButtonPart Close;
    TTimerPart Timer;
    TSpectrumPart Spectrum;
    TWindowPart Window;
    TCheckBox& FreqVarBox;
    TCheckBox& VolVarBox;
};

TfmMain::TfmMain(TComponent* owner) : TForm(owner)
{
    // Each handler does nothing before FormCreate has made the controller: an event of a control that is
    // still being read has nothing to act on yet, and FormCreate fills every label anyway.
    const auto notify = [this](const char* name, void (TToneController::*handler)())
    {
        PublishMethod(name, TNotifyMethod(
                                [this, handler](TComponent&)
                                {
                                    if (FController)
                                        (FController.get()->*handler)();
                                }));
    };
    PublishMethod("FormCreate", TNotifyMethod([this](TComponent&) { FormCreate(); }));
    PublishMethod("FormCloseQuery", TCloseQueryMethod([this](TComponent&, bool& canClose)
                                                      { canClose = !FController || FController->FormCloseQuery(); }));
    notify("cbFreqVarClick", &TToneController::cbFreqVarClick);
    notify("ActBFStartExecute", &TToneController::ActBFStartExecute);
    notify("ActBFStopExecute", &TToneController::ActBFStopExecute);
    notify("ActAppCloseExecute", &TToneController::ActAppCloseExecute);
    notify("Timer1Timer", &TToneController::Timer1Timer);
    notify("tbFreqMinChange", &TToneController::tbFreqMinChange);
    notify("tbFreqMaxChange", &TToneController::tbFreqMaxChange);
    notify("tbVolMinChange", &TToneController::tbVolMinChange);
    notify("tbVolMaxChange", &TToneController::tbVolMaxChange);
}

TfmMain::~TfmMain() = default;

const TClassInfo& TfmMain::StaticClassInfo()
{
    static const TClassInfo info("TfmMain", &TForm::StaticClassInfo(), TPropertyList<TfmMain>().Take());
    return info;
}

TComponentPtr<TfmMain> TfmMain::Create(const std::optional<std::string>& deviceName)
{
    // The classes the description names: a class whose unit nothing calls into is left out of the program
    // by the linker, and its registration with it.
    for (const TClassInfo* named :
         {&TVrSpectrum::StaticClassInfo(), &TBevel::StaticClassInfo(), &TLabel::StaticClassInfo(),
          &TButton::StaticClassInfo(), &TVrTrackBar::StaticClassInfo(), &TCheckBox::StaticClassInfo(),
          &TActionList::StaticClassInfo(), &TAction::StaticClassInfo(), &TSLSignalGen::StaticClassInfo(),
          &TALRealToAudio::StaticClassInfo(), &TTimer::StaticClassInfo(), &TALDSAudioOut::StaticClassInfo()})
        (void)named;
    auto form = MakeComponent<TfmMain>();
    ReadDescription(*form, MainWindowDescription());
    if (deviceName)
        form->ALDSAudioOut1().AudioOutputDevice().SetDeviceName(*deviceName);
    return form;
}

bool TfmMain::Running() const
{
    return FController && FController->Running();
}

TSLSignalGen& TfmMain::SLSignalGen1() const
{
    return FindPart<TSLSignalGen>(*this, "SLSignalGen1");
}

TALDSAudioOut& TfmMain::ALDSAudioOut1() const
{
    return FindPart<TALDSAudioOut>(*this, "ALDSAudioOut1");
}

void TfmMain::FormCreate()
{
    FParts = std::make_unique<TParts>(*this);
    FController = std::make_unique<TToneController>(FParts->ControllerParts(), FRandom);
    // The volume box has no handler of its own in the description; unchecking it greys the Max volume
    // controls at once, as the frequency box does for its own.
    FParts->VolVarBox.OnClick = [this](TControl&)
    {
        if (FController)
            FController->cbVolVarClick();
    };
    // The window was laid out for a narrower font than a Linux machine has: a check box whose caption would
    // be cut grows to the right, into the space before the read-out beside it.
    for (TCheckBox* box : {&FParts->FreqVarBox, &FParts->VolVarBox})
    {
        const int needed = box->Box().sizeHint().width();
        if (box->Width() < needed)
            box->SetWidth(needed);
    }
    WatchSoundFailures(ALDSAudioOut1(), [this](TSoundFailure failure) { SoundFailed(std::move(failure)); });
    FController->FormCreate();
}

void TfmMain::SoundFailed(TSoundFailure failure)
{
    // The first failure says why; what follows from it before the window has stopped (a graph that cannot
    // start after its device failed) adds nothing for the user, and is only recorded.
    if (FPendingFailure)
    {
        ReportFailure(ALDSAudioOut1().Name(), "playing", DescribeSoundFailure(failure));
        return;
    }
    FPendingFailure = std::move(failure);
    // Perhaps inside the pipeline's locks here: Stop must wait for the message loop.
    QTimer::singleShot(0, this, [this] { HandleSoundFailure(); });
}

void TfmMain::HandleSoundFailure()
{
    if (!FPendingFailure)
        return;
    const TSoundFailure failure = *std::exchange(FPendingFailure, std::nullopt);
    if (FController && FController->Running())
        GuardEvent(*this, "stopping after a sound failure", [this] { FController->ActBFStopExecute(); });
    // Told as the window tells any failure of a handler: the application's message box.
    ReportEventFailure(*this, "playing", DescribeSoundFailure(failure).c_str());
}

}   // namespace harvolin
