#include "rtl/qt/QtMessageQueue.h"
#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>

namespace harvolin
{

// Posts to a context object that lives in the owner thread: Qt runs a queued call in the thread of its
// context, and deleting the context discards the calls still posted to it. Each call keeps the queue; the
// cycle ends with Close(), which deletes the context and so the calls.
class TQtMessageQueue::TQueue final : public IMessageQueue, public std::enable_shared_from_this<TQueue>
{
public:
    TQueue() : FContext(std::make_unique<QObject>()) {}

    bool Post(std::function<void()> call) override
    {
        std::lock_guard lock(FLock);
        // Handed over under the lock, so that Close() cannot delete the context between the check and the
        // post.
        if (!FContext)
            return false;
        return QMetaObject::invokeMethod(
            FContext.get(),
            [self = shared_from_this(), call = std::move(call)]
            {
                // Through the lock the poster held, so that everything it did before posting visibly happens
                // before the call, also to the thread sanitizer, which cannot see into Qt's own hand-over
                // between threads. A call that a context deleted from another thread has not yet discarded
                // is dropped here.
                {
                    std::lock_guard handedOver(self->FLock);
                    if (!self->FContext)
                        return;
                }
                RunPostedCall(call);
            },
            Qt::QueuedConnection);
    }

    void Close()
    {
        std::unique_ptr<QObject> context;
        {
            std::lock_guard lock(FLock);
            context = std::move(FContext);
        }
        // A context may be deleted only in its own thread; from elsewhere its thread's loop deletes it later.
        if (context->thread() != QThread::currentThread())
            context.release()->deleteLater();
    }
private:
    std::mutex FLock;
    std::unique_ptr<QObject> FContext;   // guarded by FLock; lives in the owner thread, no parent
};

TQtMessageQueue::TQtMessageQueue() : FQueue(std::make_shared<TQueue>()), FScope(FQueue) {}

TQtMessageQueue::~TQtMessageQueue()
{
    FQueue->Close();
}

}   // namespace harvolin
