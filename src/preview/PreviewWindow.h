#pragma once

#include <QTimer>
#include <QWidget>

#include "PlayState.h"

class QAction;
class QMenu;

// The preview's top-level window: holds the video, the context menu and the pointer's
// timer. It knows nothing of the player: its input goes out as requests, and the player
// tells it what to show.
class PreviewWindow final : public QWidget {
    Q_OBJECT
  public:
    PreviewWindow();
    ~PreviewWindow() override;

    void SetVideoView(QWidget* view);
    QWidget* VideoView() const { return m_video; }

    // Shows the context menu at a point of the window, greyed and checked for the
    // player's state, without waiting for a choice.
    void PopupMenu(const QPoint& position, bool fullScreen, PlayState state);
    void StartPointerTimer() { m_pointerTimer.start(); }
    void StopPointerTimer() { m_pointerTimer.stop(); }
    bool IsWatchingPointer() const { return m_pointerTimer.isActive(); }

    static constexpr int kPointerTimerMs = 50'000;

  signals:
    // The menu's commands; queued, so that none runs inside the menu's own event handling.
    void fullScreenRequested();
    void normalSizeRequested();
    void playRequested();
    void pauseRequested();
    void stopRequested();
    // The close box or the menu's Close: the window stays until the owner closes the media.
    void closeRequested();
    void escapePressed();
    void leftClicked();
    void rightClicked(const QPoint& position);
    void mouseActivity();
    void resized();
    void pointerTimerFired();  // full screen only: time to look at the idle pointer

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    QAction* AddAction(const QString& text, const char* name, void (PreviewWindow::*request)());

    QMenu* m_menu;
    QAction* m_fullScreenAction = nullptr;
    QAction* m_normalSizeAction = nullptr;
    QAction* m_playAction = nullptr;
    QAction* m_pauseAction = nullptr;
    QAction* m_stopAction = nullptr;
    QAction* m_closeAction = nullptr;
    QTimer m_pointerTimer;
    QWidget* m_video = nullptr;
};
