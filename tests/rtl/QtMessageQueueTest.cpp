#include "rtl/qt/QtMessageQueue.h"
#include "rtl/Diagnostics.h"
#include "tests/support/TestThreads.h"
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>
#include <latch>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

constexpr std::uint32_t kGraphNotify = 1025;

// A window served by the fixture's Qt queue that records what its handler saw, and where.
class QtMessageQueueTest : public ::testing::Test
{
protected:
    std::unique_ptr<TMessageWindow> MakeRecordingWindow()
    {
        return std::make_unique<TMessageWindow>(
            [this](const TMessage& message)
            {
                OnGuiThread =
                    OnGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
                Received.push_back(message);
            });
    }

    std::unique_ptr<TQtMessageQueue> Queue = std::make_unique<TQtMessageQueue>();
    std::vector<TMessage> Received;   // GUI thread only
    bool OnGuiThread = true;
};

TEST_F(QtMessageQueueTest, DestroyingTheQueueDropsPendingCallsAndRefusesLaterPosts)
{
    auto window = MakeRecordingWindow();
    EXPECT_TRUE(window->Post(1));
    Queue.reset();
    QCoreApplication::processEvents();
    EXPECT_TRUE(Received.empty());
    EXPECT_FALSE(window->Post(2));
    EXPECT_FALSE(PostMessageTo(window->Handle(), 3));
}

TEST_F(QtMessageQueueTest, AThrowingHandlerIsReportedAndTheEventLoopGoesOn)
{
    TDiagnosticCapture capture;
    TMessageWindow window(
        [this](const TMessage& message)
        {
            if (message.Msg == kGraphNotify)
                throw std::runtime_error("graph gone");
            Received.push_back(message);
        });
    window.Post(kGraphNotify);
    window.Post(2);
    QCoreApplication::processEvents();
    EXPECT_EQ(Received, (std::vector<TMessage>{{2, 0, 0}}));
    const std::string object = "message window " + std::to_string(window.Handle());
    EXPECT_EQ(capture.Delivered(), (std::vector<TDiagnostic>{{object, "message 1025", "graph gone", 0}}));
}

TEST_F(QtMessageQueueTest, APlainLoopNestedOnTheGuiThreadGivesItBackToQt)
{
    {
        TMessageLoop loop;
        auto window = MakeRecordingWindow();
        window->Post(1);
        QCoreApplication::processEvents();
        EXPECT_TRUE(Received.empty());
        EXPECT_EQ(loop.ProcessPending(), 1u);
    }
    auto window = MakeRecordingWindow();
    window->Post(2);
    QCoreApplication::processEvents();
    EXPECT_EQ(Received, (std::vector<TMessage>{{1, 0, 0}, {2, 0, 0}}));
}

class QtMessageQueueConcurrency : public QtMessageQueueTest
{
};

TEST_F(QtMessageQueueConcurrency, PostsFromAnotherThreadRunInProcessEventsOnTheGuiThreadInOrder)
{
    auto window = MakeRecordingWindow();
    std::thread poster(
        [&]
        {
            window->Post(kGraphNotify, 1, 2);
            PostMessageTo(window->Handle(), 2);
            window->Post(3);
        });
    poster.join();
    EXPECT_TRUE(Received.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(Received, (std::vector<TMessage>{{kGraphNotify, 1, 2}, {2, 0, 0}, {3, 0, 0}}));
    EXPECT_TRUE(OnGuiThread);
}

TEST_F(QtMessageQueueConcurrency, APostFromAnotherThreadWakesTheRunningEventLoop)
{
    QEventLoop loop;
    bool quitByHandler = false;
    TMessageWindow window(
        [&](const TMessage& message)
        {
            Received.push_back(message);
            quitByHandler = true;
            loop.quit();
        });
    // Bounds a lost post; a correct build quits long before.
    QTimer::singleShot(kPatience, &loop, &QEventLoop::quit);
    std::latch running(1);
    std::thread poster(
        [&]
        {
            running.wait();
            window.Post(kGraphNotify);
        });
    QTimer::singleShot(0, &loop, [&] { running.count_down(); });
    loop.exec();
    poster.join();
    EXPECT_TRUE(quitByHandler);
    EXPECT_EQ(Received, (std::vector<TMessage>{{kGraphNotify, 0, 0}}));
}

}   // namespace
}   // namespace harvolin
