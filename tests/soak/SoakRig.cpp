#include "SoakRig.h"

#include <malloc.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "AboutDialog.h"
#include "ConversionController.h"
#include "ConverterDialog.h"
#include "ConverterSession.h"
#include "FfmpegAudioSource.h"
#include "HelpLauncher.h"
#include "HelpWindow.h"
#include "MarkTimeEdit.h"
#include "MediaController.h"
#include "MpvPlaybackEngine.h"
#include "PanelController.h"
#include "PositionSlider.h"
#include "PrecisionPanel.h"
#include "PreviewPlayer.h"
#include "PreviewWindow.h"
#include "TestMedia.h"
#include "ThreadedMediaProber.h"
#include "WaitFor.h"
#include "WavFile.h"

namespace {

using Kind = SoakAction::Kind;
using Clock = std::chrono::steady_clock;
using D = ConverterDialog;

constexpr const char* kApp = "orvane-soak-tests";
constexpr int kSettleMs = 5000;
constexpr int64_t kPerMs = 10'000;
constexpr int64_t kPerSecond = 10'000'000;
constexpr int64_t kAnyEnd = -2;
const QString kMarksReversed = "Error: The Start Time is bigger than the End Time!";
const QString kProbeFailed =
    "Error: Cannot open the file and get the total time. You need to install appropriate "
    "decoders.\nOr the file is corrupt.";

// What the crash handler prints: the run and the step under way.
char g_crashNote[512] = "";
constexpr int kFatalSignals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};
struct sigaction g_previous[std::size(kFatalSignals)];

void OnFatalSignal(int signal) {
    const char prefix[] = "\n[ soak ] died during ";
    [[maybe_unused]] ssize_t w = write(STDERR_FILENO, prefix, sizeof prefix - 1);
    w = write(STDERR_FILENO, g_crashNote, strnlen(g_crashNote, sizeof g_crashNote));
    w = write(STDERR_FILENO, "\n", 1);
    // The handler that was there before (a sanitizer's report, or the default) takes over:
    // a fault comes again when this returns, a raised signal is raised once more.
    for (size_t i = 0; i < std::size(kFatalSignals); ++i) {
        if (kFatalSignals[i] == signal) {
            sigaction(signal, &g_previous[i], nullptr);
        }
    }
    if (signal == SIGABRT) {
        std::raise(signal);
    }
}

QString ClockText(int seconds) {
    return QString::asprintf("%02d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool IsFile(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
}

// The folder the outputs go to, beside the media.
QString OutputDir() {
    return QFileInfo(SoakRig::Files().front().path).absolutePath() + "/out";
}

// The save chooser's answers and the paths they become.
const std::pair<QString, QString> kBrowsed[] = {
    {"", ""}, {"browsed", "browsed.wav"}, {"Out Two.mp3", "Out Two.wav"}};

// H:MM:SS.mmm, as the panel shows a time.
QString TimeText(int64_t rt) {
    const long long ms = rt / kPerMs;
    return QString::asprintf("%lld:%02lld:%02lld.%03lld", ms / 3'600'000, ms / 60'000 % 60,
                             ms / 1000 % 60, ms % 1000);
}

QString MarkText(int64_t rt) {
    return ClockText(static_cast<int>(rt / kPerSecond));
}

QString OutsideBox(int64_t rt, int64_t duration) {
    return "Error: " + TimeText(rt) + " is outside the file. A mark can be from " + TimeText(0) +
           " to " + TimeText(duration) + ".";
}

QString JunkBox(const QString& text) {
    return "Error: " + text +
           " is not a time. Type it as hours:minutes:seconds.milliseconds, for example "
           "0:01:30.250.";
}

std::string Str(const QString& text) {
    return text.toStdString();
}

// A box the program may show during the soak, whatever the order of events.
bool KnownBox(const QString& text) {
    if (text == kProbeFailed || text == kMarksReversed ||
        (text.startsWith("Error: ") &&
         (text.contains(" is outside the file. ") || text.contains(" is not a time. "))) ||
        (text.startsWith("Warning: ") && text.endsWith(" exists. Do you want to replace it?")) ||
        text == "Error: Can not open " + OutputDir() + "/no such folder/x.wav") {
        return true;
    }
    for (const SoakFile& file : SoakRig::Files()) {
        if (!file.path.isEmpty() && text.startsWith("Error: Can not convert " + file.path + ": ")) {
            return true;
        }
    }
    return false;
}

}  // namespace

void SoakRig::InstallCrashNote() {
    struct sigaction note = {};
    note.sa_handler = OnFatalSignal;
    sigemptyset(&note.sa_mask);
    for (size_t i = 0; i < std::size(kFatalSignals); ++i) {
        sigaction(kFatalSignals[i], &note, &g_previous[i]);
    }
}

const std::vector<SoakFile>& SoakRig::Files() {
    static TestMedia media;
    static const std::vector<SoakFile> files = [] {
        const auto make = [](const char* name, const std::string& args) {
            return QString::fromStdString(media.Make(name, args));
        };
        const std::string video = "-f lavfi -i testsrc=d=";
        std::vector<SoakFile> f;
        f.push_back(
            {"mpg",
             make("Clip.mpg", video + "6.5:s=160x120:r=25 -f lavfi -i sine=f=440:r=44100:d=6.5 "
                                      "-ac 2 -c:v mpeg1video -c:a mp2"),
             6504, true, true, true, 2, 44100, 16, 25});
        f.push_back(
            {"mp4",
             make("clip.mp4", video + "5.5:s=160x120:r=25 -f lavfi -i sine=f=660:r=48000:d=5.5 "
                                      "-ac 2 -c:v mpeg4 -c:a aac"),
             5520, true, true, true, 2, 48000, 16, 25});
        f.push_back({"mkv",
                     make("Matroska clip.mkv",
                          video + "4.5:s=96x72:r=15 -f lavfi -i "
                                  "sine=f=330:r=22050:d=4.5 -c:v mpeg4 -c:a libmp3lame"),
                     4584, true, true, true, 1, 22050, 16, 15});
        f.push_back(
            {"wav", make("tone24.wav", "-f lavfi -i sine=f=550:r=48000:d=4.5 -ac 2 -c:a pcm_s24le"),
             4500, true, false, true, 2, 48000, 24});
        f.push_back({"mp3",
                     make("tone.mp3", "-f lavfi -i sine=f=770:r=44100:d=7.5 -c:a libmp3lame"), 7549,
                     true, false, true, 1, 44100, 16});
        // Long enough that a conversion is still running when the next step comes.
        f.push_back(
            {"long",
             make("long.mpg", video + "40.5:s=64x48:r=25 -f lavfi -i sine=f=440:r=48000:d=40.5 "
                                      "-ac 2 -c:v mpeg1video -c:a mp2"),
             40512, true, true, true, 2, 48000, 16, 25});
        f.push_back({"noaudio", make("silent.mp4", video + "3.5:s=96x72:r=15 -c:v mpeg4"), 3534,
                     true, true, false, 0, 0, 0, 15});
        // A copy of the first that a step deletes, open or not.
        SoakFile doomed = f[0];
        doomed.key = "doomed";
        doomed.path = QString::fromStdString(media.Path("doomed.mpg"));
        f.push_back(doomed);
        // Bytes that are no media, and an MP4 cut before its index.
        const QString corrupt = QString::fromStdString(media.Path("broken.mpg"));
        QByteArray noise(65536, '\0');
        uint32_t x = 12345;
        for (char& c : noise) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 24);
        }
        QFile out(corrupt);
        if (out.open(QIODevice::WriteOnly)) {
            out.write(noise);
        }
        out.close();
        const QString cut = QString::fromStdString(media.Path("cut.mp4"));
        QFile cutFile(cut);
        if (cutFile.open(QIODevice::WriteOnly)) {
            cutFile.write(Bytes(f[1].path).left(40000));
        }
        cutFile.close();
        f.push_back({"corrupt", corrupt, 0, false});
        f.push_back({"truncated", cut, 0, false});
        f.push_back({"missing", QString::fromStdString(media.Path("gone.mpg")), 0, false});
        f.push_back({"cancel", QString(), 0, false});
        // Two tracks of different shapes: the one chosen decides the WAV's.
        f.push_back({"tracks",
                     make("Two tracks.mka",
                          "-f lavfi -i 'aevalsrc=0.3*sin(440*2*PI*t)|0.3*sin(660*2*PI*t):s=48000:"
                          "d=5' -f lavfi -i sine=f=880:r=22050:d=5 -map 0 -map 1 -c:a pcm_s16le"),
                     5000, true, false, true, 2, 48000, 16, 0, 1, 22050});
        return f;
    }();
    return files;
}

