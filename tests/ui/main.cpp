#include <gtest/gtest.h>

#include <QApplication>

#include "LibavLimits.h"

#include "ScratchHome.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (as the build does) needs no display.
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    // The dialog reads the user's music folder and settings: a scratch home keeps the
    // real user's out of reach.
    ScratchHome home("orvane-ui-tests");
    if (!home.Ok()) {
        return 1;
    }
    // The programs cap FFmpeg's allocations as they start; libmpv runs under the cap too.
    LibavLimits::Apply();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("orvane-ui-tests");
    return RUN_ALL_TESTS();
}
