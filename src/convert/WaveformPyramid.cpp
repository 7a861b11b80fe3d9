#include "WaveformPyramid.h"

#include <algorithm>
#include <cmath>

int64_t WaveformPyramid::FramesLocked() const {
    int64_t frames = m_writers[0].next;
    for (size_t i = 1; i < m_writers.size(); ++i) {
        const Writer& w = m_writers[i];
        if (w.live && w.first == frames) {
            frames = w.next;
        } else if (w.live && w.first > frames) {
            break;
        }
    }
    return frames;
}

int WaveformPyramid::AddSection(int64_t firstFrame) {
    std::lock_guard lock(m_mutex);
    Writer w;
    w.first = w.next = firstFrame - firstFrame % kCoarse;
    m_writers.push_back(w);
    m_frames.store(FramesLocked());
    return static_cast<int>(m_writers.size()) - 1;
}

void WaveformPyramid::DropSection(int section) {
    std::lock_guard lock(m_mutex);
    Writer& w = m_writers[static_cast<size_t>(section)];
    w.live = false;
    const float none = std::nanf("");
    for (int64_t b = w.first / kFine; b < (w.next + kFine - 1) / kFine; ++b) {
        Put(m_fine, b, none, none);
    }
    for (int64_t b = w.first / kCoarse; b < (w.next + kCoarse - 1) / kCoarse; ++b) {
        Put(m_coarse, b, none, none);
    }
    m_frames.store(FramesLocked());
}

void WaveformPyramid::Put(Level& level, int64_t bucket, float min, float max) {
    const auto at = static_cast<size_t>(bucket);
    if (level.mins.size() <= at) {
        level.mins.resize(at + 1, std::nanf(""));
        level.maxs.resize(at + 1, std::nanf(""));
    }
    level.mins[at] = min;
    level.maxs[at] = max;
}

namespace {

// lo and hi taken down and up to the values' own. Eight lanes side by side, so that the
// compiler makes vector minimums and maximums of them: the samples are never NaN, and
// the order of taking them does not change a minimum.
void MinMax(const float* values, size_t count, float& lo, float& hi) {
    constexpr size_t kLanes = 8;
    size_t k = 0;
    if (count >= kLanes) {
        float los[kLanes];
        float his[kLanes];
        for (size_t j = 0; j < kLanes; ++j) {
            los[j] = lo;
            his[j] = hi;
        }
        for (; k + kLanes <= count; k += kLanes) {
            for (size_t j = 0; j < kLanes; ++j) {
                const float v = values[k + j];
                los[j] = v < los[j] ? v : los[j];
                his[j] = v > his[j] ? v : his[j];
            }
        }
        for (size_t j = 0; j < kLanes; ++j) {
            lo = std::min(lo, los[j]);
            hi = std::max(hi, his[j]);
        }
    }
    for (; k < count; ++k) {
        lo = std::min(lo, values[k]);
        hi = std::max(hi, values[k]);
    }
}

}  // namespace

void WaveformPyramid::AppendAt(int section, const float* frames, size_t count) {
    Writer* w = nullptr;
    {
        std::lock_guard lock(m_mutex);
        w = &m_writers[static_cast<size_t>(section)];
    }
    // The buckets are summed up outside the lock: the writers run at a lower priority than
    // the GUI thread, and one that lost its core while holding the lock would hold up every
    // paint for as long. Only this writer changes its own filling state and place.
    Closed& closed = w->closed;
    closed.fine.clear();
    closed.coarse.clear();
    int64_t next = w->next;
    for (size_t i = 0; i < count;) {
        const size_t take = std::min<size_t>(count - i, static_cast<size_t>(kFine - w->fineFill));
        MinMax(frames + i, take, w->fineMin, w->fineMax);
        w->fineFill += static_cast<int64_t>(take);
        next += static_cast<int64_t>(take);
        i += take;
        if (w->fineFill == kFine) {
            CloseFineBucket(*w, next, closed);
        }
    }
    std::lock_guard lock(m_mutex);
    Store(closed);
    w->next = next;
    m_frames.store(FramesLocked());
}

void WaveformPyramid::CloseFineBucket(Writer& w, int64_t next, Closed& closed) {
    closed.fine.push_back({(next - w.fineFill) / kFine, w.fineMin, w.fineMax});
    w.coarseMin = std::min(w.coarseMin, w.fineMin);
    w.coarseMax = std::max(w.coarseMax, w.fineMax);
    w.coarseFill += w.fineFill;
    w.fineFill = 0;
    w.fineMin = 1;
    w.fineMax = -1;
    if (w.coarseFill == kCoarse) {
        closed.coarse.push_back({(next - kCoarse) / kCoarse, w.coarseMin, w.coarseMax});
        w.coarseFill = 0;
        w.coarseMin = 1;
        w.coarseMax = -1;
    }
}

void WaveformPyramid::Store(const Closed& closed) {
    for (const Bucket& b : closed.fine) {
        Put(m_fine, b.index, b.min, b.max);
    }
    for (const Bucket& b : closed.coarse) {
        Put(m_coarse, b.index, b.min, b.max);
    }
}

void WaveformPyramid::Finish() {
    std::lock_guard lock(m_mutex);
    // The last, partial buckets count too.
    for (Writer& w : m_writers) {
        if (!w.live) {
            continue;
        }
        Closed closed;
        if (w.fineFill > 0) {
            CloseFineBucket(w, w.next, closed);
        }
        if (w.coarseFill > 0) {
            closed.coarse.push_back({(w.next - w.coarseFill) / kCoarse, w.coarseMin, w.coarseMax});
            w.coarseFill = 0;
        }
        Store(closed);
    }
    m_complete.store(true);
}

void WaveformPyramid::Merge(const Level& level, int64_t from, int64_t to, Column& column) {
    const int64_t size = static_cast<int64_t>(level.mins.size());
    from = std::clamp<int64_t>(from, 0, size);
    to = std::clamp<int64_t>(to, 0, size);
    for (int64_t b = from; b < to; ++b) {
        if (std::isnan(level.mins[b])) {
            continue;
        }
        column.min = column.known ? std::min(column.min, level.mins[b]) : level.mins[b];
        column.max = column.known ? std::max(column.max, level.maxs[b]) : level.maxs[b];
        column.known = true;
    }
}

std::vector<WaveformPyramid::Column> WaveformPyramid::Columns(int64_t first, double framesPerColumn,
                                                              int columns) const {
    std::vector<Column> out(static_cast<size_t>(std::max(columns, 0)));
    std::lock_guard lock(m_mutex);
    const bool coarse = framesPerColumn >= static_cast<double>(kCoarse);
    const Level& level = coarse ? m_coarse : m_fine;
    const double bucket = static_cast<double>(coarse ? kCoarse : kFine);
    for (int c = 0; c < columns; ++c) {
        const double start = static_cast<double>(first) + c * framesPerColumn;
        const double end = start + framesPerColumn;
        // Every bucket the column touches, and at least one.
        const auto from = static_cast<int64_t>(std::floor(start / bucket));
        const auto to = std::max<int64_t>(from + 1, static_cast<int64_t>(std::ceil(end / bucket)));
        Merge(level, from, to, out[static_cast<size_t>(c)]);
    }
    return out;
}
