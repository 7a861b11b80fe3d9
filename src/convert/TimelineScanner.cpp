#include "TimelineScanner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "MediaTime.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

// MPEG timestamps count a 90 kHz clock in 33 bits.
constexpr int64_t kPtsWrap = int64_t{1} << 33;
constexpr int64_t kPtsRate = 90000;
// A jump forward between PES packets larger than this may hide a restart.
constexpr int64_t kForwardGapTicks =
    MediaTimeline::kForwardGap * kPtsRate / MediaTime::kUnitsPerSecond;
// A seek point about every half second of sound.
constexpr int64_t kMarkSpacing = kPtsRate / 2;
// More jumps than this is not a joined file but a damaged one: it keeps its timestamps.
constexpr size_t kMaxCandidates = 10000;
// How far past a jump libavformat reads before it gives up finding it: a transport
// stream may carry a few hundred kilobytes of picture between two sound packets.
constexpr int kMaxPacketsPastJump = 64;
constexpr int64_t kMaxBytesPastJump = 8 << 20;
constexpr int kMaxBadReadsInRow = 64;
// A program stream has a header every few kilobytes and a transport stream one every
// 188 bytes. This much without one is not a damaged stretch but no stream at all (a
// hole of zeros, appended data): the walk ends there, and with it the restarts found.
constexpr int64_t kMaxBytesWithoutHeader = 1 << 20;

int64_t PtsAt(const uint8_t* p) {
    return (static_cast<int64_t>(p[0] & 0x0E) << 29) | (static_cast<int64_t>(p[1]) << 22) |
           (static_cast<int64_t>(p[2] & 0xFE) << 14) | (static_cast<int64_t>(p[3]) << 7) |
           (p[4] >> 1);
}

// The timestamp of a PES packet (MPEG-1 or MPEG-2 header) whose first avail bytes are at
// p, and where its payload starts; false when it has none.
bool PesTimestamp(const uint8_t* p, size_t avail, int64_t& pts, size_t& payload) {
    if (avail >= 9 && (p[6] & 0xC0) == 0x80) {
        payload = 9 + static_cast<size_t>(p[8]);
        if ((p[7] & 0x80) == 0 || avail < 14) {
            return false;
        }
        pts = PtsAt(p + 9);
        return true;
    }
    size_t i = 6;
    while (i < avail && i < 6 + 16 && p[i] == 0xFF) {
        ++i;  // stuffing
    }
    if (i < avail && (p[i] & 0xC0) == 0x40) {
        i += 2;  // buffer size
    }
    if (i + 5 > avail) {
        return false;
    }
    if ((p[i] & 0xE0) == 0x20) {
        pts = PtsAt(p + i);
        payload = i + ((p[i] & 0xF0) == 0x30 ? 10 : 5);
        return true;
    }
    return false;
}

}  // namespace

// Bytes of a file by position, read in large blocks as the walk goes forward. Read, not
// mapped: a file cut short while it is read must not end the program.
class TimelineScanner::FileWindow {
  public:
    FileWindow(int fd, const std::atomic<bool>* cancel)
        : m_fd(fd), m_cancel(cancel), m_buffer(kBlock) {}

    // Bytes pos .. pos + count - 1, or nullptr where the file ends before them or once
    // the scan is cancelled.
    const uint8_t* At(int64_t pos, size_t count) {
        if (pos >= m_start && pos + static_cast<int64_t>(count) <= m_start + m_length) {
            return m_buffer.data() + (pos - m_start);
        }
        if (Cancelled()) {
            m_length = 0;
            return nullptr;
        }
        m_start = pos;
        m_length = 0;
        while (m_length < static_cast<int64_t>(m_buffer.size())) {
            const ssize_t got =
                ::pread(m_fd, m_buffer.data() + m_length,
                        m_buffer.size() - static_cast<size_t>(m_length), pos + m_length);
            if (got <= 0) {
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                break;
            }
            m_length += got;
        }
        return static_cast<int64_t>(count) <= m_length ? m_buffer.data() : nullptr;
    }

    bool Cancelled() const { return m_cancel != nullptr && m_cancel->load(); }

  private:
    static constexpr size_t kBlock = 1 << 20;
    int m_fd;
    const std::atomic<bool>* m_cancel;
    std::vector<uint8_t> m_buffer;
    int64_t m_start = 0;
    int64_t m_length = 0;
};

