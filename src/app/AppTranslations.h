#pragma once

#include <QLocale>
#include <QString>
#include <QTranslator>

// The user's language for the running program: Orvane's own translation and Qt's (the
// standard buttons and file dialogs), installed for as long as the object lives. Where
// either is missing for the language, its texts stay English, the sources' language.
class AppTranslations final {
  public:
    // Needs the application object. The locale's UI languages are tried in turn, so
    // LANGUAGE=de works as well as LANG=de_DE.UTF-8.
    explicit AppTranslations(const QLocale& locale = QLocale::system());
    ~AppTranslations();
    AppTranslations(const AppTranslations&) = delete;
    AppTranslations& operator=(const AppTranslations&) = delete;

    bool HasOwn() const { return m_ownInstalled; }
    bool HasQt() const { return m_qtInstalled; }

    // The folder of Orvane's translations for a program whose executable is in
    // executableDir: <prefix>/bin gives <prefix>/share/orvane/translations, installed and
    // in the build folder, as the help is found.
    static QString FolderFor(const QString& executableDir);
    // Loads Orvane's translation for locale from folder; false where there is none.
    static bool LoadOwn(QTranslator& translator, const QLocale& locale, const QString& folder);

  private:
    QTranslator m_own;
    QTranslator m_qt;
    bool m_ownInstalled = false;
    bool m_qtInstalled = false;
};
