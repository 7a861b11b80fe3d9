#include "MessageBoxPreviewMessages.h"

#include <QMessageBox>

void MessageBoxPreviewMessages::ShowMessage(const QString& text, const QString& caption) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok);
    box.exec();
}
