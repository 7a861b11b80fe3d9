#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "AudioStreamSource.h"
#include "WaveformPyramid.h"

// Computes the waveform of a track on a thread of its own, with the engine's own decoder
// and output format, so that it shows the very samples a conversion writes. Finished
// waveforms are kept for the last few (file, track) pairs. One computation runs at a
// time: starting another, or cancelling, tells the one under way to stop, and its thread
// ends on its own without anybody waiting for it.
//
// A long track whose decoder gives the same samples wherever it starts is decoded in
// sections, one a core, each filling its own range of the pyramid (WaveformSections); the
// first columns still come from the start.
class WaveformBuilder final {
  public:
    // threads: 0 for one a core, 1 for one pass; tracks shorter than sectionsFrom (media
    // time) are decoded in one pass.
    explicit WaveformBuilder(AudioSourceFactory factory, size_t keep = 4, int threads = 0,
                             int64_t sectionsFrom = 60 * 10'000'000LL);
    // Stops what runs and waits for it.
    ~WaveformBuilder();
    WaveformBuilder(const WaveformBuilder&) = delete;
    WaveformBuilder& operator=(const WaveformBuilder&) = delete;

    // The waveform of the track (1-based, or the primary one), filled as it is decoded;
    // a kept one at once. Never null. With a timeline (the identity for a file whose own is
    // not known yet), the file is not read for one: the waveform of the same file in
    // another timeline is another waveform.
    std::shared_ptr<const WaveformPyramid> Start(
        const std::string& path, int track,
        const std::optional<MediaTimeline>& timeline = std::nullopt);
    void Cancel();
    // True while a thread of this builder still runs.
    bool Busy();

  private:
    struct Job {
        std::string path;
        int track = 0;
        std::optional<MediaTimeline> timeline;
        size_t restarts = 0;
        std::shared_ptr<WaveformPyramid> pyramid;
        std::atomic<bool> cancelled{false};
        std::atomic<bool> finished{false};
        std::thread thread;
    };
    struct Kept {
        std::string path;
        int track;
        size_t restarts;
        std::shared_ptr<WaveformPyramid> pyramid;
    };
    void Run(Job& job) const;
    void JoinFinished();
    // Keeps the complete waveforms of ended jobs.
    void Collect(Job& job);

    AudioSourceFactory m_factory;
    size_t m_keep;
    int m_nThreads;
    int64_t m_rtSectionsFrom;
    std::shared_ptr<Job> m_current;
    std::vector<std::shared_ptr<Job>> m_jobs;  // threads not joined yet
    std::list<Kept> m_kept;                    // most recent first
};
