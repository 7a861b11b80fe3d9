#include "ConverterDialog.h"

#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <utility>

#include "AboutDialog.h"
#include "CPreviewPlayer.h"
#include "DialogUnits.h"
#include "DisplayName.h"
#include "FfmpegAudioSource.h"
#include "HelpLauncher.h"
#include "JobObserverBridge.h"
#include "MediaTime.h"
#include "MpvPlaybackEngine.h"
#include "OutputPathRules.h"
#include "PositionSlider.h"
#include "PreviewInstance.h"
#include "ProfileSettings.h"
#include "UserMessages.h"

namespace {

constexpr const char* kSection = "Option";
constexpr const char* kOutputKey = "output_cut_file";
constexpr const char* kZeroClock = "00:00:00";

// The template: size and controls in tab order (x, y, width, height in dialog units).
constexpr int kDialogWidth = 247;
constexpr int kDialogHeight = 194;

enum class Kind { Button, Static, SunkenStatic, Slider, Edit, Progress };

struct ControlTemplate {
    int id;
    Kind kind;
    const char* caption;
    int x, y, width, height;
};

// Controls 2 (Exit) and 1015 (close media) are hidden slivers in the template; they
// are commands only here: Escape and command 1015 reach their handlers directly.
constexpr ControlTemplate kTemplate[] = {
    {ConverterDialog::IDC_INFO, Kind::Static, "", 83, 9, 157, 14},
    {ConverterDialog::IDC_CONVERT, Kind::Button, "Convert", 7, 129, 100, 14},
    {ConverterDialog::IDC_OPEN_MEDIA, Kind::Button, "Open Media File", 7, 7, 68, 14},
    {ConverterDialog::IDC_SLIDER, Kind::Slider, "", 7, 28, 224, 15},
    {ConverterDialog::IDC_START_TIME, Kind::Button, "Start Time", 7, 78, 50, 14},
    {ConverterDialog::IDC_END_TIME, Kind::Button, "End Time", 126, 78, 50, 14},
    {ConverterDialog::IDC_PLAY, Kind::Button, "Play", 7, 52, 50, 14},
    {ConverterDialog::IDC_PAUSE, Kind::Button, "Pause", 91, 52, 50, 14},
    {ConverterDialog::IDC_STOP, Kind::Button, "Stop", 175, 52, 50, 14},
    {ConverterDialog::IDC_START_TEXT, Kind::SunkenStatic, "", 60, 81, 40, 9},
    {ConverterDialog::IDC_END_TEXT, Kind::SunkenStatic, "", 179, 81, 40, 9},
    {ConverterDialog::IDC_OUTPUT_LABEL, Kind::Static, "Output File", 11, 111, 39, 8},
    {ConverterDialog::IDC_OUTPUT_FILE, Kind::Edit, "", 55, 109, 150, 13},
    {ConverterDialog::IDC_BROWSE, Kind::Button, "Browse", 206, 109, 34, 13},
    {ConverterDialog::IDC_HELP, Kind::Button, "Help", 174, 129, 50, 14},
    {ConverterDialog::IDC_HOMEPAGE, Kind::Button, "Homepage", 90, 155, 50, 14},
    {ConverterDialog::IDC_PROGRESS, Kind::Progress, "", 7, 178, 233, 9},
    {ConverterDialog::IDC_ABOUT, Kind::Button, "About", 174, 155, 50, 14},
};

QString DefaultSaveFile(QWidget* owner, const QString& title, const QString& folder,
                        const QString& filter) {
    // The conversion asks before it replaces a file, so the file dialog does not.
    return QFileDialog::getSaveFileName(owner, title, folder, filter, nullptr,
                                        QFileDialog::DontConfirmOverwrite);
}

QString DefaultOpenFile(QWidget* owner, const QString& title, const QString& filter) {
    return QFileDialog::getOpenFileName(owner, title, QString(), filter);
}

bool ProbeWithFfmpeg(const std::string& path, int64_t& duration) {
    return FfmpegAudioSource().GetMediaDuration(path, duration);
}

std::unique_ptr<AudioStreamSource> MakeFfmpegSource() {
    return std::make_unique<FfmpegAudioSource>();
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

// The one local file a drag carries, or "" when it carries anything else.
QString DroppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1) {
        return QString();
    }
    const QUrl url = data->urls().front();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

}  // namespace

