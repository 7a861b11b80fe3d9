#include "QFileDialogChoosers.h"

#include <QFileDialog>

QString QFileDialogChoosers::ChooseMediaFile(QWidget* owner, const QString& title,
                                             const QString& folder, const QString& filter) {
    return QFileDialog::getOpenFileName(owner, title, folder, filter);
}

QString QFileDialogChoosers::ChooseOutputFile(QWidget* owner, const QString& title,
                                              const QString& folder, const QString& filter) {
    // The conversion asks before it replaces a file, so the file dialog does not.
    return QFileDialog::getSaveFileName(owner, title, folder, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString QFileDialogChoosers::ChooseFolder(QWidget* owner, const QString& title,
                                          const QString& folder) {
    return QFileDialog::getExistingDirectory(owner, title, folder);
}
