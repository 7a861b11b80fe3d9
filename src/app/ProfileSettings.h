#pragma once

#include <QString>

// The program's settings store: an INI file per user, under the maker's name and
// the application's name, one group per section. A missing value gives the
// caller's default; a value stored empty stays empty.
class ProfileSettings final {
  public:
    static constexpr const char* kOrganisation = "Vantorel";
    // The section of the dialog's options.
    static constexpr const char* kOptionSection = "Option";

    // The application name defaults to the running program's.
    explicit ProfileSettings(QString application = QString());

    const QString& Application() const { return m_application; }

    QString GetProfileString(const QString& section, const QString& key,
                             const QString& defaultValue) const;
    // True when the value is stored, even empty.
    bool HasProfileString(const QString& section, const QString& key) const;
    bool WriteProfileString(const QString& section, const QString& key, const QString& value);
    int GetProfileInt(const QString& section, const QString& key, int defaultValue) const;
    bool WriteProfileInt(const QString& section, const QString& key, int value);

  private:
    QString m_application;
};
