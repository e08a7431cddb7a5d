#include "pins/OWPinList.h"
#include "pins/OWPins.h"
#include "rtl/Component.h"
#include "rtl/DescriptionReader.h"
#include "rtl/DescriptionWriter.h"
#include "rtl/Diagnostics.h"
#include "rtl/Persistent.h"
#include "tests/pins/TestPins.h"
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

// Components shaped like the program's pipeline: a generator with one output, a converter with a list of
// inputs and one output, an audio output with one input.
class TTestGen final : public TComponent
{
public:
    explicit TTestGen(TComponent* owner) : TComponent(owner) {}
    static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TTestGen", &TComponent::StaticClassInfo(),
                                     TPropertyList<TTestGen>()
                                         .Object("OutputPin", [](TTestGen& g) { return &g.OutputPin; })
                                         .Object("FrequencyPin", [](TTestGen& g) { return &g.FrequencyPin; })
                                         .Take());
        return info;
    }
    const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    TTestSourcePin OutputPin{this, {kTestTypeA}};
    TTestStatePin FrequencyPin{this, 0};
};

class TTestConverter final : public TComponent
{
public:
    explicit TTestConverter(TComponent* owner) : TComponent(owner)
    {
        InputPins.SetPinsOwner(true);
        for (int i = 0; i < 2; ++i)
            InputPins.Add(new TTestSinkPin(this, {kTestTypeA}));
    }
    static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TTestConverter", &TComponent::StaticClassInfo(),
                                     TPropertyList<TTestConverter>()
                                         .Object("InputPins", [](TTestConverter& c) { return &c.InputPins; })
                                         .Object("OutputPin", [](TTestConverter& c) { return &c.OutputPin; })
                                         .Take());
        return info;
    }
    const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
    TOWSinkPin& Input(std::size_t i) { return *dynamic_cast<TOWSinkPin*>(InputPins.Pins(i)); }

    TOWPinList InputPins{this};
    TTestSourcePin OutputPin{this, {kTestTypeA}};
};

class TTestOut final : public TComponent
{
public:
    explicit TTestOut(TComponent* owner) : TComponent(owner) {}
    static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info(
            "TTestOut", &TComponent::StaticClassInfo(),
            TPropertyList<TTestOut>().Object("InputPin", [](TTestOut& o) { return &o.InputPin; }).Take());
        return info;
    }
    const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    TTestSinkPin InputPin{this, {kTestTypeA}};
};

// The extra stored values an object has data for, as a writer would store them.
std::map<std::string, TDescValue> Stored(TPersistent& object)
{
    class TCapture final : public TFiler
    {
    public:
        void DefineProperty(std::string_view name, const std::function<void(const TDescValue&)>&,
                            const std::function<TDescValue()>& write, bool hasData) override
        {
            if (hasData)
                Values[std::string(name)] = write();
        }
        std::map<std::string, TDescValue> Values;
    } capture;
    object.DefineProperties(capture);
    return capture.Values;
}

// Offers one stored value to the object, as a reader would.
void Load(TPersistent& object, std::string_view name, const TDescValue& value)
{
    class TOffer final : public TFiler
    {
    public:
        TOffer(std::string_view name, const TDescValue& value) : FName(name), FValue(value) {}
        void DefineProperty(std::string_view name, const std::function<void(const TDescValue&)>& read,
                            const std::function<TDescValue()>&, bool) override
        {
            if (name == FName)
            {
                read(FValue);
                Taken = true;
            }
        }
        bool Taken = false;
    private:
        std::string_view FName;
        const TDescValue& FValue;
    } offer(name, value);
    object.DefineProperties(offer);
    ASSERT_TRUE(offer.Taken) << name;
}

TDescValue Id(const std::string& name)
{
    return TDescValue::Identifier(name);
}

TDescValue Ref(const std::string& name, const std::string& display)
{
    return TDescValue::List({Id(name), TDescValue::String(display)});
}

class OWPinListTest : public ::testing::Test
{
protected:
    void SetUp() override { RegisterTestTypes(); }

