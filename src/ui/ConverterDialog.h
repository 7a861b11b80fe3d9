#pragma once

#include <QDialog>
#include <QHash>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "ConversionJob.h"
#include "DialogPreviewMessages.h"
#include "PlaybackEngine.h"

class JobObserverBridge;
class PositionSlider;
class ProfileSettings;
class QDragEnterEvent;
class QDropEvent;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class UserMessages;

// The program's only main window: media file, marks, output file, Convert/Stop and
// the progress of the conversion. Fixed size, laid out from its template in dialog
// units. Run it with show() rather than exec(): an application-modal dialog would
// block the worker's message boxes and the preview window.
class ConverterDialog : public QDialog {
    Q_OBJECT
  public:
    // Control IDs of the template.
    enum ControlId : int {
        IDCANCEL = 2,
        IDC_CONVERT = 1000,
        IDC_OPEN_MEDIA = 1001,
        IDC_INFO = 1002,
        IDC_SLIDER = 1003,
        IDC_START_TIME = 1005,
        IDC_END_TIME = 1006,
        IDC_PLAY = 1007,
        IDC_PAUSE = 1008,
        IDC_STOP = 1009,
        IDC_START_TEXT = 1012,
        IDC_END_TEXT = 1013,
        IDC_CLOSE_MEDIA = 1015,
        IDC_OUTPUT_LABEL = 1016,
        IDC_OUTPUT_FILE = 1017,
        IDC_BROWSE = 1018,
        IDC_HELP = 1023,
        IDC_HOMEPAGE = 1024,
        IDC_PROGRESS = 1026,
        IDC_ABOUT = 1027,
    };

    // The eleven controls that need an open media file, in the order they are handled.
    static constexpr int kMediaControls[] = {
        IDC_CONVERT,  IDC_SLIDER,      IDC_PLAY,   IDC_PAUSE,      IDC_STOP,     IDC_START_TIME,
        IDC_END_TIME, IDC_OUTPUT_FILE, IDC_BROWSE, IDC_START_TEXT, IDC_END_TEXT,
    };

    // Asks for the output file: returns the chosen path, or "" when cancelled.
    using SaveFileChooser = std::function<QString(QWidget* owner, const QString& title,
                                                  const QString& folder, const QString& filter)>;

    // Asks for a media file: returns the chosen path, or "" when cancelled.
    using OpenFileChooser =
        std::function<QString(QWidget* owner, const QString& title, const QString& filter)>;
    // Measures a media file: true and its duration in media time, or false when the
    // file cannot be opened.
    using DurationProbe = std::function<bool(const std::string& path, int64_t& duration)>;

    // sliderDragging is the application's flag, 1 while the slider is held.
    ConverterDialog(ProfileSettings& settings, UserMessages& messages, int& sliderDragging,
                    QWidget* parent = nullptr);
    ~ConverterDialog() override;

    // The control of a template ID; nullptr for 2 and 1015, which are commands only.
    QWidget* Control(int id) const { return m_controls.value(id, nullptr); }

    void SetSaveFileChooser(SaveFileChooser chooser) { m_chooseSaveFile = std::move(chooser); }
    void SetOpenFileChooser(OpenFileChooser chooser) { m_chooseOpenFile = std::move(chooser); }
    void SetDurationProbe(DurationProbe probe) { m_probeDuration = std::move(probe); }
    // What the previews opened from now on play with; unset, the display's own choice.
    void SetPlaybackEngineFactory(PlaybackEngineFactory factory) {
        m_engineFactory = std::move(factory);
    }

    // Opens a media file as Open Media File does once the file has been chosen (also for
    // a file named on the command line or dropped on the dialog).
    void OpenMediaFile(const QString& path);
    // Where conversions read their audio; takes effect for jobs started afterwards.
    void SetSourceFactory(ConversionJob::SourceFactory factory);

    // Every way of ending the dialog (close box, Escape, accept, reject) comes here and
    // runs the close steps first.
    void done(int result) override;

  public slots:
    void OnConvert();
    void OnBrowse();
    void OnHelp();
    void OnHomepage();
    void OnAbout();

    // The media file, the preview and the marks plug in here.
    void OnOpenMediaFile();
    void OnPlay();
    void OnPause();
    void OnStopPreview();
    void OnStartTime();
    void OnEndTime();
    // Command 1015: the preview window was closed; back to the state without media.
    void OnClosePreview();
    // The preview's once-a-second position report.
    void OnPositionReport();
    // The left button let go of the slider: seek the preview there.
    void OnSliderReleased();

  signals:
    // A conversion job has ended and its file is finished (or was never made).
    void ConversionEnded(const JobOutcome& outcome);

  protected:
    // true: controls to members; false: members to controls.
    void UpdateData(bool bSaveAndValidate);
    void EnableMediaControls();
    void DisableMediaControls();
    // Closes the preview player, if any, and puts the slider back to 0.
    void ClosePreview();
    // Opens a new preview player on the media file; on failure the media path is
    // emptied and the preview closed again.
    bool OpenPreview();
    // Probes the media file; true and the end mark and duration set, or false and
    // neither changed.
    bool LoadMediaDuration();
    // Asks the preview to go to slider position pos; false when there is nothing to seek.
    bool SeekToSliderPos(int pos);

    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    friend class ConverterDialogProbe;

    void CreateControls();
    void OnInitDialog();
    void InitOutputPath();
    void StopAndJoinJob();
    void SetMediaControlsEnabled(bool enabled);
    void ShowMark(QLabel* text, int64_t rt);

    void OnJobRunning();
    void OnJobProgress(int position);
    void OnJobFinished(const JobOutcome& outcome);

    ProfileSettings& m_settings;
    UserMessages& m_messages;
    int& m_bSliderDragging;
    SaveFileChooser m_chooseSaveFile;
    OpenFileChooser m_chooseOpenFile;
    DurationProbe m_probeDuration;
    PlaybackEngineFactory m_engineFactory;
    DialogPreviewMessages m_previewMessages;

    QHash<int, QWidget*> m_controls;
    QPushButton* m_btnConvert = nullptr;
    QLabel* m_stInfo = nullptr;
    QLineEdit* m_edOutputFile = nullptr;

    QProgressBar* m_progress = nullptr;
    QLabel* m_stEndTime = nullptr;
    QLabel* m_stStartTime = nullptr;
    PositionSlider* m_slider = nullptr;
    QString m_strInfo;
    QString m_strOutputFile;
    int64_t m_rtStart = 0;
    int64_t m_rtEnd = 0;
    // Full path of the open media file, "" while none is open.
    QString m_szMediaFile;
    int m_nDurationSec = 0;
    int m_nSliderPos = 0;
    int64_t m_rtDuration = 0;

    // The bridge outlives the job, whose worker reports to it.
    std::unique_ptr<JobObserverBridge> m_bridge;
    std::unique_ptr<ConversionJob> m_job;
    // From a successful start until the job's end has reached this thread.
    bool m_bJobActive = false;
    // The media the running job converts, for its messages.
    QString m_strJobMedia;
    bool m_bStopRequested = false;
    bool m_bClosing = false;
};
