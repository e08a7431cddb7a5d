#include "controls/Forms.h"
#include "controls/ExtCtrls.h"
#include "controls/StdCtrls.h"
#include "controls/VrSpectrum.h"
#include "controls/VrTrackBar.h"
#include "rtl/DescriptionReader.h"
#include "rtl/DescriptionText.h"
#include "rtl/DescriptionWriter.h"
#include "rtl/Diagnostics.h"
#include <QCheckBox>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace harvolin
{
namespace
{

// The program's main window as the test knows it: it publishes every handler the window's description
// names and records each call as "handler:sender".
class TfmMain : public TForm
{
public:
    explicit TfmMain(TComponent* owner) : TForm(owner)
    {
        for (const char* name : {"cbFreqVarClick", "ActBFStartExecute", "ActBFStopExecute", "Timer1Timer",
                                 "tbFreqMinChange", "tbFreqMaxChange", "tbVolMinChange", "tbVolMaxChange"})
            PublishMethod(name,
                          [this, name = std::string(name)](TComponent& sender) { Record(name, sender); });
        PublishMethod("ActAppCloseExecute",
                      [this](TComponent& sender)
                      {
                          Record("ActAppCloseExecute", sender);
                          Close();
                      });
        PublishMethod("FormCreate",
                      [this](TComponent& sender)
                      {
                          Record("FormCreate", sender);
                          CreateSawEverythingLoaded = EverythingLoaded(*this);
                      });
        PublishMethod("FormCloseQuery",
                      [this](TComponent& sender, bool& canClose)
                      {
                          Record("FormCloseQuery", sender);
                          canClose = AllowClose;
                      });
    }

    [[nodiscard]] static const TClassInfo& StaticClassInfo()
    {
        static const TClassInfo info("TfmMain", &TForm::StaticClassInfo(), {});
        return info;
    }
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] std::size_t CallCount(const std::string& call) const
    {
        return static_cast<std::size_t>(std::count(Calls.begin(), Calls.end(), call));
    }

    std::vector<std::string> Calls;
    std::string Failing;   // the handler that raises
    bool AllowClose = true;
    bool CreateSawEverythingLoaded = false;
private:
    void Record(const std::string& name, const TComponent& sender)
    {
        Calls.push_back(name + ":" + sender.Name());
        if (name == Failing)
            throw std::runtime_error(name + " failed on purpose");
    }

    static bool EverythingLoaded(const TComponent& component)
    {
        for (std::size_t i = 0; i < component.ComponentCount(); ++i)
        {
            const TComponent& child = component.Components(i);
            if (!child.ComponentState().Contains(TComponentStateFlag::csLoaded) || !EverythingLoaded(child))
                return false;
        }
        return true;
    }
};

const TComponentClassRegistration<TfmMain> GRegistration;

// The window's description as the program stores it, without the pipeline's components (another library).
std::string MainWindowText()
{
    std::ifstream file(HARVOLIN_SOURCE_DIR "/app/frmMain.txt");
    std::stringstream text;
    text << file.rdbuf();
    TDescObject window = ParseDescription(text.str());
    std::erase_if(window.Children,
                  [](const TDescObject& child)
                  {
                      return child.ClassName == "TSLSignalGen" || child.ClassName == "TALRealToAudio" ||
                             child.ClassName == "TALDSAudioOut";
                  });
    return PrintDescription(window);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

class FormsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(TApplication::Instance(), nullptr);
        TApplication::Instance()->OnException = [this](const std::string& message)
        { FShown.push_back(message); };
        ReadDescription(*FForm, MainWindowText());
    }
    void TearDown() override
    {
        TApplication::Instance()->OnException = [](const std::string& message)
        { ADD_FAILURE() << "an exception was shown after its test: " << message; };
    }

    template <class T>
    T& Find(const char* name) const
    {
        TComponent* component = FForm->FindComponent(name);
        auto* found = dynamic_cast<T*>(component);
        if (found == nullptr)
            throw std::runtime_error(std::string("no ") + name + " of the expected class");
        return *found;
    }

    void ShowWindow()
    {
        FForm->Show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FForm.get()));
    }

    TComponentPtr<TfmMain> FForm = MakeComponent<TfmMain>();
    std::vector<std::string> FShown;
};

