#include "rtl/Component.h"
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

using enum TComponentStateFlag;

// What a probe saw when its own destructor ran, before the base part of it went.
struct TTeardownRecord
{
    std::string Name;
    bool SelfDestroying;
    bool OwnerDestroying;
    std::string RootName;
    bool RootDestroying;
};

// Stands for a component whose destructor frees pins: records what such pins would see.
class TProbe : public TComponent
{
public:
    TProbe(TComponent* owner, const std::string& name, std::vector<TTeardownRecord>& log)
        : TComponent(owner), FLog(log)
    {
        SetName(name);
    }
    ~TProbe() override
    {
        const TComponent& root = Root();
        FLog.push_back({Name(), ComponentState().Contains(csDestroying),
                        Owner() != nullptr && Owner()->ComponentState().Contains(csDestroying), root.Name(),
                        root.ComponentState().Contains(csDestroying)});
    }
private:
    std::vector<TTeardownRecord>& FLog;
};

// Forms and data modules as the kind flag makes them.
class TFormProbe : public TComponent
{
public:
    TFormProbe(TComponent* owner, const std::string& name, TComponentKind kind = TComponentKind::ckForm)
        : TComponent(owner, kind)
    {
        SetName(name);
    }
};

// Frees a sibling from its own destructor, as a component that owns a helper through its owner might.
class TSiblingFreer : public TComponent
{
public:
    TSiblingFreer(TComponent* owner, TComponent* sibling) : TComponent(owner), FSibling(sibling) {}
    ~TSiblingFreer() override { FreeComponent(FSibling); }
private:
    TComponent* FSibling;
};

class TFailingComponent : public TComponent
{
public:
    explicit TFailingComponent(TComponent* owner) : TComponent(owner) { throw std::runtime_error("refused"); }
};

class ComponentTest : public ::testing::Test
{
protected:
    std::vector<std::string> DestroyedNames() const
    {
        std::vector<std::string> names;
        for (const TTeardownRecord& record : FLog)
            names.push_back(record.Name);
        return names;
    }

    const TTeardownRecord& RecordOf(const std::string& name) const
    {
        for (const TTeardownRecord& record : FLog)
            if (record.Name == name)
                return record;
        throw std::logic_error("no teardown record for " + name);
    }

    std::vector<TTeardownRecord> FLog;
};

TEST_F(ComponentTest, DestroyingAnOwnerDestroysItsComponentsLastFirstAndDepthFirst)
{
    auto a = MakeComponent<TProbe>("A", FLog);
    CreateComponent<TProbe>(*a, "B", FLog);
    auto& c = CreateComponent<TProbe>(*a, "C", FLog);
    CreateComponent<TProbe>(c, "D", FLog);
    CreateComponent<TProbe>(c, "E", FLog);
    a.reset();
    EXPECT_EQ(DestroyedNames(), (std::vector<std::string>{"A", "C", "E", "D", "B"}));
}

// Stops its worker in BeforeDestruction, as a generator does: the hook must come while the component is
// whole.
class THooked final : public TComponent
{
public:
    THooked(TComponent* owner, std::string name, std::vector<std::string>& log)
        : TComponent(owner), FTag(std::move(name)), FLog(log)
    {
    }
    ~THooked() override { FLog.push_back("destroyed " + FTag); }
    void BeforeDestruction() noexcept override
    {
        FLog.push_back("stopped " + FTag);
        TComponent::BeforeDestruction();
    }
private:
    std::string FTag;   // a derived part the hook still reads
    std::vector<std::string>& FLog;
};

TEST_F(ComponentTest, EveryComponentFreedIsStoppedBeforeItsDestructorsRun)
{
    std::vector<std::string> log;
    auto owner = MakeComponent<THooked>("owner", log);
    auto& child = CreateComponent<THooked>(*owner, "child", log);
    CreateComponent<THooked>(child, "grandchild", log);
    owner.reset();
    EXPECT_EQ(log, (std::vector<std::string>{"stopped owner", "stopped child", "stopped grandchild",
                                             "destroyed owner", "destroyed child", "destroyed grandchild"}));
}