ConverterDialog::ConverterDialog(ProfileSettings& settings, UserMessages& messages,
                                 int& sliderDragging, QWidget* parent)
    : QDialog(parent),
      m_settings(settings),
      m_messages(messages),
      m_bSliderDragging(sliderDragging),
      m_chooseSaveFile(DefaultSaveFile),
      m_chooseOpenFile(DefaultOpenFile),
      m_probeDuration(ProbeWithFfmpeg),
      m_previewMessages(messages),
      m_bridge(std::make_unique<JobObserverBridge>(messages)) {
    m_job = std::make_unique<ConversionJob>(MakeFfmpegSource, *m_bridge);
    connect(m_bridge.get(), &JobObserverBridge::JobRunning, this, &ConverterDialog::OnJobRunning);
    connect(m_bridge.get(), &JobObserverBridge::JobProgress, this, &ConverterDialog::OnJobProgress);
    connect(m_bridge.get(), &JobObserverBridge::JobFinished, this, &ConverterDialog::OnJobFinished);

    CreateControls();
    OnInitDialog();
}

ConverterDialog::~ConverterDialog() {
    // A dialog destroyed without being ended still takes its preview along.
    if (g_pPreview != nullptr && g_pPreview->m_hWndDialog == this) {
        ClosePreview();
    }
    // Nothing the worker may still report can hold it up now, so joining is safe
    // even when the dialog is destroyed without having been ended.
    m_bridge->Shutdown();
    m_job.reset();
}

void ConverterDialog::SetSourceFactory(ConversionJob::SourceFactory factory) {
    StopAndJoinJob();
    m_job = std::make_unique<ConversionJob>(std::move(factory), *m_bridge);
}

void ConverterDialog::CreateControls() {
    setWindowTitle("Orvane");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    const DialogUnits units(font());
    setFixedSize(units.X(kDialogWidth), units.Y(kDialogHeight));

    for (const ControlTemplate& t : kTemplate) {
        QWidget* control = nullptr;
        switch (t.kind) {
            case Kind::Button: {
                auto* button = new QPushButton(t.caption, this);
                // No default button, nor one Qt would make default on showing or on
                // focus: Enter pushes only the button that has the focus (keyPressEvent).
                button->setAutoDefault(false);
                button->setDefault(false);
                control = button;
                break;
            }
            case Kind::Static:
            case Kind::SunkenStatic: {
                auto* label = new QLabel(t.caption, this);
                label->setTextFormat(Qt::PlainText);
                if (t.kind == Kind::SunkenStatic) {
                    label->setAlignment(Qt::AlignCenter);
                    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                } else {
                    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
                }
                control = label;
                break;
            }
            case Kind::Slider: {
                auto* slider = new PositionSlider(m_bSliderDragging, this);
                slider->setTickPosition(QSlider::NoTicks);
                control = slider;
                break;
            }
            case Kind::Edit:
                control = new QLineEdit(this);
                break;
            case Kind::Progress: {
                auto* progress = new QProgressBar(this);
                progress->setTextVisible(false);
                control = progress;
                break;
            }
        }
        control->setObjectName(QString("control%1").arg(t.id));
        control->setGeometry(units.Rect(t.x, t.y, t.width, t.height));
        m_controls.insert(t.id, control);
    }

    m_btnConvert = static_cast<QPushButton*>(m_controls[IDC_CONVERT]);
    m_stInfo = static_cast<QLabel*>(m_controls[IDC_INFO]);
    m_edOutputFile = static_cast<QLineEdit*>(m_controls[IDC_OUTPUT_FILE]);
    m_progress = static_cast<QProgressBar*>(m_controls[IDC_PROGRESS]);
    m_stEndTime = static_cast<QLabel*>(m_controls[IDC_END_TEXT]);
    m_stStartTime = static_cast<QLabel*>(m_controls[IDC_START_TEXT]);
    m_slider = static_cast<PositionSlider*>(m_controls[IDC_SLIDER]);

    // Enter in the output field must not end the dialog nor push a button.
    m_edOutputFile->installEventFilter(this);

    const auto button = [this](int id) { return static_cast<QPushButton*>(m_controls[id]); };
    connect(button(IDC_CONVERT), &QPushButton::clicked, this, &ConverterDialog::OnConvert);
    connect(button(IDC_OPEN_MEDIA), &QPushButton::clicked, this, &ConverterDialog::OnOpenMediaFile);
    connect(button(IDC_PLAY), &QPushButton::clicked, this, &ConverterDialog::OnPlay);
    connect(button(IDC_PAUSE), &QPushButton::clicked, this, &ConverterDialog::OnPause);
    connect(button(IDC_STOP), &QPushButton::clicked, this, &ConverterDialog::OnStopPreview);
    connect(button(IDC_START_TIME), &QPushButton::clicked, this, &ConverterDialog::OnStartTime);
    connect(button(IDC_END_TIME), &QPushButton::clicked, this, &ConverterDialog::OnEndTime);
    connect(button(IDC_BROWSE), &QPushButton::clicked, this, &ConverterDialog::OnBrowse);
    connect(button(IDC_HELP), &QPushButton::clicked, this, &ConverterDialog::OnHelp);
    connect(button(IDC_HOMEPAGE), &QPushButton::clicked, this, &ConverterDialog::OnHomepage);
    connect(button(IDC_ABOUT), &QPushButton::clicked, this, &ConverterDialog::OnAbout);
    connect(m_slider, &PositionSlider::sliderReleased, this, &ConverterDialog::OnSliderReleased);

    auto* help = new QShortcut(QKeySequence::HelpContents, this);
    connect(help, &QShortcut::activated, this, &ConverterDialog::OnHelp);

    setAcceptDrops(true);
}

