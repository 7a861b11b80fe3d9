#include "ProgressLine.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(ProgressLineTest, PercentElapsedSpeedAndTimeLeft) {
    const auto t0 = ProgressLine::Clock::now();
    // 100 s of sound; a quarter done after 5 s: 5x real time, 15 s to go.
    const ProgressLine line(100 * 10'000'000LL, t0);
    EXPECT_EQ(line.Text(250, t0 + 5s), " 25.0%  elapsed 0:05  speed 5.0x  left 0:15");
    EXPECT_EQ(line.Text(1000, t0 + 20s), "100.0%  elapsed 0:20  speed 5.0x  left 0:00");
    // Before the first position there is nothing to estimate from.
    EXPECT_EQ(line.Text(0, t0 + 1s), "  0.0%  elapsed 0:01  speed --  left --");
    // Positions are thousandths; the percent keeps the tenth.
    EXPECT_EQ(line.Text(1, t0 + 1s).substr(0, 6), "  0.1%");
}

TEST(ProgressLineTest, LongTimesShowHours) {
    EXPECT_EQ(ProgressLine::Duration(0), "0:00");
    EXPECT_EQ(ProgressLine::Duration(59.9), "0:59");
    EXPECT_EQ(ProgressLine::Duration(3599), "59:59");
    EXPECT_EQ(ProgressLine::Duration(3723.5), "1:02:03");
    EXPECT_EQ(ProgressLine::Duration(-3), "0:00");
}

TEST(ProgressLineTest, UnknownLengthShowsOnlyTheElapsedTime) {
    const auto t0 = ProgressLine::Clock::now();
    const ProgressLine line(0, t0);
    EXPECT_EQ(line.Text(0, t0 + 75s), "elapsed 1:15");
}

TEST(ProgressLineTest, RedrawsAtMostTenTimesASecond) {
    const auto t0 = ProgressLine::Clock::now();
    ProgressLine line(10'000'000, t0);
    EXPECT_TRUE(line.Due(t0));  // the first draw at once
    EXPECT_FALSE(line.Due(t0 + 50ms));
    EXPECT_FALSE(line.Due(t0 + 99ms));
    EXPECT_TRUE(line.Due(t0 + 100ms));
    EXPECT_FALSE(line.Due(t0 + 150ms));
    EXPECT_TRUE(line.Due(t0 + 230ms));
    int draws = 0;
    for (auto t = t0 + 1s; t < t0 + 2s; t += 1ms) {
        draws += line.Due(t) ? 1 : 0;
    }
    EXPECT_LE(draws, 10);
    EXPECT_GE(draws, 9);
}
