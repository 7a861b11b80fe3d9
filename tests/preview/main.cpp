#include <gtest/gtest.h>

#include <QApplication>

#include "LibavLimits.h"

int main(int argc, char** argv) {
    // CTest's test discovery runs this binary without the offscreen setting; with no
    // display either, the QApplication would abort before listing the tests.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The programs cap FFmpeg's allocations as they start; libmpv runs under the cap too.
    LibavLimits::Apply();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
