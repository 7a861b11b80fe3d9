#include <QSignalSpy>

#include "PlayerFixture.h"
#include "TestUnits.h"
#include "WaitFor.h"

namespace {

const EngineResult kFailed{-20, "mpv_set_property_async(\"pause\")"};

class PlayerStateTest : public PlayerFixture {};

TEST_F(PlayerStateTest, OpenLoadsTheClipStoppedWithoutPlaying) {
    EXPECT_EQ(player->State(), PlayState::Closed);
    ASSERT_TRUE(player->Open("/media/clips/a.mpg", 0));
    // The load goes on without the caller waiting; the window shows once it has ended.
    EXPECT_EQ(script->loadedPath, "/media/clips/a.mpg");
    EXPECT_TRUE(player->IsLoading());
    EXPECT_FALSE(Window().isVisible());
    ASSERT_TRUE(WaitFor([&] { return !player->IsLoading(); }));
    EXPECT_EQ(player->State(), PlayState::Stopped);
    EXPECT_TRUE(script->paused);
    EXPECT_TRUE(player->HasVideo());
    EXPECT_EQ(player->Duration(), 600'000'000);
    EXPECT_TRUE(Window().isVisible());
    EXPECT_EQ(Title(), "a.mpg  ");
    EXPECT_TRUE(messages.boxes.empty());
    // Sized to the picture.
    EXPECT_EQ(Window().size(), QSize(160, 120));
    EXPECT_EQ(Window().VideoView()->geometry(), QRect(0, 0, 160, 120));
}

TEST_F(PlayerStateTest, SoundOnlyClipKeepsTheWindowHiddenAndRefusesFullScreen) {
    script->video = false;
    ASSERT_TRUE(Open());
    EXPECT_FALSE(player->HasVideo());
    EXPECT_FALSE(Window().isVisible());
    EXPECT_FALSE(player->SwitchFullScreen());
    EXPECT_FALSE(player->IsFullScreen());
    EXPECT_FALSE(Window().isVisible());
    player->Play();
    EXPECT_EQ(player->State(), PlayState::Running);
    EXPECT_FALSE(script->paused);
}

TEST_F(PlayerStateTest, TransportFollowsTheStateTable) {
    ASSERT_TRUE(Open());
    using Command = void (PreviewPlayer::*)();
    const struct {
        const char* name;
        Command command;
        PlayState state;
        const char* title;
    } steps[] = {
        // A stopped clip cannot be paused.
        {"pause when stopped", &PreviewPlayer::Pause, PlayState::Stopped, "a.mpg  "},
        {"play", &PreviewPlayer::Play, PlayState::Running, "a.mpg  "},
        {"play again", &PreviewPlayer::Play, PlayState::Running, "a.mpg  "},
        {"pause", &PreviewPlayer::Pause, PlayState::Paused, "a.mpg  (Paused)"},
        {"pause again", &PreviewPlayer::Pause, PlayState::Paused, "a.mpg  (Paused)"},
        {"play on", &PreviewPlayer::Play, PlayState::Running, "a.mpg  "},
        {"stop", &PreviewPlayer::Stop, PlayState::Stopped, "a.mpg  "},
        {"stop again", &PreviewPlayer::Stop, PlayState::Stopped, "a.mpg  "},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        (player.get()->*step.command)();
        EXPECT_EQ(player->State(), step.state);
        EXPECT_EQ(script->paused, step.state != PlayState::Running);
        EXPECT_EQ(Title(), step.title);
    }
}

TEST_F(PlayerStateTest, StopRewindsAndHoldsTheFirstFrame) {
    ASSERT_TRUE(Open());
    for (const bool pausedFirst : {false, true}) {
        SCOPED_TRACE(pausedFirst);
        player->Play();
        script->Report(30 * kSecond);
        Settle();
        if (pausedFirst) {
            player->Pause();
        }
        ASSERT_EQ(player->Position(), 30 * kSecond);
        player->Stop();
        EXPECT_EQ(player->State(), PlayState::Stopped);
        EXPECT_EQ(player->Position(), 0);
        EXPECT_EQ(script->position, 0);
        EXPECT_TRUE(script->paused);
    }
    // A stopped clip stays where it is.
    player->SeekTo(10 * kSecond);
    Settle();
    player->Stop();
    EXPECT_EQ(player->Position(), 10 * kSecond);
}

TEST_F(PlayerStateTest, FailedRunOrPauseKeepsTheState) {
    ASSERT_TRUE(Open());
    script->run = kFailed;
    player->Play();
    EXPECT_EQ(player->State(), PlayState::Stopped);

    script->run = {};
    player->Play();
    ASSERT_EQ(player->State(), PlayState::Running);
    script->pause = kFailed;
    player->Pause();
    EXPECT_EQ(player->State(), PlayState::Running);
    EXPECT_EQ(Title(), "a.mpg  ");
    EXPECT_TRUE(messages.boxes.empty());
}

TEST_F(PlayerStateTest, EndOfClipWhilePlayingStopsAndRewinds) {
    script->duration = 50 * kSecond;
    ASSERT_TRUE(Open());
    player->Play();
    script->Advance(49 * kSecond);
    Settle();
    EXPECT_EQ(player->Position(), 49 * kSecond);
    script->Advance(2 * kSecond);
    Settle();
    EXPECT_EQ(player->State(), PlayState::Stopped);
    EXPECT_EQ(player->Position(), 0);
    EXPECT_EQ(script->position, 0);
    EXPECT_TRUE(script->paused);
}

// A seek while the selection plays, just as the core reaches the selection's end: the core
// pauses there before it takes the seek. Playing goes on from the seek's target.
TEST_F(PlayerStateTest, AnEndReachedBeforeASeekIsTakenDoesNotStopTheClip) {
    ASSERT_TRUE(Open());
    ASSERT_TRUE(player->PlayRange(10 * kSecond, 12 * kSecond, false));
    Settle();
    script->seeksLand = false;
    ASSERT_TRUE(player->SeekTo(3 * kSecond));
    // The end the core had before the seek, told after it was sent.
    script->paused = true;
    script->Post(EngineEvent::Of(EngineEvent::Kind::EndOfClip));
    Settle();
    EXPECT_EQ(player->State(), PlayState::Running);
    EXPECT_EQ(player->Position(), 3 * kSecond);
    script->Post(EngineEvent::Of(EngineEvent::Kind::SeekLanded));
    Settle();
    EXPECT_EQ(player->State(), PlayState::Running);
    EXPECT_FALSE(script->paused) << "the core was not told to play on";
    script->Advance(kSecond);
    Settle();
    EXPECT_EQ(player->Position(), 4 * kSecond);

    // The same end told late after a range ended: Play went on from the range's end.
    script->seeksLand = true;
    ASSERT_TRUE(player->PlayRange(5 * kSecond, 6 * kSecond, false));
    Settle();
    script->seeksLand = false;
    script->Advance(kSecond);  // the core holds at the range's end and tells of it
    Settle();
    ASSERT_EQ(player->State(), PlayState::Paused);
    EXPECT_EQ(player->Position(), 6 * kSecond);
    player->Play();
    script->Post(EngineEvent::Of(EngineEvent::Kind::EndOfClip));
    Settle();
    EXPECT_EQ(player->State(), PlayState::Running);
    EXPECT_EQ(player->Position(), 6 * kSecond);
    script->Post(EngineEvent::Of(EngineEvent::Kind::SeekLanded));
    Settle();
    EXPECT_FALSE(script->paused);
}

// Where the player is comes from what the engine observes, in media time (the engine's
// times less the track's lead); held after a seek it is where it was sent.
TEST_F(PlayerStateTest, ThePositionIsObservedAndExactWhileHeld) {
    const int64_t lead = 240'000;
    ASSERT_TRUE(Open("/media/clips/a.mpg", lead));
    QSignalSpy changes(player.get(), &PreviewPlayer::positionChanged);
    player->Play();
    script->Report(10 * kSecond + lead);
    Settle();
    EXPECT_EQ(player->Position(), 10 * kSecond);
    ASSERT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.last()[0].toLongLong(), 10 * kSecond);
    // The engine's start lies before the sound's by the lead: still time 0.
    script->Report(lead / 2);
    Settle();
    EXPECT_EQ(player->Position(), 0);

