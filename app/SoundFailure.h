#pragma once
#include <cstdint>
#include <string>

namespace harvolin
{

// What went wrong with the sound, as the audio output's graph object reports it, and the words the window
// shows the user for it.
struct TSoundFailure
{
    enum class TKind
    {
        CannotOpen,   // the device could not be opened or the graph not built for it
        Lost,         // the device went away while playing
        Aborted,      // the graph gave up while playing
        Other         // any other step of the graph failed
    };
    TKind Kind = TKind::Other;
    std::string DeviceName;   // as the user chose it ("Default" for the default device)
    std::string Reason;       // the system's words, when known ("audio device 'default': snd_pcm_open: ...")
    std::string Text;         // the graph object's message ("Can't render audio output.")
    std::int32_t Code = 0;    // the platform's result code
};

// The failure the graph object reported with text and code, on the device the user chose. The reason is the
// renderer's own account when it has one, else what the message adds after its first sentence (a lost device's
// message carries the renderer's reason there).
[[nodiscard]] TSoundFailure ClassifySoundFailure(const std::string& text, std::int32_t code,
                                                 std::string deviceName, std::string rendererReason);

// How the user plays again after a failure: the window's Start, or starting the program again.
enum class TPlayAgain
{
    PressStart,
    StartTheProgram
};

// A message for a person: what happened, on which device, the system's reason, and what to do next.
[[nodiscard]] std::string DescribeSoundFailure(const TSoundFailure& failure,
                                               TPlayAgain playAgain = TPlayAgain::PressStart);

}   // namespace harvolin
