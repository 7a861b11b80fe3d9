#pragma once

#include <QObject>

#include <memory>
#include <string>
#include <thread>

#include "PlaybackEngine.h"

class WakeUp;

// Makes the preview's playback cores, started and ready to load, and keeps one started
// ahead when asked. Starting a core is a good part of an open's time; the spare's core
// starts on a thread of its own, so that the GUI thread does not wait for it while reading
// a file keeps every core of the machine busy.
class EngineSupply final : public QObject {
  public:
    explicit EngineSupply(PlaybackEngineFactory factory, QObject* parent = nullptr);
    ~EngineSupply() override;

    // Whether a started core is kept for the next Take; it starts soon after.
    void KeepSpare(bool on);
    // Whether a started core waits for the next Take.
    bool HasSpare() const { return m_spare != nullptr; }
    // Starts the spare soon, when one is kept and none is there or starting.
    void PrepareSpare();
    // A started core: the spare (one still starting is finished first), else a new one
    // started here. Null when none could be made or started; then what failed, and the
    // core's own words for why.
    std::unique_ptr<PlaybackEngine> Take(EngineResult& failure, std::string& why);

  private:
    void StartSpare();
    void FinishSpare();

    PlaybackEngineFactory m_factory;
    std::unique_ptr<PlaybackEngine> m_spare;
    bool m_keepSpare = false;
    // The spare whose core is starting on m_starter, and whether it started (read once the
    // starter has been joined).
    std::unique_ptr<PlaybackEngine> m_starting;
    std::thread m_starter;
    bool m_started = false;
    WakeUp* m_wake;  // the starter's word that it is done
};
