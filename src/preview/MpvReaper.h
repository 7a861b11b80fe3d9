#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

struct mpv_handle;

// Takes libmpv cores down on a thread of its own: mpv_terminate_destroy waits until the
// core's threads have stopped, which can take a good part of a second after a large file
// played, and the GUI thread must not wait for that. Cores still pending when the
// program ends are taken down before it does.
class MpvReaper final {
  public:
    // The one reaper of the process.
    static MpvReaper& Instance();

    // Takes over the core: nothing else may use it from now on. `keep` (what the core's
    // callbacks reach) lives until the core is gone.
    void Destroy(mpv_handle* mpv, std::shared_ptr<void> keep = {});
    // Waits until every core handed over so far is gone.
    void Drain();

    ~MpvReaper();
    MpvReaper(const MpvReaper&) = delete;
    MpvReaper& operator=(const MpvReaper&) = delete;

  private:
    MpvReaper() = default;
    void Run();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::pair<mpv_handle*, std::shared_ptr<void>>> m_queue;
    int m_busy = 0;  // cores being taken down right now
    bool m_quit = false;
    std::thread m_thread;
};