    static TComponentPtr<TTestForm> Form(const std::string& name)
    {
        auto form = MakeComponent<TTestForm>();
        form->SetName(name);
        return form;
    }
    template <class T>
    static T& Make(TComponent& form, const std::string& name)
    {
        auto& component = CreateComponent<T>(form);
        component.SetName(name);
        return component;
    }
    // The pipeline linked as the program's window links it.
    struct TPipeline
    {
        TTestGen* Gen;
        TTestConverter* Conv;
        TTestOut* Out;
    };
    static TPipeline Linked(TComponent& form)
    {
        TPipeline p{&Make<TTestGen>(form, "SLSignalGen1"), &Make<TTestConverter>(form, "ALRealToAudio1"),
                    &Make<TTestOut>(form, "ALDSAudioOut1")};
        EXPECT_TRUE(p.Conv->Input(1).Connect(&p.Gen->OutputPin));
        EXPECT_TRUE(p.Conv->Input(0).Connect(&p.Gen->OutputPin));
        EXPECT_TRUE(p.Out->InputPin.Connect(&p.Conv->OutputPin));
        return p;
    }
    static void ExpectPipelineGraph(TPipeline p)
    {
        ASSERT_EQ(p.Gen->OutputPin.SinkCount(), 2u);
        EXPECT_EQ(p.Conv->Input(0).GetSourcePin(), &p.Gen->OutputPin);
        EXPECT_EQ(p.Conv->Input(1).GetSourcePin(), &p.Gen->OutputPin);
        ASSERT_EQ(p.Conv->OutputPin.SinkCount(), 1u);
        EXPECT_EQ(p.Conv->OutputPin.Sinks(0), &p.Out->InputPin);
        EXPECT_EQ(p.Out->InputPin.GetSourcePin(), &p.Conv->OutputPin);
    }

    TComponentPtr<TTestForm> FForm = Form("fmMain");
};

TEST_F(OWPinListTest, PinsAreNamedByTheirOwnersPublishedProperties)
{
    auto& conv = Make<TTestConverter>(*FForm, "ALRealToAudio1");
    auto& gen = Make<TTestGen>(*FForm, "SLSignalGen1");
    EXPECT_EQ(TOWPendingLinks::PinName(&gen.OutputPin, false), "SLSignalGen1.OutputPin");
    EXPECT_EQ(TOWPendingLinks::PinName(&gen.OutputPin, true), "fmMain.SLSignalGen1.OutputPin");
    EXPECT_EQ(TOWPendingLinks::PinName(conv.InputPins.Pins(1), false), "ALRealToAudio1.InputPins._Pin1");
    EXPECT_EQ(TOWPendingLinks::PinDisplayName(conv.InputPins.Pins(1), false),
              "ALRealToAudio1.InputPins.Pin [1]");
    conv.InputPins.Add(new TTestSinkPin(&conv, {kTestTypeA}), "Left");
    EXPECT_EQ(TOWPendingLinks::PinName(conv.InputPins.Pins(2), false), "ALRealToAudio1.InputPins._Pin2");
    EXPECT_EQ(TOWPendingLinks::PinDisplayName(conv.InputPins.Pins(2), false),
              "ALRealToAudio1.InputPins.Left");
    TTestSinkPin loose(&gen, {kTestTypeA});
    EXPECT_EQ(TOWPendingLinks::PinName(&loose, false), "SLSignalGen1.(Unpublished)");
    const auto pins = TOWPendingLinks::PinsOfRoot(*FForm, false);
    ASSERT_EQ(pins.size(), 6u);
    EXPECT_EQ(pins[0].first, "ALRealToAudio1.InputPins._Pin0");
    EXPECT_EQ(pins[5].first, "SLSignalGen1.FrequencyPin");
}

TEST_F(OWPinListTest, ReportsNameAPinByItsOwnerOrTheOwnersClassAndItsDisplayPath)
{
    auto& conv = Make<TTestConverter>(*FForm, "ALRealToAudio1");
    auto& unnamed = Make<TTestGen>(*FForm, "");
    EXPECT_EQ(TOWPendingLinks::DiagnosticName(conv.InputPins.Pins(1)), "ALRealToAudio1.InputPins.Pin [1]");
    EXPECT_EQ(TOWPendingLinks::DiagnosticName(&unnamed.OutputPin), "TTestGen.OutputPin");
    TTestSinkPin ownerless(nullptr, {kTestTypeA});
    EXPECT_EQ(TOWPendingLinks::DiagnosticName(&ownerless), ownerless.ClassName());
}