TimelineScanner::TimelineScanner(std::string path, const AVFormatContext* fmt, int stream,
                                 int64_t origin, const std::atomic<bool>* cancel)
    : m_path(std::move(path)), m_cancel(cancel), m_origin(origin) {
    if (fmt == nullptr || fmt->iformat == nullptr || stream < 0 ||
        stream >= static_cast<int>(fmt->nb_streams)) {
        return;
    }
    const AVStream* st = fmt->streams[stream];
    const std::string name = fmt->iformat->name;
    m_format = fmt->iformat;
    m_nStreamId = st->id;
    m_tbNum = st->time_base.num;
    m_tbDen = st->time_base.den;
    if (name == "mpegts") {
        m_container = Container::Transport;
    } else if (name == "mpeg" &&
               ((m_nStreamId >= 0x1C0 && m_nStreamId <= 0x1FF) || m_nStreamId < 0x100)) {
        // MPEG audio has a PES stream id of its own; AC-3, DTS and LPCM are substreams of
        // private stream 1, named by its first payload byte.
        m_container = Container::Program;
    }
}

TimelineScanner::~TimelineScanner() {
    avformat_close_input(&m_demuxer);
}

MediaTimeline TimelineScanner::Scan() {
    const MediaTimeline identity(m_tbNum, m_tbDen, m_origin);
    if (m_container == Container::Other) {
        return identity;
    }
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return identity;
    }
    const bool walked = WalkHeaders(fd);
    ::close(fd);
    const bool cancelled = m_cancel != nullptr && m_cancel->load();
    if (!walked || cancelled || m_candidates.empty() || m_bTooMany || !OpenDemuxer()) {
        return identity;
    }
    PacketTime first;
    bool found = false;
    while (!found && ReadPacket(first, m_marks.front().pos + kMaxBytesPastJump)) {
        found = first.pts != AV_NOPTS_VALUE;
    }
    if (!found) {
        return identity;
    }
    std::vector<MediaTimeline::Segment> segments(1);
    segments[0].bytePos = 0;
    segments[0].firstPts = first.pts;
    for (const Candidate& c : m_candidates) {
        Restart r;
        if (!Confirm(c, r) || r.pos <= segments.back().bytePos) {
            continue;
        }
        segments.back().endPts = r.endPts;
        MediaTimeline::Segment next;
        next.bytePos = r.pos;
        next.firstPts = r.firstPts;
        segments.push_back(next);
    }
    if (segments.size() < 2 ||
        !LastEnd(std::max(segments.back().bytePos, OldestRecent()), segments.back().endPts)) {
        return identity;
    }
    const MediaTimeline joined(m_tbNum, m_tbDen, m_origin, segments, {}, m_fileSize);
    return MediaTimeline(m_tbNum, m_tbDen, m_origin, segments, SeekPointsOf(joined), m_fileSize);
}

bool TimelineScanner::WalkHeaders(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    m_fileSize = st.st_size;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    FileWindow file(fd, m_cancel);
    if (m_container == Container::Program) {
        WalkProgramStream(file);
    } else {
        WalkTransportStream(file);
    }
    return !file.Cancelled();
}

void TimelineScanner::WalkProgramStream(FileWindow& file) {
    const bool substream = m_nStreamId < 0x100;
    const int code = substream ? 0xBD : (m_nStreamId & 0xFF);
    int64_t pos = 0;
    int64_t lastHeader = 0;
    while (!m_bTooMany) {
        const uint8_t* p = file.At(pos, 6);
        if (p == nullptr) {
            break;
        }
        if (p[0] != 0 || p[1] != 0 || p[2] != 1 || p[3] < 0xB9) {
            if (++pos - lastHeader > kMaxBytesWithoutHeader) {
                break;
            }
            continue;  // not at a header: look for the next one
        }
        lastHeader = pos;
        if (p[3] == 0xBA) {  // pack header, MPEG-2 or MPEG-1
            const uint8_t* h = file.At(pos, 14);
            if (h != nullptr && (h[4] & 0xC0) == 0x40) {
                pos += 14 + (h[13] & 7);
            } else {
                pos += (p[4] & 0xF0) == 0x20 ? 12 : 4;
            }
            continue;
        }
        if (p[3] == 0xB9) {  // end code
            pos += 4;
            continue;
        }
        const size_t length = static_cast<size_t>(p[4]) << 8 | p[5];
        if (p[3] == code) {
            const size_t avail = std::min<size_t>(6 + length, 64);
            const uint8_t* h = file.At(pos, avail);
            int64_t pts = 0;
            size_t payload = 0;
            if (h != nullptr && PesTimestamp(h, avail, pts, payload) &&
                (!substream || (payload < avail && h[payload] == m_nStreamId))) {
                OnPes(pos, pts);
            }
        }
        pos += 6 + static_cast<int64_t>(length);
    }
}

