#pragma once

#include <QAction>
#include <QApplication>
#include <QByteArray>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSettings>
#include <QString>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

// What the parts of the rig all drive.
#include "ConversionController.h"
#include "ConversionJob.h"
#include "ConverterDialog.h"
#include "ConverterSession.h"
#include "FakeChoosers.h"
#include "MarkTimeEdit.h"
#include "MediaController.h"
#include "PositionSlider.h"
#include "PrecisionPanel.h"
#include "PreviewPlayer.h"
#include "PreviewWindow.h"
#include "ProfileSettings.h"
#include "SoakModel.h"
#include "TestUnits.h"
#include "ThreadedMediaProber.h"
#include "UserMessages.h"
#include "WaitFor.h"

// One step of a random soak run: what the user does, with its parameters. Every step has a
// text form ("open:mp4", "convert:yes:close!", "drag:300:800"), so that a run prints as a
// list that replays exactly.
struct SoakAction {
    enum class Kind {
        Open,    // a: file (choosing it in Open Media File)
        Drop,    // a: file (dropped on the dialog)
        Delete,  // the file "doomed" is deleted, open or not
        Play,    // the dialog's transport buttons
        Pause,
        Stop,
        Drag,    // a: slider position to drag the thumb to, b: milliseconds held there
        Groove,  // a: slider position clicked
        StartTime,
        EndTime,
        Output,         // a: path typed into the output box
        Browse,         // a: the save chooser's answer
        Convert,        // a: answer to the replace question, b: what the user does meanwhile
        Wait,           // a: milliseconds of doing nothing
        ClosePreview,   // the preview window's close box
        Menu,           // a: item of the preview window's menu
        Escape,         // Esc on the preview window
        ClickPreview,   // a left click on the preview window
        EnterInOutput,  // Enter in the output box, which must do nothing
        Help,           // a: whether a browser takes the page
        Homepage,
        About,  // a: from the button or the dialog's menu
        Quit,   // a: how the dialog is ended; a new one starts
        // The precision panel, and the keys that stand for its commands.
        More,      // the More/Less button
        TypeMark,  // a: which mark, b: the time typed, in milliseconds
        JunkMark,  // a: which mark gets a text that is no time
        Nudge,     // a: a mark's step button, or the [ and ] keys
        MarkKey,   // a: I or O
        Audition,  // a: Play selection, Loop, Play start, Play end
        Track,     // a: the track box's entry
        Format,    // a: the format box's entry
        Box,       // a: the exact-end or the modern-header check box, clicked
    };

    Kind kind = Kind::Wait;
    int a = 0;
    int b = 0;
    // Done without waiting for the program to settle: the next step comes at once. At most
    // one step in ten is hasty.
    bool hasty = false;

    std::string Text() const;
};

using SoakActions = std::vector<SoakAction>;

// The soak's user reading the boxes: every box is recorded and read for a moment, during
// which the program's own events go on as they would under a modal box. A Yes/No question
// gets the current step's answer, and the first box a step shows with an owner may let the
// user do something in the windows the box leaves usable (the preview's) before answering.
// Boxes without an owner are read a moment later, unless dismissed first.
class SoakMessages : public UserMessages {
  public:
    static constexpr int kReadingMs = 15;

    std::vector<QString> records;  // "Caption: text", since the last check
    Answer answer = Answer::No;
    std::function<void()> meanwhile;

    Answer Show(QWidget* owner, const QString& text, const QString& caption, Buttons buttons,
                Icon) override {
        records.push_back(caption + ": " + text);
        if (owner != nullptr && meanwhile) {
            std::exchange(meanwhile, {})();
        }
        ProcessEventsFor(kReadingMs);
        return buttons != Buttons::YesNo ? Answer::Ok
               : answer == Answer::Yes   ? Answer::Yes
                                         : Answer::No;
    }

    void ShowUnowned(const QString& text, const QString& caption,
                     std::function<void()> onSeen) override {
        records.push_back(caption + ": " + text);
        m_unread.emplace(++m_lastId, std::move(onSeen));
        QTimer::singleShot(kReadingMs * 4, &m_context, [this, id = m_lastId] { Read(id); });
    }

