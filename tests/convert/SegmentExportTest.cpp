// An export of many segments: each file holds what a single cut of the same marks holds,
// sample for sample, whatever the codec; a joined file holds them one after another with
// a cue point at each one's first sample; a stop ends the file being written.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "ConversionJob.h"
#include "FfmpegAudioSource.h"
#include "TestMedia.h"
#include "TestUnits.h"
#include "WavFile.h"

namespace {

class Waiter : public JobObserver {
  public:
    void OnJobRunning() override {}
    void OnJobProgress(int) override {}
    void OnJobNotice(const JobNotice&) override {}
    void OnJobSegment(int number, int count) override {
        std::lock_guard lock(m_mutex);
        segments.emplace_back(number, count);
        if (onSegment) {
            onSegment(number);
        }
    }
    void OnJobFinished(const JobOutcome& o) override {
        std::lock_guard lock(m_mutex);
        outcome = o;
        finished = true;
        m_cv.notify_all();
    }
    void Wait() {
        std::unique_lock lock(m_mutex);
        m_cv.wait_for(lock, std::chrono::seconds(60), [this] { return finished; });
    }
    std::function<void(int)> onSegment;
    std::vector<std::pair<int, int>> segments;
    JobOutcome outcome;
    bool finished = false;

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
};

// A single exact cut of the marks, as orvane-extract makes it.
std::vector<uint8_t> SingleCut(const std::string& in, const Segment& s, const std::string& out) {
    Waiter waiter;
    ConversionJob job(FfmpegAudioSource::Factory(), waiter);
    ConversionRequest request{in, out, s.start, s.end};
    request.end = CutEnd::Exact;
    EXPECT_TRUE(job.Start(request));
    waiter.Wait();
    job.Join();
    const WavFile wav = WavFile::Read(out);
    return std::vector<uint8_t>(wav.Data(), wav.Data() + wav.DataBytes());
}

JobOutcome Export(const SegmentRequest& request, Waiter& waiter) {
    ConversionJob job(FfmpegAudioSource::Factory(), waiter);
    EXPECT_TRUE(job.StartSegments(request));
    waiter.Wait();
    job.Join();
    return waiter.outcome;
}

}  // namespace

TEST(SegmentExport, EverySegmentIsItsSingleCutAndTheJoinedFileIsThemInTurn) {
    // In list order, by start: one near the start, two that meet, one that overlaps them,
    // one after a gap, and a second near the start, which the first one's reading has passed.
    const std::vector<Segment> segments = {
        {2'000'000, 9'000'000, "near the start"}, {5'000'000, 12'000'000, "again near it"},
        {25'000'000, 40'000'000, "one"},          {40'000'000, 52'500'000, "two"},
        {45'000'000, 60'000'000, "over"},         {75'000'000, 81'000'000, "after a gap"},
    };
    const struct {
        const char* file;
        const char* args;
    } codecs[] = {
        {"mp2.mpg", "-f lavfi -i testsrc=d=9:s=64x48:r=25 -c:v mpeg1video -c:a mp2"},
        {"mp3.mp3", "-c:a libmp3lame"},
        {"vorbis.ogg", "-c:a libvorbis"},
        {"opus.webm", "-c:a libopus"},
        {"flac.flac", "-c:a flac"},
        // Decoders that draw from a random generator: each segment is run in as its cut is.
        {"ac3.ac3", "-c:a ac3"},
        {"aac.m4a", "-c:a aac"},
    };
    TestMedia media;
    for (const auto& codec : codecs) {
        SCOPED_TRACE(codec.file);
        const std::string in =
            media.Make(codec.file, TestMedia::Tones(9, 48000) + " " + codec.args);
        SegmentRequest request;
        request.mediaPath = in;
        request.segments = segments;
        std::vector<std::vector<uint8_t>> singles;
        for (size_t i = 0; i < segments.size(); ++i) {
            request.outputs.push_back(media.Path(std::to_string(i) + ".wav"));
            singles.push_back(SingleCut(in, segments[i], media.Path("single.wav")));
        }
        Waiter separate;
        EXPECT_EQ(Export(request, separate).status, JobOutcome::Status::Completed);
        EXPECT_EQ(separate.outcome.filesWritten, static_cast<int>(segments.size()));
        ASSERT_EQ(separate.segments.size(), segments.size());
        EXPECT_EQ(separate.segments.back(), std::make_pair(6, 6));
        std::vector<uint8_t> all;
        std::vector<WavFile::Cue> cues;
        for (size_t i = 0; i < segments.size(); ++i) {
            SCOPED_TRACE(segments[i].name);
            const WavFile wav = WavFile::Read(request.outputs[i]);
            ASSERT_TRUE(wav.Valid());
            ASSERT_EQ(wav.DataBytes(), singles[i].size());
            EXPECT_EQ(std::vector<uint8_t>(wav.Data(), wav.Data() + wav.DataBytes()), singles[i]);
            cues.push_back({static_cast<uint32_t>(all.size() / wav.blockAlign), segments[i].name});
            all.insert(all.end(), singles[i].begin(), singles[i].end());
        }

        request.outputs.clear();
        request.joinedOutput = media.Path("joined.wav");
        Waiter joined;
        EXPECT_EQ(Export(request, joined).status, JobOutcome::Status::Completed);
        const WavFile wav = WavFile::Read(request.joinedOutput);
        ASSERT_TRUE(wav.Valid());
        EXPECT_EQ(std::vector<uint8_t>(wav.Data(), wav.Data() + wav.DataBytes()), all);
        const std::vector<WavFile::Cue> found = wav.Cues();
        ASSERT_EQ(found.size(), cues.size());
        for (size_t i = 0; i < cues.size(); ++i) {
            EXPECT_EQ(found[i].frame, cues[i].frame) << i;
            EXPECT_EQ(found[i].label, cues[i].label) << i;
        }
    }
}

