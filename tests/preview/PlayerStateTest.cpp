#include "PlayerFixture.h"
#include "WaitFor.h"

namespace {

const EngineResult kFailed{-20, "mpv_set_property(\"pause\")"};

class PlayerStateTest : public PlayerFixture {};

TEST_F(PlayerStateTest, OpenLoadsTheClipStoppedWithoutPlaying) {
    player = std::make_unique<CPreviewPlayer>(&dialog, ScriptedEngine::Factory(script), messages);
    EXPECT_EQ(player->state(), Closed);
    ASSERT_TRUE(player->OpenMedia("/media/clips/a.mpg"));

    // The load goes on without the caller waiting; the window shows once it has ended.
    EXPECT_EQ(script->TakeCalls(), (Calls{"Initialize", "AttachVideo", "Load"}));
    EXPECT_EQ(script->loadedPath, "/media/clips/a.mpg");
    EXPECT_TRUE(player->isLoading());
    EXPECT_FALSE(Window().isVisible());
    ASSERT_TRUE(WaitFor([&] { return !player->isLoading(); }));
    EXPECT_EQ(player->state(), Stopped);
    EXPECT_TRUE(player->hasVideo());
    EXPECT_TRUE(Window().isVisible());
    EXPECT_EQ(Title(), "a.mpg  ");
    EXPECT_TRUE(Window().IsPolling());
    EXPECT_TRUE(messages.boxes.empty());
    // Sized to the picture.
    EXPECT_EQ(Window().size(), QSize(160, 120));
    EXPECT_EQ(Window().VideoView()->geometry(), QRect(0, 0, 160, 120));
}

TEST_F(PlayerStateTest, SoundOnlyClipKeepsTheWindowHiddenAndRefusesFullScreen) {
    script->hasVideo = false;
    ASSERT_TRUE(Open());
    EXPECT_FALSE(player->hasVideo());
    EXPECT_FALSE(Window().isVisible());
    EXPECT_FALSE(player->SwitchFullScreen());
    EXPECT_FALSE(player->isFullScreen());
    EXPECT_FALSE(Window().isVisible());

    player->Play();
    EXPECT_EQ(player->state(), Running);
}

TEST_F(PlayerStateTest, TransportFollowsTheStateTable) {
    ASSERT_TRUE(Open());

    // A stopped clip cannot be paused.
    player->Pause();
    EXPECT_EQ(script->TakeCalls(), Calls{});
    EXPECT_EQ(player->state(), Stopped);
    EXPECT_EQ(Title(), "a.mpg  ");

    player->Play();
    EXPECT_EQ(script->TakeCalls(), (Calls{"Run", "SetRate 1.000000"}));
    EXPECT_EQ(player->state(), Running);
    EXPECT_EQ(Title(), "a.mpg  ");

    // Play while running only sets the rate again.
    player->Play();
    EXPECT_EQ(script->TakeCalls(), (Calls{"SetRate 1.000000"}));
    EXPECT_EQ(player->state(), Running);

    player->Pause();
    EXPECT_EQ(script->TakeCalls(), (Calls{"Pause"}));
    EXPECT_EQ(player->state(), Paused);
    EXPECT_EQ(Title(), "a.mpg  (Paused)");

    player->Pause();
    EXPECT_EQ(script->TakeCalls(), Calls{});
    EXPECT_EQ(player->state(), Paused);

    player->Play();
    EXPECT_EQ(script->TakeCalls(), (Calls{"Run", "SetRate 1.000000"}));
    EXPECT_EQ(player->state(), Running);
    EXPECT_EQ(Title(), "a.mpg  ");
}

TEST_F(PlayerStateTest, StopRewindsAndHoldsTheFirstFrame) {
    ASSERT_TRUE(Open());
    script->current = 30'000'000;

    player->Play();
    script->TakeCalls();
    player->Stop();
    EXPECT_EQ(script->TakeCalls(), (Calls{"Stop", "Seek 0", "Pause"}));
    EXPECT_EQ(player->state(), Stopped);
    EXPECT_EQ(script->current, 0);

    // From paused, too.
    player->Play();
    player->Pause();
    script->current = 20'000'000;
    script->TakeCalls();
    player->Stop();
    EXPECT_EQ(script->TakeCalls(), (Calls{"Stop", "Seek 0", "Pause"}));
    EXPECT_EQ(player->state(), Stopped);
    EXPECT_EQ(Title(), "a.mpg  ");

    // A stopped clip stays where it is.
    script->current = 10'000'000;
    player->Stop();
    EXPECT_EQ(script->TakeCalls(), Calls{});
    EXPECT_EQ(script->current, 10'000'000);
}

TEST_F(PlayerStateTest, FailedRunOrPauseKeepsTheState) {
    ASSERT_TRUE(Open());
    script->run = kFailed;
    player->Play();
    EXPECT_EQ(player->state(), Stopped);

    script->run = {};
    player->Play();
    ASSERT_EQ(player->state(), Running);
    script->pause = kFailed;
    player->Pause();
    EXPECT_EQ(player->state(), Running);
    EXPECT_EQ(Title(), "a.mpg  ");
    EXPECT_TRUE(messages.boxes.empty());
}

TEST_F(PlayerStateTest, EndOfClipWhilePlayingStopsAndRewinds) {
    ASSERT_TRUE(Open());
    player->Play();
    script->current = 49'000'000;
    script->TakeCalls();

    Engine().Post(EngineEvent::EndOfClip);
    EXPECT_EQ(script->TakeCalls(), (Calls{"Stop", "Seek 0", "Pause"}));
    EXPECT_EQ(player->state(), Stopped);

    player->PollPosition();
    EXPECT_EQ(player->position(), 0);

    // Other events are taken and dropped.
    Engine().Post(EngineEvent::Other);
    EXPECT_EQ(script->TakeCalls(), Calls{});
    EXPECT_EQ(player->state(), Stopped);
}

TEST_F(PlayerStateTest, SeekClampsNegativeTargetsAndKeepsStateAndTitle) {
    ASSERT_TRUE(Open());
    player->Play();
    player->Pause();
    script->TakeCalls();

    EXPECT_EQ(player->SeekTo(-5), 0);
    EXPECT_EQ(script->TakeCalls(), (Calls{"Seek 0"}));
    EXPECT_EQ(player->SeekTo(12'345'678), 0);
    EXPECT_EQ(script->TakeCalls(), (Calls{"Seek 12345678"}));
    EXPECT_EQ(player->state(), Paused);
    EXPECT_EQ(Title(), "a.mpg  (Paused)");
}

TEST_F(PlayerStateTest, PollReportsPositionsQueuedAndKeepsThemOnFailure) {
    ASSERT_TRUE(Open());
    int reports = 0;
    QObject::connect(player.get(), &CPreviewPlayer::positionReport, [&] { ++reports; });
    script->current = 10'000'000;
    script->stop = 30'000'000;

    EXPECT_EQ(player->PollPosition(), 0);
    EXPECT_EQ(player->position(), 10'000'000);
    EXPECT_EQ(player->duration(), 30'000'000);
    // Queued like a posted message: it arrives from the event loop.
    EXPECT_EQ(reports, 0);
    ASSERT_TRUE(WaitFor([&] { return reports >= 1; }));
    const int sent = reports;

    // The position is unknown for a moment: the last values stay and nothing is sent.
    script->current = 20'000'000;
    script->currentRead = {-10, "mpv_get_property(\"time-pos\")"};
    EXPECT_LT(player->PollPosition(), 0);
    script->currentRead = {};
    script->stopRead = {-10, "mpv_get_property(\"duration\")"};
    EXPECT_LT(player->PollPosition(), 0);
    ProcessEventsFor(50);
    EXPECT_EQ(reports, sent);
    EXPECT_EQ(player->position(), 10'000'000);
    EXPECT_EQ(player->duration(), 30'000'000);
}

TEST_F(PlayerStateTest, PollTimerDrivesTheReports) {
    ASSERT_TRUE(Open());
    int reports = 0;
    QObject::connect(player.get(), &CPreviewPlayer::positionReport, [&] { ++reports; });
    script->current = 7'000'000;
    ASSERT_TRUE(WaitFor([&] { return reports >= 1; }, 3000));
    EXPECT_EQ(player->position(), 7'000'000);
}

TEST_F(PlayerStateTest, NoReportOnceTheDialogIsGone) {
    auto lateDialog = std::make_unique<QWidget>();
    player = std::make_unique<CPreviewPlayer>(lateDialog.get(), ScriptedEngine::Factory(script),
                                              messages);
    ASSERT_TRUE(player->OpenMedia("a.mpg"));
    ASSERT_TRUE(WaitFor([&] { return !player->isLoading(); }));
    int reports = 0;
    QObject::connect(player.get(), &CPreviewPlayer::positionReport, [&] { ++reports; });
    lateDialog.reset();
    EXPECT_EQ(player->PollPosition(), 0);
    ProcessEventsFor(50);
    EXPECT_EQ(reports, 0);
}

TEST_F(PlayerStateTest, UnplayableFileGivesOneErrorBoxAndReleasesEverything) {
    // The load fails at once, or later, once libmpv has looked at the file.
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
        EXPECT_EQ(player->state(), Closed);
        EXPECT_EQ(player->Window(), nullptr);
        EXPECT_EQ(player->Engine(), nullptr);
        EXPECT_FALSE(script->engineAlive);
        EXPECT_FALSE(script->viewAlive);
        EXPECT_TRUE(player->clipPath().empty());
    }
}

