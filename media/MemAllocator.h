#pragma once
#include "media/ComObject.h"
#include "media/MediaTypes.h"
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace harvolin
{

inline constexpr HRESULT VFW_E_BADALIGN = MakeResult(0x8004020E);
inline constexpr HRESULT VFW_E_ALREADY_COMMITTED = MakeResult(0x8004020F);
inline constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = MakeResult(0x80040210);
inline constexpr HRESULT VFW_E_SIZENOTSET = MakeResult(0x80040212);
inline constexpr HRESULT VFW_E_TIMEOUT = MakeResult(0x8004022E);
inline constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = MakeResult(0x80040249);

// GetBuffer's flag: fail with VFW_E_TIMEOUT instead of waiting for a free sample.
inline constexpr std::uint32_t AM_GBF_NOWAIT = 4;

// One buffer of media data on its way downstream: the bytes, how many of them are valid, and the two times.
// A sample comes from an allocator with one reference; its last Release gives it back to that allocator,
// never to the heap. Used by one thread at a time (the producer fills it, the consumer reads it).
class IMediaSample : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A8689A-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IUnknown;

    virtual HRESULT GetPointer(std::uint8_t** buffer) = 0;
    // The buffer's size in bytes.
    virtual std::int32_t GetSize() = 0;
    // VFW_E_SAMPLE_TIME_NOT_SET when the sample carries no times.
    virtual HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) = 0;
    // Null start clears the times.
    virtual HRESULT SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* end) = 0;
    // S_OK when it is a sync point, else S_FALSE.
    virtual HRESULT IsSyncPoint() = 0;
    virtual HRESULT SetSyncPoint(bool syncPoint) = 0;
    virtual std::int32_t GetActualDataLength() = 0;
    // E_INVALIDARG, changing nothing, beyond the size or below zero.
    virtual HRESULT SetActualDataLength(std::int32_t length) = 0;
};

struct ALLOCATOR_PROPERTIES
{
    std::int32_t cBuffers;
    std::int32_t cbBuffer;
    std::int32_t cbAlign;
    std::int32_t cbPrefix;
};

// A fixed set of equal samples, handed out one at a time. Any thread.
class IMemAllocator : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{56A8689C-0AD4-11CE-B03A-0020AF0BA770}");
    using TParent = IUnknown;

    // Asks for request; actual receives what is granted. Refused while committed (VFW_E_ALREADY_COMMITTED)
    // or while samples are out (VFW_E_BUFFERS_OUTSTANDING); an alignment that is no power of two is
    // VFW_E_BADALIGN, a count or size below 1 or a negative prefix E_INVALIDARG.
    virtual HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) = 0;
    virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) = 0;
    // Makes the samples (VFW_E_SIZENOTSET before SetProperties, E_OUTOFMEMORY when they cannot be made);
    // committing again changes nothing.
    virtual HRESULT Commit() = 0;
    // Hands out no more samples and wakes every GetBuffer that waits, which then fails; the samples' memory
    // goes once the last one is back.
    virtual HRESULT Decommit() = 0;
    // A free sample with one reference: waits for one while all are out (unless AM_GBF_NOWAIT). Fails with
    // VFW_E_NOT_COMMITTED while decommitted, also for a caller that was waiting when the decommit came.
    // The time hints are not used.
    virtual HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                              std::uint32_t flags) = 0;
    // Called by a sample's last Release.
    virtual HRESULT ReleaseBuffer(IMediaSample* sample) = 0;
};

inline constexpr TGUID CLSID_MemoryAllocator = MakeGuid("{1E651CC0-B199-11D0-8212-00C04FC32C45}");

class TMediaSample;

// The memory allocator of the media layer: cBuffers samples of cbBuffer bytes (plus the prefix), each data
// area aligned to cbAlign. GetBuffer blocks on the allocator's condition variable; Decommit and a sample's
// return wake it. Lock order: the allocator's lock is a leaf.
class TMemAllocator final : public TComObject<IMemAllocator>
{
public:
    TMemAllocator() = default;

    HRESULT SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* properties) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    HRESULT GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                      std::uint32_t flags) override;
    HRESULT ReleaseBuffer(IMediaSample* sample) override;
private:
    ~TMemAllocator() override;
    // Frees the samples once all are back and the allocator is decommitted. FLock held.
    void FreeSamplesIfIdle();

    std::mutex FLock;
    std::condition_variable FSampleFreed;
    ALLOCATOR_PROPERTIES FProperties{};    // guarded by FLock
    bool FPropertiesSet = false;           // guarded by FLock
    bool FCommitted = false;               // guarded by FLock
    std::vector<TMediaSample*> FSamples;   // owning; guarded by FLock
    std::vector<TMediaSample*> FFree;      // guarded by FLock
};

}   // namespace harvolin
