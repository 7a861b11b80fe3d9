#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "DialogTestFixture.h"
#include "GatedSource.h"
#include "PrecisionPanel.h"
#include "QMessageBoxMessages.h"
#include "TestMedia.h"
#include "WaitFor.h"
#include "WavFile.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

}  // namespace

class ConvertCommand : public DialogTestFixture {
  protected:
    void SetUp() override {
        DialogTestFixture::SetUp();
        tone = media.Make("tone.wav", TestMedia::Tones(3, 44100));
        output = media.Path("out.wav");
    }

    QPushButton* ConvertButton() const { return Control<QPushButton>(1000); }

    // The dialog in the state after a media file was opened and marks were set,
    // with the output field holding `output`.
    ConverterDialog& ReadyDialog(int64_t rtStart, int64_t rtEnd) {
        ConverterDialog& dlg = MakeMediaDialog();
        OpenWithMarks(QString::fromStdString(tone), 3 * kSecond, rtStart, rtEnd);
        Control<QLineEdit>(1017)->setText(QString::fromStdString(output));
        return dlg;
    }
    void Convert() { Click(ConverterDialog::IDC_CONVERT); }
    ConversionController& Conversion() const { return session->Conversion(); }

    // Conversions read through the real decoder, held up before fill number
    // `fillsBeforeGate` until the gate opens.
    void UseGatedSource(int fillsBeforeGate) {
        gate = std::make_shared<Gate>();
        sources = [this, fillsBeforeGate] {
            ++sourcesMade;
            return std::make_unique<GatedSource>(gate, fillsBeforeGate, &fills);
        };
    }

    bool WaitForEnd() {
        return WaitFor([this] { return ended > 0; });
    }

    TestMedia media;
    std::string tone;
    std::string output;
    std::shared_ptr<Gate> gate;
    std::atomic<int> fills{0};
    int sourcesMade = 0;
};

