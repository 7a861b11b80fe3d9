#include "HelpLauncher.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

#include "HelpWindow.h"

#ifndef ORVANE_HELP_RELATIVE_DIR
#define ORVANE_HELP_RELATIVE_DIR "../share/orvane/help"
#endif

namespace HelpLauncher {

namespace {

UrlOpener& Opener() {
    static UrlOpener opener;
    return opener;
}

}  // namespace

bool OpenUrl(const QUrl& url) {
    if (Opener()) {
        return Opener()(url);
    }
    return QDesktopServices::openUrl(url);
}

void SetUrlOpener(UrlOpener opener) {
    Opener() = std::move(opener);
}

QString HelpFolderFor(const QString& executableDir) {
    return QDir::cleanPath(QDir(executableDir).filePath(QStringLiteral(ORVANE_HELP_RELATIVE_DIR)));
}

QString HelpFolder() {
    return HelpFolderFor(QCoreApplication::applicationDirPath());
}

void OpenHelpFrom(QWidget* parent, const QString& helpFolder) {
    const QString page = QDir(helpFolder).filePath(QString::fromLatin1(kStartPage));
    const QUrl url = QUrl::fromLocalFile(page);
    // A browser handed a missing file shows nothing useful (or nothing at all), so a
    // missing help goes to our own window, which names the folder it looked in.
    if (QFileInfo(page).isFile() && OpenUrl(url)) {
        return;
    }
    HelpWindow::ShowPage(parent, url);
}

void OpenHelp(QWidget* parent) {
    OpenHelpFrom(parent, HelpFolder());
}

void OpenHomepage() {
    OpenUrl(QUrl(QString::fromLatin1(kHomepage)));
}

}  // namespace HelpLauncher
