#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <iostream>
#include <set>

#include "DialogTestFixture.h"
#include "PrecisionPanel.h"
#include "WaveformView.h"

namespace {

constexpr const char* kScreenCheck = "ORVANE_SCREEN_CHECK";

// The panel's controls a user reads or works, in the order they stand.
QList<QWidget*> PanelControls(const PrecisionPanel& panel) {
    QList<QWidget*> controls;
    for (QWidget* w : panel.findChildren<QWidget*>()) {
        const auto* label = qobject_cast<QLabel*>(w);
        if (w->isVisibleTo(&panel) &&
            (qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
             qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<WaveformView*>(w) ||
             (label != nullptr && !label->text().isEmpty()))) {
            controls << w;
        }
    }
    return controls;
}

// Runs in a child of this program on the screen it was given (see SmallScreens below).
class PanelOnScreen : public DialogTestFixture {};

TEST_F(PanelOnScreen, EveryControlCanBeReachedAndIsWhole) {
    const QString fits = qEnvironmentVariable(kScreenCheck);
    if (fits.isEmpty()) {
        GTEST_SKIP() << "runs in a child with a small screen: SmallScreens";
    }
    ConverterDialog& dialog = MakeMediaDialog();
    Open(MediaFile("movie.mpg", 60 * kSecond));
    dialog.Panel()->ShowFormatNote(
        "892 samples were louder than this format can hold and were "
        "clipped; \"32-bit float\" keeps them whole.");
    Dialog().findChild<QPushButton*>("moreButton")->click();
    QApplication::setActiveWindow(&dialog);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    ProcessEventsFor(50);

    const QRect work = dialog.screen()->availableGeometry();
    auto* area = dialog.findChild<QScrollArea*>("panelArea");
    auto* body = dialog.findChild<QScrollArea*>("dialogBody");
    ASSERT_TRUE(area != nullptr && body != nullptr);
    std::cout << "screen " << work.width() << "x" << work.height() << ", dialog "
              << dialog.frameGeometry().height() << " tall, panel " << area->height() << " of "
              << area->widget()->height() << std::endl;
    EXPECT_TRUE(work.contains(dialog.frameGeometry()));
    // Where the screen has the room, nothing has to scroll; never two scroll bars at once.
    const bool scrolls =
        area->verticalScrollBar()->isVisible() || body->verticalScrollBar()->isVisible();
    if (fits != "either") {
        EXPECT_EQ(scrolls, fits == "scrolls");
    }
    EXPECT_FALSE(area->verticalScrollBar()->isVisible() && body->verticalScrollBar()->isVisible());

    // Tab goes through the panel, and each control it reaches is scrolled into sight.
    const QList<QWidget*> controls = PanelControls(*dialog.Panel());
    ASSERT_GE(controls.size(), 15);
    const auto inSight = [area, body](QWidget* w) {
        return area->viewport()->rect().contains(
                   QRect(w->mapTo(area->viewport(), QPoint(0, 0)), w->size())) &&
               body->viewport()->rect().contains(
                   QRect(w->mapTo(body->viewport(), QPoint(0, 0)), w->size()));
    };
    for (QWidget* control : controls) {
        if (!(control->focusPolicy() & Qt::TabFocus)) {
            // The scroll bars reach it.
            area->ensureWidgetVisible(control, 0, 0);
            body->ensureWidgetVisible(control, 0, 0);
            EXPECT_TRUE(inSight(control)) << control->objectName().toStdString();
        }
    }
    // The walk above scrolled to the panel's labels at the bottom; the Tab walk starts
    // where Tab from More leaves it, with the first control in sight.
    area->ensureWidgetVisible(controls.front(), 0, 0);
    body->ensureWidgetVisible(controls.front(), 0, 0);
    controls.front()->setFocus(Qt::TabFocusReason);
    std::set<QWidget*> reached;
    for (int i = 0; i < 40 && dialog.Panel()->isAncestorOf(QApplication::focusWidget()); ++i) {
        QWidget* focused = QApplication::focusWidget();
        reached.insert(focused);
        EXPECT_TRUE(inSight(focused))
            << focused->objectName().toStdString() << " outside the visible part";
        QTest::keyClick(focused, Qt::Key_Tab);
    }
    for (QWidget* control : controls) {
        SCOPED_TRACE(control->objectName().toStdString());
        if ((control->focusPolicy() & Qt::TabFocus) && control->isEnabled()) {
            EXPECT_EQ(reached.count(control), 1u) << "not reached by Tab";
        }
        // Whole: its text or the least it can show in its width, and inside the panel.
        if (auto* button = qobject_cast<QPushButton*>(control)) {
            EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(button->text()));
        } else {
            EXPECT_GE(control->width(), control->minimumSizeHint().width());
        }
        EXPECT_TRUE(dialog.Panel()->rect().contains(
            QRect(control->mapTo(dialog.Panel(), QPoint(0, 0)), control->size())));
    }
}

// The panel on small screens, each in a child of this program with an offscreen screen of
// that size: the dialog fits within the screen, and every control of the panel can be
// scrolled or tabbed into sight whole. At 1366x768 and 1024x600 the panel (with its
// segment list) may scroll; on smaller screens the panel or the whole dialog scrolls.
TEST(SmallScreens, ThePanelFitsOrScrolls) {
    if (!qEnvironmentVariable(kScreenCheck).isEmpty()) {
        GTEST_SKIP() << "the child's own run";
    }
    const struct {
        const char* what;
        int width, height;
        const char* scale;
        const char* fits;
    } screens[] = {
        {"1024x600", 1024, 600, "1", "either"},
        // With the segment list the panel is taller than 768 leaves it.
        {"1366x768", 1366, 768, "1", "either"},
        {"1280x800 at 200 %", 1280, 800, "2", "scrolls"},
        {"800x480", 800, 480, "1", "scrolls"},
    };
    QTemporaryDir dir;
    for (const auto& s : screens) {
        SCOPED_TRACE(s.what);
        const QJsonObject screen{{"name", "small"},
                                 {"x", 0},
                                 {"y", 0},
                                 {"width", s.width},
                                 {"height", s.height},
                                 {"logicalDpi", 96},
                                 {"logicalBaseDpi", 96},
                                 {"dpr", 1}};
        const QString config = dir.filePath(QStringLiteral("%1.json").arg(s.width));
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(QJsonObject{{"screens", QJsonArray{screen}}}).toJson());
        file.close();

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + config);
        env.insert("QT_SCALE_FACTOR", s.scale);
        env.insert(kScreenCheck, s.fits);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=PanelOnScreen.*", "--gtest_brief=1"});
        ASSERT_TRUE(child.waitForFinished(120000));
        const QString out = QString::fromLocal8Bit(child.readAll());
        EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
        // A child that skipped or found no screen of that size proves nothing.
        EXPECT_TRUE(out.contains(QStringLiteral("screen %1x%2,")
                                     .arg(s.width / QString(s.scale).toInt())
                                     .arg(s.height / QString(s.scale).toInt())))
            << out.toStdString();
    }
}

}  // namespace
