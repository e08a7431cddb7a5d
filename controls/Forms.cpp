#include "controls/Forms.h"
#include "controls/VrClasses.h"
#include "rtl/Diagnostics.h"
#include <QCloseEvent>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <exception>
#include <vector>

namespace harvolin
{
namespace
{

const TComponentClassRegistration<TForm> GRegistration;

// Chains keyboard focus through the controls of parent (and, separately, of each of them) in TabOrder;
// controls without a tab order (negative) are left where Qt put them.
void OrderTabs(QWidget& parent)
{
    std::vector<TControl*> ordered;
    for (QObject* child : parent.children())
        if (auto* control = dynamic_cast<TControl*>(child))
        {
            if (control->TabOrder() >= 0)
                ordered.push_back(control);
            OrderTabs(*control);
        }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const TControl* a, const TControl* b) { return a->TabOrder() < b->TabOrder(); });
    // A control whose focus goes to a Qt widget inside (a button, a check box) is ordered by that widget.
    const auto focusTaker = [](QWidget* widget)
    { return widget->focusProxy() ? widget->focusProxy() : widget; };
    for (std::size_t i = 1; i < ordered.size(); ++i)
        QWidget::setTabOrder(focusTaker(ordered[i - 1]), focusTaker(ordered[i]));
}

std::string ObjectNameOf(QObject* receiver)
{
    if (const auto* component = dynamic_cast<const TComponent*>(receiver))
        return component->Name().empty() ? component->ClassName() : component->Name();
    if (receiver == nullptr)
        return "(none)";
    return receiver->objectName().isEmpty() ? receiver->metaObject()->className()
                                            : receiver->objectName().toStdString();
}

}   // namespace

TForm::TForm(TComponent* owner) : TTextControl(owner, TComponentKind::ckForm)
{
    SetParentFont(false);
    SetParentColor(false);
    ApplyBorder();
    if (TApplication* application = TApplication::Instance();
        application != nullptr && !application->MainForm())
        application->SetMainForm(this);
}

TForm::~TForm()
{
    if (TApplication* application = TApplication::Instance())
        application->FormGone(*this);
}

const TClassInfo& TForm::StaticClassInfo()
{
    using T = TForm;
    static const TClassInfo info(
        "TForm", &TTextControl::StaticClassInfo(),
        []
        {
            TPropertyList<T> list;
            list.Integer(
                    "ClientWidth", [](const T& o) { return o.ClientWidth(); },
                    [](T& o, int v) { o.SetClientWidth(v); })
                .Integer(
                    "ClientHeight", [](const T& o) { return o.ClientHeight(); },
                    [](T& o, int v) { o.SetClientHeight(v); })
                .String(
                    "Caption", [](const T& o) { return o.Caption(); },
                    [](T& o, const std::string& v) { o.SetCaption(v); }, std::string())
                .Enumeration<TFormBorderStyle>(
                    "BorderStyle", {"bsNone", "bsSingle", "bsSizeable", "bsDialog"},
                    [](const T& o) { return o.BorderStyle(); },
                    [](T& o, TFormBorderStyle v) { o.SetBorderStyle(v); }, kDefaultBorderStyle)
                .SetOf(
                    "BorderIcons", {"biSystemMenu", "biMinimize", "biMaximize"},
                    [](const T& o) { return o.BorderIcons(); },
                    [](T& o, std::uint32_t v) { o.SetBorderIcons(v); }, kDefaultBorderIcons);
            AddFontProperties(list, false);
            EventProperty<TNotifyMethod>(list, "OnCreate",
                                         [](T& o, TNotifyMethod m) { o.OnCreate = std::move(m); });
            EventProperty<TCloseQueryMethod>(
                list, "OnCloseQuery", [](T& o, TCloseQueryMethod m) { o.OnCloseQuery = std::move(m); });
            return list.Take();
        }());
    return info;
}

