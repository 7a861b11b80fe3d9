#pragma once

#include <QObject>

#include <memory>
#include <string>

#include "PlaybackEngine.h"

// Makes the preview's playback cores, started and ready to load, and keeps one started
// ahead when asked: starting a core is a good part of an open's time on the GUI thread,
// and an open is when reading the file keeps every core of the machine busy.
class EngineSupply final : public QObject {
  public:
    explicit EngineSupply(PlaybackEngineFactory factory, QObject* parent = nullptr);

    // Whether a started core is kept for the next Take; it is started soon after.
    void KeepSpare(bool on);
    // Starts the spare soon, when one is kept and none is there.
    void PrepareSpare();
    // A started core: the spare, else a new one. Null when none could be made or started;
    // then what failed, and the core's own words for why.
    std::unique_ptr<PlaybackEngine> Take(EngineResult& failure, std::string& why);

  private:
    PlaybackEngineFactory m_factory;
    std::unique_ptr<PlaybackEngine> m_spare;
    bool m_keepSpare = false;
};
