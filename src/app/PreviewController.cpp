#include "PreviewController.h"

#include <algorithm>
#include <utility>

#include "LibraryLog.h"

namespace {

// 25 times a second: a moving playhead looks smooth, and reading the position costs little.
constexpr int kPlayheadMs = 40;

}  // namespace

PreviewController::PreviewController(QWidget* dialog, PlaybackEngineFactory engines,
                                     PreviewMessages& messages, QObject* parent)
    : QObject(parent), m_dialog(dialog), m_engines(std::move(engines)), m_messages(messages) {
    m_playheadTimer.setInterval(kPlayheadMs);
    connect(&m_playheadTimer, &QTimer::timeout, this, &PreviewController::OnPlayheadTimer);
}

PreviewController::~PreviewController() {
    Close();
}

bool PreviewController::Open(const std::string& clipPath, int64_t lead,
                             const MediaTimeline& timeline) {
    Close();
    m_lead = lead;
    m_player = std::make_unique<CPreviewPlayer>(m_dialog.data(), m_engines, m_messages);
    CPreviewPlayer* player = m_player.get();
    connect(player, &CPreviewPlayer::positionReport, this, &PreviewController::OnPlayerReport);
    connect(player, &CPreviewPlayer::closeRequested, this, &PreviewController::closeRequested);
    // Queued: a receiver that closes the preview must not destroy the player inside its
    // own signal.
    connect(player, &CPreviewPlayer::opened, this, &PreviewController::opened,
            Qt::QueuedConnection);
    const bool ok = player->OpenMedia(clipPath, timeline);
    // The player's core has started and taken FFmpeg's log over.
    LibraryLog::ReclaimLibavLog();
    if (!ok) {
        Close();
        return false;
    }
    m_playhead = -1;
    m_playheadTimer.start();
    return true;
}

void PreviewController::Close() {
    if (!m_player) {
        return;
    }
    m_playheadTimer.stop();
    std::unique_ptr<CPreviewPlayer> player = std::move(m_player);
    player->disconnect(this);
    if (player->state() != Closed) {
        player->CloseMedia();
    }
}

void PreviewController::OnPlay() {
    if (m_player) {
        m_player->Play();
    }
}

void PreviewController::OnPause() {
    if (m_player) {
        m_player->Pause();
    }
}

void PreviewController::OnStopPreview() {
    if (m_player) {
        m_player->Stop();
    }
}

bool PreviewController::SeekTo(int64_t target) {
    if (!m_player) {
        return false;
    }
    m_player->SeekTo(target + m_lead);
    m_playhead = std::max<int64_t>(target, 0);
    emit playheadMoved(m_playhead);
    return true;
}

int64_t PreviewController::ToMediaTime(int64_t playerTime) const {
    // The player's start lies before the sound's by the lead: that is still time 0.
    return std::max<int64_t>(playerTime - m_lead, 0);
}

int64_t PreviewController::Position() const {
    return m_player ? ToMediaTime(m_player->position()) : 0;
}

int64_t PreviewController::CurrentPosition() {
    return m_player ? ToMediaTime(m_player->CurrentPosition()) : 0;
}

bool PreviewController::PlayRange(int64_t from, int64_t to, bool loop) {
    return m_player && m_player->PlayRange(from + m_lead, to + m_lead, loop);
}

bool PreviewController::SelectAudioTrack(int number, int64_t lead) {
    if (!m_player || !m_player->SelectAudioTrack(number)) {
        return false;
    }
    m_lead = lead;
    return true;
}

void PreviewController::OnPlayheadTimer() {
    // Still, the preview moves only by seeks, which tell their target themselves.
    if (!m_player || m_player->state() != Running) {
        return;
    }
    const int64_t now = CurrentPosition();
    if (now != m_playhead) {
        m_playhead = now;
        emit playheadMoved(now);
    }
}

bool PreviewController::IsLooping() const {
    return m_player && m_player->isLooping();
}

int64_t PreviewController::Duration() const {
    return m_player ? m_player->duration() : 0;
}

void PreviewController::OnPlayerReport() {
    emit positionReport(Position(), Duration());
}
