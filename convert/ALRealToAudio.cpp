#include "convert/ALRealToAudio.h"
#include "rtl/Rounding.h"
#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace harvolin
{
namespace
{

const TComponentClassRegistration<TALRealToAudio> GRegistration;

// The exact path for what the adder cannot round. Out of line, so that the per-sample loop that inlines
// RoundToInteger carries only the adder's few instructions.
[[gnu::cold, gnu::noinline]] std::int64_t RoundLargeToInteger(double value) noexcept
{
    if (!std::isfinite(value))
        return 0;
    constexpr double kLimit = 9.2e18;
    return RoundHalfEvenTo<std::int64_t>(std::clamp(value, -kLimit, kLimit));
}

// Round half to even by the floating-point adder itself: below 2^51 in magnitude, adding and taking away
// 1.5 x 2^52 leaves the nearest integer, ties to even, in the default rounding mode. No library call;
// larger values and non-finite ones take the exact path. That path keeps the converter's own edges, which
// its output shows: infinities give 0 like NaN, and saturation stops at +-9.2e18, short of the 64-bit ends.
// The per-sample loops round with it as they store, which keeps them scalar (the compiler sees control flow
// in them); the common block, two 16-bit channels, goes through WriteStereo16 instead.
std::int64_t RoundToInteger(double value) noexcept
{
    constexpr double kMagic = 6755399441055744.0;   // 1.5 x 2^52
    if (std::fabs(value) < 2251799813685248.0)      // 2^51
        return static_cast<std::int64_t>((value + kMagic) - kMagic);
    return RoundLargeToInteger(value);
}

#if defined(__SSE2__)
// The conversion instructions round by the thread's SSE rounding mode; nearest, ties to even, is the
// default and the converter's rule. A thread left in another mode by foreign code takes the exact path,
// whose adder rounds by the same mode: the output stays what it always was, in every mode.
bool ConvertsToNearest() noexcept
{
    return (_mm_getcsr() & _MM_ROUND_MASK) == _MM_ROUND_NEAREST;
}
#endif

// Two channels into interleaved 16-bit frames at count x 4 bytes of out, four frames a step, in a straight
// vector loop: every value that rounds into the 16-bit range is written as the exact path writes it.
// Returns false, with out partly written, when some value does not (beyond it, infinite or NaN, which the
// instruction turns into 0x80000000, far outside as well) or the rounding mode is not nearest: the caller
// then writes the whole block the exact way. The last count % 4 frames take the exact path at once.
bool WriteStereo16(const double* left, const double* right, std::uint32_t count, std::uint8_t* out) noexcept
{
    std::uint32_t k = 0;
#if defined(__SSE2__)
    if (!ConvertsToNearest())
        return false;
    // Biased by 2^15, a value in the 16-bit range has no bit above the low 16 set; one OR over the block
    // collects every value that has.
    const __m128i bias = _mm_set1_epi32(32768);
    __m128i outside = _mm_setzero_si128();
    // Four frames at a time from two channels: the conversions of each channel's pair, interleaved.
    auto frames4 = [&](std::uint32_t at, __m128i& range)
    {
        const __m128i front = _mm_unpacklo_epi32(_mm_cvtpd_epi32(_mm_loadu_pd(left + at)),
                                                 _mm_cvtpd_epi32(_mm_loadu_pd(right + at)));
        const __m128i back = _mm_unpacklo_epi32(_mm_cvtpd_epi32(_mm_loadu_pd(left + at + 2)),
                                                _mm_cvtpd_epi32(_mm_loadu_pd(right + at + 2)));
        range = _mm_or_si128(range, _mm_or_si128(_mm_add_epi32(front, bias), _mm_add_epi32(back, bias)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * at), _mm_packs_epi32(front, back));
    };
    __m128i outsideToo = _mm_setzero_si128();
    for (; k + 8 <= count; k += 8)
    {
        frames4(k, outside);
        frames4(k + 4, outsideToo);
    }
    if (k + 4 <= count)
    {
        frames4(k, outside);
        k += 4;
    }
    outside = _mm_or_si128(outside, outsideToo);
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_srli_epi32(outside, 16), _mm_setzero_si128())) != 0xFFFF)
        return false;
#else
    return false;
