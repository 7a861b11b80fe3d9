#include "DialogBody.h"

#include <QScrollBar>
#include <QStyle>

DialogBody::DialogBody(QWidget* parent) : QScrollArea(parent) {
    setObjectName("dialogBody");
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidgetResizable(false);
    setFocusPolicy(Qt::NoFocus);
    // The dialog's own background, as without the area.
    viewport()->setAutoFillBackground(false);
    m_contents = new QWidget;
    m_contents->setObjectName("dialogContents");
    setWidget(m_contents);
}

QSize DialogBody::Fit(const QSize& size, int roomHeight) {
    m_contents->setFixedSize(size);
    QSize shown = size;
    if (roomHeight < size.height()) {
        shown.setHeight(std::max(roomHeight, 1));
        shown.rwidth() +=
            style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
    }
    setGeometry(QRect(QPoint(0, 0), shown));
    return shown;
}
