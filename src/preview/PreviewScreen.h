#pragma once

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "PreviewGeometry.h"

class PreviewWindow;

// How the preview window stands on the screen: windowed at the picture's size, clear of
// the dialog, or full screen, with the pointer hidden after a while in full screen. The
// player tells it what the clip's picture is.
class PreviewScreen final {
  public:
    PreviewScreen(PreviewWindow& window, QWidget* dialog, std::function<uint32_t()> clock);

    // Whether the clip has a picture, and its size (invalid while unknown).
    void SetVideo(bool video, const QSize& size);
    bool IsFullScreen() const { return m_fullScreen; }
    bool IsPointerHidden() const { return m_cursorCount < 0; }
    // Which room around the dialog the window takes; a shown window moves there.
    void SetRoom(PreviewGeometry::Room room);

    // Shows the picture in its window once the clip has loaded.
    void ShowVideo();
    // The window at the picture's own size (leaving full screen first).
    void ShowNormalSize();
    bool Switch();
    // Before the window goes: back from full screen, hidden.
    void Close();

    // Input from the window.
    void OnMouseActivity();
    void OnEscape();
    void OnPointerTimer();
    void OnWindowResized();

  private:
    bool Enter();
    bool Leave();
    void SizeToVideo();
    // The picture's size and place when it first shows: clear of the dialog.
    void PlaceForVideo();
    void ShowPointer();
    void HidePointer();
    // The picture's size; false without a picture or while its size is not known.
    bool VideoSize(QSize& size) const;

    PreviewWindow& m_window;
    QPointer<QWidget> m_dialog;
    std::function<uint32_t()> m_clock;
    bool m_video = false;
    QSize m_videoSize;
    bool m_fullScreen = false;
    bool m_videoShown = false;
    uint32_t m_lastMouseTime = 0;
    int m_cursorCount = 0;  // negative while the pointer is hidden
    QRect m_restoreRect;    // the window's geometry before full screen
    PreviewGeometry::Room m_room = PreviewGeometry::Room::AboveFirst;
    // The first window's corner, where a window above the dialog starts.
    QPoint m_firstCorner;
    bool m_placed = false;
};
