#include "AppTranslations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>

#ifndef ORVANE_TRANSLATIONS_RELATIVE_DIR
#define ORVANE_TRANSLATIONS_RELATIVE_DIR "../share/orvane/translations"
#endif

AppTranslations::AppTranslations(const QLocale& locale) {
    if (LoadOwn(m_own, locale, FolderFor(QCoreApplication::applicationDirPath()))) {
        m_ownInstalled = QCoreApplication::installTranslator(&m_own);
    }
    // Qt's in the language Orvane's own was found in, and only then: a dialog half in
    // one language and half in another reads worse than one in English.
    if (m_ownInstalled &&
        m_qt.load(QLocale(m_own.language()), QStringLiteral("qtbase"), QStringLiteral("_"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        m_qtInstalled = QCoreApplication::installTranslator(&m_qt);
    }
}

AppTranslations::~AppTranslations() {
    if (m_qtInstalled) {
        QCoreApplication::removeTranslator(&m_qt);
    }
    if (m_ownInstalled) {
        QCoreApplication::removeTranslator(&m_own);
    }
}

QString AppTranslations::FolderFor(const QString& executableDir) {
    return QDir::cleanPath(
        QDir(executableDir).filePath(QStringLiteral(ORVANE_TRANSLATIONS_RELATIVE_DIR)));
}

bool AppTranslations::LoadOwn(QTranslator& translator, const QLocale& locale,
                              const QString& folder) {
    return translator.load(locale, QStringLiteral("orvane"), QStringLiteral("_"), folder);
}
