#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <memory>

#include "ConverterDialog.h"
#include "ConverterDialogProbe.h"
#include "ProfileSettings.h"
#include "RecordingMessages.h"

// A converter dialog over recorded messages and a settings store of its own, in the
// scratch home that main() set up, with the music folder present.
class DialogTestFixture : public ::testing::Test {
  protected:
    static constexpr const char* kAppName = "orvane-ui-tests";

    void SetUp() override {
        ClearSettings();
        ASSERT_TRUE(QDir().mkpath(MusicFolder()));
    }
    void TearDown() override { dialog.reset(); }

    static QString MusicFolder() {
        return QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    }
    static void ClearSettings() {
        QSettings(QSettings::IniFormat, QSettings::UserScope, ProfileSettings::kOrganisation,
                  kAppName)
            .clear();
    }
    QString StoredOutput() const {
        return settings.GetProfileString("Option", "output_cut_file", "<missing>");
    }

    ConverterDialog& MakeDialog() {
        dialog = std::make_unique<ConverterDialog>(settings, messages, dragging);
        dialog->SetSaveFileChooser(
            [this](QWidget*, const QString& title, const QString& folder, const QString& filter) {
                chooserCalls.push_back({title, folder, filter});
                return chooserAnswer;
            });
        probe = std::make_unique<ConverterDialogProbe>(*dialog);
        return *dialog;
    }

    template <typename T>
    T* Control(int id) const {
        return qobject_cast<T*>(dialog->Control(id));
    }

    struct ChooserCall {
        QString title, folder, filter;
    };

    RecordingMessages messages;
    ProfileSettings settings{kAppName};
    int dragging = 0;
    std::unique_ptr<ConverterDialog> dialog;
    std::unique_ptr<ConverterDialogProbe> probe;
    std::vector<ChooserCall> chooserCalls;
    QString chooserAnswer;
};
