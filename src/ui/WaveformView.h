#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

#include "Mark.h"
#include "WaveformPyramid.h"

// The waveform of the whole file, with the selection between the marks shaded, a line
// and a handle for each mark, and the playhead. A click seeks, a handle drags its mark,
// the wheel zooms around the pointer (down to 256 samples a pixel), and dragging the
// background scrolls a zoomed view. It shows what it is given and reports what the user
// does; times are media time.
class WaveformView final : public QWidget {
    Q_OBJECT
  public:
    explicit WaveformView(QWidget* parent = nullptr);

    // The waveform being computed (or none), and the file's duration.
    void ShowWaveform(std::shared_ptr<const WaveformPyramid> waveform, int64_t duration);
    // More of the waveform has been computed.
    void Refresh();
    void ShowMarks(int64_t start, int64_t end);
    // The segment list's pieces, drawn as labelled bands along the bottom.
    struct Band {
        int64_t start = 0;
        int64_t end = 0;
        QString label;
    };
    void ShowBands(std::vector<Band> bands);
    void ShowPlayhead(int64_t position);

    // The visible span, in media time.
    int64_t ViewStart() const { return m_viewStart; }
    int64_t ViewSpan() const { return m_viewSpan; }
    // The time under a pixel column and the column of a time.
    int64_t TimeAt(double x) const;
    double XOf(int64_t rt) const;
    // Zooms by `factor` (below 1 zooms in) keeping the time under column `x` in place.
    void ZoomAround(double x, double factor);

    QSize sizeHint() const override;

  signals:
    void seekRequested(int64_t position);
    void markDragged(Mark mark, int64_t position);
    // Left or Right: the playhead one step (a frame, or 10 ms without a picture) back or on.
    void playheadStepRequested(int steps);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    enum class Drag { None, Pending, Background, StartMark, EndMark };

    // The narrowest span the view may show at its width.
    int64_t MinimumSpan() const;
    void SetView(int64_t start, int64_t span);
    const std::vector<WaveformPyramid::Column>& Columns();
    void UpdateAt(int64_t rt);

    std::shared_ptr<const WaveformPyramid> m_waveform;
    int64_t m_duration = 0;
    int64_t m_viewStart = 0;
    int64_t m_viewSpan = 0;
    int64_t m_start = 0;
    int64_t m_end = 0;
    int64_t m_playhead = -1;
    std::vector<Band> m_bands;

    std::vector<WaveformPyramid::Column> m_columns;
    bool m_columnsValid = false;

    Drag m_drag = Drag::None;
    QPoint m_pressAt;
    int64_t m_pressViewStart = 0;
};
