#pragma once
#include "media/MediaInterfaces.h"
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

// The graph's side of a renderer's connection, for the tests of the renderers and their devices.
namespace harvolin
{

// What the renderer needs of the pin that connects to it: an identity to hold.
class TStandInOutputPin final : public TComObject<IPin>
{
public:
    HRESULT Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Disconnect() override { return E_NOTIMPL; }
    HRESULT ConnectedTo(IPin**) override { return E_NOTIMPL; }
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
    HRESULT QueryDirection(PIN_DIRECTION* direction) override
    {
        *direction = PINDIR_OUTPUT;
        return S_OK;
    }
    HRESULT QueryId(char**) override { return E_NOTIMPL; }
    HRESULT QueryAccept(const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    HRESULT QueryInternalConnections(IPin**, std::uint32_t*) override { return E_NOTIMPL; }
    HRESULT EndOfStream() override { return E_UNEXPECTED; }
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }
    HRESULT NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
};

// A graph that only hears events.
class TListeningGraph final : public TComObject<IFilterGraph, IMediaEventSink>
{
public:
    HRESULT AddFilter(IBaseFilter*, const char*) override { return E_NOTIMPL; }
    HRESULT RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    HRESULT FindFilterByName(const char*, IBaseFilter**) override { return E_NOTIMPL; }
    HRESULT ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT Disconnect(IPin*) override { return E_NOTIMPL; }
    HRESULT SetDefaultSyncSource() override { return E_NOTIMPL; }
    HRESULT Notify(std::int32_t code, std::intptr_t, std::intptr_t) override
    {
        Events.push_back(code);
        return S_OK;
    }
    std::vector<std::int32_t> Events;
};

// A plain 18-byte WAVEFORMATEX block.
inline std::vector<std::uint8_t> WaveFormat(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits)
{
    const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
    const std::uint32_t bytesPerSecond = rate * align;
    std::vector<std::uint8_t> block(18, 0);
    auto put16 = [&](std::size_t at, std::uint16_t v) { block[at] = v & 0xFF, block[at + 1] = v >> 8; };
    auto put32 = [&](std::size_t at, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            block[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put16(0, 1);
    put16(2, channels);
    put32(4, rate);
    put32(8, bytesPerSecond);
    put16(12, align);
    put16(14, bits);
    return block;
}

// A committed allocator of the renderer's input pin with one sample of size bytes.
inline TRefPtr<IMemAllocator> Allocator(IMemInputPin& input, std::int32_t size)
{
    IMemAllocator* allocator = nullptr;
    EXPECT_EQ(input.GetAllocator(&allocator), S_OK);
    auto held = AdoptRef(allocator);
    const ALLOCATOR_PROPERTIES request{1, size, 1, 0};
    ALLOCATOR_PROPERTIES granted{};
    EXPECT_EQ(held->SetProperties(&request, &granted), S_OK);
    EXPECT_EQ(input.NotifyAllocator(held.Get(), false), S_OK);
    EXPECT_EQ(held->Commit(), S_OK);
    return held;
}

// A sample of the allocator holding bytes.
inline TRefPtr<IMediaSample> Filled(IMemAllocator& allocator, const std::vector<std::uint8_t>& bytes)
{
    IMediaSample* sample = nullptr;
    EXPECT_EQ(allocator.GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    auto held = AdoptRef(sample);
    std::uint8_t* data = nullptr;
    EXPECT_EQ(held->GetPointer(&data), S_OK);
    std::memcpy(data, bytes.data(), bytes.size());
    EXPECT_EQ(held->SetActualDataLength(static_cast<std::int32_t>(bytes.size())), S_OK);
    return held;
}

}   // namespace harvolin
