// What the window's pipeline costs while it plays: the stored description the window reads, on the paced null
// renderer at a sound card's pace, for --seconds of stream (600 by default), the frequency changed every 3 s
// as the window's timer does. Reported:
//  - the delay from a change to the first frame of the block that carries it leaving the device, for the
//    first and the last change (and the largest): the recording is compared block by block with the
//    generator's own synthesis, so the figure is what a listener would hear, not what the code says;
//  - resident memory (VmRSS) when the first change is made and at the end;
//  - CPU seconds (user + system, whole process) per second of sound between those two points, and in the
//    first and the last minute of that when the run is long enough (a soak's drift);
//  - per thread, its wake-ups (voluntary + involuntary context switches) per block played.
// --quiet plays without recording and prints nothing: the run a comparison of costs wants (bench/live-cost).
#include "tests/support/WindowPipeline.h"
#include "audioout/ALDSAudioOut.h"
#include "convert/ALRealToAudio.h"
#include "gen/SLSignalGen.h"
#include "gen/SLWaveform.h"
#include "media/AudioDevices.h"
#include "rtl/DescriptionReader.h"
#include "rtl/MessageWindow.h"
#include "rtl/Rounding.h"
#include "tests/pins/TestPins.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <pthread.h>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace harvolin
{
namespace
{

using namespace std::chrono_literals;

constexpr std::int64_t kBlockFrames = 1024;
constexpr std::int64_t kBlockMicroseconds = 10240;   // 1024 frames at 100 000 a second
constexpr std::int64_t kChangeEveryMicroseconds = 3000000;
constexpr std::int64_t kMinuteMicroseconds = 60000000;
constexpr double kAmplitude = 20000.0;

struct TOptions
{
    double Seconds = 600.0;
    bool Quiet = false;
};

// A different frequency at each change, all well inside the band the window offers.
double FrequencyOfChange(std::size_t change)
{
    return 8000.0 + 500.0 * static_cast<double>(change % 16);
}

struct TChange
{
    std::int64_t PlayedAt = 0;   // microseconds of stream the device had played when the change was made
    double Frequency = 0.0;
};

struct TThreadFigures
{
    std::string Name;
    std::uint64_t Switches = 0;
};

// Voluntary + involuntary context switches and the name of every thread of this process, by thread id.
std::map<int, TThreadFigures> ThreadFigures()
{
    std::map<int, TThreadFigures> figures;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
    {
        TThreadFigures thread;
        std::ifstream comm(entry.path() / "comm");
        std::getline(comm, thread.Name);
        std::ifstream status(entry.path() / "status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("voluntary_ctxt_switches:") ||
                line.starts_with("nonvoluntary_ctxt_switches:"))
                thread.Switches += std::stoull(line.substr(line.find(':') + 1));
        figures[std::stoi(entry.path().filename().string())] = thread;
    }
    return figures;
}

std::uint64_t ResidentKilobytes()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with("VmRSS:"))
            return std::stoull(line.substr(6));
    return 0;
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct TSnapshot
{
    std::int64_t Played = 0;
    double Cpu = 0.0;
    std::uint64_t ResidentKb = 0;
    std::map<int, TThreadFigures> Threads;

    static TSnapshot Take(std::int64_t played)
    {
        return {played, CpuSeconds(), ResidentKilobytes(), ThreadFigures()};
    }
};

// The block at which each change first shows in the recording, found by replaying the generator's synthesis:
// a block that differs from the current frequency's continuation must be the next change's first block,
// in phase; anything else is a broken stream and ends the search (the blocks found so far are returned).
std::vector<std::int64_t> ChangeBlocks(const std::filesystem::path& recording, double firstFrequency,
                                       const std::vector<TChange>& changes, std::string& fault)
{
    std::ifstream in(recording, std::ios::binary);
    in.seekg(44);   // the recording's plain header
    TSLWaveform wave;
    wave.SetSignalType(stTone);
    wave.SetAmplitude(kAmplitude);
    wave.SampleRateChanged(100000.0);
    wave.SetFrequency(firstFrequency);
    wave.ResetState();
    std::vector<std::int16_t> played(2 * kBlockFrames);
    std::vector<double> samples(kBlockFrames);
    auto matches = [&]
    {
        for (std::int64_t k = 0; k < kBlockFrames; ++k)
        {
            const auto expected = static_cast<std::int16_t>(RoundHalfEven(samples[k]));
            if (played[2 * k] != expected || played[2 * k + 1] != expected)
                return false;
        }
        return true;
    };
    std::vector<std::int64_t> found;
    for (std::int64_t block = 0;
         in.read(reinterpret_cast<char*>(played.data()), static_cast<std::streamsize>(played.size() * 2));
         ++block)
    {
        // The tone's whole running state is its phase: restarting from it replays the block exactly.
        const double phase = wave.PhaseState();
        wave.GenerateBlock(samples.data(), static_cast<std::int32_t>(kBlockFrames));
        if (matches())
            continue;
        if (found.size() < changes.size())
        {
            wave.SetPhase(phase);
            wave.SetFrequency(changes[found.size()].Frequency);
            wave.GenerateBlock(samples.data(), static_cast<std::int32_t>(kBlockFrames));
            if (matches())
            {
                found.push_back(block);
                continue;
            }
        }
        fault =
            "block " + std::to_string(block) + " is neither the stream's continuation nor the next change";
        break;
    }
    return found;
}

class TPipelineRun
{
public:
    explicit TPipelineRun(const TOptions& options) : FOptions(options) {}

    int Run()
    {
        // A class nothing of this program refers to is not linked in from its library, nor its registration.
        RegisterComponentClass<TALRealToAudio>();
        const auto folder = std::filesystem::temp_directory_path() /
                            ("harvolin-pipeline-bench-" + std::to_string(::getpid()));
        const auto recording = folder / "played.wav";
        if (!FOptions.Quiet)
            std::filesystem::create_directories(folder);
        SetNullRendererOptions({.Paced = true,
                                .BufferDuration = 40ms,
                                .RecordTo = FOptions.Quiet ? std::filesystem::path() : recording,
                                .Speed = 1});

        const double firstFrequency = FrequencyOfChange(15);
        auto form = MakeComponent<TTestForm>();
        ReadDescription(*form, WindowPipelineDescription("TTestForm", "csInternal", "False"));
        auto& gen = dynamic_cast<TSLSignalGen&>(*form->FindComponent("SLSignalGen1"));
        FOut = &dynamic_cast<TALDSAudioOut&>(*form->FindComponent("ALDSAudioOut1"));
        FOut->AudioOutputDevice().SetDeviceName(kNullAudioRendererFriendlyName);
        // As the window starts: the tone's settings first, then the output, then the generator.
        gen.SetFrequency(firstFrequency);
        gen.SetAmplitude(kAmplitude);
        FOut->SetEnabled(true);
        gen.SetEnabled(true);

        const auto end = static_cast<std::int64_t>(FOptions.Seconds * 1e6);
        std::vector<TChange> changes;
        std::optional<TSnapshot> start;
        std::optional<TSnapshot> firstMinute;   // a minute of stream after start, when the run is that long
        std::deque<TSnapshot> lastMinute;         // the changes' snapshots of the last minute or so
        std::int64_t played = 0;
        while (played < end)
        {
            const std::int64_t nextChange =
                static_cast<std::int64_t>(changes.size() + 1) * kChangeEveryMicroseconds;
            if (played >= nextChange)
            {
                TSnapshot now = TSnapshot::Take(played);
                if (!start)
                    start = now;
                else if (!firstMinute && now.Played - start->Played >= kMinuteMicroseconds)
                    firstMinute = now;
                // The oldest kept is the last at least a minute before now, when there is one.
                while (lastMinute.size() > 1 && now.Played - lastMinute[1].Played >= kMinuteMicroseconds)
                    lastMinute.pop_front();
                lastMinute.push_back(std::move(now));
                changes.push_back({played, FrequencyOfChange(changes.size())});
                gen.SetFrequency(changes.back().Frequency);
                continue;
            }
            // Sleeps on the window's queue until the next change or the end is due, serving graph events and
            // posted failures meanwhile, so that this thread's wake-ups are the window's own.
            const std::int64_t due = std::min(nextChange, end) - played;
            FLoop.WaitAndProcess(std::chrono::milliseconds(std::max<std::int64_t>(1, due / 1000)));
            played = PlayedStreamTime(*FOut).value_or(played);
        }
        const TSnapshot last = TSnapshot::Take(played);
        FOut->SetEnabled(false);
        gen.SetEnabled(false);
        const std::uint64_t dropped = FOut->DroppedBlocks();
        FOut = nullptr;
        form.reset();
        SetNullRendererOptions({});
        if (FOptions.Quiet)
            return 0;
        if (!start)
        {
            std::fprintf(stderr, "the run ended before its first change; give at least 4 seconds\n");
            return 1;
        }
        Report(*start, last, dropped, recording, firstFrequency, changes);
        if (firstMinute && last.Played - lastMinute.front().Played >= kMinuteMicroseconds)
        {
            const auto perSecond = [](const TSnapshot& from, const TSnapshot& to)
            { return (to.Cpu - from.Cpu) / (static_cast<double>(to.Played - from.Played) / 1e6); };
            std::printf("CPU per second of sound first minute %.5f s, last minute %.5f s\n",
                        perSecond(*start, *firstMinute), perSecond(lastMinute.front(), last));
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        return 0;
    }
private:
    static void Report(const TSnapshot& start, const TSnapshot& last, std::uint64_t dropped,
                       const std::filesystem::path& recording, double firstFrequency,
                       const std::vector<TChange>& changes)
    {
        const double seconds = static_cast<double>(last.Played - start.Played) / 1e6;
        const double blocks = static_cast<double>(last.Played - start.Played) / kBlockMicroseconds;
        std::printf("stream measured        %.1f s (%.0f blocks) after the start-up\n", seconds, blocks);
        std::printf("dropped blocks         %llu\n", static_cast<unsigned long long>(dropped));
        std::string fault;
        const std::vector<std::int64_t> found = ChangeBlocks(recording, firstFrequency, changes, fault);
        if (!fault.empty())
            std::printf("recording              %s\n", fault.c_str());
        else
            std::printf("recording              no gap: every block the stream's continuation or its next change\n");
        std::printf("changes heard          %zu of %zu\n", found.size(), changes.size());
        auto delayMs = [&](std::size_t i)
        { return (found[i] * kBlockMicroseconds - changes[i].PlayedAt) / 1000.0; };
        if (!found.empty())
        {
            double most = 0.0;
            for (std::size_t i = 0; i < found.size(); ++i)
                most = std::max(most, delayMs(i));
            std::printf("change to device       first %.1f ms, last %.1f ms, largest %.1f ms\n", delayMs(0),
                        delayMs(found.size() - 1), most);
        }
        std::printf("resident memory        %llu kB at the first change, %llu kB at the end\n",
                    static_cast<unsigned long long>(start.ResidentKb),
                    static_cast<unsigned long long>(last.ResidentKb));
        std::printf("CPU per second of sound %.5f s (%.3f %% of one core)\n",
                    (last.Cpu - start.Cpu) / seconds, 100.0 * (last.Cpu - start.Cpu) / seconds);
        std::printf("wake-ups per block played, by thread:\n");
        for (const auto& [tid, thread] : last.Threads)
        {
            const auto before = start.Threads.find(tid);
            const std::uint64_t earlier = before == start.Threads.end() ? 0 : before->second.Switches;
            std::printf("  %-16s %7d  %10llu  %.3f\n", thread.Name.c_str(), tid,
                        static_cast<unsigned long long>(thread.Switches - earlier),
                        static_cast<double>(thread.Switches - earlier) / blocks);
        }
    }

    const TOptions FOptions;
    TMessageLoop FLoop;
    TALDSAudioOut* FOut = nullptr;
};

}   // namespace
}   // namespace harvolin

int main(int argc, char** argv)
{
    // The window's thread: named as the others are, so that its row reads as what it is.
    pthread_setname_np(pthread_self(), "window");
    harvolin::TOptions options;
    for (int i = 1; i < argc; ++i)
    {
        const std::string argument = argv[i];
        if (argument == "--quiet")
            options.Quiet = true;
        else if (argument == "--seconds" && i + 1 < argc)
        {
            char* rest = nullptr;
            options.Seconds = std::strtod(argv[++i], &rest);
            if (*rest != '\0' || !(options.Seconds > 0.0))
            {
                std::fprintf(stderr, "--seconds wants a positive number of seconds, not \"%s\"\n", argv[i]);
                return 2;
            }
        }
        else
        {
            std::fprintf(stderr, "usage: %s [--seconds N] [--quiet]\n", argv[0]);
            return 2;
        }
    }
    try
    {
        return harvolin::TPipelineRun(options).Run();
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
