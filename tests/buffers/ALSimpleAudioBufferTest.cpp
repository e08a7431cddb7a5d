#include "buffers/ALSimpleAudioBuffer.h"
#include "rtl/Exceptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

constexpr std::uint32_t kStereo = 0b11;
constexpr std::uint32_t kFrontRight = 1u << static_cast<std::uint32_t>(TALSpeaker::spFrontRight);

std::string MessageOf(const std::function<void()>& call)
{
    try
    {
        call();
    }
    catch (const ERangeError& e)
    {
        return e.what();
    }
    return "no range error";
}

std::vector<std::uint8_t> HeaderBytes(const TALAudioBuffer& buffer)
{
    const std::uint8_t* header = buffer.GetRead() - buffer.GetHeaderSize();
    return {header, header + kALWaveFormatSize};
}

class ALSimpleAudioBufferTest : public ::testing::Test
{
protected:
    // A buffer whose sample (frame, channel) is first + frame x 10 + channel, so that any misplaced copy
    // shows.
    static TRefPtr<TALAudioBuffer> MakeNumbered(std::uint32_t bits, std::uint32_t mask, std::uint32_t frames,
                                                std::uint32_t channels, std::int32_t first)
    {
        auto buffer = MakeRef<TALAudioBuffer>(bits, mask, frames, channels);
        for (std::uint32_t f = 0; f < frames; ++f)
            for (std::uint32_t c = 0; c < channels; ++c)
                buffer->SetSample(static_cast<std::int32_t>(f), static_cast<std::int32_t>(c),
                                  first + static_cast<std::int32_t>(f * 10 + c));
        return buffer;
    }
    static std::vector<std::uint8_t> SampleBytes(const TALAudioBuffer& buffer)
    {
        return {buffer.GetRead(), buffer.GetRead() + buffer.GetByteSize()};
    }
};