QString SoakRig::OutputPath(int index) {
    switch (index) {
        case 0:
            return OutputDir() + "/out.wav";
        case 1:
            return OutputDir() + "/Out Two.wav";
        case 2:
            return OutputDir() + "/precious.wav";
        case 3:
            return OutputDir() + "/no such folder/x.wav";
        default:
            return DefaultOutput();
    }
}

QString SoakRig::DefaultOutput() {
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + "/output.wav";
}

SoakRig::SoakRig() : m_settings(kApp) {
    HelpLauncher::SetUrlOpener([this](const QUrl& url) {
        m_urls.push_back(url);
        return m_browser;
    });
}

SoakRig::~SoakRig() {
    EndSession();
    HelpLauncher::SetUrlOpener({});
}

SoakRig::Result SoakRig::Run(const SoakActions& actions, const std::string& label) {
    Files();
    QSettings(QSettings::IniFormat, QSettings::UserScope, ProfileSettings::kOrganisation, kApp)
        .clear();
    std::filesystem::remove_all(Str(OutputDir()));
    QDir().mkpath(OutputDir());
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::MusicLocation));
    QFile::remove(DefaultOutput());
    QFile::remove(Files()[7].path);
    // A file that is no WAV: replaced only after a yes.
    QFile precious(OutputPath(2));
    if (precious.open(QIODevice::WriteOnly)) {
        precious.write("the user's own file, not to be lost\n");
    }
    precious.close();
    m_kept.clear();
    m_kept.emplace(OutputPath(2), Bytes(OutputPath(2)));
    m_lastWritten.clear();
    m_panelOpen = false;
    m_format = 0;
    m_failure.clear();
    m_stats = Stats{};
    m_lastState.clear();

    // A modal window the steps did not expect would hold the run: it is closed, and reported.
    QTimer watchdog;
    Clock::time_point modalSince = Clock::now();
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            modalSince = Clock::now();
        } else if (Clock::now() - modalSince > std::chrono::milliseconds(kSettleMs)) {
            Fail("a modal window stayed up: " + Str(modal->windowTitle()));
            modal->close();
        }
    });
    watchdog.start(100);
    Result result;
    StartSession();
    for (size_t i = 0; i < actions.size() && m_failure.empty(); ++i) {
        const SoakAction& action = actions[i];
        std::snprintf(g_crashNote, sizeof g_crashNote, "%s, step %zu: %s", label.c_str(), i + 1,
                      action.Text().c_str());
        if (std::getenv("ORVANE_SOAK_VERBOSE") != nullptr) {
            std::printf("[ soak ] %zu %s\n", i + 1, action.Text().c_str());
            std::fflush(stdout);
        }
        if (m_session->PanelWork().IsComputingWaveform()) {
            ++m_stats.duringWaveform;
        }
        Perform(action);
        ++m_stats.actions;
        // Closing checks itself; the steps that follow go to a new dialog.
        if (m_failure.empty() && !action.hasty && action.kind != Kind::Quit) {
            Settle(action);
        }
        if (m_failure.empty() && action.kind == Kind::Quit) {
            StartSession();
        }
        if (!m_failure.empty()) {
            result.failedAt = static_cast<int>(i);
        }
        if (m_stats.actions % 1000 == 0) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
            const struct mallinfo2 info = mallinfo2();
            long resident = 0;
            std::ifstream status("/proc/self/status");
            for (std::string line; std::getline(status, line);) {
                if (line.rfind("VmRSS:", 0) == 0) {
                    resident = std::stol(line.substr(6));
                }
            }
            m_stats.memory.push_back({m_stats.actions,
                                      static_cast<long>((info.uordblks + info.hblkhd) / 1024),
                                      resident});
#endif
        }
    }
    if (m_failure.empty()) {
        // Every run ends with the dialog closed, so that the stored path is checked.
        SoakAction quit;
        quit.kind = Kind::Quit;
        quit.a = 1;
        DoQuit(quit);
        if (!m_failure.empty()) {
            result.failedAt = static_cast<int>(actions.size());
        }
    }
    EndSession();
    result.failure = m_failure;
    result.stats = m_stats;
    return result;
}

void SoakRig::StartSession() {
    EndSession();
    m_prober = std::make_unique<ThreadedMediaProber>(FfmpegAudioSource::Factory());
    const ConverterServices services{m_settings,
                                     m_messages,
                                     m_choosers,
                                     *m_prober,
                                     [] {
                                         MpvPlaybackEngine::Options options;
                                         options.video = MpvPlaybackEngine::VideoOutput::None;
                                         options.audioOutput = "null";
                                         return std::make_unique<MpvPlaybackEngine>(options);
                                     },
                                     FfmpegAudioSource::Factory(),
                                     m_dragging};
    m_messages.records.clear();
    m_choosers.openCalls.clear();
    m_choosers.saveCalls.clear();
    m_session = std::make_unique<ConverterSession>(services);
    QObject::connect(m_session.get(), &ConverterSession::finished, [this] { m_finished = true; });
    QObject::connect(&m_session->Media(), &MediaController::mediaChanged,
                     [this] { ++m_mediaChanges; });
    QObject::connect(&m_session->Conversion(), &ConversionController::conversionEnded,
                     [this](const JobOutcome& outcome) { OnConversionEnded(outcome); });
    m_finished = false;
    m_closing = false;
    m_session->Show();
    ++m_stats.sessions;
    m_model = Model{};
    // The path the last conversion wrote to is offered again; without one, the default.
    m_model.output = m_lastWritten.isEmpty() ? DefaultOutput() : m_lastWritten;
    const std::vector<std::string> problems = Check();
    if (!problems.empty()) {
        Fail("a new dialog does not start as expected: " + problems.front());
    }
}

