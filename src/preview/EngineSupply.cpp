#include "EngineSupply.h"

#include <QTimer>

#include <utility>

EngineSupply::EngineSupply(PlaybackEngineFactory factory, QObject* parent)
    : QObject(parent), m_factory(std::move(factory)) {}

void EngineSupply::KeepSpare(bool on) {
    m_keepSpare = on;
    if (on) {
        PrepareSpare();
    } else {
        m_spare.reset();
    }
}

void EngineSupply::PrepareSpare() {
    if (!m_keepSpare || m_spare) {
        return;
    }
    // Later, so that what asked for it (an open that has just ended) finishes first.
    QTimer::singleShot(0, this, [this] {
        if (!m_keepSpare || m_spare || !m_factory) {
            return;
        }
        std::unique_ptr<PlaybackEngine> engine = m_factory();
        // One that cannot start is left to the open, which tells the user why.
        if (engine && engine->Initialize().Ok()) {
            m_spare = std::move(engine);
        }
    });
}

std::unique_ptr<PlaybackEngine> EngineSupply::Take(EngineResult& failure, std::string& why) {
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
