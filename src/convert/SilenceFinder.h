#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "AudioStreamSource.h"
#include "Segment.h"

class WaveformPyramid;

// The sound between silences: stretches at least minimumLength long whose peak level (of
// the channels' mean, as the waveform shows it) stays below threshold, with margin kept
// on each side of every piece of sound. Found on the waveform's buckets of 256 sample
// frames, then each edge of a silence on the samples themselves.
class SilenceFinder {
  public:
    struct Settings {
        double thresholdDb = -50;
        int64_t minimumLength = 20'000'000;  // 2 s
        int64_t margin = 2'500'000;          // 0.25 s
    };

    // From the waveform alone, to a bucket: what a dialog counts while its settings move.
    static std::vector<Segment> Sounds(const WaveformPyramid& waveform, const Settings& settings,
                                       int64_t duration);
    // The same with each edge found on the samples of the source, which must be open and
    // prepared on the waveform's track. A stop, once set, leaves the edges not yet looked at
    // as the waveform has them.
    static std::vector<Segment> Sounds(const WaveformPyramid& waveform, const Settings& settings,
                                       int64_t duration, AudioStreamSource& source,
                                       const AudioFormat& format,
                                       const std::atomic<bool>* stop = nullptr);

  private:
    struct Silence {
        int64_t first = 0;  // its first sample frame
        int64_t end = 0;    // the frame after its last
    };
    static std::vector<Silence> Find(const WaveformPyramid& waveform, const Settings& settings);
    static std::vector<Segment> Between(const std::vector<Silence>& silences,
                                        const Settings& settings, int rate, int64_t frames,
                                        int64_t duration);
};
