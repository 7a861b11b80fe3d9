// The waveform: a min/max pyramid of the very samples a conversion writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <future>
#include <string>
#include <thread>

#include "ConversionJob.h"
#include "FfmpegAudioSource.h"
#include "ForeignTools.h"
#include "TestMedia.h"
#include "WaitUntil.h"
#include "WavFile.h"
#include "WaveformBuilder.h"
#include "WaveformSections.h"

namespace {

class Quiet : public JobObserver {
  public:
    void OnJobRunning() override {}
    void OnJobProgress(int) override {}
    void OnJobNotice(const JobNotice&) override {}
    void OnJobFinished(const JobOutcome& o) override { done.set_value(o); }
    std::promise<JobOutcome> done;
};

// The conversion's samples of the track, channels mixed by their mean, as the pyramid
// takes them: 16-bit stereo here.
std::vector<float> ConvertedMix(const std::string& in, int track, const std::string& out) {
    Quiet observer;
    ConversionJob job(FfmpegAudioSource::Factory(), observer);
    ConversionRequest request;
    request.mediaPath = in;
    request.outputPath = out;
    request.rtEnd = ConversionRequest::kToEndOfStream;
    request.track = track;
    EXPECT_TRUE(job.Start(request));
    EXPECT_EQ(observer.done.get_future().get().status, JobOutcome::Status::Completed);
    job.Join();
    const std::vector<int16_t> s = WavFile::Read(out).Samples16();
    std::vector<float> mix(s.size() / 2);
    for (size_t i = 0; i < mix.size(); ++i) {
        mix[i] = (s[2 * i] / 32768.0f + s[2 * i + 1] / 32768.0f) / 2.0f;
    }
    return mix;
}

}  // namespace

TEST(Waveform, ThePyramidHoldsTheMinAndMaxOfTheConvertedSamplesOfTheChosenTrack) {
    TestMedia media;
    // Two tracks of different sound: the waveform must be the chosen one's.
    const std::string in = media.Make(
        "two.mkv", TestMedia::Tones(9, 44100) + " -f lavfi -i \"anoisesrc=r=48000:a=0.2:d=9\" " +
                       "-map 0 -map 1 -ac:a:1 2 -c:a:0 mp2 -c:a:1 aac");
    for (int track : {1, 2}) {
        SCOPED_TRACE(track);
        const std::vector<float> mix = ConvertedMix(in, track, media.Path("t.wav"));
        WaveformBuilder builder(FfmpegAudioSource::Factory());
        const std::shared_ptr<const WaveformPyramid> pyramid = builder.Start(in, track);
        ASSERT_TRUE(WaitUntil([&] { return pyramid->Complete(); }));
        EXPECT_EQ(pyramid->SampleRate(), track == 1 ? 44100 : 48000);
        ASSERT_EQ(pyramid->Frames(), static_cast<int64_t>(mix.size()));

        // Column layouts of every zoom: the finest level, the coarsest, and in between
        // (columns that split buckets take every bucket they touch).
        struct Layout {
            int64_t first;
            double framesPerColumn;
            int64_t bucket;
        };
        for (const Layout& l : {Layout{0, 256, 256}, Layout{5 * 256, 1000.5, 256},
                                Layout{0, 65536, 65536}, Layout{65536, 131072, 65536}}) {
            const int columns =
                static_cast<int>((static_cast<double>(mix.size()) - l.first) / l.framesPerColumn);
            const std::vector<WaveformPyramid::Column> got =
                pyramid->Columns(l.first, l.framesPerColumn, columns);
            for (int c = 0; c < columns; ++c) {
                // Every whole bucket the column's span touches.
                const double start = static_cast<double>(l.first) + c * l.framesPerColumn;
                const double end = start + l.framesPerColumn;
                const auto bucket = static_cast<double>(l.bucket);
                const auto from = static_cast<size_t>(std::floor(start / bucket) * bucket);
                const auto to =
                    std::min(mix.size(), static_cast<size_t>(std::ceil(end / bucket) * bucket));
                const auto [lo, hi] = std::minmax_element(mix.begin() + from, mix.begin() + to);
                ASSERT_TRUE(got[c].known);
                ASSERT_EQ(got[c].min, *lo) << "column " << c << " of " << l.framesPerColumn;
                ASSERT_EQ(got[c].max, *hi) << "column " << c << " of " << l.framesPerColumn;
            }
        }
        // Past the end nothing is known.
        EXPECT_FALSE(pyramid->Columns(static_cast<int64_t>(mix.size()) + 1024, 256, 1)[0].known);
    }
}

