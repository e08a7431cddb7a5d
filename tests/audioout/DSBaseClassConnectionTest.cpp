#include "audioout/DSBaseClass.h"
#include "rtl/Diagnostics.h"
#include "tests/audioout/DSTestPins.h"
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <numeric>
#include <vector>

namespace harvolin
{
namespace
{

using testing::MakeWaveFormat;
using testing::TTestAllocator;
using testing::TTestInputPin;

// The audio pin connected to a recording input pin, as a renderer would take it.
class DSConnectionTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        FLiveBlocks = CoTaskMemLiveBlocks();
        FFilter->SetFormat(MakeWaveFormat(2, 16, 11025), 1000);
    }
    void TearDown() override
    {
        EXPECT_EQ(FFilter->Stop(), S_OK);
        FPin.Disconnect();
        FInput->Disconnect();
        EXPECT_EQ(CoTaskMemLiveBlocks(), FLiveBlocks) << "task memory leaked";
    }

    HRESULT ConnectFull()
    {
        AM_MEDIA_TYPE type{};
        EXPECT_EQ(FPin.GetMediaType(0, type), S_OK);
        const HRESULT result = FPin.Connect(FInput.Get(), &type);
        FreeMediaType(type);
        return result;
    }

    // Connects to samples of sampleSize bytes: the input pin offers an allocator of that size, which the
    // filter then resizes; the size is set back afterwards, before the first commit.
    void ConnectWithSampleSize(std::int32_t sampleSize)
    {
        ASSERT_EQ(FPin.Connect(FInput.Get(), nullptr), S_OK);
        const auto allocator = FInput->Notified;
        ASSERT_TRUE(allocator);
        const ALLOCATOR_PROPERTIES request{1, sampleSize, 1, 0};
        ALLOCATOR_PROPERTIES granted{};
        ASSERT_EQ(allocator->SetProperties(&request, &granted), S_OK);
    }

    TRefPtr<TDSAudioSourceFilter> FFilter = MakeComObject<TDSAudioSourceFilter>();
    TDSAudioSourceStreamPin& FPin = FFilter->AudioPin();
    TRefPtr<TTestInputPin> FInput = MakeComObject<TTestInputPin>();
private:
    std::int64_t FLiveBlocks = 0;
};

std::vector<std::uint8_t> Ramp(std::size_t count)
{
    std::vector<std::uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    return bytes;
}

TEST_F(DSConnectionTest, ConnectAgreesOnTheOwnTypeAndMakesAMemoryAllocator)
{
    ASSERT_EQ(FPin.Connect(FInput.Get(), nullptr), S_OK);
    EXPECT_EQ(FInput->Connected.Get(), static_cast<IPin*>(&FPin));
    EXPECT_EQ(FInput->ConnectionType.cbFormat, 18u);
    ASSERT_TRUE(FInput->Notified);
    ALLOCATOR_PROPERTIES properties{};
    ASSERT_EQ(FInput->Notified->GetProperties(&properties), S_OK);
    EXPECT_EQ(properties.cbBuffer, 44188);

    IPin* connected = nullptr;
    ASSERT_EQ(FPin.ConnectedTo(&connected), S_OK);
    EXPECT_EQ(AdoptRef(connected).Get(), static_cast<IPin*>(FInput.Get()));
    AM_MEDIA_TYPE type{};
    ASSERT_EQ(FPin.ConnectionMediaType(&type), S_OK);
    EXPECT_EQ(type.subtype, MEDIASUBTYPE_PCM);
    FreeMediaType(type);
    EXPECT_EQ(FPin.Connect(FInput.Get(), nullptr), VFW_E_ALREADY_CONNECTED);
}

