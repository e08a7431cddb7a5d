#include "media/ComObject.h"
#include "media/MediaTypes.h"
#include "rtl/Diagnostics.h"
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <thread>

namespace harvolin
{
namespace
{

class ITestBase : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{6C0D4A10-2F1B-4E7A-9B31-0C5E2B7A9D01}");
    using TParent = IUnknown;
    virtual int Base() = 0;
};

class ITestDerived : public ITestBase
{
public:
    static constexpr TGUID kIID = MakeGuid("{6C0D4A10-2F1B-4E7A-9B31-0C5E2B7A9D02}");
    using TParent = ITestBase;
    virtual int Derived() = 0;
};

class ITestOther : public IUnknown
{
public:
    static constexpr TGUID kIID = MakeGuid("{6C0D4A10-2F1B-4E7A-9B31-0C5E2B7A9D03}");
    using TParent = IUnknown;
    virtual int Other() = 0;
};

constexpr TGUID kUnanswered = MakeGuid("{6C0D4A10-2F1B-4E7A-9B31-0C5E2B7A9D0F}");

class TTestObject final : public TComObject<ITestDerived, ITestOther>
{
public:
    explicit TTestObject(int* destroyed = nullptr) : FDestroyed(destroyed) {}
    ~TTestObject() override
    {
        if (FDestroyed != nullptr)
            ++*FDestroyed;
    }
    int Base() override { return 1; }
    int Derived() override { return 2; }
    int Other() override { return 3; }
private:
    int* FDestroyed;
};

int GFactoryMade = 0;
int GFactoryDestroyed = 0;

IUnknown* MakeTestObject()
{
    ++GFactoryMade;
    return MakeComObject<TTestObject, ITestDerived>(&GFactoryDestroyed).Detach();
}

IUnknown* MakeNothing()
{
    throw std::runtime_error("no parts");
}

constexpr TGUID kTestClass = MakeGuid("{6C0D4A10-2F1B-4E7A-9B31-0C5E2B7A9DA0}");
constexpr TGUID kThrowingClass = MakeGuid("{6C0D4A10-2F1B-4E7A-9B31-0C5E2B7A9DA1}");

TEST(ComObjectTest, AnObjectAnswersItsInterfacesTheirAncestorsAndOneIdentity)
{
    auto object = MakeComObject<TTestObject, ITestDerived>();
    EXPECT_EQ(QueryAs<ITestBase>(object.Get())->Base(), 1);
    EXPECT_EQ(QueryAs<ITestDerived>(object.Get())->Derived(), 2);
    auto other = QueryAs<ITestOther>(object.Get());
    ASSERT_TRUE(other);
    EXPECT_EQ(other->Other(), 3);
    // IUnknown is the same pointer whichever interface it is asked through.
    EXPECT_EQ(QueryAs<IUnknown>(object.Get()).Get(), QueryAs<IUnknown>(other.Get()).Get());

    void* found = &found;
    EXPECT_EQ(object->QueryInterface(kUnanswered, &found), E_NOINTERFACE);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(object->QueryInterface(ITestBase::kIID, nullptr), E_POINTER);
}

TEST(ComObjectTest, TheLastReleaseDestroysTheObjectAndNotBefore)
{
    int destroyed = 0;
    ITestDerived* raw = new TTestObject(&destroyed);
    EXPECT_EQ(raw->AddRef(), 1u);
    void* other = nullptr;
    ASSERT_EQ(raw->QueryInterface(ITestOther::kIID, &other), S_OK);
    EXPECT_EQ(raw->Release(), 1u);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(static_cast<ITestOther*>(other)->Release(), 0u);
    EXPECT_EQ(destroyed, 1);
}

TEST(ComObjectTest, CreationByClassAnswersTheAskedInterfaceOrNothing)
{
    RegisterComClass(kTestClass, MakeTestObject);
    RegisterComClass(kTestClass, MakeTestObject);   // the same factory again changes nothing
    EXPECT_THROW(RegisterComClass(kTestClass, MakeNothing), std::invalid_argument);

    void* object = nullptr;
    ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, ITestOther::kIID, &object), S_OK);
    auto other = AdoptRef(static_cast<ITestOther*>(object));
    EXPECT_EQ(other->Other(), 3);

    // A class that does not answer the interface leaves nothing behind.
    const int madeBefore = GFactoryMade;
    const int destroyedBefore = GFactoryDestroyed;
    object = &object;
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC, kUnanswered, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(GFactoryMade, madeBefore + 1);
    EXPECT_EQ(GFactoryDestroyed, destroyedBefore + 1);
}

