#pragma once
#include "app/HeadlessCommandLine.h"
#include "app/ToneController.h"
#include "rtl/Random.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>

namespace harvolin
{

class IMessageQueue;

// A request to stop, from a signal or a test, on any thread: the first one counts. A run that waits on a
// message queue names it, so that a request wakes it.
class TStopRequest
{
public:
    // Any thread. signal is what the exit status reports (SIGINT, SIGTERM).
    void Request(int signal);
    // 0 until a request.
    [[nodiscard]] int Signal() const noexcept { return FSignal.load(); }
    // The queue a request posts to (null for none); the run that set it clears it before its queue goes.
    void SetQueue(std::shared_ptr<IMessageQueue> queue);
private:
    std::atomic<int> FSignal{0};
    std::mutex FLock;
    std::shared_ptr<IMessageQueue> FQueue;   // under FLock
};

// The time of day the tone controller's draws read where there is no window: the start's time of day and
// the time since, as the run that drives the controller says. Draws then depend on the start and on when in
// the run they happen, not on how late a thread woke, so that a run can be repeated from its seed.
class TRunClock final : public ITimeOfDaySource
{
public:
    explicit TRunClock(std::uint32_t startMillisecondOfDay) : FStart(startMillisecondOfDay) {}
    // Any thread.
    void SetElapsed(std::int64_t milliseconds) noexcept { FElapsed.store(milliseconds); }
    [[nodiscard]] TTimeOfDay Now() const override;
private:
    const std::uint32_t FStart;
    std::atomic<std::int64_t> FElapsed{0};
};

// What the tone plays after a change, as the lines report it.
struct TToneState
{
    double Seconds = 0;   // since the start
    int FrequencyHz = 0;
    int VolumePercent = 0;
};

// The tone controller driven without a window: its ranges and boxes hold the command line's values, its
// read-outs and spectrum show nothing, and its timer is a flag the run consults. The generator and the
// output are the pipeline's, as the window binds them.
class THeadlessTone
{
public:
    // Both parts must outlive the object.
    THeadlessTone(const THeadlessCommandLine& line, IToneGenerator& generator, IAudioOutput& output,
                  std::uint32_t startMillisecondOfDay);
    THeadlessTone(const THeadlessTone&) = delete;
    THeadlessTone& operator=(const THeadlessTone&) = delete;
    ~THeadlessTone();

    // As the window's Start: the first draw, then the output and the generator; true when it plays. A
    // component that cannot start is reported to the diagnostics sink and leaves it stopped.
    bool Start();
    // The 3-second change that falls due elapsedMs after the start (as the window's timer's).
    TToneState Tick(std::int64_t elapsedMs);
    // As the window's Stop. May raise, stopped all the same.
    void Stop();
    [[nodiscard]] bool Running() const;
    [[nodiscard]] TToneState State(std::int64_t elapsedMs) const;
private:
    struct TParts;
    std::unique_ptr<TParts> FParts;
};

// Prints each change as a line of text ("0:03  12345 Hz  47 %") or of JSON, or nothing when quiet.
class TToneLog
{
public:
    TToneLog(std::ostream& out, bool json, bool quiet) : FOut(out), FJson(json), FQuiet(quiet) {}
    void Print(const TToneState& state);
private:
    std::ostream& FOut;
    const bool FJson;
    const bool FQuiet;
};

// Plays on the command line's device until stop is requested, the duration has passed or the sound fails.
// Lines go to out, messages to err. Returns the exit status: 0 after a request or the duration, 1 when the
// sound fails (err says why), 2 for a device no output is named. Needs a thread of its own for its message
// loop: the calling thread gets one for the run.
[[nodiscard]] int PlayHeadless(const THeadlessCommandLine& line, TStopRequest& stop, std::ostream& out,
                               std::ostream& err);

// Renders the command line's duration into its WAV file as fast as the machine can: the same pipeline
// without its audio output, driven block by block, with the changes every 3 s of sound time, printed to out
// only with --json. progress, when
// not null, gets a progress bar redrawn in place (a terminal); otherwise err gets one line at the end. A
// stop request ends the render at the next block, with a valid file. Returns 0 when done, 1 when the file
// fails, 2 when the duration does not fit in a WAV file, and 128 + the signal when stopped.
[[nodiscard]] int RenderHeadless(const THeadlessCommandLine& line, TStopRequest& stop, std::ostream& out,
                                 std::ostream& err, std::ostream* progress);

}   // namespace harvolin
