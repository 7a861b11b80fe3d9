#include "ConversionJob.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "NoFileOverride.h"
#include "NoticeText.h"
#include "ScriptedSource.h"
#include "TestMedia.h"
#include "WavFile.h"

namespace {

// Records what the job reports; every call arrives on the worker thread.
class RecordingObserver : public JobObserver {
  public:
    void OnJobRunning() override {
        std::lock_guard lock(m_mutex);
        running = true;
    }
    void OnJobProgress(int position) override {
        std::lock_guard lock(m_mutex);
        positions.push_back(position);
    }
    void OnJobNotice(const JobNotice& notice) override {
        std::lock_guard lock(m_mutex);
        messages.push_back(Describe(notice));
    }
    void OnJobFinished(const JobOutcome& o) override {
        std::lock_guard lock(m_mutex);
        outcome = o;
        finished = true;
        m_cv.notify_all();
    }
    bool WaitFinished(std::chrono::seconds timeout = std::chrono::seconds(30)) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [this] { return finished; });
    }

    bool running = false;
    bool finished = false;
    std::vector<int> positions;
    std::vector<std::string> messages;
    JobOutcome outcome;

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
};

AudioFormat Cd() {
    return AudioFormat{};
}  // 44,100 Hz, 16-bit stereo, 176,400 bytes/s

struct JobRun {
    TestMedia media;
    RecordingObserver observer;
    ScriptedSource scripted;
    ScriptedSource* source = &scripted;
    std::unique_ptr<ConversionJob> job;
    std::string output = media.Path("out.wav");

    JobRun() {
        source->format = Cd();
        job = std::make_unique<ConversionJob>(
            [this] { return std::make_unique<BorrowedSource>(scripted); }, observer);
    }
    void Run(int64_t rtStart, int64_t rtEnd, CutEnd end = CutEnd::WholeBuffers) {
        ConversionRequest request{"in.mpg", output, rtStart, rtEnd};
        request.end = end;
        ASSERT_TRUE(job->Start(request));
        ASSERT_TRUE(observer.WaitFinished());
        job->Join();
    }
};

}  // namespace