TEST(ComObjectTest, CreationRefusesWhatItCannotMake)
{
    RegisterComClass(kTestClass, MakeTestObject);
    void* object = &object;
    EXPECT_EQ(CoCreateInstance(kUnanswered, nullptr, CLSCTX_INPROC_SERVER, IUnknown::kIID, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, 0x4 /* local server */, IUnknown::kIID, &object),
              REGDB_E_CLASSNOTREG);
    auto outer = MakeComObject<TTestObject, ITestDerived>();
    EXPECT_EQ(CoCreateInstance(kTestClass, outer.Get(), CLSCTX_INPROC_SERVER, IUnknown::kIID, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IUnknown::kIID, nullptr),
              E_POINTER);

    // A factory that raises gives a result code, and the sink hears why.
    RegisterComClass(kThrowingClass, MakeNothing);
    TDiagnosticCapture capture;
    EXPECT_EQ(CoCreateInstance(kThrowingClass, nullptr, CLSCTX_INPROC_SERVER, IUnknown::kIID, &object),
              E_FAIL);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(capture.Delivered(), (std::vector<TDiagnostic>{{"class " + GuidToString(kThrowingClass),
                                                              "CoCreateInstance", "no parts"}}));
}

TEST(ComObjectTest, InitialisationIsCountedPerThread)
{
    ASSERT_EQ(CoInitializeCount(), 0);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    HRESULT elsewhere = E_FAIL;
    std::thread(
        [&]
        {
            elsewhere = CoInitialize(nullptr);
            CoUninitialize();
        })
        .join();
    EXPECT_EQ(elsewhere, S_OK);
    CoUninitialize();
    EXPECT_EQ(CoInitializeCount(), 1);
    CoUninitialize();
    CoUninitialize();   // unbalanced: the count stays at zero
    EXPECT_EQ(CoInitializeCount(), 0);
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    CoUninitialize();
}

TEST(MediaTypesTest, ACopyOwnsItsFormatBlockAndItsReference)
{
    const std::int64_t blocksBefore = CoTaskMemLiveBlocks();
    int destroyed = 0;
    auto extra = MakeComObject<TTestObject, ITestDerived>(&destroyed);
    std::uint8_t format[18] = {1, 0, 2, 0};
    AM_MEDIA_TYPE source{MEDIATYPE_Audio, MEDIASUBTYPE_PCM, 1,     0, 1, FORMAT_WaveFormatEx,
                         extra.Get(),     sizeof(format),   format};

    AM_MEDIA_TYPE copy{};
    ASSERT_EQ(CopyMediaType(copy, source), S_OK);
    EXPECT_NE(copy.pbFormat, format);
    EXPECT_EQ(std::memcmp(copy.pbFormat, format, sizeof(format)), 0);
    EXPECT_EQ(copy.subtype, MEDIASUBTYPE_PCM);
    AM_MEDIA_TYPE* handedOut = CreateMediaType(copy);
    ASSERT_NE(handedOut, nullptr);
    EXPECT_EQ(handedOut->cbFormat, 18u);
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocksBefore + 3);

    FreeMediaType(copy);
    EXPECT_EQ(copy.pbFormat, nullptr);
    EXPECT_EQ(copy.pUnk, nullptr);
    DeleteMediaType(handedOut);
    DeleteMediaType(nullptr);
    EXPECT_EQ(CoTaskMemLiveBlocks(), blocksBefore);
    extra.Reset();
    EXPECT_EQ(destroyed, 1);   // both copies let go of their references
}

TEST(MediaTypesTest, ATypeWithoutAFormatBlockCopiesAsOne)
{
    AM_MEDIA_TYPE source{MEDIATYPE_Audio, MEDIASUBTYPE_PCM, 1, 0, 1, GUID_NULL, nullptr, 12, nullptr};
    AM_MEDIA_TYPE copy{};
    ASSERT_EQ(CopyMediaType(copy, source), S_OK);
    EXPECT_EQ(copy.cbFormat, 0u);
    EXPECT_EQ(copy.pbFormat, nullptr);
    FreeMediaType(copy);
}

}   // namespace
}   // namespace harvolin
