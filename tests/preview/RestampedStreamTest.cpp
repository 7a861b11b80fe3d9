// The reader that gives the player a joined MPEG file with continuous timestamps, checked
// against ffprobe's reading of what it gives.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "FfmpegAudioSource.h"
#include "MediaInfo.h"
#include "RestampedStream.h"
#include "TestMedia.h"

namespace {

struct Case {
    const char* name;
    const char* format;                    // "mpeg" or "mpegts"
    std::vector<const char*> partOffsets;  // -output_ts_offset of each part, "" for none
    size_t segments;
};

std::string MakeJoined(const TestMedia& media, const Case& c) {
    const std::string joined = media.Path(std::string(c.name) + "-joined");
    std::ofstream out(joined, std::ios::binary);
    for (size_t i = 0; i < c.partOffsets.size(); ++i) {
        std::string args = "-f lavfi -i testsrc=d=4:s=160x120:r=25 -f lavfi -i sine=f=" +
                           std::to_string(300 + 200 * i) +
                           ":r=48000:d=4 -c:v mpeg1video -c:a mp2 -f " + c.format;
        if (*c.partOffsets[i] != '\0') {
            args += std::string(" -output_ts_offset ") + c.partOffsets[i];
        }
        const std::string part = media.Make(std::string(c.name) + std::to_string(i), args);
        out << std::ifstream(part, std::ios::binary).rdbuf();
    }
    return joined;
}

// All of the reader's bytes, read in pieces of `chunk` bytes.
std::string ReadAll(RestampedStream& stream, size_t chunk) {
    std::string all;
    std::vector<uint8_t> buffer(chunk);
    for (;;) {
        const int64_t got =
            stream.Read(static_cast<int64_t>(all.size()), buffer.data(), buffer.size());
        EXPECT_GE(got, 0);
        if (got <= 0) {
            return all;
        }
        all.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(got));
    }
}

// ffprobe's decode timestamps of one kind of stream ("a" or "v"), in seconds.
std::vector<double> Timestamps(const std::string& path, const char* kind) {
    std::string out;
    EXPECT_EQ(RunCommand(std::string("ffprobe -v error -select_streams ") + kind +
                             " -show_entries packet=dts_time -of csv=p=0 " + ShellQuote(path),
                         &out),
              0);
    std::vector<double> times;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line != "N/A") {
            times.push_back(std::stod(line));
        }
    }
    return times;
}

}  // namespace

TEST(RestampedStream, JoinedFilesReadWithContinuousTimestamps) {
    TestMedia media;
    const std::vector<Case> cases = {
        {"ps3", "mpeg", {"", "", ""}, 3},
        {"ts-back", "mpegts", {"1000", ""}, 2},
        {"ts-forward", "mpegts", {"", "3600"}, 2},
        // The second part crosses the wrap of the 33-bit clock 3.7 s in.
        {"ps-wrap", "mpeg", {"", "95440"}, 3},
        {"ts-wrap", "mpegts", {"", "95440"}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string joined = MakeJoined(media, c);
        MediaInfo info;
        FfmpegAudioSource probe;
        ASSERT_TRUE(probe.ProbeMedia(joined, info));
        ASSERT_EQ(info.timeline.Segments().size(), c.segments);
        ASSERT_TRUE(RestampedStream::Needed(info.timeline));

        RestampedStream stream(info.timeline);
        ASSERT_TRUE(stream.Open(joined));
        std::ifstream in(joined, std::ios::binary);
        const std::string original((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(stream.Size(), static_cast<int64_t>(original.size()));
        // The same bytes however the player reads them, as long as the file, differing
        // from it only in a few bytes of some headers.
        const std::string moved = ReadAll(stream, 65536);
        ASSERT_EQ(moved.size(), original.size());
        EXPECT_TRUE(moved == ReadAll(stream, 997));
        size_t changed = 0;
        for (size_t i = 0; i < moved.size(); ++i) {
            changed += moved[i] != original[i] ? 1 : 0;
        }
        EXPECT_GT(changed, 0u);
        EXPECT_LT(changed, moved.size() / 50);

        const std::string restamped = media.Path(std::string(c.name) + "-restamped");
        std::ofstream(restamped, std::ios::binary) << moved;
        // The sound's timestamps span the sound that the ffmpeg command decodes (within
        // a frame of 24 ms), and neither the sound's nor the pictures' go back: at a wrap
        // of the clock by at most a few frames, where the pieces meet within that.
        const std::vector<double> sound = Timestamps(restamped, "a");
        ASSERT_FALSE(sound.empty());
        const double played = static_cast<double>(TestMedia::DecodeS16(joined).size()) / 48000;
        EXPECT_NEAR(sound.back() + 0.024 - sound.front(), played, 0.03);
        for (const char* kind : {"a", "v"}) {
            const std::vector<double> times = Timestamps(restamped, kind);
            ASSERT_GT(times.size(), 50u) << kind;
            double worst = 0;
            for (size_t i = 1; i < times.size(); ++i) {
                worst = std::max(worst, times[i - 1] - times[i]);
            }
            EXPECT_LT(worst, 0.1) << kind << " goes back by " << worst << " s";
        }
    }
}

TEST(RestampedStream, FilesWithoutRestartsAreLeftAlone) {
    TestMedia media;
    const std::string clip = media.Make("plain.mpg", "-f lavfi -i sine=d=2 -c:a mp2 -f mpeg");
    MediaInfo info;
    FfmpegAudioSource probe;
    ASSERT_TRUE(probe.ProbeMedia(clip, info));
    EXPECT_FALSE(RestampedStream::Needed(info.timeline));
    RestampedStream stream(info.timeline);
    EXPECT_FALSE(stream.Open(clip));
}
