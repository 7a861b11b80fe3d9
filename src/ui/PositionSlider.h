#pragma once

#include <QSlider>

class QMouseEvent;

// The position slider (0..600). While the left button is held on it, the application's
// drag flag is 1, so position reports leave the thumb to the mouse. Every left release
// that follows a press on it ends in sliderReleased(), also after a click on the groove,
// so a click seeks as a drag does; keyboard moves do not.
class PositionSlider : public QSlider {
    Q_OBJECT
  public:
    PositionSlider(int& sliderDragging, QWidget* parent = nullptr);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    int& m_bSliderDragging;
    bool m_bLeftPressed = false;
};
