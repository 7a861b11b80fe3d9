#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

#include "AudioStreamSource.h"
#include "Mark.h"

class ConverterDialog;
class MediaController;
class PreviewPlayer;
class ProfileSettings;
class UserMessages;
class WaveformBuilder;
class WaveformPyramid;

// Carries the precision panel's commands to the controllers and keeps the panel up to
// date: marks typed, nudged and dragged, audition of the selection, the track, the output
// format, and the waveform of the chosen track, computed off the GUI thread.
class PanelController final : public QObject {
    Q_OBJECT
  public:
    PanelController(ConverterDialog& dialog, MediaController& media, PreviewPlayer& preview,
                    ProfileSettings& settings, UserMessages& messages, AudioSourceFactory sources,
                    QObject* parent = nullptr);
    // Stops the waveform's computation and waits for its thread.
    ~PanelController() override;

    // The output choices as stored: a SampleFormat value and the modern header.
    static int StoredFormat(const ProfileSettings& settings);
    static bool StoredModernHeader(const ProfileSettings& settings);
    // Whether a cut ends exactly at the End mark rather than in whole buffers.
    static bool StoredExactEnd(const ProfileSettings& settings);

    // True while a waveform is being computed.
    bool IsComputingWaveform() const;
    const std::shared_ptr<const WaveformPyramid>& Waveform() const { return m_waveform; }

    // The audition commands.
    void PlaySelection();
    void SetLooping(bool on);
    void PlayStart();
    void PlayEnd();

  signals:
    // The waveform of the open file's chosen track is complete.
    void waveformComplete();

  private:
    void OnMediaChanged();
    void OnMarksChanged();
    void OnTrackChanged();
    void OnMarkProposed(Mark mark, int64_t rt);
    void OnMarkTextRejected(Mark mark, const QString& text);
    void OnRefreshTimer();
    void StartWaveform();
    // Plays a part of the selection; false, with the user told, when the marks are not in
    // order.
    bool Audition(int64_t from, int64_t to, bool loop);
    void ShowMessage(const QString& text);
    // The preview's window where the dialog, with or without its panel, leaves it most room.
    void PlacePreview();

    ConverterDialog& m_dialog;
    MediaController& m_media;
    PreviewPlayer& m_preview;
    ProfileSettings& m_settings;
    UserMessages& m_messages;
    std::unique_ptr<WaveformBuilder> m_builder;
    std::shared_ptr<const WaveformPyramid> m_waveform;
    QTimer m_refreshTimer;
    Mark m_activeMark = Mark::Start;
};
