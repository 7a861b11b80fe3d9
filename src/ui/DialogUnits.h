#pragma once

#include <QRect>

class QFont;

// Converts dialog-template units to pixels from a font's metrics, as dialog
// templates do: x by a quarter of the average character width, y by an eighth of
// the font height. Laid out this way the dialog keeps its proportions in any font.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY) : m_baseX(baseX), m_baseY(baseY) {}

    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

    int X(int units) const { return Scale(units, m_baseX, 4); }
    int Y(int units) const { return Scale(units, m_baseY, 8); }
    // Edges are converted rather than sizes, so controls that touch in the template
    // still touch on the screen.
    QRect Rect(int x, int y, int width, int height) const;

  private:
    // units x base / divisor, rounded to the nearest pixel.
    static int Scale(int units, int base, int divisor);

    int m_baseX;
    int m_baseY;
};
