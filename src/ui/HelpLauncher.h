#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

// Opens the installed HTML help and the product's home page, without a shell.
namespace HelpLauncher {

inline constexpr const char* kHomepage = "https://orvane.example.org/";
inline constexpr const char* kSupportPage = "https://orvane.example.org/support/";
// The first page of the help.
inline constexpr const char* kStartPage = "Introduction.htm";

// Opens Introduction.htm of the help in the user's browser, or in a help window of
// the program's own when that fails.
void OpenHelp(QWidget* parent);
// Opens the product's home page in the user's browser.
void OpenHomepage();

// OpenHelp with the help taken from helpFolder. When the first page is missing there,
// the program's help window says so and where it looked.
void OpenHelpFrom(QWidget* parent, const QString& helpFolder);

// The help folder of the running program.
QString HelpFolder();
// The help folder of a program whose executable is in executableDir: <prefix>/bin gives
// <prefix>/share/orvane/help, both installed and in the build folder.
QString HelpFolderFor(const QString& executableDir);

// Hands a URL to the desktop (browser, mail program); true when that was started.
using UrlOpener = std::function<bool(const QUrl&)>;
bool OpenUrl(const QUrl& url);
// Replaces the desktop opener, so tests start no browser; an empty function restores it.
void SetUrlOpener(UrlOpener opener);

}  // namespace HelpLauncher
