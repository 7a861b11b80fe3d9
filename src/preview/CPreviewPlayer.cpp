#include "CPreviewPlayer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "PreviewGeometry.h"
#include "PreviewScreen.h"
#include "PreviewWindow.h"

const char* const CPreviewPlayer::kCannotPlayText =
    QT_TRANSLATE_NOOP("CPreviewPlayer",
                      "Cannot play the file.  The file is either corrupt or\n"
                      "the player does not support the format you are trying to play.\n"
                      "If you want more decoders, please visit our website.");

namespace {

uint32_t MonotonicMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return static_cast<uint32_t>(clock.elapsed());
}

}  // namespace

CPreviewPlayer::CPreviewPlayer(QWidget* dialog, PlaybackEngineFactory engineFactory,
                               PreviewMessages& messages, QObject* parent)
    : QObject(parent),
      m_engineFactory(std::move(engineFactory)),
      m_messages(messages),
      m_clock(&MonotonicMs),
      m_dialog(dialog) {}

CPreviewPlayer::CPreviewPlayer(QWidget* dialog, std::unique_ptr<PlaybackEngine> engine,
                               PreviewMessages& messages, QObject* parent)
    : CPreviewPlayer(
          dialog,
          [held = std::make_shared<std::unique_ptr<PlaybackEngine>>(std::move(engine))] {
              return std::move(*held);
          },
          messages, parent) {}

CPreviewPlayer::~CPreviewPlayer() {
    if (m_state != Closed || m_engine || m_window) {
        CloseMedia();
    }
}

bool CPreviewPlayer::isFullScreen() const {
    return m_screen && m_screen->IsFullScreen();
}

bool CPreviewPlayer::isPointerHidden() const {
    return m_screen && m_screen->IsPointerHidden();
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
    m_messages.ShowMessage(QString::fromUtf8(text.data()), tr("Message"));
}

void CPreviewPlayer::ShowCallFailure(const EngineResult& result) {
    // The text names the call and its code; the engine's words say why.
    const std::string why = m_engine ? m_engine->ErrorText(result.code) : std::string();
    ShowFailure("FAILED(hr=0x%x) in %s\n%s", static_cast<unsigned>(result.code),
                result.call.c_str(), why.c_str());
}

bool CPreviewPlayer::OpenMedia(const std::string& clipPath, const MediaTimeline& timeline) {
    m_clipPath = clipPath;
    m_state = Stopped;
    CreatePreviewWindow();
    m_engine = m_engineFactory ? m_engineFactory() : nullptr;
    if (!m_engine) {
        ShowCallFailure({static_cast<int>(0x80004005u), "PlaybackEngineFactory()"});
        CloseMedia();
        return false;
    }
    EngineResult result = m_engine->Initialize();
    QWidget* view = nullptr;
    // The picture's output has to exist before the clip is loaded.
    if (result.Ok()) {
        result = m_engine->AttachVideo(m_window.get(), &view);
    }
    if (!result.Ok()) {
        ShowCallFailure(result);
        CloseMedia();
        return false;
    }
    m_window->SetVideoView(view);
    m_screen->SetEngine(m_engine.get());
    m_engine->SetEventNotify([this] { HandleEngineEvents(); });
    m_loading = true;
    if (!m_engine->Load(m_clipPath, timeline).Ok()) {
        m_messages.ShowMessage(tr(kCannotPlayText), tr("Error"));
        CloseMedia();
        return false;
    }
    return true;
}

void CPreviewPlayer::FinishOpen() {
    m_loading = false;
    m_noVideo = !m_engine->HasVideo();
    if (m_noVideo) {
        // Sound only: the window stays hidden for the life of the clip.
        m_window->hide();
    } else {
        m_screen->ShowVideo();
    }
    RefreshTitle();
    m_window->StartPollTimer();
    // The duration is known from the start: a seek right after the open must not wait
    // for the first poll, a second later.
    PollPosition();
    emit opened(true);
}

void CPreviewPlayer::CloseMedia() {
    if (m_engine) {
        m_engine->Stop();
    }
    m_state = Stopped;
    m_noVideo = true;
    // The window goes first: its timers stop and its video output lets go of the engine.
    DestroyPreviewWindow();
    m_loading = false;
    if (m_engine) {
        m_engine->SetEventNotify({});
        m_engine.reset();
    }
    m_clipPath.clear();
    m_state = Closed;
    if (m_dialog) {
        m_dialog->update();
    }
}

