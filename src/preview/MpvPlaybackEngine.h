#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <deque>

#include "PlaybackEngine.h"

class QSocketNotifier;
struct mpv_handle;
struct mpv_event;

// The real engine: libmpv, with its picture in a render-API widget (OpenGL or software)
// or, where nothing can be shown, with no video output at all.
class MpvPlaybackEngine : public PlaybackEngine {
  public:
    enum class VideoOutput {
        OpenGl,    // render API into a QOpenGLWidget
        Software,  // software render API into a plain widget
        None,      // vo=null: decoded and timed, shown nowhere
    };
    struct Options {
        VideoOutput video = VideoOutput::OpenGl;
        std::string audioOutput;  // the "ao" option; empty leaves libmpv's choice
    };

    explicit MpvPlaybackEngine(Options options);
    ~MpvPlaybackEngine() override;
    MpvPlaybackEngine(const MpvPlaybackEngine&) = delete;
    MpvPlaybackEngine& operator=(const MpvPlaybackEngine&) = delete;

    // The best video output this display offers: none under the offscreen platform,
    // OpenGL when a context can be made current, else software.
    static VideoOutput ChooseVideoOutput();
    // Makes engines with the platform's video output and libmpv's audio output.
    static PlaybackEngineFactory DefaultFactory();

    EngineResult Initialize() override;
    EngineResult AttachVideo(QWidget* parent, QWidget** view) override;
    EngineResult Load(const std::string& path) override;
    EngineResult Run() override;
    EngineResult Pause() override;
    EngineResult Stop() override;
    EngineResult SetRate(double rate) override;
    EngineResult Seek(int64_t target) override;
    EngineResult GetCurrentPosition(int64_t* position) override;
    EngineResult GetStopPosition(int64_t* position) override;
    bool HasVideo() override;
    bool GetVideoSize(QSize* size) override;
    bool GetEvent(EngineEvent* event) override;
    void SetEventNotify(std::function<void()> notify) override;

    // How many times playback has (re)started after a load or a seek; lets a caller wait
    // until a seek has landed.
    int PlaybackRestarts() const { return m_nRestarts; }

  private:
    static void OnWakeup(void* context);
    void OnWakeupSignalled();
    void DispatchEvents();
    void HandleEvent(const mpv_event& event);
    EngineResult SetFlag(const char* name, bool on);
    EngineResult GetTime(const char* name, int64_t* value);

    Options m_options;
    mpv_handle* m_mpv = nullptr;
    QObject m_context;  // receiver of the queued event dispatch, lives as long as the engine
    // libmpv's threads only write to this eventfd; the GUI thread reads it and
    // dispatches. Unlike a queued Qt call, the hand-over is visible to ThreadSanitizer.
    int m_wakeFd = -1;
    QSocketNotifier* m_wakeNotifier = nullptr;
    // The same for the software picture's "new frame" callback, read by its widget.
    int m_renderFd = -1;
    QPointer<QWidget> m_view;
    std::deque<EngineEvent> m_events;
    std::function<void()> m_notify;
    bool m_bRunning = false;  // Run called and not paused or stopped since
    bool m_bLoaded = false;
    bool m_bLoadFailed = false;
    int m_nLoadError = 0;
    int m_nRestarts = 0;
    bool m_bSeekPending = false;
    int64_t m_rtSeekTarget = 0;
};
