#include "PreviewScreen.h"

#include <QScreen>
#include <QWindow>

#include "PreviewGeometry.h"
#include "PreviewWindow.h"

namespace {

constexpr uint32_t kPointerIdleMs = 100'000;

}  // namespace

PreviewScreen::PreviewScreen(PreviewWindow& window, QWidget* dialog,
                             std::function<uint32_t()> clock)
    : m_window(window), m_dialog(dialog), m_clock(std::move(clock)) {}

void PreviewScreen::ShowVideo() {
    PlaceForVideo();
    m_videoShown = true;
    OnWindowResized();
    m_window.showNormal();
    m_window.raise();
    m_window.activateWindow();
    m_window.setFocus();
}

void PreviewScreen::ShowNormalSize() {
    if (m_fullScreen && m_videoShown) {
        Leave();
    }
    SizeToVideo();
}

bool PreviewScreen::Switch() {
    return m_fullScreen ? Leave() : Enter();
}

void PreviewScreen::Close() {
    m_window.hide();
    if (m_fullScreen) {
        m_videoShown = false;
        Leave();
        m_window.hide();
    }
    m_window.StopPointerTimer();
}

void PreviewScreen::SetVideo(bool video, const QSize& size) {
    m_video = video;
    m_videoSize = size;
    OnWindowResized();
}

bool PreviewScreen::VideoSize(QSize& size) const {
    if (!m_video || !m_videoSize.isValid() || m_videoSize.isEmpty()) {
        return false;
    }
    size = m_videoSize;
    return true;
}

void PreviewScreen::PlaceForVideo() {
    QSize video;
    if (!VideoSize(video)) {
        return;
    }
    QScreen* screen = m_dialog ? m_dialog->screen() : m_window.screen();
    if (screen == nullptr || !m_dialog) {
        SizeToVideo();
        return;
    }
    QSize frame = m_window.frameGeometry().size() - m_window.geometry().size();
    if (frame.isEmpty()) {
        // Not framed yet before its first showing: the dialog's frame, by the same window
        // manager, stands in, so that the frame to come does not cover the dialog.
        frame = m_dialog->frameGeometry().size() - m_dialog->geometry().size();
    }
    if (!m_placed) {
        m_firstCorner = m_window.frameGeometry().topLeft();
        m_placed = true;
    }
    const QRect placed =
        PreviewGeometry::VideoWindowRect(screen->availableGeometry(), m_dialog->frameGeometry(),
                                         m_firstCorner, video, frame, m_room);
    if (placed.isNull()) {
        SizeToVideo();
        return;
    }
    m_window.move(placed.topLeft());
    m_window.setFixedSize(placed.size());
    m_window.raise();
    OnWindowResized();
}

void PreviewScreen::SetRoom(PreviewGeometry::Room room) {
    if (room == m_room) {
        return;
    }
    m_room = room;
    if (m_videoShown && !m_fullScreen) {
        PlaceForVideo();
    }
}

void PreviewScreen::SizeToVideo() {
    QSize video;
    if (!VideoSize(video)) {
        // No picture, or its size is not known: the window keeps its size and the
        // picture is scaled into it.
        return;
    }
    m_window.setFixedSize(video);
    m_window.raise();
    OnWindowResized();
}

bool PreviewScreen::Enter() {
    // Without a known picture size the window is left as it is, rather than restyled
    // into a full screen that nothing could leave.
    QSize video;
    if (!VideoSize(video)) {
        return false;
    }
    QScreen* screen = m_window.screen();
    const QRect screenRect = screen != nullptr ? screen->geometry() : QRect(0, 0, 1024, 768);
    m_restoreRect = m_window.geometry();
    m_window.setMinimumSize(0, 0);
    m_window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_fullScreen = true;
    m_window.setGeometry(screenRect);
    m_window.showFullScreen();
    m_window.raise();
    // Esc has to reach the window.
    m_window.activateWindow();
    m_window.setFocus();
    if (QWidget* view = m_window.VideoView()) {
        view->setGeometry(PreviewGeometry::FullScreenVideoRect(screenRect.size(), video));
    }
    m_lastMouseTime = m_clock();
    m_window.StartPointerTimer();
    return true;
}

bool PreviewScreen::Leave() {
    m_fullScreen = false;
    m_window.showNormal();
    m_window.setGeometry(m_restoreRect);
    m_window.setFixedSize(m_restoreRect.size());
    m_window.setVisible(m_videoShown);
    m_window.StopPointerTimer();
    ShowPointer();
    m_lastMouseTime = m_clock();
    if (m_videoShown) {
        m_window.raise();
    }
    OnWindowResized();
    return true;
}

void PreviewScreen::ShowPointer() {
    if (m_cursorCount < 0) {
        m_window.unsetCursor();
    }
    m_cursorCount = 0;
}

void PreviewScreen::HidePointer() {
    if (m_cursorCount >= 0) {
        m_window.setCursor(Qt::BlankCursor);
    }
    m_cursorCount = -1;
}

void PreviewScreen::OnMouseActivity() {
    if (m_fullScreen) {
        ShowPointer();
        m_lastMouseTime = m_clock();
    }
}

void PreviewScreen::OnEscape() {
    if (m_fullScreen) {
        Leave();
    }
}

void PreviewScreen::OnPointerTimer() {
    if (m_fullScreen && static_cast<uint32_t>(m_clock() - m_lastMouseTime) > kPointerIdleMs) {
        HidePointer();
    }
}

void PreviewScreen::OnWindowResized() {
    if (!m_videoShown) {
        return;
    }
    QWidget* view = m_window.VideoView();
    if (view == nullptr) {
        return;
    }
    QSize video;
    if (m_fullScreen && VideoSize(video)) {
        view->setGeometry(PreviewGeometry::FullScreenVideoRect(m_window.size(), video));
    } else {
        view->setGeometry(m_window.rect());
    }
}
