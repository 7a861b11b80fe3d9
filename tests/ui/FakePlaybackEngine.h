#pragma once

#include <memory>
#include <string>
#include <vector>

#include "PlaybackEngine.h"

// What the fake engine answers and what was asked of it; shared with the test, since the
// player destroys its engine when the preview closes.
struct FakePlaybackScript {
    bool loadFails = false;
    int64_t current = 0;
    int64_t stop = 600'000'000;
    std::vector<std::string> calls;
    std::vector<int64_t> seeks;
    std::string loadedPath;
    int enginesAlive = 0;
};

// A playback engine without a picture whose positions the test sets.
class FakePlaybackEngine : public PlaybackEngine {
  public:
    explicit FakePlaybackEngine(std::shared_ptr<FakePlaybackScript> script)
        : m_script(std::move(script)) {
        ++m_script->enginesAlive;
    }
    ~FakePlaybackEngine() override { --m_script->enginesAlive; }

    static PlaybackEngineFactory Factory(std::shared_ptr<FakePlaybackScript> script) {
        return [script] { return std::make_unique<FakePlaybackEngine>(script); };
    }

    EngineResult Initialize() override { return {}; }
    EngineResult AttachVideo(QWidget*, QWidget** view) override {
        *view = nullptr;
        return {};
    }
    EngineResult Load(const std::string& path) override {
        m_script->loadedPath = path;
        return m_script->loadFails ? EngineResult{-1, "loadfile"} : EngineResult{};
    }
    EngineResult Run() override { return Record("Run"); }
    EngineResult Pause() override { return Record("Pause"); }
    EngineResult Stop() override { return Record("Stop"); }
    EngineResult SetRate(double) override { return {}; }
    EngineResult Seek(int64_t target) override {
        m_script->seeks.push_back(target);
        return {};
    }
    EngineResult GetCurrentPosition(int64_t* position) override {
        *position = m_script->current;
        return {};
    }
    EngineResult GetStopPosition(int64_t* position) override {
        *position = m_script->stop;
        return {};
    }
    bool HasVideo() override { return false; }
    bool GetVideoSize(QSize*) override { return false; }
    bool GetEvent(EngineEvent*) override { return false; }
    void SetEventNotify(std::function<void()>) override {}

  private:
    EngineResult Record(const char* call) {
        m_script->calls.push_back(call);
        return {};
    }

    std::shared_ptr<FakePlaybackScript> m_script;
};
