#include "media/MemAllocator.h"
#include <gtest/gtest.h>

#include <cstdint>
#include <latch>
#include <thread>

namespace harvolin
{
namespace
{

class MemAllocatorTest : public ::testing::Test
{
protected:
    TRefPtr<IMemAllocator> Committed(std::int32_t count, std::int32_t size, std::int32_t align = 1,
                                     std::int32_t prefix = 0)
    {
        void* made = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IMemAllocator::kIID,
                                   &made),
                  S_OK);
        auto allocator = AdoptRef(static_cast<IMemAllocator*>(made));
        const ALLOCATOR_PROPERTIES request{count, size, align, prefix};
        ALLOCATOR_PROPERTIES granted{};
        EXPECT_EQ(allocator->SetProperties(&request, &granted), S_OK);
        EXPECT_EQ(allocator->Commit(), S_OK);
        return allocator;
    }

    static TRefPtr<IMediaSample> Take(IMemAllocator& allocator, std::uint32_t flags = 0)
    {
        IMediaSample* sample = nullptr;
        if (FAILED(allocator.GetBuffer(&sample, nullptr, nullptr, flags)))
            return nullptr;
        return AdoptRef(sample);
    }
};

TEST_F(MemAllocatorTest, PropertiesAreCheckedGrantedAndFixedWhileCommitted)
{
    auto allocator = MakeComObject<TMemAllocator, IMemAllocator>();
    ALLOCATOR_PROPERTIES granted{};
    const ALLOCATOR_PROPERTIES badAlign{1, 100, 3, 0};
    EXPECT_EQ(allocator->SetProperties(&badAlign, &granted), VFW_E_BADALIGN);
    const ALLOCATOR_PROPERTIES noBuffers{0, 100, 1, 0};
    EXPECT_EQ(allocator->SetProperties(&noBuffers, &granted), E_INVALIDARG);
    EXPECT_EQ(allocator->SetProperties(nullptr, &granted), E_POINTER);
    EXPECT_EQ(allocator->Commit(), VFW_E_SIZENOTSET);

    const ALLOCATOR_PROPERTIES request{2, 44188, 4, 8};
    ASSERT_EQ(allocator->SetProperties(&request, &granted), S_OK);
    EXPECT_EQ(granted.cBuffers, 2);
    EXPECT_EQ(granted.cbBuffer, 44188);
    ASSERT_EQ(allocator->Commit(), S_OK);
    EXPECT_EQ(allocator->SetProperties(&request, &granted), VFW_E_ALREADY_COMMITTED);

    auto sample = Take(*allocator);
    ASSERT_TRUE(sample);
    ASSERT_EQ(allocator->Decommit(), S_OK);
    // A sample still out keeps the sizes fixed until it is back.
    EXPECT_EQ(allocator->SetProperties(&request, &granted), VFW_E_BUFFERS_OUTSTANDING);
    sample.Reset();
    EXPECT_EQ(allocator->SetProperties(&request, &granted), S_OK);
}

TEST_F(MemAllocatorTest, ASampleCarriesItsBytesTimesAndSyncPointAndComesBackEmpty)
{
    auto allocator = Committed(1, 40, 32, 8);
    auto sample = Take(*allocator);
    ASSERT_TRUE(sample);
    std::uint8_t* data = nullptr;
    ASSERT_EQ(sample->GetPointer(&data), S_OK);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % 32, 0u);
    EXPECT_EQ(sample->GetSize(), 40);
    data[0] = 7;
    data[39] = 9;   // the whole size is writable

    REFERENCE_TIME start = -1;
    REFERENCE_TIME end = -1;
    EXPECT_EQ(sample->GetTime(&start, &end), VFW_E_SAMPLE_TIME_NOT_SET);
    const REFERENCE_TIME s = 400;
    const REFERENCE_TIME e = 760;
    ASSERT_EQ(sample->SetTime(&s, &e), S_OK);
    ASSERT_EQ(sample->GetTime(&start, &end), S_OK);
    EXPECT_EQ(start, 400);
    EXPECT_EQ(end, 760);
    EXPECT_EQ(sample->SetActualDataLength(41), E_INVALIDARG);
    EXPECT_EQ(sample->SetActualDataLength(40), S_OK);
    EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(sample->SetSyncPoint(true), S_OK);
    EXPECT_EQ(sample->IsSyncPoint(), S_OK);

    // All out: a caller that may not wait hears so at once.
    EXPECT_FALSE(Take(*allocator, AM_GBF_NOWAIT));
    sample.Reset();
    auto again = Take(*allocator, AM_GBF_NOWAIT);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->GetActualDataLength(), 0);
    EXPECT_EQ(again->GetTime(&start, &end), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(again->IsSyncPoint(), S_FALSE);
}

TEST_F(MemAllocatorTest, NoSampleIsHandedOutWhileDecommitted)
{
    auto allocator = MakeComObject<TMemAllocator, IMemAllocator>();
    EXPECT_FALSE(Take(*allocator));
    IMediaSample* sample = nullptr;
    EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    EXPECT_EQ(sample, nullptr);
    EXPECT_EQ(allocator->GetBuffer(nullptr, nullptr, nullptr, 0), E_POINTER);
}

TEST_F(MemAllocatorTest, ASampleOutKeepsItsAllocatorAlive)
{
    auto allocator = Committed(1, 16);
    auto sample = Take(*allocator);
    ASSERT_TRUE(sample);
    allocator.Reset();   // the caller lets go; the sample still holds the allocator
    std::uint8_t* data = nullptr;
    ASSERT_EQ(sample->GetPointer(&data), S_OK);
    data[15] = 1;
    EXPECT_EQ(sample->SetActualDataLength(16), S_OK);
    sample.Reset();   // the allocator goes with the last sample (AddressSanitizer checks the order)
}

using MemAllocatorConcurrencyTest = MemAllocatorTest;

TEST_F(MemAllocatorConcurrencyTest, AWaitingGetBufferTakesTheSampleThatComesBack)
{
    auto allocator = Committed(1, 16);
    auto held = Take(*allocator);
    ASSERT_TRUE(held);
    std::latch waiting(1);
    HRESULT result = E_FAIL;
    std::thread taker(
        [&]
        {
            waiting.count_down();
            IMediaSample* sample = nullptr;
            result = allocator->GetBuffer(&sample, nullptr, nullptr, 0);
            if (sample != nullptr)
                sample->Release();
        });
    waiting.wait();
    held.Reset();   // whether the taker waits already or not, this sample is the one it gets
    taker.join();
    EXPECT_EQ(result, S_OK);
}

TEST_F(MemAllocatorConcurrencyTest, ADecommitWakesAWaitingGetBufferWithNotCommitted)
{
    auto allocator = Committed(1, 16);
    auto held = Take(*allocator);
    ASSERT_TRUE(held);
    std::latch waiting(1);
    HRESULT result = S_OK;
    IMediaSample* got = nullptr;
    std::thread taker(
        [&]
        {
            waiting.count_down();
            result = allocator->GetBuffer(&got, nullptr, nullptr, 0);
        });
    waiting.wait();
    // Before or during the wait, the answer is the same: nothing is handed out once decommitted.
    ASSERT_EQ(allocator->Decommit(), S_OK);
    taker.join();
    EXPECT_EQ(result, VFW_E_NOT_COMMITTED);
    EXPECT_EQ(got, nullptr);
}

}   // namespace
}   // namespace harvolin
