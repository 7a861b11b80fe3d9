#include "MpvPlaybackEngine.h"

#include <vector>

#include <mpv/client.h>
#include <mpv/stream_cb.h>

#include <unistd.h>

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSocketNotifier>

#include <cctype>
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "MediaTime.h"
#include "MpvGlVideoWidget.h"
#include "MpvReaper.h"
#include "MpvSoftwareVideoWidget.h"
#include "RestampedFiles.h"
#include "RestampedStream.h"

namespace {

// reply_userdata of the property and command replies the engine asks for.
constexpr uint64_t kEofReached = 1;
constexpr uint64_t kLoadReply = 2;
// A local file that libmpv cannot open within this time is treated as unplayable.
constexpr int kLoadTimeoutMs = 20'000;
// Once loaded, the first picture follows at once; a clip slow to show it still plays.
constexpr int kFirstPictureGraceMs = 5'000;

// Media time as libmpv's seconds. to_chars ignores the locale, so the decimal point is
// always ".".
struct SecondsText {
    explicit SecondsText(int64_t rt) {
        const auto end = std::to_chars(text, text + sizeof(text) - 1, MediaTime::ToSeconds(rt),
                                       std::chars_format::fixed, 7);
        *end.ptr = '\0';
    }
    char text[64];
};

}  // namespace

MpvPlaybackEngine::MpvPlaybackEngine(Options options) : m_options(std::move(options)) {
    m_loadTimer.setSingleShot(true);
    QObject::connect(&m_loadTimer, &QTimer::timeout, &m_context, [this] {
        FinishLoad(m_fileLoaded);
        DispatchEvents();
    });
}

std::string MpvPlaybackEngine::ErrorText(int code) const {
    return mpv_error_string(code);
}