void TForm::SetCaption(std::string value)
{
    FCaption = TextAsUtf8(std::move(value));
    setWindowTitle(ToQString(FCaption));
}

void TForm::SetBorderStyle(TFormBorderStyle value)
{
    FBorderStyle = value;
    ApplyBorder();
}

void TForm::SetBorderIcons(std::uint32_t value)
{
    FBorderIcons = value;
    ApplyBorder();
}

void TForm::SetBounds(int left, int top, int width, int height)
{
    // A window is placed by its frame and sized by its client area, as Qt's move() and resize() do; the
    // size limits of a fixed border are lifted for the change and set again after it.
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    move(left, top);
    resize(std::max(0, width), std::max(0, height));
    if (FBorderStyle != TFormBorderStyle::bsSizeable)
        setFixedSize(size());
}

void TForm::ApplyBorder()
{
    Qt::WindowFlags flags = Qt::Window;
    if (FBorderStyle == TFormBorderStyle::bsNone)
        flags |= Qt::FramelessWindowHint;
    else
    {
        // Customised: only the buttons asked for appear.
        flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if ((FBorderIcons & biSystemMenu) != 0)
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (FBorderStyle != TFormBorderStyle::bsDialog && (FBorderIcons & biMinimize) != 0)
            flags |= Qt::WindowMinimizeButtonHint;
        // A window of fixed size cannot be maximised.
        if (FBorderStyle == TFormBorderStyle::bsSizeable && (FBorderIcons & biMaximize) != 0)
            flags |= Qt::WindowMaximizeButtonHint;
    }
    const bool shown = isVisible();
    setWindowFlags(flags);   // hides a shown window
    SetBounds(Left(), Top(), Width(), Height());
    if (shown)
        show();
}

void TForm::Loaded()
{
    TTextControl::Loaded();
    OrderTabs(*this);
    if (OnCreate)
        GuardEvent(*this, "OnCreate", [&] { OnCreate(*this); });
}

void TForm::Close()
{
    (void)close();
}

bool TForm::CloseQuery()
{
    bool canClose = true;
    if (!OnCloseQuery)
        return true;
    bool answered = false;
    GuardEvent(*this, "OnCloseQuery",
               [&]
               {
                   OnCloseQuery(*this, canClose);
                   answered = true;
               });
    return answered && canClose;
}

void TForm::Show()
{
    show();
}

void TForm::closeEvent(QCloseEvent* event)
{
    if (CloseQuery())
        event->accept();
    else
        event->ignore();
}

void TForm::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), QColor::fromRgb(ColorToQRgb(ShownColor())));
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

TApplication::~TApplication() = default;

TApplication* TApplication::Instance() noexcept
{
    return dynamic_cast<TApplication*>(QCoreApplication::instance());
}

int TApplication::Run()
{
    return exec();
}

void TApplication::FormGone(const TForm& form) noexcept
{
    if (FMainForm == &form)
        FMainForm = nullptr;
}

void TApplication::HandleException(std::string_view object, std::string_view action,
                                   std::string_view message) noexcept
{
    ReportFailure(object, action, message);
    try
    {
        const std::string text(message);
        if (OnException)
            return OnException(text);
        const QString title =
            FMainForm != nullptr ? ToQString(FMainForm->Caption()) : applicationDisplayName();
        QMessageBox::critical(FMainForm, title, ToQString(text));
    }
    catch (...)
    {
        ReportCurrentException("application", "showing an exception");
    }
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    // The last place an exception can be caught before it would cross Qt's event loop.
    try
    {
        return QApplication::notify(receiver, event);
    }
    catch (...)
    {
        const std::exception_ptr failure = std::current_exception();
        std::string object = "(unnamed)";
        try
        {
            object = ObjectNameOf(receiver);
        }
        catch (...)
        {
            // Out of memory for the name: the failure is reported under the placeholder.
        }
        HandleException(object, "a Qt event", ExceptionMessage(failure));
    }
    return false;
}

}   // namespace harvolin
