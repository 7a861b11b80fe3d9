#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include "DialogTestFixture.h"
#include "PrecisionPanel.h"
#include "RealMediaFixture.h"
#include "SegmentController.h"
#include "SegmentPanel.h"
#include "SilenceDialog.h"
#include "TestMedia.h"
#include "WaitFor.h"
#include "WaveformPyramid.h"

namespace {

QPushButton* Button(ConverterDialog& dialog, const char* name) {
    return dialog.Panel()->Segments()->findChild<QPushButton*>(name);
}

QStringList Column(ConverterDialog& dialog, int column) {
    QTableWidget* table = dialog.Panel()->Segments()->Table();
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row) {
        texts << table->item(row, column)->text();
    }
    return texts;
}

class SegmentListFiles : public DialogTestFixture {
  protected:
    void SetUp() override {
        DialogTestFixture::SetUp();
        MakeMediaDialog();
        Open(MediaFile("talk.mpg", 60 * kSecond));
    }
    QString Write(const QString& name, const QByteArray& text) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return path;
    }
    void OpenList(const QString& path) {
        choosers.openAnswer = path;
        Button(Dialog(), "openListButton")->click();
    }
    void SaveList(const QString& path) {
        choosers.saveAnswer = path;
        Button(Dialog(), "saveListButton")->click();
    }
    QStringList Starts() { return Column(Dialog(), SegmentPanel::StartColumn); }
    QStringList Names() { return Column(Dialog(), SegmentPanel::NameColumn); }
};