void ExpectBounds(const TControl& control, int left, int top, int width, int height)
{
    EXPECT_EQ(control.Left(), left) << control.Name();
    EXPECT_EQ(control.Top(), top) << control.Name();
    EXPECT_EQ(control.Width(), width) << control.Name();
    EXPECT_EQ(control.Height(), height) << control.Name();
}

TEST_F(FormsTest, TheWindowIsPlacedSizedAndFramedAsStored)
{
    EXPECT_EQ(FForm->Name(), "fmMain");
    EXPECT_EQ(FForm->Left(), 357);
    EXPECT_EQ(FForm->Top(), 228);
    EXPECT_EQ(FForm->ClientWidth(), 545);
    EXPECT_EQ(FForm->ClientHeight(), 353);
    EXPECT_EQ(FForm->windowTitle(), QString("Harvolin"));
    EXPECT_EQ(FForm->Color(), clBtnFace);
    EXPECT_EQ(FForm->BorderStyle(), TFormBorderStyle::bsSingle);
    // A single border is not resizable; the title bar has the close and minimise boxes only.
    EXPECT_EQ(FForm->minimumSize(), QSize(545, 353));
    EXPECT_EQ(FForm->maximumSize(), QSize(545, 353));
    const Qt::WindowFlags flags = FForm->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(FForm->Font().Name(), "MS Sans Serif");
    EXPECT_EQ(FForm->font().pixelSize(), 11);
}

TEST_F(FormsTest, EveryControlHasItsStoredGeometryAndValues)
{
    ExpectBounds(Find<TVrSpectrum>("VrSpectrum1"), 16, 176, 513, 121);
    ExpectBounds(Find<TBevel>("Bevel1"), 16, 16, 513, 145);
    EXPECT_EQ(Find<TBevel>("Bevel1").Shape(), TBevelShape::bsFrame);
    ExpectBounds(Find<TBevel>("Bevel2"), 272, 24, 9, 129);
    EXPECT_EQ(Find<TBevel>("Bevel2").Shape(), TBevelShape::bsLeftLine);
    EXPECT_EQ(Find<TBevel>("Bevel2").Style(), TBevelStyle::bsLowered);

    const TLabel& freqMin = Find<TLabel>("lblFreqMin");
    EXPECT_EQ(freqMin.Left(), 32);
    EXPECT_EQ(freqMin.Top(), 56);
    EXPECT_EQ(freqMin.Caption(), "Fr\u00e9quence Min");   // stored as the character code 233
    EXPECT_TRUE(freqMin.AutoSize());
    EXPECT_TRUE(freqMin.ParentFont());
    EXPECT_EQ(freqMin.Font().Name(), "MS Sans Serif");
    EXPECT_EQ(Find<TLabel>("lblVolMax").Caption(), "Volume Max");

    const TLabel& freq = Find<TLabel>("lblFreq");
    ExpectBounds(freq, 176, 24, 89, 17);
    EXPECT_EQ(freq.Caption(), "----- Hz");
    EXPECT_EQ(freq.Alignment(), TAlignment::taCenter);
    EXPECT_EQ(freq.Layout(), TTextLayout::tlCenter);
    EXPECT_FALSE(freq.ParentColor());
    EXPECT_EQ(freq.Color(), clBlack);
    EXPECT_FALSE(freq.ParentFont());
    EXPECT_EQ(freq.Font().Name(), "Courier New");
    EXPECT_EQ(freq.Font().Color(), clAqua);
    ExpectBounds(Find<TLabel>("lblVol"), 432, 24, 89, 17);

    const TCheckBox& freqVar = Find<TCheckBox>("cbFreqVar");
    ExpectBounds(freqVar, 24, 24, 121, 17);
    EXPECT_TRUE(freqVar.Checked());
    EXPECT_EQ(freqVar.Box().text(), QString::fromUtf8("Fr\u00e9quence variable"));
    EXPECT_EQ(freqVar.TabOrder(), 6);
    EXPECT_TRUE(Find<TCheckBox>("cbVolVar").Checked());

    ExpectBounds(Find<TButton>("btnStart"), 16, 312, 81, 25);
    ExpectBounds(Find<TButton>("btnClose"), 200, 312, 81, 25);
    const TVrTrackBar& volMax = Find<TVrTrackBar>("tbVolMax");
    ExpectBounds(volMax, 280, 120, 241, 29);
    EXPECT_EQ(volMax.Position(), 70);
    EXPECT_EQ(volMax.TabOrder(), 5);

    const TTimer& timer = Find<TTimer>("Timer1");
    EXPECT_EQ(timer.Interval(), 3000);
    EXPECT_FALSE(timer.Enabled());
    EXPECT_FALSE(timer.Active());
    EXPECT_EQ(Find<TActionList>("ActionList1").Actions().size(), 3U);
}

