#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "FfmpegAudioSource.h"

// A gate the test opens from its own thread.
class Gate {
  public:
    void Open() {
        {
            std::lock_guard lock(m_mutex);
            m_bOpen = true;
        }
        m_opened.notify_all();
    }
    void Pass() {
        std::unique_lock lock(m_mutex);
        m_opened.wait(lock, [this] { return m_bOpen; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_bOpen = false;
};

// The real decoder, held up before a chosen fill until the test opens the gate, so a
// test can act while a conversion is surely in progress.
class GatedSource : public FfmpegAudioSource {
  public:
    GatedSource(std::shared_ptr<Gate> gate, int fillsBeforeGate, std::atomic<int>* fills)
        : m_gate(std::move(gate)), m_fillsBeforeGate(fillsBeforeGate), m_fills(fills) {}

    long FillAudioBuffer(uint8_t* buffer) override {
        if (m_fills->load() == m_fillsBeforeGate) {
            m_gate->Pass();
        }
        const long count = FfmpegAudioSource::FillAudioBuffer(buffer);
        m_fills->fetch_add(1);
        return count;
    }

  private:
    std::shared_ptr<Gate> m_gate;
    int m_fillsBeforeGate;
    std::atomic<int>* m_fills;
};
