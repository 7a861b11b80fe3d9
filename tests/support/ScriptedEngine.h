#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QWidget>

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "PlaybackEngine.h"

class ScriptedEngine;

// A playback core played by hand: what the engine answers, where its clip is, and what it
// was told, shared with the test (the player destroys its engine when the clip closes).
// Its times are the core's own, like libmpv's.
struct EngineScript {
    // Answers.
    EngineResult initialize;
    EngineResult attach;
    EngineResult load;       // the load could not even start
    bool loadFails = false;  // the load starts, then fails
    bool holdLoad = false;   // the load starts and never ends
    EngineResult run;
    EngineResult pause;
    bool video = true;
    QSize videoSize{160, 120};       // invalid: not known
    int64_t duration = 600'000'000;  // a minute
    bool seeksLand = true;           // a seek lands by itself, on its target

    // The core's state, as the calls left it.
    bool paused = true;
    int64_t position = 0;
    int64_t playEnd = -1;
    int64_t loopFrom = -1;
    int64_t loopTo = -1;
    int audioTrack = 0;
    double rate = 1.0;
    std::vector<int64_t> seeks;
    std::string loadedPath;
    MediaTimeline timeline;
    int enginesAlive = 0;
    bool viewAlive = false;
    ScriptedEngine* engine = nullptr;  // the live one

    // Plays the clip on for `span` as the core would, telling where it is: at a play end it
    // holds and reports the end; in a loop it wraps; at the end of the clip it reports it.
    void Advance(int64_t span);
    // Tells the player where the core is, as libmpv's observed position does.
    void Report(int64_t position);
    void Post(const EngineEvent& event);
};

// The engine of an EngineScript. Events reach the player from the event loop, never
// inside an engine call, as libmpv's do.
class ScriptedEngine : public PlaybackEngine {
  public:
    explicit ScriptedEngine(std::shared_ptr<EngineScript> script) : m_script(std::move(script)) {
        ++m_script->enginesAlive;
        m_script->engine = this;
    }
    ~ScriptedEngine() override {
        *m_alive = false;
        --m_script->enginesAlive;
        if (m_script->engine == this) {
            m_script->engine = nullptr;
        }
    }

    static PlaybackEngineFactory Factory(std::shared_ptr<EngineScript> script) {
        return [script] { return std::make_unique<ScriptedEngine>(script); };
    }

    EngineResult Initialize() override { return m_script->initialize; }
    EngineResult AttachVideo(QWidget* parent, QWidget** view) override {
        *view = nullptr;
        if (!m_script->attach.Ok() || !m_script->video) {
            return m_script->attach;
        }
        auto* widget = new QWidget(parent);
        widget->setObjectName("ScriptedVideo");
        m_script->viewAlive = true;
        QObject::connect(widget, &QObject::destroyed,
                         [script = m_script] { script->viewAlive = false; });
        *view = widget;
        return {};
    }
    EngineResult Load(const std::string& path, const MediaTimeline& timeline) override {
        m_script->loadedPath = path;
        m_script->timeline = timeline;
        m_script->paused = true;
        m_script->position = 0;
        if (m_script->load.Ok() && !m_script->holdLoad) {
            EngineEvent outcome = EngineEvent::Of(
                m_script->loadFails ? EngineEvent::Kind::LoadFailed : EngineEvent::Kind::Loaded,
                m_script->duration);
            outcome.video = m_script->video;
            outcome.size = m_script->video ? m_script->videoSize : QSize();
            Post(outcome);
        }
        return m_script->load;
    }
    EngineResult Run() override {
        if (m_script->run.Ok()) {
            m_script->paused = false;
        }
        return m_script->run;
    }
    EngineResult Pause() override {
        if (m_script->pause.Ok()) {
            m_script->paused = true;
        }
        return m_script->pause;
    }
    EngineResult Stop() override {
        m_script->paused = true;
        return {};
    }
    EngineResult SetRate(double rate) override {
        m_script->rate = rate;
        return {};
    }
    EngineResult Seek(int64_t target) override {
        m_script->seeks.push_back(target);
        m_script->position = std::clamp<int64_t>(target, 0, m_script->duration);
        if (m_script->seeksLand) {
            Post(EngineEvent::Of(EngineEvent::Kind::SeekLanded));
            Post(EngineEvent::Of(EngineEvent::Kind::Position, m_script->position));
        }
        return {};
    }
    EngineResult SetPlayEnd(int64_t end) override {
        m_script->playEnd = end;
        return {};
    }
    EngineResult SetLoop(int64_t from, int64_t to) override {
        m_script->loopFrom = from;
        m_script->loopTo = from < 0 ? -1 : to;
        return {};
    }
    EngineResult SelectAudioTrack(int number) override {
        m_script->audioTrack = number;
        return {};
    }
    bool GetEvent(EngineEvent* event) override {
        if (m_events.empty()) {
            return false;
        }
        *event = m_events.front();
        m_events.pop_front();
        return true;
    }
    void SetEventNotify(std::function<void()> notify) override { m_notify = std::move(notify); }

    // Queues an event and tells the player from the event loop.
    void Post(const EngineEvent& event) {
        m_events.push_back(event);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, alive = m_alive] {
                if (*alive && !m_events.empty() && m_notify) {
                    const auto notify = m_notify;
                    notify();
                }
            },
            Qt::QueuedConnection);
    }

  private:
    std::shared_ptr<EngineScript> m_script;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    std::deque<EngineEvent> m_events;
    std::function<void()> m_notify;
};

inline void EngineScript::Post(const EngineEvent& event) {
    if (engine != nullptr) {
        engine->Post(event);
    }
}

inline void EngineScript::Report(int64_t at) {
    position = at;
    Post(EngineEvent::Of(EngineEvent::Kind::Position, at));
}

inline void EngineScript::Advance(int64_t span) {
    if (paused || engine == nullptr) {
        return;
    }
    int64_t next = position + span;
    if (loopFrom >= 0 && loopTo > loopFrom && next >= loopTo) {
        next = loopFrom + (next - loopTo) % (loopTo - loopFrom);
    }
    const int64_t end = playEnd >= 0 ? std::min(playEnd, duration) : duration;
    if (next >= end) {
        paused = true;  // held at the end, as libmpv keeps a clip open
        Report(end);
        Post(EngineEvent::Of(EngineEvent::Kind::EndOfClip));
        return;
    }
    Report(next);
}
