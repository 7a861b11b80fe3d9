#pragma once

#include <QApplication>
#include <QString>

#include "AppTranslations.h"
#include "ProfileSettings.h"

// The program object: names the application after its executable, speaks the user's
// language, keeps the settings store and the slider-held flag, builds the real parts (FFmpeg,
// libmpv, QSettings, message boxes, file dialogs) and runs the converter with them.
class ConverterApp final : public QApplication {
    Q_OBJECT
  public:
    ConverterApp(int& argc, char** argv);

    // The executable's file name without its extension.
    static QString ApplicationNameFor(const QString& executablePath);

    // The media file named on the command line: the first argument after the program's
    // name, made absolute; "" when there is none.
    static QString MediaFileArgument(const QStringList& arguments);

    // A media file the dialog opens as soon as it is shown; "" for none.
    void SetStartFile(const QString& path) { m_strStartFile = path; }

    // Runs the converter dialog until it ends. Returns false: the program then ends.
    bool InitInstance();

    ProfileSettings& Settings() { return m_settings; }

    // 1 while the left mouse button is held on the position slider.
    int m_bSliderDragging = 0;

  private:
    ProfileSettings m_settings;
    QString m_strStartFile;
    // The user's language, from the start: every text is translated as it is made.
    AppTranslations m_translations;
};