void CPreviewPlayer::Play() {
    if (!m_engine) {
        return;
    }
    if (m_state == Stopped || m_state == Paused) {
        if (m_engine->Run().Ok()) {
            m_state = Running;
        }
    }
    if (m_engine->SetRate(1.0).Ok()) {
        RefreshTitle();
    }
}

void CPreviewPlayer::Pause() {
    if (!m_engine) {
        return;
    }
    // A stopped clip cannot be paused.
    if (m_state != Paused && m_state != Stopped) {
        if (m_engine->Pause().Ok()) {
            m_state = Paused;
        }
    }
    RefreshTitle();
}

void CPreviewPlayer::Stop() {
    if (!m_engine) {
        return;
    }
    ClearRange();
    if (m_state == Paused || m_state == Running) {
        if (m_window) {
            m_window->StopPointerTimer();
        }
        m_engine->Stop();
        m_state = Stopped;
        // Rewound and held, so the first frame shows.
        m_engine->Seek(0);
        m_engine->Pause();
    }
    RefreshTitle();
}

int CPreviewPlayer::SeekTo(int64_t target) {
    if (!m_engine) {
        return 0;
    }
    if (target < 0) {
        target = 0;
    }
    ClearRange();
    return m_engine->Seek(target).code;
}

int64_t CPreviewPlayer::CurrentPosition() {
    int64_t now = 0;
    if (m_engine && m_engine->GetCurrentPosition(&now).Ok()) {
        m_current = now;
    }
    return m_current;
}

bool CPreviewPlayer::PlayRange(int64_t from, int64_t to, bool loop) {
    if (!m_engine || m_loading || from < 0 || to <= from) {
        return false;
    }
    // The seek goes out first: the end must not be taken for reached at the old place.
    EngineResult result = m_engine->Seek(from);
    if (result.Ok()) {
        result = loop ? m_engine->SetLoop(from, to) : m_engine->SetPlayEnd(to);
    }
    if (result.Ok() && m_state != Running) {
        result = m_engine->Run();
    }
    if (!result.Ok()) {
        ClearRange();
        return false;
    }
    m_state = Running;
    m_rangeEnd = to;
    m_looping = loop;
    RefreshTitle();
    return true;
}

void CPreviewPlayer::ClearRange() {
    if (m_rangeEnd < 0 || !m_engine) {
        m_rangeEnd = -1;
        return;
    }
    if (m_looping) {
        m_engine->SetLoop(-1, -1);
    } else {
        m_engine->SetPlayEnd(-1);
    }
    m_rangeEnd = -1;
    m_looping = false;
}

void CPreviewPlayer::EndOfRange() {
    // Held at the end of the range rather than rewound as at the end of the clip, so
    // that Play goes on from there.
    ClearRange();
    m_engine->Pause();
    m_state = Paused;
    RefreshTitle();
}

bool CPreviewPlayer::SelectAudioTrack(int number) {
    return m_engine && m_engine->SelectAudioTrack(number).Ok();
}

int CPreviewPlayer::PollPosition() {
    if (!m_engine) {
        return 0;
    }
    int64_t stop = 0;
    int64_t current = 0;
    EngineResult result = m_engine->GetStopPosition(&stop);
    if (!result.Ok()) {
        return result.code;
    }
    result = m_engine->GetCurrentPosition(&current);
    if (!result.Ok()) {
        // Around the end of a file the position is briefly unknown; keep the last one.
        return result.code;
    }
    m_stop = stop;
    m_current = current;
    if (m_dialog) {
        QMetaObject::invokeMethod(this, &CPreviewPlayer::positionReport, Qt::QueuedConnection);
    }
    return 0;
}

