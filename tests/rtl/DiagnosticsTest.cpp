#include "rtl/Diagnostics.h"
#include <barrier>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

// A sink of its own, on a clock the test steps by hand, recording what reaches its handler.
class DiagnosticsTest : public ::testing::Test
{
protected:
    DiagnosticsTest()
    {
        (void)FSink.SetHandler([this](const TDiagnostic& diagnostic) { FDelivered.push_back(diagnostic); });
    }

    void Advance(std::chrono::milliseconds by) { FNow += by; }

    TDiagnosticSink::TTime FNow = TDiagnosticSink::TTime{} + 100s;
    TDiagnosticSink FSink{[this] { return FNow; }};
    std::vector<TDiagnostic> FDelivered;
};

TEST_F(DiagnosticsTest, BurstOfIdenticalReportsGivesOneCallThenTheHeldBackCount)
{
    for (int i = 0; i < 100; ++i)
        FSink.Report("SLSignalGen1.OutputPin", "delivering to ALRealToAudio1.InputPins.Pin [0]", "no buffer");
    ASSERT_EQ(FDelivered.size(), 1u);
    EXPECT_EQ(FDelivered[0].Object, "SLSignalGen1.OutputPin");
    EXPECT_EQ(FDelivered[0].Action, "delivering to ALRealToAudio1.InputPins.Pin [0]");
    EXPECT_EQ(FDelivered[0].Message, "no buffer");
    EXPECT_EQ(FDelivered[0].Repeats, 0u);

    // Still inside the window: held back too.
    Advance(TDiagnosticSink::kRepeatWindow - 1ms);
    FSink.Report("SLSignalGen1.OutputPin", "delivering to ALRealToAudio1.InputPins.Pin [0]", "no buffer");
    EXPECT_EQ(FDelivered.size(), 1u);

    Advance(1ms);
    FSink.Report("SLSignalGen1.OutputPin", "delivering to ALRealToAudio1.InputPins.Pin [0]", "no buffer");
    ASSERT_EQ(FDelivered.size(), 2u);
    EXPECT_EQ(FDelivered[1].Repeats, 100u);
    EXPECT_EQ(FSink.Count("SLSignalGen1.OutputPin"), 102u);
    EXPECT_EQ(FSink.HeldBack(), 100u);
}

TEST_F(DiagnosticsTest, FailuresDifferingInObjectActionOrMessageEachPassAtOnce)
{
    FSink.Report("clock 10 ms", "clock callback", "a");
    FSink.Report("clock 10 ms", "clock callback", "b");
    FSink.Report("clock 10 ms", "timer callback", "a");
    FSink.Report("clock 20 ms", "clock callback", "a");
    EXPECT_EQ(FDelivered.size(), 4u);
    EXPECT_EQ(FSink.HeldBack(), 0u);
}

TEST_F(DiagnosticsTest, CeilingHoldsBackDistinctFailuresAndCountsThemExactly)
{
    const std::uint32_t sent = TDiagnosticSink::kMaxDeliveriesPerWindow + 15;
    for (std::uint32_t i = 0; i < sent; ++i)
        FSink.Report("ALRealToAudio1", "SendData", "block " + std::to_string(i) + " lost");
    EXPECT_EQ(FDelivered.size(), TDiagnosticSink::kMaxDeliveriesPerWindow);
    EXPECT_EQ(FSink.HeldBack(), 15u);
    EXPECT_EQ(FSink.Count("ALRealToAudio1"), sent);
    EXPECT_EQ(FSink.Total(), sent);

    // A failure the ceiling held back goes through with the next window, its held occurrence counted.
    Advance(TDiagnosticSink::kRepeatWindow);
    FSink.Report("ALRealToAudio1", "SendData", "block " + std::to_string(sent - 1) + " lost");
    ASSERT_EQ(FDelivered.size(), TDiagnosticSink::kMaxDeliveriesPerWindow + 1);
    EXPECT_EQ(FDelivered.back().Repeats, 1u);
}

TEST_F(DiagnosticsTest, CountsArePerObjectWhateverWasHeldBack)
{
    for (int i = 0; i < 7; ++i)
        FSink.Report("periodic timer", "timer callback", "late");
    for (int i = 0; i < 3; ++i)
        FSink.Report("clock 10 ms", "clock callback", "late");
    EXPECT_EQ(FSink.Count("periodic timer"), 7u);
    EXPECT_EQ(FSink.Count("clock 10 ms"), 3u);
    EXPECT_EQ(FSink.Count("nobody"), 0u);
    EXPECT_EQ(FSink.Total(), 10u);

    FSink.Reset();
    EXPECT_EQ(FSink.Count("periodic timer"), 0u);
    FSink.Report("periodic timer", "timer callback", "late");
    EXPECT_EQ(FDelivered.size(), 3u) << "after a reset the failure is new again";
}

TEST_F(DiagnosticsTest, TrackingMakesRoomOnceOldWindowsHavePassed)
{
    // More distinct failures than are tracked, each within the window: the later ones find no room, and
    // each is let through untracked while the ceiling allows.
    for (std::size_t i = 0; i < TDiagnosticSink::kMaxTrackedFailures + 10; ++i)
    {
        Advance(TDiagnosticSink::kRepeatWindow / TDiagnosticSink::kMaxDeliveriesPerWindow);
        FSink.Report("TrackBar1", "painting", std::to_string(i));
    }
    EXPECT_EQ(FDelivered.size(), TDiagnosticSink::kMaxTrackedFailures + 10);
    // Once the first ones' windows have passed they are forgotten to make room, and tracking works again.
    Advance(TDiagnosticSink::kRepeatWindow);
    FSink.Report("TrackBar1", "painting", "again");
    FSink.Report("TrackBar1", "painting", "again");
    EXPECT_EQ(FDelivered.size(), TDiagnosticSink::kMaxTrackedFailures + 11);
}

