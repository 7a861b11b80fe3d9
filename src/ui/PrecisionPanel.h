#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <memory>

#include "Mark.h"

class MarkTimeEdit;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class SegmentPanel;
class WaveformPyramid;
class WaveformView;

// The panel under the dialog's own controls for exact work: the waveform, the marks to
// the millisecond with nudges, audition of the selection, the audio track and the output
// format. A view: it shows what it is told and passes the user's commands on.
class PrecisionPanel final : public QWidget {
    Q_OBJECT
  public:
    explicit PrecisionPanel(QWidget* parent = nullptr);

    // The entries of the format box, in the order of the SampleFormat values.
    static QStringList FormatNames();

    void ShowMarks(int64_t start, int64_t end);
    void ShowDuration(int64_t duration);
    void ShowWaveform(std::shared_ptr<const WaveformPyramid> waveform, int64_t duration);
    void RefreshWaveform();
    void ShowPlayhead(int64_t position);
    // The file's tracks as the user reads them, and the one chosen (an index of the list).
    void ShowTracks(const QStringList& tracks, int chosen);
    void ShowFormat(int index);
    void ShowModernHeader(bool on);
    void ShowExactEnd(bool on);
    void ShowLooping(bool on);
    // A note on the output format beside its choice (what the last conversion clipped);
    // "" takes it away.
    void ShowFormatNote(const QString& text);
    QString FormatNote() const;
    // Everything that needs an open file.
    void SetMediaEnabled(bool enabled);

    WaveformView* Waveform() const { return m_waveform; }
    SegmentPanel* Segments() const { return m_segments; }
    MarkTimeEdit* MarkField(Mark mark) const {
        return mark == Mark::Start ? m_startEdit : m_endEdit;
    }

  signals:
    void markProposed(Mark mark, int64_t rt);
    void markTextRejected(Mark mark, const QString& text);
    void nudgeRequested(Mark mark, int steps);
    void seekRequested(int64_t position);
    // The waveform's keys: the playhead a step back or on.
    void playheadStepRequested(int steps);
    void markDragged(Mark mark, int64_t position);
    void playSelectionClicked();
    void loopToggled(bool on);
    void playStartClicked();
    void playEndClicked();
    // An index of the list given to ShowTracks.
    void trackChosen(int index);
    void formatChosen(int index);
    void modernHeaderToggled(bool on);
    void exactEndToggled(bool on);

  private:
    QPushButton* MakeButton(const QString& text, const char* name);

    WaveformView* m_waveform = nullptr;
    MarkTimeEdit* m_startEdit = nullptr;
    MarkTimeEdit* m_endEdit = nullptr;
    QPushButton* m_loopButton = nullptr;
    QComboBox* m_trackBox = nullptr;
    QComboBox* m_formatBox = nullptr;
    QCheckBox* m_modernBox = nullptr;
    QCheckBox* m_exactEndBox = nullptr;
    QLabel* m_formatNote = nullptr;
    SegmentPanel* m_segments = nullptr;
    QList<QWidget*> m_mediaWidgets;
    bool m_mediaEnabled = false;
};
