#include "DisplayName.h"

#include <gtest/gtest.h>

namespace {
std::string Name(const std::string& path) {
    std::string name = "unchanged";
    EXPECT_TRUE(GetDisplayName(path, name)) << path;
    return name;
}
}  // namespace

TEST(DisplayName, FileNameWithItsExtensionInItsOwnCase) {
    EXPECT_EQ(Name("C:\\Clips\\Movie.MPG"), "Movie.MPG");
    EXPECT_EQ(Name("/home/me/Videos/Movie.MPG"), "Movie.MPG");
    EXPECT_EQ(Name("/home/me/My Clips/Ärger über.mpg"), "Ärger über.mpg");
    EXPECT_EQ(Name("/home/me/archive.v2/noext"), "noext");
    EXPECT_EQ(Name("relative.mpeg"), "relative.mpeg");
    EXPECT_EQ(Name("C:movie.mpg"), "movie.mpg");
}

TEST(DisplayName, SchemesStayWholeAndDvdsShowTheirDrive) {
    EXPECT_EQ(Name("http://example.org/Clip.MPG"), "http://example.org/Clip.MPG");
    EXPECT_EQ(Name("dvd:/Title"), "dvd:/Title");
    EXPECT_EQ(Name("D:\\VIDEO_TS\\VTS_01_0.IFO"), "D:\\");
    EXPECT_EQ(Name("C:\\a.ifo.b\\x.mpg"), "C:\\");
    EXPECT_EQ(Name("/media/dvd/VIDEO_TS/VTS_01_0.IFO"), "/");

    std::string name = "unchanged";
    EXPECT_FALSE(GetDisplayName("", name));
    EXPECT_EQ(name, "unchanged");
}
