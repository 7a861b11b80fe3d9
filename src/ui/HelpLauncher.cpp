#include "HelpLauncher.h"

namespace HelpLauncher {

void OpenHelp(QWidget*) {}
void OpenHomepage() {}

}  // namespace HelpLauncher
