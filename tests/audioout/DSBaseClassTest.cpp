#include "audioout/DSBaseClass.h"
#include "rtl/Exceptions.h"
#include "tests/audioout/DSTestPins.h"
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace harvolin
{
namespace
{

using testing::MakeWaveFormat;

class DSBaseClassTest : public ::testing::Test
{
protected:
    void SetUp() override { FLiveBlocks = CoTaskMemLiveBlocks(); }
    void TearDown() override { EXPECT_EQ(CoTaskMemLiveBlocks(), FLiveBlocks) << "task memory leaked"; }

    TRefPtr<TDSAudioSourceFilter> FFilter = MakeComObject<TDSAudioSourceFilter>();
    TDSAudioSourceStreamPin& FPin = FFilter->AudioPin();
private:
    std::int64_t FLiveBlocks = 0;
};

// Frees a type record a test received as a value.
struct TTypeGuard
{
    AM_MEDIA_TYPE Type{};
    ~TTypeGuard() { FreeMediaType(Type); }
};

std::uint16_t Field16(const AM_MEDIA_TYPE& type, std::size_t offset)
{
    std::uint16_t value;
    std::memcpy(&value, type.pbFormat + offset, sizeof value);
    return value;
}

TEST_F(DSBaseClassTest, FilterIsTheAudioSourceWithOneOutputPin)
{
    TGUID classId{};
    ASSERT_EQ(FFilter->GetClassID(&classId), S_OK);
    EXPECT_EQ(classId, MakeGuid("{AC11DC21-BDC9-49D9-BCAE-073AF5C1962C}"));
    FILTER_INFO info{};
    ASSERT_EQ(FFilter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, "AudioSource");
    EXPECT_EQ(info.pGraph, nullptr);

    IPin* found = nullptr;
    ASSERT_EQ(FFilter->FindPin("AudioOutput", &found), S_OK);
    const auto pin = AdoptRef(found);
    EXPECT_EQ(pin.Get(), static_cast<IPin*>(&FPin));
    EXPECT_EQ(FFilter->FindPin("Missing", &found), VFW_E_NOT_FOUND);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(FFilter->FindPin("AudioOutput", nullptr), E_POINTER);

    PIN_DIRECTION direction{};
    ASSERT_EQ(pin->QueryDirection(&direction), S_OK);
    EXPECT_EQ(direction, PINDIR_OUTPUT);
    PIN_INFO pinInfo{};
    ASSERT_EQ(pin->QueryPinInfo(&pinInfo), S_OK);
    const auto owner = AdoptRef(pinInfo.pFilter);
    EXPECT_EQ(owner.Get(), static_cast<IBaseFilter*>(FFilter.Get()));
    EXPECT_STREQ(pinInfo.achName, "AudioOutput");
    char* id = nullptr;
    ASSERT_EQ(pin->QueryId(&id), S_OK);
    EXPECT_STREQ(id, "AudioOutput");
    CoTaskMemFree(id);
}

TEST_F(DSBaseClassTest, QueriesAnswerTheClassInterfacesAndOneIdentity)
{
    EXPECT_TRUE(QueryAs<IMediaFilter>(FFilter.Get()));
    EXPECT_TRUE(QueryAs<IPersist>(FFilter.Get()));
    EXPECT_FALSE(QueryAs<IPin>(FFilter.Get()));
    const auto quality = QueryAs<IQualityControl>(static_cast<IPin*>(&FPin));
    ASSERT_TRUE(quality);
    EXPECT_FALSE(QueryAs<IBaseFilter>(static_cast<IPin*>(&FPin)));
    EXPECT_EQ(QueryAs<IUnknown>(quality.Get()), QueryAs<IUnknown>(static_cast<IPin*>(&FPin)));
    EXPECT_EQ(QueryAs<IUnknown>(FFilter.Get()).Get(), FFilter->NonDelegatingUnknown());
}

TEST_F(DSBaseClassTest, JoiningAGraphRenamesTheFilterWithoutCountingTheGraph)
{
    auto graph =
        reinterpret_cast<IFilterGraph*>(0x1);   // never called: the filter keeps it as a plain pointer
    ASSERT_EQ(FFilter->JoinFilterGraph(graph, "Source 1"), S_OK);
    ASSERT_EQ(FFilter->JoinFilterGraph(nullptr, nullptr), S_OK);
    FILTER_INFO info{};
    ASSERT_EQ(FFilter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, "");
    EXPECT_EQ(info.pGraph, nullptr);
    EXPECT_EQ(FFilter->QueryVendorInfo(nullptr), E_NOTIMPL);
}

class TTestClock final : public TComObject<IReferenceClock>
{
public:
    REFERENCE_TIME Now = 0;
    HRESULT GetTime(REFERENCE_TIME* time) override
    {
        *time = Now;
        return S_OK;
    }
    HRESULT AdviseTime(REFERENCE_TIME, REFERENCE_TIME, TEvent*, std::uintptr_t*) override
    {
        return E_NOTIMPL;
    }
    HRESULT AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, TSemaphore*, std::uintptr_t*) override
    {
        return E_NOTIMPL;
    }
    HRESULT Unadvise(std::uintptr_t) override { return S_FALSE; }
};

TEST_F(DSBaseClassTest, StreamTimeCountsFromTheRunStartOnTheSyncSource)
{
    REFERENCE_TIME time = 0;
    EXPECT_EQ(FFilter->StreamTime(&time), VFW_E_NO_CLOCK);
    const auto clock = MakeComObject<TTestClock>();
    ASSERT_EQ(FFilter->SetSyncSource(clock.Get()), S_OK);
    IReferenceClock* kept = nullptr;
    ASSERT_EQ(FFilter->GetSyncSource(&kept), S_OK);
    EXPECT_EQ(AdoptRef(kept).Get(), static_cast<IReferenceClock*>(clock.Get()));

    ASSERT_EQ(FFilter->Run(250000), S_OK);   // no connected pin: nothing to commit
    clock->Now = 1250000;
    ASSERT_EQ(FFilter->StreamTime(&time), S_OK);
    EXPECT_EQ(time, 1000000);
    FILTER_STATE state{};
    ASSERT_EQ(FFilter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    EXPECT_EQ(FFilter->Stop(), S_OK);
    ASSERT_EQ(FFilter->SetSyncSource(nullptr), S_OK);
    ASSERT_EQ(FFilter->GetSyncSource(&kept), S_OK);
    EXPECT_EQ(kept, nullptr);
}

// ---- media types ----

TEST_F(DSBaseClassTest, OffersOneTypeAndRefusesOtherPositions)
{
    FPin.SetFormat(MakeWaveFormat(2, 16, 11025), 1000);
    TTypeGuard type;
    EXPECT_EQ(FPin.GetMediaType(1, type.Type), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(FPin.GetMediaType(-1, type.Type), E_INVALIDARG);
    EXPECT_EQ(type.Type.pbFormat, nullptr);
}

TEST_F(DSBaseClassTest, StereoSixteenBitIsOfferedAsThePlainWaveFormat)
{
    FPin.SetFormat(MakeWaveFormat(2, 16, 100000), 1000);
    TTypeGuard type;
    ASSERT_EQ(FPin.GetMediaType(0, type.Type), S_OK);
    EXPECT_EQ(type.Type.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(type.Type.subtype, MEDIASUBTYPE_PCM);
    EXPECT_EQ(type.Type.formattype, FORMAT_WaveFormatEx);
    EXPECT_EQ(type.Type.bFixedSizeSamples, 1);
    EXPECT_EQ(type.Type.bTemporalCompression, 0);
    EXPECT_EQ(type.Type.lSampleSize, 1u);
    EXPECT_EQ(type.Type.pUnk, nullptr);
    ASSERT_EQ(type.Type.cbFormat, 18u);
    EXPECT_EQ(Field16(type.Type, 0), 1);    // wFormatTag: PCM
    EXPECT_EQ(Field16(type.Type, 2), 2);    // nChannels
    EXPECT_EQ(Field16(type.Type, 12), 4);   // nBlockAlign
    EXPECT_EQ(Field16(type.Type, 16), 0);   // cbSize
    std::uint32_t rate = 0;
    std::memcpy(&rate, type.Type.pbFormat + 4, sizeof rate);
    EXPECT_EQ(rate, 100000u);
}

struct TExtensibleCase
{
    const char* Name;
    std::uint16_t Channels;
    std::uint16_t Bits;
};

class DSExtensibleFormatTest : public DSBaseClassTest, public ::testing::WithParamInterface<TExtensibleCase>
{
};

TEST_P(DSExtensibleFormatTest, IsOfferedAsTheWholeExtensibleRecord)
{
    const auto format = MakeWaveFormat(GetParam().Channels, GetParam().Bits, 48000);
    FPin.SetFormat(format, 500);
    TTypeGuard type;
    ASSERT_EQ(FPin.GetMediaType(0, type.Type), S_OK);
    ASSERT_EQ(type.Type.cbFormat, 40u);
    EXPECT_EQ(Field16(type.Type, 16), 22);
    EXPECT_EQ(std::memcmp(type.Type.pbFormat, &format, 40), 0);
}

INSTANTIATE_TEST_SUITE_P(FormatsBeyondStereoSixteenBit, DSExtensibleFormatTest,
                         ::testing::Values(TExtensibleCase{"SixChannels", 6, 16},
                                           TExtensibleCase{"TwentyFourBits", 2, 24}),
                         [](const auto& testCase) { return std::string(testCase.param.Name); });

TEST_F(DSBaseClassTest, AcceptsAudioPcmWithAFormatBlockOnly)
{
    std::uint8_t block[4] = {};
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Audio;
    type.subtype = MEDIASUBTYPE_PCM;
    type.cbFormat = sizeof block;
    type.pbFormat = block;
    EXPECT_EQ(FPin.CheckMediaType(type), S_OK);
    EXPECT_EQ(FPin.QueryAccept(&type), S_OK);

    type.cbFormat = 0;
    type.pbFormat = nullptr;
    EXPECT_EQ(FPin.CheckMediaType(type), E_INVALIDARG);
    EXPECT_EQ(FPin.QueryAccept(&type), S_FALSE);

    type.cbFormat = sizeof block;
    type.pbFormat = block;
    type.subtype = GUID_NULL;
    EXPECT_EQ(FPin.CheckMediaType(type), E_INVALIDARG);
}

TEST_F(DSBaseClassTest, BufferHoldsTheDurationPlusTwoMillisecondsAndMustBeGrantedWhole)
{
    // The size comes from the connection's format, so the pin is connected first.
    FPin.SetFormat(MakeWaveFormat(2, 16, 11025), 1000);
    const auto input = MakeComObject<testing::TTestInputPin>();
    ASSERT_EQ(FPin.Connect(input.Get(), nullptr), S_OK);

    const auto allocator = MakeComObject<TMemAllocator, IMemAllocator>();
    ALLOCATOR_PROPERTIES properties{3, 0, 4, 8};
    ASSERT_EQ(FPin.DecideBufferSize(*allocator, properties), S_OK);
    ALLOCATOR_PROPERTIES granted{};
    ASSERT_EQ(allocator->GetProperties(&granted), S_OK);
    EXPECT_EQ(granted.cBuffers, 1);
    EXPECT_EQ(granted.cbBuffer, 44188);
    EXPECT_EQ(granted.cbAlign, 4);
    EXPECT_EQ(granted.cbPrefix, 8);

    const auto stingy = MakeComObject<testing::TTestAllocator>();
    stingy->Shortfall = 1;
    EXPECT_EQ(FPin.DecideBufferSize(*stingy, properties), E_FAIL);

    ASSERT_EQ(FPin.Disconnect(), S_OK);
    input->Disconnect();
}

// ---- enumerators ----

TEST_F(DSBaseClassTest, PinEnumeratorHandsOutEachPinOnceAndClones)
{
    IEnumPins* made = nullptr;
    ASSERT_EQ(FFilter->EnumPins(&made), S_OK);
    const auto pins = AdoptRef(made);
    IPin* got[2] = {};
    std::uint32_t fetched = 0;
    EXPECT_EQ(pins->Next(2, got, nullptr), E_INVALIDARG);
    ASSERT_EQ(pins->Next(2, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(AdoptRef(got[0]).Get(), static_cast<IPin*>(&FPin));
    EXPECT_EQ(pins->Next(1, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);

    EXPECT_EQ(pins->Skip(1), S_FALSE);
    ASSERT_EQ(pins->Reset(), S_OK);
    ASSERT_EQ(pins->Skip(1), S_OK);
    IEnumPins* copied = nullptr;
    ASSERT_EQ(pins->Clone(&copied), S_OK);
    const auto copy = AdoptRef(copied);
    EXPECT_EQ(copy->Next(1, got, &fetched), S_FALSE);   // the copy is past the one pin, as the original
    ASSERT_EQ(copy->Reset(), S_OK);
    ASSERT_EQ(copy->Next(1, got, &fetched), S_OK);
    EXPECT_EQ(AdoptRef(got[0]).Get(), static_cast<IPin*>(&FPin));
}

// A source filter whose pins the test adds, to change the pin version under an enumerator.
class TTestSourceFilter final : public TDSBaseSourceFilter
{
public:
    explicit TTestSourceFilter(IUnknown* outer = nullptr)
        : TDSBaseSourceFilter("Test", outer, MakeGuid("{11111111-2222-3333-4444-555555555555}"))
    {
    }
    TDSAudioSourceStreamPin* AddAudioPin() { return new TDSAudioSourceStreamPin(this); }
};

TEST_F(DSBaseClassTest, PinEnumeratorOutOfSyncAfterAPinChangeStartsAgainWithoutRepeats)
{
    const auto filter = MakeComObject<TTestSourceFilter>();
    filter->AddAudioPin();
    IEnumPins* made = nullptr;
    ASSERT_EQ(filter->EnumPins(&made), S_OK);
    const auto pins = AdoptRef(made);
    IPin* got = nullptr;
    std::uint32_t fetched = 0;
    ASSERT_EQ(pins->Next(1, &got, &fetched), S_OK);
    const auto first = AdoptRef(got);

    auto* second = filter->AddAudioPin();
    EXPECT_EQ(pins->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
    IEnumPins* copy = nullptr;
    EXPECT_EQ(pins->Clone(&copy), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(copy, nullptr);
    // Next resynchronises: the first pin was handed out already, so only the new one comes.
    ASSERT_EQ(pins->Next(1, &got, &fetched), S_OK);
    EXPECT_EQ(AdoptRef(got).Get(), static_cast<IPin*>(second));
    EXPECT_EQ(pins->Next(1, &got, &fetched), S_FALSE);
}

TEST_F(DSBaseClassTest, MediaTypeEnumeratorHandsOutTaskMemoryAndGoesOutOfSyncWithTheFormat)
{
    FPin.SetFormat(MakeWaveFormat(2, 16, 11025), 1000);
    IEnumMediaTypes* made = nullptr;
    ASSERT_EQ(FPin.EnumMediaTypes(&made), S_OK);
    const auto types = AdoptRef(made);
    AM_MEDIA_TYPE* got[2] = {};
    std::uint32_t fetched = 0;
    ASSERT_EQ(types->Next(2, got, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 1u);
    EXPECT_EQ(got[0]->cbFormat, 18u);
    DeleteMediaType(got[0]);

    ASSERT_EQ(types->Reset(), S_OK);
    IEnumMediaTypes* copied = nullptr;
    ASSERT_EQ(types->Clone(&copied), S_OK);
    const auto copy = AdoptRef(copied);
    FPin.SetFormat(MakeWaveFormat(6, 16, 11025), 1000);
    EXPECT_EQ(types->Next(1, got, &fetched), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(copy->Clone(&copied), VFW_E_ENUM_OUT_OF_SYNC);
    ASSERT_EQ(copy->Reset(), S_OK);
    ASSERT_EQ(copy->Next(1, got, nullptr), S_OK);
    EXPECT_EQ(got[0]->cbFormat, 40u);
    DeleteMediaType(got[0]);
}

// ---- lifetime and aggregation ----

TEST_F(DSBaseClassTest, APinReferenceKeepsTheFilterAlive)
{
    auto filter = MakeComObject<TDSAudioSourceFilter>();
    const auto pin = TRefPtr<IPin>(&filter->AudioPin());
    filter.Reset();
    PIN_INFO info{};
    ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
    const auto owner = AdoptRef(info.pFilter);
    TGUID classId{};
    ASSERT_EQ(owner->GetClassID(&classId), S_OK);
    EXPECT_EQ(classId, CLSID_DSAudioSourceFilter);
}

// Receives what an aggregated filter delegates, and answers it through the inner object.
class TOuterUnknown final : public IUnknown
{
public:
    TDSDualUnknown* Inner = nullptr;
    int Queries = 0;
    int AddRefs = 0;
    int Releases = 0;

    HRESULT QueryInterface(const TGUID& iid, void** object) override
    {
        ++Queries;
        return Inner->NonDelegatingQueryInterface(iid, object);
    }
    std::uint32_t AddRef() override { return static_cast<std::uint32_t>(++AddRefs); }
    std::uint32_t Release() override { return static_cast<std::uint32_t>(++Releases); }
};

TEST_F(DSBaseClassTest, AnAggregatedFilterDelegatesItsUnknownToTheOuterObject)
{
    TOuterUnknown outer;
    auto* filter = new TTestSourceFilter(&outer);
    outer.Inner = filter;
    IUnknown* inner = filter->NonDelegatingUnknown();
    inner->AddRef();   // the outer object's one reference on the inner one

    IBaseFilter* exposed = filter;
    void* found = nullptr;
    ASSERT_EQ(exposed->QueryInterface(IMediaFilter::kIID, &found), S_OK);
    EXPECT_EQ(outer.Queries, 1);
    EXPECT_EQ(outer.AddRefs, 1);   // the interface handed out counts on the outer object
    static_cast<IMediaFilter*>(found)->Release();
    EXPECT_EQ(outer.Releases, 1);
    exposed->AddRef();
    exposed->Release();
    EXPECT_EQ(outer.AddRefs, 2);
    EXPECT_EQ(outer.Releases, 2);

    // The non-delegating unknown answers IUnknown with itself and lives by its own count.
    ASSERT_EQ(inner->QueryInterface(IUnknown::kIID, &found), S_OK);
    EXPECT_EQ(found, inner);
    EXPECT_EQ(inner->Release(), 1u);
    EXPECT_EQ(inner->Release(), 0u);   // deletes the filter: AddressSanitizer catches a leak or a double free
}

TEST_F(DSBaseClassTest, MissingFilterOrLockIsAnAssertionFailure)
{
    try
    {
        TDSAudioSourceStreamPin pin(nullptr);
        FAIL() << "a pin without its filter was made";
    }
    catch (const EAssertionFailed& e)
    {
        EXPECT_EQ(e.Message(), "Assertion failure");
    }
    try
    {
        class TNoLockFilter final : public TDSBaseFilter
        {
        public:
            TNoLockFilter() : TDSBaseFilter("NoLock", nullptr, nullptr, GUID_NULL) {}
            std::int32_t GetPinCount() override { return 0; }
            TDSBasePin* GetPin(std::int32_t) override { return nullptr; }
        };
        const auto filter = std::make_unique<TNoLockFilter>();
        FAIL() << "a filter without a lock was made";
    }
    catch (const EAssertionFailed& e)
    {
        EXPECT_EQ(e.Message(), "Lock = nil !");
    }
}

}   // namespace
}   // namespace harvolin
