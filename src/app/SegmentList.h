#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Segment.h"

// The segments of the open file, always sorted by start (then end). Segments may overlap;
// the list says which do. Rows are indexes of the sorted list.
class SegmentList {
  public:
    const std::vector<Segment>& Segments() const { return m_segments; }
    int Count() const { return static_cast<int>(m_segments.size()); }
    bool Valid(int row) const { return row >= 0 && row < Count(); }

    // Returns the row the segment ends up in.
    int Add(Segment segment);
    void Remove(int row);
    void Clear() { m_segments.clear(); }
    void Replace(std::vector<Segment> segments);
    // New marks for a row; returns the row it moves to, to stay in order.
    int SetTimes(int row, int64_t start, int64_t end);
    void SetName(int row, const std::string& name);
    // Whether the row shares some time with another segment.
    bool Overlaps(int row) const;

  private:
    int Insert(Segment segment);

    std::vector<Segment> m_segments;
};