TEST_F(FormsTest, ButtonsShowTheirActionsCaptionsAndFollowTheirChanges)
{
    TButton& start = Find<TButton>("btnStart");
    EXPECT_EQ(start.Button().text(), QString("Start"));
    EXPECT_EQ(Find<TButton>("btnStop").Button().text(), QString("Stop"));
    EXPECT_EQ(Find<TButton>("btnClose").Button().text(), QString("Quitter"));
    ASSERT_NE(start.Action(), nullptr);
    EXPECT_EQ(start.Action()->Name(), "ActBFStart");

    start.Action()->SetEnabled(false);
    EXPECT_FALSE(start.Enabled());
    start.Action()->SetCaption("Go");
    EXPECT_EQ(start.Button().text(), QString("Go"));
    // The button's own Enabled is the button's alone.
    start.SetEnabled(true);
    EXPECT_TRUE(start.Enabled());
    EXPECT_FALSE(start.Action()->Enabled());
}

TEST_F(FormsTest, ClickingAButtonRunsItsActionsHandler)
{
    ShowWindow();
    QTest::mouseClick(&Find<TButton>("btnStart").Button(), Qt::LeftButton);
    QTest::mouseClick(&Find<TButton>("btnStop").Button(), Qt::LeftButton);
    EXPECT_EQ(FForm->CallCount("ActBFStartExecute:ActBFStart"), 1U);
    EXPECT_EQ(FForm->CallCount("ActBFStopExecute:ActBFStop"), 1U);

    // A disabled button takes no click.
    Find<TButton>("btnStart").SetEnabled(false);
    QTest::mouseClick(&Find<TButton>("btnStart").Button(), Qt::LeftButton);
    EXPECT_EQ(FForm->CallCount("ActBFStartExecute:ActBFStart"), 1U);
}

TEST_F(FormsTest, TogglingTheCheckBoxRunsItsHandlerButLoadingDidNot)
{
    EXPECT_EQ(FForm->CallCount("cbFreqVarClick:cbFreqVar"), 0U);
    ShowWindow();
    TCheckBox& freqVar = Find<TCheckBox>("cbFreqVar");
    QTest::mouseClick(&freqVar.Box(), Qt::LeftButton);
    EXPECT_FALSE(freqVar.Checked());
    EXPECT_EQ(FForm->CallCount("cbFreqVarClick:cbFreqVar"), 1U);
    freqVar.SetChecked(true);
    EXPECT_EQ(FForm->CallCount("cbFreqVarClick:cbFreqVar"), 2U);
    freqVar.SetChecked(true);   // no change, no click
    EXPECT_EQ(FForm->CallCount("cbFreqVarClick:cbFreqVar"), 2U);
}

TEST_F(FormsTest, TrackBarChangesRunTheirBoundHandlers)
{
    Find<TVrTrackBar>("tbVolMin").SetPosition(30);
    EXPECT_EQ(FForm->CallCount("tbVolMinChange:tbVolMin"), 1U);
    EXPECT_EQ(FForm->CallCount("tbVolMaxChange:tbVolMax"), 0U);
}

TEST_F(FormsTest, FormCreateRanOnceAfterEverythingWasLoaded)
{
    EXPECT_EQ(FForm->CallCount("FormCreate:fmMain"), 1U);
    EXPECT_TRUE(FForm->CreateSawEverythingLoaded);
    EXPECT_TRUE(FForm->ComponentState().Contains(TComponentStateFlag::csLoaded));
}

