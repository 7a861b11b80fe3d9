#include "ConverterApp.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSettings>
#include <QTextStream>
#include <QTimer>

#include "ConverterDialog.h"
#include "ProgramRun.h"

namespace {

ConverterApp& App() {
    return *static_cast<ConverterApp*>(QCoreApplication::instance());
}

QString IniPath(const QString& application) {
    return QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")) + "/Vantorel/" + application + ".ini";
}

void Forget(const QString& application) {
    QSettings(QSettings::IniFormat, QSettings::UserScope, "Vantorel", application).clear();
}

}  // namespace

TEST(ConverterApp, IsNamedAfterItsExecutable) {
    EXPECT_EQ(QCoreApplication::applicationName(), "app_tests");
    EXPECT_EQ(App().Settings().Application(), "app_tests");
    EXPECT_EQ(ConverterApp::ApplicationNameFor("/usr/bin/orvane"), "orvane");
    EXPECT_EQ(ConverterApp::ApplicationNameFor("./my tools/orvane.bin"), "orvane");
    EXPECT_EQ(ConverterApp::ApplicationNameFor("orvane-copy"), "orvane-copy");
}

TEST(ConverterApp, SliderFlagStartsAtZero) {
    EXPECT_EQ(App().m_bSliderDragging, 0);
}

TEST(ConverterApp, SettingsRoundTripThroughTheIniFile) {
    Forget("app_tests");
    EXPECT_EQ(App().Settings().GetProfileString("Option", "output_cut_file", "/default.wav"),
              "/default.wav");

    const QString path = "/home/u/Música/" + QString(300, 'x') + " and more.wav";
    App().Settings().WriteProfileString("Option", "output_cut_file", path);
    EXPECT_EQ(App().Settings().GetProfileString("Option", "output_cut_file", "/default.wav"), path);

    // Where it lives: the maker's folder, the application's INI file, group Option.
    QFile ini(IniPath("app_tests"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly)) << ini.fileName().toStdString();
    const QString text = QString::fromUtf8(ini.readAll());
    EXPECT_TRUE(text.startsWith("[Option]")) << text.toStdString();
    EXPECT_TRUE(text.contains("output_cut_file=")) << text.toStdString();

    // A fresh store of the same name reads the same value: it survives a restart.
    EXPECT_EQ(ProfileSettings("app_tests").GetProfileString("Option", "output_cut_file", ""), path);
}

TEST(ConverterApp, StoredEmptyValueStaysEmpty) {
    Forget("app_tests");
    App().Settings().WriteProfileString("Option", "output_cut_file", "");
    EXPECT_EQ(App().Settings().GetProfileString("Option", "output_cut_file", "/default.wav"), "");
}

TEST(ConverterApp, AnotherExecutableNameStartsWithDefaults) {
    Forget("app_tests");
    Forget("orvane-renamed");
    App().Settings().WriteProfileString("Option", "output_cut_file", "/mine.wav");
    ProfileSettings renamed(ConverterApp::ApplicationNameFor("/opt/orvane-renamed"));
    EXPECT_EQ(renamed.GetProfileString("Option", "output_cut_file", "/default.wav"),
              "/default.wav");
    EXPECT_EQ(App().Settings().GetProfileString("Option", "output_cut_file", "/default.wav"),
              "/mine.wav");
}

TEST(ConverterApp, IntegerSettingsFallBackToTheDefault) {
    Forget("app_tests");
    EXPECT_EQ(App().Settings().GetProfileInt("Setup", "g_bFullscreen", 7), 7);
    App().Settings().WriteProfileInt("Setup", "g_bFullscreen", 1);
    EXPECT_EQ(App().Settings().GetProfileInt("Setup", "g_bFullscreen", 7), 1);
    App().Settings().WriteProfileString("Setup", "g_bFullscreen", "not a number");
    EXPECT_EQ(App().Settings().GetProfileInt("Setup", "g_bFullscreen", 7), 7);
}

TEST(ConverterApp, RunsTheDialogWithoutBlockingOtherWindowsUntilItEnds) {
    ASSERT_TRUE(QDir().mkpath(QDir::homePath() + "/Music"));
    Forget("app_tests");
    bool shown = false;
    Qt::WindowModality modality = Qt::ApplicationModal;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<ConverterDialog*>(w); dialog && dialog->isVisible()) {
                shown = true;
                modality = dialog->windowModality();
                dialog->reject();  // Escape
            }
        }
    });
    EXPECT_FALSE(App().InitInstance());
    EXPECT_TRUE(shown);
    // Worker messages and the preview window have no owner: they must stay usable.
    EXPECT_EQ(modality, Qt::NonModal);
    // Nothing was converted, so no path is stored.
    EXPECT_EQ(App().Settings().GetProfileString("Option", "output_cut_file", "<missing>"),
              "<missing>");
}

TEST(ConverterApp, MissingMusicFolderIsReportedAndTheDialogStillRuns) {
    ASSERT_TRUE(QDir(QDir::homePath() + "/Music").removeRecursively());
    Forget("app_tests");
    QString boxText;
    QString boxTitle;
    bool dialogShown = false;
    // Answers the start-up box, then ends the dialog.
    EXPECT_FALSE(RunProgram(
        App(),
        [&](QMessageBox& box) {
            boxText = box.text();
            boxTitle = box.windowTitle();
        },
        [&](ConverterDialog&) { return dialogShown = true; }));
    EXPECT_EQ(boxText, "Can not get My Music directory!");
    EXPECT_EQ(boxTitle, "Error");
    EXPECT_TRUE(dialogShown);
    EXPECT_EQ(App().Settings().GetProfileString("Option", "output_cut_file", "<missing>"),
              "<missing>");
}
