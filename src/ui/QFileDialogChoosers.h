#pragma once

#include "FileChoosers.h"

// The desktop's file dialogs.
class QFileDialogChoosers final : public FileChoosers {
  public:
    QString ChooseMediaFile(QWidget* owner, const QString& title, const QString& folder,
                            const QString& filter) override;
    QString ChooseOutputFile(QWidget* owner, const QString& title, const QString& folder,
                             const QString& filter) override;
    QString ChooseFolder(QWidget* owner, const QString& title, const QString& folder) override;
};