TEST_F(OWPinListTest, AFailingSinkIsReportedAndTheOtherSinksStillGetEveryBlock)
{
    auto& gen = Make<TTestGen>(*FForm, "SLSignalGen1");
    auto& conv = Make<TTestConverter>(*FForm, "ALRealToAudio1");
    auto& failing = dynamic_cast<TTestSinkPin&>(conv.Input(0));
    auto& healthy = dynamic_cast<TTestSinkPin&>(conv.Input(1));
    ASSERT_TRUE(failing.Connect(&gen.OutputPin));
    ASSERT_TRUE(healthy.Connect(&gen.OutputPin));
    failing.OnReceive = [](const TRefPtr<TOWNotifyOperation>&, std::uint32_t) -> bool
    { throw std::runtime_error("no buffer"); };

    TDiagnosticCapture capture;
    constexpr int kBlocks = 100;
    for (int i = 0; i < kBlocks; ++i)
        EXPECT_NO_THROW(gen.OutputPin.Notify(MakeRef<TOWSuppliedIntegerOperation>(i)));
    EXPECT_EQ(healthy.Received.size(), static_cast<std::size_t>(kBlocks));
    EXPECT_EQ(capture.Count("SLSignalGen1.OutputPin"), static_cast<std::uint64_t>(kBlocks));
    const std::vector<TDiagnostic> delivered = capture.Delivered();
    ASSERT_EQ(delivered.size(), 1u) << "repeats within the second are held back";
    EXPECT_EQ(delivered[0].Object, "SLSignalGen1.OutputPin");
    EXPECT_EQ(delivered[0].Action, "delivering to ALRealToAudio1.InputPins.Pin [0]");
    EXPECT_EQ(delivered[0].Message, "no buffer");
}

TEST_F(OWPinListTest, StoringThePipelineWritesBothEndsOfEveryLink)
{
    const TPipeline p = Linked(*FForm);
    EXPECT_EQ(
        Stored(p.Gen->OutputPin),
        (std::map<std::string, TDescValue>{
            {"SinkPins", TDescValue::List(
                             {Ref("ALRealToAudio1.InputPins._Pin1", "ALRealToAudio1.InputPins.Pin [1]"),
                              Ref("ALRealToAudio1.InputPins._Pin0", "ALRealToAudio1.InputPins.Pin [0]")})}}));
    EXPECT_EQ(Stored(p.Conv->InputPins),
              (std::map<std::string, TDescValue>{
                  {"Pins", TDescValue::List({Id("SLSignalGen1.OutputPin"), Id("SLSignalGen1.OutputPin")})}}));
    EXPECT_EQ(
        Stored(p.Conv->OutputPin),
        (std::map<std::string, TDescValue>{{"SinkPins", TDescValue::List({Id("ALDSAudioOut1.InputPin")})}}));
    EXPECT_EQ(Stored(p.Out->InputPin),
              (std::map<std::string, TDescValue>{{"SourcePin", Id("ALRealToAudio1.OutputPin")}}));
    EXPECT_TRUE(Stored(p.Gen->FrequencyPin).empty());
}

