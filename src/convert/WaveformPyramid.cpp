#include "WaveformPyramid.h"

#include <algorithm>
#include <cmath>

int64_t WaveformPyramid::Frames() const {
    std::lock_guard lock(m_mutex);
    return m_frames;
}

bool WaveformPyramid::Complete() const {
    std::lock_guard lock(m_mutex);
    return m_complete;
}

void WaveformPyramid::Append(const float* frames, size_t count) {
    std::lock_guard lock(m_mutex);
    // Bucket by bucket: a tight min/max over each piece, and the coarse level from the
    // fine buckets, whose bounds it shares.
    for (size_t i = 0; i < count;) {
        const size_t take = std::min<size_t>(count - i, static_cast<size_t>(kFine - m_fineFill));
        float lo = m_fineMin;
        float hi = m_fineMax;
        for (size_t k = i; k < i + take; ++k) {
            lo = std::min(lo, frames[k]);
            hi = std::max(hi, frames[k]);
        }
        m_fineMin = lo;
        m_fineMax = hi;
        m_fineFill += static_cast<int64_t>(take);
        i += take;
        if (m_fineFill == kFine) {
            CloseFineBucket();
        }
    }
    m_frames += static_cast<int64_t>(count);
}

void WaveformPyramid::CloseFineBucket() {
    m_fine.mins.push_back(m_fineMin);
    m_fine.maxs.push_back(m_fineMax);
    m_coarseMin = std::min(m_coarseMin, m_fineMin);
    m_coarseMax = std::max(m_coarseMax, m_fineMax);
    m_coarseFill += m_fineFill;
    m_fineFill = 0;
    m_fineMin = 1;
    m_fineMax = -1;
    if (m_coarseFill == kCoarse) {
        m_coarse.mins.push_back(m_coarseMin);
        m_coarse.maxs.push_back(m_coarseMax);
        m_coarseFill = 0;
        m_coarseMin = 1;
        m_coarseMax = -1;
    }
}

void WaveformPyramid::Finish() {
    std::lock_guard lock(m_mutex);
    // The last, partial buckets count too.
    if (m_fineFill > 0) {
        CloseFineBucket();
    }
    if (m_coarseFill > 0) {
        m_coarse.mins.push_back(m_coarseMin);
        m_coarse.maxs.push_back(m_coarseMax);
        m_coarseFill = 0;
    }
    m_complete = true;
}

void WaveformPyramid::Merge(const Level& level, int64_t from, int64_t to, Column& column) {
    const int64_t size = static_cast<int64_t>(level.mins.size());
    from = std::clamp<int64_t>(from, 0, size);
    to = std::clamp<int64_t>(to, 0, size);
    for (int64_t b = from; b < to; ++b) {
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
