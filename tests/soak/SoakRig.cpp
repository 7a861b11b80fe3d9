#include "SoakRig.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPixmapCache>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "AboutDialog.h"
#include "ConversionController.h"
#include "ConverterDialog.h"
#include "ConverterSession.h"
#include "FfmpegAudioSource.h"
#include "HeapInUse.h"
#include "HelpLauncher.h"
#include "HelpWindow.h"
#include "MediaController.h"
#include "MpvPlaybackEngine.h"
#include "MpvReaper.h"
#include "PanelController.h"
#include "PreviewPlayer.h"
#include "PreviewWindow.h"
#include "SoakCommon.h"
#include "ThreadedMediaProber.h"

namespace {

using namespace soak;
using Kind = SoakAction::Kind;
using Clock = SoakModel::Clock;
using D = ConverterDialog;

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

}  // namespace

void SoakRig::InstallCrashNote() {
    struct sigaction note = {};
    note.sa_handler = OnFatalSignal;
    sigemptyset(&note.sa_mask);
    for (size_t i = 0; i < std::size(kFatalSignals); ++i) {
        sigaction(kFatalSignals[i], &note, &g_previous[i]);
    }
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
    m_kept = {{OutputPath(2), Digest(OutputPath(2))}};
    m_lastWritten.clear();
    m_panelOpen = m_exactEnd = m_modern = false;
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
    m_afterHasty = false;
    for (size_t i = 0; i < actions.size() && m_failure.empty(); ++i) {
        const SoakAction& action = actions[i];
        m_step = static_cast<int>(i) + 1;
        std::snprintf(g_crashNote, sizeof g_crashNote, "%s, step %zu: %s", label.c_str(), i + 1,
                      action.Text().c_str());
        if (std::getenv("ORVANE_SOAK_VERBOSE") != nullptr) {
            std::printf("[ soak ] %zu %s\n", i + 1, action.Text().c_str());
            std::fflush(stdout);
        }
        if (m_session->PanelWork().IsComputingWaveform()) {
            ++m_stats.duringWaveform;
        }
        m_stats.hasty += action.hasty ? 1 : 0;
        Perform(action);
        ++m_stats.actions;
        // Closing checks itself; the steps that follow go to a new dialog.
        if (m_failure.empty() && !action.hasty && action.kind != Kind::Quit) {
            Settle(action, m_afterHasty);
        }
        m_afterHasty = action.hasty;
        if (m_failure.empty() && action.kind == Kind::Quit) {
            StartSession();
        }
        if (m_failure.empty() && m_stats.actions % 1000 == 0) {
            MeasureHeap();
        }
        if (!m_failure.empty()) {
            result.failedAt = static_cast<int>(i);
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
    ConverterSession* s = m_session.get();
    QObject::connect(s, &ConverterSession::finished, [this] { m_finished = true; });
    QObject::connect(&s->Media(), &MediaController::mediaChanged, [this] { OnMediaChanged(); });
    QObject::connect(&s->Media(), &MediaController::openStarted,
                     [this](const QString& path) { OnOpenStarted(path); });
    QObject::connect(&s->Media(), &MediaController::openFinished,
                     [this](bool ok) { OnOpenFinished(ok); });
    QObject::connect(&s->Preview(), &PreviewPlayer::positionChanged,
                     [this](int64_t position) { OnPosition(position); });
    QObject::connect(&s->Conversion(), &ConversionController::conversionEnded,
                     [this](const JobOutcome& outcome) { OnConversionEnded(outcome); });
    m_finished = m_closing = false;
    m_session->Show();
    ++m_stats.sessions;
    m_model = SoakModel{};
    m_requested.clear();
    m_pendingOpen = -1;
    m_pendingClose = false;
    m_expected.clear();
    // The path the last conversion wrote to is offered again; without one, the default.
    m_output = m_lastWritten.isEmpty() ? DefaultOutput() : m_lastWritten;
    const std::vector<std::string> problems = Check(true);
    if (!problems.empty()) {
        Fail("a new dialog does not start as expected: " + problems.front());
    }
}

void SoakRig::EndSession() {
    m_session.reset();
    m_prober.reset();
    m_job.reset();
}

void SoakRig::MeasureHeap() {
    // With the dialog closed and libmpv's cores taken down, so that every measure finds the
    // program in the same state.
    SoakAction quit;
    quit.kind = Kind::Quit;
    quit.a = 1;
    DoQuit(quit);
    if (!m_failure.empty()) {
        return;
    }
    EndSession();
    MpvReaper::Instance().Drain();
    // Qt keeps the controls it has drawn, up to 10 MB: a cache, not a leak.
    QPixmapCache::clear();
    m_stats.heapKib.emplace_back(m_stats.actions, kHeapMeasurable ? HeapInUseKb() : -1L);
    StartSession();
}

void SoakRig::Fail(const std::string& what) {
    if (m_failure.empty()) {
        m_failure = what;
    }
}

Clock::time_point SoakRig::Now() const {
    return Clock::now();
}

QWidget* SoakRig::Control(int id) const {
    return m_session->Dialog().Control(id);
}

PreviewPlayer& SoakRig::Player() const {
    return m_session->Preview();
}

PreviewWindow* SoakRig::VisibleWindow() const {
    PreviewWindow* window = Player().Window();
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

void SoakRig::Resolve() {
    if (m_model.file < 0) {
        return;
    }
    const Clock::time_point now = Now();
    const PlayState seen = Player().State();
    m_model.Advance(now, seen);
    // The program has ended the clip where the model's clock says it plays on: not a
    // failure yet (the checks after the step decide), but the log keeps both for a replay.
    if (seen == PlayState::Stopped && m_model.State() == PlayState::Running) {
        std::printf(
            "[ soak ] step %d: the program has stopped the clip at %s; the model has "
            "it %s\n",
            m_step, Expected{Player().Position(), 0}.Text().c_str(), m_model.ClipText(now).c_str());
    }
}

void SoakRig::Perform(const SoakAction& action) {
    // A new conversion may replace the last one's WAV: it is compared first.
    CompareEnded();
    // The clip may have ended since the last check, and the step acts on a stopped clip.
    Resolve();
    // Steps that move the position themselves are not a wrap of a released loop.
    m_watchWrap = false;
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
        case Kind::Box:
            DoPanel(action);
            break;
        case Kind::Output:
        case Kind::Browse:
        case Kind::EnterInOutput:
            DoOutput(action);
            break;
        case Kind::Convert:
            DoConvert(action);
            break;
        case Kind::Wait:
            m_watchWrap = m_model.Released();
            ProcessEventsFor(action.a);
            break;
        case Kind::ClosePreview:
        case Kind::Menu:
        case Kind::Escape:
        case Kind::ClickPreview:
            DoPreview(action);
            break;
        case Kind::Help:
        case Kind::Homepage:
        case Kind::About:
            DoHelpAndAbout(action);
            break;
        case Kind::Quit:
            DoQuit(action);
            break;
    }
    m_watchWrap = m_model.Released();
}

void SoakRig::OnOpenStarted(const QString& path) {
    const auto asked = std::find_if(m_requested.begin(), m_requested.end(), [&](int file) {
        return Files()[static_cast<size_t>(file)].path == path;
    });
    if (asked == m_requested.end()) {
        Fail("an open of " + Str(path) + " started that no step asked for");
        return;
    }
    m_pendingOpen = *asked;
    m_requested.erase(asked);
}

void SoakRig::OnMediaChanged() {
    ++m_mediaChanges;
    if (m_session->Media().MediaPath().isEmpty()) {
        if (!m_pendingClose) {
            Fail("the file was closed by no step of the user's");
        }
        // A close also cancels an open under way.
        m_pendingClose = false;
        m_pendingOpen = -1;
        m_model.Close();
        return;
    }
    if (m_pendingOpen < 0) {
        Fail("a file opened that no step opened");
        return;
    }
    ++m_stats.opened;
    const SoakFile& file = Files()[static_cast<size_t>(m_pendingOpen)];
    m_model.Open(m_pendingOpen, file.duration, file.firstPicture);
    m_pendingOpen = -1;
}

void SoakRig::OnOpenFinished(bool ok) {
    if (ok) {
        m_model.loaded = true;
        return;
    }
    if (m_pendingOpen >= 0 && Files()[static_cast<size_t>(m_pendingOpen)].opens) {
        Fail("the open of " + Files()[static_cast<size_t>(m_pendingOpen)].key + " failed");
    } else if (m_pendingOpen >= 0) {
        m_expected.push_back(kProbeFailed);
    }
    m_pendingOpen = -1;
}

void SoakRig::OnPosition(int64_t position) {
    // After Loop is let go the pass plays on to the End mark: it never goes back, unless
    // the clip ends and rewinds.
    if (!m_watchWrap || !m_model.Released()) {
        m_lastPosition = -1;
        return;
    }
    if (m_lastPosition >= 0 && position < m_lastPosition - kMs &&
        Player().State() != PlayState::Stopped) {
        Fail("after Loop was let go the preview went back from " +
             Expected{m_lastPosition, 0}.Text() + " to " + Expected{position, 0}.Text());
    }
    m_lastPosition = position;
}

void SoakRig::DoHelpAndAbout(const SoakAction& action) {
    m_urls.clear();
    if (action.kind == Kind::Help) {
        m_browser = action.a == 0;
        Click(D::IDC_HELP);
        const QString page = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                             "/../share/orvane/help/Introduction.htm");
        if (m_urls.size() != 1 || m_urls.back() != QUrl::fromLocalFile(page)) {
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
        if (m_urls.size() != 1 || m_urls.back() != QUrl("https://orvane.example.org/")) {
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
