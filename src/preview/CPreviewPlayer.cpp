#include "CPreviewPlayer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "PreviewGeometry.h"
#include "PreviewWindow.h"

bool CPreviewPlayer::s_bDialogOnTop = true;

const char* const CPreviewPlayer::kCannotPlayText =
    "Cannot play the file.  The file is either corrupt or\n"
    "the player does not support the format you are trying to play.\n"
    "If you want more decoders, please visit our website.";

namespace {

constexpr uint32_t kPointerIdleMs = 100'000;

uint32_t MonotonicMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return static_cast<uint32_t>(clock.elapsed());
}

// Changes the stay-on-top flag on the native window directly: the widget's own
// setWindowFlag() would hide the window, and hiding a dialog ends its exec().
void SetStaysOnTop(QWidget* widget, bool on) {
    if (QWindow* handle = widget->windowHandle()) {
        handle->setFlag(Qt::WindowStaysOnTopHint, on);
    }
}

}  // namespace

CPreviewPlayer::CPreviewPlayer(QWidget* dialog, PlaybackEngineFactory engineFactory,
                               PreviewMessages& messages, QObject* parent)
    : QObject(parent),
      m_hWndDialog(dialog),
      m_engineFactory(std::move(engineFactory)),
      m_messages(messages),
      m_clock(&MonotonicMs) {}

CPreviewPlayer::CPreviewPlayer(QWidget* dialog, std::unique_ptr<PlaybackEngine> engine,
                               PreviewMessages& messages, QObject* parent)
    : CPreviewPlayer(
          dialog,
          [held = std::make_shared<std::unique_ptr<PlaybackEngine>>(std::move(engine))] {
              return std::move(*held);
          },
          messages, parent) {}

CPreviewPlayer::~CPreviewPlayer() {
    if (m_nPlayState != Closed || m_pEngine || m_hWnd) {
        CloseMedia();
    }
}

uint32_t CPreviewPlayer::Now() const {
    return m_clock();
}

void CPreviewPlayer::ShowFailure(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::vector<char> text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    if (length > 0) {
        std::vsnprintf(text.data(), text.size(), format, again);
    }
    va_end(again);
    m_messages.ShowMessage(QString::fromUtf8(text.data()), QStringLiteral("Message"));
}

bool CPreviewPlayer::OpenMedia() {
    m_nPlayState = Stopped;
    if (!CreatePreviewWindow() || !BuildClip()) {
        CloseMedia();
        return false;
    }
    return true;
}

bool CPreviewPlayer::BuildClip() {
    m_pEngine = m_engineFactory ? m_engineFactory() : nullptr;
    if (!m_pEngine) {
        ShowFailure("FAILED(hr=0x%x) in %s\n", 0x80004005u, "PlaybackEngineFactory()");
        return false;
    }
    EngineResult result = m_pEngine->Initialize();
    if (!result.Ok()) {
        ShowFailure("FAILED(hr=0x%x) in %s\n", static_cast<unsigned>(result.code),
                    result.call.c_str());
        return false;
    }
    // The picture's output has to exist before the clip is loaded.
    QWidget* view = nullptr;
    result = m_pEngine->AttachVideo(m_hWnd.get(), &view);
    if (!result.Ok()) {
        ShowFailure("FAILED(hr=0x%x) in %s\n", static_cast<unsigned>(result.code),
                    result.call.c_str());
        return false;
    }
    m_hWnd->SetVideoView(view);

    result = m_pEngine->Load(m_szClipPath);
    if (!result.Ok()) {
        m_messages.ShowMessage(QString::fromUtf8(kCannotPlayText), QStringLiteral("Error"));
        return false;
    }
    m_bNoVideo = !m_pEngine->HasVideo();
    m_pEngine->SetEventNotify([this] { DrainGraphEvents(); });

    if (!m_bNoVideo) {
        const int hr = InitVideoWindow(1, 1);
        if (hr < 0) {
            ShowFailure("FAILED(hr=0x%x) in InitVideoWindow(1, 1)\n", static_cast<unsigned>(hr));
            return false;
        }
    }
    if (m_bNoVideo) {
        // Sound only: the window stays hidden for the life of the clip.
        m_hWnd->hide();
    } else {
        m_bVideoShown = true;
        OnWindowResized();
        m_hWnd->showNormal();
        m_hWnd->raise();
        m_hWnd->activateWindow();
        m_hWnd->setFocus();
    }
    RefreshTitle();
    m_hWnd->m_pollTimer.start();
    return true;
}

void CPreviewPlayer::CloseMedia() {
    if (m_pEngine) {
        m_pEngine->Stop();
    }
    m_nPlayState = Stopped;
    m_bNoVideo = true;
    // The window goes first: its timers stop and its video output lets go of the engine.
    if (m_bWindowCreated) {
        DestroyPreviewWindow();
    }
    if (m_pEngine) {
        m_pEngine->SetEventNotify({});
        m_pEngine.reset();
    }
    m_szClipPath.clear();
    m_nPlayState = Closed;
    if (m_hWndDialog) {
        m_hWndDialog->update();
    }
}

