#include <QLineEdit>

#include "DialogTestFixture.h"
#include "TestMedia.h"
#include "WavFile.h"

using Browse = DialogTestFixture;

TEST_F(Browse, AsksInTheCurrentFolderAndGivesTheChosenNameAWavExtension) {
    MakeMediaDialog();
    Open(MediaFile("clip.mpg", 10 * kSecond));
    const struct {
        const char* chosen;
        const char* shown;
    } cases[] = {
        {"/data/song", "/data/song.wav"},
        {"/data/song.mp3", "/data/song.wav"},
        {"/data/a.b.c", "/data/a.b.wav"},
        {"/data/song.WAV", "/data/song.wav"},
        {"/data/my.music/song", "/data/my.music/song.wav"},
    };
    QString previous = MusicFolder() + "/output.wav";
    for (const auto& c : cases) {
        choosers.saveCalls.clear();
        choosers.saveAnswer = c.chosen;
        Click(ConverterDialog::IDC_BROWSE);
        ASSERT_EQ(choosers.saveCalls.size(), 1u);
        EXPECT_EQ(choosers.saveCalls[0].title, "Select Output");
        EXPECT_EQ(choosers.saveCalls[0].filter, "Wav file (*.wav)");
        EXPECT_EQ(choosers.saveCalls[0].folder, previous.left(previous.lastIndexOf('/')));
        EXPECT_EQ(Control<QLineEdit>(1017)->text(), c.shown);
        previous = c.shown;
    }
    // A path is stored only once a conversion has written to it.
    EXPECT_EQ(StoredOutput(), "<missing>");
}

TEST_F(Browse, StartsFromTheLastTakenPathNotFromTypedText) {
    settings.WriteProfileString("Option", "output_cut_file", "output.wav");
    MakeMediaDialog();
    Open(MediaFile("clip.mpg", 10 * kSecond));
    Control<QLineEdit>(1017)->setText("/typed/elsewhere/x.wav");
    Click(ConverterDialog::IDC_BROWSE);
    ASSERT_EQ(choosers.saveCalls.size(), 1u);
    EXPECT_EQ(choosers.saveCalls[0].folder, ".");
}

TEST_F(Browse, CancelChangesNothing) {
    const QString stored = "/data/kept.wav";
    settings.WriteProfileString("Option", "output_cut_file", stored);
    MakeMediaDialog();
    Open(MediaFile("clip.mpg", 10 * kSecond));
    Click(ConverterDialog::IDC_BROWSE);
    EXPECT_EQ(Control<QLineEdit>(1017)->text(), stored);
    EXPECT_EQ(StoredOutput(), stored);
}

TEST_F(Browse, AChosenPathIsStoredOnceAConversionWroteToIt) {
    TestMedia media;
    const QString tone = QString::fromStdString(media.Make("tone.wav", TestMedia::Tones(1, 8000)));
    MakeMediaDialog();
    OpenWithMarks(tone, kSecond, 0, kSecond / 2);
    // Chosen, then the dialog ends: not stored, since nothing was written there.
    choosers.saveAnswer = QString::fromStdString(media.Path("first"));
    Click(ConverterDialog::IDC_BROWSE);
    EXPECT_TRUE(CloseDialog());
    EXPECT_EQ(StoredOutput(), "<missing>");

    // Chosen and converted to: stored at once, and again by the close steps.
    MakeMediaDialog();
    OpenWithMarks(tone, kSecond, 0, kSecond / 2);
    const QString second = QString::fromStdString(media.Path("second.wav"));
    choosers.saveAnswer = second;
    Click(ConverterDialog::IDC_BROWSE);
    Click(ConverterDialog::IDC_CONVERT);
    ASSERT_TRUE(WaitFor([&] { return ended == 1; }));
    EXPECT_TRUE(WavFile::Read(second.toStdString()).Valid());
    EXPECT_EQ(StoredOutput(), second);
    Control<QLineEdit>(1017)->setText("/typed/but/never/converted.wav");
    EXPECT_TRUE(CloseDialog());
    EXPECT_EQ(StoredOutput(), second);
}
