#include "MpvPlaybackEngine.h"

#include <mpv/client.h>

#include <unistd.h>

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSocketNotifier>

#include <charconv>
#include <clocale>
#include <cstring>

#include "MediaTime.h"
#include "MpvGlVideoWidget.h"
#include "MpvReaper.h"
#include "MpvSoftwareVideoWidget.h"
#include "RestampedFiles.h"
#include "RestampedStream.h"

namespace {

// reply_userdata of the observed properties, the replies asked for at load and the
// commands whose replies matter. Seeks are numbered from kSeekReply up.
enum : uint64_t {
    kEofReached = 1,
    kPause,
    kTimePos,
    kDuration,
    kVideoWidth,
    kVideoHeight,
    kLoadReply,
    kPauseReply,
    kFacts = 100,
    kSeekReply = 1000,
};
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
    // libmpv refuses to start under a locale whose decimal point is not ".", and the
    // QApplication has just set the user's locale. Set here, on the GUI thread: the core
    // may be started on another.
    std::setlocale(LC_NUMERIC, "C");
    m_loadTimer.setSingleShot(true);
    QObject::connect(&m_loadTimer, &QTimer::timeout, &m_context, [this] {
        if (m_facts.Complete()) {
            FinishLoad(m_fileLoaded);
        } else if (!m_fileLoaded) {
            FinishLoad(false);
        } else {
            m_pictureShown = true;  // no picture yet: the facts decide once they are in
        }
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
        // Nothing of this engine is reached from the core's threads but the file it
        // serves, which goes down with the core.
        MpvReaper::Instance().Destroy(m_mpv,
                                      std::shared_ptr<RestampedFiles>(std::move(m_restamped)));
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

EngineResult MpvPlaybackEngine::StartCore() {
    if (m_mpv != nullptr) {
        return {MPV_ERROR_INVALID_PARAMETER, "mpv_create()"};
    }
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
    const int rc = mpv_initialize(m_mpv);
    if (rc < 0) {
        return {rc, "mpv_initialize()"};
    }
    m_coreStarted = true;
    return {};
}

EngineResult MpvPlaybackEngine::Initialize() {
    if (!m_coreStarted) {
        if (const EngineResult started = StartCore(); !started.Ok()) {
            return started;
        }
    }
    int rc = 0;
    // Without the protocol a file whose timestamps restart plays in its own times.
    m_restamped = std::make_unique<RestampedFiles>();
    if (!m_restamped->Register(m_mpv)) {
        m_restamped.reset();
    }
    // What playback tells as it goes. With keep-open the end of a clip is no event of its
    // own: the flag turns true.
    const struct {
        uint64_t id;
        const char* name;
        mpv_format format;
    } observed[] = {
        {kEofReached, "eof-reached", MPV_FORMAT_FLAG}, {kPause, "pause", MPV_FORMAT_FLAG},
        {kTimePos, "time-pos", MPV_FORMAT_DOUBLE},     {kDuration, "duration", MPV_FORMAT_DOUBLE},
        {kVideoWidth, "dwidth", MPV_FORMAT_INT64},     {kVideoHeight, "dheight", MPV_FORMAT_INT64},
    };
    for (const auto& p : observed) {
        rc = mpv_observe_property(m_mpv, p.id, p.name, p.format);
        if (rc < 0) {
            return {rc, std::string("mpv_observe_property(\"") + p.name + "\")"};
        }
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
    if (m_restamped && RestampedStream::Needed(timeline) && RestampedStream(timeline).Open(path)) {
        url = m_restamped->Serve({path, timeline});
    }
    const char* command[] = {"loadfile", url.c_str(), nullptr};
    const int rc = mpv_command_async(m_mpv, kLoadReply, command);
    if (rc < 0) {
        return {rc, "loadfile"};
    }
    m_loadState = LoadState::Loading;
    m_fileLoaded = false;
    m_pictureShown = false;
    m_loadTimer.start(kLoadTimeoutMs);
    return {};
}

void MpvPlaybackEngine::FinishLoad(bool ok) {
    if (m_loadState != LoadState::Loading) {
        return;
    }
    m_loadTimer.stop();
    ok = ok && (m_facts.video || m_facts.audio);  // nothing in the file to see or hear
    m_loadState = ok ? LoadState::Loaded : LoadState::Idle;
    EngineEvent event = EngineEvent::Of(
        ok ? EngineEvent::Kind::Loaded : EngineEvent::Kind::LoadFailed, m_facts.duration);
    event.video = m_facts.video;
    event.size = m_facts.Size();
    Push(event);
}

void MpvPlaybackEngine::Push(EngineEvent event) {
    m_events.push_back(event);
}

EngineResult MpvPlaybackEngine::SetFlag(const char* name, bool on) {
    if (m_mpv == nullptr) {
        return {MPV_ERROR_UNINITIALIZED, name};
    }
    int flag = on ? 1 : 0;
    const bool pause = std::strcmp(name, "pause") == 0;
    const int rc = mpv_set_property_async(m_mpv, pause ? uint64_t{kPauseReply} : 0, name,
                                          MPV_FORMAT_FLAG, &flag);
    if (pause && rc >= 0) {
        ++m_pauseSetsPending;
    }
    return {rc, std::string("mpv_set_property_async(\"") + name + "\")"};
}

EngineResult MpvPlaybackEngine::Run() {
    EngineResult result = SetFlag("pause", false);
    if (result.Ok()) {
        m_running = true;
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
    const int rc = mpv_set_property_async(m_mpv, 0, "speed", MPV_FORMAT_DOUBLE, &rate);
    return {rc, "mpv_set_property_async(\"speed\")"};
}

EngineResult MpvPlaybackEngine::Seek(int64_t target) {
    if (m_mpv == nullptr) {
        return {MPV_ERROR_UNINITIALIZED, "seek"};
    }
    const SecondsText seconds(target);
    const char* command[] = {"seek", seconds.text, "absolute+exact", nullptr};
    const int rc = mpv_command_async(m_mpv, kSeekReply + m_seeksSent + 1, command);
    if (rc >= 0) {
        ++m_seeksSent;
        m_seekLanding = false;
    }
    return {rc, "seek"};
}

EngineResult MpvPlaybackEngine::SetTime(const char* name, int64_t value, const char* none) {
    if (m_mpv == nullptr) {
        return {MPV_ERROR_UNINITIALIZED, name};
    }
    const SecondsText seconds(value);
    const char* text = value < 0 ? none : seconds.text;
    const int rc = mpv_set_property_async(m_mpv, 0, name, MPV_FORMAT_STRING, &text);
    return {rc, std::string("mpv_set_property_async(\"") + name + "\")"};
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
    const int rc = mpv_set_property_async(m_mpv, 0, "aid", MPV_FORMAT_INT64, &id);
    return {rc, "mpv_set_property_async(\"aid\")"};
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
            } else if (event.reply_userdata == kSeekReply + m_seeksSent) {
                // The last seek sent is taken; the next start of playback is its landing.
                // One libmpv refused lands at once, where the clip is.
                m_seeksTaken = m_seeksSent;
                m_seekLanding = event.error >= 0;
                if (event.error < 0) {
                    Push(EngineEvent::Of(EngineEvent::Kind::SeekLanded));
                }
            }
            break;
        case MPV_EVENT_SET_PROPERTY_REPLY:
            if (event.reply_userdata == kPauseReply && m_pauseSetsPending > 0) {
                --m_pauseSetsPending;
            }
            break;
        case MPV_EVENT_GET_PROPERTY_REPLY:
            if (m_facts.Take(event) && m_facts.Complete() && m_pictureShown) {
                FinishLoad(true);
            }
            break;
        case MPV_EVENT_FILE_LOADED:
            m_fileLoaded = true;
            if (m_loadState == LoadState::Loading) {
                m_facts.Ask(m_mpv, kFacts);
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
            if (m_seekLanding && m_seeksTaken == m_seeksSent) {
                m_seekLanding = false;
                Push(EngineEvent::Of(EngineEvent::Kind::SeekLanded));
            }
            // The first picture after the load: waited for, so that this restart is
            // never taken for the landing of a seek that follows the open.
            if (m_fileLoaded && m_loadState == LoadState::Loading) {
                m_pictureShown = true;
                if (m_facts.Complete()) {
                    FinishLoad(true);
                }
            }
            break;
        case MPV_EVENT_PROPERTY_CHANGE:
            HandleProperty(event.reply_userdata, event.data);
            break;
        default:
            break;
    }
}

void MpvPlaybackEngine::HandleProperty(uint64_t id, const void* data) {
    const auto* property = static_cast<const mpv_event_property*>(data);
    if (property->format == MPV_FORMAT_NONE || m_loadState != LoadState::Loaded) {
        // Briefly unknown around the end of a file, and meaningless before the clip has
        // loaded: the last value stands.
        return;
    }
    switch (id) {
        case kEofReached:
        case kPause:
            // Only an end reached while playing ends the clip; a seek to the end of a
            // paused clip just shows its last frame. keep-open pauses at the end, and that
            // pause is sometimes all libmpv tells: a clip sought close to its end while
            // held reaches it with the flag never turning true.
            if (*static_cast<const int*>(property->data) != 0 && m_running &&
                (id == kEofReached || m_pauseSetsPending == 0)) {
                m_running = false;
                Push(EngineEvent::Of(EngineEvent::Kind::EndOfClip));
            }
            break;
        case kTimePos:
        case kDuration:
            Push(EngineEvent::Of(
                id == kTimePos ? EngineEvent::Kind::Position : EngineEvent::Kind::Duration,
                MediaTime::FromSeconds(*static_cast<const double*>(property->data))));
            break;
        case kVideoWidth:
        case kVideoHeight: {
            const int64_t value = *static_cast<const int64_t*>(property->data);
            (id == kVideoWidth ? m_facts.width : m_facts.height) = value;
            if (m_facts.Size().isValid()) {
                EngineEvent event = EngineEvent::Of(EngineEvent::Kind::VideoSize);
                event.size = m_facts.Size();
                Push(event);
            }
            break;
        }
        default:
            break;
    }
}