    // A seek tells its target at once, and sends the engine ahead by the lead.
    player->Pause();
    script->seeksLand = false;
    EXPECT_TRUE(player->SeekTo(25 * kSecond));
    EXPECT_EQ(player->Position(), 25 * kSecond);
    EXPECT_EQ(script->seeks.back(), 25 * kSecond + lead);
    // Until it lands, the engine's reports are of the old place.
    script->Report(3 * kSecond);
    Settle();
    EXPECT_EQ(player->Position(), 25 * kSecond);
    // Landed and held, it is where it was sent, though a sound-only core reads its audio
    // buffer's worth off there.
    script->Post(EngineEvent::Of(EngineEvent::Kind::SeekLanded));
    script->Report(25 * kSecond + lead - 2'000'000);
    Settle();
    EXPECT_EQ(player->Position(), 25 * kSecond);
    // Playing again, it follows the engine.
    player->Play();
    script->Report(26 * kSecond + lead);
    Settle();
    EXPECT_EQ(player->Position(), 26 * kSecond);
    // Negative targets go to 0.
    player->Pause();
    player->SeekTo(-5);
    EXPECT_EQ(player->Position(), 0);
    EXPECT_EQ(script->seeks.back(), lead);
}

TEST_F(PlayerStateTest, ReportsComeOnceASecondFromTheOpenOn) {
    QSignalSpy reports(player.get(), &PreviewPlayer::positionReport);
    ASSERT_TRUE(Open());
    // The first comes with the open: a seek right after it needs the duration.
    ASSERT_GE(reports.count(), 1);
    EXPECT_EQ(reports[0][1].toLongLong(), 600'000'000);
    player->Play();
    script->Report(7 * kSecond);
    ASSERT_TRUE(WaitFor([&] { return reports.count() >= 2; }, 3000));
    EXPECT_EQ(reports.last()[0].toLongLong(), 7 * kSecond);
    player->Close();
    const int sent = reports.count();
    ProcessEventsFor(1200);
    EXPECT_EQ(reports.count(), sent);
}

