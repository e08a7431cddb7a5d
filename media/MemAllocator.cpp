#include "media/MemAllocator.h"
#include <atomic>
#include <bit>
#include <cassert>
#include <cstdlib>
#include <new>

namespace harvolin
{

// A sample of a TMemAllocator: its memory and its fields belong to the allocator, which made it and frees
// it. While it is out, it holds a reference on the allocator, so the allocator outlives every sample in use.
class TMediaSample final : public IMediaSample
{
public:
    TMediaSample(TMemAllocator& allocator, const ALLOCATOR_PROPERTIES& properties)
        : FAllocator(allocator), FSize(properties.cbBuffer)
    {
        const std::size_t align = static_cast<std::size_t>(properties.cbAlign);
        const std::size_t prefix = static_cast<std::size_t>(properties.cbPrefix);
        FBlock = static_cast<std::uint8_t*>(std::malloc(prefix + static_cast<std::size_t>(FSize) + align));
        if (FBlock == nullptr)
            throw std::bad_alloc();
        // The data starts on the alignment with the prefix room in front of it.
        const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(FBlock) + prefix;
        FData =
            reinterpret_cast<std::uint8_t*>((first + align - 1) & ~(static_cast<std::uintptr_t>(align) - 1));
    }
    TMediaSample(const TMediaSample&) = delete;
    TMediaSample& operator=(const TMediaSample&) = delete;
    ~TMediaSample() override { std::free(FBlock); }

