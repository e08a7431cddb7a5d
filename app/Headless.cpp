#include "app/Headless.h"

#include "app/CommandLine.h"
#include "app/Pipeline.h"
#include "audioout/ALDSAudioOut.h"
#include "buffers/ALSimpleAudioBuffer.h"
#include "convert/ALRealToAudio.h"
#include "gen/SLSignalGen.h"
#include "media/RateConverter.h"
#include "media/WavWriter.h"
#include "pins/ALStreamTypes.h"
#include "rtl/Diagnostics.h"
#include "rtl/MessageWindow.h"
#include "rtl/Rounding.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <vector>

namespace harvolin
{
namespace
{

using TSteadyClock = std::chrono::steady_clock;

constexpr std::int64_t kTickMs = 3000;   // the window's timer
constexpr std::uint32_t kMillisecondsPerDay = 24 * 60 * 60 * 1000;

// ---- the controller's parts without a window ----

class TValueRange final : public IRangeInput
{
public:
    explicit TValueRange(int position) : FPosition(position) {}
    [[nodiscard]] int Position() const override { return FPosition; }
    void SetEnabled(bool) override {}
private:
    const int FPosition;
};

class TValueBox final : public ICheckBox
{
public:
    explicit TValueBox(bool checked) : FChecked(checked) {}
    [[nodiscard]] bool Checked() const override { return FChecked; }
private:
    const bool FChecked;
};

// The read-outs: the run reports what the generator plays instead.
class TNoLabel final : public ILabel
{
public:
    void SetCaption(const std::string&) override {}
    void SetEnabled(bool) override {}
};

class TNoButton final : public IButton
{
public:
    void SetEnabled(bool) override {}
};

class TFlagTimer final : public ITimer
{
public:
    void SetEnabled(bool value) override { Enabled = value; }
    bool Enabled = false;
};

class TNoBars final : public IBarDisplay
{
public:
    [[nodiscard]] int BarCount() const override { return 0; }
    void SetBarValue(int, int) override {}
};

class TNoWindow final : public IWindow
{
public:
    void Close() override {}
};

std::string JsonNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::uint32_t StartOfDraws(const THeadlessCommandLine& line)
{
    return line.Seed ? *line.Seed : MillisecondsOfDay(SystemTimeOfDay().Now());
}

// The end of the chain when rendering: takes the converter's blocks and writes them, converted to the
// file's rate if it differs, into the WAV file, up to the wanted number of frames. Runs on the thread that
// clocks the generator, inside its delivery; a failure of the file is kept for that thread to report,
// rather than thrown into the chain.
class TRenderSink final : public TComponent
{
public:
    TRenderSink(TComponent* owner, std::string path, std::uint32_t rate, std::uint64_t frames)
        : TComponent(owner), FPath(std::move(path)), FRate(rate), FWanted(frames)
    {
        // Written in large pieces: the writer brings the header up to date after each, which is what keeps an
        // interrupted file valid, and a piece per block would cost more than making the block.
        FPending.reserve(kPieceBytes);
    }
    ~TRenderSink() override { InputPin.Disconnect(); }

    // Every frame the chain has delivered, at the stream's rate.
    [[nodiscard]] std::uint64_t StreamFrames() const noexcept { return FStreamFrames; }
    [[nodiscard]] std::uint32_t StreamRate() const noexcept { return FStreamRate; }
    [[nodiscard]] std::uint64_t FramesWritten() const noexcept { return FWritten; }
    [[nodiscard]] bool Done() const noexcept { return FWritten >= FWanted; }
    [[nodiscard]] const std::string& Error() const noexcept { return FError; }

    // The converter's tail, then whatever waits to be written. Raises what the file raises.
    void Finish()
    {
        if (FConverter && FError.empty())
        {
            FConverted.clear();
            FConverter->Flush(FConverted);
            Take(reinterpret_cast<const std::uint8_t*>(FConverted.data()), FConverted.size() / FChannels);
        }
        WritePending();
    }

