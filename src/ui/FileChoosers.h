#pragma once

#include <QString>

class QWidget;

// The file choosers the dialog's commands ask, so that tests can answer them.
class FileChoosers {
  public:
    virtual ~FileChoosers() = default;
    // A media file to open, or "" when cancelled. The chooser starts in folder, or where
    // the desktop's file dialog starts by itself when folder is "".
    virtual QString ChooseMediaFile(QWidget* owner, const QString& title, const QString& folder,
                                    const QString& filter) = 0;
    // The WAV file to write, or "" when cancelled.
    virtual QString ChooseOutputFile(QWidget* owner, const QString& title, const QString& folder,
                                     const QString& filter) = 0;
    // A folder to write into, or "" when cancelled.
    virtual QString ChooseFolder(QWidget* owner, const QString& title, const QString& folder) = 0;
};
