#include "WaveformView.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "MediaTime.h"

namespace {

constexpr int kHandle = 6;     // half the width of a mark's handle, and its grab distance
constexpr int kClickSlop = 3;  // pixels a press may move and still be a click
constexpr double kWheelStep = 1.25;

}  // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(60);
    setMouseTracking(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Tab and a click reach it: the arrows move the playhead, as the nudges move a mark.
    setFocusPolicy(Qt::StrongFocus);
}

QSize WaveformView::sizeHint() const {
    return {400, 80};
}

void WaveformView::ShowWaveform(std::shared_ptr<const WaveformPyramid> waveform, int64_t duration) {
    m_waveform = std::move(waveform);
    m_duration = std::max<int64_t>(duration, 0);
    SetView(0, m_duration);
}

void WaveformView::Refresh() {
    m_columnsValid = false;
    update();
}

void WaveformView::ShowMarks(int64_t start, int64_t end) {
    if (start == m_start && end == m_end) {
        return;
    }
    m_start = start;
    m_end = end;
    update();
}

void WaveformView::ShowPlayhead(int64_t position) {
    if (position == m_playhead) {
        return;
    }
    // Only the two thin strips change.
    UpdateAt(m_playhead);
    m_playhead = position;
    UpdateAt(m_playhead);
}

void WaveformView::UpdateAt(int64_t rt) {
    if (rt >= 0 && m_viewSpan > 0) {
        const int x = static_cast<int>(std::floor(XOf(rt)));
        update(QRect(x - 1, 0, 3, height()));
    }
}

int64_t WaveformView::TimeAt(double x) const {
    if (width() <= 0) {
        return m_viewStart;
    }
    return m_viewStart + std::llround(x * static_cast<double>(m_viewSpan) / width());
}

double WaveformView::XOf(int64_t rt) const {
    if (m_viewSpan <= 0) {
        return 0;
    }
    return static_cast<double>(rt - m_viewStart) * width() / static_cast<double>(m_viewSpan);
}

int64_t WaveformView::MinimumSpan() const {
    const int rate = m_waveform ? m_waveform->SampleRate() : 0;
    if (rate <= 0) {
        return std::min<int64_t>(m_duration, MediaTime::kUnitsPerSecond / 100);
    }
    // 256 sample frames a column.
    const double span = static_cast<double>(WaveformPyramid::kFine) * std::max(width(), 1) *
                        MediaTime::kUnitsPerSecond / rate;
    return std::min<int64_t>(m_duration, std::llround(span));
}

void WaveformView::SetView(int64_t start, int64_t span) {
    span = std::clamp<int64_t>(span, MinimumSpan(), std::max<int64_t>(m_duration, 1));
    start = std::clamp<int64_t>(start, 0, std::max<int64_t>(m_duration - span, 0));
    m_viewStart = start;
    m_viewSpan = span;
    m_columnsValid = false;
    update();
}

void WaveformView::ZoomAround(double x, double factor) {
    const int64_t anchor = TimeAt(x);
    const auto span = static_cast<int64_t>(std::llround(static_cast<double>(m_viewSpan) * factor));
    const int64_t clamped =
        std::clamp<int64_t>(span, MinimumSpan(), std::max<int64_t>(m_duration, 1));
    const double share = width() > 0 ? x / width() : 0;
    SetView(anchor - std::llround(share * static_cast<double>(clamped)), clamped);
}

const std::vector<WaveformPyramid::Column>& WaveformView::Columns() {
    const int rate = m_waveform ? m_waveform->SampleRate() : 0;
    if (m_columnsValid || rate <= 0) {
        if (rate <= 0) {
            m_columns.clear();
        }
        return m_columns;
    }
    const double framesPerSecond = static_cast<double>(rate) / MediaTime::kUnitsPerSecond;
    const auto first = static_cast<int64_t>(std::floor(m_viewStart * framesPerSecond));
    const double perColumn = m_viewSpan * framesPerSecond / std::max(width(), 1);
    m_columns = m_waveform->Columns(first, perColumn, width());
    m_columnsValid = true;
    return m_columns;
}

void WaveformView::ShowBands(std::vector<Band> bands) {
    m_bands = std::move(bands);
    update();
}

