#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "DialogTestFixture.h"
#include "PrecisionPanel.h"
#include "WaveformView.h"

namespace {

constexpr int64_t kFrame = 400'000;  // 25 frames a second

class Accessibility : public DialogTestFixture {
  protected:
    // The dialog with a file of two tracks open, every control enabled, the panel open,
    // and the dialog active.
    ConverterDialog& OpenDialog() {
        script->video = false;
        ConverterDialog& dialog = MakeMediaDialog();
        const QString path = MediaFile("movie.mpg", 60 * kSecond);
        MediaInfo info;
        info.duration = 60 * kSecond;
        info.frameDuration = kFrame;
        for (int number : {1, 2}) {
            AudioTrack track;
            track.number = number;
            track.primary = number == 1;
            info.tracks.push_back(track);
        }
        prober.infos[QFile::encodeName(path).toStdString()] = info;
        Open(path);
        dialog.findChild<QPushButton*>("moreButton")->click();
        QApplication::setActiveWindow(&dialog);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
        return dialog;
    }
};

// Every visible control of a window, as a screen reader finds it: through QAccessible.
void Walk(QAccessibleInterface* node, const std::function<void(QAccessibleInterface*)>& visit) {
    if (node == nullptr) {
        return;
    }
    visit(node);
    for (int i = 0; i < node->childCount(); ++i) {
        Walk(node->child(i), visit);
    }
}

// The controls a user meets: those that take the focus, and what they read.
bool IsControl(const QWidget* w) {
    return w->isVisible() && ((w->focusPolicy() & Qt::TabFocus) || qobject_cast<const QLabel*>(w) ||
                              qobject_cast<const QProgressBar*>(w));
}

// What a screen reader says for a control: its name, and the description where the
// name alone says little (a clock, an arrow).
void ExpectNamed(QWidget* root, std::vector<std::string>& named) {
    Walk(QAccessible::queryAccessibleInterface(root), [&](QAccessibleInterface* node) {
        auto* w = qobject_cast<QWidget*>(node->object());
        if (w == nullptr || !IsControl(w)) {
            return;
        }
        const QString name = node->text(QAccessible::Name);
        const QString description = node->text(QAccessible::Description);
        const QRegularExpression word(QStringLiteral("\\p{L}{2,}"));
        EXPECT_TRUE(name.contains(word) || (!name.isEmpty() && description.contains(word)))
            << w->objectName().toStdString() << ": \"" << name.toStdString() << "\"";
        named.push_back(w->objectName().toStdString());
    });
}

TEST_F(Accessibility, EveryControlHasANameAndTheTabChainGoesTopToBottom) {
    ConverterDialog& dialog = OpenDialog();
    dialog.Panel()->ShowFormatNote(
        "892 samples were louder than this format can hold and were "
        "clipped; \"32-bit float\" keeps them whole.");
    std::vector<std::string> named;
    ExpectNamed(&dialog, named);
    for (const char* control :
         {"infoLabel", "positionSlider", "outputEdit", "progressBar", "moreButton", "waveformView",
          "startBackButton", "trackBox", "formatBox", "formatNote"}) {
        EXPECT_NE(std::find(named.begin(), named.end(), control), named.end()) << control;
    }
    auto* more = dialog.findChild<QPushButton*>("moreButton");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(more)->text(QAccessible::Name), "Less");
    // A box's name is its entry; the label before it is told as its label, as an AT-SPI
    // reader asks for it.
    for (const auto& [control, label] :
         {std::pair{"formatBox", "Format"}, {"trackBox", "Track"}, {"outputEdit", "Output File"}}) {
        QStringList labels;
        for (const auto& [other, relation] :
             QAccessible::queryAccessibleInterface(dialog.findChild<QWidget*>(control))
                 ->relations(QAccessible::Label)) {
            labels << other->text(QAccessible::Name);
        }
        EXPECT_EQ(labels, QStringList{label}) << control;
    }
    // The documented order, then More, then the panel top to bottom, and round again.
    const QStringList expected = {"convertButton",       "openMediaButton", "positionSlider",
                                  "startTimeButton",     "endTimeButton",   "playButton",
                                  "pauseButton",         "stopButton",      "outputEdit",
                                  "browseButton",        "helpButton",      "homepageButton",
                                  "aboutButton",         "moreButton",      "waveformView",
                                  "startMarkEdit",       "startBackButton", "startForwardButton",
                                  "endMarkEdit",         "endBackButton",   "endForwardButton",
                                  "playSelectionButton", "loopButton",      "playStartButton",
                                  "playEndButton",       "trackBox",        "formatBox",
                                  "formatNote",          "exactEndBox",     "modernHeaderBox"};
    QWidget* start = dialog.Control(ConverterDialog::IDC_CONVERT);
    start->setFocus(Qt::TabFocusReason);
    QStringList chain;
    for (int i = 0; i < 2 * expected.size() && QApplication::focusWidget() != nullptr; ++i) {
        chain << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (QApplication::focusWidget() == start) {
            break;
        }
    }
    EXPECT_EQ(chain, expected);
}

TEST_F(Accessibility, ThePreviewWindowIsNamed) {
    script->video = true;
    MakeMediaDialog();
    Open(MediaFile("movie.mpg", 60 * kSecond));
    ASSERT_NE(Player(), nullptr);
    QWidget* window = Player()->Window();
    ASSERT_TRUE(WaitFor([&] { return window->isVisible(); }));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window)->text(QAccessible::Name), "Preview");
    EXPECT_FALSE(
        QAccessible::queryAccessibleInterface(window)->text(QAccessible::Description).isEmpty());
    std::vector<std::string> named;
    ExpectNamed(window, named);
    ASSERT_NE(Player()->Window()->VideoView(), nullptr);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(Player()->Window()->VideoView())
                  ->text(QAccessible::Name),
              "Picture");
}

// The waveform from the keyboard: the arrows step the playhead a frame, as the nudges
// step a mark, and I and O set the marks there.
TEST_F(Accessibility, TheWaveformIsWorkedFromTheKeyboard) {
    ConverterDialog& dialog = OpenDialog();
    auto* waveform = dialog.findChild<WaveformView*>("waveformView");
    ASSERT_NE(waveform, nullptr);
    waveform->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(waveform->hasFocus());
    const struct {
        Qt::Key key;
        int64_t position;
    } steps[] = {
        {Qt::Key_Right, kFrame}, {Qt::Key_Right, 2 * kFrame}, {Qt::Key_Left, kFrame},
        {Qt::Key_Left, 0},       {Qt::Key_Left, 0},  // stays at the start
        {Qt::Key_Right, kFrame}, {Qt::Key_Right, 2 * kFrame}, {Qt::Key_Right, 3 * kFrame},
    };
    for (const auto& step : steps) {
        QTest::keyClick(waveform, step.key);
        EXPECT_EQ(Player()->Position(), step.position);
    }
    QTest::keyClick(waveform, Qt::Key_I);
    EXPECT_EQ(Media().MarkTime(Mark::Start), 3 * kFrame);
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(waveform, Qt::Key_Right);
    }
    QTest::keyClick(waveform, Qt::Key_O);
    EXPECT_EQ(Media().MarkTime(Mark::End), 8 * kFrame);
}

}  // namespace