void SoakRig::EndSession() {
    m_session.reset();
    m_prober.reset();
    m_job.reset();
}

void SoakRig::Fail(const std::string& what) {
    if (m_failure.empty()) {
        m_failure = what;
    }
}

QWidget* SoakRig::Control(int id) const {
    return m_session->Dialog().Control(id);
}

PreviewPlayer* SoakRig::Player() const {
    return m_session->Preview().IsOpen() ? &m_session->Preview() : nullptr;
}

PreviewWindow* SoakRig::VisibleWindow() const {
    PreviewWindow* window = Player() != nullptr ? Player()->Window() : nullptr;
    return window != nullptr && window->isVisible() ? window : nullptr;
}

void SoakRig::Click(int id) {
    QWidget* control = Control(id);
    // A disabled control takes no click; the checks see that it is disabled when it should be.
    if (control->isEnabled()) {
        QTest::mouseClick(control, Qt::LeftButton);
    }
}

const SoakFile* SoakRig::FileAt(const QString& path) const {
    for (const SoakFile& file : Files()) {
        if (!path.isEmpty() && file.path == path) {
            return &file;
        }
    }
    return nullptr;
}

int64_t SoakRig::ExpectedPositionMs() const {
    const Model& m = m_model;
    if (m.media < 0 || !m.positionKnown || m.looping || m.rangeToMs == kAnyEnd) {
        return -1;
    }
    if (m.preview != PlayState::Running) {
        return m.positionMs;
    }
    const int64_t end =
        m.rangeToMs >= 0 ? m.rangeToMs : Files()[static_cast<size_t>(m.media)].lengthMs;
    const int64_t now = m.playedFromMs + std::chrono::duration_cast<std::chrono::milliseconds>(
                                             Clock::now() - m.runningSince)
                                             .count();
    // Near its end the part may have ended, and the clip rewound.
    return now < end - 1000 ? now : -1;
}

void SoakRig::Perform(const SoakAction& action) {
    if (action.hasty) {
        m_model.exact = false;
    }
    // The clip may have ended since the last check, and the step acts on a stopped clip.
    NoteEndOfPlay(m_session->Preview().State());
    switch (action.kind) {
        case Kind::Open:
        case Kind::Drop:
            DoOpen(action);
            break;
        case Kind::Delete:
            QFile::remove(Files()[7].path);
            break;
        case Kind::Play:
        case Kind::Pause:
        case Kind::Stop:
            DoTransport(action);
            break;
        case Kind::Drag:
        case Kind::Groove:
            DoSlider(action);
            break;
        case Kind::StartTime:
        case Kind::EndTime:
            DoMark(action.kind == Kind::StartTime, false);
            break;
        case Kind::MarkKey:
            DoMark(action.a == 0, true);
            break;
        case Kind::More:
        case Kind::TypeMark:
        case Kind::JunkMark:
        case Kind::Nudge:
        case Kind::Audition:
        case Kind::Track:
        case Kind::Format:
            DoPanel(action);
            break;
        case Kind::Output: {
            auto* edit = static_cast<QLineEdit*>(Control(D::IDC_OUTPUT_FILE));
            if (edit->isEnabled()) {
                edit->selectAll();
                QTest::keyClicks(edit, OutputPath(action.a));
                m_model.output = OutputPath(action.a);
            }
            break;
        }
        case Kind::Browse: {
            m_choosers.saveAnswer =
                action.a == 0 ? QString() : OutputDir() + "/" + kBrowsed[action.a].first;
            if (Control(D::IDC_BROWSE)->isEnabled() && action.a != 0) {
                m_model.output = OutputDir() + "/" + kBrowsed[action.a].second;
            }
            Click(D::IDC_BROWSE);
            break;
        }
        case Kind::Convert:
            DoConvert(action);
            break;
        case Kind::Wait:
            ProcessEventsFor(action.a);
            break;
        case Kind::ClosePreview:
        case Kind::Menu:
        case Kind::Escape:
        case Kind::ClickPreview:
            DoPreview(action);
            break;
        case Kind::EnterInOutput: {
            auto* edit = Control(D::IDC_OUTPUT_FILE);
            if (edit->isEnabled()) {
                edit->setFocus();
                QTest::keyClick(edit, Qt::Key_Return);
            }
            break;
        }
        case Kind::Help:
        case Kind::Homepage:
        case Kind::About:
            DoHelpAndAbout(action);
            break;
        case Kind::Quit:
            DoQuit(action);
            break;
    }
}

void SoakRig::DoOpen(const SoakAction& action) {
    const SoakFile& file = Files().at(static_cast<size_t>(action.a));
    if (file.key == "doomed" && !QFile::exists(file.path)) {
        QFile::copy(Files()[0].path, file.path);
    }
    if (action.kind == Kind::Drop) {
        if (file.path.isEmpty()) {
            return;
        }
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file.path)});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&m_session->Dialog(), &enter);
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&m_session->Dialog(), &drop);
        if (!enter.isAccepted() || !drop.isAccepted()) {
            Fail("the dialog did not take a dropped media file");
        }
    } else {
        m_choosers.openAnswer = file.path;
        Click(D::IDC_OPEN_MEDIA);
    }
    if (file.path.isEmpty()) {
        return;
    }
    if (!file.opens) {
        m_model.expected.push_back(kProbeFailed);
        return;
    }
    ++m_stats.opened;
    // The end mark and the duration are known once the probe has answered.
    m_model.media = action.a;
    m_model.start = 0;
    m_model.end = m_model.duration = -1;
    m_model.preview = PlayState::Stopped;
    m_model.fullScreen = false;
    m_model.positionMs = 0;
    m_model.positionKnown = true;
    m_model.looping = false;
    m_model.track = 0;
    m_model.rangeToMs = -1;
}

void SoakRig::DoTransport(const SoakAction& action) {
    const int id = action.kind == Kind::Play    ? D::IDC_PLAY
                   : action.kind == Kind::Pause ? D::IDC_PAUSE
                                                : D::IDC_STOP;
    if (Control(id)->isEnabled()) {
        PlayInModel(action.kind == Kind::Play    ? PlayState::Running
                    : action.kind == Kind::Pause ? PlayState::Paused
                                                 : PlayState::Stopped);
    }
    Click(id);
}

void SoakRig::PlayInModel(PlayState next) {
    Model& m = m_model;
    if (m.media < 0) {
        return;
    }
    const int64_t length = Files()[static_cast<size_t>(m.media)].lengthMs;
    const int64_t ran =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m.runningSince)
            .count();
    if (next == PlayState::Running &&
        (m.preview == PlayState::Stopped || m.preview == PlayState::Paused)) {
        m.playedFromMs = m.positionMs;
        m.runningSince = Clock::now();
        m.preview = PlayState::Running;
    } else if (next == PlayState::Paused && m.preview == PlayState::Running) {
        m.positionMs = std::min(length, m.playedFromMs + ran);
        m.preview = PlayState::Paused;
    } else if (next == PlayState::Stopped &&
               (m.preview == PlayState::Running || m.preview == PlayState::Paused)) {
        m.positionMs = 0;
        m.preview = PlayState::Stopped;
    }
    // Stop ends an audition, and with it the loop.
    if (next == PlayState::Stopped) {
        m.looping = false;
        m.rangeToMs = -1;
        m.positionKnown = true;
    }
}

