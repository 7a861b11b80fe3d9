#include <gtest/gtest.h>

#include <QApplication>

#include "LibavLimits.h"
#include "ScratchHome.h"
#include "SoakRig.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (as the build does) needs no display.
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    // Settings, the music folder and the default output stay in a home of the soak's own.
    ScratchHome home("orvane-soak-tests");
    if (!home.Ok()) {
        return 1;
    }
    LibavLimits::Apply();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("orvane-soak-tests");
    SoakRig::InstallCrashNote();
    return RUN_ALL_TESTS();
}