// Play selection, Play start and end, and Loop: each clears what the one before set, a
// range holds at its end, a loop goes on until something else is played, a seek or Stop
// ends either.
TEST_F(PlayerStateTest, RangesPlayHoldAndLoopUntilReleased) {
    const int64_t lead = 100'000;
    ASSERT_TRUE(Open("/media/clips/a.mpg", lead));
    ASSERT_TRUE(player->PlayRange(10 * kSecond, 20 * kSecond, true));
    EXPECT_EQ(player->State(), PlayState::Running);
    EXPECT_TRUE(player->IsLooping());
    EXPECT_EQ(script->loopFrom, 10 * kSecond + lead);
    EXPECT_EQ(script->loopTo, 20 * kSecond + lead);
    EXPECT_EQ(script->playEnd, -1);
    Settle();
    script->Advance(15 * kSecond);  // wraps back into the loop
    Settle();
    EXPECT_EQ(player->State(), PlayState::Running);
    EXPECT_LT(player->Position(), 20 * kSecond);

    // Released: the rest of the pass plays to the end and holds there, and never wraps.
    const int64_t now = player->Position();
    ASSERT_TRUE(player->PlayRange(now, 20 * kSecond, false));
    EXPECT_FALSE(player->IsLooping());
    EXPECT_TRUE(player->IsPlayingRange());
    EXPECT_EQ(script->loopFrom, -1);
    EXPECT_EQ(script->playEnd, 20 * kSecond + lead);
    Settle();
    script->Advance(30 * kSecond);
    Settle();
    EXPECT_EQ(player->State(), PlayState::Paused);
    EXPECT_EQ(player->Position(), 20 * kSecond);
    EXPECT_FALSE(player->IsPlayingRange());
    EXPECT_EQ(script->playEnd, -1);
    // Play goes on past it.
    player->Play();
    script->Advance(kSecond);
    Settle();
    EXPECT_EQ(player->Position(), 21 * kSecond);

    // A seek or Stop ends a range and a loop in the engine too.
    for (const bool stop : {false, true}) {
        SCOPED_TRACE(stop);
        ASSERT_TRUE(player->PlayRange(kSecond, 2 * kSecond, true));
        if (stop) {
            player->Stop();
        } else {
            player->SeekTo(5 * kSecond);
        }
        EXPECT_FALSE(player->IsLooping());
        EXPECT_EQ(script->loopFrom, -1);
        EXPECT_EQ(script->playEnd, -1);
    }
    EXPECT_FALSE(player->PlayRange(3 * kSecond, 3 * kSecond, false));
    EXPECT_FALSE(player->PlayRange(-1, 3 * kSecond, false));
}

