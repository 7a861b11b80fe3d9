#include "ProfileSettings.h"

#include <QCoreApplication>
#include <QSettings>

namespace {

QString Path(const QString& section, const QString& key) {
    return section + "/" + key;
}

}  // namespace

ProfileSettings::ProfileSettings(QString application)
    : m_application(application.isEmpty() ? QCoreApplication::applicationName()
                                          : std::move(application)) {}

QString ProfileSettings::GetProfileString(const QString& section, const QString& key,
                                          const QString& defaultValue) const {
    const QSettings store(QSettings::IniFormat, QSettings::UserScope, kOrganisation, m_application);
    const QVariant value = store.value(Path(section, key));
    // An empty stored text is a choice of the user's, not a missing value.
    if (!value.isValid()) {
        return defaultValue;
    }
    return value.toString();
}

bool ProfileSettings::HasProfileString(const QString& section, const QString& key) const {
    const QSettings store(QSettings::IniFormat, QSettings::UserScope, kOrganisation, m_application);
    return store.contains(Path(section, key));
}

bool ProfileSettings::WriteProfileString(const QString& section, const QString& key,
                                         const QString& value) {
    QSettings store(QSettings::IniFormat, QSettings::UserScope, kOrganisation, m_application);
    store.setValue(Path(section, key), value);
    store.sync();
    return store.status() == QSettings::NoError;
}

int ProfileSettings::GetProfileInt(const QString& section, const QString& key,
                                   int defaultValue) const {
    const QSettings store(QSettings::IniFormat, QSettings::UserScope, kOrganisation, m_application);
    bool ok = false;
    const int value = store.value(Path(section, key)).toInt(&ok);
    return ok ? value : defaultValue;
}

bool ProfileSettings::WriteProfileInt(const QString& section, const QString& key, int value) {
    QSettings store(QSettings::IniFormat, QSettings::UserScope, kOrganisation, m_application);
    store.setValue(Path(section, key), value);
    store.sync();
    return store.status() == QSettings::NoError;
}
