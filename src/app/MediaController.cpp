#include "MediaController.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

#include "ConverterDialog.h"
#include "DisplayName.h"
#include "FileChoosers.h"
#include "LibraryLog.h"
#include "MediaProber.h"
#include "MediaTime.h"
#include "PositionSlider.h"
#include "PreviewPlayer.h"
#include "ProfileSettings.h"
#include "UserMessages.h"

namespace {

constexpr const char* kMediaFolderKey = "last_media_folder";

QString Clock(int64_t rt) {
    return QString::fromStdString(MediaTime::ClockText(MediaTime::WholeSeconds(rt)));
}

QString ShortName(const QString& path) {
    std::string name;
    GetDisplayName(path.toStdString(), name);
    return QString::fromStdString(name);
}

// Whether the file can be opened for reading. Non-blocking, so that a named pipe
// without a writer answers at once instead of holding up the dialog.
bool CanOpenForReading(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace

MediaController::MediaController(ConverterDialog& dialog, PreviewPlayer& preview,
                                 MediaProber& prober, FileChoosers& choosers,
                                 UserMessages& messages, ProfileSettings& settings,
                                 int& sliderDragging, QObject* parent)
    : QObject(parent),
      m_dialog(dialog),
      m_preview(preview),
      m_prober(prober),
      m_choosers(choosers),
      m_messages(messages),
      m_settings(settings),
      m_sliderDragging(sliderDragging) {
    connect(&m_preview, &PreviewPlayer::positionReport, this, &MediaController::OnPositionReport);
    connect(&m_preview, &PreviewPlayer::opened, this, &MediaController::OnPreviewOpened);
    connect(&m_preview, &PreviewPlayer::closeRequested, this, &MediaController::OnClosePreview);
}

MediaController::~MediaController() {
    m_prober.Cancel();
}

void MediaController::OnOpenMediaFile() {
    QString folder =
        m_settings.GetProfileString(ProfileSettings::kOptionSection, kMediaFolderKey, QString());
    // A folder since removed or unmounted: the file dialog's own start beats its error.
    if (!folder.isEmpty() && !QDir(folder).exists()) {
        folder.clear();
    }
    const QString chosen =
        m_choosers.ChooseMediaFile(&m_dialog, tr("Select a Media file"), folder,
                                   tr("MPEG Files (*.mpg *.mpeg);;Any Files (*)"));
    if (!chosen.isEmpty()) {
        // Also when the file then fails to open: the user went there to find it.
        RememberFolderOf(chosen);
        OpenMediaFile(chosen);
    }
}

void MediaController::RememberFolderOf(const QString& path) {
    // Written only when it changes: a write goes to disk on this thread.
    const QString folder = QFileInfo(path).absolutePath();
    if (m_settings.GetProfileString(ProfileSettings::kOptionSection, kMediaFolderKey, QString()) !=
        folder) {
        m_settings.WriteProfileString(ProfileSettings::kOptionSection, kMediaFolderKey, folder);
    }
}

void MediaController::OpenMediaFile(const QString& path) {
    // Until the probe answers, the file that is open stays open, with its preview and
    // marks: a file that fails to open leaves it as it was.
    m_opening = true;
    m_dialog.ShowInfo(tr("Opening %1…").arg(ShortName(path)));
    m_prober.Probe(
        QFile::encodeName(path).toStdString(),
        [this, path](bool ok, const MediaInfo& info) { OnProbed(path, ok, info); },
        [this](bool ok, const MediaInfo& info) { OnScanned(ok, info); });
    emit openStarted(path);
}

void MediaController::OnProbed(const QString& path, bool ok, const MediaInfo& info) {
    m_opening = false;
    const bool readable = ok && CanOpenForReading(path);
    if (!readable) {
        // The probe of this file ended the scan of the one still open.
        RescanOpenFile();
    }
    if (!ok) {
        ShowPosition(m_preview.Position());
        m_messages.Show(&m_dialog,
                        tr("Cannot open the file and get the total time. You need to install "
                           "appropriate decoders.\nOr the file is corrupt."),
                        tr("Error"), UserMessages::Buttons::Ok);
        emit openFinished(false);
        return;
    }
    if (!readable) {
        ShowPosition(m_preview.Position());
        m_messages.Show(&m_dialog, tr("Can not open the media file!"),
                        QCoreApplication::applicationName(), UserMessages::Buttons::Ok,
                        UserMessages::Icon::Exclamation);
        emit openFinished(false);
        return;
    }
    // Files named on the command line or dropped count as opened too.
    RememberFolderOf(path);
    m_mediaPath = path;
    m_info = info;
    m_afterScan = nullptr;
    m_start = 0;
    m_end = info.duration;
    m_durationSeconds = MediaTime::WholeSeconds(info.duration);
    const AudioTrack* primary = info.Primary();
    m_track = primary != nullptr ? primary->number : 0;
    ShowPosition(0);
    ShowMarks();
    m_dialog.ShowSliderPosition(0);
    m_preview.Open(QFile::encodeName(path).toStdString(), primary != nullptr ? primary->lead : 0,
                   info.timeline);
    // The player's core has started and taken FFmpeg's log over.
    LibraryLog::ReclaimLibavLog();
    m_dialog.SetMediaControlsEnabled(true);
    if (!m_preview.IsOpen()) {
        // The preview could not even start: nothing to convert.
        m_mediaPath.clear();
        m_dialog.ShowSliderPosition(0);
        emit mediaChanged();
        emit openFinished(false);
        return;
    }
    emit mediaChanged();
}

void MediaController::OnPreviewOpened(bool ok) {
    if (!ok) {
        // The clip cannot be played: the user has been told; nothing is left to convert.
        m_mediaPath.clear();
        m_preview.Close();
        m_dialog.ShowSliderPosition(0);
        emit mediaChanged();
    }
    emit openFinished(ok);
}

void MediaController::OnScanned(bool ok, const MediaInfo& info) {
    m_info.timelinePending = false;
    if (ok && info.timeline.HasRestarts() && !m_mediaPath.isEmpty()) {
        const int64_t oldEnd = Duration();
        m_info.timeline = info.timeline;
        m_info.duration = info.duration;
        const int64_t end = Duration();
        // An End mark at the old end meant the end of the file; other marks keep their
        // times, within the file.
        m_end = m_end == oldEnd ? end : std::min(m_end, end);
        m_start = std::min(m_start, end);
        m_durationSeconds = MediaTime::WholeSeconds(m_info.duration);
        const AudioTrack* track = ChosenTrack();
        m_preview.Retime(m_info.timeline, track != nullptr ? track->lead : 0);
        ShowPosition(m_preview.Position());
        ShowMarks();
        emit timelineChanged();
    }
    if (m_afterScan) {
        const std::function<void()> then = std::exchange(m_afterScan, nullptr);
        then();
    }
}

void MediaController::RescanOpenFile() {
    if (!IsScanning() || m_mediaPath.isEmpty()) {
        return;
    }
    m_prober.Probe(
        QFile::encodeName(m_mediaPath).toStdString(),
        [this](bool ok, const MediaInfo& info) {
            if (!info.timelinePending) {
                OnScanned(ok, info);
            }
        },
        [this](bool ok, const MediaInfo& info) { OnScanned(ok, info); });
}

void MediaController::WhenSettled(std::function<void()> then) {
    if (!IsScanning()) {
        then();
        return;
    }
    m_afterScan = std::move(then);
}

void MediaController::OnClosePreview() {
    m_prober.Cancel();
    m_opening = false;
    m_afterScan = nullptr;
    m_preview.Close();
    m_dialog.ShowSliderPosition(0);
    m_dialog.ShowInfo(QString());
    m_start = 0;
    m_end = 0;
    m_track = 0;
    m_mediaPath.clear();
    m_info = MediaInfo{};
    ShowMarks();
    m_dialog.SetMediaControlsEnabled(false);
    emit mediaChanged();
}

void MediaController::OnStartTime() {
    if (m_preview.IsOpen()) {
        // Asked of the player now: the last report may be up to a second old.
        m_start = m_preview.Position();
        ShowMarks();
    }
}

void MediaController::OnEndTime() {
    if (m_preview.IsOpen()) {
        m_end = m_preview.Position();
        ShowMarks();
    }
}

bool MediaController::SetMark(Mark mark, int64_t rt) {
    if (m_mediaPath.isEmpty() || rt < 0 || rt > Duration()) {
        return false;
    }
    (mark == Mark::Start ? m_start : m_end) = rt;
    ShowMarks();
    return true;
}

void MediaController::NudgeMark(Mark mark, int steps) {
    if (m_mediaPath.isEmpty()) {
        return;
    }
    const int64_t moved = MarkTime(mark) + steps * NudgeStep();
    SetMark(mark, std::clamp<int64_t>(moved, 0, Duration()));
}

int64_t MediaController::NudgeStep() const {
    constexpr int64_t kTenMs = MediaTime::kUnitsPerSecond / 100;
    return m_info.frameDuration > 0 ? m_info.frameDuration : kTenMs;
}

int64_t MediaController::Duration() const {
    return m_info.duration > 0 ? m_info.duration : m_preview.Duration();
}

const AudioTrack* MediaController::ChosenTrack() const {
    for (const AudioTrack& track : m_info.tracks) {
        if (track.number == m_track) {
            return &track;
        }
    }
    return nullptr;
}

void MediaController::SelectTrack(int number) {
    if (number == m_track) {
        return;
    }
    const int previous = m_track;
    m_track = number;
    const AudioTrack* track = ChosenTrack();
    if (track == nullptr) {
        m_track = previous;
        return;
    }
    m_preview.SelectAudioTrack(track->number, track->lead);
    emit trackChanged(m_track);
}

void MediaController::ShowMarks() {
    m_dialog.ShowStartMark(Clock(m_start));
    m_dialog.ShowEndMark(Clock(m_end));
    emit marksChanged();
}

void MediaController::OnSliderReleased(int pos) {
    const int64_t duration = m_preview.Duration();
    if (duration == 0) {
        return;
    }
    // The thumb stays where the user left it; the next report moves it.
    m_preview.SeekTo(PositionSlider::TimeAt(duration, pos));
}

void MediaController::OnPositionReport(int64_t position, int64_t duration) {
    // The thumb belongs to the mouse while the user holds it.
    if (m_sliderDragging == 1 || m_opening) {
        return;
    }
    ShowPosition(position);
    m_dialog.ShowSliderPosition(PositionSlider::PositionOf(position, duration));
}

void MediaController::ShowPosition(int64_t position) {
    if (m_mediaPath.isEmpty()) {
        m_dialog.ShowInfo(QString());
        return;
    }
    // Said at once, rather than after Convert and a question about the output file.
    QString name = ShortName(m_mediaPath);
    if (m_info.tracks.empty()) {
        name = tr("%1 (no sound)").arg(name);
    }
    // The total is the probed duration, which the marks were measured against.
    m_dialog.ShowInfo(name, QStringLiteral("%1 / %2").arg(
                                Clock(position),
                                QString::fromStdString(MediaTime::ClockText(m_durationSeconds))));
}
