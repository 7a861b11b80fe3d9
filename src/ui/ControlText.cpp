#include "ControlText.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>

#include <algorithm>

int ControlText::Width(const QWidget* control, const QStringList& texts) {
    int needed = 0;
    if (const auto* button = qobject_cast<const QPushButton*>(control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        const QRect contents =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        const int frame = option.rect.width() - contents.width() +
                          button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button);
        for (const QString& text : texts) {
            // The mnemonic's & is not shown; && shows one.
            const QString shown = QString(text).replace(QRegularExpression("&(.)"), "\\1");
            needed = std::max(needed, button->fontMetrics().horizontalAdvance(shown) + frame);
        }
    } else if (const auto* label = qobject_cast<const QLabel*>(control)) {
        if (!label->text().isEmpty() && label->frameShape() == QFrame::NoFrame) {
            needed = label->sizeHint().width();
        }
    }
    return needed;
}

bool ControlText::SameRow(const QRect& a, const QRect& b) {
    return a.top() <= b.bottom() && b.top() <= a.bottom();
}
