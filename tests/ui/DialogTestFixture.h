#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QTemporaryDir>
#include <map>
#include <memory>

#include "ConversionController.h"
#include "ConverterDialog.h"
#include "ConverterSession.h"
#include "FakeChoosers.h"
#include "FfmpegAudioSource.h"
#include "MediaController.h"
#include "MediaProber.h"
#include "PositionSlider.h"
#include "PreviewPlayer.h"
#include "PreviewWindow.h"
#include "ProfileSettings.h"
#include "RecordingMessages.h"
#include "ScriptedEngine.h"
#include "TestUnits.h"
#include "WaitFor.h"

// A prober that knows the durations the test gave it; every other file fails. It
// answers at once, or, while held, when the test releases it.
class MapProber : public MediaProber {
  public:
    void Probe(const std::string& path, Done done, Scanned /*scanned*/) override {
        ++probes;
        m_pending = {path, std::move(done)};
        if (!hold) {
            Release();
        }
    }
    void Cancel() override { m_pending.second = nullptr; }
    void Release() {
        auto [path, done] = std::exchange(m_pending, {});
        if (!done) {
            return;
        }
        if (const auto given = infos.find(path); given != infos.end()) {
            done(true, given->second);
            return;
        }
        // A file of a known duration has one stereo track.
        MediaInfo info;
        const auto found = durations.find(path);
        if (found != durations.end()) {
            info.duration = found->second;
            AudioTrack track;
            track.number = 1;
            track.codec = "mp2";
            track.sampleRate = 44100;
            track.channels = 2;
            track.channelLayout = "stereo";
            track.primary = true;
            info.tracks.push_back(track);
        }
        done(found != durations.end(), info);
    }
    bool Waiting() const { return m_pending.second != nullptr; }

    std::map<std::string, int64_t> durations;
    std::map<std::string, MediaInfo> infos;  // answered as they stand
    int probes = 0;
    bool hold = false;

  private:
    std::pair<std::string, Done> m_pending;
};

// The converter (dialog and controllers) over recorded messages, scripted choosers, a
// scripted prober and preview engine, and a settings store of its own, in the scratch
// home that main() set up, with the music folder present. Conversions use the real
// decoder unless the test swaps `sources`.
class DialogTestFixture : public ::testing::Test {
  protected:
    static constexpr const char* kAppName = "orvane-ui-tests";

    void SetUp() override {
        // The preview plays without a picture: its window never takes the focus.
        script->video = false;
        ClearSettings();
        ASSERT_TRUE(QDir().mkpath(MusicFolder()));
    }
    void TearDown() override { session.reset(); }

    static QString MusicFolder() {
        return QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    }
    static void ClearSettings() {
        QSettings(QSettings::IniFormat, QSettings::UserScope, ProfileSettings::kOrganisation,
                  kAppName)
            .clear();
    }
    QString StoredOutput() const {
        return settings.GetProfileString("Option", "output_cut_file", "<missing>");
    }

    ConverterDialog& MakeDialog() {
        const ConverterServices services{settings,
                                         userMessages != nullptr ? *userMessages : messages,
                                         choosers,
                                         mediaProber != nullptr ? *mediaProber : prober,
                                         engines ? engines : ScriptedEngine::Factory(script),
                                         [this] { return sources(); },
                                         dragging};
        session = std::make_unique<ConverterSession>(services);
        // Reports come often, so that a test need not wait a second for each.
        session->Preview().SetReportInterval(10);
        QObject::connect(&session->Preview(), &PreviewPlayer::positionReport,
                         [this] { ++reports; });
        QObject::connect(session.get(), &ConverterSession::finished, [this] { ++finished; });
        QObject::connect(&session->Media(), &MediaController::openFinished,
                         [this](bool) { ++opensFinished; });
        QObject::connect(&session->Conversion(), &ConversionController::conversionEnded,
                         [this](const JobOutcome& o) {
                             ++ended;
                             lastOutcome = o;
                         });
        return session->Dialog();
    }
    // The dialog, shown.
    ConverterDialog& MakeMediaDialog() {
        ConverterDialog& dlg = MakeDialog();
        dlg.show();
        return dlg;
    }

