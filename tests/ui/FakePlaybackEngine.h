#pragma once

#include <QCoreApplication>

#include <deque>
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
    int64_t playEnd = -1;
    int64_t loopFrom = -1;
    int64_t loopTo = -1;
    int audioTrack = 0;
    std::string loadedPath;
    int enginesAlive = 0;
};

// A playback engine without a picture whose positions the test sets. Loads end as the
// real engine's do: with an event, after the call has returned.
class FakePlaybackEngine : public PlaybackEngine {
  public:
    explicit FakePlaybackEngine(std::shared_ptr<FakePlaybackScript> script)
        : m_script(std::move(script)) {
        ++m_script->enginesAlive;
    }
    ~FakePlaybackEngine() override {
        *m_alive = false;
        --m_script->enginesAlive;
    }

    static PlaybackEngineFactory Factory(std::shared_ptr<FakePlaybackScript> script) {
        return [script] { return std::make_unique<FakePlaybackEngine>(script); };
    }

    EngineResult Initialize() override { return {}; }
    EngineResult AttachVideo(QWidget*, QWidget** view) override {
        *view = nullptr;
        return {};
    }
    EngineResult Load(const std::string& path, const MediaTimeline& /*timeline*/) override {
        m_script->loadedPath = path;
        m_events.push_back(m_script->loadFails ? EngineEvent::LoadFailed : EngineEvent::Loaded);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, alive = m_alive] {
                if (*alive && m_notify) {
                    const auto notify = m_notify;
                    notify();
                }
            },
            Qt::QueuedConnection);
        return {};
    }
    EngineResult Run() override { return Record("Run"); }
    EngineResult Pause() override { return Record("Pause"); }
    EngineResult Stop() override { return Record("Stop"); }
    EngineResult SetRate(double) override { return {}; }
    EngineResult Seek(int64_t target) override {
        m_script->seeks.push_back(target);
        return {};
    }
    EngineResult SetPlayEnd(int64_t end) override {
        m_script->playEnd = end;
        return {};
    }
    EngineResult SetLoop(int64_t from, int64_t to) override {
        m_script->loopFrom = from;
        m_script->loopTo = to;
        return {};
    }
    EngineResult SelectAudioTrack(int number) override {
        m_script->audioTrack = number;
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
    bool GetEvent(EngineEvent* event) override {
        if (m_events.empty()) {
            return false;
        }
        *event = m_events.front();
        m_events.pop_front();
        return true;
    }
    void SetEventNotify(std::function<void()> notify) override { m_notify = std::move(notify); }

  private:
    EngineResult Record(const char* call) {
        m_script->calls.push_back(call);
        return {};
    }

    std::shared_ptr<FakePlaybackScript> m_script;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::deque<EngineEvent> m_events;
    std::function<void()> m_notify;
};
