#pragma once
#include "app/SoundFailure.h"
#include "app/ToneController.h"
#include "rtl/Component.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace harvolin
{

class TALDSAudioOut;
class TALRealToAudio;
class TSLSignalGen;

// The window's stored description, compiled into the program from app/frmMain.txt.
[[nodiscard]] std::string_view MainWindowDescription();

// The pipeline's components as the window's description stores them (the generator, the converter and,
// with withOutput, the audio output, with every link between them), under a top object of class
// rootClass and without a single control: what plays without a window reads the same stored values as
// the window. Without the output, the converter's link to it goes too.
[[nodiscard]] std::string PipelineDescription(std::string_view rootClass, bool withOutput);

// The owner of the pipeline where there is no window: a plain component that PipelineDescription's text
// describes as "TPipelineRoot". Made and read by Create(); its parts are found by the names the
// description gives them.
class TPipelineRoot final : public TComponent
{
public:
    explicit TPipelineRoot(TComponent* owner);

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // Raises EReadError when the description cannot be read, and on a thread without a message queue
    // with the output (its graph object needs one).
    [[nodiscard]] static TComponentPtr<TPipelineRoot> Create(bool withOutput);

    [[nodiscard]] TSLSignalGen& SLSignalGen1() const;
    [[nodiscard]] TALRealToAudio& ALRealToAudio1() const;
    // Raises EComponentError for a pipeline read without its output.
    [[nodiscard]] TALDSAudioOut& ALDSAudioOut1() const;
};

// The component owner made under that name, of the class T; EComponentError naming both otherwise.
template <class T>
T& FindPart(const TComponent& owner, const char* name)
{
    auto* found = dynamic_cast<T*>(owner.FindComponent(name));
    if (found == nullptr)
        throw EComponentError(owner.Name() + " has no " + T::StaticClassInfo().ClassName() + " named " + name);
    return *found;
}

// "Default" first, then every output device by the name --device takes.
[[nodiscard]] std::vector<std::string> OutputDeviceNames();

// Why the output device a user named cannot be used, with the names that can ("no output device is named
// 'X'. The output devices are:" and one indented name a line), or nothing when it names a device.
[[nodiscard]] std::optional<std::string> UnknownDeviceMessage(const std::string& wanted);

// Calls failed, on the thread that owns output's graph object, for each failure of the sound that a user
// must hear of: a device that cannot be opened or fails while playing, and the default device playing on
// the null renderer because the machine has no sound card. Often inside the pipeline's locks: failed must
// only take note and leave the stopping to a later call.
void WatchSoundFailures(TALDSAudioOut& output, std::function<void(TSoundFailure)> failed);

// The controller's view of the pipeline's generator and audio output.
class TGeneratorPart final : public IToneGenerator
{
public:
    explicit TGeneratorPart(TSLSignalGen& generator) : FGenerator(generator) {}
    [[nodiscard]] double Frequency() const override;
    void SetFrequency(double value) override;
    [[nodiscard]] double Amplitude() const override;
    void SetAmplitude(double value) override;
    void SetEnabled(bool value) override;
private:
    TSLSignalGen& FGenerator;
};

class TOutputPart final : public IAudioOutput
{
public:
    explicit TOutputPart(TALDSAudioOut& output) : FOutput(output) {}
    void SetEnabled(bool value) override;
private:
    TALDSAudioOut& FOutput;
};

}   // namespace harvolin
