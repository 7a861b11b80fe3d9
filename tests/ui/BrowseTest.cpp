#include <QLineEdit>

#include "DialogTestFixture.h"

using Browse = DialogTestFixture;

TEST_F(Browse, AsksInTheCurrentFolderAndStoresTheWavNameAtOnce) {
    ConverterDialog& dlg = MakeDialog();
    probe->SetMedia("/nowhere/clip.mpg", 0, 10'000'000);
    const struct {
        const char* chosen;
        const char* stored;
    } cases[] = {
        {"/data/song", "/data/song.wav"},
        {"/data/song.mp3", "/data/song.wav"},
        {"/data/a.b.c", "/data/a.b.wav"},
        {"/data/song.WAV", "/data/song.wav"},
        {"/data/my.music/song", "/data/my.music/song.wav"},
    };
    QString previous = MusicFolder() + "/output.wav";
    for (const auto& c : cases) {
        chooserCalls.clear();
        chooserAnswer = c.chosen;
        dlg.OnBrowse();
        ASSERT_EQ(chooserCalls.size(), 1u);
        EXPECT_EQ(chooserCalls[0].title, "Select Output");
        EXPECT_EQ(chooserCalls[0].filter, "Wav file (*.wav)");
        EXPECT_EQ(chooserCalls[0].folder, previous.left(previous.lastIndexOf('/')));
        EXPECT_EQ(probe->OutputFile(), c.stored);
        EXPECT_EQ(Control<QLineEdit>(1017)->text(), c.stored);
        EXPECT_EQ(StoredOutput(), c.stored);
        previous = c.stored;
    }
}

TEST_F(Browse, StartsFromTheMemberNotFromTypedText) {
    settings.WriteProfileString("Option", "output_cut_file", "output.wav");
    ConverterDialog& dlg = MakeDialog();
    probe->SetMedia("/nowhere/clip.mpg", 0, 10'000'000);
    Control<QLineEdit>(1017)->setText("/typed/elsewhere/x.wav");
    chooserAnswer = "";
    dlg.OnBrowse();
    ASSERT_EQ(chooserCalls.size(), 1u);
    EXPECT_EQ(chooserCalls[0].folder, ".");
}

TEST_F(Browse, CancelChangesNothing) {
    const QString stored = "/data/kept.wav";
    settings.WriteProfileString("Option", "output_cut_file", stored);
    ConverterDialog& dlg = MakeDialog();
    probe->SetMedia("/nowhere/clip.mpg", 0, 10'000'000);
    chooserAnswer = "";
    dlg.OnBrowse();
    EXPECT_EQ(probe->OutputFile(), stored);
    EXPECT_EQ(Control<QLineEdit>(1017)->text(), stored);
    EXPECT_EQ(StoredOutput(), stored);
}

TEST_F(Browse, ChosenPathIsRememberedAfterEscape) {
    ConverterDialog& dlg = MakeDialog();
    probe->SetMedia("/nowhere/clip.mpg", 0, 10'000'000);
    chooserAnswer = "/data/chosen";
    dlg.OnBrowse();
    dlg.reject();
    EXPECT_EQ(StoredOutput(), "/data/chosen.wav");
}