#endif
    for (; k < count; ++k)
    {
        const auto l = static_cast<std::uint16_t>(static_cast<std::uint64_t>(RoundToInteger(left[k])));
        const auto r = static_cast<std::uint16_t>(static_cast<std::uint64_t>(RoundToInteger(right[k])));
        std::memcpy(out + 4 * k, &l, 2);
        std::memcpy(out + 4 * k + 2, &r, 2);
    }
    return true;
}

template <class TStore>
void WriteColumn(const double* in, std::uint32_t count, std::uint8_t* out, std::uint32_t step, TStore store)
{
    for (std::uint32_t k = 0; k < count; ++k, out += step)
        store(out, RoundToInteger(in[k]));
}

}   // namespace

TALRealToAudio::TALRealToAudio(TComponent* owner)
    : TComponent(owner),
      OutputPin(this,
                [this](TOWPin*, const TGUID&, std::uint32_t, const TRefPtr<TOWNotifyOperation>& operation)
                { return HandleOutputOperation(operation); }),
      InputPins(this), AudioFormat(WriteSectionOf(Lock), [this](TALAudioFormatBasic&) { FormatChanged(); })
{
    Lock.AddDependency(&OutputPin);
    InputPins.SetPinsOwner(true);
    FReady = true;
    FormatChanged();
}

TALRealToAudio::~TALRealToAudio()
{
    for (std::size_t i = 0; i < InputPins.Count(); ++i)
        InputPins.Pins(i)->Disconnect();
    StopOutput();
    OutputPin.Disconnect();
    FReady = false;
    {
        TOWGlobalWriteLockSection global;
        FInputs.clear();
    }
    InputPins.Clear();
}

const TClassInfo& TALRealToAudio::StaticClassInfo()
{
    static const TClassInfo info("TALRealToAudio", &TComponent::StaticClassInfo(),
                                 TPropertyList<TALRealToAudio>()
                                     .Object("OutputPin", [](TALRealToAudio& c) { return &c.OutputPin; })
                                     .Object("InputPins", [](TALRealToAudio& c) { return &c.InputPins; })
                                     .Object("AudioFormat", [](TALRealToAudio& c) { return &c.AudioFormat; })
                                     .Take());
    return info;
}

TSLOWQueuedRealSinkPin& TALRealToAudio::InputPin(std::size_t index)
{
    return *static_cast<TSLOWQueuedRealSinkPin*>(InputPins.Pins(index));
}

bool TALRealToAudio::IsStarted(TSLOWQueuedRealSinkPin& pin)
{
    // A start of rate 0 would make every block length a division by zero: it counts as none.
    return pin.GetStarted() && pin.GetSampleRate() > 0.0;
}

void TALRealToAudio::FormatChanged()
{
    if (!FReady)
        return;
    const std::uint32_t channels = AudioFormat.Channels();
    const bool changed = InputPins.Count() != channels;
    while (InputPins.Count() > channels)
        InputPins.Remove(InputPins.Pins(InputPins.Count() - 1));
    while (InputPins.Count() < channels)
        InputPins.Add(new TSLOWQueuedRealSinkPin(this, [this](TOWPin* pin, const TGUID&, std::uint32_t,
                                                              const TRefPtr<TOWNotifyOperation>& operation)
                                                 { return HandleInputOperation(pin, operation); }));
    if (changed)
    {
        // Under GlobalLock's write lock, as the list's own changes: every handler reading FInputs holds it
        // for reading.
        TOWGlobalWriteLockSection global;
        FInputs.clear();
        for (std::size_t i = 0; i < InputPins.Count(); ++i)
            FInputs.push_back(&InputPin(i));
    }
    UpdateInputRates();
}

void TALRealToAudio::UpdateInputRates()
{
    FInputRate = 0.0;
    bool allStarted = true;
    for (std::size_t i = 0; i < InputPins.Count(); ++i)
    {
        TSLOWQueuedRealSinkPin& pin = InputPin(i);
        if (!pin.IsConnected())
            continue;
        if (!IsStarted(pin))
            allStarted = false;
        else if (pin.GetSampleRate() > FInputRate)
            FInputRate = pin.GetSampleRate();
    }
    if (!allStarted || FInputRate <= 0.0)
        return;
    for (std::size_t i = 0; i < InputPins.Count(); ++i)
    {
        TSLOWQueuedRealSinkPin& pin = InputPin(i);
        if (pin.IsConnected() && IsStarted(pin))
            pin.ComputeBlockSize(static_cast<std::int32_t>(AudioFormat.BufferSize()),
                                 static_cast<float>(FInputRate));
    }
}