MpvPlaybackEngine::~MpvPlaybackEngine() {
    // The render context must be gone before the core; the widget frees it.
    delete m_view.data();
    // The wake-up pipe is libmpv's and goes with it: stop watching it first.
    delete m_wakeNotifier;
    if (m_mpv != nullptr) {
        // Nothing of this engine is reached from the core's threads (its only callbacks
        // read streams that own what they need), so it may go down on its own while this
        // engine is gone.
        MpvReaper::Instance().Destroy(m_mpv);
    }
    if (m_restampedFile != 0) {
        RestampedFiles::Instance().Remove(m_restampedFile);
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
    std::vector<std::pair<std::string, std::string>> all(std::begin(settings), std::end(settings));
    all.insert(all.end(), m_options.extra.begin(), m_options.extra.end());
    for (const auto& [name, value] : all) {
        if (value.empty()) {
            continue;
        }
        const int rc = mpv_set_option_string(m_mpv, name.c_str(), value.c_str());
        if (rc < 0) {
            return {rc, "mpv_set_option_string(\"" + name + "\", \"" + value + "\")"};
        }
    }
    int rc = mpv_initialize(m_mpv);
    if (rc < 0) {
        return {rc, "mpv_initialize()"};
    }
    // Without the protocol a file whose timestamps restart plays in its own times.
    m_restampable = RestampedFiles::Register(m_mpv);
    // With keep-open the end of a clip is no event of its own; the flag turns true.
    rc = mpv_observe_property(m_mpv, kEofReached, "eof-reached", MPV_FORMAT_FLAG);
    if (rc < 0) {
        return {rc, "mpv_observe_property(\"eof-reached\")"};
    }
    // libmpv writes to this pipe whenever events wait; the GUI thread reads them then.
    const int wakeFd = mpv_get_wakeup_pipe(m_mpv);
    if (wakeFd < 0) {
        return {wakeFd, "mpv_get_wakeup_pipe()"};
    }
    m_wakeNotifier = new QSocketNotifier(wakeFd, QSocketNotifier::Read, &m_context);
    QObject::connect(m_wakeNotifier, &QSocketNotifier::activated, &m_context,
                     [this] { OnWakeup(); });
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
            auto* widget = new MpvSoftwareVideoWidget(m_mpv, parent);
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

EngineResult MpvPlaybackEngine::Load(const std::string& path, const MediaTimeline& timeline) {
    if (m_mpv == nullptr) {
        return {MPV_ERROR_UNINITIALIZED, "loadfile"};
    }
    std::string url = path;
    // A file that the reader cannot take plays as it is, in the times it holds.
    if (m_restampable && m_restampedFile == 0 && RestampedStream::Needed(timeline) &&
        RestampedStream(timeline).Open(path)) {
        m_restampedFile = RestampedFiles::Instance().Add({path, timeline});
        url = RestampedFiles::Url(m_restampedFile, path);
    }
    const char* command[] = {"loadfile", url.c_str(), nullptr};
    const int rc = mpv_command_async(m_mpv, kLoadReply, command);
    if (rc < 0) {
        return {rc, "loadfile"};
    }
    m_loadState = LoadState::Loading;
    m_fileLoaded = false;
    m_loadTimer.start(kLoadTimeoutMs);
    return {};
}

void MpvPlaybackEngine::FinishLoad(bool ok) {
    if (m_loadState != LoadState::Loading) {
        return;
    }
    m_loadTimer.stop();
    int64_t track = 0;
    if (ok && !HasVideo() &&
        mpv_get_property(m_mpv, "current-tracks/audio/id", MPV_FORMAT_INT64, &track) < 0) {
        ok = false;  // nothing in the file to see or hear
    }
    m_loadState = ok ? LoadState::Loaded : LoadState::Idle;
    m_events.push_back(ok ? EngineEvent::Loaded : EngineEvent::LoadFailed);
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
        m_running = true;
        m_heldAtSeek = false;
    }
    return result;
}

EngineResult MpvPlaybackEngine::Pause() {
    m_running = false;
    return SetFlag("pause", true);
}

// libmpv's own "stop" would unload the file; halting is pausing.
EngineResult MpvPlaybackEngine::Stop() {
    m_running = false;
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
    const SecondsText seconds(target);
    const char* command[] = {"seek", seconds.text, "absolute+exact", nullptr};
    const int rc = mpv_command_async(m_mpv, 0, command);
    if (rc >= 0) {
        m_seekPending = true;
        m_seekTarget = target;
    }
    return {rc, "seek"};
}

EngineResult MpvPlaybackEngine::SetTime(const char* name, int64_t value, const char* none) {
    if (m_mpv == nullptr) {
        return {MPV_ERROR_UNINITIALIZED, name};
    }
    const SecondsText seconds(value);
    const int rc = mpv_set_property_string(m_mpv, name, value < 0 ? none : seconds.text);
    return {rc, std::string("mpv_set_property(\"") + name + "\")"};
}

EngineResult MpvPlaybackEngine::SetPlayEnd(int64_t end) {
    return SetTime("end", end, "none");
}

EngineResult MpvPlaybackEngine::SetLoop(int64_t from, int64_t to) {
    EngineResult result = SetTime("ab-loop-a", from, "no");
    if (result.Ok()) {
        result = SetTime("ab-loop-b", from < 0 ? -1 : to, "no");
    }
    return result;
}

EngineResult MpvPlaybackEngine::SelectAudioTrack(int number) {
    if (m_mpv == nullptr) {
        return {MPV_ERROR_UNINITIALIZED, "aid"};
    }
    int64_t id = number;
    const int rc = mpv_set_property(m_mpv, "aid", MPV_FORMAT_INT64, &id);
    return {rc, "mpv_set_property(\"aid\")"};
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
    *value = MediaTime::FromSeconds(seconds);
    return {};
}

EngineResult MpvPlaybackEngine::GetCurrentPosition(int64_t* position) {
    if (m_seekPending || m_heldAtSeek) {
        // Until the seek lands "time-pos" still tells the old place; the target is
        // where the clip is about to be. Held after an exact seek, the clip is at the
        // target too, where "time-pos" of a sound-only clip can be off by its audio
        // buffer (the end of the file near it, 0.2 s before it once the clip has ended).
        *position = m_seekTarget;
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

void MpvPlaybackEngine::OnWakeup() {
    // Empties the pipe (it does not block); the events are read from libmpv itself.
    char bytes[256];
    while (read(m_wakeNotifier->socket(), bytes, sizeof bytes) > 0) {
    }
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
        case MPV_EVENT_COMMAND_REPLY:
            if (event.reply_userdata == kLoadReply && event.error < 0) {
                FinishLoad(false);
            }
            break;
        case MPV_EVENT_FILE_LOADED:
            m_fileLoaded = true;
            if (m_loadState == LoadState::Loading) {
                m_loadTimer.start(kFirstPictureGraceMs);
            }
            break;
        case MPV_EVENT_END_FILE: {
            const auto* end = static_cast<const mpv_event_end_file*>(event.data);
            if (end->reason == MPV_END_FILE_REASON_ERROR && !m_fileLoaded) {
                FinishLoad(false);
            }
            break;
        }
        case MPV_EVENT_PLAYBACK_RESTART:
            // Seeks sent close together may land one by one: a held clip stays at the
            // last target until it runs again, whichever landing comes first.
            m_heldAtSeek = !m_running && (m_seekPending || m_heldAtSeek);
            m_seekPending = false;
            ++m_restarts;
            // The first picture after the load: waited for, so that this restart is
            // never taken for the landing of a seek that follows the open.
            if (m_fileLoaded) {
                FinishLoad(true);
            }
            break;
        case MPV_EVENT_PROPERTY_CHANGE: {
            const auto* property = static_cast<const mpv_event_property*>(event.data);
            // Only an end reached while playing ends the clip; a seek to the end of a
            // paused clip just shows its last frame.
            if (event.reply_userdata == kEofReached && property->format == MPV_FORMAT_FLAG &&
                *static_cast<const int*>(property->data) != 0 && m_running) {
                m_events.push_back(EngineEvent::EndOfClip);
            }
            break;
        }
        default:
            break;
    }
}