TEST(Waveform, AKeptWaveformComesAtOnceAndACancelledOneStopsOnItsOwn) {
    TestMedia media;
    const std::string shortFile = media.Make("short.wav", TestMedia::Tones(2, 8000));
    // Twenty minutes of silence: quick to make, a while to decode.
    const std::string longFile =
        media.Make("long.flac",
                   "-f lavfi -i anullsrc=r=48000:cl=stereo -t 1200 -c:a flac -compression_level 0");
    WaveformBuilder builder(FfmpegAudioSource::Factory());
    const auto first = builder.Start(shortFile, AudioStreamSource::kPrimaryTrack);
    ASSERT_TRUE(WaitUntil([&] { return !builder.Busy(); }));
    ASSERT_TRUE(first->Complete());
    // The same track again: the kept waveform, not a new decode.
    EXPECT_EQ(builder.Start(shortFile, AudioStreamSource::kPrimaryTrack), first);

    // A long one, cancelled by the next start and then by Cancel: nothing keeps running,
    // and a cancelled waveform is not kept.
    const auto abandoned = builder.Start(longFile, AudioStreamSource::kPrimaryTrack);
    builder.Start(shortFile, AudioStreamSource::kPrimaryTrack);
    const auto again = builder.Start(longFile, AudioStreamSource::kPrimaryTrack);
    EXPECT_NE(again, abandoned);
    builder.Cancel();
    ASSERT_TRUE(WaitUntil([&] { return !builder.Busy(); }));
    EXPECT_FALSE(abandoned->Complete());
    EXPECT_LT(abandoned->Frames(), 1200LL * 48000);
    EXPECT_NE(builder.Start(longFile, AudioStreamSource::kPrimaryTrack), abandoned);
}

TEST(Waveform, SectionsSideBySideFillThePyramidOnePassFills) {
    TestMedia media;
    struct Case {
        const char* name;
        std::string args;
        int kept;  // sections that fill their own range
    };
    const std::string video = "-f lavfi -i testsrc=d=20:s=160x120:r=25 ";
    const std::vector<Case> cases = {
        {"gaps.mpg", "", 1},
        {"mp2.mpg", video + TestMedia::Tones(20, 44100) + " -c:v mpeg1video -c:a mp2 -f mpeg", 3},
        {"flac.flac", TestMedia::Tones(20, 48000) + " -c:a flac", 3},
        {"s24.wav", TestMedia::Tones(20, 48000) + " -c:a pcm_s24le", 3},
        {"vorbis.ogg", TestMedia::Tones(20, 44100) + " -c:a libvorbis", 3},
    };
    // Looped without re-encoding: a gap in the sound's timestamps at each join.
    RunInFolder(media,
                "ffmpeg -v error -f lavfi -i testsrc=d=2:s=160x120:r=25 -f lavfi -i sine=f=400:d=2 "
                "-c:v mpeg1video -c:a mp2 -f mpeg loop.mpg && ffmpeg -v error -stream_loop 9 -i "
                "loop.mpg -c copy -f mpeg gaps.mpg");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = c.args.empty() ? media.Path(c.name) : media.Make(c.name, c.args);
        WaveformBuilder builder(FfmpegAudioSource::Factory(), 1, 1);
        const auto one = builder.Start(in, AudioStreamSource::kPrimaryTrack);
        ASSERT_TRUE(WaitUntil([&] { return one->Complete(); }));

        WaveformPyramid sectioned;
        const std::atomic<bool> cancelled{false};
        FfmpegAudioSource source;
        AudioFormat format;
        ASSERT_EQ(source.OpenAudioStream(in), 0);
        ASSERT_EQ(source.PrepareAudioSample(format), 0);
        sectioned.SetSampleRate(static_cast<int>(format.nSamplesPerSec));
        WaveformSections run(
            source, format, sectioned,
            {FfmpegAudioSource::Factory(), in, AudioStreamSource::kPrimaryTrack, 3}, cancelled);
        // Meanwhile a reader, as the panel's paint: where no section is dropped, the frames
        // counted only grow and every bucket below them is there.
        std::atomic<bool> done{false};
        bool whole = true;
        std::thread reader([&] {
            for (int64_t last = 0, frames = 0; !done.load() && whole; last = frames) {
                frames = sectioned.Frames();
                const auto got = sectioned.Columns(0, 256.0, static_cast<int>(frames / 256));
                whole = frames >= last &&
                        std::all_of(got.begin(), got.end(), [](auto& b) { return b.known; });
            }
        });
        const bool ran = run.Run();
        done.store(true);
        reader.join();
        ASSERT_TRUE(ran);
        EXPECT_TRUE(whole || c.kept < 3) << "the frame count went back or ran ahead of the buckets";
        sectioned.Finish();
        EXPECT_EQ(run.SectionsKept(), c.kept);
        ASSERT_EQ(sectioned.Frames(), one->Frames());
        // Every fine and coarse bucket the same, bit for bit.
        for (const double perColumn : {256.0, 65536.0}) {
            const int columns = static_cast<int>(std::ceil(one->Frames() / perColumn));
            const auto a = one->Columns(0, perColumn, columns);
            const auto b = sectioned.Columns(0, perColumn, columns);
            for (size_t i = 0; i < a.size(); ++i) {
                ASSERT_TRUE(a[i].known && b[i].known) << i;
                ASSERT_EQ(a[i].min, b[i].min) << perColumn << " " << i;
                ASSERT_EQ(a[i].max, b[i].max) << perColumn << " " << i;
            }
        }
    }
}