class OWPinListLoadTest : public OWPinListTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(OWPinListLoadTest, ReadingTheStoredLinksRebuildsTheGraphInEitherOrder)
{
    std::map<std::string, std::map<std::string, TDescValue>> stored;
    {
        auto source = Form("fmMain");
        const TPipeline p = Linked(*source);
        stored["gen"] = Stored(p.Gen->OutputPin);
        stored["list"] = Stored(p.Conv->InputPins);
        stored["conv"] = Stored(p.Conv->OutputPin);
        stored["out"] = Stored(p.Out->InputPin);
    }
    // As the reader does: each component is made and its values read before the next one exists.
    FForm->Loading();
    TPipeline p{};
    auto readGen = [&]
    {
        p.Gen = &Make<TTestGen>(*FForm, "SLSignalGen1");
        p.Gen->Loading();
        Load(p.Gen->OutputPin, "SinkPins", stored["gen"]["SinkPins"]);
    };
    auto readConv = [&]
    {
        p.Conv = &Make<TTestConverter>(*FForm, "ALRealToAudio1");
        p.Conv->Loading();
        Load(p.Conv->InputPins, "Pins", stored["list"]["Pins"]);
        Load(p.Conv->OutputPin, "SinkPins", stored["conv"]["SinkPins"]);
    };
    auto readOut = [&]
    {
        p.Out = &Make<TTestOut>(*FForm, "ALDSAudioOut1");
        p.Out->Loading();
        Load(p.Out->InputPin, "SourcePin", stored["out"]["SourcePin"]);
    };
    if (GetParam())
    {
        readGen();
        readConv();
        readOut();
    }
    else
    {
        readOut();
        readConv();
        readGen();
    }
    for (TComponent* component : {static_cast<TComponent*>(p.Gen), static_cast<TComponent*>(p.Conv),
                                  static_cast<TComponent*>(p.Out), static_cast<TComponent*>(FForm.get())})
        component->Loaded();
    ExpectPipelineGraph(p);
    EXPECT_FALSE(TOWPendingLinks::IsPending(p.Conv->InputPins));
    EXPECT_FALSE(TOWPendingLinks::IsPending(p.Out->InputPin));
    // Storing what was read writes the same values again.
    EXPECT_EQ(Stored(p.Gen->OutputPin), stored["gen"]);
    EXPECT_EQ(Stored(p.Conv->InputPins), stored["list"]);
    EXPECT_EQ(Stored(p.Out->InputPin), stored["out"]);
}

INSTANTIATE_TEST_SUITE_P(ReadOrders, OWPinListLoadTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& order)
                         { return order.param ? "SourcesFirst" : "SinksFirst"; });

// The window's description of the pipeline, with the objects in either order.
class OWPinListDescriptionTest : public OWPinListTest, public ::testing::WithParamInterface<bool>
{
protected:
    void SetUp() override
    {
        OWPinListTest::SetUp();
        RegisterComponentClass<TTestForm>();
        RegisterComponentClass<TTestGen>();
        RegisterComponentClass<TTestConverter>();
        RegisterComponentClass<TTestOut>();
    }
    static std::string Description(bool sourcesFirst)
    {
        const std::string gen = "  object SLSignalGen1: TTestGen\n"
                                "    OutputPin.SinkPins = (\n"
                                "      (ALRealToAudio1.InputPins._Pin1 'ALRealToAudio1.InputPins.Pin [1]')\n"
                                "      (ALRealToAudio1.InputPins._Pin0 'ALRealToAudio1.InputPins.Pin [0]'))\n"
                                "  end\n";
        const std::string conv = "  object ALRealToAudio1: TTestConverter\n"
                                 "    InputPins.Count = 2\n"
                                 "    InputPins.PinsOwner = True\n"
                                 "    InputPins.Pins = (SLSignalGen1.OutputPin SLSignalGen1.OutputPin)\n"
                                 "    OutputPin.SinkPins = (ALDSAudioOut1.InputPin)\n"
                                 "  end\n";
        const std::string out = "  object ALDSAudioOut1: TTestOut\n"
                                "    InputPin.SourcePin = ALRealToAudio1.OutputPin\n"
                                "  end\n";
        return "object fmMain: TTestForm\n" + (sourcesFirst ? gen + conv + out : out + conv + gen) + "end\n";
    }
    static TPipeline Found(TComponent& form)
    {
        return {dynamic_cast<TTestGen*>(form.FindComponent("SLSignalGen1")),
                dynamic_cast<TTestConverter*>(form.FindComponent("ALRealToAudio1")),
                dynamic_cast<TTestOut*>(form.FindComponent("ALDSAudioOut1"))};
    }
};

TEST_P(OWPinListDescriptionTest, TheWindowsDescriptionLoadsIntoThePipelineGraphAndStoresItAgain)
{
    auto form = MakeComponent<TTestForm>();
    const std::string description = Description(GetParam());
    ReadDescription(*form, description);
    const TPipeline p = Found(*form);
    ASSERT_NE(p.Gen, nullptr);
    ASSERT_NE(p.Conv, nullptr);
    ASSERT_NE(p.Out, nullptr);
    ExpectPipelineGraph(p);
    EXPECT_EQ(p.Gen->OutputPin.Sinks(0), &p.Conv->Input(1));
    // What is stored is what was read, the window's own shapes included.
    EXPECT_EQ(WriteDescription(*form), description);
    auto again = MakeComponent<TTestForm>();
    ReadDescription(*again, description);
    ExpectPipelineGraph(Found(*again));
}

