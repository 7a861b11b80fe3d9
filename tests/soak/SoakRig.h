#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ConversionJob.h"
#include "FakeChoosers.h"
#include "PreviewPlayer.h"
#include "ProfileSettings.h"
#include "SoakAction.h"
#include "SoakMessages.h"

class ConverterSession;
class PreviewWindow;
class QWidget;
class ThreadedMediaProber;

// A file the soak opens, and what the user should see of it.
struct SoakFile {
    std::string key;  // as the steps name it
    QString path;
    int lengthMs = 0;  // its real length; the dialog shows the whole seconds
    bool opens = true;
    bool video = false;
    bool audio = false;
    int channels = 0, rate = 0, bits = 0;  // of the WAV a conversion writes
    int fps = 0;                           // 0: no picture, the marks step by 10 ms
    int channels2 = 0, rate2 = 0;          // a second audio track
};

// Drives the real program (dialog, controllers, prober, libmpv without picture or sound,
// FFmpeg engine, settings in the scratch home) through a list of steps. After each step
// that is not hasty it waits up to 5 s for the program to settle into the state a small
// model of it expects, and stops at the first difference. Its own failures are returned,
// not asserted, so a run can be replayed and shrunk.
class SoakRig {
  public:
    struct Stats {
        int actions = 0;
        int sessions = 0;
        int opened = 0;
        int conversions = 0;
        int completed = 0;
        int stopped = 0;
        int failed = 0;
        int slowestSettleMs = 0;
        int duringWaveform = 0;  // steps begun while a waveform was being computed
        std::set<std::string> states;
        std::set<std::string> transitions;
        // Every 1000 steps, without sanitizers: heap in use and resident size, in KiB.
        struct Memory {
            int steps;
            long heapKib, residentKib;
        };
        std::vector<Memory> memory;
    };
    struct Result {
        std::string failure;  // empty when every check held
        int failedAt = -1;    // the step after which it was found
        Stats stats;
        bool Ok() const { return failure.empty(); }
    };

    SoakRig();
    ~SoakRig();
    SoakRig(const SoakRig&) = delete;
    SoakRig& operator=(const SoakRig&) = delete;

    // Runs the steps from a fresh start (settings cleared, outputs removed), ending with
    // the dialog closed. `label` names the run in the crash note.
    Result Run(const SoakActions& actions, const std::string& label);

    // Prints the run and step being done when the process dies of a signal.
    static void InstallCrashNote();
    static const std::vector<SoakFile>& Files();

  private:
    struct Job {
        QString output;
        QString media;
        int file = -1;
        int64_t start = 0, end = 0;
        int track = 0;   // the entry of the track box
        int format = 0;  // the entry of the format box
        enum class Expect { Writes, NoAudio, MediaGone, OutputFails } expect = Expect::Writes;
        bool stopAsked = false;
        bool replacing = false;
        QByteArray before;  // the replaced file's bytes
    };
    // What the program should show once it has settled.
    struct Model {
        int media = -1;  // index into Files()
        // The marks and the probed duration, in media time; -1 until the file has opened.
        int64_t start = 0, end = 0, duration = 0;
        bool endActive = false;  // the mark the [ and ] keys move
        PlayState preview = PlayState::Closed;
        bool looping = false;
        int track = 0;
        // The end of a part being auditioned, in ms; kAnyEnd when only the player knows it.
        int64_t rangeToMs = -1;
        bool fullScreen = false;
        QString output;
        std::vector<QString> expected;  // boxes due since the last check
        // Upper bound of the playing position when it started running, and when.
        int64_t playedFromMs = 0;
        std::chrono::steady_clock::time_point runningSince;
        int64_t positionMs = 0;
        bool positionKnown = true;
        bool exact = true;  // false after hasty steps, until the next check
    };

    void StartSession();
    void EndSession();
    void Perform(const SoakAction& action);
    bool Settle(const SoakAction& action);
    std::vector<std::string> Check();
    void Resync();
    void Fail(const std::string& what);

    void DoOpen(const SoakAction& action);
    void DoTransport(const SoakAction& action);
    void DoSlider(const SoakAction& action);
    void DoMark(bool start, bool key);
    void DoPanel(const SoakAction& action);
    void DoAudition(int which);
    void TypeInto(QWidget* field, const QString& text);
    void PressKey(Qt::Key key);
    void SetMarkInModel(bool end, int64_t rt);
    void DoConvert(const SoakAction& action);
    void DoPreview(const SoakAction& action);
    void DoHelpAndAbout(const SoakAction& action);
    void DoQuit(const SoakAction& action);
    void OnConversionEnded(const JobOutcome& outcome);

    void Click(int id);
    QWidget* Control(int id) const;
    PreviewPlayer* Player() const;
    PreviewWindow* VisibleWindow() const;
    const SoakFile* FileAt(const QString& path) const;
    // Where the preview should be now, in ms; -1 where the model cannot tell.
    int64_t ExpectedPositionMs() const;
    void ClosePreviewInModel();
    void PlayInModel(PlayState next);
    void SeekInModel(int64_t ms);
    // A running clip that the program shows held or stopped may have reached the end of its
    // part or of the file: the model follows when the time run allows it.
    void NoteEndOfPlay(PlayState state);
    void CheckFiles();
    std::string StateKey() const;

    static QString OutputPath(int index);
    static QString DefaultOutput();

    ProfileSettings m_settings;
    SoakMessages m_messages;
    FakeChoosers m_choosers;
    int m_dragging = 0;
    int m_mediaChanges = 0;
    std::unique_ptr<ThreadedMediaProber> m_prober;
    std::unique_ptr<ConverterSession> m_session;
    bool m_finished = false;
    bool m_closing = false;
    bool m_browser = true;
    // Kept in the settings from one dialog to the next.
    bool m_panelOpen = false;
    int m_format = 0;
    std::vector<QUrl> m_urls;

    Model m_model;
    std::optional<Job> m_job;
    QString m_lastWritten;
    std::map<QString, QByteArray> m_kept;  // files the user declined to replace
    std::string m_failure;
    std::string m_lastState;
    Stats m_stats;
};