void SoakRig::NoteEndOfPlay(PlayState state) {
    Model& m = m_model;
    if (m.preview != PlayState::Running || m.media < 0) {
        return;
    }
    const int64_t ran =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m.runningSince)
            .count();
    if (state == PlayState::Paused && m.rangeToMs != -1) {
        // An audition holds at the end of its part.
        if (m.rangeToMs == kAnyEnd || ran >= m.rangeToMs - m.playedFromMs - 1000) {
            m.preview = PlayState::Paused;
            m.positionMs = std::max<int64_t>(m.rangeToMs, 0);
            m.positionKnown = m.rangeToMs >= 0;
            m.rangeToMs = -1;
        }
    } else if (state == PlayState::Stopped) {
        // The clip may have played to its end, which stops it.
        if (ran >= Files()[static_cast<size_t>(m.media)].lengthMs - m.playedFromMs - 1000) {
            m.preview = PlayState::Stopped;
            m.positionMs = 0;
            m.positionKnown = true;
        }
    }
}

void SoakRig::SeekInModel(int64_t ms) {
    // A seek ends an audition: from there the clip plays on as usual.
    m_model.looping = false;
    m_model.rangeToMs = -1;
    m_model.positionMs = ms;
    m_model.positionKnown = true;
    m_model.playedFromMs = ms;
    m_model.runningSince = Clock::now();
}

void SoakRig::DoSlider(const SoakAction& action) {
    auto* slider = static_cast<PositionSlider*>(Control(D::IDC_SLIDER));
    if (!slider->isEnabled()) {
        return;
    }
    const auto point = [slider](int pos) {
        const int handle = slider->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, slider);
        const int x = QStyle::sliderPositionFromValue(0, PositionSlider::kRange, pos,
                                                      slider->width() - handle);
        return QPoint(x + handle / 2, slider->height() / 2);
    };
    if (action.kind == Kind::Drag) {
        QTest::mousePress(slider, Qt::LeftButton, {}, point(slider->value()));
        if (m_dragging != 1) {
            Fail("pressing the slider's thumb did not hold it");
        }
        QTest::mouseMove(slider, point((slider->value() + action.a) / 2));
        QTest::mouseMove(slider, point(action.a));
        const int held = slider->value();
        const int opened = m_mediaChanges;
        ProcessEventsFor(action.b);
        // Reports leave the thumb to the mouse; a file that opens meanwhile (the same one
        // again, too) starts it at 0.
        if (slider->value() != held && m_mediaChanges == opened) {
            Fail("the thumb moved from " + std::to_string(held) + " to " +
                 std::to_string(slider->value()) + " while the user held it");
        }
        // The clip may have played to its end while the thumb was held; the seek then
        // moves a stopped clip.
        NoteEndOfPlay(m_session->Preview().State());
        QTest::mouseRelease(slider, Qt::LeftButton, {}, point(action.a));
    } else {
        QTest::mouseClick(slider, Qt::LeftButton, {}, point(action.a));
    }
    if (m_dragging != 0) {
        Fail("the slider stays held after its button was let go");
    }
    if (m_model.media >= 0) {
        SeekInModel(Files()[static_cast<size_t>(m_model.media)].lengthMs * slider->value() /
                    PositionSlider::kRange);
    }
}

void SoakRig::DoMark(bool start, bool key) {
    const int id = start ? D::IDC_START_TIME : D::IDC_END_TIME;
    if (!Control(id)->isEnabled()) {
        return;
    }
    if (key) {
        PressKey(start ? Qt::Key_I : Qt::Key_O);
    } else {
        Click(id);
    }
    m_model.endActive = !start;
    if (!m_model.exact) {
        return;
    }
    // The mark is the player's position at the click, whatever the info line last showed.
    const MediaController& media = m_session->Media();
    const int64_t mark = start ? media.StartMark() : media.EndMark();
    const int64_t expected = ExpectedPositionMs();
    if (expected >= 0 && std::abs(mark / kPerMs - expected) > 1500) {
        Fail(std::string(start ? "Start" : "End") + " Time gave " + Str(TimeText(mark)) +
             " where the preview should be at " + Str(TimeText(expected * kPerMs)));
    }
    SetMarkInModel(!start, mark);
}

void SoakRig::PressKey(Qt::Key key) {
    // The user brings the dialog to the front, clicks away from any text field, and types.
    ConverterDialog& dialog = m_session->Dialog();
    dialog.activateWindow();
    if (!QTest::qWaitForWindowActive(&dialog, kSettleMs)) {
        Fail("the dialog did not become the active window");
    }
    Control(D::IDC_SLIDER)->setFocus();
    QTest::keyClick(Control(D::IDC_SLIDER), key);
}

void SoakRig::SetMarkInModel(bool end, int64_t rt) {
    (end ? m_model.end : m_model.start) = rt;
    m_model.endActive = end;
}

