#include "media/AlsaAudioDevice.h"
#include "media/RateConverter.h"
#include "rtl/Diagnostics.h"
#include <algorithm>
#include <alsa/asoundlib.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace harvolin
{
namespace
{

// Stream and device time: about 40 ms of buffer. A new tone must be heard within a tenth of a second of the
// change, and the device's buffer is only one part of that delay: the audio output's play queue and the
// block in delivery hold about 40 ms more, and the generator's tick up to 10 ms. 40 ms still covers four
// late blocks of the delivering thread (a 1024-frame block is 10 ms at the stream's rate). Periods of about
// 10 ms, four to the buffer, so that room comes back a block at a time.
constexpr unsigned kBufferMicroseconds = 40000;
constexpr unsigned kPeriodMicroseconds = 10000;
// A wait for room is cut into slices this long, so that a device that stops taking frames without saying
// why costs a writei a second, not a hang without end.
constexpr int kWaitSliceMs = 1000;
// What a sound server reached through an ALSA plugin is handed: its own mixing rate, converted to by us at
// high quality, rather than the stream's rate, which the server would convert with whatever it has.
constexpr unsigned kSoundServerRate = 48000;
// Below this a device's rate would cut off the tone itself: a nearer rate under it is a worse one.
constexpr unsigned kLowestGoodRate = 44100;

std::string Reason(int error)
{
    return snd_strerror(error);
}

std::string DeviceMessage(const std::string& pcmName, const char* call, int error)
{
    return "audio device '" + pcmName + "': " + call + ": " + Reason(error);
}

// The errors after which the PCM will not play again: the device went away (unplugged, the card's driver
// unloaded, the sound server gone), or its handle became unusable with it.
bool MeansDeviceGone(int error)
{
    switch (-error)
    {
    case ENODEV:
    case EBADFD:
    case EIO:
    case ENXIO:
    case ESHUTDOWN:
    case ENOTCONN:
    case ECONNRESET:
        return true;
    default:
        return false;
    }
}

// A hint's description has a line per part ("HDA Intel PCH\nFront output / input"); a listing shows one line.
std::string JoinLines(const std::string& text)
{
    std::string joined;
    std::size_t start = 0;
    while (start <= text.size())
    {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        if (end > start)
            joined += (joined.empty() ? "" : ", ") + text.substr(start, end - start);
        start = end + 1;
    }
    return joined;
}

// Set on a thread while ALSA walks its name hints: the walk tries every configured PCM against every card
// and complains of each that does not fit this machine, which is the normal outcome of a listing, not a
// failure. What the walk itself comes to is reported from its result.
thread_local bool tListing = false;

// ALSA prints its own complaints (a broken configuration, an unknown PCM) on standard error unless told
// otherwise: they go to the diagnostics sink like every other failure that is survived.
__attribute__((format(printf, 5, 6))) void ReportAlsaError(const char* file, int line, const char* function,
                                                           int error, const char* format, ...) noexcept
{
    (void)file;
    (void)line;
    if (tListing)
        return;
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    std::string message = length < 0 ? std::string("(a message ALSA could not format)") : std::string(text);
    if (error != 0)
        message += ": " + Reason(error);
    ReportFailure("ALSA", function != nullptr ? function : "(unnamed)", message);
}

// Before the first ALSA call of each entry point: the handler is process-wide and set once.
void RouteAlsaErrors()
{
    static std::once_flag routed;
    std::call_once(routed, [] { snd_lib_error_set_handler(&ReportAlsaError); });
}

struct THwParamsDeleter
{
    void operator()(snd_pcm_hw_params_t* params) const noexcept { snd_pcm_hw_params_free(params); }
};
struct TSwParamsDeleter
{
    void operator()(snd_pcm_sw_params_t* params) const noexcept { snd_pcm_sw_params_free(params); }
};

// The call that failed and ALSA's error; Call null when nothing failed.
struct TAlsaFailure
{
    const char* Call = nullptr;
    int Error = 0;
};

// What Open settled with the device.
struct TPcmSetup
{
    unsigned Rate = 0;
    snd_pcm_uframes_t PeriodFrames = 0;
    snd_pcm_uframes_t BufferFrames = 0;
    snd_pcm_uframes_t Boundary = 0;
    bool CanPause = false;
};

// Records the first failing call of a chain joined by ||.
class TFailureTrap
{
public:
    bool operator()(const char* call, int result) noexcept
    {
        if (result >= 0)
            return false;
        Failure = {call, result};
        return true;
    }
    bool operator()(const TAlsaFailure& failure) noexcept
    {
        if (failure.Call == nullptr)
            return false;
        Failure = failure;
        return true;
    }
    [[nodiscard]] bool Ok() const noexcept { return Failure.Call == nullptr; }
    TAlsaFailure Failure;
};

// A PCM that was set up, ran dry or was suspended is made ready to take writes again; any other state is
// left as it is.
void ReadyAfterStop(snd_pcm_t* pcm, TFailureTrap& failed)
{
    switch (snd_pcm_state(pcm))
    {
    case SND_PCM_STATE_SETUP:
    case SND_PCM_STATE_XRUN:
        (void)failed("snd_pcm_prepare", snd_pcm_prepare(pcm));
        break;
    case SND_PCM_STATE_SUSPENDED:
        (void)failed("snd_pcm_recover", snd_pcm_recover(pcm, -ESTRPIPE, 1));
        break;
    default:
        break;
    }
}

// The rate the device plays at: the stream's where the device takes it; a sound server's own rate for a
// plugin PCM that takes any (ALSA converts there otherwise, or the server does); else the device's rate
// nearest to the stream's, from kLowestGoodRate up where the device reaches that high. ALSA's own
// converter is off by then, so the space holds only what the device itself plays.
TAlsaFailure SetRate(snd_pcm_t* pcm, snd_pcm_hw_params_t* hw, unsigned streamRate, unsigned& rate)
{
    TFailureTrap failed;
    const snd_pcm_type_t type = snd_pcm_type(pcm);
    if (type == SND_PCM_TYPE_IOPLUG || type == SND_PCM_TYPE_EXTPLUG)
    {
        rate = kSoundServerRate;
        (void)failed("snd_pcm_hw_params_set_rate_near",
                     snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr));
        return failed.Failure;
    }
    rate = streamRate;
    if (snd_pcm_hw_params_test_rate(pcm, hw, streamRate, 0) == 0)
    {
        (void)failed("snd_pcm_hw_params_set_rate", snd_pcm_hw_params_set_rate(pcm, hw, streamRate, 0));
        return failed.Failure;
    }
    unsigned highest = 0;
    if (failed("snd_pcm_hw_params_get_rate_max", snd_pcm_hw_params_get_rate_max(hw, &highest, nullptr)))
        return failed.Failure;
    unsigned lowest = kLowestGoodRate;
    if (highest >= kLowestGoodRate &&
        failed("snd_pcm_hw_params_set_rate_min", snd_pcm_hw_params_set_rate_min(pcm, hw, &lowest, nullptr)))
        return failed.Failure;
    (void)failed("snd_pcm_hw_params_set_rate_near", snd_pcm_hw_params_set_rate_near(pcm, hw, &rate, nullptr));
    return failed.Failure;
}

// Interleaved S16_LE frames at the rate SetRate chooses, ALSA's own converter kept out, the buffer and period
// of the constants above; ready (prepared) but not playing: writes fill the buffer until a start.
TAlsaFailure Configure(snd_pcm_t* pcm, const TPcmFormat& format, TPcmSetup& setup)
{
    TFailureTrap failed;
    snd_pcm_hw_params_t* hw = nullptr;
    if (failed("snd_pcm_hw_params_malloc", snd_pcm_hw_params_malloc(&hw)))
        return failed.Failure;
    const std::unique_ptr<snd_pcm_hw_params_t, THwParamsDeleter> ownHw(hw);
    unsigned bufferTime = kBufferMicroseconds;
    unsigned periodTime = kPeriodMicroseconds;
    if (failed("snd_pcm_hw_params_any", snd_pcm_hw_params_any(pcm, hw)) ||
        failed("snd_pcm_hw_params_set_access",
               snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) ||
        failed("snd_pcm_hw_params_set_format",
               snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE)) ||
        failed("snd_pcm_hw_params_set_channels", snd_pcm_hw_params_set_channels(pcm, hw, format.Channels)) ||
        // ALSA's own converter is linear and leaves audible aliases of a high tone: never let it in.
        failed("snd_pcm_hw_params_set_rate_resample", snd_pcm_hw_params_set_rate_resample(pcm, hw, 0)) ||
        failed(SetRate(pcm, hw, format.FramesPerSecond, setup.Rate)) ||
        failed("snd_pcm_hw_params_set_buffer_time_near",
               snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferTime, nullptr)) ||
        failed("snd_pcm_hw_params_set_period_time_near",
               snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodTime, nullptr)) ||
        failed("snd_pcm_hw_params", snd_pcm_hw_params(pcm, hw)) ||
        failed("snd_pcm_hw_params_get_period_size",
               snd_pcm_hw_params_get_period_size(hw, &setup.PeriodFrames, nullptr)) ||
        failed("snd_pcm_hw_params_get_buffer_size",
               snd_pcm_hw_params_get_buffer_size(hw, &setup.BufferFrames)))
        return failed.Failure;
    setup.CanPause = snd_pcm_hw_params_can_pause(hw) != 0;

    snd_pcm_sw_params_t* sw = nullptr;
    if (failed("snd_pcm_sw_params_malloc", snd_pcm_sw_params_malloc(&sw)))
        return failed.Failure;
    const std::unique_ptr<snd_pcm_sw_params_t, TSwParamsDeleter> ownSw(sw);
    if (failed("snd_pcm_sw_params_current", snd_pcm_sw_params_current(pcm, sw)) ||
        failed("snd_pcm_sw_params_get_boundary", snd_pcm_sw_params_get_boundary(sw, &setup.Boundary)) ||
        failed("snd_pcm_sw_params_set_avail_min",
               snd_pcm_sw_params_set_avail_min(pcm, sw, setup.PeriodFrames)) ||
        failed("snd_pcm_sw_params_set_start_threshold",
               snd_pcm_sw_params_set_start_threshold(pcm, sw, setup.Boundary)) ||
        failed("snd_pcm_sw_params", snd_pcm_sw_params(pcm, sw)) ||
        failed("snd_pcm_prepare", snd_pcm_prepare(pcm)))
        return failed.Failure;
    return {};
}