    void DismissUnowned() override {
        while (!m_unread.empty()) {
            Read(m_unread.begin()->first);
        }
    }

  private:
    void Read(int id) {
        // Taken out before it runs, so that what it does cannot read it twice.
        auto unread = m_unread.extract(id);
        if (!unread.empty() && unread.mapped()) {
            unread.mapped()();
        }
    }

    QObject m_context;
    std::map<int, std::function<void()>> m_unread;
    int m_lastId = 0;
};

// A file the soak opens, and what the model knows of it from how it was made.
struct SoakFile {
    std::string key;  // as the steps name it
    QString path;
    bool opens = true;
    int channels = 0, rate = 0, bits = 0;  // of the WAV a conversion writes; 0: no sound
    int fps = 0;                           // 0: no picture, the marks step by 10 ms
    int channels2 = 0, rate2 = 0;          // a second audio track
    int soundMs = 0;                       // the length of the sound it was made with
    int64_t duration = 0;                  // the container's, as ffprobe tells it
    int64_t firstPicture = 0;              // the first picture's time, as ffprobe tells it
};

// A conversion as the dialog was asked for it, for the same cut from orvane-extract, and
// how it is expected to end.
struct SoakJob {
    QString output;
    int file = -1;
    std::string media;
    int64_t start = 0, end = 0;  // media time
    int track = 1;               // counted from 1
    int format = 0;              // the format box's entry: auto, s16, s24, s32, f32
    bool modern = false, exactEnd = false;
    JobOutcome::Status status = JobOutcome::Status::Completed;  // expected, then seen
    QString box{};                                              // the box its end shows
    bool stopAsked = false, replacing = false;
    QByteArray before{};  // the replaced file's digest
};

// orvane-extract of the build: in ORVANE_BIN_DIR when CTest sets it, else beside the test.
std::string SoakCommandPath();

// Drives the real program (dialog, controllers, prober, libmpv without picture or sound,
// FFmpeg engine, settings in the scratch home) through a list of steps. After each step
// that is not hasty it waits up to 5 s for the program to settle into the state the model
// (SoakModel and the rig's own records of outputs and boxes) expects, and stops at the first
// difference. Its own failures are returned, not asserted, so a run can be replayed and
// shrunk. A rig does one run.
class SoakRig {
  public:
    struct Stats {
        int actions = 0, hasty = 0, sessions = 0, opened = 0, duringWaveform = 0;
        int conversions = 0, completed = 0, stopped = 0, failed = 0;
        int compared = 0;       // WAVs equal to orvane-extract's
        int prefixes = 0;       // stopped WAVs that are the start of orvane-extract's
        int lengthChecked = 0;  // WAVs whose length the model predicted to the byte
        int takenOver = 0;      // settles after a hasty step that took the play state over
        int slowestSettleMs = 0;
        int largestLagMs = 0;  // the program's position behind or ahead of the model's, playing
        int knownFaults = 0;   // steps whose outcome a known fault of the program changed
        std::set<std::string> states, transitions;
        // Heap in use with the dialog closed, after each 1000 steps; -1 under sanitizers.
        std::vector<std::pair<int, long>> heapKib;
    };
    struct Result {
        std::string failure;  // empty when every check held
        int failedAt = -1;    // the step after which it was found
        Stats stats;
    };

    SoakRig();
    ~SoakRig();

    // Runs the steps from a fresh start (settings cleared, outputs removed), ending with
    // the dialog closed. `label` names the run in the crash note.
    Result Run(const SoakActions& actions, const std::string& label);

    // Prints the run and step being done when the process dies of a signal.
    static void InstallCrashNote();
    static const std::vector<SoakFile>& Files();

  private:
    using Step = void (SoakRig::*)(const SoakAction&);

