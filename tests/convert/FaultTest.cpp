// What a conversion does when things fail underneath it: the disk fills up, the
// input changes or breaks, the output folder goes away.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "ConversionJob.h"
#include "FfmpegAudioSource.h"
#include "FileSizeLimit.h"
#include "NoFileOverride.h"
#include "NoticeText.h"
#include "TestMedia.h"
#include "WavFile.h"
#include "WavWriter.h"

namespace {

// Runs one conversion on the real source; onFirstProgress runs on the worker
// thread after the first buffer has been written.
struct Conversion : JobObserver {
    std::function<void()> onFirstProgress;
    std::vector<std::string> messages;
    JobOutcome outcome;
    bool progressed = false;

    void OnJobRunning() override {}
    void OnJobProgress(int position) override {
        if (position > 0 && !progressed) {
            progressed = true;
            if (onFirstProgress) {
                onFirstProgress();
            }
        }
    }
    void OnJobNotice(const JobNotice& notice) override { messages.push_back(Describe(notice)); }
    void OnJobFinished(const JobOutcome& o) override { outcome = o; }

    void Run(const std::string& in, const std::string& out,
             int64_t rtEnd = ConversionRequest::kToEndOfStream) {
        ConversionJob job([] { return std::make_unique<FfmpegAudioSource>(); }, *this);
        ASSERT_TRUE(job.Start({in, out, 0, rtEnd}));
        job.Join();
    }
};

void Overwrite(const std::string& path, long offset, size_t count) {
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, offset, SEEK_SET);
    unsigned state = 99;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        std::fputc(static_cast<int>(state >> 24), f);
    }
    std::fclose(f);
}

bool IsTemplateHeader(const WavFile& f) {
    return f.bytes.size() >= 44 &&
           std::equal(f.bytes.begin(), f.bytes.begin() + 44, WavWriter::kHeaderTemplate.begin());
}

}  // namespace

TEST(Faults, TheDiskFillsUpMidConversion) {
    TestMedia media;
    const std::string in = media.Make("long.wav", TestMedia::Tones(30, 44100) + " -c:a pcm_s16le");
    const std::string out = media.Path("out.wav");
    Conversion c;
    {
        FileSizeLimit full(3 << 20);
        ASSERT_TRUE(full.Active());
        c.Run(in, out);
    }
    EXPECT_EQ(c.outcome.status, JobOutcome::Status::WriteFailed);
    EXPECT_EQ(c.messages, std::vector<std::string>{"CannotWrite " + out});
    // The file does not pass for a good WAV: its header still says no data.
    const WavFile f = WavFile::Read(out);
    EXPECT_LE(f.bytes.size(), 3u << 20);
    EXPECT_TRUE(IsTemplateHeader(f));
    EXPECT_FALSE(f.Valid());
}

