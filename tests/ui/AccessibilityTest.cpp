#include <QAccessible>
#include <QApplication>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>

#include <functional>

#include "DialogTestFixture.h"
#include "PrecisionPanel.h"
#include "WaveformView.h"

namespace {

constexpr int64_t kTenMs = 100'000;  // a step in a file without a picture

class Accessibility : public DialogTestFixture {
  protected:
    // The dialog with a file open, the panel open, and the dialog active.
    ConverterDialog& OpenDialog() {
        ConverterDialog& dialog = MakeMediaDialog();
        Open(MediaFile("song.mp2", 60 * kSecond));
        dialog.findChild<QPushButton*>("moreButton")->click();
        QApplication::setActiveWindow(&dialog);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
        return dialog;
    }
};

// A screen reader's view: every control that takes the focus or shows a text or a value
// has a name with a word in it, or a name and a description with one (a clock).
QStringList ExpectNamed(QAccessibleInterface* node) {
    QStringList named;
    auto* w = qobject_cast<QWidget*>(node->object());
    if (w != nullptr && w->isVisible() && !w->isWindow() &&
        ((w->focusPolicy() & Qt::TabFocus) || qobject_cast<QLabel*>(w) ||
         qobject_cast<QProgressBar*>(w))) {
        const QString name = node->text(QAccessible::Name);
        const QRegularExpression word(QStringLiteral("\\p{L}{2,}"));
        EXPECT_TRUE(name.contains(word) ||
                    (!name.isEmpty() && node->text(QAccessible::Description).contains(word)))
            << w->objectName().toStdString() << ": \"" << name.toStdString() << "\"";
        named << w->objectName();
    }
    for (int i = 0; i < node->childCount(); ++i) {
        named << ExpectNamed(node->child(i));
    }
    return named;
}

QString NameOf(QObject* object) {
    return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
}

TEST_F(Accessibility, EveryControlHasANameAndTheTabChainGoesTopToBottom) {
    ConverterDialog& dialog = OpenDialog();
    dialog.Panel()->ShowFormatNote("892 samples were clipped");
    const QStringList named = ExpectNamed(QAccessible::queryAccessibleInterface(&dialog));
    for (const char* control : {"infoLabel", "positionSlider", "outputEdit", "progressBar",
                                "waveformView", "startBackButton", "formatNote"}) {
        EXPECT_TRUE(named.contains(control)) << control;
    }
    EXPECT_EQ(NameOf(dialog.findChild<QPushButton*>("moreButton")), "Less");
    // A box's name is its entry; an AT-SPI reader asks for the label it is labelled by.
    for (const auto& [control, label] :
         {std::pair{"formatBox", "Format"}, {"trackBox", "Track"}, {"outputEdit", "Output File"}}) {
        const auto labels =
            QAccessible::queryAccessibleInterface(dialog.findChild<QWidget*>(control))
                ->relations(QAccessible::Label);
        ASSERT_EQ(labels.size(), 1) << control;
        EXPECT_EQ(labels[0].first->text(QAccessible::Name), label);
    }

    // The documented order, then More, then the panel top to bottom (the one-track file
    // leaves Track disabled), and round again.
    const QStringList expected = {
        "convertButton",    "openMediaButton",     "positionSlider",   "startTimeButton",
        "endTimeButton",    "playButton",          "pauseButton",      "stopButton",
        "outputEdit",       "browseButton",        "helpButton",       "homepageButton",
        "aboutButton",      "moreButton",          "waveformView",     "startMarkEdit",
        "startBackButton",  "startForwardButton",  "endMarkEdit",      "endBackButton",
        "endForwardButton", "playSelectionButton", "loopButton",       "playStartButton",
        "playEndButton",    "formatBox",           "formatNote",       "exactEndBox",
        "modernHeaderBox",  "segmentTable",        "addSegmentButton", "silencesButton",
        "openListButton",   "patternEdit",         "joinBox",          "bextBox"};
    QWidget* start = dialog.Control(ConverterDialog::IDC_CONVERT);
    start->setFocus(Qt::TabFocusReason);
    QStringList chain;
    do {
        chain << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    } while (QApplication::focusWidget() != start && chain.size() < 2 * expected.size());
    EXPECT_EQ(chain, expected);
}

TEST_F(Accessibility, ThePreviewWindowIsNamed) {
    script->video = true;
    MakeMediaDialog();
    Open(MediaFile("movie.mpg", 60 * kSecond));
    ASSERT_NE(Player(), nullptr);
    PreviewWindow* window = Player()->Window();
    ASSERT_TRUE(WaitFor([&] { return window->isVisible(); }));
    EXPECT_EQ(NameOf(window), "Preview");
    EXPECT_FALSE(
        QAccessible::queryAccessibleInterface(window)->text(QAccessible::Description).isEmpty());
    EXPECT_EQ(NameOf(window->VideoView()), "Picture");
}

// The waveform from the keyboard: the arrows step the playhead as the nudges step a mark
// (10 ms here, without a picture), and I and O set the marks there.
TEST_F(Accessibility, TheWaveformIsWorkedFromTheKeyboard) {
    ConverterDialog& dialog = OpenDialog();
    auto* waveform = dialog.findChild<WaveformView*>("waveformView");
    waveform->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(waveform->hasFocus());
    const std::pair<Qt::Key, int64_t> steps[] = {
        {Qt::Key_Right, 1}, {Qt::Key_Right, 2}, {Qt::Key_Left, 1},
        {Qt::Key_Left, 0},  {Qt::Key_Left, 0},  // stays at the start
        {Qt::Key_Right, 1}, {Qt::Key_Right, 2}, {Qt::Key_Right, 3}};
    for (const auto& [key, position] : steps) {
        QTest::keyClick(waveform, key);
        EXPECT_EQ(Player()->Position(), position * kTenMs);
    }
    QTest::keyClick(waveform, Qt::Key_I);
    EXPECT_EQ(Media().MarkTime(Mark::Start), 3 * kTenMs);
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(waveform, Qt::Key_Right);
    }
    QTest::keyClick(waveform, Qt::Key_O);
    EXPECT_EQ(Media().MarkTime(Mark::End), 8 * kTenMs);
}

}  // namespace