void TimelineScanner::WalkTransportStream(FileWindow& file) {
    // 188-byte packets, 192 with a timecode before each (Blu-ray, camcorders), 204 with
    // error correction after each: the size that keeps the sync bytes in step.
    int size = 0;
    int64_t pos = 0;
    for (int candidate : {188, 192, 204}) {
        for (int64_t start = 0; start < candidate && size == 0; ++start) {
            const uint8_t* p = file.At(start, static_cast<size_t>(candidate) * 7 + 1);
            bool inStep = p != nullptr;
            for (int i = 0; inStep && i < 8; ++i) {
                inStep = p[static_cast<size_t>(i) * candidate] == 0x47;
            }
            if (inStep) {
                size = candidate;
                pos = start;
            }
        }
        if (size != 0) {
            break;
        }
    }
    if (size == 0) {
        return;
    }
    int64_t lastHeader = pos;
    while (!m_bTooMany) {
        const uint8_t* p = file.At(pos, 188);
        if (p == nullptr) {
            break;
        }
        if (p[0] != 0x47) {
            if (++pos - lastHeader > kMaxBytesWithoutHeader) {
                break;
            }
            continue;  // lost step: find the next sync byte
        }
        lastHeader = pos;
        const int pid = (p[1] & 0x1F) << 8 | p[2];
        const bool unitStart = (p[1] & 0x40) != 0;
        const bool error = (p[1] & 0x80) != 0;
        const int control = (p[3] >> 4) & 3;
        if (pid == m_nStreamId && unitStart && !error && (control & 1) != 0) {
            const size_t payload = (control & 2) != 0 ? 5 + static_cast<size_t>(p[4]) : 4;
            int64_t pts = 0;
            size_t ignored = 0;
            if (payload + 14 <= 188 && p[payload] == 0 && p[payload + 1] == 0 &&
                p[payload + 2] == 1 && PesTimestamp(p + payload, 188 - payload, pts, ignored)) {
                OnPes(pos, pts);
            }
        }
        pos += size;
    }
}

void TimelineScanner::OnPes(int64_t pos, int64_t pts) {
    const int64_t delta = pts - m_prevPts;
    if (m_bHavePrev && (delta < 0 || delta > kForwardGapTicks)) {
        if (m_candidates.size() >= kMaxCandidates) {
            m_bTooMany = true;
            return;
        }
        // Read from a few packets back, so that the frames before the jump are whole.
        m_candidates.push_back({OldestRecent(), pos});
        m_marks.push_back({pos, pts});
        m_lastMarkPts = pts;
    } else if (!m_bHavePrev || pts - m_lastMarkPts >= kMarkSpacing) {
        m_marks.push_back({pos, pts});
        m_lastMarkPts = pts;
    }
    m_bHavePrev = true;
    m_prevPts = pts;
    // m_recent[0] is the latest, m_recent[3] the oldest of the last four.
    std::memmove(m_recent + 1, m_recent, 3 * sizeof m_recent[0]);
    m_recent[0] = pos;
    ++m_nRecent;
}

int64_t TimelineScanner::OldestRecent() const {
    return m_nRecent == 0 ? 0 : m_recent[std::min(m_nRecent, 4) - 1];
}

int TimelineScanner::StopReading(void* opaque) {
    const auto* cancel = static_cast<const std::atomic<bool>*>(opaque);
    return cancel != nullptr && cancel->load() ? 1 : 0;
}

bool TimelineScanner::OpenDemuxer() {
    m_demuxer = avformat_alloc_context();
    if (m_demuxer == nullptr) {
        return false;
    }
    m_demuxer->interrupt_callback.callback = &StopReading;
    m_demuxer->interrupt_callback.opaque = const_cast<std::atomic<bool>*>(m_cancel);
    // The caller's demuxer, on the local file only: nothing is probed or opened anew.
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = "file:" + m_path;
    // On failure avformat_open_input frees the context and nulls the pointer.
    const int r = avformat_open_input(&m_demuxer, url.c_str(), m_format, &options);
    av_dict_free(&options);
    return r >= 0;
}