TEST_F(ComponentTest, AComponentFreedAloneLeavesItsOwner)
{
    auto owner = MakeComponent<TProbe>("Owner", FLog);
    auto& first = CreateComponent<TProbe>(*owner, "First", FLog);
    auto& second = CreateComponent<TProbe>(*owner, "Second", FLog);
    auto& third = CreateComponent<TProbe>(*owner, "Third", FLog);
    FreeComponent(&second);
    ASSERT_EQ(owner->ComponentCount(), 2U);
    EXPECT_EQ(&owner->Components(0), &first);
    EXPECT_EQ(&owner->Components(1), &third);
    EXPECT_EQ(owner->FindComponent("Second"), nullptr);
    EXPECT_EQ(DestroyedNames(), (std::vector<std::string>{"Second"}));
    owner.reset();
    EXPECT_EQ(DestroyedNames(), (std::vector<std::string>{"Second", "Owner", "Third", "First"}));
}

TEST_F(ComponentTest, EveryDerivedDestructorOfAFreedTreeSeesTheTeardown)
{
    auto form = MakeComponent<TProbe>("Form1", FLog);
    auto& panel = CreateComponent<TProbe>(*form, "Panel1", FLog);
    CreateComponent<TProbe>(panel, "Button1", FLog);
    form.reset();
    ASSERT_EQ(FLog.size(), 3U);
    for (const TTeardownRecord& record : FLog)
        EXPECT_TRUE(record.SelfDestroying) << record.Name;
    EXPECT_TRUE(RecordOf("Panel1").OwnerDestroying);
    EXPECT_TRUE(RecordOf("Button1").OwnerDestroying);
}

TEST_F(ComponentTest, AComponentFreedAloneDoesNotMarkItsOwnerAsDestroying)
{
    auto form = MakeComponent<TProbe>("Form1", FLog);
    auto& button = CreateComponent<TProbe>(*form, "Button1", FLog);
    FreeComponent(&button);
    ASSERT_EQ(FLog.size(), 1U);
    EXPECT_TRUE(FLog[0].SelfDestroying);
    EXPECT_FALSE(FLog[0].OwnerDestroying);
    EXPECT_FALSE(form->ComponentState().Contains(csDestroying));
}

TEST_F(ComponentTest, ChildrenOfAPlainlyDeletedComponentStillSeeTheTeardown)
{
    // std::default_delete skips FreeComponent(): the owner's own derived destructor runs unmarked, but the
    // base destructor marks the tree before any owned component goes.
    std::unique_ptr<TProbe> owner(new TProbe(nullptr, "Owner", FLog));
    CreateComponent<TProbe>(*owner, "Child", FLog);
    owner.reset();
    EXPECT_FALSE(RecordOf("Owner").SelfDestroying);
    EXPECT_TRUE(RecordOf("Child").SelfDestroying);
    EXPECT_TRUE(RecordOf("Child").OwnerDestroying);
}

TEST_F(ComponentTest, RootStaysTheFormWhileTheFormIsBeingDestroyed)
{
    auto application = MakeComponent<TComponent>();
    auto& form = CreateComponent<TFormProbe>(*application, "Form1");
    auto& panel = CreateComponent<TComponent>(form);
    CreateComponent<TProbe>(panel, "Button1", FLog);
    FreeComponent(&form);
    ASSERT_EQ(FLog.size(), 1U);
    EXPECT_EQ(FLog[0].RootName, "Form1");
    EXPECT_TRUE(FLog[0].RootDestroying);
    EXPECT_FALSE(application->ComponentState().Contains(csDestroying));
}

TEST_F(ComponentTest, AnOwnedComponentsDestructorMayFreeASibling)
{
    auto owner = MakeComponent<TProbe>("Owner", FLog);
    auto& helper = CreateComponent<TProbe>(*owner, "Helper", FLog);
    CreateComponent<TProbe>(*owner, "Middle", FLog);
    CreateComponent<TSiblingFreer>(*owner, &helper);
    owner.reset();
    EXPECT_EQ(DestroyedNames(), (std::vector<std::string>{"Owner", "Helper", "Middle"}));
}

