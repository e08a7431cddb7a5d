// Shows the program's window on a real X server while it plays, photographs the screen into a PNG for
// review, and checks a few pixels of what the server shows: the read-outs' black background and the
// spectrum's lit bar. Run by window-screenshot.sh, which starts the server and stops it; exits 0 when every
// check holds, 1 otherwise, saying which.
//
//   app_window_screenshot OUTPUT.png
#include "app/frmMain.h"
#include "audioout/ALDSAudioOut.h"
#include "controls/ExtCtrls.h"
#include "controls/StdCtrls.h"
#include "controls/VrSpectrum.h"
#include "gen/SLSignalGen.h"
#include "media/AudioDevices.h"
#include "rtl/qt/QtMessageQueue.h"
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>

namespace harvolin
{
namespace
{

int GFailures = 0;

void Check(bool holds, const std::string& what)
{
    if (!holds)
    {
        std::cerr << "app_window_screenshot: " << what << '\n';
        ++GFailures;
    }
}

template <class T>
T& Part(TfmMain& window, const char* name)
{
    auto* part = dynamic_cast<T*>(window.FindComponent(name));
    if (part == nullptr)
        throw std::runtime_error(std::string("the window has no part named ") + name);
    return *part;
}

// Runs the message loop until condition holds or five seconds have passed.
bool ServeUntil(const std::function<bool()>& condition)
{
    const QDeadlineTimer deadline(5000);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

// The screen's pixel under a point of a control, given in the control's own coordinates.
QColor ScreenPixel(const QImage& screen, const QWidget& widget, QPoint local)
{
    const QPoint global = widget.mapToGlobal(local);
    return screen.pixelColor(global);
}

int Run(const char* output)
{
    TQtMessageQueue queue;
    // The null renderer as the device: paced like a sound card, so the pipeline runs as it would.
    SetNullRendererOptions({.Paced = true, .BufferDuration = std::chrono::milliseconds(40), .RecordTo = {}});
    std::string messages;
    TApplication::Instance()->OnException = [&](const std::string& message) { messages += message + "\n"; };
    auto window = TfmMain::Create(std::string(kNullAudioRendererFriendlyName));
    window->Show();
    Check(ServeUntil([&] { return window->isVisible() && QTest::qWaitForWindowExposed(window.get(), 50); }),
          "the window was never shown");

    QTest::mouseClick(&Part<TButton>(*window, "btnStart").Button(), Qt::LeftButton);
    Check(window->Running(), "Start did not start the tone");
    auto& timer = Part<TTimer>(*window, "Timer1");
    timer.OnTimer(timer);
    const int bar = static_cast<int>(window->SLSignalGen1().Frequency() / 1000);
    const int level = static_cast<int>(window->SLSignalGen1().Amplitude() / 320);
    // Long enough for the server to have every repaint: the spectrum draws its lit bar at once.
    const QDeadlineTimer settle(500);
    ServeUntil([&] { return settle.hasExpired(); });

    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    Check(screen.save(output), std::string("cannot write ") + output);
    std::cout << "app_window_screenshot: the window while playing is in " << output << '\n';

    // The read-outs: black around their aqua text.
    for (const char* name : {"lblFreq", "lblVol"})
    {
        const auto& label = Part<TLabel>(*window, name);
        const QColor corner = ScreenPixel(screen, label, QPoint(2, 2));
        Check(corner == QColor(Qt::black), std::string(name) + "'s background is " + corner.name().toStdString() +
                                               ", not black");
    }
    // The lit bar's lowest segment has the first palette's colours (green to lime); an unlit bar's the
    // dimmed ones. Segments have gaps between them: the greenest pixel of the bar's lowest rows counts.
    auto& spectrum = Part<TVrSpectrum>(*window, "VrSpectrum1");
    const auto lowest = [&](int index)
    {
        const TVrRect rect = spectrum.BarRect(index);
        QColor greenest(Qt::black);
        for (int y = rect.Bottom - 1; y >= rect.Bottom - 12 && y >= rect.Top; --y)
        {
            const QColor pixel = ScreenPixel(screen, spectrum, QPoint((rect.Left + rect.Right) / 2, y));
            if (pixel.green() > greenest.green())
                greenest = pixel;
        }
        return greenest;
    };
    const QColor lit = lowest(bar);
    const QColor unlit = lowest(bar == 0 ? 1 : 0);
    // Lit, the lowest segment is near lime (#00ff00); unlit, it is dimmed to about half.
    Check(lit.green() >= 224 && lit.red() < 64 && lit.blue() < 64,
          "bar " + std::to_string(bar) + " (volume " + std::to_string(level) + ") is not lit lime but " +
              lit.name().toStdString());
    Check(unlit.green() < 192, "an unlit bar is lit: " + unlit.name().toStdString());
    std::cout << "app_window_screenshot: bar " << bar << " lit " << lit.name().toStdString() << ", bar "
              << (bar == 0 ? 1 : 0) << " unlit " << unlit.name().toStdString() << '\n';

    QTest::mouseClick(&Part<TButton>(*window, "btnStop").Button(), Qt::LeftButton);
    Check(!window->Running(), "Stop did not stop the tone");
    Check(messages.empty(), "the window showed: " + messages);
    window.reset();
    SetNullRendererOptions({});
    return GFailures == 0 ? 0 : 1;
}

}   // namespace
}   // namespace harvolin

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: app_window_screenshot OUTPUT.png\n";
        return 2;
    }
    harvolin::TApplication application(argc, argv);
    try
    {
        return harvolin::Run(argv[1]);
    }
    catch (const std::exception& error)
    {
        std::cerr << "app_window_screenshot: " << error.what() << '\n';
        return 1;
    }
}
