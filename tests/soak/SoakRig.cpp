#include "SoakRig.h"

#include <malloc.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
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
#include <QRegularExpression>
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
#include "MediaController.h"
#include "MpvPlaybackEngine.h"
#include "PositionSlider.h"
#include "PreviewController.h"
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

class Choosers : public FileChoosers {
  public:
    Choosers(const QString& open, const QString& save) : m_open(open), m_save(save) {}
    QString ChooseMediaFile(QWidget*, const QString&, const QString&) override { return m_open; }
    QString ChooseOutputFile(QWidget*, const QString&, const QString&, const QString&) override {
        return m_save;
    }

  private:
    const QString& m_open;
    const QString& m_save;
};

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

std::string Str(const QString& text) {
    return text.toStdString();
}

// A box the program may show during the soak, whatever the order of events.
bool KnownBox(const QString& text) {
    if (text == kProbeFailed || text == "Error: The Start Time is bigger than the End Time!" ||
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
             6504, true, true, true, 2, 44100, 16});
        f.push_back(
            {"mp4",
             make("clip.mp4", video + "5.5:s=160x120:r=25 -f lavfi -i sine=f=660:r=48000:d=5.5 "
                                      "-ac 2 -c:v mpeg4 -c:a aac"),
             5520, true, true, true, 2, 48000, 16});
        f.push_back({"mkv",
                     make("Matroska clip.mkv",
                          video + "4.5:s=96x72:r=15 -f lavfi -i "
                                  "sine=f=330:r=22050:d=4.5 -c:v mpeg4 -c:a libmp3lame"),
                     4584, true, true, true, 1, 22050, 16});
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
             40512, true, true, true, 2, 48000, 16});
        f.push_back({"noaudio", make("silent.mp4", video + "3.5:s=96x72:r=15 -c:v mpeg4"), 3534,
                     true, true, false});
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