    TALOWAudioSinkPin InputPin{
        this, [this](TOWPin*, const TGUID&, std::uint32_t, const TRefPtr<TOWNotifyOperation>& operation)
        {
            if (!FError.empty())
                return false;
            try
            {
                Arrived(operation);
            }
            catch (const std::exception& failure)
            {
                FError = failure.what();
            }
            return false;
        }};
private:
    static constexpr std::size_t kPieceBytes = 1 << 20;

    void Arrived(const TRefPtr<TOWNotifyOperation>& operation)
    {
        if (auto start = RefCast<TOWStartWaveOperation>(operation))
        {
            if (FWriter)
                return;   // a restart of the same stream
            if (start->BitsPerSample() != 16 || start->Channels() == 0)
                throw std::runtime_error("the stream is not 16-bit PCM");
            FChannels = start->Channels();
            FStreamRate = start->SamplesPerSec();
            FWriter.emplace(FPath, TPcmFormat{FChannels, 16, FRate});
            if (FStreamRate != FRate)
                FConverter = std::make_unique<TRateConverter>(FStreamRate, FRate, FChannels);
            return;
        }
        auto supplied = RefCast<TOWSuppliedBufferOperation>(operation);
        if (!supplied || !supplied->Buffer() || !FWriter)
            return;
        const auto* audio = dynamic_cast<const TALAudioBuffer*>(supplied->Buffer().Get());
        if (audio == nullptr)
            throw std::runtime_error("a block of the stream is not audio");
        const std::uint32_t frames = audio->GetSize();
        FStreamFrames += frames;
        if (!FConverter)
        {
            Take(audio->GetRead(), frames);
            return;
        }
        FConverted.clear();
        FConverter->Process(reinterpret_cast<const std::int16_t*>(audio->GetRead()), frames, FConverted);
        Take(reinterpret_cast<const std::uint8_t*>(FConverted.data()), FConverted.size() / FChannels);
    }

    // Keeps up to what is still wanted of frames at data, and writes a full piece.
    void Take(const std::uint8_t* data, std::size_t frames)
    {
        const std::size_t kept = static_cast<std::size_t>(std::min<std::uint64_t>(frames, FWanted - FWritten));
        FPending.insert(FPending.end(), data, data + kept * FChannels * 2);
        FWritten += kept;
        if (FPending.size() >= kPieceBytes)
            WritePending();
    }

    void WritePending()
    {
        if (FWriter && !FPending.empty())
            FWriter->Append(FPending);
        FPending.clear();
    }

    const std::string FPath;
    const std::uint32_t FRate;
    const std::uint64_t FWanted;
    std::uint16_t FChannels = 2;
    std::uint32_t FStreamRate = 0;
    std::optional<TWavWriter> FWriter;
    std::unique_ptr<TRateConverter> FConverter;
    std::vector<std::int16_t> FConverted;
    std::vector<std::uint8_t> FPending;
    std::uint64_t FStreamFrames = 0;
    std::uint64_t FWritten = 0;
    std::string FError;
};

// The render's output stands in for the audio output: it has nothing to switch.
class TFileOutputPart final : public IAudioOutput
{
public:
    void SetEnabled(bool) override {}
};

// The bar on a terminal: redrawn in place at most ten times a second, and once more at the end.
class TProgress
{
public:
    TProgress(std::ostream* bar, double totalSeconds) : FBar(bar), FTotal(totalSeconds) {}

    void Update(double doneSeconds, bool force = false)
    {
        if (FBar == nullptr)
            return;
        const auto now = TSteadyClock::now();
        if (!force && now - FLastDraw < std::chrono::milliseconds(100))
            return;
        FLastDraw = now;
        const double share = FTotal > 0 ? std::min(doneSeconds / FTotal, 1.0) : 1.0;
        constexpr int kWidth = 30;
        const int filled = static_cast<int>(share * kWidth);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.append(static_cast<std::size_t>(kWidth - filled), '-');
        char line[160];
        std::snprintf(line, sizeof line, "\r[%s] %3d %%  %s of %s  %.0fx real time\x1b[K", bar.c_str(),
                      static_cast<int>(share * 100), FormatDuration(doneSeconds).c_str(),
                      FormatDuration(FTotal).c_str(), Speed(doneSeconds));
        *FBar << line << std::flush;
        FDrawn = true;
    }

