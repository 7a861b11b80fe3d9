#pragma once

#include <cstdint>

#include "MediaTimeline.h"

struct AVPacket;

// Moves the timestamps of a stream's packets onto its timeline's continuous time, as they
// are read: each packet is put in the segment its place in the file says, and a frame
// split off a packet (which has no place) in the one its time says.
class ContinuousStamps {
  public:
    explicit ContinuousStamps(MediaTimeline timeline = MediaTimeline())
        : m_timeline(std::move(timeline)) {}

    const MediaTimeline& Timeline() const { return m_timeline; }
    // Reading goes on from the start of a segment (after a seek).
    void Restart(int segment);
    // Adds the segment's offset to the packet's timestamps. Nothing for the identity.
    void Apply(AVPacket* pkt);

  private:
    MediaTimeline m_timeline;
    int m_segment = 0;
    int64_t m_expectedPts = INT64_MIN;  // where the last packet ended; none yet
};
