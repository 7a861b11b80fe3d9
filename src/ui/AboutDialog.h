#pragma once

#include <QDialog>
#include <QIcon>

#include "OrvaneVersion.h"

// The About box: product name, version, legal notice, web site and support lines.
class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent = nullptr);

    // The application icon in every size the program carries, for windows and this box.
    static QIcon ApplicationIcon();

    // UTF-8: the copyright sign keeps the notice within its line, where "(C)" did not fit.
    static constexpr const char* kLegalNotice =
        QT_TR_NOOP("Copyright \xC2\xA9 2026 Vantorel. All rights reserved.");

  private:
    void FitTexts(QWidget* centred);
};
