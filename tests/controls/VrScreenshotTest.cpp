#include "controls/demo/VrDemoWindow.h"
#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

namespace harvolin
{
namespace
{

// Writes pictures of the controls, as the main window's description makes them, into the build tree for
// review, and checks that what was written is what the controls show.
class VrScreenshotTest : public testing::Test
{
protected:
    void SetUp() override
    {
        FWindow->Load();
        FWindow->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(FWindow.get()));
        // The spectrum fits its size to its bars at its first paint.
        FWindow->Spectrum().repaint();
    }

    // Saves the image as name.png and checks that the file reads back pixel for pixel.
    static void SaveAndCheck(const QImage& image, const char* name)
    {
        const QString folder = QStringLiteral(HARVOLIN_BINARY_DIR) + "/screenshots";
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString file = folder + "/" + name + ".png";
        ASSERT_TRUE(image.save(file, "PNG")) << file.toStdString();
        const QImage read(file);
        ASSERT_EQ(read.size(), image.size());
        EXPECT_EQ(read.convertToFormat(QImage::Format_RGB32), image.convertToFormat(QImage::Format_RGB32));
    }

    TComponentPtr<TVrDemoWindow> FWindow = MakeComponent<TVrDemoWindow>();
};

TEST_F(VrScreenshotTest, WindowTrackBarAndSpectrumArePicturedAsTheWindowDescribesThem)
{
    TVrSpectrum& spectrum = FWindow->Spectrum();
    spectrum.Bars(9).SetValue(70);   // 10 kHz at 70 %
    spectrum.Bars(4).SetValue(5);
    const QImage spectrumImage = spectrum.grab().toImage();
    ASSERT_EQ(spectrumImage.size(), QSize(513, 121));
    EXPECT_EQ(spectrum.SegmentCount(), 56);
    // The marker of bar 9: lit = Round(56 x 0.7) = 39 of 56 segments, so the top lit one is segment 17.
    const TVrRect bar = spectrum.BarRect(9);
    EXPECT_EQ(spectrumImage.pixel(bar.Left + 10, bar.Top + 17 * 2) | 0xFF000000U, qRgb(255, 255, 255));
    SaveAndCheck(spectrumImage, "spectrum");

    TVrTrackBar& trackBar = FWindow->TrackBar("tbFreqMin");
    const QImage trackImage = trackBar.grab().toImage();
    ASSERT_EQ(trackImage.size(), QSize(241, 29));
    EXPECT_EQ(trackBar.ThumbRect().Left, 110);
    SaveAndCheck(trackImage, "trackbar");

    SaveAndCheck(FWindow->grab().toImage(), "window");
}

}   // namespace
}   // namespace harvolin