TEST_F(FormsTest, AFailingOnCreateIsShownAndTheWindowStaysLoaded)
{
    TComponentPtr<TfmMain> form = MakeComponent<TfmMain>();
    form->Failing = "FormCreate";
    ReadDescription(*form, MainWindowText());
    EXPECT_EQ(FShown, std::vector<std::string>{"FormCreate failed on purpose"});
    EXPECT_TRUE(form->ComponentState().Contains(TComponentStateFlag::csLoaded));
    EXPECT_NE(form->FindComponent("btnClose"), nullptr);
}

TEST_F(FormsTest, TheTimerRunsItsHandlerAndKeepsRunningAfterAnException)
{
    TTimer& timer = Find<TTimer>("Timer1");
    FForm->Failing = "Timer1Timer";
    timer.SetInterval(5);
    timer.SetEnabled(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return FForm->CallCount("Timer1Timer:Timer1") >= 3; }, 10000));
    timer.SetEnabled(false);
    ASSERT_GE(FShown.size(), 3U);
    EXPECT_EQ(FShown.front(), "Timer1Timer failed on purpose");
    EXPECT_TRUE(timer.Enabled() == false && !timer.Active());
}

TEST_F(FormsTest, ClosingIsRefusedWhileTheCloseQuerySaysNo)
{
    ShowWindow();
    FForm->AllowClose = false;
    FForm->Close();
    EXPECT_TRUE(FForm->isVisible());
    QTest::mouseClick(&Find<TButton>("btnClose").Button(), Qt::LeftButton);
    EXPECT_TRUE(FForm->isVisible());
    EXPECT_EQ(FForm->CallCount("FormCloseQuery:fmMain"), 2U);
    EXPECT_TRUE(FShown.empty());

    FForm->AllowClose = true;
    QTest::mouseClick(&Find<TButton>("btnClose").Button(), Qt::LeftButton);
    EXPECT_FALSE(FForm->isVisible());
}

TEST_F(FormsTest, ACloseQueryThatRaisesRefusesAndIsShown)
{
    ShowWindow();
    FForm->Failing = "FormCloseQuery";
    FForm->Close();
    EXPECT_TRUE(FForm->isVisible());
    EXPECT_EQ(FShown, std::vector<std::string>{"FormCloseQuery failed on purpose"});
}

TEST_F(FormsTest, AnExceptionFromAHandlerIsShownAndReportedAndTheProgramGoesOn)
{
    TDiagnosticCapture capture;
    ShowWindow();
    FForm->Failing = "ActBFStartExecute";
    QTest::mouseClick(&Find<TButton>("btnStart").Button(), Qt::LeftButton);
    EXPECT_EQ(FShown, std::vector<std::string>{"ActBFStartExecute failed on purpose"});
    const std::vector<TDiagnostic> reports = capture.Delivered();
    ASSERT_EQ(reports.size(), 1U);
    EXPECT_EQ(reports[0].Object, "btnStart");
    EXPECT_EQ(reports[0].Message, "ActBFStartExecute failed on purpose");

    QTest::mouseClick(&Find<TButton>("btnStop").Button(), Qt::LeftButton);
    EXPECT_EQ(FForm->CallCount("ActBFStopExecute:ActBFStop"), 1U);
}

TEST_F(FormsTest, AnExceptionEscapingAQtEventReachesTheApplicationsHandler)
{
    class TThrowing : public QObject
    {
    public:
        bool event(QEvent*) override { throw std::runtime_error("thrown by a Qt event"); }
    } throwing;
    throwing.setObjectName("thrower");
    TDiagnosticCapture capture;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&throwing, &event));
    EXPECT_EQ(FShown, std::vector<std::string>{"thrown by a Qt event"});
    ASSERT_EQ(capture.Delivered().size(), 1U);
    EXPECT_EQ(capture.Delivered()[0].Object, "thrower");
}

TEST_F(FormsTest, AnUnknownHandlerNameIsAReadErrorNamingIt)
{
    const std::string text = Replaced(MainWindowText(), "cbFreqVarClick", "cbNoSuchClick");
    TComponentPtr<TfmMain> other = MakeComponent<TfmMain>();
    try
    {
        ReadDescription(*other, text);
        FAIL() << "read a description naming an unknown handler";
    }
    catch (const EReadError& error)
    {
        const std::string message = error.what();
        EXPECT_NE(message.find("'cbNoSuchClick'"), std::string::npos) << message;
        EXPECT_NE(message.find("TfmMain"), std::string::npos) << message;
    }
    EXPECT_EQ(other->ComponentCount(), 0U);
    EXPECT_EQ(other->CallCount("FormCreate:fmMain"), 0U);
}

