// Where segments come from: cut list files read and written in each format (and refused
// whole on a bad line), the file's chapters, and the sound between its silences.
#include <gtest/gtest.h>

#include <cstdlib>

#include "CutListFile.h"
#include "FfmpegAudioSource.h"
#include "MediaInfo.h"
#include "SegmentNames.h"
#include "SilenceFinder.h"
#include "TestMedia.h"
#include "TestUnits.h"
#include "WaveformPyramid.h"

namespace {

constexpr int64_t kS = 1000 * kMs;
using Format = CutListFile::Format;

}  // namespace

TEST(CutListFile, ListsAreReadInEveryFormatAndABadLineSpoilsTheWhole) {
    const int64_t duration = 600 * kS;
    const struct {
        const char* what;
        Format format;
        const char* text;
        std::vector<Segment> segments;  // empty: refused
        int errorLine;
    } rows[] = {
        {"CSV, both time forms, a quoted name with a comma, sorted by start",
         Format::Csv,
         "start,end,name\n0:01:00.250,75.5,\"one, two\"\n\n1.5,0:00:02.000,first\n",
         {{15 * kS / 10, 2 * kS, "first"}, {60 * kS + 250 * kMs, 755 * kS / 10, "one, two"}},
         0},
        {"CSV without a header line",
         Format::Csv,
         "1,2,a\n3,4,b\n",
         {{1 * kS, 2 * kS, "a"}, {3 * kS, 4 * kS, "b"}},
         0},
        {"CSV, a time that is none", Format::Csv, "start,end,name\n1,2,a\n1,x2,b\n", {}, 3},
        {"CSV, an end before its start", Format::Csv, "1,2,a\n5,4,b\n", {}, 2},
        {"CSV, past the end of the file", Format::Csv, "1,601,a\n", {}, 1},
        {"CSV, a quote not closed", Format::Csv, "1,2,\"a\n", {}, 1},
        {"CSV, one field", Format::Csv, "1\n", {}, 1},
        {"labels, with a spectral line",
         Format::Labels,
         "1.000000\t2.500000\tverse\n\\\t100\t2000\n3.25\t4\tchorus\n",
         {{1 * kS, 25 * kS / 10, "verse"}, {325 * kS / 100, 4 * kS, "chorus"}},
         0},
        {"labels, a point label", Format::Labels, "1\t1\tclick\n", {}, 1},
        {"CUE, each track ends where the next begins, the last at the end",
         Format::Cue,
         "FILE \"a.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Intro\"\n    INDEX 01 00:00:00\n"
         "  TRACK 02 AUDIO\n    TITLE \"Song\"\n    INDEX 00 00:59:00\n"
         "    INDEX 01 01:00:37\n",
         {{0, 60 * kS + 37 * kS / 75, "Intro"}, {60 * kS + 37 * kS / 75, duration, "Song"}},
         0},
        {"CUE, a frame past 74", Format::Cue, "TRACK 01 AUDIO\nINDEX 01 00:00:75\n", {}, 2},
        {"CUE, a track without its INDEX 01",
         Format::Cue,
         "TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nTITLE \"x\"\n",
         {},
         3},
        {"an empty file", Format::Csv, "start,end,name\n", {}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const CutListFile::Result r = CutListFile::Read(row.text, row.format, duration);
        EXPECT_EQ(r.segments, row.segments);
        EXPECT_EQ(r.Ok(), !row.segments.empty()) << r.error;
        EXPECT_EQ(r.errorLine, row.errorLine) << r.error;
    }
}

TEST(CutListFile, WrittenListsReadBackUnchangedAndACueSheetNeedsSegmentsThatMeet) {
    const int64_t duration = 3723 * kS + 500 * kMs;  // 1:02:03.500
    // On a grid all three hold (40 ms is three CUE frames), with blanks, commas and quotes.
    const std::vector<Segment> meeting = {{0, 75 * kS / 75 * 3, "Side A, part 1"},
                                          {3 * kS, 3600 * kS + 3 * kS / 75, "a \"quoted\" one"},
                                          {3600 * kS + 3 * kS / 75, duration, "last"}};
    for (const Format format : {Format::Csv, Format::Labels, Format::Cue}) {
        SCOPED_TRACE(static_cast<int>(format));
        std::string text;
        ASSERT_TRUE(CutListFile::Write(meeting, format, duration, "a.wav", text).Ok());
        const CutListFile::Result back = CutListFile::Read(text, format, duration);
        ASSERT_TRUE(back.Ok()) << back.error << "\n" << text;
        // CUE titles cannot hold a double quote; everything else comes back as it went.
        std::vector<Segment> expected = meeting;
        if (format == Format::Cue) {
            expected[1].name = "a ";
        }
        EXPECT_EQ(back.segments, expected) << text;
    }
    std::string csv;
    ASSERT_TRUE(CutListFile::Write(meeting, Format::Csv, duration, "", csv).Ok());
    EXPECT_NE(csv.find("0:00:03.000,1:00:00.040,"), std::string::npos) << csv;

    std::string text;
    std::vector<Segment> gap = meeting;
    gap[1].start += kMs;
    const CutListFile::Result r = CutListFile::Write(gap, Format::Cue, duration, "a.wav", text);
    EXPECT_FALSE(r.Ok());
    EXPECT_NE(r.error.find("without a gap or an overlap"), std::string::npos) << r.error;
    gap = meeting;
    gap.back().end -= kS;
    EXPECT_NE(CutListFile::Write(gap, Format::Cue, duration, "a.wav", text).error.find("end of"),
              std::string::npos);
}

TEST(SegmentNames, PatternsGiveSafeUniqueNames) {
    const std::vector<Segment> segments = {{0, kS, "Intro"},
                                           {61 * kS + 5 * kMs, 62 * kS, "a/b: c?"},
                                           {70 * kS, 80 * kS, "Intro"},
                                           {80 * kS, 90 * kS, " .. "}};
    EXPECT_EQ(
        SegmentNames::FileNames(SegmentNames::kDefaultPattern, "/media/Live Set.mkv", segments),
        (std::vector<std::string>{"Live Set 01 Intro.wav", "Live Set 02 a_b_ c_.wav",
                                  "Live Set 03 Intro.wav", "Live Set 04.wav"}));
    EXPECT_EQ(
        SegmentNames::FileNames("{name}", "x.mp4", segments),
        (std::vector<std::string>{"Intro.wav", "a_b_ c_.wav", "Intro (2).wav", "segment.wav"}));
    EXPECT_EQ(SegmentNames::FileNames("{n} {start}", "x.mp4", {segments[1]}),
              std::vector<std::string>{"1 0-01-01.005.wav"});
}

TEST(Chapters, TheFilesChaptersAreItsSegmentsWithTheirTitles) {
    TestMedia media;
    const std::string meta = media.Path("chapters.txt");
    ASSERT_EQ(std::system(("printf ';FFMETADATA1\\n[CHAPTER]\\nTIMEBASE=1/1000\\nSTART=0\\n"
                           "END=1500\\ntitle=Opening\\n[CHAPTER]\\nTIMEBASE=1/1000\\nSTART=1500\\n"
                           "END=4000\\ntitle=Der Gro\\303\\237e\\n' > " +
                           ShellQuote(meta))
                              .c_str()),
              0);
    // Ogg's chapters are comments, which oggenc writes and FFmpeg's muxer does not.
    const std::string wav = media.Make("c.wav", TestMedia::Tones(4, 48000));
    const std::string ogg = media.Path("c.ogg");
    const bool oggenc = RunCommand(
                            "oggenc -Q -c CHAPTER001=00:00:00.000 -c CHAPTER001NAME=Opening "
                            "-c CHAPTER002=00:00:01.500 -c 'CHAPTER002NAME=Der Gro\u00dfe' -o " +
                            ShellQuote(ogg) + " " + ShellQuote(wav)) == 0;
    for (const char* file : {"c.mkv", "c.mp4", "c.ogg"}) {
        SCOPED_TRACE(file);
        if (std::string(file) == "c.ogg" && !oggenc) {
            GTEST_SKIP() << "oggenc (vorbis-tools) is not installed";
        }
        const std::string path =
            std::string(file) == "c.ogg"
                ? ogg
                : media.Make(file, TestMedia::Tones(4, 48000) + " -i " + ShellQuote(meta) +
                                       " -map 0:a -map_chapters 1 -c:a aac");
        MediaInfo info;
        FfmpegAudioSource source;
        ASSERT_TRUE(source.ProbeMedia(path, info)) << source.LastError();
        ASSERT_EQ(info.chapters.size(), 2u);
        EXPECT_EQ(info.chapters[0].name, "Opening");
        EXPECT_EQ(info.chapters[1].name, "Der Gro\u00dfe");
        EXPECT_NEAR(static_cast<double>(info.chapters[0].start), 0, kMs);
        EXPECT_NEAR(static_cast<double>(info.chapters[1].start), 1500 * kMs, kMs);
        EXPECT_NEAR(static_cast<double>(info.chapters[1].end), 4000 * kMs, kMs);
    }
}

TEST(SilenceFinder, TheSoundBetweenLongSilencesWithItsMarginEdgesOnTheSample) {
    // Sound, 3 s of silence, sound, a silence too short to count, sound, quiet hiss below
    // the threshold for 2.5 s, sound.
    TestMedia media;
    const std::string path =
        media.Make("gaps.wav",
                   "-f lavfi -i \"aevalsrc='if(between(t,3,6)+between(t,8,8.5),0,"
                   "if(between(t,10,12.5),0.002*sin(2*PI*3000*t),0.5*sin(2*PI*440*t)))':"
                   "s=48000:d=14\" -ac 2 -c:a pcm_s16le");
    FfmpegAudioSource source;
    ASSERT_EQ(source.OpenAudioStream(path, 1), 0);
    AudioFormat format;
    ASSERT_EQ(source.PrepareAudioSample(format, SampleFormat::Auto), 0);
    WaveformPyramid waveform;
    waveform.SetSampleRate(48000);
    const std::vector<int16_t> samples = TestMedia::DecodeS16(path);
    std::vector<float> mixed;
    for (size_t i = 0; i + 1 < samples.size(); i += 2) {
        mixed.push_back((samples[i] + samples[i + 1]) / 65536.0f);
    }
    waveform.Append(mixed.data(), mixed.size());
    waveform.Finish();

    const SilenceFinder::Settings settings;  // -50 dBFS, 2 s, 0.25 s
    const int64_t duration = 14 * kS;
    const std::vector<std::pair<int64_t, int64_t>> expected = {
        {0, 3250 * kMs}, {5750 * kMs, 10250 * kMs}, {12250 * kMs, 14 * kS}};
    const std::vector<Segment> coarse = SilenceFinder::Sounds(waveform, settings, duration);
    const std::vector<Segment> fine =
        SilenceFinder::Sounds(waveform, settings, duration, source, format);
    ASSERT_EQ(coarse.size(), expected.size());
    ASSERT_EQ(fine.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        // The waveform alone knows an edge to its bucket of 256 frames; the samples to 1 ms.
        EXPECT_NEAR(static_cast<double>(coarse[i].start), expected[i].first, 256 * kS / 48000.0);
        EXPECT_NEAR(static_cast<double>(coarse[i].end), expected[i].second, 256 * kS / 48000.0);
        EXPECT_NEAR(static_cast<double>(fine[i].start), expected[i].first, kMs);
        EXPECT_NEAR(static_cast<double>(fine[i].end), expected[i].second, kMs);
    }
    // A threshold below the hiss finds it to be sound; a longer minimum, one silence less.
    SilenceFinder::Settings quiet = settings;
    quiet.thresholdDb = -70;
    EXPECT_EQ(SilenceFinder::Sounds(waveform, quiet, duration).size(), 2u);
    SilenceFinder::Settings longer = settings;
    longer.minimumLength = 2800 * kMs;
    EXPECT_EQ(SilenceFinder::Sounds(waveform, longer, duration).size(), 2u);
}
