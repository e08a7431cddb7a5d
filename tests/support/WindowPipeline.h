#pragma once
#include "audioout/ALDSAudioOut.h"
#include "media/ComObject.h"
#include "media/MediaInterfaces.h"
#include "media/ReferenceClock.h"

#include <optional>
#include <string>

namespace harvolin
{

// The main window's pipeline as its stored description holds it (no widgets), under a root of class
// formClass (a form class registered by whoever reads it); clockSource and masterPumping as given. The tests
// that drive the window's pipeline and the benchmark that times it read this one text, so they measure the
// same thing.
inline std::string WindowPipelineDescription(const char* formClass, const char* clockSource,
                                             const char* masterPumping)
{
    return std::string("object fmMain: ") + formClass +
           "\n"
           "  object SLSignalGen1: TSLSignalGen\n"
           "    Enabled = False\n"
           "    PumpPriority = 0\n"
           "    ClockSource = " +
           clockSource +
           "\n"
           "    SampleRate = 100000.0\n"
           "    Amplitude = 20000.0\n"
           "    Frequency = 1000.0\n"
           "    OutputPin.SinkPins = (\n"
           "      (ALRealToAudio1.InputPins._Pin1 'ALRealToAudio1.InputPins.Pin [1]')\n"
           "      (ALRealToAudio1.InputPins._Pin0 'ALRealToAudio1.InputPins.Pin [0]'))\n"
           "  end\n"
           "  object ALRealToAudio1: TALRealToAudio\n"
           "    AudioFormat.SampleRate = 44100\n"
           "    InputPins.Count = 2\n"
           "    InputPins.PinsOwner = True\n"
           "    InputPins.Pins = (SLSignalGen1.OutputPin SLSignalGen1.OutputPin)\n"
           "    OutputPin.SinkPins = (ALDSAudioOut1.InputPin)\n"
           "  end\n"
           "  object ALDSAudioOut1: TALDSAudioOut\n"
           "    Enabled = False\n"
           "    EnableMasterPumping = " +
           masterPumping +
           "\n"
           "    Graph.Register = False\n"
           "    InputPin.SourcePin = ALRealToAudio1.OutputPin\n"
           "  end\n"
           "end\n";
}

// What the output's device has played, in microseconds of stream: the graph's clock is the renderer's.
// Nothing while no graph with a clock exists (before the first start).
inline std::optional<REFERENCE_TIME> PlayedStreamTime(TALDSAudioOut& out)
{
    const auto filter = QueryAs<IMediaFilter>(out.Graph().FilterGraph().Get());
    IReferenceClock* clock = nullptr;
    if (!filter || FAILED(filter->GetSyncSource(&clock)) || clock == nullptr)
        return std::nullopt;
    REFERENCE_TIME now = 0;
    (void)AdoptRef(clock)->GetTime(&now);
    return now;
}

}   // namespace harvolin
