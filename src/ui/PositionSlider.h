#pragma once

#include <QSlider>

#include <cstdint>

class QMouseEvent;

// The position slider (0..600). While the left button is held on it, the application's
// drag flag is 1, so position reports leave the thumb to the mouse. Every left release
// that follows a press on it ends in sliderReleased(), also after a click on the groove,
// so a click seeks as a drag does; keyboard moves do not.
class PositionSlider final : public QSlider {
    Q_OBJECT
  public:
    // The scale: position p stands for p/600 of the clip.
    static constexpr int kRange = 600;

    PositionSlider(int& sliderDragging, QWidget* parent = nullptr);

    // The time of slider position pos in a clip of length stop: stop x pos x 1/600 in
    // double precision, truncated toward zero.
    static int64_t TimeAt(int64_t stop, int pos);
    // The slider position of time current in a clip of length stop (0 when stop is 0),
    // clamped to what an int holds.
    static int PositionOf(int64_t current, int64_t stop);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    int& m_sliderDragging;
    bool m_leftPressed = false;
};
