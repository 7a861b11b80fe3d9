#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <set>

#include "AboutDialog.h"
#include "DialogTestFixture.h"
#include "DialogUnits.h"
#include "WaitFor.h"

namespace {

struct Expected {
    int id;
    const char* name;
    const char* caption;
    int x, y, width, height;
};

// The template in tab order (2 and 1015 are commands only).
const Expected kTemplate[] = {
    {1002, "infoLabel", "", 83, 9, 157, 14},
    {1000, "convertButton", "Convert", 7, 129, 100, 14},
    {1001, "openMediaButton", "Open Media File", 7, 7, 68, 14},
    {1003, "positionSlider", nullptr, 7, 28, 224, 15},
    {1005, "startTimeButton", "Start Time", 7, 78, 50, 14},
    {1006, "endTimeButton", "End Time", 126, 78, 50, 14},
    {1007, "playButton", "Play", 7, 52, 50, 14},
    {1008, "pauseButton", "Pause", 91, 52, 50, 14},
    {1009, "stopButton", "Stop", 175, 52, 50, 14},
    {1012, "startMarkLabel", "00:00:00", 60, 81, 40, 9},
    {1013, "endMarkLabel", "00:00:00", 179, 81, 40, 9},
    {1016, "outputLabel", "Output File", 11, 111, 39, 8},
    {1017, "outputEdit", nullptr, 55, 109, 150, 13},
    {1018, "browseButton", "Browse", 206, 109, 34, 13},
    {1023, "helpButton", "Help", 174, 129, 50, 14},
    {1024, "homepageButton", "Homepage", 90, 155, 50, 14},
    {1026, "progressBar", nullptr, 7, 178, 233, 9},
    {1027, "aboutButton", "About", 174, 155, 50, 14},
};

QString Caption(QWidget* w) {
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        return b->text();
    }
    if (auto* l = qobject_cast<QLabel*>(w)) {
        return l->text();
    }
    return QString();
}

}  // namespace

using ConverterDialogStart = DialogTestFixture;

TEST_F(ConverterDialogStart, ShowsTheTemplateInItsProportions) {
    ConverterDialog& dlg = MakeDialog();
    EXPECT_EQ(dlg.windowTitle(), "Orvane");
    const DialogUnits units(dlg.font());
    EXPECT_EQ(dlg.size(), QSize(units.X(247), units.Y(194)));
    // Fixed size: not resizable.
    EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    EXPECT_FALSE(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);

    QWidget* previous = nullptr;
    for (const Expected& e : kTemplate) {
        QWidget* w = dlg.Control(e.id);
        ASSERT_NE(w, nullptr) << e.id;
        EXPECT_EQ(w->objectName(), e.name);
        EXPECT_EQ(w->geometry(), units.Rect(e.x, e.y, e.width, e.height)) << e.id;
        EXPECT_TRUE(dlg.rect().contains(w->geometry())) << e.id;
        if (e.caption != nullptr) {
            EXPECT_EQ(Caption(w), e.caption) << e.id;
        }
        // Creation order is the tab order.
        if (previous != nullptr) {
            const QObjectList& children = w->parentWidget()->children();
            EXPECT_LT(children.indexOf(previous), children.indexOf(w)) << e.id;
        }
        previous = w;
    }
    EXPECT_EQ(dlg.Control(2), nullptr);
    EXPECT_EQ(dlg.Control(1015), nullptr);
}

