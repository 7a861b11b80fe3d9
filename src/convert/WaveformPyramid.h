#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// The waveform of a whole track as a min/max pyramid: the sample frames (channels mixed
// by their mean, as -1..1) summed up per 256 frames and per 65,536 frames, so that a view
// of any zoom down to 256 frames per pixel column needs no new decode. Filled by one
// thread while others read it.
class WaveformPyramid {
  public:
    static constexpr int64_t kFine = 256;
    static constexpr int64_t kCoarse = 65'536;

    struct Column {
        float min = 0;
        float max = 0;
        bool known = false;  // false where nothing has been decoded yet
    };

    WaveformPyramid() = default;

    // 0 until the track's rate is known.
    int SampleRate() const { return m_rate.load(); }
    void SetSampleRate(int rate) { m_rate.store(rate); }
    // Sample frames summed up so far, and whether that is the whole track.
    int64_t Frames() const;
    bool Complete() const;

    // Writer: appends mixed sample frames; Finish says the track has ended.
    void Append(const float* frames, size_t count);
    void Finish();

    // The min and max of frames [first, first + columns x framesPerColumn), column by
    // column, from the coarsest level that has a bucket per column.
    std::vector<Column> Columns(int64_t first, double framesPerColumn, int columns) const;

  private:
    struct Level {
        std::vector<float> mins;
        std::vector<float> maxs;
    };
    // Ends the fine bucket being filled and takes it into the coarse one.
    void CloseFineBucket();
    // min/max over the buckets [from, to) of a level.
    static void Merge(const Level& level, int64_t from, int64_t to, Column& column);

    std::atomic<int> m_rate{0};
    mutable std::mutex m_mutex;
    Level m_fine;
    Level m_coarse;
    int64_t m_frames = 0;
    // The buckets being filled: frames in them and their min/max so far.
    int64_t m_fineFill = 0;
    int64_t m_coarseFill = 0;
    float m_fineMin = 1, m_fineMax = -1, m_coarseMin = 1, m_coarseMax = -1;
    bool m_complete = false;
};
