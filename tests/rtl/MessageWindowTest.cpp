#include "rtl/MessageWindow.h"
#include "rtl/Diagnostics.h"
#include "tests/support/TestThreads.h"
#include <atomic>
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

using namespace std::chrono_literals;

constexpr std::uint32_t kGraphNotify = 1025;

// A window on the fixture's loop that records what its handler saw.
class MessageWindowTest : public ::testing::Test
{
protected:
    std::unique_ptr<TMessageWindow> MakeRecordingWindow()
    {
        return std::make_unique<TMessageWindow>([this](const TMessage& message)
                                                { Received.push_back(message); });
    }

    TMessageLoop Loop;
    std::vector<TMessage> Received;   // owner thread only
};

TEST_F(MessageWindowTest, PostedMessagesRunLaterInPostingOrder)
{
    auto window = MakeRecordingWindow();
    EXPECT_TRUE(window->Post(kGraphNotify));
    EXPECT_TRUE(window->Post(2, 7, -3));
    EXPECT_TRUE(PostMessageTo(window->Handle(), 3, 0, 9));
    EXPECT_TRUE(Received.empty());

    EXPECT_EQ(Loop.ProcessPending(), 3u);
    EXPECT_EQ(Received, (std::vector<TMessage>{{kGraphNotify, 0, 0}, {2, 7, -3}, {3, 0, 9}}));
    EXPECT_EQ(Loop.ProcessPending(), 0u);
}

TEST_F(MessageWindowTest, HandlesAreNeverZeroNorReused)
{
    auto first = MakeRecordingWindow();
    const TMessageWindow::THandle firstHandle = first->Handle();
    first.reset();
    auto second = MakeRecordingWindow();
    EXPECT_NE(firstHandle, 0u);
    EXPECT_NE(second->Handle(), 0u);
    EXPECT_NE(second->Handle(), firstHandle);
    EXPECT_FALSE(PostMessageTo(firstHandle, kGraphNotify));
}

TEST_F(MessageWindowTest, PostingToHandleZeroOrADestroyedWindowReturnsFalseAndCallsNothing)
{
    auto window = MakeRecordingWindow();
    const TMessageWindow::THandle handle = window->Handle();
    window.reset();
    EXPECT_FALSE(PostMessageTo(0, kGraphNotify));
    EXPECT_FALSE(PostMessageTo(handle, kGraphNotify));
    EXPECT_EQ(Loop.ProcessPending(), 0u);
    EXPECT_TRUE(Received.empty());
}

TEST_F(MessageWindowTest, MessagesQueuedBeforeDestructionAreDropped)
{
    auto window = MakeRecordingWindow();
    auto other = MakeRecordingWindow();
    window->Post(1);
    other->Post(2);
    window.reset();
    Loop.ProcessPending();
    EXPECT_EQ(Received, (std::vector<TMessage>{{2, 0, 0}}));
}

TEST_F(MessageWindowTest, AThrowingHandlerIsReportedAndLaterMessagesStillRun)
{
    TDiagnosticCapture capture;
    int handled = 0;
    TMessageWindow window(
        [&](const TMessage& message)
        {
            ++handled;
            if (message.Msg == kGraphNotify)
                throw std::runtime_error("graph gone");
        });
    window.Post(kGraphNotify);
    window.Post(2);
    EXPECT_EQ(Loop.ProcessPending(), 2u);
    EXPECT_EQ(handled, 2);
    const std::string object = "message window " + std::to_string(window.Handle());
    EXPECT_EQ(capture.Delivered(), (std::vector<TDiagnostic>{{object, "message 1025", "graph gone", 0}}));
}

TEST_F(MessageWindowTest, AHandlerMayDestroyItsOwnWindow)
{
    std::unique_ptr<TMessageWindow> window;
    std::vector<std::uint32_t> handled;
    window = std::make_unique<TMessageWindow>(
        [&](const TMessage& message)
        {
            window.reset();
            // The call under way goes on with its own copy of the message and handler.
            handled.push_back(message.Msg);
        });
    const TMessageWindow::THandle handle = window->Handle();
    window->Post(1);
    window->Post(2);
    Loop.ProcessPending();
    EXPECT_EQ(handled, std::vector<std::uint32_t>{1});
    EXPECT_FALSE(PostMessageTo(handle, 3));
}

