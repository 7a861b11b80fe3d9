#include "DialogUnits.h"

#include <gtest/gtest.h>

#include <QFont>

TEST(DialogUnits, ConvertsEdgesByTheFontsBaseUnits) {
    // A font of 6 x 13 base units, as the classic 8-point dialog font gives.
    const DialogUnits units(6, 13);
    EXPECT_EQ(units.X(4), 6);
    EXPECT_EQ(units.Y(8), 13);
    EXPECT_EQ(units.X(247), 371);  // 247 x 6 / 4 = 370.5, rounded
    EXPECT_EQ(units.Y(194), 315);  // 194 x 13 / 8 = 315.25
    // Controls that touch in the template still touch.
    const QRect left = units.Rect(7, 52, 50, 14);
    const QRect right = units.Rect(57, 52, 50, 14);
    EXPECT_EQ(left.right() + 1, right.left());
}

TEST(DialogUnits, FollowsTheFont) {
    QFont small;
    small.setPixelSize(10);
    QFont large;
    large.setPixelSize(20);
    const DialogUnits a(small);
    const DialogUnits b(large);
    EXPECT_GT(a.BaseX(), 0);
    EXPECT_GT(b.BaseX(), a.BaseX());
    EXPECT_GT(b.BaseY(), a.BaseY());
}
