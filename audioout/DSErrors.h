#pragma once
#include "rtl/Exceptions.h"

namespace harvolin
{

// A failure of the audio output's graph work that no OnError handler took care of: the caller that started
// the failing step (building the graph, adding filters) sees it. The message is "<text> - <code as unsigned
// decimal> - <code in hexadecimal>".
class EDSException : public Exception
{
public:
    using Exception::Exception;
};

// The audio output's messages that tell its users which way the sound failed: the steps that make and connect
// the renderer, and the two events of a graph that plays (the renderer's reason follows these two).
inline constexpr char kDSCannotRenderOutput[] = "Can't render audio output.";
inline constexpr char kDSCannotCreateRenderer[] = "Can't create audio render filter.";
inline constexpr char kDSCannotAddRenderer[] = "Can't add audio render filter.";
inline constexpr char kDSDeviceLost[] = "Audio device lost.";
inline constexpr char kDSPlaybackAborted[] = "Audio playback aborted.";

}   // namespace harvolin
