#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string>

#include "CPreviewPlayer.h"
#include "PlaybackEngine.h"

class PreviewMessages;
class QWidget;

// Owns the one preview player: opens it on a clip, closes it, and carries the
// transport commands and seeks to it. Times in and out are media time: the player's
// own times are shifted by the track's lead, so that the preview plays at time t the
// sample that a conversion from t writes first.
class PreviewController final : public QObject {
    Q_OBJECT
  public:
    PreviewController(QWidget* dialog, PlaybackEngineFactory engines, PreviewMessages& messages,
                      QObject* parent = nullptr);
    ~PreviewController() override;

    // Closes any preview and starts opening one on the clip; opened() follows unless
    // this fails at once (then the user has been told and nothing is open). A clip whose
    // timestamps restart plays in the timeline's continuous time, as it is converted.
    bool Open(const std::string& clipPath, int64_t lead,
              const MediaTimeline& timeline = MediaTimeline());
    // Closes the preview, if any.
    void Close();
    bool IsOpen() const { return m_player != nullptr; }
    // Whether a part of the clip is being played over and over.
    bool IsLooping() const;

    void OnPlay();
    void OnPause();
    void OnStopPreview();
    // Absolute seek in media time; false when there is nothing to seek.
    bool SeekTo(int64_t target);

    // The position at this moment, asked of the player.
    int64_t CurrentPosition();
    // Plays from `from` to `to` and holds there, or loops it until stopped.
    bool PlayRange(int64_t from, int64_t to, bool loop);
    // Plays another audio track, whose sound lags its timestamps by `lead`.
    bool SelectAudioTrack(int number, int64_t lead);

    // The positions of the last report, in media time; 0 without a preview.
    int64_t Position() const;
    int64_t Duration() const;
    PlayState State() const { return m_player ? m_player->state() : Closed; }
    CPreviewPlayer* Player() const { return m_player.get(); }

  signals:
    void opened(bool ok);
    // The once-a-second report: where the preview is and how long the clip is.
    void positionReport(int64_t position, int64_t duration);
    // The user closed the preview window.
    void closeRequested();
    // Where the preview is, many times a second while it plays (and after seeks).
    void playheadMoved(int64_t position);

  private:
    void OnPlayerReport();
    void OnPlayheadTimer();
    int64_t ToMediaTime(int64_t playerTime) const;

    QPointer<QWidget> m_dialog;
    PlaybackEngineFactory m_engines;
    PreviewMessages& m_messages;
    std::unique_ptr<CPreviewPlayer> m_player;
    int64_t m_lead = 0;
    QTimer m_playheadTimer;
    int64_t m_playhead = -1;
};
