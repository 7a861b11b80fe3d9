// A span decoded in sections on several threads writes the same WAV as one pass: the
// same bytes for every kind of end, a stop, the size limit and a full disk; decoders that
// draw from a random generator are converted in one pass.
#include <gtest/gtest.h>

#include <fstream>

#include "ConversionJob.h"
#include "FfmpegAudioSource.h"
#include "FileSizeLimit.h"
#include "ForeignTools.h"
#include "NoticeText.h"
#include "TestMedia.h"
#include "TestUnits.h"
#include "WavFile.h"

namespace {

struct SectionedRun : JobObserver {
    ConversionJob job{FfmpegAudioSource::Factory(), *this};
    int stopAt = 1001;  // the progress at which the user presses Stop
    JobOutcome outcome;
    std::vector<std::string> notices;

    void OnJobRunning() override {}
    void OnJobProgress(int position) override {
        if (position >= stopAt) {
            job.RequestStop();
        }
    }
    void OnJobNotice(const JobNotice& notice) override { notices.push_back(Describe(notice)); }
    void OnJobFinished(const JobOutcome& o) override { outcome = o; }
};

// Converts with the given threads; sections from spans of 2 s on.
SectionedRun& Convert(SectionedRun& c, ConversionRequest request, int threads) {
    request.threads = threads;
    request.sectionsFrom = 2 * kSecond;
    EXPECT_TRUE(c.job.Start(request));
    c.job.Join();
    return c;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Source {
    const char* name;
    std::string args;  // for TestMedia::Make; empty: made by `script`
    bool sectioned;    // whether the decoder gives the same samples wherever it starts, and
                       // the samples lie where their times put them
    const char* script = nullptr;
    const char* tool = nullptr;
};

std::string Make(const TestMedia& media, const Source& s) {
    if (!s.args.empty()) {
        return media.Make(s.name, s.args);
    }
    RunInFolder(media, s.script);
    return media.Path(s.name);
}

}  // namespace

TEST(SectionedConversion, EveryEndGivesTheBytesOfOnePass) {
    const std::string video = "-f lavfi -i testsrc=d=20:s=160x120:r=25 ";
    const std::vector<Source> sources = {
        {"mp2.mpg", video + TestMedia::Tones(20, 44100) + " -c:v mpeg1video -c:a mp2 -f mpeg",
         true},
        {"mp2.ts", video + TestMedia::Tones(20, 48000) + " -c:v mpeg1video -c:a mp2 -f mpegts",
         true},
        {"mp3.mp3", TestMedia::Tones(20, 44100) + " -c:a libmp3lame -b:a 160k", true},
        {"flac.flac", TestMedia::Tones(20, 48000) + " -c:a flac", true},
        {"vorbis.ogg", TestMedia::Tones(20, 44100) + " -c:a libvorbis", true},
        {"s24.wav", TestMedia::Tones(20, 48000) + " -c:a pcm_s24le", true},
        {"aac.mp4", TestMedia::Tones(20, 48000) + " -c:a aac", false},
        {"ac3.ac3", TestMedia::Tones(20, 48000) + " -c:a ac3", false},
        {"lame.mp3", "", true,
         "ffmpeg -v error -f lavfi -i sine=f=500:d=20 -ac 2 -f wav - | lame --quiet - lame.mp3",
         "lame"},
        // Looped without re-encoding: the sound's timestamps leave a gap at each join.
        {"gaps.mpg", "", false,
         "ffmpeg -v error -f lavfi -i testsrc=d=2:s=160x120:r=25 -f lavfi -i sine=f=400:d=2 "
         "-c:v mpeg1video -c:a mp2 -f mpeg loop.mpg && ffmpeg -v error -stream_loop 9 -i loop.mpg "
         "-c copy -f mpeg gaps.mpg"},
        {"joined.mpg", "", true,
         "for i in 1 2; do ffmpeg -v error -f lavfi -i testsrc=d=10:s=160x120:r=25 -f lavfi -i "
         "sine=f=$((300*i)):d=10 -c:v mpeg1video -c:a mp2 -f mpeg part$i.mpg; done; "
         "cat part1.mpg part2.mpg > joined.mpg"},
    };
    struct End {
        const char* name;
        int64_t start, end;
        CutEnd kind;
        SampleFormat format;
    };
    const std::vector<End> ends = {
        {"exact", 12'345'678, 178'912'345, CutEnd::Exact, SampleFormat::Auto},
        {"whole buffers", 12'345'678, 178'912'345, CutEnd::WholeBuffers, SampleFormat::Auto},
        {"to the end", 7'654'321, ConversionRequest::kToEndOfStream, CutEnd::Exact,
         SampleFormat::S24},
    };
    TestMedia media;
    for (const Source& s : sources) {
        if (s.tool != nullptr && !MissingTool({s.tool}).empty()) {
            std::cout << "[  SKIPPED ] " << s.name << ": " << s.tool << " is not installed\n";
            continue;
        }
        const std::string in = Make(media, s);
        for (const End& e : ends) {
            SCOPED_TRACE(std::string(s.name) + ", " + e.name);
            ConversionRequest r{in, media.Path("one.wav"), e.start, e.end};
            r.end = e.kind;
            r.sampleFormat = e.format;
            SectionedRun one;
            Convert(one, r, 1);
            r.outputPath = media.Path("three.wav");
            SectionedRun three;
            Convert(three, r, 3);
            ASSERT_EQ(one.outcome.status, JobOutcome::Status::Completed);
            EXPECT_EQ(three.outcome.status, JobOutcome::Status::Completed);
            EXPECT_EQ(three.outcome.sections, s.sectioned ? 3 : 1);
            EXPECT_GT(one.outcome.dataBytes, 1'000'000);
            EXPECT_TRUE(FileBytes(r.outputPath) == FileBytes(media.Path("one.wav")));
        }
    }
}

TEST(SectionedConversion, AStopTheLimitAndAFullDiskEndAsInOnePass) {
    TestMedia media;
    const std::string in =
        media.Make("in.mpg", "-f lavfi -i testsrc=d=20:s=160x120:r=25 " +
                                 TestMedia::Tones(20, 44100) + " -c:v mpeg1video -c:a mp2 -f mpeg");
    const ConversionRequest whole{in, media.Path("whole.wav"), 0,
                                  ConversionRequest::kToEndOfStream};
    SectionedRun reference;
    Convert(reference, whole, 1);
    const std::vector<uint8_t> full = FileBytes(whole.outputPath);
    ASSERT_GT(full.size(), 3'000'000u);

    // Stopped in the last section: a valid file whose data is the start of one pass's,
    // in whole buffers.
    SectionedRun stopped;
    stopped.stopAt = 800;
    ConversionRequest r = whole;
    r.outputPath = media.Path("stopped.wav");
    Convert(stopped, r, 3);
    EXPECT_EQ(stopped.outcome.status, JobOutcome::Status::Stopped);
    const WavFile f = WavFile::Read(r.outputPath);
    ASSERT_TRUE(f.Valid());
    EXPECT_GT(f.DataBytes(), full.size() / 2);
    EXPECT_LT(f.DataBytes(), full.size() - 44);
    EXPECT_EQ(f.DataBytes() % AudioStreamSource::AUDIO_BUFFER_SIZE, 0u);
    EXPECT_TRUE(std::equal(f.Data(), f.Data() + f.DataBytes(), full.begin() + 44));

    // The RIFF limit, lowered: the same bytes, cut at the same frame.
    for (int threads : {1, 3}) {
        SectionedRun limited;
        limited.job.SetMaxDataBytes(2'000'001);
        r.outputPath = media.Path("limited" + std::to_string(threads) + ".wav");
        Convert(limited, r, threads);
        EXPECT_EQ(limited.outcome.status, JobOutcome::Status::SizeLimit);
        EXPECT_EQ(limited.outcome.dataBytes, 2'000'000);
    }
    EXPECT_TRUE(FileBytes(media.Path("limited1.wav")) == FileBytes(media.Path("limited3.wav")));

    // A disk that fills up before the first section's end: the same failure and message.
    for (int threads : {1, 3}) {
        SCOPED_TRACE(threads);
        SectionedRun failed;
        r.outputPath = media.Path("full" + std::to_string(threads) + ".wav");
        {
            FileSizeLimit limit(1 << 20);
            ASSERT_TRUE(limit.Active());
            Convert(failed, r, threads);
        }
        EXPECT_EQ(failed.outcome.status, JobOutcome::Status::WriteFailed);
        EXPECT_EQ(failed.notices, std::vector<std::string>{"CannotWrite " + r.outputPath});
    }
}