TEST_F(FormsTest, AnUnknownActionNameIsAReadError)
{
    const std::string text = Replaced(MainWindowText(), "Action = ActBFStop", "Action = ActNoSuch");
    TComponentPtr<TfmMain> other = MakeComponent<TfmMain>();
    try
    {
        ReadDescription(*other, text);
        FAIL() << "read a description naming an unknown action";
    }
    catch (const EReadError& error)
    {
        EXPECT_NE(std::string(error.what()).find("'ActNoSuch'"), std::string::npos) << error.what();
    }
}

TEST_F(FormsTest, WritingTheWindowBackReadsToTheSameWindow)
{
    const std::string written = WriteDescription(*FForm);
    EXPECT_NE(written.find("OnClick = cbFreqVarClick"), std::string::npos) << written;
    EXPECT_NE(written.find("Action = ActAppClose"), std::string::npos) << written;
    EXPECT_NE(written.find("OnCloseQuery = FormCloseQuery"), std::string::npos) << written;
    // The labels that show the window's font store none of it.
    EXPECT_EQ(written.find("Font.Name = 'MS Sans Serif'"), written.rfind("Font.Name = 'MS Sans Serif'"));
    TComponentPtr<TfmMain> other = MakeComponent<TfmMain>();
    ReadDescription(*other, written);
    EXPECT_EQ(WriteDescription(*other), written);
}

// The widgets of expected in the order Qt's focus chain visits them, starting at the first.
std::vector<QWidget*> FocusChain(const std::vector<QWidget*>& expected)
{
    std::vector<QWidget*> chain;
    QWidget* widget = expected.front();
    do
    {
        if (std::find(expected.begin(), expected.end(), widget) != expected.end())
            chain.push_back(widget);
        widget = widget->nextInFocusChain();
    } while (widget != expected.front() && chain.size() < expected.size());
    return chain;
}

TEST_F(FormsTest, KeyboardFocusFollowsTheTabOrder)
{
    // The buttons and check boxes take focus through their Qt widgets. Here the stop and close buttons
    // swap tab orders, so that the order differs from the order of creation.
    std::string text = Replaced(MainWindowText(), "TabOrder = 1\n", "TabOrder = 99\n");
    text = Replaced(text, "TabOrder = 8\n", "TabOrder = 1\n");
    TComponentPtr<TfmMain> form = MakeComponent<TfmMain>();
    ReadDescription(*form, text);
    const auto button = [&](const char* name)
    { return &dynamic_cast<TButton&>(*form->FindComponent(name)).Button(); };
    const auto box = [&](const char* name)
    { return &dynamic_cast<TCheckBox&>(*form->FindComponent(name)).Box(); };
    const std::vector<QWidget*> expected{button("btnStart"), button("btnClose"), box("cbFreqVar"),
                                         box("cbVolVar"), button("btnStop")};
    EXPECT_EQ(FocusChain(expected), expected);
}

TEST_F(FormsTest, ControlsShowingTheWindowsFontFollowItsChanges)
{
    FForm->Font().SetHeight(-20);
    EXPECT_EQ(Find<TLabel>("lblFreqMin").font().pixelSize(), 20);
    EXPECT_EQ(Find<TCheckBox>("cbFreqVar").font().pixelSize(), 20);
    EXPECT_EQ(Find<TLabel>("lblFreq").font().pixelSize(), 11);   // its own font
    EXPECT_EQ(Find<TLabel>("lblFreq").font().styleHint(), QFont::TypeWriter);

    TLabel& label = Find<TLabel>("lblFreqMin");
    label.Font().SetStyle(fsBold);
    EXPECT_FALSE(label.ParentFont());
    EXPECT_TRUE(label.font().bold());
    FForm->Font().SetHeight(-9);
    EXPECT_EQ(label.font().pixelSize(), 20);
    label.SetParentFont(true);
    EXPECT_EQ(label.font().pixelSize(), 9);
    EXPECT_FALSE(label.font().bold());
}

}   // namespace
}   // namespace harvolin
