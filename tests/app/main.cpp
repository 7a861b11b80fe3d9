#include <gtest/gtest.h>

#include "ConverterApp.h"
#include "ScratchHome.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (as the build does) needs no display.
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    // Settings go to a scratch home, so the tests neither see nor change the user's.
    ScratchHome home("orvane-app");
    if (!home.Ok()) {
        return 1;
    }
    ConverterApp app(argc, argv);
    return RUN_ALL_TESTS();
}
