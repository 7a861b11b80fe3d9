#include "ConversionController.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStandardPaths>

#include "ConverterDialog.h"
#include "FileChoosers.h"
#include "JobObserverBridge.h"
#include "MediaController.h"
#include "OutputPathRules.h"
#include "PanelController.h"
#include "PrecisionPanel.h"
#include "ProfileSettings.h"
#include "UserMessages.h"

namespace {

constexpr const char* kOutputKey = "output_cut_file";

}  // namespace

ConversionController::ConversionController(ConverterDialog& dialog, MediaController& media,
                                           ProfileSettings& settings, UserMessages& messages,
                                           FileChoosers& choosers,
                                           ConversionJob::SourceFactory sources, QObject* parent)
    : QObject(parent),
      m_dialog(dialog),
      m_media(media),
      m_settings(settings),
      m_messages(messages),
      m_choosers(choosers),
      m_bridge(std::make_unique<JobObserverBridge>(messages)) {
    m_job = std::make_unique<ConversionJob>(std::move(sources), *m_bridge);
    connect(m_bridge.get(), &JobObserverBridge::JobRunning, this,
            &ConversionController::OnJobRunning);
    connect(m_bridge.get(), &JobObserverBridge::JobProgress, &m_dialog,
            &ConverterDialog::ShowProgress);
    connect(m_bridge.get(), &JobObserverBridge::JobSegment, this,
            &ConversionController::segmentStarted);
    connect(m_bridge.get(), &JobObserverBridge::JobFinished, this,
            &ConversionController::OnJobFinished);
}

ConversionController::~ConversionController() {
    // Nothing the worker may still report can hold it up now, so joining is short.
    m_bridge->Shutdown();
    m_job.reset();
}

