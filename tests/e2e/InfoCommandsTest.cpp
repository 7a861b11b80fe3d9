// Help, Homepage and About work in every state of the dialog: without media, with a
// file open and while a conversion runs, which goes on undisturbed meanwhile.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "AboutDialog.h"
#include "DialogTestFixture.h"
#include "GatedSource.h"
#include "HelpLauncher.h"
#include "TestMedia.h"
#include "WaitFor.h"
#include "WavFile.h"

namespace {

class InfoCommands : public DialogTestFixture {
  protected:
    void SetUp() override {
        DialogTestFixture::SetUp();
        HelpLauncher::SetUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return true;
        });
    }
    void TearDown() override {
        HelpLauncher::SetUrlOpener({});
        DialogTestFixture::TearDown();
    }

    // Presses Help, Homepage and About (closing the About box as the user would once it
    // shows) and checks what each opened.
    void UseAllThree(ConverterDialog& dlg) {
        opened.clear();
        Control<QPushButton>(ConverterDialog::IDC_HELP)->click();
        Control<QPushButton>(ConverterDialog::IDC_HOMEPAGE)->click();
        bool aboutShown = false;
        QTimer::singleShot(0, [&] {
            if (auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget())) {
                aboutShown = about->windowTitle() == "About Orvane";
                about->accept();
            }
        });
        Control<QPushButton>(ConverterDialog::IDC_ABOUT)->click();
        EXPECT_TRUE(aboutShown);
        ASSERT_EQ(opened.size(), 2u);
        EXPECT_TRUE(opened[0].isLocalFile());
        EXPECT_TRUE(opened[0].toLocalFile().endsWith("/Introduction.htm"));
        EXPECT_EQ(opened[1], QUrl(HelpLauncher::kHomepage));
        EXPECT_TRUE(dlg.isVisible());
    }

    std::vector<QUrl> opened;
};

}  // namespace

TEST_F(InfoCommands, WorkWithoutMediaWithMediaAndDuringAConversion) {
    TestMedia media;
    ConverterDialog& dlg = MakeDialog();
    dlg.show();
    UseAllThree(dlg);

    const std::string tone = media.Make("tone.wav", TestMedia::Tones(3, 44100));
    OpenWithMarks(QString::fromStdString(tone), 30'000'000, 0, 30'000'000);
    const std::string output = media.Path("out.wav");
    Control<QWidget>(ConverterDialog::IDC_OUTPUT_FILE)
        ->setProperty("text", QString::fromStdString(output));
    UseAllThree(dlg);

    auto gate = std::make_shared<Gate>();
    std::atomic<int> fills{0};
    sources = [&] { return std::make_unique<GatedSource>(gate, 2, &fills); };
    Click(ConverterDialog::IDC_CONVERT);
    ASSERT_TRUE(WaitFor([&] { return fills == 2; }));
    UseAllThree(dlg);
    EXPECT_EQ(Control<QPushButton>(ConverterDialog::IDC_CONVERT)->text(), "Stop");
    gate->Open();
    ASSERT_TRUE(WaitFor([&] { return ended == 1; }));
    const WavFile wav = WavFile::Read(output);
    ASSERT_TRUE(wav.Valid());
    EXPECT_EQ(wav.dataSize, 3u * 176'400u);
}
