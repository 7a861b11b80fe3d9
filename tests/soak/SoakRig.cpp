#include "SoakRig.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QPixmapCache>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "AboutDialog.h"
#include "FfmpegAudioSource.h"
#include "HeapInUse.h"
#include "HelpLauncher.h"
#include "HelpWindow.h"
#include "MpvPlaybackEngine.h"
#include "MpvReaper.h"
#include "PanelController.h"

using namespace soak;

namespace {

// What the crash handler prints: the run and the step under way.
char g_crashNote[512] = "";
constexpr int kFatalSignals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};
struct sigaction g_previous[std::size(kFatalSignals)];

void OnFatalSignal(int signal) {
    [[maybe_unused]] const ssize_t w =
        write(STDERR_FILENO, g_crashNote, strnlen(g_crashNote, sizeof g_crashNote));
    // The handlers that were there before (a sanitizer's report, or the default) take over:
    // a fault comes again when this returns, a raised signal is raised once more.
    for (size_t i = 0; i < std::size(kFatalSignals); ++i) {
        sigaction(kFatalSignals[i], &g_previous[i], nullptr);
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
    QFile::remove(File(7).path);
    // A file that is no WAV: replaced only after a yes.
    Write(OutputPath(2), "the user's own file, not to be lost\n");
    m_kept = {{OutputPath(2), Digest(OutputPath(2))}};

    // A modal window the steps did not expect would hold the run: it is closed, and reported.
    QTimer watchdog;
    Clock::time_point modalSince = Clock::now();
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr) {
            modalSince = Clock::now();
        } else if (ElapsedMs(modalSince) > kSettleMs) {
            Fail("a modal window stayed up: " + Str(modal->windowTitle()));
            modal->close();
        }
    });
    watchdog.start(100);
    int failedAt = -1;
    StartSession();
    for (size_t i = 0; i < actions.size() && m_failure.empty(); ++i) {
        const SoakAction& action = actions[i];
        m_step = static_cast<int>(i) + 1;
        std::snprintf(g_crashNote, sizeof g_crashNote, "\n[ soak ] died during %s, step %d: %s\n",
                      label.c_str(), m_step, action.Text().c_str());
        if (std::getenv("ORVANE_SOAK_VERBOSE") != nullptr) {
            std::printf("[ soak ] %d %s\n", m_step, action.Text().c_str());
            std::fflush(stdout);
        }
        m_stats.duringWaveform += m_session->PanelWork().IsComputingWaveform() ? 1 : 0;
        m_stats.hasty += action.hasty ? 1 : 0;
        Perform(action);
        ++m_stats.actions;
        // Closing checks itself; the steps that follow go to a new dialog.
        if (m_failure.empty() && action.kind == Kind::Quit) {
            StartSession();
        } else if (m_failure.empty() && !action.hasty) {
            Settle(action);
        }
        m_afterHasty = action.hasty;
        if (m_failure.empty() && m_stats.actions % 1000 == 0) {
            // With the dialog closed and libmpv's cores taken down, so that every measure
            // finds the program in the same state; Qt's cache of drawn controls is no leak.
            DoQuit({Kind::Quit, 1});
            EndSession();
            MpvReaper::Instance().Drain();
            QPixmapCache::clear();
            m_stats.heapKib.emplace_back(m_stats.actions, kHeapMeasurable ? HeapInUseKb() : -1L);
            StartSession();
        }
        failedAt = m_failure.empty() ? -1 : static_cast<int>(i);
    }
    // Every run ends with the dialog closed, so that the stored path is checked.
    if (m_failure.empty()) {
        DoQuit({Kind::Quit, 1});
        failedAt = m_failure.empty() ? -1 : static_cast<int>(actions.size());
    }
    EndSession();
    return {m_failure, failedAt, m_stats};
}

void SoakRig::StartSession() {
    EndSession();
    m_prober = std::make_unique<ThreadedMediaProber>(FfmpegAudioSource::Factory());
    const auto engine = [] {
        MpvPlaybackEngine::Options options;
        options.video = MpvPlaybackEngine::VideoOutput::None;
        options.audioOutput = "null";
        return std::make_unique<MpvPlaybackEngine>(options);
    };
    m_messages.records.clear();
    m_choosers = FakeChoosers();
    m_session = std::make_unique<ConverterSession>(
        ConverterServices{m_settings, m_messages, m_choosers, *m_prober, engine,
                          FfmpegAudioSource::Factory(), m_dragging});
    ConverterSession* s = m_session.get();
    QObject::connect(s, &ConverterSession::finished, [this] { m_finished = true; });
    QObject::connect(&s->Media(), &MediaController::mediaChanged, [this] { OnMediaChanged(); });
    QObject::connect(&s->Media(), &MediaController::openStarted, [this](const QString& path) {
        const auto asked = std::find_if(m_requested.begin(), m_requested.end(),
                                        [&](int file) { return File(file).path == path; });
        if (asked == m_requested.end()) {
            Fail("an open of " + Str(path) + " started that no step asked for");
            return;
        }
        m_pendingOpen = *asked;
        m_requested.erase(asked);
    });
    QObject::connect(&s->Media(), &MediaController::openFinished, [this](bool ok) {
        if (ok) {
            m_model.loaded = true;
        } else if (m_pendingOpen >= 0 && File(m_pendingOpen).opens) {
            Fail("the open of " + File(m_pendingOpen).key + " failed");
        } else if (m_pendingOpen >= 0) {
            m_expected.push_back(
                "Error: Cannot open the file and get the total time. You need to install "
                "appropriate decoders.\nOr the file is corrupt.");
        }
        m_pendingOpen = ok ? m_pendingOpen : -1;
    });
    QObject::connect(&s->Preview(), &PreviewPlayer::positionChanged, [this](int64_t position) {
        // After Loop is let go the pass plays on to the End mark: it never goes back, unless
        // the clip ends and rewinds.
        if (m_watchWrap && m_model.Released() && m_lastPosition >= 0 &&
            position < m_lastPosition - kMs && Player().State() != PlayState::Stopped) {
            Fail("after Loop was let go the preview went back from " +
                 Expected{m_lastPosition, 0}.Text() + " to " + Expected{position, 0}.Text());
        }
        m_lastPosition = m_watchWrap && m_model.Released() ? position : -1;
    });
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
    if (const std::vector<std::string> problems = Check(true); !problems.empty()) {
        Fail("a new dialog does not start as expected: " + problems.front());
    }
}

