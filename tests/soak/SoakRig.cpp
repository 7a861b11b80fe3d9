#include "SoakRig.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
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
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cctype>
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
#include "MarkTimeEdit.h"
#include "MediaController.h"
#include "MpvPlaybackEngine.h"
#include "MpvReaper.h"
#include "PanelController.h"
#include "PositionSlider.h"
#include "PrecisionPanel.h"
#include "PreviewPlayer.h"
#include "PreviewWindow.h"
#include "SoakCommon.h"
#include "TestMedia.h"
#include "ThreadedMediaProber.h"
#include "WaitFor.h"

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
    m_kept = {{OutputPath(2), Bytes(OutputPath(2))}};
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
    bool unsettled = false;
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
            Settle(action, unsettled);
        }
        unsettled = action.hasty;
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
    if (m_model.file >= 0) {
        m_model.Advance(Now(), Player().State());
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

std::vector<std::string> SoakRig::Check(bool withPlay) {
    std::vector<std::string> problems;
    const auto want = [&problems](bool ok, const std::string& what) {
        if (!ok) {
            problems.push_back(what);
        }
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
    // The dialog.
    const QString label = static_cast<QPushButton*>(Control(D::IDC_CONVERT))->text();
    want(label == (m_job && !m_job->stopAsked ? "Stop" : "Convert"),
         "the button reads " + Str(label));
    want(m_job || static_cast<QProgressBar*>(Control(D::IDC_PROGRESS))->value() == 0,
         "the progress bar stays up with no conversion");
    want(dialog.isVisible(), "the dialog is not visible");
    want(m_dragging == 0, "the slider is held");
    const int slider = dialog.SliderPosition();
    want(slider >= 0 && slider <= PositionSlider::kRange, "the slider is out of range");
    // The file and the marks.
    const SoakFile* open = FileAt(media.MediaPath());
    const SoakFile* expected = m.file >= 0 ? &Files()[static_cast<size_t>(m.file)] : nullptr;
    want(open == expected, "the open file is " + (open ? open->key : "none") + " instead of " +
                               (expected ? expected->key : "none"));
    want(Control(D::IDC_PLAY)->isEnabled() == (open != nullptr),
         "the media controls' state is wrong");
    want(player.IsOpen() == (open != nullptr), "a preview is open without a file, or none with");
    want(m.start.Holds(media.StartMark()) && m.end.Holds(media.EndMark()),
         "the marks are " + Expected{media.StartMark(), 0}.Text() + " and " +
             Expected{media.EndMark(), 0}.Text() + " where the model has " + m.start.Text() +
             " and " + m.end.Text());
    const QString startText = static_cast<QLabel*>(Control(D::IDC_START_TEXT))->text();
    const QString endText = static_cast<QLabel*>(Control(D::IDC_END_TEXT))->text();
    want(startText == ClockText(media.StartMark()) && endText == ClockText(media.EndMark()),
         "the mark texts do not show the marks");
    PrecisionPanel* panel = dialog.Panel();
    want(panel->MarkField(Mark::Start)->text() == TimeText(media.StartMark()) &&
             panel->MarkField(Mark::End)->text() == TimeText(media.EndMark()),
         "the panel's mark fields do not show the marks");
    if (expected != nullptr) {
        const QString name =
            QFileInfo(expected->path).fileName() + (expected->audio ? "" : " (no sound)");
        const QString info = dialog.Info();
        want(info.startsWith(name + "   ") && info.endsWith(" / " + ClockText(m.duration)),
             "the info line reads \"" + Str(info) + "\"");
        want(media.Duration() == m.duration &&
                 (!m.loaded || Expected{m.duration, 0}.Holds(player.Duration())),
             "the file's length is " + Expected{media.Duration(), 0}.Text() + ", the preview's " +
                 Expected{player.Duration(), 0}.Text() + ", where ffprobe tells " +
                 Expected{m.duration, 0}.Text());
        PreviewWindow* window = player.Window();
        want(window != nullptr && window->isVisible() == expected->video,
             "the preview window is shown for a file without video, or hidden for one with");
        want(window != nullptr && window->isFullScreen() == player.IsFullScreen() &&
                 player.IsFullScreen() == m.fullScreen,
             std::string("the preview's full screen is ") + (player.IsFullScreen() ? "on" : "off") +
                 (window != nullptr && window->isFullScreen() ? ", its window's on" : "") +
                 " where the model has it " + (m.fullScreen ? "on" : "off"));
        want(panel->findChild<QComboBox*>("trackBox")->currentIndex() ==
                 (expected->audio ? m.track : -1),
             "the track box shows another track");
    } else {
        want(dialog.Info().isEmpty(),
             "the info line reads \"" + Str(dialog.Info()) + "\" with no file");
    }
    // The panel and the output.
    want(panel->findChild<QPushButton*>("playSelectionButton")->isEnabled() == (open != nullptr),
         "the panel's controls' state is wrong");
    want(dialog.IsPanelOpen() == panel->isVisible() && dialog.IsPanelOpen() == m_panelOpen,
         "the panel is open where it should be closed, or closed where it should be open");
    want(panel->findChild<QComboBox*>("formatBox")->currentIndex() == m_format &&
             panel->findChild<QCheckBox*>("exactEndBox")->isChecked() == m_exactEnd &&
             panel->findChild<QCheckBox*>("modernHeaderBox")->isChecked() == m_modern,
         "the format box or a check box shows another choice");
    want(dialog.OutputPath() == m_output, "the output box reads " + Str(dialog.OutputPath()));
    std::vector<QString> seen;
    for (const auto& r : m_messages.records) {
        seen.push_back(r.text);
    }
    std::sort(seen.begin(), seen.end());
    std::vector<QString> due = m_expected;
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
    if (withPlay && expected != nullptr) {
        CheckPlay(&problems);
    }
    return problems;
}

void SoakRig::CheckPlay(std::vector<std::string>* problems) {
    PreviewPlayer& player = Player();
    const Clock::time_point now = Now();
    m_model.Advance(now, player.State());
    const Expected at = m_model.Position(now);
    const bool loop =
        m_session->Dialog().Panel()->findChild<QPushButton*>("loopButton")->isChecked();
    if (player.State() != m_model.State() || !at.Holds(player.Position()) ||
        player.IsLooping() != m_model.Looping() || loop != m_model.Looping()) {
        static const char* const kStates[] = {"stopped", "paused", "running", "closed"};
        problems->push_back(
            std::string("the clip is ") + kStates[static_cast<int>(player.State())] + " at " +
            Expected{player.Position(), 0}.Text() + (player.IsLooping() ? ", looping" : "") +
            (loop ? ", the Loop button down" : "") + ", where the model has it " +
            m_model.ClipText(now));
    }
}

void SoakRig::Settle(const SoakAction& action, bool afterHasty) {
    const Clock::time_point began = Clock::now();
    // What the step queued (a drop, a menu command, a close) runs before the first check.
    for (int round = 0; round < 3; ++round) {
        QCoreApplication::processEvents();
    }
    // After a hasty step the play state and the position may be taken over once the rest
    // has settled.
    std::vector<std::string> problems;
    const bool settled = WaitFor(
        [&] {
            problems = Check(!afterHasty);
            return problems.empty() || !m_failure.empty();
        },
        kSettleMs);
    const int took = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count());
    m_stats.slowestSettleMs = std::max(m_stats.slowestSettleMs, took);
    if (!m_failure.empty()) {
        return;
    }
    if (!settled) {
        std::string text = "not settled within 5 s:";
        for (const std::string& p : problems) {
            text += " " + p + ";";
        }
        Fail(text);
        return;
    }
    PreviewPlayer& player = Player();
    if (afterHasty && m_model.file >= 0) {
        std::vector<std::string> play;
        CheckPlay(&play);
        if (!play.empty()) {
            ++m_stats.takenOver;
            std::printf(
                "[ soak ] step %d, after a hasty step: the model takes the play state "
                "and position over from the program: %s\n",
                m_step, play.front().c_str());
            m_model.TakeOver(player.State(), player.Position(), player.IsPlayingRange(),
                             player.IsLooping(), Now());
        }
    }
    if (m_model.State() == PlayState::Running && !m_model.Looping()) {
        const int64_t lag = std::llabs(player.Position() - m_model.Position(Now()).t);
        m_stats.largestLagMs = std::max(m_stats.largestLagMs, static_cast<int>(lag / kMs));
    }
    CompareEnded();
    m_messages.records.clear();
    m_expected.clear();
    const std::string state = StateKey();
    m_stats.states.insert(state);
    const std::string step = action.Text();
    m_stats.transitions.insert(m_lastState + " -" + step.substr(0, step.find_first_of(":!")) +
                               "-> " + state);
    m_lastState = state;
}

std::string SoakRig::StateKey() const {
    const SoakModel& m = m_model;
    static const char* const kStates[] = {"stopped", "paused", "running", "closed"};
    std::string key = m.file >= 0 ? Files()[static_cast<size_t>(m.file)].key : "none";
    key += std::string("|") + kStates[static_cast<int>(m.State())] + (m.fullScreen ? "|full" : "");
    key += m_job ? "|converting" : "";
    key += m.MarksInOrder() != 1                                      ? "|marks-reversed"
           : (m.start.t > 0 || (m.file >= 0 && m.end.t < m.duration)) ? "|marks-set"
                                                                      : "";
    key += std::string(m_panelOpen ? "|panel" : "") + (m.Looping() ? "|loop" : "") +
           (m.track > 0 ? "|track2" : "");
    return key;
}
