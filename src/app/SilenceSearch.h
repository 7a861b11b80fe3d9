#pragma once

#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AudioStreamSource.h"
#include "Segment.h"
#include "SilenceFinder.h"

class WakeUp;
class WaveformPyramid;

// Finds the sound between silences on a thread of its own: the waveform gives where the
// silences are, the samples where each of their edges lies. One search at a time; a new
// one, or the end of this object, stops the one under way. The answer is handed over under
// a mutex and the GUI thread woken through a WakeUp, so the thread sanitizer sees the
// hand-over that a queued Qt call would hide.
class SilenceSearch final : public QObject {
    Q_OBJECT
  public:
    explicit SilenceSearch(AudioSourceFactory sources, QObject* parent = nullptr);
    // Stops the search and waits for its thread.
    ~SilenceSearch() override;

    void Start(const std::string& path, int track, std::shared_ptr<const WaveformPyramid> waveform,
               const SilenceFinder::Settings& settings, int64_t duration);
    void Stop();
    bool Busy() const { return m_busy; }

  signals:
    void found(const std::vector<Segment>& segments);
    void failed(const QString& why);

  private:
    struct Answer {
        int generation = 0;
        std::vector<Segment> sounds;
        QString why;
    };
    void Join();
    // GUI thread: the thread's answer, if it is the last search's.
    void Deliver();

    AudioSourceFactory m_sources;
    std::thread m_thread;
    std::shared_ptr<std::atomic<bool>> m_stop;
    // Counts the searches, so that a result arriving after a newer start is dropped.
    int m_generation = 0;
    bool m_busy = false;
    WakeUp* m_wake = nullptr;
    std::mutex m_mutex;
    std::unique_ptr<Answer> m_answer;  // under m_mutex
};