TEST_F(ConvertCommand, RefusesWithoutMediaOrWithMarksOutOfOrder) {
    MakeDialog();
    // Without media the button is greyed; the command itself refuses too.
    EXPECT_FALSE(ConvertButton()->isEnabled());
    Conversion().OnConvert();
    ASSERT_EQ(messages.records.size(), 1u);
    EXPECT_TRUE(messages.records[0].owned);
    EXPECT_EQ(messages.records[0].text, "Please open a Media file first!");
    EXPECT_EQ(messages.records[0].caption, "Error");

    Dialog().show();
    OpenWithMarks(QString::fromStdString(tone), 3 * kSecond, 0, kSecond);
    const std::pair<int64_t, int64_t> wrong[] = {{kSecond, kSecond}, {2 * kSecond, kSecond}};
    for (const auto& [start, end] : wrong) {
        messages.records.clear();
        SetMarks(start, end);
        Convert();
        ASSERT_EQ(messages.records.size(), 1u);
        EXPECT_EQ(messages.records[0].text, "The Start Time is bigger than the End Time!");
        EXPECT_EQ(messages.records[0].caption, "Error");
        EXPECT_EQ(messages.records[0].buttons, UserMessages::Buttons::Ok);
        EXPECT_FALSE(Conversion().IsActive());
        EXPECT_EQ(ConvertButton()->text(), "Convert");
    }
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(ConvertCommand, TakesTheTypedOutputPathAtConvert) {
    ReadyDialog(0, kSecond);
    Convert();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(WavFile::Read(output).Valid());
    // Written to, so it is remembered.
    EXPECT_TRUE(CloseDialog());
    EXPECT_EQ(StoredOutput(), QString::fromStdString(output));
}

TEST_F(ConvertCommand, ReplaceAnsweredNoLeavesTheFileAlone) {
    WriteText(output, "keep me");
    ReadyDialog(0, kSecond);
    messages.answer = UserMessages::Answer::No;
    Convert();
    ASSERT_EQ(messages.records.size(), 1u);
    EXPECT_EQ(messages.records[0].text,
              QString::fromStdString(output) + " exists. Do you want to replace it?");
    EXPECT_EQ(messages.records[0].caption, "Warning");
    EXPECT_EQ(messages.records[0].buttons, UserMessages::Buttons::YesNo);
    EXPECT_EQ(messages.records[0].icon, UserMessages::Icon::Exclamation);
    EXPECT_FALSE(Conversion().IsActive());
    EXPECT_EQ(ReadAll(output), "keep me");
}

TEST_F(ConvertCommand, AsksAboutAnyExistingFileWithoutOpeningIt) {
    // A named pipe: opening it to see whether it exists would hang until a writer came.
    ASSERT_EQ(mkfifo(output.c_str(), 0600), 0);
    ReadyDialog(0, kSecond);
    messages.answer = UserMessages::Answer::No;
    Convert();
    ASSERT_EQ(messages.records.size(), 1u);
    EXPECT_EQ(messages.records[0].caption, "Warning");
    EXPECT_FALSE(Conversion().IsActive());
    EXPECT_TRUE(std::filesystem::is_fifo(output));
}

TEST_F(ConvertCommand, ReplaceAnsweredYesReplacesTheFile) {
    WriteText(output, "old contents");
    ReadyDialog(0, kSecond);
    messages.answer = UserMessages::Answer::Yes;
    Convert();
    ASSERT_TRUE(WaitForEnd());
    const WavFile wav = WavFile::Read(output);
    ASSERT_TRUE(wav.Valid());
    EXPECT_GE(wav.DataBytes(), 176400u);
    // No message announces success.
    EXPECT_EQ(messages.records.size(), 1u);
}

TEST_F(ConvertCommand, WritesTheSameWavAsTheCommandLine) {
    ReadyDialog(kSecond / 2, 3 * kSecond / 2);
    // The tests are built into the same bin folder as the programs.
    const char* binDir = std::getenv("ORVANE_BIN_DIR");
    const std::string cli =
        (binDir != nullptr ? std::string(binDir)
                           : QCoreApplication::applicationDirPath().toStdString()) +
        "/orvane-extract";
    ASSERT_TRUE(std::filesystem::exists(cli)) << cli;
    // The dialog ends in whole buffers unless the panel's box says otherwise; the command
    // ends exactly unless told otherwise. One second of 16-bit stereo either way.
    const struct {
        bool exactBox;
        const char* cliOption;
        uint32_t bytes;
    } rows[] = {{false, "--whole-buffers", 180000u}, {true, "", 176400u}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.exactBox);
        auto* exactBox = Dialog().Panel()->findChild<QCheckBox*>("exactEndBox");
        ASSERT_NE(exactBox, nullptr);
        if (exactBox->isChecked() != row.exactBox) {
            exactBox->click();
        }
        std::filesystem::remove(output);
        ended = 0;
        QSignalSpy progress(Control<QProgressBar>(1026), &QProgressBar::valueChanged);
        Convert();
        ASSERT_TRUE(WaitForEnd());
        EXPECT_EQ(lastOutcome.status, JobOutcome::Status::Completed);
        EXPECT_EQ(ConvertButton()->text(), "Convert");
        EXPECT_EQ(Control<QProgressBar>(1026)->value(), 0);
        EXPECT_TRUE(messages.records.empty());

        const WavFile wav = WavFile::Read(output);
        ASSERT_TRUE(wav.Valid());
        EXPECT_EQ(wav.channels, 2);
        EXPECT_EQ(wav.rate, 44100u);
        EXPECT_EQ(wav.DataBytes(), row.bytes);
        // Sample-exact from the start mark on.
        const std::vector<int16_t> expected = TestMedia::DecodeS16(tone, "-ss 0.5");
        const std::vector<int16_t> got = wav.Samples16();
        ASSERT_GE(expected.size(), got.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin()));

        // Progress reached the bar only as changes, and ended at 0.
        ASSERT_GE(progress.count(), 2);
        for (int i = 1; i < progress.count(); ++i) {
            EXPECT_NE(progress[i][0].toInt(), progress[i - 1][0].toInt());
        }
        EXPECT_EQ(progress.last()[0].toInt(), 0);

        const std::string cliOutput = media.Path("cli.wav");
        std::string log;
        ASSERT_EQ(RunCommand(ShellQuote(cli) + " -q -y " + row.cliOption + " -s 0.5 -e 1.5 " +
                                 ShellQuote(tone) + " " + ShellQuote(cliOutput) + " 2>&1",
                             &log),
                  0)
            << log;
        EXPECT_EQ(ReadAll(output), ReadAll(cliOutput));
    }
}

