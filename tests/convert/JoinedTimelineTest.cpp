// MPEG files whose timestamps restart: parts joined end to end, a clock that jumps
// forward, and recordings that cross the wrap of the 33-bit clock. Each part carries a
// tone of its own, so a cut's sound tells which part it came from.
#include <gtest/gtest.h>

#include <cmath>

#include "EngineSamples.h"
#include "FfmpegAudioSource.h"
#include "TestMedia.h"
#include "TestUnits.h"

namespace {

struct Part {
    int tone;       // Hz
    double offset;  // -output_ts_offset in seconds; 0 for the muxer's own start
};

struct Case {
    const char* name;
    const char* format;  // "mpeg" or "mpegts"
    int rate;
    std::vector<Part> parts;
    size_t segments;
};

std::string MakePart(const TestMedia& media, const Case& c, size_t i) {
    const Part& p = c.parts[i];
    const std::string name = std::string(c.name) + "-" + std::to_string(i) +
                             (std::string(c.format) == "mpeg" ? ".mpg" : ".ts");
    std::string args =
        "-f lavfi -i testsrc=d=10:s=160x120:r=25 -f lavfi -i sine=f=" + std::to_string(p.tone) +
        ":r=" + std::to_string(c.rate) + ":d=10 -c:v mpeg1video -c:a mp2 -b:a 192k -f " + c.format;
    if (p.offset != 0) {
        args += " -output_ts_offset " + std::to_string(p.offset);
    }
    return media.Make(name, args);
}

// The engine's mono samples from rtStart on: count of them, or all.
std::vector<int16_t> Decode(const std::string& path, int64_t rtStart, size_t count = SIZE_MAX) {
    return EngineSamples(path, rtStart, count);
}

int MaxDifferenceAt(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t from) {
    int worst = 0;
    for (size_t i = 0; i < a.size() && from + i < b.size(); ++i) {
        worst = std::max(worst, std::abs(a[i] - b[from + i]));
    }
    return worst;
}

// The tone of samples [from, from + count), by counting zero crossings.
double Tone(const std::vector<int16_t>& s, size_t from, size_t count, int rate) {
    int crossings = 0;
    for (size_t i = from + 1; i < from + count && i < s.size(); ++i) {
        crossings += (s[i - 1] < 0) != (s[i] < 0) ? 1 : 0;
    }
    return crossings / 2.0 / (static_cast<double>(count) / rate);
}

}  // namespace

