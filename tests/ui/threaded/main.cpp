#include <gtest/gtest.h>

#include <QCoreApplication>

// The bridge's hand-over between a worker and the GUI thread, without widgets, so
// that the suite also runs under the thread sanitizer.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