TEST_F(ConverterDialogStart, StartsWithoutMediaAndWithTheDefaultOutput) {
    ConverterDialog& dlg = MakeDialog();
    EXPECT_TRUE(messages.records.empty());

    EXPECT_EQ(Control<QLabel>(1012)->text(), "00:00:00");
    EXPECT_EQ(Control<QLabel>(1013)->text(), "00:00:00");
    EXPECT_EQ(Control<QLabel>(1002)->text(), "");
    auto* slider = Control<QSlider>(1003);
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->orientation(), Qt::Horizontal);
    EXPECT_EQ(slider->minimum(), 0);
    EXPECT_EQ(slider->maximum(), 600);
    EXPECT_EQ(slider->value(), 0);
    auto* progress = Control<QProgressBar>(1026);
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->minimum(), 0);
    EXPECT_EQ(progress->maximum(), 1000);
    EXPECT_EQ(progress->value(), 0);
    EXPECT_FALSE(progress->isTextVisible());

    const std::set<int> mediaControls = {1000, 1003, 1007, 1008, 1009, 1005,
                                         1006, 1017, 1018, 1012, 1013};
    for (const Expected& e : kTemplate) {
        EXPECT_EQ(dlg.Control(e.id)->isEnabled(), mediaControls.count(e.id) == 0) << e.id;
    }

    const QString expected = MusicFolder() + "/output.wav";
    EXPECT_EQ(Control<QLineEdit>(1017)->text(), expected);
    EXPECT_TRUE(Media().MediaPath().isEmpty());
    EXPECT_EQ(Media().StartMark(), 0);
    EXPECT_EQ(Media().EndMark(), 0);
    // Reading the default writes nothing.
    EXPECT_EQ(StoredOutput(), "<missing>");
}

TEST_F(ConverterDialogStart, FocusStartsOnOpenMediaFile) {
    ConverterDialog& dlg = MakeDialog();
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    EXPECT_TRUE(WaitFor([&] { return QApplication::focusWidget() != nullptr; }));
    EXPECT_EQ(QApplication::focusWidget(), dlg.Control(1001));
    EXPECT_TRUE(CloseDialog());
}

TEST_F(ConverterDialogStart, MissingMusicFolderFallsBackToHome) {
    ASSERT_TRUE(QDir(MusicFolder()).removeRecursively());
    MakeDialog();
    ASSERT_EQ(messages.records.size(), 1u);
    EXPECT_TRUE(messages.records[0].owned);
    EXPECT_EQ(messages.records[0].text, "Can not get My Music directory!");
    EXPECT_EQ(messages.records[0].caption, "Error");
    EXPECT_EQ(messages.records[0].buttons, UserMessages::Buttons::Ok);
    EXPECT_EQ(Control<QLineEdit>(1017)->text(), QDir::homePath() + "/output.wav");
}

TEST_F(ConverterDialogStart, AStoredPathNeedsNoMusicFolder) {
    // The default is not needed, so its missing folder is no business of the user's.
    ASSERT_TRUE(QDir(MusicFolder()).removeRecursively());
    const QString stored = "/somewhere/else/" + QString(400, 'x') + ".wav";
    settings.WriteProfileString("Option", "output_cut_file", stored);
    MakeDialog();
    EXPECT_TRUE(messages.records.empty());
    EXPECT_EQ(Control<QLineEdit>(1017)->text(), stored);
}

TEST_F(ConverterDialogStart, StoredEmptyPathStaysEmpty) {
    settings.WriteProfileString("Option", "output_cut_file", "");
    MakeDialog();
    EXPECT_EQ(Control<QLineEdit>(1017)->text(), "");
}

TEST_F(ConverterDialogStart, AboutIsInTheContextMenu) {
    ConverterDialog& dlg = MakeDialog();
    EXPECT_EQ(dlg.contextMenuPolicy(), Qt::ActionsContextMenu);
    QAction* about = nullptr;
    for (QAction* a : dlg.actions()) {
        if (a->text() == "&About Orvane") {
            about = a;
        }
    }
    ASSERT_NE(about, nullptr);
    bool opened = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<AboutDialog*>(QApplication::activeModalWidget());
        opened = box != nullptr;
        if (box != nullptr) {
            box->reject();
        }
    });
    about->trigger();
    EXPECT_TRUE(opened);
}