TEST_P(OWPinListDescriptionTest, AMalformedLinkIsRefusedWithItsPositionAndLeavesNoComponentBehind)
{
    auto form = MakeComponent<TTestForm>();
    std::string description = Description(GetParam());
    description.replace(description.find("InputPin.SourcePin = ALRealToAudio1.OutputPin"), 46,
                        "InputPin.SourcePin = 42");
    try
    {
        ReadDescription(*form, description);
        ADD_FAILURE() << "read a pin reference from an integer";
    }
    catch (const EReadError& e)
    {
        EXPECT_NE(std::string(e.what()).find("line "), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("pin reference"), std::string::npos) << e.what();
    }
    EXPECT_EQ(form->ComponentCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(ObjectOrders, OWPinListDescriptionTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& order)
                         { return order.param ? "SourcesFirst" : "SinksFirst"; });

TEST_F(OWPinListTest, ANilSourceLeavesTheSinkUnconnectedAndNotPending)
{
    auto& out = Make<TTestOut>(*FForm, "ALDSAudioOut1");
    Load(out.InputPin, "SourcePin", Id("nil"));
    EXPECT_EQ(out.InputPin.GetSourcePin(), nullptr);
    EXPECT_FALSE(TOWPendingLinks::IsPending(out.InputPin));
    EXPECT_FALSE(out.InputPin.HasSourcePin());
}

TEST_F(OWPinListTest, ALinkWhoseTargetNeverAppearsIsRetriedTenTimesAfterTheLastRegistration)
{
    auto& out = Make<TTestOut>(*FForm, "ALDSAudioOut1");
    Load(out.InputPin, "SourcePin", Id("Missing1.OutputPin"));
    ASSERT_TRUE(TOWPendingLinks::IsPending(out.InputPin));
    // Reading ran passes already; the rest of the ten run, and then passes end at once.
    for (int i = 0; i < 10 && TOWPendingLinks::Budget() > 0; ++i)
        TOWPendingLinks::ResolveAllPending(nullptr);
    EXPECT_EQ(TOWPendingLinks::Budget(), 0);
    TOWPendingLinks::ResolveAllPending(nullptr);
    EXPECT_EQ(TOWPendingLinks::Budget(), 0);
    // The name stays pending and is stored again.
    EXPECT_TRUE(TOWPendingLinks::IsPending(out.InputPin));
    EXPECT_EQ(Stored(out.InputPin)["SourcePin"], Id("Missing1.OutputPin"));
    // A new pin renews the budget; once the target exists, the next pass makes the link.
    auto& late = Make<TTestConverter>(*FForm, "Missing1");
    EXPECT_EQ(TOWPendingLinks::Budget(), 10);
    TOWPendingLinks::ResolveAllPending(nullptr);
    EXPECT_EQ(out.InputPin.GetSourcePin(), &late.OutputPin);
    EXPECT_FALSE(TOWPendingLinks::IsPending(out.InputPin));
}

TEST_F(OWPinListTest, LinksAcrossTwoRootsStoreQualifiedNames)
{
    auto other = Form("fmOther");
    auto& gen = Make<TTestGen>(*FForm, "SLSignalGen1");
    auto& out = Make<TTestOut>(*other, "ALDSAudioOut1");
    ASSERT_TRUE(out.InputPin.Connect(&gen.OutputPin));
    EXPECT_EQ(Stored(gen.OutputPin)["SinkPins"], TDescValue::List({Id("fmOther.ALDSAudioOut1.InputPin")}));
    EXPECT_EQ(Stored(out.InputPin)["SourcePin"], Id("fmMain.SLSignalGen1.OutputPin"));

    // Read back into fresh pins: the qualified name resolves against the other root.
    out.InputPin.Connect(nullptr);
    Load(out.InputPin, "SourcePin", Id("fmMain.SLSignalGen1.OutputPin"));
    EXPECT_EQ(out.InputPin.GetSourcePin(), &gen.OutputPin);
}

TEST_F(OWPinListTest, AGroupWithinOneRootStoresItsPlainNameForEveryMember)
{
    auto& a = Make<TTestGen>(*FForm, "Gen1");
    auto& b = Make<TTestGen>(*FForm, "Gen2");
    ASSERT_TRUE(a.FrequencyPin.Connect(&b.FrequencyPin));
    for (int pass = 0; pass < 2; ++pass)
    {
        EXPECT_EQ(Stored(a.FrequencyPin)["State"], TDescValue::String("fmMainLink1"));
        EXPECT_EQ(Stored(b.FrequencyPin)["State"], TDescValue::String("fmMainLink1"));
    }
}

TEST_F(OWPinListTest, AGroupAcrossRootsListsTheOtherRootsMembersOncePerRootAndPass)
{
    auto other = Form("fmOther");
    auto& a = Make<TTestGen>(*FForm, "Gen1");
    auto& b = Make<TTestGen>(*FForm, "Gen2");
    auto& c = Make<TTestGen>(*other, "Gen3");
    ASSERT_TRUE(a.FrequencyPin.Connect(&b.FrequencyPin));
    ASSERT_TRUE(c.FrequencyPin.Connect(&a.FrequencyPin));
    const std::string group = a.FrequencyPin.Dispatcher()->Name();
    for (int pass = 0; pass < 2; ++pass)
    {
        EXPECT_EQ(a.FrequencyPin.StoreState(),
                  TDescValue::List({TDescValue::String(group), Id("fmOther.Gen3.FrequencyPin")}))
            << "pass " << pass;
        EXPECT_EQ(b.FrequencyPin.StoreState(), TDescValue::String(group));
        EXPECT_EQ(c.FrequencyPin.StoreState(),
                  TDescValue::List({TDescValue::String(group), Id("fmMain.Gen1.FrequencyPin"),
                                    Id("fmMain.Gen2.FrequencyPin")}));
    }
}

TEST_F(OWPinListTest, LoadingAStateListKeepsTheAbsentMembersPendingUntilTheyJoin)
{
    auto& a = Make<TTestGen>(*FForm, "Gen1");
    a.FrequencyPin.LoadState(TDescValue::List({TDescValue::String("fmMainLink4"), Id("Gen2.FrequencyPin"),
                                               Ref("fmOther.Gen3.FrequencyPin", "Other")}));
    TOWStateDispatcher* group = a.FrequencyPin.Dispatcher();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->Name(), "fmMainLink4");
    EXPECT_EQ(group->PendingNames(),
              (std::vector<std::string>{"Gen2.FrequencyPin", "fmOther.Gen3.FrequencyPin"}));
    EXPECT_TRUE(TOWPendingLinks::IsPending(a.FrequencyPin));
    auto& b = Make<TTestGen>(*FForm, "Gen2");
    TOWPendingLinks::ResetBudget();
    TOWPendingLinks::ResolveAllPending(nullptr);
    EXPECT_EQ(b.FrequencyPin.Dispatcher(), group);
    EXPECT_EQ(group->PendingNames(), std::vector<std::string>{"fmOther.Gen3.FrequencyPin"});
}

