#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <cmath>
#include <cstdlib>

#include "RealMediaFixture.h"
#include "TestMedia.h"
#include "WaitFor.h"
#include "WavFile.h"

// The whole way a user goes, on the real decoder, the real prober, the real player
// (without picture or sound output) and the real conversion: open, play, seek with the
// slider, take both marks from the playing preview, convert.
class EndToEnd : public RealMediaFixture {
  protected:
    // Counts the reports that have reached the dialog: the dialog's own connection was
    // made first, so it has handled a report before this one counts it.
    void CountReports() {
        QObject::connect(&session->Preview(), &PreviewPlayer::positionReport,
                         [this](int64_t position, int64_t) {
                             ++reports;
                             lastReport = position;
                         });
    }

    // Opens a clip with Open Media File, waits for the preview and starts counting its
    // reports; no message may come.
    void OpenClip(const std::string& clip) {
        choosers.openAnswer = QString::fromStdString(clip);
        Click(ConverterDialog::IDC_OPEN_MEDIA);
        ASSERT_TRUE(WaitFor([&] { return opensFinished == 1; }));
        ASSERT_NE(Player(), nullptr);
        // A joined file's timeline, found behind the open, corrects what the container said.
        ASSERT_TRUE(WaitFor([&] { return !Media().IsScanning() && !Player()->IsLoading(); }));
        CountReports();
        ASSERT_TRUE(messages.records.empty()) << messages.records[0].text.toStdString();
    }

    // Waits for a report, handled by the dialog, whose position satisfies `done`.
    template <typename Condition>
    bool WaitForReport(Condition done) {
        int seen = reports;
        return WaitFor([&] {
            if (Player() == nullptr || reports == seen) {
                return false;
            }
            seen = reports;
            return done(lastReport);
        });
    }

    int reports = 0;
    int64_t lastReport = 0;
    TestMedia media;
};

TEST_F(EndToEnd, MarksFromThePlayingPreviewCutTheStreamsSamples) {
    constexpr int kRate = 44100;
    const std::string clip = media.Make("Tone Clip.mpg", "-f lavfi -i testsrc=d=7:s=160x120:r=25 " +
                                                             TestMedia::Tones(7, kRate) +
                                                             " -c:v mpeg1video -c:a mp2 -b:a 192k");
    const std::string output = media.Path("cut.wav");

    MakeMediaDialog();
    ASSERT_NO_FATAL_FAILURE(OpenClip(clip));
    // The streams start about half a second into the program stream: 6.97 s in all.
    EXPECT_EQ(InfoText().toStdString(), "Tone Clip.mpg   00:00:00 / 00:00:06");
    EXPECT_EQ(EndText().toStdString(), "00:00:06");

    Click(ConverterDialog::IDC_PLAY);
    ASSERT_TRUE(WaitForReport([](int64_t rt) { return rt >= kSecond / 2; }));
    EXPECT_TRUE(InfoText().startsWith("Tone Clip.mpg   00:00:0")) << InfoText().toStdString();
    EXPECT_GT(Slider()->value(), 0);

    // Drag the thumb from where it is to a third of the way (about 2.3 s).
    const int from = Slider()->value();
    QTest::mousePress(Slider(), Qt::LeftButton, Qt::NoModifier, SliderPoint(from));
    ASSERT_EQ(dragging, 1);
    QTest::mouseMove(Slider(), SliderPoint(200));
    QTest::mouseRelease(Slider(), Qt::LeftButton, Qt::NoModifier, SliderPoint(200));
    ASSERT_EQ(dragging, 0);
    const int released = Slider()->value();
    EXPECT_NEAR(released, 200, 10);
    // Each step of 600 is a 600th of the clip's 7 s or so.
    const int64_t target = session->Preview().Duration() * released / 600;

    ASSERT_TRUE(WaitForReport([&](int64_t rt) { return rt >= target; }));
    Click(ConverterDialog::IDC_START_TIME);
    // The position at the click: at or a little past the report just handled.
    const int64_t start = Media().StartMark();
    EXPECT_GE(start, lastReport);
    EXPECT_LT(start, lastReport + kSecond / 2);
    EXPECT_GE(start, target);
    EXPECT_LT(start, target + 2 * kSecond);
    // Two to four seconds in: the clock shows the whole seconds.
    EXPECT_EQ(StartText(), QString::asprintf("00:00:%02d", static_cast<int>(start / kSecond)));

    ASSERT_TRUE(WaitForReport([&](int64_t rt) { return rt >= start + kSecond; }));
    Click(ConverterDialog::IDC_END_TIME);
    const int64_t end = Media().EndMark();
    EXPECT_GE(end, lastReport);
    EXPECT_LT(end, lastReport + kSecond / 2);
    ASSERT_LT(end, 65 * kSecond / 10) << "the clip ran out before the end mark";
    Click(ConverterDialog::IDC_PAUSE);

    Control<QLineEdit>(ConverterDialog::IDC_OUTPUT_FILE)->setText(QString::fromStdString(output));
    Click(ConverterDialog::IDC_CONVERT);
    ASSERT_TRUE(WaitFor([&] { return ended > 0; }, 30000));
    EXPECT_EQ(lastOutcome.status, JobOutcome::Status::Completed);
    EXPECT_TRUE(messages.records.empty());

    const WavFile wav = WavFile::Read(output);
    ASSERT_TRUE(wav.Valid());
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.rate, static_cast<uint32_t>(kRate));
    EXPECT_EQ(wav.bits, 16);
    // The span between the marks at 176,400 bytes a second (44.1 kHz, 16-bit stereo),
    // rounded up to whole 5000-byte buffers.
    EXPECT_EQ(wav.avgBytes, 176'400u);
    const int64_t budget = (end - start) * 176'400 / kSecond;
    EXPECT_EQ(static_cast<int64_t>(wav.DataBytes()), (budget + 4999) / 5000 * 5000);

    // The stream's own samples from the start mark on: FFmpeg's muxer starts the sound
    // before the picture by MPEG audio's filter delay, so its timestamps carry the delay
    // and ffmpeg's decode is the sound that plays with the picture.
    const std::vector<int16_t> whole = TestMedia::DecodeS16(clip);
    const size_t first =
        static_cast<size_t>(std::llround(static_cast<double>(start) / kSecond * kRate)) * 2;
    const std::vector<int16_t> got = wav.Samples16();
    ASSERT_GE(whole.size(), first + got.size());
    size_t worst = 0;
    int worstDiff = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        const int diff = std::abs(got[i] - whole[first + i]);
        if (diff > worstDiff) {
            worstDiff = diff;
            worst = i;
        }
    }
    EXPECT_LE(worstDiff, 1) << "at sample " << worst / 2 << " of the cut";
}

