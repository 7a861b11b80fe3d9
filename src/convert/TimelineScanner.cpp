#include "TimelineScanner.h"

#include <algorithm>
#include <cstring>

#include "LibavLimits.h"
#include "MediaTime.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

constexpr int64_t kPtsWrap = MpegPacketReader::kClockWrap;
constexpr int64_t kPtsRate = MpegPacketReader::kClockRate;
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

}  // namespace

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
    if (m_container == Container::Unknown) {
        return identity;
    }
    const bool walked = WalkHeaders();
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

bool TimelineScanner::WalkHeaders() {
    MpegPacketReader file(MpegPacketReader::Access::Sequential, m_cancel);
    if (!file.Open(m_path, m_container)) {
        return false;
    }
    m_fileSize = file.Size();
    const MpegPacketReader::Stream stream =
        MpegPacketReader::StreamOfLibavId(m_container, m_nStreamId);
    PesTime pes;
    while (!m_bTooMany && file.NextPes(stream, pes)) {
        OnPes(pes.pos, pes.pts);
    }
    return !file.Cancelled();
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
            if (r == AVERROR_INVALIDDATA && ++bad < LibavLimits::kMaxBadReadsInRow) {
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