TEST_F(DSConnectionTest, DisconnectAndReconnect)
{
    EXPECT_EQ(FPin.Disconnect(), S_FALSE);
    IPin* connected = nullptr;
    EXPECT_EQ(FPin.ConnectedTo(&connected), VFW_E_NOT_CONNECTED);
    AM_MEDIA_TYPE type{};
    EXPECT_EQ(FPin.ConnectionMediaType(&type), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(type.bFixedSizeSamples, 1);
    EXPECT_EQ(type.lSampleSize, 1u);
    EXPECT_EQ(type.pbFormat, nullptr);

    ASSERT_EQ(FPin.Connect(FInput.Get(), nullptr), S_OK);
    const auto firstAllocator = FInput->Notified;
    ASSERT_EQ(FPin.Disconnect(), S_OK);
    EXPECT_FALSE(FPin.IsConnected());
    ASSERT_EQ(FInput->Disconnect(), S_OK);
    // The old allocator was decommitted and let go: the new connection has one of its own.
    ASSERT_EQ(ConnectFull(), S_OK);
    EXPECT_NE(FInput->Notified, firstAllocator);
    EXPECT_EQ(FFilter->Pause(), S_OK);
}

TEST_F(DSConnectionTest, ConnectAndDisconnectAreRefusedUnlessStopped)
{
    ASSERT_EQ(FPin.Connect(FInput.Get(), nullptr), S_OK);
    ASSERT_EQ(FFilter->Run(0), S_OK);
    EXPECT_EQ(FPin.Disconnect(), VFW_E_NOT_STOPPED);
    EXPECT_TRUE(FPin.IsConnected());
    const auto other = MakeComObject<TTestInputPin>();
    EXPECT_EQ(FPin.ReceiveConnection(other.Get(), &FInput->ConnectionType), VFW_E_ALREADY_CONNECTED);
}

TEST_F(DSConnectionTest, RefusedTypesLeaveThePinUnconnected)
{
    FInput->RefuseTypes = true;
    EXPECT_EQ(FPin.Connect(FInput.Get(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    EXPECT_EQ(ConnectFull(), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_FALSE(FPin.IsConnected());
    EXPECT_EQ(FInput->ReceiveConnectionCalls, 2);

    // A proposed type the pin cannot stream never reaches the input pin.
    AM_MEDIA_TYPE video{};
    video.majortype = MakeGuid("{73646976-0000-0010-8000-00AA00389B71}");
    video.subtype = MEDIASUBTYPE_PCM;
    video.formattype = FORMAT_WaveFormatEx;
    FInput->RefuseTypes = false;
    EXPECT_EQ(FPin.Connect(FInput.Get(), &video), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(FInput->ReceiveConnectionCalls, 2);
}

TEST_F(DSConnectionTest, APinOfTheSameDirectionIsRefused)
{
    const auto otherFilter = MakeComObject<TDSAudioSourceFilter>();
    EXPECT_EQ(FPin.Connect(&otherFilter->AudioPin(), nullptr), VFW_E_INVALID_DIRECTION);
    EXPECT_FALSE(FPin.IsConnected());
}

TEST_F(DSConnectionTest, AnAllocatorGrantingLessFailsTheConnection)
{
    const auto stingy = MakeComObject<TTestAllocator>();
    stingy->Shortfall = 1;
    FInput->OwnAllocator = stingy;
    FInput->RequireOwnAllocator = true;
    EXPECT_EQ(ConnectFull(), E_FAIL);
    EXPECT_FALSE(FPin.IsConnected());
    EXPECT_FALSE(FInput->Connected);   // the input pin was told to disconnect again
    // Offered among types, E_FAIL only rules the type out.
    EXPECT_EQ(FPin.Connect(FInput.Get(), nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
}

TEST_F(DSConnectionTest, TheInputPinsOwnAllocatorIsUsedWithItsRequirements)
{
    const auto own = MakeComObject<TMemAllocator, IMemAllocator>();
    FInput->OwnAllocator = own;
    FInput->Requirements = ALLOCATOR_PROPERTIES{4, 100, 16, 32};
    ASSERT_EQ(FPin.Connect(FInput.Get(), nullptr), S_OK);
    EXPECT_EQ(FInput->Notified, own);
    ALLOCATOR_PROPERTIES granted{};
    ASSERT_EQ(own->GetProperties(&granted), S_OK);
    EXPECT_EQ(granted.cBuffers, 1);
    EXPECT_EQ(granted.cbBuffer, 44188);
    EXPECT_EQ(granted.cbAlign, 16);
    EXPECT_EQ(granted.cbPrefix, 32);
}

TEST_F(DSConnectionTest, PauseCommitsAndStopDecommitsTheAllocator)
{
    ASSERT_EQ(FPin.Connect(FInput.Get(), nullptr), S_OK);
    const auto allocator = FInput->Notified;
    IMediaSample* sample = nullptr;
    EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_NOT_COMMITTED);
    ASSERT_EQ(FFilter->Pause(), S_OK);
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    AdoptRef(sample).Reset();
    ASSERT_EQ(FFilter->Run(0), S_OK);
    ASSERT_EQ(FFilter->Stop(), S_OK);
    EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_NOT_COMMITTED);
    FILTER_STATE state{};
    ASSERT_EQ(FFilter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
}

TEST_F(DSConnectionTest, StopOnAStoppedFilterCallsNothing)
{
    ASSERT_EQ(FPin.Connect(FInput.Get(), nullptr), S_OK);
    // Committed behind the filter's back: a Stop that called the pins would decommit it.
    ASSERT_EQ(FInput->Notified->Commit(), S_OK);
    EXPECT_EQ(FFilter->Stop(), S_OK);
    IMediaSample* sample = nullptr;
    ASSERT_EQ(FInput->Notified->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    AdoptRef(sample).Reset();
    FInput->Notified->Decommit();
}

TEST_F(DSConnectionTest, DeliveriesForwardToTheConnectedPin)
{
    EXPECT_EQ(FPin.DeliverEndOfStream(), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(FPin.Deliver(nullptr), VFW_E_NOT_CONNECTED);
    IMediaSample* sample = nullptr;
    EXPECT_EQ(FPin.GetDeliveryBuffer(&sample, nullptr, nullptr, 0), E_NOINTERFACE);
    ASSERT_EQ(FPin.Connect(FInput.Get(), nullptr), S_OK);
    EXPECT_EQ(FPin.DeliverEndOfStream(), S_OK);
    EXPECT_EQ(FInput->EndOfStreamCalls, 1);
    EXPECT_EQ(FPin.EndOfStream(), E_UNEXPECTED);
    EXPECT_EQ(FPin.BeginFlush(), E_UNEXPECTED);
}

TEST_F(DSConnectionTest, AFilterDestroyedWhileConnectedReportsAnAssertionFailure)
{
    TDiagnosticCapture capture;
    auto filter = MakeComObject<TDSAudioSourceFilter>();
    filter->SetFormat(MakeWaveFormat(2, 16, 11025), 1000);
    const auto input = MakeComObject<TTestInputPin>();
    ASSERT_EQ(filter->AudioPin().Connect(input.Get(), nullptr), S_OK);
    input->Connected.Reset();   // the downstream side lets go without the graph disconnecting the pins
    filter.Reset();
    const auto reports = capture.Delivered();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].Object, "AudioOutput");
    EXPECT_EQ(reports[0].Message, "Assertion failure");
}

// ---- DeliverData ----

TEST_F(DSConnectionTest, DeliverDataSplitsTheTimesOverTheSamples)
{
    ConnectWithSampleSize(40);
    ASSERT_EQ(FFilter->Run(0), S_OK);
    const auto data = Ramp(100);
    ASSERT_TRUE(FFilter->DeliverData(data.data(), 100, true, 1000, 0));

    const auto received = FInput->Received();
    ASSERT_EQ(received.size(), 3u);
    // Each sample is stamped with its own share of [0, 1000]: 40, 40 and 20 bytes of 100, back to back,
    // the last ending at E.
    const REFERENCE_TIME starts[] = {0, 400, 800};
    const REFERENCE_TIME stops[] = {400, 800, 1000};
    std::vector<std::uint8_t> joined;
    for (std::size_t i = 0; i < 3; ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_TRUE(received[i].Timed);
        EXPECT_EQ(received[i].Start, starts[i]);
        EXPECT_EQ(received[i].Stop, stops[i]);
        EXPECT_TRUE(received[i].SyncPoint);
        joined.insert(joined.end(), received[i].Bytes.begin(), received[i].Bytes.end());
    }
    EXPECT_EQ(received[2].Bytes.size(), 20u);
    EXPECT_EQ(joined, data);
}

TEST_F(DSConnectionTest, DeliverDataWithoutTimesStampsNothing)
{
    ConnectWithSampleSize(40);
    ASSERT_EQ(FFilter->Run(0), S_OK);
    const auto data = Ramp(60);
    ASSERT_TRUE(FFilter->DeliverData(data.data(), 60, true, 0, 0));
    const auto received = FInput->Received();
    ASSERT_EQ(received.size(), 2u);
    for (const auto& sample : received)
    {
        EXPECT_FALSE(sample.Timed);
        EXPECT_FALSE(sample.SyncPoint);
    }
}

TEST_F(DSConnectionTest, DeliverDataReportsTheLastReceiveAndNeedsAConnection)
{
    const auto data = Ramp(10);
    EXPECT_FALSE(FFilter->DeliverData(data.data(), 10, false, 0, 0));
    ASSERT_EQ(FPin.Connect(FInput.Get(), nullptr), S_OK);
    // Connected but stopped: the allocator is decommitted, so the delivery ends instead of retrying.
    EXPECT_FALSE(FFilter->DeliverData(data.data(), 10, false, 0, 0));
    ASSERT_EQ(FFilter->Run(0), S_OK);
    FInput->ReceiveResult = E_FAIL;
    EXPECT_FALSE(FFilter->DeliverData(data.data(), 10, false, 0, 0));
    FInput->ReceiveResult = S_OK;
    EXPECT_TRUE(FFilter->DeliverData(data.data(), 10, false, 0, 0));
    EXPECT_EQ(FInput->Received().size(), 2u);
}

TEST(DSDeliveryConcurrency, DeliverDataBlockedInGetBufferReturnsFalseOnceTheFilterStops)
{
    const auto filter = MakeComObject<TDSAudioSourceFilter>();
    filter->SetFormat(MakeWaveFormat(2, 16, 11025), 1000);
    const auto input = MakeComObject<TTestInputPin>();
    const auto allocator = MakeComObject<TTestAllocator>();
    input->OwnAllocator = allocator;
    input->HoldSamples = true;   // the only sample stays downstream: the next GetBuffer waits
    ASSERT_EQ(filter->AudioPin().Connect(input.Get(), nullptr), S_OK);
    ASSERT_EQ(filter->Run(0), S_OK);
    const auto data = Ramp(200);
    ASSERT_TRUE(filter->DeliverData(data.data(), 100, false, 0, 0));
    ASSERT_TRUE(allocator->GetBufferEntered.WaitFor(std::chrono::seconds(0)));

    auto blocked =
        std::async(std::launch::async, [&] { return filter->DeliverData(data.data(), 100, false, 0, 0); });
    ASSERT_TRUE(allocator->GetBufferEntered.WaitFor(std::chrono::seconds(10)));
    // The delivery is in GetBuffer, waiting or about to wait for the held sample; either way the decommit
    // ends the wait, and DeliverData must give up instead of retrying.
    ASSERT_EQ(filter->Stop(), S_OK);
    ASSERT_EQ(blocked.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "delivery hangs";
    EXPECT_FALSE(blocked.get());
    EXPECT_EQ(input->Received().size(), 1u);

    input->ReleaseHeld();
    ASSERT_EQ(filter->AudioPin().Disconnect(), S_OK);
    input->Disconnect();
}

}   // namespace
}   // namespace harvolin