void SoakRig::TypeInto(QWidget* field, const QString& text) {
    field->setFocus();
    static_cast<MarkTimeEdit*>(field)->selectAll();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

void SoakRig::DoPanel(const SoakAction& action) {
    ConverterDialog& dialog = m_session->Dialog();
    PrecisionPanel* panel = dialog.Panel();
    Model& m = m_model;
    if (action.kind == Kind::More) {
        QTest::mouseClick(dialog.findChild<QPushButton*>("moreButton"), Qt::LeftButton);
        m_panelOpen = !m_panelOpen;
        return;
    }
    // The panel's controls are out of reach while it is closed.
    if (!dialog.IsPanelOpen()) {
        return;
    }
    const bool known = m.exact && m.media >= 0 && m.duration >= 0;
    switch (action.kind) {
        case Kind::TypeMark:
        case Kind::JunkMark: {
            QWidget* field = panel->MarkField(action.a == 0 ? Mark::Start : Mark::End);
            if (!field->isEnabled()) {
                return;
            }
            if (action.kind == Kind::JunkMark) {
                TypeInto(field, "1:2:3:4");
                m.expected.push_back(JunkBox("1:2:3:4"));
                return;
            }
            TypeInto(field, QString::asprintf("%d.%03d", action.b / 1000, action.b % 1000));
            const int64_t rt = action.b * kPerMs;
            if (known && rt > m.duration) {
                m.expected.push_back(OutsideBox(rt, m.duration));
                m.endActive = action.a == 1;
            } else if (known) {
                SetMarkInModel(action.a == 1, rt);
            }
            return;
        }
        case Kind::Nudge: {
            if (!Control(D::IDC_START_TIME)->isEnabled()) {
                return;
            }
            static const char* const kButtons[] = {"startBackButton", "startForwardButton",
                                                   "endBackButton", "endForwardButton"};
            const int steps = action.a % 2 == 0 ? -1 : 1;
            if (action.a < 4) {
                QTest::mouseClick(panel->findChild<QPushButton*>(kButtons[action.a]),
                                  Qt::LeftButton);
                m.endActive = action.a >= 2;
            } else {
                PressKey(steps < 0 ? Qt::Key_BracketLeft : Qt::Key_BracketRight);
            }
            if (known) {
                // A picture frame, or 10 ms without a picture; never outside the file.
                const int fps = Files()[static_cast<size_t>(m.media)].fps;
                const int64_t step = fps > 0 ? (kPerSecond + fps / 2) / fps : 10 * kPerMs;
                int64_t& mark = m.endActive ? m.end : m.start;
                mark = std::clamp<int64_t>(mark + steps * step, 0, m.duration);
            }
            return;
        }
        case Kind::Audition:
            DoAudition(action.a);
            return;
        case Kind::Track:
        case Kind::Format: {
            auto* box =
                panel->findChild<QComboBox*>(action.kind == Kind::Track ? "trackBox" : "formatBox");
            if (!box->isEnabled()) {
                return;
            }
            box->setFocus();
            QTest::keyClick(box, Qt::Key_Home);
            for (int i = 0; i < action.a; ++i) {
                QTest::keyClick(box, Qt::Key_Down);
            }
            (action.kind == Kind::Track ? m.track : m_format) = action.a;
            return;
        }
        default:
            return;
    }
}

void SoakRig::DoAudition(int which) {
    static const char* const kButtons[] = {"playSelectionButton", "loopButton", "playStartButton",
                                           "playEndButton"};
    auto* button = m_session->Dialog().Panel()->findChild<QPushButton*>(kButtons[which]);
    if (!button->isEnabled()) {
        return;
    }
    const bool loopOff = which == 1 && button->isChecked();
    QTest::mouseClick(button, Qt::LeftButton);
    Model& m = m_model;
    if (!m.exact || m.media < 0 || m.duration < 0) {
        return;
    }
    if (loopOff) {
        // The pass under way plays to the end of the selection and holds there.
        m.looping = false;
        if (m.preview != PlayState::Stopped) {
            m.preview = PlayState::Running;
            m.rangeToMs = kAnyEnd;
        }
        return;
    }
    if (m.start >= m.end) {
        m.expected.push_back(kMarksReversed);
        m.looping = false;
        return;
    }
    constexpr int64_t kEdge = 2 * kPerSecond;
    const int64_t from = which == 3 ? std::max(m.end - kEdge, m.start) : m.start;
    const int64_t to = which == 2 ? std::min(m.start + kEdge, m.end) : m.end;
    m.preview = PlayState::Running;
    m.looping = which == 1;
    m.rangeToMs = m.looping ? -1 : to / kPerMs;
    m.positionMs = m.playedFromMs = from / kPerMs;
    m.positionKnown = true;
    m.runningSince = Clock::now();
}

void SoakRig::DoConvert(const SoakAction& action) {
    if (!Control(D::IDC_CONVERT)->isEnabled()) {
        return;
    }
    ConversionController& conversion = m_session->Conversion();
    const MediaController& media = m_session->Media();
    const bool wasActive = conversion.IsActive();
    // The request as the user sees it when pressing the button.
    Job job;
    job.media = media.MediaPath();
    job.output = m_session->Dialog().OutputPath();
    job.start = media.StartMark();
    job.end = media.EndMark();
    // The track and format the panel shows, whether or not it is open.
    job.track = m_session->Dialog().Panel()->findChild<QComboBox*>("trackBox")->currentIndex();
    job.format = m_session->Dialog().Panel()->findChild<QComboBox*>("formatBox")->currentIndex();
    const SoakFile* file = FileAt(job.media);
    job.file = file != nullptr ? static_cast<int>(file - Files().data()) : -1;
    job.replacing = IsFile(job.output);
    job.before = job.replacing ? Bytes(job.output) : QByteArray();
    if (!QFileInfo(job.media).exists()) {
        job.expect = Job::Expect::MediaGone;
    } else if (file == nullptr || !file->audio) {
        job.expect = Job::Expect::NoAudio;
    } else if (!QFileInfo(QFileInfo(job.output).absolutePath()).isDir()) {
        job.expect = Job::Expect::OutputFails;
    }

    m_messages.answer = action.a == 1 ? UserMessages::Answer::Yes : UserMessages::Answer::No;
    if (action.b == 1) {
        m_messages.meanwhile = [this] {
            if (PreviewWindow* window = VisibleWindow()) {
                window->close();
                ClosePreviewInModel();
            }
        };
    } else if (action.b == 2) {
        m_messages.meanwhile = [this] {
            if (PreviewWindow* window = VisibleWindow()) {
                window->findChild<QAction*>("fullScreenAction")->trigger();
                m_model.fullScreen = !m_model.fullScreen;
            }
        };
    } else if (action.b == 3) {
        m_messages.meanwhile = [] { ProcessEventsFor(300); };
    }
    const bool expectQuestion =
        !wasActive && !job.media.isEmpty() && job.start < job.end && job.replacing;
    if (expectQuestion) {
        m_model.expected.push_back("Warning: " + job.output +
                                   " exists. Do you want to replace it?");
    }
    Click(D::IDC_CONVERT);
    m_messages.meanwhile = {};

    if (wasActive) {
        if (m_job) {
            m_job->stopAsked = true;
        }
        return;
    }
    const bool started = conversion.IsActive();
    bool expectStart =
        !job.media.isEmpty() && job.start < job.end && (!job.replacing || action.a == 1);
    if (!job.media.isEmpty() && job.start >= job.end) {
        m_model.expected.push_back("Error: The Start Time is bigger than the End Time!");
    }
    if (job.replacing && action.a == 0 && !started) {
        m_kept.emplace(job.output, job.before);
    }
    if (started != expectStart) {
        Fail(started ? "a conversion started that should not have"
                     : "Convert started no conversion");
        return;
    }
    if (started) {
        m_job = job;
        ++m_stats.conversions;
    }
}

void SoakRig::ClosePreviewInModel() {
    m_model.media = -1;
    m_model.start = m_model.end = m_model.duration = 0;
    m_model.preview = PlayState::Closed;
    m_model.fullScreen = false;
    m_model.looping = false;
    m_model.track = 0;
    m_model.rangeToMs = -1;
}

void SoakRig::DoPreview(const SoakAction& action) {
    PreviewWindow* window = VisibleWindow();
    if (window == nullptr) {
        return;
    }
    const QPoint middle = window->rect().center();
    switch (action.kind) {
        case Kind::ClosePreview:
            window->close();
            ClosePreviewInModel();
            return;
        case Kind::Escape:
            QTest::keyClick(window, Qt::Key_Escape);
            m_model.fullScreen = false;
            return;
        case Kind::ClickPreview:
            QTest::mouseClick(window, Qt::LeftButton, {}, middle);
            return;
        default:
            break;
    }
    // The menu opens on a right click, greyed for the player's state; the step then picks
    // its item if it can be picked.
    static const char* const kItems[] = {"fullScreenAction", "normalSizeAction", "playAction",
                                         "pauseAction",      "stopAction",       "closeAction"};
    QTest::mouseClick(window, Qt::RightButton, {}, middle);
    auto* menu = window->findChild<QMenu*>();
    auto* item = window->findChild<QAction*>(kItems[action.a]);
    if (menu == nullptr || item == nullptr || !menu->isVisible()) {
        Fail("the preview's menu did not open");
        return;
    }
    const PlayState state = m_model.preview;
    const bool enabled[] = {true,
                            true,
                            state != PlayState::Running,
                            state == PlayState::Running,
                            state != PlayState::Stopped,
                            true};
    if (m_model.exact && item->isEnabled() != enabled[action.a]) {
        Fail(std::string("the preview menu's ") + kItems[action.a] + " is " +
             (item->isEnabled() ? "enabled" : "greyed") + " in state " +
             std::to_string(static_cast<int>(state)));
    }
    if (item->isEnabled()) {
        item->trigger();
        switch (action.a) {
            case 0:
                m_model.fullScreen = !m_model.fullScreen;
                break;
            case 1:
                m_model.fullScreen = false;
                break;
            case 2:
                PlayInModel(PlayState::Running);
                break;
            case 3:
                PlayInModel(PlayState::Paused);
                break;
            case 4:
                PlayInModel(PlayState::Stopped);
                break;
            default:
                ClosePreviewInModel();
                break;
        }
    }
    menu->hide();
}

void SoakRig::DoHelpAndAbout(const SoakAction& action) {
    const size_t before = m_urls.size();
    if (action.kind == Kind::Help) {
        m_browser = action.a == 0;
        Click(D::IDC_HELP);
        const QString page = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                             "/../share/orvane/help/Introduction.htm");
        if (m_urls.size() != before + 1 || m_urls.back() != QUrl::fromLocalFile(page)) {
            Fail("Help did not hand " + Str(page) + " to the browser");
        }
        if (!m_browser) {
            HelpWindow* help = HelpWindow::Current();
            if (help == nullptr || !help->isVisible() ||
                help->CurrentPage() != QUrl::fromLocalFile(page)) {
                Fail("without a browser, Help did not show the page in its own window");
            } else {
                help->close();
            }
        }
        return;
    }
    if (action.kind == Kind::Homepage) {
        Click(D::IDC_HOMEPAGE);
        if (m_urls.size() != before + 1 || m_urls.back() != QUrl("https://orvane.example.org/")) {
            Fail("Homepage did not hand the home page to the browser");
        }
        return;
    }
    // The About box is modal; the user closes it after a moment.
    bool seen = false;
    QTimer reader;
    const Clock::time_point shown = Clock::now();
    QObject::connect(&reader, &QTimer::timeout, [&] {
        auto* box = m_session->Dialog().findChild<AboutDialog*>();
        if (box != nullptr && box->isVisible()) {
            seen = true;
            box->reject();
        } else if (Clock::now() - shown > std::chrono::milliseconds(kSettleMs)) {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                modal->close();
            }
        }
    });
    reader.start(30);
    if (action.a == 0) {
        Click(D::IDC_ABOUT);
    } else {
        m_session->Dialog().findChild<QAction*>("aboutAction")->trigger();
    }
    if (!seen) {
        Fail("About showed no box, or the box did not close");
    }
}

