#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "PlaybackEngine.h"
#include "PreviewMessages.h"

class PreviewScreen;
class PreviewWindow;

enum PlayState {
    Stopped = 0,  // loaded, not playing; after Stop it is held paused at position 0
    Paused = 1,   // paused by the user
    Running = 2,  // playing
    Closed = 3,   // nothing loaded
};

// The preview player: plays the dialog's media file in a window of its own, reports the
// position once a second, and carries the play-state logic on top of a PlaybackEngine.
// Opening is asynchronous: OpenMedia starts it and opened() tells how it went. The
// window sends its input here as requests; the player alone changes its state.
// Everything runs on the GUI thread.
class CPreviewPlayer final : public QObject {
    Q_OBJECT
  public:
    // `dialog` receives nothing directly but is moved in front of or behind the video;
    // `messages` shows every message box and must outlive the player.
    CPreviewPlayer(QWidget* dialog, PlaybackEngineFactory engineFactory, PreviewMessages& messages,
                   QObject* parent = nullptr);
    // The same with one engine for the one clip this player will open.
    CPreviewPlayer(QWidget* dialog, std::unique_ptr<PlaybackEngine> engine,
                   PreviewMessages& messages, QObject* parent = nullptr);
    // Closes the clip if the owner has not done so.
    ~CPreviewPlayer() override;

    // Starts opening the clip (UTF-8 path): creates the window and has the engine load
    // it, to be played in the timeline's continuous time. False when that failed at once;
    // otherwise opened() follows. On failure the user has been told, everything is
    // released and the state is Closed.
    bool OpenMedia(const std::string& clipPath, const MediaTimeline& timeline = MediaTimeline());
    void CloseMedia();
    void Play();
    void Pause();
    void Stop();
    // Absolute seek in media time; negative targets seek to 0. The state is kept.
    int SeekTo(int64_t target);
    // Reads both positions and, when that worked, sends positionReport().
    int PollPosition();
    // The position at this moment, read from the engine; the last poll's when the
    // engine cannot tell it now.
    int64_t CurrentPosition();
    // Plays from `from` to `to` and pauses there; with `loop` plays it over and over
    // until stopped. Stop or a seek ends the range.
    bool PlayRange(int64_t from, int64_t to, bool loop);
    bool isPlayingRange() const { return m_rangeEnd >= 0; }
    bool isLooping() const { return m_looping; }
    bool SelectAudioTrack(int number);

    PlayState state() const { return m_state; }
    // The positions of the last poll, in media time.
    int64_t position() const { return m_current; }
    int64_t duration() const { return m_stop; }
    bool isLoading() const { return m_loading; }
    bool hasVideo() const { return !m_noVideo; }
    bool isFullScreen() const;
    bool isPointerHidden() const;
    const std::string& clipPath() const { return m_clipPath; }

    bool SwitchFullScreen();
    // The window at the picture's own size, out of full screen.
    void ShowNormalSize();

    // Milliseconds of a monotonic clock, wrapping at 32 bits; replaceable for tests.
    void SetClock(std::function<uint32_t()> clock) { m_clock = std::move(clock); }
    PreviewWindow* Window() const { return m_window.get(); }
    PlaybackEngine* Engine() const { return m_engine.get(); }

    // Text of the box for a file that cannot be played.
    static const char* const kCannotPlayText;

  signals:
    // The open has ended: the clip plays, or it cannot and the player is closed.
    void opened(bool ok);
    // Once a second, queued: the receiver reads position() and duration().
    void positionReport();
    // The user closed the preview window; the owner should close the media. The window
    // itself stays until then. Queued, so the receiver may destroy the player.
    void closeRequested();

  private:
    void ShowFailure(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void ShowCallFailure(const EngineResult& result);
    void FinishOpen();
    void HandleEngineEvents();
    void CreatePreviewWindow();
    void DestroyPreviewWindow();
    void RefreshTitle();
    // Back to playing the whole clip.
    void ClearRange();
    void EndOfRange();
    void OnRightClick(const QPoint& position);
    void OnCloseAsked();

    PlaybackEngineFactory m_engineFactory;
    PreviewMessages& m_messages;
    std::function<uint32_t()> m_clock;

    QPointer<QWidget> m_dialog;
    std::string m_clipPath;                    // UTF-8; empty when no clip is loaded
    std::unique_ptr<PlaybackEngine> m_engine;  // exists while a clip is open
    std::unique_ptr<PreviewWindow> m_window;
    std::unique_ptr<PreviewScreen> m_screen;  // lives with the window
    PlayState m_state = Closed;
    bool m_loading = false;
    bool m_noVideo = false;
    int64_t m_current = 0;
    int64_t m_stop = 0;
    int64_t m_rangeEnd = -1;  // while a range plays
    bool m_looping = false;
};