TEST_F(DiagnosticsTest, ThrowingHandlerIsCaughtAndCountedAndTheSinkGoesOn)
{
    (void)FSink.SetHandler([](const TDiagnostic&) { throw std::runtime_error("handler broke"); });
    EXPECT_NO_THROW(FSink.Report("clock thread", "clock callback", "first"));
    EXPECT_EQ(FSink.HandlerFailures(), 1u);

    const TDiagnosticHandler thrower =
        FSink.SetHandler([this](const TDiagnostic& d) { FDelivered.push_back(d); });
    EXPECT_TRUE(static_cast<bool>(thrower)) << "the previous handler is handed back";
    FSink.Report("clock thread", "clock callback", "second");
    ASSERT_EQ(FDelivered.size(), 1u);
    EXPECT_EQ(FDelivered[0].Message, "second");
}

TEST(DiagnosticFormatTest, DefaultHandlerWritesOneLineToStderrWithTheRepeats)
{
    testing::internal::CaptureStderr();
    WriteDiagnosticToStderr(
        {"SLSignalGen1.OutputPin", "delivering to ALRealToAudio1.InputPins.Pin [0]", "device gone", 0});
    WriteDiagnosticToStderr({"clock 10 ms", "clock callback", "late", 41});
    EXPECT_EQ(
        testing::internal::GetCapturedStderr(),
        "harvolin: SLSignalGen1.OutputPin: delivering to ALRealToAudio1.InputPins.Pin [0]: device gone\n"
        "harvolin: clock 10 ms: clock callback: late (repeated 41 times)\n");
}

TEST(DiagnosticFormatTest, ProcessWideSinkStartsWithTheStderrHandler)
{
    const TDiagnosticHandler previous = SetDiagnosticHandler({});
    (void)SetDiagnosticHandler(previous);
    ASSERT_TRUE(static_cast<bool>(previous));
    Diagnostics().Reset();
    testing::internal::CaptureStderr();
    ReportFailure("periodic timer", "timer callback", "stuck");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "harvolin: periodic timer: timer callback: stuck\n");
}

TEST(DiagnosticCaptureTest, ReadsTheCurrentExceptionAndRestoresThePreviousHandler)
{
    const TDiagnosticHandler outer = SetDiagnosticHandler({});
    int outerCalls = 0;
    (void)SetDiagnosticHandler([&](const TDiagnostic&) { ++outerCalls; });
    {
        TDiagnosticCapture capture;
        try
        {
            throw std::runtime_error("no device");
        }
        catch (...)
        {
            ReportCurrentException("audio out", "start");
        }
        try
        {
            throw 42;
        }
        catch (...)
        {
            ReportCurrentException([] { return std::string("audio out"); },
                                   []() -> std::string { throw std::bad_alloc(); });
        }
        const std::vector<TDiagnostic> delivered = capture.Delivered();
        ASSERT_EQ(delivered.size(), 2u);
        EXPECT_EQ(delivered[0].Action, "start");
        EXPECT_EQ(delivered[0].Message, "no device");
        EXPECT_EQ(delivered[1].Action, "(unnamed)");
        EXPECT_EQ(delivered[1].Message, "an unknown exception");
        EXPECT_EQ(capture.Count("audio out"), 2u);
        EXPECT_EQ(outerCalls, 0);
    }
    ReportFailure("audio out", "stop", "after");
    EXPECT_EQ(outerCalls, 1);
    (void)SetDiagnosticHandler(outer);
}

class DiagnosticsConcurrencyTest : public DiagnosticsTest
{
};

TEST_F(DiagnosticsConcurrencyTest, ReportsFromManyThreadsAtOnceAreAllCounted)
{
    constexpr int kThreads = 4;
    constexpr int kReports = 2000;
    std::atomic<int> delivered{0};
    (void)FSink.SetHandler([&](const TDiagnostic&) { delivered.fetch_add(1); });
    std::barrier start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(
            [&, t]
            {
                const std::string object = "clock " + std::to_string(t);
                start.arrive_and_wait();
                for (int i = 0; i < kReports; ++i)
                {
                    FSink.Report(object, "clock callback", "late");
                    FSink.Report("shared", "clock callback", std::to_string(i % 3));
                }
            });
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(FSink.Count("clock " + std::to_string(t)), static_cast<std::uint64_t>(kReports));
    EXPECT_EQ(FSink.Count("shared"), static_cast<std::uint64_t>(kThreads * kReports));
    EXPECT_EQ(FSink.Total(), static_cast<std::uint64_t>(2 * kThreads * kReports));
    // The clock stands still: each distinct failure passed exactly once, the rest were held back.
    EXPECT_EQ(delivered.load(), kThreads + 3);
    EXPECT_EQ(FSink.HeldBack(), FSink.Total() - static_cast<std::uint64_t>(kThreads + 3));
}

}   // namespace
}   // namespace harvolin
