// How long the GUI thread is held up, at most, while the converter opens a large file,
// opens a slow one, seeks in the preview, and computes, zooms and plays the waveform of
// the panel. A 1 ms timer runs throughout; the longest gap between its ticks, less the
// millisecond, is the stall. Also says how soon the panel had the waveform's first columns.
//
//   stall_bench BIG_FILE
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>

#include "ConverterDialog.h"
#include "ConverterSession.h"
#include "FfmpegAudioSource.h"
#include "LibavLimits.h"
#include "MediaController.h"
#include "MediaTime.h"
#include "MpvPlaybackEngine.h"
#include "PanelController.h"
#include "PreviewPlayer.h"
#include "ProfileSettings.h"
#include "QFileDialogChoosers.h"
#include "ThreadedMediaProber.h"
#include "UserMessages.h"
#include "WaveformPyramid.h"
#include "WaveformView.h"

namespace {

// Answers every box at once, as if the user pressed OK; counts them.
class CountingMessages : public UserMessages {
  public:
    Answer Show(QWidget*, const QString& text, const QString&, Buttons, Icon) override {
        std::fprintf(stderr, "box: %s\n", qPrintable(text));
        ++boxes;
        return Answer::Ok;
    }
    void ShowUnowned(const QString&, const QString&, std::function<void()> onSeen) override {
        ++boxes;
        onSeen();
    }
    void DismissUnowned() override {}
    int boxes = 0;
};

// A file system that takes its time: the probe's source waits before it reads.
class SlowSource : public FfmpegAudioSource {
  public:
    bool ProbeMediaInSteps(const std::string& path, MediaInfo& info,
                           const EarlyInfo& early) override {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        return FfmpegAudioSource::ProbeMediaInSteps(path, info, early);
    }
};

qint64 ThreadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// How long the calling thread has waited, runnable, for a core (the kernel's schedstat).
qint64 RunDelayNs() {
    unsigned long long onCpu = 0;
    unsigned long long waited = 0;
    FILE* f = std::fopen("/proc/thread-self/schedstat", "r");
    if (f != nullptr) {
        if (std::fscanf(f, "%llu %llu", &onCpu, &waited) != 2) {
            waited = 0;
        }
        std::fclose(f);
    }
    return static_cast<qint64>(waited);
}

// Times every event the GUI thread delivers, on the wall clock and on the thread's own CPU
// clock, so that a stall can be told apart: a handler that computes, one that waits (on a
// lock, a disk), or the thread not running at all between events.
class TimedApplication : public QApplication {
  public:
    using QApplication::QApplication;
    struct Slowest {
        qint64 wallNs = 0;
        qint64 cpuNs = 0;
        int type = 0;
        std::string receiver;
    };
    bool notify(QObject* receiver, QEvent* event) override {
        if (m_depth++ > 0) {
            const bool handled = QApplication::notify(receiver, event);
            --m_depth;
            return handled;
        }
        const qint64 began = m_clock.nsecsElapsed();
        const qint64 cpu = ThreadCpuNs();
        const int type = event->type();  // the event may be gone once delivered
        const char* name = receiver->metaObject()->className();
        const char* parent =
            receiver->parent() ? receiver->parent()->metaObject()->className() : "";
        const bool handled = QApplication::notify(receiver, event);
        --m_depth;
        const qint64 took = m_clock.nsecsElapsed() - began;
        inEventsNs += took;
        if (took > slowest.wallNs) {
            slowest = {took, ThreadCpuNs() - cpu, type, std::string(name) + " in " + parent};
        }
        return handled;
    }
    // Starts a new span: what is counted from here on.
    void Reset() {
        if (!m_clock.isValid()) {
            m_clock.start();
        }
        inEventsNs = 0;
        slowest = {};
    }
    qint64 inEventsNs = 0;
    Slowest slowest;

