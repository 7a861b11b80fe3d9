#pragma once

#include <QRect>
#include <QStringList>

class QWidget;

// Measures for fitting a control to its (translated) texts.
class ControlText final {
  public:
    // The width a control needs to show each of its texts whole, with the style's air
    // around them; 0 for a control whose width does not follow a text.
    static int Width(const QWidget* control, const QStringList& texts);
    // Whether two controls share a row of the dialog.
    static bool SameRow(const QRect& a, const QRect& b);
};
