#include "WindowOrder.h"

#include <QWindow>

namespace {

// Changes the stay-on-top flag on the native window directly: the widget's own
// setWindowFlag() would hide the window, and hiding a dialog ends its exec().
void SetStaysOnTop(QWidget* widget, bool on) {
    if (QWindow* handle = widget->windowHandle()) {
        handle->setFlag(Qt::WindowStaysOnTopHint, on);
    }
}

void WindowInFront(QWidget* window) {
    window->raise();
    window->activateWindow();
}

}  // namespace

WindowOrder::WindowOrder(QWidget* dialog, QObject* parent) : QObject(parent), m_dialog(dialog) {}

void WindowOrder::DialogInFront() {
    SetStaysOnTop(m_dialog, true);
    m_dialog->show();
    m_dialog->raise();
}

void WindowOrder::OnPictureClicked(QWidget* preview, bool fullScreen) {
    if (!m_dialog || preview == nullptr) {
        return;
    }
    if (fullScreen) {
        if (m_clickHidesDialog) {
            // Behind the full-screen picture rather than hidden: hiding a modal dialog
            // would end it.
            SetStaysOnTop(m_dialog, false);
            m_dialog->lower();
            WindowInFront(preview);
        } else {
            DialogInFront();
            m_dialog->activateWindow();
        }
        m_clickHidesDialog = !m_clickHidesDialog;
        return;
    }
    if (m_dialogOnTop) {
        SetStaysOnTop(m_dialog, false);
        m_dialog->show();
        preview->show();
        WindowInFront(preview);
    } else {
        DialogInFront();
    }
    m_dialogOnTop = !m_dialogOnTop;
}

void WindowOrder::OnFullScreenChanged(QWidget* preview, bool on) {
    m_clickHidesDialog = true;
    if (on || !m_dialog) {
        return;
    }
    m_dialog->raise();
    if (preview != nullptr && preview->isVisible()) {
        preview->raise();
    }
}
