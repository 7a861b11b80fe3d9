// Audition through the dialog's panel on the real player: Play selection stops at the End
// mark, Play start and Play end play their two seconds, Loop repeats until it is released
// and then plays on to the End mark and no further; each clears what the one before set.
#include <QPushButton>
#include <QSignalSpy>

#include "RealMediaFixture.h"
#include "TestMedia.h"
#include "TestUnits.h"
#include "WaitFor.h"

namespace {

class Audition : public RealMediaFixture {
  protected:
    void Press(const char* name) { Dialog().findChild<QPushButton*>(name)->click(); }
    // Waits until the preview holds, and tells where.
    int64_t HeldAt() {
        EXPECT_TRUE(WaitFor([&] { return Player()->State() == PlayState::Paused; }, 15000));
        return Player()->Position();
    }
    TestMedia media;
};

TEST_F(Audition, EachButtonPlaysItsPartAndLoopStopsWhenReleased) {
    const std::string clip = media.Make("tone.mp2", "-f lavfi -i sine=d=12 -c:a mp2");
    MakeMediaDialog();
    Press("moreButton");
    Open(QString::fromStdString(clip));
    ASSERT_NE(Player(), nullptr);
    ASSERT_TRUE(Media().SetMark(Mark::Start, 10'000'000));
    ASSERT_TRUE(Media().SetMark(Mark::End, 35'000'000));
    // Held where the part ends: the end of the selection, or two seconds from its start.
    const struct {
        const char* button;
        int64_t end;
    } parts[] = {
        {"playSelectionButton", 35'000'000},
        {"playStartButton", 30'000'000},
        {"playEndButton", 35'000'000},
    };
    for (const auto& part : parts) {
        SCOPED_TRACE(part.button);
        QSignalSpy moved(Player(), &PreviewPlayer::positionChanged);
        Press(part.button);
        EXPECT_EQ(Player()->State(), PlayState::Running);
        EXPECT_EQ(HeldAt(), part.end);
        // Heard on the way, not jumped over.
        EXPECT_GT(moved.count(), 5);
        ProcessEventsFor(300);
        EXPECT_EQ(Player()->State(), PlayState::Paused);
    }

    // Loop comes back to the start of the selection...
    Press("loopButton");
    int64_t highest = 0;
    bool wrapped = false;
    const auto watch = QObject::connect(Player(), &PreviewPlayer::positionChanged, [&](int64_t at) {
        wrapped = wrapped || at < highest - kSecond;
        highest = std::max(highest, at);
    });
    ASSERT_TRUE(WaitFor([&] { return wrapped; }, 15000));
    EXPECT_EQ(Player()->State(), PlayState::Running);
    QObject::disconnect(watch);
    // ...until it is released: then it plays on to the End mark, holds, and never wraps.
    Press("loopButton");
    const int64_t released = Player()->Position();
    int64_t lowest = released;
    QObject::connect(Player(), &PreviewPlayer::positionChanged,
                     [&](int64_t at) { lowest = std::min(lowest, at); });
    EXPECT_EQ(HeldAt(), 35'000'000);
    ProcessEventsFor(1500);
    EXPECT_EQ(Player()->State(), PlayState::Paused);
    EXPECT_GE(lowest, released - 50 * kMs);
    EXPECT_FALSE(Dialog().findChild<QPushButton*>("loopButton")->isChecked());
}

}  // namespace