void SoakRig::DoQuit(const SoakAction& action) {
    ConverterDialog& dialog = m_session->Dialog();
    m_closing = true;
    const Clock::time_point asked = Clock::now();
    if (action.a == 0) {
        QTest::keyClick(&dialog, Qt::Key_Escape);
    } else if (action.a == 1) {
        dialog.close();
    } else {
        // Enter where no button has the focus ends the dialog like OK.
        if (QWidget* focus = dialog.focusWidget()) {
            focus->clearFocus();
        }
        QTest::keyClick(&dialog, Qt::Key_Return);
    }
    if (!WaitFor([this] { return m_finished; }, kSettleMs)) {
        Fail("the dialog did not close within 5 s");
        return;
    }
    m_stats.slowestSettleMs = std::max<int>(
        m_stats.slowestSettleMs,
        static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count()));
    if (dialog.isVisible() || Player() != nullptr || m_session->Conversion().IsActive() || m_job) {
        Fail("after closing, the dialog is visible, a preview is open or a conversion runs");
    }
    if (static_cast<QPushButton*>(Control(D::IDC_CONVERT))->text() != "Convert") {
        Fail("the button still reads Stop after the dialog closed");
    }
    CheckFiles();
    // The settings file on disk holds the last path a conversion wrote to, or nothing.
    const QString file =
        QSettings(QSettings::IniFormat, QSettings::UserScope, ProfileSettings::kOrganisation, kApp)
            .fileName();
    const QVariant stored = QSettings(file, QSettings::IniFormat).value("Option/output_cut_file");
    if (m_lastWritten.isEmpty() ? stored.isValid() : stored.toString() != m_lastWritten) {
        Fail("the settings hold \"" + Str(stored.toString()) +
             "\" where the last path written is \"" + Str(m_lastWritten) + "\"");
    }
    if (QSettings(file, QSettings::IniFormat).value("Option/precision_panel", 0).toInt() !=
        (m_panelOpen ? 1 : 0)) {
        Fail("the settings do not hold whether the panel was open");
    }
    if (m_model.exact) {
        std::vector<QString> seen;
        for (const auto& r : m_messages.records) {
            seen.push_back(r.text);
        }
        std::sort(seen.begin(), seen.end());
        std::sort(m_model.expected.begin(), m_model.expected.end());
        if (seen != m_model.expected) {
            Fail("the boxes shown while closing differ from those expected");
        }
    }
}

