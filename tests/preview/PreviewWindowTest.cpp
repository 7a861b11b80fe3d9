#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include "PlayerFixture.h"
#include "PreviewGeometry.h"
#include "WaitFor.h"
#include "WindowOrder.h"

namespace {

using PreviewGeometry::FirstPreviewRect;
using PreviewGeometry::FullScreenVideoRect;
using PreviewGeometry::PreviewTitle;

TEST(PreviewGeometryTest, FullScreenPlacementOnA1024x768Screen) {
    const QSize screen(1024, 768);
    EXPECT_EQ(FullScreenVideoRect(screen, {80, 60}), QRect(112, 84, 800, 600));
    EXPECT_EQ(FullScreenVideoRect(screen, {640, 480}), QRect(0, 0, 1024, 768));
    EXPECT_EQ(FullScreenVideoRect(screen, {720, 480}), QRect(0, 43, 1024, 682));
    EXPECT_EQ(FullScreenVideoRect(screen, {352, 288}), QRect(43, 0, 938, 768));
    // Wider than the screen at ten times its size, but not taller: fits the width.
    EXPECT_EQ(FullScreenVideoRect(screen, {200, 20}), QRect(0, 333, 1024, 102));
    // Taller only: fits the height.
    EXPECT_EQ(FullScreenVideoRect(screen, {20, 100}), QRect(435, 0, 154, 768));
}

TEST(PreviewGeometryTest, FirstWindowStandsAboveTheDialog) {
    const QRect workArea(0, 0, 1920, 1050);
    const QRect dialog(600, 605, 500, 300);
    // Width 4/3 of the height, lower edge on the dialog's upper edge.
    EXPECT_EQ(FirstPreviewRect(workArea, dialog), QRect(100, 5, 800, 600));
    EXPECT_EQ(FirstPreviewRect(QRect(10, 30, 800, 600), QRect(0, 335, 10, 10)),
              QRect(110, 35, 400, 300));
    // No room above the dialog: a default size instead of a negative one.
    EXPECT_EQ(FirstPreviewRect(workArea, QRect(0, 3, 100, 100)), QRect(100, 5, 320, 240));
    EXPECT_EQ(FirstPreviewRect(workArea, QRect(0, 5, 100, 100)), QRect(100, 5, 320, 240));
}

// The window never covers the dialog: own size above it where that fits, scaled down
// there while at least 160 px tall, else beside it; with the panel open, wherever the
// picture is largest; aspect kept, inside the work area.
TEST(PreviewGeometryTest, ThePictureStaysClearOfTheDialog) {
    using PreviewGeometry::Room;
    const QSize frame(2, 30);
    const QSize fullHd(1920, 1080);
    const struct {
        const char* what;
        QRect workArea;
        QRect dialog;
        QSize video;
        QRect expected;
        Room room = Room::AboveFirst;
    } cases[] = {
        {"fits above at its own size",
         {0, 0, 1920, 1050},
         {700, 600, 400, 370},
         {320, 240},
         {100, 5, 320, 240}},
        {"scaled down above",
         {0, 0, 1920, 1050},
         {700, 600, 400, 370},
         fullHd,
         {100, 5, 1004, 565}},
        // 1366x768 at 200 %: 683x384 logical, the dialog nearly as tall as the screen.
        {"beside, on the side with room",
         {0, 0, 683, 384},
         {0, 10, 380, 360},
         fullHd,
         {385, 10, 296, 166}},
        {"beside, on the left", {0, 0, 683, 384}, {303, 10, 380, 360}, fullHd, {0, 10, 296, 166}},
        // Nothing fits 160 px tall: the largest place, still clear of the dialog.
        {"centred dialog, no good place",
         {0, 0, 683, 384},
         {150, 10, 380, 360},
         fullHd,
         {535, 10, 146, 82}},
        // 1280x900 at 200 %, a 320x240 clip.
        {"small clip on a scaled screen",
         {0, 0, 640, 450},
         {120, 40, 400, 380},
         {320, 240},
         {525, 40, 113, 84}},
        // The panel open on 1920x1080: 215 px above the tall dialog, 730 px beside it.
        {"panel closed rule keeps it above",
         {0, 0, 1920, 1050},
         {735, 250, 450, 790},
         fullHd,
         {100, 5, 382, 215}},
        {"panel open: beside, where it is largest",
         {0, 0, 1920, 1050},
         {735, 250, 450, 790},
         fullHd,
         {1190, 250, 728, 409},
         Room::Largest},
        {"panel open: above stays where it is largest",
         {0, 0, 1920, 1050},
         {700, 600, 400, 370},
         fullHd,
         {100, 5, 1004, 565},
         Room::Largest},
        {"panel open: a tie stays above",
         {0, 0, 1920, 1050},
         {700, 600, 400, 370},
         {320, 240},
         {100, 5, 320, 240},
         Room::Largest},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QRect got = PreviewGeometry::VideoWindowRect(
            c.workArea, c.dialog, {c.workArea.left() + 100, 5}, c.video, frame, c.room);
        EXPECT_EQ(got, c.expected);
        const QRect outer(got.topLeft(), got.size() + frame);
        EXPECT_FALSE(outer.intersects(c.dialog));
        EXPECT_TRUE(c.workArea.contains(outer));
        EXPECT_NEAR(double(got.width()) / got.height(), double(c.video.width()) / c.video.height(),
                    0.02);
    }
}

TEST(PreviewGeometryTest, TitleIsTheNamePartTwoBlanksAndPaused) {
    EXPECT_EQ(PreviewTitle("C:\\clips\\a.mpg", false), "a.mpg  ");
    EXPECT_EQ(PreviewTitle("C:\\clips\\a.mpg", true), "a.mpg  (Paused)");
    EXPECT_EQ(PreviewTitle("/home/ana/Videos/Día 1.mpg", true), "Día 1.mpg  (Paused)");
    EXPECT_EQ(PreviewTitle("clip.mpg", false), "clip.mpg  ");
    EXPECT_EQ(PreviewTitle("", false), "PREVIEW");
}

class PreviewWindowTest : public PlayerFixture {
  protected:
    void Click(Qt::MouseButton button, QPoint at = {10, 10}) {
        QMouseEvent release(QEvent::MouseButtonRelease, at, Window().mapToGlobal(at), button,
                            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&Window(), &release);
    }
    void MoveMouse() {
        const QPoint at(20, 20);
        QMouseEvent move(QEvent::MouseMove, at, Window().mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&Window(), &move);
    }
    void PressEscape() {
        QKeyEvent up(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(&Window(), &up);
    }
    bool DialogOnTop() { return dialog.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint); }
    QSize ScreenSize() { return Window().screen()->geometry().size(); }
    // Which of the dialog and the picture is in front, wired as the program wires it.
    void Order() {
        QObject::connect(player.get(), &PreviewPlayer::pictureClicked, &order,
                         [this](bool full) { order.OnPictureClicked(player->Window(), full); });
        QObject::connect(player.get(), &PreviewPlayer::fullScreenChanged, &order,
                         [this](bool on) { order.OnFullScreenChanged(player->Window(), on); });
        QObject::connect(player.get(), &PreviewPlayer::menuClosed, &order,
                         &WindowOrder::OnMenuClosed);
    }

