#pragma once
#include <cstdint>

namespace harvolin
{

// Bulk arithmetic on sample arrays. Every kernel takes plain arrays and signed 32-bit counts, never raises,
// keeps no state and returns a status; a refused call writes nothing. In-place kernels read src and read and
// write dst. The table kernels check a missing pointer first, then the count, then their own arguments.
// Each entry binds to an implementation on its first call (see SLKernelDispatch.h).

struct TSLComplex
{
    double Re;
    double Im;
};

constexpr std::int32_t kVecOk = 0;
constexpr std::int32_t kVecDivisionByZero = 6;   // a warning: the results are still written
constexpr std::int32_t kVecBadCount = -6;
constexpr std::int32_t kVecNullPointer = -8;
constexpr std::int32_t kVecBadThresholds = -18;
constexpr std::int32_t kVecBadJaehneMagnitude = -38;
constexpr std::int32_t kVecBadTriangleAsymmetry = -40;
constexpr std::int32_t kVecBadTrianglePhase = -41;
constexpr std::int32_t kVecBadTriangleFrequency = -42;
constexpr std::int32_t kVecBadTriangleMagnitude = -43;
constexpr std::int32_t kVecBadTonePhase = -44;
constexpr std::int32_t kVecBadToneFrequency = -45;
constexpr std::int32_t kVecBadToneMagnitude = -46;

// Real arithmetic, each result formed in extended precision and rounded once to double.
std::int32_t VecAddConstReal(double value, double* dst, std::int32_t n);   // value 0 writes nothing
std::int32_t VecAddReal(const double* src, double* dst, std::int32_t n);
std::int32_t VecSubReal(const double* src, double* dst, std::int32_t n);
std::int32_t VecMulReal(const double* src, double* dst, std::int32_t n);
// A zero or not-a-number divisor gives +inf or -inf by the dividend's sign, else the negative quiet NaN
// (FFF8000000000000), and the status kVecDivisionByZero.
std::int32_t VecDivReal(const double* src, double* dst, std::int32_t n);

std::int32_t VecAddComplex(const TSLComplex* src, TSLComplex* dst, std::int32_t n);
std::int32_t VecMulComplex(const TSLComplex* src, TSLComplex* dst, std::int32_t n);
// A divisor whose squared modulus is zero or not a number sets each part by its own dividend part as
// VecDivReal does (+inf, -inf or the negative quiet NaN) and gives kVecDivisionByZero.
std::int32_t VecDivComplex(const TSLComplex* src, TSLComplex* dst, std::int32_t n);

// Integer and byte arithmetic with a scale factor: the exact result times 2^-sf, rounded half to even,
// saturated to the element type.
std::int32_t VecAddInt(const std::int32_t* src, std::int32_t* dst, std::int32_t n, std::int32_t sf);
std::int32_t VecSubInt(const std::int32_t* src, std::int32_t* dst, std::int32_t n, std::int32_t sf);
std::int32_t VecMulInt(const std::int32_t* src, std::int32_t* dst, std::int32_t n, std::int32_t sf);
// Rounds an exact half toward zero, unlike the other integer kernels. A zero divisor gives 0 for a zero
// dividend, else the limit of the dividend's sign, whatever sf is, and the status kVecDivisionByZero.
std::int32_t VecDivInt(const std::int32_t* src, std::int32_t* dst, std::int32_t n, std::int32_t sf);
std::int32_t VecAddByte(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n, std::int32_t sf);
std::int32_t VecSubByte(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n, std::int32_t sf);
std::int32_t VecMulByte(const std::uint8_t* src, std::uint8_t* dst, std::int32_t n, std::int32_t sf);

// src and dst may overlap.
std::int32_t VecCopyReal(const double* src, double* dst, std::int32_t n);
std::int32_t VecCopyBytes(const void* src, void* dst, std::int32_t n);

// Scan in order from the first element. The maximum replaces only when result < b, so a NaN element never
// replaces it (and a leading NaN stays); the minimum keeps only while result <= b, so a NaN element does
// replace it, and the next element replaces the NaN.
std::int32_t VecMaxReal(const double* src, std::int32_t n, double* result);
std::int32_t VecMinReal(const double* src, std::int32_t n, double* result);

std::int32_t VecSetInt(std::int32_t value, std::int32_t* dst, std::int32_t n);
std::int32_t VecSetReal(double value, double* dst, std::int32_t n);
std::int32_t VecSetComplex(double re, double im, TSLComplex* dst, std::int32_t n);
std::int32_t VecSetByte(std::uint8_t value, std::uint8_t* dst, std::int32_t n);

// dst[k] := magnitude x sin((pi / 2) x k x k / n); n = 1 gives dst[0] = 0. A negative magnitude is refused
// with kVecBadJaehneMagnitude.
std::int32_t VecJaehne(double* dst, std::int32_t n, double magnitude);

std::int32_t VecZero16(std::int16_t* dst, std::int32_t n);   // clears n 16-bit elements; pass 2n for n ints
std::int32_t VecZeroReal(double* dst, std::int32_t n);
std::int32_t VecZeroComplex(TSLComplex* dst, std::int32_t n);
std::int32_t VecZeroBytes(void* dst, std::int32_t n);

// cos(x) in extended precision, within an ulp or two of the library's, and quick for the few turns a phase
// spans (|x| up to 64; beyond, the library's). The tone kernel's cosines.
[[nodiscard]] long double CosineOfPhase(long double x);

// Generator kernels. They check their own arguments in their own order and update *phase (radians, kept in
// [0, 2 pi)) to the phase after the block.
std::int32_t VecTone(double* dst, std::int32_t len, double magnitude, double f, double* phase,
                     std::int32_t hint);
std::int32_t VecTriangle(double* dst, std::int32_t len, double magnitude, double f, double asym,
                         double* phase);
std::int32_t VecThreshold(double* data, std::int32_t len, double lowLevel, double lowValue, double highLevel,
                          double highValue);

// 32-byte aligned heap memory. Nothing (nullptr) for size <= 0 or when the heap refuses; the raw block's
// address is kept in the pointer-sized slot just below the returned address.
[[nodiscard]] void* AlignedAlloc(std::int32_t size);
void AlignedFree(void* p);

}   // namespace harvolin
