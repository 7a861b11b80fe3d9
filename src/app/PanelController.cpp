#include "PanelController.h"

#include <QFile>
#include <QLocale>

#include <algorithm>

#include "ConverterDialog.h"
#include "MediaController.h"
#include "MediaTime.h"
#include "PrecisionPanel.h"
#include "PreviewPlayer.h"
#include "ProfileSettings.h"
#include "SampleFormat.h"
#include "UserMessages.h"
#include "WaveformBuilder.h"

namespace {

constexpr const char* kPanelKey = "precision_panel";
constexpr const char* kFormatKey = "sample_format";
constexpr const char* kExactEndKey = "exact_end";
constexpr const char* kModernKey = "modern_header";
// How long Play start and Play end play.
constexpr int64_t kEdge = 2 * MediaTime::kUnitsPerSecond;
// How often the waveform is redrawn while it is being computed.
constexpr int kRefreshMs = 100;

QString TimeText(int64_t rt) {
    return QString::fromStdString(MediaTime::Format(rt));
}

// "2: eng, “Commentary”, aac, 5.1(side), 48000 Hz".
QString TrackText(const AudioTrack& track) {
    QStringList parts;
    if (track.language) {
        parts << QString::fromStdString(*track.language);
    }
    if (track.title) {
        parts << QStringLiteral("“%1”").arg(QString::fromStdString(*track.title));
    }
    parts << QString::fromStdString(track.codec) << QString::fromStdString(track.channelLayout)
          << QStringLiteral("%1 Hz").arg(track.sampleRate);
    return QStringLiteral("%1: %2").arg(track.number).arg(parts.join(QStringLiteral(", ")));
}

}  // namespace