TEST_F(ConvertCommand, LongPathsWork) {
    std::filesystem::path folder = media.Dir();
    for (int i = 0; i < 3; ++i) {
        folder /= std::string(120, static_cast<char>('a' + i));
    }
    std::filesystem::create_directories(folder);
    const std::filesystem::path longTone = folder / (std::string(100, 't') + ".wav");
    std::filesystem::copy_file(tone, longTone);
    output = (folder / (std::string(100, 'o') + ".wav")).string();
    ASSERT_GT(output.size(), 400u);

    ReadyDialog(0, kSecond);
    OpenWithMarks(QString::fromStdString(longTone.string()), 3 * kSecond, 0, kSecond);
    Convert();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_TRUE(messages.records.empty());
    EXPECT_TRUE(WavFile::Read(output).Valid());
    // The path is neither cut nor changed on its way to the settings.
    EXPECT_TRUE(CloseDialog());
    EXPECT_EQ(StoredOutput(), QString::fromStdString(output));
}

TEST_F(ConvertCommand, StopLeavesAValidWavOfTheBuffersWritten) {
    ReadyDialog(0, 3 * kSecond);
    UseGatedSource(3);
    Convert();
    ASSERT_TRUE(WaitFor([&] { return fills == 3 && ConvertButton()->text() == "Stop"; }));
    ASSERT_TRUE(WaitFor([&] { return Control<QProgressBar>(1026)->value() > 0; }));

    Convert();  // Stop
    EXPECT_EQ(ConvertButton()->text(), "Convert");
    gate->Open();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(lastOutcome.status, JobOutcome::Status::Stopped);
    EXPECT_EQ(Control<QProgressBar>(1026)->value(), 0);

    const WavFile wav = WavFile::Read(output);
    ASSERT_TRUE(wav.Valid());
    // The buffer being read when Stop came is still written, then the job stops.
    EXPECT_EQ(wav.DataBytes(), 4u * 5000u);
    const std::vector<int16_t> expected = TestMedia::DecodeS16(tone);
    const std::vector<int16_t> got = wav.Samples16();
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin()));
}

TEST_F(ConvertCommand, NoSecondJobWhileTheFirstIsFinishing) {
    ReadyDialog(0, 3 * kSecond);
    UseGatedSource(2);
    Convert();
    ASSERT_TRUE(WaitFor([&] { return fills == 2; }));
    Convert();  // Stop: the job is now finishing its file
    Convert();
    Convert();
    EXPECT_EQ(sourcesMade, 1);
    EXPECT_TRUE(messages.records.empty());
    EXPECT_EQ(ConvertButton()->text(), "Convert");
    gate->Open();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(sourcesMade, 1);
    EXPECT_TRUE(WavFile::Read(output).Valid());

    // Once it has ended, the button starts the next one.
    messages.answer = UserMessages::Answer::Yes;
    Convert();
    ASSERT_TRUE(WaitFor([&] { return ended == 2; }));
    EXPECT_EQ(sourcesMade, 2);
}

TEST_F(ConvertCommand, PressesDuringTheJobsOwnEndStartNothing) {
    // The job ends by itself; its end has not reached the dialog yet when the button
    // is pressed twice.
    ReadyDialog(0, kSecond / 10);
    UseGatedSource(1000);
    Convert();
    // Waits without running the event loop, so the job's end stays queued.
    const QDeadlineTimer deadline(20000);
    while (Conversion().IsJobBusy() && !deadline.hasExpired()) {
        std::this_thread::yield();
    }
    ASSERT_FALSE(Conversion().IsJobBusy());
    EXPECT_EQ(ended, 0);
    Convert();
    Convert();
    EXPECT_EQ(sourcesMade, 1);
    ASSERT_TRUE(WaitForEnd());
    QCoreApplication::processEvents();
    EXPECT_EQ(sourcesMade, 1);
    EXPECT_EQ(ConvertButton()->text(), "Convert");
}