TEST_F(PlayerStateTest, UnplayableFileGivesOneErrorBoxAndReleasesEverything) {
    // The load fails at once, or later, once the core has looked at the file.
    for (bool later : {false, true}) {
        SCOPED_TRACE(later);
        messages.boxes.clear();
        script->load = later ? EngineResult{} : EngineResult{-17, "loadfile"};
        script->loadFails = later;
        EXPECT_FALSE(Open());
        ASSERT_EQ(messages.boxes.size(), 1u);
        EXPECT_EQ(messages.boxes[0].caption, "Error");
        EXPECT_EQ(
            messages.boxes[0].text,
            "Cannot play the file.  The file is either corrupt or\nthe player does not support "
            "the format you are trying to play.\nIf you want more decoders, please visit our "
            "website.");
        EXPECT_EQ(player->State(), PlayState::Closed);
        EXPECT_EQ(player->Window(), nullptr);
        EXPECT_EQ(script->enginesAlive, 0);
        EXPECT_FALSE(script->viewAlive);
        EXPECT_TRUE(player->ClipPath().empty());
    }
}

TEST_F(PlayerStateTest, OtherOpenFailuresNameTheCallAndItsCode) {
    script->initialize = {-1, "mpv_create()"};
    EXPECT_FALSE(Open());
    ASSERT_EQ(messages.boxes.size(), 1u);
    EXPECT_EQ(messages.boxes[0].caption, "Message");
    EXPECT_EQ(messages.boxes[0].text, "FAILED(hr=0xffffffff) in mpv_create()\n");
    EXPECT_EQ(player->State(), PlayState::Closed);
    EXPECT_EQ(script->enginesAlive, 0);

    messages.boxes.clear();
    script->initialize = {};
    script->attach = {-20, "mpv_render_context_create(MPV_RENDER_API_TYPE_OPENGL)"};
    EXPECT_FALSE(Open());
    ASSERT_EQ(messages.boxes.size(), 1u);
    EXPECT_EQ(messages.boxes[0].text,
              "FAILED(hr=0xffffffec) in mpv_render_context_create(MPV_RENDER_API_TYPE_OPENGL)\n");
    EXPECT_EQ(player->Window(), nullptr);

    // No engine at all.
    messages.boxes.clear();
    player = std::make_unique<PreviewPlayer>(&dialog, PlaybackEngineFactory{}, messages);
    EXPECT_FALSE(Open());
    ASSERT_EQ(messages.boxes.size(), 1u);
    EXPECT_EQ(messages.boxes[0].caption, "Message");
}

