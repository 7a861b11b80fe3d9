#include "SegmentList.h"

#include <algorithm>

namespace {

bool Before(const Segment& a, const Segment& b) {
    return a.start != b.start ? a.start < b.start : a.end < b.end;
}

}  // namespace

int SegmentList::Insert(Segment segment) {
    // After its equals, so a segment added twice keeps the order it was added in.
    const auto at = std::upper_bound(m_segments.begin(), m_segments.end(), segment, Before);
    const auto placed = m_segments.insert(at, std::move(segment));
    return static_cast<int>(placed - m_segments.begin());
}

int SegmentList::Add(Segment segment) {
    return Insert(std::move(segment));
}

void SegmentList::Remove(int row) {
    if (Valid(row)) {
        m_segments.erase(m_segments.begin() + row);
    }
}

void SegmentList::Replace(std::vector<Segment> segments) {
    m_segments = std::move(segments);
    std::stable_sort(m_segments.begin(), m_segments.end(), Before);
}

int SegmentList::SetTimes(int row, int64_t start, int64_t end) {
    if (!Valid(row)) {
        return -1;
    }
    Segment moved = m_segments[static_cast<size_t>(row)];
    moved.start = start;
    moved.end = end;
    m_segments.erase(m_segments.begin() + row);
    return Insert(std::move(moved));
}

void SegmentList::SetName(int row, const std::string& name) {
    if (Valid(row)) {
        m_segments[static_cast<size_t>(row)].name = name;
    }
}

bool SegmentList::Overlaps(int row) const {
    if (!Valid(row)) {
        return false;
    }
    const Segment& mine = m_segments[static_cast<size_t>(row)];
    for (int other = 0; other < Count(); ++other) {
        const Segment& theirs = m_segments[static_cast<size_t>(other)];
        if (other != row && mine.start < theirs.end && theirs.start < mine.end) {
            return true;
        }
    }
    return false;
}