// From how many buffered frames a write starts the PCM: a period while playing, never while paused.
TAlsaFailure SetStartThreshold(snd_pcm_t* pcm, snd_pcm_uframes_t frames)
{
    TFailureTrap failed;
    snd_pcm_sw_params_t* sw = nullptr;
    if (failed("snd_pcm_sw_params_malloc", snd_pcm_sw_params_malloc(&sw)))
        return failed.Failure;
    const std::unique_ptr<snd_pcm_sw_params_t, TSwParamsDeleter> ownSw(sw);
    (void)(failed("snd_pcm_sw_params_current", snd_pcm_sw_params_current(pcm, sw)) ||
           failed("snd_pcm_sw_params_set_start_threshold",
                  snd_pcm_sw_params_set_start_threshold(pcm, sw, frames)) ||
           failed("snd_pcm_sw_params", snd_pcm_sw_params(pcm, sw)));
    return failed.Failure;
}

}   // namespace

std::vector<TAlsaPcmHint> ListAlsaPlaybackPcms()
{
    RouteAlsaErrors();
    std::vector<TAlsaPcmHint> pcms;
    void** hints = nullptr;
    tListing = true;
    const int listed = snd_device_name_hint(-1, "pcm", &hints);
    tListing = false;
    if (listed < 0)
    {
        ReportFailure("ALSA", "snd_device_name_hint", Reason(listed));
        return pcms;
    }
    // Each value is malloc'd by ALSA and ours to free, also when the hint is skipped.
    auto take = [](void* hint, const char* id) -> std::optional<std::string>
    {
        char* value = snd_device_name_get_hint(hint, id);
        if (value == nullptr)
            return std::nullopt;
        std::string text = value;
        std::free(value);
        return text;
    };
    try
    {
        for (void** hint = hints; *hint != nullptr; ++hint)
        {
            const auto name = take(*hint, "NAME");
            const auto description = take(*hint, "DESC");
            // Absent: both ways.
            if (!name || take(*hint, "IOID") == "Input")
                continue;
            pcms.push_back({*name, JoinLines(description.value_or(""))});
        }
    }
    catch (...)
    {
        snd_device_name_free_hint(hints);
        throw;
    }
    snd_device_name_free_hint(hints);
    return pcms;
}

