#include "DialogUnits.h"

#include <QFont>
#include <QFontMetrics>

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width of the Latin letters, rounded, the measure templates assume.
    const int letters =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_baseX = (letters / 26 + 1) / 2;
    m_baseY = metrics.height();
}

int DialogUnits::Scale(int units, int base, int divisor) {
    const long long scaled = static_cast<long long>(units) * base;
    return static_cast<int>((scaled + (scaled >= 0 ? divisor / 2 : -divisor / 2)) / divisor);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + width) - left, Y(y + height) - top);
}
