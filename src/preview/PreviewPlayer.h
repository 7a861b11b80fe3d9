#pragma once

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "EngineSupply.h"
#include "PlayState.h"
#include "PlaybackEngine.h"
#include "PreviewGeometry.h"
#include "PreviewMessages.h"

class PreviewScreen;
class PreviewWindow;

// The one preview player: plays the dialog's media file in a window of its own, with the
// play-state logic on top of a PlaybackEngine. It holds the state, the range being
// played, the track's lead and the clip's continuous timeline, and tells where playback
// is in media time: the time a conversion counts in, so that it plays at t the sample a
// cut from t begins with (the engine's times are ahead of it by the lead).
//
// Where it is comes from what the engine observes, as it comes: at most a frame old while
// playing. Held after a seek, it is where it was sent. Opening is asynchronous: Open
// starts it and opened() tells how it went. The window sends its input here as requests;
// the player alone changes its state. Everything runs on the GUI thread.
class PreviewPlayer final : public QObject {
    Q_OBJECT
  public:
    // `dialog` is what the window is placed against; `messages` shows every message box
    // and must outlive the player.
    PreviewPlayer(QWidget* dialog, PlaybackEngineFactory engines, PreviewMessages& messages,
                  QObject* parent = nullptr);
    ~PreviewPlayer() override;

    // Closes any clip and starts opening this one (UTF-8 path), played in the timeline's
    // continuous time with its sound `lead` behind its timestamps. False when that failed
    // at once (the user has been told and nothing is open); otherwise opened() follows.
    bool Open(const std::string& clipPath, int64_t lead,
              const MediaTimeline& timeline = MediaTimeline());
    void Close();
    bool IsOpen() const { return m_state != PlayState::Closed; }
    // The clip's timeline became known after it was opened: the clip is loaded again in
    // it, at the same place and playing or not as it was (once it has opened, if it is
    // still opening). The range being played ends.
    void Retime(const MediaTimeline& timeline, int64_t lead);

    void Play();
    void Pause();
    // Rewinds to the start and holds there.
    void Stop();
    // Goes to a media time and keeps the state; negative targets go to 0. False without a
    // clip.
    bool SeekTo(int64_t target);
    // Plays from `from` to `to` and holds there, or with `loop` over and over until stopped.
    // Whatever the range before it set is cleared; Stop or a seek ends it.
    bool PlayRange(int64_t from, int64_t to, bool loop);
    // Plays another audio track, whose sound lags its timestamps by `lead`.
    bool SelectAudioTrack(int number, int64_t lead);

    PlayState State() const { return m_state; }
    // Where playback is, in media time; and the clip's length.
    int64_t Position() const { return m_position; }
    int64_t Duration() const { return m_duration; }
    bool IsLoading() const { return m_loading; }
    // A seek is on its way: the engine has not yet started again where it was sent.
    bool IsSeeking() const { return m_seekPending; }
    bool HasVideo() const { return m_video; }
    // The picture's size; invalid while it is not known.
    QSize VideoSize() const { return m_videoSize; }
    bool IsPlayingRange() const { return m_rangeEnd >= 0; }
    bool IsLooping() const { return m_looping; }
    bool IsFullScreen() const;
    bool IsPointerHidden() const;
    const std::string& ClipPath() const { return m_clipPath; }

    bool SwitchFullScreen();
    // The window at the picture's own size, out of full screen.
    void ShowNormalSize();
    // Which room around the dialog the window takes; a shown window moves there.
    void SetRoom(PreviewGeometry::Room room);

    // Keeps a playback core started ahead, for the next open to take.
    void KeepSpareEngine(bool on) { m_engines.KeepSpare(on); }
    bool HasSpareEngine() const { return m_engines.HasSpare(); }

    // How often positionReport comes; tests that cannot wait a second shorten it.
    void SetReportInterval(int ms) { m_reportTimer.setInterval(ms); }
    // Milliseconds of a monotonic clock, wrapping at 32 bits; replaceable for tests.
    void SetClock(std::function<uint32_t()> clock) { m_clock = std::move(clock); }
    PreviewWindow* Window() const { return m_window.get(); }

    // Text of the box for a file that cannot be played.
    static const char* const kCannotPlayText;
    static constexpr int kReportIntervalMs = 1000;

  signals:
    // The open has ended: the clip plays, or it cannot and the player is closed. Queued.
    void opened(bool ok);
    // Where playback is, in media time, whenever that changes.
    void positionChanged(int64_t position);
    // Once a second while a clip is open: where it is and how long it is.
    void positionReport(int64_t position, int64_t duration);
    void stateChanged(PlayState state);
    // The user closed the preview window; the owner should close the media. Queued, so
    // the receiver may close the player.
    void closeRequested();
    // The user clicked the picture; it is or is not shown full screen.
    void pictureClicked(bool fullScreen);
    void fullScreenChanged(bool on);
    void menuClosed();

  private:
    void ShowCallFailure(const EngineResult& result, const std::string& why);
    void FinishOpen(const EngineEvent& loaded);
    // Loads the clip again in the timeline Retime gave.
    void Reload();
    void FinishReload(const EngineEvent& loaded);
    void AnnounceOpen();
    // The clip cannot be played: the user is told, the clip closed and opened(false) sent.
    void FailLoad();
    void HandleEngineEvents();
    void OnEngineEvent(const EngineEvent& event);
    void CreatePreviewWindow();
    void DestroyPreviewWindow();
    void SetState(PlayState state);
    void SetPosition(int64_t position);
    // Sends the engine to a media time.
    bool Send(int64_t target);
    // Back to playing the whole clip.
    void ClearRange();
    void EndOfRange();
    void OnRightClick(const QPoint& position);

    EngineSupply m_engines;
    PreviewMessages& m_messages;
    std::function<uint32_t()> m_clock;
    QPointer<QWidget> m_dialog;
    std::string m_clipPath;                    // UTF-8; empty when no clip is loaded
    std::unique_ptr<PlaybackEngine> m_engine;  // exists while a clip is open
    std::unique_ptr<PreviewWindow> m_window;
    std::unique_ptr<PreviewScreen> m_screen;  // lives with the window
    QTimer m_reportTimer;
    PlayState m_state = PlayState::Closed;
    bool m_loading = false;
    bool m_video = false;
    QSize m_videoSize;
    PreviewGeometry::Room m_room = PreviewGeometry::Room::AboveFirst;
    int64_t m_lead = 0;
    int64_t m_position = 0;
    int64_t m_duration = 0;
    // A seek is on its way: what the engine observes is still the old place.
    bool m_seekPending = false;
    // The core paused at an old end while a seek was on its way: it plays on once it lands.
    bool m_resumeOnLanding = false;
    // Held where the last seek sent it until it plays again.
    bool m_held = false;
    int64_t m_rangeEnd = -1;  // media time, while a range plays
    bool m_looping = false;
    // A timeline to load the clip in again once it has opened; and, while it loads again,
    // where to go on from.
    std::optional<MediaTimeline> m_retime;
    bool m_reloading = false;
    bool m_announceOpen = false;  // opened() waits for the load in the new timeline
    int64_t m_resumeAt = 0;
};
