#pragma once
#include "rtl/Threads.h"

#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace harvolin
{

// Bound of every wait that should succeed; reaching it fails the test instead of hanging it.
inline constexpr std::chrono::milliseconds kPatience{5000};
// Window in which a wrongly admitted thread would show itself; a correct build never waits in vain.
inline constexpr std::chrono::milliseconds kQuietWindow{20};

// Bounded wait for a state another thread reaches; false when the patience ran out.
inline bool Eventually(const std::function<bool()>& condition)
{
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        YieldThread();
    }
    return true;
}

// Whether the thread of this process waits in poll() now: where a write to a device waits for room.
inline bool WaitsInPoll(pid_t thread)
{
    std::ifstream in("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long call = -1;
    in >> call;
    return call == SYS_poll || call == SYS_ppoll;
}

// The id of this process's thread of that name (names are cut to 15 characters), or 0 when none has it.
inline pid_t ThreadNamed(const std::string& name)
{
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
    {
        std::ifstream in(task.path() / "comm");
        std::string comm;
        std::getline(in, comm);
        if (comm == name.substr(0, 15))
            return static_cast<pid_t>(std::stol(task.path().filename().string()));
    }
    return 0;
}

// A thread that runs enter() (which may block), sets Entered, waits until Leave() or destruction, then runs
// leave(): a hold taken and kept by another thread for as long as the test needs it.
class THoldingThread
{
public:
    THoldingThread(std::function<void()> enter, std::function<void()> leave)
        : FThread(
              [this, enter = std::move(enter), leave = std::move(leave)]
              {
                  Id = CurrentThreadId();
                  enter();
                  Entered.Set();
                  FLeave.Wait();
                  leave();
              })
    {
    }
    THoldingThread(const THoldingThread&) = delete;
    THoldingThread& operator=(const THoldingThread&) = delete;
    ~THoldingThread()
    {
        FLeave.Set();
        FThread.join();
    }

    void Leave() { FLeave.Set(); }

    TEvent Entered{TEventMode::ManualReset};
    std::atomic<std::uint32_t> Id{0};
private:
    TEvent FLeave{TEventMode::ManualReset};
    std::thread FThread;   // last: starts once the events exist
};

}   // namespace harvolin
