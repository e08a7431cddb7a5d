// Shows the track bars and the spectrum display as the program's main window uses them: move a range and
// the spectrum lights a bar inside it, as the tone would, every half second.
#include "controls/demo/VrDemoWindow.h"
#include "rtl/Random.h"
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <exception>

using namespace harvolin;

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    try
    {
        const TComponentPtr<TVrDemoWindow> window = MakeComponent<TVrDemoWindow>();
        window->Load();
        window->setWindowTitle("Harvolin controls");
        window->setFixedSize(window->size());
        TVrTrackBar& freqMin = window->TrackBar("tbFreqMin");
        TVrTrackBar& freqMax = window->TrackBar("tbFreqMax");
        TVrTrackBar& volMin = window->TrackBar("tbVolMin");
        TVrTrackBar& volMax = window->TrackBar("tbVolMax");
        TVrSpectrum& spectrum = window->Spectrum();

        QLabel ranges(window.get());
        ranges.setGeometry(24, 24, 497, 17);
        const auto showRanges = [&](TControl&)
        {
            ranges.setText(QString("Frequency %1 to %2 kHz, volume %3 to %4 %")
                               .arg(freqMin.Position())
                               .arg(freqMax.Position())
                               .arg(volMin.Position())
                               .arg(volMax.Position()));
        };
        for (TVrTrackBar* bar : {&freqMin, &freqMax, &volMin, &volMax})
            bar->OnChange = showRanges;
        showRanges(*window);

        TRandomSource random;
        random.Randomize();
        int lit = -1;
        QTimer timer;
        QObject::connect(
            &timer, &QTimer::timeout,
            [&]
            {
                const int low = std::min(freqMin.Position(), freqMax.Position());
                const int high = std::max(freqMin.Position(), freqMax.Position());
                const int volLow = std::min(volMin.Position(), volMax.Position());
                const int volHigh = std::max(volMin.Position(), volMax.Position());
                if (lit >= 0)
                    spectrum.Bars(lit).SetValue(0);
                // The bar of the frequency in kilohertz, as high as the volume in per cent.
                const auto draw = [&](int from, int to)
                { return from + static_cast<int>(random.Random(static_cast<std::uint32_t>(to - from + 1))); };
                lit = std::min(draw(low, high), spectrum.BarCount()) - 1;
                spectrum.Bars(lit).SetValue(draw(volLow, volHigh));
            });
        timer.start(500);
        window->show();
        return QApplication::exec();
    }
    catch (const std::exception& error)
    {
        std::fprintf(stderr, "vr_controls_demo: %s\n", error.what());
        return 1;
    }
}
