// Many conversions started and stopped, many previews opened and closed, and the
// program closed during conversions: nothing leaks, grows, races or breaks a file.
#include <QElapsedTimer>
#include <QPushButton>
#include <QWidget>

#include <cstdio>
#include <fstream>
#include <string>

#include "DialogTestFixture.h"
#include "HeapInUse.h"
#include "MpvPlaybackEngine.h"
#include "MpvReaper.h"
#include "PreviewMessages.h"
#include "PreviewPlayer.h"
#include "TestMedia.h"
#include "WaitFor.h"
#include "WavFile.h"

namespace {

// Resident memory in KiB, from /proc.
long ResidentKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// Memory at the start, after the first 100 cycles (libmpv, Qt and the allocator have
// settled by then) and after 200; growth in the second hundred would be a leak.
struct MemoryTrace {
    long rssStart = ResidentKb();
    long heapStart = HeapInUseKb();
    long rssHalf = 0;
    long heapHalf = 0;

    void AtCycle(int cycle) {
        if (cycle == 100) {
            // Cores still being taken down on the reaper's thread are not leaks.
            MpvReaper::Instance().Drain();
            rssHalf = ResidentKb();
            heapHalf = HeapInUseKb();
        }
    }
    // Prints both measures and returns the heap's growth over the last 100 cycles.
    long Finish(const char* what) const {
        MpvReaper::Instance().Drain();
        const long rss = ResidentKb();
        const long heap = HeapInUseKb();
        std::printf(
            "[ memory ] %s: RSS %ld / %ld / %ld KiB (%+ld in the last 100); heap in use %ld / "
            "%ld / %ld KiB (%+ld in the last 100)\n",
            what, rssStart, rssHalf, rss, rss - rssHalf, heapStart, heapHalf, heap,
            heap - heapHalf);
        ::testing::Test::RecordProperty(std::string(what) + " rss growth in the last 100 (KiB)",
                                        static_cast<int>(rss - rssHalf));
        ::testing::Test::RecordProperty(std::string(what) + " heap growth in the last 100 (KiB)",
                                        static_cast<int>(heap - heapHalf));
        return heap - heapHalf;
    }
};

// A leak per cycle shows as growth over the last 100 cycles; below this much it would be
// smaller than one lost MP2 decoder context (36 KiB) a cycle. A lost engine, player or
// job is far larger.
constexpr long kGrowthAllowanceKb = 1024;

class QuietPreviewMessages : public PreviewMessages {
  public:
    void ShowMessage(const QString& text, const QString&) override { texts.push_back(text); }
    std::vector<QString> texts;
};

class Load : public DialogTestFixture {
  protected:
    void SetUp() override {
        DialogTestFixture::SetUp();
        // Long enough that every conversion is still running when Stop comes.
        input = media.Make("long.mp2", "-f lavfi -i sine=f=440:r=44100:d=600 -ac 2 -c:a mp2");
        output = media.Path("out.wav");
        messages.answer = UserMessages::Answer::Yes;  // replace the last run's file
    }

    ConverterDialog& Ready() {
        ConverterDialog& dlg = MakeMediaDialog();
        OpenWithMarks(QString::fromStdString(input), 600 * kSecond, 0, 600 * kSecond);
        Control<QWidget>(1017)->setProperty("text", QString::fromStdString(output));
        return dlg;
    }

    QPushButton* ConvertButton() const { return Control<QPushButton>(1000); }

    TestMedia media;
    std::string input;
    std::string output;
};

}  // namespace

TEST_F(Load, TwoHundredConversionsStartedAndStopped) {
    Ready();
    MemoryTrace memory;
    for (int cycle = 0; cycle < 200; ++cycle) {
        memory.AtCycle(cycle);
        const int endedBefore = ended;
        ConvertButton()->click();
        ASSERT_TRUE(WaitFor([&] { return ConvertButton()->text() == "Stop"; })) << cycle;
        ConvertButton()->click();
        ASSERT_TRUE(WaitFor([&] {
            return ended > endedBefore && !session->Conversion().IsActive();
        })) << cycle;
        ASSERT_EQ(ConvertButton()->text(), "Convert");
        ASSERT_EQ(lastOutcome.status, JobOutcome::Status::Stopped) << cycle;
        const WavFile wav = WavFile::Read(output);
        ASSERT_TRUE(wav.Valid()) << cycle;
        ASSERT_GT(wav.DataBytes(), 0u);
        // A stop ends a conversion between buffers: whole buffers, whole sample frames.
        ASSERT_EQ(wav.DataBytes() % 5000, 0u) << cycle;
        ASSERT_EQ(wav.DataBytes() % wav.blockAlign, 0u) << cycle;
    }
    const long growth = memory.Finish("200 conversions");
    if (kHeapMeasurable) {
        EXPECT_LT(growth, kGrowthAllowanceKb);
    }
    // Every refusal or question but the replace question would be a fault here.
    for (const auto& record : messages.records) {
        ASSERT_EQ(record.caption, "Warning") << record.text.toStdString();
    }
}

TEST_F(Load, TwoHundredPreviewsOpenedAndClosed) {
    const std::string clip =
        media.Make("clip.mpg",
                   "-f lavfi -i testsrc=d=3:s=160x120:r=25 -f lavfi -i sine=d=3 -c:v mpeg1video "
                   "-c:a mp2");
    QWidget dialog;
    QuietPreviewMessages boxes;
    MemoryTrace memory;
    for (int cycle = 0; cycle < 200; ++cycle) {
        memory.AtCycle(cycle);
        PreviewPlayer player(
            &dialog,
            [] {
                MpvPlaybackEngine::Options options;
                options.video = MpvPlaybackEngine::VideoOutput::None;
                options.audioOutput = "null";
                return std::make_unique<MpvPlaybackEngine>(options);
            },
            boxes);
        ASSERT_TRUE(player.Open(clip, 0)) << cycle;
        // Most are closed while they are still loading; some play for a moment first.
        if (cycle % 10 == 0) {
            ASSERT_TRUE(WaitFor([&] { return !player.IsLoading(); })) << cycle;
            player.Play();
            ASSERT_TRUE(WaitFor([&] { return player.Position() > 0; })) << cycle;
        }
        player.Close();
        ASSERT_EQ(player.State(), PlayState::Closed);
    }
    const long growth = memory.Finish("200 previews");
    if (kHeapMeasurable) {
        EXPECT_LT(growth, kGrowthAllowanceKb);
    }
    EXPECT_TRUE(boxes.texts.empty());
}

TEST_F(Load, ClosingTheProgramDuringAConversionTwentyTimes) {
    for (int run = 0; run < 20; ++run) {
        ConverterDialog& dlg = Ready();
        const int endedBefore = ended;
        ConvertButton()->click();
        ASSERT_TRUE(WaitFor([&] { return ConvertButton()->text() == "Stop"; })) << run;
        QElapsedTimer timer;
        timer.start();
        ASSERT_TRUE(CloseDialog()) << run;
        EXPECT_LT(timer.elapsed(), 5000) << run;
        EXPECT_GT(ended, endedBefore);
        EXPECT_FALSE(dlg.isVisible());
        const WavFile wav = WavFile::Read(output);
        ASSERT_TRUE(wav.Valid()) << run;
        EXPECT_GT(wav.DataBytes(), 0u) << run;
        EXPECT_EQ(wav.DataBytes() % 5000, 0u) << run;
        session.reset();
    }
}
