#include "EngineSupply.h"

#include <QTimer>

#include <system_error>
#include <utility>

#include "WakeUp.h"

EngineSupply::EngineSupply(PlaybackEngineFactory factory, QObject* parent)
    : QObject(parent), m_factory(std::move(factory)), m_wake(new WakeUp(this)) {
    connect(m_wake, &WakeUp::woken, this, &EngineSupply::FinishSpare);
}

EngineSupply::~EngineSupply() {
    // A core's start cannot be cut short; it takes a fraction of a second at most.
    if (m_starter.joinable()) {
        m_starter.join();
    }
}

void EngineSupply::KeepSpare(bool on) {
    m_keepSpare = on;
    if (on) {
        PrepareSpare();
    } else {
        m_spare.reset();
    }
}

void EngineSupply::PrepareSpare() {
    if (!m_keepSpare || m_spare || m_starting) {
        return;
    }
    // Later, so that what asked for it (an open that has just ended) finishes first.
    QTimer::singleShot(0, this, [this] { StartSpare(); });
}

void EngineSupply::StartSpare() {
    if (!m_keepSpare || m_spare || m_starting || !m_factory) {
        return;
    }
    m_starting = m_factory();
    if (!m_starting) {
        return;
    }
    try {
        m_starter = std::thread([this, engine = m_starting.get()] {
            m_started = engine->StartCore().Ok();
            m_wake->Wake();
        });
    } catch (const std::system_error&) {
        m_starting.reset();  // the next open starts its own
    }
}

void EngineSupply::FinishSpare() {
    if (!m_starting) {
        return;
    }
    m_starter.join();
    std::unique_ptr<PlaybackEngine> engine = std::move(m_starting);
    // One that cannot start is left to the open, which tells the user why.
    if (m_started && m_keepSpare && !m_spare && engine->Initialize().Ok()) {
        m_spare = std::move(engine);
    }
}

std::unique_ptr<PlaybackEngine> EngineSupply::Take(EngineResult& failure, std::string& why) {
    // A spare still starting is finished rather than a second core started here: the
    // open then waits for less than a whole start.
    FinishSpare();
    if (m_spare) {
        return std::move(m_spare);
    }
    std::unique_ptr<PlaybackEngine> engine = m_factory ? m_factory() : nullptr;
    if (!engine) {
        failure = {static_cast<int>(0x80004005u), "PlaybackEngineFactory()"};
        why.clear();
        return nullptr;
    }
    failure = engine->Initialize();
    if (!failure.Ok()) {
        why = engine->ErrorText(failure.code);
        return nullptr;
    }
    return engine;
}
