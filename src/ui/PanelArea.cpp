#include "PanelArea.h"

#include <QEvent>
#include <QLayout>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>

#include "PrecisionPanel.h"

namespace {

// Below this the panel would show too little to work in: it takes its whole height, and
// the dialog's body scrolls instead (never two scroll bars at once).
constexpr int kLeastHeight = 160;

}  // namespace

PanelArea::PanelArea(QWidget* parent) : QScrollArea(parent) {
    setObjectName("panelArea");
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidgetResizable(true);
    // The panel's controls take the focus; the area itself is no stop in the tab chain.
    setFocusPolicy(Qt::NoFocus);
    m_panel = new PrecisionPanel;
    m_panel->setObjectName("precisionPanel");
    setWidget(m_panel);
    m_panel->installEventFilter(this);
}

int PanelArea::ContentsHeight() const {
    QLayout* layout = m_panel->layout();
    const int width = viewport()->width();
    if (layout != nullptr && layout->hasHeightForWidth()) {
        return std::max(layout->totalHeightForWidth(width), layout->totalMinimumSize().height());
    }
    return m_panel->sizeHint().height();
}

void PanelArea::FitHeight(int room) {
    const int contents = ContentsHeight();
    setFixedHeight(room >= std::min(kLeastHeight, contents) ? std::min(room, contents) : contents);
}

int PanelArea::ScrollBarWidth() const {
    return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
}

bool PanelArea::eventFilter(QObject* watched, QEvent* event) {
    const bool done = QScrollArea::eventFilter(watched, event);
    if (watched == m_panel && event->type() == QEvent::LayoutRequest) {
        emit contentsChanged();
    }
    return done;
}