PanelController::PanelController(ConverterDialog& dialog, MediaController& media,
                                 PreviewPlayer& preview, ProfileSettings& settings,
                                 UserMessages& messages, AudioSourceFactory sources,
                                 QObject* parent)
    : QObject(parent),
      m_dialog(dialog),
      m_media(media),
      m_preview(preview),
      m_settings(settings),
      m_messages(messages),
      m_builder(std::make_unique<WaveformBuilder>(std::move(sources))) {
    PrecisionPanel* panel = m_dialog.Panel();
    connect(&m_media, &MediaController::mediaChanged, this, &PanelController::OnMediaChanged);
    connect(&m_media, &MediaController::marksChanged, this, &PanelController::OnMarksChanged);
    connect(&m_media, &MediaController::trackChanged, this, &PanelController::OnTrackChanged);
    // The waveform of the primary track starts with the probe, not after it, and before
    // the file's timeline is known: one without restarts (nearly every file) needs no
    // other. A file that then fails to open gives the open one's back.
    connect(&m_media, &MediaController::openStarted, this, [this](const QString& path) {
        if (m_dialog.IsPanelOpen()) {
            m_builder->Start(QFile::encodeName(path).toStdString(), 0, MediaTimeline());
        }
    });
    connect(&m_media, &MediaController::timelineChanged, this, [this] {
        m_dialog.Panel()->ShowDuration(m_media.Duration());
        OnMarksChanged();
        StartWaveform();
    });
    connect(&m_media, &MediaController::openFinished, this, [this](bool ok) {
        if (!ok) {
            StartWaveform();
        }
    });
    connect(&m_preview, &PreviewPlayer::positionChanged, panel, &PrecisionPanel::ShowPlayhead);
    // A stop or a seek, from the dialog or the preview window, ends a loop in the player:
    // the Loop button follows rather than stay down.
    const auto showLooping = [this] { m_dialog.Panel()->ShowLooping(m_preview.IsLooping()); };
    connect(&m_preview, &PreviewPlayer::stateChanged, this, showLooping);
    connect(&m_preview, &PreviewPlayer::positionReport, this, showLooping);

    connect(panel, &PrecisionPanel::markProposed, this, &PanelController::OnMarkProposed);
    connect(panel, &PrecisionPanel::markTextRejected, this, &PanelController::OnMarkTextRejected);
    connect(panel, &PrecisionPanel::markDragged, this, [this](Mark mark, int64_t rt) {
        m_activeMark = mark;
        m_media.SetMark(mark, rt);
    });
    connect(panel, &PrecisionPanel::nudgeRequested, this, [this](Mark mark, int steps) {
        m_activeMark = mark;
        m_media.NudgeMark(mark, steps);
    });
    connect(&m_dialog, &ConverterDialog::nudgeKeyPressed, this,
            [this](int steps) { m_media.NudgeMark(m_activeMark, steps); });
    connect(&m_dialog, &ConverterDialog::startTimeClicked, this,
            [this] { m_activeMark = Mark::Start; });
    connect(&m_dialog, &ConverterDialog::endTimeClicked, this,
            [this] { m_activeMark = Mark::End; });
    connect(panel, &PrecisionPanel::seekRequested, this,
            [this](int64_t rt) { m_preview.SeekTo(rt); });
    connect(panel, &PrecisionPanel::playheadStepRequested, this, [this](int steps) {
        if (m_preview.IsOpen()) {
            m_preview.SeekTo(std::clamp(m_preview.Position() + steps * m_media.NudgeStep(),
                                        int64_t{0}, m_media.Duration()));
        }
    });
    connect(panel, &PrecisionPanel::playSelectionClicked, this, &PanelController::PlaySelection);
    connect(panel, &PrecisionPanel::loopToggled, this, &PanelController::SetLooping);
    connect(panel, &PrecisionPanel::playStartClicked, this, &PanelController::PlayStart);
    connect(panel, &PrecisionPanel::playEndClicked, this, &PanelController::PlayEnd);
    connect(panel, &PrecisionPanel::trackChosen, this, [this](int index) {
        const std::vector<AudioTrack>& tracks = m_media.Info().tracks;
        if (index >= 0 && static_cast<size_t>(index) < tracks.size()) {
            m_media.SelectTrack(tracks[static_cast<size_t>(index)].number);
        }
    });
    connect(panel, &PrecisionPanel::formatChosen, this, [this](int index) {
        m_settings.WriteProfileString(
            ProfileSettings::kOptionSection, kFormatKey,
            QString::fromStdString(SampleFormats::Name(static_cast<SampleFormat>(index))));
    });
    connect(panel, &PrecisionPanel::modernHeaderToggled, this, [this](bool on) {
        m_settings.WriteProfileInt(ProfileSettings::kOptionSection, kModernKey, on ? 1 : 0);
    });
    connect(panel, &PrecisionPanel::exactEndToggled, this, [this](bool on) {
        m_settings.WriteProfileInt(ProfileSettings::kOptionSection, kExactEndKey, on ? 1 : 0);
    });
    connect(&m_dialog, &ConverterDialog::panelToggled, this, [this](bool open) {
        m_settings.WriteProfileInt(ProfileSettings::kOptionSection, kPanelKey, open ? 1 : 0);
        PlacePreview();
        if (open && !m_waveform) {
            StartWaveform();
        }
    });

    m_refreshTimer.setInterval(kRefreshMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &PanelController::OnRefreshTimer);

    panel->ShowFormat(StoredFormat(m_settings));
    panel->ShowModernHeader(StoredModernHeader(m_settings));
    panel->ShowExactEnd(StoredExactEnd(m_settings));
    m_dialog.ShowPanel(m_settings.GetProfileInt(ProfileSettings::kOptionSection, kPanelKey, 0) !=
                       0);
    PlacePreview();
}

void PanelController::PlacePreview() {
    // The dialog with its panel is tall: the picture may be larger beside it.
    m_preview.SetRoom(m_dialog.IsPanelOpen() ? PreviewGeometry::Room::Largest
                                             : PreviewGeometry::Room::AboveFirst);
}

PanelController::~PanelController() = default;

int PanelController::StoredFormat(const ProfileSettings& settings) {
    const QString name = settings.GetProfileString(ProfileSettings::kOptionSection, kFormatKey,
                                                   QStringLiteral("auto"));
    return static_cast<int>(SampleFormats::Parse(name.toStdString()).value_or(SampleFormat::Auto));
}

bool PanelController::StoredModernHeader(const ProfileSettings& settings) {
    return settings.GetProfileInt(ProfileSettings::kOptionSection, kModernKey, 0) != 0;
}

bool PanelController::StoredExactEnd(const ProfileSettings& settings) {
    return settings.GetProfileInt(ProfileSettings::kOptionSection, kExactEndKey, 0) != 0;
}

bool PanelController::IsComputingWaveform() const {
    return m_builder->Busy();
}