void TALRealToAudio::AnnounceStart()
{
    UpdateInputRates();
    if (FStarted || FInputRate <= 0.0)
        return;
    for (std::size_t i = 0; i < InputPins.Count(); ++i)
        if (InputPin(i).IsConnected() && !IsStarted(InputPin(i)))
            return;
    const double rate = FInputRate;
    AudioFormat.SetSampleRate(static_cast<std::uint32_t>(RoundHalfEven(rate)));
    TALWaveFormatBytes record;
    const TALWaveFormatExtensible format = AudioFormat.WaveFormat();
    std::memcpy(record.data(), &format, record.size());
    OutputPin.Notify(MakeRef<TOWStartWaveOperation>(static_cast<std::int32_t>(AudioFormat.BufferSize()),
                                                    &record, static_cast<float>(rate)));
    FStarted = true;
}

bool TALRealToAudio::HandleInputOperation(TOWPin* pin, const TRefPtr<TOWNotifyOperation>& operation)
{
    auto& input = *static_cast<TSLOWQueuedRealSinkPin*>(pin);
    if (auto start = RefCast<TOWStartSampleRateOperation>(operation))
    {
        FBlocksSent = 0;
        input.SetInputFormat(start->BufferSize(), start->SampleRate());
        AnnounceStart();
        // Downstream still sees each input's start after the announcement, but what the output replays to
        // a sink linked mid-stream stays the start-wave: without its format that sink could not play.
        return OutputPin.ForwardStart(start);
    }
    if (Is<TOWStopOperation>(*operation))
    {
        input.Reset();
        StopOutput();
        return OutputPin.Notify(operation);
    }
    if (auto supplied = RefCast<TOWSuppliedBufferOperation>(operation))
    {
        if (!supplied->Buffer())
            return false;
        // A handle of our own on the delivered storage: queued without copying a sample.
        input.Push(MakeRef<TSLRealBuffer>(*static_cast<ISLBufferCore*>(supplied->Buffer().Get())));
        input.SetHasData(true);
        TryProduce();
        return false;
    }
    if (Is<TOWSLResumeOperation>(*operation) && FBlocksSent < 3)
        return false;
    if (Is<TOWRoomQueryOperation>(*operation))
    {
        // One source feeding several inputs asks through each the same question, on one object that
        // carries the answer: downstream is asked once.
        const std::uint32_t serial = operation->SerialNumber();
        if (FLastRoomQuery.exchange(serial, std::memory_order_relaxed) == serial)
            return false;
    }
    return OutputPin.Notify(operation);
}

bool TALRealToAudio::HandleOutputOperation(const TRefPtr<TOWNotifyOperation>& operation)
{
    for (TSLOWQueuedRealSinkPin* pin : FInputs)
        pin->SetHasData(false);
    // One request per source: a source feeding several inputs answers all of them at once, which sets their
    // flags before the loop reaches them.
    for (TSLOWQueuedRealSinkPin* pin : FInputs)
        if (!pin->HasData())
            pin->Notify(operation);
    return false;
}

void TALRealToAudio::TryProduce()
{
    for (TSLOWQueuedRealSinkPin* pin : FInputs)
        if (pin->IsConnectedUnderGlobalLock() && pin->Queue().Count() < pin->BlockSize())
            return;
    ProduceBlock();
}

