#include "PositionSlider.h"

#include <QMouseEvent>
#include <utility>

PositionSlider::PositionSlider(int& sliderDragging, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), m_bSliderDragging(sliderDragging) {}

void PositionSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        m_bSliderDragging = 1;
        m_bLeftPressed = true;
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
    m_bSliderDragging = 0;
    const bool pressed = std::exchange(m_bLeftPressed, false);
    const bool draggedThumb = isSliderDown();
    QSlider::mouseReleaseEvent(event);
    // A click on the groove pages the thumb without holding it; Qt then signals no
    // release, but the user expects the preview to follow the thumb all the same.
    if (pressed && !draggedThumb) {
        emit sliderReleased();
    }
    update();
}
