#include "PositionSlider.h"

#include <QMouseEvent>
#include <algorithm>
#include <utility>

PositionSlider::PositionSlider(int& sliderDragging, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), m_sliderDragging(sliderDragging) {
    setRange(0, kRange);
}

int64_t PositionSlider::TimeAt(int64_t stop, int pos) {
    constexpr double kShare = 1.0 / kRange;  // 0.0016666666666666668
    return static_cast<int64_t>(static_cast<double>(stop) * pos * kShare);
}

int PositionSlider::PositionOf(int64_t current, int64_t stop) {
    if (stop == 0) {
        return 0;
    }
    // A position far past a tiny stop position must not overflow the conversion.
    const double share = static_cast<double>(current) / static_cast<double>(stop) * kRange;
    return static_cast<int>(std::clamp(share, -2147483648.0, 2147483647.0));
}

void PositionSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_sliderDragging = 1;
        m_leftPressed = true;
    }
    QSlider::mousePressEvent(event);
    update();
}

void PositionSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QSlider::mouseReleaseEvent(event);
        return;
    }
    // Cleared first: the release handler downstream must see the slider as free.
    m_sliderDragging = 0;
    const bool pressed = std::exchange(m_leftPressed, false);
    const bool draggedThumb = isSliderDown();
    QSlider::mouseReleaseEvent(event);
    // A click on the groove pages the thumb without holding it; Qt then signals no
    // release, but the user expects the preview to follow the thumb all the same.
    if (pressed && !draggedThumb) {
        emit sliderReleased();
    }
    update();
}

void PositionSlider::changeEvent(QEvent* event) {
    // A slider disabled under the user's button (the file closed, or failed to load) never
    // gets the release: it must not stay held, or it would ignore the next file's reports.
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        m_sliderDragging = 0;
        m_leftPressed = false;
    }
    QSlider::changeEvent(event);
}
