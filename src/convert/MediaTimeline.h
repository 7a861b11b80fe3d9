#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// One continuous media time over a file whose timestamps restart: MPEG program and
// transport streams joined end to end (cat a.mpg b.mpg), DVD cells, recordings across
// a programme change, a second wrap of the 33-bit clock. Such a file is cut into
// segments where the timestamps of its audio stream restart; each segment starts in
// media time where the one before it ended, so the media time runs on as the sound
// does when the whole file is decoded.
//
// Stream timestamps ("pts") are in the audio stream's time base (1/90000 s for MPEG),
// as libavformat gives them (with a first wrap of the 33-bit clock already undone).
// Media time is in 100 ns units from the start of the file (MediaTime.h).
//
// A file without restarts has the identity timeline: no segments, and media time is
// the stream time minus the file's start, as always.
//
// Following the timeline in a player (libmpv): the player reports `time-pos`, rebased
// to the file's start, and `stream-pos`, the byte position its demuxer has read up to.
//   media time = FromPlayerTime(time-pos, stream-pos, the media time last reported)
//   (then less the track's AudioTrack::lead, as for any file: the lead is the same in
//   every segment). The last reported time resolves the segments whose timestamps
//   overlap; stream-pos rules out the segments not read yet (it runs ahead of what is
//   heard, by the demuxer's read-ahead, so alone it is not enough near a join).
// And back: Locate(media time) gives the segment, the player time to seek to within
// it (`seek <playerTime> absolute` finds the right place only in the first segment
// with that time; for later ones seek by bytes first, e.g. to bytePos / FileSize() as
// a fraction, then exactly to the player time), and the byte position to read from.
class MediaTimeline {
  public:
    struct Segment {
        int64_t bytePos = 0;     // where the segment's first audio packet lies in the file
        int64_t firstPts = 0;    // the stream timestamp of its first audio frame
        int64_t endPts = 0;      // the stream timestamp at which its last audio frame ends
        int64_t mediaStart = 0;  // the media time of its first audio frame
    };
    // A place to start reading the file: the audio read from bytePos on starts at or
    // before mediaTime.
    struct SeekPoint {
        int64_t bytePos = 0;
        int64_t mediaTime = 0;
    };
    struct Location {
        int segment = 0;
        int64_t pts = 0;         // the stream timestamp there
        int64_t playerTime = 0;  // the same, as a player rebased to the file's start shows it
        int64_t bytePos = 0;     // where to start reading to get there (at or before it)
    };

    // The identity timeline of a stream in time base num/den whose file starts at
    // origin (stream time in 100 ns units).
    MediaTimeline(int tbNum = 1, int tbDen = 10'000'000, int64_t origin = 0);
    // A timeline of segments in file order, each starting where the one before ended
    // (mediaStart is filled in from the first). Fewer than two segments make the
    // identity timeline.
    MediaTimeline(int tbNum, int tbDen, int64_t origin, std::vector<Segment> segments,
                  std::vector<SeekPoint> seekPoints, int64_t fileSize);

    bool HasRestarts() const { return !m_segments.empty(); }
    // Empty for the identity timeline.
    const std::vector<Segment>& Segments() const { return m_segments; }
    const std::vector<SeekPoint>& SeekPoints() const { return m_seekPoints; }
    int TimeBaseNum() const { return m_tbNum; }
    int TimeBaseDen() const { return m_tbDen; }
    // Media time 0 as stream time in 100 ns units.
    int64_t Origin() const { return m_origin; }
    int64_t FileSize() const { return m_fileSize; }
    // Where the sound of the last segment ends, in media time; 0 for the identity.
    int64_t Duration() const;

    // The segment of the audio packet that starts at bytePos (0 for the identity).
    int SegmentAt(int64_t bytePos) const;
    // What is added to a segment's timestamps to make them continuous.
    int64_t Offset(int segment) const;
    // The media time of stream timestamp pts of a segment.
    int64_t MediaTimeOf(int segment, int64_t pts) const;
    // Where media time t lies: in the segment whose span holds it (the last one past the
    // end, the first before the start).
    Location Locate(int64_t t) const;

    // The media time of a player's position (100 ns units, rebased to the file's
    // start). streamPos: the byte position the player has read up to, if known; near:
    // a media time the answer should lie close to (the last one reported, or a seek's
    // target). Without either, the first segment that holds the timestamp.
    int64_t FromPlayerTime(int64_t playerTime, std::optional<int64_t> streamPos = std::nullopt,
                           std::optional<int64_t> near = std::nullopt) const;

    // Whether a packet with timestamp pts, following one that ended at expected, starts
    // a new segment: a jump back of more than kBackwardTolerance, or forward by more
    // than kForwardGap. Smaller jumps are gaps or jitter within one recording.
    static bool IsRestart(int64_t expected, int64_t pts, int tbNum, int tbDen);
    static constexpr int64_t kBackwardTolerance = 5'000'000;  // 0.5 s
    static constexpr int64_t kForwardGap = 50'000'000;        // 5 s

  private:
    // Stream time base units to 100 ns units and back, rounded to nearest.
    int64_t ToRt(int64_t ticks) const;
    int64_t ToTicks(int64_t rt) const;

    int m_tbNum;
    int m_tbDen;
    int64_t m_origin;
    std::vector<Segment> m_segments;
    std::vector<int64_t> m_offsets;  // Offset() of each segment
    std::vector<SeekPoint> m_seekPoints;
    int64_t m_fileSize = 0;
};