void TALRealToAudio::ProduceBlock()
{
    const std::uint32_t channels = AudioFormat.Channels();
    const std::uint32_t frames = AudioFormat.BufferSize();
    auto out =
        MakeRef<TALAudioBuffer>(AudioFormat.Bits(), AudioFormat.ChannelMask().Mask(), frames, channels);
    if (channels == 2 && FInputs.size() == 2 && WriteDirectStereo16(frames, *out))
    {
        SendBlock(out);
        return;
    }
    TRefPtr<TSLRealBuffer> scratch;
    for (std::uint32_t i = 0; i < channels && i < FInputs.size(); ++i)
    {
        TSLOWQueuedRealSinkPin& pin = *FInputs[i];
        // A block that lies whole in the oldest queued buffer is written from there, without a copy.
        if (pin.IsConnectedUnderGlobalLock() && pin.BlockSize() == frames)
            if (const double* direct = pin.Queue().Peek(frames))
            {
                WriteChannel(i, direct, frames, *out);
                pin.Queue().Skip(frames);
                continue;
            }
        if (!scratch)
            scratch = MakeRef<TSLRealBuffer>(frames);
        // An input without a source, or with data but no block length yet, is silent.
        if (!pin.IsConnectedUnderGlobalLock() || !pin.GetBlock(*scratch))
            scratch->Clear();
        WriteChannel(i, scratch->GetRead(), scratch->GetSize(), *out);
    }
    SendBlock(out);
}

bool TALRealToAudio::WriteDirectStereo16(std::uint32_t frames, TALAudioBuffer& out)
{
    if (ContainerBits(out.GetValidBits()) != 16 || out.GetBlockAlign() != 4)
        return false;
    TSLOWQueuedRealSinkPin& left = *FInputs[0];
    TSLOWQueuedRealSinkPin& right = *FInputs[1];
    if (!left.IsConnectedUnderGlobalLock() || !right.IsConnectedUnderGlobalLock() ||
        left.BlockSize() != frames || right.BlockSize() != frames)
        return false;
    const double* leftSamples = left.Queue().Peek(frames);
    const double* rightSamples = leftSamples ? right.Queue().Peek(frames) : nullptr;
    if (!rightSamples)
        return false;
    if (!WriteStereo16(leftSamples, rightSamples, std::min(frames, out.GetSize()), out.GetModify()))
    {
        WriteChannel(0, leftSamples, frames, out);
        WriteChannel(1, rightSamples, frames, out);
    }
    left.Queue().Skip(frames);
    right.Queue().Skip(frames);
    return true;
}

void TALRealToAudio::SendBlock(const TRefPtr<TALAudioBuffer>& out)
{
    OutputPin.SendData(out);
    if (FBlocksSent < 3 && ++FBlocksSent == 3)
        OutputPin.Notify(MakeRef<TOWSLResumeOperation>());
}

void TALRealToAudio::WriteChannel(std::uint32_t channel, const double* samples, std::uint32_t count,
                                  TALAudioBuffer& out)
{
    const std::uint32_t container = ContainerBits(out.GetValidBits());
    const std::uint32_t step = out.GetBlockAlign();
    std::uint8_t* destination = out.GetModify() + channel * (container / 8);
    const double* in = samples;
    count = std::min(count, out.GetSize());
    switch (container)
    {
    case 8:
        // The unsigned offset is 127.
        WriteColumn(in, count, destination, step,
                    [](std::uint8_t* p, std::int64_t n)
                    { *p = static_cast<std::uint8_t>((n + 127) & 0xFF); });
        break;
    case 16:
        WriteColumn(in, count, destination, step,
                    [](std::uint8_t* p, std::int64_t n)
                    {
                        const auto bits = static_cast<std::uint16_t>(static_cast<std::uint64_t>(n));
                        std::memcpy(p, &bits, 2);
                    });
        break;
    case 24:
        WriteColumn(in, count, destination, step,
                    [](std::uint8_t* p, std::int64_t n)
                    {
                        const auto bits = static_cast<std::uint64_t>(n);
                        p[0] = static_cast<std::uint8_t>(bits & 0xFF);
                        p[1] = static_cast<std::uint8_t>((bits >> 8) & 0xFF);
                        p[2] = static_cast<std::uint8_t>(((bits >> 16) & 0xFF) | (n < 0 ? 0x80u : 0u));
                    });
        break;
    default:
        WriteColumn(in, count, destination, step,
                    [](std::uint8_t* p, std::int64_t n)
                    {
                        const auto bits = static_cast<std::uint32_t>(static_cast<std::uint64_t>(n));
                        std::memcpy(p, &bits, 4);
                    });
        break;
    }
}

void TALRealToAudio::StopOutput()
{
    OutputPin.SendStop();
    FStarted = false;
}

}   // namespace harvolin
