#pragma once
#include "buffers/ALAudioFormat.h"
#include "buffers/ALSimpleAudioBuffer.h"
#include "buffers/SLSimpleDataBuffer.h"
#include "pins/ALStreamTypes.h"
#include "pins/OWPinList.h"
#include "pins/OWPins.h"
#include "pins/SLMultiInput.h"
#include "rtl/Component.h"
#include <atomic>
#include <cstdint>
#include <vector>

namespace harvolin
{

// Turns one real-valued input per channel into one stream of interleaved integer PCM: input i feeds slot i
// of every frame. Each value is rounded to the nearest integer (ties to even) and stored in the output
// width without scaling or clipping. The output takes the highest input rate, which overwrites the
// format's SampleRate; slower inputs are stretched by nearest-sample picking in their queued pins.
//
// Threads: the input handler runs on the thread delivering upstream blocks (the generator's clock thread),
// the output handler on the thread of the downstream requester; pin deliveries hold the pins' locks, and
// the format's setters hold the converter's lock, which is in one group with the output pin. The
// converter's own stream state is changed only inside the handlers.
class TALRealToAudio final : public TComponent
{
    // First of all members: the format's constructor calls FormatChanged before the members after it exist,
    // and this says whether they do.
    bool FReady = false;
public:
    explicit TALRealToAudio(TComponent* owner);
    ~TALRealToAudio() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    // Copies the values of format into the owned one (which is never replaced).
    void SetAudioFormat(const TALAudioFormat& format) { AudioFormat.Assign(format); }
    [[nodiscard]] TSLOWQueuedRealSinkPin& InputPin(std::size_t index);
    // The highest rate of the started inputs; 0 before any.
    [[nodiscard]] double InputRate() const noexcept { return FInputRate; }
    [[nodiscard]] bool Started() const noexcept { return FStarted; }

    TOWObject Lock;
    TALOWAudioSourcePin OutputPin;
    TOWPinList InputPins;
    TALAudioFormat AudioFormat;
private:
    void FormatChanged();
    void UpdateInputRates();
    void AnnounceStart();
    bool HandleInputOperation(TOWPin* pin, const TRefPtr<TOWNotifyOperation>& operation);
    bool HandleOutputOperation(const TRefPtr<TOWNotifyOperation>& operation);
    void TryProduce();
    void ProduceBlock();
    // Both inputs' blocks, whole in their oldest queued buffers, into a 16-bit stereo out: the straight
    // vector loop where every value fits, else the exact path; false (nothing taken) when the block is not
    // that case.
    bool WriteDirectStereo16(std::uint32_t frames, TALAudioBuffer& out);
    void SendBlock(const TRefPtr<TALAudioBuffer>& out);
    void WriteChannel(std::uint32_t channel, const double* samples, std::uint32_t count, TALAudioBuffer& out);
    void StopOutput();
    // An input with a source and a start of a positive rate.
    [[nodiscard]] static bool IsStarted(TSLOWQueuedRealSinkPin& pin);

    // The input pins in InputPins' order, for the handlers, which would otherwise take the list's section
    // for every count and pin they ask for per block. The converter alone changes InputPins (it follows the
    // format); replaced under GlobalLock's write lock, read by handlers under its read lock.
    std::vector<TSLOWQueuedRealSinkPin*> FInputs;
    // Serial of the last room query passed downstream; inputs may be fed on different threads.
    std::atomic<std::uint32_t> FLastRoomQuery{0};
    double FInputRate = 0.0;
    std::int32_t FBlocksSent = 0;
    bool FStarted = false;
};

}   // namespace harvolin
