// What the chain generator -> converter costs per block when nothing else runs: the generator on an external
// clock, ticked at its ClockPin as fast as it goes, both converter inputs fed by its output as the window
// links them, and a sink that folds every 16-bit stereo block into a checksum (so that the work cannot be
// left out, and two builds can be compared sample for sample). Prints the checksum, the CPU seconds of the
// run and, where the kernel lets a process count them, the instructions it retired.
//
//   harvolin_chain_bench [--seconds N] [--wave tone|triangle|square]
//
// bench/chain-cost runs it under callgrind at two lengths and prints the instructions per frame and block.
#include "convert/ALRealToAudio.h"
#include "gen/SLSignalGen.h"

#include <linux/perf_event.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace harvolin
{
namespace
{

constexpr std::uint32_t kBlockFrames = 1024;
constexpr double kSampleRate = 100000.0;

struct TOptions
{
    double Seconds = 600.0;
    TSLSignalType Wave = stTone;
};

// Keeps a checksum of the blocks it is given: two sums of each pair of frames, one of them mixed with the
// pair's place in the block, and the blocks chained so that their order counts. Plain SSE2 work the compiler
// vectorises, so that the sink weighs little beside the chain it measures (about two instructions a frame).
class TChecksumSink final : public TComponent
{
public:
    explicit TChecksumSink(TComponent* owner) : TComponent(owner) {}
    ~TChecksumSink() override { InputPin.Disconnect(); }

    [[nodiscard]] std::uint64_t Checksum() const noexcept { return FChecksum; }
    [[nodiscard]] std::uint64_t Blocks() const noexcept { return FBlocks; }

    TALOWAudioSinkPin InputPin{
        this, [this](TOWPin*, const TGUID&, std::uint32_t, const TRefPtr<TOWNotifyOperation>& operation)
        {
            if (const auto* supplied = dynamic_cast<const TOWSuppliedBufferOperation*>(operation.Get()))
                if (const auto* audio = dynamic_cast<const TALAudioBuffer*>(supplied->Buffer().Get()))
                    Add(*audio);
            return true;
        }};
private:
    void Add(const TALAudioBuffer& audio) noexcept
    {
        const std::uint8_t* bytes = audio.GetRead();
        const std::uint32_t pairs = audio.GetByteSize() / 8;
        std::uint64_t sum = 0;
        std::uint64_t placed = 0;
        for (std::uint32_t i = 0; i < pairs; ++i)
        {
            std::uint64_t word = 0;
            std::memcpy(&word, bytes + 8 * i, 8);
            sum += word;
            placed += word ^ i;
        }
        FChecksum = (FChecksum ^ sum) * 0x100000001B3ull + placed;
        ++FBlocks;
    }

    std::uint64_t FChecksum = 0xCBF29CE484222325ull;   // the clock thread alone: the bench's main thread
    std::uint64_t FBlocks = 0;
};

// Instructions retired by this process in user space, where the kernel allows counting them.
class TInstructionCounter
{
public:
    TInstructionCounter()
    {
        perf_event_attr attr{};
        attr.type = PERF_TYPE_HARDWARE;
        attr.size = sizeof(attr);
        attr.config = PERF_COUNT_HW_INSTRUCTIONS;
        attr.disabled = 1;
        attr.exclude_kernel = 1;
        attr.exclude_hv = 1;
        FFd = static_cast<int>(syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
    }
    ~TInstructionCounter()
    {
        if (FFd >= 0)
            close(FFd);
    }
    TInstructionCounter(const TInstructionCounter&) = delete;
    TInstructionCounter& operator=(const TInstructionCounter&) = delete;

    void Start() noexcept
    {
        if (FFd >= 0)
        {
            ioctl(FFd, PERF_EVENT_IOC_RESET, 0);
            ioctl(FFd, PERF_EVENT_IOC_ENABLE, 0);
        }
    }
    [[nodiscard]] std::optional<std::uint64_t> Stop() noexcept
    {
        if (FFd < 0)
            return std::nullopt;
        ioctl(FFd, PERF_EVENT_IOC_DISABLE, 0);
        std::uint64_t count = 0;
        if (read(FFd, &count, sizeof(count)) != static_cast<ssize_t>(sizeof(count)))
            return std::nullopt;
        return count;
    }
private:
    int FFd = -1;
};

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

[[noreturn]] void Usage(const char* program, const std::string& fault)
{
    std::fprintf(stderr, "%s: %s\nusage: %s [--seconds N] [--wave tone|triangle|square]\n", program,
                 fault.c_str(), program);
    std::exit(2);
}

TOptions ParseOptions(int argc, char** argv)
{
    TOptions options;
    for (int i = 1; i < argc; ++i)
    {
        const std::string argument = argv[i];
        if (i + 1 >= argc)
            Usage(argv[0], "'" + argument + "' is unknown or lacks its value");
        const std::string value = argv[++i];
        if (argument == "--seconds")
        {
            char* end = nullptr;
            options.Seconds = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(options.Seconds > 0.0))
                Usage(argv[0], "--seconds '" + value + "' is not a positive number");
        }
        else if (argument == "--wave")
        {
            if (value == "tone")
                options.Wave = stTone;
            else if (value == "triangle")
                options.Wave = stTriangle;
            else if (value == "square")
                options.Wave = stSquare;
            else
                Usage(argv[0], "--wave '" + value + "' is not tone, triangle or square");
        }
        else
            Usage(argv[0], "'" + argument + "' is unknown");
    }
    return options;
}

int Run(const TOptions& options)
{
    auto owner = MakeComponent<TComponent>();
    auto& gen = CreateComponent<TSLSignalGen>(*owner);
    auto& converter = CreateComponent<TALRealToAudio>(*owner);
    auto& sink = CreateComponent<TChecksumSink>(*owner);
    gen.SetEnabled(false);
    gen.SetClockSource(TSLClockSource::csExternal);
    gen.SetSampleRate(kSampleRate);
    gen.SetBufferSize(static_cast<std::int32_t>(kBlockFrames));
    gen.SetSignalType(options.Wave);
    gen.SetAmplitude(20000.0);
    gen.SetFrequency(10000.0);
    if (!converter.InputPin(1).Connect(&gen.OutputPin) || !converter.InputPin(0).Connect(&gen.OutputPin) ||
        !sink.InputPin.Connect(&converter.OutputPin))
    {
        std::fprintf(stderr, "harvolin_chain_bench: the chain does not link\n");
        return 1;
    }
    gen.SetEnabled(true);

    const auto blocks = static_cast<std::uint64_t>(options.Seconds * kSampleRate / kBlockFrames + 0.5);
    TInstructionCounter instructions;
    const double cpuBefore = CpuSeconds();
    instructions.Start();
    for (std::uint64_t i = 0; i < blocks; ++i)
        gen.ClockPin.Clock();
    const std::optional<std::uint64_t> retired = instructions.Stop();
    const double cpu = CpuSeconds() - cpuBefore;
    gen.SetEnabled(false);

    if (sink.Blocks() != blocks)
    {
        std::fprintf(stderr, "harvolin_chain_bench: %" PRIu64 " ticks delivered %" PRIu64 " blocks\n", blocks,
                     sink.Blocks());
        return 1;
    }
    const double frames = static_cast<double>(blocks) * kBlockFrames;
    std::printf("blocks %" PRIu64 "\nframes %.0f\nchecksum %016" PRIx64 "\ncpu_seconds %.3f\n", blocks,
                frames, sink.Checksum(), cpu);
    if (retired)
        std::printf("instructions %" PRIu64 "\ninstructions_per_frame %.2f\n", *retired,
                    static_cast<double>(*retired) / frames);
    else
        std::printf("instructions unavailable\n");
    return 0;
}

}   // namespace
}   // namespace harvolin

int main(int argc, char** argv)
{
    return harvolin::Run(harvolin::ParseOptions(argc, argv));
}
