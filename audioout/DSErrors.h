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

}   // namespace harvolin