void ConversionController::InitOutputPath() {
    if (m_settings.HasProfileString(ProfileSettings::kOptionSection, kOutputKey)) {
        m_outputPath =
            m_settings.GetProfileString(ProfileSettings::kOptionSection, kOutputKey, QString());
    } else {
        // The default is needed only when no path is stored.
        m_outputPath = OutputPathRules::DefaultInMusicFolder(
            QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
        if (m_outputPath.isEmpty()) {
            m_messages.Show(&m_dialog, tr("Can not get My Music directory!"), tr("Error"),
                            UserMessages::Buttons::Ok);
            m_outputPath = OutputPathRules::DefaultInHome(QDir::homePath());
        }
    }
    m_dialog.ShowOutputPath(m_outputPath);
}

void ConversionController::OnConvert() {
    if (m_closing) {
        return;
    }
    if (m_active || m_job->IsBusy()) {
        // A press while the job runs asks it to stop. Once asked, and while the job
        // is still starting or finishing its file, presses do nothing: a second job
        // must not start before this one has ended.
        if (!m_stopRequested) {
            m_stopRequested = true;
            m_job->RequestStop();
            m_dialog.ShowConverting(false);
        }
        return;
    }

    m_outputPath = m_dialog.OutputPath();
    if (m_media.MediaPath().isEmpty()) {
        m_messages.Show(&m_dialog, tr("Please open a Media file first!"), tr("Error"),
                        UserMessages::Buttons::Ok);
        return;
    }
    if (m_media.IsScanning()) {
        // The marks may still move with the file's timeline: the conversion starts once
        // it is known.
        m_media.WhenSettled([this] { OnConvert(); });
        return;
    }
    if (!ConversionRequest::MarksInOrder(m_media.StartMark(), m_media.EndMark())) {
        m_messages.Show(&m_dialog, tr("The Start Time is bigger than the End Time!"), tr("Error"),
                        UserMessages::Buttons::Ok);
        return;
    }
    const QString output = m_outputPath;
    // The request is what the dialog showed at the press: the preview window stays usable
    // while the question below is up, and closing it there must not change what is converted.
    const QString media = m_media.MediaPath();
    ConversionRequest request;
    request.mediaPath = QFile::encodeName(media).toStdString();
    request.outputPath = QFile::encodeName(output).toStdString();
    request.rtStart = m_media.StartMark();
    request.rtEnd = m_media.EndMark();
    request.track = m_media.Track() > 0 ? m_media.Track() : AudioStreamSource::kPrimaryTrack;
    request.sampleFormat = static_cast<SampleFormat>(PanelController::StoredFormat(m_settings));
    request.header = PanelController::StoredModernHeader(m_settings) ? WavHeaderKind::Modern
                                                                     : WavHeaderKind::Classic;
    request.end =
        PanelController::StoredExactEnd(m_settings) ? CutEnd::Exact : CutEnd::WholeBuffers;
    if (OutputPathRules::FileExists(output)) {
        const UserMessages::Answer answer = m_messages.Show(
            &m_dialog, tr("%1 exists. Do you want to replace it?").arg(output), tr("Warning"),
            UserMessages::Buttons::YesNo, UserMessages::Icon::Exclamation);
        if (answer != UserMessages::Answer::Yes) {
            return;
        }
    }

    // The old file goes when the new one is created: a media file that turns out not
    // to convert does not cost the user the file they agreed to replace.
    request.replaceExisting = OutputPathRules::FileExists(output);
    if (!m_job->Start(request)) {
        m_messages.Show(&m_dialog, tr("can not begin thread!"), QCoreApplication::applicationName(),
                        UserMessages::Buttons::Ok);
        return;
    }
    m_active = true;
    m_stopRequested = false;
    m_segments = false;
    // What the last conversion clipped no longer applies.
    m_dialog.Panel()->ShowFormatNote(QString());
    m_dialog.ShowPanelNews(false);
    m_jobMedia = media;
    m_jobOutput = output;
}

bool ConversionController::StartSegments(const SegmentRequest& request) {
    if (m_closing || m_active || m_job->IsBusy()) {
        return false;
    }
    if (!m_job->StartSegments(request)) {
        m_messages.Show(&m_dialog, tr("can not begin thread!"), QCoreApplication::applicationName(),
                        UserMessages::Buttons::Ok);
        return false;
    }
    m_active = true;
    m_stopRequested = false;
    m_segments = true;
    m_dialog.Panel()->ShowFormatNote(QString());
    m_dialog.ShowPanelNews(false);
    m_jobMedia = QFile::decodeName(request.mediaPath.c_str());
    m_jobOutput.clear();
    return true;
}

void ConversionController::OnJobRunning() {
    if (!m_stopRequested) {
        m_dialog.ShowConverting(true);
    }
}

void ConversionController::OnJobFinished(const JobOutcome& outcome) {
    // This is the worker's last report; it returns right after, so the join is short.
    m_job->Join();
    m_active = false;
    m_stopRequested = false;
    m_dialog.ShowConverting(false);
    switch (outcome.status) {
        case JobOutcome::Status::Completed:
        case JobOutcome::Status::Stopped:
        case JobOutcome::Status::SizeLimit:
            // Only a path that a conversion wrote to is offered again next time.
            if (!m_segments) {
                m_writtenPath = m_jobOutput;
            }
            StorePath();
            if (outcome.clippedSamples > 0) {
                // A successful conversion ends without a box: the panel says what was
                // clipped, and More shows that there is something to read there.
                m_dialog.Panel()->ShowFormatNote(
                    tr("%1 samples were louder than this format can hold and were clipped; "
                       "\"32-bit float\" keeps them whole.")
                        .arg(QLocale().toString(static_cast<qlonglong>(outcome.clippedSamples))));
                m_dialog.ShowPanelNews(true);
            }
            break;
        case JobOutcome::Status::OpenFailed:
        case JobOutcome::Status::NoSuchTrack:
        case JobOutcome::Status::PrepareFailed:
            // A conversion that could not even start would otherwise end as silently as
            // a successful one: say why nothing was written.
            if (!m_closing) {
                m_messages.Show(&m_dialog,
                                tr("Can not convert %1: %2")
                                    .arg(m_jobMedia, QString::fromStdString(outcome.reason)),
                                tr("Error"), UserMessages::Buttons::Ok);
            }
            break;
        case JobOutcome::Status::NoSoundRead:
            if (!m_closing) {
                m_messages.Show(&m_dialog,
                                tr("Can not convert %1: no sound could be read from the Start "
                                   "Time on, although the file has sound there.")
                                    .arg(m_jobMedia),
                                tr("Error"), UserMessages::Buttons::Ok);
            }
            break;
        case JobOutcome::Status::OutputFailed:
        case JobOutcome::Status::WriteFailed:
            break;
    }
    emit conversionEnded(outcome);
    if (m_closing) {
        m_bridge->SetAutoDismiss(false);
        m_closing = false;
        emit idle();
    }
}

void ConversionController::StopForClose() {
    if (!m_active) {
        emit idle();
        return;
    }
    m_closing = true;
    m_stopRequested = true;
    m_job->RequestStop();
    // The worker may be waiting for a message box: it is closed unseen, and the job's
    // end arrives here as a report, without this thread waiting for the worker.
    m_bridge->SetAutoDismiss(true);
}

void ConversionController::StorePath() {
    if (!m_writtenPath.isEmpty()) {
        m_settings.WriteProfileString(ProfileSettings::kOptionSection, kOutputKey, m_writtenPath);
    }
}

void ConversionController::OnBrowse() {
    const QString chosen = m_choosers.ChooseOutputFile(&m_dialog, tr("Select Output"),
                                                       OutputPathRules::InitialFolder(m_outputPath),
                                                       tr("Wav file (*.wav)"));
    if (chosen.isEmpty()) {
        return;
    }
    m_outputPath = OutputPathRules::ForceWavExtension(chosen);
    m_dialog.ShowOutputPath(m_outputPath);
}