    WindowOrder order{&dialog};
};

TEST_F(PreviewWindowTest, WindowIsCreatedAboveTheDialogWithItsFirstTitle) {
    // The window exists as soon as the load has started, hidden until it has ended.
    script->holdLoad = true;
    ASSERT_TRUE(player->Open("/media/clips/a.mpg", 0));
    EXPECT_EQ(Window().windowTitle(), "Video Window");
    EXPECT_FALSE(Window().isVisible());
    const QRect expected =
        FirstPreviewRect(dialog.screen()->availableGeometry(), dialog.frameGeometry());
    EXPECT_EQ(Window().pos(), expected.topLeft());
    EXPECT_EQ(Window().size(), expected.size());
    player->Close();
    EXPECT_EQ(player->Window(), nullptr);
}

TEST_F(PreviewWindowTest, ContextMenuHasItsEntriesAndGreysByState) {
    ASSERT_TRUE(Open());
    QStringList entries;
    for (QAction* action : Menu()->actions()) {
        entries << (action->isSeparator() ? QString("-") : action->text());
    }
    EXPECT_EQ(Menu()->title(), "PREVIEW");
    EXPECT_EQ(entries, (QStringList{"Full screen", "Normal size", "-", "Play", "pause", "Stop", "-",
                                    "Close"}));

    // The states show as the menu opens.
    const auto enabled = [&] {
        Click(Qt::RightButton);
        Menu()->close();
        return std::vector<bool>{Action("playAction")->isEnabled(),
                                 Action("pauseAction")->isEnabled(),
                                 Action("stopAction")->isEnabled()};
    };
    EXPECT_EQ(enabled(), (std::vector<bool>{true, false, false}));  // Stopped
    player->Play();
    EXPECT_EQ(enabled(), (std::vector<bool>{false, true, true}));  // Running
    player->Pause();
    EXPECT_EQ(enabled(), (std::vector<bool>{true, false, true}));  // Paused
    EXPECT_TRUE(Action("fullScreenAction")->isEnabled());
    EXPECT_TRUE(Action("normalSizeAction")->isEnabled());
    EXPECT_TRUE(Action("closeAction")->isEnabled());

    EXPECT_FALSE(Action("fullScreenAction")->isChecked());
    ASSERT_TRUE(player->SwitchFullScreen());
    Click(Qt::RightButton);
    Menu()->close();
    EXPECT_TRUE(Action("fullScreenAction")->isChecked());
}

TEST_F(PreviewWindowTest, MenuCommandsReachThePlayer) {
    ASSERT_TRUE(Open());
    Action("playAction")->trigger();
    ASSERT_TRUE(WaitFor([&] { return player->State() == PlayState::Running; }));
    Action("pauseAction")->trigger();
    ASSERT_TRUE(WaitFor([&] { return player->State() == PlayState::Paused; }));
    Action("stopAction")->trigger();
    ASSERT_TRUE(WaitFor([&] { return player->State() == PlayState::Stopped; }));
    Action("fullScreenAction")->trigger();
    ASSERT_TRUE(WaitFor([&] { return player->IsFullScreen(); }));
    Action("normalSizeAction")->trigger();
    ASSERT_TRUE(WaitFor([&] { return !player->IsFullScreen(); }));
}

TEST_F(PreviewWindowTest, FullScreenPlacesTheVideoAndEscapeRestores) {
    script->videoSize = QSize(352, 288);
    ASSERT_TRUE(Open());
    const QRect windowed = Window().geometry();

    // Esc in a window does nothing.
    PressEscape();
    EXPECT_FALSE(player->IsFullScreen());
    EXPECT_EQ(Window().geometry(), windowed);

    ASSERT_TRUE(player->SwitchFullScreen());
    EXPECT_TRUE(player->IsFullScreen());
    EXPECT_TRUE(Window().IsWatchingPointer());
    ProcessEventsFor(20);
    EXPECT_EQ(Window().VideoView()->geometry(), FullScreenVideoRect(ScreenSize(), {352, 288}));

    PressEscape();
    EXPECT_FALSE(player->IsFullScreen());
    EXPECT_FALSE(Window().IsWatchingPointer());
    ProcessEventsFor(20);
    EXPECT_EQ(Window().geometry(), windowed);
    EXPECT_EQ(Window().VideoView()->geometry(), QRect(QPoint(0, 0), windowed.size()));
    EXPECT_TRUE(Window().isVisible());
}

TEST_F(PreviewWindowTest, NormalSizeLeavesFullScreenAndSizesToTheVideo) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(player->SwitchFullScreen());
    player->ShowNormalSize();
    EXPECT_FALSE(player->IsFullScreen());
    EXPECT_EQ(Window().size(), QSize(160, 120));
}

