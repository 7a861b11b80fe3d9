// The fault matrix through the real dialog: for each failure underneath a conversion,
// the message the user sees, the state the dialog returns to and what the file holds.
#include <unistd.h>

#include <QProgressBar>
#include <QPushButton>
#include <filesystem>
#include <fstream>

#include "DialogTestFixture.h"
#include "FileSizeLimit.h"
#include "GatedSource.h"
#include "TestMedia.h"
#include "WaitFor.h"
#include "WavFile.h"
#include "WavWriter.h"

namespace {

class FaultMatrix : public DialogTestFixture {
  protected:
    void SetUp() override {
        DialogTestFixture::SetUp();
        output = media.Path("out.wav");
    }

    ConverterDialog& Ready(const std::string& input, int64_t rtEnd) {
        ConverterDialog& dlg = MakeMediaDialog();
        OpenWithMarks(QString::fromStdString(input), rtEnd, 0, rtEnd);
        Control<QWidget>(1017)->setProperty("text", QString::fromStdString(output));
        return dlg;
    }

    // Convert, wait for the end, and check the dialog is back to idle.
    void ConvertAndWait(ConverterDialog&) {
        Click(ConverterDialog::IDC_CONVERT);
        ASSERT_TRUE(WaitFor([&] { return ended > 0; }));
        EXPECT_EQ(Control<QPushButton>(1000)->text(), "Convert");
        EXPECT_EQ(Control<QProgressBar>(1026)->value(), 0);
        EXPECT_FALSE(session->Conversion().IsActive());
    }

    std::vector<QString> Texts() const {
        std::vector<QString> texts;
        for (const auto& r : messages.records) {
            texts.push_back(r.caption + ": " + r.text);
        }
        return texts;
    }

    TestMedia media;
    std::string output;
    const JobOutcome& outcome = lastOutcome;
};

bool IsTemplateHeader(const WavFile& f) {
    return f.bytes.size() >= 44 &&
           std::equal(f.bytes.begin(), f.bytes.begin() + 44, WavWriter::kHeaderTemplate.begin());
}

}  // namespace

TEST_F(FaultMatrix, DiskFullShowsCanNotWriteAndLeavesAnUnfinishedHeader) {
    const std::string in = media.Make("in.wav", TestMedia::Tones(30, 44100) + " -c:a pcm_s16le");
    ConverterDialog& dlg = Ready(in, 30 * kSecond);
    {
        FileSizeLimit full(2 << 20);
        ASSERT_TRUE(full.Active());
        ConvertAndWait(dlg);
    }

    EXPECT_EQ(Texts(),
              std::vector<QString>{"Error: Can not write " + QString::fromStdString(output)});
    EXPECT_FALSE(messages.records.at(0).owned);  // shown by the worker, with no owner
    EXPECT_EQ(outcome.status, JobOutcome::Status::WriteFailed);
    const WavFile f = WavFile::Read(output);
    EXPECT_TRUE(IsTemplateHeader(f));
    EXPECT_FALSE(f.Valid());
}

TEST_F(FaultMatrix, OutputFolderRemovedMidRunIsAFailedWrite) {
    const std::string in = media.Make("in.wav", TestMedia::Tones(10, 44100) + " -c:a pcm_s16le");
    const std::filesystem::path folder = media.Dir() / "folder";
    std::filesystem::create_directory(folder);
    output = (folder / "out.wav").string();
    Ready(in, 10 * kSecond);
    auto gate = std::make_shared<Gate>();
    std::atomic<int> fills{0};
    sources = [&] { return std::make_unique<GatedSource>(gate, 3, &fills); };
    Click(ConverterDialog::IDC_CONVERT);
    ASSERT_TRUE(WaitFor([&] { return fills == 3; }));
    std::filesystem::remove_all(folder);
    gate->Open();
    ASSERT_TRUE(WaitFor([&] { return ended > 0; }));
    EXPECT_EQ(Control<QPushButton>(1000)->text(), "Convert");
    EXPECT_EQ(Texts(),
              std::vector<QString>{"Error: Can not write " + QString::fromStdString(output)});
    EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST_F(FaultMatrix, BrokenMiddleIsSkippedAndTheWavIsComplete) {
    const std::string in = media.Make(
        "broken.mpg", TestMedia::Tones(6, 44100) +
                          " -f lavfi -i testsrc=d=6:s=160x120:r=25 -c:v mpeg1video -c:a mp2");
    {
        std::fstream f(in, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<long>(std::filesystem::file_size(in) / 2));
        for (int i = 0; i < 20'000; ++i) {
            f.put(static_cast<char>((i * 7919 + 13) % 251));
        }
    }
    ConverterDialog& dlg = Ready(in, 6 * kSecond);
    ConvertAndWait(dlg);
    EXPECT_TRUE(messages.records.empty());
    const WavFile f = WavFile::Read(output);
    ASSERT_TRUE(f.Valid());
    EXPECT_GT(f.dataSize, 5u * 176'400u);
}

TEST_F(FaultMatrix, UnconvertibleMediaIsReportedAndWritesNothing) {
    const std::string video = media.Make("video.mpg", "-f lavfi -i testsrc=d=1 -c:v mpeg1video");
    const std::string gone = media.Make("gone.mp2", "-f lavfi -i sine=d=1 -c:a mp2");
    for (const std::string& in : {video, gone}) {
        SCOPED_TRACE(in);
        ended = 0;
        messages.records.clear();
        ConverterDialog& dlg = Ready(in, kSecond);
        if (in == gone) {
            std::filesystem::remove(gone);  // deleted after it was opened, before Convert
        }
        ConvertAndWait(dlg);
        ASSERT_EQ(messages.records.size(), 1u);
        EXPECT_EQ(messages.records[0].caption, "Error");
        EXPECT_TRUE(messages.records[0].text.startsWith("Can not convert " +
                                                        QString::fromStdString(in) + ": "))
            << messages.records[0].text.toStdString();
        EXPECT_FALSE(std::filesystem::exists(output));
    }
}

TEST_F(FaultMatrix, AReplacedFileSurvivesAConversionThatCannotStart) {
    const std::string video = media.Make("video.mpg", "-f lavfi -i testsrc=d=1 -c:v mpeg1video");
    { std::ofstream(output) << "the user's old file"; }
    messages.answer = UserMessages::Answer::Yes;
    ConverterDialog& dlg = Ready(video, kSecond);
    ConvertAndWait(dlg);
    ASSERT_GE(messages.records.size(), 2u);
    EXPECT_EQ(messages.records[0].caption, "Warning");  // the replace question, answered Yes
    EXPECT_EQ(std::filesystem::file_size(output), 19u);
}

TEST_F(FaultMatrix, AnOutputThatCannotBeReplacedShowsCanNotOpen) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to make the file immutable";
    }
    const std::string in = media.Make("in.wav", TestMedia::Tones(2, 44100) + " -c:a pcm_s16le");
    { std::ofstream(output) << "keep"; }
    if (RunCommand("chattr +i " + ShellQuote(output) + " 2>/dev/null") != 0) {
        GTEST_SKIP() << "this file system has no immutable files";
    }
    messages.answer = UserMessages::Answer::Yes;
    ConverterDialog& dlg = Ready(in, kSecond);
    ConvertAndWait(dlg);
    RunCommand("chattr -i " + ShellQuote(output));
    ASSERT_EQ(messages.records.size(), 2u);
    EXPECT_EQ(messages.records[1].text, "Can not open " + QString::fromStdString(output));
    EXPECT_EQ(std::filesystem::file_size(output), 4u);
}
