#include "MpvReaper.h"

#include <mpv/client.h>

MpvReaper& MpvReaper::Instance() {
    static MpvReaper reaper;
    return reaper;
}

MpvReaper::~MpvReaper() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void MpvReaper::Destroy(mpv_handle* mpv, std::shared_ptr<void> keep) {
    std::lock_guard lock(m_mutex);
    m_queue.emplace_back(mpv, std::move(keep));
    if (!m_thread.joinable()) {
        m_thread = std::thread(&MpvReaper::Run, this);
    }
    m_changed.notify_all();
}

void MpvReaper::Drain() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.empty() && m_busy == 0; });
}

void MpvReaper::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_queue.empty() || m_quit; });
        if (m_queue.empty()) {
            return;  // quitting, with nothing left to take down
        }
        auto [mpv, keep] = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_busy;
        lock.unlock();
        mpv_terminate_destroy(mpv);
        keep.reset();
        lock.lock();
        --m_busy;
        m_changed.notify_all();
    }
}