int AlsaSoundCardCount()
{
    RouteAlsaErrors();
    int count = 0;
    int card = -1;
    for (;;)
    {
        const int error = snd_card_next(&card);
        if (error < 0)
        {
            ReportFailure("ALSA", "snd_card_next", Reason(error));
            break;
        }
        if (card < 0)
            break;
        ++count;
    }
    return count;
}

// Every snd_pcm_* call on Pcm, and every field here, is made under Lock: libasound does not serialise the
// calls on one handle, and Stop and FramesPlayed come from other threads while Write runs. Lock is never
// held while waiting for room: Write waits in poll() without it, on the PCM's descriptors and on Wake, so
// Stop takes the lock at once, drops the PCM and signals Wake, and the write returns.
struct TAlsaAudioDevice::TState
{
    std::mutex Lock;
    // An eventfd that says "the device's state changed": Stop, Pause and Start signal it, Write reads it
    // empty under Lock before it looks at the state again. Made once, for the device's life.
    int Wake = -1;
    snd_pcm_t* Pcm = nullptr;
    TPcmFormat Format;
    TPcmSetup Setup;
    bool Stopped = false;   // Stop came: writes are refused until Pause or Start
    bool Playing = false;   // Start came, and no Pause or Stop since
    bool Lost = false;      // the device went away: every write says so at once
    std::string LostMessage;
    std::int64_t Written = 0;   // frames handed to ALSA since Open, less what a Stop dropped
    std::int64_t Played = 0;   // frames played since Open as last seen; never decreases, never passes Written
    std::uint64_t Underruns = 0;
    std::uint64_t Suspends = 0;
    int FailNextWrite = 0;   // a test's stand-in for what ALSA's next write returns; 0: none
    // Where the device plays at another rate than the stream's (Setup.Rate): the converter, what it gave
    // for the write under way, and the stream's own count, in stream frames. Written and Played count
    // device frames then.
    std::unique_ptr<TRateConverter> Converter;
    std::vector<std::int16_t> Converted;
    std::int64_t StreamTaken = 0;    // stream frames given to the converter since Open, less a Stop's drop
    std::int64_t StreamPlayed = 0;   // never decreases, never passes StreamTaken
    // What a write waiting for room polls: the PCM's descriptors and Wake; the writing thread's alone, also
    // while it polls without Lock. Kept, so that waiting 50 times a second does not allocate each time.
    std::vector<pollfd> WaitDescriptors;

