// The run: its sessions of the dialog, the steps in turn, and what the program should show
// once a step has settled, as the model has it.
#include "SoakRig.h"

#include <unistd.h>

#include <QLabel>
#include <QPixmapCache>
#include <QProgressBar>
#include <QStandardPaths>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "FfmpegAudioSource.h"
#include "HeapInUse.h"
#include "HelpLauncher.h"
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
    }
    // Every run ends with the dialog closed, so that the stored path is checked.
    if (m_failure.empty()) {
        m_step = static_cast<int>(actions.size()) + 1;
        DoQuit({Kind::Quit, 1});
    }
    EndSession();
    return {m_failure, m_failure.empty() ? -1 : m_step - 1, m_stats};
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
    QObject::connect(&s->Media(), &MediaController::mediaChanged, [this] {
        ++m_mediaChanges;
        if (m_session->Media().MediaPath().isEmpty()) {
            Want(m_pendingClose, "the file was closed by no step of the user's");
            // A close also cancels an open under way.
            m_pendingClose = false;
            m_pendingOpen = -1;
            m_model.Close();
        } else if (m_pendingOpen < 0) {
            Fail("a file opened that no step opened");
        } else {
            ++m_stats.opened;
            m_model.Open(m_pendingOpen, File(m_pendingOpen).duration,
                         File(m_pendingOpen).firstPicture);
            m_pendingOpen = -1;
        }
    });
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
        Want(!m_watchWrap || !m_model.Released() || m_lastPosition < 0 ||
                 position >= m_lastPosition - kMs || Player().State() == PlayState::Stopped,
             "after Loop was let go the preview went back from " + TimeText(m_lastPosition) +
                 " to " + TimeText(position));
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
    const std::string problems = Check(true);
    Want(problems.empty(), "a new dialog does not start as expected:" + problems);
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
    const Clock::time_point now = Clock::now();
    const PlayState seen = Player().State();
    m_model.Advance(now, seen);
    // The program has ended the clip where the model's clock says it plays on: not a
    // failure yet (the checks after the step decide), but the log keeps both for a replay.
    if (seen == PlayState::Stopped && m_model.State() == PlayState::Running) {
        std::printf(
            "[ soak ] step %d: the program has stopped the clip at %s; the model has it %s\n",
            m_step, TimeText(Player().Position()).c_str(), m_model.ClipText(now).c_str());
    }
}

void SoakRig::Perform(const SoakAction& action) {
    // The function that does each kind of step, and what the user needs to take it: an open
    // file, the panel open, the preview window shown.
    enum { kAny = 0, kFile = 1, kPanel = 2, kWindow = 4 };
    static const std::tuple<Step, int, std::vector<Kind>> kSteps[] = {
        {&SoakRig::DoOpen, kAny, {Kind::Open, Kind::Drop, Kind::Delete}},
        {&SoakRig::DoTransport, kAny, {Kind::Play, Kind::Pause, Kind::Stop}},
        {&SoakRig::DoSlider, kFile, {Kind::Drag, Kind::Groove}},
        {&SoakRig::DoMark, kFile, {Kind::StartTime, Kind::EndTime, Kind::MarkKey}},
        {&SoakRig::DoOutput, kFile, {Kind::Output, Kind::Browse, Kind::EnterInOutput}},
        {&SoakRig::DoConvert, kFile, {Kind::Convert}},
        {&SoakRig::DoWait, kAny, {Kind::Wait}},
        {&SoakRig::DoPreview, kWindow, {Kind::ClosePreview, Kind::Escape, Kind::ClickPreview}},
        {&SoakRig::DoMenu, kWindow, {Kind::Menu}},
        {&SoakRig::DoHelp, kAny, {Kind::Help, Kind::Homepage, Kind::About}},
        {&SoakRig::DoQuit, kAny, {Kind::Quit}},
        {&SoakRig::DoPanel, kAny, {Kind::More}},
        {&SoakRig::DoPanel, kPanel, {Kind::Format, Kind::Box, Kind::Track}},
        {&SoakRig::DoPanel, kFile | kPanel, {Kind::TypeMark, Kind::JunkMark, Kind::Nudge}},
        {&SoakRig::DoAudition, kFile | kPanel, {Kind::Audition}},
    };
    // A new conversion may replace the last one's WAV: it is compared first.
    CompareEnded();
    // The clip may have ended since the last check, and the step acts on a stopped clip.
    Resolve();
    // Steps that move the position themselves are not a wrap of a released loop.
    m_watchWrap = action.kind == Kind::Wait && m_model.Released();
    for (const auto& [step, needs, kinds] : kSteps) {
        if (std::find(kinds.begin(), kinds.end(), action.kind) != kinds.end() &&
            !((needs & kFile) && m_model.file < 0) && !((needs & kPanel) && !m_panelOpen) &&
            !((needs & kWindow) && VisibleWindow() == nullptr)) {
            (this->*step)(action);
        }
    }
    m_watchWrap = m_model.Released();
}