void SoakRig::EndSession() {
    m_session.reset();
    m_prober.reset();
    m_job.reset();
}

PreviewWindow* SoakRig::VisibleWindow() const {
    PreviewWindow* window = Player().Window();
    return window != nullptr && window->isVisible() ? window : nullptr;
}

void SoakRig::Click(int id) {
    // A disabled control takes no click; the checks see that it is disabled when it should be.
    if (Control(id)->isEnabled()) {
        QTest::mouseClick(Control(id), Qt::LeftButton);
    }
}

void SoakRig::Resolve() {
    if (m_model.file < 0) {
        return;
    }
    const Clock::time_point now = Clock::now();
    const PlayState seen = Player().State();
    m_model.Advance(now, seen);
    // The program has ended the clip where the model's clock says it plays on: not a
    // failure yet (the checks after the step decide), but the log keeps both for a replay.
    if (seen == PlayState::Stopped && m_model.State() == PlayState::Running) {
        std::printf(
            "[ soak ] step %d: the program has stopped the clip at %s; the model has it %s\n",
            m_step, Expected{Player().Position(), 0}.Text().c_str(), m_model.ClipText(now).c_str());
    }
}

void SoakRig::Perform(const SoakAction& action) {
    // The function that does each kind of step.
    static const std::pair<Step, std::vector<Kind>> kSteps[] = {
        {&SoakRig::DoOpen, {Kind::Open, Kind::Drop, Kind::Delete}},
        {&SoakRig::DoTransport, {Kind::Play, Kind::Pause, Kind::Stop}},
        {&SoakRig::DoSlider, {Kind::Drag, Kind::Groove}},
        {&SoakRig::DoMark, {Kind::StartTime, Kind::EndTime, Kind::MarkKey}},
        {&SoakRig::DoOutput, {Kind::Output, Kind::Browse, Kind::EnterInOutput}},
        {&SoakRig::DoConvert, {Kind::Convert}},
        {&SoakRig::DoWait, {Kind::Wait}},
        {&SoakRig::DoPreview, {Kind::ClosePreview, Kind::Menu, Kind::Escape, Kind::ClickPreview}},
        {&SoakRig::DoHelp, {Kind::Help, Kind::Homepage, Kind::About}},
        {&SoakRig::DoQuit, {Kind::Quit}},
        {&SoakRig::DoPanel,
         {Kind::More, Kind::TypeMark, Kind::JunkMark, Kind::Nudge, Kind::Audition, Kind::Track,
          Kind::Format, Kind::Box}},
    };
    // A new conversion may replace the last one's WAV: it is compared first.
    CompareEnded();
    // The clip may have ended since the last check, and the step acts on a stopped clip.
    Resolve();
    // Steps that move the position themselves are not a wrap of a released loop.
    m_watchWrap = false;
    for (const auto& [step, kinds] : kSteps) {
        if (std::find(kinds.begin(), kinds.end(), action.kind) != kinds.end()) {
            (this->*step)(action);
        }
    }
    m_watchWrap = m_model.Released();
}

void SoakRig::DoWait(const SoakAction& action) {
    m_watchWrap = m_model.Released();
    ProcessEventsFor(action.a);
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
    } else if (m_pendingOpen < 0) {
        Fail("a file opened that no step opened");
    } else {
        ++m_stats.opened;
        m_model.Open(m_pendingOpen, File(m_pendingOpen).duration, File(m_pendingOpen).firstPicture);
        m_pendingOpen = -1;
    }
}

void SoakRig::DoHelp(const SoakAction& action) {
    m_urls.clear();
    if (action.kind == Kind::Help) {
        m_browser = action.a == 0;
        Click(D::IDC_HELP);
        const QUrl page = QUrl::fromLocalFile(QDir::cleanPath(
            QCoreApplication::applicationDirPath() + "/../share/orvane/help/Introduction.htm"));
        HelpWindow* help = HelpWindow::Current();
        if (m_urls != std::vector<QUrl>{page}) {
            Fail("Help did not hand " + Str(page.toLocalFile()) + " to the browser");
        } else if (!m_browser &&
                   (help == nullptr || !help->isVisible() || help->CurrentPage() != page)) {
            Fail("without a browser, Help did not show the page in its own window");
        } else if (!m_browser) {
            help->close();
        }
        return;
    }
    if (action.kind == Kind::Homepage) {
        Click(D::IDC_HOMEPAGE);
        if (m_urls != std::vector<QUrl>{QUrl("https://orvane.example.org/")}) {
            Fail("Homepage did not hand the home page to the browser");
        }
        return;
    }
    // The About box is modal; the user closes it after a moment (the run's watchdog closes
    // one that stays up).
    bool seen = false;
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] {
        auto* box = m_session->Dialog().findChild<AboutDialog*>();
        if (box != nullptr && box->isVisible()) {
            seen = true;
            box->reject();
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