    void Signal() const noexcept
    {
        const std::uint64_t one = 1;
        // Fails only when the counter would overflow, and then it is readable anyway.
        [[maybe_unused]] const auto ignored = ::write(Wake, &one, sizeof one);
    }
    void Drain() const noexcept
    {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto ignored = ::read(Wake, &count, sizeof count);
    }
    // Frames played by now: what was written less what the device still holds.
    std::int64_t PlayedNow() noexcept
    {
        // Not started, nothing plays: whatever the delay of a PCM that is not started says (a sound server's
        // counts what it has not played yet, the null PCM's nothing).
        if (Pcm == nullptr || !Playing)
            return Played;
        std::int64_t played = Played;
        switch (snd_pcm_state(Pcm))
        {
        case SND_PCM_STATE_RUNNING:
        case SND_PCM_STATE_PREPARED:   // the null PCM plays what it is given without ever running
        case SND_PCM_STATE_PAUSED:
        case SND_PCM_STATE_DRAINING:
        {
            snd_pcm_sframes_t delay = 0;
            if (snd_pcm_delay(Pcm, &delay) == 0)
                played = Written - std::max<snd_pcm_sframes_t>(delay, 0);
            break;
        }
        case SND_PCM_STATE_XRUN:
            // Run dry: everything written has played.
            played = Written;
            break;
        default:
            break;
        }
        Played = std::clamp(played, Played, Written);
        return Played;
    }
    // The same in stream frames: the device's count taken back to the stream's rate.
    std::int64_t StreamPlayedNow() noexcept
    {
        const std::int64_t device = PlayedNow();
        if (!Converter)
            return device;
        const std::int64_t stream = device * Format.FramesPerSecond / Setup.Rate;
        StreamPlayed = std::clamp(stream, StreamPlayed, std::max(StreamPlayed, StreamTaken));
        return StreamPlayed;
    }
    // What a Stop or a pause without pause support leaves: the buffered frames are gone, unplayed.
    void Dropped()
    {
        Written = Played;
        StreamTaken = StreamPlayed;
        if (Converter)
            Converter->Reset();
    }
};

