#include "PreviewWindow.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

PreviewWindow::PreviewWindow()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      m_menu(new QMenu(tr("PREVIEW"), this)) {
    setWindowTitle(tr("Video Window"));
    setObjectName(QStringLiteral("PreviewWindow"));
    // The preview never decides when the program ends; the dialog does.
    setAttribute(Qt::WA_QuitOnClose, false);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(tr("Preview"));
    setAccessibleDescription(
        tr("The media file playing; the Menu key opens Play, Pause, "
           "Stop, Full screen and Close"));

    m_fullScreenAction =
        AddAction(tr("Full screen"), "fullScreenAction", &PreviewWindow::fullScreenRequested);
    m_fullScreenAction->setCheckable(true);
    m_normalSizeAction =
        AddAction(tr("Normal size"), "normalSizeAction", &PreviewWindow::normalSizeRequested);
    m_menu->addSeparator();
    m_playAction = AddAction(tr("Play"), "playAction", &PreviewWindow::playRequested);
    m_pauseAction = AddAction(tr("pause"), "pauseAction", &PreviewWindow::pauseRequested);
    m_stopAction = AddAction(tr("Stop"), "stopAction", &PreviewWindow::stopRequested);
    m_menu->addSeparator();
    // Close goes the way of the close box.
    m_closeAction = m_menu->addAction(tr("Close"));
    m_closeAction->setObjectName(QStringLiteral("closeAction"));
    connect(
        m_closeAction, &QAction::triggered, this, [this] { close(); }, Qt::QueuedConnection);

    m_pointerTimer.setInterval(kPointerTimerMs);
    connect(&m_pointerTimer, &QTimer::timeout, this, &PreviewWindow::pointerTimerFired);
}

PreviewWindow::~PreviewWindow() {
    m_pointerTimer.stop();
}

QAction* PreviewWindow::AddAction(const QString& text, const char* name,
                                  void (PreviewWindow::*request)()) {
    QAction* action = m_menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    // Queued, so that a command never runs inside the menu's own event handling, where
    // it might destroy the menu.
    connect(action, &QAction::triggered, this, request, Qt::QueuedConnection);
    return action;
}

void PreviewWindow::SetVideoView(QWidget* view) {
    m_video = view;
    if (m_video != nullptr) {
        m_video->setParent(this);
        m_video->setAccessibleName(tr("Picture"));
        m_video->setGeometry(rect());
        m_video->show();
    }
}

void PreviewWindow::PopupMenu(const QPoint& position, bool fullScreen, PlayState state) {
    m_fullScreenAction->setChecked(fullScreen);
    m_fullScreenAction->setEnabled(true);
    m_normalSizeAction->setEnabled(true);
    m_playAction->setEnabled(state != PlayState::Running);
    m_pauseAction->setEnabled(state != PlayState::Stopped && state != PlayState::Paused);
    m_stopAction->setEnabled(state != PlayState::Stopped);
    m_closeAction->setEnabled(true);
    m_menu->popup(mapToGlobal(position));
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
    // The owner closes the media, and with it this window.
    event->ignore();
    emit closeRequested();
}

void PreviewWindow::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        emit escapePressed();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void PreviewWindow::mouseMoveEvent(QMouseEvent* event) {
    emit mouseActivity();
    QWidget::mouseMoveEvent(event);
}

void PreviewWindow::mouseReleaseEvent(QMouseEvent* event) {
    switch (event->button()) {
        case Qt::LeftButton:
            emit leftClicked();
            return;
        case Qt::RightButton:
            emit rightClicked(event->position().toPoint());
            return;
        default:
            emit mouseActivity();
            QWidget::mouseReleaseEvent(event);
            return;
    }
}

void PreviewWindow::contextMenuEvent(QContextMenuEvent* event) {
    // The menu opens on the right button's release, handled above; the Menu key (or
    // Shift+F10) opens it too, for a keyboard.
    event->accept();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        emit rightClicked(event->pos());
    }
}

void PreviewWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    emit resized();
}

void PreviewWindow::paintEvent(QPaintEvent*) {
    // Black also fills the bars beside a full-screen picture.
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}