TEST_F(ComponentTest, AComponentWhoseConstructorFailsLeavesNoTraceInItsOwner)
{
    auto owner = MakeComponent<TProbe>("Owner", FLog);
    CreateComponent<TProbe>(*owner, "Button1", FLog);
    EXPECT_THROW(CreateComponent<TFailingComponent>(*owner), std::runtime_error);
    EXPECT_THROW(CreateComponent<TProbe>(*owner, "Button1", FLog), EComponentError);
    EXPECT_EQ(owner->ComponentCount(), 1U);
    EXPECT_TRUE(FLog.empty());   // the refused probe was never built, so its own destructor never ran
    ASSERT_NE(owner->FindComponent("Button1"), nullptr);
    EXPECT_EQ(&owner->Components(0), owner->FindComponent("Button1"));
}

TEST_F(ComponentTest, ADuplicateNameIsRefusedNamingBothAndKeepsTheOldName)
{
    auto form = MakeComponent<TFormProbe>("Form1");
    auto& first = CreateComponent<TComponent>(*form);
    first.SetName("Button1");
    auto& second = CreateComponent<TComponent>(*form);
    second.SetName("Button2");
    try
    {
        second.SetName("Button1");
        FAIL() << "duplicate name accepted";
    }
    catch (const EComponentError& error)
    {
        EXPECT_EQ(error.Message(),
                  "cannot name component 'Button2' 'Button1': component 'Form1' already owns "
                  "component 'Button1'");
    }
    EXPECT_EQ(second.Name(), "Button2");
    EXPECT_EQ(form->FindComponent("Button1"), &first);
    EXPECT_EQ(form->FindComponent("Button2"), &second);
}

TEST_F(ComponentTest, NamesAreUniqueOnlyAmongOneOwnersComponentsAndCompareExactly)
{
    auto form = MakeComponent<TFormProbe>("Form1");
    auto& panel = CreateComponent<TComponent>(*form);
    auto& outer = CreateComponent<TComponent>(*form);
    auto& inner = CreateComponent<TComponent>(panel);
    auto& otherCase = CreateComponent<TComponent>(*form);
    outer.SetName("Label1");
    inner.SetName("Label1");
    otherCase.SetName("label1");
    outer.SetName("Label1");   // its own name again is no clash
    EXPECT_EQ(form->FindComponent("Label1"), &outer);
    EXPECT_EQ(form->FindComponent("label1"), &otherCase);
    EXPECT_EQ(panel.FindComponent("Label1"), &inner);
    EXPECT_EQ(form->FindComponent("Missing"), nullptr);
}

TEST_F(ComponentTest, UnnamedComponentsMayBeManyAndAreNeverFoundByName)
{
    auto form = MakeComponent<TFormProbe>("Form1");
    auto& first = CreateComponent<TComponent>(*form);
    CreateComponent<TComponent>(*form);
    first.SetName("Temp");
    first.SetName("");
    EXPECT_EQ(form->ComponentCount(), 2U);
    EXPECT_EQ(form->FindComponent(""), nullptr);
    EXPECT_EQ(form->FindComponent("Temp"), nullptr);
}

TEST_F(ComponentTest, AnIndexOutsideTheComponentsIsARangeError)
{
    auto form = MakeComponent<TFormProbe>("Form1");
    CreateComponent<TComponent>(*form);
    EXPECT_NO_THROW((void)form->Components(0));
    EXPECT_THROW((void)form->Components(1), ERangeError);
}

