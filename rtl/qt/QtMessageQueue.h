#pragma once
#include "rtl/MessageWindow.h"
#include <memory>

namespace harvolin
{

// The program's message queue: calls posted to it run in Qt's event loop on the thread that made it (the Qt
// main thread, that is the window thread), inside QCoreApplication::exec() or processEvents(), in posting
// order. For its lifetime it is that thread's current queue, so the message windows made there are served by
// Qt; it is a TMessageQueueScope and nests the same way.
//
// Post() (through IMessageQueue) is for any thread and never waits for the window thread: it holds the
// queue's own lock only while it hands the call to Qt. Make and destroy the queue on the thread that runs
// its calls. Destruction closes it: Qt drops the calls still pending, and later posts return false.
class TQtMessageQueue
{
public:
    TQtMessageQueue();
    TQtMessageQueue(const TQtMessageQueue&) = delete;
    TQtMessageQueue& operator=(const TQtMessageQueue&) = delete;
    ~TQtMessageQueue();
private:
    class TQueue;

    std::shared_ptr<TQueue> FQueue;
    TMessageQueueScope FScope;   // after FQueue: installs it
};

}   // namespace harvolin
