#include "ConverterApp.h"

#include <QEventLoop>
#include <QFileInfo>

#include "ConverterDialog.h"
#include "QMessageBoxMessages.h"

namespace {

QString NameFromArguments(int argc, char** argv) {
    if (argc > 0 && argv[0] != nullptr) {
        return ConverterApp::ApplicationNameFor(QString::fromLocal8Bit(argv[0]));
    }
    return QString();
}

}  // namespace

ConverterApp::ConverterApp(int& argc, char** argv)
    : QApplication(argc, argv), m_settings(NameFromArguments(argc, argv)) {
    // The name the program was started under, which also names its settings.
    setApplicationName(m_settings.Application());
    setOrganizationName(ProfileSettings::kOrganisation);
}

QString ConverterApp::ApplicationNameFor(const QString& executablePath) {
    return QFileInfo(executablePath).completeBaseName();
}

bool ConverterApp::InitInstance() {
    QMessageBoxMessages messages;
    ConverterDialog dialog(m_settings, messages, m_bSliderDragging);
    // Shown rather than exec()'d: an application-modal dialog would block the
    // worker's message boxes and the preview window, which have no owner.
    QEventLoop loop;
    connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    dialog.show();
    loop.exec();
    return false;
}

QString ConverterApp::GetProfileString(const QString& section, const QString& key,
                                       const QString& defaultValue) const {
    return m_settings.GetProfileString(section, key, defaultValue);
}

bool ConverterApp::WriteProfileString(const QString& section, const QString& key,
                                      const QString& value) {
    return m_settings.WriteProfileString(section, key, value);
}

int ConverterApp::GetProfileInt(const QString& section, const QString& key,
                                int defaultValue) const {
    return m_settings.GetProfileInt(section, key, defaultValue);
}
