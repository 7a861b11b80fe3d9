// Many conversions started and stopped, many previews opened and closed, and the
// program closed during conversions: nothing leaks, grows, races or breaks a file.
#include <QElapsedTimer>
#include <QPushButton>
#include <QWidget>
#include <cstdio>
#include <fstream>
#include <string>

#include "CPreviewPlayer.h"
#include "DialogTestFixture.h"
#include "MpvPlaybackEngine.h"
#include "PreviewMessages.h"
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

// Sanitizers keep freed memory in quarantine: memory growth means something only
// without them.
constexpr bool kSanitized =
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    true;
#else
    false;
#endif

// RSS at the start, after the first half (libmpv, Qt and the allocator have settled
// by then) and at the end; growth in the second half would be a leak.
struct MemoryTrace {
    long start = ResidentKb();
    long half = 0;

    void AtCycle(int cycle) {
        if (cycle == 100) {
            half = ResidentKb();
        }
    }
    long Finish(const char* what) const {
        const long end = ResidentKb();
        std::printf(
            "[ memory ] %s: RSS %ld KiB at the start, %ld KiB after 100, %ld KiB after "
            "200 (%+ld KiB in the last 100)\n",
            what, start, half, end, end - half);
        ::testing::Test::RecordProperty(std::string(what) + " rss growth in the last 100 (KiB)",
                                        static_cast<int>(end - half));
        return end - half;
    }
};

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
    }
    const long growth = memory.Finish("200 conversions");
    if (!kSanitized) {
        EXPECT_LT(growth, 16 * 1024);  // a lost buffer a job would be 100 MB
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
        CPreviewPlayer player(
            &dialog,
            [] {
                MpvPlaybackEngine::Options options;
                options.video = MpvPlaybackEngine::VideoOutput::None;
                options.audioOutput = "null";
                return std::make_unique<MpvPlaybackEngine>(options);
            },
            boxes);
        ASSERT_TRUE(player.OpenMedia(clip)) << cycle;
        // Most are closed while they are still loading; some play for a moment first.
        if (cycle % 10 == 0) {
            ASSERT_TRUE(WaitFor([&] { return !player.isLoading(); })) << cycle;
            player.Play();
            ASSERT_TRUE(WaitFor([&] {
                return player.PollPosition() == 0 && player.position() > 0;
            })) << cycle;
        }
        player.CloseMedia();
        ASSERT_EQ(player.state(), Closed);
    }
    const long growth = memory.Finish("200 previews");
    if (!kSanitized) {
        EXPECT_LT(growth, 16 * 1024);
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
        session.reset();
    }
}