bool TimelineScanner::ReadPacket(PacketTime& packet, int64_t limit) {
    AVPacket* pkt = av_packet_alloc();
    if (pkt == nullptr) {
        return false;
    }
    int bad = 0;
    bool got = false;
    for (;;) {
        const int r = av_read_frame(m_demuxer, pkt);
        // Streams appear as the demuxer meets them: all but the one followed are skipped
        // from then on.
        for (; m_nStreamsSeen < m_demuxer->nb_streams; ++m_nStreamsSeen) {
            AVStream* st = m_demuxer->streams[m_nStreamsSeen];
            if (st->id == m_nStreamId && st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO &&
                m_nDemuxerStream < 0) {
                m_nDemuxerStream = static_cast<int>(m_nStreamsSeen);
            } else {
                st->discard = AVDISCARD_ALL;
            }
        }
        if (r < 0) {
            if (r == AVERROR_INVALIDDATA && ++bad < kMaxBadReadsInRow) {
                continue;
            }
            break;
        }
        bad = 0;
        if (avio_tell(m_demuxer->pb) > limit) {
            break;
        }
        if (pkt->stream_index == m_nDemuxerStream) {
            packet.pos = pkt->pos;
            packet.pts = pkt->pts;
            packet.duration = pkt->duration;
            got = true;
            break;
        }
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    return got;
}

bool TimelineScanner::SeekToByte(int64_t pos) {
    return avformat_seek_file(m_demuxer, -1, INT64_MIN, pos, INT64_MAX, AVSEEK_FLAG_BYTE) >= 0;
}

bool TimelineScanner::Confirm(const Candidate& candidate, Restart& restart) {
    if (!SeekToByte(candidate.fromPos)) {
        return false;
    }
    int64_t expected = AV_NOPTS_VALUE;
    int64_t lastStep = 0;
    int past = 0;
    PacketTime p;
    while (ReadPacket(p, candidate.pos + kMaxBytesPastJump)) {
        const bool beyond = p.pos >= 0 && p.pos >= candidate.pos;
        if (p.pts != AV_NOPTS_VALUE) {
            // A restart before the candidate's (two jumps close together) is not its own.
            if (expected != AV_NOPTS_VALUE && (p.pos < 0 || p.pos >= candidate.pos) &&
                MediaTimeline::IsRestart(expected, p.pts, m_tbNum, m_tbDen)) {
                restart.pos = p.pos >= 0 ? p.pos : candidate.pos;
                restart.endPts = expected;
                restart.firstPts = p.pts;
                return true;
            }
            const int64_t step = p.duration > 0 ? p.duration : lastStep;
            lastStep = step;
            expected = p.pts + step;
        }
        if (beyond && ++past > kMaxPacketsPastJump) {
            break;
        }
    }
    return false;
}

bool TimelineScanner::LastEnd(int64_t fromPos, int64_t& endPts) {
    if (!SeekToByte(fromPos)) {
        return false;
    }
    int64_t lastStep = 0;
    bool found = false;
    PacketTime p;
    while (ReadPacket(p)) {
        if (p.pts == AV_NOPTS_VALUE) {
            continue;
        }
        lastStep = p.duration > 0 ? p.duration : lastStep;
        endPts = p.pts + lastStep;
        found = true;
    }
    return found;
}

std::vector<MediaTimeline::SeekPoint> TimelineScanner::SeekPointsOf(
    const MediaTimeline& timeline) const {
    std::vector<MediaTimeline::SeekPoint> points;
    const std::vector<MediaTimeline::Segment>& segments = timeline.Segments();
    for (const MediaTimeline::Segment& s : segments) {
        points.push_back({s.bytePos, s.mediaStart});
    }
    for (const PesTime& mark : m_marks) {
        const int k = timeline.SegmentAt(mark.pos);
        const MediaTimeline::Segment& s = segments[k];
        // The header holds 33 bits; libavformat's timestamps may count past a wrap.
        int64_t into = ((mark.pts - s.firstPts) % kPtsWrap + kPtsWrap) % kPtsWrap;
        if (into > kPtsWrap / 2) {
            into -= kPtsWrap;
        }
        if (mark.pos > s.bytePos && into >= 0) {
            points.push_back({mark.pos, timeline.MediaTimeOf(k, s.firstPts + into)});
        }
    }
    return points;
}
