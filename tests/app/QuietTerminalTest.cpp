// `orvane FILE` previews the file without a word on the terminal, here where there is no sound
// device and no GPU: libmpv's audio outputs probe ALSA, PipeWire and JACK, and its OpenGL
// renderer probes for NVIDIA's driver. With ORVANE_LOG the same run tells what they say,
// which shows that the quiet run met the same probing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <algorithm>
#include <functional>

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
    bool ready = false;  // `until` came true
    qint64 ms = 0;       // how long it ran
    QString output;      // stderr and stdout: libmpv writes its own lines to stdout
};

// The program previews clip on the platform (and display) given until its output satisfies
// `until`, or for `limit` when there is no `until`, and is then ended as a session ends it.
PreviewRun Preview(const QString& clip, const QString& platform, const QString& display,
                   const QString& log, const std::function<bool(const QString&)>& until,
                   qint64 limit) {
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
    QElapsedTimer clock;
    clock.start();
    program.start(Program(), {clip});
    PreviewRun run;
    run.started = program.waitForStarted(10000);
    while (run.started && clock.elapsed() < limit && program.state() == QProcess::Running) {
        program.waitForReadyRead(100);
        run.output += QString::fromLocal8Bit(program.readAll());
        if (until && until(run.output)) {
            run.ready = true;
            break;
        }
    }
    run.ms = clock.elapsed();
    program.terminate();
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished();
    }
    run.output += QString::fromLocal8Bit(program.readAll());
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

    // The control first: asked for, the libraries tell what they meet, up to the audio
    // output libmpv settles on after its probing and the video output.
    const PreviewRun logged = Preview(
        clip, platform.name, display, "debug",
        [](const QString& output) {
            return output.contains("\nAO: [") && output.contains("\nVO: [");
        },
        60'000);
    ASSERT_TRUE(logged.started);
    EXPECT_TRUE(logged.ready) << "the preview did not get to its outputs in 60 s:\n"
                              << logged.output.toStdString();
    EXPECT_TRUE(logged.output.contains("[file] Opening " + clip));
    if (!QFile::exists("/dev/snd")) {
        EXPECT_TRUE(logged.output.contains("alsa: ")) << "ALSA found no device to complain of";
    }
    if (platform.onDisplay) {
        EXPECT_TRUE(logged.output.contains("[libmpv_render] GL_VERSION"))
            << "the preview was not drawn with OpenGL";
    }

    // Unasked, the same run, given longer than the control needed, says nothing.
    const PreviewRun quiet = Preview(clip, platform.name, display, QString(), nullptr,
                                     std::max<qint64>(6000, logged.ms + 3000));
    ASSERT_TRUE(quiet.started);
    EXPECT_EQ(quiet.output.toStdString(), "");
}

INSTANTIATE_TEST_SUITE_P(Platforms, QuietTerminal,
                         ::testing::Values(Platform{"offscreen", false}, Platform{"xcb", true}),
                         [](const ::testing::TestParamInfo<Platform>& info) {
                             return std::string(info.param.onDisplay ? "OpenGl" : "Offscreen");
                         });
