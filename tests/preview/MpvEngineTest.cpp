#include <QElapsedTimer>
#include <QImage>
#include <fstream>

#include "FfmpegAudioSource.h"
#include "MediaInfo.h"
#include "MpvPlaybackEngine.h"
#include "PlayerFixture.h"
#include "TestMedia.h"
#include "WaitFor.h"

namespace {

constexpr int64_t kSecond = 10'000'000;
constexpr int64_t kFrame = kSecond / 25;  // the clips run at 25 frames a second

// The first picture of an MPEG program stream sits a few milliseconds after the start of the
// file (the sound starts first), so "at the start" means before the second frame.
bool AtStart(int64_t position) {
    return position >= 0 && position < kFrame;
}

// The real libmpv engine, decoding and timing without showing or sounding anything.
class MpvEngineTest : public PlayerFixture {
  protected:
    static void SetUpTestSuite() {
        media = new TestMedia;
        clip = media->Make("día 1.mpg",
                           "-f lavfi -i testsrc=d=5:s=160x120:r=25 -f lavfi -i sine=d=5 "
                           "-c:v mpeg1video -c:a mp2");
        sound = media->Make("tone.mp2", "-f lavfi -i sine=d=3 -c:a mp2");
        junk = media->Path("junk.mpg");
        std::ofstream out(junk, std::ios::binary);
        for (int i = 0; i < 20000; ++i) {
            out.put(static_cast<char>((i * 7919 + 13) % 251));
        }
    }
    static void TearDownTestSuite() {
        delete media;
        media = nullptr;
    }

    bool OpenReal(const std::string& path,
                  MpvPlaybackEngine::VideoOutput video = MpvPlaybackEngine::VideoOutput::None,
                  const MediaTimeline& timeline = MediaTimeline()) {
        player = std::make_unique<CPreviewPlayer>(
            &dialog,
            [video] {
                MpvPlaybackEngine::Options options;
                options.video = video;
                options.audioOutput = "null";
                // The null output drops what it holds at the end instead of playing it
                // out as a sound card does; with small buffers it keeps to time.
                options.extra = {{"audio-buffer", "0.02"}, {"ao-null-buffer", "0.02"}};
                return std::make_unique<MpvPlaybackEngine>(options);
            },
            messages);
        // The load goes on in libmpv; the open ends with opened().
        bool ended = false;
        bool ok = false;
        QObject::connect(player.get(), &CPreviewPlayer::opened, [&](bool result) {
            ended = true;
            ok = result;
        });
        if (!player->OpenMedia(path, timeline)) {
            return false;
        }
        WaitFor([&] { return ended; }, 30000);
        return ok;
    }

    MpvPlaybackEngine& Mpv() { return *static_cast<MpvPlaybackEngine*>(player->Engine()); }

    // Polls until a position can be read and `done` holds for it.
    template <typename Condition>
    bool PollUntil(Condition done, int timeoutMs = 10000) {
        return WaitFor([&] { return player->PollPosition() == 0 && done(); }, timeoutMs);
    }

    void SeekAndWait(int64_t target) {
        const int restarts = Mpv().PlaybackRestarts();
        EXPECT_EQ(player->SeekTo(target), 0);
        ASSERT_TRUE(WaitFor([&] { return Mpv().PlaybackRestarts() > restarts; }));
        ASSERT_TRUE(PollUntil([] { return true; }));
    }