SoakRig::SoakRig()
    : m_settings(kApp), m_choosers(std::make_unique<Choosers>(m_openAnswer, m_saveAnswer)) {
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
                                     *m_choosers,
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
    m_session = std::make_unique<ConverterSession>(services);
    QObject::connect(m_session.get(), &ConverterSession::finished, [this] { m_finished = true; });
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

CPreviewPlayer* SoakRig::Player() const {
    return m_session->Preview().Player();
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

int SoakRig::ShownSeconds() const {
    static const QRegularExpression clock("   (\\d\\d):(\\d\\d):(\\d\\d) / \\d\\d:\\d\\d:\\d\\d$");
    const QRegularExpressionMatch m = clock.match(m_session->Dialog().Info());
    if (!m.hasMatch()) {
        return -1;
    }
    return m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toInt();
}

void SoakRig::Perform(const SoakAction& action) {
    if (action.hasty) {
        m_model.exact = false;
    }
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
            DoMark(action.kind == Kind::StartTime);
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
            m_saveAnswer = action.a == 0 ? QString() : OutputDir() + "/" + kBrowsed[action.a].first;
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
        m_openAnswer = file.path;
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
    m_model.media = action.a;
    m_model.startSec = 0;
    m_model.endSec = file.lengthMs / 1000;
    m_model.preview = Stopped;
    m_model.fullScreen = false;
    m_model.positionMs = 0;
}

void SoakRig::DoTransport(const SoakAction& action) {
    const int id = action.kind == Kind::Play    ? D::IDC_PLAY
                   : action.kind == Kind::Pause ? D::IDC_PAUSE
                                                : D::IDC_STOP;
    if (Control(id)->isEnabled()) {
        PlayInModel(action.kind == Kind::Play    ? Running
                    : action.kind == Kind::Pause ? Paused
                                                 : Stopped);
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
    if (next == Running && (m.preview == Stopped || m.preview == Paused)) {
        m.playedFromMs = m.positionMs;
        m.runningSince = Clock::now();
        m.preview = Running;
    } else if (next == Paused && m.preview == Running) {
        m.positionMs = std::min(length, m.playedFromMs + ran);
        m.preview = Paused;
    } else if (next == Stopped && (m.preview == Running || m.preview == Paused)) {
        m.positionMs = 0;
        m.preview = Stopped;
    }
}

void SoakRig::SeekInModel(int64_t ms) {
    m_model.positionMs = ms;
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
        const QString media = m_session->Media().MediaPath();
        ProcessEventsFor(action.b);
        // Reports leave the thumb to the mouse; a file that opens meanwhile starts it at 0.
        if (slider->value() != held && m_session->Media().MediaPath() == media) {
            Fail("the thumb moved from " + std::to_string(held) + " to " +
                 std::to_string(slider->value()) + " while the user held it");
        }
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

void SoakRig::DoMark(bool start) {
    const int id = start ? D::IDC_START_TIME : D::IDC_END_TIME;
    if (!Control(id)->isEnabled()) {
        return;
    }
    const int shown = ShownSeconds();
    Click(id);
    const QString text =
        static_cast<QLabel*>(Control(start ? D::IDC_START_TEXT : D::IDC_END_TEXT))->text();
    if (!m_model.exact) {
        return;
    }
    // The mark is the position of the preview's last report: what the info line shows, or
    // a report that was polled but has not reached the line yet.
    if (text != ClockText(shown) && text != ClockText(shown + 1)) {
        Fail(std::string(start ? "Start" : "End") + " Time gave " + Str(text) +
             " while the dialog showed " + Str(ClockText(shown)));
    }
    const int seconds =
        text.left(2).toInt() * 3600 + text.mid(3, 2).toInt() * 60 + text.right(2).toInt();
    (start ? m_model.startSec : m_model.endSec) = seconds;
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
    m_model.startSec = m_model.endSec = 0;
    m_model.preview = Closed;
    m_model.fullScreen = false;
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
    const bool enabled[] = {true, true, state != Running, state == Running, state != Stopped, true};
    if (m_model.exact && item->isEnabled() != enabled[action.a]) {
        Fail(std::string("the preview menu's ") + kItems[action.a] + " is " +
             (item->isEnabled() ? "enabled" : "greyed") + " in state " + std::to_string(state));
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
                PlayInModel(Running);
                break;
            case 3:
                PlayInModel(Paused);
                break;
            case 4:
                PlayInModel(Stopped);
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
        m_model.expected.push_back(box);
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
    const WavFile wav = WavFile::Read(Str(job.output));
    if (!wav.Valid() || wav.channels != file.channels ||
        wav.rate != static_cast<uint32_t>(file.rate) || wav.bits != file.bits ||
        wav.DataBytes() % wav.blockAlign != 0) {
        Fail(Str(job.output) + " is not a valid WAV of " + file.key + "'s format and whole frames");
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
        if (m_kept.count(path) == 0 && IsFile(path) && !WavFile::Read(Str(path)).Valid()) {
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
    CPreviewPlayer* player = Player();
    // Still under way: must end within the time allowed.
    want(!media.IsOpening(), "a file is still opening");
    want(player == nullptr || !player->isLoading(), "the preview is still loading");
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
        const QString name = QFileInfo(open->path).fileName();
        const QString info = dialog.Info();
        want(info.startsWith(name + "   ") &&
                 info.endsWith(" / " + ClockText(open->lengthMs / 1000)),
             "the info line reads \"" + Str(info) + "\"");
        want(player != nullptr && player->state() != Closed, "a file is open without a preview");
        PreviewWindow* window = player != nullptr ? player->Window() : nullptr;
        want(window != nullptr && window->isVisible() == open->video,
             "the preview window is shown for a file without video, or hidden for one with");
        want(window != nullptr && window->isFullScreen() == player->isFullScreen(),
             "the preview window's full screen differs from the player's");
        for (int64_t mark : {media.StartMark(), media.EndMark()}) {
            want(mark >= 0 && mark <= (open->lengthMs + 1000) * 10'000,
                 "a mark lies outside the file");
        }
        want(startText == ClockText(static_cast<int>(media.StartMark() / 10'000'000)) &&
                 endText == ClockText(static_cast<int>(media.EndMark() / 10'000'000)),
             "the mark texts do not show the marks");
    } else {
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
    want(startText == ClockText(m.startSec) && endText == ClockText(m.endSec),
         "the marks read " + Str(startText) + " and " + Str(endText) + " instead of " +
             Str(ClockText(m.startSec)) + " and " + Str(ClockText(m.endSec)));
    const PlayState state = m_session->Preview().State();
    if (m.preview == Running && state == Stopped && expected != nullptr) {
        // The clip may have played to its end, which stops it.
        const auto ran =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m.runningSince)
                .count();
        if (ran >= expected->lengthMs - m.playedFromMs - 1000) {
            m.preview = Stopped;
            m.positionMs = 0;
        }
    }
    want(state == m.preview, "the preview is in state " + std::to_string(state) + " instead of " +
                                 std::to_string(m.preview));
    want(player == nullptr || player->isFullScreen() == m.fullScreen,
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
    m.startSec = static_cast<int>(media.StartMark() / 10'000'000);
    m.endSec = static_cast<int>(media.EndMark() / 10'000'000);
    m.preview = m_session->Preview().State();
    m.fullScreen = Player() != nullptr && Player()->isFullScreen();
    m.output = m_session->Dialog().OutputPath();
    m.positionMs = m_session->Preview().Position() / 10'000;
    m.playedFromMs = 0;  // unknown: an end of the clip is then allowed at any time
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
    key += std::string("|") + kStates[m.preview] + (m.fullScreen ? "|full" : "");
    key += m_job ? "|converting" : "";
    key += m.startSec >= m.endSec ? "|marks-reversed"
           : (m.startSec > 0 ||
              (m.media >= 0 && m.endSec < Files()[static_cast<size_t>(m.media)].lengthMs / 1000))
               ? "|marks-set"
               : "";
    return key;
}