TEST_F(PreviewWindowTest, FullScreenWithoutAKnownPictureSizeChangesNothing) {
    script->videoSize = QSize();
    ASSERT_TRUE(Open());
    const QRect windowed = Window().geometry();
    EXPECT_FALSE(player->SwitchFullScreen());
    EXPECT_FALSE(player->IsFullScreen());
    EXPECT_EQ(Window().geometry(), windowed);
}

TEST_F(PreviewWindowTest, PointerHidesOnlyAfterMoreThan100SecondsIdleInFullScreen) {
    uint32_t now = 0xFFFF0000u;  // near the wrap of the 32-bit millisecond clock
    ASSERT_TRUE(Open());
    player->SetClock([&] { return now; });

    // In a window the pointer is never hidden.
    now += 500'000;
    emit Window().pointerTimerFired();
    EXPECT_FALSE(player->IsPointerHidden());

    ASSERT_TRUE(player->SwitchFullScreen());
    now += 100'000;
    emit Window().pointerTimerFired();
    EXPECT_FALSE(player->IsPointerHidden());
    EXPECT_FALSE(Window().testAttribute(Qt::WA_SetCursor));

    now += 1;
    emit Window().pointerTimerFired();
    EXPECT_TRUE(player->IsPointerHidden());
    EXPECT_EQ(Window().cursor().shape(), Qt::BlankCursor);

    // Any mouse move shows it again and restarts the idle time.
    MoveMouse();
    EXPECT_FALSE(player->IsPointerHidden());
    EXPECT_NE(Window().cursor().shape(), Qt::BlankCursor);
    now += 60'000;
    emit Window().pointerTimerFired();
    EXPECT_FALSE(player->IsPointerHidden());

    // After Stop in full screen nothing hides it any more.
    player->Play();
    player->Stop();
    EXPECT_TRUE(player->IsFullScreen());
    EXPECT_FALSE(Window().IsWatchingPointer());

    // Leaving full screen shows a hidden pointer.
    now += 200'000;
    emit Window().pointerTimerFired();
    EXPECT_TRUE(player->IsPointerHidden());
    PressEscape();
    EXPECT_FALSE(player->IsPointerHidden());
    EXPECT_NE(Window().cursor().shape(), Qt::BlankCursor);
}

