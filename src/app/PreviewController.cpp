#include "PreviewController.h"

#include <algorithm>
#include <utility>

PreviewController::PreviewController(QWidget* dialog, PlaybackEngineFactory engines,
                                     PreviewMessages& messages, QObject* parent)
    : QObject(parent), m_dialog(dialog), m_engines(std::move(engines)), m_messages(messages) {}

PreviewController::~PreviewController() {
    Close();
}

bool PreviewController::Open(const std::string& clipPath, int64_t lead) {
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
    if (!player->OpenMedia(clipPath)) {
        Close();
        return false;
    }
    return true;
}

void PreviewController::Close() {
    if (!m_player) {
        return;
    }
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
    return true;
}

int64_t PreviewController::Position() const {
    // The player's start lies before the sound's by the lead: that is still time 0.
    return m_player ? std::max<int64_t>(m_player->position() - m_lead, 0) : 0;
}

int64_t PreviewController::Duration() const {
    return m_player ? m_player->duration() : 0;
}

void PreviewController::OnPlayerReport() {
    emit positionReport(Position(), Duration());
}