TEST(JoinedTimeline, CutsAnywhereMatchTheWholeDecodeAndTheDurationIsThePlayedOne) {
    TestMedia media;
    const double nearWrap = 95440;  // 2^33 / 90 kHz is 95443.7 s: the clock wraps 3.7 s in
    const std::vector<Case> cases = {
        {"ps2", "mpeg", 44100, {{300, 0}, {500, 0}}, 2},
        {"ps5", "mpeg", 44100, {{300, 0}, {500, 0}, {700, 0}, {900, 0}, {1100, 0}}, 5},
        {"ts-back", "mpegts", 48000, {{300, 1000}, {500, 0}}, 2},
        {"ts-forward", "mpegts", 48000, {{300, 0}, {500, 3600}}, 2},
        {"ts-wrap", "mpegts", 48000, {{300, nearWrap}}, 1},  // libavformat undoes one wrap
        {"ts-joined-wrap", "mpegts", 48000, {{300, 0}, {500, nearWrap}}, 3},
        {"ps-wrap", "mpeg", 44100, {{300, 0}, {500, nearWrap}}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> parts;
        std::vector<double> ends;  // where each part's sound ends when played in a row
        double played = 0;
        for (size_t i = 0; i < c.parts.size(); ++i) {
            parts.push_back(MakePart(media, c, i));
            played += TestMedia::DecodeS16(parts.back()).size() / static_cast<double>(c.rate);
            ends.push_back(played);
        }
        const std::string joined = media.Join(std::string(c.name) + "-joined", parts);

        // The duration is the played one (the ffmpeg command's decode of all the sound).
        const double frame = 1152.0 / c.rate;
        const double reference = TestMedia::DecodeS16(joined).size() / static_cast<double>(c.rate);
        EXPECT_NEAR(reference, played, frame);
        FfmpegAudioSource source;
        MediaInfo info;
        ASSERT_TRUE(source.ProbeMedia(joined, info)) << source.LastError();
        EXPECT_NEAR(info.duration / 1e7, reference, frame);
        int64_t duration = 0;
        ASSERT_TRUE(source.GetMediaDuration(joined, duration));
        EXPECT_EQ(duration, info.duration);
        ASSERT_EQ(source.OpenAudioStream(joined), 0);
        EXPECT_EQ(source.StreamDuration(), info.duration);
        const size_t segments = std::max<size_t>(info.timeline.Segments().size(), 1);
        EXPECT_EQ(segments, c.segments);
        // Without a wrap inside, each part is a segment that starts where the one before
        // it ends.
        if (c.segments == c.parts.size()) {
            for (size_t k = 1; k < segments; ++k) {
                EXPECT_NEAR(info.timeline.Segments()[k].mediaStart / 1e7, ends[k - 1], frame);
            }
        }

        // Cuts across every join and inside the parts equal the same span of the whole
        // decode, and hold the tones of the parts that are played there.
        const std::vector<int16_t> whole = Decode(joined, 0);
        EXPECT_NEAR(whole.size() / static_cast<double>(c.rate), reference, frame);
        // (The clock wraps 2.3 s into the transport streams made near the wrap.)
        std::vector<double> marks = {2.2, 8.0, ends.back() - 3.0};
        for (size_t k = 0; k + 1 < ends.size(); ++k) {
            marks.push_back(ends[k] - 0.25);
        }
        for (size_t k = 1; k < info.timeline.Segments().size(); ++k) {
            marks.push_back(info.timeline.Segments()[k].mediaStart / 1e7 - 0.25);
        }
        const size_t span = static_cast<size_t>(c.rate) / 2;
        const size_t window = static_cast<size_t>(c.rate) / 5;
        for (double mark : marks) {
            SCOPED_TRACE(mark);
            const std::vector<int16_t> cut =
                Decode(joined, static_cast<int64_t>(mark * kSecond), span);
            ASSERT_EQ(cut.size(), span);
            const size_t at = static_cast<size_t>(std::llround(mark * c.rate));
            EXPECT_LE(MaxDifferenceAt(cut, whole, at), 1);
            for (double t : {mark, mark + 0.5 - 0.2}) {
                const size_t part =
                    std::upper_bound(ends.begin(), ends.end(), t + 0.1) - ends.begin();
                ASSERT_LT(part, c.parts.size());
                const size_t from = static_cast<size_t>((t - mark) * c.rate);
                EXPECT_NEAR(Tone(cut, from, window, c.rate), c.parts[part].tone, 20) << t;
            }
        }
    }
}

TEST(JoinedTimeline, ACutInsideTheFirstPartIsTheFirstPartsSound) {
    // The same timestamps recur in every part: the cut must not come from a later one.
    TestMedia media;
    const Case c{"three", "mpeg", 44100, {{300, 0}, {500, 0}, {700, 0}}, 3};
    std::vector<std::string> parts;
    for (size_t i = 0; i < c.parts.size(); ++i) {
        parts.push_back(MakePart(media, c, i));
    }
    const std::string joined = media.Join("three.mpg", parts);
    const std::vector<int16_t> alone = Decode(parts[0], 80'000'000, 66150);
    const std::vector<int16_t> first = Decode(joined, 80'000'000, 66150);
    ASSERT_EQ(alone.size(), 66150u);
    EXPECT_EQ(first, alone);
    EXPECT_NEAR(Tone(first, 0, 44100, 44100), 300, 5);

    // A single part keeps the identity timeline and the container's duration.
    FfmpegAudioSource source;
    MediaInfo info;
    ASSERT_TRUE(source.ProbeMedia(parts[0], info));
    EXPECT_FALSE(info.timeline.HasRestarts());
    EXPECT_NEAR(info.duration / 1e7, 10.0, 0.02);
}
