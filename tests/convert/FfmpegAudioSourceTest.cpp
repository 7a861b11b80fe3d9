#include "FfmpegAudioSource.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "ConversionJob.h"
#include "ForeignTools.h"
#include "TestMedia.h"
#include "WavFile.h"

namespace {

struct Decoded {
    int open = -1;
    AudioFormat format;
    std::vector<uint8_t> bytes;
    std::vector<long> fills;
};

// Everything the source delivers from rtStart on, fill by fill.
Decoded DecodeAll(const std::string& path, int64_t rtStart = 0) {
    Decoded d;
    FfmpegAudioSource source;
    d.open = source.OpenAudioStream(path);
    if (d.open != 0) {
        return d;
    }
    EXPECT_EQ(source.PrepareAudioSample(d.format), 0);
    source.Seek(rtStart);
    uint8_t buffer[AudioStreamSource::AUDIO_BUFFER_SIZE];
    for (;;) {
        const long n = source.FillAudioBuffer(buffer);
        if (n == AudioStreamSource::kEndOfStream) {
            break;
        }
        d.fills.push_back(n);
        d.bytes.insert(d.bytes.end(), buffer, buffer + n);
    }
    return d;
}

std::vector<int16_t> AsS16(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

// Largest difference between a and b over their common length; also checks that
// a is long enough to matter.
int MaxDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t count) {
    EXPECT_GE(a.size(), count);
    EXPECT_GE(b.size(), count);
    int worst = 0;
    for (size_t i = 0; i < count && i < a.size() && i < b.size(); ++i) {
        worst = std::max(worst, std::abs(a[i] - b[i]));
    }
    return worst;
}

}  // namespace

TEST(FfmpegAudioSource, IntegerPcmKeepsItsDepthAndCutsAreByteExact) {
    TestMedia media;
    struct Case {
        const char* codec;
        int channels;
        int bits;
    };
    for (const Case& c : {Case{"pcm_s16le", 2, 16}, Case{"pcm_s24le", 2, 24}, Case{"pcm_u8", 1, 8},
                          Case{"pcm_s32le", 2, 32}}) {
        SCOPED_TRACE(c.codec);
        const std::string in = media.Make(
            std::string(c.codec) + ".wav",
            TestMedia::Tones(3, 44100) + " -ac " + std::to_string(c.channels) + " -c:a " + c.codec);
        const Decoded whole = DecodeAll(in);
        ASSERT_EQ(whole.open, 0);
        EXPECT_EQ(whole.format.wBitsPerSample, c.bits);
        EXPECT_EQ(whole.format.nChannels, c.channels);
        EXPECT_EQ(whole.format.nSamplesPerSec, 44100u);
        const uint32_t block = c.channels * c.bits / 8;
        EXPECT_EQ(whole.format.nBlockAlign, block);
        EXPECT_EQ(whole.format.nAvgBytesPerSec, 44100u * block);

        const WavFile input = WavFile::Read(in);
        // ffmpeg may write a longer header for some formats; the data chunk is at the end.
        const size_t dataStart = input.bytes.size() - 3 * 44100 * block;
        ASSERT_EQ(whole.bytes.size(), 3u * 44100 * block);
        EXPECT_EQ(
            0, std::memcmp(whole.bytes.data(), input.bytes.data() + dataStart, whole.bytes.size()));
        // Full buffers until the end.
        for (size_t i = 0; i + 1 < whole.fills.size(); ++i) {
            ASSERT_EQ(whole.fills[i], 5000);
        }

        // A cut at 1.25 s starts with exactly the sample at 1.25 s.
        const Decoded cut = DecodeAll(in, 12'500'000);
        const size_t offset = static_cast<size_t>(1.25 * 44100) * block;
        ASSERT_EQ(cut.bytes.size(), whole.bytes.size() - offset);
        EXPECT_EQ(0, std::memcmp(cut.bytes.data(), whole.bytes.data() + offset, cut.bytes.size()));
    }
}

