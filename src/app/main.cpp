#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <QTranslator>
#include <cstdio>
#include <cstring>

#include "AboutDialog.h"
#include "AppTranslations.h"
#include "ConverterApp.h"
#include "LibraryLog.h"
#include "OrvaneVersion.h"

namespace {

const char* const kUsage = QT_TRANSLATE_NOOP(
    "main",
    "Usage: orvane [FILE]\n"
    "Saves the sound track of a video or audio file as a PCM WAV file.\n"
    "\n"
    "  FILE           a media file to open at start\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME ...) work as in any Qt program.\n"
    "orvane-extract does the same conversion from a terminal. See orvane(1).\n");

// The usage in the user's language. No application object exists yet to install the
// translation on, so it is looked up directly, beside the executable as it would be.
QString Usage() {
    QTranslator translator;
    const QString executableDir = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    if (AppTranslations::LoadOwn(translator, QLocale::system(),
                                 AppTranslations::FolderFor(executableDir))) {
        const QString translated = translator.translate("main", kUsage);
        if (!translated.isEmpty()) {
            return translated;
        }
    }
    return QString::fromUtf8(kUsage);
}

// --help and --version are answered before the application object exists: that object
// connects to the display, which a terminal (or a package's install check) may not have.
// Returns the exit status, or -1 when the program is to start.
int AnswerInfoOption(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("orvane %s\n", ORVANE_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(Usage().toLocal8Bit().constData(), stdout);
            return 0;
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (const int status = AnswerInfoOption(argc, argv); status >= 0) {
        return status;
    }
    LibraryLog::Start();
    ConverterApp app(argc, argv);
    // Lets the desktop match the windows to orvane.desktop and its icon.
    QGuiApplication::setDesktopFileName("orvane");
    QApplication::setWindowIcon(AboutDialog::ApplicationIcon());
    // The program ends when the converter dialog ends.
    return app.InitInstance() ? app.exec() : 0;
}
