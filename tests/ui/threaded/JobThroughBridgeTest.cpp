#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <thread>

#include "FfmpegAudioSource.h"
#include "JobObserverBridge.h"
#include "RecordingMessages.h"
#include "TestMedia.h"
#include "TestUnits.h"
#include "WaitFor.h"
#include "WavFile.h"

namespace {

std::unique_ptr<AudioStreamSource> Ffmpeg() {
    return std::make_unique<FfmpegAudioSource>();
}

}  // namespace

class JobThroughBridge : public ::testing::Test {
  protected:
    void SetUp() override {
        tone = media.Make("tone.wav", TestMedia::Tones(3, 44100));
        request.mediaPath = tone;
        request.outputPath = media.Path("out.wav");
        request.rtStart = 0;
        request.rtEnd = 3 * kSecond;
        QObject::connect(&bridge, &JobObserverBridge::JobRunning, [this] {
            ++running;
            slotThreads.push_back(std::this_thread::get_id());
        });
        QObject::connect(&bridge, &JobObserverBridge::JobProgress, [this](int p) {
            progress.push_back(p);
            slotThreads.push_back(std::this_thread::get_id());
        });
        QObject::connect(&bridge, &JobObserverBridge::JobFinished, [this](const JobOutcome& o) {
            ++finished;
            outcome = o;
            slotThreads.push_back(std::this_thread::get_id());
        });
    }

    TestMedia media;
    std::string tone;
    ConversionRequest request;
    RecordingMessages messages;
    JobObserverBridge bridge{messages};
    int running = 0;
    int finished = 0;
    std::vector<int> progress;
    JobOutcome outcome;
    std::vector<std::thread::id> slotThreads;  // the thread each report's slot ran on
};

TEST_F(JobThroughBridge, ReportsReachTheGuiThreadInOrderAndOnlyAsChanges) {
    ConversionJob job(Ffmpeg, bridge);
    ASSERT_TRUE(job.Start(request));
    ASSERT_TRUE(WaitFor([&] { return finished == 1; }));
    job.Join();
    EXPECT_EQ(running, 1);
    EXPECT_EQ(outcome.status, JobOutcome::Status::Completed);
    ASSERT_GE(progress.size(), 2u);
    for (size_t i = 1; i < progress.size(); ++i) {
        EXPECT_NE(progress[i], progress[i - 1]);
    }
    EXPECT_EQ(progress.back(), 0);
    // Every report was handled on this, the GUI thread, none on the worker.
    EXPECT_EQ(slotThreads,
              std::vector<std::thread::id>(progress.size() + 2, std::this_thread::get_id()));
    EXPECT_TRUE(WavFile::Read(request.outputPath).Valid());
}

TEST_F(JobThroughBridge, WorkerWaitsForItsMessageUntilSeen) {
    messages.holdUnowned = true;
    ConversionJob job(Ffmpeg, bridge);
    job.SetMaxDataBytes(20000);
    ASSERT_TRUE(job.Start(request));
    ASSERT_TRUE(WaitFor([&] { return !messages.held.empty(); }));
    EXPECT_EQ(messages.records.back().caption, "Warning");
    QCoreApplication::processEvents();
    EXPECT_TRUE(job.IsBusy());
    EXPECT_EQ(finished, 0);
    messages.ReleaseHeld();
    ASSERT_TRUE(WaitFor([&] { return finished == 1; }));
    job.Join();
    EXPECT_EQ(outcome.status, JobOutcome::Status::SizeLimit);
    const WavFile wav = WavFile::Read(request.outputPath);
    ASSERT_TRUE(wav.Valid());
    EXPECT_EQ(wav.DataBytes(), 20000u);
}

TEST_F(JobThroughBridge, EndingWhileAMessageIsPendingNeverBlocksTheGuiThread) {
    // What the dialog does when it ends: stop, let pending boxes go, run the event loop
    // until the job's end arrives, then join.
    messages.holdUnowned = true;
    ConversionJob job(Ffmpeg, bridge);
    job.SetMaxDataBytes(20000);
    ASSERT_TRUE(job.Start(request));
    ASSERT_TRUE(WaitFor([&] { return !messages.held.empty(); }));
    job.RequestStop();
    bridge.SetAutoDismiss(true);
    EXPECT_EQ(messages.dismissed, 1);
    QEventLoop loop;
    QObject::connect(&bridge, &JobObserverBridge::JobFinished, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    if (finished == 0) {
        loop.exec();
    }
    EXPECT_EQ(finished, 1);
    job.Join();
    EXPECT_TRUE(WavFile::Read(request.outputPath).Valid());
}

TEST_F(JobThroughBridge, ShutdownLetsAJobEndWithoutAnEventLoop) {
    messages.holdUnowned = true;
    ConversionJob job(Ffmpeg, bridge);
    job.SetMaxDataBytes(20000);
    ASSERT_TRUE(job.Start(request));
    ASSERT_TRUE(WaitFor([&] { return !messages.held.empty(); }));
    // As the dialog's destructor does: no event loop runs while the job is joined.
    bridge.Shutdown();
    job.RequestStop();
    job.Join();
    EXPECT_FALSE(job.IsBusy());
    EXPECT_TRUE(WavFile::Read(request.outputPath).Valid());
}
