#pragma once
#include "controls/Graphics.h"
#include <QApplication>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class QCloseEvent;
class QPaintEvent;

namespace harvolin
{

enum class TFormBorderStyle : std::uint8_t
{
    bsNone,       // no frame, no title bar
    bsSingle,     // a title bar, a fixed size
    bsSizeable,   // a title bar, resizable
    bsDialog      // as bsSingle, without minimise and maximise boxes
};

// Title-bar buttons as bits of TForm::BorderIcons.
enum : std::uint32_t
{
    biSystemMenu = 1,   // the window menu and the close box
    biMinimize = 2,
    biMaximize = 4
};

// A top-level window read from a stored description: the components it owns are its controls, whose
// handlers it publishes by name (PublishMethod) before the read. Left and Top place the window on the
// screen, ClientWidth and ClientHeight size its client area. Window thread.
//
// Published (beyond TControl's): ClientWidth, ClientHeight, Caption (the title, UTF-8), Font, ParentFont
// (default False: a window has no parent), BorderStyle, BorderIcons, OnCreate, OnCloseQuery.
class TForm : public TTextControl
{
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;

    [[nodiscard]] static const TClassInfo& StaticClassInfo();
    [[nodiscard]] const TClassInfo& ClassInfo() const override { return StaticClassInfo(); }

    [[nodiscard]] const std::string& Caption() const noexcept { return FCaption; }
    // Text that is not UTF-8 is taken as Latin-1 (TextAsUtf8).
    void SetCaption(std::string value);
    [[nodiscard]] int ClientWidth() const { return width(); }
    void SetClientWidth(int value) { SetBounds(Left(), Top(), value, Height()); }
    [[nodiscard]] int ClientHeight() const { return height(); }
    void SetClientHeight(int value) { SetBounds(Left(), Top(), Width(), value); }
    [[nodiscard]] TFormBorderStyle BorderStyle() const noexcept { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle value);
    // biSystemMenu | biMinimize | biMaximize.
    [[nodiscard]] std::uint32_t BorderIcons() const noexcept { return FBorderIcons; }
    void SetBorderIcons(std::uint32_t value);

    void SetBounds(int left, int top, int width, int height) override;

    // Runs the base Loaded, orders keyboard focus by the controls' TabOrder, then fires OnCreate, so that
    // the handler finds every link of the description resolved. What OnCreate raises goes to the
    // application's exception handler; the window stays loaded.
    void Loaded() override;
    // Asks the window to close; OnCloseQuery decides, as for the title bar's close box and Alt+F4. A refusal
    // is silent.
    void Close();
    // Whether OnCloseQuery lets the window close; no handler lets it. A handler that raises refuses, and its
    // exception goes to the application's handler.
    [[nodiscard]] bool CloseQuery();
    void Show();

    TNotifyMethod OnCreate;
    TCloseQueryMethod OnCloseQuery;
protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
private:
    void ApplyBorder();
    void ApplyTabOrder();

    static constexpr TFormBorderStyle kDefaultBorderStyle = TFormBorderStyle::bsSizeable;
    static constexpr std::uint32_t kDefaultBorderIcons = biSystemMenu | biMinimize | biMaximize;
    std::string FCaption;
    TFormBorderStyle FBorderStyle = kDefaultBorderStyle;
    std::uint32_t FBorderIcons = kDefaultBorderIcons;
};

// The program's application: Qt's, with the default exception handler. An exception that escapes an event
// handler (a control's event, a timer's OnTimer, an action's OnExecute, a form's events) or any Qt event is
// reported to the diagnostics sink and shown in a message box titled with the main form's caption, and the
// program goes on. One per process, made and run on the window thread.
class TApplication : public QApplication
{
public:
    // argc and argv must outlive the application, as for QApplication.
    TApplication(int& argc, char** argv);
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;
    ~TApplication() override;

    // The running TApplication; null when there is none (or Qt's application is a plain QApplication).
    [[nodiscard]] static TApplication* Instance() noexcept;

    // Runs the message loop until the last window closes or Quit(); returns the exit code.
    int Run();

    // The form whose caption titles the messages: the first form made while the application exists, until
    // it is freed, unless set otherwise.
    [[nodiscard]] TForm* MainForm() const noexcept { return FMainForm; }
    void SetMainForm(TForm* form) noexcept { FMainForm = form; }

    // The default exception handler: reports the failure to the diagnostics sink (object, action, message),
    // then gives the message to OnException when set, else shows it in a modal message box. Window thread
    // (the box is a widget; another thread reports to the sink itself). Never throws; what OnException
    // raises is reported to the sink.
    void HandleException(std::string_view object, std::string_view action, std::string_view message) noexcept;

    // Replaces the message box: for tests, and for a program without a display.
    std::function<void(const std::string& message)> OnException;

    bool notify(QObject* receiver, QEvent* event) override;
private:
    friend class TForm;
    void FormGone(const TForm& form) noexcept;

    TForm* FMainForm = nullptr;   // not owning; cleared by the form's destructor
};

}   // namespace harvolin