  private:
    QElapsedTimer m_clock;
    int m_depth = 0;
};

class StallMeter {
  public:
    explicit StallMeter(TimedApplication& app) : m_app(app) {
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const qint64 cpu = ThreadCpuNs();
            const qint64 delay = RunDelayNs();
            if (now - m_last - 1'000'000 > m_worst) {
                m_worst = now - m_last - 1'000'000;
                m_why = QString::asprintf(
                            "the GUI thread ran %.1f ms of it and waited %.1f ms for a core, "
                            "%.1f ms in events; the slowest "
                            "%.1f ms (%.1f ms of it running): %s, type %d",
                            static_cast<double>(cpu - m_lastCpu) / 1e6,
                            static_cast<double>(delay - m_lastDelay) / 1e6,
                            static_cast<double>(m_app.inEventsNs) / 1e6,
                            static_cast<double>(m_app.slowest.wallNs) / 1e6,
                            static_cast<double>(m_app.slowest.cpuNs) / 1e6,
                            m_app.slowest.receiver.c_str(), m_app.slowest.type)
                            .toStdString();
            }
            m_last = now;
            m_lastCpu = cpu;
            m_lastDelay = delay;
            m_app.Reset();
        });
    }
    void Start() {
        m_worst = 0;
        m_why.clear();
        m_app.Reset();
        m_clock.start();
        m_last = 0;
        m_lastCpu = ThreadCpuNs();
        m_lastDelay = RunDelayNs();
        m_timer.start();
    }
    double StopMs() {
        m_timer.stop();
        return static_cast<double>(m_worst) / 1e6;
    }
    // What the GUI thread did in the longest gap.
    const std::string& Why() const { return m_why; }

  private:
    TimedApplication& m_app;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_lastCpu = 0;
    qint64 m_lastDelay = 0;
    qint64 m_worst = 0;
    std::string m_why;
};