    void StartSession();
    void EndSession();
    void Perform(const SoakAction& action);
    void Settle(const SoakAction& action);
    // What differs from the model, empty when nothing does.
    std::string Check(bool withPlay);
    std::string PlayDiffers();
    std::string BoxesDiffer() const;
    // The first failure is the one reported; Want() fails unless `ok`.
    void Fail(const std::string& what) { m_failure = m_failure.empty() ? what : m_failure; }
    void Want(bool ok, const std::string& what) { Fail(ok ? std::string() : what); }
    void Resolve();

    void DoOpen(const SoakAction& action);
    void DoTransport(const SoakAction& action);
    void DoSlider(const SoakAction& action);
    void DoMark(const SoakAction& action);
    void DoPanel(const SoakAction& action);
    void DoAudition(const SoakAction& action);
    void DoOutput(const SoakAction& action);
    void DoConvert(const SoakAction& action);
    void DoWait(const SoakAction& action);
    void DoPreview(const SoakAction& action);
    void DoMenu(const SoakAction& action);
    void DoHelp(const SoakAction& action);
    void DoQuit(const SoakAction& action);
    void SwitchFullScreenInModel();
    QWidget* FocusKeys();

    void OnConversionEnded(const JobOutcome& outcome);
    void CompareEnded();
    std::string CompareWav(const SoakJob& job);

    void Click(int id);
    QWidget* Control(int id) const { return m_session->Dialog().Control(id); }
    PreviewPlayer& Player() const { return m_session->Preview(); }
    PreviewWindow* VisibleWindow() const;
    static const SoakFile& File(int index) { return Files().at(static_cast<size_t>(index)); }
    static QString OutputPath(int index);
    static QString DefaultOutput();

    ProfileSettings m_settings;
    SoakMessages m_messages;
    FakeChoosers m_choosers;
    int m_dragging = 0;
    std::unique_ptr<ThreadedMediaProber> m_prober;
    std::unique_ptr<ConverterSession> m_session;
    bool m_finished = false, m_closing = false, m_browser = true;
    std::vector<QUrl> m_urls;

    // The model: the marks and the clip, and what the rig itself keeps of the steps.
    SoakModel m_model;
    int m_mediaChanges = 0;
    std::vector<int> m_requested;  // files the steps opened whose open has not yet started
    int m_pendingOpen = -1;        // the file whose open the program has yet to answer
    bool m_pendingClose = false;
    QString m_output;
    std::vector<QString> m_expected;  // boxes due since the last check
    // Kept in the settings from one dialog to the next.
    bool m_panelOpen = false, m_exactEnd = false, m_modern = false;
    int m_format = 0;
    bool m_watchWrap = false;     // a released loop's position is being watched
    int64_t m_lastPosition = -1;  // the last position told since Loop was let go

    std::optional<SoakJob> m_job;
    std::vector<SoakJob> m_ended;  // conversions whose WAV is yet to be compared
    QString m_lastWritten;
    std::map<QString, QByteArray> m_kept;  // digests of files the user declined to replace
    std::string m_failure, m_lastState;
    int m_step = 0;
    bool m_afterHasty = false;  // the step before was not waited for
    Stats m_stats;
};

// What the parts of the rig share: its constants, a text the program shows, small helpers.
namespace soak {

using Clock = SoakModel::Clock;
using D = ConverterDialog;
using Kind = SoakAction::Kind;
constexpr const char* kApp = "orvane-soak-tests";
constexpr int kSettleMs = 5000;
inline const QString kMarksReversed = "Error: The Start Time is bigger than the End Time!";

inline std::string Str(const QString& text) {
    return text.toStdString();
}

// HH:MM:SS, as the dialog shows a mark.
inline QString ClockText(int64_t rt) {
    const auto s = static_cast<int>(rt / kSecond);
    return QString::asprintf("%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
}

inline void Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(bytes);
    }
}

// A file's contents as a digest: the rig keeps what must stay unchanged without holding the
// bytes, which would count in the heap it measures.
inline QByteArray Digest(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

// The folder the outputs go to, beside the media.
inline QString OutputDir() {
    return QFileInfo(SoakRig::Files().front().path).absolutePath() + "/out";
}

inline int ElapsedMs(Clock::time_point since) {
    return static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

}  // namespace soak
