#pragma once

#include <QMenu>
#include <QTimer>
#include <QWidget>

class CPreviewPlayer;
class QAction;

// The preview's top-level window: holds the video, the context menu and the two timers,
// and passes its input to the player.
class PreviewWindow : public QWidget {
    Q_OBJECT
  public:
    explicit PreviewWindow(CPreviewPlayer& player);
    ~PreviewWindow() override;

    void SetVideoView(QWidget* view);
    QWidget* VideoView() const { return m_pVideo; }

    // Greys and checks the menu items for the player's state.
    void UpdateMenuStates();
    // Shows the context menu at a point of the window, without waiting for a choice.
    void PopupMenu(const QPoint& position);

    QMenu m_menu;
    QAction* m_pFullScreen;
    QAction* m_pNormalSize;
    QAction* m_pPlay;
    QAction* m_pPause;
    QAction* m_pStop;
    QAction* m_pClose;

    QTimer m_pointerTimer;  // full screen only: hides an idle pointer
    QTimer m_pollTimer;     // the position poll

    static constexpr int kPointerTimerMs = 50'000;
    static constexpr int kPollTimerMs = 1000;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    CPreviewPlayer& m_player;
    QWidget* m_pVideo = nullptr;
};
