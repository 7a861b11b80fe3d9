#include <QGuiApplication>

#include "AboutDialog.h"
#include "ConverterApp.h"

int main(int argc, char* argv[]) {
    ConverterApp app(argc, argv);
    // Lets the desktop match the windows to orvane.desktop and its icon.
    QGuiApplication::setDesktopFileName("orvane");
    QApplication::setWindowIcon(AboutDialog::ApplicationIcon());
    // The program ends when the converter dialog ends.
    return app.InitInstance() ? app.exec() : 0;
}
