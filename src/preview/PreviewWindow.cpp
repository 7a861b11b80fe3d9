#include "PreviewWindow.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "CPreviewPlayer.h"

PreviewWindow::PreviewWindow(CPreviewPlayer& player)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_menu(QStringLiteral("PREVIEW")),
      m_player(player) {
    setWindowTitle(QStringLiteral("Video Window"));
    setObjectName(QStringLiteral("PreviewWindow"));
    // The preview never decides when the program ends; the dialog does.
    setAttribute(Qt::WA_QuitOnClose, false);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);

    m_pFullScreen = m_menu.addAction(QStringLiteral("Full screen"));
    m_pFullScreen->setCheckable(true);
    m_pNormalSize = m_menu.addAction(QStringLiteral("Normal size"));
    m_menu.addSeparator();
    m_pPlay = m_menu.addAction(QStringLiteral("Play"));
    m_pPause = m_menu.addAction(QStringLiteral("pause"));
    m_pStop = m_menu.addAction(QStringLiteral("Stop"));
    m_menu.addSeparator();
    m_pClose = m_menu.addAction(QStringLiteral("Close"));

    // Queued, so that a command never runs inside the menu's own event handling, where it
    // might destroy the menu.
    connect(
        m_pFullScreen, &QAction::triggered, this, [this] { m_player.SwitchFullScreen(); },
        Qt::QueuedConnection);
    connect(
        m_pNormalSize, &QAction::triggered, this, [this] { m_player.InitVideoWindow(1, 1); },
        Qt::QueuedConnection);
    connect(
        m_pPlay, &QAction::triggered, this, [this] { m_player.Play(); }, Qt::QueuedConnection);
    connect(
        m_pPause, &QAction::triggered, this, [this] { m_player.Pause(); }, Qt::QueuedConnection);
    connect(
        m_pStop, &QAction::triggered, this, [this] { m_player.Stop(); }, Qt::QueuedConnection);
    connect(
        m_pClose, &QAction::triggered, this, [this] { close(); }, Qt::QueuedConnection);

    m_pointerTimer.setInterval(kPointerTimerMs);
    connect(&m_pointerTimer, &QTimer::timeout, this, [this] { m_player.OnPointerTimer(); });
    m_pollTimer.setInterval(kPollTimerMs);
    connect(&m_pollTimer, &QTimer::timeout, this, [this] { m_player.PollPosition(); });
}

PreviewWindow::~PreviewWindow() {
    m_pointerTimer.stop();
    m_pollTimer.stop();
}

void PreviewWindow::SetVideoView(QWidget* view) {
    m_pVideo = view;
    if (m_pVideo != nullptr) {
        m_pVideo->setParent(this);
        m_pVideo->setGeometry(rect());
        m_pVideo->show();
    }
}

void PreviewWindow::UpdateMenuStates() {
    m_pFullScreen->setChecked(m_player.m_bFullScreen);
    const int state = m_player.m_nPlayState;
    m_pFullScreen->setEnabled(true);
    m_pNormalSize->setEnabled(true);
    m_pPlay->setEnabled(state != Running);
    m_pPause->setEnabled(state != Stopped && state != Paused);
    m_pStop->setEnabled(state != Stopped);
    m_pClose->setEnabled(true);
}

void PreviewWindow::PopupMenu(const QPoint& position) {
    UpdateMenuStates();
    m_menu.popup(mapToGlobal(position));
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
    // The dialog closes the media, and with it this window.
    event->ignore();
    m_player.OnCloseAsked();
}

void PreviewWindow::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        m_player.OnEscape();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void PreviewWindow::mouseMoveEvent(QMouseEvent* event) {
    m_player.OnMouseActivity();
    QWidget::mouseMoveEvent(event);
}

void PreviewWindow::mouseReleaseEvent(QMouseEvent* event) {
    switch (event->button()) {
        case Qt::LeftButton:
            m_player.OnLeftClick();
            return;
        case Qt::RightButton:
            m_player.OnRightClick(event->position().toPoint());
            return;
        default:
            m_player.OnMouseActivity();
            QWidget::mouseReleaseEvent(event);
            return;
    }
}

void PreviewWindow::contextMenuEvent(QContextMenuEvent* event) {
    // The menu opens on the right button's release, handled above.
    event->accept();
}

void PreviewWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_player.OnWindowResized();
}

void PreviewWindow::paintEvent(QPaintEvent*) {
    // Black also fills the bars beside a full-screen picture.
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}
