#include <QTest>

#include <cstdlib>
#include <fstream>

#include "GatedSource.h"
#include "PanelController.h"
#include "RealMediaFixture.h"
#include "TestMedia.h"
#include "WaitFor.h"
#include "WavFile.h"
#include "WaveformPyramid.h"

namespace {

// The real source, whose scan of the file's timeline waits for the test once the early
// answer is out.
class ScanGatedSource : public FfmpegAudioSource {
  public:
    explicit ScanGatedSource(std::shared_ptr<Gate> gate) : m_gate(std::move(gate)) {}
    bool ProbeMediaInSteps(const std::string& path, MediaInfo& info,
                           const EarlyInfo& early) override {
        return FfmpegAudioSource::ProbeMediaInSteps(path, info, [&](const MediaInfo& first) {
            early(first);
            m_gate->Pass();
        });
    }

  private:
    std::shared_ptr<Gate> m_gate;
};

}  // namespace

// A file opens as soon as its container has told its duration; the scan of an MPEG file's
// timestamps goes on behind it. Here three 4-second program streams are joined end to end:
// the container says 4 s, the scan finds 12.
class OpenAtOnce : public RealMediaFixture {
  protected:
    void SetUp() override {
        RealMediaFixture::SetUp();
        mediaProber = &gatedProber;
        std::vector<std::string> parts;
        for (const int tone : {300, 500, 700}) {
            parts.push_back(media.Make("part" + std::to_string(tone) + ".mpg",
                                       "-f lavfi -i testsrc=d=4:s=160x120:r=25 -f lavfi -i "
                                       "sine=f=" +
                                           std::to_string(tone) +
                                           ":r=44100:d=4 -c:v mpeg1video -c:a mp2 -b:a 192k"));
        }
        clip = media.Join("joined.mpg", parts);
        ASSERT_TRUE(FfmpegAudioSource().ProbeMedia(clip, scanned));
        ASSERT_EQ(scanned.timeline.Segments().size(), 3u);
    }
    void TearDown() override {
        gate->Open();  // a scan still held must end for its prober to go
        RealMediaFixture::TearDown();
    }
    void OpenClip() {
        choosers.openAnswer = QString::fromStdString(clip);
        Click(ConverterDialog::IDC_OPEN_MEDIA);
        ASSERT_TRUE(WaitFor([&] { return opensFinished == 1; }));
        ASSERT_NE(Player(), nullptr);
    }
    const WaveformPyramid* Waveform() const { return session->PanelWork().Waveform().get(); }

    TestMedia media;
    std::string clip;
    MediaInfo scanned;  // the engine's whole probe, scan and all
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    ThreadedMediaProber gatedProber{
        [gate = gate] { return std::make_unique<ScanGatedSource>(gate); }};
};

TEST_F(OpenAtOnce, TheScanCorrectsDurationEndMarkPreviewAndWaveformAndAHeldConvertThenRuns) {
    MakeMediaDialog();
    Dialog().ShowPanel(true);
    ASSERT_NO_FATAL_FAILURE(OpenClip());
    // Open and playable with the container's duration while the scan is held.
    EXPECT_TRUE(Media().IsScanning());
    EXPECT_EQ(EndText().toStdString(), "00:00:04");
    EXPECT_EQ(Media().EndMark(), Media().Duration());
    ASSERT_TRUE(WaitFor([&] { return Waveform() != nullptr && Waveform()->Frames() > 0; }));
    ASSERT_TRUE(Media().SetMark(Mark::Start, kSecond));

    // Convert waits for the timeline: the End mark is about to move.
    const std::string output = media.Path("out.wav");
    Dialog().ShowOutputPath(QString::fromStdString(output));
    Click(ConverterDialog::IDC_CONVERT);
    ProcessEventsFor(300);
    EXPECT_EQ(ended, 0);
    EXPECT_FALSE(session->Conversion().IsActive());

    gate->Open();
    ASSERT_TRUE(WaitFor([&] { return !Media().IsScanning(); }));
    EXPECT_EQ(Media().Duration(), scanned.duration);
    EXPECT_EQ(EndText().toStdString(), "00:00:12");
    EXPECT_EQ(Media().EndMark(), scanned.duration) << "the End mark stood at the old end";
    EXPECT_EQ(Media().StartMark(), kSecond) << "other marks keep their times";
    EXPECT_EQ(opensFinished, 1);

    ASSERT_TRUE(WaitFor([&] { return ended == 1; }, 30000));
    EXPECT_EQ(lastOutcome.status, JobOutcome::Status::Completed);
    // The whole 11 s from the Start mark, as the whole decode has them (the float decoder
    // differs from ffmpeg's default one by at most one step).
    const WavFile wav = WavFile::Read(output);
    ASSERT_TRUE(wav.Valid());
    const std::vector<int16_t> got = wav.Samples16();
    const std::vector<int16_t> whole = TestMedia::DecodeS16(clip);
    ASSERT_GE(whole.size(), 44100 + got.size() - 5000);
    EXPECT_GT(got.size(), 10u * 44100);
    int worst = 0;
    for (size_t i = 0; i + 44100 < whole.size() && i < got.size(); ++i) {
        worst = std::max(worst, std::abs(got[i] - whole[44100 + i]));
    }
    EXPECT_LE(worst, 1);

    // The preview plays in the continuous time: the third part is where its time says.
    ASSERT_TRUE(WaitFor([&] { return !session->Preview().IsLoading(); }));
    EXPECT_NEAR(static_cast<double>(session->Preview().Duration()),
                static_cast<double>(scanned.duration), 0.1 * kSecond);
    session->Preview().SeekTo(9 * kSecond);
    session->Preview().Play();
    EXPECT_TRUE(WaitFor([&] { return session->Preview().Position() > 9 * kSecond + kSecond / 4; }))
        << "at " << session->Preview().Position();
    session->Preview().Pause();
    // And the waveform is the whole 12 s.
    ASSERT_TRUE(WaitFor([&] { return Waveform()->Complete(); }, 30000));
    EXPECT_EQ(static_cast<size_t>(Waveform()->Frames()), whole.size());
}

TEST_F(OpenAtOnce, AFailedOpenWhileTheScanIsHeldKeepsTheFileAndItsScanStillEnds) {
    MakeMediaDialog();
    ASSERT_NO_FATAL_FAILURE(OpenClip());
    ASSERT_TRUE(Media().IsScanning());
    // Another file whose probe fails: the first file stays, and its timeline still comes.
    const std::string bad = media.Path("not media.mpg");
    { std::ofstream(bad) << "not a media file"; }
    choosers.openAnswer = QString::fromStdString(bad);
    Click(ConverterDialog::IDC_OPEN_MEDIA);
    ASSERT_TRUE(WaitFor([&] { return !messages.records.empty(); }));
    EXPECT_EQ(Media().MediaPath().toStdString(), clip);
    gate->Open();
    ASSERT_TRUE(WaitFor([&] { return !Media().IsScanning(); }));
    EXPECT_EQ(Media().Duration(), scanned.duration);
    EXPECT_EQ(EndText().toStdString(), "00:00:12");
}