TEST_F(PlayerStateTest, OtherOpenFailuresNameTheCallAndItsCode) {
    script->initialize = {-1, "mpv_create()"};
    EXPECT_FALSE(Open());
    ASSERT_EQ(messages.boxes.size(), 1u);
    EXPECT_EQ(messages.boxes[0].caption, "Message");
    EXPECT_EQ(messages.boxes[0].text, "FAILED(hr=0xffffffff) in mpv_create()\n");
    EXPECT_EQ(player->state(), Closed);
    EXPECT_FALSE(script->engineAlive);

    messages.boxes.clear();
    script->initialize = {};
    script->attach = {-20, "mpv_render_context_create(MPV_RENDER_API_TYPE_OPENGL)"};
    EXPECT_FALSE(Open());
    ASSERT_EQ(messages.boxes.size(), 1u);
    EXPECT_EQ(messages.boxes[0].text,
              "FAILED(hr=0xffffffec) in mpv_render_context_create(MPV_RENDER_API_TYPE_OPENGL)\n");
    EXPECT_EQ(player->Window(), nullptr);
}

TEST_F(PlayerStateTest, CloseMediaReleasesEverythingAndDisablesTransport) {
    ASSERT_TRUE(Open());
    player->Play();
    player->CloseMedia();
    EXPECT_EQ(player->state(), Closed);
    EXPECT_FALSE(player->hasVideo());
    EXPECT_TRUE(player->clipPath().empty());
    EXPECT_EQ(player->Window(), nullptr);
    EXPECT_FALSE(script->engineAlive);
    EXPECT_FALSE(script->viewAlive);

    // Nothing to control any more.
    script->TakeCalls();
    player->Play();
    player->Pause();
    player->Stop();
    EXPECT_EQ(player->SeekTo(100), 0);
    EXPECT_EQ(player->PollPosition(), 0);
    EXPECT_EQ(player->state(), Closed);
}