TEST_F(EndToEnd, MarksTakenInTheSecondPartOfAJoinedFileCutThatPartsSound) {
    // Three 4-second program streams joined end to end, each with a tone of its own: the
    // timestamps restart at about 4 s and 8 s.
    constexpr int kRate = 44100;
    std::vector<std::string> parts;
    std::vector<int64_t> partEnds;  // where each part's sound ends in the whole decode
    int64_t samples = 0;
    for (const int tone : {300, 500, 700}) {
        parts.push_back(media.Make(
            "part" + std::to_string(tone) + ".mpg",
            "-f lavfi -i testsrc=d=4:s=160x120:r=25 -f lavfi -i sine=f=" + std::to_string(tone) +
                ":r=" + std::to_string(kRate) + ":d=4 -c:v mpeg1video -c:a mp2 -b:a 192k"));
        samples += static_cast<int64_t>(TestMedia::DecodeS16(parts.back()).size());
        partEnds.push_back(samples * kSecond / kRate);
    }
    const std::string clip = media.Join("Joined.mpg", parts);
    const std::string output = media.Path("second part.wav");

    MakeMediaDialog();
    ASSERT_NO_FATAL_FAILURE(OpenClip(clip));
    // The whole 12 s, as the preview plays it too.
    EXPECT_EQ(EndText().toStdString(), "00:00:12");
    Click(ConverterDialog::IDC_PLAY);
    ASSERT_TRUE(WaitForReport([](int64_t rt) { return rt >= kSecond / 4; }));
    EXPECT_NEAR(static_cast<double>(session->Preview().Duration()),
                static_cast<double>(partEnds.back()), 0.1 * kSecond);

    // Drag the thumb a little past the first join (600 steps over 12 s: 4.5 s is 225).
    const int from = Slider()->value();
    QTest::mousePress(Slider(), Qt::LeftButton, Qt::NoModifier, SliderPoint(from));
    QTest::mouseMove(Slider(), SliderPoint(225));
    QTest::mouseRelease(Slider(), Qt::LeftButton, Qt::NoModifier, SliderPoint(225));
    const int64_t target = session->Preview().Duration() * Slider()->value() / 600;
    ASSERT_GT(target, partEnds[0]);

    ASSERT_TRUE(WaitForReport([&](int64_t rt) { return rt >= target; }));
    Click(ConverterDialog::IDC_START_TIME);
    const int64_t start = Media().StartMark();
    EXPECT_GE(start, target);
    EXPECT_EQ(StartText(), QString::asprintf("00:00:%02d", static_cast<int>(start / kSecond)));
    ASSERT_TRUE(WaitForReport([&](int64_t rt) { return rt >= start + kSecond; }));
    Click(ConverterDialog::IDC_END_TIME);
    const int64_t end = Media().EndMark();
    Click(ConverterDialog::IDC_PAUSE);
    ASSERT_LT(end, partEnds[1]) << "the second part ended before the end mark";

    Control<QLineEdit>(ConverterDialog::IDC_OUTPUT_FILE)->setText(QString::fromStdString(output));
    Click(ConverterDialog::IDC_CONVERT);
    ASSERT_TRUE(WaitFor([&] { return ended > 0; }, 30000));
    EXPECT_EQ(lastOutcome.status, JobOutcome::Status::Completed);

    const WavFile wav = WavFile::Read(output);
    ASSERT_TRUE(wav.Valid());
    EXPECT_EQ(wav.channels, 1);
    // The span between the marks at 88,200 bytes a second, in whole 5000-byte buffers.
    const int64_t budget = (end - start) * 88'200 / kSecond;
    EXPECT_EQ(static_cast<int64_t>(wav.DataBytes()), (budget + 4999) / 5000 * 5000);
    // The second part's tone (zero crossings over the cut's length)...
    const std::vector<int16_t> got = wav.Samples16();
    int crossings = 0;
    for (size_t i = 1; i < got.size(); ++i) {
        crossings += (got[i - 1] < 0) != (got[i] < 0) ? 1 : 0;
    }
    EXPECT_NEAR(crossings / 2.0 / (static_cast<double>(got.size()) / kRate), 500, 10);
    // ...and the whole decode's samples from the start mark on (each part's timestamps
    // carry MPEG audio's filter delay, the sound starting that much before the picture).
    const std::vector<int16_t> whole = TestMedia::DecodeS16(clip);
    const size_t first =
        static_cast<size_t>(std::llround(static_cast<double>(start) / kSecond * kRate));
    ASSERT_GE(whole.size(), first + got.size());
    int worstDiff = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        worstDiff = std::max(worstDiff, std::abs(got[i] - whole[first + i]));
    }
    EXPECT_LE(worstDiff, 1);
}
