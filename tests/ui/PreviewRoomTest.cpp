#include <QScreen>

#include "DialogTestFixture.h"

namespace {

using PreviewRoom = DialogTestFixture;

// With the panel open the dialog is tall: the picture goes where it is largest, beside
// the dialog here, and moves as the panel opens and closes, never covering the dialog.
TEST_F(PreviewRoom, ThePictureMovesWhereThePanelLeavesItMostRoom) {
    script->video = true;
    script->videoSize = QSize(1920, 1080);
    ConverterDialog& dialog = MakeMediaDialog();
    const QRect work = dialog.screen()->availableGeometry();
    // Low on the right of the screen, with room above it and on its left.
    dialog.move(work.right() - dialog.frameGeometry().width(), work.height() / 2);
    Open(MediaFile("movie.mpg", 60 * kSecond));
    ASSERT_NE(Player(), nullptr);
    QWidget* window = Player()->Window();
    ASSERT_TRUE(WaitFor([&] { return window->isVisible(); }));
    const auto clear = [&] {
        return !window->frameGeometry().intersects(dialog.frameGeometry()) &&
               work.contains(window->frameGeometry());
    };
    EXPECT_TRUE(clear());
    EXPECT_LT(window->frameGeometry().bottom(), dialog.frameGeometry().top()) << "above";

    dialog.findChild<QPushButton*>("moreButton")->click();
    EXPECT_TRUE(clear());
    EXPECT_LT(window->frameGeometry().right(), dialog.frameGeometry().left()) << "beside";

    dialog.findChild<QPushButton*>("moreButton")->click();
    EXPECT_TRUE(clear());
}

}  // namespace