TEST(FfmpegAudioSource, LossyCutsMatchDecodingFromTheStart) {
    TestMedia media;
    struct Case {
        const char* name;
        const char* args;
        int rate;
        bool sameAsFfmpegSeek;
        // Samples of ffmpeg's decode before the encoded sound begins: the codec's delay,
        // which these containers do not record and the engine takes off. FFmpeg's
        // program stream muxer starts the sound before the picture by it instead: there
        // the timestamps carry it, and the decode is the cut.
        size_t lead;
    };
    const std::string tones48 = TestMedia::Tones(8, 48000);
    const std::string tones44 = TestMedia::Tones(8, 44100);
    for (const Case& c : {
             Case{"ps.mpg",
                  "-f lavfi -i testsrc=d=8:s=160x120:r=25 -c:v mpeg1video -c:a mp2 -b:a 192k",
                  44100, true, 0},
             Case{"ac3.ac3", "-c:a ac3", 48000, true, 256},
             Case{"aac.mp4", "-c:a aac", 48000, false, 0},
             Case{"mp3.mp3", "-c:a libmp3lame", 44100, false, 0},
         }) {
        SCOPED_TRACE(c.name);
        const std::string in =
            media.Make(c.name, (c.rate == 48000 ? tones48 : tones44) + " " + c.args);
        const std::vector<int16_t> decoded = TestMedia::DecodeS16(in);
        ASSERT_GT(decoded.size(), 2 * c.lead);
        const std::vector<int16_t> reference(decoded.begin() + 2 * c.lead, decoded.end());
        const Decoded whole = DecodeAll(in);
        ASSERT_EQ(whole.open, 0);
        EXPECT_EQ(whole.format.wBitsPerSample, 16);  // floating-point decoders give 16-bit
        EXPECT_EQ(whole.format.nSamplesPerSec, static_cast<uint32_t>(c.rate));
        EXPECT_EQ(whole.format.nChannels, 2);
        const std::vector<int16_t> all = AsS16(whole.bytes);
        EXPECT_EQ(all.size(), reference.size());
        EXPECT_LE(MaxDifference(all, reference, reference.size()), 1);

        // Cuts far enough in to need a real seek, and one inside the warm-up span.
        for (double seconds : {0.5, 3.0, 5.5}) {
            SCOPED_TRACE(seconds);
            const int64_t rt = static_cast<int64_t>(seconds * 10'000'000);
            const size_t first = static_cast<size_t>(seconds * c.rate) * 2;
            const std::vector<int16_t> cut = AsS16(DecodeAll(in, rt).bytes);
            ASSERT_GT(reference.size(), first);
            const std::vector<int16_t> expected(reference.begin() + first, reference.end());
            EXPECT_LE(MaxDifference(cut, expected, expected.size() - 2 * 4096), 1);
            if (!c.sameAsFfmpegSeek) {
                continue;
            }
            // And the same samples as the ffmpeg command's own cut, past the same delay.
            // (Its cuts of AAC and MP3 are off by the encoder delay, so there the decode
            // from the start rules.)
            const std::vector<int16_t> theirs =
                TestMedia::DecodeS16(in, "-ss " + std::to_string(seconds));
            const std::vector<int16_t> theirsPastLead(theirs.begin() + 2 * c.lead, theirs.end());
            EXPECT_LE(MaxDifference(cut, theirsPastLead, theirsPastLead.size() - 2 * 4096), 1);
        }
    }
}

TEST(FfmpegAudioSource, AnInfoFrameInAnyContainerGivesItsDelayAndPadding) {
    if (const std::string missing = MissingTool({"lame", "mkvmerge"}); !missing.empty()) {
        GTEST_SKIP() << missing << " is not installed";
    }
    // mkvmerge keeps LAME's info frame as a packet; FFmpeg's reader of MP3 files takes its
    // delay and padding off. The engine reads them in any container: the same samples.
    TestMedia media;
    media.Make("tones.wav", TestMedia::Tones(3, 44100) + " -bitexact");
    RunInFolder(media, "lame --quiet -b 192 tones.wav a.mp3 && mkvmerge -q -o a.mka a.mp3");
    const std::vector<int16_t> theirs = TestMedia::DecodeS16(media.Path("a.mp3"));
    const std::vector<int16_t> ours = AsS16(DecodeAll(media.Path("a.mka")).bytes);
    ASSERT_EQ(ours.size(), theirs.size());
    EXPECT_EQ(ours.size(), 3u * 44100 * 2);
    EXPECT_LE(MaxDifference(ours, theirs, theirs.size()), 1);
}

