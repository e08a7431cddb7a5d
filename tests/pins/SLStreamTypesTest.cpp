#include "pins/SLStreamTypes.h"
#include "buffers/SLSimpleDataBuffer.h"
#include "pins/OWStdTypes.h"
#include "rtl/Component.h"
#include "rtl/Diagnostics.h"
#include "tests/pins/TestPins.h"
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace harvolin
{
namespace
{

// What a real sink's owner received, as the names of the operations' classes.
std::string KindOf(const TOWNotifyOperation& operation)
{
    if (Is<TOWSuppliedBufferOperation>(operation))
        return "data";
    if (Is<TOWStartSampleRateOperation>(operation))
        return "start";
    if (Is<TOWStopOperation>(operation))
        return "stop";
    if (Is<TOWMasterPumpOperation>(operation))
        return "pump";
    return "other";
}

class TRecordingSink
{
public:
    explicit TRecordingSink(TComponent* owner)
        : Pin(owner,
              [this](TOWPin*, const TGUID&, std::uint32_t, const TRefPtr<TOWNotifyOperation>& operation)
              {
                  Kinds.push_back(KindOf(*operation));
                  Operations.push_back(operation);
                  return true;
              })
    {
    }
    // Before the pin: its last stop, as it disconnects on destruction, still finds the record.
    std::vector<std::string> Kinds;
    std::vector<TRefPtr<TOWNotifyOperation>> Operations;
    TSLOWRealSinkPin Pin;
};

class SLStreamTypesTest : public ::testing::Test
{
protected:
    TRefPtr<TSLRealBuffer> Block(double first)
    {
        auto buffer = MakeRef<TSLRealBuffer>(4);
        buffer->Fill(first);
        return buffer;
    }

    TComponentPtr<TTestForm> FForm = MakeComponent<TTestForm>();
    std::vector<std::string> FUpstream;
    TSLOWComboRealSourcePin FSource{FForm.get(), [this](TOWPin*, const TGUID&, std::uint32_t flags,
                                                        const TRefPtr<TOWNotifyOperation>& operation)
                                    {
                                        FUpstream.push_back(KindOf(*operation));
                                        return flags == kOWLastRecipient;
                                    }};
};

TEST(SLStreamTypesStorageTest, PerBlockOperationsReuseTheStorageOfTheLastOnesFreed)
{
    // A steady stream makes and frees one block operation and one room query per block: from the second
    // block on, each takes the storage its predecessor left, on the same thread, and carries its own data.
    auto first = MakeRef<TSLRealBuffer>(4);
    auto second = MakeRef<TSLRealBuffer>(4);
    auto block = MakeRef<TOWSuppliedBufferOperation>(first);
    auto query = MakeRef<TOWRoomQueryOperation>();
    query->Refuse();
    const void* blockStorage = block.Get();
    const void* queryStorage = query.Get();
    block.Reset();
    query.Reset();
    auto nextQuery = MakeRef<TOWRoomQueryOperation>();
    auto nextBlock = MakeRef<TOWSuppliedBufferOperation>(second);
    EXPECT_EQ(static_cast<const void*>(nextBlock.Get()), blockStorage);
    EXPECT_EQ(static_cast<const void*>(nextQuery.Get()), queryStorage);
    EXPECT_EQ(nextBlock->Buffer().Get(), second.Get());
    EXPECT_FALSE(nextQuery->Refused());
    // Storage still in use is never handed out again.
    auto third = MakeRef<TOWSuppliedBufferOperation>(first);
    EXPECT_NE(third.Get(), nextBlock.Get());
    // Storage freed by another thread stays with that thread, which frees it as it ends.
    std::thread([moved = std::move(third)]() mutable { moved.Reset(); }).join();
    EXPECT_EQ(nextBlock->Buffer().Get(), second.Get());
}

TEST_F(SLStreamTypesTest, AStartCarriesBlocksPerSecond)
{
    EXPECT_FLOAT_EQ(TOWStartSampleRateOperation(1024, 100000.0).Rate(), 97.65625f);
    EXPECT_FLOAT_EQ(TOWStartSampleRateOperation(0, 44100.0).Rate(), 44100.0f);
    const TOWStartSampleRateOperation start(1024, 100000.0);
    EXPECT_TRUE(Is<TOWStartRateOperation>(start));
    EXPECT_EQ(start.BufferSize(), 1024);
    EXPECT_EQ(start.SampleRate(), 100000.0);
}

TEST_F(SLStreamTypesTest, BlocksReachEverySinkAsOneSharedBuffer)
{
    TRecordingSink a(FForm.get()), b(FForm.get());
    ASSERT_TRUE(a.Pin.Connect(&FSource));
    ASSERT_TRUE(b.Pin.Connect(&FSource));
    EXPECT_EQ(a.Pin.LinkType(), kSLRealStreamType);
    auto block = Block(0.5);
    EXPECT_FALSE(FSource.SendData(block));   // no state group: the result is the group's
    ASSERT_EQ(a.Kinds, std::vector<std::string>{"data"});
    ASSERT_EQ(b.Kinds, std::vector<std::string>{"data"});
    auto delivered = RefCast<TOWSuppliedBufferOperation>(a.Operations[0]);
    EXPECT_EQ(delivered->Buffer().Get(), block.Get());
    EXPECT_EQ(a.Operations[0], b.Operations[0]);
}

TEST_F(SLStreamTypesTest, ASinkJoiningARunningStreamGetsTheKeptStartFirst)
{
    TRecordingSink early(FForm.get());
    ASSERT_TRUE(early.Pin.Connect(&FSource));
    FSource.Notify(MakeRef<TOWStartSampleRateOperation>(4, 400.0));
    FSource.SendData(Block(1.0));
    TRecordingSink late(FForm.get());
    ASSERT_TRUE(late.Pin.Connect(&FSource));
    FSource.SendData(Block(2.0));
    EXPECT_EQ(late.Kinds, (std::vector<std::string>{"start", "data"}));
    EXPECT_EQ(late.Operations[0], FSource.LastStart());
    FSource.SendStop();
    EXPECT_FALSE(FSource.LastStart());
    TRecordingSink afterStop(FForm.get());
    ASSERT_TRUE(afterStop.Pin.Connect(&FSource));
    EXPECT_TRUE(afterStop.Kinds.empty());
    EXPECT_EQ(early.Kinds, (std::vector<std::string>{"start", "data", "data", "stop"}));
}

TEST_F(SLStreamTypesTest, ASinkThatLeavesIsToldTheStreamStopsAndTheOthersAreNot)
{
    TRecordingSink leaving(FForm.get()), staying(FForm.get());
    ASSERT_TRUE(leaving.Pin.Connect(&FSource));
    ASSERT_TRUE(staying.Pin.Connect(&FSource));
    leaving.Pin.Disconnect();
    EXPECT_EQ(leaving.Kinds, std::vector<std::string>{"stop"});
    EXPECT_TRUE(staying.Kinds.empty());
    FSource.Disconnect();
    EXPECT_EQ(staying.Kinds, std::vector<std::string>{"stop"});
    EXPECT_EQ(staying.Pin.GetSourcePin(), nullptr);
}

TEST_F(SLStreamTypesTest, ASourceThatGoesStopsItsSinks)
{
    TRecordingSink sink(FForm.get());
    {
        TSLOWRealSourcePin source(FForm.get(), {});
        ASSERT_TRUE(sink.Pin.Connect(&source));
    }
    EXPECT_EQ(sink.Kinds, std::vector<std::string>{"stop"});
    EXPECT_EQ(sink.Pin.GetSourcePin(), nullptr);
}

TEST_F(SLStreamTypesTest, AClockSinkTicksOncePerSuppliedBlock)
{
    int ticks = 0;
    TOWClockSinkPin clock(FForm.get(), 0, [&](TOWPin*) { ++ticks; });
    ASSERT_TRUE(clock.Connect(&FSource));
    FSource.Notify(MakeRef<TOWStartSampleRateOperation>(4, 400.0));
    FSource.SendData(Block(1.0));
    FSource.SendStop();
    EXPECT_EQ(ticks, 1);
}

TEST_F(SLStreamTypesTest, RequestsForDataReachTheSourcesOwnerAsTheLastRecipient)
{
    TRecordingSink sink(FForm.get());
    EXPECT_FALSE(sink.Pin.RequestData(this));
    ASSERT_TRUE(sink.Pin.Connect(&FSource));
    EXPECT_TRUE(sink.Pin.RequestData(this));
    EXPECT_EQ(FUpstream, std::vector<std::string>{"pump"});
}

TEST_F(SLStreamTypesTest, SendingNeverRaisesEvenWhenAGroupPeerFails)
{
    // A group delivery's failure reaches the sender's Notify; SendData keeps it from the generator.
    class TFailingPeer final : public TOWStatePin, public IOWSignalStream
    {
    public:
        explicit TFailingPeer(TComponent* owner) : TOWStatePin(owner) { AddType(kSLRealStreamType); }
        ~TFailingPeer() override { BeforeDestruction(); }
        IOWInterface* QueryInterface(const TGUID& iid) override
        {
            if (iid == kSLRealStreamType || iid == IOWSignalStream::kIID)
                return static_cast<IOWSignalStream*>(this);
            return TOWStatePin::QueryInterface(iid);
        }
        bool NotifyStream(const TGUID&, const TRefPtr<TOWNotifyOperation>& operation, std::uint32_t) override
        {
            if (Is<TOWSuppliedBufferOperation>(*operation))
                throw std::runtime_error("peer failed");
            return false;
        }
    } peer(FForm.get());
    TSLOWRealSourcePin source(FForm.get(), {});
    ASSERT_TRUE(peer.Connect(&source));
    TDiagnosticCapture capture;
    EXPECT_NO_THROW(EXPECT_FALSE(source.SendData(Block(1.0))));
    // The dropped block is reported, under the owner's class as the form has no name.
    EXPECT_EQ(capture.Delivered(),
              (std::vector<TDiagnostic>{{"TTestForm.(Unpublished)", "SendData", "peer failed"}}));
}

TEST_F(SLStreamTypesTest, TheComboOutputOffersFloatBeforeTheRealTypeWins)
{
    std::vector<TGUID> types;
    for (std::size_t i = 0; i < FSource.PinType().Count(); ++i)
        types.push_back(FSource.PinType().Entries(i).TypeGuid);
    EXPECT_EQ(types,
              (std::vector<TGUID>{IOWClock::kIID, kSLSignalPinMark, kOWFloatSingleType, kSLRealStreamType}));
    EXPECT_NE(FSource.QueryInterface(kOWFloatSingleType), nullptr);
    EXPECT_NE(FSource.QueryInterface(IOWSignalStream::kIID), nullptr);
    EXPECT_EQ(TypeRegistry().TypeHandler(kSLRealStreamType), &OWStreamHandler);
    EXPECT_EQ(TypeRegistry().TypeHandler(kSLByteStreamType), &OWStreamHandler);
}

}   // namespace
}   // namespace harvolin
