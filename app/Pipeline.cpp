#include "app/Pipeline.h"

#include "app/CommandLine.h"

#include "audioout/ALDSAudioOut.h"
#include "audioout/ALDSOutputDevice.h"
#include "convert/ALRealToAudio.h"
#include "gen/SLSignalGen.h"
#include "rtl/DescriptionReader.h"
#include "rtl/DescriptionText.h"

#include <algorithm>
#include <array>

namespace harvolin
{
namespace
{

const TComponentClassRegistration<TPipelineRoot> GRegistration;

constexpr std::array<std::string_view, 3> kPipelineParts{"SLSignalGen1", "ALRealToAudio1", "ALDSAudioOut1"};
constexpr std::string_view kOutputName = "ALDSAudioOut1";

}   // namespace

std::string PipelineDescription(std::string_view rootClass, bool withOutput)
{
    TDescObject window = ParseDescription(MainWindowDescription());
    TDescObject pipeline;
    pipeline.Name = window.Name;
    pipeline.ClassName = rootClass;
    for (TDescObject& child : window.Children)
    {
        const bool part = std::find(kPipelineParts.begin(), kPipelineParts.end(), child.Name) != kPipelineParts.end();
        if (!part || (!withOutput && child.Name == kOutputName))
            continue;
        if (!withOutput)
            // A link to the output names a component that is not there.
            std::erase_if(child.Assignments,
                          [](const TDescAssignment& assignment)
                          {
                              return assignment.Path == std::vector<std::string>{"OutputPin", "SinkPins"} &&
                                     PrintDescriptionValue(assignment.Value).find(kOutputName) != std::string::npos;
                          });
        pipeline.Children.push_back(std::move(child));
    }
    return PrintDescription(pipeline);
}

// A form to the links: their names resolve among the components it owns.
TPipelineRoot::TPipelineRoot(TComponent* owner) : TComponent(owner, TComponentKind::ckForm) {}

const TClassInfo& TPipelineRoot::StaticClassInfo()
{
    static const TClassInfo info("TPipelineRoot", &TComponent::StaticClassInfo(), TPropertyList<TPipelineRoot>().Take());
    return info;
}

TComponentPtr<TPipelineRoot> TPipelineRoot::Create(bool withOutput)
{
    // The classes the description names: a class whose unit nothing calls into is left out of the program
    // by the linker, and its registration with it.
    for (const TClassInfo* named : {&TSLSignalGen::StaticClassInfo(), &TALRealToAudio::StaticClassInfo(),
                                    &TALDSAudioOut::StaticClassInfo()})
        (void)named;
    auto root = MakeComponent<TPipelineRoot>();
    ReadDescription(*root, PipelineDescription("TPipelineRoot", withOutput));
    return root;
}

TSLSignalGen& TPipelineRoot::SLSignalGen1() const
{
    return FindPart<TSLSignalGen>(*this, "SLSignalGen1");
}

TALRealToAudio& TPipelineRoot::ALRealToAudio1() const
{
    return FindPart<TALRealToAudio>(*this, "ALRealToAudio1");
}

TALDSAudioOut& TPipelineRoot::ALDSAudioOut1() const
{
    return FindPart<TALDSAudioOut>(*this, "ALDSAudioOut1");
}

std::vector<std::string> OutputDeviceNames()
{
    std::vector<std::string> names{"Default"};
    const TDSAudioOutputDevice device(nullptr, nullptr, {});
    device.ListDeviceNames(names);
    return names;
}

std::optional<std::string> UnknownDeviceMessage(const std::string& wanted)
{
    const std::vector<std::string> names = OutputDeviceNames();
    if (MatchDeviceName(wanted, names))
        return std::nullopt;
    std::string message = "no output device is named '" + wanted + "'. The output devices are:\n";
    for (const std::string& name : names)
        message += "  " + name + "\n";
    return message;
}

void WatchSoundFailures(TALDSAudioOut& output, std::function<void(TSoundFailure)> failed)
{
    output.Graph().SetOnError(
        [failed, &output](TComponent*, const std::string& text, std::int32_t code, bool& handled)
        {
            // Told to the user by whoever watches; the exception would only reach a delivery that cannot
            // show it.
            handled = true;
            failed(ClassifySoundFailure(text, code, output.AudioOutputDevice().DeviceName(),
                                        output.RendererReason()));
        });
    // Without a sound card the default device plays on the null renderer: nothing would be heard, so the
    // user is told as for a device that cannot be opened.
    output.Graph().SetOnGraphBuilt(
        [failed, &output](TComponent*)
        {
            std::string reason = output.RendererStandInReason();
            if (!reason.empty())
                failed({TSoundFailure::TKind::CannotOpen, output.AudioOutputDevice().DeviceName(),
                        std::move(reason), "", 0});
        });
}

double TGeneratorPart::Frequency() const
{
    return FGenerator.Frequency();
}

void TGeneratorPart::SetFrequency(double value)
{
    FGenerator.SetFrequency(value);
}

double TGeneratorPart::Amplitude() const
{
    return FGenerator.Amplitude();
}

void TGeneratorPart::SetAmplitude(double value)
{
    FGenerator.SetAmplitude(value);
}

void TGeneratorPart::SetEnabled(bool value)
{
    FGenerator.SetEnabled(value);
}

void TOutputPart::SetEnabled(bool value)
{
    FOutput.SetEnabled(value);
}

}   // namespace harvolin