TEST_F(ConvertCommand, WorkerMessageWaitsForTheUserWhileTheDialogStaysUsable) {
    output = media.Path("missing-folder/out.wav");
    ReadyDialog(0, kSecond);
    messages.holdUnowned = true;
    Convert();
    ASSERT_TRUE(WaitFor([&] { return !messages.held.empty(); }));
    ASSERT_EQ(messages.records.size(), 1u);
    EXPECT_FALSE(messages.records[0].owned);
    EXPECT_EQ(messages.records[0].text, "Can not open " + QString::fromStdString(output));
    EXPECT_EQ(messages.records[0].caption, "Error");
    // The job waits for the user; the label still says Stop.
    QCoreApplication::processEvents();
    EXPECT_TRUE(Conversion().IsJobBusy());
    EXPECT_EQ(ended, 0);
    EXPECT_EQ(ConvertButton()->text(), "Stop");
    messages.ReleaseHeld();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(lastOutcome.status, JobOutcome::Status::OutputFailed);
    EXPECT_EQ(ConvertButton()->text(), "Convert");
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(ConvertCommand, ClosingDuringAConversionFinishesTheWav) {
    ConverterDialog& dlg = ReadyDialog(0, 3 * kSecond);
    UseGatedSource(3);
    Convert();
    ASSERT_TRUE(WaitFor([&] { return fills == 3; }));
    // The close steps wait for the job without holding up the event loop: no input
    // meanwhile.
    dlg.close();
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_FALSE(dlg.isEnabled());
    gate->Open();
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(WaitFor([&] { return finished == 1; }, 5000));
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_FALSE(Conversion().IsActive());
    const WavFile wav = WavFile::Read(output);
    ASSERT_TRUE(wav.Valid());
    EXPECT_EQ(wav.DataBytes(), 4u * 5000u);
    EXPECT_EQ(StoredOutput(), QString::fromStdString(output));
}

TEST_F(ConvertCommand, ClosingWhileAWorkerMessageIsPendingFinishesTheWav) {
    ReadyDialog(0, 3 * kSecond);
    Conversion().SetMaxDataBytes(20000);
    messages.holdUnowned = true;
    Convert();
    ASSERT_TRUE(WaitFor([&] { return !messages.held.empty(); }));
    EXPECT_EQ(messages.records.back().caption, "Warning");
    EXPECT_EQ(ConvertButton()->text(), "Stop");
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(CloseDialog());
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(messages.dismissed, 1);
    EXPECT_FALSE(Conversion().IsActive());
    const WavFile wav = WavFile::Read(output);
    ASSERT_TRUE(wav.Valid());
    EXPECT_EQ(wav.DataBytes(), 20000u);
}

TEST_F(ConvertCommand, ClosingWithARealMessageBoxOpenFinishesTheWav) {
    QMessageBoxMessages real;
    userMessages = &real;
    ReadyDialog(0, 3 * kSecond);
    Conversion().SetMaxDataBytes(20000);
    Convert();
    const auto openBox = [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
                return box;
            }
        }
        return static_cast<QMessageBox*>(nullptr);
    };
    ASSERT_TRUE(WaitFor([&] { return openBox() != nullptr; }));
    EXPECT_EQ(openBox()->windowTitle(), "Warning");
    EXPECT_EQ(openBox()->parent(), nullptr);
    EXPECT_EQ(openBox()->windowModality(), Qt::NonModal);
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(CloseDialog());
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(WaitFor([&] { return openBox() == nullptr; }));
    EXPECT_FALSE(Conversion().IsActive());
    EXPECT_TRUE(WavFile::Read(output).Valid());
}

TEST_F(ConvertCommand, DestroyingTheDialogMidJobDoesNotHang) {
    ReadyDialog(0, 3 * kSecond);
    Conversion().SetMaxDataBytes(20000);
    messages.holdUnowned = true;
    Convert();
    ASSERT_TRUE(WaitFor([&] { return !messages.held.empty(); }));
    session.reset();
    EXPECT_TRUE(WavFile::Read(output).Valid());
}