TEST_F(OWPinListTest, MalformedLinkValuesAreRefusedAndChangeNothing)
{
    const TPipeline p = Linked(*FForm);
    EXPECT_THROW(p.Out->InputPin.ReadSourcePin(TDescValue::Integer(3)), EReadError);
    EXPECT_THROW(p.Gen->OutputPin.ReadSinkPins(TDescValue::List({Id("A.B"), TDescValue::Integer(1)})),
                 EReadError);
    EXPECT_THROW(p.Conv->InputPins.ReadPins(TDescValue::List({Id("Sinks")})), EReadError);
    EXPECT_THROW(p.Gen->FrequencyPin.LoadState(TDescValue::List({})), EReadError);
    ExpectPipelineGraph(p);
    EXPECT_EQ(p.Gen->FrequencyPin.Dispatcher(), nullptr);
}

TEST_F(OWPinListTest, AnOwningListFreesItsPinsAndAnotherOnlyDetachesThem)
{
    TOWPinList owning(FForm.get());
    owning.SetPinsOwner(true);
    auto* owned = new TTestSinkPin(FForm.get(), {kTestTypeA});
    TTestSinkPin* variable = owned;
    owned->SetAutoNilReference(&variable);
    owning.Add(owned);
    EXPECT_EQ(owned->PinList(), &owning);
    owning.Remove(owned);
    EXPECT_EQ(variable, nullptr);
    EXPECT_EQ(owning.Count(), 0u);

    TOWPinList borrowing(FForm.get());
    TTestSinkPin kept(FForm.get(), {kTestTypeA});
    borrowing.Add(&kept);
    borrowing.SetCount(5);
    EXPECT_EQ(borrowing.Count(), 1u);
    EXPECT_EQ(borrowing.EntryName(0), "Pin [0]");
    borrowing.Clear();
    EXPECT_EQ(kept.PinList(), nullptr);
    EXPECT_THROW((void)borrowing.Pins(0), ERangeError);
    EXPECT_THROW(borrowing.Add(nullptr), std::invalid_argument);
}

