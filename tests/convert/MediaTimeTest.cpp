#include "MediaTime.h"

#include <gtest/gtest.h>

TEST(MediaTime, ClockTextTruncatesAndHoursDoNotWrap) {
    EXPECT_EQ(MediaTime::WholeSeconds(37'239'000'000), 3723);  // 3,723.9 s
    EXPECT_EQ(MediaTime::WholeSeconds(12'345'678'901), 1234);
    EXPECT_EQ(MediaTime::ClockText(3723), "01:02:03");
    EXPECT_EQ(MediaTime::ClockText(0), "00:00:00");
    EXPECT_EQ(MediaTime::ClockText(360'000), "100:00:00");
}

TEST(MediaTime, ParsesSecondsAndClockForms) {
    EXPECT_EQ(MediaTime::Parse("12.5"), 125'000'000);
    EXPECT_EQ(MediaTime::Parse(".5"), 5'000'000);
    EXPECT_EQ(MediaTime::Parse("90"), 900'000'000);
    EXPECT_EQ(MediaTime::Parse("1:30"), 900'000'000);
    EXPECT_EQ(MediaTime::Parse("75:00"), 45'000'000'000);  // minutes alone may exceed an hour
    EXPECT_EQ(MediaTime::Parse("1:02:03.5"), 37'235'000'000);
    EXPECT_EQ(MediaTime::Parse("0.00000019"), 1);  // past 100 ns is dropped
    for (const char* bad : {"", ":", "1:", ":5", "1:60", "1:75:00", "1.5:00", "1..5", "a", "-1",
                            "1:2:3:4", "999999999999", "999999999999:00:00"}) {
        EXPECT_FALSE(MediaTime::Parse(bad).has_value()) << bad;
    }
    EXPECT_EQ(MediaTime::Format(37'235'000'000), "1:02:03.500");
}
