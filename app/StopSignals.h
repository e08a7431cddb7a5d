#pragma once
#include "app/Headless.h"

#include <thread>

namespace harvolin
{

// SIGINT and SIGTERM as stop requests: while the object lives, they no longer end the process; the first one
// is handed to the request, and a second one ends the process at once (128 + the signal), for a user who
// presses Ctrl+C again because the stop takes too long.
//
// Make it before any other thread of the process exists: the signals are blocked in the calling thread, and
// a thread inherits that from the thread that makes it, so that no thread of the pipeline is picked to take
// them. A thread of its own waits for them.
class TStopSignals
{
public:
    explicit TStopSignals(TStopRequest& request);
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;
    ~TStopSignals();
private:
    void Watch();

    TStopRequest& FRequest;
    int FSignals = -1;   // signalfd
    int FWake = -1;      // eventfd: the destructor ends the watch
    std::thread FThread;
};

}   // namespace harvolin
