#include "PreviewPlayer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "PreviewGeometry.h"
#include "PreviewScreen.h"
#include "PreviewWindow.h"

const char* const PreviewPlayer::kCannotPlayText =
    QT_TRANSLATE_NOOP("PreviewPlayer",
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

PreviewPlayer::PreviewPlayer(QWidget* dialog, PlaybackEngineFactory engines,
                             PreviewMessages& messages, QObject* parent)
    : QObject(parent),
      m_engines(std::move(engines)),
      m_messages(messages),
      m_clock(&MonotonicMs),
      m_dialog(dialog) {
    m_reportTimer.setInterval(kReportIntervalMs);
    connect(&m_reportTimer, &QTimer::timeout, this,
            [this] { emit positionReport(m_position, m_duration); });
}

PreviewPlayer::~PreviewPlayer() {
    Close();
}

bool PreviewPlayer::IsFullScreen() const {
    return m_screen && m_screen->IsFullScreen();
}

bool PreviewPlayer::IsPointerHidden() const {
    return m_screen && m_screen->IsPointerHidden();
}

void PreviewPlayer::ShowCallFailure(const EngineResult& result, const std::string& why) {
    // The text names the call and its code; the engine's words say why.
    char code[16];
    std::snprintf(code, sizeof code, "%x", static_cast<unsigned>(result.code));
    m_messages.ShowMessage(QStringLiteral("FAILED(hr=0x%1) in %2\n%3")
                               .arg(QLatin1String(code), QString::fromStdString(result.call),
                                    QString::fromStdString(why)),
                           tr("Message"));
}

bool PreviewPlayer::Open(const std::string& clipPath, int64_t lead, const MediaTimeline& timeline) {
    Close();
    m_clipPath = clipPath;
    m_lead = lead;
    m_position = 0;
    m_duration = 0;
    SetState(PlayState::Stopped);
    CreatePreviewWindow();
    EngineResult result;
    std::string why;
    m_engine = m_engines.Take(result, why);
    QWidget* view = nullptr;
    // The picture's output has to exist before the clip is loaded.
    if (m_engine) {
        result = m_engine->AttachVideo(m_window.get(), &view);
        why = result.Ok() ? std::string() : m_engine->ErrorText(result.code);
    }
    if (!result.Ok()) {
        ShowCallFailure(result, why);
        Close();
        return false;
    }
    m_window->SetVideoView(view);
    m_engine->SetEventNotify([this] { HandleEngineEvents(); });
    m_loading = true;
    if (!m_engine->Load(m_clipPath, timeline).Ok()) {
        m_messages.ShowMessage(tr(kCannotPlayText), tr("Error"));
        Close();
        return false;
    }
    return true;
}

void PreviewPlayer::FinishOpen(const EngineEvent& loaded) {
    m_loading = false;
    m_video = loaded.video;
    m_videoSize = loaded.size;
    m_duration = loaded.time;
    m_screen->SetVideo(loaded.video, loaded.size);
    if (m_video) {
        m_screen->ShowVideo();
    } else {
        // Sound only: the window stays hidden for the life of the clip.
        m_window->hide();
    }
    SetState(m_state);
    m_reportTimer.start();
    // The next open's core starts now, while the user looks at this clip.
    m_engines.PrepareSpare();
    // The duration is known from the start: a seek right after the open must not wait for
    // the first report, a second later.
    emit positionReport(m_position, m_duration);
    if (m_retime) {
        // The timeline came while the clip was loading: it is opened once it plays in it.
        m_announceOpen = true;
        Reload();
        return;
    }
    AnnounceOpen();
}

void PreviewPlayer::AnnounceOpen() {
    QMetaObject::invokeMethod(
        this, [this] { emit opened(true); }, Qt::QueuedConnection);
}

void PreviewPlayer::Retime(const MediaTimeline& timeline, int64_t lead) {
    if (!m_engine) {
        return;
    }
    m_retime = timeline;
    m_lead = lead;
    if (!m_loading) {
        Reload();
    }
}

void PreviewPlayer::Reload() {
    // Before the first restart the old time and the new one agree, and a timeline is found
    // within seconds of the open: the place is kept as it stands.
    m_resumeAt = m_position;
    ClearRange();
    m_engine->Pause();
    m_loading = true;
    m_reloading = true;
    if (!m_engine->Load(m_clipPath, *std::exchange(m_retime, std::nullopt)).Ok()) {
        FailLoad();
    }
}

void PreviewPlayer::FailLoad() {
    m_messages.ShowMessage(tr(kCannotPlayText), tr("Error"));
    Close();  // the engine is gone: no more events
    QMetaObject::invokeMethod(
        this, [this] { emit opened(false); }, Qt::QueuedConnection);
}

void PreviewPlayer::FinishReload(const EngineEvent& loaded) {
    m_loading = false;
    m_reloading = false;
    m_duration = loaded.time;
    // A length the core does not know yet is no bound.
    Send(m_duration > 0 ? std::min(m_resumeAt, m_duration) : m_resumeAt);
    // Paused for the load only: the state is still the user's.
    if (m_state == PlayState::Running) {
        m_engine->Run();
    }
    emit positionReport(m_position, m_duration);
    if (std::exchange(m_announceOpen, false)) {
        AnnounceOpen();
    }
}

void PreviewPlayer::Close() {
    if (m_state == PlayState::Closed && !m_engine && !m_window) {
        return;
    }
    m_reportTimer.stop();
    if (m_engine) {
        m_engine->Stop();
    }
    // The window goes first: its timers stop and its video output lets go of the engine.
    DestroyPreviewWindow();
    m_loading = false;
    m_video = false;
    m_videoSize = QSize();
    if (m_engine) {
        m_engine->SetEventNotify({});
        m_engine.reset();
    }
    m_clipPath.clear();
    m_rangeEnd = -1;
    m_looping = false;
    m_seekPending = false;
    m_resumeOnLanding = false;
    m_held = false;
    m_retime.reset();
    m_reloading = false;
    m_announceOpen = false;
    SetState(PlayState::Closed);
    if (m_dialog) {
        m_dialog->update();
    }
}

void PreviewPlayer::SetState(PlayState state) {
    const bool changed = state != m_state;
    m_state = state;
    if (m_window) {
        m_window->setWindowTitle(
            PreviewGeometry::PreviewTitle(m_clipPath, m_state == PlayState::Paused));
    }
    if (changed) {
        emit stateChanged(state);
    }
}

void PreviewPlayer::SetPosition(int64_t position) {
    if (position != m_position) {
        m_position = position;
        emit positionChanged(position);
    }
}

void PreviewPlayer::Play() {
    if (!m_engine) {
        return;
    }
    if ((m_state == PlayState::Stopped || m_state == PlayState::Paused) && m_engine->Run().Ok()) {
        m_held = false;
        SetState(PlayState::Running);
    }
    m_engine->SetRate(1.0);
    SetState(m_state);
}

void PreviewPlayer::Pause() {
    if (!m_engine) {
        return;
    }
    // A stopped clip cannot be paused.
    if (m_state == PlayState::Running && m_engine->Pause().Ok()) {
        SetState(PlayState::Paused);
    }
    SetState(m_state);
}

void PreviewPlayer::Stop() {
    if (!m_engine) {
        return;
    }
    ClearRange();
    if (m_state == PlayState::Paused || m_state == PlayState::Running) {
        if (m_window) {
            m_window->StopPointerTimer();
        }
        m_engine->Stop();
        SetState(PlayState::Stopped);
        // Rewound and held, so the first frame shows.
        Send(0);
        m_engine->Pause();
    }
    SetState(m_state);
}

bool PreviewPlayer::Send(int64_t target) {
    target = std::max<int64_t>(target, 0);
    if (!m_engine->Seek(target + m_lead).Ok()) {
        return false;
    }
    m_seekPending = true;
    m_held = m_state != PlayState::Running;
    SetPosition(target);
    return true;
}

bool PreviewPlayer::SeekTo(int64_t target) {
    if (!m_engine) {
        return false;
    }
    ClearRange();
    Send(target);
    return true;
}

bool PreviewPlayer::PlayRange(int64_t from, int64_t to, bool loop) {
    if (!m_engine || m_loading || from < 0 || to <= from) {
        return false;
    }
    // The seek goes out first: the end must not be taken for reached at the old place.
    // Whatever the last range set goes with it.
    bool ok = Send(from);
    if (ok && loop) {
        ok = m_engine->SetPlayEnd(-1).Ok() && m_engine->SetLoop(from + m_lead, to + m_lead).Ok();
    } else if (ok) {
        ok = m_engine->SetLoop(-1, -1).Ok() && m_engine->SetPlayEnd(to + m_lead).Ok();
    }
    if (ok && m_state != PlayState::Running) {
        ok = m_engine->Run().Ok();
    }
    m_rangeEnd = to;
    m_looping = loop;
    if (!ok) {
        ClearRange();
        return false;
    }
    m_held = false;
    SetState(PlayState::Running);
    return true;
}

void PreviewPlayer::ClearRange() {
    if (m_rangeEnd >= 0 && m_engine) {
        m_engine->SetLoop(-1, -1);
        m_engine->SetPlayEnd(-1);
    }
    m_rangeEnd = -1;
    m_looping = false;
}

void PreviewPlayer::EndOfRange() {
    // Held at the end of the range rather than rewound as at the end of the clip, so that
    // Play goes on from there. Sent there: news of the end the core reached, come after
    // Play and before the seek lands, is then not taken for the end of the clip.
    const int64_t end = m_rangeEnd;
    ClearRange();
    m_engine->Pause();
    SetState(PlayState::Paused);
    if (!Send(end)) {
        m_held = true;
        SetPosition(end);
    }
}

bool PreviewPlayer::SelectAudioTrack(int number, int64_t lead) {
    if (!m_engine || !m_engine->SelectAudioTrack(number).Ok()) {
        return false;
    }
    m_lead = lead;
    return true;
}

void PreviewPlayer::HandleEngineEvents() {
    EngineEvent event;
    while (m_engine && m_engine->GetEvent(&event)) {
        OnEngineEvent(event);
    }
}

void PreviewPlayer::OnEngineEvent(const EngineEvent& event) {
    switch (event.kind) {
        case EngineEvent::Kind::Loaded:
            if (m_loading && m_reloading) {
                FinishReload(event);
            } else if (m_loading) {
                FinishOpen(event);
            }
            break;
        case EngineEvent::Kind::LoadFailed:
            if (m_loading) {
                FailLoad();
            }
            break;
        case EngineEvent::Kind::EndOfClip:
            if (m_seekPending) {
                // The core reached the end it had before it took the seek (keep-open pauses
                // it there): playing goes on where the seek lands.
                m_resumeOnLanding = m_state == PlayState::Running;
            } else if (IsPlayingRange() && !m_looping) {
                EndOfRange();
            } else {
                Stop();
            }
            break;
        case EngineEvent::Kind::Position:
            // Until a seek lands the engine still tells the old place, and a clip held
            // after one is where it was sent: a sound-only clip's own reading is off by
            // its audio buffer there.
            if (!m_seekPending && !m_held) {
                SetPosition(std::max<int64_t>(event.time - m_lead, 0));
            }
            break;
        case EngineEvent::Kind::Duration:
            m_duration = event.time;
            break;
        case EngineEvent::Kind::SeekLanded:
            m_seekPending = false;
            if (std::exchange(m_resumeOnLanding, false) && m_state == PlayState::Running) {
                m_engine->Run();
            }
            break;
        case EngineEvent::Kind::VideoSize:
            m_videoSize = event.size;
            if (m_screen) {
                m_screen->SetVideo(m_video, event.size);
            }
            break;
    }
}

void PreviewPlayer::CreatePreviewWindow() {
    m_window = std::make_unique<PreviewWindow>();
    PreviewWindow* w = m_window.get();
    m_screen = std::make_unique<PreviewScreen>(*w, m_dialog.data(), [this] { return m_clock(); });
    PreviewScreen* screen = m_screen.get();
    screen->SetRoom(m_room);
    connect(w, &PreviewWindow::fullScreenRequested, this, &PreviewPlayer::SwitchFullScreen);
    connect(w, &PreviewWindow::normalSizeRequested, this, &PreviewPlayer::ShowNormalSize);
    connect(w, &PreviewWindow::playRequested, this, &PreviewPlayer::Play);
    connect(w, &PreviewWindow::pauseRequested, this, &PreviewPlayer::Pause);
    connect(w, &PreviewWindow::stopRequested, this, &PreviewPlayer::Stop);
    // Queued: the receiver closes this player and its window, which must not happen inside
    // the window's own close event.
    connect(w, &PreviewWindow::closeRequested, this, &PreviewPlayer::closeRequested,
            Qt::QueuedConnection);
    connect(w, &PreviewWindow::escapePressed, this, [this, screen] {
        if (screen->IsFullScreen()) {
            screen->OnEscape();
            emit fullScreenChanged(false);
        }
    });
    connect(w, &PreviewWindow::leftClicked, this, [this, screen] {
        screen->OnMouseActivity();
        if (m_engine) {
            emit pictureClicked(screen->IsFullScreen());
        }
    });
    connect(w, &PreviewWindow::rightClicked, this, &PreviewPlayer::OnRightClick);
    connect(w, &PreviewWindow::mouseActivity, this, [screen] { screen->OnMouseActivity(); });
    connect(w, &PreviewWindow::resized, this, [screen] { screen->OnWindowResized(); });
    connect(w, &PreviewWindow::pointerTimerFired, this, [screen] { screen->OnPointerTimer(); });
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

void PreviewPlayer::DestroyPreviewWindow() {
    if (!m_window) {
        return;
    }
    const bool fullScreen = m_screen->IsFullScreen();
    m_screen->Close();
    if (fullScreen) {
        emit fullScreenChanged(false);
    }
    if (m_dialog) {
        m_dialog->update();
    }
    m_window->StopPointerTimer();
    m_screen.reset();
    m_window.reset();
}

bool PreviewPlayer::SwitchFullScreen() {
    if (!m_video || !m_engine || m_loading || !m_screen->Switch()) {
        return false;
    }
    emit fullScreenChanged(m_screen->IsFullScreen());
    return true;
}

void PreviewPlayer::SetRoom(PreviewGeometry::Room room) {
    m_room = room;
    if (m_screen) {
        m_screen->SetRoom(room);
    }
}

void PreviewPlayer::ShowNormalSize() {
    if (m_screen && m_engine) {
        const bool wasFull = m_screen->IsFullScreen();
        m_screen->ShowNormalSize();
        if (wasFull) {
            emit fullScreenChanged(false);
        }
    }
}

void PreviewPlayer::OnRightClick(const QPoint& position) {
    if (!m_screen) {
        return;
    }
    m_screen->OnMouseActivity();
    m_window->PopupMenu(position, m_screen->IsFullScreen(), m_state);
    emit menuClosed();
}
