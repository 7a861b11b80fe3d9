#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

#include "Mark.h"
#include "MediaInfo.h"

class ConverterDialog;
class FileChoosers;
class MediaProber;
class PreviewPlayer;
class ProfileSettings;
class UserMessages;

// The open media file and the time marks: opening (the probe runs off the GUI thread),
// closing, the position readout and the marks taken from the preview.
class MediaController final : public QObject {
    Q_OBJECT
  public:
    MediaController(ConverterDialog& dialog, PreviewPlayer& preview, MediaProber& prober,
                    FileChoosers& choosers, UserMessages& messages, ProfileSettings& settings,
                    int& sliderDragging, QObject* parent = nullptr);
    // A probe still under way answers no more.
    ~MediaController() override;

    // Asks for a media file, starting in the folder of the file last opened (also in an
    // earlier run), and opens it.
    void OnOpenMediaFile();
    // Opens a media file as Open Media File does once the file has been chosen (also for
    // a file named on the command line or dropped on the dialog). The probe answers
    // later; meanwhile the info line says so, and another open or a close cancels it.
    void OpenMediaFile(const QString& path);
    // The preview window was closed: back to the state without media.
    void OnClosePreview();
    // Start Time and End Time: the mark at the preview's position at this moment.
    void OnStartTime();
    void OnEndTime();

    // Sets a mark to a time of the file; false, and nothing changes, for a time outside
    // 0..Duration() or without a file.
    bool SetMark(Mark mark, int64_t rt);
    // Moves a mark by steps of NudgeStep(), staying within the file.
    void NudgeMark(Mark mark, int steps);
    // One picture frame, or 10 ms in a file without a picture.
    int64_t NudgeStep() const;
    int64_t MarkTime(Mark mark) const { return mark == Mark::Start ? m_start : m_end; }
    // The probed duration (the preview's when the file does not tell it).
    int64_t Duration() const;

    // The audio track to hear, show and convert (1-based); ignored when the file has no
    // such track.
    void SelectTrack(int number);
    // The chosen track's number; 0 when the file has no audio.
    int Track() const { return m_track; }
    // The left button let go of the slider at pos: the preview goes there.
    void OnSliderReleased(int pos);

    // Full path of the open media file, "" while none is open.
    const QString& MediaPath() const { return m_mediaPath; }
    const MediaInfo& Info() const { return m_info; }
    int64_t StartMark() const { return m_start; }
    int64_t EndMark() const { return m_end; }
    bool IsOpening() const { return m_opening; }
    // The open file's timeline is still being read: its duration is the container's.
    bool IsScanning() const { return m_info.timelinePending; }
    // Runs `then` once the open file's timeline is known: at once when it is, else when its
    // scan ends. Only the last one waits; opening or closing a file drops it.
    void WhenSettled(std::function<void()> then);

  signals:
    // An open has ended, well or not (for tests and the program's own waits).
    // A file is being probed; it is not the open file until mediaChanged.
    void openStarted(const QString& path);
    void openFinished(bool ok);
    // A file was opened or closed: Info() and the marks are new.
    void mediaChanged();
    void marksChanged();
    void trackChanged(int number);
    // The scan of the open file's timeline found restarts: the duration, and the marks
    // that stood at the old end, are new.
    void timelineChanged();

  private:
    void OnProbed(const QString& path, bool ok, const MediaInfo& info);
    void OnScanned(bool ok, const MediaInfo& info);
    // Scans the open file's timeline again, after another file's probe ended its scan.
    void RescanOpenFile();
    void OnPreviewOpened(bool ok);
    void OnPositionReport(int64_t position, int64_t duration);
    void ShowPosition(int64_t position);
    void ShowMarks();
    const AudioTrack* ChosenTrack() const;
    void RememberFolderOf(const QString& path);

    ConverterDialog& m_dialog;
    PreviewPlayer& m_preview;
    MediaProber& m_prober;
    FileChoosers& m_choosers;
    UserMessages& m_messages;
    ProfileSettings& m_settings;
    int& m_sliderDragging;

    QString m_mediaPath;
    MediaInfo m_info;
    int64_t m_start = 0;
    int64_t m_end = 0;
    int m_durationSeconds = 0;
    int m_track = 0;
    bool m_opening = false;
    std::function<void()> m_afterScan;
};