TEST_F(MessageWindowTest, MessagesPostedByAHandlerWaitForTheNextRound)
{
    std::vector<std::uint32_t> handled;
    std::unique_ptr<TMessageWindow> window;
    window = std::make_unique<TMessageWindow>(
        [&](const TMessage& message)
        {
            handled.push_back(message.Msg);
            if (message.Msg == 1)
                window->Post(3);
        });
    window->Post(1);
    window->Post(2);
    EXPECT_EQ(Loop.ProcessPending(), 2u);
    EXPECT_EQ(handled, (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(Loop.ProcessPending(), 1u);
    EXPECT_EQ(handled, (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST_F(MessageWindowTest, ARoundNestedInAHandlerKeepsPostingOrder)
{
    std::vector<std::uint32_t> handled;
    TMessageWindow window(
        [&](const TMessage& message)
        {
            handled.push_back(message.Msg);
            if (message.Msg == 1)
                Loop.ProcessPending();
        });
    window.Post(1);
    window.Post(2);
    window.Post(3);
    Loop.ProcessPending();
    EXPECT_EQ(handled, (std::vector<std::uint32_t>{1, 2, 3}));
}

TEST_F(MessageWindowTest, AWindowOnAThreadWithoutAQueueRaises)
{
    std::string error;
    std::thread bare(
        [&]
        {
            try
            {
                TMessageWindow window([](const TMessage&) {});
            }
            catch (const std::logic_error& failure)
            {
                error = failure.what();
            }
        });
    bare.join();
    EXPECT_NE(error.find("has no message queue"), std::string::npos) << error;
}

TEST_F(MessageWindowTest, AnEmptyHandlerIsRefused)
{
    EXPECT_THROW(TMessageWindow(TMessageWindow::THandler{}), std::invalid_argument);
}

TEST_F(MessageWindowTest, ANestedLoopServesItsWindowsAndGivesTheThreadBackToTheOuterOne)
{
    auto inner = std::make_unique<TMessageLoop>();
    auto innerWindow = MakeRecordingWindow();
    innerWindow->Post(1);
    EXPECT_EQ(Loop.ProcessPending(), 0u);
    EXPECT_EQ(inner->ProcessPending(), 1u);
    inner.reset();

    auto outerWindow = MakeRecordingWindow();
    outerWindow->Post(2);
    EXPECT_EQ(Loop.ProcessPending(), 1u);
    EXPECT_EQ(Received, (std::vector<TMessage>{{1, 0, 0}, {2, 0, 0}}));
}

TEST_F(MessageWindowTest, AWindowWhoseLoopIsGoneNoLongerPosts)
{
    std::unique_ptr<TMessageWindow> window;
    {
        TMessageLoop inner;
        window = MakeRecordingWindow();
        EXPECT_TRUE(window->Post(1));   // dropped with the loop
    }
    EXPECT_FALSE(window->Post(2));
    EXPECT_FALSE(PostMessageTo(window->Handle(), 3));
    EXPECT_EQ(Loop.ProcessPending(), 0u);
    EXPECT_TRUE(Received.empty());
}

TEST_F(MessageWindowTest, TheLoopRunsOnlyOnItsOwnThread)
{
    int refused = 0;
    std::thread other(
        [&]
        {
            auto refusedHere = [&](auto&& operation)
            {
                try
                {
                    operation();
                }
                catch (const std::logic_error&)
                {
                    ++refused;
                }
            };
            refusedHere([&] { Loop.ProcessPending(); });
            refusedHere([&] { Loop.WaitAndProcess(0ms); });
            refusedHere([&] { Loop.RunUntil([] { return true; }, 0ms); });
        });
    other.join();
    EXPECT_EQ(refused, 3);
}

TEST_F(MessageWindowTest, RunUntilStopsAsSoonAsThePredicateHolds)
{
    auto window = MakeRecordingWindow();
    window->Post(1);
    window->Post(2);
    window->Post(3);
    EXPECT_TRUE(Loop.RunUntil([&] { return Received.size() >= 3; }, kPatience));
    EXPECT_FALSE(Loop.RunUntil([&] { return Received.size() >= 4; }, 0ms));
    EXPECT_EQ(Loop.WaitAndProcess(0ms), 0u);
}

TEST_F(MessageWindowTest, APostedCallThatThrowsIsReported)
{
    TDiagnosticCapture capture;
    std::shared_ptr<IMessageQueue> queue = CurrentMessageQueue();
    ASSERT_NE(queue, nullptr);
    EXPECT_TRUE(queue->Post([] { throw std::runtime_error("bad call"); }));
    EXPECT_EQ(Loop.ProcessPending(), 1u);
    EXPECT_EQ(capture.Delivered(),
              (std::vector<TDiagnostic>{{"message queue", "posted call", "bad call", 0}}));
}

class MessageWindowConcurrency : public MessageWindowTest
{
};

TEST_F(MessageWindowConcurrency, PostsFromAnotherThreadRunOnTheOwnerThreadInOrder)
{
    constexpr std::uint32_t kCount = 200;
    const std::thread::id owner = std::this_thread::get_id();
    std::vector<std::uint32_t> handled;
    bool allOnOwner = true;
    TMessageWindow window(
        [&](const TMessage& message)
        {
            allOnOwner = allOnOwner && std::this_thread::get_id() == owner;
            handled.push_back(message.Msg);
        });
    std::thread poster(
        [&]
        {
            for (std::uint32_t i = 0; i < kCount; ++i)
                window.Post(i);
        });
    EXPECT_TRUE(Loop.RunUntil([&] { return handled.size() == kCount; }, kPatience));
    poster.join();
    EXPECT_TRUE(allOnOwner);
    std::vector<std::uint32_t> expected;
    for (std::uint32_t i = 0; i < kCount; ++i)
        expected.push_back(i);
    EXPECT_EQ(handled, expected);
}

TEST_F(MessageWindowConcurrency, AWaitWithoutLimitWakesOnAPostFromAnotherThread)
{
    auto window = MakeRecordingWindow();
    std::latch waiting(1);
    std::thread poster(
        [&]
        {
            waiting.wait();
            PostMessageTo(window->Handle(), kGraphNotify, 1, 2);
        });
    waiting.count_down();
    // A lost wake-up hangs here until the test's own time limit fails it.
    EXPECT_EQ(Loop.WaitAndProcess(std::chrono::milliseconds::max()), 1u);
    poster.join();
    EXPECT_EQ(Received, (std::vector<TMessage>{{kGraphNotify, 1, 2}}));
}

TEST_F(MessageWindowConcurrency, NoHandlerRunsAfterDestructionWhileOthersPostByHandle)
{
    std::atomic<int> handled{0};
    auto window = std::make_unique<TMessageWindow>([&](const TMessage&) { ++handled; });
    const TMessageWindow::THandle handle = window->Handle();
    std::atomic<int> refusedPosters{0};
    std::vector<std::thread> posters;
    for (int i = 0; i < 2; ++i)
        posters.emplace_back(
            [&]
            {
                while (PostMessageTo(handle, kGraphNotify))
                    YieldThread();
                ++refusedPosters;
            });
    EXPECT_TRUE(Loop.RunUntil([&] { return handled >= 10; }, kPatience));
    window.reset();
    const int handledAtDestruction = handled;
    for (auto& poster : posters)
        poster.join();
    Loop.ProcessPending();
    EXPECT_EQ(refusedPosters, 2);
    EXPECT_EQ(handled, handledAtDestruction);
}

TEST_F(MessageWindowConcurrency, PostsRacingTheLoopsEndAreRefusedOnceItIsGone)
{
    auto inner = std::make_unique<TMessageLoop>();
    auto window = MakeRecordingWindow();
    std::latch posting(1);
    std::atomic<bool> refused{false};
    std::thread poster(
        [&]
        {
            posting.count_down();
            while (window->Post(1))
                YieldThread();
            refused = true;
        });
    posting.wait();
    inner.reset();
    poster.join();
    EXPECT_TRUE(refused);
    EXPECT_TRUE(Received.empty());
}

}   // namespace
}   // namespace harvolin
