#pragma once
#include "media/ComObject.h"
#include "rtl/Guid.h"
#include <cstdint>

namespace harvolin
{

// Reference times of the media layer, in microseconds: the audio output computes its durations with
// 1 000 000 per second and hands them on unchanged.
using REFERENCE_TIME = std::int64_t;

// A PCM stream's frames: Channels interleaved samples of BitsPerSample bits each (in whole bytes).
struct TPcmFormat
{
    std::uint16_t Channels = 2;
    std::uint16_t BitsPerSample = 16;
    std::uint32_t FramesPerSecond = 100000;

    [[nodiscard]] std::uint32_t BlockAlign() const noexcept { return Channels * ((BitsPerSample + 7u) / 8u); }
    friend bool operator==(const TPcmFormat&, const TPcmFormat&) = default;
};

// The description of a stream that pins agree on when they connect. The format block (cbFormat bytes at
// pbFormat) is task memory owned by the record, and pUnk a counted reference or null; FreeMediaType lets go
// of both. Plain data otherwise: copy it with CopyMediaType, never by assignment, or the block is shared.
struct AM_MEDIA_TYPE
{
    TGUID majortype;
    TGUID subtype;
    std::int32_t bFixedSizeSamples;
    std::int32_t bTemporalCompression;
    std::uint32_t lSampleSize;
    TGUID formattype;
    IUnknown* pUnk;
    std::uint32_t cbFormat;
    std::uint8_t* pbFormat;
};

inline constexpr TGUID GUID_NULL = kNullGuid;
inline constexpr TGUID MEDIATYPE_Audio = MakeGuid("{73647561-0000-0010-8000-00AA00389B71}");
inline constexpr TGUID MEDIASUBTYPE_PCM = MakeGuid("{00000001-0000-0010-8000-00AA00389B71}");
inline constexpr TGUID FORMAT_WaveFormatEx = MakeGuid("{05589F81-C356-11CE-BF01-00AA0055595A}");

// Frees the format block and releases pUnk, leaving the record empty (no block, no reference). Takes a record
// that owns neither.
void FreeMediaType(AM_MEDIA_TYPE& type) noexcept;
// FreeMediaType, then the record itself, which must be task memory (as enumerators hand records out); null
// changes nothing.
void DeleteMediaType(AM_MEDIA_TYPE* type) noexcept;
// Makes target a deep copy of source (its own format block, its own reference on pUnk). target must own
// nothing. E_OUTOFMEMORY leaves target empty.
HRESULT CopyMediaType(AM_MEDIA_TYPE& target, const AM_MEDIA_TYPE& source) noexcept;
// A task-allocated deep copy of source, or null when memory runs out; free it with DeleteMediaType.
[[nodiscard]] AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE& source) noexcept;

}   // namespace harvolin