TEST_F(ALSimpleAudioBufferTest, NewBufferCarriesItsFormatInFrontOfTheSamples)
{
    auto buffer = MakeRef<TALAudioBuffer>(16, kStereo, 1024, 2);
    EXPECT_EQ(buffer->GetByteSize(), 4096u);
    EXPECT_EQ(buffer->GetSize(), 1024u);
    EXPECT_EQ(buffer->GetHeaderSize(), 40u);
    EXPECT_GE(buffer->AllocatedSize(), 4136u);
    const std::vector<std::uint8_t> expected = {0xFE, 0xFF, 0x02, 0x00, 0x11, 0x2B, 0x00, 0x00, 0x44, 0xAC,
                                                0x00, 0x00, 0x04, 0x00, 0x10, 0x00, 0x16, 0x00, 0x10, 0x00,
                                                0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    EXPECT_EQ(HeaderBytes(*buffer), expected);
}

TEST_F(ALSimpleAudioBufferTest, OddValidBitsGetTheNextContainerWidth)
{
    auto buffer = MakeRef<TALAudioBuffer>(20, kStereo, 10, 2);
    EXPECT_EQ(buffer->GetContainerBits(), 24u);
    EXPECT_EQ(buffer->GetValidBits(), 20u);
    EXPECT_EQ(buffer->GetBlockAlign(), 6u);
    EXPECT_EQ(buffer->GetByteSize(), 60u);
    EXPECT_EQ(buffer->GetWaveFormat().nAvgBytesPerSec, 6u * 11025);
}

TEST_F(ALSimpleAudioBufferTest, ImpossibleLayoutsAreRefusedWithoutTakingStorage)
{
    const std::int64_t inUse = SmartBufferManager().BlocksInUse();
    EXPECT_THROW((void)MakeRef<TALAudioBuffer>(0, kStereo, 16, 2), ERangeError);
    EXPECT_THROW((void)MakeRef<TALAudioBuffer>(33, kStereo, 16, 2), ERangeError);
    EXPECT_THROW((void)MakeRef<TALAudioBuffer>(16, kStereo, 16, 0), ERangeError);
    EXPECT_THROW((void)MakeRef<TALAudioBuffer>(32, kStereo, 0x10000000, 2), ERangeError);
    EXPECT_EQ(SmartBufferManager().BlocksInUse(), inUse);
}

TEST_F(ALSimpleAudioBufferTest, SetSizeKeepsTheHeaderAndPreservedSamples)
{
    auto buffer = MakeNumbered(16, kStereo, 4, 2, 100);
    const std::vector<std::uint8_t> header = HeaderBytes(*buffer);
    buffer->SetSize(3000, true);
    EXPECT_EQ(buffer->GetSize(), 3000u);
    EXPECT_EQ(buffer->GetByteSize(), 12000u);
    EXPECT_EQ(HeaderBytes(*buffer), header);
    EXPECT_EQ(buffer->GetSample(3, 1), 131);
    buffer->SetSize(2, true);
    EXPECT_EQ(buffer->GetSize(), 2u);
    EXPECT_EQ(HeaderBytes(*buffer), header);
    EXPECT_EQ(buffer->GetSample(1, 0), 110);
}

TEST_F(ALSimpleAudioBufferTest, GrowingASharedBufferLeavesTheOtherOwnerAlone)
{
    auto buffer = MakeNumbered(24, kStereo, 4, 2, -50);
    auto clone = CloneBuffer(*buffer);
    clone->SetSize(8, false);
    EXPECT_NE(clone->Storage(), buffer->Storage());
    EXPECT_EQ(clone->GetWaveFormat(), buffer->GetWaveFormat());
    EXPECT_EQ(buffer->GetSize(), 4u);
    EXPECT_EQ(buffer->GetSample(3, 1), -19);
}

TEST_F(ALSimpleAudioBufferTest, WritingASharedBufferKeepsTheFormatButNotTheSamples)
{
    auto buffer = MakeNumbered(24, 0b111, 8, 3, 7);
    buffer->MediaStorage().SetTimes(true, 1, 2);
    const std::vector<std::uint8_t> samples = SampleBytes(*buffer);
    auto clone = CloneBuffer(*buffer);
    (void)clone->GetWrite();
    ASSERT_NE(clone->Storage(), buffer->Storage());
    EXPECT_EQ(HeaderBytes(*clone), HeaderBytes(*buffer));
    EXPECT_EQ(clone->GetChannels(), 3u);
    EXPECT_EQ(clone->GetContainerBits(), 24u);
    EXPECT_EQ(clone->GetSize(), 8u);
    EXPECT_EQ(clone->GetTimeStamp().GetStop(), 2);
    EXPECT_EQ(SampleBytes(*buffer), samples);
}

TEST_F(ALSimpleAudioBufferTest, TakingOverAnythingButAnAudioBufferIsRefused)
{
    auto block = MakeRef<TSLBlockBuffer>(44);
    EXPECT_THROW((void)MakeRef<TALAudioBuffer>(static_cast<ISLBufferCore&>(*block)), ERangeError);
    auto buffer = MakeNumbered(16, kStereo, 4, 2, 1);
    EXPECT_THROW(buffer->Assign(*block), ERangeError);
    EXPECT_EQ(buffer->GetSample(3, 1), 32);
    auto shared = MakeRef<TALAudioBuffer>(static_cast<ISLBufferCore&>(*buffer));
    EXPECT_EQ(shared->Storage(), buffer->Storage());
    EXPECT_EQ(shared->GetSample(3, 1), 32);
}

TEST_F(ALSimpleAudioBufferTest, CopyIntoAFrontRightBufferTakesOnlyTheRightChannel)
{
    auto stereo = MakeNumbered(16, kStereo, 4, 2, 1000);
    auto right = MakeRef<TALAudioBuffer>(16, kFrontRight, 4, 1);
    right->Clear();
    stereo->CopyTo(1, *right, 3, 0);
    EXPECT_EQ(right->GetSample(0, 0), 1011);
    EXPECT_EQ(right->GetSample(1, 0), 1021);
    EXPECT_EQ(right->GetSample(2, 0), 1031);
    EXPECT_EQ(right->GetSample(3, 0), 0);
}

TEST_F(ALSimpleAudioBufferTest, CopyLeavesChannelsWithoutACounterpartUntouched)
{
    auto right = MakeNumbered(16, kFrontRight, 2, 1, 500);
    auto stereo = MakeRef<TALAudioBuffer>(16, kStereo, 2, 2);
    stereo->Fill(-9);
    right->CopyTo(0, *stereo, 2, 0);
    EXPECT_EQ(stereo->GetSample(0, 0), -9);
    EXPECT_EQ(stereo->GetSample(0, 1), 500);
    EXPECT_EQ(stereo->GetSample(1, 0), -9);
    EXPECT_EQ(stereo->GetSample(1, 1), 510);
}

TEST_F(ALSimpleAudioBufferTest, CopyPastEitherEndIsRefusedAndCopiesNothing)
{
    auto source = MakeNumbered(16, kStereo, 4, 2, 1);
    auto destination = MakeRef<TALAudioBuffer>(16, kStereo, 4, 2);
    destination->Fill(3);
    EXPECT_THROW(source->CopyTo(2, *destination, 3, 0), ERangeError);
    EXPECT_THROW(source->CopyTo(0, *destination, 2, 3), ERangeError);
    EXPECT_EQ(destination->GetSample(0, 0), 3);
    EXPECT_EQ(destination->GetSample(3, 1), 3);
}

struct TWidthCase
{
    const char* Name;
    std::uint32_t SourceBits;
    std::int32_t Source;
    std::uint32_t DestinationBits;
    std::int32_t Expected;
};

class ALSimpleAudioBufferWidthTest : public ::testing::TestWithParam<TWidthCase>
{
};

TEST_P(ALSimpleAudioBufferWidthTest, CopyBetweenWidthsConvertsEachPairedChannel)
{
    const TWidthCase& c = GetParam();
    auto source = MakeRef<TALAudioBuffer>(c.SourceBits, kStereo, 3, 2);
    auto destination = MakeRef<TALAudioBuffer>(c.DestinationBits, kStereo, 3, 2);
    for (std::int32_t f = 0; f < 3; ++f)
    {
        source->SetSample(f, 0, c.Source);
        source->SetSample(f, 1, c.Source);
    }
    destination->Clear();
    source->CopyTo(0, *destination, 2, 1);
    EXPECT_EQ(destination->GetSample(1, 0), c.Expected);
    EXPECT_EQ(destination->GetSample(2, 1), c.Expected);
    EXPECT_EQ(destination->GetSample(0, 0), destination->GetValidBits() <= 8 ? 127 : 0);
}

INSTANTIATE_TEST_SUITE_P(Widths, ALSimpleAudioBufferWidthTest,
                         ::testing::Values(TWidthCase{"SixteenFullScaleToEight", 16, 32767, 8, 254},
                                           TWidthCase{"SixteenLowestToEight", 16, -32768, 8, 0},
                                           TWidthCase{"TwentyFourFullScaleToSixteen", 24, 8388607, 16, 32767},
                                           TWidthCase{"TwentyFourHalfToSixteen", 24, 4194304, 16, 16383},
                                           TWidthCase{"EightSilenceToThirtyTwo", 8, 127, 32, 0},
                                           TWidthCase{"EightTopToSixteen", 8, 254, 16, 32767},
                                           TWidthCase{"EqualWidthsCopyExactly", 24, -1234567, 24, -1234567},
                                           TWidthCase{"EqualEightBitWidthsCopyExactly", 8, 42, 8, 42}),
                         [](const auto& testCase) { return std::string(testCase.param.Name); });

TEST_F(ALSimpleAudioBufferTest, SampleReadsOutsideTheBufferRaiseTheReadMessages)
{
    auto buffer = MakeRef<TALAudioBuffer>(16, kStereo, 1024, 2);
    EXPECT_EQ(MessageOf([&] { (void)buffer->GetSample(0, 2); }), "Channel out of range = 2");
    EXPECT_EQ(MessageOf([&] { (void)buffer->GetSample(1024, 0); }), "Index out of range = 1024");
    EXPECT_EQ(MessageOf([&] { (void)buffer->GetSample(-1, 0); }), "Index out of range = 4294967295");
    // The channel is checked first.
    EXPECT_EQ(MessageOf([&] { (void)buffer->GetSample(5000, 9); }), "Channel out of range = 9");
}

TEST_F(ALSimpleAudioBufferTest, SampleWritesOutsideTheBufferRaiseTheWriteMessagesAndWriteNothing)
{
    auto buffer = MakeRef<TALAudioBuffer>(16, kStereo, 1024, 2);
    buffer->Fill(5);
    EXPECT_EQ(MessageOf([&] { buffer->SetSample(1024, 0, 1); }), "Index out of rabge = 1024");
    EXPECT_EQ(MessageOf([&] { buffer->SetSample(0, 2, 1); }), "Channel out of rabge = 2");
    EXPECT_EQ(MessageOf([&] { buffer->SetSample(0, -1, 1); }), "Channel out of rabge = 4294967295");
    EXPECT_EQ(buffer->GetSample(1023, 1), 5);
    EXPECT_EQ(buffer->GetSample(0, 0), 5);
}

struct TSampleCase
{
    const char* Name;
    std::uint32_t Bits;
    std::int32_t Stored;
    std::int32_t Read;
    std::vector<std::uint8_t> Bytes;   // of channel 1 of frame 1
};

class ALSimpleAudioBufferSampleTest : public ::testing::TestWithParam<TSampleCase>
{
};

TEST_P(ALSimpleAudioBufferSampleTest, SampleIsStoredInTheLowBitsOfItsContainer)
{
    const TSampleCase& c = GetParam();
    auto buffer = MakeRef<TALAudioBuffer>(c.Bits, kStereo, 2, 2);
    buffer->Clear();
    buffer->SetSample(1, 1, c.Stored);
    EXPECT_EQ(buffer->GetSample(1, 1), c.Read);
    const std::uint32_t width = buffer->GetContainerBits() / 8;
    const std::uint8_t* at = buffer->GetRead() + buffer->GetBlockAlign() + width;
    EXPECT_EQ(std::vector<std::uint8_t>(at, at + width), c.Bytes);
    EXPECT_EQ(buffer->GetSample(1, 0), buffer->GetValidBits() <= 8 ? 127 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, ALSimpleAudioBufferSampleTest,
    ::testing::Values(
        TSampleCase{"EightBitsKeepTheLowByteUnsigned", 8, 300, 44, {44}},
        TSampleCase{"SixteenBitsWrap", 16, 40000, 40000 - 65536, {0x40, 0x9C}},
        TSampleCase{"TwentyFourBitsSignExtend", 24, -2, -2, {0xFE, 0xFF, 0xFF}},
        TSampleCase{"TwentyBitsUseThreeBytes", 20, 0x123456, 0x123456, {0x56, 0x34, 0x12}},
        TSampleCase{"ThirtyTwoBitsAreWhole", 32, -2147483647 - 1, -2147483647 - 1, {0x00, 0x00, 0x00, 0x80}}),
    [](const auto& testCase) { return std::string(testCase.param.Name); });

struct TFillCase
{
    const char* Name;
    std::uint32_t Bits;
    bool Clear;
    std::int32_t Value;
    std::vector<std::uint8_t> Sample;   // the bytes every sample must hold
};

class ALSimpleAudioBufferFillTest : public ::testing::TestWithParam<TFillCase>
{
};

TEST_P(ALSimpleAudioBufferFillTest, EverySampleOfEveryChannelGetsTheValue)
{
    const TFillCase& c = GetParam();
    // Odd frame and channel counts, so that partial groups of the wide fills are covered.
    auto buffer = MakeRef<TALAudioBuffer>(c.Bits, 0b111, 7, 3);
    std::memset(buffer->GetWrite(), 0x5A, buffer->GetByteSize());
    if (c.Clear)
        buffer->Clear();
    else
        buffer->Fill(c.Value);
    const std::vector<std::uint8_t> bytes(buffer->GetRead(), buffer->GetRead() + buffer->GetByteSize());
    ASSERT_EQ(bytes.size(), 21 * c.Sample.size());
    for (std::size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(bytes[i], c.Sample[i % c.Sample.size()]) << "byte " << i;
    EXPECT_EQ(HeaderBytes(*buffer)[0], 0xFE) << "the header is not a sample";
}

INSTANTIATE_TEST_SUITE_P(
    Widths, ALSimpleAudioBufferFillTest,
    ::testing::Values(TFillCase{"EightBitsAddTheZeroLevel", 8, false, 1, {128}},
                      TFillCase{"EightBitsWrapModulo256", 8, false, 200, {71}},
                      TFillCase{"EightBitClearGives127", 8, true, 0, {127}},
                      TFillCase{"EightBitsLargestValueWraps", 8, false, 2147483647, {126}},
                      TFillCase{"SixteenBits", 16, false, -2, {0xFE, 0xFF}},
                      TFillCase{"SixteenBitClear", 16, true, 0, {0, 0}},
                      TFillCase{"TwentyFourBitsTakeTheLow24", 24, false, 0x7A123456, {0x56, 0x34, 0x12}},
                      TFillCase{"TwentyFourBitClear", 24, true, 0, {0, 0, 0}},
                      TFillCase{"ThirtyTwoBits", 32, false, 0x12345678, {0x78, 0x56, 0x34, 0x12}},
                      TFillCase{"ThirtyTwoBitClear", 32, true, 0, {0, 0, 0, 0}}),
    [](const auto& testCase) { return std::string(testCase.param.Name); });

TEST_F(ALSimpleAudioBufferTest, ScaleRoundsHalvesToEvenInTheContainer)
{
    auto wide = MakeRef<TALAudioBuffer>(16, kStereo, 2, 2);
    wide->SetSample(0, 0, 3);
    wide->SetSample(0, 1, -3);
    wide->SetSample(1, 0, 5);
    wide->SetSample(1, 1, 30000);
    wide->Scale(0.5);
    EXPECT_EQ(wide->GetSample(0, 0), 2);
    EXPECT_EQ(wide->GetSample(0, 1), -2);
    EXPECT_EQ(wide->GetSample(1, 0), 2);
    EXPECT_EQ(wide->GetSample(1, 1), 15000);

    auto bytes = MakeRef<TALAudioBuffer>(8, kStereo, 1, 2);
    bytes->SetSample(0, 0, 200);
    bytes->SetSample(0, 1, 127);
    bytes->Scale(0.5);
    // Scaled as unsigned bytes: the zero level moves too.
    EXPECT_EQ(bytes->GetSample(0, 0), 100);
    EXPECT_EQ(bytes->GetSample(0, 1), 64);
}

TEST_F(ALSimpleAudioBufferTest, OneChannelOperandIsAppliedToEveryChannel)
{
    auto stereo = MakeNumbered(16, kStereo, 3, 2, 100);
    auto mono = MakeNumbered(16, 1u << static_cast<std::uint32_t>(TALSpeaker::spFrontCenter), 2, 1, 1);
    stereo->Add(*mono);
    // Only the frames both have.
    EXPECT_EQ(stereo->GetSample(0, 0), 101);
    EXPECT_EQ(stereo->GetSample(0, 1), 102);
    EXPECT_EQ(stereo->GetSample(1, 0), 121);
    EXPECT_EQ(stereo->GetSample(1, 1), 122);
    EXPECT_EQ(stereo->GetSample(2, 0), 120);
}

TEST_F(ALSimpleAudioBufferTest, ArithmeticPairsChannelsBySpeakerPosition)
{
    // Own channels: front left, front right. Other: front right, front center.
    auto own = MakeRef<TALAudioBuffer>(32, kStereo, 1, 2);
    own->SetSample(0, 0, 100);
    own->SetSample(0, 1, 100);
    auto other = MakeRef<TALAudioBuffer>(32, kFrontRight | 0b100, 1, 2);
    other->SetSample(0, 0, 7);
    other->SetSample(0, 1, 1000);
    own->Subtract(*other);
    EXPECT_EQ(own->GetSample(0, 0), 100);
    EXPECT_EQ(own->GetSample(0, 1), 93);
}

struct TArithmeticCase
{
    const char* Name;
    std::uint32_t Bits;
    TSampleOp Op;
    std::int32_t Own;
    std::int32_t Other;
    std::int32_t Expected;
};

class ALSimpleAudioBufferArithmeticTest : public ::testing::TestWithParam<TArithmeticCase>
{
};

TEST_P(ALSimpleAudioBufferArithmeticTest, EachWidthUsesItsOwnSampleArithmetic)
{
    const TArithmeticCase& c = GetParam();
    auto own = MakeRef<TALAudioBuffer>(c.Bits, kStereo, 1, 2);
    own->SetSample(0, 0, c.Own);
    own->SetSample(0, 1, c.Own);
    auto other = MakeRef<TALAudioBuffer>(c.Bits, kStereo, 1, 2);
    other->SetSample(0, 0, c.Other);
    other->SetSample(0, 1, c.Other);
    switch (c.Op)
    {
    case TSampleOp::soAdd:
        own->Add(*other);
        break;
    case TSampleOp::soSubtract:
        own->Subtract(*other);
        break;
    case TSampleOp::soMultiply:
        own->Multiply(*other);
        break;
    case TSampleOp::soDivide:
        own->Divide(*other);
        break;
    }
    EXPECT_EQ(own->GetSample(0, 0), c.Expected);
    EXPECT_EQ(own->GetSample(0, 1), c.Expected);
    EXPECT_EQ(other->GetSample(0, 0), c.Other);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, ALSimpleAudioBufferArithmeticTest,
    ::testing::Values(
        TArithmeticCase{"EightBitAddRemovesOneZeroLevel", 8, TSampleOp::soAdd, 137, 130, 140},
        TArithmeticCase{"EightBitAddWraps", 8, TSampleOp::soAdd, 250, 250, 117},
        TArithmeticCase{"EightBitDivideBySilenceGivesSilence", 8, TSampleOp::soDivide, 200, 127, 127},
        TArithmeticCase{"SixteenBitAddSaturates", 16, TSampleOp::soAdd, 30000, 10000, 32767},
        TArithmeticCase{"SixteenBitMultiplySaturates", 16, TSampleOp::soMultiply, -200, 200, -32768},
        TArithmeticCase{"SixteenBitDivideRoundsToEven", 16, TSampleOp::soDivide, 7, 2, 4},
        TArithmeticCase{"SixteenBitDivideByZero", 16, TSampleOp::soDivide, -3, 0, -32768},
        TArithmeticCase{"TwentyFourBitSubtract", 24, TSampleOp::soSubtract, -5, 8388600, -8388605},
        TArithmeticCase{"TwentyFourBitDivideByZero", 24, TSampleOp::soDivide, 9, 0, 8388607},
        TArithmeticCase{"ThirtyTwoBitMultiplyWraps", 32, TSampleOp::soMultiply, 65536, 65536, 0}),
    [](const auto& testCase) { return std::string(testCase.param.Name); });

TEST_F(ALSimpleAudioBufferTest, ArithmeticBetweenDifferentWidthsIsRefusedAndChangesNothing)
{
    auto own = MakeNumbered(16, kStereo, 2, 2, 10);
    auto other = MakeNumbered(24, kStereo, 2, 2, 10);
    EXPECT_THROW(own->Add(*other), ERangeError);
    EXPECT_EQ(own->GetSample(1, 1), 21);
}

TEST_F(ALSimpleAudioBufferTest, AccessObjectForwardsToItsBufferAndDetachesWhenItGoes)
{
    auto buffer = MakeNumbered(16, kStereo, 4, 2, 0);
    auto operand = MakeNumbered(16, kStereo, 4, 2, 1000);
    TRefPtr<IALAudioDataBufferAccess> access = buffer->GetAudioAccess();
    TRefPtr<IALAudioDataBufferAccess> operandAccess = operand->GetAudioAccess();
    EXPECT_EQ(access->GetChannels(), 2u);
    EXPECT_EQ(access->GetRead(), buffer->GetRead());
    EXPECT_EQ(&access->GetTimeStamp(), &buffer->GetTimeStamp());
    access->SetSample(2, 1, -4);
    EXPECT_EQ(buffer->GetSample(2, 1), -4);
    access->Add(*operandAccess);
    EXPECT_EQ(buffer->GetSample(3, 0), 1060);
    access->Scale(0.5);
    EXPECT_EQ(access->GetSample(3, 0), 530);
    EXPECT_EQ(MessageOf([&] { (void)access->GetSample(0, 2); }), "Channel out of range = 2");

    buffer = nullptr;
    EXPECT_EQ(access->GetBuffer(), nullptr);
    EXPECT_THROW((void)access->GetChannels(), ESLAccessDetached);
    EXPECT_THROW(access->Fill(1), ESLAccessDetached);
    EXPECT_THROW(operandAccess->Add(*access), ESLAccessDetached);
    EXPECT_EQ(operand->GetSample(0, 0), 1000);
}

TEST_F(ALSimpleAudioBufferTest, AnswersEveryBufferInterfaceByQuery)
{
    auto buffer = MakeRef<TALAudioBuffer>(16, kStereo, 4, 2);
    EXPECT_EQ(QueryBuffer<IALAudioBuffer>(buffer.Get()), static_cast<IALAudioBuffer*>(buffer.Get()));
    EXPECT_NE(QueryBuffer<IMLMediaBuffer>(buffer.Get()), nullptr);
    ISLDataBuffer* data = QueryBuffer<ISLDataBuffer>(buffer.Get());
    ASSERT_NE(data, nullptr);
    // The plain interface's access object is the plain one, over the samples only.
    TRefPtr<ISLDataBufferAccess> plain = data->GetAccess();
    EXPECT_EQ(plain->GetByteSize(), 16u);
    EXPECT_EQ(dynamic_cast<IALAudioDataBufferAccess*>(plain.Get()), nullptr);
}

TEST_F(ALSimpleAudioBufferTest, SteadyStreamOfEqualBuffersTakesNothingFromTheHeapOnceWarm)
{
    TSLSmartBufferManager& pool = SmartBufferManager();
    auto produce = []
    {
        auto buffer = MakeRef<TALAudioBuffer>(16, kStereo, 1024, 2);
        buffer->Fill(1);
        auto clone = CloneBuffer(*buffer);
        clone->SetSample(0, 0, 2);   // a private copy: storage of its own
        return clone->GetSample(0, 0) + buffer->GetSample(0, 0);
    };
    EXPECT_EQ(produce(), 3);
    const std::uint64_t heap = pool.HeapAllocations();
    const std::int64_t inUse = pool.BlocksInUse();
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(produce(), 3);
    EXPECT_EQ(pool.HeapAllocations(), heap);
    EXPECT_EQ(pool.BlocksInUse(), inUse);
}

}   // namespace
}   // namespace harvolin
