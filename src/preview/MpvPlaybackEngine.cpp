#include "MpvPlaybackEngine.h"

#include <mpv/client.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSocketNotifier>

#include <charconv>
#include <chrono>
#include <clocale>
#include <cmath>

#include "LibmpvCallbacks.h"
#include "MpvGlVideoWidget.h"
#include "MpvSoftwareVideoWidget.h"

namespace {

constexpr uint64_t kEofReached = 1;
constexpr double kUnitsPerSecond = 10'000'000.0;
// A local file that libmpv cannot open within this time is treated as unplayable.
constexpr std::chrono::seconds kLoadTimeout{20};

}  // namespace

MpvPlaybackEngine::MpvPlaybackEngine(Options options) : m_options(std::move(options)) {}

MpvPlaybackEngine::~MpvPlaybackEngine() {
    // The render context must be gone before the core; the widget frees it.
    delete m_view.data();
    if (m_mpv != nullptr) {
        // After this returns no wakeup callback runs, so none can reach a dead engine.
        LibmpvCallbacks::SetWakeup(m_mpv, nullptr, nullptr);
        mpv_terminate_destroy(m_mpv);
    }
    delete m_wakeNotifier;
    for (const int fd : {m_wakeFd, m_renderFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

MpvPlaybackEngine::VideoOutput MpvPlaybackEngine::ChooseVideoOutput() {
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) {
        // A QOpenGLWidget crashes there, and nothing would be seen anyway.
        return VideoOutput::None;
    }
    QOpenGLContext context;
    QOffscreenSurface surface;
    surface.create();
    if (context.create() && surface.isValid() && context.makeCurrent(&surface)) {
        context.doneCurrent();
        return VideoOutput::OpenGl;
    }
    return VideoOutput::Software;
}

PlaybackEngineFactory MpvPlaybackEngine::DefaultFactory() {
    // The display does not change while the program runs; look once.
    Options options;
    options.video = ChooseVideoOutput();
    return [options] { return std::make_unique<MpvPlaybackEngine>(options); };
}

EngineResult MpvPlaybackEngine::Initialize() {
    // libmpv refuses to start under a locale whose decimal point is not ".", and the
    // QApplication has just set the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    // Made before libmpv starts its threads, so they all see it.
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_renderFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_wakeFd < 0 || m_renderFd < 0) {
        return {MPV_ERROR_NOMEM, "eventfd()"};
    }
    m_wakeNotifier = new QSocketNotifier(m_wakeFd, QSocketNotifier::Read, &m_context);
    QObject::connect(m_wakeNotifier, &QSocketNotifier::activated, &m_context,
                     [this] { OnWakeupSignalled(); });
    m_mpv = mpv_create();
    if (m_mpv == nullptr) {
        return {MPV_ERROR_NOMEM, "mpv_create()"};
    }
    const std::string vo = m_options.video == VideoOutput::None ? "null" : "libmpv";
    const std::pair<const char*, std::string> settings[] = {
        {"vo", vo},           {"ao", m_options.audioOutput},
        {"keep-open", "yes"}, {"idle", "yes"},
        {"pause", "yes"},  // a clip opens stopped
        {"hwdec", "no"},      {"audio-fallback-to-null", "yes"},
        {"hr-seek", "yes"},   {"hr-seek-demuxer-offset", "1.0"},
        {"terminal", "no"},   {"input-default-bindings", "no"},
        {"osc", "no"},
    };
    for (const auto& [name, value] : settings) {
        if (value.empty()) {
            continue;
        }
        const int rc = mpv_set_option_string(m_mpv, name, value.c_str());
        if (rc < 0) {
            return {rc, std::string("mpv_set_option_string(\"") + name + "\", \"" + value + "\")"};
        }
    }
    int rc = mpv_initialize(m_mpv);
    if (rc < 0) {
        return {rc, "mpv_initialize()"};
    }
    // With keep-open the end of a clip is no event of its own; the flag turns true.
    rc = mpv_observe_property(m_mpv, kEofReached, "eof-reached", MPV_FORMAT_FLAG);
    if (rc < 0) {
        return {rc, "mpv_observe_property(\"eof-reached\")"};
    }
    LibmpvCallbacks::SetWakeup(m_mpv, &MpvPlaybackEngine::OnWakeup, this);
    return {};
}

EngineResult MpvPlaybackEngine::AttachVideo(QWidget* parent, QWidget** view) {
    *view = nullptr;
    if (m_mpv == nullptr) {
        return {MPV_ERROR_UNINITIALIZED, "mpv_render_context_create()"};
    }
    EngineResult result;
    switch (m_options.video) {
        case VideoOutput::None:
            return {};
        case VideoOutput::OpenGl: {
            auto* widget = new MpvGlVideoWidget(m_mpv, parent);
            m_view = widget;
            result = widget->Prepare();
            break;
        }
        case VideoOutput::Software: {
            auto* widget = new MpvSoftwareVideoWidget(m_mpv, m_renderFd, parent);
            m_view = widget;
            result = widget->Prepare();
            break;
        }
    }
    if (!result.Ok()) {
        delete m_view.data();
        return result;
    }
    *view = m_view.data();
    return result;
}

EngineResult MpvPlaybackEngine::Load(const std::string& path) {
    if (m_mpv == nullptr) {
        return {MPV_ERROR_UNINITIALIZED, "loadfile"};
    }
    m_bLoaded = false;
    m_bLoadFailed = false;
    m_nLoadError = 0;
    const char* command[] = {"loadfile", path.c_str(), nullptr};
    const int rc = mpv_command(m_mpv, command);
    if (rc < 0) {
        return {rc, "loadfile"};
    }
    // The outcome of a load comes as events; wait for them here so that the caller
    // knows at once whether the clip plays. Wait for the first picture too: its
    // playback restart must not be taken for the landing of a seek that follows.
    const int restarts = m_nRestarts;
    const auto deadline = std::chrono::steady_clock::now() + kLoadTimeout;
    while (!m_bLoadFailed && !(m_bLoaded && m_nRestarts > restarts)) {
        const std::chrono::duration<double> left = deadline - std::chrono::steady_clock::now();
        if (left.count() <= 0) {
            if (m_bLoaded) {
                break;  // loaded, only slow to show: the clip still plays
            }
            return {MPV_ERROR_LOADING_FAILED, "loadfile"};
        }
        HandleEvent(*mpv_wait_event(m_mpv, left.count()));
    }
    if (m_bLoadFailed) {
        return {m_nLoadError < 0 ? m_nLoadError : MPV_ERROR_LOADING_FAILED, "loadfile"};
    }
    int64_t track = 0;
    if (!HasVideo() &&
        mpv_get_property(m_mpv, "current-tracks/audio/id", MPV_FORMAT_INT64, &track) < 0) {
        // Nothing in the file to see or hear.
        return {MPV_ERROR_NOTHING_TO_PLAY, "loadfile"};
    }
    if (!m_events.empty() && m_notify) {
        QMetaObject::invokeMethod(
            &m_context, [this] { DispatchEvents(); }, Qt::QueuedConnection);
    }
    return {};
}

EngineResult MpvPlaybackEngine::SetFlag(const char* name, bool on) {
    if (m_mpv == nullptr) {
        return {MPV_ERROR_UNINITIALIZED, name};
    }
    int flag = on ? 1 : 0;
    const int rc = mpv_set_property(m_mpv, name, MPV_FORMAT_FLAG, &flag);
    return {rc, std::string("mpv_set_property(\"") + name + "\")"};
}

EngineResult MpvPlaybackEngine::Run() {
    EngineResult result = SetFlag("pause", false);
    if (result.Ok()) {
        m_bRunning = true;
    }
    return result;
}

EngineResult MpvPlaybackEngine::Pause() {
    m_bRunning = false;
    return SetFlag("pause", true);
}

// libmpv's own "stop" would unload the file; halting is pausing.
EngineResult MpvPlaybackEngine::Stop() {
    m_bRunning = false;
    return SetFlag("pause", true);
}

EngineResult MpvPlaybackEngine::SetRate(double rate) {
    if (m_mpv == nullptr) {
        return {MPV_ERROR_UNINITIALIZED, "speed"};
    }
    const int rc = mpv_set_property(m_mpv, "speed", MPV_FORMAT_DOUBLE, &rate);
    return {rc, "mpv_set_property(\"speed\")"};
}

EngineResult MpvPlaybackEngine::Seek(int64_t target) {
    if (m_mpv == nullptr) {
        return {MPV_ERROR_UNINITIALIZED, "seek"};
    }
    // to_chars ignores the locale, so the decimal point is always ".".
    char seconds[64];
    const auto end =
        std::to_chars(seconds, seconds + sizeof(seconds) - 1,
                      static_cast<double>(target) / kUnitsPerSecond, std::chars_format::fixed, 7);
    *end.ptr = '\0';
    const char* command[] = {"seek", seconds, "absolute+exact", nullptr};
    const int rc = mpv_command(m_mpv, command);
    if (rc >= 0) {
        m_bSeekPending = true;
        m_rtSeekTarget = target;
    }
    return {rc, "seek"};
}

EngineResult MpvPlaybackEngine::GetTime(const char* name, int64_t* value) {
    if (m_mpv == nullptr) {
        return {MPV_ERROR_UNINITIALIZED, name};
    }
    double seconds = 0;
    const int rc = mpv_get_property(m_mpv, name, MPV_FORMAT_DOUBLE, &seconds);
    if (rc < 0) {
        return {rc, std::string("mpv_get_property(\"") + name + "\")"};
    }
    *value = std::llround(seconds * kUnitsPerSecond);
    return {};
}

EngineResult MpvPlaybackEngine::GetCurrentPosition(int64_t* position) {
    if (m_bSeekPending) {
        // Until the seek lands "time-pos" still tells the old place; the target is
        // where the clip is about to be.
        *position = m_rtSeekTarget;
        return {};
    }
    return GetTime("time-pos", position);
}

EngineResult MpvPlaybackEngine::GetStopPosition(int64_t* position) {
    return GetTime("duration", position);
}

bool MpvPlaybackEngine::HasVideo() {
    int64_t track = 0;
    return m_mpv != nullptr &&
           mpv_get_property(m_mpv, "current-tracks/video/id", MPV_FORMAT_INT64, &track) >= 0;
}

bool MpvPlaybackEngine::GetVideoSize(QSize* size) {
    if (m_mpv == nullptr) {
        return false;
    }
    int64_t w = 0;
    int64_t h = 0;
    // The stream's own size is known as soon as the file is loaded; the decoded size
    // only after the first frame.
    if ((mpv_get_property(m_mpv, "current-tracks/video/demux-w", MPV_FORMAT_INT64, &w) < 0 ||
         mpv_get_property(m_mpv, "current-tracks/video/demux-h", MPV_FORMAT_INT64, &h) < 0) &&
        (mpv_get_property(m_mpv, "dwidth", MPV_FORMAT_INT64, &w) < 0 ||
         mpv_get_property(m_mpv, "dheight", MPV_FORMAT_INT64, &h) < 0)) {
        return false;
    }
    if (w <= 0 || h <= 0) {
        return false;
    }
    *size = QSize(static_cast<int>(w), static_cast<int>(h));
    return true;
}

bool MpvPlaybackEngine::GetEvent(EngineEvent* event) {
    if (m_events.empty()) {
        return false;
    }
    *event = m_events.front();
    m_events.pop_front();
    return true;
}

void MpvPlaybackEngine::SetEventNotify(std::function<void()> notify) {
    m_notify = std::move(notify);
}

void MpvPlaybackEngine::OnWakeup(void* context) {
    // Called on one of libmpv's threads: only hand the work to the GUI thread.
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n =
        write(static_cast<MpvPlaybackEngine*>(context)->m_wakeFd, &one, sizeof one);
}

void MpvPlaybackEngine::OnWakeupSignalled() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = read(m_wakeFd, &count, sizeof count);
    DispatchEvents();
}

