#include "rtl/Component.h"
#include "rtl/DescriptionReader.h"
#include "rtl/DescriptionWriter.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

// A root that publishes two handlers of each signature and records who called them.
class TBindingForm : public TComponent
{
public:
    explicit TBindingForm(TComponent* owner) : TComponent(owner, TComponentKind::ckForm)
    {
        PublishMethod("ButtonClick",
                      [this](TComponent& sender) { Calls.push_back("click " + sender.Name()); });
        PublishMethod("OtherClick",
                      [this](TComponent& sender) { Calls.push_back("other " + sender.Name()); });
        PublishMethod("AskClose",
                      [this](TComponent& sender, bool& canClose)
                      {
                          Calls.push_back("ask " + sender.Name());
                          canClose = false;
                      });
    }

    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TBindingForm", &TComponent::StaticClassInfo(), {});
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    std::vector<std::string> Calls;
};

class TBindingButton : public TComponent
{
public:
    explicit TBindingButton(TComponent* owner) : TComponent(owner) {}

    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info(
            "TBindingButton", &TComponent::StaticClassInfo(),
            []
            {
                TPropertyList<TBindingButton> list;
                EventProperty<TNotifyMethod>(
                    list, "OnClick", [](TBindingButton& o, TNotifyMethod m) { o.OnClick = std::move(m); });
                EventProperty<TCloseQueryMethod>(list, "OnQuery",
                                                 [](TBindingButton& o, TCloseQueryMethod m)
                                                 { o.OnQuery = std::move(m); });
                return list.Take();
            }());
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    TNotifyMethod OnClick;
    TCloseQueryMethod OnQuery;
};

const TComponentClassRegistration<TBindingButton> GButtonRegistration;

class EventBindingTest : public ::testing::Test
{
protected:
    TBindingButton& Read(const std::string& buttonBody)
    {
        ReadDescription(*FForm, "object Form1: TBindingForm\n  object Button1: TBindingButton\n" +
                                    buttonBody + "  end\nend\n");
        return static_cast<TBindingButton&>(FForm->Components(0));
    }

    TComponentPtr<TBindingForm> FForm = MakeComponent<TBindingForm>();
};

TEST_F(EventBindingTest, ANameBindsTheRootsHandlerOfEachSignature)
{
    TBindingButton& button = Read("    OnClick = ButtonClick\n    OnQuery = AskClose\n");
    ASSERT_TRUE(button.OnClick);
    button.OnClick(button);
    bool canClose = true;
    ASSERT_TRUE(button.OnQuery);
    button.OnQuery(button, canClose);
    EXPECT_FALSE(canClose);
    EXPECT_EQ(FForm->Calls, (std::vector<std::string>{"click Button1", "ask Button1"}));
}

TEST_F(EventBindingTest, AnUnknownNameIsAReadErrorNamingTheHandlerAndTheRootsClass)
{
    try
    {
        (void)Read("    OnClick = NoSuchClick\n");
        FAIL() << "read an unknown handler";
    }
    catch (const EReadError& error)
    {
        const std::string message = error.what();
        EXPECT_NE(message.find("line 3"), std::string::npos) << message;
        EXPECT_NE(message.find("'NoSuchClick'"), std::string::npos) << message;
        EXPECT_NE(message.find("TBindingForm"), std::string::npos) << message;
    }
    EXPECT_EQ(FForm->ComponentCount(), 0U);
}

TEST_F(EventBindingTest, AHandlerOfTheOtherSignatureIsRefusedBothWays)
{
    EXPECT_THROW((void)Read("    OnClick = AskClose\n"), EReadError);
    try
    {
        (void)Read("    OnQuery = ButtonClick\n");
        FAIL() << "bound a notify handler to a close-query event";
    }
    catch (const EReadError& error)
    {
        const std::string message = error.what();
        EXPECT_NE(message.find("'ButtonClick'"), std::string::npos) << message;
        EXPECT_NE(message.find("notify"), std::string::npos) << message;
    }
}

TEST_F(EventBindingTest, WritingBackStoresBoundNamesAndLeavesUnboundEventsOut)
{
    const std::string text = "object Form1: TBindingForm\n"
                             "  object Button1: TBindingButton\n"
                             "    OnClick = OtherClick\n"
                             "  end\n"
                             "  object Button2: TBindingButton\n"
                             "  end\n"
                             "end\n";
    ReadDescription(*FForm, text);
    EXPECT_EQ(WriteDescription(*FForm), text);
}

TEST_F(EventBindingTest, NilUnbindsAndForgetsTheName)
{
    TBindingButton& button = Read("    OnClick = ButtonClick\n");
    const TPropertyInfo* onClick = button.ClassInfo().FindProperty("OnClick");
    ASSERT_NE(onClick, nullptr);
    onClick->Set(button, TDescValue::Identifier("nil"));
    EXPECT_FALSE(button.OnClick);
    EXPECT_EQ(button.BoundMethodName("OnClick"), "");
}

TEST_F(EventBindingTest, AComponentBelowAPlainOwnerFindsTheFormAboveIt)
{
    // The handler is looked up in the root, not in the component's direct owner.
    TBindingButton& holder = CreateComponent<TBindingButton>(*FForm);
    TBindingButton& inner = CreateComponent<TBindingButton>(holder);
    inner.SetName("Inner");
    const TPropertyInfo* onClick = inner.ClassInfo().FindProperty("OnClick");
    onClick->Set(inner, TDescValue::Identifier("ButtonClick"));
    inner.OnClick(inner);
    EXPECT_EQ(FForm->Calls, (std::vector<std::string>{"click Inner"}));
}

}   // namespace
}   // namespace harvolin