    ConverterDialog& Dialog() const { return session->Dialog(); }
    MediaController& Media() const { return session->Media(); }
    // The preview's player while it has a clip open; null otherwise.
    PreviewPlayer* Player() const {
        return session->Preview().IsOpen() ? &session->Preview() : nullptr;
    }

    template <typename T>
    T* Control(int id) const {
        return qobject_cast<T*>(session->Dialog().Control(id));
    }
    void Click(int id) { Control<QPushButton>(id)->click(); }

    // An empty file in the scratch folder, known to the prober with the duration given.
    QString MediaFile(const QString& name, int64_t duration) {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        prober.durations[QFile::encodeName(path).toStdString()] = duration;
        return path;
    }
    // Chooses the file in Open Media File and waits until the open has ended.
    void Open(const QString& path) {
        choosers.openAnswer = path;
        const int before = opensFinished;
        Click(ConverterDialog::IDC_OPEN_MEDIA);
        if (!path.isEmpty() && !prober.hold) {
            ASSERT_TRUE(WaitFor([&] { return opensFinished > before; }));
        }
    }
    // Opens a known media file and sets both marks from preview positions.
    void OpenWithMarks(const QString& path, int64_t duration, int64_t start, int64_t end) {
        prober.durations[QFile::encodeName(path).toStdString()] = duration;
        Open(path);
        SetMarks(start, end);
    }
    void SetMarks(int64_t start, int64_t end) {
        Report(start, script->duration);
        Click(ConverterDialog::IDC_START_TIME);
        Report(end, script->duration);
        Click(ConverterDialog::IDC_END_TIME);
    }

    // The preview's core tells where it is in a clip of `stop`, and the next report of
    // the preview reaches the dialog.
    void Report(int64_t current, int64_t stop) {
        ASSERT_NE(Player(), nullptr);
        script->duration = stop;
        script->Post(EngineEvent::Of(EngineEvent::Kind::Duration, stop));
        script->Report(current);
        ProcessEventsFor(5);
        const int before = reports;
        ASSERT_TRUE(WaitFor([&] { return reports > before; }, 5000));
    }

    // Ends the dialog as the user would and waits for the close steps.
    bool CloseDialog() {
        const int before = finished;
        Dialog().close();
        return WaitFor([&] { return finished > before; });
    }

    QString InfoText() const { return Control<QLabel>(ConverterDialog::IDC_INFO)->text(); }
    QString StartText() const { return Control<QLabel>(ConverterDialog::IDC_START_TEXT)->text(); }
    QString EndText() const { return Control<QLabel>(ConverterDialog::IDC_END_TEXT)->text(); }
    PositionSlider* Slider() const { return Control<PositionSlider>(ConverterDialog::IDC_SLIDER); }
    // Where the middle of the thumb is when the slider stands at pos.
    QPoint SliderPoint(int pos) const {
        const PositionSlider* slider = Slider();
        const int handle = slider->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, slider);
        const int x = QStyle::sliderPositionFromValue(0, PositionSlider::kRange, pos,
                                                      slider->width() - handle);
        return QPoint(x + handle / 2, slider->height() / 2);
    }
    bool MediaControlsEnabled() const { return AllMediaControls(true); }
    bool MediaControlsDisabled() const { return AllMediaControls(false); }

    RecordingMessages messages;
    UserMessages* userMessages = nullptr;  // another message seam instead of `messages`
    ProfileSettings settings{kAppName};
    FakeChoosers choosers;
    MapProber prober;
    MediaProber* mediaProber = nullptr;  // another prober instead of `prober`
    std::shared_ptr<EngineScript> script = std::make_shared<EngineScript>();
    PlaybackEngineFactory engines;  // empty: the fake engine of `script`
    AudioSourceFactory sources = FfmpegAudioSource::Factory();
    int dragging = 0;
    std::unique_ptr<ConverterSession> session;
    QTemporaryDir dir;
    int finished = 0;
    int opensFinished = 0;
    int reports = 0;
    int ended = 0;
    JobOutcome lastOutcome;

  private:
    bool AllMediaControls(bool enabled) const {
        for (int id : ConverterDialog::kMediaControls) {
            if (Dialog().Control(id)->isEnabled() != enabled) {
                return false;
            }
        }
        return true;
    }
};

// The same fixture under the name the media tests use.
using MediaDialogFixture = DialogTestFixture;