void SoakRig::DoWait(const SoakAction& action) {
    ProcessEventsFor(action.a);
}

std::string SoakRig::Check(bool withPlay) {
    std::string problems;
    const auto want = [&problems](bool ok, const std::string& what) {
        problems += ok ? "" : " " + what + ";";
    };
    ConverterDialog& dialog = m_session->Dialog();
    const MediaController& media = m_session->Media();
    PreviewPlayer& player = Player();
    const SoakModel& m = m_model;
    // Still under way: must end within the time allowed.
    want(!media.IsOpening() && m_requested.empty() && m_pendingOpen < 0 && !m_pendingClose,
         "a file is still opening or closing");
    want(!player.IsLoading(), "the preview is still loading");
    want(!(m_job && m_job->stopAsked), "a conversion asked to stop still runs");
    const QString label = static_cast<QPushButton*>(Control(D::IDC_CONVERT))->text();
    want(label == (m_job && !m_job->stopAsked ? "Stop" : "Convert"),
         "the button reads " + Str(label));
    want(m_job || static_cast<QProgressBar*>(Control(D::IDC_PROGRESS))->value() == 0,
         "the progress bar stays up with no conversion");
    want(dialog.isVisible(), "the dialog is not visible");
    want(m_dragging == 0, "the slider is held");
    const int slider = dialog.SliderPosition();
    want(slider >= 0 && slider <= PositionSlider::kRange, "the slider is out of range");
    const SoakFile* expected = m.file >= 0 ? &File(m.file) : nullptr;
    const bool open = !media.MediaPath().isEmpty();
    want(media.MediaPath() == (expected ? expected->path : QString()),
         "the open file is " + Str(media.MediaPath()) + " instead of " +
             (expected ? expected->key : "none"));
    want(Control(D::IDC_PLAY)->isEnabled() == open, "the media controls' state is wrong");
    want(player.IsOpen() == open, "a preview is open without a file, or none with");
    want(m.start.Holds(media.StartMark()) && m.end.Holds(media.EndMark()),
         "the marks are " + TimeText(media.StartMark()) + " and " + TimeText(media.EndMark()) +
             " where the model has " + m.start.Text() + " and " + m.end.Text());
    want(static_cast<QLabel*>(Control(D::IDC_START_TEXT))->text() == ClockText(media.StartMark()) &&
             static_cast<QLabel*>(Control(D::IDC_END_TEXT))->text() == ClockText(media.EndMark()),
         "the mark texts do not show the marks");
    PrecisionPanel* panel = dialog.Panel();
    want(Str(panel->MarkField(Mark::Start)->text()) == TimeText(media.StartMark()) &&
             Str(panel->MarkField(Mark::End)->text()) == TimeText(media.EndMark()),
         "the panel's mark fields do not show the marks");
    if (expected != nullptr) {
        const QString name =
            QFileInfo(expected->path).fileName() + (expected->channels > 0 ? "" : " (no sound)");
        const QString info = dialog.Info();
        want(info.startsWith(name + "   ") && info.endsWith(" / " + ClockText(m.duration)),
             "the info line reads \"" + Str(info) + "\"");
        want(media.Duration() == m.duration &&
                 (!m.loaded || Expected{m.duration, 0}.Holds(player.Duration())),
             "the file's length is " + TimeText(media.Duration()) + ", the preview's " +
                 TimeText(player.Duration()) + ", where ffprobe tells " + TimeText(m.duration));
        PreviewWindow* window = player.Window();
        want(window != nullptr && window->isVisible() == (expected->fps > 0),
             "the preview window is shown for a file without video, or hidden for one with");
        want(window != nullptr && window->isFullScreen() == player.IsFullScreen() &&
                 player.IsFullScreen() == m.fullScreen,
             std::string("the preview's full screen is ") + (player.IsFullScreen() ? "on" : "off") +
                 (window != nullptr && window->isFullScreen() ? ", its window's on" : "") +
                 " where the model has it " + (m.fullScreen ? "on" : "off"));
        want(panel->findChild<QComboBox*>("trackBox")->currentIndex() ==
                 (expected->channels > 0 ? m.track : -1),
             "the track box shows another track");
    }
    want(expected != nullptr || dialog.Info().isEmpty(),
         "the info line reads \"" + Str(dialog.Info()) + "\" with no file");
    want(panel->findChild<QPushButton*>("playSelectionButton")->isEnabled() == open,
         "the panel's controls' state is wrong");
    want(dialog.IsPanelOpen() == panel->isVisible() && dialog.IsPanelOpen() == m_panelOpen,
         "the panel is open where it should be closed, or closed where it should be open");
    want(panel->findChild<QComboBox*>("formatBox")->currentIndex() == m_format &&
             panel->findChild<QCheckBox*>("exactEndBox")->isChecked() == m_exactEnd &&
             panel->findChild<QCheckBox*>("modernHeaderBox")->isChecked() == m_modern,
         "the format box or a check box shows another choice");
    want(dialog.OutputPath() == m_output, "the output box reads " + Str(dialog.OutputPath()));
    want(BoxesDiffer().empty(), BoxesDiffer());
    const std::string play = withPlay && expected != nullptr ? PlayDiffers() : "";
    want(play.empty(), play);
    return problems;
}