    // Before a line of the log on the same terminal.
    void Clear()
    {
        if (FBar != nullptr && FDrawn)
            *FBar << "\r\x1b[K" << std::flush;
    }

    void End()
    {
        if (FBar != nullptr && FDrawn)
            *FBar << '\n' << std::flush;
    }

    [[nodiscard]] double Speed(double doneSeconds) const
    {
        const double elapsed = std::chrono::duration<double>(TSteadyClock::now() - FStart).count();
        return elapsed > 0 ? doneSeconds / elapsed : 0;
    }
    [[nodiscard]] double Elapsed() const
    {
        return std::chrono::duration<double>(TSteadyClock::now() - FStart).count();
    }
private:
    std::ostream* const FBar;
    const double FTotal;
    const TSteadyClock::time_point FStart = TSteadyClock::now();
    TSteadyClock::time_point FLastDraw{};
    bool FDrawn = false;
};

std::string Megabytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

}   // namespace

// ---- stop requests ----

void TStopRequest::Request(int signal)
{
    int none = 0;
    (void)FSignal.compare_exchange_strong(none, signal);
    std::lock_guard lock(FLock);
    if (FQueue)
        (void)FQueue->Post([] {});   // only to wake the loop, which reads the signal
}

void TStopRequest::SetQueue(std::shared_ptr<IMessageQueue> queue)
{
    std::lock_guard lock(FLock);
    FQueue = std::move(queue);
}

// ---- the run's clock ----

TTimeOfDay TRunClock::Now() const
{
    const auto ms = static_cast<std::uint32_t>((FStart + static_cast<std::uint64_t>(std::max<std::int64_t>(FElapsed.load(), 0))) %
                                               kMillisecondsPerDay);
    return {static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
            static_cast<int>(ms % 1000)};
}

// ---- the controller without a window ----

struct THeadlessTone::TParts
{
    TParts(const THeadlessCommandLine& line, IToneGenerator& generator, IAudioOutput& output, std::uint32_t start)
        : Clock(start), Random(Clock), FreqMin(line.FreqMinKHz), FreqMax(line.FreqMaxKHz),
          VolMin(line.VolMinPercent), VolMax(line.VolMaxPercent), FreqVar(line.FreqVariable),
          VolVar(line.VolVariable), Generator(generator),
          Controller({generator, output, FreqMin, FreqMax, VolMin, VolMax, FreqVar, VolVar, Label, Label, Label,
                      Label, Label, Label, Button, Button, Button, Timer, Bars, Window},
                     Random)
    {
    }

