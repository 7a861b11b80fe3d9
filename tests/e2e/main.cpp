#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QStandardPaths>
#include <filesystem>

// The dialog reads the user's music folder and settings: both go to a scratch home
// so the tests neither see nor change the real user's.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the tests (as the build does) needs no display.
    if (::testing::GTEST_FLAG(list_tests)) {
        return RUN_ALL_TESTS();
    }

    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvane-e2e-home-XXXXXX").string();
    const char* home = mkdtemp(pattern.data());
    if (home == nullptr) {
        return 1;
    }
    setenv("HOME", home, 1);
    setenv("XDG_CONFIG_HOME", (std::string(home) + "/config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", home, 1);
    unsetenv("XDG_MUSIC_DIR");

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("orvane-e2e-tests");
    const int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    return result;
}