    static TestMedia* media;
    static std::string clip;
    static std::string sound;
    static std::string junk;
};

TestMedia* MpvEngineTest::media = nullptr;
std::string MpvEngineTest::clip;
std::string MpvEngineTest::sound;
std::string MpvEngineTest::junk;

TEST_F(MpvEngineTest, OpenGivesTheDurationAndHoldsTheStart) {
    ASSERT_TRUE(OpenReal(clip));
    EXPECT_TRUE(messages.boxes.empty());
    EXPECT_EQ(player->state(), Stopped);
    EXPECT_TRUE(player->hasVideo());
    QSize video;
    ASSERT_TRUE(Mpv().GetVideoSize(&video));
    EXPECT_EQ(video, QSize(160, 120));
    EXPECT_EQ(Window().size(), QSize(160, 120));
    EXPECT_EQ(Window().windowTitle(), "día 1.mpg  ");

    // The first picture is ready.
    ASSERT_TRUE(WaitFor([&] { return Mpv().PlaybackRestarts() > 0; }));
    ASSERT_TRUE(PollUntil([] { return true; }));
    EXPECT_NEAR(static_cast<double>(player->duration()), 5.0 * kSecond, 0.1 * kSecond);
    EXPECT_TRUE(AtStart(player->position())) << player->position();
    // It does not start by itself.
    const int64_t start = player->position();
    ProcessEventsFor(300);
    ASSERT_EQ(player->PollPosition(), 0);
    EXPECT_EQ(player->position(), start);
}

TEST_F(MpvEngineTest, PlayAdvancesAndPauseHolds) {
    ASSERT_TRUE(OpenReal(clip));
    player->Play();
    ASSERT_EQ(player->state(), Running);
    ASSERT_TRUE(PollUntil([&] { return player->position() > kSecond / 2; }));

    player->Pause();
    ASSERT_EQ(player->state(), Paused);
    ASSERT_TRUE(PollUntil([] { return true; }));
    const int64_t held = player->position();
    ProcessEventsFor(400);
    ASSERT_EQ(player->PollPosition(), 0);
    EXPECT_EQ(player->position(), held);
    EXPECT_LT(held, 4 * kSecond);
}

TEST_F(MpvEngineTest, SeekOnAProgramStreamLandsWithinOneFrame) {
    ASSERT_TRUE(OpenReal(clip));
    for (const int64_t target : {23'400'000LL, 5'200'000LL, 40'000'000LL, 12'360'000LL}) {
        SeekAndWait(target);
        EXPECT_NEAR(static_cast<double>(player->position()), static_cast<double>(target),
                    static_cast<double>(kFrame))
            << "target " << target;
    }
    EXPECT_EQ(player->state(), Stopped);
    EXPECT_EQ(Window().windowTitle(), "día 1.mpg  ");

    SeekAndWait(-3 * kSecond);
    EXPECT_TRUE(AtStart(player->position())) << player->position();

    // A running clip goes on playing from the target.
    player->Play();
    SeekAndWait(30'000'000);
    EXPECT_EQ(player->state(), Running);
    EXPECT_GE(player->position(), 30'000'000 - kFrame);
}

TEST_F(MpvEngineTest, EndOfClipStopsAndRewinds) {
    ASSERT_TRUE(OpenReal(clip));
    SeekAndWait(4 * kSecond);
    player->Play();
    ASSERT_TRUE(WaitFor([&] { return player->state() == Stopped; }, 15000));
    // The next report already tells the start, even while the rewind is under way.
    ASSERT_EQ(player->PollPosition(), 0);
    EXPECT_TRUE(AtStart(player->position())) << player->position();
    ASSERT_TRUE(PollUntil([&] { return AtStart(player->position()); }));
    // And it stays there, stopped.
    ProcessEventsFor(300);
    ASSERT_EQ(player->PollPosition(), 0);
    EXPECT_TRUE(AtStart(player->position())) << player->position();
    EXPECT_EQ(player->state(), Stopped);

    // It plays again from the start.
    player->Play();
    ASSERT_TRUE(PollUntil([&] { return player->position() > kSecond / 4; }));
}

// Play selection: from a later place, the range plays and holds at its end within a
// frame (picture) or 10 ms (sound only); Play then goes on past it. A loop comes back.
TEST_F(MpvEngineTest, ARangePlaysAndHoldsAtItsEnd) {
    const struct {
        std::string* path;
        int64_t slack;
    } cases[] = {{&clip, kFrame}, {&sound, kSecond / 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(*c.path);
        ASSERT_TRUE(OpenReal(*c.path));
        player->Play();
        ASSERT_TRUE(PollUntil([&] { return player->position() > kSecond * 5 / 2; }));
        QElapsedTimer played;
        played.start();
        ASSERT_TRUE(player->PlayRange(kSecond, 2 * kSecond, false));
        EXPECT_TRUE(player->isPlayingRange());
        ASSERT_TRUE(WaitFor([&] { return player->state() == Paused; }, 10000));
        // It was heard, not skipped: a second of range takes about a second.
        EXPECT_GE(played.elapsed(), 800);
        EXPECT_FALSE(player->isPlayingRange());
        ProcessEventsFor(200);
        EXPECT_NEAR(static_cast<double>(player->CurrentPosition()), 2.0 * kSecond,
                    static_cast<double>(c.slack));

        player->Play();
        ASSERT_TRUE(PollUntil([&] { return player->position() > 2 * kSecond + kSecond / 4; }));

        // Looped, the position comes back below the start of the range's second half.
        ASSERT_TRUE(player->PlayRange(kSecond / 2, kSecond, true));
        ASSERT_TRUE(PollUntil([&] { return player->position() > kSecond * 9 / 10; }));
        ASSERT_TRUE(PollUntil([&] { return player->position() < kSecond * 3 / 4; }, 5000));
        EXPECT_EQ(player->state(), Running);
        player->Stop();
        EXPECT_FALSE(player->isPlayingRange());
        player->CloseMedia();
    }
}

TEST_F(MpvEngineTest, SeekToTheEndOfAPausedClipDoesNotRewind) {
    ASSERT_TRUE(OpenReal(clip));
    player->Play();
    player->Pause();
    SeekAndWait(player->duration() > 0 ? player->duration() : 5 * kSecond);
    ProcessEventsFor(300);
    EXPECT_EQ(player->state(), Paused);
    ASSERT_EQ(player->PollPosition(), 0);
    EXPECT_GT(player->position(), 4 * kSecond);
}

// Marks are taken from a held clip: it is where it was sent, also in the last moments of a
// sound-only clip and after the clip has once played to its end.
TEST_F(MpvEngineTest, AHeldSoundOnlyClipIsWhereItWasSent) {
    ASSERT_TRUE(OpenReal(sound));
    for (const bool ended : {false, true}) {
        if (ended) {
            SeekAndWait(2 * kSecond);
            player->Play();
            ASSERT_TRUE(WaitFor([&] { return player->state() == Stopped; }, 15000));
        }
        for (const int64_t target : {28'500'000LL, 12'575'000LL, 0LL}) {
            SeekAndWait(target);
            ProcessEventsFor(200);
            EXPECT_NEAR(static_cast<double>(player->CurrentPosition()), static_cast<double>(target),
                        kSecond / 1000.0)
                << "target " << target << (ended ? " after the end" : "");
        }
    }
    // Two seeks in flight at once, as a rewind at the end of a clip and a mark typed
    // straight after it: the clip is where the second one sent it.
    const int restarts = Mpv().PlaybackRestarts();
    EXPECT_EQ(player->SeekTo(kSecond), 0);
    EXPECT_EQ(player->SeekTo(28'500'000LL), 0);
    ASSERT_TRUE(WaitFor([&] { return Mpv().PlaybackRestarts() > restarts; }));
    ProcessEventsFor(300);
    EXPECT_NEAR(static_cast<double>(player->CurrentPosition()), 28'500'000.0, kSecond / 1000.0);
}

TEST_F(MpvEngineTest, SoundOnlyFilePlaysWithTheWindowHidden) {
    ASSERT_TRUE(OpenReal(sound));
    EXPECT_FALSE(player->hasVideo());
    EXPECT_FALSE(Window().isVisible());
    EXPECT_FALSE(player->SwitchFullScreen());
    ASSERT_TRUE(PollUntil([] { return true; }));
    EXPECT_NEAR(static_cast<double>(player->duration()), 3.0 * kSecond, 0.1 * kSecond);
    player->Play();
    ASSERT_TRUE(PollUntil([&] { return player->position() > kSecond / 4; }));
}

TEST_F(MpvEngineTest, UnplayableFilesGiveOneErrorBoxAndLeaveNothingOpen) {
    const std::string empty = media->Path("empty.mpg");
    std::ofstream{empty};
    for (const std::string& path : {junk, empty, media->Path("missing.mpg")}) {
        messages.boxes.clear();
        EXPECT_FALSE(OpenReal(path)) << path;
        ASSERT_EQ(messages.boxes.size(), 1u) << path;
        EXPECT_EQ(messages.boxes[0].caption, "Error");
        EXPECT_EQ(messages.boxes[0].text.toStdString(), CPreviewPlayer::kCannotPlayText);
        EXPECT_EQ(player->state(), Closed);
        EXPECT_EQ(player->Window(), nullptr);
        EXPECT_EQ(player->Engine(), nullptr);
    }
}

TEST_F(MpvEngineTest, AFullHdClipPlaysAndIsDrawnUnderTheAllocationCap) {
    // The test main caps FFmpeg's allocations as the programs do; libmpv shares that
    // libavutil, and its decoder and software scaler must still work at full size.
    TestMedia big;
    const std::string clip = big.Make("full-hd.mkv",
                                      "-f lavfi -i testsrc2=d=2:s=1920x1080:r=25 -f lavfi -i "
                                      "sine=d=2 -c:v libx264 -preset ultrafast -c:a aac");
    ASSERT_TRUE(OpenReal(clip, MpvPlaybackEngine::VideoOutput::Software));
    EXPECT_TRUE(messages.boxes.empty());
    QSize video;
    ASSERT_TRUE(Mpv().GetVideoSize(&video));
    EXPECT_EQ(video, QSize(1920, 1080));
    QWidget* view = Window().VideoView();
    ASSERT_NE(view, nullptr);
    player->Play();
    ASSERT_TRUE(PollUntil([&] { return player->position() > kSecond; }));
    // A frame taken from the software renderer has the picture's colours, not black.
    const QImage shot = view->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    int coloured = 0;
    for (int y = 0; y < shot.height(); y += 16) {
        for (int x = 0; x < shot.width(); x += 16) {
            coloured += qGray(shot.pixel(x, y)) > 32 ? 1 : 0;
        }
    }
    EXPECT_GT(coloured, 10);
    EXPECT_TRUE(messages.boxes.empty());
}

TEST_F(MpvEngineTest, NoPictureOutputUnderTheOffscreenPlatform) {
    EXPECT_EQ(MpvPlaybackEngine::ChooseVideoOutput(), MpvPlaybackEngine::VideoOutput::None);
}

}  // namespace

TEST_F(MpvEngineTest, AJoinedFilePlaysAndSeeksInItsContinuousTime) {
    // Three 2-second program streams joined end to end: the timestamps restart twice.
    const std::string joined = media->Path("joined.mpg");
    {
        std::ofstream out(joined, std::ios::binary);
        for (const char* tone : {"300", "500", "700"}) {
            const std::string part = media->Make(
                std::string("part") + tone + ".mpg",
                std::string("-f lavfi -i testsrc=d=2:s=160x120:r=25 -f lavfi -i sine=f=") + tone +
                    ":d=2 -c:v mpeg1video -c:a mp2");
            out << std::ifstream(part, std::ios::binary).rdbuf();
        }
    }
    MediaInfo info;
    FfmpegAudioSource probe;
    ASSERT_TRUE(probe.ProbeMedia(joined, info));
    ASSERT_EQ(info.timeline.Segments().size(), 3u);

    // Without the timeline libmpv sees the first part's times only.
    ASSERT_TRUE(OpenReal(joined));
    EXPECT_LT(player->duration(), 3 * kSecond);
    player->CloseMedia();

    ASSERT_TRUE(OpenReal(joined, MpvPlaybackEngine::VideoOutput::None, info.timeline));
    ASSERT_TRUE(PollUntil([&] { return player->duration() > 0; }));
    EXPECT_NEAR(static_cast<double>(player->duration()), static_cast<double>(info.duration),
                static_cast<double>(kFrame));
    // Into each part, and either side of the joins (at 2.0 s and 4.0 s or so). Each part's
    // pictures end a little before its sound: a target between them lands on the next
    // part's first picture.
    struct Seek {
        int64_t target;
        int64_t within;
    };
    for (const Seek& seek :
         {Seek{12'000'000, kFrame}, Seek{31'000'000, kFrame}, Seek{55'000'000, kFrame},
          Seek{19'800'000, 3 * kFrame}, Seek{20'800'000, kFrame}, Seek{39'800'000, 3 * kFrame},
          Seek{40'800'000, kFrame}}) {
        SeekAndWait(seek.target);
        EXPECT_GE(player->position(), seek.target - kFrame) << "target " << seek.target;
        EXPECT_LE(player->position(), seek.target + seek.within) << "target " << seek.target;
    }
    // Playing runs over the join into the third part.
    SeekAndWait(38'000'000);
    player->Play();
    ASSERT_TRUE(PollUntil([&] { return player->position() > 42'000'000; }));
    EXPECT_LT(player->position(), 50'000'000);
}
