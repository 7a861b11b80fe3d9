#include "ConverterApp.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>

#include "ConverterSession.h"
#include "FfmpegAudioSource.h"
#include "LibavLimits.h"
#include "LibraryLog.h"
#include "MpvPlaybackEngine.h"
#include "QFileDialogChoosers.h"
#include "QMessageBoxMessages.h"
#include "ThreadedMediaProber.h"

namespace {

QString NameFromArguments(int argc, char** argv) {
    if (argc > 0 && argv[0] != nullptr) {
        return ConverterApp::ApplicationNameFor(QString::fromLocal8Bit(argv[0]));
    }
    return QString();
}

}  // namespace

ConverterApp::ConverterApp(int& argc, char** argv)
    : QApplication(argc, argv), m_settings(NameFromArguments(argc, argv)) {
    // Before any file is probed or played: a hostile file then fails at once instead of
    // freezing the dialog while FFmpeg fills gigabytes.
    LibavLimits::Apply();
    // The name the program was started under, which also names its settings.
    setApplicationName(m_settings.Application());
    setOrganizationName(ProfileSettings::kOrganisation);
    m_strStartFile = MediaFileArgument(arguments());
}

QString ConverterApp::MediaFileArgument(const QStringList& arguments) {
    if (arguments.size() < 2 || arguments.at(1).isEmpty()) {
        return QString();
    }
    return QFileInfo(arguments.at(1)).absoluteFilePath();
}

QString ConverterApp::ApplicationNameFor(const QString& executablePath) {
    return QFileInfo(executablePath).completeBaseName();
}

bool ConverterApp::InitInstance() {
    QMessageBoxMessages messages;
    QFileDialogChoosers choosers;
    const AudioSourceFactory sources = FfmpegAudioSource::Factory();
    ThreadedMediaProber prober(sources);
    // The display's best video output, and the libraries' messages as ORVANE_LOG asks.
    MpvPlaybackEngine::Options engineOptions;
    engineOptions.video = MpvPlaybackEngine::ChooseVideoOutput();
    engineOptions.extra = LibraryLog::MpvOptions();
    const PlaybackEngineFactory engines = [engineOptions] {
        return std::make_unique<MpvPlaybackEngine>(engineOptions);
    };
    const ConverterServices services{
        m_settings,          messages, choosers, prober, engines, sources, m_bSliderDragging,
        /*spareEngine=*/true};
    ConverterSession session(services);
    // Shown rather than exec()'d: an application-modal dialog would block the
    // worker's message boxes and the preview window, which have no owner.
    QEventLoop loop;
    connect(&session, &ConverterSession::finished, &loop, &QEventLoop::quit);
    session.Show();
    if (!m_strStartFile.isEmpty()) {
        // Once the dialog is on screen, so the preview opens beside it and any box has
        // the dialog to sit on.
        QTimer::singleShot(0, &session,
                           [&session, file = m_strStartFile] { session.OpenMediaFile(file); });
    }
    loop.exec();
    return false;
}
