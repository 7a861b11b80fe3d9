#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

// The waveform of a whole track as a min/max pyramid: the sample frames (channels mixed
// by their mean, as -1..1) summed up per 256 frames and per 65,536 frames, so that a view
// of any zoom down to 256 frames per pixel column needs no new decode. Filled by one
// thread, or by several side by side in sections of their own, while others read it.
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
    // Sample frames summed up so far from the start without a gap, and whether that is
    // the whole track.
    // Neither waits for the writers.
    int64_t Frames() const { return m_frames.load(); }
    bool Complete() const { return m_complete.load(); }

    // Writer: appends mixed sample frames; Finish says the track has ended.
    void Append(const float* frames, size_t count) { AppendAt(0, frames, count); }
    void Finish();
    // Sections filled side by side, each from its first frame (a multiple of kCoarse) on;
    // section 0 starts at frame 0 and is the one Append fills. Returns the section's number.
    int AddSection(int64_t firstFrame);
    void AppendAt(int section, const float* frames, size_t count);
    // Forgets what a section filled, and that it fills: its columns are unknown again
    // until another section fills them.
    void DropSection(int section);

    // The min and max of frames [first, first + columns x framesPerColumn), column by
    // column, from the coarsest level that has a bucket per column.
    std::vector<Column> Columns(int64_t first, double framesPerColumn, int columns) const;

  private:
    struct Level {
        std::vector<float> mins;
        std::vector<float> maxs;
    };
    struct Bucket {
        int64_t index;
        float min;
        float max;
    };
    // Buckets a writer has closed, to be stored under the lock.
    struct Closed {
        std::vector<Bucket> fine;
        std::vector<Bucket> coarse;
    };
    // A section's place and the buckets it is filling: frames in them and their min/max.
    struct Writer {
        int64_t first = 0;
        int64_t next = 0;
        bool live = true;
        int64_t fineFill = 0;
        int64_t coarseFill = 0;
        float fineMin = 1, fineMax = -1, coarseMin = 1, coarseMax = -1;
        Closed closed;  // kept from one append to the next, for its capacity
    };
    // Ends the fine bucket being filled (up to frame next) and takes it into the coarse one.
    static void CloseFineBucket(Writer& w, int64_t next, Closed& closed);
    void Store(const Closed& closed);
    int64_t FramesLocked() const;
    static void Put(Level& level, int64_t bucket, float min, float max);
    // min/max over the buckets [from, to) of a level.
    static void Merge(const Level& level, int64_t from, int64_t to, Column& column);

    std::atomic<int> m_rate{0};
    mutable std::mutex m_mutex;
    // Buckets not filled yet hold NaN.
    Level m_fine;
    Level m_coarse;
    // A deque: a writer's own entry stays where it is while sections are added.
    std::deque<Writer> m_writers{Writer{}};
    std::atomic<int64_t> m_frames{0};
    std::atomic<bool> m_complete{false};
};