TEST(SegmentExport, TheSourcesPlaceAndAStopThatEndsTheFileBeingWritten) {
    TestMedia media;
    const std::string in = media.Make("tones.flac", TestMedia::Tones(6, 44100) + " -c:a flac");
    SegmentRequest request;
    request.mediaPath = in;
    request.segments = {{10'000'000, 25'000'000, "first"}, {30'000'000, 50'000'000, "second"}};
    request.outputs = {media.Path("first.wav"), media.Path("second.wav")};
    request.bext = true;
    Waiter done;
    ASSERT_EQ(Export(request, done).status, JobOutcome::Status::Completed);
    // Where each begins in the source, as ffmpeg reads the Broadcast WAV chunk.
    for (const auto& [path, reference] :
         {std::pair{request.outputs[0], "44100"}, std::pair{request.outputs[1], "132300"}}) {
        std::string tags;
        ASSERT_EQ(RunCommand("ffprobe -v error -show_entries format_tags=time_reference -of "
                             "default=nw=1:nk=1 " +
                                 ShellQuote(path),
                             &tags),
                  0);
        EXPECT_EQ(tags, std::string(reference) + "\n") << path;
    }

    // Stopped in the first segment: its file is valid and a prefix of its cut; the second
    // is never begun.
    std::filesystem::remove(request.outputs[1]);
    const std::vector<uint8_t> whole = SingleCut(in, request.segments[0], media.Path("cut.wav"));
    request.outputs[0] = media.Path("stopped.wav");
    Waiter stopped;
    ConversionJob job(FfmpegAudioSource::Factory(), stopped);
    stopped.onSegment = [&job](int) { job.RequestStop(); };
    ASSERT_TRUE(job.StartSegments(request));
    stopped.Wait();
    job.Join();
    EXPECT_EQ(stopped.outcome.status, JobOutcome::Status::Stopped);
    const WavFile wav = WavFile::Read(request.outputs[0]);
    ASSERT_TRUE(wav.Valid());
    ASSERT_LT(wav.DataBytes(), whole.size());
    EXPECT_TRUE(std::equal(wav.Data(), wav.Data() + wav.DataBytes(), whole.begin()));
    EXPECT_FALSE(std::filesystem::exists(request.outputs[1]));
}
