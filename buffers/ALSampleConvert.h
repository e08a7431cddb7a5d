#pragma once
#include <cstdint>

namespace harvolin
{

// Per-channel work on interleaved PCM: a channel is a column of samples, one per frame, a step (the block
// align) apart. Sample conventions: 8 bits unsigned with the zero level at 127 (full scale 127); 16, 24 and
// 32 bits signed little-endian (full scale 32767, 8388607, 2147483647). Every routine works only on the
// memory it is given and may run on any thread; steps are in bytes; pointers need no alignment.

// Status codes of the region kernels: the vector kernels' codes, and a step below 1.
inline constexpr std::int32_t kRegOk = 0;
inline constexpr std::int32_t kRegDivisionByZero = 6;   // a warning: the results are still written
inline constexpr std::int32_t kRegBadSize = -6;         // width, height or count below 1
inline constexpr std::int32_t kRegNullPointer = -8;
inline constexpr std::int32_t kRegBadStep = -14;

// --- dispatched region kernels (bound to a processor variant on first call) --------------------------------

// Copies width bytes per row for height rows.
std::int32_t RegCopyBytes(const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                          std::int32_t width, std::int32_t height);
// count contiguous 16-bit samples := value.
std::int32_t VecSet16(std::int16_t value, void* dst, std::int32_t count);
// Every 16-bit element of the region := value.
std::int32_t RegSet16(std::int16_t value, void* dst, std::int32_t step, std::int32_t width,
                      std::int32_t height);
// Element := saturate(element op source) x 2^-scaleFactor, rounded half to even; scale factor 0 leaves the
// result unscaled. Divide: a zero divisor gives 0 for a zero dividend, else the limit of the dividend's
// sign, and the status kRegDivisionByZero; other quotients are formed in single precision and rounded half
// to even; -32768 / -1 saturates to 32767.
std::int32_t RegAdd16(const void* src, std::int32_t srcStep, void* srcDst, std::int32_t step,
                      std::int32_t width, std::int32_t height, std::int32_t scaleFactor);
std::int32_t RegSub16(const void* src, std::int32_t srcStep, void* srcDst, std::int32_t step,
                      std::int32_t width, std::int32_t height, std::int32_t scaleFactor);
std::int32_t RegMul16(const void* src, std::int32_t srcStep, void* srcDst, std::int32_t step,
                      std::int32_t width, std::int32_t height, std::int32_t scaleFactor);
std::int32_t RegDiv16(const void* src, std::int32_t srcStep, void* srcDst, std::int32_t step,
                      std::int32_t width, std::int32_t height, std::int32_t scaleFactor);

// --- 24-bit samples ----------------------------------------------------------------------------------------

// Bytes 0 and 1 are the low 16 bits, byte 2 bits 16 to 23; the value is sign-extended from bit 23.
[[nodiscard]] std::int32_t Load24(const void* sample) noexcept;
// Bytes 0 and 1 := the low 16 bits of value, byte 2 := bits 16 to 23, its top bit forced to 1 when value is
// negative.
void Store24(void* sample, std::int32_t value) noexcept;

// --- plain routines: count samples, each a step apart (the contiguous ones say so)
// -------------------------- They return the status of the kernels they use (kRegOk, or a refusal for a bad
// pointer, step or count).

// Copies sample columns lane by lane with RegCopyBytes.
std::int32_t CopyStrided16(const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                           std::int32_t count);
std::int32_t CopyStrided24(const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                           std::int32_t count);
std::int32_t CopyStrided32(const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                           std::int32_t count);

// count contiguous samples := the low 24 bits of value / value; := 0.
std::int32_t Fill24(std::int32_t value, void* dst, std::int32_t count);
std::int32_t Fill32(std::int32_t value, void* dst, std::int32_t count);
std::int32_t Clear24(void* dst, std::int32_t count);
std::int32_t Clear32(void* dst, std::int32_t count);

enum class TSampleOp : std::uint8_t
{
    soAdd,
    soSubtract,
    soMultiply,
    soDivide
};

// dst := dst op src, per width. 8 bits: Add d + s - 127, Subtract d + 127 - s, Multiply
// (d - 127)(s - 127) + 127, Divide (d - 127) / (s - 127) + 127 truncating, 127 for s = 127; results stored
// as the low byte. 24 bits: in 32-bit integers, stored with the 24-bit rule. 32 bits: wrapping 32-bit
// integers. A division by a zero sample (24 and 32 bits) gives 0 for a zero dividend, else the limit of the
// dividend's sign, and the status kRegDivisionByZero.
std::int32_t Combine8(TSampleOp op, const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                      std::int32_t count);
std::int32_t Combine24(TSampleOp op, const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                       std::int32_t count);
std::int32_t Combine32(TSampleOp op, const void* src, std::int32_t srcStep, void* dst, std::int32_t dstStep,
                       std::int32_t count);

// sample := round(factor x sample), ties to even, stored in the width's low bits (no saturation); 8-bit
// samples are scaled as unsigned bytes, offset included. bits is 8, 16, 24 or 32 (else kRegBadSize).
std::int32_t ScaleSamples(std::int32_t bits, double factor, void* dst, std::int32_t step, std::int32_t count);

// Converts count samples from srcBits to dstBits (8, 16, 24 or 32, different): integer arithmetic with
// 64-bit products and truncation toward zero (8 to 16 bits: (b - 127) x 32767 / 127; 16 to 8 bits:
// s x 127 / 32767 + 127; and so on). The one source value above full scale, the byte 255, saturates at the
// destination's full scale. Equal or unknown widths give kRegBadSize.
std::int32_t ConvertSamples(std::int32_t srcBits, const void* src, std::int32_t srcStep, std::int32_t dstBits,
                            void* dst, std::int32_t dstStep, std::int32_t count);

}   // namespace harvolin