void CPreviewPlayer::Play() {
    if (!m_pEngine) {
        return;
    }
    if (m_nPlayState == Stopped || m_nPlayState == Paused) {
        if (m_pEngine->Run().Ok()) {
            m_nPlayState = Running;
        }
    }
    if (m_pEngine->SetRate(1.0).Ok()) {
        RefreshTitle();
    }
}

void CPreviewPlayer::Pause() {
    if (!m_pEngine) {
        return;
    }
    // A stopped clip cannot be paused.
    if (m_nPlayState != Paused && m_nPlayState != Stopped) {
        if (m_pEngine->Pause().Ok()) {
            m_nPlayState = Paused;
        }
    }
    RefreshTitle();
}

void CPreviewPlayer::Stop() {
    if (!m_pEngine) {
        return;
    }
    if (m_nPlayState == Paused || m_nPlayState == Running) {
        if (m_hWnd) {
            m_hWnd->m_pointerTimer.stop();
        }
        m_pEngine->Stop();
        m_nPlayState = Stopped;
        // Rewound and held, so the first frame shows.
        m_pEngine->Seek(0);
        m_pEngine->Pause();
    }
    RefreshTitle();
}

int CPreviewPlayer::SeekTo(int64_t target) {
    if (!m_pEngine) {
        return 0;
    }
    if (target < 0) {
        target = 0;
    }
    return m_pEngine->Seek(target).code;
}

int CPreviewPlayer::PollPosition() {
    if (!m_pEngine) {
        return 0;
    }
    int64_t stop = 0;
    int64_t current = 0;
    EngineResult result = m_pEngine->GetStopPosition(&stop);
    if (!result.Ok()) {
        return result.code;
    }
    result = m_pEngine->GetCurrentPosition(&current);
    if (!result.Ok()) {
        // Around the end of a file the position is briefly unknown; keep the last one.
        return result.code;
    }
    m_rtStop = stop;
    m_rtCurrent = current;
    if (m_hWndDialog) {
        QMetaObject::invokeMethod(this, &CPreviewPlayer::positionReport, Qt::QueuedConnection);
    }
    return 0;
}

int CPreviewPlayer::DrainGraphEvents() {
    EngineEvent event;
    while (m_pEngine && m_pEngine->GetEvent(&event)) {
        if (event == EngineEvent::EndOfClip) {
            Stop();
        }
    }
    return 0;
}

bool CPreviewPlayer::CreatePreviewWindow() {
    m_hWnd = std::make_unique<PreviewWindow>(*this);
    QScreen* screen = m_hWndDialog ? m_hWndDialog->screen() : QGuiApplication::primaryScreen();
    const QRect workArea = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    // Without a dialog there is nothing to stand above: the default size is used.
    const QRect dialogFrame =
        m_hWndDialog ? m_hWndDialog->frameGeometry() : QRect(workArea.topLeft(), QSize());
    const QRect first = PreviewGeometry::FirstPreviewRect(workArea, dialogFrame);
    m_hWnd->move(first.topLeft());
    m_hWnd->setFixedSize(first.size());
    m_bWindowCreated = true;
    return true;
}

void CPreviewPlayer::DestroyPreviewWindow() {
    if (!m_hWnd) {
        m_bWindowCreated = false;
        return;
    }
    if (m_pEngine) {
        m_hWnd->hide();
        if (m_bFullScreen) {
            m_bVideoShown = false;
            LeaveFullScreen();
            m_hWnd->hide();
        }
    }
    if (m_hWndDialog) {
        m_hWndDialog->update();
    }
    m_hWnd->m_pointerTimer.stop();
    m_hWnd->m_pollTimer.stop();
    m_hWnd.reset();
    m_bWindowCreated = false;
}

int CPreviewPlayer::InitVideoWindow(int multiplier, int divider) {
    if (m_bFullScreen && m_bVideoShown) {
        LeaveFullScreen();
    }
    QSize video;
    if (!m_pEngine || !m_hWnd || divider == 0 || !m_pEngine->HasVideo() ||
        !m_pEngine->GetVideoSize(&video)) {
        // No picture, or its size is not known: the window keeps its size and the
        // picture is scaled into it.
        return 0;
    }
    const QSize size(video.width() * multiplier / divider, video.height() * multiplier / divider);
    m_hWnd->setFixedSize(size);
    m_hWnd->raise();
    OnWindowResized();
    return 0;
}

void CPreviewPlayer::RefreshTitle() {
    if (m_hWnd) {
        m_hWnd->setWindowTitle(PreviewGeometry::PreviewTitle(m_szClipPath, m_nPlayState == Paused));
    }
}