void ConverterDialog::OnInitDialog() {
    UpdateData(false);

    // The About item the system menu would carry lives in the dialog's context menu.
    auto* about = new QAction("&About Orvane", this);
    about->setObjectName("aboutAction");
    connect(about, &QAction::triggered, this, &ConverterDialog::OnAbout);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    setWindowIcon(AboutDialog::ApplicationIcon());

    m_stStartTime->setText(kZeroClock);
    m_stEndTime->setText(kZeroClock);

    m_slider->setRange(0, 600);
    m_slider->setValue(0);

    DisableMediaControls();
    InitOutputPath();

    m_progress->setRange(0, 1000);
    m_progress->setValue(0);
}

void ConverterDialog::InitOutputPath() {
    QString defaultPath = OutputPathRules::DefaultInMusicFolder(
        QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
    if (defaultPath.isEmpty()) {
        m_messages.Show(this, "Can not get My Music directory!", "Error",
                        UserMessages::Buttons::Ok);
        defaultPath = OutputPathRules::DefaultInHome(QDir::homePath());
    }
    m_strOutputFile = m_settings.GetProfileString(kSection, kOutputKey, defaultPath);
    m_edOutputFile->setText(m_strOutputFile);
}

void ConverterDialog::UpdateData(bool bSaveAndValidate) {
    if (bSaveAndValidate) {
        m_strInfo = m_stInfo->text();
        m_strOutputFile = m_edOutputFile->text();
    } else {
        m_stInfo->setText(m_strInfo);
        m_edOutputFile->setText(m_strOutputFile);
    }
}

void ConverterDialog::SetMediaControlsEnabled(bool enabled) {
    for (int id : kMediaControls) {
        m_controls[id]->setEnabled(enabled);
    }
}

void ConverterDialog::EnableMediaControls() {
    SetMediaControlsEnabled(true);
}

void ConverterDialog::DisableMediaControls() {
    SetMediaControlsEnabled(false);
}

void ConverterDialog::ClosePreview() {
    if (g_pPreview != nullptr) {
        CPreviewPlayer* player = std::exchange(g_pPreview, nullptr);
        player->disconnect(this);
        if (player->m_nPlayState != Closed) {
            player->CloseMedia();
        }
        delete player;
    }
    m_slider->setValue(0);
    m_nSliderPos = 0;
    update();
}

void ConverterDialog::OnConvert() {
    if (m_bClosing) {
        return;
    }
    if (m_bJobActive || m_job->IsBusy()) {
        // A press while the job runs asks it to stop. Once asked, and while the job
        // is still starting or finishing its file, presses do nothing: a second job
        // must not start before this one has ended.
        if (!m_bStopRequested) {
            m_bStopRequested = true;
            m_job->RequestStop();
            m_btnConvert->setText("Convert");
        }
        return;
    }

    UpdateData(true);
    if (m_szMediaFile.isEmpty()) {
        m_messages.Show(this, "Please open a Media file first!", "Error",
                        UserMessages::Buttons::Ok);
        return;
    }
    if (!(m_rtStart < m_rtEnd)) {
        m_messages.Show(this, "The Start Time is bigger than the End Time!", "Error",
                        UserMessages::Buttons::Ok);
        return;
    }
    const QString output = m_strOutputFile;
    if (OutputPathRules::FileExists(output)) {
        const UserMessages::Answer answer = m_messages.Show(
            this, QString("%1 exists. Do you want to replace it?").arg(output), "Warning",
            UserMessages::Buttons::YesNo, UserMessages::Icon::Exclamation);
        if (answer != UserMessages::Answer::Yes) {
            return;
        }
    }

    ConversionRequest request;
    request.mediaPath = QFile::encodeName(m_szMediaFile).toStdString();
    request.outputPath = QFile::encodeName(output).toStdString();
    request.rtStart = m_rtStart;
    request.rtEnd = m_rtEnd;
    // The old file goes when the new one is created: a media file that turns out not
    // to convert does not cost the user the file they agreed to replace.
    request.replaceExisting = OutputPathRules::FileExists(output);
    if (!m_job->Start(request)) {
        m_messages.Show(this, "can not begin thread!", QCoreApplication::applicationName(),
                        UserMessages::Buttons::Ok);
        return;
    }
    m_bJobActive = true;
    m_bStopRequested = false;
    m_strJobMedia = m_szMediaFile;
}

void ConverterDialog::OnJobRunning() {
    if (!m_bStopRequested) {
        m_btnConvert->setText("Stop");
    }
}

void ConverterDialog::OnJobProgress(int position) {
    if (m_progress->value() != position) {
        m_progress->setValue(position);
    }
}

void ConverterDialog::OnJobFinished(const JobOutcome& outcome) {
    // This is the worker's last report; it returns right after, so the join is short.
    m_job->Join();
    m_bJobActive = false;
    m_bStopRequested = false;
    m_btnConvert->setText("Convert");
    // A conversion that could not even start would otherwise end as silently as a
    // successful one: say why nothing was written.
    const bool notStarted = outcome.status == JobOutcome::Status::OpenFailed ||
                            outcome.status == JobOutcome::Status::NoSuchTrack ||
                            outcome.status == JobOutcome::Status::PrepareFailed;
    if (notStarted && !m_bClosing) {
        m_messages.Show(
            this,
            "Can not convert " + m_strJobMedia + ": " + QString::fromStdString(outcome.reason),
            "Error", UserMessages::Buttons::Ok);
    }
    emit ConversionEnded(outcome);
}

void ConverterDialog::StopAndJoinJob() {
    if (m_bJobActive) {
        m_job->RequestStop();
        m_bStopRequested = true;
        // The worker may be waiting for a message box or have reports queued for this
        // thread: let them through (boxes closed unseen) until its end arrives here,
        // instead of blocking this thread on the worker.
        m_bridge->SetAutoDismiss(true);
        QEventLoop loop;
        const QMetaObject::Connection ended =
            connect(this, &ConverterDialog::ConversionEnded, &loop, &QEventLoop::quit);
        while (m_bJobActive) {
            loop.exec();
        }
        disconnect(ended);
        m_bridge->SetAutoDismiss(false);
    }
    m_job->Join();
}

void ConverterDialog::done(int result) {
    if (m_bClosing) {
        return;
    }
    m_bClosing = true;
    ClosePreview();
    if (m_bJobActive) {
        // No input while the job finishes its file.
        setEnabled(false);
        StopAndJoinJob();
        setEnabled(true);
    }
    m_settings.WriteProfileString(kSection, kOutputKey, m_strOutputFile);
    m_edOutputFile->setText(m_strOutputFile);
    m_bClosing = false;
    QDialog::done(result);
}

bool ConverterDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_edOutputFile && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ConverterDialog::keyPressEvent(QKeyEvent* event) {
    // Enter pushes the focused push button; anywhere else it ends the dialog like OK,
    // through the close steps, and never clicks a button out of sight of the focus.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget());
            button != nullptr && button->isEnabled()) {
            button->click();
            return;
        }
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ConverterDialog::OnBrowse() {
    const QString chosen = m_chooseSaveFile(
        this, "Select Output", OutputPathRules::InitialFolder(m_strOutputFile), "Wav file (*.wav)");
    if (chosen.isEmpty()) {
        return;
    }
    m_strOutputFile = OutputPathRules::ForceWavExtension(chosen);
    m_settings.WriteProfileString(kSection, kOutputKey, m_strOutputFile);
    m_edOutputFile->setText(m_strOutputFile);
}

void ConverterDialog::OnHelp() {
    HelpLauncher::OpenHelp(this);
}

void ConverterDialog::OnHomepage() {
    HelpLauncher::OpenHomepage();
}

void ConverterDialog::OnAbout() {
    AboutDialog(this).exec();
}

void ConverterDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void ConverterDialog::dropEvent(QDropEvent* event) {
    const QString path = DroppedFile(event->mimeData());
    if (path.isEmpty()) {
        return;
    }
    event->acceptProposedAction();
    // Not inside the drop: the boxes and the preview's window would run within the
    // drag-and-drop machinery of the source application.
    QMetaObject::invokeMethod(
        this, [this, path] { OpenMediaFile(path); }, Qt::QueuedConnection);
}

void ConverterDialog::OnOpenMediaFile() {
    const QString chosen =
        m_chooseOpenFile(this, "Select a Media file", "MPEG Files (*.mpg *.mpeg);;Any Files (*)");
    if (chosen.isEmpty()) {
        return;
    }
    OpenMediaFile(chosen);
}

void ConverterDialog::OpenMediaFile(const QString& path) {
    // A file that fails to open leaves the file that was open as it was: its path,
    // end mark and duration stay with its preview and marks, so the info line and a
    // conversion never mix two files.
    const QString previousFile = m_szMediaFile;
    const int64_t previousEnd = m_rtEnd;
    const int64_t previousDuration = m_rtDuration;
    const int previousSeconds = m_nDurationSec;
    const auto restore = [&] {
        m_szMediaFile = previousFile;
        m_rtEnd = previousEnd;
        m_rtDuration = previousDuration;
        m_nDurationSec = previousSeconds;
    };
    m_szMediaFile = path;
    if (!LoadMediaDuration()) {
        restore();
        m_messages.Show(this,
                        "Cannot open the file and get the total time. You need to install "
                        "appropriate decoders.\nOr the file is corrupt.",
                        "Error", UserMessages::Buttons::Ok);
        return;
    }
    if (!CanOpenForReading(m_szMediaFile)) {
        restore();
        m_messages.Show(this, "Can not open the media file!", QCoreApplication::applicationName(),
                        UserMessages::Buttons::Ok, UserMessages::Icon::Exclamation);
        return;
    }
    m_rtStart = 0;
    std::string name;
    GetDisplayName(m_szMediaFile.toStdString(), name);
    m_strInfo = QString::fromStdString(MediaTime::InfoLine(name, 0, m_nDurationSec));
    UpdateData(false);
    m_stStartTime->setText(kZeroClock);
    m_stEndTime->setText(QString::fromStdString(MediaTime::ClockText(m_nDurationSec)));
    ClosePreview();
    OpenPreview();
    EnableMediaControls();
}

bool ConverterDialog::LoadMediaDuration() {
    if (!m_probeDuration ||
        !m_probeDuration(QFile::encodeName(m_szMediaFile).toStdString(), m_rtDuration)) {
        return false;
    }
    m_rtEnd = m_rtDuration;
    m_nDurationSec = MediaTime::WholeSeconds(m_rtDuration);
    return true;
}

bool ConverterDialog::OpenPreview() {
    if (!m_engineFactory) {
        // Looked up once, when first needed: the display does not change.
        m_engineFactory = MpvPlaybackEngine::DefaultFactory();
    }
    g_pPreview = new CPreviewPlayer(this, m_engineFactory, m_previewMessages);
    connect(g_pPreview, &CPreviewPlayer::positionReport, this, &ConverterDialog::OnPositionReport);
    connect(g_pPreview, &CPreviewPlayer::closeRequested, this, &ConverterDialog::OnClosePreview);
    g_pPreview->m_szClipPath = QFile::encodeName(m_szMediaFile).toStdString();
    if (g_pPreview->OpenMedia()) {
        return true;
    }
    m_szMediaFile.clear();
    ClosePreview();
    return false;
}

void ConverterDialog::OnPlay() {
    if (g_pPreview != nullptr) {
        g_pPreview->Play();
    }
}

void ConverterDialog::OnPause() {
    if (g_pPreview != nullptr) {
        g_pPreview->Pause();
    }
}

void ConverterDialog::OnStopPreview() {
    if (g_pPreview != nullptr) {
        g_pPreview->Stop();
    }
}

void ConverterDialog::ShowMark(QLabel* text, int64_t rt) {
    text->setText(QString::fromStdString(MediaTime::ClockText(MediaTime::WholeSeconds(rt))));
}

void ConverterDialog::OnStartTime() {
    if (g_pPreview == nullptr) {
        return;
    }
    // The position of the last poll, up to a second old: what the dialog has shown.
    m_rtStart = g_pPreview->m_rtCurrent;
    ShowMark(m_stStartTime, m_rtStart);
}

void ConverterDialog::OnEndTime() {
    if (g_pPreview == nullptr) {
        return;
    }
    m_rtEnd = g_pPreview->m_rtCurrent;
    ShowMark(m_stEndTime, m_rtEnd);
}

void ConverterDialog::OnSliderReleased() {
    m_nSliderPos = m_slider->value();
    SeekToSliderPos(m_nSliderPos);
}

bool ConverterDialog::SeekToSliderPos(int pos) {
    if (g_pPreview == nullptr || g_pPreview->m_rtStop == 0) {
        return false;
    }
    const double target = static_cast<double>(g_pPreview->m_rtStop) * pos * 0.0016666666666666668;
    g_pPreview->SeekTo(static_cast<int64_t>(target));
    // The thumb stays where the user left it; the next report moves it.
    return true;
}

void ConverterDialog::OnPositionReport() {
    // The thumb belongs to the mouse while the user holds it.
    if (m_bSliderDragging == 1) {
        return;
    }
    if (g_pPreview == nullptr) {
        m_strInfo.clear();
        m_stInfo->setText(m_strInfo);
        return;
    }
    const int64_t cur = g_pPreview->m_rtCurrent;
    const int64_t stop = g_pPreview->m_rtStop;
    std::string name;
    GetDisplayName(m_szMediaFile.toStdString(), name);
    // The total is the probed duration, which the marks were measured against.
    m_strInfo = QString::fromStdString(
        MediaTime::InfoLine(name, MediaTime::WholeSeconds(cur), m_nDurationSec));
    m_stInfo->setText(m_strInfo);
    m_nSliderPos = 0;
    if (stop != 0) {
        // A position far past a tiny stop position must not overflow the conversion.
        const double share = static_cast<double>(cur) / static_cast<double>(stop) * 600.0;
        m_nSliderPos = static_cast<int>(std::clamp(share, -2147483648.0, 2147483647.0));
    }
    m_slider->setValue(m_nSliderPos);
}

void ConverterDialog::OnClosePreview() {
    ClosePreview();
    m_strInfo.clear();
    m_rtStart = 0;
    m_rtEnd = 0;
    m_szMediaFile.clear();
    m_stStartTime->setText(kZeroClock);
    m_stEndTime->setText(kZeroClock);
    DisableMediaControls();
    UpdateData(false);
}
