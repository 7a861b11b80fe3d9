#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>

#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

#include "ConverterApp.h"
#include "ConverterDialog.h"
#include "ProgramRun.h"
#include "TestMedia.h"

TEST(StartFile, IsTheFirstArgumentMadeAbsolute) {
    EXPECT_EQ(ConverterApp::MediaFileArgument({"orvane"}), "");
    EXPECT_EQ(ConverterApp::MediaFileArgument({"orvane", ""}), "");
    EXPECT_EQ(ConverterApp::MediaFileArgument({"orvane", "clips/My Clip.MPG"}),
              QDir::current().absoluteFilePath("clips/My Clip.MPG"));
    EXPECT_EQ(ConverterApp::MediaFileArgument({"orvane", "/media/a.mpg", "/media/b.mpg"}),
              "/media/a.mpg");
}

// `orvane FILE`: the dialog comes up with the file open in the real preview.
TEST(StartFile, OpensInTheShownDialogAsOpenMediaFileWould) {
    ASSERT_TRUE(QDir().mkpath(QDir::homePath() + "/Music"));
    TestMedia media;
    const std::string clip =
        media.Make("Start Clip.mpg",
                   "-f lavfi -i testsrc=d=3:s=160x120:r=25 -f lavfi -i sine=d=3 "
                   "-c:v mpeg1video -c:a mp2");
    auto& app = *static_cast<ConverterApp*>(QCoreApplication::instance());
    app.SetStartFile(QString::fromStdString(clip));

    // The preview is a window of its own, named so.
    const auto previewWindows = [] {
        int count = 0;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            count += w->objectName() == "PreviewWindow" ? 1 : 0;
        }
        return count;
    };
    QString info;
    QStringList boxes;
    bool hadPreview = false;
    EXPECT_FALSE(RunProgram(
        app, [&](QMessageBox& box) { boxes << box.text(); },
        [&](ConverterDialog& dialog) {
            info = static_cast<QLabel*>(dialog.Control(ConverterDialog::IDC_INFO))->text();
            // The probe runs on: the line says "Opening…" until it has answered.
            if (!info.startsWith("Start Clip.mpg   ")) {
                return false;
            }
            hadPreview = previewWindows() == 1;
            return true;
        }));
    app.SetStartFile(QString());

    EXPECT_TRUE(boxes.isEmpty()) << boxes.join("|").toStdString();
    EXPECT_EQ(info, "Start Clip.mpg   00:00:00 / 00:00:03");
    EXPECT_TRUE(hadPreview);
    // The close steps took the preview along.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(previewWindows(), 0);
}