bool CPreviewPlayer::EnterFullScreen() {
    if (!m_pEngine || !m_hWnd) {
        return false;
    }
    // Without a known picture size the window is left as it is, rather than restyled
    // into a full screen that nothing could leave.
    QSize video;
    if (!m_pEngine->GetVideoSize(&video)) {
        return false;
    }
    QScreen* screen = m_hWnd->screen();
    const QRect screenRect = screen != nullptr ? screen->geometry() : QRect(0, 0, 1024, 768);
    m_rcRestore = m_hWnd->geometry();
    m_hWnd->setMinimumSize(0, 0);
    m_hWnd->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_bFullScreen = true;
    m_hWnd->setGeometry(screenRect);
    m_hWnd->showFullScreen();
    m_hWnd->raise();
    // Esc has to reach the window.
    m_hWnd->activateWindow();
    m_hWnd->setFocus();
    if (QWidget* view = m_hWnd->VideoView()) {
        view->setGeometry(PreviewGeometry::FullScreenVideoRect(screenRect.size(), video));
    }
    m_dwLastMouseTime = Now();
    m_hWnd->m_pointerTimer.start();
    m_bClickHidesDialog = true;
    return true;
}

bool CPreviewPlayer::LeaveFullScreen() {
    if (!m_pEngine || !m_hWnd) {
        return false;
    }
    m_bFullScreen = false;
    m_hWnd->showNormal();
    m_hWnd->setGeometry(m_rcRestore);
    m_hWnd->setFixedSize(m_rcRestore.size());
    m_hWnd->setVisible(m_bVideoShown);
    m_hWnd->m_pointerTimer.stop();
    ShowPointer();
    m_dwLastMouseTime = Now();
    if (m_hWndDialog) {
        m_hWndDialog->raise();
    }
    if (m_bVideoShown) {
        m_hWnd->raise();
    }
    OnWindowResized();
    return true;
}

bool CPreviewPlayer::SwitchFullScreen() {
    if (m_bNoVideo || !m_pEngine) {
        return false;
    }
    return m_bFullScreen ? LeaveFullScreen() : EnterFullScreen();
}

void CPreviewPlayer::ShowPointer() {
    if (m_nCursorCount < 0 && m_hWnd) {
        m_hWnd->unsetCursor();
    }
    m_nCursorCount = 0;
}

void CPreviewPlayer::HidePointer() {
    if (m_nCursorCount >= 0 && m_hWnd) {
        m_hWnd->setCursor(Qt::BlankCursor);
    }
    m_nCursorCount = -1;
}

void CPreviewPlayer::OnMouseActivity() {
    if (m_bFullScreen) {
        ShowPointer();
        m_dwLastMouseTime = Now();
    }
}

void CPreviewPlayer::OnLeftClick() {
    OnMouseActivity();
    if (!m_pEngine || !m_hWnd || !m_hWndDialog) {
        return;
    }
    QWidget* dialog = m_hWndDialog.data();
    if (m_bFullScreen) {
        if (m_bClickHidesDialog) {
            // Behind the full-screen video rather than hidden: hiding a modal dialog
            // would end it.
            SetStaysOnTop(dialog, false);
            dialog->lower();
            m_hWnd->raise();
            m_hWnd->activateWindow();
        } else {
            SetStaysOnTop(dialog, true);
            dialog->show();
            dialog->raise();
            dialog->activateWindow();
        }
        m_bClickHidesDialog = !m_bClickHidesDialog;
    } else {
        if (s_bDialogOnTop) {
            SetStaysOnTop(dialog, false);
            dialog->show();
            m_hWnd->show();
            m_hWnd->raise();
            m_hWnd->activateWindow();
        } else {
            SetStaysOnTop(dialog, true);
            dialog->show();
            dialog->raise();
        }
        s_bDialogOnTop = !s_bDialogOnTop;
    }
}

void CPreviewPlayer::OnRightClick(const QPoint& position) {
    OnMouseActivity();
    if (m_hWnd) {
        m_hWnd->PopupMenu(position);
    }
    m_bClickHidesDialog = true;
}

void CPreviewPlayer::OnEscape() {
    if (m_bFullScreen) {
        LeaveFullScreen();
    }
}

void CPreviewPlayer::OnPointerTimer() {
    if (m_bFullScreen && static_cast<uint32_t>(Now() - m_dwLastMouseTime) > kPointerIdleMs) {
        HidePointer();
    }
}

void CPreviewPlayer::OnCloseAsked() {
    // Queued: the receiver destroys this player and its window, which must not happen
    // inside the window's own close event.
    QMetaObject::invokeMethod(this, &CPreviewPlayer::closeRequested, Qt::QueuedConnection);
}

void CPreviewPlayer::OnWindowResized() {
    if (!m_hWnd || !m_bVideoShown) {
        return;
    }
    QWidget* view = m_hWnd->VideoView();
    if (view == nullptr) {
        return;
    }
    QSize video;
    if (m_bFullScreen && m_pEngine && m_pEngine->GetVideoSize(&video)) {
        view->setGeometry(PreviewGeometry::FullScreenVideoRect(m_hWnd->size(), video));
    } else {
        view->setGeometry(m_hWnd->rect());
    }
}
