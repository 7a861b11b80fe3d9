#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <fstream>

#include "DialogTestFixture.h"
#include "MarkTimeEdit.h"
#include "PanelController.h"
#include "PrecisionPanel.h"
#include "TestMedia.h"
#include "TestUnits.h"
#include "WavFile.h"
#include "WaveformView.h"

namespace {

constexpr int64_t kFrame = 40 * kMs;  // 25 frames a second

class PrecisionPanelTest : public DialogTestFixture {
  protected:
    template <typename T>
    T* Find(const char* name) const {
        T* found = Dialog().findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLineEdit* Field(const char* name) const {
        return Find<MarkTimeEdit>(name)->findChild<QLineEdit*>();
    }
    // Types into a mark field and ends the entry with Enter.
    void Type(const char* name, const QString& text) {
        QLineEdit* line = Field(name);
        line->selectAll();
        QTest::keyClicks(line, text);
        QTest::keyClick(line, Qt::Key_Return);
    }
    // Up or Down with the cursor at `cursor` in the field.
    void Step(const char* name, int cursor, Qt::Key key) {
        Field(name)->setCursorPosition(cursor);
        QTest::keyClick(Find<MarkTimeEdit>(name), key);
    }
    void Click0(const char* name) { Find<QPushButton>(name)->click(); }
    int64_t StartMark() const { return Media().MarkTime(Mark::Start); }
    int64_t EndMark() const { return Media().MarkTime(Mark::End); }
    QString LastMessage() const {
        return messages.records.empty() ? QString() : messages.records.back().text;
    }

    // A media file the prober describes as given: a picture at 25 frames a second or none.
    QString Described(const QString& name, int64_t duration, int64_t frame) {
        const QString path = MediaFile(name, duration);
        MediaInfo info;
        info.duration = duration;
        info.frameDuration = frame;
        info.tracks.push_back({});
        info.tracks[0].number = 1;
        info.tracks[0].primary = true;
        prober.infos[QFile::encodeName(path).toStdString()] = info;
        return path;
    }
    // Probes a real file for the dialog's prober.
    void Probe(const std::string& path) {
        MediaInfo info;
        ASSERT_TRUE(FfmpegAudioSource().ProbeMedia(path, info)) << path;
        prober.infos[path] = info;
    }
    void ConvertAndWait() {
        const int before = ended;
        Click(ConverterDialog::IDC_CONVERT);
        ASSERT_TRUE(WaitFor([&] { return ended > before; }, 30000));
    }
};

// Typed times, Up/Down by section, nudges by frame or 10 ms, the keys, and the limits of
// the file: every way of setting a mark, checked on the mark the conversion takes.
TEST_F(PrecisionPanelTest, MarksAreTypedSteppedAndNudgedWithinTheFile) {
    MakeMediaDialog();
    Open(Described("movie.mpg", 60 * kSecond, kFrame));

    Type("startMarkEdit", "0:00:05.250");
    EXPECT_EQ(StartMark(), 5'250 * kMs);
    EXPECT_EQ(StartText(), "00:00:05");  // the dialog's own clock follows

    // Outside the file, or no time at all: refused with a message, the mark kept.
    for (const QString typed : {"1:00:00", "1:75"}) {
        messages.records.clear();
        Type("endMarkEdit", typed);
        EXPECT_EQ(EndMark(), 60 * kSecond) << typed.toStdString();
        EXPECT_EQ(Field("endMarkEdit")->text(), "0:01:00.000");
        ASSERT_EQ(messages.records.size(), 1u);
        EXPECT_EQ(messages.records[0].caption, "Error");
    }
    EXPECT_TRUE(LastMessage().contains("is not a time"));

    const struct {
        const char* what;
        std::function<void()> act;
        int64_t start;
        int64_t end;
    } steps[] = {
        {"frame later", [&] { Click0("startForwardButton"); }, 5'250 * kMs + kFrame, 60 * kSecond},
        {"two frames earlier",
         [&] {
             Click0("startBackButton");
             Click0("startBackButton");
         },
         5'250 * kMs - kFrame, 60 * kSecond},
        {"Up in the milliseconds", [&] { Step("startMarkEdit", 9, Qt::Key_Up); }, 5'220 * kMs,
         60 * kSecond},
        {"Down in the seconds", [&] { Step("startMarkEdit", 6, Qt::Key_Down); }, 4'220 * kMs,
         60 * kSecond},
        {"Down in the minutes stops at 0", [&] { Step("startMarkEdit", 3, Qt::Key_Down); }, 0,
         60 * kSecond},
        {"back from 0 stays at 0", [&] { Click0("startBackButton"); }, 0, 60 * kSecond},
        {"forward at the end stays there", [&] { Click0("endForwardButton"); }, 0, 60 * kSecond},
        {"[ steps the mark last worked on", [&] { QTest::keyClick(&Dialog(), '['); }, 0,
         60 * kSecond - kFrame},
        {"O takes the position now, not the last report",
         [&] {
             script->Report(33 * kSecond);
             ProcessEventsFor(20);
             QTest::keyClick(&Dialog(), 'o');
         },
         0, 33 * kSecond},
        {"] now steps the end mark", [&] { QTest::keyClick(&Dialog(), ']'); }, 0,
         33 * kSecond + kFrame},
    };
    for (const auto& s : steps) {
        s.act();
        EXPECT_EQ(StartMark(), s.start) << s.what;
        EXPECT_EQ(EndMark(), s.end) << s.what;
    }

    // Without a picture a nudge is 10 ms.
    Open(Described("song.mp3", 10 * kSecond, 0));
    Click0("endBackButton");
    EXPECT_EQ(EndMark(), 10 * kSecond - 10 * kMs);
}

TEST_F(PrecisionPanelTest, StartAndEndTimeTakeThePositionAtTheClick) {
    MakeMediaDialog();
    Open(MediaFile("clip.mpg", 10 * kSecond));
    Click(ConverterDialog::IDC_PLAY);
    Report(2 * kSecond, 10 * kSecond);
    session->Preview().SetReportInterval(60'000);
    ProcessEventsFor(20);
    // Played on since the last report.
    script->Report(3'300 * kMs);
    ProcessEventsFor(20);
    Click(ConverterDialog::IDC_START_TIME);
    script->Report(5'500 * kMs);
    ProcessEventsFor(20);
    Click(ConverterDialog::IDC_END_TIME);
    EXPECT_EQ(StartMark(), 3'300 * kMs);
    EXPECT_EQ(EndMark(), 5'500 * kMs);
    EXPECT_EQ(StartText(), "00:00:03");
    EXPECT_EQ(EndText(), "00:00:05");
}

TEST_F(PrecisionPanelTest, TheInfoLineKeepsThePositionInViewAndTellsASilentFile) {
    MakeMediaDialog();
    const QString name = "Family holiday at the seaside, summer 2024 - part one.mpg";
    Open(MediaFile(name, 30 * kSecond));
    auto* label = Control<QLabel>(ConverterDialog::IDC_INFO);
    EXPECT_TRUE(InfoText().endsWith("   00:00:00 / 00:00:30")) << InfoText().toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(InfoText()), label->contentsRect().width());
    EXPECT_EQ(label->toolTip(), name);

    const QString silent = MediaFile("silent.mpg", 30 * kSecond);
    MediaInfo info;
    info.duration = 30 * kSecond;
    prober.infos[QFile::encodeName(silent).toStdString()] = info;
    Open(silent);
    EXPECT_EQ(InfoText(), "silent.mpg (no sound)   00:00:00 / 00:00:30");
}

// Audition plays the selection, loops it, or its first and last 2 s, in the preview.
TEST_F(PrecisionPanelTest, AuditionPlaysPartsOfTheSelection) {
    MakeMediaDialog();
    OpenWithMarks(MediaFile("clip.mpg", 60 * kSecond), 60 * kSecond, 5 * kSecond, 10 * kSecond);
    const struct {
        const char* button;
        int64_t seek;
        int64_t end;
        bool loop;
    } cases[] = {
        {"playSelectionButton", 5 * kSecond, 10 * kSecond, false},
        {"playStartButton", 5 * kSecond, 7 * kSecond, false},
        {"playEndButton", 8 * kSecond, 10 * kSecond, false},
        {"loopButton", 5 * kSecond, 10 * kSecond, true},
    };
    for (const auto& c : cases) {
        script->playEnd = script->loopFrom = script->loopTo = -1;
        Click0(c.button);
        EXPECT_EQ(script->seeks.back(), c.seek) << c.button;
        EXPECT_EQ(c.loop ? script->loopTo : script->playEnd, c.end) << c.button;
        EXPECT_EQ(Player()->State(), PlayState::Running);
    }
    EXPECT_TRUE(Find<QPushButton>("loopButton")->isChecked());
    // Released, the loop plays on to the end of the selection and no further.
    Click0("loopButton");
    EXPECT_FALSE(Find<QPushButton>("loopButton")->isChecked());
    EXPECT_EQ(script->loopFrom, -1);
    EXPECT_EQ(script->playEnd, 10 * kSecond);
    Click0("loopButton");
    Click(ConverterDialog::IDC_STOP);
    EXPECT_EQ(script->loopFrom, -1);
    EXPECT_EQ(script->playEnd, -1);
    EXPECT_FALSE(Find<QPushButton>("loopButton")->isChecked());

    messages.records.clear();
    SetMarks(10 * kSecond, 5 * kSecond);
    Click0("playSelectionButton");
    EXPECT_EQ(LastMessage(), "The Start Time is bigger than the End Time!");
}

// The panel's state and the output choices are kept for the next start, and a
// conversion writes what was chosen: byte for byte what ffmpeg writes for it.
TEST_F(PrecisionPanelTest, OutputChoicesAreRememberedAndWritten) {
    MakeMediaDialog();
    const int closedHeight = Dialog().height();
    EXPECT_FALSE(Dialog().IsPanelOpen());
    Click0("moreButton");
    EXPECT_TRUE(Dialog().IsPanelOpen());
    EXPECT_GT(Dialog().height(), closedHeight + Dialog().Panel()->height() / 2);
    EXPECT_EQ(Find<QPushButton>("moreButton")->text(), "Less ▾");
    auto* format = Find<QComboBox>("formatBox");
    format->setCurrentIndex(2);
    emit format->activated(2);
    Find<QCheckBox>("modernHeaderBox")->setChecked(true);
    EXPECT_FALSE(Find<QCheckBox>("exactEndBox")->isChecked());
    Find<QCheckBox>("exactEndBox")->setChecked(true);
    ASSERT_TRUE(CloseDialog());

    MakeMediaDialog();
    EXPECT_TRUE(Dialog().IsPanelOpen());
    EXPECT_EQ(Find<QComboBox>("formatBox")->currentText(), "24-bit");
    EXPECT_TRUE(Find<QCheckBox>("modernHeaderBox")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("exactEndBox")->isChecked());

    TestMedia media;
    const std::string in = media.Make("cd.wav", TestMedia::Tones(0.5, 44100) + " -c:a pcm_s16le");
    Probe(in);
    Open(QString::fromStdString(in));
    const std::string out = media.Path("out.wav");
    Dialog().ShowOutputPath(QString::fromStdString(out));
    ConvertAndWait();
    const std::string reference =
        media.Make("ref.wav", "-i " + ShellQuote(in) +
                                  " -map_metadata -1 -c:a pcm_s24le -rf64 auto -fflags +bitexact");
    EXPECT_EQ(WavFile::Read(out).bytes, WavFile::Read(reference).bytes);
}

// A loud file converts without a box: the panel says what was clipped beside the format,
// and More shows that there is something to read until the panel is opened.
TEST_F(PrecisionPanelTest, ClippedSamplesAreToldInThePanelWithoutABox) {
    MakeMediaDialog();
    auto* more = Find<QPushButton>("moreButton");
    auto* note = Find<QLabel>("formatNote");
    EXPECT_EQ(more->text().toStdString(), "More ▸");
    TestMedia media;
    // Float samples up to twice full scale: 16-bit output has to clip them.
    const std::string loud =
        media.Make("loud.wav", "-f lavfi -i \"sine=f=500:d=0.5,volume=16\" -c:a pcm_f32le");
    Probe(loud);
    Open(QString::fromStdString(loud));
    Dialog().ShowOutputPath(QString::fromStdString(media.Path("out.wav")));
    messages.records.clear();
    ConvertAndWait();
    ASSERT_GT(lastOutcome.clippedSamples, 0);
    EXPECT_TRUE(messages.records.empty()) << messages.records.front().text.toStdString();
    EXPECT_EQ(more->text().toStdString(), "More ▸ •");
    EXPECT_FALSE(more->accessibleDescription().isEmpty());
    EXPECT_FALSE(note->isVisible());

    Click0("moreButton");
    EXPECT_EQ(more->text().toStdString(), "Less ▾");
    EXPECT_TRUE(note->isVisible());
    EXPECT_TRUE(note->text().contains("32-bit float"));
    EXPECT_TRUE(note->text().contains(QLocale().toString(qlonglong{lastOutcome.clippedSamples})));
    Click0("moreButton");
    EXPECT_EQ(more->text().toStdString(), "More ▸");  // read once, no longer news

    // With float output nothing clips, and the note goes with the next conversion.
    auto* format = Find<QComboBox>("formatBox");
    format->setCurrentIndex(4);
    emit format->activated(4);
    messages.answer = RecordingMessages::Answer::Yes;  // replace the first output
    ConvertAndWait();
    EXPECT_EQ(lastOutcome.clippedSamples, 0);
    EXPECT_EQ(more->text().toStdString(), "More ▸");
    EXPECT_TRUE(note->text().isEmpty());
    ASSERT_EQ(messages.records.size(), 1u);
    EXPECT_TRUE(messages.records[0].text.endsWith("Do you want to replace it?"));
}

// The chosen track is what the preview plays, the waveform shows and the conversion
// writes.
TEST_F(PrecisionPanelTest, TheChosenTrackIsHeardShownAndConverted) {
    MakeMediaDialog();
    Click0("moreButton");  // the waveform is computed for an open panel only
    TestMedia media;
    const std::string file =
        media.Make("two.mkv",
                   "-f lavfi -i sine=f=300:r=44100:d=1 -f lavfi -i sine=f=900:r=22050:d=1 "
                   "-map 0 -map 1 -c:a pcm_s16le -metadata:s:a:1 language=fra");
    Probe(file);
    Open(QString::fromStdString(file));
    auto* tracks = Find<QComboBox>("trackBox");
    ASSERT_EQ(tracks->count(), 2);
    EXPECT_TRUE(tracks->isEnabled());
    EXPECT_EQ(tracks->currentIndex(), 0);
    EXPECT_EQ(tracks->itemText(1), "2: fra, pcm_s16le, 1 channel, 22050 Hz");

    tracks->setCurrentIndex(1);
    emit tracks->activated(1);
    EXPECT_EQ(script->audioTrack, 2);
    EXPECT_EQ(Media().Track(), 2);
    ASSERT_TRUE(WaitFor([&] {
        const WaveformPyramid* waveform = session->PanelWork().Waveform().get();
        return waveform != nullptr && waveform->Complete();
    }));
    EXPECT_EQ(session->PanelWork().Waveform()->SampleRate(), 22050);

    const std::string out = media.Path("out.wav");
    Dialog().ShowOutputPath(QString::fromStdString(out));
    ConvertAndWait();
    EXPECT_EQ(WavFile::Read(out).rate, 22050u);
}

// The waveform's mouse: a click seeks, a handle drags its mark, the wheel zooms around
// the pointer down to 256 samples a column, and a drag scrolls the zoomed view.
TEST(WaveformViewTest, MouseSeeksDragsZoomsAndScrolls) {
    auto waveform = std::make_shared<WaveformPyramid>();
    waveform->SetSampleRate(44100);
    WaveformView view;
    view.resize(1000, 80);
    view.ShowWaveform(waveform, 100 * kSecond);
    view.ShowMarks(0, 100 * kSecond);
    QSignalSpy seeks(&view, &WaveformView::seekRequested);
    QSignalSpy drags(&view, &WaveformView::markDragged);

    QTest::mouseClick(&view, Qt::LeftButton, {}, QPoint(500, 40));
    ASSERT_EQ(seeks.size(), 1);
    EXPECT_NEAR(double(seeks[0][0].toLongLong()), 50.0 * kSecond, 0.1 * kSecond);

    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(1, 40));
    QTest::mouseMove(&view, QPoint(250, 40));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(250, 40));
    ASSERT_FALSE(drags.isEmpty());
    EXPECT_EQ(drags.back()[0].value<Mark>(), Mark::Start);
    EXPECT_NEAR(double(drags.back()[1].toLongLong()), 25.0 * kSecond, 0.1 * kSecond);
    EXPECT_EQ(seeks.size(), 1);  // a drag is no click

    const int64_t under = view.TimeAt(250);
    view.ZoomAround(250, 0.1);
    EXPECT_EQ(view.ViewSpan(), 10 * kSecond);
    EXPECT_NEAR(double(view.TimeAt(250)), double(under), double(view.ViewSpan()) / 1000);
    for (int i = 0; i < 20; ++i) {
        view.ZoomAround(250, 0.5);
    }
    // 256 frames a column at 44.1 kHz over 1000 columns.
    EXPECT_NEAR(double(view.ViewSpan()), 256.0 * 1000 * kSecond / 44100, 1);

    const int64_t before = view.ViewStart();
    QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(600, 60));
    QTest::mouseMove(&view, QPoint(500, 60));
    QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(500, 60));
    EXPECT_NEAR(double(view.ViewStart() - before), double(view.ViewSpan()) / 10,
                double(view.ViewSpan()) / 1000);
}

}  // namespace