TEST_F(OWPinListTest, AListStoresGroupsAndLinksOfItsPinsAndReadsThemBack)
{
    auto& gen = Make<TTestGen>(*FForm, "SLSignalGen1");
    auto& conv = Make<TTestConverter>(*FForm, "ALRealToAudio1");
    TTestStatePin peer(&gen, 0);
    ASSERT_TRUE(conv.Input(0).Connect(&gen.OutputPin));
    conv.InputPins.Add(&peer);
    conv.InputPins.SetPinsOwner(false);
    auto& other = Make<TTestGen>(*FForm, "Gen2");
    ASSERT_TRUE(peer.Connect(&other.FrequencyPin));
    const std::string group = peer.Dispatcher()->Name();
    const TDescValue pins = Stored(conv.InputPins)["Pins"];
    EXPECT_EQ(pins, TDescValue::List({Id("SLSignalGen1.OutputPin"), Id("nil"), Id("State"),
                                      TDescValue::List({TDescValue::String(group)})}));
    conv.InputPins.Remove(&peer);
    conv.InputPins.SetPinsOwner(true);
}

// ---------------------------------------------------------------------------------------------------------

class TTestCollection final : public TOWExtCollection, public IOWCollectionListener
{
public:
    using TOWExtCollection::TOWExtCollection;
    void ItemAdded(TOWExtCollectionItem& item) override { Added.push_back(&item); }
    std::vector<TOWExtCollectionItem*> Added;
};

struct TListener final : IOWCollectionListener
{
    void ItemAdded(TOWExtCollectionItem& item) override { Heard.push_back(item.DisplayName()); }
    std::vector<std::string> Heard;
};

class OWExtCollectionTest : public ::testing::Test
{
protected:
    TComponentPtr<TComponent> FOwner = MakeComponent<TComponent>();
    TTestCollection FCollection{FOwner.get()};
};

TEST_F(OWExtCollectionTest, AnItemIsAnnouncedOnceTheFirstTimeItIsNamed)
{
    TListener listener;
    FCollection.AddListener(&listener);
    auto& item = FCollection.Add<TOWExtCollectionItem>();
    EXPECT_TRUE(FCollection.Added.empty());
    item.SetDisplayName("Speakers");
    item.SetDisplayName("Headphones");
    EXPECT_EQ(FCollection.Added, std::vector<TOWExtCollectionItem*>{&item});
    EXPECT_EQ(listener.Heard, std::vector<std::string>{"Speakers"});
    EXPECT_EQ(FCollection.Owner(), FOwner.get());
    FCollection.RemoveListener(&listener);
}

TEST_F(OWExtCollectionTest, DeletingAnItemClearsItsVariableAndKeepsTheOthersInOrder)
{
    auto& first = FCollection.Add<TOWExtCollectionItem>();
    auto& second = FCollection.Add<TOWExtCollectionItem>();
    TOWExtCollectionItem* variable = &first;
    first.SetAutoNilReference(&variable);
    FCollection.Delete(0);
    EXPECT_EQ(variable, nullptr);
    ASSERT_EQ(FCollection.Count(), 1u);
    EXPECT_EQ(&FCollection.Items(0), &second);
    EXPECT_EQ(second.Index(), 0u);
    EXPECT_THROW((void)FCollection.Items(1), ERangeError);
}

}   // namespace
}   // namespace harvolin