TEST_F(PreviewWindowTest, LeftClicksInAWindowAlternateTheDialogsPlace) {
    Order();
    ASSERT_TRUE(Open());
    ASSERT_TRUE(order.DialogOnTop());
    Click(Qt::LeftButton);
    EXPECT_FALSE(order.DialogOnTop());
    EXPECT_FALSE(DialogOnTop());
    EXPECT_TRUE(dialog.isVisible());
    Click(Qt::LeftButton);
    EXPECT_TRUE(order.DialogOnTop());
    EXPECT_TRUE(DialogOnTop());
    Click(Qt::LeftButton);
    EXPECT_FALSE(DialogOnTop());

    // The choice outlives the preview.
    player->Close();
    ASSERT_TRUE(Open());
    EXPECT_FALSE(order.DialogOnTop());
    Click(Qt::LeftButton);
    EXPECT_TRUE(DialogOnTop());
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(PreviewWindowTest, LeftClicksInFullScreenHideAndShowTheDialog) {
    Order();
    ASSERT_TRUE(Open());
    ASSERT_TRUE(player->SwitchFullScreen());
    Click(Qt::LeftButton);  // behind the video
    EXPECT_FALSE(DialogOnTop());
    Click(Qt::LeftButton);  // above the video
    EXPECT_TRUE(DialogOnTop());
    Click(Qt::LeftButton);  // behind again; the next would bring it back

    // After the context menu the next click hides the dialog again.
    Click(Qt::RightButton);
    EXPECT_TRUE(Menu()->isVisible());
    Menu()->close();
    Click(Qt::LeftButton);
    EXPECT_FALSE(DialogOnTop());
    // The dialog is never really hidden: that would end a modal dialog.
    EXPECT_TRUE(dialog.isVisible());
    // Full-screen clicks do not touch the windowed choice.
    EXPECT_TRUE(order.DialogOnTop());
}

TEST_F(PreviewWindowTest, RightClickOpensTheMenuWithCurrentStates) {
    ASSERT_TRUE(Open());
    player->Play();
    Click(Qt::RightButton, {30, 40});
    ASSERT_TRUE(Menu()->isVisible());
    EXPECT_FALSE(Action("playAction")->isEnabled());
    EXPECT_TRUE(Action("stopAction")->isEnabled());
    Menu()->close();
}

TEST_F(PreviewWindowTest, ClosingInFullScreenRestoresBeforeDestroying) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(player->SwitchFullScreen());
    player->Close();
    EXPECT_FALSE(player->IsFullScreen());
    EXPECT_EQ(player->Window(), nullptr);
    EXPECT_FALSE(player->IsPointerHidden());
}

}  // namespace