void SoakRig::OnConversionEnded(const JobOutcome& outcome) {
    if (!m_job) {
        Fail("a conversion ended that no Convert started");
        return;
    }
    const Job job = *std::exchange(m_job, std::nullopt);
    using S = JobOutcome::Status;
    const bool wrote = outcome.status == S::Completed || outcome.status == S::Stopped;
    bool expected = false;
    QString box;
    switch (job.expect) {
        case Job::Expect::Writes:
            expected = outcome.status == S::Completed ||
                       (outcome.status == S::Stopped && (job.stopAsked || m_closing));
            break;
        case Job::Expect::NoAudio:
        case Job::Expect::MediaGone:
            expected = outcome.status == S::OpenFailed;
            box = "Error: Can not convert " + job.media + ": " +
                  (job.expect == Job::Expect::NoAudio
                       ? "the file has no audio stream: Stream not found"
                       : "cannot open the file: No such file or directory");
            break;
        case Job::Expect::OutputFails:
            expected = outcome.status == S::OutputFailed;
            box = "Error: Can not open " + job.output;
            break;
    }
    if (!expected) {
        Fail("a conversion of " + Str(job.media) + " to " + Str(job.output) +
             " ended with status " + std::to_string(static_cast<int>(outcome.status)) + " (" +
             outcome.reason + ")");
        return;
    }
    if (!box.isEmpty() && !m_closing) {
        // The job's box comes before its end, which waits for the box to be read: after a
        // hasty step it may have come in a step of its own, unchecked.
        const auto& now = m_messages.records;
        const auto& all = m_messages.shown;
        if (std::any_of(now.begin(), now.end(), [&](const auto& r) { return r.text == box; })) {
            m_model.expected.push_back(box);
        } else if (std::find(all.begin(), all.end(), box) == all.end()) {
            Fail("the box \"" + Str(box) + "\" never came");
        }
    }
    outcome.status == S::Completed ? ++m_stats.completed
    : wrote                        ? ++m_stats.stopped
                                   : ++m_stats.failed;
    if (!wrote) {
        if (job.replacing ? Bytes(job.output) != job.before : IsFile(job.output)) {
            Fail("a conversion that could not be done changed " + Str(job.output));
        }
        return;
    }
    const SoakFile& file = Files()[static_cast<size_t>(job.file)];
    WavFile wav = WavFile::Read(Str(job.output));
    // The chosen track's shape, in the chosen format; 32-bit float has its own format tag.
    static const int kBits[] = {0, 16, 24, 32, 32};
    const int bits = job.format == 0 ? file.bits : kBits[job.format];
    const int tag = job.format == 4 ? 3 : 1;
    const bool ofTag = wav.formatTag == tag;
    wav.formatTag = 1;
    if (!ofTag || !wav.Valid() ||
        wav.channels != (job.track == 1 ? file.channels2 : file.channels) ||
        wav.rate != static_cast<uint32_t>(job.track == 1 ? file.rate2 : file.rate) ||
        wav.bits != bits || wav.DataBytes() % wav.blockAlign != 0) {
        Fail(Str(job.output) + " is not a valid WAV of " + file.key + "'s track " +
             std::to_string(job.track + 1) + " in format " + std::to_string(job.format) +
             ", of whole frames");
        return;
    }
    // The marks' span, in whole 5000-byte buffers; a stop ends between buffers, the
    // stream's end may come first.
    const double perMs = wav.avgBytes / 1000.0;
    const double span = (job.end - job.start) / 10'000.0 * perMs;
    const int64_t budget = (static_cast<int64_t>(span + 0.5) + 4999) / 5000 * 5000;
    const double available = (file.lengthMs - job.start / 10'000.0 - 300) * perMs;
    const auto data = static_cast<int64_t>(wav.DataBytes());
    if (data > budget + 5000 ||
        (outcome.status == S::Completed && data < std::min<double>(budget, available) - 5000) ||
        // Whole 5000-byte buffers, cut back to the last whole frame.
        (outcome.status == S::Stopped && (data + 4999) / 5000 * 5000 - data >= wav.blockAlign)) {
        Fail(Str(job.output) + " holds " + std::to_string(data) + " bytes for marks " +
             std::to_string(job.start) + ".." + std::to_string(job.end) + " (status " +
             std::to_string(static_cast<int>(outcome.status)) + ")");
    }
    m_lastWritten = job.output;
    m_kept.erase(job.output);
}

void SoakRig::CheckFiles() {
    for (const auto& [path, bytes] : m_kept) {
        if (Bytes(path) != bytes) {
            Fail(Str(path) + " changed although the user declined to replace it");
        }
    }
    for (int i = 0; i < 5; ++i) {
        const QString path = OutputPath(i);
        WavFile wav = WavFile::Read(Str(path));
        wav.formatTag = wav.formatTag == 3 ? 1 : wav.formatTag;  // float is as valid
        if (m_kept.count(path) == 0 && IsFile(path) && !wav.Valid()) {
            Fail(Str(path) + " is left behind as an invalid WAV");
        }
    }
}

std::vector<std::string> SoakRig::Check() {
    std::vector<std::string> problems;
    const auto want = [&problems](bool ok, const std::string& what) {
        if (!ok) {
            problems.push_back(what);
        }
    };
    ConverterDialog& dialog = m_session->Dialog();
    const MediaController& media = m_session->Media();
    PreviewPlayer* player = Player();
    // Still under way: must end within the time allowed.
    want(!media.IsOpening(), "a file is still opening");
    want(player == nullptr || !player->IsLoading(), "the preview is still loading");
    want(!(m_job && m_job->stopAsked), "a conversion asked to stop still runs");
    // Always.
    const QString label = static_cast<QPushButton*>(Control(D::IDC_CONVERT))->text();
    want(label == (m_job && !m_job->stopAsked ? "Stop" : "Convert"),
         "the button reads " + Str(label));
    want(m_job || static_cast<QProgressBar*>(Control(D::IDC_PROGRESS))->value() == 0,
         "the progress bar stays up with no conversion");
    want(dialog.isVisible(), "the dialog is not visible");
    want(m_dragging == 0, "the slider is held");
    const int slider = dialog.SliderPosition();
    want(slider >= 0 && slider <= PositionSlider::kRange, "the slider is out of range");
    const SoakFile* open = FileAt(media.MediaPath());
    want(open != nullptr || media.MediaPath().isEmpty(), "an unknown media path is open");
    want(Control(D::IDC_PLAY)->isEnabled() == (open != nullptr),
         "the media controls' state is wrong");
    const QString startText = static_cast<QLabel*>(Control(D::IDC_START_TEXT))->text();
    const QString endText = static_cast<QLabel*>(Control(D::IDC_END_TEXT))->text();
    if (open != nullptr) {
        const QString name = QFileInfo(open->path).fileName() + (open->audio ? "" : " (no sound)");
        const QString info = dialog.Info();
        want(info.startsWith(name + "   ") &&
                 info.endsWith(" / " + ClockText(open->lengthMs / 1000)),
             "the info line reads \"" + Str(info) + "\"");
        want(player != nullptr && player->State() != PlayState::Closed,
             "a file is open without a preview");
        PreviewWindow* window = player != nullptr ? player->Window() : nullptr;
        want(window != nullptr && window->isVisible() == open->video,
             "the preview window is shown for a file without video, or hidden for one with");
        want(window != nullptr && window->isFullScreen() == player->IsFullScreen(),
             "the preview window's full screen differs from the player's");
        for (int64_t mark : {media.StartMark(), media.EndMark()}) {
            want(mark >= 0 && mark <= (open->lengthMs + 1000) * 10'000,
                 "a mark lies outside the file");
        }
        want(startText == MarkText(media.StartMark()) && endText == MarkText(media.EndMark()),
             "the mark texts do not show the marks");
    }
    // The panel shows the marks to the millisecond, and its controls follow the file.
    PrecisionPanel* panel = dialog.Panel();
    const QString startField = panel->MarkField(Mark::Start)->text();
    const QString endField = panel->MarkField(Mark::End)->text();
    want(startField == TimeText(media.StartMark()) && endField == TimeText(media.EndMark()),
         "the panel's marks read " + Str(startField) + " and " + Str(endField));
    want(panel->findChild<QPushButton*>("playSelectionButton")->isEnabled() == (open != nullptr),
         "the panel's controls' state is wrong");
    want(dialog.IsPanelOpen() == panel->isVisible(), "the panel's visibility is wrong");
    if (open == nullptr) {
        want(dialog.Info().isEmpty(),
             "the info line reads \"" + Str(dialog.Info()) + "\" with no file");
        want(player == nullptr, "a preview is open without a file");
    }
    if (!m_model.exact) {
        for (const auto& record : m_messages.records) {
            want(KnownBox(record.text), "an unexpected box: " + Str(record.text));
        }
        return problems;
    }
    // What the model expects.
    Model& m = m_model;
    const SoakFile* expected = m.media >= 0 ? &Files()[static_cast<size_t>(m.media)] : nullptr;
    want(open == expected, "the open file is " + (open ? open->key : "none") + " instead of " +
                               (expected ? expected->key : "none"));
    // Until the probe has answered, the end mark is the file's known length.
    const int64_t end = m.end >= 0 || expected == nullptr ? m.end : expected->lengthMs * kPerMs;
    want(startText == MarkText(m.start) && endText == MarkText(end),
         "the marks read " + Str(startText) + " and " + Str(endText) + " instead of " +
             Str(MarkText(m.start)) + " and " + Str(MarkText(end)));
    if (m.end >= 0) {
        want(startField == TimeText(m.start) && endField == TimeText(m.end),
             "the panel's marks read " + Str(startField) + " and " + Str(endField) +
                 " instead of " + Str(TimeText(m.start)) + " and " + Str(TimeText(m.end)));
    }
    want(dialog.IsPanelOpen() == m_panelOpen,
         "the panel is open where it should be closed, or "
         "closed where it should be open");
    want(panel->findChild<QPushButton*>("loopButton")->isChecked() == m.looping,
         std::string("the Loop button is ") + (m.looping ? "up" : "down") + " in state " +
             std::to_string(static_cast<int>(m_session->Preview().State())));
    want(panel->findChild<QComboBox*>("formatBox")->currentIndex() == m_format,
         "the format box shows another format");
    want(expected == nullptr || panel->findChild<QComboBox*>("trackBox")->currentIndex() ==
                                    (expected->audio ? m.track : -1),
         "the track box shows another track");
    const PlayState state = m_session->Preview().State();
    NoteEndOfPlay(state);
    want(state == m.preview, "the preview is in state " + std::to_string(static_cast<int>(state)) +
                                 " instead of " + std::to_string(static_cast<int>(m.preview)));
    want(player == nullptr || player->IsFullScreen() == m.fullScreen,
         "the preview's full screen is wrong");
    want(dialog.OutputPath() == m.output, "the output box reads " + Str(dialog.OutputPath()));
    std::vector<QString> seen;
    for (const auto& r : m_messages.records) {
        seen.push_back(r.text);
    }
    std::sort(seen.begin(), seen.end());
    std::vector<QString> due = m.expected;
    std::sort(due.begin(), due.end());
    if (seen != due) {
        std::string text = "the boxes shown were:";
        for (const QString& s : seen) {
            text += " [" + Str(s) + "]";
        }
        text += "; expected:";
        for (const QString& s : due) {
            text += " [" + Str(s) + "]";
        }
        problems.push_back(text);
    }
    return problems;
}

void SoakRig::Resync() {
    // After hasty steps the model takes over what the program shows, once its invariants held.
    Model& m = m_model;
    const MediaController& media = m_session->Media();
    const SoakFile* open = FileAt(media.MediaPath());
    m.media = open != nullptr ? static_cast<int>(open - Files().data()) : -1;
    m.start = media.StartMark();
    m.end = media.EndMark();
    m.duration = open != nullptr ? media.Duration() : 0;
    PrecisionPanel* panel = m_session->Dialog().Panel();
    m.looping = panel->findChild<QPushButton*>("loopButton")->isChecked();
    m.track = std::max(panel->findChild<QComboBox*>("trackBox")->currentIndex(), 0);
    m.rangeToMs = kAnyEnd;
    m_panelOpen = m_session->Dialog().IsPanelOpen();
    m.preview = m_session->Preview().State();
    m.fullScreen = Player() != nullptr && Player()->IsFullScreen();
    m.output = m_session->Dialog().OutputPath();
    // Where the player is now: the last report may be from before a seek.
    m.positionMs = m_session->Preview().Position() / 10'000;
    m.playedFromMs = 0;  // unknown: an end of the clip is then allowed at any time
    m.positionKnown = false;
    m.runningSince = Clock::now() - std::chrono::hours(1);
    m.exact = true;
}

bool SoakRig::Settle(const SoakAction& action) {
    const Clock::time_point began = Clock::now();
    // What the step queued (a drop, a menu command, a close) runs before the first check.
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::processEvents();
    }
    std::vector<std::string> problems;
    const bool settled = WaitFor(
        [&] {
            problems = Check();
            return problems.empty() || !m_failure.empty();
        },
        kSettleMs);
    const int took = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count());
    m_stats.slowestSettleMs = std::max(m_stats.slowestSettleMs, took);
    if (!m_failure.empty()) {
        return false;
    }
    if (!settled) {
        std::string text = "not settled within 5 s:";
        for (const std::string& p : problems) {
            text += " " + p + ";";
        }
        Fail(text);
        return false;
    }
    if (!m_model.exact) {
        Resync();
    }
    Model& m = m_model;
    if (m.media >= 0 && m.duration < 0) {
        // The file has opened: the end mark is its probed duration, close to its real length.
        const MediaController& media = m_session->Media();
        m.duration = media.Duration();
        m.end = media.EndMark();
        if (m.end != m.duration ||
            std::abs(m.duration / kPerMs - Files()[static_cast<size_t>(m.media)].lengthMs) > 300) {
            Fail("the file opened with the end mark at " + Str(TimeText(m.end)) +
                 " and a duration of " + Str(TimeText(m.duration)));
            return false;
        }
    }
    m_messages.records.clear();
    m_model.expected.clear();
    const std::string state = StateKey();
    m_stats.states.insert(state);
    const std::string step = action.Text();
    m_stats.transitions.insert(m_lastState + " -" + step.substr(0, step.find_first_of(":!")) +
                               "-> " + state);
    m_lastState = state;
    return true;
}

std::string SoakRig::StateKey() const {
    const Model& m = m_model;
    static const char* const kStates[] = {"stopped", "paused", "running", "closed"};
    std::string key = m.media >= 0 ? Files()[static_cast<size_t>(m.media)].key : "none";
    key += std::string("|") + kStates[static_cast<int>(m.preview)] + (m.fullScreen ? "|full" : "");
    key += m_job ? "|converting" : "";
    key += m.start >= m.end                                        ? "|marks-reversed"
           : (m.start > 0 || (m.media >= 0 && m.end < m.duration)) ? "|marks-set"
                                                                   : "";
    key += std::string(m_panelOpen ? "|panel" : "") + (m.looping ? "|loop" : "") +
           (m.track > 0 ? "|track2" : "");
    return key;
}