namespace
{

std::string ClosedMessage(const std::string& pcmName, const char* call)
{
    return "audio device '" + pcmName + "': " + call + ": the device is not open";
}

}   // namespace

TAlsaAudioDevice::TAlsaAudioDevice(std::string pcmName)
    : FPcmName(std::move(pcmName)), FState(std::make_unique<TState>())
{
    RouteAlsaErrors();
    FState->Wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

TAlsaAudioDevice::~TAlsaAudioDevice()
{
    Close();
    if (FState->Wake >= 0)
        ::close(FState->Wake);
}

std::string TAlsaAudioDevice::Name() const
{
    return FPcmName;
}

TDeviceResult TAlsaAudioDevice::Open(const TPcmFormat& format)
{
    Close();
    TState& state = *FState;
    if (state.Wake < 0)
        return {TDeviceStatus::Failed, "audio device '" + FPcmName + "': eventfd: cannot make the wake-up"};
    if (format.Channels == 0 || format.FramesPerSecond == 0)
        return {TDeviceStatus::Failed,
                "audio device '" + FPcmName + "': open: a format without channels or rate"};
    if (format.BitsPerSample != 16)
        return {TDeviceStatus::Failed, "audio device '" + FPcmName +
                                           "': open: plays 16-bit frames only, not " +
                                           std::to_string(format.BitsPerSample) + "-bit ones"};
    std::lock_guard lock(state.Lock);
    snd_pcm_t* pcm = nullptr;
    // Not blocking: a busy device fails the open at once instead of holding the connecting thread until it
    // is free. The writes stay non-blocking too: Write waits in poll(), where Stop can wake it.
    const int opened = snd_pcm_open(&pcm, FPcmName.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (opened < 0)
        return {TDeviceStatus::Failed, DeviceMessage(FPcmName, "snd_pcm_open", opened)};
    TPcmSetup setup;
    const TAlsaFailure failure = Configure(pcm, format, setup);
    if (failure.Call != nullptr)
    {
        snd_pcm_close(pcm);
        return {TDeviceStatus::Failed, DeviceMessage(FPcmName, failure.Call, failure.Error)};
    }
    std::unique_ptr<TRateConverter> converter;
    if (setup.Rate != format.FramesPerSecond)
    {
        try
        {
            converter = std::make_unique<TRateConverter>(format.FramesPerSecond, setup.Rate, format.Channels);
        }
        catch (const std::exception& error)
        {
            snd_pcm_close(pcm);
            return {TDeviceStatus::Failed,
                    "audio device '" + FPcmName + "': rate converter: " + error.what()};
        }
    }
    state.Pcm = pcm;
    state.Format = format;
    state.Setup = setup;
    state.Converter = std::move(converter);
    state.Converted.clear();
    state.StreamTaken = 0;
    state.StreamPlayed = 0;
    state.Stopped = false;
    state.Playing = false;
    state.Lost = false;
    state.LostMessage.clear();
    state.Written = 0;
    state.Played = 0;
    state.Underruns = 0;
    state.Suspends = 0;
    state.Drain();
    return {};
}

TDeviceResult TAlsaAudioDevice::Start()
{
    TState& state = *FState;
    std::lock_guard lock(state.Lock);
    if (state.Pcm == nullptr)
        return {TDeviceStatus::Failed, ClosedMessage(FPcmName, "start")};
    if (state.Lost)
        return {TDeviceStatus::Lost, state.LostMessage};
    state.Stopped = false;
    state.Playing = true;
    state.Signal();
    TFailureTrap failed;
    switch (snd_pcm_state(state.Pcm))
    {
    case SND_PCM_STATE_PAUSED:
        (void)failed("snd_pcm_pause", snd_pcm_pause(state.Pcm, 0));
        break;
    default:
        ReadyAfterStop(state.Pcm, failed);
        break;
    }
    if (failed.Ok())
        (void)failed(SetStartThreshold(state.Pcm, state.Setup.PeriodFrames));
    // What a pause left buffered plays now: the stream's next block is on its way as soon as there is room.
    // Started empty, the device starts itself once a write makes a period.
    if (failed.Ok() && snd_pcm_state(state.Pcm) == SND_PCM_STATE_PREPARED &&
        state.Written > state.PlayedNow())
        (void)failed("snd_pcm_start", snd_pcm_start(state.Pcm));
    if (failed.Ok())
        return {};
    return Broken(failed.Failure.Call, failed.Failure.Error);
}

void TAlsaAudioDevice::Pause()
{
    TState& state = *FState;
    std::lock_guard lock(state.Lock);
    if (state.Pcm == nullptr || state.Lost)
        return;
    (void)state.StreamPlayedNow();
    state.Stopped = false;
    state.Playing = false;
    state.Signal();
    TFailureTrap failed;
    switch (snd_pcm_state(state.Pcm))
    {
    case SND_PCM_STATE_RUNNING:
        if (state.Setup.CanPause)
            (void)failed("snd_pcm_pause", snd_pcm_pause(state.Pcm, 1));
        else
        {
            // A device that cannot pause loses what it buffered: the pause is the stop of a moment.
            (void)state.StreamPlayedNow();
            state.Dropped();
            (void)(failed("snd_pcm_drop", snd_pcm_drop(state.Pcm)) ||
                   failed("snd_pcm_prepare", snd_pcm_prepare(state.Pcm)));
        }
        break;
    default:
        ReadyAfterStop(state.Pcm, failed);
        break;
    }
    if (failed.Ok())
        (void)failed(SetStartThreshold(state.Pcm, state.Setup.Boundary));
    if (!failed.Ok())
    {
        // Pause has no result to carry it: the report says why, and the next write or start says it again.
        const TDeviceResult broken = Broken(failed.Failure.Call, failed.Failure.Error);
        ReportFailure(FPcmName, "pausing", broken.Message);
    }
}

TDeviceResult TAlsaAudioDevice::Write(const std::uint8_t* frames, std::uint32_t frameCount)
{
    TState& state = *FState;
    std::unique_lock lock(state.Lock);
    if (state.Pcm == nullptr)
        return {TDeviceStatus::Failed, ClosedMessage(FPcmName, "write")};
    if (state.Lost)
        return {TDeviceStatus::Lost, state.LostMessage};
    if (!state.Converter)
        return WriteToDevice(lock, frames, frameCount);
    if (state.Stopped)
        return StoppedResult();
    // Converted whole: the converter keeps its history between blocks, and a Stop during the write drops
    // the rest of the block with whatever the device buffered.
    state.Converted.clear();
    state.Converter->Process(reinterpret_cast<const std::int16_t*>(frames), frameCount, state.Converted);
    state.StreamTaken += frameCount;
    const std::size_t samples = state.Converted.size();
    return WriteToDevice(lock, reinterpret_cast<const std::uint8_t*>(state.Converted.data()),
                         static_cast<std::uint32_t>(samples / state.Format.Channels));
}

TDeviceResult TAlsaAudioDevice::WriteToDevice(std::unique_lock<std::mutex>& lock, const std::uint8_t* frames,
                                              std::uint32_t frameCount)
{
    TState& state = *FState;
    const std::uint32_t blockAlign = state.Format.BlockAlign();
    std::uint32_t taken = 0;
    while (taken < frameCount)
    {
        if (state.Stopped || state.Pcm == nullptr)
            return StoppedResult();
        snd_pcm_sframes_t result = state.FailNextWrite;
        state.FailNextWrite = 0;
        if (result == 0)
            result = snd_pcm_writei(state.Pcm, frames + std::size_t{taken} * blockAlign, frameCount - taken);
        if (result > 0)
        {
            taken += static_cast<std::uint32_t>(result);
            state.Written += result;
            continue;
        }
        if (result == 0 || result == -EAGAIN)
        {
            WaitForRoom(lock);
            continue;
        }
        if (result == -EPIPE || result == -ESTRPIPE)
        {
            // An underrun is what a stream that paused for a while leaves behind, and a suspend what the
            // machine's sleep does: both play on after a recovery. The first is reported, the rest counted.
            std::uint64_t& count = result == -EPIPE ? state.Underruns : state.Suspends;
            (void)state.StreamPlayedNow();   // what ran dry has played; the recovery forgets it
            if (++count == 1)
                ReportFailure(FPcmName, "playing",
                              DeviceMessage(FPcmName, "snd_pcm_writei", static_cast<int>(result)) +
                                  " (recovered; later ones are counted)");
            const int recovered = snd_pcm_recover(state.Pcm, static_cast<int>(result), 1);
            if (recovered == 0)
                continue;
            result = recovered;
        }
        return Broken("snd_pcm_writei", static_cast<int>(result));
    }
    return {};
}

TDeviceResult TAlsaAudioDevice::StoppedResult() const
{
    return {TDeviceStatus::Stopped, "audio device '" + FPcmName + "': write: stopped"};
}

void TAlsaAudioDevice::WaitForRoom(std::unique_lock<std::mutex>& lock)
{
    TState& state = *FState;
    std::vector<pollfd>& descriptors = state.WaitDescriptors;
    descriptors.clear();
    const snd_pcm_state_t pcmState = snd_pcm_state(state.Pcm);
    // A PCM that is not playing frees no room: only Start or Stop can end the wait, and both signal Wake.
    if (pcmState == SND_PCM_STATE_RUNNING || pcmState == SND_PCM_STATE_DRAINING)
    {
        const int count = snd_pcm_poll_descriptors_count(state.Pcm);
        if (count > 0)
        {
            descriptors.resize(static_cast<std::size_t>(count));
            const int filled = snd_pcm_poll_descriptors(state.Pcm, descriptors.data(), count);
            descriptors.resize(static_cast<std::size_t>(std::max(filled, 0)));
        }
    }
    const std::size_t pcmDescriptors = descriptors.size();
    descriptors.push_back({state.Wake, POLLIN, 0});
    lock.unlock();
    const int ready = ::poll(descriptors.data(), descriptors.size(), kWaitSliceMs);
    lock.lock();
    state.Drain();
    if (ready > 0 && pcmDescriptors > 0 && state.Pcm != nullptr && !state.Stopped)
    {
        // Some plugins do their work here (a sound server's, for one); what it finds, the next write says.
        unsigned short events = 0;
        (void)snd_pcm_poll_descriptors_revents(state.Pcm, descriptors.data(),
                                               static_cast<unsigned>(pcmDescriptors), &events);
    }
}

void TAlsaAudioDevice::Stop()
{
    TState& state = *FState;
    std::lock_guard lock(state.Lock);
    state.Stopped = true;
    state.Signal();
    if (state.Pcm == nullptr || state.Lost)
        return;
    (void)state.StreamPlayedNow();
    state.Dropped();
    state.Playing = false;
    const int dropped = snd_pcm_drop(state.Pcm);
    if (dropped < 0)
    {
        const TDeviceResult broken = Broken("snd_pcm_drop", dropped);
        ReportFailure(FPcmName, "stopping", broken.Message);
    }
}

void TAlsaAudioDevice::Close()
{
    TState& state = *FState;
    std::lock_guard lock(state.Lock);
    if (state.Pcm == nullptr)
        return;
    state.Stopped = true;
    state.Signal();
    (void)state.StreamPlayedNow();
    state.Playing = false;
    if (state.Underruns > 1 || state.Suspends > 1)
        ReportFailure(FPcmName, "playing",
                      "audio device '" + FPcmName + "': " + std::to_string(state.Underruns) +
                          " underruns and " + std::to_string(state.Suspends) +
                          " suspends recovered since it was opened");
    const int closed = snd_pcm_close(state.Pcm);
    state.Pcm = nullptr;
    if (closed < 0 && !state.Lost)
        ReportFailure(FPcmName, "closing", DeviceMessage(FPcmName, "snd_pcm_close", closed));
}

std::int64_t TAlsaAudioDevice::FramesPlayed() const
{
    TState& state = *FState;
    std::lock_guard lock(state.Lock);
    return state.StreamPlayedNow();
}

std::uint32_t TAlsaAudioDevice::DeviceRate() const
{
    std::lock_guard lock(FState->Lock);
    return FState->Pcm != nullptr ? FState->Setup.Rate : 0;
}

void TAlsaAudioDevice::FailNextWrite(int alsaError)
{
    std::lock_guard lock(FState->Lock);
    FState->FailNextWrite = alsaError;
}

TDeviceResult TAlsaAudioDevice::Broken(const char* call, int error)
{
    TState& state = *FState;
    std::string message = DeviceMessage(FPcmName, call, error);
    if (!MeansDeviceGone(error))
        return {TDeviceStatus::Failed, std::move(message)};
    state.Lost = true;
    state.LostMessage = message;
    return {TDeviceStatus::Lost, std::move(message)};
}

}   // namespace harvolin
