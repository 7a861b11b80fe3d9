#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "PlaybackEngine.h"

// What a scripted engine answers, and what was asked of it. Shared with the test so it
// outlives the engine, which the player destroys on close.
struct EngineScript {
    EngineResult initialize;
    EngineResult attach;
    EngineResult load;       // the load could not even start
    bool loadFails = false;  // the load starts, then fails
    bool holdLoad = false;   // the load starts and never ends
    EngineResult run;
    EngineResult pause;
    EngineResult setRate;
    EngineResult currentRead;
    EngineResult stopRead;
    bool hasVideo = true;
    bool videoSizeKnown = true;
    QSize videoSize{160, 120};
    int64_t current = 0;
    int64_t stop = 50'000'000;

    std::vector<std::string> calls;
    std::string loadedPath;
    bool engineAlive = false;
    bool viewAlive = false;

    // Calls made since the last look, then forgotten.
    std::vector<std::string> TakeCalls() {
        std::vector<std::string> taken;
        taken.swap(calls);
        return taken;
    }
};

class ScriptedEngine : public PlaybackEngine {
  public:
    explicit ScriptedEngine(std::shared_ptr<EngineScript> script);
    ~ScriptedEngine() override;

    static PlaybackEngineFactory Factory(std::shared_ptr<EngineScript> script);

    EngineResult Initialize() override;
    EngineResult AttachVideo(QWidget* parent, QWidget** view) override;
    EngineResult Load(const std::string& path, const MediaTimeline& timeline) override;
    EngineResult Run() override;
    EngineResult Pause() override;
    EngineResult Stop() override;
    EngineResult SetRate(double rate) override;
    EngineResult Seek(int64_t target) override;
    EngineResult SetPlayEnd(int64_t) override { return {}; }
    EngineResult SetLoop(int64_t, int64_t) override { return {}; }
    EngineResult SelectAudioTrack(int) override { return {}; }
    EngineResult GetCurrentPosition(int64_t* position) override;
    EngineResult GetStopPosition(int64_t* position) override;
    bool HasVideo() override { return m_script->hasVideo; }
    bool GetVideoSize(QSize* size) override;
    bool GetEvent(EngineEvent* event) override;
    void SetEventNotify(std::function<void()> notify) override { m_notify = std::move(notify); }

    // Queues an event and tells the player, as the real engine does from its dispatch.
    void Post(EngineEvent event);

  private:
    EngineResult Record(const std::string& call, const EngineResult& answer);

    std::shared_ptr<EngineScript> m_script;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::deque<EngineEvent> m_events;
    std::function<void()> m_notify;
};