    HRESULT QueryInterface(const TGUID& iid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (iid != IMediaSample::kIID && iid != IUnknown::kIID)
        {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IMediaSample*>(this);
        AddRef();
        return S_OK;
    }
    std::uint32_t AddRef() override { return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }
    std::uint32_t Release() override
    {
        const std::uint32_t left = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            FAllocator.ReleaseBuffer(this);
        return left;
    }

    HRESULT GetPointer(std::uint8_t** buffer) override
    {
        if (buffer == nullptr)
            return E_POINTER;
        *buffer = FData;
        return S_OK;
    }
    std::int32_t GetSize() override { return FSize; }
    HRESULT GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override
    {
        if (start == nullptr || end == nullptr)
            return E_POINTER;
        if (!FTimeValid)
            return VFW_E_SAMPLE_TIME_NOT_SET;
        *start = FStart;
        *end = FEnd;
        return S_OK;
    }
    HRESULT SetTime(const REFERENCE_TIME* start, const REFERENCE_TIME* end) override
    {
        if (start == nullptr)
        {
            FTimeValid = false;
            return S_OK;
        }
        FStart = *start;
        FEnd = end != nullptr ? *end : *start;
        FTimeValid = true;
        return S_OK;
    }
    HRESULT IsSyncPoint() override { return FSyncPoint ? S_OK : S_FALSE; }
    HRESULT SetSyncPoint(bool syncPoint) override
    {
        FSyncPoint = syncPoint;
        return S_OK;
    }
    std::int32_t GetActualDataLength() override { return FActualLength; }
    HRESULT SetActualDataLength(std::int32_t length) override
    {
        if (length < 0 || length > FSize)
            return E_INVALIDARG;
        FActualLength = length;
        return S_OK;
    }

    // A sample handed out again starts empty: no data, no times, no sync point. Allocator's lock held.
    void Recycle() noexcept
    {
        FActualLength = 0;
        FTimeValid = false;
        FSyncPoint = false;
    }
    // The first reference of a sample handed out.
    void HandOut() noexcept { FRefCount.store(1, std::memory_order_relaxed); }
private:
    TMemAllocator& FAllocator;
    std::atomic<std::uint32_t> FRefCount{0};
    std::uint8_t* FBlock = nullptr;
    std::uint8_t* FData = nullptr;
    const std::int32_t FSize;
    std::int32_t FActualLength = 0;
    REFERENCE_TIME FStart = 0;
    REFERENCE_TIME FEnd = 0;
    bool FTimeValid = false;
    bool FSyncPoint = false;
};

TMemAllocator::~TMemAllocator()
{
    // Every sample is back: one that was out would still hold a reference on this allocator.
    assert(FFree.size() == FSamples.size());
    for (TMediaSample* sample : FSamples)
        delete sample;
}

HRESULT TMemAllocator::SetProperties(const ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual)
{
    if (request == nullptr || actual == nullptr)
        return E_POINTER;
    std::lock_guard lock(FLock);
    if (FCommitted)
        return VFW_E_ALREADY_COMMITTED;
    if (FFree.size() != FSamples.size())
        return VFW_E_BUFFERS_OUTSTANDING;
    if (request->cbAlign < 1 || !std::has_single_bit(static_cast<std::uint32_t>(request->cbAlign)))
        return VFW_E_BADALIGN;
    if (request->cBuffers < 1 || request->cbBuffer < 1 || request->cbPrefix < 0)
        return E_INVALIDARG;
    FProperties = *request;
    FPropertiesSet = true;
    *actual = FProperties;
    return S_OK;
}

HRESULT TMemAllocator::GetProperties(ALLOCATOR_PROPERTIES* properties)
{
    if (properties == nullptr)
        return E_POINTER;
    std::lock_guard lock(FLock);
    *properties = FProperties;
    return S_OK;
}

HRESULT TMemAllocator::Commit()
{
    std::lock_guard lock(FLock);
    if (FCommitted)
        return S_OK;
    if (!FPropertiesSet)
        return VFW_E_SIZENOTSET;
    // Samples still out from before a decommit are used again rather than made anew.
    if (FSamples.empty())
    {
        try
        {
            FSamples.reserve(static_cast<std::size_t>(FProperties.cBuffers));
            FFree.reserve(static_cast<std::size_t>(FProperties.cBuffers));
            for (std::int32_t i = 0; i < FProperties.cBuffers; ++i)
            {
                FSamples.push_back(new TMediaSample(*this, FProperties));
                FFree.push_back(FSamples.back());
            }
        }
        catch (const std::bad_alloc&)
        {
            for (TMediaSample* sample : FSamples)
                delete sample;
            FSamples.clear();
            FFree.clear();
            return E_OUTOFMEMORY;
        }
    }
    FCommitted = true;
    return S_OK;
}

HRESULT TMemAllocator::Decommit()
{
    {
        std::lock_guard lock(FLock);
        FCommitted = false;
        FreeSamplesIfIdle();
    }
    FSampleFreed.notify_all();
    return S_OK;
}

HRESULT TMemAllocator::GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* end,
                                 std::uint32_t flags)
{
    (void)start;
    (void)end;
    if (sample == nullptr)
        return E_POINTER;
    *sample = nullptr;
    std::unique_lock lock(FLock);
    if (FCommitted && FFree.empty() && (flags & AM_GBF_NOWAIT) != 0)
        return VFW_E_TIMEOUT;
    FSampleFreed.wait(lock, [&] { return !FCommitted || !FFree.empty(); });
    if (!FCommitted)
        return VFW_E_NOT_COMMITTED;
    TMediaSample* taken = FFree.back();
    FFree.pop_back();
    taken->Recycle();
    taken->HandOut();
    // The sample keeps this allocator alive while it is out; its return gives the reference back.
    AddRef();
    *sample = taken;
    return S_OK;
}

HRESULT TMemAllocator::ReleaseBuffer(IMediaSample* sample)
{
    if (sample == nullptr)
        return E_POINTER;
    {
        std::lock_guard lock(FLock);
        FFree.push_back(static_cast<TMediaSample*>(sample));
        FreeSamplesIfIdle();
    }
    FSampleFreed.notify_one();
    // Last: the sample's reference may have been the allocator's last.
    Release();
    return S_OK;
}

void TMemAllocator::FreeSamplesIfIdle()
{
    if (FCommitted || FFree.size() != FSamples.size())
        return;
    for (TMediaSample* sample : FSamples)
        delete sample;
    FSamples.clear();
    FFree.clear();
}

}   // namespace harvolin
