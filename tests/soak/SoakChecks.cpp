// What the program should show once a step has settled, as the model has it, and the
// settling itself.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>

#include "MarkTimeEdit.h"
#include "PositionSlider.h"
#include "SoakRig.h"

using namespace soak;

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
         "the marks are " + Expected{media.StartMark(), 0}.Text() + " and " +
             Expected{media.EndMark(), 0}.Text() + " where the model has " + m.start.Text() +
             " and " + m.end.Text());
    const QString startText = static_cast<QLabel*>(Control(D::IDC_START_TEXT))->text();
    const QString endText = static_cast<QLabel*>(Control(D::IDC_END_TEXT))->text();
    want(startText == ClockText(media.StartMark()) && endText == ClockText(media.EndMark()),
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
             "the file's length is " + Expected{media.Duration(), 0}.Text() + ", the preview's " +
                 Expected{player.Duration(), 0}.Text() + ", where ffprobe tells " +
                 Expected{m.duration, 0}.Text());
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
    } else {
        want(dialog.Info().isEmpty(),
             "the info line reads \"" + Str(dialog.Info()) + "\" with no file");
    }
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
    if (withPlay && expected != nullptr) {
        CheckPlay(&problems);
    }
    return problems;
}

std::string SoakRig::BoxesDiffer() const {
    std::vector<QString> seen = m_messages.records;
    std::vector<QString> due = m_expected;
    std::sort(seen.begin(), seen.end());
    std::sort(due.begin(), due.end());
    std::string text = "the boxes shown were:";
    for (size_t i = 0; i < seen.size() + due.size(); ++i) {
        text += (i == seen.size() ? "; expected: [" : " [") +
                Str(i < seen.size() ? seen[i] : due[i - seen.size()]) + "]";
    }
    return seen == due ? "" : text;
}

void SoakRig::CheckPlay(std::vector<std::string>* problems) {
    PreviewPlayer& player = Player();
    const Clock::time_point now = Clock::now();
    m_model.Advance(now, player.State());
    const Expected at = m_model.Position(now);
    const bool loop =
        m_session->Dialog().Panel()->findChild<QPushButton*>("loopButton")->isChecked();
    if (player.State() != m_model.State() || !at.Holds(player.Position()) ||
        player.IsLooping() != m_model.Looping() || loop != m_model.Looping()) {
        problems->push_back(std::string("the clip is ") + StateName(player.State()) + " at " +
                            Expected{player.Position(), 0}.Text() +
                            (player.IsLooping() ? ", looping" : "") +
                            (loop ? ", the Loop button down" : "") + ", where the model has it " +
                            m_model.ClipText(now));
    }
}

void SoakRig::Settle(const SoakAction& action) {
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
            problems = Check(!m_afterHasty);
            return problems.empty() || !m_failure.empty();
        },
        kSettleMs);
    m_stats.slowestSettleMs = std::max(m_stats.slowestSettleMs, ElapsedMs(began));
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
    if (m_afterHasty && m_model.file >= 0) {
        std::vector<std::string> play;
        CheckPlay(&play);
        if (!play.empty()) {
            ++m_stats.takenOver;
            std::printf(
                "[ soak ] step %d, after a hasty step: the model takes the play state "
                "and position over from the program: %s\n",
                m_step, play.front().c_str());
            m_model.TakeOver(player.State(), player.Position(), player.IsPlayingRange(),
                             player.IsLooping(), Clock::now());
        }
    }
    if (m_model.State() == PlayState::Running && !m_model.Looping()) {
        const int64_t lag = std::llabs(player.Position() - m_model.Position(Clock::now()).t);
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
    std::string key = m.file >= 0 ? File(m.file).key : "none";
    key += std::string("|") + StateName(m.State()) + (m.fullScreen ? "|full" : "");
    key += m_job ? "|converting" : "";
    key += m.MarksInOrder() != 1                                      ? "|marks-reversed"
           : (m.start.t > 0 || (m.file >= 0 && m.end.t < m.duration)) ? "|marks-set"
                                                                      : "";
    key += std::string(m_panelOpen ? "|panel" : "") + (m.Looping() ? "|loop" : "") +
           (m.track > 0 ? "|track2" : "");
    return key;
}