std::string SoakRig::BoxesDiffer() const {
    std::vector<QString> seen = m_messages.records;
    std::vector<QString> due = m_expected;
    std::sort(seen.begin(), seen.end());
    std::sort(due.begin(), due.end());
    const auto list = [](const std::vector<QString>& boxes) {
        return " [" + Str(QStringList(boxes.begin(), boxes.end()).join("] [")) + "]";
    };
    return seen == due ? "" : "the boxes shown were:" + list(seen) + "; expected:" + list(due);
}

std::string SoakRig::PlayDiffers() {
    PreviewPlayer& player = Player();
    const Clock::time_point now = Clock::now();
    m_model.Advance(now, player.State());
    const Expected at = m_model.Position(now);
    const bool loop =
        m_session->Dialog().Panel()->findChild<QPushButton*>("loopButton")->isChecked();
    if (player.State() == m_model.State() && at.Holds(player.Position()) &&
        player.IsLooping() == m_model.Looping() && loop == m_model.Looping()) {
        return "";
    }
    return std::string("the clip is ") + StateName(player.State()) + " at " +
           TimeText(player.Position()) + (player.IsLooping() ? ", looping" : "") +
           (loop ? ", the Loop button down" : "") + ", where the model has it " +
           m_model.ClipText(now);
}

void SoakRig::Settle(const SoakAction& action) {
    const Clock::time_point began = Clock::now();
    // What the step queued (a drop, a menu command, a close) runs before the first check.
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::processEvents();
    }
    // After a hasty step the play state and the position may be taken over once the rest
    // has settled.
    std::string problems;
    const bool settled = WaitFor(
        [&] {
            problems = Check(!m_afterHasty);
            return problems.empty() || !m_failure.empty();
        },
        kSettleMs);
    m_stats.slowestSettleMs = std::max(m_stats.slowestSettleMs, ElapsedMs(began));
    Want(settled, "not settled within 5 s:" + problems);
    if (!m_failure.empty()) {
        return;
    }
    PreviewPlayer& player = Player();
    if (const std::string play = m_afterHasty && m_model.file >= 0 ? PlayDiffers() : "";
        !play.empty()) {
        ++m_stats.takenOver;
        std::printf(
            "[ soak ] step %d, after a hasty step: the model takes the play state and position "
            "over from the program: %s\n",
            m_step, play.c_str());
        m_model.TakeOver(player.State(), player.Position(), player.IsPlayingRange(),
                         player.IsLooping(), Clock::now());
    }
    if (m_model.State() == PlayState::Running && !m_model.Looping()) {
        const int64_t lag = std::llabs(player.Position() - m_model.Position(Clock::now()).t);
        m_stats.largestLagMs = std::max(m_stats.largestLagMs, static_cast<int>(lag / kMs));
    }
    CompareEnded();
    m_messages.records.clear();
    m_expected.clear();
    // The state reached, as the model has it, for the counts of states and transitions.
    const SoakModel& m = m_model;
    std::string state = m.file >= 0 ? File(m.file).key : "none";
    state += std::string("|") + StateName(m.State()) + (m.fullScreen ? "|full" : "");
    state += m_job ? "|converting" : "";
    state += m.MarksInOrder() != 1                                      ? "|marks-reversed"
             : (m.start.t > 0 || (m.file >= 0 && m.end.t < m.duration)) ? "|marks-set"
                                                                        : "";
    state += std::string(m_panelOpen ? "|panel" : "") + (m.Looping() ? "|loop" : "") +
             (m.track > 0 ? "|track2" : "");
    m_stats.states.insert(state);
    const std::string step = action.Text();
    m_stats.transitions.insert(m_lastState + " -" + step.substr(0, step.find_first_of(":!")) +
                               "-> " + state);
    m_lastState = state;
}
