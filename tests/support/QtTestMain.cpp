// main() of the tests that use real Qt widgets: they run headless on the offscreen platform unless the
// caller chose another, and every test sees the one QApplication.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

// A test program of the framework's own application defines HARVOLIN_TEST_TAPPLICATION, so that its tests
// run under the application's default exception handler.
#ifdef HARVOLIN_TEST_TAPPLICATION
#include "controls/Forms.h"
using TTestApplication = harvolin::TApplication;
#else
using TTestApplication = QApplication;
#endif

int main(int argc, char** argv)
{
    // Test discovery runs this binary at build time too, possibly without the test command's environment.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A private runtime directory keeps Qt from warning about a missing or shared one.
    QTemporaryDir runtimeDir(QDir::tempPath() + "/harvolin-qt-XXXXXX");
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr && runtimeDir.isValid())
        setenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit().constData(), 1);
    testing::InitGoogleTest(&argc, argv);
    // Listing the tests (as discovery does at build time) needs no application, and under the thread
    // sanitizer an uninstrumented Qt start-up would only add noise to the build.
    if (testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    TTestApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
