#pragma once

#include <QObject>
#include <QString>

#include <memory>

#include "ConversionJob.h"

class ConverterDialog;
class FileChoosers;
class JobObserverBridge;
class MediaController;
class ProfileSettings;
class UserMessages;

// Owns the conversion job and its worker's reports, and the output file: where it is
// proposed at the start, Browse, and storing the path once a conversion wrote to it.
class ConversionController final : public QObject {
    Q_OBJECT
  public:
    ConversionController(ConverterDialog& dialog, MediaController& media, ProfileSettings& settings,
                         UserMessages& messages, FileChoosers& choosers,
                         ConversionJob::SourceFactory sources, QObject* parent = nullptr);
    // Stops a running conversion and waits for it: its file is finished and valid.
    ~ConversionController() override;

    // The stored output path, or the default one (with "Can not get My Music directory!"
    // when that is needed and missing).
    void InitOutputPath();
    void OnConvert();
    void OnBrowse();
    // Starts an export of segments on the conversion's worker; Convert (then Stop) ends it.
    // False, with the user told, when it can not start.
    bool StartSegments(const SegmentRequest& request);

    // From a successful start until the job's end has reached the GUI thread.
    bool IsActive() const { return m_active; }
    // From a successful start until the worker has finished its file (any thread's view).
    bool IsJobBusy() const { return m_job->IsBusy(); }
    // For closing: stops a running job, closing its message boxes unseen; idle() follows
    // once its file is finished (at once when nothing runs).
    void StopForClose();
    // Stores the path the last conversion wrote to, if any.
    void StorePath();

    // The largest data chunk a job writes; lowered by tests to reach the limit quickly.
    void SetMaxDataBytes(int64_t bytes) { m_job->SetMaxDataBytes(bytes); }

  signals:
    // A conversion job has ended and its file is finished (or was never made).
    void conversionEnded(const JobOutcome& outcome);
    // The running export of segments starts cutting segment `number` of `count`.
    void segmentStarted(int number, int count);
    // Nothing runs any more.
    void idle();

  private:
    void OnJobRunning();
    void OnJobFinished(const JobOutcome& outcome);

    ConverterDialog& m_dialog;
    MediaController& m_media;
    ProfileSettings& m_settings;
    UserMessages& m_messages;
    FileChoosers& m_choosers;
    // The bridge outlives the job, whose worker reports to it.
    std::unique_ptr<JobObserverBridge> m_bridge;
    std::unique_ptr<ConversionJob> m_job;
    // The output path as of the last Convert or Browse: where Browse starts.
    QString m_outputPath;
    // The output of the running job, and the last path a conversion wrote to.
    QString m_jobOutput;
    QString m_writtenPath;
    QString m_jobMedia;
    bool m_active = false;
    bool m_stopRequested = false;
    bool m_closing = false;
    // The running job exports segments: no single output path to remember.
    bool m_segments = false;
};