TEST(FfmpegAudioSource, FilesWithoutUsableAudioFailToOpen) {
    TestMedia media;
    FfmpegAudioSource source;
    const std::string video = media.Make("video.mpg", "-f lavfi -i testsrc=d=1 -c:v mpeg1video");
    EXPECT_LT(source.OpenAudioStream(video), 0);
    EXPECT_NE(source.LastError().find("no audio stream"), std::string::npos) << source.LastError();
    int64_t duration = -1;
    EXPECT_TRUE(source.GetMediaDuration(video, duration));  // it can be played, just not converted
    EXPECT_GT(duration, 0);

    EXPECT_LT(source.OpenAudioStream(media.Path("missing.mpg")), 0);
    EXPECT_FALSE(source.GetMediaDuration(media.Path("missing.mpg"), duration));

    const std::string junk = media.Path("junk.mpg");
    {
        std::FILE* f = std::fopen(junk.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        unsigned state = 12345;
        for (int i = 0; i < 100'000; ++i) {
            state = state * 1103515245u + 12345u;
            std::fputc(static_cast<int>(state >> 24), f);
        }
        std::fclose(f);
    }
    EXPECT_LT(source.OpenAudioStream(junk), 0);
    EXPECT_FALSE(source.LastError().empty());
}

TEST(FfmpegAudioSource, DurationPathsAndTheWholeConversion) {
    TestMedia media;
    std::filesystem::create_directories(media.Dir() / "dir with blank");
    const std::string in =
        media.Make("dir with blank/tön ä.mp2", TestMedia::Tones(2.5, 44100) + " -c:a mp2");
    FfmpegAudioSource probe;
    int64_t duration = 0;
    ASSERT_TRUE(probe.GetMediaDuration(in, duration));
    EXPECT_NEAR(static_cast<double>(duration), 25'000'000.0, 300'000.0);

    // The job on the real source: 1 s from 0.5 s, by the budget rule.
    struct Observer : JobObserver {
        void OnJobRunning() override {}
        void OnJobProgress(int) override {}
        void OnJobNotice(const JobNotice&) override {}
        void OnJobFinished(const JobOutcome& o) override { outcome = o; }
        JobOutcome outcome;
    } observer;
    const std::string out = media.Path("dir with blank/ütput.wav");
    {
        ConversionJob job([] { return std::make_unique<FfmpegAudioSource>(); }, observer);
        ASSERT_TRUE(job.Start({in, out, 5'000'000, 15'000'000}));
        job.Join();
    }
    EXPECT_EQ(observer.outcome.status, JobOutcome::Status::Completed);
    WavFile f = WavFile::Read(out);
    ASSERT_TRUE(f.Valid());
    EXPECT_EQ(f.dataSize, 180'000u);  // 176,400-byte budget, whole 5000-byte buffers
    // ffmpeg's decode, past the 481 samples of MPEG audio's filter delay.
    const std::vector<int16_t> reference = TestMedia::DecodeS16(in);
    const std::vector<int16_t> expected(reference.begin() + (22050 + 481) * 2, reference.end());
    EXPECT_LE(MaxDifference(f.Samples16(), expected, 90'000), 1);
}

TEST(FfmpegAudioSource, TimeCountsFromTheStartOfTheFileNotOfTheSound) {
    // The sound starts a second after the picture, in a container that counts
    // milliseconds: a mark means the same moment as in the preview, and the cut is
    // exact to the sample even though every frame's time is rounded.
    TestMedia media;
    const std::string in =
        media.Make("late.mkv", "-f lavfi -i testsrc=d=5:s=160x120:r=25 -itsoffset 1 " +
                                   TestMedia::Tones(3, 48000) + " -c:v mpeg4 -c:a pcm_s16le");
    const std::vector<int16_t> sound = TestMedia::DecodeS16(in);
    ASSERT_EQ(sound.size(), 3u * 48000 * 2);
    for (double seconds : {1.2, 1.5, 2.0}) {
        SCOPED_TRACE(seconds);
        const std::vector<int16_t> cut =
            AsS16(DecodeAll(in, static_cast<int64_t>(seconds * 10'000'000)).bytes);
        const size_t first = static_cast<size_t>(std::llround((seconds - 1.0) * 48000)) * 2;
        ASSERT_EQ(cut.size(), sound.size() - first);
        EXPECT_TRUE(std::equal(cut.begin(), cut.end(), sound.begin() + first));
    }
    // Before the sound starts, the cut starts with its first sample.
    EXPECT_EQ(AsS16(DecodeAll(in, 5'000'000).bytes), sound);
}

TEST(FfmpegAudioSource, TheProbeListsTracksWithTheDelayAPlayerShowsAhead) {
    TestMedia media;
    // MP2 (481 samples of filter delay) and AAC in MP4 (the delay recorded in the file).
    const std::string in =
        media.Make("two.mkv", TestMedia::Tones(1, 44100) + " " + TestMedia::Tones(1, 48000) +
                                  " -map 0 -map 1 -c:a:0 mp2 -c:a:1 aac -disposition:a:1 default");
    FfmpegAudioSource source;
    MediaInfo info;
    ASSERT_TRUE(source.ProbeMedia(in, info)) << source.LastError();
    EXPECT_NEAR(static_cast<double>(info.duration), 10'000'000.0, 500'000.0);
    ASSERT_EQ(info.tracks.size(), 2u);
    EXPECT_EQ(info.tracks[0].codec, "mp2");
    EXPECT_EQ(info.tracks[0].lead, 481LL * 10'000'000 / 44100);
    EXPECT_EQ(info.tracks[1].lead, 1024LL * 10'000'000 / 48000);  // Matroska records none
    ASSERT_NE(info.Primary(), nullptr);
    EXPECT_EQ(info.Primary()->number, 2);
    EXPECT_EQ(info.frameDuration, 0);  // no picture
    EXPECT_FALSE(source.ProbeMedia(media.Path("missing.mkv"), info));

    // A picture at 25 frames a second: a frame is 40 ms.
    const std::string movie = media.Make(
        "movie.mpg", "-f lavfi -i testsrc=d=1:r=25 " + TestMedia::Tones(1, 44100) + " -c:a mp2");
    ASSERT_TRUE(source.ProbeMedia(movie, info));
    EXPECT_EQ(info.frameDuration, 400'000);
}
