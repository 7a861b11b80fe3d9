#pragma once

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>

class PlaybackEngine;
class PreviewWindow;

// How the preview window stands on the screen: windowed at the picture's size or full
// screen, the pointer hidden after a while in full screen, and what a left click does
// with the dialog. It asks the engine only for the picture's size.
class PreviewScreen final {
  public:
    PreviewScreen(PreviewWindow& window, QWidget* dialog, std::function<uint32_t()> clock);

    void SetEngine(PlaybackEngine* engine) { m_engine = engine; }
    bool IsFullScreen() const { return m_fullScreen; }
    bool IsPointerHidden() const { return m_cursorCount < 0; }

    // Shows the picture in its window once the clip has loaded.
    void ShowVideo();
    // The window at the picture's own size (leaving full screen first).
    void ShowNormalSize();
    bool Switch();
    // Before the window goes: back from full screen, hidden.
    void Close();

    // Input from the window.
    void OnMouseActivity();
    void OnLeftClick();
    // After the context menu: the next full-screen click hides the dialog again.
    void OnMenuClosed();
    void OnEscape();
    void OnPointerTimer();
    void OnWindowResized();

    // What the next left click on a windowed preview does with the dialog; kept for the
    // whole run of the program, across previews.
    static bool s_dialogOnTop;

  private:
    bool Enter();
    bool Leave();
    void SizeToVideo();
    // The picture's size and place when it first shows: clear of the dialog.
    void PlaceForVideo();
    void ShowPointer();
    void HidePointer();

    PreviewWindow& m_window;
    QPointer<QWidget> m_dialog;
    std::function<uint32_t()> m_clock;
    PlaybackEngine* m_engine = nullptr;
    bool m_fullScreen = false;
    bool m_videoShown = false;
    bool m_clickHidesDialog = true;
    uint32_t m_lastMouseTime = 0;
    int m_cursorCount = 0;  // negative while the pointer is hidden
    QRect m_restoreRect;    // the window's geometry before full screen
};