void WaveformView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    const QRect area = event->rect();
    const QPalette& colours = palette();
    painter.fillRect(area, colours.color(QPalette::Base));
    if (hasFocus()) {
        painter.setPen(QPen(colours.color(QPalette::Highlight), 1, Qt::DashLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    if (m_viewSpan <= 0) {
        return;
    }
    const int h = height();
    const double middle = (h - 1) / 2.0;

    // The selection under the waveform.
    if (m_end > m_start) {
        const double left = std::max(XOf(m_start), -1.0);
        const double right = std::min(XOf(m_end), width() + 1.0);
        if (right > left) {
            QColor shade = colours.color(QPalette::Highlight);
            shade.setAlpha(60);
            painter.fillRect(QRectF(left, 0, right - left, h), shade);
        }
    }

    // The segments: a band each along the bottom, alternately tinted so neighbours and
    // overlaps stay apart, with its label where there is room.
    const int bandHeight = std::min(h / 4, fontMetrics().height() + 2);
    for (size_t i = 0; i < m_bands.size(); ++i) {
        const Band& band = m_bands[i];
        const double left = std::max(XOf(band.start), -1.0);
        const double right = std::min(XOf(band.end), width() + 1.0);
        if (right <= left) {
            continue;
        }
        QColor tint = colours.color(i % 2 == 0 ? QPalette::Highlight : QPalette::Link);
        tint.setAlpha(110);
        const QRectF strip(left, h - bandHeight, right - left, bandHeight);
        painter.fillRect(strip, tint);
        painter.setPen(colours.color(QPalette::Text));
        painter.drawText(strip.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(band.label, Qt::ElideRight,
                                                  static_cast<int>(strip.width()) - 4));
    }

    const std::vector<WaveformPyramid::Column>& columns = Columns();
    painter.setPen(colours.color(QPalette::Text));
    const int from = std::max(area.left(), 0);
    const int to = std::min<int>(area.right(), static_cast<int>(columns.size()) - 1);
    for (int x = from; x <= to; ++x) {
        const WaveformPyramid::Column& c = columns[static_cast<size_t>(x)];
        if (!c.known) {
            continue;
        }
        const auto top = static_cast<int>(std::lround(middle - c.max * middle));
        const auto bottom = static_cast<int>(std::lround(middle - c.min * middle));
        painter.drawLine(x, top, x, std::max(top, bottom));
    }

    // Each mark a line with a handle on top.
    const QColor markColour = colours.color(QPalette::Highlight);
    for (const int64_t mark : {m_start, m_end}) {
        const double x = XOf(mark);
        if (x < -kHandle || x > width() + kHandle) {
            continue;
        }
        painter.setPen(markColour);
        painter.drawLine(QPointF(x, 0), QPointF(x, h));
        const QPointF handle[] = {{x - kHandle, 0}, {x + kHandle, 0}, {x, kHandle * 1.5}};
        painter.setBrush(markColour);
        painter.drawPolygon(handle, 3);
    }
    if (m_playhead >= 0) {
        painter.setPen(QColor(220, 40, 40));
        const double x = XOf(m_playhead);
        painter.drawLine(QPointF(x, 0), QPointF(x, h));
    }
}

void WaveformView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
        emit playheadStepRequested(event->key() == Qt::Key_Left ? -1 : 1);
        return;
    }
    QWidget::keyPressEvent(event);
}

void WaveformView::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    update();
}

void WaveformView::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    update();
}

void WaveformView::resizeEvent(QResizeEvent* /*event*/) {
    SetView(m_viewStart, m_viewSpan);
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || m_viewSpan <= 0) {
        return;
    }
    const double x = event->position().x();
    m_pressAt = event->position().toPoint();
    m_pressViewStart = m_viewStart;
    // The handle nearer the pointer wins when both are in reach.
    const double toStart = std::abs(x - XOf(m_start));
    const double toEnd = std::abs(x - XOf(m_end));
    if (std::min(toStart, toEnd) <= kHandle) {
        m_drag = toEnd < toStart ? Drag::EndMark : Drag::StartMark;
    } else {
        m_drag = Drag::Pending;
    }
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    const double x = event->position().x();
    switch (m_drag) {
        case Drag::StartMark:
        case Drag::EndMark: {
            const int64_t at = std::clamp<int64_t>(TimeAt(x), 0, m_duration);
            emit markDragged(m_drag == Drag::StartMark ? Mark::Start : Mark::End, at);
            break;
        }
        case Drag::Pending:
            if (std::abs(x - m_pressAt.x()) <= kClickSlop) {
                break;
            }
            m_drag = Drag::Background;
            [[fallthrough]];
        case Drag::Background: {
            const double perPixel = width() > 0 ? double(m_viewSpan) / width() : 0;
            SetView(m_pressViewStart - std::llround((x - m_pressAt.x()) * perPixel), m_viewSpan);
            break;
        }
        case Drag::None:
            break;
    }
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    if (m_drag == Drag::Pending) {
        emit seekRequested(std::clamp<int64_t>(TimeAt(event->position().x()), 0, m_duration));
    }
    m_drag = Drag::None;
}

void WaveformView::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0 || m_viewSpan <= 0) {
        event->ignore();
        return;
    }
    // One notch (120) zooms by a quarter; finer wheels zoom by their share of it.
    ZoomAround(event->position().x(), std::pow(kWheelStep, -delta / 120.0));
    event->accept();
}
