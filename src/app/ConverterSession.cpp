#include "ConverterSession.h"

#include "AboutDialog.h"
#include "ConversionController.h"
#include "ConverterDialog.h"
#include "DialogPreviewMessages.h"
#include "HelpLauncher.h"
#include "MediaController.h"
#include "PanelController.h"
#include "PreviewPlayer.h"
#include "PreviewWindow.h"
#include "SegmentController.h"
#include "WindowOrder.h"

ConverterSession::ConverterSession(const ConverterServices& services, QObject* parent)
    : QObject(parent),
      m_dialog(std::make_unique<ConverterDialog>(services.sliderDragging)),
      m_previewMessages(std::make_unique<DialogPreviewMessages>(services.messages)) {
    m_preview =
        std::make_unique<PreviewPlayer>(m_dialog.get(), services.engines, *m_previewMessages);
    m_preview->KeepSpareEngine(services.spareEngine);
    m_media = std::make_unique<MediaController>(*m_dialog, *m_preview, services.prober,
                                                services.choosers, services.messages,
                                                services.settings, services.sliderDragging);
    m_conversion = std::make_unique<ConversionController>(*m_dialog, *m_media, services.settings,
                                                          services.messages, services.choosers,
                                                          services.sources);
    m_panel = std::make_unique<PanelController>(*m_dialog, *m_media, *m_preview, services.settings,
                                                services.messages, services.sources);
    m_segments = std::make_unique<SegmentController>(*m_dialog, *m_media, services.messages,
                                                     services.choosers, services.settings,
                                                     *m_conversion, *m_panel, services.sources);
    m_windows = std::make_unique<WindowOrder>(m_dialog.get());
    ConverterDialog* dialog = m_dialog.get();
    MediaController* media = m_media.get();
    PreviewPlayer* preview = m_preview.get();
    ConversionController* conversion = m_conversion.get();
    connect(dialog, &ConverterDialog::openMediaClicked, media, &MediaController::OnOpenMediaFile);
    connect(dialog, &ConverterDialog::fileDropped, media, &MediaController::OpenMediaFile);
    connect(dialog, &ConverterDialog::startTimeClicked, media, &MediaController::OnStartTime);
    connect(dialog, &ConverterDialog::endTimeClicked, media, &MediaController::OnEndTime);
    connect(dialog, &ConverterDialog::sliderReleased, media, &MediaController::OnSliderReleased);
    connect(dialog, &ConverterDialog::playClicked, preview, &PreviewPlayer::Play);
    connect(dialog, &ConverterDialog::pauseClicked, preview, &PreviewPlayer::Pause);
    connect(dialog, &ConverterDialog::stopClicked, preview, &PreviewPlayer::Stop);
    connect(dialog, &ConverterDialog::convertClicked, conversion, &ConversionController::OnConvert);
    connect(dialog, &ConverterDialog::browseClicked, conversion, &ConversionController::OnBrowse);
    connect(dialog, &ConverterDialog::helpRequested, this, &ConverterSession::OnHelp);
    connect(dialog, &ConverterDialog::homepageClicked, this, &ConverterSession::OnHomepage);
    connect(dialog, &ConverterDialog::aboutRequested, this, &ConverterSession::OnAbout);
    connect(dialog, &ConverterDialog::closeRequested, this, &ConverterSession::OnCloseRequested);
    connect(conversion, &ConversionController::idle, this, &ConverterSession::FinishClose);
    WindowOrder* windows = m_windows.get();
    connect(preview, &PreviewPlayer::pictureClicked, windows, [windows, preview](bool fullScreen) {
        windows->OnPictureClicked(preview->Window(), fullScreen);
    });
    connect(preview, &PreviewPlayer::fullScreenChanged, windows,
            [windows, preview](bool on) { windows->OnFullScreenChanged(preview->Window(), on); });
    connect(preview, &PreviewPlayer::menuClosed, windows, &WindowOrder::OnMenuClosed);
    m_conversion->InitOutputPath();
}

ConverterSession::~ConverterSession() {
    // A dialog destroyed without being ended still takes its preview along; the
    // conversion controller then stops and joins its job.
    m_preview->Close();
}

void ConverterSession::Show() {
    m_dialog->show();
}

void ConverterSession::OpenMediaFile(const QString& path) {
    m_media->OpenMediaFile(path);
}

void ConverterSession::OnHelp() {
    HelpLauncher::OpenHelp(m_dialog.get());
}

void ConverterSession::OnHomepage() {
    HelpLauncher::OpenHomepage();
}

void ConverterSession::OnAbout() {
    AboutDialog(m_dialog.get()).exec();
}

void ConverterSession::OnCloseRequested(int result) {
    if (m_closing) {
        return;
    }
    m_closing = true;
    m_result = result;
    m_preview->Close();
    if (m_conversion->IsActive()) {
        // No input while the job finishes its file.
        m_dialog->setEnabled(false);
    }
    m_conversion->StopForClose();
}

void ConverterSession::FinishClose() {
    if (!m_closing) {
        return;
    }
    m_dialog->setEnabled(true);
    m_conversion->StorePath();
    m_closing = false;
    m_dialog->Finish(m_result);
    emit finished(m_result);
}