TEST_F(ComponentTest, RootIsTheNearestFormOrDataModuleOrWhatSitsDirectlyBelowTheApplication)
{
    auto application = MakeComponent<TComponent>();
    auto& form = CreateComponent<TFormProbe>(*application, "Form1");
    auto& panel = CreateComponent<TComponent>(form);
    auto& button = CreateComponent<TComponent>(panel);
    auto& frame = CreateComponent<TFormProbe>(panel, "Frame1");
    auto& framed = CreateComponent<TComponent>(frame);
    auto& dataModule = CreateComponent<TFormProbe>(*application, "Data1", TComponentKind::ckDataModule);
    auto& query = CreateComponent<TComponent>(dataModule);
    auto& service = CreateComponent<TComponent>(*application);
    auto& serviceChild = CreateComponent<TComponent>(service);

    EXPECT_EQ(&form.Root(), &form);
    EXPECT_EQ(&panel.Root(), &form);
    EXPECT_EQ(&button.Root(), &form);
    EXPECT_EQ(&frame.Root(), &frame);
    EXPECT_EQ(&framed.Root(), &frame);
    EXPECT_EQ(&query.Root(), &dataModule);
    EXPECT_EQ(&service.Root(), &service);
    EXPECT_EQ(&serviceChild.Root(), &service);
    EXPECT_EQ(&application->Root(), application.get());
}

TEST_F(ComponentTest, RootOfAFormWithoutApplicationIsTheForm)
{
    auto form = MakeComponent<TFormProbe>("Form1");
    auto& panel = CreateComponent<TComponent>(*form);
    auto& button = CreateComponent<TComponent>(panel);
    EXPECT_EQ(&button.Root(), form.get());
}

TEST_F(ComponentTest, ADetachedComponentIsItsOwnRootAndOutlivesItsFormerOwner)
{
    auto form = MakeComponent<TFormProbe>("Form1");
    auto& panel = CreateComponent<TComponent>(*form);
    auto& gen = CreateComponent<TProbe>(panel, "Gen1", FLog);
    TComponentPtr<TComponent> detached = panel.RemoveComponent(gen);
    EXPECT_EQ(gen.Owner(), nullptr);
    EXPECT_EQ(&gen.Root(), &gen);
    EXPECT_EQ(panel.ComponentCount(), 0U);
    form.reset();
    EXPECT_TRUE(FLog.empty());
    detached.reset();
    EXPECT_EQ(DestroyedNames(), (std::vector<std::string>{"Gen1"}));
}

TEST_F(ComponentTest, RemovingAComponentOfAnotherOwnerIsRefused)
{
    auto form = MakeComponent<TFormProbe>("Form1");
    auto& panel = CreateComponent<TComponent>(*form);
    auto& button = CreateComponent<TComponent>(panel);
    EXPECT_THROW((void)form->RemoveComponent(button), EComponentError);
    EXPECT_EQ(button.Owner(), &panel);
    EXPECT_EQ(panel.ComponentCount(), 1U);
}

TEST_F(ComponentTest, AnAdoptedComponentIsOwnedAndFreedByItsNewOwner)
{
    auto owner = MakeComponent<TProbe>("Owner", FLog);
    auto gen = MakeComponent<TProbe>("Gen1", FLog);
    TProbe* adopted = gen.get();
    owner->InsertComponent(gen);
    EXPECT_EQ(gen, nullptr);
    EXPECT_EQ(adopted->Owner(), owner.get());
    EXPECT_EQ(owner->FindComponent("Gen1"), adopted);
    owner.reset();
    EXPECT_EQ(DestroyedNames(), (std::vector<std::string>{"Owner", "Gen1"}));
}

TEST_F(ComponentTest, AdoptingATakenNameOrAnAncestorIsRefusedAndTheCallerKeepsTheComponent)
{
    auto form = MakeComponent<TFormProbe>("Form1");
    CreateComponent<TComponent>(*form).SetName("Gen1");
    auto gen = MakeComponent<TProbe>("Gen1", FLog);
    EXPECT_THROW(form->InsertComponent(gen), EComponentError);
    ASSERT_NE(gen, nullptr);
    EXPECT_EQ(gen->Owner(), nullptr);
    EXPECT_EQ(form->ComponentCount(), 1U);

    TComponentPtr<TProbe> none;
    EXPECT_THROW(form->InsertComponent(none), EComponentError);
    EXPECT_EQ(form->ComponentCount(), 1U);

    auto& child = CreateComponent<TComponent>(*gen);
    EXPECT_THROW(child.InsertComponent(gen), EComponentError);
    ASSERT_NE(gen, nullptr);
    EXPECT_EQ(gen->Owner(), nullptr);
    EXPECT_TRUE(FLog.empty());
}

