#pragma once
#include "app/SoundFailure.h"
#include "app/ToneController.h"
#include "controls/Forms.h"
#include "rtl/Random.h"
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace harvolin
{

class TALDSAudioOut;
class TSLSignalGen;

// The program's one window: the range controls, the read-outs, the spectrum, Start, Stop and Quitter, and
// the pipeline it owns (the generator, the converter and the audio output, linked by their pins as the
// description stores them). Its handlers are the tone controller's, published by the names the description
// binds; FormCreate finds the components by name and makes the controller before it runs the controller's
// own FormCreate.
//
// Sound failures: the audio output's graph object reports them on the window thread (OnError first, then
// OnDeviceLost or OnAborted), sometimes inside the pipeline's locks; the window takes note there, and in a
// call of its own from the message loop it returns to the stopped state through Stop and then tells the
// user what happened, through the application's handler (a message box). Nothing is retried.
//
// Window thread only.
class TfmMain final : public TForm
{
public:
    explicit TfmMain(TComponent* owner);
    TfmMain(const TfmMain&) = delete;
    TfmMain& operator=(const TfmMain&) = delete;
    ~TfmMain() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // The window read from MainWindowDescription(), FormCreate done. deviceName, when given, is the output
    // device to play on (a name --list-devices prints, or "Default"), set after the description is read.
    [[nodiscard]] static TComponentPtr<TfmMain> Create(const std::optional<std::string>& deviceName = {});

    // Whether the tone plays (from a successful Start until Stop).
    [[nodiscard]] bool Running() const;

    [[nodiscard]] TSLSignalGen& SLSignalGen1() const;
    [[nodiscard]] TALDSAudioOut& ALDSAudioOut1() const;
private:
    struct TParts;

    void FormCreate();
    // From the graph object's hooks: notes the failure and asks the message loop to handle it.
    void SoundFailed(TSoundFailure failure);
    // From the message loop: back to stopped, then the message.
    void HandleSoundFailure();

    TRandomSource FRandom;
    std::unique_ptr<TParts> FParts;
    std::unique_ptr<TToneController> FController;
    std::optional<TSoundFailure> FPendingFailure;   // noted by SoundFailed, taken by HandleSoundFailure
};

}   // namespace harvolin
