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

class PreviewWindow;

enum PlayState {
    Stopped = 0,  // loaded, not playing; after Stop it is held paused at position 0
    Paused = 1,   // paused by the user
    Running = 2,  // playing
    Closed = 3,   // nothing loaded
};

// The preview player: plays the dialog's media file in a window of its own, reports the
// position once a second, and carries the play-state logic on top of a PlaybackEngine.
// Everything runs on the GUI thread.
class CPreviewPlayer : public QObject {
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

    // Opens m_szClipPath: creates the window, loads the clip and shows its first frame.
    // The clip does not play. On failure the user has been told, everything is released
    // and the state is Closed.
    bool OpenMedia();
    void CloseMedia();
    void Play();
    void Pause();
    void Stop();
    // Absolute seek in media time; negative targets seek to 0. The state is kept.
    int SeekTo(int64_t target);
    // Reads both positions and, when that worked, sends positionReport().
    int PollPosition();
    // Takes every waiting engine event; the end of the clip stops and rewinds it.
    int DrainGraphEvents();
    void ShowFailure(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // The preview window's side.
    bool CreatePreviewWindow();
    void DestroyPreviewWindow();
    int InitVideoWindow(int multiplier, int divider);
    void RefreshTitle();
    bool EnterFullScreen();
    bool LeaveFullScreen();
    bool SwitchFullScreen();
    // Input from the preview window.
    void OnMouseActivity();
    void OnLeftClick();
    void OnRightClick(const QPoint& position);
    void OnEscape();
    void OnPointerTimer();
    void OnCloseAsked();
    void OnWindowResized();

    // Milliseconds of a monotonic clock, wrapping at 32 bits; replaceable for tests.
    void SetClock(std::function<uint32_t()> clock) { m_clock = std::move(clock); }
    PreviewWindow* Window() const { return m_hWnd.get(); }
    PlaybackEngine* Engine() const { return m_pEngine.get(); }

    QPointer<QWidget> m_hWndDialog;
    std::string m_szClipPath;  // UTF-8; empty when no clip is loaded
    bool m_bNoVideo = false;
    bool m_bFullScreen = false;
    int m_nPlayState = Closed;
    bool m_bVideoShown = false;
    std::unique_ptr<PlaybackEngine> m_pEngine;  // exists while a clip is open
    std::unique_ptr<PreviewWindow> m_hWnd;
    bool m_bWindowCreated = false;
    uint32_t m_dwLastMouseTime = 0;
    int m_nCursorCount = 0;  // negative while the pointer is hidden
    QRect m_rcRestore;       // the window's geometry before full screen
    int64_t m_rtCurrent = 0;
    int64_t m_rtStop = 0;
    bool m_bClickHidesDialog = true;

    // What the next left click on a windowed preview does with the dialog; kept for the
    // whole run of the program, across previews.
    static bool s_bDialogOnTop;

    // Text of the box for a file that cannot be played.
    static const char* const kCannotPlayText;

  signals:
    // Once a second, queued: the receiver reads m_rtCurrent and m_rtStop.
    void positionReport();
    // The user closed the preview window; the owner should close the media. The window
    // itself stays until then. Queued, so the receiver may destroy the player.
    void closeRequested();

  private:
    bool BuildClip();
    uint32_t Now() const;
    void ShowPointer();
    void HidePointer();

    PlaybackEngineFactory m_engineFactory;
    PreviewMessages& m_messages;
    std::function<uint32_t()> m_clock;
};
