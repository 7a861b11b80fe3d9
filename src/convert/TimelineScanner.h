#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "MediaTimeline.h"
#include "MpegPacketReader.h"

struct AVFormatContext;
struct AVInputFormat;

// Finds where the timestamps of an audio stream restart in an MPEG program or transport
// stream, and builds the timeline that joins the pieces.
//
// A whole-file pass of libavformat's demuxer costs about half a second of CPU per
// gigabyte, so the file is first walked by its packet headers alone (MpegPacketReader:
// pack and PES headers, or the 4-byte headers of transport packets), reading the
// timestamps of the stream's PES packets. Where they jump, libavformat reads the few
// packets around the place on a context of its own, to confirm the restart in its own
// timestamps (it undoes a first wrap of the 33-bit clock itself) and to learn the exact
// times of the frames on both sides.
class TimelineScanner {
  public:
    // fmt: the file as the caller opened it (its format, streams and time bases are
    // read, nothing else); stream: the audio stream to follow; origin: media time 0 as
    // stream time in 100 ns units; cancel: a flag that, once set, ends the scan (then
    // with the identity timeline), or nullptr.
    TimelineScanner(std::string path, const AVFormatContext* fmt, int stream, int64_t origin,
                    const std::atomic<bool>* cancel = nullptr);
    ~TimelineScanner();
    TimelineScanner(const TimelineScanner&) = delete;
    TimelineScanner& operator=(const TimelineScanner&) = delete;

    // The identity timeline for other containers, standard input, files that are not
    // regular, and files whose timestamps run on.
    MediaTimeline Scan();
    // Whether Scan reads the file at all: an MPEG program or transport stream.
    bool Scans() const { return m_container != Container::Unknown; }
    // What Scan gives for a file whose timestamps run on.
    MediaTimeline Identity() const { return MediaTimeline(m_tbNum, m_tbDen, m_origin); }

  private:
    using Container = MpegPacketReader::Container;
    using PesTime = MpegPacketReader::Pes;
    struct Candidate {
        int64_t fromPos = 0;  // a few PES packets before the jump
        int64_t pos = 0;      // the first PES packet after it
    };
    struct PacketTime {
        int64_t pos = -1;
        int64_t pts = 0;
        int64_t duration = 0;
    };
    struct Restart {
        int64_t pos = 0;       // the first packet of the new segment
        int64_t endPts = 0;    // where the frames before it end
        int64_t firstPts = 0;  // the timestamp of its first frame
    };

    // Walks the headers of the whole file; false when it cannot be read, holds no packets
    // of its kind (a transport stream without packets in step at its start) or the scan
    // was cancelled.
    bool WalkHeaders();
    // One PES packet of the stream, with its timestamp (33 bits, as the file holds it).
    void OnPes(int64_t pos, int64_t pts);
    // Where the oldest of the last four PES packets starts.
    int64_t OldestRecent() const;

    bool OpenDemuxer();
    static int StopReading(void* opaque);
    // The next packet of the stream from libavformat; false at the end of the file or
    // once the demuxer has read past byte limit.
    bool ReadPacket(PacketTime& packet, int64_t limit = INT64_MAX);
    bool SeekToByte(int64_t pos);
    // The restart near a candidate, in libavformat's timestamps; false when there is
    // none there (a wrap that libavformat undid, or jitter).
    bool Confirm(const Candidate& candidate, Restart& restart);
    // Where the frames of the last segment end; false when it cannot be read.
    bool LastEnd(int64_t fromPos, int64_t& endPts);
    std::vector<MediaTimeline::SeekPoint> SeekPointsOf(const MediaTimeline& timeline) const;

    std::string m_path;
    const std::atomic<bool>* m_cancel;
    const AVInputFormat* m_format = nullptr;
    Container m_container = Container::Unknown;
    int m_nStreamId = 0;  // the stream's id in the container, as libavformat gives it
    int m_tbNum = 1;
    int m_tbDen = 90000;
    int64_t m_origin = 0;
    int64_t m_fileSize = 0;

    // From the header walk: PES timestamps about every half second, the places where
    // they jump, and where the last few PES packets start.
    std::vector<PesTime> m_marks;
    std::vector<Candidate> m_candidates;
    int64_t m_recent[4] = {};
    int m_nRecent = 0;
    bool m_bHavePrev = false;
    int64_t m_prevPts = 0;
    int64_t m_lastMarkPts = 0;
    bool m_bTooMany = false;

    AVFormatContext* m_demuxer = nullptr;
    int m_nDemuxerStream = -1;
    unsigned m_nStreamsSeen = 0;
};