void CPreviewPlayer::HandleEngineEvents() {
    EngineEvent event;
    while (m_engine && m_engine->GetEvent(&event)) {
        switch (event) {
            case EngineEvent::Loaded:
                if (m_loading) {
                    FinishOpen();
                }
                break;
            case EngineEvent::LoadFailed:
                if (m_loading) {
                    m_messages.ShowMessage(tr(kCannotPlayText), tr("Error"));
                    CloseMedia();
                    emit opened(false);
                    return;  // the engine is gone
                }
                break;
            case EngineEvent::EndOfClip:
                if (isPlayingRange() && !m_looping) {
                    EndOfRange();
                } else {
                    Stop();
                }
                break;
            case EngineEvent::Other:
                break;
        }
    }
}

void CPreviewPlayer::CreatePreviewWindow() {
    m_window = std::make_unique<PreviewWindow>();
    PreviewWindow* w = m_window.get();
    m_screen = std::make_unique<PreviewScreen>(*w, m_dialog.data(), [this] { return m_clock(); });
    PreviewScreen* screen = m_screen.get();
    connect(w, &PreviewWindow::fullScreenRequested, this, &CPreviewPlayer::SwitchFullScreen);
    connect(w, &PreviewWindow::normalSizeRequested, this, &CPreviewPlayer::ShowNormalSize);
    connect(w, &PreviewWindow::playRequested, this, &CPreviewPlayer::Play);
    connect(w, &PreviewWindow::pauseRequested, this, &CPreviewPlayer::Pause);
    connect(w, &PreviewWindow::stopRequested, this, &CPreviewPlayer::Stop);
    connect(w, &PreviewWindow::closeRequested, this, &CPreviewPlayer::OnCloseAsked);
    connect(w, &PreviewWindow::escapePressed, this, [screen] { screen->OnEscape(); });
    connect(w, &PreviewWindow::leftClicked, this, [screen] { screen->OnLeftClick(); });
    connect(w, &PreviewWindow::rightClicked, this, &CPreviewPlayer::OnRightClick);
    connect(w, &PreviewWindow::mouseActivity, this, [screen] { screen->OnMouseActivity(); });
    connect(w, &PreviewWindow::resized, this, [screen] { screen->OnWindowResized(); });
    connect(w, &PreviewWindow::pointerTimerFired, this, [screen] { screen->OnPointerTimer(); });
    connect(w, &PreviewWindow::pollTimerFired, this, &CPreviewPlayer::PollPosition);
    QScreen* display = m_dialog ? m_dialog->screen() : QGuiApplication::primaryScreen();
    const QRect workArea =
        display != nullptr ? display->availableGeometry() : QRect(0, 0, 1024, 768);
    // Without a dialog there is nothing to stand above: the default size is used.
    const QRect dialogFrame =
        m_dialog ? m_dialog->frameGeometry() : QRect(workArea.topLeft(), QSize());
    const QRect first = PreviewGeometry::FirstPreviewRect(workArea, dialogFrame);
    m_window->move(first.topLeft());
    m_window->setFixedSize(first.size());
}

void CPreviewPlayer::DestroyPreviewWindow() {
    if (!m_window) {
        return;
    }
    if (m_engine) {
        m_screen->Close();
    }
    if (m_dialog) {
        m_dialog->update();
    }
    m_window->StopPointerTimer();
    m_window->StopPollTimer();
    m_screen.reset();
    m_window.reset();
}

void CPreviewPlayer::RefreshTitle() {
    if (m_window) {
        m_window->setWindowTitle(PreviewGeometry::PreviewTitle(m_clipPath, m_state == Paused));
    }
}

bool CPreviewPlayer::SwitchFullScreen() {
    if (m_noVideo || !m_engine || m_loading) {
        return false;
    }
    return m_screen->Switch();
}

void CPreviewPlayer::ShowNormalSize() {
    if (m_screen && m_engine) {
        m_screen->ShowNormalSize();
    }
}

void CPreviewPlayer::OnRightClick(const QPoint& position) {
    if (!m_screen) {
        return;
    }
    m_screen->OnMouseActivity();
    m_window->PopupMenu(position, m_screen->IsFullScreen(), m_state);
    if (m_screen) {  // the menu may have closed the clip
        m_screen->OnMenuClosed();
    }
}

void CPreviewPlayer::OnCloseAsked() {
    // Queued: the receiver destroys this player and its window, which must not happen
    // inside the window's own close event.
    QMetaObject::invokeMethod(this, &CPreviewPlayer::closeRequested, Qt::QueuedConnection);
}