// Each kind of list file as a user opens it: a good one fills the list; a bad one is
// refused with its line and leaves the list as it was.
TEST_F(SegmentListFiles, AListFileFillsTheListOrIsRefusedWhole) {
    OpenList(Write("before.csv", "start,end,name\n0:00:01,0:00:02,Kept\n"));
    ASSERT_EQ(Names(), QStringList{"Kept"});
    EXPECT_EQ(choosers.openCalls.back().filter, "CSV (*.csv);;Labels (*.txt);;CUE sheet (*.cue)");
    const struct {
        const char* file;
        const char* text;
        QStringList starts;  // empty: refused
        QStringList names;
        const char* message;
    } cases[] = {
        {"songs.csv",
         "start,end,name\n0:00:20.5,0:00:30,Two\n5,12.25,\"One, first\"\n",
         {"0:00:05.000", "0:00:20.500"},
         {"One, first", "Two"},
         ""},
        {"takes.txt",
         "1.000000\t2.500000\tTake 1\n3\t4\tTake 2\n",
         {"0:00:01.000", "0:00:03.000"},
         {"Take 1", "Take 2"},
         ""},
        {"album.cue",
         "FILE \"talk.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"A\"\n    INDEX 01 00:00:00\n"
         "  TRACK 02 AUDIO\n    TITLE \"B\"\n    INDEX 01 00:30:00\n",
         {"0:00:00.000", "0:00:30.000"},
         {"A", "B"},
         ""},
        {"backwards.csv",
         "start,end,name\n0:00:01,0:00:02,a\n0:00:09,0:00:04,b\n",
         {},
         {},
         "Line 3 of "},
        // The readers' other refusals are their own tests'; the panel shows each alike.
        {"empty.csv", "", {}, {}, "the list holds no segment"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const QStringList startsBefore = Starts();
        const QStringList namesBefore = Names();
        messages.records.clear();
        OpenList(Write(c.file, c.text));
        if (c.starts.isEmpty()) {
            ASSERT_EQ(messages.records.size(), 1u);
            EXPECT_TRUE(messages.records[0].text.startsWith(c.message) ||
                        messages.records[0].text.contains(c.message))
                << messages.records[0].text.toStdString();
            EXPECT_TRUE(messages.records[0].text.contains(c.file));
            EXPECT_TRUE(messages.records[0].text.endsWith("The list was not opened."));
            EXPECT_EQ(Starts(), startsBefore);
            EXPECT_EQ(Names(), namesBefore);
        } else {
            EXPECT_TRUE(messages.records.empty());
            EXPECT_EQ(Starts(), c.starts);
            EXPECT_EQ(Names(), c.names);
        }
    }
}

TEST_F(SegmentListFiles, ASavedListReadsBackAndACueSheetWithAGapIsRefused) {
    OpenList(Write("in.txt", "1.5\t4\tFirst\n10\t12.125\tSecond\n"));
    ASSERT_EQ(Names(), QStringList({"First", "Second"}));

    messages.records.clear();
    SaveList(dir.filePath("out.cue"));
    ASSERT_EQ(messages.records.size(), 1u);
    EXPECT_TRUE(messages.records[0].text.startsWith("The list can not be saved as out.cue: "));
    EXPECT_FALSE(QFile::exists(dir.filePath("out.cue")));

    // A name without an extension is a CSV list.
    SaveList(dir.filePath("out"));
    QFile saved(dir.filePath("out.csv"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(),
              "start,end,name\n0:00:01.500,0:00:04.000,First\n"
              "0:00:10.000,0:00:12.125,Second\n");
    Button(Dialog(), "clearSegmentsButton")->click();
    OpenList(dir.filePath("out.csv"));
    EXPECT_EQ(Starts(), QStringList({"0:00:01.500", "0:00:10.000"}));
    EXPECT_EQ(Names(), QStringList({"First", "Second"}));
}

// Chapters as FFmpeg reads them from a real Matroska file.
class SegmentChapters : public RealMediaFixture {};

TEST_F(SegmentChapters, TheChaptersButtonFillsTheListFromTheFilesChapters) {
    TestMedia media;
    const std::string meta = media.Path("chapters.txt");
    QFile metaFile(QString::fromStdString(meta));
    ASSERT_TRUE(metaFile.open(QIODevice::WriteOnly));
    metaFile.write(
        ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=Opening\n"
        "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=4000\ntitle=Der Gro\xc3\x9f"
        "e\n");
    metaFile.close();
    const std::string withChapters =
        media.Make("c.mkv", TestMedia::Tones(4, 48000) + " -i " + ShellQuote(meta) +
                                " -map 0:a -map_chapters 1 -c:a flac");
    const std::string without = media.Make("plain.wav", TestMedia::Tones(4, 48000));

    ConverterDialog& dialog = MakeMediaDialog();
    Open(QString::fromStdString(without));
    EXPECT_FALSE(Button(dialog, "chaptersButton")->isEnabled());
    Open(QString::fromStdString(withChapters));
    ASSERT_TRUE(Button(dialog, "chaptersButton")->isEnabled());
    Button(dialog, "chaptersButton")->click();
    EXPECT_EQ(Column(dialog, SegmentPanel::NameColumn), QStringList({"Opening", "Der Große"}));
    EXPECT_EQ(Column(dialog, SegmentPanel::StartColumn),
              QStringList({"0:00:00.000", "0:00:01.500"}));
    EXPECT_EQ(Column(dialog, SegmentPanel::EndColumn), QStringList({"0:00:01.500", "0:00:04.000"}));
}

// Silences as a user finds them: the dialog counts on the waveform as its values move, and
// Find fills the list with the sound between the silences, each edge within 1 ms of the gap
// in the signal.
TEST_F(SegmentChapters, TheSilencesDialogCountsAsItsValuesMoveAndFindsEachEdge) {
    TestMedia media;
    // Sound, 3 s of silence, sound, a 0.5 s pause, sound.
    const std::string path = media.Make(
        "gaps.mka",
        "-f lavfi -i \"aevalsrc='if(between(t,2,5)+between(t,7,7.5),0,0.5*sin(2*PI*440*t))':"
        "s=44100:d=9\" -c:a flac");
    ConverterDialog& dialog = MakeMediaDialog();
    Open(QString::fromStdString(path));
    dialog.findChild<QPushButton*>("moreButton")
        ->click();  // the waveform is computed for an open panel only
    Button(dialog, "silencesButton")->click();
    auto* silences = dialog.findChild<SilenceDialog*>("silenceDialog");
    ASSERT_NE(silences, nullptr);
    ASSERT_TRUE(WaitFor([&] { return silences->CountText() == "2 segments of sound"; }))
        << silences->CountText().toStdString();
    // Shorter silences count too: the pause splits the second piece.
    silences->findChild<QDoubleSpinBox*>("silenceLength")->setValue(0.4);
    EXPECT_EQ(silences->CountText(), "3 segments of sound");
    silences->findChild<QDoubleSpinBox*>("silenceLength")->setValue(2);
    silences->accept();
    ASSERT_TRUE(WaitFor([&] { return dialog.Panel()->Segments()->Table()->rowCount() == 2; }));
    // The silence's edges and the file's end, with the 0.25 s margin.
    const int64_t ms = kSecond / 1000;
    const std::vector<Segment>& found = session->SegmentWork().List().Segments();
    const int64_t expected[][2] = {{0, 2250 * ms}, {4750 * ms, 9000 * ms}};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(static_cast<double>(found[i].start), expected[i][0], ms) << i;
        EXPECT_NEAR(static_cast<double>(found[i].end), expected[i][1], ms) << i;
    }
    EXPECT_EQ(dialog.Panel()->Segments()->ExportProgress(), "");
    // The values chosen are offered the next time.
    Button(dialog, "silencesButton")->click();
    auto* again = dialog.findChild<SilenceDialog*>("silenceDialog");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Chosen().minimumLength, 2 * kSecond);
    again->reject();
}

}  // namespace
