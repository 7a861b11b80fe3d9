#include "OutputPathRules.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

TEST(OutputPathRules, SaveDialogNameAlwaysEndsInWav) {
    EXPECT_EQ(OutputPathRules::ForceWavExtension("/home/u/song"), "/home/u/song.wav");
    EXPECT_EQ(OutputPathRules::ForceWavExtension("/home/u/song.mp3"), "/home/u/song.wav");
    EXPECT_EQ(OutputPathRules::ForceWavExtension("/home/u/a.b.c"), "/home/u/a.b.wav");
    EXPECT_EQ(OutputPathRules::ForceWavExtension("/home/u/song.WAV"), "/home/u/song.wav");
    EXPECT_EQ(OutputPathRules::ForceWavExtension("/home/u/song.wav"), "/home/u/song.wav");
    // A dot in a folder name is not an extension.
    EXPECT_EQ(OutputPathRules::ForceWavExtension("/home/u/my.music/song"),
              "/home/u/my.music/song.wav");
    EXPECT_EQ(OutputPathRules::ForceWavExtension("song"), "song.wav");
}

TEST(OutputPathRules, LongPathsAreKeptWhole) {
    const QString folder = "/tmp/" + QString(300, 'd');
    const QString name = QString(200, 'n');
    const QString chosen = folder + "/" + name + ".mp3";
    const QString forced = OutputPathRules::ForceWavExtension(chosen);
    EXPECT_EQ(forced, folder + "/" + name + ".wav");
    EXPECT_EQ(OutputPathRules::InitialFolder(forced), folder);
}

TEST(OutputPathRules, SaveDialogStartsInTheFolderOfTheCurrentPath) {
    EXPECT_EQ(OutputPathRules::InitialFolder("/home/u/Music/output.wav"), "/home/u/Music");
    EXPECT_EQ(OutputPathRules::InitialFolder("output.wav"), ".");
    EXPECT_EQ(OutputPathRules::InitialFolder(""), ".");
    EXPECT_EQ(OutputPathRules::InitialFolder("/output.wav"), "/");
    EXPECT_EQ(OutputPathRules::InitialFolder("rel/out.wav"), "rel");
}

TEST(OutputPathRules, DefaultNeedsAnExistingMusicFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_EQ(OutputPathRules::DefaultInMusicFolder(dir.path()), dir.path() + "/output.wav");
    EXPECT_EQ(OutputPathRules::DefaultInMusicFolder(dir.path() + "/"), dir.path() + "/output.wav");
    EXPECT_EQ(OutputPathRules::DefaultInMusicFolder(dir.path() + "/missing"), "");
    EXPECT_EQ(OutputPathRules::DefaultInMusicFolder(""), "");
    EXPECT_EQ(OutputPathRules::DefaultInHome("/home/u"), "/home/u/output.wav");
}

TEST(OutputPathRules, FileExistsForAnyFileButAFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("x.wav");
    EXPECT_FALSE(OutputPathRules::FileExists(path));
    EXPECT_FALSE(OutputPathRules::FileExists(""));
    // A folder is no file to replace.
    EXPECT_FALSE(OutputPathRules::FileExists(dir.path()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_TRUE(OutputPathRules::FileExists(path));
    // Not readable: still a file the conversion would replace.
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::WriteOwner));
    EXPECT_TRUE(OutputPathRules::FileExists(path));
    // A named pipe is found without opening it (which would wait for a writer).
    const QString fifo = dir.filePath("pipe.wav");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_TRUE(OutputPathRules::FileExists(fifo));
}