TEST_F(ConverterDialogStart, EnterInTheOutputFieldDoesNotEndTheDialog) {
    ConverterDialog& dlg = MakeMediaDialog();
    Open(MediaFile("clip.mpg", 10 * kSecond));
    QApplication::setActiveWindow(&dlg);
    // A button had the focus before, so that it could have become the default.
    Control<QPushButton>(1018)->setFocus();
    auto* edit = Control<QLineEdit>(1017);
    edit->setFocus();
    edit->setText("/tmp/typed.wav");
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter);
    QCoreApplication::processEvents();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(choosers.saveCalls.empty());
    EXPECT_TRUE(messages.records.empty());
    EXPECT_FALSE(session->Conversion().IsActive());
    EXPECT_EQ(StoredOutput(), "<missing>");
    EXPECT_TRUE(CloseDialog());
}

TEST_F(ConverterDialogStart, EveryEndingRunsTheCloseSteps) {
    for (int way = 0; way < 4; ++way) {
        ClearSettings();
        ConverterDialog& dlg = MakeMediaDialog();
        Open(MediaFile("clip.mpg", 10 * kSecond));
        const int closes = finished;
        QApplication::setActiveWindow(&dlg);
        switch (way) {
            case 0:
                dlg.close();  // the close box
                break;
            case 1:
                QTest::keyClick(&dlg, Qt::Key_Escape);
                break;
            case 2:
                // Enter outside a push button ends the dialog; it does not press Convert.
                dlg.Control(1003)->setFocus();
                QTest::keyClick(dlg.Control(1003), Qt::Key_Return);
                break;
            case 3:
                dlg.accept();
                break;
        }
        EXPECT_TRUE(WaitFor([&] { return finished > closes; })) << way;
        EXPECT_FALSE(dlg.isVisible()) << way;
        EXPECT_EQ(Player(), nullptr) << way;  // the preview is closed
        EXPECT_TRUE(messages.records.empty()) << way;
        EXPECT_EQ(ended, 0) << way;
        // No conversion wrote to the proposed path, so nothing is stored.
        EXPECT_EQ(StoredOutput(), "<missing>") << way;
    }
}

TEST_F(ConverterDialogStart, EnterOnAButtonPressesThatButton) {
    ConverterDialog& dlg = MakeMediaDialog();
    Open(MediaFile("clip.mpg", 10 * kSecond));
    QApplication::setActiveWindow(&dlg);
    dlg.Control(1018)->setFocus();
    QTest::keyClick(dlg.Control(1018), Qt::Key_Return);
    EXPECT_EQ(choosers.saveCalls.size(), 1u);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(CloseDialog());
}

TEST_F(ConverterDialogStart, ClosingTheMediaReturnsToTheStartState) {
    ConverterDialog& dlg = MakeMediaDialog();
    Open(MediaFile("clip.mpg", 10 * kSecond));
    SetMarks(15'000'000, 50'000'000);
    EXPECT_EQ(Control<QLabel>(1012)->text(), "00:00:01");
    Control<QLineEdit>(1017)->setText("/typed/and/kept.wav");
    // The user closes the preview window.
    Player()->Window()->close();
    ASSERT_TRUE(WaitFor([&] { return Player() == nullptr; }));
    EXPECT_TRUE(Media().MediaPath().isEmpty());
    EXPECT_EQ(Media().StartMark(), 0);
    EXPECT_EQ(Media().EndMark(), 0);
    EXPECT_EQ(Slider()->value(), 0);
    EXPECT_EQ(InfoText(), "");
    EXPECT_EQ(Control<QLineEdit>(1017)->text(), "/typed/and/kept.wav");
    EXPECT_EQ(Control<QLabel>(1012)->text(), "00:00:00");
    EXPECT_EQ(Control<QLabel>(1013)->text(), "00:00:00");
    EXPECT_FALSE(dlg.Control(1000)->isEnabled());
    EXPECT_FALSE(dlg.Control(1017)->isEnabled());
    EXPECT_TRUE(dlg.Control(1001)->isEnabled());
}
