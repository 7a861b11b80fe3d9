#pragma once

class QWidget;

// Opens the installed HTML help and the product's home page, without a shell.
namespace HelpLauncher {

// Opens Introduction.htm of the help in the user's browser, or in a help window of
// the program's own when that fails.
void OpenHelp(QWidget* parent);
// Opens the product's home page in the user's browser.
void OpenHomepage();

}  // namespace HelpLauncher