template <typename Condition>
bool RunUntil(Condition done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: stall_bench BIG_FILE\n");
        return 2;
    }
    LibavLimits::Apply();
    TimedApplication app(argc, argv);
    const QString big = QString::fromLocal8Bit(argv[1]);

    ProfileSettings settings("orvane-stall-bench");
    // A stored output path: the start asks for no music folder.
    settings.WriteProfileString("Option", "output_cut_file", "/tmp/orvane-stall-bench.wav");
    // The panel open: the waveform computes while everything below goes on.
    settings.WriteProfileInt("Option", "precision_panel", 1);
    CountingMessages messages;
    QFileDialogChoosers choosers;
    bool slow = false;
    const AudioSourceFactory sources = [&slow]() -> std::unique_ptr<AudioStreamSource> {
        if (slow) {
            return std::make_unique<SlowSource>();
        }
        return std::make_unique<FfmpegAudioSource>();
    };
    ThreadedMediaProber prober(sources);
    int dragging = 0;
    const ConverterServices services{settings,
                                     messages,
                                     choosers,
                                     prober,
                                     [] {
                                         MpvPlaybackEngine::Options options;
                                         options.video = MpvPlaybackEngine::VideoOutput::None;
                                         options.audioOutput = "null";
                                         return std::make_unique<MpvPlaybackEngine>(options);
                                     },
                                     sources,
                                     dragging,
                                     /*spareEngine=*/true};
    ConverterSession session(services);
    session.Show();
    // The dialog's first paint (its fonts and style read in) is not part of opening a file.
    {
        QElapsedTimer shown;
        shown.start();
        RunUntil([&] { return shown.elapsed() > 300; }, 1000);
    }
    int opens = 0;
    QObject::connect(&session.Media(), &MediaController::openFinished, [&](bool) { ++opens; });
    StallMeter meter(app);
    int status = 0;

    // 1. A large file: probed on its thread, loaded by libmpv on its own; the waveform's
    // first columns (of an 800-column view of the whole file) follow.
    meter.Start();
    QElapsedTimer sinceOpen;
    sinceOpen.start();
    session.OpenMediaFile(big);
    const auto waveform = [&] { return session.PanelWork().Waveform().get(); };
    // A column is counted once the duration is known: before the probe answers, any
    // frame count would pass.
    const auto firstColumn = [&] {
        const WaveformPyramid* w = waveform();
        const double column = static_cast<double>(session.Media().Info().duration) /
                              MediaTime::kUnitsPerSecond * (w ? w->SampleRate() : 0) / 800;
        return w != nullptr && column > 0 && static_cast<double>(w->Frames()) >= column;
    };
    qint64 firstColumns = -1;
    qint64 probed = -1;    // the probe has told the duration: the waveform may start
    qint64 playable = -1;  // the preview has opened: the dialog no longer says "Opening…"
    const bool opened = RunUntil(
        [&] {
            if (firstColumns < 0 && firstColumn()) {
                firstColumns = sinceOpen.elapsed();
            }
            if (probed < 0 && session.Media().Info().duration > 0) {
                probed = sinceOpen.elapsed();
            }
            if (playable < 0 && opens == 1) {
                playable = sinceOpen.elapsed();
            }
            return opens == 1 && firstColumns >= 0;
        },
        60'000);
    if (!opened) {
        std::fprintf(stderr, "the large file did not open, or its waveform did not start\n");
        return 1;
    }
    const double openLarge = meter.StopMs();
    const std::string openWhy = meter.Why();

    // 2. Twenty seeks across it while it plays.
    session.Preview().Play();
    meter.Start();
    const int64_t duration = session.Media().Info().duration;
    for (int i = 0; i < 20; ++i) {
        session.Preview().SeekTo(duration / 21 * (i % 2 == 0 ? i : 20 - i));
        QElapsedTimer wait;
        wait.start();
        RunUntil([&] { return wait.elapsed() > 150; }, 1000);
    }
    const double seeks = meter.StopMs();

    // 3. The waveform zoomed in and out around the pointer, the selection played and
    // looped, while the waveform goes on computing.
    auto* view = session.Dialog().findChild<WaveformView*>();
    auto* playSelection = session.Dialog().findChild<QPushButton*>("playSelectionButton");
    auto* loop = session.Dialog().findChild<QPushButton*>("loopButton");
    if (view == nullptr || playSelection == nullptr || loop == nullptr) {
        std::fprintf(stderr, "the panel is missing\n");
        return 1;
    }
    meter.Start();
    for (int i = 0; i < 40; ++i) {
        view->ZoomAround(view->width() * (i % 7) / 7.0, i < 20 ? 0.5 : 2.0);
        if (i == 10) {
            playSelection->click();
        } else if (i == 25) {
            loop->click();
        }
        QElapsedTimer wait;
        wait.start();
        RunUntil([&] { return wait.elapsed() > 50; }, 1000);
    }
    const bool computing = !waveform()->Complete();
    const double zooms = meter.StopMs();
    if (!RunUntil([&] { return waveform()->Complete(); }, 600'000)) {
        std::fprintf(stderr, "the waveform did not complete\n");
        return 1;
    }
    const qint64 wholeWaveform = sinceOpen.elapsed();
    session.Preview().Stop();

    // 4. A slow file: two seconds before its probe reads anything.
    slow = true;
    meter.Start();
    session.OpenMediaFile(big);
    if (!RunUntil([&] { return opens == 2; }, 60'000)) {
        std::fprintf(stderr, "the slow file did not open\n");
        status = 1;
    }
    const double openSlow = meter.StopMs();

    std::printf(
        "longest GUI stall: opening a %.2f GB file %.1f ms; 20 seeks while playing %.1f ms; 40 "
        "zooms with the selection played and looped%s %.1f ms; opening a file that answers "
        "after 2 s %.1f ms; message boxes %d. Preview open %lld ms after the open. Waveform: "
        "first columns %lld ms after the open, whole %.1f s\n",
        static_cast<double>(QFile(big).size()) / 1e9, openLarge, seeks,
        computing ? " while the waveform computes" : "", zooms, openSlow, messages.boxes,
        static_cast<long long>(playable), static_cast<long long>(firstColumns),
        static_cast<double>(wholeWaveform) / 1000);
    std::printf(
        "  opening the large file: the probe answered after %lld ms; at the longest stall "
        "%s\n",
        static_cast<long long>(probed), openWhy.c_str());
    return status != 0 ? status : (messages.boxes == 0 ? 0 : 1);
}