TEST_F(ComponentTest, DesignModeBelongsToEachComponentAlone)
{
    auto form = MakeComponent<TFormProbe>("Form1");
    auto& button = CreateComponent<TComponent>(*form);
    form->SetDesigning(true);
    auto& label = CreateComponent<TComponent>(*form);
    EXPECT_TRUE(form->ComponentState().Contains(csDesigning));
    EXPECT_FALSE(button.ComponentState().Contains(csDesigning));
    EXPECT_FALSE(label.ComponentState().Contains(csDesigning));
}

TEST_F(ComponentTest, LoadedEndsLoadingAndKeepsTheComponentMarkedLoaded)
{
    auto form = MakeComponent<TFormProbe>("Form1");
    form->Loading();
    EXPECT_EQ(form->ComponentState(), (TComponentState{csLoading}));
    form->Loaded();
    EXPECT_EQ(form->ComponentState(), (TComponentState{csLoaded}));
    form->Loading();
    EXPECT_EQ(form->ComponentState(), (TComponentState{csLoading, csLoaded}));
}

// A component name must be empty or an identifier.
struct TNameCase
{
    const char* Label;
    const char* Name;
    bool Accepted;
};

class ComponentNameTest : public ::testing::TestWithParam<TNameCase>
{
};

TEST_P(ComponentNameTest, SetNameAcceptsOnlyIdentifiersAndTheEmptyName)
{
    auto form = MakeComponent<TFormProbe>("Form1");
    auto& component = CreateComponent<TComponent>(*form);
    component.SetName("Old");
    if (GetParam().Accepted)
    {
        component.SetName(GetParam().Name);
        EXPECT_EQ(component.Name(), GetParam().Name);
    }
    else
    {
        EXPECT_THROW(component.SetName(GetParam().Name), EComponentError);
        EXPECT_EQ(component.Name(), "Old");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, ComponentNameTest,
    ::testing::Values(TNameCase{"Empty", "", true}, TNameCase{"Letters", "Button", true},
                      TNameCase{"Underscore", "_tmp", true}, TNameCase{"Digits", "SLSignalGen1", true},
                      TNameCase{"LeadingDigit", "1Button", false}, TNameCase{"Dot", "Form1.Button1", false},
                      TNameCase{"Space", "Button 1", false},
                      TNameCase{"NonAscii", "Fr\xc3\xa9quence", false}),
    [](const ::testing::TestParamInfo<TNameCase>& nameCase) { return nameCase.param.Label; });

// Registered by the object below while the test program starts, as a library unit registers its class.
class TSelfRegistered : public TComponent
{
public:
    using TComponent::TComponent;
    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TSelfRegistered", &TComponent::StaticClassInfo(), {});
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }
};

const TComponentClassRegistration<TSelfRegistered> GSelfRegistration;

TEST(ComponentClassRegistrationTest, ARegistrationObjectRegistersItsClassBeforeMainRuns)
{
    const TRegisteredClass* registered = FindComponentClass("TSelfRegistered");
    ASSERT_NE(registered, nullptr);
    EXPECT_EQ(registered->Info, &TSelfRegistered::StaticClassInfo());
    auto owner = MakeComponent<TComponent>();
    TComponent* made = registered->Create(*owner);
    EXPECT_NE(dynamic_cast<TSelfRegistered*>(made), nullptr);
    EXPECT_EQ(made->Owner(), owner.get());
    // A second registration of the same class, as a unit's public Register function makes, changes nothing.
    const TComponentClassRegistration<TSelfRegistered> again;
    EXPECT_EQ(FindComponentClass("TSelfRegistered"), registered);
}

}   // namespace
}   // namespace harvolin