void PanelController::OnMediaChanged() {
    PrecisionPanel* panel = m_dialog.Panel();
    QStringList tracks;
    int chosen = 0;
    for (const AudioTrack& track : m_media.Info().tracks) {
        if (track.number == m_media.Track()) {
            chosen = static_cast<int>(tracks.size());
        }
        tracks << TrackText(track);
    }
    panel->ShowTracks(tracks, chosen);
    panel->ShowDuration(m_media.Duration());
    panel->ShowLooping(false);
    panel->ShowPlayhead(-1);
    OnMarksChanged();
    StartWaveform();
}

void PanelController::OnTrackChanged() {
    StartWaveform();
}

void PanelController::StartWaveform() {
    if (m_media.MediaPath().isEmpty() || m_media.Track() == 0 || !m_dialog.IsPanelOpen()) {
        // No file, one without sound, or nobody to show it to: nothing to compute, and what
        // ran stops. Opening the panel starts it.
        m_builder->Cancel();
        m_waveform.reset();
        m_refreshTimer.stop();
        m_dialog.Panel()->ShowWaveform(nullptr, m_media.Duration());
        return;
    }
    // The primary track is asked for as such, so that what started with the probe goes on.
    const AudioTrack* primary = m_media.Info().Primary();
    const int track =
        primary != nullptr && primary->number == m_media.Track() ? 0 : m_media.Track();
    m_waveform = m_builder->Start(QFile::encodeName(m_media.MediaPath()).toStdString(), track,
                                  m_media.Info().timeline);
    m_dialog.Panel()->ShowWaveform(m_waveform, m_media.Duration());
    m_refreshTimer.start();
}

void PanelController::OnRefreshTimer() {
    m_dialog.Panel()->RefreshWaveform();
    const bool complete = m_waveform && m_waveform->Complete();
    // A file that fails to decode never completes: stop once nothing computes any more.
    if (complete || !m_waveform || !m_builder->Busy()) {
        m_refreshTimer.stop();
        if (complete) {
            emit waveformComplete();
        }
    }
}

void PanelController::OnMarksChanged() {
    m_dialog.Panel()->ShowMarks(m_media.MarkTime(Mark::Start), m_media.MarkTime(Mark::End));
}

void PanelController::OnMarkProposed(Mark mark, int64_t rt) {
    m_activeMark = mark;
    if (!m_media.SetMark(mark, rt)) {
        ShowMessage(tr("%1 is outside the file. A mark can be from %2 to %3.")
                        .arg(TimeText(rt), TimeText(0), TimeText(m_media.Duration())));
        OnMarksChanged();
    }
}

void PanelController::OnMarkTextRejected(Mark /*mark*/, const QString& text) {
    ShowMessage(tr("%1 is not a time. Type it as hours:minutes:seconds.milliseconds, for "
                   "example 0:01:30.250.")
                    .arg(text));
    OnMarksChanged();
}

void PanelController::ShowMessage(const QString& text) {
    m_messages.Show(&m_dialog, text, tr("Error"), UserMessages::Buttons::Ok);
}

bool PanelController::Audition(int64_t from, int64_t to, bool loop) {
    if (!m_preview.IsOpen()) {
        return false;
    }
    if (m_media.MarkTime(Mark::Start) >= m_media.MarkTime(Mark::End)) {
        ShowMessage(tr("The Start Time is bigger than the End Time!"));
        m_dialog.Panel()->ShowLooping(false);
        return false;
    }
    const bool ok = m_preview.PlayRange(from, to, loop);
    m_dialog.Panel()->ShowLooping(ok && loop);
    return ok;
}

void PanelController::PlaySelection() {
    Audition(m_media.MarkTime(Mark::Start), m_media.MarkTime(Mark::End), false);
}

void PanelController::SetLooping(bool on) {
    const int64_t start = m_media.MarkTime(Mark::Start);
    const int64_t end = m_media.MarkTime(Mark::End);
    if (on) {
        Audition(start, end, true);
        return;
    }
    // The pass under way plays to the end of the selection and holds there. Marks moved
    // out of order meanwhile leave nothing to play.
    const int64_t now = std::max(m_preview.Position(), start);
    if (start < end && now < end) {
        Audition(now, end, false);
    } else {
        m_preview.Pause();
    }
}

void PanelController::PlayStart() {
    const int64_t start = m_media.MarkTime(Mark::Start);
    Audition(start, std::min(start + kEdge, m_media.MarkTime(Mark::End)), false);
}

void PanelController::PlayEnd() {
    const int64_t end = m_media.MarkTime(Mark::End);
    Audition(std::max(end - kEdge, m_media.MarkTime(Mark::Start)), end, false);
}