TEST_F(PlayerStateTest, ASpareCoreStartedAheadIsTakenByTheNextOpen) {
    player->KeepSpareEngine(true);
    ASSERT_TRUE(WaitFor([&] { return player->HasSpareEngine(); }));  // before any open
    EXPECT_EQ(script->enginesAlive, 1);
    ASSERT_TRUE(player->Open("/media/clips/a.mpg", 0));
    // The clip plays on the spare; the next open's core starts once the clip has loaded.
    EXPECT_EQ(script->enginesAlive, 1);
    EXPECT_FALSE(player->HasSpareEngine());
    ASSERT_TRUE(WaitFor([&] { return player->HasSpareEngine(); }));
    EXPECT_EQ(player->State(), PlayState::Stopped);
    EXPECT_EQ(script->loadedPath, "/media/clips/a.mpg");
    EXPECT_EQ(script->enginesAlive, 2);
    player->Close();
    EXPECT_EQ(script->enginesAlive, 1);
    player->KeepSpareEngine(false);
    EXPECT_EQ(script->enginesAlive, 0);

    // A core that cannot start ahead says why when the open starts one, as without a spare.
    script->initialize = {-1, "mpv_initialize()"};
    player->KeepSpareEngine(true);
    ProcessEventsFor(200);
    EXPECT_FALSE(player->HasSpareEngine());
    EXPECT_EQ(script->enginesAlive, 0);
    EXPECT_TRUE(messages.boxes.empty());
    EXPECT_FALSE(Open());
    ASSERT_EQ(messages.boxes.size(), 1u);
    EXPECT_EQ(messages.boxes[0].text, "FAILED(hr=0xffffffff) in mpv_initialize()\n");
}

TEST_F(PlayerStateTest, CloseReleasesEverythingAndDisablesTransport) {
    ASSERT_TRUE(Open());
    player->Play();
    player->Close();
    EXPECT_EQ(player->State(), PlayState::Closed);
    EXPECT_FALSE(player->HasVideo());
    EXPECT_TRUE(player->ClipPath().empty());
    EXPECT_EQ(player->Window(), nullptr);
    EXPECT_EQ(script->enginesAlive, 0);
    EXPECT_FALSE(script->viewAlive);
    // Nothing to control any more.
    player->Play();
    player->Pause();
    player->Stop();
    EXPECT_FALSE(player->SeekTo(100));
    EXPECT_FALSE(player->PlayRange(0, 100, false));
    EXPECT_EQ(player->State(), PlayState::Closed);
    // And a destroyed player takes its clip along.
    ASSERT_TRUE(Open());
    player.reset();
    EXPECT_EQ(script->enginesAlive, 0);
    EXPECT_FALSE(script->viewAlive);
}

TEST_F(PlayerStateTest, ClosingTheWindowAsksTheOwnerWhoMayDestroyThePlayer) {
    ASSERT_TRUE(Open());
    bool asked = false;
    QObject::connect(player.get(), &PreviewPlayer::closeRequested, &dialog, [&] {
        asked = true;
        player.reset();
    });
    Window().close();
    // The window stays until the owner acts.
    ASSERT_NE(player, nullptr);
    EXPECT_TRUE(Window().isVisible());
    ASSERT_TRUE(WaitFor([&] { return asked; }));
    EXPECT_EQ(player, nullptr);
    EXPECT_EQ(script->enginesAlive, 0);

    // The menu's Close item takes the same way.
    player = std::make_unique<PreviewPlayer>(&dialog, ScriptedEngine::Factory(script), messages);
    ASSERT_TRUE(Open());
    asked = false;
    QObject::connect(player.get(), &PreviewPlayer::closeRequested, &dialog, [&] { asked = true; });
    Action("closeAction")->trigger();
    ASSERT_TRUE(WaitFor([&] { return asked; }));
}

}  // namespace
