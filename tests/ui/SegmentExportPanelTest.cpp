#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "ConversionController.h"
#include "DialogTestFixture.h"
#include "GatedSource.h"
#include "PrecisionPanel.h"
#include "SegmentPanel.h"
#include "TestMedia.h"
#include "WavFile.h"

namespace {

// Exports of the panel's segments from a real file, decoded by FFmpeg as a user's are.
class SegmentExportPanel : public DialogTestFixture {
  protected:
    void SetUp() override {
        DialogTestFixture::SetUp();
        MakeMediaDialog();
        source = media.Make("live.wav", TestMedia::Tones(4, 48000));
        MediaInfo info;
        ASSERT_TRUE(FfmpegAudioSource().ProbeMedia(source, info));
        prober.infos[source] = info;
        Open(QString::fromStdString(source));
        // Two segments from a cut list, as the user would open one.
        const QString list = dir.filePath("list.csv");
        QFile file(list);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("start,end,name\n0.5,1.0,Intro\n2,3.25,Song\n");
        file.close();
        choosers.openAnswer = list;
        Panel()->findChild<QPushButton*>("openListButton")->click();
        ASSERT_EQ(Panel()->Table()->rowCount(), 2);
        out = QDir(dir.filePath("out"));
        ASSERT_TRUE(out.mkpath("."));
        choosers.folderAnswer = out.path();
        QObject::connect(&session->Conversion(), &ConversionController::segmentStarted,
                         [this] { progressSeen << Panel()->ExportProgress(); });
    }
    SegmentPanel* Panel() const { return Dialog().Panel()->Segments(); }
    // Presses Export segments… and waits for the export to end; false when none started.
    bool ExportAndWait() {
        const int before = ended;
        Panel()->findChild<QPushButton*>("exportButton")->click();
        if (!session->Conversion().IsActive()) {
            return false;
        }
        return WaitFor([&] { return ended > before; }, 30000);
    }
    QString Text(int id) const { return Control<QPushButton>(id)->text(); }
    static size_t Frames(const QString& path) {
        const WavFile wav = WavFile::Read(QFile::encodeName(path).toStdString());
        EXPECT_TRUE(wav.Valid()) << path.toStdString();
        return wav.DataBytes() / 4;  // 16-bit stereo
    }

    TestMedia media;
    std::string source;
    QDir out;
    QStringList progressSeen;
};

TEST_F(SegmentExportPanel, EachSegmentBecomesAFileNamedByThePattern) {
    EXPECT_EQ(Panel()->findChild<QLineEdit*>("patternEdit")->text(), "{file} {n:02} {name}");
    Panel()->findChild<QCheckBox*>("bextBox")->click();
    ASSERT_TRUE(ExportAndWait());
    const WavFile second =
        WavFile::Read(QFile::encodeName(out.filePath("live 02 Song.wav")).toStdString());
    EXPECT_NE(second.Find("bext"), nullptr);
    EXPECT_EQ(Frames(out.filePath("live 01 Intro.wav")), 24000u);
    EXPECT_EQ(Frames(out.filePath("live 02 Song.wav")), 60000u);
    EXPECT_EQ(progressSeen, QStringList({"segment 1 of 2", "segment 2 of 2"}));
    EXPECT_EQ(Panel()->ExportProgress(), "");
    EXPECT_TRUE(messages.records.empty());
}

// Convert, which reads Stop while the export runs, ends it: the file being written is
// finished and valid, and no later segment is started.
TEST_F(SegmentExportPanel, StopEndsTheExportAfterTheSegmentBeingWritten) {
    auto gate = std::make_shared<Gate>();
    std::atomic<int> fills{0};
    sources = [&] { return std::make_unique<GatedSource>(gate, 3, &fills); };
    Panel()->findChild<QPushButton*>("exportButton")->click();
    ASSERT_TRUE(session->Conversion().IsActive());
    ASSERT_TRUE(WaitFor([&] { return Text(ConverterDialog::IDC_CONVERT) == "Stop"; }));
    EXPECT_TRUE(WaitFor([&] { return Panel()->ExportProgress() == "segment 1 of 2"; }));
    Click(ConverterDialog::IDC_CONVERT);
    gate->Open();
    ASSERT_TRUE(WaitFor([&] { return ended > 0; }, 30000));
    EXPECT_GT(Frames(out.filePath("live 01 Intro.wav")), 0u);
    EXPECT_FALSE(QFile::exists(out.filePath("live 02 Song.wav")));
    EXPECT_EQ(Text(ConverterDialog::IDC_CONVERT), "Convert");
}

TEST_F(SegmentExportPanel, JoinedSegmentsGoIntoOneFileWithACuePointEach) {
    Panel()->findChild<QCheckBox*>("joinBox")->click();
    choosers.saveAnswer = out.filePath("both");
    ASSERT_TRUE(ExportAndWait());
    const WavFile joined = WavFile::Read(QFile::encodeName(out.filePath("both.wav")).toStdString());
    EXPECT_EQ(joined.DataBytes() / 4, 84000u);
    ASSERT_EQ(joined.Cues().size(), 2u);
    EXPECT_EQ(joined.Cues()[1].frame, 24000u);
    EXPECT_EQ(joined.Cues()[1].label, "Song");
}

// Files that exist already: one question for all of them, and each answer does what it says.
TEST_F(SegmentExportPanel, ExistingFilesAreReplacedSkippedOrTheExportCancelled) {
    const struct {
        UserMessages::Answer answer;
        bool started;
        qint64 oldSize;  // of the file that was there; -1: replaced
    } cases[] = {
        {UserMessages::Answer::Cancel, false, 5},
        {UserMessages::Answer::SkipExisting, true, 5},
        {UserMessages::Answer::ReplaceAll, true, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer));
        QFile::remove(out.filePath("live 01 Intro.wav"));
        QFile::remove(out.filePath("live 02 Song.wav"));
        QFile old(out.filePath("live 02 Song.wav"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("older");
        old.close();
        messages.records.clear();
        messages.answer = c.answer;
        EXPECT_EQ(ExportAndWait(), c.started);
        ASSERT_EQ(messages.records.size(), 1u);
        EXPECT_EQ(messages.records[0].buttons, UserMessages::Buttons::ReplaceSkipCancel);
        EXPECT_TRUE(messages.records[0].text.contains(out.filePath("live 02 Song.wav")));
        EXPECT_FALSE(messages.records[0].text.contains("Intro"));
        EXPECT_EQ(QFile::exists(out.filePath("live 01 Intro.wav")), c.started);
        if (c.oldSize >= 0) {
            EXPECT_EQ(QFileInfo(out.filePath("live 02 Song.wav")).size(), c.oldSize);
        } else {
            EXPECT_EQ(Frames(out.filePath("live 02 Song.wav")), 60000u);
        }
    }
}

}  // namespace
