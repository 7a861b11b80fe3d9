#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "MpvClipFacts.h"
#include "PlaybackEngine.h"

class QSocketNotifier;
class RestampedFiles;
struct mpv_handle;
struct mpv_event;

// The real engine: libmpv, with its picture in a render-API widget (OpenGL or software)
// or, where nothing can be shown, with no video output at all. Nothing here waits for
// libmpv: commands and property changes go out asynchronously, the playback position and
// the clip's facts come back as observed properties and replies, read when libmpv's
// wake-up pipe says there are some.
class MpvPlaybackEngine final : public PlaybackEngine {
  public:
    enum class VideoOutput {
        OpenGl,    // render API into a QOpenGLWidget
        Software,  // software render API into a plain widget
        None,      // vo=null: decoded and timed, shown nowhere
    };
    struct Options {
        VideoOutput video = VideoOutput::OpenGl;
        std::string audioOutput;  // the "ao" option; empty leaves libmpv's choice
        // More libmpv options, set after the engine's own.
        std::vector<std::pair<std::string, std::string>> extra;
    };

    explicit MpvPlaybackEngine(Options options);
    ~MpvPlaybackEngine() override;
    MpvPlaybackEngine(const MpvPlaybackEngine&) = delete;
    MpvPlaybackEngine& operator=(const MpvPlaybackEngine&) = delete;

    // The best video output this display offers: none under the offscreen platform,
    // OpenGL when a context can be made current, else software.
    static VideoOutput ChooseVideoOutput();

    EngineResult Initialize() override;
    EngineResult StartCore() override;
    EngineResult AttachVideo(QWidget* parent, QWidget** view) override;
    EngineResult Load(const std::string& path, const MediaTimeline& timeline) override;
    EngineResult Run() override;
    EngineResult Pause() override;
    EngineResult Stop() override;
    EngineResult SetRate(double rate) override;
    EngineResult Seek(int64_t target) override;
    EngineResult SetPlayEnd(int64_t end) override;
    EngineResult SetLoop(int64_t from, int64_t to) override;
    EngineResult SelectAudioTrack(int number) override;
    bool GetEvent(EngineEvent* event) override;
    void SetEventNotify(std::function<void()> notify) override;
    std::string ErrorText(int code) const override;

  private:
    enum class LoadState { Idle, Loading, Loaded };
    void OnWakeup();
    void DispatchEvents();
    void HandleEvent(const mpv_event& event);
    void HandleProperty(uint64_t id, const void* property);
    void FinishLoad(bool ok);
    void Push(EngineEvent event);
    EngineResult SetFlag(const char* name, bool on);
    // Sets a time property ("end", "ab-loop-a", ...); a negative time sets `none`.
    EngineResult SetTime(const char* name, int64_t value, const char* none);

    Options m_options;
    mpv_handle* m_mpv = nullptr;
    bool m_coreStarted = false;
    QObject m_context;  // receiver of the wake-ups and timers, lives as long as the engine
    QSocketNotifier* m_wakeNotifier = nullptr;
    QTimer m_loadTimer;
    QPointer<QWidget> m_view;
    std::deque<EngineEvent> m_events;
    std::function<void()> m_notify;
    bool m_running = false;  // Run called and not paused or stopped since
    LoadState m_loadState = LoadState::Idle;
    bool m_fileLoaded = false;
    bool m_pictureShown = false;  // the first playback start after the load
    // What the loaded clip holds, as the replies asked at the load and the observed
    // properties since tell it.
    MpvClipFacts m_facts;
    // The file served with continuous timestamps, when the clip needs it; libmpv reads it
    // on its own threads until the core is gone.
    std::unique_ptr<RestampedFiles> m_restamped;
    // Seeks go out numbered: a seek has landed once libmpv has taken the last one sent
    // and playback has started again after it.
    // Pause settings sent whose replies have not come back: until they have, a pause that
    // libmpv tells of may be one of ours.
    int m_pauseSetsPending = 0;
    uint64_t m_seeksSent = 0;
    uint64_t m_seeksTaken = 0;
    bool m_seekLanding = false;
};
