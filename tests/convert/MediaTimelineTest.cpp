#include "MediaTimeline.h"
#include "TestUnits.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

constexpr int64_t kTick = 90000;  // MPEG's clock: ticks per second

// Three pieces of a file that starts at 0.5 s: two 10 s recordings with the same
// timestamps (cat a.mpg b.mpg), then one whose clock stood at 100 s.
MediaTimeline Joined() {
    const std::vector<MediaTimeline::Segment> segments = {
        {0, kTick / 2, 21 * kTick / 2, 0},
        {1000, kTick / 2, 21 * kTick / 2, 0},
        {2000, 100 * kTick, 105 * kTick, 0},
    };
    const std::vector<MediaTimeline::SeekPoint> points = {
        {0, 0},
        {500, 5 * kSecond},
        {1000, 10 * kSecond},
        {1500, 15 * kSecond},
        {2000, 20 * kSecond},
        {1700, 12 * kSecond},  // out of order: dropped
    };
    return MediaTimeline(1, 90000, kSecond / 2, segments, points, 3000);
}

}  // namespace

TEST(MediaTimeline, EachSegmentStartsWhereTheOneBeforeEnded) {
    const MediaTimeline t = Joined();
    ASSERT_TRUE(t.HasRestarts());
    ASSERT_EQ(t.Segments().size(), 3u);
    EXPECT_EQ(t.Segments()[0].mediaStart, 0);
    EXPECT_EQ(t.Segments()[1].mediaStart, 10 * kSecond);
    EXPECT_EQ(t.Segments()[2].mediaStart, 20 * kSecond);
    EXPECT_EQ(t.Duration(), 25 * kSecond);
    EXPECT_EQ(t.SeekPoints().size(), 5u);
    EXPECT_EQ(t.MediaTimeOf(0, kTick / 2 + 3 * kTick), 3 * kSecond);
    EXPECT_EQ(t.MediaTimeOf(1, kTick / 2 + 3 * kTick), 13 * kSecond);
    EXPECT_EQ(t.MediaTimeOf(2, 101 * kTick), 21 * kSecond);
    EXPECT_EQ(t.Offset(0), 0);
    EXPECT_EQ(t.Offset(1), 10 * kTick);
    EXPECT_EQ(t.Offset(2), 20 * kTick + kTick / 2 - 100 * kTick);

    for (auto [pos, segment] :
         {std::pair{-1, 0}, {0, 0}, {999, 0}, {1000, 1}, {1999, 1}, {2000, 2}, {1'000'000, 2}}) {
        EXPECT_EQ(t.SegmentAt(pos), segment) << pos;
    }
}

TEST(MediaTimeline, LocateGivesTheSegmentItsTimestampAndWhereToRead) {
    const MediaTimeline t = Joined();
    struct Case {
        double seconds;
        int segment;
        int64_t pts;
        double playerSeconds;
        int64_t bytePos;
    };
    for (const Case& c : {
             Case{3, 0, kTick / 2 + 3 * kTick, 3, 0}, Case{12, 1, kTick / 2 + 2 * kTick, 2, 1000},
             Case{15.5, 1, kTick / 2 + 11 * kTick / 2, 5.5, 1500},
             Case{22, 2, 102 * kTick, 101.5, 2000},
             Case{-1, 0, -kTick / 2, -1, 0},         // before the start: the first segment
             Case{30, 2, 110 * kTick, 109.5, 2000},  // past the end: the last
         }) {
        SCOPED_TRACE(c.seconds);
        const MediaTimeline::Location where = t.Locate(static_cast<int64_t>(c.seconds * kSecond));
        EXPECT_EQ(where.segment, c.segment);
        EXPECT_EQ(where.pts, c.pts);
        EXPECT_EQ(where.playerTime, static_cast<int64_t>(c.playerSeconds * kSecond));
        EXPECT_EQ(where.bytePos, c.bytePos);
    }
}

TEST(MediaTimeline, APlayersTimeMapsToMediaTimeByWhereItReadsAndWhereItWas) {
    const MediaTimeline t = Joined();
    struct Case {
        double player;
        std::optional<int64_t> streamPos;
        std::optional<double> near;
        double expected;
    };
    for (const Case& c : {
             Case{3, {}, {}, 3},         // nothing known: the first segment with that time
             Case{3, {}, 12, 13},        // near the last report: the second
             Case{3, 1200, {}, 13},      // read into the second: the last one read
             Case{3, 500, 12, 3},        // the second is not read yet, whatever the hint
             Case{9.9, 1100, 9.8, 9.9},  // read ahead into the second, still heard in the first
             Case{101.5, {}, {}, 22},    // only the third has that time
             Case{101.5, 2500, 21, 22},
         }) {
        SCOPED_TRACE(c.player);
        const std::optional<int64_t> near =
            c.near ? std::optional<int64_t>(static_cast<int64_t>(*c.near * kSecond)) : std::nullopt;
        EXPECT_EQ(t.FromPlayerTime(static_cast<int64_t>(c.player * kSecond), c.streamPos, near),
                  static_cast<int64_t>(c.expected * kSecond));
    }
    // And back: a player that seeks to where Locate says, and reports that time, is there.
    for (int64_t ms = 0; ms < 25'000; ms += 250) {
        const int64_t rt = ms * 10'000;
        const MediaTimeline::Location where = t.Locate(rt);
        const int64_t back = t.FromPlayerTime(where.playerTime, where.bytePos, rt);
        EXPECT_NEAR(static_cast<double>(back), static_cast<double>(rt), 112.0) << ms;
    }
}

TEST(MediaTimeline, IdentityAndRestartRule) {
    // Without restarts, nothing moves: player time is media time, the duration is the
    // container's (0 here), every packet belongs to the one segment.
    for (const MediaTimeline& t :
         {MediaTimeline(1, 90000, kSecond / 2),
          MediaTimeline(1, 90000, kSecond / 2, {{0, kTick / 2, 10 * kTick, 0}}, {{0, 0}}, 100)}) {
        EXPECT_FALSE(t.HasRestarts());
        EXPECT_TRUE(t.Segments().empty());
        EXPECT_EQ(t.Duration(), 0);
        EXPECT_EQ(t.SegmentAt(12345), 0);
        EXPECT_EQ(t.Offset(0), 0);
        EXPECT_EQ(t.MediaTimeOf(0, kTick), kSecond / 2);
        EXPECT_EQ(t.FromPlayerTime(7 * kSecond, 50, 0), 7 * kSecond);
        EXPECT_EQ(t.Locate(7 * kSecond).playerTime, 7 * kSecond);
    }

    struct Case {
        int64_t expected;
        int64_t pts;
        int den;
        bool restart;
    };
    const int64_t wrap = int64_t{1} << 33;
    for (const Case& c : {
             Case{kTick, kTick, 90000, false},
             Case{kTick, kTick / 2, 90000, false},     // half a second back: jitter
             Case{kTick, kTick / 2 - 1, 90000, true},  // more: a restart
             Case{kTick, 0, 90000, true},
             Case{kTick, 6 * kTick, 90000, false},     // five seconds on: a gap
             Case{kTick, 6 * kTick + 1, 90000, true},  // more: a restart
             Case{wrap - 100, 50, 90000, true},        // the 33-bit clock wrapped
             Case{44100, 0, 44100, true},              // any time base
             Case{44100, 44100 * 5, 44100, false},
         }) {
        EXPECT_EQ(MediaTimeline::IsRestart(c.expected, c.pts, 1, c.den), c.restart)
            << c.expected << " -> " << c.pts << " in 1/" << c.den;
    }
}