void MpvPlaybackEngine::DispatchEvents() {
    if (m_mpv == nullptr) {
        return;
    }
    for (;;) {
        const mpv_event* event = mpv_wait_event(m_mpv, 0);
        if (event->event_id == MPV_EVENT_NONE) {
            break;
        }
        HandleEvent(*event);
    }
    if (!m_events.empty() && m_notify) {
        // The receiver may destroy this engine; nothing of it is touched afterwards.
        const auto notify = m_notify;
        notify();
    }
}

void MpvPlaybackEngine::HandleEvent(const mpv_event& event) {
    switch (event.event_id) {
        case MPV_EVENT_FILE_LOADED:
            m_bLoaded = true;
            break;
        case MPV_EVENT_END_FILE: {
            const auto* end = static_cast<const mpv_event_end_file*>(event.data);
            if (end->reason == MPV_END_FILE_REASON_ERROR && !m_bLoaded) {
                m_bLoadFailed = true;
                m_nLoadError = end->error;
            }
            break;
        }
        case MPV_EVENT_PLAYBACK_RESTART:
            m_bSeekPending = false;
            ++m_nRestarts;
            break;
        case MPV_EVENT_PROPERTY_CHANGE: {
            const auto* property = static_cast<const mpv_event_property*>(event.data);
            // Only an end reached while playing ends the clip; a seek to the end of a
            // paused clip just shows its last frame.
            if (event.reply_userdata == kEofReached && property->format == MPV_FORMAT_FLAG &&
                *static_cast<const int*>(property->data) != 0 && m_bRunning) {
                m_events.push_back(EngineEvent::EndOfClip);
            }
            break;
        }
        default:
            break;
    }
}