TEST(Faults, TheInputChangesWhileItIsConverted) {
    TestMedia media;
    const std::string args = TestMedia::Tones(20, 44100) + " -c:a pcm_s16le";
    {
        // Cut short under the running job: the conversion ends where the file now ends,
        // with every whole sample frame the shortened file holds.
        const std::string in = media.Make("cut.wav", args);
        Conversion c;
        c.onFirstProgress = [&] { ASSERT_EQ(truncate(in.c_str(), 1 << 20), 0); };
        c.Run(in, media.Path("cut-out.wav"));
        EXPECT_EQ(c.outcome.status, JobOutcome::Status::Completed);
        EXPECT_TRUE(c.messages.empty());
        const WavFile f = WavFile::Read(media.Path("cut-out.wav"));
        ASSERT_TRUE(f.Valid());
        const std::vector<int16_t> held = TestMedia::DecodeS16(in);
        EXPECT_GT(held.size(), 2u * 44100);  // over a second is left of the 20
        EXPECT_EQ(f.Samples16(), held);
    }
    {
        // Deleted under the running job: the open file is still read to its end.
        const std::string in = media.Make("gone.wav", args);
        const std::vector<int16_t> whole = TestMedia::DecodeS16(in);
        Conversion c;
        c.onFirstProgress = [&] { ASSERT_EQ(unlink(in.c_str()), 0); };
        c.Run(in, media.Path("gone-out.wav"));
        EXPECT_EQ(c.outcome.status, JobOutcome::Status::Completed);
        EXPECT_TRUE(c.messages.empty());
        const WavFile f = WavFile::Read(media.Path("gone-out.wav"));
        ASSERT_TRUE(f.Valid());
        EXPECT_EQ(f.dataSize, 20u * 176'400u);
        EXPECT_EQ(f.Samples16(), whole);
    }
    {
        // Deleted before the job starts: it fails to open, quietly, and writes nothing.
        Conversion c;
        c.Run(media.Path("gone.wav"), media.Path("never.wav"), 10'000'000);
        EXPECT_EQ(c.outcome.status, JobOutcome::Status::OpenFailed);
        EXPECT_EQ(c.outcome.reason, "cannot open the file: No such file or directory");
        EXPECT_TRUE(c.messages.empty());
        EXPECT_FALSE(std::filesystem::exists(media.Path("never.wav")));
    }
}

TEST(Faults, BrokenInputIsSkippedNotFatal) {
    TestMedia media;
    const std::string ps = media.Make(
        "broken.mpg", TestMedia::Tones(6, 44100) +
                          " -f lavfi -i testsrc=d=6:s=160x120:r=25 -c:v mpeg1video -c:a mp2");
    const auto size = static_cast<long>(std::filesystem::file_size(ps));
    // Garbage in the middle, and one damaged audio frame in a raw MP2 stream.
    Overwrite(ps, size / 2, 20'000);
    const std::string mp2 =
        media.Make("one-bad-frame.mp2", TestMedia::Tones(6, 44100) + " -c:a mp2");
    Overwrite(mp2, static_cast<long>(std::filesystem::file_size(mp2) / 2), 200);
    // Cut short on disk: converted up to the cut.
    const std::string half = media.Make("half.mp2", TestMedia::Tones(6, 44100) + " -c:a mp2");
    ASSERT_EQ(truncate(half.c_str(), static_cast<off_t>(std::filesystem::file_size(half) / 2)), 0);

    // The raw streams' sound lags its frames by MPEG audio's 481 samples of filter delay;
    // in the program stream FFmpeg's muxer starts the sound that much before the picture,
    // so there its timestamps carry the delay.
    for (const auto& [in, lead] : {std::pair{ps, 0}, std::pair{mp2, 481}, std::pair{half, 481}}) {
        SCOPED_TRACE(in);
        Conversion c;
        c.Run(in, in + ".wav");
        EXPECT_EQ(c.outcome.status, JobOutcome::Status::Completed);
        EXPECT_TRUE(c.messages.empty());
        const WavFile f = WavFile::Read(in + ".wav");
        ASSERT_TRUE(f.Valid());
        // Only the damaged part is missing: what ffmpeg's own decode of the same file
        // holds past the delay, to one step (the engine decodes MPEG audio in floating
        // point).
        const std::vector<int16_t> ours = f.Samples16();
        const std::vector<int16_t> theirs = TestMedia::DecodeS16(in);
        const size_t skip = static_cast<size_t>(lead) * 2;
        ASSERT_EQ(ours.size() + skip, theirs.size());
        int worst = 0;
        for (size_t i = 0; i < ours.size(); ++i) {
            worst = std::max(worst, std::abs(ours[i] - theirs[i + skip]));
        }
        EXPECT_LE(worst, 1);
        EXPECT_GT(ours.size(), 2u * 44100 * 2);
    }
}

TEST(Faults, TheOutputFolderIsRemovedMidRun) {
    // Every write succeeds, yet the file is lost: that is reported.
    TestMedia media;
    const std::string in = media.Make("in.wav", TestMedia::Tones(10, 44100) + " -c:a pcm_s16le");
    const std::filesystem::path folder = media.Dir() / "out folder";
    std::filesystem::create_directory(folder);
    const std::string out = (folder / "out.wav").string();
    Conversion c;
    c.onFirstProgress = [&] { std::filesystem::remove_all(folder); };
    c.Run(in, out);
    EXPECT_EQ(c.outcome.status, JobOutcome::Status::WriteFailed);
    EXPECT_EQ(c.messages, std::vector<std::string>{"CannotWrite " + out});
}

// An output the job may not write is not opened, and is left as it was: a read-only
// file (root's power over file modes is dropped for the job's threads), and an
// immutable one, which refuses even root.
TEST(Faults, AnOutputThatCannotBeWrittenIsLeftAsItWas) {
    TestMedia media;
    const std::string in = media.Make("in.wav", TestMedia::Tones(2, 44100) + " -c:a pcm_s16le");
    const std::string out = media.Path("readonly.wav");
    { std::ofstream(out) << "keep"; }
    ASSERT_EQ(chmod(out.c_str(), 0444), 0);
    Conversion c;
    ASSERT_TRUE(RunWithoutFileOverride([&] { c.Run(in, out, 10'000'000); }));
    EXPECT_EQ(c.outcome.status, JobOutcome::Status::OutputFailed);
    EXPECT_EQ(c.messages, std::vector<std::string>{"CannotOpenOutput " + out});
    EXPECT_EQ(std::filesystem::file_size(out), 4u);
}

TEST(Faults, AnImmutableOutputIsLeftAsItWas) {
    TestMedia media;
    const std::string in = media.Make("in.wav", TestMedia::Tones(2, 44100) + " -c:a pcm_s16le");
    const std::string out = media.Path("immutable.wav");
    { std::ofstream(out) << "keep"; }
    if (RunCommand("chattr +i " + ShellQuote(out) + " 2>/dev/null") != 0) {
        GTEST_SKIP() << "cannot make a file immutable here (needs root and a file system "
                        "with the attribute)";
    }
    Conversion c;
    c.Run(in, out, 10'000'000);
    RunCommand("chattr -i " + ShellQuote(out));
    EXPECT_EQ(c.outcome.status, JobOutcome::Status::OutputFailed);
    EXPECT_EQ(c.messages, std::vector<std::string>{"CannotOpenOutput " + out});
    EXPECT_EQ(std::filesystem::file_size(out), 4u);
}
