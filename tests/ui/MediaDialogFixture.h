#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QStyle>
#include <QTemporaryDir>
#include <map>

#include "CPreviewPlayer.h"
#include "DialogTestFixture.h"
#include "FakePlaybackEngine.h"
#include "PositionSlider.h"
#include "PreviewInstance.h"

constexpr int64_t kSecond = 10'000'000;

// A shown converter dialog whose file chooser, duration probe and playback engine the test
// scripts. Files given a duration in `durations` probe well; all others fail the probe.
class MediaDialogFixture : public DialogTestFixture {
  protected:
    ConverterDialog& MakeMediaDialog() {
        ConverterDialog& dlg = MakeDialog();
        dlg.SetOpenFileChooser([this](QWidget*, const QString& title, const QString& filter) {
            openCalls.push_back({title, QString(), filter});
            return openAnswer;
        });
        dlg.SetDurationProbe([this](const std::string& path, int64_t& duration) {
            ++probes;
            const auto found = durations.find(path);
            if (found == durations.end()) {
                return false;
            }
            duration = found->second;
            return true;
        });
        dlg.SetPlaybackEngineFactory(FakePlaybackEngine::Factory(script));
        dlg.show();
        return dlg;
    }

    // An empty file in the scratch folder, known to the probe with the duration given.
    QString MediaFile(const QString& name, int64_t duration) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        durations[path.toStdString()] = duration;
        return path;
    }

    // Chooses the file in Open Media File.
    void Open(const QString& path) {
        openAnswer = path;
        dialog->OnOpenMediaFile();
    }

    // The preview polls the positions given and its report reaches the dialog.
    void Report(int64_t current, int64_t stop) {
        script->current = current;
        script->stop = stop;
        ASSERT_NE(g_pPreview, nullptr);
        ASSERT_EQ(g_pPreview->PollPosition(), 0);
        QCoreApplication::sendPostedEvents(g_pPreview, QEvent::MetaCall);
    }

    QString InfoText() const { return Control<QLabel>(ConverterDialog::IDC_INFO)->text(); }
    QString StartText() const { return Control<QLabel>(ConverterDialog::IDC_START_TEXT)->text(); }
    QString EndText() const { return Control<QLabel>(ConverterDialog::IDC_END_TEXT)->text(); }
    PositionSlider* Slider() const { return Control<PositionSlider>(ConverterDialog::IDC_SLIDER); }
    // Where the middle of the thumb is when the slider stands at pos.
    QPoint SliderPoint(int pos) const {
        const PositionSlider* slider = Slider();
        const int handle = slider->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, slider);
        const int x = QStyle::sliderPositionFromValue(0, 600, pos, slider->width() - handle);
        return QPoint(x + handle / 2, slider->height() / 2);
    }
    bool MediaControlsEnabled() const {
        for (int id : ConverterDialog::kMediaControls) {
            if (!dialog->Control(id)->isEnabled()) {
                return false;
            }
        }
        return true;
    }
    bool MediaControlsDisabled() const {
        for (int id : ConverterDialog::kMediaControls) {
            if (dialog->Control(id)->isEnabled()) {
                return false;
            }
        }
        return true;
    }

    QTemporaryDir dir;
    std::map<std::string, int64_t> durations;
    int probes = 0;
    QString openAnswer;
    std::vector<ChooserCall> openCalls;
    std::shared_ptr<FakePlaybackScript> script = std::make_shared<FakePlaybackScript>();
};
