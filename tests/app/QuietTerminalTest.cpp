// `orvane FILE` previews the file without a word on the terminal, here where there is no sound
// device and no GPU: libmpv's audio outputs probe ALSA, PipeWire and JACK, and its OpenGL
// renderer probes for NVIDIA's driver. With ORVANE_LOG the same run tells what they say,
// which shows that the quiet run met the same probing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <memory>

#include "TestMedia.h"

namespace {

QString Program() {
    QString binDir = qEnvironmentVariable("ORVANE_BIN_DIR");
    if (binDir.isEmpty()) {
        binDir = QCoreApplication::applicationDirPath();
    }
    return binDir + "/orvane";
}

// An X server of the test's own with OpenGL in software (Mesa), as on a machine without a
// GPU; stopped with the object. Empty Display() where Xvfb is not installed.
class VirtualDisplay {
  public:
    VirtualDisplay() {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty()) {
            return;
        }
        // -displayfd 1: the server picks a free display and writes its number to stdout.
        m_server.start("Xvfb",
                       {"-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"});
        if (!m_server.waitForStarted(5000)) {
            return;
        }
        QByteArray number;
        while (!number.contains('\n') && m_server.waitForReadyRead(10000)) {
            number += m_server.readAllStandardOutput();
        }
        if (number.trimmed().isEmpty()) {
            return;
        }
        m_display = ":" + QString::fromLatin1(number.trimmed());
    }
    ~VirtualDisplay() {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            m_server.waitForFinished(5000);
        }
    }
    const QString& Display() const { return m_display; }

  private:
    QProcess m_server;
    QString m_display;
};

struct PreviewRun {
    bool started = false;
    QString output;  // stderr and stdout: libmpv writes its own lines to stdout
};

// The program previews clip for a few seconds on the platform (and display) given, and is
// then ended as a session ends it.
PreviewRun Preview(const QString& clip, const QString& platform, const QString& display,
                   const QString& log) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", platform);
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    if (!display.isEmpty()) {
        environment.insert("DISPLAY", display);
    }
    // The test's own settings decide, not the user's.
    environment.remove("ORVANE_LOG");
    environment.remove("PIPEWIRE_DEBUG");
    if (!log.isEmpty()) {
        environment.insert("ORVANE_LOG", log);
    }
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(Program(), {clip});
    PreviewRun run;
    run.started = program.waitForStarted(10000);
    // Long enough to open the file, probe the audio outputs and play: the logged runs show it.
    program.waitForFinished(6000);
    program.terminate();
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished();
    }
    run.output = QString::fromLocal8Bit(program.readAll());
    return run;
}

}  // namespace

struct Platform {
    const char* name;
    bool onDisplay;  // on an X server of the test's own, drawn through OpenGL
};

void PrintTo(const Platform& platform, std::ostream* out) {
    *out << platform.name;
}

class QuietTerminal : public ::testing::TestWithParam<Platform> {};

TEST_P(QuietTerminal, APreviewPrintsNothingUnlessTheLogIsAskedFor) {
    const Platform platform = GetParam();
    VirtualDisplay xvfb;
    if (platform.onDisplay && xvfb.Display().isEmpty()) {
        GTEST_SKIP() << "no X server for the OpenGL preview: Xvfb (Debian package xvfb) is "
                        "missing or did not start";
    }
    const QString display = platform.onDisplay ? xvfb.Display() : QString();
    ASSERT_TRUE(QDir().mkpath(QDir::homePath() + "/Music"));
    TestMedia media;
    const QString clip = QString::fromStdString(
        media.Make("Quiet Clip.mpg",
                   "-f lavfi -i testsrc=d=10:s=320x240:r=25 -f lavfi -i sine=d=10 "
                   "-c:v mpeg1video -c:a mp2"));

    const PreviewRun quiet = Preview(clip, platform.name, display, QString());
    ASSERT_TRUE(quiet.started);
    EXPECT_EQ(quiet.output.toStdString(), "");

    // The control: asked for, the libraries' words come, so the quiet run above met what
    // they had to say.
    const PreviewRun logged = Preview(clip, platform.name, display, "debug");
    ASSERT_TRUE(logged.started);
    EXPECT_TRUE(logged.output.contains("[file] Opening " + clip)) << logged.output.toStdString();
    EXPECT_TRUE(logged.output.contains("[ao/")) << "no audio output was probed";
    if (!QFile::exists("/dev/snd")) {
        EXPECT_TRUE(logged.output.contains("alsa: ")) << "ALSA found no device to complain of";
    }
    if (platform.onDisplay) {
        EXPECT_TRUE(logged.output.contains("[libmpv_render] GL_VERSION"))
            << "the preview was not drawn with OpenGL";
    }
}

INSTANTIATE_TEST_SUITE_P(Platforms, QuietTerminal,
                         ::testing::Values(Platform{"offscreen", false}, Platform{"xcb", true}),
                         [](const ::testing::TestParamInfo<Platform>& info) {
                             return std::string(info.param.onDisplay ? "OpenGl" : "Offscreen");
                         });
