#include <QElapsedTimer>
#include <QImage>
#include <QSignalSpy>
#include <fstream>

#include "FfmpegAudioSource.h"
#include "MediaInfo.h"
#include "MpvCalls.h"
#include "MpvPlaybackEngine.h"
#include "PlayerFixture.h"
#include "TestMedia.h"
#include "TestUnits.h"
#include "WaitFor.h"

namespace {

constexpr int64_t kFrame = kSecond / 25;  // the clips run at 25 frames a second

// The first picture of an MPEG program stream sits a few milliseconds after the start of the
// file (the sound starts first), so "at the start" means before the second frame.
bool AtStart(int64_t position) {
    return position >= 0 && position < kFrame;
}

// The real libmpv engine, decoding and timing without showing or sounding anything. Once a
// clip has loaded, nothing may ask libmpv a question or wait for it on the GUI thread:
// every test ends by counting such calls.
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
    void TearDown() override {
        player->Close();
        MpvCalls::Arm(false);
        EXPECT_EQ(MpvCalls::Count(), 0) << "a synchronous libmpv call on the GUI thread after "
                                           "the clip had loaded: "
                                        << MpvCalls::Last();
    }

    // With `spare`, the player keeps a core started ahead, as the program's does, and the
    // open itself is watched for synchronous calls too.
    bool OpenReal(const std::string& path,
                  MpvPlaybackEngine::VideoOutput video = MpvPlaybackEngine::VideoOutput::None,
                  const MediaTimeline& timeline = MediaTimeline(), bool spare = false) {
        MpvCalls::Arm(false);
        player = std::make_unique<PreviewPlayer>(
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
        QObject::connect(player.get(), &PreviewPlayer::opened, [&](bool result) {
            ended = true;
            ok = result;
        });
        if (spare) {
            player->KeepSpareEngine(true);
            EXPECT_TRUE(WaitFor([&] { return player->HasSpareEngine(); }, 10000));
            MpvCalls::Arm(true);
        }
        if (!player->Open(path, 0, timeline)) {
            return false;
        }
        WaitFor([&] { return ended; }, 30000);
        MpvCalls::Arm(ok);
        return ok;
    }

    void SeekAndWait(int64_t target) {
        ASSERT_TRUE(player->SeekTo(target));
        ASSERT_TRUE(WaitFor([&] { return !player->IsSeeking(); }));
    }
    // Plays on from where the clip is held and tells where libmpv really starts: its
    // first observed position after the start.
    int64_t WhereItResumes() {
        QSignalSpy moved(player.get(), &PreviewPlayer::positionChanged);
        player->Play();
        EXPECT_TRUE(WaitFor([&] { return !moved.isEmpty(); }, 10000));
        const int64_t first = moved.isEmpty() ? -1 : moved.first()[0].toLongLong();
        player->Pause();
        return first;
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
    EXPECT_EQ(player->State(), PlayState::Stopped);
    EXPECT_TRUE(player->HasVideo());
    EXPECT_EQ(player->VideoSize(), QSize(160, 120));
    EXPECT_EQ(Window().size(), QSize(160, 120));
    EXPECT_EQ(Window().windowTitle(), "día 1.mpg  ");
    EXPECT_NEAR(static_cast<double>(player->Duration()), 5.0 * kSecond, 0.1 * kSecond);
    EXPECT_TRUE(AtStart(player->Position())) << player->Position();
    // It does not start by itself.
    ProcessEventsFor(300);
    EXPECT_TRUE(AtStart(player->Position())) << player->Position();
}

TEST_F(MpvEngineTest, ACoreStartedAheadOnAnotherThreadPlaysAndTheOpenWaitsForNothing) {
    ASSERT_TRUE(OpenReal(clip, MpvPlaybackEngine::VideoOutput::None, MediaTimeline(), true));
    // libmpv started on the spare's own thread; the open only sent the load.
    EXPECT_EQ(MpvCalls::Count(), 0) << MpvCalls::Last();
    player->Play();
    EXPECT_TRUE(WaitFor([&] { return player->Position() > kSecond; }, 10000));
    // The next open's core is started again once this clip has loaded.
    EXPECT_TRUE(WaitFor([&] { return player->HasSpareEngine(); }, 10000));
}

TEST_F(MpvEngineTest, PlayAdvancesAndPauseHolds) {
    ASSERT_TRUE(OpenReal(clip));
    player->Play();
    ASSERT_EQ(player->State(), PlayState::Running);
    ASSERT_TRUE(WaitFor([&] { return player->Position() > kSecond / 2; }, 10000));
    player->Pause();
    ASSERT_EQ(player->State(), PlayState::Paused);
    ProcessEventsFor(200);
    const int64_t held = player->Position();
    ProcessEventsFor(400);
    EXPECT_EQ(player->Position(), held);
    EXPECT_LT(held, 4 * kSecond);
}

// Held, the clip is where it was sent; and libmpv really is there: playing resumes from
// the target, within a frame, in a program stream and in a sound-only clip (whose own
// reading while held is off by its audio buffer), also after it has played to its end
// and with two seeks in flight at once.
TEST_F(MpvEngineTest, AHeldClipIsWhereItWasSentAndResumesThere) {
    const struct {
        std::string* path;
        int64_t slack;
    } cases[] = {{&clip, kFrame}, {&sound, kSecond / 50}};
    for (const auto& c : cases) {
        SCOPED_TRACE(*c.path);
        ASSERT_TRUE(OpenReal(*c.path));
        for (const bool ended : {false, true}) {
            if (ended) {
                SeekAndWait(2 * kSecond);
                player->Play();
                ASSERT_TRUE(WaitFor([&] { return player->State() == PlayState::Stopped; }, 15000));
            }
            for (const int64_t target : {23'400'000LL, 5'200'000LL, 12'575'000LL}) {
                SCOPED_TRACE(target);
                SeekAndWait(target);
                ProcessEventsFor(100);
                EXPECT_EQ(player->Position(), target);
                const int64_t resumed = WhereItResumes();
                EXPECT_GE(resumed, target - c.slack);
                EXPECT_LE(resumed, target + kSecond / 4);
            }
        }
        // A rewind at the end of a clip and a mark typed straight after it.
        EXPECT_TRUE(player->SeekTo(kSecond));
        EXPECT_TRUE(player->SeekTo(28'500'000LL));
        ASSERT_TRUE(WaitFor([&] { return !player->IsSeeking(); }));
        ProcessEventsFor(200);
        EXPECT_EQ(player->Position(), 28'500'000LL);
        const int64_t resumed = WhereItResumes();
        EXPECT_GE(resumed, 28'500'000LL - c.slack);
        EXPECT_LE(resumed, 28'500'000LL + kSecond / 4);
        player->Close();
    }
}

TEST_F(MpvEngineTest, ARunningClipPlaysOnFromTheTargetAndSeeksClamp) {
    ASSERT_TRUE(OpenReal(clip));
    SeekAndWait(-3 * kSecond);
    EXPECT_EQ(player->Position(), 0);
    player->Play();
    SeekAndWait(30'000'000);
    EXPECT_EQ(player->State(), PlayState::Running);
    ASSERT_TRUE(WaitFor([&] { return player->Position() > 30'000'000 + kFrame; }, 10000));
    EXPECT_LT(player->Position(), 40'000'000);
}

TEST_F(MpvEngineTest, EndOfClipStopsAndRewinds) {
    ASSERT_TRUE(OpenReal(clip));
    SeekAndWait(4 * kSecond);
    player->Play();
    ASSERT_TRUE(WaitFor([&] { return player->State() == PlayState::Stopped; }, 15000));
    // It tells the start at once, even while the rewind is under way, and stays there.
    EXPECT_EQ(player->Position(), 0);
    ProcessEventsFor(300);
    EXPECT_EQ(player->Position(), 0);
    EXPECT_EQ(player->State(), PlayState::Stopped);
    // It plays again from the start.
    player->Play();
    ASSERT_TRUE(WaitFor([&] { return player->Position() > kSecond / 4; }, 10000));
    EXPECT_LT(player->Position(), 2 * kSecond);
}

// Play selection: from a later place, the range plays and holds at its end within a frame
// (picture) or 10 ms (sound only); Play then goes on past it. A loop comes back until it is
// released: then it plays to the end of the selection, holds there and never wraps again.
TEST_F(MpvEngineTest, ARangePlaysAndHoldsAtItsEndAndALoopStopsWhenReleased) {
    const struct {
        std::string* path;
        int64_t slack;
    } cases[] = {{&clip, kFrame}, {&sound, kSecond / 100}};
    for (const auto& c : cases) {
        SCOPED_TRACE(*c.path);
        ASSERT_TRUE(OpenReal(*c.path));
        player->Play();
        ASSERT_TRUE(WaitFor([&] { return player->Position() > kSecond * 5 / 2; }, 10000));
        QElapsedTimer played;
        played.start();
        ASSERT_TRUE(player->PlayRange(kSecond, 2 * kSecond, false));
        ASSERT_TRUE(WaitFor([&] { return player->State() == PlayState::Paused; }, 10000));
        // It was heard, not skipped: a second of range takes about a second.
        EXPECT_GE(played.elapsed(), 800);
        EXPECT_FALSE(player->IsPlayingRange());
        ProcessEventsFor(200);
        EXPECT_NEAR(static_cast<double>(player->Position()), 2.0 * kSecond,
                    static_cast<double>(c.slack));
        player->Play();
        ASSERT_TRUE(WaitFor([&] { return player->Position() > 2 * kSecond + kSecond / 4; }, 10000));

        // Looped, the position comes back below the start of the range's second half.
        ASSERT_TRUE(player->PlayRange(kSecond / 2, kSecond, true));
        ASSERT_TRUE(WaitFor([&] { return player->Position() > kSecond * 9 / 10; }, 10000));
        ASSERT_TRUE(WaitFor([&] { return player->Position() < kSecond * 3 / 4; }, 5000));
        // Released: on to the end of the selection, held there, never back.
        ASSERT_TRUE(player->PlayRange(player->Position(), kSecond, false));
        int64_t lowest = player->Position();
        QObject::connect(player.get(), &PreviewPlayer::positionChanged,
                         [&](int64_t at) { lowest = std::min(lowest, at); });
        // (The null audio output drops what it holds at an end, so a short rest of the
        // pass may end a little early; it holds and does not come back.)
        ASSERT_TRUE(WaitFor([&] { return player->State() == PlayState::Paused; }, 5000));
        EXPECT_LE(player->Position(), kSecond + c.slack);
        ProcessEventsFor(1500);
        EXPECT_EQ(player->State(), PlayState::Paused);
        EXPECT_GE(lowest, kSecond / 2);
        player->Close();
    }
}

TEST_F(MpvEngineTest, SeekToTheEndOfAPausedClipDoesNotRewind) {
    ASSERT_TRUE(OpenReal(clip));
    player->Play();
    player->Pause();
    SeekAndWait(player->Duration() > 0 ? player->Duration() : 5 * kSecond);
    ProcessEventsFor(300);
    EXPECT_EQ(player->State(), PlayState::Paused);
    EXPECT_GT(player->Position(), 4 * kSecond);
}

TEST_F(MpvEngineTest, SoundOnlyFilePlaysWithTheWindowHidden) {
    ASSERT_TRUE(OpenReal(sound));
    EXPECT_FALSE(player->HasVideo());
    EXPECT_FALSE(Window().isVisible());
    EXPECT_FALSE(player->SwitchFullScreen());
    EXPECT_NEAR(static_cast<double>(player->Duration()), 3.0 * kSecond, 0.1 * kSecond);
    player->Play();
    ASSERT_TRUE(WaitFor([&] { return player->Position() > kSecond / 4; }, 10000));
}

TEST_F(MpvEngineTest, UnplayableFilesGiveOneErrorBoxAndLeaveNothingOpen) {
    const std::string empty = media->Path("empty.mpg");
    std::ofstream{empty};
    for (const std::string& path : {junk, empty, media->Path("missing.mpg")}) {
        messages.boxes.clear();
        EXPECT_FALSE(OpenReal(path)) << path;
        ASSERT_EQ(messages.boxes.size(), 1u) << path;
        EXPECT_EQ(messages.boxes[0].caption, "Error");
        EXPECT_EQ(messages.boxes[0].text.toStdString(), PreviewPlayer::kCannotPlayText);
        EXPECT_EQ(player->State(), PlayState::Closed);
        EXPECT_EQ(player->Window(), nullptr);
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
    EXPECT_EQ(player->VideoSize(), QSize(1920, 1080));
    QWidget* view = Window().VideoView();
    ASSERT_NE(view, nullptr);
    player->Play();
    ASSERT_TRUE(WaitFor([&] { return player->Position() > kSecond; }, 10000));
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

TEST_F(MpvEngineTest, AJoinedFilePlaysAndSeeksInItsContinuousTime) {
    // Three 2-second program streams joined end to end: the timestamps restart twice.
    std::vector<std::string> parts;
    for (const char* tone : {"300", "500", "700"}) {
        parts.push_back(
            media->Make(std::string("part") + tone + ".mpg",
                        std::string("-f lavfi -i testsrc=d=2:s=160x120:r=25 -f lavfi -i sine=f=") +
                            tone + ":d=2 -c:v mpeg1video -c:a mp2"));
    }
    const std::string joined = media->Join("joined.mpg", parts);
    MediaInfo info;
    FfmpegAudioSource probe;
    ASSERT_TRUE(probe.ProbeMedia(joined, info));
    ASSERT_EQ(info.timeline.Segments().size(), 3u);

    // Without the timeline libmpv sees the first part's times only.
    ASSERT_TRUE(OpenReal(joined));
    EXPECT_LT(player->Duration(), 3 * kSecond);
    player->Close();

    ASSERT_TRUE(OpenReal(joined, MpvPlaybackEngine::VideoOutput::None, info.timeline));
    EXPECT_NEAR(static_cast<double>(player->Duration()), static_cast<double>(info.duration),
                static_cast<double>(kFrame));
    // Into each part, and either side of the joins (at 2.0 s and 4.0 s or so): playing
    // resumes there. Each part's pictures end a little before its sound: a target between
    // them lands on the next part's first picture.
    struct Seek {
        int64_t target;
        int64_t within;
    };
    for (const Seek& seek :
         {Seek{12'000'000, kFrame}, Seek{31'000'000, kFrame}, Seek{55'000'000, kFrame},
          Seek{19'800'000, 3 * kFrame}, Seek{20'800'000, kFrame}, Seek{39'800'000, 3 * kFrame},
          Seek{40'800'000, kFrame}}) {
        SCOPED_TRACE(seek.target);
        SeekAndWait(seek.target);
        const int64_t resumed = WhereItResumes();
        EXPECT_GE(resumed, seek.target - kFrame);
        EXPECT_LE(resumed, seek.target + seek.within + kSecond / 4);
    }
    // Playing runs over the join into the third part.
    SeekAndWait(38'000'000);
    player->Play();
    ASSERT_TRUE(WaitFor([&] { return player->Position() > 42'000'000; }, 10000));
    EXPECT_LT(player->Position(), 50'000'000);
}

}  // namespace
