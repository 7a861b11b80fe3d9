// The waveform is computed on a thread of its own while the user goes on: closing the file
// or opening another during the computation stops it without the dialog waiting, and what
// the panel then shows is the new file's.
#include <QPushButton>

#include "PanelController.h"
#include "RealMediaFixture.h"
#include "TestMedia.h"
#include "WaitFor.h"
#include "WaveformPyramid.h"

namespace {

class WaveformWork : public RealMediaFixture {
  protected:
    PanelController& Panel() { return session->PanelWork(); }
};

TEST_F(WaveformWork, ClosingOrOpeningAnotherFileStopsTheComputation) {
    TestMedia media;
    // Twelve hours of MPEG audio (ten minutes, joined end to end as MPEG audio frames can
    // be) take some ten seconds to decode here, on one core: far longer than the two
    // seconds a stop is given.
    const std::string piece =
        media.Make("piece.mp2", "-f lavfi -i sine=f=440:r=48000:d=600 -c:a mp2 -b:a 32k");
    const QString longFile = QString::fromStdString(media.Path("long.mp2"));
    ASSERT_EQ(RunCommand("for i in $(seq 72); do cat " + ShellQuote(piece) + "; done > " +
                         ShellQuote(longFile.toStdString())),
              0);
    const QString other = QString::fromStdString(
        media.Make("other.wav", "-f lavfi -i sine=f=900:r=22050:d=2 -c:a pcm_s16le"));

    MakeMediaDialog();
    Dialog().findChild<QPushButton*>("moreButton")->click();
    for (const bool openAnother : {false, true}) {
        SCOPED_TRACE(openAnother ? "another file opened" : "the file closed");
        Open(longFile);
        ASSERT_TRUE(Panel().IsComputingWaveform());
        ASSERT_FALSE(Panel().Waveform()->Complete());

        if (openAnother) {
            Open(other);
            ASSERT_TRUE(WaitFor(
                [&] { return Panel().Waveform() != nullptr && Panel().Waveform()->Complete(); }));
            EXPECT_EQ(Panel().Waveform()->SampleRate(), 22050);
        } else {
            Media().OnClosePreview();
            EXPECT_EQ(Panel().Waveform(), nullptr);
        }
        // The interrupted computation ends on its own, well before the file would be done.
        EXPECT_TRUE(WaitFor([&] { return !Panel().IsComputingWaveform(); }, 2000));
    }
    EXPECT_TRUE(CloseDialog());
}

}  // namespace
