#include "ScriptedEngine.h"

#include <QCoreApplication>
#include <QWidget>

ScriptedEngine::ScriptedEngine(std::shared_ptr<EngineScript> script) : m_script(std::move(script)) {
    m_script->engineAlive = true;
}

ScriptedEngine::~ScriptedEngine() {
    *m_alive = false;
    m_script->engineAlive = false;
}

PlaybackEngineFactory ScriptedEngine::Factory(std::shared_ptr<EngineScript> script) {
    return [script] { return std::make_unique<ScriptedEngine>(script); };
}

EngineResult ScriptedEngine::Record(const std::string& call, const EngineResult& answer) {
    m_script->calls.push_back(call);
    return answer;
}

EngineResult ScriptedEngine::Initialize() {
    return Record("Initialize", m_script->initialize);
}

EngineResult ScriptedEngine::AttachVideo(QWidget* parent, QWidget** view) {
    *view = nullptr;
    if (!m_script->attach.Ok()) {
        return Record("AttachVideo", m_script->attach);
    }
    auto* widget = new QWidget(parent);
    widget->setObjectName("ScriptedVideo");
    m_script->viewAlive = true;
    auto script = m_script;
    QObject::connect(widget, &QObject::destroyed, [script] { script->viewAlive = false; });
    *view = widget;
    return Record("AttachVideo", m_script->attach);
}

EngineResult ScriptedEngine::Load(const std::string& path, const MediaTimeline&) {
    m_script->loadedPath = path;
    if (m_script->load.Ok() && !m_script->holdLoad) {
        // As the real engine does: the outcome comes as an event once the call has returned.
        const EngineEvent outcome =
            m_script->loadFails ? EngineEvent::LoadFailed : EngineEvent::Loaded;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [this, outcome, alive = m_alive] {
                if (*alive) {
                    Post(outcome);
                }
            },
            Qt::QueuedConnection);
    }
    return Record("Load", m_script->load);
}

EngineResult ScriptedEngine::Run() {
    return Record("Run", m_script->run);
}

EngineResult ScriptedEngine::Pause() {
    return Record("Pause", m_script->pause);
}

EngineResult ScriptedEngine::Stop() {
    return Record("Stop", {});
}

EngineResult ScriptedEngine::SetRate(double rate) {
    return Record("SetRate " + std::to_string(rate), m_script->setRate);
}

EngineResult ScriptedEngine::Seek(int64_t target) {
    m_script->current = target;
    return Record("Seek " + std::to_string(target), {});
}

EngineResult ScriptedEngine::GetCurrentPosition(int64_t* position) {
    if (m_script->currentRead.Ok()) {
        *position = m_script->current;
    }
    return m_script->currentRead;
}

EngineResult ScriptedEngine::GetStopPosition(int64_t* position) {
    if (m_script->stopRead.Ok()) {
        *position = m_script->stop;
    }
    return m_script->stopRead;
}

bool ScriptedEngine::GetVideoSize(QSize* size) {
    if (!m_script->hasVideo || !m_script->videoSizeKnown) {
        return false;
    }
    *size = m_script->videoSize;
    return true;
}

bool ScriptedEngine::GetEvent(EngineEvent* event) {
    if (m_events.empty()) {
        return false;
    }
    *event = m_events.front();
    m_events.pop_front();
    return true;
}

void ScriptedEngine::Post(EngineEvent event) {
    m_events.push_back(event);
    if (m_notify) {
        m_notify();
    }
}