    TRunClock Clock;
    TRandomSource Random;
    TValueRange FreqMin;
    TValueRange FreqMax;
    TValueRange VolMin;
    TValueRange VolMax;
    TValueBox FreqVar;
    TValueBox VolVar;
    TNoLabel Label;
    TNoButton Button;
    TFlagTimer Timer;
    TNoBars Bars;
    TNoWindow Window;
    IToneGenerator& Generator;
    TToneController Controller;   // last: it is made on the parts above
};

THeadlessTone::THeadlessTone(const THeadlessCommandLine& line, IToneGenerator& generator, IAudioOutput& output,
                             std::uint32_t startMillisecondOfDay)
    : FParts(std::make_unique<TParts>(line, generator, output, startMillisecondOfDay))
{
    FParts->Controller.FormCreate();
}

THeadlessTone::~THeadlessTone() = default;

bool THeadlessTone::Start()
{
    FParts->Clock.SetElapsed(0);
    FParts->Controller.ActBFStartExecute();
    return FParts->Controller.Running();
}

TToneState THeadlessTone::Tick(std::int64_t elapsedMs)
{
    FParts->Clock.SetElapsed(elapsedMs);
    if (FParts->Timer.Enabled)
        FParts->Controller.Timer1Timer();
    return State(elapsedMs);
}

void THeadlessTone::Stop()
{
    FParts->Controller.ActBFStopExecute();
}

bool THeadlessTone::Running() const
{
    return FParts->Controller.Running();
}

TToneState THeadlessTone::State(std::int64_t elapsedMs) const
{
    return {static_cast<double>(elapsedMs) / 1000.0, TruncTo<int>(FParts->Generator.Frequency()),
            TruncTo<int>(FParts->Generator.Amplitude() / kAmplitudePerPercent)};
}

void TToneLog::Print(const TToneState& state)
{
    if (FQuiet)
        return;
    if (FJson)
        FOut << "{\"seconds\":" << JsonNumber(state.Seconds) << ",\"frequency_hz\":" << state.FrequencyHz
             << ",\"volume_percent\":" << state.VolumePercent << "}\n";
    else
    {
        char line[64];
        std::snprintf(line, sizeof line, "%8s  %5d Hz  %3d %%", FormatDuration(state.Seconds).c_str(),
                      state.FrequencyHz, state.VolumePercent);
        FOut << line << '\n';
    }
    FOut.flush();
}

// ---- playing ----

int PlayHeadless(const THeadlessCommandLine& line, TStopRequest& stop, std::ostream& out, std::ostream& err)
{
    if (line.Device)
        if (const std::optional<std::string> unknown = UnknownDeviceMessage(*line.Device))
        {
            err << "harvolin-headless: " << *unknown;
            return 2;
        }
    // The graph object tells its events on the thread that made it, through this loop.
    TMessageLoop loop;
    stop.SetQueue(CurrentMessageQueue());
    std::optional<TSoundFailure> failure;
    int status = 0;
    {
        const auto root = TPipelineRoot::Create(true);
        TALDSAudioOut& output = root->ALDSAudioOut1();
        if (line.Device)
            output.AudioOutputDevice().SetDeviceName(*MatchDeviceName(*line.Device, OutputDeviceNames()));
        // Noted only: the failure arrives inside the pipeline's locks, and the loop below stops.
        WatchSoundFailures(output,
                           [&failure](TSoundFailure noted)
                           {
                               if (failure)
                                   ReportFailure("harvolin-headless", "playing",
                                                 DescribeSoundFailure(noted, TPlayAgain::StartTheProgram));
                               else
                                   failure = std::move(noted);
                           });
        TGeneratorPart generator(root->SLSignalGen1());
        TOutputPart outputPart(output);
        THeadlessTone tone(line, generator, outputPart, StartOfDraws(line));
        TToneLog log(out, line.Json, line.Quiet);
        const auto begin = TSteadyClock::now();
        const bool started = tone.Start();
        if (started && !failure)
            log.Print(tone.State(0));
        const std::optional<TSteadyClock::time_point> end =
            line.Duration ? std::optional(begin + *line.Duration) : std::nullopt;
        for (std::int64_t tick = 1; started && !failure && stop.Signal() == 0; ++tick)
        {
            // The ticks keep to the start's schedule, so that a late wake-up does not shift the next.
            const auto due = begin + std::chrono::milliseconds(tick * kTickMs);
            const auto until = end ? std::min(due, *end) : due;
            while (!failure && stop.Signal() == 0 && TSteadyClock::now() < until)
                (void)loop.WaitAndProcess(std::chrono::ceil<std::chrono::milliseconds>(until - TSteadyClock::now()));
            if (failure || stop.Signal() != 0 || (end && TSteadyClock::now() >= *end))
                break;
            log.Print(tone.Tick(tick * kTickMs));
        }
        if (!started && !failure)
        {
            err << "harvolin-headless: the tone could not be started (the line above says why)\n";
            status = 1;
        }
        if (tone.Running())
            try
            {
                tone.Stop();
            }
            catch (...)
            {
                ReportCurrentException("harvolin-headless", "stopping the tone");
                status = 1;
            }
        // Events the stop caused are served before the pipeline goes.
        (void)loop.ProcessPending();
    }
    stop.SetQueue(nullptr);
    if (failure)
    {
        err << "harvolin-headless: " << DescribeSoundFailure(*failure, TPlayAgain::StartTheProgram) << '\n';
        return 1;
    }
    return status;
}

// ---- rendering ----

int RenderHeadless(const THeadlessCommandLine& line, TStopRequest& stop, std::ostream& out, std::ostream& err,
                   std::ostream* progress)
{
    const double seconds = static_cast<double>(line.Duration->count()) / 1000.0;
    const auto frames = static_cast<std::uint64_t>(std::llround(seconds * line.Rate));
    const std::uint64_t bytes = frames * 4;
    constexpr std::uint64_t kLargestData = std::numeric_limits<std::uint32_t>::max() - 68;
    if (bytes > kLargestData)
    {
        err << "harvolin-headless: --duration " << FormatDuration(seconds) << " at " << line.Rate
            << " frames per second does not fit in a WAV file, which holds at most "
            << FormatDuration(static_cast<double>(kLargestData / 4) / line.Rate)
            << " of this sound; give a shorter --duration or a lower --rate\n";
        return 2;
    }
    const auto root = TPipelineRoot::Create(false);
    TSLSignalGen& generatorComponent = root->SLSignalGen1();
    // Clocked here, block after block, as fast as the blocks are made.
    generatorComponent.SetClockSource(TSLClockSource::csExternal);
    auto& sink = CreateComponent<TRenderSink>(*root, line.Output, line.Rate, frames);
    (void)sink.InputPin.Connect(&root->ALRealToAudio1().OutputPin);

    TGeneratorPart generator(generatorComponent);
    TFileOutputPart output;
    THeadlessTone tone(line, generator, output, StartOfDraws(line));
    // A render's changes come hundreds a second: printed only as data for a log, when JSON is asked for, so
    // that the terminal shows the progress bar alone.
    TToneLog log(out, line.Json, line.Quiet || !line.Json);
    TProgress bar(line.Quiet ? nullptr : progress, seconds);
    const auto logged = [&](const TToneState& state)
    {
        if (!line.Quiet)
            bar.Clear();
        log.Print(state);
    };
    if (!tone.Start())
    {
        err << "harvolin-headless: the tone could not be started (the line above says why)\n";
        return 1;
    }
    logged(tone.State(0));
    std::int64_t tick = 1;
    while (!sink.Done() && sink.Error().empty() && stop.Signal() == 0)
    {
        // The changes fall every 3 s of sound: before the first block that starts at or after one.
        const std::uint64_t made = sink.StreamFrames();
        const std::uint32_t rate = sink.StreamRate() == 0 ? 100000 : sink.StreamRate();
        for (; static_cast<std::uint64_t>(tick) * kTickMs * rate <= made * 1000; ++tick)
            logged(tone.Tick(tick * kTickMs));
        generatorComponent.ClockPin.Clock();
        if (sink.StreamFrames() == made && sink.Error().empty())
        {
            sink.Finish();
            err << "harvolin-headless: the pipeline made no sound to render\n";
            return 1;
        }
        bar.Update(static_cast<double>(made) / rate);
    }
    // Stopped as the window stops; the tail the converter holds is written after.
    std::string error = sink.Error();
    try
    {
        tone.Stop();
        if (error.empty())
            sink.Finish();
    }
    catch (const std::exception& failure)
    {
        if (error.empty())
            error = failure.what();
    }
    const double done = static_cast<double>(sink.FramesWritten()) / line.Rate;
    bar.Update(done, true);
    bar.End();
    if (!error.empty())
    {
        err << "harvolin-headless: rendering into " << line.Output << " failed after " << FormatDuration(done)
            << " of sound: " << error << '\n';
        return 1;
    }
    if (stop.Signal() != 0)
    {
        err << "harvolin-headless: stopped after " << FormatDuration(done) << " of sound; " << line.Output
            << " holds what was rendered\n";
        return 128 + stop.Signal();
    }
    if (!line.Quiet)
    {
        char speed[32];
        std::snprintf(speed, sizeof speed, "%.2f s, %.0f", bar.Elapsed(), bar.Speed(done));
        err << "harvolin-headless: rendered " << FormatDuration(done) << " of sound into " << line.Output << " ("
            << line.Rate << " frames per second, " << Megabytes(bytes + 44) << ") in " << speed
            << " times real time\n";
    }
    return 0;
}

}   // namespace harvolin
