#pragma once

#include <QScrollArea>
#include <QSize>

// Everything the dialog shows, in a scroll area that scrolls only on a screen too small
// for the dialog with its panel open; elsewhere it is the dialog's plain client area.
class DialogBody final : public QScrollArea {
    Q_OBJECT
  public:
    explicit DialogBody(QWidget* parent = nullptr);

    // The widget the dialog's controls live on, at their template places.
    QWidget* Contents() const { return m_contents; }
    // Gives the contents `size`; returns the dialog's size: the same where `roomHeight`
    // allows, else that tall and a scroll bar wider, the contents scrolled.
    QSize Fit(const QSize& size, int roomHeight);

  private:
    QWidget* m_contents = nullptr;
};
