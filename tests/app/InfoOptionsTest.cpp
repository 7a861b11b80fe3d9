// `orvane --help` and `orvane --version` answer from a terminal without a display: they
// are handled before anything connects to one.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include "OrvaneVersion.h"

namespace {

struct ProgramOutput {
    bool exitedNormally = false;
    int status = -1;
    QString out;
    QString err;
};

// Runs the built orvane where no display can be reached: with the X11 platform forced and
// no DISPLAY, anything that makes the application object ends the program. The language
// is English unless `language` names variables to set (NAME=VALUE).
ProgramOutput RunWithoutDisplay(const QStringList& arguments,
                                const QStringList& language = {"LANG=C.UTF-8"}) {
    QString binDir = qEnvironmentVariable("ORVANE_BIN_DIR");
    if (binDir.isEmpty()) {
        binDir = QCoreApplication::applicationDirPath();
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("QT_QPA_PLATFORM", "xcb");
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        environment.remove(name);
    }
    for (const QString& setting : language) {
        environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
    }
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(binDir + "/orvane", arguments);
    ProgramOutput run;
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitedNormally = process.exitStatus() == QProcess::NormalExit;
    run.status = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

}  // namespace

TEST(InfoOptions, AnswerWithoutADisplay) {
    const QString help = RunWithoutDisplay({"--help"}).out;
    struct Case {
        QStringList arguments;
        QString expected;
    };
    const Case cases[] = {
        {{"--version"}, QStringLiteral("orvane " ORVANE_VERSION "\n")},
        {{"clip.mpg", "--version"}, QStringLiteral("orvane " ORVANE_VERSION "\n")},
        {{"--help"}, help},
        {{"-h"}, help},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const ProgramOutput run = RunWithoutDisplay(c.arguments);
        EXPECT_TRUE(run.exitedNormally);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, c.expected);
        EXPECT_EQ(run.err, "");
    }
    EXPECT_TRUE(help.startsWith("Usage: orvane [FILE]\n")) << help.toStdString();
    for (const char* option : {"-h, --help", "--version", "orvane(1)"}) {
        EXPECT_TRUE(help.contains(option)) << option;
    }
}

// The control: in the same surroundings the program proper cannot start, so the answers
// above cannot have come from a program that opened a window.
TEST(InfoOptions, ThereIsNoDisplayToOpenAWindowOn) {
    const ProgramOutput run = RunWithoutDisplay({});
    EXPECT_FALSE(run.exitedNormally && run.status == 0);
    EXPECT_NE(run.err, "");
}

// The usage comes in the user's language, chosen as the program chooses it for its
// windows: LANGUAGE first (a list), then LC_ALL, LC_MESSAGES and LANG.
TEST(InfoOptions, HelpSpeaksTheUsersLanguage) {
    const QString english = "Usage: orvane [FILE]\n";
    const QString german = "Aufruf: orvane [DATEI]\n";
    const struct {
        QStringList language;
        QString firstLine;
    } cases[] = {
        {{"LANG=C.UTF-8"}, english},         {{"LANG=de_DE.UTF-8"}, german},
        {{"LANG=C", "LANGUAGE=de"}, german}, {{"LANG=en_US.UTF-8", "LANGUAGE=fr:de"}, german},
        {{"LANG=de_AT.UTF-8"}, german},      {{"LANG=de_DE.UTF-8", "LC_ALL=en_GB.UTF-8"}, english},
        {{"LANG=fr_FR.UTF-8"}, english},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language.join(' ').toStdString());
        const ProgramOutput run = RunWithoutDisplay({"--help"}, c.language);
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(run.out.startsWith(c.firstLine)) << run.out.toStdString();
        EXPECT_EQ(run.err, "");
    }
}