TEST_F(PlayerStateTest, AGivenEngineServesOneOpen) {
    player = std::make_unique<CPreviewPlayer>(&dialog, std::make_unique<ScriptedEngine>(script),
                                              messages);
    ASSERT_TRUE(player->OpenMedia("b.mpg"));
    ASSERT_TRUE(WaitFor([&] { return !player->isLoading(); }));
    player->CloseMedia();
    EXPECT_FALSE(script->engineAlive);
    // No engine is left for a second clip: refused with a message, not a crash.
    EXPECT_FALSE(player->OpenMedia("b.mpg"));
    ASSERT_EQ(messages.boxes.size(), 1u);
    EXPECT_EQ(messages.boxes[0].caption, "Message");
    EXPECT_EQ(player->state(), Closed);
}

TEST_F(PlayerStateTest, DestroyingAnOpenPlayerClosesIt) {
    ASSERT_TRUE(Open());
    player.reset();
    EXPECT_FALSE(script->engineAlive);
    EXPECT_FALSE(script->viewAlive);
}

TEST_F(PlayerStateTest, ClosingTheWindowAsksTheOwnerWhoMayDestroyThePlayer) {
    ASSERT_TRUE(Open());
    bool asked = false;
    QObject::connect(player.get(), &CPreviewPlayer::closeRequested, &dialog, [&] {
        asked = true;
        // What the dialog's close-media command does.
        player->CloseMedia();
        player.reset();
    });
    Window().close();
    // The window stays until the owner acts.
    ASSERT_NE(player, nullptr);
    EXPECT_TRUE(Window().isVisible());
    ASSERT_TRUE(WaitFor([&] { return asked; }));
    EXPECT_EQ(player, nullptr);
    EXPECT_FALSE(script->engineAlive);

    // The menu's Close item takes the same way.
    ASSERT_TRUE(Open());
    asked = false;
    QObject::connect(player.get(), &CPreviewPlayer::closeRequested, &dialog, [&] { asked = true; });
    Action("closeAction")->trigger();
    ASSERT_TRUE(WaitFor([&] { return asked; }));
}

}  // namespace