TEST(ConversionJob, OneSecondOfCdAudioIsThirtySixBuffers) {
    JobRun run;
    run.source->fills = {ScriptedSource::kForever};
    run.Run(0, 10'000'000);

    EXPECT_TRUE(run.observer.running);
    EXPECT_EQ(run.source->seekTarget, 0);
    EXPECT_EQ(run.source->fillCalls, 36);
    WavFile f = WavFile::Read(run.output);
    ASSERT_TRUE(f.Valid());
    EXPECT_EQ(f.dataSize, 180'000u);
    EXPECT_EQ(f.riffSize, 180'036u);
    EXPECT_EQ(f.rate, 44100u);
    // Positions after buffers 1..35, then the reset to 0.
    std::vector<int> expected;
    for (int k = 1; k <= 35; ++k) {
        expected.push_back(static_cast<int>(5000.0 * k / 176400.0 * 1000.0));
    }
    expected.push_back(0);
    EXPECT_EQ(run.observer.positions, expected);
    EXPECT_EQ(expected.front(), 28);
    EXPECT_EQ(expected[1], 56);
    EXPECT_EQ(expected[2], 85);
    EXPECT_EQ(expected[33], 963);
    EXPECT_EQ(expected[34], 992);
    EXPECT_EQ(run.observer.outcome.status, JobOutcome::Status::Completed);
    EXPECT_TRUE(run.observer.messages.empty());
    EXPECT_TRUE(run.source->released);
}

TEST(ConversionJob, BudgetAndPositionArithmetic) {
    EXPECT_EQ(ConversionJob::ByteBudget(0, 10'000'000, 176'400), 176'400);
    // A rate with its top bit set is a large unsigned rate, not a negative one.
    EXPECT_EQ(ConversionJob::ByteBudget(0, 10'000'000, 0x80000000u), 2'147'483'648LL);
    EXPECT_EQ(ConversionJob::ByteBudget(5, 6, 176'400), 0);
    EXPECT_EQ(ConversionJob::ProgressPosition(5000, 176'400), 28);
    EXPECT_EQ(ConversionJob::ProgressPosition(500'000, 176'400), 1000);
}

TEST(ConversionJob, ShortAndEmptyFillsDoNotEndTheStreamOnlyTheEndDoes) {
    JobRun run;
    run.source->fills = {5000, 0, 17, 5000, 3, AudioStreamSource::kEndOfStream, 5000};
    run.Run(20'000'000, 100'000'000);  // the span runs past the end of the stream
    EXPECT_EQ(run.source->seekTarget, 20'000'000);
    EXPECT_EQ(run.source->fillCalls, 6);
    WavFile f = WavFile::Read(run.output);
    ASSERT_TRUE(f.Valid());
    ASSERT_EQ(f.dataSize, 10'020u);
    // Data in the order received, nothing lost or repeated.
    for (size_t i = 0; i < f.DataBytes(); ++i) {
        ASSERT_EQ(f.Data()[i], static_cast<uint8_t>(i)) << i;
    }
    EXPECT_EQ(run.observer.outcome.status, JobOutcome::Status::Completed);
}

TEST(ConversionJob, AFailingFillEndsLikeTheEndOfTheStream) {
    JobRun run;
    run.source->fills = {5000, 5000, -5};
    run.Run(0, 100'000'000);
    WavFile f = WavFile::Read(run.output);
    ASSERT_TRUE(f.Valid());
    EXPECT_EQ(f.dataSize, 10'000u);
    EXPECT_TRUE(run.observer.messages.empty());
}

TEST(ConversionJob, StopAfterKBuffersKeepsExactlyKBuffers) {
    for (int k : {1, 3}) {
        JobRun run;
        run.source->fills = {ScriptedSource::kForever};
        ConversionJob* job = run.job.get();
        // The stop arrives while buffer k is being filled: it is still written.
        run.source->onFill = [job, k](int index) {
            if (index == k - 1) {
                job->RequestStop();
            }
        };
        run.Run(0, 600'000'000);
        WavFile f = WavFile::Read(run.output);
        ASSERT_TRUE(f.Valid());
        EXPECT_EQ(f.dataSize, 5000u * k);
        EXPECT_EQ(run.observer.outcome.status, JobOutcome::Status::Stopped);
        EXPECT_EQ(run.observer.positions.back(), 0);
    }
}

TEST(ConversionJob, NoDataGivesAnEmptyValidFileWithTheStreamsFormat) {
    JobRun run;
    run.source->format.nSamplesPerSec = 48000;
    run.source->format.nAvgBytesPerSec = 192000;
    run.source->fills = {};
    run.Run(0, 10'000'000);
    WavFile f = WavFile::Read(run.output);
    ASSERT_TRUE(f.Valid());
    EXPECT_EQ(f.bytes.size(), 44u);
    EXPECT_EQ(f.rate, 48000u);
    EXPECT_EQ(run.observer.positions, std::vector<int>{0});
}

TEST(ConversionJob, AnExactEndWritesTheFramesBetweenTheMarks) {
    // A source that cannot end at a time itself: the job counts the frames, from the start
    // mark's to the end mark's, each picked as the nearest to its mark.
    const struct {
        int64_t start;
        int64_t end;
        uint32_t bytes;
    } rows[] = {
        {0, 10'000'000, 176'400},          // a second: not the whole buffers' 180,000
        {2'500'000, 12'500'000, 176'400},  // from a quarter second on
        {0, 333'333, 1'470 * 4},           // 1/30 s: 1470 frames
        {1, 100, 0},                       // less than half a frame: nothing
        {10'000'000, 10'000'227, 4},       // a frame's width apart: one frame
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.end);
        JobRun run;
        run.source->fills = {ScriptedSource::kForever};
        run.Run(row.start, row.end, CutEnd::Exact);
        const WavFile f = WavFile::Read(run.output);
        ASSERT_TRUE(f.Valid());
        EXPECT_EQ(f.dataSize, row.bytes);
        EXPECT_EQ(run.observer.outcome.status, JobOutcome::Status::Completed);
    }
}

TEST(ConversionJob, NothingReadWhereTheStreamHasSoundIsAFailure) {
    for (const bool sound : {false, true}) {
        JobRun run;
        run.source->fills = {};
        run.source->soundBetweenMarks = sound;
        run.Run(20'000'000, 40'000'000);
        EXPECT_TRUE(WavFile::Read(run.output).Valid());
        // Past the end of the sound an empty file is the answer; before it, sound was lost.
        EXPECT_EQ(run.observer.outcome.status,
                  sound ? JobOutcome::Status::NoSoundRead : JobOutcome::Status::Completed);
    }
}

TEST(ConversionJob, FailuresBeforeWritingLeaveNoFile) {
    {
        JobRun run;
        run.source->openResult = -2;
        run.Run(0, 10'000'000);
        EXPECT_EQ(run.observer.outcome.status, JobOutcome::Status::OpenFailed);
        EXPECT_EQ(run.observer.outcome.reason, "scripted failure");
        EXPECT_FALSE(std::filesystem::exists(run.output));
        EXPECT_TRUE(run.observer.messages.empty());  // quiet, as the dialog wants it
        EXPECT_EQ(run.observer.positions, std::vector<int>{0});
    }
    {
        JobRun run;
        run.source->prepareResult = -22;
        run.Run(0, 10'000'000);
        EXPECT_EQ(run.observer.outcome.status, JobOutcome::Status::PrepareFailed);
        EXPECT_FALSE(std::filesystem::exists(run.output));
    }
    {
        JobRun run;
        run.output = run.media.Path("missing/out.wav");
        run.source->fills = {ScriptedSource::kForever};
        run.Run(0, 10'000'000);
        EXPECT_EQ(run.observer.outcome.status, JobOutcome::Status::OutputFailed);
        EXPECT_EQ(run.observer.messages,
                  std::vector<std::string>{"CannotOpenOutput " + run.output});
        EXPECT_FALSE(std::filesystem::exists(run.output));
        EXPECT_EQ(run.source->fillCalls, 0);
    }
}

TEST(ConversionJob, FullDiskIsReportedOnce) {
    JobRun run;
    run.output = "/dev/full";
    run.source->fills = {ScriptedSource::kForever};
    run.Run(0, 30'000'000);
    EXPECT_EQ(run.observer.outcome.status, JobOutcome::Status::WriteFailed);
    EXPECT_EQ(run.observer.messages, std::vector<std::string>{"CannotWrite /dev/full"});
    EXPECT_EQ(run.observer.positions.back(), 0);
}

TEST(ConversionJob, TheRiffLimitStopsWithAMessageAndAValidFile) {
    JobRun run;
    run.job->SetMaxDataBytes(12'346);
    run.source->fills = {ScriptedSource::kForever};
    run.Run(0, 600'000'000);
    EXPECT_EQ(run.observer.outcome.status, JobOutcome::Status::SizeLimit);
    ASSERT_EQ(run.observer.messages.size(), 1u);
    EXPECT_EQ(run.observer.messages[0].rfind("SizeLimit " + run.output, 0), 0u);
    WavFile f = WavFile::Read(run.output);
    ASSERT_TRUE(f.Valid());
    EXPECT_EQ(f.dataSize, 12'344u);  // whole 4-byte sample frames only
}

TEST(ConversionJob, OneJobAtATimeAndTheDestructorStopsAndJoins) {
    TestMedia media;
    RecordingObserver observer;
    const std::string output = media.Path("long.wav");
    int started = 0;
    {
        ConversionJob job(
            [&]() -> std::unique_ptr<AudioStreamSource> {
                ++started;
                auto s = std::make_unique<ScriptedSource>();
                s->fills = {ScriptedSource::kForever};
                return s;
            },
            observer);
        ASSERT_TRUE(job.Start({"in", output, 0, ConversionRequest::kToEndOfStream}));
        EXPECT_TRUE(job.IsBusy());
        EXPECT_FALSE(job.Start({"in", output, 0, 10}));
    }
    EXPECT_TRUE(observer.finished);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(observer.outcome.status, JobOutcome::Status::Stopped);
    EXPECT_TRUE(WavFile::Read(output).Valid());
}

TEST(ConversionJob, OpenEndedProgressCountsAgainstTheDuration) {
    JobRun run;
    run.source->duration = 10'000'000;
    run.source->fills = {5000, 5000, 5000};
    run.Run(0, ConversionRequest::kToEndOfStream);
    EXPECT_EQ(run.observer.positions, (std::vector<int>{28, 56, 85, 0}));
    EXPECT_EQ(WavFile::Read(run.output).dataSize, 15'000u);
}

TEST(ConversionJob, AnAgreedReplaceRemovesTheOldFileOnlyWhenTheNewOneIsMade) {
    {
        // The media cannot be opened: the old file stays as it was.
        JobRun run;
        { std::ofstream(run.output) << "old"; }
        run.source->openResult = -2;
        ASSERT_TRUE(run.job->Start({"in", run.output, 0, 10'000'000, true}));
        ASSERT_TRUE(run.observer.WaitFinished());
        run.job->Join();
        EXPECT_EQ(std::filesystem::file_size(run.output), 3u);
    }
    {
        // A read-only file the user agreed to replace is replaced: the job removes it
        // rather than writing into it. Root's power over file modes is dropped for the
        // job's threads, so the mode matters here as it does for a user.
        JobRun run;
        { std::ofstream(run.output) << "old"; }
        std::filesystem::permissions(run.output, std::filesystem::perms::owner_read);
        run.source->fills = {5000};
        ASSERT_TRUE(RunWithoutFileOverride([&] {
            ASSERT_TRUE(run.job->Start({"in", run.output, 0, 10'000'000, true}));
            ASSERT_TRUE(run.observer.WaitFinished());
            run.job->Join();
        }));
        EXPECT_EQ(run.observer.outcome.status, JobOutcome::Status::Completed);
        EXPECT_TRUE(run.observer.messages.empty());
        EXPECT_EQ(WavFile::Read(run.output).dataSize, 5000u);
    }
}
