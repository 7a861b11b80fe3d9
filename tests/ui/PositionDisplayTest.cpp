#include <QApplication>
#include <QPushButton>
#include <QTest>

#include "DialogTestFixture.h"
#include "WaitFor.h"

class PositionDisplay : public MediaDialogFixture {
  protected:
    void SetUp() override {
        MediaDialogFixture::SetUp();
        MakeMediaDialog();
        Open(MediaFile("clip.mpg", 60 * kSecond));
        ASSERT_NE(Player(), nullptr);
    }

    // Lets go of the slider at pos, as the release notification does.
    void ReleaseAt(int pos) {
        Slider()->setValue(pos);
        emit Slider()->sliderReleased();
    }
};

TEST_F(PositionDisplay, ReleaseSeeksToItsShareOfTheStopPosition) {
    const struct {
        int64_t stop;
        int pos;
        int64_t target;
    } cases[] = {
        {600'000'000, 300, 300'000'000},
        {600'000'000, 600, 600'000'000},
        {123'456'789, 1, 205'761},
        {600'000'000, 0, 0},
    };
    for (const auto& c : cases) {
        Report(0, c.stop);
        script->seeks.clear();
        ReleaseAt(c.pos);
        EXPECT_EQ(Slider()->value(), c.pos);
        ASSERT_EQ(script->seeks.size(), 1u) << c.pos;
        EXPECT_EQ(script->seeks[0], c.target) << c.stop << " at " << c.pos;
        // The thumb waits for the next report.
        EXPECT_EQ(Slider()->value(), c.pos);
    }
}

TEST_F(PositionDisplay, NoSeekWithoutAStopPositionOrAPlayer) {
    Report(0, 0);
    script->seeks.clear();
    ReleaseAt(200);
    EXPECT_EQ(Slider()->value(), 200);
    EXPECT_TRUE(script->seeks.empty());

    Media().OnClosePreview();
    ReleaseAt(300);
    EXPECT_EQ(Slider()->value(), 300);
    EXPECT_TRUE(script->seeks.empty());
}

TEST_F(PositionDisplay, ReportsMoveTheThumbOnTheScaleOf600) {
    const struct {
        int64_t current, stop;
        int slider;
    } cases[] = {
        {10'000'000, 30'000'000, 200},
        {599'999'999, 600'000'000, 599},
        {600'000'000, 600'000'000, 600},
        {5 * kSecond, 0, 0},
    };
    for (const auto& c : cases) {
        Report(c.current, c.stop);
        EXPECT_EQ(Slider()->value(), c.slider) << c.current << " of " << c.stop;
        EXPECT_EQ(Slider()->value(), c.slider);
    }
    // The stop position of 0 still updates the line; the total is the probed duration.
    EXPECT_EQ(InfoText(), "clip.mpg   00:00:05 / 00:01:00");
    Report(37'239'000'000, 40'000'000'000);
    EXPECT_EQ(InfoText(), "clip.mpg   01:02:03 / 00:01:00");
    EXPECT_EQ(Dialog().Info(), InfoText());
}

// Start Time and End Time take where the preview is at the press: what it last observed
// while it plays, where it was sent while it is held after a seek. The info line and the
// slider keep to the once-a-second report.
TEST_F(PositionDisplay, MarksTakeThePlayersPositionAtThePress) {
    Report(37'239'000'000, 40'000'000'000);
    Click(ConverterDialog::IDC_START_TIME);
    EXPECT_EQ(Media().StartMark(), 37'239'000'000);
    EXPECT_EQ(StartText(), "01:02:03");
    EXPECT_EQ(EndText(), "00:01:00");
    EXPECT_EQ(Media().EndMark(), 60 * kSecond);

    // Held after a seek, the mark is the seek's target, though the core still tells the
    // old place and no report has come yet.
    script->seeksLand = false;
    ReleaseAt(300);
    const int64_t target = 20'000'000'000;  // 300 of 600 steps of 4000 s
    script->Report(12 * kSecond);
    ProcessEventsFor(20);
    Click(ConverterDialog::IDC_END_TIME);
    EXPECT_EQ(Media().EndMark(), target);
    // Out of order is accepted here; Convert refuses it.
    EXPECT_EQ(Media().StartMark(), 37'239'000'000);
    EXPECT_TRUE(messages.records.empty());

    // Playing, the mark is the last position observed, not the last report's.
    script->Post(EngineEvent::Of(EngineEvent::Kind::SeekLanded));
    Click(ConverterDialog::IDC_PLAY);
    ProcessEventsFor(20);
    session->Preview().SetReportInterval(60'000);
    ProcessEventsFor(20);
    const QString info = InfoText();
    const int slider = Slider()->value();
    script->Report(12 * kSecond + 3);
    ProcessEventsFor(20);
    Click(ConverterDialog::IDC_START_TIME);
    EXPECT_EQ(Media().StartMark(), 12 * kSecond + 3);
    EXPECT_EQ(InfoText(), info);
    EXPECT_EQ(Slider()->value(), slider);
}

TEST_F(PositionDisplay, HeldSliderDropsReportsAndReleaseSeeksWithTheFlagDown) {
    Report(0, 60 * kSecond);
    int flagInsideRelease = -1;
    QObject::connect(Slider(), &PositionSlider::sliderReleased,
                     [&] { flagInsideRelease = dragging; });

    // Grab the thumb where it is (0) and drag it to the middle.
    QTest::mousePress(Slider(), Qt::LeftButton, Qt::NoModifier, SliderPoint(0));
    EXPECT_EQ(dragging, 1);
    QTest::mouseMove(Slider(), SliderPoint(300));
    const int held = Slider()->value();
    EXPECT_NEAR(held, 300, 10);
    const QString info = InfoText();
    Report(40 * kSecond, 60 * kSecond);
    EXPECT_EQ(Slider()->value(), held);
    EXPECT_EQ(InfoText(), info);

    script->seeks.clear();
    QTest::mouseRelease(Slider(), Qt::LeftButton, Qt::NoModifier, SliderPoint(300));
    EXPECT_EQ(dragging, 0);
    EXPECT_EQ(flagInsideRelease, 0);
    ASSERT_EQ(script->seeks.size(), 1u);
    // 60 s over the slider's 600 steps: a tenth of a second, 1,000,000 units, a step.
    EXPECT_EQ(script->seeks[0], Slider()->value() * 1'000'000LL);

    // Free again: reports move the thumb, once the preview plays on from where it went.
    Click(ConverterDialog::IDC_PLAY);
    Report(15 * kSecond, 60 * kSecond);
    EXPECT_EQ(Slider()->value(), 150);
    EXPECT_EQ(InfoText(), "clip.mpg   00:00:15 / 00:01:00");
}

TEST_F(PositionDisplay, ClickOnTheGrooveMovesAPageAndSeeksThere) {
    Report(0, 60 * kSecond);
    script->seeks.clear();
    QTest::mouseClick(Slider(), Qt::LeftButton, Qt::NoModifier, SliderPoint(500));
    EXPECT_EQ(dragging, 0);
    // A page is a sixtieth of the slider: 10 steps, a second of a minute's clip.
    EXPECT_EQ(Slider()->value(), 10);
    ASSERT_EQ(script->seeks.size(), 1u);
    EXPECT_EQ(script->seeks[0], kSecond);
    EXPECT_EQ(session->Preview().Position(), kSecond);
}

TEST_F(PositionDisplay, KeyboardMovesDoNotSeek) {
    Report(10 * kSecond, 60 * kSecond);
    script->seeks.clear();
    Slider()->setFocus();
    QTest::keyClick(Slider(), Qt::Key_Right);
    QTest::keyClick(Slider(), Qt::Key_PageUp);
    EXPECT_NE(Slider()->value(), 100);
    EXPECT_TRUE(script->seeks.empty());
    Report(10 * kSecond, 60 * kSecond);
    EXPECT_EQ(Slider()->value(), 100);
}

TEST_F(PositionDisplay, TransportButtonsDriveThePlayer) {
    Control<QPushButton>(ConverterDialog::IDC_PLAY)->click();
    EXPECT_EQ(Player()->State(), PlayState::Running);
    EXPECT_FALSE(script->paused);
    Control<QPushButton>(ConverterDialog::IDC_PAUSE)->click();
    EXPECT_EQ(Player()->State(), PlayState::Paused);
    EXPECT_TRUE(script->paused);
    Control<QPushButton>(ConverterDialog::IDC_STOP)->click();
    EXPECT_EQ(Player()->State(), PlayState::Stopped);
    EXPECT_TRUE(script->paused);
    EXPECT_EQ(script->position, 0);

    // Without a clip they do nothing.
    Media().OnClosePreview();
    session->Preview().Play();
    session->Preview().Pause();
    session->Preview().Stop();
    EXPECT_EQ(Player(), nullptr);
}

TEST_F(PositionDisplay, ClosingThePreviewWindowReturnsToNoMedia) {
    Report(30 * kSecond, 60 * kSecond);
    Click(ConverterDialog::IDC_START_TIME);
    Report(45 * kSecond, 60 * kSecond);
    Click(ConverterDialog::IDC_END_TIME);
    // A position already on its way when the window closes.
    script->Report(50 * kSecond);

    Player()->Window()->close();
    ASSERT_TRUE(WaitFor([this] { return Player() == nullptr; }, 5000));
    EXPECT_EQ(script->enginesAlive, 0);
    EXPECT_EQ(Media().MediaPath(), "");
    EXPECT_EQ(Media().StartMark(), 0);
    EXPECT_EQ(Media().EndMark(), 0);
    EXPECT_EQ(StartText(), "00:00:00");
    EXPECT_EQ(EndText(), "00:00:00");
    EXPECT_EQ(InfoText(), "");
    EXPECT_EQ(Slider()->value(), 0);
    EXPECT_EQ(Slider()->value(), 0);
    EXPECT_TRUE(MediaControlsDisabled());
    EXPECT_TRUE(Control<QPushButton>(ConverterDialog::IDC_OPEN_MEDIA)->isEnabled());

    // The report that was on its way finds no player; nor do the marks.
    ProcessEventsFor(50);
    EXPECT_EQ(InfoText(), "");
    Click(ConverterDialog::IDC_START_TIME);
    EXPECT_EQ(Media().StartMark(), 0);
}

// Enter outside a button ends the dialog, so no button may be framed as the default one,
// neither after showing nor once the focus has left a button.
TEST_F(PositionDisplay, NoButtonLooksLikeTheDefault) {
    const auto defaults = [this] {
        int count = 0;
        for (QPushButton* button : Dialog().findChildren<QPushButton*>()) {
            count += button->isDefault() ? 1 : 0;
        }
        return count;
    };
    EXPECT_EQ(defaults(), 0);
    QApplication::setActiveWindow(&Dialog());
    Control<QPushButton>(ConverterDialog::IDC_PLAY)->setFocus();
    EXPECT_EQ(defaults(), 0);
    Slider()->setFocus();
    EXPECT_EQ(defaults(), 0);

    // The focused button still takes Enter.
    Control<QPushButton>(ConverterDialog::IDC_PLAY)->setFocus();
    QTest::keyClick(Control<QPushButton>(ConverterDialog::IDC_PLAY), Qt::Key_Return);
    EXPECT_EQ(Player()->State(), PlayState::Running);
    EXPECT_TRUE(Dialog().isVisible());
}
